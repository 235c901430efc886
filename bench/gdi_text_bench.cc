// Text through GDI (ExtTextOutA, GetTextExtentPoint32A, DrawTextWrapped) of a 40-character cp932
// line at 24 px into a 16-bit DIB section, beside FreeType loading and rendering the same glyphs
// (mono) in the same run: with the glyph cache, drawing a line again costs no render.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/ddc.h"

namespace {

const char kLine[] = "春の朝、窓を開けると冷たい風と鳥の声が部屋に入ってきた。今日も一日が始まる。ＡＢ";

struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HFONT font = nullptr;
  Canvas() {
    dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 640, -480, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(dc, bitmap);
    LOGFONTA lf{};
    lf.lfHeight = 24;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
    font = CreateFontIndirectA(&lf);
    SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
  }
  ~Canvas() {
    DeleteDC(dc);
    DeleteObject(bitmap);
    DeleteObject(font);
  }
};

void BM_ExtTextOutA(benchmark::State& state) {
  Canvas c;
  RECT r{0, 0, 640, 480};
  for (auto _ : state)
    benchmark::DoNotOptimize(ExtTextOutA(c.dc, 0, 0, ETO_CLIPPED, &r, kLine, sizeof(kLine) - 1, nullptr));
}
BENCHMARK(BM_ExtTextOutA);

void BM_GetTextExtentPoint32A(benchmark::State& state) {
  Canvas c;
  SIZE s;
  for (auto _ : state) benchmark::DoNotOptimize(GetTextExtentPoint32A(c.dc, kLine, sizeof(kLine) - 1, &s));
}
BENCHMARK(BM_GetTextExtentPoint32A);

void BM_DrawTextWrapped(benchmark::State& state) {
  Canvas c;
  DDC dc(c.dc);
  for (auto _ : state) benchmark::DoNotOptimize(dc.DrawTextWrapped(kLine, DRect(0, 0, 640, 480), 0x200));
}
BENCHMARK(BM_DrawTextWrapped);

// The anchor: FreeType loads and renders each glyph of the line, mono, at the same size.
void BM_FreeTypeMonoAnchor(benchmark::State& state) {
  std::vector<char32_t> cps;
  iconv_t cd = iconv_open("UTF-32LE", "CP932");
  char* in = const_cast<char*>(kLine);
  size_t il = sizeof(kLine) - 1;
  std::vector<char32_t> out(64);
  char* op = reinterpret_cast<char*>(out.data());
  size_t ol = out.size() * 4;
  iconv(cd, &in, &il, &op, &ol);
  iconv_close(cd);
  cps.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>((out.size() * 4 - ol) / 4));
  Canvas c;
  TEXTMETRICA tm{};
  GetTextMetricsA(c.dc, &tm);
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Face face;
  FT_New_Face(lib, "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0, &face);
  FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(tm.tmHeight - tm.tmInternalLeading));
  for (auto _ : state) {
    for (char32_t cp : cps) {
      FT_Load_Char(face, cp, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO);
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO);
      benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
    }
  }
  state.counters["glyphs"] = static_cast<double>(cps.size());
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeMonoAnchor);

}  // namespace
