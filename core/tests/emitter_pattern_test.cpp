// Pattern emission on hand-built trees: the exact instructions of every
// pattern form with and without a flag register, the failure branch, the
// assignment mode, the diagnostics, and the module export step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emitter/emitter_struct.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using DC = DiagnosticCode;

// Renders the code section: "Op r1, 2" with registers as rN, pool operands
// as their constant (numbers in %g form, strings quoted, booleans as words).
std::vector<std::string> listing(const Chunk& chunk) {
  const auto& code = chunk.code();
  const auto& pool = chunk.constants();
  auto constant_text = [&](std::int64_t index) -> std::string {
    if (index < 0 || static_cast<std::size_t>(index) >= pool.size()) return "#?";
    const Constant& c = pool[static_cast<std::size_t>(index)];
    switch (c.tag) {
      case Constant::Tag::True:
        return "true";
      case Constant::Tag::False:
        return "false";
      case Constant::Tag::Number: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", c.number);
        return buffer;
      }
      case Constant::Tag::String:
        return "\"" + std::string(c.text) + "\"";
      default:
        return "?";
    }
  };
  auto pool_operand = [](std::string_view name, std::size_t position) {
    return (name == "Constant" && position == 1) || ((name == "Has" || name == "Get") && position == 2) ||
           ((name == "Field" || name == "FieldOpt") && position == 0) ||
           (name == "Module" && position == 1) || (name == "GetGlobal" && position == 1);
  };
  std::vector<std::string> out;
  std::size_t at = 8;
  while (at < code.size()) {
    const bool wide = (code[at] & 0x80) != 0;
    const auto op = static_cast<OpCode>(code[at] & 0x7F);
    ++at;
    const std::string_view name = opcode_name(op);
    const std::string_view layout = opcode_layout(op);
    auto read = [&](bool is_signed) -> std::int64_t {
      if (wide) {
        std::uint32_t v =
            code[at] | (code[at + 1] << 8) | (code[at + 2] << 16) | (std::uint32_t(code[at + 3]) << 24);
        at += 4;
        return is_signed ? static_cast<std::int32_t>(v) : v;
      }
      const std::uint8_t v = code[at++];
      return is_signed ? static_cast<std::int8_t>(v) : v;
    };
    std::string text(name);
    std::int64_t count = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
      text += i == 0 ? " " : ", ";
      const char letter = layout[i];
      if (letter == 'R') {
        text += "r" + std::to_string(read(false));
      } else if (letter == 'P') {
        count = read(true);
        if (i + 1 < layout.size() && (layout[i + 1] == 'L' || layout[i + 1] == 'M')) {
          text.resize(text.size() - 2);  // a list's count is implied by the list
          continue;
        }
        text += pool_operand(name, i) ? constant_text(count) : std::to_string(count);
      } else {
        text += "[";
        for (std::int64_t k = 0; k < count; ++k) {
          if (k > 0) text += ", ";
          const std::int64_t v = read(letter == 'M');
          text += letter == 'L' ? "r" + std::to_string(v)
                                : (name == "Omit" ? constant_text(v) : std::to_string(v));
        }
        text += "]";
      }
    }
    out.push_back(text);
  }
  return out;
}

// Builds trees over a synthetic source: each token gets a fresh, distinct
// two-byte range so diagnostics can be matched to nodes.
class Tree {
 public:
  explicit Tree(Arena& arena) : arena_(arena), using_tokens_(store_, arena) {}

  TokenRef token(TokenKind kind) {
    const TokenIndex index = store_.append(Token{kind, next_, next_ + 2});
    next_ += 3;
    return TokenRef::borrowed(index);
  }
  TokenRef ident(std::string_view name) { return token(TokenKind::identifier(name)); }
  TokenRef op(Operator o) { return token(TokenKind::of_operator(o)); }
  TokenRef kw(Keyword k) { return token(TokenKind::of_keyword(k)); }

