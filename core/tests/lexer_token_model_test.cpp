// The token model: property look-ups, field names, wrappers, diagnostics
// collection, deep copies and the driver's token recovery.
#include <gtest/gtest.h>

#include "diagnostic/diagnostics_collector.h"
#include "lexer_test_support.h"

namespace quendal {
namespace {

TEST(TokenModel, KeywordPropertiesAreTrueOrAbsent) {
  EXPECT_EQ(keyword_property(Keyword::Op, "reserved"), std::optional<bool>(true));
  EXPECT_EQ(keyword_property(Keyword::Op, "constant"), std::nullopt);
  EXPECT_EQ(keyword_property(Keyword::Nil, "constant"), std::optional<bool>(true));
  EXPECT_EQ(keyword_property(Keyword::Nil, "bogus"), std::nullopt);
  int constants = 0, reserved = 0;
  for (int i = 0; i < kKeywordCount; ++i) {
    const auto k = static_cast<Keyword>(i);
    for (const char* p : {"constant", "reserved", "arithmetic"})
      EXPECT_NE(keyword_property(k, p), std::optional(false));
    constants += keyword_property(k, "constant").has_value();
    reserved += keyword_property(k, "reserved").has_value();
  }
  EXPECT_EQ(constants, 5);
  EXPECT_EQ(reserved, 9);
  EXPECT_EQ(keyword_spelling(Keyword::NotIn), "not in");
  EXPECT_EQ(keyword_spelling(Keyword::Resume), "resume");
}

TEST(TokenModel, OperatorProperties) {
  EXPECT_EQ(operator_property(Operator::Exclamation, "postfix"), std::optional<bool>(true));
  EXPECT_EQ(operator_property(Operator::Exclamation, "logical"), std::optional<bool>(true));
  EXPECT_EQ(operator_property(Operator::Exclamation, "arithmetic"), std::nullopt);
  EXPECT_EQ(operator_property(Operator::AndAndEq, "compound"), std::optional<bool>(true));
  for (const char* p : {"arithmetic", "compound", "logical", "postfix", "equality", "comparison"}) {
    EXPECT_EQ(operator_property(Operator::QuestionQuestion, p), std::nullopt) << p;
  }
  std::string relations;
  for (int i = 0; i < kOperatorCount; ++i) {
    const auto op = static_cast<Operator>(i);
    if (is_relation(op)) relations += std::string(operator_spelling(op)) + " ";
  }
  EXPECT_EQ(relations, "== != =~ !~ > >= < <= ");
  EXPECT_EQ(operator_spelling(Operator::OrOrEq), "||=");
}

TEST(TokenModel, FieldNames) {
  Arena arena;
  auto name = [&](TokenKind k) { return k.to_field_name(arena); };
  EXPECT_EQ(name(TokenKind::of_keyword(Keyword::If)),
            std::optional(std::pair{DiagnosticCode::RecordFieldIdName, std::string_view("if")}));
  EXPECT_EQ(name(TokenKind::of_ordinal(7)),
            std::optional(std::pair{DiagnosticCode::RecordFieldOrdinalName, std::string_view("7")}));
  EXPECT_EQ(name(TokenKind::of_ordinal(2147483647))->second, "2147483647");
  EXPECT_EQ(name(TokenKind::identifier("x")),
            std::optional(std::pair{DiagnosticCode::RecordFieldIdName, std::string_view("x")}));
  StringInfo info;
  info.value = "s";
  EXPECT_EQ(name(TokenKind::of_string(&info)),
            std::optional(std::pair{DiagnosticCode::RecordFieldStringName, std::string_view("s")}));
  NumberInfo number;
  number.value = 1.5;
  EXPECT_EQ(name(TokenKind::of_number(&number)), std::nullopt);
  EXPECT_EQ(name(TokenKind::of_operator(Operator::Plus)), std::nullopt);
  EXPECT_EQ(name(TokenKind::of_interpolated(&info)), std::nullopt);
  EXPECT_EQ(name(TokenKind::unknown(arena, TokenKind::identifier("x"), 0, 1, DiagnosticCode::UnknownToken)),
            std::nullopt);
}

TEST(TokenModel, CollectDiagnosticsUnwrapsOneLevel) {
  Arena arena;
  CompileConfig config;
  DiagnosticsCollector collector("0123456789", config);
  NumberInfo info;
  info.value = 1;
  TokenKind inner =
      TokenKind::unknown(arena, TokenKind::of_number(&info), 1, 2, DiagnosticCode::InvalidNumberLiteral);
  Token token{TokenKind::unknown(arena, inner, 3, 4, DiagnosticCode::OverflowNumberLiteral), 0, 5};
  token.collect_diagnostics(collector);
  ASSERT_EQ(collector.diagnostics().size(), 1u);
  EXPECT_EQ(collector.diagnostics()[0], (SourceDiagnostic{3, 4, DiagnosticCode::OverflowNumberLiteral}));
  EXPECT_EQ(testing::print_token(token, true), "Unknown(Num(1 Invalid) !InvalidNumberLiteral@1..2)@0..5");
  token.collect_diagnostics(collector);
  EXPECT_EQ(collector.diagnostics().size(), 2u);
  EXPECT_EQ(testing::print_token(token, true), "Num(1 Invalid)@0..5");
  token.collect_diagnostics(collector);  // nothing left to collect
  EXPECT_EQ(collector.diagnostics().size(), 2u);
}

TEST(TokenModel, CollectDiagnosticsFilters) {
  Arena arena;
  CompileConfig config;
  config.report_errors = false;
  DiagnosticsCollector collector("x", config);
  Token token{TokenKind::unknown(arena, TokenKind::empty(), 0, 1, DiagnosticCode::UnknownToken), 0, 1};
  token.collect_diagnostics(collector);
  EXPECT_TRUE(collector.diagnostics().empty());
  EXPECT_EQ(token.kind.tag, TokenTag::Empty);
}

TEST(TokenModel, CopyDuplicatesUnknownBoxesAndSharesPayloads) {
  const std::string source = "'a\\t$(x + 'b$y')$(z:f)' 1e400 t.01";
  Arena arena;
  CompileConfig config;
  LexResult r = lex(source, config, arena);
  const UsingTokens using_tokens(r.tokens, arena);
  const std::string before = testing::print_tokens(r.tokens, true);
  std::vector<Token> copy;
  for (TokenIndex i = 0; i < r.tokens.list().size(); ++i)
    copy.push_back(clone_token(r.tokens.lexed(i, arena), arena));
  std::string printed;
  for (const Token& t : copy) printed += (printed.empty() ? "" : " ") + testing::print_token(t, true);
  EXPECT_EQ(printed, before);
  // Number and string payloads are read-only once lexed, so copies share
  // them; names borrow from the source.
  EXPECT_EQ(copy[0].kind.string, r.tokens.get(0).kind.string);
  const Token x = r.tokens.get(copy[0].kind.string->parts[0].tokens.begin);
  EXPECT_EQ(x.kind.text().data(), source.data() + 6);
  // Unknown boxes are duplicated: changing the copy leaves the store alone.
  const Token original = r.tokens.lexed(1, arena);
  ASSERT_EQ(copy[1].kind.tag, TokenTag::Unknown);
  EXPECT_NE(copy[1].kind.unknown_box, original.kind.unknown_box);
  copy[1].kind.unknown_box->diagnostics.clear();
  CompileConfig c;
  DiagnosticsCollector collector(source, c);
  copy[3].collect_diagnostics(collector);
  EXPECT_EQ(testing::print_tokens(r.tokens, true), before);
}

// The lexer's recovery, as the driver runs it: the store keeps each token's
// reading, the collector receives the records.
std::string recover(std::string_view source, bool tags, std::string* diagnostics, bool tmpl = false) {
  Arena arena;
  CompileConfig config;
  config.report_tags = tags;
  DiagnosticsCollector collector(source, config);
  LexResult r = tmpl ? lex_string(source, config, arena, &collector) : lex(source, config, arena, &collector);
  diagnostics->clear();
  for (const SourceDiagnostic& d : collector.diagnostics()) {
    if (!diagnostics->empty()) *diagnostics += ' ';
    *diagnostics += std::string(diagnostic_code_name(d.code)) + testing::range_text(d.start, d.end);
  }
  return testing::print_tokens(r.tokens, true, false);
}

TEST(RecoverToken, UnwrapsEveryLevelAndMovesDiagnostics) {
  std::string d;
  EXPECT_EQ(recover("t.1_ & 'x", false, &d),
            "Id(t)@0..1 Op(.)@1..2 Ord(1)@2..4 Empty@5..6 Str(\"x\")@7..9 Eof@9..9");
  EXPECT_EQ(d,
            "InvalidNumberLiteralUnderscore@2..4 InvalidOrdinalLiteral@2..4 UnknownToken@5..6 "
            "UnterminatedString@9..9");
}

TEST(RecoverToken, TagsStringsWhenAsked) {
  std::string d;
  EXPECT_EQ(recover("'a' 'b$(c)' 'x", true, &d),
            "Str(\"a\")@0..3 Interp(\"b\" [Id(c)@8..9] \"\" [])@4..11 Str(\"x\")@12..14 Eof@14..14");
  EXPECT_EQ(d, "String@0..3 Interpolation@4..11 UnterminatedString@14..14 String@12..14");
  recover("'a' 'b$(c)'", false, &d);
  EXPECT_EQ(d, "");
}

TEST(RecoverToken, RecursesIntoParts) {
  std::string d;
  EXPECT_EQ(recover("'$(1_ + '$if')'", true, &d),
            "Interp(\"\" [Num(1 Invalid)@3..5 Op(+)@6..7 Interp(\"\" [Kw(nil)@10..12] \"\" [])@8..13] \"\" "
            "[])@0..15 "
            "Eof@15..15");
  EXPECT_EQ(
      d, "Interpolation@0..15 InvalidNumberLiteralUnderscore@3..5 Interpolation@8..13 InvalidKeyword@10..12");
  EXPECT_EQ(recover("a $if b", false, &d, true), "Interp(\"a \" [Kw(nil)@3..5] \" b\" [])@0..7 Eof@7..7");
  EXPECT_EQ(d, "InvalidKeyword@3..5");
}

}  // namespace
}  // namespace quendal
