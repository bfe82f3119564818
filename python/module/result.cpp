// The Python form of a compilation's result, shared by both modules:
// (bytes | None, list of int).
#include <cstdint>
#include <exception>
#include <span>
#include <vector>

#include "module_support.h"

namespace quendal::python {

namespace {

// Int objects by value for one list. Lines, columns and codes repeat a great
// deal (every record on a line has the same line number, columns are small,
// most records are source maps): ints are immutable, so one object per value
// stands in every place the value occurs. Small values have a table of their
// own; larger ones share a direct-mapped cache sized to the list. The cache
// holds no references: every object it hands out is placed in the list being
// built at once, and lives as long as that list.
class IntObjects {
 public:
  explicit IntObjects(std::size_t values) {
    std::size_t slots = 16;
    while (slots < 4096 && slots * 8 < values) slots *= 2;
    large_.resize(slots);
    mask_ = slots - 1;
  }

  // A new reference, or null with an exception set.
  PyObject* get(std::uint32_t value) {
    if (value < kSmall) {
      PyObject*& object = small_[value];
      if (object == nullptr) [[unlikely]] {
        object = PyLong_FromUnsignedLong(value);
        return object;
      }
      return Py_NewRef(object);
    }
    Slot& slot = large_[(value ^ (value >> 9)) & mask_];
    if (slot.value == value && slot.object != nullptr) return Py_NewRef(slot.object);
    PyObject* object = PyLong_FromUnsignedLong(value);
    if (object != nullptr) slot = {value, object};
    return object;
  }

 private:
  static constexpr std::uint32_t kSmall = 256;
  struct Slot {
    std::uint32_t value = 0;
    PyObject* object = nullptr;
  };
  PyObject* small_[kSmall] = {};
  std::vector<Slot> large_;
  std::size_t mask_ = 0;
};

// One value that repeats from record to record (a start line, a code): the
// object made for it last, if the value is the same.
struct LastInt {
  std::uint32_t value;
  PyObject* object = nullptr;

  PyObject* get(std::uint32_t v, IntObjects& ints) {
    if (v == value) return Py_NewRef(object);
    PyObject* made = ints.get(v);
    if (made != nullptr) {
      value = v;
      object = made;
    }
    return made;
  }
};

// Fills `items` (five empty slots per record) from the records; false with
// an exception set on failure, the slots filled so far left to the list.
template <LineIndex::Columns C>
bool fill_items(PyObject** items, std::span<const SourceDiagnostic> records, const LineIndex& lines,
                PyObject* internal_failure) {
  IntObjects ints(records.size() * 5);
  LastInt line{0};        // lines start at 1
  LastInt code{0x10000};  // codes are 16-bit
  try {
    for (const SourceDiagnostic& record : records) {
      const LineIndex::RecordPositions p = lines.positions_in<C>(record);
      PyObject* start_line = line.get(p.start.line, ints);
      if (start_line == nullptr) return false;
      *items++ = start_line;
      if ((*items++ = ints.get(p.start.column)) == nullptr) return false;
      if ((*items++ = p.end.line == p.start.line ? Py_NewRef(start_line) : ints.get(p.end.line)) == nullptr)
        return false;
      if ((*items++ = ints.get(p.end.column)) == nullptr) return false;
      if ((*items++ = code.get(to_number(record.code), ints)) == nullptr) return false;
    }
  } catch (const std::exception& failure) {
    PyErr_SetString(internal_failure, failure.what());
    return false;
  }
  return true;
}

bool fill_list(PyObject* list, const CompiledSource& source, PyObject* internal_failure) {
  const std::vector<SourceDiagnostic>& records = source.compiled.records;
  if (records.empty()) return true;
  PyObject** items = reinterpret_cast<PyListObject*>(list)->ob_item;
  const LineIndex& lines = *source.lines;
  return lines.with_columns(
      [&]<LineIndex::Columns C>() { return fill_items<C>(items, records, lines, internal_failure); });
}

}  // namespace

CompiledSource compile_source(std::string_view source, const CompileConfig& config) {
  CompiledSource result{compile_records(source, config), std::nullopt};
  if (!result.compiled.records.empty()) result.lines.emplace(source, config.position_unit);
  return result;
}

PyObject* encode_result(const CompiledSource& source, PyObject* internal_failure) {
  const std::optional<std::vector<std::uint8_t>>& bytes = source.compiled.chunk;
  PyObject* chunk;
  if (bytes) {
    chunk = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                      static_cast<Py_ssize_t>(bytes->size()));
    if (chunk == nullptr) return nullptr;
  } else {
    chunk = Py_NewRef(Py_None);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(source.compiled.records.size() * 5));
  if (list == nullptr) {
    Py_DECREF(chunk);
    return nullptr;
  }
  if (!fill_list(list, source, internal_failure)) {
    Py_DECREF(chunk);
    Py_DECREF(list);
    return nullptr;
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
