#include "emitter/chunk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "quendal/compile.h"

namespace quendal {
namespace {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::uint8_t kWideFlag = 0x80;

bool is_register(const Operand& o) { return o.kind == Operand::Kind::Register; }

bool fits_short(const Operand& o) {
  return is_register(o) ? o.value >= 0 && o.value <= 255 : o.value >= -128 && o.value <= 127;
}

using chunk_detail::is_deferred;

[[noreturn]] void fail_operands(OpCode op, std::string_view why) {
  throw InternalFailure("bad operands for " + std::string(opcode_name(op)) + " (layout \"" +
                        std::string(opcode_layout(op)) + "\"): " + std::string(why));
}

// Every writer goes through here: the operands must follow the layout of the
// operation table row, each value within the range of its kind, and every
// list as long as the parameter that counts it.
void check_operands(OpCode op, std::span<const Operand> operands) {
  std::string_view layout = opcode_layout(op);
  if (layout == "-") fail_operands(op, "the operation has no fixed layout");
  for (const Operand& o : operands) {
    bool in_range = is_register(o) ? o.value >= 0 && o.value <= std::numeric_limits<Register>::max()
                                   : o.value >= std::numeric_limits<OpParam>::min() &&
                                         o.value <= std::numeric_limits<OpParam>::max();
    if (!in_range) fail_operands(op, "operand value out of range");
  }
  std::size_t at = 0;
  std::int64_t last_count = -1;
  for (char letter : layout) {
    Operand::Kind kind = (letter == 'R' || letter == 'L') ? Operand::Kind::Register : Operand::Kind::Param;
    std::int64_t n = 1;
    if (letter == 'L' || letter == 'M') {
      if (last_count < 0) fail_operands(op, "list length is negative");
      n = last_count;
    }
    if (static_cast<std::int64_t>(operands.size() - at) < n) fail_operands(op, "too few operands");
    for (std::int64_t i = 0; i < n; ++i, ++at) {
      if (operands[at].kind != kind) fail_operands(op, "operand kind does not match");
    }
    if (letter == 'P') last_count = operands[at - 1].value;
  }
  if (at != operands.size()) fail_operands(op, "too many operands");
}

bool all_short(std::span<const Operand> operands) {
  for (const Operand& o : operands) {
    if (!fits_short(o)) return false;
  }
  return true;
}

// A length field's value: a chunk section beyond 32 bits is an internal fault.
std::uint32_t length_field(std::size_t value) {
  if (value > std::numeric_limits<std::uint32_t>::max()) {
    throw InternalFailure("chunk section larger than 4 GiB");
  }
  return static_cast<std::uint32_t>(value);
}

void store_u32(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t value) {
  chunk_detail::put_le32(bytes.data() + at, length_field(value));
}

}  // namespace

Chunk::Chunk() : code_(kHeaderBytes, 0), size_(kHeaderBytes) { constants_.reserve(32); }

std::uint32_t Chunk::add_name_constant_slow(std::string_view text, std::uint32_t symbol) {
  const std::uint32_t index = add_constant(Constant::of_string(text));
  // Symbols are dense ids; a name past 2^32 - 2 entries is not remembered.
  if (symbol != 0xFFFFFFFFu && index != 0xFFFFFFFFu) {
    if (symbol >= name_constants_.size())
      name_constants_.resize(std::max<std::size_t>(std::size_t{symbol} + 1, name_constants_.size() * 2), 0);
    name_constants_[symbol] = index + 1;
  }
  return index;
}

std::uint32_t Chunk::add_constant(const Constant& constant) {
  // The pool never holds two equal entries, so the index's entry is the
  // first (and only) match a scan from index 0 would find.
  return index_.find_or_add(constants_, constant);
}

namespace {

// Operand kinds of a layout made only of single operands (no counted
// lists), one per letter; empty for the other layouts.
struct PlainLayout {
  std::array<Operand::Kind, 16> kinds{};
  std::uint8_t size = 0;
  bool plain = false;
};

PlainLayout plain_layout(OpCode op) {
  PlainLayout out;
  const std::string_view layout = opcode_layout(op);
  if (layout == "-" || layout.size() > out.kinds.size()) return out;
  for (char letter : layout) {
    if (letter == 'L' || letter == 'M') return out;
    out.kinds[out.size++] = letter == 'R' ? Operand::Kind::Register : Operand::Kind::Param;
  }
  out.plain = true;
  return out;
}

const std::array<PlainLayout, kOpCodeCount>& plain_layouts() {
  static const std::array<PlainLayout, kOpCodeCount> table = [] {
    std::array<PlainLayout, kOpCodeCount> t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = plain_layout(static_cast<OpCode>(i));
    return t;
  }();
  return table;
}

// True when `operands` certainly pass check_operands; false sends the
// instruction through the full check (which names the fault).
bool plain_operands_ok(OpCode op, std::span<const Operand> operands) {
  const auto index = static_cast<std::size_t>(op);
  if (index >= static_cast<std::size_t>(kOpCodeCount)) return false;
  const PlainLayout& layout = plain_layouts()[index];
  if (!layout.plain || operands.size() != layout.size) return false;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    const Operand& o = operands[i];
    if (o.kind != layout.kinds[i]) return false;
    const bool in_range = is_register(o) ? o.value >= 0 && o.value <= std::numeric_limits<Register>::max()
                                         : o.value >= std::numeric_limits<OpParam>::min() &&
                                               o.value <= std::numeric_limits<OpParam>::max();
    if (!in_range) return false;
  }
  return true;
}

}  // namespace

void Chunk::write(OpCode op, std::span<const Operand> operands) {
  if (is_deferred(op)) fail_operands(op, "written through begin_deferred/finish_deferred");
  if (!plain_operands_ok(op, operands)) check_operands(op, operands);
  write_list(op, operands);
}

