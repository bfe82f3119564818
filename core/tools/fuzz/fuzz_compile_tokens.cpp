// Token-aware libFuzzer target: the first byte chooses the configuration (see
// config_from_byte); every further byte picks a word of the vocabulary, joined
// by single spaces. Byte 255 starts a new line instead of a space and byte 254
// glues the next word to the previous one, so quotes, openers and escapes can
// touch their neighbours. Besides the invariants of the bytes target, each
// result's diagnostics are compared with an all-categories compilation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "chunk_verify.h"
#include "fuzz_vocabulary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const quendal::CompileConfig config = quendal::verify::config_from_byte(data[0]);
  std::string source;
  char separator = 0;
  for (std::size_t i = 1; i < size; ++i) {
    const std::uint8_t byte = data[i];
    if (byte == 255) {
      separator = '\n';
      continue;
    }
    if (byte == 254) {
      separator = 0x7F;  // glue marker
      continue;
    }
    if (!source.empty() && separator != 0x7F) source += separator == '\n' ? '\n' : ' ';
    separator = ' ';
    source += quendal::verify::kVocabulary[byte % quendal::verify::kVocabulary.size()];
  }
  if (const std::string error = quendal::verify::check_compilation(source, config, true); !error.empty()) {
    std::fprintf(stderr, "invariant violated: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
