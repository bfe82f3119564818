#include "parser/ast_dump.h"

#include <cinttypes>
#include <cstdio>

#include "diagnostic/diagnostic_code.h"

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
    std::snprintf(buffer, sizeof buffer, "%.17g", kind.number);
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
      std::snprintf(buffer, sizeof buffer, "#invalid(%.17g)", kind.number);
      break;
  }
  out += buffer;
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
      out += kind.text.empty() ? std::string_view("#ident\"\"") : kind.text;
      return;
    case TokenTag::Ordinal:
      out += std::to_string(kind.ordinal);
      return;
    case TokenTag::Number:
      append_number(out, kind);
      return;
    case TokenTag::String:
      append_quoted(out, kind.text);
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

void append_full_kind(std::string& out, const TokenKind& kind);

void append_full_token(std::string& out, const Token& token) {
  append_full_kind(out, token.kind);
  append_position(out, token.start, token.end);
}

void append_full_kind(std::string& out, const TokenKind& kind) {
  switch (kind.tag) {
    case TokenTag::Eof:
      out += "Eof";
      return;
    case TokenTag::Empty:
      out += "Empty";
      return;
    case TokenTag::Identifier:
      out += "Identifier(";
      out += kind.text;
      out += ')';
      return;
    case TokenTag::Ordinal:
      out += "Ordinal(" + std::to_string(kind.ordinal) + ")";
      return;
    case TokenTag::Number: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", kind.number);
      out += "Number(";
      out += buffer;
      out += ' ';
      append_number(out, kind);
      out += ')';
      return;
    }
    case TokenTag::String:
      out += "String(";
      append_quoted(out, kind.text);
      if (kind.string != nullptr && kind.string->raw_level > 0 && kind.string->quote != 0)
        out += " raw=" + std::to_string(kind.string->raw_level);
      out += ')';
      return;
    case TokenTag::InterpolatedString: {
      out += "InterpolatedString(";
      if (kind.string != nullptr) {
        bool first = true;
        for (const StringPart& part : kind.string->parts) {
          if (!first) out += ' ';
          first = false;
          append_quoted(out, part.text);
          if (part.tokens != nullptr && !part.tokens->empty()) {
            out += " {";
            bool first_token = true;
            for (const Token& t : *part.tokens) {
              if (!first_token) out += ' ';
              first_token = false;
              append_full_token(out, t);
            }
            out += '}';
          }
          if (!part.format.empty()) {
            out += " :";
            append_quoted(out, part.format);
          }
        }
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
        append_full_kind(out, kind.unknown_box->inner);
        for (const SourceDiagnostic& d : kind.unknown_box->diagnostics) {
          out += " !";
          out += diagnostic_code_name(d.code);
          append_position(out, d.start, d.end);
        }
      }
      out += ')';
      return;
  }
}

class Printer {
 public:
  std::string out;

  void space() { out += ' '; }

