// The millisecond clock, the timer resolution, Sleep, and the virtual clock of tests.
#include <sched.h>

#include <atomic>
#include <cstdint>
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
  SetVirtualSchedule(nullptr, nullptr);
  PaceVirtualPresents(false);
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

namespace {

// The schedule and the present pacing belong to the clock thread: only it reads them.
bool (*g_next_due)(DWORD*) = nullptr;
bool (*g_deliver_due)() = nullptr;
std::atomic<bool> g_pace_presents{false};
bool g_presented = false;
bool g_waited = false;                 // the clock moved or a frame wait ran since the last present
std::uint32_t g_present_fraction = 0;  // 16.16 carry of the paced frames

// 1000/60 ms in 16.16 fixed point, as the frame timer's default interval.
constexpr std::uint32_t kPresentFrame = 1092267;

}  // namespace

void SetVirtualSchedule(bool (*next_due)(DWORD*), bool (*deliver_due)()) {
  g_next_due = next_due;
  g_deliver_due = deliver_due;
}

void PaceVirtualPresents(bool on) {
  g_pace_presents = on;
  g_presented = false;
}

bool NextScheduledEvent(DWORD* in_ms) {
  return VirtualWaitHere() && g_next_due && g_deliver_due && g_next_due(in_ms);
}

bool AdvanceForWait(DWORD ms, bool wake_on_input) {
  if (ms == INFINITE) return false;
  DWORD left = ms;
  DWORD in = 0;
  // Each scheduled event within the time: the clock moves to it and it is delivered there.
  while (NextScheduledEvent(&in) && in <= left) {
    g_virtual_now.fetch_add(in);
    left -= in;
    if (in > 0) g_waited = true;
    const bool input = g_deliver_due();
    if (input && wake_on_input) return true;
    DWORD again = 0;
    // A source that keeps reporting an event due now without delivering it must not hold the
    // wait for ever.
    if (in == 0 && !input && NextScheduledEvent(&again) && again == 0) break;
  }
  g_virtual_now.fetch_add(left);
  if (ms > 0) g_waited = true;
  return false;
}

void NoteFrameWait() {
  g_waited = true;
}

void VirtualPresent() {
  if (!g_pace_presents || !VirtualWaitHere()) return;
  if (g_presented && !g_waited) {
    // Nothing waited since the last present: this one takes a frame.
    const std::uint64_t sum = std::uint64_t{g_present_fraction} + kPresentFrame;
    g_present_fraction = static_cast<std::uint32_t>(sum & 0xFFFF);
    AdvanceForWait(static_cast<DWORD>(sum >> 16));
  } else {
    g_present_fraction = 0;  // paced by waits: a new run of frames starts here
  }
  g_presented = true;
  g_waited = false;
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
