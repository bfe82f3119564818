// Identifier characters against ICU's property API, over every code point.
#include <gtest/gtest.h>

#include <unicode/uchar.h>
#include <cstring>
#include <memory>

#include "lexer/identifier.h"
#include "lexer_test_support.h"

namespace quendal {
namespace {

TEST(IdentifierClasses, MatchIcuForEveryCodePoint) {
  int mismatches = 0;
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    const bool start = u_hasBinaryProperty(c, UCHAR_XID_START);
    const bool cont = u_hasBinaryProperty(c, UCHAR_XID_CONTINUE);
    if (is_xid_start(static_cast<char32_t>(c)) != start ||
        is_xid_continue(static_cast<char32_t>(c)) != cont) {
      if (++mismatches < 10) ADD_FAILURE() << "U+" << std::hex << c;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Every scalar value, lexed on its own: an identifier exactly when it is an
// XID_Start character (or `_`, `$`, `@`), otherwise one unknown token over its
// bytes (or an operator, a digit, trivia...). After a letter, a continuation
// character joins the identifier.
TEST(IdentifierClasses, LexerAgreesWithIcuOnEveryScalar) {
  int mismatches = 0;
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    char buffer[8] = {'a'};
    const std::size_t n = encode_utf8(c, buffer + 1);
    const std::string_view alone(buffer + 1, n);
    const std::string_view joined(buffer, n + 1);
    Arena arena;
    CompileConfig config;
    LexResult r = lex(alone, config, arena);
    const bool start = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START);
    const TokenTag expected = start ? TokenTag::Identifier : TokenTag::Unknown;
    bool ok = r.tokens.list().size() == 2 && testing::lexed_token(r, 0).kind.tag == expected &&
              testing::lexed_token(r, 0).end == n;
    LexResult j = lex(joined, config, arena);
    const bool cont = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE);
    ok = ok && (j.tokens.list().size() == (cont ? 2u : 3u)) &&
         testing::lexed_token(j, 0).kind.tag == TokenTag::Identifier &&
         testing::lexed_token(j, 0).end == (cont ? n + 1 : 1);
    if (!ok && ++mismatches < 10) ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(IdentifierClasses, AsciiFastPath) {
  for (char32_t c = 0; c < 0x80; ++c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(is_xid_start(c), letter) << static_cast<int>(c);
    EXPECT_EQ(is_xid_continue(c), letter || digit || c == '_') << static_cast<int>(c);
  }
}

// Where a name ends in a long input (the lexer's fast path reads names many
// bytes at a time): after every length up to 40, at several alignments,
// followed by every ASCII byte and by a continuing and a stopping character
// beyond ASCII, the first token ends where the name's characters do.
TEST(IdentifierClasses, NamesEndAtTheirLastCharacterInLongInput) {
  const std::string letters = "qZ9_zA0yb8_Kx7";
  const std::string padding(48, ' ');
  int mismatches = 0;
  const auto check = [&](std::size_t offset, std::size_t length, const std::string& after,
                         std::size_t expected_end, unsigned label) {
    std::string name = "q";
    while (name.size() < length) name += letters[name.size() % letters.size()];
    const std::string source = std::string(offset, ' ') + name + after + padding + "x;";
    Arena arena;
    CompileConfig config;
    LexResult r = lex(source, config, arena);
    const Token first = testing::lexed_token(r, 0);
    if ((first.kind.tag != TokenTag::Identifier || first.start != offset ||
         first.end != offset + expected_end) &&
        ++mismatches < 10)
      ADD_FAILURE() << "length " << length << ", offset " << offset << ", then " << label << ": "
                    << testing::print_token(first, true);
  };
  for (std::size_t offset = 0; offset < 4; ++offset) {
    for (std::size_t length = 1; length <= 40; ++length) {
      for (unsigned c = 1; c < 0x80; ++c) {
        const bool continues =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        check(offset, length, std::string(1, static_cast<char>(c)) + " ", continues ? length + 1 : length, c);
      }
      check(offset, length, "\xC3\xA9 ", length + 2, 0xE9);    // é continues a name
      check(offset, length, "\xE2\x86\x92 ", length, 0x2192);  // an arrow does not
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Names that end a few bytes before the end of the input, lexed from a
// buffer of exactly the input's size: every read stays inside it (checked
// under AddressSanitizer), and the names end where they do.
TEST(IdentifierClasses, NamesNearTheEndOfTheInputAreReadWithinIt) {
  const std::string letters = "qZ9_zA0yb8_Kx7";
  for (std::size_t tail = 0; tail <= 20; ++tail) {
    for (std::size_t length = 1; length <= 40; ++length) {
      std::string name = "q";
      while (name.size() < length) name += letters[name.size() % letters.size()];
      const std::string text = "let " + name + std::string(tail, ';');
      const auto buffer = std::make_unique<char[]>(text.size());
      std::memcpy(buffer.get(), text.data(), text.size());
      Arena arena;
      CompileConfig config;
      LexResult r = lex(std::string_view(buffer.get(), text.size()), config, arena);
      const Token token = testing::lexed_token(r, 1);
      EXPECT_EQ(token.kind.tag, TokenTag::Identifier) << text;
      EXPECT_EQ(token.start, 4u) << text;
      EXPECT_EQ(token.end, 4u + length) << text;
    }
  }
}

}  // namespace
}  // namespace quendal
