// Tests of the five blit operations against a per-pixel reference model written from the format
// conversion rules, plus the stepping, clipping, overlap and bad-image behaviour of the blitter.
#include "imaging/dimg_blit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "imaging/dimage.h"
#include "imaging/dimg_clip.h"
#include "imaging/dimg_format.h"

namespace {

using F = DimgFormat;

// ---- Reference model ----------------------------------------------------------------------------

enum Fmt { RGBA, RGB, BGRA, BGR, P1555, P4444, P565, YCC };
enum Op { kBlt, kColor, kColorAlpha, kAlpha, kGreen };

constexpr int kBpp[8] = {4, 3, 4, 3, 2, 2, 2, 3};
bool HasAlpha(int f) {
  return f == RGBA || f == BGRA || f == P1555 || f == P4444;
}

struct Px {
  int r, g, b, a;
};

// The YCrCb tables by their definition: i (or i - 128) times the coefficient, halves away from 0.
struct RefTables {
  int yr[256], yg[256], yb[256], crr[256], crg[256], crb[256], cbr[256], cbg[256], cbb[256];
  int rcr[256], gcr[256], gcb[256], bcb[256];
  RefTables() {
    for (int i = 0; i < 256; ++i) {
      const auto f = [](double v) { return static_cast<int>(std::lround(v)); };
      yr[i] = f(i * 0.299 * 128), yg[i] = f(i * 0.587 * 128), yb[i] = f(i * 0.114 * 128);
      crr[i] = f(i * 0.5 * 128), crg[i] = f(i * -0.41869 * 128), crb[i] = f(i * -0.08131 * 128);
      cbr[i] = f(i * -0.16874 * 128), cbg[i] = f(i * -0.33126 * 128), cbb[i] = f(i * 0.5 * 128);
      rcr[i] = f((i - 128) * 1.402), bcb[i] = f((i - 128) * 1.772);
      gcr[i] = f((i - 128) * -0.71414 * 128), gcb[i] = f((i - 128) * -0.34414 * 128);
    }
  }
};
const RefTables& T() {
  static const RefTables t;
  return t;
}
int Clamp(int v) {
  return std::clamp(v, 0, 255);
}
int Div128(int v) {
  return static_cast<int>(std::floor(v / 128.0));
}

Px Unpack(int f, const std::uint8_t* p) {
  const int w = p[0] | (p[1] << 8);
  switch (f) {
    case RGBA:
      return {p[0], p[1], p[2], p[3]};
    case RGB:
      return {p[0], p[1], p[2], 255};
    case BGRA:
      return {p[2], p[1], p[0], p[3]};
    case BGR:
      return {p[2], p[1], p[0], 255};
    case P1555:
      return {((w >> 10) & 31) * 8, ((w >> 5) & 31) * 8, (w & 31) * 8, (w & 0x8000) ? 255 : 0};
    case P4444:
      return {((w >> 8) & 15) * 16, ((w >> 4) & 15) * 16, (w & 15) * 16, ((w >> 12) & 15) * 16};
    case P565:
      return {((w >> 11) & 31) * 8, (((w >> 5) & 63) >> 1) * 8, (w & 31) * 8, 255};
    default: {
      const int y = p[0], cr = p[1], cb = p[2];
      return {Clamp(y + T().rcr[cr]), Clamp(y + Div128(T().gcr[cr] + T().gcb[cb])), Clamp(y + T().bcb[cb]),
              255};
    }
  }
}

void Pack(int f, std::uint8_t* p, Px c) {
  int w = 0;
  switch (f) {
    case RGBA:
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
      return;
    case RGB:
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
      return;
    case BGRA:
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = c.a;
      return;
    case BGR:
      p[0] = c.b, p[1] = c.g, p[2] = c.r;
      return;
    case P1555:
      w = (c.a >= 128 ? 0x8000 : 0) | (c.r / 8) << 10 | (c.g / 8) << 5 | c.b / 8;
      break;
    case P4444:
      w = (c.a / 16) << 12 | (c.r / 16) << 8 | (c.g / 16) << 4 | c.b / 16;
      break;
    case P565:
      w = (c.r / 8) << 11 | (c.g / 8) << 6 | c.b / 8;
      break;
    default: {
      const RefTables& t = T();
      p[0] = Clamp(Div128(t.yr[c.r] + t.yg[c.g] + t.yb[c.b]));
      p[1] = Clamp(Div128(t.crr[c.r] + t.crg[c.g] + t.crb[c.b]) + 128);
      p[2] = Clamp(Div128(t.cbr[c.r] + t.cbg[c.g] + t.cbb[c.b]) + 128);
      return;
    }
  }
  p[0] = w & 0xFF, p[1] = w >> 8;
}

// One destination pixel of one operation.
void RefPixel(int op, int d, int s, std::uint8_t* dp, const std::uint8_t* sp, int alpha) {
  if ((op == kColor || op == kColorAlpha) && !HasAlpha(d)) op = kBlt;
  if ((op == kAlpha || op == kGreen) && !HasAlpha(d)) return;
  const Px src = Unpack(s, sp);
  Px out = Unpack(d, dp);  // for the operations that keep part of the destination
  switch (op) {
    case kBlt:
      if (d == s && d != YCC) {
        std::memmove(dp, sp, kBpp[d]);
        return;
      }
      out = src;
      if (d == P4444 && s == P1555) {  // the alpha bit stays where it was: nibble 8
        Pack(d, dp, {src.r, src.g, src.b, 0});
        if (src.a) dp[1] |= 0x80;
        return;
      }
      break;
    case kColor:
      out = {src.r, src.g, src.b, out.a};
      break;
    case kColorAlpha:
      out = {src.r, src.g, src.b, alpha};
      break;
    case kAlpha:
      out.a = src.a;
      break;
    case kGreen:
      out.a = src.g;
      break;
  }
  Pack(d, dp, out);
}

// Source index of output i of n outputs from m inputs: nearest, exact halves down, at most m - 1.
std::uint32_t Near(std::uint32_t i, std::uint32_t n, std::uint32_t m) {
  return std::min<std::uint64_t>(m - 1, (2ull * m * i + n - 1) / (2ull * n));
}

// ---- Images under test and their byte models -----------------------------------------------------

struct TestImage {
  std::unique_ptr<DImage> img;
  int format;
  std::uint32_t w, h, pitch;
  bool bottom_up;

