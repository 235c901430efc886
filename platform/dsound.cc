// DirectSound on the software mixer: the device, buffers and duplicates, notifications, and the
// 3D model (distance roll-off, cones, pan from the listener-relative azimuth, Doppler as a rate
// ratio), whose deferred settings wait for the listener's commit.
#include "platform/dsound.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/mixer.h"

namespace orvane::audio {
namespace {

constexpr DWORD kDefaultCaps = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                               DSCAPS_PRIMARY16BIT | DSCAPS_CONTINUOUSRATE | DSCAPS_SECONDARYMONO |
                               DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT;
constexpr double kSpeedOfSound = 343.3;  // metres per second
constexpr std::int32_t kUnity = 32768;   // gain 1.0 in the mixer's fixed point

// Holds the mixer's lock for a scope: buffer state is shared with the mixing thread.
struct MixerGuard {
  MixerGuard() { LockMixer(); }
  ~MixerGuard() { UnlockMixer(); }
  MixerGuard(const MixerGuard&) = delete;
  MixerGuard& operator=(const MixerGuard&) = delete;
};

DsoundFaults g_faults;            // guarded by the mixer's lock
WAVEFORMATEX g_primary_format{};  // what the last SetFormat recorded

DsoundFaults Faults() {
  MixerGuard g;
  return g_faults;
}

struct Vec {
  double x = 0, y = 0, z = 0;
};
Vec Sub(Vec a, Vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double Dot(Vec a, Vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
double Len(Vec a) {
  return std::sqrt(Dot(a, a));
}
Vec Cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec Scale(Vec a, double k) {
  return {a.x * k, a.y * k, a.z * k};
}
Vec FromD3D(D3DVALUE x, D3DVALUE y, D3DVALUE z) {
  return {x, y, z};
}
D3DVECTOR ToD3D(Vec v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
bool Finite(double v) {
  return std::isfinite(v);
}

struct Params3D {
  Vec position;
  Vec velocity;
  Vec cone{0, 0, 1};
  DWORD inside = 360;
  DWORD outside = 360;
  LONG outside_volume = 0;  // hundredths of a decibel, 0 to -10000
  double min_distance = 1.0;
  double max_distance = 1e9;
  DWORD mode = DS3DMODE_NORMAL;
};

struct ListenerParams {
  Vec position;
  Vec velocity;
  Vec front{0, 0, 1};
  Vec top{0, 1, 0};
  double rolloff = 1.0;
  double doppler = 1.0;
  double distance = 1.0;  // metres per unit
};

// What the mixer applies to one buffer: left and right gains and a rate factor.
struct MixParams {
  std::int32_t left = kUnity;
  std::int32_t right = kUnity;
  double rate_factor = 1.0;
};

double MilliBelToGain(double mb) {
  return std::pow(10.0, mb / 2000.0);
}

std::int32_t ToFixed(double gain) {
  if (!(gain > 0)) return 0;
  if (gain >= 1.0) return kUnity;
  return static_cast<std::int32_t>(std::lround(gain * kUnity));
}

// DirectSound's 3D model for one buffer and listener (applied settings).
MixParams Compute3D(const Params3D& b, const ListenerParams& l) {
  MixParams m;
  if (b.mode == DS3DMODE_DISABLE) return m;
  const bool head_relative = b.mode == DS3DMODE_HEADRELATIVE;
  Vec rel = head_relative ? b.position : Sub(b.position, l.position);
  double d = Len(rel);
  if (!Finite(d)) return {0, 0, 1.0};
  // Distance: full gain inside the minimum distance, min / (min + rolloff x (d - min)) beyond
  // it, no further fall-off past the maximum distance.
  double lo = b.min_distance > 0 ? b.min_distance : 1e-6;
  double hi = b.max_distance > lo ? b.max_distance : lo;
  double gain = 1.0;
  if (d > lo) {
    double dd = d < hi ? d : hi;
    double rolloff = l.rolloff > 0 ? l.rolloff : 0;
    gain = lo / (lo + rolloff * (dd - lo));
  }
  // Cone: full gain inside half the inside angle, the outside volume beyond half the outside
  // angle, interpolated in decibels between.
  if (d > 0 && (b.inside < 360 || b.outside < 360)) {
    double cl = Len(b.cone);
    if (cl > 0) {
      double c = Dot(b.cone, Scale(rel, -1.0)) / (cl * d);
      c = c > 1 ? 1 : c < -1 ? -1 : c;
      double angle = std::acos(c) * 180.0 / M_PI;
      double in = b.inside / 2.0;
      double out = b.outside / 2.0 > in ? b.outside / 2.0 : in;
      double mb;
      if (angle <= in) {
        mb = 0;
      } else if (angle >= out) {
        mb = b.outside_volume;
      } else {
        mb = b.outside_volume * (angle - in) / (out - in);
      }
      gain *= MilliBelToGain(mb);
    }
  }
  // Pan: the sine of the azimuth in the listener's horizontal plane; the far side is turned down.
  double xr, zr;
  if (head_relative) {
    xr = rel.x;
    zr = rel.z;
  } else {
    Vec front = l.front, top = l.top;
    double fl = Len(front), tl = Len(top);
    if (!(fl > 0)) front = {0, 0, 1}, fl = 1;
    if (!(tl > 0)) top = {0, 1, 0}, tl = 1;
    front = Scale(front, 1 / fl);
    top = Scale(top, 1 / tl);
    Vec right = Cross(top, front);
    double rl = Len(right);
    if (rl > 0) right = Scale(right, 1 / rl);
    xr = Dot(rel, right);
    zr = Dot(rel, front);
  }
  double h = std::sqrt(xr * xr + zr * zr);
  double pan = h > 0 ? xr / h : 0;
  m.left = ToFixed(gain * (pan > 0 ? 1 - pan : 1));
  m.right = ToFixed(gain * (pan < 0 ? 1 + pan : 1));
  // Doppler: the rate ratio (c + listener's approach) / (c - source's approach).
  if (d > 0 && l.doppler > 0) {
    Vec u = Scale(rel, 1 / d);  // from the listener to the source
    double scale = l.doppler * (l.distance > 0 ? l.distance : 1.0);
    double listener_approach = head_relative ? 0 : Dot(l.velocity, u) * scale;
    double source_approach = -Dot(b.velocity, u) * scale;
    double num = kSpeedOfSound + listener_approach;
    double den = kSpeedOfSound - source_approach;
    double floor = kSpeedOfSound * 0.1;
    num = num < floor ? floor : num;
    den = den < floor ? floor : den;
    double ratio = num / den;
    if (Finite(ratio)) m.rate_factor = ratio < 0.1 ? 0.1 : ratio > 10 ? 10 : ratio;
  }
  return m;
}

bool ValidPcm(const WAVEFORMATEX* f) {
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f->nChannels != 1 && f->nChannels != 2) return false;
  if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
  if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return false;
  if (f->nSamplesPerSec < DSBFREQUENCY_MIN || f->nSamplesPerSec > DSBFREQUENCY_MAX) return false;
  return f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
}

class Buffer;

// What a device shares with its buffers and listener: the listener's settings and the 3D
// buffers that a commit reaches. Guarded by the mixer's lock.
struct DeviceState {
  ListenerParams applied;
  ListenerParams pending;
  std::vector<Buffer*> buffers_3d;
  void CommitLocked();
};

// The PCM of a buffer, shared by its duplicates.
struct Pcm {
  std::vector<std::uint8_t> bytes;
  WAVEFORMATEX format{};
  bool lost = false;
};

template <class T>
class RefCounted {
 public:
  ULONG AddRefImpl() { return ++refs_; }
  ULONG ReleaseImpl(T* self) {
    ULONG r = --refs_;
    if (r == 0) delete self;
    return r;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class Listener final : public IDirectSound3DListener {
 public:
  explicit Listener(std::shared_ptr<DeviceState> state) : state_(std::move(state)) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectSound3DListener) {
      AddRef();
      *object = static_cast<IDirectSound3DListener*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.AddRefImpl(); }
  ULONG Release() override { return refs_.ReleaseImpl(this); }

  HRESULT CommitDeferredSettings() override {
    MixerGuard g;
    state_->CommitLocked();
    return DS_OK;
  }
  HRESULT GetDistanceFactor(D3DVALUE* f) override {
    return Get(f, [](const ListenerParams& p) { return static_cast<float>(p.distance); });
  }
  HRESULT GetDopplerFactor(D3DVALUE* f) override {
    return Get(f, [](const ListenerParams& p) { return static_cast<float>(p.doppler); });
  }
  HRESULT GetRolloffFactor(D3DVALUE* f) override {
    return Get(f, [](const ListenerParams& p) { return static_cast<float>(p.rolloff); });
  }
  HRESULT GetPosition(D3DVECTOR* v) override {
    return Get(v, [](const ListenerParams& p) { return ToD3D(p.position); });
  }
  HRESULT GetVelocity(D3DVECTOR* v) override {
    return Get(v, [](const ListenerParams& p) { return ToD3D(p.velocity); });
  }
  HRESULT GetOrientation(D3DVECTOR* front, D3DVECTOR* top) override {
    if (!front || !top) return DSERR_INVALIDPARAM;
    MixerGuard g;
    *front = ToD3D(state_->applied.front);
    *top = ToD3D(state_->applied.top);
    return DS_OK;
  }
  HRESULT SetDistanceFactor(D3DVALUE f, DWORD apply) override {
    if (!(f > 0) || !Finite(f)) return DSERR_INVALIDPARAM;
    return Set(apply, [&](ListenerParams& p) { p.distance = f; });
  }
  HRESULT SetDopplerFactor(D3DVALUE f, DWORD apply) override {
    if (!(f >= 0 && f <= 10)) return DSERR_INVALIDPARAM;
    return Set(apply, [&](ListenerParams& p) { p.doppler = f; });
  }
  HRESULT SetRolloffFactor(D3DVALUE f, DWORD apply) override {
    if (!(f >= 0 && f <= 10)) return DSERR_INVALIDPARAM;
    return Set(apply, [&](ListenerParams& p) { p.rolloff = f; });
  }
  HRESULT SetOrientation(D3DVALUE fx, D3DVALUE fy, D3DVALUE fz, D3DVALUE tx, D3DVALUE ty, D3DVALUE tz,
                         DWORD apply) override {
    return Set(apply, [&](ListenerParams& p) {
      p.front = FromD3D(fx, fy, fz);
      p.top = FromD3D(tx, ty, tz);
    });
  }
  HRESULT SetPosition(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) override {
    return Set(apply, [&](ListenerParams& p) { p.position = FromD3D(x, y, z); });
  }
  HRESULT SetVelocity(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) override {
    return Set(apply, [&](ListenerParams& p) { p.velocity = FromD3D(x, y, z); });
  }

 private:
  template <class T, class F>
  HRESULT Get(T* out, F f) {
    if (!out) return DSERR_INVALIDPARAM;
    MixerGuard g;
    *out = f(state_->applied);
    return DS_OK;
  }
  template <class F>
  HRESULT Set(DWORD apply, F f) {
    if (apply > DS3D_DEFERRED) return DSERR_INVALIDPARAM;
    MixerGuard g;
    f(state_->pending);
    if (apply == DS3D_IMMEDIATE) {
      f(state_->applied);
      state_->CommitLocked();
    }
    return DS_OK;
  }

  RefCounted<Listener> refs_;
  std::shared_ptr<DeviceState> state_;
};

// A primary or secondary buffer; secondary buffers are mixer sources while they play.
class Buffer final : public IDirectSoundBuffer,
                     public IDirectSound3DBuffer,
                     public IDirectSoundNotify,
                     public MixSource {
 public:
  // A primary buffer.
  Buffer(std::shared_ptr<DeviceState> state, DWORD flags) : state_(std::move(state)), flags_(flags) {}
  // A secondary buffer on PCM (new or shared with the original of a duplicate).
  Buffer(std::shared_ptr<DeviceState> state, DWORD flags, std::shared_ptr<Pcm> pcm)
      : state_(std::move(state)), flags_(flags), pcm_(std::move(pcm)) {
    frames_ = static_cast<DWORD>(pcm_->bytes.size() / pcm_->format.nBlockAlign);
    if (flags_ & DSBCAPS_CTRL3D) {
      MixerGuard g;
      state_->buffers_3d.push_back(this);
      mix_ = Compute3D(applied_, state_->applied);
    }
  }
  ~Buffer() override {
    RemoveSource(this);
    Answer(this);
    MixerGuard g;
    auto& v = state_->buffers_3d;
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == this) {
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }

  bool IsPrimary() const { return !pcm_; }
  DWORD Flags() const { return flags_; }
  const std::shared_ptr<Pcm>& PcmData() const { return pcm_; }
  const std::shared_ptr<DeviceState>& State() const { return state_; }

  // -- IUnknown (one for all three interfaces).
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDirectSoundBuffer) {
      *object = static_cast<IDirectSoundBuffer*>(this);
    } else if (riid == IID_IDirectSound3DBuffer && !IsPrimary() && (flags_ & DSBCAPS_CTRL3D)) {
      *object = static_cast<IDirectSound3DBuffer*>(this);
    } else if (riid == IID_IDirectSoundNotify && !IsPrimary() && (flags_ & DSBCAPS_CTRLPOSITIONNOTIFY)) {
      if (Faults().fail_notify) return E_NOINTERFACE;
      *object = static_cast<IDirectSoundNotify*>(this);
    } else if (riid == IID_IDirectSound3DListener && IsPrimary() && (flags_ & DSBCAPS_CTRL3D)) {
      if (Faults().fail_listener) return E_NOINTERFACE;
      *object = static_cast<IDirectSound3DListener*>(new Listener(state_));
      return S_OK;
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.AddRefImpl(); }
  ULONG Release() override { return refs_.ReleaseImpl(this); }

  // -- IDirectSoundBuffer.
  HRESULT GetCurrentPosition(LPDWORD play, LPDWORD write) override {
    if (IsPrimary()) {
      if (play) *play = 0;
      if (write) *write = 0;
      return DS_OK;
    }
    MixerGuard g;
    DWORD align = pcm_->format.nBlockAlign;
    DWORD size = frames_ * align;
    DWORD p = static_cast<DWORD>(position_ >> 32) * align;
    DWORD lead = playing_ ? (pcm_->format.nSamplesPerSec / 100) * align : 0;
    if (play) *play = p;
    if (write) *write = size ? static_cast<DWORD>((static_cast<std::uint64_t>(p) + lead) % size) : 0;
    return DS_OK;
  }
  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) override {
    WAVEFORMATEX f = IsPrimary() ? LastPrimaryFormat() : pcm_->format;
    if (!format) {
      if (!written) return DSERR_INVALIDPARAM;
      *written = sizeof(f);
      return DS_OK;
    }
    DWORD n = size < sizeof(f) ? size : static_cast<DWORD>(sizeof(f));
    std::memcpy(format, &f, n);
    if (written) *written = n;
    return DS_OK;
  }
  HRESULT GetStatus(LPDWORD status) override {
    if (!status) return DSERR_INVALIDPARAM;
    MixerGuard g;
    DWORD s = 0;
    if (playing_) s |= DSBSTATUS_PLAYING | (looping_ ? DSBSTATUS_LOOPING : 0);
    if (pcm_ && pcm_->lost) s |= DSBSTATUS_BUFFERLOST;
    *status = s;
    return DS_OK;
  }
  HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, LPDWORD bytes1, LPVOID* part2, LPDWORD bytes2,
               DWORD flags) override {
    if (IsPrimary()) return DSERR_PRIOLEVELNEEDED;
    if (!part1 || !bytes1) return DSERR_INVALIDPARAM;
    MixerGuard g;
    if (pcm_->lost) return DSERR_BUFFERLOST;
    DWORD size = static_cast<DWORD>(pcm_->bytes.size());
    if (flags & DSBLOCK_ENTIREBUFFER) {
      bytes = size;
    } else if (bytes == 0 || bytes > size) {
      return DSERR_INVALIDPARAM;
    }
    if (flags & DSBLOCK_FROMWRITECURSOR) {
      DWORD play = 0;
      GetCurrentPosition(&play, &offset);
    }
    if (offset >= size) return DSERR_INVALIDPARAM;
    DWORD first = size - offset < bytes ? size - offset : bytes;
    *part1 = pcm_->bytes.data() + offset;
    *bytes1 = first;
    if (part2) *part2 = first < bytes ? pcm_->bytes.data() : nullptr;
    if (bytes2) *bytes2 = bytes - first;
    if (first < bytes && (!part2 || !bytes2)) return DSERR_INVALIDPARAM;
    return DS_OK;
  }
  HRESULT Play(DWORD, DWORD, DWORD flags) override {
    if (IsPrimary()) return DS_OK;
    MixerGuard g;
    if (pcm_->lost) return DSERR_BUFFERLOST;
    looping_ = (flags & DSBPLAY_LOOPING) != 0;
    if (!playing_) {
      playing_ = true;
      AddSource(this);
      // A notification at the cursor where playing begins is signalled now, unless the cursor
      // stopped right on it and it was signalled then.
      DWORD at = static_cast<DWORD>(position_ >> 32) * pcm_->format.nBlockAlign;
      if (at != notified_at_) {
        for (const DSBPOSITIONNOTIFY& n : notify_) {
          if (n.dwOffset == at) Fire(n.hEventNotify);
        }
      }
      notified_at_ = at;
    }
    return DS_OK;
  }
  HRESULT SetCurrentPosition(DWORD position) override {
    if (IsPrimary()) return DSERR_INVALIDCALL;
    MixerGuard g;
    DWORD frame = position / pcm_->format.nBlockAlign;
    if (frame >= frames_) return DSERR_INVALIDPARAM;
    position_ = static_cast<std::uint64_t>(frame) << 32;
    notified_at_ = kNotNotified;
    return DS_OK;
  }
  HRESULT SetFormat(const WAVEFORMATEX* format) override {
    if (!IsPrimary()) return DSERR_INVALIDCALL;
    if (!ValidPcm(format)) return DSERR_BADFORMAT;
    MixerGuard g;
    if (g_faults.fail_set_format) return DSERR_GENERIC;
    g_primary_format = *format;
    g_primary_format.cbSize = 0;
    return DS_OK;
  }
  HRESULT Stop() override {
    if (IsPrimary()) return DS_OK;
    MixerGuard g;
    StopLocked();
    Answer(this);
    return DS_OK;
  }
  HRESULT Unlock(LPVOID, DWORD, LPVOID, DWORD) override {
    if (IsPrimary()) return DSERR_PRIOLEVELNEEDED;
    Answer(this);
    return DS_OK;
  }
  HRESULT Restore() override {
    if (IsPrimary()) return DS_OK;
    MixerGuard g;
    pcm_->lost = false;
    return DS_OK;
  }

  // -- IDirectSoundNotify.
  HRESULT SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) override {
    if (count > 0 && !positions) return DSERR_INVALIDPARAM;
    if (count > 1024) return DSERR_INVALIDPARAM;
    DWORD size = static_cast<DWORD>(pcm_->bytes.size());
    for (DWORD i = 0; i < count; ++i) {
      if (positions[i].dwOffset != DSBPN_OFFSETSTOP && positions[i].dwOffset >= size)
        return DSERR_INVALIDPARAM;
    }
    std::vector<DSBPOSITIONNOTIFY> copy(positions, positions + count);
    MixerGuard g;
    if (playing_) return DSERR_INVALIDCALL;
    notify_.swap(copy);
    return DS_OK;
  }

