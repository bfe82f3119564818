// The encoder keeps a forward cursor over the line table; whatever order the
// records come in (forward, backward, jumping across lines and across the
// checkpoints of long lines), every position must encode exactly as a
// look-up of that position alone.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "diagnostic/encode_diagnostics.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

// Lines of mixed-width characters, some longer than a checkpoint stretch,
// CRLF and LF endings, no final newline.
std::string mixed_source(std::mt19937& rng) {
  const char* pieces[] = {"a", "bc ", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\t", "xyz_12"};
  std::string s;
  for (int line = 0; line < 60; ++line) {
    const int length = line % 7 == 3 ? 900 : static_cast<int>(rng() % 40);
    for (int i = 0; i < length; ++i) s += pieces[rng() % std::size(pieces)];
    s += line % 5 == 0 ? "\r\n" : "\n";
  }
  s += "end";
  return s;
}

std::vector<std::uint64_t> boundaries(const std::string& s) {
  std::vector<std::uint64_t> out;
  for (std::uint64_t i = 0; i <= s.size(); ++i)
    if (i == s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) out.push_back(i);
  return out;
}

TEST(EncodeCursor, AnyRecordOrderMatchesSinglePositionLookups) {
  std::mt19937 rng(12345);
  const std::string source = mixed_source(rng);
  const std::vector<std::uint64_t> points = boundaries(source);
  for (PositionUnit unit : {PositionUnit::Utf8Bytes, PositionUnit::Utf16Units, PositionUnit::CodePoints}) {
    const CodePointCounter counter = code_point_counter(unit);
    const std::vector<Offset> table = prefill_offsets(source, counter);
    std::vector<SourceDiagnostic> records;
    // Mostly forward with nested (backward) starts, then random jumps.
    for (std::size_t i = 0; i + 8 < points.size(); i += 3)
      records.push_back({points[i + rng() % 8], points[i + 8], DiagnosticCode::SourceMap});
    for (int i = 0; i < 3000; ++i) {
      std::uint64_t a = points[rng() % points.size()];
      std::uint64_t b = points[rng() % points.size()];
      if (a > b) std::swap(a, b);
      records.push_back({a, b, DiagnosticCode::SourceMap});
    }
    const std::vector<std::uint32_t> encoded = encode_diagnostics(source, records, unit);
    ASSERT_EQ(encoded.size(), records.size() * 5);
    for (std::size_t i = 0; i < records.size(); ++i) {
      const LineCol start = pos_to_line_col(table, source, counter, records[i].start);
      const LineCol end = pos_to_line_col(table, source, counter, records[i].end);
      const std::vector<std::uint32_t> expected{start.line, start.column, end.line, end.column, 12000};
      const std::vector<std::uint32_t> actual(encoded.begin() + static_cast<std::ptrdiff_t>(i * 5),
                                              encoded.begin() + static_cast<std::ptrdiff_t>(i * 5 + 5));
      ASSERT_EQ(actual, expected) << "record " << i << " unit " << static_cast<int>(unit);
    }
  }
}

TEST(EncodeCursor, PositionsInsideACharacterStillFailAfterCursorMoves) {
  const std::string source = "ab\n\xC3\xA9x\nyz";
  const std::vector<SourceDiagnostic> records{{0, 2, DiagnosticCode::SourceMap},
                                              {3, 5, DiagnosticCode::SourceMap},
                                              {4, 6, DiagnosticCode::SourceMap}};
  EXPECT_THROW(encode_diagnostics(source, records, PositionUnit::CodePoints), InternalFailure);
  const std::vector<SourceDiagnostic> beyond{{7, 8, DiagnosticCode::SourceMap},
                                             {8, 10, DiagnosticCode::SourceMap}};
  EXPECT_THROW(encode_diagnostics(source, beyond, PositionUnit::Utf16Units), InternalFailure);
}

}  // namespace
}  // namespace quendal
