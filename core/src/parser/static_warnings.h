#pragma once
// Forms that draw a warning or hint read off the tree, without anything
// being evaluated: literal operands such as `"a" - 1`, `1 and x`, `x in 3`,
// and parentheses around what needs none. The parser notes where they occur
// (the emitter's declaration pre-pass passes over statements without such
// forms), and the pre-pass reports them: both read these rules.
#include <cstdint>
#include <optional>
#include <utility>

#include "diagnostic/source_diagnostic.h"
#include "lexer/token.h"
#include "parser/ast.h"

namespace quendal {

// The warning a literal operand of an operator draws, if any;
// `literal_is_right`: the literal is the right operand (always so for a
// prefix operator). Each token is given by its tag, without any Unknown
// wrapper, and for a keyword or an operator by its code (the Keyword or
// Operator value; ignored for other tags).
std::optional<DiagnosticCode> literal_operand_warning(TokenTag op_tag, std::uint32_t op_code,
                                                      TokenTag literal_tag, std::uint32_t literal_code,
                                                      bool literal_is_right);
// The tag and code of a peeled kind, as the rule above reads them.
inline std::pair<TokenTag, std::uint32_t> tag_and_code(const TokenKind& kind) {
  if (kind.tag == TokenTag::Keyword) return {kind.tag, static_cast<std::uint32_t>(kind.keyword)};
  if (kind.tag == TokenTag::Operator) return {kind.tag, static_cast<std::uint32_t>(kind.op)};
  return {kind.tag, 0};
}
inline std::optional<DiagnosticCode> literal_operand_warning(const Token& op, const Token& literal,
                                                             bool literal_is_right) {
  const auto [op_tag, op_code] = tag_and_code(peeled_kind(op));
  const auto [literal_tag, literal_code] = tag_and_code(peeled_kind(literal));
  return literal_operand_warning(op_tag, op_code, literal_tag, literal_code, literal_is_right);
}

// Per operator (kOperatorCount entries): a number or ordinal operand, on
// either side, draws no warning. Made once from the rule above.
const bool* number_operand_quiet_table();

bool draws_unnecessary_parentheses_record(const Expression& inner);
// Whether parentheses around `inner` are reported as unnecessary.
inline bool draws_unnecessary_parentheses(const Expression& inner) {
  switch (inner.kind) {
    case ExpressionKind::Literal:
    case ExpressionKind::Interpolation:
    case ExpressionKind::Variable:
    case ExpressionKind::Group:
    case ExpressionKind::Array:
    case ExpressionKind::Call:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::FieldAccess:
    case ExpressionKind::IndexAccess:
    case ExpressionKind::NonNilAssertion:
      return true;
    case ExpressionKind::Record:
      return draws_unnecessary_parentheses_record(inner);
    case ExpressionKind::TaggedString:
    case ExpressionKind::SliceAccess:
    case ExpressionKind::Prefix:
    case ExpressionKind::Binary:
    case ExpressionKind::IsPattern:
    case ExpressionKind::Block:
    case ExpressionKind::Loop:
    case ExpressionKind::While:
    case ExpressionKind::ForIn:
    case ExpressionKind::If:
    case ExpressionKind::Conditional:
    case ExpressionKind::Match:
    case ExpressionKind::FunctionLiteral:
    case ExpressionKind::Unknown:
      return false;
  }
  return false;
}

}  // namespace quendal
