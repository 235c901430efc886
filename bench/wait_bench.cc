// Wake-up latency of the platform's waits: a SetEvent or a post from another thread ending a
// WaitForMultipleObjects / MsgWaitForMultipleObjects, beside a bare condition variable handing
// over the same wake-up.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/win32.h"

namespace {

// One round: the other thread signals, this one wakes; the latency is measured from the signal.
void BM_WaitForMultipleObjectsWake(benchmark::State& state) {
  HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> signalled_at{0};
  std::thread signaller([&] {
    for (;;) {
      WaitForSingleObject(go, INFINITE);
      if (stop) return;
      orvane::SleepForNs(200000);  // let the waiter block first
      signalled_at = orvane::MonotonicNs();
      SetEvent(done);
    }
  });
  double total_us = 0;
  for (auto _ : state) {
    SetEvent(go);
    DWORD r = WaitForMultipleObjects(1, &done, FALSE, 2000);
    std::int64_t woke = orvane::MonotonicNs();
    benchmark::DoNotOptimize(r);
    total_us += static_cast<double>(woke - signalled_at) / 1000.0;
  }
  stop = true;
  SetEvent(go);
  signaller.join();
  state.counters["wake_us"] = benchmark::Counter(total_us / static_cast<double>(state.iterations()));
  CloseHandle(go);
  CloseHandle(done);
}
BENCHMARK(BM_WaitForMultipleObjectsWake)->Iterations(200)->UseRealTime();

void BM_MsgWaitPostWake(benchmark::State& state) {
  const DWORD me = GetCurrentThreadId();
  HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> posted_at{0};
  std::thread poster([&] {
    for (;;) {
      WaitForSingleObject(go, INFINITE);
      if (stop) return;
      orvane::SleepForNs(200000);
      posted_at = orvane::MonotonicNs();
      PostThreadMessageA(me, WM_USER, 0, 0);
    }
  });
  double total_us = 0;
  MSG m;
  for (auto _ : state) {
    SetEvent(go);
    DWORD r = MsgWaitForMultipleObjects(0, nullptr, FALSE, 2000, QS_ALLINPUT);
    std::int64_t woke = orvane::MonotonicNs();
    benchmark::DoNotOptimize(r);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    total_us += static_cast<double>(woke - posted_at) / 1000.0;
  }
  stop = true;
  SetEvent(go);
  poster.join();
  state.counters["wake_us"] = benchmark::Counter(total_us / static_cast<double>(state.iterations()));
  CloseHandle(go);
}
BENCHMARK(BM_MsgWaitPostWake)->Iterations(200)->UseRealTime();

// Anchor: the same hand-over on a bare mutex and condition variable.
void BM_ConditionVariableWake(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable cv;
  int round = 0;
  int served = 0;
  bool stop = false;
  std::int64_t signalled_at = 0;
  std::thread signaller([&] {
    std::unique_lock l(mutex);
    for (;;) {
      cv.wait(l, [&] { return stop || round > served; });
      if (stop) return;
      l.unlock();
      orvane::SleepForNs(200000);
      l.lock();
      signalled_at = orvane::MonotonicNs();
      served = round;
      cv.notify_all();
    }
  });
  double total_us = 0;
  for (auto _ : state) {
    std::unique_lock l(mutex);
    ++round;
    cv.notify_all();
    cv.wait(l, [&] { return served == round; });
    total_us += static_cast<double>(orvane::MonotonicNs() - signalled_at) / 1000.0;
  }
  {
    std::lock_guard l(mutex);
    stop = true;
  }
  cv.notify_all();
  signaller.join();
  state.counters["wake_us"] = benchmark::Counter(total_us / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ConditionVariableWake)->Iterations(200)->UseRealTime();

}  // namespace
