"""``quendal check``: compiles files and reports their diagnostics."""

from __future__ import annotations

import argparse
import io
import json
import os
import sys
from collections.abc import Iterator
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, TextIO

from .diagnostics import Result, Severity, compile
from .render import Style, TextRenderer, summary, to_json, use_color
from .settings import SettingsError, find_settings

EXIT_OK = 0
EXIT_ERRORS = 1
EXIT_USAGE = 2

SOURCE_SUFFIXES = (".qd", ".qdt")
TEMPLATE_SUFFIX = ".qdt"
BOM = b"\xef\xbb\xbf"
STDIN = "-"
DEFAULT_MAX_ERRORS = 50

EPILOG = """\
Files ending in .qdt are compiled as templates, other files as scripts, unless
--template or --script says otherwise. A directory stands for every *.qd and
*.qdt file below it (directories whose names start with "." are skipped);
"-" reads standard input.

The host's global names come from --globals, else from `globals = [...]` in
the nearest quendal.toml, or [tool.quendal] of a pyproject.toml, up the
directory tree from each file; when known, reading any other undeclared name
is warned about (GlobalVariableNotDeclared).

exit status:
  0  no errors (warnings and hints do not count)
  1  errors were found
  2  bad usage, or an input (or settings file) that cannot be read or is not UTF-8
"""


class InputError(Exception):
    """An input that cannot be compiled at all (missing, unreadable, not
    UTF-8); its message names the input."""


@dataclass(frozen=True)
class Source:
    path: str  # as shown in messages
    text: str
    template: bool


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("paths", nargs="+", metavar="FILE|DIR|-", help="what to check")
    mode = p.add_mutually_exclusive_group()
    mode.add_argument("--template", action="store_true", help="compile every input as a template")
    mode.add_argument("--script", action="store_true", help="compile every input as a script")
    p.add_argument("--format", choices=("text", "json"), default="text", help="output format (default: text)")
    p.add_argument(
        "--color",
        choices=("auto", "always", "never"),
        default="auto",
        help="colour the text output (default: auto: on a terminal, unless NO_COLOR is set or FORCE_COLOR asks)",
    )
    p.add_argument(
        "--max-errors",
        type=_count,
        default=DEFAULT_MAX_ERRORS,
        metavar="N",
        help=f"show at most N diagnostics in the text output, 0 for all (default: {DEFAULT_MAX_ERRORS})",
    )
    p.add_argument(
        "--globals",
        type=_names,
        metavar="NAME,...",
        help="the host's global names, comma-separated (overrides the settings files; '' means none)",
    )
    p.add_argument(
        "--jobs",
        type=_count,
        default=0,
        metavar="N",
        help="compile on N threads (default 0: one per processor)",
    )
    p.add_argument(
        "--lang",
        choices=("en", "zh"),
        default="en",
        help="language of the messages in the text output: English (default) or the original Chinese",
    )


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {value}")
    return value


def _names(text: str) -> tuple[str, ...]:
    return tuple(name for name in (part.strip() for part in text.split(",")) if name)


def parser(prog: str = "quendal check") -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog=prog,
        description="Compile Quendal scripts and templates and report their diagnostics.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_arguments(p)
    return p


def decode_source(data: bytes, path: str) -> str:
    """The text of a file: a UTF-8 byte-order mark is skipped; anything that
    is not UTF-8 raises InputError naming the first bad byte."""
    skipped = len(BOM) if data.startswith(BOM) else 0
    try:
        return data[skipped:].decode("utf-8")
    except UnicodeDecodeError as e:
        offset = e.start + skipped
        line = data.count(b"\n", 0, offset) + 1
        raise InputError(
            f"{path}: not valid UTF-8: byte 0x{data[offset]:02x} at byte offset {offset} (line {line})"
        ) from None


def expand(paths: list[str]) -> Iterator[str]:
    """The files to check: each path itself, or the sources below a directory
    in sorted order."""
    for path in paths:
        if path != STDIN and os.path.isdir(path):
            for root, dirs, files in os.walk(path):
                dirs[:] = sorted(d for d in dirs if not d.startswith("."))
                for name in sorted(files):
                    if name.endswith(SOURCE_SUFFIXES):
                        yield os.path.join(root, name)
        else:
            yield path


