#!/usr/bin/env python3
"""Compile-speed benchmark: quendal.core.compile against CPython's built-in
compile and Lua 5.4's load (through lupa), on equivalent generated programs.

    python bench/run_bench.py                       # 10 MB corpus, generated in memory
    python bench/run_bench.py --corpus bench/corpus # files written by gen_corpus.py
    python bench/run_bench.py --size-mb 2 --repeat 5 --json result.json
    python bench/run_bench.py --core build/python/module/core.cpython-311-x86_64-linux-gnu.so

Measured, in this one process:
  throughput  whole corpus per compile call, best of --repeat runs, in MB/s
              of source (each language's own corpus size);
  latency     one small unit per call, best of several timed batches, in us.
Ratios are quendal's speed over the peer's (above 1: quendal is faster).
quendal and Lua are timed in alternating rounds (the corpus runs, then the
unit batches), so that both bests come from the same stretch of time and a
machine whose speed drifts over a run bends neither ratio.

Peak memory is measured in a fresh subprocess per compiler, because
tracemalloc cannot see native allocations: after the source is loaded the
child resets its peak-RSS mark (writing "5" to /proc/self/clear_refs) and
reads VmRSS; after one compilation it reads VmHWM. The difference is the
peak resident memory added by that compilation, result included. Where the
mark cannot be reset, the child falls back to the VmHWM reached before the
call as the baseline (reported as such).
"""

from __future__ import annotations

import argparse
import gc
import importlib.util
import json
import os
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import gen_corpus  # noqa: E402


# ---------------------------------------------------------------------------
# Loading the compilers


def load_quendal(core_path: str | None):
    """Returns (module, None) or (None, reason)."""
    try:
        import quendal  # noqa: F401
    except ImportError:
        sys.path.insert(0, str(ROOT / "python"))
    try:
        if core_path:
            spec = importlib.util.spec_from_file_location("quendal.core", core_path)
            module = importlib.util.module_from_spec(spec)
            sys.modules["quendal.core"] = module
            spec.loader.exec_module(module)
            return module, None
        import quendal.core as module

        return module, None
    except Exception as e:  # any import problem is reported, not fatal
        return None, f"{type(e).__name__}: {e}"


def load_lua():
    try:
        try:
            import lupa.lua54 as lupa_mod
        except ImportError:
            import lupa as lupa_mod
        runtime = lupa_mod.LuaRuntime()
        # Compiles without running: load returns the chunk function or nil, err.
        check = runtime.eval("function(s) local f, e = load(s) return f ~= nil, e end")
        version = ".".join(map(str, runtime.lua_version))
        return check, version, None
    except Exception as e:
        return None, None, f"{type(e).__name__}: {e}"


# ---------------------------------------------------------------------------
# Timing


def best_time(fn, repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        t = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t)
    return best


def batch_size(fn, min_batch_seconds: float = 0.2) -> int:
    """Calls per batch: enough for a batch to take about min_batch_seconds / 4."""
    n = 1
    while True:
        t = time.perf_counter()
        for _ in range(n):
            fn()
        if time.perf_counter() - t >= min_batch_seconds / 4:
            return n
        n *= 2


def time_batch(fn, n: int) -> float:
    t = time.perf_counter()
    for _ in range(n):
        fn()
    return (time.perf_counter() - t) / n


def per_call(fn, batches: int = 5, min_batch_seconds: float = 0.2) -> float:
    """Seconds per call: the best of several batches, each long enough to time."""
    n = batch_size(fn, min_batch_seconds)
    return min(time_batch(fn, n) for _ in range(batches))


