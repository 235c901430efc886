// The frame timer.
#include "shell/cframetimer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/dpump.h"
#include "platform/mmsystem.h"
#include "shell/cmainwindow.h"
#include "shell/engine_units.h"
#include "vm/script_task.h"

CFrameTimer& FrameTimer() {
  static CFrameTimer* timer = new CFrameTimer;
  return *timer;
}

bool CFrameTimer::Init() {
  if (period_ != 0) return false;
  TIMECAPS caps;
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return false;
  if (timeBeginPeriod(caps.wPeriodMin) != TIMERR_NOERROR) return false;
  period_ = caps.wPeriodMin;
  skips_in_row_ = 0;
  skip_limit_ = 0;
  loop_rate_ = 0;
  drawn_rate_ = 0;
  flags_ = kPause;
  uint32_t bits = 0x41855555;  // 16.666666f
  float ms;
  std::memcpy(&ms, &bits, sizeof ms);
  SetInterval(ms);
  return true;
}

void CFrameTimer::Term() {
  if (period_ == 0) return;
  timeEndPeriod(period_);
  period_ = 0;
}

void CFrameTimer::SetInterval(float milliseconds) {
  // The product is rounded to a float first, then to the nearest integer (ties to even).
  volatile float product = milliseconds * 65536.0f;
  float p = product;
  if (!(p > 0.0f)) {
    interval_ = 0;  // negative, zero or NaN
  } else if (p >= 4294967296.0f) {
    interval_ = UINT32_MAX;
  } else {
    interval_ = static_cast<uint32_t>(std::nearbyint(static_cast<double>(p)));
  }
  Restart();
}

void CFrameTimer::SetFPS(int32_t fps) {
  // The rate is divided in float, as unsigned; a rate of 0 would divide by zero: it changes nothing.
  if (fps == 0) return;
  SetInterval(1000.0f / static_cast<float>(static_cast<uint32_t>(fps)));
}

float CFrameTimer::GetInterval() const {
  return static_cast<float>(interval_) * (1.0f / 65536.0f);
}

void CFrameTimer::Restart() {
  frame_base_ = second_start_ = timeGetTime();
  flags_ &= ~(kSkip | kRestart);
  skips_in_row_ = 0;
  accumulator_ = 0;
  drawn_count_ = 0;
  loop_count_ = 0;
}

void CFrameTimer::WriteRateCaption() {
  char caption[64];
  std::snprintf(caption, sizeof caption, "%d / %d FPS", static_cast<int>(drawn_rate_),
                static_cast<int>(loop_rate_));
  HWND hwnd = MainWindow().GetHandle();
  if (hwnd) SetWindowTextA(hwnd, caption);
}

void CFrameTimer::ShowFPS(bool on) {
  if (on) {
    flags_ |= kShowRate;
    WriteRateCaption();
  } else {
    flags_ &= ~kShowRate;
  }
}

void CFrameTimer::SetTimePause(bool on) {
  if (on) {
    flags_ |= kPause;
  } else {
    flags_ &= ~kPause;
  }
  SetUnitsTimePause(on);
}

void CFrameTimer::SleepPumping(uint32_t n) {
  if (n == 0) return;
  const DWORD start = timeGetTime();
  if (n > 3) Sleep(n - 3);
  do {
    DPumpMessages();
    // The pumping keeps the window responsive for the last milliseconds; a short sleep keeps
    // it from burning a core meanwhile.
    if (timeGetTime() - start < n) Sleep(1);
  } while (timeGetTime() - start < n);
}

bool CFrameTimer::Wait() {
  if ((flags_ & kPause) && (flags_ & kSuspended)) {
    if (flags_ & kShowRate) {
      HWND hwnd = MainWindow().GetHandle();
      if (hwnd) SetWindowTextA(hwnd, "-- Pause --");
    }
    while (flags_ & kSuspended) {
      WaitMessage();
      DPumpMessages();
      if (AllTasksEnded()) break;
    }
  }
  if (flags_ & kRestart) Restart();
  const DWORD now = timeGetTime();
  if (now - second_start_ >= 1000) {
    second_start_ += 1000;
    loop_rate_ = loop_count_;
    drawn_rate_ = drawn_count_;
    loop_count_ = drawn_count_ = 0;
    if (flags_ & kShowRate) WriteRateCaption();
  }
  // 64 bits: the carried fraction plus the largest interval does not fit 32.
  const uint64_t sum = uint64_t{accumulator_} + interval_;
  const uint32_t f = static_cast<uint32_t>(sum >> 16);
  accumulator_ = static_cast<uint32_t>(sum & 0xFFFF);
  const uint32_t elapsed = now - frame_base_;
  if (elapsed < f) {
    flags_ &= ~kSkip;
    ++drawn_count_;
    skips_in_row_ = 0;
    SleepPumping(f - elapsed);
  } else {
    if (skip_limit_ == 0) {
      flags_ |= kSkip;
    } else if (++skips_in_row_ >= skip_limit_) {
      flags_ &= ~kSkip;
      ++drawn_count_;
      skips_in_row_ = 0;
    } else {
      flags_ |= kSkip;
    }
    DPumpMessages();
  }
  frame_base_ += f;
  ++loop_count_;
  orvane::clock::NoteFrameWait();  // the paced presents of a virtual clock count this frame done
  return (flags_ & kSkip) != 0;
}
