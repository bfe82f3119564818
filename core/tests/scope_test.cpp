// Name look-up in one lexical scope, below and above the size at which the
// scope builds its hashed index.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emitter/scope.h"
#include "support/arena.h"

namespace quendal {
namespace {

class ScopeLookup : public ::testing::TestWithParam<int> {};

TEST_P(ScopeLookup, FirstDeclarationOfANameWinsAndMissingNamesAreNull) {
  Arena arena;
  Scope scope;
  std::vector<std::string> names;
  const int count = GetParam();
  for (int i = 0; i < count; ++i) names.push_back("v" + std::to_string(i % 97));  // repeats past 97
  std::vector<Variable*> declared;
  for (const std::string& name : names) {
    Variable* v = arena.make<Variable>(&arena);
    v->name = arena.copy(name);
    scope.add(v);
    declared.push_back(v);
  }
  ASSERT_EQ(scope.variables.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Variable* found = scope.find(names[static_cast<std::size_t>(i)]);
    ASSERT_NE(found, nullptr) << names[static_cast<std::size_t>(i)];
    EXPECT_EQ(found, declared[static_cast<std::size_t>(i % 97)])
        << "not the first declaration of " << found->name;
  }
  EXPECT_EQ(scope.find("v97"), nullptr);
  EXPECT_EQ(scope.find(""), nullptr);
  EXPECT_EQ(scope.find("v1 "), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScopeLookup, ::testing::Values(1, 15, 16, 17, 40, 97, 300, 5000));

TEST(ScopeLookup, EmptyNameIsFoundLikeAnyOther) {
  // Holders of destructured parameters have an empty name.
  Arena arena;
  Scope scope;
  for (int i = 0; i < 40; ++i) {
    Variable* v = arena.make<Variable>(&arena);
    v->name = i == 20 ? std::string_view{} : arena.copy("n" + std::to_string(i));
    scope.add(v);
  }
  ASSERT_NE(scope.find(""), nullptr);
  EXPECT_EQ(scope.find(""), scope.variables[20]);
}

}  // namespace
}  // namespace quendal
