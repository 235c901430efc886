// Blits between draw images: the 22 modes against a per-pixel model, mirrored copies, and blits
// whose source and destination share pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "display/draw/draw_image.h"
#include "display/draw/image_handle.h"
#include "imaging/hal/dhal.h"

namespace {

class DrawBlit : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DHalInit(6)); }
  void TearDown() override { DHalTerm(); }
};

using Picture = std::vector<std::uint16_t>;

Picture Read(const DrawImage& im) {
  Picture p;
  for (int y = 0; y < im.GetHeight(); ++y)
    for (int x = 0; x < im.GetWidth(); ++x) p.push_back(im.GetPixel(x, y));
  return p;
}

void Write(DrawImage& im, const Picture& p) {
  for (int y = 0; y < im.GetHeight(); ++y)
    for (int x = 0; x < im.GetWidth(); ++x) im.PutPixel(x, y, p[std::size_t(y * im.GetWidth() + x)]);
}

// ---- The model: the mode table and each mode's treatment of one pixel, RGB565.

int ModelMode(std::uint32_t kind, int level, bool key_on, bool runs_on, bool plane_on, std::uint32_t flags) {
  const bool key = key_on && (flags & 1);
  const bool runs = key && runs_on;
  auto col = [&](int none, int k, int kr) { return runs ? kr : key ? k : none; };
  if (!(flags & 2) || kind == 0) return col(0, 1, 2);
  if (kind > 6) return 0;
  switch (kind) {
    case 1:
      if (level == 0) return col(0, 1, 2);
      if (level == 31) return 3;
      if (level == 16) return col(13, 14, 15);
      return col(11, 6, 7);
    case 2:
      return plane_on ? col(10, 4, 5) : col(0, 1, 2);
    case 3:
      return plane_on ? col(12, 8, 9) : col(0, 1, 2);
    case 4:
      return col(13, 14, 15);
    case 5:
      return col(16, 17, 18);
    default:
      return col(19, 20, 21);
  }
}

int Ch(std::uint16_t p, int c) {
  return c == 0 ? p >> 11 : c == 1 ? (p >> 6) & 31 : p & 31;
}
std::uint16_t Make(int r, int g, int b) {
  return static_cast<std::uint16_t>((r << 11) | (g << 6) | b);
}

std::uint16_t Combine(int mode, std::uint16_t d, std::uint16_t s, int w) {
  int out[3];
  for (int c = 0; c < 3; ++c) {
    int dc = Ch(d, c), sc = Ch(s, c);
    switch (mode) {
      case 4:
      case 5:
      case 10:
      case 6:
      case 7:
      case 11:
      case 8:
      case 9:
      case 12:
        out[c] = ((w * (dc + 1)) >> 5) + (((31 - w) * (sc + 1)) >> 5);
        break;
      case 13:
      case 14:
      case 15:
        out[c] = (dc >> 1) + (sc >> 1);
        break;
      case 16:
      case 17:
      case 18:
        out[c] = std::min(dc + sc, 31);
        break;
      default:
        out[c] = std::max(dc - sc, 0);
    }
  }
  return Make(out[0], out[1], out[2]);
}

struct Case {
  std::uint32_t kind;
  int level;
  bool key, runs, plane;
  std::uint32_t flags;
};

// What Blt(dx, dy, w, h, src, sx, sy) should leave in dst.
Picture Model(const Picture& dst, int DW, int DH, const Picture& src, const std::vector<std::uint8_t>& runs,
              const std::vector<std::uint8_t>& plane, int SW, int SH, std::uint16_t key, const Case& k,
              int dx, int dy, int w, int h, int sx, int sy) {
  Picture out = dst;
  int m = std::max({0, -dx, -sx});
  dx += m, sx += m, w -= m;
  m = std::max({0, -dy, -sy});
  dy += m, sy += m, h -= m;
  w = std::min({w, DW - dx, SW - sx});
  h = std::min({h, DH - dy, SH - sy});
  if (w <= 0 || h <= 0) return out;
  const int mode = ModelMode(k.kind, k.level, k.key, k.runs, k.plane, k.flags);
  const bool key_test =
      mode == 1 || mode == 4 || mode == 6 || mode == 8 || mode == 14 || mode == 17 || mode == 20;
  const bool run_walk =
      mode == 2 || mode == 5 || mode == 7 || mode == 9 || mode == 15 || mode == 18 || mode == 21;
  for (int y = 0; y < h; ++y) {
    std::vector<bool> treat(std::size_t(w), mode != 3);
    if (key_test) {
      for (int x = 0; x < w; ++x) treat[std::size_t(x)] = src[std::size_t((sy + y) * SW + sx + x)] != key;
    } else if (run_walk) {
      for (int x = 0; x < w;) {
        int n = std::min<int>(runs[std::size_t((sy + y) * SW + sx + x)], w - x);
        bool t = src[std::size_t((sy + y) * SW + sx + x)] != key;
        for (int i = 0; i < n; ++i) treat[std::size_t(x + i)] = t;
        x += n;
      }
    }
    for (int x = 0; x < w; ++x) {
      if (!treat[std::size_t(x)]) continue;
      std::uint16_t s = src[std::size_t((sy + y) * SW + sx + x)];
      std::uint16_t& d = out[std::size_t((dy + y) * DW + dx + x)];
      int mv = plane[std::size_t((sy + y) * SW + sx + x)];
      int wgt = 0;
      if (mode == 4 || mode == 5 || mode == 10) wgt = mv;
      if (mode == 6 || mode == 7 || mode == 11) wgt = k.level;
      if (mode == 8 || mode == 9 || mode == 12) wgt = 31 - (((31 - mv) * (32 - k.level)) >> 5);
      d = mode <= 2 || mode == 0 ? s : Combine(mode, d, s, wgt);
    }
  }
  return out;
}

