// Source ranges of tree nodes. A node's range runs from the start of its
// first present part to the end of its last, in the source order the node
// table gives (nodes.def, source_parts.h). Both ends are found in a loop:
// when the first (or last) part is a node, the loop continues with that
// node, so chains of operators, accesses, calls and `else if` branches of
// any length take no native stack.
#include <algorithm>
#include <limits>
#include <type_traits>

#include "parser/ast.h"
#include "parser/ranges.h"
#include "parser/source_parts.h"
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

// Smallest start and largest end over the tokens and the inner node.
template <class Node>
[[gnu::noinline]] SourceRange unknown_range(const TokenRefList& tokens, const ArenaRef<Node>& inner_ref) {
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

enum class Side : bool { Start, End };

// One step toward an end of a node: the position found, a node to go on
// with, or nothing (an absent part, an empty list).
struct Step {
  enum class To : std::uint8_t { Absent, Position, Expression, Pattern, Statement };
  To to = To::Absent;
  std::uint64_t position = 0;
  const void* node = nullptr;

  static Step at(std::uint64_t position) { return {To::Position, position, nullptr}; }
  static Step to_node(const Expression& node) { return {To::Expression, 0, &node}; }
  static Step to_node(const Pattern& node) { return {To::Pattern, 0, &node}; }
  static Step to_node(const Statement& node) { return {To::Statement, 0, &node}; }

  template <class Node>
  static constexpr To domain = std::is_same_v<Node, Expression> ? To::Expression
                               : std::is_same_v<Node, Pattern>  ? To::Pattern
                                                                : To::Statement;
};

bool is_null(const TokenRef& token) { return token.is_null(); }
template <class T>
bool is_null(const ArenaRef<T>& node) {
  return node == nullptr;
}

// The step toward the `side` end of each kind of field, composite fields
// (lists and their elements, else blocks, parameter lists, callables,
// iterables, match cases) taken apart here and nowhere else.
template <Side side>
struct Toward {
  static constexpr bool kStart = side == Side::Start;

  // TokenRef::range() read for one side only, and inline: the hot case.
  [[gnu::always_inline]] static Step of(const TokenRef& token) {
    if (token.is_borrowed()) {
      const Tokens& tokens = tokens_in_use();
      return Step::at(kStart ? tokens.start(token.index()) : tokens.end(token.index()));
    }
    const Token* owned = token.owned_pointer();  // throws on a null token
    return Step::at(kStart ? owned->start : owned->end);
  }
  static Step of(std::uint64_t position) { return Step::at(position); }
  static Step of(const ArenaDiagnostics&) { return {}; }  // not in the source
  template <class Node>
  static Step of(const ArenaRef<Node>& node) {
    return of(deref(node));
  }
  static Step of(const Expression& node) { return Step::to_node(node); }
  static Step of(const Pattern& node) { return Step::to_node(node); }
  static Step of(const Statement& node) { return Step::to_node(node); }
  static Step of(const ElseBlock& node) { return kStart ? of(node.keyword) : of(node.body); }
  static Step of(const ParameterList& node) { return of(kStart ? node.open : node.close); }
  static Step of(const RangeNode& node) { return of(kStart ? node.start : node.end); }
  static Step of(const Callable& callee) {
    if (callee.expression != nullptr) return of(*callee.expression);
    return of(callee.token);
  }
  static Step of(const Iterable& iterable) {
    if (iterable.range != nullptr) return of(*iterable.range);
    return of(iterable.expression);
  }
  static Step of(const MatchCase& arm) { return kStart ? of(arm.keyword) : of(arm.body); }
  template <class T>
  static Step of(const ListItem<T>& item) {
    if (!kStart && !item.comma.is_null()) return of(item.comma);
    return of(item.item);
  }
  template <class T, class S>
  static Step of(const ArrayElementBase<T, S>& element) {
    if (!element.is_spread()) return of(element.element);
    return kStart ? of(element.spread) : of(deref(element.spread_value()));
  }
  template <class V, class K>
  static Step of(const RecordElementBase<V, K>& element) {
    if (!kStart) return of(element.value);
    switch (element.kind) {
      case RecordElementKind::Keyed:
        return of(element.key);
      case RecordElementKind::ExpressionKeyed:
        return of(element.key_node);
      case RecordElementKind::OmittedKey:
        return of(element.colon);
      case RecordElementKind::Positional:
        return of(element.value);
      case RecordElementKind::Spread:
        return of(element.spread);
    }
    return of(element.value);
  }
  // Lists of nodes, tokens, elements and cases: their first or last item.
  template <class List>
  requires requires(const List& list) { list.empty(), list.front(), list.back(); }
  static Step of(const List& list) {
    if (list.empty()) return {};
    return of(kStart ? list.front() : list.back());
  }

  // The first (or last) part of a node that is present.
  template <class Part, class Node>
  [[gnu::always_inline]] static bool part_step(const Node& node, Step& step) {
    const auto& field = Part::of(node);
    if constexpr (source::may_be_absent(Part::role)) {
      if (is_null(field)) return false;
    }
    step = of(field);
    return step.to != Step::To::Absent;
  }
  template <class Node, class... Parts>
  [[gnu::always_inline]] static Step of_parts(const Node& node, source::PartList<Parts...>) {
    Step step;
    (part_step<Parts>(node, step) || ...);
    return step;
  }

  struct OfKind {
    template <class Node, class Kind>
    [[gnu::always_inline]] Step operator()(const Node& n, Kind) const {
      if constexpr (std::is_same_v<Node, UnknownExpression> || std::is_same_v<Node, UnknownPattern>) {
        // The one range not read off the parts in order: recovery keeps the
        // tokens of an Unknown expression or pattern, and the node it wraps,
        // in no particular order, so its range is the hull of them all.
        const SourceRange range = unknown_range(n.tokens, n.inner);
        return Step::at(kStart ? range.start : range.end);
      } else if constexpr (kStart) {
        return of_parts(n, typename Kind::Parts{});
      } else {
        return of_parts(n, typename source::Reverse<typename Kind::Parts>::type{});
      }
    }
  };
  template <class Node>
  [[gnu::always_inline]] static Step of_node(const Node& node) {
    return source::visit(node, OfKind{});
  }

  // Follows first (or last) parts down to a position. A node without any
  // part present (an Unknown statement without tokens) ends nowhere: it
  // starts after every position and ends before every one.
  [[gnu::flatten]] static std::uint64_t position(Step step) {
    for (;;) {
      switch (step.to) {
        case Step::To::Position:
          return step.position;
        case Step::To::Absent:
          return kStart ? kNoStart : 0;
        case Step::To::Expression:
          step = of_node(*static_cast<const Expression*>(step.node));
          continue;
        case Step::To::Pattern:
          step = of_node(*static_cast<const Pattern*>(step.node));
          continue;
        case Step::To::Statement:
          step = of_node(*static_cast<const Statement*>(step.node));
          continue;
      }
      throw InternalFailure("Unknown range step");
    }
  }
};

// The walk from a node, steps into nodes of its own domain (the chains)
// taken in this loop; a step into another domain, or a node without parts,
// finishes in the general loop above.
template <Side side, class Node>
[[gnu::flatten]] std::uint64_t position_from(const Node& first) {
  const Node* node = &first;
  for (;;) {
    const Step step = Toward<side>::of_node(*node);
    if (step.to == Step::To::Position) return step.position;
    if (step.to == Step::domain<Node>) {
      node = static_cast<const Node*>(step.node);
      continue;
    }
    return Toward<side>::position(step);
  }
}

template <class T>
SourceRange range_of_part(const T& part) {
  return {Toward<Side::Start>::position(Toward<Side::Start>::of(part)),
          Toward<Side::End>::position(Toward<Side::End>::of(part))};
}

}  // namespace

