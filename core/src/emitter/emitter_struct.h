#pragma once
// The emitter: one walk over the syntax tree that resolves names through
// register windows and scopes, runs the static checks, records editor
// annotations and writes instructions and constants into the chunk.
//
// Units:
//   emitter_struct      construction, tags and emitter errors
//   emitter_codes       instruction writers
//   emitter_scope       windows, scopes, variables
//   emitter_declare     the declaration pre-pass (its rule is at its top)
//   static_checker      the static checks
//   emitter_expression  expressions: literals, names, calls, accesses, operators
//   emitter_statement   statements, blocks, `if` and `? :`, assignments
//   emitter_closure     functions (the script, `fn`, function literals)
//   emitter_loop        `loop`, `while`, `for`
//   emitter_pattern     patterns, `is`, `match`
//   emitter_pub         module exports
// scratch_mark.h holds the guard of the scratch stacks; the window and scope
// guards are Emitter::WindowGuard and Emitter::ScopeGuard.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory_resource>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/compile_config.h"
#include "diagnostic/diagnostics_collector.h"
#include "emitter/chunk.h"
#include "emitter/scope.h"
#include "emitter/scratch_mark.h"
#include "emitter/utils.h"
#include "emitter/variable.h"
#include "parser/ast.h"
#include "parser/source_parts.h"
#include "parser/tree_walk.h"
#include "support/arena.h"

namespace quendal {

class Emitter;

// A callback run exactly once, stored inline (no allocation). It accepts
// trivially copyable callables only: lambdas capturing registers, texts and
// ranges by value.
template <class Signature>
class OneShot;

template <class R, class... Args>
class OneShot<R(Args...)> {
 public:
  static constexpr std::size_t kCapacity = 48;

  OneShot() = default;
  template <class F>
  requires(!std::is_same_v<std::decay_t<F>, OneShot> && std::is_trivially_copyable_v<std::decay_t<F>> &&
           sizeof(std::decay_t<F>) <= kCapacity && alignof(std::decay_t<F>) <= alignof(std::max_align_t) &&
           std::is_invocable_r_v<R, std::decay_t<F>&, Args...>)
      OneShot(F&& f) {  // NOLINT: implicit on purpose
    using Fn = std::decay_t<F>;
    ::new (static_cast<void*>(storage_)) Fn(std::forward<F>(f));
    invoke_ = [](void* p, Args... args) -> R { return (*static_cast<Fn*>(p))(std::forward<Args>(args)...); };
  }

  explicit operator bool() const { return invoke_ != nullptr; }
  // Runs the callback and empties it. Running an empty callback does nothing
  // (for R = void) .
  R operator()(Args... args) {
    auto invoke = invoke_;
    invoke_ = nullptr;
    if constexpr (std::is_void_v<R>) {
      if (invoke != nullptr) invoke(storage_, std::forward<Args>(args)...);
    } else {
      return invoke(storage_, std::forward<Args>(args)...);
    }
  }

