// Dsnd: the Sound unit's one DirectSound device. It owns the primary buffer and the 3D
// listener, caches loaded sounds by name and keeps the streams, and fans the main window's
// suspension and the time-pause switch out to them.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "base/dstring.h"
#include "platform/dsound.h"

class DWindow;
class DsndData;
class DsndVoices;
class DsndStream;
class DsndStreamList;

class Dsnd : public DObject {
 public:
  static constexpr uint32_t k3D = 0x1;             // the primary buffer has 3D control, the listener exists
  static constexpr uint32_t kVoiceManaged = 0x2;   // voice management (only with k3D)
  static constexpr uint32_t kTimePause = 0x10000;  // pause while the window is inactive
  static constexpr uint32_t kInactive = 0x20000;   // the main window is inactive

  Dsnd() = default;
  Dsnd(const Dsnd&) = delete;
  Dsnd& operator=(const Dsnd&) = delete;
  ~Dsnd() override;

  // Makes the device on the window; mode bit 0 asks for 3D, bit 1 for voice management. False
  // when a device exists or a step fails (then nothing is kept).
  bool Create(DWindow* window, uint32_t mode);
  // Closes every stream, unloads every sound and releases the device; false without a device.
  bool Release();
  void SetTimePause(bool on);
  bool IsTimePause() const { return (GetFlags() & kTimePause) != 0; }
  bool IsSuspended() const { return (GetFlags() & kInactive) != 0; }
  void Suspend();
  void Resume();

  // A new voice set of the sound cached under the name, loading it from source first when it
  // is not cached; wanted bit 0 asks for 3D, bit 1 for voice-managed playing. Empty on failure
  // or without a device.
  DRef<DsndVoices> CreateSound(const DString& name, const DFile& source, int32_t count, uint32_t wanted,
                               uint32_t priority);
  // The cached sound of that name (same length, case-insensitive with double-byte characters
  // exact), or empty.
  DRef<DsndData> FindSound(const DString& name);
  // Takes this very sound out of the cache.
  void RemoveSound(DsndData* data);
  // A new stream of the list, registered with the device; empty on failure or without a device.
  DRef<DsndStream> CreateStream(const DRef<DsndStreamList>& list);
  void RemoveStream(DsndStream* stream);
  // The file of that name from the program's directory, loaded or streamed.
  DRef<DsndVoices> OpenSound(const DString& name, int32_t count, uint32_t wanted, uint32_t priority);
  DRef<DsndStream> OpenStream(const DString& name, int32_t repeat, float loop_start, uint32_t flags);
  // CreateSound for a name already cached; never loads.
  DRef<DsndVoices> FindSoundVoices(const DString& name, int32_t count, uint32_t wanted, uint32_t priority);

  // The listener; each does nothing without one. Vectors have z negated on their way in.
  void CommitListener();
  void SetListenerPosition(float x, float y, float z);
  void SetListenerVelocity(float x, float y, float z);
  void SetListenerOrientation(float fx, float fy, float fz, float tx, float ty, float tz);
  void SetRolloffFactor(float factor);
  void SetDopplerFactor(float factor);
  void SetDistanceFactor(float factor);

  IDirectSound* GetDevice() const { return device_; }
  IDirectSound3DListener* GetListener() const { return listener_; }
  // The flags word; stream workers read it without a lock.
  uint32_t GetFlags() const { return flags_.load(std::memory_order_acquire); }

 private:
  void SetFlags(uint32_t f) { flags_.store(f, std::memory_order_release); }
  // A reference to a cached sound found by identity (empty when it is not cached).
  DRef<DsndData> RefOf(DsndData* data);
  friend class DsndData;

  std::atomic<uint32_t> flags_{0};
  IDirectSound* device_ = nullptr;
  IDirectSoundBuffer* primary_ = nullptr;
  IDirectSound3DListener* listener_ = nullptr;
  DRefList<DsndData> sounds_;     // the cache, in load order
  DRefList<DsndStream> streams_;  // in creation order
};

// The engine's one sound device.
Dsnd& TheDsnd();
