#pragma once
// A list whose elements live in an arena: a pointer and two 32-bit counts
// (16 bytes, half a std::pmr::vector). Elements must be trivially copyable:
// growth copies them to a new block and leaves the old one to the arena.
// Lists are usually built elsewhere and copied in once, at their final size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

#include "support/arena.h"

namespace quendal {

template <class T>
class ArenaList {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  ArenaList() = default;

  std::uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T& front() { return data_[0]; }
  const T& front() const { return data_[0]; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }
  operator std::span<T>() { return {data_, size_}; }
  operator std::span<const T>() const { return {data_, size_}; }

  // Replaces the elements by a copy of `items`.
  void assign(Arena& arena, std::span<const T> items) {
    size_ = 0;
    append(arena, items);
  }
  // A list filled once gets its exact size; one appended to again grows
  // geometrically, so repeated appends stay linear.
  void append(Arena& arena, std::span<const T> items) {
    if (items.empty()) return;
    const std::size_t needed = static_cast<std::size_t>(size_) + items.size();
    if (needed > capacity_)
      reserve(arena, size_ == 0 ? needed : std::max<std::size_t>(needed, 2 * std::size_t{capacity_}));
    std::memcpy(static_cast<void*>(data_ + size_), items.data(), items.size() * sizeof(T));
    size_ += static_cast<std::uint32_t>(items.size());
  }
  void push_back(Arena& arena, const T& item) {
    if (size_ == capacity_) reserve(arena, size_ < 4 ? 4 : static_cast<std::size_t>(size_) * 2);
    data_[size_++] = item;
  }
  // Room for `count` more elements at the end, for the caller to fill: the
  // list gets at least its exact new size, as reserve() gives it.
  T* extend(Arena& arena, std::size_t count) {
    reserve(arena, std::size_t{size_} + count);
    T* added = data_ + size_;
    size_ += static_cast<std::uint32_t>(count);
    return added;
  }
  void pop_back() { --size_; }
  void clear() { size_ = 0; }

  void reserve(Arena& arena, std::size_t count) {
    if (count <= capacity_) return;
    if (count > 0xFFFFFFFFu / sizeof(T)) throw std::bad_alloc();
    T* grown = static_cast<T*>(arena.allocate_bytes(count * sizeof(T), alignof(T)));
    if (size_ != 0) std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(T));
    data_ = grown;
    capacity_ = static_cast<std::uint32_t>(count);
  }

 private:
  T* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

}  // namespace quendal
