// Tree shapes produced by the parser for whole scripts: the dump of the tree
// after the diagnostics walk, and the collected diagnostics.
#include <gtest/gtest.h>

#include <string>

#include "parse_helper.h"

namespace quendal {
namespace {

using testing::diagnostics_match;
using testing::ParsedSource;

struct TreeCase {
  const char* source;
  const char* tree;
  const char* diagnostics = "";
};

std::ostream& operator<<(std::ostream& os, const TreeCase& c) { return os << "source: " << c.source; }

void check(const TreeCase& c) {
  ParsedSource parsed(c.source);
  ASSERT_FALSE(parsed.outcome.cut) << c.source;
  EXPECT_EQ(parsed.tree(), c.tree) << "source: " << c.source;
  EXPECT_TRUE(diagnostics_match(c.diagnostics, parsed.diagnostics()))
      << "source: " << c.source << "\n  expected: " << c.diagnostics
      << "\n  actual:   " << parsed.diagnostics();
}

class Precedence : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Precedence, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Precedence,
    ::testing::Values(
        // one row of the binding-power table against its neighbours
        TreeCase{"a ?? b ?? c", "(script => (?? (?? a b) c))"},
        TreeCase{"a ?? b || c", "(script => (?? a (|| b c)))"},
        TreeCase{"a || b or c", "(script => (or (|| a b) c))"},
        TreeCase{"a or b && c", "(script => (or a (&& b c)))"},
        TreeCase{"a && b and c", "(script => (and (&& a b) c))"},
        TreeCase{"a and b == c", "(script => (and a (== b c)))"},
        TreeCase{"a == b != c", "(script => (!= (== a b) c))"},
        TreeCase{"a =~ b !~ c", "(script => (!~ (=~ a b) c))"},
        TreeCase{"a == b < c", "(script => (== a (< b c)))"},
        TreeCase{"a < b > c", "(script => (> (< a b) c))"},
        TreeCase{"a >= b <= c", "(script => (<= (>= a b) c))"},
        TreeCase{"a in b not in c", "(script => (not in (in a b) c))"},
        TreeCase{"a < b is c", "(script => (< a (is b c)))"},
        TreeCase{"a is b == c", "(script => (== (is a b) c))"},
        TreeCase{"a + b * c", "(script => (+ a (* b c)))"},
        TreeCase{"a * b + c", "(script => (+ (* a b) c))"},
        TreeCase{"a - b - c", "(script => (- (- a b) c))"},
        TreeCase{"a / b % c * d", "(script => (* (% (/ a b) c) d))"},
        TreeCase{"a ^ b ^ c", "(script => (^ a (^ b c)))"},
        TreeCase{"a * b ^ c", "(script => (* a (^ b c)))"},
        TreeCase{"1 + 2 * 3 ^ 2 ^ 2", "(script => (+ 1 (* 2 (^ 3 (^ 2 2)))))"},
        // prefix operators take their operand at their own power
        TreeCase{"-a * b", "(script => (- (* a b)))"}, TreeCase{"-a ^ b", "(script => (- (^ a b)))"},
        TreeCase{"-a + b", "(script => (+ (- a) b))"}, TreeCase{"+a - b", "(script => (- (+ a) b))"},
        TreeCase{"!a == b", "(script => (== (! a) b))"}, TreeCase{"not a == b", "(script => (== (not a) b))"},
        TreeCase{"!a ^ b", "(script => (! (^ a b)))"}, TreeCase{"not a * b", "(script => (* (not a) b))"},
        TreeCase{"a not b", "(script => (not a b))"}, TreeCase{"?a + b", "(script => (? (+ a b)))"},
        TreeCase{"- - a", "(script => (- (- a)))"},
        // conditional
        TreeCase{"a ? b : c ? d : e", "(script => (? a b (? c d e)))"},
        TreeCase{"a ? b : c || d", "(script => (? a b (|| c d)))"},
        TreeCase{"a || b ? c : d", "(script => (? (|| a b) c d))"},
        TreeCase{"a ?? b ? c : d", "(script => (? (?? a b) c d))"},
        TreeCase{"a ? b ? c : d : e", "(script => (? a (? b c d) e))"},
        TreeCase{"a - b ? c : d", "(script => (? (- a b) c d))"},
        TreeCase{"a + b * c ? d : e - f", "(script => (? (+ a (* b c)) d (- e f)))"},
        TreeCase{"a || b is c", "(script => (|| a (is b c)))"},
        TreeCase{"a is b ? c : d", "(script => (? (is a b) c d))"},
        TreeCase{"a ^ b + c", "(script => (+ (^ a b) c))"},
        TreeCase{"for i in a + b..c {}", "(script => (for i (.. (+ a b) c) (block)))"},
        TreeCase{"x[a - 1..b]", "(script => (slice x (- a 1) .. b))"},
        TreeCase{"a + b..c + d", "(script => (<+@5..7> (+ a b) (+ c d)))", "UnexpectedToken@5..7"},
        // `is` hands everything pattern-like to the pattern parser
        TreeCase{"x is [a, ..b] or nil", "(script => (is x (or (array a (.. b)) nil)))"},
        TreeCase{"x is 1 and 2", "(script => (is x (and 1 2)))"},
        TreeCase{"x is not nil and > 0", "(script => (is x (and (not nil) (> 0))))"},
        TreeCase{"x is (a: 1)", "(script => (is x (record (: a 1))))"},
        // ranges where none is allowed continue as an addition
        TreeCase{"a..b", "(script => (<+@1..3> a b))", "UnexpectedToken@1..3"},
        TreeCase{"a..<b", "(script => (<+@1..4> a b))", "UnexpectedToken@1..4"},
        TreeCase{"a == b..c", "(script => (== a (<+@6..8> b c)))", "UnexpectedToken@6..8"},
        TreeCase{"a + b..c", "(script => (<+@5..7> (+ a b) c))", "UnexpectedToken@5..7"},
        TreeCase{"let r = 1..3;", "(script (let r (<+@9..11> 1 3)))", "UnexpectedToken@9..11"},
        TreeCase{"f(1..3)", "(script => (call f (<+@3..5> 1 3)))", "UnexpectedToken@3..5"}));

class Postfix : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Postfix, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Postfix,
    ::testing::Values(
        TreeCase{"a.b.c", "(script => (. (. a b) c))"}, TreeCase{"a.0.1", "(script => (. (. a 0) 1))"},
        TreeCase{"a!.b", "(script => (. (nonnil a) b))"}, TreeCase{"a!!", "(script => (nonnil (nonnil a)))"},
        TreeCase{"a[0][b]", "(script => (index (index a 0) b))"},
        TreeCase{"a(1)(2)", "(script => (call (call a 1) 2))"}, TreeCase{"f()", "(script => (call f))"},
        TreeCase{"f(x, ..ys)", "(script => (call f x (.. ys)))"}, TreeCase{"f(x,)", "(script => (call f x))"},
        TreeCase{"f(x y)", "(script => (call f x <,@3> y))", "MissingComma@3"},
        TreeCase{"f(1, , 2)", "(script => (call f 1 (unknown@5 <#empty@5>) 2))", "ExpressionExpected@5"},
        TreeCase{"f(1", "(script => (call f 1 <)@3>))", "MissingCloseParen@3"},
        TreeCase{"-x.y", "(script => (- (. x y)))"},
        TreeCase{"a.b(c)[d]!", "(script => (nonnil (index (call (. a b) c) d)))"},
        TreeCase{"global.x", "(script => (. global x))"},
        // extension calls
        TreeCase{"x::f(1)", "(script => (ext x f 1))"},
        TreeCase{"x::f", "(script => (ext x f <(@4> <)@4>))",
                 "MissingOpenParenAfterExtension@4 MissingCloseParen@4"},
        TreeCase{"x::f.g(1)", "(script => (ext x (. f g) 1))"},
        TreeCase{"x::(f)(1)", "(script => (ext x (group f) 1))"},
        TreeCase{"x::(f, g)(1)", "(script => (ext x (record f g) 1))", "RecordLiteralInExtensionCaller@3..9"},
        TreeCase{"a::b(1)::c(2)", "(script => (ext (ext a b 1) c 2))"},
        TreeCase{"x::type()", "(script => (ext x type))"},
        TreeCase{"x::type(1)", "(script => (ext x type (unknown@3..10 <#empty@3..10>)))",
                 "InvalidTypeCall@3..10"},
        // type calls
        TreeCase{"type(a)", "(script => (call type a))"},
        TreeCase{"type(a, b)", "(script => (call type (unknown@0..10 <#empty@0..10>)))",
                 "InvalidTypeCall@0..10"},
        TreeCase{"type()", "(script => (call type (unknown@0..6 <#empty@0..6>)))", "InvalidTypeCall@0..6"},
        TreeCase{"type a", "(script => (call type <(@4> a <)@6>))",
                 "MissingOpenParenAfterType@4 MissingCloseParen@6"},
        // tagged strings and interpolations
        TreeCase{R"(f"s")", R"((script => (tagged f "s")))"},
        TreeCase{"f'a$(x)b'", R"((script => (tagged f (interp "a" x "b"))))"},
        TreeCase{R"(a.b"s")", R"((script => (tagged (. a b) "s")))"},
        TreeCase{"'n = $n!'", R"((script => (interp "n = " n "!")))"},
        TreeCase{"'$(a + 1) and $b'", R"((script => (interp "" (+ a 1) " and " b "")))"},
        TreeCase{"'$()'", R"((script => (interp "" (unknown@3 #empty) "")))", "EmptyInterpolation@3"},
        TreeCase{"'$(x", R"((script => (interp "" (unknown@3..4 x #eof) "")))",
                 "UnterminatedString@4 UnterminatedInterpolation@3..4"},
        TreeCase{"'$(a b)'", R"((script => (interp "" a "")))", "BadInterpolation@5..6"},
        TreeCase{"'$(;)'", R"((script => (interp "" (unknown@3..4 ;) "")))", "BadInterpolation@3..4"},
        TreeCase{"'$if'", R"((script => (interp "" nil "")))", "InvalidKeyword@2..4"},
        TreeCase{"'${x}'", R"((script => (interp "" (block => x) "")))"},
        TreeCase{"'$(x:.2f)'", R"((script => (interp "" x "")))"},
        // slices
        TreeCase{"a[..]", "(script => (slice a ~ .. ~))"}, TreeCase{"a[1..]", "(script => (slice a 1 .. ~))"},
        TreeCase{"a[..<2]", "(script => (slice a ~ ..< 2))"},
        TreeCase{"a[1..<2]", "(script => (slice a 1 ..< 2))"},
        TreeCase{"a[1..2]", "(script => (slice a 1 .. 2))"},
        TreeCase{"a[b + 1..c * 2]", "(script => (slice a (+ b 1) .. (* c 2)))"},
        TreeCase{"a[i..j][0]", "(script => (index (slice a i .. j) 0))"},
        TreeCase{"a[1", "(script (expr a <;@1>) => (array 1 <]@3>))",
                 "MissingSemicolon@1 MissingCloseBracket@3"}));