  TestImage(int f, std::uint32_t width, std::uint32_t height, bool dib, std::mt19937& rng)
      : format(f), w(width), h(height), pitch(width * kBpp[f] + 3), bottom_up(dib) {
    img = dib ? std::make_unique<DImageDib>() : std::make_unique<DImage>();
    EXPECT_TRUE(img->Create(w, h, pitch, static_cast<F>(f)));
    for (std::uint32_t i = 0; i < h * pitch; ++i) img->GetBits()[i] = static_cast<std::uint8_t>(rng());
  }
  std::vector<std::uint8_t> Bytes() const { return {img->GetBits(), img->GetBits() + h * pitch}; }
  // Offset of pixel (x, y) in the storage, from the row order alone.
  std::size_t At(std::uint32_t x, std::uint32_t y) const {
    return std::size_t{bottom_up ? h - 1 - y : y} * pitch + std::size_t{x} * kBpp[format];
  }
};

struct Rect {
  std::int32_t x, y;
  std::uint32_t w, h;
};

void CallOp(int op, DImage& d, const DImage& s, Rect dr, Rect sr, std::uint8_t alpha, std::uint8_t trailing) {
  switch (op) {
    case kBlt:
      return DimgBlt(d, s, dr.x, dr.y, dr.w, dr.h, sr.x, sr.y, sr.w, sr.h, alpha, trailing);
    case kColor:
      return DimgBltColor(d, s, dr.x, dr.y, dr.w, dr.h, sr.x, sr.y, sr.w, sr.h, alpha, trailing);
    case kColorAlpha:
      return DimgBltColorAlpha(d, s, dr.x, dr.y, dr.w, dr.h, sr.x, sr.y, sr.w, sr.h, alpha, trailing);
    case kAlpha:
      return DimgBltAlpha(d, s, dr.x, dr.y, dr.w, dr.h, sr.x, sr.y, sr.w, sr.h, alpha, trailing);
    default:
      return DimgBltGreenToAlpha(d, s, dr.x, dr.y, dr.w, dr.h, sr.x, sr.y, sr.w, sr.h, alpha, trailing);
  }
}

// The expected destination bytes of a blit of rectangles that lie inside both images.
std::vector<std::uint8_t> Expected(int op, const TestImage& d, const TestImage& s, Rect dr, Rect sr,
                                   std::uint8_t alpha) {
  std::vector<std::uint8_t> out = d.Bytes();
  const std::vector<std::uint8_t> in = s.Bytes();
  for (std::uint32_t i = 0; i < dr.h; ++i) {
    const std::uint32_t r = Near(i, dr.h, sr.h);
    for (std::uint32_t j = 0; j < dr.w; ++j) {
      const std::uint32_t c = Near(j, dr.w, sr.w);
      RefPixel(op, d.format, s.format, &out[d.At(dr.x + j, dr.y + i)], &in[s.At(sr.x + c, sr.y + r)], alpha);
    }
  }
  return out;
}

// Caps the blitter's vector set for one scope.
class VectorCap {
 public:
  explicit VectorCap(DimgBlitVector cap) : before_(DimgBlitSetVectorCap(cap)) {}
  ~VectorCap() { DimgBlitSetVectorCap(before_); }
  VectorCap(const VectorCap&) = delete;
  VectorCap& operator=(const VectorCap&) = delete;

