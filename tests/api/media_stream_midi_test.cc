// Audio streams on the manual sink and MIDI songs on the recorder port, through the built-ins and
// their export twins.
#include <time.h>

#include <cmath>
#include <limits>

#include "media/midi/midi_manager.h"
#include "platform/midi_record.h"
#include "tests/api/media_fixture.h"

namespace {

using namespace media_test;

constexpr uint32_t kCreateStream = 133, kGetStream = 178, kSetStream = 232, kAddStreamList = 233,
                   kClearStreamList = 234, kPlayStream = 235, kStopStream = 236;
constexpr uint32_t kPlayMidi = 4, kStopMidi = 5, kPauseMidi = 6, kResumeMidi = 7, kFadeoutMidi = 9,
                   kSetMidiSpeed = 13, kAddMidiList = 134, kClearMidiList = 135;

std::vector<int16_t> Cat(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> r;
  for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

class StreamFrame : public MediaFrame {
 protected:
  void SetUp() override {
    MediaFrame::SetUp();
    Call(kCreateStream);
    ASSERT_EQ(Result()->type(), kScriptStream);
    ScriptValue::Assign(*Result(), Slot(9));
    Call(kSetStream, {9});
  }
  // AddStreamList through the built-in; true when no message was raised.
  bool Add(const std::string& path, int32_t repeat, float loop, int32_t flags) {
    Boxes().clear();
    Str(1, path);
    Int(2, repeat);
    Float(3, loop);
    Int(4, flags);
    Call(kAddStreamList, {1, 2, 3, 4});
    const bool ok = Boxes().empty();
    EndAllTasks();
    return ok;
  }
  DRef<StreamHandle> Current() { return DRef<StreamHandle>::Convert(CurrentObjects().stream); }
};

TEST_F(StreamFrame, EntriesRepeatsAndLoopPointsGiveTheExpectedSegments) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  scratch_.Write("a.wav", WavBytes(Ramp(1, 300)));
  scratch_.Write("b.wav", WavBytes(Ramp(1001, 200)));
  ASSERT_TRUE(Add("a.wav", 1, 0.1f, 0));   // twice, the second time from frame 100
  ASSERT_TRUE(Add("b.wav", 0, 0.05f, 3));  // once, from frame 50 (bit 0 of the flags)
  Call(kPlayStream);
  EXPECT_TRUE(Current()->IsStarted());
  std::vector<int16_t> want = Cat({Ramp(1, 300), Ramp(101, 200), Ramp(1051, 150)});
  const unsigned total = static_cast<unsigned>(want.size() / 2) + 200;
  want.resize(total * 2, 0);
  EXPECT_EQ(Step(total), want);
  Call(kStopStream);
}

TEST_F(StreamFrame, TheListFreezesAtTheFirstPlay) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  scratch_.Write("a.wav", WavBytes(Ramp(1, 100)));
  scratch_.Write("other_rate.wav", WavBytes(Ramp(1, 100), 2000));
  ASSERT_TRUE(Add("a.wav", 0, 0, 0));
  EXPECT_FALSE(Add("other_rate.wav", 0, 0, 0)) << "a format other than the first entry's";
  EXPECT_EQ(LastBox(), "ストリーム再生リストに追加できません。\n\"other_rate.wav\"");
  Call(kPlayStream);
  EXPECT_FALSE(Add("a.wav", 0, 0, 0)) << "an add after the first Play";
  Call(kClearStreamList);  // kept after Play
  EXPECT_EQ(Step(120), Cat({Ramp(1, 100), Flat(0, 20)}));
  Call(kPlayStream);  // Play while playing changes nothing
  Call(kStopStream);
  Call(kPlayStream);  // from the first entry again
  EXPECT_EQ(Step(100), Ramp(1, 100));
  Call(kStopStream);
  Call(kGetStream);
  EXPECT_EQ(Result()->type(), kScriptStream);
  // Before the first Play, Clear drops the list.
  ApiHandle* s = ovCreateStream();
  EXPECT_EQ(ovAddStreamList(s, "other_rate.wav", 0, 0, 0), 1);
  ovClearStreamList(s);
  EXPECT_EQ(ovAddStreamList(s, "a.wav", 0, 0, 0), 1) << "a new list takes any format";
  ovPlayStream(s);
  EXPECT_EQ(Step(100), Ramp(1, 100));
  ovStopStream(s);
  ovDestroyStream(s);
}

