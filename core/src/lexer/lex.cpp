#include "lexer/lex.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    // Without tags, the nested tokens report only their diagnostics: none
    // when no token of any interpolation list has any.
    if (lx.tags || !lx.nested_wrapped.empty()) recover_parts(lx, token.data);
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
  lx.out.at_symbols() = std::move(lx.symbol_index.at_names());
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

// The end of the run of ASCII name bytes ([0-9A-Za-z_]) at `q`, sixteen
// bytes at a time where the input has them: a name's end is found without a
// branch per byte, so without the misprediction at its last byte.
inline std::size_t name_run_end(const char* s, std::size_t size, std::size_t q) {
#if defined(__SSE2__)
  // Ranges by signed comparison: x - low + 0x80 is below -128 + width
  // exactly for the bytes x in [low, low + width).
  const __m128i case_bit = _mm_set1_epi8(0x20);
  const __m128i letter_shift = _mm_set1_epi8(static_cast<char>(0x80 - 'a'));
  const __m128i letter_limit = _mm_set1_epi8(static_cast<char>(-128 + 26));
  const __m128i digit_shift = _mm_set1_epi8(static_cast<char>(0x80 - '0'));
  const __m128i digit_limit = _mm_set1_epi8(static_cast<char>(-128 + 10));
  const __m128i underscore = _mm_set1_epi8('_');
  while (q + 16 <= size) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + q));
    const __m128i letter =
        _mm_cmplt_epi8(_mm_add_epi8(_mm_or_si128(v, case_bit), letter_shift), letter_limit);
    const __m128i digit = _mm_cmplt_epi8(_mm_add_epi8(v, digit_shift), digit_limit);
    const __m128i name = _mm_or_si128(_mm_or_si128(letter, digit), _mm_cmpeq_epi8(v, underscore));
    const auto others = static_cast<unsigned>(~_mm_movemask_epi8(name)) & 0xFFFFu;
    if (others != 0) return q + static_cast<std::size_t>(std::countr_zero(others));
    q += 16;
  }
#endif
  while (q < size && (kNameByte[static_cast<unsigned char>(s[q])] & kContinues) != 0) ++q;
  return q;
}

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

// The main list's rows, written through two pointers to the next row: its
// kind (the byte columns) and its start (the 32-bit columns). The length and
// the datum lie one capacity further on in the same block, so a row costs
// four stores and two increments and keeps three registers. `sync` hands the
// count back to the columns.
struct Rows {
  explicit Rows(TokenColumns& columns) : columns(columns) { load(); }
  void load() {
    first = columns.tags();
    capacity = columns.capacity();
    tag = first + columns.size();
    start = columns.starts() + columns.size();
  }
  void sync() { columns.set_size(n()); }
  std::uint32_t n() const { return static_cast<std::uint32_t>(tag - first); }
  // A row whose length is below 255, into capacity the caller made sure of.
  void push(TokenTag kind, std::uint32_t from, std::uint32_t size, std::uint32_t value) {
    const std::size_t column = capacity;
    tag[0] = kind;
    reinterpret_cast<std::uint8_t*>(tag)[column] = static_cast<std::uint8_t>(size);
    start[0] = from;
    start[column] = value;
    ++tag;
    ++start;
  }
  bool last_is(TokenTag kind) const { return tag != first && tag[-1] == kind; }
  bool last_is_dot() const {
    return last_is(TokenTag::Operator) &&
           start[static_cast<std::size_t>(capacity) - 1] == static_cast<std::uint32_t>(Operator::Dot);
  }

  TokenColumns& columns;
  TokenTag* first;
  TokenTag* tag;
  std::uint32_t* start;
  std::uint32_t capacity;
};