  // -- IDirectSound3DBuffer: the getters give applied values.
  HRESULT GetConeAngles(LPDWORD inside, LPDWORD outside) override {
    if (!inside || !outside) return DSERR_INVALIDPARAM;
    MixerGuard g;
    *inside = applied_.inside;
    *outside = applied_.outside;
    return DS_OK;
  }
  HRESULT GetConeOrientation(D3DVECTOR* v) override {
    return Get(v, [](const Params3D& p) { return ToD3D(p.cone); });
  }
  HRESULT GetConeOutsideVolume(LONG* v) override {
    return Get(v, [](const Params3D& p) { return p.outside_volume; });
  }
  HRESULT GetMaxDistance(D3DVALUE* v) override {
    return Get(v, [](const Params3D& p) { return static_cast<float>(p.max_distance); });
  }
  HRESULT GetMinDistance(D3DVALUE* v) override {
    return Get(v, [](const Params3D& p) { return static_cast<float>(p.min_distance); });
  }
  HRESULT GetMode(LPDWORD v) override {
    return Get(v, [](const Params3D& p) { return p.mode; });
  }
  HRESULT GetPosition(D3DVECTOR* v) override {
    return Get(v, [](const Params3D& p) { return ToD3D(p.position); });
  }
  HRESULT GetVelocity(D3DVECTOR* v) override {
    return Get(v, [](const Params3D& p) { return ToD3D(p.velocity); });
  }
  HRESULT SetConeAngles(DWORD inside, DWORD outside, DWORD apply) override {
    if (inside > 360 || outside > 360 || inside > outside) return DSERR_INVALIDPARAM;
    return Set(apply, [&](Params3D& p) {
      p.inside = inside;
      p.outside = outside;
    });
  }
  HRESULT SetConeOrientation(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) override {
    return Set(apply, [&](Params3D& p) { p.cone = FromD3D(x, y, z); });
  }
  HRESULT SetConeOutsideVolume(LONG volume, DWORD apply) override {
    if (volume > 0 || volume < DS3D_MAXCONEOUTSIDEVOLUME) return DSERR_INVALIDPARAM;
    return Set(apply, [&](Params3D& p) { p.outside_volume = volume; });
  }
  HRESULT SetMaxDistance(D3DVALUE d, DWORD apply) override {
    if (!(d > 0)) return DSERR_INVALIDPARAM;
    return Set(apply, [&](Params3D& p) { p.max_distance = d; });
  }
  HRESULT SetMinDistance(D3DVALUE d, DWORD apply) override {
    if (!(d > 0)) return DSERR_INVALIDPARAM;
    return Set(apply, [&](Params3D& p) { p.min_distance = d; });
  }
  HRESULT SetMode(DWORD mode, DWORD apply) override {
    if (mode > DS3DMODE_DISABLE) return DSERR_INVALIDPARAM;
    return Set(apply, [&](Params3D& p) { p.mode = mode; });
  }
  HRESULT SetPosition(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) override {
    return Set(apply, [&](Params3D& p) { p.position = FromD3D(x, y, z); });
  }
  HRESULT SetVelocity(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) override {
    return Set(apply, [&](Params3D& p) { p.velocity = FromD3D(x, y, z); });
  }

