// The emitter's guards: a scratch mark cuts its stack back on every way out,
// a scope guard closes its scope (with the records closing reports) at
// close(), at its end, on an early return and when an exception passes, and
// a window guard gives its window back.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emitter/emitter_struct.h"
#include "emitter/scratch_mark.h"
#include "quendal/compile.h"

namespace quendal {
namespace {

using DC = DiagnosticCode;

// ------------------------------------------------------------ scratch marks

// Pushes `pushes` items above a mark and leaves at `exit_after` (early) or at
// the end; returns the stack's size seen just before leaving.
std::size_t push_and_leave(std::vector<int>& stack, int pushes, int exit_after) {
  ScratchMark<int> mark(stack);
  for (int i = 0; i < pushes; ++i) {
    stack.push_back(i);
    if (i == exit_after) return stack.size();
  }
  return stack.size();
}

struct MarkCase {
  const char* name;
  int below;       // items on the stack before the mark
  int pushes;      // items pushed above it
  int exit_after;  // push after which the function returns early (-1: none)
};

class ScratchMarkExit : public ::testing::TestWithParam<MarkCase> {};

TEST_P(ScratchMarkExit, StackIsCutBackToTheMark) {
  const MarkCase c = GetParam();
  std::vector<int> stack(static_cast<std::size_t>(c.below), 7);
  const std::size_t seen = push_and_leave(stack, c.pushes, c.exit_after);
  EXPECT_GE(seen, static_cast<std::size_t>(c.below));
  EXPECT_EQ(stack, std::vector<int>(static_cast<std::size_t>(c.below), 7));
}

INSTANTIATE_TEST_SUITE_P(Paths, ScratchMarkExit,
                         ::testing::Values(MarkCase{"nothing_pushed", 3, 0, -1},
                                           MarkCase{"end_of_scope", 0, 5, -1},
                                           MarkCase{"early_return", 2, 5, 1},
                                           MarkCase{"return_after_first", 4, 9, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScratchMark, LeavesItemsBelowItAndOfAnOuterMark) {
  std::vector<int> stack{1, 2};
  ScratchMark<int> outer(stack);
  stack.push_back(3);
  {
    ScratchMark<int> inner(stack);
    EXPECT_EQ(inner.base(), 3u);
    stack.push_back(4);
    stack.push_back(5);
    EXPECT_EQ(inner.count(), 2u);
    EXPECT_EQ(std::vector<int>(inner.items().begin(), inner.items().end()), (std::vector<int>{4, 5}));
  }
  EXPECT_EQ(stack, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(outer.count(), 1u);
}

TEST(ScratchMark, PopTakesItemsLastFirstAndStopsAtTheMark) {
  std::vector<int> stack{9};
  ScratchMark<int> mark(stack);
  for (int i = 1; i <= 3; ++i) stack.push_back(i);
  std::vector<int> popped;
  while (mark.holds()) popped.push_back(mark.pop());
  EXPECT_EQ(popped, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(stack, (std::vector<int>{9}));
}

TEST(ScratchMark, ReleaseCutsEarlyAndTheMarkStaysUsable) {
  std::vector<int> stack{1};
  ScratchMark<int> mark(stack);
  stack.push_back(2);
  mark.release();
  EXPECT_EQ(stack, (std::vector<int>{1}));
  mark.release();  // twice: nothing more
  EXPECT_EQ(stack, (std::vector<int>{1}));
  stack.push_back(3);
  EXPECT_TRUE(mark.holds());
}

// ------------------------------------------------------ scopes and windows

class EmitterGuards : public ::testing::Test {
 protected:
  EmitterGuards() : source_(64, ' '), using_tokens_(store_, arena_) {
    config_.report_tags = true;
    emitter_.emplace(source_, config_, arena_);
  }

  Emitter& e() { return *emitter_; }
  TokenRef name(std::string_view text, std::uint32_t at) {
    return TokenRef::borrowed(store_.append(Token{TokenKind::identifier(text), at, at + 1}));
  }
  bool visible(std::string_view text) { return e().find_variable(VariableName(text)).has_value(); }
  std::size_t count(DC code) {
    const auto& records = e().records();
    return static_cast<std::size_t>(
        std::count_if(records.begin(), records.end(), [code](const auto& d) { return d.code == code; }));
  }

  std::string source_;
  CompileConfig config_;
  Arena arena_;
  Tokens store_;
  UsingTokens using_tokens_;
  std::optional<Emitter> emitter_;
};

TEST_F(EmitterGuards, CloseReportsTheScopeThereAndTheEndDoesNotRepeatIt) {
  const Emitter::WindowGuard window(e(), 0, true);
  {
    Emitter::ScopeGuard scope(e(), {0, 10});
    e().declare_variable(*name("a", 2), false, VariableKind::LetBinding);
    ASSERT_TRUE(visible("a"));
    scope.close();
    EXPECT_FALSE(visible("a"));
    EXPECT_EQ(count(DC::UnusedLocalVariable), 1u);
    EXPECT_EQ(e().records().back().code, DC::UnusedLocalVariable);
  }
  EXPECT_EQ(count(DC::UnusedLocalVariable), 1u);
  EXPECT_EQ(count(DC::Scope), 1u);
}

TEST_F(EmitterGuards, EarlyReturnClosesTheScope) {
  const Emitter::WindowGuard window(e(), 0, true);
  const Emitter::ScopeGuard outer(e(), {0, 20});
  e().declare_variable(*name("a", 2), false, VariableKind::LetBinding);
  auto body = [&](bool leave_early) {
    const Emitter::ScopeGuard inner(e(), {4, 10});
    e().declare_variable(*name("b", 6), false, VariableKind::LetBinding);
    if (leave_early) return;
    e().declare_variable(*name("c", 8), false, VariableKind::LetBinding);
  };
  body(true);
  EXPECT_FALSE(visible("b"));
  EXPECT_TRUE(visible("a"));
  EXPECT_EQ(count(DC::UnusedLocalVariable), 1u);  // b's, reported on the way out
  body(false);
  EXPECT_FALSE(visible("c"));
  EXPECT_EQ(count(DC::UnusedLocalVariable), 3u);
}

TEST_F(EmitterGuards, ScopeLeftByAnExceptionIsClosedAndTheExceptionGoesOn) {
  const Emitter::WindowGuard window(e(), 0, true);
  const Emitter::ScopeGuard outer(e(), {0, 20});
  auto faulty = [&] {
    const Emitter::ScopeGuard inner(e(), {4, 10});
    e().declare_variable(*name("b", 6), false, VariableKind::LetBinding);
    throw InternalFailure("fault while emitting");
  };
  EXPECT_THROW(faulty(), InternalFailure);
  EXPECT_FALSE(visible("b"));
  // The outer scope is still the innermost: a name declared now lands there.
  e().declare_variable(*name("d", 12), false, VariableKind::LetBinding);
  EXPECT_TRUE(visible("d"));
}

TEST_F(EmitterGuards, AClosedScopesVariablesAreDeclaredAgainAsNewOnes) {
  const Emitter::WindowGuard window(e(), 0, true);
  const Emitter::ScopeGuard outer(e(), {0, 40});
  Variable* kept = e().declare_variable(*name("k", 1), true, VariableKind::LetBinding);
  std::vector<const Variable*> first;
  {
    const Emitter::ScopeGuard inner(e(), {2, 10});
    Variable* a = e().declare_variable(*name("a", 3), true, VariableKind::LetBinding);
    a->used = true;
    a->initialized = true;
    first = {a, e().declare_variable(*name("b", 5), false, VariableKind::ConstBinding)};
  }
  {
    const Emitter::ScopeGuard inner(e(), {12, 20});
    // The two spares come back, the last closed first, as fresh variables.
    const Variable* c = e().declare_variable(*name("c", 13), false, VariableKind::FnBinding);
    const Variable* d = e().declare_variable(*name("d", 15), false, VariableKind::LetBinding);
    EXPECT_EQ(c, first[1]);
    EXPECT_EQ(d, first[0]);
    EXPECT_EQ(d->name(), "d");
    EXPECT_EQ(d->range, (SourceRange{15, 16}));
    EXPECT_FALSE(d->used);
    EXPECT_FALSE(d->initialized);
    EXPECT_FALSE(d->is_mutable);
    EXPECT_EQ(d->kind, VariableKind::LetBinding);
    // Once the spares are used up, variables are new again.
    const Variable* f = e().declare_variable(*name("f", 17), false, VariableKind::LetBinding);
    EXPECT_NE(f, first[0]);
    EXPECT_NE(f, first[1]);
    EXPECT_NE(f, kept);
  }
  // An open scope's variable is never handed out: `k` is still itself.
  ASSERT_TRUE(visible("k"));
  EXPECT_EQ(e().find_variable(VariableName("k"))->variable, kept);
  EXPECT_EQ(kept->name(), "k");
  EXPECT_TRUE(kept->is_mutable);
}

TEST_F(EmitterGuards, WindowGuardGivesItsWindowBack) {
  const Emitter::WindowGuard function(e(), 2, true);
  EXPECT_EQ(e().window_count(), 1u);
  EXPECT_EQ(e().alloc_register(), 3u);  // after the two parameters
  {
    Emitter::WindowGuard loop(e(), 0, false);
    EXPECT_EQ(e().window_count(), 2u);
    EXPECT_EQ(e().alloc_register(), 1u);
    loop.close();
    EXPECT_EQ(e().window_count(), 1u);
  }
  EXPECT_EQ(e().window_count(), 1u);
  EXPECT_EQ(e().alloc_register(), 4u);  // the function's window goes on
}

}  // namespace
}  // namespace quendal
