"""Quendal's compiler core.

    from quendal import compile

    result = compile("let x = 1; x + 2")
    result.chunk          # the bytecode as bytes, None when there is an error
    result.diagnostics    # list of Diagnostic, sorted by position

The typed API lives in ``quendal.diagnostics``; the native module
``quendal.core`` underneath returns the chunk and a flat list of five integers
per record (see ``core.get_diagnostic_message``).
"""

from .diagnostics import Diagnostic, Position, Related, Result, Severity, compile, decode

__all__ = ["Diagnostic", "Position", "Related", "Result", "Severity", "compile", "core", "decode"]


def __getattr__(name: str) -> object:
    # The extension is imported on first use, so the pure-Python parts of the
    # package stay importable on their own.
    if name == "core":
        import importlib

        return importlib.import_module(".core", __name__)
    raise AttributeError(f"module 'quendal' has no attribute {name!r}")
