// Instruction writers: each appends one instruction to the chunk and one
// SourceMap record with the range of the node that produced it.
#include <array>
#include <limits>

#include "emitter/emitter_struct.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

OpParam count_param(std::size_t n) {
  if (n > static_cast<std::size_t>(std::numeric_limits<OpParam>::max()))
    throw InternalFailure("operand list longer than a parameter can count");
  return static_cast<OpParam>(n);
}

}  // namespace

void Emitter::op_variadic(SourceRange range, OpCode op, Register dst, std::span<const Register> items) {
  operand_buffer_.clear();
  operand_buffer_.push_back(reg_operand(dst));
  operand_buffer_.push_back(param_operand(count_param(items.size())));
  for (Register r : items) operand_buffer_.push_back(reg_operand(r));
  chunk.write_list(op, operand_buffer_);
  source_map(range);
}

void Emitter::op_call(SourceRange range, Register dst, std::string_view name, SymbolId symbol,
                      std::span<const Register> arguments, std::span<const OpParam> spreads) {
  const std::uint32_t constant = symbol != kNoSymbol ? chunk.add_name_constant(name, symbol)
                                                     : chunk.add_constant(Constant::of_string(name));
  operand_buffer_.clear();
  operand_buffer_.push_back(reg_operand(dst));
  operand_buffer_.push_back(param_operand(static_cast<OpParam>(constant)));
  operand_buffer_.push_back(param_operand(count_param(arguments.size())));
  for (Register r : arguments) operand_buffer_.push_back(reg_operand(r));
  operand_buffer_.push_back(param_operand(count_param(spreads.size())));
  for (OpParam p : spreads) operand_buffer_.push_back(param_operand(p));
  chunk.write_list(OpCode::Call, operand_buffer_);
  source_map(range);
}

void Emitter::op_call_dyn(SourceRange range, Register dst, Register callee,
                          std::span<const Register> arguments, std::span<const OpParam> spreads) {
  operand_buffer_.clear();
  operand_buffer_.push_back(reg_operand(dst));
  operand_buffer_.push_back(reg_operand(callee));
  operand_buffer_.push_back(param_operand(count_param(arguments.size())));
  for (Register r : arguments) operand_buffer_.push_back(reg_operand(r));
  operand_buffer_.push_back(param_operand(count_param(spreads.size())));
  for (OpParam p : spreads) operand_buffer_.push_back(param_operand(p));
  chunk.write_list(OpCode::CallDyn, operand_buffer_);
  source_map(range);
}

void Emitter::op_omit(SourceRange range, Register dst, Register src, std::span<const std::string_view> keys) {
  operand_buffer_.clear();
  operand_buffer_.push_back(reg_operand(dst));
  operand_buffer_.push_back(reg_operand(src));
  operand_buffer_.push_back(param_operand(count_param(keys.size())));
  for (std::string_view key : keys)
    operand_buffer_.push_back(
        param_operand(static_cast<OpParam>(chunk.add_constant(Constant::of_string(key)))));
  chunk.write_list(OpCode::Omit, operand_buffer_);
  source_map(range);
}

void Emitter::op_else(SourceRange range) { instr<OpCode::Else>(range); }

void Emitter::op_if_end(SourceRange range) { instr<OpCode::IfEnd>(range); }

void Emitter::op_constant(SourceRange range, Register dst, const Constant& constant) {
  const std::uint32_t index = chunk.add_constant(constant);
  instr<OpCode::Constant>(range, reg_operand(dst), param_operand(static_cast<OpParam>(index)));
}

void Emitter::op_number(SourceRange range, Register dst, double value) {
  op_constant(range, dst, Constant::of_number(value));
}

void Emitter::op_string(SourceRange range, Register dst, std::string_view text) {
  op_constant(range, dst, Constant::of_string(text));
}

void Emitter::op_bool(SourceRange range, Register dst, bool value) {
  op_constant(range, dst, Constant::boolean(value));
}

void Emitter::op_global(SourceRange range, Register dst, std::string_view name) {
  const std::uint32_t index = chunk.add_constant(Constant::of_string(name));
  instr<OpCode::GetGlobal>(range, reg_operand(dst), param_operand(static_cast<OpParam>(index)));
}

void Emitter::op_get(SourceRange range, Register dst, Register object, std::string_view key) {
  const std::uint32_t index = chunk.add_constant(Constant::of_string(key));
  instr<OpCode::Get>(range, reg_operand(dst), reg_operand(object),
                     param_operand(static_cast<OpParam>(index)));
}

void Emitter::op_format(SourceRange range, Register dst, Register src, std::string_view spec) {
  const std::uint32_t index = chunk.add_constant(Constant::of_string(spec));
  instr<OpCode::Format>(range, reg_operand(dst), reg_operand(src),
                        param_operand(static_cast<OpParam>(index)));
}

std::size_t Emitter::op_deferred(SourceRange range, OpCode op) {
  const std::size_t position = chunk.begin_deferred(op);
  source_map(range);
  return position;
}

void Emitter::finish_deferred(std::size_t position, std::span<const Operand> operands) {
  chunk.finish_deferred(position, operands);
}

}  // namespace quendal
