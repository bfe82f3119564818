"""Statements, blocks, functions, loops and conditionals, scopes and
variables, and every error, warning, hint and reference of the emitter with
its exact range."""

import random

import pytest
from emit_support import body, compile_source, diagnostics, listing, span

from quendal import core

# ------------------------------------------------------------------ listings


@pytest.mark.parametrize(
    "source, expected",
    [
        # while with a wanted value: Uninit, result by break, IfNotInit epilogue
        ("let r = while c { break 1; }; r",
         ["Uninit r1", "Loop 2", 'GetGlobal r1, "c"', "IfNot r1", "Break", "IfEnd",
          "Constant r2, #1 (Number 1.0)", "SetUpvalue r2, 1, r1", "Break", "LoopEnd",
          "IfNotInit r1", "Assign r1, r0", "IfEnd", "Assign r2, r1", "Return r2"]),
        # while whose value is not wanted and without else: result register 0
        ("while c { break; } while c { break 1; }",
         ["Loop 1", 'GetGlobal r1, "c"', "IfNot r1", "Break", "IfEnd", "Break", "LoopEnd",
          "Uninit r1", "Loop 2", 'GetGlobal r1, "c"', "IfNot r1", "Break", "IfEnd",
          "Constant r2, #1 (Number 1.0)", "SetUpvalue r2, 1, r1", "Break", "LoopEnd",
          "IfNotInit r1", "Assign r1, r0", "IfEnd", "Return r1"]),
        ("while c {} else { 2 };",
         ["Loop 1", 'GetGlobal r1, "c"', "IfNot r1", "Break", "IfEnd", "LoopEnd",
          "IfNotInit r1", "Constant r1, #1 (Number 2.0)", "IfEnd", "Return r0"]),
        ("let r = for x in xs { break x; } else { 0 }; r",
         ['GetGlobal r3, "xs"', "Uninit r1", "LoopFor 2, r3, r0", "Assign r2, r1",
          "SetUpvalue r2, 1, r1", "Break", "LoopEnd", "IfNotInit r1", "Constant r1, #1 (Number 0.0)",
          "IfEnd", "Assign r2, r1", "Return r2"]),
        ("for i in 1..<n { i; continue; }",
         ["Constant r2, #0 (Number 1.0)", 'GetGlobal r3, "n"', "Uninit r1", "LoopRangeExclusive 2, r2, r3",
          "Assign r2, r1", "Assign r0, r2", "Continue", "LoopEnd", "IfNotInit r1", "Assign r1, r0", "IfEnd",
          "Return r1"]),
        ("for i in 1..2 { i; };",
         ["Constant r1, #0 (Number 1.0)", "Constant r2, #1 (Number 2.0)", "LoopRange 2, r1, r2",
          "Assign r2, r1", "Assign r0, r2", "LoopEnd", "Return r0"]),
        ("let v = loop { break 5; }; v",
         ["Loop 1", "Constant r1, #0 (Number 5.0)", "SetUpvalue r1, 1, r1", "Break", "LoopEnd",
          "Assign r2, r1", "Return r2"]),
        # if / conditional
        ("let r = if c { 1 } else { 2 }; r",
         ['GetGlobal r3, "c"', "If r3", "Constant r1, #1 (Number 1.0)", "Else", "Constant r1, #2 (Number 2.0)",
          "IfEnd", "Assign r2, r1", "Return r2"]),
        ("let r = if c { 1 }; r",
         ['GetGlobal r3, "c"', "If r3", "Constant r1, #1 (Number 1.0)", "Else", "Assign r1, r0", "IfEnd",
          "Assign r2, r1", "Return r2"]),
        ("if c { 1 };", ['GetGlobal r1, "c"', "If r1", "Constant r0, #1 (Number 1.0)", "IfEnd", "Return r0"]),
        ("let r = if a { 1 } else if b { 2 }; r",
         ['GetGlobal r3, "a"', "If r3", "Constant r1, #1 (Number 1.0)", "Else", 'GetGlobal r4, "b"', "If r4",
          "Constant r1, #3 (Number 2.0)", "Else", "Assign r1, r0", "IfEnd", "IfEnd", "Assign r2, r1",
          "Return r2"]),
        ("c ? 1 : 2",
         ['GetGlobal r2, "c"', "If r2", "Constant r1, #1 (Number 1.0)", "Else", "Constant r1, #2 (Number 2.0)",
          "IfEnd", "Return r1"]),
        # blocks
        ("{ let y = 1; y }", ["Constant r2, #0 (Number 1.0)", "Assign r1, r2", "Return r1"]),
        ("let b = { 1; }; b", ["Constant r0, #0 (Number 1.0)", "Assign r1, r0", "Assign r2, r1", "Return r2"]),
        # functions are hoisted and the script ends with its implicit return
        ("g(); fn g() { 1 }",
         ["Func r1, 0, 1", "Constant r1, #0 (Number 1.0)", "Return r1", "FuncEnd", "CallDyn r0, r1, [], spread []",
          "Return r0"]),
        ("fn f() { return 1; } f",
         ["Func r1, 0, 1", "Constant r1, #0 (Number 1.0)", "Return r1", "FuncEnd", "Assign r2, r1", "Return r2"]),
        ("return 5;", ["Constant r1, #0 (Number 5.0)", "Return r1"]),
        ("return;", ["Return r0"]),
        ("let f = fn { it }; f", ["Func r1, 1, 2", "Assign r2, r1", "Return r2", "FuncEnd", "Assign r2, r1",
                                  "Return r2"]),
        ("fn f(a, mut b, ..c) { a; b; c; } f",
         ["FuncVarg r1, 3, 3", "Assign r0, r1", "Assign r0, r2", "Assign r0, r3", "Return r0", "FuncEnd",
          "Assign r2, r1", "Return r2"]),
        ("let f = fn() { f }; f", ["Func r1, 0, 1", "GetUpvalue r1, 1, r1", "Return r1", "FuncEnd",
                                   "Assign r2, r1", "Return r2"]),
        ("const @k = 1; @k", ["Constant r1, #0 (Number 1.0)", "Assign r2, r1", "Return r2"]),
        # assignments
        # `x = 2` is a destructuring assignment into the existing variable
        ("let mut x = 1; x = 2; x", ["Constant r1, #0 (Number 1.0)", "Constant r3, #1 (Number 2.0)", "Assign r1, r3",
                                     "Assign r2, r1", "Return r2"]),
        ("let mut x = 1; x -= 2; x *= x; x", ["Constant r1, #0 (Number 1.0)", "Constant r3, #1 (Number 2.0)",
                                               "Sub r1, r1, r3", "Mul r1, r1, r1", "Assign r2, r1", "Return r2"]),
        ("let mut x = 1; x &&= 2; x ||= 3; x ??= 4; x",
         ["Constant r1, #0 (Number 1.0)", "If r1", "Constant r1, #1 (Number 2.0)", "IfEnd", "IfNot r1",
          "Constant r1, #2 (Number 3.0)", "IfEnd", "IfNil r1", "Constant r1, #3 (Number 4.0)", "IfEnd",
          "Assign r2, r1", "Return r2"]),
        ("let mut x = 1; fn f() { x += 1; } f(); x",
         ["Func r2, 0, 2", "GetUpvalue r1, 1, r1", "Constant r2, #0 (Number 1.0)", "Add r1, r1, r2",
          "SetUpvalue r1, 1, r1", "Return r0", "FuncEnd", "Constant r1, #0 (Number 1.0)",
          "CallDyn r0, r2, [], spread []", "Assign r3, r1", "Return r3"]),
        ("a.b ??= c;", ['GetGlobal r1, "a"', 'Get r2, r1, "b"', "IfNil r2", 'GetGlobal r2, "c"', "IfEnd",
                        'Set r2, r1, "b"', "Return r0"]),
        ("a.0 = 1; a[k] = 2; a[k] ^= 3;",
         ['GetGlobal r1, "a"', "Constant r2, #1 (Number 1.0)", "SetIndex r2, r1, 0", 'GetGlobal r3, "a"',
          'GetGlobal r4, "k"', "Constant r5, #3 (Number 2.0)", "SetDyn r5, r3, r4", 'GetGlobal r6, "a"',
          'GetGlobal r7, "k"', "GetDyn r8, r6, r7", "Constant r9, #4 (Number 3.0)", "Pow r8, r8, r9",
          "SetDyn r8, r6, r7", "Return r0"]),
        # recovered names declare nothing; the rest is emitted as usual
    ],
)
def test_statement_listing(source, expected):
    assert body(source) == expected


