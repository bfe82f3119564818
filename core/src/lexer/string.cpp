#include <bit>
#include <cstring>
#include <span>

#include "lexer/identifier.h"
#include "lexer/lexer.h"

namespace quendal::lexer {

namespace {

StringFragment text_fragment(std::size_t start, std::size_t end) {
  StringFragment f;
  f.kind = StringFragment::Kind::Text;
  f.start = static_cast<std::uint32_t>(start);
  f.end = static_cast<std::uint32_t>(end);
  return f;
}

// `start`..`end`: the sequence as written after the backslash.
StringFragment escape_fragment(std::size_t start, std::size_t end, char32_t character) {
  StringFragment f;
  f.kind = StringFragment::Kind::Escape;
  f.start = static_cast<std::uint32_t>(start);
  f.end = static_cast<std::uint32_t>(end);
  f.value = static_cast<std::uint32_t>(character);
  return f;
}

StringFragment error_fragment(std::size_t start, std::size_t end, DiagnosticCode code) {
  StringFragment f;
  f.kind = StringFragment::Kind::Error;
  f.start = static_cast<std::uint32_t>(start);
  f.end = static_cast<std::uint32_t>(end);
  f.code = code;
  return f;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// escape -> simple | "x" hex hex | "u{" hex+ "}" ; the position is just after
// the backslash, with at least one character left.
[[gnu::noinline]] StringFragment escape(Lexer& lx) {
  const std::string_view s = lx.source;
  const std::size_t p = lx.pos;
  char32_t simple = 0;
  bool is_simple = true;
  switch (s[p]) {
    case 'n':
      simple = U'\n';
      break;
    case 'r':
      simple = U'\r';
      break;
    case 't':
      simple = U'\t';
      break;
    case 'b':
      simple = U'\b';
      break;
    case 'f':
      simple = U'\f';
      break;
    case 'v':
      simple = U'\v';
      break;
    case '0':
      simple = U'\0';
      break;
    case '"':
      simple = U'"';
      break;
    case '\'':
      simple = U'\'';
      break;
    case '`':
      simple = U'`';
      break;
    case '\\':
      simple = U'\\';
      break;
    case '$':
      simple = U'$';
      break;
    default:
      is_simple = false;
      break;
  }
  if (is_simple) {
    lx.pos = p + 1;
    return escape_fragment(p, p + 1, simple);
  }
  if (s[p] == 'x' && p + 2 < s.size() && hex_value(s[p + 1]) >= 0 && hex_value(s[p + 2]) >= 0) {
    const char32_t value = static_cast<char32_t>(hex_value(s[p + 1]) * 16 + hex_value(s[p + 2]));
    lx.pos = p + 3;
    if (value >= 0x80) return error_fragment(p, p + 3, DiagnosticCode::InvalidHexEscapeSequence);
    return escape_fragment(p, p + 3, value);
  }
  if (s[p] == 'u' && p + 1 < s.size() && s[p + 1] == '{') {
    std::size_t q = p + 2;
    std::uint64_t value = 0;
    while (q < s.size() && hex_value(s[q]) >= 0) {
      // Saturate: anything past 32 bits is invalid anyway.
      if (value <= 0xFFFFFFFFu) value = value * 16 + static_cast<unsigned>(hex_value(s[q]));
      ++q;
    }
    if (q > p + 2 && q < s.size() && s[q] == '}') {
      lx.pos = q + 1;
      if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return error_fragment(p, q + 1, DiagnosticCode::InvalidUnicodeEscapeSequence);
      }
      return escape_fragment(p, q + 1, static_cast<char32_t>(value));
    }
  }
  // Anything else: the backslash and the one character after it.
  const std::size_t length = utf8_length_at(s, p);
  lx.pos = p + length;
  return error_fragment(p, p + length, DiagnosticCode::InvalidEscapeSequence);
}

struct Stops {
  char a, b, c;
};

// The first stop character at or after `p`, or `n`: eight bytes at a time
// while eight are left (a byte equal to a stop has a zero in the word xored
// with that stop; the lowest flagged byte is exact), then byte by byte.
std::size_t text_end(const char* s, std::size_t n, std::size_t p, Stops stops) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  auto zero_bytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  const std::uint64_t a = kOnes * static_cast<unsigned char>(stops.a);
  const std::uint64_t b = kOnes * static_cast<unsigned char>(stops.b);
  const std::uint64_t c = kOnes * static_cast<unsigned char>(stops.c);
  while (p + 8 <= n) {
    std::uint64_t w;
    std::memcpy(&w, s + p, 8);
    const std::uint64_t found = zero_bytes(w ^ a) | zero_bytes(w ^ b) | zero_bytes(w ^ c);
    if (found != 0) return p + (static_cast<std::size_t>(std::countr_zero(found)) >> 3);
    p += 8;
  }
  while (p < n && s[p] != stops.a && s[p] != stops.b && s[p] != stops.c) ++p;
  return p;
}

struct DepthGuard {
  explicit DepthGuard(Lexer& lx) : lx(lx) { ++lx.depth; }
  ~DepthGuard() { --lx.depth; }
  Lexer& lx;
};

// An Interpolation fragment over the opener [dollar_start, dollar_end).
StringFragment interpolation_fragment(Lexer& lx, StringInterpolation interpolation) {
  auto& table = lx.out.interpolations();
  StringFragment f;
  f.kind = StringFragment::Kind::Interpolation;
  f.start = interpolation.dollar_start;
  f.end = interpolation.dollar_end;
  f.value = static_cast<std::uint32_t>(table.size());
  table.push_back(interpolation);
  return f;
}

// format_string -> text up to the `)` that closes the interpolation
void format_string(Lexer& lx, StringInterpolation& interpolation) {
  const std::string_view s = lx.source;
  const std::size_t start = lx.pos;
  std::size_t p = start;
  int depth = 0;
  bool in_brackets = false;
  while (p < s.size()) {
    const char c = s[p];
    if (c == '\\') {
      ++p;
      if (p < s.size()) p += utf8_length_at(s, p);
      continue;
    }
    if (c == '[') {
      in_brackets = true;
    } else if (c == ']') {
      in_brackets = false;
    } else if (!in_brackets && c == '(') {
      ++depth;
    } else if (!in_brackets && c == ')') {
      if (depth == 0) break;
      --depth;
    }
    ++p;
  }
  lx.pos = p;
  interpolation.format_start = static_cast<std::uint32_t>(start);
  interpolation.format_end = static_cast<std::uint32_t>(p);
}

// Moves an interpolation's list (from `first` on) to the lists of the store.
TokenRange flush_list(Lexer& lx, std::span<const ListToken> list, std::size_t first) {
  TokenColumns& nested = lx.nested;
  const TokenIndex begin = nested.size();
  for (std::size_t k = first; k < list.size(); ++k) {
    const ListToken& t = list[k];
    const TokenIndex index = nested.size();
    nested.push(t.tag, t.start, t.end - t.start, t.data);
    if (t.end - t.start >= TokenColumns::kLongLength) lx.nested_long_ends.emplace_back(index, t.end);
    if (t.diag_count != 0) lx.nested_wrapped.push_back({index, t.diag_first, t.diag_count});
  }
  return TokenRange{begin, nested.size()};
}

// Lexes the next token of an interpolation's list, with the keyword
// adjustment applied to the token before it. False when the token is the
// Empty of a `not in` merge (it is not kept).
bool list_token(Lexer& lx, std::vector<ListToken>& list, ListToken& t) {
  skip_trivia(lx);
  ListToken* previous = list.empty() ? nullptr : &list.back();
  const bool after_dot = previous != nullptr && previous->tag == TokenTag::Operator &&
                         previous->data == static_cast<std::uint32_t>(Operator::Dot);
  Lexed lexed = token(lx, after_dot, t.start, t.end);
  if (previous != nullptr && previous->tag == TokenTag::Keyword && previous->diag_count == 0)
    adjust_keyword(lx, previous->tag, previous->data, previous->end, lexed, t.start, t.end);
  t.tag = lexed.tag;
  t.data = lexed.data;
  t.diag_first = lexed.diag_first;
  t.diag_count = lexed.diag_count;
  return !(t.tag == TokenTag::Empty && t.diag_count == 0);
}

bool is_operator(const ListToken& t, Operator op) {
  return t.tag == TokenTag::Operator && t.data == static_cast<std::uint32_t>(op);
}

Delimiter delimiter_of(const ListToken& t) {
  Delimiter d;
  d.tag = t.tag;
  if (t.tag == TokenTag::Operator) d.op = static_cast<Operator>(t.data);
  d.start = t.start;
  d.end = t.end;
  return d;
}

// The usual interpolation, `$(name)` or `$(name:format)`: a name of ASCII
// letters, digits and "_" that is no keyword, directly between the "(" and a
// ")" or a ":" (not "::"). Puts the tokens the general loop would make for it
// into `list`, up to and including the ")" or ":", and returns true;
// `has_format` tells which. Anything else: false, the position unchanged.
bool simple_interpolation(Lexer& lx, std::vector<ListToken>& list, bool& has_format) {
  const char* s = lx.src;
  const std::size_t size = lx.size;
  const std::size_t open = lx.pos;  // at "("
  std::size_t q = open + 1;
  if (q >= size) return false;
  auto c = static_cast<unsigned char>(s[q]);
  if (c >= 0x80 || (kAsciiIdentifier[c] & 1) == 0) return false;
  do ++q;
  while (q < size && (c = static_cast<unsigned char>(s[q])) < 0x80 && (kAsciiIdentifier[c] & 2) != 0);
  if (q >= size) return false;
  const char close = s[q];
  if (close == ':') {
    if (q + 1 < size && s[q + 1] == ':') return false;
  } else if (close != ')') {
    return false;
  }
  lx.pos = open + 1;
  const Lexed name = identifier(lx, true);
  if (name.tag != TokenTag::Identifier) {
    // A keyword: the token after it decides what it is.
    lx.pos = open;
    return false;
  }
  const auto at = [](std::size_t offset) { return static_cast<std::uint32_t>(offset); };
  const Operator last = close == ':' ? Operator::Colon : Operator::CloseParen;
  list.push_back(ListToken{TokenTag::Operator, static_cast<std::uint32_t>(Operator::OpenParen), at(open),
                           at(open + 1), 0, 0});
  list.push_back(ListToken{TokenTag::Identifier, name.data, at(open + 1), at(q), 0, 0});
  list.push_back(ListToken{TokenTag::Operator, static_cast<std::uint32_t>(last), at(q), at(q + 1), 0, 0});
  lx.pos = q + 1;
  has_format = close == ':';
  return true;
}

// interpolation -> "(" tokens [":" format] ")"
[[gnu::noinline]] StringFragment parenthesised_interpolation(Lexer& lx, std::size_t dollar,
                                                             std::size_t dollar_end) {
  std::vector<ListToken>& list = lx.list_at(lx.depth);
  list.clear();
  StringInterpolation interpolation;
  interpolation.dollar_start = static_cast<std::uint32_t>(dollar);
  interpolation.dollar_end = static_cast<std::uint32_t>(dollar_end);
  int parens = 0, braces = 0;
  bool has_format = false;
  const bool simple = simple_interpolation(lx, list, has_format);
  while (!simple) {
    ListToken t;
    const bool kept = list_token(lx, list, t);
    if (t.tag == TokenTag::Eof) {
      list.push_back(t);
      break;
    }
    if (t.tag == TokenTag::Operator) {
      switch (static_cast<Operator>(t.data)) {
        case Operator::OpenParen:
          ++parens;
          break;
        case Operator::CloseParen:
          --parens;
          break;
        case Operator::OpenBrace:
          ++braces;
          break;
        case Operator::CloseBrace:
          --braces;
          break;
        default:
          break;
      }
    }
    if (parens < 1) {
      list.push_back(t);
      break;
    }
    if (parens == 1 && braces == 0 && is_operator(t, Operator::Colon)) {
      list.push_back(t);
      has_format = true;
      break;
    }
    if (kept) list.push_back(t);
  }

  interpolation.has_delimiters = true;
  if (has_format) {
    list.pop_back();
    format_string(lx, interpolation);
    skip_blanks(lx);
    ListToken close{};
    const Lexed lexed = token(lx, false, close.start, close.end);
    close.tag = lexed.tag;
    close.data = lexed.data;
    interpolation.close = delimiter_of(close);
  } else if (is_operator(list.back(), Operator::CloseParen)) {
    interpolation.close = delimiter_of(list.back());
    list.pop_back();
  } else {
    const std::uint32_t end = list.back().end;
    interpolation.close = Delimiter{TokenTag::Empty, Operator::OpenParen, end, end};
  }
  interpolation.open = delimiter_of(list.front());
  if (list.size() == 1) {
    const std::uint32_t at = list.front().end;
    list.push_back(ListToken{TokenTag::Empty, 0, at, at, 0, 0});
  }
  interpolation.tokens = flush_list(lx, list, 1);
  return interpolation_fragment(lx, interpolation);
}

// interpolation -> "{" tokens "}" (the braces stay in the tokens)
[[gnu::noinline]] StringFragment braced_interpolation(Lexer& lx, std::size_t dollar, std::size_t dollar_end) {
  std::vector<ListToken>& list = lx.list_at(lx.depth);
  list.clear();
  int braces = 0;
  for (;;) {
    ListToken t;
    const bool kept = list_token(lx, list, t);
    if (t.tag == TokenTag::Eof) {
      list.push_back(t);
      break;
    }
    if (is_operator(t, Operator::OpenBrace)) ++braces;
    if (is_operator(t, Operator::CloseBrace)) --braces;
    if (braces > 0) {
      if (kept) list.push_back(t);
      continue;
    }
    list.push_back(t);
    break;
  }
  StringInterpolation interpolation;
  interpolation.dollar_start = static_cast<std::uint32_t>(dollar);
  interpolation.dollar_end = static_cast<std::uint32_t>(dollar_end);
  interpolation.tokens = flush_list(lx, list, 0);
  return interpolation_fragment(lx, interpolation);
}

// interpolation -> name ; a keyword that is not a constant stands for nil
[[gnu::noinline]] StringFragment name_interpolation(Lexer& lx, std::size_t dollar, std::size_t dollar_end) {
  const std::uint32_t start = lx.offset();
  Lexed kind = identifier(lx, true);
  const std::uint32_t end = lx.offset();
  if (kind.tag == TokenTag::Keyword && !keyword_is_constant(static_cast<Keyword>(kind.data))) {
    const DiagnosticCode code = keyword_is_reserved(static_cast<Keyword>(kind.data))
                                    ? DiagnosticCode::InvalidReservedKeyword
                                    : DiagnosticCode::InvalidKeyword;
    kind.data = static_cast<std::uint32_t>(Keyword::Nil);
    kind.diag_first = lx.diagnostic(start, end, code, 0);
    kind.diag_count = 1;
  }
  const ListToken name{kind.tag, kind.data, start, end, kind.diag_first, kind.diag_count};
  StringInterpolation interpolation;
  interpolation.dollar_start = static_cast<std::uint32_t>(dollar);
  interpolation.dollar_end = static_cast<std::uint32_t>(dollar_end);
  interpolation.tokens = flush_list(lx, std::span<const ListToken>(&name, 1), 0);
  return interpolation_fragment(lx, interpolation);
}

// The position is just after the opener [dollar, position). Kept apart from
// the helpers above so that the frames on the recursive path
// (string_content, interpolation, token) stay small: that path is taken once
// per nesting level.
StringFragment interpolation(Lexer& lx, std::size_t dollar) {
  const std::size_t dollar_end = lx.pos;
  const int c = lx.peek();
  if (c == '(' || c == '{') {
    if (lx.depth >= kMaxInterpolationDepth) {
      lx.fail();
      return text_fragment(dollar, dollar_end);
    }
    DepthGuard guard(lx);
    return c == '(' ? parenthesised_interpolation(lx, dollar, dollar_end)
                    : braced_interpolation(lx, dollar, dollar_end);
  }
  if (at_identifier_start(lx)) return name_interpolation(lx, dollar, dollar_end);
  return text_fragment(dollar, dollar_end);
}

// The text of the fragments [first, last): Text runs and decoded escapes.
// A single Text fragment is borrowed; anything else is assembled in the arena.
std::string_view join_fragments(Lexer& lx, const StringFragment* fragments, std::size_t first,
                                std::size_t last, bool& owned) {
  const char* s = lx.src;
  owned = false;
  if (last == first + 1 && fragments[first].kind == StringFragment::Kind::Text)
    return std::string_view(s + fragments[first].start, fragments[first].end - fragments[first].start);
  std::size_t size = 0;
  for (std::size_t i = first; i < last; ++i) {
    const StringFragment& f = fragments[i];
    if (f.kind == StringFragment::Kind::Text) size += f.end - f.start;
    if (f.kind == StringFragment::Kind::Escape) size += utf8_size(f.character());
  }
  owned = true;
  if (size == 0) return {};
  char* out = static_cast<char*>(lx.arena.allocate_bytes(size, 1));
  std::size_t n = 0;
  for (std::size_t i = first; i < last; ++i) {
    const StringFragment& f = fragments[i];
    if (f.kind == StringFragment::Kind::Text) {
      std::memcpy(out + n, s + f.start, f.end - f.start);
      n += f.end - f.start;
    } else if (f.kind == StringFragment::Kind::Escape) {
      n += encode_utf8(f.character(), out + n);
    }
  }
  return {out, n};
}

[[gnu::noinline]] Lexed finish(Lexer& lx, StringInfo& info, std::size_t base, bool unterminated) {
  auto& stack = lx.fragment_stack;
  auto& table = lx.out.fragments();
  info.first_fragment = static_cast<std::uint32_t>(table.size());
  info.fragment_count = static_cast<std::uint32_t>(stack.size() - base);
  table.insert(table.end(), stack.begin() + static_cast<std::ptrdiff_t>(base), stack.end());
  stack.resize(base);
  const StringFragment* fragments = table.data() + info.first_fragment;
  const std::size_t count = info.fragment_count;

  std::size_t errors = 0, interpolations = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (fragments[i].kind == StringFragment::Kind::Error) ++errors;
    if (fragments[i].kind == StringFragment::Kind::Interpolation) ++interpolations;
  }

