// The compact tree's storage: 32-bit node and token references into the
// compilation's arena, and arena lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lexer/tokens.h"
#include "parser/ast.h"
#include "support/arena.h"
#include "support/arena_list.h"

namespace quendal {
namespace {

struct Node {
  static constexpr bool kReferenced = true;
  std::uint32_t value = 0;
  ArenaRef<Node> next;
};

class ArenaRefMany : public ::testing::TestWithParam<std::uint32_t> {};

// Far more than one reference block's worth; the larger count takes its
// later blocks from groups of blocks carved from one allocation.
TEST_P(ArenaRefMany, NodesOfManyBlocksResolveToThemselves) {
  const std::uint32_t count = GetParam();
  Arena arena;
  Tokens store;
  const UsingTokens using_tokens(store, arena);
  std::vector<Node*> made;
  ArenaRef<Node> previous;
  for (std::uint32_t i = 0; i < count; ++i) {
    Node* node = arena.make<Node>();
    node->value = i;
    node->next = previous;
    previous = node;
    made.push_back(node);
  }
  std::uint32_t expected = count;
  for (Node* node = previous; node != nullptr; node = node->next) {
    --expected;
    ASSERT_EQ(node, made[expected]);
    ASSERT_EQ(node->value, expected);
  }
  EXPECT_EQ(expected, 0u);
  EXPECT_EQ(ArenaRef<Node>().get(), nullptr);
  EXPECT_TRUE(ArenaRef<Node>(nullptr) == nullptr);
#ifndef QUENDAL_ARENA_SEPARATE_BLOCKS
  // What the arena holds counts the nodes, not the blocks reserved ahead.
  const std::size_t nodes = std::size_t{count} * sizeof(Node);
  EXPECT_GE(arena.held_bytes(), nodes);
  EXPECT_LT(arena.held_bytes(), nodes + nodes / 64 + 4096);
  EXPECT_GE(arena.reserved_bytes(), arena.held_bytes());
#endif
}

INSTANTIATE_TEST_SUITE_P(Counts, ArenaRefMany, ::testing::Values(50'000u, 1'500'000u));

TEST(ArenaRef, AnInnerUseOfTheSameArenaThatGrowsItLeavesTheOuterUseValid) {
  // Parsing sets the arena in use again inside a compilation that already
  // did; blocks added inside move the block table, and the outer use must
  // read the moved table afterwards.
  Arena arena;
  Tokens store;
  const UsingTokens outer(store, arena);
  Node* first = arena.make<Node>();
  first->value = 7;
  ArenaRef<Node> ref = first;
  std::vector<ArenaRef<Node>> inner_refs;
  {
    const UsingTokens inner(store, arena);
    for (int i = 0; i < 200'000; ++i) inner_refs.emplace_back(arena.make<Node>());
  }
  EXPECT_EQ(ref.get(), first);
  EXPECT_EQ(ref->value, 7u);
  for (const ArenaRef<Node>& r : inner_refs) ASSERT_NE(r.get(), nullptr);
  inner_refs.back()->value = 9;
  EXPECT_EQ(inner_refs.back()->value, 9u);
}

TEST(ArenaRef, ReferencesResolveInTheArenaInUse) {
  Arena a;
  Arena b;
  Tokens store;
  Node* in_a = a.make<Node>();
  in_a->value = 1;
  Node* in_b = b.make<Node>();
  in_b->value = 2;
  ArenaRef<Node> ref_a;
  ArenaRef<Node> ref_b;
  {
    const UsingTokens using_a(store, a);
    ref_a = in_a;
    EXPECT_EQ(ref_a.get(), in_a);
  }
  {
    const UsingTokens using_b(store, b);
    ref_b = in_b;
    EXPECT_EQ(ref_b->value, 2u);
  }
  const UsingTokens using_a(store, a);
  EXPECT_EQ(ref_a->value, 1u);
}

TEST(ArenaRef, TreeNodesAreSmall) {
  EXPECT_EQ(sizeof(ArenaRef<Expression>), 4u);
  EXPECT_EQ(sizeof(TokenRef), 4u);
  EXPECT_LE(sizeof(VariableExpression), 8u);
  EXPECT_LE(sizeof(BinaryExpression), 16u);
  EXPECT_LE(sizeof(GroupExpression), 16u);
  EXPECT_LE(sizeof(BindStatement), 28u);
  EXPECT_LE(sizeof(ListItem<ArgumentElement>), 12u);
}

TEST(TokenRef, BorrowedIndicesUseThirtyOneBitsAndOwnedTokensTheirArenaNumber) {
  EXPECT_EQ(TokenRef::borrowed(0).index(), 0u);
  EXPECT_EQ(TokenRef::borrowed(0x7FFFFFFEu).index(), 0x7FFFFFFEu);
  EXPECT_TRUE(TokenRef::borrowed(0).is_borrowed());
  EXPECT_FALSE(TokenRef::borrowed(0).is_null());

  Arena arena;
  Tokens store;
  const UsingTokens using_tokens(store, arena);
  std::vector<TokenRef> owned;
  for (std::uint32_t i = 0; i < 1000; ++i)
    owned.push_back(TokenRef::make_owned(arena, TokenKind::of_operator(Operator::Comma), i, i + 1));
  for (std::uint32_t i = 0; i < 1000; ++i) {
    ASSERT_TRUE(owned[i].is_owned());
    ASSERT_FALSE(owned[i].is_borrowed());
    EXPECT_EQ(owned[i].range(), (SourceRange{i, i + 1}));
  }
  owned[3].wrap_as_unknown(arena, DiagnosticCode::MissingComma);
  EXPECT_EQ(owned[3]->kind.tag, TokenTag::Unknown);
  EXPECT_EQ(owned[4]->kind.tag, TokenTag::Operator);
  EXPECT_THROW((void)TokenRef().get(), InternalFailure);
}

TEST(ArenaList, AFirstFillIsExactAndLaterAppendsGrowGeometrically) {
  Arena arena;
  ArenaList<std::uint32_t> list;
  const std::uint32_t three[] = {1, 2, 3};
  list.append(arena, three);
  EXPECT_EQ(list.size(), 3u);
  const std::size_t after_first = arena.held_bytes();
  // 5,000 appends of one item: linear in the final size (exact growth
  // would copy about 50 MB).
  for (std::uint32_t i = 0; i < 5'000; ++i) {
    const std::uint32_t one[] = {i};
    list.append(arena, one);
  }
  ASSERT_EQ(list.size(), 5'003u);
  EXPECT_EQ(list[0], 1u);
  EXPECT_EQ(list[2], 3u);
  EXPECT_EQ(list[3], 0u);
  EXPECT_EQ(list.back(), 4'999u);
  EXPECT_LT(arena.held_bytes() - after_first, std::size_t{8} * 5'003 * sizeof(std::uint32_t));
}

TEST(ArenaList, ExtendKeepsTheElementsAndGrowsToTheExactSize) {
  Arena arena;
  ArenaList<std::uint64_t> list;
  EXPECT_EQ(list.extend(arena, 0), list.end());
  EXPECT_TRUE(list.empty());
  std::uint64_t* first = list.extend(arena, 3);
  for (std::uint64_t i = 0; i < 3; ++i) first[i] = i + 1;
  const std::size_t held = arena.held_bytes();
  std::uint64_t* more = list.extend(arena, 2);
  more[0] = 40;
  more[1] = 50;
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(more, list.data() + 3);
  EXPECT_EQ(list[0], 1u);
  EXPECT_EQ(list[2], 3u);
  EXPECT_EQ(list.back(), 50u);
  // Room for exactly the five elements (no geometric reserve); sanitizer
  // builds give every allocation a block of its own, with its header.
#ifdef QUENDAL_ARENA_SEPARATE_BLOCKS
  EXPECT_GE(arena.held_bytes() - held, 5 * sizeof(std::uint64_t));
  EXPECT_LT(arena.held_bytes() - held, 5 * sizeof(std::uint64_t) + 64);
#else
  EXPECT_EQ(arena.held_bytes() - held, 5 * sizeof(std::uint64_t));
#endif
}

TEST(ArenaList, PushBackAssignAndCopiesShareStorageUntilReassigned) {
  Arena arena;
  ArenaList<int> list;
  for (int i = 0; i < 1000; ++i) list.push_back(arena, i);
  ASSERT_EQ(list.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(list[i], i);
  ArenaList<int> copy = list;
  copy = ArenaList<int>();
  copy.push_back(arena, -1);
  // A fresh list never writes into the storage of the one it replaced.
  EXPECT_EQ(list[0], 0);
  EXPECT_EQ(copy[0], -1);
  const int two[] = {5, 6};
  list.assign(arena, two);
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.front(), 5);
  list.pop_back();
  EXPECT_EQ(list.size(), 1u);
  list.clear();
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace quendal
