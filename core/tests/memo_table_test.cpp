// The parser's memo table: entries chained per token, look-ups through the
// number a token carries, and tokens whose number came from another token or
// another table.
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
  Token a, b;
  EXPECT_EQ(table.find({&a, MemoRule::Block}), nullptr);
  table.insert({&a, MemoRule::Block}, entry(1, 3, 2));
  table.insert({&a, MemoRule::Array}, entry(2, 5));
  table.insert({&b, MemoRule::Block}, MemoEntry{});  // a backtrack is remembered too
  ASSERT_NE(table.find({&a, MemoRule::Block}), nullptr);
  EXPECT_EQ(table.find({&a, MemoRule::Block})->value, entry(1, 0).value);
  EXPECT_EQ(table.find({&a, MemoRule::Block})->advance, 3u);
  EXPECT_EQ(table.find({&a, MemoRule::Block})->height, 2u);
  EXPECT_EQ(table.find({&a, MemoRule::Array})->value, entry(2, 0).value);
  ASSERT_NE(table.find({&b, MemoRule::Block}), nullptr);
  EXPECT_EQ(table.find({&b, MemoRule::Block})->value, nullptr);
  EXPECT_EQ(table.find({&b, MemoRule::Array}), nullptr);
  EXPECT_EQ(table.find({&a, MemoRule::Match}), nullptr);
  EXPECT_EQ(table.size(), 3u);
}

TEST(MemoTable, StoringAgainReplacesTheEntry) {
  Arena arena;
  MemoTable table(arena);
  Token a;
  table.insert({&a, MemoRule::If}, MemoEntry{});
  table.insert({&a, MemoRule::If}, entry(4, 7, 1));
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.find({&a, MemoRule::If})->value, entry(4, 0).value);
  EXPECT_EQ(table.find({&a, MemoRule::If})->advance, 7u);
}

TEST(MemoTable, ACopiedTokenDoesNotSeeItsOriginalsEntries) {
  Arena arena;
  MemoTable table(arena);
  Token a;
  table.insert({&a, MemoRule::Block}, entry(1, 1));
  table.insert({&a, MemoRule::For}, entry(2, 2));
  Token copy = a;  // carries a's entry number along
  EXPECT_EQ(table.find({&copy, MemoRule::Block}), nullptr);
  EXPECT_EQ(table.find({&copy, MemoRule::For}), nullptr);
  table.insert({&copy, MemoRule::Block}, entry(3, 4));
  EXPECT_EQ(table.find({&copy, MemoRule::Block})->value, entry(3, 0).value);
  EXPECT_EQ(table.find({&copy, MemoRule::For}), nullptr);
  EXPECT_EQ(table.find({&a, MemoRule::Block})->value, entry(1, 0).value);
  EXPECT_EQ(table.find({&a, MemoRule::For})->value, entry(2, 0).value);
}

TEST(MemoTable, ANumberFromALargerTableIsNoEntry) {
  Arena arena;
  MemoTable big(arena), small(arena);
  Token tokens[8];
  for (Token& t : tokens) big.insert({&t, MemoRule::Json}, entry(5, 1));
  // The last token now carries number 8, beyond everything `small` holds.
  EXPECT_EQ(small.find({&tokens[7], MemoRule::Json}), nullptr);
  small.insert({&tokens[7], MemoRule::Json}, entry(6, 2));
  EXPECT_EQ(small.find({&tokens[7], MemoRule::Json})->value, entry(6, 0).value);
  EXPECT_EQ(small.size(), 1u);
}

TEST(MemoTable, StaleNumbersCannotChainEntriesIntoALoop) {
  // A token first stored while carrying a number from a larger table, then
  // stored again once this table has grown past that number: walking its
  // chain for a missing rule must end.
  Arena arena;
  MemoTable big(arena), table(arena);
  Token tokens[8];
  for (Token& t : tokens) big.insert({&t, MemoRule::Json}, entry(5, 1));
  Token& shared = tokens[7];  // carries number 8 from `big`
  table.insert({&shared, MemoRule::Json}, entry(1, 1));
  Token others[6];
  for (Token& t : others) table.insert({&t, MemoRule::Block}, entry(2, 1));
  table.insert({&shared, MemoRule::Array}, entry(3, 1));  // entry number 8
  EXPECT_EQ(table.find({&shared, MemoRule::Match}), nullptr);
  EXPECT_EQ(table.find({&shared, MemoRule::Json})->value, entry(1, 0).value);
  EXPECT_EQ(table.find({&shared, MemoRule::Array})->value, entry(3, 0).value);
  table.insert({&shared, MemoRule::If}, MemoEntry{});
  EXPECT_EQ(table.size(), 9u);
}

}  // namespace
}  // namespace quendal
