#pragma once
// The syntax tree. Nodes are allocated in the compilation's arena and never
// destroyed individually; children are arena pointers, lists are arena lists
// (the token and diagnostic lists of the Unknown nodes are std::pmr vectors
// bound to the same arena). The kinds, their structs and the order of
// their children are listed once, in nodes.def.
#include <cstdint>
#include <memory_resource>
#include <type_traits>
#include <utility>

#include "lexer/tokens.h"
#include "support/arena.h"
#include "support/arena_list.h"

namespace quendal {

struct SourceRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  friend bool operator==(const SourceRange&, const SourceRange&) = default;
};

// A reference to one token in 32 bits: borrowed from the token store (its
// index; low bit 1) or owned by the tree (low bit 0: the number the arena
// gave an inserted placeholder or a rewritten copy). A borrowed token is read
// from the store in use on this thread, an owned one from the arena in use
// (see UsingTokens). A null reference means "absent" for optional fields;
// meeting one where a token is required is an internal failure ("Inner token
// pointer should not be null").
class TokenRef {
 public:
  TokenRef() = default;
  static TokenRef borrowed(TokenIndex index) { return TokenRef((index << 1) | 1u); }
  // A new owned token in the arena.
  static TokenRef make_owned(Arena& arena, TokenKind kind, std::uint32_t start, std::uint32_t end);
  static TokenRef make_owned(Arena& arena, const Token& token);

  bool is_null() const { return bits_ == 0; }
  explicit operator bool() const { return bits_ != 0; }
  bool is_owned() const { return bits_ != 0 && (bits_ & 1u) == 0; }
  bool is_borrowed() const { return (bits_ & 1u) != 0; }
  // Borrowed: the token's index in the store.
  TokenIndex index() const { return bits_ >> 1; }
  // The token as a value. Throws InternalFailure on null.
  Token get() const {
    if (is_borrowed()) return tokens_in_use().get(index());
    return *owned_pointer();
  }
  // Owned only: the token itself.
  Token& get_mut() const { return *owned_pointer(); }
  Token* owned_pointer() const;

  struct Arrow {
    Token token;
    const Token* operator->() const { return &token; }
  };
  Arrow operator->() const { return Arrow{get()}; }
  Token operator*() const { return get(); }
  SourceRange range() const {
    if (is_borrowed()) {
      const Tokens& tokens = tokens_in_use();
      return {tokens.start(index()), tokens.end(index())};
    }
    const Token* token = owned_pointer();
    return {token->start, token->end};
  }

  // Rewrites in place: the kind becomes TokenKind::unknown(old kind) with one
  // diagnostic over the token. A borrowed token is first copied (the store is
  // never modified).
  void wrap_as_unknown(Arena& arena, DiagnosticCode code);
  // Borrowed: copies the reference. Owned: deep-copies the token.
  TokenRef clone(Arena& arena) const;
  // Owned token whose kind is Unknown: hands its diagnostics to the collector
  // and unwraps one level. Borrowed tokens are never touched.
  void collect_diagnostics(class DiagnosticsCollector& collector) const;

  friend bool operator==(const TokenRef&, const TokenRef&) = default;

 private:
  explicit TokenRef(std::uint32_t bits) : bits_(bits) {}
  std::uint32_t bits_ = 0;
};
static_assert(sizeof(TokenRef) == 4);

using TokenRefList = std::pmr::vector<TokenRef>;

struct Expression;
struct Statement;
struct Pattern;
using StatementList = ArenaList<ArenaRef<Statement>>;

// ---------------------------------------------------------------- elements

template <class T>
struct ListItem {
  T item;
  TokenRef comma;  // the separator that followed the element, if any
};

// `..`/`..<` range: only in array literal elements, for-in sources and
// index brackets.
struct RangeNode {
  static constexpr bool kReferenced = true;
  ArenaRef<Expression> start;
  ArenaRef<Expression> end;
  TokenRef op;
  bool exclusive() const { return op->kind.is_operator(Operator::DotDotLt); }
};

// Either an expression or a range; exactly one is set.
struct Iterable {
  ArenaRef<Expression> expression;
  ArenaRef<RangeNode> range;
};

