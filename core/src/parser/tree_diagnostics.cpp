// Collecting the diagnostics stored in the tree: a walk in table order
// (nodes.def) over an explicit stack, so no depth of tree takes native stack.
#include <vector>

#include "diagnostic/diagnostics_collector.h"
#include "parser/ast.h"
#include "parser/tree_walk.h"

namespace quendal {

namespace {

// Moves stored diagnostics into the collector, depth-first in field order.
// Unknown expressions and patterns with an inner node are replaced by it
// (through the slot that held them) once their own diagnostics are taken.
class DiagnosticsWalker {
 public:
  explicit DiagnosticsWalker(DiagnosticsCollector& collector) : collector_(collector) {}

  void run() {
    while (!stack_.empty()) {
      const Item item = stack_.back();
      stack_.pop_back();
      switch (item.kind) {
        case ItemKind::Token:
          static_cast<const TokenRef*>(item.target)->collect_diagnostics(collector_);
          break;
        case ItemKind::Diagnostics:
          collector_.append(*static_cast<ArenaDiagnostics*>(item.target));
          break;
        case ItemKind::Expression:
          enter(static_cast<ArenaRef<Expression>*>(item.target));
          break;
        case ItemKind::Block:
          expand(*static_cast<Expression*>(item.target));
          break;
        case ItemKind::Pattern:
          enter(static_cast<ArenaRef<Pattern>*>(item.target));
          break;
        case ItemKind::Statement:
          expand(*static_cast<Statement*>(item.target));
          break;
        case ItemKind::ReplaceExpression:
          *static_cast<ArenaRef<Expression>*>(item.target) = *static_cast<ArenaRef<Expression>*>(item.source);
          break;
        case ItemKind::ReplacePattern:
          *static_cast<ArenaRef<Pattern>*>(item.target) = *static_cast<ArenaRef<Pattern>*>(item.source);
          break;
      }
    }
  }

  // What for_each_child hands over, gathered in walk order.
  void token(TokenRef& token) { children_.push_back({ItemKind::Token, &token, nullptr}); }
  void diagnostics(ArenaDiagnostics& list) { children_.push_back({ItemKind::Diagnostics, &list, nullptr}); }
  void expression(ArenaRef<Expression>& slot) {
    if (slot != nullptr) children_.push_back({ItemKind::Expression, &slot, nullptr});
  }
  void block(BlockExpression& body) {
    children_.push_back({ItemKind::Block, static_cast<Expression*>(&body), nullptr});
  }
  void pattern(ArenaRef<Pattern>& slot) {
    if (slot != nullptr) children_.push_back({ItemKind::Pattern, &slot, nullptr});
  }
  void statement(Statement& node) { children_.push_back({ItemKind::Statement, &node, nullptr}); }

  void push_expression(ArenaRef<Expression>& slot) {
    if (slot != nullptr) stack_.push_back({ItemKind::Expression, &slot, nullptr});
  }
  void push_pattern(ArenaRef<Pattern>& slot) {
    if (slot != nullptr) stack_.push_back({ItemKind::Pattern, &slot, nullptr});
  }
  void push_statement(Statement& node) { stack_.push_back({ItemKind::Statement, &node, nullptr}); }

 private:
  enum class ItemKind : std::uint8_t {
    Token,
    Diagnostics,
    Expression,
    Block,
    Pattern,
    Statement,
    ReplaceExpression,
    ReplacePattern,
  };
  struct Item {
    ItemKind kind;
    void* target;
    void* source;  // replacements: the slot whose node takes the target's place
  };

  void enter(ArenaRef<Expression>* slot) {
    Expression& node = **slot;
    if (node.kind == ExpressionKind::Unknown && node.as<UnknownExpression>().inner != nullptr)
      stack_.push_back({ItemKind::ReplaceExpression, slot, &node.as<UnknownExpression>().inner});
    expand(node);
  }
  void enter(ArenaRef<Pattern>* slot) {
    Pattern& node = **slot;
    if (node.kind == PatternKind::Unknown && node.as<UnknownPattern>().inner != nullptr)
      stack_.push_back({ItemKind::ReplacePattern, slot, &node.as<UnknownPattern>().inner});
    expand(node);
  }

  // Pushes the children of `node` so that the first is taken next.
  template <class Node>
  void expand(Node& node) {
    children_.clear();
    for_each_child(node, *this);
    stack_.insert(stack_.end(), children_.rbegin(), children_.rend());
  }

  DiagnosticsCollector& collector_;
  std::vector<Item> stack_;
  std::vector<Item> children_;
};

}  // namespace

void collect_diagnostics(ArenaRef<Expression>& slot, DiagnosticsCollector& collector) {
  DiagnosticsWalker walker(collector);
  walker.push_expression(slot);
  walker.run();
}

void collect_diagnostics(Statement& node, DiagnosticsCollector& collector) {
  DiagnosticsWalker walker(collector);
  walker.push_statement(node);
  walker.run();
}

void collect_diagnostics(ArenaRef<Pattern>& slot, DiagnosticsCollector& collector) {
  DiagnosticsWalker walker(collector);
  walker.push_pattern(slot);
  walker.run();
}

}  // namespace quendal
