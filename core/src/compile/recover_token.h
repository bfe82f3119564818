#pragma once
#include <optional>

#include "diagnostic/diagnostics_collector.h"
#include "lexer/token.h"
#include "support/arena.h"

namespace quendal {

// Moves the diagnostics of unknown tokens into the collector and unwraps
// them; adds String/Interpolation tags when tags are on; recurses into the
// parts of interpolated strings. Returns nothing for a dropped token.
std::optional<Token> recover_token(Token token, DiagnosticsCollector& collector, Arena& arena);

}  // namespace quendal
