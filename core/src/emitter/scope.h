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
// it. Every name has one dense id: a name the lexer interned is known by
// its symbol, any other text gets an id past the lexer's symbols. The
// binding of each id is one slot of an array, so a look-up by symbol is an
// array access, whatever the number of open scopes; a name no open scope
// declares (a global) costs the same. Shadowed bindings are kept on the
// variables that shadow them and come back when their scope closes.
class Scopes {
 public:
  // `symbols`: the texts of the lexer's symbols, by id (empty when names
  // come by their text alone); kept by reference for the compilation.
  explicit Scopes(std::span<const std::string_view> symbols = {});
  Scopes(const Scopes&) = delete;
  Scopes& operator=(const Scopes&) = delete;

  void push(std::uint64_t window) { stack_.push_back({window, variables_.size()}); }
  // Pops the innermost scope and returns the number of variables it
  // declared; the names it declared resolve to what they resolved to before
  // it.
  std::size_t pop();
  // pop(), handing each variable of the scope to `visit` once its binding
  // is undone, in declaration order (a name has at most one binding per
  // scope, so the order in which the bindings come back does not matter).
  // `visit` must not change the scopes, and is the last to touch the
  // variable: it may hand it on.
  template <class Visit>
  void pop_visiting(Visit&& visit) {
    if (stack_.empty()) [[unlikely]]
      none_open();
    const std::size_t first = stack_.back().first;
    stack_.pop_back();
    Variable** const bindings = bindings_.data();
    Variable* const* const end = variables_.data() + variables_.size();
    for (Variable* const* it = variables_.data() + first; it != end; ++it) {
      Variable* variable = *it;
      if (variable->bound) {
        bindings[variable->name_id] = variable->shadowed;
        variable->bound = false;
      }
      visit(*variable);
    }
    variables_.resize(first);
  }
  bool empty() const { return stack_.empty(); }
  std::size_t size() const { return stack_.size(); }
  // Internal failure on an empty stack.
  const Scope& innermost() const {
    if (stack_.empty()) [[unlikely]]
      none_open();
    return stack_.back();
  }
  // The variables of the innermost scope, in declaration order (valid until
  // the next add or pop). Variables live in the compilation's arena.
  std::span<Variable* const> innermost_variables() const {
    return std::span<Variable* const>(variables_).subspan(innermost().first);
  }
  // Declares the variable in the innermost scope.
  void add(Variable* variable) { add(variable, VariableName(variable->name())); }

  // Declares the variable in the innermost scope under `name` (whose text
  // is the variable's name).
  void add(Variable* variable, VariableName name) {
    if (stack_.empty()) [[unlikely]]
      none_open();
    const auto scope = static_cast<std::uint32_t>(stack_.size() - 1);
    variables_.push_back(variable);
    const std::uint32_t id = id_of(name);
    Variable*& binding = bindings_[id];
    variable->scope = scope;
    variable->name_id = id;
    // A later declaration of a name in the same scope does not hide the
    // first.
    if (binding != nullptr && binding->scope == scope) return;
    variable->shadowed = binding;
    variable->bound = true;
    binding = variable;
  }

  // Innermost scope outward; within a scope the first declaration wins.
  std::optional<FoundVariable> find_variable(VariableName name) {
    Variable* binding = binding_of(name);
    if (binding == nullptr) return std::nullopt;
    return FoundVariable{stack_[binding->scope].window, binding};
  }
  // Whether the name is one the lexer interned, whose look-up reads one
  // slot and calls nothing (find_interned).
  bool interned(VariableName name) const { return name.symbol < symbol_count_; }
  // find_variable for an interned name.
  std::optional<FoundVariable> find_interned(VariableName name) {
    Variable* binding = bindings_[name.symbol];
    if (binding == nullptr) return std::nullopt;
    return FoundVariable{stack_[binding->scope].window, binding};
  }
  // Only the innermost scope, for a name the lexer interned; null too when
  // the symbol lies past the lexer's (look it up by its name then).
  Variable* find_local(SymbolId symbol) {
    if (symbol >= symbol_count_) return nullptr;
    Variable* binding = bindings_[symbol];
    return binding != nullptr && binding->scope + 1 == stack_.size() ? binding : nullptr;
  }
  // The window of the innermost scope; only while a scope is open (as when
  // a variable was found).
  std::uint64_t innermost_window() const { return stack_.back().window; }
  // Only the innermost scope.
  Variable* find_local(VariableName name) {
    Variable* binding = binding_of(name);
    if (binding == nullptr || binding->scope + 1 != stack_.size()) return nullptr;
    return binding;
  }

 private:
  static constexpr std::uint32_t kNoName = 0xFFFFFFFFu;
  [[noreturn]] static void none_open();
  // The variable the name resolves to now, or null. A look-up adds nothing:
  // only declarations give texts ids (and keep the texts).
  Variable* binding_of(VariableName name) {
    if (name.symbol < symbol_count_) [[likely]]
      return bindings_[name.symbol];
    const std::uint32_t id = id_of_text(name.text(), false);
    return id == kNoName ? nullptr : bindings_[id];
  }
  std::uint32_t id_of(VariableName name) {
    return name.symbol < symbol_count_ ? name.symbol : id_of_text(name.text(), true);
  }
  // The id of a name given by its text: the lexer's symbol for the text
  // when there is one, else its own id past the symbols (made when
  // `make`, else kNoName).
  std::uint32_t id_of_text(std::string_view text, bool make);
  static std::uint64_t hash(std::string_view text);
  void rehash(std::size_t slots);

  std::vector<Scope> stack_;
  // The variables of every open scope, outermost scope first.
  std::vector<Variable*> variables_;
  // The binding of each name id; the lexer's symbols first.
  std::vector<Variable*> bindings_;
  std::span<const std::string_view> symbols_;
  std::uint32_t symbol_count_ = 0;
  // Texts known by text: (text, hash, id). Holds the lexer's symbols once a
  // name came by its text alone, and the texts without a symbol.
  struct Text {
    std::string_view text;
    std::uint64_t hash;
    std::uint32_t id;
  };
  std::vector<Text> texts_;
  bool symbols_indexed_ = false;
  // Open addressing over texts_: entry number + 1, 0 for an empty slot; a
  // power of two in size, at most half full.
  std::vector<std::uint32_t> slots_;
  std::uint32_t insert_text(std::string_view text, std::uint64_t h, std::uint32_t id);
};

}  // namespace quendal