 private:
  DimgBlitVector before_;
};

class DimgBltTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { DimgInitYCrCbTables(); }
};

// Every operation, every cell, same-size and stretched, all four row-order combinations.
TEST_F(DimgBltTest, EveryCellMatchesTheReferenceModel) {
  std::mt19937 rng(6);
  const auto inside = [&](std::uint32_t limit, std::uint32_t size) {
    return static_cast<std::int32_t>(rng() % (limit - size + 1));
  };
  for (int op = kBlt; op <= kGreen; ++op) {
    for (int d = 0; d < 8; ++d) {
      for (int s = 0; s < 8; ++s) {
        for (int orders = 0; orders < 4; ++orders) {
          for (int stretched = 0; stretched < 2; ++stretched) {
            SCOPED_TRACE(testing::Message() << "op " << op << " dst " << d << " src " << s << " bottom-up "
                                            << orders << " stretched " << stretched);
            TestImage dst(d, 9, 7, orders & 1, rng), src(s, 8, 6, orders & 2, rng);
            Rect sr{0, 0, 1 + static_cast<std::uint32_t>(rng() % 8),
                    1 + static_cast<std::uint32_t>(rng() % 6)};
            Rect dr{0, 0, sr.w, sr.h};
            if (stretched) {
              do dr.w = 1 + rng() % 9, dr.h = 1 + rng() % 7;
              while (dr.w == sr.w && dr.h == sr.h);
            }
            sr.x = inside(8, sr.w), sr.y = inside(6, sr.h);
            dr.x = inside(9, dr.w), dr.y = inside(7, dr.h);
            const std::uint8_t alpha = static_cast<std::uint8_t>(rng());
            const std::vector<std::uint8_t> want = Expected(op, dst, src, dr, sr, alpha);
            const std::vector<std::uint8_t> src_before = src.Bytes();
            CallOp(op, *dst.img, *src.img, dr, sr, alpha, static_cast<std::uint8_t>(rng()));
            ASSERT_EQ(dst.Bytes(), want);
            ASSERT_EQ(src.Bytes(), src_before);
          }
        }
      }
    }
  }
}