class Composite : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Composite, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Composite,
    ::testing::Values(
        TreeCase{"[]", "(script => (array))"}, TreeCase{"[1, 2,]", "(script => (array 1 2))"},
        TreeCase{"[1..3, ..xs]", "(script => (array (.. 1 3) (.. xs)))"},
        TreeCase{"[1 2]", "(script => (array 1 <,@2> 2))", "MissingComma@2"},
        TreeCase{"[a b c]", "(script => (array a <,@2> b <,@4> c))", "MissingComma@2 MissingComma@4"},
        TreeCase{"[1, , 2]", "(script => (array 1 (unknown@4 <#empty@4>) 2))", "ExpressionExpected@4"},
        TreeCase{"[..]", "(script => (array (.. (unknown@3 <#empty@3>))))", "BadArraySpread@3"},
        TreeCase{"[1, 2", "(script => (array 1 2 <]@5>))", "MissingCloseBracket@5"},
        TreeCase{"()", "(script => (record))"}, TreeCase{"(x)", "(script => (group x))"},
        TreeCase{"(x,)", "(script => (record x))"}, TreeCase{"(x, y)", "(script => (record x y))"},
        TreeCase{"(x", "(script => (group x <)@2>))", "MissingCloseParen@2"},
        TreeCase{"((x))", "(script => (group (group x)))"},
        TreeCase{"((x), y)", "(script => (record (group x) y))"},
        TreeCase{"((a: 1))", "(script => (group (record (: a 1))))"},
        TreeCase{"(a)(b).c", "(script => (. (call (group a) b) c))"},
        TreeCase{"(a) + (b) * (c)", "(script => (+ (group a) (* (group b) (group c))))"},
        TreeCase{"((x,)).y = (1);", "(script (= (. (group (record x)) y) (group 1)))"},
        TreeCase{"(a: (b), c: (d e))", "(script => (record (: a (group b)) (: c (record d <,@14> e))))",
                 "MissingComma@14"},
        TreeCase{"((a b)", "(script => (group (record a <,@3> b) <)@6>))",
                 "MissingComma@3 MissingCloseParen@6"},
        TreeCase{"f((a), (b: 1))", "(script => (call f (group a) (record (: b 1))))"},
        TreeCase{"(:a)", "(script => (record (: a)))"}, TreeCase{"(a: 1)", "(script => (record (: a 1)))"},
        TreeCase{R"(("a": 1))", R"((script => (record (: "a" 1))))"},
        TreeCase{"(0: 1)", "(script => (record (: 0 1)))"},
        TreeCase{"(if: 1)", "(script => (record (: if 1)))"},
        TreeCase{"(_: 1)", "(script => (record (: _ 1)))"},
        TreeCase{"(a ?: 1, ?: b)", "(script => (record (?: a 1) (?: b)))"},
        TreeCase{"(1.5: 2)", "(script => (record 1.5 <,@4> (: 2)))", "MissingComma@4"},
        TreeCase{"(a: 1;", "(script (expr (record (: a 1) <)@5>)))", "MissingCloseParen@5"},
        TreeCase{"(a: )", "(script => (record a <,@2> (unknown@2..3 :)))",
                 "MissingComma@2 UnknownExpression@2..3"},
        TreeCase{"(a: , b: 2)", "(script => (record (: a (unknown@4..10 , b : 2))))",
                 "UnknownExpression@4..10"},
        TreeCase{"(a: b: c)", "(script => (record (: a b) <,@5> (: c)))", "MissingComma@5"},
        TreeCase{"(a: 1 b: 2)", "(script => (record (: a 1) <,@5> (: b 2)))", "MissingComma@5"},
        TreeCase{"(a: -)", "(script => (record (: a (unknown@4..5 -))))", "UnknownExpression@4..5"},
        TreeCase{"(a:(b: 1))", "(script => (record (: a (record (: b 1)))))"},
        TreeCase{"let r = (x: 1, y);", "(script (let r (record (: x 1) y)))"},
        TreeCase{"(..a, b: 2)", "(script => (record (.. a) (: b 2)))"},
        TreeCase{"('$(k)': 1)", R"((script => (record (: (interp "" k "") 1))))"},
        // JSON-style records
        TreeCase{R"({"a": 1, "b": 2})", R"((script => (json (: "a" 1) (: "b" 2))))"},
        TreeCase{R"({"a": 1, "b": 2,})", R"((script => (json (: "a" 1) (: "b" 2))))"},
        TreeCase{R"({"a": })", R"((script => (json (: "a" (unknown@5 <#empty@5>)))))",
                 "ExpressionExpected@5"},
        // a string directly after a value tags it, so a missing comma before a
        // string key ends the record early
        TreeCase{
            R"({"a": 1 "b": 2})",
            R"((script (expr (json (: "a" (tagged 1 "b")) <}@11>) <;@11>) (expr (unknown@11..14 : 2) <;@14>) )"
            R"((unknown@14..15 })))",
            "MissingCloseBrace@11 MissingSemicolon@11 UnknownExpression@11..14 MissingSemicolon@14 "
            "UnmatchedCloseBrace@14..15"},
        TreeCase{R"({"a": 1, "b": 2 , })", R"((script => (json (: "a" 1) (: "b" 2))))"},
        TreeCase{R"({"a": 1)", R"((script => (json (: "a" 1) <}@7>)))", "MissingCloseBrace@7"},
        TreeCase{"{'$(k)': 1}", R"((script => (json (: (interp "" k "") 1))))"},
        // without a colon after the string it is a block
        TreeCase{R"({"a" 1})", R"((script => (block (expr "a" <;@4>) => 1)))", "MissingSemicolon@4"},
        TreeCase{R"({ "a" })", R"((script => (block => "a")))"},
        TreeCase{"{a: 1}", "(script => (block (expr a <;@2>) => (unknown@2..5 : 1)))",
                 "MissingSemicolon@2 UnknownExpression@2..5"}));

