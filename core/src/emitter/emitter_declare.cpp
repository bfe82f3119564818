// The expression pre-pass: declares the names of pattern tests and reports
// the static warnings, hints and call annotations of each expression before
// it is emitted.
#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

bool is_literal_or_interpolation(const Expression& expression) {
  return expression.kind == ExpressionKind::Literal || expression.kind == ExpressionKind::Interpolation;
}

bool is_numeric_literal(const TokenKind& kind) {
  return kind.tag == TokenTag::Ordinal || kind.tag == TokenTag::Number || kind.is_keyword(Keyword::Nan) ||
         kind.is_keyword(Keyword::Inf);
}

bool is_boolean_literal(const TokenKind& kind) {
  return kind.is_keyword(Keyword::True) || kind.is_keyword(Keyword::False);
}

bool draws_unnecessary_parentheses(const Expression& inner) {
  switch (inner.kind) {
    case ExpressionKind::Literal:
    case ExpressionKind::Interpolation:
    case ExpressionKind::Variable:
    case ExpressionKind::Group:
    case ExpressionKind::Array:
    case ExpressionKind::Call:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::FieldAccess:
    case ExpressionKind::IndexAccess:
    case ExpressionKind::NonNilAssertion:
      return true;
    case ExpressionKind::Record: {
      const TokenRef& open = inner.as<RecordExpression>().open;
      return open.is_null() || !is_operator(open, Operator::OpenBrace);
    }
    case ExpressionKind::TaggedString:
    case ExpressionKind::SliceAccess:
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
      return false;
  }
  return false;
}

std::optional<Token> literal_token(const Expression* expression) {
  if (expression == nullptr || expression->kind != ExpressionKind::Literal) return std::nullopt;
  const TokenRef& token = expression->as<LiteralExpression>().token;
  if (token.is_null()) return std::nullopt;
  return *token;
}

}  // namespace

void Emitter::hint_mislead_nil(std::string_view name, SourceRange range) {
  if (name == "null" || name == "Null" || name == "NULL" || name == "None" || name == "Nothing" ||
      name == "undefined")
    push(DiagnosticCode::MisleadingNilVariable, range);
}

void Emitter::check_known_global(std::string_view name, SourceRange range) {
  if (config.known_globals != nullptr && !config.known_globals->contains(name))
    push(DiagnosticCode::GlobalVariableNotDeclared, range);
}

void Emitter::check_static_operator_usage(const Token& op, const Token& literal, bool literal_is_right) {
  const TokenKind& op_kind = peeled_kind(op);
  const TokenKind& kind = peeled_kind(literal);
  const SourceRange range = token_range(literal);
  if (op_kind.tag == TokenTag::Keyword) {
    switch (op_kind.keyword) {
      case Keyword::In:
      case Keyword::NotIn:
        if (literal_is_right && !kind.is_keyword(Keyword::Global)) push(DiagnosticCode::NonCompoundIn, range);
        return;
      case Keyword::And:
      case Keyword::Or:
      case Keyword::Not:
        if (!is_boolean_literal(kind)) push(DiagnosticCode::NonBooleanInLogical, range);
        return;
      default:
        return;
    }
  }
  if (op_kind.tag != TokenTag::Operator) return;
  if (operator_is_arithmetic(op_kind.op)) {
    if (!is_numeric_literal(kind)) push(DiagnosticCode::NonNumberInArithmetic, range);
  } else if (operator_is_logical(op_kind.op)) {
    if (!is_boolean_literal(kind)) push(DiagnosticCode::NonBooleanInLogical, range);
  } else if (operator_is_comparison(op_kind.op)) {
    if (!is_numeric_literal(kind) && kind.tag != TokenTag::String)
      push(DiagnosticCode::NonNumberOrStringInComparison, range);
  }
}

