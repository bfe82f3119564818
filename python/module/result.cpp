// The Python form of a compilation's result, shared by both modules:
// (bytes | None, list of int).
#include <cstdint>
#include <vector>

#include "module_support.h"

namespace quendal::python {

namespace {

// A direct-mapped cache of int objects by value for one conversion, sized
// to the list. Holds a reference to each cached object; `get` returns a new
// reference.
class IntCache {
 public:
  explicit IntCache(std::size_t values) {
    std::size_t slots = 16;
    while (slots < 4096 && slots * 8 < values) slots *= 2;
    slots_.resize(slots);
    mask_ = slots - 1;
  }
  IntCache(const IntCache&) = delete;
  IntCache& operator=(const IntCache&) = delete;
  ~IntCache() {
    for (Slot& slot : slots_) Py_XDECREF(slot.object);
  }

  PyObject* get(std::uint32_t value) {
    Slot& slot = slots_[(value ^ (value >> 12)) & mask_];
    if (slot.object == nullptr || slot.value != value) {
      PyObject* object = PyLong_FromUnsignedLong(value);
      if (object == nullptr) return nullptr;
      Py_XDECREF(slot.object);
      slot.object = object;
      slot.value = value;
    }
    return Py_NewRef(slot.object);
  }

 private:
  struct Slot {
    std::uint32_t value = 0;
    PyObject* object = nullptr;
  };
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

}  // namespace

PyObject* encode_result(const CompileResult& result) {
  PyObject* chunk;
  if (result.chunk) {
    chunk = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(result.chunk->data()),
                                      static_cast<Py_ssize_t>(result.chunk->size()));
    if (chunk == nullptr) return nullptr;
  } else {
    chunk = Py_NewRef(Py_None);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(result.diagnostics.size()));
  if (list == nullptr) {
    Py_DECREF(chunk);
    return nullptr;
  }
  // Lines, columns and codes repeat a great deal (every record on a line has
  // the same line number, most records are source maps): ints are immutable,
  // so one object per value stands in every place that value occurs.
  const std::uint32_t* values = result.diagnostics.data();
  const std::size_t count = result.diagnostics.size();
  IntCache cache(count);
  for (std::size_t i = 0; i < count; ++i) {
    PyObject* value = cache.get(values[i]);
    if (value == nullptr) {
      Py_DECREF(chunk);
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), value);
  }
  PyObject* tuple = PyTuple_New(2);
  if (tuple == nullptr) {
    Py_DECREF(chunk);
    Py_DECREF(list);
    return nullptr;
  }
  PyTuple_SET_ITEM(tuple, 0, chunk);
  PyTuple_SET_ITEM(tuple, 1, list);
  return tuple;
}

}  // namespace quendal::python
