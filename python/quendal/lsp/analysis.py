"""What the language server knows about one document, taken from one
compilation with tags on and UTF-16 columns (the protocol's unit).

Every answer comes from the compiler's records: diagnostics with their
"declared here" references, the variable tags (each followed in the record
stream by the uses of that variable), the global tags, the scopes, the
keyword references and the string tags. Nothing here reads the language.
"""

from __future__ import annotations

from collections.abc import Sequence
from bisect import bisect_left, bisect_right
from dataclasses import dataclass, field
from functools import cached_property

from lsprotocol import types as lsp

from .. import bytecode
from ..diagnostics import Annotation, Diagnostic, Position, Result, Severity, compile

# Variable tags (Tag range), by code: (what hover calls it, token type,
# token modifiers).
_LOCAL = "local variable"
_PARAMETER = "parameter"
VARIABLE_TAGS: dict[int, tuple[str, str, tuple[str, ...]]] = {
    10001: ("constant", "variable", ("readonly",)),  # LocalConst
    10002: (_LOCAL, "variable", ("readonly",)),  # LocalImmutable
    10003: (_LOCAL, "variable", ()),  # LocalMutable
    10004: ("function", "function", ("readonly",)),  # LocalFunction
    10005: ("module", "namespace", ("readonly",)),  # LocalModule
    10006: ("implicit parameter", "parameter", ("readonly",)),  # ParameterIt
    10007: (_PARAMETER, "parameter", ("readonly",)),  # ParameterImmutable
    10008: (_PARAMETER, "parameter", ()),  # ParameterMutable
    10009: ("rest parameter", "parameter", ("readonly",)),  # ParameterImmutableRest
    10010: ("rest parameter", "parameter", ()),  # ParameterMutableRest
    10011: ("destructured parameter", "parameter", ("readonly",)),  # ParameterPattern
    10012: ("destructured rest parameter", "parameter", ("readonly",)),  # ParameterRestPattern
    10013: (_PARAMETER, "parameter", ("readonly",)),  # ParameterSubPatternImmutable
    10014: (_PARAMETER, "parameter", ()),  # ParameterSubPatternMutable
}
MUTABLE_TAGS = {10003, 10008, 10010, 10014}
PARAMETER_TAGS = set(range(10006, 10015))
# Tags whose range is not the name itself (the whole function literal, the
# whole destructuring pattern): no token and no highlight for the range.
WIDE_TAGS = {10006, 10011, 10012}
LOCAL_CONST, LOCAL_FUNCTION, LOCAL_MODULE, PARAMETER_IT = 10001, 10004, 10005, 10006
LET_TAGS = {10002, 10003}
GLOBAL_VARIABLE = 10015
RECORD_FIELD_TAGS = {10017, 10018, 10019, 10031}  # names of record fields
SCOPE = 10034
STRING = 10035
# Uses of a variable, following its tag: ReadLocal, ReadWriteLocal,
# WriteLocal, RedeclareLocal; ExportedLocal (11005) marks the variable as
# exported and covers the module's name, not a use of the variable.
READ_LOCAL, READ_WRITE_LOCAL, WRITE_LOCAL, REDECLARE_LOCAL, EXPORTED_LOCAL = 11001, 11002, 11003, 11004, 11005
USE_CODES = {READ_LOCAL, READ_WRITE_LOCAL, WRITE_LOCAL, REDECLARE_LOCAL}
CALLABLE = 11006
KEYWORD_REFERENCES = set(range(11012, 11024))  # KeywordFor .. KeywordReturn

# The semantic token legend: index in these lists is what the protocol sends.
TOKEN_TYPES = ["variable", "parameter", "function", "namespace", "property", "string", "keyword"]
TOKEN_MODIFIERS = ["declaration", "readonly", "modification", "defaultLibrary"]

SEVERITIES = {
    Severity.ERROR: lsp.DiagnosticSeverity.Error,
    Severity.WARNING: lsp.DiagnosticSeverity.Warning,
    Severity.INFO: lsp.DiagnosticSeverity.Information,
    Severity.HINT: lsp.DiagnosticSeverity.Hint,
}
UNUSED_HINTS = {4001, 4002}  # UnusedLocalVariable, UnusedLocalFunction
UPVALUE_INSTRUCTIONS = frozenset(("GetUpvalue", "SetUpvalue"))