// The annotations of a call, reported before its callee, receiver and
// arguments are pre-passed. `start`: where the call's chain starts.
void Emitter::declare_call_head(const Expression& call, std::uint64_t start) {
  const Callable* callee = nullptr;
  const ArgumentList* arguments = nullptr;
  const TokenRef* open = nullptr;
  const TokenRef* close = nullptr;
  const SourceRange range{start, end_of(call)};
  SourceRange callee_range;
  if (call.kind == ExpressionKind::Call) {
    const auto& c = call.as<CallExpression>();
    callee = &c.callee;
    arguments = &c.arguments;
    open = &c.open;
    close = &c.close;
    push_tag(DiagnosticCode::FunctionCall, range);
    // The callee starts the call.
    callee_range = c.callee.expression != nullptr ? SourceRange{start, end_of(*c.callee.expression)}
                                                  : range_of(c.callee);
  } else if (call.kind == ExpressionKind::ExtensionCall) {
    const auto& c = call.as<ExtensionCallExpression>();
    callee = &c.callee;
    arguments = &c.arguments;
    open = &c.open;
    close = &c.close;
    push_tag(DiagnosticCode::ExtensionCall, range);
    // The receiver starts the call; the callee follows `::`.
    if (c.receiver != nullptr)
      push_tag(DiagnosticCode::ArgumentExtension, SourceRange{start, end_of(*c.receiver)});
    callee_range = range_of(c.callee);
  } else {
    throw InternalFailure("declare_call_head on an expression that is not a call");
  }
  if (callee->expression != nullptr && is_literal_or_interpolation(*callee->expression))
    push(DiagnosticCode::LiteralNotCallable, range_of(*callee->expression));
  push_tag(DiagnosticCode::Callable, callee_range);
  if (!open->is_null()) push_tag(DiagnosticCode::ArgumentStart, open->range());
  for (const auto& item : *arguments) {
    if (item.item.is_spread()) push_tag(DiagnosticCode::ArgumentSpread, item.item.spread.range());
    if (!item.comma.is_null()) push_tag(DiagnosticCode::ArgumentComma, item.comma.range());
  }
  if (!close->is_null()) push_tag(DiagnosticCode::ArgumentEnd, close->range());
}

// A chain of accesses and calls: each form's checks and annotations
// outermost first, then the innermost operand, then each form's other
// operands (index, arguments, ...) innermost first.
void Emitter::declare_postfix(const Expression& expression) {
  const std::uint64_t start = start_of(expression);
  ScratchMark<const Expression*> forms(postfix_nodes_);
  const Expression* node = &expression;
  for (;;) {
    const std::optional<PostfixForm> form = postfix_form(*node);
    if (!form) throw InternalFailure("declare_postfix on an expression that is not a postfix form");
    switch (*form) {
      case PostfixForm::FieldAccess: {
        const Expression* object = node->as<FieldAccessExpression>().object;
        if (is_literal_or_interpolation(*object))
          push(DiagnosticCode::LiteralNotIndexable, range_of(*object));
        break;
      }
      case PostfixForm::IndexAccess: {
        const Expression* object = node->as<IndexAccessExpression>().object;
        if (is_literal_or_interpolation(*object))
          push(DiagnosticCode::LiteralNotIndexable, range_of(*object));
        break;
      }
      case PostfixForm::TaggedString: {
        const Expression* tag = node->as<TaggedStringExpression>().tag;
        if (tag != nullptr && is_literal_or_interpolation(*tag))
          push(DiagnosticCode::LiteralNotCallable, range_of(*tag));
        break;
      }
      case PostfixForm::Call:
      case PostfixForm::ExtensionCall:
        declare_call_head(*node, start);
        break;
      case PostfixForm::SliceAccess:
      case PostfixForm::NonNilAssertion:
        break;
    }
    postfix_nodes_.push_back(node);
    const Expression* operand = postfix_operand(*node);
    if (operand == nullptr) break;
    if (!is_postfix(*operand)) {
      declare_expression(*operand);
      break;
    }
    node = operand;
  }
  while (forms.holds()) {
    node = forms.pop();
    switch (*postfix_form(*node)) {
      case PostfixForm::IndexAccess: {
        const Expression* index = node->as<IndexAccessExpression>().index;
        if (index != nullptr) declare_expression(*index);
        break;
      }
      case PostfixForm::SliceAccess: {
        const auto& access = node->as<SliceAccessExpression>();
        if (access.start != nullptr) declare_expression(*access.start);
        if (access.end != nullptr) declare_expression(*access.end);
        break;
      }
      case PostfixForm::TaggedString: {
        const Expression* string = node->as<TaggedStringExpression>().string;
        if (string != nullptr) declare_expression(*string);
        break;
      }
      case PostfixForm::Call:
      case PostfixForm::ExtensionCall: {
        const ArgumentList* arguments = nullptr;
        if (node->kind == ExpressionKind::Call) {
          arguments = &node->as<CallExpression>().arguments;
        } else {
          // An extension call's callee comes after its receiver.
          const auto& call = node->as<ExtensionCallExpression>();
          if (call.callee.expression != nullptr) declare_expression(*call.callee.expression);
          arguments = &call.arguments;
        }
        for (const auto& item : *arguments) {
          const Expression* value =
              item.item.is_spread() ? item.item.spread_value() : item.item.element.get();
          if (value != nullptr) declare_expression(*value);
        }
        break;
      }
      case PostfixForm::FieldAccess:
      case PostfixForm::NonNilAssertion:
        break;
    }
  }
}

