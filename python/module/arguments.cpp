// Argument unpacking for the fast keyword calling convention, with the
// interpreter's wording for misuse, and the argument note on conversion
// errors.
#include <string>

#include "module_support.h"

namespace quendal::python {

void raise_too_many_positional(const char* function, Py_ssize_t expected, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd %s given", function, expected,
               given, given == 1 ? "was" : "were");
}

bool unpack_arguments(const char* function, std::initializer_list<const char*> names, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  const Py_ssize_t count = static_cast<Py_ssize_t>(names.size());
  if (nargs > count) {
    raise_too_many_positional(function, count, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t index = -1;
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, names.begin()[i]) == 0) {
        index = i;
        break;
      }
    }
    if (index < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, key);
      return false;
    }
    if (out[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                   names.begin()[index]);
      return false;
    }
    out[index] = args[nargs + k];
  }
  std::string missing;
  int missing_count = 0;
  for (Py_ssize_t i = 0; i < count; ++i)
    if (out[i] == nullptr) ++missing_count;
  if (missing_count == 0) return true;
  int seen = 0;
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (out[i] != nullptr) continue;
    if (seen > 0) missing += missing_count > 2 ? (seen == missing_count - 1 ? ", and " : ", ") : " and ";
    missing += "'";
    missing += names.begin()[i];
    missing += "'";
    ++seen;
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %d required positional argument%s: %s", function, missing_count,
               missing_count == 1 ? "" : "s", missing.c_str());
  return false;
}

void add_argument_note(const char* name) {
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* exc = PyErr_GetRaisedException();
#else
  PyObject *type, *exc, *traceback;
  PyErr_Fetch(&type, &exc, &traceback);
  PyErr_NormalizeException(&type, &exc, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(exc, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
#endif
  if (exc == nullptr) return;
  PyObject* result =
      PyObject_CallMethod(exc, "add_note", "s", ("while processing '" + std::string(name) + "'").c_str());
  if (result == nullptr) {
    // The note could not be attached: report that failure instead.
    Py_DECREF(exc);
    return;
  }
  Py_DECREF(result);
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
#endif
}

}  // namespace quendal::python
