#pragma once
#include <cstdint>
#include <vector>

#include "diagnostic/diagnostic_code.h"

namespace quendal {

// One record: a half-open byte range of the UTF-8 source and a code.
struct SourceDiagnostic {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  DiagnosticCode code = DiagnosticCode::InternalError;

  friend bool operator==(const SourceDiagnostic&, const SourceDiagnostic&) = default;
};

using DiagnosticList = std::vector<SourceDiagnostic>;

}  // namespace quendal
