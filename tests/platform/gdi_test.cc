// GDI: the handle table, DIB sections, blits and lines at exact pixels, clipping at extreme
// rectangles, the IPA font metrics, text against direct FreeType, window DCs and presents.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/client_surface.h"
#include "platform/gdi_internal.h"
#include "platform/host.h"
#include "platform/win32.h"

namespace {

// The real file a font trace line ends with, so the IPA files match whichever link fontconfig gives.
std::string TracedFile(const std::string& line) {
  size_t at = line.find(" -> ");
  if (at == std::string::npos) return "";
  char* real = realpath(line.substr(at + 4).c_str(), nullptr);
  std::string r = real ? real : "";
  free(real);
  return r;
}

// A memory DC with a DIB section of the given depth (masks for 16-bit 5-6-5), top-down or not.
struct Dib {
  HDC dc = nullptr;
  HBITMAP bm = nullptr;
  void* bits = nullptr;
  int width, height, bpp, stride;
  bool top_down;

  Dib(int w, int h, int depth, bool r565 = false, bool td = true)
      : width(w), height(h), bpp(depth), top_down(td) {
    struct {
      BITMAPINFOHEADER h;
      DWORD masks[3];
    } info{};
    info.h.biSize = sizeof(BITMAPINFOHEADER);
    info.h.biWidth = w;
    info.h.biHeight = td ? -h : h;
    info.h.biPlanes = 1;
    info.h.biBitCount = static_cast<WORD>(depth);
    if (r565) {
      info.h.biCompression = BI_BITFIELDS;
      info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
    }
    stride = (w * depth + 31) / 32 * 4;
    dc = CreateCompatibleDC(nullptr);
    bm = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bm) SelectObject(dc, bm);
  }
  ~Dib() {
    DeleteDC(dc);
    DeleteObject(bm);
  }
  std::uint8_t* Row(int y) const {
    return static_cast<std::uint8_t*>(bits) + stride * (top_down ? y : height - 1 - y);
  }
  std::uint32_t Raw(int x, int y) const {
    const std::uint8_t* p = Row(y) + x * bpp / 8;
    if (bpp == 16) return p[0] | (p[1] << 8);
    if (bpp == 24) return p[0] | (p[1] << 8) | (p[2] << 16);
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  void SetRaw(int x, int y, std::uint32_t v) {
    std::uint8_t* p = Row(y) + x * bpp / 8;
    std::memcpy(p, &v, static_cast<size_t>(bpp / 8));
  }
};

TEST(GdiObjects, KindsSizesAndStockObjects) {
  HGDIOBJ pen = CreatePen(PS_SOLID, 2, RGB(1, 2, 3));
  HGDIOBJ brush = CreateSolidBrush(RGB(4, 5, 6));
  LOGFONTA lf{};
  lf.lfHeight = 20;
  HGDIOBJ font = CreateFontIndirectA(&lf);
  PALETTEENTRY pe[3]{};
  struct {
    WORD v, n;
    PALETTEENTRY e[3];
  } pal{0x300, 3, {pe[0], pe[1], pe[2]}};
  HGDIOBJ palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&pal));
  HGDIOBJ bitmap = CreateCompatibleBitmap(nullptr, 4, 4);
  struct Row {
    HGDIOBJ h;
    DWORD kind;
    int size;
  } rows[] = {{pen, OBJ_PEN, sizeof(LOGPEN)},
              {brush, OBJ_BRUSH, sizeof(LOGBRUSH)},
              {font, OBJ_FONT, sizeof(LOGFONTA)},
              {palette, OBJ_PAL, sizeof(WORD)},
              {bitmap, OBJ_BITMAP, sizeof(BITMAP)}};
  for (const Row& r : rows) {
    EXPECT_EQ(GetObjectType(r.h), r.kind);
    EXPECT_EQ(GetObjectA(r.h, 0, nullptr), r.size);
  }
  LOGPEN lp{};
  EXPECT_EQ(GetObjectA(pen, sizeof(lp), &lp), static_cast<int>(sizeof(lp)));
  EXPECT_EQ(lp.lopnWidth.x, 2);
  EXPECT_EQ(lp.lopnColor, RGB(1, 2, 3));
  WORD count = 0;
  EXPECT_EQ(GetObjectA(palette, 8, &count), 2);
  EXPECT_EQ(count, 3);
  DWORD styles[2] = {3, 1};
  LOGBRUSH lb{BS_SOLID, RGB(9, 9, 9), 0};
  HGDIOBJ ext = ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE, 3, &lb, 2, styles);
  EXPECT_EQ(GetObjectType(ext), static_cast<DWORD>(OBJ_EXTPEN));
  std::vector<BYTE> buf(sizeof(EXTLOGPEN) + sizeof(DWORD));
  EXPECT_EQ(GetObjectA(ext, static_cast<int>(buf.size()), buf.data()), static_cast<int>(buf.size()));
  EXPECT_EQ(reinterpret_cast<EXTLOGPEN*>(buf.data())->elpNumEntries, 2u);
  for (const Row& r : rows) EXPECT_TRUE(DeleteObject(r.h));
  EXPECT_TRUE(DeleteObject(ext));
  // Handles are never reused and a deleted one is no object.
  for (const Row& r : rows) EXPECT_EQ(GetObjectType(r.h), 0u);
  HGDIOBJ again = CreateSolidBrush(0);
  for (const Row& r : rows) EXPECT_NE(again, r.h);
  DeleteObject(again);
  // Stock objects survive deletion.
  HGDIOBJ stock = GetStockObject(BLACK_BRUSH);
  EXPECT_TRUE(DeleteObject(stock));
  EXPECT_EQ(GetObjectType(stock), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetStockObject(9), nullptr);
}

