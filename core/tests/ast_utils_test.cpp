// Token references, node ranges, the diagnostics walk and the dump, on trees
// built by hand.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "debug/ast_dump.h"
#include "diagnostic/diagnostics_collector.h"
#include "lexer/tokens.h"
#include "parse_helper.h"
#include "parser/ast.h"
#include "parser/ranges.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

std::string failure_text(const std::function<void()>& f) {
  try {
    f();
  } catch (const InternalFailure& failure) {
    return failure.what();
  }
  return "(no failure)";
}

class TreeTest : public ::testing::Test {
 protected:
  TreeTest() : collector("", config), using_tokens(store, arena) {}

  // A token in the store (kept alive by the fixture).
  TokenRef borrowed(TokenKind kind, std::uint32_t start, std::uint32_t end) {
    return TokenRef::borrowed(store.append(Token{kind, start, end}));
  }
  TokenRef ident(std::string_view name, std::uint32_t start) {
    return borrowed(TokenKind::identifier(name), start, start + static_cast<std::uint32_t>(name.size()));
  }
  TokenRef op(Operator o, std::uint32_t start) {
    return borrowed(TokenKind::of_operator(o), start,
                    start + static_cast<std::uint32_t>(operator_spelling(o).size()));
  }
  TokenRef keyword(Keyword k, std::uint32_t start) {
    return borrowed(TokenKind::of_keyword(k), start,
                    start + static_cast<std::uint32_t>(keyword_spelling(k).size()));
  }
  // An inserted token: zero-width, wrapped with its diagnostic.
  TokenRef inserted(Operator o, std::uint32_t at, DiagnosticCode code) {
    return TokenRef::make_owned(arena, TokenKind::unknown(arena, TokenKind::of_operator(o), at, at, code), at,
                                at);
  }
  Expression* variable(std::string_view name, std::uint32_t start) {
    auto* v = arena.make<VariableExpression>();
    v->token = ident(name, start);
    return v;
  }
  TokenRefList list(std::initializer_list<TokenRef> tokens) { return TokenRefList(tokens, &arena); }
  BlockExpression* block(std::uint32_t open, std::uint32_t close) {
    auto* b = arena.make<BlockExpression>();
    b->open = op(Operator::OpenBrace, open);
    b->close = op(Operator::CloseBrace, close);
    return b;
  }
  std::string collected() { return dump_diagnostics(collector.diagnostics()); }

  Arena arena;
  Tokens store;
  CompileConfig config;
  DiagnosticsCollector collector;
  UsingTokens using_tokens;
};

// ------------------------------------------------------------- TokenRef

TEST_F(TreeTest, NullTokenReferenceIsAnInternalFailure) {
  TokenRef null;
  EXPECT_TRUE(null.is_null());
  EXPECT_EQ(failure_text([&] { (void)null.get(); }), "Inner token pointer should not be null");
  EXPECT_EQ(failure_text([&] { (void)null.range(); }), "Inner token pointer should not be null");
  EXPECT_EQ(failure_text([&] { null.collect_diagnostics(collector); }),
            "Inner token pointer should not be null");
  EXPECT_EQ(failure_text([&] { null.wrap_as_unknown(arena, DiagnosticCode::UnexpectedToken); }),
            "Inner token pointer should not be null");
  auto* literal = arena.make<LiteralExpression>();
  EXPECT_EQ(failure_text([&] { (void)range_of(*literal); }), "Inner token pointer should not be null");
}

TEST_F(TreeTest, WrappingABorrowedTokenLeavesTheTokenListAlone) {
  TokenRef ref = borrowed(TokenKind::identifier("op"), 3, 5);
  const TokenIndex original = ref.index();
  ref.wrap_as_unknown(arena, DiagnosticCode::InvalidReservedKeyword);
  EXPECT_TRUE(ref.is_owned());
  EXPECT_EQ(store.get(original).kind.tag, TokenTag::Identifier);
  EXPECT_EQ(ref->kind.tag, TokenTag::Unknown);
  EXPECT_EQ(ref.range(), (SourceRange{3, 5}));
  EXPECT_EQ(dump_token_ref(ref), "<op@3..5 !InvalidReservedKeyword>");
  ref.collect_diagnostics(collector);
  EXPECT_EQ(collected(), "InvalidReservedKeyword@3..5");
  EXPECT_EQ(ref->kind.tag, TokenTag::Identifier);
  EXPECT_EQ(ref->kind.text(), "op");
}

