// Mp3Decoder layer III: side information, bit reservoir, scale factors, Huffman decoding,
// requantisation, stereo processing, anti-alias butterflies and the hybrid filter bank.
#include <cmath>
#include <cstring>
#include <vector>

#include "media/mpeg/mp3_decoder.h"
#include "media/mpeg/mpeg_tables.h"

namespace {

constexpr int kMaxValue = 15 + (1 << 13);  // largest magnitude a pair value can take

// Tables of layer III, built once.
struct Layer3Tables {
  float gain[262];           // 2^((i - 156)/4): global gain g at g + 6, 16-bit full scale
  float sf_att[2][35];       // 2^(-(scalefac_scale + 1) x m / 2)
  float subblock[8];         // 2^(-2g)
  std::vector<float> pow43;  // |v|^(4/3)
  float cs[8], ca[8];        // anti-alias butterflies
  float win[4][36];          // IMDCT windows of block types 0 to 3 (2: the 12-point short window)
  float imdct36[18][18];     // cos for the 18 distinct outputs of the 36-point IMDCT
  float imdct12[6][6];       // cos for the 6 distinct outputs of the 12-point IMDCT
  float is_ratio[7][2];      // MPEG-1 intensity (left, right) for is_pos 0 .. 6
  float is_lsf[2][16][2];    // MPEG-2 intensity (left, right) by intensity_scale and is_pos

  Layer3Tables() : pow43(kMaxValue + 1) {
    for (int i = 0; i < 262; ++i) gain[i] = static_cast<float>(std::pow(2.0, (i - 156) / 4.0));
    for (int s = 0; s < 2; ++s)
      for (int m = 0; m < 35; ++m) sf_att[s][m] = static_cast<float>(std::pow(2.0, -(s + 1) * m / 2.0));
    for (int g = 0; g < 8; ++g) subblock[g] = static_cast<float>(std::pow(2.0, -2.0 * g));
    for (int v = 0; v <= kMaxValue; ++v) pow43[v] = static_cast<float>(std::pow(v, 4.0 / 3.0));
    static const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int i = 0; i < 8; ++i) {
      const double sq = std::sqrt(1.0 + c[i] * c[i]);
      cs[i] = static_cast<float>(1.0 / sq);
      ca[i] = static_cast<float>(c[i] / sq);
    }
    for (int i = 0; i < 36; ++i) {
      const double l = std::sin(M_PI / 36 * (i + 0.5));
      win[0][i] = static_cast<float>(l);
      // Start block.
      if (i < 18)
        win[1][i] = static_cast<float>(l);
      else if (i < 24)
        win[1][i] = 1.0f;
      else if (i < 30)
        win[1][i] = static_cast<float>(std::sin(M_PI / 12 * (i - 18 + 0.5)));
      else
        win[1][i] = 0.0f;
      // Stop block.
      if (i < 6)
        win[3][i] = 0.0f;
      else if (i < 12)
        win[3][i] = static_cast<float>(std::sin(M_PI / 12 * (i - 6 + 0.5)));
      else if (i < 18)
        win[3][i] = 1.0f;
      else
        win[3][i] = static_cast<float>(l);
      win[2][i] = i < 12 ? static_cast<float>(std::sin(M_PI / 12 * (i + 0.5))) : 0.0f;
    }
    // x_i = sum_k X_k cos(pi / 72 (2i + 19)(2k + 1)); outputs 0-8 and 18-26 determine the rest.
    for (int j = 0; j < 18; ++j) {
      const int i = j < 9 ? j : j + 9;
      for (int k = 0; k < 18; ++k)
        imdct36[k][j] = static_cast<float>(std::cos(M_PI / 72 * (2 * i + 19) * (2 * k + 1)));
    }
    // x_i = sum_k X_k cos(pi / 24 (2i + 7)(2k + 1)); outputs 0-2 and 6-8 determine the rest.
    for (int j = 0; j < 6; ++j) {
      const int i = j < 3 ? j : j + 3;
      for (int k = 0; k < 6; ++k)
        imdct12[j][k] = static_cast<float>(std::cos(M_PI / 24 * (2 * i + 7) * (2 * k + 1)));
    }
    for (int p = 0; p < 7; ++p) {
      if (p == 6) {
        is_ratio[p][0] = 1.0f;
        is_ratio[p][1] = 0.0f;
      } else {
        const double t = std::tan(p * M_PI / 12);
        is_ratio[p][0] = static_cast<float>(t / (1 + t));
        is_ratio[p][1] = static_cast<float>(1 / (1 + t));
      }
    }
    for (int s = 0; s < 2; ++s) {
      const double io = s ? std::pow(2.0, -0.5) : std::pow(2.0, -0.25);
      for (int p = 0; p < 16; ++p) {
        double l = 1, r = 1;
        if (p & 1)
          l = std::pow(io, (p + 1) / 2);
        else
          r = std::pow(io, p / 2);
        is_lsf[s][p][0] = static_cast<float>(l);
        is_lsf[s][p][1] = static_cast<float>(r);
      }
    }
  }
};

