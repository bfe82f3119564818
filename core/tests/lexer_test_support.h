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
#include "lexer/token.h"
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

std::string print_token(const Token& token, bool ranges);

inline std::string print_list(const TokenList* list, bool ranges) {
  std::string out = "[";
  if (list != nullptr) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      if (i > 0) out += ' ';
      out += print_token((*list)[i], ranges);
    }
  }
  return out + "]";
}

inline std::string print_kind(const TokenKind& kind, bool ranges) {
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
        out += print_list(part.tokens, ranges);
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
      out += print_kind(kind.unknown_box->inner, ranges);
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

inline std::string print_token(const Token& token, bool ranges) {
  std::string out = print_kind(token.kind, ranges);
  if (ranges) out += range_text(token.start, token.end);
  return out;
}

inline std::string print_tokens(const TokenList& tokens, bool ranges) {
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (i > 0) out += ' ';
    out += print_token(tokens[i], ranges);
  }
  return out;
}

// Fragments of a string token (looking through Unknown wrappers):
//   Text("a") Escape(t U+0009) Error(InvalidEscapeSequence@2..3)
//   Interp($ [Id(x)] :"fmt" (Op(()..Op())))
inline std::string print_fragments(const StringInfo& info) {
  std::string out;
  for (const StringFragment& f : info.fragments) {
    if (!out.empty()) out += ' ';
    switch (f.kind) {
      case StringFragment::Kind::Text:
        out += "Text(";
        out += quoted(f.text);
        out += ')';
        break;
      case StringFragment::Kind::Escape: {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(f.character));
        out += "Escape(";
        out += f.text;
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
      case StringFragment::Kind::Interpolation:
        out += "Interp(";
        out += f.interpolation->dollar;
        out += ' ';
        out += print_list(f.interpolation->tokens, false);
        if (!f.interpolation->format.empty()) {
          out += " :";
          out += quoted(f.interpolation->format);
        }
        if (f.interpolation->delimiters != nullptr) {
          out += " (";
          out += print_token(f.interpolation->delimiters->open, true);
          out += ' ';
          out += print_token(f.interpolation->delimiters->close, true);
          out += ')';
        }
        out += ")";
        break;
    }
  }
  return out;
}

inline const TokenKind& unwrap(const TokenKind& kind) {
  return kind.tag == TokenTag::Unknown ? unwrap(kind.unknown_box->inner) : kind;
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
