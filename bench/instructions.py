#!/usr/bin/env python3
"""Machine instructions per source byte, stage by stage, and memory per source byte.

    python bench/instructions.py                                  # build into build-bench, 1 MB corpus
    python bench/instructions.py --no-build --build-dir build --no-python
    python bench/instructions.py --corpus bench/corpus/corpus.q --json /tmp/instructions.json

Steps: build the Release core, quendalc, the native benchmarks and (unless
--no-python) the extension, one job at a time; generate the corpus (or take
--corpus); run quendalc under callgrind, collecting inside quendal::compile
only, and print the inclusive instructions of each stage in STAGES, "other"
(the compile call less the stages) and the costliest functions by self cost;
run Python under callgrind, collecting inside the extension's compile
function, whose excess over quendal::compile is argument handling and the
Python result; then memory: the peak RSS added by one compilation
(quendal_core_bench) and the token list when quendal_lex_bench has --memory.

Instruction counts repeat from run to run to within about 0.01% (only the
allocator's own work shifts a little with the address layout). Function names
come from the symbol table, so the Release flags are kept as they are (-O3,
no -g needed).
"""
import argparse
import glob
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Stage name -> demangled-name prefixes. A stage's cost is the inclusive cost
# of the calls made into these functions from outside them. Update the
# prefixes here when the functions are renamed.
STAGES = {
    "lex + token recovery": ("quendal::Compiler::lex()",),
    "lexer alone": ("quendal::lex(", "quendal::lex_string("),
    "parse": ("quendal::parse_script(",),
    "tree diagnostics": ("quendal::collect_diagnostics(",),
    "emit": ("quendal::emit_script(",),
    "encode diagnostics": ("quendal::encode_diagnostics(",),
}
# Stages counted inside another one (left out of "other").
NESTED = {"lexer alone": "lex + token recovery"}

COMPILE_PREFIX = "quendal::compile("
# What the extensions call: the compilation up to its records, which the
# result list encodes as it is built (with the line index made beforehand).
RECORDS_PREFIX = "quendal::compile_records("
LINE_INDEX_PREFIX = "quendal::LineIndex::LineIndex("
MODULE_COMPILE = "::compile_function("  # the extension's quendal.core.compile
ENCODE_RESULT = "encode_result("


def run(command, show=False, **kw):
    command = [str(c) for c in command]
    if show:
        print("+", shlex.join(command), flush=True)
    return subprocess.run(command, **kw)


