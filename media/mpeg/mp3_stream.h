// Mp3Stream: the MPEG audio source of the audio file reader. It finds the audio in a file,
// describes the PCM it gives from the first frame, and decodes one frame of input per call.
// The reader owns the file, the buffers and the refill loop; the stream reads nothing itself.
#pragma once

#include <cstdint>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "media/mpeg/mp3_decoder.h"
#include "media/mpeg/pcm_format.h"

class Mp3Stream : public DObject {
 public:
  // Flag bit 0: the next DecodeFrame first initialises the decoder from its frame.
  static constexpr uint32_t kRestart = 1;

  Mp3Stream() = default;
  Mp3Stream(const Mp3Stream&) = delete;
  Mp3Stream& operator=(const Mp3Stream&) = delete;
  ~Mp3Stream() override;

  // Makes `view` a view of the open source from its first frame sync to before an ID3v1 tag.
  // A leading ID3v2 tag is stepped over first. False when there is no audio.
  static bool FindAudio(DFile& source, DFile& view);
  // Allocates and resets the decoder state and sets the restart flag; false when a decoder is
  // already held (nothing changes then) or on allocation failure.
  bool Create();
  // Describes the stream from its first 156 bytes and the view (or none): format, largest frame,
  // PCM bytes per frame and total PCM bytes. False when the frame does not parse.
  bool ReadFirstFrame(const uint8_t* first, DFile* view);
  // Copies the 18-byte output format (a WAVEFORMATEX).
  void GetWaveFormat(void* format) const;
  const StreamPcmFormat& Format() const { return format_; }
  uint32_t GetTotalPcmBytes() const { return total_; }
  uint32_t GetMaxFrameBytes() const { return max_frame_; }
  uint32_t GetPcmBytesPerFrame() const { return pcm_per_frame_; }
  // Decodes the frame at the start of the input into GetPcmBytesPerFrame() bytes of output;
  // returns the frame's length (the input bytes used), 0 when nothing was decoded. Reads at most
  // `bytes` input bytes.
  uint32_t DecodeFrame(uint8_t* output, const uint8_t* input, uint32_t bytes);
  // The next DecodeFrame starts afresh (after a rewind to the first frame).
  void Restart() { flags_ |= kRestart; }
  // Frees the decoder; false when none is held.
  bool Close();

 private:
  DRef<Mp3Decoder> decoder_;  // empty while closed
  StreamPcmFormat format_{};
  uint32_t total_ = 0;          // PCM bytes of the whole file; 0 when not measured
  uint32_t max_frame_ = 0;      // most input bytes a frame takes
  uint32_t pcm_per_frame_ = 0;  // PCM bytes every frame gives
  uint32_t flags_ = 0;
};