class Blocks : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Blocks, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Blocks,
    ::testing::Values(
        TreeCase{"{}", "(script => (block))"},
        TreeCase{"{ let x = 1; x }", "(script => (block (let x 1) => x))"},
        TreeCase{"{ let x = 1; if x {} }", "(script => (block (let x 1) => (if x (block))))"},
        TreeCase{"{ 1 } 2", "(script (bare (block => 1)) => 2)"},
        TreeCase{"{ a }; b", "(script (bare (block => a)) (empty) => b)"},
        TreeCase{"loop { if a { break; } }", "(script => (loop (block (bare (if a (block (break)))))))"},
        TreeCase{"loop { a }", "(script => (loop (block (expr a <;@8>))))", "MissingSemicolon@8"},
        TreeCase{"while x { a }", "(script => (while x (block (expr a <;@11>))))", "MissingSemicolon@11"},
        TreeCase{"while x { {} }", "(script => (while x (block (bare (block)))))"},
        TreeCase{"while x {} else {1}", "(script => (while x (block) (else (block => 1))))"},
        TreeCase{"if a {1} else if b {2} else {3}",
                 "(script => (if a (block => 1) (else (if b (block => 2) (else (block => 3))))))"},
        TreeCase{"if x 1", "(script => (if x (block <{@4> => 1 <}@6>)))",
                 "MissingOpenBrace@4 MissingCloseBrace@6"},
        TreeCase{"if", "(script => (if (unknown@2 <#empty@2>) (block <{@2> <}@2>)))",
                 "ExpressionExpected@2 MissingOpenBrace@2 MissingCloseBrace@2"},
        TreeCase{"if {} {}", "(script => (if (block) (block)))"},
        TreeCase{"if a {} else", "(script => (if a (block) (else (block <{@12> <}@12>))))",
                 "MissingOpenBrace@12 MissingCloseBrace@12"},
        TreeCase{"match x { 1 {} }", "(script => (match x (case <case@9> 1 (block))))", "MissingCase@9"},
        TreeCase{"match x {}", "(script => (match x))"},
        TreeCase{"match x { case 1 if y {a} case _ {b} }",
                 "(script => (match x (case 1 (if y) (block => a)) (case _ (block => b))))"},
        TreeCase{"match x { case x if y > 1 { 1 } }",
                 "(script => (match x (case x (if (> y 1)) (block => 1))))"},
        TreeCase{"match x { case 1 {} case 2 {}",
                 "(script => (match x (case 1 (block)) (case 2 (block)) <}@29>))", "MissingCloseBrace@29"},
        TreeCase{"for i in 1..3 {}", "(script => (for i (.. 1 3) (block)))"},
        TreeCase{"for (k, v) in m {} else {}", "(script => (for (record k v) m (block) (else (block))))"},
        TreeCase{"for [a, b] in xs { a }", "(script => (for (array a b) xs (block (expr a <;@20>))))",
                 "MissingSemicolon@20"},
        TreeCase{"let f = fn(a) { a };", "(script (let f (lambda (params a) (block => a))))"},
        TreeCase{"let f = fn { 1 };", "(script (let f (lambda (block => 1))))"},
        // `for` without `in` cannot be completed: its keyword becomes an
        // unknown statement and parsing resumes after it
        TreeCase{"for x y {}", "(script (unknown@0..3 for) (expr x <;@5>) (expr y <;@7>) => (block))",
                 "UnexpectedToken@0..3 MissingSemicolon@5 MissingSemicolon@7"},
        // `in` is no pattern stop token: the pattern swallows `in xs`, so no
        // `in` follows and the construct fails the same way
        TreeCase{"for in xs {}", "(script (unknown@0..3 for) (expr (unknown@4..9 in xs) <;@9>) => (block))",
                 "UnexpectedToken@0..3 UnknownExpression@4..9 MissingSemicolon@9"}));