// ArrayElementBase<T, S>: Element { value: T } when `spread` is null, else
// Spread { value: S, token: spread }. A spread's value is kept in the
// element's own field (an Iterable holds it as its expression).
template <class T, class S>
struct ArrayElementBase {
  T element{};      // Element value, or the Spread's value
  TokenRef spread;  // the `..` token for a Spread element
  bool is_spread() const { return !spread.is_null(); }
  S* spread_value() const {
    if constexpr (std::is_same_v<T, ArenaRef<S>>)
      return element;
    else
      return element.expression;
  }
  // The Spread's value, for rewriting in place.
  ArenaRef<S>& spread_slot() {
    if constexpr (std::is_same_v<T, ArenaRef<S>>)
      return element;
    else
      return element.expression;
  }
  void set_spread(TokenRef token, S* value) {
    spread = token;
    element = T{};
    spread_slot() = value;
  }
};

using ArrayElement = ArrayElementBase<Iterable, Expression>;                 // array literals
using ArgumentElement = ArrayElementBase<ArenaRef<Expression>, Expression>;  // call arguments
using PatternElement = ArrayElementBase<ArenaRef<Pattern>, Pattern>;         // array patterns, parameters

enum class RecordElementKind : std::uint8_t { Keyed, ExpressionKeyed, OmittedKey, Positional, Spread };

// RecordElementBase<T, S>. Fields by kind:
//   Keyed: key (identifier, ordinal or string token), colon, value
//   ExpressionKeyed: colon, key_node (interpolated-string expression), value
//   OmittedKey: colon, value
//   Positional: value
//   Spread: spread (the `..` token), value
template <class T, class K>
struct RecordElementBase {
  RecordElementKind kind = RecordElementKind::Positional;
  TokenRef key;
  ArenaRef<K> key_node;
  TokenRef colon;  // `:` or `?:`
  TokenRef spread;
  ArenaRef<T> value;
  bool optional() const { return !colon.is_null() && colon->kind.is_operator(Operator::QuestionColon); }
};

using RecordElement = RecordElementBase<Expression, Expression>;
using PatternRecordElement = RecordElementBase<Pattern, Expression>;

struct Callable {
  TokenRef token;                   // callee name or the `type` keyword
  ArenaRef<Expression> expression;  // or a callee expression
};

struct ElseBlock {
  static constexpr bool kReferenced = true;
  ArenaRef<Expression> body;  // a Block, or an If for `else if`
  TokenRef keyword;
};

struct MatchGuard {
  TokenRef keyword;  // `if`
  ArenaRef<Expression> condition;
};

struct MatchCase {
  ArenaRef<Expression> body;
  MatchGuard guard;  // guard.condition null when absent
  ArenaRef<Pattern> pattern;
  TokenRef keyword;  // `case` (possibly inserted)
};

struct ParameterList {
  static constexpr bool kReferenced = true;
  ArenaList<ListItem<PatternElement>> parameters;
  TokenRef open, close;
};

// -------------------------------------------------------------- expressions

enum class ExpressionKind : std::uint8_t {
#define QUENDAL_EXPRESSION(kind, ...) kind,
#include "parser/nodes.def"
#undef QUENDAL_EXPRESSION
};

struct Expression {
  static constexpr bool kReferenced = true;
  explicit Expression(ExpressionKind k) : kind(k) {}
  ExpressionKind kind;
  template <class T>
  T& as() {
    return static_cast<T&>(*this);
  }
  template <class T>
  const T& as() const {
    return static_cast<const T&>(*this);
  }
};

template <ExpressionKind K>
struct ExpressionOf : Expression {
  static constexpr ExpressionKind kKind = K;
  ExpressionOf() : Expression(K) {}
};

