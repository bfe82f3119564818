// Parameter lists of functions and function literals.
#include "parser/parser.h"

namespace quendal {

// parameter_list -> `(` (pattern | `..` pattern) (`,` ...)* `)`
ParserResult<ParameterList*> Parser::parameter_list() {
  if (!at_operator(Operator::OpenParen)) return kBacktrack;
  QUENDAL_TRY(list, array_pattern_like(Operator::OpenParen, Operator::CloseParen,
                                       DiagnosticCode::MissingCloseParen, PatternMode::Binding));
  auto* node = arena_.make<ParameterList>();
  node->open = (*list)->open;
  node->close = (*list)->close;
  node->parameters = (*list)->elements;
  // Only the last parameter may collect the rest.
  for (std::size_t i = 0; i + 1 < node->parameters.size(); ++i) {
    PatternElement& parameter = node->parameters[i].item;
    if (!parameter.is_spread()) continue;
    Pattern* wrapped =
        wrap_pattern_as_unknown(arena_, parameter.spread_value(), token_list({parameter.spread}),
                                DiagnosticCode::MispositionedRestParameter);
    parameter.spread = TokenRef();
    parameter.element = wrapped;
  }
  return node;
}

}  // namespace quendal