const Layer3Tables& Tables() {
  static const Layer3Tables t;
  return t;
}

// Multi-level lookup of the Huffman tables. An entry is a leaf (value << 8 | length) or a node
// (kNode | bits << 24 | offset of the next level); every peeked pattern resolves.
constexpr uint32_t kNode = 0x80000000u;
constexpr int kLevelBits = 8;

struct HuffLookup {
  std::vector<uint32_t> entries;
  uint32_t root[32] = {};
  uint8_t root_bits[32] = {};
  uint8_t count1a[64][2];  // 6-bit lookup of table A: value, length

  struct Code {
    uint32_t code;
    int len;
    uint32_t value;
  };

  uint32_t Build(const std::vector<Code>& codes) {
    int maxlen = 1;
    for (const Code& c : codes) maxlen = c.len > maxlen ? c.len : maxlen;
    const int bits = maxlen < kLevelBits ? maxlen : kLevelBits;
    const uint32_t base = static_cast<uint32_t>(entries.size());
    entries.resize(base + (1u << bits), static_cast<uint32_t>(bits));  // unresolved: value 0
    std::vector<std::vector<Code>> sub(1u << bits);
    for (const Code& c : codes) {
      if (c.len <= bits) {
        const uint32_t first = c.code << (bits - c.len);
        for (uint32_t t = 0; t < (1u << (bits - c.len)); ++t)
          entries[base + first + t] = (c.value << 8) | static_cast<uint32_t>(c.len);
      } else {
        const int rest = c.len - bits;
        sub[c.code >> rest].push_back({c.code & ((1u << rest) - 1), rest, c.value});
      }
    }
    for (uint32_t p = 0; p < sub.size(); ++p) {
      if (sub[p].empty()) continue;
      int sublen = 1;
      for (const Code& c : sub[p]) sublen = c.len > sublen ? c.len : sublen;
      const int subbits = sublen < kLevelBits ? sublen : kLevelBits;
      const uint32_t off = Build(sub[p]);
      entries[base + p] = kNode | (static_cast<uint32_t>(subbits) << 24) | off;
    }
    return base;
  }

  HuffLookup() {
    for (int t = 0; t < 32; ++t) {
      const mpeg::HuffSource& h = mpeg::kHuffSources[t];
      if (!h.size) continue;
      std::vector<Code> codes;
      int maxlen = 1;
      for (int x = 0; x < h.size; ++x) {
        for (int y = 0; y < h.size; ++y) {
          const int i = x * h.size + y;
          codes.push_back({h.codes[i], h.lengths[i], static_cast<uint32_t>(x << 4 | y)});
          maxlen = h.lengths[i] > maxlen ? h.lengths[i] : maxlen;
        }
      }
      root_bits[t] = static_cast<uint8_t>(maxlen < kLevelBits ? maxlen : kLevelBits);
      root[t] = Build(codes);
    }
    for (int p = 0; p < 64; ++p) {
      count1a[p][0] = 0;
      count1a[p][1] = 6;
      for (int v = 0; v < 16; ++v) {
        const int len = mpeg::kCount1ALengths[v];
        if ((p >> (6 - len)) == mpeg::kCount1ACodes[v]) {
          count1a[p][0] = static_cast<uint8_t>(v);
          count1a[p][1] = static_cast<uint8_t>(len);
          break;
        }
      }
    }
  }
};

const HuffLookup& Huffman() {
  static const HuffLookup h;
  return h;
}

inline uint32_t DecodePair(Mp3BitReader& r, const HuffLookup& hl, int table) {
  int bits = hl.root_bits[table];
  uint32_t e = hl.entries[hl.root[table] + r.Peek(bits)];
  while (e & kNode) {
    r.Skip(bits);
    bits = static_cast<int>((e >> 24) & 31);
    e = hl.entries[(e & 0xFFFFFF) + r.Peek(bits)];
  }
  r.SkipPeeked(static_cast<int>(e & 0xFF));
  return e >> 8;
}

const int kSlen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
                          {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};

}  // namespace

void Mp3Decoder::Mpeg1IntensityRatio(int is_pos, float* left, float* right) {
  const Layer3Tables& t = Tables();
  *left = t.is_ratio[is_pos][0];
  *right = t.is_ratio[is_pos][1];
}

