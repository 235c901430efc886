// The manifest's sounds: sine tones mixed into 16-bit mono PCM, stored as WAV or as Ogg Vorbis.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sample-gen/manifest.h"

namespace samplegen {

// The sound's samples: every tone summed (each with 5 ms fades at both ends), clipped to 16 bits.
std::vector<std::int16_t> MixTones(const Asset& asset);
// A RIFF WAVE file (PCM, mono, 16-bit) of the samples.
std::string EncodeWav(const std::vector<std::int16_t>& samples, int rate);
// An Ogg Vorbis file of the samples, encoded at a fixed quality into a stream of a fixed serial
// number, so the same samples always give the same bytes. False when the encoder refuses.
bool EncodeOgg(const std::vector<std::int16_t>& samples, int rate, std::string* ogg);

}  // namespace samplegen
