// The Text unit and character sets at 24 px beside FreeType loading and rendering the same glyphs
// (normal mode) in the same run: a 40-character cp932 line stamped into a Draw image; the line's
// characters rendered and drawn into an alpha plane with the cache (far below the anchor); and
// 1000 kanji never rendered before, without the cache (near the anchor).
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/draw/draw_image.h"
#include "display/draw/image_handle.h"
#include "display/text/dglyph.h"
#include "display/text/text_unit.h"
#include "imaging/hal/dhal.h"

namespace {

const char kLine[] = "春の朝、窓を開けると冷たい風と鳥の声が部屋に入ってきた。今日も一日が始まる。ＡＢ";
constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
constexpr int kKanjiBlocks = 6;

// The code point of a cp932 character; 0 for none.
char32_t CodePoint(const char* s, size_t n) {
  iconv_t cd = iconv_open("UTF-32LE", "CP932");
  char32_t out = 0;
  char* in = const_cast<char*>(s);
  char* op = reinterpret_cast<char*>(&out);
  size_t il = n, ol = 4;
  if (iconv(cd, &in, &il, &op, &ol) == static_cast<size_t>(-1) || ol != 0) out = 0;
  iconv_close(cd);
  return out;
}

struct Char {
  std::uint16_t code;
  char32_t cp;
};

std::vector<Char> LineChars() {
  std::vector<Char> out;
  for (size_t i = 0; i + 1 < sizeof(kLine);) {
    unsigned c = static_cast<unsigned char>(kLine[i]);
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    size_t n = lead ? 2 : 1;
    std::uint16_t code =
        lead ? static_cast<std::uint16_t>(c << 8 | static_cast<unsigned char>(kLine[i + 1])) : c;
    out.push_back({code, CodePoint(kLine + i, n)});
    i += n;
  }
  return out;
}

// kKanjiBlocks blocks of 1000 distinct level-1 and level-2 kanji.
const std::vector<Char>& Kanji() {
  static const std::vector<Char> all = [] {
    std::vector<Char> out;
    for (unsigned code = 0x889F; code <= 0xEAA4 && out.size() < 1000u * kKanjiBlocks; ++code) {
      unsigned lead = code >> 8, trail = code & 0xFF;
      if ((lead > 0x9F && lead < 0xE0) || trail < 0x40 || trail == 0x7F || trail > 0xFC) continue;
      char s[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char32_t cp = CodePoint(s, 2);
      if (cp >= 0x4E00 && cp <= 0x9FFF) out.push_back({static_cast<std::uint16_t>(code), cp});
    }
    return out;
  }();
  return all;
}

LOGFONTA Font24() {
  LOGFONTA lf{};
  lf.lfHeight = -24;
  lf.lfWeight = 400;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfQuality = 2;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
  return lf;
}

struct FreeType {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  FreeType() {
    FT_Init_FreeType(&lib);
    FT_New_Face(lib, kIpaGothic, 0, &face);
    FT_Set_Pixel_Sizes(face, 0, 24);
  }
  ~FreeType() {
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
  }
  void Render(char32_t cp) {
    FT_Load_Char(face, cp, FT_LOAD_DEFAULT);
    FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
    benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
  }
};

// The anchor of the line: FreeType loads and renders its 40 glyphs.
void BM_FreeTypeLineAnchor(benchmark::State& state) {
  FreeType ft;
  std::vector<Char> chars = LineChars();
  for (auto _ : state)
    for (const Char& c : chars) ft.Render(c.cp);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(chars.size()));
}
BENCHMARK(BM_FreeTypeLineAnchor);

void BM_OutputTextToImage(benchmark::State& state) {
  DHalInit(6);
  DGdiCanvas canvas;
  canvas.Create();
  DRef<TextFont> font = CreateTextFont(24, 400);
  DRef<DrawImage> image;
  image.Alloc(1);
  image->Create(nullptr, 640, 480);
  ImageHandle handle;
  handle.Attach(DRef<ConnectedImage>::Convert(image));
  handle.Reset();
  handle.text_color = 0xFFFF;
  for (auto _ : state) benchmark::DoNotOptimize(OutputTextToImage(handle, canvas, *font, kLine));
  canvas.Close();
  DHalTerm();
}
BENCHMARK(BM_OutputTextToImage);

// The line's characters rendered and drawn into a 640 x 480 alpha plane; after the first pass
// every render is a cache hit.
void BM_GlyphLineCached(benchmark::State& state) {
  DGlyph g;
  g.Create(kGlyphCache | kGlyphOut5, Font24());
  std::vector<Char> chars = LineChars();
  std::vector<std::uint8_t> plane(640 * 480);
  for (auto _ : state) {
    int pen = 0;
    for (const Char& c : chars) {
      g.Render(c.code);
      g.DrawToAlphaPlane(plane.data(), pen + g.GetDrawPos().x, g.GetDrawPos().y, 640, 480, 640);
      pen += g.GetFeed().x;
    }
    benchmark::DoNotOptimize(plane.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(chars.size()));
}
BENCHMARK(BM_GlyphLineCached);

// 1000 kanji per iteration, each iteration a block never rendered before (so the platform's own
// glyph cache does not help either): exactly kKanjiBlocks iterations.
void BM_FreeTypeKanjiAnchor(benchmark::State& state) {
  FreeType ft;
  const std::vector<Char>& kanji = Kanji();
  int block = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) ft.Render(kanji[static_cast<size_t>(block) * 1000 + i].cp);
    ++block;
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_FreeTypeKanjiAnchor)->Iterations(kKanjiBlocks)->Unit(benchmark::kMillisecond);

void BM_GlyphKanjiUncached(benchmark::State& state) {
  DGlyph g;
  g.Create(kGlyphOut5, Font24());
  const std::vector<Char>& kanji = Kanji();
  std::vector<std::uint8_t> plane(64 * 64);
  int block = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      g.Render(kanji[static_cast<size_t>(block) * 1000 + i].code);
      g.DrawToAlphaPlane(plane.data(), 0, 0, 64, 64, 64);
    }
    ++block;
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_GlyphKanjiUncached)->Iterations(kKanjiBlocks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
