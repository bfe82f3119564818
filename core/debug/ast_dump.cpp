#include "debug/ast_dump.h"

#include <cinttypes>
#include <cstdio>
#include <ranges>
#include <string_view>

#include "diagnostic/diagnostic_code.h"
#include "parser/source_parts.h"

namespace quendal {

namespace {

void append_position(std::string& out, std::uint64_t start, std::uint64_t end) {
  out += '@';
  out += std::to_string(start);
  if (end != start) {
    out += "..";
    out += std::to_string(end);
  }
}

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02x",
                        static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void append_number(std::string& out, const TokenKind& kind) {
  char buffer[64];
  const NumberInfo* info = kind.number_info;
  if (info == nullptr) {
    std::snprintf(buffer, sizeof buffer, "%.17g", kind.number());
    out += buffer;
    return;
  }
  switch (info->kind) {
    case NumberInfo::Kind::Decimal:
      out += info->decimal;
      return;
    case NumberInfo::Kind::Hex:
      std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, info->integer);
      break;
    case NumberInfo::Kind::Octal:
      std::snprintf(buffer, sizeof buffer, "0o%" PRIo64, info->integer);
      break;
    case NumberInfo::Kind::Binary: {
      std::string bits;
      std::uint64_t v = info->integer;
      do {
        bits.insert(bits.begin(), static_cast<char>('0' + (v & 1)));
        v >>= 1;
      } while (v != 0);
      out += "0b" + bits;
      return;
    }
    case NumberInfo::Kind::Invalid:
      std::snprintf(buffer, sizeof buffer, "#invalid(%.17g)", kind.number());
      break;
  }
  out += buffer;
}

// Each item through `append_item`, separated by blanks.
template <class Items, class AppendItem>
void append_separated(std::string& out, const Items& items, AppendItem append_item) {
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ' ';
    first = false;
    append_item(item);
  }
}

// ` !Code@start..end`, as diagnostics are flagged after a token or node.
void append_flagged(std::string& out, const SourceDiagnostic& diagnostic) {
  out += " !";
  out += dump_diagnostic(diagnostic);
}

// The text of a kind as it appears inside a tree.
void append_kind_text(std::string& out, const TokenKind& kind) {
  switch (kind.tag) {
    case TokenTag::Eof:
      out += "#eof";
      return;
    case TokenTag::Empty:
      out += "#empty";
      return;
    case TokenTag::Identifier:
      out += kind.text().empty() ? std::string_view("#ident\"\"") : kind.text();
      return;
    case TokenTag::Ordinal:
      out += std::to_string(kind.ordinal);
      return;
    case TokenTag::Number:
      append_number(out, kind);
      return;
    case TokenTag::String:
      append_quoted(out, kind.text());
      return;
    case TokenTag::InterpolatedString:
      out += "#interp";
      return;
    case TokenTag::Operator:
      out += operator_spelling(kind.op);
      return;
    case TokenTag::Keyword:
      out += keyword_spelling(kind.keyword);
      return;
    case TokenTag::Unknown:
      if (kind.unknown_box == nullptr) {
        out += "#unknown";
        return;
      }
      append_kind_text(out, kind.unknown_box->inner);
      return;
  }
}

// The diagnostics of every Unknown level, outermost first. A diagnostic over
// exactly the token's range prints its code only.
void append_kind_diagnostics(std::string& out, const TokenKind& kind, std::uint64_t start,
                             std::uint64_t end) {
  for (const TokenKind* k = &kind; k->tag == TokenTag::Unknown && k->unknown_box != nullptr;
       k = &k->unknown_box->inner) {
    for (const SourceDiagnostic& d : k->unknown_box->diagnostics) {
      out += " !";
      out += diagnostic_code_name(d.code);
      if (d.start != start || d.end != end) append_position(out, d.start, d.end);
    }
  }
}

// `lexed`: show the tokens nested in interpolations as the lexer read them
// (wrapped with their diagnostics), else as recovery left them.
void append_full_kind(std::string& out, const TokenKind& kind, bool lexed);

void append_full_token(std::string& out, const Token& token, bool lexed) {
  append_full_kind(out, token.kind, lexed);
  append_position(out, token.start, token.end);
}

