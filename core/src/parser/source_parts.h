#pragma once
// Each node kind as it reads in the source, from the node table (nodes.def):
// its parts in source order, each with its role, and the head the tree
// printer gives it. Node ranges (ranges.cpp), the tree printer and the
// emitter's walks over sub-patterns are derived from these lists; the walk
// order of tree_walk.h comes from the same rows.
//
//   source::visit(node, visitor) calls visitor(node.as<Struct>(), Kind{}),
//   where Kind::Parts is a PartList of Part<role, &Struct::field> in source
//   order and Kind::kHead the printer's head.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "parser/ast.h"
#include "quendal/compile.h"

namespace quendal::source {

// What a part is to the source and to the printer (see nodes.def).
enum class Role : std::uint8_t {
  Part,          // P: printed in its place
  Optional,      // O: may be absent; printed after a blank when present
  OptionalSlot,  // OT: may be absent; printed in its place (`~` when absent)
  Implied,       // I: printed only when the tree owns the token
  Unprinted,     // X: never printed
  Head,          // H: heads the printed node
  OptionalHead,  // OH: heads the printed node when present
  Pub,           // PUB: an optional `pub` named by the head
  Trailing,      // T: an optional trailing value, ` => value`
  Inner,         // INNER: the optional node an Unknown wraps, ` inner=node`
};

// Whether the part may be null in a well-formed tree. A null part that may
// not be absent is an internal failure wherever it is read.
constexpr bool may_be_absent(Role role) {
  switch (role) {
    case Role::Optional:
    case Role::OptionalSlot:
    case Role::OptionalHead:
    case Role::Pub:
    case Role::Trailing:
    case Role::Inner:
      return true;
    case Role::Part:
    case Role::Implied:
    case Role::Unprinted:
    case Role::Head:
      return false;
  }
  return false;
}

constexpr bool is_head(Role role) { return role == Role::Head || role == Role::OptionalHead; }

template <Role R, auto Member>
struct Part {
  static constexpr Role role = R;
  template <class Node>
  static const auto& of(const Node& node) {
    return node.*Member;
  }
};

template <class... Parts>
struct PartList {
  static constexpr std::size_t size = sizeof...(Parts);
};

enum class HeadForm : std::uint8_t { Name, Token, Bare, BraceName, Unknown, Interpolation };

struct Head {
  HeadForm form;
  std::string_view name{};   // Name; BraceName when the node opens with `{`
  std::string_view other{};  // BraceName otherwise
};

// Calls visit(Part{}) on each part in source order.
template <class... Parts, class Visit>
[[gnu::always_inline]] constexpr void for_each_part(PartList<Parts...>, Visit&& visit) {
  (visit(Parts{}), ...);
}

// The parts last to first.
template <class List, class Reversed = PartList<>>
struct Reverse {
  using type = Reversed;
};
template <class First, class... Rest, class... Reversed>
struct Reverse<PartList<First, Rest...>, PartList<Reversed...>>
    : Reverse<PartList<Rest...>, PartList<First, Reversed...>> {};

namespace detail {
// Drops the leading `void` the part lists are written after.
template <class Void, class... Parts>
struct PartsAfter {
  using type = PartList<Parts...>;
};
}  // namespace detail

// ------------------------------------------------------------ the kinds

template <ExpressionKind K>
struct ExpressionSource;
template <StatementKind K>
struct StatementSource;
template <PatternKind K>
struct PatternSource;

#define P(field) , Part<Role::Part, &Node::field>
#define O(field) , Part<Role::Optional, &Node::field>
#define OT(field) , Part<Role::OptionalSlot, &Node::field>
#define I(field) , Part<Role::Implied, &Node::field>
#define X(field) , Part<Role::Unprinted, &Node::field>
#define H(field) , Part<Role::Head, &Node::field>
#define OH(field) , Part<Role::OptionalHead, &Node::field>
#define PUB(field) , Part<Role::Pub, &Node::field>
#define T(field) , Part<Role::Trailing, &Node::field>
#define INNER(field) , Part<Role::Inner, &Node::field>
#define NAME(text) \
  Head { HeadForm::Name, text }
#define TOKEN \
  Head { HeadForm::Token }
#define BARE \
  Head { HeadForm::Bare }
#define BRACE_NAME(braced, other) \
  Head { HeadForm::BraceName, braced, other }
#define UNKNOWN \
  Head { HeadForm::Unknown }
#define INTERPOLATION \
  Head { HeadForm::Interpolation }
// Written out for each of the three: the part lists hold commas once expanded.
#define QUENDAL_EXPRESSION(kind, Struct, walk, head, parts) \
  template <>                                               \
  struct ExpressionSource<ExpressionKind::kind> {           \
    using Node = Struct;                                    \
    using Parts = detail::PartsAfter<void parts>::type;     \
    static constexpr Head kHead = head;                     \
  };
#define QUENDAL_STATEMENT(kind, Struct, walk, head, parts) \
  template <>                                              \
  struct StatementSource<StatementKind::kind> {            \
    using Node = Struct;                                   \
    using Parts = detail::PartsAfter<void parts>::type;    \
    static constexpr Head kHead = head;                    \
  };
#define QUENDAL_PATTERN(kind, Struct, walk, head, parts) \
  template <>                                            \
  struct PatternSource<PatternKind::kind> {              \
    using Node = Struct;                                 \
    using Parts = detail::PartsAfter<void parts>::type;  \
    static constexpr Head kHead = head;                  \
  };
#include "parser/nodes.def"
#undef QUENDAL_EXPRESSION
#undef QUENDAL_STATEMENT
#undef QUENDAL_PATTERN
#undef P
#undef O
#undef OT
#undef I
#undef X
#undef H
#undef OH
#undef PUB
#undef T
#undef INNER
#undef NAME
#undef TOKEN
#undef BARE
#undef BRACE_NAME
#undef UNKNOWN
#undef INTERPOLATION

// ------------------------------------------------------------ dispatch

// Inlined where used, so that a loop over nodes (ranges) keeps one switch.

#define QUENDAL_VISIT_CASE(Source, Kind, kind) \
  case Kind::kind:                             \
    return visitor(node.as<Source<Kind::kind>::Node>(), Source<Kind::kind>{});

template <class Visit>
[[gnu::always_inline]] inline decltype(auto) visit(const Expression& node, Visit&& visitor) {
  switch (node.kind) {
#define QUENDAL_EXPRESSION(kind, ...) QUENDAL_VISIT_CASE(ExpressionSource, ExpressionKind, kind)
#include "parser/nodes.def"
#undef QUENDAL_EXPRESSION
  }
  throw InternalFailure("Unknown expression variant");
}

template <class Visit>
[[gnu::always_inline]] inline decltype(auto) visit(const Statement& node, Visit&& visitor) {
  switch (node.kind) {
#define QUENDAL_STATEMENT(kind, ...) QUENDAL_VISIT_CASE(StatementSource, StatementKind, kind)
#include "parser/nodes.def"
#undef QUENDAL_STATEMENT
  }
  throw InternalFailure("Unknown statement variant");
}

template <class Visit>
[[gnu::always_inline]] inline decltype(auto) visit(const Pattern& node, Visit&& visitor) {
  switch (node.kind) {
#define QUENDAL_PATTERN(kind, ...) QUENDAL_VISIT_CASE(PatternSource, PatternKind, kind)
#include "parser/nodes.def"
#undef QUENDAL_PATTERN
  }
  throw InternalFailure("Unknown pattern variant");
}

#undef QUENDAL_VISIT_CASE

}  // namespace quendal::source
