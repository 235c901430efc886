// Sound data and voice sets: loading, buffer locations with duplication, voice picking, the 3D
// setters and the pause fan-out.
#include "media/dsnd_data.h"

#include <cstring>

#include "base/dlogstream.h"
#include "media/dsnd.h"

namespace {

constexpr uint32_t kLocations[3] = {DSBCAPS_LOCDEFER, DSBCAPS_LOCHARDWARE, DSBCAPS_LOCSOFTWARE};

}  // namespace

// ---- DsndData

DsndData::~DsndData() {
  Unload();
}

DsndData::List& DsndData::ListOf(uint32_t location) {
  if (location == DSBCAPS_LOCDEFER) return deferred_;
  if (location == DSBCAPS_LOCHARDWARE) return hardware_;
  return software_;
}

bool DsndData::Load(Dsnd* device, const DString& name, const DFile& source) {
  if (owner_) return false;
  owner_ = device;
  DString::CopyTo(name, name_, sizeof(name_));
  if (wave_.Open(source)) return true;
  DDebugLog() << "[DsndData] Can't read wave data \"" << source.GetName() << "\"\n";
  Unload();
  return false;
}

bool DsndData::Unload() {
  if (!owner_) return false;
  // Taking the sound out of the cache may drop its last reference: hold one until the end.
  DRef<DsndData> self = owner_->RefOf(this);
  for (List* list : {&hardware_, &software_, &deferred_}) {
    while (!list->IsEmpty()) {
      DRef<DsndVoices> v = list->Front();
      if (!v->Release()) list->Erase(list->Begin());
    }
    list->Clear();
  }
  wave_.Close();
  name_[0] = '\0';
  Dsnd* former = owner_;
  owner_ = nullptr;
  former->RemoveSound(this);
  return true;
}

DRef<DsndVoices> DsndData::CreateVoices(int32_t count, uint32_t priority, uint32_t flags) {
  DRef<DsndVoices> v;
  if (flags & 1) {
    if (flags & 2) v = DuplicateVoices(deferred_, count, flags, priority, DSBCAPS_LOCDEFER);
    if (!v) v = DuplicateVoices(hardware_, count, flags, priority, DSBCAPS_LOCHARDWARE);
  }
  if (!v) v = DuplicateVoices(software_, count, flags, priority, DSBCAPS_LOCSOFTWARE);
  if (v) return v;
  WAVEFORMATEX format = wave_.GetFormat();
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwBufferBytes = wave_.GetTotalBytes();
  desc.lpwfxFormat = &format;
  if (flags & 1) {
    desc.dwFlags = DSBCAPS_CTRL3D;
    desc.guid3DAlgorithm = DS3DALG_HRTF_FULL;
    if (flags & 2) v = CreateBufferVoices(desc, deferred_, count, flags, priority, DSBCAPS_LOCDEFER);
    if (!v) v = CreateBufferVoices(desc, hardware_, count, flags, priority, DSBCAPS_LOCHARDWARE);
  }
  if (!v) v = CreateBufferVoices(desc, software_, count, flags, priority, DSBCAPS_LOCSOFTWARE);
  return v;
}

DRef<DsndVoices> DsndData::DuplicateVoices(List& list, int32_t count, uint32_t flags, uint32_t priority,
                                           uint32_t location) {
  if (list.IsEmpty()) return DRef<DsndVoices>();
  IDirectSoundBuffer* dup = nullptr;
  DRef<DsndVoices> first = list.Front();
  if (FAILED(owner_->GetDevice()->DuplicateSoundBuffer(first->buffers_[0], &dup))) return DRef<DsndVoices>();
  DRef<DsndVoices> v;
  v.Alloc(1);
  if (!v->Create(this, dup, count, flags, priority)) return DRef<DsndVoices>();
  v->node_ = list.PushBack(v);
  v->location_ = location;
  return v;
}

DRef<DsndVoices> DsndData::CreateBufferVoices(const DSBUFFERDESC& description, List& list, int32_t count,
                                              uint32_t flags, uint32_t priority, uint32_t location) {
  DSBUFFERDESC desc = description;
  desc.dwFlags |= location | DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(owner_->GetDevice()->CreateSoundBuffer(&desc, &buffer, nullptr))) return DRef<DsndVoices>();
  DRef<DsndVoices> v;
  v.Alloc(1);
  if (!v->Create(this, buffer, count, flags, priority)) return DRef<DsndVoices>();
  v->node_ = list.PushBack(v);
  v->location_ = location;
  FillBuffer(v.Get());
  return v;
}

void DsndData::FillBuffer(DsndVoices* voices) {
  void* p = nullptr;
  DWORD n = 0;
  IDirectSoundBuffer* b = voices->buffers_[0];
  if (FAILED(b->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER))) return;
  wave_.Rewind();
  wave_.BeginDecode();
  int32_t got = wave_.Read(p, n);
  wave_.EndDecode();
  // A short decode (every MP3 is short of its estimate) leaves silence, not stale bytes.
  uint32_t filled = got > 0 ? static_cast<uint32_t>(got) : 0;
  if (filled < n) {
    std::memset(static_cast<uint8_t*>(p) + filled, wave_.GetFormat().wBitsPerSample == 8 ? 0x80 : 0,
                n - filled);
  }
  b->Unlock(p, n, nullptr, 0);
}

