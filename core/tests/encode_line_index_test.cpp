// The line index answers every position on its own: whatever order the
// records come in (forward, backward, jumping across lines and across the
// 64-byte blocks of long lines), every position must encode exactly as the
// naive reference reads it, with a bounded amount of counting per position.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compile/compile_records.h"
#include "diagnostic/encode_diagnostics.h"
#include "naive_lines.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using testing::NaiveLines;

constexpr PositionUnit kUnits[] = {PositionUnit::Utf8Bytes, PositionUnit::Utf16Units,
                                   PositionUnit::CodePoints};

// Lines of mixed-width characters, some many blocks long, CRLF and LF
// endings, no final newline.
std::string mixed_source(std::mt19937& rng) {
  const char* pieces[] = {"a", "bc ", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\t", "xyz_12", "\r"};
  std::string s;
  for (int line = 0; line < 60; ++line) {
    const int length = line % 7 == 3 ? 900 : static_cast<int>(rng() % 40);
    for (int i = 0; i < length; ++i) s += pieces[rng() % std::size(pieces)];
    s += line % 5 == 0 ? "\r\n" : "\n";
  }
  s += "end";
  return s;
}

std::vector<std::uint64_t> boundaries(std::string_view s) {
  std::vector<std::uint64_t> out;
  for (std::uint64_t i = 0; i <= s.size(); ++i)
    if (i == s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) out.push_back(i);
  return out;
}

// Every record of `records` encoded in `unit` as the naive reference reads it.
void expect_naive_encoding(std::string_view source, const std::vector<SourceDiagnostic>& records,
                           PositionUnit unit) {
  const NaiveLines naive(source);
  const std::vector<std::uint32_t> encoded = encode_diagnostics(source, records, unit);
  ASSERT_EQ(encoded.size(), records.size() * 5);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const LineCol start = naive.at(records[i].start, unit);
    const LineCol end = naive.at(records[i].end, unit);
    const std::vector<std::uint32_t> expected{start.line, start.column, end.line, end.column,
                                              to_number(records[i].code)};
    const std::vector<std::uint32_t> actual(encoded.begin() + static_cast<std::ptrdiff_t>(i * 5),
                                            encoded.begin() + static_cast<std::ptrdiff_t>(i * 5 + 5));
    ASSERT_EQ(actual, expected) << "record " << i << " (" << records[i].start << ".." << records[i].end
                                << ") unit " << static_cast<int>(unit);
  }
}

TEST(EncodeLineIndex, AnyRecordOrderMatchesTheNaiveReference) {
  std::mt19937 rng(12345);
  const std::string source = mixed_source(rng);
  const std::vector<std::uint64_t> points = boundaries(source);
  std::vector<SourceDiagnostic> records;
  // Mostly forward with nested (backward) starts, then random jumps.
  for (std::size_t i = 0; i + 8 < points.size(); i += 3)
    records.push_back({points[i + rng() % 8], points[i + 8], DiagnosticCode::SourceMap});
  for (int i = 0; i < 3000; ++i) {
    std::uint64_t a = points[rng() % points.size()];
    std::uint64_t b = points[rng() % points.size()];
    if (a > b) std::swap(a, b);
    records.push_back({a, b, DiagnosticCode::UnusedLocalVariable});
  }
  std::vector<SourceDiagnostic> reversed(records.rbegin(), records.rend());
  for (PositionUnit unit : kUnits) {
    SCOPED_TRACE(static_cast<int>(unit));
    expect_naive_encoding(source, records, unit);
    expect_naive_encoding(source, reversed, unit);
  }
}

TEST(EncodeLineIndex, PositionsInsideACharacterFailWhateverCameBefore) {
  const std::string source = "ab\n\xC3\xA9x\nyz";
  const std::vector<SourceDiagnostic> records{{0, 2, DiagnosticCode::SourceMap},
                                              {3, 5, DiagnosticCode::SourceMap},
                                              {4, 6, DiagnosticCode::SourceMap}};
  for (PositionUnit unit : kUnits) {
    EXPECT_THROW(encode_diagnostics(source, records, unit), InternalFailure);
    const std::vector<SourceDiagnostic> beyond{{7, 8, DiagnosticCode::SourceMap},
                                               {8, 10, DiagnosticCode::SourceMap}};
    EXPECT_THROW(encode_diagnostics(source, beyond, unit), InternalFailure);
  }
}

struct CharacterCase {
  const char* name;
  const char* character;
  std::uint32_t units[3];  // in Utf8Bytes, Utf16Units, CodePoints
};

const CharacterCase kCharacters[] = {
    {"ASCII", "q", {1, 1, 1}},
    {"two bytes", "\xC3\xA9", {2, 1, 1}},
    {"three bytes", "\xE4\xB8\xAD", {3, 1, 1}},
    {"four bytes", "\xF0\x9F\x98\x80", {4, 2, 1}},
};