void append_full_kind(std::string& out, const TokenKind& kind, bool lexed) {
  switch (kind.tag) {
    case TokenTag::Eof:
      out += "Eof";
      return;
    case TokenTag::Empty:
      out += "Empty";
      return;
    case TokenTag::Identifier:
      out += "Identifier(";
      out += kind.text();
      out += ')';
      return;
    case TokenTag::Ordinal:
      out += "Ordinal(" + std::to_string(kind.ordinal) + ")";
      return;
    case TokenTag::Number: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", kind.number());
      out += "Number(";
      out += buffer;
      out += ' ';
      append_number(out, kind);
      out += ')';
      return;
    }
    case TokenTag::String:
      out += "String(";
      append_quoted(out, kind.text());
      if (kind.string != nullptr && kind.string->raw_level > 0 && kind.string->quote != 0)
        out += " raw=" + std::to_string(kind.string->raw_level);
      out += ')';
      return;
    case TokenTag::InterpolatedString: {
      out += "InterpolatedString(";
      if (kind.string != nullptr) {
        append_separated(out, kind.string->parts, [&](const StringPart& part) {
          append_quoted(out, part.text);
          if (!part.tokens.empty()) {
            const Tokens& tokens = tokens_in_use();
            Arena arena;
            out += " {";
            for (TokenIndex i = part.tokens.begin; i < part.tokens.end; ++i) {
              if (i != part.tokens.begin) out += ' ';
              append_full_token(out, lexed ? tokens.lexed(i, arena) : tokens.get(i), lexed);
            }
            out += '}';
          }
          if (!part.format.empty()) {
            out += " :";
            append_quoted(out, part.format);
          }
        });
      }
      out += ')';
      return;
    }
    case TokenTag::Operator:
      out += "Operator(";
      out += operator_spelling(kind.op);
      out += ')';
      return;
    case TokenTag::Keyword:
      out += "Keyword(";
      out += keyword_spelling(kind.keyword);
      out += ')';
      return;
    case TokenTag::Unknown:
      out += "Unknown(";
      if (kind.unknown_box != nullptr) {
        append_full_kind(out, kind.unknown_box->inner, lexed);
        for (const SourceDiagnostic& d : kind.unknown_box->diagnostics) append_flagged(out, d);
      }
      out += ')';
      return;
  }
}

// Pieces of a node that are not plain children (see Printer::part).
// Punctuation implied by its node: printed only when the tree owns it.
struct Implied {
  TokenRef token;
};

// A child printed only when present, after `lead` (no `~` for absence).
template <class T>
struct Optional {
  std::string_view lead;
  const T* node;
};

// An optional child: ` child` when present.
template <class T>
Optional<T> optional(const T* node) {
  return {" ", node};
}
template <class T>
Optional<T> optional(const ArenaRef<T>& node) {
  return {" ", node.get()};
}
// The trailing value of a block or script: ` => value`.
Optional<Expression> trailing(const Expression* value) { return {" => ", value}; }
// What an unknown node wraps: ` inner=node`.
template <class T>
Optional<T> inner(const ArenaRef<T>& node) {
  return {" inner=", node.get()};
}

// The head of an unknown node: `unknown@start..end`.
struct UnknownHead {
  SourceRange range;
};

class Printer {
 public:
  std::string out;

  // The printer recurses on every child; below this many nested nodes (a
  // chain of a few thousand links, far past the parser's nesting limit) a
  // subtree prints as `(...)` rather than run the native stack out.
  static constexpr int kMostLevels = 4000;
  int levels = 0;
  struct Level {
    explicit Level(Printer& p) : printer(p) { ++printer.levels; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;
    ~Level() { --printer.levels; }
    Printer& printer;
  };
  bool elided() {
    if (levels < kMostLevels) return false;
    out += "(...)";
    return true;
  }

  void space() { out += ' '; }

  // An absent child (a null token or node) prints as `~`.
  void absent() { out += '~'; }

  void token(const TokenRef& ref) {
    if (ref.is_null()) return absent();
    const Token& t = ref.get();
    if (!ref.is_owned()) {
      append_kind_text(out, t.kind);
      return;
    }
    out += '<';
    append_kind_text(out, t.kind);
    append_position(out, t.start, t.end);
    append_kind_diagnostics(out, t.kind, t.start, t.end);
    out += '>';
  }

  // `(head part...)`: each part brings its own leading blank, so implied
  // punctuation and optional children leave no trace when absent.
  template <class Head, class... Parts>
  void node(const Head& head, const Parts&... parts) {
    out += '(';
    write_head(head);
    (part(parts), ...);
    out += ')';
  }

  // Every node prints as its row of the node table (nodes.def) says: its
  // head, then its parts in source order, each as its role asks.
  void expression(const Expression& e) {
    if (elided()) return;
    const Level level(*this);
    source::visit(e, [&](const auto& n, auto kind) { print(n, kind); });
  }

  void pattern(const Pattern& p) {
    if (elided()) return;
    const Level level(*this);
    source::visit(p, [&](const auto& n, auto kind) { print(n, kind); });
  }

  void statement(const Statement& s) {
    if (elided()) return;
    const Level level(*this);
    source::visit(s, [&](const auto& n, auto kind) { print(n, kind); });
  }

