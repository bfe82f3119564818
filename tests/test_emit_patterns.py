"""Pattern emission through whole compilations: every pattern form in a test
position (`is`, `match`) and in irrefutable positions (`let`, parameters,
`for`, destructuring assignment), match chains with guards, and the pattern
warnings with their exact ranges."""

import pytest

from quendal import bytecode, core


def compile_source(source):
    data, encoded = core.compile(source, core.Config())
    records = []
    for k in range(0, len(encoded), 5):
        line, col, end_line, end_col, code = encoded[k : k + 5]
        if code == 12000:  # source map
            continue
        # The sources here are one ASCII line: columns are offsets + 1.
        assert line == end_line == 1, source
        records.append((core.get_diagnostic_message(code)[1], col - 1, end_col - 1))
    return data, records


def listing(source):
    data, records = compile_source(source)
    assert data is not None, records
    chunk = bytecode.decode(data)
    return [bytecode.format_instruction(i, chunk.constants) for i in chunk.instructions]


def diagnostics(source, *, keep=None):
    """(name, start, end) of every record except source maps (and, unless
    asked for, the unused-name hints that test sources tend to draw)."""
    _, records = compile_source(source)
    if keep is None:
        return [r for r in records if not r[0].startswith("Unused")]
    return [r for r in records if r[0] in keep]


def span(source, text, occurrence=1):
    """Offsets of the n-th occurrence of `text` in `source`."""
    at = -1
    for _ in range(occurrence):
        at = source.index(text, at + 1)
    return at, at + len(text)


def is_body(pattern):
    """The code of `v is PATTERN` inside `fn t(v) { ... }`: v is r1, the
    pattern's names follow from r2, then the result register (the flag)."""
    lines = listing(f"fn t(v) {{ v is {pattern} }}")
    assert lines[0] == "Func r0, 0, 1" and lines[1].startswith("Func r1, 1, ")
    end = lines.index("FuncEnd")
    assert lines[end - 1].startswith("Return ")
    return lines[2 : end - 1], lines[end - 1]


# --------------------------------------------------------------------------
# `is`: every form with a flag register

