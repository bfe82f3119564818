#include "lexer/token.h"

#include <charconv>

#include "diagnostic/diagnostics_collector.h"

namespace quendal {

TokenKind TokenKind::unknown(Arena& arena, TokenKind inner, std::uint64_t start, std::uint64_t end,
                             DiagnosticCode code) {
  ++unknowns_made;
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
  ++unknowns_made;
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

namespace {

TokenList* clone_list(const TokenList* list, Arena& arena) {
  TokenList* copy = arena.make<TokenList>(&arena);
  if (list == nullptr) return copy;
  copy->reserve(list->size());
  for (const Token& t : *list) copy->push_back(clone_token(t, arena));
  return copy;
}

StringInfo* clone_string_info(const StringInfo& info, Arena& arena) {
  StringInfo* copy = arena.make<StringInfo>(&arena);
  copy->open_start = info.open_start;
  copy->open_end = info.open_end;
  copy->close_start = info.close_start;
  copy->close_end = info.close_end;
  copy->raw_level = info.raw_level;
  copy->quote = info.quote;
  copy->value = info.value_owned ? arena.copy(info.value) : info.value;
  copy->value_owned = info.value_owned;
  copy->fragments.reserve(info.fragments.size());
  for (const StringFragment& f : info.fragments) {
    StringFragment g = f;
    if (f.kind == StringFragment::Kind::Interpolation) {
      const StringInterpolation& from = *f.interpolation;
      StringInterpolation* to = arena.make<StringInterpolation>(from);
      to->tokens = clone_list(from.tokens, arena);
      if (from.delimiters != nullptr) {
        to->delimiters = arena.make<TokenPair>(
            TokenPair{clone_token(from.delimiters->open, arena), clone_token(from.delimiters->close, arena)});
      }
      g.interpolation = to;
    }
    copy->fragments.push_back(g);
  }
  copy->parts.reserve(info.parts.size());
  for (const StringPart& p : info.parts) {
    StringPart q = p;
    if (p.text_owned) q.text = arena.copy(p.text);
    q.tokens = clone_list(p.tokens, arena);
    copy->parts.push_back(q);
  }
  return copy;
}

}  // namespace

TokenKind clone_kind(const TokenKind& kind, Arena& arena) {
  TokenKind copy = kind;
  switch (kind.tag) {
    case TokenTag::Number:
      if (kind.number_info != nullptr) copy.number_info = arena.make<NumberInfo>(*kind.number_info);
      break;
    case TokenTag::String:
      copy.string = clone_string_info(*kind.string, arena);
      break;
    case TokenTag::InterpolatedString:
      copy.string = clone_string_info(*kind.string, arena);
      break;
    case TokenTag::Unknown: {
      UnknownBox* box = arena.make<UnknownBox>(&arena);
      box->inner = clone_kind(kind.unknown_box->inner, arena);
      box->diagnostics.assign(kind.unknown_box->diagnostics.begin(), kind.unknown_box->diagnostics.end());
      copy.unknown_box = box;
      break;
    }
    default:
      break;
  }
  return copy;
}

Token clone_token(const Token& token, Arena& arena) {
  return Token{clone_kind(token.kind, arena), token.start, token.end};
}

}  // namespace quendal
