#include "diagnostic/encode_diagnostics.h"

#include <algorithm>
#include <limits>
#include <string>

#include "quendal/compile.h"

namespace quendal {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

std::uint64_t count_bytes(std::string_view text) { return text.size(); }

std::uint64_t count_code_points(std::string_view text) {
  std::uint64_t n = 0;
  for (unsigned char b : text) n += !is_continuation(b);
  return n;
}

// Characters at or above U+10000 (four-byte sequences) take two units.
std::uint64_t count_utf16_units(std::string_view text) {
  std::uint64_t n = 0;
  for (unsigned char b : text) n += !is_continuation(b) + (b >= 0xF0);
  return n;
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

std::vector<std::uint32_t> encode_diagnostics(std::string_view source,
                                              std::span<const SourceDiagnostic> diagnostics,
                                              PositionUnit unit) {
  std::vector<std::uint32_t> out;
  if (diagnostics.empty()) return out;
  const CodePointCounter counter = code_point_counter(unit);
  const std::vector<Offset> table = prefill_offsets(source, counter);
  out.reserve(diagnostics.size() * 5);
  for (const SourceDiagnostic& d : diagnostics) {
    const LineCol start = pos_to_line_col(table, source, counter, d.start);
    const LineCol end = pos_to_line_col(table, source, counter, d.end);
    out.insert(out.end(), {start.line, start.column, end.line, end.column, to_number(d.code)});
  }
  return out;
}

}  // namespace quendal
