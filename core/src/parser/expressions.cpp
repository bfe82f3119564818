// Composite literals: arrays, groups and records in parentheses, and the
// element list shared by arrays, call arguments and `type`/extension
// argument lists.
#include "parser/parser.h"

namespace quendal {

namespace {

void set_value(Iterable& slot, Expression* value) { slot = Iterable{value, nullptr}; }
void set_value(ArenaRef<Expression>& slot, Expression* value) { slot = value; }

// Element list: holes, spreads and plain elements with their separators.
// Array literals read plain elements with ranges allowed and keep a spread
// without a value; argument lists stop before such a spread.
template <class Element>
ParserResult<bool> element_list(Parser& p, ArenaList<ListItem<Element>>& elements, bool array_literal) {
  Arena& arena = p.arena();
  const auto hole = [&](Element& element, std::uint32_t at) {
    set_value(element.element, p.expression_expected(at));
  };
  return p.list_elements(elements, hole, [&](Element& element, std::size_t) -> ParserResult<bool> {
    if (p.at_operator(Operator::DotDot)) {
      TokenRef dot_dot = p.advance();
      const std::size_t after = p.position();
      auto value = p.expression();
      if (value.is_cut()) return value.failure();
      Expression* spread_value = nullptr;
      if (value.ok()) {
        spread_value = *value;
      } else if (array_literal) {
        p.restore(after);
        const PeekedToken next = p.peek();
        const std::uint32_t at = next != nullptr ? next.start() : 0;
        spread_value = make_unknown_expression_range(arena, at, at, DiagnosticCode::BadArraySpread);
      } else {
        return false;  // left for the closer
      }
      element.set_spread(dot_dot, spread_value);
    } else if (array_literal) {
      auto value = p.pratt(true, 0);
      if (value.is_cut()) return value.failure();
      if (!value.ok()) return false;
      if constexpr (std::is_same_v<Element, ArrayElement>) element.element = *value;
    } else {
      auto value = p.expression();
      if (value.is_cut()) return value.failure();
      if (!value.ok()) return false;
      set_value(element.element, *value);
    }
    return true;
  });
}

}  // namespace

ParserResult<bool> Parser::array_elements(ArenaList<ListItem<ArrayElement>>& elements) {
  return element_list(*this, elements, true);
}

ParserResult<bool> Parser::argument_elements(ArgumentList& elements) {
  return element_list(*this, elements, false);
}

// array -> `[` elements `]`
ParserResult<Expression*> Parser::array() {
  return memoized<Expression>(MemoRule::Array, [&]() -> ParserResult<Expression*> {
    QUENDAL_TRY(open, token(Operator::OpenBracket));
    auto* node = arena_.make<ArrayExpression>();
    node->open = *open;
    QUENDAL_TRY(elements, array_elements(node->elements));
    node->close = token_or_insert(Operator::CloseBracket, DiagnosticCode::MissingCloseBracket);
    return node;
  });
}

// call arguments -> `(` elements `)`
ParserResult<ArgumentsPart*> Parser::call_arguments() {
  return memoized<ArgumentsPart>(MemoRule::CallArguments, [&]() -> ParserResult<ArgumentsPart*> {
    QUENDAL_TRY(open, token(Operator::OpenParen));
    auto* part = arena_.make<ArgumentsPart>();
    part->open = *open;
    QUENDAL_TRY(elements, argument_elements(part->arguments));
    part->close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);
    return part;
  });
}

// array_base -> `(`? elements `)`?  (both inserted when missing)
ParserResult<ArgumentsPart*> Parser::array_base(MemoRule rule, DiagnosticCode open_code) {
  return memoized<ArgumentsPart>(rule, [&]() -> ParserResult<ArgumentsPart*> {
    auto* part = arena_.make<ArgumentsPart>();
    part->open = token_or_insert(Operator::OpenParen, open_code);
    QUENDAL_TRY(elements, argument_elements(part->arguments));
    part->close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);
    return part;
  });
}

// record_like -> `(` record-element* `)`: a group when it holds exactly one
// positional element without a separator, a record otherwise.
ParserResult<Expression*> Parser::record_like() {
  // The usual case, a group `(value)`, is read without the element list
  // and without a memo entry: what a later reading here would redo is the
  // group's own value, whose records, blocks and other memoized parts it
  // finds in the table. Everything else, failures included, is memoized.
  if (at_operator(Operator::OpenParen) &&
      !context_.memo.find(MemoKey{index_at(pos_), MemoRule::RecordLike})) {
    auto group = plain_group();
    if (!group.backtracked()) return group;
    // Reading the group stored no entry at its own `(`.
    return listed_record_like(true);
  }
  return listed_record_like(false);
}

