#pragma once
// The keyword table (from keywords.def) and the perfect hash that finds a
// keyword from its spelling. Internal to the lexer.
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

// Keywords are found by a perfect hash over the word read as an integer
// (at most 8 bytes, zero-padded): slot = (word * multiplier) >> 56. The
// multiplier is searched for when this unit is compiled, from the table above,
// so the table stays the only list of keywords.
constexpr std::uint64_t word_of(std::string_view spelling) {
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < spelling.size(); ++i)
    w |= static_cast<std::uint64_t>(static_cast<unsigned char>(spelling[i])) << (8 * i);
  return w;
}

constexpr bool matched_by_words(const KeywordEntry& k) {
  return k.spelling.size() <= 8 && k.spelling.find(' ') == std::string_view::npos;
}

constexpr std::size_t slot_of(std::uint64_t word, std::uint64_t multiplier) {
  return static_cast<std::size_t>((word * multiplier) >> 56);
}

constexpr std::uint64_t find_multiplier() {
  std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
  for (int attempt = 0; attempt < 100000; ++attempt) {
    std::array<bool, 256> used{};
    bool perfect = true;
    for (const auto& k : kKeywords) {
      if (!matched_by_words(k)) continue;
      const std::size_t slot = slot_of(word_of(k.spelling), multiplier);
      if (used[slot]) {
        perfect = false;
        break;
      }
      used[slot] = true;
    }
    if (perfect) return multiplier;
    multiplier += 0x2545F4914F6CDD1Dull * 2;  // stays odd
  }
  return 0;
}

constexpr std::uint64_t kKeywordMultiplier = find_multiplier();
static_assert(kKeywordMultiplier != 0, "no perfect hash for the keyword table");

struct KeywordSlots {
  std::array<std::uint64_t, 256> words{};  // 0: empty (no keyword is empty)
  std::array<std::uint8_t, 256> members{};
};

constexpr KeywordSlots kSlots = [] {
  KeywordSlots t{};
  for (std::size_t i = 0; i < kKeywords.size(); ++i) {
    if (!matched_by_words(kKeywords[i])) continue;
    const std::uint64_t w = word_of(kKeywords[i].spelling);
    const std::size_t slot = slot_of(w, kKeywordMultiplier);
    t.words[slot] = w;
    t.members[slot] = static_cast<std::uint8_t>(i);
  }
  return t;
}();

// The keyword spelled by `word`: a name of at most 8 bytes read as a
// little-endian integer, zero-padded ("not in" is never found).
inline bool keyword_of_word(std::uint64_t word, Keyword& keyword) {
  const std::size_t slot = slot_of(word, kKeywordMultiplier);
  if (kSlots.words[slot] != word) return false;
  keyword = static_cast<Keyword>(kSlots.members[slot]);
  return true;
}

}  // namespace quendal::lexer
