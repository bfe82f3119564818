#pragma once
// Conversion of diagnostic byte ranges into the flat list handed to the host:
// five unsigned 32-bit integers per record (start line, start column, end
// line, end column, code), lines and columns 1-based, columns counted in the
// configured unit.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/source_diagnostic.h"

namespace quendal {

// Longest stretch of a line between two checkpoints of the line table.
inline constexpr std::uint64_t COLUMN_CHECKPOINT_BYTES = 1024;

// One checkpoint of the line table.
struct Offset {
  std::uint64_t pos = 0;     // byte offset in the source
  std::uint64_t line = 0;    // 1-based
  std::uint64_t column = 0;  // 1-based, in the chosen unit

  friend bool operator==(const Offset&, const Offset&) = default;
};

struct LineCol {
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  friend bool operator==(const LineCol&, const LineCol&) = default;
};

// Counts a piece of UTF-8 text (starting and ending on character
// boundaries) in one position unit.
using CodePointCounter = std::uint64_t (*)(std::string_view text);

CodePointCounter code_point_counter(PositionUnit unit);

// The line table: one entry at the start of every line, plus entries at most
// COLUMN_CHECKPOINT_BYTES apart (on character boundaries) on long lines.
std::vector<Offset> prefill_offsets(std::string_view source, CodePointCounter counter);

// Line and column of byte offset `pos`. Throws InternalFailure for a position
// that is not on a character boundary, lies beyond the source or precedes the
// table, and for numbers that do not fit in 32 bits.
LineCol pos_to_line_col(std::span<const Offset> table, std::string_view source, CodePointCounter counter,
                        std::uint64_t pos);

std::vector<std::uint32_t> encode_diagnostics(std::string_view source,
                                              std::span<const SourceDiagnostic> diagnostics,
                                              PositionUnit unit);

}  // namespace quendal
