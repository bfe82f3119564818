"""What the language server knows about one document, taken from one
compilation with tags on and UTF-16 columns (the protocol's unit).

Every answer comes from the compiler's records: diagnostics with their
"declared here" references, the variable tags (each followed in the record
stream by the uses of that variable), the global tags, the scopes, the
keyword references and the string tags. Nothing here reads the language.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, field

from lsprotocol import types as lsp

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


def to_lsp(position: Position) -> lsp.Position:
    return lsp.Position(line=max(position.line - 1, 0), character=max(position.column - 1, 0))


def to_range(start: Position, end: Position) -> lsp.Range:
    return lsp.Range(start=to_lsp(start), end=to_lsp(end))


def _key(position: lsp.Position) -> tuple[int, int]:
    return (position.line, position.character)


def contains(outer: lsp.Range, position: lsp.Position) -> bool:
    """``position`` lies in ``outer``, its end included (a cursor just after
    a name is on it)."""
    return _key(outer.start) <= _key(position) <= _key(outer.end)


def encloses(outer: lsp.Range, inner: lsp.Range) -> bool:
    return _key(outer.start) <= _key(inner.start) and _key(inner.end) <= _key(outer.end)


@dataclass
class Use:
    code: int
    range: lsp.Range


@dataclass
class Variable:
    """A declared name with its uses, from its tag and the tag references
    that follow it."""

    tag: int
    name: str
    range: lsp.Range  # of the declaring name (wider for the WIDE_TAGS)
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

    range: lsp.Range
    variable: Variable | None = None
    global_name: str | None = None
    use: Use | None = None


class Analysis:
    def __init__(self, text: str, *, template: bool = False, known_globals: Sequence[str] | None = None) -> None:
        self.text = text
        self.result: Result = compile(text, template=template, tags=True, unit="utf16", source_map=False,
                                      known_globals=known_globals)
        self.variables: list[Variable] = []
        self.globals: dict[str, list[lsp.Range]] = {}
        self.scopes: list[lsp.Range] = []
        self.keywords: list[lsp.Range] = []
        self.strings: list[lsp.Range] = []
        self.fields: list[lsp.Range] = []
        self.callees: set[tuple[int, int, int, int]] = set()
        self._read(self.result.annotations)

    # ------------------------------------------------------------ records
    def _slice(self, a: Annotation) -> str:
        return self.result.text.slice(a.start, a.end)

    def _read(self, annotations: list[Annotation]) -> None:
        current: Variable | None = None
        for a in annotations:
            r = to_range(a.start, a.end)
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
            elif a.code == CALLABLE and a.start.line == a.end.line:
                self.callees.add((r.start.line, r.start.character, r.end.line, r.end.character))

    # ---------------------------------------------------------- diagnostics
    def diagnostics(self, uri: str) -> list[lsp.Diagnostic]:
        out = []
        for d in self.result.diagnostics:
            out.append(
                lsp.Diagnostic(
                    range=to_range(d.start, d.end),
                    severity=SEVERITIES[d.severity],
                    code=d.name,
                    source="quendal",
                    message=d.message,
                    tags=[lsp.DiagnosticTag.Unnecessary] if d.code in UNUSED_HINTS else None,
                    related_information=[
                        lsp.DiagnosticRelatedInformation(
                            location=lsp.Location(uri=uri, range=to_range(rel.start, rel.end)),
                            message=rel.message,
                        )
                        for rel in d.related
                    ]
                    or None,
                )
            )
        return out

    def diagnostics_at(self, position: lsp.Position) -> list[Diagnostic]:
        return [d for d in self.result.diagnostics if contains(to_range(d.start, d.end), position)]

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

    def locations(self, occurrence: Occurrence, *, declaration: bool = True) -> list[tuple[lsp.Range, int]]:
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
        """A use inside a function that does not contain the declaration."""
        return any(
            encloses(s, use.range) and not encloses(s, variable.range) for s in self.function_scopes()
        )

    def function_scopes(self) -> list[lsp.Range]:
        """Scopes that are function bodies: the narrowest scope around a
        parameter, or around the name of a function declared with `fn`
        (whose scope covers the whole declaration)."""
        out = []
        for v in self.variables:
            if v.tag in PARAMETER_TAGS or v.tag == LOCAL_FUNCTION:
                scope = self.narrowest_scope(v.range)
                if scope is not None and (v.tag in PARAMETER_TAGS or scope.start.line == v.range.start.line):
                    if scope not in out and scope != self.root_scope():
                        out.append(scope)
        return out

    def root_scope(self) -> lsp.Range | None:
        return self.scopes[0] if self.scopes and self.scopes[0].start == lsp.Position(line=0, character=0) else None

    def narrowest_scope(self, r: lsp.Range) -> lsp.Range | None:
        best: lsp.Range | None = None
        for s in self.scopes:
            if encloses(s, r) and (best is None or encloses(best, s)):
                best = s
        return best

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
            line = v.range.start.line + 1
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
            range=occurrence.range if occurrence is not None else None,
        )

    # ------------------------------------------------------------ symbols
    def symbols(self) -> list[lsp.DocumentSymbol]:
        """Functions, constants and modules at any depth, and the `let`s of
        the top level, nested by the scopes that hold them."""
        root = self.root_scope()
        items: list[tuple[lsp.Range, lsp.DocumentSymbol]] = []
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
                name=v.name, kind=kind, range=full, selection_range=v.range, detail=VARIABLE_TAGS[v.tag][0], children=[]
            )
            items.append((full, symbol))
        # Larger extents first, so that each symbol finds its parent placed.
        items.sort(key=lambda item: (_key(item[0].start), tuple(-x for x in _key(item[0].end))))
        top: list[lsp.DocumentSymbol] = []
        placed: list[tuple[lsp.Range, lsp.DocumentSymbol]] = []
        for full, symbol in items:
            parent = None
            for outer, candidate in placed:
                if candidate.kind in (lsp.SymbolKind.Function, lsp.SymbolKind.Module) and outer != full and encloses(
                    outer, full
                ):
                    parent = candidate
            (parent.children if parent is not None and parent.children is not None else top).append(symbol)
            placed.append((full, symbol))
        return top

    def _extent(self, v: Variable) -> lsp.Range:
        """The range a symbol spans: for a function declared with `fn`, the
        scope around its name; for a module or a function value, the name up
        to the end of the scope that starts after it on the same line."""
        if v.tag == LOCAL_FUNCTION:
            scope = self.narrowest_scope(v.range)
            if scope is not None and scope != self.root_scope() and scope.start.line == v.range.start.line:
                return scope
        if v.tag in (LOCAL_FUNCTION, LOCAL_MODULE):
            after = [s for s in self.scopes if _key(s.start) >= _key(v.range.end) and s.start.line == v.range.end.line]
            if after:
                first = min(after, key=lambda s: _key(s.start))
                return lsp.Range(start=v.range.start, end=first.end)
        return v.range

    def folding_ranges(self) -> list[lsp.FoldingRange]:
        out = []
        seen = set()
        root = self.root_scope()
        for s in self.scopes:
            if s == root or s.end.line <= s.start.line or (s.start.line, s.end.line) in seen:
                continue
            seen.add((s.start.line, s.end.line))
            out.append(lsp.FoldingRange(start_line=s.start.line, end_line=s.end.line, kind=lsp.FoldingRangeKind.Region))
        out.sort(key=lambda f: (f.start_line, f.end_line))
        return out

    # ----------------------------------------------------- semantic tokens
    def semantic_tokens(self) -> list[int]:
        """The tokens in the protocol's relative encoding: five integers per
        token (line delta, start delta, length, type, modifier bits)."""
        tokens: list[tuple[int, int, int, int, int]] = []  # line, start, length, type, modifiers

        def add(r: lsp.Range, kind: str, modifiers: Sequence[str] = ()) -> None:
            bits = 0
            for m in modifiers:
                bits |= 1 << TOKEN_MODIFIERS.index(m)
            type_index = TOKEN_TYPES.index(kind)
            if r.start.line == r.end.line:
                if r.end.character > r.start.character:
                    tokens.append((r.start.line, r.start.character, r.end.character - r.start.character, type_index, bits))
                return
            # A token over several lines (a string) is sent line by line.
            lines = self.result.text
            for line in range(r.start.line, r.end.line + 1):
                start = r.start.character if line == r.start.line else 0
                if line == r.end.line:
                    end = r.end.character
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
                key = (r.start.line, r.start.character, r.end.line, r.end.character)
                add(r, "function" if key in self.callees else "variable", ("defaultLibrary",))
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
