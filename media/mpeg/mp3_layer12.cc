// Mp3Decoder layers I and II: allocation, scale factors and requantised subband samples.
#include <cstring>

#include "media/mpeg/mp3_decoder.h"
#include "media/mpeg/mpeg_tables.h"

namespace {

// Subbands coded separately per channel, by mode and mode extension (joint stereo: 4 to 16).
int StereoBound(const Mp3Header& h) {
  if (h.mode == 1) return 4 * (h.mode_extension + 1);
  return 32;
}

// Splits of the grouped code words into three samples (3, 5 and 9 levels), sized to every code
// the 5, 7 and 10 bits can hold so that any code word gives defined samples.
struct GroupSplit {
  uint8_t s3[32][3];
  uint8_t s5[128][3];
  uint16_t s9[1024][3];
  GroupSplit() {
    for (int c = 0; c < 32; ++c) Split(c, 3, s3[c]);
    for (int c = 0; c < 128; ++c) Split(c, 5, s5[c]);
    for (int c = 0; c < 1024; ++c) Split(c, 9, s9[c]);
  }
  template <class T>
  static void Split(int c, int n, T* out) {
    out[0] = static_cast<T>(c % n);
    out[1] = static_cast<T>((c / n) % n);
    out[2] = static_cast<T>((c / n / n) % n);
  }
};

const GroupSplit& Splits() {
  static const GroupSplit s;
  return s;
}

// (2c - (n - 1)) / n: the requantised fraction of code c of an n-level class.
inline float Fraction(uint32_t c, uint32_t n) {
  return (2.0f * static_cast<float>(c) - static_cast<float>(n - 1)) / static_cast<float>(n);
}

}  // namespace

bool Mp3Decoder::InitLayer1(const Mp3FrameInfo&) {
  alloc_table_ = -1;
  sblimit_ = 32;
  band_limit_ = BandLimit(32);
  std::memset(sb12_, 0, sizeof(sb12_));
  return true;
}

bool Mp3Decoder::InitLayer2(const Mp3FrameInfo& info) {
  int table = 4;
  if (info.version == 1) {
    table = mpeg::Layer2TableIndex(info.mode, info.sampling_index, info.bitrate_index);
    if (table < 0) return false;
  }
  alloc_table_ = table;
  const mpeg::AllocTable& t = mpeg::kAllocTables[table];
  sblimit_ = t.run_length[0] + t.run_length[1] + t.run_length[2] + t.run_length[3];
  band_limit_ = BandLimit(sblimit_);
  std::memset(sb12_, 0, sizeof(sb12_));
  return true;
}

void Mp3Decoder::DecodeLayer1(const Mp3Header& h, const uint8_t* frame, uint8_t* output) {
  Mp3BitReader& r = reader_;
  r.Seat(frame, static_cast<uint32_t>(frame_bytes_), (4 + (h.crc ? 2 : 0)) * 8);
  const int nch = channels_;
  const int bound = nch == 2 ? StereoBound(h) : 32;
  int alloc[2][32];
  float factor[2][32];
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = static_cast<int>(r.Read(4));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<int>(r.Read(4));
    }
  }
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < nch; ++ch) {
      factor[ch][sb] = 0.0f;
      if (alloc[ch][sb]) {
        const int bits = alloc[ch][sb] + 1;
        const float step = 2.0f / static_cast<float>((1u << bits) - 1);
        factor[ch][sb] = scale_[r.Read(6)] * step;
      }
    }
  }
  // Bits per block of the subbands beyond the band limit, skipped in one read.
  uint32_t skip_bits = 0;
  for (int sb = band_limit_; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) skip_bits += alloc[ch][sb] ? alloc[ch][sb] + 1 : 0;
    } else if (alloc[0][sb]) {
      skip_bits += alloc[0][sb] + 1;
    }
  }
  const int limit = band_limit_;
  for (int blk = 0; blk < 12; ++blk) {
    float(*out)[32] = sb12_[blk];
    for (int sb = 0; sb < limit; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch) {
          const int a = alloc[ch][sb];
          if (a) {
            const int bits = a + 1;
            const int v = static_cast<int>(r.Read(bits));
            out[ch][sb] = static_cast<float>(v - (1 << (bits - 1)) + 1) * factor[ch][sb];
          } else {
            out[ch][sb] = 0.0f;
          }
        }
      } else {
        const int a = alloc[0][sb];
        if (a) {
          const int bits = a + 1;
          const float v = static_cast<float>(static_cast<int>(r.Read(bits)) - (1 << (bits - 1)) + 1);
          out[0][sb] = v * factor[0][sb];
          out[1][sb] = v * factor[1][sb];
        } else {
          out[0][sb] = out[1][sb] = 0.0f;
        }
      }
    }
    for (int sb = limit; sb < 32; ++sb) out[0][sb] = out[1][sb] = 0.0f;
    r.SkipLong(skip_bits);
  }
  OutputBlocks12(12, output);
}

