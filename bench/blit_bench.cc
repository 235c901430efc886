// Megapixels per second of the blitter's hot paths beside pixman and memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <vector>

#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"

namespace {

constexpr int kW = 640, kH = 480;

void Fill(DImage& img) {
  std::uint8_t* p = img.GetBits();
  for (std::uint32_t i = 0; i < img.GetHeight() * img.GetPitch(); ++i)
    p[i] = static_cast<std::uint8_t>(i * 31 + 7);
}

void Report(benchmark::State& state) {
  state.counters["Mpx/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kW * kH / 1e6,
                                               benchmark::Counter::kIsRate);
}

// RGB565 <- BGRA8888 copy-convert.
void BM_Blit_RGB565_from_BGRA8888(benchmark::State& state) {
  DImage src, dst;
  src.CreateAligned(kW, kH, DimgFormat::BGRA8888);
  dst.CreateAligned(kW, kH, DimgFormat::RGB565);
  Fill(src);
  for (auto _ : state) {
    DimgBltUnscaled(dst, src, 0, 0, kW, kH, 0, 0);
    benchmark::DoNotOptimize(dst.GetBits());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(BM_Blit_RGB565_from_BGRA8888);

// Colour and alpha: BGRA8888 <- RGB565 with alpha 255.
void BM_BlitColorAlpha_BGRA8888_from_RGB565(benchmark::State& state) {
  DImage src, dst;
  src.CreateAligned(kW, kH, DimgFormat::RGB565);
  dst.CreateAligned(kW, kH, DimgFormat::BGRA8888);
  Fill(src);
  for (auto _ : state) {
    DimgBltColorAlphaUnscaled(dst, src, 0, 0, kW, kH, 0, 0, 255);
    benchmark::DoNotOptimize(dst.GetBits());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(BM_BlitColorAlpha_BGRA8888_from_RGB565);

// The same two conversions through pixman's SRC composite (a8r8g8b8 is BGRA in memory).
void Pixman(benchmark::State& state, pixman_format_code_t dst_format, int dst_bpp,
            pixman_format_code_t src_format, int src_bpp) {
  std::vector<std::uint32_t> src(kW * kH * src_bpp / 4), dst(kW * kH * dst_bpp / 4);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint32_t>(i * 2654435761u);
  pixman_image_t* s = pixman_image_create_bits(src_format, kW, kH, src.data(), kW * src_bpp);
  pixman_image_t* d = pixman_image_create_bits(dst_format, kW, kH, dst.data(), kW * dst_bpp);
  for (auto _ : state) {
    pixman_image_composite(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  Report(state);
}
void BM_Pixman_r5g6b5_from_a8r8g8b8(benchmark::State& state) {
  Pixman(state, PIXMAN_r5g6b5, 2, PIXMAN_a8r8g8b8, 4);
}
BENCHMARK(BM_Pixman_r5g6b5_from_a8r8g8b8);
void BM_Pixman_a8r8g8b8_from_r5g6b5(benchmark::State& state) {
  Pixman(state, PIXMAN_a8r8g8b8, 4, PIXMAN_r5g6b5, 2);
}
BENCHMARK(BM_Pixman_a8r8g8b8_from_r5g6b5);

// memcpy of the destination's bytes: 2 and 4 bytes per pixel.
void BM_Memcpy(benchmark::State& state) {
  const std::size_t bytes = std::size_t{kW} * kH * static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> src(bytes, 0x5A), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(BM_Memcpy)->Arg(2)->Arg(4);

}  // namespace
