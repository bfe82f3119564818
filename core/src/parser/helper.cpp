// Shared parser helpers: single-token matches, inserted punctuation,
// placeholders, unknown runs and the statements-then-value body of blocks.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>

#include "parser/parser.h"

namespace quendal {

std::uint32_t MemoTable::number_of(const MemoKey& key) const {
  // Entry numbers only fall along a chain, so every walk ends.
  if (heads_ == nullptr) return 0;
  std::uint32_t n = heads_[key.token & bucket_mask_];
  while (n != 0 && n <= count_) {
    const Slot& slot = slots_[n - 1];
    if (slot.token == key.token && slot.rule == key.rule) return n;
    n = slot.previous < n ? slot.previous : 0;
  }
  return 0;
}

void MemoTable::reserve_tokens(std::size_t count) {
  if (heads_ != nullptr) return;
  // About one entry per four tokens in ordinary code: growing the entries by
  // copying would cost more than the reservation (pages never touched are
  // never mapped).
  grow(std::max<std::size_t>(count / 4, 256));
  const std::size_t buckets = std::bit_ceil(std::max<std::size_t>(count / 8, 128));
  heads_ = static_cast<std::uint32_t*>(allocate_zeroed(buckets * sizeof(std::uint32_t)));
  bucket_mask_ = buckets - 1;
}

[[gnu::noinline]] void MemoTable::grow(std::size_t capacity) {
  if (capacity <= capacity_) return;
  auto bigger = std::unique_ptr<Slot[]>(new Slot[capacity]);
  if (count_ != 0) std::memcpy(bigger.get(), slots_.get(), std::size_t{count_} * sizeof(Slot));
  slots_ = std::move(bigger);
  capacity_ = static_cast<std::uint32_t>(capacity);
}

void MemoTable::insert(const MemoKey& key, const MemoEntry& entry) {
  if (const std::uint32_t n = number_of(key); n != 0) {
    Slot& slot = slots_[n - 1];
    slot.value = entry.value;
    slot.advance = entry.advance;
    slot.height = entry.height;
    return;
  }
  insert_new(key, entry);
}

[[gnu::noinline]] void MemoTable::insert_new_slow(const MemoKey& key, const MemoEntry& entry) {
  // Entry numbers are 32-bit; past that the outcome is simply not kept (the
  // rule is parsed again if it is tried again, with the same result).
  if (count_ == capacity_) [[unlikely]] {
    if (count_ == std::numeric_limits<std::uint32_t>::max()) return;
    grow(std::min<std::size_t>(std::size_t{capacity_} * 2 + 256, std::numeric_limits<std::uint32_t>::max()));
  }
  if (heads_ == nullptr) reserve_tokens(0);
  std::uint32_t& head = heads_[key.token & bucket_mask_];
  const std::uint32_t previous = head;
  slots_[count_++] = Slot{entry.value, key.token, entry.advance, previous, entry.height, key.rule};
  head = count_;
}

std::uint32_t Parser::placeholder_position() const {
  if (pos_ > 0 && pos_ - 1 < range_.size()) return tokens_.end(index_at(pos_ - 1));
  if (pos_ < range_.size()) return tokens_.start(index_at(pos_));
  return 0;
}

Failure Parser::cut() {
  if (top_level_ && !context_.cut_recorded) {
    context_.cut_recorded = true;
    context_.cut_position = pos_;
  }
  return Failure{Outcome::Cut};
}

namespace {

// A string, ordinal or number, or one of the constant keywords that are
// literals; `keyword` is read only for a Keyword.
bool is_literal(TokenTag tag, Keyword keyword) {
  switch (tag) {
    case TokenTag::String:
    case TokenTag::Ordinal:
    case TokenTag::Number:
      return true;
    case TokenTag::Keyword:
      switch (keyword) {
        case Keyword::True:
        case Keyword::False:
        case Keyword::Nil:
        case Keyword::Nan:
        case Keyword::Inf:
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

}  // namespace

bool is_literal_token(const Token* token) {
  return token != nullptr &&
         is_literal(token->kind.tag,
                    token->kind.tag == TokenTag::Keyword ? token->kind.keyword : Keyword::In);
}

bool is_literal_token(const PeekedToken& token) { return token && is_literal(token.tag(), token.keyword()); }

TokenRef Parser::inserted_token(TokenKind kind, std::uint32_t position, DiagnosticCode code) {
  return TokenRef::make_owned(arena_, TokenKind::unknown(arena_, kind, position, position, code), position,
                              position);
}

// token_or_insert(op, code): the operator, or a zero-width inserted one that
// carries `code`.
TokenRef Parser::insert_operator(Operator op, DiagnosticCode code) {
  return inserted_token(TokenKind::of_operator(op), placeholder_position(), code);
}

// variable_token: an identifier, or a keyword that may stand in a name
// position (rewritten to carry its diagnostic where it is not allowed).
ParserResult<TokenRef> Parser::keyword_variable_token(bool allow_underscore, bool allow_global) {
  const PeekedToken next = peek();
  if (next == nullptr) return kBacktrack;
  if (next.tag() != TokenTag::Keyword) return kBacktrack;
  const Keyword keyword = next.keyword();
  if (keyword == Keyword::Underscore) {
    TokenRef ref = advance();
    if (!allow_underscore) ref.wrap_as_unknown(arena_, DiagnosticCode::UnexpectedUnderscore);
    return ref;
  }
  if (keyword == Keyword::Global) {
    TokenRef ref = advance();
    if (!allow_global) ref.wrap_as_unknown(arena_, DiagnosticCode::UnexpectedGlobal);
    return ref;
  }
  if (keyword_is_reserved(keyword)) {
    ++pos_;
    // The name behaves as `_` from here on.
    return TokenRef::make_owned(
        arena_,
        TokenKind::unknown(arena_, TokenKind::of_keyword(Keyword::Underscore), next.start(), next.end(),
                           DiagnosticCode::InvalidReservedKeyword),
        next.start(), next.end());
  }
  return kBacktrack;
}

// record_key -> string | ordinal | variable_token; a null reference where
// none stands.
ParserResult<TokenRef> Parser::record_key() {
  const PeekedToken next = peek();
  if (next == nullptr) return TokenRef();
  if (next.tag() == TokenTag::String || next.tag() == TokenTag::Ordinal) return advance();
  auto variable = variable_token(true, true);
  if (variable.is_cut()) return variable.failure();
  if (variable.ok()) return *variable;
  return TokenRef();
}

Expression* Parser::expression_expected(std::uint32_t position) {
  return make_unknown_expression_range(arena_, position, position, DiagnosticCode::ExpressionExpected);
}

Pattern* Parser::pattern_expected(std::uint32_t position) {
  TokenRefList tokens(&arena_);
  tokens.push_back(TokenRef::make_owned(arena_, TokenKind::empty(), position, position));
  return make_unknown_pattern(arena_, std::move(tokens), DiagnosticCode::PatternExpected);
}

// expression_or_insert(follow): an expression, or a placeholder when the next
// token shows that the expression is missing.
[[gnu::noinline]] ParserResult<Expression*> Parser::missing_expression(
    std::size_t start, std::initializer_list<Operator> follow) {
  restore(start);
  bool insert = at_end();
  for (Operator op : follow) insert = insert || at_operator(op);
  if (!insert) return kBacktrack;
  return expression_expected(placeholder_position());
}

namespace {

// Where an unknown run stops: at the end, at a keyword that opens a construct,
// at a bracket, `;` or `=`; an expression's run also at a compound assignment,
// a pattern's also at `,`.
bool stops_unknown_run(const Tokens& tokens, TokenIndex index, bool in_pattern) {
  switch (tokens.tag(index)) {
    case TokenTag::Eof:
      return true;
    case TokenTag::Keyword:
      switch (tokens.keyword(index)) {
        case Keyword::If:
        case Keyword::Fn:
        case Keyword::Loop:
        case Keyword::Match:
        case Keyword::For:
        case Keyword::While:
        case Keyword::Let:
        case Keyword::Const:
          return true;
        default:
          return false;
      }
    case TokenTag::Operator:
      switch (tokens.op(index)) {
        case Operator::OpenParen:
        case Operator::CloseParen:
        case Operator::OpenBracket:
        case Operator::CloseBracket:
        case Operator::OpenBrace:
        case Operator::CloseBrace:
        case Operator::Semicolon:
        case Operator::Eq:
          return true;
        case Operator::Comma:
          return in_pattern;
        default:
          return !in_pattern && operator_is_compound(tokens.op(index));
      }
    default:
      return false;
  }
}

}  // namespace

TokenRefList Parser::consumed_tokens(std::size_t start) const {
  TokenRefList out(&arena_);
  out.reserve(pos_ - start);
  for (std::size_t i = start; i < pos_; ++i) out.push_back(TokenRef::borrowed(index_at(i)));
  return out;
}

TokenRefList Parser::token_list(std::initializer_list<TokenRef> tokens) const {
  TokenRefList out(&arena_);
  out.reserve(tokens.size());
  for (TokenRef t : tokens)
    if (!t.is_null()) out.push_back(t);
  return out;
}

// unknown_expression: a run of tokens up to a stop token.
ParserResult<Expression*> Parser::unknown_expression() {
  const std::size_t start = pos_;
  while (pos_ < range_.size() && !stops_unknown_run(tokens_, index_at(pos_), false)) ++pos_;
  if (context_.measure) context_.tokens_scanned += pos_ - start + 1;
  if (pos_ == start) return kBacktrack;
  return make_unknown_expression(arena_, consumed_tokens(start), DiagnosticCode::UnknownExpression);
}

// unknown_pattern: a run of tokens up to a pattern stop token.
ParserResult<Pattern*> Parser::unknown_pattern() {
  const std::size_t start = pos_;
  const TokenIndex here = index_at(pos_);
  std::size_t stop = pos_;
  // The run must lie in this list: lists are neighbours in the store, so an
  // index just past this list may begin another list's run.
  if (pos_ < range_.size() && here >= context_.run_begin && here < context_.run_stop &&
      context_.run_stop <= range_.end) {
    stop = context_.run_stop - range_.begin;
  } else {
    while (stop < range_.size() && !stops_unknown_run(tokens_, index_at(stop), true)) ++stop;
    if (context_.measure) context_.tokens_scanned += stop - start + 1;
    context_.run_begin = here;
    context_.run_stop = index_at(stop);
  }
  if (stop == start) return kBacktrack;
  if (probing_rebind_ && pattern_brackets_ == 0 &&
      !(stop < range_.size() && tokens_.is_operator(index_at(stop), Operator::Eq)))
    return kBacktrack;
  pos_ = stop;
  return make_unknown_pattern(arena_, consumed_tokens(start), DiagnosticCode::UnknownPattern);
}

bool Parser::at_list_end_without_separator() const {
  const PeekedToken next = peek();
  if (next == nullptr) return true;
  switch (next.tag()) {
    case TokenTag::Eof:
      return true;
    case TokenTag::Operator:
      switch (next.op()) {
        case Operator::CloseParen:
        case Operator::CloseBracket:
        case Operator::Semicolon:
        case Operator::CloseBrace:
          return true;
        default:
          return false;
      }
    case TokenTag::Keyword:
      switch (next.keyword()) {
        case Keyword::In:
        case Keyword::NotIn:
        case Keyword::Else:
        case Keyword::Case:
        case Keyword::Break:
        case Keyword::Continue:
        case Keyword::Return:
        case Keyword::Let:
        case Keyword::Const:
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

// statements_and_expression: statements, then an optional trailing value.
ParserResult<bool> Parser::statements_and_expression(BlockContents& contents) {
  QUENDAL_TRY(count, statements(contents.statements));
  if (at_end() || at_operator(Operator::CloseBrace)) {
    contents.expression = construct_statements_and_expression(contents.statements, nullptr);
    return true;
  }
  const std::size_t start = pos_;
  auto value = expression();
  if (value.is_cut()) return value.failure();
  if (value.ok()) {
    contents.expression = *value;
  } else {
    restore(start);
  }
  contents.expression = construct_statements_and_expression(contents.statements, contents.expression);
  return true;
}

// A trailing value, or else a final block-like statement, becomes the value.
Expression* Parser::construct_statements_and_expression(StatementList& statements, Expression* expression) {
  if (expression != nullptr) return expression;
  if (!statements.empty() && statements.back()->kind == StatementKind::BareExpression) {
    Expression* value = statements.back()->as<BareExpressionStatement>().expression;
    statements.pop_back();
    return value;
  }
  return nullptr;
}

}  // namespace quendal
