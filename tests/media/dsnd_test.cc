// The sound device, sound data and voices, streams and handles, played on the manual sink and
// read back sample for sample.
#include "media/dsnd.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/dlogstream.h"
#include "media/dsnd_data.h"
#include "media/dsnd_stream.h"
#include "media/sound_handle.h"
#include "platform/mixer.h"
#include "tests/media/fake_decoders.h"
#include "tests/media/riff_builder.h"

namespace {

using namespace orvane_test;

// The debug log reaches stderr only when this is set before its first use.
const bool kDebugOutput = (setenv("ORVANE_DEBUG", "1", 1), true);

// Runs f on a thread; a handshake that does not finish in time fails the test program at once
// instead of hanging it.
void WithTimeout(const char* what, int seconds, const std::function<void()>& f) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread t([&] {
    f();
    std::lock_guard<std::mutex> l(m);
    done = true;
    cv.notify_all();
  });
  {
    std::unique_lock<std::mutex> l(m);
    if (!cv.wait_for(l, std::chrono::seconds(seconds), [&] { return done; })) {
      std::fprintf(stderr, "handshake did not finish: %s\n", what);
      std::abort();
    }
  }
  t.join();
}

std::vector<int16_t> Step(unsigned frames) {
  std::vector<int16_t> out;
  orvane::audio::StepManualSink(frames, &out);
  return out;
}

// 16-bit stereo samples whose frames are numbered: left = n, right = -n (n from `first`).
std::vector<int16_t> Ramp(int first, int frames) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(static_cast<int16_t>(first + i));
    s.push_back(static_cast<int16_t>(-(first + i)));
  }
  return s;
}

class DsndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kDebugOutput);
    orvane::audio::SetDsoundFaults({});
    orvane::audio::UseManualSink(kRate);
    SoundHandle::UseDevice(&dsnd_);
  }
  void TearDown() override {
    dsnd_.Release();
    SoundHandle::UseDevice(nullptr);
    orvane::audio::SetDsoundFaults({});
    orvane::audio::StopSink();
  }
  // A memory WAV file of 16-bit stereo PCM at the test rate.
  void File(DFile& f, const std::vector<int16_t>& samples, const char* name = "s.wav") {
    ASSERT_TRUE(MemoryFile(f, Wav(Fmt(1, 2, kRate, 16), Pcm16(samples)), name));
  }
  static constexpr unsigned kRate = 1000;  // one second is 1000 frames (4000 bytes)
  Dsnd dsnd_;
};

