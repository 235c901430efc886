#include "media/midi/midi_manager.h"

#include <cmath>

MidiManager::~MidiManager() {
  Close();
}

bool MidiManager::Open() {
  if (opened_) return false;
  if (!player_.Open(MIDI_MAPPER, 10)) return false;
  opened_ = 1;
  pending_.Release();
  stored_period_ = stored_tick_length_ = 10;
  return true;
}

void MidiManager::Close() {
  if (!opened_) return;
  opened_ = 0;
  // The timer stops before the lists go, so the callback never sees them freed.
  player_.Close();
  current_.Release();
  pending_.Release();
}

bool MidiManager::AddToList(DFile& file, int32_t repeat, uint32_t loop_start_ms, uint32_t flags) {
  DRef<MidiSong> song;
  song.Alloc(1);
  if (!song->Load(file, repeat, loop_start_ms, flags & 1)) return false;
  if (!pending_) pending_.Alloc(1);
  pending_->Add(song);
  pending_->Rewind();
  return true;
}

void MidiManager::ClearList() {
  pending_.Release();
}

bool MidiManager::Play() {
  if (!opened_ || !pending_) return true;
  player_.StopTimer();
  player_.SetTickLength(stored_tick_length_);
  player_.SetTimerPeriod(stored_period_);
  current_ = pending_;
  player_.Play(current_);
  pending_.Release();
  stored_period_ = stored_tick_length_ = 10;
  return true;
}

void MidiManager::Stop() {
  if (opened_) player_.StopTimer();
}

void MidiManager::Resume() {
  if (opened_ && current_) player_.Resume(current_);
}

void MidiManager::FadeIn(uint32_t ms, bool stop) {
  if (opened_) player_.FadeIn(ms, stop);
}

void MidiManager::FadeOut(uint32_t ms, bool stop) {
  if (opened_) player_.FadeOut(ms, stop);
}

void MidiManager::SetSpeed(float speed) {
  float t = std::nearbyint(speed * 10.0f);  // halves to even under the default rounding
  // Zero, a negative or a non-number speed changes nothing.
  if (!(t >= 1.0f)) return;
  uint32_t length = t >= 4294967295.0f ? 0xFFFFFFFFu : static_cast<uint32_t>(t);
  if (!opened_) return;
  stored_tick_length_ = length;
  stored_period_ = 10;
  player_.SetTickLength(length);
  player_.SetTimerPeriod(10);
}

void MidiManager::SetTimePause(bool on) {
  if (opened_) player_.SetTimePause(on);
}

void MidiManager::SetActive(bool active) {
  if (opened_) player_.SetActive(active);
}

MidiManager& TheMidiManager() {
  static MidiManager* manager = new MidiManager;  // lives to the end of the process
  return *manager;
}