  BindingPattern* bind(std::string_view name, bool mut = false) {
    auto* p = arena_.make<BindingPattern>();
    if (mut) p->mut = kw(Keyword::Mut);
    p->name = ident(name);
    return p;
  }
  DiscardPattern* discard() {
    auto* p = arena_.make<DiscardPattern>();
    p->token = kw(Keyword::Underscore);
    return p;
  }
  LiteralPattern* number(std::int32_t value, bool negative = false) {
    auto* p = arena_.make<LiteralPattern>();
    if (negative) p->sign = op(Operator::Minus);
    p->literal = token(TokenKind::of_ordinal(value));
    return p;
  }
  LiteralPattern* string(std::string_view value) {
    auto* p = arena_.make<LiteralPattern>();
    auto* info = arena_.make<StringInfo>();
    info->value = value;
    p->literal = token(TokenKind::of_string(info));
    return p;
  }
  LiteralPattern* keyword(Keyword k) {
    auto* p = arena_.make<LiteralPattern>();
    p->literal = kw(k);
    return p;
  }
  ConstantNamePattern* constant(std::string_view name) {
    auto* p = arena_.make<ConstantNamePattern>();
    p->name = ident(name);
    return p;
  }
  ComparisonPattern* relation(Operator o, Pattern* operand) {
    auto* p = arena_.make<ComparisonPattern>();
    p->op = op(o);
    p->operand = operand;
    return p;
  }
  IntervalPattern* interval(Pattern* start, Pattern* end, bool exclusive) {
    auto* p = arena_.make<IntervalPattern>();
    p->start = start;
    p->op = op(exclusive ? Operator::DotDotLt : Operator::DotDot);
    p->end = end;
    return p;
  }
  NotPattern* negate(Pattern* inner) {
    auto* p = arena_.make<NotPattern>();
    p->op = kw(Keyword::Not);
    p->pattern = inner;
    return p;
  }
  AndPattern* both(Pattern* left, Pattern* right) {
    auto* p = arena_.make<AndPattern>();
    p->left = left;
    p->op = kw(Keyword::And);
    p->right = right;
    return p;
  }
  OrPattern* either(Pattern* left, Pattern* right) {
    auto* p = arena_.make<OrPattern>();
    p->left = left;
    p->op = kw(Keyword::Or);
    p->right = right;
    return p;
  }
  GroupPattern* group(Pattern* inner) {
    auto* p = arena_.make<GroupPattern>();
    p->open = op(Operator::OpenParen);
    p->pattern = inner;
    p->close = op(Operator::CloseParen);
    return p;
  }
  OmittedPattern* omitted() {
    auto* p = arena_.make<OmittedPattern>();
    p->position = next_;
    return p;
  }

  // Elements; the one at `spread` (if any) is a spread element.
  ArrayPattern* array(std::initializer_list<Pattern*> elements, int spread = -1) {
    auto* p = arena_.make<ArrayPattern>();
    p->open = op(Operator::OpenBracket);
    int n = 0;
    for (Pattern* element : elements) {
      ListItem<PatternElement> item;
      if (n++ == spread) {
        item.item.set_spread(op(Operator::DotDot), element);
      } else {
        item.item.element = element;
      }
      p->elements.push_back(arena_, item);
    }
    p->close = op(Operator::CloseBracket);
    return p;
  }

  struct Field {
    enum class Kind { Keyed, Optional, OmittedKey, Positional, Spread } kind;
    TokenKind key;
    Pattern* value;
  };
  static Field keyed(std::string_view key, Pattern* value) {
    return {Field::Kind::Keyed, TokenKind::identifier(key), value};
  }
  static Field optional(std::string_view key, Pattern* value) {
    return {Field::Kind::Optional, TokenKind::identifier(key), value};
  }
  static Field ordinal_key(std::int32_t key, Pattern* value) {
    return {Field::Kind::Keyed, TokenKind::of_ordinal(key), value};
  }
  static Field omitted_key(Pattern* value) { return {Field::Kind::OmittedKey, {}, value}; }
  static Field positional(Pattern* value) { return {Field::Kind::Positional, {}, value}; }
  static Field rest(Pattern* value) { return {Field::Kind::Spread, {}, value}; }

  RecordPattern* record(std::initializer_list<Field> fields) {
    auto* p = arena_.make<RecordPattern>();
    p->open = op(Operator::OpenParen);
    for (const Field& f : fields) {
      ListItem<PatternRecordElement> item;
      PatternRecordElement& e = item.item;
      switch (f.kind) {
        case Field::Kind::Keyed:
        case Field::Kind::Optional:
          e.kind = RecordElementKind::Keyed;
          e.key = token(f.key);
          e.colon = op(f.kind == Field::Kind::Optional ? Operator::QuestionColon : Operator::Colon);
          break;
        case Field::Kind::OmittedKey:
          e.kind = RecordElementKind::OmittedKey;
          e.colon = op(Operator::Colon);
          break;
        case Field::Kind::Positional:
          e.kind = RecordElementKind::Positional;
          break;
        case Field::Kind::Spread:
          e.kind = RecordElementKind::Spread;
          e.spread = op(Operator::DotDot);
          break;
      }
      e.value = f.value;
      p->elements.push_back(arena_, item);
    }
    p->close = op(Operator::CloseParen);
    return p;
  }

  std::uint32_t end() const { return next_; }

 private:
  Arena& arena_;
  Tokens store_;
  UsingTokens using_tokens_;
  std::uint32_t next_ = 0;
};

// One emitter with the script's function window and scope open. The value
// under test is in register 1 (`value`).
class PatternTest : public ::testing::Test {
 protected:
  PatternTest() : source_(4096, ' '), tree_(arena_) {}