class Statements : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Statements, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Statements,
    ::testing::Values(
        TreeCase{"", "(script)"}, TreeCase{";", "(script (empty))"}, TreeCase{"a;", "(script (expr a))"},
        TreeCase{"a b", "(script (expr a <;@1>) => b)", "MissingSemicolon@1"},
        TreeCase{"a + b", "(script => (+ a b))"}, TreeCase{"let x = 1; x", "(script (let x 1) => x)"},
        TreeCase{"let x = 1; let y = 2; x + y", "(script (let x 1) (let y 2) => (+ x y))"},
        TreeCase{"let x = 1", "(script (let x 1 <;@9>))", "MissingSemicolon@9"},
        TreeCase{"let = 1;", "(script (let (unknown@3 <#empty@3>) 1))", "PatternExpected@3"},
        TreeCase{"let x = ;", "(script (let x (unknown@7 <#empty@7>)))", "ExpressionExpected@7"},
        TreeCase{"let x 1;", "(script (let x <=@5> 1))", "MissingBindOperator@5"},
        TreeCase{"let x 1", "(script (let x <=@5> 1 <;@7>))", "MissingBindOperator@5 MissingSemicolon@7"},
        TreeCase{"let x", "(script (let x <=@5> (unknown@5 <#empty@5>) <;@5>))",
                 "ExpressionExpected@5 MissingBindOperator@5 MissingSemicolon@5"},
        TreeCase{"let ;", "(script (unknown@0..3 let) (empty))", "UnexpectedToken@0..3"},
        TreeCase{"pub let x = 1;", "(script (pub let x 1))"},
        TreeCase{"const ;", "(script (unknown@0..5 const) (empty))", "UnexpectedToken@0..5"},
        TreeCase{"const @x = 1;", "(script (const @x 1))"},
        TreeCase{"pub const @x = 1;", "(script (pub const @x 1))"},
        TreeCase{"const x = 1;", "(script (const <x@6..7> 1))", "InvalidConstantName@6..7"},
        TreeCase{"const @x 1", "(script (const @x <=@8> 1 <;@10>))",
                 "MissingBindOperator@8 MissingSemicolon@10"},
        TreeCase{"const @x = ;", "(script (const @x (unknown@10 <#empty@10>)))", "ExpressionExpected@10"},
        TreeCase{"x = 1;", "(script (rebind x 1))"},
        TreeCase{"x = 1", "(script (rebind x 1 <;@5>))", "MissingSemicolon@5"},
        TreeCase{"[a, b] = [b, a];", "(script (rebind (array a b) (array b a)))"},
        TreeCase{"(a, b) = (b, a);", "(script (rebind (record a b) (record b a)))"},
        TreeCase{"= 1;", "(script (rebind (unknown@0 <#empty@0>) 1))", "PatternExpected@0"},
        // the rebinding alternative reads `pub x` as an unknown pattern
        TreeCase{"pub x = 1;", "(script (rebind (unknown@0..5 pub x) 1))", "UnknownPattern@0..5"},
        TreeCase{"x += 1;", "(script (+= x 1))"}, TreeCase{"x ??= 1;", "(script (??= x 1))"},
        TreeCase{"x ||= y;", "(script (||= x y))"}, TreeCase{"a.b = 1;", "(script (= (. a b) 1))"},
        TreeCase{"a[0] = 1;", "(script (= (index a 0) 1))"},
        TreeCase{"a.b = ;", "(script (= (. a b) (unknown@5 <#empty@5>)))", "ExpressionExpected@5"},
        TreeCase{"a.b += 1", "(script (+= (. a b) 1 <;@8>))", "MissingSemicolon@8"},
        TreeCase{"return;", "(script (return))"}, TreeCase{"return 1;", "(script (return 1))"},
        TreeCase{"return", "(script (return <;@6>))", "MissingSemicolon@6"},
        TreeCase{"break 1;", "(script (break 1))"},
        TreeCase{"break", "(script (break <;@5>))", "MissingSemicolon@5"},
        TreeCase{"continue;", "(script (continue))"},
        TreeCase{"continue", "(script (continue <;@8>))", "MissingSemicolon@8"},
        TreeCase{"if a { 1 } else { 2 }", "(script => (if a (block => 1) (else (block => 2))))"},
        TreeCase{"if a {} ;", "(script (bare (if a (block))) (empty))"},
        TreeCase{"if a {} b", "(script (bare (if a (block))) => b)"},
        TreeCase{"fn f(a, b) { a }", "(script (fn f (params a b) (block => a)))"},
        TreeCase{"fn f { }", "(script (fn f (block)))"},
        TreeCase{"pub fn f() {}", "(script (pub fn f (params) (block)))"},
        TreeCase{"fn (a) {}", "(script (fn <<name>@2> (params a) (block)))", "MissingFunctionName@2"},
        TreeCase{"fn f(..a, b) {}", "(script (fn f (params a b) (block)))",
                 "MispositionedRestParameter@5..7"},
        TreeCase{"fn f(a, ..b) {}", "(script (fn f (params a (.. b)) (block)))"},
        TreeCase{"fn f(a b) {}", "(script (fn f (params a <,@6> b) (block)))", "MissingComma@6"},
        TreeCase{"fn f(a {}", "(script (fn f (params a <,@6> <)@6>) (block)))",
                 "MissingComma@6 MissingCloseParen@6"},
        TreeCase{"fn type {}", "(script (fn <type@3..7> (block)))", "MissingOpenParenAfterType@3..7"},
        TreeCase{"mod {}", "(script (mod <<name>@3> (block)))", "MissingModuleName@3"},
        TreeCase{"mod m { a }", "(script (mod m (block (expr a <;@9>))))", "MissingSemicolon@9"},
        TreeCase{"pub mod m {}", "(script (pub mod m (block)))"},
        TreeCase{"else 1;", "(script (expr (unknown@0..6 else 1)))", "UnknownExpression@0..6"}));

