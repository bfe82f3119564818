// Expressions: literals, strings, names, composite literals, calls,
// accesses and operators. Each leaves its value in a register.
#include <bit>
#include <limits>

#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

bool is_global_keyword(const Expression& expression) {
  return expression.kind == ExpressionKind::Variable &&
         !expression.as<VariableExpression>().token.is_null() &&
         is_keyword(expression.as<VariableExpression>().token, Keyword::Global);
}

// A literal bound of a range that is not an integer, a number or `inf`.
bool is_non_number_bound(const Expression& bound) {
  if (bound.kind != ExpressionKind::Literal) return false;
  const Token& token = *bound.as<LiteralExpression>().token;
  return !is_numeric_literal_token(token) && !is_keyword(token, Keyword::Inf);
}

}  // namespace

std::optional<std::int32_t> Emitter::integer_literal(const Expression& expression) {
  const Expression* literal = &expression;
  bool negate = false;
  if (expression.kind == ExpressionKind::Prefix) {
    const auto& prefix = expression.as<PrefixExpression>();
    if (prefix.operand == nullptr || prefix.op.is_null()) return std::nullopt;
    if (is_operator(prefix.op, Operator::Minus)) {
      negate = true;
    } else if (!is_operator(prefix.op, Operator::Plus)) {
      return std::nullopt;
    }
    literal = prefix.operand;
  }
  if (literal->kind != ExpressionKind::Literal) return std::nullopt;
  const Token& token = *literal->as<LiteralExpression>().token;
  if (!is_numeric_literal_token(token)) return std::nullopt;  // nan and inf never qualify
  double value = *literal_number(token);
  if (negate) value = -value;
  if (!(value >= -2147483648.0 && value <= 2147483647.0) ||
      value != static_cast<double>(static_cast<std::int64_t>(value)))
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void Emitter::check_range_bound(const Expression* bound) {
  if (bound != nullptr && is_non_number_bound(*bound))
    push(DiagnosticCode::NonNumberInRange, range_of(*bound));
}

// ---------------------------------------------------------------- dispatch

void Emitter::emit_expression(const Expression& expression, Register dst, LoopContext loop) {
  switch (expression.kind) {
    case ExpressionKind::Literal:
      emit_literal(expression.as<LiteralExpression>(), dst);
      return;
    case ExpressionKind::Interpolation:
      emit_interpolation(expression.as<InterpolationExpression>(), dst, loop);
      return;
    case ExpressionKind::Variable:
      emit_var_read(expression.as<VariableExpression>().token, dst);
      return;
    case ExpressionKind::Group: {
      const Expression* inner = expression.as<GroupExpression>().expression;
      if (inner != nullptr) return emit_expression(*inner, dst, loop);
      return emit_nil(expression, dst);
    }
    case ExpressionKind::Record:
      emit_record(expression.as<RecordExpression>(), dst, loop);
      return;
    case ExpressionKind::Array:
      emit_array(expression.as<ArrayExpression>(), dst, loop);
      return;
    case ExpressionKind::Call:
    case ExpressionKind::TaggedString:
    case ExpressionKind::ExtensionCall:
    case ExpressionKind::FieldAccess:
    case ExpressionKind::IndexAccess:
    case ExpressionKind::SliceAccess:
    case ExpressionKind::NonNilAssertion:
      emit_postfix(expression, dst, loop);
      return;
    case ExpressionKind::Prefix:
      emit_prefix(expression.as<PrefixExpression>(), dst, loop);
      return;
    case ExpressionKind::Binary:
      emit_binary(expression.as<BinaryExpression>(), dst, loop);
      return;
    case ExpressionKind::IsPattern:
      emit_is_pattern(expression.as<IsPatternExpression>(), dst, loop);
      return;
    case ExpressionKind::Block:
      emit_block_expression(expression.as<BlockExpression>(), dst, loop);
      return;
    case ExpressionKind::Loop:
      emit_loop(expression.as<LoopExpression>(), dst);
      return;
    case ExpressionKind::While:
      emit_while(expression.as<WhileExpression>(), dst, loop);
      return;
    case ExpressionKind::ForIn:
      emit_for(expression.as<ForInExpression>(), dst, loop);
      return;
    case ExpressionKind::If:
      emit_if(expression.as<IfExpression>(), dst, loop);
      return;
    case ExpressionKind::Conditional:
      emit_conditional(expression.as<ConditionalExpression>(), dst, loop);
      return;
    case ExpressionKind::Match:
      emit_match(expression.as<MatchExpression>(), dst, loop);
      return;
    case ExpressionKind::FunctionLiteral:
      emit_function_literal(expression.as<FunctionLiteralExpression>(), dst);
      return;
    case ExpressionKind::Unknown:
      // A recovered parse error evaluates to nil.
      return emit_nil(expression, dst);
  }
  bad_expression_kind();
}

// Out of line, so that every form of the dispatch above is a tail call and
// the dispatch saves no registers.
void Emitter::emit_nil(const Expression& expression, Register dst) {
  instr<OpCode::Assign>(range_of(expression), reg_operand(dst), reg_operand(0));
}

void Emitter::bad_expression_kind() { throw InternalFailure("Unknown expression variant"); }

Register Emitter::emit_expression_reg(const Expression& expression, LoopContext loop) {
  const Expression& inner = unwrap_group(expression);
  if (inner.kind == ExpressionKind::Variable) return variable_reg(inner, loop);
  const Register r = alloc_register();
  emit_expression(inner, r, loop);
  return r;
}

// emit_expression_reg of a variable: a local of the innermost scope in its
// own register, anything else read into a fresh one. The common case, a
// name of the token store, calls nothing but its tail calls.
Register Emitter::variable_reg(const Expression& inner, LoopContext loop) {
  const TokenRef ref = inner.as<VariableExpression>().token;
  if (ref.is_borrowed()) {
    const TokenIndex index = ref.index();
    if (tokens.tag(index) == TokenTag::Identifier) {
      Variable* local = scopes.find_local(tokens.data(index));
      // Without tags, an initialised local needs no range and records
      // nothing: it is marked used and read in place.
      if (local != nullptr && local->initialized && !config.report_tags) {
        local->used = true;
        // The scope of a `for` loop whose window is not open yet: its
        // variables are not reachable from here.
        return scopes.innermost_window() == window_count() ? local->reg : 0;
      }
    }
  }
  return variable_reg_slow(inner, loop);
}

Register Emitter::variable_reg_slow(const Expression& inner, LoopContext loop) {
  const TokenRef ref = inner.as<VariableExpression>().token;
  if (is_column_name(ref)) {
    const VariableName name = column_name(ref.index());
    const SourceRange range = column_range(ref.index());
    if (Variable* local = scopes.find_local(name)) return local_in_place(*local, range);
    // Anything else is read into a fresh register, as emit_expression would
    // read it.
    const Register r = alloc_register();
    emit_name_read(name, range, r);
    return r;
  }
  const Token& token = *ref;
  if (is_keyword(token, Keyword::Global)) {
    push(DiagnosticCode::MisuseOfGlobalKeyword, token_range(token));
  } else if (is_identifier(token)) {
    if (Variable* local = scopes.find_local(variable_name(token)))
      return local_in_place(*local, token_range(token));
  }
  const Register r = alloc_register();
  emit_expression(inner, r, loop);
  return r;
}

Register Emitter::local_in_place_slow(Variable& local, SourceRange read) {
  add_reference(local, DiagnosticCode::ReadLocal, read);
  if (!check_variable_initialized(read, local, window_count())) return 0;
  return scopes.innermost_window() == window_count() ? local.reg : 0;
}

// ---------------------------------------------------------------- literals

void Emitter::emit_literal(const LiteralExpression& literal, Register dst) {
  if (literal.token.is_borrowed()) {
    // The most common literal, a whole number of the token store, read from
    // its columns.
    const TokenIndex index = literal.token.index();
    if (tokens.tag(index) == TokenTag::Ordinal) {
      const std::uint32_t value = tokens.data(index);
      // A small whole number met before: its pool entry is known. (This
      // path calls nothing but the source map: a long token or a full code
      // buffer takes the other.)
      const std::uint32_t known = chunk.known_small_number(value);
      if (known != 0 && tokens.end_in_columns(index) && chunk.has_room()) {
        instr_in_room<OpCode::Constant>({tokens.start(index), tokens.column_end(index)}, reg_operand(dst),
                                        param_operand(static_cast<OpParam>(known - 1)));
        return;
      }
    }
  }
  emit_literal_slow(literal, dst);
}

// Out of line, so that the common literal above saves no registers.
void Emitter::emit_literal_slow(const LiteralExpression& literal, Register dst) {
  if (literal.token.is_borrowed()) {
    const TokenIndex index = literal.token.index();
    if (tokens.tag(index) == TokenTag::Ordinal) {
      if (const std::uint32_t known = chunk.known_small_number(tokens.data(index)); known != 0) {
        instr<OpCode::Constant>({tokens.start(index), tokens.end(index)}, reg_operand(dst),
                                param_operand(static_cast<OpParam>(known - 1)));
        return;
      }
      op_number({tokens.start(index), tokens.end(index)}, dst,
                static_cast<double>(static_cast<std::int32_t>(tokens.data(index))));
      return;
    }
  }
  const Token& token = *literal.token;
  const TokenKind& kind = peeled_kind(token);
  const SourceRange range = token_range(token);
  switch (kind.tag) {
    case TokenTag::String:
      op_string(range, dst, kind.text());
      return;
    case TokenTag::Ordinal:
    case TokenTag::Number:
      op_number(range, dst, *literal_number(token));
      return;
    case TokenTag::Keyword:
      switch (kind.keyword) {
        case Keyword::True:
          op_bool(range, dst, true);
          return;
        case Keyword::False:
          op_bool(range, dst, false);
          return;
        case Keyword::Nil:
          instr<OpCode::Assign>(range, reg_operand(dst), reg_operand(0));
          return;
        case Keyword::Nan:
        case Keyword::Inf:
          op_number(range, dst, *literal_number(token));
          return;
        default:
          break;
      }
      break;
    default:
      break;
  }
  unreachable(range);
}

void Emitter::emit_interpolation(const InterpolationExpression& interpolation, Register dst,
                                 LoopContext loop) {
  const std::optional<Token> token =
      interpolation.token.is_null() ? std::nullopt : std::optional<Token>(*interpolation.token);
  const std::optional<TokenKind> kind = token ? std::optional<TokenKind>(peeled_kind(*token)) : std::nullopt;
  if (!kind || kind->tag != TokenTag::InterpolatedString || kind->string == nullptr) {
    SourceRange range = token ? token_range(*token) : SourceRange{};
    if (!interpolation.parts.empty())
      range = span_of(range_of(*interpolation.parts.front()), range_of(*interpolation.parts.back()));
    unreachable(range);
    return;
  }
  const SourceRange range = token_range(*token);
  // One register and one format per piece, in order.
  ScratchMark<Register> pieces(scratch_registers);
  ScratchMark<std::string_view> formats(scratch_texts);
  const std::size_t base_r = pieces.base();
  const std::size_t base_t = formats.base();
  std::size_t next = 0;
  for (const StringPart& part : kind->string->parts) {
    if (!part.text.empty()) {
      const Register r = alloc_register();
      op_string(range, r, part.text);
      scratch_registers.push_back(r);
      scratch_texts.push_back({});
    }
    if (next < interpolation.parts.size()) {
      const Register r = emit_expression_reg(*interpolation.parts[next++], loop);
      scratch_registers.push_back(r);
      scratch_texts.push_back(part.format);
    }
  }
  const std::size_t count = pieces.count();
  if (count == 0) {
    op_string(range, dst, "");
  } else if (count == 1) {
    op_format(range, dst, scratch_registers[base_r], scratch_texts[base_t]);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      if (scratch_texts[base_t + i].empty()) continue;
      const Register f = alloc_register();
      op_format(range, f, scratch_registers[base_r + i], scratch_texts[base_t + i]);
      scratch_registers[base_r + i] = f;
    }
    op_variadic(range, OpCode::Concat, dst, pieces.items());
  }
}