TEST_F(TreeTest, WrappingAnOwnedTokenRewritesItInPlace) {
  TokenRef ref = TokenRef::make_owned(arena, TokenKind::of_keyword(Keyword::Mut), 0, 3);
  const Token* before = ref.owned_pointer();
  ref.wrap_as_unknown(arena, DiagnosticCode::MutInRebindPattern);
  EXPECT_EQ(ref.owned_pointer(), before);
  ref.wrap_as_unknown(arena, DiagnosticCode::UnexpectedToken);
  EXPECT_EQ(dump_token_ref(ref), "<mut@0..3 !UnexpectedToken !MutInRebindPattern>");
  // One level per walk: the outer diagnostic only.
  ref.collect_diagnostics(collector);
  EXPECT_EQ(collected(), "UnexpectedToken@0..3");
  EXPECT_EQ(ref->kind.tag, TokenTag::Unknown);
  ref.collect_diagnostics(collector);
  EXPECT_EQ(collected(), "UnexpectedToken@0..3 MutInRebindPattern@0..3");
  EXPECT_TRUE(ref->kind.is_keyword(Keyword::Mut));
}

TEST_F(TreeTest, CloneSharesBorrowedAndCopiesOwnedTokens) {
  TokenRef b = ident("x", 1);
  TokenRef b2 = b.clone(arena);
  EXPECT_FALSE(b2.is_owned());
  EXPECT_EQ(b2, b);

  TokenRef o = inserted(Operator::Semicolon, 4, DiagnosticCode::MissingSemicolon);
  TokenRef o2 = o.clone(arena);
  EXPECT_TRUE(o2.is_owned());
  EXPECT_NE(o2.owned_pointer(), o.owned_pointer());
  o.collect_diagnostics(collector);
  EXPECT_EQ(o2->kind.tag, TokenTag::Unknown);  // the copy keeps its own wrapper
  o2.collect_diagnostics(collector);
  EXPECT_EQ(collected(), "MissingSemicolon@4 MissingSemicolon@4");
}

TEST_F(TreeTest, BorrowedUnknownTokensAreNeverCollected) {
  TokenRef ref =
      borrowed(TokenKind::unknown(arena, TokenKind::empty(), 0, 1, DiagnosticCode::UnknownToken), 0, 1);
  ref.collect_diagnostics(collector);
  EXPECT_EQ(collected(), "");
  EXPECT_EQ(ref->kind.tag, TokenTag::Unknown);
}

// ---------------------------------------------------------- builders

TEST_F(TreeTest, UnknownBuildersRejectEmptyTokenLists) {
  const std::string text = "assertion failed: !tokens.is_empty()";
  EXPECT_EQ(
      failure_text([&] { make_unknown_expression(arena, list({}), DiagnosticCode::UnknownExpression); }),
      text);
  EXPECT_EQ(failure_text([&] {
              wrap_expression_as_unknown(arena, variable("a", 0), list({}), DiagnosticCode::BadInterpolation);
            }),
            text);
  EXPECT_EQ(failure_text([&] { make_unknown_pattern(arena, list({}), DiagnosticCode::UnknownPattern); }),
            text);
  EXPECT_EQ(failure_text([&] {
              wrap_pattern_as_unknown(arena, arena.make<OmittedPattern>(), list({}),
                                      DiagnosticCode::UnknownPattern);
            }),
            text);
}

