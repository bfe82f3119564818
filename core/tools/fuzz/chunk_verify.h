#pragma once
// Independent checks of a compilation result, shared by the fuzz targets and
// the regression tests. Every check returns an empty string when the result is
// sound, else a description of the first violation found.
//
//   verify_chunk        - decodes the chunk bytes: header lengths, every
//                         instruction and its operands, block nesting and the
//                         constant pool.
//   verify_result       - the chunk/diagnostic relation of one compilation:
//                         the chunk exists exactly when no error was kept,
//                         every record is in a kept category with positions
//                         inside the source, one source map record per
//                         instruction.
//   check_compilation   - compiles a source (twice, and again with every
//                         category switched on when the chunk is missing with
//                         errors off) and runs both checks above.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostic/diagnostic_code.h"
#include "quendal/compile.h"

namespace quendal::verify {

struct OpcodeInfo {
  std::string_view name;
  std::string_view layout;  // "R"/"P"/"L"/"M" letters; "-" never written
};

inline constexpr std::array<OpcodeInfo, 99> kOpcodes = {{
#define QUENDAL_OPCODE(name, number, layout) {#name, layout},
#include "emitter/opcode.def"
#undef QUENDAL_OPCODE
}};

// Opcode numbers the checks refer to.
namespace op {
inline constexpr int Concat = 23, Format = 24, Constant = 38, GetUpvalue = 42, SetUpvalue = 43,
                     GetGlobal = 44, Module = 47, Field = 48, FieldOpt = 51, Omit = 55, Has = 63, Get = 66,
                     Set = 69, Loop = 78, LoopFor = 79, LoopRangeExclusive = 81, LoopEnd = 82, Break = 83,
                     Continue = 84, If = 85, IfNot = 86, IfNotInit = 88, IfNil = 89, IfNotNil = 90, Else = 91,
                     IfEnd = 92, Func = 93, FuncVarg = 94, FuncEnd = 95, Call = 97;
}

struct Instruction {
  std::size_t offset = 0;
  int opcode = 0;
  bool wide = false;
  std::vector<std::int64_t> operands;  // fixed operands and list elements in byte order
  std::string kinds;                   // 'R' or 'P' for each operand
};

struct DecodedChunk {
  std::vector<Instruction> instructions;
  std::vector<std::uint8_t> constant_tags;
};

namespace detail {

inline std::uint32_t read_u32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

inline bool valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= text.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

inline bool is_if_opener(int opcode) {
  return opcode == op::If || opcode == op::IfNot || (opcode >= op::IfNotInit && opcode <= op::IfNotNil);
}
inline bool is_loop_opener(int opcode) { return opcode >= op::Loop && opcode <= op::LoopRangeExclusive; }
inline bool is_func_opener(int opcode) { return opcode == op::Func || opcode == op::FuncVarg; }

// Index (into Instruction::operands) of the operand that names a String
// constant, or -1. Omit's key list is handled separately.
inline int string_constant_operand(int opcode) {
  switch (opcode) {
    case op::Format:
      return 2;
    case op::GetGlobal:
    case op::Module:
    case op::Has:
    case op::Get:
    case op::Set:
    case op::Call:
      return opcode == op::Has || opcode == op::Get || opcode == op::Set ? 2 : 1;
    case op::Field:
    case op::FieldOpt:
      return 0;
    default:
      return -1;
  }
}

inline std::string at(const Instruction& instruction) {
  return std::string(kOpcodes[static_cast<std::size_t>(instruction.opcode)].name) + " at code offset " +
         std::to_string(instruction.offset);
}

}  // namespace detail

// Decodes `bytes` into `out`. `break_needs_loop` additionally demands that
// Break/Continue sit inside a loop body of the same function (true of every
// chunk compiled without errors).
inline std::string verify_chunk(std::span<const std::uint8_t> bytes, DecodedChunk& out,
                                bool break_needs_loop) {
  using detail::read_u32;
  out = {};
  if (bytes.size() < 12) return "chunk shorter than its three length fields: " + std::to_string(bytes.size());
  if (read_u32(bytes, 0) != bytes.size() - 4)
    return "total length field " + std::to_string(read_u32(bytes, 0)) + " != size - 4 (" +
           std::to_string(bytes.size() - 4) + ")";
  const std::size_t n = read_u32(bytes, 4);
  if (n > bytes.size() - 12) return "code length " + std::to_string(n) + " exceeds the chunk";
  const std::size_t m = read_u32(bytes, 8 + n);
  if (12 + n + m != bytes.size())
    return "code length + constant length + 12 != size (" + std::to_string(n) + " + " + std::to_string(m) +
           " + 12 != " + std::to_string(bytes.size()) + ")";

  // Constant pool: tags and payloads, no duplicates, none of the kinds the
  // compiler never produces.
  std::set<std::pair<std::uint8_t, std::string>> seen;
  for (std::size_t p = 12 + n; p < bytes.size();) {
    const std::uint8_t tag = bytes[p++];
    std::string payload;
    switch (tag) {
      case 1:
      case 2:
        break;
      case 4:
        if (bytes.size() - p < 8) return "truncated Number constant";
        payload.assign(reinterpret_cast<const char*>(&bytes[p]), 8);
        p += 8;
        break;
      case 5: {
        if (bytes.size() - p < 4) return "truncated String constant length";
        const std::size_t length = read_u32(bytes, p);
        p += 4;
        if (bytes.size() - p < length) return "String constant runs past the chunk";
        payload.assign(reinterpret_cast<const char*>(&bytes[p]), length);
        p += length;
        if (!detail::valid_utf8(payload))
          return "String constant " + std::to_string(out.constant_tags.size()) + " is not valid UTF-8";
        break;
      }
      default:
        return "constant " + std::to_string(out.constant_tags.size()) + " has tag " + std::to_string(tag) +
               " (the compiler only writes 1, 2, 4 and 5)";
    }
    if (!seen.emplace(tag, payload).second)
      return "constant " + std::to_string(out.constant_tags.size()) + " duplicates an earlier pool entry";
    out.constant_tags.push_back(tag);
  }

  // Code section.
  const auto code = bytes.subspan(8, n);
  struct Block {
    int opener;
    bool has_else;
  };
  std::vector<Block> blocks;
  // Register counts of the open windows (function and loop bodies).
  std::vector<std::int64_t> windows;
  for (std::size_t p = 0; p < code.size();) {
    Instruction instruction;
    instruction.offset = p;
    const std::uint8_t first = code[p++];
    instruction.opcode = first & 0x7F;
    instruction.wide = (first & 0x80) != 0;
    if (instruction.opcode >= static_cast<int>(kOpcodes.size()))
      return "unknown opcode byte " + std::to_string(first) + " at code offset " + std::to_string(p - 1);
    const std::string_view layout = kOpcodes[static_cast<std::size_t>(instruction.opcode)].layout;
    if (layout == "-") return "reserved opcode written: " + detail::at(instruction);
    if (layout.empty() && instruction.wide)
      return "operand-less opcode marked wide: " + detail::at(instruction);
    const std::size_t width = instruction.wide ? 4 : 1;
    bool all_short = true;
    auto read = [&](char kind, std::int64_t& value) -> bool {
      if (code.size() - p < width) return false;
      if (instruction.wide) {
        const std::uint32_t raw = read_u32(code, p);
        value = kind == 'R' || kind == 'L' ? static_cast<std::int64_t>(raw)
                                           : static_cast<std::int64_t>(static_cast<std::int32_t>(raw));
        if (kind == 'R' || kind == 'L' ? raw > 255 : (value < -128 || value > 127)) all_short = false;
      } else {
        value = kind == 'R' || kind == 'L' ? static_cast<std::int64_t>(code[p])
                                           : static_cast<std::int64_t>(static_cast<std::int8_t>(code[p]));
      }
      p += width;
      return true;
    };
    std::int64_t last_param = 0;
    for (const char kind : layout) {
      if (kind == 'R' || kind == 'P') {
        std::int64_t value = 0;
        if (!read(kind, value)) return "truncated operands: " + detail::at(instruction);
        instruction.operands.push_back(value);
        instruction.kinds += kind;
        last_param = value;
      } else {
        if (last_param < 0) return "negative list count: " + detail::at(instruction);
        for (std::int64_t k = 0; k < last_param; ++k) {
          std::int64_t value = 0;
          if (!read(kind == 'L' ? 'L' : 'P', value))
            return "truncated operand list: " + detail::at(instruction);
          instruction.operands.push_back(value);
          instruction.kinds += kind == 'L' ? 'R' : 'P';
        }
      }
    }
    if (instruction.wide && all_short && !layout.empty())
      return "wide form although every operand fits one byte: " + detail::at(instruction);

    // Constant references.
    const int constant_index = detail::string_constant_operand(instruction.opcode);
    auto check_string_constant = [&](std::int64_t index) -> std::string {
      if (index < 0 || static_cast<std::size_t>(index) >= out.constant_tags.size())
        return "constant index " + std::to_string(index) + " outside the pool: " + detail::at(instruction);
      if (out.constant_tags[static_cast<std::size_t>(index)] != 5)
        return "constant " + std::to_string(index) + " is not a String: " + detail::at(instruction);
      return {};
    };
    if (constant_index >= 0) {
      if (auto error = check_string_constant(instruction.operands[static_cast<std::size_t>(constant_index)]);
          !error.empty())
        return error;
    }
    if (instruction.opcode == op::Constant) {
      const std::int64_t index = instruction.operands[1];
      if (index < 0 || static_cast<std::size_t>(index) >= out.constant_tags.size())
        return "constant index " + std::to_string(index) + " outside the pool: " + detail::at(instruction);
    }
    if (instruction.opcode == op::Omit) {
      for (std::size_t k = 3; k < instruction.operands.size(); ++k)
        if (auto error = check_string_constant(instruction.operands[k]); !error.empty()) return error;
    }

    // Registers: every register operand lies inside its window (an upvalue
    // inside the window that many levels out); the operands of a window's
    // opener other than its counts belong to the enclosing window.
    const int opcode = instruction.opcode;
    {
      const bool opens_window = detail::is_func_opener(opcode) || detail::is_loop_opener(opcode);
      const bool upvalue = opcode == op::GetUpvalue || opcode == op::SetUpvalue;
      const std::int64_t current = windows.empty() ? 0 : windows.back();
      for (std::size_t k = 0; k < instruction.operands.size(); ++k) {
        if (instruction.kinds[k] != 'R') continue;
        std::int64_t limit = current;
        if (upvalue && k == 2) {
          const std::int64_t distance = instruction.operands[1];
          if (distance < 1 || static_cast<std::size_t>(distance) >= windows.size())
            return "upvalue distance " + std::to_string(distance) + " with " +
                   std::to_string(windows.size()) + " open windows: " + detail::at(instruction);
          limit = windows[windows.size() - 1 - static_cast<std::size_t>(distance)];
        }
        if (instruction.operands[k] > limit)
          return "register r" + std::to_string(instruction.operands[k]) + " beyond its window of " +
                 std::to_string(limit) + " registers: " + detail::at(instruction);
      }
      if (opens_window) {
        const std::size_t count_at = detail::is_func_opener(opcode) ? 2 : 0;
        const std::int64_t registers = instruction.operands[count_at];
        if (registers < 0) return "negative register count: " + detail::at(instruction);
        if (detail::is_func_opener(opcode) &&
            (instruction.operands[1] < 0 || instruction.operands[1] > registers))
          return "parameter count outside the window: " + detail::at(instruction);
        if (opcode == op::LoopFor && instruction.operands[2] != 0)
          return "LoopFor's third operand is not r0: " + detail::at(instruction);
        windows.push_back(registers);
      } else if ((opcode == op::LoopEnd || opcode == op::FuncEnd) && !windows.empty()) {
        windows.pop_back();
      }
    }

    // Block structure.
    if (blocks.empty() && !out.instructions.empty())
      return "instruction after the script's closing FuncEnd: " + detail::at(instruction);
    if (out.instructions.empty() && !detail::is_func_opener(opcode))
      return "code does not start with Func/FuncVarg: " + detail::at(instruction);
    if (detail::is_if_opener(opcode) || detail::is_loop_opener(opcode) || detail::is_func_opener(opcode)) {
      blocks.push_back({opcode, false});
    } else if (opcode == op::Else) {
      if (blocks.empty() || !detail::is_if_opener(blocks.back().opener))
        return "Else outside a conditional block: " + detail::at(instruction);
      if (blocks.back().has_else) return "second Else in one conditional block: " + detail::at(instruction);
      blocks.back().has_else = true;
    } else if (opcode == op::IfEnd || opcode == op::LoopEnd || opcode == op::FuncEnd) {
      const bool matches =
          !blocks.empty() && (opcode == op::IfEnd     ? detail::is_if_opener(blocks.back().opener)
                              : opcode == op::LoopEnd ? detail::is_loop_opener(blocks.back().opener)
                                                      : detail::is_func_opener(blocks.back().opener));
      if (!matches) return "block closer without its opener: " + detail::at(instruction);
      blocks.pop_back();
    } else if ((opcode == op::Break || opcode == op::Continue) && break_needs_loop) {
      bool in_loop = false;
      for (auto it = blocks.rbegin(); it != blocks.rend() && !detail::is_func_opener(it->opener); ++it)
        if (detail::is_loop_opener(it->opener)) in_loop = true;
      if (!in_loop) return "Break/Continue outside a loop body: " + detail::at(instruction);
    }
    out.instructions.push_back(std::move(instruction));
  }
  if (out.instructions.empty()) return "empty code section";
  if (!blocks.empty()) return std::to_string(blocks.size()) + " block(s) left open at the end of the code";
  const Instruction& head = out.instructions.front();
  if (head.operands[0] != 0 || head.operands[1] != 0)
    return "the script function must have destination 0 and no parameters";
  return {};
}

// The (line, column) of every character boundary of `source`, in increasing
// order, in the given unit: lines and columns are 1-based, a position on a
// line terminator or after the final "\n" belongs to the line before it.
inline std::vector<std::pair<std::uint32_t, std::uint32_t>> all_positions(std::string_view source,
                                                                          PositionUnit unit) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> positions;
  positions.reserve(source.size() + 1);
  std::uint32_t line = 1, column = 1;
  std::size_t i = 0;
  while (true) {
    positions.emplace_back(line, column);
    if (i >= source.size()) break;
    const auto c = static_cast<unsigned char>(source[i]);
    const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::uint32_t count = unit == PositionUnit::Utf8Bytes    ? static_cast<std::uint32_t>(length)
                                : unit == PositionUnit::Utf16Units ? (length == 4 ? 2u : 1u)
                                                                   : 1u;
    i += length;
    if (c == '\n' && i < source.size()) {
      ++line;
      column = 1;
    } else {
      column += count;
    }
  }
  return positions;
}

