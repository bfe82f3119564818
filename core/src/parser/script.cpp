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

ParseOutcome cut_outcome(const Tokens& tokens, TokenRange range, const ParseContext& context) {
  ParseOutcome outcome;
  outcome.cut = true;
  if (range.empty()) return outcome;
  const std::size_t at = context.cut_recorded ? context.cut_position : 0;
  const TokenIndex last = range.end - 1;
  outcome.error_start =
      at < range.size() ? tokens.start(range.begin + static_cast<TokenIndex>(at)) : tokens.start(last);
  outcome.error_end = tokens.end(last);
  return outcome;
}

}  // namespace

ParseOutcome parse_script(const Tokens& tokens, Arena& arena) {
  return parse_script(tokens, tokens.list(), arena);
}

ParseOutcome parse_script(const Tokens& tokens, TokenRange range, Arena& arena) {
  ParseContext context(arena);
  context.memo.reserve_tokens(tokens.size());
  return parse_tokens(tokens, range, context);
}

ParseOutcome parse_tokens(const Tokens& tokens, TokenRange range, ParseContext& context) {
  const UsingTokens using_tokens(tokens, context.arena);
  Arena& arena = context.arena;
  Parser parser(tokens, range, context, true);
  auto* script = arena.make<Script>();
  Expression* trailing = nullptr;

  for (;;) {
    auto added = parser.statements(script->statements);
    if (added.is_cut()) return cut_outcome(tokens, range, context);

    const std::size_t before_expression = parser.position();
    Expression* expression = nullptr;
    auto read = parser.expression();
    if (read.is_cut()) return cut_outcome(tokens, range, context);
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
      script->statements.push_back(arena, statement);
      continue;
    }
    if (*added > 0) continue;
    const Token stray = *parser.peek();
    script->statements.push_back(arena,
                                 make_unknown_statement(arena, parser.advance(), stray_token_code(stray)));
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
