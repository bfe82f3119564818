"""Lexical diagnostics as compile() reports them: codes and exact 1-based
line/column ranges (in code points, the default unit), in script and template
mode, and the LexerError of a lexer that had to stop."""

import pytest

from quendal import core

SCRIPT = core.Config()
TEMPLATE = core.Config(input_mode="template")

SOURCE_MAP = 12000
LEXER_ERROR = 1002
UNKNOWN_TOKEN = 1007
INVALID_RESERVED_KEYWORD = 1009
INVALID_KEYWORD = 1010
INVALID_NUMBER_LITERAL_UNDERSCORE = 1011
INVALID_NUMBER_LITERAL = 1012
OVERFLOW_NUMBER_LITERAL = 1013
OVERFLOW_INTEGER_LITERAL = 1014
INVALID_ORDINAL_LITERAL = 1015
UNTERMINATED_STRING = 1016
INVALID_ESCAPE_SEQUENCE = 1017
INVALID_HEX_ESCAPE_SEQUENCE = 1018
INVALID_UNICODE_ESCAPE_SEQUENCE = 1019

# Codes the lexer produces (later stages add others, which these tests ignore).
LEXICAL = {
    LEXER_ERROR,
    UNKNOWN_TOKEN,
    INVALID_RESERVED_KEYWORD,
    INVALID_KEYWORD,
    INVALID_NUMBER_LITERAL_UNDERSCORE,
    INVALID_NUMBER_LITERAL,
    OVERFLOW_NUMBER_LITERAL,
    OVERFLOW_INTEGER_LITERAL,
    INVALID_ORDINAL_LITERAL,
    UNTERMINATED_STRING,
    INVALID_ESCAPE_SEQUENCE,
    INVALID_HEX_ESCAPE_SEQUENCE,
    INVALID_UNICODE_ESCAPE_SEQUENCE,
}


def records(encoded):
    """The encoded list as (line, column, end line, end column, code) tuples,
    without source map records."""
    assert len(encoded) % 5 == 0
    groups = [tuple(encoded[i : i + 5]) for i in range(0, len(encoded), 5)]
    return [g for g in groups if g[4] != SOURCE_MAP]


def lexical(source, config=SCRIPT):
    chunk, encoded = core.compile(source, config)
    found = [r for r in records(encoded) if r[4] in LEXICAL]
    if found:
        assert chunk is None  # every lexical diagnostic is an error
    return found


@pytest.mark.parametrize(
    "source, expected",
    [
        ("let x = 1_;", [(1, 9, 1, 11, INVALID_NUMBER_LITERAL_UNDERSCORE)]),
        ("let a = 0x;", [(1, 9, 1, 11, INVALID_NUMBER_LITERAL)]),
        ("let a = 12abc;", [(1, 9, 1, 14, INVALID_NUMBER_LITERAL)]),
        ("let b = 1e400;", [(1, 9, 1, 14, OVERFLOW_NUMBER_LITERAL)]),
        ("let c = 0x1_0000_0000_0000_0000;", [(1, 9, 1, 32, OVERFLOW_INTEGER_LITERAL)]),
        ("t.01", [(1, 3, 1, 5, INVALID_ORDINAL_LITERAL)]),
        # Two wrappers: the outer diagnostic comes first.
        ("t.1_", [(1, 3, 1, 5, INVALID_NUMBER_LITERAL_UNDERSCORE), (1, 3, 1, 5, INVALID_ORDINAL_LITERAL)]),
        ("t.0x1", [(1, 3, 1, 6, INVALID_NUMBER_LITERAL), (1, 3, 1, 6, INVALID_ORDINAL_LITERAL)]),
        (
            "let v = [1_, 0b2, t.00];",
            [
                (1, 10, 1, 12, INVALID_NUMBER_LITERAL_UNDERSCORE),
                (1, 14, 1, 17, INVALID_NUMBER_LITERAL),
                (1, 21, 1, 23, INVALID_ORDINAL_LITERAL),
            ],
        ),
        ("let ok = [0, 42, 1.5, 0x1F, 1_000, 1e-400];", []),
    ],
)
def test_number_diagnostics(source, expected):
    assert lexical(source) == expected