inline bool category_kept(std::uint32_t code, const CompileConfig& config) {
  if (code >= 1001 && code <= 1998) return config.report_errors;
  if (code >= 2000 && code <= 2998) return config.report_warnings;
  if (code >= 3000 && code <= 3998) return config.report_infos;
  if (code >= 4000 && code <= 4998) return config.report_hints;
  if (code >= 5000 && code <= 5998) return config.report_references;
  if (code >= 10000 && code <= 11998) return config.report_tags;
  if (code == 12000) return config.report_source_map;
  return false;
}

inline bool is_marker(std::uint32_t code) {
  for (const std::uint32_t marker :
       {1000u, 1999u, 2000u, 2999u, 3000u, 3999u, 4000u, 4999u, 5000u, 5999u, 10000u, 10999u, 11000u, 11999u})
    if (code == marker) return true;
  return false;
}

inline std::string verify_result(std::string_view source, const CompileConfig& config,
                                 const CompileResult& result) {
  const auto& list = result.diagnostics;
  if (list.size() % 5 != 0)
    return "diagnostic list length " + std::to_string(list.size()) + " is not a multiple of 5";
  const auto positions = all_positions(source, config.position_unit);
  bool has_error = false;
  std::size_t source_maps = 0;
  for (std::size_t r = 0; r < list.size(); r += 5) {
    const std::uint32_t code = list[r + 4];
    const std::string record = "record " + std::to_string(r / 5) + " (code " + std::to_string(code) + ")";
    if (code > 0xFFFF || is_marker(code) || !diagnostic_code_from_number(static_cast<std::uint16_t>(code)))
      return record + ": not a diagnostic code";
    if (!category_kept(code, config)) return record + ": category switched off in the configuration";
    if (is_error_code(code)) has_error = true;
    if (code == 12000) ++source_maps;
    const std::pair<std::uint32_t, std::uint32_t> start{list[r], list[r + 1]}, end{list[r + 2], list[r + 3]};
    for (const auto& position : {start, end}) {
      if (!std::binary_search(positions.begin(), positions.end(), position))
        return record + ": position " + std::to_string(position.first) + ":" +
               std::to_string(position.second) + " is not a character position of the source";
    }
    if (end < start) return record + ": range ends before it starts";
  }
  // With errors off, a lexer or parser failure still drops the chunk without
  // a record; check_compilation confirms such a failure separately.
  if (result.chunk.has_value() == has_error && (result.chunk || config.report_errors))
    return has_error ? "chunk present although an error was kept"
                     : "chunk missing although no error was kept";
  if (result.chunk) {
    DecodedChunk decoded;
    if (auto error = verify_chunk(*result.chunk, decoded, config.report_errors); !error.empty())
      return "chunk: " + error;
    if (config.report_source_map && source_maps != decoded.instructions.size())
      return std::to_string(source_maps) + " source map records for " +
             std::to_string(decoded.instructions.size()) + " instructions";
  }
  return {};
}