# Ranges are kept as plain tuples (start line, start character, end line,
# end character), 0-based in UTF-16 units as the protocol counts, and made
# into protocol objects only for an answer: a large document has many
# thousands of them.
Span = tuple[int, int, int, int]


def to_span(start: Position, end: Position) -> Span:
    return (max(start.line - 1, 0), max(start.column - 1, 0), max(end.line - 1, 0), max(end.column - 1, 0))


class LineMap:
    """The compiler ends lines at a line feed only; the protocol also at a
    carriage return that no line feed follows. Maps the compiler's 1-based
    (line, UTF-16 column) positions to the protocol's 0-based ones: the
    identity for a text without such a lone carriage return."""

    def __init__(self, text: str) -> None:
        # Per compiler line with a lone carriage return: the protocol lines
        # before it, and the 0-based columns just after each lone return.
        self.breaks: dict[int, tuple[int, list[int]]] = {}
        self.lines_before: list[int] = []
        if "\r" not in text:
            return
        before = 0
        pieces = text.split("\n")
        for number, line in enumerate(pieces):
            self.lines_before.append(before)
            if "\r" not in line:
                continue
            # A return that ends a piece other than the last is half of a CRLF.
            last = number == len(pieces) - 1
            after: list[int] = []
            column = 0
            for i, ch in enumerate(line):
                column += 2 if ord(ch) > 0xFFFF else 1
                if ch == "\r" and (last or i + 1 < len(line)):
                    after.append(column)
            if after:
                self.breaks[number] = (before, after)
                before += len(after)

    def span(self, start: Position, end: Position) -> Span:
        if not self.lines_before:
            return to_span(start, end)
        return (*self.point(start.line - 1, start.column - 1), *self.point(end.line - 1, end.column - 1))

    def point(self, line: int, column: int) -> tuple[int, int]:
        line, column = max(line, 0), max(column, 0)
        if line >= len(self.lines_before):
            shift = self.lines_before[-1] + len(self.breaks.get(len(self.lines_before) - 1, (0, []))[1])
            return line + shift, column
        entry = self.breaks.get(line)
        if entry is None:
            return line + self.lines_before[line], column
        before, after = entry
        passed = [a for a in after if a <= column]
        return line + before + len(passed), column - (passed[-1] if passed else 0)


def to_range(span: Span) -> lsp.Range:
    return lsp.Range(
        start=lsp.Position(line=span[0], character=span[1]), end=lsp.Position(line=span[2], character=span[3])
    )


def contains(outer: Span, position: lsp.Position) -> bool:
    """``position`` lies in ``outer``, its end included (a cursor just after
    a name is on it)."""
    point = (position.line, position.character)
    return outer[:2] <= point <= outer[2:]


def encloses(outer: Span, inner: Span) -> bool:
    return outer[:2] <= inner[:2] and inner[2:] <= outer[2:]


@dataclass
class Use:
    code: int
    range: Span


@dataclass
class Variable:
    """A declared name with its uses, from its tag and the tag references
    that follow it."""

    tag: int
    name: str
    range: Span  # of the declaring name (wider for the WIDE_TAGS)
    uses: list[Use] = field(default_factory=list)
    exported: bool = False

    @property
    def kind(self) -> str:
        return VARIABLE_TAGS[self.tag][0]

    @property
    def mutable(self) -> bool:
        return self.tag in MUTABLE_TAGS


@dataclass
class Occurrence:
    """What stands at a position: a variable (declaration or use) or a
    global, and the range of the name there."""

    range: Span
    variable: Variable | None = None
    global_name: str | None = None
    use: Use | None = None


