#include <cstring>

#include "lexer/identifier.h"
#include "lexer/lexer.h"

namespace quendal::lexer {

namespace {

StringFragment text_fragment(std::string_view text) {
  StringFragment f;
  f.kind = StringFragment::Kind::Text;
  f.text = text;
  return f;
}

StringFragment escape_fragment(std::string_view written, char32_t character) {
  StringFragment f;
  f.kind = StringFragment::Kind::Escape;
  f.text = written;
  f.character = character;
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
    return escape_fragment(s.substr(p, 1), simple);
  }
  if (s[p] == 'x' && p + 2 < s.size() && hex_value(s[p + 1]) >= 0 && hex_value(s[p + 2]) >= 0) {
    const char32_t value = static_cast<char32_t>(hex_value(s[p + 1]) * 16 + hex_value(s[p + 2]));
    lx.pos = p + 3;
    if (value >= 0x80) return error_fragment(p, p + 3, DiagnosticCode::InvalidHexEscapeSequence);
    return escape_fragment(s.substr(p, 3), value);
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
      return escape_fragment(s.substr(p, q + 1 - p), static_cast<char32_t>(value));
    }
  }
  // Anything else: the backslash and the one character after it.
  const std::size_t length = utf8_length_at(s, p);
  lx.pos = p + length;
  return error_fragment(p, p + length, DiagnosticCode::InvalidEscapeSequence);
}

struct DepthGuard {
  explicit DepthGuard(Lexer& lx) : lx(lx) { ++lx.depth; }
  ~DepthGuard() { --lx.depth; }
  Lexer& lx;
};

StringFragment interpolation_fragment(Arena& arena, TokenList* tokens, std::string_view dollar,
                                      std::string_view format, TokenPair* delimiters) {
  StringFragment f;
  f.kind = StringFragment::Kind::Interpolation;
  f.interpolation = arena.make<StringInterpolation>(StringInterpolation{tokens, dollar, format, delimiters});
  return f;
}

// format_string -> text up to the `)` that closes the interpolation
std::string_view format_string(Lexer& lx) {
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
  return s.substr(start, p - start);
}