// Rows long enough for the many-pixel paths of the copy-convert cells between byte and 16-bit
// formats, under every vector set this processor has: lengths that leave tails of every kind
// (one pixel, a part of each vector width, a last group overlapping the one before), unaligned
// starts, same-size and stretched.
TEST_F(DimgBltTest, LongRowsMatchTheReferenceModel) {
  const DimgBlitVector widest = DimgBlitVectorSupported();
  struct Sizes {
    Rect sr, dr;
  };
  const Sizes sizes[] = {
      {{0, 0, 64, 3}, {0, 0, 64, 3}}, {{3, 1, 37, 4}, {1, 2, 37, 4}}, {{1, 0, 23, 5}, {2, 1, 23, 5}},
      {{0, 2, 47, 2}, {5, 0, 47, 2}}, {{2, 0, 1, 6}, {0, 3, 1, 6}},   {{4, 1, 17, 3}, {0, 0, 17, 3}},
      {{0, 0, 68, 6}, {1, 1, 68, 6}}, {{3, 1, 37, 4}, {5, 2, 61, 7}}, {{1, 0, 23, 5}, {2, 1, 17, 2}},
      {{0, 0, 64, 3}, {0, 0, 33, 6}}, {{2, 1, 50, 2}, {3, 0, 50, 2}}, {{0, 3, 34, 3}, {4, 2, 34, 3}},
      {{5, 0, 18, 4}, {0, 5, 18, 4}},
  };
  std::mt19937 rng(11);
  for (int cap = 0; cap <= static_cast<int>(widest); ++cap) {
    const VectorCap capped(static_cast<DimgBlitVector>(cap));
    for (int d = 0; d < 7; ++d) {
      for (int s = 0; s < 7; ++s) {
        if ((d >= P1555) == (s >= P1555)) continue;  // byte to byte, 16-bit to 16-bit: other paths
        for (const Sizes& z : sizes) {
          SCOPED_TRACE(testing::Message() << "vector set " << cap << " dst " << d << " src " << s << " "
                                          << z.sr.w << "x" << z.sr.h << " -> " << z.dr.w << "x" << z.dr.h);
          TestImage dst(d, 70, 9, rng() & 1, rng), src(s, 68, 6, rng() & 1, rng);
          const std::vector<std::uint8_t> want = Expected(kBlt, dst, src, z.dr, z.sr, 0);
          CallOp(kBlt, *dst.img, *src.img, z.dr, z.sr, 0, 0);
          ASSERT_EQ(dst.Bytes(), want);
        }
      }
    }
  }
}

