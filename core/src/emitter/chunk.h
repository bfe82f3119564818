#pragma once
// The chunk under construction: code bytes (8 reserved header bytes first)
// and the constant pool, plus the byte-level instruction encoding.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "emitter/constant.h"
#include "emitter/opcode.h"
#include "support/checks.h"

namespace quendal {

// One fixed operand of an instruction.
struct Operand {
  enum class Kind : std::uint8_t { Register, Param };
  Kind kind;
  std::int64_t value;
  static Operand reg(Register r) { return {Kind::Register, r}; }
  static Operand param(OpParam p) { return {Kind::Param, p}; }
};

// Operands of the typed writers: a register, or a parameter.
struct RegisterOperand {
  Register value;
  operator Operand() const { return Operand::reg(value); }
};
struct ParamOperand {
  OpParam value;
  operator Operand() const { return Operand::param(value); }
};

// The operand layout of every operation, by number.
inline constexpr std::array<std::string_view, kOpCodeCount> kOpCodeLayouts = [] {
  std::array<std::string_view, kOpCodeCount> layouts{};
#define QUENDAL_OPCODE(name, number, layout) layouts[number] = layout;
#include "emitter/opcode.def"
#undef QUENDAL_OPCODE
  return layouts;
}();

namespace chunk_detail {

template <class T>
constexpr char letter_of() {
  if constexpr (std::is_same_v<T, RegisterOperand>)
    return 'R';
  else if constexpr (std::is_same_v<T, ParamOperand>)
    return 'P';
  else
    static_assert(std::is_same_v<T, RegisterOperand>, "an operand is a RegisterOperand or a ParamOperand");
}

// Whether operands of these types follow `layout` exactly (fixed layouts
// only: no counted lists).
template <class... Operands>
constexpr bool follows(std::string_view layout) {
  constexpr char letters[] = {letter_of<Operands>()..., '\0'};
  return layout == std::string_view(letters, sizeof...(Operands));
}

// The value that must be below 256 for an operand to take the short form:
// a register as it is, a parameter shifted by 128 (so -128..127 fit).
inline std::uint32_t short_key(RegisterOperand o) { return o.value; }
inline std::uint32_t short_key(ParamOperand o) { return static_cast<std::uint32_t>(o.value) + 128u; }

inline std::uint32_t bits_of(RegisterOperand o) { return o.value; }
inline std::uint32_t bits_of(ParamOperand o) { return static_cast<std::uint32_t>(o.value); }

inline std::uint8_t* put_le32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
  return out + 4;
}

constexpr bool is_deferred(OpCode op) {
  return op == OpCode::Func || op == OpCode::FuncVarg || op == OpCode::Loop || op == OpCode::LoopFor ||
         op == OpCode::LoopRange || op == OpCode::LoopRangeExclusive;
}

}  // namespace chunk_detail

class Chunk {
 public:
  Chunk();

  // Index of an equal constant (first match, as a linear scan would find),
  // else appends. Looked up through a hash map.
  std::uint32_t add_constant(const Constant& constant);
  // The string constant of a name the lexer interned as `symbol` (any
  // symbol id; ids past those seen grow the table): the same entry as
  // add_constant(of_string(text)), found by the symbol once it is known.
  std::uint32_t add_name_constant(std::string_view text, std::uint32_t symbol) {
    if (symbol < name_constants_.size() && name_constants_[symbol] != 0) [[likely]]
      return name_constants_[symbol] - 1;
    return add_name_constant_slow(text, symbol);
  }
  // Room for the name constants of `symbols` lexer symbols, made at once.
  void reserve_name_constants(std::size_t symbols) { name_constants_.resize(symbols, 0); }
  // See ConstantIndex::small_number_plus_one.
  std::uint32_t known_small_number(std::uint32_t value) const { return index_.small_number_plus_one(value); }
  const std::vector<Constant>& constants() const { return constants_; }

  // Appends one instruction, short form when every operand (and every list
  // element) fits one byte, otherwise wide (opcode | 0x80, 4-byte operands).
  // `operands` are in table order; for variadic rows the caller passes the
  // count operands and list elements in order as well (a list element is an
  // Operand of the list's kind).
  void write(OpCode op, std::span<const Operand> operands);
  // The same for the emitter's operations with counted lists, whose
  // operands it builds itself: checked in debug and sanitizer builds.
  void write_list(OpCode op, std::span<const Operand> operands);

