#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace quendal {

struct Constant {
  enum class Tag : std::uint8_t { Nil = 0, True = 1, False = 2, Integer = 3, Number = 4, String = 5 };
  Tag tag = Tag::Nil;
  std::int32_t integer = 0;
  double number = 0;
  std::string_view text;  // borrowed from the source/a static literal, or arena-owned

  static Constant nil() { return {}; }
  static Constant boolean(bool v) { return {v ? Tag::True : Tag::False, 0, 0, {}}; }
  static Constant of_number(double v) { return {Tag::Number, 0, v, {}}; }
  static Constant of_string(std::string_view s) { return {Tag::String, 0, 0, s}; }

  std::uint64_t number_bits() const {
    std::uint64_t b;
    std::memcpy(&b, &number, sizeof b);
    return b;
  }
  // Per-tag equality: tags 0-2 by tag; 3 by value; 4 by the raw bits; 5 by bytes.
  friend bool operator==(const Constant& a, const Constant& b) {
    if (a.tag != b.tag) return false;
    switch (a.tag) {
      case Tag::Integer:
        return a.integer == b.integer;
      case Tag::Number:
        return a.number_bits() == b.number_bits();
      case Tag::String:
        return a.text == b.text;
      default:
        return true;
    }
  }
};

struct ConstantHash {
  std::size_t operator()(const Constant& c) const;
};

using ConstantIndex = std::unordered_map<Constant, std::uint32_t, ConstantHash>;

}  // namespace quendal
