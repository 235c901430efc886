// Tests of the MPEG audio decoder: headers and frame information, tables, synthesis, PCM output
// and damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "media/mpeg/mp3_decoder.h"
#include "media/mpeg/mpeg_tables.h"

namespace {

std::unique_ptr<Mp3Decoder> NewDecoder() {
  auto d = std::make_unique<Mp3Decoder>();
  d->Clear();
  return d;
}

// A 156-byte buffer starting with the header bytes, the rest zero.
std::vector<uint8_t> Frame(uint8_t b1, uint8_t b2, uint8_t b3, size_t size = 156) {
  std::vector<uint8_t> v(size, 0);
  v[0] = 0xFF, v[1] = b1, v[2] = b2, v[3] = b3;
  return v;
}

void PutTag(std::vector<uint8_t>& f, size_t at, const char* tag, uint32_t flags, uint32_t a, uint32_t b) {
  std::memcpy(f.data() + at, tag, 4);
  auto be = [&](size_t o, uint32_t v) {
    f[o] = v >> 24, f[o + 1] = (v >> 16) & 0xFF, f[o + 2] = (v >> 8) & 0xFF, f[o + 3] = v & 0xFF;
  };
  if (std::strcmp(tag, "Xing") == 0) {
    be(at + 4, flags);
    be(at + 8, a);
    be(at + 12, b);
  } else {
    be(at + 10, a);
    be(at + 14, b);
  }
}

TEST(MpegHeader, FrameInfoExamples) {
  auto d = NewDecoder();
  Mp3FrameInfo fi;
  // MPEG-1 layer III, 44100 Hz, stereo, 128 kbit/s.
  auto f = Frame(0xFB, 0x90, 0x00);
  ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false));
  EXPECT_EQ(fi.version, 1);
  EXPECT_EQ(fi.layer, 3);
  EXPECT_EQ(fi.channels, 2);
  EXPECT_EQ(fi.bits, 16);
  EXPECT_EQ(fi.rate, 44100);
  EXPECT_EQ(fi.bitrate, 128000);
  EXPECT_EQ(fi.frame_bytes, 417);
  EXPECT_EQ(fi.max_frame_bytes, 418);
  EXPECT_EQ(fi.pcm_bytes, 4608);
  // MPEG-2 layer III, 22050 Hz, single channel, 32 kbit/s.
  f = Frame(0xF3, 0x40, 0xC0);
  ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false));
  EXPECT_EQ(fi.version, 2);
  EXPECT_EQ(fi.channels, 1);
  EXPECT_EQ(fi.frame_bytes, 104);
  EXPECT_EQ(fi.pcm_bytes, 1152);
  // 0xE2 and 0xEA are both MPEG-2.5 layer III.
  for (uint8_t b1 : {0xE2, 0xEA, 0xE3}) {
    f = Frame(b1, 0x80, 0xC0);
    ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false)) << int(b1);
    EXPECT_EQ(fi.version, 3);
    EXPECT_EQ(fi.layer, 3);
    EXPECT_EQ(fi.rate, 11025);
  }
  // Layer I and II lengths and the CRC flag.
  f = Frame(0xFE, 0xC0, 0x00);  // MPEG-1 layer I, CRC, 384 kbit/s, 44100 Hz
  ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false));
  EXPECT_EQ(fi.layer, 1);
  EXPECT_EQ(fi.crc, 1);
  EXPECT_EQ(fi.frame_bytes, (12 * 384000 / 44100) * 4);
  EXPECT_EQ(fi.max_frame_bytes, fi.frame_bytes + 4);
  EXPECT_EQ(fi.pcm_bytes, 384 * 4);
}

