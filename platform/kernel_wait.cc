// Waits for any of several kernel objects, optionally together with another condition (the
// message queue of MsgWaitForMultipleObjects). Waiters sleep on one condition variable that every
// state change wakes, so a SetEvent or a post from another thread ends a wait at once.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/kernel_object.h"
#include "platform/mmsystem.h"

namespace orvane::kernel {
namespace {

struct Waiters {
  std::mutex mutex;
  std::condition_variable cv;
  std::uint64_t epoch = 0;  // counts state changes
  int sleeping = 0;
};

Waiters& GetWaiters() {
  static Waiters* waiters = new Waiters;  // never destroyed: threads may end during exit
  return *waiters;
}

std::uint64_t Epoch() {
  Waiters& w = GetWaiters();
  std::lock_guard l(w.mutex);
  return w.epoch;
}

// Sleeps until the epoch moves past seen or ns have passed (negative: no limit).
void WaitForChange(std::uint64_t seen, std::int64_t ns) {
  Waiters& w = GetWaiters();
  std::unique_lock l(w.mutex);
  ++w.sleeping;
  orvane::WaitForNs(w.cv, l, ns, [&] { return w.epoch != seen; });
  --w.sleeping;
}

}  // namespace

void NotifyWaiters() {
  Waiters& w = GetWaiters();
  bool anyone;
  {
    std::lock_guard l(w.mutex);
    ++w.epoch;
    anyone = w.sleeping > 0;
  }
  if (anyone) w.cv.notify_all();
}

DWORD WaitAny(const std::shared_ptr<Object>* objects, DWORD count, DWORD ms, const WaitCondition* condition) {
  namespace clk = orvane::clock;
  const bool virtual_wait = ms != INFINITE && clk::VirtualWaitHere();
  const std::int64_t deadline =
      ms == INFINITE ? -1 : orvane::MonotonicNs() + static_cast<std::int64_t>(ms) * 1000000;
  for (;;) {
    // The epoch is read before looking, so a change made after a look wakes the sleep below.
    std::uint64_t seen = Epoch();
    for (DWORD i = 0; i < count; ++i) {
      if (objects[i]->TryAcquire()) return WAIT_OBJECT_0 + i;
    }
    if (condition && condition->ready && condition->ready(condition->context)) return WAIT_OBJECT_0 + count;
    if (virtual_wait) {
      // Scripted input on the way wakes a message wait there, as the user's input would.
      if (clk::AdvanceForWait(ms, condition != nullptr)) {
        for (DWORD i = 0; i < count; ++i) {
          if (objects[i]->TryAcquire()) return WAIT_OBJECT_0 + i;
        }
        return WAIT_OBJECT_0 + count;
      }
      return WAIT_TIMEOUT;
    }
    DWORD in = 0;
    if (ms == INFINITE && condition && clk::NextScheduledEvent(&in)) {
      // Without a time limit a message wait on the virtual clock goes on to the next scheduled
      // event; only when none is left does it sleep for real.
      if (clk::AdvanceForWait(in, true)) {
        for (DWORD i = 0; i < count; ++i) {
          if (objects[i]->TryAcquire()) return WAIT_OBJECT_0 + i;
        }
        return WAIT_OBJECT_0 + count;
      }
      continue;
    }
    std::int64_t slice = -1;
    if (deadline >= 0) {
      slice = deadline - orvane::MonotonicNs();
      if (slice <= 0) return WAIT_TIMEOUT;
    }
    if (condition) {
      int due = condition->due_in ? condition->due_in(condition->context) : -1;
      if (condition->poll && (due < 0 || due > condition->poll_ms)) due = condition->poll_ms;
      if (due >= 0) {
        std::int64_t due_ns = static_cast<std::int64_t>(due) * 1000000;
        slice = slice < 0 ? due_ns : std::min(slice, due_ns);
      }
    }
    if (slice != 0) WaitForChange(seen, slice);
    if (condition && condition->poll) condition->poll(condition->context);
  }
}

}  // namespace orvane::kernel

using namespace orvane::kernel;

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (wait_all && count > 1) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Object>> objects(count);
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = Lookup(handles[i]);
    if (!objects[i] || !objects[i]->Waitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  return WaitAny(objects.data(), count, ms, nullptr);
}
