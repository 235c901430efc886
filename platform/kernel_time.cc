// The millisecond clock, the timer resolution, Sleep, and the virtual clock of tests.
#include <sched.h>

#include <atomic>
#include <mutex>

#include "platform/clock.h"
#include "platform/mmsystem.h"

namespace orvane::clock {
namespace {

constexpr UINT kPeriodMin = 1;
constexpr UINT kPeriodMax = 1000000;

std::atomic<bool> g_virtual{false};
std::atomic<DWORD> g_virtual_now{0};
std::atomic<DWORD> g_clock_thread{0};  // thread id that drives the virtual clock
std::atomic<bool> g_fail_caps{false};
std::mutex g_periods_lock;
int g_periods[64] = {};  // held begins per period 1..63; longer periods share the last slot
int g_held = 0;

int Slot(UINT period) {
  return period < 64 ? static_cast<int>(period) : 63;
}

}  // namespace

void UseVirtualClock(DWORD start) {
  g_virtual_now = start;
  g_clock_thread = GetCurrentThreadId();
  g_virtual = true;
}

void UseRealClock() {
  g_virtual = false;
}

bool IsVirtualClock() {
  return g_virtual;
}

void AdvanceVirtualClock(DWORD ms) {
  g_virtual_now.fetch_add(ms);
}

void FailTimerCaps(bool on) {
  g_fail_caps = on;
}

int HeldTimerPeriods() {
  std::lock_guard l(g_periods_lock);
  return g_held;
}

bool VirtualWaitHere() {
  return g_virtual && g_clock_thread == GetCurrentThreadId();
}

void AdvanceForWait(DWORD ms) {
  if (ms != INFINITE) g_virtual_now.fetch_add(ms);
}

}  // namespace orvane::clock

namespace clk = orvane::clock;

DWORD timeGetTime() {
  if (clk::IsVirtualClock()) return clk::g_virtual_now;
  return static_cast<DWORD>(static_cast<std::uint64_t>(orvane::MonotonicMs()));
}

MMRESULT timeGetDevCaps(LPTIMECAPS caps, UINT size) {
  if (!caps || size != sizeof(TIMECAPS) || clk::g_fail_caps) return TIMERR_NOCANDO;
  caps->wPeriodMin = clk::kPeriodMin;
  caps->wPeriodMax = clk::kPeriodMax;
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT period) {
  if (period < clk::kPeriodMin || period > clk::kPeriodMax || clk::g_fail_caps) return TIMERR_NOCANDO;
  std::lock_guard l(clk::g_periods_lock);
  ++clk::g_periods[clk::Slot(period)];
  ++clk::g_held;
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
  if (period < clk::kPeriodMin || period > clk::kPeriodMax) return TIMERR_NOCANDO;
  std::lock_guard l(clk::g_periods_lock);
  int& slot = clk::g_periods[clk::Slot(period)];
  if (slot == 0) return TIMERR_NOCANDO;
  --slot;
  --clk::g_held;
  return TIMERR_NOERROR;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds != INFINITE && clk::VirtualWaitHere()) {
    clk::AdvanceForWait(milliseconds);
    return;
  }
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) orvane::SleepForNs(INT64_C(1000000000) * 3600);
  }
  orvane::SleepForNs(static_cast<std::int64_t>(milliseconds) * 1000000);
}
