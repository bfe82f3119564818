// Functions: the script, `fn` declarations and function literals, each a
// register window of its own with its parameters in registers 1..n.
#include <array>

#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
// -------------------------------------------------------------- functions

void Emitter::emit_fn_like(SourceRange range, SourceRange scope_range, Register dst,
                           const ParameterList* parameters, std::span<const ArenaRef<Statement>> statements,
                           const Expression* tail) {
  const std::uint64_t parameter_count = parameters != nullptr ? parameters->parameters.size() : 1;
  bool has_rest = false;
  if (parameters != nullptr) {
    for (const auto& item : parameters->parameters) has_rest = has_rest || item.item.is_spread();
  }
  const WindowGuard window(*this, parameter_count, true);
  const ScopeGuard scope(*this, scope_range);
  const std::size_t position = op_deferred(range, has_rest ? OpCode::FuncVarg : OpCode::Func);

  const bool functions = pre_pass_function(range, parameters, statements, tail);

  if (parameters != nullptr) {
    Register reg = 1;
    for (const auto& item : parameters->parameters) {
      const Pattern* pattern = parameter_pattern(item.item);
      if (pattern != nullptr && !is_plain_name(pattern))
        emit_pattern(0, *pattern, reg, VariableKind::SubPatternParameter);
      ++reg;
    }
  }

  const LoopContext outside_loop{};
  if (tail != nullptr) {
    const Register result = alloc_register();
    if (!emit_block(statements, tail, scope_range.end, result, outside_loop, functions))
      instr<OpCode::Return>(scope_range, reg_operand(result));
  } else if (!emit_block(statements, nullptr, scope_range.end, 0, outside_loop, functions)) {
    instr<OpCode::Return>(scope_range, reg_operand(0));
  }
  instr<OpCode::FuncEnd>(scope_range);

  const std::array<Operand, 3> operands{reg_operand(dst), param_operand(count_of(parameter_count)),
                                        param_operand(count_of(top_window().last_register))};
  finish_deferred(position, operands);
}

void Emitter::emit_function_literal(const FunctionLiteralExpression& expression, Register dst) {
  if (expression.body == nullptr || expression.body->kind != ExpressionKind::Block) return;
  const auto& body = expression.body->as<BlockExpression>();
  const SourceRange range = range_of(expression);
  emit_fn_like(range, range, dst, expression.parameters, body.statements, body.expression);
}

}  // namespace quendal
