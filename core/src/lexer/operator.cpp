#include <array>

#include "lexer/token.h"

namespace quendal {

namespace {

struct OperatorEntry {
  std::string_view spelling;
  bool arithmetic, compound, logical, postfix, equality, comparison;
};

constexpr std::array<OperatorEntry, kOperatorCount> kOperators = {{
#define QUENDAL_OPERATOR(name, spelling, a, c, l, p, e, r, prefix, right, power) \
  {spelling, a != 0, c != 0, l != 0, p != 0, e != 0, r != 0},
#include "lexer/operators.def"
#undef QUENDAL_OPERATOR
}};

const OperatorEntry& entry(Operator op) { return kOperators[static_cast<std::size_t>(op)]; }

}  // namespace

std::string_view operator_spelling(Operator op) { return entry(op).spelling; }

bool operator_is_arithmetic(Operator op) { return entry(op).arithmetic; }
bool operator_is_compound(Operator op) { return entry(op).compound; }
bool operator_is_logical(Operator op) { return entry(op).logical; }
bool operator_is_postfix(Operator op) { return entry(op).postfix; }
bool operator_is_equality(Operator op) { return entry(op).equality; }
bool operator_is_comparison(Operator op) { return entry(op).comparison; }
bool is_relation(Operator op) { return entry(op).equality || entry(op).comparison; }

std::optional<bool> operator_property(Operator op, std::string_view property) {
  const OperatorEntry& e = entry(op);
  bool has = false;
  if (property == "arithmetic") {
    has = e.arithmetic;
  } else if (property == "compound") {
    has = e.compound;
  } else if (property == "logical") {
    has = e.logical;
  } else if (property == "postfix") {
    has = e.postfix;
  } else if (property == "equality") {
    has = e.equality;
  } else if (property == "comparison") {
    has = e.comparison;
  }
  if (has) return true;
  return std::nullopt;
}

}  // namespace quendal
