#pragma once
// A compact S-expression form of tokens and syntax trees, for tests and the
// quendal_dump tool.
//
// Tokens on their own (`dump_token`) print kind, payload and range:
//   Identifier(x)@4..5   Operator(+)@6..7   String("a")@0..3
//   Unknown(Empty !UnknownToken@2..3)@2..3
// Tokens inside a tree print as their text. A token owned by the tree (one
// the parser inserted or rewrote) is bracketed with its position and any
// diagnostics it still carries: `<;@5 !MissingSemicolon>`, `<_@4..6>`.
// Punctuation implied by a node (brackets, `;`, keywords) is printed only
// when owned, so an inserted closer shows where it went.
//
// Nodes: `(let x 1)`, `(+ a (* b c))`, `(- a)` (prefix), `(call f x)`,
// `(block (expr a) => b)` (`=>` marks the trailing value), `(unknown@0..4 else
// 1 !UnknownExpression@0..4)`. An absent optional part is `~`; an omitted
// pattern is `~@position`.
#include <span>
#include <string>

#include "diagnostic/source_diagnostic.h"
#include "parser/ast.h"

namespace quendal {

std::string dump_token(const Token& token);
// The store's own list as the lexer read it, one token per line.
std::string dump_tokens(const Tokens& tokens);
std::string dump_token_ref(const TokenRef& token);
std::string dump_expression(const Expression& node);
std::string dump_pattern(const Pattern& node);
std::string dump_statement(const Statement& node);
std::string dump_script(const Script& script);
// `Code@start..end` (`Code@start` when zero-width), separated by blanks.
std::string dump_diagnostic(const SourceDiagnostic& diagnostic);
std::string dump_diagnostics(std::span<const SourceDiagnostic> diagnostics);

}  // namespace quendal
