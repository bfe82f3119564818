"""`quendal lsp` end to end: a pytest-lsp client starts the server as a
subprocess and checks every feature on small documents."""

import sys
from pathlib import Path

import pytest
import pytest_lsp
from lsprotocol import types as lsp
from pytest_lsp import ClientServerConfig, LanguageClient

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = sorted((ROOT / "examples").glob("*.qd*"))
TOKEN_TYPES = ["variable", "parameter", "function", "namespace", "property", "string", "keyword"]
TOKEN_MODIFIERS = ["declaration", "readonly", "modification", "defaultLibrary"]


@pytest_lsp.fixture(config=ClientServerConfig(server_command=[sys.executable, "-m", "quendal", "lsp"]))
async def client(lsp_client: LanguageClient):
    await lsp_client.initialize_session(lsp.InitializeParams(capabilities=lsp.ClientCapabilities()))
    yield
    await lsp_client.shutdown_session()


def u16(text: str) -> int:
    return len(text.encode("utf-16-le")) // 2


def at(text: str, needle: str, nth: int = 0, offset: int = 0) -> lsp.Position:
    """The UTF-16 position of the nth occurrence of needle (plus offset characters)."""
    index = -1
    for _ in range(nth + 1):
        index = text.index(needle, index + 1)
    index += offset
    line = text.count("\n", 0, index)
    start = text.rfind("\n", 0, index) + 1
    return lsp.Position(line=line, character=u16(text[start:index]))


def span(text, needle, nth=0):
    start = at(text, needle, nth)
    return lsp.Range(start=start, end=lsp.Position(line=start.line, character=start.character + u16(needle)))


counter = iter(range(1, 10**6))


