// Under the SDL host with SDL's dummy audio (and video) drivers, a sound and a stream open,
// play and stop without error through the host's audio output.
#include <gtest/gtest.h>
#include <unistd.h>

#include "media/dsnd.h"
#include "media/dsnd_stream.h"
#include "media/sound_handle.h"
#include "platform/host.h"
#include "platform/mixer.h"
#include "tests/media/riff_builder.h"

namespace {

using namespace orvane_test;

TEST(SdlSoundDummyTest, SoundAndStreamPlayAndStop) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  Dsnd& dsnd = TheDsnd();
  ASSERT_TRUE(dsnd.Create(nullptr, 3));
  EXPECT_STREQ(orvane::audio::SinkName(), "host");
  std::vector<int16_t> tone;
  for (int i = 0; i < 22050; ++i) tone.push_back(static_cast<int16_t>((i % 100) * 100));
  DFile sound, music;
  ASSERT_TRUE(MemoryFile(sound, Wav(Fmt(1, 1, 22050, 16), Pcm16(tone))));
  ASSERT_TRUE(MemoryFile(music, Wav(Fmt(1, 1, 22050, 16), Pcm16(tone))));
  SoundHandle s;
  ASSERT_TRUE(s.Load(DString("tone.wav"), sound, 2));
  s.Play(1);
  EXPECT_TRUE(s.IsPlaying());
  StreamHandle st;
  ASSERT_TRUE(st.AddToList(music, 1, 0.5f, 0));
  st.Play();
  ASSERT_TRUE(st.GetStream());
  usleep(1500 * 1000);  // the worker refills at least one half in real time
  EXPECT_EQ(st.GetStream()->GetState(), 1u);
  st.Stop();
  EXPECT_EQ(st.GetStream()->GetState(), 0u);
  s.Stop();
  EXPECT_FALSE(s.IsPlaying());
  EXPECT_TRUE(dsnd.Release());
  orvane::audio::StopSink();
}

}  // namespace
