#include "lexer/token.h"

#include <charconv>

#include "diagnostic/diagnostics_collector.h"

namespace quendal {

TokenKind TokenKind::unknown(Arena& arena, TokenKind inner, std::uint64_t start, std::uint64_t end,
                             DiagnosticCode code) {
  arena.count_unknown();
  UnknownBox* box = arena.make<UnknownBox>(&arena);
  box->inner = inner;
  box->diagnostics.reserve(1);
  box->diagnostics.push_back({start, end, code});
  TokenKind k;
  k.tag = TokenTag::Unknown;
  k.unknown_box = box;
  return k;
}

TokenKind TokenKind::unknown_with(Arena& arena, TokenKind inner, ArenaDiagnostics diagnostics) {
  arena.count_unknown();
  UnknownBox* box = arena.make<UnknownBox>(&arena);
  box->inner = inner;
  box->diagnostics = std::move(diagnostics);
  TokenKind k;
  k.tag = TokenTag::Unknown;
  k.unknown_box = box;
  return k;
}

std::optional<std::pair<DiagnosticCode, std::string_view>> TokenKind::to_field_name(Arena& arena) const {
  switch (tag) {
    case TokenTag::Identifier:
      return std::pair{DiagnosticCode::RecordFieldIdName, text()};
    case TokenTag::Ordinal: {
      char buffer[16];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, ordinal);
      return std::pair{DiagnosticCode::RecordFieldOrdinalName,
                       arena.copy(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)))};
    }
    case TokenTag::String:
      return std::pair{DiagnosticCode::RecordFieldStringName, text()};
    case TokenTag::Keyword:
      return std::pair{DiagnosticCode::RecordFieldIdName, keyword_spelling(keyword)};
    default:
      return std::nullopt;
  }
}

void Token::collect_diagnostics(DiagnosticsCollector& collector) {
  if (kind.tag != TokenTag::Unknown) return;
  UnknownBox* box = kind.unknown_box;
  collector.append(box->diagnostics);
  TokenKind inner = box->inner;
  box->inner = TokenKind();
  kind = inner;
}

TokenKind clone_kind(const TokenKind& kind, Arena& arena) {
  TokenKind copy = kind;
  if (kind.tag == TokenTag::Unknown && kind.unknown_box != nullptr) {
    UnknownBox* box = arena.make<UnknownBox>(&arena);
    box->inner = clone_kind(kind.unknown_box->inner, arena);
    box->diagnostics.assign(kind.unknown_box->diagnostics.begin(), kind.unknown_box->diagnostics.end());
    copy.unknown_box = box;
  }
  return copy;
}

Token clone_token(const Token& token, Arena& arena) {
  return Token{clone_kind(token.kind, arena), token.start, token.end};
}

}  // namespace quendal
