#pragma once
// The script loop: parses statements and an optional trailing expression over
// the recovered token list.
#include <cstdint>
#include <span>

#include "parser/ast.h"
#include "support/arena.h"

namespace quendal {

struct ParseOutcome {
  // Set on success. `eof` borrows the Eof token that ended the loop, or owns
  // a synthetic unknown-wrapped Eof at (0, 0) when the list had none.
  Script* script = nullptr;
  // Set on a cut: the range of the ParserError diagnostic (from the first
  // unconsumed token's start to the last token's end; the last token's range
  // when everything was consumed).
  bool cut = false;
  std::uint64_t error_start = 0;
  std::uint64_t error_end = 0;
};

// The store's own list, or any list of it.
ParseOutcome parse_script(const Tokens& tokens, Arena& arena);
ParseOutcome parse_script(const Tokens& tokens, TokenRange range, Arena& arena);

}  // namespace quendal
