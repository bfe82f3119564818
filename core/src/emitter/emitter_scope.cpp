// Register windows, lexical scopes and variables: declaration, lookup, the
// initialisation check and what closing a scope reports.
#include <algorithm>
#include <limits>
#include <string>

#include "emitter/emitter_struct.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using DC = DiagnosticCode;

constexpr VariableKindInfo kKindTable[] = {
    {DC::LocalImmutable, DC::LocalMutable, DC::VariableDeclaredHere, DC::UnusedLocalVariable},  // LetBinding
    {DC::LocalFunction, DC::LocalFunction, DC::VariableDeclaredHere, DC::UnusedLocalFunction},  // LetFunction
    {DC::LocalConst, DC::LocalConst, DC::VariableDeclaredHere, DC::UnusedLocalVariable},  // ConstBinding
    {DC::LocalImmutable, DC::LocalMutable, DC::VariableDeclaredHere,
     DC::UnusedLocalVariable},  // PatternBinding
    {DC::ParameterImmutable, DC::ParameterMutable, DC::ParameterDeclaredHere,
     DC::UnusedLocalVariable},                                                      // NamedParameter
    {DC::ParameterIt, DC::ParameterIt, DC::ParameterItDeclaredHere, std::nullopt},  // ImplicitParameter
    {DC::ParameterImmutableRest, DC::ParameterMutableRest, DC::ParameterRestDeclaredHere,
     DC::UnusedLocalVariable},  // RestParameter
    {DC::ParameterPattern, DC::ParameterPattern, DC::ParameterDeclaredHere,
     std::nullopt},  // PatternParameter
    {DC::ParameterRestPattern, DC::ParameterRestPattern, DC::ParameterRestDeclaredHere,
     std::nullopt},  // RestPatternParameter
    {DC::ParameterSubPatternImmutable, DC::ParameterSubPatternMutable, DC::ParameterSubPatternDeclaredHere,
     DC::UnusedLocalVariable},  // SubPatternParameter
    {DC::LocalFunction, DC::LocalFunction, DC::FunctionDeclaredHere, DC::UnusedLocalFunction},  // FnBinding
    {DC::LocalModule, DC::LocalModule, DC::VariableDeclaredHere, DC::UnusedLocalVariable},  // ModuleBinding
};

}  // namespace

const VariableKindInfo& variable_kind_info(VariableKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  if (index >= std::size(kKindTable)) throw InternalFailure("no kind table row for a variable kind");
  return kKindTable[index];
}

// ------------------------------------------------------ VariableReferences

std::uint32_t VariableReferences::append(const SourceDiagnostic& record) {
  // Every reference is a use of a name in the source, whose offsets fit in
  // 32 bits: never this many.
  if (entries_.size() >= 0xFFFFFFFFu) throw InternalFailure("too many tag references");
  entries_.push_back({record, 0});
  return static_cast<std::uint32_t>(entries_.size());
}

// ------------------------------------------------------------------ Scopes

Scopes::Scopes(std::span<const std::string_view> symbols)
    : bindings_(symbols.size(), nullptr),
      symbols_(symbols),
      symbol_count_(static_cast<std::uint32_t>(std::min<std::size_t>(symbols.size(), kNoName))) {
  stack_.reserve(16);
  variables_.reserve(64);
}

std::uint64_t Scopes::hash(std::string_view text) {
  // FNV-1a: names are short, and this keeps the look-up a handful of
  // instructions per byte.
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h ^ (h >> 29);
}

std::uint32_t Scopes::insert_text(std::string_view text, std::uint64_t h, std::uint32_t id) {
  if ((texts_.size() + 1) * 2 > slots_.size()) rehash(std::max<std::size_t>(64, slots_.size() * 2));
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = h & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  texts_.push_back({text, h, id});
  slots_[i] = static_cast<std::uint32_t>(texts_.size());
  return id;
}

std::uint32_t Scopes::id_of_text(std::string_view text, bool make) {
  if (!symbols_indexed_) {
    // The first name that comes by its text alone: from now on every text
    // of the lexer's symbols is found by its text too, so a text names the
    // same variable whether it comes with its symbol or without.
    symbols_indexed_ = true;
    for (std::uint32_t id = 0; id < symbol_count_; ++id) insert_text(symbols_[id], hash(symbols_[id]), id);
  }
  const std::uint64_t h = hash(text);
  if (!slots_.empty()) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      const std::uint32_t n = slots_[i];
      if (n == 0) break;
      const Text& entry = texts_[n - 1];
      if (entry.hash == h && entry.text == text) return entry.id;
    }
  }
  if (!make) return kNoName;
  if (bindings_.size() >= kNoName) throw InternalFailure("too many names for the scope table");
  bindings_.push_back(nullptr);
  return insert_text(text, h, static_cast<std::uint32_t>(bindings_.size() - 1));
}

void Scopes::rehash(std::size_t size) {
  slots_.assign(size, 0);
  const std::size_t mask = size - 1;
  for (std::size_t n = 0; n < texts_.size(); ++n) {
    std::size_t i = texts_[n].hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<std::uint32_t>(n + 1);
  }
}

std::size_t Scopes::pop() {
  const std::size_t count = variables_.size() - innermost().first;
  pop_visiting([](const Variable&) {});
  return count;
}

void Scopes::none_open() { throw InternalFailure("no scope is open"); }

// ------------------------------------------------------- windows, registers

void Emitter::no_window() { throw InternalFailure("no register window is open"); }

void Emitter::window_exhausted() { throw InternalFailure("register window exhausted"); }

void Emitter::ensure_register(Variable& variable) {
  if (variable.reg == 0) variable.reg = alloc_register();
  variable.initialized = true;
}

