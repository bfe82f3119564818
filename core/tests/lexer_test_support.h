#pragma once
// Compact printed forms of tokens for the lexer tests.
//
//   Id(x) Kw(let) Op(+) Ord(7) Num(1.5 Decimal(1.5)) Str("a\tb")
//   Interp("n = " [Id(n)] "!" [])        parts: text, then tokens (and :"format")
//   Unknown(Empty !UnknownToken@2..3)    inner kind, then its diagnostics
//   Eof Empty
// With ranges, every token is followed by @start..end.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "diagnostic/diagnostic_code.h"
#include "lexer/lex.h"
#include "lexer/tokens.h"
#include "support/arena.h"

namespace quendal::testing {

inline std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

inline std::string number_text(double value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

inline std::string range_text(std::uint64_t start, std::uint64_t end) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "@%llu..%llu", static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(end));
  return buffer;
}

std::string print_token(const Token& token, bool ranges, bool lexed = true);

// A list of the store in use, each token as the lexer read it (`lexed`) or
// as recovery left it.
inline std::string print_list(TokenRange list, bool ranges, bool lexed = true) {
  const Tokens& tokens = tokens_in_use();
  Arena arena;
  std::string out = "[";
  for (TokenIndex i = list.begin; i < list.end; ++i) {
    if (i > list.begin) out += ' ';
    out += print_token(lexed ? tokens.lexed(i, arena) : tokens.get(i), ranges, lexed);
  }
  return out + "]";
}

inline std::string print_kind(const TokenKind& kind, bool ranges, bool lexed = true) {
  std::string out;
  switch (kind.tag) {
    case TokenTag::Eof:
      out += "Eof";
      break;
    case TokenTag::Empty:
      out += "Empty";
      break;
    case TokenTag::Identifier:
      out += "Id(";
      out += kind.text();
      out += ')';
      break;
    case TokenTag::Ordinal:
      out += "Ord(";
      out += std::to_string(kind.ordinal);
      out += ')';
      break;
    case TokenTag::Operator:
      out += "Op(";
      out += operator_spelling(kind.op);
      out += ')';
      break;
    case TokenTag::Keyword:
      out += "Kw(";
      out += keyword_spelling(kind.keyword);
      out += ')';
      break;
    case TokenTag::Number: {
      out += "Num(";
      out += number_text(kind.number());
      out += ' ';
      const NumberInfo& info = *kind.number_info;
      switch (info.kind) {
        case NumberInfo::Kind::Invalid:
          out += "Invalid";
          break;
        case NumberInfo::Kind::Decimal:
          out += "Decimal(";
          out += info.decimal;
          out += ')';
          break;
        case NumberInfo::Kind::Hex:
          out += "Hex";
          break;
        case NumberInfo::Kind::Octal:
          out += "Octal";
          break;
        case NumberInfo::Kind::Binary:
          out += "Binary";
          break;
      }
      if (info.kind != NumberInfo::Kind::Invalid && info.kind != NumberInfo::Kind::Decimal) {
        out += '(';
        out += std::to_string(info.integer);
        out += ')';
      }
      out += ')';
      break;
    }
    case TokenTag::String:
      out += "Str(";
      out += quoted(kind.text());
      out += ')';
      break;
    case TokenTag::InterpolatedString: {
      out += "Interp(";
      bool first = true;
      for (const StringPart& part : kind.string->parts) {
        if (!first) out += ' ';
        first = false;
        out += quoted(part.text);
        out += ' ';
        out += print_list(part.tokens, ranges, lexed);
        if (!part.format.empty()) {
          out += ':';
          out += quoted(part.format);
        }
      }
      out += ')';
      break;
    }
    case TokenTag::Unknown: {
      out += "Unknown(";
      out += print_kind(kind.unknown_box->inner, ranges, lexed);
      for (const SourceDiagnostic& d : kind.unknown_box->diagnostics) {
        out += " !";
        out += diagnostic_code_name(d.code);
        out += range_text(d.start, d.end);
      }
      out += ')';
      break;
    }
  }
  return out;
}

