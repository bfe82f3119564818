#include "emitter/utils.h"

namespace quendal {

// ------------------------------------------------------------------ chains

std::optional<PostfixForm> postfix_form(const Expression& expression) {
  switch (expression.kind) {
    case ExpressionKind::FieldAccess:
      return PostfixForm::FieldAccess;
    case ExpressionKind::IndexAccess:
      return PostfixForm::IndexAccess;
    case ExpressionKind::SliceAccess:
      return PostfixForm::SliceAccess;
    case ExpressionKind::NonNilAssertion:
      return PostfixForm::NonNilAssertion;
    case ExpressionKind::Call:
      return PostfixForm::Call;
    case ExpressionKind::ExtensionCall:
      return PostfixForm::ExtensionCall;
    case ExpressionKind::TaggedString:
      return PostfixForm::TaggedString;
    case ExpressionKind::Literal:
    case ExpressionKind::Interpolation:
    case ExpressionKind::Variable:
    case ExpressionKind::Group:
    case ExpressionKind::Record:
    case ExpressionKind::Array:
    case ExpressionKind::Prefix:
    case ExpressionKind::Binary:
    case ExpressionKind::IsPattern:
    case ExpressionKind::Block:
    case ExpressionKind::Loop:
    case ExpressionKind::While:
    case ExpressionKind::ForIn:
    case ExpressionKind::If:
    case ExpressionKind::Conditional:
    case ExpressionKind::Match:
    case ExpressionKind::FunctionLiteral:
    case ExpressionKind::Unknown:
      return std::nullopt;
  }
  return std::nullopt;
}

const Expression* postfix_operand(const Expression& expression) {
  const std::optional<PostfixForm> form = postfix_form(expression);
  if (!form) return nullptr;
  switch (*form) {
    case PostfixForm::Call:
      return expression.as<CallExpression>().callee.expression;
    case PostfixForm::TaggedString:
      return expression.as<TaggedStringExpression>().tag;
    case PostfixForm::ExtensionCall:
      return expression.as<ExtensionCallExpression>().receiver;
    case PostfixForm::FieldAccess:
      return expression.as<FieldAccessExpression>().object;
    case PostfixForm::IndexAccess:
      return expression.as<IndexAccessExpression>().object;
    case PostfixForm::SliceAccess:
      return expression.as<SliceAccessExpression>().object;
    case PostfixForm::NonNilAssertion:
      return expression.as<NonNilAssertionExpression>().operand;
  }
  return nullptr;
}

PatternSides combined_sides(const Pattern& pattern) {
  if (pattern.kind == PatternKind::And) {
    const auto& p = pattern.as<AndPattern>();
    return {p.left, p.right};
  }
  if (pattern.kind == PatternKind::Or) {
    const auto& p = pattern.as<OrPattern>();
    return {p.left, p.right};
  }
  return {};
}

bool is_identifier(const Token& token) { return peeled_kind(token).tag == TokenTag::Identifier; }

bool is_keyword(const Token& token, Keyword keyword) { return peeled_kind(token).is_keyword(keyword); }

bool is_operator(const Token& token, Operator op) { return peeled_kind(token).is_operator(op); }

std::string_view identifier_text(const Token& token) {
  const TokenKind& kind = peeled_kind(token);
  return kind.tag == TokenTag::Identifier ? kind.text() : std::string_view{};
}

// Tokens of the store carry no Unknown wrapper (the lexer unwrapped them),
// unless a test put one there: those are read whole.
bool is_identifier_slow(const TokenRef& token) { return is_identifier(*token); }

bool is_keyword(const TokenRef& token, Keyword keyword) {
  if (token.is_borrowed()) {
    const Tokens& tokens = tokens_in_use();
    if (tokens.tag(token.index()) != TokenTag::Unknown) return tokens.is_keyword(token.index(), keyword);
  }
  return is_keyword(*token, keyword);
}

bool is_operator(const TokenRef& token, Operator op) {
  if (token.is_borrowed()) {
    const Tokens& tokens = tokens_in_use();
    if (tokens.tag(token.index()) != TokenTag::Unknown) return tokens.is_operator(token.index(), op);
  }
  return is_operator(*token, op);
}

std::string_view identifier_text(const TokenRef& token) {
  if (token.is_borrowed()) {
    const Tokens& tokens = tokens_in_use();
    const TokenIndex i = token.index();
    const TokenTag tag = tokens.tag(i);
    if (tag == TokenTag::Identifier) return tokens.symbol_text(tokens.data(i));
    if (tag != TokenTag::Unknown) return {};
  }
  return identifier_text(*token);
}

std::optional<double> literal_number(const Token& token) {
  const TokenKind& kind = peeled_kind(token);
  switch (kind.tag) {
    case TokenTag::Ordinal:
      return static_cast<double>(kind.ordinal);
    case TokenTag::Number:
      return kind.number();
    case TokenTag::Keyword:
      if (kind.keyword == Keyword::Nan) return std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
      if (kind.keyword == Keyword::Inf) return std::bit_cast<double>(std::uint64_t{0x7FF0000000000000});
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

bool is_numeric_literal_token(const Token& token) {
  const TokenTag tag = peeled_kind(token).tag;
  return tag == TokenTag::Ordinal || tag == TokenTag::Number;
}

bool is_string_literal_token(const Token& token) { return peeled_kind(token).tag == TokenTag::String; }

bool is_boolean_literal_token(const Token& token) {
  const TokenKind& kind = peeled_kind(token);
  return kind.is_keyword(Keyword::True) || kind.is_keyword(Keyword::False);
}

std::optional<OpCode> compound_opcode(Operator op) {
  switch (op) {
    case Operator::PlusEq:
      return OpCode::Add;
    case Operator::MinusEq:
      return OpCode::Sub;
    case Operator::AsteriskEq:
      return OpCode::Mul;
    case Operator::SlashEq:
      return OpCode::Div;
    case Operator::PercentEq:
      return OpCode::Mod;
    case Operator::CaretEq:
      return OpCode::Pow;
    default:
      return std::nullopt;
  }
}

}  // namespace quendal
