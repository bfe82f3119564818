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

// The scope stack: the innermost declaration of a name wins, whatever number
// of scopes that declare nothing lie between it and the look-up, and popping
// a scope uncovers the declarations it shadowed.
TEST(ScopeStack, InnermostDeclarationWinsAcrossEmptyScopes) {
  Arena arena;
  Scopes scopes;
  auto declare = [&](std::string_view name) {
    Variable* v = arena.make<Variable>(&arena);
    v->name = name;
    scopes.add(v);
    return v;
  };
  scopes.push(1);
  Variable* outer_x = declare("x");
  Variable* outer_y = declare("y");
  for (int i = 0; i < 1000; ++i) scopes.push(2);
  scopes.push(2);
  Variable* inner_x = declare("x");
  for (int i = 0; i < 1000; ++i) scopes.push(3);

  auto found = scopes.find_variable("x");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->variable, inner_x);
  EXPECT_EQ(found->window, 2u);
  found = scopes.find_variable("y");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->variable, outer_y);
  EXPECT_EQ(found->window, 1u);
  EXPECT_FALSE(scopes.find_variable("z").has_value());

  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(scopes.pop().variables.empty());
  EXPECT_EQ(scopes.pop().variables.size(), 1u);  // the inner x
  EXPECT_EQ(scopes.find_variable("x")->variable, outer_x);
  // A scope that has declared nothing so far declares now.
  Variable* z = declare("z");
  EXPECT_EQ(scopes.find_variable("z")->variable, z);
  EXPECT_EQ(scopes.pop().variables.size(), 1u);
  EXPECT_FALSE(scopes.find_variable("z").has_value());
  for (int i = 0; i < 999; ++i) EXPECT_TRUE(scopes.pop().variables.empty());
  EXPECT_EQ(scopes.find_variable("x")->variable, outer_x);
  EXPECT_EQ(scopes.pop().variables.size(), 2u);
  EXPECT_TRUE(scopes.empty());
  EXPECT_FALSE(scopes.find_variable("x").has_value());
}

}  // namespace
}  // namespace quendal
