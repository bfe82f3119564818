// Pattern building blocks: literals, constants and intervals, spreads, and
// the bracketed pattern lists (arrays, parameter lists, records and groups).
#include "parser/parser.h"

namespace quendal {

namespace {

bool is_sign(const PeekedToken& token) {
  return token && (token.is_operator(Operator::Plus) || token.is_operator(Operator::Minus) ||
                   token.is_operator(Operator::Exclamation));
}

bool is_constant_name(const PeekedToken& token) { return token && token.is_constant_name(); }

}  // namespace

// signed literal -> (`+` | `-` | `!`)? literal
ParserResult<Pattern*> Parser::signed_literal_pattern() {
  TokenRef sign;
  if (is_sign(peek()) && is_literal_token(peek(1))) sign = advance();
  if (!is_literal_token(peek())) return kBacktrack;
  auto* node = arena_.make<LiteralPattern>();
  node->sign = sign;
  node->literal = advance();
  if (sign.is_null()) return static_cast<Pattern*>(node);
  if (sign->kind.is_operator(Operator::Exclamation))
    return wrap_pattern_as_unknown(arena_, node, token_list({sign, node->literal}),
                                   DiagnosticCode::ExclamationInLiteralPattern);
  const TokenKind kind = node->literal->kind;
  if (kind.tag == TokenTag::Ordinal || kind.tag == TokenTag::Number || kind.is_keyword(Keyword::Inf))
    return static_cast<Pattern*>(node);
  return wrap_pattern_as_unknown(arena_, node, token_list({sign, node->literal}),
                                 DiagnosticCode::NonNumberInArithmetic);
}

// literal_constant_pattern -> constant name | signed literal
ParserResult<Pattern*> Parser::literal_constant_pattern() {
  const std::size_t start = pos_;
  auto name = variable_token(false, false);
  if (name.is_cut()) return name.failure();
  if (name.ok()) {
    auto* node = arena_.make<ConstantNamePattern>();
    node->name = *name;
    if (is_constant_name(PeekedToken(tokens_, index_at(start)))) return static_cast<Pattern*>(node);
    return wrap_pattern_as_unknown(arena_, node, token_list({*name}), DiagnosticCode::InvalidConstantLiteral);
  }
  restore(start);
  return signed_literal_pattern();
}

// constant or literal, optionally the start of an interval:
//   (constant name | signed literal) ((`..` | `..<`) literal_constant_pattern)?
ParserResult<Pattern*> Parser::constant_or_literal_pattern() {
  Pattern* start = nullptr;
  if (is_constant_name(peek())) {
    auto* node = arena_.make<ConstantNamePattern>();
    node->name = advance();
    start = node;
  } else {
    QUENDAL_TRY(literal, signed_literal_pattern());
    start = *literal;
  }
  if (!at_operator(Operator::DotDot) && !at_operator(Operator::DotDotLt)) return start;
  TokenRef op = advance();
  QUENDAL_TRY(end, literal_constant_pattern());
  auto* node = arena_.make<IntervalPattern>();
  node->start = start;
  node->end = *end;
  node->op = op;
  return static_cast<Pattern*>(node);
}

// pattern_spread -> or_pattern? (after `..`)
Pattern* Parser::pattern_spread(PatternMode mode, TokenRef dot_dot) {
  const std::size_t start = pos_;
  auto pattern = or_pattern(mode);
  if (pattern.is_cut()) return nullptr;
  if (!pattern.ok()) {
    restore(start);
    auto* omitted = arena_.make<OmittedPattern>();
    omitted->position = dot_dot.range().end;
    return omitted;
  }
  if ((*pattern)->kind == PatternKind::Discard)
    return wrap_pattern_as_unknown(arena_, *pattern, token_list({dot_dot}),
                                   DiagnosticCode::DiscardInSpreadPattern);
  return *pattern;
}

// array_pattern_like -> opener (`,` | `..` pattern_spread | or_pattern) separators closer
ParserResult<ArrayPattern*> Parser::array_pattern_like(Operator opener, Operator closer,
                                                       DiagnosticCode closer_code, PatternMode mode) {
  QUENDAL_TRY(open, token(opener));
  BracketScope brackets(*this);
  auto* node = arena_.make<ArrayPattern>();
  node->open = *open;
  const auto hole = [&](PatternElement& element, std::uint32_t at) {
    element.element = pattern_expected(at);
  };
  const auto array_pattern_element = [&](PatternElement& element, std::size_t start) -> ParserResult<bool> {
    if (at_operator(Operator::DotDot)) {
      TokenRef dot_dot = advance();
      Pattern* value = pattern_spread(mode, dot_dot);
      if (value == nullptr) return Failure{Outcome::Cut};
      element.set_spread(dot_dot, value);
      return true;
    }
    auto pattern = or_pattern(mode);
    if (pattern.is_cut()) return pattern.failure();
    if (!pattern.ok()) return false;
    Pattern* value = *pattern;
    // A range inside an array pattern must be parenthesised.
    if (value->kind == PatternKind::Interval)
      value = wrap_pattern_as_unknown(
          arena_, value,
          token_list({TokenRef::borrowed(index_at(start)), TokenRef::borrowed(index_at(pos_ - 1))}),
          DiagnosticCode::AmbiguousRangePattern);
    element.element = value;
    return true;
  };
  QUENDAL_TRY(listed, list_elements(node->elements, hole, array_pattern_element));
  node->close = token_or_insert(closer, closer_code);
  return node;
}

// record or group pattern -> `(` record-pattern-element* `)`
ParserResult<Pattern*> Parser::record_pattern(PatternMode mode) {
  const MemoRule rule =
      mode == PatternMode::Binding ? MemoRule::RecordPatternBinding : MemoRule::RecordPatternRebinding;
  return memoized<Pattern>(rule, [&]() -> ParserResult<Pattern*> {
    QUENDAL_TRY(open, token(Operator::OpenParen));
    BracketScope brackets(*this);
    ArenaList<ListItem<PatternRecordElement>> elements;
    const auto hole = [&](PatternRecordElement& element, std::uint32_t at) {
      element.kind = RecordElementKind::Positional;
      element.value = pattern_expected(at);
    };
    const auto record_pattern_element = [&](PatternRecordElement& element,
                                            std::size_t start) -> ParserResult<bool> {
      if (at_operator(Operator::DotDot)) {
        TokenRef dot_dot = advance();
        Pattern* value = pattern_spread(mode, dot_dot);
        if (value == nullptr) return Failure{Outcome::Cut};
        element.kind = RecordElementKind::Spread;
        element.spread = dot_dot;
        element.value = value;
        return true;
      }
      if (at_key_colon()) {
        TokenRef colon = advance();
        auto pattern = or_pattern(mode);
        if (pattern.is_cut()) return pattern.failure();
        if (pattern.ok()) {
          Pattern* value = *pattern;
          // The key is taken from a binding's name.
          if (value->kind != PatternKind::Binding && value->kind != PatternKind::Unknown)
            value = wrap_pattern_as_unknown(arena_, value, consumed_tokens(start),
                                            DiagnosticCode::BadOmitKeyRecordPattern);
          element.kind = RecordElementKind::OmittedKey;
          element.colon = colon;
          element.value = value;
          return true;
        }
        restore(start);
      }
      QUENDAL_TRY(name, record_key());
      if (!name->is_null() && at_key_colon()) {
        TokenRef colon = advance();
        const std::size_t before_value = pos_;
        auto pattern = or_pattern(mode);
        if (pattern.is_cut()) return pattern.failure();
        Pattern* value = nullptr;
        if (pattern.ok()) {
          value = *pattern;
        } else {
          restore(before_value);
          if (at_end() || at_operator(Operator::Comma) || at_operator(Operator::CloseParen))
            value = pattern_expected(placeholder_position());
        }
        if (value != nullptr) {
          element.kind = RecordElementKind::Keyed;
          element.key = *name;
          element.colon = colon;
          element.value = value;
          return true;
        }
      }
      restore(start);
      if (peek().tag() == TokenTag::InterpolatedString && at_key_colon(1)) {
        TokenRef string = TokenRef::borrowed(index_at(pos_));
        QUENDAL_TRY(key, to_interpolate_expr());
        TokenRef colon = advance();
        auto pattern = or_pattern(mode);
        if (pattern.is_cut()) return pattern.failure();
        if (pattern.ok()) {
          element.kind = RecordElementKind::ExpressionKeyed;
          element.key_node = *key;
          element.colon = colon;
          element.value = wrap_pattern_as_unknown(arena_, *pattern, token_list({string}),
                                                  DiagnosticCode::InterpolatedNameRecordPattern);
          return true;
        }
        restore(start);
      }
      auto pattern = or_pattern(mode);
      if (pattern.is_cut()) return pattern.failure();
      if (!pattern.ok()) return false;
      element.kind = RecordElementKind::Positional;
      element.value = *pattern;
      return true;
    };
    QUENDAL_TRY(listed, list_elements(elements, hole, record_pattern_element));
    TokenRef close = token_or_insert(Operator::CloseParen, DiagnosticCode::MissingCloseParen);

    if (elements.size() == 1 && elements.front().item.kind == RecordElementKind::Positional &&
        elements.front().comma.is_null()) {
      auto* group = arena_.make<GroupPattern>();
      group->pattern = elements.front().item.value;
      group->open = *open;
      group->close = close;
      return static_cast<Pattern*>(group);
    }
    // A spread must come last.
    for (std::size_t i = 0; i + 1 < elements.size(); ++i) {
      PatternRecordElement& element = elements[i].item;
      if (element.kind != RecordElementKind::Spread) continue;
      element.value = wrap_pattern_as_unknown(arena_, element.value, token_list({element.spread}),
                                              DiagnosticCode::MispositionedSpreadInRecordPattern);
    }
    auto* record = arena_.make<RecordPattern>();
    record->elements = std::move(elements);
    record->open = *open;
    record->close = close;
    return static_cast<Pattern*>(record);
  });
}

// array pattern -> `[` ... `]`; more than one spread is reported on each.
ParserResult<Pattern*> Parser::array_pattern(PatternMode mode) {
  const MemoRule rule =
      mode == PatternMode::Binding ? MemoRule::ArrayPatternBinding : MemoRule::ArrayPatternRebinding;
  return memoized<Pattern>(rule, [&]() -> ParserResult<Pattern*> {
    QUENDAL_TRY(array, array_pattern_like(Operator::OpenBracket, Operator::CloseBracket,
                                          DiagnosticCode::MissingCloseBracket, mode));
    ArrayPattern* node = *array;
    std::size_t spreads = 0;
    for (const auto& element : node->elements) spreads += element.item.is_spread() ? 1 : 0;
    if (spreads > 1) {
      for (auto& element : node->elements) {
        PatternElement& item = element.item;
        if (!item.is_spread()) continue;
        Pattern* wrapped = wrap_pattern_as_unknown(arena_, item.spread_value(), token_list({item.spread}),
                                                   DiagnosticCode::DuplicateSpreadPattern);
        item.spread = TokenRef();
        item.element = wrapped;
      }
    }
    return static_cast<Pattern*>(node);
  });
}

}  // namespace quendal
