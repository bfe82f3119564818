"""Decoding and listing of compiled chunks.

A chunk, as returned by ``quendal.core.compile``, is little-endian::

    u32  total length of the chunk minus 4
    u32  N, length of the code section
    N    code: instructions in emission order
    u32  M, length of the constant section
    M    constants: tag byte + payload each

An instruction is an opcode byte followed by its operands. In the short form
every operand is one byte (registers unsigned, parameters signed); in the wide
form the opcode byte has 0x80 added and every operand, list counts and list
elements included, is four bytes. The operand layout of each operation comes
from ``_opcodes.OPCODES``, which is generated from the compiler's own table.

    >>> chunk = decode(data)
    >>> print(render(chunk))
"""

from __future__ import annotations

import json
import math
import struct
from dataclasses import dataclass, field
from collections.abc import Sequence
from typing import Union

from ._opcodes import OPCODES

__all__ = [
    "Header",
    "Instruction",
    "Constant",
    "Chunk",
    "OPCODE_NUMBERS",
    "decode",
    "decode_instructions",
    "decode_constants",
    "render",
    "format_instruction",
]

WIDE_FLAG = 0x80
HEADER_SIZE = 8

OPCODE_NUMBERS = {name: number for number, (name, _) in enumerate(OPCODES)}

CONSTANT_KINDS = ("Nil", "True", "False", "Integer", "Number", "String")

# Operand positions (indices into the layout) that refer to the constant pool.
POOL_OPERANDS = {
    "Format": (2,),
    "Constant": (1,),
    "GetGlobal": (1,),
    "Module": (1,),
    "Field": (0,),
    "FieldOpt": (0,),
    "Omit": (3,),
    "Has": (2,),
    "Get": (2,),
    "Set": (2,),
    "Call": (1,),
}

# Labels printed before a list operand.
LIST_LABELS = {"Call": {5: "spread "}, "CallDyn": {5: "spread "}}

OPENERS = frozenset(
    "If IfNot IfNotInit IfNil IfNotNil Loop LoopFor LoopRange LoopRangeExclusive Func FuncVarg".split()
)
CLOSERS = frozenset(("IfEnd", "LoopEnd", "FuncEnd"))

# An operand: an int (R, P) or a list of ints (L, M).
Operand = Union[int, list[int]]


@dataclass(frozen=True)
class Header:
    length: int  # first field: chunk length minus 4
    code_length: int  # N
    constants_length: int  # M


@dataclass(frozen=True)
class Instruction:
    offset: int  # from the start of the code section (chunk byte offset minus 8)
    opcode: int  # operation number, without the wide flag
    name: str
    wide: bool
    # One entry per layout letter: ints for R and P, lists of ints for L and M.
    operands: tuple[Operand, ...] = ()
    size: int = 0  # encoded length in bytes

    @property
    def layout(self) -> str:
        return OPCODES[self.opcode][1]


@dataclass(frozen=True)
class Constant:
    tag: int
    value: object = None  # None, True, False, int, float or str
    raw: bytes = b""  # the UTF-8 bytes of a String

    @property
    def kind(self) -> str:
        return CONSTANT_KINDS[self.tag]


@dataclass(frozen=True)
class Chunk:
    header: Header
    instructions: list[Instruction] = field(default_factory=list)
    constants: list[Constant] = field(default_factory=list)


def _u32(data: bytes, at: int) -> int:
    return int(struct.unpack_from("<I", data, at)[0])


def decode(data: bytes | bytearray | memoryview) -> Chunk:
    """Decodes a whole chunk; raises ValueError on any inconsistency."""
    data = bytes(data)
    size = len(data)
    if size < 12:
        raise ValueError(f"chunk too short: {size} bytes, a chunk has at least 12")
    length = _u32(data, 0)
    if length != size - 4:
        raise ValueError(f"header length field is {length}, but the chunk has {size} bytes (expected {size - 4})")
    n = _u32(data, 4)
    if 8 + n + 4 > size:
        raise ValueError(f"code length {n} runs past the end of the {size}-byte chunk")
    m = _u32(data, 8 + n)
    if 12 + n + m != size:
        raise ValueError(
            f"constant section length {m} does not fit: 12 + code {n} + constants {m} != chunk length {size}"
        )
    header = Header(length, n, m)
    instructions = decode_instructions(data[8 : 8 + n])
    constants = decode_constants(data[12 + n :])
    return Chunk(header, instructions, constants)


