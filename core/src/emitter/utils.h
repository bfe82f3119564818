#pragma once
// Small helpers of the emitter: token ranges, literal values, the
// operator-to-opcode tables.
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

#include "emitter/opcode.h"
#include "emitter/variable.h"
#include "parser/ast.h"

namespace quendal {

inline SourceRange token_range(const Token& token) { return {token.start, token.end}; }
inline SourceRange span_of(SourceRange first, SourceRange last) { return {first.start, last.end}; }

// The same for a referenced operator or keyword token: read from the
// store's columns when the token is the store's, else read whole.
inline TokenKind operator_kind(const TokenRef& token) {
  if (token.is_borrowed()) {
    const Tokens& tokens = tokens_in_use();
    const TokenIndex index = token.index();
    const TokenTag tag = tokens.tag(index);
    if (tag == TokenTag::Operator) {
      TokenKind kind;
      kind.tag = tag;
      kind.op = tokens.op(index);
      return kind;
    }
    if (tag == TokenTag::Keyword) {
      TokenKind kind;
      kind.tag = tag;
      kind.keyword = tokens.keyword(index);
      return kind;
    }
  }
  return peeled_kind(*token);
}

bool is_identifier(const Token& token);
bool is_keyword(const Token& token, Keyword keyword);
bool is_operator(const Token& token, Operator op);
// The identifier's spelling, or empty.
std::string_view identifier_text(const Token& token);

// The identifier's spelling and symbol, or an empty name.
inline VariableName variable_name(const Token& token) {
  const TokenKind* k = &token.kind;
  while (k->tag == TokenTag::Unknown && k->unknown_box != nullptr) [[unlikely]] k = &k->unknown_box->inner;
  if (k->tag != TokenTag::Identifier) return VariableName(std::string_view{}, kNoSymbol);
  return VariableName(k->text(), k->symbol);
}

// The name of a referenced token; a token of the store is read from its
// columns without reading it whole.
inline VariableName variable_name(const TokenRef& token) {
  if (token.is_borrowed()) {
    const Tokens& tokens = tokens_in_use();
    const TokenIndex index = token.index();
    if (tokens.tag(index) == TokenTag::Identifier) {
      const SymbolId symbol = tokens.data(index);
      return VariableName(tokens.symbol_text(symbol), symbol);
    }
  }
  return variable_name(*token);
}

// The same questions about a referenced token; a token of the store is
// answered from its columns without reading it whole.
bool is_identifier_slow(const TokenRef& token);
inline bool is_identifier(const TokenRef& token) {
  if (token.is_borrowed()) {
    const TokenTag tag = tokens_in_use().tag(token.index());
    if (tag != TokenTag::Unknown) [[likely]]
      return tag == TokenTag::Identifier;
  }
  return is_identifier_slow(token);
}
bool is_keyword(const TokenRef& token, Keyword keyword);
bool is_operator(const TokenRef& token, Operator op);
std::string_view identifier_text(const TokenRef& token);

// The numeric value of an integer, number, `nan` or `inf` token.
std::optional<double> literal_number(const Token& token);
// Integer or number token (not `nan`/`inf`).
bool is_numeric_literal_token(const Token& token);
bool is_string_literal_token(const Token& token);
bool is_boolean_literal_token(const Token& token);

// Binary arithmetic and relation operators with their instruction
// (+ Add, - Sub, * Mul, / Div, % Mod, ^ Pow, == Eq, != Neq, =~ Aeq, !~ Naeq,
// > Gt, >= Gte, < Lt, <= Lte); nothing for any other operator.
constexpr std::optional<OpCode> binary_opcode_rule(Operator op) {
  switch (op) {
    case Operator::Plus:
      return OpCode::Add;
    case Operator::Minus:
      return OpCode::Sub;
    case Operator::Asterisk:
      return OpCode::Mul;
    case Operator::Slash:
      return OpCode::Div;
    case Operator::Percent:
      return OpCode::Mod;
    case Operator::Caret:
      return OpCode::Pow;
    case Operator::EqEq:
      return OpCode::Eq;
    case Operator::ExclamationEq:
      return OpCode::Neq;
    case Operator::EqTilde:
      return OpCode::Aeq;
    case Operator::ExclamationTilde:
      return OpCode::Naeq;
    case Operator::Gt:
      return OpCode::Gt;
    case Operator::GtEq:
      return OpCode::Gte;
    case Operator::Lt:
      return OpCode::Lt;
    case Operator::LtEq:
      return OpCode::Lte;
    default:
      return std::nullopt;
  }
}

namespace detail {
// binary_opcode_rule as a table, read on every operator: the operation plus
// one, 0 for none.
inline constexpr std::array<std::uint8_t, kOperatorCount> kBinaryOpcodePlusOne = [] {
  std::array<std::uint8_t, kOperatorCount> table{};
  for (int i = 0; i < kOperatorCount; ++i) {
    if (const std::optional<OpCode> code = binary_opcode_rule(static_cast<Operator>(i)))
      table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(*code) + 1);
  }
  return table;
}();
static_assert(kOpCodeCount < 255, "an operation plus one fits a byte");
}  // namespace detail

inline std::optional<OpCode> binary_opcode(Operator op) {
  const auto index = static_cast<std::size_t>(op);
  if (index >= detail::kBinaryOpcodePlusOne.size()) return std::nullopt;
  const std::uint8_t entry = detail::kBinaryOpcodePlusOne[index];
  if (entry == 0) return std::nullopt;
  return static_cast<OpCode>(entry - 1);
}

// Compound assignment operators: += Add ... ^= Pow.
std::optional<OpCode> compound_opcode(Operator op);

// ----------------------------------------------------------------- chains
// A postfix form (field, index or slice access, `!`, call, extension call,
// tagged string) applies to one operand: its object, callee expression,
// receiver or tag. Chains of them are walked with loops, not recursion: all
// forms of one chain start where its innermost operand starts, so a walk
// finds that start once and each form's own end is where its last token ends.
// (Their ranges come from start_of and end_of, which cross chains in loops.)
enum class PostfixForm : std::uint8_t {
  FieldAccess,
  IndexAccess,
  SliceAccess,
  NonNilAssertion,
  Call,
  ExtensionCall,
  TaggedString,
};
// The postfix form of an expression; none for every other kind.
std::optional<PostfixForm> postfix_form(const Expression& expression);
inline bool is_postfix(const Expression& expression) { return postfix_form(expression).has_value(); }
// The operand of a postfix form; nullptr for a call of a named callee (or of
// `type`) and for every other form.
const Expression* postfix_operand(const Expression& expression);

// The sides of an `and` or `or` pattern; both null for every other form.
struct PatternSides {
  const Pattern* left = nullptr;
  const Pattern* right = nullptr;
};
PatternSides combined_sides(const Pattern& pattern);
inline bool is_combined(const Pattern& pattern) {
  return pattern.kind == PatternKind::And || pattern.kind == PatternKind::Or;
}

// The pattern of a parameter, spread or not (null after recovery).
inline const Pattern* parameter_pattern(const PatternElement& element) {
  return element.is_spread() ? element.spread_value() : element.element.get();
}
// A parameter that is a plain name gets its register without a pattern.
inline bool is_plain_name(const Pattern* pattern) {
  return pattern != nullptr && pattern->kind == PatternKind::Binding;
}

inline const Expression& unwrap_group(const Expression& expression) {
  const Expression* e = &expression;
  while (e->kind == ExpressionKind::Group && e->as<GroupExpression>().expression != nullptr)
    e = e->as<GroupExpression>().expression;
  return *e;
}

}  // namespace quendal
