// Operator expressions: the precedence loop (binding powers are in the
// operator and keyword tables).
#include "parser/parser.h"
#include "parser/static_warnings.h"

namespace quendal {

// expression -> basic_expression | unknown_expression (the latter out of line)
ParserResult<Expression*> Parser::unknown_expression_at(std::size_t start) {
  restore(start);
  return unknown_expression();
}

// The next most common operand: `(`, a group or a record, and its accesses
// and calls, on a level of its own (what prefix_or_primary does for it,
// without the dispatch). Only pratt_prefix calls it: inlined there, with the
// usual group (record_like without its memo entry).
[[gnu::always_inline]] inline ParserResult<Expression*> Parser::parenthesized_operand() {
  NestingGuard guard(context_);
  if (!guard.enter()) return cut();
  Expression* primary;
  if (!context_.memo.find(MemoKey{index_at(pos_), MemoRule::RecordLike})) {
    auto group = plain_group();
    if (group.is_cut()) return group.failure();
    if (group.ok()) {
      primary = *group;
    } else {
      QUENDAL_TRY(listed, listed_record_like(true));
      primary = *listed;
    }
  } else {
    QUENDAL_TRY(listed, listed_record_like(false));
    primary = *listed;
  }
  return postfix_chain(primary);
}

// pratt_prefix -> prefix-operator pratt | primary postfix*
// Only operand_and_operators calls it: inlined there.
[[gnu::always_inline]] inline ParserResult<Expression*> Parser::pratt_prefix() {
  if (exhausted()) return kBacktrack;
  if (tags_[pos_] == TokenTag::Operator && data_[pos_] == static_cast<std::uint32_t>(Operator::OpenParen))
    return parenthesized_operand();
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

// A name or a literal node for the token at the cursor, which it consumes;
// nullptr (nothing consumed) when the arena's block is full.
template <class Node>
[[gnu::always_inline]] inline Expression* Parser::plain_operand() {
  Node* node = arena_.try_make<Node>();
  if (node == nullptr) return nullptr;
  node->token = advance();
  return node;
}

// The operator loop of pratt. Where ranges are allowed (`range` given), a
// range operator ends the loop with the range in `*range`.
ParserResult<Expression*> Parser::operators(int minimum_power, RangeNode** range) {
  // The most common operand of all: a name or a plain literal that no access
  // or call follows. One look at the token after it tells that, and whether
  // an operator binding tighter than the caller's follows; its level is
  // entered and left at once. This path calls nothing but its tail calls;
  // anything unusual (the nesting limit, measured levels, a full arena
  // block) takes the general path.
  if (pos_ + 1 < size_) [[likely]] {
    const TokenTag tag = tags_[pos_];
    if (tag == TokenTag::Identifier || tag == TokenTag::Number || tag == TokenTag::Ordinal ||
        tag == TokenTag::String) {
      const Precedence next = precedence_after_operand(tags_[pos_ + 1], data_[pos_ + 1]);
      if (!next.starts_postfix && NestingGuard::touch_unmeasured(context_)) {
        Expression* operand = tag == TokenTag::Identifier ? plain_operand<VariableExpression>()
                                                          : plain_operand<LiteralExpression>();
        if (operand != nullptr) [[likely]] {
          if (next.power <= minimum_power) return operand;
          return operator_loop(operand, minimum_power, range);
        }
      }
    }
  }
  return operand_and_operators(minimum_power, range);
}

[[gnu::noinline]] ParserResult<Expression*> Parser::operand_and_operators(int minimum_power,
                                                                          RangeNode** range) {
  QUENDAL_TRY(prefix, pratt_prefix());
  // Most operands end their expression: no operator binding tighter than
  // the caller's follows.
  if (exhausted() || precedence_of(tags_[pos_], data_[pos_]).power <= minimum_power) return *prefix;
  return operator_loop(*prefix, minimum_power, range);
}

// The right operand of a binary operator; a right-associative operator
// nests its right operand one level deeper.
[[gnu::always_inline]] inline ParserResult<Expression*> Parser::right_operand(const Precedence& precedence) {
  if (!precedence.right_associative) [[likely]]
    return operators(precedence.power, nullptr);
  NestingGuard guard(context_);
  if (!guard.enter()) return cut();
  return operators(precedence.power - 1, nullptr);
}

// Whether an operator after an operand is a plain binary one: left
// associative, neither an `is` test, a conditional nor a range.
static bool is_plain_binary(TokenTag tag, std::uint32_t data, const Precedence& precedence) {
  if (precedence.right_associative) return false;
  if (tag == TokenTag::Keyword) return data != static_cast<std::uint32_t>(Keyword::Is);
  return data != static_cast<std::uint32_t>(Operator::Question) &&
         data != static_cast<std::uint32_t>(Operator::DotDot) &&
         data != static_cast<std::uint32_t>(Operator::DotDotLt);
}

// The usual chain: plain binary operators only. The first other operator
// hands the rest of the chain to operator_chain.
[[gnu::noinline]] ParserResult<Expression*> Parser::operator_loop(Expression* left, int minimum_power,
                                                                  RangeNode** range) {
  bool first = true;
  while (pos_ < size_) {
    const TokenTag tag = tags_[pos_];
    const std::uint32_t data = data_[pos_];
    const Precedence precedence = precedence_of(tag, data);
    if (precedence.power <= minimum_power) break;
    if (!is_plain_binary(tag, data, precedence)) [[unlikely]]
      return operator_chain(left, minimum_power, range, first);
    first = false;
    TokenRef op = advance();
    QUENDAL_TRY(right, operators(precedence.power, nullptr));
    left = binary(left, op, *right);
  }
  return left;
}

// Any operator chain; `first` when no operator of the chain has been read.
[[gnu::noinline]] ParserResult<Expression*> Parser::operator_chain(Expression* left, int minimum_power,
                                                                   RangeNode** range, bool first) {
  // A chain of left-associative operators is not nesting: every walk of the
  // tree follows a left operand iteratively. An `is` test or a conditional
  // after the first operator still deepens the left operand by one level.
  NestingGuard chain(context_);
  while (pos_ < size_) {
    const TokenTag tag = tags_[pos_];
    const std::uint32_t data = data_[pos_];
    const Precedence precedence = precedence_of(tag, data);
    if (precedence.power <= minimum_power) break;
    const bool is_test = tag == TokenTag::Keyword && data == static_cast<std::uint32_t>(Keyword::Is);
    const bool is_conditional =
        tag == TokenTag::Operator && data == static_cast<std::uint32_t>(Operator::Question);
    if (!first && (is_test || is_conditional) && !chain.enter()) return cut();
    first = false;
    const TokenIndex op_index = index_at(pos_);
    TokenRef op = advance();

    if (is_test) {
      QUENDAL_TRY(pattern, or_pattern(PatternMode::Binding));
      auto* node = arena_.make<IsPatternExpression>();
      node->value = left;
      node->pattern = *pattern;
      node->op = op;
      note_pre_pass();
      left = node;
      continue;
    }

    if (is_conditional) {
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

    QUENDAL_TRY(right, right_operand(precedence));

    const bool is_range =
        tag == TokenTag::Operator && (data == static_cast<std::uint32_t>(Operator::DotDot) ||
                                      data == static_cast<std::uint32_t>(Operator::DotDotLt));
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
      const PeekedToken range_op(tokens_, op_index);
      op = TokenRef::make_owned(
          arena_,
          TokenKind::unknown(arena_, TokenKind::of_operator(Operator::Plus), range_op->start, range_op->end,
                             DiagnosticCode::UnexpectedToken),
          range_op->start, range_op->end);
    }
    left = binary(left, op, *right);
  }
  return left;
}

// The tag and code of a token as the literal-operand rule reads them: from
// the columns for a store token (no payload is looked up).
std::pair<TokenTag, std::uint32_t> Parser::operand_tag(TokenRef token) const {
  if (token.is_borrowed()) {
    const TokenIndex index = token.index();
    const TokenTag tag = tokens_.tag(index);
    if (tag != TokenTag::Unknown) return {tag, tokens_.data_column()[index]};
  }
  return tag_and_code(peeled_kind(*token));
}

void Parser::note_literal_operand_slow(TokenRef op, const LiteralExpression& operand, bool is_right) {
  if (operand.token.is_null()) return;
  if (op.is_null()) return note_pre_pass();
  const auto [op_tag, op_code] = operand_tag(op);
  const auto [literal_tag, literal_code] = operand_tag(operand.token);
  if (literal_operand_warning(op_tag, op_code, literal_tag, literal_code, is_right)) note_pre_pass();
}

}  // namespace quendal
