#pragma once
// Conversion of diagnostic byte ranges into the flat list handed to the host:
// five unsigned 32-bit integers per record (start line, start column, end
// line, end column, code), lines and columns 1-based, columns counted in the
// configured unit.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/source_diagnostic.h"

namespace quendal {

// GCC turns the five stores of a record into vector shuffles, which take
// more instructions than the stores they replace.
#if defined(__GNUC__) && !defined(__clang__)
#define QUENDAL_SCALAR_STORES __attribute__((optimize("no-tree-slp-vectorize")))
#else
#define QUENDAL_SCALAR_STORES
#endif

struct LineCol {
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  friend bool operator==(const LineCol&, const LineCol&) = default;
};

// Counts a piece of UTF-8 text (starting and ending on character
// boundaries) in one position unit.
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
//   units before every block and before every line start, and for every
//   block a mask of the bytes that start a character (and one of those that
//   start a four-byte character, which take two UTF-16 units): a column is
//   the difference of two running counts, each a block's count plus the bits
//   of its masks below the position.
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

  // How columns are found: in ASCII text a column is a difference of
  // offsets and every position is on a character boundary; in other text
  // positions are checked, and columns are byte differences or differences
  // of running counts of code points or of UTF-16 units.
  enum class Columns : std::uint8_t { Ascii, Bytes, CodePoints, Utf16Units };
  Columns columns() const { return columns_; }

  struct RecordPositions {
    LineCol start;
    LineCol end;
  };

  // Calls `f.template operator()<C>()` with the Columns of this index.
  template <class F>
  decltype(auto) with_columns(F&& f) const {
    switch (columns_) {
      case Columns::Ascii:
        return f.template operator()<Columns::Ascii>();
      case Columns::Bytes:
        return f.template operator()<Columns::Bytes>();
      case Columns::CodePoints:
        return f.template operator()<Columns::CodePoints>();
      case Columns::Utf16Units:
        break;
    }
    return f.template operator()<Columns::Utf16Units>();
  }

