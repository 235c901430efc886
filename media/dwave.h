// DWave: the audio file reader. Recognises a file by its content (RIFF WAVE with PCM or
// ACM-compressed data, the first audio stream of an AVI, MPEG audio, Ogg Vorbis) and hands out
// its audio as PCM in any amounts.
#pragma once

#include <cstdint>
#include <memory>

#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "media/dwave_decoders.h"
#include "platform/acm.h"
#include "platform/wave_format.h"

// Sizes taken from a file are checked against what the file holds: a format chunk is at most
// 64 KiB, a data chunk ends with the file, a PCM format must be one a sound buffer accepts, and
// an ADPCM header must fit its block, so a damaged file fails to open instead of misreading.
class DWave : public DObject {
 public:
  // Kinds, used as bits: 1 ACM conversion, 2 AVI chunks, 4 MPEG audio, 8 Ogg Vorbis.
  static constexpr uint32_t kWavPcm = 0;
  static constexpr uint32_t kWavAcm = 1;
  static constexpr uint32_t kAviPcm = 2;
  static constexpr uint32_t kAviAcm = 3;
  static constexpr uint32_t kMpeg = 4;
  static constexpr uint32_t kOgg = 8;

  DWave() = default;
  DWave(const DWave&) = delete;
  DWave& operator=(const DWave&) = delete;
  ~DWave() override;

  // Opens on a view of the source (which the caller may close afterwards). False when already
  // open or when no kind accepts the file.
  bool Open(const DFile& source);
  // Opens the named file (resolved against the program's directory).
  bool OpenFile(const DString& name);
  // False when not open.
  bool Close();
  // Back to the first audio byte; the decoding state stays.
  void Rewind();
  // Reading needs decoding begun; BeginDecode opens the ACM conversion of compressed kinds.
  bool BeginDecode();
  bool EndDecode();
  // Bytes written (0 at the end), or -1 when not open, not decoding, or when a compressed
  // source cannot be read.
  int32_t Read(void* destination, uint32_t bytes);
  // Moves forward by a time (whole blocks, never past the end).
  void Skip(float seconds);

  const WAVEFORMATEX& GetFormat() const { return output_format_; }
  uint32_t GetTotalBytes() const { return total_pcm_; }
  uint32_t GetKind() const { return kind_; }
  bool IsOpen() const { return open_ != 0; }
  bool IsDecoding() const { return decoding_ != 0; }
  const char* GetName() const { return file_.GetName(); }

 private:
  bool OpenWave();
  bool OpenAvi();
  bool OpenMpeg();
  bool OpenOgg();
  // Reads the format chunk of `size` bytes at the file's position.
  bool ReadFormatChunk(uint32_t size);
  bool InitAcmSource();
  void LogAcmFailure();
  int32_t DecodeRead(uint8_t* destination, uint32_t bytes);
  int32_t ReadSource(uint8_t* destination, uint32_t bytes);
  // Bytes of the file from the position to its end (0 on failure).
  uint32_t BytesLeftInFile();

  uint8_t open_ = 0;
  uint8_t decoding_ = 0;
  DFile file_;  // the reader's own view of the source
  uint32_t kind_ = 0;
  DRef<uint8_t> format_chunk_;    // "fmt " or "strf" bytes, at least 18 of them
  uint32_t data_start_ = 0;       // file position of the first audio byte
  uint32_t pcm_left_ = 0;         // what Read may still hand out
  WAVEFORMATEX output_format_{};  // the PCM that Read hands out
  uint32_t total_pcm_ = 0;
  WAVEFORMATEX* source_format_ = nullptr;  // the format chunk (compressed kinds)
  uint32_t compressed_ = 0;                // compressed bytes of the whole file
  uint32_t compressed_left_ = 0;
  HACMSTREAM acm_ = nullptr;
  ACMSTREAMHEADER acm_header_{};
  DRef<uint8_t> source_buffer_;
  uint32_t source_size_ = 0;
  DRef<uint8_t> output_buffer_;
  uint32_t output_size_ = 0;
  uint32_t decoded_ = 0;      // decoded bytes available in the output buffer
  uint32_t decoded_pos_ = 0;  // and their read position
  uint32_t avi_id_ = 0;       // four characters of the audio chunks
  uint32_t avi_next_ = 0;     // position of the next chunk header
  uint32_t avi_left_ = 0;     // bytes left in the current chunk
  std::unique_ptr<DWaveMpegDecoder> mpeg_;
  uint32_t mpeg_held_ = 0;  // MPEG input bytes held in the source buffer
  uint32_t mpeg_pos_ = 0;   // and their read position
  std::unique_ptr<DWaveOggDecoder> ogg_;
};

// Opens for reading the file of that name resolved against the program's directory (at most
// 263 characters of the absolute path are kept).
bool DOpenProgramFile(const DString& name, DFile* file);

// Finds the n-th following chunk with the id from the file's position (stepping over other
// chunks, padded to even sizes, past the ends of enclosing lists) and stands at its first data
// byte; its size in *size. False at the end of the file.
bool FindRiffChunk(DFile& file, uint32_t n, uint32_t id, uint32_t* size);
