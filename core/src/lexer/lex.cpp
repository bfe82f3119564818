#include "lexer/lex.h"

#include <algorithm>
#include <limits>

#include "lexer/identifier.h"
#include "lexer/lexer.h"

namespace quendal {

namespace lexer {

namespace {

// One character (one scalar value) that no token can start with.
TokenKind unknown_character(Lexer& lx) {
  const std::size_t start = lx.pos;
  lx.pos += utf8_length_at(lx.source, start);
  return TokenKind::unknown(lx.arena, TokenKind::empty(), start, lx.pos, DiagnosticCode::UnknownToken);
}

// A keyword is only a keyword in some places; the token after it decides.
void adjust_keyword(Token& previous, Token& next) {
  const Keyword keyword = previous.kind.keyword;
  if (next.kind.is_operator(Operator::Colon) || next.kind.is_operator(Operator::QuestionColon)) {
    // A field name (`{ if: 1 }`) or the middle of a conditional.
    previous.kind = TokenKind::identifier(keyword_spelling(keyword));
  } else if (keyword == Keyword::Type && next.kind.tag != TokenTag::Identifier &&
             !next.kind.is_operator(Operator::OpenParen)) {
    previous.kind = TokenKind::identifier(keyword_spelling(Keyword::Type));
  } else if (keyword == Keyword::Not && next.kind.is_keyword(Keyword::In)) {
    previous.kind = TokenKind::of_keyword(Keyword::NotIn);
    previous.end = next.end;
    next = Token{TokenKind::empty(), next.end, next.end};
  }
}

}  // namespace

Token token(Lexer& lx, Token* previous) {
  const bool after_dot = previous != nullptr && previous->kind.is_operator(Operator::Dot);
  skip_blanks(lx);
  const std::uint32_t start = lx.offset();
  const int c = lx.peek();
  TokenKind kind;
  if (c < 0) {
    kind = TokenKind::eof();
  } else if (is_digit(c)) {
    kind = after_dot ? ordinal(lx) : number(lx);
  } else if (is_quote(c)) {
    kind = *string(lx);
  } else if (c == '@') {
    if (auto s = string(lx)) {
      kind = *s;
    } else {
      kind = identifier(lx, !after_dot);
    }
  } else if (at_identifier_start(lx)) {
    kind = identifier(lx, !after_dot);
  } else if (auto op = match_operator(lx)) {
    kind = TokenKind::of_operator(*op);
  } else {
    kind = unknown_character(lx);
  }

  Token result{kind, start, lx.offset()};
  if (previous != nullptr && previous->kind.tag == TokenTag::Keyword) adjust_keyword(*previous, result);
  return result;
}

}  // namespace lexer

LexResult lex(std::string_view source, const CompileConfig& config, Arena& arena) {
  LexResult result{true, TokenList(&arena), 0};
  if (source.size() >= std::numeric_limits<std::uint32_t>::max()) {
    result.ok = false;
    return result;
  }
  lexer::Lexer lx(source, config, arena);
  TokenList& tokens = result.tokens;
  // Dense scripts average about three bytes per token. The list lives in
  // the arena, where regrowing leaves the old buffer behind (touched), so
  // reserve for two bytes per token: pages of the reserve that are never
  // written are never made resident. (The cap, 2 GiB of address space, is
  // the full reserve for sources up to 128 MiB; longer lists grow.)
  tokens.reserve(std::min<std::size_t>(source.size() / 2 + 16, std::size_t{1} << 26));
  for (;;) {
    lexer::skip_leading_trivia(lx);
    Token t = lexer::token(lx, tokens.empty() ? nullptr : &tokens.back());
    if (t.kind.is_eof()) {
      tokens.push_back(t);
      break;
    }
    lexer::tailing_trivia(lx);
    if (t.kind.tag != TokenTag::Empty) tokens.push_back(t);
  }
  if (lx.failed) {
    result.ok = false;
    result.stop_offset = lx.stop_offset;
    result.tokens.clear();
  }
  return result;
}

}  // namespace quendal
