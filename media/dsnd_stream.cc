// Play lists and streams: the worker that keeps the two halves of a looping buffer filled,
// and the handshakes by which the main thread starts, pauses, resumes and stops it.
#include "media/dsnd_stream.h"

#include <cstring>

#include "media/dsnd.h"

// ---- DsndStreamList

bool DsndStreamList::Add(const DFile& source, int32_t repeat, float loop_start, uint32_t flags) {
  DRef<DsndStreamEntry> e;
  e.Alloc(1);
  if (!e->Open(source)) return false;
  e->repeat = repeat;
  e->loop_start = loop_start;
  e->flags = flags;
  if (!entries_.IsEmpty()) {
    const WAVEFORMATEX& a = entries_.Front()->GetFormat();
    const WAVEFORMATEX& b = e->GetFormat();
    if (a.wFormatTag != b.wFormatTag || a.nChannels != b.nChannels || a.nSamplesPerSec != b.nSamplesPerSec ||
        a.nAvgBytesPerSec != b.nAvgBytesPerSec || a.nBlockAlign != b.nBlockAlign ||
        a.wBitsPerSample != b.wBitsPerSample) {
      return false;
    }
  }
  entries_.PushBack(e);
  return true;
}

bool DsndStreamList::Next() {
  if (!current_) return false;
  if (current_->repeat != 0) {
    if (current_->repeat != -1) --current_->repeat;
    return true;
  }
  iterator_ = iterator_.Next();
  current_ = iterator_.Value();
  return static_cast<bool>(current_);
}

void DsndStreamList::Rewind() {
  for (auto it = entries_.Begin(); !(it == entries_.End()); it = it.Next()) it.Value()->Rewind();
  iterator_ = entries_.Begin();
  current_ = iterator_.Value();
}

void DsndStreamList::Clear() {
  entries_.Clear();
  iterator_ = DRefList<DsndStreamEntry>::Iterator();
  current_.Release();
}

// ---- DsndStream

DsndStream::~DsndStream() {
  Close();
  WaitForOldWorker();
  worker_.Close();
}

bool DsndStream::Open(Dsnd* device, const DRef<DsndStreamList>& list) {
  if (owner_ || !list || list->IsEmpty()) return false;
  owner_ = device;
  list_ = list;
  WAVEFORMATEX format = list->GetFirst()->GetFormat();
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_LOCSOFTWARE;
  desc.dwBufferBytes = 2 * format.nAvgBytesPerSec;
  desc.lpwfxFormat = &format;
  bool ok = SUCCEEDED(device->GetDevice()->CreateSoundBuffer(&desc, &buffer_, nullptr));
  if (ok) {
    half_ = format.nAvgBytesPerSec;
    scratch_.Alloc(half_);
    ok = notify_event_.Create(false, false) &&
         SUCCEEDED(buffer_->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify_)));
  }
  if (ok) {
    DSBPOSITIONNOTIFY positions[2] = {{0, notify_event_.GetHandle()},
                                      {desc.dwBufferBytes / 2, notify_event_.GetHandle()}};
    ok = SUCCEEDED(notify_->SetNotificationPositions(2, positions));
  }
  if (ok) {
    state_.store(0);
    ok = command_event_.Create(false, false) && ack_event_.Create(false, false);
  }
  if (!ok) {
    Close();
    return false;
  }
  return true;
}

bool DsndStream::Close() {
  if (!owner_) return false;
  Stop();
  owner_->RemoveStream(this);
  scratch_.Release();
  if (notify_) notify_->Release();
  if (buffer_) buffer_->Release();
  notify_ = nullptr;
  buffer_ = nullptr;
  notify_event_.Close();
  command_event_.Close();
  ack_event_.Close();
  owner_ = nullptr;
  list_.Release();
  return true;
}

void DsndStream::WaitForOldWorker() {
  // A worker that ended by itself may still be leaving its last lines: wait until it is gone.
  if (worker_.GetHandle()) WaitForSingleObject(worker_.GetHandle(), INFINITE);
}

void DsndStream::Play() {
  if (!owner_) return;
  bool started = false;
  lock_.Enter();
  if (state_.load() == 0) {
    list_->Rewind();
    WaitForOldWorker();
    worker_.Close();
    // A finished worker leaves the acknowledgement signalled; it must not answer this start.
    ack_event_.Reset();
    started = worker_.Create(&DsndStream::ThreadProc, this);
  }
  lock_.Leave();
  if (started) ack_event_.Wait(INFINITE);
}

void DsndStream::Stop() {
  lock_.Enter();
  if (state_.load() != 0) {
    state_.fetch_or(kStopRequest);
    command_event_.Set();
    lock_.Leave();
    WaitForOldWorker();
  } else {
    lock_.Leave();
  }
}

void DsndStream::Request(uint32_t bit) {
  // A paused stream takes a resume even when the switch was turned off while it was paused;
  // otherwise it would stay silent until stopped.
  if (!owner_ || (!owner_->IsTimePause() && !(bit == kResumeRequest && paused_.load()))) return;
  lock_.Enter();
  if (state_.load() == 0) {
    lock_.Leave();
    return;
  }
  ack_event_.Reset();
  state_.fetch_or(bit);
  command_event_.Set();
  lock_.Leave();
  ack_event_.Wait(INFINITE);
}

void DsndStream::RequestPause() {
  Request(kPauseRequest);
}
void DsndStream::RequestResume() {
  Request(kResumeRequest);
}

