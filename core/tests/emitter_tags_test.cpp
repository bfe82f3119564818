// Emitter annotations and configuration switches, through the C++ API (the
// Python Config cannot turn tags on or categories off).
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "quendal/compile.h"

namespace quendal {
namespace {

using Record = std::tuple<int, int, int>;  // code, start, end

// Single-line ASCII sources: columns are byte offsets + 1.
std::vector<Record> records(std::string_view source, const CompileConfig& config,
                            bool keep_source_map = false) {
  const CompileResult result = compile(source, config);
  std::vector<Record> out;
  for (std::size_t i = 0; i + 5 <= result.diagnostics.size(); i += 5) {
    const auto* r = &result.diagnostics[i];
    if (!keep_source_map && r[4] == 12000) continue;
    out.emplace_back(static_cast<int>(r[4]), static_cast<int>(r[1]) - 1, static_cast<int>(r[3]) - 1);
  }
  return out;
}

CompileConfig with_tags() {
  CompileConfig config;
  config.report_tags = true;
  config.report_source_map = false;
  return config;
}

struct TagCase {
  const char* source;
  std::vector<Record> expected;
};

class EmitterTags : public ::testing::TestWithParam<TagCase> {};

TEST_P(EmitterTags, AppearInOrderWithTheirRanges) {
  EXPECT_EQ(records(GetParam().source, with_tags()), GetParam().expected) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, EmitterTags,
    ::testing::Values(
        // the script scope, then each variable's tag followed by its references
        TagCase{"let x = 1; x", {{10034, 0, 12}, {10002, 4, 5}, {11001, 11, 12}}},
        TagCase{"let mut x = 1; x += 1; x = 2; x",
                {{10034, 0, 31}, {10003, 8, 9}, {11002, 15, 16}, {11003, 23, 24}, {11001, 30, 31}}},
        TagCase{
            "let a = 1; let a = 2; a",
            {{10034, 0, 23}, {1065, 15, 16}, {5001, 4, 5}, {10002, 4, 5}, {11004, 15, 16}, {11001, 22, 23}}},
        TagCase{"const @c = 1; fn f() {} let g = fn {}; mod m {} f; g; m; @c",
                {{10034, 0, 59},
                 {10034, 14, 23},
                 {10034, 32, 37},
                 {10006, 32, 37},
                 {10034, 45, 47},
                 {10001, 6, 8},
                 {11001, 57, 59},
                 {10004, 17, 18},
                 {11001, 48, 49},
                 {10004, 28, 29},
                 {11001, 51, 52},
                 {10005, 43, 44},
                 {11001, 54, 55}}},
        TagCase{"fn f(a, mut b, ..[d]) { a; b; d; } f",
                {{10034, 0, 36},
                 {10034, 0, 34},
                 {10007, 5, 6},
                 {11001, 24, 25},
                 {10008, 12, 13},
                 {11001, 27, 28},
                 {10012, 17, 20},
                 {10013, 18, 19},
                 {11001, 30, 31},
                 {10004, 3, 4},
                 {11001, 35, 36}}},
        TagCase{
            "fn g(..c) { c } g",
            {{10034, 0, 17}, {10034, 0, 15}, {10009, 7, 8}, {11001, 12, 13}, {10004, 3, 4}, {11001, 16, 17}}},
        // calls: call tag, callee, parentheses, commas and spreads; then the
        // global-name tags of emission
        TagCase{"f(a, ..b)",
                {{10034, 0, 9},
                 {10032, 0, 9},
                 {11006, 0, 1},
                 {11008, 1, 2},
                 {11010, 3, 4},
                 {11011, 5, 7},
                 {11009, 8, 9},
                 {10015, 0, 1},
                 {10015, 2, 3},
                 {10015, 7, 8}}},
        TagCase{"r::g(1)",
                {{10034, 0, 7},
                 {10033, 0, 7},
                 {11007, 0, 1},
                 {11006, 3, 4},
                 {11008, 4, 5},
                 {11009, 6, 7},
                 {10015, 3, 4},
                 {10015, 0, 1}}},
        TagCase{"global.x; global[k]", {{10034, 0, 19}, {10015, 7, 8}, {10016, 17, 18}, {10015, 17, 18}}},
        // loops and conditionals: expression tag, keyword references, scopes
        TagCase{"loop { break; }", {{10034, 0, 15}, {10039, 0, 15}, {11015, 0, 4}, {10034, 5, 15}}},
        TagCase{"while c {} else {}",
                {{10034, 0, 18},
                 {10038, 0, 18},
                 {11014, 0, 5},
                 {11019, 11, 15},
                 {10034, 8, 10},
                 {10015, 6, 7},
                 {10034, 16, 18}}},
        TagCase{"for i in xs { i; }",
                {{10034, 0, 18},
                 {10037, 0, 18},
                 {11012, 0, 3},
                 {11013, 6, 8},
                 {10034, 12, 18},
                 {10015, 9, 11},
                 {10002, 4, 5},
                 {11001, 14, 15}}},
        TagCase{"if c {} else {}",
                {{10034, 0, 15},
                 {10042, 0, 15},
                 {11018, 0, 2},
                 {11019, 8, 12},
                 {10034, 0, 15},
                 {10015, 3, 4},
                 {10034, 5, 7},
                 {10034, 13, 15}}},
        TagCase{"c ? 1 : 2", {{10034, 0, 9}, {4007, 0, 9}, {10042, 0, 9}, {10034, 0, 9}, {10015, 0, 1}}},
        // record fields
        TagCase{"(a: 1, \"b\": 2, 0: 3, x, :y)",
                {{10035, 7, 10},
                 {10034, 0, 27},
                 {10015, 21, 22},
                 {10015, 25, 26},
                 {10017, 1, 2},
                 {10019, 7, 10},
                 {10018, 15, 16},
                 {10023, 21, 22},
                 {10031, 24, 26},
                 {11024, 25, 26}}}));

TEST(EmitterTags, OffByDefault) {
  for (const char* source :
       {"let x = 1; x", "f(a, ..b)", "if c {} else {}", "(a: 1, x)", "loop { break; }"}) {
    for (const auto& [code, start, end] : records(source, CompileConfig{})) {
      EXPECT_FALSE(code >= 10000 && code < 12000) << source << " " << code;
    }
  }
}

TEST(EmitterTags, UnnamedFieldsBeyondNine) {
  const auto out = records("(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10)", with_tags());
  std::vector<int> unnamed;
  for (const auto& [code, start, end] : out) {
    if (code >= 10020 && code <= 10030) unnamed.push_back(code);
  }
  EXPECT_EQ(unnamed,
            (std::vector<int>{10020, 10021, 10022, 10023, 10024, 10025, 10026, 10027, 10028, 10029, 10030}));
}

TEST(EmitterSwitches, EachCategoryHonoursItsSwitch) {
  const char* source = "let a = 1; let a = 2; x = 1; 1 + \"s\"; let u = null; not true";
  CompileConfig all;
  const auto everything = records(source, all);
  auto count = [](const std::vector<Record>& rs, int low, int high) {
    int n = 0;
    for (const auto& [code, start, end] : rs) n += code >= low && code <= high;
    return n;
  };
  ASSERT_GT(count(everything, 1001, 1998), 0);
  ASSERT_GT(count(everything, 2000, 2998), 0);
  ASSERT_GT(count(everything, 4000, 4998), 0);
  ASSERT_GT(count(everything, 5000, 5998), 0);

  CompileConfig no_errors;
  no_errors.report_errors = false;
  EXPECT_EQ(count(records(source, no_errors), 1001, 1998), 0);
  EXPECT_TRUE(compile(source, no_errors).chunk.has_value());

  CompileConfig no_warnings;
  no_warnings.report_warnings = false;
  EXPECT_EQ(count(records(source, no_warnings), 2000, 2998), 0);

  CompileConfig no_hints;
  no_hints.report_hints = false;
  EXPECT_EQ(count(records(source, no_hints), 4000, 4998), 0);

  CompileConfig no_references;
  no_references.report_references = false;
  EXPECT_EQ(count(records(source, no_references), 5000, 5998), 0);

  CompileConfig no_map;
  no_map.report_source_map = false;
  EXPECT_EQ(count(records(source, no_map, true), 12000, 12000), 0);
  EXPECT_GT(count(records(source, all, true), 12000, 12000), 0);
}

TEST(EmitterRecovery, PrefixQuestionIsNil) {
  CompileConfig config;
  config.report_errors = false;
  const CompileResult result = compile("?x", config);
  ASSERT_TRUE(result.chunk.has_value());
  // Func r0, 0, 1; Assign r1, r0; Return r1; FuncEnd
  const std::vector<std::uint8_t> code(result.chunk->begin() + 8, result.chunk->begin() + 8 + 10);
  EXPECT_EQ(code, (std::vector<std::uint8_t>{93, 0, 0, 1, 40, 1, 0, 96, 1, 95}));
}

TEST(EmitterRecovery, RewrittenDeclarationNamesDeclareNothing) {
  CompileConfig config;
  config.report_errors = false;
  for (const char* source : {"fn _() { 1 }", "fn global() {}", "const try = 1;", "mod use {}", "let x = _; x",
                             "fn f(use) { use } f", "(a: 1).use"}) {
    const CompileResult result = compile(source, config);
    EXPECT_TRUE(result.chunk.has_value()) << source;
  }
  // `fn _() { 1 }` still emits its body, into register 0.
  const CompileResult result = compile("fn _() { 1 }", config);
  const std::vector<std::uint8_t> code(result.chunk->begin() + 8, result.chunk->begin() + 8 + 8);
  EXPECT_EQ(code, (std::vector<std::uint8_t>{93, 0, 0, 0, 93, 0, 0, 1}));
}

// Deeply nested constructs compile within a small native stack.
void* compile_nested(void* arg) {
  auto* sources = static_cast<std::vector<std::string>*>(arg);
  for (const std::string& source : *sources) (void)compile(source, CompileConfig{});
  return nullptr;
}

std::string nest(const std::string& open, const std::string& inner, const std::string& close, int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open;
  s += inner;
  for (int i = 0; i < depth; ++i) s += close;
  return s;
}

TEST(EmitterDepth, NestedConstructsFitInOneMebibyteOfStack) {
  std::vector<std::string> sources = {
      nest("{ ", "1", " }", 250),
      nest("[", "1", "]", 250),
      nest("f(", "1", ")", 250),
      nest("(", "1", ")", 250),
      nest("if c { ", "1", " }", 120),
      nest("fn { ", "1", " }", 120),
      nest("loop { ", "break;", " }", 120),
      nest("-", "x", "", 250),
      nest("(a: ", "1", ")", 250),
  };
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1 << 20);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, compile_nested, &sources), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace
}  // namespace quendal