 private:
  alignas(std::max_align_t) unsigned char storage_[kCapacity] = {};
  R (*invoke_)(void*, Args...) = nullptr;
};

// Deferred work of the emitter (the second half of an assignment, the field
// of one exported name).
using DeferredEmit = OneShot<void(Emitter&)>;

// One function body or loop body.
struct RegisterWindow {
  std::uint64_t last_register = 0;  // highest register handed out; final value = register count
  bool is_function = false;
};

// Whether code lies directly in a loop body (not in a function nested in it)
// and the loop's result register in the enclosing window (0: not wanted).
struct LoopContext {
  bool in_loop = false;
  Register result = 0;
};

// The export context of one module body.
struct ModuleExportsData {
  explicit ModuleExportsData(std::pmr::memory_resource* resource) : exports(resource) {}
  std::pmr::vector<DeferredEmit> exports;  // one field per exported name, in declaration order
  TokenRef name;                           // the module's name token
};

// ------------------------------------------------------------------ chains
// Chains whose length the parser does not bound (operators, postfix forms,
// `else if`, pattern alternatives) are walked with loops: each link's head
// runs outermost first, then the innermost operand is emitted, then each
// link's tail runs innermost first, which is the order a recursive walk has.

// One operator of a left-nested chain (any mix of plain, short-circuit and
// `in` operators). Its head reports, picks the register of its value and
// that of its left operand; its tail emits the right operand and the
// instruction.
enum class BinaryForm : std::uint8_t { Plain, ShortCircuit, Membership, Other };
struct BinaryStep {
  const BinaryExpression* node = nullptr;
  BinaryForm form = BinaryForm::Other;
  OpCode code{};            // plain: the operation; short circuit: the test
  bool to_boolean = false;  // short circuit: the result is made a boolean
  bool negate = false;      // `not in`
  Register target = 0;      // where the value goes (short circuit: the working register)
  Register left = 0;        // plain and `in`: the register of the left operand
};

// Accesses, `!`, calls and tagged strings. A form's head says where the chain
// goes on: nowhere (the head emitted the whole form), into a register the
// head chose, or into a register of the operand's own (as
// emit_expression_reg gives).
enum class PostfixEdge : std::uint8_t { Done, Into, Own };
// A call between its callee and its arguments.
struct CallHead {
  std::size_t base_registers = 0;      // scratch_registers size before the arguments
  std::size_t base_params = 0;         // scratch_params size before the arguments
  Register callee = 0;                 // a callee held in a register
  std::string_view global;             // a call of a global function: its name
  SymbolId global_symbol = kNoSymbol;  // and the name's symbol, when it has one
  bool is_global = false;
  bool guarded = false;  // the callee may be nil: the call runs only when it is not
  bool chained = false;  // the callee is the next form of the chain being walked
};
struct PostfixStep {
  const Expression* node = nullptr;
  SourceRange range;  // the whole form
  Register dst = 0;
  Register operand = 0;  // the register of the object, callee, receiver or tag
  CallHead call;
};

inline RegisterOperand reg_operand(Register r) { return {r}; }
inline ParamOperand param_operand(OpParam p) { return {p}; }

class Emitter {
 public:
  Emitter(std::string_view source, const CompileConfig& config, Arena& arena);
  Emitter(const Emitter&) = delete;
  Emitter& operator=(const Emitter&) = delete;

  // ------------------------------------------------------------------ guards
  // A register window (a function or loop body) open for the guard's life.
  class WindowGuard {
   public:
    WindowGuard(Emitter& emitter, std::uint64_t parameters, bool is_function) : emitter_(&emitter) {
      emitter.windows.push_back({parameters, is_function});
    }
    WindowGuard(const WindowGuard&) = delete;
    WindowGuard& operator=(const WindowGuard&) = delete;
    ~WindowGuard() { close(); }
    // Closes the window before the guard's end, for code that allocates in
    // the enclosing window again.
    void close() {
      if (emitter_ == nullptr) return;
      emitter_->windows.pop_back();
      emitter_ = nullptr;
    }

   private:
    Emitter* emitter_;
  };

  // A lexical scope open for the guard's life. Closing a scope reports its
  // variables (tags, references, unused hints); where those records must
  // come before later code of the same function, close() closes it there.
  class ScopeGuard {
   public:
    // A scope of the top window; the Scope tag spans `range`.
    ScopeGuard(Emitter& emitter, SourceRange range) : emitter_(&emitter) { emitter.enter_scope(range); }
    // A scope whose registers belong to `window`, which may open later (a
    // `for` loop's scope, open while its iterable is evaluated outside).
    ScopeGuard(Emitter& emitter, SourceRange range, std::uint64_t window) : emitter_(&emitter) {
      emitter.enter_scope_in(range, window);
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    // A scope left by an exception (an internal fault, memory running out)
    // is closed too; a second failure while closing it is dropped, as the
    // first one is already on its way out.
    ~ScopeGuard() noexcept(false) {
      try {
        close();
      } catch (...) {
        if (std::uncaught_exceptions() == 0) throw;
      }
    }
    void close() {
      if (emitter_ == nullptr) return;
      Emitter& emitter = *std::exchange(emitter_, nullptr);
      emitter.exit_scope();
    }

   private:
    Emitter* emitter_;
  };

