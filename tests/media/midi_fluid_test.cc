// The synthesizer port rendering into the manual mixer sink.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "media/midi/midi_device.h"
#include "media/midi/midi_manager.h"
#include "platform/midi_record.h"
#include "platform/mixer.h"
#include "platform/mmsystem.h"

namespace om = orvane::midi;
namespace oa = orvane::audio;

namespace {

int Peak(const std::vector<std::int16_t>& pcm, size_t from = 0) {
  int peak = 0;
  for (size_t i = from; i < pcm.size(); ++i) peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
  return peak;
}

bool HaveFont() {
  struct stat st;
  return stat("/usr/share/sounds/sf2/default-GM.sf2", &st) == 0;
}

class MidiFluidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oa::UseManualSink(44100);
    om::UseSynthesizer(true);
  }
  void TearDown() override {
    om::UseSynthesizer(false);
    unsetenv("ORVANE_SOUNDFONT");
    oa::StopSink();
  }
};

TEST_F(MidiFluidTest, NoteSoundsAndAllSoundOffSilencesWithinABlock) {
  if (!HaveFont()) GTEST_SKIP() << "no General MIDI sound font installed";
  MidiOutDevice device;
  ASSERT_EQ(midiOutOpen(&device.Handle(), MIDI_MAPPER, 0, 0, 0), MMSYSERR_NOERROR);
  std::vector<std::int16_t> pcm;
  oa::StepManualSink(2048, &pcm);
  EXPECT_EQ(Peak(pcm), 0) << "silent before any note";
  ASSERT_TRUE(device.SendShort(0xC0, 0, 0));
  ASSERT_TRUE(device.SendShort(0xB0, 7, 127));
  ASSERT_TRUE(device.SendShort(0x90, 60, 120));
  pcm.clear();
  oa::StepManualSink(8820, &pcm);
  EXPECT_GT(Peak(pcm), 1000) << "the note renders into the mixer";
  ASSERT_TRUE(device.AllSoundOff());
  pcm.clear();
  oa::StepManualSink(512 + 4410, &pcm);
  EXPECT_EQ(Peak(pcm, 2 * 512), 0) << "silent after one block";
  // A system exclusive message reaches the synthesizer without fault.
  EXPECT_TRUE(device.Reset(0));
}

TEST_F(MidiFluidTest, WithoutAFontTheOpenFailsAndTheUnitIgnoresPlayback) {
  setenv("ORVANE_SOUNDFONT", "/nonexistent/none.sf2", 1);
  HMIDIOUT out = nullptr;
  EXPECT_EQ(midiOutOpen(&out, MIDI_MAPPER, 0, 0, 0), MMSYSERR_NODRIVER);
  EXPECT_EQ(out, nullptr);
  MidiManager unit;
  EXPECT_FALSE(unit.Open());
  EXPECT_TRUE(unit.Play());
  EXPECT_EQ(om::OpenPorts(), 0);
}

}  // namespace
