// Motions: files of timed moves, turns and resizes of sprites, played by timer events in one of
// four motion slots while the game goes on.
#pragma once

#include <cstdint>

#include "base/dref.h"

inline constexpr int32_t kMotionSlots = 4;

// One statement of a motion file. sprite is the table slot; kNoSprite marks the event done.
struct DMotionEvent {
  enum Kind : int32_t { kPos = 0, kRot = 1, kSize = 2 };
  int32_t start = 0;  // ms from the motion's start
  int32_t sprite = 0;
  int32_t kind = kPos;
  bool first = true;  // the start values are not taken yet
  // @pos: position; @size: size.
  int32_t from_x = 0, from_y = 0, to_x = 0, to_y = 0;
  // @rot.
  uint32_t rotation = 0;  // the rotation bits of the style
  float from_angle = 0, to_angle = 0, pivot_x = 0, pivot_y = 0;
  int32_t span = 0;  // ms
};

struct DMotionSlot {
  int32_t count = 0;  // 0: free
  DRef<DMotionEvent> events;
  uint32_t start = 0;  // clock ms when the motion started
  int32_t timer = -1;  // pending timer event
};

// Reads "<name>.mot", starts its events in a free motion slot; sprite numbers in the file are
// added to base_slot. With wait, returns once the motion is over (checked every 100 ms).
void sprLoadMotion(int32_t base_slot, const char* name, bool wait);
// Registers the slot's next timer event, or empties the slot when no event is left.
void MotSchedule(int32_t slot);
// The timer callback: plays the slot's due events, then schedules the next.
void MotEvent(uint32_t slot);
// Every event aimed at the sprite is set to done.
void MotEndSprite(int32_t sprite);
// Every motion slot emptied, its timer event removed.
void MotClearAll();
// Every motion slot emptied without touching the timer table: the reset at each start.
void ResetMotionGlobals();
const DMotionSlot& MotionSlot(int32_t slot);