  // ------------------------------------------------------------ entry point
  // A function body with its parameters, into `dst` of the enclosing window
  // (the script: the body of a function without parameters, into register 0
  // with no enclosing window). `range`: the source-map range of the function
  // header; `scope_range`: the range of the function's scope tag.
  void emit_fn_like(SourceRange range, SourceRange scope_range, Register dst, const ParameterList* parameters,
                    std::span<const ArenaRef<Statement>> statements, const Expression* tail);

  // -------------------------------------------------------------- results
  std::vector<std::uint8_t> take_chunk_bytes() { return chunk.take_serialized(); }
  // The emitter's records, in order.
  std::vector<SourceDiagnostic> take_records() { return std::move(diagnostics.diagnostics()); }
  void reserve_records(std::size_t count) { diagnostics.diagnostics().reserve(count); }
  void reserve_code(std::size_t bytes) { chunk.reserve_code(bytes); }
  // What has been written so far, read only.
  const Chunk& chunk_view() const { return chunk; }
  const std::vector<SourceDiagnostic>& records() const { return diagnostics.diagnostics(); }

  // ------------------------- single steps (the unit tests drive them one by one)
  std::uint64_t window_count() const { return windows.size(); }
  // Increments last_register of the top window and returns it.
  Register alloc_register() {
    RegisterWindow& window = top_window();
    if (window.last_register >= 0xFFFFFFFFull) [[unlikely]]
      window_exhausted();
    return static_cast<Register>(++window.last_register);
  }
  std::optional<FoundVariable> find_variable(VariableName name) { return scopes.find_variable(name); }
  Variable* declare_variable(TokenRef name, bool is_mutable, VariableKind kind);
  Variable* declare_variable(const Token& name, bool is_mutable, VariableKind kind);
  // `pub`: the statement's `pub` marker, handed to the export step of every
  // declared name.
  void declare_pattern(const Pattern& pattern, VariableKind kind, ModuleExportsData* exports,
                       TokenRef pub = TokenRef());
  [[gnu::noinline]] void declare_pattern_general(const Pattern& pattern, VariableKind kind,
                                                 ModuleExportsData* exports, TokenRef pub);
  // Exports a declared name marked `pub` (nothing without the marker).
  void declare_pub(ModuleExportsData* exports, TokenRef pub, TokenRef name) {
    if (!pub.is_null()) [[unlikely]]
      declare_pub_marked(exports, pub, name);
  }
  // Builds the module value into `reg`: `Module`, one `Field` per export,
  // `Freeze`.
  void emit_module_value(ModuleExportsData& exports, std::string_view module_name, Register reg);
  // Tests the value in `value` against `pattern` and binds its names; `flag`
  // receives the match result (0: no result wanted, irrefutable use).
  void emit_pattern(Register flag, const Pattern& pattern, Register value, VariableKind kind);
  std::optional<Constant> emit_literal_constant(const Pattern& pattern, Register reg);

 private:
  class PatternEmitter;  // the pattern forms (emitter_pattern)

  // ------------------------------------------------------------------ state
  Chunk chunk;
  std::vector<RegisterWindow> windows;
  // The token store the tree's borrowed tokens are read from, held here so
  // that the hot paths read it without asking which store is in use.
  const Tokens& tokens;
  Scopes scopes;
  VariableReferences references;     // of the open scopes' variables
  SpareVariables spare_variables;    // of the closed ones
  DiagnosticsCollector diagnostics;  // the emitter's own records
  std::string_view source;
  const CompileConfig& config;
  Arena& arena;

  // ------------------------------------------ diagnostics (emitter_struct)
  // Filtered by category (errors, warnings, hints, references...).
  void push(DiagnosticCode code, SourceRange range) { diagnostics.push(code, range.start, range.end); }
  // Tags and tag references: appended directly when report_tags is set.
  void push_tag(DiagnosticCode code, SourceRange range);
  // Declaration reference of a variable over its range (report_references).
  void put_decl_ref(const Variable& variable);
  // EmitterError from the start of `first` to the end of `last`.
  void unreachable(const Token& first, const Token& last);
  void unreachable(SourceRange range);

