#pragma once
// Helpers shared by the functions and the class of the module `core`.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>
#include <string_view>

#include "quendal/compile.h"

namespace quendal::python {

// Per-module state: the Config class and the internal-failure exception type
// (created at module execution, not a member of the module).
struct ModuleState {
  PyTypeObject* config_type;
  PyObject* internal_failure;
};

ModuleState& module_state(PyObject* module);

// Unpacks fast-call arguments into `out` (one slot per name, all required),
// raising TypeError in the interpreter's wording on misuse.
bool unpack_arguments(const char* function, std::initializer_list<const char*> names, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// "<function>() takes N positional arguments but M were given".
void raise_too_many_positional(const char* function, Py_ssize_t expected, Py_ssize_t given);

// Adds "while processing '<name>'" to the exception currently set.
void add_argument_note(const char* name);

// The Config class: creation, and the record inside an instance.
PyTypeObject* create_config_type(PyObject* module);
const CompileConfig& config_data(PyObject* object, PyTypeObject* config_type);

// The tuple (bytes | None, list of int) for a compilation's result; null
// with an exception set when memory runs out.
PyObject* encode_result(const CompileResult& result);

PyObject* compile_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_diagnostic_message_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames);
PyObject* op_codes_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quendal::python
