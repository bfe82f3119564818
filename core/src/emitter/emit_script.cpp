#include "emitter/emit_script.h"

#include <algorithm>

#include "emitter/emitter_struct.h"
#include "quendal/compile.h"

namespace quendal {

EmitOutput emit_script(const Script& script, std::string_view source, const CompileConfig& config,
                       Arena& arena) {
  if (script.eof.is_null()) throw InternalFailure("Inner token pointer should not be null");
  Emitter emitter(source, config, arena);
  // One source map per instruction, about one instruction per seven bytes
  // of dense script: reserving for one per four bytes keeps the list from
  // regrowing (and copying itself) on large inputs; pages never written are
  // never made resident.
  if (config.report_source_map) emitter.reserve_records(source.size() / 4 + 16);
  // Dense script compiles to about half a byte of code per source byte:
  // room for five eighths (up to 64 MiB) is made at once, so the code is
  // rarely copied to grow.
  emitter.reserve_code(std::min<std::size_t>(source.size() / 8 * 5, std::size_t{1} << 26) + 64);
  // The script is the body of one function without parameters: a synthetic
  // empty parameter list, destination register 0.
  auto* parameters = arena.make<ParameterList>();
  parameters->open = TokenRef::make_owned(arena, TokenKind::of_operator(Operator::OpenParen), 0, 0);
  parameters->close = TokenRef::make_owned(arena, TokenKind::of_operator(Operator::CloseParen), 0, 0);
  const SourceRange scope_range{0, script.eof.range().end};
  emitter.emit_fn_like({0, 0}, scope_range, 0, parameters, script.statements, script.expression);
  EmitOutput output;
  output.chunk = emitter.take_chunk_bytes();
  output.diagnostics = emitter.take_records();
  return output;
}

}  // namespace quendal
