// The Midi unit: the player, the pending play list that scripts fill, the current list, and the
// speed to apply at the next start.
#pragma once

#include <cstdint>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "media/midi/midi_sequencer.h"
#include "media/midi/midi_song.h"

class MidiManager : public DObject {
 public:
  MidiManager() = default;
  MidiManager(const MidiManager&) = delete;
  MidiManager& operator=(const MidiManager&) = delete;
  ~MidiManager() override;

  // Opens the player on the MIDI mapper; false when already open or no port can be opened (the
  // engine then runs without MIDI and every playback request below is ignored).
  bool Open();
  void Close();
  bool IsOpened() const { return opened_ != 0; }

  // Loads a song from the open file (which stays the caller's) into the pending list.
  bool AddToList(DFile& file, int32_t repeat, uint32_t loop_start_ms, uint32_t flags);
  void ClearList();
  // Starts the pending list, if any, with the stored speed. Always true.
  bool Play();
  void Stop();
  void Pause() { Stop(); }
  void Resume();
  void FadeIn(uint32_t ms, bool stop);
  void FadeOut(uint32_t ms, bool stop);
  // Tick length = speed x 10 to the nearest integer (halves to even); 0 or a negative speed
  // changes nothing.
  void SetSpeed(float speed);
  void SetTimePause(bool on);
  void SetActive(bool active);

  MidiPlayer& Player() { return player_; }
  DRef<MidiPlayList> PendingList() const { return pending_; }
  DRef<MidiPlayList> CurrentList() const { return current_; }
  uint32_t StoredTickLength() const { return stored_tick_length_; }
  uint32_t StoredPeriod() const { return stored_period_; }

 private:
  uint8_t opened_ = 0;
  MidiPlayer player_;
  DRef<MidiPlayList> pending_;
  DRef<MidiPlayList> current_;
  uint32_t stored_period_ = 10;
  uint32_t stored_tick_length_ = 10;
};

// The engine's one Midi unit.
MidiManager& TheMidiManager();