// Replaces invalid UTF-8 sequences by U+FFFD so any byte string becomes a
// source the compiler accepts.
inline std::string sanitize_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    std::size_t n = c < 0x80             ? 1
                    : (c & 0xE0) == 0xC0 ? 2
                    : (c & 0xF0) == 0xE0 ? 3
                    : (c & 0xF8) == 0xF0 ? 4
                                         : 0;
    if (n != 0 && i + n <= bytes.size() && detail::valid_utf8(bytes.substr(i, n))) {
      text.append(bytes.substr(i, n));
      i += n;
    } else {
      text.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return text;
}

// A configuration from one byte: the position unit is `byte` % 3; the bits of
// `byte` / 3 switch off errors (bit 0), warnings and infos (bit 1), hints
// (bit 2), references (bit 3) and the source map (bit 5), switch on tags
// (bit 4) and pick the template mode (bit 6).
inline CompileConfig config_from_byte(std::uint8_t byte) {
  const unsigned bits = byte / 3u;
  CompileConfig config;
  config.report_errors = (bits & 1) == 0;
  config.report_warnings = config.report_infos = (bits & 2) == 0;
  config.report_hints = (bits & 4) == 0;
  config.report_references = (bits & 8) == 0;
  config.report_tags = (bits & 16) != 0;
  config.report_source_map = (bits & 32) == 0;
  config.input_mode = (bits & 64) != 0 ? InputMode::Template : InputMode::Script;
  config.position_unit = static_cast<PositionUnit>(byte % 3u);
  return config;
}

