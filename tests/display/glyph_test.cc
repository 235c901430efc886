// Anti-aliased characters: level rescaling, the space, the cache, the three writers and their
// clipping, failed renders, and levels and metrics against FreeType and the platform.
#include <ft2build.h>

#include "display/text/dglyph.h"
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_internal.h"

namespace {

constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

LOGFONTA Font(int height) {
  LOGFONTA lf{};
  lf.lfHeight = -height;
  lf.lfWeight = 400;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfQuality = 2;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
  return lf;
}

// The cp932 code of a one-character literal (lead << 8 | trail for a double-byte one).
std::pair<int, int> P(const DPoint& p) {
  return {p.x, p.y};
}

std::uint16_t Code(const char* s) {
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  return u[1] ? static_cast<std::uint16_t>(u[0] << 8 | u[1]) : u[0];
}

TEST(GlyphRescale, EveryPairRoundsHalfToEven) {
  struct Case {
    std::uint32_t source, output, level, want;
  } cases[] = {
      {6, 5, 64, 31},
      {6, 5, 32, 16},
      {6, 5, 0, 0},
      {6, 5, 1, 0},
      {6, 5, 3, 1},
      {6, 8, 64, 255},
      {6, 8, 32, 128},
      {6, 8, 1, 4},
      {6, 4, 64, 15},
      {6, 4, 32, 8},
      {6, 4, 2, 0},
      {4, 5, 16, 31},
      {4, 5, 8, 16},
      {4, 5, 1, 2},
      {4, 8, 16, 255},
      {4, 8, 8, 128},
      {4, 4, 16, 15},
      {4, 4, 8, 8},
      {4, 4, 1, 1},
      {2, 5, 4, 31},
      {2, 5, 2, 16},
      {2, 5, 1, 8},
      {2, 8, 4, 255},
      {2, 8, 1, 64},
      {2, 4, 4, 15},
      {2, 4, 2, 8},
      {2, 4, 1, 4},
      // A level above the source's range counts as its top.
      {6, 5, 200, 31},
      {2, 4, 9, 15},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GlyphRescale(c.level, c.source, c.output), c.want)
        << c.source << "->" << c.output << " " << c.level;
  // Never above the output's top, monotone.
  for (std::uint32_t s : {2u, 4u, 6u})
    for (std::uint32_t o : {4u, 5u, 8u}) {
      std::uint32_t last = 0;
      for (std::uint32_t v = 0; v <= (1u << s); ++v) {
        std::uint32_t r = GlyphRescale(v, s, o);
        EXPECT_LE(r, (1u << o) - 1);
        EXPECT_GE(r, last);
        last = r;
      }
    }
}

class GlyphTest : public ::testing::Test {
 protected:
  // The platform's own metrics of a code in a DC with the same font.
  struct Platform {
    GLYPHMETRICS gm{};
    ABC abc{};
    TEXTMETRICA tm{};
    std::vector<std::uint8_t> gray;  // GGO_GRAY8 levels, rows of (w + 3) & ~3
  };
  static Platform Query(int height, std::uint16_t code, UINT format = GGO_GRAY8_BITMAP) {
    Platform p;
    HDC dc = CreateCompatibleDC(nullptr);
    LOGFONTA lf = Font(height);
    HFONT f = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(dc, f);
    const MAT2 id = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    DWORD n = GetGlyphOutlineA(dc, code, format, &p.gm, 0, nullptr, &id);
    if (n != GDI_ERROR && n > 0) {
      p.gray.resize(n);
      GetGlyphOutlineA(dc, code, format, &p.gm, n, p.gray.data(), &id);
    }
    GetCharABCWidthsA(dc, code, code, &p.abc);
    GetTextMetricsA(dc, &p.tm);
    SelectObject(dc, old);
    DeleteObject(f);
    DeleteDC(dc);
    return p;
  }
};

TEST_F(GlyphTest, RenderedLevelsAreThePlatformsRescaled) {
  struct Case {
    std::uint32_t flags, source, output;
  } cases[] = {{0x20, 6, 5}, {0x00, 6, 8}, {0x10, 6, 4}, {0x04 | 0x20, 4, 5}, {0x02, 2, 8}};
  const std::uint16_t code = Code("確");
  Platform p = Query(24, code);
  ASSERT_FALSE(p.gray.empty());
  const std::uint32_t w = p.gm.gmBlackBoxX, h = p.gm.gmBlackBoxY, pitch = (w + 3) & ~3u;
  for (const Case& c : cases) {
    DGlyph g;
    ASSERT_TRUE(g.Create(c.flags, Font(24)));
    ASSERT_TRUE(g.Render(code));
    ASSERT_EQ(g.GetBoxSize().x, static_cast<int>(w));
    ASSERT_EQ(g.GetBoxSize().y, static_cast<int>(h));
    ASSERT_EQ(g.GetPitch(), pitch);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        std::uint32_t src8 = p.gray[y * pitch + x];
        std::uint32_t want = GlyphRescale(c.source == 6 ? src8 : 0, 6, c.output);
        std::uint32_t got = g.GetLevels()[y * pitch + x];
        if (c.source == 6) {
          ASSERT_EQ(got, want) << x << "," << y;
        } else {
          // Coarser sources: within the step of their range.
          double exact = src8 / 64.0 * ((1u << c.output) - 1);
          ASSERT_LE(std::fabs(got - exact), ((1u << c.output) - 1) / double(1u << c.source) + 1)
              << x << "," << y;
        }
      }
  }
  // GGO_BITMAP with 8-bit output: only 0 and 255.
  DGlyph mono;
  ASSERT_TRUE(mono.Create(kGlyphBitmap, Font(24)));
  ASSERT_TRUE(mono.Render(code));
  int ink = 0;
  for (std::uint32_t i = 0; i < mono.GetPitch() * std::uint32_t(mono.GetBoxSize().y); ++i) {
    std::uint8_t v = mono.GetLevels()[i];
    ASSERT_TRUE(v == 0 || v == 255) << int(v);
    ink += v == 255;
  }
  EXPECT_GT(ink, 20);
}

