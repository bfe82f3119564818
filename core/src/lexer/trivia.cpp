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

}  // namespace

bool trivia_may_follow(const Lexer& lx);

// line_comment -> "//" (not "\n" or "\r")* (line break | end of input)
bool line_comment(Lexer& lx) {
  const std::size_t save = lx.pos;
  skip_blanks(lx);
  const std::string_view s = lx.source;
  if (lx.source.substr(lx.pos, 2) != "//") {
    lx.pos = save;
    return false;
  }
  const std::size_t stop = line_stop(lx, lx.pos + 2);
  if (stop == s.size()) {
    lx.pos = stop;
    return true;
  }
  const std::size_t length = line_break_at(s, stop);
  if (length == 0) {  // a lone "\r"
    lx.pos = save;
    return false;
  }
  lx.pos = stop + length;
  return true;
}

// block_comment -> "/*" anything up to the first "*/" "*/" (or the rest of
// the input when there is none)
bool block_comment(Lexer& lx) {
  const std::size_t save = lx.pos;
  skip_blanks(lx);
  const std::string_view s = lx.source;
  if (s.substr(lx.pos, 2) != "/*") {
    lx.pos = save;
    return false;
  }
  const std::size_t close = s.find("*/", lx.pos + 2);
  lx.pos = close == std::string_view::npos ? s.size() : close + 2;
  return true;
}

// new_line -> "\n" | "\r\n"
bool new_line(Lexer& lx) {
  const std::size_t save = lx.pos;
  skip_blanks(lx);
  const std::size_t length = line_break_at(lx.source, lx.pos);
  if (length == 0) {
    lx.pos = save;
    return false;
  }
  lx.pos += length;
  return true;
}

// Every recogniser skips blanks and then needs "/", "\n" or "\r"; when none
// of those follows, nothing can match and the attempts are skipped.
bool trivia_may_follow(const Lexer& lx) {
  const std::string_view s = lx.source;
  std::size_t p = lx.pos;
  while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
  return p < s.size() && (s[p] == '/' || s[p] == '\n' || s[p] == '\r');
}

void skip_leading_trivia(Lexer& lx) {
  for (;;) {
    if (!trivia_may_follow(lx)) return;
    if (line_comment(lx) || block_comment(lx) || new_line(lx)) continue;
    return;
  }
}

// tailing_trivia -> block_comment+ (line_comment | new_line) | line_comment | new_line | nothing
void tailing_trivia(Lexer& lx) {
  if (!trivia_may_follow(lx)) return;
  const std::size_t save = lx.pos;
  if (block_comment(lx)) {
    while (block_comment(lx)) {
    }
    if (line_comment(lx) || new_line(lx)) return;
    lx.pos = save;
  }
  if (line_comment(lx)) return;
  new_line(lx);
}

}  // namespace quendal::lexer
