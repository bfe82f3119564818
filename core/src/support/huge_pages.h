#pragma once
// Transparent huge pages for large buffers.
#include <cstddef>

namespace quendal {

// Asks the system to back the whole 2 MiB pages inside [raw, raw + size)
// with transparent huge pages where it offers them on request. A
// compilation writes every page of its large buffers once, and faulting
// them in 4 KiB at a time is a large share of the time of a big
// compilation. Only advice: nothing changes when it is not taken.
void advise_huge_pages(void* raw, std::size_t size) noexcept;

}  // namespace quendal
