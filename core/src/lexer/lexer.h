#pragma once
// Lexer state and the sub-lexers shared by `lex`, `lex_string` and the string
// lexer. Internal to the lexer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "config/compile_config.h"
#include "lexer/tokens.h"
#include "support/arena.h"

namespace quendal {

class DiagnosticsCollector;

// The lexer's write access to a store.
struct TokenWriter {
  Tokens& tokens;
  TokenColumns& columns() { return tokens.columns_; }
  TokenRange& list() { return tokens.list_; }
  std::vector<std::pair<TokenIndex, std::uint32_t>>& long_ends() { return tokens.long_ends_; }
  std::vector<std::string_view>& symbols() { return tokens.symbols_; }
  std::vector<SymbolId>& at_symbols() { return tokens.at_symbols_; }
  std::vector<NumberInfo>& numbers() { return tokens.numbers_; }
  std::vector<StringInfo>& strings() { return tokens.strings_; }
  std::vector<StringFragment>& fragments() { return tokens.fragments_; }
  std::vector<StringInterpolation>& interpolations() { return tokens.interpolations_; }
  std::vector<StringPart>& parts() { return tokens.parts_; }
  std::vector<TokenDiagnostic>& diagnostics() { return tokens.token_diagnostics_; }
  std::vector<Tokens::Wrapped>& wrapped() { return tokens.wrapped_; }
};

namespace lexer {

// Interpolations nest by recursion (string -> interpolation -> token ->
// string ...). Nesting deeper than this stops the lexer with a failure.
inline constexpr int kMaxInterpolationDepth = 256;

// One token as a recogniser returns it: the kind byte, the datum of its row,
// and the diagnostics it carries ([diag_first, diag_first + diag_count) of
// the store's token diagnostics).
struct Lexed {
  TokenTag tag = TokenTag::Empty;
  std::uint32_t data = 0;
  std::uint32_t diag_first = 0;
  std::uint32_t diag_count = 0;
};

// A token of an interpolation's list while that list is being lexed.
struct ListToken {
  TokenTag tag;
  std::uint32_t data;
  std::uint32_t start;
  std::uint32_t end;
  std::uint32_t diag_first;
  std::uint32_t diag_count;
};

// The low `length` bytes of a word, for `length` from 0 to 8.
inline constexpr std::uint64_t kLowBytes[9] = {0,
                                               0xFF,
                                               0xFFFF,
                                               0xFFFFFF,
                                               0xFFFFFFFF,
                                               0xFFFFFFFFFF,
                                               0xFFFFFFFFFFFF,
                                               0xFFFFFFFFFFFFFF,
                                               0xFFFFFFFFFFFFFFFF};

// Identifier spellings to dense ids, by open addressing, with the keywords in
// the same table so that a name is looked up once. A name of at most 8 bytes
// is its own key (its bytes as a little-endian integer, zero-padded; names
// hold no NUL, so the key fixes the name and its lowest byte is never 0). A
// longer name is keyed by its hash with the lowest byte cleared, so that it
// never meets a short key, and is compared in full. The keywords have their
// slots from the start; a keyword's spelling gets a symbol id only when it is
// first used as a name.
class SymbolIndex {
 public:
  struct Slot {
    std::uint64_t key = 0;      // 0: empty
    std::uint32_t id = 0;       // symbol id + 1; 0: none yet
    std::uint32_t keyword = 0;  // Keyword + 1; 0: not a keyword
  };

  // Room for about `expected` names before the table first grows (128
  // entries at least, the keywords among them).
  explicit SymbolIndex(std::size_t expected = 0);

  // The slot of the name of at most 8 bytes whose key is `word`, or the empty
  // slot where it goes.
  Slot& find_short(std::uint64_t word) {
    std::size_t i = (word * kFibonacci) >> shift_;
    for (;;) {
      Slot& slot = slots_[i];
      if (slot.key == word || slot.key == 0) [[likely]]
        return slot;
      i = (i + 1) & mask_;
    }
  }
  // The id of the name found in `slot` by find_short, given when it has none.
  SymbolId id_of(std::vector<std::string_view>& symbols, Slot& slot, const char* text, std::uint32_t length,
                 std::uint64_t word) {
    if (slot.id != 0) [[likely]]
      return slot.id - 1;
    return add_short(symbols, slot, text, length, word);
  }
  SymbolId intern_short(std::vector<std::string_view>& symbols, const char* text, std::uint32_t length,
                        std::uint64_t word) {
    return id_of(symbols, find_short(word), text, length, word);
  }
  SymbolId intern(std::vector<std::string_view>& symbols, std::string_view text);
  // The ids of the names that start with "@", ascending.
  std::vector<SymbolId>& at_names() { return at_names_; }

 private:
  static constexpr std::uint64_t kFibonacci = 0x9E3779B97F4A7C15ull;
  static constexpr std::size_t kFirstCapacity = 256;
  struct Seeded {};
  // A table of `capacity` slots with the keywords in place.
  SymbolIndex(Seeded, std::size_t capacity);
  void seed(std::size_t capacity);
  // A new name into the empty `slot`, or the first id of a keyword's spelling.
  SymbolId add_short(std::vector<std::string_view>& symbols, Slot& slot, const char* text,
                     std::uint32_t length, std::uint64_t word);
  // Takes an empty slot for `key` (growing first when half full).
  Slot& claim(Slot& slot, std::uint64_t key);
  // The next id, for the name of `length` bytes at `text`, into `slot`.
  SymbolId give_id(std::vector<std::string_view>& symbols, Slot& slot, const char* text, std::size_t length);
  void grow(std::size_t capacity);

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  int shift_ = 64;
  std::size_t count_ = 0;  // slots taken
  std::size_t limit_ = 0;  // grow at half full
  std::vector<SymbolId> at_names_;
};

// The key of a name of at most 8 bytes: its bytes, zero-padded. Reads a whole
// word when 8 bytes are left in the input (`limit` is its end).
inline std::uint64_t short_word(const char* text, std::size_t length, const char* limit) {
  std::uint64_t w = 0;
  if (limit - text >= 8) {
    std::memcpy(&w, text, 8);
    w &= kLowBytes[length];
  } else {
    for (std::size_t i = 0; i < length; ++i)
      w |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  }
  return w;
}

struct Lexer {
  Lexer(std::string_view source, const CompileConfig& config, Arena& arena, Tokens& tokens,
        DiagnosticsCollector* records);