TEST_F(DsndTest, CreateModesCapsAndFaults) {
  using F = orvane::audio::DsoundFaults;
  auto caps = [](DWORD c) {
    F f;
    f.caps_flags = c;
    return f;
  };
  F fail_primary_3d, fail_listener, fail_create, fail_coop, fail_caps, fail_primary, fail_format;
  fail_primary_3d.fail_primary_3d = true;
  fail_listener.fail_listener = true;
  fail_create.fail_create = true;
  fail_coop.fail_cooperative = true;
  fail_caps.fail_caps = true;
  fail_primary.fail_primary = true;
  fail_format.fail_set_format = true;
  const std::string device = "[Dsnd] device \"Primary Sound Driver\" driver \"orvane-mixer\"\n";
  const DWORD all = orvane::audio::DefaultDsoundCaps();
  struct Case {
    const char* what;
    uint32_t mode;
    F faults;
    bool ok;
    uint32_t flags;
    std::string log;
  } cases[] = {
      {"plain", 0, F{}, true, 0x10000, device + "[Dsnd] Create mode\n"},
      {"3D", 1, F{}, true, 0x10001, device + "[Dsnd] Create mode 3D\n"},
      {"voice without 3D", 2, F{}, true, 0x10000, device + "[Dsnd] Create mode\n"},
      {"3D voice", 3, F{}, true, 0x10003, device + "[Dsnd] Create mode 3D Voice\n"},
      {"emulated driver", 3, caps(all | DSCAPS_EMULDRIVER), true, 0x10000, device + "[Dsnd] Create mode\n"},
      {"no 16-bit primary", 3, caps(all & ~DSCAPS_PRIMARY16BIT), true, 0x10000,
       device + "[Dsnd] Create mode\n"},
      {"no 16-bit secondary", 3, caps(all & ~DSCAPS_SECONDARY16BIT), true, 0x10000,
       device + "[Dsnd] Create mode\n"},
      {"no 3D primary", 3, fail_primary_3d, true, 0x10000, device + "[Dsnd] Create mode\n"},
      {"no listener", 3, fail_listener, true, 0x10000, device + "[Dsnd] Create mode\n"},
      {"caps fail without 3D", 0, fail_caps, true, 0x10000, device + "[Dsnd] Create mode\n"},
      {"caps fail with 3D", 1, fail_caps, false, 0, device},
      {"no device", 3, fail_create, false, 0, ""},
      {"cooperative level", 0, fail_coop, false, 0, device},
      {"no primary", 0, fail_primary, false, 0, device},
      {"format", 3, fail_format, false, 0, device},
  };
  for (const Case& c : cases) {
    orvane::audio::SetDsoundFaults(c.faults);
    Dsnd d;
    ::testing::internal::CaptureStderr();
    bool ok = d.Create(nullptr, c.mode);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.ok) << c.what;
    EXPECT_EQ(d.GetFlags(), c.flags) << c.what;
    EXPECT_EQ(log, c.log) << c.what;
    EXPECT_EQ(d.GetDevice() != nullptr, c.ok) << c.what;
    EXPECT_EQ(d.GetListener() != nullptr, (c.flags & 1) != 0) << c.what;
  }
  orvane::audio::SetDsoundFaults({});
  ASSERT_TRUE(dsnd_.Create(nullptr, 3));
  EXPECT_FALSE(dsnd_.Create(nullptr, 0)) << "a device exists";
  EXPECT_EQ(dsnd_.GetFlags(), 0x10003u);
  WAVEFORMATEX primary = orvane::audio::LastPrimaryFormat();
  EXPECT_EQ(primary.nSamplesPerSec, 22050u);
  EXPECT_EQ(orvane::audio::MixerRate(), kRate) << "the primary's format is only recorded";
  dsnd_.Suspend();
  EXPECT_TRUE(dsnd_.Release());
  EXPECT_FALSE(dsnd_.Release());
  EXPECT_EQ(dsnd_.GetFlags(), uint32_t{Dsnd::kInactive}) << "the switch goes, the inactive flag stays";
}

TEST_F(DsndTest, ListenerAndVoicesNegateZ) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 3));
  dsnd_.SetListenerPosition(1, 2, 3);
  D3DVECTOR p;
  dsnd_.GetListener()->GetPosition(&p);
  EXPECT_EQ(p.z, 0.0f) << "deferred until the commit";
  dsnd_.CommitListener();
  dsnd_.GetListener()->GetPosition(&p);
  EXPECT_EQ(p.x, 1.0f);
  EXPECT_EQ(p.y, 2.0f);
  EXPECT_EQ(p.z, -3.0f);
  DFile f;
  File(f, Ramp(1, 10));
  SoundHandle h;
  ASSERT_TRUE(h.Load3D(DString("a.wav"), f) == false) << "stereo cannot be 3D, as on current systems";
  DFile m;
  ASSERT_TRUE(MemoryFile(m, Wav(Fmt(1, 1, kRate, 16), Pcm16({1, 2, 3, 4}))));
  ASSERT_TRUE(h.Load3D(DString("m.wav"), m));
  IDirectSound3DBuffer* b = h.GetVoices()->Get3DBuffer(0);
  ASSERT_NE(b, nullptr);
  D3DVECTOR cone;
  float min, max;
  dsnd_.CommitListener();
  b->GetConeOrientation(&cone);
  b->GetMinDistance(&min);
  b->GetMaxDistance(&max);
  EXPECT_EQ(cone.x, 1.0f);
  EXPECT_EQ(min, 1.0f);
  EXPECT_EQ(max, 1e9f);
  h.SetPosition(0, 0, 1);
  h.SetCone(3.1415927f, 6.2831855f, -500.4f, 0, 0, 1);
  dsnd_.CommitListener();
  DWORD in, out;
  LONG vol;
  b->GetPosition(&p);
  b->GetConeAngles(&in, &out);
  b->GetConeOutsideVolume(&vol);
  b->GetConeOrientation(&cone);
  EXPECT_EQ(p.z, -1.0f);
  EXPECT_EQ(in, 180u);
  EXPECT_EQ(out, 360u);
  EXPECT_EQ(vol, -500);
  EXPECT_EQ(cone.z, -1.0f);
  h.SetCone(-0.1f, 1.0f, 0, 1, 0, 0);
  dsnd_.CommitListener();
  b->GetConeAngles(&in, &out);
  EXPECT_EQ(in, 0u);
  EXPECT_EQ(out, 57u);
  h.Set3DMode(7);
  dsnd_.CommitListener();
  DWORD mode;
  b->GetMode(&mode);
  EXPECT_EQ(mode, DWORD{DS3DMODE_NORMAL});
}