IS_CASES = {
    "x": ["Constant r3, #0 (True)", "Assign r2, r1"],
    "_": ["Constant r2, #0 (True)"],
    "1": ["Constant r3, #0 (Number 1.0)", "Same r2, r3, r1"],
    "-2.5": ["Constant r3, #0 (Number -2.5)", "Same r2, r3, r1"],
    '"s"': ['Constant r3, #0 (String "s")', "Same r2, r3, r1"],
    "true": ["Constant r3, #0 (True)", "Same r2, r3, r1"],
    "nil": ["Same r2, r0, r1"],
    "@c": ['GetGlobal r3, "@c"', "Same r2, r3, r1"],
    "not nil": ["Nsame r2, r1, r0"],
    "not 1": ["Constant r3, #0 (Number 1.0)", "Nsame r2, r1, r3"],
    "not [a]": [
        "IsArray r3, r1", "If r3",
        "GetIndex r5, r1, 0", "Constant r4, #0 (True)", "Assign r2, r5", "And r3, r3, r4",
        "Else", "Assign r2, r0", "IfEnd",
        "If r3", "Length r6, r1", "Constant r7, #1 (Number 1.0)", "Eq r3, r6, r7", "IfEnd",
        "Not r3, r3",
    ],
    "> 1": ["Constant r3, #0 (Number 1.0)", "IsNumber r2, r1", "If r2", "Gt r2, r1, r3", "IfEnd"],
    '== "a"': ['Constant r3, #0 (String "a")', "IsString r2, r1", "If r2", "Eq r2, r1, r3", "IfEnd"],
    "!~ 2": ["Constant r3, #0 (Number 2.0)", "IsNumber r2, r1", "If r2", "Naeq r2, r1, r3", "IfEnd"],
    "!= true": ["Constant r3, #0 (True)", "IsBoolean r2, r1", "If r2", "Neq r2, r1, r3", "IfEnd"],
    "== nil": ["Assign r3, r0", "Same r2, r0, r1", "If r2", "Eq r2, r1, r3", "IfEnd"],
    "< @m": [
        'GetGlobal r3, "@m"', "Type r4, r1", "Type r5, r3", "Same r2, r4, r5",
        "If r2", "Lt r2, r1, r3", "IfEnd",
    ],
    "1..5": [
        "IsNumber r2, r1", "If r2", "Constant r3, #0 (Number 1.0)", "Constant r4, #1 (Number 5.0)",
        "Lte r3, r3, r1", "Gte r4, r4, r1", "And r2, r3, r4", "IfEnd",
    ],
    "1..<5": [
        "IsNumber r2, r1", "If r2", "Constant r3, #0 (Number 1.0)", "Constant r4, #1 (Number 5.0)",
        "Lte r3, r3, r1", "Gt r4, r4, r1", "And r2, r3, r4", "IfEnd",
    ],
    "1 or 2": [
        "Constant r3, #0 (Number 1.0)", "Same r2, r3, r1",
        "Constant r5, #1 (Number 2.0)", "Same r4, r5, r1",
        "Or r2, r4, r2",
    ],
    "> 0 and < 9": [
        "Constant r3, #0 (Number 0.0)", "IsNumber r2, r1", "If r2", "Gt r2, r1, r3", "IfEnd",
        "Constant r5, #1 (Number 9.0)", "IsNumber r4, r1", "If r4", "Lt r4, r1, r5", "IfEnd",
        "And r2, r4, r2",
    ],
    # Arrays: elements before the rest by index, the rest as a slice, the
    # length test last.
    "[a, ..r]": [
        "IsArray r4, r1", "If r4",
        "GetIndex r6, r1, 0", "Constant r5, #0 (True)", "Assign r2, r6", "And r4, r4, r5",
        "SliceEnd r7, r1, 1", "Constant r5, #0 (True)", "Assign r3, r7", "And r4, r4, r5",
        "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
        "If r4", "Length r8, r1", "Constant r9, #1 (Number 1.0)", "Gte r4, r8, r9", "IfEnd",
    ],
    "[..r, z]": [
        "IsArray r4, r1", "If r4",
        "GetIndex r6, r1, -1", "Constant r5, #0 (True)", "Assign r3, r6", "And r4, r4, r5",
        "SliceStart r7, r1, -2", "Constant r5, #0 (True)", "Assign r2, r7", "And r4, r4, r5",
        "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
        "If r4", "Length r8, r1", "Constant r9, #1 (Number 1.0)", "Gte r4, r8, r9", "IfEnd",
    ],
    "[a, ..r, b]": [
        "IsArray r5, r1", "If r5",
        "GetIndex r7, r1, 0", "Constant r6, #0 (True)", "Assign r2, r7", "And r5, r5, r6",
        "GetIndex r8, r1, -1", "Constant r6, #0 (True)", "Assign r4, r8", "And r5, r5, r6",
        "Slice r9, r1, 1, -2", "Constant r6, #0 (True)", "Assign r3, r9", "And r5, r5, r6",
        "Else", "Assign r2, r0", "Assign r3, r0", "Assign r4, r0", "IfEnd",
        "If r5", "Length r10, r1", "Constant r11, #1 (Number 2.0)", "Gte r5, r10, r11", "IfEnd",
    ],
    "[..]": ["IsArray r2, r1", "If r2", "Else", "IfEnd"],
    "[]": [
        "IsArray r2, r1", "If r2", "Else", "IfEnd",
        "If r2", "Length r4, r1", "Constant r5, #0 (Number 0.0)", "Eq r2, r4, r5", "IfEnd",
    ],
    # Records: required fields tested with Has, optional ones lower the
    # expected count, the count compared last.
    "(a: x, b?: y)": [
        "IsRecord r4, r1", "Constant r5, #0 (Number 2.0)", "If r4",
        'Has r6, r1, "a"', "If r6", 'Get r7, r1, "a"', "Constant r6, #2 (True)", "Assign r2, r7",
        "Else", "Assign r2, r0", "IfEnd", "And r4, r4, r6",
        'Has r9, r1, "b"', "Not r9, r9", "Sub r5, r5, r9",
        'Get r10, r1, "b"', "Constant r8, #2 (True)", "Assign r3, r10", "And r4, r4, r8",
        "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
        "If r4", "Length r11, r1", "Eq r4, r11, r5", "IfEnd",
    ],
    "(a: x, ..r)": [
        "IsRecord r4, r1", "If r4",
        'Has r5, r1, "a"', "If r5", 'Get r6, r1, "a"', "Constant r5, #1 (True)", "Assign r2, r6",
        "Else", "Assign r2, r0", "IfEnd", "And r4, r4, r5",
        'Omit r7, r1, ["a"]', "Constant r8, #1 (True)", "Assign r3, r7", "And r4, r4, r8",
        "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
    ],
    "(:n)": [
        "IsRecord r3, r1", "Constant r4, #0 (Number 1.0)", "If r3",
        'Has r5, r1, "n"', "If r5", 'Get r6, r1, "n"', "Constant r5, #2 (True)", "Assign r2, r6",
        "Else", "Assign r2, r0", "IfEnd", "And r3, r3, r5",
        "Else", "Assign r2, r0", "IfEnd",
        "If r3", "Length r7, r1", "Eq r3, r7, r4", "IfEnd",
    ],
    '("k": 1, 0: _)': [
        "IsRecord r2, r1", "Constant r3, #0 (Number 2.0)", "If r2",
        'Has r4, r1, "k"', "If r4", 'Get r5, r1, "k"', "Constant r6, #2 (Number 1.0)", "Same r4, r6, r5",
        "Else", "IfEnd", "And r2, r2, r4",
        'Has r7, r1, "0"', "If r7", 'Get r8, r1, "0"', "Constant r7, #4 (True)",
        "Else", "IfEnd", "And r2, r2, r7",
        "Else", "IfEnd",
        "If r2", "Length r9, r1", "Eq r2, r9, r3", "IfEnd",
    ],
    # Positional elements are read by index.
    "(p, q)": [
        "IsRecord r4, r1", "Constant r5, #0 (Number 2.0)", "If r4",
        "HasIndex r6, r1, 0", "If r6", "GetIndex r7, r1, 0", "Constant r6, #1 (True)", "Assign r2, r7",
        "Else", "Assign r2, r0", "IfEnd", "And r4, r4, r6",
        "HasIndex r8, r1, 1", "If r8", "GetIndex r9, r1, 1", "Constant r8, #1 (True)", "Assign r3, r9",
        "Else", "Assign r3, r0", "IfEnd", "And r4, r4, r8",
        "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
        "If r4", "Length r10, r1", "Eq r4, r10, r5", "IfEnd",
    ],
}


