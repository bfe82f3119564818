"""`python -m quendal FILE`: the diagnostics listing and its exit status."""

import subprocess
import sys

import pytest

from quendal import check


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "quendal", *args], capture_output=True, text=True, cwd=cwd)


def test_error_listing_and_exit_status(tmp_path):
    f = tmp_path / "bad.qd"
    f.write_text("'abc", encoding="utf-8")
    p = run(str(f))
    assert p.returncode == 1
    lines = p.stdout.splitlines()
    assert any(
        line.startswith(f"{f}:1:") and " error UnterminatedString: 字符串字面量未终止" in line for line in lines
    ), p.stdout
    assert lines[-1] == f"{f}: no bytecode (1 error)"


def test_template_flag_changes_the_mode(tmp_path):
    f = tmp_path / "page.qd"
    f.write_text("'abc", encoding="utf-8")
    p = run(str(f), "--template")
    assert "UnterminatedString" not in p.stdout


@pytest.mark.parametrize("content", [b"\xff\xfe", b"'a\xc3", b"\xed\xa0\x80"])
def test_invalid_utf8_is_refused(tmp_path, content):
    f = tmp_path / "bin.qd"
    f.write_bytes(content)
    p = run(str(f))
    assert p.returncode == 2
    assert "not valid UTF-8" in p.stderr


def test_unreadable_file(tmp_path):
    p = run(str(tmp_path / "missing.qd"))
    assert p.returncode == 2
    assert "cannot read" in p.stderr


def test_dis_is_dispatched_to_its_command():
    p = run("dis", "--help")
    assert p.returncode == 0
    assert "python -m quendal dis" in p.stdout


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
    ],
)
def test_positions_map_back_to_indices(text, line, column, index):
    assert check.SourceText(text).index(line, column) == index


def test_placeholder_takes_the_covered_text():
    from quendal import core

    source = check.SourceText("x\nlet let = 1")
    record = check.Record(2, 5, 2, 8, 1010)
    assert check.format_record("f.qd", source, record) == "f.qd:2:5: error InvalidKeyword: `let` 是关键字，不能用作标识符"
    word, name, _ = core.get_diagnostic_message(2001)
    line = check.format_record("g.qd", check.SourceText("nul + 1"), check.Record(1, 1, 1, 4, 2001))
    assert line == f"g.qd:1:1: {word.lower()} {name}: `nul` 不是空值；显式使用全局变量 `global.nul` 或空值 `nil`"


def test_records_split_the_flat_list():
    assert check.records([1, 2, 3, 4, 1002, 5, 6, 7, 8, 12000]) == [
        check.Record(1, 2, 3, 4, 1002),
        check.Record(5, 6, 7, 8, 12000),
    ]
    assert check.records([1, 2, 3, 4, 1002, 5, 6, 7, 8, 12000])[0].is_error
