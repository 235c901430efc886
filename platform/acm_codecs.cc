// The built-in ACM drivers: MS ADPCM, IMA ADPCM, A-law and u-law to 16-bit PCM. Every header
// is checked against its block size before a decoder is made, and a block decodes only its bytes.
#include <cstring>
#include <vector>

#include "platform/acm.h"

namespace orvane::acm {
namespace {

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}
std::int16_t ReadS16(const BYTE* p) {
  return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}
WORD ReadU16(const BYTE* p) {
  return static_cast<WORD>(p[0] | (p[1] << 8));
}
void Put16(BYTE* p, std::int16_t v) {
  p[0] = static_cast<BYTE>(v & 0xFF);
  p[1] = static_cast<BYTE>((v >> 8) & 0xFF);
}

WAVEFORMATEX Pcm16(const WAVEFORMATEX& src) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = src.nChannels;
  f.nSamplesPerSec = src.nSamplesPerSec;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<WORD>(src.nChannels * 2);
  f.nAvgBytesPerSec = src.nSamplesPerSec * f.nBlockAlign;
  return f;
}

// The bytes behind the 18-byte record.
const BYTE* Extra(const WAVEFORMATEX& f) {
  return reinterpret_cast<const BYTE*>(&f) + sizeof(WAVEFORMATEX);
}

// Decoders of fixed-size blocks: each block of `block` source bytes gives `frames` frames.
class BlockDecoder : public Decoder {
 public:
  BlockDecoder(DWORD block, DWORD frames, DWORD channels)
      : block_(block), out_(frames * channels * 2), ch_(channels) {}
  DWORD OutputSize(DWORD source) override {
    std::uint64_t n = static_cast<std::uint64_t>(source / block_) * out_;
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu / out_ * out_ : static_cast<DWORD>(n);
  }
  DWORD InputSize(DWORD output) override { return output / out_ * block_; }
  bool Convert(const BYTE* src, DWORD src_bytes, DWORD* src_used, BYTE* dst, DWORD dst_bytes,
               DWORD* dst_used) override {
    DWORD blocks = src_bytes / block_;
    if (dst_bytes / out_ < blocks) blocks = dst_bytes / out_;
    for (DWORD i = 0; i < blocks; ++i) DecodeBlock(src + i * block_, dst + i * out_);
    *src_used = blocks * block_;
    *dst_used = blocks * out_;
    return true;
  }

 protected:
  virtual void DecodeBlock(const BYTE* in, BYTE* out) = 0;
  const DWORD block_;  // source bytes per block
  const DWORD out_;    // PCM bytes per block
  const DWORD ch_;
};

// ---- MS ADPCM: per channel a predictor index, a delta and two samples, then 4-bit codes
// (high nibble first, channels interleaved) predicted from the two previous samples.
constexpr int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
constexpr std::int32_t kMsMaxDelta = 0x00FFFFFF;  // keeps the products of a hostile stream in range

class MsAdpcmDecoder : public BlockDecoder {
 public:
  MsAdpcmDecoder(DWORD block, DWORD frames, DWORD channels, std::vector<std::int16_t> coefs)
      : BlockDecoder(block, frames, channels), frames_(frames), coefs_(std::move(coefs)) {}

 protected:
  void DecodeBlock(const BYTE* in, BYTE* out) override {
    std::int32_t c1[2], c2[2], delta[2], s1[2], s2[2];
    const DWORD n_coef = static_cast<DWORD>(coefs_.size() / 2);
    for (DWORD c = 0; c < ch_; ++c) {
      DWORD pred = in[c];
      if (pred >= n_coef) pred = 0;  // a damaged index decodes with the first pair
      c1[c] = coefs_[pred * 2];
      c2[c] = coefs_[pred * 2 + 1];
      delta[c] = ReadS16(in + ch_ + 2 * c);
      s1[c] = ReadS16(in + 3 * ch_ + 2 * c);
      s2[c] = ReadS16(in + 5 * ch_ + 2 * c);
    }
    for (DWORD c = 0; c < ch_; ++c) {
      Put16(out + 2 * c, static_cast<std::int16_t>(s2[c]));
      if (frames_ > 1) Put16(out + 2 * (ch_ + c), static_cast<std::int16_t>(s1[c]));
    }
    const BYTE* codes = in + 7 * ch_;
    for (DWORD k = 2; k < frames_; ++k) {
      for (DWORD c = 0; c < ch_; ++c) {
        DWORD i = (k - 2) * ch_ + c;
        int code = (i & 1) ? (codes[i / 2] & 0x0F) : (codes[i / 2] >> 4);
        int signed_code = code >= 8 ? code - 16 : code;
        std::int64_t predicted =
            (static_cast<std::int64_t>(s1[c]) * c1[c] + static_cast<std::int64_t>(s2[c]) * c2[c]) >> 8;
        std::int16_t sample = Clamp16(predicted + static_cast<std::int64_t>(signed_code) * delta[c]);
        std::int64_t next = (static_cast<std::int64_t>(kMsAdapt[code]) * delta[c]) >> 8;
        delta[c] = static_cast<std::int32_t>(next < 16 ? 16 : next > kMsMaxDelta ? kMsMaxDelta : next);
        s2[c] = s1[c];
        s1[c] = sample;
        Put16(out + 2 * (k * ch_ + c), sample);
      }
    }
  }

