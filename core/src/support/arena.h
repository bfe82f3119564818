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
#include <type_traits>
#include <utility>
#include <vector>

#include "support/checks.h"

// Under AddressSanitizer every allocation gets a heap block of its own, so
// reads and writes past an object are caught instead of landing in the
// neighbouring bump-allocated object.
#if QUENDAL_ASAN
#define QUENDAL_ARENA_SEPARATE_BLOCKS 1
#endif

namespace quendal {

class Arena;

// The arena whose objects 32-bit references (ArenaRef, and the tree's token
// references) of this thread resolve to, and its table of reference blocks
// (entry 0 is null, so reference 0 resolves to nullptr). Set by UsingTokens.
namespace detail {
inline char* const kNoReferenceBlocks[1] = {nullptr};
[[gnu::tls_model("initial-exec")]] inline thread_local const Arena* arena_in_use = nullptr;
[[gnu::tls_model("initial-exec")]] inline thread_local char* const* reference_blocks = kNoReferenceBlocks;
}  // namespace detail

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

  // Objects of types that declare `kReferenced` are what 32-bit references
  // (ArenaRef) point to: they are placed in the reference blocks below.
  template <class T, class... Args>
  T* make(Args&&... args) {
    void* p;
    if constexpr (requires { T::kReferenced; }) {
      static_assert(sizeof(T) <= 1024 && alignof(T) <= 8);
      p = allocate_referenced(sizeof(T), alignof(T));
    } else {
      p = allocate_bytes(sizeof(T), alignof(T));
    }
    return ::new (p) T(std::forward<Args>(args)...);
  }

  // The same as make, or nullptr (nothing made) when the current block has
  // no room left: for fast paths that must not call out, and take their
  // general path instead.
  template <class T>
  T* try_make() {
    static_assert(requires { T::kReferenced; });
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
    return make<T>();
#else
    const std::size_t p = (ref_used_ + alignof(T) - 1) & ~(alignof(T) - 1);
    if (p + sizeof(T) > (std::size_t{1} << kRefBlockBits)) [[unlikely]]
      return nullptr;
    ref_used_ = p + sizeof(T);
    return ::new (ref_block_ + p) T();
#endif
  }

  // Reference blocks: 64 KiB each, aligned to their size and numbered from
  // 1, so that an object's 32-bit reference is its block's number and its
  // offset in the block in 4-byte units (up to 2^18 - 1 blocks, 16 GiB).
  // Reference 0 is null: no object starts at a block's header.
  static constexpr unsigned kRefBlockBits = 16;
  static constexpr unsigned kRefOffsetBits = kRefBlockBits - 2;

  void* allocate_referenced(std::size_t size, std::size_t align) {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
    return allocate_referenced_separate(size, align);
#endif
    std::size_t p = (ref_used_ + align - 1) & ~(align - 1);
    if (p + size > (std::size_t{1} << kRefBlockBits)) [[unlikely]]
      return allocate_referenced_slow(size);
    ref_used_ = p + size;
    return ref_block_ + p;
  }

  // The reference of an object placed by allocate_referenced.
  static std::uint32_t reference_of(const void* object) {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
    return static_cast<const std::uint32_t*>(object)[-4];
#else
    const auto p = reinterpret_cast<std::uintptr_t>(object);
    // The block's header holds its number, shifted into place, less its own
    // address in 4-byte units: adding the object's address in those units
    // leaves number and offset (all modulo 2^32).
    const std::uintptr_t base = p & ~((std::uintptr_t{1} << kRefBlockBits) - 1);
    const std::uint32_t bias = *reinterpret_cast<const std::uint32_t*>(base);
    return bias + static_cast<std::uint32_t>(p >> 2);
#endif
  }
  // The object of a reference in the arena in use (nullptr for 0).
  static void* resolve(std::uint32_t ref) {
#if !defined(NDEBUG) || defined(QUENDAL_ARENA_SEPARATE_BLOCKS)
    check_resolvable(ref);
#endif
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
    return detail::reference_blocks[ref];
#else
    return detail::reference_blocks[ref >> kRefOffsetBits] +
           (static_cast<std::size_t>(ref & ((1u << kRefOffsetBits) - 1)) << 2);
#endif
  }
  // This arena's block table, for detail::reference_blocks.
  char* const* reference_blocks() const {
    return ref_blocks_.empty() ? detail::kNoReferenceBlocks : ref_blocks_.data();
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
  std::size_t held_bytes() const {
    std::size_t held = head_ == nullptr ? reserved_ : reserved_ - (capacity_ - used_);
#ifndef QUENDAL_ARENA_SEPARATE_BLOCKS
    held -= (std::size_t{1} << kRefBlockBits) - ref_used_ + (ref_spare_blocks_ << kRefBlockBits);
#endif
    return held;
  }

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
  // By number (index 0 unused): the reference blocks, or under
  // QUENDAL_ARENA_SEPARATE_BLOCKS each referenced object.
  std::vector<char*> ref_blocks_;
  // The current reference block and its bytes in use (full before the first).
  char* ref_block_ = nullptr;
  std::size_t ref_used_ = std::size_t{1} << kRefBlockBits;
  // What the reference blocks were carved from: one block each at first,
  // then groups of kRefGroupBlocks blocks (one huge page). The blocks of
  // the newest group not handed out yet start at ref_spare_.
  static constexpr std::size_t kRefGroupBlocks = 32;
  std::vector<void*> ref_groups_;
  char* ref_spare_ = nullptr;
  std::size_t ref_spare_blocks_ = 0;
  void* allocate_referenced_slow(std::size_t size);
  void add_reference_block(char* block);
  static void check_resolvable(std::uint32_t ref);
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  void* allocate_referenced_separate(std::size_t size, std::size_t align);
#endif
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

// The arena in use; an internal failure when there is none.
[[noreturn]] void throw_no_arena();
inline const Arena& arena_in_use() {
  const Arena* arena = detail::arena_in_use;
  if (arena == nullptr) [[unlikely]]
    throw_no_arena();
  return *arena;
}

// A 32-bit reference to an object the arena in use placed with make<T>, for
// types that declare `kReferenced`. Converts to and from T* implicitly, so it
// is written and read like the pointer it replaces.
template <class T>
class ArenaRef {
 public:
  ArenaRef() = default;
  ArenaRef(std::nullptr_t) {}
  ArenaRef(T* object) : ref_(object == nullptr ? 0 : Arena::reference_of(object)) {}
  template <class U>
  requires(std::is_base_of_v<T, U> && !std::is_same_v<T, U>) ArenaRef(U* object)
      : ArenaRef(static_cast<T*>(object)) {}

  T* get() const { return static_cast<T*>(Arena::resolve(ref_)); }
  operator T*() const { return get(); }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
  bool operator==(std::nullptr_t) const { return ref_ == 0; }
  friend bool operator==(ArenaRef a, ArenaRef b) { return a.ref_ == b.ref_; }

 private:
  std::uint32_t ref_ = 0;
};

}  // namespace quendal
