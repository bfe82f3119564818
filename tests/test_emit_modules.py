"""Module statements through whole compilations: the module value is built
(Module, one Field per `pub` name, Freeze) before the body's code, exported
names count as used, and `pub` anywhere but among a module body's own
statements is an error."""

import pytest

from quendal import bytecode, core


def compile_source(source):
    data, encoded = core.compile(source, core.Config())
    records = []
    for k in range(0, len(encoded), 5):
        line, col, end_line, end_col, code = encoded[k : k + 5]
        if code == 12000:
            continue
        assert line == end_line == 1, source
        records.append((core.get_diagnostic_message(code)[1], col - 1, end_col - 1))
    return data, records


def listing(source):
    data, records = compile_source(source)
    assert data is not None, records
    chunk = bytecode.decode(data)
    return [bytecode.format_instruction(i, chunk.constants) for i in chunk.instructions]


def span(source, text, occurrence=1):
    at = -1
    for _ in range(occurrence):
        at = source.index(text, at + 1)
    return at, at + len(text)


def test_module_value_comes_before_the_body():
    # f and g are hoisted inside the body; only f is a field.
    assert listing("mod m { pub fn f() { g() } fn g() { 1 } }") == [
        "Func r0, 0, 3",
        'Module r1, "m"', 'Field "f", r2', "Freeze",
        "Func r2, 0, 2", "GetUpvalue r2, 1, r3", "CallDyn r1, r2, [], spread []", "Return r1", "FuncEnd",
        "Func r3, 0, 1", "Constant r1, #2 (Number 1.0)", "Return r1", "FuncEnd",
        "Return r0", "FuncEnd",
    ]


def test_every_name_of_an_exported_let_pattern_is_a_field():
    assert listing("mod m { pub let [a, b] = [1, 2]; let c = 3; }") == [
        "Func r0, 0, 10",
        'Module r1, "m"', 'Field "a", r2', 'Field "b", r3', "Freeze",
        "Constant r6, #3 (Number 1.0)", "Constant r7, #4 (Number 2.0)", "Array r5", "Item r6", "Item r7", "Freeze",
        "IsArray r8, r5", "If r8",
        "GetIndex r9, r5, 0", "Assign r2, r9", "GetIndex r10, r5, 1", "Assign r3, r10",
        "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
        "Constant r4, #5 (Number 3.0)",
        "Return r0", "FuncEnd",
    ]


def test_nested_modules_export_each_other():
    assert listing("mod outer { pub mod inner { pub const @x = 1; } } outer") == [
        "Func r0, 0, 4",
        'Module r1, "outer"', 'Field "inner", r3', "Freeze",
        'Module r3, "inner"', 'Field "@x", r4', "Freeze",
        "Constant r4, #3 (Number 1.0)",
        "Assign r2, r1", "Return r2", "FuncEnd",
    ]


def test_module_without_exports_is_an_empty_frozen_value():
    assert listing("mod m { pub let _ = 1; } m") == [
        "Func r0, 0, 3", 'Module r1, "m"', "Freeze", "Constant r3, #1 (Number 1.0)", "Assign r2, r1", "Return r2",
        "FuncEnd",
    ]


def test_exported_names_are_used_and_private_ones_are_not():
    source = "mod m { pub const @shown = 1; const @hidden = 2; pub fn f() {} fn g() {} } m"
    _, records = compile_source(source)
    assert [r for r in records if r[0].startswith("Unused")] == [
        ("UnusedLocalVariable", *span(source, "@hidden")),
        ("UnusedLocalFunction", *span(source, "g")),
    ]


@pytest.mark.parametrize(
    "source, occurrences",
    [
        # Script level: the name stays an ordinary local.
        ("pub const @k = 1; @k", [1]),
        ("pub fn f() {} f", [1]),
        ("pub mod m {} m", [1]),
        # Function bodies and blocks inside a module body are not the body's
        # own statements.
        ("mod m { fn f() { pub const @x = 1; @x } pub fn g() { f() } } m", [1]),
        ("mod m { { pub let y = 1; y; } } m", [1]),
        ("mod m { pub fn f() { mod n { } pub const @z = 1; @z } } m", [2]),
        # One report per declared name of the pattern, none when nothing is
        # declared.
        ("pub let [a, b] = [1, 2]; a + b", [1, 1]),
        ("pub let _ = 1;", []),
    ],
)
def test_unexpected_pub(source, occurrences):
    data, records = compile_source(source)
    expected = [("UnexpectedPub", *span(source, "pub", n)) for n in occurrences]
    assert [r for r in records if r[0] == "UnexpectedPub"] == expected
    assert (data is None) == bool(occurrences)


def test_script_level_pub_const_still_works_as_a_local():
    source = "pub const @k = 1; @k"
    _, records = compile_source(source)
    assert [r[0] for r in records] == ["UnexpectedPub"]  # no unused hint, no undefined name


def test_duplicate_export_is_exported_once():
    source = "mod m { pub const @a = 1; pub const @a = 2; } m"
    data, records = compile_source(source)
    assert data is None
    assert [r for r in records if r[0] in ("DuplicateVariableDeclaration", "VariableDeclaredHere")] == [
        ("DuplicateVariableDeclaration", *span(source, "@a", 2)),
        ("VariableDeclaredHere", *span(source, "@a", 1)),
    ]