// ------------------------------------------------------------------ names

void Emitter::emit_var_read(const Token& token, Register dst) {
  const SourceRange range = token_range(token);
  if (is_keyword(token, Keyword::Global)) {
    push(DiagnosticCode::MisuseOfGlobalKeyword, range);
    return;
  }
  if (!is_identifier(token)) {
    // A name the parser rewrote during recovery (a reserved word or `_`):
    // its diagnostic is already recorded; the value is nil.
    instr<OpCode::Assign>(range, reg_operand(dst), reg_operand(0));
    return;
  }
  emit_name_read(variable_name(token), range, dst);
}

void Emitter::emit_var_read(TokenRef token, Register dst) {
  // A name of the token store, read from its columns.
  if (is_column_name(token))
    return emit_name_read(column_name(token.index()), column_range(token.index()), dst);
  emit_var_read_slow(token, dst);
}

// Out of line: reading the token whole takes a frame.
void Emitter::emit_var_read_slow(TokenRef token, Register dst) { emit_var_read(*token, dst); }

void Emitter::emit_name_read(VariableName name, SourceRange range, Register dst) {
  if (!scopes.interned(name)) [[unlikely]]
    return emit_name_read_by_text(name, range, dst);
  if (auto found = scopes.find_interned(name)) return emit_variable_read(range, *found, dst);
  emit_global_read(name, range, dst);
}

