// quendalc: compiles one script or template and prints the chunk bytes and the
// encoded diagnostics.
//
//   quendalc [--template] [--tags] [--no-errors] [--no-warnings] [--no-infos]
//            [--no-hints] [--no-references] [--no-source-map]
//            [--unit=bytes|utf16|codepoints] [FILE | -]
//   quendalc --help
//
// Output: "chunk <lowercase hex>" or "chunk none", then one line of five
// integers per record. Exit 0 after any compilation, 2 on bad usage or
// unreadable input, 3 on an internal failure.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "quendal/compile.h"

namespace {

constexpr const char* kUsage =
    "usage: quendalc [--template] [--tags] [--no-errors] [--no-warnings] [--no-infos] [--no-hints]\n"
    "                [--no-references] [--no-source-map] [--unit=bytes|utf16|codepoints] [FILE | -]\n";

constexpr const char* kHelp =
    "\n"
    "Compiles FILE (standard input when FILE is - or absent) and prints \"chunk <hex>\" or\n"
    "\"chunk none\", then one line of five integers per record: start line, start column,\n"
    "end line, end column, code.\n"
    "\n"
    "exit status: 0 after any compilation, 2 on bad usage or unreadable input (a missing\n"
    "file, a directory, text that is not UTF-8), 3 on an internal failure\n";

int usage_error(const std::string& message, bool show_usage = true) {
  std::cerr << "quendalc: " << message << "\n";
  if (show_usage) std::cerr << kUsage;
  return 2;
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t len;
    std::uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, cp = b & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  quendal::CompileConfig config;
  std::string path;
  bool have_path = false;
  bool options_done = false;
  for (int a = 1; a < argc; ++a) {
    const std::string_view arg = argv[a];
    if (!options_done && arg.size() > 1 && arg.starts_with("-")) {
      if (arg == "--")
        options_done = true;
      else if (arg == "--help" || arg == "-h") {
        std::cout << kUsage << kHelp;
        return std::cout.flush() ? 0 : 2;
      } else if (arg == "--template")
        config.input_mode = quendal::InputMode::Template;
      else if (arg == "--tags")
        config.report_tags = true;
      else if (arg == "--no-errors")
        config.report_errors = false;
      else if (arg == "--no-warnings")
        config.report_warnings = false;
      else if (arg == "--no-infos")
        config.report_infos = false;
      else if (arg == "--no-hints")
        config.report_hints = false;
      else if (arg == "--no-references")
        config.report_references = false;
      else if (arg == "--no-source-map")
        config.report_source_map = false;
      else if (arg == "--unit=bytes")
        config.position_unit = quendal::PositionUnit::Utf8Bytes;
      else if (arg == "--unit=utf16")
        config.position_unit = quendal::PositionUnit::Utf16Units;
      else if (arg == "--unit=codepoints")
        config.position_unit = quendal::PositionUnit::CodePoints;
      else
        return usage_error("unknown option '" + std::string(arg) + "'");
      continue;
    }
    if (have_path) return usage_error("more than one input given");
    path = arg;
    have_path = true;
  }

  std::string source;
  if (!have_path || path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    if (std::cin.bad()) return usage_error("cannot read standard input", false);
    source = std::move(buffer).str();
  } else {
    // Opening a directory succeeds on some systems and only reading it
    // fails, so it is refused by name first.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
      return usage_error("'" + path + "' is a directory", false);
    std::ifstream file(path, std::ios::binary);
    if (!file) return usage_error("cannot open '" + path + "'", false);
    try {
      source.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
      return usage_error("cannot read '" + path + "'", false);
    }
    if (file.bad()) return usage_error("cannot read '" + path + "'", false);
  }
  if (!is_valid_utf8(source)) return usage_error("input is not valid UTF-8", false);

  quendal::CompileResult result;
  try {
    result = quendal::compile(source, config);
  } catch (const std::exception& failure) {
    std::cerr << "quendalc: internal failure: " << failure.what() << "\n";
    return 3;
  }

  std::string out = "chunk ";
  if (result.chunk) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.reserve(out.size() + result.chunk->size() * 2 + 1);
    for (std::uint8_t byte : *result.chunk) {
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    }
  } else {
    out += "none";
  }
  out.push_back('\n');
  const auto& d = result.diagnostics;
  for (std::size_t i = 0; i + 5 <= d.size(); i += 5) {
    for (std::size_t k = 0; k < 5; ++k) {
      out += std::to_string(d[i + k]);
      out.push_back(k == 4 ? '\n' : ' ');
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 2;
}
