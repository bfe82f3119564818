#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

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

// Hashes exactly what equality compares: the tag and the payload of that tag.
std::uint64_t constant_hash(const Constant& c);

// The pool's index: each distinct constant once, found by value. Open
// addressing over the pool's positions (a power of two in size, at most
// half full), with each entry's hash kept beside the pool so growing never
// hashes again.
class ConstantIndex {
 public:
  // The position of an equal constant among `pool`'s first entries, else
  // appends `constant` to `pool` and returns its new position.
  template <class Pool>
  std::uint32_t find_or_add(Pool& pool, const Constant& constant) {
    // Most numbers of a program are small whole numbers: those are found by
    // value, without hashing.
    if (constant.tag == Constant::Tag::Number && constant.number >= 0 && constant.number < kSmallNumbers) {
      const auto whole = static_cast<std::uint32_t>(constant.number);
      if (Constant::of_number(whole).number_bits() == constant.number_bits()) {
        std::uint32_t& known = small_numbers_[whole];
        if (known == 0) known = find_or_add_hashed(pool, constant) + 1;
        return known - 1;
      }
    }
    return find_or_add_hashed(pool, constant);
  }
  // The index of the whole number `value` when it is small and already in
  // the pool, else 0 (one more than the index otherwise).
  std::uint32_t small_number_plus_one(std::uint32_t value) const {
    return value < kSmallNumbers ? small_numbers_[value] : 0;
  }
  void clear() {
    slots_.clear();
    hashes_.clear();
    small_numbers_.fill(0);
  }

 private:
  static constexpr std::uint32_t kSmallNumbers = 256;

  template <class Pool>
  std::uint32_t find_or_add_hashed(Pool& pool, const Constant& constant) {
    if ((pool.size() + 1) * 2 > slots_.size()) grow();
    const std::uint64_t hash = constant_hash(constant);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint32_t n = slots_[i];
      if (n == 0) {
        slots_[i] = static_cast<std::uint32_t>(pool.size() + 1);
        hashes_.push_back(hash);
        pool.push_back(constant);
        return static_cast<std::uint32_t>(pool.size() - 1);
      }
      if (hashes_[n - 1] == hash && pool[n - 1] == constant) return n - 1;
    }
  }
  void grow();

  std::vector<std::uint32_t> slots_;   // pool position + 1; 0 for an empty slot
  std::vector<std::uint64_t> hashes_;  // by pool position
  // Pool position + 1 of the numbers 0, 1, ... kSmallNumbers - 1; 0 when
  // not in the pool yet.
  std::array<std::uint32_t, kSmallNumbers> small_numbers_{};
};

}  // namespace quendal
