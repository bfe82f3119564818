// Pattern emission: one routine tests a value against a pattern and binds the
// pattern's names, with a flag register when the caller wants the match
// result (`is`, `match`) and without one in irrefutable positions (`let`,
// destructuring assignment, parameters, `for`). Also the `is` test and the
// `match` arm chain.
#include <string>

#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using DC = DiagnosticCode;

RegisterOperand R(Register r) { return reg_operand(r); }
ParamOperand P(OpParam p) { return param_operand(p); }

// Looks through the Unknown wrappers left by recovery (those with an inner
// pattern are normally replaced by it when diagnostics are collected).
const Pattern& peel(const Pattern& pattern) {
  const Pattern* p = &pattern;
  while (p->kind == PatternKind::Unknown && p->as<UnknownPattern>().inner != nullptr)
    p = p->as<UnknownPattern>().inner;
  return *p;
}

bool is_nil_literal(const Pattern& pattern) {
  const Pattern& p = peel(pattern);
  return p.kind == PatternKind::Literal && is_keyword(p.as<LiteralPattern>().literal, Keyword::Nil);
}

bool is_literal_or_constant(const Pattern& pattern) {
  const PatternKind kind = peel(pattern).kind;
  return kind == PatternKind::Literal || kind == PatternKind::ConstantName;
}

// A spread that keeps nothing: a bare `..` or a discard.
bool is_discarding(const Pattern* pattern) {
  if (pattern == nullptr) return true;
  const PatternKind kind = peel(*pattern).kind;
  return kind == PatternKind::Discard || kind == PatternKind::Omitted;
}

bool is_ordering(Operator op) {
  return op == Operator::Lt || op == Operator::LtEq || op == Operator::Gt || op == Operator::GtEq;
}

// A range bound that is a literal must be numeric: an integer, a number or
// `inf` (a sign in front does not matter).
bool is_non_number_bound(const Pattern& bound) {
  const Pattern& p = peel(bound);
  if (p.kind != PatternKind::Literal) return false;
  const Token& token = *p.as<LiteralPattern>().literal;
  return !is_numeric_literal_token(token) && !is_keyword(token, Keyword::Inf);
}

OpParam constant_param(std::uint32_t index) { return static_cast<OpParam>(index); }

OpParam index_param(std::size_t index) {
  if (index > 0x7FFFFFFFu) throw InternalFailure("pattern element index out of range");
  return static_cast<OpParam>(index);
}

}  // namespace

// ------------------------------------------------------------ operands

std::optional<Constant> Emitter::emit_literal_constant(const Pattern& pattern, Register reg) {
  const Pattern& p = peel(pattern);
  const SourceRange range = range_of(p);
  if (p.kind == PatternKind::ConstantName) {
    emit_var_read(*p.as<ConstantNamePattern>().name, reg);
    return std::nullopt;
  }
  if (p.kind != PatternKind::Literal) {
    unreachable(range);
    return std::nullopt;
  }
  const auto& literal = p.as<LiteralPattern>();
  const Token& token = *literal.literal;
  const TokenKind& kind = peeled_kind(token);
  if (kind.tag == TokenTag::String) {
    op_string(range, reg, kind.text());
    return Constant::of_string(kind.text());
  }
  if (kind.is_keyword(Keyword::True) || kind.is_keyword(Keyword::False)) {
    const bool value = kind.is_keyword(Keyword::True);
    op_bool(range, reg, value);
    return Constant::boolean(value);
  }
  if (kind.is_keyword(Keyword::Nil)) {
    instr<OpCode::Assign>(range, R(reg), R(0));
    return Constant::nil();
  }
  if (std::optional<double> number = literal_number(token)) {
    double value = *number;
    if (!literal.sign.is_null() && is_operator(literal.sign, Operator::Minus)) value = -value;
    op_number(range, reg, value);
    return Constant::of_number(value);
  }
  unreachable(token, token);
  return std::nullopt;
}

