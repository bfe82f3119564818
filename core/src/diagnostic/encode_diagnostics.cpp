#include "diagnostic/encode_diagnostics.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "quendal/compile.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quendal {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

std::uint64_t count_bytes(std::string_view text) { return text.size(); }

// Number of bytes of `flags` (each 0x80 or 0) that are set.
inline std::uint64_t count_flags(std::uint64_t flags) { return ((flags >> 7) * 0x0101010101010101ull) >> 56; }

// Continuation bytes (10xxxxxx) among the eight bytes of `word`.
inline std::uint64_t continuation_bytes(std::uint64_t word) {
  constexpr std::uint64_t high = 0x8080808080808080ull;
  return count_flags(word & ~(word << 1) & high);
}

// Bytes that start a four-byte sequence (11110xxx) among the eight of `word`.
inline std::uint64_t four_byte_leads(std::uint64_t word) {
  constexpr std::uint64_t high = 0x8080808080808080ull;
  // Bits 7..4 all set: fold them onto bit 7.
  const std::uint64_t folded = word & (word << 1) & (word << 2) & (word << 3);
  return count_flags(folded & high);
}

inline std::uint64_t load_word(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

std::uint64_t count_code_points(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t count = n;
  for (; n >= 8; p += 8, n -= 8) count -= continuation_bytes(load_word(p));
  for (; n > 0; ++p, --n) count -= is_continuation(static_cast<unsigned char>(*p));
  return count;
}

// Characters at or above U+10000 (four-byte sequences) take two units.
std::uint64_t count_utf16_units(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t count = n;
  for (; n >= 8; p += 8, n -= 8) {
    const std::uint64_t word = load_word(p);
    count += four_byte_leads(word);
    count -= continuation_bytes(word);
  }
  for (; n > 0; ++p, --n) {
    const auto b = static_cast<unsigned char>(*p);
    count += (b >= 0xF0);
    count -= is_continuation(b);
  }
  return count;
}

[[noreturn]] void fail_position(std::uint64_t pos, const char* why) {
  throw InternalFailure("Invalid diagnostic position " + std::to_string(pos) + ": " + why);
}

}  // namespace

CodePointCounter code_point_counter(PositionUnit unit) {
  switch (unit) {
    case PositionUnit::Utf8Bytes:
      return count_bytes;
    case PositionUnit::Utf16Units:
      return count_utf16_units;
    case PositionUnit::CodePoints:
      return count_code_points;
  }
  throw InternalFailure("Invalid position unit " + std::to_string(static_cast<int>(unit)));
}

namespace {

// Bit i of `newlines` is set when byte i of the 64 at `p` is "\n"; `high` is
// nonzero when one of them is not ASCII.
struct BlockScan {
  std::uint64_t newlines = 0;
  std::uint64_t high = 0;
};

BlockScan scan_block(const char* p) {
  BlockScan scan;
#if defined(__SSE2__)
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
  const __m128i newline = _mm_set1_epi8('\n');
  const auto mask = [&](__m128i v) {
    return static_cast<std::uint64_t>(
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline))));
  };
  scan.newlines = mask(a) | mask(b) << 16 | mask(c) << 32 | mask(d) << 48;
  scan.high =
      static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))));
#else
  constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
  for (int k = 0; k < 8; ++k) {
    const std::uint64_t word = load_word(p + 8 * k);
    scan.high |= word & 0x8080808080808080ull;
    // Bit 7 of each byte that equals "\n" (no carry crosses a byte).
    const std::uint64_t x = word ^ 0x0A0A0A0A0A0A0A0Aull;
    const std::uint64_t equal = ~(((x & low7) + low7) | x | low7);
    // Those bits, one per byte, gathered into the byte's place in the mask.
    scan.newlines |= (((equal >> 7) * 0x0102040810204080ull) >> 56) << (8 * k);
  }
#endif
  return scan;
}

// Bit i of `characters` is set when byte i of the 64 at `p` starts a
// character (is no continuation byte), of `four_byte` when it starts a
// four-byte one.
struct BlockStarts {
  std::uint64_t characters = 0;
  std::uint64_t four_byte = 0;
};

