// Text output against a reference drawn straight from FreeType and the IPAGothic file, and the
// exact layout of wrapped, right, centred and bottom text.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "display/draw/draw_image.h"
#include "display/draw/image_handle.h"
#include "display/text/text_unit.h"
#include "imaging/hal/dhal.h"
#include "platform/gdi.h"

namespace {

constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

// A monochrome picture, one byte a pixel.
struct Mono {
  int w = 0, h = 0;
  std::vector<std::uint8_t> px;
  Mono(int width, int height) : w(width), h(height), px(size_t(width) * height) {}
  bool At(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && px[size_t(y) * w + x]; }
};

// The line drawn by FreeType alone: the cell height as GDI takes it (the face's Windows ascent
// plus descent scaled to the height), hinted and rendered monochrome, the pen moving by the
// rounded advances. The advances are written to `pens` (start of each character).
Mono Reference(FT_Face face, int height, const std::u32string& text, int width, int rows,
               std::vector<int>* pens) {
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const long long a = os2->usWinAscent, d = os2->usWinDescent, upem = face->units_per_EM;
  const int ppem = static_cast<int>((2 * height * upem + (a + d)) / (2 * (a + d)));
  const int ascent = static_cast<int>((2 * height * a + (a + d)) / (2 * (a + d)));
  FT_Set_Pixel_Sizes(face, 0, ppem);
  Mono out(width, rows);
  int pen = 0;
  for (char32_t c : text) {
    pens->push_back(pen);
    EXPECT_EQ(FT_Load_Char(face, c, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
    EXPECT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO), 0);
    const FT_Bitmap& bm = face->glyph->bitmap;
    for (unsigned y = 0; y < bm.rows; ++y)
      for (unsigned x = 0; x < bm.width; ++x) {
        if (!(bm.buffer[y * bm.pitch + (x >> 3)] & (0x80 >> (x & 7)))) continue;
        int px = pen + face->glyph->bitmap_left + int(x), py = ascent - face->glyph->bitmap_top + int(y);
        if (px >= 0 && py >= 0 && px < width && py < rows) out.px[size_t(py) * width + px] = 1;
      }
    pen += static_cast<int>((face->glyph->advance.x + 32) >> 6);
  }
  pens->push_back(pen);
  return out;
}

class GoldenText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DHalInit(6));
    ASSERT_TRUE(canvas_.Create());
  }
  void TearDown() override {
    canvas_.Close();
    DHalTerm();
  }
  // Draws through an image handle into a fresh black image; the ink as a picture.
  Mono Output(TextFont& font, const char* text, int w, int h, DRect box, std::uint32_t layout,
              DPoint pos = DPoint(0, 0)) {
    DRef<DrawImage> im;
    im.Alloc(1);
    EXPECT_TRUE(im->Create(nullptr, w, h));
    im->Fill(0);
    ImageHandle handle;
    EXPECT_TRUE(handle.Attach(DRef<ConnectedImage>::Convert(im)));
    handle.Reset();
    handle.text_box = box;
    handle.text_color = 0xFFFF;
    handle.layout = layout;
    handle.text_pos = pos;
    OutputTextToImage(handle, canvas_, font, text);
    Mono out(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint16_t p = im->GetPixel(x, y);
        EXPECT_TRUE(p == 0 || p == 0xFFFF);
        out.px[size_t(y) * w + x] = p != 0;
      }
    return out;
  }
  // The widths the platform gives the font.
  static int Extent(TextFont& font, const char* s) {
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, font.font->GetHandle());
    SIZE sz{};
    GetTextExtentPoint32A(dc, s, static_cast<int>(std::strlen(s)), &sz);
    DeleteDC(dc);
    return sz.cx;
  }
  DGdiCanvas canvas_;
};