  // Takes the pending 3D settings and recomputes the mix (mixer lock held).
  void CommitLocked() {
    applied_ = pending_;
    mix_ = Compute3D(applied_, state_->applied);
  }
  // Marks the PCM lost (mixer lock held); the mixer stops every buffer on it.
  void LoseLocked() { pcm_->lost = true; }
  MixParams Mix3D() const { return mix_; }

  // -- MixSource.
  void Mix(std::int32_t* acc, unsigned frames, unsigned rate) override {
    if (!playing_) return;
    if (pcm_->lost || frames_ == 0) {
      StopLocked();
      return;
    }
    double r = static_cast<double>(pcm_->format.nSamplesPerSec) * mix_.rate_factor / rate;
    std::uint64_t step = static_cast<std::uint64_t>(std::llround(r * 4294967296.0));
    if (step == 0) step = 1;
    const DWORD align = pcm_->format.nBlockAlign;
    const DWORD start = static_cast<DWORD>(position_ >> 32) * align;
    unsigned wraps = 0;
    bool ended = false;
    if (pcm_->format.wBitsPerSample == 8) {
      if (pcm_->format.nChannels == 1) {
        MixBody<8, 1>(acc, frames, step, &wraps, &ended);
      } else {
        MixBody<8, 2>(acc, frames, step, &wraps, &ended);
      }
    } else if (pcm_->format.nChannels == 1) {
      MixBody<16, 1>(acc, frames, step, &wraps, &ended);
    } else {
      MixBody<16, 2>(acc, frames, step, &wraps, &ended);
    }
    if (notify_.empty()) {
      if (ended) StopLocked();
      return;
    }
    const DWORD size = frames_ * align;
    const DWORD end = ended ? size : static_cast<DWORD>(position_ >> 32) * align;
    notified_at_ = kNotNotified;
    for (const DSBPOSITIONNOTIFY& n : notify_) {
      DWORD o = n.dwOffset;
      if (o == DSBPN_OFFSETSTOP) continue;
      bool crossed;
      if (wraps >= 2) {
        crossed = true;
      } else if (wraps == 1) {
        crossed = o > start || o <= end;
      } else {
        crossed = o > start && (ended ? o < end : o <= end);
      }
      if (crossed) {
        Fire(n.hEventNotify);
        if (o == end) notified_at_ = end;
      }
    }
    if (ended) StopLocked();
  }