  // ---------------------------------------- instruction writers (emitter_codes)
  // Every writer appends one instruction and, when report_source_map is set,
  // one SourceMap record carrying `range`.
  // Operation `code` with its operands (reg_operand, param_operand), checked
  // against its layout when the compiler is built.
  template <OpCode code, class... Operands>
  void instr(SourceRange range, Operands... operands) {
    chunk.put<code>(operands...);
    source_map(range);
  }
  // The same where chunk.has_room() was made sure of: nothing is called
  // but the source map.
  template <OpCode code, class... Operands>
  void instr_in_room(SourceRange range, Operands... operands) {
    chunk.put_in_room<code>(operands...);
    source_map(range);
  }
  // The same for an operation chosen while emitting (an operator's).
  template <class... Operands>
  void instr_chosen(SourceRange range, OpCode code, Operands... operands) {
    chunk.put_chosen(code, operands...);
    source_map(range);
  }
  // Whether the token is an identifier of the store, whose name and range
  // column_name and column_range read from its columns.
  bool is_column_name(const TokenRef& token) const {
    return token.is_borrowed() && tokens.tag(token.index()) == TokenTag::Identifier;
  }
  VariableName column_name(TokenIndex index) const {
    const SymbolId symbol = tokens.data(index);
    return VariableName(tokens.symbol_text(symbol), symbol);
  }
  SourceRange column_range(TokenIndex index) const { return {tokens.start(index), tokens.end(index)}; }
  // A referenced token's range; a token of the store read from its columns.
  SourceRange ref_range(const TokenRef& token) const {
    if (token.is_borrowed()) return {tokens.start(token.index()), tokens.end(token.index())};
    return token.range();
  }
  void source_map(SourceRange range) {
    if (config.report_source_map)
      diagnostics.append_direct({range.start, range.end, DiagnosticCode::SourceMap});
  }
  // Concat dst, count, items...
  void op_variadic(SourceRange range, OpCode op, Register dst, std::span<const Register> items);
  // Call dst, String(name), count, args..., spread count, spreads...
  // (`symbol`: the name's lexer symbol, or kNoSymbol.)
  void op_call(SourceRange range, Register dst, std::string_view name, SymbolId symbol,
               std::span<const Register> arguments, std::span<const OpParam> spreads);
  void op_call_dyn(SourceRange range, Register dst, Register callee, std::span<const Register> arguments,
                   std::span<const OpParam> spreads);
  // Omit dst, src, count, String(key)...
  void op_omit(SourceRange range, Register dst, Register src, std::span<const std::string_view> keys);
  void op_else(SourceRange range);
  void op_if_end(SourceRange range);
  void op_number(SourceRange range, Register dst, double value);
  void op_string(SourceRange range, Register dst, std::string_view text);
  void op_bool(SourceRange range, Register dst, bool value);
  void op_global(SourceRange range, Register dst, std::string_view name);
  void op_get(SourceRange range, Register dst, Register object, std::string_view key);
  void op_format(SourceRange range, Register dst, Register src, std::string_view spec);
  // `Constant dst, index` for a constant already known.
  void op_constant(SourceRange range, Register dst, const Constant& constant);
  // Deferred operands: placeholder opcode byte (with its SourceMap record)
  // now, operands when the body is complete.
  std::size_t op_deferred(SourceRange range, OpCode op);
  void finish_deferred(std::size_t position, std::span<const Operand> operands);

  // ---------------------------------- windows, scopes, variables (emitter_scope)
  RegisterWindow& top_window() {
    if (windows.empty()) [[unlikely]]
      no_window();
    return windows.back();
  }
  [[noreturn]] static void no_window();
  [[noreturn]] static void window_exhausted();
  // The size of a window as an operand (an internal failure past what one
  // holds).
  static OpParam count_of(std::uint64_t n);
  // Gives the variable a register from the top window if it has none; marks
  // it initialised.
  void ensure_register(Variable& variable);

  void enter_scope(SourceRange range);
  // Scope whose window is `window` (the `for` loop's scope, whose window is
  // pushed later); tag `Scope` over `range`.
  void enter_scope_in(SourceRange range, std::uint64_t window);
  void exit_scope();

