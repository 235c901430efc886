#include "media/midi/midi_sequencer.h"

#include <cmath>
#include <cstring>

namespace {

// Nearest integer (halves to even), limited to 0..2^32-1 so that no value, however far out of
// range (or NaN), reaches an undefined float-to-integer conversion.
uint32_t RoundU32(float x) {
  if (!(x > 0.0f)) return 0;
  if (static_cast<double>(x) >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(std::nearbyint(static_cast<double>(x)));
}

uint8_t ScaleVolume(uint8_t value, float level) {
  uint32_t v = RoundU32(static_cast<float>(value) * level);
  return static_cast<uint8_t>(v > 127 ? 127 : v);
}

}  // namespace

// ---- MidiSequencer

MidiSequencer::~MidiSequencer() {
  Detach();
}

bool MidiSequencer::Attach(MidiOutDevice* device) {
  DLockGuard g(lock_);
  if (attached_) return false;
  attached_ = 1;
  device_ = device;
  sysex_.Alloc(256);
  sysex_capacity_ = 256;
  level_ = 1.0f;
  mode_ = kNormal;
  return true;
}

bool MidiSequencer::Detach() {
  DLockGuard g(lock_);
  if (!attached_) return false;
  attached_ = 0;
  device_ = nullptr;
  list_.Release();
  sysex_.Release();
  sysex_capacity_ = 0;
  return true;
}

bool MidiSequencer::SetDevice(MidiOutDevice* device) {
  DLockGuard g(lock_);
  if (!device_ || !device_->IsOpen()) return false;
  device_ = device;
  return true;
}

bool MidiSequencer::SetPlayList(const DRef<MidiPlayList>& list) {
  DLockGuard g(lock_);
  list_ = list;
  level_ = 1.0f;
  mode_ = kNormal;
  return true;
}

void MidiSequencer::FadeIn(uint32_t ms) {
  DLockGuard g(lock_);
  mode_ = kFadeIn;
  fade_length_ = ms;
  fade_elapsed_ = 0;
  level_ = 0.0f;
}

void MidiSequencer::FadeOut(uint32_t ms) {
  DLockGuard g(lock_);
  mode_ = kFadeOut;
  fade_length_ = ms;
  fade_elapsed_ = 0;
  level_ = 1.0f;
}

bool MidiSequencer::Tick(uint32_t dt) {
  DLockGuard g(lock_);
  if (!list_) return false;
  DRef<MidiSong> song = list_->GetCurrent();
  if (!song) return false;
  song->ms_since_tempo += dt;
  // Song time in ticks reached by this tick: fixed for the whole tick.
  const uint32_t now =
      song->tick_base + RoundU32(static_cast<float>(song->ms_since_tempo) * song->ticks_per_ms);
  if (mode_ == kFadeOut || mode_ == kFadeIn) FadeStep(*song, dt);
  bool playing = false;
  for (MidiTrack& track : song->tracks) {
    if (track.active) playing = true;
    while (track.active && track.next_time <= now) Dispatch(*song, track);
  }
  if (playing) return true;
  if (!list_->Advance()) return false;
  DRef<MidiSong> next = list_->GetCurrent();
  if (next == song || (next->flags & 1)) Seek(next->loop_start);
  return true;
}

bool MidiSequencer::Seek(uint32_t ms) {
  if (ms == 0) return true;
  DLockGuard g(lock_);
  DRef<MidiSong> song = list_ ? list_->GetCurrent() : DRef<MidiSong>();
  if (!song) return false;
  const int32_t repeat = song->repeat;
  const uint32_t mode = mode_;
  song->repeat = 0;
  mode_ = kSeeking;
  bool result = Tick(ms);
  mode_ = mode;
  // Restored on the song it was taken from, also when the tick moved on to another song.
  song->repeat = repeat;
  return result;
}

void MidiSequencer::Dispatch(MidiSong& song, MidiTrack& track) {
  if (track.AtEnd()) {
    track.active = 0;
    return;
  }
  uint8_t status = track.data[track.cursor];
  if (status < 0x80) {
    status = track.running_status;
  } else {
    ++track.cursor;
  }
  uint8_t d1 = 0, d2 = 0;
  switch (status >> 4) {
    case 0x8:
    case 0x9:
      if (!track.ReadByte(&d1) || !track.ReadByte(&d2)) return;
      if (mode_ != kSeeking && device_) device_->SendShort(status, d1, d2);
      break;
    case 0xB:
      if (!track.ReadByte(&d1) || !track.ReadByte(&d2)) return;
      if (d1 == 7) {
        MidiChannelVolume& v = song.volume[status & 0x0F];
        v.stored = d2;
        v.sent = ScaleVolume(d2, level_);
        d2 = v.sent;
      }
      if (device_) device_->SendShort(status, d1, d2);
      break;
    case 0xA:
    case 0xE:
      if (!track.ReadByte(&d1) || !track.ReadByte(&d2)) return;
      if (device_) device_->SendShort(status, d1, d2);
      break;
    case 0xC:
    case 0xD:
      if (!track.ReadByte(&d1)) return;
      if (device_) device_->SendShort(status, d1, 0);
      break;
    case 0xF:
      if (status == 0xF0) {
        uint32_t length = 0;
        if (!track.ReadVarLen(&length)) return;
        // A message longer than what is left of the chunk ends the track, before any allocation.
        if (length > track.size - track.cursor) {
          track.active = 0;
          return;
        }
        if (length + 1 > sysex_capacity_) {
          sysex_capacity_ = length + 1 > 256 ? length + 1 : 256;
          sysex_.Alloc(sysex_capacity_);
        }
        if (sysex_) {
          sysex_[0] = 0xF0;
          if (length) std::memcpy(sysex_.Get() + 1, track.data.Get() + track.cursor, length);
          if (device_) device_->SendLong(sysex_, length + 1);
        }
        track.cursor += length;
      } else if (status == 0xFF) {
        uint8_t type = 0;
        uint32_t length = 0;
        if (!track.ReadByte(&type) || !track.ReadVarLen(&length)) return;
        if (length > track.size - track.cursor) {
          track.active = 0;
          return;
        }
        if (type == 0x2F) {
          track.active = 0;
          track.running_status = status;
          return;
        }
        if (type == 0x51) Tempo(song, track.data.Get() + track.cursor, length);
        track.cursor += length;
      }
      // 0xF1 to 0xFE read no data.
      break;
    default:  // a data byte before any status: nothing to send
      break;
  }
  track.running_status = status;
  uint32_t delta = 0;
  if (track.ReadVarLen(&delta)) track.next_time += delta;
}

void MidiSequencer::Tempo(MidiSong& song, const uint8_t* data, uint32_t length) {
  uint32_t tempo = 0;
  for (uint32_t i = 0; i < length; ++i) tempo = tempo << 8 | data[i];
  // No data (or data that amounts to 0) would divide by zero: the event is ignored.
  if (tempo == 0) return;
  song.tick_base += RoundU32(static_cast<float>(song.ms_since_tempo) * song.ticks_per_ms);
  song.ms_since_tempo = 0;
  song.tempo = tempo;
  song.ticks_per_ms = static_cast<float>(song.division * 1000.0 / tempo);
}

void MidiSequencer::FadeStep(MidiSong& song, uint32_t dt) {
  if (fade_length_ < fade_elapsed_) {
    uint32_t mode = mode_;
    mode_ = kNormal;
    if (mode == kFadeOut) {
      OnFadeOutDone();
    } else {
      OnFadeInDone();
    }
    return;
  }
  fade_elapsed_ = dt > 0xFFFFFFFFu - fade_elapsed_ ? 0xFFFFFFFFu : fade_elapsed_ + dt;
  if (fade_elapsed_ >= fade_length_) {
    level_ = mode_ == kFadeOut ? 0.0f : 1.0f;
  } else {
    float part = static_cast<float>(fade_length_ - fade_elapsed_) / static_cast<float>(fade_length_);
    level_ = mode_ == kFadeOut ? part : 1.0f - part;
  }
  for (uint8_t ch = 0; ch < 16; ++ch) {
    MidiChannelVolume& v = song.volume[ch];
    uint8_t value = ScaleVolume(v.stored, level_);
    if (value != v.sent) {
      v.sent = value;
      if (device_) device_->SendShort(static_cast<uint8_t>(0xB0 | ch), 7, value);
    }
  }
}
