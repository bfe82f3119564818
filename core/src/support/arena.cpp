#include "support/arena.h"

#include <mimalloc.h>

#include <cstdint>

namespace quendal {

Arena::~Arena() {
  while (head_ != nullptr) {
    Block* next = head_->next;
    mi_free(head_);
    head_ = next;
  }
}

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
  std::size_t need = size + align;
  std::size_t block = next_block_;
  if (block < need) block = need;
  if (next_block_ < (std::size_t{8} << 20)) next_block_ *= 2;
  void* raw = mi_malloc(sizeof(Block) + block);
  if (raw == nullptr) throw std::bad_alloc();
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