bool Mp3Decoder::InitLayer3(const Mp3FrameInfo& info) {
  Tables();
  Huffman();
  ClearReservoir();
  slot_ = 0;
  mixed_long_bands_ = info.version == 1 ? 8 : 6;
  band_limit_ = BandLimit(32);
  band_row_ = 3 * (info.version - 1) + info.sampling_index;
  const mpeg::BandEdges& e = mpeg::kBandEdges[band_row_];
  if (info.version == 1) {
    short_lines_ = 3 * e.short_edges[13];
    long_lines_ = e.long_edges[22];
  } else {
    short_lines_ = 3 * e.short_edges[12];
    long_lines_ = e.long_edges[21];
  }
  decoded_lines_ = long_lines_ + 8;
  if (decoded_lines_ > 18 * band_limit_) decoded_lines_ = 18 * band_limit_;
  if (long_lines_ > decoded_lines_) long_lines_ = decoded_lines_;
  if (short_lines_ > decoded_lines_) short_lines_ = decoded_lines_;
  process_subbands_ = (decoded_lines_ + 17) / 18;
  std::memset(overlap_, 0, sizeof(overlap_));
  std::memset(xr_, 0, sizeof(xr_));
  std::memset(nonzero_, 0, sizeof(nonzero_));
  prev_subbands_[0] = prev_subbands_[1] = 0;
  return true;
}

void Mp3Decoder::DecodeLayer3(const Mp3Header& h, const uint8_t* frame, uint8_t* output) {
  const bool ms = h.mode == 1 && (h.mode_extension & 2);
  Mp3BitReader& r = reader_;
  const int crc_bytes = h.crc ? 2 : 0;
  r.Seat(frame, static_cast<uint32_t>(frame_bytes_), (4 + crc_bytes) * 8);
  const int nch = channels_;
  const int granules = lsf_ ? 1 : 2;

  // Side information.
  int si_bytes;
  if (!lsf_) {
    main_data_begin_ = static_cast<int>(r.Read(9));
    private_bits_ = static_cast<int>(r.Read(nch == 1 ? 5 : 3));
    for (int ch = 0; ch < nch; ++ch) scfsi_[ch] = static_cast<int>(r.Read(4));
    si_bytes = nch == 1 ? 17 : 32;
  } else {
    main_data_begin_ = static_cast<int>(r.Read(8));
    private_bits_ = static_cast<int>(r.Read(nch == 1 ? 1 : 2));
    si_bytes = nch == 1 ? 9 : 17;
  }
  for (int g = 0; g < granules; ++g) {
    const int gr = lsf_ ? slot_ : g;
    for (int ch = 0; ch < nch; ++ch) {
      Mp3GranuleInfo& gi = gi_[gr][ch];
      gi.part2_3_length = static_cast<int>(r.Read(12));
      gi.big_values = static_cast<int>(r.Read(9));
      gi.global_gain = static_cast<int>(r.Read(8)) - (ms ? 2 : 0);
      gi.scalefac_compress = static_cast<int>(r.Read(lsf_ ? 9 : 4));
      gi.window_switching = static_cast<int>(r.Read1());
      if (gi.window_switching) {
        gi.block_type = static_cast<int>(r.Read(2));
        gi.mixed = static_cast<int>(r.Read1());
        gi.table_select[0] = static_cast<int>(r.Read(5));
        gi.table_select[1] = static_cast<int>(r.Read(5));
        gi.table_select[2] = 0;
        for (int w = 0; w < 3; ++w) gi.subblock_gain[w] = static_cast<int>(r.Read(3));
        if (lsf_ && gi.block_type == 2) {
          gi.region0_count = 5;
          gi.region1_count = 15;
        } else {
          gi.region0_count = 7;
          gi.region1_count = 13;
        }
      } else {
        gi.block_type = 0;
        gi.mixed = 0;
        for (int i = 0; i < 3; ++i) gi.table_select[i] = static_cast<int>(r.Read(5));
        gi.subblock_gain[0] = gi.subblock_gain[1] = gi.subblock_gain[2] = 0;
        gi.region0_count = static_cast<int>(r.Read(4));
        gi.region1_count = static_cast<int>(r.Read(3));
      }
      gi.preflag = lsf_ ? 0 : static_cast<int>(r.Read1());
      gi.scalefac_scale = static_cast<int>(r.Read1());
      gi.count1_table = static_cast<int>(r.Read1());
    }
  }

  // Bit reservoir.
  const uint32_t out_bytes = static_cast<uint32_t>(pcm_bytes_);
  int main_bytes = frame_bytes_ - 4 - crc_bytes - si_bytes;
  if (main_bytes < 0) main_bytes = 0;
  int start = main_fill_ - main_data_begin_;
  if (main_fill_ > kReservoirCompact) {
    std::memmove(main_data_, main_data_ + main_fill_ - main_data_begin_, main_data_begin_);
    start = 0;
    main_fill_ = main_data_begin_;
  }
  if (main_fill_ + main_bytes > kReservoirBytes) {
    // A frame far longer than the stream's first frames: nothing fits, start over.
    ClearReservoir();
    Silence(output, out_bytes);
    return;
  }
  std::memcpy(main_data_ + main_fill_, frame + 4 + crc_bytes + si_bytes, main_bytes);
  main_fill_ += main_bytes;
  if (start < 0) {
    // The main data begins in frames this decoder has not seen.
    Silence(output, out_bytes);
    return;
  }
  main_start_ = start;
  uint64_t bitpos = static_cast<uint64_t>(start) * 8;
  const uint32_t half = out_bytes / granules;
  for (int g = 0; g < granules; ++g) {
    const int gr = lsf_ ? slot_ : g;
    for (int ch = 0; ch < nch; ++ch) {
      const Mp3GranuleInfo& gi = gi_[gr][ch];
      reader_.Seat(main_data_, static_cast<uint32_t>(main_fill_), bitpos);
      const uint64_t end = bitpos + static_cast<uint64_t>(gi.part2_3_length);
      bitpos = end;
      const uint64_t limit = ((end + 39) / 8) * 8;
      bool ok = end <= static_cast<uint64_t>(main_fill_) * 8;
      if (ok) {
        if (!lsf_)
          ReadScaleFactorsMpeg1(gr, ch);
        else
          ReadScaleFactorsMpeg2(ch, ch == 1 && h.mode == 1 && (h.mode_extension & 1));
        ok = HuffmanDecode(gr, ch, end, limit);
      }
      if (!ok) {
        std::memset(xr_[ch], 0, sizeof(xr_[ch]));
        nonzero_[gr][ch] = 0;
        continue;
      }
      Requantize(gr, ch);
    }
    DecodeGranule(h, output + g * half, gr);
  }
  if (lsf_) slot_ ^= 1;
}