TEST_F(TreeTest, UnknownBuildersSpanTheirTokens) {
  UnknownExpression* e = make_unknown_expression(arena, list({keyword(Keyword::Else, 0), ident("b", 5)}),
                                                 DiagnosticCode::UnknownExpression);
  EXPECT_EQ(range_of(*e), (SourceRange{0, 6}));
  EXPECT_EQ(dump_expression(*e), "(unknown@0..6 else b !UnknownExpression@0..6)");

  UnknownExpression* placeholder =
      make_unknown_expression_range(arena, 7, 7, DiagnosticCode::ExpressionExpected);
  EXPECT_EQ(range_of(*placeholder), (SourceRange{7, 7}));
  ASSERT_EQ(placeholder->tokens.size(), 1u);
  EXPECT_TRUE(placeholder->tokens[0].is_owned());
  EXPECT_EQ(placeholder->tokens[0]->kind.tag, TokenTag::Empty);
  EXPECT_EQ(dump_expression(*placeholder), "(unknown@7 <#empty@7> !ExpressionExpected@7)");

  UnknownStatement* s =
      make_unknown_statement(arena, op(Operator::CloseParen, 3), DiagnosticCode::UnmatchedCloseParen);
  EXPECT_EQ(range_of(*s), (SourceRange{3, 4}));
  EXPECT_EQ(dump_statement(*s), "(unknown@3..4 ) !UnmatchedCloseParen@3..4)");
}

// ------------------------------------------------------------------ ranges

TEST_F(TreeTest, UnknownStatementWithoutTokensHasTheEmptyMaximumRange) {
  auto* s = arena.make<UnknownStatement>(&arena);
  EXPECT_EQ(range_of(*s), (SourceRange{std::numeric_limits<std::uint64_t>::max(), 0}));
}

TEST_F(TreeTest, UnknownExpressionRangeCoversTokensAndInner) {
  // tokens out of order, inner node reaching further left and right
  auto* binary = arena.make<BinaryExpression>();
  binary->left = variable("a", 0);
  binary->op = op(Operator::Plus, 2);
  binary->right = variable("b", 12);
  UnknownExpression* e = wrap_expression_as_unknown(arena, binary, list({ident("y", 8), ident("x", 5)}),
                                                    DiagnosticCode::BadInterpolation);
  EXPECT_EQ(range_of(*e), (SourceRange{0, 13}));
}

TEST_F(TreeTest, IfRangeEndsAtTheLastBodyOfTheElseChain) {
  // if a {} else if b {}
  auto* inner = arena.make<IfExpression>();
  inner->keyword = keyword(Keyword::If, 13);
  inner->condition = variable("b", 16);
  inner->body = block(18, 19);
  auto* outer = arena.make<IfExpression>();
  outer->keyword = keyword(Keyword::If, 0);
  outer->condition = variable("a", 3);
  outer->body = block(5, 6);
  EXPECT_EQ(range_of(*outer), (SourceRange{0, 7}));
  outer->else_block = arena.make<ElseBlock>();
  outer->else_block->keyword = keyword(Keyword::Else, 8);
  outer->else_block->body = inner;
  EXPECT_EQ(range_of(*inner), (SourceRange{13, 20}));
  EXPECT_EQ(range_of(*outer), (SourceRange{0, 20}));
  EXPECT_EQ(range_of(*outer->else_block), (SourceRange{8, 20}));
  EXPECT_EQ(dump_expression(*outer), "(if a (block) (else (if b (block))))");
}

TEST_F(TreeTest, ElementRanges) {
  // (a: 1, ..b)
  RecordElement keyed;
  keyed.kind = RecordElementKind::Keyed;
  keyed.key = ident("a", 1);
  keyed.colon = op(Operator::Colon, 2);
  auto* one = arena.make<LiteralExpression>();
  one->token = borrowed(TokenKind::of_ordinal(1), 4, 5);
  keyed.value = one;
  EXPECT_EQ(range_of(keyed), (SourceRange{1, 5}));
  ListItem<RecordElement> item{keyed, op(Operator::Comma, 5)};
  EXPECT_EQ(range_of(item), (SourceRange{1, 6}));

  RecordElement spread;
  spread.kind = RecordElementKind::Spread;
  spread.spread = op(Operator::DotDot, 7);
  spread.value = variable("b", 9);
  EXPECT_EQ(range_of(spread), (SourceRange{7, 10}));

  ArgumentElement argument;
  argument.set_spread(op(Operator::DotDot, 3), variable("xs", 5));
  EXPECT_EQ(range_of(argument), (SourceRange{3, 7}));

  PatternElement omitted;
  auto* o = arena.make<OmittedPattern>();
  o->position = 5;
  omitted.set_spread(op(Operator::DotDot, 3), o);
  EXPECT_EQ(range_of(omitted), (SourceRange{3, 5}));
}

