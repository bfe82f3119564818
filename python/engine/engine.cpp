// The extension module `quendal._engine`: the compiler with every switch of
// the configuration as a keyword-only option, compiling without holding the
// interpreter lock so that host threads compile in parallel.
//
//   compile(source, *, input_mode="script", report_errors=True,
//           report_warnings=True, report_infos=True, report_hints=True,
//           report_references=True, report_tags=False,
//           report_source_map=True, position_unit="codepoints",
//           known_globals=None) -> (bytes | None, list[int])
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module_support.h"

namespace quendal::python {

namespace {

struct EngineState {
  PyObject* internal_failure;
};

EngineState& engine_state(PyObject* module) { return *static_cast<EngineState*>(PyModule_GetState(module)); }

// The options after the source, in the order of the signature.
enum Option : int {
  kInputMode,
  kReportErrors,
  kReportWarnings,
  kReportInfos,
  kReportHints,
  kReportReferences,
  kReportTags,
  kReportSourceMap,
  kPositionUnit,
  kKnownGlobals,
  kOptionCount,
};

constexpr const char* kOptionNames[kOptionCount] = {
    "input_mode",        "report_errors", "report_warnings",   "report_infos",  "report_hints",
    "report_references", "report_tags",   "report_source_map", "position_unit", "known_globals",
};

std::optional<std::string_view> utf8_view(PyObject* object) {
  if (!PyUnicode_Check(object)) return std::nullopt;
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text == nullptr) return std::nullopt;
  return std::string_view(text, static_cast<std::size_t>(size));
}

// Reads a switch: exactly True or False.
bool read_switch(PyObject* value, const char* name, bool& out) {
  if (!PyBool_Check(value)) {
    PyErr_Format(PyExc_TypeError, "compile() option '%s' must be bool, not %s", name,
                 Py_TYPE(value)->tp_name);
    return false;
  }
  out = value == Py_True;
  return true;
}

bool read_input_mode(PyObject* value, InputMode& out) {
  const auto text = utf8_view(value);
  if (text == "script") {
    out = InputMode::Script;
    return true;
  }
  if (text == "template") {
    out = InputMode::Template;
    return true;
  }
  PyErr_Clear();
  PyErr_SetString(PyExc_ValueError, "Invalid input_mode, expected 'script' or 'template'");
  return false;
}

bool read_position_unit(PyObject* value, PositionUnit& out) {
  const auto text = utf8_view(value);
  if (text == "codepoints") {
    out = PositionUnit::CodePoints;
    return true;
  }
  if (text == "utf16") {
    out = PositionUnit::Utf16Units;
    return true;
  }
  if (text == "bytes") {
    out = PositionUnit::Utf8Bytes;
    return true;
  }
  PyErr_Clear();
  PyErr_SetString(PyExc_ValueError, "Invalid position_unit, expected 'codepoints', 'utf16' or 'bytes'");
  return false;
}

// Copies an iterable of str (not a str itself) into owned names.
bool read_known_globals(PyObject* value, std::optional<KnownGlobals>& out) {
  if (value == Py_None) return true;
  if (PyUnicode_Check(value) || PyBytes_Check(value)) {
    PyErr_SetString(PyExc_TypeError,
                    "compile() option 'known_globals' must be an iterable of str, not a string");
    return false;
  }
  PyObject* iterator = PyObject_GetIter(value);
  if (iterator == nullptr) return false;
  std::vector<std::string> names;
  while (PyObject* item = PyIter_Next(iterator)) {
    const auto text = utf8_view(item);
    if (!text) {
      if (!PyErr_Occurred())
        PyErr_Format(PyExc_TypeError, "compile() option 'known_globals' must hold str, not %s",
                     Py_TYPE(item)->tp_name);
      Py_DECREF(item);
      Py_DECREF(iterator);
      return false;
    }
    names.emplace_back(*text);
    Py_DECREF(item);
  }
  Py_DECREF(iterator);
  if (PyErr_Occurred()) return false;
  out.emplace(std::move(names));
  return true;
}

PyObject* engine_compile(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  nargs = PyVectorcall_NARGS(nargs);
  if (nargs != 1) {
    if (nargs == 0)
      PyErr_SetString(PyExc_TypeError, "compile() missing 1 required positional argument: 'source'");
    else
      raise_too_many_positional("compile", 1, nargs);
    return nullptr;
  }
  PyObject* options[kOptionCount] = {};
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    int index = -1;
    for (int i = 0; i < kOptionCount; ++i) {
      if (PyUnicode_CompareWithASCIIString(key, kOptionNames[i]) == 0) {
        index = i;
        break;
      }
    }
    if (index < 0) {
      PyErr_Format(PyExc_TypeError, "compile() got an unexpected keyword argument '%S'", key);
      return nullptr;
    }
    options[index] = args[nargs + k];
  }

