// JSON-style records: `{"key": value, ...}`.
#include "parser/parser.h"

namespace quendal {

// `{`, a string or interpolated string, then `:`.
bool Parser::at_json_start() const {
  const PeekedToken key = peek(1);
  return at_operator(Operator::OpenBrace) && key != nullptr &&
         (key.tag() == TokenTag::String || key.tag() == TokenTag::InterpolatedString) &&
         at_operator(Operator::Colon, 2);
}

// json_expression -> `{` (json_field_name `:` value `,`)* `}`
ParserResult<Expression*> Parser::json_expression() {
  return memoized<Expression>(MemoRule::Json, [&]() -> ParserResult<Expression*> {
    NestingGuard guard(context_);
    if (!guard.enter()) return cut();
    QUENDAL_TRY(open, token(Operator::OpenBrace));
    auto* record = arena_.make<RecordExpression>();
    record->open = *open;
    for (;;) {
      const PeekedToken next = peek();
      if (next == nullptr) break;
      const std::size_t start = pos_;
      ListItem<RecordElement> item;
      RecordElement& element = item.item;
      if (next.tag() == TokenTag::String) {
        element.kind = RecordElementKind::Keyed;
        element.key = advance();
      } else if (next.tag() == TokenTag::InterpolatedString) {
        QUENDAL_TRY(key, to_interpolate_expr());
        element.kind = RecordElementKind::ExpressionKeyed;
        element.key_node = *key;
      } else {
        break;
      }
      element.colon = token_or_insert(Operator::Colon, DiagnosticCode::MissingColon);
      QUENDAL_TRY(value, expression_or_insert({Operator::Comma, Operator::CloseBrace}));
      element.value = *value;
      item.comma = token_or_insert(Operator::Comma, DiagnosticCode::MissingComma);
      record->elements.push_back(arena_, item);
      if (pos_ == start) break;
    }
    // No trailing comma after the last element is fine.
    if (!record->elements.empty() && record->elements.back().comma.is_owned())
      record->elements.back().comma = TokenRef();
    record->close = token_or_insert(Operator::CloseBrace, DiagnosticCode::MissingCloseBrace);
    return static_cast<Expression*>(record);
  });
}

}  // namespace quendal
