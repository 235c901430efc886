// The software mixer, its source list and its three sinks (host device, real-time null, manual).
#include "platform/mixer.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/host.h"
#include "platform/kernel.h"

namespace orvane::audio {

// The mixer's view of a source's list links.
class MixerAccess {
 public:
  static MixSource*& Prev(MixSource* s) { return s->prev_; }
  static MixSource*& Next(MixSource* s) { return s->next_; }
  static bool& Linked(MixSource* s) { return s->linked_; }
};

namespace {

enum class Sink { kNone, kHost, kNull, kManual };

constexpr unsigned kDefaultRate = 44100;
constexpr unsigned kMaxBlock = 4096;   // frames summed per pass
constexpr unsigned kManualBlock = 64;  // frames per pass of a manual step
constexpr unsigned kMaxAwaiting = 64;  // buffers awaiting an answer at once

// Everything the mixer keeps; made once and never destroyed, so that a sink thread still running
// at process exit never touches a destroyed object.
struct State {
  std::recursive_mutex lock;             // guards everything below and every source's state
  std::condition_variable_any answered;  // signalled when an awaited answer comes
  MixSource* head = nullptr;             // the sources, in the order added
  MixSource* tail = nullptr;
  Sink sink = Sink::kNone;
  unsigned rate = kDefaultRate;
  std::int32_t acc[kMaxBlock * 2];     // the sums of one pass
  const void* awaiting[kMaxAwaiting];  // buffers whose owner has not yet answered
  unsigned awaiting_count = 0;
  // The null sink's thread.
  pthread_t null_thread{};
  std::atomic<bool> null_stop{false};
  std::int16_t null_out[kMaxBlock * 2];
};

State& S() {
  static State* state = new State;
  return *state;
}

// Sums `frames` (at most kMaxBlock) frames of every source into out, saturating. Lock held.
void RenderLocked(State& s, std::int16_t* out, unsigned frames) {
  std::memset(s.acc, 0, sizeof(std::int32_t) * 2 * frames);
  for (MixSource* src = s.head; src;) {
    MixSource* next = MixerAccess::Next(src);  // a source may unlink itself while mixing
    src->Mix(s.acc, frames, s.rate);
    src = next;
  }
  for (unsigned i = 0; i < frames * 2; ++i) {
    std::int32_t v = s.acc[i];
    out[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
  }
}

// The host device's pull: fills whole requests in passes of kMaxBlock frames.
void HostRender(std::int16_t* out, unsigned frames) {
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  while (frames > 0) {
    unsigned n = frames < kMaxBlock ? frames : kMaxBlock;
    RenderLocked(s, out, n);
    out += n * 2;
    frames -= n;
  }
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The null sink: mixes in real time and drops the result, so buffers play, end and notify on
// time when no device opens.
void* NullSinkMain(void*) {
  State& s = S();
  double start = Now();
  std::uint64_t done = 0;  // frames mixed since start
  while (!s.null_stop.load(std::memory_order_acquire)) {
    timespec pause{0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    std::uint64_t due = static_cast<std::uint64_t>((Now() - start) * s.rate);
    std::lock_guard<std::recursive_mutex> l(s.lock);
    while (done < due) {
      std::uint64_t left = due - done;
      unsigned n = left < kMaxBlock ? static_cast<unsigned>(left) : kMaxBlock;
      RenderLocked(s, s.null_out, n);
      done += n;
    }
  }
  return nullptr;
}

// Stops whatever sink runs (lock not held: a host device's close waits for its callback).
void StopSinkUnlocked() {
  State& s = S();
  Sink was;
  {
    std::lock_guard<std::recursive_mutex> l(s.lock);
    was = s.sink;
    s.sink = Sink::kNone;
    s.awaiting_count = 0;
    s.answered.notify_all();
  }
  if (was == Sink::kHost) {
    host::Current().CloseAudio();
  } else if (was == Sink::kNull) {
    s.null_stop.store(true, std::memory_order_release);
    pthread_join(s.null_thread, nullptr);
    s.null_stop.store(false, std::memory_order_release);
  }
}

}  // namespace

void AddSource(MixSource* source) {
  EnsureSink();
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  if (MixerAccess::Linked(source)) return;
  MixerAccess::Linked(source) = true;
  MixerAccess::Prev(source) = s.tail;
  MixerAccess::Next(source) = nullptr;
  if (s.tail) {
    MixerAccess::Next(s.tail) = source;
  } else {
    s.head = source;
  }
  s.tail = source;
}

void RemoveSource(MixSource* source) {
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  if (!MixerAccess::Linked(source)) return;
  MixSource* prev = MixerAccess::Prev(source);
  MixSource* next = MixerAccess::Next(source);
  if (prev) {
    MixerAccess::Next(prev) = next;
  } else {
    s.head = next;
  }
  if (next) {
    MixerAccess::Prev(next) = prev;
  } else {
    s.tail = prev;
  }
  MixerAccess::Prev(source) = MixerAccess::Next(source) = nullptr;
  MixerAccess::Linked(source) = false;
}

void WithMixerLock(void (*f)(void* context), void* context) {
  std::lock_guard<std::recursive_mutex> l(S().lock);
  f(context);
}
void LockMixer() {
  S().lock.lock();
}
void UnlockMixer() {
  S().lock.unlock();
}

unsigned MixerRate() {
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  return s.rate;
}

void EnsureSink() {
  State& s = S();
  {
    std::lock_guard<std::recursive_mutex> l(s.lock);
    if (s.sink != Sink::kNone) return;
  }
  unsigned rate = 0;
  if (host::Current().OpenAudio(&rate, HostRender) && rate >= 8000) {
    std::lock_guard<std::recursive_mutex> l(s.lock);
    s.rate = rate;
    s.sink = Sink::kHost;
    return;
  }
  std::lock_guard<std::recursive_mutex> l(s.lock);
  if (s.sink != Sink::kNone) return;
  s.rate = kDefaultRate;
  if (pthread_create(&s.null_thread, nullptr, NullSinkMain, nullptr) != 0) return;
  s.sink = Sink::kNull;
  OutputDebugStringA("[Mixer] no audio device opens: sound goes to the null sink\n");
}

const char* SinkName() {
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  switch (s.sink) {
    case Sink::kHost:
      return "host";
    case Sink::kNull:
      return "null";
    case Sink::kManual:
      return "manual";
    default:
      return "none";
  }
}

void UseManualSink(unsigned rate) {
  StopSinkUnlocked();
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  s.rate = rate ? rate : kDefaultRate;
  s.sink = Sink::kManual;
}

void StopSink() {
  StopSinkUnlocked();
}

void StepManualSink(unsigned frames, std::vector<std::int16_t>* out) {
  State& s = S();
  std::unique_lock<std::recursive_mutex> l(s.lock);
  if (s.sink != Sink::kManual) return;
  std::int16_t block[kManualBlock * 2];
  while (frames > 0) {
    unsigned n = frames < kManualBlock ? frames : kManualBlock;
    RenderLocked(s, block, n);
    if (out) out->insert(out->end(), block, block + n * 2);
    frames -= n;
    if (s.awaiting_count > 0) {
      // The lock is released while waiting, so the owner can Unlock or Stop its buffer.
      bool answered = s.answered.wait_for(l, std::chrono::seconds(2), [&] { return s.awaiting_count == 0; });
      if (!answered) s.awaiting_count = 0;
    }
  }
}

void ExpectAnswer(const void* key) {
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  if (s.sink != Sink::kManual) return;
  for (unsigned i = 0; i < s.awaiting_count; ++i) {
    if (s.awaiting[i] == key) return;
  }
  if (s.awaiting_count < kMaxAwaiting) s.awaiting[s.awaiting_count++] = key;
}

void Answer(const void* key) {
  State& s = S();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  for (unsigned i = 0; i < s.awaiting_count; ++i) {
    if (s.awaiting[i] == key) {
      s.awaiting[i] = s.awaiting[--s.awaiting_count];
      if (s.awaiting_count == 0) s.answered.notify_all();
      return;
    }
  }
}

}  // namespace orvane::audio
