#include "lexer/identifier.h"

#include <unicode/uchar.h>

#include <array>

#include "lexer/lexer.h"

namespace quendal {

namespace {

// Bit 0: XID_Start, bit 1: XID_Continue, for the ASCII range.
constexpr std::array<std::uint8_t, 128> kAsciiClass = [] {
  std::array<std::uint8_t, 128> t{};
  for (int c = 'a'; c <= 'z'; ++c) t[c] = 3;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = 3;
  for (int c = '0'; c <= '9'; ++c) t[c] = 2;
  t['_'] = 2;
  return t;
}();

}  // namespace

bool is_xid_start(char32_t c) {
  if (c < 0x80) return (kAsciiClass[c] & 1) != 0;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START);
}

bool is_xid_continue(char32_t c) {
  if (c < 0x80) return (kAsciiClass[c] & 2) != 0;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE);
}

namespace lexer {

// Length of the identifier-continuation run at `pos`.
std::size_t continuation_run(std::string_view s, std::size_t pos) {
  const std::size_t begin = pos;
  while (pos < s.size()) {
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
      if ((kAsciiClass[b] & 2) == 0) break;
      ++pos;
      continue;
    }
    std::size_t length;
    const char32_t c = decode_utf8(s, pos, length);
    if (!is_xid_continue(c)) break;
    pos += length;
  }
  return pos - begin;
}

namespace {

std::size_t run_of(std::string_view s, std::size_t pos, char c) {
  std::size_t n = 0;
  while (pos + n < s.size() && s[pos + n] == c) ++n;
  return n;
}

}  // namespace

bool at_identifier_start(const Lexer& lx) {
  const int b = lx.peek();
  if (b < 0) return false;
  if (b == '_' || b == '$' || b == '@') return true;
  if (b < 0x80) return (kAsciiClass[b] & 1) != 0;
  std::size_t length;
  return is_xid_start(decode_utf8(lx.source, lx.pos, length));
}

// identifier -> (XID_Start | "_"+ | "$"+ | "@"+) XID_Continue*
TokenKind identifier(Lexer& lx, bool keywords_allowed) {
  const std::string_view s = lx.source;
  const std::size_t start = lx.pos;
  std::size_t p = start;
  const auto b = static_cast<unsigned char>(s[p]);
  if (b == '_' || b == '$' || b == '@') {
    p += run_of(s, p, static_cast<char>(b));
  } else {
    std::size_t length;
    decode_utf8(s, p, length);
    p += length;
  }
  p += continuation_run(s, p);
  lx.pos = p;
  const std::string_view text = s.substr(start, p - start);
  if (keywords_allowed) {
    if (auto keyword = find_keyword(text)) return TokenKind::of_keyword(*keyword);
  }
  return TokenKind::identifier(text);
}

}  // namespace lexer
}  // namespace quendal
