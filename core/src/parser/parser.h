#pragma once
// The parser: a cursor over a token list, the three outcomes of a rule, and
// the rules themselves. Rules are members of Parser, spread over units named
// after their concern (expression, basic_expressions, expressions,
// json_expressions, block_expressions, statement, statements,
// parameter_list, pattern, patterns, helper, script).
//
// Every rule returns a ParserResult: success (the value; the cursor is after
// the consumed tokens), backtrack (the rule does not apply; the caller
// restores the cursor and may try another reading) or cut (unrecoverable;
// passed straight up to the script loop).
//
// Two devices keep any token list cheap to parse:
//  - one nesting counter bounds recursion (and therefore tree depth) at
//    kMaxNestingDepth levels; a rule that would go deeper cuts;
//  - rules whose result depends only on where they start (bracketed
//    literals, blocks, block-like constructs, index brackets, argument
//    lists, interpolations) are memoised per (start token, rule), so a
//    reading that is abandoned and tried again never re-parses a nested
//    construct twice.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <memory_resource>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "parser/ast.h"
#include "parser/static_warnings.h"

namespace quendal {

inline constexpr int kMaxNestingDepth = 640;

enum class Outcome : std::uint8_t { Success, Backtrack, Cut };

struct Failure {
  Outcome outcome;
};
inline constexpr Failure kBacktrack{Outcome::Backtrack};

template <class T>
class [[nodiscard]] ParserResult {
 public:
  ParserResult(T value) : value_(std::move(value)), outcome_(Outcome::Success) {}
  ParserResult(Failure failure) : value_(), outcome_(failure.outcome) {}

  bool ok() const { return outcome_ == Outcome::Success; }
  bool backtracked() const { return outcome_ == Outcome::Backtrack; }
  bool is_cut() const { return outcome_ == Outcome::Cut; }
  Outcome outcome() const { return outcome_; }
  Failure failure() const { return Failure{outcome_}; }
  T& operator*() { return value_; }
  const T& operator*() const { return value_; }
  T* operator->() { return &value_; }

 private:
  T value_;
  Outcome outcome_;
};

// Runs a rule; any outcome other than success leaves the enclosing rule with
// that outcome.
#define QUENDAL_TRY(name, expr) \
  auto name = (expr);           \
  if (!name.ok()) return name.failure()

enum class PatternMode : std::uint8_t { Binding, Rebinding };

enum class MemoRule : std::uint8_t {
  RecordLike,
  Array,
  Block,
  Json,
  If,
  While,
  For,
  Match,
  FunctionLiteral,
  IndexBrackets,
  CallArguments,
  TypeArguments,
  ExtensionArguments,
  Interpolation,
  RecordPatternBinding,
  RecordPatternRebinding,
  ArrayPatternBinding,
  ArrayPatternRebinding,
};

struct MemoKey {
  TokenIndex token;
  MemoRule rule;
  friend bool operator==(const MemoKey&, const MemoKey&) = default;
};

struct MemoEntry {
  void* value = nullptr;      // null: the rule backtracked here
  std::uint32_t advance = 0;  // tokens consumed on success
  std::uint16_t height = 0;   // nesting levels the rule used below its start
};

// Memoised outcomes, kept in the order they were stored. Tokens share
// buckets by their low bits (eight neighbouring tokens' worth of buckets is
// one bucket per token that starts a memoised rule in ordinary code); each
// bucket keeps the number of the last entry stored in it (0 for none), and
// every entry links to the one stored before it in the same bucket, so a
// look-up walks the few entries of one bucket and storing appends. The
// entries live on the heap rather than in the arena: growing frees the
// smaller buffer, where the arena would keep every earlier one to the end of
// the compilation.
class MemoTable {
 public:
  explicit MemoTable(Arena&) {}
  MemoTable(const MemoTable&) = delete;
  MemoTable& operator=(const MemoTable&) = delete;
  ~MemoTable() { free_zeroed(heads_); }
  // Sizes the table for a list of `count` tokens (once, before the first
  // entry; a table used without it gets a small one).
  void reserve_tokens(std::size_t count);

  // The entry stays valid until the next call on the table.
  const MemoEntry* find(const MemoKey& key) const {
    if (heads_ == nullptr) return nullptr;
    // Entries of a bucket are linked newest first; numbers only fall along
    // a chain, so every walk ends.
    std::uint32_t n = heads_[key.token & bucket_mask_];
    while (n != 0) {
      const Slot& slot = slots_[n - 1];
      if (slot.token == key.token && slot.rule == key.rule) {
        found_ = MemoEntry{slot.value, slot.advance, slot.height};
        return &found_;
      }
      n = slot.previous;
    }
    return nullptr;
  }
  void insert(const MemoKey& key, const MemoEntry& entry);
  // `insert` for a key known to have no entry (a rule just found no entry
  // and ran: a rule never runs again at its own start while it runs).
  void insert_new(const MemoKey& key, const MemoEntry& entry) {
    if (count_ == capacity_ || heads_ == nullptr) [[unlikely]] {
      insert_new_slow(key, entry);
      return;
    }
    std::uint32_t& head = heads_[key.token & bucket_mask_];
    slots_[count_++] = Slot{entry.value, key.token, entry.advance, head, entry.height, key.rule};
    head = count_;
  }
  std::size_t size() const { return count_; }

