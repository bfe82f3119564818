#include "support/arena.h"

#include "quendal/compile.h"
#include "support/huge_pages.h"

#include <mimalloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quendal {

void* allocate_zeroed(std::size_t bytes) {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
#else
  void* p = mi_zalloc(bytes);
#endif
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* grow_zeroed(void* p, std::size_t old_bytes, std::size_t new_bytes) {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  void* q = std::realloc(p, new_bytes == 0 ? 1 : new_bytes);
  if (q != nullptr && new_bytes > old_bytes)
    std::memset(static_cast<char*>(q) + old_bytes, 0, new_bytes - old_bytes);
#else
  (void)old_bytes;
  void* q = mi_rezalloc(p, new_bytes);
#endif
  if (q == nullptr) throw std::bad_alloc();
  return q;
}

void free_zeroed(void* p) noexcept {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  std::free(p);
#else
  mi_free(p);
#endif
}

std::uint32_t Arena::number(void* object) {
  if (numbered_.size() >= 0x7FFFFFFFu) throw std::bad_alloc();
  numbered_.push_back(object);
  return static_cast<std::uint32_t>(numbered_.size());
}

void Arena::throw_bad_number() { throw InternalFailure("Inner token pointer should not be null"); }

void Arena::add_reference_block(char* block) {
  ref_blocks_.push_back(block);
  // The table may have moved: the thread's copy of it follows.
  if (detail::arena_in_use == this) detail::reference_blocks = ref_blocks_.data();
}

void Arena::check_resolvable(std::uint32_t ref) {
  if (ref == 0) return;
  const Arena* arena = detail::arena_in_use;
  if (arena == nullptr || arena->reference_blocks() != detail::reference_blocks) throw_no_arena();
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  const std::size_t block = ref;
#else
  const std::size_t block = ref >> kRefOffsetBits;
#endif
  if (block == 0 || block >= arena->ref_blocks_.size())
    throw InternalFailure("Inner node pointer should not be null");
}

void throw_no_arena() { throw InternalFailure("No arena in use"); }

void* Arena::allocate_referenced_slow(std::size_t size) {
  if (ref_blocks_.empty()) ref_blocks_.push_back(nullptr);
  if (ref_blocks_.size() >= (std::size_t{1} << (32 - kRefOffsetBits))) throw std::bad_alloc();
  // Room in the table first (growing it geometrically), so that a block is
  // never left unlisted, and never freed, when the table cannot grow.
  if (ref_blocks_.size() == ref_blocks_.capacity()) ref_blocks_.reserve(2 * ref_blocks_.size());
  constexpr std::size_t kBlock = std::size_t{1} << kRefBlockBits;
  char* block;
  if (ref_spare_blocks_ != 0) {
    block = ref_spare_;
    ref_spare_ += kBlock;
    --ref_spare_blocks_;
  } else {
    // A small tree takes its blocks one at a time; a big one takes them a
    // huge page at a time.
    const std::size_t count = ref_blocks_.size() > kRefGroupBlocks ? kRefGroupBlocks : 1;
    if (ref_groups_.size() == ref_groups_.capacity()) ref_groups_.reserve(2 * ref_groups_.size() + 16);
    void* raw = mi_malloc_aligned(count * kBlock, count == 1 ? kBlock : count * kBlock);
    if (raw == nullptr) throw std::bad_alloc();
    if (count > 1) advise_huge_pages(raw, count * kBlock);
    ref_groups_.push_back(raw);
    reserved_ += count * kBlock;
    block = static_cast<char*>(raw);
    ref_spare_ = block + kBlock;
    ref_spare_blocks_ = count - 1;
  }
  // The header: what reference_of adds an object's address (in 4-byte
  // units) to, to make its reference.
  const auto number = static_cast<std::uint32_t>(ref_blocks_.size());
  *reinterpret_cast<std::uint32_t*>(block) =
      (number << kRefOffsetBits) - static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block) >> 2);
  add_reference_block(block);
  ref_block_ = block;
  // The header takes the first 8 bytes.
  ref_used_ = 8 + size;
  return block + 8;
}

#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
void* Arena::allocate_referenced_separate(std::size_t size, std::size_t) {
  // Each object gets a heap block of its own, its number in the 16 bytes
  // before it.
  if (ref_blocks_.empty()) ref_blocks_.push_back(nullptr);
  if (ref_blocks_.size() >= 0xFFFFFFFFu) throw std::bad_alloc();
  if (ref_blocks_.size() == ref_blocks_.capacity()) ref_blocks_.reserve(2 * ref_blocks_.size());
  char* raw = static_cast<char*>(std::malloc(16 + size));
  if (raw == nullptr) throw std::bad_alloc();
  reserved_ += 16 + size;
  *reinterpret_cast<std::uint32_t*>(raw) = static_cast<std::uint32_t>(ref_blocks_.size());
  add_reference_block(raw + 16);
  return raw + 16;
}
#endif

Arena::~Arena() {
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  for (std::size_t i = 1; i < ref_blocks_.size(); ++i) std::free(ref_blocks_[i] - 16);
#else
  for (void* group : ref_groups_) mi_free(group);
#endif
  while (head_ != nullptr) {
    Block* next = head_->next;
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
    std::free(head_);
#else
    mi_free(head_);
#endif
    head_ = next;
  }
}

#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
void* Arena::allocate_separate(std::size_t size, std::size_t align) {
  // The block header keeps the data 16-byte aligned; only larger alignments
  // need slack, so for all others the block ends exactly at the object's end.
  const std::size_t slack = align > alignof(std::max_align_t) ? align : 0;
  void* raw = std::malloc(sizeof(Block) + size + slack);
  if (raw == nullptr) throw std::bad_alloc();
  reserved_ += sizeof(Block) + size + slack;
  Block* b = static_cast<Block*>(raw);
  b->next = head_;
  b->size = size + slack;
  head_ = b;
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(b->data());
  return b->data() + (((base + align - 1) & ~(std::uintptr_t{align} - 1)) - base);
}
#endif

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
  std::size_t need = size + align;
  std::size_t block = next_block_;
  if (block < need) block = need;
  if (next_block_ < (std::size_t{8} << 20)) next_block_ *= 2;
  void* raw = mi_malloc(sizeof(Block) + block);
  if (raw == nullptr) throw std::bad_alloc();
  if (block >= (std::size_t{4} << 20)) advise_huge_pages(raw, sizeof(Block) + block);
  reserved_ += sizeof(Block) + block;
  Block* b = static_cast<Block*>(raw);
  b->next = head_;
  b->size = block;
  head_ = b;
  capacity_ = block;
  std::size_t base = reinterpret_cast<std::uintptr_t>(b->data());
  std::size_t p = ((base + align - 1) & ~(align - 1)) - base;
  used_ = p + size;
  return b->data() + p;
}

}  // namespace quendal
