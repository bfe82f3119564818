// The emitter object: its construction and the helpers every unit reports
// through (tags, emitter errors).
#include "emitter/emitter_struct.h"
#include "quendal/compile.h"

namespace quendal {

Emitter::Emitter(std::string_view source_text, const CompileConfig& compile_config, Arena& compile_arena)
    : tokens(tokens_in_use()),
      scopes(tokens.symbols()),
      diagnostics(source_text, compile_config),
      source(source_text),
      config(compile_config),
      arena(compile_arena) {
  // The scratch stacks get room for the usual nesting at once, rather than
  // growing step by step in every compilation.
  windows.reserve(16);
  scratch_registers.reserve(64);
  binary_steps_.reserve(16);
  operand_buffer_.reserve(32);
  spare_variables.reserve(64);
  chunk.reserve_name_constants(tokens.symbols().size());
}

OpParam Emitter::count_of(std::uint64_t n) {
  if (n > 0x7FFFFFFFu) throw InternalFailure("register window larger than an operand can count");
  return static_cast<OpParam>(n);
}

void Emitter::push_tag(DiagnosticCode code, SourceRange range) {
  if (config.report_tags) diagnostics.append_direct({range.start, range.end, code});
}

void Emitter::unreachable(const Token& first, const Token& last) {
  push(DiagnosticCode::EmitterError, {first.start, last.end});
}

void Emitter::unreachable(SourceRange range) { push(DiagnosticCode::EmitterError, range); }

}  // namespace quendal
