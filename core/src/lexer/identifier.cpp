#include "lexer/identifier.h"

#include <unicode/uchar.h>

#include <array>
#include <bit>

#include "lexer/keyword_table.h"
#include "lexer/lexer.h"

namespace quendal {

namespace lexer {

const std::uint8_t kAsciiIdentifier[128] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // control characters
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // blank and punctuation
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 0, 0,  // digits
    0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // @ A-O
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0, 2,  // P-Z _
    0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // a-o
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0,  // p-z
};

}  // namespace lexer

bool is_xid_start(char32_t c) {
  if (c < 0x80) return (lexer::kAsciiIdentifier[c] & 1) != 0;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START);
}

bool is_xid_continue(char32_t c) {
  if (c < 0x80) return (lexer::kAsciiIdentifier[c] & 2) != 0;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE);
}

namespace lexer {

namespace {

// The end of the identifier-continuation run starting at `p`. ASCII bytes go
// through the table; ICU is asked only about other characters.
inline std::size_t continuation_end(const char* s, std::size_t size, std::size_t p) {
  for (;;) {
    while (p < size) {
      const auto b = static_cast<unsigned char>(s[p]);
      if (b >= 0x80 || (kAsciiIdentifier[b] & 2) == 0) break;
      ++p;
    }
    if (p >= size || static_cast<unsigned char>(s[p]) < 0x80) return p;
    std::size_t length;
    if (!is_xid_continue(decode_utf8(std::string_view(s, size), p, length))) return p;
    p += length;
  }
}

constexpr std::uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;

inline std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

// The key of a name longer than 8 bytes.
std::uint64_t hash_bytes(const char* p, std::size_t n) {
  std::uint64_t h = n * kHashMultiplier;
  while (n > 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * kHashMultiplier;
    p += 8;
    n -= 8;
  }
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < n; ++i)
    w |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return mix((h ^ w) * kHashMultiplier);
}

}  // namespace

std::size_t continuation_run(std::string_view s, std::size_t pos) {
  return continuation_end(s.data(), s.size(), pos) - pos;
}

SymbolIndex::SymbolIndex(std::size_t expected) {
  // Half full at most: 2 * expected slots, a power of two, kFirstCapacity
  // or more (the keywords take 40).
  std::size_t capacity = kFirstCapacity;
  while (capacity / 2 < expected) capacity *= 2;
  if (capacity == kFirstCapacity) {
    // Most sources are small: their table is a copy of the first size
    // with the keywords in place, made once and never destroyed (a
    // compilation on another thread may still copy it while the process
    // exits).
    static const SymbolIndex& first = *new SymbolIndex(Seeded{}, kFirstCapacity);
    slots_ = first.slots_;
    mask_ = first.mask_;
    shift_ = first.shift_;
    count_ = first.count_;
    limit_ = first.limit_;
    return;
  }
  seed(capacity);
}

SymbolIndex::SymbolIndex(Seeded, std::size_t capacity) { seed(capacity); }

void SymbolIndex::seed(std::size_t capacity) {
  grow(capacity);
  for (std::size_t k = 0; k < kKeywords.size(); ++k) {
    if (!matched_by_words(kKeywords[k])) continue;
    const std::uint64_t word = word_of(kKeywords[k].spelling);
    claim(find_short(word), word).keyword = static_cast<std::uint32_t>(k + 1);
  }
}

SymbolIndex::Slot& SymbolIndex::claim(Slot& slot, std::uint64_t key) {
  Slot* empty = &slot;
  if (count_ >= limit_) [[unlikely]] {
    grow(slots_.size() * 2);
    std::size_t i = (key * kFibonacci) >> shift_;
    while (slots_[i].key != 0) i = (i + 1) & mask_;
    empty = &slots_[i];
  }
  ++count_;
  empty->key = key;
  return *empty;
}

