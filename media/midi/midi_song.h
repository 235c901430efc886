// Standard MIDI Files loaded whole into memory with the playing state the sequencer advances,
// and play lists of them.
#pragma once

#include <cstdint>
#include <vector>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"

// One track chunk: its bytes and the read state. Reads never pass `size`: a track whose data
// runs out (at its end or inside an event) becomes inactive, as at an end-of-track event.
struct MidiTrack {
  DRef<uint8_t> data;  // the chunk's bytes
  uint32_t size = 0;
  uint32_t cursor = 0;  // offset of the next byte to read
  uint8_t active = 0;
  uint32_t next_time = 0;  // absolute ticks of the next event
  uint8_t running_status = 0;

  bool AtEnd() const { return cursor >= size; }
  // The next byte; false (and the track inactive) at the end of the data.
  bool ReadByte(uint8_t* out);
  // A variable-length number of at most 4 bytes; false (and the track inactive) when the data
  // ends inside it.
  bool ReadVarLen(uint32_t* out);
};

// Reads a variable-length number from data[*cursor..size): at most 4 bytes, the cursor moved past
// every byte read. False when the data ends first.
bool MidiReadVarLen(const uint8_t* data, uint32_t size, uint32_t* cursor, uint32_t* out);

struct MidiChannelVolume {
  uint8_t stored = 0;  // last Volume controller value the song sent
  uint8_t sent = 0;    // last scaled value sent to the device
};

class MidiSong : public DObject {
 public:
  static constexpr uint32_t kDefaultTempo = 600000;

  // Reads the file from its current position to its end. False when already loaded or the file
  // is not a readable Standard MIDI File; the song then stays unloaded.
  bool Load(DFile& file, int32_t repeat, uint32_t loop_start_ms, uint32_t flags);
  // Rewinds: tracks to their starts, tempo 600000, repeat count = initial count, volumes 0.
  bool Prepare();
  bool Unload();
  bool IsLoaded() const { return loaded != 0; }

  uint8_t loaded = 0;
  uint32_t flags = 0;  // bit 0: start at the loop point when the song becomes current
  std::vector<MidiTrack> tracks;
  MidiChannelVolume volume[16];
  uint32_t division = 0;
  uint32_t tempo = kDefaultTempo;
  uint32_t ms_since_tempo = 0;
  uint32_t tick_base = 0;
  float ticks_per_ms = 0.0f;
  int32_t initial_repeat = 0;
  int32_t repeat = 0;       // -1: without end
  uint32_t loop_start = 0;  // ms of song time

 private:
  bool ReadFile(DFile& view);
};

class MidiPlayList : public DObject {
 public:
  void Add(const DRef<MidiSong>& song) { songs_.PushBack(song); }
  bool IsEmpty() const { return songs_.IsEmpty(); }
  // Rewinds every song and makes the first one current.
  void Rewind();
  // At the end of the current song: the same song again while it repeats, else the next one.
  // False when no song follows (the list then has no current song).
  bool Advance();
  void Clear();
  DRef<MidiSong> GetCurrent() const { return current_; }

 private:
  DRefList<MidiSong> songs_;
  DRefList<MidiSong>::Iterator position_;
  DRef<MidiSong> current_;
};
