// The statement alternatives: block-like constructs, jumps and the ordered
// alternatives mod, fn, const, let, rebinding and assignment or expression
// statements.
#include "parser/parser.h"

namespace quendal {

namespace {

constexpr std::string_view kMissingName = "<name>";

}  // namespace

// A block or block-like construct standing as a statement.
[[gnu::noinline]] ParserResult<Statement*> Parser::construct_statement() {
  const PeekedToken next = peek();
  ParserResult<Expression*> construct = kBacktrack;
  if (next.tag() == TokenTag::Operator) {
    construct = block_expression();
  } else {
    switch (next.keyword()) {
      case Keyword::If:
        construct = if_expression();
        break;
      case Keyword::Loop:
        construct = loop_expression();
        break;
      case Keyword::While:
        construct = while_expression();
        break;
      case Keyword::Match:
        construct = match_expression();
        break;
      default:
        construct = for_in_expression();
        break;
    }
  }
  if (!construct.ok()) return construct.failure();
  auto* node = arena_.make<BareExpressionStatement>();
  node->expression = *construct;
  return static_cast<Statement*>(node);
}

// `return` or `break`, an optional value, `;`.
[[gnu::noinline]] ParserResult<Statement*> Parser::jump_statement() {
  const bool is_return = at_keyword(Keyword::Return);
  TokenRef keyword = advance();
  const std::size_t start = pos_;
  Expression* value = nullptr;
  auto read = expression();
  if (read.is_cut()) return read.failure();
  if (read.ok()) {
    value = *read;
  } else {
    restore(start);
  }
  TokenRef semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
  if (is_return) {
    auto* node = arena_.make<ReturnStatement>();
    node->keyword = keyword;
    node->value = value;
    node->semicolon = semicolon;
    return static_cast<Statement*>(node);
  }
  auto* node = arena_.make<BreakStatement>();
  node->keyword = keyword;
  node->value = value;
  node->semicolon = semicolon;
  return static_cast<Statement*>(node);
}

// A statement that starts with a plain name is a rebinding only when `=`
// (or the rest of a pattern: an alternative, an interval) follows the name.
[[gnu::noinline]] ParserResult<Statement*> Parser::name_statement() {
  const PeekedToken after = peek(1);
  const bool may_rebind = !after || after.is_operator(Operator::Eq) || after.is_operator(Operator::DotDot) ||
                          after.is_operator(Operator::DotDotLt) || after.is_keyword(Keyword::And) ||
                          after.is_keyword(Keyword::Or);
  if (may_rebind) return other_statement();
  const std::size_t start = pos_;
  auto result = assign_or_expression_statement();
  if (!result.backtracked()) return result;
  restore(start);
  return kBacktrack;
}

// The ordered alternatives.
[[gnu::noinline]] ParserResult<Statement*> Parser::other_statement() {
  const std::size_t start = pos_;
  using Alternative = ParserResult<Statement*> (Parser::*)();
  static constexpr Alternative kAlternatives[] = {
      &Parser::mod_statement,  &Parser::fn_statement,     &Parser::const_statement,
      &Parser::bind_statement, &Parser::rebind_statement, &Parser::assign_or_expression_statement,
  };
  for (Alternative alternative : kAlternatives) {
    auto result = (this->*alternative)();
    if (!result.backtracked()) return result;
    restore(start);
  }
  // The last alternative, unknown_statement, never produces a statement: the
  // script loop turns what is left into unknown statements one token at a
  // time.
  return kBacktrack;
}

namespace {

TokenRef optional_pub(Parser& p) { return p.at_keyword(Keyword::Pub) ? p.advance() : TokenRef(); }

}  // namespace

// A missing declaration name: "<name>", zero-width at the end of the keyword.
static TokenRef missing_name(Parser& p, TokenRef keyword, DiagnosticCode code) {
  const auto at = static_cast<std::uint32_t>(keyword.range().end);
  return TokenRef::make_owned(
      p.arena(), TokenKind::unknown(p.arena(), TokenKind::identifier(kMissingName), at, at, code), at, at);
}

// mod_statement -> `pub`? `mod` name block
ParserResult<Statement*> Parser::mod_statement() {
  TokenRef pub = optional_pub(*this);
  if (!at_keyword(Keyword::Mod)) return kBacktrack;
  auto* node = arena_.make<ModuleStatement>();
  node->pub = pub;
  node->keyword = advance();
  auto name = variable_token(false, false);
  if (name.is_cut()) return name.failure();
  node->name = name.ok() ? *name : missing_name(*this, node->keyword, DiagnosticCode::MissingModuleName);
  QUENDAL_TRY(body, block_expression_no_expr());
  node->body = *body;
  return node;
}

// fn_statement -> `pub`? `fn` name parameter_list? block
ParserResult<Statement*> Parser::fn_statement() {
  TokenRef pub = optional_pub(*this);
  if (!at_keyword(Keyword::Fn)) return kBacktrack;
  auto* node = arena_.make<FunctionStatement>();
  node->pub = pub;
  node->keyword = advance();
  auto name = variable_token(false, false);
  if (name.is_cut()) return name.failure();
  if (name.ok()) {
    node->name = *name;
    if (node->name.is_borrowed() && tokens_.tag(node->name.index()) == TokenTag::Identifier &&
        tokens_.symbol_text(tokens_.data(node->name.index())) == "type")
      node->name.wrap_as_unknown(arena_, DiagnosticCode::MissingOpenParenAfterType);
  } else {
    node->name = missing_name(*this, node->keyword, DiagnosticCode::MissingFunctionName);
  }
  if (at_operator(Operator::OpenParen)) {
    QUENDAL_TRY(parameters, parameter_list());
    node->parameters = *parameters;
  }
  QUENDAL_TRY(body, block_expression());
  node->body = *body;
  return node;
}

// const_statement -> `pub`? `const` name `=` value `;`
ParserResult<Statement*> Parser::const_statement() {
  TokenRef pub = optional_pub(*this);
  if (!at_keyword(Keyword::Const)) return kBacktrack;
  auto* node = arena_.make<ConstStatement>();
  node->pub = pub;
  node->keyword = advance();
  QUENDAL_TRY(name, variable_token(false, false));
  node->name = *name;
  if (node->name->kind.tag == TokenTag::Identifier &&
      (node->name->kind.text().empty() || node->name->kind.text().front() != '@'))
    node->name.wrap_as_unknown(arena_, DiagnosticCode::InvalidConstantName);
  node->op = token_or_insert(Operator::Eq, DiagnosticCode::MissingBindOperator);
  QUENDAL_TRY(value, expression_or_insert({Operator::Semicolon}));
  node->value = *value;
  node->semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
  return node;
}

// bind_statement -> `pub`? `let` pattern `=` value `;`
ParserResult<Statement*> Parser::bind_statement() {
  TokenRef pub = optional_pub(*this);
  if (!at_keyword(Keyword::Let)) return kBacktrack;
  auto* node = arena_.make<BindStatement>();
  node->pub = pub;
  node->keyword = advance();
  const std::size_t before_pattern = pos_;
  auto pattern = or_pattern(PatternMode::Binding);
  if (pattern.is_cut()) return pattern.failure();
  if (pattern.ok()) {
    node->pattern = *pattern;
  } else {
    restore(before_pattern);
    if (!at_end() && !at_operator(Operator::Eq)) return kBacktrack;
    node->pattern = pattern_expected(placeholder_position());
  }
  node->op = token_or_insert(Operator::Eq, DiagnosticCode::MissingBindOperator);
  QUENDAL_TRY(value, statement_value());
  node->value = *value;
  node->semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
  return node;
}

// rebind_statement -> pattern `=` value `;`
ParserResult<Statement*> Parser::rebind_statement() {
  const std::size_t start = pos_;
  Pattern* target = nullptr;
  probing_rebind_ = true;
  auto pattern = or_pattern(PatternMode::Rebinding);
  probing_rebind_ = false;
  if (pattern.is_cut()) return pattern.failure();
  if (pattern.ok()) {
    target = *pattern;
  } else {
    restore(start);
    // Only a missing pattern before `=` gets a placeholder; building one
    // that the `=` check would then throw away costs a walk for nothing.
    if (!at_operator(Operator::Eq)) return kBacktrack;
    target = pattern_expected(placeholder_position());
  }
  QUENDAL_TRY(op, token(Operator::Eq));
  auto* node = arena_.make<RebindStatement>();
  node->pattern = target;
  node->op = *op;
  QUENDAL_TRY(value, statement_value());
  node->value = *value;
  node->semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
  return node;
}

// assign_or_expression_statement -> expression ((`=` | compound) value)? `;`
ParserResult<Statement*> Parser::assign_or_expression_statement() {
  const std::size_t start = pos_;
  const auto at_assignment = [this] {
    const PeekedToken t = peek();
    return t != nullptr && t.tag() == TokenTag::Operator &&
           (t.op() == Operator::Eq || operator_is_compound(t.op()));
  };
  Expression* target = nullptr;
  auto read = expression();
  if (read.is_cut()) return read.failure();
  if (read.ok()) {
    target = *read;
  } else {
    restore(start);
    // At the end nothing could follow but a trailing value, which
    // backtracks below: only a missing target before an assignment gets a
    // placeholder.
    if (!at_assignment()) return kBacktrack;
    target = expression_expected(placeholder_position());
  }
  if (at_assignment()) {
    auto* node = arena_.make<AssignStatement>();
    node->target = target;
    node->op = advance();
    QUENDAL_TRY(value, statement_value());
    node->value = *value;
    node->semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
    return node;
  }
  // Left for the enclosing block or script as its trailing value.
  if (at_end() || at_operator(Operator::CloseBrace) || at_keyword(Keyword::Case) || at_keyword(Keyword::Else))
    return kBacktrack;
  auto* node = arena_.make<ExpressionStatement>();
  node->expression = target;
  node->semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
  return node;
}

}  // namespace quendal
