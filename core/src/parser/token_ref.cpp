#include "diagnostic/diagnostics_collector.h"
#include "parser/ast.h"
#include "quendal/compile.h"

namespace quendal {

namespace {

Token* pointer_of(std::uintptr_t bits) {
  auto* token = reinterpret_cast<Token*>(bits & ~static_cast<std::uintptr_t>(1));
  if (token == nullptr) throw InternalFailure("Inner token pointer should not be null");
  return token;
}

}  // namespace

TokenRef TokenRef::make_owned(Arena& arena, TokenKind kind, std::uint32_t start, std::uint32_t end) {
  Token* token = arena.make<Token>();
  token->kind = kind;
  token->start = start;
  token->end = end;
  return owned(token);
}

const Token& TokenRef::get() const { return *pointer_of(bits_); }

Token& TokenRef::get_mut() const { return *pointer_of(bits_); }

SourceRange TokenRef::range() const {
  const Token& token = get();
  return {token.start, token.end};
}

void TokenRef::wrap_as_unknown(Arena& arena, DiagnosticCode code) {
  Token* token = pointer_of(bits_);
  if (!is_owned()) {
    // The token list is shared by the whole tree: rewrite a private copy.
    token = arena.make<Token>(clone_token(*token, arena));
    *this = owned(token);
  }
  token->kind = TokenKind::unknown(arena, token->kind, token->start, token->end, code);
}

TokenRef TokenRef::clone(Arena& arena) const {
  const Token* token = pointer_of(bits_);
  if (!is_owned()) return *this;
  return owned(arena.make<Token>(clone_token(*token, arena)));
}

void TokenRef::collect_diagnostics(DiagnosticsCollector& collector) const {
  Token* token = pointer_of(bits_);
  if (is_owned() && token->kind.tag == TokenTag::Unknown) token->collect_diagnostics(collector);
}

}  // namespace quendal
