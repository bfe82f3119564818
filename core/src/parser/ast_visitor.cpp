// Source ranges of tree nodes and the diagnostics walk.
#include <algorithm>
#include <limits>

#include "diagnostic/diagnostics_collector.h"
#include "parser/ast.h"
#include "parser/ast_visitor.h"
#include "quendal/compile.h"

namespace quendal {

namespace {

constexpr std::uint64_t kNoStart = std::numeric_limits<std::uint64_t>::max();

template <class Node>
const Node& deref(const Node* node) {
  if (node == nullptr) throw InternalFailure("Inner node pointer should not be null");
  return *node;
}

SourceRange span(SourceRange first, SourceRange last) { return {first.start, last.end}; }

// Smallest start and largest end over the tokens (and the inner node).
SourceRange hull(const TokenRefList& tokens) {
  SourceRange range{kNoStart, 0};
  for (const TokenRef& token : tokens) {
    const SourceRange r = token.range();
    range.start = std::min(range.start, r.start);
    range.end = std::max(range.end, r.end);
  }
  return range;
}

void widen(SourceRange& range, SourceRange inner) {
  range.start = std::min(range.start, inner.start);
  range.end = std::max(range.end, inner.end);
}

SourceRange leading(const TokenRef& optional, const TokenRef& keyword) {
  return optional.is_null() ? keyword.range() : optional.range();
}

SourceRange body_or_else_end(SourceRange head, const Expression* body, const ElseBlock* else_block) {
  const SourceRange last = else_block != nullptr ? range_of(deref(else_block->body)) : range_of(deref(body));
  return span(head, last);
}

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

// ------------------------------------------------------------------ ranges

SourceRange range_of(const Expression& node) {
  switch (node.kind) {
    case ExpressionKind::Literal:
      return node.as<LiteralExpression>().token.range();
    case ExpressionKind::Interpolation: {
      return node.as<InterpolationExpression>().token.range();
    }
    case ExpressionKind::Variable:
      return node.as<VariableExpression>().token.range();
    case ExpressionKind::Group: {
      const auto& n = node.as<GroupExpression>();
      return span(n.open.range(), n.close.range());
    }
    case ExpressionKind::Record: {
      const auto& n = node.as<RecordExpression>();
      return span(n.open.range(), n.close.range());
    }
    case ExpressionKind::Array: {
      const auto& n = node.as<ArrayExpression>();
      return span(n.open.range(), n.close.range());
    }
    case ExpressionKind::Call: {
      const auto& n = node.as<CallExpression>();
      return span(range_of(n.callee), n.close.range());
    }
    case ExpressionKind::TaggedString: {
      const auto& n = node.as<TaggedStringExpression>();
      return span(range_of(deref(n.tag)), range_of(deref(n.string)));
    }
    case ExpressionKind::ExtensionCall: {
      const auto& n = node.as<ExtensionCallExpression>();
      return span(range_of(deref(n.receiver)), n.close.range());
    }
    case ExpressionKind::FieldAccess: {
      const auto& n = node.as<FieldAccessExpression>();
      return span(range_of(deref(n.object)), n.name.range());
    }
    case ExpressionKind::IndexAccess: {
      const auto& n = node.as<IndexAccessExpression>();
      return span(range_of(deref(n.object)), n.close.range());
    }
    case ExpressionKind::SliceAccess: {
      const auto& n = node.as<SliceAccessExpression>();
      return span(range_of(deref(n.object)), n.close.range());
    }
    case ExpressionKind::NonNilAssertion: {
      const auto& n = node.as<NonNilAssertionExpression>();
      return span(range_of(deref(n.operand)), n.op.range());
    }
    case ExpressionKind::Prefix: {
      const auto& n = node.as<PrefixExpression>();
      return span(n.op.range(), range_of(deref(n.operand)));
    }
    case ExpressionKind::Binary: {
      const auto& n = node.as<BinaryExpression>();
      return span(range_of(deref(n.left)), range_of(deref(n.right)));
    }
    case ExpressionKind::IsPattern: {
      const auto& n = node.as<IsPatternExpression>();
      return span(range_of(deref(n.value)), range_of(deref(n.pattern)));
    }
    case ExpressionKind::Block: {
      const auto& n = node.as<BlockExpression>();
      return span(n.open.range(), n.close.range());
    }
    case ExpressionKind::Loop: {
      const auto& n = node.as<LoopExpression>();
      return span(n.keyword.range(), range_of(deref<Expression>(n.body)));
    }
    case ExpressionKind::While: {
      const auto& n = node.as<WhileExpression>();
      return body_or_else_end(n.keyword.range(), n.body, n.else_block);
    }
    case ExpressionKind::ForIn: {
      const auto& n = node.as<ForInExpression>();
      return body_or_else_end(n.keyword.range(), n.body, n.else_block);
    }
    case ExpressionKind::If: {
      const auto& n = node.as<IfExpression>();
      return body_or_else_end(n.keyword.range(), n.body, n.else_block);
    }
    case ExpressionKind::Conditional: {
      const auto& n = node.as<ConditionalExpression>();
      return span(range_of(deref(n.condition)), range_of(deref(n.otherwise)));
    }
    case ExpressionKind::Match: {
      const auto& n = node.as<MatchExpression>();
      return span(n.keyword.range(), n.close.range());
    }
    case ExpressionKind::FunctionLiteral: {
      const auto& n = node.as<FunctionLiteralExpression>();
      return span(n.keyword.range(), range_of(deref(n.body)));
    }
    case ExpressionKind::Unknown: {
      const auto& n = node.as<UnknownExpression>();
      SourceRange range = hull(n.tokens);
      if (n.inner != nullptr) widen(range, range_of(*n.inner));
      return range;
    }
  }
  throw InternalFailure("Unknown expression variant");
}

SourceRange range_of(const Statement& node) {
  switch (node.kind) {
    case StatementKind::Empty:
      return node.as<EmptyStatement>().semicolon.range();
    case StatementKind::ExpressionStatement: {
      const auto& n = node.as<ExpressionStatement>();
      return span(range_of(deref(n.expression)), n.semicolon.range());
    }
    case StatementKind::BareExpression:
      return range_of(deref(node.as<BareExpressionStatement>().expression));
    case StatementKind::Module: {
      const auto& n = node.as<ModuleStatement>();
      return span(leading(n.pub, n.keyword), range_of(deref<Expression>(n.body)));
    }
    case StatementKind::Bind: {
      const auto& n = node.as<BindStatement>();
      return span(leading(n.pub, n.keyword), n.semicolon.range());
    }
    case StatementKind::Rebind: {
      const auto& n = node.as<RebindStatement>();
      return span(range_of(deref(n.pattern)), n.semicolon.range());
    }
    case StatementKind::Const: {
      const auto& n = node.as<ConstStatement>();
      return span(leading(n.pub, n.keyword), n.semicolon.range());
    }
    case StatementKind::Assign: {
      const auto& n = node.as<AssignStatement>();
      return span(range_of(deref(n.target)), n.semicolon.range());
    }
    case StatementKind::Function: {
      const auto& n = node.as<FunctionStatement>();
      return span(leading(n.pub, n.keyword), range_of(deref(n.body)));
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

SourceRange range_of(const Pattern& node) {
  switch (node.kind) {
    case PatternKind::Group: {
      const auto& n = node.as<GroupPattern>();
      return span(n.open.range(), n.close.range());
    }
    case PatternKind::Literal: {
      const auto& n = node.as<LiteralPattern>();
      return span(leading(n.sign, n.literal), n.literal.range());
    }
    case PatternKind::ConstantName:
      return node.as<ConstantNamePattern>().name.range();
    case PatternKind::Comparison: {
      const auto& n = node.as<ComparisonPattern>();
      return span(n.op.range(), range_of(deref(n.operand)));
    }
    case PatternKind::Interval: {
      const auto& n = node.as<IntervalPattern>();
      return span(range_of(deref(n.start)), range_of(deref(n.end)));
    }
    case PatternKind::Discard:
      return node.as<DiscardPattern>().token.range();
    case PatternKind::Binding: {
      const auto& n = node.as<BindingPattern>();
      return span(leading(n.mut, n.name), n.name.range());
    }
    case PatternKind::Record: {
      const auto& n = node.as<RecordPattern>();
      return span(n.open.range(), n.close.range());
    }
    case PatternKind::Array: {
      const auto& n = node.as<ArrayPattern>();
      return span(n.open.range(), n.close.range());
    }
    case PatternKind::Omitted: {
      const std::uint64_t position = node.as<OmittedPattern>().position;
      return {position, position};
    }
    case PatternKind::And: {
      const auto& n = node.as<AndPattern>();
      return span(range_of(deref(n.left)), range_of(deref(n.right)));
    }
    case PatternKind::Or: {
      const auto& n = node.as<OrPattern>();
      return span(range_of(deref(n.left)), range_of(deref(n.right)));
    }
    case PatternKind::Not: {
      const auto& n = node.as<NotPattern>();
      return span(n.op.range(), range_of(deref(n.pattern)));
    }
    case PatternKind::Unknown: {
      const auto& n = node.as<UnknownPattern>();
      SourceRange range = hull(n.tokens);
      if (n.inner != nullptr) widen(range, range_of(*n.inner));
      return range;
    }
  }
  throw InternalFailure("Unknown pattern variant");
}

SourceRange range_of(const RangeNode& node) {
  return span(range_of(deref(node.start)), range_of(deref(node.end)));
}

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
  if (element.is_spread()) return span(element.spread.range(), range_of(deref(element.spread_value)));
  return range_of(element.element);
}

SourceRange range_of(const ArgumentElement& element) {
  if (element.is_spread()) return span(element.spread.range(), range_of(deref(element.spread_value)));
  return range_of(deref(element.element));
}

SourceRange range_of(const PatternElement& element) {
  if (element.is_spread()) return span(element.spread.range(), range_of(deref(element.spread_value)));
  return range_of(deref(element.element));
}

SourceRange range_of(const RecordElement& element) { return record_element_range(element); }

SourceRange range_of(const PatternRecordElement& element) { return record_element_range(element); }

SourceRange range_of(const ElseBlock& node) { return span(node.keyword.range(), range_of(deref(node.body))); }

// ------------------------------------------------------ collecting diagnostics

namespace {

// Moves stored diagnostics into the collector, depth-first in field order.
// Unknown expressions and patterns with an inner node are replaced by it.
class DiagnosticsWalker {
 public:
  explicit DiagnosticsWalker(DiagnosticsCollector& collector) : collector_(collector) {}

  void token(const TokenRef& ref) { ref.collect_diagnostics(collector_); }
  void optional(const TokenRef& ref) {
    if (!ref.is_null()) ref.collect_diagnostics(collector_);
  }

  void expression(Expression*& slot) {
    if (slot == nullptr) return;
    Expression& node = *slot;
    switch (node.kind) {
      case ExpressionKind::Literal:
        token(node.as<LiteralExpression>().token);
        return;
      case ExpressionKind::Interpolation:
        // The string token itself is a plain pointer into the token list.
        for (Expression*& part : node.as<InterpolationExpression>().parts) expression(part);
        return;
      case ExpressionKind::Variable:
        token(node.as<VariableExpression>().token);
        return;
      case ExpressionKind::Group: {
        auto& n = node.as<GroupExpression>();
        expression(n.expression);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::Record: {
        auto& n = node.as<RecordExpression>();
        for (auto& item : n.elements) list_item(item);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::Array: {
        auto& n = node.as<ArrayExpression>();
        for (auto& item : n.elements) list_item(item);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::Call: {
        auto& n = node.as<CallExpression>();
        callable(n.callee);
        for (auto& item : n.arguments) list_item(item);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::TaggedString: {
        auto& n = node.as<TaggedStringExpression>();
        expression(n.tag);
        expression(n.string);
        return;
      }
      case ExpressionKind::ExtensionCall: {
        auto& n = node.as<ExtensionCallExpression>();
        callable(n.callee);
        for (auto& item : n.arguments) list_item(item);
        expression(n.receiver);
        token(n.separator);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::FieldAccess: {
        auto& n = node.as<FieldAccessExpression>();
        expression(n.object);
        token(n.dot);
        token(n.name);
        return;
      }
      case ExpressionKind::IndexAccess: {
        auto& n = node.as<IndexAccessExpression>();
        expression(n.object);
        expression(n.index);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::SliceAccess: {
        auto& n = node.as<SliceAccessExpression>();
        expression(n.object);
        token(n.open);
        expression(n.start);
        token(n.op);
        expression(n.end);
        token(n.close);
        return;
      }
      case ExpressionKind::NonNilAssertion: {
        auto& n = node.as<NonNilAssertionExpression>();
        expression(n.operand);
        token(n.op);
        return;
      }
      case ExpressionKind::Prefix: {
        auto& n = node.as<PrefixExpression>();
        expression(n.operand);
        token(n.op);
        return;
      }
      case ExpressionKind::Binary: {
        auto& n = node.as<BinaryExpression>();
        expression(n.left);
        expression(n.right);
        token(n.op);
        return;
      }
      case ExpressionKind::IsPattern: {
        auto& n = node.as<IsPatternExpression>();
        expression(n.value);
        pattern(n.pattern);
        token(n.op);
        return;
      }
      case ExpressionKind::Block:
        block(node.as<BlockExpression>());
        return;
      case ExpressionKind::Loop: {
        auto& n = node.as<LoopExpression>();
        block_pointer(n.body);
        token(n.keyword);
        return;
      }
      case ExpressionKind::While: {
        auto& n = node.as<WhileExpression>();
        expression(n.condition);
        block_pointer(n.body);
        token(n.keyword);
        else_block(n.else_block);
        return;
      }
      case ExpressionKind::ForIn: {
        auto& n = node.as<ForInExpression>();
        pattern(n.pattern);
        iterable(n.iterable);
        block_pointer(n.body);
        token(n.keyword);
        token(n.in);
        else_block(n.else_block);
        return;
      }
      case ExpressionKind::If: {
        auto& n = node.as<IfExpression>();
        expression(n.condition);
        block_pointer(n.body);
        token(n.keyword);
        else_block(n.else_block);
        return;
      }
      case ExpressionKind::Conditional: {
        auto& n = node.as<ConditionalExpression>();
        expression(n.condition);
        expression(n.then);
        expression(n.otherwise);
        token(n.question);
        token(n.colon);
        return;
      }
      case ExpressionKind::Match: {
        auto& n = node.as<MatchExpression>();
        for (MatchCase& c : n.cases) match_case(c);
        expression(n.subject);
        token(n.keyword);
        token(n.open);
        token(n.close);
        return;
      }
      case ExpressionKind::FunctionLiteral: {
        auto& n = node.as<FunctionLiteralExpression>();
        if (n.parameters != nullptr) parameters(*n.parameters);
        expression(n.body);
        token(n.keyword);
        return;
      }
      case ExpressionKind::Unknown: {
        auto& n = node.as<UnknownExpression>();
        collector_.append(n.diagnostics);
        for (const TokenRef& t : n.tokens) token(t);
        if (n.inner != nullptr) {
          expression(n.inner);
          slot = n.inner;
        }
        return;
      }
    }
  }

  void statement(Statement& node) {
    switch (node.kind) {
      case StatementKind::Empty:
        token(node.as<EmptyStatement>().semicolon);
        return;
      case StatementKind::ExpressionStatement: {
        auto& n = node.as<ExpressionStatement>();
        expression(n.expression);
        token(n.semicolon);
        return;
      }
      case StatementKind::BareExpression:
        expression(node.as<BareExpressionStatement>().expression);
        return;
      case StatementKind::Module: {
        auto& n = node.as<ModuleStatement>();
        optional(n.pub);
        block_pointer(n.body);
        token(n.keyword);
        token(n.name);
        return;
      }
      case StatementKind::Bind: {
        auto& n = node.as<BindStatement>();
        optional(n.pub);
        pattern(n.pattern);
        expression(n.value);
        token(n.keyword);
        token(n.op);
        token(n.semicolon);
        return;
      }
      case StatementKind::Rebind: {
        auto& n = node.as<RebindStatement>();
        pattern(n.pattern);
        expression(n.value);
        token(n.op);
        token(n.semicolon);
        return;
      }
      case StatementKind::Const: {
        auto& n = node.as<ConstStatement>();
        optional(n.pub);
        expression(n.value);
        token(n.keyword);
        token(n.name);
        token(n.op);
        token(n.semicolon);
        return;
      }
      case StatementKind::Assign: {
        auto& n = node.as<AssignStatement>();
        expression(n.target);
        expression(n.value);
        token(n.op);
        token(n.semicolon);
        return;
      }
      case StatementKind::Function: {
        auto& n = node.as<FunctionStatement>();
        optional(n.pub);
        if (n.parameters != nullptr) parameters(*n.parameters);
        expression(n.body);
        token(n.keyword);
        token(n.name);
        return;
      }
      case StatementKind::Return: {
        auto& n = node.as<ReturnStatement>();
        token(n.keyword);
        expression(n.value);
        token(n.semicolon);
        return;
      }
      case StatementKind::Break: {
        auto& n = node.as<BreakStatement>();
        token(n.keyword);
        expression(n.value);
        token(n.semicolon);
        return;
      }
      case StatementKind::Continue: {
        auto& n = node.as<ContinueStatement>();
        token(n.keyword);
        token(n.semicolon);
        return;
      }
      case StatementKind::Unknown: {
        auto& n = node.as<UnknownStatement>();
        collector_.append(n.diagnostics);
        for (const TokenRef& t : n.tokens) token(t);
        return;
      }
    }
  }

  void pattern(Pattern*& slot) {
    if (slot == nullptr) return;
    Pattern& node = *slot;
    switch (node.kind) {
      case PatternKind::Group: {
        auto& n = node.as<GroupPattern>();
        pattern(n.pattern);
        token(n.open);
        token(n.close);
        return;
      }
      case PatternKind::Literal: {
        auto& n = node.as<LiteralPattern>();
        optional(n.sign);
        token(n.literal);
        return;
      }
      case PatternKind::ConstantName:
        token(node.as<ConstantNamePattern>().name);
        return;
      case PatternKind::Comparison: {
        auto& n = node.as<ComparisonPattern>();
        pattern(n.operand);
        token(n.op);
        return;
      }
      case PatternKind::Interval: {
        auto& n = node.as<IntervalPattern>();
        pattern(n.start);
        pattern(n.end);
        token(n.op);
        return;
      }
      case PatternKind::Discard:
        token(node.as<DiscardPattern>().token);
        return;
      case PatternKind::Binding: {
        auto& n = node.as<BindingPattern>();
        optional(n.mut);
        token(n.name);
        return;
      }
      case PatternKind::Record: {
        auto& n = node.as<RecordPattern>();
        for (auto& item : n.elements) list_item(item);
        token(n.open);
        token(n.close);
        return;
      }
      case PatternKind::Array: {
        auto& n = node.as<ArrayPattern>();
        for (auto& item : n.elements) list_item(item);
        token(n.open);
        token(n.close);
        return;
      }
      case PatternKind::Omitted:
        return;
      case PatternKind::And: {
        auto& n = node.as<AndPattern>();
        pattern(n.left);
        pattern(n.right);
        token(n.op);
        return;
      }
      case PatternKind::Or: {
        auto& n = node.as<OrPattern>();
        pattern(n.left);
        pattern(n.right);
        token(n.op);
        return;
      }
      case PatternKind::Not: {
        auto& n = node.as<NotPattern>();
        pattern(n.pattern);
        token(n.op);
        return;
      }
      case PatternKind::Unknown: {
        auto& n = node.as<UnknownPattern>();
        collector_.append(n.diagnostics);
        for (const TokenRef& t : n.tokens) token(t);
        if (n.inner != nullptr) {
          pattern(n.inner);
          slot = n.inner;
        }
        return;
      }
    }
  }

  void parameters(ParameterList& list) {
    for (auto& item : list.parameters) list_item(item);
    token(list.open);
    token(list.close);
  }

 private:
  void block(BlockExpression& n) {
    for (Statement* s : n.statements)
      if (s != nullptr) statement(*s);
    token(n.open);
    expression(n.expression);
    token(n.close);
  }

  void block_pointer(BlockExpression* body) {
    if (body != nullptr) block(*body);
  }

  void else_block(ElseBlock* node) {
    if (node == nullptr) return;
    expression(node->body);
    token(node->keyword);
  }

  void callable(Callable& node) {
    if (node.expression != nullptr)
      expression(node.expression);
    else
      token(node.token);
  }

  void iterable(Iterable& node) {
    if (node.range != nullptr) {
      expression(node.range->start);
      expression(node.range->end);
      token(node.range->op);
    } else {
      expression(node.expression);
    }
  }

  void match_case(MatchCase& c) {
    expression(c.body);
    if (c.guard.condition != nullptr) {
      token(c.guard.keyword);
      expression(c.guard.condition);
    }
    pattern(c.pattern);
    token(c.keyword);
  }

  template <class T>
  void list_item(ListItem<T>& item) {
    optional(item.comma);
    element(item.item);
  }

  void element(ArrayElement& e) {
    if (e.is_spread()) {
      expression(e.spread_value);
      token(e.spread);
    } else {
      iterable(e.element);
    }
  }
  void element(ArgumentElement& e) {
    if (e.is_spread()) {
      expression(e.spread_value);
      token(e.spread);
    } else {
      expression(e.element);
    }
  }
  void element(PatternElement& e) {
    if (e.is_spread()) {
      pattern(e.spread_value);
      token(e.spread);
    } else {
      pattern(e.element);
    }
  }

  void value(Expression*& slot) { expression(slot); }
  void value(Pattern*& slot) { pattern(slot); }

  template <class V, class K>
  void element(RecordElementBase<V, K>& e) {
    switch (e.kind) {
      case RecordElementKind::Keyed:
        token(e.key);
        token(e.colon);
        value(e.value);
        return;
      case RecordElementKind::ExpressionKeyed:
        token(e.colon);
        expression(e.key_node);
        value(e.value);
        return;
      case RecordElementKind::OmittedKey:
        token(e.colon);
        value(e.value);
        return;
      case RecordElementKind::Positional:
        value(e.value);
        return;
      case RecordElementKind::Spread:
        token(e.spread);
        value(e.value);
        return;
    }
  }

  DiagnosticsCollector& collector_;
};

}  // namespace

void collect_diagnostics(Expression*& slot, DiagnosticsCollector& collector) {
  DiagnosticsWalker(collector).expression(slot);
}

void collect_diagnostics(Statement& node, DiagnosticsCollector& collector) {
  DiagnosticsWalker(collector).statement(node);
}

void collect_diagnostics(Pattern*& slot, DiagnosticsCollector& collector) {
  DiagnosticsWalker(collector).pattern(slot);
}

// ---------------------------------------------------------- construction

namespace {

void require_tokens(const TokenRefList& tokens) {
  if (tokens.empty()) throw InternalFailure("assertion failed: !tokens.is_empty()");
}

SourceDiagnostic over_tokens(const TokenRefList& tokens, DiagnosticCode code) {
  return {tokens.front().range().start, tokens.back().range().end, code};
}

}  // namespace

UnknownExpression* make_unknown_expression(Arena& arena, TokenRefList tokens, DiagnosticCode code) {
  require_tokens(tokens);
  ++unknowns_made;
  auto* node = arena.make<UnknownExpression>(&arena);
  node->diagnostics.push_back(over_tokens(tokens, code));
  node->tokens = std::move(tokens);
  return node;
}

UnknownExpression* wrap_expression_as_unknown(Arena& arena, Expression* inner, TokenRefList tokens,
                                              DiagnosticCode code) {
  UnknownExpression* node = make_unknown_expression(arena, std::move(tokens), code);
  node->inner = inner;
  return node;
}

UnknownExpression* make_unknown_expression_range(Arena& arena, std::uint64_t start, std::uint64_t end,
                                                 DiagnosticCode code) {
  ++unknowns_made;
  auto* node = arena.make<UnknownExpression>(&arena);
  node->tokens.push_back(TokenRef::make_owned(arena, TokenKind::empty(), static_cast<std::uint32_t>(start),
                                              static_cast<std::uint32_t>(end)));
  node->diagnostics.push_back({start, end, code});
  return node;
}

UnknownStatement* make_unknown_statement(Arena& arena, TokenRef token, DiagnosticCode code) {
  ++unknowns_made;
  auto* node = arena.make<UnknownStatement>(&arena);
  const SourceRange range = token.range();
  node->tokens.push_back(token);
  node->diagnostics.push_back({range.start, range.end, code});
  return node;
}

UnknownPattern* make_unknown_pattern(Arena& arena, TokenRefList tokens, DiagnosticCode code) {
  require_tokens(tokens);
  ++unknowns_made;
  auto* node = arena.make<UnknownPattern>(&arena);
  node->diagnostics.push_back(over_tokens(tokens, code));
  node->tokens = std::move(tokens);
  return node;
}

UnknownPattern* wrap_pattern_as_unknown(Arena& arena, Pattern* inner, TokenRefList tokens,
                                        DiagnosticCode code) {
  UnknownPattern* node = make_unknown_pattern(arena, std::move(tokens), code);
  node->inner = inner;
  return node;
}

}  // namespace quendal
