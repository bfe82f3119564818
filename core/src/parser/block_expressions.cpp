// Block expressions: blocks, if/else, while, loop, for-in, match and
// function literals. Missing braces are inserted rather than failing.
#include "parser/parser.h"

namespace quendal {

namespace {

bool is_block_like(const Expression& expression) {
  switch (expression.kind) {
    case ExpressionKind::Block:
    case ExpressionKind::Loop:
    case ExpressionKind::If:
    case ExpressionKind::ForIn:
    case ExpressionKind::While:
    case ExpressionKind::Match:
      return true;
    case ExpressionKind::Literal:
    case ExpressionKind::Interpolation:
    case ExpressionKind::Variable:
    case ExpressionKind::Group:
    case ExpressionKind::Record:
    case ExpressionKind::Array:
    case ExpressionKind::Call:
    case ExpressionKind::TaggedString:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::FieldAccess:
    case ExpressionKind::IndexAccess:
    case ExpressionKind::SliceAccess:
    case ExpressionKind::NonNilAssertion:
    case ExpressionKind::Prefix:
    case ExpressionKind::Binary:
    case ExpressionKind::IsPattern:
    case ExpressionKind::Conditional:
    case ExpressionKind::FunctionLiteral:
    case ExpressionKind::Unknown:
      return false;
  }
  return false;
}

}  // namespace

// block_expression -> `{` statements expression? `}`, declining a JSON-style
// record.
ParserResult<Expression*> Parser::block_expression() {
  if (at_json_start()) return kBacktrack;
  QUENDAL_TRY(block, block_core());
  return static_cast<Expression*>(*block);
}

ParserResult<BlockExpression*> Parser::block_core() {
  return memoized<BlockExpression>(MemoRule::Block, [&]() -> ParserResult<BlockExpression*> {
    NestingGuard guard(context_);
    if (!guard.enter()) return cut();
    auto* block = arena_.make<BlockExpression>();
    block->open = token_or_insert(Operator::OpenBrace, DiagnosticCode::MissingOpenBrace);
    BlockContents contents;
    QUENDAL_TRY(read, statements_and_expression(contents));
    block->statements = std::move(contents.statements);
    block->expression = contents.expression;
    block->close = token_or_insert(Operator::CloseBrace, DiagnosticCode::MissingCloseBrace);
    return block;
  });
}

// block_expression_no_expr: a block whose trailing value becomes its last
// statement.
ParserResult<BlockExpression*> Parser::block_expression_no_expr() {
  QUENDAL_TRY(core, block_core());
  BlockExpression* block = *core;
  if (block->expression == nullptr) return block;
  // The block found above may be shared with another reading: build a new
  // node rather than change it.
  auto* body = arena_.make<BlockExpression>();
  body->open = block->open;
  body->close = block->close;
  body->statements.reserve(arena_, block->statements.size() + 1);
  body->statements.assign(arena_, block->statements);
  Expression* value = block->expression;
  if (is_block_like(*value)) {
    auto* statement = arena_.make<BareExpressionStatement>();
    statement->expression = value;
    body->statements.push_back(arena_, statement);
  } else {
    auto* statement = arena_.make<ExpressionStatement>();
    statement->expression = value;
    const auto end = static_cast<std::uint32_t>(range_of(*value).end);
    statement->semicolon =
        inserted_token(TokenKind::of_operator(Operator::Semicolon), end, DiagnosticCode::MissingSemicolon);
    body->statements.push_back(arena_, statement);
  }
  return body;
}

// condition -> expression | placeholder before `{` or the end of input
ParserResult<Expression*> Parser::condition() {
  const std::size_t start = pos_;
  auto value = expression();
  if (!value.backtracked()) return value;
  restore(start);
  if (at_end() || at_operator(Operator::OpenBrace)) return expression_expected(placeholder_position());
  return kBacktrack;
}

// if_expression -> if_head optional_else
ParserResult<Expression*> Parser::if_expression() {
  return memoized<Expression>(MemoRule::If, [&]() -> ParserResult<Expression*> {
    QUENDAL_TRY(head, if_head());
    QUENDAL_TRY(otherwise, optional_else());
    (*head)->else_block = *otherwise;
    return static_cast<Expression*>(*head);
  });
}

// if_head -> `if` condition block
ParserResult<IfExpression*> Parser::if_head() {
  if (!at_keyword(Keyword::If)) return kBacktrack;
  TokenRef keyword = advance();
  const std::size_t condition_start = pos_;
  QUENDAL_TRY(test, condition());
  const bool quiet = !context_.any_pre_pass_mark(index_at(condition_start), index_at(pos_));
  QUENDAL_TRY(body, block_expression());
  auto* node = arena_.make<IfExpression>();
  node->condition_quiet = quiet;
  node->condition = *test;
  node->body = &(*body)->as<BlockExpression>();
  node->keyword = keyword;
  return node;
}

// optional_else -> (`else` (if_head optional_else | block))?
// An `else if` chain is read in a loop: its length is not nesting.
ParserResult<ElseBlock*> Parser::optional_else() {
  ArenaRef<ElseBlock> first;
  ArenaRef<ElseBlock>* link = &first;
  while (at_keyword(Keyword::Else)) {
    auto* node = arena_.make<ElseBlock>();
    node->keyword = advance();
    *link = node;
    if (!at_keyword(Keyword::If)) {
      auto block = block_expression();
      if (!block.ok()) {
        if (block.backtracked()) remember_failed_chain(first, kNoBranch);
        return block.failure();
      }
      node->body = *block;
      break;
    }
    const TokenIndex at = index_at(pos_);
    auto head = if_head();
    if (!head.ok()) {
      if (head.backtracked()) remember_failed_chain(first, at);
      return head.failure();
    }
    node->body = *head;
    link = &(*head)->else_block;
  }
  return first.get();
}

// A chain that fails from some branch on fails read from any `if` before
// that branch too. Recovery tries again at later tokens, so each `if` of the
// chain remembers the failure (as if it had been read on its own), and the
// rest of the chain is not read once per branch.
// `failed_at` is the `if` of the branch that failed (kNoBranch when the
// final `else` block failed).
void Parser::remember_failed_chain(const ElseBlock* first, TokenIndex failed_at) {
  const int used = context_.high_water - context_.depth;
  const MemoEntry failed{nullptr, 0, static_cast<std::uint16_t>(used < 0 ? 0 : used)};
  const auto remember = [&](TokenIndex at) {
    const MemoKey key{at, MemoRule::If};
    if (context_.memo.find(key) == nullptr) context_.memo.insert(key, failed);
  };
  for (const ElseBlock* node = first; node != nullptr && node->body != nullptr;) {
    if (node->body->kind != ExpressionKind::If) break;
    const auto& branch = node->body->as<IfExpression>();
    if (branch.keyword.is_borrowed()) remember(branch.keyword.index());
    node = branch.else_block;
  }
  if (failed_at != kNoBranch) remember(failed_at);
}

// while_expression -> `while` condition block optional_else
ParserResult<Expression*> Parser::while_expression() {
  return memoized<Expression>(MemoRule::While, [&]() -> ParserResult<Expression*> {
    if (!at_keyword(Keyword::While)) return kBacktrack;
    TokenRef keyword = advance();
    const std::size_t condition_start = pos_;
    QUENDAL_TRY(test, condition());
    const bool quiet = !context_.any_pre_pass_mark(index_at(condition_start), index_at(pos_));
    QUENDAL_TRY(body, block_expression_no_expr());
    QUENDAL_TRY(otherwise, optional_else());
    auto* node = arena_.make<WhileExpression>();
    node->condition_quiet = quiet;
    node->condition = *test;
    node->body = *body;
    node->keyword = keyword;
    node->else_block = *otherwise;
    return static_cast<Expression*>(node);
  });
}

// loop_expression -> `loop` block
ParserResult<Expression*> Parser::loop_expression() {
  if (!at_keyword(Keyword::Loop)) return kBacktrack;
  TokenRef keyword = advance();
  QUENDAL_TRY(body, block_expression_no_expr());
  auto* node = arena_.make<LoopExpression>();
  node->body = *body;
  node->keyword = keyword;
  return node;
}

// for_in_expression -> `for` pattern `in` pratt(ranges) block optional_else
ParserResult<Expression*> Parser::for_in_expression() {
  return memoized<Expression>(MemoRule::For, [&]() -> ParserResult<Expression*> {
    if (!at_keyword(Keyword::For)) return kBacktrack;
    TokenRef keyword = advance();
    const std::size_t before_pattern = pos_;
    Pattern* pattern = nullptr;
    auto read = or_pattern(PatternMode::Binding);
    if (read.is_cut()) return read.failure();
    if (read.ok()) {
      pattern = *read;
    } else {
      restore(before_pattern);
      pattern = pattern_expected(placeholder_position());
    }
    if (!at_keyword(Keyword::In)) return kBacktrack;
    TokenRef in = advance();
    QUENDAL_TRY(iterable, pratt(true, 0));
    QUENDAL_TRY(body, block_expression_no_expr());
    QUENDAL_TRY(otherwise, optional_else());
    auto* node = arena_.make<ForInExpression>();
    node->pattern = pattern;
    node->iterable = *iterable;
    node->body = *body;
    node->keyword = keyword;
    node->in = in;
    node->else_block = *otherwise;
    return static_cast<Expression*>(node);
  });
}

// match_expression -> `match` condition `{` (`case`? pattern (`if` condition)? block)* `}`
ParserResult<Expression*> Parser::match_expression() {
  return memoized<Expression>(MemoRule::Match, [&]() -> ParserResult<Expression*> {
    if (!at_keyword(Keyword::Match)) return kBacktrack;
    auto* node = arena_.make<MatchExpression>();
    node->keyword = advance();
    QUENDAL_TRY(subject, condition());
    node->subject = *subject;
    node->open = token_or_insert(Operator::OpenBrace, DiagnosticCode::MissingOpenBrace);
    for (;;) {
      const std::size_t start = pos_;
      const std::uint32_t case_position = placeholder_position();
      MatchCase match_case;
      if (at_keyword(Keyword::Case)) match_case.keyword = advance();
      auto pattern = or_pattern(PatternMode::Binding);
      if (pattern.is_cut()) return pattern.failure();
      if (!pattern.ok()) {
        restore(start);
        break;
      }
      match_case.pattern = *pattern;
      if (match_case.keyword.is_null())
        match_case.keyword =
            inserted_token(TokenKind::of_keyword(Keyword::Case), case_position, DiagnosticCode::MissingCase);
      if (at_keyword(Keyword::If)) {
        match_case.guard.keyword = advance();
        auto guard = condition();
        if (guard.is_cut()) return guard.failure();
        if (!guard.ok()) {
          restore(start);
          break;
        }
        match_case.guard.condition = *guard;
      }
      auto body = block_expression();
      if (body.is_cut()) return body.failure();
      if (!body.ok()) {
        restore(start);
        break;
      }
      match_case.body = *body;
      node->cases.push_back(arena_, match_case);
      if (pos_ == start) return cut();
    }
    node->close = token_or_insert(Operator::CloseBrace, DiagnosticCode::MissingCloseBrace);
    return static_cast<Expression*>(node);
  });
}

// function literal -> `fn` parameter_list? block
ParserResult<Expression*> Parser::function_literal() {
  return memoized<Expression>(MemoRule::FunctionLiteral, [&]() -> ParserResult<Expression*> {
    if (!at_keyword(Keyword::Fn)) return kBacktrack;
    auto* node = arena_.make<FunctionLiteralExpression>();
    node->keyword = advance();
    if (at_operator(Operator::OpenParen)) {
      QUENDAL_TRY(parameters, parameter_list());
      node->parameters = *parameters;
    }
    QUENDAL_TRY(body, block_expression());
    node->body = *body;
    return static_cast<Expression*>(node);
  });
}

}  // namespace quendal
