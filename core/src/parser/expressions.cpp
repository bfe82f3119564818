// Composite literals: arrays, groups and records in parentheses, and the
// element list shared by arrays, call arguments and `type`/extension
// argument lists.
#include "parser/parser.h"

namespace quendal {

namespace {

bool at_list_close(const Parser& p) {
  return p.at_end() || p.at_operator(Operator::CloseParen) || p.at_operator(Operator::CloseBracket) ||
         p.at_operator(Operator::CloseBrace);
}

void set_value(Iterable& slot, Expression* value) { slot = Iterable{value, nullptr}; }
void set_value(Expression*& slot, Expression* value) { slot = value; }

// Element list: holes, spreads and plain elements with their separators.
// Array literals read plain elements with ranges allowed and keep a spread
// without a value; argument lists stop before such a spread.
template <class Element>
ParserResult<bool> element_list(Parser& p, std::pmr::vector<ListItem<Element>>& elements,
                                bool array_literal) {
  Arena& arena = p.arena();
  while (!at_list_close(p)) {
    const std::size_t start = p.position();
    ListItem<Element> item;
    if (p.at_operator(Operator::Comma)) {
      TokenRef comma = p.advance();
      set_value(item.item.element, p.expression_expected(static_cast<std::uint32_t>(comma.range().start)));
      item.comma = comma;
      elements.push_back(item);
      continue;
    }
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
        const Token* next = p.peek();
        const std::uint32_t at = next != nullptr ? next->start : 0;
        spread_value = make_unknown_expression_range(arena, at, at, DiagnosticCode::BadArraySpread);
      } else {
        // Left for the closer.
        p.restore(start);
        break;
      }
      item.item.spread = dot_dot;
      item.item.spread_value = spread_value;
    } else if (array_literal) {
      auto value = p.pratt(true, 0);
      if (value.is_cut()) return value.failure();
      if (!value.ok()) {
        p.restore(start);
        break;
      }
      if constexpr (std::is_same_v<Element, ArrayElement>) item.item.element = *value;
    } else {
      auto value = p.expression();
      if (value.is_cut()) return value.failure();
      if (!value.ok()) {
        p.restore(start);
        break;
      }
      set_value(item.item.element, *value);
    }
    if (!p.at_list_end_without_separator())
      item.comma = p.token_or_insert(Operator::Comma, DiagnosticCode::MissingComma);
    elements.push_back(item);
    if (p.position() == start) break;
  }
  return true;
}

}  // namespace

ParserResult<bool> Parser::array_elements(std::pmr::vector<ListItem<ArrayElement>>& elements) {
  return element_list(*this, elements, true);
}

ParserResult<bool> Parser::argument_elements(ArgumentList& elements) {
  return element_list(*this, elements, false);
}

// array -> `[` elements `]`
ParserResult<Expression*> Parser::array() {
  return memoized<Expression>(MemoRule::Array, [&]() -> ParserResult<Expression*> {
    QUENDAL_TRY(open, token(Operator::OpenBracket));
    auto* node = arena_.make<ArrayExpression>(&arena_);
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
    auto* part = arena_.make<ArgumentsPart>(&arena_);
    part->open = *open;
    QUENDAL_TRY(elements, argument_elements(part->arguments));
    part->close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);
    return part;
  });
}

// array_base -> `(`? elements `)`?  (both inserted when missing)
ParserResult<ArgumentsPart*> Parser::array_base(MemoRule rule, DiagnosticCode open_code) {
  return memoized<ArgumentsPart>(rule, [&]() -> ParserResult<ArgumentsPart*> {
    auto* part = arena_.make<ArgumentsPart>(&arena_);
    part->open = token_or_insert(Operator::OpenParen, open_code);
    QUENDAL_TRY(elements, argument_elements(part->arguments));
    part->close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);
    return part;
  });
}

