#include <limits>

#include "lexer/lex.h"
#include "lexer/lexer.h"

namespace quendal {

// A template is the body of one string: raw level 1, no quote, running to the
// end of the input.
LexResult lex_string(std::string_view source, const CompileConfig& config, Arena& arena) {
  LexResult result{true, TokenList(&arena), 0};
  if (source.size() >= std::numeric_limits<std::uint32_t>::max()) {
    result.ok = false;
    return result;
  }
  lexer::Lexer lx(source, config, arena);
  const auto size = static_cast<std::uint32_t>(source.size());
  StringInfo* info = arena.make<StringInfo>(&arena);
  info->close_start = size;
  info->close_end = size;
  info->raw_level = 1;
  info->quote = 0;
  const TokenKind body = lexer::string_content(lx, info);
  result.tokens.reserve(2);
  result.tokens.push_back(Token{body, 0, size});
  const Token eof = lexer::token(lx, &result.tokens.back());
  if (lx.failed || !eof.kind.is_eof()) {
    result.ok = false;
    result.stop_offset = lx.failed ? lx.stop_offset : eof.start;
    result.tokens.clear();
    return result;
  }
  result.tokens.push_back(eof);
  return result;
}

}  // namespace quendal