// A line of 300 characters of one width, starting inside the first block
// after a CRLF line: the column of every character in every unit.
TEST(EncodeLineIndex, EveryUnitCountsMultiByteCharacters) {
  for (const CharacterCase& c : kCharacters) {
    SCOPED_TRACE(c.name);
    const std::string head = "x\xC3\xA9y\r\n";
    std::string source = head;
    for (int i = 0; i < 300; ++i) source += c.character;
    const std::uint32_t width = static_cast<std::uint32_t>(std::strlen(c.character));
    for (std::size_t u = 0; u < std::size(kUnits); ++u) {
      const LineIndex index(source, kUnits[u]);
      for (std::uint32_t k = 0; k <= 300; ++k) {
        const auto pos = static_cast<std::uint32_t>(head.size()) + k * width;
        ASSERT_EQ(index.locate(pos), (LineCol{2, 1 + k * c.units[u]})) << "character " << k << " unit " << u;
      }
      // The first line: its terminator counts in the columns.
      EXPECT_EQ(index.locate(4), (LineCol{1, u == 0 ? 5u : 4u}));
      EXPECT_EQ(index.locate(5), (LineCol{1, u == 0 ? 6u : 5u}));
    }
  }
}

// "\r" is text unless a "\n" follows it; a CRLF split by a block boundary,
// and lone carriage returns around one, at every shift across the boundary.
TEST(EncodeLineIndex, LineEndsAcrossBlockBoundaries) {
  for (std::size_t shift = 56; shift <= 68; ++shift) {
    const std::string source = std::string(shift, 'a') + "\r\n\xC3\xA9\r\rb\r\n\r\n\xF0\x9F\x98\x80\r";
    std::vector<SourceDiagnostic> records;
    for (const std::uint64_t p : boundaries(source)) records.push_back({p, p, DiagnosticCode::SourceMap});
    for (PositionUnit unit : kUnits) {
      SCOPED_TRACE(::testing::Message() << "shift " << shift << " unit " << static_cast<int>(unit));
      expect_naive_encoding(source, records, unit);
    }
  }
}

// Records that end (or start and end) at the end of the source, for sizes
// around whole blocks, with and without a final line end.
TEST(EncodeLineIndex, RecordsAtTheEndOfTheSource) {
  for (const char* body : {"a", "\xC3\xA9"}) {
    for (const char* ending : {"", "\n", "\r\n", "\r"}) {
      for (std::size_t size : {1u, 62u, 63u, 64u, 65u, 127u, 128u, 129u, 4096u}) {
        std::string source;
        while (source.size() + std::strlen(body) + std::strlen(ending) <= size) source += body;
        source += ending;
        const std::uint64_t end = source.size();
        const std::vector<SourceDiagnostic> records{{end, end, DiagnosticCode::MissingSemicolon},
                                                    {0, end, DiagnosticCode::LexerError},
                                                    {0, 0, DiagnosticCode::SourceMap}};
        for (PositionUnit unit : kUnits) {
          SCOPED_TRACE(::testing::Message() << "size " << source.size() << " ending " << std::strlen(ending)
                                            << " unit " << static_cast<int>(unit));
          expect_naive_encoding(source, records, unit);
        }
      }
    }
  }
}

// Sources with far more lines than the line table first makes room for
// (one per 16 bytes): the table grows while it is filled, and every position
// still finds its line.
TEST(EncodeLineIndex, DenseLineFeedsGrowTheTable) {
  for (const std::string& line :
       {std::string("\n"), std::string("a\n"), std::string("\r\n"), std::string("\xC3\xA9\n")}) {
    std::string source;
    while (source.size() < 9000) source += line;
    source += "z";
    std::vector<SourceDiagnostic> records;
    for (const std::uint64_t p : boundaries(source)) records.push_back({p, p, DiagnosticCode::SourceMap});
    const NaiveLines naive(source);
    EXPECT_EQ(LineIndex(source, PositionUnit::Utf8Bytes).line_starts().size(), naive.starts.size() + 1);
    for (PositionUnit unit : kUnits) {
      SCOPED_TRACE(::testing::Message()
                   << "line of " << line.size() << " bytes, unit " << static_cast<int>(unit));
      expect_naive_encoding(source, records, unit);
    }
  }
}

// Runs of records on one line take a shorter way than records that move to
// another line; both must agree with the reference, and with the index asked
// about each record alone, at the edges of such a run. Every source but the
// first has a character beyond ASCII somewhere, so that its columns are not
// plain offsets.
struct RunCase {
  const char* name;
  std::string source;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
};