// ------------------------------------------------------ collecting diagnostics

TEST_F(TreeTest, UnknownAroundInnerIsReplacedInPlace) {
  auto* binary = arena.make<BinaryExpression>();
  binary->left = variable("a", 0);
  binary->op = op(Operator::Plus, 2);
  binary->right = variable("b", 4);
  ArenaRef<Expression> slot = wrap_expression_as_unknown(arena, binary, list({ident("c", 6), ident("d", 8)}),
                                                         DiagnosticCode::BadInterpolation);
  collect_diagnostics(slot, collector);
  EXPECT_EQ(slot.get(), binary);
  // reported over the tokens only, not over the inner expression
  EXPECT_EQ(collected(), "BadInterpolation@6..9");
  EXPECT_EQ(dump_expression(*slot), "(+ a b)");
}

TEST_F(TreeTest, NestedUnknownsUnwrapToTheInnermostNode) {
  Expression* a = variable("a", 4);
  ArenaRef<Expression> slot = wrap_expression_as_unknown(
      arena, wrap_expression_as_unknown(arena, a, list({ident("y", 2)}), DiagnosticCode::BadInterpolation),
      list({ident("x", 0)}), DiagnosticCode::RecordLiteralInExtensionCaller);
  collect_diagnostics(slot, collector);
  EXPECT_EQ(slot.get(), a);
  EXPECT_EQ(collected(), "RecordLiteralInExtensionCaller@0..1 BadInterpolation@2..3");
}

TEST_F(TreeTest, UnknownWithoutInnerStaysAndIsEmptied) {
  ArenaRef<Expression> slot =
      make_unknown_expression(arena, list({ident("x", 0)}), DiagnosticCode::UnknownExpression);
  Expression* before = slot;
  collect_diagnostics(slot, collector);
  EXPECT_EQ(slot.get(), before);
  EXPECT_EQ(slot->kind, ExpressionKind::Unknown);
  EXPECT_TRUE(slot->as<UnknownExpression>().diagnostics.empty());
  collect_diagnostics(slot, collector);
  EXPECT_EQ(collected(), "UnknownExpression@0..1");
}

TEST_F(TreeTest, PatternUnknownInsideAStatementIsReplacedThroughItsSlot) {
  // let mut @x = 1; with the binding wrapped
  auto* binding = arena.make<BindingPattern>();
  binding->mut = keyword(Keyword::Mut, 4);
  binding->name = ident("@x", 8);
  auto* bind = arena.make<BindStatement>();
  bind->keyword = keyword(Keyword::Let, 0);
  bind->pattern = wrap_pattern_as_unknown(arena, binding, list({binding->mut, binding->name}),
                                          DiagnosticCode::ConstantInBindPattern);
  bind->op = op(Operator::Eq, 11);
  auto* one = arena.make<LiteralExpression>();
  one->token = borrowed(TokenKind::of_ordinal(1), 13, 14);
  bind->value = one;
  bind->semicolon = op(Operator::Semicolon, 14);
  EXPECT_EQ(dump_statement(*bind),
            "(let (unknown@4..10 mut @x inner=(mut @x) !ConstantInBindPattern@4..10) 1)");
  collect_diagnostics(*bind, collector);
  EXPECT_EQ(bind->pattern.get(), binding);
  EXPECT_EQ(collected(), "ConstantInBindPattern@4..10");
  EXPECT_EQ(dump_statement(*bind), "(let (mut @x) 1)");
  EXPECT_EQ(range_of(*bind), (SourceRange{0, 15}));
}

