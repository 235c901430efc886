// Timer events and waits: the game's one timer table, WaitFor, the skip-key test and the
// stopwatch. Time passes for the game only inside these waits.
#pragma once

#include <cstdint>

// A timer event's work; it gets the argument it was registered with.
using TimerCallback = void (*)(uint32_t argument);
// A wait's condition, tested after each engine wait.
using WaitPredicate = bool (*)(uint32_t argument);

// The number of timer slots (ids 0 to 127).
inline constexpr int kTimerEventCount = 128;
// WaitFor's time for a wait without limit.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
// The longest engine wait a wait hands out when no event is pending.
inline constexpr uint32_t kLongestWaitSlice = 16777215u;

// Every slot free, ids handed out again from 0, the changed flag set.
void InitTimerEvents();
// InitTimerEvents plus the stopwatch base and the redraw count back to 0: the reset at each
// start of the game. The redraw hook stays.
void ResetTimerGlobals();

// Registers callback(argument) due delay ms from now; returns its id. The id freed last is
// handed out first. 128 pending events or a null callback end the play with
// "タイマーイベントをこれ以上登録できません。".
int32_t AddTimerEvent(TimerCallback callback, uint32_t argument, uint32_t delay);
// Frees the event's slot. A negative id or the id of a free slot does nothing; an id of 128 or
// more ends the play with "タイマーイベントIDが不正(%d)".
void RemoveTimerEvent(int32_t id);
// Fires every due event in id order, each slot freed before its callback runs, then redraws once
// when any fired. Returns the ms until the next pending event (kLongestWaitSlice when none), or
// 0 when an event was added or the table reset since the last pass. Due times compare by their
// signed 32-bit distance from now, so events keep their timing across the clock's wrap.
uint32_t DispatchTimerEvents();

// The redraw after a pass in which events fired; null: only counted. Every redraw is counted.
void SetTimerRedraw(void (*redraw)());
int32_t TimerRedrawCount();

// Waits up to time ms (kWaitForever: no limit), firing due events between engine waits, which
// alternate a 0-ms poll and a full slice. With a predicate, keys and mouse are cleared first, the
// engine wait wakes on key and mouse events, and the wait returns true as soon as the predicate
// holds for argument. False when the time ran out. Throws DExceptGame when the engine is closing.
bool WaitFor(uint32_t time, WaitPredicate predicate, uint32_t argument);
// Left or right Ctrl is held. The argument is not used.
bool IsSkipKeyHeld(uint32_t argument);
// WaitFor(time, IsSkipKeyHeld, 0): a wait that holding Ctrl cuts short.
bool WaitOrSkip(uint32_t time);

// One engine pump (due events, ovClearEvent, a 0-ms engine wait, the close test), then the
// stopwatch starts at now; returns now.
uint32_t ResetStopwatch();
// One engine pump, then the ms since the stopwatch started.
uint32_t GetStopwatchTime();
