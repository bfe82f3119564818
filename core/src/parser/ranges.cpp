// Source ranges of tree nodes. A node's range runs from the start of its
// first part to the end of its last; both ends are found by following the
// first (or last) child in a loop, so chains of operators, accesses, calls
// and `else if` branches of any length take no native stack.
#include <algorithm>
#include <limits>

#include "parser/ast.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {

namespace {

constexpr std::uint64_t kNoStart = std::numeric_limits<std::uint64_t>::max();

template <class Node>
const Node& deref(const Node* node) {
  if (node == nullptr) throw InternalFailure("Inner node pointer should not be null");
  return *node;
}
template <class Node>
const Node& deref(const ArenaRef<Node>& node) {
  return deref(node.get());
}

SourceRange span(SourceRange first, SourceRange last) { return {first.start, last.end}; }

// Smallest start and largest end over the tokens (and the inner node).
template <class Node>
SourceRange unknown_range(const TokenRefList& tokens, const ArenaRef<Node>& inner_ref) {
  const Node* inner = inner_ref.get();
  SourceRange range{kNoStart, 0};
  for (const TokenRef& token : tokens) {
    const SourceRange r = token.range();
    range.start = std::min(range.start, r.start);
    range.end = std::max(range.end, r.end);
  }
  if (inner != nullptr) {
    const SourceRange r = range_of(*inner);
    range.start = std::min(range.start, r.start);
    range.end = std::max(range.end, r.end);
  }
  return range;
}

std::uint64_t leading(const TokenRef& optional, const TokenRef& keyword) {
  return optional.is_null() ? keyword.range().start : optional.range().start;
}

// The last part of a loop, `while`, `for` or `if`: its else branch when it
// has one (an `else if` continues the chain), else its body.
const Expression* body_or_else(const Expression* body, const ElseBlock* else_block) {
  if (else_block != nullptr) return &deref(else_block->body);
  return &deref(body);
}

}  // namespace

std::uint64_t start_of(const Pattern& first) {
  const Pattern* node = &first;
  for (;;) {
    switch (node->kind) {
      case PatternKind::Group:
        return node->as<GroupPattern>().open.range().start;
      case PatternKind::Literal: {
        const auto& n = node->as<LiteralPattern>();
        return leading(n.sign, n.literal);
      }
      case PatternKind::ConstantName:
        return node->as<ConstantNamePattern>().name.range().start;
      case PatternKind::Comparison:
        return node->as<ComparisonPattern>().op.range().start;
      case PatternKind::Interval:
        node = &deref(node->as<IntervalPattern>().start);
        continue;
      case PatternKind::Discard:
        return node->as<DiscardPattern>().token.range().start;
      case PatternKind::Binding: {
        const auto& n = node->as<BindingPattern>();
        return leading(n.mut, n.name);
      }
      case PatternKind::Record:
        return node->as<RecordPattern>().open.range().start;
      case PatternKind::Array:
        return node->as<ArrayPattern>().open.range().start;
      case PatternKind::Omitted:
        return node->as<OmittedPattern>().position;
      case PatternKind::And:
        node = &deref(node->as<AndPattern>().left);
        continue;
      case PatternKind::Or:
        node = &deref(node->as<OrPattern>().left);
        continue;
      case PatternKind::Not:
        return node->as<NotPattern>().op.range().start;
      case PatternKind::Unknown: {
        const auto& n = node->as<UnknownPattern>();
        return unknown_range(n.tokens, n.inner).start;
      }
    }
    throw InternalFailure("Unknown pattern variant");
  }
}

