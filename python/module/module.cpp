// The extension module `core`: compile, get_diagnostic_message, op_codes and
// Config, in that order, each also listed in __all__.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "diagnostic/diagnostic_code.h"
#include "module_support.h"

namespace quendal::python {

namespace {

PyModuleDef kModuleDef;  // filled below; referenced for the state look-up

struct OpCodeEntry {
  const char* name;
  int number;
};

constexpr OpCodeEntry kOpCodes[] = {
#define QUENDAL_OPCODE(name, number, layout) {#name, number},
#include "emitter/opcode.def"
#undef QUENDAL_OPCODE
};

PyObject* to_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// Type name for the config check: the class's own name.
std::string type_name(PyObject* object) {
  PyObject* name = PyType_GetName(Py_TYPE(object));
  if (name == nullptr) {
    PyErr_Clear();
    return Py_TYPE(object)->tp_name;
  }
  const char* text = PyUnicode_AsUTF8(name);
  std::string result = text != nullptr ? text : Py_TYPE(object)->tp_name;
  if (text == nullptr) PyErr_Clear();
  Py_DECREF(name);
  return result;
}

}  // namespace

ModuleState& module_state(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

PyObject* compile_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!unpack_arguments("compile", {"script", "config"}, args, PyVectorcall_NARGS(nargs), kwnames, argv))
    return nullptr;
  ModuleState& state = module_state(module);

  if (!PyUnicode_Check(argv[0])) {
    PyErr_Format(PyExc_TypeError, "compile() argument 'script' must be str, not %s",
                 type_name(argv[0]).c_str());
    add_argument_note("script");
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(argv[0], &size);
  if (text == nullptr) {
    add_argument_note("script");
    return nullptr;
  }

  if (!PyObject_TypeCheck(argv[1], state.config_type)) {
    if (argv[1] == Py_None)
      PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'Config'");
    else
      PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of 'Config'", type_name(argv[1]).c_str());
    add_argument_note("config");
    return nullptr;
  }
  const CompileConfig& config = config_data(argv[1], state.config_type);

  // The whole compilation runs holding the interpreter. `text` is the
  // string's own UTF-8 form, alive while the argument is.
  CompiledSource compiled;
  try {
    compiled = compile_source(std::string_view(text, static_cast<std::size_t>(size)), config);
  } catch (const std::bad_alloc&) {
    std::fputs("quendal.core: out of memory\n", stderr);
    std::abort();
  } catch (const std::exception& failure) {
    PyErr_SetString(state.internal_failure, failure.what());
    return nullptr;
  }
  return encode_result(compiled, state.internal_failure);
}

PyObject* get_diagnostic_message_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  PyObject* argv[1];
  if (!unpack_arguments("get_diagnostic_message", {"code"}, args, PyVectorcall_NARGS(nargs), kwnames, argv))
    return nullptr;
  const long value = PyLong_AsLong(argv[0]);
  if (value == -1 && PyErr_Occurred()) {
    add_argument_note("code");
    return nullptr;
  }
  if (value < 0 || value > 65535) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    add_argument_note("code");
    return nullptr;
  }
  const std::optional<DiagnosticCode> code = diagnostic_code_from_number(static_cast<std::uint16_t>(value));
  if (!code) {
    PyErr_Format(PyExc_ValueError, "No diagnostic message found for code %ld", value);
    return nullptr;
  }
  PyObject* word = to_str(diagnostic_category_word(*code));
  PyObject* name = to_str(diagnostic_code_name(*code));
  PyObject* message = to_str(diagnostic_code_message(*code));
  PyObject* tuple = nullptr;
  if (word != nullptr && name != nullptr && message != nullptr) tuple = PyTuple_Pack(3, word, name, message);
  Py_XDECREF(word);
  Py_XDECREF(name);
  Py_XDECREF(message);
  return tuple;
}

PyObject* op_codes_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!unpack_arguments("op_codes", {}, args, PyVectorcall_NARGS(nargs), kwnames, nullptr)) return nullptr;
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  for (const OpCodeEntry& op : kOpCodes) {
    PyObject* number = PyLong_FromLong(op.number);
    if (number == nullptr || PyDict_SetItemString(dict, op.name, number) < 0) {
      Py_XDECREF(number);
      Py_DECREF(dict);
      return nullptr;
    }
    Py_DECREF(number);
  }
  return dict;
}

