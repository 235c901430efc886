// The mouse event queues.
#include "shell/mouse_queue.h"

void MouseQueues::PushMouseEvent(uint32_t kind, int32_t x, int32_t y) {
  if (live_count_ >= kMouseQueueSize) return;
  if (kind == kMouseMove) {
    for (int i = 0; i < live_count_; ++i) {
      if (live_[i].kind == kMouseMove) {
        live_[i].x = x;
        live_[i].y = y;
        return;
      }
    }
  }
  live_[live_count_++] = MouseEvent{kind, x, y};
}

void MouseQueues::ClearMouse() {
  snapshot_count_ = live_count_;
  for (int i = 0; i < kMouseQueueSize; ++i) snapshot_[i] = live_[i];
  read_ = 0;
  live_count_ = 0;
}

bool MouseQueues::PopMouseEvent(uint32_t* kind, int32_t* x, int32_t* y) {
  if (read_ >= snapshot_count_) return false;
  const MouseEvent& e = snapshot_[read_++];
  *kind = e.kind;
  *x = e.x;
  *y = e.y;
  return true;
}

void MouseQueues::Reset() {
  snapshot_count_ = 0;
  read_ = 0;
  live_count_ = 0;
}

MouseQueues& EngineMouseQueues() {
  static MouseQueues queues;
  return queues;
}