  Variable* check_local_variable(SourceRange range, VariableName name);
  Variable* declare_name(VariableName name, SourceRange range, bool is_mutable, VariableKind kind);
  void declare_pub_marked(ModuleExportsData* exports, TokenRef pub, TokenRef name);
  // `name`: an identifier's.
  Variable* declare_parameter(std::uint32_t index, VariableName name, SourceRange range, bool is_mutable,
                              VariableKind kind);
  // Appends an unnamed variable (holders of destructured parameters, `it`)
  // without a duplicate check.
  Variable* add_variable(VariableName name, SourceRange range, Register reg, bool is_mutable,
                         bool initialized, VariableKind kind) {
    Variable* variable = spare_variables.take();
    if (variable == nullptr) variable = arena.make<Variable>();
    variable->set_name(name.text());
    variable->range = range;
    variable->reg = reg;
    variable->is_mutable = is_mutable;
    variable->initialized = initialized;
    variable->kind = kind;
    scopes.add(variable, name);
    return variable;
  }
  // A use of the variable; its tag reference is kept only when tags are
  // reported, to reach the collector when the variable's scope closes.
  void add_reference(Variable& variable, DiagnosticCode code, SourceRange at) {
    if (code == DiagnosticCode::ReadLocal || code == DiagnosticCode::ExportedLocal) variable.used = true;
    if (config.report_tags) references.add(variable, {at.start, at.end, code});
  }
  bool check_variable_initialized(SourceRange read, const Variable& variable, std::uint64_t window) {
    return variable.initialized || check_uninitialized(read, variable, window);
  }
  // A read of a variable not initialised yet: fine from a function nested
  // deeper than the variable's window (it runs later), else reported.
  bool check_uninitialized(SourceRange read, const Variable& variable, std::uint64_t window);
  // Reads a resolved variable into dst (Assign or GetUpvalue); records
  // ReadLocal and runs the initialisation check.
  void emit_variable_read(SourceRange read, FoundVariable found, Register dst);
  [[gnu::noinline]] void emit_variable_read_slow(SourceRange read, FoundVariable found, Register dst);
  // Stores `src` into the variable: Assign within the current window, else
  // SetUpvalue at the window distance.
  void emit_variable_store(SourceRange range, const FoundVariable& found, Register src);

  // ---------------------------------------------- expressions (emitter_expression)
  void emit_expression(const Expression& expression, Register dst, LoopContext loop = {});
  Register emit_expression_reg(const Expression& expression, LoopContext loop = {});
  Register variable_reg(const Expression& variable, LoopContext loop);
  Register variable_reg_slow(const Expression& variable, LoopContext loop);
  void emit_nil(const Expression& expression, Register dst);
  [[noreturn]] static void bad_expression_kind();
  // A read of a variable of the innermost scope, used in its own register
  // (0 when it is not initialised, or lies in a window not open yet).
  Register local_in_place(Variable& local, SourceRange read) {
    if (config.report_tags || !local.initialized) [[unlikely]]
      return local_in_place_slow(local, read);
    local.used = true;
    // The scope of a `for` loop whose window is not open yet: its variables
    // are not reachable from here.
    return scopes.innermost_window() == window_count() ? local.reg : 0;
  }
  Register local_in_place_slow(Variable& local, SourceRange read);
  void emit_var_read(const Token& token, Register dst);
  void emit_var_read(TokenRef token, Register dst);
  [[gnu::noinline]] void emit_var_read_slow(TokenRef token, Register dst);
  void emit_name_read(VariableName name, SourceRange range, Register dst);
  [[gnu::noinline]] void emit_name_read_by_text(VariableName name, SourceRange range, Register dst);
  [[gnu::noinline]] void emit_global_read(VariableName name, SourceRange range, Register dst);
  std::optional<VariableName> emit_global_access(const Expression& callee);
  static std::optional<std::int32_t> integer_literal(const Expression& expression);

