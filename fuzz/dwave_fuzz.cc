// Fuzz target: opens arbitrary bytes with the audio file reader (every kind, MPEG audio and Ogg
// Vorbis included) and reads, rewinds and skips.
#include <cstddef>
#include <cstdint>

#include "media/dwave.h"
#include "media/mpeg/mpeg_audio_install.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 22)) return 0;
  DFile file;
  if (!file.OpenMemory(DString("fuzz.wav"), static_cast<uint32_t>(size), DFile::kRead | DFile::kWrite))
    return 0;
  if (file.Write(data, static_cast<uint32_t>(size)) != static_cast<int64_t>(size)) return 0;
  MpegAudioInstall();  // MPEG audio, Ogg Vorbis and MPEG audio in WAV too
  DWave wave;
  if (!wave.Open(file)) return 0;
  static char buffer[8192];
  for (int pass = 0; pass < 2; ++pass) {
    if (!wave.BeginDecode()) return 0;
    if (pass == 1) wave.Skip(0.25f);
    uint64_t total = 0;
    int32_t n;
    while ((n = wave.Read(buffer, sizeof buffer)) > 0 && total < (64u << 20))
      total += static_cast<uint32_t>(n);
    wave.EndDecode();
    wave.Rewind();
  }
  return 0;
}
