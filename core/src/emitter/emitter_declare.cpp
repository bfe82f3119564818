// The declaration pre-pass. Before the code of a scope is emitted, the
// pre-pass declares the names the scope binds (so code may use a name bound
// further down it, and a function may call itself or one declared after it)
// and reports the static warnings, hints and call annotations of its
// expressions, in source order.
//
// What it enters, as one rule: the pre-pass of a scope enters every
// expression of the scope except the block-like forms (block, loop, while,
// for, if, conditional, function literal: those for which pre_passed(kind)
// is false). Each block-like form is pre-passed when its own scope opens, by
// its emitter calling the entry point of this unit for it:
//
//   pre_pass_function     the parameters and body of a function or the script
//   pre_pass_block        a block, the body of a loop
//   pre_pass_module       a module body, collecting its exports
//   pre_pass_condition    the condition of `if` and `while` (quiet as a
//                         statement can be)
//   pre_pass_conditional  `c ? a : b`: the condition and both values
//   pre_pass_for_head     the pattern and the iterable of `for`
//   pre_pass_match_arm    one arm of `match`: pattern, guard and body
//
// Without tags most statements give the walk of their expressions nothing
// to do: the parser marks a statement quiet when it holds none of the forms
// the walk reports or declares (parentheses drawing a hint, literal
// operands, called or indexed literals, `is` tests), and the walk passes
// over a quiet statement's expressions. Its names are still declared.
//
// A `match` is no block-like form: the pre-pass of the scope around it
// enters it (its tags and its subject), while each of its arms is a scope of
// its own, pre-passed when it opens. The checks themselves live in
// static_checker; the names a module body exports are registered through
// declare_pub (emitter_pub).
#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "parser/static_warnings.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

bool is_literal_or_interpolation(const Expression& expression) {
  return expression.kind == ExpressionKind::Literal || expression.kind == ExpressionKind::Interpolation;
}

std::optional<Token> literal_token(const Expression* expression) {
  if (expression == nullptr || expression->kind != ExpressionKind::Literal) return std::nullopt;
  const TokenRef& token = expression->as<LiteralExpression>().token;
  if (token.is_null()) return std::nullopt;
  return *token;
}

}  // namespace

// ------------------------------------------------------------ entry points

bool Emitter::pre_pass_function(SourceRange range, const ParameterList* parameters,
                                std::span<const ArenaRef<Statement>> statements, const Expression* tail) {
  // Parameters: registers 1..n.
  if (parameters == nullptr) {
    add_variable(VariableName("it"), range, 1, false, true, VariableKind::ImplicitParameter);
  } else {
    std::uint32_t index = 0;
    for (const auto& item : parameters->parameters) {
      const bool rest = item.item.is_spread();
      const Pattern* pattern = parameter_pattern(item.item);
      if (is_plain_name(pattern)) {
        const auto& binding = pattern->as<BindingPattern>();
        const TokenRef name = binding.name;
        if (!name.is_null() && is_identifier(name))
          declare_parameter(index, variable_name(name), ref_range(name), !binding.mut.is_null(),
                            rest ? VariableKind::RestParameter : VariableKind::NamedParameter);
      } else if (pattern != nullptr) {
        add_variable(VariableName(""), range_of(*pattern), index + 1, false, true,
                     rest ? VariableKind::RestPatternParameter : VariableKind::PatternParameter);
        declare_pattern(*pattern, VariableKind::SubPatternParameter, nullptr);
      }
      ++index;
    }
  }

  return declare_block(statements, tail, nullptr);
}

bool Emitter::pre_pass_block(const BlockExpression& block) {
  return declare_block(block.statements, block.expression, nullptr);
}

bool Emitter::pre_pass_module(const BlockExpression& body, ModuleExportsData& exports) {
  return declare_block(body.statements, nullptr, &exports);
}

void Emitter::pre_pass_condition(const Expression& condition, bool quiet) {
  check_condition_literal(condition);
  if (!quiet || config.report_tags) declare_expression(condition);
}

void Emitter::pre_pass_conditional(const ConditionalExpression& expression) {
  pre_pass_condition(*expression.condition);
  declare_expression(*expression.then);
  declare_expression(*expression.otherwise);
}

