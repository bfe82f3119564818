#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace quendal {

enum class DiagnosticCode : std::uint16_t {
#define QUENDAL_DIAGNOSTIC(name, value, message, english) name = value,
#include "diagnostic/diagnostic_codes.def"
#undef QUENDAL_DIAGNOSTIC
};

// Only the values of the code table convert; anything else gives nothing.
std::optional<DiagnosticCode> diagnostic_code_from_number(std::uint16_t value);
std::string_view diagnostic_code_name(DiagnosticCode code);
std::string_view diagnostic_code_message(DiagnosticCode code);
// "Error", "Warning", "Info", "Hint", "Reference" or "Unknown".
std::string_view diagnostic_category_word(DiagnosticCode code);

constexpr std::uint16_t to_number(DiagnosticCode code) { return static_cast<std::uint16_t>(code); }

constexpr bool is_error_code(std::uint16_t value) { return value >= 1001 && value <= 1998; }

}  // namespace quendal
