// The MIDI player and the Midi unit on the real timer thread, against the recorder port.
// Message timing is checked by timer callback ordinals, never by measured time.
#include <gtest/gtest.h>

#include <functional>

#include "media/midi/midi_manager.h"
#include "platform/midi_record.h"
#include "platform/mmsystem.h"
#include "smf_builder.h"

namespace om = orvane::midi;
using smf::Bytes;

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  for (int i = 0; i < ms && !done(); ++i) Sleep(1);
  return done();
}

// Volume 100 on channel 0, then a note every 100 ticks for about 20 s of song time.
Bytes LongSong() {
  smf::Track t;
  t.Ev(0, {0xB0, 7, 100});
  for (int i = 0; i < 160; ++i) t.Ev(100, {0x90, 60, 64});
  t.End();
  return smf::File(480, {t});
}

Bytes ShortSong(uint8_t key) {
  smf::Track t;
  t.Ev(0, {0x90, key, 64}).Ev(8, {0x80, key, 0}).End();
  return smf::File(480, {t});
}

bool Add(MidiManager& m, const Bytes& bytes, int32_t repeat = 0, uint32_t loop = 0, uint32_t flags = 0) {
  DFile file;
  return smf::Open(file, bytes) && m.AddToList(file, repeat, loop, flags);
}

size_t CountAllSoundOff(const std::vector<om::RecordedMessage>& rec) {
  size_t n = 0;
  for (const auto& m : rec) n += (m.bytes[0] & 0xF0) == 0xB0 && m.bytes[1] == 120;
  return n;
}

class MidiPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    om::ClearRecorded();
    held_ = orvane::clock::HeldTimerPeriods();
    ASSERT_TRUE(unit_.Open());
    EXPECT_FALSE(unit_.Open());
  }
  void TearDown() override {
    unit_.Close();
    EXPECT_EQ(orvane::clock::HeldTimerPeriods(), held_) << "timer periods balanced";
    EXPECT_EQ(om::OpenPorts(), 0);
    om::ClearRecorded();
  }
  MidiPlayer& player() { return unit_.Player(); }
  int held_ = 0;
  MidiManager unit_;
};

TEST_F(MidiPlayerTest, StopHandshakeThenSecondStopSendsNothing) {
  ASSERT_TRUE(Add(unit_, LongSong()));
  EXPECT_TRUE(unit_.Play());
  ASSERT_TRUE(WaitFor([&] { return om::Recorded().size() >= 2; }));
  ASSERT_TRUE(player().StopTimer());
  EXPECT_FALSE(player().TimerRunning());
  EXPECT_FALSE(player().GetFlags() & MidiPlayer::kPlaying);
  auto rec = om::Recorded();
  ASSERT_GE(rec.size(), 18u);
  EXPECT_NE(rec[0].callback, 0u) << "played from the timer callback";
  for (size_t i = rec.size() - 16; i < rec.size(); ++i) {
    EXPECT_EQ(rec[i].bytes, (Bytes{static_cast<uint8_t>(0xB0 + (i - (rec.size() - 16))), 120, 0}));
    EXPECT_EQ(rec[i].callback, 0u);
  }
  size_t count = rec.size();
  EXPECT_FALSE(player().StopTimer());
  Sleep(30);
  EXPECT_EQ(om::Recorded().size(), count);
}

TEST_F(MidiPlayerTest, ListEndKillsTheTimerFromItsCallback) {
  ASSERT_TRUE(Add(unit_, ShortSong(1)));
  ASSERT_TRUE(Add(unit_, ShortSong(2)));
  std::uint32_t first = om::NextTimerCallback();
  unit_.Play();
  ASSERT_TRUE(WaitFor([&] { return !player().TimerRunning(); }));
  EXPECT_EQ(player().GetState(), MidiPlayer::kStateListEnded);
  EXPECT_FALSE(player().GetFlags() & MidiPlayer::kPlaying);
  auto rec = om::Recorded();
  ASSERT_EQ(rec.size(), 4u) << "two notes on and off; no All Sound Off at the list's end";
  // Song 1 sounds its 8 ticks in the 1st callback and ends in the 2nd, which moves to song 2;
  // song 2 sounds in the 3rd; the 4th finds the list at its end.
  const std::uint32_t at[] = {1, 1, 3, 3};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rec[i].callback - first + 1, at[i]) << i;
  EXPECT_EQ(rec[2].bytes, (Bytes{0x90, 2, 64}));
  EXPECT_FALSE(player().StopTimer());
}

TEST_F(MidiPlayerTest, InactivityHoldsAndRestartsTheTimer) {
  ASSERT_TRUE(Add(unit_, LongSong()));
  unit_.Play();
  ASSERT_TRUE(player().TimerRunning());
  unit_.SetActive(false);
  EXPECT_FALSE(player().TimerRunning());
  EXPECT_TRUE(player().GetFlags() & MidiPlayer::kPlaying) << "kept for the return";
  EXPECT_EQ(CountAllSoundOff(om::Recorded()), 16u);
  unit_.Stop();  // a stop while held does nothing
  EXPECT_TRUE(player().GetFlags() & MidiPlayer::kPlaying);
  unit_.SetActive(true);
  EXPECT_TRUE(player().TimerRunning());
  unit_.SetActive(true);  // a second activation does not start a second timer
  // Without pause-while-inactive the timer keeps running.
  unit_.SetTimePause(false);
  unit_.SetActive(false);
  EXPECT_TRUE(player().TimerRunning());
  unit_.SetTimePause(true);  // inactive and playing: held now
  EXPECT_FALSE(player().TimerRunning());
  unit_.SetTimePause(false);  // and released again
  EXPECT_TRUE(player().TimerRunning());
  unit_.SetTimePause(true);
  unit_.SetActive(true);
  unit_.Stop();
  EXPECT_FALSE(player().TimerRunning());
  EXPECT_FALSE(player().GetFlags() & MidiPlayer::kPlaying);
}

