// A 40-character message line as the game draws it: each character rendered through ovRenderChar,
// measured with the three getters and written into a TSS image's alpha with ovtsDrawChar, with the
// character cache and without it; beside FreeType loading and rendering the same glyphs of the
// same face (FT_Load_Char + FT_Render_Glyph) in the same run. Reports ns per character.
#include <benchmark/benchmark.h>
#include <ft2build.h>

#include <cstdlib>
#include <vector>
#include FT_FREETYPE_H

#include "api/ov_api.h"
#include "base/dwindow.h"
#include "bench/headless_window.h"
#include "display/tss/dtss_manager.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"

namespace {

constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

// The same 40 characters as cp932 bytes (the narrow literal) and as code points.
constexpr char kLine[] = "今日は晴れています。明日の天気も良いでしょう、散歩に行きませんか？ABC1234";
constexpr char32_t kLineU[] = U"今日は晴れています。明日の天気も良いでしょう、散歩に行きませんか？ABC1234";
constexpr int kChars = sizeof kLineU / sizeof kLineU[0] - 1;
static_assert(kChars == 40);

std::vector<uint32_t> Codes() {
  std::vector<uint32_t> out;
  const auto* p = reinterpret_cast<const unsigned char*>(kLine);
  while (*p) {
    const uint32_t lead = *p++;
    const bool two = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    out.push_back(two && *p ? lead << 8 | *p++ : lead);
  }
  return out;
}

struct Stage {
  Stage() {
    window = DWindow(orvane_bench::HeadlessWindow("apicharbench", 640, 480));
    SetStartupFlags(kStartupTss);
    ok = TssManager().Create(window, kDtssPoint);
    image = ovtsCreateImage(1024, 32);
    ovtsFillImage(image, 1, 1, 1, 0);
    cached = ovCreateChar("ＭＳ ゴシック", 24, 3, 0, 1, 0x20);
    uncached = ovCreateChar("ＭＳ ゴシック", 24, 3, 0, 1, 0);
    codes = Codes();
    ok = ok && image && cached && uncached && codes.size() == kChars;
  }
  ~Stage() {
    ovDestroyChar(cached);
    ovDestroyChar(uncached);
    ovtsDestroyImage(image);
    TssManager().Destroy();
  }
  DWindow window;
  bool ok = false;
  ApiHandle* image = nullptr;
  ApiHandle* cached = nullptr;
  ApiHandle* uncached = nullptr;
  std::vector<uint32_t> codes;
};

Stage& TheStage() {
  static Stage stage;
  return stage;
}

void Line(benchmark::State& state, bool use_cache) {
  Stage& s = TheStage();
  if (!s.ok) return state.SkipWithError("the TSS unit or the character sets did not start");
  ApiHandle* set = use_cache ? s.cached : s.uncached;
  for (auto _ : state) {
    int32_t x = 0;
    for (uint32_t code : s.codes) {
      if (!ovRenderChar(set, code)) continue;
      const OvSize box = ovGetCharBoxSize(set);
      const OvPoint at = ovGetCharDrawPos(set);
      if (box.width > 0) ovtsDrawChar(s.image, x + at.x, at.y, set);
      x += ovGetCharFeedSize(set).width;
    }
    benchmark::DoNotOptimize(x);
  }
  state.counters["ns_per_char"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kChars,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ExportsLineCached(benchmark::State& state) {
  Line(state, true);
}
void BM_ExportsLineUncached(benchmark::State& state) {
  Line(state, false);
}

// The anchor: the same glyphs of the same face and pixel size, loaded and rendered as 8-bit
// coverage by FreeType itself.
void BM_FreeTypeLine(benchmark::State& state) {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&lib) != 0 || FT_New_Face(lib, kIpaGothic, 0, &face) != 0) {
    if (lib) FT_Done_FreeType(lib);
    return state.SkipWithError("FreeType or the IPA Gothic face is missing");
  }
  FT_Set_Pixel_Sizes(face, 0, 24);
  for (auto _ : state) {
    long x = 0;
    for (int i = 0; i < kChars; ++i) {
      if (FT_Load_Char(face, kLineU[i], FT_LOAD_DEFAULT) != 0) continue;
      if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
      x += face->glyph->advance.x >> 6;
    }
    benchmark::DoNotOptimize(x);
  }
  state.counters["ns_per_char"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kChars,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}

}  // namespace

BENCHMARK(BM_ExportsLineCached);
BENCHMARK(BM_ExportsLineUncached);
BENCHMARK(BM_FreeTypeLine);
