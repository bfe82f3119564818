#include "diagnostic/diagnostics_collector.h"
#include "parser/ast.h"
#include "quendal/compile.h"

namespace quendal {

Token* TokenRef::owned_pointer() const {
  if (!is_owned()) throw InternalFailure("Inner token pointer should not be null");
  return static_cast<Token*>(arena_in_use().numbered(bits_ >> 1));
}

TokenRef TokenRef::make_owned(Arena& arena, const Token& token) {
  Token* copy = arena.make<Token>(token);
  return TokenRef(arena.number(copy) << 1);
}

TokenRef TokenRef::make_owned(Arena& arena, TokenKind kind, std::uint32_t start, std::uint32_t end) {
  Token token;
  token.kind = kind;
  token.start = start;
  token.end = end;
  return make_owned(arena, token);
}

void TokenRef::wrap_as_unknown(Arena& arena, DiagnosticCode code) {
  if (is_null()) throw InternalFailure("Inner token pointer should not be null");
  // The store is shared by the whole tree: rewrite a private copy.
  if (!is_owned()) *this = make_owned(arena, clone_token(get(), arena));
  Token* token = owned_pointer();
  token->kind = TokenKind::unknown(arena, token->kind, token->start, token->end, code);
}

TokenRef TokenRef::clone(Arena& arena) const {
  if (!is_owned()) {
    if (is_null()) throw InternalFailure("Inner token pointer should not be null");
    return *this;
  }
  return make_owned(arena, clone_token(*owned_pointer(), arena));
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
