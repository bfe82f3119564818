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
template <class Keep>
Lines records(std::string_view source, Keep keep) {
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
                  std::string(source.substr(start, end - start)));
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

}  // namespace
}  // namespace quendal