// A name the lexer did not intern, looked up by its text.
void Emitter::emit_name_read_by_text(VariableName name, SourceRange range, Register dst) {
  if (auto found = find_variable(name)) return emit_variable_read(range, *found, dst);
  emit_global_read(name, range, dst);
}

// Out of line, so that a local's read, the common case, saves no registers.
void Emitter::emit_global_read(VariableName name, SourceRange range, Register dst) {
  push_tag(DiagnosticCode::GlobalVariable, range);
  if (name.symbol != kNoSymbol) {
    const std::uint32_t index = chunk.add_name_constant(name.text(), name.symbol);
    instr<OpCode::GetGlobal>(range, reg_operand(dst), param_operand(static_cast<OpParam>(index)));
  } else {
    op_global(range, dst, name.text());
  }
  hint_mislead_nil(name.text(), range);
  check_known_global(name.text(), range);
}

std::optional<VariableName> Emitter::emit_global_access(const Expression& callee) {
  if (callee.kind == ExpressionKind::FieldAccess) {
    const auto& access = callee.as<FieldAccessExpression>();
    if (access.object == nullptr || !is_global_keyword(*access.object) || access.name.is_null())
      return std::nullopt;
    auto field = peeled_kind(*access.name).to_field_name(arena);
    if (!field) return std::nullopt;
    push_tag(DiagnosticCode::GlobalVariable, ref_range(access.name));
    return VariableName(field->second);
  }
  if (callee.kind == ExpressionKind::Variable) {
    const TokenRef& token = callee.as<VariableExpression>().token;
    if (!is_identifier(token)) return std::nullopt;
    const VariableName name = variable_name(token);
    if (find_variable(name)) return std::nullopt;
    const SourceRange range = ref_range(token);
    push_tag(DiagnosticCode::GlobalVariable, range);
    hint_mislead_nil(name.text(), range);
    check_known_global(name.text(), range);
    return name;
  }
  return std::nullopt;
}

// ------------------------------------------------------ composite literals

void Emitter::emit_array(const ArrayExpression& array, Register dst, LoopContext loop) {
  const ScratchMark<Register> values(scratch_registers);
  const std::size_t base = values.base();
  // Values first, in order.
  for (const auto& item : array.elements) {
    const ArrayElement& element = item.item;
    if (element.is_spread()) {
      scratch_registers.push_back(
          element.spread_value() != nullptr ? emit_expression_reg(*element.spread_value(), loop) : 0);
      continue;
    }
    if (const RangeNode* range = element.element.range) {
      check_range_bound(range->start);
      check_range_bound(range->end);
      auto start = range->start != nullptr ? integer_literal(*range->start) : std::nullopt;
      auto end = range->end != nullptr ? integer_literal(*range->end) : std::nullopt;
      const bool immediate =
          start && end && !(range->exclusive() && *end == std::numeric_limits<std::int32_t>::min());
      if (!immediate) {
        scratch_registers.push_back(range->start != nullptr ? emit_expression_reg(*range->start, loop) : 0);
        scratch_registers.push_back(range->end != nullptr ? emit_expression_reg(*range->end, loop) : 0);
      }
      continue;
    }
    scratch_registers.push_back(
        element.element.expression != nullptr ? emit_expression_reg(*element.element.expression, loop) : 0);
  }
  const SourceRange whole = span_of(ref_range(array.open), ref_range(array.close));
  instr<OpCode::Array>(whole, reg_operand(dst));
  std::size_t at = base;
  for (const auto& item : array.elements) {
    const ArrayElement& element = item.item;
    const SourceRange range = range_of(element);
    if (element.is_spread()) {
      instr<OpCode::Spread>(range, reg_operand(scratch_registers[at++]));
      continue;
    }
    if (const RangeNode* r = element.element.range) {
      auto start = r->start != nullptr ? integer_literal(*r->start) : std::nullopt;
      auto end = r->end != nullptr ? integer_literal(*r->end) : std::nullopt;
      const bool immediate =
          start && end && !(r->exclusive() && *end == std::numeric_limits<std::int32_t>::min());
      if (immediate) {
        const OpParam last = r->exclusive() ? *end - 1 : *end;
        instr<OpCode::ItemRange>(range, param_operand(*start), param_operand(last));
      } else {
        const Register s = scratch_registers[at++];
        const Register e = scratch_registers[at++];
        instr_chosen(range, r->exclusive() ? OpCode::ItemRangeExclusiveDyn : OpCode::ItemRangeDyn,
                     reg_operand(s), reg_operand(e));
      }
      continue;
    }
    instr<OpCode::Item>(range, reg_operand(scratch_registers[at++]));
  }
  instr<OpCode::Freeze>(whole);
}

