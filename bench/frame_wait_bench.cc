// The frame timer's wait at 60 frames per second on the real clock: 600 waits, their drift from
// the ideal 10 s and the CPU they cost, beside a clock_nanosleep(TIMER_ABSTIME) loop at the same
// rate.
#include <benchmark/benchmark.h>
#include <time.h>

#include "platform/clock.h"
#include "shell/cframetimer.h"

namespace {

constexpr int kFrames = 600;
constexpr double kIdealMs = kFrames * 1000.0 / 60.0;

double CpuMs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void Report(benchmark::State& state, double wall_ms, double cpu_ms) {
  state.counters["drift_ms"] = wall_ms - kIdealMs;
  state.counters["cpu_ms"] = cpu_ms;
  state.counters["cpu_percent"] = 100.0 * cpu_ms / wall_ms;
}

void BM_FrameTimerWait600(benchmark::State& state) {
  CFrameTimer timer;
  if (!timer.Init()) {
    state.SkipWithError("the frame timer did not start");
    return;
  }
  for (auto _ : state) {
    timer.Restart();
    const std::int64_t start = orvane::MonotonicNs();
    const double cpu = CpuMs();
    for (int i = 0; i < kFrames; ++i) benchmark::DoNotOptimize(timer.Wait());
    Report(state, static_cast<double>(orvane::MonotonicNs() - start) / 1e6, CpuMs() - cpu);
  }
  timer.Term();
}
BENCHMARK(BM_FrameTimerWait600)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Anchor: absolute sleeps to each frame's due time.
void BM_AbsoluteSleep600(benchmark::State& state) {
  for (auto _ : state) {
    const std::int64_t start = orvane::MonotonicNs();
    const double cpu = CpuMs();
    for (int i = 1; i <= kFrames; ++i)
      orvane::SleepUntilNs(start + static_cast<std::int64_t>(i) * 1000000000 / 60);
    Report(state, static_cast<double>(orvane::MonotonicNs() - start) / 1e6, CpuMs() - cpu);
  }
}
BENCHMARK(BM_AbsoluteSleep600)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
