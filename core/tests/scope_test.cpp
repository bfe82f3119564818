// Name look-up through the stack of lexical scopes: within one scope, and
// across scopes that shadow, skip and uncover names.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "emitter/scope.h"
#include "support/arena.h"

namespace quendal {
namespace {

// A scope stack and the arena its variables live in.
struct DeclaringScopes {
  Arena arena;
  Scopes scopes;
  Variable* declare(std::string_view name) {
    Variable* v = arena.make<Variable>();
    v->set_name(name);
    scopes.add(v);
    return v;
  }
};

class ScopeLookup : public ::testing::TestWithParam<int> {};

TEST_P(ScopeLookup, FirstDeclarationOfANameWinsAndMissingNamesAreNull) {
  Arena arena;
  Scopes scopes;
  scopes.push(1);
  std::vector<std::string> names;
  const int count = GetParam();
  for (int i = 0; i < count; ++i) names.push_back("v" + std::to_string(i % 97));  // repeats past 97
  std::vector<Variable*> declared;
  for (const std::string& name : names) {
    Variable* v = arena.make<Variable>();
    v->set_name(arena.copy(name));
    scopes.add(v);
    declared.push_back(v);
  }
  ASSERT_EQ(scopes.innermost_variables().size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Variable* found = scopes.find_local(names[static_cast<std::size_t>(i)]);
    ASSERT_NE(found, nullptr) << names[static_cast<std::size_t>(i)];
    EXPECT_EQ(found, declared[static_cast<std::size_t>(i % 97)])
        << "not the first declaration of " << found->name();
    EXPECT_EQ(scopes.find_variable(names[static_cast<std::size_t>(i)])->variable, found);
  }
  EXPECT_EQ(scopes.find_local("v97"), nullptr);
  EXPECT_EQ(scopes.find_local(""), nullptr);
  EXPECT_EQ(scopes.find_local("v1 "), nullptr);
  EXPECT_FALSE(scopes.find_variable("v97").has_value());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScopeLookup, ::testing::Values(1, 15, 16, 17, 40, 97, 300, 5000));

// Closing a scope hands its variables over in declaration order (the order
// of the unused hints), repeated names included, and gives every name back
// the binding it had before the scope, whatever the order of the names.
TEST(ScopeLookup, ClosingVisitsInDeclarationOrderAndRestoresEveryBinding) {
  DeclaringScopes d;
  Scopes& scopes = d.scopes;
  const auto declare = [&](std::string_view name) { return d.declare(name); };
  scopes.push(1);
  Variable* outer_a = declare("a");
  Variable* outer_b = declare("b");
  scopes.push(1);
  const std::vector<Variable*> inner{declare("b"), declare("c"), declare("a"), declare("b"), declare("a")};
  EXPECT_EQ(scopes.find_local("a"), inner[2]);
  EXPECT_EQ(scopes.find_local("b"), inner[0]);
  std::vector<Variable*> visited;
  scopes.pop_visiting([&](Variable& v) { visited.push_back(&v); });
  EXPECT_EQ(visited, inner);
  EXPECT_EQ(scopes.find_local("a"), outer_a);
  EXPECT_EQ(scopes.find_local("b"), outer_b);
  EXPECT_FALSE(scopes.find_variable("c").has_value());
  for (Variable* v : inner) EXPECT_FALSE(v->bound) << v->name();
  EXPECT_EQ(scopes.pop(), 2u);
  EXPECT_FALSE(scopes.find_variable("a").has_value());
  EXPECT_TRUE(scopes.empty());
}

TEST(ScopeLookup, EmptyNameIsFoundLikeAnyOther) {
  // Holders of destructured parameters have an empty name.
  Arena arena;
  Scopes scopes;
  scopes.push(1);
  for (int i = 0; i < 40; ++i) {
    Variable* v = arena.make<Variable>();
    v->set_name(i == 20 || i == 30 ? std::string_view{} : arena.copy("n" + std::to_string(i)));
    scopes.add(v);
  }
  ASSERT_NE(scopes.find_local(""), nullptr);
  EXPECT_EQ(scopes.find_local(""), scopes.innermost_variables()[20]);
}

// A name declared twice in an inner scope, over an outer declaration: the
// inner scope's first declaration wins while it is open, the outer one once
// it closes, and a scope opened and closed in between changes nothing.
TEST(ScopeLookup, RedeclarationInAnInnerScopeUncoversTheOuterOneWhenItCloses) {
  DeclaringScopes d;
  Scopes& scopes = d.scopes;
  const auto declare = [&](std::string_view name) { return d.declare(name); };
  scopes.push(1);
  Variable* outer = declare("x");
  scopes.push(2);
  EXPECT_EQ(scopes.find_local("x"), nullptr);
  Variable* first = declare("x");
  scopes.push(2);
  Variable* deepest = declare("x");
  EXPECT_EQ(scopes.find_variable("x")->variable, deepest);
  scopes.pop();
  Variable* second = declare("x");
  EXPECT_EQ(scopes.find_local("x"), first);
  EXPECT_EQ(scopes.find_variable("x")->window, 2u);
  (void)second;
  EXPECT_EQ(scopes.pop(), 2u);
  EXPECT_EQ(scopes.find_local("x"), outer);
  EXPECT_EQ(scopes.find_variable("x")->window, 1u);
  scopes.pop();
  EXPECT_FALSE(scopes.find_variable("x").has_value());
  // Declared again after everything closed: found afresh.
  scopes.push(3);
  Variable* again = declare("x");
  EXPECT_EQ(scopes.find_variable("x")->variable, again);
}

// A name is the same name whether it comes with the lexer's symbol or by
// its text alone (a token the parser made has no symbol), in either order,
// and whichever of the two forms comes first.
TEST(ScopeLookup, SymbolAndTextNameTheSameVariable) {
  const std::vector<std::string_view> symbols = {"a", "b", "c", "count", "e", "f", "g", "total"};
  for (const bool text_first : {false, true}) {
    Arena arena;
    Scopes scopes(symbols);
    const auto declare = [&](VariableName name) {
      Variable* v = arena.make<Variable>();
      v->set_name(name.text());
      scopes.add(v, name);
      return v;
    };
    scopes.push(1);
    // A text look-up before any declaration indexes the symbols' texts.
    if (text_first) {
      EXPECT_EQ(scopes.find_local(VariableName("total")), nullptr);
    }
    Variable* by_symbol = declare(VariableName("total", 7));
    Variable* by_text = declare(VariableName("count"));
    Variable* unknown = declare(VariableName("zeta"));  // no symbol has this text
    EXPECT_EQ(scopes.find_local(VariableName("total")), by_symbol);
    EXPECT_EQ(scopes.find_local(VariableName("total", 7)), by_symbol);
    EXPECT_EQ(scopes.find_local(VariableName("count", 3)), by_text);
    EXPECT_EQ(scopes.find_local(VariableName("count")), by_text);
    EXPECT_EQ(scopes.find_local(VariableName("zeta")), unknown);
    EXPECT_EQ(scopes.find_local(VariableName("a", 0)), nullptr);
    scopes.push(1);
    // A symbol past the table is a name known by its text.
    EXPECT_FALSE(scopes.find_variable(VariableName("other", 100000)).has_value());
    EXPECT_EQ(scopes.find_variable(VariableName("zeta", 100000))->variable, unknown);
    Variable* inner = declare(VariableName("count", 3));
    EXPECT_EQ(scopes.find_variable(VariableName("count"))->variable, inner);
    Variable* inner_zeta = declare(VariableName("zeta", 100000));
    EXPECT_EQ(scopes.find_local(VariableName("zeta")), inner_zeta);
    scopes.pop();
    EXPECT_EQ(scopes.find_variable(VariableName("count", 3))->variable, by_text);
    EXPECT_EQ(scopes.find_variable(VariableName("zeta"))->variable, unknown);
  }
}

// A look-up of a name nobody declared keeps nothing: names given as
// temporaries (gone after the call) never reach the table, which sanitizer
// builds would catch when a later look-up compares texts.
TEST(ScopeLookup, LookUpsOfUndeclaredNamesKeepNoText) {
  Arena arena;
  Scopes scopes;
  scopes.push(1);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_FALSE(scopes.find_variable(std::string("g") + std::to_string(i)).has_value());
    EXPECT_EQ(scopes.find_local(VariableName(std::string("g") + std::to_string(i), static_cast<SymbolId>(i))),
              nullptr);
  }
  Variable* v = arena.make<Variable>();
  v->set_name("g5");
  scopes.add(v, VariableName("g5", 5));
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "g" + std::to_string(i);
    EXPECT_EQ(scopes.find_local(VariableName(name, static_cast<SymbolId>(i))), i == 5 ? v : nullptr) << name;
    EXPECT_EQ(scopes.find_local(name), i == 5 ? v : nullptr) << name;
  }
}