@pytest.mark.parametrize(
    "source, expected",
    [
        ("'abc", [(1, 5, 1, 5, UNTERMINATED_STRING)]),
        ("let s = 'a\\", [(1, 12, 1, 12, UNTERMINATED_STRING)]),
        ("let s = 'a\nb", [(2, 2, 2, 2, UNTERMINATED_STRING)]),
        (
            "let s = 'a\\qb';\nlet t = '\\x80';\nlet u = '\\u{D800}';",
            [
                (1, 11, 1, 13, INVALID_ESCAPE_SEQUENCE),
                (2, 10, 2, 14, INVALID_HEX_ESCAPE_SEQUENCE),
                (3, 10, 3, 18, INVALID_UNICODE_ESCAPE_SEQUENCE),
            ],
        ),
        # Unterminated first, then the escapes in source order.
        ("'\\q \\w", [(1, 7, 1, 7, UNTERMINATED_STRING), (1, 2, 1, 4, INVALID_ESCAPE_SEQUENCE),
                      (1, 5, 1, 7, INVALID_ESCAPE_SEQUENCE)]),
        ("'é\\é'", [(1, 3, 1, 5, INVALID_ESCAPE_SEQUENCE)]),
        ("'$if'", [(1, 3, 1, 5, INVALID_KEYWORD)]),
        ("'$op and $resume'", [(1, 3, 1, 5, INVALID_RESERVED_KEYWORD), (1, 11, 1, 17, INVALID_RESERVED_KEYWORD)]),
        ("'$true $nil $inf'", []),
        ("'$(1_ + '$if')'", [(1, 4, 1, 6, INVALID_NUMBER_LITERAL_UNDERSCORE), (1, 11, 1, 13, INVALID_KEYWORD)]),
        ("@'C:\\dir\\'@", []),
        ("let s = @'it's'@;", []),
    ],
)
def test_string_diagnostics(source, expected):
    assert lexical(source) == expected


@pytest.mark.parametrize(
    "source, expected",
    [
        ("x € y", [(1, 3, 1, 4, UNKNOWN_TOKEN)]),
        ("😀", [(1, 1, 1, 2, UNKNOWN_TOKEN)]),
        ("a\r\n#", [(2, 1, 2, 2, UNKNOWN_TOKEN)]),
        ("a &b | c", [(1, 3, 1, 4, UNKNOWN_TOKEN), (1, 6, 1, 7, UNKNOWN_TOKEN)]),
        ("// note\rx", [(1, 8, 1, 9, UNKNOWN_TOKEN)]),
        ("'$(a # b)'", [(1, 6, 1, 7, UNKNOWN_TOKEN)]),
        ("/* # inside a comment", []),
        ("let 日本 = 1; // # too", []),
    ],
)
def test_unknown_characters(source, expected):
    assert lexical(source) == expected


@pytest.mark.parametrize(
    "source, expected",
    [
        ("", []),
        ("Hello, $name!", []),
        ("'abc \\q \"", []),  # quotes and backslashes are text in a template
        ("Hello $if!", [(1, 8, 1, 10, INVALID_KEYWORD)]),
        ("a\n$(x:0.2f) $op", [(2, 12, 2, 14, INVALID_RESERVED_KEYWORD)]),
        ("$(1_) and $('x)", [(1, 3, 1, 5, INVALID_NUMBER_LITERAL_UNDERSCORE), (1, 16, 1, 16, UNTERMINATED_STRING)]),
        ("price: ${ # }", [(1, 11, 1, 12, UNKNOWN_TOKEN)]),
    ],
)
def test_template_diagnostics(source, expected):
    assert lexical(source, TEMPLATE) == expected


def nested(depth):
    return "'$(" * depth + "x" + ")'" * depth


def test_nesting_up_to_the_limit_lexes():
    assert lexical(nested(256)) == []
    assert lexical("$(" + nested(255) + ")", TEMPLATE) == []


def test_nesting_beyond_the_limit_is_a_lexer_error():
    source = nested(257)
    chunk, encoded = core.compile(source, SCRIPT)
    assert chunk is None
    found = records(encoded)
    assert len(found) == 1
    line, column, _, _, code = found[0]
    # The lexer stops at the `(` of the interpolation one level too deep.
    assert (line, column, code) == (1, 256 * 3 + 3, LEXER_ERROR)


def test_far_beyond_the_limit_does_not_crash():
    chunk, encoded = core.compile(nested(100_000), SCRIPT)
    assert chunk is None
    assert [r[4] for r in records(encoded)] == [LEXER_ERROR]
    chunk, encoded = core.compile("${" + "'${" * 100_000, TEMPLATE)
    assert chunk is None
    assert [r[4] for r in records(encoded)] == [LEXER_ERROR]
