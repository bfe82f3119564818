// Tags and tag references of whole compilations (report_tags on), as one
// readable line per record: the tag of every kind of variable followed by
// its references when its scope closes, in declaration order, and the tags
// of calls, records, loops, conditionals, matches and patterns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostic/diagnostic_code.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using Lines = std::vector<std::string>;

// "Name text" for every record whose code passes `keep`; the sources are one
// ASCII line, so a column is a byte offset plus one.
// With `at`, each line ends with " @offset" (of the record's start).
template <class Keep>
Lines records(std::string_view source, Keep keep, bool at = false) {
  CompileConfig config;
  config.report_tags = true;
  const CompileResult result = compile(source, config);
  Lines out;
  const auto& d = result.diagnostics;
  for (std::size_t i = 0; i + 5 <= d.size(); i += 5) {
    EXPECT_EQ(d[i], 1u);
    EXPECT_EQ(d[i + 2], 1u);
    const auto code = static_cast<std::uint16_t>(d[i + 4]);
    if (!keep(code)) continue;
    const std::size_t start = d[i + 1] - 1;
    const std::size_t end = d[i + 3] - 1;
    const auto name = diagnostic_code_from_number(code);
    out.push_back(std::string(name ? diagnostic_code_name(*name) : "?") + " " +
                  std::string(source.substr(start, end - start)) + (at ? " @" + std::to_string(start) : ""));
  }
  return out;
}

bool is_tag(std::uint16_t code) { return code >= 10000 && code < 12000; }

Lines tags(std::string_view source) { return records(source, is_tag); }

// Tags and hints: the unused-name hints come right after the references of
// their variable.
Lines tags_and_hints(std::string_view source) {
  return records(source, [](std::uint16_t code) { return is_tag(code) || (code >= 4000 && code < 5000); });
}

// Variable tags and their references with their offsets, and the scopes
// that close them.
Lines variables(std::string_view source) {
  const auto keep = [](std::uint16_t code) {
    return (code >= 10001 && code <= 10014) || code == 10034 || (code >= 11001 && code <= 11005);
  };
  return records(source, keep, true);
}

TEST(TagOrder, EveryKindOfVariableInDeclarationOrder) {
  EXPECT_EQ(tags_and_hints("let a = 1; let mut b = a; b = 2; const @c = 3; fn f(x, mut y, ..r) { x } "
                           "let g = fn { it }; mod m {} f(@c, g, m)"),
            (Lines{
                "Scope let a = 1; let mut b = a; b = 2; const @c = 3; fn f(x, mut y, ..r) { x } "
                "let g = fn { it }; mod m {} f(@c, g, m)",
                // the call's tags come from the pre-pass of the script's tail
                "FunctionCall f(@c, g, m)",
                "Callable f",
                "ArgumentStart (",
                "ArgumentComma ,",
                "ArgumentComma ,",
                "ArgumentEnd )",
                // f's scope closes first: parameters in order
                "Scope fn f(x, mut y, ..r) { x }",
                "ParameterImmutable x",
                "ReadLocal x",
                "ParameterMutable y",
                "UnusedLocalVariable y",
                "ParameterImmutableRest r",
                "UnusedLocalVariable r",
                // the function literal with its implicit parameter (no hint when unused)
                "Scope fn { it }",
                "ParameterIt fn { it }",
                "ReadLocal it",
                // the module body
                "Scope {}",
                // the script scope at the end: tag, then references, per variable
                "LocalImmutable a",
                "ReadLocal a",
                "LocalMutable b",
                "WriteLocal b",
                "UnusedLocalVariable b",
                "LocalConst @c",
                "ReadLocal @c",
                "LocalFunction f",
                "ReadLocal f",
                "LocalFunction g",
                "ReadLocal g",
                "LocalModule m",
                "ReadLocal m",
            }));
}

TEST(TagOrder, DestructuredParameters) {
  EXPECT_EQ(
      tags("fn h([p, mut q], ..[s]) { p + q + s } h"),
      (Lines{"Scope fn h([p, mut q], ..[s]) { p + q + s } h", "Scope fn h([p, mut q], ..[s]) { p + q + s }",
             "ParameterPattern [p, mut q]", "ParameterSubPatternImmutable p", "ReadLocal p",
             "ParameterSubPatternMutable q", "ReadLocal q", "ParameterRestPattern [s]",
             "ParameterSubPatternImmutable s", "ReadLocal s", "LocalFunction h", "ReadLocal h"}));
}