  Lexed result;
  if (!unterminated && count == 1 && fragments[0].kind == StringFragment::Kind::Text) {
    result.tag = TokenTag::String;
    info.value = std::string_view(lx.src + fragments[0].start, fragments[0].end - fragments[0].start);
  } else if (interpolations == 0) {
    bool owned;
    const std::string_view value = join_fragments(lx, fragments, 0, count, owned);
    result.tag = TokenTag::String;
    info.value = owned ? value : lx.arena.copy(value);
    info.value_owned = true;
  } else {
    result.tag = TokenTag::InterpolatedString;
    auto& parts = lx.out.parts();
    auto& table_of_interpolations = lx.out.interpolations();
    info.first_part = static_cast<std::uint32_t>(parts.size());
    std::size_t run = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (fragments[i].kind != StringFragment::Kind::Interpolation) continue;
      bool owned;
      const std::string_view text = join_fragments(lx, fragments, run, i, owned);
      StringInterpolation& interpolation = table_of_interpolations[fragments[i].value];
      const std::string_view format(lx.src + interpolation.format_start,
                                    interpolation.format_end - interpolation.format_start);
      parts.push_back(StringPart{text, interpolation.tokens, format, owned});
      interpolation.tokens = TokenRange{};
      run = i + 1;
    }
    bool owned;
    const std::string_view text = join_fragments(lx, fragments, run, count, owned);
    parts.push_back(StringPart{text, TokenRange{}, {}, owned});
    info.part_count = static_cast<std::uint32_t>(parts.size() - info.first_part);
  }

  if (unterminated || errors > 0) {
    const auto end = static_cast<std::uint32_t>(lx.size);
    std::uint32_t first = 0;
    bool any = false;
    auto add = [&](std::uint32_t start, std::uint32_t stop, DiagnosticCode code) {
      const std::uint32_t index = lx.diagnostic(start, stop, code, 0);
      if (!any) first = index;
      any = true;
    };
    if (unterminated) add(end, end, DiagnosticCode::UnterminatedString);
    for (std::size_t i = 0; i < count; ++i) {
      const StringFragment& f = fragments[i];
      if (f.kind == StringFragment::Kind::Error) add(f.start - 1u, f.end, f.code);
    }
    result.diag_first = first;
    result.diag_count = static_cast<std::uint32_t>(errors + (unterminated ? 1 : 0));
  }

  auto& strings = lx.out.strings();
  result.data = static_cast<std::uint32_t>(strings.size());
  strings.push_back(info);
  return result;
}

}  // namespace

