#pragma once
// Emission of a whole script as the body of one anonymous function.
#include <cstdint>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/source_diagnostic.h"
#include "parser/ast.h"
#include "support/arena.h"

namespace quendal {

struct EmitOutput {
  std::vector<std::uint8_t> chunk;  // serialised bytes
  // The emitter's own records, in order, already filtered by category (each
  // goes through the collector's push or follows a test of its switch): the
  // driver takes them as they are.
  std::vector<SourceDiagnostic> diagnostics;
};

EmitOutput emit_script(const Script& script, std::string_view source, const CompileConfig& config,
                       Arena& arena);

}  // namespace quendal
