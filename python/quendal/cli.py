"""The ``quendal`` command (also ``python -m quendal``).

    quendal check FILE|DIR|- ...   report diagnostics (the default command)
    quendal dis FILE               bytecode listing with source positions
    quendal lsp                    the language server, on standard input and output
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable

from . import check, dis

def _lsp(argv: list[str], *, prog: str) -> int:
    from .lsp.server import main

    return main(argv, prog=prog)


COMMANDS: dict[str, tuple[str, Callable[..., int]]] = {
    "check": ("compile files and report their diagnostics (the default command)", check.main),
    "dis": ("print the bytecode listing of a file, with source positions", dis.main),
    "lsp": ("run the language server on standard input and output", _lsp),
}

USAGE = "quendal [--version] [--help] COMMAND [ARGS...] | quendal FILE|DIR|- ..."


def version() -> str:
    from importlib.metadata import PackageNotFoundError
    from importlib.metadata import version as package_version

    try:
        return package_version("quendal")
    except PackageNotFoundError:
        return "unknown"


def _top_parser() -> argparse.ArgumentParser:
    commands = "\n".join(f"  {name:<8}{text}" for name, (text, _) in COMMANDS.items())
    p = argparse.ArgumentParser(
        prog="quendal",
        usage=USAGE,
        description="Command line of the Quendal compiler.",
        epilog=f"commands:\n{commands}\n\n"
        "A first argument that is not a command is a file for `check`:\n"
        "  quendal bad.qd  is  quendal check bad.qd\n\n"
        "`quendal COMMAND --help` describes a command.\n\n" + check.EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("--version", action="version", version=f"quendal {version()}")
    return p


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    try:
        if argv and argv[0] in COMMANDS:
            _, command = COMMANDS[argv[0]]
            return command(argv[1:], prog=f"quendal {argv[0]}")
        if not argv or argv[0] in ("-h", "--help", "--version"):
            parser = _top_parser()
            if not argv:
                parser.print_usage(sys.stderr)
                sys.stderr.write("quendal: error: no command or file given (see quendal --help)\n")
                return check.EXIT_USAGE
            parser.parse_args(argv[:1])
            return check.EXIT_OK
        return check.main(argv, prog="quendal check")
    except BrokenPipeError:
        # The reader went away (quendal check ... | head): stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return check.EXIT_ERRORS
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
