#pragma once
// Lexical scopes: the stack of scopes the emitter resolves names through.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "emitter/variable.h"

namespace quendal {

struct Scope {
  // 1-based position on the window stack of the window owning the registers.
  std::uint64_t window = 0;
  // Where its variables begin on the stack of the open scopes' variables.
  std::size_t first = 0;
};

struct FoundVariable {
  std::uint64_t window;  // the window of the scope the variable was found in
  Variable* variable;
};

// The stack of open scopes, and for every name the variable it resolves to:
// the first declaration of the name in the innermost scope that declares
// it. A look-up is one probe of a table of names, whatever the number of
// open scopes; a name no open scope declares (a global) costs the same.
class Scopes {
 public:
  Scopes() = default;
  Scopes(const Scopes&) = delete;
  Scopes& operator=(const Scopes&) = delete;

  void push(std::uint64_t window) { stack_.push_back({window, variables_.size()}); }
  // Pops the innermost scope and returns the number of variables it
  // declared; the names it declared resolve to what they resolved to before
  // it.
  std::size_t pop();
  bool empty() const { return stack_.empty(); }
  std::size_t size() const { return stack_.size(); }
  // Internal failure on an empty stack.
  const Scope& innermost() const;
  // The variables of the innermost scope, in declaration order (valid until
  // the next add or pop). Variables live in the compilation's arena.
  std::span<Variable* const> innermost_variables() const {
    return std::span<Variable* const>(variables_).subspan(innermost().first);
  }
  // Declares the variable in the innermost scope.
  void add(Variable* variable) { add(variable, VariableName(variable->name)); }

  // Declares the variable in the innermost scope under `name` (whose text
  // is the variable's name).
  void add(Variable* variable, VariableName name);

  // Innermost scope outward; within a scope the first declaration wins.
  std::optional<FoundVariable> find_variable(VariableName name);
  // Only the innermost scope.
  Variable* find_local(VariableName name);

 private:
  // One name ever declared: the variable it resolves to now (null when no
  // open scope declares it).
  struct Name {
    std::string_view text;
    std::uint64_t hash;
    Variable* binding;
  };
  static std::uint64_t hash(std::string_view text);
  // The entry of the name, made (unbound) if there is none: found through
  // the symbol when there is one, else by the text.
  std::uint32_t entry_of(VariableName name) {
    if (name.symbol < by_symbol_.size() && by_symbol_[name.symbol] != 0) [[likely]]
      return by_symbol_[name.symbol] - 1;
    return entry_of_slow(name);
  }
  std::uint32_t entry_of_slow(VariableName name);
  // The variable the name resolves to now, or null. A look-up adds nothing
  // to the table: only declarations make entries (and keep their texts).
  Variable* binding_of(VariableName name) {
    if (name.symbol < by_symbol_.size() && by_symbol_[name.symbol] != 0) [[likely]]
      return names_[by_symbol_[name.symbol] - 1].binding;
    return binding_of_slow(name);
  }
  Variable* binding_of_slow(VariableName name);
  std::uint32_t intern(std::string_view text);
  void rehash(std::size_t slots);

  std::vector<Scope> stack_;
  // The variables of every open scope, outermost scope first.
  std::vector<Variable*> variables_;
  std::vector<Name> names_;
  // Open addressing over names_: entry number + 1, 0 for an empty slot; a
  // power of two in size, at most half full.
  std::vector<std::uint32_t> slots_;
  // Entry number + 1 of each lexer symbol seen, 0 when not seen yet.
  std::vector<std::uint32_t> by_symbol_;
};

}  // namespace quendal