struct LiteralExpression : ExpressionOf<ExpressionKind::Literal> {
  TokenRef token;
};
struct InterpolationExpression : ExpressionOf<ExpressionKind::Interpolation> {
  ArenaList<ArenaRef<Expression>> parts;  // one per interpolated fragment
  TokenRef token;                         // the interpolated-string token (not visited)
};
struct VariableExpression : ExpressionOf<ExpressionKind::Variable> {
  TokenRef token;
};
struct GroupExpression : ExpressionOf<ExpressionKind::Group> {
  ArenaRef<Expression> expression;
  TokenRef open, close;
};
struct RecordExpression : ExpressionOf<ExpressionKind::Record> {
  ArenaList<ListItem<RecordElement>> elements;
  TokenRef open, close;  // ( ) or { } for a JSON-style record
};
struct ArrayExpression : ExpressionOf<ExpressionKind::Array> {
  ArenaList<ListItem<ArrayElement>> elements;
  TokenRef open, close;
};
using ArgumentList = ArenaList<ListItem<ArgumentElement>>;
struct CallExpression : ExpressionOf<ExpressionKind::Call> {
  Callable callee;
  ArgumentList arguments;
  TokenRef open, close;
};
struct TaggedStringExpression : ExpressionOf<ExpressionKind::TaggedString> {
  ArenaRef<Expression> tag;
  ArenaRef<Expression> string;  // a Literal string or an Interpolation
};
struct ExtensionCallExpression : ExpressionOf<ExpressionKind::ExtensionCall> {
  TokenRef separator;  // `::`
  TokenRef open, close;
  Callable callee;
  ArgumentList arguments;
  ArenaRef<Expression> receiver;
};
struct FieldAccessExpression : ExpressionOf<ExpressionKind::FieldAccess> {
  ArenaRef<Expression> object;
  TokenRef dot;
  TokenRef name;  // identifier or ordinal
};
struct IndexAccessExpression : ExpressionOf<ExpressionKind::IndexAccess> {
  ArenaRef<Expression> object;
  ArenaRef<Expression> index;
  TokenRef open, close;
};
struct SliceAccessExpression : ExpressionOf<ExpressionKind::SliceAccess> {
  TokenRef open;
  TokenRef op;  // `..` or `..<`
  TokenRef close;
  ArenaRef<Expression> object;
  ArenaRef<Expression> start;  // optional
  ArenaRef<Expression> end;    // optional
  bool exclusive() const { return op->kind.is_operator(Operator::DotDotLt); }
};
struct NonNilAssertionExpression : ExpressionOf<ExpressionKind::NonNilAssertion> {
  TokenRef op;
  ArenaRef<Expression> operand;
};
struct PrefixExpression : ExpressionOf<ExpressionKind::Prefix> {
  TokenRef op;  // + - ! not ?
  ArenaRef<Expression> operand;
};
struct BinaryExpression : ExpressionOf<ExpressionKind::Binary> {
  TokenRef op;
  ArenaRef<Expression> left;
  ArenaRef<Expression> right;
};
struct IsPatternExpression : ExpressionOf<ExpressionKind::IsPattern> {
  TokenRef op;  // `is`
  ArenaRef<Expression> value;
  ArenaRef<Pattern> pattern;
};
struct BlockExpression : ExpressionOf<ExpressionKind::Block> {
  TokenRef open;
  TokenRef close;
  StatementList statements;
  ArenaRef<Expression> expression;  // optional trailing value
};
struct LoopExpression : ExpressionOf<ExpressionKind::Loop> {
  TokenRef keyword;
  ArenaRef<BlockExpression> body;  // without trailing value
};
struct WhileExpression : ExpressionOf<ExpressionKind::While> {
  // Set by the parser, as a statement's pre_pass_quiet, for the condition.
  bool condition_quiet = false;
  TokenRef keyword;
  ArenaRef<Expression> condition;
  ArenaRef<BlockExpression> body;  // without trailing value
  ArenaRef<ElseBlock> else_block;  // optional
};
struct ForInExpression : ExpressionOf<ExpressionKind::ForIn> {
  ArenaRef<Pattern> pattern;
  Iterable iterable;
  ArenaRef<BlockExpression> body;  // without trailing value
  TokenRef keyword;
  TokenRef in;
  ArenaRef<ElseBlock> else_block;  // optional
};
struct IfExpression : ExpressionOf<ExpressionKind::If> {
  // Set by the parser, as a statement's pre_pass_quiet, for the condition.
  bool condition_quiet = false;
  TokenRef keyword;
  ArenaRef<Expression> condition;
  ArenaRef<BlockExpression> body;
  ArenaRef<ElseBlock> else_block;  // optional
};
struct ConditionalExpression : ExpressionOf<ExpressionKind::Conditional> {
  ArenaRef<Expression> condition;
  ArenaRef<Expression> then;
  ArenaRef<Expression> otherwise;
  TokenRef question, colon;
};
struct MatchExpression : ExpressionOf<ExpressionKind::Match> {
  TokenRef keyword;
  TokenRef open, close;
  ArenaList<MatchCase> cases;
  ArenaRef<Expression> subject;
};
struct FunctionLiteralExpression : ExpressionOf<ExpressionKind::FunctionLiteral> {
  TokenRef keyword;
  ArenaRef<ParameterList> parameters;  // optional
  ArenaRef<Expression> body;           // a Block
};
struct UnknownExpression : ExpressionOf<ExpressionKind::Unknown> {
  explicit UnknownExpression(std::pmr::memory_resource* r) : tokens(r), diagnostics(r) {}
  TokenRefList tokens;
  ArenaDiagnostics diagnostics;
  ArenaRef<Expression> inner;  // optional
};