def build(args, python):
    for tool in ("cmake", "ninja"):
        if shutil.which(tool) is None:
            sys.exit(f"error: {tool} not found (needed for the build; or pass --no-build)")
    configure = ["cmake", "-S", ROOT, "-B", args.build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DQUENDAL_BENCH=ON", "-DQUENDAL_BUILD_TESTS=OFF", f"-DQUENDAL_BUILD_PYTHON={'ON' if python else 'OFF'}"]
    if python:
        configure.append(f"-DPython_EXECUTABLE={sys.executable}")
    make = ["nice", "-n", "10", "cmake", "--build", args.build_dir, f"-j{args.jobs}", "--target"]
    targets = ["quendalc", "quendal_core_bench"] + (["quendal_python_core"] if python else [])
    for step in (configure, make + targets):
        if run(step, show=True).returncode != 0:
            sys.exit(f"error: build step failed: {shlex.join(map(str, step))}")
    # Only needed for the token-list figure; a failure here is not fatal.
    if run(make + ["quendal_lex_bench"], show=True).returncode != 0:
        print("warning: quendal_lex_bench did not build; no token-list figure", file=sys.stderr)


def symbols(binary):
    """Demangled names of the functions defined in `binary` (clones folded), or None without nm."""
    if shutil.which("nm") is None:
        print("warning: nm not found; symbol checks skipped", file=sys.stderr)
        return None
    out = run(["nm", "-C", binary], capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in "TtWw":
            names.add(parts[2].split(" [clone ")[0])
    return names


def find_symbol(names, needle, binary):
    """The one function whose name contains `needle` (nested lambdas and the like left out)."""
    found = sorted(n for n in names if needle in n and ")::" not in n[n.index(needle):])
    if len(found) != 1:
        sys.exit(f"error: {len(found)} functions named like {needle!r} in {binary}: {found[:5]}")
    return found[0]


def callgrind(command, toggle, out_file):
    """Runs `command` under callgrind, collecting only inside `toggle` (a demangled name)."""
    full = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}", "--dump-instr=no",
            f"--toggle-collect={toggle}", *command]
    print("+", shlex.join(map(str, full)), "> /dev/null", flush=True)
    done = run(["nice", "-n", "10", *full], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0 or not os.path.exists(out_file):
        sys.exit(f"error: callgrind run failed (exit {done.returncode}):\n{done.stderr[-3000:]}")
    return parse_profile(out_file)


def base_name(name):
    return re.sub(r"'\d+$", "", name)  # callgrind marks recursion levels with 'N


def parse_profile(path):
    """Self cost per function and inclusive cost per call arc from a callgrind file
    (a cost line after "calls=" is the inclusive cost of that call)."""
    names, self_cost, arcs = {}, defaultdict(int), defaultdict(int)
    fn = cfn = None
    in_call, positions, column = False, 1, 1

    def name_of(value):  # "(id) name" defines a compressed name, "(id)" refers to it
        m = re.match(r"\((\d+)\)(?: (.*))?$", value)
        if not m:
            return value
        if m.group(2) is not None:
            names[m.group(1)] = m.group(2)
        return names.get(m.group(1), value)

    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line[:1].isdigit() or line[:1] in ("+", "-", "*"):
                fields = line.split()
                cost = int(fields[column]) if len(fields) > column else 0
                if in_call:
                    arcs[(fn, cfn)] += cost
                else:
                    self_cost[fn] += cost
                in_call = False
            elif line.startswith("fn="):
                fn = name_of(line[3:].strip())
            elif line.startswith("cfn="):
                cfn = name_of(line[4:].strip())
            elif line.startswith("calls="):
                in_call = True
            elif line.startswith(("positions:", "events:")):
                kind, *words = line.split()
                if kind == "positions:":
                    positions = len(words)
                else:
                    column = positions + (words.index("Ir") if "Ir" in words else 0)
    return {"self": self_cost, "arcs": arcs, "total": sum(self_cost.values())}


def inclusive(profile, prefixes):
    """Inclusive cost of the functions matching `prefixes`, counted on the calls that enter
    them from outside (recursion and calls back in from their own callees are not added twice).
    None when no such function ran."""
    arcs = profile["arcs"]
    functions = set(profile["self"]) | {b for _, b in arcs}
    inside = {f for f in functions if f and base_name(f).startswith(prefixes)}
    if not inside:
        return None
    callees = defaultdict(set)
    for a, b in arcs:
        callees[a].add(b)
    reach, todo = set(inside), list(inside)
    while todo:
        for b in callees[todo.pop()]:
            if b not in reach:
                reach.add(b)
                todo.append(b)
    return sum(cost for (a, b), cost in arcs.items() if b in inside and a not in reach)


def short(name, width=100):
    for long, brief in (("std::basic_string_view<char, std::char_traits<char> >", "std::string_view"),
                        ("std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >",
                         "std::string"), ("18446744073709551615ul", "dyn")):
        name = name.replace(long, brief)
    return name if len(name) <= width else name[: width - 3] + "..."


def native_profile(args, quendalc, corpus, size, tmp, report):
    names = symbols(quendalc)
    toggle = find_symbol(names, COMPILE_PREFIX, quendalc) if names is not None else COMPILE_PREFIX + "*"
    profile = callgrind([quendalc, corpus], toggle, os.path.join(tmp, "callgrind.quendalc"))
    total = profile["total"]
    if total == 0:
        sys.exit(f"error: callgrind collected nothing inside {toggle}")
    print(f"\ninstructions inside quendal::compile: {total:,} = {total / size:.1f} per source byte")
    print(f"  {'stage':24} {'ins/B':>8} {'share':>7}")
    stages, outer = {}, 0
    for stage, prefixes in STAGES.items():
        missing = [p for p in prefixes if names is not None and not any(n.startswith(p) for n in names)]
        for p in missing:
            print(f"warning: no function in quendalc starts with {p!r} (stage {stage!r})", file=sys.stderr)
        cost = inclusive(profile, prefixes)
        status = "ok" if cost is not None else ("absent" if len(missing) == len(prefixes) else "not called")
        cost = cost or 0
        stages[stage] = {"instructions": cost, "per_byte": cost / size, "status": status}
        outer += 0 if stage in NESTED else cost
        label, note = ("  " if stage in NESTED else "") + stage, "" if status == "ok" else f"  ({status})"
        print(f"  {label:24} {cost / size:8.1f} {100 * cost / total:6.1f}%{note}")
    other = total - outer
    print(f"  {'other':24} {other / size:8.1f} {100 * other / total:6.1f}%")
    merged = defaultdict(int)
    for f, c in profile["self"].items():
        merged[base_name(f or "?")] += c
    top = sorted(((c, f) for f, c in merged.items()), reverse=True)[: args.top]
    print(f"\ntop {len(top)} functions by self cost inside quendal::compile (ins/B, share):")
    for cost, f in top:
        print(f"  {cost / size:8.2f} {100 * cost / total:5.1f}%  {short(f)}")
    report["native"] = {"instructions": total, "per_byte": total / size, "stages": stages,
                        "other": {"instructions": other, "per_byte": other / size},
                        "top_self": [{"function": f, "instructions": c, "per_byte": c / size} for c, f in top]}


PYTHON_CHILD = """# quendal.core.compile on a file: python compile_corpus.py PACKAGE_PARENT FILE
import sys
sys.path.insert(0, sys.argv[1])
from quendal import core
with open(sys.argv[2], encoding="utf-8") as f:
    source = f.read()
chunk, diagnostics = core.compile(source, core.Config())
"""


def python_profile(args, corpus, size, tmp, report):
    found = sorted(glob.glob(os.path.join(args.build_dir, "python", "module", "core*.so")))
    if not found:
        print(f"\nPython: no extension under {args.build_dir}/python/module (build without --no-python)")
        return
    extension = found[0]
    names = symbols(extension)
    if names is None:
        print("\nPython: skipped, nm is needed to find the extension's compile function")
        return
    toggle = find_symbol(names, MODULE_COMPILE, extension)
    # A package of its own around the built extension, so that no installed copy is picked up.
    package = os.path.join(tmp, "python", "quendal")
    os.makedirs(package, exist_ok=True)
    open(os.path.join(package, "__init__.py"), "w").close()
    link = os.path.join(package, os.path.basename(extension))
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(extension, link)
    child = os.path.join(tmp, "compile_corpus.py")
    with open(child, "w", encoding="utf-8") as f:
        f.write(PYTHON_CHILD)
    profile = callgrind([sys.executable, "-I", child, os.path.dirname(package), corpus], toggle,
                        os.path.join(tmp, "callgrind.python"))
    total = profile["total"]
    core = inclusive(profile, (COMPILE_PREFIX, RECORDS_PREFIX)) or 0
    encoders = tuple(n for n in names if ENCODE_RESULT in n)
    encode = (inclusive(profile, encoders) or 0) if encoders else None
    index = inclusive(profile, (LINE_INDEX_PREFIX,))
    print(f"\nPython quendal.core.compile, collected inside {toggle.split('(')[0]}, ins/B:")
    print(f"  {'whole call':40} {total / size:8.1f}")
    print(f"  {'quendal::compile(_records) inside it':40} {core / size:8.1f}")
    print(f"  {'difference (arguments, result list)':40} {(total - core) / size:8.1f}")
    print(f"    {'of which encode_result':38} " + (f"{encode / size:8.1f}" if encode is not None else "  (inlined)"))
    if index is not None:
        print(f"    {'of which the line index':38} {index / size:8.1f}")
        if encode is not None:
            print(f"  {'encoding and list (the two above)':40} {(encode + index) / size:8.1f}")
    report["python"] = {"instructions": total, "per_byte": total / size, "core_per_byte": core / size,
                        "difference_per_byte": (total - core) / size,
                        "encode_result_per_byte": None if encode is None else encode / size,
                        "line_index_per_byte": None if index is None else index / size}


def memory(args, corpus, size, report):
    bench = os.path.join(args.build_dir, "bench", "quendal_core_bench")
    figures = report.setdefault("memory", {})
    print("\nmemory:")
    if not os.path.exists(bench):
        print(f"  {bench} not built")
    else:
        done = run([bench, corpus, "--repeat", "1"], capture_output=True, text=True)
        peak = re.search(r"peak RSS added by the first compilation: ([\d.]+) MB \(([\d.]+) bytes per", done.stdout)
        result = re.search(r"result: (.*)", done.stdout)
        if peak:
            figures["peak_rss_per_byte"] = float(peak.group(2))
            print(f"  peak RSS added by one compilation: {peak.group(2)} bytes per source byte "
                  f"({peak.group(1)} MB)")
        else:
            print(f"  quendal_core_bench gave no peak RSS figure:\n{done.stdout}{done.stderr}")
        if result:
            figures["result"] = result.group(1)
            print(f"  result: {result.group(1)}")
    # The token list alone, when the lexer benchmark can report it.
    lex = os.path.join(args.build_dir, "bench", "quendal_lex_bench")
    if not os.path.exists(lex):
        print(f"  {lex} not built: no token-list figure")
        return
    done = run([lex, "--memory", corpus], capture_output=True, text=True)
    tokens = re.findall(r"^(token_bytes(?:_reserved)?) (\d+)\s*$", done.stdout, re.M)
    if done.returncode != 0 or not tokens:
        print("  quendal_lex_bench has no --memory flag (yet): no token-list figure")
    for key, value in tokens if done.returncode == 0 else ():
        figures[key + "_per_byte"] = int(value) / size
        label = "reserved" if key.endswith("reserved") else "used"
        print(f"  token list and payload, {label}: {int(value) / size:.1f} bytes per source byte")
    done = run([lex, "--tree", corpus], capture_output=True, text=True)
    tree = re.search(r"^tree_bytes (\d+)\s*$", done.stdout, re.M)
    if done.returncode == 0 and tree:
        figures["tree_bytes_per_byte"] = int(tree.group(1)) / size
        print(f"  syntax tree: {int(tree.group(1)) / size:.1f} bytes per source byte")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=str(ROOT / "build-bench"), help="build tree (default build-bench)")
    parser.add_argument("--no-build", action="store_true", help="reuse the build tree as it is")
    parser.add_argument("--jobs", type=int, default=1, help="parallel build jobs (default 1)")
    parser.add_argument("--size-mb", type=float, default=1.0, help="size of the generated corpus (default 1)")
    parser.add_argument("--corpus", help="an existing Quendal source to measure instead")
    parser.add_argument("--no-python", action="store_true", help="skip the extension (build and measurement)")
    parser.add_argument("--top", type=int, default=25, help="functions listed by self cost (default 25)")
    parser.add_argument("--keep", metavar="DIR", help="keep the callgrind files (and corpus) in DIR")
    parser.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    args = parser.parse_args()
    if shutil.which("valgrind") is None:
        sys.exit("error: valgrind not found (Debian: apt-get install valgrind)")
    args.build_dir = os.path.abspath(args.build_dir)
    if not args.no_build:
        build(args, not args.no_python)
    quendalc = os.path.join(args.build_dir, "core", "quendalc")
    if not os.path.exists(quendalc):
        sys.exit(f"error: {quendalc} not found (build it, or drop --no-build)")

    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
        tmp, cleanup = os.path.abspath(args.keep), None
    else:
        cleanup = tempfile.TemporaryDirectory(prefix="quendal-instructions-")
        tmp = cleanup.name
    try:
        if args.corpus:
            corpus = os.path.abspath(args.corpus)
        else:
            gen = [sys.executable, ROOT / "bench" / "gen_corpus.py", "--size-mb", args.size_mb, "--out", tmp]
            if run(gen, stdout=subprocess.DEVNULL).returncode != 0:
                sys.exit("error: gen_corpus.py failed")
            corpus = os.path.join(tmp, "corpus.q")
        size = os.path.getsize(corpus)
        print(f"corpus: {corpus}, {size:,} bytes")
        report = {"corpus": corpus, "corpus_bytes": size}
        native_profile(args, quendalc, corpus, size, tmp, report)
        if not args.no_python:
            python_profile(args, corpus, size, tmp, report)
        memory(args, corpus, size, report)
    finally:
        if cleanup is not None:
            cleanup.cleanup()
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(report, f, indent=2)
        print(f"\nwritten: {args.json}")


if __name__ == "__main__":
    main()