class Patterns : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Patterns, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Patterns,
    ::testing::Values(
        TreeCase{"let _ = 1;", "(script (let _ 1))"},
        TreeCase{"let + = x;", "(script (let (unknown@4..5 +) x))", "UnknownPattern@4..5"},
        TreeCase{"[a, ..rest] = xs;", "(script (rebind (array a (.. rest)) xs))"},
        TreeCase{"(a, _) = r;", "(script (rebind (record a _) r))"},
        TreeCase{"(a: mut b) = r;", "(script (rebind (record (: a (<mut@4..7> b))) r))",
                 "MutInRebindPattern@4..7"},
        TreeCase{"let (a, b) = r;", "(script (let (record a b) r))"},
        TreeCase{"let (a) = r;", "(script (let (group a) r))"},
        TreeCase{"let (a,) = r;", "(script (let (record a) r))"},
        TreeCase{"let [a, ..] = xs;", "(script (let (array a (.. ~@10)) xs))"},
        TreeCase{"let [a, ..b, ..c] = x;", "(script (let (array a b c) x))",
                 "DuplicateSpreadPattern@8..10 DuplicateSpreadPattern@13..15"},
        TreeCase{"let [1..2] = x;", "(script (let (array (.. 1 2)) x))", "AmbiguousRangePattern@5..9"},
        TreeCase{"let [(1..2)] = x;", "(script (let (array (group (.. 1 2))) x))"},
        TreeCase{"let [a b] = x;", "(script (let (array a <,@6> b) x))", "MissingComma@6"},
        TreeCase{"let [a, b = x;", "(script (let (array a b <,@9> <]@9>) x))",
                 "MissingComma@9 MissingCloseBracket@9"},
        TreeCase{"let (..r, a) = x;", "(script (let (record (.. r) a) x))",
                 "MispositionedSpreadInRecordPattern@*"},
        TreeCase{"let (a, ..r) = x;", "(script (let (record a (.. r)) x))"},
        TreeCase{"let (a, ..) = x;", "(script (let (record a (.. ~@10)) x))"},
        TreeCase{"let (: 1) = x;", "(script (let (record (: 1)) x))", "BadOmitKeyRecordPattern@*"},
        TreeCase{"let (: a) = x;", "(script (let (record (: a)) x))"},
        TreeCase{"let (a: b, c: 1) = r;", "(script (let (record (: a b) (: c 1)) r))"},
        TreeCase{"let (a ?: b) = r;", "(script (let (record (?: a b)) r))"},
        TreeCase{"let (a: ) = r;", "(script (let (record (: a (unknown@7 <#empty@7>))) r))",
                 "PatternExpected@7"},
        TreeCase{"let ('$(k)': v) = r;", R"((script (let (record (: (interp "" k "") v)) r)))",
                 "InterpolatedNameRecordPattern@*"},
        TreeCase{"let mut x = 1;", "(script (let (mut x) 1))"},
        TreeCase{"let mut a or b = x;", "(script (let (or (mut a) b) x))"},
        TreeCase{"let mut a and b = x;", "(script (let (and (mut a) b) x))"},
        TreeCase{"let a or b = x;", "(script (let (or a b) x))"},
        TreeCase{"mut a or b = x;", "(script (rebind (or (<mut@0..3> a) b) x))", "MutInRebindPattern@0..3"},
        TreeCase{"for mut i in xs {}", "(script => (for (mut i) xs (block)))"},
        TreeCase{"let mut a", "(script (let (mut a) <=@9> (unknown@9 <#empty@9>) <;@9>))",
                 "ExpressionExpected@9 MissingBindOperator@9 MissingSemicolon@9"},
        TreeCase{"let mut a = 1", "(script (let (mut a) 1 <;@13>))", "MissingSemicolon@13"},
        TreeCase{"let mut mut = 1;",
                 "(script (let (unknown@4..7 mut) <=@7> (unknown@8..11 mut) <;@11>) (rebind (unknown@11 "
                 "<#empty@11>) 1))",
                 "UnknownPattern@4..7 UnknownExpression@8..11 MissingBindOperator@7 MissingSemicolon@11 "
                 "PatternExpected@11"},
        TreeCase{"match x { case mut a {} }", "(script => (match x (case (mut a) (block))))"},
        TreeCase{"(mut a, b) = r;", "(script (rebind (record (<mut@1..4> a) b) r))",
                 "MutInRebindPattern@1..4"},
        TreeCase{"let (mut a, @b) = r;", "(script (let (record (mut a) @b) r))"},
        TreeCase{"mut x = 1;", "(script (rebind (<mut@0..3> x) 1))", "MutInRebindPattern@0..3"},
        TreeCase{"let mut _ = x;", "(script (let (unknown@4..9 mut _) x))", "MutInDiscardPattern@4..9"},
        TreeCase{"let mut @x = 1;", "(script (let (mut @x) 1))", "ConstantInBindPattern@4..10"},
        TreeCase{"let [.._] = x;", "(script (let (array (.. _)) x))", "DiscardInSpreadPattern@5..7"},
        TreeCase{"let op = 1;", "(script (let (unknown@4..6 <_@4..6>) 1))", "InvalidReservedKeyword@4..6"},
        TreeCase{"let global = 1;", "(script (let (unknown@4..10 <global@4..10>) 1))",
                 "UnexpectedGlobal@4..10"},
        TreeCase{"match x { case !1 {} }", "(script => (match x (case (! 1) (block))))",
                 "ExclamationInLiteralPattern@15..17"},
        TreeCase{R"(match x { case -"a" {} })", R"((script => (match x (case (- "a") (block)))))",
                 "NonNumberInArithmetic@15..19"},
        TreeCase{"match x { case -1 {} }", "(script => (match x (case (- 1) (block))))"},
        TreeCase{"match x { case +inf {} }", "(script => (match x (case (+ inf) (block))))"},
        TreeCase{R"(match x { case "a" {} case true {} case nil {} })",
                 R"((script => (match x (case "a" (block)) (case true (block)) (case nil (block)))))"},
        TreeCase{"match x { case 1..y {} }", "(script => (match x (case (.. 1 y) (block))))",
                 "InvalidConstantLiteral@18..19"},
        TreeCase{"match x { case > y {} }", "(script => (match x (case (> y) (block))))",
                 "InvalidConstantLiteral@17..18"},
        TreeCase{"match x { case > @m {} }", "(script => (match x (case (> @m) (block))))"},
        TreeCase{"match x { case 1..<10 {} }", "(script => (match x (case (..< 1 10) (block))))"},
        TreeCase{"match x { case 1..2 {} }", "(script => (match x (case (.. 1 2) (block))))"},
        TreeCase{"match x { case @limit {} }", "(script => (match x (case @limit (block))))"},
        TreeCase{"match x { case limit {} }", "(script => (match x (case limit (block))))"},
        TreeCase{"match x { case not 1 {} }", "(script => (match x (case (not 1) (block))))"},
        TreeCase{"match x { case 1 or 2 and 3 {} }", "(script => (match x (case (or 1 (and 2 3)) (block))))"},
        TreeCase{"match x { case a and b or c {} }",
                 "(script => (match x (case (or (and a b) c) (block))))"}));