# Names each pattern binds: the flag (the function's result register) comes
# right after them.
IS_NAMES = {"x": 1, "not [a]": 1, "[a, ..r]": 2, "[..r, z]": 2, "[a, ..r, b]": 3, "(a: x, b?: y)": 2,
            "(a: x, ..r)": 2, "(:n)": 1, "(p, q)": 2}


@pytest.mark.parametrize("pattern", list(IS_CASES))
def test_is_pattern_listing(pattern):
    body, ret = is_body(pattern)
    assert body == IS_CASES[pattern]
    assert ret == f"Return r{2 + IS_NAMES.get(pattern, 0)}"


def test_is_pattern_warns_about_nothing():
    for pattern in IS_CASES:
        assert diagnostics(f"fn t(v) {{ v is {pattern} }}", keep=("UnnecessaryIrrefutablePattern",
                                                                   "NonNumberInRange",
                                                                   "NonNumberOrStringInComparison")) == []


def test_is_pattern_without_destination_still_tests():
    # A test as a statement gets a flag register of its own: no irrefutable
    # warning, the same code as with a destination.
    lines = listing("fn t(v) { v is 1; }")
    assert lines[2:4] == ["Constant r3, #0 (Number 1.0)", "Same r2, r3, r1"]
    assert diagnostics("fn t(v) { v is 1; }") == []