 private:
  struct Slot {
    void* value;
    TokenIndex token;
    std::uint32_t advance;
    std::uint32_t previous;  // the bucket's entry stored before this one
    std::uint16_t height;
    MemoRule rule;
  };
  static_assert(sizeof(Slot) == 24);
  // The entry number of `key`, 0 for none.
  std::uint32_t number_of(const MemoKey& key) const;

  // Room for `capacity` entries (the first `count_` in use).
  void grow(std::size_t capacity);
  void insert_new_slow(const MemoKey& key, const MemoEntry& entry);

  std::unique_ptr<Slot[]> slots_;
  std::uint32_t count_ = 0;
  std::uint32_t capacity_ = 0;
  // The last entry of each bucket; a power of two of them.
  std::uint32_t* heads_ = nullptr;
  std::size_t bucket_mask_ = 0;
  mutable MemoEntry found_;  // what `find` returns a pointer to
};

// State shared by the parser of a script and the parsers of the
// interpolations inside it.
struct ParseContext {
  explicit ParseContext(Arena& a) : arena(a), memo(a) {
    // Room for the usual depth of blocks and lists at once, rather than
    // growing step by step in every compilation.
    statement_scratch.reserve(64);
    list_scratch.reserve(64);
  }
  ParseContext(const ParseContext&) = delete;
  ParseContext& operator=(const ParseContext&) = delete;

  Arena& arena;
  int depth = 0;       // current nesting level
  int high_water = 0;  // deepest level reached inside the current memoised rule
  // Measurements, kept only when `measure` is set (tests): the deepest level
  // reached, the levels entered, the lowest stack address seen when a level
  // was entered, and the tokens scanned by the unknown-run rules.
  bool measure = false;
  int deepest = 0;
  std::uint64_t levels_entered = 0;
  std::uintptr_t stack_low = UINTPTR_MAX;
  std::uint64_t tokens_scanned = 0;
  // Where the first cut happened, as an index into the script's token list.
  bool cut_recorded = false;
  std::size_t cut_position = 0;
  MemoTable memo;
  // The last run of tokens scanned by unknown_pattern: [run_begin, run_stop)
  // holds no pattern stop token, so any start inside it stops at run_stop.
  // Token indices; run_stop == 0 when there is none.
  TokenIndex run_begin = 0;
  TokenIndex run_stop = 0;
  // Where the parser made a form that the emitter's declaration pre-pass
  // acts on when no tags are reported (a group, an `is` test, a literal
  // operand that draws a warning, a literal that is called or indexed): one
  // bit per token of the script, set at the last token read when the form
  // was made. A statement with no bit over its tokens is marked quiet, and
  // the pre-pass passes over its expressions. Forms read and then dropped
  // leave their bit: a statement is only ever marked quiet when it holds
  // none of these forms.
  std::vector<std::uint64_t> pre_pass_marks;
  std::uint64_t pre_pass_mark_count = 0;
  // Per operator: a number operand (either side) draws no warning, the
  // common case (`i + 1`, `n < 10`) decided without the rule.
  const bool* number_operand_quiet = number_operand_quiet_table();
  void mark_pre_pass(TokenIndex index) {
    const std::size_t word = index >> 6;
    if (word >= pre_pass_marks.size())
      pre_pass_marks.resize(std::max(word + 1, 2 * pre_pass_marks.size()), 0);
    pre_pass_marks[word] |= std::uint64_t{1} << (index & 63);
    ++pre_pass_mark_count;
  }
  // Whether a bit is set in [begin, end).
  bool any_pre_pass_mark(TokenIndex begin, TokenIndex end) const {
    if (begin >= end || pre_pass_mark_count == 0) return false;
    const std::size_t first = begin >> 6;
    const std::size_t last = (end - 1) >> 6;
    for (std::size_t word = first; word <= last && word < pre_pass_marks.size(); ++word) {
      std::uint64_t bits = pre_pass_marks[word];
      if (word == first) bits &= ~std::uint64_t{0} << (begin & 63);
      if (word == last) bits &= ~std::uint64_t{0} >> (63 - ((end - 1) & 63));
      if (bits != 0) return true;
    }
    return false;
  }
  // Statements of the blocks being read, innermost last: a block's list is
  // copied out once, at its final size.
  std::vector<ArenaRef<Statement>> statement_scratch;
  // The same for the elements of bracketed lists (of any element type, as
  // 8-byte words).
  std::vector<std::uint64_t> list_scratch;
};

// The elements of one bracketed list while it is read: kept on the
// context's scratch words, copied into the list's own vector once when the
// list is complete (no growth garbage in the arena).
template <class Item>
class ListScratch {
 public:
  static_assert(std::is_trivially_copyable_v<Item>);
  ListScratch(std::vector<std::uint64_t>& words) : words_(words), mark_(words.size()) {}
  ListScratch(const ListScratch&) = delete;
  ListScratch& operator=(const ListScratch&) = delete;
  ~ListScratch() { words_.resize(mark_); }