inline CompileConfig all_on(CompileConfig config) {
  config.report_errors = config.report_warnings = config.report_infos = config.report_hints = true;
  config.report_references = config.report_tags = config.report_source_map = true;
  return config;
}

// Compiles `source` and checks everything above plus: a second compilation
// gives the identical result; with errors off and no chunk, the same source
// with every category on reports a LexerError or ParserError (the only paths
// that drop the chunk without a kept error). When `differential` is set the
// list is also compared with a compilation with every category on, filtered
// down to the categories of `config`.
inline std::string check_compilation(std::string_view source, const CompileConfig& config,
                                     bool differential) {
  try {
    const CompileResult first = compile(source, config);
    if (auto error = verify_result(source, config, first); !error.empty()) return error;
    const CompileResult second = compile(source, config);
    if (second.chunk != first.chunk || second.diagnostics != first.diagnostics)
      return "two compilations of the same source differ";
    const bool hard_failure_without_errors = !config.report_errors && !first.chunk;
    if (differential || hard_failure_without_errors) {
      const CompileConfig full = all_on(config);
      const CompileResult reference = compile(source, full);
      if (auto error = verify_result(source, full, reference); !error.empty())
        return "all categories on: " + error;
      bool hard = false;
      for (std::size_t r = 4; r < reference.diagnostics.size(); r += 5)
        if (reference.diagnostics[r] == static_cast<std::uint32_t>(DiagnosticCode::LexerError) ||
            reference.diagnostics[r] == static_cast<std::uint32_t>(DiagnosticCode::ParserError))
          hard = true;
      if (hard_failure_without_errors && !hard)
        return "chunk missing with errors off and no lexer/parser failure";
      if (first.chunk && reference.chunk && *first.chunk != *reference.chunk)
        return "chunk depends on the reporting switches";
      if (differential) {
        std::vector<std::uint32_t> filtered;
        for (std::size_t r = 0; r < reference.diagnostics.size(); r += 5)
          if (category_kept(reference.diagnostics[r + 4], config))
            filtered.insert(filtered.end(), reference.diagnostics.begin() + static_cast<std::ptrdiff_t>(r),
                            reference.diagnostics.begin() + static_cast<std::ptrdiff_t>(r + 5));
        if (filtered != first.diagnostics)
          return "diagnostics differ from the all-categories compilation filtered to this configuration";
      }
    }
  } catch (const InternalFailure& failure) {
    return std::string("InternalFailure: ") + failure.what();
  }
  return {};
}

}  // namespace quendal::verify