def test_destructured_parameters_and_it():
    lines = listing("fn f([a], ..[b]) { a; b; } f")
    assert lines[1] == "FuncVarg r1, 2, 8"
    assert lines[2:4] == ["IsArray r5, r1", "If r5"]


# ----------------------------------------------------------- diagnostics


def named(source):
    return [d for d in diagnostics(source)]


@pytest.mark.parametrize(
    "source, expected",
    [
        # scopes and variables
        ("let a = 1; let a = 2; a",
         [("DuplicateVariableDeclaration", 15, 16), ("VariableDeclaredHere", 4, 5)]),
        ("fn f() {} fn f() {} f", [("DuplicateVariableDeclaration", 13, 14), ("FunctionDeclaredHere", 3, 4)]),
        ("fn g(a, a) { a } g", [("DuplicateVariableDeclaration", 8, 9), ("ParameterDeclaredHere", 5, 6)]),
        ("let a = 1; { let a = 2; a } a", []),
        ("fn f() { x } let x = 1; f", []),
        ("loop { x; break; } let x = 1; x", [("UninitializedVariable", 7, 8), ("VariableDeclaredHere", 23, 24)]),
        ("y; let y = 1; y", [("UninitializedVariable", 0, 1), ("VariableDeclaredHere", 7, 8)]),
        ("let mut x = 1; x = 2;", [("UnusedLocalVariable", 8, 9)]),
        ("let x = 1;", [("UnusedLocalVariable", 4, 5)]),
        ("let f = fn {};", [("UnusedLocalFunction", 4, 5)]),
        ("fn f() {}", [("UnusedLocalFunction", 3, 4)]),
        ("const @c = 1;", [("UnusedLocalVariable", 6, 8)]),
        ("for x in y {}", [("UnusedLocalVariable", 4, 5)]),
        ("fn f(a) {} f", [("UnusedLocalVariable", 5, 6)]),
        ("fn f(..a) {} f", [("UnusedLocalVariable", 7, 8)]),
        ("fn f([a]) {} f", [("UnusedLocalVariable", 6, 7)]),
        ("fn f() {} let g = fn { 1 }; f; g", []),
        ("x is [a] && a", []),
        ("{ let a = 1; let b = 2; }", [("UnusedLocalVariable", 6, 7), ("UnusedLocalVariable", 17, 18)]),
        # assignments
        ("let x = 1; x = 2; x", [("ImmutableVariableAssignment", 11, 12), ("VariableDeclaredHere", 4, 5)]),
        ("x = 1;", [("UndefinedVariableAssignment", 0, 1)]),
        ("global.x = 1;", [("UnassignableExpression", 0, 8)]),
        ("global[k] = 1;", [("UnassignableExpression", 0, 9)]),
        ("f() = 1;", [("UnassignableExpression", 0, 3)]),
        ("y; let mut y = 1; y = 2; y", [("UninitializedVariable", 0, 1), ("VariableDeclaredHere", 11, 12)]),
        # control flow
        ("break;", [("UnexpectedBreak", 0, 6)]),
        ("break 1;", [("UnexpectedBreak", 0, 8)]),
        ("continue;", [("UnexpectedContinue", 0, 9)]),
        ("loop { let g = fn { break; }; g(); break; }", [("UnexpectedBreak", 20, 26)]),
        ("while c { let g = fn { continue; }; g(); }", [("UnexpectedContinue", 23, 32)]),
        # globals
        ("null; Null(); undefined; global.null; nil; None; NULL; Nothing",
         [("MisleadingNilVariable", 0, 4), ("MisleadingNilVariable", 6, 10), ("MisleadingNilVariable", 14, 23),
          ("MisleadingNilVariable", 43, 47), ("MisleadingNilVariable", 49, 53), ("MisleadingNilVariable", 55, 62)]),
        ("global", [("MisuseOfGlobalKeyword", 0, 6)]),
        ("global + 1", [("MisuseOfGlobalKeyword", 0, 6), ("MisuseOfGlobalKeyword", 0, 6)]),
        ("let g = global;", [("MisuseOfGlobalKeyword", 8, 14), ("UnusedLocalVariable", 4, 5)]),
        # operators and literals
        ("1 + \"a\";", [("NonNumberInArithmetic", 4, 7)]),
        ("x + \"a\"; x + y;", [("NonNumberInArithmetic", 4, 7)]),
        ("\"a\" - 1;", [("NonNumberInArithmetic", 0, 3)]),
        ("true * false;", [("NonNumberInArithmetic", 0, 4), ("NonNumberInArithmetic", 7, 12)]),
        ("x in 3; x in global; x not in \"s\";", [("NonCompoundIn", 5, 6), ("NonCompoundIn", 30, 33)]),
        ("true and 1;", [("NonBooleanInLogical", 9, 10), ("PreferLogicalOperatorAnd", 5, 8)]),
        ("1 or x;", [("NonBooleanInLogical", 0, 1), ("PreferLogicalOperatorOr", 2, 4)]),
        ("not 2;", [("NonBooleanInLogical", 4, 5), ("PreferLogicalOperatorNot", 0, 3)]),
        ("!\"s\"; 1 && x; x || nil;", [("NonBooleanInLogical", 1, 4), ("NonBooleanInLogical", 6, 7),
                                      ("NonBooleanInLogical", 19, 22)]),
        ("1 < true; \"a\" >= 2; 1 == \"a\"; nil =~ x;",
         [("NonNumberOrStringInComparison", 4, 8), ("NonNumberOrStringInComparison", 30, 33)]),
        ("nan + inf; -\"a\";", [("NonNumberInArithmetic", 12, 15)]),
        ("\"a\"(); (1)(); \"x${1}\"(); 1\"s\";",
         [("LiteralNotCallable", 0, 3), ("UnnecessaryParentheses", 7, 10), ("LiteralNotCallable", 14, 21),
          ("LiteralNotCallable", 25, 26)]),
        ("\"s\"[0]; \"s\".y; \"${1}\"[0];",
         [("LiteralNotIndexable", 0, 3), ("LiteralNotIndexable", 8, 11), ("LiteralNotIndexable", 15, 21)]),
        ("(x); ((x)); (1 + 2); ([1]); (f()); (x!); (a.b); (a[0]); (a[0..1]); (x::f()); (\"a\");",
         [("UnnecessaryParentheses", 0, 3), ("UnnecessaryParentheses", 5, 10), ("UnnecessaryParentheses", 6, 9),
          ("UnnecessaryParentheses", 21, 26), ("UnnecessaryParentheses", 28, 33),
          ("UnnecessaryParentheses", 35, 39), ("UnnecessaryParentheses", 41, 46),
          ("UnnecessaryParentheses", 48, 54), ("UnnecessaryParentheses", 67, 75),
          ("UnnecessaryParentheses", 77, 82)]),
        ("({\"a\": 1});", [("PreferParenthesesForRecordLiteral", 1, 9)]),
        ("(a: 1); {\"a\": 1};", [("PreferParenthesesForRecordLiteral", 8, 16)]),
        ("[1..\"a\"]; [nan..1]; [1..inf]; a[\"x\"..2]; a[..true];",
         [("NonNumberInRange", 4, 7), ("NonNumberInRange", 11, 14), ("NonNumberInRange", 32, 35),
          ("NonNumberInRange", 45, 49)]),
        ("(:x, :(1));", [("UnnecessaryParentheses", 6, 9), ("BadOmitKeyRecordExpression", 6, 9)]),
        ("if 1 {}; while \"s\" {}; if true {};", [("NonBooleanInLogical", 3, 4), ("NonBooleanInLogical", 15, 18)]),
        ("3 ? 1 : 2", [("PreferIfExpression", 0, 9), ("NonBooleanInLogical", 0, 1)]),
        ("c ? 1 + \"a\" : 2", [("PreferIfExpression", 0, 15), ("NonNumberInArithmetic", 8, 11)]),
        ("if c { 1 + \"a\" } else if d { 2 - \"b\" };",
         [("NonNumberInArithmetic", 11, 14), ("NonNumberInArithmetic", 33, 36)]),
    ],
)
def test_diagnostics(source, expected):
    assert named(source) == expected


