#pragma once
// Shared by the parser tree tests: lex, unwrap unknown tokens into the
// collector, run the script loop and the diagnostics walk, and print the
// result.
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "debug/ast_dump.h"
#include "diagnostic/diagnostics_collector.h"
#include "lexer/lex.h"
#include "parser/ast.h"
#include "parser/parse_script.h"
#include "quendal/compile.h"

namespace quendal::testing {

struct ParsedSource {
  explicit ParsedSource(std::string_view text) : source(text), collector(source, config) {
    LexResult lexed = lex(source, config, arena, &collector);
    tokens = std::move(lexed.tokens);
    using_tokens.emplace(tokens, arena);
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
  Tokens tokens;
  std::optional<UsingTokens> using_tokens;
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