void Emitter::declare_inner_expression(const Expression& expression) {
  const auto declare = [&](const Expression& sub) { declare_expression(sub); };
  switch (expression.kind) {
    case ExpressionKind::Literal:
    case ExpressionKind::Variable:
    case ExpressionKind::Unknown:
      return;
    case ExpressionKind::Interpolation:
      return for_each_sub_expression(expression.as<InterpolationExpression>(), declare);
    case ExpressionKind::Record:
      return for_each_sub_expression(expression.as<RecordExpression>(), declare);
    case ExpressionKind::Array:
      return for_each_sub_expression(expression.as<ArrayExpression>(), declare);
    case ExpressionKind::Group: {
      const auto& group = expression.as<GroupExpression>();
      if (group.expression != nullptr && draws_unnecessary_parentheses(*group.expression))
        push(DiagnosticCode::UnnecessaryParentheses, span_of(group.open.range(), group.close.range()));
      return for_each_sub_expression(group, declare);
    }
    case ExpressionKind::Call:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::TaggedString:
    case ExpressionKind::FieldAccess:
    case ExpressionKind::IndexAccess:
    case ExpressionKind::SliceAccess:
    case ExpressionKind::NonNilAssertion:
      declare_postfix(expression);
      return;
    case ExpressionKind::Prefix: {
      const auto& prefix = expression.as<PrefixExpression>();
      if (const std::optional<Token> literal = literal_token(prefix.operand))
        check_static_operator_usage(*prefix.op, *literal, true);
      return for_each_sub_expression(prefix, declare);
    }
    case ExpressionKind::Binary: {
      // A left-nested chain is walked iteratively: checks top-down, then the
      // innermost left operand, then the right operands bottom-up, which is
      // the order a recursive walk gives.
      const ScratchMark<const BinaryExpression*> links(chain_stack_);
      const Expression* node = &expression;
      while (node != nullptr && node->kind == ExpressionKind::Binary) {
        const auto& binary = node->as<BinaryExpression>();
        if (const std::optional<Token> literal = literal_token(binary.left))
          check_static_operator_usage(*binary.op, *literal, false);
        if (const std::optional<Token> literal = literal_token(binary.right))
          check_static_operator_usage(*binary.op, *literal, true);
        chain_stack_.push_back(&binary);
        node = binary.left;
      }
      if (node != nullptr) declare_expression(*node);
      // Read in place, not popped: a nested chain pushes above them and
      // cuts back to its own mark.
      for (std::size_t k = chain_stack_.size(); k-- > links.base();) {
        const Expression* right = chain_stack_[k]->right;
        if (right != nullptr) declare_expression(*right);
      }
      return;
    }
    case ExpressionKind::IsPattern: {
      const auto& test = expression.as<IsPatternExpression>();
      if (test.value != nullptr) declare_expression(*test.value);
      if (test.pattern != nullptr) declare_pattern(*test.pattern, VariableKind::PatternBinding, nullptr);
      return;
    }
    case ExpressionKind::Match: {
      // The arms are declared and pre-passed arm by arm when the match is
      // emitted; the subject only here.
      const auto& match = expression.as<MatchExpression>();
      push_tag(DiagnosticCode::MatchExpression, range_of(expression));
      push_tag(DiagnosticCode::KeywordMatch, match.keyword.range());
      for (const MatchCase& arm : match.cases) {
        if (!arm.keyword.is_null()) push_tag(DiagnosticCode::KeywordCase, arm.keyword.range());
      }
      if (match.subject != nullptr) declare_expression(*match.subject);
      return;
    }
    case ExpressionKind::Block:
    case ExpressionKind::Loop:
    case ExpressionKind::While:
    case ExpressionKind::ForIn:
    case ExpressionKind::If:
    case ExpressionKind::Conditional:
    case ExpressionKind::FunctionLiteral:
      // Pre-passed by their own emitters (conditions, iterables and bodies),
      // which also record their annotations.
      return;
  }
}

}  // namespace quendal
