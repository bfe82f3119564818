#include "compile/compiler.h"

#include <algorithm>

#include "diagnostic/encode_diagnostics.h"
#include "emitter/emit_script.h"
#include "lexer/lex.h"
#include "parser/parse_script.h"

namespace quendal {

Compiler::Compiler(std::string_view source, const CompileConfig& config)
    : source_(source), config_(config), collector_(source_, config_), tokens_(source_) {}

bool Compiler::lex() {
  LexResult lexed = config_.input_mode == InputMode::Template
                        ? quendal::lex_string(source_, config_, arena_, &collector_)
                        : quendal::lex(source_, config_, arena_, &collector_);
  if (!lexed.ok) {
    if (config_.report_errors) {
      // Start where the lexer stopped (0 once nothing remained). The record
      // spans the unconsumed rest, start + remaining bytes, so both ends stay
      // on character boundaries inside the source.
      const std::uint64_t stop = std::min<std::uint64_t>(lexed.stop_offset, source_.size());
      const std::uint64_t remaining = source_.size() - stop;
      const std::uint64_t start = remaining == 0 ? 0 : stop;
      // Only a refused source (kEndOfSource bytes or more) ends beyond 32
      // bits; the end of such a source is stored as kEndOfSource.
      const std::uint64_t end = start + remaining;
      collector_.append_direct({start, end >= kEndOfSource && end == source_.size() ? kEndOfSource : end,
                                DiagnosticCode::LexerError});
    }
    return false;
  }
  tokens_ = std::move(lexed.tokens);
  if (tokens_.list().empty()) throw InternalFailure("Cannot parse an empty token list");
  return true;
}

CompileRecords Compiler::finish(std::optional<std::vector<std::uint8_t>> chunk) {
  std::vector<SourceDiagnostic>& records = collector_.diagnostics();
  if (std::any_of(records.begin(), records.end(),
                  [](const SourceDiagnostic& d) { return is_error_code(to_number(d.code)); }))
    chunk.reset();
  return {std::move(chunk), std::move(records)};
}

CompileRecords Compiler::run() {
  if (!lex()) return finish(std::nullopt);
  const UsingTokens using_tokens(tokens_, arena_);

  // Recovery left no Unknown token in the store, so only those made from
  // here on can end up in the tree.
  const std::uint64_t unknowns_before = arena_.unknowns_made();
  ParseOutcome parsed = parse_script(tokens_, arena_);
  if (parsed.cut) {
    if (config_.report_errors)
      collector_.append_direct({parsed.error_start, parsed.error_end, DiagnosticCode::ParserError});
    return finish(std::nullopt);
  }
  Script& script = *parsed.script;

  // Diagnostics stored in the tree: statements, the trailing value, then a
  // synthetic end token (tokens of the list were unwrapped during recovery).
  // Only Unknown tokens and nodes store any; when none was made, the walk
  // would find nothing and change nothing.
  if (arena_.unknowns_made() != unknowns_before) {
    for (Statement* statement : script.statements) collect_diagnostics(*statement, collector_);
    if (script.expression != nullptr) collect_diagnostics(script.expression, collector_);
    if (script.eof.is_owned()) script.eof.collect_diagnostics(collector_);
  }

  // Emission: the whole script as one function; the emitter's own records
  // follow in emission order. Its collector has the same configuration and
  // filtered them as they came, so they are taken as they are (without a
  // copy when nothing was recorded before emission, the usual case).
  EmitOutput emitted = emit_script(script, source_, config_, arena_);
  collector_.adopt(std::move(emitted.diagnostics));
  std::optional<std::vector<std::uint8_t>> chunk = std::move(emitted.chunk);

  return finish(std::move(chunk));
}

CompileRecords compile_records(std::string_view source, const CompileConfig& config) {
  Compiler compiler(source, config);
  return compiler.run();
}

CompileResult compile(std::string_view source, const CompileConfig& config) {
  CompileRecords compiled = compile_records(source, config);
  CompileResult result;
  result.chunk = std::move(compiled.chunk);
  result.diagnostics = encode_diagnostics(source, compiled.records, config.position_unit);
  return result;
}

}  // namespace quendal
