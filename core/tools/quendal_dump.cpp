// quendal_dump: prints what the front end makes of one script or template.
//
//   quendal_dump [--template] [--tokens|--tree] [FILE | -]
//
// --tokens (the default) prints the lexer's tokens, one per line, as lexed
// (unknown tokens still wrapped). --tree lexes with recovery, runs the script
// loop and the diagnostics walk, then prints one line per statement, the
// trailing value after "=>", and every collected diagnostic. Exit 0 after a
// dump, 1 when the parser cut, 2 on bad usage or unreadable input, 3 on an
// internal failure.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "debug/ast_dump.h"
#include "diagnostic/diagnostics_collector.h"
#include "lexer/lex.h"
#include "parser/ast.h"
#include "parser/parse_script.h"
#include "quendal/compile.h"

namespace {

constexpr const char* kUsage = "usage: quendal_dump [--template] [--tokens|--tree] [FILE | -]\n";

int usage_error(const std::string& message) {
  std::cerr << "quendal_dump: " << message << "\n" << kUsage;
  return 2;
}

bool read_input(const std::string& path, std::string& text) {
  std::ostringstream buffer;
  if (path.empty() || path == "-") {
    buffer << std::cin.rdbuf();
  } else {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    buffer << file.rdbuf();
  }
  text = buffer.str();
  return true;
}

int dump_tree(std::string_view source, const quendal::CompileConfig& config) {
  using namespace quendal;
  Arena arena;
  DiagnosticsCollector collector(source, config);
  LexResult lexed = config.input_mode == InputMode::Template ? lex_string(source, config, arena, &collector)
                                                             : lex(source, config, arena, &collector);
  if (!lexed.ok) {
    std::cout << "lexer stopped at " << lexed.stop_offset << "\n";
    return 1;
  }
  const Tokens& tokens = lexed.tokens;
  if (tokens.list().empty()) throw InternalFailure("Cannot parse an empty token list");
  const UsingTokens using_tokens(tokens, arena);

  const ParseOutcome outcome = parse_script(tokens, arena);
  if (outcome.cut) {
    collector.append_direct({outcome.error_start, outcome.error_end, DiagnosticCode::ParserError});
    std::cout << "cut\n";
  } else {
    Script& script = *outcome.script;
    for (Statement* statement : script.statements) collect_diagnostics(*statement, collector);
    if (script.expression != nullptr) collect_diagnostics(script.expression, collector);
    if (script.eof.is_owned()) script.eof.collect_diagnostics(collector);
    for (const Statement* statement : script.statements) std::cout << dump_statement(*statement) << "\n";
    if (script.expression != nullptr) std::cout << "=> " << dump_expression(*script.expression) << "\n";
    if (script.eof.is_owned()) std::cout << "eof " << dump_token_ref(script.eof) << "\n";
  }
  for (const SourceDiagnostic& d : collector.diagnostics()) std::cout << "! " << dump_diagnostic(d) << "\n";
  return outcome.cut ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  quendal::CompileConfig config;
  bool tree = false;
  std::string path;
  bool have_path = false;
  for (int a = 1; a < argc; ++a) {
    const std::string_view arg = argv[a];
    if (arg == "--template") {
      config.input_mode = quendal::InputMode::Template;
    } else if (arg == "--tokens") {
      tree = false;
    } else if (arg == "--tree") {
      tree = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg.size() > 1 && arg.starts_with("-")) {
      return usage_error("unknown option " + std::string(arg));
    } else if (have_path) {
      return usage_error("more than one input");
    } else {
      path = arg;
      have_path = true;
    }
  }
  std::string source;
  if (!read_input(path, source)) return usage_error("cannot read " + path);

  try {
    if (tree) return dump_tree(source, config);
    quendal::Arena arena;
    quendal::LexResult lexed = config.input_mode == quendal::InputMode::Template
                                   ? quendal::lex_string(source, config, arena)
                                   : quendal::lex(source, config, arena);
    if (!lexed.ok) {
      std::cout << "lexer stopped at " << lexed.stop_offset << "\n";
      return 1;
    }
    std::cout << quendal::dump_tokens(lexed.tokens);
    return 0;
  } catch (const quendal::InternalFailure& failure) {
    std::cerr << "quendal_dump: internal failure: " << failure.what() << "\n";
    return 3;
  }
}
