// Text unit: the stamp of canvas text into 16-bit images (ink colour, untouched pixels, clipping
// on every side), canvas reuse and growth, text positions and mode 1, measuring, fonts.
#include "display/text/text_unit.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "display/draw/draw_image.h"
#include "display/draw/image_handle.h"
#include "imaging/hal/dhal.h"
#include "platform/gdi.h"

namespace {

class TextUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DHalInit(6));
    ASSERT_TRUE(canvas_.Create());
    font_ = CreateTextFont(20, 400);
    ASSERT_TRUE(font_);
  }
  void TearDown() override {
    canvas_.Close();
    DHalTerm();
  }

  // An image of the format filled with a pattern no text colour uses.
  static DImage Image(std::uint32_t format, int w, int h) {
    DImage im;
    EXPECT_TRUE(im.Create(w, h, ((2 * w + 15) / 16) * 16, static_cast<DimgFormat>(format)));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Px(im, x, y) = static_cast<std::uint16_t>(0x0101 * ((x + 3 * y) % 7) + 1);
    return im;
  }
  static std::uint16_t& Px(DImage& im, int x, int y) {
    return *reinterpret_cast<std::uint16_t*>(im.GetPixelPointer(x, y));
  }
  static std::vector<std::uint16_t> Pixels(DImage& im) {
    std::vector<std::uint16_t> out;
    for (std::uint32_t y = 0; y < im.GetHeight(); ++y)
      for (std::uint32_t x = 0; x < im.GetWidth(); ++x) out.push_back(Px(im, x, y));
    return out;
  }
  // The text width of one line as GDI measures it with the font.
  int Width(const char* s) {
    SIZE sz{};
    HDC dc = canvas_.GetDC().GetHandle();
    SelectObject(dc, font_->font->GetHandle());
    GetTextExtentPoint32A(dc, s, static_cast<int>(std::strlen(s)), &sz);
    return sz.cx;
  }

  DGdiCanvas canvas_;
  DRef<TextFont> font_;
};

// Every target pixel is the colour exactly where its canvas pixel (mapped back through the text
// position and box) holds ink inside the box, and keeps its value everywhere else.
TEST_F(TextUnitTest, StampTakesInkAndKeepsTheRest) {
  struct Case {
    int x, y, bx, by, bw, bh;
  } cases[] = {
      {0, 0, 0, 0, 120, 50},
      {5, 3, 10, 4, 120, 50},
      {-10, 0, 0, 0, 120, 50},
      {0, -7, 2, 2, 120, 50},
      {30, 0, 0, 0, 60, 50},
      {0, 0, -15, -9, 120, 50},
      {-3, -4, 90, 30, 120, 50},
      {0, 0, 0, 0, 5000, 30},
      {0, 0, 0, 0, -5, 40},
      {0, 0, 0, 0, 40, -1},
      {INT_MIN, 0, 0, 0, 80, 40},
      {0, INT_MAX, 0, 0, 80, 40},
      {INT_MAX, INT_MAX, 0, 0, 80, 40},
      {0, 0, INT_MIN, INT_MIN, 100, 60},
      {0, 0, INT_MAX, 0, 100, 60},
      {-1000, -1000, 500, 500, 100, 60},
  };
  const char* text = "Ag確あ\nｱｲ12";
  for (std::uint32_t format : {6u, 4u}) {
    for (const Case& c : cases) {
      const int W = 100, H = 40;
      DImage im = Image(format, W, H);
      std::vector<std::uint16_t> before = Pixels(im);
      const std::uint16_t colour = format == 6 ? 0xF81F : 0x7FE0;
      DRect r =
          canvas_.DrawTextToImage(im, *font_, colour, c.x, c.y, DRect(c.bx, c.by, c.bw, c.bh), text, 0x212);
      const int bw = std::max(c.bw, 0), bh = std::max(c.bh, 0);
      ASSERT_GE(canvas_.GetSize().x, std::max(bw, 640));
      ASSERT_EQ(canvas_.GetSize().x % 2, 0);
      const long long ox = (long long)c.bx + std::max(c.x, 0), oy = (long long)c.by + std::max(c.y, 0);
      const long long cx0 = std::max(-(long long)c.x, 0LL), cy0 = std::max(-(long long)c.y, 0LL);
      int inked = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          long long cx = x - ox + cx0, cy = y - oy + cy0;
          bool ink = cx >= cx0 && cy >= cy0 && cx < bw && cy < bh &&
                     canvas_.GetBits()[cy * canvas_.GetSize().x + cx] != 0;
          inked += ink;
          ASSERT_EQ(Px(im, x, y), ink ? colour : before[y * W + x])
              << format << " case " << c.x << "," << c.y << "," << c.bx << "," << c.by << "," << c.bw << ","
              << c.bh << " at " << x << "," << y;
        }
      if (c.x == 0 && c.y == 0 && c.bx == 0 && c.by == 0 && c.bw == 120) {
        EXPECT_GT(inked, 100);
        EXPECT_EQ(r.height, 40);  // two lines of the 20-pixel font
      }
    }
  }
}