TEST_F(DsndTest, SoundCacheKeys) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DFile f;
  File(f, Ramp(1, 8));
  std::string long_name(300, 'a');
  struct Case {
    std::string load, find;
    bool cached;
  } cases[] = {{"Dir/Sound.WAV", "dir/sound.wav", true},
               {"Dir/Sound.WAV", "dir/sound.wa", false},
               {"\x95\x5CSound.wav", "\x95\x7CSound.wav", false},
               {long_name, long_name.substr(0, 263), true}};
  for (const Case& c : cases) {
    SoundHandle a, b;
    ASSERT_TRUE(a.Load(DString(c.load.c_str()), f, 1));
    DRef<DsndData> found = dsnd_.FindSound(DString(c.find.c_str()));
    EXPECT_EQ(static_cast<bool>(found), c.cached) << c.find;
    if (!c.cached) continue;
    // A cached sound is not decoded again: the new set's buffer shares the first set's PCM.
    ASSERT_TRUE(b.Load(DString(c.find.c_str()), f, 2));
    void* p;
    DWORD n;
    IDirectSoundBuffer* first = a.GetVoices()->GetBuffer(0);
    ASSERT_EQ(first->Lock(0, 4, &p, &n, nullptr, nullptr, 0), DS_OK);
    std::memset(p, 0x11, 4);
    first->Unlock(p, n, nullptr, 0);
    b.Play(0);
    EXPECT_EQ(Step(1), (std::vector<int16_t>{0x1111, 0x1111}));
    b.Stop();
  }
}

TEST_F(DsndTest, FourVoicesPlayedFiveTimes) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DFile f;
  File(f, Ramp(1, 100));
  SoundHandle h;
  ASSERT_TRUE(h.Load(DString("v.wav"), f, 4));
  const DRef<DsndVoices>& v = h.GetVoices();
  ASSERT_EQ(v->GetCount(), 4u);
  for (int i = 0; i < 4; ++i) {
    h.Play(2);  // bit 0 clear: no loop
    Step(5);
  }
  EXPECT_TRUE(v->IsPlaying(false)) << "no voice is idle";
  // The fifth play restarts the voice that has played longest (the first), from its start.
  h.Play(0);
  DWORD play[4];
  for (int i = 0; i < 4; ++i) v->GetBuffer(i)->GetCurrentPosition(&play[i], nullptr);
  EXPECT_EQ(play[0], 0u);
  EXPECT_EQ(play[1], 15u * 4);
  EXPECT_EQ(play[3], 5u * 4);
  // Looping voices are never picked: with all four looping, a play does nothing.
  h.Stop();
  for (int i = 0; i < 4; ++i) h.Play(3);
  Step(3);
  for (int i = 0; i < 4; ++i) v->GetBuffer(i)->GetCurrentPosition(&play[i], nullptr);
  h.Play(1);
  DWORD again;
  v->GetBuffer(0)->GetCurrentPosition(&again, nullptr);
  EXPECT_EQ(again, play[0]);
  // Load with 0 or -5 voices gives one; a huge count is clamped.
  for (int count : {0, -5, 3, 100000}) {
    SoundHandle c;
    ASSERT_TRUE(c.Load(DString("v.wav"), f, count));
    EXPECT_EQ(c.GetVoices()->GetCount(), count < 1 ? 1u : count > 1024 ? 1024u : uint32_t(count));
  }
}

