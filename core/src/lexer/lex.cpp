#include "lexer/lex.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "diagnostic/diagnostics_collector.h"
#include "lexer/identifier.h"
#include "lexer/keyword_table.h"
#include "lexer/lexer.h"

namespace quendal {

namespace lexer {

Lexer::Lexer(std::string_view source, const CompileConfig& config, Arena& arena, Tokens& tokens,
             DiagnosticsCollector* records)
    : source(source),
      src(source.data()),
      size(source.size()),
      arena(arena),
      config(config),
      out{tokens},
      records(records),
      tags(records != nullptr && config.report_tags) {
  // One list per level; never resized afterwards, so a level may keep a
  // reference to its list while deeper levels lex theirs.
  lists.resize(kMaxInterpolationDepth + 2);
  fragment_stack.reserve(64);
}

void skip_blanks(Lexer& lx) {
  const char* s = lx.src;
  std::size_t p = lx.pos;
  while (p < lx.size && (s[p] == ' ' || s[p] == '\t')) ++p;
  lx.pos = p;
}

namespace {

// Position of the first "\n" or "\r" at or after `from`, or the end of the
// input. A failed line comment (one that ends at a lone "\r") is retried from
// every later "//" on the same line, so the answer is cached: any start
// between the cached start and the cached stop shares the same stop.
std::size_t line_stop(Lexer& lx, std::size_t from) {
  if (from >= lx.line_stop_from && from <= lx.line_stop_at) return lx.line_stop_at;
  const char* s = lx.src;
  std::size_t p = from;
  while (p < lx.size && s[p] != '\n' && s[p] != '\r') ++p;
  lx.line_stop_from = from;
  lx.line_stop_at = p;
  return p;
}

}  // namespace

// trivia -> (blank | line break | line_comment | block_comment)*
//   line_comment -> "//" (not "\n" or "\r")* (line break | end of input)
//   block_comment -> "/*" anything up to the first "*/" "*/" (or the rest)
// A "//" whose line ends at a lone "\r" is no comment: it stays for the
// token that follows.
void skip_trivia(Lexer& lx) {
  const char* s = lx.src;
  const std::size_t size = lx.size;
  std::size_t p = lx.pos;
  for (;;) {
    while (p < size && (s[p] == ' ' || s[p] == '\t')) ++p;
    if (p >= size) break;
    const char c = s[p];
    if (c == '\n') {
      ++p;
      continue;
    }
    if (c == '\r') {
      if (p + 1 < size && s[p + 1] == '\n') {
        p += 2;
        continue;
      }
      break;
    }
    if (c != '/' || p + 1 >= size) break;
    if (s[p + 1] == '/') {
      const std::size_t stop = line_stop(lx, p + 2);
      if (stop >= size) {
        p = size;
        break;
      }
      if (s[stop] == '\n') {
        p = stop + 1;
        continue;
      }
      if (stop + 1 < size && s[stop + 1] == '\n') {
        p = stop + 2;
        continue;
      }
      break;
    }
    if (s[p + 1] == '*') {
      const std::size_t close = lx.source.find("*/", p + 2);
      p = close == std::string_view::npos ? size : close + 2;
      continue;
    }
    break;
  }
  lx.pos = p;
}

namespace {

// One character (one scalar value) that no token can start with.
Lexed unknown_character(Lexer& lx, std::uint32_t start) {
  lx.pos += utf8_length_at(lx.source, lx.pos);
  Lexed t;
  t.tag = TokenTag::Empty;
  t.diag_first = lx.diagnostic(start, lx.offset(), DiagnosticCode::UnknownToken, 0);
  t.diag_count = 1;
  return t;
}

// The operator starting at `p` with the character `c`: its length, 0 when
// nothing matches (a lone `&` or `|`). The first character picks the
// candidates, the next one or two decide; the longest spelling wins.
inline std::size_t operator_length(const char* s, std::size_t size, std::size_t p, int c, Operator& op) {
  using enum Operator;
  const int n1 = p + 1 < size ? static_cast<unsigned char>(s[p + 1]) : -1;
  const int n2 = p + 2 < size ? static_cast<unsigned char>(s[p + 2]) : -1;
  auto one_or_two = [&](int second, Operator two, Operator one) -> std::size_t {
    if (n1 == second) {
      op = two;
      return 2;
    }
    op = one;
    return 1;
  };
  switch (c) {
    case '(':
      op = OpenParen;
      return 1;
    case ')':
      op = CloseParen;
      return 1;
    case '[':
      op = OpenBracket;
      return 1;
    case ']':
      op = CloseBracket;
      return 1;
    case '{':
      op = OpenBrace;
      return 1;
    case '}':
      op = CloseBrace;
      return 1;
    case ',':
      op = Comma;
      return 1;
    case ';':
      op = Semicolon;
      return 1;
    case ':':
      return one_or_two(':', ColonColon, Colon);
    case '.':
      if (n1 != '.') {
        op = Dot;
        return 1;
      }
      if (n2 == '<') {
        op = DotDotLt;
        return 3;
      }
      op = DotDot;
      return 2;
    case '+':
      return one_or_two('=', PlusEq, Plus);
    case '-':
      if (n1 == '>') {
        op = Arrow;
        return 2;
      }
      return one_or_two('=', MinusEq, Minus);
    case '*':
      return one_or_two('=', AsteriskEq, Asterisk);
    case '/':
      return one_or_two('=', SlashEq, Slash);
    case '%':
      return one_or_two('=', PercentEq, Percent);
    case '^':
      return one_or_two('=', CaretEq, Caret);
    case '&':
      if (n1 != '&') return 0;
      if (n2 == '=') {
        op = AndAndEq;
        return 3;
      }
      op = AndAnd;
      return 2;
    case '|':
      if (n1 != '|') return 0;
      if (n2 == '=') {
        op = OrOrEq;
        return 3;
      }
      op = OrOr;
      return 2;
    case '=':
      if (n1 == '~') {
        op = EqTilde;
        return 2;
      }
      return one_or_two('=', EqEq, Eq);
    case '!':
      if (n1 == '=') {
        // "!" directly before "==" or "=~" stays a lone "!", so that `!==`
        // reads as `!` `==` and `!=~` as `!` `=~`.
        if (n2 == '=' || n2 == '~') {
          op = Exclamation;
          return 1;
        }
        op = ExclamationEq;
        return 2;
      }
      return one_or_two('~', ExclamationTilde, Exclamation);
    case '<':
      return one_or_two('=', LtEq, Lt);
    case '>':
      return one_or_two('=', GtEq, Gt);
    case '?':
      if (n1 == ':') {
        op = QuestionColon;
        return 2;
      }
      if (n1 == '?') {
        if (n2 == '=') {
          op = QuestionQuestionEq;
          return 3;
        }
        op = QuestionQuestion;
        return 2;
      }
      op = Question;
      return 1;
    default:
      return 0;
  }
}

inline bool operator_at(Lexer& lx, int c, Lexed& t) {
  Operator op;
  const std::size_t length = operator_length(lx.src, lx.size, lx.pos, c, op);
  if (length == 0) return false;
  lx.pos += length;
  t.tag = TokenTag::Operator;
  t.data = static_cast<std::uint32_t>(op);
  return true;
}

}  // namespace

// token: dispatch on the first character after the blanks.
Lexed token(Lexer& lx, bool after_dot, std::uint32_t& start, std::uint32_t& end) {
  skip_blanks(lx);
  start = lx.offset();
  Lexed t;
  if (lx.pos >= lx.size) {
    t.tag = TokenTag::Eof;
    end = start;
    return t;
  }
  const auto c = static_cast<unsigned char>(lx.src[lx.pos]);
  switch (c) {
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      t = after_dot ? ordinal(lx) : number(lx);
      break;
    case '"':
    case '\'':
    case '`':
      string(lx, t);
      break;
    case '@':
      if (!string(lx, t)) t = identifier(lx, !after_dot);
      break;
    case '_':
    case '$':
      t = identifier(lx, !after_dot);
      break;
    default:
      if (c < 0x80) {
        if ((kAsciiIdentifier[c] & 1) != 0) {
          t = identifier(lx, !after_dot);
        } else if (!operator_at(lx, c, t)) {
          t = unknown_character(lx, start);
        }
      } else if (at_identifier_start(lx)) {
        t = identifier(lx, !after_dot);
      } else {
        t = unknown_character(lx, start);
      }
      break;
  }
  end = lx.offset();
  return t;
}

// A keyword is only a keyword in some places; the token after it decides.
// `previous_end` is updated when `not` and `in` merge; `next` then becomes the
// Empty token that the caller drops.
void adjust_keyword(Lexer& lx, TokenTag& previous_tag, std::uint32_t& previous_data,
                    std::uint32_t& previous_end, Lexed& next, std::uint32_t& next_start,
                    std::uint32_t next_end) {
  const auto keyword = static_cast<Keyword>(previous_data);
  const bool colon =
      next.tag == TokenTag::Operator && (next.data == static_cast<std::uint32_t>(Operator::Colon) ||
                                         next.data == static_cast<std::uint32_t>(Operator::QuestionColon));
  if (colon) {
    // A field name (`{ if: 1 }`) or the middle of a conditional.
    previous_tag = TokenTag::Identifier;
    previous_data = lx.intern(keyword_spelling(keyword));
  } else if (keyword == Keyword::Type && next.tag != TokenTag::Identifier &&
             !(next.tag == TokenTag::Operator &&
               next.data == static_cast<std::uint32_t>(Operator::OpenParen))) {
    previous_tag = TokenTag::Identifier;
    previous_data = lx.intern(keyword_spelling(Keyword::Type));
  } else if (keyword == Keyword::Not && next.tag == TokenTag::Keyword &&
             next.data == static_cast<std::uint32_t>(Keyword::In)) {
    previous_data = static_cast<std::uint32_t>(Keyword::NotIn);
    previous_end = next_end;
    next = Lexed{};
    next_start = next_end;
  }
}

namespace {

// The end of row `i` of the interpolation lists.
std::uint32_t nested_end(const Lexer& lx, TokenIndex i) {
  const std::uint8_t length = lx.nested.lengths()[i];
  if (length != TokenColumns::kLongLength) return lx.nested.starts()[i] + length;
  const auto& ends = lx.nested_long_ends;
  const auto found = std::lower_bound(
      ends.begin(), ends.end(), i, [](const auto& entry, TokenIndex index) { return entry.first < index; });
  return found->second;
}

void emit_diagnostics(Lexer& lx, std::uint32_t first, std::uint32_t count) {
  DiagnosticsCollector& records = *lx.records;
  const auto& diagnostics = lx.out.diagnostics();
  for (std::uint32_t k = first; k < first + count; ++k) {
    const TokenDiagnostic& d = diagnostics[k];
    if (records.accepts(d.code)) records.append_direct({d.start, d.end, d.code});
  }
}

// The records of the tokens inside the interpolations of string `index`.
void recover_parts(Lexer& lx, std::uint32_t index) {
  const StringInfo& info = lx.out.strings()[index];
  const auto& parts = lx.out.parts();
  for (std::uint32_t p = info.first_part; p < info.first_part + info.part_count; ++p) {
    const TokenRange range = parts[p].tokens;
    for (TokenIndex i = range.begin; i < range.end; ++i) {
      if (!lx.nested_wrapped.empty()) {
        const auto& wrapped = lx.nested_wrapped;
        const auto found =
            std::lower_bound(wrapped.begin(), wrapped.end(), i,
                             [](const Tokens::Wrapped& w, TokenIndex t) { return w.token < t; });
        if (found != wrapped.end() && found->token == i) emit_diagnostics(lx, found->first, found->count);
      }
      const TokenTag tag = lx.nested.tags()[i];
      if (tag == TokenTag::String) {
        if (lx.tags)
          lx.records->append_direct({lx.nested.starts()[i], nested_end(lx, i), DiagnosticCode::String});
      } else if (tag == TokenTag::InterpolatedString) {
        if (lx.tags)
          lx.records->append_direct(
              {lx.nested.starts()[i], nested_end(lx, i), DiagnosticCode::Interpolation});
        recover_parts(lx, lx.nested.data()[i]);
      }
    }
  }
}

}  // namespace

// recover: a token's diagnostics (moved out of its wrappers), then the tag of
// a literal, then the records of the tokens nested in it.
void recover(Lexer& lx, const Lexed& token, std::uint32_t start, std::uint32_t end) {
  if (token.diag_count != 0) emit_diagnostics(lx, token.diag_first, token.diag_count);
  if (token.tag == TokenTag::String) {
    if (lx.tags) lx.records->append_direct({start, end, DiagnosticCode::String});
  } else if (token.tag == TokenTag::InterpolatedString) {
    if (lx.tags) lx.records->append_direct({start, end, DiagnosticCode::Interpolation});
    recover_parts(lx, token.data);
  }
}

namespace {

void push_main(Lexer& lx, const Lexed& t, std::uint32_t start, std::uint32_t end) {
  TokenColumns& columns = lx.out.columns();
  const TokenIndex index = columns.size();
  columns.push(t.tag, start, end - start, t.data);
  if (end - start >= TokenColumns::kLongLength) lx.out.long_ends().emplace_back(index, end);
  if (t.diag_count != 0) lx.out.wrapped().push_back({index, t.diag_first, t.diag_count});
  if (lx.records != nullptr &&
      (t.diag_count != 0 || t.tag == TokenTag::String || t.tag == TokenTag::InterpolatedString))
    recover(lx, t, start, end);
}

// The main list is complete: the interpolation lists follow it, and the
// strings get their views of the side tables. False (the lex failed at the
// end of the input) when the rows would not fit.
bool finish_store(Lexer& lx) {
  TokenColumns& columns = lx.out.columns();
  const TokenIndex main = columns.size();
  // Every token index must fit in 32 bits: a source near 4 GiB dense with
  // interpolations can make more rows than that.
  if (!rows_fit(main, lx.nested.size())) {
    lx.fail();
    return false;
  }
  lx.out.list() = TokenRange{0, main};
  columns.append(lx.nested);
  for (const auto& [index, end] : lx.nested_long_ends) lx.out.long_ends().emplace_back(index + main, end);
  for (const Tokens::Wrapped& w : lx.nested_wrapped)
    lx.out.wrapped().push_back({w.token + main, w.first, w.count});
  for (StringPart& part : lx.out.parts()) {
    if (!part.tokens.empty()) part.tokens = TokenRange{part.tokens.begin + main, part.tokens.end + main};
  }
  for (StringInterpolation& interpolation : lx.out.interpolations()) {
    if (!interpolation.tokens.empty())
      interpolation.tokens = TokenRange{interpolation.tokens.begin + main, interpolation.tokens.end + main};
  }
  const auto& fragments = lx.out.fragments();
  const auto& parts = lx.out.parts();
  for (StringInfo& info : lx.out.strings()) {
    info.fragments =
        std::span<const StringFragment>(fragments.data() + info.first_fragment, info.fragment_count);
    info.parts = std::span<const StringPart>(parts.data() + info.first_part, info.part_count);
  }
  return true;
}

// What a failed lex leaves: no tokens, the records as they were.
void fail_result(LexResult& result, Lexer& lx, std::size_t records_before, std::uint64_t stop) {
  result.ok = false;
  result.stop_offset = stop;
  result.tokens = Tokens(lx.source);
  if (lx.records != nullptr) lx.records->diagnostics().resize(records_before);
}

}  // namespace

constexpr std::array<std::uint8_t, 128> kSingleOperator = [] {
  std::array<std::uint8_t, 128> t{};
  t['('] = static_cast<std::uint8_t>(Operator::OpenParen);
  t[')'] = static_cast<std::uint8_t>(Operator::CloseParen);
  t['['] = static_cast<std::uint8_t>(Operator::OpenBracket);
  t[']'] = static_cast<std::uint8_t>(Operator::CloseBracket);
  t['{'] = static_cast<std::uint8_t>(Operator::OpenBrace);
  t['}'] = static_cast<std::uint8_t>(Operator::CloseBrace);
  t[','] = static_cast<std::uint8_t>(Operator::Comma);
  t[';'] = static_cast<std::uint8_t>(Operator::Semicolon);
  return t;
}();

// Name bytes: continuation characters of ASCII, and bytes beyond ASCII
// (whose character ICU has to judge).
constexpr std::uint8_t kContinues = 1;
constexpr std::uint8_t kBeyondAscii = 2;
constexpr std::array<std::uint8_t, 256> kNameByte = [] {
  std::array<std::uint8_t, 256> t{};
  for (int c = 'a'; c <= 'z'; ++c) t[c] = kContinues;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = kContinues;
  for (int c = '0'; c <= '9'; ++c) t[c] = kContinues;
  t['_'] = kContinues;
  for (int c = 0x80; c < 0x100; ++c) t[c] = kBeyondAscii;
  return t;
}();

// The end of a run of spaces at `p` (a word at a time where 8 bytes are left).
inline std::size_t spaces_end(const char* s, std::size_t size, std::size_t p) {
  while (p + 8 <= size) {
    std::uint64_t w;
    std::memcpy(&w, s + p, 8);
    const std::uint64_t x = w ^ 0x2020202020202020ull;
    if (x != 0) return p + (static_cast<std::size_t>(std::countr_zero(x)) >> 3);
    p += 8;
  }
  while (p < size && s[p] == ' ') ++p;
  return p;
}

// The main list's rows, written through local copies of the column
// pointers and the count; `sync` hands the count back to the columns.
struct Rows {
  explicit Rows(TokenColumns& columns) : columns(columns) { load(); }
  void load() {
    tags = columns.tags();
    lengths = columns.lengths();
    starts = columns.starts();
    data = columns.data();
    capacity = columns.capacity();
    n = columns.size();
  }
  void sync() { columns.set_size(n); }
  // A row whose length is below 255.
  void push(TokenTag kind, std::uint32_t from, std::uint32_t size, std::uint32_t value) {
    if (n == capacity) [[unlikely]]
      grow();
    tags[n] = kind;
    lengths[n] = static_cast<std::uint8_t>(size);
    starts[n] = from;
    data[n] = value;
    ++n;
  }
  void grow() {
    sync();
    columns.grow();
    load();
  }

