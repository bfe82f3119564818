// Construction of Unknown nodes: what recovery leaves in the tree where a
// construct could not be read. Each records in the arena that an Unknown
// was made, so a compilation whose parse made none skips the diagnostics walk.
#include "parser/ast.h"
#include "quendal/compile.h"

namespace quendal {

// ---------------------------------------------------------- construction

namespace {

void require_tokens(const TokenRefList& tokens) {
  if (tokens.empty()) throw InternalFailure("assertion failed: !tokens.is_empty()");
}

SourceDiagnostic over_tokens(const TokenRefList& tokens, DiagnosticCode code) {
  return {tokens.front().range().start, tokens.back().range().end, code};
}

}  // namespace

UnknownExpression* make_unknown_expression(Arena& arena, TokenRefList tokens, DiagnosticCode code) {
  require_tokens(tokens);
  arena.count_unknown();
  auto* node = arena.make<UnknownExpression>(&arena);
  node->diagnostics.push_back(over_tokens(tokens, code));
  node->tokens = std::move(tokens);
  return node;
}

UnknownExpression* wrap_expression_as_unknown(Arena& arena, Expression* inner, TokenRefList tokens,
                                              DiagnosticCode code) {
  UnknownExpression* node = make_unknown_expression(arena, std::move(tokens), code);
  node->inner = inner;
  return node;
}

UnknownExpression* make_unknown_expression_range(Arena& arena, std::uint64_t start, std::uint64_t end,
                                                 DiagnosticCode code) {
  arena.count_unknown();
  auto* node = arena.make<UnknownExpression>(&arena);
  node->tokens.push_back(TokenRef::make_owned(arena, TokenKind::empty(), static_cast<std::uint32_t>(start),
                                              static_cast<std::uint32_t>(end)));
  node->diagnostics.push_back({start, end, code});
  return node;
}

UnknownStatement* make_unknown_statement(Arena& arena, TokenRef token, DiagnosticCode code) {
  arena.count_unknown();
  auto* node = arena.make<UnknownStatement>(&arena);
  const SourceRange range = token.range();
  node->tokens.push_back(token);
  node->diagnostics.push_back({range.start, range.end, code});
  return node;
}

UnknownPattern* make_unknown_pattern(Arena& arena, TokenRefList tokens, DiagnosticCode code) {
  require_tokens(tokens);
  arena.count_unknown();
  auto* node = arena.make<UnknownPattern>(&arena);
  node->diagnostics.push_back(over_tokens(tokens, code));
  node->tokens = std::move(tokens);
  return node;
}

UnknownPattern* make_unknown_pattern_from(Arena& arena, TokenRefList tokens) {
  arena.count_unknown();
  auto* node = arena.make<UnknownPattern>(&arena);
  node->tokens = std::move(tokens);
  return node;
}

UnknownPattern* wrap_pattern_as_unknown(Arena& arena, Pattern* inner, TokenRefList tokens,
                                        DiagnosticCode code) {
  UnknownPattern* node = make_unknown_pattern(arena, std::move(tokens), code);
  node->inner = inner;
  return node;
}

}  // namespace quendal