void Mp3Decoder::ReadScaleFactorsMpeg1(int gr, int ch) {
  Mp3BitReader& r = reader_;
  const Mp3GranuleInfo& gi = gi_[gr][ch];
  const int slen1 = kSlen[0][gi.scalefac_compress];
  const int slen2 = kSlen[1][gi.scalefac_compress];
  int* sl = sf_l_[gr][ch];
  int(*ss)[3] = sf_s_[gr][ch];
  if (gi.window_switching && gi.block_type == 2) {
    int sfb = 0;
    if (gi.mixed) {
      for (; sfb < 8; ++sfb) sl[sfb] = static_cast<int>(r.Read(slen1));
      sfb = 3;
    }
    for (; sfb < 6; ++sfb)
      for (int w = 0; w < 3; ++w) ss[sfb][w] = static_cast<int>(r.Read(slen1));
    for (; sfb < 12; ++sfb)
      for (int w = 0; w < 3; ++w) ss[sfb][w] = static_cast<int>(r.Read(slen2));
    ss[12][0] = ss[12][1] = ss[12][2] = 0;
  } else {
    static const int kGroups[5] = {0, 6, 11, 16, 21};
    for (int g = 0; g < 4; ++g) {
      const int len = g < 2 ? slen1 : slen2;
      if (gr == 1 && (scfsi_[ch] & (8 >> g))) {
        for (int sfb = kGroups[g]; sfb < kGroups[g + 1]; ++sfb) sl[sfb] = sf_l_[0][ch][sfb];
      } else {
        for (int sfb = kGroups[g]; sfb < kGroups[g + 1]; ++sfb) sl[sfb] = static_cast<int>(r.Read(len));
      }
    }
    sl[21] = 0;
  }
}

void Mp3Decoder::ReadScaleFactorsMpeg2(int ch, bool intensity_right) {
  Mp3BitReader& r = reader_;
  const int gr = slot_;
  Mp3GranuleInfo& gi = gi_[gr][ch];
  int sfc = gi.scalefac_compress;
  int slen[4] = {0, 0, 0, 0};
  int table;
  if (!intensity_right) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc & 15) >> 2, slen[3] = sfc & 3;
      table = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = (sfc >> 2) / 5, slen[1] = (sfc >> 2) % 5, slen[2] = sfc & 3;
      table = 1;
    } else {
      sfc -= 500;
      slen[0] = sfc / 3, slen[1] = sfc % 3;
      gi.preflag = 1;
      table = 2;
    }
  } else {
    intensity_scale_ = sfc & 1;
    sfc >>= 1;
    if (sfc < 180) {
      slen[0] = sfc / 36, slen[1] = (sfc % 36) / 6, slen[2] = (sfc % 36) % 6;
      table = 3;
    } else if (sfc < 244) {
      sfc -= 180;
      slen[0] = (sfc & 63) >> 4, slen[1] = (sfc & 15) >> 2, slen[2] = sfc & 3;
      table = 4;
    } else {
      sfc -= 244;
      slen[0] = sfc / 3, slen[1] = sfc % 3;
      table = 5;
    }
  }
  const int kind = (gi.window_switching && gi.block_type == 2) ? (gi.mixed ? 2 : 1) : 0;
  const uint8_t* parts = mpeg::kSfbPartitions[table][kind];
  int values[39];
  int maxes[39];
  int n = 0;
  for (int p = 0; p < 4; ++p) {
    for (int i = 0; i < parts[p]; ++i, ++n) {
      values[n] = static_cast<int>(r.Read(slen[p]));
      maxes[n] = (1 << slen[p]) - 1;
    }
  }
  int* sl = sf_l_[gr][ch];
  int(*ss)[3] = sf_s_[gr][ch];
  for (int i = 0; i < 22; ++i) sl[i] = 0, is_max_l_[i] = intensity_right ? -1 : is_max_l_[i];
  for (int i = 0; i < 13; ++i) {
    ss[i][0] = ss[i][1] = ss[i][2] = 0;
    if (intensity_right) is_max_s_[i] = -1;
  }
  int k = 0;
  if (kind == 0) {
    for (int sfb = 0; sfb < 21 && k < n; ++sfb, ++k) {
      sl[sfb] = values[k];
      if (intensity_right) is_max_l_[sfb] = maxes[k];
    }
  } else {
    int sfb = 0;
    if (kind == 2) {
      for (; sfb < 6 && k < n; ++sfb, ++k) {
        sl[sfb] = values[k];
        if (intensity_right) is_max_l_[sfb] = maxes[k];
      }
      sfb = 3;
    }
    for (; sfb < 12 && k + 3 <= n; ++sfb) {
      for (int w = 0; w < 3; ++w, ++k) ss[sfb][w] = values[k];
      if (intensity_right) is_max_s_[sfb] = maxes[k - 1];
    }
  }
}

