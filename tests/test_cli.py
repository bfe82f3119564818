"""The `quendal` command: check output for people and tools, inputs, colours,
exit codes, and `dis`."""

import json
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

from quendal import cli, dis
from quendal.render import use_color

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def run(*args, input=None, env=None, cwd=None, text=True):
    full_env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "FORCE_COLOR")}
    full_env.update(env or {})
    return subprocess.run(
        [sys.executable, "-m", "quendal", *args],
        capture_output=True,
        input=input,
        env=full_env,
        cwd=cwd,
        text=text,
    )


def check(tmp_path, name, source, *args):
    path = tmp_path / name
    path.write_bytes(source.encode("utf-8") if isinstance(source, str) else source)
    return run("check", *args, name, cwd=tmp_path)


# ---------------------------------------------------------------------------
# Golden outputs of typical mistakes

GOLDEN = [
    (
        "semi.qd",
        "let total = 1\nprint(total);\n",
        """\
error[MissingSemicolon]: missing `;` at the end of a statement
 --> semi.qd:1:14
  |
1 | let total = 1
  |              ^

1 error
""",
    ),
    (
        "bracket.qd",
        "let xs = [1, 2;\nprint(xs);\n",
        """\
error[MissingCloseBracket]: missing `]` to close the bracket
 --> bracket.qd:1:15
  |
1 | let xs = [1, 2;
  |               ^

1 error
""",
    ),
    (
        "string.qd",
        "let name = 'Ada;\nprint(name);\n",
        """\
hint[UnusedLocalVariable]: unused variable `name`; remove it or name it `_`
 --> string.qd:1:5
  |
1 | let name = 'Ada;
  |     ^^^^

error[UnterminatedString]: unterminated string literal
 --> string.qd:2:14
  |
2 | print(name);
  |             ^

error[MissingSemicolon]: missing `;` at the end of a statement
 --> string.qd:2:14
  |
2 | print(name);
  |             ^

2 errors, 1 hint
""",
    ),
    (
        "letter.qdt",
        "Dear $(name,\nthanks.\n",
        """\
error[UnterminatedInterpolation]: unterminated interpolation
 --> letter.qdt:1:8
  |
1 | Dear $(name,
  |        ^^^^^
2 | thanks.
  | ^^^^^^^

1 error
""",
    ),
    (
        "undefined.qd",
        "let count = 0;\ncout = count + 1;\n",
        """\
error[UndefinedVariableAssignment]: cannot assign to undeclared variable `cout`
 --> undefined.qd:2:1
  |
2 | cout = count + 1;
  | ^^^^

1 error
""",
    ),
    (
        "immutable.qd",
        "let n = 1;\nn = 2;\nn\n",
        """\
error[ImmutableVariableAssignment]: cannot assign to immutable variable `n`
 --> immutable.qd:2:1
  |
2 | n = 2;
  | ^
note[VariableDeclaredHere]: variable declared here
 --> immutable.qd:1:5
  |
1 | let n = 1;
  |     -

1 error
""",
    ),
    (
        # A tab before the error and wide characters in the line: the
        # underline stays under the text.
        "wide.qd",
        "\tlet 名前 = '日本';\t名前 = 3;\n名前\n",
        """\
error[ImmutableVariableAssignment]: cannot assign to immutable variable `名前`
 --> wide.qd:1:17
  |
1 |     let 名前 = '日本';  名前 = 3;
  |                         ^^^^
note[VariableDeclaredHere]: variable declared here
 --> wide.qd:1:6
  |
1 |     let 名前 = '日本';  名前 = 3;
  |         ----

1 error
""",
    ),
]


@pytest.mark.parametrize("name, source, expected", GOLDEN, ids=[g[0] for g in GOLDEN])
def test_golden_output(tmp_path, name, source, expected):
    p = check(tmp_path, name, source)
    assert (p.stdout, p.stderr, p.returncode) == (expected, "", 1)


def test_sorted_by_position_across_stages(tmp_path):
    # Lexer, parser and emitter records arrive in that order; the listing is
    # in source order.
    p = check(tmp_path, "a.qd", "let a = 1;\na = 2;\nlet b = 'x\n")
    lines = p.stdout.splitlines()
    heads = [lines[i + 1] for i, line in enumerate(lines) if line.startswith(("error[", "warning[", "hint["))]
    positions = [tuple(map(int, h.rsplit(":", 2)[1:])) for h in heads]
    assert positions == sorted(positions) and len(positions) >= 3