TEST_F(TreeTest, StatementWithTwoInsertedTokensReportsBothZeroWidth) {
  // let x 1   (missing `=` and `;`)
  auto* bind = arena.make<BindStatement>();
  bind->keyword = keyword(Keyword::Let, 0);
  auto* x = arena.make<BindingPattern>();
  x->name = ident("x", 4);
  bind->pattern = x;
  bind->op = inserted(Operator::Eq, 5, DiagnosticCode::MissingBindOperator);
  auto* one = arena.make<LiteralExpression>();
  one->token = borrowed(TokenKind::of_ordinal(1), 6, 7);
  bind->value = one;
  bind->semicolon = inserted(Operator::Semicolon, 7, DiagnosticCode::MissingSemicolon);
  EXPECT_EQ(range_of(*bind), (SourceRange{0, 7}));
  EXPECT_EQ(dump_statement(*bind), "(let x <=@5 !MissingBindOperator> 1 <;@7 !MissingSemicolon>)");
  collect_diagnostics(*bind, collector);
  EXPECT_EQ(collected(), "MissingBindOperator@5 MissingSemicolon@7");
  EXPECT_TRUE(bind->op->kind.is_operator(Operator::Eq));
  EXPECT_TRUE(bind->semicolon->kind.is_operator(Operator::Semicolon));
  EXPECT_EQ(dump_statement(*bind), "(let x <=@5> 1 <;@7>)");
}

TEST_F(TreeTest, DiagnosticsFollowFieldOrder) {
  // Conditional: condition, then, otherwise, question, colon
  auto* c = arena.make<ConditionalExpression>();
  c->condition = make_unknown_expression(arena, list({ident("a", 0)}), DiagnosticCode::UnknownExpression);
  c->question = op(Operator::Question, 2);
  c->then = make_unknown_expression_range(arena, 3, 3, DiagnosticCode::ExpressionExpected);
  c->colon = inserted(Operator::Colon, 3, DiagnosticCode::MissingColon);
  c->otherwise = variable("b", 4);
  ArenaRef<Expression> slot = c;
  collect_diagnostics(slot, collector);
  EXPECT_EQ(collected(), "UnknownExpression@0..1 ExpressionExpected@3 MissingColon@3");

  // Call: callee, arguments (separator before value), open, close
  DiagnosticsCollector second("", config);
  auto* call = arena.make<CallExpression>();
  call->callee.token = ident("f", 0);
  call->open = op(Operator::OpenParen, 1);
  ArgumentElement first_argument;
  first_argument.element = variable("x", 2);
  call->arguments.push_back(arena,
                            {first_argument, inserted(Operator::Comma, 3, DiagnosticCode::MissingComma)});
  ArgumentElement hole;
  hole.element = make_unknown_expression_range(arena, 4, 4, DiagnosticCode::ExpressionExpected);
  call->arguments.push_back(arena, {hole, TokenRef()});
  call->close = inserted(Operator::CloseParen, 4, DiagnosticCode::MissingCloseParen);
  ArenaRef<Expression> call_slot = call;
  EXPECT_EQ(
      dump_expression(*call),
      "(call f x <,@3 !MissingComma> (unknown@4 <#empty@4> !ExpressionExpected@4) <)@4 !MissingCloseParen>)");
  collect_diagnostics(call_slot, second);
  EXPECT_EQ(dump_diagnostics(second.diagnostics()),
            "MissingComma@3 ExpressionExpected@4 MissingCloseParen@4");
}

TEST_F(TreeTest, InterpolationStringTokenIsNotVisited) {
  // An interpolation whose (artificial) token still carries a wrapper: the
  // walker visits the parts only.
  const TokenRef string_token =
      borrowed(TokenKind::unknown(arena, TokenKind::empty(), 0, 8, DiagnosticCode::UnterminatedString), 0, 8);
  auto* interpolation = arena.make<InterpolationExpression>();
  interpolation->token = string_token;
  interpolation->parts.push_back(arena,
                                 make_unknown_expression(arena, list({borrowed(TokenKind::empty(), 3, 3)}),
                                                         DiagnosticCode::EmptyInterpolation));
  ArenaRef<Expression> slot = interpolation;
  collect_diagnostics(slot, collector);
  EXPECT_EQ(collected(), "EmptyInterpolation@3");
  EXPECT_EQ(string_token->kind.tag, TokenTag::Unknown);
  EXPECT_EQ(range_of(*interpolation), (SourceRange{0, 8}));
}

