#pragma once
// Helpers shared by the functions and the class of the module `core`.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>
#include <optional>
#include <string_view>

#include "compile/compile_records.h"
#include "diagnostic/encode_diagnostics.h"
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

// A compilation ready to become its Python result: the chunk and the
// records, and the line index of the source when there are records.
// Made without touching a Python object, so the interpreter lock may be
// released meanwhile; `source` must outlive the result. Throws what
// `compile` throws.
struct CompiledSource {
  CompileRecords compiled;
  std::optional<LineIndex> lines;
};
CompiledSource compile_source(std::string_view source, const CompileConfig& config);

// The tuple (bytes | None, list of int) for a compilation: five ints per
// record, each record's positions encoded as its ints are made. Null with
// an exception set: `internal_failure` for a position the index rejects,
// MemoryError when memory runs out.
PyObject* encode_result(const CompiledSource& source, PyObject* internal_failure);

PyObject* compile_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_diagnostic_message_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames);
PyObject* op_codes_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quendal::python
