// Audio streams: a play list of audio files with repeat counts and loop points, played through
// one looping two-second buffer whose halves a worker thread refills, one second decoded ahead.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/dfile.h"
#include "base/dlock.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "base/dthread.h"
#include "media/dwave.h"
#include "platform/dsound.h"

class Dsnd;

// One file of a play list.
class DsndStreamEntry : public DWave {
 public:
  uint32_t flags = 0;       // bit 0: the loop start applies to the first pass too
  int32_t repeat = 0;       // 0 once, n: n + 1 times, -1: without end; lowered as it repeats
  float loop_start = 0.0f;  // seconds from the start; 0 or less: none
};

class DsndStreamList : public DObject {
 public:
  // Opens the source as a new entry; false when no reader accepts it or its PCM format differs
  // from the first entry's.
  bool Add(const DFile& source, int32_t repeat, float loop_start, uint32_t flags);
  // At the end of the current entry: the same entry again while it repeats, else the next one;
  // false when nothing follows.
  bool Next();
  // Back to the first entry; repeat counts used up by an earlier play stay used up.
  void Rewind();
  void Clear();
  bool IsValid() const { return true; }
  bool IsEmpty() const { return entries_.IsEmpty(); }
  DRef<DsndStreamEntry> GetCurrent() const { return current_; }
  DRef<DsndStreamEntry> GetFirst() { return entries_.Front(); }

 private:
  DRefList<DsndStreamEntry> entries_;
  DRefList<DsndStreamEntry>::Iterator iterator_;  // node of the current entry
  DRef<DsndStreamEntry> current_;                 // empty once the list is exhausted
};

class DsndStream : public DObject {
 public:
  static constexpr uint32_t kRunning = 0x1;
  static constexpr uint32_t kStopRequest = 0x2;
  static constexpr uint32_t kResumeRequest = 0x4;
  static constexpr uint32_t kPauseRequest = 0x8;

  DsndStream() = default;
  DsndStream(const DsndStream&) = delete;
  DsndStream& operator=(const DsndStream&) = delete;
  ~DsndStream() override;

  // Makes the buffer, its notifications and the events; false on an empty list or a failure.
  bool Open(Dsnd* device, const DRef<DsndStreamList>& list);
  bool Close();
  // Starts the worker at the top of the list when idle and waits until it has started playing
  // (or held back while the window is inactive); nothing while it runs.
  void Play();
  // Ends the worker and waits for it.
  void Stop();
  // Requests of the device's suspend and resume; they act only with the pause-while-inactive
  // switch on and a running worker, and wait for its acknowledgement.
  void RequestPause();
  void RequestResume();

  uint32_t GetState() const { return state_.load(std::memory_order_acquire); }
  IDirectSoundBuffer* GetBuffer() const { return buffer_; }
  void SetNode(DRefList<DsndStream>::Iterator node) { node_ = node; }
  DRefList<DsndStream>::Iterator TakeNode() {
    DRefList<DsndStream>::Iterator n = node_;
    node_ = DRefList<DsndStream>::Iterator();
    return n;
  }

 private:
  static unsigned ThreadProc(void* stream);
  unsigned Run();
  // Fills the scratch with the next half; true when the list gave nothing more for it.
  bool FillHalf();
  void Request(uint32_t bit);
  // Locks bytes at offset for writing, restoring a lost buffer once.
  bool LockHalf(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2, DWORD flags);
  unsigned EndWorker(bool failed);
  void WaitForOldWorker();

  Dsnd* owner_ = nullptr;
  DRef<DsndStreamList> list_;
  IDirectSoundBuffer* buffer_ = nullptr;
  IDirectSoundNotify* notify_ = nullptr;
  DLock lock_;
  DEvent notify_event_;
  DEvent command_event_;
  DEvent ack_event_;
  DThread worker_;
  std::atomic<uint32_t> state_{0};
  std::atomic<bool> paused_{false};  // the worker holds the buffer stopped (paused or held back)
  DRef<uint8_t> scratch_;
  uint32_t half_ = 0;
  DRefList<DsndStream>::Iterator node_;
  // Worker-only state.
  uint32_t pass_bytes_ = 0;  // bytes the current entry gave in its current pass
};
