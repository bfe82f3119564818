#pragma once
// The children of a tree node, in walk order, from the node table
// (nodes.def). Composite fields (lists and their elements, else blocks,
// parameter lists, callees, iterables, match cases) are expanded, so a
// visitor only ever sees five things:
//   visitor.token(TokenRef&)                 a token (absent optional tokens are skipped)
//   visitor.expression(ArenaRef<Expression>& slot)  an expression child (may be null)
//   visitor.pattern(ArenaRef<Pattern>& slot)        a pattern child (may be null)
//   visitor.statement(Statement&)            a statement of a block
//   visitor.diagnostics(ArenaDiagnostics&)   the diagnostics an Unknown node stores
// A block body held as `ArenaRef<BlockExpression>` is passed as an expression slot of
// its own (`visitor.block(BlockExpression&)`), since it is never replaced.
#include "parser/ast.h"

namespace quendal {

namespace tree_walk {

template <class Visitor>
struct Fields {
  Visitor& visit;

  void operator()(TokenRef& token) { visit.token(token); }
  void optional(TokenRef& token) {
    if (!token.is_null()) visit.token(token);
  }
  void operator()(ArenaRef<Expression>& slot) { visit.expression(slot); }
  void operator()(ArenaRef<BlockExpression>& body) {
    if (body != nullptr) visit.block(*body);
  }
  void operator()(ArenaRef<Pattern>& slot) { visit.pattern(slot); }
  void operator()(StatementList& statements) {
    for (Statement* statement : statements)
      if (statement != nullptr) visit.statement(*statement);
  }
  void operator()(ArenaList<ArenaRef<Expression>>& parts) {
    for (ArenaRef<Expression>& part : parts) visit.expression(part);
  }
  void operator()(TokenRefList& tokens) {
    for (TokenRef& token : tokens) visit.token(token);
  }
  void operator()(ArenaDiagnostics& diagnostics) { visit.diagnostics(diagnostics); }
  void operator()(ArenaRef<ElseBlock>& node) {
    if (node == nullptr) return;
    (*this)(node->body);
    (*this)(node->keyword);
  }
  void operator()(ArenaRef<ParameterList>& list) {
    if (list == nullptr) return;
    (*this)(list->parameters);
    (*this)(list->open);
    (*this)(list->close);
  }
  void operator()(Callable& callee) {
    if (callee.expression != nullptr)
      (*this)(callee.expression);
    else
      (*this)(callee.token);
  }
  void operator()(Iterable& iterable) {
    if (iterable.range != nullptr) {
      (*this)(iterable.range->start);
      (*this)(iterable.range->end);
      (*this)(iterable.range->op);
    } else {
      (*this)(iterable.expression);
    }
  }
  void operator()(ArenaList<MatchCase>& cases) {
    for (MatchCase& c : cases) {
      (*this)(c.body);
      if (c.guard.condition != nullptr) {
        (*this)(c.guard.keyword);
        (*this)(c.guard.condition);
      }
      (*this)(c.pattern);
      (*this)(c.keyword);
    }
  }
  template <class T>
  void operator()(ArenaList<ListItem<T>>& items) {
    for (ListItem<T>& item : items) {
      optional(item.comma);
      element(item.item);
    }
  }

 private:
  template <class T, class S>
  void element(ArrayElementBase<T, S>& e) {
    if (e.is_spread()) {
      (*this)(e.spread_slot());
      (*this)(e.spread);
    } else {
      (*this)(e.element);
    }
  }
  template <class V, class K>
  void element(RecordElementBase<V, K>& e) {
    switch (e.kind) {
      case RecordElementKind::Keyed:
        (*this)(e.key);
        (*this)(e.colon);
        (*this)(e.value);
        return;
      case RecordElementKind::ExpressionKeyed:
        (*this)(e.colon);
        (*this)(e.key_node);
        (*this)(e.value);
        return;
      case RecordElementKind::OmittedKey:
        (*this)(e.colon);
        (*this)(e.value);
        return;
      case RecordElementKind::Positional:
        (*this)(e.value);
        return;
      case RecordElementKind::Spread:
        (*this)(e.spread);
        (*this)(e.value);
        return;
    }
  }
};

}  // namespace tree_walk

#define F(field) fields(n.field);
#define O(field) fields.optional(n.field);

// The children of a node whose kind is known: for_each_child(GroupExpression&, visitor).
#define QUENDAL_CHILDREN(type, list)                                \
  template <class Visitor>                                          \
  void for_each_child([[maybe_unused]] type& n, Visitor& visitor) { \
    [[maybe_unused]] tree_walk::Fields<Visitor> fields{visitor};    \
    list                                                            \
  }
#define QUENDAL_EXPRESSION(kind, type, list, ...) QUENDAL_CHILDREN(type, list)
#define QUENDAL_STATEMENT(kind, type, list, ...) QUENDAL_CHILDREN(type, list)
#define QUENDAL_PATTERN(kind, type, list, ...) QUENDAL_CHILDREN(type, list)
#include "parser/nodes.def"
#undef QUENDAL_EXPRESSION
#undef QUENDAL_STATEMENT
#undef QUENDAL_PATTERN
#undef QUENDAL_CHILDREN

#define QUENDAL_CHILDREN_CASE(Kind, type) \
  case Kind:                              \
    return for_each_child(node.template as<type>(), visitor);

template <class Visitor>
void for_each_child(Expression& node, Visitor& visitor) {
  switch (node.kind) {
#define QUENDAL_EXPRESSION(kind, type, ...) QUENDAL_CHILDREN_CASE(ExpressionKind::kind, type)
#include "parser/nodes.def"
#undef QUENDAL_EXPRESSION
  }
}

template <class Visitor>
void for_each_child(Statement& node, Visitor& visitor) {
  switch (node.kind) {
#define QUENDAL_STATEMENT(kind, type, ...) QUENDAL_CHILDREN_CASE(StatementKind::kind, type)
#include "parser/nodes.def"
#undef QUENDAL_STATEMENT
  }
}

template <class Visitor>
void for_each_child(Pattern& node, Visitor& visitor) {
  switch (node.kind) {
#define QUENDAL_PATTERN(kind, type, ...) QUENDAL_CHILDREN_CASE(PatternKind::kind, type)
#include "parser/nodes.def"
#undef QUENDAL_PATTERN
  }
}

#undef F
#undef O
#undef QUENDAL_CHILDREN_CASE

}  // namespace quendal
