// The project's time helpers on clock_gettime: monotonic time, precise sleeps and timed
// condition-variable waits. Every unit uses these instead of <chrono>, which does not compile
// with the cp932 execution character set (-fexec-charset=CP932).
#pragma once

#include <time.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orvane {

// Nanoseconds and milliseconds of CLOCK_MONOTONIC (time since an unspecified start, never
// going back).
inline std::int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
inline std::int64_t MonotonicMs() {
  return MonotonicNs() / 1000000;
}

// A CLOCK_MONOTONIC time point as a timespec, for clock_nanosleep(TIMER_ABSTIME).
inline timespec MonotonicTimespec(std::int64_t ns) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

// Sleeps until the monotonic clock reaches ns; signals do not cut the sleep short.
inline void SleepUntilNs(std::int64_t ns) {
  timespec until = MonotonicTimespec(ns);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}
inline void SleepForNs(std::int64_t ns) {
  if (ns > 0) SleepUntilNs(MonotonicNs() + ns);
}

// Waits on cv (with lock held) until ready() holds or ns nanoseconds have passed (negative:
// no limit). Returns ready() at the end. The wait runs on the monotonic clock.
template <class Ready>
bool WaitForNs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::int64_t ns,
               Ready ready) {
  if (ns < 0) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::nanoseconds(ns), ready);
}

}  // namespace orvane