void Emitter::emit_record(const RecordExpression& record, Register dst, LoopContext loop) {
  const SourceRange whole = span_of(ref_range(record.open), ref_range(record.close));
  if (!record.open.is_null() && is_operator(record.open, Operator::OpenBrace))
    push(DiagnosticCode::PreferParenthesesForRecordLiteral, whole);
  const ScratchMark<Register> values(scratch_registers);
  const std::size_t base = values.base();
  for (const auto& item : record.elements) {
    const RecordElement& element = item.item;
    if (element.kind == RecordElementKind::ExpressionKeyed)
      scratch_registers.push_back(element.key_node != nullptr ? emit_expression_reg(*element.key_node, loop)
                                                              : 0);
    scratch_registers.push_back(element.value != nullptr ? emit_expression_reg(*element.value, loop) : 0);
  }
  instr<OpCode::Record>(whole, reg_operand(dst));
  std::size_t at = base;
  for (const auto& item : record.elements) {
    const RecordElement& element = item.item;
    const SourceRange range = range_of(element);
    const bool optional = element.optional();
    switch (element.kind) {
      case RecordElementKind::Keyed: {
        const Register value = scratch_registers[at++];
        if (element.key.is_borrowed()) {
          // A name of the token store: its constant found by its symbol.
          const TokenIndex index = element.key.index();
          if (tokens.tag(index) == TokenTag::Identifier) {
            const SymbolId symbol = tokens.data(index);
            push_tag(DiagnosticCode::RecordFieldIdName, {tokens.start(index), tokens.end(index)});
            const std::uint32_t key = chunk.add_name_constant(tokens.symbol_text(symbol), symbol);
            instr_chosen(range, optional ? OpCode::FieldOpt : OpCode::Field,
                         param_operand(static_cast<OpParam>(key)), reg_operand(value));
            break;
          }
        }
        auto field = element.key.is_null() ? std::nullopt : peeled_kind(*element.key).to_field_name(arena);
        if (!field) {
          unreachable(element.key.is_null() ? range : ref_range(element.key));
          break;
        }
        push_tag(field->first, ref_range(element.key));
        if (field->first == DiagnosticCode::RecordFieldOrdinalName) {
          instr_chosen(range, optional ? OpCode::FieldOptIndex : OpCode::FieldIndex,
                       param_operand(peeled_kind(*element.key).ordinal), reg_operand(value));
        } else {
          const std::uint32_t key = chunk.add_constant(Constant::of_string(field->second));
          instr_chosen(range, optional ? OpCode::FieldOpt : OpCode::Field,
                       param_operand(static_cast<OpParam>(key)), reg_operand(value));
        }
        break;
      }
      case RecordElementKind::ExpressionKeyed: {
        const Register key = scratch_registers[at++];
        const Register value = scratch_registers[at++];
        instr_chosen(range, optional ? OpCode::FieldOptDyn : OpCode::FieldDyn, reg_operand(key),
                     reg_operand(value));
        break;
      }
      case RecordElementKind::Positional: {
        const auto index = static_cast<std::size_t>(at - base);
        const Register value = scratch_registers[at++];
        static constexpr DiagnosticCode kUnnamed[] = {
            DiagnosticCode::UnnamedRecordField0, DiagnosticCode::UnnamedRecordField1,
            DiagnosticCode::UnnamedRecordField2, DiagnosticCode::UnnamedRecordField3,
            DiagnosticCode::UnnamedRecordField4, DiagnosticCode::UnnamedRecordField5,
            DiagnosticCode::UnnamedRecordField6, DiagnosticCode::UnnamedRecordField7,
            DiagnosticCode::UnnamedRecordField8, DiagnosticCode::UnnamedRecordField9};
        push_tag(index < 10 ? kUnnamed[index] : DiagnosticCode::UnnamedRecordFieldN, range);
        instr<OpCode::FieldIndex>(range, param_operand(static_cast<OpParam>(index)), reg_operand(value));
        break;
      }
      case RecordElementKind::OmittedKey: {
        const Register value = scratch_registers[at++];
        // The key is the value's own name: a variable's or an accessed field's.
        std::optional<Token> name;
        if (element.value != nullptr && element.value->kind == ExpressionKind::Variable) {
          name = *element.value->as<VariableExpression>().token;
        } else if (element.value != nullptr && element.value->kind == ExpressionKind::FieldAccess &&
                   !element.value->as<FieldAccessExpression>().name.is_null()) {
          name = *element.value->as<FieldAccessExpression>().name;
        }
        auto field = name ? peeled_kind(*name).to_field_name(arena) : std::nullopt;
        if (!field) {
          push(DiagnosticCode::BadOmitKeyRecordExpression,
               element.value != nullptr ? range_of(*element.value) : range);
          return;  // the rest of the literal is not emitted
        }
        push_tag(DiagnosticCode::OmitNamedRecordField, range);
        push_tag(DiagnosticCode::OmitNamedRecordFieldName, token_range(*name));
        const std::uint32_t key = chunk.add_constant(Constant::of_string(field->second));
        instr_chosen(range, optional ? OpCode::FieldOpt : OpCode::Field,
                     param_operand(static_cast<OpParam>(key)), reg_operand(value));
        break;
      }
      case RecordElementKind::Spread:
        instr<OpCode::Spread>(range, reg_operand(scratch_registers[at++]));
        break;
    }
  }
  instr<OpCode::Freeze>(whole);
}

