"""Project settings: the nearest ``quendal.toml``, or ``[tool.quendal]`` in a
``pyproject.toml``, found up the directory tree from a file.

    # quendal.toml                   # pyproject.toml
    globals = ["print", "len"]       [tool.quendal]
                                     globals = ["print", "len"]

``globals`` lists the host's global names: reading any other undeclared name
draws the warning GlobalVariableNotDeclared. Without the setting every
undeclared name is a global and nothing is checked.
"""

from __future__ import annotations

import os
import tomllib
from dataclasses import dataclass
from functools import lru_cache
from typing import Any

SETTINGS_FILE = "quendal.toml"
PYPROJECT = "pyproject.toml"


class SettingsError(Exception):
    """A settings file that cannot be read or holds a wrong value; the
    message names the file."""


@dataclass(frozen=True)
class Settings:
    path: str | None  # the file they came from; None: none found
    globals: tuple[str, ...] | None = None


NO_SETTINGS = Settings(None)


def _table(path: str) -> dict[str, Any] | None:
    """The settings table of ``path``, or None for a pyproject.toml without
    a ``[tool.quendal]`` table."""
    try:
        with open(path, "rb") as f:
            data = tomllib.load(f)
    except OSError as e:
        raise SettingsError(f"{path}: cannot read: {e.strerror or e}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as e:
        raise SettingsError(f"{path}: not valid TOML: {e}") from None
    if os.path.basename(path) == PYPROJECT:
        tool = data.get("tool")
        table = tool.get("quendal") if isinstance(tool, dict) else None
        if table is None:
            return None
        if not isinstance(table, dict):
            raise SettingsError(f"{path}: [tool.quendal] must be a table")
        return table
    return data


def parse(path: str, table: dict[str, Any]) -> Settings:
    names = table.get("globals")
    if names is None:
        return Settings(path)
    if not isinstance(names, list) or not all(isinstance(n, str) for n in names):
        raise SettingsError(f"{path}: `globals` must be a list of strings")
    return Settings(path, tuple(names))


@lru_cache(maxsize=256)
def _settings_in(directory: str) -> Settings:
    for name in (SETTINGS_FILE, PYPROJECT):
        path = os.path.join(directory, name)
        if os.path.isfile(path):
            table = _table(path)
            if table is not None:
                return parse(path, table)
    parent = os.path.dirname(directory)
    if parent == directory:
        return NO_SETTINGS
    return _settings_in(parent)


def find_settings(start: str) -> Settings:
    """The settings for a file (or a directory) at ``start``: those of the
    nearest directory, from its own upward, holding a ``quendal.toml`` or a
    ``pyproject.toml`` with a ``[tool.quendal]`` table (``quendal.toml``
    first). Raises SettingsError for a file that cannot be used."""
    path = os.path.abspath(start)
    directory = path if os.path.isdir(path) else os.path.dirname(path)
    return _settings_in(directory)


def clear_cache() -> None:
    """Forget what was found (the files may have changed)."""
    _settings_in.cache_clear()
