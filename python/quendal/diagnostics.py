"""Compilation results as typed objects.

``quendal.core.compile`` returns the chunk and a flat list of integers, five
per record (start line, start column, end line, end column, code). This module
decodes that list once into what a host wants to read::

    from quendal import compile

    result = compile("let x = ;")
    for d in result.diagnostics:          # sorted by position
        print(d.severity.value, d.name, d.start, d.message)
    result.ok                             # False: there is an error
    result.source_map                     # one entry per instruction, on demand

Diagnostics are the errors, warnings, infos and hints. A reference record
("declared here") follows the diagnostic it explains and is attached to it as
``Diagnostic.related``; tags and tag references are editor annotations, kept
apart in ``Result.annotations``; source map records are decoded only when
``Result.source_map`` is read.
"""

from __future__ import annotations

import enum
import gc
from collections.abc import Sequence
from functools import cached_property, lru_cache
from itertools import accumulate, compress
from typing import Literal, NamedTuple, overload

from ._diagnostics import CODES

__all__ = [
    "Severity",
    "Kind",
    "Position",
    "Related",
    "Diagnostic",
    "Annotation",
    "SourceMapEntry",
    "SourceMap",
    "Result",
    "SourceText",
    "Unit",
    "compile",
    "compile_records",
    "decode",
    "kind_of",
    "code_name",
    "code_message",
]

SOURCE_MAP = 12000
RECORD_SIZE = 5


class Severity(enum.Enum):
    """How serious a diagnostic is; only errors stop the chunk."""

    ERROR = "error"
    WARNING = "warning"
    INFO = "info"
    HINT = "hint"


class Kind(enum.Enum):
    """What a record is, by its code's range."""

    ERROR = "error"
    WARNING = "warning"
    INFO = "info"
    HINT = "hint"
    REFERENCE = "reference"
    TAG = "tag"
    TAG_REFERENCE = "tag reference"
    SOURCE_MAP = "source map"
    MARKER = "marker"  # range bounds and codes outside every range


_SEVERITY_OF_KIND = {
    Kind.ERROR: Severity.ERROR,
    Kind.WARNING: Severity.WARNING,
    Kind.INFO: Severity.INFO,
    Kind.HINT: Severity.HINT,
}


def kind_of(code: int) -> Kind:
    """The kind of a record by the numeric range of its code (the range-start
    markers of warnings to references fall in their range, as in the
    collector's filter)."""
    if 1001 <= code <= 1998:
        return Kind.ERROR
    if 2000 <= code <= 2998:
        return Kind.WARNING
    if 3000 <= code <= 3998:
        return Kind.INFO
    if 4000 <= code <= 4998:
        return Kind.HINT
    if 5000 <= code <= 5998:
        return Kind.REFERENCE
    if 10000 <= code <= 10998:
        return Kind.TAG
    if 11000 <= code <= 11998:
        return Kind.TAG_REFERENCE
    if code == SOURCE_MAP:
        return Kind.SOURCE_MAP
    return Kind.MARKER


def code_name(code: int) -> str:
    """The code's name, or ``Code<number>`` for a number outside the table."""
    entry = CODES.get(code)
    return entry[0] if entry else f"Code{code}"


def code_message(code: int, *, original: bool = False) -> str:
    """The message template of a code (``$0`` not filled in): English, or the
    original text that ``core.get_diagnostic_message`` returns."""
    entry = CODES.get(code)
    if entry is None:
        return f"unknown diagnostic code {code}"
    return entry[1] if original else entry[2]


# What a column counts: code points (the default) or UTF-16 code units (the
# unit of editors speaking the language server protocol).
Unit = Literal["codepoints", "utf16"]


class Position(NamedTuple):
    """1-based line and column; columns count code points, or UTF-16 code
    units in a result compiled with ``unit="utf16"``."""

    line: int
    column: int


class Related(NamedTuple):
    """A reference record attached to the diagnostic it explains."""

    code: int
    name: str
    message: str
    original_message: str
    start: Position
    end: Position
    text: str


