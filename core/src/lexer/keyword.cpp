#include "lexer/keyword_table.h"
#include "lexer/token.h"

namespace quendal {

using lexer::kKeywords;

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

}  // namespace quendal