def test_clean_file(tmp_path):
    p = check(tmp_path, "ok.qd", "let x = 1;\nprint(x);\n")
    assert (p.stdout, p.returncode) == ("no problems\n", 0)


def test_warnings_alone_exit_zero(tmp_path):
    p = check(tmp_path, "w.qd", "print(1 + true);\n")
    assert p.returncode == 0
    assert p.stdout.startswith("warning[NonNumberInArithmetic]: arithmetic needs numbers, not `true`\n")
    assert p.stdout.endswith("\n1 warning\n")


def test_original_messages_with_lang_zh(tmp_path):
    p = check(tmp_path, "semi.qd", "let x = 1\n", "--lang", "zh")
    assert "\nerror[MissingSemicolon]: 语句末尾缺少 `;`\n" in p.stdout


@pytest.mark.parametrize(
    "source, code, words",
    [
        ("(" * 700 + ")" * 700, "ParserError", "nested more than 640 levels"),
        ("'${" * 300 + "1" + "}'" * 300, "LexerError", "nested more than 256 levels"),
    ],
)
def test_nesting_is_explained(tmp_path, source, code, words):
    p = check(tmp_path, "deep.qd", source)
    assert p.returncode == 1
    assert f"error[{code}]" in p.stdout
    assert words in p.stdout and "= note: " in p.stdout


def test_long_line_is_cut_around_the_error(tmp_path):
    source = "print([" + "1, " * 5000 + "2);\n"
    p = check(tmp_path, "long.qd", source)
    lines = p.stdout.splitlines()
    code_line, underline = lines[3], lines[4]
    assert len(code_line) < 200 and code_line.startswith("1 | …")
    assert code_line[underline.index("^")] == ")"


def test_control_characters_are_shown_safely(tmp_path):
    p = check(tmp_path, "c.qd", "let x = \x1b[31m;\n")
    assert "\x1b" not in p.stdout and "\u241b" in p.stdout


# ---------------------------------------------------------------------------
# JSON


def test_json_schema(tmp_path):
    p = check(tmp_path, "a.qd", "let n = 1;\nn = 2;\nn\n", "--format=json")
    assert p.returncode == 1
    [d] = json.loads(p.stdout)
    assert d == {
        "file": "a.qd",
        "severity": "error",
        "code": 1063,
        "name": "ImmutableVariableAssignment",
        "message": "cannot assign to immutable variable `n`",
        "original_message": "不能对不可变变量赋值...",
        "range": {"start": {"line": 2, "column": 1}, "end": {"line": 2, "column": 2}},
        "text": "n",
        "related": [
            {
                "code": 5001,
                "name": "VariableDeclaredHere",
                "message": "variable declared here",
                "original_message": "...在此处声明",
                "range": {"start": {"line": 1, "column": 5}, "end": {"line": 1, "column": 6}},
                "text": "n",
            }
        ],
    }


def test_json_of_several_files_is_one_array_without_limit(tmp_path):
    (tmp_path / "ok.qd").write_text("1", encoding="utf-8")
    (tmp_path / "bad.qd").write_text("let = ;\n" * 30, encoding="utf-8")
    p = run("check", "--format", "json", "--max-errors", "1", "ok.qd", "bad.qd", cwd=tmp_path)
    data = json.loads(p.stdout)
    assert len(data) >= 30 and {d["file"] for d in data} == {"bad.qd"}
    assert p.returncode == 1


# ---------------------------------------------------------------------------
# Inputs


def test_stdin(tmp_path):
    p = run("check", "-", input="let x = 1\n")
    assert " --> <stdin>:1:10\n" in p.stdout and p.returncode == 1
    p = run("-", "--template", input="'abc")
    assert p.returncode == 0


def test_bom_is_skipped_and_columns_stay_right(tmp_path):
    p = check(tmp_path, "bom.qd", b"\xef\xbb\xbflet x = 1\n")
    assert p.returncode == 1
    assert " --> bom.qd:1:10\n" in p.stdout and "1 | let x = 1\n" in p.stdout
    assert check(tmp_path, "bom2.qd", b"\xef\xbb\xbfprint(1);").returncode == 0


@pytest.mark.parametrize(
    "content, offset, byte",
    [(b"\xff\xfe", 0, "0xff"), (b"'a\xc3", 2, "0xc3"), (b"ok;\n\xed\xa0\x80", 4, "0xed"), (b"\xef\xbb\xbf\x80", 3, "0x80")],
)
def test_undecodable_file(tmp_path, content, offset, byte):
    p = check(tmp_path, "bin.qd", content)
    assert p.returncode == 2 and p.stdout == "no problems in 0 files\n"
    [line] = p.stderr.splitlines()
    assert line.startswith("quendal: error: bin.qd: not valid UTF-8: ")
    assert f"byte {byte} at byte offset {offset}" in line


