// The MPEG audio stream and the Ogg Vorbis stream behind the audio file reader's decoder seams,
// and an ACM driver that decodes MPEG audio in WAV files with the same decoder.
#include "media/mpeg/mpeg_audio_install.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "media/mpeg/mp3_stream.h"
#include "media/mpeg/ogg_stream.h"

namespace {

static_assert(sizeof(WAVEFORMATEX) == sizeof(StreamPcmFormat), "both are the 18-byte record");

class MpegWaveDecoder : public DWaveMpegDecoder {
 public:
  bool FindAudio(DFile& source, DFile& view) override { return Mp3Stream::FindAudio(source, view); }
  bool ReadFirstFrame(const uint8_t* first, DFile& view) override {
    if (!stream_.Create() || !stream_.ReadFirstFrame(first, &view)) return false;
    stream_.GetWaveFormat(&format_);
    return true;
  }
  const WAVEFORMATEX& GetWaveFormat() const override { return format_; }
  uint32_t GetTotalBytes() const override { return stream_.GetTotalPcmBytes(); }
  uint32_t GetLargestFrame() const override { return stream_.GetMaxFrameBytes(); }
  uint32_t GetBytesPerFrame() const override { return stream_.GetPcmBytesPerFrame(); }
  uint32_t DecodeFrame(uint8_t* output, const uint8_t* input, uint32_t bytes) override {
    return stream_.DecodeFrame(output, input, bytes);
  }
  void Restart() override { stream_.Restart(); }
  void Close() override { stream_.Close(); }

 private:
  Mp3Stream stream_;
  WAVEFORMATEX format_{};
};

class OggWaveDecoder : public DWaveOggDecoder {
 public:
  bool Open(DFile& file) override {
    if (!stream_.Open(file)) return false;
    stream_.GetWaveFormat(&format_);
    return true;
  }
  const WAVEFORMATEX& GetWaveFormat() const override { return format_; }
  uint32_t GetTotalBytes() const override { return stream_.GetTotalPcmBytes(); }
  int32_t Read(void* destination, uint32_t bytes) override { return stream_.Read(destination, bytes); }
  void Rewind() override { stream_.Rewind(); }
  void Skip(float seconds) override { stream_.Skip(seconds); }
  void Close() override { stream_.Close(); }

