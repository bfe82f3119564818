"""The typed API over quendal.core: decoding of the flat record list, related
records, positions and covered text, the source map, and the code table."""

import pytest

import quendal
from quendal import bytecode, core
from quendal._diagnostics import CODES
from quendal.diagnostics import (
    Annotation,
    Kind,
    Position,
    Result,
    Severity,
    SourceMapEntry,
    SourceText,
    code_message,
    code_name,
    compile,
    decode,
    kind_of,
)


def rec(l1, c1, l2, c2, code):
    return [l1, c1, l2, c2, code]


# ---------------------------------------------------------------------------
# Decoding every kind of record


def test_every_record_kind_round_trips():
    source = "let a = 1;\nlet b = a;\n"
    records = [
        *rec(1, 1, 1, 1, 12000),
        *rec(2, 5, 2, 6, 1065),  # error ...
        *rec(1, 5, 1, 6, 5001),  # ... and the reference that explains it
        *rec(1, 5, 1, 6, 10002),  # tag
        *rec(2, 9, 2, 10, 11001),  # tag reference
        *rec(2, 9, 2, 10, 2011),  # warning
        *rec(1, 1, 1, 4, 4001),  # hint
        *rec(2, 1, 2, 11, 12000),
        *rec(1, 9, 1, 10, 3000),  # info range (only its marker exists)
    ]
    r = decode(source, None, records)
    assert [(d.severity, d.name) for d in r.diagnostics] == [
        (Severity.HINT, "UnusedLocalVariable"),
        (Severity.INFO, "InfoStart"),
        (Severity.ERROR, "DuplicateVariableDeclaration"),
        (Severity.WARNING, "GlobalVariableNotDeclared"),
    ]
    duplicate = r.diagnostics[2]
    assert (duplicate.start, duplicate.end, duplicate.text) == (Position(2, 5), Position(2, 6), "b")
    assert duplicate.message == "`b` is already declared in this scope"
    assert duplicate.original_message == core.get_diagnostic_message(1065)[2]
    [related] = duplicate.related
    assert (related.code, related.name, related.start, related.text) == (5001, "VariableDeclaredHere", (1, 5), "a")
    assert related.message == "variable declared here"
    assert r.diagnostics[3].message == "global variable `a` is not declared"
    assert r.annotations == [
        Annotation(Kind.TAG, 10002, "LocalImmutable", Position(1, 5), Position(1, 6)),
        Annotation(Kind.TAG_REFERENCE, 11001, "ReadLocal", Position(2, 9), Position(2, 10)),
    ]
    assert r.source_map == [
        SourceMapEntry(Position(1, 1), Position(1, 1)),
        SourceMapEntry(Position(2, 1), Position(2, 11)),
    ]
    assert r.counts == {Severity.ERROR: 1, Severity.WARNING: 1, Severity.INFO: 1, Severity.HINT: 1}
    assert (r.error_count, r.warning_count, r.info_count, r.hint_count) == (1, 1, 1, 1)
    assert not r.ok


def test_references_attach_to_the_diagnostic_before_them():
    records = [
        *rec(1, 1, 1, 2, 1063),
        *rec(9, 9, 9, 9, 12000),  # source map entries between do not separate them
        *rec(1, 3, 1, 4, 5001),
        *rec(1, 5, 1, 6, 1064),
        *rec(1, 7, 1, 8, 5003),
        *rec(1, 7, 1, 8, 5002),
    ]
    r = decode("abcdefgh", None, records)
    assert [(d.code, [x.code for x in d.related]) for d in r.diagnostics] == [(1063, [5001]), (1064, [5003, 5002])]


def test_a_reference_with_nothing_before_it_stands_alone():
    r = decode("ab", b"", rec(1, 1, 1, 2, 5002))
    [d] = r.diagnostics
    assert (d.severity, d.name, d.related, d.text) == (Severity.INFO, "FunctionDeclaredHere", (), "a")
    assert r.ok


def test_equal_positions_keep_record_order():
    codes = [1031, 1026, 1030, 1029]
    records = [x for code in codes for x in rec(1, 3, 1, 3, code)] + rec(1, 1, 1, 2, 1042)
    r = decode("abc", None, records)
    assert [d.code for d in r.diagnostics] == [1042, *codes]


def test_unknown_codes_do_not_raise():
    r = decode("x", None, rec(1, 1, 1, 2, 7777) + rec(5, 9, 5, 9, 1999))
    assert [(d.name, d.severity) for d in r.diagnostics] == [("Code7777", Severity.INFO), ("ErrorEnd", Severity.INFO)]
    assert r.diagnostics[0].message == "unknown diagnostic code 7777"
    assert r.diagnostics[1].text == ""


def test_a_clean_compile_has_only_the_source_map():
    r = compile("let x = 1; x + 2")
    assert r.ok and r.diagnostics == [] and r.annotations == []
    chunk = bytecode.decode(r.chunk)
    assert len(r.source_map) == len(chunk.instructions) > 0
    assert r.records == core.compile("let x = 1; x + 2", core.Config())[1]


