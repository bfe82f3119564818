"""``python -m quendal [COMMAND] ...``

Commands:
    FILE [--template]       compile FILE and print its diagnostics (default)
    dis FILE [...]          print the bytecode listing of FILE
"""

from __future__ import annotations

import importlib
import sys

# Subcommand name -> module with a ``main(argv) -> int``. Anything else is
# handed to the default command (``quendal.check``).
COMMANDS = {
    "check": "quendal.check",
    "dis": "quendal.dis",
}


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv and argv[0] in COMMANDS:
        command, argv = COMMANDS[argv[0]], argv[1:]
    else:
        command = COMMANDS["check"]
    return importlib.import_module(command).main(argv)


if __name__ == "__main__":
    sys.exit(main())
