#pragma once
// The driver of one compilation: owns everything the call allocates (arena,
// token list, collector) and runs the stages in order.
#include <string_view>

#include "compile/compile_records.h"
#include "diagnostic/diagnostics_collector.h"
#include "lexer/tokens.h"
#include "quendal/compile.h"
#include "support/arena.h"

namespace quendal {

class Compiler {
 public:
  Compiler(std::string_view source, const CompileConfig& config);
  Compiler(const Compiler&) = delete;
  Compiler& operator=(const Compiler&) = delete;

  CompileRecords run();

 private:
  // Lexes the source; the lexer recovers each token as it makes it. Returns
  // false when the lexer failed (the LexerError is already recorded).
  bool lex();
  // Drops the chunk when a kept diagnostic is an error and hands over the
  // collector's records.
  CompileRecords finish(std::optional<std::vector<std::uint8_t>> chunk);

  Arena arena_;
  std::string_view source_;  // the caller's text, alive for the whole call
  const CompileConfig& config_;
  DiagnosticsCollector collector_;
  Tokens tokens_;
};

}  // namespace quendal