  // Everything is read and copied while the interpreter is held; the
  // compilation then touches no Python object.
  const auto view = utf8_view(args[0]);
  if (!view) {
    if (!PyErr_Occurred())
      PyErr_Format(PyExc_TypeError, "compile() argument 'source' must be str, not %s",
                   Py_TYPE(args[0])->tp_name);
    add_argument_note("source");
    return nullptr;
  }
  const std::string source(*view);

  CompileConfig config;
  bool* const switches[] = {&config.report_errors,    &config.report_warnings,   &config.report_infos,
                            &config.report_hints,     &config.report_references, &config.report_tags,
                            &config.report_source_map};
  if (options[kInputMode] != nullptr && !read_input_mode(options[kInputMode], config.input_mode))
    return nullptr;
  for (int i = kReportErrors; i <= kReportSourceMap; ++i) {
    if (options[i] != nullptr && !read_switch(options[i], kOptionNames[i], *switches[i - kReportErrors]))
      return nullptr;
  }
  if (options[kPositionUnit] != nullptr && !read_position_unit(options[kPositionUnit], config.position_unit))
    return nullptr;
  std::optional<KnownGlobals> known_globals;
  if (options[kKnownGlobals] != nullptr && !read_known_globals(options[kKnownGlobals], known_globals)) {
    add_argument_note("known_globals");
    return nullptr;
  }
  if (known_globals) config.known_globals = &*known_globals;

  CompiledSource compiled;
  std::string failure;
  bool failed = false;
  Py_BEGIN_ALLOW_THREADS;
  try {
    compiled = compile_source(source, config);
  } catch (const std::bad_alloc&) {
    std::fputs("quendal._engine: out of memory\n", stderr);
    std::abort();
  } catch (const std::exception& error) {
    failure = error.what();
    failed = true;
  }
  Py_END_ALLOW_THREADS;
  if (failed) {
    PyErr_SetString(engine_state(module).internal_failure, failure.c_str());
    return nullptr;
  }
  // The list, and the positions encoded on the way, need the interpreter.
  return encode_result(compiled, engine_state(module).internal_failure);
}

PyMethodDef kMethods[] = {
    {"compile", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(engine_compile)),
     METH_FASTCALL | METH_KEYWORDS,
     "compile(source, *, input_mode='script', report_errors=True, report_warnings=True, report_infos=True, "
     "report_hints=True, report_references=True, report_tags=False, report_source_map=True, "
     "position_unit='codepoints', known_globals=None)\n--\n\n"
     "Compiles `source` with the given configuration, without holding the interpreter lock while the\n"
     "compiler runs. Returns (chunk bytes or None, list of five integers per record)."},
    {nullptr, nullptr, 0, nullptr},
};

int engine_exec(PyObject* module) {
  EngineState& state = engine_state(module);
  state.internal_failure =
      PyErr_NewException("quendal._engine.InternalFailure", PyExc_BaseException, nullptr);
  if (state.internal_failure == nullptr) return -1;
  return PyModule_AddObjectRef(module, "InternalFailure", state.internal_failure);
}

int engine_traverse(PyObject* module, visitproc visit, void* arg) {
  auto* state = static_cast<EngineState*>(PyModule_GetState(module));
  if (state != nullptr) Py_VISIT(state->internal_failure);
  return 0;
}

int engine_clear(PyObject* module) {
  auto* state = static_cast<EngineState*>(PyModule_GetState(module));
  if (state != nullptr) Py_CLEAR(state->internal_failure);
  return 0;
}

void engine_free(void* module) { engine_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(engine_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef kEngineDef = {
    PyModuleDef_HEAD_INIT,
    "_engine",
    "The compiler with every configuration switch, compiling outside the interpreter lock.",
    static_cast<Py_ssize_t>(sizeof(EngineState)),
    kMethods,
    kSlots,
    engine_traverse,
    engine_clear,
    engine_free,
};

}  // namespace

}  // namespace quendal::python

PyMODINIT_FUNC PyInit__engine(void) { return PyModuleDef_Init(&quendal::python::kEngineDef); }
