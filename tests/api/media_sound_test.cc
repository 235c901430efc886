// The media file rule through every loader, both faces of the media families, and sounds with
// 3D placement on the manual sink.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "media/dsnd_data.h"
#include "tests/api/media_fixture.h"

namespace {

using namespace media_test;

constexpr uint32_t kLoadSound = 90, kGetSound = 91, kSetSound = 92, kPlaySound = 93, kStopSound = 94,
                   kIsSoundPlay = 279, kLoadSound3D = 266, kSetSoundPos = 267, kSetSoundCone = 269,
                   kSetSoundListenerPos = 272, kCommitSound3D = 278, kCreateStream = 133,
                   kAddStreamList = 233, kSetStream = 232, kAddMidiList = 134;

class MediaRule : public MediaFrame {};

// Each row's path reaches the three loaders with their own extension.
TEST_F(MediaRule, OneRuleForSoundsStreamsAndSongs) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  mkdir(scratch_.Path("sub").c_str(), 0755);
  const char* exts[] = {".wav", ".wav", ".mid"};
  auto content = [&](int loader) { return loader == 2 ? SmfBytes() : WavBytes(Ramp(1, 10)); };
  auto write_all = [&](const std::string& base) {
    for (int l = 0; l < 3; l += 2) scratch_.Write(base + exts[l], content(l));
  };
  write_all("rel");
  write_all("sub/task");
  write_all("disk_only");
  write_all("\xE8\xA1\xA8");  // the disk holds names in UTF-8: this is the cp932 0x95 0x5C
  const std::string overlong(kApiPathSize - scratch_.Dir().size() - 4, 'n');
  struct Row {
    const char* what;
    std::string path;  // without extension; null rows pass a null pointer
    bool archive;
    bool task;
    bool ok;
  } rows[] = {
      {"relative, no running task", "rel", false, false, true},
      {"absolute", scratch_.Path("rel"), false, false, true},
      {"relative to the running task", "task", false, true, true},
      {"the task's path does not reach the program's", "rel", false, true, false},
      {"a name with a 0x5C trail byte", "\x95\x5C", false, false, true},
      {"too long once absolute", overlong, false, false, false},
      {"a \\ spelling of a member", "d\\m", true, false, true},
      {"a member with a 0x5C trail byte", "\x95\x5Cm", true, false, true},
      {"disk only while an archive is mounted", "disk_only", true, false, false},
      {"missing", "none", false, false, false},
  };
  for (const Row& r : rows) {
    if (r.archive) {
      std::vector<std::pair<std::string, std::string>> members;
      for (int l = 0; l < 3; l += 2) {
        members.push_back({"d/m" + std::string(exts[l]), content(l)});
        members.push_back({"\x95\x5Cm" + std::string(exts[l]), content(l)});
      }
      Mount(members);
    } else {
      MountedDataFile().Release();
    }
    DRef<ScriptTask> task;
    if (r.task) {
      task = ListedTask("sub/");
      ASSERT_TRUE(task);
      CurrentTask() = task;
    }
    const std::string wav = r.path + ".wav", mid = r.path + ".mid";
    ApiHandle* sound = ovLoadSound(wav.c_str(), 1);
    EXPECT_EQ(sound != nullptr, r.ok) << r.what;
    ovDestroySound(sound);
    ApiHandle* stream = ovCreateStream();
    EXPECT_EQ(ovAddStreamList(stream, wav.c_str(), 0, 0.0f, 0), r.ok ? 1 : 0) << r.what;
    ovDestroyStream(stream);
    EXPECT_EQ(ovAddMidiList(mid.c_str(), 0, 0.0f, 0), r.ok ? 1 : 0) << r.what;
    ovClearMidiList();
    CurrentTask().Release();
    if (task) EndAllTasks();
  }
  // A null path fails every export.
  EXPECT_EQ(ovLoadSound(nullptr, 1), nullptr);
  EXPECT_EQ(ovLoadSound3D(nullptr), nullptr);
  ApiHandle* stream = ovCreateStream();
  EXPECT_EQ(ovAddStreamList(stream, nullptr, 0, 0.0f, 0), 0);
  ovDestroyStream(stream);
  EXPECT_EQ(ovAddMidiList(nullptr, 0, 0.0f, 0), 0);
}

