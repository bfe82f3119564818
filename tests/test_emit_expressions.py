"""Expression emission through whole compilations: exact listings of every
expression form, the chunk layout (header, empty script, wide forms,
constant pool) and the source map."""

import struct

import pytest
from emit_support import body, compile_source, decoded, diagnostics, listing, records

from quendal import bytecode


@pytest.mark.parametrize(
    "source, expected",
    [
        # literals
        ('"a";', ['Constant r0, #0 (String "a")', "Return r0"]),
        ("true; false;", ["Constant r0, #0 (True)", "Constant r0, #1 (False)", "Return r0"]),
        ("nil;", ["Assign r0, r0", "Return r0"]),
        ("7; 2.5;", ["Constant r0, #0 (Number 7.0)", "Constant r0, #1 (Number 2.5)", "Return r0"]),
        ("nan; inf;", ["Constant r0, #0 (Number nan)", "Constant r0, #1 (Number inf)", "Return r0"]),
        # prefix operators: literals fold, everything else is an instruction
        ("-5; -0; +3;", ["Constant r0, #0 (Number -5.0)", "Constant r0, #1 (Number -0.0)",
                         "Constant r0, #2 (Number 3.0)", "Return r0"]),
        ("-inf;", ["Constant r0, #0 (Number -inf)", "Return r0"]),
        ("-x;", ['GetGlobal r1, "x"', "Neg r0, r1", "Return r0"]),
        ("+x;", ['GetGlobal r1, "x"', "Pos r0, r1", "Return r0"]),
        ("!x;", ['GetGlobal r1, "x"', "Not r0, r1", "Return r0"]),
        ("-(5);", ["Constant r1, #0 (Number 5.0)", "Neg r0, r1", "Return r0"]),
        # binary operators: operands by emit_expression_reg, one instruction
        ("let a = 1; a + a * 2",
         ["Constant r1, #0 (Number 1.0)", "Constant r4, #1 (Number 2.0)", "Mul r3, r1, r4", "Add r2, r1, r3",
          "Return r2"]),
        ("let a = 1; a - a - a",
         ["Constant r1, #0 (Number 1.0)", "Sub r3, r1, r1", "Sub r2, r3, r1", "Return r2"]),
        ("let a = 1; ((a - a)) - a",
         ["Constant r1, #0 (Number 1.0)", "Sub r3, r1, r1", "Sub r2, r3, r1", "Return r2"]),
        ("let a = 1; a / a % a ^ a",
         ["Constant r1, #0 (Number 1.0)", "Div r3, r1, r1", "Pow r4, r1, r1", "Mod r2, r3, r4", "Return r2"]),
        # short circuits: a working register when the value is not wanted
        ("a && b;", ['GetGlobal r1, "a"', "If r1", 'GetGlobal r1, "b"', "ToBoolean r1, r1", "IfEnd",
                     "Return r0"]),
        ("a || b;", ['GetGlobal r1, "a"', "IfNot r1", 'GetGlobal r1, "b"', "ToBoolean r1, r1", "IfEnd",
                     "Return r0"]),
        ("a ?? b;", ['GetGlobal r1, "a"', "IfNil r1", 'GetGlobal r1, "b"', "IfEnd", "Return r0"]),
        ("a and b", ['GetGlobal r1, "a"', "If r1", 'GetGlobal r1, "b"', "ToBoolean r1, r1", "IfEnd",
                     "Return r1"]),
        ("x in y;", ['GetGlobal r1, "x"', 'GetGlobal r2, "y"', "In r0, r1, r2", "Return r0"]),
        ("x not in y;", ['GetGlobal r1, "x"', 'GetGlobal r2, "y"', "In r0, r1, r2", "Not r0, r0",
                         "Return r0"]),
        ("x in global;", ['GetGlobal r1, "x"', "InGlobal r0, r1", "Return r0"]),
        ("x not in global;", ['GetGlobal r1, "x"', "InGlobal r0, r1", "Not r0, r0", "Return r0"]),
        # accesses
        ("a.b;", ['GetGlobal r1, "a"', 'Get r0, r1, "b"', "Return r0"]),
        ("a.0", ['GetGlobal r1, "a"', "GetIndex r1, r1, 0", "Return r1"]),
        ("a[1];", ['GetGlobal r1, "a"', "Constant r2, #1 (Number 1.0)", "GetDyn r0, r1, r2", "Return r0"]),
        ("a[1..2];", ['GetGlobal r1, "a"', "Constant r2, #1 (Number 1.0)", "Constant r3, #2 (Number 2.0)",
                      "SliceDyn r0, r1, r2, r3", "Return r0"]),
        ("a[..<2];", ['GetGlobal r1, "a"', "Constant r2, #1 (Number 2.0)", "SliceExclusiveDyn r0, r1, r0, r2",
                      "Return r0"]),
        ("a[1..];", ['GetGlobal r1, "a"', "Constant r2, #1 (Number 1.0)", "SliceDyn r0, r1, r2, r0",
                     "Return r0"]),
        ("a!;", ['GetGlobal r1, "a"', "AssertNonNil r1", "Return r0"]),
        ("global.x;", ['GetGlobal r0, "x"', "Return r0"]),
        ("global.0;", ['GetGlobal r0, "0"', "Return r0"]),
        ('global["y"];', ['Constant r1, #0 (String "y")', "GetGlobalDyn r0, r1", "Return r0"]),
        # interpolated strings
        ('"a${1}b"', ['Constant r2, #0 (String "a")', "Constant r3, #1 (Number 1.0)",
                      'Constant r4, #2 (String "b")', "Concat r1, [r2, r3, r4]", "Return r1"]),
        ('"${1}"', ["Constant r2, #0 (Number 1.0)", 'Format r1, r2, ""', "Return r1"]),
        # groups are looked through
        ("(((1)))", ["Constant r1, #0 (Number 1.0)", "Return r1"]),
        # a recovered parse error is nil (the chunk is dropped, see the error tests)
    ],
)
def test_expression_listing(source, expected):
    assert body(source) == expected