// The scope of a `for` loop opens before the loop's window: its pattern's
// names are declared there, and the iterable, evaluated outside the loop, is
// entered with them.
void Emitter::pre_pass_for_head(const ForInExpression& expression) {
  if (expression.pattern != nullptr)
    declare_pattern(*expression.pattern, VariableKind::PatternBinding, nullptr);
  declare_iterable(expression.iterable);
}

bool Emitter::pre_pass_match_arm(const MatchCase& arm) {
  if (arm.pattern != nullptr) declare_pattern(*arm.pattern, VariableKind::PatternBinding, nullptr);
  if (arm.guard.condition != nullptr) declare_expression(*arm.guard.condition);
  if (arm.body == nullptr) return false;
  if (arm.body->kind == ExpressionKind::Block) {
    const auto& block = arm.body->as<BlockExpression>();
    return declare_block(block.statements, block.expression, nullptr);
  }
  declare_expression(*arm.body);
  return false;
}

// ------------------------------------------------------ names and statements

void Emitter::declare_pattern(const Pattern& pattern, VariableKind kind, ModuleExportsData* exports,
                              TokenRef pub) {
  // The common case, a plain name of the token store without `pub`, read
  // from its columns; it calls nothing but its tail call.
  if (pattern.kind == PatternKind::Binding && kind != VariableKind::Assignment && pub.is_null()) {
    const auto& binding = pattern.as<BindingPattern>();
    const TokenRef name = binding.name;
    if (is_column_name(name)) [[likely]] {
      declare_name(column_name(name.index()), column_range(name.index()), !binding.mut.is_null(), kind);
      return;
    }
  }
  declare_pattern_general(pattern, kind, exports, pub);
}

void Emitter::declare_pattern_general(const Pattern& pattern, VariableKind kind, ModuleExportsData* exports,
                                      TokenRef pub) {
  switch (pattern.kind) {
    case PatternKind::Group: {
      const auto& group = pattern.as<GroupPattern>();
      if (group.pattern == nullptr) return;
      switch (group.pattern->kind) {
        case PatternKind::Group:
        case PatternKind::Literal:
        case PatternKind::ConstantName:
        case PatternKind::Discard:
        case PatternKind::Binding:
        case PatternKind::Record:
        case PatternKind::Array:
          push(DiagnosticCode::UnnecessaryParentheses,
               span_of(ref_range(group.open), ref_range(group.close)));
          break;
        case PatternKind::Comparison:
        case PatternKind::Interval:
        case PatternKind::Omitted:
        case PatternKind::And:
        case PatternKind::Or:
        case PatternKind::Not:
        case PatternKind::Unknown:
          break;
      }
      break;
    }
    case PatternKind::Binding: {
      if (kind == VariableKind::Assignment) return;
      const auto& binding = pattern.as<BindingPattern>();
      // A name the parser rewrote during recovery (a keyword in a name
      // position) declares nothing.
      if (binding.name.is_null() || !is_identifier(binding.name)) return;
      if (declare_variable(binding.name, !binding.mut.is_null(), kind) != nullptr)
        declare_pub(exports, pub, binding.name);
      return;
    }
    case PatternKind::Literal:
    case PatternKind::ConstantName:
    case PatternKind::Comparison:
    case PatternKind::Interval:
    case PatternKind::Discard:
    case PatternKind::Record:
    case PatternKind::Array:
    case PatternKind::Omitted:
    case PatternKind::And:
    case PatternKind::Or:
    case PatternKind::Not:
    case PatternKind::Unknown:
      break;
  }
  for_each_sub_pattern(pattern, [&](const Pattern& sub) { declare_pattern(sub, kind, exports, pub); });
}

