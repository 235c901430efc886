// The MIDI sequencer, songs and play lists, driven tick by tick against the recorder port.
#include "media/midi/midi_sequencer.h"

#include <gtest/gtest.h>

#include <vector>

#include "media/midi/midi_device.h"
#include "media/midi/midi_song.h"
#include "platform/midi_record.h"
#include "smf_builder.h"

namespace om = orvane::midi;
using smf::Bytes;

namespace {

class TestSequencer : public MidiSequencer {
 public:
  void OnFadeOutDone() override { fade_out_done.push_back(ticks); }
  void OnFadeInDone() override { fade_in_done.push_back(ticks); }
  // Runs one tick of dt ms; returns the messages it sent.
  std::vector<Bytes> Step(uint32_t dt = 10, bool* result = nullptr) {
    size_t before = om::Recorded().size();
    ++ticks;
    bool r = Tick(dt);
    if (result) *result = r;
    auto all = om::Recorded();
    std::vector<Bytes> sent;
    for (size_t i = before; i < all.size(); ++i) sent.push_back(all[i].bytes);
    return sent;
  }
  int ticks = 0;
  std::vector<int> fade_out_done, fade_in_done;
};

DRef<MidiSong> Song(const Bytes& bytes, int32_t repeat = 0, uint32_t loop = 0, uint32_t flags = 0) {
  DFile file;
  EXPECT_TRUE(smf::Open(file, bytes));
  DRef<MidiSong> song;
  song.Alloc(1);
  EXPECT_TRUE(song->Load(file, repeat, loop, flags));
  return song;
}

DRef<MidiPlayList> List(std::initializer_list<DRef<MidiSong>> songs) {
  DRef<MidiPlayList> list;
  list.Alloc(1);
  for (const auto& s : songs) list->Add(s);
  list->Rewind();
  return list;
}

class MidiSequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    om::ClearRecorded();
    ASSERT_EQ(midiOutOpen(&device_.Handle(), MIDI_MAPPER, 0, 0, 0), MMSYSERR_NOERROR);
    ASSERT_TRUE(seq_.Attach(&device_));
  }
  void TearDown() override {
    seq_.Detach();
    om::ClearRecorded();
  }
  MidiOutDevice device_;
  TestSequencer seq_;
};

TEST_F(MidiSequencerTest, EightTicksPerTimerTickThenTempoFromTheCurrentTick) {
  smf::Track t;
  // Notes on ticks 8, 16 (with tempo 500000 there), 26 and 27.
  t.Ev(8, {0x90, 1, 64})
      .Ev(8, {0x90, 2, 64})
      .Tempo(0, 500000)
      .Ev(10, {0x90, 3, 64})
      .Ev(1, {0x90, 4, 64})
      .End(100);
  DRef<MidiSong> song = Song(smf::File(480, {t}));
  EXPECT_FLOAT_EQ(song->ticks_per_ms, 0.8f);
  EXPECT_EQ(song->tempo, 600000u);
  seq_.SetPlayList(List({song}));

  auto sent = seq_.Step();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Bytes{0x90, 1, 64}));
  sent = seq_.Step();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(song->tick_base, 16u);
  EXPECT_EQ(song->ms_since_tempo, 0u);
  EXPECT_FLOAT_EQ(song->ticks_per_ms, 0.96f);
  sent = seq_.Step();  // 16 + 9.6 -> tick 26: the note on 27 waits
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][1], 3);
  EXPECT_EQ(seq_.Step().size(), 1u);
}