def test_relations_each_have_their_instruction():
    lines = body("let a = 1; [a == a, a != a, a =~ a, a !~ a, a > a, a >= a, a < a, a <= a]")
    ops = [line.split()[0] for line in lines if line.split()[0] not in ("Constant", "Item", "Array", "Freeze",
                                                                        "Return")]
    assert ops == ["Eq", "Neq", "Aeq", "Naeq", "Gt", "Gte", "Lt", "Lte"]


def test_array_literal_with_spreads_and_ranges():
    assert body("[1, ..a, 1..3, 1..<3, a..b, a..<b, -2..-1]") == [
        "Constant r2, #0 (Number 1.0)",
        'GetGlobal r3, "a"',
        'GetGlobal r4, "a"',
        'GetGlobal r5, "b"',
        'GetGlobal r6, "a"',
        'GetGlobal r7, "b"',
        "Array r1",
        "Item r2",
        "Spread r3",
        "ItemRange 1, 3",
        "ItemRange 1, 2",
        "ItemRangeDyn r4, r5",
        "ItemRangeExclusiveDyn r6, r7",
        "ItemRange -2, -1",
        "Freeze",
        "Return r1",
    ]


def test_exclusive_range_ending_at_the_smallest_integer_is_computed():
    lines = body("[0..<-2147483648]")
    assert "ItemRangeExclusiveDyn r2, r3" in lines and not any(l.startswith("ItemRange ") for l in lines)
    assert body("[0..<-2147483647]")[1] == "ItemRange 0, -2147483648"


def test_record_literal_fields():
    assert body('(a: 1, "b": 2, 0: 3, x, ..y, c?: 4, 5?: 6)') == [
        "Constant r2, #0 (Number 1.0)",
        "Constant r3, #1 (Number 2.0)",
        "Constant r4, #2 (Number 3.0)",
        'GetGlobal r5, "x"',
        'GetGlobal r6, "y"',
        "Constant r7, #5 (Number 4.0)",
        "Constant r8, #6 (Number 6.0)",
        "Record r1",
        'Field "a", r2',
        'Field "b", r3',
        "FieldIndex 0, r4",
        "FieldIndex 3, r5",
        "Spread r6",
        'FieldOpt "c", r7',
        "FieldOptIndex 5, r8",
        "Freeze",
        "Return r1",
    ]


