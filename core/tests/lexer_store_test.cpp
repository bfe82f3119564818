// The token store: columns and side tables, interned names, long tokens,
// growth past the first reserve, and what recovery writes as tokens are made.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "diagnostic/diagnostics_collector.h"
#include "lexer/keyword_table.h"
#include "lexer/lexer.h"
#include "lexer_test_support.h"

namespace quendal {
namespace {

struct Lexed {
  explicit Lexed(std::string text, bool tmpl = false) : source(std::move(text)) {
    result = tmpl ? lex_string(source, config, arena) : lex(source, config, arena);
    using_tokens.emplace(result.tokens, arena);
  }
  const Tokens& tokens() const { return result.tokens; }
  std::string_view name(TokenIndex i) const { return tokens().symbol_text(tokens().data(i)); }

  std::string source;
  CompileConfig config;
  Arena arena;
  LexResult result;
  std::optional<UsingTokens> using_tokens;
};

TEST(Symbols, DenseIdsInOrderOfFirstAppearance) {
  const Lexed l("b a b c.a a_very_long_name_indeed a_very_long_name_indeed");
  const Tokens& t = l.tokens();
  ASSERT_EQ(t.list().size(), 9u);
  const std::vector<std::uint32_t> ids = {t.data(0), t.data(1), t.data(2), t.data(3),
                                          t.data(5), t.data(6), t.data(7)};
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{0, 1, 0, 2, 1, 3, 3}));
  EXPECT_EQ(t.symbol_count(), 4u);
  EXPECT_EQ(l.name(6), "a_very_long_name_indeed");
  const Token b = t.get(2);
  EXPECT_EQ(b.kind.symbol, 0u);
  EXPECT_EQ(b.kind.text(), "b");
}

TEST(Symbols, NamesStartingWithAtAreKnownWithoutTheirText) {
  for (const bool tmpl : {false, true}) {
    const Lexed l(tmpl ? "$(a @b) and $(@@c a_long_name_without @b)" : "a @b '$(@@c)' a_long_name_without @b",
                  tmpl);
    const Tokens& t = l.tokens();
    ASSERT_EQ(t.symbol_count(), 4u) << tmpl;
    for (SymbolId id = 0; id < t.symbol_count(); ++id)
      EXPECT_EQ(t.symbol_starts_with_at(id), t.symbol_text(id).front() == '@') << t.symbol_text(id);
  }
}

TEST(Symbols, ADemotedKeywordSharesTheIdOfItsSpelling) {
  // `if` before `:` is a name; `not in` before `:` a name with one blank.
  const Lexed l("if x: if: 1, not   in: 2, `type` type");
  const Tokens& t = l.tokens();
  std::vector<std::string> names;
  for (TokenIndex i = 0; i < t.list().end; ++i)
    if (t.tag(i) == TokenTag::Identifier) names.emplace_back(l.name(i));
  EXPECT_EQ(names, (std::vector<std::string>{"x", "if", "not in", "type"}));
}

TEST(Symbols, ManyNamesSurviveTheIndexGrowing) {
  std::string source;
  for (int i = 0; i < 5000; ++i) source += "n" + std::to_string(i) + " ";
  for (int i = 0; i < 5000; i += 7) source += "n" + std::to_string(i) + " ";
  const Lexed l(source);
  const Tokens& t = l.tokens();
  EXPECT_EQ(t.symbol_count(), 5000u);
  for (TokenIndex i = 0; i + 1 < t.list().end; ++i) {
    ASSERT_EQ(t.tag(i), TokenTag::Identifier);
    ASSERT_EQ(l.name(i), std::string_view(source).substr(t.start(i), t.end(i) - t.start(i)));
  }
  EXPECT_EQ(t.data(5000), t.data(0));  // n0 again
}

TEST(Symbols, AKeywordSpellingGetsItsIdWhenFirstUsedAsAName) {
  // Keywords and names share one index; a keyword's spelling takes the next
  // id only where it is first read as a name (after a dot, before a colon).
  const Lexed l("true x.if y.true if: x.if true " + std::string(16, ' '));
  const Tokens& t = l.tokens();
  std::vector<std::string> seen;
  for (TokenIndex i = 0; i + 1 < t.list().end; ++i) {
    if (t.tag(i) == TokenTag::Identifier)
      seen.push_back(std::to_string(t.data(i)) + "=" + std::string(l.name(i)));
    else if (t.tag(i) == TokenTag::Keyword)
      seen.push_back(std::string(keyword_spelling(t.keyword(i))));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"true", "0=x", "1=if", "2=y", "3=true", "1=if", "0=x", "1=if",
                                            "true"}));
  EXPECT_EQ(t.symbol_count(), 4u);
}

