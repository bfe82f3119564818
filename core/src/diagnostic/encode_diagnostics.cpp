#include "diagnostic/encode_diagnostics.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "quendal/compile.h"

namespace quendal {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

std::uint64_t count_bytes(std::string_view text) { return text.size(); }

// Number of bytes of `flags` (each 0x80 or 0) that are set.
inline std::uint64_t count_flags(std::uint64_t flags) { return ((flags >> 7) * 0x0101010101010101ull) >> 56; }

// Continuation bytes (10xxxxxx) among the eight bytes of `word`.
inline std::uint64_t continuation_bytes(std::uint64_t word) {
  constexpr std::uint64_t high = 0x8080808080808080ull;
  return count_flags(word & ~(word << 1) & high);
}

// Bytes that start a four-byte sequence (11110xxx) among the eight of `word`.
inline std::uint64_t four_byte_leads(std::uint64_t word) {
  constexpr std::uint64_t high = 0x8080808080808080ull;
  // Bits 7..4 all set: fold them onto bit 7.
  const std::uint64_t folded = word & (word << 1) & (word << 2) & (word << 3);
  return count_flags(folded & high);
}

inline std::uint64_t load_word(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

bool is_ascii(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t high = 0;
  for (; n >= 32; p += 32, n -= 32)
    high |= load_word(p) | load_word(p + 8) | load_word(p + 16) | load_word(p + 24);
  for (; n >= 8; p += 8, n -= 8) high |= load_word(p);
  for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
  return (high & 0x8080808080808080ull) == 0;
}

std::uint64_t count_code_points(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t count = n;
  for (; n >= 8; p += 8, n -= 8) count -= continuation_bytes(load_word(p));
  for (; n > 0; ++p, --n) count -= is_continuation(static_cast<unsigned char>(*p));
  return count;
}

// Characters at or above U+10000 (four-byte sequences) take two units.
std::uint64_t count_utf16_units(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t count = n;
  for (; n >= 8; p += 8, n -= 8) {
    const std::uint64_t word = load_word(p);
    count += four_byte_leads(word);
    count -= continuation_bytes(word);
  }
  for (; n > 0; ++p, --n) {
    const auto b = static_cast<unsigned char>(*p);
    count += (b >= 0xF0);
    count -= is_continuation(b);
  }
  return count;
}

// Entries for one line starting at `p` with `t` bytes (terminator excluded).
void add_line(std::vector<Offset>& table, std::string_view source, CodePointCounter counter, std::uint64_t p,
              std::uint64_t t, std::uint64_t line) {
  if (t <= COLUMN_CHECKPOINT_BYTES) {
    table.push_back({p, line, 1});
    return;
  }
  std::uint64_t column = 1;
  std::uint64_t i = 0;
  while (true) {
    std::uint64_t e = i + COLUMN_CHECKPOINT_BYTES;
    if (e >= t) {
      e = t;
    } else {
      // Never cut a character: step back over continuation bytes.
      for (int back = 0; back < 3 && is_continuation(static_cast<unsigned char>(source[p + e])); ++back) --e;
    }
    table.push_back({p + i, line, column});
    if (e >= t) break;
    column += counter(source.substr(p + i, e - i));
    i = e;
  }
}

[[noreturn]] void fail_position(std::uint64_t pos, const char* why) {
  throw InternalFailure("Invalid diagnostic position " + std::to_string(pos) + ": " + why);
}

}  // namespace

CodePointCounter code_point_counter(PositionUnit unit) {
  switch (unit) {
    case PositionUnit::Utf8Bytes:
      return count_bytes;
    case PositionUnit::Utf16Units:
      return count_utf16_units;
    case PositionUnit::CodePoints:
      return count_code_points;
  }
  throw InternalFailure("Invalid position unit " + std::to_string(static_cast<int>(unit)));
}

std::vector<Offset> prefill_offsets(std::string_view source, CodePointCounter counter) {
  std::vector<Offset> table;
  std::uint64_t line = 1;
  std::uint64_t start = 0;
  while (start < source.size()) {
    const auto nl = source.find('\n', start);
    if (nl == std::string_view::npos) {
      // Final line without terminator (never empty here).
      add_line(table, source, counter, start, source.size() - start, line);
      break;
    }
    std::uint64_t length = nl - start;
    if (length > 0 && source[nl - 1] == '\r') --length;
    add_line(table, source, counter, start, length, line);
    ++line;
    start = nl + 1;
  }
  return table;
}

LineCol pos_to_line_col(std::span<const Offset> table, std::string_view source, CodePointCounter counter,
                        std::uint64_t pos) {
  if (pos == 0) return {1, 1};
  if (pos > source.size()) fail_position(pos, "beyond the source");
  if (pos < source.size() && is_continuation(static_cast<unsigned char>(source[pos])))
    fail_position(pos, "not on a character boundary");
  // The last entry at or before `pos` (the table is strictly increasing).
  auto it = std::upper_bound(table.begin(), table.end(), pos,
                             [](std::uint64_t p, const Offset& entry) { return p < entry.pos; });
  if (it == table.begin()) fail_position(pos, "precedes the line table");
  const Offset& entry = *(it - 1);
  const std::uint64_t column = entry.column + counter(source.substr(entry.pos, pos - entry.pos));
  constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
  if (entry.line > limit || column > limit) fail_position(pos, "line or column exceeds 32 bits");
  return {static_cast<std::uint32_t>(entry.line), static_cast<std::uint32_t>(column)};
}

namespace {

// Line and column look-ups for a run of positions that mostly move forward:
// the cursor remembers the table entry and the last position counted within
// it, so the next position on the same stretch only counts the bytes in
// between; moving to a later entry steps forward a few entries before falling
// back to a binary search.
template <class Count>
class LineCursor {
 public:
  LineCursor(std::span<const Offset> table, std::string_view source, Count count)
      : table_(table), source_(source), count_(count) {}