class Recovery : public ::testing::TestWithParam<TreeCase> {};
TEST_P(Recovery, Tree) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    Parser, Recovery,
    ::testing::Values(
        TreeCase{")", "(script (unknown@0..1 )))", "UnmatchedCloseParen@0..1"},
        TreeCase{"]", "(script (unknown@0..1 ]))", "UnmatchedCloseBracket@0..1"},
        TreeCase{"}}}", "(script (unknown@0..1 }) (unknown@1..2 }) (unknown@2..3 }))",
                 "UnmatchedCloseBrace@0..1 UnmatchedCloseBrace@1..2 UnmatchedCloseBrace@2..3"},
        TreeCase{"a +;", "(script (expr (unknown@0..3 a +)))", "UnknownExpression@0..3"},
        TreeCase{"a ? b", "(script => (unknown@0..5 a ? b))", "UnknownExpression@0..5"},
        TreeCase{"a ? b c", "(script => (? a b <:@5> c))", "MissingColon@5"},
        TreeCase{"a.", "(script (expr a <;@1>) => (unknown@1..2 .))",
                 "MissingSemicolon@1 UnknownExpression@1..2"},
        TreeCase{"x &y", "(script (expr x <;@1>) => (unknown@2..4 #empty y))",
                 "UnknownToken@2..3 MissingSemicolon@1 UnknownExpression@2..4"},
        TreeCase{"_ + 1", "(script => (+ <_@0..1> 1))", "UnexpectedUnderscore@0..1"},
        TreeCase{"op + 1", "(script => (+ <_@0..2> 1))", "InvalidReservedKeyword@0..2"},
        TreeCase{"a ) b", "(script (expr a <;@1>) (unknown@2..3 )) => b)",
                 "MissingSemicolon@1 UnmatchedCloseParen@2..3"},
        // several independent errors in one script
        TreeCase{
            "let = 1;\nf(a b;\n)\nlet x 2",
            "(script (let (unknown@3 <#empty@3>) 1) (expr (call f a <,@12> b <)@14>)) (unknown@16..17 )) "
            "(let x <=@23> 2 <;@25>))",
            "PatternExpected@3 MissingComma@12 MissingCloseParen@14 UnmatchedCloseParen@16..17 "
            "MissingBindOperator@23 MissingSemicolon@25"},
        // `else` ends an element without a separator; array elements do not
        // fall back to unknown expressions
        TreeCase{"[a else b]",
                 "(script (expr (array a <]@2>) <;@2>) (expr (unknown@3..9 else b) <;@9>) (unknown@9..10 ]))",
                 "MissingCloseBracket@2 MissingSemicolon@2 UnknownExpression@3..9 MissingSemicolon@9 "
                 "UnmatchedCloseBracket@9..10"},
        // a case without a pattern is given back, so the body closes before it
        TreeCase{
            "match x { case }",
            "(script (bare (match x <}@9>)) (expr (unknown@10..14 case) <;@14>) (unknown@15..16 }))",
            "MissingCloseBrace@9 UnknownExpression@10..14 MissingSemicolon@14 UnmatchedCloseBrace@15..16"},
        TreeCase{"let x = 1 +\nlet y = 2;", "(script (let x (unknown@8..11 1 +) <;@11>) (let y 2))",
                 "UnknownExpression@8..11 MissingSemicolon@11"},
        TreeCase{"f(a, b\nx", "(script => (call f a b <,@6> x <)@8>))", "MissingComma@6 MissingCloseParen@8"},
        TreeCase{"if a { let = ; } else { ) }",
                 "(script (bare (if a (block (let (unknown@10 <#empty@10>) (unknown@12 <#empty@12>))) "
                 "(else (block <}@23>)))) (unknown@24..25 )) (unknown@26..27 }))",
                 "PatternExpected@10 ExpressionExpected@12 MissingCloseBrace@23 UnmatchedCloseParen@24..25 "
                 "UnmatchedCloseBrace@26..27"},
        TreeCase{"x = ;\n]\nif a { b c }",
                 "(script (rebind x (unknown@3 <#empty@3>)) (unknown@6..7 ]) => (if a (block (expr b <;@16>) "
                 "=> c)))",
                 "ExpressionExpected@3 UnmatchedCloseBracket@6..7 MissingSemicolon@16"}));

