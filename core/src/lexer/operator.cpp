#include <array>
#include <span>

#include "lexer/lexer.h"
#include "lexer/token.h"

namespace quendal {

namespace {

struct OperatorEntry {
  std::string_view spelling;
  bool arithmetic, compound, logical, postfix, equality, comparison;
};

constexpr std::array<OperatorEntry, kOperatorCount> kOperators = {{
#define QUENDAL_OPERATOR(name, spelling, a, c, l, p, e, r) \
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

namespace lexer {

namespace {

using enum Operator;

struct Alternative {
  std::string_view spelling;
  Operator op;
};

// The alternatives for each first character, tried in order; the first
// that matches wins.
constexpr Alternative kOpenParen[] = {{"(", OpenParen}};
constexpr Alternative kCloseParen[] = {{")", CloseParen}};
constexpr Alternative kOpenBracket[] = {{"[", OpenBracket}};
constexpr Alternative kCloseBracket[] = {{"]", CloseBracket}};
constexpr Alternative kOpenBrace[] = {{"{", OpenBrace}};
constexpr Alternative kCloseBrace[] = {{"}", CloseBrace}};
constexpr Alternative kComma[] = {{",", Comma}};
constexpr Alternative kSemicolon[] = {{";", Semicolon}};
constexpr Alternative kColon[] = {{"::", ColonColon}, {":", Colon}};
constexpr Alternative kDot[] = {{"..<", DotDotLt}, {"..", DotDot}, {".", Dot}};
constexpr Alternative kPlus[] = {{"+=", PlusEq}, {"+", Plus}};
constexpr Alternative kMinus[] = {{"-=", MinusEq}, {"->", Arrow}, {"-", Minus}};
constexpr Alternative kAsterisk[] = {{"*=", AsteriskEq}, {"*", Asterisk}};
constexpr Alternative kSlash[] = {{"/=", SlashEq}, {"/", Slash}};
constexpr Alternative kPercent[] = {{"%=", PercentEq}, {"%", Percent}};
constexpr Alternative kCaret[] = {{"^=", CaretEq}, {"^", Caret}};
constexpr Alternative kAnd[] = {{"&&=", AndAndEq}, {"&&", AndAnd}};
constexpr Alternative kOr[] = {{"||=", OrOrEq}, {"||", OrOr}};
constexpr Alternative kEq[] = {{"==", EqEq}, {"=~", EqTilde}, {"=", Eq}};
constexpr Alternative kExclamation[] = {{"!=", ExclamationEq}, {"!~", ExclamationTilde}, {"!", Exclamation}};
constexpr Alternative kLt[] = {{"<=", LtEq}, {"<", Lt}};
constexpr Alternative kGt[] = {{">=", GtEq}, {">", Gt}};
constexpr Alternative kQuestion[] = {
    {"?:", QuestionColon}, {"??=", QuestionQuestionEq}, {"??", QuestionQuestion}, {"?", Question}};

std::span<const Alternative> alternatives(int c) {
  switch (c) {
    case '(':
      return kOpenParen;
    case ')':
      return kCloseParen;
    case '[':
      return kOpenBracket;
    case ']':
      return kCloseBracket;
    case '{':
      return kOpenBrace;
    case '}':
      return kCloseBrace;
    case ',':
      return kComma;
    case ';':
      return kSemicolon;
    case ':':
      return kColon;
    case '.':
      return kDot;
    case '+':
      return kPlus;
    case '-':
      return kMinus;
    case '*':
      return kAsterisk;
    case '/':
      return kSlash;
    case '%':
      return kPercent;
    case '^':
      return kCaret;
    case '&':
      return kAnd;
    case '|':
      return kOr;
    case '=':
      return kEq;
    case '!':
      return kExclamation;
    case '<':
      return kLt;
    case '>':
      return kGt;
    case '?':
      return kQuestion;
    default:
      return {};
  }
}

}  // namespace

std::optional<Operator> match_operator(Lexer& lx) {
  const int c = lx.peek();
  const std::string_view rest = lx.source.substr(lx.pos);
  // "!" directly before "==" or "=~" stays a lone "!", so that `!==` reads
  // as `!` `==` and `!=~` as `!` `=~`.
  if (c == '!' && (rest.substr(1, 2) == "==" || rest.substr(1, 2) == "=~")) {
    lx.pos += 1;
    return Exclamation;
  }
  for (const Alternative& a : alternatives(c)) {
    if (rest.starts_with(a.spelling)) {
      lx.pos += a.spelling.size();
      return a.op;
    }
  }
  return std::nullopt;
}

}  // namespace lexer
}  // namespace quendal
