#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "lexer/identifier.h"
#include "lexer/lexer.h"

namespace quendal::lexer {

namespace {

constexpr std::int32_t kMaxOrdinal = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kMaxInteger = std::numeric_limits<std::uint64_t>::max();

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return -1;
}

bool is_exponent_letter(int c) { return c == 'e' || c == 'E'; }
bool is_sign(int c) { return c == '+' || c == '-'; }

// A token's reading with its wrapper levels, innermost first: each level
// carries one diagnostic over the whole literal.
struct Reading {
  TokenTag tag = TokenTag::Empty;
  std::uint32_t data = 0;
  DiagnosticCode codes[3] = {};
  int levels = 0;
  void wrap(DiagnosticCode code) { codes[levels++] = code; }
};

Lexed lexed_of(Lexer& lx, const Reading& r, std::uint32_t start, std::uint32_t end) {
  Lexed t;
  t.tag = r.tag;
  t.data = r.data;
  if (r.levels > 0) {
    t.diag_count = static_cast<std::uint32_t>(r.levels);
    for (int k = r.levels - 1; k >= 0; --k) {
      const std::uint32_t index =
          lx.diagnostic(start, end, r.codes[k], static_cast<std::uint8_t>(r.levels - 1 - k));
      if (k == r.levels - 1) t.diag_first = index;
    }
  }
  return t;
}

std::uint32_t add_number(Lexer& lx, const NumberInfo& info) {
  auto& numbers = lx.out.numbers();
  numbers.push_back(info);
  return static_cast<std::uint32_t>(numbers.size() - 1);
}

Reading ordinal_reading(std::string_view text);

// The value of `text` when it is a plain ordinal: digits only, no leading
// zero (except "0" itself) and at most 2147483647. This is exactly when
// `handle_ordinal` gives an unwrapped ordinal.
std::optional<std::int32_t> plain_ordinal(std::string_view text) {
  if (text == "0") return 0;
  if (text.empty() || text[0] == '0' || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > static_cast<std::uint64_t>(kMaxOrdinal)) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Run of identifier-continuation characters that stops before `e` and `E`:
// the fraction of a decimal literal.
std::size_t fraction_run(std::string_view s, std::size_t pos) {
  std::size_t end = pos;
  while (end < s.size() && !is_exponent_letter(s[end])) {
    const std::size_t n = continuation_run(s.substr(0, end + utf8_length_at(s, end)), end);
    if (n == 0) break;
    end += n;
  }
  return end - pos;
}

// Whether an out-of-range decimal text is too large (rather than too small)
// for a double: the position of its first significant digit plus its
// exponent decides. `text` holds digits, at most one `.`, and an exponent.
bool is_too_large(std::string_view text) {
  const std::size_t e = text.find_first_of("eE");
  const std::string_view mantissa = text.substr(0, e);
  std::int64_t exponent = 0;
  if (e != std::string_view::npos) {
    std::size_t i = e + 1;
    bool negative = false;
    if (i < text.size() && is_sign(text[i])) negative = text[i++] == '-';
    for (; i < text.size(); ++i) {
      if (exponent < 1'000'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  const std::size_t dot = mantissa.find('.');
  const std::size_t integer_digits = dot == std::string_view::npos ? mantissa.size() : dot;
  std::int64_t index = 0;  // index of the first non-zero digit among all digits
  for (char c : mantissa) {
    if (c == '.') continue;
    if (c != '0') break;
    ++index;
  }
  // Decimal exponent of the leading significant digit.
  const std::int64_t leading = static_cast<std::int64_t>(integer_digits) - 1 - index + exponent;
  return leading >= 0;
}

Lexed radix_literal(Lexer& lx, std::string_view word, std::uint32_t start, std::uint32_t end) {
  unsigned base;
  NumberInfo::Kind info_kind;
  switch (word[1]) {
    case 'b':
    case 'B':
      base = 2, info_kind = NumberInfo::Kind::Binary;
      break;
    case 'o':
    case 'O':
      base = 8, info_kind = NumberInfo::Kind::Octal;
      break;
    default:
      base = 16, info_kind = NumberInfo::Kind::Hex;
      break;
  }
  bool invalid = false, any_digit = false, overflow = false;
  std::uint64_t value = 0;
  for (char c : word.substr(2)) {
    if (c == '_') continue;
    const int d = digit_value(c);
    if (d < 0 || static_cast<unsigned>(d) >= base) {
      invalid = true;
      continue;
    }
    any_digit = true;
    if (overflow) continue;
    if (value > (kMaxInteger - static_cast<unsigned>(d)) / base) {
      overflow = true;
    } else {
      value = value * base + static_cast<unsigned>(d);
    }
  }
  if (!any_digit) invalid = true;
  const std::uint64_t integer = (!any_digit || overflow) ? kMaxInteger : value;
  NumberInfo info;
  info.kind = info_kind;
  info.integer = integer;
  info.value = static_cast<double>(integer);
  Reading r;
  r.tag = TokenTag::Number;
  r.data = add_number(lx, info);
  if (invalid) {
    r.wrap(DiagnosticCode::InvalidNumberLiteral);
  } else if (overflow) {
    r.wrap(DiagnosticCode::OverflowIntegerLiteral);
  } else if (word.back() == '_') {
    r.wrap(DiagnosticCode::InvalidNumberLiteralUnderscore);
  }
  return lexed_of(lx, r, start, end);
}

Lexed decimal_literal(Lexer& lx, std::string_view literal, std::uint32_t start, std::uint32_t end) {
  bool invalid_chars = false, needs_copy = false;
  for (char c : literal) {
    if ((c >= '0' && c <= '9') || c == '.' || is_sign(c) || is_exponent_letter(c)) continue;
    needs_copy = true;
    if (c != '_') invalid_chars = true;
  }
  std::string_view text = literal;
  if (needs_copy) {
    lx.scratch.clear();
    for (char c : literal) {
      if ((c >= '0' && c <= '9') || c == '.' || is_sign(c) || is_exponent_letter(c)) lx.scratch.push_back(c);
    }
    text = lx.scratch;
  }
  double value = 0;
  const char* text_end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), text_end, value);
  bool parsed = false;
  if (result.ptr == text_end && !text.empty()) {
    if (result.ec == std::errc()) {
      parsed = true;
    } else if (result.ec == std::errc::result_out_of_range) {
      parsed = true;
      value = is_too_large(text) ? std::numeric_limits<double>::infinity() : 0.0;
    }
  }
  NumberInfo info;
  Reading r;
  r.tag = TokenTag::Number;
  if (invalid_chars || !parsed) {
    info.value = parsed ? value : 0.0;
    r.wrap(DiagnosticCode::InvalidNumberLiteral);
  } else if (literal.front() == '_' || literal.back() == '_') {
    info.value = value;
    r.wrap(DiagnosticCode::InvalidNumberLiteralUnderscore);
  } else if (std::isinf(value)) {
    info.value = value;
    r.wrap(DiagnosticCode::OverflowNumberLiteral);
  } else {
    info.kind = NumberInfo::Kind::Decimal;
    info.decimal = literal;
    info.value = value;
  }
  r.data = add_number(lx, info);
  return lexed_of(lx, r, start, end);
}

Reading ordinal_reading(std::string_view text) {
  Reading r;
  r.tag = TokenTag::Ordinal;
  if (text == "0") return r;
  bool valid = true, has_underscore = false, any_digit = false, overflow = false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      any_digit = true;
      const unsigned d = static_cast<unsigned>(c - '0');
      if (overflow) continue;
      if (value > (kMaxInteger - d) / 10) {
        overflow = true;
      } else {
        value = value * 10 + d;
      }
    } else if (c == '_') {
      has_underscore = true;
    } else {
      valid = false;
    }
  }
  const bool leading_zero = !text.empty() && text.front() == '0';
  const bool edge_underscore = !text.empty() && (text.front() == '_' || text.back() == '_');
  if (!any_digit || overflow || value > static_cast<std::uint64_t>(kMaxOrdinal)) {
    r.data = static_cast<std::uint32_t>(kMaxOrdinal);
    r.wrap(DiagnosticCode::InvalidOrdinalLiteral);
  } else {
    r.data = static_cast<std::uint32_t>(value);
    if (has_underscore || leading_zero) r.wrap(DiagnosticCode::InvalidOrdinalLiteral);
  }
  if (!valid) {
    r.wrap(DiagnosticCode::InvalidNumberLiteral);
  } else if (edge_underscore) {
    r.wrap(DiagnosticCode::InvalidNumberLiteralUnderscore);
  }
  return r;
}

}  // namespace

