"""Quendal's compiler core.

The native module ``quendal.core`` compiles scripts and templates::

    from quendal import core

    chunk, diagnostics = core.compile("let x = 1; x + 2", core.Config())

``chunk`` is the bytecode as ``bytes`` (``None`` when the source has errors);
``diagnostics`` is a flat list of five integers per record: start line, start
column, end line, end column and code (see ``core.get_diagnostic_message``).
"""

__all__ = ["core"]


def __getattr__(name: str):
    # The extension is imported on first use, so pure-Python helpers of the
    # package stay importable on their own.
    if name == "core":
        import importlib

        return importlib.import_module(".core", __name__)
    raise AttributeError(f"module 'quendal' has no attribute {name!r}")