TEST_F(DrawBlit, EveryModeMatchesThePixelModel) {
  std::mt19937 rng(15);
  const int SW = 23, SH = 17, DW = 29, DH = 19;
  const std::uint16_t key = 0x1214;  // bit 5 clear: a packed colour
  Picture src(std::size_t(SW * SH)), dst(std::size_t(DW * DH));
  std::vector<std::uint8_t> plane(std::size_t(SW * SH));
  for (auto& p : src) p = (rng() % 3 == 0) ? key : static_cast<std::uint16_t>(rng());
  // Runs of key pixels, so the run map has long runs too.
  for (int x = 3; x < 15; ++x) src[std::size_t(2 * SW + x)] = key;
  for (auto& p : dst) p = static_cast<std::uint16_t>(rng());
  for (auto& a : plane) a = static_cast<std::uint8_t>(rng() % 32);
  std::vector<int> seen(22, 0);
  const std::uint32_t kinds[] = {0, 1, 2, 3, 4, 5, 6, 9};
  const int levels[] = {0, 5, 16, 31};
  int cases = 0;
  for (std::uint32_t kind : kinds) {
    for (int level : levels) {
      if (kind != 1 && level != 5 && kind != 3) continue;
      for (int bits = 0; bits < 8; ++bits) {
        for (std::uint32_t flags = 0; flags < 4; ++flags) {
          Case k{kind, level, (bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, flags};
          if (k.runs && !k.key) continue;
          DrawImage s, d;
          ASSERT_TRUE(s.Create(nullptr, SW, SH));
          ASSERT_TRUE(d.Create(nullptr, DW, DH));
          Write(s, src);
          Write(d, dst);
          s.SetTrans(k.key, key >> 11, (key >> 6) & 31, key & 31);
          s.SetFastTrans(k.runs);
          if (k.plane) {
            s.EnableAlpha(true);
            std::copy(plane.begin(), plane.end(), s.GetAlphaPlane().Get());
          }
          s.SetBlend(kind);
          s.SetAlphaKey(static_cast<std::uint32_t>(level));
          // After the run map is built some pixels change: runs keep their old lengths.
          Picture now = src;
          now[5] = key;
          now[std::size_t(SW + 1)] = 0x7777;
          s.PutPixel(5, 0, now[5]);
          s.PutPixel(1, 1, now[std::size_t(SW + 1)]);
          std::vector<std::uint8_t> runs(std::size_t(SW * SH), 1);
          if (k.runs) std::copy(s.GetRunMap().Get(), s.GetRunMap().Get() + SW * SH, runs.begin());
          std::uniform_int_distribution<int> pos(-6, 12), size(0, 30);
          for (int r = 0; r < 3; ++r) {
            int dx = pos(rng), dy = pos(rng), w = size(rng), h = size(rng), sx = pos(rng), sy = pos(rng);
            if (r == 0) dx = -3, dy = 0, sx = 0, sy = 0, w = SW, h = SH;  // dx -3 moves sx by 3
            Picture before = Read(d);
            Picture want = Model(before, DW, DH, now, runs, plane, SW, SH, key, k, dx, dy, w, h, sx, sy);
            d.Blt(dx, dy, w, h, s, sx, sy, flags);
            ASSERT_EQ(Read(d), want) << "kind " << kind << " level " << level << " bits " << bits << " flags "
                                     << flags << " rect " << dx << "," << dy << " " << w << "x" << h
                                     << " from " << sx << "," << sy;
            // The begin / rect / end form draws the same.
            Write(d, before);
            d.BeginBlt(s, flags);
            d.BltRect(dx, dy, w, h, sx, sy);
            d.EndBlt();
            ASSERT_EQ(Read(d), want);
            ++cases;
          }
          ++seen[std::size_t(ModelMode(kind, level, k.key, k.runs, k.plane, flags))];
          d.BeginBlt(s, flags);
          EXPECT_EQ(d.GetBltMode(), std::uint32_t(ModelMode(kind, level, k.key, k.runs, k.plane, flags)));
          d.EndBlt();
        }
      }
    }
  }
  for (int m = 0; m < 22; ++m) EXPECT_GT(seen[std::size_t(m)], 0) << "mode " << m << " never chosen";
  EXPECT_GT(cases, 100);
}

TEST_F(DrawBlit, BltRectWithoutBeginDrawsNothing) {
  DrawImage d;
  d.Create(nullptr, 4, 4);
  d.Fill(1);
  d.BltRect(0, 0, 4, 4, 0, 0);
  EXPECT_EQ(d.GetPixel(2, 2), 1);
}

TEST_F(DrawBlit, MirrorFlags) {
  const int W = 5, H = 4;
  DrawImage s, d;
  s.Create(nullptr, W, H);
  d.Create(nullptr, W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) s.PutPixel(x, y, static_cast<std::uint16_t>(y * 16 + x));
  s.SetTrans(true, 0, 0, 0);  // ignored: a plain copy
  for (std::uint32_t flags = 0; flags < 4; ++flags) {
    // A part rectangle: 3 x 2 from (1, 1) to (2, 1).
    d.Fill(0xFFFF);
    d.BltMirror(2, 1, 3, 2, s, 1, 1, flags);
    for (int k = 0; k < 2; ++k) {
      for (int i = 0; i < 3; ++i) {
        int srow = (flags & 2) ? H - 1 - 1 - k : 1 + k;
        int dcol = (flags & 1) ? 2 + 3 - 1 - i : 2 + i;
        EXPECT_EQ(d.GetPixel(dcol, 1 + k), srow * 16 + 1 + i) << flags;
      }
    }
    EXPECT_EQ(d.GetPixel(0, 0), 0xFFFF);
  }
  d.BltMirror(0, 0, W, H, s, 0, 0, 3);  // the whole image turned by 180 degrees
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) EXPECT_EQ(d.GetPixel(x, y), s.GetPixel(W - 1 - x, H - 1 - y));
}

