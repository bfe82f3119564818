// The class Config: a CompileConfig with an object header. Only the
// "input_mode" keyword is looked at; every other field keeps its default.
#include <cstring>
#include <new>

#include "module_support.h"

namespace quendal::python {

namespace {

#if PY_VERSION_HEX >= 0x030C0000
void* type_data(PyObject* object, PyTypeObject* config_type) {
  return PyObject_GetTypeData(object, config_type);
}
constexpr int kConfigBasicSize = -static_cast<int>(sizeof(CompileConfig));
#else
// Before type data existed, the record follows the object header directly;
// subclasses append their own parts after it.
void* type_data(PyObject* object, PyTypeObject*) {
  return reinterpret_cast<char*>(object) + sizeof(PyObject);
}
constexpr int kConfigBasicSize = static_cast<int>(sizeof(PyObject) + sizeof(CompileConfig));
#endif

constexpr const char* kInvalidInputMode = "Invalid input_mode, expected 'script' or 'template'";

// Reads the "input_mode" keyword. Returns false with ValueError set when the
// value is not exactly "script" or "template".
bool read_input_mode(PyObject* kwargs, InputMode& mode) {
  mode = InputMode::Script;
  if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) return true;
  PyObject* value = PyDict_GetItemString(kwargs, "input_mode");  // borrowed
  if (value == nullptr) return true;
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(value) ? PyUnicode_AsUTF8AndSize(value, &size) : nullptr;
  if (text != nullptr && size == 8 && std::memcmp(text, "template", 8) == 0) {
    mode = InputMode::Template;
    return true;
  }
  if (text != nullptr && size == 6 && std::memcmp(text, "script", 6) == 0) return true;
  // A failed conversion is replaced by the ValueError.
  PyErr_Clear();
  PyErr_SetString(PyExc_ValueError, kInvalidInputMode);
  return false;
}

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_GET_SIZE(args);
  if (nargs > 0) {
    raise_too_many_positional("Config", 0, nargs);
    return nullptr;
  }
  InputMode mode;
  if (!read_input_mode(kwargs, mode)) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  // Find the Config class in the MRO to reach its part of the instance.
  PyTypeObject* config_type = type;
  while (config_type->tp_base != nullptr && config_type->tp_base != &PyBaseObject_Type)
    config_type = config_type->tp_base;
  auto* config = ::new (type_data(self, config_type)) CompileConfig();
  config->input_mode = mode;
  return self;
}

void config_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

PyType_Slot kConfigSlots[] = {
    {Py_tp_doc, const_cast<char*>("Config(**data)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(config_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(config_dealloc)},
    {0, nullptr},
};

PyType_Spec kConfigSpec = {
    "builtins.Config",
    kConfigBasicSize,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    kConfigSlots,
};

}  // namespace

PyTypeObject* create_config_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &kConfigSpec, nullptr));
}

const CompileConfig& config_data(PyObject* object, PyTypeObject* config_type) {
  return *static_cast<const CompileConfig*>(type_data(object, config_type));
}

}  // namespace quendal::python
