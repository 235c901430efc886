// The timer table with its stack of free ids, the dispatch pass, WaitFor and the stopwatch.
#include "game/timer.h"

#include "game/engine_api.h"
#include "game/error_report.h"
#include "platform/mmsystem.h"

namespace {

struct DTimerEvent {
  TimerCallback callback;  // null: the slot is free
  uint32_t argument;       // handed to the callback
  uint32_t due;            // timeGetTime value at which the event fires
};

DTimerEvent g_events[kTimerEventCount];
// Entries from index g_used upward hold the free ids; the next id handed out is g_free[g_used].
uint32_t g_free_ids[kTimerEventCount];
int32_t g_used = 0;
bool g_changed = false;  // an event was added or the table reset since the last pass
uint32_t g_stopwatch_base = 0;
void (*g_redraw)() = nullptr;
int32_t g_redraw_count = 0;

constexpr uint32_t kKeyLeftControl = 0x1D;
constexpr uint32_t kKeyRightControl = 0x9D;

void FreeSlot(uint32_t id) {
  g_events[id].callback = nullptr;
  --g_used;
  g_free_ids[g_used] = id;
}

// The engine is closing: the play ends.
void LeaveWhenClosing() {
  if (g_engine.ovIsExit()) ThrowGameExit();
}

void PumpEngine() {
  DispatchTimerEvents();
  g_engine.ovClearEvent();
  g_engine.ovWaitEvent(0);
  LeaveWhenClosing();
}

}  // namespace

void InitTimerEvents() {
  for (int i = 0; i < kTimerEventCount; ++i) {
    g_events[i] = DTimerEvent{nullptr, 0, 0};
    g_free_ids[i] = static_cast<uint32_t>(i);
  }
  g_used = 0;
  g_changed = true;
}

void ResetTimerGlobals() {
  InitTimerEvents();
  g_stopwatch_base = 0;
  g_redraw_count = 0;
}

int32_t AddTimerEvent(TimerCallback callback, uint32_t argument, uint32_t delay) {
  if (g_used >= kTimerEventCount || !callback) FatalError("タイマーイベントをこれ以上登録できません。");
  uint32_t id = g_free_ids[g_used];
  ++g_used;
  g_events[id] = DTimerEvent{callback, argument, timeGetTime() + delay};
  g_changed = true;
  return static_cast<int32_t>(id);
}

void RemoveTimerEvent(int32_t id) {
  if (id < 0) return;
  if (id >= kTimerEventCount) FatalError("タイマーイベントIDが不正(%d)", id);
  // A free slot's id is already on the free stack; pushing it again would hand it out twice.
  if (!g_events[id].callback) return;
  FreeSlot(static_cast<uint32_t>(id));
}

uint32_t DispatchTimerEvents() {
  const uint32_t now = timeGetTime();
  uint32_t next = kLongestWaitSlice;
  bool fired = false;
  for (uint32_t id = 0; id < kTimerEventCount; ++id) {
    DTimerEvent& event = g_events[id];
    if (!event.callback) continue;
    const int32_t wait = static_cast<int32_t>(event.due - now);
    if (wait > 0) {
      if (static_cast<uint32_t>(wait) < next) next = static_cast<uint32_t>(wait);
      continue;
    }
    TimerCallback callback = event.callback;
    uint32_t argument = event.argument;
    FreeSlot(id);
    callback(argument);
    fired = true;
  }
  if (fired) {
    ++g_redraw_count;
    if (g_redraw) g_redraw();
  }
  if (g_changed) {
    g_changed = false;
    return 0;
  }
  return next;
}

void SetTimerRedraw(void (*redraw)()) {
  g_redraw = redraw;
}

int32_t TimerRedrawCount() {
  return g_redraw_count;
}

bool WaitFor(uint32_t time, WaitPredicate predicate, uint32_t argument) {
  const uint32_t start = timeGetTime();
  g_engine.ovClearEvent();
  if (predicate) {
    g_engine.ovClearKey();
    g_engine.ovClearMouse();
    g_engine.ovWaitKeyEvent(1);
    g_engine.ovWaitMouseEvent(1);
  }
  bool zero = true;
  for (;;) {
    uint32_t slice;
    bool time_up = false;
    if (time == kWaitForever) {
      slice = DispatchTimerEvents();
    } else {
      const uint32_t elapsed = timeGetTime() - start;
      const uint32_t remaining = elapsed > time ? 0 : time - elapsed;
      const uint32_t next = DispatchTimerEvents();
      slice = remaining < next ? remaining : next;
      time_up = remaining == 0;
    }
    g_engine.ovWaitEvent(zero ? 0 : static_cast<int32_t>(slice));
    zero = !zero;
    LeaveWhenClosing();
    if (predicate && predicate(argument)) return true;
    if (time_up) return false;
  }
}

bool IsSkipKeyHeld(uint32_t) {
  return g_engine.ovGetKeyState(kKeyLeftControl) || g_engine.ovGetKeyState(kKeyRightControl);
}

bool WaitOrSkip(uint32_t time) {
  return WaitFor(time, &IsSkipKeyHeld, 0);
}

uint32_t ResetStopwatch() {
  PumpEngine();
  g_stopwatch_base = timeGetTime();
  return g_stopwatch_base;
}

uint32_t GetStopwatchTime() {
  PumpEngine();
  return timeGetTime() - g_stopwatch_base;
}
