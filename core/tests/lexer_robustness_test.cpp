// Bad and pathological input: nesting limits, stack use, random text.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "diagnostic/diagnostics_collector.h"
#include "lexer/lexer.h"
#include "lexer_test_support.h"
#include "support/checks.h"

namespace quendal {
namespace {

constexpr int kLimit = lexer::kMaxInterpolationDepth;

// `depth` interpolations nested inside each other: '$('$('$(x)')')'
std::string nested_parens(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "'$(";
  s += "x";
  for (int i = 0; i < depth; ++i) s += ")'";
  return s;
}

std::string nested_braces(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "\"${";
  s += "x";
  for (int i = 0; i < depth; ++i) s += "}\"";
  return s;
}

int interpolation_depth(const Tokens& tokens, TokenIndex i) {
  const Token t = tokens.get(i);
  if (t.kind.tag != TokenTag::InterpolatedString) return 0;
  int deepest = 0;
  for (const StringPart& p : t.kind.string->parts)
    for (TokenIndex inner = p.tokens.begin; inner < p.tokens.end; ++inner)
      deepest = std::max(deepest, interpolation_depth(tokens, inner));
  return deepest + 1;
}

TEST(Nesting, UpToTheLimitLexes) {
  for (const std::string& source : {nested_parens(kLimit), nested_braces(kLimit)}) {
    Arena arena;
    CompileConfig config;
    LexResult r = lex(source, config, arena);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.tokens.list().size(), 2u);
    EXPECT_EQ(r.tokens.tag(0), TokenTag::InterpolatedString);
    EXPECT_EQ(interpolation_depth(r.tokens, 0), kLimit);
  }
  // A template body counts as the outermost string.
  const std::string tmpl = "$(" + nested_parens(kLimit - 1) + ")";
  Arena arena;
  CompileConfig config;
  LexResult r = lex_string(tmpl, config, arena);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(interpolation_depth(r.tokens, 0), kLimit);
}

TEST(Nesting, BeyondTheLimitFailsWhereItStopped) {
  Arena arena;
  CompileConfig config;
  LexResult r = lex(nested_parens(kLimit + 1), config, arena);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.tokens.list().empty());
  EXPECT_EQ(r.stop_offset, static_cast<std::uint64_t>(kLimit) * 3 + 2);  // the `(` one level too deep
  LexResult b = lex("a + " + nested_braces(kLimit + 1), config, arena);
  EXPECT_FALSE(b.ok);
  EXPECT_EQ(b.stop_offset, 4 + static_cast<std::uint64_t>(kLimit) * 3 + 2);
  LexResult t = lex_string("$(" + nested_parens(kLimit) + ")", config, arena);
  EXPECT_FALSE(t.ok);
}

TEST(Nesting, FarBeyondTheLimitFailsWithoutCrashing) {
  for (const std::string& source : {nested_parens(200000), nested_braces(200000), std::string(300000, '(')}) {
    Arena arena;
    CompileConfig config;
    LexResult r = lex(source, config, arena);
    if (source[0] == '(') {
      EXPECT_TRUE(r.ok);  // plain parentheses do not nest in the lexer
      EXPECT_EQ(r.tokens.size(), 300001u);
    } else {
      EXPECT_FALSE(r.ok);
    }
  }
}

// Runs `body` on a thread whose stack is painted first; returns the number of
// stack bytes the body touched.
std::size_t stack_bytes_used(std::size_t stack_size, const std::function<void()>& body) {
  std::vector<unsigned char> stack(stack_size + 4096);
  auto base = reinterpret_cast<std::uintptr_t>(stack.data());
  auto* aligned = reinterpret_cast<unsigned char*>((base + 4095) & ~std::uintptr_t{4095});
  std::memset(aligned, 0xA5, stack_size);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, aligned, stack_size);
  pthread_t thread;
  auto run = [](void* p) -> void* {
    (*static_cast<const std::function<void()>*>(p))();
    return nullptr;
  };
  EXPECT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  std::size_t untouched = 0;
  while (untouched < stack_size && aligned[untouched] == 0xA5) ++untouched;
  return stack_size - untouched;
}

// Lexing, recovering and copying the deepest accepted nesting fits easily in
// a 1 MiB stack (Python threads may have small stacks).
TEST(Nesting, DeepestNestingFitsInOneMebibyteStack) {
#if QUENDAL_ASAN
  GTEST_SKIP() << "AddressSanitizer does not support a caller-provided thread stack, and grows frames";
#endif
  auto work = [](int depth, bool all) {
    return [depth, all] {
      const std::string source = nested_parens(depth);
      Arena arena;
      CompileConfig config;
      config.report_tags = all;
      DiagnosticsCollector collector(source, config);
      LexResult r = lex(source, config, arena, all ? &collector : nullptr);
      ASSERT_TRUE(r.ok);
      if (all) {
        ASSERT_EQ(collector.diagnostics().size(), static_cast<std::size_t>(depth));
      }
    };
  };
  constexpr std::size_t kStack = 1 << 20;
  for (bool all : {false, true}) {
    const std::size_t shallow = stack_bytes_used(kStack, work(1, all));
    const std::size_t deep = stack_bytes_used(kStack, work(kLimit, all));
    const std::size_t per_level = (deep - shallow) / (kLimit - 1);
    std::printf("stack (%s): %zu bytes at depth 1, %zu bytes at depth %d, %zu bytes per level\n",
                all ? "lex and recover" : "lex", shallow, deep, kLimit, per_level);
    RecordProperty(all ? "stack_bytes_per_level_all" : "stack_bytes_per_level_lex",
                   static_cast<int>(per_level));
    EXPECT_LT(deep, kStack / 2);
  }
}

