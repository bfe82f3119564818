// libFuzzer target: the input's first byte chooses the configuration (see
// config_from_byte), the rest is the source, with invalid UTF-8 replaced by
// U+FFFD. Every run checks the result's invariants and aborts on a violation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "chunk_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const quendal::CompileConfig config = quendal::verify::config_from_byte(data[0]);
  const std::string source =
      quendal::verify::sanitize_utf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  if (const std::string error = quendal::verify::check_compilation(source, config, false); !error.empty()) {
    std::fprintf(stderr, "invariant violated: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
