// Every C++ allocation inside the module goes through mimalloc. The link keeps
// these replacements local (version script exporting only the entry point,
// libraries' symbols excluded): they bind only within this shared object, the
// statically linked libstdc++ included, so the allocator of the host process
// and of other extensions stays untouched.
#include <mimalloc.h>

#include <cstddef>
#include <new>

#include "support/huge_pages.h"

namespace {

// The large buffers of a big compilation (token columns, records, code,
// source maps) are written once from end to end: huge pages where the
// system offers them.
void* allocate(std::size_t n) {
  void* p = mi_new(n);
  if (n >= (std::size_t{4} << 20)) quendal::advise_huge_pages(p, n);
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return mi_new_nothrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return mi_new_nothrow(n); }
void* operator new(std::size_t n, std::align_val_t a) {
  return mi_new_aligned(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return mi_new_aligned(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return mi_new_aligned_nothrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return mi_new_aligned_nothrow(n, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept { mi_free(p); }
void operator delete[](void* p) noexcept { mi_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { mi_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { mi_free(p); }
void operator delete(void* p, std::size_t n) noexcept { mi_free_size(p, n); }
void operator delete[](void* p, std::size_t n) noexcept { mi_free_size(p, n); }
void operator delete(void* p, std::align_val_t a) noexcept {
  mi_free_aligned(p, static_cast<std::size_t>(a));
}
void operator delete[](void* p, std::align_val_t a) noexcept {
  mi_free_aligned(p, static_cast<std::size_t>(a));
}
void operator delete(void* p, std::size_t n, std::align_val_t a) noexcept {
  mi_free_size_aligned(p, n, static_cast<std::size_t>(a));
}
void operator delete[](void* p, std::size_t n, std::align_val_t a) noexcept {
  mi_free_size_aligned(p, n, static_cast<std::size_t>(a));
}
void operator delete(void* p, std::align_val_t a, const std::nothrow_t&) noexcept {
  mi_free_aligned(p, static_cast<std::size_t>(a));
}
void operator delete[](void* p, std::align_val_t a, const std::nothrow_t&) noexcept {
  mi_free_aligned(p, static_cast<std::size_t>(a));
}
