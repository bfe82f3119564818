#!/usr/bin/env python3
"""Compile time of pathological inputs as they grow: each case is built at
1x, 4x and 16x its base size and compiled; the table shows nanoseconds per
source byte at each size and the ratio 16x/1x. A flat curve (ratio near 1)
means the compiler is linear on that shape; a ratio near 16 means quadratic.

    python bench/linear_bench.py [--base BYTES] [--repeat N] [--only NAME]

Times are the compiling thread's CPU time (best of --repeat runs), so a busy
machine that preempts the process does not bend the curves. Uses the installed
quendal package. This is a measurement, not a test.

CPU time still grows with the memory a compilation touches (caches, page
faults), so a curve can bend without any extra work being done. With
--instructions QUENDALC the table shows machine instructions per source byte
instead, counted by valgrind's callgrind inside `quendal::compile` only (the
native driver reads the file and prints outside it): the count is the same on
every run, so a flat curve here means linear work, whatever the machine does.

    python bench/linear_bench.py --instructions build/core/quendalc
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time


def repeat_to(unit, size):
    return unit * max(1, size // len(unit))


def long_line(size):
    # One line of statements (a single long sum would hit the nesting limit,
    # since every binary operator adds a tree level).
    return "let mut x = 1; " + repeat_to("x = x + x * 2 - f(x, 'a'); ", size) + "x"


def long_sum_at_limit(size):
    return repeat_to("x" + " + x" * 200 + ";\n", size)


def diagnostics_one_line(size):
    return repeat_to(") ", size)  # one UnmatchedCloseParen per two bytes


def diagnostics_one_wide_line(size):
    # Columns counted in code points across one line of two- and four-byte
    # characters: every look-up must stay local, however long the line.
    return repeat_to(") \u00e9 \U0001f600 ", size)


def diagnostics_many_lines(size):
    return repeat_to(")\n", size)


def distinct_numbers(size):
    parts, total, i = [], 0, 0
    while total < size:
        text = f"{i}.5, "
        parts.append(text)
        total += len(text)
        i += 1
    return "[" + "".join(parts) + "]"


def distinct_strings(size):
    parts, total, i = [], 0, 0
    while total < size:
        text = f"'s{i}', "
        parts.append(text)
        total += len(text)
        i += 1
    return "[" + "".join(parts) + "]"


def many_variables(size):
    parts, total, i = [], 0, 0
    while total < size:
        text = f"let v{i} = v{i // 2} ;\n" if i else "let v0 = 0;\n"
        parts.append(text)
        total += len(text)
        i += 1
    return "".join(parts) + "v0"


def nested_parens_at_limit(size):
    return repeat_to("(" * 250 + "1" + ")" * 250 + ";\n", size)


def nested_blocks_at_limit(size):
    return repeat_to("if x { " * 120 + "1" + " }" * 120 + ";\n", size)


def nested_functions(size):
    return repeat_to("fn(a) { " * 60 + "a" + " }" * 60 + ";\n", size)


def interpolation_chain(size):
    return "'" + repeat_to("$(x) and ", size) + "'"


def nested_interpolations(size):
    return repeat_to("'$(" * 60 + "x" + ")'" * 60 + ";\n", size)


def template_text(size):
    return repeat_to("Hello $(name), you have ${count} items.\n", size)


def huge_decimal(size):
    return "1" * size


def huge_fraction(size):
    return "0." + "1" * size + "e5"


def huge_hex(size):
    return "0x" + "f" * size


def underscored_number(size):
    return "1" + "_1" * (size // 2)


def long_string(size):
    return "'" + repeat_to("abc\\n\\u{1F600}é", size) + "'"


def long_comment(size):
    return "/*" + "x" * size + "*/ 1"


def unknown_characters(size):
    return repeat_to("# ", size)


CASES = {
    "long line": (long_line, {}),
    "sums at nesting limit": (long_sum_at_limit, {}),
    "diagnostics, one line": (diagnostics_one_line, {}),
    "diagnostics, one wide line": (diagnostics_one_wide_line, {}),
    "diagnostics, many lines": (diagnostics_many_lines, {}),
    "distinct numbers": (distinct_numbers, {}),
    "distinct strings": (distinct_strings, {}),
    "variables in one scope": (many_variables, {}),
    "parens at nesting limit": (nested_parens_at_limit, {}),
    "nested if blocks": (nested_blocks_at_limit, {}),
    "nested functions": (nested_functions, {}),
    "interpolation chain": (interpolation_chain, {}),
    "nested interpolations": (nested_interpolations, {}),
    "template": (template_text, {"input_mode": "template"}),
    "huge decimal literal": (huge_decimal, {}),
    "huge fraction literal": (huge_fraction, {}),
    "huge hex literal": (huge_hex, {}),
    "underscored number": (underscored_number, {}),
    "long string": (long_string, {}),
    "long comment": (long_comment, {}),
    "unknown characters": (unknown_characters, {}),
}


def measure(core, source, config, repeat):
    best = float("inf")
    result = None
    for _ in range(repeat):
        start = time.thread_time()
        result = core.compile(source, config)
        best = min(best, time.thread_time() - start)
    return best, result


def count_instructions(quendalc, source, keywords):
    """Instructions executed inside quendal::compile for `source`, and the
    number of records the driver printed."""
    with tempfile.NamedTemporaryFile("wb", suffix=".q", delete=False) as handle:
        handle.write(source.encode("utf-8"))
        path = handle.name
    try:
        command = ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                   "--toggle-collect=quendal::compile*", quendalc]
        if keywords.get("input_mode") == "template":
            command.append("--template")
        command.append(path)
        done = subprocess.run(command, capture_output=True, text=True, check=False)
    finally:
        os.unlink(path)
    match = re.search(r"Collected : (\d+)", done.stderr)
    if match is None:
        raise SystemExit(f"callgrind gave no count:\n{done.stderr[-2000:]}")
    records = max(0, len(done.stdout.splitlines()) - 1)
    return int(match.group(1)), records


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--base", type=int, default=64 * 1024, help="base size in bytes (default 64 KiB)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per size; the fastest counts")
    parser.add_argument("--only", help="run only the cases whose name contains this text")
    parser.add_argument("--instructions", metavar="QUENDALC",
                        help="count instructions per byte with callgrind through this native driver")
    args = parser.parse_args()
    core = None
    if not args.instructions:
        from quendal import core
    factors = (1, 4, 16)
    unit = "ins/B" if args.instructions else "ns/B"
    print(f"{'case':26} " + " ".join(f"{f'{f}x {unit}':>10}" for f in factors) + f" {'16x/1x':>7} {'records@16x':>12}")
    worst = 0.0
    for name, (build, keywords) in CASES.items():
        if args.only and args.only not in name:
            continue
        config = None if args.instructions else core.Config(**keywords)
        per_byte = []
        records = 0
        for factor in factors:
            source = build(args.base * factor)
            size = len(source.encode("utf-8"))
            if args.instructions:
                count, records = count_instructions(args.instructions, source, keywords)
                per_byte.append(count / size)
            else:
                seconds, (_, encoded) = measure(core, source, config, args.repeat)
                per_byte.append(seconds * 1e9 / size)
                records = len(encoded) // 5
        ratio = per_byte[-1] / per_byte[0]
        worst = max(worst, ratio)
        print(f"{name:26} " + " ".join(f"{v:10.1f}" for v in per_byte) + f" {ratio:7.2f} {records:12}")
        sys.stdout.flush()
    print(f"worst 16x/1x ratio: {worst:.2f}")


if __name__ == "__main__":
    main()