async def open_doc(client, text, name=None, uri=None):
    uri = uri or f"file:///tmp/quendal-lsp-test/{name or f'doc{next(counter)}.qd'}"
    client.text_document_did_open(
        lsp.DidOpenTextDocumentParams(
            text_document=lsp.TextDocumentItem(uri=uri, language_id="quendal", version=1, text=text)
        )
    )
    await client.wait_for_notification(lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
    return uri


async def change(client, uri, version, text):
    client.text_document_did_change(
        lsp.DidChangeTextDocumentParams(
            text_document=lsp.VersionedTextDocumentIdentifier(uri=uri, version=version),
            content_changes=[lsp.TextDocumentContentChangeWholeDocument(text=text)],
        )
    )
    await client.wait_for_notification(lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)


def named(client, uri):
    return {d.code: d for d in client.diagnostics[uri]}


async def test_diagnostics_follow_edits(client: LanguageClient):
    text = "let n = 1;\nn = 2;\n"
    uri = await open_doc(client, text)
    error = named(client, uri)["ImmutableVariableAssignment"]
    assert error.severity == lsp.DiagnosticSeverity.Error
    assert error.message == "cannot assign to immutable variable `n`"
    assert error.range == span(text, "n", 1)
    (related,) = list(error.related_information)
    assert related.location.uri == uri and related.location.range == span(text, "n")
    assert related.message == "variable declared here"

    fixed = "let mut n = 1;\nn = 2;\n"
    await change(client, uri, 2, fixed)
    assert set(named(client, uri)) == {"UnusedLocalVariable"}
    hint = named(client, uri)["UnusedLocalVariable"]
    assert hint.severity == lsp.DiagnosticSeverity.Hint and list(hint.tags) == [lsp.DiagnosticTag.Unnecessary]

    broken = "let mut n = 1\nn = 2;\n"
    await change(client, uri, 3, broken)
    assert named(client, uri)["MissingSemicolon"].severity == lsp.DiagnosticSeverity.Error

    await change(client, uri, 4, "1 + 'a'")
    assert named(client, uri)["NonNumberInArithmetic"].severity == lsp.DiagnosticSeverity.Warning


@pytest.mark.parametrize(
    ("name", "errors"),
    [("page.qdt", False), ("page.qd", True)],
)
async def test_template_mode_by_extension(client: LanguageClient, name, errors):
    uri = await open_doc(client, "Hello $(name)!\n", name=name)
    has_errors = any(d.severity == lsp.DiagnosticSeverity.Error for d in client.diagnostics[uri])
    assert has_errors == errors


async def test_positions_count_utf16_units(client: LanguageClient):
    # 😀 is two UTF-16 units and one code point; é is one of each.
    text = "let s = '😀é'; let q = 1; s\n"
    uri = await open_doc(client, text)
    hint = named(client, uri)["UnusedLocalVariable"]
    assert hint.range == span(text, "q")
    assert hint.range.start.character == len("let s = '😀é'; let ") + 1


async def test_known_globals_from_settings(client: LanguageClient, tmp_path):
    (tmp_path / "pyproject.toml").write_text('[tool.quendal]\nglobals = ["print"]\n', encoding="utf-8")
    (tmp_path / "sub").mkdir()
    text = "print(lenght([1]))"
    uri = await open_doc(client, text, uri=(tmp_path / "sub" / "a.qd").as_uri())
    warning = named(client, uri)["GlobalVariableNotDeclared"]
    assert warning.severity == lsp.DiagnosticSeverity.Warning
    assert warning.range == span(text, "lenght") and "`lenght`" in warning.message
    # Outside any settings, no check.
    other = await open_doc(client, text)
    assert "GlobalVariableNotDeclared" not in named(client, other)


def decode_tokens(data):
    out = {}
    line = start = 0
    for i in range(0, len(data), 5):
        dl, ds, length, kind, bits = data[i : i + 5]
        line += dl
        start = start + ds if dl == 0 else ds
        mods = {m for b, m in enumerate(TOKEN_MODIFIERS) if bits & (1 << b)}
        out[(line, start)] = (length, TOKEN_TYPES[kind], mods)
    return out


async def test_semantic_tokens(client: LanguageClient):
    text = (
        "fn add(a, mut b) { b += 1; a + b }\n"
        "const @K = 'x';\n"
        "let s = '😀'; for x in [1] { print(add(x, s)) }\n"
        "let r = (name: 1);\n"
        "r.name"
    )
    uri = await open_doc(client, text)
    result = await client.text_document_semantic_tokens_full_async(
        lsp.SemanticTokensParams(text_document=lsp.TextDocumentIdentifier(uri=uri))
    )
    tokens = decode_tokens(result.data)

    def token(needle, nth=0):
        p = at(text, needle, nth)
        return tokens[(p.line, p.character)]

    assert token("add") == (3, "function", {"declaration", "readonly"})
    assert token("a,") == (1, "parameter", {"declaration", "readonly"})
    assert token("b)") == (1, "parameter", {"declaration"})
    assert token("b +=") == (1, "parameter", {"modification"})
    assert token("@K") == (2, "variable", {"declaration", "readonly"})
    assert token("'x'") == (3, "string", set())
    assert token("for") == (3, "keyword", set())
    assert token("in ") == (2, "keyword", set())
    assert token("print") == (5, "function", {"defaultLibrary"})
    assert token("add", 1) == (3, "function", {"readonly"})
    assert token("s))") == (1, "variable", {"readonly"})  # after the astral character
    assert token("name") == (4, "property", {"declaration"})
    # Tokens never overlap and stay on their line.
    ends = sorted((line, start, start + length) for (line, start), (length, _, _) in tokens.items())
    for (l1, _, e1), (l2, s2, _) in zip(ends, ends[1:]):
        assert l1 < l2 or e1 <= s2


NAVIGATION = (
    "let mut total = 0;\n"
    "fn bump(step) { total += step; total }\n"
    "bump(2);\n"
    "total = total + 1;\n"
    "print(total)\n"
)


async def test_definition_references_and_highlight(client: LanguageClient):
    text = NAVIGATION
    uri = await open_doc(client, text)
    doc = lsp.TextDocumentIdentifier(uri=uri)
    use = at(text, "total", 4, offset=2)  # inside "total + 1"
    found = await client.text_document_definition_async(lsp.DefinitionParams(text_document=doc, position=use))
    assert found == lsp.Location(uri=uri, range=span(text, "total"))

    refs = await client.text_document_references_async(
        lsp.ReferenceParams(text_document=doc, position=use, context=lsp.ReferenceContext(include_declaration=True))
    )
    assert sorted((r.range.start.line, r.range.start.character) for r in refs) == sorted(
        (p.line, p.character) for p in (at(text, "total", i) for i in range(6))
    )
    without = await client.text_document_references_async(
        lsp.ReferenceParams(text_document=doc, position=use, context=lsp.ReferenceContext(include_declaration=False))
    )
    assert len(without) == 5

    highlights = await client.text_document_document_highlight_async(
        lsp.DocumentHighlightParams(text_document=doc, position=use)
    )
    kinds = {(h.range.start.line, h.range.start.character): h.kind for h in highlights}
    write, read = lsp.DocumentHighlightKind.Write, lsp.DocumentHighlightKind.Read
    expected = {0: write, 1: write, 2: read, 3: write, 4: read, 5: read}  # nth "total" -> kind
    assert kinds == {(at(text, "total", i).line, at(text, "total", i).character): k for i, k in expected.items()}

    # A global: every use of the name, no definition.
    g = at(text, "print")
    assert await client.text_document_definition_async(lsp.DefinitionParams(text_document=doc, position=g)) is None
    refs = await client.text_document_references_async(
        lsp.ReferenceParams(text_document=doc, position=g, context=lsp.ReferenceContext(include_declaration=True))
    )
    assert [r.range for r in refs] == [span(text, "print")]


async def test_symbols_and_folding(client: LanguageClient):
    text = (
        "mod geometry {\n"
        "  pub const @PI = 3.14;\n"
        "  pub fn area(r) {\n"
        "    let inner = r * r;\n"
        "    @PI * inner\n"
        "  }\n"
        "}\n"
        "let top = geometry.area(2);\n"
        "let twice = fn(x) { x * 2 };\n"
        "top + twice(1)\n"
    )
    uri = await open_doc(client, text)
    doc = lsp.TextDocumentIdentifier(uri=uri)
    symbols = await client.text_document_document_symbol_async(lsp.DocumentSymbolParams(text_document=doc))

    def shape(items):
        return sorted((s.name, s.kind, shape(s.children or [])) for s in items)

    K = lsp.SymbolKind
    assert shape(symbols) == sorted(
        [
            ("geometry", K.Module, sorted([("@PI", K.Constant, []), ("area", K.Function, [])])),
            ("top", K.Variable, []),
            ("twice", K.Function, []),
        ]
    )
    module = next(s for s in symbols if s.name == "geometry")
    assert module.selection_range == span(text, "geometry")
    assert (module.range.start.line, module.range.end.line) == (0, 6)

    folds = await client.text_document_folding_range_async(lsp.FoldingRangeParams(text_document=doc))
    assert sorted((f.start_line, f.end_line) for f in folds) == [(0, 6), (2, 5)]


@pytest.mark.parametrize(
    ("needle", "nth", "expected"),
    [
        ("total", 0, "`total`: mutable local variable, declared on line 1"),
        ("step", 0, "`step`: immutable parameter, declared on line 2"),
        ("total", 1, "`total`: upvalue (mutable local variable of an enclosing function), declared on line 1"),
        ("bump", 1, "`bump`: function, declared on line 2"),
        ("print", 0, "`print`: global (provided by the host)"),
    ],
)
async def test_hover_names_the_kind(client: LanguageClient, needle, nth, expected):
    text = NAVIGATION
    uri = await open_doc(client, text)
    hover = await client.text_document_hover_async(
        lsp.HoverParams(text_document=lsp.TextDocumentIdentifier(uri=uri), position=at(text, needle, nth))
    )
    assert hover.contents.value == expected
    assert hover.range == span(text, needle, nth)


async def test_hover_shows_constants_and_diagnostics(client: LanguageClient):
    text = "const @K = 1;\nlet n = @K;\nn = 2;\nlet it2 = fn { it };\nit2(1)\n"
    uri = await open_doc(client, text)
    doc = lsp.TextDocumentIdentifier(uri=uri)

    async def hover(position):
        found = await client.text_document_hover_async(lsp.HoverParams(text_document=doc, position=position))
        return found.contents.value if found else None

    assert await hover(at(text, "@K", 1)) == "`@K`: constant, declared on line 1"
    on_assignment = await hover(at(text, "n = 2"))
    assert on_assignment.startswith("`n`: immutable local variable, declared on line 2")
    assert "error[ImmutableVariableAssignment]: cannot assign to immutable variable `n`" in on_assignment
    assert (await hover(at(text, "it }"))).startswith("`it`: implicit parameter")
    assert await hover(lsp.Position(line=0, character=11)) is None  # on the number


async def test_bad_documents_never_stop_the_server(client: LanguageClient):
    for text in ["(" * 5000, "\x00\ufffd'unterminated", "let = ; ) ] } fn (", "}" * 3 + "\r\n\r" * 3, ""]:
        uri = await open_doc(client, text)
        doc = lsp.TextDocumentIdentifier(uri=uri)
        await client.text_document_semantic_tokens_full_async(lsp.SemanticTokensParams(text_document=doc))
        await client.text_document_document_symbol_async(lsp.DocumentSymbolParams(text_document=doc))
        await client.text_document_hover_async(lsp.HoverParams(text_document=doc, position=lsp.Position(line=0, character=1)))
    deep = named(client, (await open_doc(client, "(" * 5000)))
    assert "ParserError" in deep


async def test_examples_answer_every_request(client: LanguageClient):
    for path in EXAMPLES:
        text = path.read_text(encoding="utf-8")
        uri = await open_doc(client, text, uri=path.as_uri())
        assert not [d for d in client.diagnostics[uri] if d.severity == lsp.DiagnosticSeverity.Error], path.name
        doc = lsp.TextDocumentIdentifier(uri=uri)
        tokens = await client.text_document_semantic_tokens_full_async(lsp.SemanticTokensParams(text_document=doc))
        assert tokens.data, path.name
        symbols = await client.text_document_document_symbol_async(lsp.DocumentSymbolParams(text_document=doc))
        folds = await client.text_document_folding_range_async(lsp.FoldingRangeParams(text_document=doc))
        assert symbols or folds or path.suffix == ".qdt", path.name
        # Every declared name leads back to itself.
        for symbol in symbols:
            found = await client.text_document_definition_async(
                lsp.DefinitionParams(text_document=doc, position=symbol.selection_range.start)
            )
            assert found.range == symbol.selection_range, (path.name, symbol.name)


# A carriage return that no line feed follows ends a line for the protocol,
# not for the compiler: positions after one move to the protocol's lines.
@pytest.mark.parametrize(
    "text, compiler, protocol",
    [
        ("a\nb", (2, 1), (1, 0)),
        ("ab\rcd\r\nef", (1, 4), (1, 0)),
        ("ab\rcd\r\nef", (1, 6), (1, 2)),
        ("ab\rcd\r\nef", (2, 2), (2, 1)),
        ("x\r\ny", (2, 1), (1, 0)),
        ("\U0001F600\rz", (1, 4), (1, 0)),
        ("ef\r", (1, 4), (1, 0)),
    ],
)
def test_line_map_follows_the_protocols_line_ends(text, compiler, protocol):
    from quendal.diagnostics import Position
    from quendal.lsp.analysis import LineMap

    span = LineMap(text).span(Position(*compiler), Position(*compiler))
    assert span[:2] == protocol


async def test_diagnostics_after_a_lone_carriage_return(client: LanguageClient):
    text = "let a = 1;\rlet b = ;\n"
    uri = "file:///tmp/cr.qd"
    client.text_document_did_open(lsp.DidOpenTextDocumentParams(lsp.TextDocumentItem(uri, "quendal", 1, text)))
    await client.wait_for_notification(lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
    starts = {(d.range.start.line, d.range.start.character) for d in client.diagnostics[uri]}
    # The missing expression after `=` is on the protocol's second line, at
    # the end of `=` (the compiler's line 1, column 19).
    assert (1, 7) in starts
    assert all(line <= 1 for line, _ in starts)


# Upvalues come from the bytecode: a function literal without parameters
# reads an outer name through an upvalue as much as one with parameters.
@pytest.mark.parametrize(
    ("text", "needle", "nth", "kind"),
    [
        ("let x = 1;\nlet f = fn() { x };\nf()\n", "x", 1, "upvalue"),
        ("let mut x = 1;\nlet f = fn() { x = 2; };\nf()\n", "x", 1, "upvalue"),
        ("let x = 1;\nlet f = fn(a) { a + x };\nf(x)\n", "x", 2, "local"),
        ("let x = 1;\n{ let y = x; y }\n", "x", 1, "local"),
    ],
)
async def test_hover_upvalues_come_from_the_bytecode(client: LanguageClient, text, needle, nth, kind):
    uri = await open_doc(client, text)
    hover = await client.text_document_hover_async(
        lsp.HoverParams(text_document=lsp.TextDocumentIdentifier(uri=uri), position=at(text, needle, nth))
    )
    assert hover is not None
    assert hover.contents.value.split(": ", 1)[1].startswith("upvalue") == (kind == "upvalue")