def test_is_pattern_never_overwrites_the_tested_value():
    # v = v is [a]: v is read in place, so the test runs on a fresh flag that
    # is copied into v at the end.
    lines = listing("fn t(mut v) { v = v is [a]; }")
    assert lines[2] == "IsArray r3, r1"
    assert lines[lines.index("Eq r3, r6, r7") + 2] == "Assign r1, r3"
    assert all(not op.startswith(("IsArray r1", "And r1", "Eq r1")) for op in lines)


def test_pattern_names_of_a_test_are_visible_after_it():
    # The condition's names live in the if's scope: x (r3) is bound by the
    # test and read by the then-branch.
    lines = listing("fn t(v) { if v is [x] { x } else { 0 } }")
    assert lines[2:5] == ["Assign r5, r1", "IsArray r4, r5", "If r4"]
    assert lines[lines.index("Eq r4, r8, r9") + 2 :][:5] == [
        "If r4", "Assign r2, r3", "Else", "Constant r2, #2 (Number 0.0)", "IfEnd",
    ]


# --------------------------------------------------------------------------
# `match`

def test_match_chain_with_guard():
    lines = listing('fn t(v) { match v { case 1 { "a" } case [x] if x > 0 { x } case _ { nil } } }')
    assert lines[2:-4] == [
        # S is v (r1) read in place, M = r3, the result r2 starts as nil
        "Constant r3, #0 (False)", "Assign r2, r0",
        "IfNot r3",
        "Constant r4, #1 (Number 1.0)", "Same r3, r4, r1",
        "If r3", 'Constant r2, #2 (String "a")', "IfEnd",
        "IfEnd",
        "IfNot r3",
        "IsArray r3, r1", "If r3",
        "GetIndex r7, r1, 0", "Constant r6, #3 (True)", "Assign r5, r7", "And r3, r3, r6",
        "Else", "Assign r5, r0", "IfEnd",
        "If r3", "Length r8, r1", "Constant r9, #1 (Number 1.0)", "Eq r3, r8, r9", "IfEnd",
        # the guard runs only when the pattern matched, into the flag
        "If r3", "Constant r10, #4 (Number 0.0)", "Gt r3, r5, r10", "IfEnd",
        "If r3", "Assign r2, r5", "IfEnd",
        "IfEnd",
        "IfNot r3",
        "Constant r3, #3 (True)",
        "If r3", "Assign r2, r0", "IfEnd",
        "IfEnd",
    ]
    assert lines[-4] == "Return r2"


def test_match_arms_are_chained_in_order():
    # Every arm is wrapped in `IfNot M`, so the first matching arm wins and
    # later arms are skipped even when they would match too.
    lines = listing("fn t(v) { match v { case _ { 1 } case _ { 2 } } }")
    assert lines[2:-4] == [
        "Constant r3, #0 (False)", "Assign r2, r0",
        "IfNot r3", "Constant r3, #1 (True)", "If r3", "Constant r2, #2 (Number 1.0)", "IfEnd", "IfEnd",
        "IfNot r3", "Constant r3, #1 (True)", "If r3", "Constant r2, #3 (Number 2.0)", "IfEnd", "IfEnd",
    ]


