// The parser's memo table: entries chained per token (by its index in the
// store), replaced when stored again, and kept apart between tokens.
#include <gtest/gtest.h>

#include "parser/parser.h"

namespace quendal {
namespace {

MemoEntry entry(int value, std::uint32_t advance, std::uint16_t height = 0) {
  static int values[16];
  return MemoEntry{&values[value], advance, height};
}

TEST(MemoTable, EntriesAreKeptPerTokenAndRule) {
  Arena arena;
  MemoTable table(arena);
  const TokenIndex a = 0, b = 1;
  EXPECT_EQ(table.find({a, MemoRule::Block}), nullptr);
  table.insert({a, MemoRule::Block}, entry(1, 3, 2));
  table.insert({a, MemoRule::Array}, entry(2, 5));
  table.insert({b, MemoRule::Block}, MemoEntry{});  // a backtrack is remembered too
  ASSERT_NE(table.find({a, MemoRule::Block}), nullptr);
  EXPECT_EQ(table.find({a, MemoRule::Block})->value, entry(1, 0).value);
  EXPECT_EQ(table.find({a, MemoRule::Block})->advance, 3u);
  EXPECT_EQ(table.find({a, MemoRule::Block})->height, 2u);
  EXPECT_EQ(table.find({a, MemoRule::Array})->value, entry(2, 0).value);
  ASSERT_NE(table.find({b, MemoRule::Block}), nullptr);
  EXPECT_EQ(table.find({b, MemoRule::Block})->value, nullptr);
  EXPECT_EQ(table.find({b, MemoRule::Array}), nullptr);
  EXPECT_EQ(table.find({a, MemoRule::Match}), nullptr);
  EXPECT_EQ(table.size(), 3u);
}

TEST(MemoTable, StoringAgainReplacesTheEntry) {
  Arena arena;
  MemoTable table(arena);
  const TokenIndex a = 3;
  table.insert({a, MemoRule::If}, MemoEntry{});
  table.insert({a, MemoRule::If}, entry(4, 7, 1));
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.find({a, MemoRule::If})->value, entry(4, 0).value);
  EXPECT_EQ(table.find({a, MemoRule::If})->advance, 7u);
}

TEST(MemoTable, TokensFarApartKeepTheirOwnChains) {
  Arena arena;
  MemoTable table(arena);
  const TokenIndex near = 2, far = 1'000'000;
  table.insert({far, MemoRule::Block}, entry(1, 1));
  table.insert({near, MemoRule::Block}, entry(2, 2));
  table.insert({far, MemoRule::For}, entry(3, 3));
  EXPECT_EQ(table.find({far, MemoRule::Block})->value, entry(1, 0).value);
  EXPECT_EQ(table.find({near, MemoRule::Block})->value, entry(2, 0).value);
  EXPECT_EQ(table.find({far, MemoRule::For})->value, entry(3, 0).value);
  EXPECT_EQ(table.find({near, MemoRule::For}), nullptr);
  EXPECT_EQ(table.find({far + 1, MemoRule::Block}), nullptr);
  EXPECT_EQ(table.find({far * 2, MemoRule::Block}), nullptr);
}

}  // namespace
}  // namespace quendal
