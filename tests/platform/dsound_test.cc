// DirectSound on the software mixer, read back through the manual sink: exact copies, sums,
// duplicates, notifications, format checks, lost buffers and the 3D model.
#include "platform/dsound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/mixer.h"

namespace {

using orvane::audio::StepManualSink;
using orvane::audio::UseManualSink;

WAVEFORMATEX Pcm(WORD channels, WORD bits, DWORD rate) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.wBitsPerSample = bits;
  f.nSamplesPerSec = rate;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

class DsoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orvane::audio::SetDsoundFaults({});
    UseManualSink(8000);
    ASSERT_EQ(DirectSoundCreate(nullptr, &ds_, nullptr), DS_OK);
    ASSERT_EQ(ds_->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
  }
  void TearDown() override {
    for (IDirectSoundBuffer* b : made_) b->Release();
    ds_->Release();
    orvane::audio::StopSink();
  }
  // A secondary buffer holding the bytes.
  IDirectSoundBuffer* Make(WAVEFORMATEX f, const std::vector<uint8_t>& bytes, DWORD flags = 0) {
    DSBUFFERDESC d{};
    d.dwSize = sizeof(d);
    d.dwFlags = flags;
    d.dwBufferBytes = static_cast<DWORD>(bytes.size());
    d.lpwfxFormat = &f;
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    if (!b) return nullptr;
    void* p1;
    DWORD n1;
    EXPECT_EQ(b->Lock(0, 0, &p1, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    std::memcpy(p1, bytes.data(), n1);
    b->Unlock(p1, n1, nullptr, 0);
    made_.push_back(b);
    return b;
  }
  static std::vector<uint8_t> Bytes16(const std::vector<int16_t>& s) {
    std::vector<uint8_t> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
  }
  static std::vector<int16_t> Step(unsigned frames) {
    std::vector<int16_t> out;
    StepManualSink(frames, &out);
    return out;
  }
  IDirectSound* ds_ = nullptr;
  std::vector<IDirectSoundBuffer*> made_;
};

TEST_F(DsoundTest, ExactCopiesAndSaturatingSums) {
  // 16-bit stereo at the mixer's rate comes out unchanged; 8-bit mono as (v - 128) << 8 on both
  // sides; the two together add and saturate.
  IDirectSoundBuffer* a = Make(Pcm(2, 16, 8000), Bytes16({1000, -2000, 32767, -32768, 5, 7}));
  IDirectSoundBuffer* b = Make(Pcm(1, 8, 8000), {0x80, 0xFF, 0x00, 0x80});
  a->Play(0, 0, 0);
  EXPECT_EQ(Step(4), (std::vector<int16_t>{1000, -2000, 32767, -32768, 5, 7, 0, 0}));
  DWORD status = 1;
  a->GetStatus(&status);
  EXPECT_EQ(status, 0u) << "a non-looping buffer that ended is not playing";
  b->Play(0, 0, 0);
  EXPECT_EQ(Step(4), (std::vector<int16_t>{0, 0, 32512, 32512, -32768, -32768, 0, 0}));
  a->SetCurrentPosition(0);
  b->SetCurrentPosition(0);
  a->Play(0, 0, 0);
  b->Play(0, 0, 0);
  EXPECT_EQ(Step(3), (std::vector<int16_t>{1000, -2000, 32767, -256, -32763, -32761}));
}

TEST_F(DsoundTest, LoopingResumeAndRates) {
  IDirectSoundBuffer* a = Make(Pcm(1, 16, 8000), Bytes16({1, 2, 3}));
  a->Play(0, 0, DSBPLAY_LOOPING);
  EXPECT_EQ(Step(4), (std::vector<int16_t>{1, 1, 2, 2, 3, 3, 1, 1}));
  DWORD status = 0, play = 9;
  a->GetStatus(&status);
  EXPECT_EQ(status, DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
  a->Stop();
  a->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 2u);
  a->Play(0, 0, 0);  // goes on from the cursor
  EXPECT_EQ(Step(3), (std::vector<int16_t>{2, 2, 3, 3, 0, 0}));
  // Half the mixer's rate: every frame twice, interpolated halfway.
  IDirectSoundBuffer* h = Make(Pcm(1, 16, 4000), Bytes16({0, 100}));
  h->Play(0, 0, 0);
  EXPECT_EQ(Step(5), (std::vector<int16_t>{0, 0, 50, 50, 100, 100, 100, 100, 0, 0}));
}

TEST_F(DsoundTest, DuplicatesSharePcmNotCursorOrStatus) {
  IDirectSoundBuffer* a = Make(Pcm(1, 16, 8000), Bytes16({10, 20, 30, 40}));
  IDirectSoundBuffer* d = nullptr;
  ASSERT_EQ(ds_->DuplicateSoundBuffer(a, &d), DS_OK);
  made_.push_back(d);
  void* p1;
  DWORD n1;
  ASSERT_EQ(a->Lock(2, 2, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  int16_t v = 99;
  std::memcpy(p1, &v, 2);
  a->Unlock(p1, n1, nullptr, 0);
  a->Play(0, 0, 0);
  Step(2);
  DWORD pa, pd, sd;
  a->GetCurrentPosition(&pa, nullptr);
  d->GetCurrentPosition(&pd, nullptr);
  d->GetStatus(&sd);
  EXPECT_EQ(pa, 4u);
  EXPECT_EQ(pd, 0u);
  EXPECT_EQ(sd, 0u);
  a->Stop();
  d->Play(0, 0, 0);
  EXPECT_EQ(Step(2), (std::vector<int16_t>{10, 10, 99, 99}));
}

TEST_F(DsoundTest, NotificationsAtPlayStartAndWhenReachedOrPassed) {
  IDirectSoundBuffer* a =
      Make(Pcm(1, 16, 8000), Bytes16(std::vector<int16_t>(200, 1)), DSBCAPS_CTRLPOSITIONNOTIFY);
  IDirectSoundNotify* n = nullptr;
  ASSERT_EQ(a->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&n)), S_OK);
  HANDLE e0 = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE e1 = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DSBPOSITIONNOTIFY pos[2] = {{0, e0}, {200, e1}};
  ASSERT_EQ(n->SetNotificationPositions(2, pos), DS_OK);
  DSBPOSITIONNOTIFY bad = {400, e0};
  EXPECT_EQ(n->SetNotificationPositions(1, &bad), DSERR_INVALIDPARAM);
  a->Play(0, 0, DSBPLAY_LOOPING);
  EXPECT_EQ(WaitForSingleObject(e0, 0), WAIT_OBJECT_0) << "the start offset is signalled at Play";
  a->Unlock(nullptr, 0, nullptr, 0);  // the owner's answer
  EXPECT_EQ(n->SetNotificationPositions(0, nullptr), DSERR_INVALIDCALL) << "only while stopped";
  // An owner thread answers each notification; the step waits for each answer, so one step of
  // many frames sees byte 200 (frame 100) passed, then the wrap to 0, in that order.
  std::vector<int> order;
  std::thread owner([&] {
    HANDLE events[2] = {e1, e0};
    for (int i = 0; i < 2; ++i) {
      if (WaitForSingleObject(events[i], 3000) != WAIT_OBJECT_0) return;
      order.push_back(i);
      a->Unlock(nullptr, 0, nullptr, 0);
    }
  });
  Step(64);
  EXPECT_TRUE(order.empty());
  Step(136);
  owner.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1}));
  a->Stop();
  n->Release();
  CloseHandle(e0);
  CloseHandle(e1);
}