  void SetUp() override {
    config_.report_tags = true;
    emitter_ = std::make_unique<Emitter>(source_, config_, arena_);
    window_ = std::make_unique<Emitter::WindowGuard>(*emitter_, 0, true);
    scope_ = std::make_unique<Emitter::ScopeGuard>(*emitter_, SourceRange{0, 0});
    value_ = emitter_->alloc_register();
  }

  Emitter& e() { return *emitter_; }
  Tree& t() { return tree_; }

  // Declares the pattern's names (kind), allocates the flag when wanted,
  // emits, and returns the listing.
  std::vector<std::string> emit(Pattern* pattern, bool with_flag,
                                VariableKind kind = VariableKind::LetBinding) {
    if (kind != VariableKind::Assignment) e().declare_pattern(*pattern, kind, nullptr);
    const std::size_t first = e().records().size();
    const Register flag = with_flag ? e().alloc_register() : 0;
    flag_ = flag;
    e().emit_pattern(flag, *pattern, value_, kind);
    emitted_.assign(e().records().begin() + static_cast<std::ptrdiff_t>(first), e().records().end());
    return listing(e().chunk_view());
  }

  // Diagnostics pushed while emitting, without source map records.
  std::vector<SourceDiagnostic> emitted(bool with_tags = false) const {
    std::vector<SourceDiagnostic> out;
    for (const SourceDiagnostic& d : emitted_) {
      const auto n = to_number(d.code);
      if (d.code == DC::SourceMap) continue;
      if (!with_tags && n >= 10000 && n < 12000) continue;
      out.push_back(d);
    }
    return out;
  }

  static SourceDiagnostic at(DC code, SourceRange range) { return {range.start, range.end, code}; }

  std::string source_;
  CompileConfig config_;
  Arena arena_;
  Tree tree_;
  std::unique_ptr<Emitter> emitter_;
  // The script's function window and scope (held by pointer: a scope guard
  // may throw when it closes, which the fixture's destructor may not).
  std::unique_ptr<Emitter::WindowGuard> window_;
  std::unique_ptr<Emitter::ScopeGuard> scope_;
  Register value_ = 0;
  Register flag_ = 0;
  std::vector<SourceDiagnostic> emitted_;
};

using Lines = std::vector<std::string>;

// ------------------------------------------------------------ simple forms

TEST_F(PatternTest, BindingStoresTheValueAndAlwaysMatches) {
  // r1 value, r2 a, r3 flag
  EXPECT_EQ(emit(t().bind("a"), true), (Lines{"Constant r3, true", "Assign r2, r1"}));
  EXPECT_TRUE(emitted().empty());
}

TEST_F(PatternTest, BindingWithoutFlagOnlyStores) {
  EXPECT_EQ(emit(t().bind("a"), false), (Lines{"Assign r2, r1"}));
}

TEST_F(PatternTest, DiscardAndOmittedOnlySetTheFlag) {
  EXPECT_EQ(emit(t().discard(), true), (Lines{"Constant r2, true"}));
  EXPECT_EQ(emit(t().discard(), false), (Lines{"Constant r2, true"}));  // nothing added
  EXPECT_EQ(emit(t().omitted(), true), (Lines{"Constant r2, true", "Constant r3, true"}));
  EXPECT_TRUE(emitted().empty());
}

TEST_F(PatternTest, GroupEmitsItsInnerPattern) {
  EXPECT_EQ(emit(t().group(t().number(4)), true), (Lines{"Constant r3, 4", "Same r2, r3, r1"}));
}

struct LiteralCase {
  const char* name;
  Pattern* (*make)(Tree&);
  Lines expected;
};

class LiteralPatternTest : public PatternTest, public ::testing::WithParamInterface<LiteralCase> {};

