// Native lexer benchmark: lexes a generated multi-megabyte script (or the
// given file) several times and reports the best run in MB/s (wall clock and
// process CPU time), tokens per second and arena bytes per source byte. Then lexes inputs built to trap a
// lexer into rescanning, at two sizes, to show that time grows linearly.
//
//   lex_bench [FILE] [--repeat N] [--size-mb M] [--template] [--no-traps]
//   lex_bench --memory FILE [--template]
//   lex_bench --tree FILE
//
// --memory lexes FILE once and prints the bytes that its tokens and their
// payloads hold, as `token_bytes N` (rows and side tables in use, plus the
// arena text of assembled strings) and `token_bytes_reserved N` (what those
// tables and the arena have allocated), then bytes per source byte.
//
// --tree lexes and parses FILE once and prints the bytes the syntax tree
// took from the arena (`tree_bytes N`), then bytes per source byte.
//
// Build: cmake -S . -B build-bench -G Ninja -DQUENDAL_BENCH=ON
//        cmake --build build-bench --target quendal_lex_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "lexer/lex.h"
#include "parser/parse_script.h"

namespace {

using Clock = std::chrono::steady_clock;

// One unit of script: declarations, loops, records, strings with
// interpolations and formats, comments, numbers of every shape.
std::string unit(int i) {
  const std::string n = std::to_string(i);
  std::string s;
  s += "// unit " + n + ": counters, records and formatted output\n";
  s += "fn make_counter_" + n + "(start, step) {\n  let mut count = start;\n";
  s += "  fn next() {\n    count += step * 2 - 1;\n    count\n  }\n  next\n}\n\n";
  s += "let values_" + n + " = [1, 2.5, 0x1F, 1_000_000, 3.14159e-2, 0b1010, " + n + "];\n";
  s += "let record_" + n + " = (name: 'unit " + n + "', size: " + n +
       ", ratio: 0.75, tags: [\"a\", \"b\"]);\n";
  s += "/* the loop below sums the values\n   and prints a report */\n";
  s += "let mut total_" + n + " = 0;\nfor v in values_" + n + " {\n";
  s += "  if v > 10 && v != 42 { total_" + n + " += v } else { total_" + n + " -= v / 2 }\n}\n";
  s += "while total_" + n + " >= 100 { total_" + n + " /= 3; }\n";
  s += "let label_" + n + " = match record_" + n + ".size { 0 -> 'zero', _ -> \"many\" };\n";
  s += "print(\"total $(total_" + n + ":0.2f) for $label_" + n + " in ${record_" + n + ".name}\\n\");\n";
  s += "print(@'raw \\path\\to\\file " + n + "'@, record_" + n + ".tags.0, not (total_" + n + " in values_" +
       n + "));\n\n";
  return s;
}

double mb(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Run {
  double seconds = 0;
  double cpu = 0;  // process CPU time: less disturbed by other load on the machine
  std::size_t tokens = 0;
  std::size_t arena = 0;
  bool ok = false;
};

Run lex_once(const std::string& source, bool tmpl) {
  quendal::CompileConfig config;
  quendal::Arena arena;
  const auto start = Clock::now();
  const double cpu_start = cpu_seconds();
  quendal::LexResult r =
      tmpl ? quendal::lex_string(source, config, arena) : quendal::lex(source, config, arena);
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.cpu = cpu_seconds() - cpu_start;
  run.tokens = r.tokens.size();
  run.arena = arena.reserved_bytes();
  run.ok = r.ok;
  return run;
}

Run best_of(const std::string& source, int repeat, bool tmpl) {
  Run best;
  best.seconds = std::numeric_limits<double>::infinity();
  best.cpu = std::numeric_limits<double>::infinity();
  for (int i = 0; i < repeat; ++i) {
    const Run r = lex_once(source, tmpl);
    best.seconds = std::min(best.seconds, r.seconds);
    best.cpu = std::min(best.cpu, r.cpu);
    best.tokens = r.tokens;
    best.arena = r.arena;
    best.ok = r.ok;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  int repeat = 5;
  double size_mb = 8;
  bool tmpl = false;
  bool traps_wanted = true;
  bool memory = false;
  bool tree = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--size-mb") == 0 && i + 1 < argc) {
      size_mb = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--template") == 0) {
      tmpl = true;
    } else if (std::strcmp(argv[i], "--no-traps") == 0) {
      traps_wanted = false;
    } else if (std::strcmp(argv[i], "--memory") == 0) {
      memory = true;
    } else if (std::strcmp(argv[i], "--tree") == 0) {
      tree = true;
    } else if (argv[i][0] != '-') {
      path = argv[i];
    } else {
      std::fprintf(stderr,
                   "usage: lex_bench [FILE] [--repeat N] [--size-mb M] [--template] [--no-traps]\n"
                   "       lex_bench --memory FILE [--template]\n");
      return 2;
    }
  }

  std::string source;
  if (path != nullptr) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "lex_bench: cannot read %s\n", path);
      return 2;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    source = buffer.str();
  } else {
    const auto target = static_cast<std::size_t>(size_mb * 1024 * 1024);
    for (int i = 0; source.size() < target; ++i) source += unit(i);
  }

  if (tree) {
    quendal::CompileConfig config;
    quendal::Arena arena;
    const quendal::LexResult lexed = quendal::lex(source, config, arena);
    const std::size_t before = arena.held_bytes();
    const quendal::UsingTokens using_tokens(lexed.tokens, arena);
    const quendal::ParseOutcome parsed = quendal::parse_script(lexed.tokens, arena);
    const std::size_t bytes = arena.held_bytes() - before;
    std::printf("tree_bytes %zu\n", bytes);
    std::printf("tree: %.2f bytes per source byte%s\n",
                static_cast<double>(bytes) / static_cast<double>(source.size()), parsed.cut ? " (cut)" : "");
    return 0;
  }

  if (memory) {
    quendal::CompileConfig config;
    quendal::Arena arena;
    const quendal::LexResult lexed =
        tmpl ? quendal::lex_string(source, config, arena) : quendal::lex(source, config, arena);
    const std::size_t used = lexed.tokens.bytes_used() + arena.reserved_bytes();
    const std::size_t reserved = lexed.tokens.bytes_reserved() + arena.reserved_bytes();
    const double bytes = static_cast<double>(source.size());
    std::printf("token_bytes %zu\ntoken_bytes_reserved %zu\n", used, reserved);
    std::printf("tokens %u, %.2f bytes per source byte in use, %.2f allocated%s\n", lexed.tokens.size(),
                static_cast<double>(used) / bytes, static_cast<double>(reserved) / bytes,
                lexed.ok ? "" : " (lexer failed)");
    return 0;
  }

  const Run r = best_of(source, repeat, tmpl);
  std::printf(
      "lex %s: %.2f MB, %zu tokens, best of %d: %.1f ms wall (%.1f MB/s), %.1f ms CPU (%.1f MB/s, %.1f M "
      "tokens/s), "
      "arena %.1f bytes/byte%s\n",
      path != nullptr ? path : "generated script", mb(source.size()), r.tokens, repeat, r.seconds * 1e3,
      mb(source.size()) / r.seconds, r.cpu * 1e3, mb(source.size()) / r.cpu,
      static_cast<double>(r.tokens) / r.cpu / 1e6,
      static_cast<double>(r.arena) / static_cast<double>(source.size()), r.ok ? "" : " (lexer failed)");

  if (!traps_wanted) return 0;
  // Rescan traps: the time per byte should not grow with the size.
  struct Trap {
    const char* name;
    std::string (*make)(std::size_t);
  };
  const Trap traps[] = {
      {"slashes before a lone CR", [](std::size_t n) { return std::string(n, '/').append("\r"); }},
      {"@ runs without a quote", [](std::size_t n) { return std::string(n, '@'); }},
      {"quotes in a raw string",
       [](std::size_t n) { return std::string("@@@@'").append(n, '\'').append("'"); }},
      {"backslashes", [](std::size_t n) { return std::string("'").append(n, '\\'); }},
      {"unclosed format", [](std::size_t n) { return std::string("'$(x:").append(n, '('); }},
      {"block comments",
       [](std::size_t n) {
         std::string s;
         while (s.size() < n) s += "/*c*/ ";
         return s + "x";
       }},
      {"nested parentheses", [](std::size_t n) { return std::string(n, '('); }},
  };
  for (const Trap& t : traps) {
    const std::string small = t.make(1 << 20);
    const std::string large = t.make(4 << 20);
    const Run a = best_of(small, 3, false);
    const Run b = best_of(large, 3, false);
    std::printf("trap %-26s CPU 1 MB %7.1f ms, 4 MB %7.1f ms (x%.1f), arena %.1f bytes/byte\n", t.name,
                a.cpu * 1e3, b.cpu * 1e3, b.cpu / a.cpu,
                static_cast<double>(b.arena) / static_cast<double>(large.size()));
  }
  return 0;
}
