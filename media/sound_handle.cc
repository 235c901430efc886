// Sound and stream handles on the sound device.
#include "media/sound_handle.h"

#include <cmath>

#include "media/dsnd.h"
#include "media/dsnd_data.h"
#include "media/dsnd_stream.h"

namespace {

Dsnd* g_device = nullptr;

// A float rounded to the nearest whole number (halves to even), kept inside the i32 range.
int32_t RoundToInt(float v) {
  if (!(v == v)) return 0;
  double r = std::nearbyint(static_cast<double>(v));
  if (r > 2147483647.0) return 2147483647;
  if (r < -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(r);
}

}  // namespace

void SoundHandle::UseDevice(Dsnd* device) {
  g_device = device;
}
Dsnd& SoundHandle::Device() {
  return g_device ? *g_device : TheDsnd();
}

bool SoundHandle::Load(const DString& name, const DFile& source, int32_t count) {
  Dsnd& d = Device();
  if (!d.GetDevice()) return true;
  voices_ = d.CreateSound(name, source, count < 1 ? 1 : count, 0, 0xFFFFFFFFu);
  return static_cast<bool>(voices_);
}

bool SoundHandle::Load3D(const DString& name, const DFile& source) {
  Dsnd& d = Device();
  if (!d.GetDevice()) return true;
  voices_ = d.CreateSound(name, source, 1, 3, 0xFFFFFFFFu);
  if (!voices_) return false;
  voices_->SetMode(DS3DMODE_NORMAL);
  return true;
}

void SoundHandle::Play(uint32_t loop) {
  if (voices_) voices_->Play((loop & 1) != 0);
}

void SoundHandle::Stop() {
  if (voices_) voices_->StopAll();
}

bool SoundHandle::IsPlaying() {
  return voices_ && voices_->IsPlaying(true);
}

void SoundHandle::Set3DMode(bool on) {
  if (voices_) voices_->SetMode(on ? DS3DMODE_NORMAL : DS3DMODE_DISABLE);
}

void SoundHandle::SetDistance(float min, float max) {
  if (voices_) voices_->SetDistance(min, max);
}

void SoundHandle::SetPosition(float x, float y, float z) {
  if (voices_) voices_->SetPosition(x, y, z);
}

void SoundHandle::SetVelocity(float x, float y, float z) {
  if (voices_) voices_->SetVelocity(x, y, z);
}

void SoundHandle::SetCone(float inside, float outside, float outside_volume, float x, float y, float z) {
  if (!voices_) return;
  // The products are single-precision floats, rounded to whole degrees.
  float in_deg = inside * 57.29578f;
  float out_deg = outside * 57.29578f;
  int32_t in = RoundToInt(in_deg);
  int32_t out = RoundToInt(out_deg);
  voices_->SetConeAngles(static_cast<uint32_t>(in < 0 ? 0 : in), static_cast<uint32_t>(out < 0 ? 0 : out));
  voices_->SetConeOutsideVolume(RoundToInt(outside_volume));
  voices_->SetConeOrientation(x, y, z);
}

bool SoundHandle::Unload() {
  voices_.Release();
  return true;
}

bool StreamHandle::AddToList(const DFile& source, int32_t repeat, float loop_start, uint32_t flags) {
  if (started_) return false;
  if (!list_) list_.Alloc(1);
  return list_->Add(source, repeat, loop_start, flags & 1);
}

void StreamHandle::Play() {
  if (stream_) {
    stream_->Play();
    return;
  }
  Dsnd& d = SoundHandle::Device();
  if (!d.GetDevice() || !list_) return;
  started_ = 1;
  stream_ = d.CreateStream(list_);
  if (stream_) stream_->Play();
}

void StreamHandle::Stop() {
  if (stream_) stream_->Stop();
}

void StreamHandle::ClearList() {
  if (!started_) list_.Release();
}