// Decodes the big values and the count1 quadruples into signed |v|^(4/3) values. The reader is
// a local copy so that it stays in registers while the values are stored.
bool Mp3Decoder::HuffmanDecode(int gr, int ch, uint64_t end, uint64_t limit) {
  Mp3BitReader r = reader_;
  const HuffLookup& hl = Huffman();
  const float* pow43 = Tables().pow43.data();
  const Mp3GranuleInfo& gi = gi_[gr][ch];
  const mpeg::BandEdges& e = mpeg::kBandEdges[band_row_];
  float* is = huff_;
  const int lines = decoded_lines_;
  int big_end = gi.big_values * 2;
  if (big_end > lines) big_end = lines;
  int r1, r2;
  if (gi.window_switching) {
    r1 = e.long_edges[gi.region0_count + 1];
    r2 = 576;
  } else {
    int i1 = gi.region0_count + 1;
    int i2 = gi.region0_count + gi.region1_count + 2;
    if (i1 > 22) i1 = 22;
    if (i2 > 22) i2 = 22;
    r1 = e.long_edges[i1];
    r2 = e.long_edges[i2];
  }
  if (r1 > big_end) r1 = big_end;
  if (r2 > big_end) r2 = big_end;
  if (r2 < r1) r2 = r1;
  const int region_end[3] = {r1, r2, big_end};
  int i = 0;
  for (int reg = 0; reg < 3; ++reg) {
    const int table = gi.table_select[reg];
    const mpeg::HuffSource& src = mpeg::kHuffSources[table];
    const int stop = region_end[reg];
    if (i < stop) ++table_use_[table];
    if (!src.size) {
      for (; i < stop; ++i) is[i] = 0.0f;
      continue;
    }
    const int linbits = src.linbits;
    if (!linbits) {
      // Values below 16: the sign bits follow the code, one per nonzero value, taken without
      // branches.
      for (; i < stop; i += 2) {
        const uint32_t v = DecodePair(r, hl, table);
        const uint32_t x = v >> 4, y = v & 15;
        const uint32_t nx = x != 0, ny = y != 0;
        const uint32_t signs = r.Peek(2);
        const uint32_t sx = (signs >> 1) & nx;
        const uint32_t sy = (signs >> (1 - nx)) & ny;
        r.SkipPeeked(static_cast<int>(nx + ny));
        uint32_t bx, by;
        std::memcpy(&bx, &pow43[x], 4);
        std::memcpy(&by, &pow43[y], 4);
        bx |= sx << 31;
        by |= sy << 31;
        std::memcpy(&is[i], &bx, 4);
        std::memcpy(&is[i + 1], &by, 4);
      }
      continue;
    }
    for (; i < stop; i += 2) {
      const uint32_t v = DecodePair(r, hl, table);
      uint32_t x = v >> 4, y = v & 15;
      float fx = 0.0f, fy = 0.0f;
      if (x) {
        if (linbits && x == 15) x += r.Read(linbits);
        fx = r.Read1() ? -pow43[x] : pow43[x];
      }
      if (y) {
        if (linbits && y == 15) y += r.Read(linbits);
        fy = r.Read1() ? -pow43[y] : pow43[y];
      }
      is[i] = fx;
      is[i + 1] = fy;
    }
  }
  // Count1 quadruples while bits of part2_3_length remain.
  const int need = gi.count1_table ? 4 : 1;
  while (i < lines && r.BitPosition() + need <= end && r.BitPosition() <= limit) {
    int v;
    if (gi.count1_table) {
      v = static_cast<int>(15 - r.Read(4));
    } else {
      const uint32_t p = r.Peek(6);
      v = hl.count1a[p][0];
      r.Skip(hl.count1a[p][1]);
    }
    float q[4] = {float((v >> 3) & 1), float((v >> 2) & 1), float((v >> 1) & 1), float(v & 1)};
    for (float& s : q)
      if (s != 0.0f && r.Read1()) s = -s;
    if (r.BitPosition() > end) break;  // this quadruple ran past the granule's data
    is[i] = q[0], is[i + 1] = q[1], is[i + 2] = q[2], is[i + 3] = q[3];
    i += 4;
  }
  reader_ = r;
  if (r.BitPosition() > limit) return false;
  int cut = (gi.window_switching && gi.block_type == 2) ? short_lines_ : long_lines_;
  if (i > cut) i = cut;
  for (int j = i; j < 576; ++j) is[j] = 0.0f;
  nonzero_[gr][ch] = i;
  return true;
}