// ------------------------------------------------------------------- calls

void Emitter::build_arguments(const ArgumentList& arguments, OpParam first, LoopContext loop) {
  OpParam position = first;
  for (const auto& item : arguments) {
    const ArgumentElement& element = item.item;
    const Expression* value = element.is_spread() ? element.spread_value() : element.element.get();
    if (element.is_spread()) scratch_params.push_back(position);
    scratch_registers.push_back(value != nullptr ? emit_expression_reg(*value, loop) : 0);
    ++position;
  }
}

void Emitter::build_tagged_arguments(const Expression& string, LoopContext loop) {
  const Register c = alloc_register();
  scratch_registers.push_back(c);
  const SourceRange string_range = range_of(string);
  if (string.kind == ExpressionKind::Literal &&
      is_string_literal_token(*string.as<LiteralExpression>().token)) {
    const Register l = emit_expression_reg(string, loop);
    instr<OpCode::Array>(string_range, reg_operand(c));
    instr<OpCode::Item>(string_range, reg_operand(l));
    instr<OpCode::Freeze>(string_range);
    return;
  }
  const std::optional<TokenKind> kind =
      string.kind == ExpressionKind::Interpolation && !string.as<InterpolationExpression>().token.is_null()
          ? std::optional<TokenKind>(peeled_kind(*string.as<InterpolationExpression>().token))
          : std::nullopt;
  if (!kind || kind->tag != TokenTag::InterpolatedString || kind->string == nullptr) {
    unreachable(string_range);
    return;
  }
  const auto& parts = string.as<InterpolationExpression>().parts;
  const auto& fragments = kind->string->parts;
  // One record (value, format) per interpolation.
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Register o = alloc_register();
    const Register t = emit_expression_reg(*parts[i], loop);
    const std::string_view spec = i < fragments.size() ? fragments[i].format : std::string_view{};
    Register u = 0;
    if (!spec.empty()) {
      u = alloc_register();
      op_string(string_range, u, spec);
    }
    instr<OpCode::Record>(string_range, reg_operand(o));
    instr<OpCode::FieldIndex>(string_range, param_operand(0), reg_operand(t));
    if (!spec.empty()) instr<OpCode::FieldIndex>(string_range, param_operand(1), reg_operand(u));
    instr<OpCode::Freeze>(string_range);
    scratch_registers.push_back(o);
  }
  // Then the array of literal texts (not arguments: gone when it is built).
  const ScratchMark<Register> texts(scratch_registers);
  for (const StringPart& fragment : fragments) {
    const Register r = alloc_register();
    op_string(string_range, r, fragment.text);
    scratch_registers.push_back(r);
  }
  instr<OpCode::Array>(string_range, reg_operand(c));
  for (const Register r : texts.items()) instr<OpCode::Item>(string_range, reg_operand(r));
  instr<OpCode::Freeze>(string_range);
}

bool Emitter::begin_call(SourceRange range, const Callable& callee, Register dst, bool chained_callee,
                         CallHead& head, LoopContext loop) {
  head.base_registers = scratch_registers.size();
  head.base_params = scratch_params.size();
  if (callee.expression != nullptr) {
    if (auto name = emit_global_access(*callee.expression)) {
      head.global = name->text();
      head.global_symbol = name->symbol;
      head.is_global = true;
      return true;
    }
    head.guarded = callee.expression->kind != ExpressionKind::Variable &&
                   callee.expression->kind != ExpressionKind::NonNilAssertion;
    if (chained_callee) {
      head.chained = true;
    } else {
      head.callee = emit_expression_reg(*callee.expression, loop);
    }
    return true;
  }
  // A callee given as a bare name token.
  const Token& token = *callee.token;
  if (!is_identifier(token)) {
    unreachable(token_range(token));
    instr<OpCode::Assign>(range, reg_operand(dst), reg_operand(0));
    return false;
  }
  const std::string_view name = identifier_text(token);
  if (!find_variable(variable_name(token))) {
    push_tag(DiagnosticCode::GlobalVariable, token_range(token));
    hint_mislead_nil(name, token_range(token));
    check_known_global(name, token_range(token));
    head.global = name;
    head.global_symbol = variable_name(token).symbol;
    head.is_global = true;
    return true;
  }
  // A local of the innermost scope is called in its own register, as a
  // callee expression is (emit_expression_reg); any other is read into a
  // fresh one.
  if (Variable* local = scopes.find_local(variable_name(token))) {
    head.callee = local_in_place(*local, token_range(token));
    return true;
  }
  head.callee = alloc_register();
  emit_var_read(token, head.callee);
  return true;
}

void Emitter::finish_call(SourceRange range, Register dst, const CallHead& head) {
  const auto arguments = std::span(scratch_registers).subspan(head.base_registers);
  const auto spreads = std::span(scratch_params).subspan(head.base_params);
  if (head.is_global) {
    op_call(range, dst, head.global, head.global_symbol, arguments, spreads);
  } else {
    op_call_dyn(range, dst, head.callee, arguments, spreads);
  }
  scratch_registers.resize(head.base_registers);
  scratch_params.resize(head.base_params);
  if (head.guarded) {
    op_else(range);
    instr<OpCode::Assign>(range, reg_operand(dst), reg_operand(0));
    op_if_end(range);
  }
}

// ------------------------------------------------------ accesses and calls