// Random text from an alphabet that hits every branch of the lexer: the list
// always ends with Eof, ranges are ordered and on character boundaries, and
// recovery and copying work on whatever came out.
void check_tokens(const Tokens& tokens, TokenRange list, std::string_view source, std::uint32_t& last_end) {
  for (TokenIndex i = list.begin; i < list.end; ++i) {
    const Token t = tokens.get(i);
    ASSERT_LE(t.start, t.end);
    ASSERT_LE(t.end, source.size());
    ASSERT_GE(t.start, last_end);
    for (std::uint32_t p : {t.start, t.end}) {
      if (p < source.size()) {
        ASSERT_NE(static_cast<unsigned char>(source[p]) & 0xC0, 0x80) << source;
      }
    }
    last_end = t.end;
    if (t.kind.tag == TokenTag::InterpolatedString) {
      std::uint32_t inner_end = t.start;
      for (const StringPart& part : t.kind.string->parts)
        check_tokens(tokens, part.tokens, source, inner_end);
      ASSERT_LE(inner_end, t.end);
    }
  }
}

TEST(RandomInput, AlwaysEndsWithEof) {
  static const char* const kPieces[] = {"'",
                                        "\"",
                                        "`",
                                        "@",
                                        "$",
                                        "$(",
                                        "${",
                                        "(",
                                        ")",
                                        "{",
                                        "}",
                                        "\\",
                                        "/",
                                        "*",
                                        "//",
                                        "/*",
                                        "*/",
                                        "\n",
                                        "\r",
                                        " ",
                                        ":",
                                        "?",
                                        "!",
                                        "=",
                                        ".",
                                        "0",
                                        "1",
                                        "9",
                                        "e",
                                        "x",
                                        "_",
                                        "if",
                                        "not",
                                        "in",
                                        "type",
                                        "\xC3\xA9",
                                        "\xE2\x82\xAC",
                                        "\xF0\x9F\x98\x80",
                                        "0x",
                                        "1e+",
                                        "\\u{",
                                        "\\x",
                                        "&",
                                        "|",
                                        "#",
                                        "["};
  std::mt19937 rng(7);
  for (int i = 0; i < 30000; ++i) {
    std::string source;
    const int n = static_cast<int>(rng() % 40);
    for (int j = 0; j < n; ++j) source += kPieces[rng() % std::size(kPieces)];
    for (bool tmpl : {false, true}) {
      Arena arena;
      CompileConfig config;
      config.report_tags = true;
      DiagnosticsCollector collector(source, config);
      LexResult r =
          tmpl ? lex_string(source, config, arena, &collector) : lex(source, config, arena, &collector);
      ASSERT_TRUE(r.ok) << source;
      const TokenRange list = r.tokens.list();
      ASSERT_FALSE(list.empty());
      ASSERT_EQ(r.tokens.tag(list.end - 1), TokenTag::Eof) << source;
      for (TokenIndex k = list.begin; k + 1 < list.end; ++k) {
        ASSERT_NE(r.tokens.tag(k), TokenTag::Eof) << source;
      }
      if (tmpl) {
        ASSERT_EQ(list.size(), 2u);
      }
      std::uint32_t last_end = 0;
      check_tokens(r.tokens, list, source, last_end);
      for (const SourceDiagnostic& d : collector.diagnostics()) {
        ASSERT_LE(d.start, d.end);
        ASSERT_LE(d.end, source.size());
      }
    }
  }
}

TEST(RandomInput, ArbitraryBytesDoNotCrash) {
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    std::string source(rng() % 48, '\0');
    for (char& c : source) c = static_cast<char>(rng() % 256);
    for (bool tmpl : {false, true}) {
      Arena arena;
      CompileConfig config;
      LexResult r = tmpl ? lex_string(source, config, arena) : lex(source, config, arena);
      ASSERT_TRUE(r.ok);
      ASSERT_EQ(r.tokens.tag(r.tokens.list().end - 1), TokenTag::Eof);
    }
  }
}

// Inputs that would make a careless lexer rescan: they must simply finish.
TEST(RandomInput, RescanTrapsFinish) {
  const std::size_t n = 1 << 20;
  for (const std::string& source :
       {std::string(n, '/').append("\r"), std::string(n, '@'), std::string("'").append(n, '\\'),
        std::string(n, '$'), std::string("@@@@'").append(n, '\'').append("'"),
        std::string("'$(x:").append(n, '('), std::string(n, '1').append(".5"),
        std::string("'").append(n / 4, '$').append("'"), std::string("/*").append(n, '*')}) {
    Arena arena;
    CompileConfig config;
    LexResult r = lex(source, config, arena);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.tokens.tag(r.tokens.list().end - 1), TokenTag::Eof);
  }
}

}  // namespace
}  // namespace quendal