class Diagnostic(NamedTuple):
    """An error, warning, info or hint. ``message`` is English and
    ``original_message`` the original text, both with ``$0`` replaced by
    ``text``, the source text the record covers. (Immutable tuples: many
    thousands are made per compilation of a large file.)"""

    severity: Severity
    code: int
    name: str
    message: str
    original_message: str
    start: Position
    end: Position
    text: str
    related: tuple[Related, ...] = ()


class Annotation(NamedTuple):
    """A tag or tag reference record (editor annotations)."""

    kind: Kind
    code: int
    name: str
    start: Position
    end: Position


class SourceMapEntry(NamedTuple):
    """The source range of one instruction, in instruction order."""

    start: Position
    end: Position


class SourceText:
    """Maps the encoder's 1-based lines and columns back to string indices.
    Lines end at each line feed; a column counts every character of its line,
    a carriage return included, and may run past the line into its terminator
    (the encoder puts a position on a terminator on the line before it).
    Columns count code points, or UTF-16 code units with ``unit="utf16"``."""

    __slots__ = ("text", "line_starts", "unit", "astral")

    def __init__(self, text: str, unit: Unit = "codepoints") -> None:
        self.text = text
        self.unit = unit
        # Start index of every line: the lengths of the pieces between line
        # feeds, each plus its line feed, summed (all loops in C).
        self.line_starts: list[int] = list(accumulate(map((1).__add__, map(len, text.split("\n"))), initial=0))[:-1]
        # Only characters above U+FFFF count differently in UTF-16 (two units).
        self.astral = unit == "utf16" and len(text.encode("utf-16-le", "surrogatepass")) != 2 * len(text)

    def index(self, line: int, column: int) -> int:
        """String index of a position, clamped to the text."""
        if not self.line_starts:
            return 0
        line = min(max(line, 1), len(self.line_starts))
        start = self.line_starts[line - 1]
        if self.astral:
            column = self._code_points(start, column)
        return max(0, min(start + column - 1, len(self.text)))

    def _code_points(self, start: int, column: int) -> int:
        """The code-point column of a UTF-16 column on the line at ``start``."""
        units = column - 1
        at = start
        text = self.text
        while units > 0 and at < len(text):
            units -= 2 if ord(text[at]) > 0xFFFF else 1
            at += 1
        return at - start + 1 + max(units, 0)

    def column_of(self, index: int) -> Position:
        """The position of a string index, in this text's unit."""
        from bisect import bisect_right

        index = max(0, min(index, len(self.text)))
        line = max(bisect_right(self.line_starts, index), 1)
        start = self.line_starts[line - 1] if self.line_starts else 0
        column = index - start + 1
        if self.astral:
            column += sum(1 for c in self.text[start:index] if ord(c) > 0xFFFF)
        return Position(line, column)

    def slice(self, start: Position, end: Position) -> str:
        return self.text[self.index(*start) : self.index(*end)]

    def line(self, number: int) -> str:
        """Line ``number`` (1-based) without its terminator; "" past the end."""
        if not 1 <= number <= len(self.line_starts):
            return ""
        start = self.line_starts[number - 1]
        end = self.line_starts[number] - 1 if number < len(self.line_starts) else len(self.text)
        return self.text[start:end].removesuffix("\r")

    @property
    def line_count(self) -> int:
        return len(self.line_starts)


# Longest piece of covered text put into a message.
QUOTE_LIMIT = 40


def _quote(text: str) -> str:
    """Covered text as put into a message: its first line, at most
    QUOTE_LIMIT characters."""
    first, newline, _ = text.partition("\n")
    first = first.removesuffix("\r")
    if newline or len(first) > QUOTE_LIMIT:
        first = first[:QUOTE_LIMIT] + "…"
    return first


_new = tuple.__new__


@lru_cache(maxsize=None)
def _code_info(code: int) -> tuple[Kind, Severity | None, str, str, str]:
    """Kind, severity, name, original and English message template of a code."""
    kind = kind_of(code)
    entry = CODES.get(code)
    if entry is None:
        entry = (code_name(code), code_message(code, original=True), code_message(code))
    return kind, _SEVERITY_OF_KIND.get(kind), *entry


