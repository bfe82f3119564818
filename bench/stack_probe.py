"""Native stack needed by one compilation of deeply nested source.

For each nested shape, compiles it at the given depth on a Python thread
whose stack size is bisected (each try in a child process, since running
out of stack ends the process), and prints the smallest stack that works
and the bytes per level. The nesting limit is chosen so that the costliest
shape fits a 1 MiB thread with room to spare for the host.

    python bench/stack_probe.py                 # depth 635, every shape
    python bench/stack_probe.py --depth 300 parens json
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile


def nest(open_: str, core: str, close: str, n: int) -> str:
    return open_ * n + core + close * n


SHAPES = {
    "parens": lambda n: "let y = " + nest("(", "x", ")", n) + ";",
    "brackets": lambda n: "let y = " + nest("[", "x", "]", n) + ";",
    "blocks": lambda n: nest("{", "x;", "}", n),
    "calls": lambda n: "let y = " + nest("f(", "x", ")", n) + ";",
    "json": lambda n: "let y = " + nest('{"a": ', "1", "}", n) + ";",
    "records": lambda n: "let y = " + nest("(a: ", "1", ")", n) + ";",
    "binary_groups": lambda n: "let y = " + nest("a + (", "x", ")", n) + ";",
    "extension": lambda n: "let y = " + nest("a::f(", "x", ")", n) + ";",
    "if_statements": lambda n: nest("if a { ", "x;", " }", n),
    "match": lambda n: nest("match a { case 1 { ", "x;", " } }", n),
    "functions": lambda n: "let y = " + nest("fn() { ", "x", " }", n) + ";",
    "while": lambda n: nest("while a { ", "x;", " }", n),
    "array_patterns": lambda n: "let " + nest("[", "a", "]", n) + " = x;",
    "prefix": lambda n: "let y = " + "- " * n + "x;",
    "power": lambda n: "let y = a" + " ^ a" * n + ";",
    "conditionals": lambda n: "let y = a" + " ? b : a" * n + ";",
}

CHILD = r"""
import sys, threading
import quendal.core as core
source = open(sys.argv[1], encoding="utf-8").read()
threading.stack_size(int(sys.argv[2]))
out = []
thread = threading.Thread(target=lambda: out.append(core.compile(source, core.Config())))
thread.start()
thread.join()
chunk, records = out[0]
print("ok", chunk is not None, len(records) // 5)
"""


def works(path: str, stack: int) -> bool:
    done = subprocess.run([sys.executable, "-c", CHILD, path, str(stack)], capture_output=True, text=True)
    return done.returncode == 0 and done.stdout.startswith("ok")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--depth", type=int, default=635)
    parser.add_argument("shapes", nargs="*", help=f"shapes to probe (default all: {', '.join(SHAPES)})")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "probe.qd")
        for name in args.shapes or SHAPES:
            with open(path, "w", encoding="utf-8") as f:
                f.write(SHAPES[name](args.depth))
            low, high = 32 * 1024, 16 * 1024 * 1024
            if not works(path, high):
                print(f"{name:16} fails even with {high // 1024} KiB")
                continue
            while high - low > 4096:
                middle = (low + high) // 2 // 4096 * 4096
                if works(path, middle):
                    high = middle
                else:
                    low = middle
            print(f"{name:16} depth {args.depth}: {high // 1024:5d} KiB ({high / args.depth:.0f} bytes per level)",
                  flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
