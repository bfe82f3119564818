// The statement rule and the statement repetition used by blocks and the
// script loop.
#include "parser/parser.h"

namespace quendal {

// The declaration its keyword names, else the other alternatives.
template <ParserResult<Statement*> (Parser::*declaration)()>
[[gnu::noinline]] ParserResult<Statement*> Parser::declaration_statement() {
  const std::size_t start = pos_;
  auto result = (this->*declaration)();
  if (!result.backtracked()) return result;
  restore(start);
  return other_statement();
}

// The statement rule: its first token picks the alternative.
// Only statements calls it: inlined there.
[[gnu::always_inline]] inline ParserResult<Statement*> Parser::statement() {
  const PeekedToken next = peek();
  if (next == nullptr) return kBacktrack;
  switch (next.tag()) {
    case TokenTag::Eof:
      // Where the script ends no statement starts.
      return kBacktrack;
    case TokenTag::Identifier:
      return name_statement();
    case TokenTag::Keyword:
      switch (next.keyword()) {
        case Keyword::If:
        case Keyword::Loop:
        case Keyword::While:
        case Keyword::Match:
        case Keyword::For:
          return construct_statement();
        case Keyword::Return:
        case Keyword::Break:
          return jump_statement();
        case Keyword::Continue: {
          auto* node = arena_.make<ContinueStatement>();
          node->keyword = advance();
          node->semicolon = token_or_insert(Operator::Semicolon, DiagnosticCode::MissingSemicolon);
          return static_cast<Statement*>(node);
        }
        // A declaration keyword decides the alternative; `pub` leaves it to them.
        case Keyword::Let:
          return declaration_statement<&Parser::bind_statement>();
        case Keyword::Fn:
          return declaration_statement<&Parser::fn_statement>();
        case Keyword::Const:
          return declaration_statement<&Parser::const_statement>();
        case Keyword::Mod:
          return declaration_statement<&Parser::mod_statement>();
        default:
          break;
      }
      break;
    case TokenTag::Operator:
      switch (next.op()) {
        case Operator::CloseBrace:
          // Where a block ends no statement starts.
          return kBacktrack;
        case Operator::OpenBrace:
          return construct_statement();
        case Operator::Semicolon: {
          auto* node = arena_.make<EmptyStatement>();
          node->semicolon = advance();
          return static_cast<Statement*>(node);
        }
        default:
          break;
      }
      break;
    default:
      break;
  }
  return other_statement();
}

// statements -> statement*
// The statements are gathered on the context's scratch list (blocks nest, so
// the list is shared like a stack) and appended to `out` in one piece.
ParserResult<std::size_t> Parser::statements(StatementList& out) {
  std::vector<ArenaRef<Statement>>& scratch = context_.statement_scratch;
  const std::size_t mark = scratch.size();
  const auto take = [&] {
    const std::size_t count = scratch.size() - mark;
    out.append(arena_, std::span<const ArenaRef<Statement>>(scratch.data() + mark, count));
    scratch.resize(mark);
    return count;
  };
  for (;;) {
    const std::size_t start = pos_;
    auto parsed = statement();
    if (parsed.is_cut()) {
      scratch.resize(mark);
      return parsed.failure();
    }
    if (!parsed.ok()) {
      restore(start);
      return take();
    }
    // A statement that consumed nothing would repeat forever.
    if (pos_ == start) {
      scratch.resize(mark);
      return cut();
    }
    (*parsed)->pre_pass_quiet = !context_.any_pre_pass_mark(index_at(start), index_at(pos_));
    scratch.push_back(*parsed);
  }
}

}  // namespace quendal
