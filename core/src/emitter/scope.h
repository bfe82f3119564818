#pragma once
// Lexical scopes: the stack of scopes the emitter resolves names through.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "emitter/variable.h"

namespace quendal {

struct Scope {
  // Declaration order. Variables live in the compilation's arena, so the
  // pointers stay valid while the scope grows.
  std::vector<Variable*> variables;
  // 1-based position on the window stack of the window owning the registers.
  std::uint64_t window = 0;

  // First variable of that name in declaration order, or null.
  Variable* find(std::string_view name) const;
  void add(Variable* variable);

 private:
  // Built once the scope is large, so lookups stay constant time: an
  // open-addressing table of variables by name (a power of two in size, at
  // most half full) that keeps the first declaration of a name.
  std::vector<Variable*> index_;
  std::size_t indexed_ = 0;
  static std::size_t hash(std::string_view name);
  void index(Variable* variable);
};

struct FoundVariable {
  std::uint64_t window;  // the window of the scope the variable was found in
  Variable* variable;
};

class Scopes {
 public:
  void push(std::uint64_t window) { stack_.emplace_back().window = window; }
  // Pops the innermost scope and hands it to the caller.
  Scope pop();
  bool empty() const { return stack_.empty(); }
  std::size_t size() const { return stack_.size(); }
  // Internal failure on an empty stack.
  const Scope& innermost() const;
  // Declares the variable in the innermost scope.
  void add(Variable* variable);

  // Innermost scope outward; within a scope the first declaration wins.
  std::optional<FoundVariable> find_variable(std::string_view name) const;
  // Only the innermost scope.
  Variable* find_local(std::string_view name) const;

 private:
  std::vector<Scope> stack_;
  // Positions of the scopes that declare something, innermost last. A
  // look-up passes over the scopes that declare nothing: an else-if chain
  // keeps one open for each of its branches while the next is emitted.
  std::vector<std::size_t> declaring_;
};

}  // namespace quendal