TEST_F(MidiSequencerTest, RunningStatusSysExAndSystemBytes) {
  Bytes big(300, 0x11);
  big.push_back(0xF7);
  smf::Track t;
  t.Ev(0, {0x90, 60, 100})
      .Ev(0, {62, 90})   // running status
      .Ev(0, {0xC3, 7})  // program: one data byte, sent with a 0
      .SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .Ev(0, {0xF8})  // a system byte reads no data and sends nothing
      .SysEx(0, big)
      .End();
  seq_.SetPlayList(List({Song(smf::File(96, {t}))}));
  auto sent = seq_.Step();
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[0], (Bytes{0x90, 60, 100}));
  EXPECT_EQ(sent[1], (Bytes{0x90, 62, 90}));
  EXPECT_EQ(sent[2], (Bytes{0xC3, 7, 0}));
  EXPECT_EQ(sent[3], (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  ASSERT_EQ(sent[4].size(), 302u);
  EXPECT_EQ(sent[4].front(), 0xF0);
  EXPECT_EQ(sent[4].back(), 0xF7);
}

TEST_F(MidiSequencerTest, FadeOutRampsFadedChannelsAndEndsTwoTicksLater) {
  smf::Track t;
  t.Ev(0, {0xB0, 7, 100}).Ev(0, {0xB2, 7, 50}).Ev(0, {0xB1, 10, 64}).End(100000);
  seq_.SetPlayList(List({Song(smf::File(480, {t}))}));
  seq_.Step();
  seq_.FadeOut(1000);
  std::vector<int> ch0, ch2;
  for (int i = 1; i <= 102; ++i) {
    for (const Bytes& m : seq_.Step()) {
      ASSERT_EQ(m[1], 7) << "only Volume is faded";
      ASSERT_NE(m[0], 0xB1) << "a channel without Volume is not faded";
      (m[0] == 0xB0 ? ch0 : ch2).push_back(m[2]);
      if (m[0] == 0xB0 && m[2] == 0) {
        EXPECT_EQ(i, 100) << "level 0 at the 100th tick";
      }
    }
    if (i < 102) {
      EXPECT_TRUE(seq_.fade_out_done.empty()) << i;
    }
  }
  ASSERT_EQ(seq_.fade_out_done, std::vector<int>{103});  // step 102 of the fade (tick 1 played first)
  EXPECT_EQ(ch0.back(), 0);
  EXPECT_EQ(ch2.back(), 0);
  EXPECT_EQ(ch0.front(), 99);
  EXPECT_EQ(seq_.GetMode(), MidiSequencer::kNormal);
}

TEST_F(MidiSequencerTest, FadeInRisesWithoutRepeatsAndZeroLengthEndsAtTheNextTick) {
  smf::Track t;
  t.Ev(0, {0xB0, 7, 100}).End(100000);
  seq_.SetPlayList(List({Song(smf::File(480, {t}))}));
  seq_.Step();
  seq_.FadeIn(500);
  std::vector<int> values;
  for (int i = 0; i < 60; ++i) {
    for (const Bytes& m : seq_.Step()) values.push_back(m[2]);
  }
  ASSERT_FALSE(values.empty());
  EXPECT_EQ(values.back(), 100);
  for (size_t i = 1; i < values.size(); ++i) EXPECT_LT(values[i - 1], values[i]);
  EXPECT_EQ(seq_.fade_in_done.size(), 1u);

  seq_.FadeOut(0);
  seq_.fade_out_done.clear();
  int start = seq_.ticks;
  auto first = seq_.Step();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0], (Bytes{0xB0, 7, 0}));
  EXPECT_TRUE(seq_.fade_out_done.empty());
  seq_.Step();
  EXPECT_EQ(seq_.fade_out_done, std::vector<int>{start + 2});
}

TEST_F(MidiSequencerTest, RepeatSeeksToTheLoopStartWithoutNotes) {
  smf::Track t;
  // 0.8 ticks per ms: 800 = 1000 ms, 1600 = 2000 ms, 2400 = 3000 ms.
  t.Ev(0, {0xC0, 5})
      .Ev(0, {0x90, 60, 64})
      .Ev(800, {0xB0, 10, 32})
      .Ev(0, {0xE0, 0, 0x40})
      .Ev(0, {0x90, 64, 64});
  t.Ev(1600, {0x90, 67, 64}).End();
  DRef<MidiSong> song = Song(smf::File(480, {t}), 1, 2000);
  seq_.SetPlayList(List({song}));
  std::vector<Bytes> all;
  bool running = true;
  int ticks = 0;
  while (running && ticks < 1000) {
    ++ticks;
    for (auto& m : seq_.Step(10, &running)) all.push_back(m);
  }
  ASSERT_FALSE(running);
  std::vector<Bytes> want = {{0xC0, 5, 0},    {0x90, 60, 64}, {0xB0, 10, 32},
                             {0xE0, 0, 0x40}, {0x90, 64, 64}, {0x90, 67, 64},   // first pass
                             {0xC0, 5, 0},    {0xB0, 10, 32}, {0xE0, 0, 0x40},  // seek: no notes
                             {0x90, 67, 64}};
  EXPECT_EQ(all, want);
  EXPECT_LT(ticks, 450);  // the second pass starts at 2000 ms
  EXPECT_EQ(song->repeat, 0);
}

TEST_F(MidiSequencerTest, RepeatCountsAcrossAList) {
  auto one_note = [](uint8_t key) {
    smf::Track t;
    t.Ev(0, {0x90, key, 64}).End(8);
    return smf::File(480, {t});
  };
  struct Case {
    std::vector<int32_t> repeats;
    std::vector<uint8_t> notes;  // keys sounded, in order, within 200 ticks
    bool ends;
  };
  const Case cases[] = {
      {{2}, {1, 1, 1}, true},
      {{0, 0}, {1, 2}, true},
      {{-1, 0}, {1, 1, 1, 1, 1}, false},
  };
  for (const Case& c : cases) {
    om::ClearRecorded();
    DRef<MidiPlayList> list;
    list.Alloc(1);
    for (size_t i = 0; i < c.repeats.size(); ++i) {
      list->Add(Song(one_note(static_cast<uint8_t>(i + 1)), c.repeats[i]));
    }
    list->Rewind();
    seq_.SetPlayList(list);
    std::vector<uint8_t> notes;
    bool running = true;
    for (int i = 0; i < 200 && running; ++i) {
      for (auto& m : seq_.Step(10, &running)) notes.push_back(m[1]);
    }
    EXPECT_EQ(running, !c.ends);
    if (c.ends) {
      EXPECT_EQ(notes, c.notes);
      EXPECT_FALSE(list->GetCurrent());
      EXPECT_FALSE(list->Advance());
    } else {
      ASSERT_GE(notes.size(), c.notes.size());
      for (uint8_t k : notes) EXPECT_EQ(k, 1);
    }
  }
}

