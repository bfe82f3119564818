#pragma once
// One arena per compilation: allocation is a pointer bump, and everything is
// released at once when the arena dies. Objects placed here are never
// destroyed, so they may only own memory that also lives in this arena
// (std::pmr containers bound to it, or string views into arena text).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

// Under AddressSanitizer every allocation gets a heap block of its own, so
// reads and writes past an object are caught instead of landing in the
// neighbouring bump-allocated object.
#if defined(__SANITIZE_ADDRESS__)
#define QUENDAL_ARENA_SEPARATE_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUENDAL_ARENA_SEPARATE_BLOCKS 1
#endif
#endif

namespace quendal {

// Zeroed memory of `bytes` bytes, for tables that start out all zero: memory
// fresh from the system is not cleared a second time. Free it with
// `free_zeroed`; `grow_zeroed` keeps the contents and zeroes the new part.
void* allocate_zeroed(std::size_t bytes);
void* grow_zeroed(void* p, std::size_t old_bytes, std::size_t new_bytes);
void free_zeroed(void* p) noexcept;

class Arena final : public std::pmr::memory_resource {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() override;

  void* allocate_bytes(std::size_t size, std::size_t align) {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
    return allocate_separate(size, align);
#endif
    std::size_t p = (used_ + align - 1) & ~(align - 1);
    if (head_ == nullptr || p + size > capacity_) return allocate_slow(size, align);
    used_ = p + size;
    return head_->data() + p;
  }

  template <class T, class... Args>
  T* make(Args&&... args) {
    void* p = allocate_bytes(sizeof(T), alignof(T));
    return ::new (p) T(std::forward<Args>(args)...);
  }

  // Copies `text` into the arena and returns a view of the copy.
  std::string_view copy(std::string_view text) {
    if (text.empty()) return {};
    char* p = static_cast<char*>(allocate_bytes(text.size(), 1));
    std::memcpy(p, text.data(), text.size());
    return {p, text.size()};
  }

  // Total bytes reserved from the system (for benchmarks).
  std::size_t reserved_bytes() const { return reserved_; }
  // Bytes reserved less the unused end of the current block: what the
  // arena holds so far (for benchmarks).
  std::size_t held_bytes() const { return head_ == nullptr ? reserved_ : reserved_ - (capacity_ - used_); }

  // Numbers for objects placed here, so that 32-bit references can name them
  // (the syntax tree's own tokens): 1, 2, ... in order of asking.
  // An internal failure past 2^31 - 1 objects.
  std::uint32_t number(void* object);
  void* numbered(std::uint32_t number) const {
    if (number == 0 || number > numbered_.size()) [[unlikely]]
      throw_bad_number();
    return numbered_[number - 1];
  }

  // Recovery's Unknown tokens and nodes carry diagnostics that only a walk of
  // the tree collects. Their constructors count them here, in the
  // compilation's own arena, so a parse that made none skips that walk.
  void count_unknown() { ++unknowns_made_; }
  std::uint64_t unknowns_made() const { return unknowns_made_; }

 private:
  std::uint64_t unknowns_made_ = 0;
  std::vector<void*> numbered_;
  [[noreturn]] static void throw_bad_number();
  struct Block {
    Block* next;
    std::size_t size;
    char* data() { return reinterpret_cast<char*>(this + 1); }
  };

  void* allocate_slow(std::size_t size, std::size_t align);
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  void* allocate_separate(std::size_t size, std::size_t align);
#endif
  void* do_allocate(std::size_t bytes, std::size_t align) override { return allocate_bytes(bytes, align); }
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

  Block* head_ = nullptr;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::size_t next_block_ = 16 * 1024;
  std::size_t reserved_ = 0;
};

}  // namespace quendal
