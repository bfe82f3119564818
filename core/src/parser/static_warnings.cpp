#include "parser/static_warnings.h"

#include <array>

#include "parser/ast.h"

namespace quendal {
namespace {

bool is_numeric_literal(TokenTag tag, std::uint32_t code) {
  return tag == TokenTag::Ordinal || tag == TokenTag::Number ||
         (tag == TokenTag::Keyword && (code == static_cast<std::uint32_t>(Keyword::Nan) ||
                                       code == static_cast<std::uint32_t>(Keyword::Inf)));
}

bool is_boolean_literal(TokenTag tag, std::uint32_t code) {
  return tag == TokenTag::Keyword && (code == static_cast<std::uint32_t>(Keyword::True) ||
                                      code == static_cast<std::uint32_t>(Keyword::False));
}

}  // namespace

std::optional<DiagnosticCode> literal_operand_warning(TokenTag op_tag, std::uint32_t op_code,
                                                      TokenTag literal_tag, std::uint32_t literal_code,
                                                      bool literal_is_right) {
  if (op_tag == TokenTag::Keyword) {
    switch (static_cast<Keyword>(op_code)) {
      case Keyword::In:
      case Keyword::NotIn:
        if (literal_is_right && !(literal_tag == TokenTag::Keyword &&
                                  literal_code == static_cast<std::uint32_t>(Keyword::Global)))
          return DiagnosticCode::NonCompoundIn;
        return std::nullopt;
      case Keyword::And:
      case Keyword::Or:
      case Keyword::Not:
        if (!is_boolean_literal(literal_tag, literal_code)) return DiagnosticCode::NonBooleanInLogical;
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }
  if (op_tag != TokenTag::Operator) return std::nullopt;
  const auto op = static_cast<Operator>(op_code);
  if (operator_is_arithmetic(op)) {
    if (!is_numeric_literal(literal_tag, literal_code)) return DiagnosticCode::NonNumberInArithmetic;
  } else if (operator_is_logical(op)) {
    if (!is_boolean_literal(literal_tag, literal_code)) return DiagnosticCode::NonBooleanInLogical;
  } else if (operator_is_comparison(op)) {
    if (!is_numeric_literal(literal_tag, literal_code) && literal_tag != TokenTag::String)
      return DiagnosticCode::NonNumberOrStringInComparison;
  }
  return std::nullopt;
}

const bool* number_operand_quiet_table() {
  static const std::array<bool, kOperatorCount> table = [] {
    std::array<bool, kOperatorCount> quiet{};
    for (int op = 0; op < kOperatorCount; ++op) {
      const auto code = static_cast<std::uint32_t>(op);
      quiet[op] = true;
      for (const TokenTag tag : {TokenTag::Number, TokenTag::Ordinal})
        for (const bool right : {false, true})
          if (literal_operand_warning(TokenTag::Operator, code, tag, 0, right)) quiet[op] = false;
    }
    return quiet;
  }();
  return table.data();
}

// A record in parentheses is one only when written with braces.
bool draws_unnecessary_parentheses_record(const Expression& inner) {
  const TokenRef& open = inner.as<RecordExpression>().open;
  return open.is_null() || !peeled_kind(*open).is_operator(Operator::OpenBrace);
}

}  // namespace quendal