// The scope stack: the innermost declaration of a name wins, whatever number
// of scopes that declare nothing lie between it and the look-up, and popping
// a scope uncovers the declarations it shadowed.
TEST(ScopeStack, InnermostDeclarationWinsAcrossEmptyScopes) {
  Arena arena;
  Scopes scopes;
  auto declare = [&](std::string_view name) {
    Variable* v = arena.make<Variable>();
    v->set_name(name);
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

  for (int i = 0; i < 1000; ++i) EXPECT_EQ(scopes.pop(), 0u);
  EXPECT_EQ(scopes.pop(), 1u);  // the inner x
  EXPECT_EQ(scopes.find_variable("x")->variable, outer_x);
  // A scope that has declared nothing so far declares now.
  Variable* z = declare("z");
  EXPECT_EQ(scopes.find_variable("z")->variable, z);
  EXPECT_EQ(scopes.pop(), 1u);
  EXPECT_FALSE(scopes.find_variable("z").has_value());
  for (int i = 0; i < 999; ++i) EXPECT_EQ(scopes.pop(), 0u);
  EXPECT_EQ(scopes.find_variable("x")->variable, outer_x);
  EXPECT_EQ(scopes.pop(), 2u);
  EXPECT_TRUE(scopes.empty());
  EXPECT_FALSE(scopes.find_variable("x").has_value());
}

// The emitter's one list of tag references against a list per variable:
// after adds to the variables in any interleaving, a release of any of
// them, in any order, gives back its own references in the order they came;
// the entries of a released chain are used again, so the list never holds
// more entries than references were kept at once.
TEST(VariableReferences, EachVariableGetsItsOwnInOrderAndReleasedEntriesAreReused) {
  constexpr DiagnosticCode kCodes[] = {DiagnosticCode::ReadLocal, DiagnosticCode::ReadWriteLocal,
                                       DiagnosticCode::WriteLocal, DiagnosticCode::RedeclareLocal,
                                       DiagnosticCode::ExportedLocal};
  for (const unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    VariableReferences references;
    std::vector<Variable> variables(6);
    std::vector<std::vector<SourceDiagnostic>> expected(variables.size());
    std::size_t kept = 0;
    std::size_t most = 0;
    for (std::uint32_t step = 0; step < 4000; ++step) {
      const std::size_t v = random() % variables.size();
      // Adds outnumber releases two to one: chains of every length.
      if (random() % 3 != 0) {
        const SourceDiagnostic record(step, step + 1 + random() % 3, kCodes[random() % std::size(kCodes)]);
        references.add(variables[v], record);
        expected[v].push_back(record);
        most = std::max(most, ++kept);
      } else {
        std::vector<SourceDiagnostic> released;
        references.release(variables[v], [&](const SourceDiagnostic& record) { released.push_back(record); });
        ASSERT_EQ(released, expected[v]) << "variable " << v << " at step " << step;
        kept -= expected[v].size();
        expected[v].clear();
        // Released: nothing comes back a second time.
        references.release(variables[v], [&](const SourceDiagnostic&) { ADD_FAILURE() << "released twice"; });
      }
    }
    EXPECT_EQ(references.entries(), most);
  }
}

}  // namespace
}  // namespace quendal