  // -------------------- statements and functions (emitter_statement, emitter_closure)
  // `functions`: whether the statements hold `fn` declarations (which the
  // pre-pass of the block answers).
  bool emit_block(std::span<const ArenaRef<Statement>> statements, const Expression* tail, std::uint64_t end,
                  Register dst, LoopContext loop, bool functions);
  bool emit_statement(const Statement& statement, LoopContext loop);
  bool emit_return(const Statement& statement, LoopContext loop);
  bool emit_break(const Statement& statement, LoopContext loop);
  bool emit_continue(const Statement& statement, LoopContext loop);
  [[noreturn]] static void bad_statement_kind();

  // -------------------------------------- declaration pre-pass (emitter_declare)
  // The entry points, one per block-like form, each called when the form's
  // scope opens (the rule is at the top of emitter_declare).
  // Those of a scope with statements return whether they hold `fn`
  // declarations.
  bool pre_pass_function(SourceRange range, const ParameterList* parameters,
                         std::span<const ArenaRef<Statement>> statements, const Expression* tail);
  bool pre_pass_block(const BlockExpression& block);
  bool pre_pass_module(const BlockExpression& body, ModuleExportsData& exports);
  // `quiet`: the parser found no form in the condition that the walk acts on.
  void pre_pass_condition(const Expression& condition, bool quiet = false);
  void pre_pass_conditional(const ConditionalExpression& expression);
  void pre_pass_for_head(const ForInExpression& expression);
  bool pre_pass_match_arm(const MatchCase& arm);
  // The statements and tail of a scope; `exports`: a module body's. Returns
  // whether the statements hold `fn` declarations.
  bool declare_block(std::span<const ArenaRef<Statement>> statements, const Expression* tail,
                     ModuleExportsData* exports);
  void declare_iterable(const Iterable& iterable);
  // The pre-pass of an expression: block-like forms and leaves are passed
  // over without a call.
  void declare_expression(const Expression& expression) {
    if (pre_passed(expression.kind)) declare_inner_expression(expression);
  }
  // Whether the pre-pass of a scope enters the form: false for the
  // block-like forms (pre-passed when their own scope opens) and for leaves
  // (nothing to enter).
  static constexpr bool pre_passed(ExpressionKind kind) {
    switch (kind) {
      case ExpressionKind::Literal:
      case ExpressionKind::Variable:
      case ExpressionKind::Unknown:
      case ExpressionKind::Block:
      case ExpressionKind::Loop:
      case ExpressionKind::While:
      case ExpressionKind::ForIn:
      case ExpressionKind::If:
      case ExpressionKind::Conditional:
      case ExpressionKind::FunctionLiteral:
        return false;
      case ExpressionKind::Interpolation:
      case ExpressionKind::Group:
      case ExpressionKind::Record:
      case ExpressionKind::Array:
      case ExpressionKind::Call:
      case ExpressionKind::TaggedString:
      case ExpressionKind::ExtensionCall:
      case ExpressionKind::FieldAccess:
      case ExpressionKind::IndexAccess:
      case ExpressionKind::SliceAccess:
      case ExpressionKind::NonNilAssertion:
      case ExpressionKind::Prefix:
      case ExpressionKind::Binary:
      case ExpressionKind::IsPattern:
      case ExpressionKind::Match:
        return true;
    }
    return true;
  }
  void declare_inner_expression(const Expression& expression);
  // A postfix chain, walked with a loop.
  void declare_postfix(const Expression& expression);
  void declare_call_head(const Expression& call, std::uint64_t start);

  // ------------------------------------------------ static checks (static_checker)
  void check_static_operator_usage(const Token& op, const Token& literal, bool literal_is_right);
  void hint_mislead_nil(std::string_view name, SourceRange range);
  // A read of an undeclared name that the host's known globals lack.
  void check_known_global(std::string_view name, SourceRange range);
  // A literal condition that is not a boolean.
  void check_condition_literal(const Expression& condition);

  // ------------------------------------------- patterns (emitter_pattern)
  void emit_literal_guard(Register flag, const Pattern& pattern, Register value, const Constant& constant);
  void emit_constant_guard(Register flag, const Pattern& pattern, Register value, Register constant);
  void emit_failed_pattern(const Pattern& pattern, VariableKind kind);
  // `value is pattern` into dst (names declared by the pre-pass).
  void emit_is_pattern(const IsPatternExpression& expression, Register dst, LoopContext loop);
  void emit_match(const MatchExpression& match, Register dst, LoopContext loop);

