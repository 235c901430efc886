// DDC: DrawTextWrapped's layout through a DC with fixed widths, the composite frames, the
// decipoint heights and window DCs.
#include "base/ddc.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/dapplication.h"
#include "platform/client_surface.h"
#include "platform/host.h"

namespace {

struct Draw {
  int x, y;
  std::string bytes;
  bool operator==(const Draw&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Draw& d) {
  return o << "(" << d.x << ", " << d.y << ", \"" << d.bytes << "\")";
}

// Fixed widths: a space 6, another single byte 10, a double-byte character 20, all 16 high.
// Text output is recorded, not drawn.
class FakeDC : public DDC {
 public:
  using DDC::ExtTextOut;
  std::vector<Draw> draws;
  int extent_calls = 0;

  DPoint GetTextExtent(const DString& text, uint32_t count) override {
    ++extent_calls;
    const char* t = text.Text();
    uint32_t n = count ? count : text.Length();
    int w = 0;
    for (uint32_t i = 0; i < n && t[i];) {
      if (DIsLeadByte(t[i]) && i + 1 < n) {
        w += 20;
        i += 2;
      } else {
        w += t[i] == ' ' ? 6 : 10;
        ++i;
      }
    }
    return DPoint(w, 16);
  }
  bool ExtTextOut(int x, int y, UINT options, const DRect&, const DString& text, uint32_t count,
                  const int*) override {
    EXPECT_EQ(options, static_cast<UINT>(ETO_CLIPPED));
    draws.push_back({x, y, std::string(text.Text(), count)});
    return true;
  }
};

struct Case {
  const char* name;
  std::string text;
  uint32_t length;  // 0: the whole text
  DRect area;
  DPoint scroll;
  int tab;
  uint32_t flags;
  DRect want;
  std::vector<Draw> draws;
};

TEST(DrawTextWrapped, LaysOutLinesAsSpecified) {
  const DRect big(0, 0, 1000, 1000);
  const std::string many(1100, 'a');
  const Case cases[] = {
      {"empty", "", 0, big, {}, 8, 0, {0, 0, 0, 0}, {}},
      {"final line feed adds no line", "ab\n", 0, big, {}, 8, 0, {0, 0, 20, 16}, {{0, 0, "ab"}}},
      {"two line feeds: an empty line",
       "ab\n\ncd",
       0,
       big,
       {},
       8,
       0,
       {0, 0, 20, 48},
       {{0, 0, "ab"}, {0, 16, ""}, {0, 32, "cd"}}},
      {"tab at byte 3", "abc\tx", 0, big, {}, 8, 0, {0, 0, 70, 16}, {{0, 0, "abc     x"}}},
      {"tab at byte 8", "abcdefgh\tx", 0, big, {}, 8, 0, {0, 0, 138, 16}, {{0, 0, "abcdefgh        x"}}},
      {"tab width 0 is taken as 1", "a\tb", 0, big, {}, 0, 0, {0, 0, 26, 16}, {{0, 0, "a b"}}},
      {"two lines scrolled away count nowhere",
       "a\nb\nc",
       0,
       big,
       {0, 2},
       8,
       0,
       {0, 0, 10, 16},
       {{0, 0, "c"}}},
      {"scroll past a double-byte character", "表xy", 0, big, {3, 0}, 8, 0, {0, 0, 10, 16}, {{0, 0, "y"}}},
      {"straddled character shifts a space", "表xy", 0, big, {1, 0}, 8, 0, {0, 0, 20, 16}, {{6, 0, "xy"}}},
      {"wrap at 100",
       "aaaaaaaaaaaa",
       0,
       {0, 0, 100, 100},
       {},
       8,
       0x200,
       {0, 0, 100, 32},
       {{0, 0, "aaaaaaaaaa"}, {0, 16, "aa"}}},
      {"no wrap: one clipped line",
       "aaaaaaaaaaaa",
       0,
       {0, 0, 100, 100},
       {},
       8,
       0,
       {0, 0, 120, 16},
       {{0, 0, "aaaaaaaaaaaa"}}},
      {"wrap: a character wider than the area still advances",
       "ab表",
       0,
       {0, 0, 5, 100},
       {},
       8,
       0x200,
       {0, 0, 20, 48},
       {{0, 0, "a"}, {0, 16, "b"}, {0, 32, "表"}}},
      {"wrap: a tab wider than the area still advances",
       "\t\t",
       0,
       {0, 0, 5, 100},
       {},
       8,
       0x200,
       {0, 0, 48, 32},
       {{0, 0, "        "}, {0, 16, "        "}}},
      {"line split after 1024 bytes",
       many,
       0,
       {0, 0, 20000, 100},
       {},
       8,
       0,
       {0, 0, 10240, 32},
       {{0, 0, many.substr(0, 1024)}, {0, 16, many.substr(0, 76)}}},
      {"half-width katakana drawn, controls dropped",
       "a\x01\x7F\x80\xA0\xFD\xFE\xFF\xB1\xDF\x1F"
       "b",
       0,
       big,
       {},
       8,
       0,
       {0, 0, 40, 16},
       {{0, 0,
         "a\xB1\xDF"
         "b"}}},
      {"lead byte at the end is dropped", "a\x88", 0, big, {}, 8, 0, {0, 0, 10, 16}, {{0, 0, "a"}}},
      {"lead byte whose trail is past length", "ab表", 3, big, {}, 8, 0, {0, 0, 20, 16}, {{0, 0, "ab"}}},
      {"length stops early", "abcdef", 2, big, {}, 8, 0, {0, 0, 20, 16}, {{0, 0, "ab"}}},
      {"measure only draws nothing", "ab\ncd", 0, big, {}, 8, 0x001, {0, 0, 20, 32}, {}},
      // Alignment of a line that fits (30 wide) in (10, 20, 100, 50), and of the block (16 high).
      {"fits: right", "abc", 0, {10, 20, 100, 50}, {}, 8, 0x004, {0, 0, 30, 16}, {{80, 20, "abc"}}},
      {"fits: centre", "abc", 0, {10, 20, 100, 50}, {}, 8, 0x008, {0, 0, 30, 16}, {{45, 20, "abc"}}},
      {"fits: right wins over centre",
       "abc",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x00C,
       {0, 0, 30, 16},
       {{80, 20, "abc"}}},
      {"fits: 0x080 alone does nothing",
       "abc",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x080,
       {0, 0, 30, 16},
       {{10, 20, "abc"}}},
      {"block: bottom", "abc", 0, {10, 20, 100, 50}, {}, 8, 0x020, {0, 0, 30, 16}, {{10, 54, "abc"}}},
      {"block: vertical centre",
       "abc",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x040,
       {0, 0, 30, 16},
       {{10, 37, "abc"}}},
      {"block: bottom wins over centre",
       "abc",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x060,
       {0, 0, 30, 16},
       {{10, 54, "abc"}}},
      // A line of 120 in an area 100 wide.
      {"over: right edge",
       "aaaaaaaaaaaa",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x080,
       {0, 0, 120, 16},
       {{-10, 20, "aaaaaaaaaaaa"}}},
      {"over: centre",
       "aaaaaaaaaaaa",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x008,
       {0, 0, 120, 16},
       {{0, 20, "aaaaaaaaaaaa"}}},
      {"over: 0x004 alone does nothing",
       "aaaaaaaaaaaa",
       0,
       {10, 20, 100, 50},
       {},
       8,
       0x004,
       {0, 0, 120, 16},
       {{10, 20, "aaaaaaaaaaaa"}}},
      // Three lines (48) in an area 20 high.
      {"tall block with 0x040 starts at the top",
       "a\nb\nc",
       0,
       {0, 5, 100, 20},
       {},
       8,
       0x040,
       {0, 0, 10, 48},
       {{0, 5, "a"}, {0, 21, "b"}, {0, 37, "c"}}},
      {"tall block with 0x100 ends at the bottom",
       "a\nb\nc",
       0,
       {0, 5, 100, 20},
       {},
       8,
       0x100,
       {0, 0, 10, 48},
       {{0, -23, "a"}, {0, -7, "b"}, {0, 9, "c"}}},
      {"tall block ignores 0x020",
       "a\nb\nc",
       0,
       {0, 5, 100, 20},
       {},
       8,
       0x020,
       {0, 0, 10, 48},
       {{0, 5, "a"}, {0, 21, "b"}, {0, 37, "c"}}},
  };
  for (const Case& c : cases) {
    FakeDC dc;
    DRect r = dc.DrawTextWrapped(DString(c.text.c_str()), c.length, c.area, c.scroll, c.tab, c.flags);
    EXPECT_EQ(r.x, c.want.x) << c.name;
    EXPECT_EQ(r.y, c.want.y) << c.name;
    EXPECT_EQ(r.width, c.want.width) << c.name;
    EXPECT_EQ(r.height, c.want.height) << c.name;
    EXPECT_EQ(dc.draws, c.draws) << c.name;
  }
}

TEST(DrawTextWrapped, MeasuresEachCharacterAndLaysOutTwice) {
  FakeDC dc;
  dc.DrawTextWrapped("abc", DRect(0, 0, 100, 100), 0);
  // Per pass: the space, three characters, the drawn line's extent.
  EXPECT_EQ(dc.extent_calls, 10);
  FakeDC measure;
  measure.DrawTextWrapped("abc", DRect(0, 0, 100, 100), 1);
  EXPECT_EQ(measure.extent_calls, 5);
}

// A memory DC over a 32-bit DIB section, white.
struct Canvas {
  DDC dc;
  DBitmap bitmap;
  uint32_t* bits = nullptr;
  int width;

