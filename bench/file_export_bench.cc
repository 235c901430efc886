// Script-file lines through the export a plug-in binds: ovReadFileLine over a 10 MB text, bound by
// name from the running program as a plug-in binds it, beside std::getline over the same file.
// The counter allocs/line counts operator new calls per line read (the export hands back text
// inside the file object's buffer and should make none).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "api/ov_api.h"
#include "platform/kernel.h"
#include "platform/win32.h"
#include "shell/cfilemanager.h"

namespace {

std::atomic<uint64_t> g_news{0};

}  // namespace

// Counting operator new, paired with operator delete over malloc and free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace {

constexpr size_t kBytes = 10u << 20;

const std::string& TextFile() {
  static std::string path = [] {
    std::string p = "/tmp/orvane_bench_lines_" + std::to_string(getpid());
    std::ofstream out(p, std::ios::binary);
    // Lines of varying length, some with CR LF ends.
    size_t total = 0;
    for (size_t i = 0; total < kBytes; ++i) {
      std::string line(20 + (i * 37) % 100, static_cast<char>('a' + i % 26));
      line += (i % 3 == 0) ? "\r\n" : "\n";
      out << line;
      total += line.size();
    }
    return p;
  }();
  return path;
}

struct Bound {
  OvFn_ovCreateFile create = nullptr;
  OvFn_ovReadFileLine read_line = nullptr;
  OvFn_ovDestroyFile destroy = nullptr;
};

const Bound& Exports() {
  static Bound b = [] {
    Bound r;
    char self[1024] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    HMODULE engine = LoadLibraryA(self);
    if (!engine) return r;
    r.create = reinterpret_cast<OvFn_ovCreateFile>(GetProcAddress(engine, "ovCreateFile"));
    r.read_line = reinterpret_cast<OvFn_ovReadFileLine>(GetProcAddress(engine, "ovReadFileLine"));
    r.destroy = reinterpret_cast<OvFn_ovDestroyFile>(GetProcAddress(engine, "ovDestroyFile"));
    return r;
  }();
  return b;
}

void BM_OvReadFileLine(benchmark::State& state) {
  static bool started = StartFileUnit();
  benchmark::DoNotOptimize(started);
  const Bound& ov = Exports();
  if (!ov.create || !ov.read_line || !ov.destroy) {
    state.SkipWithError("the exports are not bound");
    return;
  }
  uint64_t lines = 0, news = 0;
  for (auto _ : state) {
    ApiHandle* f = ov.create(TextFile().c_str(), 1);
    if (!f) {
      state.SkipWithError("cannot open the text");
      return;
    }
    const uint64_t before = g_news.load(std::memory_order_relaxed);
    size_t bytes = 0;
    for (const char* t; (t = ov.read_line(f)) != nullptr;) {
      bytes += t[0];
      ++lines;
    }
    news += g_news.load(std::memory_order_relaxed) - before;
    benchmark::DoNotOptimize(bytes);
    ov.destroy(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
  state.counters["allocs/line"] = lines ? static_cast<double>(news) / static_cast<double>(lines) : 0.0;
}
BENCHMARK(BM_OvReadFileLine)->Unit(benchmark::kMillisecond);

void BM_StdGetline(benchmark::State& state) {
  uint64_t lines = 0, news = 0;
  for (auto _ : state) {
    std::ifstream in(TextFile(), std::ios::binary);
    std::string line;
    size_t bytes = 0;
    const uint64_t before = g_news.load(std::memory_order_relaxed);
    while (std::getline(in, line)) {
      bytes += line.empty() ? 0 : line[0];
      ++lines;
    }
    news += g_news.load(std::memory_order_relaxed) - before;
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
  state.counters["allocs/line"] = lines ? static_cast<double>(news) / static_cast<double>(lines) : 0.0;
}
BENCHMARK(BM_StdGetline)->Unit(benchmark::kMillisecond);

}  // namespace
