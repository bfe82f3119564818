#!/usr/bin/env python3
"""Writes the Python table of diagnostic codes from the compiler's own table,
core/src/diagnostic/diagnostic_codes.def (name, number, original message,
English message). The build runs it and installs the result as
quendal/_diagnostics.py, so the table is written once, in the .def file.

    python scripts/gen_diagnostics.py --out FILE [--def DEF_FILE]
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
DEF_FILE = ROOT / "core" / "src" / "diagnostic" / "diagnostic_codes.def"

_STRING = r'"((?:[^"\\]|\\.)*)"'
_ROW = re.compile(rf"^QUENDAL_DIAGNOSTIC\((\w+),\s*(\d+),\s*{_STRING},\s*{_STRING}\)\s*$")
_ESCAPE = re.compile(r"\\(.)")


def _unescape(text: str) -> str:
    # The table's literals use no escapes but \" and \\.
    return _ESCAPE.sub(lambda m: m.group(1), text)


def parse(text: str) -> list[tuple[int, str, str, str]]:
    """(number, name, original message, English message) for every row, in
    file order. Raises ValueError on a line that is not a row or a comment."""
    rows = []
    for lineno, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("//"):
            continue
        m = _ROW.match(line)
        if not m:
            raise ValueError(f"diagnostic_codes.def:{lineno}: unrecognised line: {line!r}")
        rows.append((int(m.group(2)), m.group(1), _unescape(m.group(3)), _unescape(m.group(4))))
    return rows


def render(rows: list[tuple[int, str, str, str]]) -> str:
    lines = [
        "# Generated at build time by scripts/gen_diagnostics.py from",
        "# core/src/diagnostic/diagnostic_codes.def. Do not edit.",
        "from typing import Final",
        "",
        "# number: (name, original message, English message)",
        "CODES: Final[dict[int, tuple[str, str, str]]] = {",
    ]
    for number, name, original, english in rows:
        lines.append(f"    {number}: ({name!r}, {original!r}, {english!r}),")
    lines.append("}")
    lines.append("")
    return "\n".join(lines)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--def", dest="def_file", default=DEF_FILE, type=Path)
    args = parser.parse_args(argv)
    text = render(parse(args.def_file.read_text(encoding="utf-8")))
    args.out.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
