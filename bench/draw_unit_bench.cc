// The Draw unit's frame: a 640x480 background, 20 keyed 64x64 sprites and two level-blended
// 320x240 images, all dirty, through the sprite list; beside pixman composing the same onto
// r5g6b5. And the 640x480 present of the 16-bit back image into the window's 32-bit picture,
// beside pixman's SRC conversion of the same size.
#include <benchmark/benchmark.h>
#include <pixman.h>
#include <stdlib.h>

#include <memory>
#include <random>
#include <vector>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/draw/screen.h"
#include "imaging/hal/dhal.h"

namespace {

constexpr int kW = 640, kH = 480;

std::uint16_t Colour(std::mt19937& rng) {
  return static_cast<std::uint16_t>(((rng() % 32) << 11) | ((rng() % 32) << 6) | (rng() % 32));
}

// Sprite positions shared by both sides.
struct Layout {
  std::vector<std::pair<int, int>> sprites;
  std::pair<int, int> a{40, 30}, b{260, 200};
  Layout() {
    std::mt19937 rng(20);
    for (int i = 0; i < 20; ++i) sprites.push_back({int(rng() % (kW - 64)), int(rng() % (kH - 64))});
  }
};

void DrawUnitFrame(benchmark::State& state) {
  DHalInit(6);
  std::mt19937 rng(1);
  Layout layout;
  DRef<DrawImage> target;
  target.Alloc(1);
  target->Create(nullptr, kW, kH);
  SpriteList list;
  list.Attach(DRef<ConnectedImage>::Convert(target));
  list.SetLevelCount(3);
  std::vector<std::unique_ptr<DrawImage>> images;
  auto make = [&](int w, int h, int x, int y, int level) -> DrawImage& {
    images.push_back(std::make_unique<DrawImage>());
    DrawImage& im = *images.back();
    im.Create(nullptr, w, h);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) im.PutPixel(i, j, Colour(rng));
    im.SetPos(x, y);
    list.SetImageLevel(im, level);
    return im;
  };
  make(kW, kH, 0, 0, 0);
  for (auto [x, y] : layout.sprites) {
    DrawImage& s = make(64, 64, x, y, 1);
    for (int j = 0; j < 64; ++j)  // a round sprite: the corners are key
      for (int i = 0; i < 64; ++i)
        if ((i - 32) * (i - 32) + (j - 32) * (j - 32) > 30 * 30) s.PutPixel(i, j, 0);
    s.SetTrans(true, 0, 0, 0);
    s.SetFastTrans(true);
  }
  for (auto [x, y] : {layout.a, layout.b}) {
    DrawImage& im = make(320, 240, x, y, 2);
    im.SetBlend(1);
    im.SetAlphaKey(10);
  }
  list.Update();
  for (auto _ : state) {
    list.SetAllDirty();
    list.Render();
    benchmark::DoNotOptimize(target->GetImage()->GetBits());
  }
  images.clear();
  list.Detach();
  DHalTerm();
}
BENCHMARK(DrawUnitFrame)->Unit(benchmark::kMillisecond);

void PixmanFrame(benchmark::State& state) {
  std::mt19937 rng(1);
  Layout layout;
  std::vector<std::uint16_t> dst(kW * kH), bg(kW * kH);
  for (auto& p : bg) p = Colour(rng);
  auto argb = [&](int w, int h, bool round) {
    std::vector<std::uint32_t> px(std::size_t(w * h));
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        bool out = round && (i - 32) * (i - 32) + (j - 32) * (j - 32) > 30 * 30;
        px[std::size_t(j * w + i)] = out ? 0 : 0xFF000000u | (rng() & 0xFFFFFF);
      }
    return px;
  };
  pixman_image_t* d =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<uint32_t*>(dst.data()), kW * 2);
  pixman_image_t* b =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<uint32_t*>(bg.data()), kW * 2);
  std::vector<std::uint32_t> sprite = argb(64, 64, true), big = argb(320, 240, false);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, 64, 64, sprite.data(), 64 * 4);
  pixman_image_t* g = pixman_image_create_bits(PIXMAN_a8r8g8b8, 320, 240, big.data(), 320 * 4);
  pixman_color_t level{0, 0, 0, static_cast<uint16_t>(0xFFFF * 21 / 31)};
  pixman_image_t* mask = pixman_image_create_solid_fill(&level);
  for (auto _ : state) {
    pixman_image_composite(PIXMAN_OP_SRC, b, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    for (auto [x, y] : layout.sprites)
      pixman_image_composite(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, int16_t(x), int16_t(y), 64, 64);
    for (auto [x, y] : {layout.a, layout.b})
      pixman_image_composite(PIXMAN_OP_OVER, g, mask, d, 0, 0, 0, 0, int16_t(x), int16_t(y), 320, 240);
    benchmark::DoNotOptimize(dst.data());
  }
  for (pixman_image_t* i : {d, b, s, g, mask}) pixman_image_unref(i);
}
BENCHMARK(PixmanFrame)->Unit(benchmark::kMillisecond);

// The present: the headless host's window picture receives the whole 16-bit back image.
void DrawUnitPresent(benchmark::State& state) {
  setenv("ORVANE_BACKEND", "headless", 0);
  static DApplication app;
  static bool started = app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
  if (!started) {
    state.SkipWithError("no application");
    return;
  }
  DSetApplication(&app);
  DWindow window;
  window.Create("", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100);
  window.SetClientSize(kW, kH);
  Screen screen;
  if (!screen.Init(window)) {
    state.SkipWithError("no screen");
    return;
  }
  std::mt19937 rng(3);
  ScreenImage& im = screen.GetScreenImage();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) im.PutPixel(x, y, Colour(rng));
  screen.SetFlipscreen(true);  // the whole screen each time
  for (auto _ : state) screen.Present();
  screen.Shutdown();
  window.Destroy();
}
BENCHMARK(DrawUnitPresent)->Unit(benchmark::kMillisecond);

void PixmanPresent(benchmark::State& state) {
  std::mt19937 rng(3);
  std::vector<std::uint16_t> src(kW * kH);
  std::vector<std::uint32_t> dst(kW * kH);
  for (auto& p : src) p = Colour(rng);
  pixman_image_t* s =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<uint32_t*>(src.data()), kW * 2);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dst.data(), kW * 4);
  for (auto _ : state) {
    pixman_image_composite(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(dst.data());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
BENCHMARK(PixmanPresent)->Unit(benchmark::kMillisecond);

}  // namespace