class Analysis:
    def __init__(self, text: str, *, template: bool = False, known_globals: Sequence[str] | None = None) -> None:
        self.text = text
        self.template = template
        self.known_globals = known_globals
        self.lines = LineMap(text)
        self.result: Result = compile(text, template=template, tags=True, unit="utf16", source_map=False,
                                      known_globals=known_globals)
        self.variables: list[Variable] = []
        self.globals: dict[str, list[Span]] = {}
        self.scopes: list[Span] = []
        self.keywords: list[Span] = []
        self.strings: list[Span] = []
        self.fields: list[Span] = []
        self.callees: set[Span] = set()
        self._read(self.result.annotations)

    # ------------------------------------------------------------ records
    def _slice(self, a: Annotation) -> str:
        return self.result.text.slice(a.start, a.end)

    def _read(self, annotations: list[Annotation]) -> None:
        current: Variable | None = None
        for a in annotations:
            r = self.lines.span(a.start, a.end)
            if a.code in USE_CODES or a.code == EXPORTED_LOCAL:
                if current is not None:
                    if a.code == EXPORTED_LOCAL:
                        current.exported = True
                    else:
                        current.uses.append(Use(a.code, r))
                continue
            current = None
            if a.code in VARIABLE_TAGS:
                # The implicit parameter's tag covers its function literal.
                current = Variable(a.code, "it" if a.code == PARAMETER_IT else self._slice(a), r)
                self.variables.append(current)
            elif a.code == GLOBAL_VARIABLE:
                self.globals.setdefault(self._slice(a), []).append(r)
            elif a.code == SCOPE:
                self.scopes.append(r)
            elif a.code in KEYWORD_REFERENCES:
                self.keywords.append(r)
            elif a.code == STRING:
                self.strings.append(r)
            elif a.code in RECORD_FIELD_TAGS:
                self.fields.append(r)
            elif a.code == CALLABLE:
                self.callees.add(r)

    # ---------------------------------------------------------- diagnostics
    def diagnostics(self, uri: str) -> list[lsp.Diagnostic]:
        out = []
        for d in self.result.diagnostics:
            out.append(
                lsp.Diagnostic(
                    range=to_range(self.lines.span(d.start, d.end)),
                    severity=SEVERITIES[d.severity],
                    code=d.name,
                    source="quendal",
                    message=d.message,
                    tags=[lsp.DiagnosticTag.Unnecessary] if d.code in UNUSED_HINTS else None,
                    related_information=[
                        lsp.DiagnosticRelatedInformation(
                            location=lsp.Location(uri=uri, range=to_range(self.lines.span(rel.start, rel.end))),
                            message=rel.message,
                        )
                        for rel in d.related
                    ]
                    or None,
                )
            )
        return out

    def diagnostics_at(self, position: lsp.Position) -> list[Diagnostic]:
        return [d for d in self.result.diagnostics if contains(self.lines.span(d.start, d.end), position)]

    # -------------------------------------------------------------- names
    def occurrence_at(self, position: lsp.Position) -> Occurrence | None:
        """The narrowest name at ``position``."""
        best: Occurrence | None = None

        def consider(candidate: Occurrence) -> None:
            nonlocal best
            if contains(candidate.range, position) and (best is None or encloses(best.range, candidate.range)):
                best = candidate

        for v in self.variables:
            consider(Occurrence(v.range, variable=v))
            for use in v.uses:
                consider(Occurrence(use.range, variable=v, use=use))
        for name, ranges in self.globals.items():
            for r in ranges:
                consider(Occurrence(r, global_name=name))
        return best

    def locations(self, occurrence: Occurrence, *, declaration: bool = True) -> list[tuple[Span, int]]:
        """Every range of the same variable or global, with the code of the
        record (the tag for the declaration)."""
        if occurrence.variable is not None:
            v = occurrence.variable
            out = [(v.range, v.tag)] if declaration else []
            return out + [(u.range, u.code) for u in v.uses]
        if occurrence.global_name is not None:
            return [(r, GLOBAL_VARIABLE) for r in self.globals.get(occurrence.global_name, [])]
        return []

    def is_upvalue(self, variable: Variable, use: Use) -> bool:
        """A use the compiled code makes through an upvalue; for a document
        that does not compile, a use inside a function that does not contain
        the declaration."""
        exact = self.upvalue_uses
        if exact is not None:
            return use.range in exact
        return any(
            encloses(s, use.range) and not encloses(s, variable.range) for s in self.function_scopes
        )

    @cached_property
    def upvalue_uses(self) -> set[Span] | None:
        """The names the bytecode reads and writes through upvalues: the
        ranges the source map gives its GetUpvalue and SetUpvalue
        instructions (a second compilation, made when a hover first asks).
        None when the document does not compile."""
        result = compile(self.text, template=self.template, unit="utf16", known_globals=self.known_globals)
        if result.chunk is None:
            return None
        try:
            instructions = bytecode.decode(result.chunk).instructions
        except ValueError:
            return None
        return {
            self.lines.span(entry.start, entry.end)
            for ins, entry in zip(instructions, result.source_map)
            if ins.name in UPVALUE_INSTRUCTIONS
        }

    @cached_property
    def function_scopes(self) -> set[Span]:
        """Scopes that are function bodies: the narrowest scope around a
        parameter, or around the name of a function declared with `fn`
        (whose scope covers the whole declaration)."""
        out = set()
        root = self.root_scope()
        for v in self.variables:
            if v.tag in PARAMETER_TAGS or v.tag == LOCAL_FUNCTION:
                scope = self.narrowest_scope(v.range)
                if scope is not None and scope != root and (v.tag in PARAMETER_TAGS or scope[0] == v.range[0]):
                    out.add(scope)
        return out

    def root_scope(self) -> Span | None:
        return self.scopes[0] if self.scopes and self.scopes[0][:2] == (0, 0) else None

    @cached_property
    def _sorted_scopes(self) -> list[Span]:
        # By start, the wider first where two start together.
        return sorted(set(self.scopes), key=lambda s: (s[0], s[1], -s[2], -s[3]))

    def narrowest_scope(self, r: Span) -> Span | None:
        """Scopes nest, so the narrowest around ``r`` is the last one to
        start at or before it that also ends at or after it."""
        scopes = self._sorted_scopes
        at = bisect_right(scopes, r[:2], key=lambda s: s[:2])
        for s in reversed(scopes[:at]):
            if encloses(s, r):
                return s
        return None

    # --------------------------------------------------------------- hover
    def hover(self, position: lsp.Position) -> lsp.Hover | None:
        parts: list[str] = []
        occurrence = self.occurrence_at(position)
        if occurrence is not None and occurrence.variable is not None:
            v = occurrence.variable
            kind = v.kind
            if v.tag in LET_TAGS | {10007, 10008, 10009, 10010, 10013, 10014}:
                kind = f"{'mutable' if v.mutable else 'immutable'} {kind}"
            if occurrence.use is not None and self.is_upvalue(v, occurrence.use):
                kind = f"upvalue ({kind} of an enclosing function)"
            line = v.range[0] + 1
            extra = ", exported" if v.exported else ""
            parts.append(f"`{v.name}`: {kind}{extra}, declared on line {line}")
        elif occurrence is not None and occurrence.global_name is not None:
            parts.append(f"`{occurrence.global_name}`: global (provided by the host)")
        for d in self.diagnostics_at(position):
            parts.append(f"{d.severity.value}[{d.name}]: {d.message}")
        if not parts:
            return None
        return lsp.Hover(
            contents=lsp.MarkupContent(kind=lsp.MarkupKind.Markdown, value="\n\n".join(parts)),
            range=to_range(occurrence.range) if occurrence is not None else None,
        )

    # ------------------------------------------------------------ symbols
    def symbols(self) -> list[lsp.DocumentSymbol]:
        """Functions, constants and modules at any depth, and the `let`s of
        the top level, nested by the scopes that hold them."""
        root = self.root_scope()
        items: list[tuple[Span, lsp.DocumentSymbol]] = []
        for v in self.variables:
            if v.tag == LOCAL_FUNCTION:
                kind = lsp.SymbolKind.Function
            elif v.tag == LOCAL_CONST:
                kind = lsp.SymbolKind.Constant
            elif v.tag == LOCAL_MODULE:
                kind = lsp.SymbolKind.Module
            elif v.tag in LET_TAGS and self.narrowest_scope(v.range) == root:
                kind = lsp.SymbolKind.Variable
            else:
                continue
            full = self._extent(v)
            symbol = lsp.DocumentSymbol(
                name=v.name,
                kind=kind,
                range=to_range(full),
                selection_range=to_range(v.range),
                detail=VARIABLE_TAGS[v.tag][0],
                children=[],
            )
            items.append((full, symbol))
        # Larger extents first, so that each symbol finds its parent placed.
        items.sort(key=lambda item: (item[0][0], item[0][1], -item[0][2], -item[0][3]))
        top: list[lsp.DocumentSymbol] = []
        children: dict[int, list[lsp.DocumentSymbol]] = {}
        # The functions and modules that hold the current position, innermost last.
        open_: list[tuple[Span, lsp.DocumentSymbol]] = []
        for full, symbol in items:
            while open_ and not (open_[-1][0] != full and encloses(open_[-1][0], full)):
                open_.pop()
            parent = open_[-1][1] if open_ else None
            (children.setdefault(id(parent), []) if parent is not None else top).append(symbol)
            if symbol.kind in (lsp.SymbolKind.Function, lsp.SymbolKind.Module):
                open_.append((full, symbol))
        for _, symbol in items:
            symbol.children = children.get(id(symbol), [])
        return top

    def _extent(self, v: Variable) -> Span:
        """The range a symbol spans: for a function declared with `fn`, the
        scope around its name; for a module or a function value, the name up
        to the end of the scope that starts after it on the same line."""
        if v.tag == LOCAL_FUNCTION:
            scope = self.narrowest_scope(v.range)
            if scope is not None and scope != self.root_scope() and scope[0] == v.range[0]:
                return scope
        if v.tag in (LOCAL_FUNCTION, LOCAL_MODULE):
            scopes = self._sorted_scopes
            at = bisect_left(scopes, v.range[2:], key=lambda s: s[:2])  # the first to start after the name
            if at < len(scopes) and scopes[at][0] == v.range[2]:
                first = scopes[at]
                return (v.range[0], v.range[1], first[2], first[3])
        return v.range

    def folding_ranges(self) -> list[lsp.FoldingRange]:
        out = []
        seen = set()
        root = self.root_scope()
        for s in self.scopes:
            if s == root or s[2] <= s[0] or (s[0], s[2]) in seen:
                continue
            seen.add((s[0], s[2]))
            out.append(lsp.FoldingRange(start_line=s[0], end_line=s[2], kind=lsp.FoldingRangeKind.Region))
        out.sort(key=lambda f: (f.start_line, f.end_line))
        return out

    # ----------------------------------------------------- semantic tokens
    def semantic_tokens(self) -> list[int]:
        """The tokens in the protocol's relative encoding: five integers per
        token (line delta, start delta, length, type, modifier bits)."""
        tokens: list[tuple[int, int, int, int, int]] = []  # line, start, length, type, modifiers

        def add(r: Span, kind: str, modifiers: Sequence[str] = ()) -> None:
            bits = 0
            for m in modifiers:
                bits |= 1 << TOKEN_MODIFIERS.index(m)
            type_index = TOKEN_TYPES.index(kind)
            if r[0] == r[2]:
                if r[3] > r[1]:
                    tokens.append((r[0], r[1], r[3] - r[1], type_index, bits))
                return
            # A token over several lines (a string) is sent line by line.
            lines = self.result.text
            for line in range(r[0], r[2] + 1):
                start = r[1] if line == r[0] else 0
                if line == r[2]:
                    end = r[3]
                else:
                    end = len(lines.line(line + 1).encode("utf-16-le")) // 2
                if end > start:
                    tokens.append((line, start, end - start, type_index, bits))

        for v in self.variables:
            _, kind, modifiers = VARIABLE_TAGS[v.tag]
            if v.tag not in WIDE_TAGS:
                add(v.range, kind, ("declaration", *modifiers))
            for use in v.uses:
                extra: tuple[str, ...] = ("modification",) if use.code in (WRITE_LOCAL, READ_WRITE_LOCAL) else ()
                if use.code == REDECLARE_LOCAL:
                    extra = ("declaration",)
                add(use.range, kind, (*modifiers, *extra))
        for ranges in self.globals.values():
            for r in ranges:
                add(r, "function" if r in self.callees else "variable", ("defaultLibrary",))
        for r in self.fields:
            add(r, "property", ("declaration",))
        for r in self.keywords:
            add(r, "keyword")
        for r in self.strings:
            add(r, "string")

        # One token per place: where records overlap (an interpolation inside
        # a string), the first to start wins, the narrower on a tie.
        tokens.sort(key=lambda t: (t[0], t[1], t[2]))
        data: list[int] = []
        last_line = last_start = 0
        end_of_last = (-1, -1)
        for line, start, length, type_index, bits in tokens:
            if (line, start) < end_of_last:
                continue
            end_of_last = (line, start + length)
            data += [line - last_line, start - last_start if line == last_line else start, length, type_index, bits]
            last_line, last_start = line, start
        return data


__all__ = ["Analysis", "TOKEN_MODIFIERS", "TOKEN_TYPES"]
