// Draw-image blit modes on both HAL units and the filtered stretch, beside pixman and memcpy.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <random>
#include <vector>

#include "imaging/blit/dimg_rows.h"
#include "imaging/blit/dimg_smooth.h"
#include "imaging/dimage.h"
#include "imaging/hal/dhal.h"

namespace {

constexpr int kW = 640, kH = 480;
constexpr std::uint16_t kKey = 0xF81F;

void Report(benchmark::State& state, int w = kW, int h = kH) {
  state.counters["Mpx/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * w * h / 1e6, benchmark::Counter::kIsRate);
}

// A 640 x 480 RGB565 source whose rows alternate runs of 1 to 32 key and non-key pixels (half
// the pixels keyed), with its run map; and a destination.
struct Scene {
  DImage src, dst;
  std::vector<std::uint8_t> run_map;

  Scene() {
    src.CreateAligned(kW, kH, DimgFormat::RGB565);
    dst.CreateAligned(kW, kH, DimgFormat::RGB565);
    run_map.resize(std::size_t{kW} * kH);
    std::mt19937 rng(5);
    for (int y = 0; y < kH; ++y) {
      bool key = y % 2 == 0;
      for (int x = 0; x < kW;) {
        const int n = std::min<int>(1 + static_cast<int>(rng() % 32), kW - x);
        for (int i = 0; i < n; ++i) {
          const std::uint16_t v = key ? kKey : static_cast<std::uint16_t>(rng() & 0xFFDF);
          std::memcpy(src.GetPixelPointer(x + i, y), &v, 2);
          run_map[std::size_t(y) * kW + x + i] = static_cast<std::uint8_t>(n - i);
        }
        x += n;
        key = !key;
      }
    }
    std::memset(dst.GetBits(), 0x35, std::size_t{dst.GetPitch()} * kH);
  }
  DimgRowArgs Args(std::uint8_t level) {
    DimgRowArgs a;
    a.dst = dst.GetPixelPointer(0, 0);
    a.dst_image = &dst;
    a.src = src.GetPixelPointer(0, 0);
    a.src_image = &src;
    a.w = kW;
    a.h = kH;
    a.key = kKey;
    a.run_map = run_map.data();
    a.level = level;
    return a;
  }
};

// Mode `range(0)` on unit `range(1)` (0 plain, 1 vector).
void BM_BlitMode(benchmark::State& state) {
  const auto mode = static_cast<std::uint32_t>(state.range(0));
  const bool vector = state.range(1) != 0;
  if (vector && !DHalMmx::Available()) {
    state.SkipWithError("no vector unit");
    return;
  }
  const DHalSpanRecord saved = DHalSpans;
  vector ? DHalMmx::Init(6) : DHalX86::Init(6);
  DHalSpans = vector ? DHalMmx::Routines(6) : DHalX86::Routines(6);
  Scene scene;
  const DimgRowArgs a = scene.Args(12);
  for (auto _ : state) {
    DimgRunRows(mode, a);
    benchmark::DoNotOptimize(scene.dst.GetBits());
    benchmark::ClobberMemory();
  }
  vector ? DHalMmx::Term() : DHalX86::Term();
  DHalSpans = saved;
  state.SetLabel(vector ? "vector" : "plain");
  Report(state);
}
BENCHMARK(BM_BlitMode)->ArgsProduct({{11, 1, 2}, {0, 1}});

// pixman OVER of an r5g6b5 source through a solid a8 mask (the level blend's counterpart).
void BM_Pixman_Over_r5g6b5_SolidMask(benchmark::State& state) {
  Scene scene;
  pixman_image_t* s =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<std::uint32_t*>(scene.src.GetBits()),
                               static_cast<int>(scene.src.GetPitch()));
  pixman_image_t* d =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<std::uint32_t*>(scene.dst.GetBits()),
                               static_cast<int>(scene.dst.GetPitch()));
  const pixman_color_t half{0, 0, 0, 0x6000};
  pixman_image_t* m = pixman_image_create_solid_fill(&half);
  for (auto _ : state) {
    pixman_image_composite(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(scene.dst.GetBits());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(m);
  pixman_image_unref(s);
  pixman_image_unref(d);
  Report(state);
}
BENCHMARK(BM_Pixman_Over_r5g6b5_SolidMask);

// pixman OVER of an a1r5g5b5 source onto r5g6b5, half the source transparent (the colour key's
// counterpart).
void BM_Pixman_Over_a1r5g5b5(benchmark::State& state) {
  Scene scene;
  std::vector<std::uint16_t> src(std::size_t{kW} * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      std::uint16_t v;
      std::memcpy(&v, scene.src.GetPixelPointer(x, y), 2);
      src[std::size_t(y) * kW + x] = v == kKey ? 0 : static_cast<std::uint16_t>(0x8000 | (v & 0x7FFF));
    }
  pixman_image_t* s =
      pixman_image_create_bits(PIXMAN_a1r5g5b5, kW, kH, reinterpret_cast<std::uint32_t*>(src.data()), kW * 2);
  pixman_image_t* d =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<std::uint32_t*>(scene.dst.GetBits()),
                               static_cast<int>(scene.dst.GetPitch()));
  for (auto _ : state) {
    pixman_image_composite(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(scene.dst.GetBits());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  Report(state);
}
BENCHMARK(BM_Pixman_Over_a1r5g5b5);

// memcpy of one 640 x 480 RGB565 frame.
void BM_Memcpy_Frame565(benchmark::State& state) {
  std::vector<std::uint8_t> src(std::size_t{kW} * kH * 2, 0x5A), dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(BM_Memcpy_Frame565);

// Filtered stretch 320 x 240 -> 640 x 480, RGB565.
void BM_StretchSmoothRGB565(benchmark::State& state) {
  DImage src, dst;
  src.CreateAligned(kW / 2, kH / 2, DimgFormat::RGB565);
  dst.CreateAligned(kW, kH, DimgFormat::RGB565);
  std::mt19937 rng(9);
  for (std::uint32_t i = 0; i < src.GetPitch() * src.GetHeight(); ++i)
    src.GetBits()[i] = static_cast<std::uint8_t>(rng());
  for (auto _ : state) {
    DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 0, 0, kW, kH, src.GetTopLine(), src, 0, 0, kW / 2, kH / 2);
    benchmark::DoNotOptimize(dst.GetBits());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(BM_StretchSmoothRGB565);

// pixman SRC with a bilinear 2x scale transform, r5g6b5 to r5g6b5.
void BM_Pixman_Bilinear_r5g6b5(benchmark::State& state) {
  std::vector<std::uint16_t> src(std::size_t{kW / 2} * (kH / 2)), dst(std::size_t{kW} * kH);
  std::mt19937 rng(9);
  for (auto& v : src) v = static_cast<std::uint16_t>(rng());
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_r5g6b5, kW / 2, kH / 2,
                                               reinterpret_cast<std::uint32_t*>(src.data()), kW);
  pixman_image_t* d =
      pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<std::uint32_t*>(dst.data()), kW * 2);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  Report(state);
}
BENCHMARK(BM_Pixman_Bilinear_r5g6b5);

}  // namespace