TEST_F(MidiSequencerTest, FormatTwoAndAForeignChunkPlayTogether) {
  smf::Track a, b;
  a.Ev(0, {0x90, 1, 1}).End();
  b.Ev(0, {0x91, 2, 2}).End();
  Bytes file = smf::Header(2, 2, 480);
  smf::Chunk(file, "XFIH", Bytes{1, 2, 3});
  smf::Chunk(file, "MTrk", a.data);
  smf::Chunk(file, "junk", Bytes{});
  smf::Chunk(file, "MTrk", b.data);
  DRef<MidiSong> song = Song(file);
  ASSERT_EQ(song->tracks.size(), 2u);
  seq_.SetPlayList(List({song}));
  EXPECT_EQ(seq_.Step(), (std::vector<Bytes>{{0x90, 1, 1}, {0x91, 2, 2}}));
}

TEST_F(MidiSequencerTest, SeekKeepsTheRepeatCountOfTheSongItStartedOn) {
  // A seek past the end of a song with count 3 moves on to the next one inside the seek; the
  // saved count goes back to the song it was taken from.
  smf::Track t;
  t.Ev(0, {0x90, 1, 1}).End(8);
  DRef<MidiSong> a = Song(smf::File(480, {t}), 3);
  DRef<MidiSong> b = Song(smf::File(480, {t}), 5);
  seq_.SetPlayList(List({a, b}));
  EXPECT_TRUE(seq_.Seek(100));
  EXPECT_TRUE(seq_.Seek(100));
  EXPECT_EQ(a->repeat, 3);
  EXPECT_EQ(b->repeat, 5);
}

TEST(MidiSong, LoadRules) {
  smf::Track t;
  t.Ev(0, {0x90, 1, 1}).End();
  Bytes good = smf::File(480, {t});
  DRef<MidiSong> song;
  song.Alloc(1);
  DFile file;
  ASSERT_TRUE(smf::Open(file, good));
  EXPECT_TRUE(song->Load(file, 0, 0, 0));
  ASSERT_TRUE(file.Seek(DFile::kSeekStart, 0));
  EXPECT_FALSE(song->Load(file, 0, 0, 0)) << "a loaded song refuses a second load";
  EXPECT_TRUE(song->Unload());
  EXPECT_FALSE(song->Unload());
  EXPECT_FALSE(song->Prepare());

  // A header longer than 6 is skipped by its length.
  Bytes longer = smf::Header(0, 1, 480, 10);
  longer.insert(longer.end(), {0, 0, 0, 0});
  smf::Chunk(longer, "MTrk", t.data);
  DRef<MidiSong> s2;
  s2.Alloc(1);
  DFile f2;
  ASSERT_TRUE(smf::Open(f2, longer));
  EXPECT_TRUE(s2->Load(f2, 0, 0, 0));
}

