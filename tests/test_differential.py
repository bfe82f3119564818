"""Differential check: compilation results (chunk bytes and the diagnostics
list) stay exactly those recorded in tests/data/differential_baseline.json.

The inputs are rebuilt deterministically on every run: the examples, 300
generated corpus units and their concatenation, truncations of corpus units
at many points, random token soup, and a few pathological shapes (deep
nesting, long lines, CRLF, non-ASCII text), each in script and template mode.
A change in the compiler that alters any output shows up here with the names
of the inputs affected.

    python tests/test_differential.py            # compare, list the differences
    python tests/test_differential.py --update   # record the current results

Each input is compiled with the default configuration and again with every
report switched on (tags and references included, which editors ask for),
each against a baseline of its own.

Record a new baseline only for an intended change of behaviour.
"""

from __future__ import annotations

import hashlib
import json
import random
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
BASELINE = ROOT / "tests" / "data" / "differential_baseline.json"
# Configurations compared, each with its baseline file: the default one of
# quendal.core, and every report on through quendal._engine (the only way to
# ask for tags and tag references).
CONFIGS: dict[str, Path] = {
    "default": BASELINE,
    "all_reports": ROOT / "tests" / "data" / "differential_all_reports_baseline.json",
}
sys.path.insert(0, str(ROOT / "bench"))
import gen_corpus  # noqa: E402

SEED = 11
UNITS = 300
TRUNCATED_UNITS = 40
CUTS_PER_UNIT = 24
SOUP_CASES = 300

VOCABULARY = [
    # keywords
    "true", "false", "nil", "nan", "inf", "_", "global", "in", "not in", "is", "and", "or", "not",
    "type", "if", "else", "match", "case", "for", "while", "loop", "break", "continue", "return",
    "fn", "op", "let", "const", "mut", "where", "mod", "pub", "use", "effect", "try", "handle",
    "finally", "perform", "resume",
    # operators and brackets
    "(", ")", "[", "]", "{", "}", ":", "?", "?:", "::", ",", ".", "->", "..", "..<", "+", "+=", "-",
    "-=", "*", "*=", "/", "/=", "%", "%=", "^", "^=", "!", "&&", "&&=", "||", "||=", "??", "??=", "=",
    "==", "!=", "=~", "!~", ">", ">=", "<", "<=", ";", "...", "#", "~", "&", "|", "@",
    # strings, interpolations, escapes
    '"', "'", "`", "@'", '@@"', "'@", '"@@', "$", "$(", "${", "$$(", "$${", "$x", "$it", "$$",
    ":08.3f", ":x", "\\n", "\\u{41}", "\\u{D800}", "\\u{110000}", "\\u{}", "\\x41", "\\xZZ", "\\",
    "\\'", "\\$", "\\q",
    # comments and line breaks
    "//", "/*", "*/", "\r\n", "\r", "\n", "\n", "\t",
    # identifiers
    "x", "y", "z", "it", "print", "f", "a.b", "r", "\u00e4", "\U0001d465", "\u200b", "\ufffd",
    # numbers and ordinals
    "0", "1", "2", "42", "127", "128", "255", "256", "1.5", "1e3", "1e999", "1e", "0x1F", "0xG",
    "0b101", "0b", "0o7", "0o8", "1_000", "1_", "007", "2147483648", "99999999999999999999",
    "0.0", "-0.0", ".0",
]  # fmt: skip


def _pathological() -> dict[str, str]:
    cases = {
        "deep_parens_200": "(" * 200 + "1" + ")" * 200,
        "deep_parens_300": "(" * 300 + "1" + ")" * 300,
        "deep_arrays_300": "[" * 300 + "]" * 300,
        "deep_blocks_300": "{" * 300 + "}" * 300,
        "deep_unclosed_400": "(" * 400,
        "deep_parens_700": "(" * 700 + "1" + ")" * 700,
        "deep_unclosed_1000": "(" * 1000,
        "chain_sum_1000": "let a = 1; a" + " + a" * 1000,
        "chain_or_1000": "let a = 1; a" + " or a" * 1000,
        "chain_postfix_1000": "let a = 1; a" + ".b(a)[1]!" * 1000,
        "chain_extension_1000": "let a = 1; a" + "::f(a)" * 1000,
        "chain_else_if_1000": "let a = 1; if a == 0 { 0 }"
        + "".join(f" else if a == {i} {{ {i} }}" for i in range(1, 1000))
        + " else { 1 }",
        "chain_or_pattern_1000": "let a = 1; match a { case 0" + " or 1" * 1000 + " { 2 } }",
        "chain_and_pattern_1000": "let a = 1; a is > 0" + " and < 9" * 1000,
        "deep_interpolation_40": "'$(" * 40 + "1" + ")'" * 40,
        "deep_interpolation_300": "'$(" * 300 + "1" + ")'" * 300,
        "long_line": "let x = [" + ", ".join(str(i) for i in range(3000)) + "];\nx",
        "long_string": "let s = '" + "\u00e4b\U0001d465c" * 2000 + "'; s",
        "crlf": "let a = 1;\r\nlet b = a +\r\n 2;\r\n(a: a, b: b)\r\n",
        "non_ascii": "let \u00e4 = 'gr\u00fc\u00df $(1 + 2) \U0001f600';\nlet \u00f6 = \u00e4 ++ 1;\n\u00f6",
        "long_identifier": "let " + "v" * 5000 + " = 1;",
        "many_errors": "let = ; fn ( { ] ) ) ;" * 200,
        "empty": "",
        "blank": "  \n\t\n",
        "comment_only": "// nothing\n/* still nothing */",
        "unterminated_comment": "let x = 1; /* no end",
        "unterminated_string": "let x = 'abc $(1 + ",
    }
    return cases


