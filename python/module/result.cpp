// The Python form of a compilation's result, shared by both modules:
// (bytes | None, list of int).
#include <algorithm>
#include <cstdint>
#include <exception>
#include <span>
#include <vector>

#include <mimalloc.h>

#include "module_support.h"
#include "support/huge_pages.h"

namespace quendal::python {

namespace {

// Adds `n` references to `object`'s count at once.
void add_references(PyObject* object, Py_ssize_t n) {
#if defined(Py_GIL_DISABLED) || defined(Py_REF_DEBUG)
  // Counts are split between the owning thread and the others there, and
  // debug builds keep a total of every count: one at a time.
  for (; n > 0; --n) Py_INCREF(object);
#else
  // Immortal objects keep their count (Py_SET_REFCNT leaves them alone).
  Py_SET_REFCNT(object, Py_REFCNT(object) + n);
#endif
}

// Int objects by value for one list. Lines, columns and codes repeat a great
// deal (every record on a line has the same line number, columns are small,
// most records are source maps): ints are immutable, so one object per value
// stands in every place the value occurs. Small values have a table of their
// own, filled up to the largest small value asked for so far; larger ones
// share a direct-mapped cache sized to the list. The tables hold a reference
// to each object in them until they are destroyed, so an object they hand
// out stays valid for the whole fill even once its slot is taken. The small
// table also counts the references the list takes to its objects
// (`take_small`), and adds them to the objects' counts when it is destroyed.
class IntObjects {
 public:
  static constexpr std::uint32_t kSmall = 256;

  explicit IntObjects(std::size_t values) {
    std::size_t slots = 16;
    while (slots < 4096 && slots * 8 < values) slots *= 2;
    large_.resize(slots);
    mask_ = slots - 1;
  }
  IntObjects(const IntObjects&) = delete;
  IntObjects& operator=(const IntObjects&) = delete;
  ~IntObjects() {
    for (std::uint32_t v = 0; v < filled_; ++v) {
      if (small_taken_[v] != 0) add_references(small_[v], small_taken_[v]);
      Py_DECREF(small_[v]);
    }
    for (const Slot& slot : large_) Py_XDECREF(slot.object);
  }

  // Values below filled() are in the table.
  std::uint32_t filled() const { return filled_; }
  // The small table's object for `value`, for a reference the list takes
  // (counted when the table is destroyed).
  PyObject* take_small(std::uint32_t value) {
    ++small_taken_[value];
    return small_[value];
  }

  // A borrowed reference, or null with an exception set.
  PyObject* get(std::uint32_t value) {
    if (value < filled_) return small_[value];
    return make(value);
  }

 private:
  [[gnu::noinline]] PyObject* make(std::uint32_t value) {
    if (value < kSmall) {
      // The table up to `value`, and a little beyond: columns grow, a few
      // at a time. (A small result uses few values: no more are made.)
      const std::uint32_t to = std::min(kSmall, (value | 15u) + 1);
      for (; filled_ < to; ++filled_) {
        PyObject* object = PyLong_FromLongLong(filled_);
        if (object == nullptr) return nullptr;
        small_[filled_] = object;
        small_taken_[filled_] = 0;
      }
      return small_[value];
    }
    Slot& slot = large_[(value ^ (value >> 9)) & mask_];
    if (slot.value == value && slot.object != nullptr) return slot.object;
    PyObject* object = PyLong_FromLongLong(value);
    if (object == nullptr) return nullptr;
    Py_XDECREF(slot.object);
    slot = {value, object};
    return object;
  }

  struct Slot {
    std::uint32_t value = 0;
    PyObject* object = nullptr;
  };
  PyObject* small_[kSmall];
  Py_ssize_t small_taken_[kSmall];  // references taken by the list, below filled_
  std::uint32_t filled_ = 0;
  std::vector<Slot> large_;
  std::size_t mask_ = 0;
};

// References counted in bulk. Most records repeat the last line and code,
// and their columns are small: adding one to the same object's count five
// times a record makes a chain of dependent writes, so the fill counts the
// references it stores and adds each object's count once. An object is
// counted before anything that could drop another reference to it.
class PendingReferences {
 public:
  PendingReferences() = default;
  PendingReferences(const PendingReferences&) = delete;
  PendingReferences& operator=(const PendingReferences&) = delete;
  ~PendingReferences() { flush(); }