void Mp3Decoder::Requantize(int gr, int ch) {
  const Layer3Tables& t = Tables();
  const Mp3GranuleInfo& gi = gi_[gr][ch];
  const mpeg::BandEdges& e = mpeg::kBandEdges[band_row_];
  const float* is = huff_;
  float* xr = xr_[ch];
  const int nz = nonzero_[gr][ch];
  int gidx = gi.global_gain + 6;
  if (gidx < 0) gidx = 0;
  if (gidx > 261) gidx = 261;
  const float gain = t.gain[gidx];
  const float* att = t.sf_att[gi.scalefac_scale];
  const int* sl = sf_l_[gr][ch];
  const bool is_short = gi.window_switching && gi.block_type == 2;
  int long_end = 576;  // lines coded as long bands
  int first_short = 0;
  if (is_short) {
    if (gi.mixed) {
      long_end = e.long_edges[mixed_long_bands_];
      first_short = 3;
    } else {
      long_end = 0;
    }
  }
  int done = 0;
  for (int sfb = 0; sfb < 22 && e.long_edges[sfb] < long_end && e.long_edges[sfb] < nz; ++sfb) {
    int m = sl[sfb] + (gi.preflag ? mpeg::kPretab[sfb] : 0);
    if (m > 34) m = 34;
    const float f = gain * att[m];
    const int stop = e.long_edges[sfb + 1] < nz ? e.long_edges[sfb + 1] : nz;
    for (int i = e.long_edges[sfb]; i < stop; ++i) xr[i] = is[i] * f;
    done = stop;
  }
  if (!is_short) {
    std::memset(xr + done, 0, sizeof(float) * (576 - done));
    return;
  }
  std::memset(xr + done, 0, sizeof(float) * (576 - done));
  // Short bands: decoded per band, window, line; stored window-interleaved at 3 x line + window.
  // The reordered lines of a band that is cut reach up to 3 x its end.
  const int(*ss)[3] = sf_s_[gr][ch];
  int reach = nz;
  for (int sfb = first_short; sfb < 13; ++sfb) {
    if (3 * e.short_edges[sfb] < nz && 3 * e.short_edges[sfb + 1] > reach) reach = 3 * e.short_edges[sfb + 1];
    const int lo = e.short_edges[sfb], width = e.short_edges[sfb + 1] - lo;
    for (int w = 0; w < 3; ++w) {
      int m = ss[sfb][w];
      if (m > 34) m = 34;
      const float f = gain * t.subblock[gi.subblock_gain[w]] * att[m];
      const int j0 = 3 * lo + w * width;
      for (int k = 0; k < width; ++k) {
        const int j = j0 + k;
        if (j >= nz) break;
        xr[3 * (lo + k) + w] = is[j] * f;
      }
    }
  }
  nonzero_[gr][ch] = reach;
}

