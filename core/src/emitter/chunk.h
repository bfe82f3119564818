#pragma once
// The chunk under construction: code bytes (8 reserved header bytes first)
// and the constant pool, plus the byte-level instruction encoding.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "emitter/constant.h"
#include "emitter/opcode.h"

namespace quendal {

// One fixed operand of an instruction.
struct Operand {
  enum class Kind : std::uint8_t { Register, Param };
  Kind kind;
  std::int64_t value;
  static Operand reg(Register r) { return {Kind::Register, r}; }
  static Operand param(OpParam p) { return {Kind::Param, p}; }
};

class Chunk {
 public:
  Chunk();

  // Index of an equal constant (first match, as a linear scan would find),
  // else appends. Looked up through a hash map.
  std::uint32_t add_constant(const Constant& constant);
  const std::vector<Constant>& constants() const { return constants_; }

  // Appends one instruction, short form when every operand (and every list
  // element) fits one byte, otherwise wide (opcode | 0x80, 4-byte operands).
  // `operands` are in table order; for variadic rows the caller passes the
  // count operands and list elements in order as well (a list element is an
  // Operand of the list's kind).
  void write(OpCode op, std::span<const Operand> operands);

  // Deferred operands (Func, FuncVarg, Loop, LoopFor, LoopRange,
  // LoopRangeExclusive): appends only the opcode byte and returns its
  // position; `finish_deferred` inserts the operands directly after it.
  std::size_t begin_deferred(OpCode op);
  void finish_deferred(std::size_t position, std::span<const Operand> operands);

  const std::vector<std::uint8_t>& code() const { return code_; }
  // Header + code + constant section, little-endian.
  std::vector<std::uint8_t> serialize() const;
  // As `serialize`, moving the code buffer instead of copying it; the chunk
  // is left empty (header only, no constants).
  std::vector<std::uint8_t> take_serialized();

 private:
  void append_constants(std::vector<std::uint8_t>& out) const;

  std::vector<std::uint8_t> code_;
  std::vector<Constant> constants_;
  ConstantIndex index_;
};

}  // namespace quendal