TEST_F(TextUnitTest, NegativeXCutsColumns) {
  DImage a = Image(6, 100, 30), b = Image(6, 100, 30);
  DImage base = Image(6, 100, 30);
  canvas_.DrawTextToImage(a, *font_, 0xFFFF, 0, 0, DRect(0, 0, 100, 30), "WWWWWWWW", 0x212);
  canvas_.DrawTextToImage(b, *font_, 0xFFFF, -10, 0, DRect(0, 0, 100, 30), "WWWWWWWW", 0x212);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x) {
      std::uint16_t want = x < 90 ? (Px(a, x + 10, y) == 0xFFFF ? 0xFFFF : Px(base, x, y)) : Px(base, x, y);
      ASSERT_EQ(Px(b, x, y), want) << x << "," << y;
    }
}

// A small box after a large one stamps only its own text: nothing left in the canvas shows.
TEST_F(TextUnitTest, CanvasIsReusedAndClearedPerBox) {
  DImage big = Image(6, 640, 480);
  std::string lines;
  for (int i = 0; i < 24; ++i) lines += "■■■■■■■■■■■■■■■■■■■■■■■■■■■■■■■■\n";
  canvas_.DrawTextToImage(big, *font_, 0x001F, 0, 0, DRect(0, 0, 640, 480), lines.c_str(), 0x212);
  const std::uint16_t* bits = canvas_.GetBits();
  EXPECT_EQ(canvas_.GetSize().x, 640);
  EXPECT_EQ(canvas_.GetSize().y, 480);
  DImage used = Image(6, 200, 60);
  canvas_.DrawTextToImage(used, *font_, 0x001F, 0, 0, DRect(0, 0, 100, 20), "ab", 0x212);
  EXPECT_EQ(canvas_.GetBits(), bits);  // the same section
  DGdiCanvas fresh;
  ASSERT_TRUE(fresh.Create());
  DImage clean = Image(6, 200, 60);
  fresh.DrawTextToImage(clean, *font_, 0x001F, 0, 0, DRect(0, 0, 100, 20), "ab", 0x212);
  EXPECT_EQ(Pixels(used), Pixels(clean));
  // A box that does not fit rebuilds at the box's size (even width); a later small box keeps it.
  DImage wide = Image(6, 1000, 10);
  canvas_.DrawTextToImage(wide, *font_, 1, 0, 0, DRect(0, 0, 901, 10), "x", 0x212);
  EXPECT_EQ(canvas_.GetSize().x, 902);
  EXPECT_EQ(canvas_.GetSize().y, 480);
  canvas_.DrawTextToImage(wide, *font_, 1, 0, 0, DRect(0, 0, 100, 500), "x", 0x212);
  EXPECT_EQ(canvas_.GetSize().x, 640);
  EXPECT_EQ(canvas_.GetSize().y, 500);
}

TEST_F(TextUnitTest, FailedGrowthDrawsNothingAndIsRetried) {
  DImage im = Image(6, 50, 30);
  std::vector<std::uint16_t> before = Pixels(im);
  DRect r = canvas_.DrawTextToImage(im, *font_, 0xFFFF, 0, 0, DRect(0, 0, 40000, 40000), "A", 0x212);
  EXPECT_EQ(r.width, 0);
  EXPECT_EQ(r.height, 0);
  EXPECT_EQ(canvas_.GetSize().x, 0);
  EXPECT_EQ(canvas_.GetSize().y, 0);
  EXPECT_EQ(Pixels(im), before);
  r = canvas_.DrawTextToImage(im, *font_, 0xFFFF, 0, 0, DRect(0, 0, 50, 30), "A", 0x212);
  EXPECT_EQ(r.height, 20);
  EXPECT_EQ(canvas_.GetSize().x, 640);
  EXPECT_NE(Pixels(im), before);
}

TEST_F(TextUnitTest, OtherFormatsAreRefused) {
  for (std::uint32_t format : {2u, 5u}) {
    DImage im;
    ASSERT_TRUE(im.Create(20, 20, 80, static_cast<DimgFormat>(format)));
    std::memset(im.GetBits(), 0x11, 80 * 20);
    DRect r = canvas_.DrawTextToImage(im, *font_, 0xFFFF, 0, 0, DRect(0, 0, 20, 20), "A", 0x212);
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(r.height, 0);
    for (int i = 0; i < 80 * 20; ++i) ASSERT_EQ(im.GetBits()[i], 0x11);
  }
}

