"""The chunk decoder and listing (quendal.bytecode), its generated operation
table, and the `dis` command."""

import importlib.util
import math
import re
import struct
import sys
from pathlib import Path

import pytest

from quendal import bytecode, dis
from quendal._opcodes import OPCODES

ROOT = Path(__file__).resolve().parents[1]


def le32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def wide(*values):
    return b"".join(le32(v) for v in values)


def num(x):
    return b"\x04" + struct.pack("<d", x)


def string(s):
    raw = s.encode("utf-8")
    return b"\x05" + le32(len(raw)) + raw


def chunk(code, constants=b""):
    body = le32(len(code)) + code + le32(len(constants)) + constants
    return le32(len(body)) + body


# ---------------------------------------------------------------------------
# The generated table


def _load_generator():
    spec = importlib.util.spec_from_file_location("gen_opcodes", ROOT / "scripts" / "gen_opcodes.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_generated_table_matches_opcode_def():
    gen = _load_generator()
    rows = gen.parse((ROOT / "core/src/emitter/opcode.def").read_text(encoding="utf-8"))
    assert (ROOT / "python/quendal/_opcodes.py").read_text(encoding="utf-8") == gen.render(rows)
    assert [(name, layout) for name, _, layout in rows] == list(OPCODES)
    assert len(OPCODES) == 99


def test_generated_table_matches_op_codes():
    core = pytest.importorskip("quendal.core")
    assert core.op_codes() == {name: number for number, (name, _) in enumerate(OPCODES)}


def test_pool_operand_positions_are_parameters():
    for name, positions in bytecode.POOL_OPERANDS.items():
        layout = OPCODES[bytecode.OPCODE_NUMBERS[name]][1]
        for p in positions:
            assert layout[p] in "PM", name


# ---------------------------------------------------------------------------
# Decoding


def test_short_instructions_and_listing():
    code = bytes([93, 0, 0, 2, 38, 1, 0, 1, 2, 1, 1, 96, 2, 95])
    c = bytecode.decode(chunk(code, num(1.0)))
    assert c.header == bytecode.Header(len(code) + 4 + 9 + 4, len(code), 9)
    got = [(i.offset, i.name, i.wide, i.operands, i.size) for i in c.instructions]
    assert got == [
        (0, "Func", False, (0, 0, 2), 4),
        (4, "Constant", False, (1, 0), 3),
        (7, "Add", False, (2, 1, 1), 4),
        (11, "Return", False, (2,), 2),
        (13, "FuncEnd", False, (), 1),
    ]
    assert c.constants == [bytecode.Constant(4, 1.0)]
    assert bytecode.render(c).splitlines() == [
        "chunk: 35 bytes, code 14 bytes, constants 9 bytes (1 entries)",
        "     0   Func r0, 0, 2",
        "     4     Constant r1, #0 (Number 1.0)",
        "     7     Add r2, r1, r1",
        "    11     Return r2",
        "    13   FuncEnd",
        "constants:",
        "     0   Number 1.0",
    ]


@pytest.mark.parametrize(
    "code, name, operands, text",
    [
        (bytes([166]) + wide(1, 200), "Constant", (1, 200), "Constant r1, #200 (no such constant)"),
        (bytes([68, 2, 3, 0x80]), "GetIndex", (2, 3, -128), "GetIndex r2, r3, -128"),
        (bytes([196]) + wide(2, 3, -129), "GetIndex", (2, 3, -129), "GetIndex r2, r3, -129"),
        (bytes([200]) + wide(1, 2, 0, -1), "Slice", (1, 2, 0, -1), "Slice r1, r2, 0, -1"),
        (bytes([170]) + wide(1, 2, 70000), "GetUpvalue", (1, 2, 70000), "GetUpvalue r1, 2, r70000"),
        (bytes([224]) + wide(0xFFFFFFFF), "Return", (0xFFFFFFFF,), "Return r4294967295"),
        (bytes([97, 2, 0, 1, 3, 0]), "Call", (2, 0, 1, [3], 0, []), 'Call r2, "print", [r3], spread []'),
        (
            bytes([225]) + wide(2, 0, 2, 3, 4, 1, -129),
            "Call",
            (2, 0, 2, [3, 4], 1, [-129]),
            'Call r2, "print", [r3, r4], spread [-129]',
        ),
        (bytes([98, 1, 2, 1, 3, 1, 0]), "CallDyn", (1, 2, 1, [3], 1, [0]), "CallDyn r1, r2, [r3], spread [0]"),
        (
            bytes([226]) + wide(1, 2, 0, 0),
            "CallDyn",
            (1, 2, 0, [], 0, []),
            "CallDyn r1, r2, [], spread []",
        ),
        (bytes([23, 1, 3, 2, 3, 4]), "Concat", (1, 3, [2, 3, 4]), "Concat r1, [r2, r3, r4]"),
        (bytes([151]) + wide(1, 1, 256), "Concat", (1, 1, [256]), "Concat r1, [r256]"),
        (bytes([55, 1, 2, 2, 0, 1]), "Omit", (1, 2, 2, [0, 1]), 'Omit r1, r2, ["print", "x"]'),
        (bytes([48, 1, 5]), "Field", (1, 5), 'Field "x", r5'),
        (bytes([24, 1, 2, 1]), "Format", (1, 2, 1), 'Format r1, r2, "x"'),
        (bytes([38, 1, 1]), "Constant", (1, 1), 'Constant r1, #1 (String "x")'),
        (bytes([62]), "Freeze", (), "Freeze"),
    ],
)
def test_operands(code, name, operands, text):
    c = bytecode.decode(chunk(code, string("print") + string("x")))
    [ins] = c.instructions
    assert (ins.name, ins.operands, ins.size, ins.wide) == (name, operands, len(code), code[0] >= 128)
    assert bytecode.format_instruction(ins, c.constants) == text


def test_deferred_wide_func_and_loop():
    code = (
        bytes([93 + 128])
        + wide(0, 1, 300)
        + bytes([78 + 128])
        + wide(200)
        + bytes([83, 82, 85, 1, 91, 92])
        + bytes([96, 0, 95])
    )
    c = bytecode.decode(chunk(code))
    assert [(i.name, i.wide, i.operands) for i in c.instructions][:2] == [
        ("Func", True, (0, 1, 300)),
        ("Loop", True, (200,)),
    ]
    assert code[13:18] == bytes([206, 200, 0, 0, 0])
    assert bytecode.render(c).splitlines()[1:10] == [
        "     0 w Func r0, 1, 300",
        "    13 w   Loop 200",
        "    18       Break",
        "    19     LoopEnd",
        "    20     If r1",
        "    22     Else",
        "    23     IfEnd",
        "    24     Return r0",
        "    26   FuncEnd",
    ]


def test_constants_of_every_tag():
    pool = (
        b"\x00\x01\x02"
        + b"\x03"
        + le32(-7)
        + num(-0.0)
        + num(math.inf)
        + b"\x04"
        + struct.pack("<Q", 0x7FF8000000000001)
        + string("h\u00e9 \"q\"")
        + string("")
    )
    c = bytecode.decode(chunk(bytes([96, 0]), pool))
    kinds = [(k.kind, k.value) for k in c.constants]
    assert kinds[:5] == [("Nil", None), ("True", True), ("False", False), ("Integer", -7), ("Number", -0.0)]
    assert math.copysign(1, c.constants[4].value) == -1
    assert c.constants[5].value == math.inf and math.isnan(c.constants[6].value)
    assert c.constants[7].raw == "h\u00e9 \"q\"".encode()
    listing = bytecode.render(c).splitlines()
    assert listing[-9:] == [
        "     0   Nil",
        "     1   True",
        "     2   False",
        "     3   Integer -7",
        "     4   Number -0.0",
        "     5   Number inf",
        "     6   Number nan",
        '     7   String "h\u00e9 \\"q\\""',
        '     8   String ""',
    ]


def test_empty_script_shape():
    data = chunk(bytes([93, 0, 0, 0, 96, 0, 95]))
    assert len(data) == 19 and data[:4] == le32(15)
    c = bytecode.decode(data)
    assert [i.name for i in c.instructions] == ["Func", "Return", "FuncEnd"]


@pytest.mark.parametrize(
    "data, message",
    [
        (b"\x00" * 11, "too short"),
        (le32(9) + le32(0) + le32(0), "length field is 9"),
        (le32(8) + le32(1) + le32(0), "code length 1 runs past"),
        (le32(8) + le32(0) + le32(1), "constant section length 1"),
        (chunk(bytes([99])), "unknown opcode 99 at code offset 0"),
        (chunk(bytes([96, 0, 227])), "unknown opcode 227 at code offset 2"),
        (chunk(bytes([0])), "Noop (opcode 0) at code offset 0 has no operand layout"),
        (chunk(bytes([64, 1, 2, 3])), "HasDyn"),
        (chunk(bytes([95 + 128])), "wide flag on operand-less FuncEnd"),
        (chunk(bytes([62 + 128])), "wide flag on operand-less Freeze"),
        (chunk(bytes([1, 1, 2])), "truncated Add at code offset 0"),
        (chunk(bytes([129]) + wide(1, 2) + b"\x03\x00"), "truncated Add"),
        (chunk(bytes([97, 1, 0, 2, 3])), "truncated Call"),
        (chunk(bytes([23, 1, 0xFF])), "negative list length -1 in Concat"),
        (chunk(b"", b"\x06"), "unknown constant tag 6"),
        (chunk(b"", b"\x03\x01"), "truncated Integer constant #0"),
        (chunk(b"", b"\x01\x04\x00"), "truncated Number constant #1"),
        (chunk(b"", b"\x05" + le32(4) + b"ab"), "truncated String constant #0"),
    ],
)
def test_malformed_chunks(data, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        bytecode.decode(data)


# ---------------------------------------------------------------------------
# The dis command


def test_dis_on_chunk_file(tmp_path, capsys):
    path = tmp_path / "a.qc"
    path.write_bytes(chunk(bytes([93, 0, 0, 1, 97, 0, 0, 0, 0, 96, 0, 95]), string("print")))
    assert dis.main([str(path), "--chunk"]) == 0
    out = capsys.readouterr().out
    assert '  Call r0, "print", [], spread []\n' in out
    path.write_bytes(chunk(bytes([1, 1])))
    assert dis.main([str(path), "--chunk"]) == 1
    assert "malformed chunk: truncated Add" in capsys.readouterr().err


def test_dis_through_package_entry(tmp_path, capsys):
    from quendal.__main__ import main

    path = tmp_path / "a.qc"
    path.write_bytes(chunk(bytes([96, 0])))
    assert main(["dis", str(path), "--chunk"]) == 0
    assert capsys.readouterr().out.splitlines()[1] == "     0   Return r0"


def test_dis_missing_file(tmp_path, capsys):
    assert dis.main([str(tmp_path / "nope.q")]) == 2
    assert "cannot read" in capsys.readouterr().err


# ---------------------------------------------------------------------------
# Whole compilations through the decoder


def test_compiled_empty_script_decodes():
    core = pytest.importorskip("quendal.core")
    data, _ = core.compile("", core.Config())
    assert data == chunk(bytes([93, 0, 0, 0, 96, 0, 95]))


def test_dis_compiles_source(tmp_path, capsys):
    pytest.importorskip("quendal.core")
    path = tmp_path / "a.q"
    path.write_text("let x = 1; x + 2", encoding="utf-8")
    assert dis.main([str(path)]) == 0
    out = capsys.readouterr().out
    assert "Constant" in out and "Number 1.0" in out and "Number 2.0" in out and "FuncEnd" in out