def read_source(path: str, template: bool | None) -> Source:
    """The text of ``path`` ("-": standard input) and its mode: ``template``
    when given, else by the file's extension."""
    if path == STDIN:
        try:
            data = sys.stdin.buffer.read()
        except OSError as e:
            raise InputError(f"<stdin>: cannot read: {e.strerror or e}") from None
        return Source("<stdin>", decode_source(data, "<stdin>"), bool(template))
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror or e}") from None
    if template is None:
        template = path.endswith(TEMPLATE_SUFFIX)
    return Source(path, decode_source(data, path), template)


def safe_stream(stream: TextIO) -> TextIO:
    """Output never fails on characters the stream's encoding cannot hold."""
    reconfigure = getattr(stream, "reconfigure", None)
    if reconfigure is not None:
        try:
            reconfigure(errors="replace")
        except (ValueError, io.UnsupportedOperation):
            pass
    return stream


class Report:
    """Writes the diagnostics of every file as they come, keeps the counts."""

    def __init__(self, args: argparse.Namespace, out: TextIO) -> None:
        self.out = out
        self.json = args.format == "json"
        self.style = Style(use_color(args.color, out))
        self.encoding = getattr(out, "encoding", None) or "utf-8"
        self.original = args.lang == "zh"
        self.limit: int = args.max_errors
        self.shown = 0
        self.hidden = 0
        self.files = 0
        self.counts = dict.fromkeys(Severity, 0)
        self.objects: list[dict[str, Any]] = []

    def add(self, source: Source, result: Result) -> None:
        self.files += 1
        for severity, n in result.counts.items():
            self.counts[severity] += n
        if self.json:
            self.objects += to_json(source.path, result.diagnostics)
            return
        renderer = TextRenderer(
            source.path, result.text, style=self.style, encoding=self.encoding, original=self.original
        )
        for d in result.diagnostics:
            if self.limit and self.shown >= self.limit:
                self.hidden += 1
                continue
            self.shown += 1
            self.out.write(renderer.render(d) + "\n")

    def finish(self) -> None:
        if self.json:
            json.dump(self.objects, self.out, ensure_ascii=False, indent=2)
            self.out.write("\n")
            return
        if self.hidden:
            self.out.write(
                f"{self.hidden} more diagnostic{'s' if self.hidden != 1 else ''} not shown "
                f"(--max-errors {self.limit}; 0 shows all)\n"
            )
        severity = Severity.ERROR if self.counts[Severity.ERROR] else None
        text = summary(self.counts, files=self.files)
        self.out.write((self.style.severity(severity, text) if severity else self.style.bold(text)) + "\n")


def known_globals(path: str, given: tuple[str, ...] | None) -> tuple[str, ...] | None:
    """The global names for a file: --globals, else its settings (standard
    input: those of the current directory)."""
    if given is not None:
        return given
    return find_settings(os.getcwd() if path == STDIN else path).globals


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    template: bool | None = True if args.template else False if args.script else None
    report = Report(args, out)
    unreadable = False
    # Files are read here, in order, and compiled on the pool (the compiler
    # runs without the interpreter lock); results are reported in order.
    jobs = args.jobs or os.cpu_count() or 1
    pending: list[tuple[Source, Future[Result]]] = []
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        for path in expand(args.paths):
            try:
                source = read_source(path, template)
                names = known_globals(path, args.globals)
            except (InputError, SettingsError) as e:
                err.write(f"quendal: error: {e}\n")
                unreadable = True
                continue
            future = pool.submit(compile, source.text, template=source.template, known_globals=names, engine=True)
            pending.append((source, future))
        for source, future in pending:
            report.add(source, future.result())
    report.finish()
    if unreadable:
        return EXIT_USAGE
    return EXIT_ERRORS if report.counts[Severity.ERROR] else EXIT_OK


def main(argv: list[str] | None = None, *, prog: str = "quendal check") -> int:
    args = parser(prog).parse_args(argv)
    return run(args, safe_stream(sys.stdout), safe_stream(sys.stderr))


if __name__ == "__main__":
    sys.exit(main())
