#pragma once
// One declared name of a lexical scope, the kind table that decides its
// tag, declaration reference and unused hint, and the tag references its
// uses leave while its scope is open.
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "diagnostic/source_diagnostic.h"
#include "emitter/opcode.h"
#include "parser/ast.h"
#include "support/checks.h"

#if QUENDAL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace quendal {

enum class VariableKind : std::uint8_t {
  LetBinding = 0,
  LetFunctionBinding = 1,
  ConstBinding = 2,
  PatternBinding = 3,
  NamedParameter = 4,
  ImplicitParameter = 5,
  RestParameter = 6,
  PatternParameter = 7,
  RestPatternParameter = 8,
  SubPatternParameter = 9,
  FnBinding = 10,
  ModuleBinding = 11,
  // Not a declaration: a destructuring assignment into existing variables.
  // Patterns walked with this kind bind no new names.
  Assignment = 255,
};

struct VariableKindInfo {
  DiagnosticCode tag_immutable;
  DiagnosticCode tag_mutable;
  DiagnosticCode declaration;
  std::optional<DiagnosticCode> unused_hint;
};

// The row of the kind table. `Assignment` has no row (internal failure).
const VariableKindInfo& variable_kind_info(VariableKind kind);

// A name of a variable: its text, and the lexer's symbol for that text when
// the name comes from a token the lexer made (a look-up by symbol hashes
// nothing).
struct VariableName {
  VariableName(std::string_view name_text, SymbolId name_symbol)
      : data(name_text.data()), size(static_cast<std::uint32_t>(name_text.size())), symbol(name_symbol) {}
  // A name known by its text alone.
  template <class Text>
  requires std::is_convertible_v<const Text&, std::string_view> VariableName(const Text& name_text)
      : VariableName(std::string_view(name_text), kNoSymbol) {}
  std::string_view text() const { return {data, size}; }
  // Sixteen bytes, so that a name is passed in two registers.
  const char* data;
  std::uint32_t size;
  SymbolId symbol;
};

struct Variable {
  std::string_view name() const { return {name_data, name_size}; }
  // A name is a part of the source, so its size fits in 32 bits.
  void set_name(std::string_view text) {
    name_data = text.data();
    name_size = static_cast<std::uint32_t>(text.size());
  }
  DiagnosticCode tag() const {
    const VariableKindInfo& info = variable_kind_info(kind);
    return is_mutable ? info.tag_mutable : info.tag_immutable;
  }
  DiagnosticCode declaration_reference() const { return variable_kind_info(kind).declaration; }

  // The text of the name (empty for the holder of a destructured
  // parameter), of name_size bytes.
  const char* name_data = nullptr;
  // Kept by the scope stack: the variable the name resolved to before.
  Variable* shadowed = nullptr;
  SourceRange range;  // the declaring name
  std::uint32_t name_size = 0;
  Register reg = 0;  // 0: not allocated yet
  // Kept by the scope stack: the declaring scope's position on the stack
  // and the name's id.
  std::uint32_t scope = 0;
  std::uint32_t name_id = 0;
  // The tag references collected while the scope is open, when tags are
  // reported: the first and the last entry of the variable's chain in the
  // emitter's VariableReferences (0: none).
  std::uint32_t first_reference = 0;
  std::uint32_t last_reference = 0;
  VariableKind kind = VariableKind::LetBinding;
  bool is_mutable = false;
  bool initialized = false;
  // Kept by the scope stack: whether this variable is what the name
  // resolves to while its scope is open (not so for a later declaration of
  // a name in the same scope).
  bool bound = false;
  // Read or exported: what decides the unused hint.
  bool used = false;
};

// A compilation declares a variable for every name it binds: one cache line
// each at most.
static_assert(sizeof(Variable) <= 64, "a variable fits in 64 bytes");

// The variables of closed scopes, declared again by later scopes: a
// compilation then holds at once only the variables of its open scopes, and
// writes them where it wrote before (in the caches) rather than into fresh
// memory. Under AddressSanitizer a spare variable is poisoned until it is
// declared again, so a use of a variable after its scope closed is
// reported.
class SpareVariables {
 public:
  SpareVariables() = default;
  SpareVariables(const SpareVariables&) = delete;
  SpareVariables& operator=(const SpareVariables&) = delete;
  ~SpareVariables() {
    for (Variable* variable : spare_) unpoison(variable);
  }

  void reserve(std::size_t count) { spare_.reserve(count); }
  // `variable`'s scope has closed: nothing refers to it any more.
  void give(Variable& variable) {
    spare_.push_back(&variable);
    poison(&variable);
  }
  // A spare variable as a new one, or null when there is none.
  Variable* take() {
    if (spare_.empty()) return nullptr;
    Variable* variable = spare_.back();
    spare_.pop_back();
    unpoison(variable);
    return ::new (variable) Variable();
  }

 private:
#if QUENDAL_ASAN
  static void poison(Variable* variable) { ASAN_POISON_MEMORY_REGION(variable, sizeof(Variable)); }
  static void unpoison(Variable* variable) { ASAN_UNPOISON_MEMORY_REGION(variable, sizeof(Variable)); }
#else
  static void poison(Variable*) {}
  static void unpoison(Variable*) {}
#endif
  std::vector<Variable*> spare_;
};

// The tag references (ReadLocal, ReadWriteLocal, WriteLocal, RedeclareLocal,
// ExportedLocal) the variables of the open scopes collect when tags are
// reported, for one emitter: one list of entries, in which every variable
// chains its own from the first to the last. They reach the collector when
// the variable's scope closes; the entries of a chain handed over are used
// again by later references.
class VariableReferences {
 public:
  void add(Variable& variable, const SourceDiagnostic& record) {
    std::uint32_t n = free_;
    if (n != 0) {
      free_ = entries_[n - 1].next;
      entries_[n - 1] = {record, 0};
    } else {
      n = append(record);
    }
    if (variable.last_reference != 0)
      entries_[variable.last_reference - 1].next = n;
    else
      variable.first_reference = n;
    variable.last_reference = n;
  }

  // Hands the variable's references to `take` in the order they came, and
  // frees their entries.
  template <class Take>
  void release(Variable& variable, Take&& take) {
    const std::uint32_t first = variable.first_reference;
    if (first == 0) return;
    for (std::uint32_t n = first; n != 0; n = entries_[n - 1].next) take(entries_[n - 1].record);
    entries_[variable.last_reference - 1].next = free_;
    free_ = first;
    variable.first_reference = 0;
    variable.last_reference = 0;
  }

  // Entries made so far, in use or free: the most references held at once.
  std::size_t entries() const { return entries_.size(); }

 private:
  struct Entry {
    SourceDiagnostic record;
    std::uint32_t next;  // the next entry of the chain, 0 at its end
  };
  // A new entry at the end; its number (index + 1).
  std::uint32_t append(const SourceDiagnostic& record);

  // Entry n is entries_[n - 1]; 0 is no entry.
  std::vector<Entry> entries_;
  // The first of the free entries, chained through `next`.
  std::uint32_t free_ = 0;
};

}  // namespace quendal