def test_record_with_omitted_keys_and_expression_keys():
    assert body('(:x, :a.b, :a.0, "k${1}": 2, 9)') == [
        'GetGlobal r2, "x"',
        'GetGlobal r3, "a"',
        'Get r3, r3, "b"',
        'GetGlobal r4, "a"',
        "GetIndex r4, r4, 0",
        'Constant r6, #3 (String "k")',
        "Constant r7, #4 (Number 1.0)",
        "Concat r5, [r6, r7]",
        "Constant r8, #5 (Number 2.0)",
        "Constant r9, #6 (Number 9.0)",
        "Record r1",
        'Field "x", r2',
        'Field "b", r3',
        'Field "0", r4',
        "FieldDyn r5, r8",
        "FieldIndex 5, r9",
        "Freeze",
        "Return r1",
    ]


def test_calls():
    assert body("f(..xs, y); r::f(..xs); g();") == [
        'GetGlobal r1, "xs"',
        'GetGlobal r2, "y"',
        'Call r0, "f", [r1, r2], spread [0]',
        'GetGlobal r3, "r"',
        'GetGlobal r4, "xs"',
        'Call r0, "f", [r3, r4], spread [1]',
        'Call r0, "g", [], spread []',
        "Return r0",
    ]


def test_computed_callee_is_guarded_and_local_callee_is_not():
    assert body("obj.method(1); let f = 1; f(); f!(); global.g();") == [
        'GetGlobal r2, "obj"',
        'Get r2, r2, "method"',
        "IfNotNil r2",
        "Constant r3, #2 (Number 1.0)",
        "CallDyn r0, r2, [r3], spread []",
        "Else",
        "Assign r0, r0",
        "IfEnd",
        "Constant r1, #2 (Number 1.0)",
        "CallDyn r0, r1, [], spread []",
        "Assign r4, r1",
        "AssertNonNil r4",
        "CallDyn r0, r4, [], spread []",
        'Call r0, "g", [], spread []',
        "Return r0",
    ]


@pytest.mark.parametrize(
    "scope",
    [
        pytest.param("let f = 1; let r = 2; {call}; f;", id="innermost_scope"),
        pytest.param("let f = 1; let r = 2; {{ {call}; }} f;", id="enclosing_scope"),
        pytest.param("let f = 1; let r = 2; fn g() {{ {call} }} f;", id="enclosing_function"),
    ],
)
def test_extension_callee_is_read_as_a_plain_callee(scope):
    # `r::f(3)` passes the receiver as argument 0 and otherwise reads its
    # callee exactly as `f(r, 3)` does: in place when it is a local of the
    # innermost scope, into a fresh register otherwise.
    plain = body(scope.format(call="f(r, 3)"))
    extension = body(scope.format(call="r::f(3)"))
    assert extension == plain
    assert any(line.startswith("CallDyn") for line in plain)


def test_extension_callee_in_place():
    assert body("let f = 1; let r = 2; r::f(3);") == [
        "Constant r1, #0 (Number 1.0)",
        "Constant r2, #1 (Number 2.0)",
        "Constant r3, #2 (Number 3.0)",
        "CallDyn r0, r1, [r2, r3], spread []",
        "Return r0",
    ]


def test_type_calls():
    assert body("type(1); x::type();") == [
        "Constant r1, #0 (Number 1.0)",
        "Type r0, r1",
        'GetGlobal r2, "x"',
        "Type r0, r2",
        "Return r0",
    ]