  void push(const Item& item) {
    const std::size_t at = words_.size();
    words_.resize(at + kWords);
    std::memcpy(words_.data() + at, &item, sizeof(Item));
  }
  // Appends the elements to `out`.
  void finish(ArenaList<Item>& out, Arena& arena) {
    const std::size_t count = (words_.size() - mark_) / kWords;
    Item* items = out.extend(arena, count);
    for (std::size_t i = 0; i < count; ++i)
      std::memcpy(static_cast<void*>(items + i), words_.data() + mark_ + i * kWords, sizeof(Item));
    words_.resize(mark_);
  }

 private:
  static constexpr std::size_t kWords = (sizeof(Item) + 7) / 8;
  std::vector<std::uint64_t>& words_;
  std::size_t mark_;
};

// Holds nesting levels for the lifetime of a rule invocation.
class NestingGuard {
 public:
  explicit NestingGuard(ParseContext& context) : context_(context) {}
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  ~NestingGuard() { context_.depth -= count_; }

  // A level entered and left at once (a leaf of the tree): false when the
  // limit is reached; otherwise the same bookkeeping as enter() and leaving.
  [[nodiscard]] static bool touch(ParseContext& context) {
    if (context.depth >= kMaxNestingDepth) return false;
    if (context.depth + 1 > context.high_water) context.high_water = context.depth + 1;
    if (context.measure) [[unlikely]] {
      NestingGuard guard(context);
      return guard.enter();
    }
    return true;
  }

  // touch() for fast paths: false, with nothing done, when the limit is
  // reached or levels are measured (the general path then calls touch()).
  [[nodiscard]] static bool touch_unmeasured(ParseContext& context) {
    if (context.depth >= kMaxNestingDepth || context.measure) return false;
    if (context.depth + 1 > context.high_water) context.high_water = context.depth + 1;
    return true;
  }

  // One more level; false (nothing entered) when the limit is reached.
  [[nodiscard]] bool enter() {
    if (context_.depth >= kMaxNestingDepth) return false;
    ++context_.depth;
    ++count_;
    if (context_.depth > context_.high_water) context_.high_water = context_.depth;
    if (context_.measure) [[unlikely]]
      measure(context_);
    return true;
  }

 private:
  // Out of line, so that reading the frame address (its own, one frame
  // below the level's rule) asks no frame pointer of the rules.
  [[gnu::noinline, gnu::cold]] static void measure(ParseContext& context) {
    ++context.levels_entered;
    if (context.depth > context.deepest) context.deepest = context.depth;
    const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (frame < context.stack_low) context.stack_low = frame;
  }

