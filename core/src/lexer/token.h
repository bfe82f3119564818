#pragma once
// The token model shared by the lexer and the parser.
//
// Tokens live in arena-backed lists (one arena per compilation). Texts are
// string views: either borrowed from the source or owned by the arena (where
// text had to be assembled). Every payload a token owns (NumberInfo,
// StringInfo, the Unknown box) is allocated in the same arena, so tokens and
// their payloads are never destroyed individually.
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <string_view>
#include <utility>

#include "diagnostic/source_diagnostic.h"
#include "support/arena.h"

namespace quendal {

// How many Unknown token kinds and Unknown tree nodes this thread has made so
// far. A compilation that made none has no stored diagnostics to collect, so
// it can skip the walk over its tree (compare the count before and after).
inline thread_local std::uint64_t unknowns_made = 0;

enum class Keyword : std::uint8_t {
#define QUENDAL_KEYWORD(name, spelling, constant, reserved) name,
#include "lexer/keywords.def"
#undef QUENDAL_KEYWORD
};
inline constexpr int kKeywordCount = 39;

enum class Operator : std::uint8_t {
#define QUENDAL_OPERATOR(name, spelling, a, c, l, p, e, r) name,
#include "lexer/operators.def"
#undef QUENDAL_OPERATOR
};
inline constexpr int kOperatorCount = 44;

std::string_view keyword_spelling(Keyword keyword);
std::string_view operator_spelling(Operator op);
// Property look-up: true when the member has the property, nothing otherwise
// (never false). Keyword properties: "constant", "reserved". Operator
// properties: "arithmetic", "compound", "logical", "postfix", "equality",
// "comparison".
std::optional<bool> keyword_property(Keyword keyword, std::string_view property);
std::optional<bool> operator_property(Operator op, std::string_view property);
bool keyword_is_constant(Keyword keyword);
bool keyword_is_reserved(Keyword keyword);
bool operator_is_arithmetic(Operator op);
bool operator_is_compound(Operator op);
bool operator_is_logical(Operator op);
bool operator_is_postfix(Operator op);
bool operator_is_equality(Operator op);
bool operator_is_comparison(Operator op);
// Equality or comparison.
bool is_relation(Operator op);

struct Token;
using TokenList = std::pmr::vector<Token>;
using ArenaDiagnostics = std::pmr::vector<SourceDiagnostic>;

struct NumberInfo {
  enum class Kind : std::uint8_t { Invalid, Decimal, Hex, Octal, Binary };
  Kind kind = Kind::Invalid;
  std::string_view decimal;   // Decimal: the source spelling, underscores included
  std::uint64_t integer = 0;  // Hex, Octal, Binary: the value
  double value = 0;           // the token's number
};

struct TokenPair;

// What an Interpolation fragment holds, kept apart so that the far more
// common text and escape fragments stay small (a literal full of escapes has
// one fragment every few bytes).
struct StringInterpolation {
  TokenList* tokens = nullptr;      // never null
  std::string_view dollar;          // the opener ($ run)
  std::string_view format;          // empty when there is none
  TokenPair* delimiters = nullptr;  // (opening, closing) of the ( form, else null
};

struct StringFragment {
  enum class Kind : std::uint8_t { Text, Escape, Error, Interpolation };
  Kind kind = Kind::Text;
  DiagnosticCode code = DiagnosticCode::InvalidEscapeSequence;  // Error: its code
  char32_t character = 0;                                       // Escape: the decoded character
  // Error: range starting just after the backslash.
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  // Text: the literal run. Escape: the sequence after the backslash.
  std::string_view text;
  StringInterpolation* interpolation = nullptr;  // Interpolation: never null; else null
};

struct StringPart {
  std::string_view text;  // literal text before the interpolation, escapes decoded
  TokenList* tokens;      // the interpolation's tokens (empty list for the last part)
  std::string_view format;
  bool text_owned = false;  // `text` was assembled in the arena rather than borrowed
};

struct StringInfo {
  explicit StringInfo(std::pmr::memory_resource* r) : fragments(r), parts(r) {}
  std::pmr::vector<StringFragment> fragments;
  std::uint32_t open_start = 0, open_end = 0;
  std::uint32_t close_start = 0, close_end = 0;
  std::uint32_t raw_level = 0;
  char quote = 0;  // '"', '\'', '`', or 0 for a template
  // InterpolatedString only: n interpolations give n + 1 parts.
  std::pmr::vector<StringPart> parts;
  // String only: the value, and whether it was assembled (owned) rather
  // than borrowed from the source.
  std::string_view value;
  bool value_owned = false;
};

struct UnknownBox;

enum class TokenTag : std::uint8_t {
  Eof,
  Identifier,
  Ordinal,
  Number,
  String,
  InterpolatedString,
  Operator,
  Keyword,
  Unknown,
  Empty,
};

// A tagged token kind, 24 bytes. The fields used depend on `tag`:
//   Identifier: text()        Ordinal: ordinal
//   Number: number_info (number() is its value)
//   String: string (text() is its value)
//   InterpolatedString: string            Operator: op    Keyword: keyword
//   Unknown: unknown_box (inner kind + diagnostics)
struct TokenKind {
  TokenTag tag = TokenTag::Empty;
  // Parser bookkeeping: the number of the last memo entry stored for a rule
  // starting at this token, 0 for none (see MemoTable). It fills padding, so
  // the token does not grow.
  mutable std::uint32_t memo_head = 0;
  union {
    Keyword keyword;
    Operator op;
    std::int32_t ordinal;
    std::uint32_t text_size;  // Identifier
  };
  union {
    const char* text_data;  // Identifier
    NumberInfo* number_info;
    StringInfo* string;
    UnknownBox* unknown_box;
    void* payload;
  };

