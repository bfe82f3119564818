// Source ranges of every node kind, read from parsed sources: each optional
// part absent and present, nodes set inside other text so that neither end
// falls on an end of the source, the element forms between brackets, and
// chains far longer than any stack would hold, walked on a small one.
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "parse_helper.h"
#include "parser/ranges.h"
#include "small_stack.h"

namespace quendal {
namespace {

using testing::ParsedSource;

// `«` and `»` mark the range the selected node must have; they are taken
// out of the source before it is parsed.
struct Marked {
  std::string source;
  SourceRange range;
};

Marked unmark(std::string_view marked) {
  constexpr std::string_view kOpen = "«", kClose = "»";
  const std::size_t open = marked.find(kOpen);
  const std::size_t close = marked.find(kClose);
  std::string source(marked.substr(0, open));
  source += marked.substr(open + kOpen.size(), close - open - kOpen.size());
  source += marked.substr(close + kClose.size());
  return {source, {open, close - kOpen.size()}};
}

enum class Select {
  LastStatement,
  FirstStatement,
  LetValue,        // the value of the last statement, a `let`
  LetPattern,      // its pattern
  IsPattern,       // the pattern of its value, an `is` test
  ValueElement,    // element `index` of its value (record, array or call)
  PatternElement,  // element `index` of its pattern (record or array)
};

struct RangeCase {
  const char* marked;
  Select select = Select::LetValue;
  std::size_t index = 0;
};

std::ostream& operator<<(std::ostream& os, const RangeCase& c) { return os << "source: " << c.marked; }

const BindStatement& last_let(const Script& script) {
  EXPECT_FALSE(script.statements.empty());
  const Statement& last = *script.statements.back();
  EXPECT_EQ(last.kind, StatementKind::Bind);
  return last.as<BindStatement>();
}

template <class List>
SourceRange element_range(const List& list, std::size_t index) {
  EXPECT_LT(index, list.size());
  return range_of(list[index].item);
}

SourceRange value_element(const Expression& value, std::size_t index) {
  if (value.kind == ExpressionKind::Record)
    return element_range(value.as<RecordExpression>().elements, index);
  if (value.kind == ExpressionKind::Array) return element_range(value.as<ArrayExpression>().elements, index);
  EXPECT_EQ(value.kind, ExpressionKind::Call);
  return element_range(value.as<CallExpression>().arguments, index);
}

SourceRange pattern_element(const Pattern& pattern, std::size_t index) {
  if (pattern.kind == PatternKind::Record) return element_range(pattern.as<RecordPattern>().elements, index);
  EXPECT_EQ(pattern.kind, PatternKind::Array);
  return element_range(pattern.as<ArrayPattern>().elements, index);
}

SourceRange selected_range(const Script& script, const RangeCase& c) {
  switch (c.select) {
    case Select::LastStatement:
      return range_of(*script.statements.back());
    case Select::FirstStatement:
      return range_of(*script.statements.front());
    case Select::LetValue:
      return range_of(*last_let(script).value);
    case Select::LetPattern:
      return range_of(*last_let(script).pattern);
    case Select::IsPattern: {
      const Expression& value = *last_let(script).value;
      EXPECT_EQ(value.kind, ExpressionKind::IsPattern);
      const Pattern& pattern = *value.as<IsPatternExpression>().pattern;
      // The two halves agree with the whole.
      EXPECT_EQ(start_of(pattern), range_of(pattern).start);
      EXPECT_EQ(end_of(pattern), range_of(pattern).end);
      return range_of(pattern);
    }
    case Select::ValueElement:
      return value_element(*last_let(script).value, c.index);
    case Select::PatternElement:
      return pattern_element(*last_let(script).pattern, c.index);
  }
  return {};
}

class NodeRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(NodeRange, RunsFromTheFirstPresentPartToTheLast) {
  const RangeCase& c = GetParam();
  const Marked marked = unmark(c.marked);
  const ParsedSource parsed(marked.source);
  ASSERT_FALSE(parsed.outcome.cut);
  ASSERT_FALSE(parsed.script().statements.empty()) << parsed.tree();
  EXPECT_EQ(selected_range(parsed.script(), c), marked.range) << marked.source << " -> " << parsed.tree();
}

using S = Select;

INSTANTIATE_TEST_SUITE_P(
    Expressions, NodeRange,
    ::testing::Values(
        RangeCase{"let r = «1»;"}, RangeCase{"let r = «'n = $n!'» ;"}, RangeCase{"let r = «x»;"},
        RangeCase{"let r = «(x)»;"}, RangeCase{"let r = «(a: 1, b,)»;"}, RangeCase{"let r = «{a: 1}»;"},
        RangeCase{"let r = «[1, ..xs, ]»;"}, RangeCase{"let r = «[]»;"}, RangeCase{"let r = «f(x, ..ys)»;"},
        RangeCase{"let r = «type(a)»;"}, RangeCase{"let r = «f(1)(2)»;"}, RangeCase{"let r = «f'a$(x)b'»;"},
        RangeCase{"let r = «x::f(1)»;"}, RangeCase{"let r = «a::b(1)::(c)(2)»;"},
        RangeCase{"let r = «a.b.0»;"}, RangeCase{"let r = «a[0][b]»;"}, RangeCase{"let r = «a[..]»;"},
        RangeCase{"let r = «a[1..]»;"}, RangeCase{"let r = «a[..<2]»;"}, RangeCase{"let r = «a[1..2]»;"},
        RangeCase{"let r = «a!!»;"}, RangeCase{"let r = «- - a»;"}, RangeCase{"let r = «not a.b»;"},
        RangeCase{"let r = «a + b * c ^ d»;"}, RangeCase{"let r = «x is [a, ..b] or nil»;"},
        RangeCase{"let r = «{ let x = 1; x }»;"}, RangeCase{"let r = «{ }»;"},
        RangeCase{"let r = «loop { break; }»;"}, RangeCase{"let r = «while x { }»;"},
        RangeCase{"let r = «while x { } else { 1 }»;"}, RangeCase{"let r = «for i in 1..3 { }»;"},
        RangeCase{"let r = «for (k, v) in m { } else { }»;"}, RangeCase{"let r = «if a { 1 }»;"},
        RangeCase{"let r = «if a { 1 } else { 2 }»;"},
        RangeCase{"let r = «if a { } else if b { } else { }»;"},
        RangeCase{"let r = «if a { } else if b { }»;"}, RangeCase{"let r = «a ? b : c ? d : e»;"},
        RangeCase{"let r = «match x { case 1 { } case _ if y { 2 } }»;"}, RangeCase{"let r = «match x { }»;"},
        RangeCase{"let r = «fn { 1 }»;"}, RangeCase{"let r = «fn(a, b) { a }»;"},
        // A placeholder for a missing value sits where the value was due.
        RangeCase{"let r =«» ;"}));

INSTANTIATE_TEST_SUITE_P(
    Statements, NodeRange,
    ::testing::Values(
        RangeCase{"x; «;» ", S::LastStatement}, RangeCase{"x; «f(x);» ", S::LastStatement},
        RangeCase{"x; «{ a }» y", S::LastStatement}, RangeCase{"x; «if a { }» y", S::LastStatement},
        RangeCase{"x; «mod m { }» ", S::LastStatement}, RangeCase{"x; «pub mod m { a; }» ", S::LastStatement},
        RangeCase{"x; «let y = 1;» ", S::LastStatement}, RangeCase{"x; «pub let y = 1;» ", S::LastStatement},
        RangeCase{"x; «let mut y = 1;» ", S::LastStatement}, RangeCase{"x; «y = 1;» ", S::LastStatement},
        RangeCase{"x; «[a, b] = [b, a];» ", S::LastStatement},
        RangeCase{"x; «const @k = 1;» ", S::LastStatement},
        RangeCase{"x; «pub const @k = 1;» ", S::LastStatement},
        RangeCase{"x; «a.b += 1;» ", S::LastStatement}, RangeCase{"x; «fn f() { }» ", S::LastStatement},
        RangeCase{"x; «pub fn f(a) { a }» ", S::LastStatement}, RangeCase{"x; «return;» ", S::LastStatement},
        RangeCase{"x; «return 1;» ", S::LastStatement}, RangeCase{"x; «break;» ", S::LastStatement},
        RangeCase{"x; «break 1;» ", S::LastStatement}, RangeCase{"x; «continue;» ", S::LastStatement},
        // Unknown statements: their tokens, first to last.
        RangeCase{"x; «}» ", S::LastStatement}, RangeCase{"«let» ;", S::FirstStatement}));

INSTANTIATE_TEST_SUITE_P(
    Patterns, NodeRange,
    ::testing::Values(
        RangeCase{"let «(a)» = x;", S::LetPattern}, RangeCase{"let «_» = x;", S::LetPattern},
        RangeCase{"let «y» = x;", S::LetPattern}, RangeCase{"let «mut y» = x;", S::LetPattern},
        RangeCase{"let «(a: b, ..)» = x;", S::LetPattern}, RangeCase{"let «[a, ..]» = x;", S::LetPattern},
        RangeCase{"let«» = x;", S::LetPattern}, RangeCase{"let b = x is «-1»;", S::IsPattern},
        RangeCase{"let b = x is «1»;", S::IsPattern}, RangeCase{"let b = x is «@k»;", S::IsPattern},
        RangeCase{"let b = x is «> 1»;", S::IsPattern}, RangeCase{"let b = x is «1..<3»;", S::IsPattern},
        RangeCase{"let b = x is «1 or 2 or 3»;", S::IsPattern},
        RangeCase{"let b = x is «not nil and > 0»;", S::IsPattern},
        RangeCase{"let b = x is «not not nil»;", S::IsPattern}));

INSTANTIATE_TEST_SUITE_P(Elements, NodeRange,
                         ::testing::Values(RangeCase{"let r = («a: 1», b);", S::ValueElement, 0},
                                           RangeCase{"let r = («:a», b);", S::ValueElement, 0},
                                           RangeCase{"let r = («'$(k)': 1», b);", S::ValueElement, 0},
                                           RangeCase{"let r = (a, «b»);", S::ValueElement, 1},
                                           RangeCase{"let r = (a, «..b», c);", S::ValueElement, 1},
                                           RangeCase{"let r = [«1..3», xs];", S::ValueElement, 0},
                                           RangeCase{"let r = [x, «..xs»];", S::ValueElement, 1},
                                           RangeCase{"let r = f(x, «..ys»);", S::ValueElement, 1},
                                           RangeCase{"let r = f(«x», y);", S::ValueElement, 0},
                                           // One value: a name or literal, or any other form.
                                           RangeCase{"let r = [«x», 1];", S::ValueElement, 0},
                                           RangeCase{"let r = [x, «'s'» ];", S::ValueElement, 1},
                                           RangeCase{"let r = [«a + b» , c];", S::ValueElement, 0},
                                           RangeCase{"let r = [«'$(a)'»];", S::ValueElement, 0},
                                           RangeCase{"let r = [«(a)», b];", S::ValueElement, 0},
                                           RangeCase{"let r = («a: x» , b);", S::ValueElement, 0},
                                           RangeCase{"let r = (z, «a: f(1)[2]»);", S::ValueElement, 1},
                                           RangeCase{"let r = («a: 'x$(y)z'»);", S::ValueElement, 0},
                                           // A spread that keeps nothing ends where its value was left out.
                                           RangeCase{"let [a, «..»] = xs;", S::PatternElement, 1},
                                           RangeCase{"let [a, «..rest»] = xs;", S::PatternElement, 1},
                                           RangeCase{"let («k: v», ..r) = x;", S::PatternElement, 0},
                                           RangeCase{"let (k: v, «..r») = x;", S::PatternElement, 1},
                                           RangeCase{"let (a, «?: b») = x;", S::PatternElement, 1}));

// --------------------------------------------------------- long chains

std::string repeated(std::string_view first, std::string_view link, std::size_t links,
                     std::string_view last = {}) {
  std::string out(first);
  for (std::size_t i = 0; i < links; ++i) out += link;
  out += last;
  return out;
}

struct ChainCase {
  const char* name;
  std::string source;
};

std::ostream& operator<<(std::ostream& os, const ChainCase& c) { return os << c.name; }

class ChainRange : public ::testing::TestWithParam<ChainCase> {};

// The whole chain is the script's trailing value; its range is worked out
// on a stack far too small to hold one frame per link.
TEST_P(ChainRange, IsFoundWithoutAFramePerLink) {
  const std::string& source = GetParam().source;
  const ParsedSource parsed(source);
  ASSERT_FALSE(parsed.outcome.cut);
  ASSERT_EQ(parsed.diagnostics(), "");
  const Expression& chain = *parsed.script().expression;
  SourceRange range;
  testing::on_stack(std::size_t{64} << 10, [&] {
    const UsingTokens using_tokens(parsed.tokens, parsed.arena);  // the tree's tokens, on this thread too
    range = range_of(chain);
  });
  EXPECT_EQ(range, (SourceRange{0, source.size()}));
}

INSTANTIATE_TEST_SUITE_P(
    Parser, ChainRange,
    ::testing::Values(ChainCase{"sum", repeated("a", " + a", 99'999)},
                      ChainCase{"fields", repeated("a", ".b", 100'000)},
                      ChainCase{"calls", repeated("f", "(1)", 100'000)},
                      ChainCase{"extension_calls", repeated("a", "::f()", 50'000)},
                      ChainCase{"else_if", repeated("if a { }", " else if a { }", 9'999, " else { }")},
                      ChainCase{"else_if_open", repeated("if a { }", " else if a { }", 9'999)},
                      ChainCase{"or_pattern", repeated("x is 1", " or 1", 100'000)},
                      ChainCase{"and_pattern", repeated("x is > 0", " and < 9", 100'000)}),
    [](const ::testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quendal