// The built-ins quote the path as the script passed it and end every task; exports give 0.
TEST_F(MediaRule, LoadMessagesQuoteThePathAndEndEveryTask) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  scratch_.Write("bad.wav", "RIFF damaged");
  scratch_.Write("bad.mid", "MThd damaged");
  Call(kCreateStream);
  ScriptValue::Assign(*Result(), Slot(5));
  Call(kSetStream, {5});
  const struct {
    uint32_t n;
    const char* path;
    std::vector<Arg> args;
    const char* message;
  } rows[] = {
      {kLoadSound, "none.wav", {1, 2}, "サウンドファイルを読み込めません。"},
      {kLoadSound, "bad.wav", {1, 2}, "サウンドファイルを読み込めません。"},
      {kLoadSound3D, "none.wav", {1}, "サウンドファイルを読み込めません。"},
      {kAddStreamList, "bad.wav", {1, 2, 3, 4}, "ストリーム再生リストに追加できません。"},
      {kAddMidiList, "bad.mid", {1, 2, 3, 4}, "MIDIファイルを開けません。"},
      {kAddMidiList, "none.mid", {1, 2, 3, 4}, "MIDIファイルを開けません。"},
  };
  for (const auto& r : rows) {
    DRef<ScriptTask> task = ListedTask();
    ASSERT_TRUE(task);
    Boxes().clear();
    Result()->SetInt(77);
    Str(1, r.path);
    Int(2, 1);
    Float(3, 0.0f);
    Int(4, 0);
    Call(r.n, r.args);
    EXPECT_EQ(LastBox(), std::string(r.message) + "\n\"" + r.path + "\"") << r.path;
    EXPECT_NE(task->run_flags & kVmRunEnd, 0u) << r.path;
    EXPECT_EQ(Result()->ToInt(), 77) << "the result slot stays";
    EndAllTasks();
  }
  EXPECT_EQ(ovLoadSound("bad.wav", 1), nullptr);
  EXPECT_EQ(ovAddMidiList("bad.mid", 0, 0.0f, 0), 0);
}

TEST_F(MediaRule, SelectGetNoCurrentObjectAndHandlesOfAnotherKind) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  scratch_.Write("s.wav", WavBytes(Ramp(1, 50)));
  // No current sound: nothing happens, IsSoundPlay is false, GetSound gives int 0.
  Result()->SetInt(5);
  Call(kIsSoundPlay);
  EXPECT_EQ(Result()->type(), kScriptInt);
  EXPECT_EQ(Result()->ToInt(), 0);
  Int(1, 1);
  Call(kPlaySound, {1});
  Call(kStopSound);
  Call(kGetSound);
  EXPECT_EQ(Result()->type(), kScriptInt);
  EXPECT_EQ(Result()->ToInt(), 0);
  // A stream value given to SetSound clears the selection without an error.
  Str(1, "s.wav");
  Int(2, 1);
  Call(kLoadSound, {1, 2});
  ASSERT_EQ(Result()->type(), kScriptSoundData);
  ScriptValue::Assign(*Result(), Slot(6));
  Call(kSetSound, {6});
  Call(kGetSound);
  EXPECT_EQ(Result()->type(), kScriptSoundData);
  Call(kCreateStream);
  ScriptValue::Assign(*Result(), Slot(7));
  Boxes().clear();
  Call(kSetSound, {7});
  EXPECT_TRUE(Boxes().empty());
  Call(kGetSound);
  EXPECT_EQ(Result()->type(), kScriptInt);

  // Exports refuse a handle of another kind with their failure value.
  ApiHandle* sound = ovLoadSound("s.wav", 1);
  ApiHandle* stream = ovCreateStream();
  ASSERT_NE(sound, nullptr);
  ovPlaySound(stream, 1);
  EXPECT_EQ(ovIsSoundPlay(stream), 0);
  EXPECT_EQ(ovAddStreamList(sound, "s.wav", 0, 0.0f, 0), 0);
  ovPlayStream(sound);
  ovDestroySound(stream);  // refused: the stream handle stays usable
  EXPECT_EQ(ovAddStreamList(stream, "s.wav", 0, 0.0f, 0), 1);
  EXPECT_EQ(Step(10), Flat(0, 10)) << "nothing played";
  ovDestroyStream(stream);
  ovDestroySound(sound);
}

// ---- Sounds on the manual sink.
class SoundPlay : public MediaFrame {
 protected:
  // Loads through the built-in and selects the sound.
  void Load(const std::string& path, int voices) {
    Str(1, path);
    Int(2, voices);
    Call(kLoadSound, {1, 2});
    ASSERT_EQ(Result()->type(), kScriptSoundData) << LastBox();
    ScriptValue::Assign(*Result(), Slot(9));
    Call(kSetSound, {9});
  }
  void Play(int loop) {
    Int(1, loop);
    Call(kPlaySound, {1});
  }
  bool Playing() {
    Call(kIsSoundPlay);
    return Result()->ToInt() != 0;
  }
};