TEST_F(DsoundTest, FormatAndSizeChecks) {
  struct Case {
    WAVEFORMATEX f;
    DWORD bytes;
    DWORD flags;
    HRESULT want;
  } cases[] = {
      {Pcm(1, 16, 22050), 100, 0, DS_OK},
      {Pcm(2, 8, 44100), 100, 0, DS_OK},
      {Pcm(3, 16, 22050), 120, 0, DSERR_INVALIDPARAM},
      {Pcm(1, 12, 22050), 100, 0, DSERR_INVALIDPARAM},
      {Pcm(1, 16, 99), 100, 0, DSERR_INVALIDPARAM},
      {Pcm(1, 16, 200001), 100, 0, DSERR_INVALIDPARAM},
      {Pcm(1, 16, 22050), 2, 0, DSERR_INVALIDPARAM},
      {Pcm(1, 16, 22050), DSBSIZE_MAX + 1u, 0, DSERR_INVALIDPARAM},
      {Pcm(2, 16, 22050), 100, DSBCAPS_CTRL3D, DSERR_INVALIDPARAM},
      {Pcm(1, 16, 22050), 100, DSBCAPS_CTRL3D, DS_OK},
      {Pcm(1, 16, 22050), 100, DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE, DSERR_INVALIDPARAM},
  };
  WAVEFORMATEX bad_align = Pcm(2, 16, 22050);
  bad_align.nBlockAlign = 2;
  WAVEFORMATEX bad_avg = Pcm(2, 16, 22050);
  bad_avg.nAvgBytesPerSec = 1;
  WAVEFORMATEX adpcm = Pcm(1, 16, 22050);
  adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
  for (const WAVEFORMATEX& f : {bad_align, bad_avg, adpcm}) {
    DSBUFFERDESC d{sizeof(DSBUFFERDESC), 0, 100, 0, const_cast<WAVEFORMATEX*>(&f), {}};
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);
  }
  for (const Case& c : cases) {
    WAVEFORMATEX f = c.f;
    DSBUFFERDESC d{sizeof(DSBUFFERDESC), c.flags, c.bytes, 0, &f, {}};
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), c.want)
        << f.nChannels << " " << f.wBitsPerSample << " " << f.nSamplesPerSec << " " << c.bytes;
    if (b) b->Release();
  }
}