inline std::string print_token(const Token& token, bool ranges, bool lexed) {
  std::string out = print_kind(token.kind, ranges, lexed);
  if (ranges) out += range_text(token.start, token.end);
  return out;
}

// The store's own list, each token as the lexer read it (`lexed`) or as
// recovery left it.
inline std::string print_tokens(const Tokens& tokens, bool ranges, bool lexed = true) {
  Arena arena;
  const UsingTokens using_tokens(tokens, arena);
  std::string out;
  const TokenRange list = tokens.list();
  for (TokenIndex i = list.begin; i < list.end; ++i) {
    if (i > list.begin) out += ' ';
    out += print_token(lexed ? tokens.lexed(i, arena) : tokens.get(i), ranges, lexed);
  }
  return out;
}

// Fragments of a string token of the store in use (looking through Unknown
// wrappers):
//   Text("a") Escape(t U+0009) Error(InvalidEscapeSequence@2..3)
//   Interp($ [Id(x)] :"fmt" (Op(()..Op())))
inline std::string print_fragments(const StringInfo& info) {
  const Tokens& tokens = tokens_in_use();
  const std::string_view source = tokens.source();
  auto text = [&](std::uint32_t start, std::uint32_t end) { return source.substr(start, end - start); };
  auto delimiter = [&](const Delimiter& d) {
    Token t;
    t.kind.tag = d.tag;
    if (d.tag == TokenTag::Operator) t.kind.op = d.op;
    t.start = d.start;
    t.end = d.end;
    return print_token(t, true);
  };
  std::string out;
  for (const StringFragment& f : info.fragments) {
    if (!out.empty()) out += ' ';
    switch (f.kind) {
      case StringFragment::Kind::Text:
        out += "Text(";
        out += quoted(text(f.start, f.end));
        out += ')';
        break;
      case StringFragment::Kind::Escape: {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(f.character()));
        out += "Escape(";
        out += text(f.start, f.end);
        out += ' ';
        out += buffer;
        out += ')';
        break;
      }
      case StringFragment::Kind::Error:
        out += "Error(";
        out += diagnostic_code_name(f.code);
        out += range_text(f.start, f.end);
        out += ')';
        break;
      case StringFragment::Kind::Interpolation: {
        const StringInterpolation& interpolation = tokens.interpolations()[f.value];
        out += "Interp(";
        out += text(interpolation.dollar_start, interpolation.dollar_end);
        out += ' ';
        out += print_list(interpolation.tokens, false);
        if (interpolation.format_end > interpolation.format_start) {
          out += " :";
          out += quoted(text(interpolation.format_start, interpolation.format_end));
        }
        if (interpolation.has_delimiters) {
          out += " (";
          out += delimiter(interpolation.open);
          out += ' ';
          out += delimiter(interpolation.close);
          out += ')';
        }
        out += ")";
        break;
      }
    }
  }
  return out;
}

inline TokenKind unwrap(const TokenKind& kind) {
  return kind.tag == TokenTag::Unknown ? unwrap(kind.unknown_box->inner) : kind;
}

// Token `i` of a lex result's own list, as the lexer read it (Unknown boxes
// in a scratch arena that lives as long as the thread).
inline Token lexed_token(const LexResult& r, TokenIndex i) {
  static thread_local Arena arena;
  return r.tokens.lexed(r.tokens.list().begin + i, arena);
}

// Lexes a script (or a template) and prints it.
inline std::string lex_print(std::string_view source, bool ranges = false, bool tmpl = false) {
  Arena arena;
  CompileConfig config;
  LexResult r = tmpl ? lex_string(source, config, arena) : lex(source, config, arena);
  if (!r.ok) return std::string("failed").append(range_text(r.stop_offset, r.stop_offset));
  return print_tokens(r.tokens, ranges);
}

}  // namespace quendal::testing