TEST(TagOrder, MatchArmsHaveScopesWithTheirPatternNames) {
  EXPECT_EQ(tags_and_hints("fn t(v) { match v { case [x] if x { x } case (k: y, :z) { y + z } } } t"),
            (Lines{"Scope fn t(v) { match v { case [x] if x { x } case (k: y, :z) { y + z } } } t",
                   "Scope fn t(v) { match v { case [x] if x { x } case (k: y, :z) { y + z } } }",
                   "MatchExpression match v { case [x] if x { x } case (k: y, :z) { y + z } }",
                   "KeywordMatch match", "KeywordCase case", "KeywordCase case",
                   // first arm: x read by the guard and by the body
                   "Scope case [x] if x { x }", "LocalImmutable x", "ReadLocal x", "ReadLocal x",
                   // second arm: the key tags, then the arm's names
                   "Scope case (k: y, :z) { y + z }", "RecordFieldIdName k", "OmitNamedRecordField :z",
                   "OmitNamedRecordFieldName z", "LocalImmutable y", "ReadLocal y", "LocalImmutable z",
                   "ReadLocal z", "ParameterImmutable v", "ReadLocal v", "LocalFunction t", "ReadLocal t"}));
}

TEST(TagOrder, PatternKeyTagsFollowTheKeyKind) {
  EXPECT_EQ(tags("let (name: a, \"quoted\": b, 0: c, :d) = r; a + b + c + d"),
            (Lines{// the string token is tagged when its token is recovered
                   "String \"quoted\"", "Scope let (name: a, \"quoted\": b, 0: c, :d) = r; a + b + c + d",
                   "GlobalVariable r", "RecordFieldIdName name", "RecordFieldStringName \"quoted\"",
                   "RecordFieldOrdinalName 0", "OmitNamedRecordField :d", "OmitNamedRecordFieldName d",
                   "LocalImmutable a", "ReadLocal a", "LocalImmutable b", "ReadLocal b", "LocalImmutable c",
                   "ReadLocal c", "LocalImmutable d", "ReadLocal d"}));
}

TEST(TagOrder, LoopsAndTheirBodies) {
  EXPECT_EQ(
      tags("for i in 1..3 { i; } while true { break; } loop { break; }"),
      (Lines{"Scope for i in 1..3 { i; } while true { break; } loop { break; }",
             "ForExpression for i in 1..3 { i; }", "KeywordFor for", "KeywordIn in", "Scope { i; }",
             "LocalImmutable i", "ReadLocal i", "WhileExpression while true { break; }", "KeywordWhile while",
             "Scope { break; }", "LoopExpression loop { break; }", "KeywordLoop loop", "Scope { break; }"}));
}

TEST(TagOrder, ConditionalsAndPatternTests) {
  EXPECT_EQ(tags("if 1 is w { w } else { 0 }"),
            (Lines{"Scope if 1 is w { w } else { 0 }", "IfExpression if 1 is w { w } else { 0 }",
                   "KeywordIf if", "KeywordElse else", "Scope if 1 is w { w } else { 0 }", "Scope { w }",
                   "Scope { 0 }", "LocalImmutable w", "ReadLocal w"}));
  EXPECT_EQ(tags("let c = 1; c ? 2 : 3"), (Lines{"Scope let c = 1; c ? 2 : 3", "IfExpression c ? 2 : 3",
                                                 "Scope c ? 2 : 3", "LocalImmutable c", "ReadLocal c"}));
}

TEST(TagOrder, RecordLiteralFields) {
  EXPECT_EQ(tags("let r = (a: 1, 2, :r); r"),
            (Lines{"Scope let r = (a: 1, 2, :r); r", "RecordFieldIdName a", "UnnamedRecordField1 2",
                   "OmitNamedRecordField :r", "OmitNamedRecordFieldName r", "LocalImmutable r", "ReadLocal r",
                   "ReadLocal r"}));
}

TEST(TagOrder, AssignmentsAndRedeclarations) {
  EXPECT_EQ(tags_and_hints("let mut a = 1; a += 2; [a] = [3]; let a = 4;"),
            (Lines{"Scope let mut a = 1; a += 2; [a] = [3]; let a = 4;", "LocalMutable a", "RedeclareLocal a",
                   "ReadWriteLocal a", "WriteLocal a", "UnusedLocalVariable a"}));
}

TEST(TagOrder, ExportedNamesCarryTheModuleName) {
  EXPECT_EQ(tags_and_hints("mod m { pub const @k = 1; const @p = 2; } m"),
            (Lines{"Scope mod m { pub const @k = 1; const @p = 2; } m",
                   "Scope { pub const @k = 1; const @p = 2; }", "LocalConst @k", "ExportedLocal m",
                   "LocalConst @p", "UnusedLocalVariable @p", "LocalModule m", "ReadLocal m"}));
}

