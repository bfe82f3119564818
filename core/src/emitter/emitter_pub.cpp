// Module exports: `pub` names of a module body are collected while the body
// is declared, and the module value (one field per exported name) is built
// before the body's code runs.
#include <string>

#include "emitter/emitter_struct.h"
#include "quendal/compile.h"

namespace quendal {

void Emitter::declare_pub_marked(ModuleExportsData* exports, TokenRef pub, TokenRef name) {
  if (exports == nullptr) {
    // Not directly in a module body: the name stays an ordinary local.
    push(DiagnosticCode::UnexpectedPub, pub.range());
    return;
  }
  const std::string_view text = identifier_text(name);
  Variable* variable = scopes.find_local(text);
  if (variable == nullptr)
    throw InternalFailure("Variable '" + std::string(text) +
                          "' not found in current scope when declaring pub");
  // Exported names count as used.
  add_reference(*variable, DiagnosticCode::ExportedLocal, exports->name.range());
  const SourceRange pub_range = pub.range();
  const Register reg = variable->reg;
  exports->exports.emplace_back([text, pub_range, reg](Emitter& emitter) {
    const std::uint32_t key = emitter.chunk.add_constant(Constant::of_string(text));
    emitter.instr<OpCode::Field>(pub_range, param_operand(static_cast<OpParam>(key)), reg_operand(reg));
  });
}

void Emitter::emit_module_value(ModuleExportsData& exports, std::string_view module_name, Register reg) {
  const SourceRange name_range = exports.name.range();
  const std::uint32_t constant = chunk.add_constant(Constant::of_string(module_name));
  instr<OpCode::Module>(name_range, reg_operand(reg), param_operand(static_cast<OpParam>(constant)));
  for (DeferredEmit& field : exports.exports) field(*this);
  instr<OpCode::Freeze>(name_range);
}

// mod name { body }: the module value is built into the module's register
// first, then the body runs and leaves the exported values in the registers
// the fields name.
void Emitter::emit_module_statement(const ModuleStatement& statement, LoopContext loop) {
  if (statement.name.is_null() || statement.body == nullptr) return;
  const BlockExpression& body = *statement.body;
  if (body.expression != nullptr || !is_identifier(statement.name)) return;
  const std::string_view name = identifier_text(statement.name);
  std::optional<FoundVariable> found = find_variable(name);
  if (!found || found->variable->kind != VariableKind::ModuleBinding) return;
  Variable& variable = *found->variable;
  ensure_register(variable);

  const ScopeGuard scope(*this, range_of(body));
  ModuleExportsData exports(&arena);
  exports.name = statement.name;
  const bool functions = pre_pass_module(body, exports);
  emit_module_value(exports, name, variable.reg);
  emit_block(body.statements, nullptr, body.close.is_null() ? range_of(body).end : body.close.range().end, 0,
             loop, functions);
}

}  // namespace quendal