TEST(GdiObjects, SelectedObjectsGoWhenDeselectedOrTheirDcDies) {
  Dib dib(4, 4, 32);
  ASSERT_NE(dib.bm, nullptr);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  HGDIOBJ old = SelectObject(dib.dc, red);
  EXPECT_EQ(old, GetStockObject(WHITE_BRUSH));
  EXPECT_TRUE(DeleteObject(red));  // selected: deferred
  EXPECT_TRUE(PatBlt(dib.dc, 0, 0, 1, 1, PATCOPY));
  EXPECT_EQ(dib.Raw(0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(GetObjectType(red), 0u);
  EXPECT_EQ(SelectObject(dib.dc, old), red);
  // A bitmap sits in one DC at a time; deleting it while selected keeps its pixels until the DC goes.
  HDC other = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(other, dib.bm), nullptr);
  EXPECT_TRUE(DeleteObject(dib.bm));
  EXPECT_TRUE(PatBlt(dib.dc, 0, 0, 4, 4, WHITENESS));
  EXPECT_EQ(dib.Raw(3, 3) & 0xFFFFFF, 0xFFFFFFu);
  DeleteDC(other);
  // SaveDC / RestoreDC bring back the selections.
  HPEN pen = CreatePen(PS_SOLID, 1, 0);
  int level = SaveDC(dib.dc);
  EXPECT_EQ(level, 1);
  SelectObject(dib.dc, pen);
  EXPECT_EQ(GetCurrentObject(dib.dc, OBJ_PEN), pen);
  EXPECT_TRUE(RestoreDC(dib.dc, -1));
  EXPECT_EQ(GetCurrentObject(dib.dc, OBJ_PEN), GetStockObject(BLACK_PEN));
  EXPECT_FALSE(RestoreDC(dib.dc, 1));
  EXPECT_TRUE(DeleteObject(pen));
}

TEST(GdiBitmaps, DibSectionFormatsAndSizes) {
  struct Case {
    int w, h, bpp;
    DWORD compression;
    DWORD masks[3];
    bool ok;
  } cases[] = {
      {8, 8, 16, BI_RGB, {}, true},
      {8, 8, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, true},
      {8, 8, 16, BI_BITFIELDS, {0x0F00, 0x00F0, 0x000F}, false},
      {8, 8, 24, BI_RGB, {}, true},
      {8, 8, 32, BI_RGB, {}, true},
      {8, 8, 8, BI_RGB, {}, false},
      {8, 8, 1, BI_RGB, {}, false},
      {0, 8, 32, BI_RGB, {}, false},
      {8, 0, 32, BI_RGB, {}, false},
      {8, INT_MIN, 32, BI_RGB, {}, false},
      {16384, 16385, 32, BI_RGB, {}, false},  // past the 1 GiB cap
      {INT_MAX, INT_MAX, 32, BI_RGB, {}, false},
  };
  for (const Case& c : cases) {
    struct {
      BITMAPINFOHEADER h;
      DWORD masks[3];
    } info{};
    info.h = {sizeof(BITMAPINFOHEADER), c.w, c.h, 1, static_cast<WORD>(c.bpp), c.compression, 0, 0, 0, 0, 0};
    std::memcpy(info.masks, c.masks, sizeof(info.masks));
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP bm =
        CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    EXPECT_EQ(bm != nullptr, c.ok) << c.w << "x" << c.h << "x" << c.bpp;
    if (!bm) {
      EXPECT_EQ(bits, nullptr);
      continue;
    }
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(bm, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmBits, bits);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, (c.w * c.bpp + 31) / 32 * 4);
    EXPECT_EQ(ds.dsBmih.biBitCount, c.bpp);
    DeleteObject(bm);
  }
}

