#include "emitter/constant.h"

#include <functional>

namespace quendal {

// Hashes exactly what equality compares: the tag and the payload of that tag.
std::size_t ConstantHash::operator()(const Constant& c) const {
  std::size_t payload = 0;
  switch (c.tag) {
    case Constant::Tag::Integer:
      payload = std::hash<std::int32_t>{}(c.integer);
      break;
    case Constant::Tag::Number:
      payload = std::hash<std::uint64_t>{}(c.number_bits());
      break;
    case Constant::Tag::String:
      payload = std::hash<std::string_view>{}(c.text);
      break;
    default:
      break;
  }
  return payload ^ (static_cast<std::size_t>(c.tag) * 0x9e3779b97f4a7c15ull);
}

}  // namespace quendal