def test_unreadable_inputs_exit_2_but_the_rest_is_checked(tmp_path):
    (tmp_path / "bad.qd").write_text("let = ;", encoding="utf-8")
    p = run("check", "missing.qd", "bad.qd", cwd=tmp_path)
    assert p.returncode == 2
    assert "quendal: error: missing.qd: cannot read" in p.stderr
    assert "error[" in p.stdout and "Traceback" not in p.stderr


def test_directory_recursion_and_template_by_extension(tmp_path):
    (tmp_path / "src" / "sub").mkdir(parents=True)
    (tmp_path / "src" / ".hidden").mkdir()
    (tmp_path / "src" / "b.qd").write_text("let x = 1\n", encoding="utf-8")
    (tmp_path / "src" / "sub" / "a.qd").write_text("print(1);", encoding="utf-8")
    (tmp_path / "src" / "sub" / "page.qdt").write_text("Hello $name, 'quote", encoding="utf-8")
    (tmp_path / "src" / "notes.txt").write_text("let = ;", encoding="utf-8")
    (tmp_path / "src" / ".hidden" / "c.qd").write_text("let = ;", encoding="utf-8")
    p = run("check", "src", cwd=tmp_path)
    assert p.returncode == 1
    files = [line.split(" --> ")[1].rsplit(":", 2)[0] for line in p.stdout.splitlines() if " --> " in line]
    assert set(files) == {os.path.join("src", "b.qd")}
    assert p.stdout.endswith("1 error, 1 hint in 3 files\n")
    # The same template read as a script has an unterminated string.
    p = run("check", "--script", os.path.join("src", "sub", "page.qdt"), cwd=tmp_path)
    assert "UnterminatedString" in p.stdout


def test_max_errors(tmp_path):
    (tmp_path / "many.qd").write_text("let = ;\n" * 100, encoding="utf-8")
    p = run("check", "many.qd", "--max-errors", "3", cwd=tmp_path)
    assert p.stdout.count("\nerror[") + p.stdout.startswith("error[") == 3
    lines = p.stdout.splitlines()
    total = int(lines[-1].split()[0])
    assert lines[-2] == f"{total - 3} more diagnostics not shown (--max-errors 3; 0 shows all)"
    p = run("check", "many.qd", "--max-errors", "0", cwd=tmp_path)
    assert "not shown" not in p.stdout
    assert run("check", "many.qd", "--max-errors", "-1", cwd=tmp_path).returncode == 2


def test_default_limit_bounds_the_output(tmp_path):
    (tmp_path / "many.qd").write_text(")" * 20000, encoding="utf-8")
    p = run("check", "many.qd", cwd=tmp_path)
    assert p.stdout.count("error[UnmatchedCloseParen]") == 50
    assert p.stdout.endswith("19950 more diagnostics not shown (--max-errors 50; 0 shows all)\n20000 errors\n")


# ---------------------------------------------------------------------------
# Colours and encodings


@pytest.mark.parametrize(
    "choice, env, tty, expected",
    [
        ("auto", {}, False, False),
        ("auto", {}, True, True),
        ("auto", {"NO_COLOR": "1"}, True, False),
        ("auto", {"NO_COLOR": ""}, True, True),
        ("auto", {"FORCE_COLOR": "1"}, False, True),
        ("auto", {"FORCE_COLOR": "1", "NO_COLOR": "1"}, False, False),
        ("always", {"NO_COLOR": "1"}, False, True),
        ("never", {"FORCE_COLOR": "1"}, True, False),
    ],
)
def test_colour_choice(choice, env, tty, expected):
    class Stream:
        def isatty(self):
            return tty

    assert use_color(choice, Stream(), env) is expected


@pytest.mark.parametrize(
    "args, env, coloured",
    [
        ((), {"FORCE_COLOR": "1"}, True),
        ((), {"FORCE_COLOR": "1", "NO_COLOR": "1"}, False),
        (("--color=always",), {"NO_COLOR": "1"}, True),
        (("--color=never",), {"FORCE_COLOR": "1"}, False),
        ((), {}, False),  # not a terminal
    ],
)
def test_colour_in_output(tmp_path, args, env, coloured):
    (tmp_path / "a.qd").write_text("let x = 1\n", encoding="utf-8")
    p = run("check", *args, "a.qd", env=env, cwd=tmp_path)
    assert ("\x1b[1;31merror[MissingSemicolon]\x1b[0m" in p.stdout) is coloured
    assert ("\x1b[" in p.stdout) is coloured


