#pragma once
// A naive reference for the encoder: one entry per line, a linear scan,
// characters decoded one by one.
#include <cstdint>
#include <string_view>
#include <vector>

#include "diagnostic/encode_diagnostics.h"
#include "quendal/compile.h"

namespace quendal::testing {

inline std::uint64_t naive_count(std::string_view text, PositionUnit unit) {
  std::uint64_t n = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    n += unit == PositionUnit::Utf8Bytes ? len : unit == PositionUnit::Utf16Units && len == 4 ? 2 : 1;
    i += len;
  }
  return n;
}

struct NaiveLines {
  explicit NaiveLines(std::string_view s) : source(s) {
    std::uint64_t p = 0;
    while (p < source.size()) {
      starts.push_back(p);
      const auto nl = source.find('\n', p);
      if (nl == std::string_view::npos) break;
      p = nl + 1;
    }
  }

  LineCol at(std::uint64_t pos, PositionUnit unit) const {
    if (pos == 0) return {1, 1};
    std::size_t k = 0;
    while (k + 1 < starts.size() && starts[k + 1] <= pos) ++k;
    return {static_cast<std::uint32_t>(k + 1),
            static_cast<std::uint32_t>(1 + naive_count(source.substr(starts[k], pos - starts[k]), unit))};
  }

  std::string_view source;
  std::vector<std::uint64_t> starts;
};

}  // namespace quendal::testing