 private:
  template <int kBits, int kChannels>
  static inline void Frame(const std::uint8_t* data, std::uint32_t i, std::int32_t* l, std::int32_t* r) {
    if constexpr (kBits == 8) {
      const std::uint8_t* p = data + static_cast<size_t>(i) * kChannels;
      *l = (static_cast<std::int32_t>(p[0]) - 128) * 256;
      *r = kChannels == 2 ? (static_cast<std::int32_t>(p[1]) - 128) * 256 : *l;
    } else {
      const std::uint8_t* p = data + static_cast<size_t>(i) * kChannels * 2;
      std::int16_t a, b;
      std::memcpy(&a, p, 2);
      if (kChannels == 2) {
        std::memcpy(&b, p + 2, 2);
      } else {
        b = a;
      }
      *l = a;
      *r = b;
    }
  }

  // Adds frames of this buffer at the step (source frames per output frame, 32.32 fixed point)
  // with linear interpolation between frames; a step of exactly one frame copies the samples.
  template <int kBits, int kChannels>
  void MixBody(std::int32_t* acc, unsigned frames, std::uint64_t step, unsigned* wraps, bool* ended) {
    const std::uint8_t* data = pcm_->bytes.data();
    const std::uint32_t n = frames_;
    const std::uint64_t end = static_cast<std::uint64_t>(n) << 32;
    const std::int32_t gl = mix_.left, gr = mix_.right;
    std::uint64_t pos = position_;
    for (unsigned i = 0; i < frames; ++i) {
      std::uint32_t f = static_cast<std::uint32_t>(pos >> 32);
      std::uint32_t frac = static_cast<std::uint32_t>(pos);
      std::int32_t l, r;
      Frame<kBits, kChannels>(data, f, &l, &r);
      if (frac) {
        std::uint32_t g = f + 1 < n ? f + 1 : (looping_ ? 0 : f);
        std::int32_t l2, r2;
        Frame<kBits, kChannels>(data, g, &l2, &r2);
        l += static_cast<std::int32_t>((static_cast<std::int64_t>(l2 - l) * frac) >> 32);
        r += static_cast<std::int32_t>((static_cast<std::int64_t>(r2 - r) * frac) >> 32);
      }
      acc[2 * i] += (l * gl) >> 15;
      acc[2 * i + 1] += (r * gr) >> 15;
      pos += step;
      if (pos >= end) {
        if (!looping_) {
          *ended = true;
          pos = 0;
          break;
        }
        pos %= end;
        ++*wraps;
      }
    }
    position_ = pos;
  }