  LineCol locate(std::uint32_t pos) const {
    return with_columns([&]<Columns C>() { return locate_in<C>(pos); });
  }
  EncodedRecord encode(const SourceDiagnostic& record) const {
    const RecordPositions p = with_columns([&]<Columns C>() { return positions_in<C>(record); });
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

  // Positions of records taken one after another. The cursor keeps the line
  // of the last record it looked up: a record that starts and ends on that
  // line (consecutive instructions of one line, most records) is answered
  // without a line look-up, its columns counted from the line's start. Any
  // other record, or a position the line cannot answer at once, takes the
  // way of positions_in and moves the cursor to the record's start line.
  // Whatever the order of the records, the result is that of positions_in.
  template <Columns C>
  class Cursor {
   public:
    explicit Cursor(const LineIndex& index) : index_(&index), next_(index.line_starts_[1]) {}

    RecordPositions next(const SourceDiagnostic& record) {
      const std::uint32_t start = record.start - first_;
      const std::uint32_t end = record.end - first_;
      if (start < span_ && end < span_) [[likely]] {
        if constexpr (C == Columns::Ascii) {
          return {{line_, start + 1}, {line_, end + 1}};
        } else {
          // Below span_ every position is within the source and before its
          // end, so the byte there can be read.
          const char* text = index_->source_.data();
          if (!is_continuation(text[record.start]) && !is_continuation(text[record.end])) [[likely]] {
            if constexpr (C == Columns::Bytes)
              return {{line_, start + 1}, {line_, end + 1}};
            else
              return {{line_, index_->units_before<C>(record.start) - units_ + 1},
                      {line_, index_->units_before<C>(record.end) - units_ + 1}};
          }
        }
      }
      return move(record);
    }

    // The five integers of each record into `out`.
    QUENDAL_SCALAR_STORES void encode(std::span<const SourceDiagnostic> records, std::uint32_t* out) {
      // A copy that no store to `out` may alias: it stays in registers.
      Cursor cursor = *this;
      for (const SourceDiagnostic& record : records) {
        const RecordPositions p = cursor.next(record);
        out[0] = p.start.line;
        out[1] = p.start.column;
        out[2] = p.end.line;
        out[3] = p.end.column;
        out[4] = to_number(record.code);
        out += 5;
      }
      *this = cursor;
    }

   private:
    RecordPositions move(const SourceDiagnostic& record) {
      const LineIndex& index = *index_;
      const std::uint32_t start = record.start;
      const std::uint32_t end = record.end;
      if (!index.answerable<C>(start) || !index.answerable<C>(end)) [[unlikely]]
        return {index.locate(start), index.locate(end)};
      // The first line start after `start`. Records mostly move on to one
      // of the next lines: when `start` lies less than a block past the
      // cursor's line, the lines passed all start in that stretch of at
      // most one block. Otherwise the search starts at the line of the
      // block that holds `start`.
      const std::uint32_t* starts = index.line_starts_.data.get();
      const std::uint32_t* after = start >= next_ && start - next_ < kBlockBytes
                                       ? starts + line_ + 1
                                       : starts + index.block_lines_[start >> kBlockShift] + 1;
      while (*after <= start) ++after;
      const auto line = static_cast<std::uint32_t>(after - starts);  // 1-based
      const std::uint32_t first = after[-1];
      const std::uint32_t next = *after;
      line_ = line;
      first_ = first;
      next_ = next;
      // The end of the source (the last line's last position) is left out,
      // so that the fast path may read the byte at any position it takes.
      span_ = std::min(next, index.checked_size_) - first;
      if constexpr (C == Columns::CodePoints || C == Columns::Utf16Units)
        units_ = index.line_units_[line - 1];
      const std::uint32_t start_column = index.column_in<C>(line - 1, start);
      if (end - first < next - first) [[likely]]
        return {{line, start_column}, {line, index.column_in<C>(line - 1, end)}};
      const std::uint32_t end_line = index.line_of(end);
      return {{line, start_column}, {end_line + 1, index.column_in<C>(end_line, end)}};
    }

    const LineIndex* index_;
    std::uint32_t line_ = 1;   // 1-based
    std::uint32_t first_ = 0;  // the line's first byte
    std::uint32_t next_;       // the next line's first byte, or kEndOfSource
    // Positions first_ + [0, span_) are on the line and before the end of
    // the source (none before the first look-up).
    std::uint32_t span_ = 0;
    std::uint32_t units_ = 0;  // code points or UTF-16 units before first_
  };

  // For the tests: the tables as built.
  std::span<const std::uint32_t> line_starts() const { return line_starts_.view(); }
  std::span<const std::uint32_t> block_lines() const { return block_lines_.view(); }

 private:
  void build_lines(std::string_view source);
  void build_units(PositionUnit unit);

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
    const std::uint32_t* next = line_starts_.data.get() + block_lines_[pos >> kBlockShift] + 1;
    while (*next <= pos) ++next;
    return static_cast<std::uint32_t>(next - line_starts_.data.get()) - 1;
  }
  template <Columns C>
  std::uint32_t column_in(std::uint32_t line, std::uint32_t pos) const {
    if constexpr (C == Columns::CodePoints || C == Columns::Utf16Units)
      return units_before<C>(pos) - line_units_[line] + 1;
    else
      return pos - line_starts_[line] + 1;
  }
  // Units of the source before byte `pos`.
  template <Columns C>
  std::uint32_t units_before(std::uint32_t pos) const {
    const std::uint32_t block = pos >> kBlockShift;
    const std::uint64_t below = (std::uint64_t{1} << (pos & (kBlockBytes - 1))) - 1;
    std::uint32_t units = block_units_[block] + bit_count(character_starts_[block] & below);
    if constexpr (C == Columns::Utf16Units) units += bit_count(four_byte_starts_[block] & below);
    return units;
  }
  // Set bits of `bits` (without relying on a population count instruction).
  static std::uint32_t bit_count(std::uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555ull;
    bits = (bits & 0x3333333333333333ull) + ((bits >> 2) & 0x3333333333333333ull);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<std::uint32_t>((bits * 0x0101010101010101ull) >> 56);
  }
  LineCol locate_slow(std::uint32_t pos) const;

  std::string_view source_;
  std::uint32_t checked_size_ = 0;
  Columns columns_ = Columns::Bytes;
  CodePointCounter counter_ = nullptr;  // for sources without tables
  // Offsets in one allocation, written without being zeroed first.
  struct Offsets {
    std::unique_ptr<std::uint32_t[]> data;
    std::size_t size = 0;
    std::uint32_t operator[](std::size_t i) const { return data[i]; }
    std::span<const std::uint32_t> view() const { return {data.get(), size}; }
  };
  Offsets line_starts_;  // one per line, then kEndOfSource
  Offsets block_lines_;  // 0-based line of each block's first byte
  // Only for counting code points or UTF-16 units:
  std::vector<std::uint32_t> block_units_;       // units before each block
  std::vector<std::uint64_t> character_starts_;  // bit i: byte i of the block starts a character
  std::vector<std::uint64_t> four_byte_starts_;  // bit i: ... a four-byte character (UTF-16 only)
  std::vector<std::uint32_t> line_units_;        // units before each line start
};

// The records in order, five integers each.
std::vector<std::uint32_t> encode_diagnostics(std::string_view source,
                                              std::span<const SourceDiagnostic> diagnostics,
                                              PositionUnit unit);

}  // namespace quendal
