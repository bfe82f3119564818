#include "compile/compiler.h"

#include <algorithm>

#include "compile/recover_token.h"
#include "diagnostic/encode_diagnostics.h"
#include "lexer/lex.h"

namespace quendal {

Compiler::Compiler(std::string_view source, const CompileConfig& config)
    : source_(arena_.copy(source)), config_(config), collector_(source_, config_), tokens_(&arena_) {}

bool Compiler::lex() {
  LexResult lexed = config_.input_mode == InputMode::Template ? quendal::lex_string(source_, config_, arena_)
                                                              : quendal::lex(source_, config_, arena_);
  if (!lexed.ok) {
    if (config_.report_errors) {
      // Start where the lexer stopped (0 once nothing remained); the second
      // field holds the number of bytes left unconsumed.
      const std::uint64_t stop = std::min<std::uint64_t>(lexed.stop_offset, source_.size());
      const std::uint64_t remaining = source_.size() - stop;
      collector_.append_direct({remaining == 0 ? 0 : stop, remaining, DiagnosticCode::LexerError});
    }
    return false;
  }
  tokens_ = std::move(lexed.tokens);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < tokens_.size(); ++i) {
    if (std::optional<Token> token = recover_token(tokens_[i], collector_, arena_)) tokens_[kept++] = *token;
  }
  tokens_.resize(kept);
  tokens_.shrink_to_fit();
  if (tokens_.empty()) throw InternalFailure("Cannot parse an empty token list");
  return true;
}

CompileResult Compiler::finish(std::optional<std::vector<std::uint8_t>> chunk) {
  const auto& records = collector_.diagnostics();
  if (std::any_of(records.begin(), records.end(),
                  [](const SourceDiagnostic& d) { return is_error_code(to_number(d.code)); }))
    chunk.reset();
  CompileResult result;
  result.chunk = std::move(chunk);
  result.diagnostics = encode_diagnostics(source_, records, config_.position_unit);
  return result;
}

CompileResult Compiler::run() {
  if (!lex()) return finish(std::nullopt);

  std::optional<std::vector<std::uint8_t>> chunk;
  // Parsing and emission plug in here: the script loop over tokens_, the
  // tree's diagnostics walk into collector_, emit_fn_like for the whole
  // script, serialisation into `chunk`, and the merge of the emitter's own
  // records into collector_ (filtered, emission order). Until they exist no
  // chunk is produced.

  return finish(std::move(chunk));
}

CompileResult compile(std::string_view source, const CompileConfig& config) {
  Compiler compiler(source, config);
  return compiler.run();
}

}  // namespace quendal
