"""``quendal lsp``: the language server, over standard input and output.

Each open document is compiled on open and on every change (full text
sync) with tags on and UTF-16 columns; every request is answered from that
compilation's records (see ``analysis``). A document that cannot be compiled
never stops the server: the failure is logged and the document shows no
results until its next change.
"""

from __future__ import annotations

import argparse
import logging
import sys
from urllib.parse import unquote, urlparse

from lsprotocol import types as lsp
from pygls.lsp.server import LanguageServer

from ..settings import SettingsError, clear_cache, find_settings
from .analysis import TOKEN_MODIFIERS, TOKEN_TYPES, Analysis, to_range

TEMPLATE_SUFFIX = ".qdt"
log = logging.getLogger("quendal.lsp")


class QuendalServer(LanguageServer):
    def __init__(self) -> None:
        from ..cli import version

        super().__init__("quendal", version(), text_document_sync_kind=lsp.TextDocumentSyncKind.Full)
        self.analyses: dict[str, Analysis] = {}

    def analyse(self, uri: str) -> Analysis | None:
        """Compiles the document at ``uri`` as it stands and publishes its
        diagnostics."""
        document = self.workspace.get_text_document(uri)
        path = _path(uri)
        template = (path or uri).endswith(TEMPLATE_SUFFIX) or document.language_id == "quendal-template"
        known_globals = None
        if path is not None:
            try:
                known_globals = find_settings(path).globals
            except SettingsError as e:
                self.window_show_message(lsp.ShowMessageParams(type=lsp.MessageType.Warning, message=str(e)))
        try:
            analysis = Analysis(document.source, template=template, known_globals=known_globals)
        except Exception as e:  # never expected; the server must outlive it
            log.exception("compiling %s failed", uri)
            self.window_log_message(lsp.LogMessageParams(type=lsp.MessageType.Error, message=f"{uri}: {e!r}"))
            self.analyses.pop(uri, None)
            return None
        self.analyses[uri] = analysis
        self.text_document_publish_diagnostics(
            lsp.PublishDiagnosticsParams(uri=uri, version=document.version, diagnostics=analysis.diagnostics(uri))
        )
        return analysis

    def analysis(self, uri: str) -> Analysis | None:
        found = self.analyses.get(uri)
        return found if found is not None else self.analyse(uri)


def _path(uri: str) -> str | None:
    parsed = urlparse(uri)
    return unquote(parsed.path) if parsed.scheme == "file" else None


server = QuendalServer()


@server.feature(lsp.TEXT_DOCUMENT_DID_OPEN)
def did_open(ls: QuendalServer, params: lsp.DidOpenTextDocumentParams) -> None:
    ls.analyse(params.text_document.uri)


@server.feature(lsp.TEXT_DOCUMENT_DID_CHANGE)
def did_change(ls: QuendalServer, params: lsp.DidChangeTextDocumentParams) -> None:
    ls.analyse(params.text_document.uri)


@server.feature(lsp.TEXT_DOCUMENT_DID_SAVE)
def did_save(ls: QuendalServer, params: lsp.DidSaveTextDocumentParams) -> None:
    # A saved settings file changes the globals of every open document.
    if params.text_document.uri.endswith(("quendal.toml", "pyproject.toml")):
        clear_cache()
        for uri in list(ls.analyses):
            ls.analyse(uri)


@server.feature(lsp.TEXT_DOCUMENT_DID_CLOSE)
def did_close(ls: QuendalServer, params: lsp.DidCloseTextDocumentParams) -> None:
    ls.analyses.pop(params.text_document.uri, None)
    ls.text_document_publish_diagnostics(lsp.PublishDiagnosticsParams(uri=params.text_document.uri, diagnostics=[]))


@server.feature(
    lsp.TEXT_DOCUMENT_SEMANTIC_TOKENS_FULL,
    lsp.SemanticTokensLegend(token_types=TOKEN_TYPES, token_modifiers=TOKEN_MODIFIERS),
)
def semantic_tokens(ls: QuendalServer, params: lsp.SemanticTokensParams) -> lsp.SemanticTokens:
    analysis = ls.analysis(params.text_document.uri)
    return lsp.SemanticTokens(data=analysis.semantic_tokens() if analysis else [])


@server.feature(lsp.TEXT_DOCUMENT_DEFINITION)
def definition(ls: QuendalServer, params: lsp.DefinitionParams) -> lsp.Location | None:
    analysis = ls.analysis(params.text_document.uri)
    occurrence = analysis.occurrence_at(params.position) if analysis else None
    if occurrence is None or occurrence.variable is None:
        return None  # globals are defined by the host
    return lsp.Location(uri=params.text_document.uri, range=to_range(occurrence.variable.range))


@server.feature(lsp.TEXT_DOCUMENT_REFERENCES)
def references(ls: QuendalServer, params: lsp.ReferenceParams) -> list[lsp.Location]:
    analysis = ls.analysis(params.text_document.uri)
    occurrence = analysis.occurrence_at(params.position) if analysis else None
    if analysis is None or occurrence is None:
        return []
    found = analysis.locations(occurrence, declaration=params.context.include_declaration)
    return [lsp.Location(uri=params.text_document.uri, range=to_range(r)) for r, _ in found]


_WRITES = {11002, 11003}  # ReadWriteLocal, WriteLocal


@server.feature(lsp.TEXT_DOCUMENT_DOCUMENT_HIGHLIGHT)
def highlight(ls: QuendalServer, params: lsp.DocumentHighlightParams) -> list[lsp.DocumentHighlight]:
    analysis = ls.analysis(params.text_document.uri)
    occurrence = analysis.occurrence_at(params.position) if analysis else None
    if analysis is None or occurrence is None:
        return []
    out = []
    for r, code in analysis.locations(occurrence):
        if code in _WRITES or (occurrence.variable is not None and code == occurrence.variable.tag):
            kind = lsp.DocumentHighlightKind.Write
        else:
            kind = lsp.DocumentHighlightKind.Read
        out.append(lsp.DocumentHighlight(range=to_range(r), kind=kind))
    return out


@server.feature(lsp.TEXT_DOCUMENT_DOCUMENT_SYMBOL)
def document_symbols(ls: QuendalServer, params: lsp.DocumentSymbolParams) -> list[lsp.DocumentSymbol]:
    analysis = ls.analysis(params.text_document.uri)
    return analysis.symbols() if analysis else []


@server.feature(lsp.TEXT_DOCUMENT_FOLDING_RANGE)
def folding_ranges(ls: QuendalServer, params: lsp.FoldingRangeParams) -> list[lsp.FoldingRange]:
    analysis = ls.analysis(params.text_document.uri)
    return analysis.folding_ranges() if analysis else []


@server.feature(lsp.TEXT_DOCUMENT_HOVER)
def hover(ls: QuendalServer, params: lsp.HoverParams) -> lsp.Hover | None:
    analysis = ls.analysis(params.text_document.uri)
    return analysis.hover(params.position) if analysis else None


def main(argv: list[str] | None = None, *, prog: str = "quendal lsp") -> int:
    p = argparse.ArgumentParser(
        prog=prog,
        description="Run the Quendal language server on standard input and output (for an editor to start).",
    )
    p.add_argument("--stdio", action="store_true", help="accepted for clients that pass it; stdio is the only mode")
    p.add_argument("--log-file", metavar="PATH", help="write the server's log to PATH")
    args = p.parse_args(argv)
    if args.log_file:
        logging.basicConfig(filename=args.log_file, level=logging.INFO)
    server.start_io(sys.stdin.buffer, sys.stdout.buffer)
    return 0
