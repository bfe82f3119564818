"""Compilations from several Python threads at once give the same results as
serial ones, and deep nesting is handled on a thread's stack."""
import threading
from pathlib import Path

import pytest

from quendal import core

ROOT = Path(__file__).resolve().parents[1]
PARSER_ERROR = 1003

SCRIPTS = [p.read_text(encoding="utf-8") for p in sorted((ROOT / "examples").glob("*.qd"))] + [
    "let x = 1; x + 2",
    "fn f(a, ...rest) { match a { case 1 -> rest, case _ -> [..rest, a] } }\nf(1, 2, 3)",
    "let (a, b: [c, ...d]) = (1, b: [2, 3]); a + c",
    "'text $(1 + 2) and ${x} with \\u{1F600}'",
    "loop { if true { break; } else { continue; } }",
    "let = ; ) ] } fn ( 'unterminated",
    "mod m { pub let a = 1; pub fn g() { a } }",
    "x.y.z ?? [1..<10] |> 0x1F",
    "é = 𝑥 + 1 // non-ASCII names\n",
]
TEMPLATES = ["Hello $(name)!", "$(", "a $(for x in xs { x }) b ${y}"]


def jobs():
    out = [(source, {}) for source in SCRIPTS]
    out += [(source, {"input_mode": "template"}) for source in TEMPLATES]
    return out


def run_threads(count, work):
    errors = []
    barrier = threading.Barrier(count)

    def body(index):
        try:
            barrier.wait()
            work(index)
        except BaseException as error:  # reported in the main thread
            errors.append(error)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]


def test_parallel_compilations_match_serial_results():
    work = jobs()
    serial = [core.compile(source, core.Config(**config)) for source, config in work]
    results = {}

    def compile_all(index):
        # Each thread walks the jobs from a different starting point, so
        # different scripts are compiled at the same moment.
        order = work[index:] + work[:index]
        for rounds in range(5):
            for k, (source, config) in enumerate(order):
                results[(index, rounds, (k + index) % len(work))] = core.compile(source, core.Config(**config))

    run_threads(8, compile_all)
    assert len(results) == 8 * 5 * len(work)
    for (_, _, job), result in results.items():
        assert result == serial[job], work[job][0]


def test_shared_config_across_threads():
    config = core.Config(input_mode="template")
    expected = core.compile("a $(b) c", config)
    seen = []
    run_threads(6, lambda _: seen.extend(core.compile("a $(b) c", config) for _ in range(50)))
    assert seen == [expected] * 300


@pytest.mark.parametrize(
    ("source", "chunk_expected"),
    [
        ("(" * 200 + "1" + ")" * 200, True),
        ("[" * 200 + "]" * 200, True),
        ("(" * 1_000_000, False),
        ("{" * 1_000_000, False),
        ("'$(" * 100_000, False),
    ],
    ids=["parens-200", "brackets-200", "parens-1M", "braces-1M", "interpolations-100k"],
)
def test_deep_nesting_from_a_thread(source, chunk_expected):
    box = []
    run_threads(1, lambda _: box.append(core.compile(source, core.Config())))
    chunk, encoded = box[0]
    assert (chunk is not None) == chunk_expected
    codes = encoded[4::5]
    if not chunk_expected and source.startswith(("(", "{")):
        assert PARSER_ERROR in codes
    assert box[0] == core.compile(source, core.Config())


def big_source(seed):
    # A little over 1 MiB, so that each compilation hands the memory it has
    # freed back to the system before its result list is made.
    lines = [f"let v{seed}_{i} = [{i}, 'text {i}', {f'v{seed}_{i - 1}' if i else 0}]; // {i}\n"
             for i in range(30_000 + 500 * seed)]
    source = "".join(lines) + "undefined_name + 1;\n"
    assert len(source.encode()) > 1 << 20
    return source


def test_big_compilations_on_several_threads_at_once_match_serial_results():
    # Workers compile through _engine, without the interpreter lock, while
    # the main thread compiles through quendal.core: memory is handed back
    # on several threads at the same moment.
    from quendal import _engine

    sources = [big_source(seed) for seed in range(3)]
    serial = [_engine.compile(source) for source in sources]
    assert all(chunk is not None for chunk, _ in serial)
    assert serial[0][1] and serial[0] != serial[1]
    results = {}
    errors = []

    def compile_all(index):
        try:
            for rounds in range(2):
                for k in range(len(sources)):
                    job = (k + index) % len(sources)
                    results[(index, rounds, job)] = _engine.compile(sources[job])
        except BaseException as error:  # reported in the main thread
            errors.append(error)

    threads = [threading.Thread(target=compile_all, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    in_main = [core.compile(sources[k % len(sources)], core.Config()) for k in range(4)]
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]
    assert len(results) == 4 * 2 * len(sources)
    for (_, _, job), result in results.items():
        assert result == serial[job]
    assert in_main == [serial[k % len(sources)] for k in range(4)]