  ParseContext& context_;
  int count_ = 0;
};

struct BlockContents {
  StatementList statements;
  Expression* expression = nullptr;
};

// The bracketed part of an index or slice access: `[index]`, `[start..end]`
// with either bound optional.
struct IndexBrackets {
  TokenRef open;
  TokenRef op;
  TokenRef close;
  Iterable inner;  // index (expression) or a full range; unset for a one-sided slice
  Expression* start = nullptr;
  Expression* end = nullptr;
};

struct ArgumentsPart {
  TokenRef open;
  TokenRef close;
  ArgumentList arguments;
};

struct Precedence {
  bool is_prefix = false;
  bool right_associative = false;
  // Operators only: it starts an access, a call or an assertion after an
  // operand (`!`, `.`, `[`, `(`, `::`).
  bool starts_postfix = false;
  int power = 0;
};

constexpr bool operator_starts_postfix(Operator op) {
  return op == Operator::Exclamation || op == Operator::Dot || op == Operator::OpenBracket ||
         op == Operator::OpenParen || op == Operator::ColonColon;
}

// The place of operators and keywords in expressions, from their tables.
inline constexpr Precedence kOperatorPrecedence[] = {
#define QUENDAL_OPERATOR(name, spelling, a, c, l, p, e, r, prefix, right, power) \
  {prefix != 0, right != 0, operator_starts_postfix(Operator::name), power},
#include "lexer/operators.def"
#undef QUENDAL_OPERATOR
};
inline constexpr Precedence kKeywordPrecedence[] = {
#define QUENDAL_KEYWORD(name, spelling, constant, reserved, prefix, right, power) \
  {prefix != 0, right != 0, false, power},
#include "lexer/keywords.def"
#undef QUENDAL_KEYWORD
};

// Whether a token of this kind and data starts an access, a call or a
// tagged string.
inline bool starts_postfix(TokenTag tag, std::uint32_t data) {
  switch (tag) {
    case TokenTag::String:
    case TokenTag::InterpolatedString:
      return true;
    case TokenTag::Operator:
      return kOperatorPrecedence[data].starts_postfix;
    default:
      return false;
  }
}

// An operator's or keyword's precedence (`datum` is the member); none for
// any other token.
inline Precedence precedence_of(TokenTag tag, std::uint32_t datum) {
  if (tag == TokenTag::Operator) return kOperatorPrecedence[datum];
  if (tag == TokenTag::Keyword) return kKeywordPrecedence[datum];
  return {};
}

// What a token means right after an operand: its precedence as an
// operator, and whether it continues the operand instead (an access, a call
// or a tagged string: starts_postfix set).
inline Precedence precedence_after_operand(TokenTag tag, std::uint32_t datum) {
  switch (tag) {
    case TokenTag::Operator:
      return kOperatorPrecedence[datum];
    case TokenTag::Keyword:
      return kKeywordPrecedence[datum];
    case TokenTag::String:
    case TokenTag::InterpolatedString:
      return {false, false, true, 0};
    default:
      return {};
  }
}

// A token the cursor looked at: empty past the end of the list. Its kind,
// operator, keyword and range are read from the store's columns; the whole
// token (with its payload) is read once, when `->` or `*` first asks for it.
class PeekedToken {
 public:
  PeekedToken() = default;
  PeekedToken(const Tokens& tokens, TokenIndex index)
      : PeekedToken(tokens, index, tokens.tag(index), tokens.data(index)) {}
  // With its kind and data already read from the columns.
  PeekedToken(const Tokens& tokens, TokenIndex index, TokenTag tag, std::uint32_t data)
      : tokens_(&tokens), index_(index), data_(data), tag_(tag) {}
  explicit operator bool() const { return tokens_ != nullptr; }
  bool operator==(std::nullptr_t) const { return tokens_ == nullptr; }
  const Token* operator->() const { return &token(); }
  const Token& operator*() const { return token(); }
  // Null when empty.
  const Token* get() const { return tokens_ != nullptr ? &token() : nullptr; }
  TokenIndex index() const { return index_; }

  TokenTag tag() const { return tag_; }
  // The store's data column: an operator's or keyword's member, an
  // identifier's symbol.
  std::uint32_t data() const { return data_; }
  bool is_operator(Operator op) const {
    return tag_ == TokenTag::Operator && data_ == static_cast<std::uint32_t>(op);
  }
  bool is_keyword(Keyword keyword) const {
    return tag_ == TokenTag::Keyword && data_ == static_cast<std::uint32_t>(keyword);
  }
  Operator op() const { return static_cast<Operator>(data_); }
  Keyword keyword() const { return static_cast<Keyword>(data_); }
  std::uint32_t start() const { return tokens_->start(index_); }
  std::uint32_t end() const { return tokens_->end(index_); }
  // An identifier's name.
  std::string_view identifier_text() const { return tokens_->symbol_text(data_); }
  // An identifier that names a constant (`@name`).
  bool is_constant_name() const {
    if (tag() != TokenTag::Identifier) return false;
    const std::string_view text = identifier_text();
    return !text.empty() && text.front() == '@';
  }

 private:
  const Token& token() const {
    if (!loaded_) {
      ::new (&storage_.token) Token(tokens_->get(index_));
      loaded_ = true;
    }
    return storage_.token;
  }

