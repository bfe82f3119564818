// The statement repetition used by blocks and the script loop.
#include "parser/parser.h"

namespace quendal {

// statements -> statement*
ParserResult<std::size_t> Parser::statements(StatementList& out) {
  std::size_t count = 0;
  for (;;) {
    const std::size_t start = pos_;
    auto parsed = statement();
    if (parsed.is_cut()) return parsed.failure();
    if (!parsed.ok()) {
      restore(start);
      return count;
    }
    // A statement that consumed nothing would repeat forever.
    if (pos_ == start) return cut();
    out.push_back(*parsed);
    ++count;
  }
}

}  // namespace quendal
