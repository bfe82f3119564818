#!/usr/bin/env python3
"""Atheris harness over the Python surface of quendal.core.

    python core/tools/fuzz/atheris_module.py [libFuzzer flags] [corpus dir]

Each input drives one call: compile() with a random str (lone surrogates
included) or a wrong-typed script, a Config built from random keywords, or a
wrong-typed config; or get_diagnostic_message() with a random integer (any
size), bool, float, str or None. Only the exceptions the module documents may
escape, with their documented message and argument note:
  compile:  TypeError (non-str script / non-Config config) and
            UnicodeEncodeError (unencodable script), noted
            "while processing 'script'" / "while processing 'config'";
  Config:   ValueError "Invalid input_mode, expected 'script' or 'template'";
  get_diagnostic_message: TypeError (non-integer), OverflowError (outside
            0..65535), ValueError "No diagnostic message found for code N",
            each noted "while processing 'code'".
Anything else, a result of the wrong shape, a chunk that does not decode or a
chunk present together with an error code, is a fault.
"""
import sys

import atheris

with atheris.instrument_imports():
    from quendal import bytecode, core

INPUT_MODE_ERROR = "Invalid input_mode, expected 'script' or 'template'"
ERROR_RANGE = range(1001, 1999)


class Fault(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Fault(message)


def has_note(error, argument):
    return f"while processing '{argument}'" in getattr(error, "__notes__", ())


def random_value(fdp):
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind == 0:
        return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 12))
    if kind == 1:
        return fdp.PickValueInList(["script", "template", "Script", "TEMPLATE", "", "script\0"])
    if kind == 2:
        return fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 12))
    if kind == 3:
        return fdp.ConsumeBool()
    if kind == 4:
        return fdp.ConsumeFloat()
    if kind == 5:
        return None
    if kind == 6:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 8))
    if kind == 7:
        return [fdp.ConsumeInt(2)]
    if kind == 8:
        return core.Config()
    return object()


def make_config(fdp):
    """Config(**kw) with random keywords; returns the object or None when the
    documented ValueError was raised."""
    kwargs = {}
    for _ in range(fdp.ConsumeIntInRange(0, 3)):
        name = fdp.PickValueInList(["input_mode", "input_mode", "report_errors", "mode", ""]) if fdp.ConsumeBool() \
            else fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 8))
        kwargs[name] = random_value(fdp)
    valid = "input_mode" not in kwargs or (type(kwargs["input_mode"]) is str and kwargs["input_mode"] in ("script", "template"))
    try:
        config = core.Config(**kwargs)
    except ValueError as error:
        expect(not valid, f"Config({kwargs!r}) raised ValueError")
        expect(str(error) == INPUT_MODE_ERROR, f"Config ValueError text {str(error)!r}")
        return None
    expect(valid or isinstance(kwargs.get("input_mode"), str) and kwargs["input_mode"] in ("script", "template"),
           f"Config({kwargs!r}) accepted an invalid input_mode")
    expect(type(config) is core.Config, "Config() returned another type")
    return config


def check_compile(fdp):
    config = make_config(fdp)
    if config is None:
        return
    if fdp.ConsumeIntInRange(0, 15) == 0:
        script = random_value(fdp)
    else:
        script = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 2048))
    if fdp.ConsumeIntInRange(0, 15) == 0:
        config = random_value(fdp)
    script_ok = isinstance(script, str)
    encodable = True
    if script_ok:
        try:
            script.encode("utf-8")
        except UnicodeEncodeError:
            encodable = False
    config_ok = isinstance(config, core.Config)
    try:
        result = core.compile(script, config)
    except UnicodeEncodeError as error:
        expect(script_ok and not encodable, "unexpected UnicodeEncodeError")
        expect(has_note(error, "script"), f"UnicodeEncodeError without the script note: {error.__notes__ if hasattr(error, '__notes__') else None}")
        return
    except TypeError as error:
        if not script_ok:
            expect(has_note(error, "script"), "TypeError for script without its note")
        else:
            expect(encodable and not config_ok, f"unexpected TypeError: {error}")
            expect(has_note(error, "config"), "TypeError for config without its note")
            name = "None" if config is None else type(config).__name__
            expect(str(error) == f"'{name}' object is not an instance of 'Config'" or
                   (config is None and str(error) == "'None' is not an instance of 'Config'"),
                   f"config TypeError text {str(error)!r}")
        return
    expect(script_ok and encodable and config_ok, "compile accepted bad arguments")
    expect(type(result) is tuple and len(result) == 2, "result is not a pair")
    chunk, encoded = result
    expect(chunk is None or type(chunk) is bytes, "chunk is neither bytes nor None")
    expect(type(encoded) is list and len(encoded) % 5 == 0, "diagnostics list is not 5 ints per record")
    expect(all(type(value) is int and 0 <= value < 2**32 for value in encoded), "diagnostic value not a u32 int")
    codes = encoded[4::5]
    has_error = any(code in ERROR_RANGE for code in codes)
    if chunk is not None:
        expect(not has_error, "chunk together with an error code")
        decoded = bytecode.decode(chunk)  # raises on a malformed chunk
        expect(codes.count(12000) == len(decoded.instructions), "source map count != instruction count")
    else:
        expect(has_error, "no chunk and no error code")


def check_message(fdp):
    kind = fdp.ConsumeIntInRange(0, 7)
    if kind <= 3:
        code = fdp.ConsumeIntInRange(0, 13000) if kind <= 1 else fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 20))
    else:
        code = random_value(fdp)
    is_int = isinstance(code, int)
    try:
        result = core.get_diagnostic_message(code)
    except TypeError as error:
        expect(not is_int, f"TypeError for int {code!r}")
        expect(has_note(error, "code"), "TypeError without the code note")
        return
    except OverflowError as error:
        expect(is_int and not 0 <= code <= 65535, f"OverflowError for {code!r}")
        expect(has_note(error, "code"), "OverflowError without the code note")
        return
    except ValueError as error:
        expect(is_int and 0 <= code <= 65535, f"ValueError for {code!r}")
        expect(str(error) == f"No diagnostic message found for code {int(code)}", f"ValueError text {str(error)!r}")
        return
    expect(is_int and 0 <= code <= 65535, f"message for {code!r}")
    expect(type(result) is tuple and len(result) == 3 and all(type(item) is str for item in result),
           "message is not three str")
    expect(result[0] in ("Error", "Warning", "Info", "Hint", "Reference", "Unknown"), f"category {result[0]!r}")


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    if fdp.ConsumeIntInRange(0, 3) == 0:
        check_message(fdp)
    else:
        check_compile(fdp)


def main():
    atheris.instrument_func(check_compile)
    atheris.instrument_func(check_message)
    atheris.instrument_func(make_config)
    atheris.instrument_func(random_value)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
