// The 18-byte PCM format record (laid out as WAVEFORMATEX) in which the MPEG audio and Ogg
// Vorbis streams describe their output.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
struct StreamPcmFormat {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(StreamPcmFormat) == 18, "the format record is 18 bytes");

// 16-bit PCM of the given channels and rate; cbSize is the record's own size, 18.
inline StreamPcmFormat MakeStreamPcmFormat(uint32_t channels, uint32_t rate) {
  StreamPcmFormat f{};
  f.wFormatTag = 1;
  f.nChannels = static_cast<uint16_t>(channels);
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<uint16_t>(channels * 2);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
  f.cbSize = 18;
  return f;
}