// --------------------------------------------------------------- statements

enum class StatementKind : std::uint8_t {
#define QUENDAL_STATEMENT(kind, ...) kind,
#include "parser/nodes.def"
#undef QUENDAL_STATEMENT
};

struct Statement {
  static constexpr bool kReferenced = true;
  explicit Statement(StatementKind k) : kind(k) {}
  StatementKind kind;
  // Set by the parser: the statement holds no form that the declaration
  // pre-pass acts on when no tags are reported (its names are still
  // declared).
  bool pre_pass_quiet = false;
  template <class T>
  T& as() {
    return static_cast<T&>(*this);
  }
  template <class T>
  const T& as() const {
    return static_cast<const T&>(*this);
  }
};

template <StatementKind K>
struct StatementOf : Statement {
  static constexpr StatementKind kKind = K;
  StatementOf() : Statement(K) {}
};

struct EmptyStatement : StatementOf<StatementKind::Empty> {
  TokenRef semicolon;
};
struct ExpressionStatement : StatementOf<StatementKind::ExpressionStatement> {
  TokenRef semicolon;
  ArenaRef<Expression> expression;
};
struct BareExpressionStatement : StatementOf<StatementKind::BareExpression> {
  ArenaRef<Expression> expression;
};
struct ModuleStatement : StatementOf<StatementKind::Module> {
  TokenRef pub;  // optional
  ArenaRef<BlockExpression> body;
  TokenRef keyword;
  TokenRef name;
};
struct BindStatement : StatementOf<StatementKind::Bind> {
  TokenRef pub;  // optional
  ArenaRef<Pattern> pattern;
  ArenaRef<Expression> value;
  TokenRef keyword, op, semicolon;
};
struct RebindStatement : StatementOf<StatementKind::Rebind> {
  ArenaRef<Pattern> pattern;
  ArenaRef<Expression> value;
  TokenRef op, semicolon;
};
struct ConstStatement : StatementOf<StatementKind::Const> {
  TokenRef pub;  // optional
  ArenaRef<Expression> value;
  TokenRef keyword, name, op, semicolon;
};
struct AssignStatement : StatementOf<StatementKind::Assign> {
  ArenaRef<Expression> target;
  ArenaRef<Expression> value;
  TokenRef op;  // `=` or a compound assignment operator
  TokenRef semicolon;
};
struct FunctionStatement : StatementOf<StatementKind::Function> {
  TokenRef pub;                        // optional
  ArenaRef<ParameterList> parameters;  // optional
  ArenaRef<Expression> body;           // a Block
  TokenRef keyword, name;
};
struct ReturnStatement : StatementOf<StatementKind::Return> {
  TokenRef keyword;
  ArenaRef<Expression> value;  // optional
  TokenRef semicolon;
};
struct BreakStatement : StatementOf<StatementKind::Break> {
  TokenRef keyword;
  ArenaRef<Expression> value;  // optional
  TokenRef semicolon;
};
struct ContinueStatement : StatementOf<StatementKind::Continue> {
  TokenRef keyword, semicolon;
};
struct UnknownStatement : StatementOf<StatementKind::Unknown> {
  explicit UnknownStatement(std::pmr::memory_resource* r) : tokens(r), diagnostics(r) {}
  TokenRefList tokens;
  ArenaDiagnostics diagnostics;
};

// ----------------------------------------------------------------- patterns

enum class PatternKind : std::uint8_t {
#define QUENDAL_PATTERN(kind, ...) kind,
#include "parser/nodes.def"
#undef QUENDAL_PATTERN
};

struct Pattern {
  static constexpr bool kReferenced = true;
  explicit Pattern(PatternKind k) : kind(k) {}
  PatternKind kind;
  template <class T>
  T& as() {
    return static_cast<T&>(*this);
  }
  template <class T>
  const T& as() const {
    return static_cast<const T&>(*this);
  }
};

template <PatternKind K>
struct PatternOf : Pattern {
  static constexpr PatternKind kKind = K;
  PatternOf() : Pattern(K) {}
};