  const Tokens* tokens_ = nullptr;
  TokenIndex index_ = 0;
  std::uint32_t data_ = 0;
  TokenTag tag_{};
  mutable bool loaded_ = false;
  // Left unconstructed until read: most peeks only ask for the kind.
  union Storage {
    Storage() {}
    Token token;
  };
  mutable Storage storage_;
};

// A string, ordinal or number, or `true`, `false`, `nil`, `nan`, `inf`; false
// for no token.
bool is_literal_token(const Token* token);
bool is_literal_token(const PeekedToken& token);

// The script loop over the list `range` of `tokens` with a caller-provided
// context (parse_script makes its own).
struct ParseOutcome;
ParseOutcome parse_tokens(const Tokens& tokens, TokenRange range, ParseContext& context);

class Parser {
 public:
  Parser(const Tokens& tokens, TokenRange range, ParseContext& context, bool top_level)
      : tokens_(tokens),
        range_(range),
        tags_(tokens.tag_column() + range.begin),
        data_(tokens.data_column() + range.begin),
        size_(range.size()),
        context_(context),
        arena_(context.arena),
        top_level_(top_level) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // ---- forms the declaration pre-pass acts on (see ParseContext)
  // The form just made is one: marked at the last token read.
  void note_pre_pass() { context_.mark_pre_pass(index_at(pos_ == 0 ? 0 : pos_ - 1)); }
  // A prefix or binary operator just made: noted when `operand`, on the
  // given side, is a literal that draws a warning with `op`.
  void note_literal_operand(TokenRef op, const Expression* operand, bool is_right) {
    if (operand == nullptr || operand->kind != ExpressionKind::Literal) return;
    const TokenRef literal = operand->as<LiteralExpression>().token;
    if (op.is_borrowed() && literal.is_borrowed() && tokens_.tag(op.index()) == TokenTag::Operator) {
      const TokenTag tag = tokens_.tag(literal.index());
      const std::uint32_t code = tokens_.data_column()[op.index()];
      if ((tag == TokenTag::Number || tag == TokenTag::Ordinal) && code < kOperatorCount &&
          context_.number_operand_quiet[code])
        return;
    }
    note_literal_operand_slow(op, operand->as<LiteralExpression>(), is_right);
  }
  void note_literal_operand_slow(TokenRef op, const LiteralExpression& operand, bool is_right);
  // A binary operation node, its literal operands noted.
  Expression* binary(Expression* left, TokenRef op, Expression* right) {
    auto* node = arena_.make<BinaryExpression>();
    node->left = left;
    node->right = right;
    node->op = op;
    note_literal_operand(op, left, false);
    note_literal_operand(op, right, true);
    return node;
  }
  std::pair<TokenTag, std::uint32_t> operand_tag(TokenRef token) const;
  // An access, call or tagged string just made on `object`: noted when a
  // literal or an interpolated string is indexed, called or used as a tag.
  void note_literal_object(const Expression* object) {
    if (object != nullptr && (object->kind == ExpressionKind::Literal ||
                              object->kind == ExpressionKind::Interpolation)) [[unlikely]]
      note_pre_pass();
  }

  // ---- cursor (positions count from the start of the list)
  std::size_t position() const { return pos_; }
  void restore(std::size_t position) { pos_ = position; }
  std::size_t size() const { return size_; }
  // The store index of a position of the list.
  TokenIndex index_at(std::size_t position) const { return range_.begin + static_cast<TokenIndex>(position); }
  // The token at a position of the list (which must exist), as a value.
  Token token_at(std::size_t position) const { return tokens_.get(index_at(position)); }
  PeekedToken peek(std::size_t ahead = 0) const {
    const std::size_t at = pos_ + ahead;
    return at < size_ ? PeekedToken(tokens_, index_at(at), tags_[at], data_[at]) : PeekedToken();
  }
  bool exhausted() const { return pos_ >= size_; }
  // No token left, or the Eof token.
  bool at_end() const { return exhausted() || tags_[pos_] == TokenTag::Eof; }
  bool at_operator(Operator op, std::size_t ahead = 0) const {
    const std::size_t at = pos_ + ahead;
    return at < size_ && tags_[at] == TokenTag::Operator && data_[at] == static_cast<std::uint32_t>(op);
  }
  bool at_keyword(Keyword keyword, std::size_t ahead = 0) const {
    const std::size_t at = pos_ + ahead;
    return at < size_ && tags_[at] == TokenTag::Keyword && data_[at] == static_cast<std::uint32_t>(keyword);
  }
  // The kind of the token at `ahead` (which must exist).
  TokenTag tag_at(std::size_t ahead = 0) const { return tags_[pos_ + ahead]; }
  // A list closer (`)`, `]` or `}`), or the end.
  bool at_list_close() const {
    if (at_end()) return true;
    if (tags_[pos_] != TokenTag::Operator) return false;
    const auto op = static_cast<Operator>(data_[pos_]);
    return op == Operator::CloseParen || op == Operator::CloseBracket || op == Operator::CloseBrace;
  }
  // A record key's colon (`:` or `?:`).
  bool at_key_colon(std::size_t ahead = 0) const {
    const std::size_t at = pos_ + ahead;
    return at < size_ && tags_[at] == TokenTag::Operator &&
           (data_[at] == static_cast<std::uint32_t>(Operator::Colon) ||
            data_[at] == static_cast<std::uint32_t>(Operator::QuestionColon));
  }
  // After a `(`: nothing that makes a record element of another kind than a
  // plain value (a list closer, a hole, a spread, a key and its colon)
  // starts here.
  bool at_plain_group_value() const {
    if (at_end()) return false;
    if (tags_[pos_] == TokenTag::Operator) {
      switch (static_cast<Operator>(data_[pos_])) {
        case Operator::CloseParen:
        case Operator::CloseBracket:
        case Operator::CloseBrace:
        case Operator::Comma:
        case Operator::DotDot:
        case Operator::Colon:
        case Operator::QuestionColon:
          return false;
        default:
          break;
      }
    }
    return !at_key_colon(1);
  }
  // Consumes the next token (there must be one).
  TokenRef advance() { return TokenRef::borrowed(index_at(pos_++)); }
  // Where inserted tokens and placeholder nodes go: the end of the token
  // before the cursor, else the start of the next token, else 0.
  std::uint32_t placeholder_position() const;
  // Records where parsing stopped (first cut only) and returns the cut.
  Failure cut();