TEST(TagOrder, NothingWhenTagsAreOff) {
  const CompileResult result = compile("let (a: x) = r; match x { case [y] { y } }", CompileConfig{});
  ASSERT_FALSE(result.diagnostics.empty());
  for (std::size_t i = 4; i < result.diagnostics.size(); i += 5)
    EXPECT_FALSE(is_tag(static_cast<std::uint16_t>(result.diagnostics[i])));
}

// The references of a variable follow its tag in the order of its uses,
// however they interleave with the uses of other variables, of inner scopes
// too, and uses made after an inner scope closed come after those made
// before it.
TEST(TagOrder, ReferencesInUseOrderAcrossNestedScopes) {
  EXPECT_EQ(
      variables("let a = 1; let mut b = a; if a { let c = b; b = c + a; c } else { b }; b += a; a + b"),
      (Lines{"Scope let a = 1; let mut b = a; if a { let c = b; b = c + a; c } else { b }; b += a; a + b @0",
             "Scope if a { let c = b; b = c + a; c } else { b } @26", "Scope { let c = b; b = c + a; c } @31",
             "LocalImmutable c @37", "ReadLocal c @48", "ReadLocal c @55", "Scope { b } @64",
             // the script's variables, with every use made inside the
             // conditional in its place
             "LocalImmutable a @4", "ReadLocal a @23", "ReadLocal a @29", "ReadLocal a @52",
             "ReadLocal a @76", "ReadLocal a @79", "LocalMutable b @19", "ReadLocal b @41",
             "WriteLocal b @44", "ReadLocal b @66", "ReadWriteLocal b @71", "ReadLocal b @83"}));
}

// A name declared again in an inner scope, and twice in one scope: every
// use goes to the variable the name resolves to there. The second
// declaration in a scope is a reference of the first, made when the block's
// names are declared, before the uses in its statements.
TEST(TagOrder, ShadowingAndRedeclaration) {
  EXPECT_EQ(
      variables("let x = 1; fn g(y) { let x = x + y; let x = 3; x }; if x { let x = g(x); x } else { x }; x"),
      (Lines{"Scope let x = 1; fn g(y) { let x = x + y; let x = 3; x }; if x { let x = g(x); x } else { x }; "
             "x @0",
             "Scope fn g(y) { let x = x + y; let x = 3; x } @11", "ParameterImmutable y @16",
             "ReadLocal y @33", "LocalImmutable x @25", "RedeclareLocal x @40", "ReadLocal x @29",
             "ReadLocal x @47", "Scope if x { let x = g(x); x } else { x } @52",
             "Scope { let x = g(x); x } @57", "LocalImmutable x @63", "ReadLocal x @69", "ReadLocal x @73",
             "Scope { x } @82",
             // the script's x: read by the condition, the else branch and the tail
             "LocalImmutable x @4", "ReadLocal x @55", "ReadLocal x @84", "ReadLocal x @89",
             "LocalFunction g @14", "ReadLocal g @67"}));
}

// One variable used between and inside many scopes that open and close:
// its references come in source order, each inner variable's right after
// its tag when its scope closes.
TEST(TagOrder, ManyScopesBetweenTheUsesOfOneVariable) {
  std::string source = "let a = 1; ";
  for (int i = 0; i < 300; ++i)
    source += "if a { let t" + std::to_string(i) + " = a; t" + std::to_string(i) + " + a }; ";
  source += "a";
  Lines outer = {"LocalImmutable a @4"};
  // Every `a` past the declaration is a read.
  for (std::size_t at = 5; at < source.size(); ++at) {
    const bool word_end = at + 1 == source.size() || source[at + 1] == ' ' || source[at + 1] == ';';
    if (source[at] == 'a' && source[at - 1] == ' ' && word_end)
      outer.push_back("ReadLocal a @" + std::to_string(at));
  }
  ASSERT_EQ(outer.size(), 1u + 3 * 300 + 1);
  const Lines lines = variables(source);
  Lines inner_tags, outer_lines;
  for (const std::string& line : lines) {
    if (line.starts_with("LocalImmutable a @") || line.starts_with("ReadLocal a @"))
      outer_lines.push_back(line);
    if (line.starts_with("LocalImmutable t")) inner_tags.push_back(line);
  }
  EXPECT_EQ(outer_lines, outer);
  ASSERT_EQ(inner_tags.size(), 300u);
  // The script's variable comes last; each inner one is followed by its read.
  EXPECT_EQ(lines[lines.size() - outer.size()], outer.front());
  const std::string tag = "LocalImmutable ";
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
    if (!lines[k].starts_with(tag + "t")) continue;
    const std::string name = lines[k].substr(tag.size(), lines[k].find(" @") - tag.size());
    EXPECT_TRUE(lines[k + 1].starts_with("ReadLocal " + name + " @")) << lines[k] << " then " << lines[k + 1];
  }
}

}  // namespace
}  // namespace quendal
