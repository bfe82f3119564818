"""The module `quendal.core` as Python sees it: members, signatures, the
Config class, argument handling of the three functions, op_codes()."""

import ctypes
import inspect
import shutil
import subprocess
import threading

import pytest

from quendal import core

CONFIG = core.Config()

# ---------------------------------------------------------------------------
# Members


def test_all_lists_the_members_in_order():
    assert core.__all__ == ["compile", "get_diagnostic_message", "op_codes", "Config"]


def test_public_names_are_exactly_the_members_in_order():
    assert [n for n in vars(core) if not n.startswith("_")] == core.__all__


def test_module_docstring_is_empty():
    assert core.__doc__ == ""


@pytest.mark.parametrize(
    "member, signature",
    [
        ("compile", "(script, config)"),
        ("get_diagnostic_message", "(code)"),
        ("op_codes", "()"),
        ("Config", "(**data)"),
    ],
)
def test_text_signatures_without_docstring_body(member, signature):
    obj = getattr(core, member)
    assert obj.__text_signature__ == signature
    assert str(inspect.signature(obj)) == signature
    assert not obj.__doc__


def test_functions_are_builtins():
    for name in ("compile", "get_diagnostic_message", "op_codes"):
        fn = getattr(core, name)
        assert isinstance(fn, type(len))
        assert fn.__name__ == name
        assert fn.__self__ is core


def test_config_class_reports_builtins_as_module():
    assert core.Config.__name__ == "Config"
    assert core.Config.__qualname__ == "Config"
    assert core.Config.__module__ == "builtins"
    assert repr(core.Config) == "<class 'builtins.Config'>"


def test_config_instances_expose_nothing():
    c = core.Config(input_mode="template")
    assert [n for n in dir(c) if not n.startswith("__")] == []
    with pytest.raises(AttributeError):
        c.input_mode = "script"
    with pytest.raises(AttributeError):
        c.input_mode  # noqa: B018


def test_internal_failure_type_is_not_a_member():
    hidden = [v for v in vars(core).values() if isinstance(v, type) and issubclass(v, BaseException)]
    assert hidden == []


# ---------------------------------------------------------------------------
# Config construction

INVALID_INPUT_MODE = "Invalid input_mode, expected 'script' or 'template'"


@pytest.mark.parametrize(
    "kwargs",
    [{}, {"input_mode": "script"}, {"other": 1}, {"inputmode": "template"}, {"x": None, "y": object()}],
)
def test_config_script_mode(kwargs):
    # Script mode: an unterminated string is a lexical error.
    assert 1016 in core.compile("'abc", core.Config(**kwargs))[1][4::5]


@pytest.mark.parametrize("kwargs", [{"input_mode": "template"}, {"input_mode": "template", "report_errors": False}])
def test_config_template_mode(kwargs):
    # Template mode: the same text is plain template text.
    assert 1016 not in core.compile("'abc", core.Config(**kwargs))[1][4::5]


@pytest.mark.parametrize(
    "value", ["TEMPLATE", "Script", " script", "script ", "templates", "", 1, 0, None, b"script", ["script"], "\ud800"]
)
def test_config_invalid_input_mode(value):
    with pytest.raises(ValueError) as info:
        core.Config(input_mode=value)
    assert str(info.value) == INVALID_INPUT_MODE
    assert info.type is ValueError


@pytest.mark.parametrize(
    "args, message",
    [
        ((1,), "Config() takes 0 positional arguments but 1 was given"),
        (("script", 2), "Config() takes 0 positional arguments but 2 were given"),
    ],
)
def test_config_refuses_positional_arguments(args, message):
    with pytest.raises(TypeError) as info:
        core.Config(*args)
    assert str(info.value) == message


def test_config_subclass_is_accepted_and_reusable():
    class Mine(core.Config):
        pass

    mine = Mine(input_mode="template")
    base = core.Config(input_mode="template")
    source = "'abc ${1 +} \"x"
    first = core.compile(source, mine)
    assert first == core.compile(source, mine) == core.compile(source, base)


# ---------------------------------------------------------------------------
# compile()


def type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    return str(info.value), getattr(info.value, "__notes__", [])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: core.compile(), "compile() missing 2 required positional arguments: 'script' and 'config'"),
        (lambda: core.compile("x"), "compile() missing 1 required positional argument: 'config'"),
        (lambda: core.compile(config=CONFIG), "compile() missing 1 required positional argument: 'script'"),
        (lambda: core.compile("x", CONFIG, 3), "compile() takes 2 positional arguments but 3 were given"),
        (lambda: core.compile("x", CONFIG, foo=1), "compile() got an unexpected keyword argument 'foo'"),
        (lambda: core.compile("x", script="y"), "compile() got multiple values for argument 'script'"),
        (lambda: core.compile("x", CONFIG, config=CONFIG), "compile() got multiple values for argument 'config'"),
        (lambda: get_diag(), "get_diagnostic_message() missing 1 required positional argument: 'code'"),
        (lambda: get_diag(1, 2), "get_diagnostic_message() takes 1 positional arguments but 2 were given"),
        (lambda: get_diag(cod=1), "get_diagnostic_message() got an unexpected keyword argument 'cod'"),
        (lambda: get_diag(1002, code=1002), "get_diagnostic_message() got multiple values for argument 'code'"),
        (lambda: core.op_codes(1), "op_codes() takes 0 positional arguments but 1 was given"),
        (lambda: core.op_codes(1, 2), "op_codes() takes 0 positional arguments but 2 were given"),
        (lambda: core.op_codes(x=1), "op_codes() got an unexpected keyword argument 'x'"),
    ],
)
def test_argument_errors(call, message):
    assert type_error(call) == (message, [])


