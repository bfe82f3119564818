"""Chains the parser does not bound in length (operator chains, accesses and
calls, else-if chains, pattern alternatives) compile at any length: the
listing of a long chain continues the pattern of the short ones, its
registers and records grow by the same amount per link, and compiling it
takes no more native stack than a short chain (it also compiles on a thread
with a 1 MiB stack)."""

from __future__ import annotations

import threading
from collections import Counter
from dataclasses import dataclass

import pytest

from quendal import bytecode, core

SOURCE_MAP = 12000
PREFER_OR = 4004


def sum_chain(n):
    return "let a = 1;\nlet b = " + " + ".join(["a"] * n) + ";\n"


def or_chain(n):
    return "let a = 1;\nlet b = " + " or ".join(["a"] * n) + ";\n"


def field_chain(n):
    return "let a = 1;\nlet b = a" + ".x" * n + ";\n"


def call_chain(n):
    return "let a = 1;\nlet b = a" + "(1)" * n + ";\n"


def else_if_chain(n):
    parts = "".join(f" else if a == {i} {{ {i}; }}" for i in range(1, n))
    return "let a = 1;\nif a == 0 { 0; }" + parts + " else { -1; }\n"


def or_pattern_chain(n):
    return "let a = 1;\nlet b = a is " + " or ".join(str(i) for i in range(n)) + ";\n"


def mixed_postfix_chain(n):
    # Extension calls read their callee before their receiver: the callee
    # reads of the whole chain come first, outermost first.
    return "let a = 1;\nfn f(x) { x }\nlet b = a" + ".x(1)[2]!::f()" * n + ";\n"


# name: (source of a chain of n links, n for the long chain)
CHAINS = {
    "sum": (sum_chain, 100_000),
    "mixed_operators": (lambda n: "let a = 1;\nlet b = a" + " * a - a / a + a % a" * n + ";\n", 20_000),
    "or": (or_chain, 100_000),
    "and_and": (lambda n: "let a = 1;\nlet b = " + " && ".join(["a"] * n) + ";\n", 30_000),
    "nil_coalescing": (lambda n: "let a = 1;\nlet b = " + " ?? ".join(["a"] * n) + ";\n", 30_000),
    "comparisons_and_in": (lambda n: "let a = 1;\nlet b = a" + " < a in a not in global" * n + ";\n", 30_000),
    "sum_of_calls": (lambda n: "let a = 1;\nlet b = a" + " + a.x(1)[2]" * n + ";\n", 10_000),
    "field": (field_chain, 100_000),
    "call": (call_chain, 100_000),
    "index": (lambda n: "let a = 1;\nlet b = a" + "[1]" * n + ";\n", 100_000),
    "slice": (lambda n: "let a = 1;\nlet b = a" + "[1..<2]" * n + ";\n", 30_000),
    "tagged_string": (lambda n: "let a = 1;\nlet b = a" + " 'x $(a)'" * n + ";\n", 10_000),
    "global_access": (lambda n: "let b = global.g" + ".x(1)" * n + ";\n", 30_000),
    "mixed_postfix": (mixed_postfix_chain, 10_000),
    "else_if": (else_if_chain, 10_000),
    "else_if_value": (
        lambda n: "let a = 1;\nlet b = if a == 0 { 0 }"
        + "".join(f" else if a == {i} {{ {i} }}" for i in range(1, n))
        + ";\n",
        10_000,
    ),
    "while_else_if": (
        lambda n: "let a = 1;\nlet b = while a { break 1; } else if a == 0 { 0 }"
        + "".join(f" else if a == {i} {{ {i} }}" for i in range(1, n))
        + " else { -1 };\n",
        10_000,
    ),
    "or_pattern": (or_pattern_chain, 100_000),
    "and_pattern": (lambda n: "let a = 1;\nlet b = a is " + " and ".join(f"> {i}" for i in range(n)) + ";\n", 30_000),
    "match_or_pattern": (
        lambda n: "let a = 1;\nmatch a { case " + " or ".join(str(i) for i in range(n)) + " { 1; } }\n",
        30_000,
    ),
    "binding_or_pattern": (
        lambda n: "let a = 1;\nlet [x0]" + "".join(f" or [x{i}]" for i in range(1, n)) + " = a;\n",
        30_000,
    ),
}


@dataclass(frozen=True)
class Shape:
    """A listing of the form prefix, head * n, middle, tail * n, suffix: a
    chain's heads run outermost first, then its innermost operand, then its
    tails innermost first."""

    prefix: tuple
    head: tuple
    middle: tuple
    tail: tuple
    suffix: tuple

    def __call__(self, n):
        return [*self.prefix, *self.head * n, *self.middle, *self.tail * n, *self.suffix]


def fit_shape(one, two, three):
    """The shape that gives the listings of chains of one, two and three links."""
    grow = len(two) - len(one)
    for p in range(len(one) + 1):
        for s in range(len(one) - p + 1):
            middle = one[p : len(one) - s]
            for h in range(min(grow, len(middle)) + 1):
                t = grow - h
                if t > len(middle) - h:
                    continue
                shape = Shape(
                    tuple(one[:p]),
                    tuple(middle[:h]),
                    tuple(middle[h : len(middle) - t]),
                    tuple(middle[len(middle) - t :]),
                    tuple(one[len(one) - s :]),
                )
                if shape(2) == two and shape(3) == three:
                    return shape
    raise AssertionError("the short chains follow no chain shape")