TEST(MpegHeader, Errors) {
  auto d = NewDecoder();
  Mp3FrameInfo fi;
  struct Case {
    uint8_t b0, b1, b2;
    int error;
  } cases[] = {
      {0xFE, 0xFB, 0x90, kMp3ErrorSync},    // first byte
      {0xFF, 0xDB, 0x90, kMp3ErrorSync},    // high nibble 0xD
      {0xFF, 0xFB, 0x00, kMp3ErrorHeader},  // free format
      {0xFF, 0xFB, 0xF0, kMp3ErrorHeader},  // bit-rate index 15
      {0xFF, 0xFB, 0x9C, kMp3ErrorHeader},  // sampling index 3
      {0xFF, 0xF9, 0x90, kMp3ErrorHeader},  // layer bits 0
  };
  for (const Case& c : cases) {
    auto f = Frame(c.b1, c.b2, 0);
    f[0] = c.b0;
    EXPECT_FALSE(d->GetFrameInfo(f.data(), 156, &fi, false));
    EXPECT_EQ(d->GetError(), c.error) << int(c.b0) << " " << int(c.b1) << " " << int(c.b2);
  }
  auto f = Frame(0xFB, 0x90, 0x00);
  EXPECT_FALSE(d->GetFrameInfo(f.data(), 155, &fi, false));
  EXPECT_EQ(d->GetError(), kMp3ErrorShort);
  uint32_t off = 0;
  std::vector<uint8_t> junk(100, 0x12);
  junk[96] = 0xFF, junk[97] = 0xE0;  // at length - 4: found
  EXPECT_TRUE(d->FindSync(junk.data(), 100, &off));
  EXPECT_EQ(off, 96u);
  EXPECT_FALSE(d->FindSync(junk.data(), 99, &off));
  EXPECT_EQ(d->GetError(), kMp3ErrorShort);
}

TEST(MpegHeader, VbrHeaders) {
  auto d = NewDecoder();
  Mp3FrameInfo fi;
  // Xing at 36 in a two-channel MPEG-1 layer III frame: accepted for flags 1-3.
  for (uint32_t flags : {1u, 2u, 3u, 15u}) {
    auto f = Frame(0xFB, 0x90, 0x00);
    PutTag(f, 36, "Xing", flags, 1000, 400000);
    ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false)) << flags;
    EXPECT_EQ(fi.bitrate, 0);
    EXPECT_EQ(fi.vbr_frames, 1000);
    EXPECT_EQ(fi.vbr_bytes, 400000);
    EXPECT_EQ(fi.vbr_frame_bytes, 417);
    EXPECT_EQ(fi.frame_bytes, 144 * 32000 / 44100);
    EXPECT_EQ(fi.max_frame_bytes, 1045);
  }
  for (uint32_t flags : {0u, 4u}) {
    auto f = Frame(0xFB, 0x90, 0x00);
    PutTag(f, 36, "Xing", flags, 1000, 400000);
    EXPECT_FALSE(d->GetFrameInfo(f.data(), 156, &fi, false));
    EXPECT_EQ(d->GetError(), kMp3ErrorHeader);
  }
  // VBRI where Xing would stand is seen; in a single-channel frame the place is 21, not 36.
  auto f = Frame(0xFB, 0x90, 0x00);
  PutTag(f, 36, "VBRI", 0, 5000, 77);
  ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false));
  EXPECT_EQ(fi.bitrate, 0);
  EXPECT_EQ(fi.vbr_frames, 77);
  EXPECT_EQ(fi.vbr_bytes, 5000);
  f = Frame(0xFB, 0x90, 0xC0);
  PutTag(f, 36, "VBRI", 0, 5000, 77);
  ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false));
  EXPECT_EQ(fi.bitrate, 128000);
  EXPECT_EQ(fi.vbr_frames, 0);
  PutTag(f, 21, "Xing", 1, 9, 9);
  ASSERT_TRUE(d->GetFrameInfo(f.data(), 156, &fi, false));
  EXPECT_EQ(fi.vbr_frames, 9);
}