// Damaged files: a clear refusal or bounded playback, never a read outside the data.
TEST(MidiSong, DamagedFilesLoadOrPlayWithoutFault) {
  smf::Track ok;
  ok.Ev(0, {0x90, 1, 1}).End();
  struct Case {
    const char* name;
    Bytes bytes;
    bool loads;
  };
  std::vector<Case> cases;
  cases.push_back({"short header", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0}, false});
  cases.push_back({"bad magic", smf::File(480, {ok}), false});
  cases.back().bytes[0] = 'X';
  for (uint32_t len = 0; len < 6; ++len) {
    Bytes b = smf::Header(0, 1, 480, len);
    smf::Chunk(b, "MTrk", ok.data);
    cases.push_back({"MThd length below 6", b, false});
  }
  {
    Bytes b = smf::Header(0, 1, 480, 0xFFFFFFF0u);
    smf::Chunk(b, "MTrk", ok.data);
    cases.push_back({"MThd longer than the file", b, false});
  }
  {
    Bytes b = smf::Header(0, 1, 480);
    b.insert(b.end(), {'M', 'T', 'r', 'k', 0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0x90});
    cases.push_back({"track longer than the file", b, false});
  }
  {
    Bytes b = smf::Header(0, 1, 480);
    b.insert(b.end(), {'J', 'U', 'N', 'K', 0xFF, 0xFF, 0xFF, 0xFF});
    cases.push_back({"foreign chunk longer than the file", b, false});
  }
  cases.push_back({"no tracks", smf::Header(0, 0, 480), false});
  cases.push_back({"fewer tracks than counted", smf::File(480, {ok}), false});
  cases.back().bytes[11] = 2;
  {
    smf::Track t;
    t.data = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x90, 1, 1};
    cases.push_back({"runaway delta time", smf::File(480, {t}), true});
  }
  {
    smf::Track t;
    t.data = {0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 1, 2, 3};
    cases.push_back({"SysEx longer than its track", smf::File(480, {t}), true});
  }
  {
    smf::Track t;
    t.data = {0x00, 0xFF, 0x01, 0x85, 0x00, 'a'};
    cases.push_back({"meta longer than its track", smf::File(480, {t}), true});
  }
  {
    smf::Track t;
    t.Tempo(0, 0).Ev(0, {0xFF, 0x51, 0x00}).Ev(10, {0x90, 1, 1}).End();
    cases.push_back({"tempo 0 and tempo without data", smf::File(480, {t}), true});
  }
  {
    smf::Track t;
    t.Ev(0, {0xFF, 0x51, 0x08, 1, 2, 3, 4, 5, 6, 7, 8})
        .Tempo(0, 1)
        .Ev(0xFFFFFFF, {0x90, 1, 1})
        .End(0xFFFFFFF);
    cases.push_back({"long tempo data and huge tick products", smf::File(0xFFFF, {t}), true});
  }
  {
    smf::Track t;
    t.data = {0x00, 0x90, 0x3C};  // event cut off by the chunk end
    cases.push_back({"event past the chunk end", smf::File(480, {t}), true});
  }
  {
    smf::Track t;
    t.data = {0x00, 0x3C, 0x40, 0x00};  // data bytes before any status
    cases.push_back({"data before status", smf::File(480, {t}), true});
  }
  cases.push_back({"empty track", smf::File(480, {smf::Track{}}), true});

  om::ClearRecorded();
  MidiOutDevice device;
  ASSERT_EQ(midiOutOpen(&device.Handle(), MIDI_MAPPER, 0, 0, 0), MMSYSERR_NOERROR);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DFile file;
    ASSERT_TRUE(smf::Open(file, c.bytes));
    DRef<MidiSong> song;
    song.Alloc(1);
    bool loaded = song->Load(file, 0, 0, 0);
    EXPECT_EQ(loaded, c.loads);
    if (!loaded) {
      EXPECT_FALSE(song->IsLoaded());
      continue;
    }
    TestSequencer seq;
    ASSERT_TRUE(seq.Attach(&device));
    seq.SetPlayList(List({song}));
    seq.Seek(123456);
    for (int i = 0; i < 50; ++i) seq.Tick(1000000);
  }
  om::ClearRecorded();
}

TEST(MidiDevice, ResetTableAllSoundOffAndClosedPort) {
  MidiOutDevice closed;
  om::ClearRecorded();
  DRef<uint8_t> msg;
  msg.Alloc(3);
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_FALSE(closed.SendShort(0x90, 1, 1));
  EXPECT_FALSE(closed.SendShort(msg));
  EXPECT_FALSE(closed.SendLong(msg, 3));
  EXPECT_FALSE(closed.Reset(0));
  EXPECT_FALSE(closed.AllSoundOff());
  EXPECT_TRUE(om::Recorded().empty());

  MidiOutDevice device;
  ASSERT_EQ(midiOutOpen(&device.Handle(), MIDI_MAPPER, 0, 0, 0), MMSYSERR_NOERROR);
  const Bytes gm = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  const struct {
    uint32_t mode;
    Bytes bytes;
  } resets[] = {{0, gm},
                {1, {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7}},
                {2, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}},
                {7, gm}};
  for (const auto& r : resets) {
    om::ClearRecorded();
    EXPECT_TRUE(device.Reset(r.mode));
    auto rec = om::Recorded();
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].bytes, r.bytes) << r.mode;
  }
  om::ClearRecorded();
  om::FailMessage(1);
  EXPECT_FALSE(device.Reset(2));

  om::ClearRecorded();
  om::FailMessage(3);
  EXPECT_FALSE(device.AllSoundOff());
  auto rec = om::Recorded();
  ASSERT_EQ(rec.size(), 2u);  // the third (failing) one is not recorded, nothing after it is sent
  EXPECT_EQ(rec[1].bytes, (Bytes{0xB1, 120, 0}));
  om::ClearRecorded();
  EXPECT_TRUE(device.AllSoundOff());
  EXPECT_EQ(om::Recorded().size(), 16u);
  om::ClearRecorded();
}

}  // namespace
