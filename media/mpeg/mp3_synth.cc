// Mp3Decoder synthesis: the polyphase filter bank shared by all layers and the PCM output.
#include <bit>
#include <cmath>
#include <cstring>

#include "media/mpeg/mp3_decoder.h"
#include "media/mpeg/mpeg_tables.h"

static_assert(std::endian::native == std::endian::little, "PCM is written in host order");

namespace {

// Factors 1/(2 cos((2k + 1) pi / 2N)) of the fast cosine transforms, N = 32, 16, 8, 4, 2.
struct DctFactors {
  float f32[16], f16[8], f8[4], f4[2], f2[1];
  DctFactors() {
    Fill(f32, 32);
    Fill(f16, 16);
    Fill(f8, 8);
    Fill(f4, 4);
    Fill(f2, 2);
  }
  static void Fill(float* f, int n) {
    for (int k = 0; k < n / 2; ++k) f[k] = static_cast<float>(0.5 / std::cos((2 * k + 1) * M_PI / (2.0 * n)));
  }
  const float* For(int n) const {
    switch (n) {
      case 32:
        return f32;
      case 16:
        return f16;
      case 8:
        return f8;
      case 4:
        return f4;
      default:
        return f2;
    }
  }
};

// The window D of Table 3-B.3 in the order the windowing walks it: D[32a + j].
struct Window {
  alignas(32) float d[512];
  Window() {
    for (int i = 0; i < 512; ++i) d[i] = static_cast<float>(mpeg::SynthesisWindow(i));
  }
};

const DctFactors& Factors() {
  static const DctFactors f;
  return f;
}
const Window& SynthWindow() {
  static const Window w;
  return w;
}

// out[m] = sum_k in[k] cos((2k + 1) m pi / 2N), by splitting into even and odd halves.
template <int N>
inline void Dct(const float* in, float* out, const DctFactors& fac) {
  if constexpr (N == 1) {
    out[0] = in[0];
  } else {
    constexpr int H = N / 2;
    float g[H], h[H], G[H], Hh[H + 1];
    const float* f = fac.For(N);
    for (int k = 0; k < H; ++k) {
      const float a = in[k], b = in[N - 1 - k];
      g[k] = a + b;
      h[k] = (a - b) * f[k];
    }
    Dct<H>(g, G, fac);
    Dct<H>(h, Hh, fac);
    Hh[H] = 0.0f;
    for (int m = 0; m < H; ++m) {
      out[2 * m] = G[m];
      out[2 * m + 1] = Hh[m] + Hh[m + 1];
    }
  }
}

}  // namespace

void Mp3Decoder::ClearSynthesis() {
  std::memset(synth_a_, 0, sizeof(synth_a_));
  std::memset(synth_b_, 0, sizeof(synth_b_));
  synth_pos_[0] = synth_pos_[1] = 0;
}

// ISO/IEC 11172-3 synthesis: V = N x S (64 values from a 32-point cosine transform and its
// symmetries), U from alternate halves of the last 16 V blocks, and 16 window products per
// output sample. History slot a (0 newest) keeps V[0..31] in synth_a_ and V[32..63] in synth_b_.
void Mp3Decoder::SynthesizeBlock(int ch, const float* subbands, float* out) {
  const DctFactors& fac = Factors();
  float in[32], x[32];
  if (eq_on_) {
    for (int k = 0; k < 32; ++k) in[k] = subbands[k] * eq_gain_[k];
    Dct<32>(in, x, fac);
  } else {
    Dct<32>(subbands, x, fac);
  }
  const int pos = (synth_pos_[ch] - 1) & 15;
  synth_pos_[ch] = pos;
  float* a = synth_a_[ch][pos];
  float* b = synth_b_[ch][pos];
  for (int i = 0; i < 16; ++i) a[i] = x[16 + i];
  a[16] = 0.0f;
  for (int i = 17; i < 32; ++i) a[i] = -x[48 - i];
  for (int t = 0; t < 16; ++t) b[t] = -x[16 - t];
  b[16] = -x[0];
  for (int t = 17; t < 32; ++t) b[t] = -x[t - 16];

  const float* d = SynthWindow().d;
  alignas(32) float acc[32] = {};
  for (int age = 0; age < 16; age += 2) {
    const float* ra = synth_a_[ch][(pos + age) & 15];
    const float* rb = synth_b_[ch][(pos + age + 1) & 15];
    const float* da = d + 32 * age;
    const float* db = da + 32;
    for (int j = 0; j < 32; ++j) acc[j] += ra[j] * da[j] + rb[j] * db[j];
  }
  std::memcpy(out, acc, sizeof(acc));
}

// Writes 32 PCM values at sample index, index + stride, ... as 16-bit or 8-bit samples.
void Mp3Decoder::WritePcm(const float* pcm, uint8_t* output, int index, int stride) {
  if (out8_) {
    uint8_t* o = output + index;
    for (int j = 0; j < 32; ++j) o[j * stride] = static_cast<uint8_t>((ToPcm16(pcm[j]) >> 8) ^ 0x80);
  } else {
    int16_t v[32];
    for (int j = 0; j < 32; ++j) v[j] = static_cast<int16_t>(ToPcm16(pcm[j]));
    uint8_t* o = output + 2 * index;
    if (stride == 1) {
      std::memcpy(o, v, sizeof(v));
    } else {
      for (int j = 0; j < 32; ++j) std::memcpy(o + j * 2 * stride, &v[j], 2);
    }
  }
}

void Mp3Decoder::Silence(uint8_t* output, uint32_t bytes) {
  std::memset(output, out8_ ? 0x80 : 0, bytes);
}

// Layers I and II: blocks of [channel][32 subbands]; one or two output channels.
void Mp3Decoder::OutputBlocks12(int blocks, uint8_t* output) {
  float pcm[32], mix[32];
  for (int blk = 0; blk < blocks; ++blk) {
    const int base = blk * 32 * out_channels_;
    if (channels_ == 1) {
      SynthesizeBlock(0, sb12_[blk][0], pcm);
      WritePcm(pcm, output, base, 1);
    } else if (conversion_ == 0) {
      SynthesizeBlock(0, sb12_[blk][0], pcm);
      WritePcm(pcm, output, base, 2);
      SynthesizeBlock(1, sb12_[blk][1], pcm);
      WritePcm(pcm, output, base + 1, 2);
    } else {
      const float* src;
      if (conversion_ == 1) {
        for (int k = 0; k < 32; ++k) mix[k] = (sb12_[blk][0][k] + sb12_[blk][1][k]) * 0.5f;
        src = mix;
      } else {
        src = sb12_[blk][conversion_ - 2];
      }
      SynthesizeBlock(0, src, pcm);
      WritePcm(pcm, output, base, 1);
    }
  }
}

// Layer III: 18 blocks of one channel, written at that channel's place in the output.
void Mp3Decoder::OutputChannel3(const float (*blocks)[32], int channel, uint8_t* output) {
  float pcm[32];
  const int stride = out_channels_;
  const int offset = out_channels_ == 2 ? channel : 0;
  for (int blk = 0; blk < 18; ++blk) {
    SynthesizeBlock(channel, blocks[blk], pcm);
    WritePcm(pcm, output, blk * 32 * stride + offset, stride);
  }
}