std::vector<RunCase> run_cases() {
  const std::string wide = "x" + std::string(150, 'a') + "\n\xC3\xA9";
  std::vector<std::pair<std::uint32_t, std::uint32_t>> across;  // one line, over blocks 0..2
  for (std::uint32_t p = 55; p < 140; p += 3) across.push_back({p, p + 2});
  return {
      {"ASCII run over a block boundary", std::string(150, 'a') + "\nb", across},
      {"run over a block boundary", wide, across},
      {"run that ends at the line feed",
       wide,
       {{140, 150}, {150, 151}, {151, 151}, {151, 152}, {149, 152}, {152, 154}, {151, 154}}},
      {"non-ASCII between two records",
       "ab \xC3\xA9 cd \xF0\x9F\x98\x80 ef\nz",
       {{0, 1}, {6, 8}, {0, 2}, {13, 15}, {6, 15}, {3, 5}, {15, 16}, {17, 17}, {3, 17}}},
      {"CRLF line ends",
       "ab\r\n\xC3\xA9\r\nc\r\n",
       {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 6}, {6, 7}, {7, 8}, {8, 9}, {10, 11}, {11, 11}, {0, 11}}},
      {"a run that reaches the end of the source",
       "\xC3\xA9\nabc",
       {{3, 4}, {4, 5}, {5, 6}, {6, 6}, {3, 6}, {0, 6}, {5, 6}}},
      {"the end of the source after a final line feed",
       "q\xC3\xA9\n",
       {{0, 1}, {1, 3}, {3, 4}, {4, 4}, {0, 4}, {3, 3}}},
      {"a record that leaves the line, then the line again",
       "abc\ndef\n\xC3\xA9gh",
       {{0, 1}, {1, 5}, {2, 3}, {4, 11}, {5, 6}, {8, 10}, {0, 1}, {12, 12}, {11, 12}}},
      {"lines shorter than a record step",
       "a\nb\n\n\nc\xC3\xA9\n\nd",
       {{0, 0}, {2, 3}, {4, 4}, {5, 6}, {6, 7}, {7, 9}, {10, 11}, {9, 9}, {11, 12}, {12, 12}, {6, 9}}},
  };
}

TEST(EncodeLineIndex, RunsOnOneLineMatchTheReferenceAndSingleLookUps) {
  for (const RunCase& c : run_cases()) {
    std::vector<SourceDiagnostic> records;
    for (const auto& [start, end] : c.ranges) records.push_back({start, end, DiagnosticCode::SourceMap});
    for (PositionUnit unit : kUnits) {
      SCOPED_TRACE(::testing::Message() << c.name << ", unit " << static_cast<int>(unit));
      expect_naive_encoding(c.source, records, unit);
      const std::vector<std::uint32_t> encoded = encode_diagnostics(c.source, records, unit);
      const LineIndex index(c.source, unit);
      for (std::size_t i = 0; i < records.size(); ++i) {
        const EncodedRecord alone = index.encode(records[i]);
        ASSERT_TRUE(
            std::equal(alone.begin(), alone.end(), encoded.begin() + static_cast<std::ptrdiff_t>(i * 5)))
            << "record " << i;
      }
    }
  }
}

// A position that a run's line would take but that is not a valid one:
// inside a character on that line, or past the end of the source on the
// last line. Only the last record of each case is invalid.
TEST(EncodeLineIndex, InvalidPositionsAfterARunFail) {
  struct Case {
    std::string source;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  };
  const std::string mixed =
      "a\xC3\xA9"
      "b\n\xE4\xB8\xADz";  // "é" at 1..2, "中" at 5..7, size 9
  const Case cases[] = {
      {mixed, {{0, 1}, {1, 3}, {0, 2}}},   // inside "é", as an end on the run's line
      {mixed, {{0, 1}, {2, 2}}},           // ... as start and end
      {mixed, {{5, 5}, {8, 9}, {8, 10}}},  // past the end, on the last line
      {mixed, {{5, 8}, {10, 10}}},
      {mixed, {{6, 6}}},                      // inside "中", first record
      {"abc\nde", {{4, 5}, {5, 6}, {5, 7}}},  // ASCII: past the end
  };
  for (const Case& c : cases) {
    std::vector<SourceDiagnostic> records;
    for (const auto& [start, end] : c.ranges) records.push_back({start, end, DiagnosticCode::SourceMap});
    for (PositionUnit unit : kUnits) {
      SCOPED_TRACE(::testing::Message() << c.ranges.back().first << ".." << c.ranges.back().second << " unit "
                                        << static_cast<int>(unit));
      EXPECT_THROW(encode_diagnostics(c.source, records, unit), InternalFailure);
      records.pop_back();
      EXPECT_NO_THROW(encode_diagnostics(c.source, records, unit));
      records.push_back({c.ranges.back().first, c.ranges.back().second, DiagnosticCode::SourceMap});
    }
  }
}