// interpolation -> "(" tokens [":" format] ")"
[[gnu::noinline]] StringFragment parenthesised_interpolation(Lexer& lx, std::string_view dollar) {
  Arena& arena = lx.arena;
  TokenList* tokens = arena.make<TokenList>(&arena);
  int parens = 0, braces = 0;
  bool has_format = false;
  for (;;) {
    skip_leading_trivia(lx);
    Token t = token(lx, tokens->empty() ? nullptr : &tokens->back());
    if (t.kind.is_eof()) {
      tokens->push_back(t);
      break;
    }
    if (t.kind.tag == TokenTag::Operator) {
      switch (t.kind.op) {
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
      tokens->push_back(t);
      break;
    }
    if (parens == 1 && braces == 0 && t.kind.is_operator(Operator::Colon)) {
      tokens->push_back(t);
      has_format = true;
      break;
    }
    tailing_trivia(lx);
    if (t.kind.tag != TokenTag::Empty) tokens->push_back(t);
  }

  std::string_view format;
  Token close;
  if (has_format) {
    tokens->pop_back();
    format = format_string(lx);
    skip_blanks(lx);
    close = token(lx, nullptr);
  } else if (tokens->back().kind.is_operator(Operator::CloseParen)) {
    close = tokens->back();
    tokens->pop_back();
  } else {
    const std::uint32_t end = tokens->back().end;
    close = Token{TokenKind::empty(), end, end};
  }
  const Token open = tokens->front();
  tokens->erase(tokens->begin());
  if (tokens->empty()) tokens->push_back(Token{TokenKind::empty(), open.end, open.end});
  TokenPair* delimiters = arena.make<TokenPair>(TokenPair{open, close});
  return interpolation_fragment(lx.arena, tokens, dollar, format, delimiters);
}

// interpolation -> "{" tokens "}" (the braces stay in the tokens)
[[gnu::noinline]] StringFragment braced_interpolation(Lexer& lx, std::string_view dollar) {
  Arena& arena = lx.arena;
  TokenList* tokens = arena.make<TokenList>(&arena);
  int braces = 0;
  for (;;) {
    skip_leading_trivia(lx);
    Token t = token(lx, tokens->empty() ? nullptr : &tokens->back());
    if (t.kind.is_eof()) {
      tokens->push_back(t);
      break;
    }
    if (t.kind.is_operator(Operator::OpenBrace)) ++braces;
    if (t.kind.is_operator(Operator::CloseBrace)) --braces;
    if (braces > 0) {
      tailing_trivia(lx);
      if (t.kind.tag != TokenTag::Empty) tokens->push_back(t);
      continue;
    }
    tokens->push_back(t);
    break;
  }
  return interpolation_fragment(lx.arena, tokens, dollar, {}, nullptr);
}

// interpolation -> name ; a keyword that is not a constant stands for nil
[[gnu::noinline]] StringFragment name_interpolation(Lexer& lx, std::string_view dollar) {
  Arena& arena = lx.arena;
  const std::uint32_t start = lx.offset();
  TokenKind kind = identifier(lx, true);
  const std::uint32_t end = lx.offset();
  if (kind.tag == TokenTag::Keyword && !keyword_is_constant(kind.keyword)) {
    const DiagnosticCode code = keyword_is_reserved(kind.keyword) ? DiagnosticCode::InvalidReservedKeyword
                                                                  : DiagnosticCode::InvalidKeyword;
    kind = TokenKind::unknown(arena, TokenKind::of_keyword(Keyword::Nil), start, end, code);
  }
  TokenList* tokens = arena.make<TokenList>(&arena);
  tokens->reserve(1);
  tokens->push_back(Token{kind, start, end});
  return interpolation_fragment(lx.arena, tokens, dollar, {}, nullptr);
}

// The position is just after the opener. Kept apart from the helpers above
// so that the frames on the recursive path (string_content, interpolation,
// token) stay small: that path is taken once per nesting level.
StringFragment interpolation(Lexer& lx, std::string_view dollar) {
  const int c = lx.peek();
  if (c == '(' || c == '{') {
    if (lx.depth >= kMaxInterpolationDepth) {
      lx.fail();
      return text_fragment(dollar);
    }
    DepthGuard guard(lx);
    return c == '(' ? parenthesised_interpolation(lx, dollar) : braced_interpolation(lx, dollar);
  }
  if (at_identifier_start(lx)) return name_interpolation(lx, dollar);
  return text_fragment(dollar);
}

// The text of the fragments [first, last): Text runs and decoded escapes.
// A single Text fragment is borrowed; anything else is assembled in the arena.
std::string_view join_fragments(Arena& arena, const std::pmr::vector<StringFragment>& fragments,
                                std::size_t first, std::size_t last, bool& owned) {
  owned = false;
  if (last == first + 1 && fragments[first].kind == StringFragment::Kind::Text) return fragments[first].text;
  std::size_t size = 0;
  for (std::size_t i = first; i < last; ++i) {
    const StringFragment& f = fragments[i];
    if (f.kind == StringFragment::Kind::Text) size += f.text.size();
    if (f.kind == StringFragment::Kind::Escape) size += utf8_size(f.character);
  }
  owned = true;
  if (size == 0) return {};
  char* out = static_cast<char*>(arena.allocate_bytes(size, 1));
  std::size_t n = 0;
  for (std::size_t i = first; i < last; ++i) {
    const StringFragment& f = fragments[i];
    if (f.kind == StringFragment::Kind::Text) {
      std::memcpy(out + n, f.text.data(), f.text.size());
      n += f.text.size();
    } else if (f.kind == StringFragment::Kind::Escape) {
      n += encode_utf8(f.character, out + n);
    }
  }
  return {out, n};
}

[[gnu::noinline]] TokenKind finish(Lexer& lx, StringInfo* info, std::size_t base, bool unterminated) {
  Arena& arena = lx.arena;
  auto& fragments = info->fragments;
  fragments.assign(lx.fragment_stack.begin() + static_cast<std::ptrdiff_t>(base), lx.fragment_stack.end());
  lx.fragment_stack.resize(base);
  std::size_t errors = 0, interpolations = 0;
  for (const StringFragment& f : fragments) {
    if (f.kind == StringFragment::Kind::Error) ++errors;
    if (f.kind == StringFragment::Kind::Interpolation) ++interpolations;
  }

  TokenKind kind;
  if (!unterminated && fragments.size() == 1 && fragments[0].kind == StringFragment::Kind::Text) {
    kind = TokenKind::of_string(info, fragments[0].text);
  } else if (interpolations == 0) {
    bool owned;
    const std::string_view value = join_fragments(arena, fragments, 0, fragments.size(), owned);
    info->value_owned = true;
    kind = TokenKind::of_string(info, owned ? value : arena.copy(value));
  } else {
    info->parts.reserve(interpolations + 1);
    std::size_t run = 0;
    for (std::size_t i = 0; i < fragments.size(); ++i) {
      StringFragment& f = fragments[i];
      if (f.kind != StringFragment::Kind::Interpolation) continue;
      bool owned;
      const std::string_view text = join_fragments(arena, fragments, run, i, owned);
      info->parts.push_back(StringPart{text, f.interpolation->tokens, f.interpolation->format, owned});
      f.interpolation->tokens = arena.make<TokenList>(&arena);
      run = i + 1;
    }
    bool owned;
    const std::string_view text = join_fragments(arena, fragments, run, fragments.size(), owned);
    info->parts.push_back(StringPart{text, arena.make<TokenList>(&arena), {}, owned});
    kind = TokenKind::of_interpolated(info);
  }

  if (unterminated || errors > 0) {
    ArenaDiagnostics diagnostics(&arena);
    diagnostics.reserve(errors + (unterminated ? 1 : 0));
    if (unterminated) {
      const std::size_t end = lx.source.size();
      diagnostics.push_back({end, end, DiagnosticCode::UnterminatedString});
    }
    for (const StringFragment& f : fragments) {
      if (f.kind == StringFragment::Kind::Error) diagnostics.push_back({f.start - 1u, f.end, f.code});
    }
    kind = TokenKind::unknown_with(arena, kind, std::move(diagnostics));
  }
  return kind;
}

}  // namespace