  void Fire(HANDLE event) {
    ExpectAnswer(this);
    SetEvent(event);
  }

  void StopLocked() {
    if (!playing_) return;
    playing_ = false;
    RemoveSource(this);
    for (const DSBPOSITIONNOTIFY& n : notify_) {
      if (n.dwOffset == DSBPN_OFFSETSTOP) SetEvent(n.hEventNotify);
    }
  }

  template <class T, class F>
  HRESULT Get(T* out, F f) {
    if (!out) return DSERR_INVALIDPARAM;
    MixerGuard g;
    *out = f(applied_);
    return DS_OK;
  }
  template <class F>
  HRESULT Set(DWORD apply, F f) {
    if (apply > DS3D_DEFERRED) return DSERR_INVALIDPARAM;
    MixerGuard g;
    f(pending_);
    if (apply == DS3D_IMMEDIATE) {
      f(applied_);
      mix_ = Compute3D(applied_, state_->applied);
    }
    return DS_OK;
  }

  RefCounted<Buffer> refs_;
  std::shared_ptr<DeviceState> state_;
  const DWORD flags_;           // creation flags
  std::shared_ptr<Pcm> pcm_;    // null for the primary buffer
  DWORD frames_ = 0;            // whole frames in the PCM
  std::uint64_t position_ = 0;  // play cursor in frames, 32.32 fixed point
  bool playing_ = false;
  bool looping_ = false;
  std::vector<DSBPOSITIONNOTIFY> notify_;
  static constexpr DWORD kNotNotified = 0xFFFFFFFFu;
  DWORD notified_at_ = kNotNotified;  // cursor where the last notifications were signalled
  Params3D applied_;
  Params3D pending_;
  MixParams mix_;
};

void DeviceState::CommitLocked() {
  applied = pending;
  for (Buffer* b : buffers_3d) b->CommitLocked();
}

Buffer* AsBuffer(IDirectSoundBuffer* b) {
  return static_cast<Buffer*>(b);
}

class Device final : public IDirectSound {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectSound) {
      AddRef();
      *object = static_cast<IDirectSound*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.AddRefImpl(); }
  ULONG Release() override { return refs_.ReleaseImpl(this); }

  HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** out, LPUNKNOWN outer) override {
    if (!out || !desc) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DSERR_NOAGGREGATION;
    if (!level_) return DSERR_PRIOLEVELNEEDED;
    DsoundFaults faults = Faults();
    DWORD flags = desc->dwFlags;
    if (flags & DSBCAPS_PRIMARYBUFFER) {
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat) return DSERR_INVALIDPARAM;
      if (faults.fail_primary || ((flags & DSBCAPS_CTRL3D) && faults.fail_primary_3d)) return DSERR_GENERIC;
      *out = new Buffer(state_, flags);
      return DS_OK;
    }
    const WAVEFORMATEX* f = desc->lpwfxFormat;
    if (!ValidPcm(f)) return DSERR_INVALIDPARAM;
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
    if (desc->dwBufferBytes < f->nBlockAlign) return DSERR_INVALIDPARAM;
    if ((flags & DSBCAPS_CTRL3D) && f->nChannels != 1) return DSERR_INVALIDPARAM;
    DWORD location = flags & (DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE | DSBCAPS_LOCDEFER);
    if (location & (location - 1)) return DSERR_INVALIDPARAM;
    if ((location ? location : DWORD{DSBCAPS_LOCSOFTWARE}) & faults.fail_locations) {
      return location == DSBCAPS_LOCHARDWARE ? DSERR_ALLOCATED : DSERR_OUTOFMEMORY;
    }
    auto pcm = std::make_shared<Pcm>();
    try {
      pcm->bytes.assign(desc->dwBufferBytes, f->wBitsPerSample == 8 ? 0x80 : 0);
    } catch (const std::bad_alloc&) {
      return DSERR_OUTOFMEMORY;
    }
    pcm->format = *f;
    pcm->format.cbSize = 0;
    *out = new Buffer(state_, flags, std::move(pcm));
    return DS_OK;
  }

  HRESULT GetCaps(LPDSCAPS caps) override {
    if (!caps || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    DsoundFaults faults = Faults();
    if (faults.fail_caps) return DSERR_GENERIC;
    DWORD size = caps->dwSize;
    std::memset(caps, 0, sizeof(*caps));
    caps->dwSize = size;
    caps->dwFlags = faults.caps_flags ? faults.caps_flags : kDefaultCaps;
    caps->dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
    caps->dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
    caps->dwPrimaryBuffers = 1;
    return DS_OK;
  }

  HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** duplicate) override {
    if (!original || !duplicate) return DSERR_INVALIDPARAM;
    *duplicate = nullptr;
    Buffer* b = AsBuffer(original);
    if (b->IsPrimary()) return DSERR_INVALIDCALL;
    if (Faults().fail_duplicate) return DSERR_OUTOFMEMORY;
    *duplicate = new Buffer(b->State(), b->Flags(), b->PcmData());
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(HWND, DWORD level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    if (Faults().fail_cooperative) return DSERR_GENERIC;
    level_ = level;
    return DS_OK;
  }

 private:
  RefCounted<Device> refs_;
  std::shared_ptr<DeviceState> state_ = std::make_shared<DeviceState>();
  DWORD level_ = 0;
};

}  // namespace

