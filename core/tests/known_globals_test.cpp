// Known globals: with the host's names given, a read of an undeclared name
// outside them draws GlobalVariableNotDeclared over the name; without them,
// nothing changes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "quendal/compile.h"

namespace quendal {
namespace {

constexpr std::uint32_t kGlobalVariableNotDeclared = 2011;

// The text of every warned name (one-line ASCII sources).
std::vector<std::string> warned(std::string_view source, const KnownGlobals* known) {
  CompileConfig config;
  config.report_source_map = false;
  config.known_globals = known;
  const CompileResult result = compile(source, config);
  std::vector<std::string> out;
  const auto& d = result.diagnostics;
  for (std::size_t i = 0; i + 5 <= d.size(); i += 5)
    if (d[i + 4] == kGlobalVariableNotDeclared)
      out.emplace_back(source.substr(d[i + 1] - 1, d[i + 3] - d[i + 1]));
  return out;
}

struct Case {
  std::string_view source;
  std::optional<std::vector<std::string>> known;
  std::vector<std::string> expected;
};

TEST(KnownGlobals, WarnsOnUndeclaredNamesOutsideTheList) {
  const Case cases[] = {
      {"let xs = [1]; lenght(xs)", std::vector<std::string>{"len"}, {"lenght"}},
      {"len([1]) + print", std::vector<std::string>{"print", "len", "print"}, {}},
      {"a + b(c) + [1]::d()", std::vector<std::string>{"a"}, {"b", "c", "d"}},
      {"global.foo + global['bar']", std::vector<std::string>{}, {}},
      {"fn f(p) { p + q } let r = 1; f(r)", std::vector<std::string>{}, {"q"}},
      {"lenght(xs)", std::nullopt, {}},
  };
  for (const Case& c : cases) {
    std::optional<KnownGlobals> known;
    if (c.known) known.emplace(*c.known);
    EXPECT_EQ(warned(c.source, known ? &*known : nullptr), c.expected) << c.source;
  }
}

TEST(KnownGlobals, ChunkIsKeptAndOtherRecordsAreUnchanged) {
  const std::string_view source = "let x = 1; x + y";
  const KnownGlobals none;
  CompileConfig plain;
  CompileConfig checked;
  checked.known_globals = &none;
  const CompileResult a = compile(source, plain);
  const CompileResult b = compile(source, checked);
  ASSERT_TRUE(b.chunk.has_value());
  EXPECT_EQ(a.chunk, b.chunk);
  std::vector<std::uint32_t> without_warning;
  for (std::size_t i = 0; i + 5 <= b.diagnostics.size(); i += 5)
    if (b.diagnostics[i + 4] != kGlobalVariableNotDeclared)
      without_warning.insert(without_warning.end(), b.diagnostics.begin() + i, b.diagnostics.begin() + i + 5);
  EXPECT_EQ(without_warning, a.diagnostics);
}

}  // namespace
}  // namespace quendal
