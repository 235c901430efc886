// The sound device: creation in plain or 3D mode, the sound cache, the stream list, the
// listener, and suspension and the time-pause switch fanned out to voices and streams.
#include "media/dsnd.h"

#include "base/dlogstream.h"
#include "base/dwindow.h"
#include "media/dsnd_data.h"
#include "media/dsnd_stream.h"
#include "media/mpeg/mpeg_audio_install.h"

namespace {

BOOL DsndEnumDeviceCallback(GUID* guid, LPCSTR description, LPCSTR module, LPVOID context) {
  if (static_cast<void*>(guid) != context) return TRUE;
  DDebugLog() << "[Dsnd] device \"" << (description ? description : "") << "\" driver \""
              << (module ? module : "") << "\"\n";
  return FALSE;
}

}  // namespace

Dsnd& TheDsnd() {
  static Dsnd device;
  return device;
}

Dsnd::~Dsnd() {
  Release();
}

bool Dsnd::Create(DWindow* window, uint32_t mode) {
  if (device_) return false;
  MpegAudioInstall();  // MPEG audio and Ogg Vorbis files, MPEG audio in WAV files
  bool ok = SUCCEEDED(DirectSoundCreate(nullptr, &device_, nullptr));
  if (ok) {
    DirectSoundEnumerateA(DsndEnumDeviceCallback, nullptr);
    HWND hwnd = window ? window->GetHandle() : nullptr;
    ok = SUCCEEDED(device_->SetCooperativeLevel(hwnd, DSSCL_PRIORITY));
  }
  bool three_d = (mode & 1) != 0;
  if (ok && three_d) {
    DSCAPS caps{};
    caps.dwSize = sizeof(caps);
    ok = SUCCEEDED(device_->GetCaps(&caps));
    if (ok && ((caps.dwFlags & DSCAPS_EMULDRIVER) || !(caps.dwFlags & DSCAPS_PRIMARY16BIT) ||
               !(caps.dwFlags & DSCAPS_SECONDARY16BIT))) {
      three_d = false;
    }
  }
  if (ok) {
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(desc);
    if (three_d) {
      desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D;
      device_->CreateSoundBuffer(&desc, &primary_, nullptr);
    }
    if (!primary_) {
      three_d = false;
      desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
      ok = SUCCEEDED(device_->CreateSoundBuffer(&desc, &primary_, nullptr));
    }
  }
  if (ok) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 22050;
    f.nAvgBytesPerSec = 88200;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    ok = SUCCEEDED(primary_->SetFormat(&f));
  }
  if (ok && three_d &&
      FAILED(primary_->QueryInterface(IID_IDirectSound3DListener, reinterpret_cast<void**>(&listener_)))) {
    listener_ = nullptr;
    three_d = false;
  }
  if (!ok) {
    Release();
    return false;
  }
  uint32_t flags = kTimePause;
  DDebugLog() << "[Dsnd] Create mode";
  if (three_d) {
    DDebugLog() << " 3D";
    flags |= k3D;
    if (mode & 2) {
      DDebugLog() << " Voice";
      flags |= kVoiceManaged;
    }
  }
  DDebugLog() << "\n";
  SetFlags(flags);
  return true;
}

bool Dsnd::Release() {
  if (!device_) return false;
  while (!streams_.IsEmpty()) {
    DRef<DsndStream> s = streams_.Front();
    s->Close();
    if (!streams_.IsEmpty() && streams_.Front() == s) streams_.Erase(streams_.Begin());
  }
  streams_.Clear();
  while (!sounds_.IsEmpty()) {
    DRef<DsndData> d = sounds_.Front();
    d->Unload();
    if (!sounds_.IsEmpty() && sounds_.Front() == d) sounds_.Erase(sounds_.Begin());
  }
  sounds_.Clear();
  if (listener_) listener_->Release();
  if (primary_) primary_->Release();
  device_->Release();
  listener_ = nullptr;
  primary_ = nullptr;
  device_ = nullptr;
  SetFlags(GetFlags() & ~(k3D | kVoiceManaged | kTimePause));
  return true;
}

void Dsnd::SetTimePause(bool on) {
  if (!device_) return;
  SetFlags(on ? GetFlags() | kTimePause : GetFlags() & ~kTimePause);
  if (!(GetFlags() & kInactive)) return;
  for (auto it = sounds_.Begin(); !(it == sounds_.End()); it = it.Next()) it.Value()->ApplyTimePause();
  for (auto it = streams_.Begin(); !(it == streams_.End()); it = it.Next()) it.Value()->RequestPause();
}

void Dsnd::Suspend() {
  if (!device_ || (GetFlags() & kInactive)) return;
  SetFlags(GetFlags() | kInactive);
  for (auto it = sounds_.Begin(); !(it == sounds_.End()); it = it.Next()) it.Value()->Suspend();
  for (auto it = streams_.Begin(); !(it == streams_.End()); it = it.Next()) it.Value()->RequestPause();
}