def alternating(fns: dict, rounds: int, measure, notes: list) -> dict:
    """The best of `rounds` measurements of each function, taken in turns:
    every round measures each once, in an order reversed from one round to
    the next, so that no function always runs first. A function that raises
    is noted and left out of the rest; the others go on."""
    best = {name: float("inf") for name in fns}
    names = list(fns)
    for r in range(rounds):
        for name in names if r % 2 == 0 else list(reversed(names)):
            try:
                best[name] = min(best[name], measure(fns[name]))
            except BaseException as e:  # the internal-failure type derives from BaseException
                if isinstance(e, (KeyboardInterrupt, SystemExit)):
                    raise
                notes.append(f"{name} failed while timed: {type(e).__name__}: {e}")
                names.remove(name)
                del best[name]
    return best


def one_run(fn) -> float:
    gc.collect()
    t = time.perf_counter()
    fn()
    return time.perf_counter() - t


def alternating_per_call(fns: dict, notes: list, batches: int = 5, min_batch_seconds: float = 0.2) -> dict:
    """per_call for several functions, their batches taken in turns."""
    sized = alternating({name: fn for name, fn in fns.items()}, 1,
                        lambda fn: batch_size(fn, min_batch_seconds), notes)
    return alternating({name: (fns[name], int(n)) for name, n in sized.items()}, batches,
                       lambda pair: time_batch(*pair), notes)


# ---------------------------------------------------------------------------
# Peak memory in a child process

_MEMORY_CHILD = r"""
import json, sys
kind, path, core_path, root = sys.argv[1:5]

def status():
    fields = {}
    with open("/proc/self/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                fields[key] = int(value.split()[0]) * 1024
    return fields

source = open(path, encoding="utf-8").read()
if kind == "quendal":
    sys.path.insert(0, root + "/python")
    if core_path:
        import importlib.util
        spec = importlib.util.spec_from_file_location("quendal.core", core_path)
        core = importlib.util.module_from_spec(spec)
        sys.modules["quendal.core"] = core
        spec.loader.exec_module(core)
    else:
        import quendal.core as core
    config = core.Config()
    run = lambda: core.compile(source, config)
elif kind == "cpython":
    run = lambda: compile(source, "<corpus>", "exec")
else:
    try:
        import lupa.lua54 as lupa_mod
    except ImportError:
        import lupa as lupa_mod
    lua = lupa_mod.LuaRuntime()
    load = lua.eval("function(s) local f, e = load(s) return f end")
    run = lambda: load(source)
reset = True
try:
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
except OSError:
    reset = False
before = status()
result = run()
after = status()
baseline = before["VmRSS"] if reset else before["VmHWM"]
print(json.dumps({"peak_added": after["VmHWM"] - baseline, "reset": reset,
                  "rss_before": before["VmRSS"], "hwm_after": after["VmHWM"]}))
"""


def peak_memory(kind: str, path: Path, core_path: str | None):
    proc = subprocess.run(
        [sys.executable, "-c", _MEMORY_CHILD, kind, str(path), core_path or "", str(ROOT)],
        capture_output=True,
        text=True,
        timeout=1800,
    )
    if proc.returncode != 0:
        return None, (proc.stderr.strip().splitlines() or ["exit code %d" % proc.returncode])[-1]
    return json.loads(proc.stdout.strip().splitlines()[-1]), None


# ---------------------------------------------------------------------------


def scaled_corpus(text: str, factor: int, units: int) -> str:
    """`factor` copies of a Quendal corpus of `units` units, the top-level
    names (functions f<unit>_<k>, globals result<unit>) renumbered in each
    copy so that the whole stays one valid script of distinct units."""
    import re

    pattern = re.compile(r"\b(f|result)(\d+)(?=_|\b)")
    copies = [text]
    for k in range(1, factor):
        shift = k * units
        copies.append(pattern.sub(lambda m: f"{m.group(1)}{int(m.group(2)) + shift}", text))
    return "".join(copies)


def cpu_times() -> tuple[float, float]:
    """(user, system) CPU seconds of this process. getrusage counts in
    microseconds; os.times only in clock ticks (10 ms at 100 Hz), which at
    the 10 MB size is about 5 % of one compilation's CPU time and a quarter
    of its system time."""
    try:
        import resource
    except ImportError:  # not on every platform
        t = os.times()
        return t.user, t.system
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime, r.ru_stime


