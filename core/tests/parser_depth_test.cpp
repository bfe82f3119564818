// Deep nesting: the parser bounds its recursion, so pathological nesting ends
// in a cut instead of a stack overflow, while realistic depths parse. Each
// case also runs on a thread with a 1 MiB stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "parse_helper.h"
#include "small_stack.h"

namespace quendal {
namespace {

using testing::ParsedSource;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

using testing::on_small_stack;

struct NestingCase {
  const char* name;
  const char* open;   // repeated before the core
  const char* core;   // the innermost text
  const char* close;  // repeated after the core
  const char* prefix = "";
  const char* suffix = "";
  const char* node_open = "";   // dump of one level, before the inner dump
  const char* node_close = "";  // after it
  const char* tree_prefix = "(script => ";
  const char* tree_suffix = ")";
};

std::ostream& operator<<(std::ostream& os, const NestingCase& c) { return os << c.name; }

const NestingCase kCases[] = {
    {"paren", "(", "x", ")", "", "", "(group ", ")"},
    {"bracket", "[", "x", "]", "", "", "(array ", ")"},
    {"brace", "{", "x", "}", "", "", "(block => ", ")"},
    {"minus", "-", "x", "", "", "", "(- ", ")"},
    {"array_pattern", "[", "a", "]", "let ", " = x;", "(array ", ")", "(script (let ", " x))"},
    {"group_pattern", "(", "a", ")", "let ", " = x;", "(group ", ")", "(script (let ", " x))"},
    {"if_condition", "if ", "x", " {}", "", "", "(if ", " (block))"},
};

class Nesting : public ::testing::TestWithParam<NestingCase> {};

void expect_cut_on_a_million(const NestingCase& c) {
  const std::string source = c.prefix + repeat(c.open, 1'000'000);
  ParsedSource parsed(source);
  EXPECT_TRUE(parsed.outcome.cut);
  EXPECT_EQ(parsed.outcome.error_end, source.size());
  EXPECT_LE(parsed.outcome.error_start, parsed.outcome.error_end);
}

void expect_two_hundred_levels(const NestingCase& c) {
  const std::string source = c.prefix + repeat(c.open, 200) + c.core + repeat(c.close, 200) + c.suffix;
  ParsedSource parsed(source);
  ASSERT_FALSE(parsed.outcome.cut);
  const std::string expected =
      c.tree_prefix + repeat(c.node_open, 200) + c.core + repeat(c.node_close, 200) + c.tree_suffix;
  EXPECT_EQ(parsed.tree(), expected);
  EXPECT_EQ(parsed.diagnostics(), "");
}

TEST_P(Nesting, MillionOpenersCut) { expect_cut_on_a_million(GetParam()); }
TEST_P(Nesting, TwoHundredLevelsParse) { expect_two_hundred_levels(GetParam()); }
TEST_P(Nesting, MillionOpenersCutOnSmallStack) {
  on_small_stack([&] { expect_cut_on_a_million(GetParam()); });
}
TEST_P(Nesting, TwoHundredLevelsParseOnSmallStack) {
  on_small_stack([&] { expect_two_hundred_levels(GetParam()); });
}

INSTANTIATE_TEST_SUITE_P(Parser, Nesting, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<NestingCase>& info) { return info.param.name; });

TEST(NestingMixed, UnclosedMixOfOpenersCuts) {
  const std::string source = repeat("([{-", 300'000);
  ParsedSource parsed(source);
  EXPECT_TRUE(parsed.outcome.cut);
  EXPECT_EQ(parsed.outcome.error_end, source.size());
}

}  // namespace
}  // namespace quendal
