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
  std::vector<std::uint8_t> chunk;            // serialised bytes
  std::vector<SourceDiagnostic> diagnostics;  // the emitter's own records, in order (unfiltered by
                                              // category beyond what the emitter tests itself)
};

EmitOutput emit_script(const Script& script, std::string_view source, const CompileConfig& config,
                       Arena& arena);

}  // namespace quendal