def test_match_relation_on_wrong_type_is_guarded():
    # `case > 3` compares only after the IsNumber guard succeeded.
    lines = listing('fn t(v) { match v { case > 3 { "big" } } }')
    at = lines.index("IsNumber r3, r1")
    assert lines[at : at + 4] == ["IsNumber r3, r1", "If r3", "Gt r3, r1, r4", "IfEnd"]


def test_match_without_destination_does_not_clear_it():
    lines = listing("fn t(v) { match v { case 1 { 2 } }; }")
    assert lines[2:5] == ["Constant r2, #0 (False)", "IfNot r2", "Constant r3, #1 (Number 1.0)"]
    assert "Assign r0, r0" not in lines


def test_match_result_does_not_clear_a_subject_read_in_place():
    # let x = match x {...}: x is both the subject (read in place) and the
    # destination; the subject is copied before the result is cleared.
    lines = listing("fn t() { let x = match x { case 1 { 2 } }; x }")
    assert lines[2:5] == ["Constant r3, #0 (False)", "Assign r4, r1", "Assign r1, r0"]
    assert "Same r3, r5, r4" in lines


def test_empty_match_warns_on_the_keyword():
    source = "fn t(v) { match v {} }"
    assert listing(source)[2:-4] == ["Constant r3, #0 (False)", "Assign r2, r0"]
    assert diagnostics(source) == [("MatchExpressionHasNoCases", *span(source, "match"))]


def test_match_arm_names_are_scoped_to_the_arm():
    # The same name in two arms is two variables, no duplicate error.
    source = "fn t(v) { match v { case [x] { x } case (a: x) { x } } }"
    data, records = compile_source(source)
    assert data is not None
    assert [r for r in records if r[0] == "DuplicateVariableDeclaration"] == []


# --------------------------------------------------------------------------
# Irrefutable positions

def test_let_array_sets_names_to_nil_for_a_non_array():
    assert listing("let [a, b] = 5; a + b") == [
        "Func r0, 0, 7",
        "Constant r4, #0 (Number 5.0)",
        "IsArray r5, r4", "If r5",
        "GetIndex r6, r4, 0", "Assign r1, r6",
        "GetIndex r7, r4, 1", "Assign r2, r7",
        "Else", "Assign r1, r0", "Assign r2, r0", "IfEnd",
        "Add r3, r1, r2", "Return r3", "FuncEnd",
    ]


def test_let_rest_forms():
    # r1 and r2 are the names, r3 the array; the pattern code follows Freeze.
    lines = listing("let [x, ..rest] = [1, 2, 3];")
    assert lines[lines.index("Freeze") + 1 :] == [
        "IsArray r7, r3", "If r7", "GetIndex r8, r3, 0", "Assign r1, r8", "SliceEnd r9, r3, 1", "Assign r2, r9",
        "Else", "Assign r1, r0", "Assign r2, r0", "IfEnd", "Return r0", "FuncEnd",
    ]
    lines = listing("let [..rest, z] = [1, 2, 3];")
    assert lines[lines.index("Freeze") + 1 :] == [
        "IsArray r7, r3", "If r7", "GetIndex r8, r3, -1", "Assign r2, r8", "SliceStart r9, r3, -2", "Assign r1, r9",
        "Else", "Assign r1, r0", "Assign r2, r0", "IfEnd", "Return r0", "FuncEnd",
    ]


def test_let_record_reads_fields_without_tests():
    assert listing("let (x: a, y?: b) = (x: 1); a + b") == [
        "Func r0, 0, 7",
        "Constant r5, #0 (Number 1.0)", "Record r4", 'Field "x", r5', "Freeze",
        'Get r6, r4, "x"', "Assign r1, r6",
        'Get r7, r4, "y"', "Assign r2, r7",
        "Add r3, r1, r2", "Return r3", "FuncEnd",
    ]


def test_let_record_rest():
    assert listing("let (a: x, ..more) = r;")[2:] == [
        'Get r4, r3, "a"', "Assign r1, r4", 'Omit r5, r3, ["a"]', "Assign r2, r5", "Return r0", "FuncEnd",
    ]