TEST_F(GlyphTest, MetricsAgainstThePlatform) {
  for (const char* ch : {"確", "あ", "A", "g", "ｱ"}) {
    const std::uint16_t code = Code(ch);
    for (std::uint32_t flags : {0x20u, 0x21u, 0xA0u}) {
      // The monochrome outline's box may sit a pixel off the gray one's.
      Platform p = Query(24, code, (flags & 1) ? GGO_BITMAP : GGO_GRAY8_BITMAP);
      DGlyph g;
      ASSERT_TRUE(g.Create(flags, Font(24)));
      ASSERT_TRUE(g.Render(code)) << ch;
      EXPECT_EQ(g.GetDrawPos().x, p.gm.gmptGlyphOrigin.x) << ch;
      EXPECT_EQ(g.GetDrawPos().y, p.tm.tmAscent - p.gm.gmptGlyphOrigin.y) << ch;
      EXPECT_EQ(g.GetFeed().x, p.abc.abcA + static_cast<int>(p.abc.abcB) + p.abc.abcC) << ch;
      EXPECT_EQ(g.GetFeed().y, p.tm.tmHeight + p.tm.tmExternalLeading);
      EXPECT_EQ(g.GetHeight(), p.tm.tmHeight);
    }
  }
}

TEST_F(GlyphTest, SpaceHasNoBoxAndWritesNothing) {
  Platform p = Query(20, 0x20);
  for (std::uint32_t flags : {0x20u, 0xA0u, 0x21u}) {
    DGlyph g;
    ASSERT_TRUE(g.Create(flags, Font(20)));
    ASSERT_TRUE(g.Render(0x20));
    EXPECT_EQ(P(g.GetBoxSize()), std::make_pair(0, 0));
    EXPECT_EQ(g.GetPitch(), 1u);
    EXPECT_EQ(P(g.GetDrawPos()), std::make_pair(0, 0));
    EXPECT_EQ(g.GetFeed().x, p.abc.abcA + static_cast<int>(p.abc.abcB) + p.abc.abcC);
    EXPECT_GT(g.GetFeed().x, 0);
    std::vector<std::uint8_t> plane(16 * 16, 7);
    g.DrawToAlphaPlane(plane.data(), 0, 0, 16, 16, 16);
    EXPECT_EQ(plane, std::vector<std::uint8_t>(16 * 16, 7));
  }
}