  // The writer of operation `op`: its operands are checked against the
  // operation's layout when the program is compiled, and written straight
  // into the code.
  template <OpCode op, class... Operands>
  void put(Operands... operands) {
    static_assert(chunk_detail::follows<Operands...>(kOpCodeLayouts[static_cast<std::size_t>(op)]),
                  "the operands do not follow the operation's layout");
    static_assert(!chunk_detail::is_deferred(op), "deferred operands are written by finish_deferred");
    put_unchecked(op, operands...);
  }
  // For an operation chosen while emitting (from a table of operators):
  // its layout is checked in debug and sanitizer builds.
  template <class... Operands>
  void put_chosen(OpCode op, Operands... operands) {
#if QUENDAL_CHECKED
    check_chosen(op, chunk_detail::follows<Operands...>(opcode_layout(op)));
#endif
    put_unchecked(op, operands...);
  }

  // The longest instruction of fixed operands, wide.
  static constexpr std::size_t kMaxFixedInstruction = 1 + 4 * 4;
  // Whether an instruction of fixed operands fits the room left, so that
  // put_in_room may write it without asking for room (and a path that
  // writes so calls nothing).
  bool has_room() const { return code_.size() - size_ >= kMaxFixedInstruction; }
  template <OpCode op, class... Operands>
  void put_in_room(Operands... operands) {
    static_assert(chunk_detail::follows<Operands...>(kOpCodeLayouts[static_cast<std::size_t>(op)]),
                  "the operands do not follow the operation's layout");
    static_assert(!chunk_detail::is_deferred(op), "deferred operands are written by finish_deferred");
    static_assert(1 + 4 * sizeof...(Operands) <= kMaxFixedInstruction);
#if QUENDAL_CHECKED
    if (!has_room()) no_room();
#endif
    write_fixed(code_.data() + size_, op, operands...);
  }

  // Deferred operands (Func, FuncVarg, Loop, LoopFor, LoopRange,
  // LoopRangeExclusive): appends only the opcode byte and returns its
  // position; `finish_deferred` inserts the operands directly after it.
  std::size_t begin_deferred(OpCode op);
  void finish_deferred(std::size_t position, std::span<const Operand> operands);

  // Room for `bytes` of code in all, made at once (growing the room later
  // copies the code and clears the new room).
  void reserve_code(std::size_t bytes) {
    if (bytes > code_.size()) code_.resize(bytes);
  }

  // The code so far, header placeholder included.
  std::span<const std::uint8_t> code() const { return {code_.data(), size_}; }
  // Header + code + constant section, little-endian.
  std::vector<std::uint8_t> serialize() const;
  // As `serialize`, moving the code buffer instead of copying it; the chunk
  // is left empty (header only, no constants).
  std::vector<std::uint8_t> take_serialized();

 private:
  void append_constants(std::vector<std::uint8_t>& out) const;
  static void check_chosen(OpCode op, bool follows_layout);

  // Room for `bytes` more bytes of code at the end; returns where they go.
  std::uint8_t* room(std::size_t bytes) {
    if (code_.size() - size_ < bytes) [[unlikely]]
      grow(bytes);
    return code_.data() + size_;
  }
  void grow(std::size_t bytes);

  [[noreturn]] static void no_room();

  template <class... Operands>
  void put_unchecked(OpCode op, Operands... operands) {
    write_fixed(room(1 + 4 * sizeof...(Operands)), op, operands...);
  }
  // Writes the instruction at `out`, the end of the code.
  template <class... Operands>
  void write_fixed(std::uint8_t* out, OpCode op, Operands... operands) {
    if ((chunk_detail::short_key(operands) | ... | 0u) < 256u) [[likely]] {
      *out++ = static_cast<std::uint8_t>(op);
      ((*out++ = static_cast<std::uint8_t>(chunk_detail::bits_of(operands))), ...);
    } else {
      *out++ = static_cast<std::uint8_t>(static_cast<std::uint8_t>(op) | 0x80u);
      ((out = chunk_detail::put_le32(out, chunk_detail::bits_of(operands))), ...);
    }
    size_ = static_cast<std::size_t>(out - code_.data());
  }

  // code_[0, size_) is the code; the rest is room, grown geometrically (so
  // a write never zero-fills).
  std::vector<std::uint8_t> code_;
  std::size_t size_ = 0;
  std::uint32_t add_name_constant_slow(std::string_view text, std::uint32_t symbol);

  std::vector<Constant> constants_;
  ConstantIndex index_;
  // Entry + 1 of the string constant of each symbol, 0 when not known yet.
  std::vector<std::uint32_t> name_constants_;
};

}  // namespace quendal