// Ranges of parsed nodes: the trailing value, else the first statement; for
// `let` statements also the pattern.
struct RangeCase {
  const char* source;
  std::uint64_t start, end;
  std::uint64_t pattern_start = 0, pattern_end = 0;
};

std::ostream& operator<<(std::ostream& os, const RangeCase& c) { return os << "source: " << c.source; }

class NodeRanges : public ::testing::TestWithParam<RangeCase> {};
TEST_P(NodeRanges, Range) {
  const RangeCase& c = GetParam();
  ParsedSource parsed(c.source);
  ASSERT_FALSE(parsed.outcome.cut);
  const Script& script = parsed.script();
  SourceRange range;
  if (script.expression != nullptr) {
    range = range_of(*script.expression);
  } else {
    ASSERT_FALSE(script.statements.empty()) << c.source;
    range = range_of(*script.statements.front());
    if (script.statements.front()->kind == StatementKind::Bind && c.pattern_end != 0) {
      const SourceRange pattern = range_of(*script.statements.front()->as<BindStatement>().pattern);
      EXPECT_EQ(pattern, (SourceRange{c.pattern_start, c.pattern_end})) << c.source;
    }
  }
  EXPECT_EQ(range, (SourceRange{c.start, c.end})) << c.source << " -> " << parsed.tree();
}
INSTANTIATE_TEST_SUITE_P(
    Parser, NodeRanges,
    ::testing::Values(
        RangeCase{"a.b(c)", 0, 6}, RangeCase{"if a {1}", 0, 8}, RangeCase{"if a {1} else if b {2}", 0, 22},
        RangeCase{"while x {} else {1}", 0, 19}, RangeCase{"for i in xs {}", 0, 14},
        RangeCase{"match x {}", 0, 10}, RangeCase{"match x { case 1 {} }", 0, 21}, RangeCase{"x::f(1)", 0, 7},
        RangeCase{"-a", 0, 2}, RangeCase{"a!", 0, 2}, RangeCase{"f\"s\"", 0, 4}, RangeCase{"(a, b)", 0, 6},
        RangeCase{"'$(x)'", 0, 6}, RangeCase{"a ? b : c", 0, 9}, RangeCase{"x is [a]", 0, 8},
        RangeCase{"[1, 2]", 0, 6}, RangeCase{"a[1..2]", 0, 7}, RangeCase{"{ a }", 0, 5},
        RangeCase{"x ? y", 0, 5}, RangeCase{"let x = 1;", 0, 10, 4, 5},
        RangeCase{"pub let x = 1;", 0, 14, 8, 9}, RangeCase{"let x 1", 0, 7, 4, 5},
        RangeCase{"let f = fn(a) {a};", 0, 18}, RangeCase{"mod m {}", 0, 8}, RangeCase{"fn f() {}", 0, 9},
        RangeCase{"pub fn f() {}", 0, 13}, RangeCase{"return 1;", 0, 9}, RangeCase{"a.b = 1", 0, 7},
        RangeCase{"}", 0, 1}, RangeCase{"let mut a = x;", 0, 14, 4, 9}, RangeCase{"let -1 = x;", 0, 11, 4, 6},
        RangeCase{"let [a, ..] = x;", 0, 16, 4, 11}, RangeCase{"let (a: b) = x;", 0, 15, 4, 10},
        RangeCase{"let a or b = x;", 0, 15, 4, 10}, RangeCase{"let not a = x;", 0, 14, 4, 9},
        RangeCase{"let 1..2 = x;", 0, 13, 4, 8}, RangeCase{"let > 1 = x;", 0, 12, 4, 7},
        RangeCase{"let = x;", 0, 8, 3, 3}));

