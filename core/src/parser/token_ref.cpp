#include "diagnostic/diagnostics_collector.h"
#include "parser/ast.h"
#include "quendal/compile.h"

namespace quendal {

Token* TokenRef::owned_pointer() const {
  auto* token = reinterpret_cast<Token*>(bits_ & ~static_cast<std::uintptr_t>(3));
  if (token == nullptr || is_borrowed()) throw InternalFailure("Inner token pointer should not be null");
  return token;
}

TokenRef TokenRef::make_owned(Arena& arena, TokenKind kind, std::uint32_t start, std::uint32_t end) {
  Token* token = arena.make<Token>();
  token->kind = kind;
  token->start = start;
  token->end = end;
  return owned(token);
}

void TokenRef::wrap_as_unknown(Arena& arena, DiagnosticCode code) {
  if (is_null()) throw InternalFailure("Inner token pointer should not be null");
  if (!is_owned()) {
    // The store is shared by the whole tree: rewrite a private copy.
    *this = owned(arena.make<Token>(clone_token(get(), arena)));
  }
  Token* token = owned_pointer();
  token->kind = TokenKind::unknown(arena, token->kind, token->start, token->end, code);
}

TokenRef TokenRef::clone(Arena& arena) const {
  if (!is_owned()) {
    if (is_null()) throw InternalFailure("Inner token pointer should not be null");
    return *this;
  }
  return owned(arena.make<Token>(clone_token(*owned_pointer(), arena)));
}

void TokenRef::collect_diagnostics(DiagnosticsCollector& collector) const {
  if (!is_owned()) {
    if (is_null()) throw InternalFailure("Inner token pointer should not be null");
    return;
  }
  Token* token = owned_pointer();
  if (token->kind.tag == TokenTag::Unknown) token->collect_diagnostics(collector);
}

}  // namespace quendal
