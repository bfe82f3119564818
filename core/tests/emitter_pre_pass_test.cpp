// The rule of the declaration pre-pass, seen in the order of the records of
// whole compilations: the pre-pass of a scope reports the calls of every
// expression of the scope before any code of the scope is emitted, except
// those inside block-like forms, which are reported when the form's own scope
// opens. Each row lists the Scope tags and the FunctionCall tags in the
// order they are recorded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostic/diagnostic_code.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using Lines = std::vector<std::string>;

Lines scopes_and_calls(std::string_view source) {
  CompileConfig config;
  config.report_tags = true;
  const CompileResult result = compile(source, config);
  Lines out;
  const auto& d = result.diagnostics;
  for (std::size_t i = 0; i + 5 <= d.size(); i += 5) {
    const auto code = diagnostic_code_from_number(static_cast<std::uint16_t>(d[i + 4]));
    if (!code || (*code != DiagnosticCode::Scope && *code != DiagnosticCode::FunctionCall)) continue;
    const std::size_t start = d[i + 1] - 1;
    const std::size_t end = d[i + 3] - 1;
    out.push_back(std::string(diagnostic_code_name(*code)) + " " +
                  std::string(source.substr(start, end - start)));
  }
  return out;
}

struct PrePassCase {
  const char* name;
  const char* source;
  Lines expected;
};

class PrePassOrder : public ::testing::TestWithParam<PrePassCase> {};

TEST_P(PrePassOrder, BlockLikeFormsArePrePassedWhenTheirScopeOpens) {
  EXPECT_EQ(scopes_and_calls(GetParam().source), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PrePassOrder,
    ::testing::Values(
        PrePassCase{"block",
                    "a(); { b() }; c()",
                    {"Scope a(); { b() }; c()", "FunctionCall a()", "FunctionCall c()", "Scope { b() }",
                     "FunctionCall b()"}},
        PrePassCase{"function_literal",
                    "a(); let f = fn { b() }; c()",
                    {"Scope a(); let f = fn { b() }; c()", "FunctionCall a()", "FunctionCall c()",
                     "Scope fn { b() }", "FunctionCall b()"}},
        PrePassCase{"fn_statement",
                    "a(); fn f(x) { b() } c()",
                    {"Scope a(); fn f(x) { b() } c()", "FunctionCall a()", "FunctionCall c()",
                     "Scope fn f(x) { b() }", "FunctionCall b()"}},
        PrePassCase{"if_else",
                    "a(); if b() { c() } else { d() }; e()",
                    {"Scope a(); if b() { c() } else { d() }; e()", "FunctionCall a()", "FunctionCall e()",
                     "Scope if b() { c() } else { d() }", "FunctionCall b()", "Scope { c() }",
                     "FunctionCall c()", "Scope { d() }", "FunctionCall d()"}},
        PrePassCase{"conditional",
                    "a(); b() ? c() : d(); e()",
                    {"Scope a(); b() ? c() : d(); e()", "FunctionCall a()", "FunctionCall e()",
                     "Scope b() ? c() : d()", "FunctionCall b()", "FunctionCall c()", "FunctionCall d()"}},
        PrePassCase{"while",
                    "a(); while b() { c() }; d()",
                    {"Scope a(); while b() { c() }; d()", "FunctionCall a()", "FunctionCall d()",
                     "Scope { c() }", "FunctionCall b()", "FunctionCall c()"}},
        PrePassCase{"loop",
                    "a(); loop { b() }; c()",
                    {"Scope a(); loop { b() }; c()", "FunctionCall a()", "FunctionCall c()", "Scope { b() }",
                     "FunctionCall b()"}},
        PrePassCase{"for",
                    "a(); for x in b() { c() }; d()",
                    {"Scope a(); for x in b() { c() }; d()", "FunctionCall a()", "FunctionCall d()",
                     "Scope { c() }", "FunctionCall b()", "FunctionCall c()"}},
        PrePassCase{"match_subject_outside_arms_inside",
                    "a(); match b() { case 1 if c() { d() } case _ { e() } }; f()",
                    {"Scope a(); match b() { case 1 if c() { d() } case _ { e() } }; f()", "FunctionCall a()",
                     "FunctionCall b()", "FunctionCall f()", "Scope case 1 if c() { d() }",
                     "FunctionCall c()", "FunctionCall d()", "Scope case _ { e() }", "FunctionCall e()"}},
        PrePassCase{"nested_call_arguments",
                    "a(b(), fn { c() }, d())",
                    {"Scope a(b(), fn { c() }, d())", "FunctionCall a(b(), fn { c() }, d())",
                     "FunctionCall b()", "FunctionCall d()", "Scope fn { c() }", "FunctionCall c()"}},
        PrePassCase{"module",
                    "a(); mod m { pub let x = b() } c()",
                    {"Scope a(); mod m { pub let x = b() } c()", "FunctionCall a()", "FunctionCall c()",
                     "Scope { pub let x = b() }", "FunctionCall b()"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quendal