TEST_F(StreamFrame, WithoutADeviceOrAListAStreamStaysUnstarted) {
  scratch_.Write("a.wav", WavBytes(Ramp(1, 100)));
  Call(kPlayStream);  // no list
  EXPECT_FALSE(Current()->IsStarted());
  ASSERT_TRUE(Add("a.wav", 0, 0, 0));
  Call(kPlayStream);  // no device
  EXPECT_FALSE(Current()->IsStarted());
  EXPECT_TRUE(Add("a.wav", 0, 0, 0));
  Int(1, 0);
  Call(kSetStream, {1});
  Call(kPlayStream);  // no current stream
  Call(kGetStream);
  EXPECT_EQ(Result()->type(), kScriptInt);
}

TEST_F(StreamFrame, AnArchiveMemberPlaysOnAfterTheArchiveIsDropped) {
  ASSERT_TRUE(dsnd_.Create(nullptr, 0));
  Mount({{"music/m.wav", WavBytes(Ramp(1, 3000))}});
  ApiHandle* s = ovCreateStream();
  ASSERT_EQ(ovAddStreamList(s, "music\\m.wav", 0, 0.0f, 0), 1);
  ovPlayStream(s);
  EXPECT_EQ(Step(500), Ramp(1, 500));
  EXPECT_EQ(ovSetDataFile(""), 1);
  EXPECT_FALSE(MountedDataFile());
  EXPECT_EQ(Step(2500), Ramp(501, 2500)) << "read past the first buffer after the archive went";
  ovStopStream(s);
  ovDestroyStream(s);
}

// ---- MIDI on the recorder port.

std::vector<uint8_t> NotesOn() {
  std::vector<uint8_t> notes;
  for (const auto& m : orvane::midi::Recorded())
    if ((m.bytes[0] & 0xF0) == 0x90 && m.bytes[2] != 0) notes.push_back(m.bytes[1]);
  return notes;
}

// Waits (at most two seconds of real time) until `done` holds.
template <class F>
bool WaitFor(F done) {
  for (int i = 0; i < 400; ++i) {
    if (done()) return true;
    timespec t{0, 5 * 1000 * 1000};
    nanosleep(&t, nullptr);
  }
  return done();
}

class MidiFrame : public MediaFrame {
 protected:
  void SetUp() override {
    MediaFrame::SetUp();
    orvane::midi::ClearRecorded();
    scratch_.Write("a.mid", SmfBytes(60));
    scratch_.Write("b.mid", SmfBytes(62));
  }
  void TearDown() override {
    TheMidiManager().Close();
    TheMidiManager().ClearList();
    orvane::midi::FailOpen(false);
    orvane::midi::ClearRecorded();
    MediaFrame::TearDown();
  }
  bool Add(const std::string& path, int32_t repeat = 0, float loop = 0, int32_t flags = 0) {
    Boxes().clear();
    Str(1, path);
    Int(2, repeat);
    Float(3, loop);
    Int(4, flags);
    Call(kAddMidiList, {1, 2, 3, 4});
    const bool ok = Boxes().empty();
    EndAllTasks();
    return ok;
  }
  void Speed(float s) {
    Float(1, s);
    Call(kSetMidiSpeed, {1});
  }
  MidiPlayer& Player() { return TheMidiManager().Player(); }
};