namespace {

PyMethodDef kCompileDef = {"compile",
                           reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compile_function)),
                           METH_FASTCALL | METH_KEYWORDS, "compile(script, config)\n--\n\n"};
PyMethodDef kGetDiagnosticMessageDef = {
    "get_diagnostic_message",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(get_diagnostic_message_function)),
    METH_FASTCALL | METH_KEYWORDS, "get_diagnostic_message(code)\n--\n\n"};
PyMethodDef kOpCodesDef = {"op_codes",
                           reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(op_codes_function)),
                           METH_FASTCALL | METH_KEYWORDS, "op_codes()\n--\n\n"};

// Adds `value` (a new reference, consumed) under `name` and appends the name
// to __all__.
int add_member(PyObject* module, PyObject* all, const char* name, PyObject* value) {
  if (value == nullptr) return -1;
  PyObject* text = PyUnicode_FromString(name);
  int rc = text == nullptr ? -1 : PyList_Append(all, text);
  Py_XDECREF(text);
  if (rc == 0) rc = PyModule_AddObjectRef(module, name, value);
  Py_DECREF(value);
  return rc;
}

int module_exec(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "expected a module object");
    return -1;
  }
  ModuleState& state = module_state(module);
  state.internal_failure = PyErr_NewException("quendal.core.InternalFailure", PyExc_BaseException, nullptr);
  if (state.internal_failure == nullptr) return -1;
  state.config_type = create_config_type(module);
  if (state.config_type == nullptr) return -1;

  PyObject* all = PyList_New(0);
  if (all == nullptr) return -1;
  const int rc = PyModule_AddObjectRef(module, "__all__", all);
  PyObject* name = PyModule_GetNameObject(module);
  if (rc < 0 || name == nullptr) {
    Py_XDECREF(name);
    Py_DECREF(all);
    return -1;
  }
  int failed =
      add_member(module, all, "compile", PyCFunction_NewEx(&kCompileDef, module, name)) < 0 ||
      add_member(module, all, "get_diagnostic_message",
                 PyCFunction_NewEx(&kGetDiagnosticMessageDef, module, name)) < 0 ||
      add_member(module, all, "op_codes", PyCFunction_NewEx(&kOpCodesDef, module, name)) < 0 ||
      add_member(module, all, "Config", Py_NewRef(reinterpret_cast<PyObject*>(state.config_type))) < 0;
  Py_DECREF(name);
  Py_DECREF(all);
  return failed ? -1 : 0;
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state != nullptr) {
    Py_VISIT(state->config_type);
    Py_VISIT(state->internal_failure);
  }
  return 0;
}

int module_clear(PyObject* module) {
  ModuleState* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state != nullptr) {
    Py_CLEAR(state->config_type);
    Py_CLEAR(state->internal_failure);
  }
  return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

}  // namespace

}  // namespace quendal::python

namespace {

using namespace quendal::python;

#if PY_VERSION_HEX >= 0x030F0000 && defined(Py_mod_name) && defined(PyMODEXPORT_FUNC)
PyModuleDef_Slot kExportSlots[] = {
    {Py_mod_name, const_cast<char*>("core")},
    {Py_mod_doc, const_cast<char*>("")},
    {Py_mod_state_size, reinterpret_cast<void*>(sizeof(ModuleState))},
    {Py_mod_state_traverse, reinterpret_cast<void*>(module_traverse)},
    {Py_mod_state_clear, reinterpret_cast<void*>(module_clear)},
    {Py_mod_state_free, reinterpret_cast<void*>(module_free)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};
#endif

}  // namespace

#if PY_VERSION_HEX >= 0x030F0000 && defined(Py_mod_name) && defined(PyMODEXPORT_FUNC)
PyMODEXPORT_FUNC PyModExport_core(void) { return kExportSlots; }
#else
PyMODINIT_FUNC PyInit_core(void) {
  kModuleDef = {
      PyModuleDef_HEAD_INIT,
      "core",
      "",
      static_cast<Py_ssize_t>(sizeof(ModuleState)),
      nullptr,
      kModuleSlots,
      module_traverse,
      module_clear,
      module_free,
  };
  return PyModuleDef_Init(&kModuleDef);
}
#endif