bool Emitter::declare_block(std::span<const ArenaRef<Statement>> statements, const Expression* tail,
                            ModuleExportsData* exports) {
  bool functions = false;
  // A statement the parser marked quiet holds nothing the walk of its
  // expressions would report or declare, unless tags are reported.
  const bool pass_quiet = !config.report_tags;
  for (const Statement* statement : statements) {
    const bool enter = !(pass_quiet && statement->pre_pass_quiet);
    switch (statement->kind) {
      case StatementKind::Bind: {
        const auto& bind = statement->as<BindStatement>();
        if (bind.pattern != nullptr) {
          VariableKind kind = VariableKind::LetBinding;
          if (bind.pattern->kind == PatternKind::Binding &&
              bind.pattern->as<BindingPattern>().mut.is_null() && bind.value != nullptr &&
              bind.value->kind == ExpressionKind::FunctionLiteral)
            kind = VariableKind::LetFunctionBinding;
          declare_pattern(*bind.pattern, kind, exports, bind.pub);
        }
        if (enter && bind.value != nullptr) declare_expression(*bind.value);
        break;
      }
      case StatementKind::Rebind: {
        const auto& rebind = statement->as<RebindStatement>();
        if (rebind.pattern != nullptr) declare_pattern(*rebind.pattern, VariableKind::Assignment, nullptr);
        if (enter && rebind.value != nullptr) declare_expression(*rebind.value);
        break;
      }
      case StatementKind::Const: {
        const auto& constant = statement->as<ConstStatement>();
        if (!constant.name.is_null() && is_identifier(constant.name)) {
          if (declare_variable(constant.name, false, VariableKind::ConstBinding) != nullptr)
            declare_pub(exports, constant.pub, constant.name);
        }
        if (enter && constant.value != nullptr) declare_expression(*constant.value);
        break;
      }
      case StatementKind::Function: {
        functions = true;
        const auto& function = statement->as<FunctionStatement>();
        if (!function.name.is_null() && is_identifier(function.name)) {
          if (declare_variable(function.name, false, VariableKind::FnBinding) != nullptr)
            declare_pub(exports, function.pub, function.name);
        }
        break;
      }
      case StatementKind::Module: {
        const auto& module = statement->as<ModuleStatement>();
        if (!module.name.is_null() && is_identifier(module.name)) {
          if (declare_variable(module.name, false, VariableKind::ModuleBinding) != nullptr)
            declare_pub(exports, module.pub, module.name);
        }
        break;
      }
      case StatementKind::Assign: {
        const auto& assign = statement->as<AssignStatement>();
        if (!enter) break;
        if (assign.target != nullptr) declare_expression(*assign.target);
        if (assign.value != nullptr) declare_expression(*assign.value);
        break;
      }
      case StatementKind::ExpressionStatement: {
        const auto& s = statement->as<ExpressionStatement>();
        if (enter && s.expression != nullptr) declare_expression(*s.expression);
        break;
      }
      case StatementKind::BareExpression: {
        const auto& s = statement->as<BareExpressionStatement>();
        if (enter && s.expression != nullptr) declare_expression(*s.expression);
        break;
      }
      case StatementKind::Return: {
        const auto& s = statement->as<ReturnStatement>();
        if (enter && s.value != nullptr) declare_expression(*s.value);
        break;
      }
      case StatementKind::Break: {
        const auto& s = statement->as<BreakStatement>();
        if (enter && s.value != nullptr) declare_expression(*s.value);
        break;
      }
      case StatementKind::Empty:
      case StatementKind::Continue:
      case StatementKind::Unknown:
        break;
    }
  }
  if (tail != nullptr) declare_expression(*tail);
  return functions;
}

void Emitter::declare_iterable(const Iterable& iterable) {
  if (iterable.range != nullptr) {
    if (iterable.range->start != nullptr) declare_expression(*iterable.range->start);
    if (iterable.range->end != nullptr) declare_expression(*iterable.range->end);
  } else if (iterable.expression != nullptr) {
    declare_expression(*iterable.expression);
  }
}

// ------------------------------------------------------------- expressions