namespace {

bool at_key_colon(const Parser& p, std::size_t ahead) {
  return p.at_operator(Operator::Colon, ahead) || p.at_operator(Operator::QuestionColon, ahead);
}

}  // namespace

// record_like -> `(` record-element* `)`: a group when it holds exactly one
// positional element without a separator, a record otherwise.
ParserResult<Expression*> Parser::record_like() {
  return memoized<Expression>(MemoRule::RecordLike, [&]() -> ParserResult<Expression*> {
    QUENDAL_TRY(open, token(Operator::OpenParen));
    std::pmr::vector<ListItem<RecordElement>> elements(&arena_);
    while (!at_list_close(*this)) {
      const std::size_t start = pos_;
      ListItem<RecordElement> item;
      RecordElement& element = item.item;
      bool done = false;

      if (at_operator(Operator::Comma)) {
        TokenRef comma = advance();
        element.kind = RecordElementKind::Positional;
        element.value = expression_expected(static_cast<std::uint32_t>(comma.range().start));
        item.comma = comma;
        elements.push_back(item);
        continue;
      }
      if (!done && at_operator(Operator::DotDot)) {
        TokenRef dot_dot = advance();
        auto value = expression();
        if (value.is_cut()) return value.failure();
        if (value.ok()) {
          element.kind = RecordElementKind::Spread;
          element.spread = dot_dot;
          element.value = *value;
          done = true;
        } else {
          restore(start);
        }
      }
      if (!done && at_key_colon(*this, 0)) {
        TokenRef colon = advance();
        auto value = expression();
        if (value.is_cut()) return value.failure();
        if (value.ok()) {
          element.kind = RecordElementKind::OmittedKey;
          element.colon = colon;
          element.value = *value;
          done = true;
        } else {
          restore(start);
        }
      }
      if (!done && peek() != nullptr && peek()->kind.tag == TokenTag::InterpolatedString &&
          at_key_colon(*this, 1)) {
        QUENDAL_TRY(key, to_interpolate_expr());
        TokenRef colon = advance();
        auto value = expression();
        if (value.is_cut()) return value.failure();
        if (value.ok()) {
          element.kind = RecordElementKind::ExpressionKeyed;
          element.key_node = *key;
          element.colon = colon;
          element.value = *value;
          done = true;
        } else {
          restore(start);
        }
      }
      if (!done) {
        TokenRef name;
        const Token* next = peek();
        if (next->kind.tag == TokenTag::String || next->kind.tag == TokenTag::Ordinal) {
          name = advance();
        } else {
          auto variable = variable_token(true, true);
          if (variable.is_cut()) return variable.failure();
          if (variable.ok()) name = *variable;
        }
        if (!name.is_null() && at_key_colon(*this, 0)) {
          TokenRef colon = advance();
          auto value = expression();
          if (value.is_cut()) return value.failure();
          if (value.ok()) {
            element.kind = RecordElementKind::Keyed;
            element.key = name;
            element.colon = colon;
            element.value = *value;
            done = true;
          }
        }
        if (!done) restore(start);
      }
      if (!done) {
        auto value = expression();
        if (value.is_cut()) return value.failure();
        if (!value.ok()) {
          restore(start);
          break;
        }
        element.kind = RecordElementKind::Positional;
        element.value = *value;
      }
      if (!at_list_end_without_separator())
        item.comma = token_or_insert(Operator::Comma, DiagnosticCode::MissingComma);
      elements.push_back(item);
      if (pos_ == start) break;
    }
    TokenRef close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);
    if (elements.size() == 1 && elements.front().item.kind == RecordElementKind::Positional &&
        elements.front().comma.is_null()) {
      auto* group = arena_.make<GroupExpression>();
      group->expression = elements.front().item.value;
      group->open = *open;
      group->close = close;
      return group;
    }
    auto* record = arena_.make<RecordExpression>(&arena_);
    record->elements = std::move(elements);
    record->open = *open;
    record->close = close;
    return record;
  });
}

}  // namespace quendal
