// Multimedia timers: one thread per timer, absolute deadlines on the monotonic clock.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/midi_port.h"
#include "platform/midi_record.h"
#include "platform/mmsystem.h"

namespace {

struct Timer {
  UINT id = 0;
  UINT delay = 0;
  bool periodic = false;
  LPTIMECALLBACK callback = nullptr;
  DWORD_PTR user = 0;
  std::mutex lock;
  std::condition_variable wake;
  bool killed = false;
};

std::mutex g_timers_lock;
// Made on first use and never destroyed: a run that never needs it never touches it (nor its
// pages at start and exit), and code running during exit still finds it.
std::map<UINT, std::shared_ptr<Timer>>& Timers() {
  static auto* made = new std::map<UINT, std::shared_ptr<Timer>>;
  return *made;
}
UINT g_next_id = 1;
std::atomic<std::uint32_t> g_callback_count{0};
thread_local std::uint32_t t_callback_ordinal = 0;

void Forget(UINT id) {
  std::lock_guard l(g_timers_lock);
  Timers().erase(id);
}

void Run(std::shared_ptr<Timer> t) {
  const std::int64_t period = static_cast<std::int64_t>(t->delay) * 1000000;
  std::int64_t deadline = orvane::MonotonicNs() + period;
  for (;;) {
    {
      std::unique_lock l(t->lock);
      while (!t->killed) {
        std::int64_t left = deadline - orvane::MonotonicNs();
        if (left <= 0) break;
        t->wake.wait_for(l, std::chrono::nanoseconds(left));
      }
      if (t->killed) break;
    }
    t_callback_ordinal = g_callback_count.fetch_add(1) + 1;
    t->callback(t->id, 0, t->user, 0, 0);
    t_callback_ordinal = 0;
    if (!t->periodic) break;
    // The next deadline after now: a late callback skips the deadlines it missed.
    deadline += period;
    std::int64_t now = orvane::MonotonicNs();
    if (deadline <= now) deadline += ((now - deadline) / period + 1) * period;
  }
  Forget(t->id);
}

}  // namespace

namespace orvane::midi {
std::uint32_t CurrentTimerCallback() {
  return t_callback_ordinal;
}
}  // namespace orvane::midi

MMRESULT timeSetEvent(UINT delay, UINT /*resolution*/, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
  if (!callback || delay < 1 || delay > 1000000) return 0;
  auto t = std::make_shared<Timer>();
  t->delay = delay;
  t->periodic = (flags & TIME_PERIODIC) != 0;
  t->callback = callback;
  t->user = user;
  {
    std::lock_guard l(g_timers_lock);
    do {
      t->id = g_next_id++;
    } while (t->id == 0 || Timers().count(t->id));
    Timers()[t->id] = t;
  }
  try {
    std::thread(Run, t).detach();
  } catch (...) {
    Forget(t->id);
    return 0;
  }
  return t->id;
}

MMRESULT timeKillEvent(UINT timer_id) {
  std::shared_ptr<Timer> t;
  {
    std::lock_guard l(g_timers_lock);
    auto it = Timers().find(timer_id);
    if (it == Timers().end()) return TIMERR_NOCANDO;
    t = it->second;
    Timers().erase(it);
  }
  {
    std::lock_guard l(t->lock);
    t->killed = true;
  }
  t->wake.notify_all();
  return TIMERR_NOERROR;
}

namespace orvane::midi {
__attribute__((visibility("default"))) std::uint32_t NextTimerCallback() {
  return g_callback_count.load() + 1;
}
}  // namespace orvane::midi