  Canvas(int w, int h) : width(w) {
    EXPECT_TRUE(dc.CreateCompatible());
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bits = static_cast<uint32_t*>(bitmap.CreateDIBSection(dc, &info, DIB_RGB_COLORS));
    EXPECT_NE(bits, nullptr);
    dc.SelectObject(bitmap);
    dc.PatBlt(0, 0, w, h, WHITENESS);
  }
  uint32_t At(int x, int y) const { return bits[y * width + x] & 0xFFFFFF; }
};

TEST(DDC, FrameRectMissesTheBottomRightPixelAndDraw3dRectKeepsPenTwo) {
  Canvas c(6, 6);
  c.dc.FrameRect(DRect(1, 1, 4, 4));
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(c.At(i, 1), 0u) << i;
    EXPECT_EQ(c.At(1, i), 0u) << i;
  }
  EXPECT_EQ(c.At(4, 4), 0xFFFFFFu);
  EXPECT_EQ(c.At(4, 3), 0u);
  EXPECT_EQ(c.At(3, 4), 0u);
  DPen light, dark;
  ASSERT_TRUE(light.Create(PS_SOLID, 1, RGB(255, 0, 0)));
  ASSERT_TRUE(dark.Create(PS_SOLID, 1, RGB(0, 0, 255)));
  c.dc.Draw3dRect(0, 0, 6, 6, light, dark);
  EXPECT_EQ(c.At(0, 0), 0xFF0000u);
  EXPECT_EQ(c.At(5, 1), 0x0000FFu);
  EXPECT_EQ(c.dc.GetCurrentPen().GetHandle(), dark.GetHandle());
  c.dc.SelectObject(DPen(GetStockObject(BLACK_PEN)));
}

TEST(DDC, HeightFromDecipointsAndCreationRules) {
  DDC ic;
  ASSERT_TRUE(ic.CreateIC("DISPLAY", DString(), DString(), nullptr));
  EXPECT_FALSE(ic.CreateIC("DISPLAY", DString(), DString(), nullptr));  // already holds one
  EXPECT_EQ(ic.HeightFromDecipoints(120), 16);
  EXPECT_EQ(ic.HeightFromDecipoints(-120), 16);
  EXPECT_EQ(ic.HeightFromDecipoints(INT_MAX), 286331152);  // 64-bit arithmetic
  DDC copy = ic;
  EXPECT_FALSE(copy.IsOwner());
  EXPECT_EQ(copy.GetHandle(), ic.GetHandle());
  EXPECT_TRUE(ic.Delete());
  EXPECT_EQ(copy.GetHandle(), nullptr);
  EXPECT_FALSE(ic.Delete());
  DDC empty;
  EXPECT_EQ(empty.GetTextExtent("abc", 0).x, 0);  // system failure: (0, 0)
  EXPECT_FALSE(empty.PatBlt(0, 0, 1, 1, WHITENESS));
}

TEST(DDC, RealTextMeasuresAndDrawsThroughTheIpaFont) {
  Canvas c(200, 60);
  DFont font;
  ASSERT_TRUE(font.CreateFixed(24, 400, "ＭＳ ゴシック"));
  c.dc.SelectObject(font);
  c.dc.SetBkMode(TRANSPARENT);
  DPoint one = c.dc.GetTextExtent("表", 0);
  DRect m = c.dc.DrawTextWrapped("表示\nab", DRect(0, 0, 200, 60), 1);
  EXPECT_EQ(m.width, 2 * one.x);
  EXPECT_EQ(m.height, 48);
  c.dc.DrawTextWrapped("表示", DRect(0, 0, 200, 60), 0);
  int ink = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) ink += c.At(x, y) == 0;
  EXPECT_GT(ink, 30);
  c.dc.SelectObject(DFont(GetStockObject(SYSTEM_FONT)));
}

