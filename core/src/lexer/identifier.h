#pragma once
// Character classes of identifiers and UTF-8 decoding.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quendal {

// Unicode XID_Start / XID_Continue, with an ASCII fast path.
bool is_xid_start(char32_t c);
bool is_xid_continue(char32_t c);

// Decodes the scalar value at `pos` (which must be inside `text`) and stores
// its length in bytes. A malformed sequence decodes as U+FFFD of length 1, so
// that callers always make progress.
inline char32_t decode_utf8(std::string_view text, std::size_t pos, std::size_t& length) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  if (b0 < 0x80) {
    length = 1;
    return b0;
  }
  std::size_t n;
  char32_t c;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, c = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, c = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, c = b0 & 0x07;
  } else {
    length = 1;
    return 0xFFFD;
  }
  if (pos + n > text.size()) {
    length = 1;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) {
      length = 1;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  length = n;
  return c;
}

// Length in bytes of the character at `pos`.
inline std::size_t utf8_length_at(std::string_view text, std::size_t pos) {
  std::size_t length;
  decode_utf8(text, pos, length);
  return length;
}

// Appends the UTF-8 form of `c` to `out` and returns the number of bytes.
inline std::size_t encode_utf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

inline std::size_t utf8_size(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

}  // namespace quendal