BlockStarts block_starts(const char* p) {
  BlockStarts starts;
  std::uint64_t continuations = 0;
#if defined(__SSE2__)
  const __m128i top2 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i continuation = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i top4 = _mm_set1_epi8(static_cast<char>(0xF0));
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const auto bits = [](__m128i flags) {
      return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(flags)));
    };
    continuations |= bits(_mm_cmpeq_epi8(_mm_and_si128(v, top2), continuation)) << (16 * k);
    starts.four_byte |= bits(_mm_cmpeq_epi8(_mm_and_si128(v, top4), top4)) << (16 * k);
  }
#else
  constexpr std::uint64_t high = 0x8080808080808080ull;
  // Bit 7 of each byte, gathered into the byte's place in the mask.
  const auto gather = [](std::uint64_t flags) { return ((flags >> 7) * 0x0102040810204080ull) >> 56; };
  for (int k = 0; k < 8; ++k) {
    const std::uint64_t word = load_word(p + 8 * k);
    continuations |= gather(word & ~(word << 1) & high) << (8 * k);
    starts.four_byte |= gather(word & (word << 1) & (word << 2) & (word << 3) & high) << (8 * k);
  }
#endif
  starts.characters = ~continuations;
  return starts;
}

}  // namespace

LineIndex::LineIndex(std::string_view source, PositionUnit unit) {
  build_lines(source);
  // In ASCII text every unit is one byte.
  if (unit == PositionUnit::Utf8Bytes || columns_ == Columns::Ascii) {
    counter_ = count_bytes;
    return;
  }
  counter_ = code_point_counter(unit);  // throws for an invalid unit
  if (source.size() < kEndOfSource) build_units(unit);
}

void LineIndex::build_lines(std::string_view source) {
  source_ = source;
  if (source.size() >= kEndOfSource) {
    // Position 0 alone: see locate_slow.
    line_starts_ = {std::make_unique<std::uint32_t[]>(2), 2};
    line_starts_.data[1] = kEndOfSource;
    block_lines_ = {std::make_unique<std::uint32_t[]>(1), 1};
    return;
  }
  const auto size = static_cast<std::uint32_t>(source.size());
  checked_size_ = size;
  // Line starts, and each block's line (the line of its first byte, so
  // recorded before the block's line feeds are read). Line starts are
  // written through a pointer; before each block there is room for as many
  // as it has bytes, and for the sentinel.
  const std::uint32_t full = size >> kBlockShift;
  block_lines_ = {std::make_unique_for_overwrite<std::uint32_t[]>(full + 1), full + 1};
  std::uint32_t* const block_lines = block_lines_.data.get();
  std::size_t capacity = size / 16 + kBlockBytes + 2;
  std::unique_ptr<std::uint32_t[]> starts = std::make_unique_for_overwrite<std::uint32_t[]>(capacity);
  std::uint32_t* out = starts.get();
  *out++ = 0;
  std::uint32_t* room = starts.get() + capacity - (kBlockBytes + 1);  // past it, a block may not fit
  std::uint32_t line = 0;
  std::uint64_t high = 0;
  const auto take = [&](std::uint32_t base, const BlockScan& scan) {
    high |= scan.high;
    if (out > room) [[unlikely]] {
      const auto used = static_cast<std::size_t>(out - starts.get());
      capacity *= 2;
      std::unique_ptr<std::uint32_t[]> grown = std::make_unique_for_overwrite<std::uint32_t[]>(capacity);
      std::memcpy(grown.get(), starts.get(), used * sizeof(std::uint32_t));
      starts = std::move(grown);
      out = starts.get() + used;
      room = starts.get() + capacity - (kBlockBytes + 1);
    }
    for (std::uint64_t bits = scan.newlines; bits != 0; bits &= bits - 1) {
      const std::uint32_t next = base + static_cast<std::uint32_t>(std::countr_zero(bits)) + 1;
      if (next == size) break;  // a final "\n" starts no line
      *out++ = next;
      ++line;
    }
  };
  const char* data = source.data();
  for (std::uint32_t block = 0; block < full; ++block) {
    block_lines[block] = line;
    take(block << kBlockShift, scan_block(data + (std::size_t{block} << kBlockShift)));
  }
  block_lines[full] = line;
  if (const std::uint32_t rest = size & (kBlockBytes - 1); rest != 0) {
    char tail[kBlockBytes] = {};  // zeros: neither line feeds nor beyond ASCII
    std::memcpy(tail, data + (std::size_t{full} << kBlockShift), rest);
    take(full << kBlockShift, scan_block(tail));
  }
  *out++ = kEndOfSource;
  const auto count = static_cast<std::size_t>(out - starts.get());
  line_starts_ = {std::move(starts), count};
  columns_ = high == 0 ? Columns::Ascii : Columns::Bytes;
}