TokenKind handle_ordinal(Arena& arena, std::string_view text, std::uint32_t start, std::uint32_t end) {
  const Reading r = ordinal_reading(text);
  TokenKind kind = TokenKind::of_ordinal(static_cast<std::int32_t>(r.data));
  for (int k = 0; k < r.levels; ++k) kind = TokenKind::unknown(arena, kind, start, end, r.codes[k]);
  return kind;
}

// ordinal -> word
Lexed ordinal(Lexer& lx) {
  const std::size_t start = lx.pos;
  lx.pos += continuation_run(lx.source, start);
  return lexed_of(lx, ordinal_reading(lx.source.substr(start, lx.pos - start)),
                  static_cast<std::uint32_t>(start), lx.offset());
}

// number -> radix literal | word [fraction] [exponent]
Lexed number(Lexer& lx) {
  const std::string_view s = lx.source;
  const std::size_t start = lx.pos;

  // The usual case first: a few digits and then a character that cannot
  // continue the literal. Ten digits at most, no leading zero: an ordinal
  // when it fits in 31 bits.
  {
    std::size_t p = start;
    std::uint64_t value = 0;
    while (p < lx.size && p - start < 11 && is_digit(static_cast<unsigned char>(s[p]))) {
      value = value * 10 + static_cast<unsigned>(s[p] - '0');
      ++p;
    }
    const int next = p < lx.size ? static_cast<unsigned char>(s[p]) : -1;
    const bool word_ends = next < 0 || (next < 0x80 && (kAsciiIdentifier[next] & 2) == 0 && next != '.');
    if (word_ends && p - start <= 10 && (s[start] != '0' || p - start == 1) &&
        value <= static_cast<std::uint64_t>(kMaxOrdinal)) {
      lx.pos = p;
      Lexed t;
      t.tag = TokenTag::Ordinal;
      t.data = static_cast<std::uint32_t>(value);
      return t;
    }
  }

  const std::size_t word_end = start + continuation_run(s, start);
  const std::string_view word = s.substr(start, word_end - start);

  if (word.size() >= 2 && word[0] == '0' && std::strchr("bBoOxX", word[1]) != nullptr) {
    lx.pos = word_end;
    return radix_literal(lx, word, static_cast<std::uint32_t>(start), lx.offset());
  }

  std::size_t end = word_end;
  if (is_exponent_letter(word.back())) {
    // `1e+5`: the sign and the exponent word belong to the literal.
    std::size_t q = end;
    if (q < s.size() && is_sign(s[q])) ++q;
    const std::size_t n = continuation_run(s, q);
    if (n > 0) end = q + n;
  } else if (word.find_first_of("eE") == std::string_view::npos) {
    // Fraction, and an exponent only after a fraction.
    if (end < s.size() && s[end] == '.') {
      const std::size_t n = fraction_run(s, end + 1);
      if (n > 0) {
        end = end + 1 + n;
        if (end < s.size() && is_exponent_letter(s[end])) {
          std::size_t q = end + 1;
          if (q < s.size() && is_sign(s[q])) ++q;
          const std::size_t m = continuation_run(s, q);
          if (m > 0) end = q + m;
        }
      }
    }
  }
  lx.pos = end;

  if (end == word_end) {
    if (auto value = plain_ordinal(word)) {
      Lexed t;
      t.tag = TokenTag::Ordinal;
      t.data = static_cast<std::uint32_t>(*value);
      return t;
    }
  }
  return decimal_literal(lx, s.substr(start, end - start), static_cast<std::uint32_t>(start),
                         static_cast<std::uint32_t>(end));
}

}  // namespace quendal::lexer
