// The count of Unknown tokens and nodes decides whether a compilation walks
// its tree for stored diagnostics: a clean script must make none (not even
// in readings the parser abandons), and a script with a missing part must
// count one and still report it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/compile_config.h"
#include "lexer/lex.h"
#include "lexer/token.h"
#include "parser/parse_script.h"
#include "quendal/compile.h"
#include "support/arena.h"

namespace quendal {
namespace {

std::uint64_t unknowns_made_by_parse(std::string_view source) {
  Arena arena;
  CompileConfig config;
  LexResult lexed = lex(source, config, arena);
  EXPECT_TRUE(lexed.ok);
  const std::uint64_t before = arena.unknowns_made();
  ParseOutcome parsed = parse_script(lexed.tokens, arena);
  EXPECT_FALSE(parsed.cut);
  return arena.unknowns_made() - before;
}

std::vector<std::uint32_t> codes_of(std::string_view source) {
  CompileResult result = compile(source, CompileConfig{});
  std::vector<std::uint32_t> codes;
  for (std::size_t i = 4; i < result.diagnostics.size(); i += 5) codes.push_back(result.diagnostics[i]);
  return codes;
}

class CleanScript : public ::testing::TestWithParam<const char*> {};

TEST_P(CleanScript, MakesNoUnknowns) { EXPECT_EQ(unknowns_made_by_parse(GetParam()), 0u) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(UnknownCount, CleanScript,
                         ::testing::Values("let x = 1;", "x = 2;", "let mut b = 2;\nb += 3;\nb",
                                           "fn f(a) { let mut b = a + 1; b = b * 2; return b; }\nf(3);",
                                           "let r = (a: 1, b: [1, 2]);\nr.a = 4;\n",
                                           "while x < 3 { x = x + 1; }\nfor i in 0..3 { print(i); }\n"));

struct Broken {
  const char* source;
  DiagnosticCode expected;
};

class BrokenScript : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenScript, CountsUnknownsAndReportsThem) {
  const Broken& c = GetParam();
  EXPECT_GT(unknowns_made_by_parse(c.source), 0u) << c.source;
  const std::vector<std::uint32_t> codes = codes_of(c.source);
  EXPECT_NE(std::find(codes.begin(), codes.end(), to_number(c.expected)), codes.end()) << c.source;
}

INSTANTIATE_TEST_SUITE_P(UnknownCount, BrokenScript,
                         ::testing::Values(Broken{"let x = 1\nlet y = 2;", DiagnosticCode::MissingSemicolon},
                                           Broken{"x = [1, , 2];", DiagnosticCode::ExpressionExpected},
                                           Broken{"let x = 1; )", DiagnosticCode::UnmatchedCloseParen}));

}  // namespace
}  // namespace quendal