// The annotations of a call, reported before its callee, receiver and
// arguments are pre-passed. `start`: where the call's chain starts.
void Emitter::declare_call_head(const Expression& call, std::uint64_t start) {
  const Callable* callee = nullptr;
  const ArgumentList* arguments = nullptr;
  const TokenRef* open = nullptr;
  const TokenRef* close = nullptr;
  const SourceRange range{start, end_of(call)};
  SourceRange callee_range;
  if (call.kind == ExpressionKind::Call) {
    const auto& c = call.as<CallExpression>();
    callee = &c.callee;
    arguments = &c.arguments;
    open = &c.open;
    close = &c.close;
    push_tag(DiagnosticCode::FunctionCall, range);
    // The callee starts the call.
    callee_range = c.callee.expression != nullptr ? SourceRange{start, end_of(*c.callee.expression)}
                                                  : range_of(c.callee);
  } else if (call.kind == ExpressionKind::ExtensionCall) {
    const auto& c = call.as<ExtensionCallExpression>();
    callee = &c.callee;
    arguments = &c.arguments;
    open = &c.open;
    close = &c.close;
    push_tag(DiagnosticCode::ExtensionCall, range);
    // The receiver starts the call; the callee follows `::`.
    if (c.receiver != nullptr)
      push_tag(DiagnosticCode::ArgumentExtension, SourceRange{start, end_of(*c.receiver)});
    callee_range = range_of(c.callee);
  } else {
    throw InternalFailure("declare_call_head on an expression that is not a call");
  }
  if (callee->expression != nullptr && is_literal_or_interpolation(*callee->expression))
    push(DiagnosticCode::LiteralNotCallable, range_of(*callee->expression));
  push_tag(DiagnosticCode::Callable, callee_range);
  if (!open->is_null()) push_tag(DiagnosticCode::ArgumentStart, open->range());
  for (const auto& item : *arguments) {
    if (item.item.is_spread()) push_tag(DiagnosticCode::ArgumentSpread, ref_range(item.item.spread));
    if (!item.comma.is_null()) push_tag(DiagnosticCode::ArgumentComma, ref_range(item.comma));
  }
  if (!close->is_null()) push_tag(DiagnosticCode::ArgumentEnd, close->range());
}

// A chain of accesses and calls: each form's checks and annotations
// outermost first, then the innermost operand, then each form's other
// operands (index, arguments, ...) innermost first.
void Emitter::declare_postfix(const Expression& expression) {
  const std::uint64_t start = start_of(expression);
  ScratchMark<const Expression*> forms(postfix_nodes_);
  const Expression* node = &expression;
  for (;;) {
    const std::optional<PostfixForm> form = postfix_form(*node);
    if (!form) throw InternalFailure("declare_postfix on an expression that is not a postfix form");
    switch (*form) {
      case PostfixForm::FieldAccess: {
        const Expression* object = node->as<FieldAccessExpression>().object;
        if (is_literal_or_interpolation(*object))
          push(DiagnosticCode::LiteralNotIndexable, range_of(*object));
        break;
      }
      case PostfixForm::IndexAccess: {
        const Expression* object = node->as<IndexAccessExpression>().object;
        if (is_literal_or_interpolation(*object))
          push(DiagnosticCode::LiteralNotIndexable, range_of(*object));
        break;
      }
      case PostfixForm::TaggedString: {
        const Expression* tag = node->as<TaggedStringExpression>().tag;
        if (tag != nullptr && is_literal_or_interpolation(*tag))
          push(DiagnosticCode::LiteralNotCallable, range_of(*tag));
        break;
      }
      case PostfixForm::Call:
      case PostfixForm::ExtensionCall:
        declare_call_head(*node, start);
        break;
      case PostfixForm::SliceAccess:
      case PostfixForm::NonNilAssertion:
        break;
    }
    postfix_nodes_.push_back(node);
    const Expression* operand = postfix_operand(*node);
    if (operand == nullptr) break;
    if (!is_postfix(*operand)) {
      declare_expression(*operand);
      break;
    }
    node = operand;
  }
  while (forms.holds()) {
    node = forms.pop();
    switch (*postfix_form(*node)) {
      case PostfixForm::IndexAccess: {
        const Expression* index = node->as<IndexAccessExpression>().index;
        if (index != nullptr) declare_expression(*index);
        break;
      }
      case PostfixForm::SliceAccess: {
        const auto& access = node->as<SliceAccessExpression>();
        if (access.start != nullptr) declare_expression(*access.start);
        if (access.end != nullptr) declare_expression(*access.end);
        break;
      }
      case PostfixForm::TaggedString: {
        const Expression* string = node->as<TaggedStringExpression>().string;
        if (string != nullptr) declare_expression(*string);
        break;
      }
      case PostfixForm::Call:
      case PostfixForm::ExtensionCall: {
        const ArgumentList* arguments = nullptr;
        if (node->kind == ExpressionKind::Call) {
          arguments = &node->as<CallExpression>().arguments;
        } else {
          // An extension call's callee comes after its receiver.
          const auto& call = node->as<ExtensionCallExpression>();
          if (call.callee.expression != nullptr) declare_expression(*call.callee.expression);
          arguments = &call.arguments;
        }
        for (const auto& item : *arguments) {
          const Expression* value =
              item.item.is_spread() ? item.item.spread_value() : item.item.element.get();
          if (value != nullptr) declare_expression(*value);
        }
        break;
      }
      case PostfixForm::FieldAccess:
      case PostfixForm::NonNilAssertion:
        break;
    }
  }
}

