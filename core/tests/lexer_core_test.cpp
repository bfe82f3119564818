// Token-level behaviour of the script lexer: trivia, identifiers, keywords
// and their adjustments, operators and unknown characters.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "lexer_test_support.h"

namespace quendal {
namespace {

using testing::lex_print;

struct Case {
  const char* source;
  const char* expected;
};

// The main loop reads the tokens that start well before the end of the
// input; the last few bytes are read one token at a time. Each case is also
// lexed with blanks after it, which hands every one of its tokens to the main
// loop: the tokens must not change, only Eof moves to the new end.
constexpr std::size_t kBlanksAfter = 16;

std::string with_blanks_after(std::string_view source) {
  return std::string(source) + std::string(kBlanksAfter, ' ');
}

// `printed` with its last token, Eof with a range, moved to `end`.
std::string eof_moved(std::string_view printed, std::size_t end) {
  const std::size_t eof = printed.rfind("Eof@");
  if (eof == std::string_view::npos) return std::string(printed);
  return std::string(printed.substr(0, eof)) + "Eof" + testing::range_text(end, end);
}

class LexRanges : public ::testing::TestWithParam<Case> {};

TEST_P(LexRanges, Tokens) {
  const std::string_view source = GetParam().source;
  EXPECT_EQ(lex_print(source, true), GetParam().expected) << source;
  EXPECT_EQ(lex_print(with_blanks_after(source), true),
            eof_moved(GetParam().expected, source.size() + kBlanksAfter))
      << source;
}

INSTANTIATE_TEST_SUITE_P(
    Trivia, LexRanges,
    ::testing::Values(
        Case{"", "Eof@0..0"}, Case{"  // c\n /* x */ \n  ", "Eof@19..19"}, Case{"/* open", "Eof@7..7"},
        Case{"a/*c*/b", "Id(a)@0..1 Id(b)@6..7 Eof@7..7"}, Case{"a   ", "Id(a)@0..1 Eof@4..4"},
        Case{"a // c\r\nb", "Id(a)@0..1 Id(b)@8..9 Eof@9..9"}, Case{"1 // c", "Ord(1)@0..1 Eof@6..6"},
        Case{"a\r\n\tb", "Id(a)@0..1 Id(b)@4..5 Eof@5..5"},
        // A line comment that ends at a lone carriage return is no comment.
        Case{"// note\rx",
             "Op(/)@0..1 Op(/)@1..2 Id(note)@3..7 Unknown(Empty !UnknownToken@7..8)@7..8 Id(x)@8..9 "
             "Eof@9..9"},
        Case{"a /* x */ /* y */ // z\nb", "Id(a)@0..1 Id(b)@23..24 Eof@24..24"},
        Case{"a /* x */ b", "Id(a)@0..1 Id(b)@10..11 Eof@11..11"}, Case{"/**/", "Eof@4..4"},
        Case{"/*/ x", "Eof@5..5"}));

INSTANTIATE_TEST_SUITE_P(
    KeywordAdjustment, LexRanges,
    ::testing::Values(
        Case{"a not in b", "Id(a)@0..1 Kw(not in)@2..8 Id(b)@9..10 Eof@10..10"},
        Case{"a not   /*c*/ in b", "Id(a)@0..1 Kw(not in)@2..16 Id(b)@17..18 Eof@18..18"},
        Case{"not\nin", "Kw(not in)@0..6 Eof@6..6"}, Case{"not // c\n in", "Kw(not in)@0..12 Eof@12..12"},
        Case{"a.not in b", "Id(a)@0..1 Op(.)@1..2 Id(not)@2..5 Kw(in)@6..8 Id(b)@9..10 Eof@10..10"},
        Case{"not not in x", "Kw(not)@0..3 Kw(not in)@4..10 Id(x)@11..12 Eof@12..12"},
        Case{"not in in", "Kw(not in)@0..6 Kw(in)@7..9 Eof@9..9"},
        Case{"not in: 1", "Id(not in)@0..6 Op(:)@6..7 Ord(1)@8..9 Eof@9..9"},
        Case{"{ if: 1 }", "Op({)@0..1 Id(if)@2..4 Op(:)@4..5 Ord(1)@6..7 Op(})@8..9 Eof@9..9"},
        Case{"c ? nil : d", "Id(c)@0..1 Op(?)@2..3 Id(nil)@4..7 Op(:)@8..9 Id(d)@10..11 Eof@11..11"},
        Case{"nil ?: 1", "Id(nil)@0..3 Op(?:)@4..6 Ord(1)@7..8 Eof@8..8"},
        Case{"true :: x", "Kw(true)@0..4 Op(::)@5..7 Id(x)@8..9 Eof@9..9"},
        Case{"type(x)", "Kw(type)@0..4 Op(()@4..5 Id(x)@5..6 Op())@6..7 Eof@7..7"},
        Case{"type = 1", "Id(type)@0..4 Op(=)@5..6 Ord(1)@7..8 Eof@8..8"},
        Case{"type x", "Kw(type)@0..4 Id(x)@5..6 Eof@6..6"}, Case{"type", "Id(type)@0..4 Eof@4..4"},
        Case{"type:", "Id(type)@0..4 Op(:)@4..5 Eof@5..5"},
        Case{"type in", "Id(type)@0..4 Kw(in)@5..7 Eof@7..7"},
        Case{"x.if x.true",
             "Id(x)@0..1 Op(.)@1..2 Id(if)@2..4 Id(x)@5..6 Op(.)@6..7 Id(true)@7..11 "
             "Eof@11..11"}));

INSTANTIATE_TEST_SUITE_P(
    Identifiers, LexRanges,
    ::testing::Values(Case{"_ __ _x", "Kw(_)@0..1 Id(__)@2..4 Id(_x)@5..7 Eof@7..7"},
                      Case{"$ $x $1 @name", "Id($)@0..1 Id($x)@2..4 Id($1)@5..7 Id(@name)@8..13 Eof@13..13"},
                      Case{"a$b", "Id(a)@0..1 Id($b)@1..3 Eof@3..3"},
                      Case{"a@b", "Id(a)@0..1 Id(@b)@1..3 Eof@3..3"},
                      Case{"$$x @@ __init", "Id($$x)@0..3 Id(@@)@4..6 Id(__init)@7..13 Eof@13..13"},
                      Case{"x1_y2", "Id(x1_y2)@0..5 Eof@5..5"},
                      Case{"If iF", "Id(If)@0..2 Id(iF)@3..5 Eof@5..5"},
                      Case{"\xE6\x97\xA5\xE6\x9C\xAC = 1",
                           "Id(\xE6\x97\xA5\xE6\x9C\xAC)@0..6 Op(=)@7..8 Ord(1)@9..10 Eof@10..10"},
                      Case{"e\xCC\x81x", "Id(e\xCC\x81x)@0..4 Eof@4..4"},
                      Case{"\xCC\x81", "Unknown(Empty !UnknownToken@0..2)@0..2 Eof@2..2"},
                      Case{"_\xCC\x81", "Id(_\xCC\x81)@0..3 Eof@3..3"},
                      Case{"letter let lets", "Id(letter)@0..6 Kw(let)@7..10 Id(lets)@11..15 Eof@15..15"}));

INSTANTIATE_TEST_SUITE_P(
    Unknown, LexRanges,
    ::testing::Values(Case{"x &y", "Id(x)@0..1 Unknown(Empty !UnknownToken@2..3)@2..3 Id(y)@3..4 Eof@4..4"},
                      Case{"\xE2\x82\xAC", "Unknown(Empty !UnknownToken@0..3)@0..3 Eof@3..3"},
                      Case{"a | b", "Id(a)@0..1 Unknown(Empty !UnknownToken@2..3)@2..3 Id(b)@4..5 Eof@5..5"},
                      Case{"#~\\",
                           "Unknown(Empty !UnknownToken@0..1)@0..1 Unknown(Empty !UnknownToken@1..2)@1..2 "
                           "Unknown(Empty !UnknownToken@2..3)@2..3 Eof@3..3"},
                      Case{"\f\v",
                           "Unknown(Empty !UnknownToken@0..1)@0..1 Unknown(Empty !UnknownToken@1..2)@1..2 "
                           "Eof@2..2"},
                      Case{"\xC2\xA0x", "Unknown(Empty !UnknownToken@0..2)@0..2 Id(x)@2..3 Eof@3..3"},
                      Case{"\xF0\x9F\x98\x80", "Unknown(Empty !UnknownToken@0..4)@0..4 Eof@4..4"},
                      Case{"a\rb", "Id(a)@0..1 Unknown(Empty !UnknownToken@1..2)@1..2 Id(b)@2..3 Eof@3..3"}));

class LexKinds : public ::testing::TestWithParam<Case> {};

TEST_P(LexKinds, Tokens) {
  EXPECT_EQ(lex_print(GetParam().source), GetParam().expected) << GetParam().source;
  EXPECT_EQ(lex_print(with_blanks_after(GetParam().source)), GetParam().expected) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(
    Operators, LexKinds,
    ::testing::Values(
        Case{"( ) [ ] { } , ; : ::", "Op(() Op()) Op([) Op(]) Op({) Op(}) Op(,) Op(;) Op(:) Op(::) Eof"},
        Case{". .. ..< ...", "Op(.) Op(..) Op(..<) Op(..) Op(.) Eof"},
        Case{"+ += - -= -> * *= / /= % %= ^ ^=",
             "Op(+) Op(+=) Op(-) Op(-=) Op(->) Op(*) Op(*=) Op(/) Op(/=) Op(%) Op(%=) Op(^) Op(^=) Eof"},
        Case{"&& &&= || ||= ?? ??= ? ?:", "Op(&&) Op(&&=) Op(||) Op(||=) Op(??) Op(??=) Op(?) Op(?:) Eof"},
        Case{"= == =~ ! != !~ < <= > >=",
             "Op(=) Op(==) Op(=~) Op(!) Op(!=) Op(!~) Op(<) Op(<=) Op(>) Op(>=) Eof"},
        Case{"!==", "Op(!) Op(==) Eof"}, Case{"!=~", "Op(!) Op(=~) Eof"}, Case{"=>", "Op(=) Op(>) Eof"},
        Case{"!!=", "Op(!) Op(!=) Eof"}, Case{"???", "Op(??) Op(?) Eof"}, Case{"?::", "Op(?:) Op(:) Eof"},
        Case{"&&&", "Op(&&) Unknown(Empty !UnknownToken@2..3) Eof"}, Case{":::", "Op(::) Op(:) Eof"},
        Case{"-->", "Op(-) Op(->) Eof"}, Case{"a.b", "Id(a) Op(.) Id(b) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    Statements, LexKinds,
    ::testing::Values(
        Case{"let x = 1; x + 2", "Kw(let) Id(x) Op(=) Ord(1) Op(;) Id(x) Op(+) Ord(2) Eof"},
        Case{"fn f(a, b) { return a ?? b }",
             "Kw(fn) Id(f) Op(() Id(a) Op(,) Id(b) Op()) Op({) Kw(return) Id(a) Op(??) Id(b) Op(}) Eof"},
        Case{"for i in 0..<10 { }", "Kw(for) Id(i) Kw(in) Ord(0) Op(..<) Ord(10) Op({) Op(}) Eof"},
        Case{"op where use effect try handle finally perform resume",
             "Kw(op) Kw(where) Kw(use) Kw(effect) Kw(try) Kw(handle) Kw(finally) Kw(perform) Kw(resume) Eof"},
        Case{"true false nil nan inf global is and or if else match case while loop break continue let const "
             "mut "
             "mod pub",
             "Kw(true) Kw(false) Kw(nil) Kw(nan) Kw(inf) Kw(global) Kw(is) Kw(and) Kw(or) Kw(if) Kw(else) "
             "Kw(match) Kw(case) Kw(while) Kw(loop) Kw(break) Kw(continue) Kw(let) Kw(const) Kw(mut) Kw(mod) "
             "Kw(pub) Eof"}));

}  // namespace
}  // namespace quendal