TEST_F(MidiFrame, SongsPlayInOrderWithSpeedForOnePlay) {
  ASSERT_TRUE(TheMidiManager().Open());
  ASSERT_TRUE(Add("a.mid"));
  ASSERT_TRUE(Add("b.mid"));
  Speed(2.0f);
  Call(kPlayMidi);
  EXPECT_EQ(Player().GetTickLength(), 20u) << "a speed set before Play applies to it";
  EXPECT_EQ(TheMidiManager().StoredTickLength(), 10u);
  ASSERT_TRUE(WaitFor([] { return NotesOn().size() >= 2; }));
  EXPECT_EQ(NotesOn(), (std::vector<uint8_t>{60, 62}));
  // A second Play without adds changes nothing; the next filled Play runs at normal speed.
  DRef<MidiPlayList> current = TheMidiManager().CurrentList();
  Call(kPlayMidi);
  EXPECT_EQ(TheMidiManager().CurrentList(), current);
  EXPECT_EQ(ovAddMidiList("a.mid", -1, 0.0f, 0), 1);
  EXPECT_EQ(ovPlayMidi(), 1);
  EXPECT_EQ(Player().GetTickLength(), 10u);
  // Speed x 10 to the nearest integer; 0.04 and non-finite speeds change nothing.
  const struct {
    float speed;
    uint32_t t;
  } speeds[] = {{0.25f, 2},
                {0.04f, 10},
                {std::numeric_limits<float>::quiet_NaN(), 10},
                {std::numeric_limits<float>::infinity(), 10},
                {-std::numeric_limits<float>::infinity(), 10},
                {1.5f, 15}};
  for (const auto& s : speeds) {
    Speed(1.0f);
    Speed(s.speed);
    EXPECT_EQ(Player().GetTickLength(), s.t) << s.speed;
  }
  ovSetMidiSpeed(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(Player().GetTickLength(), 15u);
  // Stop and Pause keep the place; Resume goes on.
  for (uint32_t stop : {kStopMidi, kPauseMidi}) {
    DRef<MidiSong> song = TheMidiManager().CurrentList()->GetCurrent();
    Call(stop);
    EXPECT_FALSE(Player().TimerRunning()) << stop;
    EXPECT_EQ(TheMidiManager().CurrentList()->GetCurrent(), song);
    Call(kResumeMidi);
    EXPECT_TRUE(Player().TimerRunning()) << stop;
  }
  // A fade out with stop ends the play.
  Int(1, 100);
  Int(2, 1);
  Call(kFadeoutMidi, {1, 2});
  EXPECT_TRUE(WaitFor([this] { return !Player().TimerRunning(); }));
}

TEST_F(MidiFrame, LoopPointsInWholeMillisecondsAndAddsWithoutOutput) {
  orvane::midi::FailOpen(true);
  EXPECT_FALSE(TheMidiManager().Open());
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float seconds;
    uint32_t ms;
  } rows[] = {{1.5f, 1500}, {0.0f, 0}, {-2.0f, 0}, {nan, 0}, {1e30f, 0xFFFFFFFFu}, {0.0004f, 0}};
  for (const auto& r : rows) {
    Call(kClearMidiList);
    ASSERT_TRUE(Add("a.mid", 3, r.seconds, 3)) << r.seconds;
    DRef<MidiSong> song = TheMidiManager().PendingList()->GetCurrent();
    ASSERT_TRUE(song);
    EXPECT_EQ(song->loop_start, r.ms) << r.seconds;
    EXPECT_EQ(song->flags, 1u);
    EXPECT_EQ(song->initial_repeat, 3);
  }
  EXPECT_FALSE(Add("missing.mid"));
  EXPECT_EQ(LastBox(), "MIDIファイルを開けません。\n\"missing.mid\"");
  Call(kPlayMidi);
  Speed(2.0f);
  Call(kResumeMidi);
  EXPECT_EQ(ovPlayMidi(), 1);
  EXPECT_TRUE(orvane::midi::Recorded().empty()) << "nothing sent without an output";
  EXPECT_TRUE(TheMidiManager().PendingList()) << "the pending list waits";
}

}  // namespace