TEST(GdiBlits, ExactPixelsAcrossFormats) {
  // A 2 x 1 5-6-5 source: pure red and a green of 6-bit value 1.
  Dib src(2, 1, 16, true);
  src.SetRaw(0, 0, 0xF800);
  src.SetRaw(1, 0, 0x0020);
  Dib dst(4, 2, 32, false, false);  // bottom-up
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 1, src.dc, 0, 0, 2, 1, SRCCOPY));
  // Bit replication widens 5 and 6 bits; pixel centres pick source 0, 0, 1, 1.
  const std::uint32_t want[4] = {0xFF0000, 0xFF0000, 0x000400, 0x000400};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.Raw(x, 0) & 0xFFFFFF, want[x]) << x;
  // Mirrored: a negative destination width.
  ASSERT_TRUE(StretchBlt(dst.dc, 4, 1, -4, 1, src.dc, 0, 0, 2, 1, SRCCOPY));
  const std::uint32_t mirrored[4] = {0x000400, 0x000400, 0xFF0000, 0xFF0000};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.Raw(x, 1) & 0xFFFFFF, mirrored[x]) << x;
  // 32 to 5-5-5 and 24 bits, through BitBlt.
  Dib w555(4, 2, 16), w24(4, 2, 24);
  ASSERT_TRUE(BitBlt(w555.dc, 0, 0, 4, 2, dst.dc, 0, 0, SRCCOPY));
  ASSERT_TRUE(BitBlt(w24.dc, 0, 0, 4, 2, dst.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(w555.Raw(0, 0), 0x7C00u);
  EXPECT_EQ(w555.Raw(3, 0), 0x0000u);  // 0x04 green is below one 5-bit step
  EXPECT_EQ(w24.Raw(2, 0), 0x000400u);
  // A blit inside one bitmap overlapping itself copies the source as it was.
  Dib row(4, 1, 32);
  for (int x = 0; x < 4; ++x) row.SetRaw(x, 0, static_cast<std::uint32_t>(x + 1));
  ASSERT_TRUE(BitBlt(row.dc, 1, 0, 3, 1, row.dc, 0, 0, SRCCOPY));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(row.Raw(x, 0), static_cast<std::uint32_t>(x == 0 ? 1 : x));
  // Other raster operations fail; PATCOPY, BLACKNESS and WHITENESS fill.
  EXPECT_FALSE(BitBlt(row.dc, 0, 0, 1, 1, row.dc, 0, 0, 0x00EE0086));
  EXPECT_TRUE(PatBlt(row.dc, 0, 0, 2, 1, WHITENESS));
  EXPECT_EQ(row.Raw(1, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_TRUE(PatBlt(row.dc, 2, 0, -2, 1, BLACKNESS));  // negative width: (0, 0)-(2, 1)
  EXPECT_EQ(row.Raw(0, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(row.Raw(2, 0), 2u);
}

TEST(GdiBlits, ExtremeRectanglesStayInside) {
  Dib a(8, 8, 16), b(8, 8, 24);
  const int e[] = {INT_MIN, INT_MIN + 1, -9, -1, 0, 3, 9, INT_MAX - 1, INT_MAX};
  for (int x : e) {
    for (int w : e) {
      PatBlt(a.dc, x, x, w, w, WHITENESS);
      BitBlt(a.dc, x, w, w, x, b.dc, w, x, SRCCOPY);
      StretchBlt(b.dc, x, 0, w, 8, a.dc, w, x, x, w, SRCCOPY);
      MoveToEx(a.dc, x, w, nullptr);
      LineTo(a.dc, w, x);
    }
  }
  SUCCEED();  // the sanitizers judge
}

TEST(GdiLines, LineToLeavesOutItsEndPoint) {
  Dib d(4, 4, 32);
  PatBlt(d.dc, 0, 0, 4, 4, WHITENESS);
  MoveToEx(d.dc, 0, 0, nullptr);
  ASSERT_TRUE(LineTo(d.dc, 3, 3));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d.Raw(i, i) & 0xFFFFFF, i < 3 ? 0u : 0xFFFFFFu) << i;
  POINT prev{};
  MoveToEx(d.dc, 1, 1, &prev);
  EXPECT_EQ(prev.x, 3);
  EXPECT_EQ(prev.y, 3);
}

TEST(GdiDevice, DisplayAndInformationContextsAnswerButDoNotDraw) {
  HDC ic = CreateICA("DISPLAY", nullptr, nullptr, nullptr);
  HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(ic, nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(ic, LOGPIXELSY), 96);
  POINT p[2] = {{0, 7}, {0, 0}};
  EXPECT_TRUE(DPtoLP(dc, p, 2));
  EXPECT_EQ(p[0].y, 7);
  EXPECT_FALSE(PatBlt(dc, 0, 0, 1, 1, WHITENESS));
  EXPECT_EQ(CreateDCA("PRINTER", nullptr, nullptr, nullptr), nullptr);
  DeleteDC(ic);
  DeleteDC(dc);
}

// ---------------------------------------------------------------- text

HFONT Gothic(int height, int weight = FW_NORMAL) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
  return CreateFontIndirectA(&lf);
}

struct FtFace {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  explicit FtFace(int ppem) {
    FT_Init_FreeType(&lib);
    FT_New_Face(lib, "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0, &face);
    if (face) FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem));
  }
  ~FtFace() {
    if (face) FT_Done_Face(face);
    FT_Done_FreeType(lib);
  }
};

TEST(GdiText, IpaGothicMetricsAndTheFontTrace) {
  orvane::host::TakeTrace();
  struct Case {
    int height;
    LONG tm_height, ascent, descent;
  } cases[] = {{20, 20, 16, 4}, {-24, 26, 21, 5}};
  for (const Case& c : cases) {
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT f = Gothic(c.height);
    SelectObject(dc, f);
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(dc, &tm));
    EXPECT_EQ(tm.tmHeight, c.tm_height) << c.height;
    EXPECT_EQ(tm.tmAscent, c.ascent) << c.height;
    EXPECT_EQ(tm.tmDescent, c.descent) << c.height;
    DeleteDC(dc);
    DeleteObject(f);
  }
  std::vector<std::string> fonts;
  for (const std::string& line : orvane::host::TakeTrace())
    if (line.rfind("font ", 0) == 0) fonts.push_back(line);
  ASSERT_EQ(fonts.size(), 2u);
  EXPECT_EQ(fonts[0].rfind("font 'ＭＳ ゴシック' 20 -> ", 0), 0u) << fonts[0];
  EXPECT_NE(TracedFile(fonts[0]).find("/ipag.ttf"), std::string::npos) << fonts[0];
  EXPECT_NE(fonts[1].find("-24 -> "), std::string::npos);
}

TEST(GdiText, FaceNamesMapAndNeverRefuse) {
  struct Case {
    const char* face;
    const char* file;
  } cases[] = {{"ＭＳ Ｐゴシック", "/ipagp.ttf"},
               {"ＭＳ 明朝", "/ipam.ttf"},
               {"ＭＳ Ｐ明朝", "/ipamp.ttf"},
               {"No Such Face At All", "/"}};
  for (const Case& c : cases) {
    orvane::host::TakeTrace();
    LOGFONTA lf{};
    lf.lfHeight = 17;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    std::strcpy(lf.lfFaceName, c.face);
    HFONT f = CreateFontIndirectA(&lf);
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, f);
    SIZE s{};
    EXPECT_TRUE(GetTextExtentPoint32A(dc, "あ", 2, &s)) << c.face;
    EXPECT_GT(s.cx, 0);
    auto trace = orvane::host::TakeTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_NE(TracedFile(trace.back()).find(c.file), std::string::npos) << trace.back();
    DeleteDC(dc);
    DeleteObject(f);
  }
}