def test_parameters_are_destructured_from_their_registers():
    assert listing("fn f([a, b], (k: c)) { a + b + c } f") == [
        "Func r0, 0, 2",
        "Func r1, 2, 11",
        "IsArray r6, r1", "If r6",
        "GetIndex r7, r1, 0", "Assign r3, r7", "GetIndex r8, r1, 1", "Assign r4, r8",
        "Else", "Assign r3, r0", "Assign r4, r0", "IfEnd",
        'Get r9, r2, "k"', "Assign r5, r9",
        "Add r11, r3, r4", "Add r10, r11, r5", "Return r10",
        "FuncEnd",
        "Assign r2, r1", "Return r2", "FuncEnd",
    ]


def test_for_pattern_is_bound_from_the_loop_register():
    assert listing("for [k, v] in [] { k + v; }") == [
        "Func r0, 0, 2",
        "Array r2", "Freeze",
        "Uninit r1",
        "LoopFor 6, r2, r0",
        "IsArray r2, r1", "If r2",
        "GetIndex r3, r1, 0", "Assign r4, r3", "GetIndex r5, r1, 1", "Assign r6, r5",
        "Else", "Assign r4, r0", "Assign r6, r0", "IfEnd",
        "Add r0, r4, r6",
        "LoopEnd",
        "IfNotInit r1", "Assign r1, r0", "IfEnd",
        "Return r1", "FuncEnd",
    ]


def test_destructuring_assignment_writes_existing_variables():
    assert listing("let mut a = 1; let mut b = 2; [a, b] = [b, a]; a") == [
        "Func r0, 0, 7",
        "Constant r1, #0 (Number 1.0)", "Constant r2, #1 (Number 2.0)",
        "Array r4", "Item r2", "Item r1", "Freeze",
        "IsArray r5, r4", "If r5",
        "GetIndex r6, r4, 0", "Assign r1, r6", "GetIndex r7, r4, 1", "Assign r2, r7",
        "Else", "Assign r1, r0", "Assign r2, r0", "IfEnd",
        "Assign r3, r1", "Return r3", "FuncEnd",
    ]


def test_destructuring_assignment_of_an_outer_variable_uses_upvalues():
    lines = listing("let mut a = 1; fn f(v) { [a] = v; } f")
    assert "SetUpvalue r3, 1, r1" in lines
    assert "SetUpvalue r0, 1, r1" in lines


@pytest.mark.parametrize(
    "source, errors",
    [
        ("let a = 1; [a] = [2]; a", [("ImmutableVariableAssignment", "a", 2), ("VariableDeclaredHere", "a", 1)]),
        ("[nowhere] = [2];", [("UndefinedVariableAssignment", "nowhere", 1)]),
    ],
)
def test_destructuring_assignment_errors(source, errors):
    data, records = compile_source(source)
    assert data is None
    expected = [(name, *span(source, text, n)) for name, text, n in errors]
    assert [r for r in records if r[0] in {e[0] for e in errors}] == expected


# --------------------------------------------------------------------------
# Warnings of refutable forms in irrefutable positions, and their absence

@pytest.mark.parametrize(
    "source, text",
    [
        ("let 1 = 2;", "1"),
        ('let "a" = 2;', '"a"'),
        ("let nil = 2;", "nil"),
        ("let @k = 2;", "@k"),
        ("let > 1 = 2;", "> 1"),
        ("let 1..2 = 3;", "1..2"),
        ("let () = 1;", "()"),
        ("let [1] = [1];", "1"),
        ("let not x = 1; x", "not"),
        ("fn f(1) {} f", "1"),
        ("for 1 in [] {}", "1"),
    ],
)
def test_unnecessary_irrefutable_pattern(source, text):
    assert diagnostics(source, keep=("UnnecessaryIrrefutablePattern",)) == [
        ("UnnecessaryIrrefutablePattern", *span(source, text))
    ]


