// Statements, blocks, conditionals and assignments.
#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

bool is_global_keyword(const Expression& expression) {
  return expression.kind == ExpressionKind::Variable &&
         !expression.as<VariableExpression>().token.is_null() &&
         is_keyword(expression.as<VariableExpression>().token, Keyword::Global);
}

// The `if` an `else` part consists of, if it is one.
const IfExpression* chained_if(const IfExpression& expression) {
  const ElseBlock* otherwise = expression.else_block;
  if (otherwise == nullptr || otherwise->body == nullptr || otherwise->body->kind != ExpressionKind::If)
    return nullptr;
  return &otherwise->body->as<IfExpression>();
}

}  // namespace

// ------------------------------------------------------------------ blocks

bool Emitter::emit_block(std::span<const ArenaRef<Statement>> statements, const Expression* tail,
                         std::uint64_t end, Register dst, LoopContext loop, bool functions) {
  // `fn` declarations first, so a function may call one declared later.
  if (functions) {
    for (const Statement* statement : statements) {
      if (statement->kind == StatementKind::Function) emit_statement(*statement, loop);
    }
  }
  bool ended = false;
  for (const Statement* statement : statements) {
    if (statement->kind != StatementKind::Function && emit_statement(*statement, loop)) ended = true;
  }
  if (tail != nullptr) {
    emit_expression(*tail, dst, loop);
  } else if (dst != 0 && !ended) {
    instr<OpCode::Assign>({end, end}, reg_operand(dst), reg_operand(0));
  }
  return ended;
}

void Emitter::emit_block_expression(const BlockExpression& block, Register dst, LoopContext loop) {
  const ScopeGuard scope(*this, span_of(ref_range(block.open), ref_range(block.close)));
  const bool functions = pre_pass_block(block);
  emit_block(block.statements, block.expression, ref_range(block.close).end, dst, loop, functions);
}

// -------------------------------------------------------------- statements

bool Emitter::emit_statement(const Statement& statement, LoopContext loop) {
  switch (statement.kind) {
    case StatementKind::Empty:
    case StatementKind::Unknown:
      return false;
    case StatementKind::ExpressionStatement: {
      const Expression* expression = statement.as<ExpressionStatement>().expression;
      if (expression != nullptr) emit_expression(*expression, 0, loop);
      return false;
    }
    case StatementKind::BareExpression: {
      const Expression* expression = statement.as<BareExpressionStatement>().expression;
      if (expression != nullptr) emit_expression(*expression, 0, loop);
      return false;
    }
    case StatementKind::Module:
      emit_module_statement(statement.as<ModuleStatement>(), loop);
      return false;
    case StatementKind::Bind:
      emit_bind(statement.as<BindStatement>(), loop);
      return false;
    case StatementKind::Rebind:
      emit_rebind(statement.as<RebindStatement>(), loop);
      return false;
    case StatementKind::Const:
      emit_const(statement.as<ConstStatement>(), loop);
      return false;
    case StatementKind::Assign:
      emit_assign(statement.as<AssignStatement>(), loop);
      return false;
    case StatementKind::Function:
      emit_function_statement(statement.as<FunctionStatement>());
      return false;
    case StatementKind::Return:
      return emit_return(statement, loop);
    case StatementKind::Break:
      return emit_break(statement, loop);
    case StatementKind::Continue:
      return emit_continue(statement, loop);
  }
  bad_statement_kind();
}

// The forms that end a block, out of line so that the dispatch above keeps
// no registers of its own.
bool Emitter::emit_return(const Statement& statement, LoopContext loop) {
  const auto& ret = statement.as<ReturnStatement>();
  const Register value = ret.value != nullptr ? emit_expression_reg(*ret.value, loop) : 0;
  instr<OpCode::Return>(range_of(statement), reg_operand(value));
  return true;
}