TEST_F(SoundPlay, AWaveAtTheMixerRateComesBackBitExact) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  scratch_.Write("r.wav", WavBytes(Ramp(1, 200)));
  Load("r.wav", 1);
  Play(0);
  EXPECT_TRUE(Playing());
  EXPECT_EQ(Step(200), Ramp(1, 200));
  EXPECT_EQ(Step(10), Flat(0, 10));
  EXPECT_FALSE(Playing());
  // The export twin plays the same samples.
  ApiHandle* h = ovLoadSound("r.wav", 1);
  ovPlaySound(h, 0);
  EXPECT_EQ(ovIsSoundPlay(h), 1);
  EXPECT_EQ(Step(200), Ramp(1, 200));
  ovDestroySound(h);
}

TEST_F(SoundPlay, VoicesLoopsAndTheSharedData) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  scratch_.Write("f.wav", WavBytes(Flat(100, 100)));
  // Four voices, started 10 frames apart; the fifth play restarts the voice furthest on.
  Load("f.wav", 4);
  for (int i = 0; i < 4; ++i) {
    Play(0);
    Step(10);
  }
  EXPECT_EQ(Step(1)[0], 400);
  Step(9);
  Play(0);  // at frame 50: replaces the voice started at 0
  std::vector<int16_t> s = Step(60);
  EXPECT_EQ(s[2 * 55], 400) << "frame 105: four voices still sound";
  Call(kStopSound);
  EXPECT_EQ(Step(5), Flat(0, 5));
  // Voices 0 and -3 give one voice: a second play restarts it.
  for (int voices : {0, -3}) {
    Load("f.wav", voices);
    Play(0);
    Step(10);
    Play(0);
    EXPECT_EQ(Step(1)[0], 100) << voices;
    Call(kStopSound);
  }
  // Only bit 0 of loop counts.
  scratch_.Write("r.wav", WavBytes(Ramp(1, 50)));
  Load("r.wav", 1);
  Play(2);
  Step(60);
  EXPECT_FALSE(Playing()) << "loop 2 plays once";
  Play(3);
  EXPECT_EQ(Step(70)[2 * 60], 11) << "loop 3 loops";
  EXPECT_TRUE(Playing());
  // Every voice loops: a further play does nothing (no restart).
  Play(0);
  EXPECT_EQ(Step(1)[0], 21);
  Call(kStopSound);
  // Two loads of one path share the decoded data: a changed file is not read again.
  scratch_.Write("r.wav", WavBytes(Ramp(1000, 50)));
  ApiHandle* again = ovLoadSound("r.wav", 1);
  ovPlaySound(again, 0);
  EXPECT_EQ(Step(3), Ramp(1, 3));
  EXPECT_TRUE(dsnd_.FindSound(DString(scratch_.Path("r.wav").c_str())));
  ovDestroySound(again);
}

TEST_F(SoundPlay, WithoutADeviceLoadsSucceedAndNothingPlays) {
  scratch_.Write("r.wav", WavBytes(Ramp(1, 50)));
  Load("r.wav", 1);
  Play(1);
  EXPECT_FALSE(Playing());
  EXPECT_EQ(Step(10), Flat(0, 10));
  ApiHandle* h = ovLoadSound3D("r.wav");
  ASSERT_NE(h, nullptr);
  ovSetSoundPos(h, 1, 2, 3);
  ovCommitSound3D();
  ovDestroySound(h);
  EXPECT_EQ(ovLoadSound("none.wav", 1), nullptr) << "the file must still exist";
}

// 3D buffers take mono sound: frame n holds n + 1.
std::string MonoWav(int frames) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) s.push_back(static_cast<int16_t>(i + 1));
  return orvane_test::Wav(orvane_test::Fmt(1, 1, kRate, 16), orvane_test::Pcm16(s));
}

D3DVECTOR Position(IDirectSound3DBuffer* b) {
  D3DVECTOR v{};
  b->GetPosition(&v);
  return v;
}