  // ---- helper
  ParserResult<TokenRef> token(Operator op) {
    if (!at_operator(op)) return kBacktrack;
    return advance();
  }
  // The operator if it is next, else one inserted where it is missing.
  TokenRef token_or_insert(Operator op, DiagnosticCode code) {
    if (at_operator(op)) return advance();
    return insert_operator(op, code);
  }
  TokenRef insert_operator(Operator op, DiagnosticCode code);
  TokenRef inserted_token(TokenKind kind, std::uint32_t position, DiagnosticCode code);
  // An identifier, or a keyword that may stand in a name position
  // (rewritten to carry its diagnostic where it is not allowed).
  ParserResult<TokenRef> variable_token(bool allow_underscore, bool allow_global) {
    if (!exhausted() && tags_[pos_] == TokenTag::Identifier) return advance();
    return keyword_variable_token(allow_underscore, allow_global);
  }
  ParserResult<TokenRef> keyword_variable_token(bool allow_underscore, bool allow_global);
  ParserResult<TokenRef> record_key();
  Expression* expression_expected(std::uint32_t position);
  Pattern* pattern_expected(std::uint32_t position);
  ParserResult<Expression*> expression_or_insert(std::initializer_list<Operator> follow) {
    const std::size_t start = pos_;
    auto result = expression();
    if (!result.backtracked()) [[likely]]
      return result;
    return missing_expression(start, follow);
  }
  // expression_or_insert where no expression starts at `start`.
  ParserResult<Expression*> missing_expression(std::size_t start, std::initializer_list<Operator> follow);
  ParserResult<Expression*> unknown_expression();
  ParserResult<Pattern*> unknown_pattern();
  ParserResult<bool> statements_and_expression(BlockContents& contents);
  Expression* construct_statements_and_expression(StatementList& statements, Expression* expression);
  // True where a list element takes no separator after it.
  bool at_list_end_without_separator() const;
  // The element loop of every bracketed list; see the definition below.
  template <class Element, class Hole, class Read>
  ParserResult<bool> list_elements(ArenaList<ListItem<Element>>& elements, Hole&& hole, Read&& read);
  // The tokens from `start` to the cursor, as borrowed references.
  TokenRefList consumed_tokens(std::size_t start) const;
  TokenRefList token_list(std::initializer_list<TokenRef> tokens) const;

  // ---- expression
  // basic_expression, else unknown_expression
  ParserResult<Expression*> expression() {
    const std::size_t start = pos_;
    auto basic = basic_expression();
    if (!basic.backtracked()) [[likely]]
      return basic;
    return unknown_expression_at(start);
  }
  ParserResult<Expression*> unknown_expression_at(std::size_t start);
  ParserResult<Expression*> basic_expression() { return operators(0, nullptr); }
  ParserResult<Iterable> pratt(bool ranges_allowed, int minimum_power);
  ParserResult<Expression*> operators(int minimum_power, RangeNode** range);
  ParserResult<Expression*> operand_and_operators(int minimum_power, RangeNode** range);
  ParserResult<Expression*> right_operand(const Precedence& precedence);
  template <class Node>
  Expression* plain_operand();
  ParserResult<Expression*> operator_loop(Expression* left, int minimum_power, RangeNode** range);
  ParserResult<Expression*> operator_chain(Expression* left, int minimum_power, RangeNode** range,
                                           bool first);
  ParserResult<Expression*> additive();