TEST_F(MidiPlayerTest, PendingAndCurrentListsAndSpeed) {
  EXPECT_TRUE(unit_.Play()) << "nothing pending: true, nothing started";
  EXPECT_FALSE(player().TimerRunning());
  ASSERT_TRUE(Add(unit_, LongSong()));
  ASSERT_TRUE(Add(unit_, ShortSong(1)));
  DFile bad;
  ASSERT_TRUE(smf::Open(bad, Bytes{'n', 'o'}));
  EXPECT_FALSE(unit_.AddToList(bad, 0, 0, 0));
  DRef<MidiPlayList> pending = unit_.PendingList();
  unit_.SetSpeed(2.0f);
  EXPECT_EQ(unit_.StoredTickLength(), 20u);
  unit_.Play();
  EXPECT_EQ(unit_.CurrentList(), pending);
  EXPECT_FALSE(unit_.PendingList());
  EXPECT_EQ(player().GetTickLength(), 20u);
  EXPECT_EQ(unit_.StoredTickLength(), 10u) << "a speed is consumed by the Play";

  ASSERT_TRUE(Add(unit_, ShortSong(3)));  // a new pending list; the current one plays on
  EXPECT_EQ(unit_.CurrentList(), pending);
  EXPECT_TRUE(player().TimerRunning());
  unit_.Play();
  EXPECT_NE(unit_.CurrentList(), pending);
  EXPECT_EQ(player().GetTickLength(), 10u);

  // Speed x 10 to the nearest integer, halves to even; 0 and negative factors change nothing.
  const struct {
    float speed;
    uint32_t length;
  } speeds[] = {{1.0f, 10}, {0.25f, 2}, {0.04f, 10}, {0.05f, 10}, {1.5f, 15}, {-2.0f, 10}, {0.0f, 10}};
  for (const auto& s : speeds) {
    unit_.SetSpeed(1.0f);
    unit_.SetSpeed(s.speed);
    EXPECT_EQ(player().GetTickLength(), s.length) << s.speed;
  }
  unit_.ClearList();
  EXPECT_FALSE(unit_.PendingList());
}

TEST_F(MidiPlayerTest, FadeOutWithStopTimingThenResumeAtFullLevel) {
  // Loop start 10 ms with flag 0: the Play's seek sends the Volume at once, before any tick.
  ASSERT_TRUE(Add(unit_, LongSong(), 0, 10, 1));
  unit_.SetActive(false);
  unit_.Play();
  EXPECT_FALSE(player().TimerRunning());
  unit_.FadeOut(1000, true);
  std::uint32_t first = om::NextTimerCallback();
  unit_.SetActive(true);
  ASSERT_TRUE(WaitFor([&] { return !player().TimerRunning(); }));
  EXPECT_EQ(om::NextTimerCallback() - first, 103u) << "stopped by the 103rd callback";
  auto rec = om::Recorded();
  std::vector<uint8_t> volumes;
  for (const auto& m : rec) {
    if (m.bytes[0] == 0xB0 && m.bytes[1] == 7) {
      volumes.push_back(m.bytes[2]);
      if (m.bytes[2] == 0) {
        EXPECT_EQ(m.callback - first + 1, 100u) << "level 0 at the 100th";
      }
    }
  }
  ASSERT_FALSE(volumes.empty());
  EXPECT_EQ(volumes.front(), 100);
  EXPECT_EQ(volumes.back(), 0);
  EXPECT_EQ(CountAllSoundOff(rec), 0u) << "a fade's stop sends no All Sound Off";

  om::ClearRecorded();
  unit_.Resume();
  EXPECT_TRUE(player().TimerRunning());
  EXPECT_FLOAT_EQ(player().GetLevel(), 1.0f);
  ASSERT_TRUE(WaitFor([&] { return om::Recorded().size() >= 2; }));
  for (const auto& m : om::Recorded()) EXPECT_NE(m.bytes[1], 7) << "the faded channel stays silent";
  unit_.FadeIn(50, false);
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& m : om::Recorded()) {
      if (m.bytes[0] == 0xB0 && m.bytes[1] == 7 && m.bytes[2] == 100) return true;
    }
    return false;
  }));
  unit_.Stop();
}

TEST(MidiUnit, WithoutAPortEverythingIsIgnored) {
  om::FailOpen(true);
  MidiManager unit;
  EXPECT_FALSE(unit.Open());
  om::FailOpen(false);
  EXPECT_FALSE(unit.IsOpened());
  ASSERT_TRUE(Add(unit, ShortSong(1)));
  EXPECT_TRUE(unit.Play());
  EXPECT_TRUE(unit.PendingList()) << "nothing is started";
  unit.SetSpeed(2.0f);
  EXPECT_EQ(unit.StoredTickLength(), 10u);
  unit.Stop();
  unit.Resume();
  unit.FadeIn(10, true);
  unit.SetActive(false);
  unit.SetTimePause(false);
  EXPECT_FALSE(unit.Player().TimerRunning());
  EXPECT_EQ(om::OpenPorts(), 0);
  EXPECT_EQ(orvane::clock::HeldTimerPeriods(), 0);
}

}  // namespace