  PyObject* object() const { return object_; }
  void add() { ++count_; }
  // Adds the stored references to the object's count.
  void flush() {
    if (count_ != 0) add_references(object_, count_);
    count_ = 0;
  }
  // Counts what is pending on the current object and takes `object`.
  void reset(PyObject* object) {
    flush();
    object_ = object;
  }

 private:
  PyObject* object_ = nullptr;
  Py_ssize_t count_ = 0;
};

// Fills `items` (five empty slots per record) from the records; false with
// an exception set on failure, the slots filled so far left to the list
// (counted). Each item stored is a new reference.
template <LineIndex::Columns C>
bool fill_items(PyObject** items, std::span<const SourceDiagnostic> records, const LineIndex& lines,
                PyObject* internal_failure) {
  IntObjects ints(records.size() * 5);
  LineIndex::Cursor<C> cursor(lines);
  // The last start line and code, which most records repeat (lines start
  // at 1, codes are 16-bit). A new one is asked for only after the pending
  // references of every object the tables could let go of are counted.
  std::uint32_t line = 0;
  std::uint32_t code = 0x10000;
  // Declared after `ints`, so destroyed before it: the pending counts are
  // added while the tables still hold their own references.
  PendingReferences line_refs;
  PendingReferences code_refs;
  const auto flush = [&] {
    line_refs.flush();
    code_refs.flush();
  };
  const auto get = [&](std::uint32_t value) {
    flush();
    return ints.get(value);
  };
  // A new reference to the object of a column (null with an exception set).
  const auto column = [&](std::uint32_t value) -> PyObject* {
    if (value < ints.filled()) [[likely]]
      return ints.take_small(value);
    PyObject* object = get(value);
    Py_XINCREF(object);
    return object;
  };
  try {
    for (const SourceDiagnostic& record : records) {
      const LineIndex::RecordPositions p = cursor.next(record);
      if (p.start.line != line) [[unlikely]] {
        PyObject* object = get(p.start.line);
        if (object == nullptr) return false;
        line_refs.reset(object);
        line = p.start.line;
      }
      items[0] = line_refs.object();
      line_refs.add();
      if ((items[1] = column(p.start.column)) == nullptr) return false;
      if (p.end.line == line) [[likely]] {
        items[2] = line_refs.object();
        line_refs.add();
      } else {
        if ((items[2] = get(p.end.line)) == nullptr) return false;
        Py_INCREF(items[2]);
      }
      if ((items[3] = column(p.end.column)) == nullptr) return false;
      if (const std::uint32_t value = to_number(record.code); value != code) [[unlikely]] {
        PyObject* object = get(value);
        if (object == nullptr) return false;
        code_refs.reset(object);
        code = value;
      }
      items[4] = code_refs.object();
      code_refs.add();
      items += 5;
    }
  } catch (const std::exception& failure) {
    PyErr_SetString(internal_failure, failure.what());
    return false;
  }
  return true;
}

// From this many records on (about 4 MiB of items) the list's item array
// is worth backing with huge pages.
constexpr std::size_t kHugeRecords = (std::size_t{4} << 20) / (5 * sizeof(PyObject*));

bool fill_list(PyObject* list, const CompiledSource& source, PyObject* internal_failure) {
  const std::vector<SourceDiagnostic>& records = source.compiled.records;
  if (records.empty()) return true;
  PyObject** items = reinterpret_cast<PyListObject*>(list)->ob_item;
  // The item array of a big result is fresh memory, written once here.
  if (records.size() >= kHugeRecords) advise_huge_pages(items, records.size() * 5 * sizeof(PyObject*));
  const LineIndex& lines = *source.lines;
  return lines.with_columns(
      [&]<LineIndex::Columns C>() { return fill_items<C>(items, records, lines, internal_failure); });
}

}  // namespace

// From this source size on, the memory a compilation frees is handed back
// to the system before the result list is made.
constexpr std::size_t kReturnMemoryBytes = std::size_t{1} << 20;

CompiledSource compile_source(std::string_view source, const CompileConfig& config) {
  CompiledSource result{compile_records(source, config), std::nullopt};
  // The token store and the tree of a big source, several times its size,
  // are freed by now, and the list's item array and ints, made next by the
  // interpreter's allocator, take fresh pages. Handed back at once rather
  // than kept by this module's allocator for a while, the freed memory's
  // pages are the ones the system hands the list, and the peak stays lower.
  // (Only here: handing back what the call frees at its end too would make
  // the next big call fault in all of its memory again.)
  if (source.size() >= kReturnMemoryBytes) mi_collect(true);
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
