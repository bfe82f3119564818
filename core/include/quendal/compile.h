#pragma once
// Public C++ API of the Quendal compiler core.
//
//   quendal::CompileConfig config;            // script mode, default switches
//   quendal::CompileResult result = quendal::compile(source, config);
//
// `source` must be valid UTF-8. The result holds the serialised chunk (absent
// when an error was reported) and the encoded diagnostics, five integers per
// record. Malformed source never throws; `InternalFailure` signals a broken
// invariant of the compiler itself.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quendal {

enum class InputMode : std::uint8_t { Script = 0, Template = 1 };

enum class PositionUnit : std::uint8_t { Utf8Bytes = 0, Utf16Units = 1, CodePoints = 2 };

// The names of the globals a host defines. Given to a compilation, it makes a
// read of an undeclared name outside the set a warning (a misspelt local or
// host function), where otherwise it is a silent read of a global.
class KnownGlobals {
 public:
  KnownGlobals() = default;
  explicit KnownGlobals(std::vector<std::string> names) : names_(std::move(names)) {
    std::sort(names_.begin(), names_.end());
    names_.erase(std::unique(names_.begin(), names_.end()), names_.end());
  }
  bool contains(std::string_view name) const {
    return std::binary_search(names_.begin(), names_.end(), name, std::less<>());
  }

 private:
  std::vector<std::string> names_;
};

struct CompileConfig {
  InputMode input_mode = InputMode::Script;
  bool report_errors = true;
  bool report_warnings = true;
  bool report_infos = true;
  bool report_hints = true;
  bool report_references = true;
  bool report_tags = false;
  bool report_source_map = true;
  PositionUnit position_unit = PositionUnit::CodePoints;
  // Borrowed for the call; none: every undeclared name is a global, unchecked.
  const KnownGlobals* known_globals = nullptr;
};

struct CompileResult {
  std::optional<std::vector<std::uint8_t>> chunk;
  std::vector<std::uint32_t> diagnostics;
};

// A state no input can produce. Carries the failure text.
class InternalFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

CompileResult compile(std::string_view source, const CompileConfig& config);

}  // namespace quendal