// `a.b(c)[d]!.e::f()`: every form of the chain starts where `a` starts, so
// its range is known without walking it again.
void Emitter::emit_postfix(const Expression& expression, Register dst, LoopContext loop) {
  const std::uint64_t start = start_of(expression);
  ScratchMark<PostfixStep> steps(postfix_steps_);
  const Expression* node = &expression;
  Register target = dst;
  for (;;) {
    PostfixStep step;
    step.node = node;
    step.range = {start, end_of(*node)};
    step.dst = target;
    const Expression* operand = nullptr;
    const PostfixEdge edge = emit_postfix_head(step, operand, loop);
    if (edge == PostfixEdge::Done) break;
    const bool follow = is_postfix(*operand);
    if (edge == PostfixEdge::Own) {
      step.operand = follow ? alloc_register() : emit_expression_reg(*operand, loop);
    } else if (!follow) {
      emit_expression(*operand, step.operand, loop);
    }
    postfix_steps_.push_back(step);
    if (!follow) break;
    node = operand;
    target = step.operand;
  }
  while (steps.holds()) emit_postfix_tail(steps.pop(), loop);
}

PostfixEdge Emitter::emit_postfix_head(PostfixStep& step, const Expression*& operand, LoopContext loop) {
  const Expression& node = *step.node;
  const Register dst = step.dst;
  const std::optional<PostfixForm> form = postfix_form(node);
  if (!form) throw InternalFailure("postfix chain step on an expression that is not a postfix form");
  switch (*form) {
    case PostfixForm::FieldAccess: {
      const auto& access = node.as<FieldAccessExpression>();
      if (!is_global_keyword(*access.object)) {
        step.operand = dst != 0 ? dst : alloc_register();
        operand = access.object;
        return PostfixEdge::Into;
      }
      auto field = peeled_kind(*access.name).to_field_name(arena);
      if (!field) {
        unreachable(ref_range(access.name));
        instr<OpCode::Assign>(step.range, reg_operand(dst), reg_operand(0));
        return PostfixEdge::Done;
      }
      push_tag(DiagnosticCode::GlobalVariable, ref_range(access.name));
      op_global(step.range, dst, field->second);
      return PostfixEdge::Done;
    }
    case PostfixForm::IndexAccess: {
      const auto& access = node.as<IndexAccessExpression>();
      if (!is_global_keyword(*access.object)) {
        step.operand = dst != 0 ? dst : alloc_register();
        operand = access.object;
        return PostfixEdge::Into;
      }
      if (config.report_tags) push_tag(DiagnosticCode::GlobalDynamicAccess, range_of(*access.index));
      const Register key = emit_expression_reg(*access.index, loop);
      instr<OpCode::GetGlobalDyn>(step.range, reg_operand(dst), reg_operand(key));
      return PostfixEdge::Done;
    }
    case PostfixForm::SliceAccess:
      operand = node.as<SliceAccessExpression>().object;
      return PostfixEdge::Own;
    case PostfixForm::NonNilAssertion:
      step.operand = dst != 0 ? dst : alloc_register();
      operand = node.as<NonNilAssertionExpression>().operand;
      return PostfixEdge::Into;
    case PostfixForm::Call: {
      const auto& call = node.as<CallExpression>();
      if (call.callee.expression == nullptr && !call.callee.token.is_null() &&
          is_keyword(call.callee.token, Keyword::Type)) {
        Register r = 0;
        if (!call.arguments.empty() && !call.arguments.front().item.is_spread() &&
            call.arguments.front().item.element != nullptr)
          r = emit_expression_reg(*call.arguments.front().item.element, loop);
        instr<OpCode::Type>(step.range, reg_operand(dst), reg_operand(r));
        return PostfixEdge::Done;
      }
      if (!begin_call(step.range, call.callee, dst, true, step.call, loop)) return PostfixEdge::Done;
      if (step.call.chained) {
        operand = call.callee.expression;
        return PostfixEdge::Own;
      }
      // A global or local function called by name (never nil-guarded).
      build_arguments(call.arguments, 0, loop);
      finish_call(step.range, dst, step.call);
      return PostfixEdge::Done;
    }
    case PostfixForm::ExtensionCall: {
      const auto& call = node.as<ExtensionCallExpression>();
      operand = call.receiver;
      if (call.callee.expression == nullptr && !call.callee.token.is_null() &&
          is_keyword(call.callee.token, Keyword::Type))
        return PostfixEdge::Own;
      // The callee first, then the receiver as argument 0.
      if (!begin_call(step.range, call.callee, dst, false, step.call, loop)) return PostfixEdge::Done;
      if (step.call.guarded) instr<OpCode::IfNotNil>(step.range, reg_operand(step.call.callee));
      return PostfixEdge::Own;
    }
    case PostfixForm::TaggedString: {
      const auto& tagged = node.as<TaggedStringExpression>();
      Callable callee;
      callee.expression = tagged.tag;
      if (!begin_call(step.range, callee, dst, true, step.call, loop)) return PostfixEdge::Done;
      if (step.call.chained) {
        operand = tagged.tag;
        return PostfixEdge::Own;
      }
      build_tagged_arguments(*tagged.string, loop);
      finish_call(step.range, dst, step.call);
      return PostfixEdge::Done;
    }
  }
  throw InternalFailure("postfix chain step on an expression that is not a postfix form");
}

