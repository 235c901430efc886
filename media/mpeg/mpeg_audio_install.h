// Plugs the MPEG audio decoder into the rest of the system: the audio file reader's MPEG and
// Ogg Vorbis decoders, and the ACM driver for MPEG audio inside WAV files (tags 0x0055, 0x0050).
#pragma once

#include <memory>

#include "media/dwave_decoders.h"
#include "platform/acm.h"

// Installs the reader's decoders and registers the ACM driver; once is enough, again is harmless.
void MpegAudioInstall();

// The pieces MpegAudioInstall puts in place (for tests).
std::unique_ptr<DWaveMpegDecoder> MakeMpegWaveDecoder();
std::unique_ptr<DWaveOggDecoder> MakeOggWaveDecoder();
std::shared_ptr<orvane::acm::Driver> MakeMpegAcmDriver(WORD tag);