// Worked values of the conversion rules, through the blitter, on 1 x 1 images.
TEST_F(DimgBltTest, ConversionQuirksOnSinglePixels) {
  struct Case {
    int op, d, s;
    std::array<std::uint8_t, 4> src, old_dst, want;
    std::uint8_t alpha;
  };
  const Case cases[] = {
      {kBlt, P565, P565, {0x20, 0x00}, {}, {0x20, 0x00}, 0},  // the plain copy keeps green bit 5
      {kBlt, P1555, P565, {0x20, 0x00}, {}, {0x00, 0x80}, 0},
      {kBlt, P4444, P1555, {0xFF, 0xFF}, {}, {0xFF, 0x8F}, 0},  // alpha nibble 8, not 15
      {kBlt, P4444, P1555, {0x00, 0x80}, {}, {0x00, 0x80}, 0},
      {kAlpha, P4444, P1555, {0x00, 0x80}, {0x34, 0x02}, {0x34, 0xF2}, 0},
      {kBlt, P1555, P4444, {0xFF, 0x7F}, {}, {0xDE, 0x7B}, 0},
      {kBlt, P4444, P565, {0xFF, 0xFF}, {}, {0xFF, 0xFF}, 0},
      {kBlt, RGBA, P565, {0xE0, 0x07}, {}, {0, 248, 0, 255}, 0},
      {kBlt, RGBA, RGB, {0x56, 0x34, 0x12}, {}, {0x56, 0x34, 0x12, 0xFF}, 0},
      {kBlt, BGRA, RGB, {0x56, 0x34, 0x12}, {}, {0x12, 0x34, 0x56, 0xFF}, 0},
      {kBlt, RGB, BGRA, {0x56, 0x34, 0x12, 0x99}, {}, {0x12, 0x34, 0x56}, 0},
      {kBlt, YCC, P565, {0xFF, 0xFF}, {}, {248, 128, 128}, 0},
      {kBlt, RGB, YCC, {76, 255, 84}, {}, {254, 0, 0}, 0},
      {kBlt, P565, YCC, {76, 255, 84}, {}, {0x00, 0xF8}, 0},
      {kBlt, YCC, YCC, {16, 128, 128}, {}, {15, 128, 128}, 0},  // no copy: through R, G, B
      {kBlt, YCC, YCC, {0, 0, 0}, {}, {79, 71, 83}, 0},
      {kColor, P1555, YCC, {128, 128, 128}, {0x00, 0x80}, {0x10, 0xC2}, 0},
      {kColor, P4444, YCC, {128, 128, 128}, {0x00, 0x50}, {0x88, 0x58}, 0},
      {kColor, RGBA, P4444, {0xFF, 0x0F}, {1, 2, 3, 0x42}, {240, 240, 240, 0x42}, 0},
      {kColorAlpha, P1555, RGBA, {1, 2, 3, 4}, {}, {0x00, 0x80}, 0x80},
      {kColorAlpha, P1555, RGBA, {1, 2, 3, 4}, {}, {0x00, 0x00}, 0x7F},
      {kColorAlpha, P4444, RGBA, {0, 0, 0, 255}, {}, {0x00, 0x70}, 0x7F},
      {kColorAlpha, P4444, P1555, {0xFF, 0x7F}, {}, {0xFF, 0xAF}, 0xA0},
      {kColorAlpha, RGBA, RGB, {1, 2, 3}, {}, {1, 2, 3, 0x33}, 0x33},
      {kColorAlpha, RGB, YCC, {76, 255, 84}, {9, 9, 9}, {254, 0, 0}, 0x33},
      {kAlpha, RGBA, YCC, {1, 2, 3}, {1, 2, 3, 4}, {1, 2, 3, 255}, 0},
      {kAlpha, P1555, P4444, {0x00, 0x80}, {0x00, 0x00}, {0x00, 0x80}, 0},
      {kAlpha, P1555, P4444, {0x00, 0x70}, {0xFF, 0xFF}, {0xFF, 0x7F}, 0},
      {kGreen, RGBA, P565, {0xE0, 0x07}, {1, 2, 3, 4}, {1, 2, 3, 248}, 0},
      {kGreen, RGBA, P565, {0x20, 0x00}, {1, 2, 3, 4}, {1, 2, 3, 0}, 0},
      {kGreen, RGBA, P4444, {0xFF, 0xFF}, {1, 2, 3, 4}, {1, 2, 3, 240}, 0},
      {kGreen, P1555, RGB, {0, 128, 0}, {0x00, 0x00}, {0x00, 0x80}, 0},
      {kGreen, P1555, RGB, {0, 127, 0}, {0xFF, 0xFF}, {0xFF, 0x7F}, 0},
      {kGreen, RGBA, YCC, {77, 128, 128}, {1, 2, 3, 4}, {1, 2, 3, 77}, 0},
      {kGreen, RGB, RGBA, {1, 2, 3, 4}, {9, 9, 9}, {9, 9, 9}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "op " << c.op << " dst " << c.d << " src " << c.s);
    DImage d, s;
    ASSERT_TRUE(d.Create(1, 1, 0, static_cast<F>(c.d)));
    ASSERT_TRUE(s.Create(1, 1, 0, static_cast<F>(c.s)));
    std::memcpy(s.GetBits(), c.src.data(), kBpp[c.s]);
    std::memcpy(d.GetBits(), c.old_dst.data(), kBpp[c.d]);
    CallOp(c.op, d, s, {0, 0, 1, 1}, {0, 0, 1, 1}, c.alpha, 0);
    for (int i = 0; i < kBpp[c.d]; ++i) EXPECT_EQ(d.GetBits()[i], c.want[i]) << "byte " << i;
  }
}