TEST_F(TextUnitTest, MeasureTwoLines) {
  DRect r = MeasureTextExtent(canvas_, *font_, "ABC\nあいうえ");
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.width, std::max(Width("ABC"), Width("あいうえ")));
  EXPECT_EQ(r.height, 40);
  // The wide box never wraps a long line.
  std::string longline(300, 'M');
  r = MeasureTextExtent(canvas_, *font_, longline.c_str());
  EXPECT_EQ(r.width, Width(longline.c_str()));
  EXPECT_EQ(r.height, 20);
}

class OutputTest : public TextUnitTest {
 protected:
  void SetUp() override {
    TextUnitTest::SetUp();
    image_.Alloc(1);
    ASSERT_TRUE(image_->Create(nullptr, 120, 80));
    image_->Fill(0);
    ASSERT_TRUE(handle_.Attach(DRef<ConnectedImage>::Convert(image_)));
    handle_.Reset();
    handle_.text_color = 0xFFFF;
  }
  DRef<DrawImage> image_;
  ImageHandle handle_;
};

// Mode 1: two outputs of one line each stack like one output of both lines.
TEST_F(OutputTest, ModeOneStacksLines) {
  handle_.text_mode = 1;
  EXPECT_EQ(OutputTextToImage(handle_, canvas_, *font_, "Ab確"), 20);
  EXPECT_EQ(handle_.text_pos.y, 20);
  EXPECT_EQ(font_->last_output.height, 20);
  EXPECT_EQ(font_->last_output.width, Width("Ab確"));
  EXPECT_EQ(OutputTextToImage(handle_, canvas_, *font_, "Ab確"), 20);
  EXPECT_EQ(handle_.text_pos.y, 40);
  std::vector<std::uint16_t> stacked;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) stacked.push_back(image_->GetPixel(x, y));
  image_->Fill(0);
  handle_.text_pos = DPoint(0, 0);
  handle_.text_mode = 0;
  EXPECT_EQ(OutputTextToImage(handle_, canvas_, *font_, "Ab確\nAb確"), 40);
  EXPECT_EQ(handle_.text_pos.y, 0);  // mode 0 keeps the position
  std::vector<std::uint16_t> once;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) once.push_back(image_->GetPixel(x, y));
  EXPECT_EQ(stacked, once);
}

// The handle's box is cut to the image before drawing; a handle without a Draw image draws
// nothing.
TEST_F(OutputTest, BoxLimitedToImage) {
  handle_.text_box = DRect(0, 0, 100000, 100000);
  EXPECT_EQ(OutputTextToImage(handle_, canvas_, *font_, "A"), 20);
  EXPECT_EQ(canvas_.GetSize().x, 640);  // the box became 120 x 80
  EXPECT_EQ(canvas_.GetSize().y, 480);
  ImageHandle empty;
  EXPECT_EQ(OutputTextToImage(empty, canvas_, *font_, "A"), 0);
}

TEST(TextUnit, FontsAndGlobalCanvas) {
  DRef<TextFont> f = CreateTextFont(20, 700);
  ASSERT_TRUE(f);
  LOGFONTA lf{};
  ASSERT_TRUE(f->font->GetLogFont(&lf));
  EXPECT_EQ(lf.lfHeight, 20);
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
  EXPECT_EQ(lf.lfPitchAndFamily, 0x31);
  EXPECT_STREQ(lf.lfFaceName, "ＭＳ ゴシック");
  EXPECT_EQ(f->last_output.width, 0);
  // The unit's canvas exists between start and stop; stopping twice is harmless.
  StopTextUnit();
  EXPECT_EQ(TextCanvas(), nullptr);
  ASSERT_TRUE(StartTextUnit());
  ASSERT_NE(TextCanvas(), nullptr);
  EXPECT_EQ(TextCanvas()->GetSize().x, 0);
  StopTextUnit();
  StopTextUnit();
  EXPECT_EQ(TextCanvas(), nullptr);
  ASSERT_TRUE(InitDefaultTextFont());
  ASSERT_TRUE(DefaultTextFont());
  TEXTMETRICA tm{};
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, DefaultTextFont()->font->GetHandle());
  GetTextMetricsA(dc, &tm);
  DeleteDC(dc);
  EXPECT_EQ(tm.tmHeight, 20);
  TermDefaultTextFont();
  EXPECT_FALSE(DefaultTextFont());
}

}  // namespace