void DsndData::RemoveVoices(DsndVoices* voices) {
  if (voices->node_.Node()) {
    ListOf(voices->location_).Erase(voices->node_);
    voices->node_ = DRefList<DsndVoices>::Iterator();
  }
  if (hardware_.IsEmpty() && software_.IsEmpty() && deferred_.IsEmpty() && owner_) {
    DRef<DsndData> self = owner_->RefOf(this);  // the cache may hold the last reference
    owner_->RemoveSound(this);
  }
}

void DsndData::Suspend() {
  for (uint32_t loc : kLocations) {
    List& list = ListOf(loc);
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) it.Value()->PauseForInactive();
  }
}

void DsndData::RestoreVoices() {
  for (uint32_t loc : kLocations) {
    List& list = ListOf(loc);
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) {
      DRef<DsndVoices> v = it.Value();
      DWORD status = 0;
      if (SUCCEEDED(v->buffers_[0]->GetStatus(&status)) && (status & DSBSTATUS_BUFFERLOST)) {
        v->buffers_[0]->Restore();
        FillBuffer(v.Get());
      }
      v->ResumeMarked();
    }
  }
}

void DsndData::ApplyTimePause() {
  for (uint32_t loc : kLocations) {
    List& list = ListOf(loc);
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) it.Value()->ApplyTimePause();
  }
}

// ---- DsndVoices

DsndVoices::~DsndVoices() {
  Release();
}

bool DsndVoices::Create(DsndData* owner, IDirectSoundBuffer* first, int32_t count, uint32_t flags,
                        uint32_t priority) {
  if (owner_) {
    first->Release();
    return false;
  }
  owner_ = owner;
  // Scripts pass any count: at least one voice, at most kMaxVoices.
  count_ = static_cast<uint32_t>(count < 1 ? 1 : count > kMaxVoices ? kMaxVoices : count);
  buffers_.Alloc(count_);
  for (uint32_t i = 0; i < count_; ++i) buffers_[i] = nullptr;
  buffers_[0] = first;
  IDirectSound* device = owner->GetOwner()->GetDevice();
  for (uint32_t i = 1; i < count_; ++i) {
    if (FAILED(device->DuplicateSoundBuffer(buffers_[0], &buffers_[i]))) {
      buffers_[i] = nullptr;
      Release();
      return false;
    }
  }
  flags_ = flags;
  states_.Alloc(count_);
  loop_.Alloc(count_);
  for (uint32_t i = 0; i < count_; ++i) states_[i] = loop_[i] = 0;
  if (flags & 1) {
    buffers3d_.Alloc(count_);
    for (uint32_t i = 0; i < count_; ++i) buffers3d_[i] = nullptr;
    for (uint32_t i = 0; i < count_; ++i) {
      if (FAILED(buffers_[i]->QueryInterface(IID_IDirectSound3DBuffer,
                                             reinterpret_cast<void**>(&buffers3d_[i])))) {
        buffers3d_[i] = nullptr;
        Release();
        return false;
      }
      IDirectSound3DBuffer* b = buffers3d_[i];
      b->SetPosition(0, 0, 0, DS3D_DEFERRED);
      b->SetVelocity(0, 0, 0, DS3D_DEFERRED);
      b->SetConeAngles(360, 360, DS3D_DEFERRED);
      b->SetConeOutsideVolume(0, DS3D_DEFERRED);
      b->SetConeOrientation(1.0f, 0, 0, DS3D_DEFERRED);
      b->SetMinDistance(1.0f, DS3D_DEFERRED);
      b->SetMaxDistance(1e9f, DS3D_DEFERRED);
      b->SetMode(DS3DMODE_NORMAL, DS3D_DEFERRED);
    }
  }
  priority_ = priority;
  return true;
}

bool DsndVoices::Release() {
  if (!owner_) return false;
  // Leaving the owner's list may drop the last reference to this set: hold one meanwhile.
  DRef<DsndVoices> self = node_.Node() ? node_.Value() : DRef<DsndVoices>();
  owner_->RemoveVoices(this);
  for (uint32_t i = 0; i < count_; ++i) {
    if (buffers3d_ && buffers3d_[i]) buffers3d_[i]->Release(), buffers3d_[i] = nullptr;
  }
  for (uint32_t i = 0; i < count_; ++i) {
    if (buffers_ && buffers_[i]) buffers_[i]->Release(), buffers_[i] = nullptr;
  }
  buffers_.Release();
  buffers3d_.Release();
  loop_.Release();
  states_.Release();
  count_ = 0;
  owner_ = nullptr;
  return true;
}