// The keyword adjustment of the last row (`n`) for the token after it.
// False when the token is dropped (the `in` of a `not in`).
bool adjust_last_row(Lexer& lx, TokenTag* tags, std::uint8_t* lengths, std::uint32_t* starts,
                     std::uint32_t* data, TokenIndex n, TokenTag tag, std::uint32_t start,
                     std::uint32_t length, std::uint32_t datum) {
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

// Tokens through `token`, from `p`: the trivia, one token with the keyword
// adjustment of the row before it, and more while the last row is `type` or
// `not` (whose adjustment needs the token after them). The columns hold every
// row so far. Returns where the last token ends; `eof` is set once the Eof
// row is made.
[[gnu::noinline]] std::size_t general_tokens(Lexer& lx, std::size_t p, bool& eof) {
  TokenColumns& columns = lx.out.columns();
  for (;;) {
    lx.pos = p;
    skip_trivia(lx);
    Rows last(columns);
    const bool after_keyword = last.last_is(TokenTag::Keyword);
    std::uint32_t start, end;
    Lexed t = token(lx, last.last_is_dot(), start, end);
    p = lx.pos;
    if (after_keyword && !adjust_last_row(lx, columns.tags(), columns.lengths(), columns.starts(),
                                          columns.data(), last.n() - 1, t.tag, start, end - start, t.data))
      return p;  // the `in` of a `not in`
    push_main(lx, t, start, end);
    if (t.tag == TokenTag::Eof) {
      eof = true;
      return p;
    }
    if (t.tag != TokenTag::Keyword || (t.data != static_cast<std::uint32_t>(Keyword::Type) &&
                                       t.data != static_cast<std::uint32_t>(Keyword::Not)))
      return p;
  }
}

// The main list: trivia, one token, its row; repeated until the end of the
// input. The common tokens (names, operators, small integers) are read here,
// one jump on their first byte to code of their own; the others, and every
// token the keyword before it may change, go through `general_tokens`.
//
// The loop runs while `p` is below `stop`, which is the least of
//   - the end of the input less 8 bytes, so that the next 8 bytes can be read
//     without looking at the end;
//   - the last byte that ends a name (one that is no continuation byte), so
//     that runs of name bytes and digits stop before the end of the input;
//   - `p` plus the rows left in the columns: a token has at least one byte,
//     so the rows pushed before `stop` fit.
// Past the first two, the last tokens go through `general_tokens`.
void lex_main(Lexer& lx) {
  TokenColumns& columns = lx.out.columns();
  // Dense scripts average about three bytes per token.
  columns.reserve(lx.size / 3 + 16);
  Rows rows(columns);
  const char* const s = lx.src;
  const std::size_t size = lx.size;
  SymbolIndex& symbols = lx.symbol_index;
  std::vector<std::string_view>& names = lx.out.symbols();

  std::size_t word_end = size;  // just past the last byte that ends a name
  while (word_end > 0 && (kNameByte[static_cast<unsigned char>(s[word_end - 1])] & kContinues) != 0)
    --word_end;
  const std::size_t fast_end = std::min(word_end, size >= 8 ? size - 7 : 0);
  std::size_t p = 0;
  std::size_t stop = 0;
  auto limit = [&] { stop = std::min<std::size_t>(fast_end, p + (rows.capacity - rows.n())); };
  limit();

  std::size_t q;        // the end of the token being read
  std::uint32_t datum;  // its row's datum
  bool eof = false;

  // Where each first byte goes.
  // clang-format off
  static const void* const kDispatch[256] = {
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0x00
      &&other, &&tab, &&newline, &&other, &&other, &&cr, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0x10
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&space, &&bang, &&other, &&other, &&dollar, &&percent, &&amp, &&other,  // 0x20  !"#$%&'
      &&open_paren, &&close_paren, &&star, &&plus, &&comma, &&minus, &&dot, &&slash,  // ()*+,-./
      &&digit, &&digit, &&digit, &&digit, &&digit, &&digit, &&digit, &&digit,  // 0x30
      &&digit, &&digit, &&colon, &&semicolon, &&lt, &&eq, &&gt, &&question,  // 89:;<=>?
      &&other, &&name, &&name, &&name, &&name, &&name, &&name, &&name,  // 0x40 @A-G
      &&name, &&name, &&name, &&name, &&name, &&name, &&name, &&name,  // H-O
      &&name, &&name, &&name, &&name, &&name, &&name, &&name, &&name,  // 0x50 P-W
      &&name, &&name, &&name, &&open_bracket, &&other, &&close_bracket, &&caret, &&underscore,  // XYZ[\]^_
      &&other, &&name, &&name, &&name, &&name, &&name, &&name, &&name,  // 0x60 `a-g
      &&name, &&name, &&name, &&name, &&name, &&name, &&name, &&name,  // h-o
      &&name, &&name, &&name, &&name, &&name, &&name, &&name, &&name,  // 0x70 p-w
      &&name, &&name, &&name, &&open_brace, &&bar, &&close_brace, &&other, &&other,  // xyz{|}~
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0x80
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0x90
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0xA0
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0xB0
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0xC0
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0xD0
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0xE0
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,  // 0xF0
      &&other, &&other, &&other, &&other, &&other, &&other, &&other, &&other,
  };
  // clang-format on

// On to the token at `p`.
#define QUENDAL_LEX_NEXT()                             \
  do {                                                 \
    if (p >= stop) [[unlikely]]                        \
      goto boundary;                                   \
    goto* kDispatch[static_cast<unsigned char>(s[p])]; \
  } while (false)
// A row of `length` bytes at `p`, then one blank after it: the usual trivia
// (longer runs are left for the dispatch).
#define QUENDAL_LEX_ROW(kind, length, value)                       \
  do {                                                             \
    rows.push(kind, static_cast<std::uint32_t>(p), length, value); \
    p += length;                                                   \
    if (s[p] == ' ') ++p;                                          \
    QUENDAL_LEX_NEXT();                                            \
  } while (false)
#define QUENDAL_LEX_OPERATOR(length, op) \
  QUENDAL_LEX_ROW(TokenTag::Operator, length, static_cast<std::uint32_t>(Operator::op))
// An operator of one byte, or of two when the second is `second`.
#define QUENDAL_LEX_ONE_OR_TWO(second, two, one)          \
  do {                                                    \
    if (s[p + 1] == second) QUENDAL_LEX_OPERATOR(2, two); \
    QUENDAL_LEX_OPERATOR(1, one);                         \
  } while (false)

  QUENDAL_LEX_NEXT();

space:
  p = s[p + 1] == ' ' ? spaces_end(s, size, p + 2) : p + 1;
  QUENDAL_LEX_NEXT();
tab:
  ++p;
  QUENDAL_LEX_NEXT();
newline:
  // The indentation of the next line with it.
  p = spaces_end(s, size, p + 1);
  QUENDAL_LEX_NEXT();
cr:
  // "\r\n" is a line break; a lone "\r" an unknown character.
  if (s[p + 1] != '\n') goto general;
  p += 2;
  QUENDAL_LEX_NEXT();
slash:
  // A comment, or the operator.
  if (s[p + 1] == '/' || s[p + 1] == '*') {
    lx.pos = p;
    skip_trivia(lx);
    if (lx.pos != p) {
      p = lx.pos;
      QUENDAL_LEX_NEXT();
    }
  }
  QUENDAL_LEX_ONE_OR_TWO('=', SlashEq, Slash);

underscore:
  // name -> "_"+ continuation*
  q = p + 1;
  while (s[q] == '_') ++q;
  goto name_rest;
dollar:
  // name -> "$"+ continuation*. A "$" ends no name run, so this one looks
  // for the end of the input itself.
  q = p + 1;
  while (q < size && s[q] == '$') ++q;
  if (q >= fast_end) goto general;
  goto name_rest;
name:
  // name -> letter continuation*
  q = p + 1;
name_rest : {
  // One-letter names are common enough for a look of their own.
  if ((kNameByte[static_cast<unsigned char>(s[q])] & kContinues) != 0) q = name_run_end(s, size, q + 1);
  // More of the name beyond ASCII? (A name's run ends before the input
  // does: see word_end.)
  if (kNameByte[static_cast<unsigned char>(s[q])] != 0) goto general;
  const std::size_t n = q - p;
  if (n > 8) [[unlikely]] {
    // Longer than any keyword.
    if (n >= TokenColumns::kLongLength) goto general;
    datum = lx.intern(std::string_view(s + p, n));
  } else {
    std::uint64_t word;
    std::memcpy(&word, s + p, 8);
    word &= kLowBytes[n];
    SymbolIndex::Slot& slot = symbols.find_short(word);
    if (slot.keyword != 0 && !rows.last_is_dot()) {
      datum = slot.keyword - 1;
      rows.push(TokenTag::Keyword, static_cast<std::uint32_t>(p), static_cast<std::uint32_t>(n), datum);
      p = q;
      // The token after `type` or `not` decides what they are.
      if (datum == static_cast<std::uint32_t>(Keyword::Type) ||
          datum == static_cast<std::uint32_t>(Keyword::Not))
        goto general;
      if (s[p] == ' ') ++p;
      QUENDAL_LEX_NEXT();
    }
    datum = symbols.id_of(names, slot, s + p, static_cast<std::uint32_t>(n), word);
  }
  rows.push(TokenTag::Identifier, static_cast<std::uint32_t>(p), static_cast<std::uint32_t>(n), datum);
  p = q;
  if (s[p] == ' ') ++p;
  QUENDAL_LEX_NEXT();
}

digit : {
  // The usual number: a few digits that end the word, no leading zero, at
  // most 2147483647: an ordinal. After a dot, digits are an ordinal of
  // their own kind.
  if (rows.last_is_dot()) goto general;
  q = p;
  std::uint64_t value = 0;
  while (q - p < 11 && s[q] >= '0' && s[q] <= '9') {
    value = value * 10 + static_cast<unsigned>(s[q] - '0');
    ++q;
  }
  const auto next = static_cast<unsigned char>(s[q]);
  const std::size_t n = q - p;
  // A "." after the digits starts a fraction, except in "..": the start of
  // a range (`0..<n`) ends the number.
  if (kNameByte[next] != 0 || (next == '.' && (q + 1 >= size || s[q + 1] != '.')) || n > 10 ||
      (s[p] == '0' && n != 1) || value > 2147483647u)
    goto general;
  QUENDAL_LEX_ROW(TokenTag::Ordinal, static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(value));
}

open_paren:
  QUENDAL_LEX_OPERATOR(1, OpenParen);
close_paren:
  QUENDAL_LEX_OPERATOR(1, CloseParen);
open_bracket:
  QUENDAL_LEX_OPERATOR(1, OpenBracket);
close_bracket:
  QUENDAL_LEX_OPERATOR(1, CloseBracket);
open_brace:
  QUENDAL_LEX_OPERATOR(1, OpenBrace);
close_brace:
  QUENDAL_LEX_OPERATOR(1, CloseBrace);
comma:
  QUENDAL_LEX_OPERATOR(1, Comma);
semicolon:
  QUENDAL_LEX_OPERATOR(1, Semicolon);
colon:
  if (s[p + 1] == ':') QUENDAL_LEX_OPERATOR(2, ColonColon);
  // After a keyword, a colon makes it a name.
  if (rows.last_is(TokenTag::Keyword)) goto general;
  QUENDAL_LEX_OPERATOR(1, Colon);
dot:
  if (s[p + 1] != '.') QUENDAL_LEX_OPERATOR(1, Dot);
  if (s[p + 2] == '<') QUENDAL_LEX_OPERATOR(3, DotDotLt);
  QUENDAL_LEX_OPERATOR(2, DotDot);
plus:
  QUENDAL_LEX_ONE_OR_TWO('=', PlusEq, Plus);
minus:
  if (s[p + 1] == '>') QUENDAL_LEX_OPERATOR(2, Arrow);
  QUENDAL_LEX_ONE_OR_TWO('=', MinusEq, Minus);
star:
  QUENDAL_LEX_ONE_OR_TWO('=', AsteriskEq, Asterisk);
percent:
  QUENDAL_LEX_ONE_OR_TWO('=', PercentEq, Percent);
caret:
  QUENDAL_LEX_ONE_OR_TWO('=', CaretEq, Caret);
amp:
  // A lone "&" is an unknown character.
  if (s[p + 1] != '&') goto general;
  if (s[p + 2] == '=') QUENDAL_LEX_OPERATOR(3, AndAndEq);
  QUENDAL_LEX_OPERATOR(2, AndAnd);
bar:
  if (s[p + 1] != '|') goto general;
  if (s[p + 2] == '=') QUENDAL_LEX_OPERATOR(3, OrOrEq);
  QUENDAL_LEX_OPERATOR(2, OrOr);
eq:
  if (s[p + 1] == '~') QUENDAL_LEX_OPERATOR(2, EqTilde);
  QUENDAL_LEX_ONE_OR_TWO('=', EqEq, Eq);
bang:
  if (s[p + 1] == '=') {
    // "!" directly before "==" or "=~" stays a lone "!".
    if (s[p + 2] == '=' || s[p + 2] == '~') QUENDAL_LEX_OPERATOR(1, Exclamation);
    QUENDAL_LEX_OPERATOR(2, ExclamationEq);
  }
  QUENDAL_LEX_ONE_OR_TWO('~', ExclamationTilde, Exclamation);
lt:
  QUENDAL_LEX_ONE_OR_TWO('=', LtEq, Lt);
gt:
  QUENDAL_LEX_ONE_OR_TWO('=', GtEq, Gt);
question:
  if (s[p + 1] == ':') {
    if (rows.last_is(TokenTag::Keyword)) goto general;
    QUENDAL_LEX_OPERATOR(2, QuestionColon);
  }
  if (s[p + 1] != '?') QUENDAL_LEX_OPERATOR(1, Question);
  if (s[p + 2] == '=') QUENDAL_LEX_OPERATOR(3, QuestionQuestionEq);
  QUENDAL_LEX_OPERATOR(2, QuestionQuestion);

other:
general:
  // Strings, other numbers, names beyond ASCII, unknown characters, and
  // whatever the keyword before it may change.
  rows.sync();
  p = general_tokens(lx, p, eof);
  rows.load();
  limit();
  if (eof) goto done;
  QUENDAL_LEX_NEXT();

boundary:
  if (p < fast_end) {
    // The rows left are fewer than the bytes left before `fast_end`.
    if (rows.n() == rows.capacity) {
      rows.sync();
      columns.grow();
      rows.load();
    }
    limit();
    QUENDAL_LEX_NEXT();
  }
  // The last bytes, up to and including the Eof row.
  rows.sync();
  while (!eof) p = general_tokens(lx, p, eof);
  rows.load();

done:
#undef QUENDAL_LEX_NEXT
#undef QUENDAL_LEX_ROW
#undef QUENDAL_LEX_OPERATOR
#undef QUENDAL_LEX_ONE_OR_TWO
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
