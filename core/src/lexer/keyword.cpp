#include <array>

#include "lexer/lexer.h"
#include "lexer/token.h"

namespace quendal {

namespace {

struct KeywordEntry {
  std::string_view spelling;
  bool constant;
  bool reserved;
};

constexpr std::array<KeywordEntry, kKeywordCount> kKeywords = {{
#define QUENDAL_KEYWORD(name, spelling, constant, reserved) {spelling, constant != 0, reserved != 0},
#include "lexer/keywords.def"
#undef QUENDAL_KEYWORD
}};

constexpr std::size_t kLongestKeyword = 8;

// Keywords grouped by length, for the identifier look-up. "not in" has a
// blank and is never matched from an identifier.
struct ByLength {
  std::array<std::array<std::uint8_t, kKeywordCount>, kLongestKeyword + 1> members{};
  std::array<std::uint8_t, kLongestKeyword + 1> count{};
};

constexpr ByLength kByLength = [] {
  ByLength t{};
  for (std::size_t i = 0; i < kKeywords.size(); ++i) {
    const auto& k = kKeywords[i];
    if (k.spelling.find(' ') != std::string_view::npos) continue;
    t.members[k.spelling.size()][t.count[k.spelling.size()]++] = static_cast<std::uint8_t>(i);
  }
  return t;
}();

static_assert([] {
  std::size_t longest = 0;
  for (const auto& k : kKeywords) longest = k.spelling.size() > longest ? k.spelling.size() : longest;
  return longest <= kLongestKeyword;
}());

}  // namespace

std::string_view keyword_spelling(Keyword keyword) {
  return kKeywords[static_cast<std::size_t>(keyword)].spelling;
}

bool keyword_is_constant(Keyword keyword) { return kKeywords[static_cast<std::size_t>(keyword)].constant; }
bool keyword_is_reserved(Keyword keyword) { return kKeywords[static_cast<std::size_t>(keyword)].reserved; }

std::optional<bool> keyword_property(Keyword keyword, std::string_view property) {
  bool has = false;
  if (property == "constant") {
    has = keyword_is_constant(keyword);
  } else if (property == "reserved") {
    has = keyword_is_reserved(keyword);
  }
  if (has) return true;
  return std::nullopt;
}

namespace lexer {

std::optional<Keyword> find_keyword(std::string_view text) {
  if (text.size() > kLongestKeyword) return std::nullopt;
  const std::size_t n = text.size();
  for (std::uint8_t i = 0; i < kByLength.count[n]; ++i) {
    const std::uint8_t index = kByLength.members[n][i];
    const std::string_view spelling = kKeywords[index].spelling;
    if (spelling[0] == text[0] && spelling == text) return static_cast<Keyword>(index);
  }
  return std::nullopt;
}

}  // namespace lexer
}  // namespace quendal