  // ---------------------------------------------- module exports (emitter_pub)
  void emit_module_statement(const ModuleStatement& statement, LoopContext loop);

  // Expression forms (emitter_expression).
  void emit_literal(const LiteralExpression& literal, Register dst);
  [[gnu::noinline]] void emit_literal_slow(const LiteralExpression& literal, Register dst);
  void emit_interpolation(const InterpolationExpression& interpolation, Register dst, LoopContext loop);
  void emit_array(const ArrayExpression& array, Register dst, LoopContext loop);
  void emit_record(const RecordExpression& record, Register dst, LoopContext loop);
  void emit_prefix(const PrefixExpression& prefix, Register dst, LoopContext loop);
  void check_range_bound(const Expression* bound);

  void emit_binary(const BinaryExpression& binary, Register dst, LoopContext loop);
  BinaryStep binary_step(const BinaryExpression& binary, std::optional<DiagnosticCode>& prefer);
  std::optional<OpCode> plain_binary_opcode(TokenRef op) const;
  [[gnu::noinline]] BinaryStep binary_step_slow(const BinaryExpression& binary,
                                                std::optional<DiagnosticCode>& prefer);
  bool binary_head(const BinaryExpression& node, const BinaryExpression* next, Register target,
                   BinaryStep& step, LoopContext loop);
  static const BinaryExpression* chained_binary(const Expression& left);
  void emit_binary_tail(const BinaryStep& step, LoopContext loop);

  void emit_postfix(const Expression& expression, Register dst, LoopContext loop);
  PostfixEdge emit_postfix_head(PostfixStep& step, const Expression*& operand, LoopContext loop);
  void emit_postfix_tail(const PostfixStep& step, LoopContext loop);
  // Starts a call: records the scratch bases and resolves the callee, a name
  // or an expression. A callee expression that is not a global name is
  // evaluated here, or left to the chain walk when `chained_callee` (marked
  // in the head). False when the callee is not callable (reported; dst is
  // nil).
  bool begin_call(SourceRange range, const Callable& callee, Register dst, bool chained_callee,
                  CallHead& head, LoopContext loop);
  // Calls the callee with the arguments on the scratch stacks, then pops them.
  void finish_call(SourceRange range, Register dst, const CallHead& head);
  // Evaluates the arguments, pushing their registers onto scratch_registers
  // and the spread positions (counted from `first`) onto scratch_params.
  void build_arguments(const ArgumentList& arguments, OpParam first, LoopContext loop);
  void build_tagged_arguments(const Expression& string, LoopContext loop);

  // Block-like forms (emitter_statement, emitter_closure, emitter_loop).
  void emit_block_expression(const BlockExpression& block, Register dst, LoopContext loop);
  void emit_if(const IfExpression& expression, Register dst, LoopContext loop);
  void emit_conditional(const ConditionalExpression& expression, Register dst, LoopContext loop);
  void emit_loop(const LoopExpression& expression, Register dst);
  void emit_while(const WhileExpression& expression, Register dst, LoopContext loop);
  Register loop_result(SourceRange keyword, Register dst, bool has_else);
  void emit_for(const ForInExpression& expression, Register dst, LoopContext loop);
  void emit_function_literal(const FunctionLiteralExpression& expression, Register dst);
  void emit_else_part(const ElseBlock* else_block, Register result, SourceRange range, LoopContext loop);
  bool emit_loop_body(const BlockExpression& body, Register result, bool functions);
  void emit_assign(const AssignStatement& statement, LoopContext loop);
  void emit_bind(const BindStatement& statement, LoopContext loop);
  // A value bound by a pattern (or into a register not open here).
  [[gnu::noinline]] void emit_bind_pattern(const BindStatement& bind, LoopContext loop);
  void emit_rebind(const RebindStatement& statement, LoopContext loop);
  void emit_const(const ConstStatement& statement, LoopContext loop);
  void emit_function_statement(const FunctionStatement& statement);

