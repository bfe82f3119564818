// String literals, escapes, interpolations and templates.
#include <gtest/gtest.h>

#include "lexer_test_support.h"

namespace quendal {
namespace {

using testing::lex_print;

struct Case {
  const char* source;
  const char* expected;
};

class Strings : public ::testing::TestWithParam<Case> {};
TEST_P(Strings, Tokens) { EXPECT_EQ(lex_print(GetParam().source), GetParam().expected) << GetParam().source; }

class StringRanges : public ::testing::TestWithParam<Case> {};
TEST_P(StringRanges, Tokens) {
  EXPECT_EQ(lex_print(GetParam().source, true), GetParam().expected) << GetParam().source;
}

class Templates : public ::testing::TestWithParam<Case> {};
TEST_P(Templates, Tokens) {
  EXPECT_EQ(lex_print(GetParam().source, true, true), GetParam().expected) << GetParam().source;
}

// The fragments of the first token of a script.
std::string fragments(std::string_view source, bool tmpl = false) {
  Arena arena;
  CompileConfig config;
  LexResult r = tmpl ? lex_string(source, config, arena) : lex(source, config, arena);
  const UsingTokens using_tokens(r.tokens, arena);
  const TokenKind kind = testing::unwrap(testing::lexed_token(r, 0).kind);
  if (kind.tag != TokenTag::String && kind.tag != TokenTag::InterpolatedString) return "not a string";
  return testing::print_fragments(*kind.string);
}

class Fragments : public ::testing::TestWithParam<Case> {};
TEST_P(Fragments, Fragments) {
  EXPECT_EQ(fragments(GetParam().source), GetParam().expected) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(
    Plain, Strings,
    ::testing::Values(Case{"'abc'", "Str(\"abc\") Eof"}, Case{"''", "Str(\"\") Eof"},
                      Case{"\"a'b\" `c\"d`", "Str(\"a'b\") Str(\"c\\\"d\") Eof"},
                      Case{"'line\nbreak'", "Str(\"line\\nbreak\") Eof"}, Case{"'a$'", "Str(\"a$\") Eof"},
                      Case{"'$ x'", "Str(\"$ x\") Eof"}, Case{"'cost: $5'", "Str(\"cost: $5\") Eof"},
                      Case{"'\\$x'", "Str(\"$x\") Eof"}, Case{"@'C:\\dir\\'@", "Str(\"C:\\\\dir\\\\\") Eof"},
                      Case{"@'a'b'@", "Str(\"a'b\") Eof"}, Case{"@@'x'@'@@", "Str(\"x'@\") Eof"},
                      Case{"@'it's'@", "Str(\"it's\") Eof"}, Case{"@@'$y'@@", "Str(\"$y\") Eof"},
                      Case{"@'x'@@", "Str(\"x\") Id(@) Eof"}, Case{"@x @'y'@", "Id(@x) Str(\"y\") Eof"},
                      Case{"@@'a'@'@@ b", "Str(\"a'@\") Id(b) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    Escapes, Strings,
    ::testing::Values(
        Case{"'a\\tb'", "Str(\"a\\tb\") Eof"},
        Case{"'\\n\\r\\t\\b\\f\\v\\0\\\"\\'\\`\\\\\\$'",
             "Str(\"\\n\\r\\t\\x08\\x0C\\x0B\\x00\\\"'`\\\\$\") Eof"},
        Case{"'\\x41\\x7f\\x7F'", "Str(\"A\\x7F\\x7F\") Eof"},
        Case{"'\\x80'", "Unknown(Str(\"\") !InvalidHexEscapeSequence@1..5) Eof"},
        Case{"'\\x4'", "Unknown(Str(\"4\") !InvalidEscapeSequence@1..3) Eof"},
        Case{"'\\x4g'", "Unknown(Str(\"4g\") !InvalidEscapeSequence@1..3) Eof"},
        Case{"'\\u{1F600}'", "Str(\"\xF0\x9F\x98\x80\") Eof"}, Case{"'\\u{000041}'", "Str(\"A\") Eof"},
        Case{"'\\u{e9}'", "Str(\"\xC3\xA9\") Eof"},
        Case{"'\\u{D800}'", "Unknown(Str(\"\") !InvalidUnicodeEscapeSequence@1..9) Eof"},
        Case{"'\\u{110000}'", "Unknown(Str(\"\") !InvalidUnicodeEscapeSequence@1..11) Eof"},
        Case{"'\\u{FFFFFFFFFF}'", "Unknown(Str(\"\") !InvalidUnicodeEscapeSequence@1..15) Eof"},
        Case{"'\\u{}'", "Unknown(Str(\"{}\") !InvalidEscapeSequence@1..3) Eof"},
        Case{"'\\u{12'", "Unknown(Str(\"{12\") !InvalidEscapeSequence@1..3) Eof"},
        Case{"'\\u0041'", "Unknown(Str(\"0041\") !InvalidEscapeSequence@1..3) Eof"},
        Case{"'\\q'", "Unknown(Str(\"\") !InvalidEscapeSequence@1..3) Eof"},
        Case{"'\\\xC3\xA9'", "Unknown(Str(\"\") !InvalidEscapeSequence@1..4) Eof"},
        Case{"'a\\\nb'", "Unknown(Str(\"ab\") !InvalidEscapeSequence@2..4) Eof"},
        Case{"'\\q\\w'", "Unknown(Str(\"\") !InvalidEscapeSequence@1..3 !InvalidEscapeSequence@3..5) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    Unterminated, StringRanges,
    ::testing::Values(
        Case{"'abc", "Unknown(Str(\"abc\") !UnterminatedString@4..4)@0..4 Eof@4..4"},
        Case{"'abc\\", "Unknown(Str(\"abc\") !UnterminatedString@5..5)@0..5 Eof@5..5"},
        Case{"'", "Unknown(Str(\"\") !UnterminatedString@1..1)@0..1 Eof@1..1"},
        Case{"@@'x'@", "Unknown(Str(\"x'@\") !UnterminatedString@6..6)@0..6 Eof@6..6"},
        Case{"'\\q", "Unknown(Str(\"\") !UnterminatedString@3..3 !InvalidEscapeSequence@1..3)@0..3 Eof@3..3"},
        Case{"x 'a\" b", "Id(x)@0..1 Unknown(Str(\"a\\\" b\") !UnterminatedString@7..7)@2..7 Eof@7..7"}));

INSTANTIATE_TEST_SUITE_P(
    Interpolations, Strings,
    ::testing::Values(
        Case{"'n = $n!'", "Interp(\"n = \" [Id(n)] \"!\" []) Eof"},
        Case{"'a$(x)b$(y)'", "Interp(\"a\" [Id(x)] \"b\" [Id(y)] \"\" []) Eof"},
        Case{"'$if'", "Interp(\"\" [Unknown(Kw(nil) !InvalidKeyword@2..4)] \"\" []) Eof"},
        Case{"'$op'", "Interp(\"\" [Unknown(Kw(nil) !InvalidReservedKeyword@2..4)] \"\" []) Eof"},
        Case{"'$_'", "Interp(\"\" [Unknown(Kw(nil) !InvalidKeyword@2..3)] \"\" []) Eof"},
        Case{"'$true $nil $inf'", "Interp(\"\" [Kw(true)] \" \" [Kw(nil)] \" \" [Kw(inf)] \"\" []) Eof"},
        Case{"'$$y'", "Interp(\"\" [Id($y)] \"\" []) Eof"},
        Case{"'$@y'", "Interp(\"\" [Id(@y)] \"\" []) Eof"},
        Case{"@@'$$y'@@", "Interp(\"\" [Id(y)] \"\" []) Eof"},
        Case{"@@'$$$y'@@", "Interp(\"\" [Id($y)] \"\" []) Eof"},
        Case{"@'$x'@", "Interp(\"\" [Id(x)] \"\" []) Eof"},
        Case{"'a\\tb$x'", "Interp(\"a\\tb\" [Id(x)] \"\" []) Eof"},
        Case{"'$x.y'", "Interp(\"\" [Id(x)] \".y\" []) Eof"},
        Case{"'$(a + f('b'))'", "Interp(\"\" [Id(a) Op(+) Id(f) Op(() Str(\"b\") Op())] \"\" []) Eof"},
        Case{"'$('$(x)')'", "Interp(\"\" [Interp(\"\" [Id(x)] \"\" [])] \"\" []) Eof"},
        Case{"'$(x:0.2f)'", "Interp(\"\" [Id(x)]:\"0.2f\" \"\" []) Eof"},
        Case{"'$(x:a(b)c)'", "Interp(\"\" [Id(x)]:\"a(b)c\" \"\" []) Eof"},
        Case{"'$(x:[)])'", "Interp(\"\" [Id(x)]:\"[)]\" \"\" []) Eof"},
        Case{"'$(x:a\\)b)'", "Interp(\"\" [Id(x)]:\"a\\\\)b\" \"\" []) Eof"},
        Case{"'$(a ? b : c)'", "Interp(\"\" [Id(a) Op(?) Id(b)]:\" c\" \"\" []) Eof"},
        Case{"'$((a ? b : c))'", "Interp(\"\" [Op(() Id(a) Op(?) Id(b) Op(:) Id(c) Op())] \"\" []) Eof"},
        Case{"'$({a: 1}:x)'", "Interp(\"\" [Op({) Id(a) Op(:) Ord(1) Op(})]:\"x\" \"\" []) Eof"},
        Case{"'$(if: 1)'", "Interp(\"\" [Id(if)]:\" 1\" \"\" []) Eof"},
        Case{"'$(a not in b)'", "Interp(\"\" [Id(a) Kw(not in) Id(b)] \"\" []) Eof"},
        Case{"'$(a /* c */ + // d\n b)'", "Interp(\"\" [Id(a) Op(+) Id(b)] \"\" []) Eof"},
        Case{"'$(t.0)'", "Interp(\"\" [Id(t) Op(.) Ord(0)] \"\" []) Eof"},
        Case{"'${ {a: 1} }'", "Interp(\"\" [Op({) Op({) Id(a) Op(:) Ord(1) Op(}) Op(})] \"\" []) Eof"},
        Case{"'${a}${b} c'", "Interp(\"\" [Op({) Id(a) Op(})] \"\" [Op({) Id(b) Op(})] \" c\" []) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    InterpolationPlaceholders, StringRanges,
    ::testing::Values(
        Case{"'$()'", "Interp(\"\" [Empty@3..3] \"\" [])@0..5 Eof@5..5"},
        Case{"'$( )'", "Interp(\"\" [Empty@3..3] \"\" [])@0..6 Eof@6..6"},
        Case{"'$(:f)'", "Interp(\"\" [Empty@3..3]:\"f\" \"\" [])@0..7 Eof@7..7"},
        Case{"'$(x",
             "Unknown(Interp(\"\" [Id(x)@3..4 Eof@4..4] \"\" []) !UnterminatedString@4..4)@0..4 Eof@4..4"},
        Case{"'$(x:abc",
             "Unknown(Interp(\"\" [Id(x)@3..4]:\"abc\" \"\" []) !UnterminatedString@8..8)@0..8 Eof@8..8"},
        Case{"'$(x:abc') + 1",
             "Unknown(Interp(\"\" [Id(x)@3..4]:\"abc'\" \" + 1\" []) !UnterminatedString@14..14)@0..14 "
             "Eof@14..14"},
        Case{"'${'",
             "Unknown(Interp(\"\" [Op({)@2..3 Unknown(Str(\"\") !UnterminatedString@4..4)@3..4 Eof@4..4] "
             "\"\" []) !UnterminatedString@4..4)@0..4 Eof@4..4"},
        Case{"'${}'", "Interp(\"\" [Op({)@2..3 Op(})@3..4] \"\" [])@0..5 Eof@5..5"}));

// `$(name)` and `$(name:format)` take a shorter way than other
// interpolations; the tokens and ranges must be those of the general one,
// and whatever else follows the "(" must still go the general way.
INSTANTIATE_TEST_SUITE_P(
    SimpleInterpolations, StringRanges,
    ::testing::Values(
        Case{"'$(ab)'", "Interp(\"\" [Id(ab)@3..5] \"\" [])@0..7 Eof@7..7"},
        Case{"'$(ab:5.1f)'", "Interp(\"\" [Id(ab)@3..5]:\"5.1f\" \"\" [])@0..12 Eof@12..12"},
        Case{"'$(a_1)$(a_1)'", "Interp(\"\" [Id(a_1)@3..6] \"\" [Id(a_1)@9..12] \"\" [])@0..14 Eof@14..14"},
        Case{"'$(abcdefghijkl)'", "Interp(\"\" [Id(abcdefghijkl)@3..15] \"\" [])@0..17 Eof@17..17"},
        // keywords: the token after them decides what they are
        Case{"'$(if)'", "Interp(\"\" [Kw(if)@3..5] \"\" [])@0..7 Eof@7..7"},
        Case{"'$(not)'", "Interp(\"\" [Kw(not)@3..6] \"\" [])@0..8 Eof@8..8"},
        Case{"'$(type)'", "Interp(\"\" [Id(type)@3..7] \"\" [])@0..9 Eof@9..9"},
        Case{"'$(type:x)'", "Interp(\"\" [Id(type)@3..7]:\"x\" \"\" [])@0..11 Eof@11..11"},
        // not just a name between the "(" and the ")" or ":"
        Case{"'$(a::b)'", "Interp(\"\" [Id(a)@3..4 Op(::)@4..6 Id(b)@6..7] \"\" [])@0..9 Eof@9..9"},
        Case{"'$(a.b)'", "Interp(\"\" [Id(a)@3..4 Op(.)@4..5 Id(b)@5..6] \"\" [])@0..8 Eof@8..8"},
        Case{"'$( a)'", "Interp(\"\" [Id(a)@4..5] \"\" [])@0..7 Eof@7..7"},
        Case{"'$(a )'", "Interp(\"\" [Id(a)@3..4] \"\" [])@0..7 Eof@7..7"},
        Case{"'$(_a)'", "Interp(\"\" [Id(_a)@3..5] \"\" [])@0..7 Eof@7..7"},
        Case{"'$(a\xC3\xA9)'", "Interp(\"\" [Id(a\xC3\xA9)@3..6] \"\" [])@0..8 Eof@8..8"},
        // at the end of the input
        Case{"'$(a)", "Unknown(Interp(\"\" [Id(a)@3..4] \"\" []) !UnterminatedString@5..5)@0..5 Eof@5..5"},
        Case{"'$(a:", "Unknown(Interp(\"\" [Id(a)@3..4] \"\" []) !UnterminatedString@5..5)@0..5 Eof@5..5"},
        Case{"'$(a",
             "Unknown(Interp(\"\" [Id(a)@3..4 Eof@4..4] \"\" []) !UnterminatedString@4..4)@0..4 Eof@4..4"}));

INSTANTIATE_TEST_SUITE_P(
    Shapes, Fragments,
    ::testing::Values(Case{"'abc'", "Text(\"abc\")"}, Case{"''", ""},
                      Case{"'a\\tb'", "Text(\"a\") Escape(t U+0009) Text(\"b\")"},
                      Case{"'\\x41\\u{1F600}'", "Escape(x41 U+0041) Escape(u{1F600} U+1F600)"},
                      Case{"'\\q\\x80\\u{D800}'",
                           "Error(InvalidEscapeSequence@2..3) Error(InvalidHexEscapeSequence@4..7) "
                           "Error(InvalidUnicodeEscapeSequence@8..15)"},
                      Case{"@'it's'@", "Text(\"it\") Text(\"'\") Text(\"s\")"},
                      Case{"'cost: $5'", "Text(\"cost: \") Text(\"$\") Text(\"5\")"},
                      Case{"@@'$y'@@", "Text(\"$\") Text(\"y\")"},
                      Case{"'a$(x:f)b'",
                           "Text(\"a\") Interp($ [] :\"f\" (Op(()@3..4 Op())@7..8)) Text(\"b\")"},
                      Case{"'$(x'", "Interp($ [] (Op(()@2..3 Empty@5..5))"},
                      Case{"'$(x:abc", "Interp($ [] :\"abc\" (Op(()@2..3 Eof@8..8))"},
                      Case{"'${x}$y'", "Interp($ []) Interp($ [])"}, Case{"@@'$$x'@@", "Interp($$ [])"},
                      // the delimiters of the shorter way for `$(name)`
                      Case{"'$(ab)'", "Interp($ [] (Op(()@2..3 Op())@5..6))"},
                      Case{"'$(ab:f)'", "Interp($ [] :\"f\" (Op(()@2..3 Op())@7..8))"},
                      Case{"'$(if)'", "Interp($ [] (Op(()@2..3 Op())@5..6))"}));

// The common literal borrows its value from the source; assembled values
// live in the arena.
TEST(Strings, ValueBorrowedOnlyForSingleTextRun) {
  const std::string source = "'abc' 'a\\tb' @'it's'@ 'abc";
  Arena arena;
  CompileConfig config;
  LexResult r = lex(source, config, arena);
  ASSERT_EQ(r.tokens.list().size(), 5u);
  const TokenKind plain = testing::lexed_token(r, 0).kind;
  EXPECT_EQ(plain.text().data(), source.data() + 1);
  EXPECT_FALSE(plain.string->value_owned);
  EXPECT_EQ(plain.string->open_start, 0u);
  EXPECT_EQ(plain.string->open_end, 1u);
  EXPECT_EQ(plain.string->close_start, 4u);
  EXPECT_EQ(plain.string->close_end, 5u);
  EXPECT_EQ(plain.string->raw_level, 0u);
  EXPECT_EQ(plain.string->quote, '\'');
  for (int i : {1, 2}) {
    const TokenKind k = testing::lexed_token(r, i).kind;
    EXPECT_TRUE(k.string->value_owned);
    EXPECT_TRUE(k.text().data() < source.data() || k.text().data() >= source.data() + source.size());
  }
  const StringInfo& raw = *testing::lexed_token(r, 2).kind.string;
  EXPECT_EQ(raw.raw_level, 1u);
  EXPECT_EQ(raw.open_start, 13u);
  EXPECT_EQ(raw.open_end, 15u);
  EXPECT_EQ(raw.close_start, 19u);
  EXPECT_EQ(raw.close_end, 21u);
  // Unterminated: no closing delimiter, owned value.
  const TokenKind open = testing::unwrap(testing::lexed_token(r, 3).kind);
  EXPECT_EQ(open.string->close_start, 0u);
  EXPECT_EQ(open.string->close_end, 0u);
  EXPECT_TRUE(open.string->value_owned);
}

TEST(Strings, InterpolatedPartsMoveTokensOutOfFragments) {
  const std::string source = "'a$x\\tb$(y:f)'";
  Arena arena;
  CompileConfig config;
  LexResult r = lex(source, config, arena);
  const StringInfo& info = *testing::lexed_token(r, 0).kind.string;
  ASSERT_EQ(info.parts.size(), 3u);
  EXPECT_EQ(info.parts[0].text.data(), source.data() + 1);  // a single text run is borrowed
  EXPECT_FALSE(info.parts[0].text_owned);
  EXPECT_EQ(info.parts[1].text, "\tb");
  EXPECT_TRUE(info.parts[1].text_owned);
  EXPECT_EQ(info.parts[1].format, "f");
  EXPECT_EQ(info.parts[2].text, "");
  EXPECT_TRUE(info.parts[2].tokens.empty());
  EXPECT_EQ(info.parts[0].tokens.size(), 1u);
  EXPECT_EQ(info.parts[1].tokens.size(), 1u);
  for (const StringFragment& f : info.fragments) {
    if (f.kind == StringFragment::Kind::Interpolation) {
      ASSERT_LT(f.value, r.tokens.interpolations().size());
      EXPECT_TRUE(r.tokens.interpolations()[f.value].tokens.empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, Templates,
    ::testing::Values(
        Case{"", "Str(\"\")@0..0 Eof@0..0"},
        Case{"Hello, $name!", "Interp(\"Hello, \" [Id(name)@8..12] \"!\" [])@0..13 Eof@13..13"},
        Case{"'\"`@ \\n", "Str(\"'\\\"`@ \\\\n\")@0..7 Eof@7..7"},
        Case{"Total: $(price:0.00) EUR",
             "Interp(\"Total: \" [Id(price)@9..14]:\"0.00\" \" EUR\" [])@0..24 Eof@24..24"},
        Case{"$", "Str(\"$\")@0..1 Eof@1..1"}, Case{"a $ b", "Str(\"a $ b\")@0..5 Eof@5..5"},
        Case{"$$x", "Interp(\"\" [Id($x)@1..3] \"\" [])@0..3 Eof@3..3"},
        Case{"$if", "Interp(\"\" [Unknown(Kw(nil) !InvalidKeyword@1..3)@1..3] \"\" [])@0..3 Eof@3..3"},
        Case{"${x", "Interp(\"\" [Op({)@1..2 Id(x)@2..3 Eof@3..3] \"\" [])@0..3 Eof@3..3"},
        Case{"$(x", "Interp(\"\" [Id(x)@2..3 Eof@3..3] \"\" [])@0..3 Eof@3..3"},
        Case{"$('a)",
             "Interp(\"\" [Unknown(Str(\"a)\") !UnterminatedString@5..5)@2..5 Eof@5..5] \"\" [])@0..5 "
             "Eof@5..5"}));

TEST(Templates, TextIsBorrowedAndDelimitersSpanTheInput) {
  const std::string source = "a 'b' \\n";
  Arena arena;
  CompileConfig config;
  LexResult r = lex_string(source, config, arena);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.tokens.list().size(), 2u);
  const TokenKind k = testing::lexed_token(r, 0).kind;
  ASSERT_EQ(k.tag, TokenTag::String);
  EXPECT_EQ(k.text().data(), source.data());
  EXPECT_EQ(k.text().size(), source.size());
  EXPECT_EQ(k.string->raw_level, 1u);
  EXPECT_EQ(k.string->quote, 0);
  EXPECT_EQ(k.string->open_end, 0u);
  EXPECT_EQ(k.string->close_start, source.size());
  EXPECT_EQ(k.string->close_end, source.size());
}

}  // namespace
}  // namespace quendal
