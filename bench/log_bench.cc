// The debug log: 100,000 five-part lines through DLogStream beside plain write() calls of the
// same bytes (one per line) to a file on the same disk, in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/dfile.h"
#include "base/dlogstream.h"

namespace {

constexpr int kLines = 100000;

std::string ScratchFile(const char* name) {
  static std::string dir = [] {
    char tmpl[] = "/tmp/orvane_log_bench_XXXXXX";
    return std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
  }();
  return dir + "/" + name;
}

void BM_LogStream(benchmark::State& state) {
  std::string path = ScratchFile("stream.log");
  for (auto _ : state) {
    DFile file;
    if (!file.Open(DString(path.c_str()), 15)) {
      state.SkipWithError("cannot create the log file");
      return;
    }
    DLogStream log;
    log.AttachFile(file);
    for (int i = 0; i < kLines; ++i) log << "[DWave] line " << i << DString(" of the stream") << "\n";
    log.Close();
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  unlink(path.c_str());
}
BENCHMARK(BM_LogStream)->Unit(benchmark::kMillisecond);

// The anchor: the bytes the log writes for each line, one write() per line.
void BM_PlainWrite(benchmark::State& state) {
  std::string path = ScratchFile("plain.log");
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      state.SkipWithError("cannot create the file");
      return;
    }
    char line[64];
    for (int i = 0; i < kLines; ++i) {
      int n = std::snprintf(line, sizeof line, "[DWave] line %d of the stream\r\n", i);
      if (write(fd, line, static_cast<size_t>(n)) != n) break;
    }
    close(fd);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  unlink(path.c_str());
}
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);

}  // namespace