TEST(MpegDecode, FrameLengthAndConsumption) {
  auto d = NewDecoder();
  auto f = Frame(0xFB, 0x90, 0x00, 417);
  ASSERT_TRUE(d->InitFromFrame(f.data(), 417));
  std::vector<uint8_t> out(4608, 0xAA);
  Mp3DecodeRequest rq;
  rq.input = f.data();
  rq.input_bytes = 416;
  rq.output = out.data();
  EXPECT_FALSE(d->DecodeFrame(&rq));
  EXPECT_EQ(d->GetError(), kMp3ErrorShort);
  EXPECT_EQ(rq.input_bytes, 416u);
  rq.input_bytes = 417;
  ASSERT_TRUE(d->DecodeFrame(&rq));
  EXPECT_EQ(rq.input_bytes, 417u);
  EXPECT_EQ(rq.output_bytes, 4608u);
  // An all-zero frame decodes to silence.
  for (uint8_t b : out) ASSERT_EQ(b, 0);
  // A later frame at another rate keeps the first frame's rate for its length (48000 Hz
  // header, 128 kbit/s: 384 bytes at 48000 Hz, 417 at the stream's 44100 Hz).
  auto g = Frame(0xFB, 0x94, 0x00, 417);
  rq.input = g.data();
  rq.input_bytes = 417;
  ASSERT_TRUE(d->DecodeFrame(&rq));
  EXPECT_EQ(rq.input_bytes, 417u);
}