TEST_F(DsoundTest, LostBuffersAndLocationFaults) {
  IDirectSoundBuffer* a = Make(Pcm(1, 16, 8000), Bytes16({5, 5, 5, 5}));
  a->Play(0, 0, DSBPLAY_LOOPING);
  orvane::audio::LoseBuffer(a);
  EXPECT_EQ(Step(1), (std::vector<int16_t>{0, 0}));
  DWORD status = 0;
  a->GetStatus(&status);
  EXPECT_EQ(status, DWORD{DSBSTATUS_BUFFERLOST});
  void* p1;
  DWORD n1;
  EXPECT_EQ(a->Lock(0, 0, &p1, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DSERR_BUFFERLOST);
  EXPECT_EQ(a->Play(0, 0, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(a->Restore(), DS_OK);
  EXPECT_EQ(a->Play(0, 0, 0), DS_OK);
  orvane::audio::DsoundFaults faults;
  faults.fail_locations = DSBCAPS_LOCHARDWARE;
  orvane::audio::SetDsoundFaults(faults);
  WAVEFORMATEX f = Pcm(1, 16, 8000);
  DSBUFFERDESC d{sizeof(DSBUFFERDESC), DSBCAPS_LOCHARDWARE, 8, 0, &f, {}};
  IDirectSoundBuffer* b = nullptr;
  EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DSERR_ALLOCATED);
  d.dwFlags = DSBCAPS_LOCSOFTWARE;
  EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  b->Release();
}

// The 3D model by its formulas: distance roll-off, pan from the azimuth, deferred settings.
TEST_F(DsoundTest, ThreeDGainPanAndDeferredCommit) {
  DSBUFFERDESC pd{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, {}};
  IDirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(ds_->CreateSoundBuffer(&pd, &primary, nullptr), DS_OK);
  made_.push_back(primary);
  IDirectSound3DListener* l = nullptr;
  ASSERT_EQ(primary->QueryInterface(IID_IDirectSound3DListener, reinterpret_cast<void**>(&l)), S_OK);
  IDirectSoundBuffer* a = Make(Pcm(1, 16, 8000), Bytes16({16384, 16384}), DSBCAPS_CTRL3D);
  IDirectSound3DBuffer* a3 = nullptr;
  ASSERT_EQ(a->QueryInterface(IID_IDirectSound3DBuffer, reinterpret_cast<void**>(&a3)), S_OK);
  float left, right, rate;
  struct Case {
    float x, y, z, rolloff, min;
    float left, right;
  } cases[] = {
      {0, 0, 0.5f, 1, 1, 1, 1},             // inside the minimum distance
      {0, 0, 4, 1, 1, 0.25f, 0.25f},        // 1 / (1 + 1 x 3)
      {0, 0, 4, 2, 1, 1 / 7.0f, 1 / 7.0f},  // 1 / (1 + 2 x 3)
      {0, 0, 4, 1, 2, 0.5f, 0.5f},          // 2 / (2 + 2)
      {3, 0, 0, 1, 1, 0, 1 / 3.0f},         // hard right
      {-3, 0, 0, 1, 1, 1 / 3.0f, 0},        // hard left
      {1, 5, 1, 1, 1, 0.19245f * (1 - 0.70711f),
       0.19245f},  // 45 degrees right; the height adds distance only
  };
  for (const Case& c : cases) {
    a3->SetPosition(c.x, c.y, c.z, DS3D_DEFERRED);
    a3->SetMinDistance(c.min, DS3D_DEFERRED);
    l->SetRolloffFactor(c.rolloff, DS3D_DEFERRED);
    l->CommitDeferredSettings();
    orvane::audio::GetBufferMix(a, &left, &right, &rate);
    EXPECT_NEAR(left, c.left, 2e-3) << c.x << "," << c.y << "," << c.z;
    EXPECT_NEAR(right, c.right, 2e-3) << c.x << "," << c.y << "," << c.z;
  }
  // Cones: the direction from the source to the listener against the cone's orientation; full
  // gain inside half the inside angle, the outside volume beyond half the outside angle, and
  // decibels in between. The source stands at distance 2 (gain 0.5).
  struct Cone {
    float ox, oy, oz;
    DWORD inside, outside;
    LONG volume;
    float gain;
  } cones[] = {
      {0, 0, -1, 60, 240, -2000, 0.5f},  // facing the listener
      {0, 0, 1, 60, 240, -2000, 0.05f},  // facing away
      {1, 0, 0, 60, 240, -2000, 0.5f * static_cast<float>(std::pow(10.0, -2.0 / 3.0))},  // 90 degrees
  };
  a3->SetPosition(0, 0, 2, DS3D_DEFERRED);
  a3->SetMinDistance(1, DS3D_DEFERRED);
  l->SetRolloffFactor(1, DS3D_DEFERRED);
  for (const Cone& c : cones) {
    a3->SetConeOrientation(c.ox, c.oy, c.oz, DS3D_DEFERRED);
    a3->SetConeAngles(c.inside, c.outside, DS3D_DEFERRED);
    a3->SetConeOutsideVolume(c.volume, DS3D_DEFERRED);
    l->CommitDeferredSettings();
    orvane::audio::GetBufferMix(a, &left, &right, &rate);
    EXPECT_NEAR(left, c.gain, 2e-3) << c.ox << "," << c.oz;
    EXPECT_NEAR(right, c.gain, 2e-3) << c.ox << "," << c.oz;
  }
  a3->SetConeAngles(360, 360, DS3D_IMMEDIATE);
  // Deferred: nothing changes before the commit; the getters show applied values.
  a3->SetPosition(0, 0, 8, DS3D_DEFERRED);
  D3DVECTOR p;
  a3->GetPosition(&p);
  EXPECT_EQ(p.z, 2.0f);
  l->CommitDeferredSettings();
  a3->GetPosition(&p);
  EXPECT_EQ(p.z, 8.0f);
  // DISABLE bypasses the model; the mix is the plain copy.
  a3->SetMode(DS3DMODE_DISABLE, DS3D_IMMEDIATE);
  a->Play(0, 0, 0);
  EXPECT_EQ(Step(1), (std::vector<int16_t>{16384, 16384}));
  // Doppler: a source coming closer at a tenth of the speed of sound plays faster.
  a3->SetMode(DS3DMODE_NORMAL, DS3D_DEFERRED);
  a3->SetVelocity(0, 0, -34.33f, DS3D_DEFERRED);
  l->CommitDeferredSettings();
  orvane::audio::GetBufferMix(a, &left, &right, &rate);
  EXPECT_NEAR(rate, 8000 / 0.9, 1);
  a3->Release();
  l->Release();
}

}  // namespace

namespace {

// Without a manual sink the headless host plays into the real-time null sink: buffers end on time.
TEST(DsoundNullSinkTest, BuffersPlayInRealTime) {
  orvane::audio::StopSink();
  IDirectSound* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DS_OK);
  EXPECT_STREQ(orvane::audio::SinkName(), "null");
  ds->SetCooperativeLevel(nullptr, DSSCL_PRIORITY);
  WAVEFORMATEX f = Pcm(1, 16, 8000);
  DSBUFFERDESC d{sizeof(DSBUFFERDESC), 0, 800, 0, &f, {}};  // 50 ms
  IDirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  b->Play(0, 0, 0);
  DWORD status = DSBSTATUS_PLAYING;
  for (int i = 0; i < 200 && (status & DSBSTATUS_PLAYING); ++i) {
    Sleep(10);
    b->GetStatus(&status);
  }
  EXPECT_EQ(status, 0u);
  b->Release();
  ds->Release();
  orvane::audio::StopSink();
}

}  // namespace