bool Emitter::emit_break(const Statement& statement, LoopContext loop) {
  const auto& brk = statement.as<BreakStatement>();
  const SourceRange range = range_of(statement);
  if (!loop.in_loop) {
    push(DiagnosticCode::UnexpectedBreak, range);
    return false;
  }
  if (brk.value != nullptr) {
    const Register value = emit_expression_reg(*brk.value, loop);
    instr<OpCode::SetUpvalue>(range, reg_operand(value), param_operand(1), reg_operand(loop.result));
  } else if (loop.result != 0) {
    instr<OpCode::SetUpvalue>(range, reg_operand(0), param_operand(1), reg_operand(loop.result));
  }
  instr<OpCode::Break>(range);
  return true;
}

bool Emitter::emit_continue(const Statement& statement, LoopContext loop) {
  const SourceRange range = range_of(statement);
  if (!loop.in_loop) {
    push(DiagnosticCode::UnexpectedContinue, range);
    return false;
  }
  instr<OpCode::Continue>(range);
  return true;
}

void Emitter::bad_statement_kind() { throw InternalFailure("Unknown statement variant"); }

void Emitter::emit_bind(const BindStatement& bind, LoopContext loop) {
  if (bind.pattern == nullptr || bind.value == nullptr) return;
  if (bind.pattern->kind == PatternKind::Binding) {
    const TokenRef name = bind.pattern->as<BindingPattern>().name;
    std::optional<FoundVariable> found;
    if (is_column_name(name)) [[likely]] {
      // The common case, a name of the token store, read from its columns.
      found = find_variable(column_name(name.index()));
    } else if (name.is_null() || !is_identifier(name)) {
      return emit_expression(*bind.value, 0, loop);
    } else {
      found = find_variable(variable_name(name));
    }
    if (found && found->window == window_count()) {
      // Initialised before the value, so a function literal can refer to
      // itself.
      ensure_register(*found->variable);
      return emit_expression(*bind.value, found->variable->reg, loop);
    }
  }
  emit_bind_pattern(bind, loop);
}

void Emitter::emit_bind_pattern(const BindStatement& bind, LoopContext loop) {
  const Register value = emit_expression_reg(*bind.value, loop);
  emit_pattern(0, *bind.pattern, value, VariableKind::LetBinding);
}

void Emitter::emit_rebind(const RebindStatement& rebind, LoopContext loop) {
  if (rebind.pattern == nullptr || rebind.value == nullptr) return;
  const Register value = emit_expression_reg(*rebind.value, loop);
  emit_pattern(0, *rebind.pattern, value, VariableKind::Assignment);
}

void Emitter::emit_const(const ConstStatement& constant, LoopContext loop) {
  if (constant.value == nullptr) return;
  Register target = 0;
  if (!constant.name.is_null() && is_identifier(constant.name)) {
    auto found = find_variable(variable_name(constant.name));
    if (found && found->window == window_count()) {
      ensure_register(*found->variable);
      target = found->variable->reg;
    }
  }
  emit_expression(*constant.value, target, loop);
}

void Emitter::emit_function_statement(const FunctionStatement& function) {
  Register target = 0;
  if (!function.name.is_null() && is_identifier(function.name)) {
    auto found = find_variable(variable_name(function.name));
    if (found && found->window == window_count()) {
      ensure_register(*found->variable);
      target = found->variable->reg;
    }
  }
  if (function.body == nullptr || function.body->kind != ExpressionKind::Block) return;
  const auto& body = function.body->as<BlockExpression>();
  const SourceRange range = range_of(static_cast<const Statement&>(function));
  emit_fn_like(range, range, target, function.parameters, body.statements, body.expression);
}

