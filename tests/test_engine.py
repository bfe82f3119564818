"""quendal._engine: every configuration switch as an option, compilation
outside the interpreter lock (threads give the serial results), known
globals; their use by the typed API, the settings files and `quendal check`."""

import json
import os
import subprocess
import sys
import threading
from pathlib import Path

import pytest

from quendal import _engine, core, diagnostics, settings

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = sorted((ROOT / "examples").glob("*.qd*"))
GLOBAL_NOT_DECLARED = 2011


def codes(records):
    return records[4::5]


def test_defaults_match_quendal_core_byte_for_byte():
    for path in EXAMPLES:
        text = path.read_text(encoding="utf-8")
        mode = "template" if path.suffix == ".qdt" else "script"
        assert _engine.compile(text, input_mode=mode) == core.compile(text, core.Config(input_mode=mode)), path


# One source that yields a record of every category that can occur.
EVERYTHING = "let x = 1; let x = 2; 1 + 'a'; (1); 'str'"


@pytest.mark.parametrize(
    ("option", "low", "high"),
    [
        ("report_errors", 1001, 1998),
        ("report_warnings", 2000, 2998),
        ("report_hints", 4000, 4998),
        ("report_references", 5000, 5998),
        ("report_source_map", 12000, 12000),
    ],
)
def test_each_switch_drops_its_category(option, low, high):
    on = codes(_engine.compile(EVERYTHING, report_tags=True)[1])
    off = codes(_engine.compile(EVERYTHING, report_tags=True, **{option: False})[1])
    assert any(low <= c <= high for c in on)
    assert [c for c in on if not low <= c <= high] == off


def test_tags_switch_and_template_mode():
    assert not [c for c in codes(_engine.compile(EVERYTHING)[1]) if 10000 <= c <= 11998]
    assert 10035 in codes(_engine.compile(EVERYTHING, report_tags=True)[1])  # String
    template = "Hello $(name)!"
    assert _engine.compile(template, input_mode="template")[0] is not None
    assert _engine.compile(template)[0] is None


@pytest.mark.parametrize(
    ("unit", "column"),
    [("codepoints", 19), ("utf16", 20), ("bytes", 23)],
)
def test_position_unit(unit, column):
    # é: 2 bytes, 1 unit; 😀: 4 bytes, 2 units; then the unused `q`.
    source = "let s = 'é😀'; let q = 1; s"
    records = _engine.compile(source, position_unit=unit, report_source_map=False)[1]
    hint = records.index(4001) - 4
    assert records[hint : hint + 4] == [1, column, 1, column + 1]


@pytest.mark.parametrize(
    ("options", "error", "words"),
    [
        ({"report_tags": 1}, TypeError, "'report_tags' must be bool"),
        ({"position_unit": "UTF16"}, ValueError, "Invalid position_unit"),
        ({"input_mode": "Template"}, ValueError, "Invalid input_mode"),
        ({"known_globals": "print"}, TypeError, "not a string"),
        ({"known_globals": ["print", 3]}, TypeError, "must hold str"),
        ({"known_globals": 3}, TypeError, "not iterable"),
        ({"report_everything": True}, TypeError, "unexpected keyword argument 'report_everything'"),
    ],
)
def test_bad_options_raise(options, error, words):
    with pytest.raises(error, match=words):
        _engine.compile("x", **options)


def test_positional_options_and_bad_source_raise():
    with pytest.raises(TypeError):
        _engine.compile("x", "script")
    with pytest.raises(TypeError):
        _engine.compile()
    with pytest.raises(TypeError) as info:
        _engine.compile(b"x")
    assert info.value.__notes__ == ["while processing 'source'"]
    with pytest.raises(UnicodeEncodeError):
        _engine.compile("\ud800")


@pytest.mark.parametrize(
    ("source", "known", "warned"),
    [
        # The typo that compiled silently.
        ("let xs = [1]; lenght(xs)", ["len"], ["lenght"]),
        ("len([1]) + print", ["len", "print"], []),
        # Every form of reading a bare name: value, callee, extension callee.
        ("a + b(c) + [1]::d()", ["a"], ["b", "c", "d"]),
        # Explicit access to the global table is never questioned.
        ("global.foo + global['bar'] + ('baz' in global)", [], []),
        # Declared names, parameters and functions are not globals.
        ("fn f(p) { p + q } let r = 1; f(r)", [], ["q"]),
        # Without the option nothing is checked.
        ("lenght(xs)", None, []),
        ("x + x", [], ["x", "x"]),
    ],
)
def test_known_globals(source, known, warned):
    records = _engine.compile(source, known_globals=known, report_source_map=False)[1]
    names = [
        source[records[i + 1] - 1 : records[i + 3] - 1]
        for i in range(0, len(records), 5)
        if records[i + 4] == GLOBAL_NOT_DECLARED
    ]
    assert names == warned


def test_known_globals_warning_follows_the_warnings_switch():
    records = _engine.compile("lenght(1)", known_globals=[], report_warnings=False)[1]
    assert GLOBAL_NOT_DECLARED not in codes(records)