[[gnu::noinline]] ParserResult<Expression*> Parser::listed_record_like(bool absent) {
  return memoized<Expression>(
      MemoRule::RecordLike,
      [&]() -> ParserResult<Expression*> {
        QUENDAL_TRY(open, token(Operator::OpenParen));
        return record_elements(*open);
      },
      absent);
}

// The element list of a record (or of a group the short reading above did
// not take), after its `(`.
[[gnu::noinline]] ParserResult<Expression*> Parser::record_elements(TokenRef open) {
  ArenaList<ListItem<RecordElement>> elements;
  const auto hole = [&](RecordElement& element, std::uint32_t at) {
    element.kind = RecordElementKind::Positional;
    element.value = expression_expected(at);
  };
  // The value after an alternative's lead-in (`..`, `:`, a key and `:`):
  // true with `value` set, or false with the cursor back at `start`.
  const auto value_after_lead = [&](std::size_t start, ArenaRef<Expression>& value) -> ParserResult<bool> {
    auto parsed = expression();
    if (parsed.is_cut()) return parsed.failure();
    if (!parsed.ok()) {
      restore(start);
      return false;
    }
    value = *parsed;
    return true;
  };
  const auto record_element = [&](RecordElement& element, std::size_t start) -> ParserResult<bool> {
    // The usual element, a name, its colon and a value, without the tests
    // for the other kinds (what they come to for it).
    if (tags_[pos_] == TokenTag::Identifier && at_key_colon(1)) {
      TokenRef key = advance();
      TokenRef colon = advance();
      auto value = expression();
      if (value.is_cut()) return value.failure();
      if (value.ok()) {
        element.kind = RecordElementKind::Keyed;
        element.key = key;
        element.colon = colon;
        element.value = *value;
        return true;
      }
      restore(start);
    }
    if (at_operator(Operator::DotDot)) {
      TokenRef dot_dot = advance();
      QUENDAL_TRY(spread, value_after_lead(start, element.value));
      if (*spread) {
        element.kind = RecordElementKind::Spread;
        element.spread = dot_dot;
        return true;
      }
    }
    if (at_key_colon()) {
      TokenRef colon = advance();
      QUENDAL_TRY(omitted, value_after_lead(start, element.value));
      if (*omitted) {
        element.kind = RecordElementKind::OmittedKey;
        element.colon = colon;
        return true;
      }
    }
    if (peek() != nullptr && peek().tag() == TokenTag::InterpolatedString && at_key_colon(1)) {
      QUENDAL_TRY(key, to_interpolate_expr());
      TokenRef colon = advance();
      QUENDAL_TRY(keyed, value_after_lead(start, element.value));
      if (*keyed) {
        element.kind = RecordElementKind::ExpressionKeyed;
        element.key_node = *key;
        element.colon = colon;
        return true;
      }
    }
    QUENDAL_TRY(name, record_key());
    if (!name->is_null() && at_key_colon()) {
      TokenRef colon = advance();
      QUENDAL_TRY(keyed, value_after_lead(start, element.value));
      if (*keyed) {
        element.kind = RecordElementKind::Keyed;
        element.key = *name;
        element.colon = colon;
        return true;
      }
    }
    restore(start);
    auto value = expression();
    if (value.is_cut()) return value.failure();
    if (!value.ok()) return false;
    element.kind = RecordElementKind::Positional;
    element.value = *value;
    return true;
  };
  QUENDAL_TRY(listed, list_elements(elements, hole, record_element));
  TokenRef close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);
  if (elements.size() == 1 && elements.front().item.kind == RecordElementKind::Positional &&
      elements.front().comma.is_null()) {
    auto* group = arena_.make<GroupExpression>();
    group->expression = elements.front().item.value;
    group->open = open;
    group->close = close;
    if (group->expression != nullptr && draws_unnecessary_parentheses(*group->expression)) note_pre_pass();
    return group;
  }
  auto* record = arena_.make<RecordExpression>();
  record->elements = std::move(elements);
  record->open = open;
  record->close = close;
  return record;
}

}  // namespace quendal
