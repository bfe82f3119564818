#!/usr/bin/env python3
"""Compiling on several threads through quendal._engine, which runs the
compiler without the interpreter lock: the same work per thread, one thread
against N at once. With the lock released, N threads on N cores finish N
times the work in about the time of one.

    python3 bench/thread_bench.py                  # 2 threads, 1 MB per thread
    python3 bench/thread_bench.py --threads 2 --size-mb 2 --repeat 5

Also times a language-server recompilation (tags on, UTF-16 columns, no
source map, decoded into the server's view) of a 100 KB document.
"""

from __future__ import annotations

import argparse
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from gen_corpus import UNIT_BYTES, generate  # noqa: E402

from quendal import _engine  # noqa: E402


def run_threads(count: int, source: str, compile_fn=None) -> float:
    """Wall time for `count` threads each compiling `source` once."""
    barrier = threading.Barrier(count + 1)
    compile_fn = compile_fn or _engine.compile

    def work() -> None:
        barrier.wait()
        compile_fn(source)

    threads = [threading.Thread(target=work) for _ in range(count)]
    for t in threads:
        t.start()
    start = time.perf_counter()
    barrier.wait()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def best(repeat: int, fn, *args) -> float:
    return min(fn(*args) for _ in range(repeat))


def cpu_per_wall(count: int, source: str, compile_fn=None) -> float:
    """Process CPU time over wall time while `count` threads compile: above
    1 only when threads ran on several cores at once."""
    cpu = time.process_time()
    wall = run_threads(count, source, compile_fn)
    return (time.process_time() - cpu) / wall


def progress(compile_fn, source: str) -> int:
    """Iterations a pure-Python loop in this thread makes while another
    thread compiles `source` (none while the compiling thread holds the
    interpreter lock)."""
    done = threading.Event()
    started = threading.Event()

    def work() -> None:
        started.set()
        compile_fn(source)
        done.set()

    t = threading.Thread(target=work)
    t.start()
    started.wait()
    count = 0
    while not done.is_set():
        count += 1
    t.join()
    return count


def lsp_recompile(size: int, repeat: int) -> tuple[float, float]:
    from quendal.lsp.analysis import Analysis

    text = generate(max(1, size // UNIT_BYTES))["q"]
    compile_only = best(
        repeat,
        lambda: _timed(lambda: _engine.compile(text, report_tags=True, report_source_map=False, position_unit="utf16")),
    )
    # What a change costs the server: compile, read the records, convert the
    # diagnostics; then the editor asks for the semantic tokens.
    whole = best(repeat, lambda: _timed(lambda: Analysis(text).diagnostics("file:///bench.qd")))
    tokens = best(repeat, lambda: _timed(lambda: Analysis(text).semantic_tokens()))
    print(f"100 KB compile + semantic tokens: {tokens * 1000:7.1f} ms")
    print(f"  document: {len(text.encode()) / 1000:.0f} KB")
    return compile_only, whole


def _timed(fn) -> float:
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def control(count: int) -> float:
    """CPU time over wall time of `count` threads hashing (hashlib releases
    the lock for large inputs): what the machine lets threads do at once,
    whatever compiles."""
    import hashlib

    data = b"q" * 50_000_000

    def work() -> None:
        hashlib.sha256(data).digest()

    threads = [threading.Thread(target=work) for _ in range(count)]
    cpu, wall = time.process_time(), time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return (time.process_time() - cpu) / (time.perf_counter() - wall)


def loop_rate() -> float:
    """Iterations per second of the loop in `progress`, on this thread alone."""
    done = threading.Event()
    count = 0
    timer = threading.Timer(0.05, done.set)
    timer.start()
    start = time.perf_counter()
    while not done.is_set():
        count += 1
    return count / (time.perf_counter() - start)


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--size-mb", type=float, default=1.0, help="source compiled by each thread (default 1)")
    p.add_argument("--repeat", type=int, default=5, help="best of this many runs (default 5)")
    args = p.parse_args(argv)
    source = generate(max(1, int(args.size_mb * 1_000_000 / UNIT_BYTES)))["q"]
    mb = len(source.encode()) / 1e6
    _engine.compile(source)  # warm up
    one = best(args.repeat, run_threads, 1, source)
    many = best(args.repeat, run_threads, args.threads, source)
    print(f"one thread, {mb:.2f} MB:            {one * 1000:8.1f} ms")
    print(f"{args.threads} threads, {mb:.2f} MB each:     {many * 1000:8.1f} ms")
    print(f"work per time, {args.threads} threads vs 1:  {args.threads * one / many:8.2f}x")
    from quendal import core

    def core_compile(text: str) -> object:
        return core.compile(text, core.Config())

    core_many = best(args.repeat, run_threads, args.threads, source, core_compile)
    print(f"same, quendal.core (holds the lock): {args.threads * one / core_many:5.2f}x")
    print(f"CPU time / wall time, {args.threads} threads:   engine {cpu_per_wall(args.threads, source):.2f}, "
          f"core {cpu_per_wall(args.threads, source, core_compile):.2f}")
    print(f"control, {args.threads} threads hashing:      CPU time / wall time {control(args.threads):.2f}")
    # Load on the machine (other processes) hides the second core from the
    # timings above; this one is about the lock alone: how long another
    # Python thread gets to run while one compiles (time per iteration of its
    # loop measured alone, so the figures are comparable).
    rate = loop_rate()
    engine_ms = progress(_engine.compile, source) / rate * 1000
    core_ms = progress(core_compile, source) / rate * 1000
    print(f"another Python thread runs during one compile: engine {engine_ms:.1f} ms, core {core_ms:.1f} ms "
          f"(compile {one * 1000:.1f} ms)")
    compile_only, whole = lsp_recompile(100_000, args.repeat)
    print(f"100 KB recompile (engine only):  {compile_only * 1000:8.1f} ms")
    print(f"100 KB recompile + diagnostics:  {whole * 1000:8.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
