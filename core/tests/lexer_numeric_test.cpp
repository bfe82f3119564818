// Numeric and ordinal literals: extents, values, NumberInfo and the order of
// the diagnostic wrappers; decimal conversion against the C library.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "lexer/lexer.h"
#include "lexer_test_support.h"

namespace quendal {
namespace {

using testing::lex_print;

struct Case {
  const char* source;
  const char* expected;
};

class Numbers : public ::testing::TestWithParam<Case> {};

TEST_P(Numbers, Tokens) { EXPECT_EQ(lex_print(GetParam().source), GetParam().expected) << GetParam().source; }

INSTANTIATE_TEST_SUITE_P(
    Integers, Numbers,
    ::testing::Values(Case{"0", "Ord(0) Eof"}, Case{"42", "Ord(42) Eof"},
                      Case{"2147483647", "Ord(2147483647) Eof"},
                      Case{"2147483648", "Num(2147483648 Decimal(2147483648)) Eof"},
                      Case{"007", "Num(7 Decimal(007)) Eof"}, Case{"00", "Num(0 Decimal(00)) Eof"},
                      Case{"1_000", "Num(1000 Decimal(1_000)) Eof"},
                      Case{"99999999999999999999999", "Num(1e+23 Decimal(99999999999999999999999)) Eof"},
                      Case{"1_", "Unknown(Num(1 Invalid) !InvalidNumberLiteralUnderscore@0..2) Eof"},
                      Case{"12abc", "Unknown(Num(12 Invalid) !InvalidNumberLiteral@0..5) Eof"},
                      Case{"1\xC3\xA9", "Unknown(Num(1 Invalid) !InvalidNumberLiteral@0..3) Eof"},
                      Case{"-1", "Op(-) Ord(1) Eof"}, Case{"1..5", "Ord(1) Op(..) Ord(5) Eof"},
                      Case{"1.e5", "Ord(1) Op(.) Id(e5) Eof"}, Case{"1. 5", "Ord(1) Op(.) Ord(5) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    Decimals, Numbers,
    ::testing::Values(
        Case{"1.5", "Num(1.5 Decimal(1.5)) Eof"}, Case{"0.1", "Num(0.1 Decimal(0.1)) Eof"},
        Case{"1.5e3", "Num(1500 Decimal(1.5e3)) Eof"}, Case{"1e+3", "Num(1000 Decimal(1e+3)) Eof"},
        Case{"1.5E-2", "Num(0.015 Decimal(1.5E-2)) Eof"}, Case{"1e5", "Num(1e+05 Decimal(1e5)) Eof"},
        Case{"1E+05", "Num(1e+05 Decimal(1E+05)) Eof"}, Case{"1_e5", "Num(1e+05 Decimal(1_e5)) Eof"},
        Case{"1e_5", "Num(1e+05 Decimal(1e_5)) Eof"}, Case{"1._5", "Num(1.5 Decimal(1._5)) Eof"},
        Case{"1_.5", "Num(1.5 Decimal(1_.5)) Eof"}, Case{"5e-324", "Num(5e-324 Decimal(5e-324)) Eof"},
        Case{"2e-324", "Num(0 Decimal(2e-324)) Eof"}, Case{"1e-400", "Num(0 Decimal(1e-400)) Eof"},
        Case{"0e99999999999999999999", "Num(0 Decimal(0e99999999999999999999)) Eof"},
        Case{"1e", "Unknown(Num(0 Invalid) !InvalidNumberLiteral@0..2) Eof"},
        Case{"1e+", "Unknown(Num(0 Invalid) !InvalidNumberLiteral@0..2) Op(+) Eof"},
        Case{"1e +5", "Unknown(Num(0 Invalid) !InvalidNumberLiteral@0..2) Op(+) Ord(5) Eof"},
        Case{"1.5e", "Num(1.5 Decimal(1.5)) Id(e) Eof"},
        Case{"1.5e+", "Num(1.5 Decimal(1.5)) Id(e) Op(+) Eof"},
        Case{"1.5ex", "Unknown(Num(0 Invalid) !InvalidNumberLiteral@0..5) Eof"},
        Case{"1.x", "Unknown(Num(1 Invalid) !InvalidNumberLiteral@0..3) Eof"},
        Case{"1.5.5", "Num(1.5 Decimal(1.5)) Op(.) Ord(5) Eof"},
        Case{"1e5.5", "Num(1e+05 Decimal(1e5)) Op(.) Ord(5) Eof"},
        Case{"1e400", "Unknown(Num(inf Invalid) !OverflowNumberLiteral@0..5) Eof"},
        Case{"1.5e400", "Unknown(Num(inf Invalid) !OverflowNumberLiteral@0..7) Eof"},
        Case{"1.5_", "Unknown(Num(1.5 Invalid) !InvalidNumberLiteralUnderscore@0..4) Eof"},
        Case{"1e5_", "Unknown(Num(1e+05 Invalid) !InvalidNumberLiteralUnderscore@0..4) Eof"},
        Case{"1e400_", "Unknown(Num(inf Invalid) !InvalidNumberLiteralUnderscore@0..6) Eof"},
        Case{"1e400x", "Unknown(Num(inf Invalid) !InvalidNumberLiteral@0..6) Eof"},
        Case{"1e4x", "Unknown(Num(10000 Invalid) !InvalidNumberLiteral@0..4) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    Radix, Numbers,
    ::testing::Values(
        Case{"0x1F", "Num(31 Hex(31)) Eof"},
        Case{"0o17 0B11 0XfF", "Num(15 Octal(15)) Num(3 Binary(3)) Num(255 Hex(255)) Eof"},
        Case{"0x1e5", "Num(485 Hex(485)) Eof"}, Case{"0x_FF", "Num(255 Hex(255)) Eof"},
        Case{"0xFFFFFFFFFFFFFFFF", "Num(18446744073709551616 Hex(18446744073709551615)) Eof"},
        Case{"0b102", "Unknown(Num(2 Binary(2)) !InvalidNumberLiteral@0..5) Eof"},
        Case{"0o8",
             "Unknown(Num(18446744073709551616 Octal(18446744073709551615)) !InvalidNumberLiteral@0..3) "
             "Eof"},
        Case{"0x",
             "Unknown(Num(18446744073709551616 Hex(18446744073709551615)) !InvalidNumberLiteral@0..2) Eof"},
        Case{"0x_",
             "Unknown(Num(18446744073709551616 Hex(18446744073709551615)) !InvalidNumberLiteral@0..3) Eof"},
        Case{"0x1_0000_0000_0000_0000",
             "Unknown(Num(18446744073709551616 Hex(18446744073709551615)) !OverflowIntegerLiteral@0..23) "
             "Eof"},
        Case{"0x1_0000_0000_0000_0000g",
             "Unknown(Num(18446744073709551616 Hex(18446744073709551615)) !InvalidNumberLiteral@0..24) Eof"},
        Case{"0xFF_", "Unknown(Num(255 Hex(255)) !InvalidNumberLiteralUnderscore@0..5) Eof"},
        Case{"0x1.5", "Num(1 Hex(1)) Op(.) Ord(5) Eof"},
        Case{"0b1e+5", "Unknown(Num(1 Binary(1)) !InvalidNumberLiteral@0..4) Op(+) Ord(5) Eof"}));

INSTANTIATE_TEST_SUITE_P(
    Ordinals, Numbers,
    ::testing::Values(
        Case{"t.0", "Id(t) Op(.) Ord(0) Eof"}, Case{"t.12", "Id(t) Op(.) Ord(12) Eof"},
        Case{"t.1.2", "Id(t) Op(.) Ord(1) Op(.) Ord(2) Eof"},
        Case{"t.01", "Id(t) Op(.) Unknown(Ord(1) !InvalidOrdinalLiteral@2..4) Eof"},
        Case{"t.00", "Id(t) Op(.) Unknown(Ord(0) !InvalidOrdinalLiteral@2..4) Eof"},
        Case{"t.1_0", "Id(t) Op(.) Unknown(Ord(10) !InvalidOrdinalLiteral@2..5) Eof"},
        Case{"t.1_",
             "Id(t) Op(.) Unknown(Unknown(Ord(1) !InvalidOrdinalLiteral@2..4) "
             "!InvalidNumberLiteralUnderscore@2..4) Eof"},
        Case{"t.3000000000", "Id(t) Op(.) Unknown(Ord(2147483647) !InvalidOrdinalLiteral@2..12) Eof"},
        Case{"t.2147483647", "Id(t) Op(.) Ord(2147483647) Eof"},
        Case{"t.99999999999999999999",
             "Id(t) Op(.) Unknown(Ord(2147483647) !InvalidOrdinalLiteral@2..22) Eof"},
        Case{"t.1e5", "Id(t) Op(.) Unknown(Ord(15) !InvalidNumberLiteral@2..5) Eof"},
        Case{"t.0x1",
             "Id(t) Op(.) Unknown(Unknown(Ord(1) !InvalidOrdinalLiteral@2..5) !InvalidNumberLiteral@2..5) "
             "Eof"},
        Case{"t.1.5e3", "Id(t) Op(.) Ord(1) Op(.) Unknown(Ord(53) !InvalidNumberLiteral@4..7) Eof"},
        Case{"t. 1", "Id(t) Op(.) Ord(1) Eof"},
        Case{"t./**/01", "Id(t) Op(.) Unknown(Ord(1) !InvalidOrdinalLiteral@6..8) Eof"}));

TEST(Numbers, HandleOrdinalOnWordsWithoutDigits) {
  Arena arena;
  // Not reachable from `token` (words there start with a digit), but the
  // conversion must still give the documented fallbacks.
  EXPECT_EQ(
      testing::print_kind(lexer::handle_ordinal(arena, "_", 0, 1), false),
      "Unknown(Unknown(Ord(2147483647) !InvalidOrdinalLiteral@0..1) !InvalidNumberLiteralUnderscore@0..1)");
  EXPECT_EQ(testing::print_kind(lexer::handle_ordinal(arena, "_1x", 0, 3), false),
            "Unknown(Unknown(Ord(1) !InvalidOrdinalLiteral@0..3) !InvalidNumberLiteral@0..3)");
}

// Random decimal literals against the C library's strtod, which rounds
// correctly: the lexer must produce the same double, bit for bit.
TEST(Numbers, DecimalConversionMatchesStrtod) {
  std::setlocale(LC_NUMERIC, "C");
  std::mt19937_64 rng(20240611);
  auto digits = [&](std::string& out, int count, bool underscores) {
    for (int i = 0; i < count; ++i) {
      out += static_cast<char>('0' + rng() % 10);
      if (underscores && i + 1 < count && rng() % 5 == 0) out += '_';
    }
  };
  int checked = 0;
  for (int i = 0; i < 40000; ++i) {
    std::string literal;
    const bool underscores = rng() % 3 == 0;
    digits(literal, 1 + static_cast<int>(rng() % (i % 4 == 0 ? 40 : 20)), underscores);
    const int shape = static_cast<int>(rng() % 4);
    if (shape >= 1) {
      literal += '.';
      digits(literal, 1 + static_cast<int>(rng() % 25), underscores);
    }
    if (shape >= 2 || (shape == 0 && rng() % 2 == 0)) {
      literal += (rng() % 2) ? 'e' : 'E';
      const int sign = static_cast<int>(rng() % 3);
      if (sign == 1) literal += '+';
      if (sign == 2) literal += '-';
      digits(literal, 1 + static_cast<int>(rng() % 3), false);
    }
    std::string plain;
    for (char c : literal)
      if (c != '_') plain += c;
    errno = 0;
    const double expected = std::strtod(plain.c_str(), nullptr);

    Arena arena;
    CompileConfig config;
    LexResult r = lex(literal, config, arena);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.tokens.list().size(), 2u) << literal;
    const Token& t = testing::lexed_token(r, 0);
    ASSERT_EQ(t.start, 0u);
    ASSERT_EQ(t.end, literal.size()) << literal;
    if (t.kind.tag == TokenTag::Ordinal) {
      EXPECT_EQ(static_cast<double>(t.kind.ordinal), expected) << literal;
      continue;
    }
    if (std::isinf(expected)) {
      ASSERT_EQ(t.kind.tag, TokenTag::Unknown) << literal;
      EXPECT_EQ(t.kind.unknown_box->diagnostics[0].code, DiagnosticCode::OverflowNumberLiteral) << literal;
      EXPECT_TRUE(std::isinf(t.kind.unknown_box->inner.number())) << literal;
      continue;
    }
    ASSERT_EQ(t.kind.tag, TokenTag::Number) << literal;
    EXPECT_EQ(t.kind.number_info->kind, NumberInfo::Kind::Decimal);
    EXPECT_EQ(t.kind.number_info->decimal, literal);
    double got = t.kind.number();
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
        << literal << ": " << testing::number_text(got) << " vs " << testing::number_text(expected);
    ++checked;
  }
  EXPECT_GT(checked, 20000);
}

// Literals near the limits of the double range, where overflow and underflow
// are decided.
TEST(Numbers, ExtremeExponentsMatchStrtod) {
  for (const char* mantissa : {"1", "9.99", "0.000123", "17976931348623157", "2.4703282292062328", "0.0"}) {
    for (int exponent = -345; exponent <= 330; exponent += 1) {
      const std::string literal = std::string(mantissa) + "e" + std::to_string(exponent);
      const double expected = std::strtod(literal.c_str(), nullptr);
      Arena arena;
      CompileConfig config;
      LexResult r = lex(literal, config, arena);
      const TokenKind kind = testing::unwrap(testing::lexed_token(r, 0).kind);
      ASSERT_EQ(kind.tag, TokenTag::Number) << literal;
      EXPECT_EQ(kind.number(), expected) << literal;
      EXPECT_EQ(testing::lexed_token(r, 0).kind.tag == TokenTag::Unknown, std::isinf(expected)) << literal;
    }
  }
}

}  // namespace
}  // namespace quendal
