// Static checks: warnings and hints read off the tree without evaluating
// it (literal operands of operators, literal conditions, names that look
// like nil, globals the host does not know). The pre-pass and the emitters
// call them where the construct is walked.
#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "parser/static_warnings.h"
#include "quendal/compile.h"

namespace quendal {

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
  if (const std::optional<DiagnosticCode> code = literal_operand_warning(op, literal, literal_is_right))
    push(*code, token_range(literal));
}

void Emitter::check_condition_literal(const Expression& condition) {
  if (condition.kind == ExpressionKind::Literal &&
      !is_boolean_literal_token(*condition.as<LiteralExpression>().token))
    push(DiagnosticCode::NonBooleanInLogical, range_of(condition));
}

}  // namespace quendal