bool DsndVoices::PickVoice(uint32_t* index) {
  bool found = false;
  DWORD best = 0;
  for (uint32_t i = 0; i < count_; ++i) {
    DWORD status = 0;
    if (FAILED(buffers_[i]->GetStatus(&status))) continue;
    if (!(status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING))) {
      *index = i;
      return true;
    }
    if (status & DSBSTATUS_LOOPING) continue;
    DWORD play = 0, write = 0;
    if (FAILED(buffers_[i]->GetCurrentPosition(&play, &write))) continue;
    if (!found || play > best) {
      found = true;
      best = play;
      *index = i;
    }
  }
  return found;
}

void DsndVoices::PlayVoice(uint32_t i) {
  DWORD flags = (loop_[i] & 1) ? DSBPLAY_LOOPING : 0;
  if (flags_ & 2) {
    buffers_[i]->Play(0, priority_, flags | DSBPLAY_TERMINATEBY_TIME | DSBPLAY_TERMINATEBY_PRIORITY);
  } else {
    buffers_[i]->Play(0, 0, flags);
  }
  states_[i] = kPlayed;
}

void DsndVoices::Play(bool loop) {
  uint32_t i;
  if (!owner_ || !PickVoice(&i)) return;
  loop_[i] = loop ? 1 : 0;
  buffers_[i]->SetCurrentPosition(0);
  PlayVoice(i);
}

void DsndVoices::StopAll() {
  for (uint32_t i = 0; i < count_; ++i) StopVoice(i);
}

void DsndVoices::StopVoice(uint32_t i) {
  buffers_[i]->Stop();
  states_[i] = kStopped;
}

bool DsndVoices::IsPlaying(bool any) {
  for (uint32_t i = 0; i < count_; ++i) {
    DWORD status = 0;
    if (FAILED(buffers_[i]->GetStatus(&status))) continue;  // counts as silent, never as idle
    bool playing = (status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING)) != 0;
    if (any && playing) return true;
    if (!any && !playing) return false;
  }
  return !any;
}

#define ORVANE_EACH_3D(call)                                   \
  do {                                                         \
    if (!buffers3d_) return;                                   \
    for (uint32_t i = 0; i < count_; ++i) buffers3d_[i]->call; \
  } while (0)

void DsndVoices::SetMode(uint32_t mode) {
  ORVANE_EACH_3D(SetMode(mode, DS3D_DEFERRED));
}
void DsndVoices::SetDistance(float min, float max) {
  ORVANE_EACH_3D(SetMinDistance(min, DS3D_DEFERRED));
  ORVANE_EACH_3D(SetMaxDistance(max, DS3D_DEFERRED));
}
void DsndVoices::SetPosition(float x, float y, float z) {
  ORVANE_EACH_3D(SetPosition(x, y, -z, DS3D_DEFERRED));
}
void DsndVoices::SetVelocity(float x, float y, float z) {
  ORVANE_EACH_3D(SetVelocity(x, y, -z, DS3D_DEFERRED));
}
void DsndVoices::SetConeAngles(uint32_t inside, uint32_t outside) {
  ORVANE_EACH_3D(SetConeAngles(inside, outside, DS3D_DEFERRED));
}
void DsndVoices::SetConeOutsideVolume(int32_t volume) {
  ORVANE_EACH_3D(SetConeOutsideVolume(volume, DS3D_DEFERRED));
}
void DsndVoices::SetConeOrientation(float x, float y, float z) {
  ORVANE_EACH_3D(SetConeOrientation(x, y, -z, DS3D_DEFERRED));
}
#undef ORVANE_EACH_3D

bool DsndVoices::TimePauseOn() const {
  return owner_ && owner_->GetOwner() && owner_->GetOwner()->IsTimePause();
}

void DsndVoices::PauseForInactive() {
  for (uint32_t i = 0; i < count_; ++i) {
    DWORD status = 0;
    if (FAILED(buffers_[i]->GetStatus(&status))) {
      StopVoice(i);
      continue;
    }
    if (status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING)) {
      states_[i] = kPlayed;
      if (TimePauseOn()) {
        buffers_[i]->Stop();
        states_[i] = kInactive;
      }
    }
  }
}

void DsndVoices::ResumeMarked() {
  for (uint32_t i = 0; i < count_; ++i) {
    if (states_[i] == kInactive) PlayVoice(i);
  }
}

void DsndVoices::ApplyTimePause() {
  if (!owner_ || !owner_->GetOwner() || !owner_->GetOwner()->IsSuspended()) return;
  if (TimePauseOn()) {
    PauseForInactive();
  } else {
    ResumeMarked();
  }
}

void DsndVoices::Pause() {
  for (uint32_t i = 0; i < count_; ++i) {
    if (states_[i] == kPlayed) {
      buffers_[i]->Stop();
      states_[i] = kPaused;
    }
  }
}

void DsndVoices::Resume() {
  for (uint32_t i = 0; i < count_; ++i) {
    if (states_[i] == kPaused) PlayVoice(i);
  }
}