TEST(MpegDecode, Layer2TableSelection) {
  struct Case {
    int mode, sampling, bitrate_index, table;
  } cases[] = {
      {0, 0, 1, -1}, {0, 0, 2, -1}, {0, 0, 3, -1}, {0, 0, 5, -1},   // stereo 32/48/56/80
      {3, 0, 1, 2},  {3, 0, 2, 2},  {3, 0, 3, 0},  {3, 0, 5, 0},    // mono 32/48/56/80
      {3, 1, 3, 0},  {3, 2, 1, 3},  {3, 2, 2, 3},  {3, 0, 11, -1},  // 48 kHz 56; 32 kHz; mono 224
      {0, 0, 4, 2},  {0, 0, 8, 0},  {0, 0, 10, 1}, {0, 1, 10, 0},   // stereo 64, 128, 192
      {1, 2, 14, 1}, {2, 1, 14, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(mpeg::Layer2TableIndex(c.mode, c.sampling, c.bitrate_index), c.table)
        << c.mode << " " << c.sampling << " " << c.bitrate_index;
  // The decoder cannot be set up from a stereo 56 kbit/s MPEG-1 layer II frame; mono can.
  auto d = NewDecoder();
  auto f = Frame(0xFD, 0x30, 0x00);
  EXPECT_FALSE(d->InitFromFrame(f.data(), 156));
  f = Frame(0xFD, 0x30, 0xC0);
  EXPECT_TRUE(d->InitFromFrame(f.data(), 156));
}

TEST(MpegTables, HuffmanCodesAreCompletePrefixCodes) {
  static const int kLinbits[32] = {0, 0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0, 0, 0,  0,
                                   1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
  for (int t = 0; t < 32; ++t) {
    const mpeg::HuffSource& h = mpeg::kHuffSources[t];
    EXPECT_EQ(h.linbits, kLinbits[t]) << t;
    if (t == 0 || t == 4 || t == 14) {
      EXPECT_EQ(h.size, 0) << t;
      continue;
    }
    const int n = h.size * h.size;
    double kraft = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_GE(h.lengths[i], 1);
      ASSERT_LE(h.lengths[i], 19);
      ASSERT_EQ(h.codes[i] >> h.lengths[i], 0) << t << " " << i;
      kraft += std::ldexp(1.0, -h.lengths[i]);
      for (int j = 0; j < n; ++j) {
        if (i == j || h.lengths[i] > h.lengths[j]) continue;
        ASSERT_NE(h.codes[j] >> (h.lengths[j] - h.lengths[i]), h.codes[i])
            << "table " << t << ": code " << i << " is a prefix of code " << j;
      }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0) << t;
  }
  double kraft = 0;
  for (int v = 0; v < 16; ++v) kraft += std::ldexp(1.0, -mpeg::kCount1ALengths[v]);
  EXPECT_DOUBLE_EQ(kraft, 1.0);
}

TEST(MpegTables, BandsAndAllocation) {
  for (int row = 0; row < 9; ++row) {
    const mpeg::BandEdges& e = mpeg::kBandEdges[row];
    EXPECT_EQ(e.long_edges[0], 0);
    EXPECT_EQ(e.long_edges[22], 576) << row;
    EXPECT_EQ(e.short_edges[13], 192) << row;
    for (int i = 0; i < 22; ++i) EXPECT_LT(e.long_edges[i], e.long_edges[i + 1]) << row;
    for (int i = 0; i < 13; ++i) EXPECT_LT(e.short_edges[i], e.short_edges[i + 1]) << row;
  }
  const int sums[5] = {27, 30, 8, 12, 30};
  for (int t = 0; t < 5; ++t) {
    const mpeg::AllocTable& a = mpeg::kAllocTables[t];
    EXPECT_EQ(a.run_length[0] + a.run_length[1] + a.run_length[2] + a.run_length[3], sums[t]);
  }
  // The window is the prototype with alternating signs per 64 and the mirror symmetry.
  EXPECT_NEAR(mpeg::SynthesisWindow(256), 1.144989014, 1e-9);
  EXPECT_NEAR(mpeg::SynthesisWindow(1), -0.000015259, 1e-9);
  EXPECT_NEAR(mpeg::SynthesisWindow(511), 0.000015259, 1e-9);
  EXPECT_NEAR(mpeg::SynthesisWindow(64), 0.003250122, 1e-9);
}

// The synthesis of ISO/IEC 11172-3 in double precision, straight from the standard's steps.
struct ReferenceSynthesis {
  double v[1024] = {};
  void Block(const float* s, double* out) {
    std::memmove(v + 64, v, sizeof(double) * 960);
    for (int i = 0; i < 64; ++i) {
      double sum = 0;
      for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * s[k];
      v[i] = sum;
    }
    double u[512];
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 32; ++j) {
        u[64 * i + j] = v[128 * i + j];
        u[64 * i + 32 + j] = v[128 * i + 96 + j];
      }
    for (int j = 0; j < 32; ++j) {
      double sum = 0;
      for (int i = 0; i < 16; ++i) sum += u[j + 32 * i] * mpeg::SynthesisWindow(j + 32 * i);
      out[j] = sum;
    }
  }
};

TEST(MpegSynthesis, FastTransformMatchesReference) {
  auto d = NewDecoder();
  ReferenceSynthesis ref;
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  double worst = 0;
  for (int blk = 0; blk < 64; ++blk) {
    float s[32];
    for (float& x : s) x = dist(rng);
    float fast[32];
    double slow[32];
    d->SynthesizeBlock(0, s, fast);
    ref.Block(s, slow);
    for (int j = 0; j < 32; ++j) worst = std::max(worst, std::fabs(fast[j] - slow[j]));
  }
  EXPECT_LT(worst, 1e-4);
  // Zero blocks after a cleared history give zeros.
  d->ClearSynthesis();
  float zero[32] = {}, out[32];
  d->SynthesizeBlock(1, zero, out);
  for (float x : out) EXPECT_EQ(x, 0.0f);
}

// The equalizer scales the subbands before the synthesis: ten values in tenths of a decibel,
// the last one for subbands 20 to 31.
TEST(MpegSynthesis, EqualizerScalesItsSubbands) {
  auto plain = NewDecoder();
  auto eq = NewDecoder();
  int32_t values[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, -200};  // -20 dB above subband 19
  ASSERT_TRUE(eq->SetEqualizer(values));
  for (int sb : {3, 25}) {
    plain->ClearSynthesis();
    eq->ClearSynthesis();
    float in[32] = {}, a[32], b[32];
    in[sb] = 1000.0f;
    for (int blk = 0; blk < 4; ++blk) {
      plain->SynthesizeBlock(0, in, a);
      eq->SynthesizeBlock(0, in, b);
      const float gain = sb >= 20 ? 0.1f : 1.0f;
      for (int j = 0; j < 32; ++j) EXPECT_NEAR(b[j], a[j] * gain, 1e-3f) << sb;
    }
  }
  ASSERT_TRUE(eq->SetEqualizer(nullptr));
  float in[32] = {}, a[32], b[32];
  in[30] = 1.0f;
  plain->ClearSynthesis();
  eq->ClearSynthesis();
  plain->SynthesizeBlock(1, in, a);
  eq->SynthesizeBlock(1, in, b);
  for (int j = 0; j < 32; ++j) EXPECT_EQ(a[j], b[j]);
}

TEST(MpegSynthesis, PcmConversion) {
  struct Case {
    float in;
    int pcm16;
    uint8_t pcm8;
  } cases[] = {
      {32767.9f, 32767, 0xFF}, {-32768.7f, -32768, 0x00}, {-0.9f, 0, 0x80},    {0.0f, 0, 0x80},
      {1e9f, 32767, 0xFF},     {-1e9f, -32768, 0x00},     {255.5f, 255, 0x80}, {-256.5f, -256, 0x7F},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Mp3Decoder::ToPcm16(c.in), c.pcm16) << c.in;
    EXPECT_EQ(Mp3Decoder::ToPcm8(c.in), c.pcm8) << c.in;
  }
}