def test_compile_template_mode():
    assert compile("'abc").error_count == 1
    assert compile("'abc", template=True).ok
    assert quendal.compile is compile


# ---------------------------------------------------------------------------
# Positions and covered text


@pytest.mark.parametrize(
    "source, covered",
    [
        ("let x = 1; x = 2;", "x"),
        ("\tlet x = 1;\tx = 2;", "x"),
        ("let 変数 = 1; 変数 = 2;", "変数"),
        ("let 𝔸a = 1; 𝔸a = 2;", "𝔸a"),  # astral letter: two UTF-16 units, one column
        ("let x = '😀😀'; x = 2;", "x"),
        ("let x = 1;\r\nx = 2;", "x"),
    ],
)
def test_covered_text_with_tabs_wide_and_astral_characters(source, covered):
    [d] = [d for d in compile(source).diagnostics if d.name == "ImmutableVariableAssignment"]
    assert d.text == covered
    assert d.message == f"cannot assign to immutable variable `{covered}`"
    line = source.split("\n")[d.start.line - 1]
    assert line[d.start.column - 1 : d.end.column - 1] == covered
    [related] = d.related
    assert related.name == "VariableDeclaredHere" and related.text == covered


def test_placeholder_in_both_languages():
    [d] = decode("x\nlet let = 1", None, rec(2, 5, 2, 8, 1010)).diagnostics
    assert d.original_message == "`let` 是关键字，不能用作标识符"
    assert d.message == "`let` is a keyword and cannot be used as a name"
    r = decode("nul + 1", None, rec(1, 1, 1, 4, 2001))
    assert r.diagnostics[0].original_message == "`nul` 不是空值；显式使用全局变量 `global.nul` 或空值 `nil`"
    assert r.diagnostics[0].message == "`nul` is not `nil`; write `global.nul` for the global variable or `nil` for the nil value"


def test_long_covered_text_is_cut_in_messages_only():
    text = "y" * 100 + "\nrest"
    r = decode(text, None, rec(1, 1, 2, 5, 1042))
    [d] = r.diagnostics
    assert d.text == text
    assert d.message == f"expected an expression, found `{'y' * 40}…`"


@pytest.mark.parametrize(
    "text, line, column, index",
    [
        ("abc", 1, 1, 0),
        ("abc", 1, 4, 3),
        ("a\nb", 2, 1, 2),
        ("a\nb", 1, 2, 1),
        ("ab\r\n", 1, 5, 4),  # after the final line feed: still line 1
        ("a\rb\nc", 2, 1, 4),
        ("😀x\n😀y", 2, 2, 4),  # columns count code points
        ("", 1, 1, 0),
        ("abc", 1, 9, 3),  # clamped to the text
    ],
)
def test_positions_map_back_to_indices(text, line, column, index):
    assert SourceText(text).index(line, column) == index


def test_source_lines():
    t = SourceText("a\r\nb\n\nc")
    assert [t.line(n) for n in range(0, 6)] == ["", "a", "b", "", "c", ""]
    assert t.line_count == 4


# ---------------------------------------------------------------------------
# The code table


def valid_codes():
    out = []
    for code in range(0, 12001):
        try:
            out.append((code, core.get_diagnostic_message(code)))
        except ValueError:
            pass
    return out


def test_the_table_is_the_extensions_table():
    codes = valid_codes()
    assert len(codes) == len(CODES) == 179
    for code, (_, name, original) in codes:
        assert CODES[code][:2] == (name, original), code
        assert code_name(code) == name
        assert code_message(code, original=True) == original


@pytest.mark.parametrize("code", sorted(CODES))
def test_every_code_has_an_english_message(code):
    english = code_message(code)
    assert english.strip() == english and english
    assert english[0].islower() or english[0] == "`", english
    assert not english.endswith((".", "。")) and not any("\u4e00" <= ch <= "\u9fff" for ch in english)
    # Codes whose original text quotes the covered source quote it too.
    if "$0" in CODES[code][1]:
        assert "$0" in english


@pytest.mark.parametrize(
    "code, kind",
    [(1000, Kind.MARKER), (1001, Kind.ERROR), (1998, Kind.ERROR), (1999, Kind.MARKER), (2000, Kind.WARNING),
     (3000, Kind.INFO), (4009, Kind.HINT), (5000, Kind.REFERENCE), (5999, Kind.MARKER), (10001, Kind.TAG),
     (10999, Kind.MARKER), (11024, Kind.TAG_REFERENCE), (12000, Kind.SOURCE_MAP), (12001, Kind.MARKER)],
)
def test_kinds_by_range(code, kind):
    assert kind_of(code) is kind


def test_result_is_typed_and_frozen():
    r = compile("let x = 1; x = 2;")
    d = r.diagnostics[-1]
    with pytest.raises(AttributeError):
        d.code = 1  # type: ignore[misc]
    assert isinstance(r, Result) and isinstance(d.start, Position)