LRESULT CALLBACK Plain(HWND h, UINT m, WPARAM w, LPARAM l) {
  return DefWindowProcA(h, m, w, l);
}

TEST(DWindowDC, GetsTheWindowsDcAndGivesItBack) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = Plain;
  wc.lpszClassName = "DdcTestWindow";
  RegisterClassExA(&wc);
  DWindow w;
  ASSERT_TRUE(w.Create("DdcTestWindow", "t", WS_POPUP, 0, 0, 0, 32, 16));
  orvane::host::TakeTrace();
  {
    DWindowDC dc;
    ASSERT_TRUE(w.GetDC(dc));
    EXPECT_FALSE(w.GetDC(dc));  // already holds one
    EXPECT_EQ(WindowFromDC(dc.GetHandle()), w.GetHandle());
    DBrush red;
    ASSERT_TRUE(red.CreateSolid(RGB(255, 0, 0)));
    DGdiObject old = dc.SelectObject(red);
    EXPECT_TRUE(dc.PatBlt(0, 0, 4, 4, PATCOPY));
    dc.SelectObject(old);
  }  // ReleaseDC: presented
  bool presented = false;
  for (const std::string& line : orvane::host::TakeTrace()) presented |= line.rfind("present ", 0) == 0;
  EXPECT_TRUE(presented);
  ClientSurfaceView v{};
  ASSERT_TRUE(ClientSurfaceLock(w.GetHandle(), &v));
  EXPECT_EQ(v.pixels[3 * (v.pitch / 4) + 3] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(v.pixels[4] & 0xFFFFFF, 0u);
  ClientSurfaceUnlock(w.GetHandle(), nullptr);
  DWindowDC whole;
  EXPECT_TRUE(w.GetWindowDC(whole));
  EXPECT_TRUE(whole.Delete());
  EXPECT_EQ(whole.GetHandle(), nullptr);
  w.Destroy();
}

}  // namespace