namespace quendal {
namespace {

// Random token sequences with every annotation switched on: each call ends
// with a result, never an internal failure.
TEST(EmitterRobustness, RandomTokenSequencesWithTagsOn) {
  static const char* const kVocabulary[] = {
      "let", "mut",  "const", "fn",    "mod",      "pub",      "if",     "else", "while", "loop", "for",
      "in",  "not",  "match", "case",  "break",    "continue", "return", "is",   "and",   "or",   "global",
      "_",   "type", "true",  "nil",   "nan",      "inf",      "try",    "use",  "(",     ")",    "[",
      "]",   "{",    "}",     ",",     ";",        ":",        "?",      "?:",   "::",    ".",    "..",
      "..<", "+",    "-",     "*",     "^",        "!",        "&&",     "||",   "??",    "=",    "==",
      "<",   ">=",   "+=",    "??=",   "&&=",      "x",        "y",      "f",    "it",    "null", "@c",
      "0",   "1",    "2.5",   "\"s\"", "'t $x u'", "\"${x}\"", "`q`",    "1e999"};
  CompileConfig config;
  config.report_tags = true;
  std::uint64_t state = 88172645463325252ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  constexpr std::size_t kCount = sizeof(kVocabulary) / sizeof(kVocabulary[0]);
  for (int round = 0; round < 4000; ++round) {
    std::string source;
    const int length = 1 + static_cast<int>(next() % 40);
    for (int i = 0; i < length; ++i) {
      source += kVocabulary[next() % kCount];
      source += ' ';
    }
    const CompileResult result = compile(source, config);
    EXPECT_EQ(result.diagnostics.size() % 5, 0u) << source;
  }
}

}  // namespace
}  // namespace quendal