TEST_F(SoundPlay, ThreeDSettingsAreDeferredWithZNegated) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 3));
  scratch_.Write("r.wav", MonoWav(50));
  Str(1, "r.wav");
  Call(kLoadSound3D, {1});
  ASSERT_EQ(Result()->type(), kScriptSoundData) << LastBox();
  ScriptValue::Assign(*Result(), Slot(9));
  Call(kSetSound, {9});
  DRef<SoundHandle> sound = DRef<SoundHandle>::Convert(CurrentObjects().sound);
  IDirectSound3DBuffer* b = sound->GetVoices()->Get3DBuffer(0);
  ASSERT_NE(b, nullptr);
  Float(1, 0);
  Float(2, 0);
  Float(3, 5);
  Call(kSetSoundPos, {1, 2, 3});
  Float(1, 1);
  Call(kSetSoundListenerPos, {1, 2, 3});
  EXPECT_EQ(Position(b).z, 0.0f) << "pending until the commit";
  Call(kCommitSound3D);
  EXPECT_EQ(Position(b).z, -5.0f);
  D3DVECTOR l{};
  dsnd_.GetListener()->GetPosition(&l);
  EXPECT_EQ(l.x, 1.0f);
  EXPECT_EQ(l.z, -5.0f);

  // Cone angles: radians to whole degrees, negatives 0; NaN gives 0 and huge values saturate,
  // which the device refuses as out of range (keeping what it had).
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float inside, outside, volume;
    DWORD in_deg, out_deg;
    LONG vol;
  } cones[] = {
      {-1.0f, 1.0f, -100.4f, 0, 57, -100},
      {nan, 1e30f, nan, 0, 57, 0},
      {0.5f, 3.14159f, 1e30f, 29, 180, 0},
  };
  for (const auto& c : cones) {
    Float(1, c.inside);
    Float(2, c.outside);
    Float(3, c.volume);
    Float(4, 0);
    Float(5, 0);
    Float(6, 1);
    Call(kSetSoundCone, {1, 2, 3, 4, 5, 6});
    Call(kCommitSound3D);
    DWORD in = 9, out = 9;
    LONG vol = 9;
    b->GetConeAngles(&in, &out);
    b->GetConeOutsideVolume(&vol);
    EXPECT_EQ(in, c.in_deg) << c.inside;
    EXPECT_EQ(out, c.out_deg) << c.outside;
    EXPECT_EQ(vol, c.vol) << c.volume;
  }
  // Non-finite positions, velocities and factors are ignored.
  ApiHandle* h = ovLoadSound3D("r.wav");
  ovSetSoundPos(h, nan, 0, 0);
  ovSetSoundPos(h, 0, std::numeric_limits<float>::infinity(), 0);
  ovSetSoundListenerPos(nan, 1, 1);
  ovSetSoundListenerDir(0, 0, 1, 0, nan, 0);
  ovSetSoundDistanceFactor(nan);
  ovSetSoundDopplerFactor(-std::numeric_limits<float>::infinity());
  ovSetSoundRolloffFactor(nan);
  ovSetSoundDistance(h, nan, 1e30f);
  ovSetSoundVel(h, 1e30f, nan, 0);
  ovCommitSound3D();
  dsnd_.GetListener()->GetPosition(&l);
  EXPECT_EQ(l.x, 1.0f);
  D3DVALUE f = 0;
  dsnd_.GetListener()->GetRolloffFactor(&f);
  EXPECT_TRUE(std::isfinite(f));
  IDirectSound3DBuffer* hb = DRef<SoundHandle>::Convert(h->ref)->GetVoices()->Get3DBuffer(0);
  ASSERT_NE(hb, nullptr);
  EXPECT_EQ(Position(hb).x, 0.0f);
  EXPECT_TRUE(std::isfinite(Position(hb).y));
  ovSetSoundListenerDir(0, 0, 1, 0, 1, 2);
  ovCommitSound3D();
  D3DVECTOR front{}, top{};
  dsnd_.GetListener()->GetOrientation(&front, &top);
  EXPECT_EQ(front.z, -1.0f);
  EXPECT_EQ(top.z, -2.0f);
  ovDestroySound(h);
}

TEST_F(SoundPlay, WithoutSound3dThreeDCallsChangeNothing) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  EXPECT_EQ(dsnd_.GetListener(), nullptr);
  scratch_.Write("r.wav", MonoWav(50));
  ApiHandle* h = ovLoadSound3D("r.wav");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(DRef<SoundHandle>::Convert(h->ref)->GetVoices()->Get3DBuffer(0), nullptr);
  ovSetSoundPos(h, 100, 0, 0);
  ovSetSoundCone(h, 1, 2, -1000, 0, 0, 1);
  ovSetSound3DMode(h, 0);
  ovSetSoundListenerPos(1, 1, 1);
  ovCommitSound3D();
  Boxes().clear();
  Float(1, 1);
  Call(kCommitSound3D);
  Call(kSetSoundListenerPos, {1, 1, 1});
  EXPECT_TRUE(Boxes().empty());
  ovPlaySound(h, 0);
  std::vector<int16_t> s = Step(50);
  EXPECT_EQ(s[2 * 10], 11) << "played as an ordinary sound";
  EXPECT_EQ(s[2 * 10 + 1], 11);
  ovDestroySound(h);
}

}  // namespace
