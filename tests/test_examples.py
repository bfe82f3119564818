"""The shipped examples compile to bytes with no error-range diagnostic."""

import pathlib

import pytest

from quendal import bytecode, core

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
SCRIPTS = sorted(EXAMPLES.glob("*.qd"))
TEMPLATES = sorted(EXAMPLES.glob("*.qdt"))


def _errors(diagnostics):
    return [diagnostics[i : i + 5] for i in range(0, len(diagnostics), 5) if 1001 <= diagnostics[i + 4] <= 1998]


@pytest.mark.parametrize(
    "path, mode",
    [(p, "script") for p in SCRIPTS] + [(p, "template") for p in TEMPLATES],
    ids=lambda v: v.name if isinstance(v, pathlib.Path) else v,
)
def test_example_compiles_cleanly(path, mode):
    chunk, diagnostics = core.compile(path.read_text(encoding="utf-8"), core.Config(input_mode=mode))
    assert _errors(diagnostics) == []
    assert chunk is not None
    decoded = bytecode.decode(chunk)
    source_maps = sum(1 for i in range(4, len(diagnostics), 5) if diagnostics[i] == 12000)
    assert source_maps == len(decoded.instructions)


def test_examples_cover_the_language():
    text = "\n".join(p.read_text(encoding="utf-8") for p in SCRIPTS)
    for construct in ("fn ", "match ", "case ", " is ", "mod ", "pub ", "for ", "while ", "loop ", "$(", "global"):
        assert construct in text, construct
    assert TEMPLATES, "a template example is shipped"