  LineCol operator()(std::uint64_t pos) {
    if (pos == 0) return {1, 1};
    if (pos > source_.size()) fail_position(pos, "beyond the source");
    if (pos < source_.size() && is_continuation(static_cast<unsigned char>(source_[pos])))
      fail_position(pos, "not on a character boundary");
    if (!in_entry(pos)) seek(pos);
    const Offset& entry = table_[index_];
    if (pos < last_pos_) {
      last_pos_ = entry.pos;
      last_column_ = entry.column;
    }
    last_column_ += count_(source_.substr(last_pos_, pos - last_pos_));
    last_pos_ = pos;
    constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    if (entry.line > limit || last_column_ > limit) fail_position(pos, "line or column exceeds 32 bits");
    return {static_cast<std::uint32_t>(entry.line), static_cast<std::uint32_t>(last_column_)};
  }

 private:
  bool in_entry(std::uint64_t pos) const {
    return valid_ && table_[index_].pos <= pos &&
           (index_ + 1 == table_.size() || pos < table_[index_ + 1].pos);
  }

  void seek(std::uint64_t pos) {
    std::size_t index = index_;
    bool found = false;
    if (valid_ && table_[index].pos <= pos) {
      for (int step = 0; step < 8 && index + 1 < table_.size() && table_[index + 1].pos <= pos; ++step)
        ++index;
      found = index + 1 == table_.size() || pos < table_[index + 1].pos;
    }
    if (!found) {
      // The last entry at or before `pos` (the table is strictly increasing).
      auto it = std::upper_bound(table_.begin(), table_.end(), pos,
                                 [](std::uint64_t p, const Offset& entry) { return p < entry.pos; });
      if (it == table_.begin()) fail_position(pos, "precedes the line table");
      index = static_cast<std::size_t>(it - table_.begin()) - 1;
    }
    index_ = index;
    valid_ = true;
    last_pos_ = table_[index].pos;
    last_column_ = table_[index].column;
  }

  std::span<const Offset> table_;
  std::string_view source_;
  Count count_;
  std::size_t index_ = 0;
  bool valid_ = false;
  std::uint64_t last_pos_ = 0;
  std::uint64_t last_column_ = 0;
};

template <class Count>
void encode_with(std::string_view source, std::span<const SourceDiagnostic> diagnostics, Count count,
                 std::uint32_t* out) {
  const std::vector<Offset> table = prefill_offsets(source, count);
  // Starts and ends each form a mostly increasing run of their own.
  LineCursor<Count> starts(table, source, count);
  LineCursor<Count> ends(table, source, count);
  for (const SourceDiagnostic& d : diagnostics) {
    const LineCol start = starts(d.start);
    const LineCol end = ends(d.end);
    out[0] = start.line;
    out[1] = start.column;
    out[2] = end.line;
    out[3] = end.column;
    out[4] = to_number(d.code);
    out += 5;
  }
}

}  // namespace

std::vector<std::uint32_t> encode_diagnostics(std::string_view source,
                                              std::span<const SourceDiagnostic> diagnostics,
                                              PositionUnit unit) {
  std::vector<std::uint32_t> out;
  if (diagnostics.empty()) return out;
  out.resize(diagnostics.size() * 5);
  // In ASCII text every unit is one byte, and counting bytes is a subtraction.
  if (unit != PositionUnit::Utf8Bytes && is_ascii(source)) unit = PositionUnit::Utf8Bytes;
  switch (unit) {
    case PositionUnit::Utf8Bytes:
      encode_with(
          source, diagnostics, [](std::string_view text) { return count_bytes(text); }, out.data());
      break;
    case PositionUnit::Utf16Units:
      encode_with(
          source, diagnostics, [](std::string_view text) { return count_utf16_units(text); }, out.data());
      break;
    case PositionUnit::CodePoints:
      encode_with(
          source, diagnostics, [](std::string_view text) { return count_code_points(text); }, out.data());
      break;
    default:
      code_point_counter(unit);  // throws for an invalid unit
  }
  return out;
}

}  // namespace quendal
