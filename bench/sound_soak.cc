// Underrun soak, run by hand on the SDL host: plays a stream of a rising tone and a set of
// looping voices for a while (argument: seconds, default 60) so an ear can check for dropouts,
// and reports when the stream's worker ever stops by itself.
//   ORVANE_BACKEND=sdl build/release/bin/sound_soak 120
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/dsnd.h"
#include "media/dsnd_stream.h"
#include "media/sound_handle.h"
#include "platform/mixer.h"

namespace {

std::string Le32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string Le16(uint32_t v) {
  return std::string{char(v), char(v >> 8)};
}

// A 16-bit stereo WAV file in memory.
bool MakeWav(DFile& f, const std::vector<int16_t>& s, uint32_t rate) {
  std::string data(reinterpret_cast<const char*>(s.data()), s.size() * 2);
  std::string fmt = Le16(1) + Le16(2) + Le32(rate) + Le32(rate * 4) + Le16(4) + Le16(16);
  std::string body = "WAVEfmt " + Le32(16) + fmt + "data" + Le32(static_cast<uint32_t>(data.size())) + data;
  std::string file = "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
  return f.OpenMemory(DString("soak.wav"), static_cast<uint32_t>(file.size()),
                      DFile::kRead | DFile::kWrite) &&
         f.Write(file.data(), static_cast<uint32_t>(file.size())) == static_cast<int64_t>(file.size());
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  Dsnd& dsnd = TheDsnd();
  if (!dsnd.Create(nullptr, 0)) {
    std::fprintf(stderr, "no sound device\n");
    return 1;
  }
  std::printf("sink %s at %u Hz\n", orvane::audio::SinkName(), orvane::audio::MixerRate());
  const uint32_t rate = 44100;
  std::vector<int16_t> music, blip;
  double phase = 0;
  for (uint32_t i = 0; i < rate * 5; ++i) {
    phase += 2 * M_PI * (220.0 + 220.0 * i / (rate * 5)) / rate;
    int16_t v = static_cast<int16_t>(6000 * std::sin(phase));
    music.push_back(v);
    music.push_back(v);
  }
  for (uint32_t i = 0; i < rate / 4; ++i) {
    int16_t v = static_cast<int16_t>(2000 * std::sin(2 * M_PI * 880.0 * i / rate));
    blip.push_back(v);
    blip.push_back(v);
  }
  DFile mf, bf;
  if (!MakeWav(mf, music, rate) || !MakeWav(bf, blip, rate)) return 1;
  StreamHandle stream;
  stream.AddToList(mf, -1, 0.0f, 0);
  stream.Play();
  SoundHandle voices;
  voices.Load(DString("blip.wav"), bf, 16);
  for (int t = 0; t < seconds * 4; ++t) {
    voices.Play(0);
    usleep(250 * 1000);
    if (stream.GetStream() && stream.GetStream()->GetState() == 0) {
      std::printf("the stream's worker stopped after %.2f s\n", t / 4.0);
      break;
    }
  }
  stream.Stop();
  dsnd.Release();
  std::printf("done\n");
  return 0;
}
