#pragma once
// Entry points of the lexer: scripts (`lex`) and templates (`lex_string`).
#include <cstdint>
#include <string_view>

#include "config/compile_config.h"
#include "lexer/tokens.h"
#include "support/arena.h"

namespace quendal {

class DiagnosticsCollector;

struct LexResult {
  bool ok = true;
  Tokens tokens;                  // the main list ends with exactly one Eof token when ok
  std::uint64_t stop_offset = 0;  // where the lexer stopped, when !ok
};

// Lexes `source` into a token store. Recovery happens as each token is made:
// when `records` is given, it receives, in token order, the diagnostics of
// every token that carries any (through the collector's filter) and, when
// tags are on, the String and Interpolation tags of the literals; a token's
// nested tokens follow the token's own records. A failed lex leaves
// `records` as it found it.
//
// Sources of 4 GiB or more are refused (the result is a failure at offset 0):
// token offsets are 32-bit.
LexResult lex(std::string_view source, const CompileConfig& config, Arena& arena,
              DiagnosticsCollector* records = nullptr);
LexResult lex_string(std::string_view source, const CompileConfig& config, Arena& arena,
                     DiagnosticsCollector* records = nullptr);

}  // namespace quendal
