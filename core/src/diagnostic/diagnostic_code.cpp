#include "diagnostic/diagnostic_code.h"

namespace quendal {

// Every code has an English text (the Python package shows it).
#define QUENDAL_DIAGNOSTIC(name, v, message, english) \
  static_assert(sizeof(english) > 1, "empty English message for " #name);
#include "diagnostic/diagnostic_codes.def"
#undef QUENDAL_DIAGNOSTIC

std::optional<DiagnosticCode> diagnostic_code_from_number(std::uint16_t value) {
  switch (value) {
#define QUENDAL_DIAGNOSTIC(name, v, message, english) \
  case v:                                             \
    return DiagnosticCode::name;
#include "diagnostic/diagnostic_codes.def"
#undef QUENDAL_DIAGNOSTIC
    default:
      return std::nullopt;
  }
}

std::string_view diagnostic_code_name(DiagnosticCode code) {
  switch (code) {
#define QUENDAL_DIAGNOSTIC(name, v, message, english) \
  case DiagnosticCode::name:                          \
    return #name;
#include "diagnostic/diagnostic_codes.def"
#undef QUENDAL_DIAGNOSTIC
  }
  return "";
}

std::string_view diagnostic_code_message(DiagnosticCode code) {
  switch (code) {
#define QUENDAL_DIAGNOSTIC(name, v, message, english) \
  case DiagnosticCode::name:                          \
    return message;
#include "diagnostic/diagnostic_codes.def"
#undef QUENDAL_DIAGNOSTIC
  }
  return "Unknown error";
}

std::string_view diagnostic_category_word(DiagnosticCode code) {
  auto v = to_number(code);
  if (v >= 1001 && v <= 1998) return "Error";
  if (v >= 2000 && v <= 2998) return "Warning";
  if (v >= 3000 && v <= 3998) return "Info";
  if (v >= 4000 && v <= 4998) return "Hint";
  if (v >= 5000 && v <= 5998) return "Reference";
  return "Unknown";
}

}  // namespace quendal