TEST_F(DsndTest, SuspendResumeGoesOnFromThePositionStillLooping) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DFile f;
  File(f, Ramp(1, 10));
  SoundHandle looping, once;
  ASSERT_TRUE(looping.Load(DString("l.wav"), f, 1));
  ASSERT_TRUE(once.Load(DString("o.wav"), f, 1));
  once.Play(0);
  Step(12);  // the non-looping voice has ended and keeps state 3
  looping.Play(1);
  EXPECT_EQ(Step(4), Ramp(1, 4));
  dsnd_.Suspend();
  EXPECT_EQ(looping.GetVoices()->GetState(0), DsndVoices::kInactive);
  EXPECT_EQ(once.GetVoices()->GetState(0), DsndVoices::kPlayed);
  EXPECT_FALSE(looping.IsPlaying());
  EXPECT_EQ(Step(3), std::vector<int16_t>(6, 0));
  dsnd_.Suspend();  // a second suspension does nothing
  dsnd_.Resume();
  std::vector<int16_t> want = Ramp(5, 6);
  std::vector<int16_t> more = Ramp(1, 4);
  want.insert(want.end(), more.begin(), more.end());
  EXPECT_EQ(Step(10), want) << "from the position, looping";
  EXPECT_FALSE(once.IsPlaying()) << "an ended voice is not restarted";
  dsnd_.Resume();  // without a suspension: nothing
  // With the switch off, suspension leaves voices playing; turning the switch on while inactive
  // stops them, and off again plays them on.
  dsnd_.SetTimePause(false);
  dsnd_.Suspend();
  EXPECT_TRUE(looping.IsPlaying());
  dsnd_.SetTimePause(true);
  EXPECT_FALSE(looping.IsPlaying());
  dsnd_.SetTimePause(false);
  EXPECT_TRUE(looping.IsPlaying());
  dsnd_.Resume();
  // Releasing a handle stops nothing.
  { SoundHandle gone = looping; }
  looping = SoundHandle();
  EXPECT_NE(Step(2), std::vector<int16_t>(4, 0));
}

TEST_F(DsndTest, LostBufferIsRestoredAndRefilledOnResume) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DFile f;
  File(f, Ramp(1, 10));
  SoundHandle h;
  ASSERT_TRUE(h.Load(DString("x.wav"), f, 1));
  h.Play(1);
  Step(2);
  dsnd_.Suspend();
  IDirectSoundBuffer* b = h.GetVoices()->GetBuffer(0);
  void* p;
  DWORD n;
  b->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
  std::memset(p, 0, n);
  b->Unlock(p, n, nullptr, 0);
  orvane::audio::LoseBuffer(b);
  dsnd_.Resume();
  EXPECT_EQ(Step(3), Ramp(3, 3));
}

TEST_F(DsndTest, BufferLocationsFallBackAndFailuresReleaseEverything) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 3));
  DFile m;
  ASSERT_TRUE(MemoryFile(m, Wav(Fmt(1, 1, kRate, 16), Pcm16({1, 2, 3, 4}))));
  struct Case {
    const char* what;
    DWORD fail_locations;
    bool fail_duplicate;
    uint32_t wanted;
    int32_t count;
    uint32_t location;  // 0: no voice set
  } cases[] = {
      {"3D voice-managed", 0, false, 3, 1, DSBCAPS_LOCDEFER},
      {"3D", 0, false, 1, 1, DSBCAPS_LOCHARDWARE},
      {"plain", 0, false, 0, 1, DSBCAPS_LOCSOFTWARE},
      {"no deferred", DSBCAPS_LOCDEFER, false, 3, 1, DSBCAPS_LOCHARDWARE},
      {"no hardware", DSBCAPS_LOCDEFER | DSBCAPS_LOCHARDWARE, false, 3, 1, DSBCAPS_LOCSOFTWARE},
      {"nothing", DSBCAPS_LOCDEFER | DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE, false, 3, 1, 0},
      {"duplicates fail", 0, true, 0, 3, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    orvane::audio::DsoundFaults f;
    f.fail_locations = c.fail_locations;
    f.fail_duplicate = c.fail_duplicate;
    orvane::audio::SetDsoundFaults(f);
    std::string name = "loc" + std::to_string(n++) + ".wav";
    DRef<DsndVoices> v = dsnd_.CreateSound(DString(name.c_str()), m, c.count, c.wanted, 0xFFFFFFFFu);
    EXPECT_EQ(v ? v->GetLocation() : 0u, c.location) << c.what;
    if (v) {
      EXPECT_EQ(v->GetFlags(), c.wanted) << c.what;
    }
  }
  orvane::audio::SetDsoundFaults({});
  // A set whose duplicates failed released its first buffer and left the cache with it.
  EXPECT_FALSE(dsnd_.FindSound(DString("loc6.wav")));
  // Duplicates of a location are made from its first set: the second 3D set duplicates.
  orvane::audio::DsoundFaults no_new;
  no_new.fail_locations = DSBCAPS_LOCDEFER | DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE;
  orvane::audio::SetDsoundFaults(no_new);
  DRef<DsndVoices> again = dsnd_.CreateSound(DString("loc0.wav"), m, 2, 3, 0xFFFFFFFFu);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->GetLocation(), uint32_t{DSBCAPS_LOCDEFER});
}

