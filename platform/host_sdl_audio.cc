// The SDL host's audio output: one SDL audio device that pulls the software mixer's frames.
#include <SDL.h>

#include "platform/host_sdl_internal.h"

namespace orvane::host {
namespace {

SDL_AudioDeviceID g_device = 0;                                  // the open device, 0 when none
void (*g_render)(std::int16_t* out, unsigned frames) = nullptr;  // the mixer's pull function

void Pull(void*, Uint8* stream, int bytes) {
  g_render(reinterpret_cast<std::int16_t*>(stream), static_cast<unsigned>(bytes) / 4);
}

}  // namespace

bool SdlOpenAudio(unsigned* rate, void (*render)(std::int16_t* out, unsigned frames)) {
  if (g_device) return false;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = Pull;
  SDL_AudioSpec have{};
  g_render = render;
  // The device keeps 16-bit stereo; only its rate may differ from the one asked for.
  g_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (!g_device) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  *rate = static_cast<unsigned>(have.freq);
  SDL_PauseAudioDevice(g_device, 0);
  return true;
}

void SdlCloseAudio() {
  if (!g_device) return;
  SDL_CloseAudioDevice(g_device);  // waits for a running callback to return
  g_device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace orvane::host