TEST(MpegLayer3, Mpeg1IntensityRatios) {
  // L = x tan(p pi/12) / (1 + tan), R = x / (1 + tan); position 6 puts everything left.
  for (int p = 0; p < 7; ++p) {
    float l, r;
    Mp3Decoder::Mpeg1IntensityRatio(p, &l, &r);
    if (p == 6) {
      EXPECT_FLOAT_EQ(l, 1.0f);
      EXPECT_FLOAT_EQ(r, 0.0f);
      continue;
    }
    const double t = std::tan(p * M_PI / 12);
    EXPECT_NEAR(l, t / (1 + t), 1e-6);
    EXPECT_NEAR(r, 1 / (1 + t), 1e-6);
  }
}

// Random bits behind valid headers of every version, layer and mode, decoded frame after frame:
// never a fault (the sanitizers watch), always a full frame of output.
TEST(MpegDecode, DamagedFramesDecodeSafely) {
  std::mt19937 rng(99);
  const uint8_t b1s[] = {0xFB, 0xFA, 0xFD, 0xFF, 0xF3, 0xF5, 0xF7, 0xE3, 0xE2};
  for (uint8_t b1 : b1s) {
    for (int mode = 0; mode < 4; ++mode) {
      auto d = NewDecoder();
      auto first = Frame(b1, 0xA0, static_cast<uint8_t>(mode << 6 | 0x30), 4000);
      if (!d->InitFromFrame(first.data(), 4000)) continue;
      Mp3FrameInfo fi;
      ASSERT_TRUE(d->GetFrameInfo(first.data(), 4000, &fi, false));
      std::vector<uint8_t> out(fi.pcm_bytes);
      for (int k = 0; k < 40; ++k) {
        std::vector<uint8_t> f(7000);
        for (uint8_t& b : f) b = static_cast<uint8_t>(rng());
        f[0] = 0xFF;
        f[1] = b1s[rng() % 9];
        f[2] = static_cast<uint8_t>((1 + rng() % 14) << 4 | (rng() % 3) << 2 | (rng() & 3));
        Mp3DecodeRequest rq;
        rq.input = f.data();
        rq.input_bytes = static_cast<uint32_t>(f.size());
        rq.output = out.data();
        ASSERT_TRUE(d->DecodeFrame(&rq));
        EXPECT_EQ(rq.output_bytes, static_cast<uint32_t>(fi.pcm_bytes));
      }
    }
  }
}

// An 8 kHz MPEG-2.5 first frame, then 320 kbit/s MPEG-1 frames measured at 8 kHz (5760 bytes):
// the reservoir never overflows, the frames decode as silence.
TEST(MpegLayer3, OversizedFramesDoNotOverrunTheReservoir) {
  auto d = NewDecoder();
  auto first = Frame(0xE3, 0x88, 0xC0, 200);  // MPEG-2.5, 8000 Hz, mono
  ASSERT_TRUE(d->InitFromFrame(first.data(), 200));
  std::vector<uint8_t> big(6000, 0x55);
  big[0] = 0xFF, big[1] = 0xFB, big[2] = 0xE0, big[3] = 0xC0;
  std::vector<uint8_t> out(1152, 0x11);
  for (int k = 0; k < 4; ++k) {
    Mp3DecodeRequest rq;
    rq.input = big.data();
    rq.input_bytes = 6000;
    rq.output = out.data();
    ASSERT_TRUE(d->DecodeFrame(&rq));
    EXPECT_EQ(rq.input_bytes, 5760u);
  }
}

}  // namespace
