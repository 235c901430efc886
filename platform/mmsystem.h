// Multimedia timer interfaces: the millisecond clock and the timer resolution; and the virtual
// clock that tests install in its place.
#pragma once

#include "platform/kernel.h"
#include "platform/wintypes.h"

using MMRESULT = UINT;
#define TIMERR_NOERROR 0u
#define TIMERR_NOCANDO 97u

struct TIMECAPS {
  UINT wPeriodMin;
  UINT wPeriodMax;
};
using LPTIMECAPS = TIMECAPS*;

// Milliseconds of the monotonic clock as 32 bits: wraps every 49.7 days, so callers take
// differences as unsigned 32-bit values.
ORVANE_API DWORD timeGetTime();
// The timer's period range (1 to 1000000 ms). TIMERR_NOCANDO for a null record or a size other
// than sizeof(TIMECAPS).
ORVANE_API MMRESULT timeGetDevCaps(LPTIMECAPS caps, UINT size);
// Requests and gives back a timer resolution. The host's sleeps are already accurate to well
// below a millisecond, so these only count: an end without a matching begin, or a period outside
// the range, gives TIMERR_NOCANDO.
ORVANE_API MMRESULT timeBeginPeriod(UINT period);
ORVANE_API MMRESULT timeEndPeriod(UINT period);

namespace orvane::clock {

#define ORVANE_CLOCK_API __attribute__((visibility("default")))

// Replaces the clock by a virtual one that starts at start (e.g. 2^32 - 500 to test the wrap).
// The calling thread becomes the clock's thread: its Sleep calls and its waits that time out
// (WaitForSingleObject, WaitForMultipleObjects, MsgWaitForMultipleObjects with a finite time)
// return at once and advance the clock by their time instead of blocking. Other threads see the
// virtual time and sleep and wait for real.
ORVANE_CLOCK_API void UseVirtualClock(DWORD start);
// Back to the monotonic clock.
ORVANE_CLOCK_API void UseRealClock();
ORVANE_CLOCK_API bool IsVirtualClock();
// Moves the virtual clock forward (no effect on the real clock).
ORVANE_CLOCK_API void AdvanceVirtualClock(DWORD ms);
// While on, timeGetDevCaps and timeBeginPeriod fail with TIMERR_NOCANDO.
ORVANE_CLOCK_API void FailTimerCaps(bool on);
// The number of timeBeginPeriod calls not yet ended.
ORVANE_CLOCK_API int HeldTimerPeriods();

// For the platform's waits: whether a finite wait on this thread runs on the virtual clock; and
// the advance that a timed-out wait makes.
bool VirtualWaitHere();
void AdvanceForWait(DWORD ms);

}  // namespace orvane::clock
