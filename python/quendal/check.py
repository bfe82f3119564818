"""``python -m quendal FILE [--template]``: compiles FILE and prints every
diagnostic (source map records aside) as ``FILE:LINE:COL: category Name:
message``, with ``$0`` replaced by the source text the record covers, then a
summary line. Exits 1 when an error was reported, 2 when FILE cannot be read."""

from __future__ import annotations

import argparse
import sys
from dataclasses import dataclass

SOURCE_MAP = 12000


@dataclass(frozen=True)
class Record:
    start_line: int
    start_column: int
    end_line: int
    end_column: int
    code: int

    @property
    def is_error(self) -> bool:
        return 1001 <= self.code <= 1998


def records(diagnostics: list[int]) -> list[Record]:
    """Splits the flat list of ``core.compile`` into records."""
    return [Record(*diagnostics[i : i + 5]) for i in range(0, len(diagnostics) - 4, 5)]


class SourceText:
    """Maps the 1-based lines and code-point columns of the encoder back to
    string indices. Lines end at each line feed; columns count every
    character, carriage returns and line feeds included."""

    def __init__(self, text: str) -> None:
        self.text = text
        self.line_starts = [0]
        index = text.find("\n")
        while index >= 0:
            self.line_starts.append(index + 1)
            index = text.find("\n", index + 1)

    def index(self, line: int, column: int) -> int:
        start = self.line_starts[min(line, len(self.line_starts)) - 1]
        return min(start + column - 1, len(self.text))

    def covered(self, record: Record) -> str:
        start = self.index(record.start_line, record.start_column)
        end = self.index(record.end_line, record.end_column)
        return self.text[start:end]


def format_record(path: str, source: SourceText, record: Record) -> str:
    from . import core

    category, name, message = core.get_diagnostic_message(record.code)
    message = message.replace("$0", source.covered(record))
    return f"{path}:{record.start_line}:{record.start_column}: {category.lower()} {name}: {message}"


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="python -m quendal", description="Compile a Quendal file and report diagnostics.")
    p.add_argument("file", help="source file (UTF-8)")
    p.add_argument("--template", action="store_true", help="compile the file as a template")
    return p


def main(argv: list[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    from . import core

    try:
        with open(args.file, "rb") as f:
            data = f.read()
    except OSError as e:
        print(f"cannot read {args.file}: {e.strerror}", file=sys.stderr)
        return 2
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        print(f"{args.file} is not valid UTF-8 (byte {e.start})", file=sys.stderr)
        return 2

    config = core.Config(input_mode="template" if args.template else "script")
    chunk, diagnostics = core.compile(text, config)
    source = SourceText(text)
    found = records(diagnostics)
    errors = 0
    for record in found:
        if record.code == SOURCE_MAP:
            continue
        errors += record.is_error
        print(format_record(args.file, source, record))
    if chunk is None:
        print(f"{args.file}: no bytecode ({errors} error{'s' if errors != 1 else ''})")
    else:
        print(f"{args.file}: {len(chunk)} bytes of bytecode")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