// One 10 MB line of two-, three- and four-byte characters and 100,000
// records on it, in reverse order, in every unit. (bench/linear_bench.py
// counts the instructions of such a line at three sizes: the work per
// record does not grow with the line.)
TEST(EncodeLineIndex, ManyRecordsOnOneLongLineInReverseOrder) {
  std::string source;
  source.reserve(10'000'100);
  while (source.size() < 10'000'000) source += "let \xC3\xA9t\xC3\xA9 = '\xE4\xB8\xAD\xF0\x9F\x98\x80'; ";
  // Positions spread over the line, with the column each has in every unit,
  // counted along the line once.
  struct Expected {
    std::uint32_t pos;
    std::uint32_t columns[3];  // in the order of kUnits
  };
  std::vector<Expected> expected;
  const std::uint64_t step = source.size() / 100'000;
  std::uint32_t columns[3] = {1, 1, 1};
  std::uint64_t at = 0;
  for (std::uint64_t target = 0; target < source.size(); target += step) {
    while (at < target || (at < source.size() && (static_cast<unsigned char>(source[at]) & 0xC0) == 0x80)) {
      const auto byte = static_cast<unsigned char>(source[at]);
      columns[0] += 1;
      columns[1] += ((byte & 0xC0) != 0x80) + (byte >= 0xF0);
      columns[2] += (byte & 0xC0) != 0x80;
      ++at;
    }
    expected.push_back({static_cast<std::uint32_t>(at), {columns[0], columns[1], columns[2]}});
  }
  ASSERT_GE(expected.size(), 100'000u);
  for (std::size_t u = 0; u < std::size(kUnits); ++u) {
    const LineIndex index(source, kUnits[u]);
    for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
      const SourceDiagnostic record{it->pos, it->pos, DiagnosticCode::SourceMap};
      const std::uint32_t column = it->columns[u];
      ASSERT_EQ(index.encode(record), (EncodedRecord{1, column, 1, column, 12000}))
          << "at " << it->pos << " unit " << u;
    }
  }
}

// The lexer refuses sources of UINT32_MAX bytes or more with a LexerError
// over the whole text. Its end, beyond 32 bits, is stored as kEndOfSource and
// encoded as the end of the source. The text is a mapping of zero pages (NUL
// characters) with a short last line written at its end; nothing reads it but
// the encoder's scan for line feeds.
class RefusedSource : public ::testing::Test {
 protected:
  void map(std::uint64_t size, std::string_view tail) {
    void* memory =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) GTEST_SKIP() << "cannot map " << size << " bytes";
    memory_ = static_cast<char*>(memory);
    size_ = size;
    std::memcpy(memory_ + size - tail.size(), tail.data(), tail.size());
  }
  void TearDown() override {
    if (memory_ != nullptr) munmap(memory_, size_);
  }
  std::string_view source() const { return {memory_, size_}; }

  char* memory_ = nullptr;
  std::uint64_t size_ = 0;
};

TEST_F(RefusedSource, EndBeyond32BitsIsTheEndOfTheSource) {
  map((std::uint64_t{1} << 32) + 100, "\n\xC3\xA9t\xC3\xA9");
  if (memory_ == nullptr) return;
  const CompileConfig config;
  const CompileRecords records = compile_records(source(), config);
  EXPECT_FALSE(records.chunk.has_value());
  EXPECT_EQ(records.records, (std::vector<SourceDiagnostic>{{0, kEndOfSource, DiagnosticCode::LexerError}}));
  const CompileResult result = compile(source(), config);
  EXPECT_FALSE(result.chunk.has_value());
  EXPECT_EQ(result.diagnostics, (std::vector<std::uint32_t>{1, 1, 2, 4, 1002}));
  CompileConfig bytes;
  bytes.position_unit = PositionUnit::Utf8Bytes;
  EXPECT_EQ(compile(source(), bytes).diagnostics, (std::vector<std::uint32_t>{1, 1, 2, 6, 1002}));
  CompileConfig quiet;
  quiet.report_errors = false;
  EXPECT_TRUE(compile(source(), quiet).diagnostics.empty());
}

TEST_F(RefusedSource, SizeOfExactlyUint32MaxIsRefusedToo) {
  map(kEndOfSource, "\r\nx");
  if (memory_ == nullptr) return;
  const CompileResult result = compile(source(), CompileConfig{});
  EXPECT_FALSE(result.chunk.has_value());
  EXPECT_EQ(result.diagnostics, (std::vector<std::uint32_t>{1, 1, 2, 2, 1002}));
  // Positions other than the start and the end are found by the same scan.
  const LineIndex index(source(), PositionUnit::CodePoints);
  EXPECT_EQ(index.locate(kEndOfSource - 1), (LineCol{2, 1}));
}

}  // namespace
}  // namespace quendal