unsigned DsndStream::ThreadProc(void* stream) {
  return static_cast<DsndStream*>(stream)->Run();
}

bool DsndStream::LockHalf(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2,
                          DWORD flags) {
  if (SUCCEEDED(buffer_->Lock(offset, bytes, p1, n1, p2, n2, flags))) return true;
  buffer_->Restore();
  return SUCCEEDED(buffer_->Lock(offset, bytes, p1, n1, p2, n2, flags));
}

unsigned DsndStream::EndWorker(bool failed) {
  if (failed) ack_event_.Set();
  DRef<DsndStreamEntry> current = list_->GetCurrent();
  if (current && current->IsDecoding()) current->EndDecode();
  buffer_->Stop();
  paused_.store(false);
  state_.store(0);
  lock_.Leave();
  return 1;
}

unsigned DsndStream::Run() {
  lock_.Enter();
  state_.store(kRunning);
  command_event_.Reset();
  notify_event_.Reset();
  DRef<DsndStreamEntry> first = list_->GetCurrent();
  if (first) first->BeginDecode();
  pass_bytes_ = 0;
  buffer_->SetCurrentPosition(0);
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  if (!LockHalf(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER)) return EndWorker(true);
  if (first && (first->flags & 1) && first->loop_start > 0) first->Skip(first->loop_start);
  int exhausted = 0;
  if (FillHalf()) ++exhausted;
  std::memcpy(p1, scratch_.Get(), half_);
  if (FillHalf()) ++exhausted;
  buffer_->Unlock(p1, n1, p2, n2);
  uint32_t flags = owner_->GetFlags();
  bool hold = (flags & Dsnd::kInactive) && (flags & Dsnd::kTimePause);
  if (!hold && FAILED(buffer_->Play(0, 0, DSBPLAY_LOOPING))) return EndWorker(true);
  paused_.store(hold);
  ack_event_.Set();
  DWORD next = half_;
  HANDLE events[2] = {notify_event_.GetHandle(), command_event_.GetHandle()};
  for (;;) {
    lock_.Leave();
    DWORD r = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    lock_.Enter();
    if (r == WAIT_OBJECT_0) {
      // Refill the half the cursor has left with the half decoded ahead.
      if (exhausted == 3) {
        DRef<DsndStreamEntry> current = list_->GetCurrent();
        if (current && current->IsDecoding()) current->EndDecode();
        ack_event_.Set();
        return EndWorker(false);
      }
      if (!LockHalf(next, half_, &p1, &n1, &p2, &n2, 0)) return EndWorker(true);
      std::memcpy(p1, scratch_.Get(), n1);
      if (p2 && n2) std::memcpy(p2, scratch_.Get() + n1, n2);
      buffer_->Unlock(p1, n1, p2, n2);
      next = next == half_ ? 0 : half_;
      if (FillHalf()) ++exhausted;
      continue;
    }
    uint32_t state = state_.load();
    DRef<DsndStreamEntry> current = list_->GetCurrent();
    if (state & kPauseRequest) {
      buffer_->Stop();
      if (current) current->EndDecode();
      paused_.store(true);
      state_.fetch_and(~kPauseRequest);
      ack_event_.Set();
    }
    if (state & kResumeRequest) {
      if (current && !current->IsDecoding()) current->BeginDecode();
      buffer_->Play(0, 0, DSBPLAY_LOOPING);
      paused_.store(false);
      state_.fetch_and(~kResumeRequest);
      ack_event_.Set();
    }
    if (state & kStopRequest) {
      if (current) current->EndDecode();
      state_.fetch_and(~kStopRequest);
      ack_event_.Set();
      return EndWorker(false);
    }
  }
}

bool DsndStream::FillHalf() {
  uint8_t* scratch = scratch_.Get();
  DRef<DsndStreamEntry> current = list_->GetCurrent();
  if (!current) {
    DRef<DsndStreamEntry> first = list_->GetFirst();
    std::memset(scratch, first && first->GetFormat().wBitsPerSample == 8 ? 0x80 : 0, half_);
    return true;
  }
  uint32_t filled = 0;
  for (;;) {
    uint8_t silence = current->GetFormat().wBitsPerSample == 8 ? 0x80 : 0;
    int32_t n = current->Read(scratch + filled, half_ - filled);
    if (n > 0) {
      filled += static_cast<uint32_t>(n);
      pass_bytes_ += static_cast<uint32_t>(n);
      if (filled == half_) return false;
      continue;
    }
    n = current->Read(scratch + filled, half_ - filled);
    if (n > 0) {
      filled += static_cast<uint32_t>(n);
      pass_bytes_ += static_cast<uint32_t>(n);
      if (filled == half_) return false;
      continue;
    }
    // The entry has ended. A pass that gave nothing at all (a loop start past the end, no data)
    // would repeat forever without filling anything: its repeats count as used up.
    current->EndDecode();
    DRef<DsndStreamEntry> ended = current;
    if (pass_bytes_ == 0) ended->repeat = 0;
    pass_bytes_ = 0;
    if (!list_->Next()) {
      std::memset(scratch + filled, silence, half_ - filled);
      return true;
    }
    current = list_->GetCurrent();
    current->Rewind();
    current->BeginDecode();
    if (current->loop_start > 0 && (current == ended || (current->flags & 1)))
      current->Skip(current->loop_start);
  }
}