// A one-row (or one-column) source whose pixels hold their own index shows which index each
// destination pixel took.
TEST_F(DimgBltTest, NearestNeighbourStepping) {
  struct Case {
    std::uint32_t from, to;
    std::vector<std::uint8_t> picks;
  };
  const Case cases[] = {
      {2, 4, {0, 0, 1, 1}},
      {4, 2, {0, 2}},
      {3, 2, {0, 1}},
      {5, 3, {0, 2, 3}},
      {1, 3, {0, 0, 0}},
      {3, 5, {0, 1, 1, 2, 2}},
      {3, 7, {0, 0, 1, 1, 2, 2, 2}},
      {9, 4, {0, 2, 4, 7}},
      {9, 1, {0}},
      {4, 4, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    for (bool vertical : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << (vertical ? " rows" : " columns"));
      DImage s;
      DImageDib d;
      const std::uint32_t sw = vertical ? 1 : c.from, sh = vertical ? c.from : 1;
      const std::uint32_t dw = vertical ? 1 : c.to, dh = vertical ? c.to : 1;
      ASSERT_TRUE(s.Create(sw, sh, 0, F::RGB888));
      ASSERT_TRUE(d.Create(dw, dh, 0, F::RGB888));
      for (std::uint32_t i = 0; i < c.from; ++i)
        s.GetPixelPointer(vertical ? 0 : i, vertical ? i : 0)[0] = static_cast<std::uint8_t>(i);
      DimgBlt(d, s, 0, 0, dw, dh, 0, 0, sw, sh);
      for (std::uint32_t i = 0; i < c.to; ++i)
        EXPECT_EQ(d.GetPixelPointer(vertical ? 0 : i, vertical ? i : 0)[0], c.picks[i]) << i;
    }
  }
}

// Random rectangles, many of them partly or wholly outside and some with sizes of 2^31 and
// more: the blit draws exactly the reference picture of the clipped rectangles and never touches
// memory outside either image (ASan).
TEST_F(DimgBltTest, ClippedBlitsMatchTheReferenceOnTheClippedRectangles) {
  std::mt19937 rng(61);
  const auto pos = [&]() -> std::int32_t {
    if (rng() % 8 == 0) return static_cast<std::int32_t>(rng());
    return static_cast<std::int32_t>(rng() % 24) - 8;
  };
  const auto size = [&]() -> std::uint32_t {
    if (rng() % 8 == 0) return rng() % 2 ? rng() : 0x7FFFFFFFu + rng() % 4;
    return rng() % 16;
  };
  for (int i = 0; i < 4000; ++i) {
    const int op = static_cast<int>(rng() % 5), d = static_cast<int>(rng() % 8),
              s = static_cast<int>(rng() % 8);
    TestImage dst(d, 1 + rng() % 10, 1 + rng() % 10, rng() % 2, rng);
    TestImage src(s, 1 + rng() % 10, 1 + rng() % 10, rng() % 2, rng);
    Rect dr{pos(), pos(), size(), size()}, sr{pos(), pos(), size(), size()};
    if (rng() % 2) sr.w = dr.w, sr.h = dr.h;
    SCOPED_TRACE(testing::Message() << "case " << i);
    Rect cd = dr, cs = sr;
    DimgClipStretch(cd.x, cd.y, cd.w, cd.h, cs.x, cs.y, cs.w, cs.h, dst.w, dst.h, src.w, src.h);
    std::vector<std::uint8_t> want = dst.Bytes();
    if (cd.w && cd.h && cs.w && cs.h) want = Expected(op, dst, src, cd, cs, 0x80);
    CallOp(op, *dst.img, *src.img, dr, sr, 0x80, 0);
    ASSERT_EQ(dst.Bytes(), want);
  }
}