void Emitter::emit_literal_guard(Register flag, const Pattern& pattern, Register value,
                                 const Constant& constant) {
  const SourceRange range = range_of(pattern);
  switch (constant.tag) {
    case Constant::Tag::Nil:
      instr<OpCode::Same>(range, R(flag), R(0), R(value));
      return;
    case Constant::Tag::True:
    case Constant::Tag::False:
      instr<OpCode::IsBoolean>(range, R(flag), R(value));
      return;
    case Constant::Tag::Integer:
    case Constant::Tag::Number:
      instr<OpCode::IsNumber>(range, R(flag), R(value));
      return;
    case Constant::Tag::String:
      instr<OpCode::IsString>(range, R(flag), R(value));
      return;
  }
}

void Emitter::emit_constant_guard(Register flag, const Pattern& pattern, Register value, Register constant) {
  const SourceRange range = range_of(pattern);
  const Register value_type = alloc_register();
  const Register constant_type = alloc_register();
  instr<OpCode::Type>(range, R(value_type), R(value));
  instr<OpCode::Type>(range, R(constant_type), R(constant));
  instr<OpCode::Same>(range, R(flag), R(value_type), R(constant_type));
}

// ------------------------------------------------------------ failed match

void Emitter::emit_failed_pattern(const Pattern& pattern, VariableKind kind) {
  switch (pattern.kind) {
    case PatternKind::Binding: {
      const auto& binding = pattern.as<BindingPattern>();
      if (binding.name.is_null() || !is_identifier(binding.name)) return;
      std::optional<FoundVariable> found = find_variable(variable_name(binding.name));
      if (!found) return;
      // A name of a loop window that is not open yet is not reachable.
      if (found->window > window_count()) return;
      Variable& variable = *found->variable;
      if (kind == VariableKind::Assignment) {
        // Only a variable the assignment may write (errors were reported
        // where the name was bound).
        if (!variable.is_mutable || variable.reg == 0) return;
      } else if (variable.reg == 0) {
        ensure_register(variable);
      }
      emit_variable_store(binding.name.range(), *found, 0);
      return;
    }
    // The operands of comparisons and intervals are values compared with,
    // never bound: nothing there to clear.
    case PatternKind::Comparison:
    case PatternKind::Interval:
      return;
    case PatternKind::Group:
    case PatternKind::Literal:
    case PatternKind::ConstantName:
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
  for_each_sub_pattern(pattern, [&](const Pattern& sub) { emit_failed_pattern(sub, kind); });
}

// ------------------------------------------------------------ patterns

// The pattern forms, each emitted by one function of this walker.
class Emitter::PatternEmitter {
 public:
  PatternEmitter(Emitter& e, VariableKind kind) : e_(e), kind_(kind) {}

  void emit(Register flag, const Pattern& pattern, Register value) {
    switch (pattern.kind) {
      case PatternKind::Group: {
        const Pattern* inner = pattern.as<GroupPattern>().pattern;
        if (inner != nullptr)
          emit(flag, *inner, value);
        else
          always(flag, pattern);
        return;
      }
      case PatternKind::Literal:
      case PatternKind::ConstantName:
        literal(flag, pattern, value);
        return;
      case PatternKind::Comparison:
        relation(flag, pattern.as<ComparisonPattern>(), value);
        return;
      case PatternKind::Interval:
        interval(flag, pattern.as<IntervalPattern>(), value);
        return;
      case PatternKind::Discard:
      case PatternKind::Omitted:
        always(flag, pattern);
        return;
      case PatternKind::Binding:
        binding(flag, pattern.as<BindingPattern>(), value);
        return;
      case PatternKind::Record:
        record(flag, pattern.as<RecordPattern>(), value);
        return;
      case PatternKind::Array:
        array(flag, pattern.as<ArrayPattern>(), value);
        return;
      case PatternKind::And:
      case PatternKind::Or:
        combination(flag, pattern, value);
        return;
      case PatternKind::Not:
        negation(flag, pattern.as<NotPattern>(), value);
        return;
      case PatternKind::Unknown: {
        // Recovered parse errors (already reported) match anything.
        const Pattern* inner = pattern.as<UnknownPattern>().inner;
        if (inner != nullptr)
          emit(flag, *inner, value);
        else
          always(flag, pattern);
        return;
      }
    }
    throw InternalFailure("unknown pattern variant");
  }

 private:
  // Discards and the other forms that match any value.
  void always(Register flag, const Pattern& pattern) {
    if (flag != 0) e_.op_bool(range_of(pattern), flag, true);
  }

  // A refutable form in an irrefutable position: warned, not emitted.
  bool irrefutable_misuse(Register flag, SourceRange range) {
    if (flag != 0) return false;
    e_.push(DC::UnnecessaryIrrefutablePattern, range);
    return true;
  }

  void binding(Register flag, const BindingPattern& binding, Register value) {
    const SourceRange name_range = binding.name.range();
    if (flag != 0) e_.op_bool(name_range, flag, true);
    if (!is_identifier(binding.name)) return;  // a recovered name, already reported
    std::optional<FoundVariable> found = e_.find_variable(variable_name(binding.name));
    if (!found) {
      e_.push(DC::UndefinedVariableAssignment, name_range);
      return;
    }
    Variable& variable = *found->variable;
    if (kind_ == VariableKind::Assignment) {
      e_.add_reference(variable, DC::WriteLocal, name_range);
      if (!e_.check_variable_initialized(name_range, variable, found->window)) return;
      if (!variable.is_mutable) {
        e_.push(DC::ImmutableVariableAssignment, name_range);
        e_.put_decl_ref(variable);
        return;
      }
    } else {
      // A name of a loop window that is not open yet (a pattern in a `for`
      // loop's iterable) has no register reachable from here.
      if (found->window > e_.window_count()) return;
      e_.ensure_register(variable);
    }
    e_.emit_variable_store(name_range, *found, value);
  }

  // `1`, `"a"`, `true`, `nil`, `@limit`: an identity comparison.
  void literal(Register flag, const Pattern& pattern, Register value) {
    const SourceRange range = range_of(pattern);
    if (irrefutable_misuse(flag, range)) return;
    if (is_nil_literal(pattern)) {
      e_.instr<OpCode::Same>(range, R(flag), R(0), R(value));
      return;
    }
    const Register constant = e_.alloc_register();
    e_.emit_literal_constant(pattern, constant);
    e_.instr<OpCode::Same>(range, R(flag), R(constant), R(value));
  }

  void negation(Register flag, const NotPattern& negated, Register value) {
    const SourceRange range = range_of(negated);
    if (flag == 0) {
      e_.push(DC::UnnecessaryIrrefutablePattern, negated.op.range());
      if (negated.pattern != nullptr) emit(0, *negated.pattern, value);
      return;
    }
    if (negated.pattern == nullptr) {
      e_.op_bool(range, flag, false);
      return;
    }
    const Pattern& inner = *negated.pattern;
    if (is_nil_literal(inner)) {
      e_.instr<OpCode::Nsame>(range, R(flag), R(value), R(0));
    } else if (is_literal_or_constant(inner)) {
      const Register constant = e_.alloc_register();
      e_.emit_literal_constant(inner, constant);
      e_.instr<OpCode::Nsame>(range, R(flag), R(value), R(constant));
    } else {
      emit(flag, inner, value);
      e_.instr<OpCode::Not>(range, R(flag), R(flag));
    }
  }

  // `< 3`, `== @x`: a type guard, then the comparison for values of the
  // operand's type only.
  void relation(Register flag, const ComparisonPattern& relation, Register value) {
    const SourceRange range = range_of(relation);
    if (irrefutable_misuse(flag, range)) return;
    const TokenKind& op_kind = peeled_kind(*relation.op);
    if (op_kind.tag != TokenTag::Operator)
      throw InternalFailure("relation pattern without a relation operator");
    const Operator op = op_kind.op;
    const std::optional<OpCode> code = is_relation(op) ? binary_opcode(op) : std::nullopt;
    if (!code) throw InternalFailure("relation pattern without a relation operator");
    if (relation.operand == nullptr) throw InternalFailure("relation pattern without an operand");
    const Register constant = e_.alloc_register();
    if (std::optional<Constant> literal = e_.emit_literal_constant(*relation.operand, constant)) {
      const Constant::Tag tag = literal->tag;
      if (is_ordering(op) &&
          (tag == Constant::Tag::Nil || tag == Constant::Tag::True || tag == Constant::Tag::False))
        e_.push(DC::NonNumberOrStringInComparison, range_of(*relation.operand));
      e_.emit_literal_guard(flag, relation, value, *literal);
    } else {
      e_.emit_constant_guard(flag, relation, value, constant);
    }
    const SourceRange op_range = relation.op.range();
    e_.instr<OpCode::If>(op_range, R(flag));
    e_.instr_chosen(op_range, *code, R(flag), R(value), R(constant));
    e_.op_if_end(op_range);
  }

  // `a..b`, `a..<b`: numbers between the bounds.
  void interval(Register flag, const IntervalPattern& interval, Register value) {
    const SourceRange range = range_of(interval);
    if (irrefutable_misuse(flag, range)) return;
    if (interval.start == nullptr || interval.end == nullptr)
      throw InternalFailure("range pattern without both bounds");
    if (is_non_number_bound(*interval.start)) e_.push(DC::NonNumberInRange, range_of(*interval.start));
    if (is_non_number_bound(*interval.end)) e_.push(DC::NonNumberInRange, range_of(*interval.end));
    const Register low = e_.alloc_register();
    const Register high = e_.alloc_register();
    e_.instr<OpCode::IsNumber>(range, R(flag), R(value));
    e_.instr<OpCode::If>(range, R(flag));
    e_.emit_literal_constant(*interval.start, low);
    e_.emit_literal_constant(*interval.end, high);
    e_.instr<OpCode::Lte>(range, R(low), R(low), R(value));
    e_.instr_chosen(range, interval.exclusive() ? OpCode::Gt : OpCode::Gte, R(high), R(high), R(value));
    e_.instr<OpCode::And>(range, R(flag), R(low), R(high));
    e_.op_if_end(range);
  }

  // `and` / `or`: both sides always run (no short circuit). A chain of them
  // is walked with a loop: the innermost left side into `flag`, then each
  // right side innermost first into a flag of its own, combined into `flag`.
  void combination(Register flag, const Pattern& pattern, Register value) {
    std::vector<const Pattern*>& chain = e_.scratch_patterns;
    ScratchMark<const Pattern*> links(chain);
    const Pattern* node = &pattern;
    for (;;) {
      const PatternSides sides = combined_sides(*node);
      if (sides.left == nullptr || sides.right == nullptr)
        throw InternalFailure("combined pattern without both sides");
      chain.push_back(node);
      if (!is_combined(*sides.left)) {
        emit(flag, *sides.left, value);
        break;
      }
      node = sides.left;
    }
    while (links.holds()) {
      node = links.pop();
      const Pattern& right = *combined_sides(*node).right;
      if (flag == 0) {
        emit(0, right, value);
        continue;
      }
      const Register right_flag = e_.alloc_register();
      emit(right_flag, right, value);
      const bool is_and = node->kind == PatternKind::And;
      const SourceRange op_range =
          is_and ? node->as<AndPattern>().op.range() : node->as<OrPattern>().op.range();
      e_.instr_chosen(op_range, is_and ? OpCode::And : OpCode::Or, R(flag), R(right_flag), R(flag));
    }
  }

  void array(Register flag, const ArrayPattern& array, Register value) {
    const SourceRange range = range_of(array);
    const auto& elements = array.elements;
    std::size_t spread_at = elements.size();
    for (std::size_t n = 0; n < elements.size(); ++n) {
      if (!elements[n].item.is_spread()) continue;
      if (spread_at != elements.size()) throw InternalFailure("array pattern with two spread elements");
      spread_at = n;
    }
    const bool has_spread = spread_at != elements.size();
    const std::size_t before = spread_at;  // i: elements before the spread (all without one)
    const std::size_t after = has_spread ? elements.size() - spread_at - 1 : 0;  // k

    const Register test = flag != 0 ? flag : e_.alloc_register();
    e_.instr<OpCode::IsArray>(range, R(test), R(value));
    e_.instr<OpCode::If>(range, R(test));
    const Register sub = flag != 0 ? e_.alloc_register() : 0;

    auto element = [&](const ListItem<PatternElement>& item, OpParam index) {
      const SourceRange element_range = range_of(item.item);
      const Register reg = e_.alloc_register();
      e_.instr<OpCode::GetIndex>(element_range, R(reg), R(value), P(index));
      if (item.item.element != nullptr)
        emit(sub, *item.item.element, reg);
      else
        always(sub, array);
      if (sub != 0) e_.instr<OpCode::And>(element_range, R(test), R(test), R(sub));
    };
    for (std::size_t j = 0; j < before; ++j) element(elements[j], index_param(j));
    // After the spread: from the last element backward, counted from the end.
    for (std::size_t n = 1; n <= after; ++n) element(elements[elements.size() - n], -index_param(n));

    if (has_spread) {
      const PatternElement& spread = elements[spread_at].item;
      if (!is_discarding(spread.spread_value())) {
        const SourceRange spread_range = range_of(spread);
        const Register rest = e_.alloc_register();
        const OpParam i = index_param(before);
        const OpParam tail = -index_param(after + 1);
        if (before > 0 && after > 0) {
          e_.instr<OpCode::Slice>(spread_range, R(rest), R(value), P(i), P(tail));
        } else if (before > 0) {
          e_.instr<OpCode::SliceEnd>(spread_range, R(rest), R(value), P(i));
        } else if (after > 0) {
          e_.instr<OpCode::SliceStart>(spread_range, R(rest), R(value), P(tail));
        } else {
          e_.instr<OpCode::Assign>(spread_range, R(rest), R(value));
        }
        emit(sub, *spread.spread_value(), rest);
        if (sub != 0) e_.instr<OpCode::And>(spread_range, R(test), R(test), R(sub));
      }
    }

    e_.op_else(range);
    e_.emit_failed_pattern(array, kind_);
    e_.op_if_end(range);

    const bool lone_spread = has_spread && elements.size() == 1;
    if (flag != 0 && !lone_spread) {
      e_.instr<OpCode::If>(range, R(flag));
      const Register length = e_.alloc_register();
      const Register expected = e_.alloc_register();
      e_.instr<OpCode::Length>(range, R(length), R(value));
      e_.op_number(range, expected, static_cast<double>(before + after));
      e_.instr_chosen(range, has_spread ? OpCode::Gte : OpCode::Eq, R(flag), R(length), R(expected));
      e_.op_if_end(range);
    }
  }

  // The key of one record pattern element: a String key, or the position of
  // a positional element (read with HasIndex/GetIndex).
  struct RecordKey {
    bool valid = false;
    bool positional = false;
    std::string_view text;  // String key; for a positional element its decimal spelling (for Omit)
    OpParam index = 0;
  };

  RecordKey record_key(const PatternRecordElement& element, std::size_t position) {
    RecordKey key;
    switch (element.kind) {
      case RecordElementKind::Keyed: {
        auto name = peeled_kind(*element.key).to_field_name(e_.arena);
        if (!name) {
          e_.unreachable(*element.key, *element.key);
          return key;
        }
        e_.push_tag(name->first, element.key.range());
        key.valid = true;
        key.text = name->second;
        return key;
      }
      case RecordElementKind::OmittedKey: {
        // `: name` stands for `name: name`.
        const Pattern* value = element.value != nullptr ? &peel(*element.value) : nullptr;
        if (value == nullptr || value->kind != PatternKind::Binding) return key;  // reported by the parser
        const TokenRef& name = value->as<BindingPattern>().name;
        if (!is_identifier(name)) return key;
        if (e_.config.report_tags) e_.push_tag(DC::OmitNamedRecordField, range_of(element));
        e_.push_tag(DC::OmitNamedRecordFieldName, name.range());
        key.valid = true;
        key.text = identifier_text(name);
        return key;
      }
      case RecordElementKind::Positional:
        key.valid = true;
        key.positional = true;
        key.index = index_param(position);
        key.text = e_.arena.copy(std::to_string(position));
        return key;
      case RecordElementKind::ExpressionKeyed:  // interpolated names are rejected by the parser
      case RecordElementKind::Spread:           // read apart, after the keyed fields
        return key;
    }
    return key;
  }

  void record(Register flag, const RecordPattern& record, Register value) {
    const SourceRange range = range_of(record);
    const auto& elements = record.elements;
    if (elements.empty() && flag == 0) {
      e_.push(DC::UnnecessaryIrrefutablePattern, range);
      return;
    }
    const ListItem<PatternRecordElement>* spread = nullptr;
    for (const auto& item : elements) {
      if (item.item.kind == RecordElementKind::Spread && spread == nullptr) spread = &item;
    }
    Register count = 0;
    if (flag != 0) {
      e_.instr<OpCode::IsRecord>(range, R(flag), R(value));
      if (spread == nullptr) {
        count = e_.alloc_register();
        e_.op_number(range, count, static_cast<double>(elements.size()));
      }
      // Fields are read only from records.
      e_.instr<OpCode::If>(range, R(flag));
    }

    ScratchMark<std::string_view> keys(e_.scratch_texts);
    for (std::size_t position = 0; position < elements.size(); ++position) {
      const PatternRecordElement& element = elements[position].item;
      if (element.kind == RecordElementKind::Spread) continue;
      const SourceRange element_range = range_of(element);
      const RecordKey key = record_key(element, position);
      if (!key.valid) {
        if (element.value != nullptr) e_.emit_failed_pattern(*element.value, kind_);
        continue;
      }
      e_.scratch_texts.push_back(key.text);
      const Register sub = flag != 0 ? e_.alloc_register() : 0;
      const std::uint32_t constant =
          key.positional ? 0 : e_.chunk.add_constant(Constant::of_string(key.text));
      auto presence = [&](Register dst) {
        if (key.positional)
          e_.instr<OpCode::HasIndex>(element_range, R(dst), R(value), P(key.index));
        else
          e_.instr<OpCode::Has>(element_range, R(dst), R(value), P(constant_param(constant)));
      };
      const bool optional = element.optional();
      if (optional && count != 0) {
        // An absent optional field lowers the expected field count.
        const Register absent = e_.alloc_register();
        presence(absent);
        e_.instr<OpCode::Not>(element_range, R(absent), R(absent));
        e_.instr<OpCode::Sub>(element_range, R(count), R(count), R(absent));
      }
      const bool tested = !optional && flag != 0;
      if (tested) {
        presence(sub);
        e_.instr<OpCode::If>(element_range, R(sub));
      }
      const Register field = e_.alloc_register();
      if (key.positional)
        e_.instr<OpCode::GetIndex>(element_range, R(field), R(value), P(key.index));
      else
        e_.instr<OpCode::Get>(element_range, R(field), R(value), P(constant_param(constant)));
      if (element.value != nullptr)
        emit(sub, *element.value, field);
      else
        always(sub, record);
      if (tested) {
        e_.op_else(element_range);
        if (element.value != nullptr) e_.emit_failed_pattern(*element.value, kind_);
        e_.op_if_end(element_range);
      }
      if (flag != 0) e_.instr<OpCode::And>(element_range, R(flag), R(flag), R(sub));
    }

    if (spread != nullptr) {
      const SourceRange spread_range = range_of(spread->item);
      const Register rest = e_.alloc_register();
      e_.op_omit(spread_range, rest, value, keys.items());
      const Register sub = flag != 0 ? e_.alloc_register() : 0;
      if (spread->item.value != nullptr)
        emit(sub, *spread->item.value, rest);
      else
        always(sub, record);
      if (sub != 0) e_.instr<OpCode::And>(spread_range, R(flag), R(flag), R(sub));
    }
    keys.release();

    if (flag != 0) {
      e_.op_else(range);
      e_.emit_failed_pattern(record, kind_);
      e_.op_if_end(range);
    }
    if (flag != 0 && spread == nullptr) {
      e_.instr<OpCode::If>(range, R(flag));
      const Register length = e_.alloc_register();
      e_.instr<OpCode::Length>(range, R(length), R(value));
      e_.instr<OpCode::Eq>(range, R(flag), R(length), R(count));
      e_.op_if_end(range);
    }
  }

  Emitter& e_;
  VariableKind kind_;
};

namespace {

SourceRange match_case_range(const MatchCase& arm) {
  SourceRange range = arm.keyword.range();
  if (arm.body != nullptr) range.end = range_of(*arm.body).end;
  return range;
}

}  // namespace

void Emitter::emit_pattern(Register flag, const Pattern& pattern, Register value, VariableKind kind) {
  PatternEmitter(*this, kind).emit(flag, pattern, value);
}

// ------------------------------------------------------------ `is`, `match`

void Emitter::emit_is_pattern(const IsPatternExpression& expression, Register dst, LoopContext loop) {
  if (expression.value == nullptr || expression.pattern == nullptr)
    throw InternalFailure("pattern test without a value or a pattern");
  const Register value = emit_expression_reg(*expression.value, loop);
  // The test writes its flag before it is done reading the value, so the
  // flag must not be the register holding the value; with no destination
  // the result still needs a register (a test is never irrefutable).
  if (dst != 0 && dst != value) {
    emit_pattern(dst, *expression.pattern, value, VariableKind::PatternBinding);
    return;
  }
  const Register flag = alloc_register();
  emit_pattern(flag, *expression.pattern, value, VariableKind::PatternBinding);
  if (dst != 0) instr<OpCode::Assign>(range_of(expression), R(dst), R(flag));
}

void Emitter::emit_match(const MatchExpression& match, Register dst, LoopContext loop) {
  if (match.subject == nullptr) throw InternalFailure("match expression without a subject");
  const SourceRange range = range_of(match);
  Register subject = emit_expression_reg(*match.subject, loop);
  const Register matched = alloc_register();
  op_bool(range, matched, false);
  if (dst != 0) {
    // Clearing the result must not clear a subject read in place.
    if (subject == dst) {
      const Register copy = alloc_register();
      instr<OpCode::Assign>(range, R(copy), R(subject));
      subject = copy;
    }
    instr<OpCode::Assign>(range, R(dst), R(0));
  }
  if (match.cases.empty()) {
    push(DC::MatchExpressionHasNoCases, match.keyword.range());
    return;
  }
  for (const MatchCase& arm : match.cases) {
    const SourceRange arm_range = match_case_range(arm);
    const ScopeGuard scope(*this, arm_range);
    const bool functions = pre_pass_match_arm(arm);
    const BlockExpression* block = arm.body != nullptr && arm.body->kind == ExpressionKind::Block
                                       ? &arm.body->as<BlockExpression>()
                                       : nullptr;

    instr<OpCode::IfNot>(arm_range, R(matched));
    if (arm.pattern != nullptr) emit_pattern(matched, *arm.pattern, subject, VariableKind::PatternBinding);
    if (arm.guard.condition != nullptr) {
      const SourceRange guard_range = range_of(*arm.guard.condition);
      instr<OpCode::If>(guard_range, R(matched));
      emit_expression(*arm.guard.condition, matched, loop);
      op_if_end(guard_range);
    }
    const SourceRange body_range = arm.body != nullptr ? range_of(*arm.body) : arm_range;
    instr<OpCode::If>(body_range, R(matched));
    if (block != nullptr)
      emit_block(block->statements, block->expression, body_range.end, dst, loop, functions);
    else if (arm.body != nullptr)
      emit_expression(*arm.body, dst, loop);
    op_if_end(body_range);
    op_if_end(arm_range);
  }
}

}  // namespace quendal