  // Scratch stacks for operand lists (arguments, spreads, pieces): used in
  // stack order by nested constructs, so no list needs its own allocation.
  std::vector<Register> scratch_registers;
  std::vector<OpParam> scratch_params;
  std::vector<std::string_view> scratch_texts;
  // Chains of `and`/`or` patterns being walked.
  std::vector<const Pattern*> scratch_patterns;

  // Calls `visit` on each operand of an `and`/`or` chain in source order
  // (the innermost left side, then the right sides innermost first), with a
  // loop along the chain rather than recursion.
  template <class Visit>
  void for_each_alternative(const Pattern& chain, Visit&& visit) {
    ScratchMark<const Pattern*> links(scratch_patterns);
    const Pattern* node = &chain;
    for (;;) {
      scratch_patterns.push_back(node);
      const Pattern* left = combined_sides(*node).left;
      if (left == nullptr) break;
      if (!is_combined(*left)) {
        visit(*left);
        break;
      }
      node = left;
    }
    while (links.holds()) {
      const Pattern* right = combined_sides(*links.pop()).right;
      if (right != nullptr) visit(*right);
    }
  }

  // Calls `visit` on each sub-expression of a node (null ones left out) in
  // the walk order of the node table: record keys and values, array
  // elements and range bounds, interpolated values, the operand of a group
  // or prefix. Not for chains (binary operators, postfix forms): their
  // links are each a sub-expression, walked in loops by their callers.
  template <class Node, class Visit>
  static void for_each_sub_expression(const Node& node, Visit&& visit) {
    SubExpressions<Visit> sub{visit};
    // Read only: the walk hands out mutable slots for the diagnostics walk.
    for_each_child(const_cast<Node&>(node), sub);
  }

  // Calls `visit` on each sub-pattern of `pattern` in source order, as the
  // node table lists them (the elements of arrays and records, the pattern
  // a group, `not` or Unknown holds, the bounds of comparisons and
  // intervals). An `and`/`or` chain gives its operands, walked with a loop.
  template <class Visit>
  void for_each_sub_pattern(const Pattern& pattern, Visit&& visit) {
    if (is_combined(pattern)) return for_each_alternative(pattern, visit);
    source::visit(pattern, [&](const auto& node, auto kind) {
      source::for_each_part(typename decltype(kind)::Parts{},
                            [&](auto part) { visit_sub_patterns(decltype(part)::of(node), visit); });
    });
  }

  template <class Visit>
  struct SubExpressions {
    Visit& visit;
    void expression(ArenaRef<Expression>& slot) {
      if (slot != nullptr) visit(*slot);
    }
    void block(BlockExpression& body) { visit(body); }
    void token(TokenRef&) {}
    void pattern(ArenaRef<Pattern>&) {}
    void statement(Statement&) {}
    void diagnostics(ArenaDiagnostics&) {}
  };

  template <class Visit>
  static void visit_sub_patterns(const ArenaRef<Pattern>& pattern, Visit& visit) {
    if (pattern != nullptr) visit(*pattern);
  }
  template <class Visit>
  static void visit_sub_patterns(const ArenaList<ListItem<PatternElement>>& elements, Visit& visit) {
    for (const ListItem<PatternElement>& item : elements) {
      const Pattern* element = item.item.is_spread() ? item.item.spread_value() : item.item.element.get();
      if (element != nullptr) visit(*element);
    }
  }
  template <class Visit>
  static void visit_sub_patterns(const ArenaList<ListItem<PatternRecordElement>>& elements, Visit& visit) {
    for (const ListItem<PatternRecordElement>& item : elements)
      if (item.item.value != nullptr) visit(*item.item.value);
  }
  // Tokens, positions, diagnostics: no pattern there.
  template <class Field, class Visit>
  static void visit_sub_patterns(const Field&, Visit&) {}

  std::vector<Operand> operand_buffer_;  // operands of one variadic instruction
  // Chains walked with loops, each used in stack order by nested chains.
  std::vector<const BinaryExpression*> chain_stack_;  // operator chains in the pre-pass
  std::vector<BinaryStep> binary_steps_;
  std::vector<const Expression*> postfix_nodes_;  // postfix chains in the pre-pass
  std::vector<PostfixStep> postfix_steps_;
  std::vector<const IfExpression*> if_chain_;
};

}  // namespace quendal