TEST_F(DimgBltTest, ClippingMovesTheOtherOrigin) {
  DImage d, s;
  ASSERT_TRUE(d.Create(10, 1, 0, F::RGB888));
  ASSERT_TRUE(s.Create(20, 1, 0, F::RGB888));
  for (int x = 0; x < 20; ++x) s.GetPixelPointer(x, 0)[0] = static_cast<std::uint8_t>(x);
  std::memset(d.GetBits(), 0xEE, 30);
  DimgBltUnscaled(d, s, -3, 0, 10, 1, 5, 0);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(d.GetPixelPointer(x, 0)[0], x < 7 ? 8 + x : 0xEE) << x;
}

// Source and destination may be one image: rows top to bottom, pixels left to right, so a
// rectangle moved down and right reads what it has already written.
TEST_F(DimgBltTest, OverlapInsideOneImageFollowsTheForwardOrder) {
  for (bool dib : {false, true}) {
    std::mt19937 rng(3);
    TestImage img(RGBA, 6, 5, dib, rng);
    std::vector<std::uint8_t> want = img.Bytes();
    for (std::uint32_t y = 0; y < 4; ++y)
      for (std::uint32_t x = 0; x < 4; ++x) std::memmove(&want[img.At(x + 1, y + 1)], &want[img.At(x, y)], 4);
    DimgBltUnscaled(*img.img, *img.img, 1, 1, 4, 4, 0, 0);
    EXPECT_EQ(img.Bytes(), want);
    // Same rectangle: every pixel stays.
    want = img.Bytes();
    DimgBltUnscaled(*img.img, *img.img, 0, 0, 6, 5, 0, 0);
    EXPECT_EQ(img.Bytes(), want);
  }
}

// An image class that reports a chosen format and counts pixel access.
class CountingImage : public DImage {
 public:
  explicit CountingImage(std::uint32_t format) : format_code_(format) { Create(4, 4, 0, F::RGBA8888); }
  DimgFormat GetFormat() const override {
    ++format_calls;
    return static_cast<F>(format_code_);
  }
  const std::uint8_t* GetTopLine() const override {
    ++top_line_calls;
    return DImage::GetTopLine();
  }
  std::uint8_t* GetTopLine() override {
    ++top_line_calls;
    return DImage::GetTopLine();
  }
  void Unlock() const override { ++unlock_calls; }
  mutable int format_calls = 0, top_line_calls = 0, unlock_calls = 0;

 private:
  std::uint32_t format_code_;
};

// Two bottom-up images of different formats on one storage, the rectangles overlapping though
// each destination row lies apart from its source row: rows still go top to bottom, so later
// source rows read what earlier destination rows wrote.
TEST_F(DimgBltTest, ConvertingBetweenOverlappingImagesFollowsTheForwardOrder) {
  for (const int d : {P565, BGRA}) {
    SCOPED_TRACE(testing::Message() << "dst " << d);
    const int s = d == P565 ? BGRA : P565;
    // 192 bytes: 6 source rows of 32 bytes or 12 of 16 (16-bit pixels), or the other way round.
    const std::uint32_t sw = 8, sh = s == BGRA ? 6 : 12, dh = d == BGRA ? 6 : 12;
    const std::uint32_t spitch = sw * kBpp[s], dpitch = sw * kBpp[d];
    DImageDib src, dst;
    ASSERT_TRUE(src.Create(sw, sh, spitch, static_cast<F>(s)));
    ASSERT_TRUE(dst.Attach(src.GetPixels(), sw, dh, dpitch, static_cast<F>(d)));
    std::mt19937 rng(5);
    for (std::uint32_t i = 0; i < sh * spitch; ++i) src.GetBits()[i] = static_cast<std::uint8_t>(rng());
    // From source row 0 to destination row dy: the last destination row ends where the storage
    // starts, the first source row where it ends.
    const std::uint32_t h = std::min(sh, dh), dy = dh - h;
    std::vector<std::uint8_t> want(src.GetBits(), src.GetBits() + sh * spitch);
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::uint32_t x = 0; x < sw; ++x) {
        RefPixel(kBlt, d, s, &want[(dh - 1 - dy - y) * dpitch + x * kBpp[d]],
                 &want[(sh - 1 - y) * spitch + x * kBpp[s]], 0);
      }
    }
    DimgBltUnscaled(dst, src, 0, static_cast<std::int32_t>(dy), sw, h, 0, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(src.GetBits(), src.GetBits() + sh * spitch), want);
  }
}