TEST_P(LiteralPatternTest, ComparesByIdentity) {
  EXPECT_EQ(emit(GetParam().make(t()), true), GetParam().expected);
  EXPECT_TRUE(emitted().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LiteralPatternTest,
    ::testing::Values(
        LiteralCase{"integer",
                    [](Tree& t) -> Pattern* { return t.number(7); },
                    {"Constant r3, 7", "Same r2, r3, r1"}},
        LiteralCase{"negative",
                    [](Tree& t) -> Pattern* { return t.number(7, true); },
                    {"Constant r3, -7", "Same r2, r3, r1"}},
        LiteralCase{"string",
                    [](Tree& t) -> Pattern* { return t.string("hi"); },
                    {"Constant r3, \"hi\"", "Same r2, r3, r1"}},
        LiteralCase{"true",
                    [](Tree& t) -> Pattern* { return t.keyword(Keyword::True); },
                    {"Constant r3, true", "Same r2, r3, r1"}},
        LiteralCase{"inf",
                    [](Tree& t) -> Pattern* { return t.keyword(Keyword::Inf); },
                    {"Constant r3, inf", "Same r2, r3, r1"}},
        LiteralCase{"nil", [](Tree& t) -> Pattern* { return t.keyword(Keyword::Nil); }, {"Same r2, r0, r1"}},
        LiteralCase{"global constant",
                    [](Tree& t) -> Pattern* { return t.constant("@limit"); },
                    {"GetGlobal r3, \"@limit\"", "Same r2, r3, r1"}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name;
    });

TEST_F(PatternTest, RefutableFormsWithoutFlagWarnAndEmitNothing) {
  Pattern* literal = t().number(1);
  Pattern* relation = t().relation(Operator::Lt, t().number(3));
  Pattern* interval = t().interval(t().number(1), t().number(2), false);
  Pattern* empty = t().record({});
  for (Pattern* p : {literal, relation, interval, empty}) {
    EXPECT_EQ(emit(p, false), Lines{});
    EXPECT_EQ(emitted(), (std::vector{at(DC::UnnecessaryIrrefutablePattern, range_of(*p))}));
  }
}

// ------------------------------------------------------------ negation

TEST_F(PatternTest, NegatedLiteralsUseNsame) {
  EXPECT_EQ(emit(t().negate(t().keyword(Keyword::Nil)), true), (Lines{"Nsame r2, r1, r0"}));
}

TEST_F(PatternTest, NegatedConstantLoadsItFirst) {
  EXPECT_EQ(emit(t().negate(t().string("x")), true), (Lines{"Constant r3, \"x\"", "Nsame r2, r1, r3"}));
}

TEST_F(PatternTest, NegatedCompoundPatternNegatesTheFlag) {
  // not [a]: r2 a, r3 flag, r4 sub-flag, r5 element, r6/r7 length test
  EXPECT_EQ(emit(t().negate(t().array({t().bind("a")})), true),
            (Lines{"IsArray r3, r1", "If r3", "GetIndex r5, r1, 0", "Constant r4, true", "Assign r2, r5",
                   "And r3, r3, r4", "Else", "Assign r2, r0", "IfEnd", "If r3", "Length r6, r1",
                   "Constant r7, 1", "Eq r3, r6, r7", "IfEnd", "Not r3, r3"}));
}

TEST_F(PatternTest, NegationWithoutFlagWarnsOnTheOperator) {
  NotPattern* p = t().negate(t().bind("a"));
  EXPECT_EQ(emit(p, false), (Lines{"Assign r2, r1"}));
  EXPECT_EQ(emitted(), (std::vector{at(DC::UnnecessaryIrrefutablePattern, p->op.range())}));
}

// ------------------------------------------------------------ relations and ranges

TEST_F(PatternTest, RelationAgainstNumberIsGuardedByIsNumber) {
  EXPECT_EQ(emit(t().relation(Operator::GtEq, t().number(3)), true),
            (Lines{"Constant r3, 3", "IsNumber r2, r1", "If r2", "Gte r2, r1, r3", "IfEnd"}));
}

TEST_F(PatternTest, RelationGuardsFollowTheLiteralKind) {
  EXPECT_EQ(emit(t().relation(Operator::EqTilde, t().string("a")), true),
            (Lines{"Constant r3, \"a\"", "IsString r2, r1", "If r2", "Aeq r2, r1, r3", "IfEnd"}));
}

TEST_F(PatternTest, RelationAgainstNilUsesSameAsGuard) {
  EXPECT_EQ(emit(t().relation(Operator::ExclamationEq, t().keyword(Keyword::Nil)), true),
            (Lines{"Assign r3, r0", "Same r2, r0, r1", "If r2", "Neq r2, r1, r3", "IfEnd"}));
  EXPECT_TRUE(emitted().empty());  // equality against nil is fine
}

TEST_F(PatternTest, OrderingAgainstBooleanOrNilWarns) {
  Pattern* operand = t().keyword(Keyword::False);
  EXPECT_EQ(emit(t().relation(Operator::Lt, operand), true),
            (Lines{"Constant r3, false", "IsBoolean r2, r1", "If r2", "Lt r2, r1, r3", "IfEnd"}));
  EXPECT_EQ(emitted(), (std::vector{at(DC::NonNumberOrStringInComparison, range_of(*operand))}));
}

TEST_F(PatternTest, RelationAgainstConstantComparesTypes) {
  EXPECT_EQ(emit(t().relation(Operator::Lt, t().constant("@max")), true),
            (Lines{"GetGlobal r3, \"@max\"", "Type r4, r1", "Type r5, r3", "Same r2, r4, r5", "If r2",
                   "Lt r2, r1, r3", "IfEnd"}));
}

TEST_F(PatternTest, InclusiveAndExclusiveRanges) {
  EXPECT_EQ(emit(t().interval(t().number(1), t().number(5), false), true),
            (Lines{"IsNumber r2, r1", "If r2", "Constant r3, 1", "Constant r4, 5", "Lte r3, r3, r1",
                   "Gte r4, r4, r1", "And r2, r3, r4", "IfEnd"}));
}

TEST_F(PatternTest, ExclusiveRangeUsesGt) {
  const Lines lines = emit(t().interval(t().number(1), t().number(5), true), true);
  EXPECT_EQ(lines.at(5), "Gt r4, r4, r1");
}

TEST_F(PatternTest, NonNumericRangeBoundsWarn) {
  Pattern* low = t().string("a");
  Pattern* high = t().keyword(Keyword::Nan);
  emit(t().interval(low, high, false), true);
  EXPECT_EQ(emitted(), (std::vector{at(DC::NonNumberInRange, range_of(*low)),
                                    at(DC::NonNumberInRange, range_of(*high))}));
  emitted_.clear();
  emit(t().interval(t().number(1, true), t().keyword(Keyword::Inf), false), true);
  EXPECT_TRUE(emitted().empty());
}

// ------------------------------------------------------------ and / or

TEST_F(PatternTest, AndOrEvaluateBothSides) {
  EXPECT_EQ(emit(t().both(t().bind("a"), t().relation(Operator::Gt, t().number(0))), true),
            (Lines{"Constant r3, true", "Assign r2, r1", "Constant r5, 0", "IsNumber r4, r1", "If r4",
                   "Gt r4, r1, r5", "IfEnd", "And r3, r4, r3"}));
}

TEST_F(PatternTest, OrCombinesWithOr) {
  EXPECT_EQ(
      emit(t().either(t().number(1), t().number(2)), true),
      (Lines{"Constant r3, 1", "Same r2, r3, r1", "Constant r5, 2", "Same r4, r5, r1", "Or r2, r4, r2"}));
}

TEST_F(PatternTest, AndWithoutFlagEmitsBothUnflagged) {
  EXPECT_EQ(emit(t().both(t().bind("a"), t().bind("b")), false), (Lines{"Assign r2, r1", "Assign r3, r1"}));
}

// ------------------------------------------------------------ arrays

TEST_F(PatternTest, ArrayWithFlagTestsEveryElementAndTheLength) {
  // r2 a, r3 b, r4 flag, r5 sub-flag
  EXPECT_EQ(emit(t().array({t().bind("a"), t().bind("b")}), true),
            (Lines{"IsArray r4, r1", "If r4", "GetIndex r6, r1, 0", "Constant r5, true", "Assign r2, r6",
                   "And r4, r4, r5", "GetIndex r7, r1, 1", "Constant r5, true", "Assign r3, r7",
                   "And r4, r4, r5", "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd", "If r4",
                   "Length r8, r1", "Constant r9, 2", "Eq r4, r8, r9", "IfEnd"}));
}

TEST_F(PatternTest, IrrefutableArraySetsNamesToNilForNonArrays) {
  // r2 a, r3 b, r4 test register
  EXPECT_EQ(emit(t().array({t().bind("a"), t().bind("b")}), false),
            (Lines{"IsArray r4, r1", "If r4", "GetIndex r5, r1, 0", "Assign r2, r5", "GetIndex r6, r1, 1",
                   "Assign r3, r6", "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd"}));
}

TEST_F(PatternTest, RestAfterLeadingElementsTakesSliceEnd) {
  // [x, ..rest]: r2 x, r3 rest, r4 test
  EXPECT_EQ(emit(t().array({t().bind("x"), t().bind("rest")}, 1), false),
            (Lines{"IsArray r4, r1", "If r4", "GetIndex r5, r1, 0", "Assign r2, r5", "SliceEnd r6, r1, 1",
                   "Assign r3, r6", "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd"}));
}

TEST_F(PatternTest, RestBeforeTrailingElementsTakesSliceStart) {
  // [..rest, z]: r2 rest, r3 z
  EXPECT_EQ(emit(t().array({t().bind("rest"), t().bind("z")}, 0), false),
            (Lines{"IsArray r4, r1", "If r4", "GetIndex r5, r1, -1", "Assign r3, r5", "SliceStart r6, r1, -2",
                   "Assign r2, r6", "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd"}));
}

TEST_F(PatternTest, RestBetweenElementsSlicesBothEndsAndCountsFromTheEnd) {
  // [a, ..r, b, c]: trailing elements from the last backward
  const Lines lines = emit(t().array({t().bind("a"), t().bind("r"), t().bind("b"), t().bind("c")}, 1), true);
  // r2 a, r3 r, r4 b, r5 c, r6 flag, r7 sub
  EXPECT_EQ(lines, (Lines{"IsArray r6, r1",
                          "If r6",
                          "GetIndex r8, r1, 0",
                          "Constant r7, true",
                          "Assign r2, r8",
                          "And r6, r6, r7",
                          "GetIndex r9, r1, -1",
                          "Constant r7, true",
                          "Assign r5, r9",
                          "And r6, r6, r7",
                          "GetIndex r10, r1, -2",
                          "Constant r7, true",
                          "Assign r4, r10",
                          "And r6, r6, r7",
                          "Slice r11, r1, 1, -3",
                          "Constant r7, true",
                          "Assign r3, r11",
                          "And r6, r6, r7",
                          "Else",
                          "Assign r2, r0",
                          "Assign r3, r0",
                          "Assign r4, r0",
                          "Assign r5, r0",
                          "IfEnd",
                          "If r6",
                          "Length r12, r1",
                          "Constant r13, 3",
                          "Gte r6, r12, r13",
                          "IfEnd"}));
}

TEST_F(PatternTest, LoneRestCopiesTheArrayAndSkipsTheLengthTest) {
  EXPECT_EQ(emit(t().array({t().bind("all")}, 0), true),
            (Lines{"IsArray r3, r1", "If r3", "Assign r5, r1", "Constant r4, true", "Assign r2, r5",
                   "And r3, r3, r4", "Else", "Assign r2, r0", "IfEnd"}));
}

TEST_F(PatternTest, BareRestTakesNoSlice) {
  // [a, ..]: r2 a, r3 flag, r4 sub
  EXPECT_EQ(emit(t().array({t().bind("a"), t().omitted()}, 1), true),
            (Lines{"IsArray r3, r1", "If r3", "GetIndex r5, r1, 0", "Constant r4, true", "Assign r2, r5",
                   "And r3, r3, r4", "Else", "Assign r2, r0", "IfEnd", "If r3", "Length r6, r1",
                   "Constant r7, 1", "Gte r3, r6, r7", "IfEnd"}));
}

TEST_F(PatternTest, NestedArraysResetInnerNamesOnFailure) {
  // [[a], b] irrefutable: the outer Else resets both a and b
  const Lines lines = emit(t().array({t().array({t().bind("a")}), t().bind("b")}), false);
  const Lines tail(lines.end() - 4, lines.end());
  EXPECT_EQ(tail, (Lines{"Else", "Assign r2, r0", "Assign r3, r0", "IfEnd"}));
}

// ------------------------------------------------------------ records

TEST_F(PatternTest, RecordWithFlagChecksFieldsAndCount) {
  // (a: x, b?: y): r2 x, r3 y, r4 flag, r5 count
  const Lines lines =
      emit(t().record({Tree::keyed("a", t().bind("x")), Tree::optional("b", t().bind("y"))}), true);
  EXPECT_EQ(lines, (Lines{"IsRecord r4, r1", "Constant r5, 2", "If r4",
                          // a: required
                          "Has r6, r1, \"a\"", "If r6", "Get r7, r1, \"a\"", "Constant r6, true",
                          "Assign r2, r7", "Else", "Assign r2, r0", "IfEnd", "And r4, r4, r6",
                          // b?: optional, lowers the count when absent
                          "Has r9, r1, \"b\"", "Not r9, r9", "Sub r5, r5, r9", "Get r10, r1, \"b\"",
                          "Constant r8, true", "Assign r3, r10", "And r4, r4, r8",
                          // not a record: names become nil
                          "Else", "Assign r2, r0", "Assign r3, r0", "IfEnd",
                          // field count
                          "If r4", "Length r11, r1", "Eq r4, r11, r5", "IfEnd"}));
}

TEST_F(PatternTest, IrrefutableRecordOnlyReadsFields) {
  EXPECT_EQ(emit(t().record({Tree::keyed("a", t().bind("x")), Tree::optional("b", t().bind("y"))}), false),
            (Lines{"Get r4, r1, \"a\"", "Assign r2, r4", "Get r5, r1, \"b\"", "Assign r3, r5"}));
}

TEST_F(PatternTest, RecordRestOmitsTheListedKeys) {
  // (a: x, ..rest): r2 x, r3 rest, r4 flag; no count with a rest
  EXPECT_EQ(emit(t().record({Tree::keyed("a", t().bind("x")), Tree::rest(t().bind("rest"))}), true),
            (Lines{"IsRecord r4, r1", "If r4", "Has r5, r1, \"a\"", "If r5", "Get r6, r1, \"a\"",
                   "Constant r5, true", "Assign r2, r6", "Else", "Assign r2, r0", "IfEnd", "And r4, r4, r5",
                   "Omit r7, r1, [\"a\"]", "Constant r8, true", "Assign r3, r7", "And r4, r4, r8", "Else",
                   "Assign r2, r0", "Assign r3, r0", "IfEnd"}));
}

TEST_F(PatternTest, PositionalAndOrdinalKeys) {
  // (p, 1: q): positional element 0 by index, an ordinal key as its text
  EXPECT_EQ(emit(t().record({Tree::positional(t().bind("p")), Tree::ordinal_key(1, t().bind("q")),
                             Tree::rest(t().discard())}),
                 false),
            (Lines{"GetIndex r4, r1, 0", "Assign r2, r4", "Get r5, r1, \"1\"", "Assign r3, r5",
                   "Omit r6, r1, [\"0\", \"1\"]"}));
}

TEST_F(PatternTest, RecordKeysAreTagged) {
  BindingPattern* short_name = t().bind("name");
  RecordPattern* p = t().record({Tree::keyed("a", t().bind("x")), Tree::omitted_key(short_name)});
  EXPECT_EQ(emit(p, false),
            (Lines{"Get r4, r1, \"a\"", "Assign r2, r4", "Get r5, r1, \"name\"", "Assign r3, r5"}));
  const auto& omitted_element = p->elements[1].item;
  EXPECT_EQ(emitted(true), (std::vector{at(DC::RecordFieldIdName, p->elements[0].item.key.range()),
                                        at(DC::OmitNamedRecordField, range_of(omitted_element)),
                                        at(DC::OmitNamedRecordFieldName, short_name->name.range())}));
}

// ------------------------------------------------------------ binding kinds and windows

TEST_F(PatternTest, AssignmentWritesExistingMutableVariables) {
  Variable* a = e().declare_variable(*t().ident("a"), true, VariableKind::LetBinding);
  a->initialized = true;
  BindingPattern* target = t().bind("a");
  EXPECT_EQ(emit(t().array({target}), false, VariableKind::Assignment),
            (Lines{"IsArray r3, r1", "If r3", "GetIndex r4, r1, 0", "Assign r2, r4", "Else", "Assign r2, r0",
                   "IfEnd"}));
  // The write is a reference of `a`: it follows a's tag when the scope
  // closes (a write alone leaves `a` unused).
  // (A closed scope's variables are spare: their ranges are read first.)
  const SourceRange a_range = a->range;
  const std::size_t open = e().records().size();
  scope_->close();
  EXPECT_EQ(std::vector(e().records().begin() + static_cast<std::ptrdiff_t>(open), e().records().end()),
            (std::vector{at(DC::LocalMutable, a_range), at(DC::WriteLocal, target->name.range()),
                         at(DC::UnusedLocalVariable, a_range)}));
}

TEST_F(PatternTest, AssignmentToImmutableOrUnknownNamesIsAnError) {
  Variable* a = e().declare_variable(*t().ident("a"), false, VariableKind::ConstBinding);
  a->initialized = true;
  BindingPattern* constant = t().bind("a");
  BindingPattern* unknown = t().bind("nowhere");
  EXPECT_EQ(emit(t().both(constant, unknown), false, VariableKind::Assignment), Lines{});
  EXPECT_EQ(emitted(), (std::vector{at(DC::ImmutableVariableAssignment, constant->name.range()),
                                    at(DC::VariableDeclaredHere, a->range),
                                    at(DC::UndefinedVariableAssignment, unknown->name.range())}));
}

TEST_F(PatternTest, AssignmentToUninitialisedVariableStoresNothing) {
  e().declare_variable(*t().ident("a"), true, VariableKind::LetBinding);
  BindingPattern* target = t().bind("a");
  EXPECT_EQ(emit(target, false, VariableKind::Assignment), Lines{});
  EXPECT_EQ(emitted().at(0), at(DC::UninitializedVariable, target->name.range()));
}

TEST_F(PatternTest, VariablesOfAnOuterWindowAreWrittenAsUpvalues) {
  BindingPattern* outer = t().bind("a");
  e().declare_pattern(*outer, VariableKind::LetBinding, nullptr);  // r2 in the function window
  const Emitter::WindowGuard loop_body(e(), 0, false);
  const Emitter::ScopeGuard scope(e(), {0, 0});
  const Register value = e().alloc_register();  // r1 of the loop window
  e().emit_pattern(0, *t().array({t().bind("a")}), value, VariableKind::PatternBinding);
  EXPECT_EQ(listing(e().chunk_view()),
            (Lines{"IsArray r2, r1", "If r2", "GetIndex r3, r1, 0", "SetUpvalue r3, 1, r2", "Else",
                   "SetUpvalue r0, 1, r2", "IfEnd"}));
}

TEST_F(PatternTest, LoopVariableGetsItsRegisterWhenBound) {
  // A `for` scope declared before its window exists: register 0 until bound.
  const Emitter::ScopeGuard scope(e(), {0, 0}, e().window_count() + 1);
  BindingPattern* item = t().bind("item");
  e().declare_pattern(*item, VariableKind::PatternBinding, nullptr);
  const std::optional<FoundVariable> found = e().find_variable("item");
  ASSERT_TRUE(found.has_value());
  Variable* variable = found->variable;
  EXPECT_EQ(found->window, 2u);
  EXPECT_EQ(variable->reg, 0u);
  const Emitter::WindowGuard loop_body(e(), 0, false);
  const Register loop_value = e().alloc_register();
  e().emit_pattern(0, *item, loop_value, VariableKind::PatternBinding);
  EXPECT_EQ(variable->reg, 2u);
  EXPECT_TRUE(variable->initialized);
  EXPECT_EQ(listing(e().chunk_view()), (Lines{"Assign r2, r1"}));
}

// ------------------------------------------------------------ operands and guards

TEST_F(PatternTest, LiteralConstantReportsUntranslatableTokens) {
  auto* p = arena_.make<LiteralPattern>();
  p->literal = t().op(Operator::Plus);
  EXPECT_EQ(e().emit_literal_constant(*p, 5), std::nullopt);
  EXPECT_TRUE(listing(e().chunk_view()).empty());
  const auto& d = e().records();
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), at(DC::EmitterError, p->literal.range()));
}

