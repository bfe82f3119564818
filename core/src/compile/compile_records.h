#pragma once
// A compilation up to its records: what `compile` encodes, for callers that
// turn the records into their own form (the Python modules build their list
// straight from them).
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/source_diagnostic.h"

namespace quendal {

struct CompileRecords {
  std::optional<std::vector<std::uint8_t>> chunk;  // absent when a kept record is an error
  std::vector<SourceDiagnostic> records;           // the kept records, in order
};

// `compile` without the encoding: the records' offsets refer to `source`.
CompileRecords compile_records(std::string_view source, const CompileConfig& config);

}  // namespace quendal