TEST_F(DimgBltTest, FormatCodesAboveSevenMakeEveryOperationANoOp) {
  for (int op = kBlt; op <= kGreen; ++op) {
    CountingImage bad_dst(8), good_src(0);
    const std::uint8_t before = bad_dst.GetBits()[0];
    CallOp(op, bad_dst, good_src, {0, 0, 4, 4}, {0, 0, 4, 4}, 0, 0);
    EXPECT_EQ(good_src.format_calls, 0);  // the source is not consulted at all
    EXPECT_EQ(good_src.top_line_calls + good_src.unlock_calls + bad_dst.top_line_calls + bad_dst.unlock_calls,
              0);
    EXPECT_EQ(bad_dst.GetBits()[0], before);

    CountingImage dst(0), bad_src(0xFFFFFFFFu);
    CallOp(op, dst, bad_src, {0, 0, 4, 4}, {0, 0, 4, 4}, 0, 0);
    EXPECT_EQ(dst.top_line_calls + dst.unlock_calls + bad_src.top_line_calls + bad_src.unlock_calls, 0);

    CountingImage a(0), b(2);  // a normal blit takes both top lines and unlocks both
    CallOp(op, a, b, {0, 0, 4, 4}, {0, 0, 4, 4}, 0, 0);
    EXPECT_EQ(a.top_line_calls, 1);
    EXPECT_EQ(b.top_line_calls, 1);
    EXPECT_EQ(a.unlock_calls, 1);
    EXPECT_EQ(b.unlock_calls, 1);
  }
}

TEST_F(DimgBltTest, ImagesWithoutPixelsDrawNothing) {
  DImage empty, img;
  ASSERT_TRUE(img.Create(4, 4, 0, F::RGB565));
  std::memset(img.GetBits(), 0x11, 32);
  DimgBlt(img, empty, 0, 0, 4, 4, 0, 0, 4, 4);
  DimgBlt(empty, img, 0, 0, 4, 4, 0, 0, 4, 4);
  DimgBltGreenToAlpha(empty, empty, 0, 0, 4, 4, 0, 0, 2, 2);
  EXPECT_EQ(img.GetBits()[31], 0x11);
}

TEST_F(DimgBltTest, Stretch16CopiesWholeWords) {
  DImage s;
  DImageDib d;
  ASSERT_TRUE(s.Create(2, 1, 0, F::ARGB4444));
  ASSERT_TRUE(d.Create(4, 2, 0, F::ARGB4444));
  const std::uint8_t words[4] = {0x21, 0xF3, 0x65, 0x07};
  std::memcpy(s.GetBits(), words, 4);
  DimgStretchBlt16(d.GetTopLine(), d, 0, 0, 4, 2, s.GetTopLine(), s, 0, 0, 2, 1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(d.GetPixelPointer(x, y)[0], words[(x / 2) * 2]);
      EXPECT_EQ(d.GetPixelPointer(x, y)[1], words[(x / 2) * 2 + 1]);
    }
  DimgStretchBlt16(nullptr, d, 0, 0, 4, 2, s.GetTopLine(), s, 0, 0, 2, 1);  // nothing, no fault
}

}  // namespace