// Assignment: analyse the target (working register and deferred store),
// compute the value into the working register, then store.
void Emitter::emit_assign(const AssignStatement& assign, LoopContext loop) {
  if (assign.target == nullptr || assign.value == nullptr || assign.op.is_null()) return;
  const Expression& target = *assign.target;
  const TokenKind op = operator_kind(assign.op);
  const bool compound = !op.is_operator(Operator::Eq);
  const SourceRange target_range = range_of(target);
  Register work = 0;
  DeferredEmit store;
  switch (target.kind) {
    case ExpressionKind::Variable: {
      const TokenRef ref = target.as<VariableExpression>().token;
      SourceRange name_range;
      std::optional<FoundVariable> found;
      if (is_column_name(ref)) {
        // The common case, a name of the token store, read from its columns.
        name_range = column_range(ref.index());
        found = find_variable(column_name(ref.index()));
      } else {
        const Token token = *ref;
        name_range = token_range(token);
        if (is_keyword(token, Keyword::Global)) {
          push(DiagnosticCode::MisuseOfGlobalKeyword, name_range);
          return;
        }
        if (is_identifier(token)) found = find_variable(variable_name(token));
      }
      if (!found) {
        push(DiagnosticCode::UndefinedVariableAssignment, name_range);
        break;
      }
      Variable& variable = *found->variable;
      add_reference(variable, compound ? DiagnosticCode::ReadWriteLocal : DiagnosticCode::WriteLocal,
                    name_range);
      check_variable_initialized(name_range, variable, found->window);
      if (!variable.is_mutable) {
        push(DiagnosticCode::ImmutableVariableAssignment, name_range);
        put_decl_ref(variable);
        break;
      }
      if (found->window == window_count()) {
        work = variable.reg;
        break;
      }
      // Declared in a loop window that is not open yet: the value is
      // computed and dropped.
      if (found->window > window_count()) break;
      work = alloc_register();
      const auto distance = static_cast<OpParam>(window_count() - found->window);
      const Register reg = variable.reg;
      instr<OpCode::GetUpvalue>(name_range, reg_operand(work), param_operand(distance), reg_operand(reg));
      store = [work, distance, reg, name_range](Emitter& e) {
        e.instr<OpCode::SetUpvalue>(name_range, reg_operand(work), param_operand(distance), reg_operand(reg));
      };
      break;
    }
    case ExpressionKind::FieldAccess: {
      const auto& access = target.as<FieldAccessExpression>();
      const TokenKind& name = peeled_kind(*access.name);
      if (is_global_keyword(*access.object) ||
          (name.tag != TokenTag::Identifier && name.tag != TokenTag::Ordinal)) {
        push(DiagnosticCode::UnassignableExpression, target_range);
        return;
      }
      const Register object = emit_expression_reg(*access.object, loop);
      work = alloc_register();
      const Register w = work;
      if (name.tag == TokenTag::Identifier) {
        const std::string_view key = name.text();
        if (compound) op_get(target_range, w, object, key);
        store = [w, object, key, target_range](Emitter& e) {
          const std::uint32_t index = e.chunk.add_constant(Constant::of_string(key));
          e.instr<OpCode::Set>(target_range, reg_operand(w), reg_operand(object),
                               param_operand(static_cast<OpParam>(index)));
        };
      } else {
        const OpParam index = name.ordinal;
        if (compound)
          instr<OpCode::GetIndex>(target_range, reg_operand(w), reg_operand(object), param_operand(index));
        store = [w, object, index, target_range](Emitter& e) {
          e.instr<OpCode::SetIndex>(target_range, reg_operand(w), reg_operand(object), param_operand(index));
        };
      }
      break;
    }
    case ExpressionKind::IndexAccess: {
      const auto& access = target.as<IndexAccessExpression>();
      if (is_global_keyword(*access.object)) {
        push(DiagnosticCode::UnassignableExpression, target_range);
        return;
      }
      const Register object = emit_expression_reg(*access.object, loop);
      const Register key = emit_expression_reg(*access.index, loop);
      work = alloc_register();
      const Register w = work;
      if (compound)
        instr<OpCode::GetDyn>(target_range, reg_operand(w), reg_operand(object), reg_operand(key));
      store = [w, object, key, target_range](Emitter& e) {
        e.instr<OpCode::SetDyn>(target_range, reg_operand(w), reg_operand(object), reg_operand(key));
      };
      break;
    }
    case ExpressionKind::Literal:
    case ExpressionKind::Interpolation:
    case ExpressionKind::Group:
    case ExpressionKind::Record:
    case ExpressionKind::Array:
    case ExpressionKind::Call:
    case ExpressionKind::TaggedString:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::SliceAccess:
    case ExpressionKind::NonNilAssertion:
    case ExpressionKind::Prefix:
    case ExpressionKind::Binary:
    case ExpressionKind::IsPattern:
    case ExpressionKind::Block:
    case ExpressionKind::Loop:
    case ExpressionKind::While:
    case ExpressionKind::ForIn:
    case ExpressionKind::If:
    case ExpressionKind::Conditional:
    case ExpressionKind::Match:
    case ExpressionKind::FunctionLiteral:
    case ExpressionKind::Unknown:
      push(DiagnosticCode::UnassignableExpression, target_range);
      return;
  }

  const SourceRange op_range = ref_range(assign.op);
  if (!compound) {
    emit_expression(*assign.value, work, loop);
  } else if (op.tag == TokenTag::Operator && compound_opcode(op.op)) {
    const Register value = emit_expression_reg(*assign.value, loop);
    instr_chosen(op_range, *compound_opcode(op.op), reg_operand(work), reg_operand(work), reg_operand(value));
  } else if (op.is_operator(Operator::AndAndEq) || op.is_operator(Operator::OrOrEq) ||
             op.is_operator(Operator::QuestionQuestionEq)) {
    const OpCode test = op.is_operator(Operator::AndAndEq) ? OpCode::If
                        : op.is_operator(Operator::OrOrEq) ? OpCode::IfNot
                                                           : OpCode::IfNil;
    instr_chosen(op_range, test, reg_operand(work));
    emit_expression(*assign.value, work, loop);
    op_if_end(op_range);
  } else {
    // An operator recovery left in the assignment position.
    unreachable(op_range);
    return;
  }
  store(*this);
}

