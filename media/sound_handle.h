// Sound and stream handles: what scripts and plug-ins hold. Each operation is one step on the
// engine's one sound device; releasing a handle stops and frees nothing (the device does that
// at shutdown).
#pragma once

#include <cstdint>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"

class Dsnd;
class DsndVoices;
class DsndStream;
class DsndStreamList;

class SoundHandle : public DObject {
 public:
  // Loads the sound (name: the cache key) with count voices (at least one). Without a device:
  // true, and the handle stays empty.
  bool Load(const DString& name, const DFile& source, int32_t count);
  // One 3D, voice-managed voice in normal 3D mode (a plain sound on a device without 3D).
  bool Load3D(const DString& name, const DFile& source);
  // Plays a voice from its start; loop bit 0 makes it loop. Nothing when every voice loops.
  void Play(uint32_t loop);
  void Stop();
  bool IsPlaying();
  void Set3DMode(bool on);
  void SetDistance(float min, float max);
  void SetPosition(float x, float y, float z);
  void SetVelocity(float x, float y, float z);
  // Angles in radians become whole degrees (negative: 0); the outside volume is rounded.
  void SetCone(float inside, float outside, float outside_volume, float x, float y, float z);
  bool Unload();

  const DRef<DsndVoices>& GetVoices() const { return voices_; }
  // The device the handles use (the engine's one device unless a test sets another).
  static void UseDevice(Dsnd* device);
  static Dsnd& Device();

 private:
  DRef<DsndVoices> voices_;
};

class StreamHandle : public DObject {
 public:
  // Adds a file to the play list; false once started, for an unreadable file or another format.
  bool AddToList(const DFile& source, int32_t repeat, float loop_start, uint32_t flags);
  // Creates the stream at the first play (freezing the list) and starts it.
  void Play();
  void Stop();
  // Drops the list while not started.
  void ClearList();
  void Reset() { started_ = 0; }

  bool IsStarted() const { return started_ != 0; }
  const DRef<DsndStream>& GetStream() const { return stream_; }

 private:
  uint8_t started_ = 0;
  DRef<DsndStreamList> list_;
  DRef<DsndStream> stream_;
};