def test_errors_drop_the_chunk_and_warnings_do_not():
    assert compile_source("x = 1;")[0] is None
    assert compile_source("1 + \"a\"")[0] is not None
    assert compile_source("let x = 1;")[0] is not None


@pytest.mark.parametrize(
    "source, expected",
    [
        ("?x", [("EmitterError", 0, 1)]),
        ("fn _() {}", [("UnexpectedUnderscore", 3, 4)]),
        ("fn global() {}", [("UnexpectedGlobal", 3, 9)]),
        ("const try = 1;", [("InvalidReservedKeyword", 6, 9)]),
        ("mod use {}", [("InvalidReservedKeyword", 4, 7)]),
        ("let x = ?1; x", [("EmitterError", 8, 9)]),
    ],
)
def test_recovered_forms_compile_without_internal_failure(source, expected):
    assert named(source) == expected


def test_random_token_sequences_always_compile():
    vocabulary = (
        "let mut const fn mod pub if else while loop for in match case break continue return is and or not "
        "global _ type true false nil nan inf try use op ( ) [ ] { } , ; : ? ?: :: . .. ..< -> + - * / % ^ ! "
        "&& || ?? = == != =~ !~ < <= > >= += -= ??= &&= ||= x y f it null @c a 0 1 2.5 1e999 0x10".split()
    ) + ['"s"', "'t $x u'", '"${x}"', "`q`", "'a", "\"${", "$"]
    rng = random.Random(20240611)
    config = core.Config()
    for _ in range(3000):
        source = " ".join(rng.choice(vocabulary) for _ in range(rng.randint(1, 40)))
        data, encoded = core.compile(source, config)
        assert data is None or isinstance(data, bytes)
        assert len(encoded) % 5 == 0


