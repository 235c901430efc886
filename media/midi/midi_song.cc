#include "media/midi/midi_song.h"

#include <cstring>

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint16_t BigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

bool MidiReadVarLen(const uint8_t* data, uint32_t size, uint32_t* cursor, uint32_t* out) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    if (*cursor >= size) return false;
    uint8_t b = data[(*cursor)++];
    value = value << 7 | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  *out = value;
  return true;
}

bool MidiTrack::ReadByte(uint8_t* out) {
  if (cursor >= size) {
    active = 0;
    return false;
  }
  *out = data[cursor++];
  return true;
}

bool MidiTrack::ReadVarLen(uint32_t* out) {
  if (!MidiReadVarLen(data.Get(), size, &cursor, out)) {
    active = 0;
    return false;
  }
  return true;
}

bool MidiSong::Load(DFile& file, int32_t repeat_count, uint32_t loop_start_ms, uint32_t song_flags) {
  if (loaded) return false;
  DFile view;
  if (!view.OpenView(file, -1, 0xFFFFFFFFu)) return false;
  loaded = 1;
  if (!ReadFile(view)) {
    Unload();
    return false;
  }
  initial_repeat = repeat = repeat_count;
  loop_start = loop_start_ms;
  flags = song_flags;
  if (!Prepare()) {
    Unload();
    return false;
  }
  return true;
}

bool MidiSong::ReadFile(DFile& view) {
  int64_t size = view.GetSize();
  if (size < 0) return false;
  uint8_t header[14];
  if (view.Read(header, 14) != 14 || std::memcmp(header, "MThd", 4) != 0) return false;
  uint32_t length = BigEndian32(header + 4);
  uint16_t count = BigEndian16(header + 10);
  division = BigEndian16(header + 12);
  // A header shorter than its own fields is damaged; a longer one is skipped, within the file.
  if (length < 6 || count == 0) return false;
  if (length > 6 && (length - 6 > size - 14 || !view.Seek(DFile::kSeekCurrent, length - 6))) return false;
  for (uint16_t t = 0; t < count; ++t) {
    for (;;) {
      uint8_t chunk[8];
      if (view.Read(chunk, 8) != 8) return false;
      uint32_t chunk_length = BigEndian32(chunk + 4);
      int64_t position = view.Tell();
      if (position < 0 || chunk_length > size - position) return false;  // longer than the file
      if (std::memcmp(chunk, "MTrk", 4) != 0) {
        if (!view.Seek(DFile::kSeekCurrent, chunk_length)) return false;
        continue;
      }
      MidiTrack track;
      track.size = chunk_length;
      if (chunk_length) {
        track.data.Alloc(chunk_length);
        if (view.Read(track.data.Get(), chunk_length) != chunk_length) return false;
      }
      tracks.push_back(std::move(track));
      break;
    }
  }
  return true;
}

bool MidiSong::Prepare() {
  if (!loaded) return false;
  repeat = initial_repeat;
  tempo = kDefaultTempo;
  ticks_per_ms = static_cast<float>(division) / 600.0f;
  ms_since_tempo = 0;
  tick_base = 0;
  for (MidiTrack& t : tracks) {
    t.cursor = 0;
    t.active = 1;
    t.running_status = 0;
    t.next_time = 0;
    uint32_t delta = 0;
    if (t.ReadVarLen(&delta)) t.next_time = delta;
  }
  for (MidiChannelVolume& v : volume) v = MidiChannelVolume{};
  return true;
}

bool MidiSong::Unload() {
  if (!loaded) return false;
  loaded = 0;
  tracks.clear();
  initial_repeat = repeat = 0;
  return true;
}

void MidiPlayList::Rewind() {
  for (auto it = songs_.Begin(); !(it == songs_.End()); it = it.Next()) it.Value()->Prepare();
  position_ = songs_.Begin();
  current_ = position_.Value();
}

bool MidiPlayList::Advance() {
  if (!current_) return false;
  if (current_->repeat == 0) {
    position_ = position_.Next();
    current_ = position_.Value();
    if (!current_) return false;
  } else if (current_->repeat != -1) {
    --current_->repeat;
  }
  int32_t keep = current_->repeat;
  current_->Prepare();
  current_->repeat = keep;
  return true;
}

void MidiPlayList::Clear() {
  current_.Release();
  position_ = DRefList<MidiSong>::Iterator();
  songs_.Clear();
}
