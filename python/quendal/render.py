"""Diagnostics as text for people and as JSON for tools.

The text form follows the usual compiler layout::

    error[MissingSemicolon]: missing `;` at the end of a statement
     --> bad.qd:1:10
      |
    1 | let x = 1
      |          ^
      = note: ...

Columns are code points; on screen a tab advances to the next multiple of
TAB_WIDTH, East Asian wide and fullwidth characters take two cells and
combining marks none, so the underline stays under the text it marks. Control
characters are shown as their Control Pictures, and characters the output
encoding cannot hold as "?", both one cell wide.
"""

from __future__ import annotations

import os
from bisect import bisect_left, bisect_right
import unicodedata
from collections.abc import Iterable
from dataclasses import dataclass
from functools import lru_cache
from typing import Any, TextIO

from .diagnostics import Diagnostic, Position, Related, Severity, SourceText

__all__ = ["Style", "TextRenderer", "to_json", "summary", "use_color", "EXPLANATIONS"]

TAB_WIDTH = 4
# Cells of context kept on each side of the marked text of a long line.
CONTEXT_CELLS = 60
# A range spanning more lines shows its first and last lines only.
MAX_SNIPPET_LINES = 6

# Parser nesting limit and string interpolation nesting limit of the compiler.
MAX_NESTING = 640
MAX_INTERPOLATION_NESTING = 256

# What a person needs to know about the codes that stop a compilation.
EXPLANATIONS: dict[int, str] = {
    1002: (
        "string interpolations (`$(...)` or `${...}` inside strings) are nested more than "
        f"{MAX_INTERPOLATION_NESTING} levels deep here, so the compiler stopped reading the file; "
        "move inner parts into variables"
    ),
    1003: (
        "brackets, blocks, function literals or interpolations are nested more than "
        f"{MAX_NESTING} levels deep here, so the compiler stopped reading the file; "
        "split the expression or move inner parts into variables or functions"
    ),
}


@dataclass(frozen=True)
class Style:
    """ANSI colours, or plain text when ``enabled`` is false."""

    enabled: bool = False

    def _wrap(self, code: str, text: str) -> str:
        return f"\x1b[{code}m{text}\x1b[0m" if self.enabled and text else text

    def severity(self, severity: Severity, text: str) -> str:
        return self._wrap(_SEVERITY_COLOURS[severity], text)

    def note(self, text: str) -> str:
        return self._wrap("1;32", text)

    def gutter(self, text: str) -> str:
        return self._wrap("1;34", text)

    def bold(self, text: str) -> str:
        return self._wrap("1", text)


_SEVERITY_COLOURS = {
    Severity.ERROR: "1;31",
    Severity.WARNING: "1;33",
    Severity.INFO: "1;36",
    Severity.HINT: "1;36",
}


def use_color(choice: str, stream: TextIO, environ: dict[str, str] | None = None) -> bool:
    """``--color``: "always" and "never" decide; "auto" honours NO_COLOR, then
    FORCE_COLOR (each counts when set and not empty), then asks whether the
    stream is a terminal."""
    if choice == "always":
        return True
    if choice == "never":
        return False
    env = os.environ if environ is None else environ
    if env.get("NO_COLOR"):
        return False
    if env.get("FORCE_COLOR"):
        return True
    isatty = getattr(stream, "isatty", None)
    return bool(isatty and isatty())


@lru_cache(maxsize=4096)
def _cell(ch: str, encoding: str) -> tuple[str, int]:
    """How one character is shown and how many cells it takes."""
    o = ord(ch)
    if o < 0x20:
        return chr(0x2400 + o), 1
    if o == 0x7F:
        return "\u2421", 1
    if 0x80 <= o < 0xA0 or 0xD800 <= o < 0xE000:
        return "?", 1
    try:
        ch.encode(encoding)
    except (UnicodeEncodeError, LookupError):
        return "?", 1
    if unicodedata.combining(ch) or unicodedata.category(ch) in ("Mn", "Me", "Cf"):
        return ch, 0
    return ch, 2 if unicodedata.east_asian_width(ch) in ("W", "F") else 1


@dataclass
class _Line:
    """One source line laid out in cells."""

    shown: list[str]  # per code point: what is printed
    starts: list[int]  # per code point (and one past the end): first cell

    @classmethod
    def layout(cls, text: str, encoding: str) -> _Line:
        shown: list[str] = []
        starts = [0]
        cell = 0
        for ch in text:
            if ch == "\t":
                width = TAB_WIDTH - cell % TAB_WIDTH
                shown.append(" " * width)
            else:
                glyph, width = _cell(ch, encoding)
                shown.append(glyph)
            cell += width
            starts.append(cell)
        return cls(shown, starts)

    def cells(self, index: int) -> int:
        """First cell of code point ``index`` (clamped to one past the end)."""
        return self.starts[min(max(index, 0), len(self.shown))]


