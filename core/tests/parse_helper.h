#pragma once
// Shared by the parser tree tests: lex, unwrap unknown tokens into the
// collector, run the script loop and the diagnostics walk, and print the
// result.
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostic/diagnostics_collector.h"
#include "lexer/lex.h"
#include "parser/ast.h"
#include "parser/ast_dump.h"
#include "parser/parse_script.h"
#include "quendal/compile.h"

namespace quendal::testing {

// A simplified token recovery: every Unknown level is unwrapped into the
// collector, also inside interpolation parts. Tags are not produced.
inline void unwrap_token(Token& token, DiagnosticsCollector& collector) {
  while (token.kind.tag == TokenTag::Unknown) {
    UnknownBox* box = token.kind.unknown_box;
    collector.append(box->diagnostics);
    TokenKind inner = box->inner;
    token.kind = inner;
  }
  if (token.kind.tag == TokenTag::InterpolatedString && token.kind.string != nullptr) {
    for (StringPart& part : token.kind.string->parts)
      if (part.tokens != nullptr)
        for (Token& t : *part.tokens) unwrap_token(t, collector);
  }
}

struct ParsedSource {
  explicit ParsedSource(std::string_view text) : source(text), collector(source, config), tokens(&arena) {
    LexResult lexed = lex(source, config, arena);
    tokens = std::move(lexed.tokens);
    for (Token& t : tokens) unwrap_token(t, collector);
    outcome = parse_script(tokens, arena);
    if (outcome.cut) return;
    Script& script = *outcome.script;
    for (Statement* s : script.statements) collect_diagnostics(*s, collector);
    if (script.expression != nullptr) collect_diagnostics(script.expression, collector);
    if (script.eof.is_owned()) script.eof.collect_diagnostics(collector);
  }

  std::string tree() const { return outcome.cut ? std::string("#cut") : dump_script(*outcome.script); }
  std::string diagnostics() const { return dump_diagnostics(collector.diagnostics()); }
  const Script& script() const { return *outcome.script; }

  std::string source;
  CompileConfig config;
  Arena arena;
  DiagnosticsCollector collector;
  TokenList tokens;
  ParseOutcome outcome;
};

// Compares blank-separated `Code@range` lists; an expected entry `Code@*`
// matches that code at any range.
inline bool diagnostics_match(std::string_view expected, std::string_view actual) {
  std::istringstream e{std::string(expected)}, a{std::string(actual)};
  std::string ew, aw;
  while (true) {
    const bool more_e = static_cast<bool>(e >> ew);
    const bool more_a = static_cast<bool>(a >> aw);
    if (!more_e || !more_a) return more_e == more_a;
    if (ew.ends_with("@*")) {
      if (aw.substr(0, aw.find('@')) != ew.substr(0, ew.size() - 2)) return false;
    } else if (ew != aw) {
      return false;
    }
  }
}

}  // namespace quendal::testing