TEST(Symbols, KeywordsAreStillFoundAfterTheIndexGrows) {
  std::string source;
  for (int i = 0; i < 3000; ++i) source += "n" + std::to_string(i) + (i % 100 == 0 ? " let x.let " : " ");
  source += "let while x.while nnnnnnnnnnnn n0";
  const Lexed l(source);
  const Tokens& t = l.tokens();
  const TokenIndex last = t.list().end - 1;  // Eof
  EXPECT_TRUE(t.is_keyword(last - 7, Keyword::Let));
  EXPECT_TRUE(t.is_keyword(last - 6, Keyword::While));
  EXPECT_EQ(l.name(last - 3), "while");
  EXPECT_EQ(l.name(last - 2), "nnnnnnnnnnnn");
  EXPECT_EQ(t.data(last - 1), t.data(0));  // n0 again
  EXPECT_EQ(t.symbol_count(), 3000u + 4);  // the names, x, let, while and the long one
}

TEST(Symbols, ALargeSourceStartsWithARoomierIndex) {
  // The index is sized from the length of the source; names and keywords
  // are found the same way in it, and it still grows past its estimate.
  std::string source = "/*" + std::string(1 << 20, ' ') + "*/ ";
  for (int i = 0; i < 20000; ++i) source += "n" + std::to_string(i) + (i % 1000 == 0 ? " let x.let " : " ");
  source += "let n0 n19999 a_rather_long_name a_rather_long_name";
  const Lexed l(source);
  const Tokens& t = l.tokens();
  const TokenIndex last = t.list().end - 1;  // Eof
  EXPECT_EQ(t.symbol_count(), 20000u + 3);   // the names, x, let and the long one
  EXPECT_TRUE(t.is_keyword(last - 5, Keyword::Let));
  EXPECT_EQ(t.data(last - 4), t.data(0));  // n0 again
  EXPECT_EQ(l.name(last - 3), "n19999");
  EXPECT_EQ(t.data(last - 2), t.data(last - 1));
  EXPECT_EQ(l.name(last - 1), "a_rather_long_name");
}

// Small sources start from a copy of one keyword table; large ones build a
// roomier table of their own: every keyword is found in both.
class KeywordTables : public ::testing::TestWithParam<std::size_t> {};

