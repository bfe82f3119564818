#include "compile/recover_token.h"

namespace quendal {

std::optional<Token> recover_token(Token token, DiagnosticsCollector& collector, Arena& arena) {
  const bool tags = collector.config().report_tags;
  switch (token.kind.tag) {
    case TokenTag::String:
      if (tags) collector.append_direct({token.start, token.end, DiagnosticCode::String});
      return token;
    case TokenTag::InterpolatedString:
      if (tags) collector.append_direct({token.start, token.end, DiagnosticCode::Interpolation});
      for (StringPart& part : token.kind.string->parts) {
        TokenList& list = *part.tokens;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
          if (std::optional<Token> t = recover_token(list[i], collector, arena)) list[kept++] = *t;
        }
        list.resize(kept);
      }
      return token;
    case TokenTag::Unknown: {
      UnknownBox* box = token.kind.unknown_box;
      collector.append(box->diagnostics);
      const Token inner{box->inner, token.start, token.end};
      return recover_token(inner, collector, arena);
    }
    default:
      return token;
  }
}

}  // namespace quendal