  // ---- basic_expressions
  ParserResult<Expression*> pratt_prefix();
  ParserResult<Expression*> prefix_or_primary();
  ParserResult<Expression*> parenthesized_operand();
  ParserResult<Expression*> primary_expression();
  // Most primaries have no access or call after them: that is seen here,
  // without entering the loop.
  ParserResult<Expression*> postfix_chain(Expression* left) {
    if (exhausted() || !starts_postfix(tags_[pos_], data_[pos_])) return left;
    return postfix_loop(left);
  }
  ParserResult<Expression*> postfix_loop(Expression* left);
  ParserResult<Expression*> access_index(Expression* object);
  ParserResult<IndexBrackets*> index_brackets();
  ParserResult<Expression*> call(Expression* callee);
  ParserResult<Expression*> extension_call(Expression* receiver);
  ParserResult<Expression*> type_call();
  ParserResult<Expression*> tagged_string(Expression* tag);
  ParserResult<Expression*> string_expression();
  ParserResult<Expression*> to_interpolate_expr();
  LiteralExpression* literal(TokenRef token) {
    auto* node = arena_.make<LiteralExpression>();
    node->token = token;
    return node;
  }

  // ---- expressions (composite literals)
  ParserResult<Expression*> array();
  ParserResult<Expression*> record_like();
  // The usual reading of a `(` at the cursor with no memo entry: a group
  // `(value)`; backtracks (the cursor back at the `(`) for anything else.
  ParserResult<Expression*> plain_group();
  // The memoised reading of record_like; `absent` when the caller has just
  // seen that the table holds no entry for it.
  ParserResult<Expression*> listed_record_like(bool absent);
  ParserResult<Expression*> record_elements(TokenRef open);
  ParserResult<bool> array_elements(ArenaList<ListItem<ArrayElement>>& elements);
  ParserResult<bool> argument_elements(ArgumentList& elements);
  ParserResult<ArgumentsPart*> array_base(MemoRule rule, DiagnosticCode open_code);
  ParserResult<ArgumentsPart*> call_arguments();

  // ---- json_expressions
  bool at_json_start() const;
  ParserResult<Expression*> json_expression();

  // ---- block_expressions
  ParserResult<Expression*> block_expression();
  ParserResult<BlockExpression*> block_core();
  ParserResult<BlockExpression*> block_expression_no_expr();
  ParserResult<Expression*> condition();
  ParserResult<Expression*> if_expression();
  ParserResult<IfExpression*> if_head();
  ParserResult<ElseBlock*> optional_else();
  static constexpr TokenIndex kNoBranch = ~TokenIndex{0};
  void remember_failed_chain(const ElseBlock* first, TokenIndex failed_at);
  ParserResult<Expression*> while_expression();
  ParserResult<Expression*> loop_expression();
  ParserResult<Expression*> for_in_expression();
  ParserResult<Expression*> match_expression();
  ParserResult<Expression*> function_literal();

  // ---- statement / statements
  ParserResult<Statement*> statement();
  ParserResult<Statement*> construct_statement();
  ParserResult<Statement*> jump_statement();
  ParserResult<Statement*> name_statement();
  template <ParserResult<Statement*> (Parser::*declaration)()>
  ParserResult<Statement*> declaration_statement();
  ParserResult<Statement*> other_statement();
  ParserResult<Statement*> mod_statement();
  ParserResult<Statement*> fn_statement();
  ParserResult<Statement*> const_statement();
  ParserResult<Statement*> bind_statement();
  ParserResult<Statement*> rebind_statement();
  ParserResult<Statement*> assign_or_expression_statement();
  // The value of a let, rebinding or assignment: an expression, or a
  // placeholder before `;` or the end of input.
  ParserResult<Expression*> statement_value() { return expression_or_insert({Operator::Semicolon}); }
  // Appends statements until the statement rule fails; the count appended.
  ParserResult<std::size_t> statements(StatementList& out);

  // ---- parameter_list
  ParserResult<ParameterList*> parameter_list();

  // ---- pattern / patterns
  ParserResult<Pattern*> or_pattern(PatternMode mode);
  ParserResult<Pattern*> or_chain(PatternMode mode);
  ParserResult<Pattern*> and_pattern(PatternMode mode);
  ParserResult<Pattern*> primary_pattern(PatternMode mode);
  ParserResult<Pattern*> nested_pattern(PatternMode mode);
  ParserResult<Pattern*> name_pattern(PatternMode mode);
  ParserResult<Pattern*> constant_or_literal_pattern();
  ParserResult<Pattern*> signed_literal_pattern();
  ParserResult<Pattern*> literal_constant_pattern();
  Pattern* pattern_spread(PatternMode mode, TokenRef dot_dot);
  ParserResult<ArrayPattern*> array_pattern_like(Operator opener, Operator closer, DiagnosticCode closer_code,
                                                 PatternMode mode);
  ParserResult<Pattern*> record_pattern(PatternMode mode);
  ParserResult<Pattern*> array_pattern(PatternMode mode);

  Arena& arena() { return arena_; }
  ParseContext& context() { return context_; }
  const Tokens& tokens() const { return tokens_; }