def scaling(core, corpus_q: str, units: int, factors=(1, 4, 16)) -> dict:
    """Process CPU time per source byte of one compilation at each size, best
    of two runs at every size (so that each size gets the same chance to reuse
    memory the allocator kept from the first run): CPU time, so that other
    load on the machine does not bend the figures. User and system time are
    also given apart: system time is the kernel handing out and zeroing the
    pages a compilation touches. The result list is built and dropped each
    time."""
    config = core.Config()
    out = {}
    for factor in factors:
        text = scaled_corpus(corpus_q, factor, units)
        size = len(text.encode("utf-8"))
        best = None
        for _ in range(2):
            gc.collect()
            before = cpu_times()
            result = core.compile(text, config)
            after = cpu_times()
            del result
            user, system = after[0] - before[0], after[1] - before[1]
            if best is None or user + system < best[0] + best[1]:
                best = (user, system)
        out[factor] = {
            "bytes": size,
            "ns_per_byte": (best[0] + best[1]) / size * 1e9,
            "user_ns_per_byte": best[0] / size * 1e9,
            "system_ns_per_byte": best[1] / size * 1e9,
        }
        del text
    return out


def free_page_reporting() -> dict | None:
    """The kernel's free page reporting settings, when a balloon device that
    takes the reports is present (virtio feature bit 5): a virtual machine
    that hands free memory back to its host makes every page that was free
    for a while cost a host fault when it is touched again."""
    # Feature bits are listed as a string of 0 and 1, bit 0 first.
    VIRTIO_BALLOON_F_REPORTING = 5
    balloons = Path("/sys/bus/virtio/drivers/virtio_balloon")
    try:
        reporting = any(
            (device / "features").read_text().strip()[VIRTIO_BALLOON_F_REPORTING:][:1] == "1"
            for device in balloons.glob("virtio*"))
    except OSError:
        reporting = False
    if not reporting:
        return None
    settings = {}
    for name in ("page_reporting_order", "min_free_ms"):
        try:
            settings[name] = int((Path("/sys/module/page_reporting/parameters") / name).read_text().strip())
        except (OSError, ValueError):
            pass
    return settings


