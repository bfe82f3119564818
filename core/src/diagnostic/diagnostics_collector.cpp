#include "diagnostic/diagnostics_collector.h"

#include <string>

#include "quendal/compile.h"

namespace quendal {

void fail_record_offset(std::uint64_t start, std::uint64_t end) {
  throw InternalFailure("Diagnostic offset beyond 32 bits: " + std::to_string(start) + ".." +
                        std::to_string(end));
}

bool DiagnosticsCollector::accepts(DiagnosticCode code) const {
  const auto v = to_number(code);
  const CompileConfig& c = *config_;
  if (v >= 1001 && v <= 1998) return c.report_errors;
  if (v >= 2000 && v <= 2998) return c.report_warnings;
  if (v >= 3000 && v <= 3998) return c.report_infos;
  if (v >= 4000 && v <= 4998) return c.report_hints;
  if (v >= 5000 && v <= 5998) return c.report_references;
  if (v >= 10000 && v <= 11998) return c.report_tags;
  if (v == 12000) return c.report_source_map;
  return true;
}

void DiagnosticsCollector::append_growing(const SourceDiagnostic& record) { diagnostics_.push_back(record); }

void DiagnosticsCollector::extend(std::vector<SourceDiagnostic>&& records) {
  for (const auto& r : records)
    if (accepts(r.code)) diagnostics_.push_back(r);
  records.clear();
}

void DiagnosticsCollector::adopt(std::vector<SourceDiagnostic>&& kept) {
  if (diagnostics_.empty())
    diagnostics_ = std::move(kept);
  else
    diagnostics_.insert(diagnostics_.end(), kept.begin(), kept.end());
  kept.clear();
}

void DiagnosticsCollector::append(std::vector<SourceDiagnostic>& records) {
  for (const auto& r : records)
    if (accepts(r.code)) diagnostics_.push_back(r);
  records.clear();
}

void DiagnosticsCollector::append(std::pmr::vector<SourceDiagnostic>& records) {
  for (const auto& r : records)
    if (accepts(r.code)) diagnostics_.push_back(r);
  records.clear();
}

}  // namespace quendal