  TokenColumns& columns;
  TokenTag* tags;
  std::uint8_t* lengths;
  std::uint32_t* starts;
  std::uint32_t* data;
  std::uint32_t capacity;
  std::uint32_t n;
};

// The keyword adjustment of the last row (`n`) for a token the main loop
// read itself. False when the token is dropped (the `in` of a `not in`).
[[gnu::noinline]] bool adjust_last_row(Lexer& lx, TokenTag* tags, std::uint8_t* lengths,
                                       std::uint32_t* starts, std::uint32_t* data, TokenIndex n, TokenTag tag,
                                       std::uint32_t start, std::uint32_t length, std::uint32_t datum) {
  std::uint32_t previous_end = starts[n] + lengths[n];
  const std::uint32_t before = previous_end;
  Lexed next{tag, datum, 0, 0};
  std::uint32_t next_start = start;
  adjust_keyword(lx, tags[n], data[n], previous_end, next, next_start, start + length);
  if (previous_end == before) return true;
  // `not` and `in` merged: the keyword now ends where `in` did.
  const std::uint32_t merged = previous_end - starts[n];
  lengths[n] = static_cast<std::uint8_t>(std::min<std::uint32_t>(merged, TokenColumns::kLongLength));
  if (merged >= TokenColumns::kLongLength) lx.out.long_ends().emplace_back(n, previous_end);
  return false;
}

// A token that the main loop does not read itself, through `token`, with
// the keyword adjustment of the row before it; the columns hold every row
// so far. Returns where the token ends; `t` is the unflagged Empty token
// when it was dropped (the `in` of a `not in`).
[[gnu::noinline]] std::size_t general_token(Lexer& lx, std::size_t p, bool after_dot, bool after_keyword,
                                            Lexed& t) {
  TokenColumns& columns = lx.out.columns();
  lx.pos = p;
  std::uint32_t start, end;
  t = token(lx, after_dot, start, end);
  p = lx.pos;
  if (after_keyword &&
      !adjust_last_row(lx, columns.tags(), columns.lengths(), columns.starts(), columns.data(),
                       columns.size() - 1, t.tag, start, end - start, t.data)) {
    t = Lexed{};
    return p;
  }
  push_main(lx, t, start, end);
  return p;
}

// What a byte starts, for the main loop's dispatch: one table look-up and
// one jump.
enum ByteClass : std::uint8_t {
  kOtherByte,     // quotes, `@`, bytes beyond ASCII, unknown characters: `token` decides
  kSpace,         // " "
  kTab,           // "\t"
  kNewline,       // "\n"
  kTrivia,        // "\r" and "/": a line break, a comment, or a token
  kNameStart,     // ASCII letters, `_`, `$`
  kDigitByte,     // 0 to 9
  kSingleByte,    // an operator of one character that nothing extends
  kOperatorByte,  // the first character of a longer operator
};

constexpr std::array<std::uint8_t, 256> kByteClass = [] {
  std::array<std::uint8_t, 256> t{};
  t[' '] = kSpace;
  t['\t'] = kTab;
  t['\n'] = kNewline;
  t['\r'] = t['/'] = kTrivia;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = kNameStart;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = kNameStart;
  t['_'] = t['$'] = kNameStart;
  for (int c = '0'; c <= '9'; ++c) t[c] = kDigitByte;
  for (unsigned char c : std::string_view("()[]{},;")) t[c] = kSingleByte;
  for (unsigned char c : std::string_view(":.+-*%^&|=!<>?")) t[c] = kOperatorByte;
  return t;
}();

// The main list: trivia, one token, the keyword adjustment of the token
// before it, and the row; repeated until the end of the input. The common
// tokens (names, operators, small integers) are read here directly; the
// others go through `token`.
void lex_main(Lexer& lx) {
  TokenColumns& columns = lx.out.columns();
  // Dense scripts average about three bytes per token.
  columns.reserve(lx.size / 3 + 16);
  Rows rows(columns);
  const char* s = lx.src;
  const std::size_t size = lx.size;
  std::size_t p = 0;
  // What the last row is. After a keyword, only `:` and `?:` can change it;
  // after `type` or `not`, any token may (see adjust_keyword).
  enum class After : std::uint8_t { Other, Dot, Keyword, TypeOrNot };
  After after = After::Other;
  auto after_row = [](TokenTag tag, std::uint32_t datum) {
    if (tag == TokenTag::Keyword)
      return datum == static_cast<std::uint32_t>(Keyword::Type) ||
                     datum == static_cast<std::uint32_t>(Keyword::Not)
                 ? After::TypeOrNot
                 : After::Keyword;
    return tag == TokenTag::Operator && datum == static_cast<std::uint32_t>(Operator::Dot) ? After::Dot
                                                                                           : After::Other;
  };

  // A token read here that the keyword before it may change (see
  // adjust_keyword): it goes through the adjustment at the end of the loop.
  struct Pending {
    TokenTag tag;
    std::uint32_t start;
    std::uint32_t length;
    std::uint32_t datum;
  } pending{};
  // One blank after a token is the usual trivia; longer runs are left for
  // the dispatch.
  auto skip_one_blank = [&] {
    if (p < size && s[p] == ' ') ++p;
  };

  for (;;) {
    if (p >= size) [[unlikely]] {
      // The end of the input: the Eof row, through `token`.
      Lexed t;
      rows.sync();
      p = general_token(lx, p, false, after == After::Keyword || after == After::TypeOrNot, t);
      rows.load();
      break;
    }
    const auto c = static_cast<unsigned char>(s[p]);
    const auto start = static_cast<std::uint32_t>(p);
    switch (kByteClass[c]) {
      case kSpace:
        p = p + 1 < size && s[p + 1] == ' ' ? spaces_end(s, size, p + 2) : p + 1;
        continue;
      case kTab:
        ++p;
        continue;
      case kNewline:
        // The indentation of the next line with it.
        p = spaces_end(s, size, p + 1);
        continue;
      case kTrivia: {
        // A comment or "\r\n" is trivia; a "/" that starts neither is an
        // operator, and a lone "\r" an unknown character.
        lx.pos = p;
        skip_trivia(lx);
        if (lx.pos != p) {
          p = lx.pos;
          continue;
        }
        if (c == '\r') break;
        const bool slash_eq = p + 1 < size && s[p + 1] == '=';
        const std::uint32_t length = slash_eq ? 2 : 1;
        const auto op = static_cast<std::uint32_t>(slash_eq ? Operator::SlashEq : Operator::Slash);
        p += length;
        if (after == After::TypeOrNot) [[unlikely]] {
          pending = {TokenTag::Operator, start, length, op};
          goto adjusted;
        }
        rows.push(TokenTag::Operator, start, length, op);
        after = After::Other;
        skip_one_blank();
        continue;
      }
      case kNameStart: {
        // name -> letter continuation* | "_"+ continuation* | "$"+ continuation*
        std::size_t q = p + 1;
        if (c == '_' || c == '$') {
          while (q < size && static_cast<unsigned char>(s[q]) == c) ++q;
        }
        std::uint8_t next = 0;
        while (q < size && ((next = kNameByte[static_cast<unsigned char>(s[q])]) & kContinues) != 0) ++q;
        const std::size_t n = q - p;
        if (q >= size) next = 0;
        if ((next & kBeyondAscii) != 0 || n >= TokenColumns::kLongLength) break;
        const auto length = static_cast<std::uint32_t>(n);
        TokenTag tag = TokenTag::Identifier;
        std::uint32_t datum;
        if (n > 8) {
          // Longer than any keyword.
          datum = lx.intern(std::string_view(s + p, n));
        } else {
          const std::uint64_t w = short_word(s + p, n, s + size);
          Keyword keyword;
          if (after != After::Dot && keyword_of_word(w, keyword)) {
            tag = TokenTag::Keyword;
            datum = static_cast<std::uint32_t>(keyword);
          } else {
            datum = lx.symbol_index.intern_short(lx.out.symbols(), s + p, length, w);
          }
        }
        p = q;
        if (after == After::TypeOrNot) [[unlikely]] {
          pending = {tag, start, length, datum};
          goto adjusted;
        }
        rows.push(tag, start, length, datum);
        after = tag == TokenTag::Identifier ? After::Other
                : datum == static_cast<std::uint32_t>(Keyword::Type) ||
                        datum == static_cast<std::uint32_t>(Keyword::Not)
                    ? After::TypeOrNot
                    : After::Keyword;
        skip_one_blank();
        continue;
      }
      case kSingleByte:
        ++p;
        if (after == After::TypeOrNot) [[unlikely]] {
          pending = {TokenTag::Operator, start, 1, kSingleOperator[c]};
          goto adjusted;
        }
        rows.push(TokenTag::Operator, start, 1, kSingleOperator[c]);
        after = After::Other;
        skip_one_blank();
        continue;
      case kOperatorByte: {
        Operator op;
        const std::size_t length = operator_length(s, size, p, c, op);
        if (length == 0) break;
        p += length;
        if (after == After::TypeOrNot ||
            (after == After::Keyword && (op == Operator::Colon || op == Operator::QuestionColon)))
            [[unlikely]] {
          pending = {TokenTag::Operator, start, static_cast<std::uint32_t>(length),
                     static_cast<std::uint32_t>(op)};
          goto adjusted;
        }
        rows.push(TokenTag::Operator, start, static_cast<std::uint32_t>(length),
                  static_cast<std::uint32_t>(op));
        after = op == Operator::Dot ? After::Dot : After::Other;
        skip_one_blank();
        continue;
      }
      case kDigitByte: {
        if (after == After::Dot) break;
        // The usual number: a few digits that end the word, no leading
        // zero, at most 2147483647: an ordinal.
        std::size_t q = p;
        std::uint64_t value = 0;
        while (q < size && q - p < 11 && s[q] >= '0' && s[q] <= '9') {
          value = value * 10 + static_cast<unsigned>(s[q] - '0');
          ++q;
        }
        const int next = q < size ? static_cast<unsigned char>(s[q]) : -1;
        if ((next < 0 || ((kNameByte[next] & (kContinues | kBeyondAscii)) == 0 && next != '.')) &&
            q - p <= 10 && (c != '0' || q - p == 1) && value <= 2147483647u) {
          const auto length = static_cast<std::uint32_t>(q - p);
          p = q;
          if (after == After::TypeOrNot) [[unlikely]] {
            pending = {TokenTag::Ordinal, start, length, static_cast<std::uint32_t>(value)};
            goto adjusted;
          }
          rows.push(TokenTag::Ordinal, start, length, static_cast<std::uint32_t>(value));
          after = After::Other;
          skip_one_blank();
          continue;
        }
        break;
      }
      case kOtherByte:
        break;
      default:
        __builtin_unreachable();
    }

    {
      // Everything else: strings, other numbers, names beyond ASCII, unknown
      // characters.
      Lexed t;
      rows.sync();
      p = general_token(lx, p, after == After::Dot, after == After::Keyword || after == After::TypeOrNot, t);
      rows.load();
      if (t.tag == TokenTag::Empty && t.diag_count == 0) continue;  // dropped
      after = after_row(t.tag, t.data);
      continue;
    }

  adjusted:
    // A token read above, after `type` or `not`, or a colon after a keyword.
    if (adjust_last_row(lx, rows.tags, rows.lengths, rows.starts, rows.data, rows.n - 1, pending.tag,
                        pending.start, pending.length, pending.datum)) {
      rows.push(pending.tag, pending.start, pending.length, pending.datum);
      after = after_row(pending.tag, pending.datum);
    } else {
      after = After::Keyword;  // the merged `not in`
    }
    skip_one_blank();
  }
  rows.sync();
  lx.pos = p;
}

}  // namespace lexer

LexResult lex(std::string_view source, const CompileConfig& config, Arena& arena,
              DiagnosticsCollector* records) {
  LexResult result{true, Tokens(source), 0};
  if (source.size() >= std::numeric_limits<std::uint32_t>::max()) {
    result.ok = false;
    return result;
  }
  const std::size_t records_before = records != nullptr ? records->diagnostics().size() : 0;
  lexer::Lexer lx(source, config, arena, result.tokens, records);
  lexer::lex_main(lx);
  if (lx.failed || !lexer::finish_store(lx)) lexer::fail_result(result, lx, records_before, lx.stop_offset);
  return result;
}

// A template is the body of one string: raw level 1, no quote, running to the
// end of the input.
LexResult lex_string(std::string_view source, const CompileConfig& config, Arena& arena,
                     DiagnosticsCollector* records) {
  LexResult result{true, Tokens(source), 0};
  if (source.size() >= std::numeric_limits<std::uint32_t>::max()) {
    result.ok = false;
    return result;
  }
  const std::size_t records_before = records != nullptr ? records->diagnostics().size() : 0;
  lexer::Lexer lx(source, config, arena, result.tokens, records);
  const auto size = static_cast<std::uint32_t>(source.size());
  StringInfo info;
  info.close_start = size;
  info.close_end = size;
  info.raw_level = 1;
  info.quote = 0;
  lx.out.columns().reserve(2);
  const lexer::Lexed body = lexer::string_content(lx, info);
  lexer::push_main(lx, body, 0, size);
  std::uint32_t start, end;
  const lexer::Lexed eof = lexer::token(lx, false, start, end);
  if (lx.failed || eof.tag != TokenTag::Eof) {
    lexer::fail_result(result, lx, records_before, lx.failed ? lx.stop_offset : start);
    return result;
  }
  lexer::push_main(lx, eof, start, end);
  if (!lexer::finish_store(lx)) lexer::fail_result(result, lx, records_before, lx.stop_offset);
  return result;
}

}  // namespace quendal
