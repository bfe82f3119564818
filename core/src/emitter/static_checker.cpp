// Static checks: warnings and hints read off the tree without evaluating
// it (literal operands of operators, literal conditions, names that look
// like nil, globals the host does not know). The pre-pass and the emitters
// call them where the construct is walked.
#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

bool is_numeric_literal(const TokenKind& kind) {
  return kind.tag == TokenTag::Ordinal || kind.tag == TokenTag::Number || kind.is_keyword(Keyword::Nan) ||
         kind.is_keyword(Keyword::Inf);
}

bool is_boolean_literal(const TokenKind& kind) {
  return kind.is_keyword(Keyword::True) || kind.is_keyword(Keyword::False);
}

}  // namespace

void Emitter::hint_mislead_nil(std::string_view name, SourceRange range) {
  if (name == "null" || name == "Null" || name == "NULL" || name == "None" || name == "Nothing" ||
      name == "undefined")
    push(DiagnosticCode::MisleadingNilVariable, range);
}

void Emitter::check_known_global(std::string_view name, SourceRange range) {
  if (config.known_globals != nullptr && !config.known_globals->contains(name))
    push(DiagnosticCode::GlobalVariableNotDeclared, range);
}

void Emitter::check_static_operator_usage(const Token& op, const Token& literal, bool literal_is_right) {
  const TokenKind& op_kind = peeled_kind(op);
  const TokenKind& kind = peeled_kind(literal);
  const SourceRange range = token_range(literal);
  if (op_kind.tag == TokenTag::Keyword) {
    switch (op_kind.keyword) {
      case Keyword::In:
      case Keyword::NotIn:
        if (literal_is_right && !kind.is_keyword(Keyword::Global)) push(DiagnosticCode::NonCompoundIn, range);
        return;
      case Keyword::And:
      case Keyword::Or:
      case Keyword::Not:
        if (!is_boolean_literal(kind)) push(DiagnosticCode::NonBooleanInLogical, range);
        return;
      default:
        return;
    }
  }
  if (op_kind.tag != TokenTag::Operator) return;
  if (operator_is_arithmetic(op_kind.op)) {
    if (!is_numeric_literal(kind)) push(DiagnosticCode::NonNumberInArithmetic, range);
  } else if (operator_is_logical(op_kind.op)) {
    if (!is_boolean_literal(kind)) push(DiagnosticCode::NonBooleanInLogical, range);
  } else if (operator_is_comparison(op_kind.op)) {
    if (!is_numeric_literal(kind) && kind.tag != TokenTag::String)
      push(DiagnosticCode::NonNumberOrStringInComparison, range);
  }
}

void Emitter::check_condition_literal(const Expression& condition) {
  if (condition.kind == ExpressionKind::Literal &&
      !is_boolean_literal_token(*condition.as<LiteralExpression>().token))
    push(DiagnosticCode::NonBooleanInLogical, range_of(condition));
}

}  // namespace quendal
