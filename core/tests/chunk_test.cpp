// Instruction encoding (short and wide forms, deferred operands), the
// constant pool and the serialised chunk layout.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "emitter/chunk.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using Bytes = std::vector<std::uint8_t>;

Operand R(std::int64_t v) { return {Operand::Kind::Register, v}; }
Operand P(std::int64_t v) { return {Operand::Kind::Param, v}; }

// The code written after the 8 reserved header bytes.
Bytes body(const Chunk& chunk) { return Bytes(chunk.code().begin() + 8, chunk.code().end()); }

Bytes le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::uint32_t read32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// ---------------------------------------------------------------------------
// Short and wide forms

struct EncodeCase {
  const char* name;
  OpCode op;
  std::vector<Operand> operands;
  Bytes expected;
};

const EncodeCase kEncodeCases[] = {
    {"three_registers", OpCode::Add, {R(1), R(2), R(3)}, {1, 1, 2, 3}},
    {"register_255_short", OpCode::Sub, {R(255), R(0), R(1)}, {2, 255, 0, 1}},
    {"register_256_wide", OpCode::Sub, {R(256), R(0), R(1)}, cat({{130}, le32(256), le32(0), le32(1)})},
    {"param_127_short", OpCode::Constant, {R(1), P(127)}, {38, 1, 127}},
    {"param_128_wide", OpCode::Constant, {R(1), P(128)}, cat({{166}, le32(1), le32(128)})},
    {"param_minus_128_short", OpCode::GetIndex, {R(2), R(3), P(-128)}, {68, 2, 3, 0x80}},
    {"param_minus_129_wide",
     OpCode::GetIndex,
     {R(2), R(3), P(-129)},
     cat({{196}, le32(2), le32(3), le32(static_cast<std::uint32_t>(-129))})},
    {"param_then_register", OpCode::Field, {P(5), R(7)}, {48, 5, 7}},
    {"slice_four_operands", OpCode::Slice, {R(1), R(2), P(0), P(-1)}, {72, 1, 2, 0, 0xff}},
    {"slice_wide",
     OpCode::Slice,
     {R(1), R(2), P(0), P(1000)},
     cat({{200}, le32(1), le32(2), le32(0), le32(1000)})},
    {"large_register_wide", OpCode::Return, {R(0xffffffff)}, cat({{224}, le32(0xffffffff)})},
    {"no_operands", OpCode::Freeze, {}, {62}},
    {"else", OpCode::Else, {}, {91}},
    {"if_end", OpCode::IfEnd, {}, {92}},
    {"concat_short", OpCode::Concat, {R(1), P(2), R(3), R(4)}, {23, 1, 2, 3, 4}},
    {"concat_empty", OpCode::Concat, {R(1), P(0)}, {23, 1, 0}},
    {"concat_list_element_wide",
     OpCode::Concat,
     {R(1), P(2), R(3), R(256)},
     cat({{151}, le32(1), le32(2), le32(3), le32(256)})},
    {"omit_short", OpCode::Omit, {R(1), R(2), P(2), P(0), P(127)}, {55, 1, 2, 2, 0, 127}},
    {"omit_list_element_wide",
     OpCode::Omit,
     {R(1), R(2), P(2), P(0), P(128)},
     cat({{183}, le32(1), le32(2), le32(2), le32(0), le32(128)})},
    {"call_short", OpCode::Call, {R(2), P(0), P(1), R(3), P(1), P(0)}, {97, 2, 0, 1, 3, 1, 0}},
    {"call_no_arguments", OpCode::Call, {R(2), P(4), P(0), P(0)}, {97, 2, 4, 0, 0}},
    {"call_spread_element_wide",
     OpCode::Call,
     {R(2), P(0), P(1), R(3), P(1), P(-129)},
     cat({{225}, le32(2), le32(0), le32(1), le32(3), le32(1), le32(static_cast<std::uint32_t>(-129))})},
    {"call_constant_wide",
     OpCode::Call,
     {R(2), P(128), P(0), P(0)},
     cat({{225}, le32(2), le32(128), le32(0), le32(0)})},
    {"call_dyn_short", OpCode::CallDyn, {R(1), R(2), P(2), R(3), R(4), P(0)}, {98, 1, 2, 2, 3, 4, 0}},
    {"call_dyn_argument_wide",
     OpCode::CallDyn,
     {R(1), R(2), P(1), R(300), P(0)},
     cat({{226}, le32(1), le32(2), le32(1), le32(300), le32(0)})},
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, WritesExpectedBytes) {
  const EncodeCase& c = GetParam();
  Chunk chunk;
  chunk.write(c.op, c.operands);
  EXPECT_EQ(body(chunk), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Chunk, EncodeTest, ::testing::ValuesIn(kEncodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A count operand past 127 makes the whole instruction wide even when every
// element of the list is small.
TEST(ChunkEncode, LongListCountGoesWide) {
  std::vector<Operand> ops = {R(1), P(128)};
  for (int i = 0; i < 128; ++i) ops.push_back(R(i + 2));
  Chunk chunk;
  chunk.write(OpCode::Concat, ops);
  Bytes b = body(chunk);
  ASSERT_EQ(b.size(), 1u + 4u * 130u);
  EXPECT_EQ(b[0], 23 + 0x80);
  EXPECT_EQ(read32(b, 5), 128u);
  EXPECT_EQ(read32(b, 1 + 4 * 129), 129u);

  ops = {R(1), P(127)};
  for (int i = 0; i < 127; ++i) ops.push_back(R(i + 2));
  Chunk short_chunk;
  short_chunk.write(OpCode::Concat, ops);
  EXPECT_EQ(body(short_chunk).size(), 1u + 129u);
  EXPECT_EQ(body(short_chunk)[0], 23);
}

TEST(ChunkEncode, InstructionsAppendInOrder) {
  Chunk chunk;
  const Operand ret[] = {R(0)};
  const Operand cst[] = {R(1), P(200)};
  chunk.write(OpCode::Return, ret);
  chunk.write(OpCode::Constant, cst);
  chunk.write(OpCode::Return, ret);
  EXPECT_EQ(body(chunk), cat({{96, 0, 166}, le32(1), le32(200), {96, 0}}));
}

// The typed writers produce exactly what the checked general writer does,
// on both sides of every short/wide boundary.
TEST(ChunkTypedWriter, MatchesTheGeneralWriter) {
  const RegisterOperand r[] = {{0}, {1}, {255}, {256}, {0xffffffff}};
  const ParamOperand p[] = {{0}, {127}, {128}, {-128}, {-129}, {std::numeric_limits<OpParam>::min()}};
  for (const RegisterOperand a : r) {
    for (const ParamOperand b : p) {
      Chunk typed, general;
      typed.put<OpCode::Constant>(a, b);
      typed.put<OpCode::GetIndex>(a, RegisterOperand{3}, b);
      typed.put<OpCode::Slice>(a, a, b, b);
      typed.put<OpCode::Freeze>();
      typed.put_chosen(OpCode::Add, a, a, RegisterOperand{7});
      typed.put<OpCode::Field>(b, a);
      const Operand constant[] = {a, b};
      const Operand get_index[] = {a, R(3), b};
      const Operand slice[] = {a, a, b, b};
      const Operand add[] = {a, a, R(7)};
      const Operand field[] = {b, a};
      general.write(OpCode::Constant, constant);
      general.write(OpCode::GetIndex, get_index);
      general.write(OpCode::Slice, slice);
      general.write(OpCode::Freeze, {});
      general.write(OpCode::Add, add);
      general.write(OpCode::Field, field);
      ASSERT_EQ(body(typed), body(general)) << a.value << " " << b.value;
    }
  }
}

// Code grows in steps without losing or zeroing what was written, and a
// deferred instruction's operands still land right after its opcode when
// the body after it is large.
TEST(ChunkTypedWriter, GrowsAndInsertsDeferredOperandsIntoALargeBody) {
  Chunk typed, general;
  const std::size_t at_typed = typed.begin_deferred(OpCode::Loop);
  const std::size_t at_general = general.begin_deferred(OpCode::Loop);
  for (std::uint32_t i = 0; i < 50'000; ++i) {
    const RegisterOperand dst{i % 300};
    const ParamOperand value{static_cast<OpParam>(i % 1000) - 500};
    typed.put<OpCode::Constant>(dst, value);
    const Operand ops[] = {dst, value};
    general.write(OpCode::Constant, ops);
  }
  typed.put<OpCode::LoopEnd>();
  general.write(OpCode::LoopEnd, {});
  const Operand loop[] = {P(300)};
  typed.finish_deferred(at_typed, loop);
  general.finish_deferred(at_general, loop);
  EXPECT_EQ(body(typed), body(general));
  const Bytes code = body(typed);
  EXPECT_EQ(code[0], static_cast<std::uint8_t>(OpCode::Loop) | 0x80);
  EXPECT_EQ(read32(code, 1), 300u);
}

// An operation chosen while emitting, and a counted list the emitter built,
// are checked against the operation's layout in the builds that check the
// emitter's work (debug, sanitizers).
TEST(ChunkTypedWriter, ChosenOperationWithAnotherLayoutIsAnInternalFailure) {
  if (!QUENDAL_CHECKED) GTEST_SKIP() << "release builds leave the check out";
  Chunk chunk;
  EXPECT_THROW(chunk.put_chosen(OpCode::Return, RegisterOperand{1}, RegisterOperand{2}), InternalFailure);
  EXPECT_THROW(chunk.put_chosen(OpCode::Loop, ParamOperand{1}), InternalFailure);
  const Operand short_list[] = {R(1), P(3), R(2)};
  EXPECT_THROW(chunk.write_list(OpCode::Concat, short_list), InternalFailure);
  EXPECT_EQ(chunk.code().size(), 8u);
}

struct MisuseCase {
  const char* name;
  OpCode op;
  std::vector<Operand> operands;
};

const MisuseCase kMisuseCases[] = {
    {"kind_mismatch", OpCode::Add, {R(1), P(2), R(3)}},
    {"too_few", OpCode::Add, {R(1), R(2)}},
    {"too_many", OpCode::Return, {R(1), R(2)}},
    {"list_shorter_than_count", OpCode::Concat, {R(1), P(3), R(2), R(3)}},
    {"list_longer_than_count", OpCode::Concat, {R(1), P(1), R(2), R(3)}},
    {"negative_count", OpCode::Concat, {R(1), P(-1)}},
    {"list_element_kind", OpCode::Omit, {R(1), R(2), P(1), R(3)}},
    {"spread_list_missing", OpCode::Call, {R(1), P(0), P(0), P(2)}},
    {"negative_register", OpCode::Return, {R(-1)}},
    {"register_too_large", OpCode::Return, {R(std::int64_t{1} << 32)}},
    {"param_too_large", OpCode::Constant, {R(1), P(std::int64_t{1} << 31)}},
    {"unfixed_layout", OpCode::Noop, {}},
    {"unfixed_layout_swap", OpCode::Swap, {R(1), R(2)}},
    {"deferred_through_write", OpCode::Loop, {P(1)}},
};

class MisuseTest : public ::testing::TestWithParam<MisuseCase> {};

TEST_P(MisuseTest, ThrowsInternalFailureAndWritesNothing) {
  const MisuseCase& c = GetParam();
  Chunk chunk;
  EXPECT_THROW(chunk.write(c.op, c.operands), InternalFailure);
  EXPECT_EQ(chunk.code().size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(Chunk, MisuseTest, ::testing::ValuesIn(kMisuseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Deferred operands

TEST(ChunkDeferred, EmptyFunctionShort) {
  Chunk chunk;
  std::size_t at = chunk.begin_deferred(OpCode::Func);
  EXPECT_EQ(at, 8u);
  const Operand ret[] = {R(0)};
  chunk.write(OpCode::Return, ret);
  chunk.write(OpCode::FuncEnd, {});
  const Operand func[] = {R(0), P(0), P(0)};
  chunk.finish_deferred(at, func);
  EXPECT_EQ(body(chunk), (Bytes{93, 0, 0, 0, 96, 0, 95}));
}

TEST(ChunkDeferred, LoopWithManyRegistersGoesWide) {
  Chunk chunk;
  std::size_t at = chunk.begin_deferred(OpCode::Loop);
  chunk.write(OpCode::Break, {});
  chunk.write(OpCode::LoopEnd, {});
  const Operand loop[] = {P(200)};
  chunk.finish_deferred(at, loop);
  EXPECT_EQ(body(chunk), (Bytes{206, 200, 0, 0, 0, 83, 82}));
}

TEST(ChunkDeferred, LoopShortIsOneByte) {
  Chunk chunk;
  std::size_t at = chunk.begin_deferred(OpCode::Loop);
  chunk.write(OpCode::LoopEnd, {});
  const Operand loop[] = {P(127)};
  chunk.finish_deferred(at, loop);
  EXPECT_EQ(body(chunk), (Bytes{78, 127, 82}));
}

TEST(ChunkDeferred, ThreeOperandFormsShortAndWide) {
  Chunk chunk;
  std::size_t range = chunk.begin_deferred(OpCode::LoopRange);
  chunk.write(OpCode::LoopEnd, {});
  const Operand short_ops[] = {P(3), R(1), R(2)};
  chunk.finish_deferred(range, short_ops);
  std::size_t each = chunk.begin_deferred(OpCode::LoopFor);
  chunk.write(OpCode::LoopEnd, {});
  const Operand wide_ops[] = {P(3), R(256), R(0)};
  chunk.finish_deferred(each, wide_ops);
  EXPECT_EQ(body(chunk), cat({{80, 3, 1, 2, 82, 79 + 128}, le32(3), le32(256), le32(0), {82}}));
}

// Inner bodies finish first; the outer placeholder keeps its position and
// the inner instruction moves along with the body when the outer operands
// go wide.
TEST(ChunkDeferred, NestedBodies) {
  Chunk chunk;
  std::size_t outer = chunk.begin_deferred(OpCode::FuncVarg);
  std::size_t inner = chunk.begin_deferred(OpCode::LoopRangeExclusive);
  EXPECT_GT(inner, outer);
  const Operand ret[] = {R(4)};
  chunk.write(OpCode::Return, ret);
  chunk.write(OpCode::LoopEnd, {});
  const Operand inner_ops[] = {P(1000), R(1), R(2)};
  chunk.finish_deferred(inner, inner_ops);
  chunk.write(OpCode::FuncEnd, {});
  const Operand outer_ops[] = {R(5), P(2), P(9)};
  chunk.finish_deferred(outer, outer_ops);
  EXPECT_EQ(body(chunk), cat({{94, 5, 2, 9, 81 + 128}, le32(1000), le32(1), le32(2), {96, 4, 82, 95}}));
}

TEST(ChunkDeferred, WideOuterMovesAFinishedInnerBody) {
  Chunk chunk;
  std::size_t outer = chunk.begin_deferred(OpCode::Func);
  std::size_t inner = chunk.begin_deferred(OpCode::Loop);
  const Operand ret[] = {R(4)};
  chunk.write(OpCode::Return, ret);
  chunk.write(OpCode::LoopEnd, {});
  const Operand inner_ops[] = {P(7)};
  chunk.finish_deferred(inner, inner_ops);
  chunk.write(OpCode::FuncEnd, {});
  const Operand outer_ops[] = {R(1), P(2), P(70000)};
  chunk.finish_deferred(outer, outer_ops);
  EXPECT_EQ(body(chunk), cat({{93 + 128}, le32(1), le32(2), le32(70000), {78, 7, 96, 4, 82, 95}}));
}

TEST(ChunkDeferred, Misuse) {
  Chunk chunk;
  EXPECT_THROW(chunk.begin_deferred(OpCode::Add), InternalFailure);
  std::size_t at = chunk.begin_deferred(OpCode::Func);
  const Operand wrong[] = {P(1)};
  EXPECT_THROW(chunk.finish_deferred(at, wrong), InternalFailure);
  const Operand ops[] = {R(0), P(0), P(0)};
  EXPECT_THROW(chunk.finish_deferred(0, ops), InternalFailure);
  EXPECT_THROW(chunk.finish_deferred(at + 1, ops), InternalFailure);
  const Operand wide_ops[] = {R(0), P(0), P(300)};
  chunk.finish_deferred(at, wide_ops);
  // The placeholder is now a wide Func: finishing it again is a fault.
  EXPECT_THROW(chunk.finish_deferred(at, ops), InternalFailure);
}

// ---------------------------------------------------------------------------
// Constant pool

double nan_with_payload(std::uint64_t payload) {
  std::uint64_t bits = 0x7ff8000000000000ull | payload;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

Constant integer(std::int32_t v) { return {Constant::Tag::Integer, v, 0, {}}; }

// A name's string constant found by its symbol is the entry its text has,
// whichever way the text came first, and symbols far apart grow the table.
TEST(ChunkConstants, NameConstantsShareTheEntryOfTheirText) {
  Chunk chunk;
  EXPECT_EQ(chunk.add_constant(Constant::of_string("x")), 0u);
  EXPECT_EQ(chunk.add_name_constant("y", 3), 1u);
  EXPECT_EQ(chunk.add_name_constant("x", 7), 0u);
  EXPECT_EQ(chunk.add_name_constant("x", 7), 0u);
  EXPECT_EQ(chunk.add_constant(Constant::of_string("y")), 1u);
  EXPECT_EQ(chunk.add_name_constant("z", 100000), 2u);
  EXPECT_EQ(chunk.add_name_constant("y", 3), 1u);
  EXPECT_EQ(chunk.add_name_constant("w", 0xFFFFFFFFu), 3u);  // no symbol
  EXPECT_EQ(chunk.add_constant(Constant::of_string("w")), 3u);
  // A new chunk after the first is taken knows no names.
  (void)chunk.take_serialized();
  EXPECT_EQ(chunk.add_constant(Constant::of_string("q")), 0u);
  EXPECT_EQ(chunk.add_name_constant("x", 7), 1u);
}

TEST(ChunkConstants, DeduplicatesPerTag) {
  Chunk chunk;
  std::string a1 = "a", a2 = "a";  // distinct storage, same bytes
  EXPECT_EQ(chunk.add_constant(Constant::of_string(a1)), 0u);
  EXPECT_EQ(chunk.add_constant(Constant::of_string(a2)), 0u);
  EXPECT_EQ(chunk.add_constant(Constant::of_number(0.0)), 1u);
  EXPECT_EQ(chunk.add_constant(Constant::of_number(-0.0)), 2u);
  EXPECT_EQ(chunk.add_constant(Constant::of_number(0.0)), 1u);
  EXPECT_EQ(chunk.add_constant(Constant::of_number(nan_with_payload(0))), 3u);
  EXPECT_EQ(chunk.add_constant(Constant::of_number(nan_with_payload(0))), 3u);
  EXPECT_EQ(chunk.add_constant(Constant::of_number(nan_with_payload(1))), 4u);
  EXPECT_EQ(chunk.add_constant(integer(0)), 5u);  // not the number 0
  EXPECT_EQ(chunk.add_constant(integer(0)), 5u);
  EXPECT_EQ(chunk.add_constant(Constant::boolean(true)), 6u);
  EXPECT_EQ(chunk.add_constant(Constant::boolean(false)), 7u);
  EXPECT_EQ(chunk.add_constant(Constant::boolean(true)), 6u);
  EXPECT_EQ(chunk.add_constant(Constant::nil()), 8u);
  EXPECT_EQ(chunk.add_constant(Constant::of_string("")), 9u);
  EXPECT_EQ(chunk.add_constant(Constant::of_string("ab")), 10u);
  EXPECT_EQ(chunk.add_constant(Constant::of_string(std::string_view("a\0b", 3))), 11u);
  EXPECT_EQ(chunk.add_constant(Constant::of_string(std::string_view("ab", 2))), 10u);
  EXPECT_EQ(chunk.constants().size(), 12u);
}

// Payload fields that do not belong to the tag take no part in equality.
TEST(ChunkConstants, IgnoresForeignPayload) {
  Chunk chunk;
  Constant s = Constant::of_string("x");
  Constant s_noise = s;
  s_noise.number = 4.5;
  s_noise.integer = 9;
  Constant t = Constant::boolean(true);
  Constant t_noise = t;
  t_noise.text = "junk";
  EXPECT_EQ(chunk.add_constant(s), chunk.add_constant(s_noise));
  EXPECT_EQ(chunk.add_constant(t), chunk.add_constant(t_noise));
  EXPECT_EQ(chunk.constants().size(), 2u);
}

// Small whole numbers are found by value; everything next to them (-0.0,
// fractions, 256, integers) stays a constant of its own, and a pool emptied
// by take_serialized forgets them.
TEST(ChunkConstants, SmallWholeNumbersAndTheirNeighbours) {
  Chunk chunk;
  const std::vector<Constant> order = {Constant::of_number(0.0),   Constant::of_number(-0.0),
                                       Constant::of_number(1.0),   integer(1),
                                       Constant::of_number(255.0), Constant::of_number(256.0),
                                       Constant::of_number(0.5),   Constant::of_number(255.5),
                                       Constant::of_string("1")};
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(chunk.add_constant(order[i]), i) << i;
    for (std::size_t i = order.size(); i-- > 0;) EXPECT_EQ(chunk.add_constant(order[i]), i) << i;
    EXPECT_EQ(chunk.constants().size(), order.size());
    chunk.take_serialized();
    EXPECT_TRUE(chunk.constants().empty());
  }
}

// The pool hands out exactly the indices a first-match linear scan gives.
TEST(ChunkConstants, MatchesLinearScan) {
  std::mt19937 rng(1234);
  std::vector<std::string> texts;
  for (int i = 0; i < 40; ++i) texts.push_back(std::string(i % 5, 'q') + std::to_string(i % 17));
  Chunk chunk;
  std::vector<Constant> model;
  for (int i = 0; i < 5000; ++i) {
    Constant c;
    switch (rng() % 6) {
      case 0:
        c = Constant::of_string(texts[rng() % texts.size()]);
        break;
      case 1:
        c = Constant::of_number(static_cast<double>(static_cast<int>(rng() % 50) - 25) / 4);
        break;
      case 2:
        c = Constant::of_number(rng() % 2 ? -0.0 : nan_with_payload(rng() % 3));
        break;
      case 3:
        c = integer(static_cast<std::int32_t>(rng() % 30));
        break;
      case 4:
        c = Constant::boolean(rng() % 2);
        break;
      default:
        c = Constant::of_number(static_cast<double>(rng() % 30));
        break;
    }
    std::uint32_t expected = 0;
    while (expected < model.size() && !(model[expected] == c)) ++expected;
    if (expected == model.size()) model.push_back(c);
    ASSERT_EQ(chunk.add_constant(c), expected) << "step " << i;
  }
  ASSERT_EQ(chunk.constants().size(), model.size());
}

// ---------------------------------------------------------------------------
// Serialisation

TEST(ChunkSerialize, EmptyScriptShape) {
  Chunk chunk;
  std::size_t at = chunk.begin_deferred(OpCode::Func);
  const Operand ret[] = {R(0)};
  chunk.write(OpCode::Return, ret);
  chunk.write(OpCode::FuncEnd, {});
  const Operand func[] = {R(0), P(0), P(0)};
  chunk.finish_deferred(at, func);
  Bytes bytes = chunk.serialize();
  EXPECT_EQ(bytes, cat({le32(15), le32(7), {93, 0, 0, 0, 96, 0, 95}, le32(0)}));
  EXPECT_EQ(bytes.size(), 19u);
  // Serialising leaves the header bytes of the code untouched.
  EXPECT_EQ(Bytes(chunk.code().begin(), chunk.code().begin() + 8), Bytes(8, 0));
  EXPECT_EQ(chunk.take_serialized(), bytes);
}

TEST(ChunkSerialize, EveryConstantTag) {
  Chunk chunk;
  chunk.add_constant(Constant::nil());
  chunk.add_constant(Constant::boolean(true));
  chunk.add_constant(Constant::boolean(false));
  chunk.add_constant(integer(-2));
  chunk.add_constant(Constant::of_number(1.0));
  chunk.add_constant(Constant::of_string("h\xc3\xa9"));
  chunk.add_constant(Constant::of_string(""));
  Bytes constants = cat({{0, 1, 2, 3},
                         le32(0xfffffffe),
                         {4, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f},
                         {5},
                         le32(3),
                         {'h', 0xc3, 0xa9},
                         {5},
                         le32(0)});
  Bytes expected = cat({le32(static_cast<std::uint32_t>(12 + constants.size() - 4)), le32(0),
                        le32(constants.size()), constants});
  EXPECT_EQ(chunk.serialize(), expected);
}

// Header fields agree with the layout for chunks of any size and shape.
TEST(ChunkSerialize, HeaderInvariants) {
  std::mt19937 rng(99);
  for (int round = 0; round < 30; ++round) {
    Chunk chunk;
    std::vector<std::string> texts;
    int instructions = static_cast<int>(rng() % 400);
    for (int i = 0; i < instructions; ++i) {
      const Operand ops[] = {R(rng() % 600), P(static_cast<int>(rng() % 600) - 300)};
      chunk.write(OpCode::Constant, ops);
    }
    int constants = static_cast<int>(rng() % 300);
    for (int i = 0; i < constants; ++i) {
      if (rng() % 2) {
        chunk.add_constant(Constant::of_number(static_cast<double>(rng() % 100)));
      } else {
        texts.push_back(std::string(rng() % 20, 'z'));
      }
    }
    for (const std::string& t : texts) chunk.add_constant(Constant::of_string(t));
    Bytes bytes = chunk.serialize();
    std::uint32_t n = read32(bytes, 4);
    ASSERT_EQ(read32(bytes, 0), bytes.size() - 4);
    ASSERT_EQ(n, chunk.code().size() - 8);
    std::uint32_t m = read32(bytes, 8 + n);
    ASSERT_EQ(n + 12 + m, bytes.size());
    ASSERT_TRUE(std::equal(chunk.code().begin() + 8, chunk.code().end(), bytes.begin() + 8));
    ASSERT_EQ(chunk.take_serialized(), bytes);
  }
}

TEST(OpCodeTable, NamesAndLayouts) {
  EXPECT_EQ(opcode_name(OpCode::Noop), "Noop");
  EXPECT_EQ(opcode_name(OpCode::CallDyn), "CallDyn");
  EXPECT_EQ(static_cast<int>(OpCode::CallDyn), kOpCodeCount - 1);
  EXPECT_EQ(opcode_layout(OpCode::Call), "RPPLPM");
  EXPECT_EQ(opcode_layout(OpCode::Freeze), "");
  EXPECT_EQ(opcode_layout(OpCode::HasDyn), "-");
}

}  // namespace
}  // namespace quendal