  void block(const BlockExpression& n) {
    node("block", Implied{n.open}, n.statements, trailing(n.expression), Implied{n.close});
  }

  void script(const Script& script) {
    node("script", script.statements, trailing(script.expression), Implied{script.eof});
  }

 private:
  void write_head(std::string_view name) { out += name; }
  void write_head(const TokenRef& op) { token(op); }
  void write_head(const UnknownHead& head) {
    out += "unknown";
    append_position(out, head.range.start, head.range.end);
  }

  // ------------------------------------------------ a node by its table row

  template <class Node, class Kind>
  void print(const Node& n, Kind) {
    using Parts = typename Kind::Parts;
    constexpr source::Head head = Kind::kHead;
    if constexpr (head.form == source::HeadForm::Interpolation) {
      interpolation(n);
    } else if constexpr (head.form == source::HeadForm::Bare) {
      bare(n, Parts{});
    } else if constexpr (head.form == source::HeadForm::Token) {
      headed(n, Parts{});
    } else {
      out += '(';
      if constexpr (head.form == source::HeadForm::Name) {
        if (has_pub(n, Parts{})) out += "pub ";
        out += head.name;
      } else if constexpr (head.form == source::HeadForm::BraceName) {
        out += opens_with_brace(n, Parts{}) ? head.name : head.other;
      } else {
        static_assert(head.form == source::HeadForm::Unknown);
        write_head(UnknownHead{range_of(n)});
      }
      print_parts(n, Parts{});
      out += ')';
    }
  }

  // The parts after the head, each with its own leading blank.
  template <class Node, class... Parts>
  void print_parts(const Node& n, source::PartList<Parts...>) {
    (source_part<Parts>(n), ...);
  }

  template <class Part, class Node>
  void source_part(const Node& n) {
    using source::Role;
    const auto& field = Part::of(n);
    if constexpr (Part::role == Role::Part || Part::role == Role::OptionalSlot)
      part(field);
    else if constexpr (Part::role == Role::Optional)
      part(optional(field));
    else if constexpr (Part::role == Role::Implied)
      part(Implied{field});
    else if constexpr (Part::role == Role::Trailing)
      part(trailing(field));
    else if constexpr (Part::role == Role::Inner)
      part(inner(field));
    // Unprinted tokens, heads and `pub` have no place among the parts.
  }

  // A node without brackets: its one part other than an absent head.
  template <class Node, class... Parts>
  void bare(const Node& n, source::PartList<Parts...> list) {
    static_assert(((source::is_head(Parts::role) ? 0 : 1) + ...) == 1, "a bare node prints one part");
    source::for_each_part(list, [&](auto part) {
      using Part = decltype(part);
      if constexpr (!source::is_head(Part::role)) write(Part::of(n));
    });
  }

  // `(head part...)`, or the node bare when its optional head is absent.
  template <class Node, class... Parts>
  void headed(const Node& n, source::PartList<Parts...> list) {
    static_assert(((source::is_head(Parts::role) ? 1 : 0) + ...) == 1, "a token head is one part");
    const TokenRef* head = nullptr;
    source::for_each_part(list, [&](auto part) {
      using Part = decltype(part);
      if constexpr (source::is_head(Part::role)) head = &Part::of(n);
    });
    if constexpr (((Parts::role == source::Role::OptionalHead) || ...)) {
      if (head->is_null()) return bare(n, list);
    }
    out += '(';
    token(*head);
    print_parts(n, list);
    out += ')';
  }

  template <class Node, class... Parts>
  static bool has_pub(const Node& n, source::PartList<Parts...> list) {
    bool pub = false;
    source::for_each_part(list, [&](auto part) {
      using Part = decltype(part);
      if constexpr (Part::role == source::Role::Pub) pub = !Part::of(n).is_null();
    });
    return pub;
  }

  template <class Node, class First, class... Rest>
  static bool opens_with_brace(const Node& n, source::PartList<First, Rest...>) {
    const TokenRef& open = First::of(n);
    return !open.is_null() && open->kind.is_operator(Operator::OpenBrace);
  }

  // A part of a node: a blank, then the child.
  template <class T>
  void part(const T& child) {
    space();
    write(child);
  }
  // A list of children: each one a part.
  template <std::ranges::range List>
  void part(const List& list) {
    for (const auto& item : list) part(item);
  }
  template <class T>
  void part(const ListItem<T>& item) {
    part(item.item);
    part(Implied{item.comma});
  }
  void part(const Implied& implied) {
    if (!implied.token.is_null() && implied.token.is_owned()) part(implied.token);
  }
  template <class T>
  void part(const Optional<T>& child) {
    if (child.node == nullptr) return;
    out += child.lead;
    write(child.node);
  }
  // ` (if condition)` when the case has a guard; the `if` itself never prints.
  void part(const MatchGuard& guard) {
    if (guard.condition == nullptr) return;
    space();
    node("if", guard.condition);
  }
  void part(const SourceDiagnostic& diagnostic) { append_flagged(out, diagnostic); }

