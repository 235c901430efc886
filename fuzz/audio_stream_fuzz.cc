// Fuzz target: arbitrary bytes as an audio file for the MPEG audio stream (found, described and
// decoded the way the audio file reader drives it) and for the Ogg Vorbis stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/dfile.h"
#include "media/mpeg/mp3_stream.h"
#include "media/mpeg/ogg_stream.h"

namespace {

void PlayMpeg(DFile& file) {
  DFile view;
  if (!Mp3Stream::FindAudio(file, view)) return;
  uint8_t first[156];
  if (view.Read(first, 156) != 156 || !Mp3IsFrameSync(first, 156)) return;
  Mp3Stream s;
  if (!s.Create() || !s.ReadFirstFrame(first, &view)) return;
  const uint32_t size = s.GetMaxFrameBytes() > 8192 ? s.GetMaxFrameBytes() : 8192;
  std::vector<uint8_t> src(size), out(s.GetPcmBytesPerFrame());
  uint32_t held = 0, pos = 0;
  view.Seek(DFile::kSeekStart, 0);
  for (int n = 0; n < 5000; ++n) {
    uint32_t used = s.DecodeFrame(out.data(), src.data() + pos, held);
    if (!used) {
      std::memmove(src.data(), src.data() + pos, held);
      pos = 0;
      const int64_t got = view.Read(src.data() + held, size - held);
      if (got <= 0) break;
      held += static_cast<uint32_t>(got);
      used = s.DecodeFrame(out.data(), src.data(), held);
      if (!used) break;
    }
    pos += used;
    held -= used;
  }
  s.Close();
}

void PlayOgg(DFile& file) {
  OggStream s;
  if (!s.Open(file)) return;
  uint8_t buf[8192];
  for (int n = 0; n < 2000 && s.Read(buf, sizeof(buf)) > 0; ++n) {
  }
  s.Rewind();
  s.Skip(0.5f);
  s.Read(buf, sizeof(buf));
  s.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 22)) return 0;
  DFile file;
  if (!file.OpenMemory(static_cast<uint32_t>(size), DFile::kRead | DFile::kWrite)) return 0;
  if (file.Write(data, static_cast<uint32_t>(size)) != static_cast<int64_t>(size)) return 0;
  PlayMpeg(file);
  file.Seek(DFile::kSeekStart, 0);
  PlayOgg(file);
  return 0;
}