 private:
  OggStream stream_;
  WAVEFORMATEX format_{};
};

// MPEG audio in a WAV file. The reader ignores how many source bytes a conversion used, so the
// decoder takes every input byte and keeps a partial frame for the next Convert.
class MpegAcmDecoder : public orvane::acm::Decoder {
 public:
  explicit MpegAcmDecoder(const Mp3FrameInfo& info)
      : pcm_per_frame_(static_cast<DWORD>(info.pcm_bytes)),
        max_frame_(static_cast<DWORD>(info.max_frame_bytes)),
        min_frame_(static_cast<DWORD>(info.frame_bytes > 0 ? info.frame_bytes : 1)),
        rate_out_(info.rate),
        channels_(info.channels) {
    decoder_.Clear();
    decoder_.SetOptions(Mp3DecodeOptions{0, 0, info.rate});
    pending_.reserve(2 * max_frame_ + 156);
  }
  // As many frames as the bytes can hold at the smallest frame length, plus the frame kept over.
  DWORD OutputSize(DWORD source) override {
    const uint64_t frames = (uint64_t{source} + pending_.size()) / min_frame_ + 1;
    const uint64_t out = frames * pcm_per_frame_;
    return out > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(out);
  }
  DWORD InputSize(DWORD output) override {
    const uint64_t in = uint64_t{output / (pcm_per_frame_ ? pcm_per_frame_ : 1)} * min_frame_;
    return in > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(in);
  }
  bool Convert(const BYTE* src, DWORD src_bytes, DWORD* src_used, BYTE* dst, DWORD dst_bytes,
               DWORD* dst_used) override {
    pending_.insert(pending_.end(), src, src + src_bytes);
    *src_used = src_bytes;
    DWORD made = 0;
    size_t pos = 0;
    while (dst_bytes - made >= pcm_per_frame_) {
      // Step to the next sync; what lies before it is not audio.
      while (pos + 4 <= pending_.size() && !Mp3IsFrameSync(pending_.data() + pos, pending_.size() - pos))
        ++pos;
      if (pending_.size() - pos < 4) break;
      const uint8_t* frame = pending_.data() + pos;
      const uint32_t have = static_cast<uint32_t>(pending_.size() - pos);
      if (!initialised_) {
        if (have < 156 && have < max_frame_) break;  // wait for more bytes
        std::vector<uint8_t> head(frame, frame + have);
        head.resize(have < 156 ? 156 : have, 0);
        // Only a frame of the format the file's header promised starts the stream: the output
        // sizes were set from it.
        Mp3FrameInfo fi;
        if (!decoder_.GetFrameInfo(head.data(), static_cast<uint32_t>(head.size()), &fi, false) ||
            static_cast<DWORD>(fi.pcm_bytes) != pcm_per_frame_ || fi.rate != rate_out_ ||
            fi.channels != channels_ ||
            !decoder_.InitFromFrame(head.data(), static_cast<uint32_t>(head.size()))) {
          ++pos;
          continue;
        }
        initialised_ = true;
      }
      Mp3DecodeRequest rq;
      rq.input = frame;
      rq.input_bytes = have;
      rq.output = dst + made;
      if (!decoder_.DecodeFrame(&rq)) {
        if (decoder_.GetError() == kMp3ErrorShort) break;  // the rest of the frame comes next time
        ++pos;
        continue;
      }
      pos += rq.input_bytes;
      made += rq.output_bytes;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    // Never let a stream without frames grow the buffer without bound.
    if (pending_.size() > 2 * max_frame_ + 156)
      pending_.erase(pending_.begin(), pending_.end() - static_cast<std::ptrdiff_t>(max_frame_));
    *dst_used = made;
    return true;
  }

 private:
  Mp3Decoder decoder_;
  std::vector<uint8_t> pending_;
  DWORD pcm_per_frame_, max_frame_, min_frame_;
  int32_t rate_out_, channels_;
  bool initialised_ = false;
};

class MpegAcmDriver : public orvane::acm::Driver {
 public:
  explicit MpegAcmDriver(WORD tag) : tag_(tag) {}
  WORD Tag() const override { return tag_; }
  bool Suggest(const WAVEFORMATEX& src, WAVEFORMATEX* pcm) override {
    Mp3FrameInfo info;
    if (!Describe(src, &info)) return false;
    const StreamPcmFormat f =
        MakeStreamPcmFormat(static_cast<uint32_t>(info.channels), static_cast<uint32_t>(info.rate));
    std::memcpy(pcm, &f, sizeof(f));
    pcm->cbSize = 0;
    return true;
  }
  std::unique_ptr<orvane::acm::Decoder> Open(const WAVEFORMATEX& src, const WAVEFORMATEX& pcm) override {
    Mp3FrameInfo info;
    if (!Describe(src, &info) || pcm.wFormatTag != WAVE_FORMAT_PCM || pcm.wBitsPerSample != 16 ||
        pcm.nChannels != info.channels || pcm.nSamplesPerSec != static_cast<DWORD>(info.rate))
      return nullptr;
    return std::make_unique<MpegAcmDecoder>(info);
  }

 private:
  // The stream as the format record tells it, through a made-up frame header of its layer, rate,
  // channels and (nearest listed) bit rate.
  bool Describe(const WAVEFORMATEX& src, Mp3FrameInfo* info) {
    if (src.wFormatTag != tag_ || (src.nChannels != 1 && src.nChannels != 2)) return false;
    static const uint32_t kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    int version = 0, index = 0;
    for (int v = 0; v < 3 && !version; ++v)
      for (int i = 0; i < 3; ++i)
        if (kRates[v][i] == src.nSamplesPerSec) version = v + 1, index = i;
    if (!version) return false;
    const int layer = tag_ == 0x0055 ? 3 : 2;
    uint8_t frame[156] = {};
    frame[0] = 0xFF;
    frame[1] =
        static_cast<uint8_t>((version == 3 ? 0xE0 : 0xF0) | (version == 1 ? 0x08 : 0) | (4 - layer) << 1 | 1);
    // Bit-rate index 8 exists in every row (and in MPEG-1 layer II for both channel modes).
    frame[2] = static_cast<uint8_t>(8 << 4 | index << 2);
    frame[3] = static_cast<uint8_t>(src.nChannels == 1 ? 0xC0 : 0x00);
    Mp3Decoder probe;
    probe.Clear();
    return probe.GetFrameInfo(frame, sizeof(frame), info, false);
  }

  WORD tag_;
};

}  // namespace

std::unique_ptr<DWaveMpegDecoder> MakeMpegWaveDecoder() {
  return std::make_unique<MpegWaveDecoder>();
}
std::unique_ptr<DWaveOggDecoder> MakeOggWaveDecoder() {
  return std::make_unique<OggWaveDecoder>();
}
std::shared_ptr<orvane::acm::Driver> MakeMpegAcmDriver(WORD tag) {
  return std::make_shared<MpegAcmDriver>(tag);
}

void MpegAudioInstall() {
  static std::once_flag once;
  std::call_once(once, [] {
    orvane::acm::RegisterDriver(MakeMpegAcmDriver(0x0055));
    orvane::acm::RegisterDriver(MakeMpegAcmDriver(0x0050));
  });
  DWaveSetDecoders(&MakeMpegWaveDecoder, &MakeOggWaveDecoder);
}