TEST(GdiText, ExtentsAreTheSumOfAdvancesAndCountsAreCut) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT f = Gothic(24);
  SelectObject(dc, f);
  const char* text = "Aｱ表示x";
  SIZE whole{}, part{};
  ASSERT_TRUE(GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &whole));
  long sum = 0;
  for (int i = 0; text[i];) {
    int n = (static_cast<unsigned char>(text[i]) >= 0x81 && static_cast<unsigned char>(text[i]) <= 0x9F) ||
                    static_cast<unsigned char>(text[i]) >= 0xE0
                ? 2
                : 1;
    ASSERT_TRUE(GetTextExtentPoint32A(dc, text + i, n, &part));
    sum += part.cx;
    i += n;
  }
  EXPECT_EQ(whole.cx, sum);
  EXPECT_EQ(whole.cy, 24);
  SIZE cut{};
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "ab", 1000, &cut));  // cut at the NUL
  SIZE ab{};
  GetTextExtentPoint32A(dc, "ab", 2, &ab);
  EXPECT_EQ(cut.cx, ab.cx);
  DeleteDC(dc);
  DeleteObject(f);
}

TEST(GdiText, TextOutDrawsWhatFreeTypeRenders) {
  Dib d(64, 40, 32);
  PatBlt(d.dc, 0, 0, 64, 40, BLACKNESS);
  HFONT f = Gothic(-24);
  SelectObject(d.dc, f);
  SetTextColor(d.dc, RGB(255, 255, 255));
  SetBkMode(d.dc, TRANSPARENT);
  ASSERT_TRUE(TextOutA(d.dc, 3, 2, "あ", 2));
  TEXTMETRICA tm{};
  GetTextMetricsA(d.dc, &tm);
  FtFace ft(24);
  ASSERT_NE(ft.face, nullptr);
  ASSERT_EQ(FT_Load_Char(ft.face, 0x3042, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
  ASSERT_EQ(FT_Render_Glyph(ft.face->glyph, FT_RENDER_MODE_MONO), 0);
  const FT_Bitmap& bm = ft.face->glyph->bitmap;
  int ox = 3 + ft.face->glyph->bitmap_left, oy = 2 + tm.tmAscent - ft.face->glyph->bitmap_top;
  int ink = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 64; ++x) {
      int gx = x - ox, gy = y - oy;
      bool on = gx >= 0 && gy >= 0 && gx < static_cast<int>(bm.width) && gy < static_cast<int>(bm.rows) &&
                (bm.buffer[gy * bm.pitch + (gx >> 3)] & (0x80 >> (gx & 7)));
      ink += on;
      ASSERT_EQ(d.Raw(x, y) & 0xFFFFFF, on ? 0xFFFFFFu : 0u) << x << "," << y;
    }
  }
  EXPECT_GT(ink, 20);
  // ABC widths and the glyph outline of the same character agree with FreeType too.
  ABC abc{};
  ASSERT_TRUE(GetCharABCWidthsA(d.dc, 0x82A0, 0x82A0, &abc));
  EXPECT_EQ(abc.abcA, ft.face->glyph->bitmap_left);
  EXPECT_EQ(abc.abcB, bm.width);
  EXPECT_EQ(abc.abcA + static_cast<int>(abc.abcB) + abc.abcC, (ft.face->glyph->advance.x + 32) >> 6);
  GLYPHMETRICS gm{};
  MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  DWORD need = GetGlyphOutlineA(d.dc, 0x82A0, GGO_BITMAP, &gm, 0, nullptr, &identity);
  EXPECT_EQ(need, (bm.width + 31) / 32 * 4 * bm.rows);
  std::vector<BYTE> out(need);
  ASSERT_EQ(GetGlyphOutlineA(d.dc, 0x82A0, GGO_BITMAP, &gm, need, out.data(), &identity), need);
  for (unsigned y = 0; y < bm.rows; ++y)
    EXPECT_EQ(std::memcmp(out.data() + y * ((bm.width + 31) / 32 * 4), bm.buffer + y * bm.pitch,
                          (bm.width + 7) / 8),
              0);
  DeleteObject(f);
}