void LineIndex::build_units(PositionUnit unit) {
  const bool utf16 = unit == PositionUnit::Utf16Units;
  columns_ = utf16 ? Columns::Utf16Units : Columns::CodePoints;
  const std::size_t blocks = block_lines_.size;
  block_units_.resize(blocks);
  character_starts_.resize(blocks);
  if (utf16) four_byte_starts_.resize(blocks);
  const char* data = source_.data();
  const std::uint32_t size = checked_size_;
  std::uint32_t units = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t from = b << kBlockShift;
    char tail[kBlockBytes] = {};  // zeros past the end: bits never counted
    const char* p = data + from;
    if (size - from < kBlockBytes) {
      std::memcpy(tail, p, size - from);
      p = tail;
    }
    const BlockStarts starts = block_starts(p);
    block_units_[b] = units;
    character_starts_[b] = starts.characters;
    units += bit_count(starts.characters);
    if (utf16) {
      four_byte_starts_[b] = starts.four_byte;
      units += bit_count(starts.four_byte);
    }
  }
  line_units_.resize(line_starts_.size - 1);
  for (std::size_t l = 0; l < line_units_.size(); ++l)
    line_units_[l] = utf16 ? units_before<Columns::Utf16Units>(line_starts_[l])
                           : units_before<Columns::CodePoints>(line_starts_[l]);
}

// A position the tables do not answer: one in a source without tables, or
// an invalid one.
LineCol LineIndex::locate_slow(std::uint32_t value) const {
  const std::uint64_t size = source_.size();
  const std::uint64_t pos = size >= kEndOfSource && value == kEndOfSource ? size : value;
  if (pos > size) fail_position(pos, "beyond the source");
  if (pos < size && is_continuation(source_[pos])) fail_position(pos, "not on a character boundary");
  // Only sources of kEndOfSource bytes or more get here with a valid
  // position: count the line feeds before it that start a line.
  std::uint64_t line = 1;
  std::uint64_t start = 0;
  const std::uint64_t limit = std::min(pos, size - 1);
  const char* data = source_.data();
  for (std::uint64_t at = 0; at < limit;) {
    const void* found = std::memchr(data + at, '\n', limit - at);
    if (found == nullptr) break;
    start = static_cast<std::uint64_t>(static_cast<const char*>(found) - data) + 1;
    ++line;
    at = start;
  }
  const std::uint64_t column = 1 + counter_(source_.substr(start, pos - start));
  constexpr std::uint64_t limit32 = std::numeric_limits<std::uint32_t>::max();
  if (line > limit32 || column > limit32) fail_position(pos, "line or column exceeds 32 bits");
  return {static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(column)};
}

namespace {

// Through a small buffer: the output is never filled twice (zeros, then the
// values).
template <LineIndex::Columns C>
void encode_all(const LineIndex& index, std::span<const SourceDiagnostic> records,
                std::vector<std::uint32_t>& out) {
  constexpr std::size_t kRecords = 256;
  std::uint32_t buffer[kRecords * 5];
  LineIndex::Cursor<C> cursor(index);
  for (std::size_t at = 0; at < records.size(); at += kRecords) {
    const std::span<const SourceDiagnostic> chunk =
        records.subspan(at, std::min(kRecords, records.size() - at));
    cursor.encode(chunk, buffer);
    out.insert(out.end(), buffer, buffer + chunk.size() * 5);
  }
}

}  // namespace

std::vector<std::uint32_t> encode_diagnostics(std::string_view source,
                                              std::span<const SourceDiagnostic> diagnostics,
                                              PositionUnit unit) {
  std::vector<std::uint32_t> out;
  if (diagnostics.empty()) return out;
  const LineIndex index(source, unit);
  out.reserve(diagnostics.size() * 5);
  index.with_columns([&]<LineIndex::Columns C>() { encode_all<C>(index, diagnostics, out); });
  return out;
}

}  // namespace quendal