void Mp3Decoder::StereoProcess(int gr, bool ms, bool intensity) {
  const Layer3Tables& t = Tables();
  const Mp3GranuleInfo& gi = gi_[gr][1];
  const mpeg::BandEdges& e = mpeg::kBandEdges[band_row_];
  float* L = xr_[0];
  float* R = xr_[1];
  int nz = nonzero_[gr][0] > nonzero_[gr][1] ? nonzero_[gr][0] : nonzero_[gr][1];
  auto mid_side = [&](int lo, int hi) {
    for (int i = lo; i < hi; ++i) {
      const float m = L[i], s = R[i];
      L[i] = m + s;
      R[i] = m - s;
    }
  };
  // Intensity of one stretch of lines: (left, right) factors or the as-coded rules.
  auto apply_is = [&](int lo, int hi, int is_pos, bool illegal) {
    if (illegal) {
      if (ms) mid_side(lo, hi);
      return;
    }
    float kl, kr;
    if (!lsf_) {
      kl = t.is_ratio[is_pos][0];
      kr = t.is_ratio[is_pos][1];
    } else {
      kl = t.is_lsf[intensity_scale_][is_pos & 15][0];
      kr = t.is_lsf[intensity_scale_][is_pos & 15][1];
    }
    for (int i = lo; i < hi; ++i) {
      const float v = L[i];
      L[i] = v * kl;
      R[i] = v * kr;
    }
  };
  auto illegal_l = [&](int sfb, int pos) { return lsf_ ? pos == is_max_l_[sfb] : pos >= 7; };
  auto illegal_s = [&](int sfb, int pos) { return lsf_ ? pos == is_max_s_[sfb] : pos >= 7; };

  if (!intensity) {
    if (ms) mid_side(0, nz);
  } else {
    const int* sl = sf_l_[gr][1];
    const int(*ss)[3] = sf_s_[gr][1];
    const bool is_short = gi.window_switching && gi.block_type == 2;
    if (!is_short) {
      // Long blocks: from the band above the right channel's last nonzero line to band 20.
      int last = -1;
      for (int i = nonzero_[gr][1] - 1; i >= 0; --i)
        if (R[i] != 0.0f) {
          last = i;
          break;
        }
      int sfb = 0;
      if (last >= 0)
        while (sfb < 21 && e.long_edges[sfb + 1] <= last) ++sfb;
      const int first = last >= 0 ? sfb + 1 : 0;
      if (ms) mid_side(0, e.long_edges[first < 22 ? first : 22]);
      for (int b = first; b < 21; ++b) {
        const int pos = sl[b];
        apply_is(e.long_edges[b], e.long_edges[b + 1], pos, illegal_l(b, pos));
      }
      nz = 576;
    } else {
      // Short blocks: per window, from the band above that window's last nonzero band to 11.
      const int lo_band = gi.mixed ? 3 : 0;
      bool any_right = false;
      for (int w = 0; w < 3; ++w) {
        int last_band = -1;
        for (int sfb = 12; sfb >= lo_band && last_band < 0; --sfb) {
          for (int k = e.short_edges[sfb]; k < e.short_edges[sfb + 1]; ++k)
            if (R[3 * k + w] != 0.0f) {
              last_band = sfb;
              break;
            }
        }
        if (last_band >= 0) any_right = true;
        const int first = last_band >= 0 ? last_band + 1 : lo_band;
        for (int sfb = lo_band; sfb < 13; ++sfb) {
          const int a = e.short_edges[sfb], b = e.short_edges[sfb + 1];
          if (sfb < first || sfb == 12) {
            if (ms)
              for (int k = a; k < b; ++k) {
                const int i = 3 * k + w;
                const float m = L[i], s = R[i];
                L[i] = m + s;
                R[i] = m - s;
              }
            continue;
          }
          const int pos = ss[sfb][w];
          const bool bad = illegal_s(sfb, pos);
          for (int k = a; k < b; ++k) apply_is(3 * k + w, 3 * k + w + 1, pos, bad);
        }
      }
      if (gi.mixed) {
        // The long part: intensity only when the right channel is silent above it too.
        const int long_end = e.long_edges[mixed_long_bands_];
        int last = -1;
        for (int i = long_end - 1; i >= 0; --i)
          if (R[i] != 0.0f) {
            last = i;
            break;
          }
        if (any_right || last >= 0) {
          int sfb = 0;
          if (last >= 0)
            while (sfb < mixed_long_bands_ && e.long_edges[sfb + 1] <= last) ++sfb;
          const int first = any_right ? mixed_long_bands_ : sfb + 1;
          if (ms) mid_side(0, e.long_edges[first]);
          for (int b = first; b < mixed_long_bands_; ++b)
            apply_is(e.long_edges[b], e.long_edges[b + 1], sl[b], illegal_l(b, sl[b]));
        } else {
          for (int b = 0; b < mixed_long_bands_; ++b)
            apply_is(e.long_edges[b], e.long_edges[b + 1], sl[b], illegal_l(b, sl[b]));
        }
      }
      nz = 576;
    }
  }
  nonzero_[gr][0] = nonzero_[gr][1] = nz;
}

void Mp3Decoder::Antialias(int gr, int ch) {
  const Layer3Tables& t = Tables();
  const Mp3GranuleInfo& gi = gi_[gr][ch];
  if (gi.window_switching && gi.block_type == 2 && !gi.mixed) return;
  float* x = xr_[ch];
  int bounds = (nonzero_[gr][ch] + 7) / 18;
  if (bounds > 31) bounds = 31;
  if (gi.window_switching && gi.block_type == 2) bounds = bounds > 1 ? 1 : bounds;
  for (int sb = 1; sb <= bounds; ++sb) {
    float* a = x + 18 * sb - 1;
    float* b = x + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      const float u = a[-i], d = b[i];
      a[-i] = u * t.cs[i] - d * t.ca[i];
      b[i] = d * t.cs[i] + u * t.ca[i];
    }
  }
  const int cover = bounds > 0 ? 18 * bounds + 8 : 0;
  if (cover > nonzero_[gr][ch]) nonzero_[gr][ch] = cover > 576 ? 576 : cover;
}