def test_tagged_strings():
    lines = body('f"a";')
    assert lines == [
        'Constant r2, #0 (String "a")',
        "Array r1",
        "Item r2",
        "Freeze",
        'Call r0, "f", [r1], spread []',
        "Return r0",
    ]
    lines = body('f"x${1}y";')
    assert lines == [
        "Constant r3, #0 (Number 1.0)",
        "Record r2",
        "FieldIndex 0, r3",
        "Freeze",
        'Constant r4, #1 (String "x")',
        'Constant r5, #2 (String "y")',
        "Array r1",
        "Item r4",
        "Item r5",
        "Freeze",
        'Call r0, "f", [r1, r2], spread []',
        "Return r0",
    ]


def test_long_operator_chain_compiles():
    source = "let a = 1; " + " + ".join(["a"] * 200)
    chunk = decoded(source)
    adds = [i for i in chunk.instructions if i.name == "Add"]
    assert len(adds) == 199
    # the innermost operation comes first and writes the last chain register
    assert bytecode.format_instruction(adds[0]) == "Add r200, r1, r1"
    assert bytecode.format_instruction(adds[-1]) == "Add r2, r3, r1"


# --------------------------------------------------------------------- chunk


def test_empty_script_is_19_bytes():
    data, encoded = compile_source("")
    assert data == bytes([15, 0, 0, 0, 7, 0, 0, 0, 93, 0, 0, 0, 96, 0, 95, 0, 0, 0, 0])
    assert encoded == [1, 1, 1, 1, 12000] * 3


@pytest.mark.parametrize("source", ["", "let x = 1; x + 2", 'f("a", [1, 2], (b: 3))', "fn f() { 1 } f()"])
def test_header_invariants_and_one_source_map_per_instruction(source):
    data, _ = compile_source(source)
    total, code_length = struct.unpack_from("<II", data)
    (constants_length,) = struct.unpack_from("<I", data, 8 + code_length)
    assert total == len(data) - 4
    assert code_length + 12 + constants_length == len(data)
    chunk = bytecode.decode(data)
    maps = [r for r in records(source) if r[0] == "SourceMap"]
    assert len(maps) == len(chunk.instructions)
    assert chunk.instructions[0].name == "Func" and chunk.instructions[-1].name == "FuncEnd"


def test_source_map_ranges_follow_the_nodes():
    source = "let x = 1; x + 2"
    maps = [r[1:] for r in records(source) if r[0] == "SourceMap"]
    # Func header, the literal 1, the literal 2, the operator, Return, FuncEnd
    assert maps == [(0, 0), (8, 9), (15, 16), (13, 14), (0, 16), (0, 16)]


def test_register_256_makes_instructions_wide():
    source = " ".join(f"let v{i} = 0;" for i in range(256)) + " v255"
    chunk = decoded(source)
    first, *_, constant, assign, ret, end = chunk.instructions
    assert first.wide and bytecode.format_instruction(first) == "Func r0, 0, 257"
    assert constant.wide and assign.wide and ret.wide and not end.wide
    previous = chunk.instructions[-5]
    assert not previous.wide and bytecode.format_instruction(previous, chunk.constants).startswith("Constant r255")


def test_constant_index_128_makes_the_call_wide():
    data, _ = compile_source(" ".join(f"f{i}();" for i in range(130)))
    chunk = bytecode.decode(data)
    calls = [i for i in chunk.instructions if i.name == "Call"]
    assert [c.wide for c in calls[126:130]] == [False, False, True, True]
    code = data[8:]
    wide = calls[128]
    assert code[wide.offset] == 128 + 97
    assert code[wide.offset + 1 : wide.offset + 9] == bytes([0, 0, 0, 0, 128, 0, 0, 0])


def test_loop_body_of_200_registers():
    data, _ = compile_source("loop { " + " ".join(f"let v{i} = {i};" for i in range(200)) + " break; }")
    code = data[8:]
    assert code[4:9] == bytes([206, 200, 0, 0, 0])


def test_constant_pool_deduplicates_but_keeps_signed_zeros_apart():
    chunk = decoded('"a"; "a"; 1; 1.0; 0.0; -0.0; nan; nan; "b"')
    assert [bytecode.format_constant(c) for c in chunk.constants] == [
        'String "a"', "Number 1.0", "Number 0.0", "Number -0.0", "Number nan", 'String "b"']
