"""``quendal dis FILE``: the bytecode listing of a source file (or of a file
holding compiled chunk bytes), one instruction a line with the source
position it came from; ``--source`` interleaves the source lines."""

from __future__ import annotations

import argparse
import struct
import sys
from collections.abc import Sequence
from typing import TextIO

from . import bytecode
from .check import EXIT_ERRORS, EXIT_OK, EXIT_USAGE, TEMPLATE_SUFFIX, InputError, Source, decode_source, safe_stream
from .diagnostics import Position, SourceMapEntry, SourceText, compile
from .render import Style, TextRenderer, summary, use_color

_FUNCTION_OPENERS = frozenset(("Func", "FuncVarg"))


def parser(prog: str = "quendal dis") -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog=prog,
        description="Print the bytecode listing of a file: a header per function, each instruction "
        "with the line:column of the source it came from.",
        epilog="A file that holds compiled chunk bytes is recognised and listed without positions.\n"
        "exit status: 0 listed, 1 the source has errors or the chunk is malformed, 2 bad usage or unreadable input",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("file", help="source file (UTF-8), chunk file, or - for standard input")
    mode = p.add_mutually_exclusive_group()
    mode.add_argument("--template", action="store_true", help="compile the file as a template")
    mode.add_argument("--script", action="store_true", help="compile the file as a script")
    mode.add_argument("--chunk", action="store_true", help="the file must hold compiled chunk bytes")
    p.add_argument("--source", action="store_true", help="show each source line before its instructions")
    p.add_argument("--color", choices=("auto", "always", "never"), default="auto", help="colour error reports")
    return p


def is_chunk(data: bytes) -> bool:
    """Whether the header lengths of ``data`` describe exactly ``data``."""
    if len(data) < 12:
        return False
    length, code = (int(n) for n in struct.unpack_from("<II", data, 0))
    if length != len(data) - 4 or 12 + code > len(data):
        return False
    constants = int(struct.unpack_from("<I", data, 8 + code)[0])
    return 12 + code + constants == len(data)


def listing(
    chunk: bytecode.Chunk,
    positions: Sequence[SourceMapEntry] | None = None,
    source: SourceText | None = None,
) -> str:
    """Header per function, one line per instruction: offset, "w" for the
    wide form, source line:column (when ``positions`` has one entry per
    instruction), the instruction indented by block; then the constants.
    With ``source``, the source line is printed before the first instruction
    that comes from it."""
    h = chunk.header
    lines = [
        f"chunk: {h.length + 4} bytes, code {h.code_length} bytes, "
        f"constants {h.constants_length} bytes ({len(chunk.constants)} entries)"
    ]
    if positions is not None and len(positions) != len(chunk.instructions):
        positions = None  # not this chunk's map
    depth = 0
    functions = 0
    last_line = 0
    for index, ins in enumerate(chunk.instructions):
        start: Position | None = positions[index].start if positions is not None else None
        if ins.name in _FUNCTION_OPENERS:
            lines.append("")
            what = "script" if functions == 0 else f"function #{functions}"
            where = f" at {start.line}:{start.column}" if start is not None and functions else ""
            params = f", {ins.operands[1]} parameter{'s' if ins.operands[1] != 1 else ''}" if functions else ""
            vararg = " and a rest parameter" if ins.name == "FuncVarg" and functions else ""
            lines.append(f"{what}{where}{params}{vararg}:")
            functions += 1
        script_header = functions == 1 and ins.name in _FUNCTION_OPENERS
        if source is not None and start is not None and start.line != last_line and not script_header:
            last_line = start.line
            text = source.line(start.line).expandtabs(4)
            lines.append(f"{'':>9}{start.line:>5} | {text}".rstrip())
        if ins.name in bytecode.CLOSERS or ins.name == "Else":
            depth = max(depth - 1, 0)
        flag = "w" if ins.wide else " "
        where = f"{start.line}:{start.column:<5} " if start is not None else ""
        body = bytecode.format_instruction(ins, chunk.constants)
        lines.append(f"{ins.offset:6d} {flag} {where:>11}{'  ' * depth}{body}" if where else f"{ins.offset:6d} {flag} {'  ' * depth}{body}")
        if ins.name in bytecode.OPENERS or ins.name == "Else":
            depth += 1
    lines.append("constants:")
    for number, constant in enumerate(chunk.constants):
        lines.append(f"{number:6d}   {bytecode.format_constant(constant)}")
    return "\n".join(lines) + "\n"


def _read(path: str) -> bytes:
    if path == "-":
        return sys.stdin.buffer.read()
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror or e}") from None


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    shown = "<stdin>" if args.file == "-" else args.file
    try:
        data = _read(args.file)
    except InputError as e:
        err.write(f"quendal: error: {e}\n")
        return EXIT_USAGE
    if args.chunk or is_chunk(data):
        if not is_chunk(data):
            err.write(
                f"quendal: error: {shown}: not a compiled chunk (its first bytes do not give its size); "
                f"to list a source file, leave out --chunk\n"
            )
            return EXIT_USAGE
        try:
            chunk = bytecode.decode(data)
        except ValueError as e:
            err.write(f"quendal: error: {shown}: malformed chunk: {e}\n")
            return EXIT_ERRORS
        out.write(listing(chunk))
        return EXIT_OK
    template = True if args.template else False if args.script else None
    if template is None:
        template = args.file.endswith(TEMPLATE_SUFFIX)
    try:
        source = Source(shown, decode_source(data, shown), template)
    except InputError as e:
        err.write(f"quendal: error: {e}; it is neither source text nor a compiled chunk\n")
        return EXIT_USAGE
    result = compile(source.text, template=source.template)
    if result.chunk is None:
        renderer = TextRenderer(
            shown, result.text, style=Style(use_color(args.color, err)), encoding=err.encoding or "utf-8"
        )
        for d in result.diagnostics:
            err.write(renderer.render(d) + "\n")
        err.write(f"no bytecode: {summary(result.counts, files=1)}\n")
        return EXIT_ERRORS
    out.write(listing(bytecode.decode(result.chunk), result.source_map, result.text if args.source else None))
    return EXIT_OK


def main(argv: list[str] | None = None, *, prog: str = "quendal dis") -> int:
    args = parser(prog).parse_args(argv)
    return run(args, safe_stream(sys.stdout), safe_stream(sys.stderr))


if __name__ == "__main__":
    sys.exit(main())