void Emitter::emit_postfix_tail(const PostfixStep& step, LoopContext loop) {
  const Expression& node = *step.node;
  const SourceRange range = step.range;
  const Register dst = step.dst;
  const std::optional<PostfixForm> form = postfix_form(node);
  if (!form) throw InternalFailure("postfix chain step on an expression that is not a postfix form");
  switch (*form) {
    case PostfixForm::FieldAccess: {
      const auto& access = node.as<FieldAccessExpression>();
      if (access.name.is_borrowed()) {
        // A field name of the token store: its constant found by its symbol.
        const TokenIndex index = access.name.index();
        if (tokens.tag(index) == TokenTag::Identifier) {
          const SymbolId symbol = tokens.data(index);
          const std::uint32_t key = chunk.add_name_constant(tokens.symbol_text(symbol), symbol);
          instr<OpCode::Get>(range, reg_operand(dst), reg_operand(step.operand),
                             param_operand(static_cast<OpParam>(key)));
          return;
        }
      }
      const TokenKind name = peeled_kind(*access.name);
      if (name.tag == TokenTag::Identifier) {
        op_get(range, dst, step.operand, name.text());
      } else if (name.tag == TokenTag::Ordinal) {
        instr<OpCode::GetIndex>(range, reg_operand(dst), reg_operand(step.operand),
                                param_operand(name.ordinal));
      } else {
        // A field name that is neither a name nor an ordinal after recovery.
        unreachable(ref_range(access.name));
        instr<OpCode::Assign>(range, reg_operand(dst), reg_operand(0));
      }
      return;
    }
    case PostfixForm::IndexAccess: {
      const Register key = emit_expression_reg(*node.as<IndexAccessExpression>().index, loop);
      instr<OpCode::GetDyn>(range, reg_operand(dst), reg_operand(step.operand), reg_operand(key));
      return;
    }
    case PostfixForm::SliceAccess: {
      const auto& access = node.as<SliceAccessExpression>();
      check_range_bound(access.start);
      const Register start = access.start != nullptr ? emit_expression_reg(*access.start, loop) : 0;
      check_range_bound(access.end);
      const Register end = access.end != nullptr ? emit_expression_reg(*access.end, loop) : 0;
      instr_chosen(range, access.exclusive() ? OpCode::SliceExclusiveDyn : OpCode::SliceDyn, reg_operand(dst),
                   reg_operand(step.operand), reg_operand(start), reg_operand(end));
      return;
    }
    case PostfixForm::NonNilAssertion:
      instr<OpCode::AssertNonNil>(range, reg_operand(step.operand));
      return;
    case PostfixForm::Call: {
      CallHead head = step.call;
      head.callee = step.operand;
      if (head.guarded) instr<OpCode::IfNotNil>(range, reg_operand(head.callee));
      build_arguments(node.as<CallExpression>().arguments, 0, loop);
      finish_call(range, dst, head);
      return;
    }
    case PostfixForm::ExtensionCall: {
      const auto& call = node.as<ExtensionCallExpression>();
      if (call.callee.expression == nullptr && !call.callee.token.is_null() &&
          is_keyword(call.callee.token, Keyword::Type)) {
        instr<OpCode::Type>(range, reg_operand(dst), reg_operand(step.operand));
        return;
      }
      scratch_registers.push_back(step.operand);
      build_arguments(call.arguments, 1, loop);
      finish_call(range, dst, step.call);
      return;
    }
    case PostfixForm::TaggedString: {
      CallHead head = step.call;
      head.callee = step.operand;
      if (head.guarded) instr<OpCode::IfNotNil>(range, reg_operand(head.callee));
      build_tagged_arguments(*node.as<TaggedStringExpression>().string, loop);
      finish_call(range, dst, head);
      return;
    }
  }
  throw InternalFailure("postfix chain step on an expression that is not a postfix form");
}

// --------------------------------------------------------------- operators

void Emitter::emit_prefix(const PrefixExpression& prefix, Register dst, LoopContext loop) {
  const Token& op = *prefix.op;
  const SourceRange op_range = token_range(op);
  const TokenKind& kind = peeled_kind(op);
  const bool plus = kind.is_operator(Operator::Plus);
  const bool minus = kind.is_operator(Operator::Minus);
  if ((plus || minus) && prefix.operand->kind == ExpressionKind::Literal) {
    const Token& literal = *prefix.operand->as<LiteralExpression>().token;
    if (auto value = literal_number(literal)) {
      std::uint64_t bits = std::bit_cast<std::uint64_t>(*value);
      if (minus) bits ^= kSignBit;
      op_number(span_of(op_range, token_range(literal)), dst, std::bit_cast<double>(bits));
      return;
    }
  }
  OpCode code;
  if (plus) {
    code = OpCode::Pos;
  } else if (minus) {
    code = OpCode::Neg;
  } else if (kind.is_operator(Operator::Exclamation)) {
    code = OpCode::Not;
  } else if (kind.is_keyword(Keyword::Not)) {
    code = OpCode::Not;
    push(DiagnosticCode::PreferLogicalOperatorNot, op_range);
  } else {
    // `?x` and anything recovery left in an operator position: nil.
    unreachable(op_range);
    instr<OpCode::Assign>(op_range, reg_operand(dst), reg_operand(0));
    return;
  }
  const Register operand = emit_expression_reg(*prefix.operand, loop);
  instr_chosen(op_range, code, reg_operand(dst), reg_operand(operand));
}

// `a + b * c`, `a or b`, `a in b`: the form of one operator (Other: an
// operator that recovery left in the position).
[[gnu::always_inline]] inline BinaryStep Emitter::binary_step(const BinaryExpression& binary,
                                                              std::optional<DiagnosticCode>& prefer) {
  if (const std::optional<OpCode> code = plain_binary_opcode(binary.op)) {
    BinaryStep step;
    step.node = &binary;
    step.form = BinaryForm::Plain;
    step.code = *code;
    return step;
  }
  return binary_step_slow(binary, prefer);
}

// The common case, an arithmetic or comparison operator of the token store,
// read from its columns; nothing for any other.
[[gnu::always_inline]] inline std::optional<OpCode> Emitter::plain_binary_opcode(TokenRef op) const {
  if (!op.is_borrowed() || tokens.tag(op.index()) != TokenTag::Operator) return std::nullopt;
  return binary_opcode(tokens.op(op.index()));
}

