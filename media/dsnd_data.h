// Sound data and voices: one loaded sound file (cached by the device under its name) and the
// voice sets made from it, each N buffers of the same PCM so one sound can sound N times at once.
#pragma once

#include <cstdint>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "base/dstring.h"
#include "media/dwave.h"
#include "platform/dsound.h"

class Dsnd;
class DsndVoices;

class DsndData : public DObject {
 public:
  DsndData() = default;
  DsndData(const DsndData&) = delete;
  DsndData& operator=(const DsndData&) = delete;
  ~DsndData() override;

  // Opens the source under the name (cut to 263 characters); false when already loaded or the
  // file is not audio that the reader accepts (logged).
  bool Load(Dsnd* device, const DString& name, const DFile& source);
  bool Unload();
  // A new voice set: duplicates of a set of the best location when one exists, else a new
  // buffer decoded from the file. Flags bit 0: 3D, bit 1: voice-managed.
  DRef<DsndVoices> CreateVoices(int32_t count, uint32_t priority, uint32_t flags);
  // Takes the set out of its location list; a sound whose last set goes leaves the cache.
  void RemoveVoices(DsndVoices* voices);
  // Refills a set's first buffer from the file (silence after a short decode).
  void FillBuffer(DsndVoices* voices);

  // The fan-out of suspension, resumption and the time-pause switch, over every location list.
  void Suspend();
  void RestoreVoices();
  void ApplyTimePause();

  Dsnd* GetOwner() const { return owner_; }
  const char* GetName() const { return name_; }

 private:
  using List = DRefList<DsndVoices>;
  DRef<DsndVoices> DuplicateVoices(List& list, int32_t count, uint32_t flags, uint32_t priority,
                                   uint32_t location);
  DRef<DsndVoices> CreateBufferVoices(const DSBUFFERDESC& desc, List& list, int32_t count, uint32_t flags,
                                      uint32_t priority, uint32_t location);
  List& ListOf(uint32_t location);

  Dsnd* owner_ = nullptr;  // empty while not loaded
  char name_[264] = {};    // the cache key
  DWave wave_;             // open on the sound's file while loaded
  List hardware_;
  List software_;
  List deferred_;
};

class DsndVoices : public DObject {
 public:
  static constexpr uint32_t kStopped = 0, kPaused = 1, kInactive = 2, kPlayed = 3;
  static constexpr int32_t kMaxVoices = 1024;

  DsndVoices() = default;
  DsndVoices(const DsndVoices&) = delete;
  DsndVoices& operator=(const DsndVoices&) = delete;
  ~DsndVoices() override;

  // Takes the first buffer (released on failure too) and duplicates it to 1..1024 voices.
  bool Create(DsndData* owner, IDirectSoundBuffer* first, int32_t count, uint32_t flags, uint32_t priority);
  bool Release();

  // The first idle voice, else the non-looping voice that has played longest; never a looping one.
  bool PickVoice(uint32_t* index);
  void PlayVoice(uint32_t index);
  void Play(bool loop);
  void StopAll();
  void StopVoice(uint32_t index);
  // any: whether a voice plays; otherwise whether no voice is idle.
  bool IsPlaying(bool any);

  // 3D settings of every voice, deferred; nothing when the set is not 3D. z is negated.
  void SetMode(uint32_t mode);
  void SetDistance(float min, float max);
  void SetPosition(float x, float y, float z);
  void SetVelocity(float x, float y, float z);
  void SetConeAngles(uint32_t inside, uint32_t outside);
  void SetConeOutsideVolume(int32_t volume);
  void SetConeOrientation(float x, float y, float z);

  void PauseForInactive();
  void ResumeMarked();
  void ApplyTimePause();
  void Pause();
  void Resume();

  uint32_t GetCount() const { return count_; }
  uint32_t GetFlags() const { return flags_; }
  uint32_t GetLocation() const { return location_; }
  uint32_t GetState(uint32_t i) const { return states_[i]; }
  IDirectSoundBuffer* GetBuffer(uint32_t i) const { return buffers_[i]; }
  IDirectSound3DBuffer* Get3DBuffer(uint32_t i) const { return buffers3d_ ? buffers3d_[i] : nullptr; }

 private:
  friend class DsndData;
  bool TimePauseOn() const;

  DsndData* owner_ = nullptr;
  uint32_t count_ = 0;
  DRef<IDirectSoundBuffer*> buffers_;
  DRef<IDirectSound3DBuffer*> buffers3d_;
  uint32_t flags_ = 0;
  uint32_t priority_ = 0;
  DRef<uint32_t> loop_;
  DRef<uint32_t> states_;
  DRefList<DsndVoices>::Iterator node_;  // in the owner's location list
  uint32_t location_ = 0;
};