def test_threads_give_the_serial_results():
    jobs = []
    for path in EXAMPLES:
        text = path.read_text(encoding="utf-8")
        mode = "template" if path.suffix == ".qdt" else "script"
        jobs.append((text, {"input_mode": mode}))
        jobs.append((text, {"input_mode": mode, "report_tags": True, "position_unit": "utf16"}))
        jobs.append((text, {"input_mode": mode, "known_globals": ["print"], "report_source_map": False}))
    jobs.append(("let = ; ) ] } fn ( 'unterminated", {"report_tags": True}))
    jobs.append(("(" * 700, {}))
    serial = [_engine.compile(text, **options) for text, options in jobs]
    results = {}
    errors = []
    barrier = threading.Barrier(4)

    def body(index):
        try:
            barrier.wait()
            for round_ in range(3):
                for k in range(len(jobs)):
                    j = (k + index * 7) % len(jobs)
                    text, options = jobs[j]
                    results[(index, round_, j)] = _engine.compile(text, **options)
        except BaseException as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(results) == 4 * 3 * len(jobs)
    for (_, _, j), result in results.items():
        assert result == serial[j]


# ---------------------------------------------------------------------------
# The typed API


def test_typed_api_utf16_columns_and_covered_text():
    source = "let s = '😀'; let q = 1;\nlet e = '𝑥𝑦'; lenght"
    for unit in ("codepoints", "utf16"):
        result = diagnostics.compile(source, unit=unit, known_globals=[], tags=True)
        assert [(d.name, d.text) for d in result.diagnostics] == [
            ("UnusedLocalVariable", "s"),
            ("UnusedLocalVariable", "q"),
            ("UnusedLocalVariable", "e"),
            ("GlobalVariableNotDeclared", "lenght"),
        ]
        assert result.diagnostics[-1].message == "global variable `lenght` is not declared"
        assert result.annotations  # tags were asked for
    q = diagnostics.compile(source, unit="utf16").diagnostics
    assert [d.start for d in q if d.text == "q"] == [diagnostics.Position(1, 19)]


def test_typed_api_without_source_map():
    result = diagnostics.compile("let x = 1; x", source_map=False)
    assert result.ok and len(result.source_map) == 0
    assert len(diagnostics.compile("let x = 1; x").source_map) > 0


# ---------------------------------------------------------------------------
# Settings files


@pytest.mark.parametrize(
    ("files", "start", "expected"),
    [
        ({"quendal.toml": 'globals = ["a", "b"]'}, "x.qd", ("a", "b")),
        ({"pyproject.toml": '[tool.quendal]\nglobals = ["p"]'}, "sub/deeper/x.qd", ("p",)),
        # A pyproject.toml without the table is passed over.
        ({"pyproject.toml": "[tool.other]\nx = 1", "sub/quendal.toml": ""}, "sub/x.qd", None),
        ({"pyproject.toml": "[project]\nname = 'n'", "quendal.toml": "globals = []"}, "sub/x.qd", ()),
        # The nearest file wins; quendal.toml before pyproject.toml.
        (
            {"quendal.toml": 'globals = ["outer"]', "sub/quendal.toml": 'globals = ["inner"]'},
            "sub/x.qd",
            ("inner",),
        ),
        (
            {"sub/pyproject.toml": '[tool.quendal]\nglobals = ["py"]', "sub/quendal.toml": 'globals = ["q"]'},
            "sub/x.qd",
            ("q",),
        ),
    ],
)
def test_settings_are_found_up_the_tree(tmp_path, files, start, expected):
    settings.clear_cache()
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text, encoding="utf-8")
    (tmp_path / start).parent.mkdir(parents=True, exist_ok=True)
    assert settings.find_settings(str(tmp_path / start)).globals == expected


@pytest.mark.parametrize(
    ("text", "words"),
    [("globals = [", "not valid TOML"), ("globals = 'print'", "list of strings"), ("globals = [1]", "list of strings")],
)
def test_bad_settings_name_the_file(tmp_path, text, words):
    settings.clear_cache()
    (tmp_path / "quendal.toml").write_text(text, encoding="utf-8")
    with pytest.raises(settings.SettingsError, match=words) as info:
        settings.find_settings(str(tmp_path / "x.qd"))
    assert "quendal.toml" in str(info.value)


# ---------------------------------------------------------------------------
# quendal check


def run(*args, cwd):
    env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "FORCE_COLOR")}
    return subprocess.run(
        [sys.executable, "-m", "quendal", "check", *args], capture_output=True, text=True, cwd=cwd, env=env
    )


def test_check_reads_globals_from_settings_and_flag(tmp_path):
    (tmp_path / "quendal.toml").write_text('globals = ["print"]\n', encoding="utf-8")
    (tmp_path / "a.qd").write_text("print(lenght)\n", encoding="utf-8")
    found = json.loads(run("--format=json", "a.qd", cwd=tmp_path).stdout)
    assert [(d["name"], d["text"]) for d in found] == [("GlobalVariableNotDeclared", "lenght")]
    flagged = json.loads(run("--format=json", "--globals", "lenght", "a.qd", cwd=tmp_path).stdout)
    assert [d["text"] for d in flagged] == ["print"]
    (tmp_path / "quendal.toml").write_text("globals = [\n", encoding="utf-8")
    bad = run("a.qd", cwd=tmp_path)
    assert bad.returncode == 2 and "quendal.toml: not valid TOML" in bad.stderr


def test_check_on_threads_reports_in_input_order(tmp_path):
    for i in range(12):
        (tmp_path / f"f{i:02}.qd").write_text(f"let v{i} = 1;\n" * (1 + 40 * (i % 3)), encoding="utf-8")
    threaded = run("--format=json", "--jobs", "4", ".", cwd=tmp_path)
    serial = run("--format=json", "--jobs", "1", ".", cwd=tmp_path)
    assert threaded.stdout == serial.stdout
    files = [d["file"] for d in json.loads(threaded.stdout)]
    assert files == sorted(files) and len(set(files)) == 12
