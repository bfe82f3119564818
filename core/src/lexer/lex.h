#pragma once
// Entry points of the lexer: scripts (`lex`) and templates (`lex_string`).
#include <cstdint>
#include <string_view>

#include "config/compile_config.h"
#include "lexer/token.h"
#include "support/arena.h"

namespace quendal {

struct LexResult {
  bool ok = true;
  TokenList tokens;               // ends with exactly one Eof token when ok
  std::uint64_t stop_offset = 0;  // where the lexer stopped, when !ok
};

LexResult lex(std::string_view source, const CompileConfig& config, Arena& arena);
LexResult lex_string(std::string_view source, const CompileConfig& config, Arena& arena);

}  // namespace quendal