std::uint64_t start_of(const Expression& node) { return position_from<Side::Start>(node); }
std::uint64_t end_of(const Expression& node) { return position_from<Side::End>(node); }
std::uint64_t start_of(const Pattern& node) { return position_from<Side::Start>(node); }
std::uint64_t end_of(const Pattern& node) { return position_from<Side::End>(node); }

namespace {

// The token of a name or a literal of the token store (the most common
// values, whose range is their token's), else null.
const TokenRef* borrowed_leaf(const Expression& node) {
  const TokenRef* token = nullptr;
  if (node.kind == ExpressionKind::Variable)
    token = &node.as<VariableExpression>().token;
  else if (node.kind == ExpressionKind::Literal)
    token = &node.as<LiteralExpression>().token;
  return token != nullptr && token->is_borrowed() ? token : nullptr;
}

std::uint64_t end_of_value(const Expression& node) {
  if (const TokenRef* token = borrowed_leaf(node)) return tokens_in_use().end(token->index());
  return end_of(node);
}

}  // namespace

SourceRange range_of(const Expression& node) {
  if (const TokenRef* token = borrowed_leaf(node)) {
    const Tokens& tokens = tokens_in_use();
    return {tokens.start(token->index()), tokens.end(token->index())};
  }
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
  // The usual `return …;` and `fn name(…) { … }`: from the keyword to the
  // `;` or the body's `}`.
  if (node.kind == StatementKind::Return) {
    const auto& ret = node.as<ReturnStatement>();
    if (!ret.keyword.is_null() && !ret.semicolon.is_null())
      return {ret.keyword.range().start, ret.semicolon.range().end};
  } else if (node.kind == StatementKind::Function) {
    const auto& function = node.as<FunctionStatement>();
    if (function.pub.is_null() && !function.keyword.is_null() && function.body != nullptr &&
        function.body->kind == ExpressionKind::Block) {
      const TokenRef& close = function.body->as<BlockExpression>().close;
      if (!close.is_null()) return {function.keyword.range().start, close.range().end};
    }
  }
  return {position_from<Side::Start>(node), position_from<Side::End>(node)};
}
SourceRange range_of(const RangeNode& node) { return range_of_part(node); }
SourceRange range_of(const Iterable& node) { return range_of_part(node); }
SourceRange range_of(const Callable& node) { return range_of_part(node); }
SourceRange range_of(const ParameterList& node) { return range_of_part(node); }
SourceRange range_of(const ArrayElement& element) {
  // The usual element, one value: the value's range.
  if (!element.is_spread() && element.element.range == nullptr && element.element.expression != nullptr)
    return range_of(*element.element.expression);
  return range_of_part(element);
}
SourceRange range_of(const ArgumentElement& element) { return range_of_part(element); }
SourceRange range_of(const PatternElement& element) { return range_of_part(element); }
SourceRange range_of(const RecordElement& element) {
  // The usual element, `name: value`.
  if (element.kind == RecordElementKind::Keyed && element.key.is_borrowed() && element.value != nullptr)
    return {tokens_in_use().start(element.key.index()), end_of_value(*element.value)};
  return range_of_part(element);
}
SourceRange range_of(const PatternRecordElement& element) { return range_of_part(element); }
SourceRange range_of(const ElseBlock& node) { return range_of_part(node); }

}  // namespace quendal
