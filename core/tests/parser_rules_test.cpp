// Parser infrastructure: rule outcomes and cursor handling, inserted and
// rewritten tokens, the script loop and its cut report, interpolation
// cursors, the nesting limit (also on a 1 MiB stack) and the amount of work
// done on inputs built to make a backtracking parser re-read nested
// constructs.
#include <gtest/gtest.h>

#include <pthread.h>
#include <optional>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "parse_helper.h"
#include "parser/parser.h"
#include "small_stack.h"

namespace quendal {
namespace {

using testing::diagnostics_match;
using testing::ParsedSource;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

std::string nest(std::string_view open, std::string_view core, std::string_view close, std::size_t n) {
  return repeat(open, n) + std::string(core) + repeat(close, n);
}

// Lexed, recovered tokens and a parse context of our own, so rules can be
// called one at a time and the work of a whole parse can be read back.
struct Fixture {
  explicit Fixture(std::string_view text) : source(text), collector(source, config), context(arena) {
    context.measure = true;
    LexResult lexed = lex(source, config, arena, &collector);
    tokens = std::move(lexed.tokens);
    using_tokens.emplace(tokens, arena);
  }
  Parser parser(bool top_level = true) { return Parser(tokens, tokens.list(), context, top_level); }

  std::string source;
  CompileConfig config;
  Arena arena;
  DiagnosticsCollector collector;
  Tokens tokens;
  ParseContext context;
  std::optional<UsingTokens> using_tokens;
};

std::vector<SourceDiagnostic> collected(TokenRef token, const std::string& source) {
  CompileConfig config;
  DiagnosticsCollector collector(source, config);
  token.collect_diagnostics(collector);
  return collector.diagnostics();
}

// ------------------------------------------------------------ single tokens

TEST(ParserHelpers, TokenMatchesOnlyItsOperatorAndBorrows) {
  Fixture f("( )");
  Parser p = f.parser();
  EXPECT_TRUE(p.token(Operator::CloseParen).backtracked());
  EXPECT_EQ(p.position(), 0u);
  auto open = p.token(Operator::OpenParen);
  ASSERT_TRUE(open.ok());
  EXPECT_FALSE(open->is_owned());
  EXPECT_EQ(open->index(), 0u);
  EXPECT_EQ(p.position(), 1u);
}

TEST(ParserHelpers, TokenOrInsertMakesAZeroWidthOwnedTokenAfterThePreviousToken) {
  Fixture f("let x  1");
  Parser p = f.parser();
  p.restore(2);
  TokenRef eq = p.token_or_insert(Operator::Eq, DiagnosticCode::MissingBindOperator);
  EXPECT_EQ(p.position(), 2u);
  ASSERT_TRUE(eq.is_owned());
  EXPECT_EQ(eq.range(), (SourceRange{5, 5}));
  ASSERT_EQ(eq->kind.tag, TokenTag::Unknown);
  EXPECT_TRUE(eq->kind.unknown_box->inner.is_operator(Operator::Eq));
  EXPECT_EQ(collected(eq, f.source),
            (std::vector<SourceDiagnostic>{{5, 5, DiagnosticCode::MissingBindOperator}}));
  EXPECT_TRUE(eq->kind.is_operator(Operator::Eq));  // unwrapped by the walk
}

TEST(ParserHelpers, PlaceholderPosition) {
  Fixture f("  ab cd");
  Parser p = f.parser();
  EXPECT_EQ(p.placeholder_position(), 2u);  // first token: its start
  p.restore(1);
  EXPECT_EQ(p.placeholder_position(), 4u);  // else the end of the token before
  p.restore(3);
  EXPECT_EQ(p.placeholder_position(), 7u);
  Parser empty(f.tokens, TokenRange{}, f.context, false);
  EXPECT_EQ(empty.placeholder_position(), 0u);
}

struct VariableCase {
  const char* source;
  bool allow_underscore;
  bool allow_global;
  bool ok;
  bool owned;
  DiagnosticCode code;  // when owned
  bool becomes_underscore;
};

TEST(ParserHelpers, VariableTokenKeepsRewritesOrRejects) {
  const VariableCase cases[] = {
      {"x", false, false, true, false, DiagnosticCode::InternalError, false},
      {"_", true, false, true, false, DiagnosticCode::InternalError, false},
      {"_", false, true, true, true, DiagnosticCode::UnexpectedUnderscore, false},
      {"global", false, true, true, false, DiagnosticCode::InternalError, false},
      {"global", true, false, true, true, DiagnosticCode::UnexpectedGlobal, false},
      {"use", true, true, true, true, DiagnosticCode::InvalidReservedKeyword, true},
      {"resume", false, false, true, true, DiagnosticCode::InvalidReservedKeyword, true},
      {"if", true, true, false, false, DiagnosticCode::InternalError, false},
      {"mut", true, true, false, false, DiagnosticCode::InternalError, false},
      {"1", true, true, false, false, DiagnosticCode::InternalError, false},
  };
  for (const VariableCase& c : cases) {
    SCOPED_TRACE(c.source);
    Fixture f(c.source);
    const Token original = f.tokens.get(0);
    Parser p = f.parser();
    auto name = p.variable_token(c.allow_underscore, c.allow_global);
    ASSERT_EQ(name.ok(), c.ok);
    EXPECT_EQ(p.position(), c.ok ? 1u : 0u);
    // The token list itself is never rewritten.
    EXPECT_EQ(f.tokens.get(0).kind.tag, original.kind.tag);
    if (!c.ok) continue;
    ASSERT_EQ(name->is_owned(), c.owned);
    EXPECT_EQ(name->range(), (SourceRange{original.start, original.end}));
    if (!c.owned) continue;
    EXPECT_EQ(collected(*name, f.source),
              (std::vector<SourceDiagnostic>{{original.start, original.end, c.code}}));
    if (c.becomes_underscore) {
      EXPECT_TRUE((*name)->kind.is_keyword(Keyword::Underscore));
    }
  }
}

TEST(ParserHelpers, UnknownRunsStopAtTheirStopTokens) {
  {
    Fixture f("else 1 , x += 2");
    Parser p = f.parser();
    auto run = p.unknown_expression();
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(p.position(), 4u);  // a comma does not stop an expression run; `+=` does
    EXPECT_EQ(range_of(**run), (SourceRange{0, 10}));
    EXPECT_TRUE(p.unknown_expression().backtracked());
  }
  {
    Fixture f("+ x += 2 , y");
    Parser p = f.parser();
    auto run = p.unknown_pattern();
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(p.position(), 4u);  // `+=` does not stop a pattern run; `,` does
    EXPECT_TRUE(p.unknown_pattern().backtracked());
    // A start inside the run just scanned stops at the same place.
    p.restore(1);
    ASSERT_TRUE(p.unknown_pattern().ok());
    EXPECT_EQ(p.position(), 4u);
  }
}

TEST(ParserHelpers, AnUnknownRunOfTheNextListIsNotTakenAtTheEndOfThisOne) {
  // Lists lie side by side in the store: the end of one is where the next
  // begins, and a run scanned there must not serve the list that ended.
  Fixture f("x y & z");
  const TokenRange first{0, 2}, second{2, f.tokens.list().end};
  Parser next(f.tokens, second, f.context, false);
  ASSERT_TRUE(next.unknown_pattern().ok());  // the run `& z`, cached
  Parser ended(f.tokens, first, f.context, false);
  ended.restore(2);
  EXPECT_TRUE(ended.unknown_pattern().backtracked());
  EXPECT_EQ(ended.position(), 2u);
}

TEST(ParserHelpers, FailedExpressionLeavesTheCursorForTheCallerAndFallsBackToAnUnknownRun) {
  Fixture f("a + ;");
  Parser p = f.parser();
  EXPECT_TRUE(p.basic_expression().backtracked());
  p.restore(0);
  auto e = p.expression();
  ASSERT_TRUE(e.ok());
  EXPECT_EQ((*e)->kind, ExpressionKind::Unknown);
  EXPECT_EQ(p.position(), 2u);
}

TEST(ParserHelpers, ExpressionOrInsertOnlyBeforeTheFollowSet) {
  {
    Fixture f("{\"a\": }");
    Parser p = f.parser();
    p.restore(3);
    auto value = p.expression_or_insert({Operator::Comma, Operator::CloseBrace});
    ASSERT_TRUE(value.ok());
    EXPECT_EQ(range_of(**value), (SourceRange{5, 5}));
    EXPECT_EQ(p.position(), 3u);
  }
  {
    Fixture f("x = )");
    Parser p = f.parser();
    p.restore(2);
    EXPECT_TRUE(p.expression_or_insert({Operator::Semicolon}).backtracked());
  }
}

// -------------------------------------------------------------- script loop

struct ScriptCase {
  const char* source;
  const char* tree;
  const char* diagnostics;
};

TEST(ScriptLoop, TreesAndDiagnostics) {
  const ScriptCase cases[] = {
      {"", "(script)", ""},
      {") ] }", "(script (unknown@0..1 )) (unknown@2..3 ]) (unknown@4..5 }))",
       "UnmatchedCloseParen@0..1 UnmatchedCloseBracket@2..3 UnmatchedCloseBrace@4..5"},
      {"a b", "(script (expr a <;@1>) => b)", "MissingSemicolon@1"},
      {"let ; x", "(script (unknown@0..3 let) (empty) => x)", "UnexpectedToken@0..3"},
      {"for x y {}", "(script (unknown@0..3 for) (expr x <;@5>) (expr y <;@7>) => (block))",
       "UnexpectedToken@0..3 MissingSemicolon@5 MissingSemicolon@7"},
      {"if a {} if b {}", "(script (bare (if a (block))) => (if b (block)))", ""},
      {"case 1", "(script => (unknown@0..6 case 1))", "UnknownExpression@0..6"},
      // The rebinding alternative comes first, and an unknown pattern run
      // stops only at `=`.
      {"pub x = 1;", "(script (rebind (unknown@0..5 pub x) 1))", "UnknownPattern@0..5"},
  };
  for (const ScriptCase& c : cases) {
    ParsedSource parsed(c.source);
    ASSERT_FALSE(parsed.outcome.cut) << c.source;
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    EXPECT_TRUE(diagnostics_match(c.diagnostics, parsed.diagnostics()))
        << c.source << "\n  expected: " << c.diagnostics << "\n  actual:   " << parsed.diagnostics();
  }
}

TEST(ScriptLoop, EofIsBorrowedWhenPresentAndSyntheticOtherwise) {
  Fixture f("x");
  {
    ParseOutcome outcome = parse_script(f.tokens, f.arena);
    ASSERT_NE(outcome.script, nullptr);
    EXPECT_FALSE(outcome.script->eof.is_owned());
    EXPECT_EQ(outcome.script->eof.index(), f.tokens.list().end - 1);
  }
  // Without its Eof token the loop stops when the tokens run out.
  const TokenRange no_eof{f.tokens.list().begin, f.tokens.list().end - 1};
  ParseOutcome outcome = parse_script(f.tokens, no_eof, f.arena);
  ASSERT_NE(outcome.script, nullptr);
  ASSERT_NE(outcome.script->expression, nullptr);
  EXPECT_EQ(outcome.script->expression->kind, ExpressionKind::Variable);
  TokenRef eof = outcome.script->eof;
  ASSERT_TRUE(eof.is_owned());
  EXPECT_EQ(eof.range(), (SourceRange{0, 0}));
  EXPECT_EQ(collected(eof, f.source),
            (std::vector<SourceDiagnostic>{{0, 0, DiagnosticCode::UnexpectedToken}}));
  EXPECT_TRUE(eof->kind.is_eof());

  ParseOutcome empty = parse_script(f.tokens, TokenRange{}, f.arena);
  ASSERT_NE(empty.script, nullptr);
  EXPECT_TRUE(empty.script->statements.empty());
  EXPECT_EQ(empty.script->expression, nullptr);
  EXPECT_TRUE(empty.script->eof.is_owned());
}

TEST(ScriptLoop, CutReportsFromTheTokenWhereParsingStoppedToTheEnd) {
  {
    // The opener after the limit is one level too deep.
    const std::string source = "x; " + repeat("(", kMaxNestingDepth + 50) + "tail";
    ParsedSource parsed(source);
    ASSERT_TRUE(parsed.outcome.cut);
    EXPECT_EQ(parsed.outcome.error_start, 3u + kMaxNestingDepth);
    EXPECT_EQ(parsed.outcome.error_end, source.size());
  }
  {
    // A cut inside an interpolation is reported from the string token.
    const std::string source = "x; y + \"$(" + nest("(", "a", ")", kMaxNestingDepth + 50) + ")\" + z";
    ParsedSource parsed(source);
    ASSERT_TRUE(parsed.outcome.cut);
    EXPECT_EQ(parsed.outcome.error_start, 7u);
    EXPECT_EQ(parsed.outcome.error_end, source.size());
  }
}

// ---------------------------------------------------------- interpolations

TEST(Interpolation, PartsAreParsedOnTheirOwnCursor) {
  ParsedSource parsed("\"$(a) $(b c)\" + e");
  ASSERT_FALSE(parsed.outcome.cut);
  const Expression* value = parsed.script().expression;
  ASSERT_NE(value, nullptr);
  // The part `a` does not swallow the `+ e` that follows the string.
  ASSERT_EQ(value->kind, ExpressionKind::Binary);
  const Expression* left = value->as<BinaryExpression>().left;
  ASSERT_EQ(left->kind, ExpressionKind::Interpolation);
  const auto& interpolation = left->as<InterpolationExpression>();
  ASSERT_EQ(interpolation.parts.size(), 2u);
  EXPECT_EQ(interpolation.parts[0]->kind, ExpressionKind::Variable);
  EXPECT_EQ(interpolation.parts[1]->kind, ExpressionKind::Variable);  // the wrapper is gone after the walk
  EXPECT_EQ(interpolation.token, TokenRef::borrowed(0));
  EXPECT_EQ(parsed.diagnostics(), "BadInterpolation@10..11");
}

// ------------------------------------------------------------ nesting limit

using testing::on_stack;

struct DeepCase {
  const char* name;
  std::function<std::string(std::size_t)> build;  // n levels of the construct
  bool lexer_limited = false;                     // the lexer refuses deeper nesting first
  bool flat = false;                              // a chain: any length parses
};

std::string chain(std::string_view first, std::string_view link, std::size_t n) {
  return std::string(first) + repeat(link, n);
}

const DeepCase kDeepCases[] = {
    {"parens", [](std::size_t n) { return nest("(", "x", ")", n); }},
    {"brackets", [](std::size_t n) { return nest("[", "x", "]", n); }},
    {"blocks", [](std::size_t n) { return nest("{", "x", "}", n); }},
    {"prefix", [](std::size_t n) { return chain("", "- ", n) + "x"; }},
    {"not", [](std::size_t n) { return chain("", "not ", n) + "x"; }},
    {"power", [](std::size_t n) { return chain("a", " ^ a", n); }},
    {"sum", [](std::size_t n) { return chain("a", " + a", n); }, false, true},
    {"logical_or", [](std::size_t n) { return chain("a", " or a", n); }, false, true},
    {"comparisons", [](std::size_t n) { return chain("a", " < a", n); }, false, true},
    {"fields", [](std::size_t n) { return chain("a", ".b", n); }, false, true},
    {"call_chain", [](std::size_t n) { return chain("f", "(x)", n); }, false, true},
    {"index_chain", [](std::size_t n) { return chain("a", "[x]", n); }, false, true},
    {"mixed_postfix", [](std::size_t n) { return chain("a", ".b(x)[y]!", n); }, false, true},
    {"extension_chain", [](std::size_t n) { return chain("a", "::f(x)", n); }, false, true},
    {"calls", [](std::size_t n) { return nest("f(", "x", ")", n); }},
    {"indexes", [](std::size_t n) { return nest("a[", "x", "]", n); }},
    {"conditionals", [](std::size_t n) { return chain("a", " ? b : a", n); }},
    {"if_statements", [](std::size_t n) { return nest("if a { ", "x", " }", n); }},
    {"if_conditions", [](std::size_t n) { return repeat("if ", n) + "x" + repeat(" {}", n); }},
    {"else_if", [](std::size_t n) { return "if a {}" + repeat(" else if a {}", n); }, false, true},
    {"while_else_if", [](std::size_t n) { return "while a {} else if a {}" + repeat(" else if a {}", n); },
     false, true},
    {"while", [](std::size_t n) { return nest("while a { ", "x;", " }", n); }},
    {"match", [](std::size_t n) { return nest("match a { case 1 { ", "x", " } }", n); }},
    {"functions", [](std::size_t n) { return nest("fn() { ", "x", " }", n); }},
    {"json", [](std::size_t n) { return nest("{\"a\": ", "1", "}", n); }},
    {"records", [](std::size_t n) { return nest("(a: ", "1", ")", n); }},
    {"group_block", [](std::size_t n) { return nest("({", "x", "})", n / 2); }},
    {"binary_groups", [](std::size_t n) { return nest("a + (", "x", ")", n); }},
    {"extension", [](std::size_t n) { return nest("a::f(", "x", ")", n); }},
    {"array_patterns", [](std::size_t n) { return "let " + nest("[", "a", "]", n) + " = x;"; }},
    {"record_patterns", [](std::size_t n) { return "let " + nest("(", "a", ",)", n) + " = x;"; }},
    {"not_patterns", [](std::size_t n) { return "x is " + repeat("not ", n) + "a"; }},
    {"or_patterns", [](std::size_t n) { return "x is a" + repeat(" or a", n); }, false, true},
    {"and_patterns", [](std::size_t n) { return "x is > 1" + repeat(" and < 2", n); }, false, true},
    {"case_alternatives", [](std::size_t n) { return "match x { case 0" + repeat(" or 1", n) + " { y } }"; },
     false, true},
    {"interpolations", [](std::size_t n) { return nest("\"$(", "x", ")\"", n); }, true},
};

class Deep : public ::testing::TestWithParam<DeepCase> {};

// Parses, walks the diagnostics and computes every top-level range, as the
// pipeline does after parsing.
ParseOutcome parse_and_walk(const std::string& source) {
  ParsedSource parsed(source);
  if (!parsed.outcome.cut) {
    for (const Statement* s : parsed.script().statements) (void)range_of(*s);
    if (parsed.script().expression != nullptr) (void)range_of(*parsed.script().expression);
  }
  return parsed.outcome;
}

TEST_P(Deep, TwoHundredLevelsParseAndOverTheLimitCuts) {
  on_stack(1u << 20, [] {
    const DeepCase& c = GetParam();
    EXPECT_FALSE(parse_and_walk(c.build(200)).cut);
    if (!c.lexer_limited) {
      EXPECT_EQ(parse_and_walk(c.build(kMaxNestingDepth + 50)).cut, !c.flat);
    }
  });
}

// Nesting a hundred thousand deep cuts; a chain that long is flat and parses,
// and its ranges and diagnostics are walked, on a 1 MiB stack.
TEST_P(Deep, HundredThousandLevelsOnASmallStack) {
  if (GetParam().lexer_limited) GTEST_SKIP() << "the lexer stops first";
  on_stack(1u << 20, [] {
    const DeepCase& c = GetParam();
    EXPECT_EQ(parse_and_walk(c.build(100'000)).cut, !c.flat);
  });
}

INSTANTIATE_TEST_SUITE_P(Parser, Deep, ::testing::ValuesIn(kDeepCases),
                         [](const ::testing::TestParamInfo<DeepCase>& info) { return info.param.name; });

// Stack used per nesting level, measured between the first level and the
// deepest one the parser entered.
TEST(DeepStack, TheLimitFitsInOneMebibyte) {
  if (testing::kStackScale > 1) GTEST_SKIP() << "AddressSanitizer enlarges every frame";
  std::size_t worst = 0;
  for (const DeepCase& c : kDeepCases) {
    if (c.flat) continue;
    Fixture f(c.build(c.lexer_limited ? 250 : kMaxNestingDepth + 100));
    Parser p = f.parser();
    const auto top = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    StatementList statements;
    (void)p.statements(statements);
    (void)p.expression();
    ASSERT_GT(f.context.deepest, c.lexer_limited ? 200 : kMaxNestingDepth - 10) << c.name;
    const std::size_t used = top - f.context.stack_low;
    const std::size_t per_level = used / static_cast<std::size_t>(f.context.deepest);
    std::printf("%-16s %3d levels %7zu bytes, %4zu per level\n", c.name, f.context.deepest, used, per_level);
    worst = std::max(worst, per_level * kMaxNestingDepth);
  }
  EXPECT_LT(worst, 768u * 1024u);
}

// ---------------------------------------------------------- work is linear

std::uint64_t work(const std::string& source, bool* cut = nullptr) {
  Fixture f(source);
  ParseOutcome outcome = parse_tokens(f.tokens, f.tokens.list(), f.context);
  if (cut != nullptr) *cut = outcome.cut;
  return f.context.levels_entered + f.context.tokens_scanned;
}

struct WorkCase {
  const char* name;
  std::function<std::string(std::size_t)> build;
  std::size_t n;  // size of the smaller input; the larger one doubles it
  // Postfix chains that end in a failing operator are rebuilt over each
  // enclosing operand: work grows with size times nesting depth, which the
  // nesting limit bounds.
  bool depth_bound = false;
};

const WorkCase kWorkCases[] = {
    // each level fails after a nested group, which is then read again
    {"failing_sums", [](std::size_t n) { return nest("a+(", "x", ")+", n); }, 100, true},
    // three readings of every index bracket, none closed
    {"open_indexes", [](std::size_t n) { return "a" + repeat("[b", n); }, 100},
    // JSON-style records whose last value fails, read again as blocks
    {"failing_json", [](std::size_t n) { return repeat("{\"a\": ", n) + "1" + repeat(", \"b\": let}", n); },
     100},
    // nested if constructs that fail at the innermost body
    {"failing_ifs", [](std::size_t n) { return repeat("if ", n) + "x {\"a\": 1}"; }, 100},
    {"failing_else_if",
     [](std::size_t n) { return "if a {}" + repeat(" else if b {}", n) + " else {\"a\": 1}"; }, 100},
    {"failing_interpolations",
     [](std::size_t n) {
       std::string s = "x";
       for (std::size_t i = 0; i < n; ++i) s = "\"$(a + " + s + " +)\"";
       return s;
     },
     100},
    // statements whose rebinding attempt would read a long unknown pattern
    {"unknown_pattern_runs", [](std::size_t n) { return repeat("-a b ", n); }, 5000},
    {"compound_assignments", [](std::size_t n) { return "a" + repeat(" += a", n); }, 5000},
    {"statements_in_groups", [](std::size_t n) { return nest("(a, {", "x", "})", n / 2); }, 100},
    {"failing_match_guards", [](std::size_t n) { return repeat("match x { case 1 if ", n) + "y {\"a\": 1}"; },
     100},
    {"pattern_groups", [](std::size_t n) { return nest("(a, ", "b", ") + ", n) + ")"; }, 100, true},
    {"repeated_failing_sums", [](std::size_t n) { return repeat(nest("a+(", "x", ")+", 20) + ";", n); }, 100},
    // plain groups (kept out of the memo table) nested in records and in
    // groups, read again by the record after each group and by the
    // statement's assignment and rebinding readings (small: were the
    // records not memoized either, the work would double with each level)
    {"groups_in_records", [](std::size_t n) { return "let v = " + nest("((", "x", "), a)", n) + ";"; }, 12},
    {"groups_in_records_assigned", [](std::size_t n) { return nest("((", "x", "), a)", n) + " = 1;"; }, 12},
    {"groups_in_records_unclosed", [](std::size_t n) { return nest("((", "x", "), a", n) + ";"; }, 6},
    {"groups_in_for_patterns",
     [](std::size_t n) { return "for " + nest("((", "x", "), a)", n) + " in y {}"; }, 12},
};

class Work : public ::testing::TestWithParam<WorkCase> {};

TEST_P(Work, GrowsLinearly) {
  const WorkCase& c = GetParam();
  const std::string small = c.build(c.n);
  const std::string large = c.build(2 * c.n);
  bool cut = true;
  const std::uint64_t small_work = work(small, &cut);
  EXPECT_FALSE(cut);
  const std::uint64_t large_work = work(large);
  if (c.depth_bound) {
    EXPECT_LE(large_work, large.size() * kMaxNestingDepth) << large_work;
    return;
  }
  EXPECT_LE(small_work, 40 * small.size()) << small_work;
  EXPECT_LE(large_work, 40 * large.size()) << large_work;
  EXPECT_LE(large_work, 3 * small_work) << small_work << " -> " << large_work;
}

INSTANTIATE_TEST_SUITE_P(Parser, Work, ::testing::ValuesIn(kWorkCases),
                         [](const ::testing::TestParamInfo<WorkCase>& info) { return info.param.name; });

// ------------------------------------------------------------ any input

// Random token soups: every parse ends in a tree or a cut, and the tree can
// be walked.
TEST(AnyInput, RandomTokenSoupsParseOrCut) {
  static const char* const kPieces[] = {
      "(",      ")",      "[",       "]",          "{",      "}",
      ",",      ";",      ":",       "?:",         "::",     "..",
      "..<",    "?",      "!",       "=",          "+=",     "??=",
      "+",      "-",      "*",       "^",          "==",     "<",
      "is",     "not",    "in",      "not in",     "and",    "or",
      "if",     "else",   "match",   "case",       "for",    "while",
      "loop",   "fn",     "let",     "const",      "mut",    "pub",
      "mod",    "return", "break",   "continue",   "type",   "_",
      "global", "use",    "x",       "@c",         "1",      "2.5",
      "nil",    "true",   "'s'",     "\"a$(x)b\"", "\"$(\"", "'${ {\"k\": 1} }'",
      "$",      "~",      "\"$()\"", "\"$(a b)\""};
  constexpr std::size_t kCount = sizeof(kPieces) / sizeof(kPieces[0]);
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::size_t cuts = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string source;
    const std::size_t length = next() % 40;
    for (std::size_t i = 0; i < length; ++i) {
      source += kPieces[next() % kCount];
      source += ' ';
    }
    ParseOutcome outcome = parse_and_walk(source);
    if (outcome.cut) {
      ++cuts;
      EXPECT_LE(outcome.error_start, outcome.error_end) << source;
    }
  }
  EXPECT_EQ(cuts, 0u);  // nothing here nests deep enough to cut
}

// ------------------------------------------------- quiet statements

TEST(PrePassMarks, RangeQueriesSeeExactlyTheMarkedTokens) {
  Arena arena;
  ParseContext context(arena);
  EXPECT_FALSE(context.any_pre_pass_mark(0, 1000));
  for (const TokenIndex at : {0u, 63u, 64u, 130u, 1000u}) context.mark_pre_pass(at);
  struct Case {
    TokenIndex begin, end;
    bool any;
  };
  for (const Case& c : std::initializer_list<Case>{{0, 1, true},
                                                   {1, 63, false},
                                                   {1, 64, true},
                                                   {63, 64, true},
                                                   {65, 130, false},
                                                   {65, 131, true},
                                                   {131, 1000, false},
                                                   {131, 1001, true},
                                                   {1001, 5000, false},
                                                   {64, 64, false}})
    EXPECT_EQ(context.any_pre_pass_mark(c.begin, c.end), c.any) << c.begin << ".." << c.end;
}

// The short path for number operands agrees with the rule: arithmetic and
// comparisons take numbers, logical operators do not.
TEST(PrePassMarks, NumberOperandTableFollowsTheRule) {
  const bool* quiet = number_operand_quiet_table();
  EXPECT_TRUE(quiet[static_cast<int>(Operator::Plus)]);
  EXPECT_TRUE(quiet[static_cast<int>(Operator::Percent)]);
  EXPECT_TRUE(quiet[static_cast<int>(Operator::Lt)]);
  EXPECT_FALSE(quiet[static_cast<int>(Operator::AndAnd)]);
  EXPECT_FALSE(quiet[static_cast<int>(Operator::OrOr)]);
}

// Which statements the parser marks quiet: only those holding no form the
// declaration pre-pass reports or declares.
TEST(PrePassMarks, StatementsWithoutWarnedFormsAreQuiet) {
  struct Case {
    const char* source;
    bool quiet;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"let v = (a - b);", true},
           {"let v = a + 1 * -2;", true},
           {"x = (k: 1, w: (a % 3));", true},
           {"return \"s$(a) $(b:d)\";", true},
           {"f(a, b)[0].c;", true},
           {"let v = (a);", false},
           {"let v = a + \"s\";", false},
           {"let v = -\"s\";", false},
           {"let v = x in 3;", false},
           {"let v = \"a\"();", false},
           {"let v = \"s\"[0];", false},
           {"let v = \"s\".y;", false},
           {"let v = 1\"s\";", false},
           {"let v = r::(\"a\")();", false},
           {"let v = x is [a];", false},
           {"let v = \"s$((a))\";", false},
           {"let v = \"s$(\"t$(1 + nil)\")\";", false},
       }) {
    ParsedSource parsed(c.source);
    ASSERT_FALSE(parsed.outcome.cut) << c.source;
    ASSERT_EQ(parsed.script().statements.size(), 1u) << c.source;
    EXPECT_EQ(parsed.script().statements[0]->pre_pass_quiet, c.quiet) << c.source;
  }
}

}  // namespace
}  // namespace quendal
