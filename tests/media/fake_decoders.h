// Stand-in MPEG and Ogg decoders behind DWave's seam, for tests of the reader's frame loop.
// A "frame" is 0xFF 0xE0 and one value byte v: it decodes to four 16-bit mono samples v * 100.
// The Ogg stand-in takes files that begin with "OggS" and hands out the rest as 16-bit PCM.
#pragma once

#include <cstring>
#include <memory>

#include "media/dwave_decoders.h"

namespace orvane_test {

class FakeMpeg : public DWaveMpegDecoder {
 public:
  static inline uint32_t extra_total = 0;  // PCM the header promises beyond the frames
  bool FindAudio(DFile& source, DFile& view) override {
    uint8_t b[2];
    if (!source.Seek(DFile::kSeekStart, 0) || source.Read(b, 2) != 2 || b[0] != 0xFF) return false;
    return view.OpenView(source, 0, DFile::kToEnd) && view.Seek(DFile::kSeekStart, 0);
  }
  bool ReadFirstFrame(const uint8_t*, DFile& view) override {
    format_ = WAVEFORMATEX{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 18};
    int64_t size = view.GetSize();
    total_ = static_cast<uint32_t>(size / 3) * 8 + extra_total;
    return size >= 3;
  }
  const WAVEFORMATEX& GetWaveFormat() const override { return format_; }
  uint32_t GetTotalBytes() const override { return total_; }
  uint32_t GetLargestFrame() const override { return 3; }
  uint32_t GetBytesPerFrame() const override { return 8; }
  uint32_t DecodeFrame(uint8_t* out, const uint8_t* in, uint32_t bytes) override {
    if (bytes < 3 || in[0] != 0xFF || in[1] != 0xE0) return 0;
    int16_t v = static_cast<int16_t>(in[2] * 100);
    for (int i = 0; i < 4; ++i) std::memcpy(out + 2 * i, &v, 2);
    return 3;
  }
  void Restart() override { ++restarts; }
  void Close() override {}
  int restarts = 0;

 private:
  WAVEFORMATEX format_{};
  uint32_t total_ = 0;
};

class FakeOgg : public DWaveOggDecoder {
 public:
  bool Open(DFile& file) override {
    char magic[4];
    if (file.Read(magic, 4) != 4 || std::memcmp(magic, "OggS", 4) != 0) return false;
    file_ = &file;
    total_ = static_cast<uint32_t>(file.GetSize() - 4);
    return true;
  }
  const WAVEFORMATEX& GetWaveFormat() const override { return format_; }
  uint32_t GetTotalBytes() const override { return total_; }
  int32_t Read(void* d, uint32_t n) override {
    int64_t left = file_->GetSize() - file_->Tell();
    if (left <= 0) return 0;
    return static_cast<int32_t>(file_->Read(d, n < left ? n : static_cast<uint32_t>(left)));
  }
  void Rewind() override { file_->Seek(DFile::kSeekStart, 4); }
  void Skip(float seconds) override {
    file_->Seek(DFile::kSeekCurrent, static_cast<int64_t>(seconds * 16000) & ~1);
  }
  void Close() override {}

 private:
  DFile* file_ = nullptr;
  WAVEFORMATEX format_{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 18};
  uint32_t total_ = 0;
};

inline std::unique_ptr<DWaveMpegDecoder> MakeFakeMpeg() {
  return std::make_unique<FakeMpeg>();
}
inline std::unique_ptr<DWaveOggDecoder> MakeFakeOgg() {
  return std::make_unique<FakeOgg>();
}

// Frames of the stand-in MPEG format with values 1, 2, 3 ...
inline std::string FakeMpegFile(int frames) {
  std::string s;
  for (int i = 0; i < frames; ++i) s += std::string("\xFF\xE0") + static_cast<char>(1 + i % 200);
  return s;
}

}  // namespace orvane_test
