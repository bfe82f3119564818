#pragma once
// Conversion of diagnostic byte ranges into the flat list handed to the host:
// five unsigned 32-bit integers per record (start line, start column, end
// line, end column, code), lines and columns 1-based, columns counted in the
// configured unit.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/source_diagnostic.h"

namespace quendal {

struct LineCol {
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  friend bool operator==(const LineCol&, const LineCol&) = default;
};

// Counts a piece of UTF-8 text in one position unit. Every count is a sum of
// a weight per byte (bytes: 1 each; code points: 1 for a byte that starts a
// character; UTF-16 units: that, plus 1 for the first byte of a four-byte
// character), so counts add up over pieces cut anywhere, even inside a
// character.
using CodePointCounter = std::uint64_t (*)(std::string_view text);

CodePointCounter code_point_counter(PositionUnit unit);

// The five integers of one record.
using EncodedRecord = std::array<std::uint32_t, 5>;

// Line and column of any byte offset of one source, each found in a bounded
// amount of work whatever the order of the look-ups and the length of the
// lines:
// - the start of every line (32-bit offsets, then a sentinel above every
//   position), and for every 64-byte block of the source the line that holds
//   its first byte: a position's line is that block's line or one of those
//   (at most 64) that start later in the same block;
// - when columns are not bytes and the text is not all ASCII, the number of
//   units before every block and before every line start: a column is the
//   difference of two such running counts, and the count from a block's start
//   to a position covers fewer than 64 bytes.
//
// Lines end at "\n"; the "\n" and a "\r" right before it belong to the line
// they end, so a position on a terminator, or after the final "\n", is on
// that line and counts the terminator's characters in its column. Text after
// the last "\n" forms a line only when it is not empty (the table of an empty
// source still has its first line, for position 0).
//
// A position that is not on a character boundary or lies beyond the source
// throws InternalFailure. Sources of kEndOfSource bytes or more (which the
// lexer refuses, so that only the record of that refusal refers to them) get
// tables for position 0 alone: their other positions are found by scanning,
// kEndOfSource standing for the end of the source, and a line or column
// beyond 32 bits throws.
class LineIndex {
 public:
  static constexpr unsigned kBlockShift = 6;
  static constexpr std::uint32_t kBlockBytes = 1u << kBlockShift;

  // Throws InternalFailure for a unit outside PositionUnit (unless the text
  // is all ASCII, where every unit is a byte).
  LineIndex(std::string_view source, PositionUnit unit);
  // Columns counted by `counter` whatever the text (for the tests that count
  // the work of the look-ups through it).
  static LineIndex counting_with(std::string_view source, CodePointCounter counter);

  // How columns are found: in ASCII text a column is a difference of
  // offsets and every position is on a character boundary; in other text
  // positions are checked, and columns are byte differences or, in any other
  // unit, differences of running counts.
  enum class Columns : std::uint8_t { Ascii, Bytes, Units };
  Columns columns() const { return columns_; }

  struct RecordPositions {
    LineCol start;
    LineCol end;
  };

  LineCol locate(std::uint32_t pos) const {
    switch (columns_) {
      case Columns::Ascii:
        return locate_in<Columns::Ascii>(pos);
      case Columns::Bytes:
        return locate_in<Columns::Bytes>(pos);
      case Columns::Units:
        break;
    }
    return locate_in<Columns::Units>(pos);
  }
  EncodedRecord encode(const SourceDiagnostic& record) const {
    RecordPositions p;
    switch (columns_) {
      case Columns::Ascii:
        p = positions_in<Columns::Ascii>(record);
        break;
      case Columns::Bytes:
        p = positions_in<Columns::Bytes>(record);
        break;
      case Columns::Units:
        p = positions_in<Columns::Units>(record);
        break;
    }
    return {p.start.line, p.start.column, p.end.line, p.end.column, to_number(record.code)};
  }

  // The same for loops that choose by columns() once for all their records.
  template <Columns C>
  LineCol locate_in(std::uint32_t pos) const {
    if (!answerable<C>(pos)) [[unlikely]]
      return locate_slow(pos);
    const std::uint32_t line = line_of(pos);
    return {line + 1, column_in<C>(line, pos)};
  }
  template <Columns C>
  RecordPositions positions_in(const SourceDiagnostic& record) const {
    const std::uint32_t start = record.start;
    const std::uint32_t end = record.end;
    if (!answerable<C>(start) || !answerable<C>(end)) [[unlikely]]
      return {locate(start), locate(end)};
    const std::uint32_t line = line_of(start);
    const std::uint32_t line_start = line_starts_[line];
    // Most records end on the line they start on.
    std::uint32_t end_line = line;
    if (end - line_start >= line_starts_[line + 1] - line_start) end_line = line_of(end);
    return {{line + 1, column_in<C>(line, start)}, {end_line + 1, column_in<C>(end_line, end)}};
  }

  // For the tests: the tables as built.
  std::span<const std::uint32_t> line_starts() const { return line_starts_; }
  std::span<const std::uint32_t> block_lines() const { return block_lines_; }

 private:
  LineIndex() = default;
  void build_lines(std::string_view source);
  void build_units();

  static bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }
  // Within the source and, unless the text is ASCII, on a character
  // boundary; checked_size_ is 0 for a source without tables, whose
  // positions other than 0 go to the slow path.
  template <Columns C>
  bool answerable(std::uint32_t pos) const {
    if constexpr (C == Columns::Ascii)
      return pos <= checked_size_;
    else
      return pos <= checked_size_ && !(pos < checked_size_ && is_continuation(source_[pos]));
  }
  // The 0-based line of an answerable position.
  std::uint32_t line_of(std::uint32_t pos) const {
    // The first line that starts after `pos`, less one.
    const std::uint32_t* next = line_starts_.data() + block_lines_[pos >> kBlockShift] + 1;
    while (*next <= pos) ++next;
    return static_cast<std::uint32_t>(next - line_starts_.data()) - 1;
  }
  template <Columns C>
  std::uint32_t column_in(std::uint32_t line, std::uint32_t pos) const {
    if constexpr (C == Columns::Units)
      return units_before(pos) - line_units_[line] + 1;
    else
      return pos - line_starts_[line] + 1;
  }
  // Units of the source before byte `pos`.
  std::uint32_t units_before(std::uint32_t pos) const {
    const std::uint32_t block = pos >> kBlockShift;
    const std::uint32_t from = block << kBlockShift;
    return block_units_[block] + static_cast<std::uint32_t>(counter_(source_.substr(from, pos - from)));
  }
  LineCol locate_slow(std::uint32_t pos) const;

  std::string_view source_;
  std::uint32_t checked_size_ = 0;
  Columns columns_ = Columns::Bytes;
  CodePointCounter counter_ = nullptr;
  std::vector<std::uint32_t> line_starts_;  // one per line, then kEndOfSource
  std::vector<std::uint32_t> block_lines_;  // 0-based line of each block's first byte
  std::vector<std::uint32_t> block_units_;  // units before each block (Columns::Units)
  std::vector<std::uint32_t> line_units_;   // units before each line start (Columns::Units)
};

// The records in order, five integers each.
std::vector<std::uint32_t> encode_diagnostics(std::string_view source,
                                              std::span<const SourceDiagnostic> diagnostics,
                                              PositionUnit unit);

}  // namespace quendal
