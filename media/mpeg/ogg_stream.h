// OggStream: the Ogg Vorbis source of the audio file reader. It opens a file through
// libvorbisfile with callbacks on its own view of the file, so disk files and archive members
// play alike, and hands out 16-bit little-endian PCM in any amounts.
#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "media/mpeg/pcm_format.h"

class OggStream : public DObject {
 public:
  OggStream() = default;
  OggStream(const OggStream&) = delete;
  OggStream& operator=(const OggStream&) = delete;
  // Closes what is still open, so libvorbisfile's memory is never lost.
  ~OggStream() override;

  // Recognises and opens the source as Ogg Vorbis, at sample 0. False when a file is already
  // open or the source is not Ogg Vorbis (nothing stays open then).
  bool Open(const DFile& source);
  // Up to n bytes of PCM; 0 at the end (and after it until Rewind), -1 when not open.
  int32_t Read(void* destination, uint32_t n);
  // Back to the first sample.
  void Rewind();
  // Forward by the given time from the current sample; bytes already decoded come first.
  void Skip(float seconds);
  // False when not open.
  bool Close();

  bool IsOpen() const { return static_cast<bool>(decoder_); }
  void GetWaveFormat(void* format) const;
  const StreamPcmFormat& Format() const { return format_; }
  uint32_t GetTotalPcmBytes() const { return total_; }

 private:
  static size_t ReadCallback(void* buffer, size_t size, size_t count, void* stream);
  static int SeekCallback(void* stream, ogg_int64_t offset, int whence);
  static int CloseCallback(void* stream);
  static long TellCallback(void* stream);
  void Clear();

  DFile file_;                    // the stream's own view of the source
  DRef<OggVorbis_File> decoder_;  // empty while closed
  StreamPcmFormat format_{};
  uint32_t total_ = 0;     // PCM bytes of the whole stream, clamped to 32 bits
  uint8_t buffer_[4096];   // decoded PCM
  uint32_t position_ = 0;  // next unread byte in the buffer
  int32_t left_ = 0;       // unread bytes in the buffer
  uint8_t end_ = 0;        // ov_read reported the end
};