void Chunk::write_list(OpCode op, std::span<const Operand> operands) {
#if QUENDAL_CHECKED
  if (is_deferred(op)) fail_operands(op, "written through begin_deferred/finish_deferred");
  check_operands(op, operands);
#endif
  const bool wide = !all_short(operands);
  std::uint8_t* out = room(1 + (wide ? 4 : 1) * operands.size());
  if (!wide) {
    // Short form: the opcode byte and one byte per operand.
    *out++ = static_cast<std::uint8_t>(op);
    for (const Operand& o : operands) *out++ = static_cast<std::uint8_t>(o.value);
  } else {
    *out++ = static_cast<std::uint8_t>(op) | kWideFlag;
    for (const Operand& o : operands)
      out = chunk_detail::put_le32(out, static_cast<std::uint32_t>(o.value));  // two's complement for params
  }
  size_ = static_cast<std::size_t>(out - code_.data());
}

void Chunk::check_chosen(OpCode op, bool follows_layout) {
  if (is_deferred(op)) fail_operands(op, "written through begin_deferred/finish_deferred");
  if (!follows_layout) fail_operands(op, "the operands do not follow the layout");
}

void Chunk::no_room() { throw InternalFailure("an instruction written without room for it"); }

void Chunk::grow(std::size_t bytes) {
  if (bytes > std::numeric_limits<std::size_t>::max() / 2 - size_) throw std::bad_alloc();
  code_.resize(std::max(code_.size() * 2, size_ + bytes + 256));
}

std::size_t Chunk::begin_deferred(OpCode op) {
  if (!is_deferred(op)) fail_operands(op, "not an operation with deferred operands");
  *room(1) = static_cast<std::uint8_t>(op);
  return size_++;
}

void Chunk::finish_deferred(std::size_t position, std::span<const Operand> operands) {
  if (position < kHeaderBytes || position >= size_) {
    throw InternalFailure("deferred operands for a position outside the code");
  }
  std::uint8_t placeholder = code_[position];
  auto op = static_cast<OpCode>(placeholder);
  if (placeholder >= kOpCodeCount || !is_deferred(op)) {
    throw InternalFailure("deferred operands for a byte that is no open placeholder");
  }
#if QUENDAL_CHECKED
  check_operands(op, operands);
#else
  // Deferred operations have fixed layouts (no lists): the count is all
  // that release builds check.
  if (operands.size() != opcode_layout(op).size()) fail_operands(op, "wrong operand count");
#endif
  // At most three operands of four bytes each (the layouts are fixed and
  // were checked above).
  if (operands.size() > 4) [[unlikely]]
    fail_operands(op, "too many operands");
  std::array<std::uint8_t, 16> bytes{};
  const std::size_t n = std::min<std::size_t>(operands.size(), 4);
  std::size_t count = 0;
  if (all_short(operands)) {
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(operands[i].value);
    count = n;
  } else {
    code_[position] = placeholder | kWideFlag;
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = static_cast<std::uint32_t>(operands[i].value);  // two's complement for params
      for (std::size_t b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    count = 4 * n;
  }
  // The operands go right after the opcode: the body written since moves up.
  room(count);
  std::uint8_t* after = code_.data() + position + 1;
  std::memmove(after + count, after, size_ - position - 1);
  std::memcpy(after, bytes.data(), count);
  size_ += count;
}

std::vector<std::uint8_t> Chunk::serialize() const {
  std::vector<std::uint8_t> out;
  out.reserve(size_ + 4 + constants_.size() * 9);
  out.insert(out.end(), code_.begin(), code_.begin() + static_cast<std::ptrdiff_t>(size_));
  append_constants(out);
  return out;
}

std::vector<std::uint8_t> Chunk::take_serialized() {
  code_.resize(size_);
  std::vector<std::uint8_t> out = std::move(code_);
  append_constants(out);
  code_.assign(kHeaderBytes, 0);
  size_ = kHeaderBytes;
  constants_.clear();
  index_.clear();
  name_constants_.clear();
  return out;
}

// `out` holds the header placeholder and the code; appends the constant
// section and fills the three length fields.
void Chunk::append_constants(std::vector<std::uint8_t>& out) const {
  // The section's size first, so that it is appended without regrowing.
  std::size_t bytes = 4;
  for (const Constant& c : constants_) {
    bytes += 1;
    if (c.tag == Constant::Tag::Integer) bytes += 4;
    if (c.tag == Constant::Tag::Number) bytes += 8;
    if (c.tag == Constant::Tag::String) bytes += 4 + c.text.size();
  }
  const std::size_t code_length = out.size() - kHeaderBytes;
  const std::size_t m_at = out.size();
  out.resize(m_at + bytes);
  std::uint8_t* w = out.data() + m_at + 4;
  for (const Constant& c : constants_) {
    *w++ = static_cast<std::uint8_t>(c.tag);
    switch (c.tag) {
      case Constant::Tag::Integer:
        w = chunk_detail::put_le32(w, static_cast<std::uint32_t>(c.integer));
        break;
      case Constant::Tag::Number: {
        const std::uint64_t bits = c.number_bits();
        for (int i = 0; i < 8; ++i) *w++ = static_cast<std::uint8_t>(bits >> (8 * i));
        break;
      }
      case Constant::Tag::String: {
        w = chunk_detail::put_le32(w, length_field(c.text.size()));
        if (!c.text.empty()) std::memcpy(w, c.text.data(), c.text.size());
        w += c.text.size();
        break;
      }
      default:
        break;
    }
  }
  store_u32(out, m_at, out.size() - m_at - 4);
  store_u32(out, 4, code_length);
  store_u32(out, 0, out.size() - 4);
}

}  // namespace quendal
