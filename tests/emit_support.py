"""Shared helpers of the emitter tests: compile a source, list its code and
name its diagnostics with their byte offsets."""

from quendal import bytecode, core

SOURCE_MAP = 12000


def compile_source(source, **config):
    return core.compile(source, core.Config(**config))


def records(source, **config):
    """(name, start, end) of every record, source maps included. The sources
    of these tests are single ASCII lines, so columns are offsets + 1."""
    _, encoded = compile_source(source, **config)
    out = []
    for k in range(0, len(encoded), 5):
        line, col, end_line, end_col, code = encoded[k : k + 5]
        assert line == end_line == 1, source
        out.append((core.get_diagnostic_message(code)[1], col - 1, end_col - 1))
    return out


def diagnostics(source, **config):
    """Every record except source maps."""
    return [r for r in records(source, **config) if r[0] != "SourceMap"]


def decoded(source, **config):
    data, encoded = compile_source(source, **config)
    assert data is not None, diagnostics(source, **config)
    return bytecode.decode(data)


def listing(source, **config):
    chunk = decoded(source, **config)
    return [bytecode.format_instruction(i, chunk.constants) for i in chunk.instructions]


def body(source, **config):
    """The listing without the script's own Func header and FuncEnd."""
    lines = listing(source, **config)
    assert lines[0].startswith("Func r0, 0, ") and lines[-1] == "FuncEnd"
    return lines[1:-1]


def span(source, text, occurrence=1):
    at = -1
    for _ in range(occurrence):
        at = source.index(text, at + 1)
    return at, at + len(text)
