# Types of the native extension module quendal._engine.
from collections.abc import Iterable
from typing import Literal

class InternalFailure(BaseException): ...

def compile(
    source: str,
    *,
    input_mode: Literal["script", "template"] = "script",
    report_errors: bool = True,
    report_warnings: bool = True,
    report_infos: bool = True,
    report_hints: bool = True,
    report_references: bool = True,
    report_tags: bool = False,
    report_source_map: bool = True,
    position_unit: Literal["codepoints", "utf16", "bytes"] = "codepoints",
    known_globals: Iterable[str] | None = None,
) -> tuple[bytes | None, list[int]]: ...