@dataclass
class Compiled:
    chunk: bytecode.Chunk
    records: list  # (code, line, column, end line, end column)

    @property
    def opcodes(self):
        return [i.name for i in self.chunk.instructions]

    @property
    def registers(self):
        # The script's Func header: Func r0, parameters, registers.
        return self.chunk.instructions[0].operands[2]

    def codes(self):
        return Counter(r[0] for r in self.records if r[0] != SOURCE_MAP)

    def source_maps(self):
        return [r[1:] for r in self.records if r[0] == SOURCE_MAP]


def compile_chain(source):
    data, encoded = core.compile(source, core.Config())
    assert data is not None, encoded[4::5]
    records = [(encoded[k + 4], *encoded[k : k + 4]) for k in range(0, len(encoded), 5)]
    return Compiled(bytecode.decode(data), records)


def linear(first, second, n):
    """The value at n of the sequence that starts first, second."""
    return first + (n - 1) * (second - first)


@pytest.mark.parametrize("name", CHAINS)
def test_a_long_chain_continues_the_short_chains(name):
    # A chain of one link is often no chain at all (`a`): the shape is
    # counted from two links on.
    build, long = CHAINS[name]
    short = {n: compile_chain(build(n)) for n in (2, 3, 4, 7)}
    shape = fit_shape(short[2].opcodes, short[3].opcodes, short[4].opcodes)
    assert shape(6) == short[7].opcodes
    assert shape.head or shape.tail

    chain = compile_chain(build(long))
    assert chain.opcodes == shape(long - 1)
    assert chain.registers == linear(short[2].registers, short[3].registers, long - 1)
    two, three = short[2].codes(), short[3].codes()
    expected = {code: linear(two[code], three[code], long - 1) for code in two | three}
    assert chain.codes() == {code: count for code, count in expected.items() if count}
    # One source map record per instruction.
    assert len(chain.source_maps()) == len(chain.chunk.instructions)


def test_or_chain_reports_the_outermost_operator_first():
    n = 100_000
    starts = [r[2] for r in compile_chain(or_chain(n)).records if r[0] == PREFER_OR]
    # `let b = a or a ...`: the k-th `or` starts at column 11 + 5 * (k - 1).
    assert starts == [11 + 5 * k for k in reversed(range(n - 1))]


@pytest.mark.parametrize(
    ("build", "opcode", "link"),
    [(field_chain, "Get", 2), (call_chain, "CallDyn", 3)],
    ids=["field", "call"],
)
def test_every_link_spans_from_the_chain_start(build, opcode, link):
    # `let b = a.x.x ...`: the chain starts at column 9 of line 2, and the
    # k-th access or call ends after the k-th link.
    n = 30_000
    chain = compile_chain(build(n))
    spans = [m for i, m in zip(chain.chunk.instructions, chain.source_maps()) if i.name == opcode]
    assert len(spans) == n
    # A call's instruction comes after its callee's: innermost first.
    assert spans == [(2, 9, 2, 10 + link * k) for k in range(1, n + 1)]


def test_else_if_chain_nests_each_branch_in_the_previous_else():
    n = 10_000
    opcodes = compile_chain(else_if_chain(n)).opcodes
    depth, deepest = 0, 0
    for name in opcodes:
        depth += {"If": 1, "IfEnd": -1}.get(name, 0)
        deepest = max(deepest, depth)
    assert depth == 0 and deepest == n
    assert opcodes[-n - 2 :] == ["IfEnd"] * n + ["Return", "FuncEnd"]


def test_sum_registers_are_taken_outermost_first():
    # `a + a + ... + a`: the innermost addition writes the highest register,
    # each one outward the next lower, the outermost writes b's register.
    n = 100_000
    chain = compile_chain(sum_chain(n))
    adds = [bytecode.format_instruction(i) for i in chain.chunk.instructions if i.name == "Add"]
    assert adds[0] == f"Add r{n}, r1, r1"
    assert adds[1:] == [f"Add r{k}, r{k + 1}, r1" for k in range(n - 1, 1, -1)]


LONG_ON_A_SMALL_STACK = [
    sum_chain(100_000),
    or_chain(100_000),
    field_chain(100_000),
    call_chain(100_000),
    mixed_postfix_chain(20_000),
    else_if_chain(10_000),
    or_pattern_chain(100_000),
]


@pytest.mark.parametrize(
    "source",
    LONG_ON_A_SMALL_STACK,
    ids=["sum", "or", "field", "call", "mixed_postfix", "else_if", "or_pattern"],
)
def test_long_chain_compiles_on_a_one_mebibyte_stack(source):
    box = []

    def work():
        box.append(core.compile(source, core.Config()))

    previous = threading.stack_size(1 << 20)
    try:
        thread = threading.Thread(target=work)
        thread.start()
    finally:
        threading.stack_size(previous)
    thread.join()
    assert len(box) == 1
    assert box[0] == core.compile(source, core.Config())
    assert box[0][0] is not None
