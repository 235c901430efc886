// The MIDI player: the sequencer driven by a periodic multimedia timer, with the stop handshake
// between callers and the timer callback.
#include "media/midi/midi_sequencer.h"

MidiPlayer::~MidiPlayer() {
  Close();
  if (event_) {
    CloseHandle(event_);
    event_ = nullptr;
  }
}

bool MidiPlayer::Open(UINT device_id, uint32_t ms) {
  if (opened_) return false;
  opened_ = 1;
  if (timeGetDevCaps(&caps_, sizeof caps_) == TIMERR_NOERROR &&
      timeBeginPeriod(caps_.wPeriodMin) == TIMERR_NOERROR) {
    period_held_ = true;
  }
  if (device_.Handle() ||
      midiOutOpen(&device_.Handle(), device_id, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    device_.Handle() = nullptr;
    Close();
    return false;
  }
  event_ = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  if (!event_) {
    Close();
    return false;
  }
  tick_length_ = timer_period_ = ms > 1 ? ms : 1;
  run_flags_ = 0;
  flags_ = kPauseWhileInactive;
  if (!Attach(&device_)) {
    Close();
    return false;
  }
  return true;
}

bool MidiPlayer::Close() {
  if (!opened_) return false;
  StopTimer();
  Detach();
  if (event_) {
    CloseHandle(event_);
    event_ = nullptr;
  }
  if (device_.Handle()) {
    midiOutReset(device_.Handle());
    midiOutClose(device_.Handle());
    device_.Handle() = nullptr;
  }
  if (period_held_) {
    timeEndPeriod(caps_.wPeriodMin);
    period_held_ = false;
  }
  return true;
}

bool MidiPlayer::StartTimer() {
  DLockGuard g(lock_);
  // One timer at a time: a second start would leave a timer that nothing can stop.
  if (timer_id_) return true;
  timer_id_ = timeSetEvent(timer_period_, caps_.wPeriodMin, TimeProc, reinterpret_cast<DWORD_PTR>(this),
                           TIME_PERIODIC);
  if (!timer_id_) return false;
  run_flags_ = kRunTimer;
  return true;
}

void MidiPlayer::KillTimer() {
  if (timer_id_) timeKillEvent(timer_id_);
  timer_id_ = 0;
  run_flags_ = 0;
}

bool MidiPlayer::StopTimer() {
  if (!opened_ || !event_) return false;
  bool wait = false;
  {
    DLockGuard g(lock_);
    if (timer_id_ && (run_flags_ & kRunTimer)) {
      ResetEvent(event_);
      state_ = kStateStop;
      wait = true;
    }
  }
  if (!wait) return false;
  WaitForSingleObject(event_, INFINITE);
  // The callback signals while it still holds the lock: let it leave before going on, so the
  // player may be torn down once this returns.
  lock_.Enter();
  lock_.Leave();
  device_.AllSoundOff();
  return true;
}

void MidiPlayer::TimeProc(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* self = reinterpret_cast<MidiPlayer*>(user);
  DLockGuard g(self->lock_);
  // A call of a timer already killed (by a restart) that was waiting for the lock: not ours.
  if (id != self->timer_id_) return;
  if (self->state_ == kStateStop) {
    self->KillTimer();
    self->flags_ &= ~kPlaying;
    self->state_ = 0;
    SetEvent(self->event_);
    return;
  }
  if (!self->Tick(self->tick_length_)) {
    self->KillTimer();
    self->flags_ &= ~kPlaying;
    self->state_ = kStateListEnded;
    SetEvent(self->event_);
  }
}

bool MidiPlayer::Start(const DRef<MidiPlayList>& list, bool rewind, bool seek) {
  if (!opened_) return false;
  DLockGuard g(lock_);
  if (timer_id_ || !list || list->IsEmpty()) return false;
  if (rewind) list->Rewind();
  SetPlayList(list);
  if (seek) {
    DRef<MidiSong> first = list->GetCurrent();
    if (first && (first->flags & 1)) Seek(first->loop_start);
  }
  flags_ |= kPlaying;
  state_ = 0;
  if ((flags_ & kInactive) && (flags_ & kPauseWhileInactive)) return true;
  return StartTimer();
}

bool MidiPlayer::Play(const DRef<MidiPlayList>& list) {
  return Start(list, true, true);
}

bool MidiPlayer::Resume(const DRef<MidiPlayList>& list) {
  return Start(list, false, false);
}

bool MidiPlayer::PlaySong(const DRef<MidiSong>& song, bool seek) {
  if (!song) return false;
  DRef<MidiPlayList> list;
  list.Alloc(1);
  list->Add(song);
  return Start(list, true, seek);
}

void MidiPlayer::FadeIn(uint32_t ms, bool stop_after) {
  DLockGuard g(lock_);
  run_flags_ |= kRunFadeIn;
  stop_after_fade_ = stop_after ? 1 : 0;
  MidiSequencer::FadeIn(ms);
}

void MidiPlayer::FadeOut(uint32_t ms, bool stop_after) {
  DLockGuard g(lock_);
  run_flags_ |= kRunFadeOut;
  stop_after_fade_ = stop_after ? 1 : 0;
  MidiSequencer::FadeOut(ms);
}

void MidiPlayer::OnFadeOutDone() {
  run_flags_ &= ~kRunFadeOut;
  if (state_ == kStateWaitFadeOut) {
    state_ = 0;
    if (event_) SetEvent(event_);
  }
  if (stop_after_fade_) state_ = kStateStop;
}

void MidiPlayer::OnFadeInDone() {
  run_flags_ &= ~kRunFadeIn;
  if (state_ == kStateWaitFadeIn) {
    state_ = 0;
    if (event_) SetEvent(event_);
  }
  if (stop_after_fade_) state_ = kStateStop;
}

uint32_t MidiPlayer::SetTickLength(uint32_t ms) {
  DLockGuard g(lock_);
  uint32_t old = tick_length_;
  tick_length_ = ms > 1 ? ms : 1;
  return old;
}

uint32_t MidiPlayer::SetTimerPeriod(uint32_t ms) {
  uint32_t old = timer_period_;
  if (!opened_ || ms == timer_period_) return old;
  DLockGuard g(lock_);
  timer_period_ = ms > 1 ? ms : 1;
  flags_ &= ~kPlaying;
  if (timer_id_) {
    KillTimer();
    StartTimer();
  }
  return old;
}

// The flags are changed under the lock (the callback clears the playing flag); the stop
// handshake runs outside it.
void MidiPlayer::SetTimePause(bool on) {
  bool held;
  {
    DLockGuard g(lock_);
    if (on) {
      flags_ |= kPauseWhileInactive;
    } else {
      flags_ &= ~kPauseWhileInactive;
    }
    held = (flags_ & kInactive) && (flags_ & kPlaying);
  }
  if (!held) return;
  if (on) {
    Hold();
  } else {
    StartTimer();
  }
}

void MidiPlayer::SetActive(bool active) {
  bool affected;
  {
    DLockGuard g(lock_);
    if (active) {
      flags_ &= ~kInactive;
    } else {
      flags_ |= kInactive;
    }
    affected = (flags_ & kPauseWhileInactive) && (flags_ & kPlaying);
  }
  if (!affected) return;
  if (active) {
    StartTimer();
  } else {
    Hold();
  }
}

void MidiPlayer::Hold() {
  StopTimer();
  DLockGuard g(lock_);
  flags_ |= kPlaying;
}

bool MidiPlayer::Wait(uint32_t run_flag, uint32_t state, DWORD timeout_ms) {
  if (!event_) return false;
  {
    DLockGuard g(lock_);
    if (!(run_flags_ & kRunTimer) || (run_flag && !(run_flags_ & run_flag))) return false;
    ResetEvent(event_);
    state_ = state;
  }
  WaitForSingleObject(event_, timeout_ms == 0 ? INFINITE : timeout_ms);
  return true;
}

bool MidiPlayer::WaitFadeOut(DWORD timeout_ms) {
  return Wait(kRunFadeOut, kStateWaitFadeOut, timeout_ms);
}
bool MidiPlayer::WaitFadeIn(DWORD timeout_ms) {
  return Wait(kRunFadeIn, kStateWaitFadeIn, timeout_ms);
}
bool MidiPlayer::WaitEnd(DWORD timeout_ms) {
  return Wait(0, 0, timeout_ms);
}