TEST_F(GlyphTest, CacheRendersEachCodeOnce) {
  DGlyph g;
  ASSERT_TRUE(g.Create(kGlyphCache | kGlyphOut5, Font(24)));
  const std::uint16_t a = Code("あ"), k = Code("確");
  ASSERT_TRUE(g.Render(a));
  std::vector<std::uint8_t> first(g.GetLevels(), g.GetLevels() + g.GetPitch() * g.GetBoxSize().y);
  ASSERT_TRUE(g.Render(k));
  std::uint64_t calls = orvane::gdi::GlyphOutlineCalls();
  ASSERT_TRUE(g.Render(a));
  ASSERT_TRUE(g.Render(k));
  ASSERT_TRUE(g.Render(a));
  EXPECT_EQ(orvane::gdi::GlyphOutlineCalls(), calls);
  EXPECT_EQ(std::vector<std::uint8_t>(g.GetLevels(), g.GetLevels() + g.GetPitch() * g.GetBoxSize().y), first);
  // Without the cache every render asks GDI again.
  // The first render also sizes the reference character 0x8A6D: size, reference size, fetch.
  DGlyph u;
  ASSERT_TRUE(u.Create(kGlyphOut5, Font(24)));
  calls = orvane::gdi::GlyphOutlineCalls();
  ASSERT_TRUE(u.Render(a));
  EXPECT_EQ(orvane::gdi::GlyphOutlineCalls(), calls + 3);
  calls = orvane::gdi::GlyphOutlineCalls();
  ASSERT_TRUE(u.Render(a));
  EXPECT_EQ(orvane::gdi::GlyphOutlineCalls(), calls + 2);
}

TEST_F(GlyphTest, FailedRenderLeavesEmptyMetrics) {
  for (std::uint32_t flags : {0x20u, 0xA0u, 0x21u}) {
    DGlyph g;
    ASSERT_TRUE(g.Create(flags, Font(24)));
    // Before any render the current character is empty.
    EXPECT_EQ(P(g.GetBoxSize()), std::make_pair(0, 0));
    EXPECT_EQ(P(g.GetFeed()), std::make_pair(0, 0));
    ASSERT_TRUE(g.Render(Code("確")));
    // 0xFFFF, a lone lead byte, and a pair that is no cp932 character.
    for (std::uint16_t bad : {std::uint16_t{0xFFFF}, std::uint16_t{0x81}, std::uint16_t{0x8120}}) {
      ASSERT_TRUE(g.Render(Code("あ")));
      EXPECT_FALSE(g.Render(bad)) << std::hex << bad;
      EXPECT_EQ(P(g.GetBoxSize()), std::make_pair(0, 0));
      EXPECT_EQ(g.GetPitch(), 0u);
      EXPECT_EQ(P(g.GetFeed()), std::make_pair(0, 0));
      EXPECT_EQ(P(g.GetDrawPos()), std::make_pair(0, 0));
      std::vector<std::uint8_t> plane(40 * 40, 9);
      g.DrawToAlphaPlane(plane.data(), 0, 0, 40, 40, 40);
      EXPECT_EQ(plane, std::vector<std::uint8_t>(40 * 40, 9));
    }
    // A failed code stays renderable later: with the cache it was never committed.
    EXPECT_TRUE(g.Render(Code("確")));
    EXPECT_GT(g.GetBoxSize().x, 0);
  }
  DGlyph closed;
  EXPECT_FALSE(closed.Render(0x41));
}

