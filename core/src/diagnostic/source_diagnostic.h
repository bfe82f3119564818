#pragma once
#include <cstdint>
#include <vector>

#include "diagnostic/diagnostic_code.h"

namespace quendal {

// The lexer refuses sources of kEndOfSource (UINT32_MAX) bytes or more, so
// every offset into a source that gets past it fits in 32 bits, below
// kEndOfSource. The one record a refused source gets (a LexerError over the
// whole text) ends at the end of the source, which may lie beyond 32 bits:
// that end is stored as kEndOfSource, which the encoder reads as the size of
// a source of kEndOfSource bytes or more (and, like any offset past the end,
// as an invalid position in a shorter one).
inline constexpr std::uint32_t kEndOfSource = 0xFFFFFFFFu;

// An offset given to a record that does not fit in 32 bits: a broken
// invariant (InternalFailure).
[[noreturn]] void fail_record_offset(std::uint64_t start, std::uint64_t end);

// One record: a half-open byte range of the UTF-8 source and a code.
struct SourceDiagnostic {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  DiagnosticCode code = DiagnosticCode::InternalError;

  constexpr SourceDiagnostic() = default;
  // Offsets come from 32-bit token positions, or are computed in 64 bits
  // from them; one beyond 32 bits is never cut, it fails.
  constexpr SourceDiagnostic(std::uint64_t record_start, std::uint64_t record_end, DiagnosticCode record_code)
      : start(static_cast<std::uint32_t>(record_start)),
        end(static_cast<std::uint32_t>(record_end)),
        code(record_code) {
    if (((record_start | record_end) >> 32) != 0) [[unlikely]]
      fail_record_offset(record_start, record_end);
  }

  friend bool operator==(const SourceDiagnostic&, const SourceDiagnostic&) = default;
};

static_assert(sizeof(SourceDiagnostic) == 12, "two 32-bit offsets and a 16-bit code");

using DiagnosticList = std::vector<SourceDiagnostic>;

}  // namespace quendal