TEST_F(PatternTest, LiteralConstantReturnsTheLoadedValue) {
  auto nil = e().emit_literal_constant(*t().keyword(Keyword::Nil), 4);
  ASSERT_TRUE(nil);
  EXPECT_EQ(nil->tag, Constant::Tag::Nil);
  auto negative = e().emit_literal_constant(*t().number(0, true), 5);
  ASSERT_TRUE(negative);
  EXPECT_TRUE(std::signbit(negative->number));  // -0 keeps its sign
  EXPECT_EQ(listing(e().chunk_view()), (Lines{"Assign r4, r0", "Constant r5, -0"}));
}

// ------------------------------------------------------------ module exports

TEST_F(PatternTest, PubOutsideAModuleBodyIsAnError) {
  TokenRef pub = t().kw(Keyword::Pub);
  TokenRef name = t().ident("x");
  e().declare_variable(*name, false, VariableKind::ConstBinding);
  e().declare_pub(nullptr, pub, name);
  EXPECT_EQ(e().records().back(), at(DC::UnexpectedPub, pub.range()));
  const std::size_t count = e().records().size();
  e().declare_pub(nullptr, TokenRef(), name);  // no marker: nothing
  EXPECT_EQ(e().records().size(), count);
}

TEST_F(PatternTest, ExportsAreCommittedAsFieldsOfTheModuleValue) {
  ModuleExportsData exports(&arena_);
  exports.name = t().ident("m");
  TokenRef pub_f = t().kw(Keyword::Pub);
  TokenRef f = t().ident("f");
  TokenRef pub_g = t().kw(Keyword::Pub);
  TokenRef g = t().ident("g");
  Variable* vf = e().declare_variable(*f, false, VariableKind::FnBinding);     // r2
  Variable* vg = e().declare_variable(*g, false, VariableKind::ConstBinding);  // r3
  e().declare_pub(&exports, pub_f, f);
  e().declare_pub(&exports, pub_g, g);
  e().emit_module_value(exports, "m", 7);
  EXPECT_EQ(listing(e().chunk_view()),
            (Lines{"Module r7, \"m\"", "Field \"f\", r2", "Field \"g\", r3", "Freeze"}));
  // Source map: the module name, each pub marker, the module name.
  std::vector<SourceDiagnostic> maps;
  for (const auto& d : e().records())
    if (d.code == DC::SourceMap) maps.push_back(d);
  EXPECT_EQ(maps, (std::vector{at(DC::SourceMap, exports.name.range()), at(DC::SourceMap, pub_f.range()),
                               at(DC::SourceMap, pub_g.range()), at(DC::SourceMap, exports.name.range())}));
  // Exported names count as used, and each tag is followed by its export
  // reference (over the module name) when the scope closes.
  const SourceRange f_range = vf->range;
  const SourceRange g_range = vg->range;
  const std::size_t open = e().records().size();
  scope_->close();
  EXPECT_EQ(std::vector(e().records().begin() + static_cast<std::ptrdiff_t>(open), e().records().end()),
            (std::vector{at(DC::LocalFunction, f_range), at(DC::ExportedLocal, exports.name.range()),
                         at(DC::LocalConst, g_range), at(DC::ExportedLocal, exports.name.range())}));
}

TEST_F(PatternTest, PubOfAMissingVariableIsAnInternalFailure) {
  ModuleExportsData exports(&arena_);
  exports.name = t().ident("m");
  try {
    e().declare_pub(&exports, t().kw(Keyword::Pub), t().ident("ghost"));
    FAIL() << "expected an internal failure";
  } catch (const InternalFailure& failure) {
    EXPECT_STREQ(failure.what(), "Variable 'ghost' not found in current scope when declaring pub");
  }
}

}  // namespace
}  // namespace quendal
