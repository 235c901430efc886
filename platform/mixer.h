// The one software mixer: every sound of the process (DirectSound buffers, and later the MIDI
// synthesizer and movie sound) is a source that it pulls, sums into 16-bit stereo at its own rate
// and hands to one sink: the host's audio device, a real-time null sink, or a manual sink that a
// test steps by frames and reads back.
#pragma once

#include <cstdint>
#include <vector>

#define ORVANE_AUDIO_API __attribute__((visibility("default")))

namespace orvane::audio {

// A sound the mixer pulls. Mix runs on the mixing thread with the mixer's lock held: it must
// neither allocate nor wait on any other lock, and it only adds to what is there.
class MixSource {
 public:
  virtual ~MixSource() = default;
  // Adds `frames` frames at `rate` Hz to acc (interleaved left, right; 32-bit sums, where a
  // full-scale 16-bit sample counts as itself).
  virtual void Mix(std::int32_t* acc, unsigned frames, unsigned rate) = 0;

 private:
  friend class MixerAccess;
  MixSource* prev_ = nullptr;  // neighbours in the mixer's list while linked
  MixSource* next_ = nullptr;
  bool linked_ = false;
};

// Adds a source (nothing when it is already added) and starts the sink if none runs yet.
ORVANE_AUDIO_API void AddSource(MixSource* source);
// Removes a source; once this returns the mixer no longer touches it.
ORVANE_AUDIO_API void RemoveSource(MixSource* source);
// Runs f with the mixer's lock held (the lock is recursive for the calling thread). Sources keep
// their playing state under this lock so that a Mix call never sees it half changed.
ORVANE_AUDIO_API void WithMixerLock(void (*f)(void* context), void* context);
// Takes and leaves the mixer's lock (for RAII helpers of the sources).
ORVANE_AUDIO_API void LockMixer();
ORVANE_AUDIO_API void UnlockMixer();

// The rate of the mixer's output in Hz (the sink's rate; 44100 before a sink runs).
ORVANE_AUDIO_API unsigned MixerRate();
// Starts the default sink when none runs: the host's audio device, else the real-time null sink
// (which writes one log line). Called by the sources' owners when sound is first needed.
ORVANE_AUDIO_API void EnsureSink();
// The name of the running sink: "none", "host", "null" or "manual".
ORVANE_AUDIO_API const char* SinkName();

// ---- Tests: the manual sink. Stops whatever sink runs and mixes only when stepped, at `rate`.
ORVANE_AUDIO_API void UseManualSink(unsigned rate);
// Mixes `frames` frames and appends them to *out (interleaved left, right). When the mixing
// signals a notification that a buffer's owner must answer (its next Unlock or Stop of that
// buffer), the step waits for the answer, at most two seconds, before it goes on; so a test can
// step seconds at once while a stream's worker keeps its buffer filled.
ORVANE_AUDIO_API void StepManualSink(unsigned frames, std::vector<std::int16_t>* out);
// Stops the manual sink; the next EnsureSink starts the default one again.
ORVANE_AUDIO_API void StopSink();

// ---- For sources that signal notifications (DirectSound buffers). Under the manual sink, a
// source that signals one calls ExpectAnswer(key) during Mix, and its owner's answer calls
// Answer(key); both are cheap no-ops under the other sinks. key identifies the awaiting buffer.
ORVANE_AUDIO_API void ExpectAnswer(const void* key);
ORVANE_AUDIO_API void Answer(const void* key);

}  // namespace orvane::audio
