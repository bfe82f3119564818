// Whole compilations checked by the independent chunk and diagnostics
// verifier of the fuzz targets: the example scripts under every
// configuration, and inputs the fuzzers found faults with.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../tools/fuzz/chunk_verify.h"
#include "../tools/fuzz/fuzz_vocabulary.h"

namespace quendal {
namespace {

std::vector<std::string> example_sources() {
  const auto dir = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "examples";
  std::vector<std::string> sources;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".qd") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    sources.push_back(text.str());
  }
  return sources;
}

TEST(Regression, ExamplesUnderEveryConfiguration) {
  const auto sources = example_sources();
  ASSERT_FALSE(sources.empty());
  for (const auto& source : sources) {
    for (int byte = 0; byte < 256; ++byte) {
      const CompileConfig config = verify::config_from_byte(static_cast<std::uint8_t>(byte));
      EXPECT_EQ(verify::check_compilation(source, config, byte % 7 == 0), "")
          << "config byte " << byte << "\n"
          << source;
    }
  }
}

// Inputs that once broke an invariant, each with the configuration byte the
// fuzzer used (see config_from_byte).
struct Case {
  const char* name;
  std::uint8_t config;
  std::string source;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"empty script", 2, ""},
      {"empty template", 194, ""},
      {"lone close brackets", 2, ") ] }"},
      {"unterminated string at end", 0, "'abc $(x"},
      {"crlf and lone cr positions", 1, "let a = 1;\r\nlet b = 'x\ry';\r\n"},
      {"astral characters in utf-16 units", 1,
       "let \xF0\x9D\x91\xA5 = '\xF0\x9F\x98\x80'; \xF0\x9D\x91\xA5 +"},
      {"errors off with a hard parse failure", 3 * 1 + 2, std::string(300, '(')},
      {"break outside a loop with errors off", 3 * 1 + 2, "break; continue;"},
      {"nesting past the limit with errors off", 3 * 1 + 2, std::string(700, '(')},
      // A pattern in a for loop's iterable binds names of the loop window,
      // which is not open while the iterable is evaluated.
      {"binding in a for iterable", 0, "let y = 1; for x in [y is z] {}"},
      {"binding in a for iterable with errors off", 4, "for x in y is y"},
      {"assigning an iterable binding with errors off", 4, "for x in (y is z and { z += 2; [] }) { z }"},
  };
  return all;
}

class RegressionCase : public ::testing::TestWithParam<Case> {};

TEST_P(RegressionCase, KeepsEveryInvariant) {
  const Case& c = GetParam();
  EXPECT_EQ(verify::check_compilation(c.source, verify::config_from_byte(c.config), true), "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, RegressionCase, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.name))
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

// A fixed-seed sample of what the token fuzz target explores: word sequences
// of the fuzz vocabulary under rotating configurations, every result checked.
TEST(Regression, RandomWordSequencesKeepEveryInvariant) {
  std::mt19937 random(20261207);
  const auto& words = verify::kVocabulary;
  for (int round = 0; round < 4000; ++round) {
    std::string source;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) {
      const unsigned pick = random() % 16;
      if (!source.empty()) source += pick == 0 ? "\n" : pick == 1 ? "" : " ";
      source += words[random() % words.size()];
    }
    const auto config_byte = static_cast<std::uint8_t>(random());
    ASSERT_EQ(verify::check_compilation(source, verify::config_from_byte(config_byte), round % 3 == 0), "")
        << "config byte " << int{config_byte} << "\n"
        << source;
  }
}

// The verifier itself must reject broken chunks, or the checks above prove
// nothing.
TEST(ChunkVerifier, RejectsMalformedChunks) {
  const CompileResult good = compile("let x = 1; if x { x } else { 2 }", CompileConfig{});
  ASSERT_TRUE(good.chunk.has_value());
  verify::DecodedChunk decoded;
  ASSERT_EQ(verify::verify_chunk(*good.chunk, decoded, true), "");
  ASSERT_GE(decoded.instructions.size(), 4u);

  auto broken = [&](auto mutate) {
    std::vector<std::uint8_t> bytes = *good.chunk;
    mutate(bytes);
    verify::DecodedChunk out;
    return verify::verify_chunk(bytes, out, true);
  };
  const std::size_t code_end = 8 + (good.chunk->at(4) | good.chunk->at(5) << 8);
  EXPECT_NE(broken([](auto& b) { b[0] ^= 1; }), "");                     // total length
  EXPECT_NE(broken([](auto& b) { b.pop_back(); }), "");                  // truncated
  EXPECT_NE(broken([&](auto& b) { b[code_end - 1] = 92; }), "");         // FuncEnd -> IfEnd
  EXPECT_NE(broken([&](auto& b) { b[code_end - 1] = 95 | 0x80; }), "");  // wide FuncEnd
  EXPECT_NE(broken([&](auto& b) { b[code_end - 1] = 10; }), "");         // reserved opcode
  EXPECT_NE(broken([&](auto& b) { b[code_end - 1] = 91; }), "");         // Else outside If
  EXPECT_NE(broken([&](auto& b) { b[8] = 40; }), "");                    // no Func first

  // Source map count against instruction count, and positions.
  CompileResult result = good;
  ASSERT_EQ(verify::verify_result("let x = 1; if x { x } else { 2 }", CompileConfig{}, result), "");
  result.diagnostics.resize(result.diagnostics.size() - 5);
  EXPECT_NE(verify::verify_result("let x = 1; if x { x } else { 2 }", CompileConfig{}, result), "");
  result = good;
  result.diagnostics[1] = 1000;  // column far past the line's end
  EXPECT_NE(verify::verify_result("let x = 1; if x { x } else { 2 }", CompileConfig{}, result), "");
  result = good;
  result.diagnostics.insert(result.diagnostics.end(), {1, 1, 1, 1, 1008});  // error kept, chunk present
  EXPECT_NE(verify::verify_result("let x = 1; if x { x } else { 2 }", CompileConfig{}, result), "");
}

TEST(ChunkVerifier, PositionsFollowLinesAndUnits) {
  // "a\r\n" then U+1F600 then "\n": the position on "\r" and on the final
  // "\n"'s far side stay on the line before.
  const std::string source = "a\r\n\xF0\x9F\x98\x80\n";
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(verify::all_positions(source, PositionUnit::CodePoints),
            (std::vector<P>{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}}));
  EXPECT_EQ(verify::all_positions(source, PositionUnit::Utf16Units),
            (std::vector<P>{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 3}, {2, 4}}));
  EXPECT_EQ(verify::all_positions(source, PositionUnit::Utf8Bytes),
            (std::vector<P>{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 5}, {2, 6}}));
  EXPECT_EQ(verify::sanitize_utf8("a\xFF\xC3"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(verify::sanitize_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quendal
