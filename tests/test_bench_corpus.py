"""The benchmark corpus: the three languages' programs are valid for their
own compilers, and the Quendal one compiles cleanly into decodable chunks."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
import gen_corpus  # noqa: E402

from quendal import bytecode  # noqa: E402

UNITS = 30


@pytest.fixture(scope="module")
def corpus():
    return gen_corpus.generate(UNITS, seed=3)


def test_deterministic_and_sized(corpus):
    assert gen_corpus.generate(UNITS, seed=3) == corpus
    assert gen_corpus.generate(UNITS, seed=4)["q"] != corpus["q"]
    per_unit = {lang: len(text.encode()) / UNITS for lang, text in corpus.items()}
    assert 450 <= per_unit["q"] <= 800, per_unit
    # The same program in each language: sizes stay within a third of each other.
    assert max(per_unit.values()) / min(per_unit.values()) < 1.33, per_unit


def test_python_corpus_compiles(corpus):
    compile(corpus["py"], "<corpus>", "exec")


def test_lua_corpus_loads(corpus):
    lupa = pytest.importorskip("lupa")
    runtime = lupa.LuaRuntime()
    check = runtime.eval("function(s) local f, e = load(s) return f ~= nil, e end")
    assert tuple(check(corpus["lua"])) == (True, None)


def test_quendal_corpus_compiles_without_errors(corpus):
    core = pytest.importorskip("quendal.core")
    for unit in range(3):
        text = gen_corpus.make_unit(3, unit)["q"]
        data, diagnostics = core.compile(text, core.Config())
        errors = [c for c in diagnostics[4::5] if 1001 <= c <= 1998]
        assert errors == [], text
        assert data is not None
        assert [i.name for i in bytecode.decode(data).instructions][-1] == "FuncEnd"
    data, diagnostics = core.compile(corpus["q"], core.Config())
    assert [c for c in diagnostics[4::5] if 1001 <= c <= 1998] == []
    assert bytecode.decode(data).instructions[0].name == "Func"