TEST(GdiText, GrayOutlinesAreRoundedCoverageAndBadCodesFail) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT f = Gothic(-20);
  SelectObject(dc, f);
  FtFace ft(20);
  // The glyph is hinted for monochrome (the advances the pen moves by) and rendered with coverage.
  ASSERT_EQ(FT_Load_Char(ft.face, 'W', FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
  ASSERT_EQ(FT_Render_Glyph(ft.face->glyph, FT_RENDER_MODE_NORMAL), 0);
  const FT_Bitmap& bm = ft.face->glyph->bitmap;
  MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  struct Case {
    UINT format;
    int n;
  } cases[] = {{GGO_GRAY2_BITMAP, 4}, {GGO_GRAY4_BITMAP, 16}, {GGO_GRAY8_BITMAP, 64}};
  for (const Case& c : cases) {
    GLYPHMETRICS gm{};
    DWORD need = GetGlyphOutlineA(dc, 'W', c.format, &gm, 0, nullptr, &identity);
    unsigned row = (bm.width + 3) / 4 * 4;
    ASSERT_EQ(need, row * bm.rows);
    std::vector<BYTE> out(need);
    ASSERT_EQ(GetGlyphOutlineA(dc, 'W', c.format, &gm, need, out.data(), &identity), need);
    for (unsigned y = 0; y < bm.rows; ++y)
      for (unsigned x = 0; x < bm.width; ++x)
        ASSERT_EQ(out[y * row + x], (bm.buffer[y * bm.pitch + x] * c.n + 127) / 255) << x << "," << y;
  }
  GLYPHMETRICS gm{};
  EXPECT_EQ(GetGlyphOutlineA(dc, ' ', GGO_GRAY8_BITMAP, &gm, 0, nullptr, &identity), 0u);  // blank
  EXPECT_EQ(GetGlyphOutlineA(dc, 0x82, GGO_BITMAP, &gm, 0, nullptr, &identity),
            GDI_ERROR);  // a lone lead byte
  EXPECT_EQ(GetGlyphOutlineA(dc, 0x8130 + 0x0F, GGO_BITMAP, &gm, 0, nullptr, &identity), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineA(dc, 0x80, GGO_BITMAP, &gm, 0, nullptr, &identity), GDI_ERROR);
  DeleteDC(dc);
  DeleteObject(f);
}

// ---------------------------------------------------------------- windows

LRESULT CALLBACK PaintProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HBRUSH b = CreateSolidBrush(RGB(0, 0x80, 0xFF));
    HGDIOBJ old = SelectObject(dc, b);
    PatBlt(dc, 0, 0, 10, 5, PATCOPY);
    SelectObject(dc, old);
    DeleteObject(b);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

TEST(GdiWindow, PaintReachesTheClientSurfaceAndIsTraced) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = PaintProc;
  wc.lpszClassName = "GdiPaintTest";
  RegisterClassExA(&wc);
  HWND w = CreateWindowExA(0, "GdiPaintTest", "t", WS_POPUP | WS_VISIBLE, 0, 0, 40, 30, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  HWND child = CreateWindowExA(0, "GdiPaintTest", "c", WS_CHILD | WS_VISIBLE, 20, 10, 15, 15, w, nullptr,
                               nullptr, nullptr);
  orvane::host::TakeTrace();
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  ClientSurfaceView v{};
  ASSERT_TRUE(ClientSurfaceLock(w, &v));
  EXPECT_EQ(v.width, 40);
  EXPECT_EQ(v.height, 30);
  auto at = [&](int x, int y) { return v.pixels[y * (v.pitch / 4) + x] & 0xFFFFFF; };
  EXPECT_EQ(at(9, 4), 0x0080FFu);
  EXPECT_EQ(at(10, 4), 0u);
  EXPECT_EQ(at(29, 14), 0x0080FFu);  // the child's part: its (9, 4)
  EXPECT_EQ(at(30, 14), 0u);
  ClientSurfaceUnlock(w, nullptr);
  int presents = 0;
  for (const std::string& line : orvane::host::TakeTrace()) presents += line.rfind("present ", 0) == 0;
  EXPECT_GE(presents, 2);
  // A child's view starts at its origin.
  ASSERT_TRUE(ClientSurfaceLock(child, &v));
  EXPECT_EQ(v.width, 15);
  EXPECT_EQ(v.pixels[0] & 0xFFFFFF, 0x0080FFu);
  ClientSurfaceUnlock(child, nullptr);
  // A DC of a dead window draws nothing.
  HDC dc = GetDC(child);
  DestroyWindow(w);
  EXPECT_FALSE(PatBlt(dc, 0, 0, 1, 1, WHITENESS));
  EXPECT_EQ(ReleaseDC(child, dc), 1);
}

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(GdiWindow, DialogControlsPaintTheirTextInTheDialogFont) {
  static const OrvaneDialogControl controls[] = {
      {"STATIC", "表示テスト", 10, WS_VISIBLE, 4, 4, 80, 12},
      {"BUTTON", "OK", IDOK, WS_VISIBLE, 4, 20, 40, 14},
  };
  OrvaneDialogTemplate t{};
  t.title = "about";
  t.style = WS_POPUP | WS_VISIBLE;
  t.cx = 100;
  t.cy = 40;
  t.font_face = "ＭＳ ゴシック";
  t.font_size = 9;
  t.font_charset = SHIFTJIS_CHARSET;
  t.controls = controls;
  t.control_count = 2;
  ASSERT_TRUE(OrvaneRegisterDialogTemplate(nullptr, "GDI_PAINT_DIALOG", &t));
  HWND dlg = CreateDialogParamA(nullptr, "GDI_PAINT_DIALOG", nullptr, QuietDialog, 0);
  ASSERT_NE(dlg, nullptr);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  ClientSurfaceView v{};
  ASSERT_TRUE(ClientSurfaceLock(dlg, &v));
  auto at = [&](int x, int y) { return v.pixels[y * (v.pitch / 4) + x] & 0xFFFFFF; };
  EXPECT_EQ(at(v.width - 1, v.height - 1), 0xC0C0C0u);  // the dialog's face
  // Text ink in the static control (6, 6)-(126, 24) and the button's frame at (6, 30).
  int ink = 0;
  for (int y = 6; y < 24; ++y)
    for (int x = 6; x < 126; ++x) ink += at(x, y) == 0;
  EXPECT_GT(ink, 40);
  EXPECT_EQ(at(6, 30), 0u);
  ClientSurfaceUnlock(dlg, nullptr);
  DestroyWindow(dlg);
}

TEST(GdiWindow, BeginPaintClipsToTheUpdateRectangle) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = PaintProc;
  wc.lpszClassName = "GdiClipTest";
  RegisterClassExA(&wc);
  HWND w = CreateWindowExA(0, "GdiClipTest", "t", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  HDC dc = GetDC(w);
  ASSERT_TRUE(PatBlt(dc, 0, 0, 20, 20, WHITENESS));
  ReleaseDC(w, dc);
  RECT part{0, 0, 4, 3};
  InvalidateRect(w, &part, FALSE);
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  ClientSurfaceView v{};
  ASSERT_TRUE(ClientSurfaceLock(w, &v));
  auto at = [&](int x, int y) { return v.pixels[y * (v.pitch / 4) + x] & 0xFFFFFF; };
  EXPECT_EQ(at(3, 2), 0x0080FFu);
  EXPECT_EQ(at(4, 2), 0xFFFFFFu);  // the handler filled 10 x 5; only the update rectangle changed
  EXPECT_EQ(at(3, 3), 0xFFFFFFu);
  ClientSurfaceUnlock(w, nullptr);
  DestroyWindow(w);
}

TEST(GdiText, SyntheticStylesAndDrawText) {
  Dib d(120, 40, 32);
  LOGFONTA lf{};
  lf.lfHeight = -20;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
  HFONT plain = CreateFontIndirectA(&lf);
  lf.lfWeight = FW_BOLD;
  HFONT bold = CreateFontIndirectA(&lf);
  lf.lfWeight = FW_NORMAL;
  lf.lfUnderline = 1;
  HFONT under = CreateFontIndirectA(&lf);
  auto ink = [&](HFONT f, int* bottom) {
    PatBlt(d.dc, 0, 0, 120, 40, WHITENESS);
    SelectObject(d.dc, f);
    TextOutA(d.dc, 0, 0, "HH", 2);
    int n = 0;
    *bottom = -1;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 120; ++x)
        if ((d.Raw(x, y) & 0xFFFFFF) == 0) ++n, *bottom = y;
    return n;
  };
  int b_plain, b_bold, b_under;
  int n_plain = ink(plain, &b_plain), n_bold = ink(bold, &b_bold), n_under = ink(under, &b_under);
  EXPECT_GT(n_bold, n_plain);
  EXPECT_GT(n_under, n_plain);
  EXPECT_GT(b_under, b_plain);  // the underline lies below the letters
  // DrawTextA: DT_CALCRECT measures two lines without drawing.
  SelectObject(d.dc, plain);
  RECT r{0, 0, 120, 40};
  PatBlt(d.dc, 0, 0, 120, 40, WHITENESS);
  TEXTMETRICA tm{};
  GetTextMetricsA(d.dc, &tm);
  SIZE ab{};
  GetTextExtentPoint32A(d.dc, "ab", 2, &ab);
  EXPECT_EQ(DrawTextA(d.dc, "ab\ncd", -1, &r, DT_CALCRECT), 2 * tm.tmHeight);
  EXPECT_EQ(r.bottom, 2 * tm.tmHeight);
  EXPECT_EQ(r.right, ab.cx);
  EXPECT_EQ(d.Raw(2, 10) & 0xFFFFFF, 0xFFFFFFu);
  SelectObject(d.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(plain);
  DeleteObject(bold);
  DeleteObject(under);
}

TEST(GdiText, GlyphsAreRenderedOncePerFaceAndSize) {
  Dib d(200, 30, 16);
  HFONT f = Gothic(21);
  SelectObject(d.dc, f);
  const char line[] = "表示テスト abc";
  ASSERT_TRUE(TextOutA(d.dc, 0, 0, line, sizeof(line) - 1));
  std::uint64_t after_first = orvane::gdi::GlyphRenders();
  ASSERT_TRUE(TextOutA(d.dc, 0, 0, line, sizeof(line) - 1));
  SIZE s{};
  ASSERT_TRUE(GetTextExtentPoint32A(d.dc, line, sizeof(line) - 1, &s));
  EXPECT_EQ(orvane::gdi::GlyphRenders(), after_first);  // drawn and measured again: no render
  // One code: size query, fetch and ABC widths render it once.
  MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  GLYPHMETRICS gm{};
  std::uint64_t before = orvane::gdi::GlyphRenders();
  DWORD need = GetGlyphOutlineA(d.dc, 0x8A6D, GGO_GRAY8_BITMAP, &gm, 0, nullptr, &identity);
  std::vector<BYTE> buf(need);
  GetGlyphOutlineA(d.dc, 0x8A6D, GGO_GRAY8_BITMAP, &gm, need, buf.data(), &identity);
  EXPECT_EQ(orvane::gdi::GlyphRenders(), before + 1);
  ABC abc{};
  ASSERT_TRUE(GetCharABCWidthsA(d.dc, 0x8A6D, 0x8A6D, &abc));
  EXPECT_EQ(orvane::gdi::GlyphRenders(), before + 1);
  SelectObject(d.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(f);
}

}  // namespace