def count_errors(diagnostics) -> tuple[int, int]:
    """(records, error records) of an encoded diagnostics list."""
    codes = diagnostics[4::5]
    return len(codes), sum(1 for c in codes if 1001 <= c <= 1998)


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--corpus", help="directory with corpus.{q,lua,py} and unit.{q,lua,py} from gen_corpus.py")
    p.add_argument("--size-mb", type=float, default=10.0, help="size of the generated corpus (default 10)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--repeat", type=int, default=3, help="corpus runs per compiler; the best counts")
    p.add_argument("--core", help="path of a built quendal core extension to load as quendal.core")
    p.add_argument("--no-memory", action="store_true", help="skip the peak-memory subprocesses")
    p.add_argument("--scaling", action="store_true",
                   help="also time quendal on 1x, 4x and 16x the corpus (CPU time; 16x needs about 10 GB)")
    p.add_argument("--json", help="also write the figures to this file")
    args = p.parse_args(argv)

    if args.corpus:
        d = Path(args.corpus)
        corpus = {lang: (d / f"corpus.{lang}").read_text(encoding="utf-8") for lang in gen_corpus.LANGS}
        unit = {lang: (d / f"unit.{lang}").read_text(encoding="utf-8") for lang in gen_corpus.LANGS}
        corpus_dir = d
    else:
        units = max(1, int(args.size_mb * 1_000_000 / gen_corpus.UNIT_BYTES))
        corpus = gen_corpus.generate(units, args.seed)
        unit = gen_corpus.make_unit(args.seed, 0)
        corpus_dir = None
    size = {lang: len(text.encode("utf-8")) for lang, text in corpus.items()}
    unit_size = {lang: len(text.encode("utf-8")) for lang, text in unit.items()}

    results: dict = {"corpus_bytes": size, "unit_bytes": unit_size, "repeat": args.repeat}
    notes = []

    core, why = load_quendal(args.core)
    # The memory child loads exactly the extension measured here.
    core_file = args.core or (getattr(core, "__file__", None) if core is not None else None)
    lua_check, lua_version, lua_why = load_lua()

    print(f"corpus: quendal {size['q'] / 1e6:.2f} MB, lua {size['lua'] / 1e6:.2f} MB, python {size['py'] / 1e6:.2f} MB; "
          f"unit: {unit_size['q']} / {unit_size['lua']} / {unit_size['py']} bytes")

    # What each compiler makes of the corpus, once.
    timed_corpus: dict = {}  # name -> (function, corpus bytes)
    timed_unit: dict = {}
    if core is None:
        notes.append(f"quendal.core not available ({why})")
    else:
        config = core.Config()
        try:
            chunk, diagnostics = core.compile(corpus["q"], config)
            records, errors = count_errors(diagnostics)
            results["quendal_check"] = {
                "chunk_bytes": None if chunk is None else len(chunk),
                "diagnostic_records": records,
                "error_records": errors,
            }
            if chunk is None:
                notes.append(f"quendal returned no chunk for the corpus ({errors} error records): timings cover a "
                             "compilation that stopped producing bytecode")
            src_q, u = corpus["q"], unit["q"]
            core.compile(u, config)
            timed_corpus["quendal"] = (lambda: core.compile(src_q, config), size["q"])
            timed_unit["quendal"] = lambda: core.compile(u, config)
        except BaseException as e:  # the internal-failure type derives from BaseException
            if isinstance(e, (KeyboardInterrupt, SystemExit)):
                raise
            notes.append(f"quendal.core.compile failed: {type(e).__name__}: {e}")
    if lua_check is None:
        notes.append(f"lupa not available ({lua_why}); install it with `pip install lupa`")
    else:
        ok, err = lua_check(corpus["lua"])
        if not ok:
            notes.append(f"Lua rejected the corpus: {err}")
        src_lua, u_lua = corpus["lua"], unit["lua"]
        timed_corpus["lua"] = (lambda: lua_check(src_lua), size["lua"])
        timed_unit["lua"] = lambda: lua_check(u_lua)
        results["lua_version"] = lua_version

    # quendal and Lua, in alternating rounds.
    best = alternating({name: fn for name, (fn, _) in timed_corpus.items()}, args.repeat, one_run, notes)
    for name, seconds in best.items():
        results[f"{name}_mb_s"] = timed_corpus[name][1] / seconds / 1e6
    for name, seconds in alternating_per_call({n: timed_unit[n] for n in best}, notes).items():
        results[f"{name}_unit_us"] = seconds * 1e6

    # CPython, on its own: one corpus run takes seconds.
    src_py = corpus["py"]
    t = best_time(lambda: compile(src_py, "<corpus>", "exec"), args.repeat)
    results["cpython_mb_s"] = size["py"] / t / 1e6
    u_py = unit["py"]
    results["cpython_unit_us"] = per_call(lambda: compile(u_py, "<unit>", "exec")) * 1e6
    results["cpython_version"] = sys.version.split()[0]

    # Peak memory, one fresh process per compiler.
    if not args.no_memory:
        tmp = None
        if corpus_dir is None:
            import tempfile

            tmp = tempfile.TemporaryDirectory()
            corpus_dir = Path(tmp.name)
            for lang in gen_corpus.LANGS:
                (corpus_dir / f"corpus.{lang}").write_text(corpus[lang], encoding="utf-8")
        for kind, lang, wanted in (("quendal", "q", core is not None), ("cpython", "py", True),
                                   ("lua", "lua", lua_check is not None)):
            if not wanted:
                continue
            mem, err = peak_memory(kind, corpus_dir / f"corpus.{lang}", core_file)
            if mem is None:
                notes.append(f"peak memory of {kind} not measured: {err}")
            else:
                results[f"{kind}_peak_added_bytes"] = mem["peak_added"]
                if not mem["reset"]:
                    notes.append(f"{kind}: peak-RSS mark could not be reset; baseline is the earlier peak")
        if tmp is not None:
            tmp.cleanup()

    # Report
    def fmt(key, unit_text, digits=2):
        v = results.get(key)
        return "-" if v is None else f"{v:.{digits}f} {unit_text}"

    print()
    print(f"{'compiler':<22}{'throughput':>14}{'unit latency':>16}{'peak added':>14}")
    rows = (("quendal", "quendal"), (f"cpython {results['cpython_version']}", "cpython"),
            (f"lua {results.get('lua_version', '?')} (lupa)", "lua"))
    for label, key in rows:
        peak = results.get(f"{key}_peak_added_bytes")
        peak_text = "-" if peak is None else f"{peak / 1e6:.1f} MB"
        print(f"{label:<22}{fmt(key + '_mb_s', 'MB/s'):>14}{fmt(key + '_unit_us', 'us', 1):>16}{peak_text:>14}")
    for peer in ("cpython", "lua"):
        q_tp, p_tp = results.get("quendal_mb_s"), results.get(f"{peer}_mb_s")
        q_lat, p_lat = results.get("quendal_unit_us"), results.get(f"{peer}_unit_us")
        if q_tp and p_tp and q_lat and p_lat:
            results[f"throughput_ratio_vs_{peer}"] = q_tp / p_tp
            results[f"latency_ratio_vs_{peer}"] = p_lat / q_lat
            print(f"quendal vs {peer}: throughput x{q_tp / p_tp:.2f}, unit latency x{p_lat / q_lat:.2f} "
                  "(above 1: quendal faster)")
    if "quendal_peak_added_bytes" in results:
        print(f"quendal peak memory added: {results['quendal_peak_added_bytes'] / size['q']:.1f} bytes per source byte")
    if "quendal_check" in results:
        c = results["quendal_check"]
        print(f"quendal corpus result: chunk {c['chunk_bytes']} bytes, {c['diagnostic_records']} diagnostic "
              f"records, {c['error_records']} errors")
    if args.scaling and core is not None:
        import re

        units = 1 + max((int(n) for n in re.findall(r"\bresult(\d+)\b", corpus["q"])), default=0)
        scaled = scaling(core, corpus["q"], units)
        results["quendal_scaling"] = scaled
        base = scaled[1]["ns_per_byte"]
        user_base = scaled[1]["user_ns_per_byte"]
        print("quendal scaling (CPU time per byte): " + ", ".join(
            f"{f}x {v['bytes'] / 1e6:.0f} MB {v['ns_per_byte']:.1f} ns/B ({v['ns_per_byte'] / base:.2f})"
            for f, v in scaled.items()))
        print("  user time alone: " + ", ".join(
            f"{f}x {v['user_ns_per_byte']:.1f} ns/B ({v['user_ns_per_byte'] / user_base:.2f})"
            for f, v in scaled.items()) + "; system time: " + ", ".join(
            f"{f}x {v['system_ns_per_byte']:.1f} ns/B" for f, v in scaled.items()))
        reporting = free_page_reporting()
        if reporting is not None:
            results["free_page_reporting"] = reporting
            print("  this machine reports free memory to its host (" +
                  (", ".join(f"{k} {v}" for k, v in reporting.items()) or "a balloon device with reporting") +
                  "): a size whose memory outgrows what the process freed a moment ago pays host faults "
                  "in its system time")
    for note in notes:
        print(f"note: {note}")
    results["notes"] = notes
    if args.json:
        Path(args.json).write_text(json.dumps(results, indent=2) + "\n", encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