// string -> "@"* quote content quote "@"*
bool string(Lexer& lx, Lexed& result) {
  const char* s = lx.src;
  const std::size_t start = lx.pos;
  std::size_t p = start;
  while (p < lx.size && s[p] == '@') ++p;
  if (p >= lx.size || !is_quote(s[p])) return false;
  StringInfo info;
  info.open_start = static_cast<std::uint32_t>(start);
  info.open_end = static_cast<std::uint32_t>(p + 1);
  info.raw_level = static_cast<std::uint32_t>(p - start);
  info.quote = s[p];
  lx.pos = p + 1;
  result = string_content(lx, info);
  return true;
}

Lexed string_content(Lexer& lx, StringInfo info) {
  const char* s = lx.src;
  const std::size_t n = lx.size;
  const std::size_t raw = info.raw_level;
  const bool quoted = info.quote != 0;
  const char quote = info.quote;
  // Entries pushed by nested literals are gone again before each push here,
  // so no reference into the stack is kept across a nested call.
  auto& fragments = lx.fragment_stack;
  const std::size_t base = fragments.size();
  bool unterminated = false;
  // What ends a run of text: `$`, the literal's own quote, and the backslash
  // when escapes are read (a stop that does not apply repeats `$`).
  const Stops stops{'$', quoted ? quote : '$', raw == 0 ? '\\' : '$'};
  for (;;) {
    // A run of text up to the next stop character.
    const std::size_t from = lx.pos;
    const std::size_t p = text_end(s, n, from, stops);
    if (p > from) {
      fragments.push_back(text_fragment(from, p));
      lx.pos = p;
      continue;
    }
    if (p >= n) {
      unterminated = quoted;
      break;
    }
    const char c = s[p];
    if (c == '\\') {
      lx.pos = p + 1;
      if (lx.at_end()) continue;  // unterminated
      const StringFragment f = escape(lx);
      fragments.push_back(f);
      continue;
    }
    if (c == '$') {
      const std::size_t want = raw == 0 ? 1 : raw;
      std::size_t k = 0;
      while (k < want && p + k < n && s[p + k] == '$') ++k;
      lx.pos = p + k;
      if (k == want) {
        const StringFragment f = interpolation(lx, p);
        fragments.push_back(f);
      } else {
        fragments.push_back(text_fragment(p, p + k));
      }
      continue;
    }
    // The quote, and the `@` run that has to follow it.
    std::size_t q = p + 1;
    std::size_t k = 0;
    while (k < raw && q < n && s[q] == '@') ++q, ++k;
    lx.pos = q;
    if (k == raw) {
      info.close_start = static_cast<std::uint32_t>(p);
      info.close_end = static_cast<std::uint32_t>(q);
      break;
    }
    fragments.push_back(text_fragment(p, q));
  }
  return finish(lx, info, base, unterminated);
}

}  // namespace quendal::lexer
