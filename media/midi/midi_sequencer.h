// The MIDI sequencer (song time to events, tempo, fades, repeats) and the player that drives it
// from a periodic multimedia timer.
#pragma once

#include <cstdint>

#include "base/dlock.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "media/midi/midi_device.h"
#include "media/midi/midi_song.h"
#include "platform/mmsystem.h"

class MidiSequencer : public DObject {
 public:
  static constexpr uint32_t kNormal = 0;
  static constexpr uint32_t kFadeOut = 1;
  static constexpr uint32_t kFadeIn = 2;
  static constexpr uint32_t kSeeking = 3;

  MidiSequencer() = default;
  MidiSequencer(const MidiSequencer&) = delete;
  MidiSequencer& operator=(const MidiSequencer&) = delete;
  ~MidiSequencer() override;

  virtual void OnFadeOutDone() = 0;
  virtual void OnFadeInDone() = 0;

  // The device is not owned: it must outlive the attachment.
  bool Attach(MidiOutDevice* device);
  bool Detach();
  bool SetPlayList(const DRef<MidiPlayList>& list);
  void FadeIn(uint32_t ms);
  void FadeOut(uint32_t ms);
  // One step of dt ms of song time; false when the play list has no song left.
  bool Tick(uint32_t dt);
  // Plays the current song forward by ms without sounding notes.
  bool Seek(uint32_t ms);

  MidiOutDevice* GetDevice() const { return device_; }
  DRef<MidiPlayList> GetPlayList() const { return list_; }
  bool SetDevice(MidiOutDevice* device);
  float GetLevel() const { return level_; }
  uint32_t GetMode() const { return mode_; }

 protected:
  DLock lock_;

 private:
  void Dispatch(MidiSong& song, MidiTrack& track);
  void Tempo(MidiSong& song, const uint8_t* data, uint32_t length);
  void FadeStep(MidiSong& song, uint32_t dt);

  uint8_t attached_ = 0;
  MidiOutDevice* device_ = nullptr;
  DRef<MidiPlayList> list_;
  DRef<uint8_t> sysex_;
  uint32_t sysex_capacity_ = 0;
  float level_ = 1.0f;
  uint32_t mode_ = kNormal;
  uint32_t fade_length_ = 0;
  uint32_t fade_elapsed_ = 0;
};

class MidiPlayer : public MidiSequencer {
 public:
  static constexpr uint32_t kStateListEnded = 1;
  static constexpr uint32_t kStateStop = 100;
  static constexpr uint32_t kStateWaitFadeIn = 101;
  static constexpr uint32_t kStateWaitFadeOut = 102;
  static constexpr uint32_t kRunTimer = 0x1;
  static constexpr uint32_t kRunFadeOut = 0x2;
  static constexpr uint32_t kRunFadeIn = 0x4;
  static constexpr uint32_t kPlaying = 0x1;
  static constexpr uint32_t kInactive = 0x2;
  static constexpr uint32_t kPauseWhileInactive = 0x4;

  MidiPlayer() = default;
  ~MidiPlayer() override;

  bool Open(UINT device_id, uint32_t ms);
  bool Close();
  bool StartTimer();
  bool StopTimer();
  bool Play(const DRef<MidiPlayList>& list);
  bool Resume(const DRef<MidiPlayList>& list);
  bool PlaySong(const DRef<MidiSong>& song, bool seek = true);
  void FadeIn(uint32_t ms, bool stop_after);
  void FadeOut(uint32_t ms, bool stop_after);
  void OnFadeOutDone() override;
  void OnFadeInDone() override;
  uint32_t SetTickLength(uint32_t ms);
  uint32_t SetTimerPeriod(uint32_t ms);
  void SetTimePause(bool on);
  void SetActive(bool active);
  bool WaitFadeOut(DWORD timeout_ms);
  bool WaitFadeIn(DWORD timeout_ms);
  bool WaitEnd(DWORD timeout_ms);

  uint32_t GetTickLength() const { return tick_length_; }
  uint32_t GetTimerPeriod() const { return timer_period_; }
  uint32_t GetState() const { return state_; }
  uint32_t GetFlags() const { return flags_; }
  bool TimerRunning() const { return timer_id_ != 0; }
  MidiOutDevice& Device() { return device_; }

 private:
  static void TimeProc(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
  bool Start(const DRef<MidiPlayList>& list, bool rewind, bool seek);
  bool Wait(uint32_t run_flag, uint32_t state, DWORD timeout_ms);
  void KillTimer();
  // Stops the timer for window inactivity, keeping the playing flag.
  void Hold();

  uint8_t opened_ = 0;
  MidiOutDevice device_;
  TIMECAPS caps_{};
  bool period_held_ = false;
  UINT timer_id_ = 0;
  uint32_t tick_length_ = 1;
  uint32_t timer_period_ = 1;
  uint32_t state_ = 0;
  HANDLE event_ = nullptr;
  uint8_t stop_after_fade_ = 0;
  uint32_t run_flags_ = 0;
  uint32_t flags_ = 0;
};