// Blits of an image onto itself with overlapping rectangles equal the same blits from a copy.
TEST_F(DrawBlit, OverlappingSelfBlitsReadTheSourceFirst) {
  std::mt19937 rng(7);
  const int W = 40, H = 30;
  Picture pic(std::size_t(W * H));
  for (auto& p : pic) p = static_cast<std::uint16_t>(rng());
  WipeMap map;
  map.width = W;
  map.height = H;
  map.data.Alloc(W * H);
  for (int i = 0; i < W * H; ++i) map.data[i] = static_cast<std::uint16_t>(0x8000 | (rng() % 0x8000));
  for (int op = 0; op < 6; ++op) {
    DrawImage self, copy, ref;
    self.Create(nullptr, W, H);
    ref.Create(nullptr, W, H);
    Write(self, pic);
    Write(ref, pic);
    self.EnableAlpha(true);
    for (int i = 0; i < W * H; ++i) self.GetAlphaPlane()[i] = static_cast<std::uint8_t>(rng() % 32);
    ASSERT_TRUE(copy.CopyFrom([&] {
      DRef<DrawImage> r;
      r.Attach(&self);
      return r;
    }()));
    ref.EnableAlpha(true);
    std::copy(self.GetAlphaPlane().Get(), self.GetAlphaPlane().Get() + W * H, ref.GetAlphaPlane().Get());
    self.SetBlend(op == 1 ? 2 : op == 2 ? 4 : 0);
    copy.SetBlend(self.GetBlend());
    switch (op) {
      case 0:
      case 1:
      case 2:
        self.Blt(3, 2, 30, 20, self, 0, 0, 3);
        ref.Blt(3, 2, 30, 20, copy, 0, 0, 3);
        break;
      case 3:
        self.BltMirror(2, 3, 30, 20, self, 0, 0, 3);
        ref.BltMirror(2, 3, 30, 20, copy, 0, 0, 3);
        break;
      case 4:
        self.BltWipe(self, 4, 1, 30, 20, 0, 0, map, 12000, 1);
        ref.BltWipe(copy, 4, 1, 30, 20, 0, 0, map, 12000, 1);
        break;
      default: {
        DRef<DrawImage> dup;
        dup.Alloc(1);
        DRef<DrawImage> me;
        me.Attach(&self);
        ASSERT_TRUE(dup->Duplicate(me));  // shares the pixels
        self.Blt(1, 1, 30, 20, *dup, 0, 0, 0);
        ref.Blt(1, 1, 30, 20, copy, 0, 0, 0);
      }
    }
    EXPECT_EQ(Read(self), Read(ref)) << "op " << op;
  }
}

}  // namespace
