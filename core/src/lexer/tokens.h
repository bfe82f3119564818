#pragma once
// The token store of one compilation. The lexer writes every token as a row
// of a few columns: a kind byte, a length byte, the start offset and one
// 32-bit datum whose meaning depends on the kind:
//   Identifier: its SymbolId        Ordinal: the value
//   Operator, Keyword: the member   Number, String, InterpolatedString: the
//   index of the payload in its side table (numbers, strings)
// A token's end is start + length; a token of 255 bytes or more keeps its end
// in a small side table. The main list (the script's tokens) comes first,
// then the lists of every interpolation, each a contiguous range.
//
// The lexer also does the token recovery as it makes each token: what a token
// carries as diagnostics goes to the compilation's records at once, and the
// store keeps the token's best reading. For tools and tests the store also
// remembers those diagnostics per token, with their wrapping level, so the
// token can be shown as the lexer read it (`lexed`).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "lexer/token.h"
#include "quendal/compile.h"

namespace quendal {

// A diagnostic the lexer attached to a token. Level 0 is the outermost
// wrapper; deeper levels wrap the token's reading more closely.
struct TokenDiagnostic {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  DiagnosticCode code = DiagnosticCode::InternalError;
  std::uint8_t level = 0;
};

// Four columns with one size and one capacity, in one block: the kinds, the
// lengths, the starts and the data. A row is appended with one capacity
// check and four stores. A row's length is always `capacity()` bytes after
// its kind, and its datum `capacity()` words after its start, so a writer can
// reach all four from two pointers.
class TokenColumns {
 public:
  TokenColumns() = default;
  TokenColumns(const TokenColumns&) = delete;
  TokenColumns& operator=(const TokenColumns&) = delete;
  TokenColumns(TokenColumns&& other) noexcept { swap(other); }
  TokenColumns& operator=(TokenColumns&& other) noexcept {
    TokenColumns moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~TokenColumns() { ::operator delete(block_); }

  static constexpr std::uint8_t kLongLength = 255;  // the end is in the long-end table
  static constexpr std::size_t kRowBytes = sizeof(TokenTag) + 1 + 4 + 4;

  // The most rows a store holds: token indices are 31-bit (a reference to a
  // token spends one bit of 32 on whether the tree owns it).
  static constexpr std::size_t kMostRows = 0x7FFFFFFFu;

  std::uint32_t size() const { return size_; }
  std::uint32_t capacity() const { return capacity_; }
  // For writers that keep their own count of rows (at most the capacity).
  void set_size(std::uint32_t rows) { size_ = rows; }
  // Capacities are even, so the 32-bit columns stay aligned. More than
  // kMostRows rows cannot be held: asking for them is running out of memory
  // (std::bad_alloc), never a silently smaller block.
  void reserve(std::size_t rows);
  void push(TokenTag tag, std::uint32_t start, std::uint32_t length, std::uint32_t data) {
    if (size_ == capacity_) grow();
    tags()[size_] = tag;
    lengths()[size_] = static_cast<std::uint8_t>(length < kLongLength ? length : kLongLength);
    starts()[size_] = start;
    this->data()[size_] = data;
    ++size_;
  }
  // At least one row more of capacity (std::bad_alloc past kMostRows).
  void grow();
  // Appends every row of `other`.
  void append(const TokenColumns& other);

  TokenTag* tags() { return tags_; }
  const TokenTag* tags() const { return tags_; }
  std::uint8_t* lengths() { return lengths_; }
  const std::uint8_t* lengths() const { return lengths_; }
  std::uint32_t* starts() { return starts_; }
  const std::uint32_t* starts() const { return starts_; }
  std::uint32_t* data() { return data_; }
  const std::uint32_t* data() const { return data_; }

  std::size_t bytes_used() const { return size_ * kRowBytes; }
  std::size_t bytes_reserved() const { return capacity_ * kRowBytes; }

 private:
  void swap(TokenColumns& other) noexcept {
    std::swap(block_, other.block_);
    std::swap(tags_, other.tags_);
    std::swap(lengths_, other.lengths_);
    std::swap(starts_, other.starts_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  // One block: the kinds, then the lengths, the starts and the data.
  unsigned char* block_ = nullptr;
  TokenTag* tags_ = nullptr;
  std::uint8_t* lengths_ = nullptr;
  std::uint32_t* starts_ = nullptr;
  std::uint32_t* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

class Tokens {
 public:
  Tokens() = default;
  explicit Tokens(std::string_view source) : source_(source) {}
  Tokens(const Tokens&) = delete;
  Tokens& operator=(const Tokens&) = delete;
  Tokens(Tokens&&) = default;
  Tokens& operator=(Tokens&&) = default;

  std::string_view source() const { return source_; }
  TokenIndex size() const { return columns_.size(); }
  // The script's own list (for a template: the template token and Eof).
  TokenRange list() const { return list_; }

  TokenTag tag(TokenIndex i) const { return columns_.tags()[i]; }
  std::uint32_t start(TokenIndex i) const { return columns_.starts()[i]; }
  std::uint32_t end(TokenIndex i) const {
    const std::uint8_t length = columns_.lengths()[i];
    return length != TokenColumns::kLongLength ? columns_.starts()[i] + length : long_end(i);
  }
  // Whether the token's end is read from its own columns (all but tokens
  // too long for the length column): column_end() then equals end().
  bool end_in_columns(TokenIndex i) const { return columns_.lengths()[i] != TokenColumns::kLongLength; }
  std::uint32_t column_end(TokenIndex i) const { return columns_.starts()[i] + columns_.lengths()[i]; }
  std::uint32_t data(TokenIndex i) const { return columns_.data()[i]; }
  bool is_operator(TokenIndex i, Operator op) const {
    return tag(i) == TokenTag::Operator && data(i) == static_cast<std::uint32_t>(op);
  }
  bool is_keyword(TokenIndex i, Keyword keyword) const {
    return tag(i) == TokenTag::Keyword && data(i) == static_cast<std::uint32_t>(keyword);
  }
  Operator op(TokenIndex i) const { return static_cast<Operator>(data(i)); }
  // The kind and data columns themselves (valid until the store changes).
  const TokenTag* tag_column() const { return columns_.tags(); }
  const std::uint32_t* data_column() const { return columns_.data(); }
  Keyword keyword(TokenIndex i) const { return static_cast<Keyword>(data(i)); }

  // The token as a value (its reading after recovery).
  Token get(TokenIndex i) const {
    Token t;
    const TokenTag kind = tag(i);
    const std::uint32_t d = data(i);
    t.kind.tag = kind;
    t.start = start(i);
    t.end = end(i);
    t.kind.ordinal = static_cast<std::int32_t>(d);
    if (kind == TokenTag::Identifier) {
      const std::string_view name = symbols_[d];
      t.kind.symbol = d;
      t.kind.text_data = name.data();
      t.kind.text_size = static_cast<std::uint32_t>(name.size());
    } else if (kind == TokenTag::String || kind == TokenTag::InterpolatedString) [[unlikely]] {
      t.kind.string = &strings_[d];
    } else if (kind == TokenTag::Number) [[unlikely]] {
      t.kind.number_info = &numbers_[d];
    } else if (kind == TokenTag::Unknown) [[unlikely]] {
      t.kind.unknown_box = boxes_[d];
    }
    return t;
  }

  // The token as the lexer read it: its reading wrapped in one Unknown level
  // per wrapper level of its diagnostics (boxes made in `arena`), so that
  // tools can show what recovery unwrapped.
  Token lexed(TokenIndex i, Arena& arena) const;
  // The diagnostics the lexer attached to token `i`, outermost level first.
  std::span<const TokenDiagnostic> diagnostics_of(TokenIndex i) const;

  std::string_view symbol_text(SymbolId id) const { return symbols_[id]; }
  // Whether the name starts with "@" (such names are rare, and the parser
  // asks for every bound name: the answer needs no read of the name's text).
  bool symbol_starts_with_at(SymbolId id) const {
    return !at_symbols_.empty() && std::binary_search(at_symbols_.begin(), at_symbols_.end(), id);
  }
  std::size_t symbol_count() const { return symbols_.size(); }
  std::span<const std::string_view> symbols() const { return symbols_; }

  // Appends a token given as a value to the main list (tests and tools build
  // lists this way). Payloads are copied into the side tables, an identifier
  // is interned, an Unknown box is referred to. Appending may move the side
  // tables, so token values read before it must not be used after it.
  TokenIndex append(const Token& token);

  // Bytes held by the token rows and every side table: in use, and
  // allocated.
  std::size_t bytes_used() const;
  std::size_t bytes_reserved() const;

  const std::vector<StringInterpolation>& interpolations() const { return interpolations_; }

  // Where the diagnostics of one token lie in the store's table.
  struct Wrapped {
    TokenIndex token;
    std::uint32_t first;
    std::uint32_t count;
  };

 private:
  friend struct TokenWriter;
  std::uint32_t long_end(TokenIndex i) const;

  std::string_view source_;
  TokenColumns columns_;
  TokenRange list_;
  // (token, end) for tokens of 255 bytes or more, by token.
  std::vector<std::pair<TokenIndex, std::uint32_t>> long_ends_;
  std::vector<std::string_view> symbols_;
  // The names that start with "@", ascending.
  std::vector<SymbolId> at_symbols_;
  std::vector<NumberInfo> numbers_;
  std::vector<StringInfo> strings_;
  std::vector<StringFragment> fragments_;
  std::vector<StringInterpolation> interpolations_;
  std::vector<StringPart> parts_;
  std::vector<UnknownBox*> boxes_;
  // Diagnostics of the tokens that had any, and (token, first, count) into
  // them, by token.
  std::vector<TokenDiagnostic> token_diagnostics_;
  std::vector<Wrapped> wrapped_;
};

// The store that borrowed token references (TokenRef) of this thread read
// from, and the arena that holds the tree's own tokens. Whoever parses a
// store, or walks a tree made from it, keeps a UsingTokens alive for that
// time.
namespace detail {
[[gnu::tls_model("initial-exec")]] inline thread_local const Tokens* tokens_in_use = nullptr;
}  // namespace detail

// The store in use; an internal failure when there is none.
inline const Tokens& tokens_in_use() {
  const Tokens* tokens = detail::tokens_in_use;
  if (tokens == nullptr) [[unlikely]]
    throw InternalFailure("No token store in use");
  return *tokens;
}

class UsingTokens {
 public:
  UsingTokens(const Tokens& tokens, const Arena& arena)
      : previous_(detail::tokens_in_use), previous_arena_(detail::arena_in_use) {
    detail::tokens_in_use = &tokens;
    detail::arena_in_use = &arena;
    detail::reference_blocks = arena.reference_blocks();
  }
  UsingTokens(const UsingTokens&) = delete;
  UsingTokens& operator=(const UsingTokens&) = delete;
  ~UsingTokens() {
    detail::tokens_in_use = previous_;
    detail::arena_in_use = previous_arena_;
    // From the arena itself: its table may have moved in the meantime.
    detail::reference_blocks =
        previous_arena_ != nullptr ? previous_arena_->reference_blocks() : detail::kNoReferenceBlocks;
  }

 private:
  const Tokens* previous_;
  const Arena* previous_arena_;
};

}  // namespace quendal