void Dsnd::Resume() {
  if (!device_ || !(GetFlags() & kInactive)) return;
  SetFlags(GetFlags() & ~kInactive);
  primary_->Restore();
  for (auto it = sounds_.Begin(); !(it == sounds_.End()); it = it.Next()) it.Value()->RestoreVoices();
  for (auto it = streams_.Begin(); !(it == streams_.End()); it = it.Next()) it.Value()->RequestResume();
}

DRef<DsndData> Dsnd::FindSound(const DString& name) {
  uint32_t length = name.Length();
  for (auto it = sounds_.Begin(); !(it == sounds_.End()); it = it.Next()) {
    DRef<DsndData> d = it.Value();
    DString stored(d->GetName());
    if (stored.Length() == length && DString::CompareNoCaseN(stored, name, length) == 0) return d;
  }
  return DRef<DsndData>();
}

DRef<DsndData> Dsnd::RefOf(DsndData* data) {
  for (auto it = sounds_.Begin(); !(it == sounds_.End()); it = it.Next()) {
    if (it.Value().Get() == data) return it.Value();
  }
  return DRef<DsndData>();
}

DRef<DsndVoices> Dsnd::CreateSound(const DString& name, const DFile& source, int32_t count, uint32_t wanted,
                                   uint32_t priority) {
  if (!device_) return DRef<DsndVoices>();
  DRef<DsndData> data = FindSound(name);
  if (!data) {
    data.Alloc(1);
    if (!data->Load(this, name, source)) return DRef<DsndVoices>();
    sounds_.PushBack(data);
  }
  uint32_t flags = ((GetFlags() & k3D) && (wanted & 1) ? 1u : 0u) |
                   ((GetFlags() & kVoiceManaged) && (wanted & 2) ? 2u : 0u);
  return data->CreateVoices(count, priority, flags);
}

DRef<DsndVoices> Dsnd::FindSoundVoices(const DString& name, int32_t count, uint32_t wanted,
                                       uint32_t priority) {
  if (!device_) return DRef<DsndVoices>();
  DRef<DsndData> data = FindSound(name);
  if (!data) return DRef<DsndVoices>();
  uint32_t flags = ((GetFlags() & k3D) && (wanted & 1) ? 1u : 0u) |
                   ((GetFlags() & kVoiceManaged) && (wanted & 2) ? 2u : 0u);
  return data->CreateVoices(count, priority, flags);
}

void Dsnd::RemoveSound(DsndData* data) {
  for (auto it = sounds_.Begin(); !(it == sounds_.End()); it = it.Next()) {
    if (it.Value().Get() == data) {
      sounds_.Erase(it);
      return;
    }
  }
}

DRef<DsndStream> Dsnd::CreateStream(const DRef<DsndStreamList>& list) {
  if (!device_) return DRef<DsndStream>();
  DRef<DsndStream> s;
  s.Alloc(1);
  if (!s->Open(this, list)) return DRef<DsndStream>();
  s->SetNode(streams_.PushBack(s));
  return s;
}

void Dsnd::RemoveStream(DsndStream* stream) {
  DRefList<DsndStream>::Iterator node = stream->TakeNode();
  if (node.Node()) streams_.Erase(node);
}

DRef<DsndVoices> Dsnd::OpenSound(const DString& name, int32_t count, uint32_t wanted, uint32_t priority) {
  DFile file;
  if (!DOpenProgramFile(name, &file)) {
    DDebugLog() << "[Dsnd] Can't open '" << name << "'\n";
    return DRef<DsndVoices>();
  }
  return CreateSound(name, file, count, wanted, priority);
}

DRef<DsndStream> Dsnd::OpenStream(const DString& name, int32_t repeat, float loop_start, uint32_t flags) {
  DFile file;
  if (!DOpenProgramFile(name, &file)) {
    DDebugLog() << "[Dsnd] Can't open '" << name << "'\n";
    return DRef<DsndStream>();
  }
  DRef<DsndStreamList> list;
  list.Alloc(1);
  list->Add(file, repeat, loop_start, flags);
  return CreateStream(list);
}

void Dsnd::CommitListener() {
  if (listener_) listener_->CommitDeferredSettings();
}
void Dsnd::SetListenerPosition(float x, float y, float z) {
  if (listener_) listener_->SetPosition(x, y, -z, DS3D_DEFERRED);
}
void Dsnd::SetListenerVelocity(float x, float y, float z) {
  if (listener_) listener_->SetVelocity(x, y, -z, DS3D_DEFERRED);
}
void Dsnd::SetListenerOrientation(float fx, float fy, float fz, float tx, float ty, float tz) {
  if (listener_) listener_->SetOrientation(fx, fy, -fz, tx, ty, -tz, DS3D_DEFERRED);
}
void Dsnd::SetRolloffFactor(float factor) {
  if (listener_) listener_->SetRolloffFactor(factor, DS3D_DEFERRED);
}
void Dsnd::SetDopplerFactor(float factor) {
  if (listener_) listener_->SetDopplerFactor(factor, DS3D_DEFERRED);
}
void Dsnd::SetDistanceFactor(float factor) {
  if (listener_) listener_->SetDistanceFactor(factor, DS3D_DEFERRED);
}
