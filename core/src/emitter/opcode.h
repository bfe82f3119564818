#pragma once
#include <cstdint>
#include <string_view>

namespace quendal {

enum class OpCode : std::uint8_t {
#define QUENDAL_OPCODE(name, number, layout) name = number,
#include "emitter/opcode.def"
#undef QUENDAL_OPCODE
};
inline constexpr int kOpCodeCount = 99;

std::string_view opcode_name(OpCode op);
// Operand layout letters: R register, P parameter, L register list, M
// parameter list (a list follows the P that counts it); "-" when not fixed.
std::string_view opcode_layout(OpCode op);

using Register = std::uint32_t;
using OpParam = std::int32_t;

}  // namespace quendal
