// The script loop: statements and an optional trailing expression; whatever
// neither can read becomes an unknown statement, one token at a time.
#include "parser/parse_script.h"
#include "parser/parser.h"

namespace quendal {

namespace {

DiagnosticCode stray_token_code(const Token& token) {
  if (token.kind.is_operator(Operator::CloseParen)) return DiagnosticCode::UnmatchedCloseParen;
  if (token.kind.is_operator(Operator::CloseBracket)) return DiagnosticCode::UnmatchedCloseBracket;
  if (token.kind.is_operator(Operator::CloseBrace)) return DiagnosticCode::UnmatchedCloseBrace;
  return DiagnosticCode::UnexpectedToken;
}

ParseOutcome cut_outcome(std::span<const Token> tokens, const ParseContext& context) {
  ParseOutcome outcome;
  outcome.cut = true;
  if (tokens.empty()) return outcome;
  const std::size_t at = context.cut_recorded ? context.cut_position : 0;
  outcome.error_start = at < tokens.size() ? tokens[at].start : tokens.back().start;
  outcome.error_end = tokens.back().end;
  return outcome;
}

}  // namespace

ParseOutcome parse_script(std::span<const Token> tokens, Arena& arena) {
  ParseContext context(arena);
  return parse_tokens(tokens, context);
}

ParseOutcome parse_tokens(std::span<const Token> tokens, ParseContext& context) {
  Arena& arena = context.arena;
  Parser parser(tokens, context, true);
  auto* script = arena.make<Script>(&arena);
  Expression* trailing = nullptr;

  for (;;) {
    auto added = parser.statements(script->statements);
    if (added.is_cut()) return cut_outcome(tokens, context);

    const std::size_t before_expression = parser.position();
    Expression* expression = nullptr;
    auto read = parser.expression();
    if (read.is_cut()) return cut_outcome(tokens, context);
    if (read.ok()) {
      expression = *read;
    } else {
      parser.restore(before_expression);
    }

    if (parser.exhausted()) {
      trailing = expression;
      break;
    }
    if (parser.peek()->kind.is_eof()) {
      trailing = expression;
      script->eof = parser.advance();
      break;
    }
    if (expression != nullptr) {
      auto* statement = arena.make<ExpressionStatement>();
      statement->expression = expression;
      statement->semicolon = parser.token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
      script->statements.push_back(statement);
      continue;
    }
    if (*added > 0) continue;
    const Token& stray = *parser.peek();
    script->statements.push_back(make_unknown_statement(arena, parser.advance(), stray_token_code(stray)));
  }

  script->expression = parser.construct_statements_and_expression(script->statements, trailing);
  if (script->eof.is_null()) {
    script->eof = TokenRef::make_owned(
        arena, TokenKind::unknown(arena, TokenKind::eof(), 0, 0, DiagnosticCode::UnexpectedToken), 0, 0);
  }
  ParseOutcome outcome;
  outcome.script = script;
  return outcome;
}

}  // namespace quendal
