// A wipe transition frame of the TSS unit beside pixman in the same run: two full-screen 640x480
// sprites, the outgoing one on mask A and the incoming one on mask B of a full-screen pattern,
// alpha-blended; the level moves every frame, so both masks are rebuilt and uploaded each time.
// The anchor composites the same scene with pixman OVER through an a8 mask it thresholds from the
// same pattern each frame. Headless host, one thread each.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/dwindow.h"
#include "bench/headless_window.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"
#include "imaging/dimage.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"

namespace {

constexpr int kW = 640, kH = 480;

uint8_t Pattern(int x, int y) {
  return static_cast<uint8_t>((x * 3 + y * 5 + ((x * y) >> 6)) & 255);
}
uint32_t Picture(int x, int y, bool second) {
  return second ? 0xFF000000u | static_cast<uint32_t>(x & 255) << 16 | static_cast<uint32_t>(y & 255)
                : 0xFF000000u | static_cast<uint32_t>(y & 255) << 8 | static_cast<uint32_t>((x + y) & 255);
}

void BM_TssWipeTransitionFrame(benchmark::State& state) {
  HWND hwnd = orvane_bench::HeadlessWindow("tsswipebench", kW, kH);
  DWindow window(hwnd);
  DtssManager manager;
  if (!manager.Create(window, 0x10)) {
    state.SkipWithError("no TSS device");
    return;
  }
  {
    DImage a, b, pattern;
    a.Create(kW, kH, 0, DimgFormat::BGRA8888);
    b.Create(kW, kH, 0, DimgFormat::BGRA8888);
    pattern.Create(kW, kH, 0, DimgFormat::BGRA8888);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        uint32_t pa = Picture(x, y, false), pb = Picture(x, y, true),
                 g = uint32_t{Pattern(x, y)} << 8 | 0xFF000000u;
        std::memcpy(a.GetPixelPointer(x, y), &pa, 4);
        std::memcpy(b.GetPixelPointer(x, y), &pb, 4);
        std::memcpy(pattern.GetPixelPointer(x, y), &g, 4);
      }
    DRef<DtssImage> ia = manager.CreateImage(a, 0, 0), ib = manager.CreateImage(b, 0, 0);
    DRef<DtssWipe> wipe = manager.LoadWipe(pattern);
    DRef<DtssSprite> out = manager.CreateSprite(ia.Get(), 0), in = manager.CreateSprite(ib.Get(), 1);
    for (DtssSprite* s : {out.Get(), in.Get()}) s->SetBlend(1);
    out->SetWipe(wipe.Get(), 0);
    in->SetWipe(wipe.Get(), 1);
    out->SetDraw(true);
    in->SetDraw(true);
    uint32_t level = 0;
    for (auto _ : state) {
      level = (level + 1) & 255;
      wipe->SetLevel(level);
      manager.Render();
    }
  }
  manager.Destroy();
  DestroyWindow(hwnd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TssWipeTransitionFrame)->Unit(benchmark::kMillisecond);

void BM_PixmanMaskedOverFrame(benchmark::State& state) {
  std::vector<uint32_t> a(kW * kH), b(kW * kH), frame(kW * kH, 0);
  std::vector<uint8_t> pattern(kW * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      a[y * kW + x] = Picture(x, y, false);
      b[y * kW + x] = Picture(x, y, true);
      pattern[y * kW + x] = Pattern(x, y);
    }
  const int stride8 = (kW + 3) & ~3;
  std::vector<uint8_t> mask_a(stride8 * kH), mask_b(stride8 * kH);
  pixman_image_t* src_a = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, a.data(), kW * 4);
  pixman_image_t* src_b = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, b.data(), kW * 4);
  pixman_image_t* ma =
      pixman_image_create_bits(PIXMAN_a8, kW, kH, reinterpret_cast<uint32_t*>(mask_a.data()), stride8);
  pixman_image_t* mb =
      pixman_image_create_bits(PIXMAN_a8, kW, kH, reinterpret_cast<uint32_t*>(mask_b.data()), stride8);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, frame.data(), kW * 4);
  uint32_t level = 0;
  for (auto _ : state) {
    level = (level + 1) & 255;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const uint8_t v = pattern[y * kW + x];
        mask_a[y * stride8 + x] = v >= level ? 255 : 0;
        mask_b[y * stride8 + x] = v <= level ? 255 : 0;
      }
    pixman_image_composite32(PIXMAN_OP_OVER, src_a, ma, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    pixman_image_composite32(PIXMAN_OP_OVER, src_b, mb, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(frame.data());
  }
  for (pixman_image_t* i : {src_a, src_b, ma, mb, dst}) pixman_image_unref(i);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PixmanMaskedOverFrame)->Unit(benchmark::kMillisecond);

}  // namespace