TEST_F(TreeTest, CollectionHonoursTheConfiguration) {
  CompileConfig quiet;
  quiet.report_errors = false;
  DiagnosticsCollector filtered("", quiet);
  ArenaRef<Expression> slot = wrap_expression_as_unknown(arena, variable("a", 2), list({ident("x", 0)}),
                                                         DiagnosticCode::BadInterpolation);
  collect_diagnostics(slot, filtered);
  EXPECT_TRUE(filtered.diagnostics().empty());
  EXPECT_EQ(slot->kind, ExpressionKind::Variable);  // the tree is cleaned all the same
}

TEST_F(TreeTest, BlockBodiesOfLoopsAndElseAreWalked) {
  // while c { <stmt with inserted ;> } else { <unknown statement> }
  auto* w = arena.make<WhileExpression>();
  w->keyword = keyword(Keyword::While, 0);
  w->condition = variable("c", 6);
  w->body = block(8, 14);
  auto* statement = arena.make<ExpressionStatement>();
  statement->expression = variable("a", 10);
  statement->semicolon = inserted(Operator::Semicolon, 11, DiagnosticCode::MissingSemicolon);
  w->body->statements.push_back(arena, statement);
  w->else_block = arena.make<ElseBlock>();
  w->else_block->keyword = keyword(Keyword::Else, 16);
  BlockExpression* else_body = block(21, 25);
  else_body->statements.push_back(arena, make_unknown_statement(arena, op(Operator::CloseBracket, 23),
                                                                DiagnosticCode::UnmatchedCloseBracket));
  w->else_block->body = else_body;
  EXPECT_EQ(range_of(*w), (SourceRange{0, 26}));
  ArenaRef<Expression> slot = w;
  collect_diagnostics(slot, collector);
  EXPECT_EQ(collected(), "MissingSemicolon@11 UnmatchedCloseBracket@23..24");
  EXPECT_EQ(dump_expression(*w), "(while c (block (expr a <;@11>)) (else (block (unknown@23..24 ]))))");
}

// -------------------------------------------------------------------- dump

TEST_F(TreeTest, TokenDump) {
  EXPECT_EQ(dump_token(Token{TokenKind::identifier("x"), 4, 5}), "Identifier(x)@4..5");
  EXPECT_EQ(dump_token(Token{TokenKind::of_operator(Operator::PlusEq), 6, 8}), "Operator(+=)@6..8");
  EXPECT_EQ(dump_token(Token{TokenKind::of_keyword(Keyword::NotIn), 0, 6}), "Keyword(not in)@0..6");
  EXPECT_EQ(dump_token(Token{TokenKind::of_ordinal(42), 1, 3}), "Ordinal(42)@1..3");
  EXPECT_EQ(dump_token(Token{TokenKind::eof(), 9, 9}), "Eof@9");
  NumberInfo hex{NumberInfo::Kind::Hex, {}, 255, 255};
  EXPECT_EQ(dump_token(Token{TokenKind::of_number(&hex), 0, 4}), "Number(255 0xff)@0..4");
  StringInfo info;
  info.value = "a\"b\n";
  EXPECT_EQ(dump_token(Token{TokenKind::of_string(&info), 0, 7}), R"(String("a\"b\n")@0..7)");
  const Token unknown{TokenKind::unknown(arena, TokenKind::empty(), 2, 3, DiagnosticCode::UnknownToken), 2,
                      3};
  EXPECT_EQ(dump_token(unknown), "Unknown(Empty !UnknownToken@2..3)@2..3");
}

// A chain far longer than any nesting prints its innermost links elided
// instead of running the stack out; a short one prints whole.
TEST(TreeDump, LongChainsPrintElidedBelowTheLevelLimit) {
  std::string sum = "a";
  for (int i = 0; i < 50'000; ++i) sum += " + a";
  const testing::ParsedSource parsed(sum);
  ASSERT_FALSE(parsed.outcome.cut);
  const std::string tree = parsed.tree();
  EXPECT_NE(tree.find("(...)"), std::string::npos);
  EXPECT_EQ(testing::ParsedSource("a + a + a").tree(), "(script => (+ (+ a a) a))");
}

}  // namespace
}  // namespace quendal