TEST_P(KeywordTables, EverySpellingIsFoundAndNearMissesAreNot) {
  const std::string prefix = GetParam() == 0 ? "" : "/*" + std::string(GetParam(), ' ') + "*/ ";
  for (int k = 0; k < kKeywordCount; ++k) {
    const auto keyword = static_cast<Keyword>(k);
    const std::string_view spelling = keyword_spelling(keyword);
    if (keyword == Keyword::NotIn) continue;  // only made by merging `not` and `in`
    // Before a name, as `type` is a keyword only there.
    const Lexed l{prefix + std::string(spelling) + " x"};
    ASSERT_EQ(l.tokens().tag(0), TokenTag::Keyword) << spelling;
    EXPECT_EQ(l.tokens().keyword(0), keyword) << spelling;
    for (const std::string& near : {std::string(spelling) + "x", "x" + std::string(spelling),
                                    std::string(spelling.substr(0, spelling.size() - 1)) + "Q"}) {
      const Lexed m(prefix + near);
      EXPECT_EQ(m.tokens().tag(0), TokenTag::Identifier) << near;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Keywords, KeywordTables, ::testing::Values(std::size_t{0}, std::size_t{1} << 17));

TEST(LongTokens, EndsBeyondTheLengthByteAreKept) {
  const std::string name(300, 'n');
  const std::string text(70000, 't');
  const std::string source = name + " '" + text + "' '$(" + name + ") $('" + text + "')' x";
  const Lexed l(source);
  const Tokens& t = l.tokens();
  ASSERT_EQ(t.list().size(), 5u);
  EXPECT_EQ(t.end(0), 300u);
  EXPECT_EQ(t.end(1), 300u + 1 + 70002);
  const Token interpolated = t.get(2);
  ASSERT_EQ(interpolated.kind.tag, TokenTag::InterpolatedString);
  const auto& parts = interpolated.kind.string->parts;
  ASSERT_EQ(parts.size(), 3u);
  ASSERT_EQ(parts[0].tokens.size(), 1u);
  const TokenIndex inner_name = parts[0].tokens.begin;
  EXPECT_EQ(t.end(inner_name) - t.start(inner_name), 300u);
  EXPECT_EQ(t.symbol_text(t.data(inner_name)), name);
  ASSERT_EQ(parts[1].tokens.size(), 1u);
  const TokenIndex inner_string = parts[1].tokens.begin;
  EXPECT_EQ(t.end(inner_string) - t.start(inner_string), 70002u);
  EXPECT_EQ(t.get(inner_string).kind.text().size(), 70000u);
  EXPECT_EQ(t.end(3), source.size());  // x
  EXPECT_EQ(t.end(t.list().end - 1), source.size());
}

TEST(LongTokens, NotAndInMergeAcrossALongComment) {
  const std::string source = "a not /*" + std::string(400, '*') + "*/ in b";
  const Lexed l(source);
  const Tokens& t = l.tokens();
  ASSERT_EQ(t.list().size(), 4u);
  EXPECT_TRUE(t.is_keyword(1, Keyword::NotIn));
  EXPECT_EQ(t.start(1), 2u);
  EXPECT_EQ(t.end(1), source.size() - 2);
}

TEST(Columns, GrowPastTheFirstReserve) {
  // One token per byte, three times what the first reserve expects; also in
  // an interpolation.
  const std::string semis(30000, ';');
  const Lexed l(semis + " '${" + semis + "}'");
  const Tokens& t = l.tokens();
  ASSERT_EQ(t.list().size(), 30000u + 2);
  for (TokenIndex i = 0; i < 30000; ++i) {
    ASSERT_TRUE(t.is_operator(i, Operator::Semicolon));
    ASSERT_EQ(t.start(i), i);
  }
  const Token s = t.get(30000);
  ASSERT_EQ(s.kind.tag, TokenTag::InterpolatedString);
  EXPECT_EQ(s.kind.string->parts[0].tokens.size(), 30000u + 2);  // the braces too
}

TEST(Columns, ATokenWithoutPayloadIsTenBytes) {
  // Kind and length bytes, start and datum words; operators, keywords and
  // ordinals need nothing else.
  std::string source;
  for (int i = 0; i < 5000; ++i) source += "( let 7 ";
  const Lexed l(source);
  ASSERT_EQ(l.tokens().size(), 15001u);
  EXPECT_EQ(l.tokens().bytes_used(), 15001u * 10);
  EXPECT_GE(l.tokens().bytes_reserved(), l.tokens().bytes_used());
}

TEST(Columns, LengthAndDatumLieOneCapacityAfterKindAndStart) {
  // The lexer writes a row through its kind and its start alone.
  TokenColumns columns;
  for (const std::size_t rows : {1, 2, 7, 1000}) {
    columns.reserve(rows);
    EXPECT_EQ(columns.lengths(), reinterpret_cast<std::uint8_t*>(columns.tags()) + columns.capacity());
    EXPECT_EQ(columns.data(), columns.starts() + columns.capacity());
  }
  for (std::uint32_t i = 0; i < 5000; ++i) columns.push(TokenTag::Operator, i, i % 300, i * 3);
  EXPECT_EQ(columns.lengths(), reinterpret_cast<std::uint8_t*>(columns.tags()) + columns.capacity());
  EXPECT_EQ(columns.data(), columns.starts() + columns.capacity());
  EXPECT_EQ(columns.data()[4999], 4999u * 3);
  EXPECT_EQ(columns.lengths()[299], TokenColumns::kLongLength);
  EXPECT_EQ(columns.lengths()[4999], 4999u % 300);
}

TEST(Refusal, RowsBeyondThirtyTwoBitIndicesAreNeverHeld) {
  // A store refuses to grow past 32-bit indices rather than hand out a
  // smaller block; the lexer checks the lists fit before joining them.
  TokenColumns columns;
  EXPECT_THROW(columns.reserve(TokenColumns::kMostRows + 1), std::bad_alloc);
  EXPECT_EQ(columns.capacity(), 0u);
  EXPECT_TRUE(lexer::rows_fit(TokenColumns::kMostRows - 7, 7));
  EXPECT_FALSE(lexer::rows_fit(TokenColumns::kMostRows - 7, 8));
  EXPECT_FALSE(lexer::rows_fit(TokenColumns::kMostRows, TokenColumns::kMostRows));
}

TEST(Refusal, SourcesOfFourGibibytesAreRefusedBeforeAnythingIsRead) {
  // The view is never read: the size alone is refused.
  const char byte = 'x';
  const std::string_view huge(&byte, std::size_t{1} << 32);
  Arena arena;
  CompileConfig config;
  for (bool tmpl : {false, true}) {
    const LexResult r = tmpl ? lex_string(huge, config, arena) : lex(huge, config, arena);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.stop_offset, 0u);
    EXPECT_TRUE(r.tokens.list().empty());
  }
}

// What recovery writes while the lexer makes the tokens: every record in the
// order a second pass over the finished list would give.
std::string records(std::string_view source, bool tags, bool tmpl = false) {
  Arena arena;
  CompileConfig config;
  config.report_tags = tags;
  DiagnosticsCollector collector(source, config);
  collector.append_direct({0, 0, DiagnosticCode::InternalError});  // kept: nothing before it is touched
  const LexResult r =
      tmpl ? lex_string(source, config, arena, &collector) : lex(source, config, arena, &collector);
  std::string out = r.ok ? "" : "failed ";
  for (const SourceDiagnostic& d : collector.diagnostics()) {
    if (!out.empty() && out.back() != ' ') out += ' ';
    out += std::string(diagnostic_code_name(d.code)) + testing::range_text(d.start, d.end);
  }
  return out;
}

TEST(Recovery, NestedRecordsFollowTheirStringInSourceOrder) {
  // The outer literal's own diagnostics and tag come first, then the tokens
  // inside it, depth first; a token after the string comes last.
  EXPECT_EQ(records("'\\q$('\\w$(1_)' &)\\e' #", true),
            "InternalError@0..0 InvalidEscapeSequence@1..3 InvalidEscapeSequence@17..19 Interpolation@0..20 "
            "InvalidEscapeSequence@6..8 Interpolation@5..14 InvalidNumberLiteralUnderscore@10..12 "
            "UnknownToken@15..16 UnknownToken@21..22");
  EXPECT_EQ(records("'\\q$('\\w$(1_)' &)\\e' #", false),
            "InternalError@0..0 InvalidEscapeSequence@1..3 InvalidEscapeSequence@17..19 "
            "InvalidEscapeSequence@6..8 InvalidNumberLiteralUnderscore@10..12 UnknownToken@15..16 "
            "UnknownToken@21..22");
}

TEST(Recovery, WithoutTagsOnlyTheNestedDiagnosticsAreReported) {
  // Strings before the first nested diagnostic, after it, and deeper ones.
  const std::string source = "'$(a)' '$x $(b:f)' '$(c + '$(1_)')' '$(2_)' '$(f)'";
  EXPECT_EQ(records(source, false),
            "InternalError@0..0 InvalidNumberLiteralUnderscore@29..31 InvalidNumberLiteralUnderscore@39..41");
  EXPECT_EQ(records(source, true),
            "InternalError@0..0 Interpolation@0..6 Interpolation@7..18 Interpolation@19..35 "
            "Interpolation@26..33 InvalidNumberLiteralUnderscore@29..31 Interpolation@36..43 "
            "InvalidNumberLiteralUnderscore@39..41 Interpolation@44..50");
}

TEST(Recovery, ATemplateTagsItselfThenItsInterpolations) {
  EXPECT_EQ(records("a $('b') $if", true, true),
            "InternalError@0..0 Interpolation@0..12 String@4..7 InvalidKeyword@10..12");
}

TEST(Recovery, AFailedLexLeavesTheRecordsAsTheyWere) {
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "'$(";
  EXPECT_EQ(records("# " + deep, true), "failed InternalError@0..0");
}

TEST(Recovery, TheStoreRemembersWhatEachTokenCarried) {
  const Lexed l("t.1_ & '$(2_)'");
  const Tokens& t = l.tokens();
  const auto ordinal = t.diagnostics_of(2);
  ASSERT_EQ(ordinal.size(), 2u);
  EXPECT_EQ(ordinal[0].code, DiagnosticCode::InvalidNumberLiteralUnderscore);
  EXPECT_EQ(ordinal[0].level, 0u);
  EXPECT_EQ(ordinal[1].code, DiagnosticCode::InvalidOrdinalLiteral);
  EXPECT_EQ(ordinal[1].level, 1u);
  EXPECT_EQ(t.get(2).kind.tag, TokenTag::Ordinal);  // recovered
  EXPECT_EQ(t.tag(3), TokenTag::Empty);             // the unknown `&`, unwrapped
  EXPECT_EQ(t.diagnostics_of(3).size(), 1u);
  EXPECT_TRUE(t.diagnostics_of(0).empty());
  const Token s = t.get(4);
  const TokenIndex inner = s.kind.string->parts[0].tokens.begin;
  ASSERT_EQ(t.diagnostics_of(inner).size(), 1u);
  EXPECT_EQ(t.diagnostics_of(inner)[0].code, DiagnosticCode::InvalidNumberLiteralUnderscore);
}

}  // namespace
}  // namespace quendal
