// Native compile-speed benchmark of the core library, without Python:
//
//   quendal_core_bench CORPUS.q [UNIT.q] [--repeat N] [--template]
//
// Compiles CORPUS.q N times (default 5) and reports the best run in MB/s,
// then, when UNIT.q is given, the time per call for that small file (best of
// several batches). The peak resident memory added by the first corpus
// compilation is taken from getrusage (ru_maxrss, the process peak), so it
// is only meaningful when that compilation is the largest thing the process
// has done so far, which is the case here.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "quendal/compile.h"

namespace {

using Clock = std::chrono::steady_clock;

bool read_file(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  out = buffer.str();
  return true;
}

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::size_t error_records(const std::vector<std::uint32_t>& diagnostics) {
  std::size_t errors = 0;
  for (std::size_t i = 4; i < diagnostics.size(); i += 5) {
    if (diagnostics[i] >= 1001 && diagnostics[i] <= 1998) ++errors;
  }
  return errors;
}

}  // namespace

int main(int argc, char** argv) {
  const char* corpus_path = nullptr;
  const char* unit_path = nullptr;
  int repeat = 5;
  quendal::CompileConfig config;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--template") {
      config.input_mode = quendal::InputMode::Template;
    } else if (corpus_path == nullptr) {
      corpus_path = argv[i];
    } else if (unit_path == nullptr) {
      unit_path = argv[i];
    } else {
      std::fprintf(stderr, "unexpected argument: %s\n", argv[i]);
      return 2;
    }
  }
  if (corpus_path == nullptr) {
    std::fprintf(stderr, "usage: %s CORPUS.q [UNIT.q] [--repeat N] [--template]\n", argv[0]);
    return 2;
  }
  std::string corpus;
  if (!read_file(corpus_path, corpus)) {
    std::fprintf(stderr, "cannot read %s\n", corpus_path);
    return 2;
  }

  long rss_before = peak_rss_kib();
  auto start = Clock::now();
  quendal::CompileResult first = quendal::compile(corpus, config);
  double best = seconds_since(start);
  long rss_after = peak_rss_kib();
  for (int i = 1; i < repeat; ++i) {
    start = Clock::now();
    quendal::CompileResult result = quendal::compile(corpus, config);
    best = std::min(best, seconds_since(start));
  }
  double mb = static_cast<double>(corpus.size()) / 1e6;
  std::printf("corpus: %.2f MB, best of %d: %.3f s, %.2f MB/s\n", mb, repeat, best, mb / best);
  std::printf("result: chunk %s (%zu bytes), %zu diagnostic records, %zu errors\n",
              first.chunk ? "present" : "absent", first.chunk ? first.chunk->size() : std::size_t{0},
              first.diagnostics.size() / 5, error_records(first.diagnostics));
  std::printf("peak RSS added by the first compilation: %.1f MB (%.1f bytes per source byte)\n",
              static_cast<double>(rss_after - rss_before) / 1024.0,
              static_cast<double>(rss_after - rss_before) * 1024.0 / static_cast<double>(corpus.size()));

  if (unit_path != nullptr) {
    std::string unit;
    if (!read_file(unit_path, unit)) {
      std::fprintf(stderr, "cannot read %s\n", unit_path);
      return 2;
    }
    // Batches of a size that takes at least ~50 ms; the best batch counts.
    int n = 1;
    for (;;) {
      start = Clock::now();
      for (int i = 0; i < n; ++i) quendal::compile(unit, config);
      if (seconds_since(start) >= 0.05 || n >= (1 << 24)) break;
      n *= 2;
    }
    double best_call = std::numeric_limits<double>::infinity();
    for (int batch = 0; batch < 5; ++batch) {
      start = Clock::now();
      for (int i = 0; i < n; ++i) quendal::compile(unit, config);
      best_call = std::min(best_call, seconds_since(start) / n);
    }
    std::printf("unit: %zu bytes, %.2f us per compile\n", unit.size(), best_call * 1e6);
  }
  return 0;
}
