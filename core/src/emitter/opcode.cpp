#include "emitter/opcode.h"

namespace quendal {

std::string_view opcode_name(OpCode op) {
  switch (op) {
#define QUENDAL_OPCODE(name, number, layout) \
  case OpCode::name:                         \
    return #name;
#include "emitter/opcode.def"
#undef QUENDAL_OPCODE
  }
  return "";
}

std::string_view opcode_layout(OpCode op) {
  switch (op) {
#define QUENDAL_OPCODE(name, number, layout) \
  case OpCode::name:                         \
    return layout;
#include "emitter/opcode.def"
#undef QUENDAL_OPCODE
  }
  return "-";
}

}  // namespace quendal