// ------------------------------------------------------------ conditionals

// `if a {} else if b {} else if c {} else {}`: the chain is walked with a
// loop. Every `if` of it ends where the chain's last part ends; each `if`
// keeps its scope open until the parts after it are emitted, then the
// scopes close innermost first.
void Emitter::emit_if(const IfExpression& expression, Register dst, LoopContext loop) {
  const IfExpression* last = &expression;
  while (const IfExpression* next = chained_if(*last)) last = next;
  const std::uint64_t end = range_of(*last).end;
  // Each `if` of the chain above the mark has its scope open: the scopes
  // cannot be guards of this frame, as they close in a loop of their own,
  // innermost first, each after its IfEnd.
  ScratchMark<const IfExpression*> chain(if_chain_);
  const IfExpression* node = &expression;
  for (;;) {
    const SourceRange keyword = ref_range(node->keyword);
    const SourceRange range{keyword.start, end};
    push_tag(DiagnosticCode::IfExpression, range);
    push_tag(DiagnosticCode::KeywordIf, keyword);
    if (node->else_block != nullptr)
      push_tag(DiagnosticCode::KeywordElse, ref_range(node->else_block->keyword));
    enter_scope(range);
    if_chain_.push_back(node);
    pre_pass_condition(*node->condition, node->condition_quiet);
    const Register condition = emit_expression_reg(*node->condition, loop);
    instr<OpCode::If>(keyword, reg_operand(condition));
    emit_block_expression(*node->body, dst, loop);
    if (node->else_block != nullptr && node->else_block->body != nullptr) {
      op_else(ref_range(node->else_block->keyword));
      if (const IfExpression* next = chained_if(*node)) {
        node = next;
        continue;
      }
      emit_expression(*node->else_block->body, dst, loop);
    } else if (dst != 0) {
      op_else(keyword);
      instr<OpCode::Assign>(keyword, reg_operand(dst), reg_operand(0));
    }
    break;
  }
  while (chain.holds()) {
    op_if_end(ref_range(chain.pop()->keyword));
    exit_scope();
  }
}

void Emitter::emit_conditional(const ConditionalExpression& expression, Register dst, LoopContext loop) {
  const SourceRange range = range_of(expression);
  push(DiagnosticCode::PreferIfExpression, range);
  push_tag(DiagnosticCode::IfExpression, range);
  const ScopeGuard scope(*this, range);
  pre_pass_conditional(expression);
  const SourceRange question = ref_range(expression.question);
  const Register condition = emit_expression_reg(*expression.condition, loop);
  instr<OpCode::If>(question, reg_operand(condition));
  emit_expression(*expression.then, dst, loop);
  op_else(ref_range(expression.colon));
  emit_expression(*expression.otherwise, dst, loop);
  op_if_end(question);
}

}  // namespace quendal