// A decode shorter than the reader's estimate (every CBR MP3 is) leaves silence behind it, not
// what the buffer held before.
TEST_F(DsndTest, ShortDecodeLeavesSilence) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DWaveSetDecoders(MakeFakeMpeg, nullptr);
  FakeMpeg::extra_total = 100;
  DFile f;
  ASSERT_TRUE(MemoryFile(f, FakeMpegFile(60)));  // 480 PCM bytes, 580 promised
  SoundHandle h;
  ASSERT_TRUE(h.Load(DString("short.mp3"), f, 1));
  IDirectSoundBuffer* b = h.GetVoices()->GetBuffer(0);
  void* p;
  DWORD n;
  ASSERT_EQ(b->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  ASSERT_EQ(n, 580u);
  std::memset(p, 0x55, n);
  b->Unlock(p, n, nullptr, 0);
  orvane::audio::LoseBuffer(b);
  dsnd_.Suspend();
  dsnd_.Resume();  // restores and refills the lost buffer
  ASSERT_EQ(b->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  const uint8_t* bytes = static_cast<const uint8_t*>(p);
  EXPECT_EQ(bytes[0], 100);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 480, 100), std::string(100, '\0'));
  b->Unlock(p, n, nullptr, 0);
  FakeMpeg::extra_total = 0;
  DWaveSetDecoders(nullptr, nullptr);
}

// ---- Streams: byte for byte with the source, through the worker's handshakes.
class StreamTest : public DsndTest {
 protected:
  // Plays the handle's stream and steps `frames` frames; the handshakes are bounded.
  std::vector<int16_t> PlayAndStep(StreamHandle& s, unsigned frames) {
    WithTimeout("play", 10, [&] { s.Play(); });
    std::vector<int16_t> out;
    WithTimeout("step", 20, [&] { orvane::audio::StepManualSink(frames, &out); });
    return out;
  }
  static std::vector<int16_t> Cat(std::initializer_list<std::vector<int16_t>> parts) {
    std::vector<int16_t> r;
    for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
  }
};

TEST_F(StreamTest, RepeatsAndLoopStartsByteForByte) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  struct Case {
    const char* what;
    int frames;
    int32_t repeat;
    float loop_start;
    uint32_t flags;
    std::vector<int16_t> want;
  } cases[] = {
      {"repeat 2", 2500, 2, 0, 0, Cat({Ramp(1, 2500), Ramp(1, 2500), Ramp(1, 2500)})},
      {"loop start, flags 0", 3000, 1, 1.0f, 0, Cat({Ramp(1, 3000), Ramp(1001, 2000)})},
      {"loop start, flags 1", 3000, 1, 1.0f, 1, Cat({Ramp(1001, 2000), Ramp(1001, 2000)})},
      {"flags bit 1 only reaches nothing", 1500, 0, 0.5f, 2, Ramp(1, 1500)},
  };
  for (const Case& c : cases) {
    DFile f;
    File(f, Ramp(1, c.frames));
    StreamHandle s;
    ASSERT_TRUE(s.AddToList(f, c.repeat, c.loop_start, c.flags)) << c.what;
    unsigned total = static_cast<unsigned>(c.want.size() / 2) + 2500;
    std::vector<int16_t> got = PlayAndStep(s, total);
    std::vector<int16_t> want = c.want;
    want.resize(total * 2, 0);  // the list ends in silence
    EXPECT_EQ(got, want) << c.what;
    WithTimeout("stop", 10, [&] { s.Stop(); });
    EXPECT_EQ(s.GetStream()->GetState(), 0u);
  }
}

