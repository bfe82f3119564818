#include <cstring>

#include "lexer/lexer.h"

namespace quendal::lexer {

void skip_blanks(Lexer& lx) {
  const std::string_view s = lx.source;
  std::size_t p = lx.pos;
  while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
  lx.pos = p;
}

namespace {

// Position of the first "\n" or "\r" at or after `from`, or the end of the
// input. A failed line comment (one that ends at a lone "\r") is retried from
// every later "//" on the same line, so the answer is cached: any start
// between the cached start and the cached stop shares the same stop.
std::size_t line_stop(Lexer& lx, std::size_t from) {
  if (from >= lx.line_stop_from && from <= lx.line_stop_at) return lx.line_stop_at;
  const std::string_view s = lx.source;
  std::size_t p = from;
  while (p < s.size() && s[p] != '\n' && s[p] != '\r') ++p;
  lx.line_stop_from = from;
  lx.line_stop_at = p;
  return p;
}

// A line break at `p`: its length (1 for "\n", 2 for "\r\n"), else 0.
std::size_t line_break_at(std::string_view s, std::size_t p) {
  if (p < s.size() && s[p] == '\n') return 1;
  if (p + 1 < s.size() && s[p] == '\r' && s[p + 1] == '\n') return 2;
  return 0;
}

// End of the blanks (" " and "\t") starting at `p`.
std::size_t blank_end(std::string_view s, std::size_t p) {
  while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
  return p;
}

// The recognisers below start at `p`, the first character after the blanks;
// on success they move the lexer past the trivia, on failure they leave it
// where it was.

bool line_comment_at(Lexer& lx, std::size_t p) {
  const std::string_view s = lx.source;
  if (s.substr(p, 2) != "//") return false;
  const std::size_t stop = line_stop(lx, p + 2);
  if (stop == s.size()) {
    lx.pos = stop;
    return true;
  }
  const std::size_t length = line_break_at(s, stop);
  if (length == 0) return false;  // a lone "\r"
  lx.pos = stop + length;
  return true;
}

bool block_comment_at(Lexer& lx, std::size_t p) {
  const std::string_view s = lx.source;
  if (s.substr(p, 2) != "/*") return false;
  const std::size_t close = s.find("*/", p + 2);
  lx.pos = close == std::string_view::npos ? s.size() : close + 2;
  return true;
}

bool new_line_at(Lexer& lx, std::size_t p) {
  const std::size_t length = line_break_at(lx.source, p);
  if (length == 0) return false;
  lx.pos = p + length;
  return true;
}

}  // namespace

// line_comment -> "//" (not "\n" or "\r")* (line break | end of input)
bool line_comment(Lexer& lx) { return line_comment_at(lx, blank_end(lx.source, lx.pos)); }

// block_comment -> "/*" anything up to the first "*/" "*/" (or the rest of
// the input when there is none)
bool block_comment(Lexer& lx) { return block_comment_at(lx, blank_end(lx.source, lx.pos)); }

// new_line -> "\n" | "\r\n"
bool new_line(Lexer& lx) { return new_line_at(lx, blank_end(lx.source, lx.pos)); }

// Every recogniser skips blanks and then needs "/", "\n" or "\r"; the
// blanks are scanned once and the character after them picks the one
// recogniser that can match ("//", "/*" and a line break exclude each other).
void skip_leading_trivia(Lexer& lx) {
  const std::string_view s = lx.source;
  for (;;) {
    const std::size_t p = blank_end(s, lx.pos);
    if (p >= s.size()) return;
    const char c = s[p];
    if (c == '/') {
      if (!line_comment_at(lx, p) && !block_comment_at(lx, p)) return;
    } else if (c == '\n' || c == '\r') {
      if (!new_line_at(lx, p)) return;
    } else {
      return;
    }
  }
}

// tailing_trivia -> block_comment+ (line_comment | new_line) | line_comment | new_line | nothing
void tailing_trivia(Lexer& lx) {
  const std::string_view s = lx.source;
  const std::size_t p = blank_end(s, lx.pos);
  if (p >= s.size()) return;
  const char c = s[p];
  if (c == '/') {
    if (line_comment_at(lx, p)) return;
    const std::size_t origin = lx.pos;
    if (!block_comment_at(lx, p)) return;
    // block_comment+ must end in a line comment or a line break; otherwise
    // none of it is trailing trivia.
    for (;;) {
      const std::size_t q = blank_end(s, lx.pos);
      if (block_comment_at(lx, q)) continue;
      if (line_comment_at(lx, q) || new_line_at(lx, q)) return;
      break;
    }
    lx.pos = origin;
    return;
  }
  if (c == '\n' || c == '\r') new_line_at(lx, p);
}

}  // namespace quendal::lexer
