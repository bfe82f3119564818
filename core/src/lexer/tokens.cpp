#include "lexer/tokens.h"

#include <new>

namespace quendal {

void TokenColumns::reserve(std::size_t rows) {
  if (rows <= capacity_) return;
  if (rows > kMostRows) throw std::bad_alloc();
  rows = (rows + 1) & ~std::size_t{1};
  auto* block = static_cast<unsigned char*>(::operator new(rows* kRowBytes));
  auto* tags = reinterpret_cast<TokenTag*>(block);
  auto* lengths = block + rows;
  auto* starts = reinterpret_cast<std::uint32_t*>(block + 2 * rows);
  auto* data = reinterpret_cast<std::uint32_t*>(block + 6 * rows);
  if (size_ != 0) {
    std::memcpy(tags, tags_, size_ * sizeof(TokenTag));
    std::memcpy(lengths, lengths_, size_ * sizeof(std::uint8_t));
    std::memcpy(starts, starts_, size_ * sizeof(std::uint32_t));
    std::memcpy(data, data_, size_ * sizeof(std::uint32_t));
  }
  ::operator delete(block_);
  block_ = block;
  tags_ = tags;
  lengths_ = lengths;
  starts_ = starts;
  data_ = data;
  capacity_ = static_cast<std::uint32_t>(rows);
}

void TokenColumns::grow() {
  if (capacity_ >= kMostRows) throw std::bad_alloc();
  reserve(capacity_ < 16 ? 16 : std::min<std::size_t>(static_cast<std::size_t>(capacity_) * 2, kMostRows));
}

void TokenColumns::append(const TokenColumns& other) {
  if (other.size_ == 0) return;
  reserve(static_cast<std::size_t>(size_) + other.size_);
  std::memcpy(tags() + size_, other.tags(), other.size_ * sizeof(TokenTag));
  std::memcpy(lengths() + size_, other.lengths(), other.size_ * sizeof(std::uint8_t));
  std::memcpy(starts() + size_, other.starts(), other.size_ * sizeof(std::uint32_t));
  std::memcpy(data() + size_, other.data(), other.size_ * sizeof(std::uint32_t));
  size_ += other.size_;
}

std::uint32_t Tokens::long_end(TokenIndex i) const {
  const auto found =
      std::lower_bound(long_ends_.begin(), long_ends_.end(), i,
                       [](const auto& entry, TokenIndex index) { return entry.first < index; });
  if (found == long_ends_.end() || found->first != i) throw InternalFailure("Token end missing");
  return found->second;
}

std::span<const TokenDiagnostic> Tokens::diagnostics_of(TokenIndex i) const {
  const auto found = std::lower_bound(wrapped_.begin(), wrapped_.end(), i,
                                      [](const Wrapped& w, TokenIndex index) { return w.token < index; });
  if (found == wrapped_.end() || found->token != i) return {};
  return std::span<const TokenDiagnostic>(token_diagnostics_.data() + found->first, found->count);
}

Token Tokens::lexed(TokenIndex i, Arena& arena) const {
  Token t = get(i);
  const std::span<const TokenDiagnostic> diagnostics = diagnostics_of(i);
  if (diagnostics.empty()) return t;
  // Innermost level first: each level wraps what is inside it.
  int deepest = 0;
  for (const TokenDiagnostic& d : diagnostics) deepest = std::max<int>(deepest, d.level);
  for (int level = deepest; level >= 0; --level) {
    UnknownBox* box = arena.make<UnknownBox>(&arena);
    box->inner = t.kind;
    for (const TokenDiagnostic& d : diagnostics)
      if (d.level == level) box->diagnostics.push_back({d.start, d.end, d.code});
    t.kind = TokenKind();
    t.kind.tag = TokenTag::Unknown;
    t.kind.unknown_box = box;
  }
  return t;
}

TokenIndex Tokens::append(const Token& token) {
  const TokenIndex index = columns_.size();
  std::uint32_t data = 0;
  switch (token.kind.tag) {
    case TokenTag::Identifier: {
      const std::string_view name = token.kind.text();
      const auto found = std::find(symbols_.begin(), symbols_.end(), name);
      data = static_cast<std::uint32_t>(found - symbols_.begin());
      if (found == symbols_.end()) {
        if (!name.empty() && name.front() == '@') at_symbols_.push_back(data);
        symbols_.push_back(name);
      }
      break;
    }
    case TokenTag::Number:
      data = static_cast<std::uint32_t>(numbers_.size());
      numbers_.push_back(*token.kind.number_info);
      break;
    case TokenTag::String:
    case TokenTag::InterpolatedString:
      data = static_cast<std::uint32_t>(strings_.size());
      strings_.push_back(*token.kind.string);
      break;
    case TokenTag::Unknown:
      data = static_cast<std::uint32_t>(boxes_.size());
      boxes_.push_back(token.kind.unknown_box);
      break;
    case TokenTag::Operator:
      data = static_cast<std::uint32_t>(token.kind.op);
      break;
    case TokenTag::Keyword:
      data = static_cast<std::uint32_t>(token.kind.keyword);
      break;
    case TokenTag::Ordinal:
      data = static_cast<std::uint32_t>(token.kind.ordinal);
      break;
    case TokenTag::Eof:
    case TokenTag::Empty:
      break;
  }
  const std::uint32_t length = token.end - token.start;
  columns_.push(token.kind.tag, token.start, length, data);
  if (length >= TokenColumns::kLongLength) long_ends_.emplace_back(index, token.end);
  list_ = TokenRange{0, columns_.size()};
  return index;
}

namespace {

template <class T>
std::size_t used(const std::vector<T>& v) {
  return v.size() * sizeof(T);
}
template <class T>
std::size_t reserved(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

}  // namespace

std::size_t Tokens::bytes_used() const {
  return columns_.bytes_used() + used(long_ends_) + used(symbols_) + used(at_symbols_) + used(numbers_) +
         used(strings_) + used(fragments_) + used(interpolations_) + used(parts_) + used(boxes_) +
         used(token_diagnostics_) + used(wrapped_);
}

std::size_t Tokens::bytes_reserved() const {
  return columns_.bytes_reserved() + reserved(long_ends_) + reserved(symbols_) + reserved(at_symbols_) +
         reserved(numbers_) + reserved(strings_) + reserved(fragments_) + reserved(interpolations_) +
         reserved(parts_) + reserved(boxes_) + reserved(token_diagnostics_) + reserved(wrapped_);
}

}  // namespace quendal