class SourceMap(Sequence[SourceMapEntry]):
    """The source map entries of a result, decoded as they are read."""

    __slots__ = ("_records", "_indices")

    def __init__(self, records: list[int], indices: list[int] | None) -> None:
        self._records = records
        # Record index of each entry; None when every record is an entry.
        self._indices = indices

    def __len__(self) -> int:
        return len(self._records) // RECORD_SIZE if self._indices is None else len(self._indices)

    @overload
    def __getitem__(self, index: int) -> SourceMapEntry: ...
    @overload
    def __getitem__(self, index: slice) -> list[SourceMapEntry]: ...
    def __getitem__(self, index: int | slice) -> SourceMapEntry | list[SourceMapEntry]:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        if index < 0:
            index += len(self)
        if not 0 <= index < len(self):
            raise IndexError("source map index out of range")
        at = (index if self._indices is None else self._indices[index]) * RECORD_SIZE
        r = self._records
        return _new(SourceMapEntry, (_new(Position, (r[at], r[at + 1])), _new(Position, (r[at + 2], r[at + 3]))))

    def __eq__(self, other: object) -> bool:
        if isinstance(other, Sequence):
            return len(self) == len(other) and all(a == b for a, b in zip(self, other))
        return NotImplemented

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"<SourceMap of {len(self)} entries>"


class Result:
    """One compilation: the chunk, the diagnostics, and on demand the
    annotations and the source map."""

    def __init__(self, source: str, chunk: bytes | None, records: list[int], unit: Unit = "codepoints") -> None:
        self.source = source
        self.unit: Unit = unit
        self.chunk = chunk
        self.records = records  # the flat list, as the compiler returned it
        codes = records[4::RECORD_SIZE]
        self._all_source_map = codes.count(SOURCE_MAP) == len(codes)
        # Record indices of everything but source map entries.
        others = [] if self._all_source_map else list(compress(range(len(codes)), map(SOURCE_MAP.__ne__, codes)))
        # The decoded records are tuples that hold no cycles; collecting
        # garbage while making many thousands of them only costs time.
        collecting = gc.isenabled()
        gc.disable()
        try:
            self.diagnostics, self._annotation_indices = self._decode(others)
        finally:
            if collecting:
                gc.enable()
        counts = dict.fromkeys(Severity, 0)
        for d in self.diagnostics:
            counts[d.severity] += 1
        self.counts: dict[Severity, int] = counts

    @property
    def ok(self) -> bool:
        """True when a chunk was produced (no error)."""
        return self.chunk is not None

    @property
    def error_count(self) -> int:
        return self.counts[Severity.ERROR]

    @property
    def warning_count(self) -> int:
        return self.counts[Severity.WARNING]

    @property
    def info_count(self) -> int:
        return self.counts[Severity.INFO]

    @property
    def hint_count(self) -> int:
        return self.counts[Severity.HINT]

    @cached_property
    def text(self) -> SourceText:
        return SourceText(self.source, self.unit)

    def _decode(self, others: list[int]) -> tuple[list[Diagnostic], list[int]]:
        if not others:
            return [], []
        r = self.records
        text = self.text
        source = text.text
        # With UTF-16 columns and characters above U+FFFF, columns are not
        # string offsets: every slice goes through the text's conversion.
        starts = [] if text.astral else text.line_starts
        diagnostics: list[Diagnostic] = []
        related: dict[int, list[Related]] = {}  # diagnostic index -> its references
        annotations: list[int] = []
        infos: dict[int, tuple[Kind, Severity | None, str, str, str]] = {}
        for i in others:
            at = i * RECORD_SIZE
            code = r[at + 4]
            info = infos.get(code)
            if info is None:
                info = infos[code] = _code_info(code)
            kind, severity, name, original, english = info
            if kind is Kind.TAG or kind is Kind.TAG_REFERENCE:
                annotations.append(i)
                continue
            l1, c1, l2, c2 = r[at : at + 4]
            try:
                covered = source[starts[l1 - 1] + c1 - 1 : starts[l2 - 1] + c2 - 1]
            except IndexError:
                covered = text.slice(Position(l1, c1), Position(l2, c2))
            start = _new(Position, (l1, c1))
            end = _new(Position, (l2, c2))
            if "$0" in english or "$0" in original:
                quoted = covered if len(covered) <= QUOTE_LIMIT and "\n" not in covered else _quote(covered)
                original = original.replace("$0", quoted)
                english = english.replace("$0", quoted)
            if kind is Kind.REFERENCE and diagnostics:
                item = _new(Related, (r[at + 4], name, english, original, start, end, covered))
                related.setdefault(len(diagnostics) - 1, []).append(item)
                continue
            # A reference with nothing before it to explain, or a marker
            # code the stages never produce, stands on its own.
            diagnostics.append(
                _new(
                    Diagnostic,
                    (severity or Severity.INFO, r[at + 4], name, english, original, start, end, covered, ()),
                )
            )
        for index, items in related.items():
            diagnostics[index] = diagnostics[index]._replace(related=tuple(items))
        diagnostics.sort(key=_position_key)
        return diagnostics, annotations

    @cached_property
    def annotations(self) -> list[Annotation]:
        """Tags and tag references, in record order (empty unless the
        configuration asked for tags)."""
        out = []
        r = self.records
        for i in self._annotation_indices:
            at = i * RECORD_SIZE
            code = r[at + 4]
            kind, _, name, _, _ = _code_info(code)
            start = _new(Position, (r[at], r[at + 1]))
            end = _new(Position, (r[at + 2], r[at + 3]))
            out.append(_new(Annotation, (kind, code, name, start, end)))
        return out

    @cached_property
    def source_map(self) -> SourceMap:
        """One entry per instruction of the chunk, in instruction order,
        decoded as it is read."""
        if self._all_source_map:
            return SourceMap(self.records, None)
        codes = self.records[4::RECORD_SIZE]
        return SourceMap(self.records, list(compress(range(len(codes)), map(SOURCE_MAP.__eq__, codes))))


