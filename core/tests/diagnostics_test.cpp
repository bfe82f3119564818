// Collector filtering and the encoding of positions into lines and columns.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "diagnostic/diagnostics_collector.h"
#include "diagnostic/encode_diagnostics.h"
#include "naive_lines.h"
#include "quendal/compile.h"
#include "support/arena.h"

namespace quendal {
namespace {

using testing::NaiveLines;

DiagnosticCode code(std::uint16_t v) { return static_cast<DiagnosticCode>(v); }

// ---------------------------------------------------------------------------
// Collector

struct FilterCase {
  const char* name;
  std::function<void(CompileConfig&)> toggle;  // flips the switch of the range
  std::vector<std::uint16_t> in_range;
};

// Values that belong to no filtered range and are always kept.
const std::vector<std::uint16_t> kAlwaysKept = {0,    1000, 1999, 2999,  3999,  4999,
                                                5999, 7000, 9999, 11999, 12001, 65535};

const FilterCase kFilterCases[] = {
    {"errors", [](CompileConfig& c) { c.report_errors = false; }, {1001, 1002, 1071, 1500, 1998}},
    {"warnings", [](CompileConfig& c) { c.report_warnings = false; }, {2000, 2001, 2011, 2998}},
    {"infos", [](CompileConfig& c) { c.report_infos = false; }, {3000, 3500, 3998}},
    {"hints", [](CompileConfig& c) { c.report_hints = false; }, {4000, 4001, 4009, 4998}},
    {"references", [](CompileConfig& c) { c.report_references = false; }, {5000, 5001, 5006, 5998}},
    // Tags are off by default: the toggle turns them on, so the expectation is reversed below.
    {"tags",
     [](CompileConfig& c) { c.report_tags = true; },
     {10000, 10001, 10035, 10999, 11000, 11024, 11998}},
    {"source_map", [](CompileConfig& c) { c.report_source_map = false; }, {12000}},
};

TEST(DiagnosticsCollector, EachSwitchFiltersExactlyItsRange) {
  for (const FilterCase& fc : kFilterCases) {
    SCOPED_TRACE(fc.name);
    const bool tags = std::string(fc.name) == "tags";
    CompileConfig defaults;
    CompileConfig toggled;
    fc.toggle(toggled);
    DiagnosticsCollector with_defaults("", defaults);
    DiagnosticsCollector with_toggle("", toggled);
    for (std::uint16_t v : fc.in_range) {
      EXPECT_EQ(with_defaults.accepts(code(v)), !tags) << v;
      EXPECT_EQ(with_toggle.accepts(code(v)), tags) << v;
    }
    // Every other range is unaffected by this switch.
    for (const FilterCase& other : kFilterCases) {
      if (&other == &fc) continue;
      for (std::uint16_t v : other.in_range)
        EXPECT_EQ(with_toggle.accepts(code(v)), with_defaults.accepts(code(v))) << v;
    }
    for (std::uint16_t v : kAlwaysKept) EXPECT_TRUE(with_toggle.accepts(code(v))) << v;
  }
}

TEST(DiagnosticsCollector, EverythingOffKeepsOnlyUnfilteredValues) {
  CompileConfig c;
  c.report_errors = c.report_warnings = c.report_infos = c.report_hints = c.report_references = false;
  c.report_source_map = false;
  DiagnosticsCollector collector("", c);
  for (const FilterCase& fc : kFilterCases)
    for (std::uint16_t v : fc.in_range) EXPECT_FALSE(collector.accepts(code(v))) << v;
  for (std::uint16_t v : kAlwaysKept) EXPECT_TRUE(collector.accepts(code(v))) << v;
}

TEST(DiagnosticsCollector, PushExtendAppendKeepOrderAndDuplicates) {
  CompileConfig config;  // tags off, source map on
  DiagnosticsCollector collector("abcdef", config);
  collector.push(DiagnosticCode::String, 0, 1);  // dropped
  collector.push(DiagnosticCode::SourceMap, 0, 1);
  collector.push(DiagnosticCode::SourceMap, 0, 1);  // identical record stays
  std::vector<SourceDiagnostic> owned = {{1, 2, DiagnosticCode::LexerError},
                                         {2, 3, DiagnosticCode::Interpolation},
                                         {3, 4, DiagnosticCode::UnusedLocalVariable}};
  collector.extend(std::move(owned));
  std::vector<SourceDiagnostic> borrowed = {{4, 5, DiagnosticCode::ReadLocal},
                                            {5, 6, DiagnosticCode::VariableDeclaredHere}};
  collector.append(borrowed);
  EXPECT_TRUE(borrowed.empty());
  const std::vector<SourceDiagnostic> expected = {{0, 1, DiagnosticCode::SourceMap},
                                                  {0, 1, DiagnosticCode::SourceMap},
                                                  {1, 2, DiagnosticCode::LexerError},
                                                  {3, 4, DiagnosticCode::UnusedLocalVariable},
                                                  {5, 6, DiagnosticCode::VariableDeclaredHere}};
  EXPECT_EQ(collector.diagnostics(), expected);
  EXPECT_EQ(collector.source(), "abcdef");
}

TEST(DiagnosticsCollector, AppendEmptiesSourceEvenWhenAllDropped) {
  CompileConfig config;
  DiagnosticsCollector collector("", config);
  std::vector<SourceDiagnostic> tags = {{0, 0, DiagnosticCode::String}, {0, 0, DiagnosticCode::Scope}};
  collector.append(tags);
  EXPECT_TRUE(tags.empty());
  Arena arena;
  std::pmr::vector<SourceDiagnostic> in_arena(&arena);
  in_arena.push_back({0, 0, DiagnosticCode::FunctionCall});
  in_arena.push_back({0, 0, DiagnosticCode::MissingComma});
  collector.append(in_arena);
  EXPECT_TRUE(in_arena.empty());
  ASSERT_EQ(collector.diagnostics().size(), 1u);
  EXPECT_EQ(collector.diagnostics()[0].code, DiagnosticCode::MissingComma);
}

// ---------------------------------------------------------------------------
// Encoder: fixed cases

std::vector<std::uint32_t> encode_one(std::string_view source, std::uint64_t start, std::uint64_t end,
                                      PositionUnit unit = PositionUnit::CodePoints,
                                      DiagnosticCode c = DiagnosticCode::SourceMap) {
  const SourceDiagnostic d{start, end, c};
  return encode_diagnostics(source, std::span(&d, 1), unit);
}

LineCol at(std::string_view source, std::uint32_t pos, PositionUnit unit = PositionUnit::CodePoints) {
  return LineIndex(source, unit).locate(pos);
}

constexpr PositionUnit kUnits[] = {PositionUnit::Utf8Bytes, PositionUnit::Utf16Units,
                                   PositionUnit::CodePoints};

TEST(EncodeDiagnostics, EmptyListGivesNothingWhateverTheSource) {
  for (PositionUnit u : kUnits) {
    EXPECT_TRUE(encode_diagnostics("", {}, u).empty());
    EXPECT_TRUE(encode_diagnostics("a\nb\r\nc", {}, u).empty());
  }
}

TEST(EncodeDiagnostics, EmptySourceRecordsAtZero) {
  const std::vector<SourceDiagnostic> ds = {{0, 0, DiagnosticCode::SourceMap},
                                            {0, 0, DiagnosticCode::LexerError}};
  EXPECT_EQ(encode_diagnostics("", ds, PositionUnit::CodePoints),
            (std::vector<std::uint32_t>{1, 1, 1, 1, 12000, 1, 1, 1, 1, 1002}));
}

TEST(EncodeDiagnostics, GroupsFollowCollectorOrder) {
  const std::vector<SourceDiagnostic> ds = {{2, 3, DiagnosticCode::MissingSemicolon},
                                            {0, 1, DiagnosticCode::ReadLocal}};
  EXPECT_EQ(encode_diagnostics("a\nb", ds, PositionUnit::Utf8Bytes),
            (std::vector<std::uint32_t>{2, 1, 2, 2, 1031, 1, 1, 1, 2, 11001}));
}

struct PositionCase {
  const char* source;
  std::uint64_t pos;
  LineCol expected;
};

TEST(EncodeDiagnostics, LineTerminators) {
  const PositionCase cases[] = {
      {"a\nb", 1, {1, 2}},                              // on the line feed
      {"a\nb", 2, {2, 1}},                              // first byte of a line
      {"a\nb", 3, {2, 2}},                              // end of source
      {"ab\r\n", 2, {1, 3}},                            // on the carriage return
      {"ab\r\n", 3, {1, 4}},                            // on the line feed
      {"ab\r\n", 4, {1, 5}},                            // after the final line feed: still line 1
      {"a\n", 2, {1, 3}},      {"a\rb\nc", 2, {1, 3}},  // a lone carriage return is text
      {"a\rb\nc", 4, {2, 1}},  {"\r", 1, {1, 2}},
      {"\n\n", 1, {2, 1}},  // empty lines each have an entry
      {"\n\n", 2, {2, 2}},     {"\r\n\r\nx", 4, {3, 1}},
      {"x\r\r\ny", 4, {2, 1}},  // only one carriage return belongs to the terminator
      {"abc", 0, {1, 1}},      {"", 0, {1, 1}},
  };
  for (const auto& c : cases)
    for (PositionUnit u : kUnits) EXPECT_EQ(at(c.source, c.pos, u), c.expected) << c.source << " @" << c.pos;
}

TEST(EncodeDiagnostics, MultiByteCharactersPerUnit) {
  // U+00E9 alone, record 0..2
  EXPECT_EQ(encode_one("\xC3\xA9", 0, 2, PositionUnit::Utf8Bytes),
            (std::vector<std::uint32_t>{1, 1, 1, 3, 12000}));
  EXPECT_EQ(encode_one("\xC3\xA9", 0, 2, PositionUnit::Utf16Units),
            (std::vector<std::uint32_t>{1, 1, 1, 2, 12000}));
  EXPECT_EQ(encode_one("\xC3\xA9", 0, 2, PositionUnit::CodePoints),
            (std::vector<std::uint32_t>{1, 1, 1, 2, 12000}));
  // "中" (3 bytes) and U+1F600 (4 bytes), then "x"
  const std::string s = "\xE4\xB8\xAD\xF0\x9F\x98\x80x";
  EXPECT_EQ(at(s, 3, PositionUnit::Utf8Bytes), (LineCol{1, 4}));
  EXPECT_EQ(at(s, 3, PositionUnit::Utf16Units), (LineCol{1, 2}));
  EXPECT_EQ(at(s, 3, PositionUnit::CodePoints), (LineCol{1, 2}));
  EXPECT_EQ(at(s, 7, PositionUnit::Utf8Bytes), (LineCol{1, 8}));
  EXPECT_EQ(at(s, 7, PositionUnit::Utf16Units), (LineCol{1, 4}));
  EXPECT_EQ(at(s, 7, PositionUnit::CodePoints), (LineCol{1, 3}));
}

TEST(EncodeDiagnostics, LineStartsAndBlockLines) {
  using Starts = std::vector<std::uint32_t>;
  const auto starts = [](const LineIndex& index) {
    return Starts(index.line_starts().begin(), index.line_starts().end());
  };
  // Every table ends with the sentinel; an empty source has its first line,
  // for position 0.
  EXPECT_EQ(starts(LineIndex("", PositionUnit::CodePoints)), (Starts{0, kEndOfSource}));
  EXPECT_EQ(starts(LineIndex("a\nb", PositionUnit::CodePoints)), (Starts{0, 2, kEndOfSource}));
  // A final line feed starts no line; empty lines do.
  EXPECT_EQ(starts(LineIndex("a\n", PositionUnit::CodePoints)), (Starts{0, kEndOfSource}));
  EXPECT_EQ(starts(LineIndex("\n\n\r\nx", PositionUnit::CodePoints)), (Starts{0, 1, 2, 4, kEndOfSource}));
  // The terminator is not part of the line: a CRLF line ends after its "\n".
  const LineIndex crlf(std::string(1024, 'a') + "\r\nb", PositionUnit::CodePoints);
  EXPECT_EQ(starts(crlf), (Starts{0, 1026, kEndOfSource}));
  // Blocks of 64 bytes, one more for the position at the end: lines 2 and 3
  // start in block 1, so block 1 begins on line 1 and block 2 on line 3.
  const std::string source = std::string(70, 'a') + "\n\n" + std::string(60, 'b');
  const LineIndex index(source, PositionUnit::Utf8Bytes);
  EXPECT_EQ(starts(index), (Starts{0, 71, 72, kEndOfSource}));
  const std::vector<std::uint32_t> blocks(index.block_lines().begin(), index.block_lines().end());
  EXPECT_EQ(blocks, (std::vector<std::uint32_t>{0, 0, 2}));
  EXPECT_EQ(index.locate(132), (LineCol{3, 61}));
  const std::string line3000(3000, 'a');
  for (PositionUnit u : kUnits) {
    EXPECT_EQ(at(line3000, 2500, u), (LineCol{1, 2501}));
    EXPECT_EQ(at(line3000, 3000, u), (LineCol{1, 3001}));
    EXPECT_EQ(at(line3000, 1024, u), (LineCol{1, 1025}));
  }
}

TEST(EncodeDiagnostics, BlockBoundariesInsideCharacters) {
  // 400 three-byte characters: bytes 63..65 are one character, so block 1
  // starts on its second byte.
  std::string han;
  for (int i = 0; i < 400; ++i) han += "\xE4\xB8\xAD";
  EXPECT_EQ(LineIndex(han, PositionUnit::CodePoints).columns(), LineIndex::Columns::CodePoints);
  EXPECT_EQ(LineIndex(han, PositionUnit::Utf16Units).columns(), LineIndex::Columns::Utf16Units);
  EXPECT_EQ(LineIndex(han, PositionUnit::Utf8Bytes).columns(), LineIndex::Columns::Bytes);
  EXPECT_EQ(LineIndex("plain", PositionUnit::CodePoints).columns(), LineIndex::Columns::Ascii);
  EXPECT_EQ(at(han, 63, PositionUnit::CodePoints), (LineCol{1, 22}));
  EXPECT_EQ(at(han, 66, PositionUnit::CodePoints), (LineCol{1, 23}));
  EXPECT_EQ(at(han, 1023, PositionUnit::CodePoints), (LineCol{1, 342}));
  EXPECT_EQ(at(han, 1023, PositionUnit::Utf8Bytes), (LineCol{1, 1024}));
  EXPECT_EQ(at(han, 1200, PositionUnit::Utf16Units), (LineCol{1, 401}));
  // "a" and 300 four-byte characters: the character at 61..64 crosses into block 1.
  std::string emoji = "a";
  for (int i = 0; i < 300; ++i) emoji += "\xF0\x9F\x98\x80";
  EXPECT_EQ(at(emoji, 61, PositionUnit::Utf16Units), (LineCol{1, 32}));
  EXPECT_EQ(at(emoji, 65, PositionUnit::Utf16Units), (LineCol{1, 34}));
  EXPECT_EQ(at(emoji, 65, PositionUnit::CodePoints), (LineCol{1, 18}));
  EXPECT_EQ(at(emoji, 1025, PositionUnit::CodePoints), (LineCol{1, 258}));
  EXPECT_EQ(at(emoji, 1025, PositionUnit::Utf16Units), (LineCol{1, 514}));
  EXPECT_EQ(at(emoji, 1201, PositionUnit::Utf8Bytes), (LineCol{1, 1202}));
}

TEST(EncodeDiagnostics, InvalidPositionsAreInternalFailures) {
  EXPECT_THROW(encode_one("", 0, 1), InternalFailure);
  EXPECT_THROW(encode_one("abc", 4, 4), InternalFailure);
  EXPECT_THROW(encode_one("\xC3\xA9", 0, 1), InternalFailure);  // inside a character
  EXPECT_THROW(encode_one("a\xF0\x9F\x98\x80", 3, 5), InternalFailure);
  EXPECT_THROW(encode_one("abc", 0, kEndOfSource), InternalFailure);  // the end mark of a refused source
  // Position 0 never consults the tables, which an empty source does not have.
  const LineIndex empty("", PositionUnit::CodePoints);
  EXPECT_EQ(empty.locate(0), (LineCol{1, 1}));
  EXPECT_THROW(empty.locate(1), InternalFailure);
  // The failure names the position and the reason.
  try {
    LineIndex("a\xC3\xA9", PositionUnit::Utf16Units).locate(2);
    ADD_FAILURE() << "no failure";
  } catch (const InternalFailure& failure) {
    EXPECT_STREQ(failure.what(), "Invalid diagnostic position 2: not on a character boundary");
  }
  try {
    LineIndex("abc", PositionUnit::Utf8Bytes).locate(9);
    ADD_FAILURE() << "no failure";
  } catch (const InternalFailure& failure) {
    EXPECT_STREQ(failure.what(), "Invalid diagnostic position 9: beyond the source");
  }
}

// ---------------------------------------------------------------------------
// Encoder against the naive reference of naive_lines.h

std::string random_source(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "a", "b", " ", "\n", "\r", "\r\n", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"};
  std::string s;
  const int pieces = std::uniform_int_distribution<int>(0, 60)(rng);
  for (int i = 0; i < pieces; ++i) {
    if (std::uniform_int_distribution<int>(0, 9)(rng) == 0) {
      // A long run without line feeds, of one character kind, across blocks.
      const char* piece = kPieces[std::uniform_int_distribution<int>(6, 8)(rng)];
      const int n = std::uniform_int_distribution<int>(200, 1400)(rng);
      if (std::uniform_int_distribution<int>(0, 1)(rng))
        s += std::string(std::uniform_int_distribution<int>(0, 3)(rng), 'x');
      for (int k = 0; k < n; ++k) s += piece;
    } else {
      s += kPieces[std::uniform_int_distribution<int>(0, 8)(rng)];
    }
  }
  return s;
}

TEST(EncodeDiagnostics, MatchesNaiveReferenceOnRandomSources) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 60; ++round) {
    const std::string source = random_source(rng);
    const NaiveLines naive(source);
    std::vector<std::uint64_t> boundaries;
    for (std::uint64_t i = 0; i <= source.size(); ++i)
      if (i == source.size() || (static_cast<unsigned char>(source[i]) & 0xC0) != 0x80)
        boundaries.push_back(i);
    for (PositionUnit unit : kUnits) {
      const LineIndex index(source, unit);
      for (std::uint64_t pos : boundaries)
        ASSERT_EQ(index.locate(static_cast<std::uint32_t>(pos)), naive.at(pos, unit))
            << "round " << round << " pos " << pos << " unit " << static_cast<int>(unit);
      // Whole-list encoding agrees with the per-position answers.
      std::vector<SourceDiagnostic> ds;
      for (std::size_t i = 0; i + 1 < boundaries.size(); i += 7)
        ds.push_back({boundaries[i], boundaries[i + 1], DiagnosticCode::SourceMap});
      const auto encoded = encode_diagnostics(source, ds, unit);
      ASSERT_EQ(encoded.size(), ds.size() * 5);
      for (std::size_t i = 0; i < ds.size(); ++i) {
        const LineCol s = naive.at(ds[i].start, unit);
        const LineCol e = naive.at(ds[i].end, unit);
        ASSERT_EQ((std::vector<std::uint32_t>(encoded.begin() + 5 * i, encoded.begin() + 5 * i + 5)),
                  (std::vector<std::uint32_t>{s.line, s.column, e.line, e.column, 12000}));
      }
    }
  }
}

}  // namespace
}  // namespace quendal
