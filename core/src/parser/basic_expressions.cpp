// Prefix operators, primary expressions and their postfix chains (field and
// index access, calls, extension calls, tagged strings), `type` calls and
// interpolated strings.
#include "parser/parser.h"

namespace quendal {

namespace {

bool is_range_operator(const PeekedToken& token) {
  return token && (token.is_operator(Operator::DotDot) || token.is_operator(Operator::DotDotLt));
}

}  // namespace

// A prefix operator and its operand, or a primary expression and its
// accesses and calls.
[[gnu::noinline]] ParserResult<Expression*> Parser::prefix_or_primary() {
  const PeekedToken next = peek();
  // One level per operand; blocks and JSON-style records count their own.
  NestingGuard guard(context_);
  if (!next.is_operator(Operator::OpenBrace) && !guard.enter()) return cut();
  const Precedence precedence = precedence_of(next.tag(), next.data());
  if (precedence.is_prefix) {
    TokenRef op = advance();
    QUENDAL_TRY(operand, operators(precedence.power, nullptr));
    auto* node = arena_.make<PrefixExpression>();
    node->operand = *operand;
    node->op = op;
    note_literal_operand(op, *operand, true);
    return node;
  }
  // The common operands, a name or a plain literal, without the dispatch.
  switch (next.tag()) {
    case TokenTag::Identifier: {
      auto* node = arena_.make<VariableExpression>();
      node->token = advance();
      return postfix_chain(node);
    }
    case TokenTag::Number:
    case TokenTag::Ordinal:
    case TokenTag::String:
      return postfix_chain(literal(advance()));
    default:
      break;
  }
  QUENDAL_TRY(primary, primary_expression());
  return postfix_chain(*primary);
}

ParserResult<Expression*> Parser::primary_expression() {
  const PeekedToken next = peek();
  if (!next) return kBacktrack;
  switch (next.tag()) {
    case TokenTag::Keyword:
      switch (next.keyword()) {
        case Keyword::Type:
          return type_call();
        case Keyword::If:
          return if_expression();
        case Keyword::Fn:
          return function_literal();
        case Keyword::Loop:
          return loop_expression();
        case Keyword::While:
          return while_expression();
        case Keyword::Match:
          return match_expression();
        case Keyword::For:
          return for_in_expression();
        default:
          break;
      }
      break;
    case TokenTag::Operator:
      if (next.op() == Operator::OpenParen) return record_like();
      if (next.op() == Operator::OpenBracket) return array();
      if (next.op() == Operator::OpenBrace) {
        if (at_json_start()) {
          const std::size_t start = pos_;
          auto record = json_expression();
          if (!record.backtracked()) return record;
          restore(start);
        }
        QUENDAL_TRY(block, block_core());
        return static_cast<Expression*>(*block);
      }
      break;
    case TokenTag::InterpolatedString:
      return to_interpolate_expr();
    default:
      break;
  }
  if (is_literal_token(next)) return literal(advance());
  {
    auto name = variable_token(false, true);
    if (name.is_cut()) return name.failure();
    if (name.ok()) {
      auto* node = arena_.make<VariableExpression>();
      node->token = *name;
      return node;
    }
  }
  if (next.is_operator(Operator::OpenParen)) return record_like();
  if (next.is_operator(Operator::OpenBracket)) return array();
  return kBacktrack;
}

// postfix* -> access_index | call | extension_call | tagged_string
// A chain of accesses and calls is not nesting: walks follow the object of an
// access iteratively.
[[gnu::noinline]] ParserResult<Expression*> Parser::postfix_loop(Expression* left) {
  while (const PeekedToken next = peek()) {
    if (!starts_postfix(next.tag(), next.data())) break;
    const std::size_t start = pos_;
    auto access = access_index(left);
    if (access.is_cut()) return access.failure();
    if (access.ok()) {
      left = *access;
      continue;
    }
    restore(start);
    if (next.is_operator(Operator::OpenParen)) {
      QUENDAL_TRY(applied, call(left));
      left = *applied;
      continue;
    }
    if (next.is_operator(Operator::ColonColon)) {
      auto applied = extension_call(left);
      if (applied.is_cut()) return applied.failure();
      if (applied.ok()) {
        left = *applied;
        continue;
      }
      restore(start);
      break;
    }
    if (next.tag() == TokenTag::String || next.tag() == TokenTag::InterpolatedString) {
      QUENDAL_TRY(applied, tagged_string(left));
      left = *applied;
      continue;
    }
    break;
  }
  return left;
}

// access_index -> `!` | `.` name | `[` ... `]`
ParserResult<Expression*> Parser::access_index(Expression* object) {
  const PeekedToken next = peek();
  if (next == nullptr) return kBacktrack;
  if (next.is_operator(Operator::Exclamation)) {
    auto* node = arena_.make<NonNilAssertionExpression>();
    node->operand = object;
    node->op = advance();
    return node;
  }
  if (next.is_operator(Operator::Dot)) {
    const PeekedToken name = peek(1);
    if (name == nullptr || (name.tag() != TokenTag::Identifier && name.tag() != TokenTag::Ordinal))
      return kBacktrack;
    auto* node = arena_.make<FieldAccessExpression>();
    node->object = object;
    node->dot = advance();
    node->name = advance();
    note_literal_object(object);
    return node;
  }
  if (next.is_operator(Operator::OpenBracket)) {
    QUENDAL_TRY(brackets, index_brackets());
    const IndexBrackets& b = **brackets;
    if (b.inner.expression != nullptr) {
      auto* node = arena_.make<IndexAccessExpression>();
      node->object = object;
      node->index = b.inner.expression;
      node->open = b.open;
      node->close = b.close;
      note_literal_object(object);
      return node;
    }
    auto* node = arena_.make<SliceAccessExpression>();
    node->object = object;
    node->open = b.open;
    node->close = b.close;
    if (b.inner.range != nullptr) {
      node->start = b.inner.range->start;
      node->op = b.inner.range->op;
      node->end = b.inner.range->end;
    } else {
      node->start = b.start;
      node->op = b.op;
      node->end = b.end;
    }
    return node;
  }
  return kBacktrack;
}

// `[` (`..` additive? | pratt(ranges) | additive `..`) `]`
ParserResult<IndexBrackets*> Parser::index_brackets() {
  return memoized<IndexBrackets>(MemoRule::IndexBrackets, [&]() -> ParserResult<IndexBrackets*> {
    QUENDAL_TRY(open, token(Operator::OpenBracket));
    const std::size_t after_open = pos_;
    auto* result = arena_.make<IndexBrackets>();
    result->open = *open;

    // `[..end]`, `[..]`
    if (is_range_operator(peek())) {
      result->op = advance();
      const std::size_t before_end = pos_;
      auto end = additive();
      if (end.is_cut()) return end.failure();
      if (end.ok()) {
        result->end = *end;
      } else {
        restore(before_end);
      }
      auto close = token(Operator::CloseBracket);
      if (close.ok()) {
        result->close = *close;
        return result;
      }
      restore(after_open);
      result->op = TokenRef();
      result->end = nullptr;
    }

    // `[index]`, `[start..end]`
    {
      auto inner = pratt(true, 0);
      if (inner.is_cut()) return inner.failure();
      if (inner.ok()) {
        auto close = token(Operator::CloseBracket);
        if (close.ok()) {
          result->inner = *inner;
          result->close = *close;
          return result;
        }
      }
      restore(after_open);
    }

    // `[start..]`
    QUENDAL_TRY(start, additive());
    if (!is_range_operator(peek())) return kBacktrack;
    result->start = *start;
    result->op = advance();
    QUENDAL_TRY(close, token(Operator::CloseBracket));
    result->close = *close;
    return result;
  });
}

// call -> `(` arguments `)`
ParserResult<Expression*> Parser::call(Expression* callee) {
  QUENDAL_TRY(part, call_arguments());
  auto* node = arena_.make<CallExpression>();
  node->callee.expression = callee;
  node->arguments = (*part)->arguments;
  node->open = (*part)->open;
  node->close = (*part)->close;
  note_literal_object(callee);
  return node;
}

// extension_call -> `::` (record_like | name access_index* | `type`) arguments
ParserResult<Expression*> Parser::extension_call(Expression* receiver) {
  TokenRef separator = advance();
  Callable callee;
  TokenRef type_keyword;
  if (at_operator(Operator::OpenParen)) {
    QUENDAL_TRY(group, record_like());
    Expression* expression = *group;
    if (expression->kind == ExpressionKind::Record) {
      auto& record = expression->as<RecordExpression>();
      expression = wrap_expression_as_unknown(arena_, expression, token_list({record.open, record.close}),
                                              DiagnosticCode::RecordLiteralInExtensionCaller);
    }
    callee.expression = expression;
  } else if (at_keyword(Keyword::Type)) {
    type_keyword = advance();
    callee.token = type_keyword;
  } else {
    QUENDAL_TRY(name, variable_token(false, true));
    Expression* expression = nullptr;
    for (;;) {
      const std::size_t start = pos_;
      Expression* object = expression;
      if (object == nullptr) {
        auto* variable = arena_.make<VariableExpression>();
        variable->token = *name;
        object = variable;
      }
      auto access = access_index(object);
      if (access.is_cut()) return access.failure();
      if (!access.ok()) {
        restore(start);
        break;
      }
      expression = *access;
    }
    if (expression != nullptr) {
      callee.expression = expression;
    } else {
      callee.token = *name;
    }
  }

  QUENDAL_TRY(part, array_base(MemoRule::ExtensionArguments, DiagnosticCode::MissingOpenParenAfterExtension));
  auto* node = arena_.make<ExtensionCallExpression>();
  note_literal_object(callee.expression);
  node->callee = callee;
  node->receiver = receiver;
  node->separator = separator;
  node->open = (*part)->open;
  node->close = (*part)->close;
  node->arguments = (*part)->arguments;
  if (!type_keyword.is_null() && !node->arguments.empty()) {
    // `receiver::type()`: the receiver is the argument.
    node->arguments = ArgumentList();  // the memoized list is shared: never write into it
    ListItem<ArgumentElement> item;
    item.item.element = make_unknown_expression_range(
        arena_, type_keyword.range().start, node->close.range().end, DiagnosticCode::InvalidTypeCall);
    node->arguments.push_back(arena_, item);
  }
  return node;
}

// type_call -> `type` `(` arguments `)`: exactly one plain argument.
ParserResult<Expression*> Parser::type_call() {
  TokenRef keyword = advance();
  QUENDAL_TRY(part, array_base(MemoRule::TypeArguments, DiagnosticCode::MissingOpenParenAfterType));
  auto* node = arena_.make<CallExpression>();
  node->callee.token = keyword;
  node->open = (*part)->open;
  node->close = (*part)->close;
  node->arguments = (*part)->arguments;
  if (node->arguments.size() != 1 || node->arguments.front().item.is_spread()) {
    node->arguments = ArgumentList();  // the memoized list is shared: never write into it
    ListItem<ArgumentElement> item;
    item.item.element = make_unknown_expression_range(arena_, keyword.range().start, node->close.range().end,
                                                      DiagnosticCode::InvalidTypeCall);
    node->arguments.push_back(arena_, item);
  }
  return node;
}

// A string literal or an interpolated string at the cursor.
ParserResult<Expression*> Parser::string_expression() {
  const PeekedToken next = peek();
  if (next == nullptr) return kBacktrack;
  if (next.tag() == TokenTag::String) return literal(advance());
  if (next.tag() == TokenTag::InterpolatedString) return to_interpolate_expr();
  return kBacktrack;
}

// tagged_string -> expression string
ParserResult<Expression*> Parser::tagged_string(Expression* tag) {
  QUENDAL_TRY(string, string_expression());
  auto* node = arena_.make<TaggedStringExpression>();
  node->tag = tag;
  node->string = *string;
  note_literal_object(tag);
  return node;
}

// The interpolated string at the cursor: each interpolation's tokens are
// parsed on a cursor of their own.
ParserResult<Expression*> Parser::to_interpolate_expr() {
  return memoized<Expression>(MemoRule::Interpolation, [&]() -> ParserResult<Expression*> {
    const TokenIndex string_index = index_at(pos_);
    const Token string_token = tokens_.get(string_index);
    // The interpolations' tokens lie outside this cursor's list: a form the
    // pre-pass acts on inside them is noted on the string.
    const std::uint64_t marks_before = context_.pre_pass_mark_count;
    auto* node = arena_.make<InterpolationExpression>();
    node->token = TokenRef::borrowed(string_index);
    const StringInfo* info = string_token.kind.string;
    const std::size_t count = info != nullptr && !info->parts.empty() ? info->parts.size() - 1 : 0;
    node->parts.reserve(arena_, count);
    for (std::size_t i = 0; i < count; ++i) {
      const TokenRange part = info->parts[i].tokens;
      if (part.empty()) {
        node->parts.push_back(arena_,
                              make_unknown_expression_range(arena_, string_token.start, string_token.start,
                                                            DiagnosticCode::EmptyInterpolation));
        continue;
      }
      TokenRefList all(&arena_);
      all.reserve(part.size());
      bool all_empty = true;
      for (TokenIndex t = part.begin; t < part.end; ++t) {
        all.push_back(TokenRef::borrowed(t));
        all_empty = all_empty && tokens_.tag(t) == TokenTag::Empty;
      }
      if (all_empty) {
        node->parts.push_back(
            arena_, make_unknown_expression(arena_, std::move(all), DiagnosticCode::EmptyInterpolation));
        continue;
      }
      if (tokens_.tag(part.end - 1) == TokenTag::Eof) {
        node->parts.push_back(arena_, make_unknown_expression(arena_, std::move(all),
                                                              DiagnosticCode::UnterminatedInterpolation));
        continue;
      }
      Parser inner(tokens_, part, context_, false);
      auto value = inner.expression();
      if (value.is_cut()) return cut();
      if (!value.ok()) {
        node->parts.push_back(
            arena_, make_unknown_expression(arena_, std::move(all), DiagnosticCode::BadInterpolation));
        continue;
      }
      if (!inner.exhausted()) {
        TokenRefList rest(&arena_);
        for (std::size_t k = inner.position(); k < part.size(); ++k)
          rest.push_back(TokenRef::borrowed(part.begin + static_cast<TokenIndex>(k)));
        node->parts.push_back(arena_, wrap_expression_as_unknown(arena_, *value, std::move(rest),
                                                                 DiagnosticCode::BadInterpolation));
        continue;
      }
      node->parts.push_back(arena_, *value);
    }
    ++pos_;
    if (context_.pre_pass_mark_count != marks_before) note_pre_pass();
    return node;
  });
}

}  // namespace quendal
