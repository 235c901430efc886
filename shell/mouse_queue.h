// The mouse event queues that the main window fills and scripts read: a live queue of 64 events
// and the snapshot being read.
#pragma once

#include <cstdint>

// Kinds: 0 left, 1 middle, 2 right button down; 3 moved; 4 left, 5 middle, 6 right button up;
// 7 capture cancelled while a button was held (x = y = 0).
struct MouseEvent {
  uint32_t kind;
  int32_t x;
  int32_t y;
};

inline constexpr int kMouseQueueSize = 64;
inline constexpr uint32_t kMouseMove = 3;
inline constexpr uint32_t kMouseCancel = 7;

class MouseQueues {
 public:
  // Appends an event to the live queue; a full queue drops it, and a move updates a move already
  // queued (which keeps its place) instead of adding one.
  void PushMouseEvent(uint32_t kind, int32_t x, int32_t y);
  // The live queue becomes the snapshot (read from its start) and is emptied.
  void ClearMouse();
  // An event of the snapshot is left to read.
  bool HasMouseEvent() const { return read_ < snapshot_count_; }
  // Takes the next snapshot event; false (nothing written) when none is left.
  bool PopMouseEvent(uint32_t* kind, int32_t* x, int32_t* y);
  // Empties both queues.
  void Reset();

  int LiveCount() const { return live_count_; }
  const MouseEvent& Live(int i) const { return live_[i]; }

 private:
  int32_t snapshot_count_ = 0;
  int32_t read_ = 0;
  MouseEvent snapshot_[kMouseQueueSize] = {};
  int32_t live_count_ = 0;
  MouseEvent live_[kMouseQueueSize] = {};
};

// The engine's queues (part of the Input unit).
MouseQueues& EngineMouseQueues();