  void write(const TokenRef& ref) { token(ref); }
  void write(const Expression* child) { child != nullptr ? expression(*child) : absent(); }
  void write(const Pattern* child) { child != nullptr ? pattern(*child) : absent(); }
  void write(const Statement* child) { child != nullptr ? statement(*child) : absent(); }
  // Where an omitted pattern was left out: `~@position`.
  void write(std::uint64_t position) {
    out += '~';
    append_position(out, position, position);
  }

  // Reached only through optional(), so never null.
  void write(const ParameterList* list) {
    node("params", Implied{list->open}, list->parameters, Implied{list->close});
  }
  void write(const ElseBlock* else_block) { node("else", Implied{else_block->keyword}, else_block->body); }

  void write(const MatchCase& c) { node("case", Implied{c.keyword}, c.pattern, c.guard, c.body); }

  void write(const Callable& c) {
    if (c.expression != nullptr) return expression(*c.expression);
    token(c.token);
  }

  void write(const RangeNode& r) { node(r.op, r.start, r.end); }

  void write(const Iterable& it) {
    if (it.range != nullptr) return write(*it.range);
    write(it.expression);
  }

  template <class T, class S>
  void write(const ArrayElementBase<T, S>& e) {
    if (!e.is_spread()) return write(e.element);
    node(e.spread, e.spread_value());
  }

  template <class T, class K>
  void write(const RecordElementBase<T, K>& e) {
    switch (e.kind) {
      case RecordElementKind::Keyed:
        return node(e.colon, e.key, e.value);
      case RecordElementKind::ExpressionKeyed:
        return node(e.colon, e.key_node, e.value);
      case RecordElementKind::OmittedKey:
        return node(e.colon, e.value);
      case RecordElementKind::Positional:
        return write(e.value);
      case RecordElementKind::Spread:
        return node(e.spread, e.value);
    }
  }

  // `(interp "text" value "text" ...)`: the literal pieces come from the
  // string token, the values from the parsed parts.
  void interpolation(const InterpolationExpression& n) {
    out += "(interp";
    const Token string = n.token.is_null() ? Token{} : *n.token;
    const StringInfo* info = string.kind.tag == TokenTag::InterpolatedString ? string.kind.string : nullptr;
    for (std::size_t i = 0; i < n.parts.size(); ++i) {
      if (info != nullptr && i < info->parts.size()) {
        space();
        append_quoted(out, info->parts[i].text);
      }
      part(n.parts[i]);
    }
    if (info != nullptr && info->parts.size() == n.parts.size() + 1) {
      space();
      append_quoted(out, info->parts.back().text);
    }
    out += ')';
  }
};

// What one Printer call writes.
template <class Print>
std::string printed(Print print) {
  Printer p;
  print(p);
  return std::move(p.out);
}

}  // namespace

std::string dump_token(const Token& token) {
  std::string out;
  append_full_token(out, token, false);
  return out;
}

std::string dump_tokens(const Tokens& tokens) {
  Arena arena;
  const UsingTokens using_tokens(tokens, arena);
  std::string out;
  const TokenRange list = tokens.list();
  for (TokenIndex i = list.begin; i < list.end; ++i) {
    append_full_token(out, tokens.lexed(i, arena), true);
    out += '\n';
  }
  return out;
}

std::string dump_token_ref(const TokenRef& token) {
  return printed([&](Printer& p) { p.token(token); });
}

std::string dump_expression(const Expression& node) {
  return printed([&](Printer& p) { p.expression(node); });
}

std::string dump_pattern(const Pattern& node) {
  return printed([&](Printer& p) { p.pattern(node); });
}

std::string dump_statement(const Statement& node) {
  return printed([&](Printer& p) { p.statement(node); });
}

std::string dump_script(const Script& script) {
  return printed([&](Printer& p) { p.script(script); });
}

std::string dump_diagnostic(const SourceDiagnostic& diagnostic) {
  std::string out(diagnostic_code_name(diagnostic.code));
  append_position(out, diagnostic.start, diagnostic.end);
  return out;
}

std::string dump_diagnostics(std::span<const SourceDiagnostic> diagnostics) {
  std::string out;
  append_separated(out, diagnostics, [&](const SourceDiagnostic& d) { out += dump_diagnostic(d); });
  return out;
}

}  // namespace quendal
