// Patterns: `or`/`and` chains and the primary pattern alternatives.
#include "parser/parser.h"

namespace quendal {

namespace {

// Continues a chain of `keyword` after its first operand `left`.
template <class Node>
[[gnu::noinline]] ParserResult<Pattern*> pattern_chain(
    Parser& p, Pattern* left, Keyword keyword, PatternMode mode,
    ParserResult<Pattern*> (Parser::*operand)(PatternMode)) {
  // Alternatives are not nesting: walks follow the left operand iteratively.
  while (p.at_keyword(keyword)) {
    const std::size_t start = p.position();
    TokenRef op = p.advance();
    auto right = (p.*operand)(mode);
    if (right.is_cut()) return right.failure();
    if (!right.ok()) {
      p.restore(start);
      break;
    }
    auto* node = p.arena().make<Node>();
    node->left = left;
    node->right = *right;
    node->op = op;
    left = node;
  }
  return left;
}

}  // namespace

// or_pattern -> and_pattern (`or` and_pattern)*
ParserResult<Pattern*> Parser::or_pattern(PatternMode mode) {
  // The most common patterns of all: a plain name, or `mut` and a plain
  // name where names are bound, that no `and`/`or` follows binds it (what
  // primary_pattern makes of it, without the two levels).
  const auto ends_pattern = [&](std::size_t at) {
    return at >= size_ ||
           !(tags_[at] == TokenTag::Keyword && (data_[at] == static_cast<std::uint32_t>(Keyword::Or) ||
                                                data_[at] == static_cast<std::uint32_t>(Keyword::And)));
  };
  const auto plain_name = [&](std::size_t at) {
    return at < size_ && tags_[at] == TokenTag::Identifier && !tokens_.symbol_starts_with_at(data_[at]);
  };
  if (pos_ + 1 < size_) {
    std::size_t name = pos_;
    if (mode == PatternMode::Binding && at_keyword(Keyword::Mut)) ++name;
    // Anything unusual (the nesting limit, measured levels, a full arena
    // block) takes the general path, which reads the same.
    if (plain_name(name) && ends_pattern(name + 1) && NestingGuard::touch_unmeasured(context_)) {
      if (auto* node = arena_.try_make<BindingPattern>()) [[likely]] {
        if (name != pos_) node->mut = advance();
        node->name = advance();
        return static_cast<Pattern*>(node);
      }
    }
  }
  return or_chain(mode);
}

// or_pattern without its short path: the rest of the rule, out of line so
// that the short path saves no registers.
[[gnu::noinline]] ParserResult<Pattern*> Parser::or_chain(PatternMode mode) {
  QUENDAL_TRY(first, and_pattern(mode));
  if (!at_keyword(Keyword::Or)) return *first;
  return pattern_chain<OrPattern>(*this, *first, Keyword::Or, mode, &Parser::and_pattern);
}

// and_pattern -> primary_pattern (`and` primary_pattern)*
ParserResult<Pattern*> Parser::and_pattern(PatternMode mode) {
  QUENDAL_TRY(first, primary_pattern(mode));
  if (!at_keyword(Keyword::And)) return *first;
  return pattern_chain<AndPattern>(*this, *first, Keyword::And, mode, &Parser::primary_pattern);
}

// primary_pattern -> comparison | record/group | array | constant/literal/interval
//                  | name | `not` primary_pattern | unknown_pattern
ParserResult<Pattern*> Parser::primary_pattern(PatternMode mode) {
  const PeekedToken next = peek();
  // A plain name (or `mut`) is neither a constant nor a literal, and holds
  // no nested pattern.
  if (next &&
      ((next.tag() == TokenTag::Identifier && !next.is_constant_name()) || next.is_keyword(Keyword::Mut))) {
    if (!NestingGuard::touch(context_)) return cut();
    if (next.tag() == TokenTag::Identifier) {
      // A name on its own binds it.
      auto* node = arena_.make<BindingPattern>();
      node->name = advance();
      return static_cast<Pattern*>(node);
    }
    return name_pattern(mode);
  }
  return nested_pattern(mode);
}

// The other primary patterns, each on a level of its own.
[[gnu::noinline]] ParserResult<Pattern*> Parser::nested_pattern(PatternMode mode) {
  const PeekedToken next = peek();
  NestingGuard guard(context_);
  if (!guard.enter()) return cut();
  if (next == nullptr) return kBacktrack;
  const std::size_t start = pos_;

  if (next.tag() == TokenTag::Operator && is_relation(next.op())) {
    TokenRef op = advance();
    auto operand = literal_constant_pattern();
    if (operand.is_cut()) return operand.failure();
    if (operand.ok()) {
      auto* node = arena_.make<ComparisonPattern>();
      node->operand = *operand;
      node->op = op;
      return node;
    }
    restore(start);
  }

  if (next.is_operator(Operator::OpenParen)) return record_pattern(mode);

  if (next.is_operator(Operator::OpenBracket)) return array_pattern(mode);

  {
    auto constant = constant_or_literal_pattern();
    if (!constant.backtracked()) return constant;
    restore(start);
  }
  {
    auto name = name_pattern(mode);
    if (!name.backtracked()) return name;
    restore(start);
  }
  if (next.is_keyword(Keyword::Not)) {
    TokenRef op = advance();
    auto operand = primary_pattern(mode);
    if (operand.is_cut()) return operand.failure();
    if (operand.ok()) {
      auto* node = arena_.make<NotPattern>();
      node->pattern = *operand;
      node->op = op;
      return node;
    }
    restore(start);
  }
  return unknown_pattern();
}

// name -> `mut`? variable_token(allow `_`, no `global`)
ParserResult<Pattern*> Parser::name_pattern(PatternMode mode) {
  TokenRef mut;
  if (at_keyword(Keyword::Mut)) mut = advance();
  auto name = variable_token(true, false);
  if (name.is_cut()) return name.failure();
  if (!name.ok()) {
    if (mut.is_null()) return kBacktrack;
    return make_unknown_pattern(arena_, token_list({mut}), DiagnosticCode::UnknownPattern);
  }
  TokenRef token = *name;
  if (token.is_owned()) {
    // A reserved word or `global`: the token carries the diagnostic.
    return make_unknown_pattern_from(arena_, token_list({mut, token}));
  }
  if (tokens_.is_keyword(token.index(), Keyword::Underscore)) {
    if (!mut.is_null())
      return make_unknown_pattern(arena_, token_list({mut, token}), DiagnosticCode::MutInDiscardPattern);
    auto* node = arena_.make<DiscardPattern>();
    node->token = token;
    return static_cast<Pattern*>(node);
  }
  auto* node = arena_.make<BindingPattern>();
  node->mut = mut;
  node->name = token;
  if (mut.is_null()) return static_cast<Pattern*>(node);
  if (mode == PatternMode::Rebinding) node->mut.wrap_as_unknown(arena_, DiagnosticCode::MutInRebindPattern);
  const std::string_view text = token->kind.text();
  if (!text.empty() && text.front() == '@')
    return wrap_pattern_as_unknown(arena_, node, token_list({mut, token}),
                                   DiagnosticCode::ConstantInBindPattern);
  return static_cast<Pattern*>(node);
}

}  // namespace quendal
