#pragma once
#include <memory_resource>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/source_diagnostic.h"

namespace quendal {

// The ordered, configuration-filtered list of records of one compilation.
class DiagnosticsCollector {
 public:
  DiagnosticsCollector(std::string_view source, const CompileConfig& config)
      : source_(source), config_(&config) {}

  bool accepts(DiagnosticCode code) const;
  void push(DiagnosticCode code, std::uint64_t start, std::uint64_t end) {
    // Source maps are by far the most frequent records.
    if (code == DiagnosticCode::SourceMap ? config_->report_source_map : accepts(code))
      diagnostics_.push_back({start, end, code});
  }
  // Consumes `records`, keeping what `accepts` keeps, in order.
  void extend(std::vector<SourceDiagnostic>&& records);
  // Moves the records out of a list owned elsewhere; `records` is left empty.
  void append(std::vector<SourceDiagnostic>& records);
  void append(std::pmr::vector<SourceDiagnostic>& records);
  // Unfiltered: for producers that test their own switch first.
  void append_direct(const SourceDiagnostic& record) {
    // Growing is kept out of line, so that an append is a few stores.
    if (diagnostics_.size() == diagnostics_.capacity()) [[unlikely]]
      return append_growing(record);
    diagnostics_.push_back(record);
  }
  // Unfiltered: consumes records that a collector with the same
  // configuration kept (they are not filtered a second time), in order.
  void adopt(std::vector<SourceDiagnostic>&& kept);

  const std::vector<SourceDiagnostic>& diagnostics() const { return diagnostics_; }
  std::vector<SourceDiagnostic>& diagnostics() { return diagnostics_; }
  std::string_view source() const { return source_; }
  const CompileConfig& config() const { return *config_; }

 private:
  [[gnu::noinline]] void append_growing(const SourceDiagnostic& record);

  std::vector<SourceDiagnostic> diagnostics_;
  std::string_view source_;
  const CompileConfig* config_;
};

}  // namespace quendal
