#pragma once
// The keyword table (from keywords.def) and the keys of the keywords in the
// symbol index. Internal to the lexer.
#include <array>
#include <cstdint>
#include <string_view>

#include "lexer/token.h"

namespace quendal::lexer {

struct KeywordEntry {
  std::string_view spelling;
  bool constant;
  bool reserved;
};

constexpr std::array<KeywordEntry, kKeywordCount> kKeywords = {{
#define QUENDAL_KEYWORD(name, spelling, constant, reserved, prefix, right, power) \
  {spelling, constant != 0, reserved != 0},
#include "lexer/keywords.def"
#undef QUENDAL_KEYWORD
}};

// A keyword's key in the symbol index (see SymbolIndex): its spelling read as
// a little-endian integer, zero-padded. "not in" has none: it is only made by
// merging `not` and `in`.
constexpr std::uint64_t word_of(std::string_view spelling) {
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < spelling.size(); ++i)
    w |= static_cast<std::uint64_t>(static_cast<unsigned char>(spelling[i])) << (8 * i);
  return w;
}

constexpr bool matched_by_words(const KeywordEntry& k) {
  return k.spelling.size() <= 8 && k.spelling.find(' ') == std::string_view::npos;
}

}  // namespace quendal::lexer