TEST_F(StreamTest, ShortListsEightBitPaddingAndEndlessEmptyEntries) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  // A list shorter than half the buffer: the worker ends by itself at the second notification.
  DFile shorter;
  File(shorter, Ramp(1, 300));
  StreamHandle s;
  ASSERT_TRUE(s.AddToList(shorter, 0, 0, 0));
  std::vector<int16_t> got = PlayAndStep(s, 900);
  std::vector<int16_t> want = Ramp(1, 300);
  want.resize(900 * 2, 0);
  EXPECT_EQ(got, want);
  EXPECT_EQ(s.GetStream()->GetState(), 1u) << "the second notification has not come yet";
  WithTimeout("step", 20, [&] { Step(200); });
  for (int i = 0; i < 200 && s.GetStream()->GetState() != 0; ++i) usleep(10000);
  EXPECT_EQ(s.GetStream()->GetState(), 0u);
  // The ended worker left its acknowledgement signalled: a new play still waits for the new
  // worker, so an immediate stop reaches it.
  WithTimeout("play", 10, [&] { s.Play(); });
  EXPECT_EQ(s.GetStream()->GetState(), 1u);
  WithTimeout("stop", 10, [&] { s.Stop(); });
  EXPECT_EQ(s.GetStream()->GetState(), 0u);
  EXPECT_EQ(Step(100), std::vector<int16_t>(200, 0));
  // 8-bit mono pads with 0x80 (silence after the mixer's (v - 128) << 8).
  DFile eight;
  ASSERT_TRUE(MemoryFile(eight, Wav(Fmt(1, 1, kRate, 8), std::string(500, '\x90'))));
  StreamHandle e;
  ASSERT_TRUE(e.AddToList(eight, 0, 0, 0));
  got = PlayAndStep(e, 1500);
  want.assign(500 * 2, 0x1000);
  want.resize(1500 * 2, 0);
  EXPECT_EQ(got, want);
  WithTimeout("stop", 10, [&] { e.Stop(); });
  // Endless entries that give nothing (a loop start past the end, no data) count as used up:
  // the stream ends by itself and Stop returns.
  DFile empty, ahead;
  ASSERT_TRUE(MemoryFile(empty, Wav(Fmt(1, 2, kRate, 16), "")));
  File(ahead, Ramp(1, 100));
  for (int flags : {0, 1}) {
    StreamHandle x;
    ASSERT_TRUE(x.AddToList(flags ? ahead : empty, -1, flags ? 5.0f : 0.0f, static_cast<uint32_t>(flags)));
    got = PlayAndStep(x, 1200);
    EXPECT_EQ(got, std::vector<int16_t>(1200 * 2, 0));
    WithTimeout("stop", 10, [&] { x.Stop(); });
  }
  // With an endless entry that plays, the list never ends; Stop ends it.
  StreamHandle endless;
  ASSERT_TRUE(endless.AddToList(ahead, -1, 0, 0));
  got = PlayAndStep(endless, 2550);
  EXPECT_EQ(std::vector<int16_t>(got.end() - 100, got.end()), Ramp(1, 50));
  WithTimeout("stop", 10, [&] { endless.Stop(); });
  EXPECT_EQ(endless.GetStream()->GetState(), 0u);
}