// Per character: the ink's bounding box within 1 pixel and an overlap (IoU) of at least 0.95.
TEST_F(GoldenText, LineMatchesFreeTypeAtEveryHeight) {
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  ASSERT_EQ(FT_New_Face(lib, kIpaGothic, 0, &face), 0);
  const char* text = "かなカナ確認漢字Agy09ｱｶﾞﾝ";
  const std::u32string chars = U"かなカナ確認漢字Agy09ｱｶﾞﾝ";
  for (int height : {12, 16, 20, 24}) {
    SCOPED_TRACE(height);
    DRef<TextFont> font = CreateTextFont(height, 400);
    ASSERT_TRUE(font);
    const int W = 600, H = 40;
    Mono got = Output(*font, text, W, H, DRect(0, 0, W, H), 0x212);
    std::vector<int> pens;
    Mono want = Reference(face, height, chars, W, H, &pens);
    EXPECT_EQ(pens.back(), Extent(*font, text));
    for (size_t i = 0; i < chars.size(); ++i) {
      int x0 = W, y0 = H, x1 = -1, y1 = -1, gx0 = W, gy0 = H, gx1 = -1, gy1 = -1;
      int both = 0, either = 0;
      for (int y = 0; y < H; ++y)
        for (int x = pens[i]; x < pens[i + 1]; ++x) {
          bool a = want.At(x, y), b = got.At(x, y);
          both += a && b;
          either += a || b;
          if (a) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
          if (b)
            gx0 = std::min(gx0, x), gx1 = std::max(gx1, x), gy0 = std::min(gy0, y), gy1 = std::max(gy1, y);
        }
      ASSERT_GT(either, 0) << i;
      EXPECT_LE(std::abs(x0 - gx0), 1) << i;
      EXPECT_LE(std::abs(x1 - gx1), 1) << i;
      EXPECT_LE(std::abs(y0 - gy0), 1) << i;
      EXPECT_LE(std::abs(y1 - gy1), 1) << i;
      EXPECT_GE(double(both) / either, 0.95) << "character " << i;
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}

// The ink's bounding box (x0, y0, x1, y1), inclusive; x1 < x0 when there is none.
struct Box {
  int x0, y0, x1, y1;
};
Box InkBox(const Mono& m, int ya = 0, int yb = -1) {
  if (yb < 0) yb = m.h;
  Box b{m.w, m.h, -1, -1};
  for (int y = ya; y < yb; ++y)
    for (int x = 0; x < m.w; ++x)
      if (m.At(x, y))
        b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x), b.y0 = std::min(b.y0, y),
        b.y1 = std::max(b.y1, y);
  return b;
}
// m shifted by (dx, dy) equals n.
bool Shifted(const Mono& m, const Mono& n, int dx, int dy) {
  for (int y = 0; y < n.h; ++y)
    for (int x = 0; x < n.w; ++x)
      if (n.At(x, y) != m.At(x - dx, y - dy)) return false;
  return true;
}

TEST_F(GoldenText, WrappedLinesBreakAtTheBoxWidth) {
  DRef<TextFont> font = CreateTextFont(20, 400);
  const int fw = Extent(*font, "■"), line = 20;
  ASSERT_GT(fw, 0);
  // Five full-width characters fit, a sixth does not: 12 characters make lines of 5, 5 and 2.
  const int bw = 5 * fw + fw / 2;
  Mono got = Output(*font, "■■■■■■■■■■■■", 200, 100, DRect(0, 0, bw, 100), 0x212);
  const int per_line[] = {5, 5, 2};
  for (int k = 0; k < 3; ++k) {
    Box b = InkBox(got, k * line, (k + 1) * line);
    ASSERT_GE(b.x1, 0) << k;
    // The last character of the line starts at (n - 1) x width and ends before n x width.
    EXPECT_GT(b.x1, (per_line[k] - 1) * fw) << k;
    EXPECT_LT(b.x1, per_line[k] * fw) << k;
    EXPECT_LT(b.x0, fw) << k;
  }
  EXPECT_LT(InkBox(got, 3 * line).x1, 0);  // nothing below the third line
  // Each line's ink is the first line's moved down by a line height.
  Mono one = Output(*font, "■■", 200, 100, DRect(0, 0, bw, 100), 0x212);
  Mono third(200, 100);
  for (int y = 2 * line; y < 100; ++y)
    for (int x = 0; x < 200; ++x) third.px[size_t(y) * 200 + x] = got.At(x, y);
  EXPECT_TRUE(Shifted(one, third, 0, 2 * line));
  // A line feed breaks too; the measured height counts the lines.
  DRect r = MeasureTextExtent(canvas_, *font, "■■\n■\n■■■");
  EXPECT_EQ(r.height, 3 * line);
  EXPECT_EQ(r.width, 3 * fw);
}

TEST_F(GoldenText, RightCentreAndBottomPlacements) {
  DRef<TextFont> font = CreateTextFont(16, 400);
  const char* text = "Ab確ｱ";
  const int w = Extent(*font, text), line = 16, BW = 150, BH = 60;
  Mono left = Output(*font, text, 200, 80, DRect(0, 0, BW, BH), 0x212);
  ASSERT_GE(InkBox(left).x1, 0);
  struct Case {
    std::uint32_t layout;
    int dx, dy;
  } cases[] = {
      {0x200 | kDtwRight, BW - w, 0},
      {0x200 | kDtwCenter, (BW - w) / 2, 0},
      {0x200 | kDtwBottom, 0, BH - line},
      {0x200 | kDtwRight | kDtwBottom, BW - w, BH - line},
      {0x200 | kDtwVCenter, 0, (BH - line) / 2},
  };
  for (const Case& c : cases) {
    Mono got = Output(*font, text, 200, 80, DRect(0, 0, BW, BH), c.layout);
    EXPECT_TRUE(Shifted(left, got, c.dx, c.dy)) << std::hex << c.layout;
  }
  // The box is not moved by the text position: a positive x moves the laid-out block, which may
  // then reach past the box's right side up to the image's edge.
  Mono moved = Output(*font, text, 200, 80, DRect(0, 0, BW, BH), 0x200 | kDtwRight, DPoint(30, 5));
  EXPECT_TRUE(Shifted(left, moved, BW - w + 30, 5));
  EXPECT_GT(InkBox(moved).x1, BW);
}

}  // namespace
