// The software mixer summing 8, 32 and 128 voices at mixed rates into 44.1 kHz stereo, beside
// SDL2 doing the same mix with one SDL_AudioStream per voice and SDL_MixAudioFormat.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/dsound.h"
#include "platform/mixer.h"

namespace {

constexpr unsigned kMixRate = 44100;
constexpr unsigned kBlock = 1024;  // frames per pass, as an audio callback asks
constexpr unsigned kRates[4] = {22050, 44100, 11025, 48000};

// One second of a tone per voice: mono for even voices, stereo for odd ones.
std::vector<int16_t> Tone(unsigned rate, int channels, int voice) {
  std::vector<int16_t> s(static_cast<size_t>(rate) * channels);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<int16_t>(3000 * std::sin(0.01 * static_cast<double>(i) * (voice + 1)));
  }
  return s;
}

void BM_Mixer(benchmark::State& state) {
  const int voices = static_cast<int>(state.range(0));
  orvane::audio::UseManualSink(kMixRate);
  IDirectSound* ds = nullptr;
  DirectSoundCreate(nullptr, &ds, nullptr);
  ds->SetCooperativeLevel(nullptr, DSSCL_PRIORITY);
  std::vector<IDirectSoundBuffer*> buffers;
  for (int v = 0; v < voices; ++v) {
    int ch = 1 + (v & 1);
    unsigned rate = kRates[v % 4];
    std::vector<int16_t> pcm = Tone(rate, ch, v);
    WAVEFORMATEX f{
        WAVE_FORMAT_PCM, static_cast<WORD>(ch), rate, rate * 2 * ch, static_cast<WORD>(2 * ch), 16, 0};
    DSBUFFERDESC d{sizeof(DSBUFFERDESC), 0, static_cast<DWORD>(pcm.size() * 2), 0, &f, {}};
    IDirectSoundBuffer* b = nullptr;
    ds->CreateSoundBuffer(&d, &b, nullptr);
    void* p;
    DWORD n;
    b->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
    std::memcpy(p, pcm.data(), n);
    b->Unlock(p, n, nullptr, 0);
    b->Play(0, 0, DSBPLAY_LOOPING);
    buffers.push_back(b);
  }
  std::vector<int16_t> out;
  out.reserve(kBlock * 2);
  for (auto _ : state) {
    out.clear();
    orvane::audio::StepManualSink(kBlock, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
  for (IDirectSoundBuffer* b : buffers) b->Release();
  ds->Release();
  orvane::audio::StopSink();
}

void BM_SdlAudioStream(benchmark::State& state) {
  const int voices = static_cast<int>(state.range(0));
  struct Voice {
    SDL_AudioStream* stream;
    std::vector<int16_t> pcm;
    size_t at = 0;
    int channels;
  };
  std::vector<Voice> vs;
  for (int v = 0; v < voices; ++v) {
    int ch = 1 + (v & 1);
    unsigned rate = kRates[v % 4];
    Voice voice{SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(ch), static_cast<int>(rate), AUDIO_S16SYS,
                                   2, kMixRate),
                Tone(rate, ch, v), 0, ch};
    vs.push_back(std::move(voice));
  }
  std::vector<int16_t> out(kBlock * 2), piece(kBlock * 2);
  for (auto _ : state) {
    std::memset(out.data(), 0, out.size() * 2);
    for (Voice& v : vs) {
      // Feed the stream until it holds a block, looping over the voice's PCM.
      while (SDL_AudioStreamAvailable(v.stream) < static_cast<int>(kBlock * 4)) {
        size_t n = 512 * static_cast<size_t>(v.channels);
        if (v.at + n > v.pcm.size()) v.at = 0;
        SDL_AudioStreamPut(v.stream, v.pcm.data() + v.at, static_cast<int>(n * 2));
        v.at += n;
      }
      SDL_AudioStreamGet(v.stream, piece.data(), kBlock * 4);
      SDL_MixAudioFormat(reinterpret_cast<Uint8*>(out.data()), reinterpret_cast<const Uint8*>(piece.data()),
                         AUDIO_S16SYS, kBlock * 4, SDL_MIX_MAXVOLUME);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
  for (Voice& v : vs) SDL_FreeAudioStream(v.stream);
}

}  // namespace

BENCHMARK(BM_Mixer)->Arg(8)->Arg(32)->Arg(128);
BENCHMARK(BM_SdlAudioStream)->Arg(8)->Arg(32)->Arg(128);