 private:
  const DWORD frames_;
  const std::vector<std::int16_t> coefs_;  // pairs
};

class MsAdpcmDriver : public Driver {
 public:
  WORD Tag() const override { return WAVE_FORMAT_ADPCM; }
  bool Suggest(const WAVEFORMATEX& src, WAVEFORMATEX* pcm) override {
    DWORD frames;
    std::vector<std::int16_t> coefs;
    if (!Parse(src, &frames, &coefs)) return false;
    *pcm = Pcm16(src);
    return true;
  }
  std::unique_ptr<Decoder> Open(const WAVEFORMATEX& src, const WAVEFORMATEX&) override {
    DWORD frames;
    std::vector<std::int16_t> coefs;
    if (!Parse(src, &frames, &coefs)) return nullptr;
    return std::make_unique<MsAdpcmDecoder>(src.nBlockAlign, frames, src.nChannels, std::move(coefs));
  }

 private:
  // Checks the header: samples per block and coefficients inside cbSize, a block that holds
  // its header and the stated samples.
  static bool Parse(const WAVEFORMATEX& f, DWORD* frames, std::vector<std::int16_t>* coefs) {
    if (f.nChannels < 1 || f.nChannels > 2 || f.wBitsPerSample != 4 || f.nSamplesPerSec == 0) return false;
    if (f.cbSize < 4 || f.nBlockAlign < 7 * f.nChannels) return false;
    const BYTE* x = Extra(f);
    DWORD spb = ReadU16(x);
    DWORD n = ReadU16(x + 2);
    if (n < 1 || f.cbSize < 4 + 4 * n) return false;
    DWORD most = 2 + (static_cast<DWORD>(f.nBlockAlign) - 7 * f.nChannels) * 2 / f.nChannels;
    if (spb < 2 || spb > most) return false;
    coefs->resize(2 * n);
    for (DWORD i = 0; i < 2 * n; ++i) (*coefs)[i] = ReadS16(x + 4 + 2 * i);
    *frames = spb;
    return true;
  }
};