// string -> "@"* quote content quote "@"*
std::optional<TokenKind> string(Lexer& lx) {
  const std::string_view s = lx.source;
  const std::size_t start = lx.pos;
  std::size_t p = start;
  while (p < s.size() && s[p] == '@') ++p;
  if (p >= s.size() || !is_quote(s[p])) return std::nullopt;
  StringInfo* info = lx.arena.make<StringInfo>(&lx.arena);
  info->open_start = static_cast<std::uint32_t>(start);
  info->open_end = static_cast<std::uint32_t>(p + 1);
  info->raw_level = static_cast<std::uint32_t>(p - start);
  info->quote = s[p];
  lx.pos = p + 1;
  return string_content(lx, info);
}

TokenKind string_content(Lexer& lx, StringInfo* info) {
  const std::string_view s = lx.source;
  const std::size_t n = s.size();
  const std::size_t raw = info->raw_level;
  const bool quoted = info->quote != 0;
  const char quote = info->quote;
  // Entries pushed by nested literals are gone again before each push here,
  // so no reference into the stack is kept across a nested call.
  auto& fragments = lx.fragment_stack;
  const std::size_t base = fragments.size();
  bool unterminated = false;
  for (;;) {
    // A run of text up to the next stop character.
    const std::size_t from = lx.pos;
    std::size_t p = from;
    while (p < n) {
      const char c = s[p];
      if (c == '$' || (quoted && c == quote) || (raw == 0 && c == '\\')) break;
      ++p;
    }
    if (p > from) {
      fragments.push_back(text_fragment(s.substr(from, p - from)));
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
      fragments.push_back(escape(lx));
      continue;
    }
    if (c == '$') {
      const std::size_t want = raw == 0 ? 1 : raw;
      std::size_t k = 0;
      while (k < want && p + k < n && s[p + k] == '$') ++k;
      lx.pos = p + k;
      if (k == want) {
        fragments.push_back(interpolation(lx, s.substr(p, k)));
      } else {
        fragments.push_back(text_fragment(s.substr(p, k)));
      }
      continue;
    }
    // The quote, and the `@` run that has to follow it.
    std::size_t q = p + 1;
    std::size_t k = 0;
    while (k < raw && q < n && s[q] == '@') ++q, ++k;
    lx.pos = q;
    if (k == raw) {
      info->close_start = static_cast<std::uint32_t>(p);
      info->close_end = static_cast<std::uint32_t>(q);
      break;
    }
    fragments.push_back(text_fragment(s.substr(p, q - p)));
  }
  return finish(lx, info, base, unterminated);
}

}  // namespace quendal::lexer