void Mp3Decoder::DecodeLayer2(const Mp3Header& h, const uint8_t* frame, uint8_t* output) {
  Mp3BitReader& r = reader_;
  r.Seat(frame, static_cast<uint32_t>(frame_bytes_), (4 + (h.crc ? 2 : 0)) * 8);
  const mpeg::AllocTable& table = mpeg::kAllocTables[alloc_table_];
  const int nch = channels_;
  const int sblimit = sblimit_;
  int bound = nch == 2 ? StereoBound(h) : sblimit;
  if (bound > sblimit) bound = sblimit;
  static constexpr int kRunBits[4] = {4, 4, 3, 2};

  uint8_t cls[2][32] = {};
  int sb = 0;
  for (int run = 0; run < 4; ++run) {
    const int bits = kRunBits[run];
    for (int i = 0; i < table.run_length[run]; ++i, ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch) cls[ch][sb] = table.classes[run][r.Read(bits)];
      } else {
        cls[0][sb] = cls[1][sb] = table.classes[run][r.Read(bits)];
      }
    }
  }
  uint8_t scfsi[2][32] = {};
  for (int s = 0; s < sblimit; ++s)
    for (int ch = 0; ch < nch; ++ch)
      if (cls[ch][s]) scfsi[ch][s] = static_cast<uint8_t>(r.Read(2));
  float sf[2][32][3] = {};
  for (int s = 0; s < sblimit; ++s) {
    for (int ch = 0; ch < nch; ++ch) {
      if (!cls[ch][s]) continue;
      float* f = sf[ch][s];
      switch (scfsi[ch][s]) {
        case 0:
          f[0] = scale_[r.Read(6)];
          f[1] = scale_[r.Read(6)];
          f[2] = scale_[r.Read(6)];
          break;
        case 1:
          f[0] = f[1] = scale_[r.Read(6)];
          f[2] = scale_[r.Read(6)];
          break;
        case 2:
          f[0] = f[1] = f[2] = scale_[r.Read(6)];
          break;
        default:
          f[0] = scale_[r.Read(6)];
          f[1] = f[2] = scale_[r.Read(6)];
          break;
      }
    }
  }

  const GroupSplit& split = Splits();
  const int limit = band_limit_;
  // Reads the three codes of one class into c.
  auto read_codes = [&](const mpeg::QuantClass& q, uint32_t* c) {
    if (q.grouped) {
      const uint32_t code = r.Read(q.bits);
      if (q.levels == 3) {
        c[0] = split.s3[code][0], c[1] = split.s3[code][1], c[2] = split.s3[code][2];
      } else if (q.levels == 5) {
        c[0] = split.s5[code][0], c[1] = split.s5[code][1], c[2] = split.s5[code][2];
      } else {
        c[0] = split.s9[code][0], c[1] = split.s9[code][1], c[2] = split.s9[code][2];
      }
    } else {
      c[0] = r.Read(q.bits);
      c[1] = r.Read(q.bits);
      c[2] = r.Read(q.bits);
    }
  };
  for (int gr = 0; gr < 12; ++gr) {
    const int part = gr >> 2;
    float(*out0)[32] = sb12_[gr * 3];
    float(*out1)[32] = sb12_[gr * 3 + 1];
    float(*out2)[32] = sb12_[gr * 3 + 2];
    for (int s = 0; s < sblimit; ++s) {
      const int nshared = s < bound ? nch : 1;
      for (int ch = 0; ch < nshared; ++ch) {
        const int k = cls[ch][s];
        if (!k) {
          if (s >= bound) {
            for (int c2 = 0; c2 < 2; ++c2) out0[c2][s] = out1[c2][s] = out2[c2][s] = 0.0f;
          } else {
            out0[ch][s] = out1[ch][s] = out2[ch][s] = 0.0f;
          }
          continue;
        }
        const mpeg::QuantClass& q = mpeg::kQuantClasses[k];
        uint32_t c[3];
        read_codes(q, c);
        if (s >= limit) {
          for (int c2 = 0; c2 < 2; ++c2) out0[c2][s] = out1[c2][s] = out2[c2][s] = 0.0f;
          continue;
        }
        const float v0 = Fraction(c[0], q.levels), v1 = Fraction(c[1], q.levels),
                    v2 = Fraction(c[2], q.levels);
        const int first = s < bound ? ch : 0;
        const int last = s < bound ? ch : nch - 1;
        for (int c2 = first; c2 <= last; ++c2) {
          const float f = sf[c2][s][part];
          out0[c2][s] = v0 * f;
          out1[c2][s] = v1 * f;
          out2[c2][s] = v2 * f;
        }
      }
    }
    for (int s = sblimit; s < 32; ++s)
      for (int c2 = 0; c2 < 2; ++c2) out0[c2][s] = out1[c2][s] = out2[c2][s] = 0.0f;
  }
  OutputBlocks12(36, output);
}