// ---- IMA ADPCM: per channel a sample and a step index, then 4-bit codes (low nibble first; in
// stereo, groups of 4 bytes per channel in turn).
constexpr int kImaIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kImaStep[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

class ImaAdpcmDecoder : public BlockDecoder {
 public:
  ImaAdpcmDecoder(DWORD block, DWORD frames, DWORD channels)
      : BlockDecoder(block, frames, channels), frames_(frames) {}

 protected:
  void DecodeBlock(const BYTE* in, BYTE* out) override {
    for (DWORD c = 0; c < ch_; ++c) {
      std::int32_t sample = ReadS16(in + 4 * c);
      int index = in[4 * c + 2];
      if (index > 88) index = 0;  // a damaged index starts from the smallest step
      Put16(out + 2 * c, static_cast<std::int16_t>(sample));
      const BYTE* codes = in + 4 * ch_;
      for (DWORD k = 1; k < frames_; ++k) {
        DWORD j = k - 1;
        DWORD byte = ch_ == 1 ? j / 2 : (j / 8) * 8 + c * 4 + (j % 8) / 2;
        int code = (j & 1) ? (codes[byte] >> 4) : (codes[byte] & 0x0F);
        int step = kImaStep[index];
        int diff = step >> 3;
        if (code & 4) diff += step;
        if (code & 2) diff += step >> 1;
        if (code & 1) diff += step >> 2;
        sample = Clamp16((code & 8) ? sample - diff : sample + diff);
        index += kImaIndex[code & 7];
        index = index < 0 ? 0 : index > 88 ? 88 : index;
        Put16(out + 2 * (k * ch_ + c), static_cast<std::int16_t>(sample));
      }
    }
  }

 private:
  const DWORD frames_;
};

class ImaAdpcmDriver : public Driver {
 public:
  WORD Tag() const override { return WAVE_FORMAT_IMA_ADPCM; }
  bool Suggest(const WAVEFORMATEX& src, WAVEFORMATEX* pcm) override {
    DWORD frames;
    if (!Parse(src, &frames)) return false;
    *pcm = Pcm16(src);
    return true;
  }
  std::unique_ptr<Decoder> Open(const WAVEFORMATEX& src, const WAVEFORMATEX&) override {
    DWORD frames;
    if (!Parse(src, &frames)) return nullptr;
    return std::make_unique<ImaAdpcmDecoder>(src.nBlockAlign, frames, src.nChannels);
  }

 private:
  static bool Parse(const WAVEFORMATEX& f, DWORD* frames) {
    if (f.nChannels < 1 || f.nChannels > 2 || f.wBitsPerSample != 4 || f.nSamplesPerSec == 0) return false;
    if (f.cbSize < 2 || f.nBlockAlign <= 4 * f.nChannels) return false;
    DWORD data = f.nBlockAlign - 4u * f.nChannels;
    if (f.nChannels == 2 && data % 8 != 0) return false;
    DWORD spb = ReadU16(Extra(f));
    DWORD most = data * 2 / f.nChannels + 1;
    if (spb < 1 || spb > most) return false;
    *frames = spb;
    return true;
  }
};

// ---- G.711: one byte per sample, expanded to 16 bits.
std::int16_t ALawToLinear(BYTE a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  int seg = (a & 0x70) >> 4;
  if (seg == 0) {
    t += 8;
  } else {
    t = (t + 0x108) << (seg - 1);
  }
  return static_cast<std::int16_t>((a & 0x80) ? t : -t);
}

std::int16_t ULawToLinear(BYTE u) {
  u = static_cast<BYTE>(~u);
  int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return static_cast<std::int16_t>((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

class G711Decoder : public BlockDecoder {
 public:
  G711Decoder(DWORD channels, bool alaw) : BlockDecoder(channels, 1, channels), alaw_(alaw) {}

 protected:
  void DecodeBlock(const BYTE* in, BYTE* out) override {
    for (DWORD c = 0; c < ch_; ++c) Put16(out + 2 * c, alaw_ ? ALawToLinear(in[c]) : ULawToLinear(in[c]));
  }

 private:
  const bool alaw_;
};

class G711Driver : public Driver {
 public:
  explicit G711Driver(WORD tag) : tag_(tag) {}
  WORD Tag() const override { return tag_; }
  bool Suggest(const WAVEFORMATEX& src, WAVEFORMATEX* pcm) override {
    if (!Valid(src)) return false;
    *pcm = Pcm16(src);
    return true;
  }
  std::unique_ptr<Decoder> Open(const WAVEFORMATEX& src, const WAVEFORMATEX&) override {
    if (!Valid(src)) return nullptr;
    return std::make_unique<G711Decoder>(src.nChannels, tag_ == WAVE_FORMAT_ALAW);
  }

 private:
  static bool Valid(const WAVEFORMATEX& f) {
    return f.nChannels >= 1 && f.nChannels <= 2 && f.wBitsPerSample == 8 && f.nBlockAlign == f.nChannels &&
           f.nSamplesPerSec > 0;
  }
  const WORD tag_;
};

}  // namespace

std::shared_ptr<Driver> MakeMsAdpcmDriver() {
  return std::make_shared<MsAdpcmDriver>();
}
std::shared_ptr<Driver> MakeImaAdpcmDriver() {
  return std::make_shared<ImaAdpcmDriver>();
}
std::shared_ptr<Driver> MakeG711Driver(WORD tag) {
  return std::make_shared<G711Driver>(tag);
}

}  // namespace orvane::acm
