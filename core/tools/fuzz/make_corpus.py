#!/usr/bin/env python3
"""Builds the seed corpora of the fuzz targets from the example scripts and the
script texts found in the tests (string constants of tests/*.py, string
literals of core/tests/*.cpp).

    python3 core/tools/fuzz/make_corpus.py [--max-bytes N]

Writes core/tools/fuzz/corpus/fuzz_compile_bytes/ (configuration byte + UTF-8
source) and core/tools/fuzz/corpus/fuzz_compile_tokens/ (configuration byte +
one byte per vocabulary word, found by greedy longest-match tokenising).
Files already there (inputs merged in from fuzzing campaigns with libFuzzer's
-merge=1) are kept; --fresh starts from empty directories.
"""
import argparse
import ast
import hashlib
import re
import shutil
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
FUZZ = ROOT / "core" / "tools" / "fuzz"
CPP_STRING = re.compile(r'R"\((.*?)\)"|"((?:[^"\\\n]|\\.)*)"', re.S)
# Configuration bytes used for the seeds: defaults in all three units, tags on,
# errors off, template mode.
CONFIG_BYTES = [2, 0, 1, 3 * 16 + 2, 3 * 1 + 2, 3 * 64 + 2]


def c_unescape(text):
    try:
        return text.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1").decode("utf-8")
    except (UnicodeError, ValueError):
        return None


def vocabulary():
    header = (FUZZ / "fuzz_vocabulary.h").read_text(encoding="utf-8")
    body = header[header.index("to_array") :]
    words = []
    for match in CPP_STRING.finditer(body):
        word = c_unescape(match.group(2)) if match.group(2) is not None else match.group(1)
        if word is not None:
            words.append(word)
    return words


def test_sources():
    sources = [p.read_text(encoding="utf-8") for p in sorted((ROOT / "examples").glob("*.qd"))]
    for path in sorted((ROOT / "tests").glob("*.py")):
        try:
            tree = ast.parse(path.read_text(encoding="utf-8"))
        except SyntaxError:
            continue
        for node in ast.walk(tree):
            if isinstance(node, ast.Constant) and isinstance(node.value, str) and 2 <= len(node.value) <= 4000:
                sources.append(node.value)
    for path in sorted((ROOT / "core" / "tests").glob("*.cpp")):
        for match in CPP_STRING.finditer(path.read_text(encoding="utf-8")):
            text = match.group(1) if match.group(1) is not None else c_unescape(match.group(2))
            if text is not None and 2 <= len(text) <= 4000 and "#include" not in text:
                sources.append(text)
    unique = []
    seen = set()
    for text in sources:
        if text not in seen and "\0" not in text:
            seen.add(text)
            unique.append(text)
    return unique


def tokenize(text, words):
    """Greedy longest match over the vocabulary; characters not covered are
    dropped. Newlines become byte 255; a word directly after the previous one
    (no blank between) is preceded by the glue byte 254."""
    by_length = sorted(range(len(words)), key=lambda i: -len(words[i]))
    out = bytearray()
    i = 0
    glued = False
    while i < len(text):
        ch = text[i]
        if ch == "\n":
            out.append(255)
            i += 1
            glued = False
            continue
        if ch in " \t":
            i += 1
            glued = False
            continue
        for index in by_length:
            word = words[index]
            if word and word not in (" ",) and text.startswith(word, i):
                if glued and out:
                    out.append(254)
                out.append(index)
                i += len(word)
                glued = True
                break
        else:
            i += 1
    return bytes(out)


def write(directory, data):
    name = hashlib.sha1(data).hexdigest()
    (directory / name).write_bytes(data)
    return len(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--max-bytes", type=int, default=700_000, help="size budget of new seeds per corpus")
    parser.add_argument("--fresh", action="store_true", help="remove the existing corpus files first")
    args = parser.parse_args()
    words = vocabulary()
    assert len(words) < 254, "vocabulary must leave bytes 254 and 255 free"
    sources = test_sources()
    for target in ("fuzz_compile_bytes", "fuzz_compile_tokens"):
        directory = FUZZ / "corpus" / target
        if args.fresh:
            shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True, exist_ok=True)
        total = 0
        for n, text in enumerate(sources):
            config = CONFIG_BYTES[n % len(CONFIG_BYTES)]
            if target == "fuzz_compile_bytes":
                data = bytes([config]) + text.encode("utf-8", "replace")
            else:
                data = bytes([config]) + tokenize(text, words)
            if len(data) < 3 or len(data) > 4096:
                continue
            if total + len(data) > args.max_bytes:
                break
            total += write(directory, data)
        print(f"{target}: {len(list(directory.iterdir()))} files, {total} bytes of test seeds written")


if __name__ == "__main__":
    main()