 private:
  // Runs `body` once per (start token, rule); later calls at the same token
  // replay the outcome and the cursor movement.
  // `absent`: the caller has just seen that the table holds no entry for
  // this rule here.
  template <class T, class Body>
  ParserResult<T*> memoized(MemoRule rule, Body&& body, bool absent = false);

  const Tokens& tokens_;
  TokenRange range_;
  // The list's kind and data columns from its first token, and its length.
  const TokenTag* tags_;
  const std::uint32_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  ParseContext& context_;
  Arena& arena_;
  bool top_level_;
  // Set while a rebinding statement reads its pattern: an unknown run outside
  // brackets ends that pattern, so unless `=` follows it the statement
  // cannot be a rebinding and the run need not be built.
  bool probing_rebind_ = false;
  int pattern_brackets_ = 0;

 public:
  // Marks a bracketed pattern list being read.
  class BracketScope {
   public:
    explicit BracketScope(Parser& parser) : parser_(parser) { ++parser_.pattern_brackets_; }
    BracketScope(const BracketScope&) = delete;
    BracketScope& operator=(const BracketScope&) = delete;
    ~BracketScope() { --parser_.pattern_brackets_; }

   private:
    Parser& parser_;
  };
};

template <class T, class Body>
ParserResult<T*> Parser::memoized(MemoRule rule, Body&& body, bool absent) {
  if (exhausted()) return body();
  const MemoKey key{index_at(pos_), rule};
  if (const MemoEntry* found = absent ? nullptr : context_.memo.find(key)) {
    const MemoEntry entry = *found;
    if (context_.depth + entry.height > kMaxNestingDepth) return cut();
    if (context_.depth + entry.height > context_.high_water)
      context_.high_water = context_.depth + entry.height;
    if (entry.value == nullptr) return kBacktrack;
    pos_ += entry.advance;
    return static_cast<T*>(entry.value);
  }
  const int saved_high_water = context_.high_water;
  context_.high_water = context_.depth;
  const std::size_t start = pos_;
  ParserResult<T*> result = body();
  const int height = context_.high_water - context_.depth;
  if (saved_high_water > context_.high_water) context_.high_water = saved_high_water;
  if (!result.is_cut()) {
    MemoEntry entry;
    if (result.ok()) {
      entry.value = *result;
      entry.advance = static_cast<std::uint32_t>(pos_ - start);
    }
    entry.height = static_cast<std::uint16_t>(height < 0 ? 0 : height);
    context_.memo.insert_new(key, entry);
  }
  return result;
}

[[gnu::always_inline]] inline ParserResult<Expression*> Parser::plain_group() {
  // Nothing that would make a record element of another kind (a hole, a
  // spread, a key and its colon) starts it, and `)` follows the value.
  const std::size_t start = pos_;
  TokenRef open = advance();
  if (at_plain_group_value()) {
    auto value = expression();
    if (value.is_cut()) return value.failure();
    if (value.ok() && at_operator(Operator::CloseParen)) {
      auto* group = arena_.make<GroupExpression>();
      group->expression = *value;
      group->open = open;
      group->close = advance();
      if (group->expression != nullptr && draws_unnecessary_parentheses(*group->expression)) note_pre_pass();
      return static_cast<Expression*>(group);
    }
  }
  restore(start);
  return kBacktrack;
}

// list_elements -> (`,` | element `,`?)* up to a list closer
// A `,` where an element should stand is a hole: `hole(element, position)`
// fills it with a placeholder at the comma. Otherwise `read(element, start)`
// reads one element: true when it did, false when the list ends before it
// (the cursor goes back to `start`), or the failure the list leaves with.
// After an element that needs one, a missing `,` is inserted.
template <class Element, class Hole, class Read>
ParserResult<bool> Parser::list_elements(ArenaList<ListItem<Element>>& elements, Hole&& hole, Read&& read) {
  // A list that fails is dropped by its caller: only a complete list is
  // copied out.
  ListScratch<ListItem<Element>> scratch(context_.list_scratch);
  while (!at_list_close()) {
    const std::size_t start = pos_;
    ListItem<Element> item;
    if (at_operator(Operator::Comma)) {
      item.comma = advance();
      hole(item.item, static_cast<std::uint32_t>(item.comma.range().start));
      scratch.push(item);
      continue;
    }
    QUENDAL_TRY(read_element, read(item.item, start));
    if (!*read_element) {
      restore(start);
      break;
    }
    if (at_operator(Operator::Comma)) {
      item.comma = advance();
    } else if (!at_list_end_without_separator()) {
      item.comma = insert_operator(Operator::Comma, DiagnosticCode::MissingComma);
    }
    scratch.push(item);
    if (pos_ == start) break;
  }
  scratch.finish(elements, arena_);
  return true;
}

}  // namespace quendal