std::uint64_t end_of(const Pattern& last) {
  const Pattern* node = &last;
  for (;;) {
    switch (node->kind) {
      case PatternKind::Group:
        return node->as<GroupPattern>().close.range().end;
      case PatternKind::Literal:
        return node->as<LiteralPattern>().literal.range().end;
      case PatternKind::ConstantName:
        return node->as<ConstantNamePattern>().name.range().end;
      case PatternKind::Comparison:
        node = &deref(node->as<ComparisonPattern>().operand);
        continue;
      case PatternKind::Interval:
        node = &deref(node->as<IntervalPattern>().end);
        continue;
      case PatternKind::Discard:
        return node->as<DiscardPattern>().token.range().end;
      case PatternKind::Binding:
        return node->as<BindingPattern>().name.range().end;
      case PatternKind::Record:
        return node->as<RecordPattern>().close.range().end;
      case PatternKind::Array:
        return node->as<ArrayPattern>().close.range().end;
      case PatternKind::Omitted:
        return node->as<OmittedPattern>().position;
      case PatternKind::And:
        node = &deref(node->as<AndPattern>().right);
        continue;
      case PatternKind::Or:
        node = &deref(node->as<OrPattern>().right);
        continue;
      case PatternKind::Not:
        node = &deref(node->as<NotPattern>().pattern);
        continue;
      case PatternKind::Unknown: {
        const auto& n = node->as<UnknownPattern>();
        return unknown_range(n.tokens, n.inner).end;
      }
    }
    throw InternalFailure("Unknown pattern variant");
  }
}

std::uint64_t start_of(const Expression& first) {
  const Expression* node = &first;
  for (;;) {
    switch (node->kind) {
      case ExpressionKind::Literal:
        return node->as<LiteralExpression>().token.range().start;
      case ExpressionKind::Interpolation:
        return node->as<InterpolationExpression>().token.range().start;
      case ExpressionKind::Variable:
        return node->as<VariableExpression>().token.range().start;
      case ExpressionKind::Group:
        return node->as<GroupExpression>().open.range().start;
      case ExpressionKind::Record:
        return node->as<RecordExpression>().open.range().start;
      case ExpressionKind::Array:
        return node->as<ArrayExpression>().open.range().start;
      case ExpressionKind::Call: {
        const Callable& callee = node->as<CallExpression>().callee;
        if (callee.expression == nullptr) return callee.token.range().start;
        node = callee.expression;
        continue;
      }
      case ExpressionKind::TaggedString:
        node = &deref(node->as<TaggedStringExpression>().tag);
        continue;
      case ExpressionKind::ExtensionCall:
        node = &deref(node->as<ExtensionCallExpression>().receiver);
        continue;
      case ExpressionKind::FieldAccess:
        node = &deref(node->as<FieldAccessExpression>().object);
        continue;
      case ExpressionKind::IndexAccess:
        node = &deref(node->as<IndexAccessExpression>().object);
        continue;
      case ExpressionKind::SliceAccess:
        node = &deref(node->as<SliceAccessExpression>().object);
        continue;
      case ExpressionKind::NonNilAssertion:
        node = &deref(node->as<NonNilAssertionExpression>().operand);
        continue;
      case ExpressionKind::Prefix:
        return node->as<PrefixExpression>().op.range().start;
      case ExpressionKind::Binary:
        node = &deref(node->as<BinaryExpression>().left);
        continue;
      case ExpressionKind::IsPattern:
        node = &deref(node->as<IsPatternExpression>().value);
        continue;
      case ExpressionKind::Block:
        return node->as<BlockExpression>().open.range().start;
      case ExpressionKind::Loop:
        return node->as<LoopExpression>().keyword.range().start;
      case ExpressionKind::While:
        return node->as<WhileExpression>().keyword.range().start;
      case ExpressionKind::ForIn:
        return node->as<ForInExpression>().keyword.range().start;
      case ExpressionKind::If:
        return node->as<IfExpression>().keyword.range().start;
      case ExpressionKind::Conditional:
        node = &deref(node->as<ConditionalExpression>().condition);
        continue;
      case ExpressionKind::Match:
        return node->as<MatchExpression>().keyword.range().start;
      case ExpressionKind::FunctionLiteral:
        return node->as<FunctionLiteralExpression>().keyword.range().start;
      case ExpressionKind::Unknown: {
        const auto& n = node->as<UnknownExpression>();
        return unknown_range(n.tokens, n.inner).start;
      }
    }
    throw InternalFailure("Unknown expression variant");
  }
}