[[gnu::always_inline]] inline SymbolId SymbolIndex::give_id(std::vector<std::string_view>& symbols,
                                                            Slot& slot, const char* text,
                                                            std::size_t length) {
  const auto id = static_cast<SymbolId>(symbols.size());
  symbols.emplace_back(text, length);
  if (length != 0 && text[0] == '@') [[unlikely]]
    at_names_.push_back(id);
  slot.id = id + 1;
  return id;
}

SymbolId SymbolIndex::add_short(std::vector<std::string_view>& symbols, Slot& slot, const char* text,
                                std::uint32_t length, std::uint64_t word) {
  if (slot.key == 0) return give_id(symbols, claim(slot, word), text, length);
  return give_id(symbols, slot, text, length);  // a keyword's spelling, first used as a name
}

SymbolId SymbolIndex::intern(std::vector<std::string_view>& symbols, std::string_view text) {
  if (text.size() <= 8)
    return intern_short(symbols, text.data(), static_cast<std::uint32_t>(text.size()),
                        short_word(text.data(), text.size(), text.data() + text.size()));
  // Lowest byte 0: never the key of a short name. Bit 8 set: never empty.
  const std::uint64_t key = (hash_bytes(text.data(), text.size()) & ~std::uint64_t{0xFF}) | 0x100;
  std::size_t i = (key * kFibonacci) >> shift_;
  for (;;) {
    Slot& slot = slots_[i];
    if (slot.key == 0) return give_id(symbols, claim(slot, key), text.data(), text.size());
    if (slot.key == key && symbols[slot.id - 1] == text) return slot.id - 1;
    i = (i + 1) & mask_;
  }
}

void SymbolIndex::grow(std::size_t capacity) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot{});
  mask_ = capacity - 1;
  shift_ = 64 - std::countr_zero(capacity);
  limit_ = capacity / 2;
  for (const Slot& slot : old) {
    if (slot.key == 0) continue;
    std::size_t i = (slot.key * kFibonacci) >> shift_;
    while (slots_[i].key != 0) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
}

bool at_identifier_start(const Lexer& lx) {
  const int b = lx.peek();
  if (b < 0) return false;
  if (b == '_' || b == '$' || b == '@') return true;
  if (b < 0x80) return (kAsciiIdentifier[b] & 1) != 0;
  std::size_t length;
  return is_xid_start(decode_utf8(lx.source, lx.pos, length));
}

// identifier -> (XID_Start | "_"+ | "$"+ | "@"+) XID_Continue*
Lexed identifier(Lexer& lx, bool keywords_allowed) {
  const char* s = lx.src;
  const std::size_t size = lx.size;
  const std::size_t start = lx.pos;
  std::size_t p = start;
  const auto b = static_cast<unsigned char>(s[p]);
  if (b == '_' || b == '$' || b == '@') {
    do ++p;
    while (p < size && static_cast<unsigned char>(s[p]) == b);
  } else if (b < 0x80) {
    ++p;
  } else {
    std::size_t length;
    decode_utf8(lx.source, p, length);
    p += length;
  }
  p = continuation_end(s, size, p);
  lx.pos = p;
  const std::size_t n = p - start;
  const char* text = s + start;
  Lexed result;
  if (n <= 8) {
    // The word, zero-padded, is the key of the name or of the keyword.
    const std::uint64_t w = short_word(text, n, s + size);
    SymbolIndex::Slot& slot = lx.symbol_index.find_short(w);
    if (keywords_allowed && slot.keyword != 0) {
      result.tag = TokenTag::Keyword;
      result.data = slot.keyword - 1;
      return result;
    }
    result.tag = TokenTag::Identifier;
    result.data = lx.symbol_index.id_of(lx.out.symbols(), slot, text, static_cast<std::uint32_t>(n), w);
    return result;
  }
  result.tag = TokenTag::Identifier;
  result.data = lx.intern(std::string_view(text, n));
  return result;
}

}  // namespace lexer
}  // namespace quendal