# The declaration pre-pass walks the expressions of every statement for the
# forms it reports or declares; without tags it passes over statements the
# parser found none in. Each such form, in each kind of statement, in each
# kind of body: with tags off the records must be those of tags on (where
# every statement is walked), less the tags and tag references.
PRE_PASS_FORMS = [
    "(x)", "((x + 1))", "(\"a\")", "1 + \"a\"", "x * true", "-\"a\"", "not 2", "x in 3", "1 < nil",
    "\"a\"()", "(1)()", "\"s\"[0]", "\"s\".y", "1\"s\"", "\"${1}\"[0]", "r::(\"a\")()",
    "\"x$((y))\"", "\"x$(1 + \"a\")\"", "\"o$(\"i$((z))\")\"", "\"x${(y)}\"", "x is [a, b]",
    "f(x is (c: a))",
    "[(x), 1 + \"a\"]", "(k: (x))", "g(1 or x)",
]
PRE_PASS_STATEMENTS = [
    "let v = {};", "let mut w = 0; w = {};", "const c = {};", "q.w = {};", "q[{}] = 1;", "{};",
    "return {};", "loop {{ break {}; }}", "let [m, n] = {};", "h({});",
]
PRE_PASS_BODIES = ["{}", "fn f(x) {{ {} a; }}", "if x {{ {} }}", "let g = fn() {{ {} }};", "match x {{ case _ {{ {} }} }}"]


