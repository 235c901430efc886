// CFrameTimer: paces the scripts' frames on the millisecond clock (16.16 fixed-point frame
// lengths), counts frames per second, holds the program while the engine is suspended.
#pragma once

#include <cstdint>

#include "base/dobject.h"

class CFrameTimer : public DObject {
 public:
  // Flags.
  static constexpr uint32_t kSkip = 1;                   // the current frame is late: do not draw it
  static constexpr uint32_t kShowRate = 2;               // the rates are shown in the main window's caption
  static constexpr uint32_t kRestart = 4;                // the next wait restarts the frame clock
  static constexpr uint32_t kPause = 8;                  // hold while the engine is suspended
  static constexpr uint32_t kSuspended = 16;             // the engine is suspended
  static constexpr uint32_t kDefaultInterval = 1092267;  // 16.666666 ms: 60 frames per second

  ~CFrameTimer() override { Term(); }

  // Raises the timer resolution and starts the clock at 60 frames per second; false when the
  // resolution cannot be had or a period is already held.
  bool Init();
  // Gives the resolution back.
  void Term();
  // Waits until the next frame is due; true when the frame is late and should not be drawn.
  bool Wait();
  // Frame length in milliseconds. A negative or NaN length becomes 0, one too large for the
  // fixed-point interval the largest interval.
  void SetInterval(float milliseconds);
  // SetInterval(1000 / fps), fps taken as unsigned; 0 changes nothing.
  void SetFPS(int32_t fps);
  float GetInterval() const;
  void Restart();
  void SetSkipLimit(uint32_t n) {
    skip_limit_ = n;
    skips_in_row_ = 0;
  }
  bool IsSkip() const { return (flags_ & kSkip) != 0; }
  uint32_t GetLoopRate() const { return loop_rate_; }
  uint32_t GetDrawnRate() const { return drawn_rate_; }
  uint32_t GetCount() const { return loop_count_; }
  void ShowFPS(bool on);
  void SetTimePause(bool on);
  void Suspend() { flags_ |= kSuspended; }
  void Resume() {
    flags_ &= ~kSuspended;
    flags_ |= kRestart;
  }

  uint32_t GetFlags() const { return flags_; }
  uint32_t GetIntervalFixed() const { return interval_; }
  uint32_t GetPeriod() const { return period_; }

  // The short sleep: Sleep(n - 3) when n > 3, then message pumps until n ms have passed.
  static void SleepPumping(uint32_t n);

 private:
  void WriteRateCaption();

  uint32_t period_ = 0;
  uint32_t frame_base_ = 0;
  uint32_t interval_ = kDefaultInterval;
  uint32_t accumulator_ = 0;
  uint32_t loop_rate_ = 0;
  uint32_t drawn_rate_ = 0;
  uint32_t loop_count_ = 0;
  uint32_t drawn_count_ = 0;
  uint32_t second_start_ = 0;
  uint32_t flags_ = 0;
  uint32_t skip_limit_ = 0;
  uint32_t skips_in_row_ = 0;
};

// The engine's frame timer.
CFrameTimer& FrameTimer();