def build_cases() -> dict[str, str]:
    cases: dict[str, str] = {}
    for path in sorted((ROOT / "examples").glob("*")):
        if path.is_file():
            cases[f"example/{path.name}"] = path.read_text(encoding="utf-8")
    units = [gen_corpus.make_unit(SEED, u)["q"] for u in range(UNITS)]
    for u, text in enumerate(units):
        cases[f"unit/{u}"] = text
    cases["corpus"] = "".join(units)
    rng = random.Random(SEED)
    for u in range(TRUNCATED_UNITS):
        text = units[u * (UNITS // TRUNCATED_UNITS)]
        points = sorted(rng.sample(range(1, len(text)), CUTS_PER_UNIT))
        for p in points:
            cases[f"cut/{u}/{p}"] = text[:p]
    for n in range(SOUP_CASES):
        length = rng.randint(1, 60)
        parts = []
        for _ in range(length):
            parts.append(rng.choice(VOCABULARY))
            parts.append(rng.choice(("", "", " ", " ", "\n")))
        cases[f"soup/{n}"] = "".join(parts)
    for name, text in _pathological().items():
        cases[f"shape/{name}"] = text
    return cases


def _core():
    try:
        import quendal.core as core
    except ImportError:
        sys.path.insert(0, str(ROOT / "python"))
        import quendal.core as core
    return core


def compiler(config: str):
    """The compile function of a configuration: (source, mode) -> result."""
    if config == "default":
        core = _core()
        return lambda source, mode: core.compile(source, core.Config(input_mode=mode))
    try:
        from quendal import _engine
    except ImportError:
        sys.path.insert(0, str(ROOT / "python"))
        from quendal import _engine
    return lambda source, mode: _engine.compile(source, input_mode=mode, report_tags=True)


def result_digest(compile_, source: str, mode: str) -> str:
    try:
        chunk, diagnostics = compile_(source, mode)
        text = repr((chunk, diagnostics))
    except BaseException as failure:  # InternalFailure is part of the behaviour too
        if isinstance(failure, (KeyboardInterrupt, SystemExit)):
            raise
        text = f"raised {type(failure).__name__}: {failure}"
    return hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()[:16]


def current_results(compile_) -> dict[str, str]:
    out = {}
    for name, source in build_cases().items():
        for mode in ("script", "template"):
            out[f"{mode}:{name}"] = result_digest(compile_, source, mode)
    return out


def example_sources() -> dict[str, str]:
    """Digest of each example's text: examples are edited over time, and a
    result only compares with the baseline while its input is unchanged."""
    return {
        name[len("example/") :]: hashlib.sha256(text.encode()).hexdigest()[:16]
        for name, text in build_cases().items()
        if name.startswith("example/")
    }


def edited_examples(recorded: dict[str, str]) -> set[str]:
    current = example_sources()
    names = set(recorded) | set(current)
    return {n for n in names if recorded.get(n) != current.get(n)}


def differences(baseline: dict, actual: dict[str, str]) -> list[str]:
    expected = baseline["results"]
    edited = edited_examples(baseline.get("examples", {}))
    names = sorted(set(expected) | set(actual))
    return [
        n
        for n in names
        if expected.get(n) != actual.get(n) and n.split(":", 1)[1].removeprefix("example/") not in edited
    ]


@pytest.mark.parametrize("config", sorted(CONFIGS))
def test_results_match_baseline(config: str):
    pytest.importorskip("quendal.core" if config == "default" else "quendal._engine")
    baseline = json.loads(CONFIGS[config].read_text())
    actual = current_results(compiler(config))
    changed = differences(baseline, actual)
    assert changed == [], f"{len(changed)} results differ from the baseline, first: {changed[:20]}"


def main(argv: list[str]) -> int:
    failed = 0
    for config, path in sorted(CONFIGS.items()):
        actual = current_results(compiler(config))
        if "--update" in argv:
            path.parent.mkdir(parents=True, exist_ok=True)
            data = {"examples": example_sources(), "results": actual}
            path.write_text(json.dumps(data, indent=0, sort_keys=True) + "\n")
            print(f"{config}: recorded {len(actual)} results in {path.relative_to(ROOT)}")
            continue
        baseline = json.loads(path.read_text())
        for name in sorted(edited_examples(baseline.get("examples", {}))):
            print(f"{config}: not compared (example edited since the baseline): {name}")
        changed = differences(baseline, actual)
        for name in changed[:50]:
            print(f"{config}: differs: {name}")
        print(f"{config}: {len(actual) - len(changed)} passed, {len(changed)} failed")
        failed += len(changed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
