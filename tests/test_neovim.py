"""Neovim's built-in LSP client, headless, opens a file through `quendal lsp`
and reports the diagnostics it received."""

import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
NVIM = shutil.which("nvim")

pytestmark = pytest.mark.skipif(
    NVIM is None, reason="nvim not found (scripts/install-deps installs the Debian package neovim)"
)


def test_neovim_receives_the_diagnostics(tmp_path):
    # Line 2 puts a character above U+FFFF before the error: Neovim turns
    # UTF-16 columns into byte columns, so the column it reports checks the
    # unit the server sends.
    source = tmp_path / "bad.qd"
    source.write_text("let n = 1;\nlet s = '😀'; n = 2;\n", encoding="utf-8")
    out = tmp_path / "out.json"
    env = dict(os.environ)
    env["QUENDAL_LSP_CMD"] = json.dumps([sys.executable, "-m", "quendal", "lsp"])
    env["QUENDAL_NVIM_OUT"] = str(out)
    subprocess.run(
        [NVIM, "--headless", "--clean", "-n", str(source), "-c", f"luafile {HERE / 'nvim' / 'diagnostics.lua'}"],
        cwd=tmp_path,
        env=env,
        timeout=60,
        check=True,
        stdin=subprocess.DEVNULL,
        capture_output=True,
    )
    report = json.loads(out.read_text(encoding="utf-8"))
    assert report["arrived"]
    by_message = {d["message"]: d for d in report["diagnostics"]}
    error = by_message["cannot assign to immutable variable `n`"]
    assert error["severity"] == 1  # vim.diagnostic.severity.ERROR
    # "n" of "n = 2" on line 2 (0-based 1): byte column of the n.
    line = "let s = '😀'; n = 2;"
    assert (error["lnum"], error["col"]) == (1, len(line[: line.index("n =")].encode("utf-8")))