TEST_F(StreamTest, ListRulesAndPlayAgain) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DFile a, other_rate, junk;
  File(a, Ramp(1, 1200));
  ASSERT_TRUE(MemoryFile(other_rate, Wav(Fmt(1, 2, 2 * kRate, 16), Pcm16(Ramp(1, 10)))));
  ASSERT_TRUE(MemoryFile(junk, "not a sound file"));
  StreamHandle s;
  EXPECT_FALSE(s.AddToList(junk, 0, 0, 0));
  EXPECT_TRUE(s.AddToList(a, 1, 0, 0));
  EXPECT_FALSE(s.AddToList(other_rate, 0, 0, 0)) << "another rate than the first entry's";
  std::vector<int16_t> got = PlayAndStep(s, 2400 + 100);
  EXPECT_EQ(std::vector<int16_t>(got.begin(), got.begin() + 4800), Cat({Ramp(1, 1200), Ramp(1, 1200)}));
  EXPECT_FALSE(s.AddToList(a, 0, 0, 0)) << "the list is frozen";
  WithTimeout("stop", 10, [&] { s.Stop(); });
  WithTimeout("stop again", 10, [&] { s.Stop(); });
  // A play after a complete play: the used-up repeat plays once.
  got = PlayAndStep(s, 1300);
  std::vector<int16_t> want = Ramp(1, 1200);
  want.resize(1300 * 2, 0);
  EXPECT_EQ(got, want);
  WithTimeout("play while running", 10, [&] { s.Play(); });
  WithTimeout("stop", 10, [&] { s.Stop(); });
  // Every add failed: Play marks the handle started and plays nothing; later adds fail.
  StreamHandle none;
  EXPECT_FALSE(none.AddToList(junk, 0, 0, 0));
  none.Play();
  EXPECT_TRUE(none.IsStarted());
  EXPECT_FALSE(none.GetStream());
  EXPECT_FALSE(none.AddToList(a, 0, 0, 0));
  // ClearList before the first play starts over.
  StreamHandle cleared;
  EXPECT_TRUE(cleared.AddToList(a, 0, 0, 0));
  cleared.ClearList();
  EXPECT_TRUE(cleared.AddToList(other_rate, 0, 0, 0));
}

TEST_F(StreamTest, PauseResumeAndStartWhileInactive) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  DFile a;
  File(a, Ramp(1, 3000));
  StreamHandle s;
  ASSERT_TRUE(s.AddToList(a, 0, 0, 0));
  std::vector<int16_t> got = PlayAndStep(s, 1250);
  WithTimeout("suspend", 10, [&] { dsnd_.Suspend(); });
  std::vector<int16_t> silent;
  WithTimeout("step", 20, [&] { orvane::audio::StepManualSink(500, &silent); });
  EXPECT_EQ(silent, std::vector<int16_t>(1000, 0));
  WithTimeout("resume", 10, [&] { dsnd_.Resume(); });
  std::vector<int16_t> rest;
  WithTimeout("step", 20, [&] { orvane::audio::StepManualSink(1750, &rest); });
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, Ramp(1, 3000)) << "paused and resumed in place";
  WithTimeout("stop", 10, [&] { s.Stop(); });
  // Started while inactive with the switch on: filled, acknowledged, silent until resumed.
  WithTimeout("suspend", 10, [&] { dsnd_.Suspend(); });
  StreamHandle t;
  DFile b;
  File(b, Ramp(1, 1500));
  ASSERT_TRUE(t.AddToList(b, 0, 0, 0));
  got = PlayAndStep(t, 700);
  EXPECT_EQ(got, std::vector<int16_t>(1400, 0));
  WithTimeout("resume", 10, [&] { dsnd_.Resume(); });
  WithTimeout("step", 20, [&] { got = Step(1500); });
  EXPECT_EQ(got, Ramp(1, 1500));
  // Paused while inactive, then the switch turned off: the resume still plays it on.
  WithTimeout("suspend", 10, [&] { dsnd_.Suspend(); });
  dsnd_.SetTimePause(false);
  WithTimeout("resume", 10, [&] { dsnd_.Resume(); });
  DWORD status = 0;
  t.GetStream()->GetBuffer()->GetStatus(&status);
  EXPECT_EQ(status, DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
  EXPECT_EQ(t.GetStream()->GetState(), 1u);
  dsnd_.SetTimePause(true);
  // The device's release closes running streams.
  WithTimeout("release", 10, [&] { dsnd_.Release(); });
}

TEST_F(StreamTest, NoDeviceLoadsSucceedEmpty) {
  SoundHandle h;
  DFile f;
  File(f, Ramp(1, 10));
  EXPECT_TRUE(h.Load(DString("n.wav"), f, 2));
  EXPECT_TRUE(h.Load3D(DString("n.wav"), f));
  EXPECT_FALSE(h.GetVoices());
  h.Play(1);
  EXPECT_FALSE(h.IsPlaying());
  StreamHandle s;
  EXPECT_TRUE(s.AddToList(f, 0, 0, 0));
  s.Play();
  EXPECT_FALSE(s.IsStarted());
}

}  // namespace