def test_narrow_output_encoding_never_fails(tmp_path):
    (tmp_path / "a.qd").write_text("let 名前 = 1\n名前\n", encoding="utf-8")
    p = run("check", "a.qd", "--lang", "zh", env={"PYTHONIOENCODING": "ascii"}, cwd=tmp_path, text=False)
    out = p.stdout.decode("ascii")
    assert p.returncode == 1 and b"Traceback" not in p.stderr
    # Unencodable characters become "?", one cell each: the caret stays under
    # the end of the line.
    lines = out.splitlines()
    assert lines[0] == "error[MissingSemicolon]: ?????? `;`"
    assert lines[3] == "1 | let ?? = 1" and lines[4] == "  | " + " " * 10 + "^"


# ---------------------------------------------------------------------------
# The command itself


def test_help_lists_the_commands_and_exit_codes():
    p = run("--help")
    assert p.returncode == 0
    for word in ("check", "dis", "lsp", "exit status", "2  bad usage", "--globals"):
        assert word in p.stdout
    assert "--max-errors" in run("check", "--help").stdout


def test_version():
    p = run("--version")
    assert p.returncode == 0 and p.stdout.startswith("quendal ") and p.stdout.split()[1][0].isdigit()


@pytest.mark.parametrize("args", [(), ("check",), ("check", "--format=xml", "a.qd"), ("--bogus", "a.qd")])
def test_usage_errors_exit_2(args):
    p = run(*args)
    assert p.returncode == 2 and "Traceback" not in p.stderr


def test_console_script_is_installed():
    script = Path(sysconfig.get_path("scripts")) / "quendal"
    if not script.exists():
        pytest.skip("package not installed with its scripts")
    p = subprocess.run([str(script), "--version"], capture_output=True, text=True)
    assert p.returncode == 0 and p.stdout.startswith("quendal ")


def test_in_process_entry_point(tmp_path, capsys):
    (tmp_path / "a.qd").write_text("print(1);", encoding="utf-8")
    assert cli.main([str(tmp_path / "a.qd")]) == 0
    assert capsys.readouterr().out == "no problems\n"


# ---------------------------------------------------------------------------
# dis


def test_dis_positions_come_from_the_source_map(tmp_path):
    (tmp_path / "f.qd").write_text("fn add(a, b) {\n\ta + b\n}\nadd(1, 2)\n", encoding="utf-8")
    p = run("dis", "f.qd", cwd=tmp_path)
    assert p.returncode == 0, p.stderr
    lines = p.stdout.splitlines()
    assert "script:" in lines and "function #1 at 1:1, 2 parameters:" in lines
    [add] = [line for line in lines if line.strip().endswith("Add r3, r1, r2")]
    assert add.split()[1].startswith("2:")
    p = run("dis", "--source", "f.qd", cwd=tmp_path)
    lines = p.stdout.splitlines()
    at = lines.index("             2 |     a + b")
    assert "Add" in lines[at + 1]


def test_dis_on_a_source_with_errors(tmp_path):
    (tmp_path / "bad.qd").write_text("let x = 1\n", encoding="utf-8")
    p = run("dis", "bad.qd", cwd=tmp_path)
    assert p.returncode == 1 and p.stdout == ""
    assert "error[MissingSemicolon]" in p.stderr and "no bytecode: 1 error" in p.stderr


def test_dis_recognises_or_refuses_chunk_files(tmp_path):
    from quendal import compile

    (tmp_path / "prog.qdc").write_bytes(compile("print(1)").chunk)
    p = run("dis", "prog.qdc", cwd=tmp_path)
    assert p.returncode == 0 and "GetGlobal" in p.stdout or "Call" in p.stdout
    (tmp_path / "text.qd").write_text("let x = 1; x", encoding="utf-8")
    p = run("dis", "--chunk", "text.qd", cwd=tmp_path)
    assert p.returncode == 2
    assert "not a compiled chunk" in p.stderr and "header length field" not in p.stderr
    (tmp_path / "junk.bin").write_bytes(b"\x00\xff\xfe\x80" * 4)
    p = run("dis", "junk.bin", cwd=tmp_path)
    assert p.returncode == 2 and "neither source text nor a compiled chunk" in p.stderr


def test_is_chunk():
    assert dis.is_chunk(bytes([8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]))
    assert not dis.is_chunk(b"let x = 1;\nlet y = 2;")
    assert not dis.is_chunk(bytes([8, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0]))