// IMDCT, windowing, overlap-add and frequency inversion of one channel, into 18 blocks.
void Mp3Decoder::Hybrid(int gr, int ch, float (*out)[32]) {
  const Layer3Tables& t = Tables();
  const Mp3GranuleInfo& gi = gi_[gr][ch];
  const float* x = xr_[ch];
  int active = (nonzero_[gr][ch] + 17) / 18;
  if (active > process_subbands_) active = process_subbands_;
  int run = active > prev_subbands_[ch] ? active : prev_subbands_[ch];
  if (run > 32) run = 32;
  const bool is_short = gi.window_switching && gi.block_type == 2;
  for (int sb = 0; sb < run; ++sb) {
    float z[36];
    float* ov = overlap_[ch][sb];
    const float* in = x + 18 * sb;
    const bool short_here = is_short && !(gi.mixed && sb < 2);
    if (sb >= active) {
      for (int i = 0; i < 36; ++i) z[i] = 0.0f;
    } else if (!short_here) {
      const int type = is_short ? 0 : gi.block_type;
      float u[18] = {};
      for (int k = 0; k < 18; ++k) {
        const float v = in[k];
        const float* c = t.imdct36[k];
        for (int j = 0; j < 18; ++j) u[j] += v * c[j];
      }
      // u[0..8] = x[0..8], x[17 - i] = -x[i]; u[9..17] = x[18..26], x[53 - i] = x[i].
      for (int i = 0; i < 9; ++i) {
        z[i] = u[i];
        z[17 - i] = -u[i];
        z[18 + i] = u[9 + i];
        z[35 - i] = u[9 + i];
      }
      const float* w = t.win[type];
      for (int i = 0; i < 36; ++i) z[i] *= w[i];
    } else {
      for (int i = 0; i < 36; ++i) z[i] = 0.0f;
      for (int w = 0; w < 3; ++w) {
        float u[6];
        for (int j = 0; j < 6; ++j) {
          float s = 0.0f;
          for (int k = 0; k < 6; ++k) s += in[3 * k + w] * t.imdct12[j][k];
          u[j] = s;
        }
        // u[0..2] = y[0..2], y[5 - i] = -y[i]; u[3..5] = y[6..8], y[17 - i] = y[i].
        float y[12];
        for (int i = 0; i < 3; ++i) {
          y[i] = u[i];
          y[5 - i] = -u[i];
          y[6 + i] = u[3 + i];
          y[11 - i] = u[3 + i];
        }
        for (int i = 0; i < 12; ++i) z[6 + 6 * w + i] += y[i] * t.win[2][i];
      }
    }
    for (int i = 0; i < 18; ++i) {
      float v = z[i] + ov[i];
      ov[i] = z[18 + i];
      if ((sb & 1) && (i & 1)) v = -v;
      out[i][sb] = v;
    }
  }
  for (int sb = run; sb < 32; ++sb)
    for (int i = 0; i < 18; ++i) out[i][sb] = 0.0f;
  prev_subbands_[ch] = active;
}

void Mp3Decoder::DecodeGranule(const Mp3Header& h, uint8_t* output, int gr) {
  const int nch = channels_;
  const bool ms = h.mode == 1 && (h.mode_extension & 2);
  const bool is = h.mode == 1 && (h.mode_extension & 1);
  if (nch == 2 && (ms || is)) StereoProcess(gr, ms, is);
  for (int ch = 0; ch < nch; ++ch) Antialias(gr, ch);
  if (nch == 1 || conversion_ == 0) {
    for (int ch = 0; ch < nch; ++ch) {
      Hybrid(gr, ch, hybrid_out_);
      OutputChannel3(hybrid_out_, ch, output);
    }
    return;
  }
  // One output channel from two: mix, or one of them.
  if (conversion_ == 1) {
    float mix[18][32];
    Hybrid(gr, 0, hybrid_out_);
    std::memcpy(mix, hybrid_out_, sizeof(mix));
    Hybrid(gr, 1, hybrid_out_);
    for (int i = 0; i < 18; ++i)
      for (int sb = 0; sb < 32; ++sb) mix[i][sb] = (mix[i][sb] + hybrid_out_[i][sb]) * 0.5f;
    OutputChannel3(mix, 0, output);
  } else {
    const int ch = conversion_ - 2;
    Hybrid(gr, ch, hybrid_out_);
    OutputChannel3(hybrid_out_, 0, output);
  }
}