BinaryStep Emitter::binary_step_slow(const BinaryExpression& binary, std::optional<DiagnosticCode>& prefer) {
  BinaryStep step;
  step.node = &binary;
  const TokenKind kind = operator_kind(binary.op);
  auto short_circuit = [&step](OpCode test, bool to_boolean) {
    step.form = BinaryForm::ShortCircuit;
    step.code = test;
    step.to_boolean = to_boolean;
  };
  if (kind.tag == TokenTag::Operator) {
    if (const std::optional<OpCode> code = binary_opcode(kind.op)) {
      step.form = BinaryForm::Plain;
      step.code = *code;
      return step;
    }
    switch (kind.op) {
      case Operator::AndAnd:
        short_circuit(OpCode::If, true);
        break;
      case Operator::OrOr:
        short_circuit(OpCode::IfNot, true);
        break;
      case Operator::QuestionQuestion:
        short_circuit(OpCode::IfNil, false);
        break;
      default:
        break;
    }
  } else if (kind.tag == TokenTag::Keyword) {
    switch (kind.keyword) {
      case Keyword::And:
        prefer = DiagnosticCode::PreferLogicalOperatorAnd;
        short_circuit(OpCode::If, true);
        break;
      case Keyword::Or:
        prefer = DiagnosticCode::PreferLogicalOperatorOr;
        short_circuit(OpCode::IfNot, true);
        break;
      case Keyword::In:
      case Keyword::NotIn:
        step.form = BinaryForm::Membership;
        step.negate = kind.keyword == Keyword::NotIn;
        break;
      default:
        break;
    }
  }
  return step;
}

// A left operand the walk goes on into: an operator with both operands (the
// left operand's brackets do not matter, as emit_expression_reg and
// emit_expression look through them).
const BinaryExpression* Emitter::chained_binary(const Expression& left) {
  const Expression& inner = unwrap_group(left);
  if (inner.kind != ExpressionKind::Binary) return nullptr;
  const auto& binary = inner.as<BinaryExpression>();
  if (binary.left == nullptr || binary.right == nullptr || binary.op.is_null()) return nullptr;
  return &binary;
}

// The head of one operator: its reports, its form, and its left operand,
// unless the chain goes on into it (`next`). False for an operator that
// recovery left in the position.
[[gnu::always_inline]] inline bool Emitter::binary_head(const BinaryExpression& node,
                                                        const BinaryExpression* next, Register target,
                                                        BinaryStep& step, LoopContext loop) {
  std::optional<DiagnosticCode> prefer;
  step = binary_step(node, prefer);
  if (step.form == BinaryForm::Other) {
    unreachable(ref_range(node.op));
    return false;
  }
  if (prefer) push(*prefer, ref_range(node.op));
  step.target = target;
  if (step.form == BinaryForm::ShortCircuit) {
    // The left operand is computed in the working register itself.
    if (step.target == 0) step.target = alloc_register();
    if (next == nullptr) emit_expression(*node.left, step.target, loop);
  } else {
    step.left = next != nullptr ? alloc_register() : emit_expression_reg(*node.left, loop);
  }
  return true;
}

// A chain of operators: heads outermost first (reports, registers), the
// innermost left operand, then tails innermost first. One operator, the
// common case, needs no scratch stack.
void Emitter::emit_binary(const BinaryExpression& binary, Register dst, LoopContext loop) {
  const BinaryExpression* next = chained_binary(*binary.left);
  BinaryStep step;
  if (next == nullptr) {
    // The most common of all: arithmetic or a comparison, alone.
    if (const std::optional<OpCode> code = plain_binary_opcode(binary.op)) {
      const Register left = emit_expression_reg(*binary.left, loop);
      const Register right = emit_expression_reg(*binary.right, loop);
      instr_chosen(ref_range(binary.op), *code, reg_operand(dst), reg_operand(left), reg_operand(right));
      return;
    }
    if (binary_head(binary, nullptr, dst, step, loop)) emit_binary_tail(step, loop);
    return;
  }
  ScratchMark<BinaryStep> steps(binary_steps_);
  const BinaryExpression* node = &binary;
  Register target = dst;
  for (;;) {
    if (!binary_head(*node, next, target, step, loop)) break;
    binary_steps_.push_back(step);
    if (next == nullptr) break;
    target = step.form == BinaryForm::ShortCircuit ? step.target : step.left;
    node = next;
    next = chained_binary(*node->left);
  }
  while (steps.holds()) emit_binary_tail(steps.pop(), loop);
}

void Emitter::emit_binary_tail(const BinaryStep& step, LoopContext loop) {
  const BinaryExpression& node = *step.node;
  switch (step.form) {
    case BinaryForm::Plain: {
      const Register right = emit_expression_reg(*node.right, loop);
      instr_chosen(ref_range(node.op), step.code, reg_operand(step.target), reg_operand(step.left),
                   reg_operand(right));
      return;
    }
    case BinaryForm::ShortCircuit: {
      const SourceRange op_range = ref_range(node.op);
      instr_chosen(op_range, step.code, reg_operand(step.target));
      emit_expression(*node.right, step.target, loop);
      if (step.to_boolean)
        instr<OpCode::ToBoolean>(op_range, reg_operand(step.target), reg_operand(step.target));
      op_if_end(op_range);
      return;
    }
    case BinaryForm::Membership: {
      const SourceRange op_range = ref_range(node.op);
      if (is_global_keyword(*node.right)) {
        instr<OpCode::InGlobal>(op_range, reg_operand(step.target), reg_operand(step.left));
      } else {
        const Register right = emit_expression_reg(*node.right, loop);
        instr<OpCode::In>(op_range, reg_operand(step.target), reg_operand(step.left), reg_operand(right));
      }
      if (step.negate) instr<OpCode::Not>(op_range, reg_operand(step.target), reg_operand(step.target));
      return;
    }
    case BinaryForm::Other:
      return;
  }
}

}  // namespace quendal