  void token(const TokenRef& ref) {
    if (ref.is_null()) {
      out += '~';
      return;
    }
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

  // Implied punctuation: printed only when the tree owns it.
  void extra(const TokenRef& ref) {
    if (!ref.is_null() && ref.is_owned()) {
      space();
      token(ref);
    }
  }

  void diagnostics(const ArenaDiagnostics& list) {
    for (const SourceDiagnostic& d : list) {
      out += " !";
      out += dump_diagnostic(d);
    }
  }

  void unknown_head(SourceRange range) {
    out += "(unknown";
    append_position(out, range.start, range.end);
  }

  void expression(const Expression* node) {
    if (node == nullptr) {
      out += '~';
      return;
    }
    const Expression& e = *node;
    switch (e.kind) {
      case ExpressionKind::Literal:
        token(e.as<LiteralExpression>().token);
        return;
      case ExpressionKind::Interpolation: {
        const auto& n = e.as<InterpolationExpression>();
        out += "(interp";
        const StringInfo* info = n.token != nullptr && n.token->kind.tag == TokenTag::InterpolatedString
                                     ? n.token->kind.string
                                     : nullptr;
        for (std::size_t i = 0; i < n.parts.size(); ++i) {
          if (info != nullptr && i < info->parts.size()) {
            space();
            append_quoted(out, info->parts[i].text);
          }
          space();
          expression(n.parts[i]);
        }
        if (info != nullptr && info->parts.size() == n.parts.size() + 1) {
          space();
          append_quoted(out, info->parts.back().text);
        }
        out += ')';
        return;
      }
      case ExpressionKind::Variable:
        token(e.as<VariableExpression>().token);
        return;
      case ExpressionKind::Group: {
        const auto& n = e.as<GroupExpression>();
        out += "(group";
        extra(n.open);
        space();
        expression(n.expression);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::Record: {
        const auto& n = e.as<RecordExpression>();
        const bool json = !n.open.is_null() && n.open->kind.is_operator(Operator::OpenBrace);
        out += json ? "(json" : "(record";
        extra(n.open);
        for (const auto& item : n.elements) list_item(item);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::Array: {
        const auto& n = e.as<ArrayExpression>();
        out += "(array";
        extra(n.open);
        for (const auto& item : n.elements) list_item(item);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::Call: {
        const auto& n = e.as<CallExpression>();
        out += "(call ";
        callable(n.callee);
        extra(n.open);
        for (const auto& item : n.arguments) list_item(item);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::TaggedString: {
        const auto& n = e.as<TaggedStringExpression>();
        out += "(tagged ";
        expression(n.tag);
        space();
        expression(n.string);
        out += ')';
        return;
      }
      case ExpressionKind::ExtensionCall: {
        const auto& n = e.as<ExtensionCallExpression>();
        out += "(ext ";
        expression(n.receiver);
        extra(n.separator);
        space();
        callable(n.callee);
        extra(n.open);
        for (const auto& item : n.arguments) list_item(item);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::FieldAccess: {
        const auto& n = e.as<FieldAccessExpression>();
        out += "(. ";
        expression(n.object);
        extra(n.dot);
        space();
        token(n.name);
        out += ')';
        return;
      }
      case ExpressionKind::IndexAccess: {
        const auto& n = e.as<IndexAccessExpression>();
        out += "(index ";
        expression(n.object);
        extra(n.open);
        space();
        expression(n.index);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::SliceAccess: {
        const auto& n = e.as<SliceAccessExpression>();
        out += "(slice ";
        expression(n.object);
        extra(n.open);
        space();
        expression(n.start);
        space();
        token(n.op);
        space();
        expression(n.end);
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::NonNilAssertion: {
        const auto& n = e.as<NonNilAssertionExpression>();
        out += "(nonnil ";
        expression(n.operand);
        extra(n.op);
        out += ')';
        return;
      }
      case ExpressionKind::Prefix: {
        const auto& n = e.as<PrefixExpression>();
        out += '(';
        token(n.op);
        space();
        expression(n.operand);
        out += ')';
        return;
      }
      case ExpressionKind::Binary: {
        const auto& n = e.as<BinaryExpression>();
        out += '(';
        token(n.op);
        space();
        expression(n.left);
        space();
        expression(n.right);
        out += ')';
        return;
      }
      case ExpressionKind::IsPattern: {
        const auto& n = e.as<IsPatternExpression>();
        out += "(is ";
        expression(n.value);
        extra(n.op);
        space();
        pattern(n.pattern);
        out += ')';
        return;
      }
      case ExpressionKind::Block:
        block(e.as<BlockExpression>());
        return;
      case ExpressionKind::Loop: {
        const auto& n = e.as<LoopExpression>();
        out += "(loop ";
        expression(n.body);
        out += ')';
        return;
      }
      case ExpressionKind::While: {
        const auto& n = e.as<WhileExpression>();
        out += "(while ";
        expression(n.condition);
        space();
        expression(n.body);
        else_block(n.else_block);
        out += ')';
        return;
      }
      case ExpressionKind::ForIn: {
        const auto& n = e.as<ForInExpression>();
        out += "(for ";
        pattern(n.pattern);
        extra(n.in);
        space();
        iterable(n.iterable);
        space();
        expression(n.body);
        else_block(n.else_block);
        out += ')';
        return;
      }
      case ExpressionKind::If: {
        const auto& n = e.as<IfExpression>();
        out += "(if ";
        expression(n.condition);
        space();
        expression(n.body);
        else_block(n.else_block);
        out += ')';
        return;
      }
      case ExpressionKind::Conditional: {
        const auto& n = e.as<ConditionalExpression>();
        out += "(? ";
        expression(n.condition);
        space();
        expression(n.then);
        extra(n.colon);
        space();
        expression(n.otherwise);
        out += ')';
        return;
      }
      case ExpressionKind::Match: {
        const auto& n = e.as<MatchExpression>();
        out += "(match ";
        expression(n.subject);
        extra(n.open);
        for (const MatchCase& c : n.cases) {
          out += " (case";
          extra(c.keyword);
          space();
          pattern(c.pattern);
          if (c.guard.condition != nullptr) {
            out += " (if ";
            expression(c.guard.condition);
            out += ')';
          }
          space();
          expression(c.body);
          out += ')';
        }
        extra(n.close);
        out += ')';
        return;
      }
      case ExpressionKind::FunctionLiteral: {
        const auto& n = e.as<FunctionLiteralExpression>();
        out += "(lambda ";
        if (n.parameters != nullptr) {
          parameters(*n.parameters);
          space();
        }
        expression(n.body);
        out += ')';
        return;
      }
      case ExpressionKind::Unknown: {
        const auto& n = e.as<UnknownExpression>();
        unknown_head(range_of(e));
        for (const TokenRef& t : n.tokens) {
          space();
          token(t);
        }
        if (n.inner != nullptr) {
          out += " inner=";
          expression(n.inner);
        }
        diagnostics(n.diagnostics);
        out += ')';
        return;
      }
    }
    out += "#bad-expression";
  }

  void pattern(const Pattern* node) {
    if (node == nullptr) {
      out += '~';
      return;
    }
    const Pattern& p = *node;
    switch (p.kind) {
      case PatternKind::Group: {
        const auto& n = p.as<GroupPattern>();
        out += "(group";
        extra(n.open);
        space();
        pattern(n.pattern);
        extra(n.close);
        out += ')';
        return;
      }
      case PatternKind::Literal: {
        const auto& n = p.as<LiteralPattern>();
        if (n.sign.is_null()) {
          token(n.literal);
          return;
        }
        out += '(';
        token(n.sign);
        space();
        token(n.literal);
        out += ')';
        return;
      }
      case PatternKind::ConstantName:
        token(p.as<ConstantNamePattern>().name);
        return;
      case PatternKind::Comparison: {
        const auto& n = p.as<ComparisonPattern>();
        out += '(';
        token(n.op);
        space();
        pattern(n.operand);
        out += ')';
        return;
      }
      case PatternKind::Interval: {
        const auto& n = p.as<IntervalPattern>();
        out += '(';
        token(n.op);
        space();
        pattern(n.start);
        space();
        pattern(n.end);
        out += ')';
        return;
      }
      case PatternKind::Discard:
        token(p.as<DiscardPattern>().token);
        return;
      case PatternKind::Binding: {
        const auto& n = p.as<BindingPattern>();
        if (n.mut.is_null()) {
          token(n.name);
          return;
        }
        out += '(';
        token(n.mut);
        space();
        token(n.name);
        out += ')';
        return;
      }
      case PatternKind::Record: {
        const auto& n = p.as<RecordPattern>();
        out += "(record";
        extra(n.open);
        for (const auto& item : n.elements) list_item(item);
        extra(n.close);
        out += ')';
        return;
      }
      case PatternKind::Array: {
        const auto& n = p.as<ArrayPattern>();
        out += "(array";
        extra(n.open);
        for (const auto& item : n.elements) list_item(item);
        extra(n.close);
        out += ')';
        return;
      }
      case PatternKind::Omitted: {
        const std::uint64_t position = p.as<OmittedPattern>().position;
        out += '~';
        append_position(out, position, position);
        return;
      }
      case PatternKind::And:
      case PatternKind::Or: {
        const Pattern* left = p.kind == PatternKind::And ? p.as<AndPattern>().left : p.as<OrPattern>().left;
        const Pattern* right =
            p.kind == PatternKind::And ? p.as<AndPattern>().right : p.as<OrPattern>().right;
        const TokenRef& op = p.kind == PatternKind::And ? p.as<AndPattern>().op : p.as<OrPattern>().op;
        out += '(';
        token(op);
        space();
        pattern(left);
        space();
        pattern(right);
        out += ')';
        return;
      }
      case PatternKind::Not: {
        const auto& n = p.as<NotPattern>();
        out += '(';
        token(n.op);
        space();
        pattern(n.pattern);
        out += ')';
        return;
      }
      case PatternKind::Unknown: {
        const auto& n = p.as<UnknownPattern>();
        unknown_head(range_of(p));
        for (const TokenRef& t : n.tokens) {
          space();
          token(t);
        }
        if (n.inner != nullptr) {
          out += " inner=";
          pattern(n.inner);
        }
        diagnostics(n.diagnostics);
        out += ')';
        return;
      }
    }
    out += "#bad-pattern";
  }

  void statement(const Statement* node) {
    if (node == nullptr) {
      out += '~';
      return;
    }
    const Statement& s = *node;
    switch (s.kind) {
      case StatementKind::Empty:
        out += "(empty";
        extra(s.as<EmptyStatement>().semicolon);
        out += ')';
        return;
      case StatementKind::ExpressionStatement: {
        const auto& n = s.as<ExpressionStatement>();
        out += "(expr ";
        expression(n.expression);
        extra(n.semicolon);
        out += ')';
        return;
      }
      case StatementKind::BareExpression:
        out += "(bare ";
        expression(s.as<BareExpressionStatement>().expression);
        out += ')';
        return;
      case StatementKind::Module: {
        const auto& n = s.as<ModuleStatement>();
        out += n.pub.is_null() ? "(mod" : "(pub mod";
        extra(n.keyword);
        space();
        token(n.name);
        space();
        expression(n.body);
        out += ')';
        return;
      }
      case StatementKind::Bind: {
        const auto& n = s.as<BindStatement>();
        out += n.pub.is_null() ? "(let" : "(pub let";
        extra(n.keyword);
        space();
        pattern(n.pattern);
        extra(n.op);
        space();
        expression(n.value);
        extra(n.semicolon);
        out += ')';
        return;
      }
      case StatementKind::Rebind: {
        const auto& n = s.as<RebindStatement>();
        out += "(rebind ";
        pattern(n.pattern);
        extra(n.op);
        space();
        expression(n.value);
        extra(n.semicolon);
        out += ')';
        return;
      }
      case StatementKind::Const: {
        const auto& n = s.as<ConstStatement>();
        out += n.pub.is_null() ? "(const" : "(pub const";
        extra(n.keyword);
        space();
        token(n.name);
        extra(n.op);
        space();
        expression(n.value);
        extra(n.semicolon);
        out += ')';
        return;
      }
      case StatementKind::Assign: {
        const auto& n = s.as<AssignStatement>();
        out += '(';
        token(n.op);
        space();
        expression(n.target);
        space();
        expression(n.value);
        extra(n.semicolon);
        out += ')';
        return;
      }
      case StatementKind::Function: {
        const auto& n = s.as<FunctionStatement>();
        out += n.pub.is_null() ? "(fn" : "(pub fn";
        extra(n.keyword);
        space();
        token(n.name);
        if (n.parameters != nullptr) {
          space();
          parameters(*n.parameters);
        }
        space();
        expression(n.body);
        out += ')';
        return;
      }
      case StatementKind::Return:
      case StatementKind::Break: {
        const bool is_return = s.kind == StatementKind::Return;
        const TokenRef& keyword =
            is_return ? s.as<ReturnStatement>().keyword : s.as<BreakStatement>().keyword;
        const Expression* value = is_return ? s.as<ReturnStatement>().value : s.as<BreakStatement>().value;
        const TokenRef& semicolon =
            is_return ? s.as<ReturnStatement>().semicolon : s.as<BreakStatement>().semicolon;
        out += is_return ? "(return" : "(break";
        extra(keyword);
        if (value != nullptr) {
          space();
          expression(value);
        }
        extra(semicolon);
        out += ')';
        return;
      }
      case StatementKind::Continue: {
        const auto& n = s.as<ContinueStatement>();
        out += "(continue";
        extra(n.keyword);
        extra(n.semicolon);
        out += ')';
        return;
      }
      case StatementKind::Unknown: {
        const auto& n = s.as<UnknownStatement>();
        unknown_head(range_of(s));
        for (const TokenRef& t : n.tokens) {
          space();
          token(t);
        }
        diagnostics(n.diagnostics);
        out += ')';
        return;
      }
    }
    out += "#bad-statement";
  }

  void parameters(const ParameterList& list) {
    out += "(params";
    extra(list.open);
    for (const auto& item : list.parameters) list_item(item);
    extra(list.close);
    out += ')';
  }

  void block(const BlockExpression& n) {
    out += "(block";
    extra(n.open);
    for (const Statement* s : n.statements) {
      space();
      statement(s);
    }
    if (n.expression != nullptr) {
      out += " => ";
      expression(n.expression);
    }
    extra(n.close);
    out += ')';
  }

 private:
  void else_block(const ElseBlock* node) {
    if (node == nullptr) return;
    out += " (else";
    extra(node->keyword);
    space();
    expression(node->body);
    out += ')';
  }

  void callable(const Callable& c) {
    if (c.expression != nullptr)
      expression(c.expression);
    else
      token(c.token);
  }

  void range(const RangeNode& r) {
    out += '(';
    token(r.op);
    space();
    expression(r.start);
    space();
    expression(r.end);
    out += ')';
  }

  void iterable(const Iterable& it) {
    if (it.range != nullptr)
      range(*it.range);
    else
      expression(it.expression);
  }

  template <class T>
  void list_item(const ListItem<T>& item) {
    space();
    element(item.item);
    extra(item.comma);
  }

  void spread(const TokenRef& token_ref) {
    out += '(';
    token(token_ref);
    space();
  }

  void element(const ArrayElement& e) {
    if (!e.is_spread()) return iterable(e.element);
    spread(e.spread);
    expression(e.spread_value);
    out += ')';
  }
  void element(const ArgumentElement& e) {
    if (!e.is_spread()) return expression(e.element);
    spread(e.spread);
    expression(e.spread_value);
    out += ')';
  }
  void element(const PatternElement& e) {
    if (!e.is_spread()) return pattern(e.element);
    spread(e.spread);
    pattern(e.spread_value);
    out += ')';
  }

  void value(const Expression* v) { expression(v); }
  void value(const Pattern* v) { pattern(v); }

  template <class V, class K>
  void element(const RecordElementBase<V, K>& e) {
    switch (e.kind) {
      case RecordElementKind::Keyed:
        out += '(';
        token(e.colon);
        space();
        token(e.key);
        space();
        value(e.value);
        out += ')';
        return;
      case RecordElementKind::ExpressionKeyed:
        out += '(';
        token(e.colon);
        space();
        expression(e.key_node);
        space();
        value(e.value);
        out += ')';
        return;
      case RecordElementKind::OmittedKey:
        out += '(';
        token(e.colon);
        space();
        value(e.value);
        out += ')';
        return;
      case RecordElementKind::Positional:
        value(e.value);
        return;
      case RecordElementKind::Spread:
        spread(e.spread);
        value(e.value);
        out += ')';
        return;
    }
  }
};

}  // namespace

std::string dump_token(const Token& token) {
  std::string out;
  append_full_token(out, token);
  return out;
}

std::string dump_tokens(std::span<const Token> tokens) {
  std::string out;
  for (const Token& t : tokens) {
    append_full_token(out, t);
    out += '\n';
  }
  return out;
}

std::string dump_token_ref(const TokenRef& token) {
  Printer p;
  p.token(token);
  return std::move(p.out);
}

std::string dump_expression(const Expression& node) {
  Printer p;
  p.expression(&node);
  return std::move(p.out);
}

std::string dump_pattern(const Pattern& node) {
  Printer p;
  p.pattern(&node);
  return std::move(p.out);
}

std::string dump_statement(const Statement& node) {
  Printer p;
  p.statement(&node);
  return std::move(p.out);
}

std::string dump_script(const Script& script) {
  Printer p;
  p.out += "(script";
  for (const Statement* s : script.statements) {
    p.space();
    p.statement(s);
  }
  if (script.expression != nullptr) {
    p.out += " => ";
    p.expression(script.expression);
  }
  p.extra(script.eof);
  p.out += ')';
  return std::move(p.out);
}

std::string dump_diagnostic(const SourceDiagnostic& diagnostic) {
  std::string out(diagnostic_code_name(diagnostic.code));
  append_position(out, diagnostic.start, diagnostic.end);
  return out;
}

std::string dump_diagnostics(std::span<const SourceDiagnostic> diagnostics) {
  std::string out;
  for (const SourceDiagnostic& d : diagnostics) {
    if (!out.empty()) out += ' ';
    out += dump_diagnostic(d);
  }
  return out;
}

}  // namespace quendal