def test_irrefutable_literal_emits_no_test():
    assert listing("let 1 = 2;") == ["Func r0, 0, 1", "Constant r1, #0 (Number 2.0)", "Return r0", "FuncEnd"]


@pytest.mark.parametrize(
    "source, warnings",
    [
        ("fn t(v) { v is < true }", [("NonNumberOrStringInComparison", "true")]),
        ("fn t(v) { v is >= nil }", [("NonNumberOrStringInComparison", "nil")]),
        ("fn t(v) { v is == true }", []),
        ("fn t(v) { v is != nil }", []),
        ('fn t(v) { v is < "a" }', []),
        ('fn t(v) { v is "a"..5 }', [("NonNumberInRange", '"a"')]),
        ("fn t(v) { v is 0..true }", [("NonNumberInRange", "true")]),
        ("fn t(v) { v is -inf..inf }", []),
        ("fn t(v) { v is 1..@top }", []),
        ("fn t(v) { match v { case 1 {} } }", []),
    ],
)
def test_comparison_and_range_warnings(source, warnings):
    names = ("NonNumberOrStringInComparison", "NonNumberInRange", "UnnecessaryIrrefutablePattern")
    assert diagnostics(source, keep=names) == [(name, *span(source, text)) for name, text in warnings]


def test_range_of_strings_tests_type_first():
    # `x is 1..5` on a string: IsNumber decides before any comparison.
    body, _ = is_body("1..5")
    assert body[:2] == ["IsNumber r2, r1", "If r2"]
    assert body.index("Lte r3, r3, r1") > body.index("If r2")


# A pattern in a `for` loop's iterable binds names of the loop's scope while
# the loop window is not open yet: those names cannot be reached from the
# iterable, so their stores are dropped rather than written at a window
# distance of -1 (a window that does not exist).
@pytest.mark.parametrize(
    "source",
    [
        "let y = 1; for x in [y is z] {}",
        "let y = 1; for x in 0..(y is z and 1) {}",
        "let y = 1; let f = 1; for x in f(y is z, 2) {}",
    ],
)
def test_bindings_in_a_for_iterable_never_reach_an_unopened_window(source):
    data, _ = compile_source(source)
    assert data is not None
    for instruction in bytecode.decode(data).instructions:
        if instruction.name in ("GetUpvalue", "SetUpvalue"):
            assert instruction.operands[1] >= 1, (source, instruction)


def test_a_name_bound_in_a_for_iterable_is_not_initialised_in_the_body():
    # The binding cannot be stored into the loop's window, so a read of it in
    # the body is a read before initialisation, pointing at the binding.
    source = "let y = 1; for x in [y is z] { z; }"
    data, records = compile_source(source)
    assert data is None
    read = source.index("{ z") + 2
    bound = source.index("z]")
    loop_variable = source.index("x in")
    assert records == [
        ("UninitializedVariable", read, read + 1),
        ("VariableDeclaredHere", bound, bound + 1),
        ("UnusedLocalVariable", loop_variable, loop_variable + 1),
    ]


# A bound name that starts with "@" never takes the short path for plain
# names: `mut` with it is refused, and a plain name, even one spelled like
# an "@" name elsewhere in the script, is bound as usual.
@pytest.mark.parametrize(
    "source, expected",
    [
        ("let mut @x = 1;", [("ConstantInBindPattern", 4, 10)]),
        ("let mut @@x = 1;", [("ConstantInBindPattern", 4, 11)]),
        ("let @y = 1; let mut @y = 2;", [("ConstantInBindPattern", 16, 22)]),
        ("let mut y = 1; y = 2;", []),
        ("let @y = 1; let mut y = 2; y = 3;", []),
    ],
)
def test_names_starting_with_at_in_bind_patterns(source, expected):
    assert diagnostics(source, keep={"ConstantInBindPattern"} | {r[0] for r in expected}) == expected
