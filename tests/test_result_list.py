"""The result list, built straight from the records with their positions
encoded on the way, in each position unit: the columns of one compilation in
code points, UTF-16 units and bytes all name the same place of the source,
whatever the characters, line ends and line lengths, and both modules build
the same list."""

import collections
import sys
from pathlib import Path

import pytest

from quendal import _engine, core

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
import gen_corpus  # noqa: E402

UNITS = ("codepoints", "utf16", "bytes")


def line_starts(source):
    """Offsets (in characters) of every line start: lines end at "\\n"."""
    starts = [0]
    for i, c in enumerate(source):
        if c == "\n" and i + 1 < len(source):
            starts.append(i + 1)
    return starts


def width(text, unit):
    if unit == "codepoints":
        return len(text)
    if unit == "utf16":
        return len(text.encode("utf-16-le")) // 2
    return len(text.encode("utf-8"))


def unit_positions(source, records):
    """From the code point columns, the positions of every record in each unit."""
    starts = line_starts(source)
    out = {unit: [] for unit in UNITS}
    for i in range(0, len(records), 5):
        line1, col1, line2, col2, code = records[i : i + 5]
        for unit in UNITS:
            group = []
            for line, col in ((line1, col1), (line2, col2)):
                start = starts[line - 1]
                group += [line, 1 + width(source[start : start + col - 1], unit)]
            out[unit] += group + [code]
    return out


def long_line(n):
    return "".join(f"let é{i} = '😀{i}中' + x{i % 7}; " for i in range(n))


SOURCES = {
    "ascii": "let x = 1;\nlet y = x + 2;\nprint(y)",
    "two-byte characters": "let été = 1;\nété + 'ça'",
    "astral characters": "let s = '😀😀';\nlet t = s + '\U0001d465';\ns + t",
    "crlf line ends": "let a = 'é';\r\nlet b = a;\r\n\r\nb + c\r\n",
    "lone carriage returns": "let a = 'x\ry';\rlet 中 = a;\nz",
    "long line": long_line(400),
    "long lines with crlf": "\r\n".join(long_line(60) for _ in range(5)),
    "errors at the end": "let 😀 = (1 + ",
    "errors at the end after a line feed": "fn f(é) {\n",
    "many errors on one line": ") é ) 😀 ] } " * 500,
    "corpus units": "".join(gen_corpus.make_unit(3, u)["q"] for u in range(3)).replace("a", "á"),
}


@pytest.mark.parametrize("name", sorted(SOURCES))
def test_every_unit_names_the_same_place(name):
    source = SOURCES[name]
    records = _engine.compile(source, report_tags=True)[1]
    assert records and len(records) % 5 == 0
    expected = unit_positions(source, records)
    for unit in UNITS:
        assert _engine.compile(source, report_tags=True, position_unit=unit)[1] == expected[unit], unit


@pytest.mark.parametrize("name", sorted(SOURCES))
def test_both_modules_build_the_same_list(name):
    source = SOURCES[name]
    for mode in ("script", "template"):
        assert core.compile(source, core.Config(input_mode=mode)) == _engine.compile(source, input_mode=mode)


def test_ascii_text_has_the_same_columns_in_every_unit():
    source = SOURCES["ascii"] + "\n" + "x = y; " * 200
    lists = [_engine.compile(source, position_unit=unit)[1] for unit in UNITS]
    assert lists[0] == lists[1] == lists[2]


def test_records_in_the_list_are_fresh_each_call():
    source = SOURCES["many errors on one line"]
    first = core.compile(source, core.Config())[1]
    first[0] = -1
    assert core.compile(source, core.Config())[1][0] == 1


def test_every_item_owns_one_reference():
    """Ints are shared between the places of one value: an int beyond the interpreter's
    own small ones (lines and columns above 256, codes) is referred to by the list once
    per place it takes, and by nothing else once the call is over, whether the record
    that first made it was on the same line as the one before or not."""
    body = "\n".join(
        f"fn f{i}(a) {{ let x = a + {i};" + " a = a + 1;" * (i % 40) + " return x; }" for i in range(600)
    )
    source = body + "\nlet z = " + " + ".join(f"f{i}(1)" for i in range(0, 600, 7)) + ";"
    for unit in UNITS:
        items = core.compile(source, core.Config(position_unit=unit))[1]
        places = collections.Counter(id(v) for v in items)
        shared = {id(v): v for v in items if v > 256}
        assert len(shared) > 300
        for key in shared:
            value = shared[key]
            # The list's references, and those of `shared`, `value` and the call.
            assert sys.getrefcount(value) == places[key] + 3, value
        assert items == core.compile(source, core.Config(position_unit=unit))[1]


def test_a_line_object_keeps_its_references_when_its_cache_slot_is_taken():
    """A short list shares a small cache of large ints. Here the first record on
    line 301 starts at column 285, which takes the line's slot: the line's object
    leaves the cache with the list's references to it counted, and lives on."""
    source = "\n" * 300 + " " * 276 + "let x = 1; let y = x;"
    items = core.compile(source, core.Config())[1]
    assert items[5:9] == [301, 285, 301, 286]
    places = collections.Counter(id(v) for v in items)
    shared = {id(v): v for v in items if v > 256}
    for key in shared:
        value = shared[key]
        # The list's references, and those of `shared`, `value` and the call.
        assert sys.getrefcount(value) == places[key] + 3, value
    assert items == core.compile(source, core.Config())[1]


def _small_ints_are_counted() -> bool:
    before = sys.getrefcount(7)
    held = [7] * 10
    return sys.getrefcount(7) == before + 10 and len(held) == 10


@pytest.mark.skipif(not _small_ints_are_counted(), reason="small ints are immortal in this interpreter")
def test_small_values_are_counted_once_per_place():
    """Small columns, lines and codes are the interpreter's own int objects; the
    list holds one reference per place, dropped with the list."""
    source = "\n".join(f"let v{i} = [1, 2, {i % 9}];  w{i} = v{i};" for i in range(300))
    values = range(0, 257)
    before = [sys.getrefcount(v) for v in values]
    items = core.compile(source, core.Config())[1]
    during = [sys.getrefcount(v) for v in values]
    places = [items.count(v) for v in values]
    assert sum(1 for n in places if n) > 50
    assert [d - b for d, b in zip(during, before)] == places
    del items, places
    assert [sys.getrefcount(v) for v in values] == before