class TextRenderer:
    """Renders the diagnostics of one file."""

    def __init__(self, path: str, text: SourceText, *, style: Style, encoding: str, original: bool = False) -> None:
        self.path = path
        self.text = text
        self.style = style
        self.encoding = encoding
        self.original = original
        self._lines: dict[int, _Line] = {}

    def _line(self, number: int) -> _Line:
        line = self._lines.get(number)
        if line is None:
            line = self._lines[number] = _Line.layout(self.text.line(number), self.encoding)
        return line

    def _message(self, d: Diagnostic | Related) -> str:
        message = d.original_message if self.original else d.message
        # The message is printed on one line whatever the source held.
        return "".join(_cell(ch, self.encoding)[0] if ch < " " or ch == "\x7f" else ch for ch in message)

    def render(self, d: Diagnostic) -> str:
        style = self.style
        word = d.severity.value
        head = style.severity(d.severity, f"{word}[{d.name}]") + style.bold(f": {self._message(d)}")
        lines = [head]
        width = self._gutter_width(d)
        lines += self._snippet(d.start, d.end, "^", d.severity, width)
        for related in d.related:
            lines.append(style.note("note") + style.bold(f"[{related.name}]: {self._message(related)}"))
            lines += self._snippet(related.start, related.end, "-", None, width)
        explanation = EXPLANATIONS.get(d.code)
        if explanation:
            lines.append(f"{' ' * width} {style.gutter('=')} {style.bold('note')}: {explanation}")
        return "\n".join(lines) + "\n"

    def _shown_lines(self, start: Position, end: Position) -> list[int | None]:
        """Line numbers of a snippet, None where lines are left out."""
        last = end.line
        if last > start.line and end.column == 1:
            last -= 1  # the range ends where that line begins
        last = min(max(last, start.line), max(self.text.line_count, start.line))
        numbers = list(range(start.line, last + 1))
        if len(numbers) > MAX_SNIPPET_LINES:
            keep = MAX_SNIPPET_LINES // 2
            return [*numbers[:keep], None, *numbers[-keep:]]
        return list(numbers)

    def _gutter_width(self, d: Diagnostic) -> int:
        ends = [d.end.line] + [r.end.line for r in d.related]
        return len(str(max(ends)))

    def _snippet(self, start: Position, end: Position, mark: str, severity: Severity | None, width: int) -> list[str]:
        style = self.style
        pad = " " * width
        bar = style.gutter("|")
        out = [f"{pad}{style.gutter('-->')} {self.path}:{start.line}:{start.column}", f"{pad} {bar}"]
        for number in self._shown_lines(start, end):
            if number is None:
                out.append(style.gutter("..."))
                continue
            line = self._line(number)
            length = len(line.shown)
            # Code point range marked on this line.
            lo = start.column - 1 if number == start.line else _indent(line)
            hi = end.column - 1 if number == end.line else length
            lo = min(lo, length)
            hi = max(min(hi, length), lo)
            # A very long marked stretch is cut too.
            hi = min(hi, max(bisect_right(line.starts, line.starts[lo] + 2 * CONTEXT_CELLS) - 1, lo))
            first, last, shown = self._window(line, lo, hi)
            left = line.cells(lo) - line.cells(first)
            marks = max(line.cells(hi) - line.cells(lo), 1)
            underline = mark * marks
            underline = style.severity(severity, underline) if severity else style.note(underline)
            out.append(f"{style.gutter(str(number).rjust(width))} {bar} {shown}".rstrip())
            out.append(f"{pad} {bar} {' ' * (left + (first > 0))}{underline}")
        return out

    @staticmethod
    def _window(line: _Line, lo: int, hi: int) -> tuple[int, int, str]:
        """The part of a long line around the marked code points [lo, hi),
        at most CONTEXT_CELLS on each side, with "…" where it was cut."""
        starts = line.starts
        length = len(line.shown)
        first = min(bisect_left(starts, starts[lo] - CONTEXT_CELLS), lo)
        last = max(min(bisect_right(starts, starts[hi] + CONTEXT_CELLS) - 1, length), hi)
        text = "".join(line.shown[first:last])
        return first, last, ("…" if first > 0 else "") + text + ("…" if last < length else "")


def _indent(line: _Line) -> int:
    for i, glyph in enumerate(line.shown):
        if glyph.strip():
            return i
    return 0


def summary(counts: dict[Severity, int], *, files: int) -> str:
    """``2 errors, 1 warning`` (non-zero counts only), or ``no problems``;
    with the number of files when there was more than one."""
    parts = [
        f"{n} {severity.value}{'s' if n != 1 else ''}" for severity in Severity if (n := counts.get(severity, 0))
    ]
    text = ", ".join(parts) if parts else "no problems"
    if files != 1:
        text += f" in {files} files"
    return text


def _range(start: Position, end: Position) -> dict[str, dict[str, int]]:
    return {
        "start": {"line": start.line, "column": start.column},
        "end": {"line": end.line, "column": end.column},
    }


def to_json(path: str, diagnostics: Iterable[Diagnostic]) -> list[dict[str, Any]]:
    """One object per diagnostic (the field names are part of the interface)."""
    return [
        {
            "file": path,
            "severity": d.severity.value,
            "code": d.code,
            "name": d.name,
            "message": d.message,
            "original_message": d.original_message,
            "range": _range(d.start, d.end),
            "text": d.text,
            "related": [
                {
                    "code": r.code,
                    "name": r.name,
                    "message": r.message,
                    "original_message": r.original_message,
                    "range": _range(r.start, r.end),
                    "text": r.text,
                }
                for r in d.related
            ],
        }
        for d in diagnostics
    ]