def decode_instructions(code: bytes | bytearray | memoryview) -> list[Instruction]:
    """Decodes a code section (without the header) into instructions."""
    code = bytes(code)
    out: list[Instruction] = []
    at = 0
    end = len(code)
    while at < end:
        start = at
        byte = code[at]
        number = byte & ~WIDE_FLAG
        wide = bool(byte & WIDE_FLAG)
        if number >= len(OPCODES):
            raise ValueError(f"unknown opcode {byte} at code offset {start}")
        name, layout = OPCODES[number]
        if layout == "-":
            raise ValueError(f"{name} (opcode {number}) at code offset {start} has no operand layout")
        if wide and not layout:
            raise ValueError(f"wide flag on operand-less {name} at code offset {start}")
        at += 1
        width = 4 if wide else 1

        def read(signed: bool) -> int:
            nonlocal at
            if at + width > end:
                raise ValueError(f"truncated {name} at code offset {start}: operand at {at} needs {width} byte(s)")
            if wide:
                value = int(struct.unpack_from("<i" if signed else "<I", code, at)[0])
            else:
                value = code[at]
                if signed and value >= 128:
                    value -= 256
            at += width
            return value

        operands: list[Operand] = []
        count = None
        for letter in layout:
            if letter == "R":
                operands.append(read(False))
            elif letter == "P":
                count = read(True)
                operands.append(count)
            else:
                if count is None or count < 0:
                    raise ValueError(f"negative list length {count} in {name} at code offset {start}")
                operands.append([read(letter == "M") for _ in range(count)])
        out.append(Instruction(start, number, name, wide, tuple(operands), at - start))
    return out


def decode_constants(section: bytes | bytearray | memoryview) -> list[Constant]:
    """Decodes a constant section (without its length field)."""
    section = bytes(section)
    out: list[Constant] = []
    at = 0
    end = len(section)

    def need(count: int, what: str) -> None:
        if at + count > end:
            raise ValueError(f"truncated {what} constant #{len(out)} at constant offset {at}")

    while at < end:
        tag = section[at]
        at += 1
        if tag in (0, 1, 2):
            out.append(Constant(tag, (None, True, False)[tag]))
        elif tag == 3:
            need(4, "Integer")
            out.append(Constant(tag, struct.unpack_from("<i", section, at)[0]))
            at += 4
        elif tag == 4:
            need(8, "Number")
            out.append(Constant(tag, struct.unpack_from("<d", section, at)[0]))
            at += 8
        elif tag == 5:
            need(4, "String")
            length = _u32(section, at)
            at += 4
            need(length, "String")
            raw = section[at : at + length]
            out.append(Constant(tag, raw.decode("utf-8", errors="backslashreplace"), raw))
            at += length
        else:
            raise ValueError(f"unknown constant tag {tag} for constant #{len(out)} at constant offset {at - 1}")
    return out


# ---------------------------------------------------------------------------
# Listing


def _quote(text: str) -> str:
    return json.dumps(text, ensure_ascii=False)


def format_constant(constant: Constant) -> str:
    if constant.tag == 4:
        v = constant.value
        text = "nan" if isinstance(v, float) and math.isnan(v) else repr(v)
        return f"Number {text}"
    if constant.tag == 3:
        return f"Integer {constant.value}"
    if constant.tag == 5:
        return f"String {_quote(str(constant.value))}"
    return constant.kind


def _pool_ref(index: int, constants: Sequence[Constant], plain_strings: bool) -> str:
    if not 0 <= index < len(constants):
        return f"#{index} (no such constant)"
    constant = constants[index]
    if plain_strings and constant.tag == 5:
        return _quote(str(constant.value))
    return f"#{index} ({format_constant(constant)})"


def format_instruction(ins: Instruction, constants: Sequence[Constant] = ()) -> str:
    """One instruction as text; list counts are implied by the lists."""
    layout = ins.layout
    pool = POOL_OPERANDS.get(ins.name, ())
    labels = LIST_LABELS.get(ins.name, {})
    plain_strings = ins.name != "Constant"
    parts = []
    for i, (letter, value) in enumerate(zip(layout, ins.operands)):
        if letter == "P" and i + 1 < len(layout) and layout[i + 1] in "LM":
            continue  # the count of the list that follows
        if isinstance(value, int):
            if letter == "R":
                parts.append(f"r{value}")
            else:
                parts.append(_pool_ref(value, constants, plain_strings) if i in pool else str(value))
        elif letter == "L":
            parts.append(labels.get(i, "") + "[" + ", ".join(f"r{v}" for v in value) + "]")
        else:
            items = (_pool_ref(v, constants, True) if i in pool else str(v) for v in value)
            parts.append(labels.get(i, "") + "[" + ", ".join(items) + "]")
    return ins.name + (" " + ", ".join(parts) if parts else "")


def render(chunk: Chunk) -> str:
    """A readable listing: header, one instruction per line (offset, a 'w'
    for the wide form, block bodies indented), then the constant pool."""
    h = chunk.header
    lines = [
        f"chunk: {h.length + 4} bytes, code {h.code_length} bytes, "
        f"constants {h.constants_length} bytes ({len(chunk.constants)} entries)"
    ]
    depth = 0
    for ins in chunk.instructions:
        if ins.name in CLOSERS or ins.name == "Else":
            depth = max(depth - 1, 0)
        flag = "w" if ins.wide else " "
        lines.append(f"{ins.offset:6d} {flag} {'  ' * depth}{format_instruction(ins, chunk.constants)}")
        if ins.name in OPENERS or ins.name == "Else":
            depth += 1
    lines.append("constants:")
    for index, constant in enumerate(chunk.constants):
        lines.append(f"{index:6d}   {format_constant(constant)}")
    return "\n".join(lines) + "\n"
