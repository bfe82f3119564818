#!/usr/bin/env bash
# Leak check of the Python extension.
#
#   scripts/leak-check.sh [PYTHON] [OUT_DIR]
#
# PYTHON is an interpreter with the quendal package installed (default:
# python3). Two parts:
#   1. The whole pytest suite under valgrind with the interpreter's allocator
#      switched to malloc, so every Python object the module creates is a heap
#      block valgrind tracks:
#        PYTHONMALLOC=malloc valgrind --leak-check=full \
#          --errors-for-leak-kinds=definite python -m pytest tests
#      The run fails if a definitely lost block was allocated by a stack that
#      passes through the extension (core.cpython-*.so) or the quendal
#      package; definite losses of the interpreter itself are listed only.
#   2. The module's C++ memory comes from mimalloc, which valgrind cannot see
#      into, so a second check compiles a mix of scripts (valid, broken,
#      deeply nested, templates) many times and fails if the process's
#      resident memory keeps growing.
# The compiler core's own C++ allocations are leak-checked by LeakSanitizer in
# the sanitizer build of the C++ tests and in every fuzz run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${1:-python3}"
OUT="${2:-$ROOT/build-leak}"
mkdir -p "$OUT"
rm -f "$OUT"/valgrind.*.log

echo "=== pytest under valgrind (logs in $OUT)"
set +e
PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --num-callers=50 --log-file="$OUT/valgrind.%p.log" \
  "$PYTHON" -m pytest -q -p no:cacheprovider "$ROOT/tests" 2>&1 | tail -n 5
status=${PIPESTATUS[0]}
set -e
if [ "$status" != 0 ]; then
  echo "pytest under valgrind failed with status $status" >&2
  exit 1
fi

"$PYTHON" - "$OUT" <<'PYEOF'
import glob, re, sys
blocks_from_module = []
interpreter_definite = 0
for path in glob.glob(sys.argv[1] + "/valgrind.*.log"):
    text = open(path, encoding="utf-8", errors="replace").read()
    # One loss record: from "... are definitely lost in loss record" to the blank line.
    for record in re.findall(r"==\d+== [^\n]*definitely lost in loss record.*?(?:\n==\d+== \n|\Z)", text, re.S):
        if re.search(r"core\.cpython|/quendal/|quendal::", record):
            blocks_from_module.append((path, record))
        else:
            interpreter_definite += 1
    m = re.search(r"definitely lost: ([\d,]+) bytes in ([\d,]+) blocks", text)
    print(f"{path}: definitely lost {m.group(1) + ' bytes in ' + m.group(2) + ' blocks' if m else '0 bytes'}")
print(f"definite loss records outside the extension (interpreter): {interpreter_definite}")
for path, record in blocks_from_module:
    print(f"--- {path}\n{record}")
if blocks_from_module:
    sys.exit(f"{len(blocks_from_module)} definite leak(s) from the quendal extension")
print("no definite leak from the quendal extension")
PYEOF

echo "=== resident memory over repeated compilations"
"$PYTHON" - "$ROOT" <<'PYEOF'
import resource, sys
from pathlib import Path
from quendal import core

root = Path(sys.argv[1])
sources = [p.read_text(encoding="utf-8") for p in sorted((root / "examples").glob("*.qd"))]
sources += ["let = ) ] } 'x $(", "(" * 300, "'$(" * 300, "fn f(a) { f(a) }" * 50]
script, template = core.Config(), core.Config(input_mode="template")

def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])

def round_():
    for source in sources:
        core.compile(source, script)
        core.compile(source, template)
        try:
            core.compile(source + "\ud800", script)
        except UnicodeEncodeError:
            pass
    for code in (1001, 12000, 7):
        try:
            core.get_diagnostic_message(code)
        except ValueError:
            pass
    core.op_codes()

for _ in range(300):  # warm up allocator caches
    round_()
before = rss_kib()
for _ in range(3000):
    round_()
after = rss_kib()
growth = after - before
print(f"RSS before {before} KiB, after 3000 more rounds {after} KiB, growth {growth} KiB")
if growth > 8 * 1024:
    sys.exit("resident memory grows with repeated compilations")
PYEOF
echo "leak check passed"
