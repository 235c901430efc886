// Multimedia timer interfaces: the millisecond clock and the timer resolution; and the virtual
// clock that tests install in its place.
#pragma once

#include "platform/kernel.h"
#include "platform/wave_format.h"
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

// A schedule of timed events on the virtual clock (the headless input script): next_due gives
// the milliseconds from now to the next event (false when none is left); deliver_due delivers
// every event due now and tells whether one of them was user input (mouse, keys, close). While a
// schedule is set, the clock thread's waits stop at each event on their way, deliver it, and a
// message wait that input would wake (MsgWaitForMultipleObjects, also without a time limit while
// an event is left) returns there; the clock never moves past a due event. Null functions: none.
ORVANE_CLOCK_API void SetVirtualSchedule(bool (*next_due)(DWORD* in_ms), bool (*deliver_due)());
// While on, a present that follows the previous one with no wait between (the virtual clock did
// not move, no frame wait ran) takes one frame of 60 per second (16 or 17 ms; 60 such frames make
// 1000 ms), so a loop that presents without waiting still sees time pass. Presents paced by waits
// add nothing.
ORVANE_CLOCK_API void PaceVirtualPresents(bool on);
// The frame timer's wait ran (also one that found the frame late and did not sleep).
ORVANE_CLOCK_API void NoteFrameWait();

// For the platform's waits: whether a finite wait on this thread runs on the virtual clock; and
// the advance that a timed-out wait makes: ms (INFINITE: none) through the scheduled events on
// the way. With wake_on_input it stops right after an event that was user input and returns true.
bool VirtualWaitHere();
bool AdvanceForWait(DWORD ms, bool wake_on_input = false);
// On the clock thread with a schedule: the milliseconds to the next scheduled event.
bool NextScheduledEvent(DWORD* in_ms);
// Called by the client surface for every picture presented to the host.
void VirtualPresent();

}  // namespace orvane::clock

// ---- Multimedia timers

#define TIME_ONESHOT 0x0000u
#define TIME_PERIODIC 0x0001u
using LPTIMECALLBACK = void (*)(UINT timer_id, UINT msg, DWORD_PTR user, DWORD_PTR dw1, DWORD_PTR dw2);
// Starts a timer on a thread of its own that calls callback every delay ms (TIME_PERIODIC) or
// once. Deadlines are absolute: a late callback does not shift the later ones, and deadlines
// missed while a callback ran are skipped, never made up in a burst. Periodic timers always run
// on the real clock, also while a test uses the virtual clock. Returns the timer id, 0 on
// failure (delay 0 or outside the period range, no callback).
ORVANE_API MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                                 UINT flags);
// Stops a timer. Works from inside the timer's own callback, and never waits for a callback in
// flight on another thread: after it returns at most that one call may still be running.
// TIMERR_NOCANDO for an unknown id.
ORVANE_API MMRESULT timeKillEvent(UINT timer_id);

// ---- MIDI output

// MMSYSERR_* codes: platform/wave_format.h.
#define MIDIERR_UNPREPARED 64u
#define MIDI_MAPPER (static_cast<UINT>(-1))
#define CALLBACK_NULL 0x00000000u
#define MHDR_DONE 0x00000001u
#define MHDR_PREPARED 0x00000002u

ORVANE_DECLARE_HANDLE(HMIDIOUT);
using LPHMIDIOUT = HMIDIOUT*;

struct MIDIHDR {
  char* lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  MIDIHDR* lpNext;
  DWORD_PTR reserved;
  DWORD dwOffset;
  DWORD_PTR dwReserved[8];
};
using LPMIDIHDR = MIDIHDR*;

// One output port: MIDI_MAPPER or device 0. On the headless host the port records every message
// (platform/midi_record.h); on the SDL host a software synthesizer renders into the mixer, and
// without one (no synthesizer library, no sound font) the open fails with MMSYSERR_NODRIVER.
ORVANE_API MMRESULT midiOutOpen(LPHMIDIOUT out, UINT device_id, DWORD_PTR callback, DWORD_PTR instance,
                                DWORD flags);
// Sends status | data1 << 8 | data2 << 16 (one, two or three bytes by the status).
ORVANE_API MMRESULT midiOutShortMsg(HMIDIOUT out, DWORD msg);
ORVANE_API MMRESULT midiOutPrepareHeader(HMIDIOUT out, LPMIDIHDR header, UINT size);
ORVANE_API MMRESULT midiOutUnprepareHeader(HMIDIOUT out, LPMIDIHDR header, UINT size);
// Sends a prepared buffer as one system exclusive message; MHDR_DONE is set before it returns.
ORVANE_API MMRESULT midiOutLongMsg(HMIDIOUT out, LPMIDIHDR header, UINT size);
// Turns every note off: All Notes Off and sustain off on the 16 channels.
ORVANE_API MMRESULT midiOutReset(HMIDIOUT out);
ORVANE_API MMRESULT midiOutClose(HMIDIOUT out);
