// The decoders that DWave hands whole-file kinds to: MPEG audio (frame by frame) and Ogg Vorbis
// (a PCM stream). The MPEG-audio unit supplies both through DWaveSetDecoders; until it does,
// DWave opens neither kind.
#pragma once

#include <cstdint>
#include <memory>

#include "base/dfile.h"
#include "base/dobject.h"
#include "platform/wave_format.h"

// MPEG audio, decoded one frame per call from bytes that DWave reads.
class DWaveMpegDecoder : public DObject {
 public:
  // Makes `view` a view of the source from the first frame to before an ID3v1 tag; false when
  // the source holds no MPEG audio.
  virtual bool FindAudio(DFile& source, DFile& view) = 0;
  // Reads the first frame's header from its first 156 bytes (and the view, for whole-file
  // tags): fills the output format and the counts below. False when it is not MPEG audio.
  virtual bool ReadFirstFrame(const uint8_t* first, DFile& view) = 0;
  virtual const WAVEFORMATEX& GetWaveFormat() const = 0;
  virtual uint32_t GetTotalBytes() const = 0;     // PCM bytes of the whole file
  virtual uint32_t GetLargestFrame() const = 0;   // most input bytes one frame takes
  virtual uint32_t GetBytesPerFrame() const = 0;  // PCM bytes one frame gives
  // Decodes the frame at the start of input into GetBytesPerFrame() bytes of output; the input
  // bytes used, 0 when no whole frame could be decoded. Reads only `bytes` input bytes.
  virtual uint32_t DecodeFrame(uint8_t* output, const uint8_t* input, uint32_t bytes) = 0;
  // The next DecodeFrame starts afresh (after a rewind).
  virtual void Restart() = 0;
  virtual void Close() = 0;
};

// Ogg Vorbis as a stream of PCM.
class DWaveOggDecoder : public DObject {
 public:
  // Opens on the reader's file; false when it is not Ogg Vorbis.
  virtual bool Open(DFile& file) = 0;
  virtual const WAVEFORMATEX& GetWaveFormat() const = 0;
  virtual uint32_t GetTotalBytes() const = 0;
  // Bytes written, 0 at the end, -1 on a failure.
  virtual int32_t Read(void* destination, uint32_t bytes) = 0;
  virtual void Rewind() = 0;
  virtual void Skip(float seconds) = 0;
  virtual void Close() = 0;
};

using DWaveMpegMaker = std::unique_ptr<DWaveMpegDecoder> (*)();
using DWaveOggMaker = std::unique_ptr<DWaveOggDecoder> (*)();

// Installs the makers (null for none); called once at start-up, before any DWave opens.
void DWaveSetDecoders(DWaveMpegMaker mpeg, DWaveOggMaker ogg);
