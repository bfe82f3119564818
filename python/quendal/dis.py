"""``python -m quendal dis FILE [--template]``: compiles FILE and prints the
bytecode listing. With ``--chunk``, FILE already holds chunk bytes and is only
decoded."""

from __future__ import annotations

import argparse
import sys

from . import bytecode


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="python -m quendal dis", description="Print the bytecode listing of a file.")
    p.add_argument("file", help="source file to compile (UTF-8), or a chunk file with --chunk")
    mode = p.add_mutually_exclusive_group()
    mode.add_argument("--template", action="store_true", help="compile the file as a template")
    mode.add_argument("--chunk", action="store_true", help="the file holds compiled chunk bytes")
    return p


def _error_records(diagnostics: list) -> list:
    records = [diagnostics[i : i + 5] for i in range(0, len(diagnostics) - 4, 5)]
    return [r for r in records if 1001 <= r[4] <= 1998]


def main(argv: list | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        with open(args.file, "rb") as f:
            data = f.read()
    except OSError as e:
        print(f"cannot read {args.file}: {e.strerror}", file=sys.stderr)
        return 2
    if not args.chunk:
        from . import core

        try:
            source = data.decode("utf-8")
        except UnicodeDecodeError as e:
            print(f"{args.file} is not valid UTF-8 (byte {e.start})", file=sys.stderr)
            return 2
        config = core.Config(input_mode="template" if args.template else "script")
        data, diagnostics = core.compile(source, config)
        if data is None:
            errors = _error_records(diagnostics)
            print(f"{args.file}: no bytecode, the source has {len(errors)} error(s):", file=sys.stderr)
            for line, col, _, _, code in errors:
                _, name, _ = core.get_diagnostic_message(code)
                print(f"  {line}:{col} {name} ({code})", file=sys.stderr)
            return 1
    try:
        chunk = bytecode.decode(data)
    except ValueError as e:
        print(f"{args.file}: malformed chunk: {e}", file=sys.stderr)
        return 1
    sys.stdout.write(bytecode.render(chunk))
    return 0


if __name__ == "__main__":
    sys.exit(main())
