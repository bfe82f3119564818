#pragma once
// One declared name of a lexical scope and the kind table that decides its
// tag, declaration reference and unused hint.
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "diagnostic/source_diagnostic.h"
#include "emitter/opcode.h"
#include "parser/ast.h"

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
  explicit Variable(std::pmr::memory_resource* resource) : references(resource) {}

  // Tag references collected while the scope is open (ReadLocal,
  // ReadWriteLocal, WriteLocal, RedeclareLocal, ExportedLocal), when tags
  // are reported; they reach the collector when the scope closes.
  std::pmr::vector<SourceDiagnostic> references;
  std::string_view name;  // empty for the holder of a destructured parameter
  SourceRange range;      // the declaring name
  Register reg = 0;       // 0: not allocated yet
  bool is_mutable = false;
  bool initialized = false;
  VariableKind kind = VariableKind::LetBinding;
  // Kept by the scope stack: the declaring scope's position on the stack,
  // the name's id, whether this variable is what the name
  // resolves to while its scope is open (not so for a later declaration of
  // a name in the same scope), and the variable the name resolved to
  // before.
  bool bound = false;
  std::uint32_t scope = 0;
  std::uint32_t name_id = 0;
  Variable* shadowed = nullptr;

  DiagnosticCode tag() const {
    const VariableKindInfo& info = variable_kind_info(kind);
    return is_mutable ? info.tag_mutable : info.tag_immutable;
  }
  DiagnosticCode declaration_reference() const { return variable_kind_info(kind).declaration; }
  // Read or exported: what decides the unused hint.
  bool used = false;
  // A use of the variable; its tag reference is kept only when tags are
  // reported (`keep`).
  void add_reference(DiagnosticCode code, SourceRange at, bool keep) {
    if (code == DiagnosticCode::ReadLocal || code == DiagnosticCode::ExportedLocal) used = true;
    if (keep) references.push_back({at.start, at.end, code});
  }
};

}  // namespace quendal