void Emitter::declare_inner_expression(const Expression& expression) {
  const auto declare = [&](const Expression& sub) { declare_expression(sub); };
  switch (expression.kind) {
    case ExpressionKind::Literal:
    case ExpressionKind::Variable:
    case ExpressionKind::Unknown:
      return;
    case ExpressionKind::Interpolation:
      return for_each_sub_expression(expression.as<InterpolationExpression>(), declare);
    case ExpressionKind::Record:
      return for_each_sub_expression(expression.as<RecordExpression>(), declare);
    case ExpressionKind::Array:
      return for_each_sub_expression(expression.as<ArrayExpression>(), declare);
    case ExpressionKind::Group: {
      const auto& group = expression.as<GroupExpression>();
      if (group.expression != nullptr && draws_unnecessary_parentheses(*group.expression))
        push(DiagnosticCode::UnnecessaryParentheses, span_of(ref_range(group.open), ref_range(group.close)));
      return for_each_sub_expression(group, declare);
    }
    case ExpressionKind::Call:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::TaggedString:
    case ExpressionKind::FieldAccess:
    case ExpressionKind::IndexAccess:
    case ExpressionKind::SliceAccess:
    case ExpressionKind::NonNilAssertion:
      declare_postfix(expression);
      return;
    case ExpressionKind::Prefix: {
      const auto& prefix = expression.as<PrefixExpression>();
      if (const std::optional<Token> literal = literal_token(prefix.operand))
        check_static_operator_usage(*prefix.op, *literal, true);
      return for_each_sub_expression(prefix, declare);
    }
    case ExpressionKind::Binary: {
      // A left-nested chain is walked iteratively: checks top-down, then the
      // innermost left operand, then the right operands bottom-up, which is
      // the order a recursive walk gives.
      const ScratchMark<const BinaryExpression*> links(chain_stack_);
      const Expression* node = &expression;
      while (node != nullptr && node->kind == ExpressionKind::Binary) {
        const auto& binary = node->as<BinaryExpression>();
        if (const std::optional<Token> literal = literal_token(binary.left))
          check_static_operator_usage(*binary.op, *literal, false);
        if (const std::optional<Token> literal = literal_token(binary.right))
          check_static_operator_usage(*binary.op, *literal, true);
        chain_stack_.push_back(&binary);
        node = binary.left;
      }
      if (node != nullptr) declare_expression(*node);
      // Read in place, not popped: a nested chain pushes above them and
      // cuts back to its own mark.
      for (std::size_t k = chain_stack_.size(); k-- > links.base();) {
        const Expression* right = chain_stack_[k]->right;
        if (right != nullptr) declare_expression(*right);
      }
      return;
    }
    case ExpressionKind::IsPattern: {
      const auto& test = expression.as<IsPatternExpression>();
      if (test.value != nullptr) declare_expression(*test.value);
      if (test.pattern != nullptr) declare_pattern(*test.pattern, VariableKind::PatternBinding, nullptr);
      return;
    }
    case ExpressionKind::Match: {
      // The arms are declared and pre-passed arm by arm when the match is
      // emitted; the subject only here.
      const auto& match = expression.as<MatchExpression>();
      if (config.report_tags) push_tag(DiagnosticCode::MatchExpression, range_of(expression));
      push_tag(DiagnosticCode::KeywordMatch, ref_range(match.keyword));
      for (const MatchCase& arm : match.cases) {
        if (!arm.keyword.is_null()) push_tag(DiagnosticCode::KeywordCase, ref_range(arm.keyword));
      }
      if (match.subject != nullptr) declare_expression(*match.subject);
      return;
    }
    case ExpressionKind::Block:
    case ExpressionKind::Loop:
    case ExpressionKind::While:
    case ExpressionKind::ForIn:
    case ExpressionKind::If:
    case ExpressionKind::Conditional:
    case ExpressionKind::FunctionLiteral:
      // Pre-passed by their own emitters (conditions, iterables and bodies),
      // which also record their annotations.
      return;
  }
}

}  // namespace quendal
