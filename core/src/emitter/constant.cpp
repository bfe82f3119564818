#include "emitter/constant.h"

#include <algorithm>
#include <limits>

#include "quendal/compile.h"

namespace quendal {

namespace {

// The whole 64-bit finaliser: numbers differ in their high bits only, and
// the table indexes by the low ones.
std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

}  // namespace

std::uint64_t constant_hash(const Constant& c) {
  std::uint64_t payload = 0;
  switch (c.tag) {
    case Constant::Tag::Integer:
      payload = static_cast<std::uint32_t>(c.integer);
      break;
    case Constant::Tag::Number:
      payload = c.number_bits();
      break;
    case Constant::Tag::String:
      // FNV-1a: the texts are names and short strings.
      payload = 0xCBF29CE484222325ull;
      for (const char ch : c.text) payload = (payload ^ static_cast<unsigned char>(ch)) * 0x100000001B3ull;
      break;
    case Constant::Tag::Nil:
    case Constant::Tag::True:
    case Constant::Tag::False:
      break;
  }
  return mix(payload ^ (static_cast<std::uint64_t>(c.tag) * 0x9e3779b97f4a7c15ull));
}

void ConstantIndex::grow() {
  if (hashes_.size() >= std::numeric_limits<std::uint32_t>::max() / 2)
    throw InternalFailure("constant pool larger than its index can count");
  const std::size_t size = std::max<std::size_t>(64, slots_.size() * 2);
  slots_.assign(size, 0);
  const std::size_t mask = size - 1;
  for (std::size_t n = 0; n < hashes_.size(); ++n) {
    std::size_t i = hashes_[n] & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<std::uint32_t>(n + 1);
  }
}

}  // namespace quendal
