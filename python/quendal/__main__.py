"""``python -m quendal``: the same as the ``quendal`` command."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
