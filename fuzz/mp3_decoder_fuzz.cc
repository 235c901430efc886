// Fuzz target: the MPEG audio decoder set up from the first bytes, then fed frame after frame.
// The first input byte picks the options (conversion, 8-bit output) and where frames start.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/mpeg/mp3_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 20)) return 0;
  const uint8_t mode = data[0];
  ++data, --size;
  static Mp3Decoder* d = new Mp3Decoder;  // one block, reused as the stream reuses it
  d->Clear();
  Mp3FrameInfo fi;
  std::vector<uint8_t> frame(data, data + size);
  if (frame.size() < 156) frame.resize(156, 0);
  if (!d->GetFrameInfo(frame.data(), static_cast<uint32_t>(frame.size()), &fi, false)) return 0;
  d->SetOptions(Mp3DecodeOptions{0, (mode & 3) | (mode & 8), fi.rate});
  if (!d->InitFromFrame(frame.data(), static_cast<uint32_t>(frame.size()))) return 0;
  if (!d->GetFrameInfo(frame.data(), static_cast<uint32_t>(frame.size()), &fi, false)) return 0;
  std::vector<uint8_t> out(static_cast<size_t>(fi.pcm_bytes));
  size_t off = 0;
  for (int frames = 0; frames < 2000 && off + 4 < frame.size(); ++frames) {
    Mp3DecodeRequest rq;
    rq.input = frame.data() + off;
    rq.input_bytes = static_cast<uint32_t>(frame.size() - off);
    rq.output = out.data();
    if (!d->DecodeFrame(&rq)) {
      // No search for the next sync in the decoder; the fuzzer steps one byte to go on.
      if (mode & 0x80) break;
      ++off;
      continue;
    }
    off += rq.input_bytes;
  }
  return 0;
}
