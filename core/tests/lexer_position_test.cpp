// A text lexes the same wherever it lies. Tokens that start well before the
// end of the input are read by the main loop, which leans on bytes after
// them (it reads words of 8 bytes and runs names and digits up to the next
// byte that ends them); the last bytes of the input go one token at a time.
// Every snippet here is lexed at the end of the input and then with 1 to 16
// blanks after it, so that each of its tokens meets the change of reader at
// every distance.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "lexer_test_support.h"

namespace quendal {
namespace {

using testing::lex_print;

// The printed tokens with ranges, Eof left out.
std::string tokens_before_eof(std::string_view source, bool tmpl = false) {
  const std::string printed = lex_print(source, true, tmpl);
  const std::size_t eof = printed.rfind("Eof@");
  return eof == std::string::npos ? printed : printed.substr(0, eof);
}

void expect_same_at_any_distance(const std::string& snippet) {
  const std::string at_end = tokens_before_eof(snippet);
  for (std::size_t blanks = 1; blanks <= 16; ++blanks) {
    for (const char blank : {' ', '\n'}) {
      const std::string source = snippet + std::string(blanks, blank);
      EXPECT_EQ(tokens_before_eof(source), at_end)
          << snippet << " + " << blanks << (blank == ' ' ? " blanks" : " line breaks");
    }
  }
}

class AnyDistanceFromTheEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(AnyDistanceFromTheEnd, SameTokens) { expect_same_at_any_distance(GetParam()); }

TEST(AnyDistanceFromTheEnd, LongNames) {
  // A row keeps the length of a token below 255 bytes; longer ones have their
  // end in a table of their own.
  for (const std::size_t length : {254, 255, 256, 300})
    expect_same_at_any_distance(std::string(length, 'n') + " x " + std::string(length, 'n'));
}

INSTANTIATE_TEST_SUITE_P(Names, AnyDistanceFromTheEnd,
                         ::testing::Values("x", "ab", "abcdefg", "abcdefgh", "abcdefghi", "abcdefghijklmnop",
                                           "_", "__a", "_1", "$", "$$a", "$a$b", "a$", "$ $", "@a", "a@b",
                                           "x1_y2", "If if iF",
                                           // ASCII and non-ASCII in one name, and after one
                                           "a\xC3\xA9",
                                           "\xC3\xA9"
                                           "a",
                                           "a\xC3\xA9"
                                           "1",
                                           "ab\xE2\x82\xAC", "e\xCC\x81x", "\xE6\x97\xA5\xE6\x9C\xAC x",
                                           "_\xCC\x81", "$\xC3\xA9"));

INSTANTIATE_TEST_SUITE_P(Numbers, AnyDistanceFromTheEnd,
                         ::testing::Values("0", "7", "01", "00", "0 1", "2147483647", "2147483648",
                                           "4294967296", "12345678901", "99999999999",
                                           "1234567890123456789012", "1x", "1_000", "1.5", "1..2", "1.",
                                           "1e3", "0x1F", "0b101", "1\xC3\xA9", "x.1", "x.1.2", "x . 12",
                                           "x.01", "t.0.1",
                                           // digits before "..": the number ends there
                                           "0..<n", "1...", "1..", "01..2", "2147483648..1", "x.1..2",
                                           "1.\xC3\xA9", "1. .2", "1.)", "for i in 0..<10 {}"));

INSTANTIATE_TEST_SUITE_P(KeywordsAndTheirAdjustment, AnyDistanceFromTheEnd,
                         ::testing::Values("if", "let mut x", "a.if", "a. if", "a.true true",
                                           "if:", "if :", "true ?: 1", "true ? 1 : 2", "true ::", "type",
                                           "type x", "type(x)", "type:", "type = 1", "type in", "not",
                                           "not in", "not in:", "not\n in", "not /* c */ in", "not not in x",
                                           "not in in", "type not in", "not type", "x.type y", "in",
                                           "_ = 1"));

INSTANTIATE_TEST_SUITE_P(OperatorsAndTrivia, AnyDistanceFromTheEnd,
                         ::testing::Values("()[]{},;", "( ) [ ] { } , ; : ::", ". .. ..< ...",
                                           "+ += - -= -> * *= / /= % %= ^ ^=", "&& &&= || ||= ?? ??= ? ?:",
                                           "= == =~ ! != !~ < <= > >=", "!==", "!=~", "???", "?::", "&&&",
                                           "& x", "| x", ":::", "-->", "a/b", "a//b\nc", "a/*b*/c", "/* open",
                                           "// c\r\nx", "// c\rx", "a\r\nb", "a\rb", "a\tb", "a  \t  b",
                                           "x\n    y", "#~\\", "\f\v", "\xC2\xA0x", "\xE2\x82\xAC"));

INSTANTIATE_TEST_SUITE_P(Strings, AnyDistanceFromTheEnd,
                         ::testing::Values("'s'", "\"a\\tb\"", "`r`", "@'raw'@", "'$(x) y'", "'$(a.b:5.1f)'",
                                           "\"${a.if}\"", "'$(not in)'", "'$(type)' x"));

}  // namespace
}  // namespace quendal