std::uint64_t end_of(const Expression& last) {
  const Expression* node = &last;
  for (;;) {
    switch (node->kind) {
      case ExpressionKind::Literal:
        return node->as<LiteralExpression>().token.range().end;
      case ExpressionKind::Interpolation:
        return node->as<InterpolationExpression>().token.range().end;
      case ExpressionKind::Variable:
        return node->as<VariableExpression>().token.range().end;
      case ExpressionKind::Group:
        return node->as<GroupExpression>().close.range().end;
      case ExpressionKind::Record:
        return node->as<RecordExpression>().close.range().end;
      case ExpressionKind::Array:
        return node->as<ArrayExpression>().close.range().end;
      case ExpressionKind::Call:
        return node->as<CallExpression>().close.range().end;
      case ExpressionKind::TaggedString:
        node = &deref(node->as<TaggedStringExpression>().string);
        continue;
      case ExpressionKind::ExtensionCall:
        return node->as<ExtensionCallExpression>().close.range().end;
      case ExpressionKind::FieldAccess:
        return node->as<FieldAccessExpression>().name.range().end;
      case ExpressionKind::IndexAccess:
        return node->as<IndexAccessExpression>().close.range().end;
      case ExpressionKind::SliceAccess:
        return node->as<SliceAccessExpression>().close.range().end;
      case ExpressionKind::NonNilAssertion:
        return node->as<NonNilAssertionExpression>().op.range().end;
      case ExpressionKind::Prefix:
        node = &deref(node->as<PrefixExpression>().operand);
        continue;
      case ExpressionKind::Binary:
        node = &deref(node->as<BinaryExpression>().right);
        continue;
      case ExpressionKind::IsPattern:
        return end_of(deref(node->as<IsPatternExpression>().pattern));
      case ExpressionKind::Block:
        return node->as<BlockExpression>().close.range().end;
      case ExpressionKind::Loop:
        node = &deref<Expression>(node->as<LoopExpression>().body);
        continue;
      case ExpressionKind::While: {
        const auto& n = node->as<WhileExpression>();
        node = body_or_else(n.body, n.else_block);
        continue;
      }
      case ExpressionKind::ForIn: {
        const auto& n = node->as<ForInExpression>();
        node = body_or_else(n.body, n.else_block);
        continue;
      }
      case ExpressionKind::If: {
        const auto& n = node->as<IfExpression>();
        node = body_or_else(n.body, n.else_block);
        continue;
      }
      case ExpressionKind::Conditional:
        node = &deref(node->as<ConditionalExpression>().otherwise);
        continue;
      case ExpressionKind::Match:
        return node->as<MatchExpression>().close.range().end;
      case ExpressionKind::FunctionLiteral:
        node = &deref(node->as<FunctionLiteralExpression>().body);
        continue;
      case ExpressionKind::Unknown: {
        const auto& n = node->as<UnknownExpression>();
        return unknown_range(n.tokens, n.inner).end;
      }
    }
    throw InternalFailure("Unknown expression variant");
  }
}

namespace {

template <class Value, class Key>
SourceRange record_element_range(const RecordElementBase<Value, Key>& element) {
  const SourceRange value = range_of(deref(element.value));
  switch (element.kind) {
    case RecordElementKind::Keyed:
      return span(element.key.range(), value);
    case RecordElementKind::ExpressionKeyed:
      return span(range_of(deref(element.key_node)), value);
    case RecordElementKind::OmittedKey:
      return span(element.colon.range(), value);
    case RecordElementKind::Positional:
      return value;
    case RecordElementKind::Spread:
      return span(element.spread.range(), value);
  }
  return value;
}

}  // namespace

SourceRange range_of(const Expression& node) {
  if (node.kind == ExpressionKind::Unknown) {
    const auto& n = node.as<UnknownExpression>();
    return unknown_range(n.tokens, n.inner);
  }
  return {start_of(node), end_of(node)};
}

