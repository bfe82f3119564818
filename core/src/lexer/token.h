#pragma once
// The token model shared by the lexer and the parser.
//
// The lexer keeps its tokens as columns in a store (see tokens.h); a Token
// is one of them read back as a value: kind, payload and range. Texts are
// string views, borrowed from the source or owned by the compilation's arena
// (where text had to be assembled). Number and string payloads live in the
// store's side tables; Unknown boxes, which only the parser still makes, in
// the arena.
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "diagnostic/source_diagnostic.h"
#include "support/arena.h"

namespace quendal {

enum class Keyword : std::uint8_t {
#define QUENDAL_KEYWORD(name, spelling, constant, reserved, prefix, right, power) name,
#include "lexer/keywords.def"
#undef QUENDAL_KEYWORD
};
inline constexpr int kKeywordCount = 39;

enum class Operator : std::uint8_t {
#define QUENDAL_OPERATOR(name, spelling, a, c, l, p, e, r, prefix, right, power) name,
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

struct Token;
class Tokens;
using ArenaDiagnostics = std::pmr::vector<SourceDiagnostic>;

// Index of a token in its compilation's token store (see Tokens).
using TokenIndex = std::uint32_t;
// Dense id of an interned identifier spelling, given by the lexer in order of
// first appearance.
using SymbolId = std::uint32_t;
inline constexpr SymbolId kNoSymbol = 0xFFFFFFFFu;

// A list of tokens: the indices [begin, end) of the store.
struct TokenRange {
  TokenIndex begin = 0;
  TokenIndex end = 0;
  std::uint32_t size() const { return end - begin; }
  bool empty() const { return begin == end; }
  friend bool operator==(const TokenRange&, const TokenRange&) = default;
};

struct NumberInfo {
  enum class Kind : std::uint8_t { Invalid, Decimal, Hex, Octal, Binary };
  Kind kind = Kind::Invalid;
  std::string_view decimal;   // Decimal: the source spelling, underscores included
  std::uint64_t integer = 0;  // Hex, Octal, Binary: the value
  double value = 0;           // the token's number
};

// One end of an interpolation's parenthesised form: a small token (`(`, `)`,
// the end of the input or an empty placeholder).
struct Delimiter {
  TokenTag tag = TokenTag::Empty;
  Operator op = Operator::OpenParen;  // when tag is Operator
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// What an Interpolation fragment holds, in a table of its own so that the far
// more common text and escape fragments stay small.
struct StringInterpolation {
  TokenRange tokens;                               // empty once the tokens have moved into the string's parts
  std::uint32_t dollar_start = 0, dollar_end = 0;  // the opener ($ run)
  std::uint32_t format_start = 0, format_end = 0;  // empty when there is none
  bool has_delimiters = false;                     // the ( form: (opening, closing)
  Delimiter open, close;
};

// One piece of a literal's content. Texts are ranges of the source.
struct StringFragment {
  enum class Kind : std::uint8_t { Text, Escape, Error, Interpolation };
  Kind kind = Kind::Text;
  DiagnosticCode code = DiagnosticCode::InvalidEscapeSequence;  // Error: its code
  // Escape: the decoded character. Interpolation: its index in the store's
  // interpolation table.
  std::uint32_t value = 0;
  // Text: the literal run. Escape: the sequence after the backslash. Error:
  // the range starting just after the backslash. Interpolation: the opener.
  std::uint32_t start = 0;
  std::uint32_t end = 0;

  char32_t character() const { return static_cast<char32_t>(value); }
};

struct StringPart {
  std::string_view text;  // literal text before the interpolation, escapes decoded
  TokenRange tokens;      // the interpolation's tokens (empty for the last part)
  std::string_view format;
  bool text_owned = false;  // `text` was assembled in the arena rather than borrowed
};

struct StringInfo {
  std::uint32_t open_start = 0, open_end = 0;
  std::uint32_t close_start = 0, close_end = 0;
  std::uint32_t raw_level = 0;
  char quote = 0;  // '"', '\'', '`', or 0 for a template
  bool value_owned = false;
  // Where `fragments` and `parts` lie in the store's tables.
  std::uint32_t first_fragment = 0, fragment_count = 0;
  std::uint32_t first_part = 0, part_count = 0;
  // The literal's content, in the store's fragment table.
  std::span<const StringFragment> fragments;
  // InterpolatedString only: n interpolations give n + 1 parts.
  std::span<const StringPart> parts;
  // String only: the value, borrowed from the source or assembled (owned).
  std::string_view value;
};

struct UnknownBox;

// A token kind with its payload, as the parser and the emitter read it. The
// fields used depend on `tag`:
//   Identifier: text() and symbol   Ordinal: ordinal
//   Number: number_info (number() is its value)
//   String: string (text() is its value)
//   InterpolatedString: string      Operator: op    Keyword: keyword
//   Unknown: unknown_box (inner kind + diagnostics)
struct TokenKind {
  TokenTag tag = TokenTag::Empty;
  union {
    Keyword keyword;
    Operator op;
    std::int32_t ordinal;
    std::uint32_t text_size;  // Identifier
  };
  SymbolId symbol = kNoSymbol;  // Identifier: the interned name, when the lexer made it
  union {
    const char* text_data;  // Identifier
    const NumberInfo* number_info;
    const StringInfo* string;
    UnknownBox* unknown_box;
    const void* payload;
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
  static TokenKind identifier(std::string_view name, SymbolId symbol = kNoSymbol) {
    TokenKind k;
    k.tag = TokenTag::Identifier;
    k.text_data = name.data();
    k.text_size = static_cast<std::uint32_t>(name.size());
    k.symbol = symbol;
    return k;
  }
  static TokenKind of_ordinal(std::int32_t value) {
    TokenKind k;
    k.tag = TokenTag::Ordinal;
    k.ordinal = value;
    return k;
  }
  static TokenKind of_number(const NumberInfo* info) {
    TokenKind k;
    k.tag = TokenTag::Number;
    k.number_info = info;
    return k;
  }
  static TokenKind of_string(const StringInfo* info) {
    TokenKind k;
    k.tag = TokenTag::String;
    k.string = info;
    return k;
  }
  static TokenKind of_interpolated(const StringInfo* info) {
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
  // constructors count the Unknown in the arena (Arena::count_unknown).
  static TokenKind unknown(Arena& arena, TokenKind inner, std::uint64_t start, std::uint64_t end,
                           DiagnosticCode code);
  // Wraps `inner` with a whole list of diagnostics.
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

// One token as a value: its kind and its byte range.
struct Token {
  TokenKind kind;
  std::uint32_t start = 0;
  std::uint32_t end = 0;

  // If the kind is Unknown: hands its diagnostics to the collector (filtered)
  // and unwraps exactly one level.
  void collect_diagnostics(DiagnosticsCollector& collector);
};

// The kind a token stands for, with every Unknown wrapper removed (a copy:
// tokens are often values read from the store).
inline TokenKind peeled_kind(const TokenKind& kind) {
  const TokenKind* k = &kind;
  while (k->tag == TokenTag::Unknown && k->unknown_box != nullptr) [[unlikely]] k = &k->unknown_box->inner;
  return *k;
}
inline TokenKind peeled_kind(const Token& token) { return peeled_kind(token.kind); }

// Copy for a rewrite: an Unknown box is duplicated into `arena`; number and
// string payloads, which nothing changes once lexed, are shared.
TokenKind clone_kind(const TokenKind& kind, Arena& arena);
Token clone_token(const Token& token, Arena& arena);

}  // namespace quendal