def get_diag(*args, **kwargs):
    return core.get_diagnostic_message(*args, **kwargs)


@pytest.mark.parametrize(
    "script, config, message, note",
    [
        (1, CONFIG, "compile() argument 'script' must be str, not int", "script"),
        (b"x", CONFIG, "compile() argument 'script' must be str, not bytes", "script"),
        (None, None, "compile() argument 'script' must be str, not NoneType", "script"),
        ("x", None, "'None' is not an instance of 'Config'", "config"),
        ("x", 1, "'int' object is not an instance of 'Config'", "config"),
        ("x", core.Config, "'type' object is not an instance of 'Config'", "config"),
        ("x", {"input_mode": "script"}, "'dict' object is not an instance of 'Config'", "config"),
    ],
)
def test_compile_conversion_errors_carry_the_note(script, config, message, note):
    assert type_error(lambda: core.compile(script, config)) == (message, [f"while processing '{note}'"])


def test_unencodable_script_raises_the_encoding_error_with_note():
    with pytest.raises(UnicodeEncodeError) as info:
        core.compile("a\ud800b", CONFIG)
    assert info.value.__notes__ == ["while processing 'script'"]


def test_compile_by_keyword_and_result_shape():
    result = core.compile(config=CONFIG, script="'abc")
    assert type(result) is tuple and len(result) == 2
    chunk, diagnostics = result
    assert chunk is None or type(chunk) is bytes
    assert type(diagnostics) is list
    assert len(diagnostics) % 5 == 0
    assert all(type(v) is int and 0 <= v < 2**32 for v in diagnostics)


def test_error_suppresses_bytes():
    chunk, diagnostics = core.compile("'abc", CONFIG)
    assert chunk is None
    codes = diagnostics[4::5]
    assert 1016 in codes
    # Every position lies on the single line of the source (4 characters).
    for i in range(0, len(diagnostics), 5):
        assert diagnostics[i] == diagnostics[i + 2] == 1
        assert 1 <= diagnostics[i + 1] <= diagnostics[i + 3] <= 5


def test_compile_is_deterministic_and_leaves_arguments_alone():
    source = "let s = 'a${1 +'; x"
    before = (source, CONFIG)
    results = [core.compile(source, CONFIG) for _ in range(3)]
    assert results[0] == results[1] == results[2]
    assert results[0] is not results[1]
    assert (source, CONFIG) == before


def test_calls_from_threads_give_the_sequential_results():
    sources = [f"'{'x' * i}" if i % 2 else f"let v{i} = {i};" for i in range(20)]
    expected = [core.compile(s, CONFIG) for s in sources]
    got = [None] * len(sources)

    def work(i):
        for _ in range(5):
            got[i] = core.compile(sources[i], CONFIG)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(sources))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == expected


# ---------------------------------------------------------------------------
# op_codes()

OPCODE_NAMES = """
Noop Add Sub Mul Div Mod Pow Pos Neg Not Plus Eq Neq Lt Lte Gt Gte Aeq Naeq Same Nsame In InGlobal
Concat Format And Or AssertInit AssertNonNil Type ToBoolean ToNumber ToString IsBoolean IsNumber IsString
IsRecord IsArray Constant Uninit Assign Swap GetUpvalue SetUpvalue GetGlobal GetGlobalDyn Record Module
Field FieldDyn FieldIndex FieldOpt FieldOptDyn FieldOptIndex Pick Omit Array Item ItemRange ItemRangeDyn
ItemRangeExclusiveDyn Spread Freeze Has HasDyn HasIndex Get GetDyn GetIndex Set SetDyn SetIndex Slice
SliceStart SliceEnd SliceDyn SliceExclusiveDyn Length Loop LoopFor LoopRange LoopRangeExclusive LoopEnd
Break Continue If IfNot IfInit IfNotInit IfNil IfNotNil Else IfEnd Func FuncVarg FuncEnd Return Call CallDyn
""".split()


def test_op_codes_table():
    assert len(OPCODE_NAMES) == 99
    ops = core.op_codes()
    assert type(ops) is dict
    assert ops == {name: number for number, name in enumerate(OPCODE_NAMES)}
    assert ops["Noop"] == 0 and ops["Slice"] == 72 and ops["Call"] == 97 and ops["CallDyn"] == 98
    assert all(type(v) is int for v in ops.values())


def test_op_codes_returns_a_new_dict_each_call():
    a, b = core.op_codes(), core.op_codes()
    assert a is not b and a == b
    a["Noop"] = 1000
    del a["Add"]
    assert b["Noop"] == 0 and core.op_codes()["Add"] == 1


# ---------------------------------------------------------------------------
# The shared object: one exported entry point, host allocator untouched


def test_only_the_entry_point_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not available")
    out = subprocess.run([nm, "-D", "--defined-only", core.__file__], capture_output=True, text=True, check=True)
    names = {line.split()[-1] for line in out.stdout.splitlines() if line.strip()}
    assert names in ({"PyInit_core"}, {"PyModExport_core"})


def test_process_allocator_is_untouched():
    process = ctypes.CDLL(None)
    libc = ctypes.CDLL("libc.so.6")
    for name in ("malloc", "free", "realloc", "calloc"):
        assert ctypes.cast(getattr(process, name), ctypes.c_void_p).value == ctypes.cast(
            getattr(libc, name), ctypes.c_void_p
        ).value, name