// ------------------------------------------------------------------ scopes

void Emitter::enter_scope(SourceRange range) { enter_scope_in(range, window_count()); }

void Emitter::enter_scope_in(SourceRange range, std::uint64_t window) {
  scopes.push(window);
  push_tag(DiagnosticCode::Scope, range);
}

void Emitter::exit_scope() {
  if (scopes.empty()) throw InternalFailure("exit_scope on an empty scope stack");
  if (config.report_tags) {
    scopes.pop_visiting([&](Variable& variable) {
      push_tag(variable.tag(), variable.range);
      // Tag references, kept only when tags are reported: unfiltered, as the
      // tag before them.
      references.release(variable,
                         [&](const SourceDiagnostic& record) { diagnostics.append_direct(record); });
      if (!variable.used) {
        if (auto hint = variable_kind_info(variable.kind).unused_hint) push(*hint, variable.range);
      }
      spare_variables.give(variable);
    });
  } else {
    // Without tags a variable has no tag and keeps no references: only the
    // unused ones report.
    scopes.pop_visiting([&](Variable& variable) {
      if (!variable.used) {
        if (auto hint = variable_kind_info(variable.kind).unused_hint) push(*hint, variable.range);
      }
      spare_variables.give(variable);
    });
  }
}

void Emitter::put_decl_ref(const Variable& variable) {
  push(variable.declaration_reference(), variable.range);
}

Variable* Emitter::check_local_variable(SourceRange range, VariableName name) {
  Variable* existing = scopes.find_local(name);
  if (existing == nullptr) return nullptr;
  push(DiagnosticCode::DuplicateVariableDeclaration, range);
  put_decl_ref(*existing);
  add_reference(*existing, DiagnosticCode::RedeclareLocal, range);
  return existing;
}

Variable* Emitter::declare_variable(TokenRef name, bool is_mutable, VariableKind kind) {
  // A name of the token store, read from its columns.
  if (is_column_name(name))
    return declare_name(column_name(name.index()), column_range(name.index()), is_mutable, kind);
  return declare_variable(*name, is_mutable, kind);
}

Variable* Emitter::declare_variable(const Token& name, bool is_mutable, VariableKind kind) {
  if (!is_identifier(name)) throw InternalFailure("a declared name must be an identifier");
  return declare_name(variable_name(name), token_range(name), is_mutable, kind);
}

Variable* Emitter::declare_name(VariableName text, SourceRange range, bool is_mutable, VariableKind kind) {
  if (scopes.find_local(text) != nullptr) [[unlikely]] {
    check_local_variable(range, text);
    return nullptr;
  }
  const std::uint64_t window = scopes.innermost().window;
  Register reg = 0;
  if (window >= 1 && window <= windows.size()) {
    RegisterWindow& owner = windows[window - 1];
    if (owner.last_register >= 0xFFFFFFFFull) [[unlikely]]
      window_exhausted();
    reg = static_cast<Register>(++owner.last_register);
  }
  return add_variable(text, range, reg, is_mutable, false, kind);
}

Variable* Emitter::declare_parameter(std::uint32_t index, VariableName text, SourceRange range,
                                     bool is_mutable, VariableKind kind) {
  if (check_local_variable(range, text) != nullptr) return nullptr;
  return add_variable(text, range, index + 1, is_mutable, true, kind);
}

bool Emitter::check_uninitialized(SourceRange read, const Variable& variable, std::uint64_t window) {
  for (std::uint64_t w = window + 1; w <= windows.size(); ++w) {
    if (w >= 1 && windows[w - 1].is_function) return true;
  }
  push(DiagnosticCode::UninitializedVariable, read);
  put_decl_ref(variable);
  return false;
}

void Emitter::emit_variable_read(SourceRange read, FoundVariable found, Register dst) {
  Variable& variable = *found.variable;
  // The common read, without tags, of an initialised variable of the
  // current window: marked used and copied, calling nothing but the source
  // map.
  if (!config.report_tags && variable.initialized && found.window == window_count() && chunk.has_room()) {
    variable.used = true;
    instr_in_room<OpCode::Assign>(read, reg_operand(dst), reg_operand(variable.reg));
    return;
  }
  emit_variable_read_slow(read, found, dst);
}

void Emitter::emit_variable_read_slow(SourceRange read, FoundVariable found, Register dst) {
  Variable& variable = *found.variable;
  add_reference(variable, DiagnosticCode::ReadLocal, read);
  if (!check_variable_initialized(read, variable, found.window)) return;
  const std::uint64_t current = window_count();
  // A variable of a loop window that is not open yet (bound while a `for`
  // loop's iterable is evaluated) cannot be reached from here.
  if (found.window > current) return;
  if (found.window == current) {
    instr<OpCode::Assign>(read, reg_operand(dst), reg_operand(variable.reg));
  } else {
    instr<OpCode::GetUpvalue>(read, reg_operand(dst),
                              param_operand(static_cast<OpParam>(current - found.window)),
                              reg_operand(variable.reg));
  }
}

void Emitter::emit_variable_store(SourceRange range, const FoundVariable& found, Register src) {
  const std::uint64_t current = window_count();
  // A binding into a loop window that is not open yet (a pattern in a `for`
  // loop's iterable) cannot reach its register: the store is dropped, as a
  // read from there reads nothing.
  if (found.window > current) return;
  if (found.window == current) {
    instr<OpCode::Assign>(range, reg_operand(found.variable->reg), reg_operand(src));
  } else {
    instr<OpCode::SetUpvalue>(range, reg_operand(src),
                              param_operand(static_cast<OpParam>(current - found.window)),
                              reg_operand(found.variable->reg));
  }
}

}  // namespace quendal