  std::string_view source;
  const char* src;
  std::size_t size;
  std::size_t pos = 0;
  Arena& arena;
  const CompileConfig& config;
  TokenWriter out;
  DiagnosticsCollector* records;
  bool tags;

  // The lists of interpolations, appended after the main list at the end.
  TokenColumns nested;
  std::vector<std::pair<TokenIndex, std::uint32_t>> nested_long_ends;
  std::vector<Tokens::Wrapped> nested_wrapped;
  // One list per nesting level, reused; made when a string first reaches
  // the level (most sources have no interpolation, or only shallow ones).
  std::vector<std::vector<ListToken>> lists;
  // The list of level `depth`. Room for every level is reserved with the
  // first, so a level's list never moves while deeper levels make theirs.
  std::vector<ListToken>& list_at(int depth) {
    const auto level = static_cast<std::size_t>(depth);
    if (level >= kMaxInterpolationDepth + 2) [[unlikely]]
      throw InternalFailure("an interpolation nested beyond the limit");
    if (lists.capacity() == 0) lists.reserve(kMaxInterpolationDepth + 2);
    while (lists.size() <= level) lists.emplace_back();
    return lists[level];
  }

  // Sized for one new name per 128 bytes of source, so that scripts like the
  // benchmark corpus (about one per 190 bytes) never rehash.
  SymbolIndex symbol_index{size / 128};

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
  // its fragments here and copies them into the store when it is finished.
  std::vector<StringFragment> fragment_stack;

  bool at_end() const { return pos >= size; }
  // The byte at `pos + offset`, or -1 past the end.
  int peek(std::size_t offset = 0) const {
    return pos + offset < size ? static_cast<unsigned char>(src[pos + offset]) : -1;
  }
  std::uint32_t offset() const { return static_cast<std::uint32_t>(pos); }
  void fail() {
    if (!failed) {
      failed = true;
      stop_offset = pos;
    }
    pos = size;
  }

  // A token's diagnostics, outermost level first. Returns the first index.
  std::uint32_t diagnostic(std::uint32_t start, std::uint32_t end, DiagnosticCode code, std::uint8_t level) {
    auto& list = out.diagnostics();
    list.push_back({start, end, code, level});
    return static_cast<std::uint32_t>(list.size() - 1);
  }
  SymbolId intern(std::string_view text) { return symbol_index.intern(out.symbols(), text); }
};

inline bool is_blank(int c) { return c == ' ' || c == '\t'; }
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_quote(int c) { return c == '"' || c == '\'' || c == '`'; }

// Bit 0: XID_Start, bit 1: XID_Continue, for the ASCII range.
extern const std::uint8_t kAsciiIdentifier[128];

// Skips blanks, line breaks and comments: everything between two tokens.
void skip_trivia(Lexer& lx);
void skip_blanks(Lexer& lx);

// Whether a main list of `main` rows and interpolation lists of `nested`
// rows fit in one store (token indices are 32-bit).
inline bool rows_fit(std::uint64_t main, std::uint64_t nested) {
  return main + nested <= TokenColumns::kMostRows;
}

// The main list of a script, up to and including its Eof token.
void lex_main(Lexer& lx);

// Skips blanks and lexes exactly one token. The caller applies the keyword
// adjustment to the token before it.
Lexed token(Lexer& lx, bool after_dot, std::uint32_t& start, std::uint32_t& end);

// The keyword adjustment: the token after a keyword decides whether it stays
// one. When `not` and `in` merge, `previous_end` moves to the end of `in`
// and `next` becomes the Empty token that the caller drops.
void adjust_keyword(Lexer& lx, TokenTag& previous_tag, std::uint32_t& previous_data,
                    std::uint32_t& previous_end, Lexed& next, std::uint32_t& next_start,
                    std::uint32_t next_end);

// Identifiers. `at_identifier_start` accepts an XID_Start character, `_`, `$`
// or `@`; `identifier` must be called there.
bool at_identifier_start(const Lexer& lx);
Lexed identifier(Lexer& lx, bool keywords_allowed);
// Length of the run of identifier-continuation characters at `pos` (a "word").
std::size_t continuation_run(std::string_view text, std::size_t pos);

// Numbers and ordinals.
Lexed number(Lexer& lx);
Lexed ordinal(Lexer& lx);
// The ordinal a word denotes, as a token kind wrapped in one Unknown level per
// diagnostic (for tests).
TokenKind handle_ordinal(Arena& arena, std::string_view text, std::uint32_t start, std::uint32_t end);

// Strings. `string` returns false (position unchanged) unless the input is an
// `@` run followed by a quote. `string_content` runs the fragment loop from
// the current position and builds the token; `info` holds the opening
// delimiter, raw level and quote.
bool string(Lexer& lx, Lexed& result);
Lexed string_content(Lexer& lx, StringInfo info);

// The records recovery takes from a token of the main list (its diagnostics,
// its tag, and those of the tokens nested in it).
void recover(Lexer& lx, const Lexed& token, std::uint32_t start, std::uint32_t end);

}  // namespace lexer
}  // namespace quendal