// Writers: the box placed at each side of a destination writes exactly the visible part, taken
// from the box's matching part, and every pixel of it (ink-less ones too).
TEST_F(GlyphTest, WritersClipOnEverySide) {
  DGlyph g5, g8, g4;
  ASSERT_TRUE(g5.Create(kGlyphOut5, Font(24)));
  ASSERT_TRUE(g8.Create(0, Font(24)));
  ASSERT_TRUE(g4.Create(kGlyphOut4, Font(24)));
  const std::uint16_t code = Code("確");
  ASSERT_TRUE(g5.Render(code) && g8.Render(code) && g4.Render(code));
  const int bw = g5.GetBoxSize().x, bh = g5.GetBoxSize().y;
  const int W = 30, H = 28;
  struct Pos {
    int x, y;
  } positions[] = {{3, 2},
                   {-7, 4},
                   {W - 9, 1},
                   {2, -11},
                   {4, H - 6},
                   {-5, -5},
                   {W - 3, H - 2},
                   {-bw, 0},
                   {W, 0},
                   {0, -bh},
                   {0, H},
                   {-100000, 5},
                   {INT32_MAX - 2, INT32_MIN + 1}};
  for (const Pos& p : positions) {
    std::vector<std::uint8_t> plane(W * H, 99);
    std::vector<std::uint32_t> px32(W * H, 0x00ABCDEFu);
    std::vector<std::uint16_t> px16(W * H, 0x0ABC);
    // Pitch wider than a row: bytes past the row stay untouched.
    std::vector<std::uint8_t> wide((W + 5) * H, 99);
    g5.DrawToAlphaPlane(plane.data(), p.x, p.y, W, H, W);
    g5.DrawToAlphaPlane(wide.data(), p.x, p.y, W, H, W + 5);
    g8.DrawToARGB8888(px32.data(), p.x, p.y, W, H, W * 4);
    g4.DrawToARGB4444(px16.data(), p.x, p.y, W, H, W * 2);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const long long gx = (long long)x - p.x, gy = (long long)y - p.y;
        const bool in = gx >= 0 && gy >= 0 && gx < bw && gy < bh;
        const std::size_t li = in ? std::size_t(gy * g5.GetPitch() + gx) : 0;
        const int i = y * W + x;
        EXPECT_EQ(plane[i], in ? 31 - g5.GetLevels()[li] : 99) << p.x << "," << p.y << " " << x << "," << y;
        EXPECT_EQ(wide[y * (W + 5) + x], plane[i]);
        EXPECT_EQ(px32[i], in ? (0x00ABCDEFu | std::uint32_t(g8.GetLevels()[li]) << 24) : 0x00ABCDEFu);
        EXPECT_EQ(px16[i], in ? (0x0ABC | g4.GetLevels()[li] << 12) : 0x0ABC);
        if (::testing::Test::HasFailure()) return;
      }
    for (int y = 0; y < H; ++y)
      for (int x = W; x < W + 5; ++x) ASSERT_EQ(wide[y * (W + 5) + x], 99);
  }
  // Plane values never exceed 31, even from a character set of 8-bit output.
  std::vector<std::uint8_t> plane(W * H, 0);
  g8.DrawToAlphaPlane(plane.data(), 0, 0, W, H, W);
  for (std::uint8_t v : plane) ASSERT_LE(v, 31);
  // A pitch shorter than a row writes nothing.
  std::vector<std::uint8_t> shortp(W * H, 5);
  g5.DrawToAlphaPlane(shortp.data(), 0, 0, W, H, W - 1);
  EXPECT_EQ(shortp, std::vector<std::uint8_t>(W * H, 5));
}

// Levels of 確 and あ at 24 px against FreeType's own coverage of the IPAGothic file, rescaled:
// within one level, box and origin exact.
TEST_F(GlyphTest, LevelsMatchFreeType) {
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  ASSERT_EQ(FT_New_Face(lib, kIpaGothic, 0, &face), 0);
  ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 24), 0);
  struct Case {
    const char* ch;
    char32_t cp;
  } chars[] = {{"確", U'確'}, {"あ", U'あ'}};
  for (const Case& c : chars) {
    // The same outline the fonts give on screen: hinted for the monochrome grid, rendered gray.
    ASSERT_EQ(FT_Load_Char(face, c.cp, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
    ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL), 0);
    const FT_Bitmap& bm = face->glyph->bitmap;
    struct Pair {
      std::uint32_t flags, source_top, out_top;
    } pairs[] = {{kGlyphOut5, 64, 31}, {kGlyphGray4, 16, 255}};
    for (const Pair& pr : pairs) {
      DGlyph g;
      ASSERT_TRUE(g.Create(pr.flags, Font(24)));
      ASSERT_TRUE(g.Render(Code(c.ch)));
      ASSERT_EQ(P(g.GetBoxSize()), std::make_pair(int(bm.width), int(bm.rows))) << c.ch;
      EXPECT_EQ(g.GetDrawPos().x, face->glyph->bitmap_left);
      EXPECT_EQ(g.GetDrawPos().y, g.GetMetrics().tmAscent - face->glyph->bitmap_top);
      // Coverage 0-255 as the outline's levels, then as output levels.
      for (unsigned y = 0; y < bm.rows; ++y)
        for (unsigned x = 0; x < bm.width; ++x) {
          long q = std::lround(bm.buffer[y * bm.pitch + x] * double(pr.source_top) / 255.0);
          long want = std::lround(q * double(pr.out_top) / pr.source_top);
          long got = g.GetLevels()[y * g.GetPitch() + x];
          ASSERT_LE(std::labs(got - want), 1) << c.ch << " " << x << "," << y;
        }
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}

}  // namespace