SourceRange range_of(const Pattern& node) {
  if (node.kind == PatternKind::Unknown) {
    const auto& n = node.as<UnknownPattern>();
    return unknown_range(n.tokens, n.inner);
  }
  return {start_of(node), end_of(node)};
}

SourceRange range_of(const Statement& node) {
  switch (node.kind) {
    case StatementKind::Empty:
      return node.as<EmptyStatement>().semicolon.range();
    case StatementKind::ExpressionStatement: {
      const auto& n = node.as<ExpressionStatement>();
      return {start_of(deref(n.expression)), n.semicolon.range().end};
    }
    case StatementKind::BareExpression:
      return range_of(deref(node.as<BareExpressionStatement>().expression));
    case StatementKind::Module: {
      const auto& n = node.as<ModuleStatement>();
      return {leading(n.pub, n.keyword), end_of(deref<Expression>(n.body))};
    }
    case StatementKind::Bind: {
      const auto& n = node.as<BindStatement>();
      return {leading(n.pub, n.keyword), n.semicolon.range().end};
    }
    case StatementKind::Rebind: {
      const auto& n = node.as<RebindStatement>();
      return {start_of(deref(n.pattern)), n.semicolon.range().end};
    }
    case StatementKind::Const: {
      const auto& n = node.as<ConstStatement>();
      return {leading(n.pub, n.keyword), n.semicolon.range().end};
    }
    case StatementKind::Assign: {
      const auto& n = node.as<AssignStatement>();
      return {start_of(deref(n.target)), n.semicolon.range().end};
    }
    case StatementKind::Function: {
      const auto& n = node.as<FunctionStatement>();
      return {leading(n.pub, n.keyword), end_of(deref(n.body))};
    }
    case StatementKind::Return: {
      const auto& n = node.as<ReturnStatement>();
      return span(n.keyword.range(), n.semicolon.range());
    }
    case StatementKind::Break: {
      const auto& n = node.as<BreakStatement>();
      return span(n.keyword.range(), n.semicolon.range());
    }
    case StatementKind::Continue: {
      const auto& n = node.as<ContinueStatement>();
      return span(n.keyword.range(), n.semicolon.range());
    }
    case StatementKind::Unknown: {
      const auto& n = node.as<UnknownStatement>();
      if (n.tokens.empty()) return {kNoStart, 0};
      return span(n.tokens.front().range(), n.tokens.back().range());
    }
  }
  throw InternalFailure("Unknown statement variant");
}

SourceRange range_of(const RangeNode& node) { return {start_of(deref(node.start)), end_of(deref(node.end))}; }

SourceRange range_of(const Iterable& node) {
  if (node.range != nullptr) return range_of(*node.range);
  return range_of(deref(node.expression));
}

SourceRange range_of(const Callable& node) {
  if (node.expression != nullptr) return range_of(*node.expression);
  return node.token.range();
}

SourceRange range_of(const ParameterList& node) { return span(node.open.range(), node.close.range()); }

SourceRange range_of(const ArrayElement& element) {
  if (element.is_spread()) return span(element.spread.range(), range_of(deref(element.spread_value())));
  return range_of(element.element);
}

SourceRange range_of(const ArgumentElement& element) {
  if (element.is_spread()) return span(element.spread.range(), range_of(deref(element.spread_value())));
  return range_of(deref(element.element));
}

SourceRange range_of(const PatternElement& element) {
  if (element.is_spread()) return span(element.spread.range(), range_of(deref(element.spread_value())));
  return range_of(deref(element.element));
}

SourceRange range_of(const RecordElement& element) { return record_element_range(element); }

SourceRange range_of(const PatternRecordElement& element) { return record_element_range(element); }

SourceRange range_of(const ElseBlock& node) { return {node.keyword.range().start, end_of(deref(node.body))}; }

}  // namespace quendal