def _records_without_tags(source, tags):
    from quendal import _engine

    encoded = _engine.compile(source, report_tags=tags)[1]
    return [tuple(encoded[k : k + 5]) for k in range(0, len(encoded), 5)
            if not 10000 <= encoded[k + 4] < 12000]


@pytest.mark.parametrize("shape", PRE_PASS_BODIES)
@pytest.mark.parametrize("statement", PRE_PASS_STATEMENTS)
def test_pre_pass_reports_the_same_with_and_without_tags(statement, shape):
    for form in PRE_PASS_FORMS:
        source = shape.format(statement.format(form) if "{}" in statement else statement)
        quiet = shape.format(statement.format("x") if "{}" in statement else statement)
        off = _records_without_tags(source, False)
        assert off == _records_without_tags(source, True), source
        # The form draws something the plain name does not.
        assert off != _records_without_tags(quiet, False), source


# The same for the conditions of `if` and `while`, which the parser marks
# quiet on their own.
@pytest.mark.parametrize("shape", ["if {} {{ }}", "while {} {{ }}", "if x {{ }} else if {} {{ }}",
                                   "fn f(x) {{ if {} {{ a }} else {{ x }} }}", "loop {{ while {} {{ break; }} }}"])
def test_pre_pass_reports_the_same_for_conditions(shape):
    for form in PRE_PASS_FORMS:
        source = shape.format(form)
        off = _records_without_tags(source, False)
        assert off == _records_without_tags(source, True), source
        assert off != _records_without_tags(shape.format("x"), False), source