void SetDsoundFaults(const DsoundFaults& faults) {
  MixerGuard g;
  g_faults = faults;
}

DWORD DefaultDsoundCaps() {
  return kDefaultCaps;
}

void LoseBuffer(IDirectSoundBuffer* buffer) {
  if (!buffer || AsBuffer(buffer)->IsPrimary()) return;
  MixerGuard g;
  AsBuffer(buffer)->LoseLocked();
}

WAVEFORMATEX LastPrimaryFormat() {
  MixerGuard g;
  return g_primary_format;
}

void GetBufferMix(IDirectSoundBuffer* buffer, float* left, float* right, float* rate) {
  Buffer* b = AsBuffer(buffer);
  MixerGuard g;
  MixParams m = b->IsPrimary() ? MixParams{} : b->Mix3D();
  if (left) *left = static_cast<float>(m.left) / kUnity;
  if (right) *right = static_cast<float>(m.right) / kUnity;
  WAVEFORMATEX f{};
  b->GetFormat(&f, sizeof(f), nullptr);
  if (rate) *rate = static_cast<float>(f.nSamplesPerSec * m.rate_factor);
}

}  // namespace orvane::audio

HRESULT DirectSoundCreate(const GUID* guid, LPDIRECTSOUND* device, LPUNKNOWN outer) {
  if (!device) return DSERR_INVALIDPARAM;
  *device = nullptr;
  if (guid) return DSERR_NODRIVER;
  if (outer) return DSERR_NOAGGREGATION;
  if (orvane::audio::Faults().fail_create) return DSERR_NODRIVER;
  orvane::audio::EnsureSink();
  *device = new orvane::audio::Device;
  return DS_OK;
}

HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  if (!callback) return DSERR_INVALIDPARAM;
  callback(nullptr, "Primary Sound Driver", "orvane-mixer", context);
  return DS_OK;
}
