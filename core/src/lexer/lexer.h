#pragma once
// Lexer state and the sub-lexers shared by `lex`, `lex_string` and the string
// lexer. Internal to the lexer.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "lexer/token.h"
#include "support/arena.h"

namespace quendal::lexer {

// Interpolations nest by recursion (string -> interpolation -> token ->
// string ...). Nesting deeper than this stops the lexer with a failure.
inline constexpr int kMaxInterpolationDepth = 256;

struct Lexer {
  Lexer(std::string_view source, const CompileConfig& config, Arena& arena)
      : source(source), arena(arena), config(config) {
    fragment_stack.reserve(64);
  }

  std::string_view source;
  std::size_t pos = 0;
  Arena& arena;
  const CompileConfig& config;

  // Current interpolation nesting.
  int depth = 0;
  // Set when lexing had to stop (nesting too deep). The position then jumps
  // to the end of the input, so every loop winds down at once.
  bool failed = false;
  std::size_t stop_offset = 0;

  // The first "\n" or "\r" at or after `line_stop_from` is at `line_stop_at`
  // (or the end of the input). Keeps repeated line comment attempts linear.
  std::size_t line_stop_from = std::numeric_limits<std::size_t>::max();
  std::size_t line_stop_at = 0;

  // Reused buffer for number conversions.
  std::string scratch;
  // Fragments of the strings being lexed, innermost last. A literal collects
  // its fragments here and copies them into the arena once, at its exact
  // size, when it is finished.
  std::vector<StringFragment> fragment_stack;

  bool at_end() const { return pos >= source.size(); }
  // The byte at `pos + offset`, or -1 past the end.
  int peek(std::size_t offset = 0) const {
    return pos + offset < source.size() ? static_cast<unsigned char>(source[pos + offset]) : -1;
  }
  std::uint32_t offset() const { return static_cast<std::uint32_t>(pos); }
  void fail() {
    if (!failed) {
      failed = true;
      stop_offset = pos;
    }
    pos = source.size();
  }
};

inline bool is_blank(int c) { return c == ' ' || c == '\t'; }
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_quote(int c) { return c == '"' || c == '\'' || c == '`'; }

// Trivia. Each recogniser skips blanks first and, when it does not match,
// restores the position.
void skip_blanks(Lexer& lx);
bool line_comment(Lexer& lx);
bool block_comment(Lexer& lx);
bool new_line(Lexer& lx);
void skip_leading_trivia(Lexer& lx);
void tailing_trivia(Lexer& lx);

// Skips blanks and lexes exactly one token; may rewrite `previous` (keyword
// adjustment).
Token token(Lexer& lx, Token* previous);

// Identifiers. `at_identifier_start` accepts an XID_Start character, `_`, `$`
// or `@`; `identifier` must be called there.
bool at_identifier_start(const Lexer& lx);
TokenKind identifier(Lexer& lx, bool keywords_allowed);
std::optional<Keyword> find_keyword(std::string_view text);
// Length of the run of identifier-continuation characters at `pos` (a "word").
std::size_t continuation_run(std::string_view text, std::size_t pos);

// Operators: the alternatives for the current character, in table order.
// Consumes the operator on success; leaves the position alone otherwise.
std::optional<Operator> match_operator(Lexer& lx);

// Numbers and ordinals.
TokenKind number(Lexer& lx);
TokenKind ordinal(Lexer& lx);
TokenKind handle_ordinal(Arena& arena, std::string_view text, std::uint32_t start, std::uint32_t end);

// Strings. `string` returns nothing (position unchanged) unless the input is
// an `@` run followed by a quote. `string_content` runs the fragment loop
// from the current position and builds the token kind; `info` holds the
// opening delimiter, raw level and quote.
std::optional<TokenKind> string(Lexer& lx);
TokenKind string_content(Lexer& lx, StringInfo* info);

}  // namespace quendal::lexer