  TokenKind() : ordinal(0), payload(nullptr) {}

  // Identifier: the name. String: the value. Anything else: empty.
  std::string_view text() const {
    if (tag == TokenTag::Identifier) return {text_data, text_size};
    if (tag == TokenTag::String) return string->value;
    return {};
  }
  // Number: the value. Anything else: 0.
  double number() const { return tag == TokenTag::Number ? number_info->value : 0.0; }

  static TokenKind eof() {
    TokenKind k;
    k.tag = TokenTag::Eof;
    return k;
  }
  static TokenKind empty() { return TokenKind(); }
  // Names come from sources, which are shorter than 4 GiB, or are spellings.
  static TokenKind identifier(std::string_view name) {
    TokenKind k;
    k.tag = TokenTag::Identifier;
    k.text_data = name.data();
    k.text_size = static_cast<std::uint32_t>(name.size());
    return k;
  }
  static TokenKind of_ordinal(std::int32_t value) {
    TokenKind k;
    k.tag = TokenTag::Ordinal;
    k.ordinal = value;
    return k;
  }
  // `info` (never null) receives the value.
  static TokenKind of_number(double value, NumberInfo* info) {
    TokenKind k;
    k.tag = TokenTag::Number;
    info->value = value;
    k.number_info = info;
    return k;
  }
  // `info` (never null) receives the value.
  static TokenKind of_string(StringInfo* info, std::string_view value) {
    TokenKind k;
    k.tag = TokenTag::String;
    info->value = value;
    k.string = info;
    return k;
  }
  static TokenKind of_interpolated(StringInfo* info) {
    TokenKind k;
    k.tag = TokenTag::InterpolatedString;
    k.string = info;
    return k;
  }
  static TokenKind of_operator(Operator op) {
    TokenKind k;
    k.tag = TokenTag::Operator;
    k.op = op;
    return k;
  }
  static TokenKind of_keyword(Keyword kw) {
    TokenKind k;
    k.tag = TokenTag::Keyword;
    k.keyword = kw;
    return k;
  }
  // Wraps `inner` with exactly one diagnostic (start, end, code). Both
  // constructors count into `unknowns_made`.
  static TokenKind unknown(Arena& arena, TokenKind inner, std::uint64_t start, std::uint64_t end,
                           DiagnosticCode code);
  // Wraps `inner` with a whole list of diagnostics (the string lexer).
  static TokenKind unknown_with(Arena& arena, TokenKind inner, ArenaDiagnostics diagnostics);

  bool is_eof() const { return tag == TokenTag::Eof; }
  bool is_operator(Operator o) const { return tag == TokenTag::Operator && op == o; }
  bool is_keyword(Keyword k) const { return tag == TokenTag::Keyword && keyword == k; }

  // The record field name this token denotes in a field-name position, with
  // the tag code classifying it. Ordinals are formatted into arena text.
  std::optional<std::pair<DiagnosticCode, std::string_view>> to_field_name(Arena& arena) const;
};

struct UnknownBox {
  explicit UnknownBox(std::pmr::memory_resource* r) : diagnostics(r) {}
  TokenKind inner;
  ArenaDiagnostics diagnostics;
};

class DiagnosticsCollector;

struct Token {
  TokenKind kind;
  std::uint32_t start = 0;
  std::uint32_t end = 0;

  // If the kind is Unknown: hands its diagnostics to the collector (filtered)
  // and unwraps exactly one level.
  void collect_diagnostics(DiagnosticsCollector& collector);
};

static_assert(sizeof(void*) != 8 || sizeof(Token) == 32, "tokens stay at 32 bytes");

struct TokenPair {
  Token open;
  Token close;
};

// Deep copy: owned payloads are duplicated into `arena`, borrowed texts stay
// borrowed, nested token lists are copied recursively.
TokenKind clone_kind(const TokenKind& kind, Arena& arena);
Token clone_token(const Token& token, Arena& arena);

}  // namespace quendal
