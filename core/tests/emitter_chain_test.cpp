// Long chains (else-if chains, call chains, extension call chains, operator
// chains) through the C++ API with tags on: every link's annotations carry
// the ranges a recursive walk gives them, outermost link first, and a chain
// of tens of thousands of links compiles on a 1 MiB stack to exactly what it
// compiles to on the main thread.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "diagnostic/diagnostic_code.h"
#include "quendal/compile.h"
#include "small_stack.h"

namespace quendal {
namespace {

using DC = DiagnosticCode;
using Record = std::tuple<DC, std::size_t, std::size_t>;  // code, start, end (byte offsets)

CompileConfig with_tags() {
  CompileConfig config;
  config.report_tags = true;
  return config;
}

// The records whose code is one of `codes`; sources are one ASCII line, so a
// column is a byte offset plus one.
std::vector<Record> records(const CompileResult& result, std::initializer_list<DC> codes) {
  std::vector<Record> out;
  const auto& d = result.diagnostics;
  for (std::size_t i = 0; i + 5 <= d.size(); i += 5) {
    const auto code = static_cast<DC>(d[i + 4]);
    for (const DC wanted : codes) {
      if (code == wanted) out.emplace_back(code, d[i + 1] - 1, d[i + 3] - 1);
    }
  }
  return out;
}

// Offsets of every occurrence of `text` in `source`.
std::vector<std::size_t> offsets(std::string_view source, std::string_view text) {
  std::vector<std::size_t> out;
  for (std::size_t at = source.find(text); at != std::string_view::npos; at = source.find(text, at + 1))
    out.push_back(at);
  return out;
}

CompileResult compile_on_small_stack(std::string_view source, const CompileConfig& config) {
  CompileResult result;
  testing::on_small_stack([&] { result = compile(source, config); });
  return result;
}

std::string repeat(std::string_view link, std::size_t n) {
  std::string out;
  out.reserve(link.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += link;
  return out;
}

std::string else_if_chain(std::size_t n) {
  std::string source = "let a = 1; if a == 0 { 0; }";
  for (std::size_t i = 1; i < n; ++i) source += " else if a == " + std::to_string(i) + " { 1; }";
  return source + " else { 2; }";
}

// Each `if` of the chain spans from its keyword to the end of the chain,
// and opens a scope of the same range; each has an `else`.
TEST(EmitterChains, EveryIfOfAnElseIfChainEndsWhereTheChainEnds) {
  constexpr std::size_t n = 5000;
  const std::string source = else_if_chain(n);
  const std::vector<std::size_t> ifs = offsets(source, "if ");
  const std::vector<std::size_t> elses = offsets(source, "else");
  ASSERT_EQ(ifs.size(), n);
  ASSERT_EQ(elses.size(), n);
  std::vector<Record> expected;
  for (std::size_t k = 0; k < n; ++k) {
    expected.emplace_back(DC::IfExpression, ifs[k], source.size());
    expected.emplace_back(DC::KeywordIf, ifs[k], ifs[k] + 2);
    expected.emplace_back(DC::KeywordElse, elses[k], elses[k] + 4);
    expected.emplace_back(DC::Scope, ifs[k], source.size());
  }
  const CompileResult result = compile_on_small_stack(source, with_tags());
  ASSERT_TRUE(result.chunk.has_value());
  // The scopes of the branches' blocks are left out.
  std::vector<Record> found = records(result, {DC::IfExpression, DC::KeywordIf, DC::KeywordElse, DC::Scope});
  std::erase_if(found, [&](const Record& r) {
    return std::get<0>(r) == DC::Scope && !std::binary_search(ifs.begin(), ifs.end(), std::get<1>(r));
  });
  EXPECT_EQ(found, expected);
}

// `a(1)(1)...`: the k-th call spans from `a` to its `)`; its callee is the
// chain up to the call before it.
TEST(EmitterChains, EveryCallOfAChainSpansFromItsStart) {
  constexpr std::size_t n = 30000;
  const std::string source = "let a = 1; a" + repeat("(1)", n);
  const std::size_t start = source.find("a(");
  std::vector<Record> expected;
  for (std::size_t k = n; k >= 1; --k) {
    const std::size_t open = start + 1 + 3 * (k - 1);
    expected.emplace_back(DC::FunctionCall, start, open + 3);
    expected.emplace_back(DC::Callable, start, open);
    expected.emplace_back(DC::ArgumentStart, open, open + 1);
    expected.emplace_back(DC::ArgumentEnd, open + 2, open + 3);
  }
  const CompileResult result = compile_on_small_stack(source, with_tags());
  ASSERT_TRUE(result.chunk.has_value());
  EXPECT_EQ(records(result, {DC::FunctionCall, DC::Callable, DC::ArgumentStart, DC::ArgumentEnd}), expected);
}

// `a::f()::f()...`: the k-th call spans from `a` to its `)`, its receiver is
// the chain before `::`, its callee the name after it.
TEST(EmitterChains, EveryExtensionCallOfAChainSpansFromItsReceiver) {
  constexpr std::size_t n = 30000;
  const std::string source = "let a = 1; fn f(x) { x } a" + repeat("::f()", n);
  const std::size_t start = source.rfind(" a") + 1;
  std::vector<Record> expected;
  for (std::size_t k = n; k >= 1; --k) {
    const std::size_t separator = start + 1 + 5 * (k - 1);
    expected.emplace_back(DC::ExtensionCall, start, separator + 5);
    expected.emplace_back(DC::ArgumentExtension, start, separator);
    expected.emplace_back(DC::Callable, separator + 2, separator + 3);
  }
  const CompileResult result = compile_on_small_stack(source, with_tags());
  ASSERT_TRUE(result.chunk.has_value());
  EXPECT_EQ(records(result, {DC::ExtensionCall, DC::ArgumentExtension, DC::Callable}), expected);
}

struct ChainCase {
  const char* name;
  std::function<std::string()> build;
};

class LongChain : public ::testing::TestWithParam<ChainCase> {};

// The same chunk and records on a 1 MiB stack as on the main thread's,
// tags and all.
TEST_P(LongChain, CompilesOnASmallStackAsOnTheMainThread) {
  const std::string source = GetParam().build();
  const CompileResult small = compile_on_small_stack(source, with_tags());
  const CompileResult main = compile(source, with_tags());
  ASSERT_TRUE(main.chunk.has_value());
  EXPECT_EQ(small.chunk, main.chunk);
  EXPECT_EQ(small.diagnostics, main.diagnostics);
}

std::string joined(std::string_view first, std::string_view separator, std::string_view item, std::size_t n) {
  std::string out(first);
  for (std::size_t i = 0; i < n; ++i) out += std::string(separator) + std::string(item);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, LongChain,
    ::testing::Values(
        ChainCase{"sum", [] { return joined("let a = 1; a", " + ", "a", 100000); }},
        ChainCase{"or", [] { return joined("let a = 1; a", " or ", "a", 100000); }},
        ChainCase{"mixed_operators",
                  [] { return joined("let a = 1; a", " < a in a and a ?? ", "a", 20000); }},
        ChainCase{
            "accesses_and_calls",
            [] { return "let a = 1; fn f(x) { x } a" + repeat(".x(1)[2][1..<2]!::f() 'x $(a)'", 10000); }},
        ChainCase{"global_chain", [] { return "global.g" + repeat(".x(1)", 50000); }},
        ChainCase{"assignment_target", [] { return "let mut m = 1; m" + repeat(".x", 50000) + " += 1;"; }},
        ChainCase{"else_if", [] { return else_if_chain(20000); }},
        ChainCase{"or_pattern", [] { return joined("let a = 1; a is 0", " or ", "[_] or (k: 1)", 20000); }},
        ChainCase{"and_pattern",
                  [] { return joined("let a = 1; let b = a is _", " and ", "> 1", 50000) + ";"; }},
        ChainCase{"match_or_pattern",
                  [] { return joined("let a = 1; match a { case 0", " or ", "1", 50000) + " { 1; } }"; }},
        ChainCase{"binding_or_pattern",
                  [] {
                    std::string source = "let a = 1; let [x0]";
                    for (int i = 1; i < 20000; ++i) source += " or [x" + std::to_string(i) + "]";
                    return source + " = a;";
                  }}),
    [](const ::testing::TestParamInfo<ChainCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quendal
