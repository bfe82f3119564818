// Operator expressions: the precedence loop (binding powers are in the
// operator and keyword tables).
#include "parser/parser.h"

namespace quendal {

// expression -> basic_expression | unknown_expression (the latter out of line)
ParserResult<Expression*> Parser::unknown_expression_at(std::size_t start) {
  restore(start);
  return unknown_expression();
}

// pratt_prefix -> prefix-operator pratt | primary postfix*
// Only operators calls it: inlined there.
[[gnu::always_inline]] inline ParserResult<Expression*> Parser::pratt_prefix() {
  if (exhausted()) return kBacktrack;
  // The most common operand of all: a name or a plain literal that no
  // access or call follows. Its level is entered and left at once.
  const TokenTag tag = tags_[pos_];
  switch (tag) {
    case TokenTag::Identifier:
    case TokenTag::Number:
    case TokenTag::Ordinal:
    case TokenTag::String:
      if (pos_ + 1 < size_ && starts_postfix(tags_[pos_ + 1], data_[pos_ + 1])) break;
      if (!NestingGuard::touch(context_)) return cut();
      if (tag == TokenTag::Identifier) {
        auto* node = arena_.make<VariableExpression>();
        node->token = advance();
        return static_cast<Expression*>(node);
      }
      return static_cast<Expression*>(literal(advance()));
    case TokenTag::Operator:
      if (data_[pos_] == static_cast<std::uint32_t>(Operator::OpenParen)) return parenthesized_operand();
      break;
    default:
      break;
  }
  return prefix_or_primary();
}

// additive -> pratt(no ranges, 142): a slice bound, looser than `+`, tighter
// than a range.
ParserResult<Expression*> Parser::additive() { return operators(142, nullptr); }

// pratt -> pratt_prefix (operator operand)*
ParserResult<Iterable> Parser::pratt(bool ranges_allowed, int minimum_power) {
  RangeNode* range = nullptr;
  QUENDAL_TRY(value, operators(minimum_power, ranges_allowed ? &range : nullptr));
  if (range != nullptr) return Iterable{nullptr, range};
  return Iterable{*value, nullptr};
}

// The operator loop of pratt. Where ranges are allowed (`range` given), a
// range operator ends the loop with the range in `*range`.
ParserResult<Expression*> Parser::operators(int minimum_power, RangeNode** range) {
  QUENDAL_TRY(prefix, pratt_prefix());
  // Most operands end their expression: no operator binding tighter than
  // the caller's follows.
  if (exhausted() || precedence_of(tags_[pos_], data_[pos_]).power <= minimum_power) return *prefix;
  return operator_loop(*prefix, minimum_power, range);
}

[[gnu::noinline]] ParserResult<Expression*> Parser::operator_loop(Expression* left, int minimum_power,
                                                                  RangeNode** range) {
  // A chain of left-associative operators is not nesting: every walk of the
  // tree follows a left operand iteratively. An `is` test or a conditional
  // after the first operator still deepens the left operand by one level.
  NestingGuard chain(context_);
  bool first = true;
  while (const PeekedToken next = peek()) {
    const Precedence precedence = precedence_of(next.tag(), next.data());
    if (precedence.power <= minimum_power) break;
    if (!first && (next.is_keyword(Keyword::Is) || next.is_operator(Operator::Question)) && !chain.enter())
      return cut();
    first = false;
    TokenRef op = advance();

    if (next.is_keyword(Keyword::Is)) {
      QUENDAL_TRY(pattern, or_pattern(PatternMode::Binding));
      auto* node = arena_.make<IsPatternExpression>();
      node->value = left;
      node->pattern = *pattern;
      node->op = op;
      left = node;
      continue;
    }

    if (next.is_operator(Operator::Question)) {
      NestingGuard branches(context_);
      if (!branches.enter()) return cut();
      QUENDAL_TRY(then, expression());
      TokenRef colon = token_or_insert(Operator::Colon, DiagnosticCode::MissingColon);
      QUENDAL_TRY(otherwise, operators(29, nullptr));
      auto* node = arena_.make<ConditionalExpression>();
      node->condition = left;
      node->then = *then;
      node->otherwise = *otherwise;
      node->question = op;
      node->colon = colon;
      left = node;
      continue;
    }

    NestingGuard right_guard(context_);
    if (precedence.right_associative && !right_guard.enter()) return cut();
    QUENDAL_TRY(right, operators(precedence.power - (precedence.right_associative ? 1 : 0), nullptr));

    const bool is_range = next.is_operator(Operator::DotDot) || next.is_operator(Operator::DotDotLt);
    if (is_range && range != nullptr) {
      auto* node = arena_.make<RangeNode>();
      node->start = left;
      node->end = *right;
      node->op = op;
      *range = node;
      return static_cast<Expression*>(nullptr);
    }
    if (is_range) {
      // A range where none is allowed: reported, and read as an addition.
      op = TokenRef::make_owned(arena_,
                                TokenKind::unknown(arena_, TokenKind::of_operator(Operator::Plus),
                                                   next->start, next->end, DiagnosticCode::UnexpectedToken),
                                next->start, next->end);
    }
    auto* node = arena_.make<BinaryExpression>();
    node->left = left;
    node->right = *right;
    node->op = op;
    left = node;
  }
  return left;
}

}  // namespace quendal
