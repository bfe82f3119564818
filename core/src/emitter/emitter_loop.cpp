// Loops: `loop`, `while` and `for`, each body a register window of its own,
// and the `else` part of `while` and `for`, which runs when no `break` ended
// the loop.
#include <array>

#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

SourceRange block_range(const BlockExpression& block) {
  return span_of(block.open.range(), block.close.range());
}

}  // namespace

bool Emitter::emit_loop_body(const BlockExpression& body, Register result, bool functions) {
  // The body's tail value is not wanted; `break` carries the loop's value.
  return emit_block(body.statements, body.expression, ref_range(body.close).end, 0, LoopContext{true, result},
                    functions);
}

void Emitter::emit_else_part(const ElseBlock* else_block, Register result, SourceRange range,
                             LoopContext loop) {
  if (result == 0) return;
  instr<OpCode::IfNotInit>(range, reg_operand(result));
  if (else_block != nullptr && else_block->body != nullptr) {
    emit_expression(*else_block->body, result, loop);
  } else {
    instr<OpCode::Assign>(range, reg_operand(result), reg_operand(0));
  }
  op_if_end(range);
}

void Emitter::emit_loop(const LoopExpression& expression, Register dst) {
  const SourceRange keyword = ref_range(expression.keyword);
  if (config.report_tags) push_tag(DiagnosticCode::LoopExpression, range_of(expression));
  push_tag(DiagnosticCode::KeywordLoop, keyword);
  const WindowGuard window(*this, 0, false);
  const ScopeGuard scope(*this, block_range(*expression.body));
  const std::size_t position = op_deferred(keyword, OpCode::Loop);
  const bool functions = pre_pass_block(*expression.body);
  emit_loop_body(*expression.body, dst, functions);
  instr<OpCode::LoopEnd>(keyword);
  const std::array<Operand, 1> operands{param_operand(count_of(top_window().last_register))};
  finish_deferred(position, operands);
}

// The register of a `while` or `for` value: `dst` (cleared first, as the
// loop may end before giving one), a fresh register when only the `else`
// part gives the value, else none.
Register Emitter::loop_result(SourceRange keyword, Register dst, bool has_else) {
  if (dst != 0) {
    instr<OpCode::Uninit>(keyword, reg_operand(dst));
    return dst;
  }
  return has_else ? alloc_register() : 0;
}

void Emitter::emit_while(const WhileExpression& expression, Register dst, LoopContext loop) {
  const SourceRange keyword = ref_range(expression.keyword);
  if (config.report_tags) push_tag(DiagnosticCode::WhileExpression, range_of(expression));
  push_tag(DiagnosticCode::KeywordWhile, keyword);
  if (expression.else_block != nullptr)
    push_tag(DiagnosticCode::KeywordElse, ref_range(expression.else_block->keyword));
  const Register result = loop_result(keyword, dst, expression.else_block != nullptr);
  WindowGuard window(*this, 0, false);
  ScopeGuard scope(*this, block_range(*expression.body));
  const Register condition = alloc_register();
  pre_pass_condition(*expression.condition, expression.condition_quiet);
  const bool functions = pre_pass_block(*expression.body);
  const std::size_t position = op_deferred(keyword, OpCode::Loop);
  const LoopContext inside{true, result};
  emit_expression(*expression.condition, condition, inside);
  instr<OpCode::IfNot>(keyword, reg_operand(condition));
  instr<OpCode::Break>(keyword);
  op_if_end(keyword);
  emit_loop_body(*expression.body, result, functions);
  instr<OpCode::LoopEnd>(keyword);
  const std::array<Operand, 1> operands{param_operand(count_of(top_window().last_register))};
  finish_deferred(position, operands);
  // Both close before the `else` part, which runs in the enclosing window.
  scope.close();
  window.close();
  emit_else_part(expression.else_block, result, keyword, loop);
}

void Emitter::emit_for(const ForInExpression& expression, Register dst, LoopContext loop) {
  const SourceRange keyword = ref_range(expression.keyword);
  if (config.report_tags) push_tag(DiagnosticCode::ForExpression, range_of(expression));
  push_tag(DiagnosticCode::KeywordFor, keyword);
  push_tag(DiagnosticCode::KeywordIn, ref_range(expression.in));
  if (expression.else_block != nullptr)
    push_tag(DiagnosticCode::KeywordElse, ref_range(expression.else_block->keyword));

  // The scope belongs to the loop window, which opens after the iterable
  // has been evaluated in the enclosing window.
  ScopeGuard scope(*this, block_range(*expression.body), window_count() + 1);
  pre_pass_for_head(expression);

  OpCode opcode = OpCode::LoopFor;
  Register first = 0;
  Register second = 0;
  if (const RangeNode* range = expression.iterable.range) {
    opcode = range->exclusive() ? OpCode::LoopRangeExclusive : OpCode::LoopRange;
    first = range->start != nullptr ? emit_expression_reg(*range->start, loop) : 0;
    second = range->end != nullptr ? emit_expression_reg(*range->end, loop) : 0;
  } else if (expression.iterable.expression != nullptr) {
    first = emit_expression_reg(*expression.iterable.expression, loop);
  }

  const Register result = loop_result(keyword, dst, expression.else_block != nullptr);

  WindowGuard window(*this, 0, false);
  const Register loop_value = alloc_register();
  const bool functions = pre_pass_block(*expression.body);
  const std::size_t position = op_deferred(keyword, opcode);
  if (expression.pattern != nullptr)
    emit_pattern(0, *expression.pattern, loop_value, VariableKind::PatternBinding);
  emit_loop_body(*expression.body, result, functions);
  instr<OpCode::LoopEnd>(keyword);
  const std::array<Operand, 3> operands{param_operand(count_of(top_window().last_register)),
                                        reg_operand(first), reg_operand(second)};
  finish_deferred(position, operands);
  // The scope opened before the window: both close before the `else` part,
  // which runs in the enclosing window.
  scope.close();
  window.close();
  emit_else_part(expression.else_block, result, keyword, loop);
}

}  // namespace quendal