TEST(ScriptLoop, TokenListWithoutEofGetsASyntheticEnd) {
  Arena arena;
  CompileConfig config;
  DiagnosticsCollector collector("x; y", config);
  Tokens tokens;
  for (const Token& t :
       {Token{TokenKind::identifier("x"), 0, 1}, Token{TokenKind::of_operator(Operator::Semicolon), 1, 2},
        Token{TokenKind::identifier("y"), 3, 4}})
    tokens.append(t);
  const UsingTokens using_tokens(tokens, arena);
  const ParseOutcome outcome = parse_script(tokens, arena);
  ASSERT_FALSE(outcome.cut);
  Script& script = *outcome.script;
  ASSERT_TRUE(script.eof.is_owned());
  EXPECT_EQ(dump_script(script), "(script (expr x) => y <#eof@0 !UnexpectedToken>)");
  for (Statement* s : script.statements) collect_diagnostics(*s, collector);
  collect_diagnostics(script.expression, collector);
  script.eof.collect_diagnostics(collector);
  EXPECT_EQ(dump_diagnostics(collector.diagnostics()), "UnexpectedToken@0");
  EXPECT_TRUE(script.eof->kind.is_eof());
}

TEST(TreeDump, TokensOfALexedScript) {
  Arena arena;
  CompileConfig config;
  const LexResult lexed = lex("'a$(x:.2f)b' 0x1F &", config, arena);
  EXPECT_EQ(dump_tokens(lexed.tokens),
            "InterpolatedString(\"a\" {Identifier(x)@4..5} :\".2f\" \"b\")@0..12\n"
            "Number(31 0x1f)@13..17\n"
            "Unknown(Empty !UnknownToken@18..19)@18..19\n"
            "Eof@19\n");
}

}  // namespace
}  // namespace quendal
