// The statement repetition used by blocks and the script loop.
#include "parser/parser.h"

namespace quendal {

// statements -> statement*
// The statements are gathered on the context's scratch list (blocks nest, so
// the list is shared like a stack) and appended to `out` in one piece.
ParserResult<std::size_t> Parser::statements(StatementList& out) {
  std::vector<ArenaRef<Statement>>& scratch = context_.statement_scratch;
  const std::size_t mark = scratch.size();
  const auto take = [&] {
    const std::size_t count = scratch.size() - mark;
    out.append(arena_, std::span<const ArenaRef<Statement>>(scratch.data() + mark, count));
    scratch.resize(mark);
    return count;
  };
  for (;;) {
    const std::size_t start = pos_;
    auto parsed = statement();
    if (parsed.is_cut()) {
      scratch.resize(mark);
      return parsed.failure();
    }
    if (!parsed.ok()) {
      restore(start);
      return take();
    }
    // A statement that consumed nothing would repeat forever.
    if (pos_ == start) {
      scratch.resize(mark);
      return cut();
    }
    scratch.push_back(*parsed);
  }
}

}  // namespace quendal