def _position_key(d: Diagnostic) -> Position:
    return d.start


def decode(source: str, chunk: bytes | None, records: list[int], unit: Unit = "codepoints") -> Result:
    """Decodes what ``core.compile`` (or ``_engine.compile``) returned for
    ``source``."""
    return Result(source, chunk, records, unit)


def compile_records(
    source: str,
    *,
    template: bool = False,
    tags: bool = False,
    unit: Unit = "codepoints",
    source_map: bool = True,
    known_globals: Sequence[str] | None = None,
    engine: bool = False,
) -> tuple[bytes | None, list[int]]:
    """The chunk and the flat records of one compilation. The fixed
    configuration of ``quendal.core`` serves the defaults; any other option,
    or ``engine=True``, goes through ``quendal._engine``, which compiles
    without holding the interpreter lock (so threads compile in parallel)."""
    mode: Literal["script", "template"] = "template" if template else "script"
    if not engine and not tags and unit == "codepoints" and source_map and known_globals is None:
        from . import core

        return core.compile(source, core.Config(input_mode=mode))
    from . import _engine

    return _engine.compile(
        source,
        input_mode=mode,
        report_tags=tags,
        report_source_map=source_map,
        position_unit=unit,
        known_globals=None if known_globals is None else list(known_globals),
    )


def compile(
    source: str,
    *,
    template: bool = False,
    tags: bool = False,
    unit: Unit = "codepoints",
    source_map: bool = True,
    known_globals: Sequence[str] | None = None,
    engine: bool = False,
) -> Result:
    """Compiles a script (or a template) and decodes the result.

    ``tags`` keeps the editor annotations (``Result.annotations``); ``unit``
    chooses what columns count; ``source_map=False`` drops the per-instruction
    records; ``known_globals`` lists the host's globals, so that reading any
    other undeclared name draws the warning ``GlobalVariableNotDeclared``."""
    chunk, records = compile_records(
        source,
        template=template,
        tags=tags,
        unit=unit,
        source_map=source_map,
        known_globals=known_globals,
        engine=engine,
    )
    return Result(source, chunk, records, unit)