struct GroupPattern : PatternOf<PatternKind::Group> {
  ArenaRef<Pattern> pattern;
  TokenRef open, close;
};
struct LiteralPattern : PatternOf<PatternKind::Literal> {
  TokenRef sign;  // optional prefix operator
  TokenRef literal;
};
struct ConstantNamePattern : PatternOf<PatternKind::ConstantName> {
  TokenRef name;
};
struct ComparisonPattern : PatternOf<PatternKind::Comparison> {
  TokenRef op;
  ArenaRef<Pattern> operand;  // Literal or ConstantName (possibly wrapped)
};
struct IntervalPattern : PatternOf<PatternKind::Interval> {
  TokenRef op;  // `..` or `..<`
  ArenaRef<Pattern> start;
  ArenaRef<Pattern> end;
  bool exclusive() const { return op->kind.is_operator(Operator::DotDotLt); }
};
struct DiscardPattern : PatternOf<PatternKind::Discard> {
  TokenRef token;
};
struct BindingPattern : PatternOf<PatternKind::Binding> {
  TokenRef mut;  // optional
  TokenRef name;
};
struct RecordPattern : PatternOf<PatternKind::Record> {
  ArenaList<ListItem<PatternRecordElement>> elements;
  TokenRef open, close;
};
struct ArrayPattern : PatternOf<PatternKind::Array> {
  ArenaList<ListItem<PatternElement>> elements;
  TokenRef open, close;
};
struct OmittedPattern : PatternOf<PatternKind::Omitted> {
  std::uint64_t position = 0;
};
struct AndPattern : PatternOf<PatternKind::And> {
  TokenRef op;
  ArenaRef<Pattern> left;
  ArenaRef<Pattern> right;
};
struct OrPattern : PatternOf<PatternKind::Or> {
  TokenRef op;
  ArenaRef<Pattern> left;
  ArenaRef<Pattern> right;
};
struct NotPattern : PatternOf<PatternKind::Not> {
  TokenRef op;
  ArenaRef<Pattern> pattern;
};
struct UnknownPattern : PatternOf<PatternKind::Unknown> {
  explicit UnknownPattern(std::pmr::memory_resource* r) : tokens(r), diagnostics(r) {}
  TokenRefList tokens;
  ArenaDiagnostics diagnostics;
  ArenaRef<Pattern> inner;  // optional
};

// Every kind of the node table names the struct that holds it.
#define QUENDAL_EXPRESSION(kind, type, ...) static_assert(type::kKind == ExpressionKind::kind);
#define QUENDAL_STATEMENT(kind, type, ...) static_assert(type::kKind == StatementKind::kind);
#define QUENDAL_PATTERN(kind, type, ...) static_assert(type::kKind == PatternKind::kind);
#include "parser/nodes.def"
#undef QUENDAL_EXPRESSION
#undef QUENDAL_STATEMENT
#undef QUENDAL_PATTERN

// --------------------------------------------------------------------- root

struct Script {
  StatementList statements;
  ArenaRef<Expression> expression;  // optional trailing value
  TokenRef eof;
};

// ------------------------------------------------------------ tree walking

SourceRange range_of(const Expression& node);
SourceRange range_of(const Statement& node);
SourceRange range_of(const Pattern& node);
SourceRange range_of(const RangeNode& node);
SourceRange range_of(const Iterable& node);
SourceRange range_of(const Callable& node);
SourceRange range_of(const ParameterList& node);

// Moves every stored diagnostic into the collector, depth-first in field
// order. Unknown expressions/patterns with an inner node are replaced in
// place (through the slot) by that inner node.
void collect_diagnostics(ArenaRef<Expression>& slot, DiagnosticsCollector& collector);
void collect_diagnostics(Statement& node, DiagnosticsCollector& collector);
void collect_diagnostics(ArenaRef<Pattern>& slot, DiagnosticsCollector& collector);

// Construction helpers.
UnknownExpression* make_unknown_expression(Arena& arena, TokenRefList tokens, DiagnosticCode code);
UnknownExpression* wrap_expression_as_unknown(Arena& arena, Expression* inner, TokenRefList tokens,
                                              DiagnosticCode code);
UnknownExpression* make_unknown_expression_range(Arena& arena, std::uint64_t start, std::uint64_t end,
                                                 DiagnosticCode code);
UnknownStatement* make_unknown_statement(Arena& arena, TokenRef token, DiagnosticCode code);
UnknownPattern* make_unknown_pattern(Arena& arena, TokenRefList tokens, DiagnosticCode code);
// An Unknown pattern of tokens that carry their own diagnostics.
UnknownPattern* make_unknown_pattern_from(Arena& arena, TokenRefList tokens);
UnknownPattern* wrap_pattern_as_unknown(Arena& arena, Pattern* inner, TokenRefList tokens,
                                        DiagnosticCode code);

}  // namespace quendal
