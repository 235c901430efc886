// The blitter's copy-convert cells beside pixman's SRC composite of the same operation and a memcpy
// of the destination's bytes, timed in turn inside each iteration of one run. Counters: Mpx/s of
// ours, and ours/pixman and ours/memcpy as speed ratios (above 1: ours is faster).
// ORVANE_BLIT_VECTOR=none|sse2|avx2|avx512 caps the blitter's vector rows, so that the narrower rows
// can be timed on a processor that has wider ones.
#include <benchmark/benchmark.h>
#include <pixman.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"

namespace {

constexpr int kW = 640, kH = 480;

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Applies ORVANE_BLIT_VECTOR once, before the first benchmark runs.
const bool kVectorCapApplied [[maybe_unused]] = [] {
  const char* name = std::getenv("ORVANE_BLIT_VECTOR");
  if (name == nullptr || *name == '\0') return false;
  static constexpr struct {
    const char* name;
    DimgBlitVector cap;
  } kCaps[] = {{"none", DimgBlitVector::kNone},
               {"sse2", DimgBlitVector::kSse2},
               {"avx2", DimgBlitVector::kAvx2},
               {"avx512", DimgBlitVector::kAvx512}};
  for (const auto& c : kCaps) {
    if (std::strcmp(name, c.name) == 0) {
      DimgBlitSetVectorCap(c.cap);
      const int used = std::min(static_cast<int>(c.cap), static_cast<int>(DimgBlitVectorSupported()));
      std::fprintf(stderr, "blit rows capped at %s (this processor: %d of 3, in use: %d)\n", c.name,
                   static_cast<int>(DimgBlitVectorSupported()), used);
      return true;
    }
  }
  std::fprintf(stderr, "ORVANE_BLIT_VECTOR=%s: expected none, sse2, avx2 or avx512\n", name);
  std::exit(2);
}();

void Fill(DImage& img) {
  std::uint8_t* p = img.GetBits();
  for (std::uint32_t i = 0; i < img.GetHeight() * img.GetPitch(); ++i)
    p[i] = static_cast<std::uint8_t>(i * 31 + 7);
}

struct PixmanPair {
  std::vector<std::uint32_t> src, dst;
  pixman_image_t* s = nullptr;
  pixman_image_t* d = nullptr;
  int w, h;

  // bottom_up: both images get a negative stride (rows bottom-up in memory).
  PixmanPair(pixman_format_code_t dst_format, int dst_bpp, pixman_format_code_t src_format, int src_bpp,
             int sw, int sh, bool bottom_up)
      : src(static_cast<std::size_t>(sw) * sh * src_bpp / 4 + 1),
        dst(kW * kH * dst_bpp / 4 + 1),
        w(kW),
        h(kH) {
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint32_t>(i * 2654435761u);
    const int sstride = sw * src_bpp, dstride = kW * dst_bpp;
    auto* sbase = reinterpret_cast<std::uint8_t*>(src.data());
    auto* dbase = reinterpret_cast<std::uint8_t*>(dst.data());
    if (bottom_up) {
      s = pixman_image_create_bits(src_format, sw, sh,
                                   reinterpret_cast<std::uint32_t*>(sbase + (sh - 1) * sstride), -sstride);
      d = pixman_image_create_bits(dst_format, kW, kH,
                                   reinterpret_cast<std::uint32_t*>(dbase + (kH - 1) * dstride), -dstride);
    } else {
      s = pixman_image_create_bits(src_format, sw, sh, src.data(), sstride);
      d = pixman_image_create_bits(dst_format, kW, kH, dst.data(), dstride);
    }
    if (sw != kW || sh != kH) {
      pixman_transform_t t;
      pixman_transform_init_scale(&t, pixman_int_to_fixed(sw) / kW, pixman_int_to_fixed(sh) / kH);
      pixman_image_set_transform(s, &t);
      pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
    }
  }
  ~PixmanPair() {
    pixman_image_unref(s);
    pixman_image_unref(d);
  }
  void Run() { pixman_image_composite(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h); }
};

struct Case {
  DimgFormat dst_format, src_format;
  pixman_format_code_t pdst, psrc;
  int sw, sh;
  bool bottom_up;
};

void Compare(benchmark::State& state, const Case& c) {
  DImage top_src, top_dst;
  DImageDib dib_src, dib_dst;
  DImage& src = c.bottom_up ? dib_src : top_src;
  DImage& dst = c.bottom_up ? dib_dst : top_dst;
  src.CreateAligned(c.sw, c.sh, c.src_format);
  dst.CreateAligned(kW, kH, c.dst_format);
  Fill(src);
  const int dbpp = static_cast<int>(DimgBytesPerPixel(c.dst_format));
  const int sbpp = static_cast<int>(DimgBytesPerPixel(c.src_format));
  PixmanPair px(c.pdst, dbpp, c.psrc, sbpp, c.sw, c.sh, c.bottom_up);
  const std::size_t bytes = std::size_t{kW} * kH * static_cast<std::size_t>(dbpp);
  std::vector<std::uint8_t> msrc(bytes, 0x5A), mdst(bytes);
  double ours = 0, pixman = 0, memcpy_time = 0;
  for (auto _ : state) {
    double t0 = Now();
    DimgBlt(dst, src, 0, 0, kW, kH, 0, 0, c.sw, c.sh);
    double t1 = Now();
    px.Run();
    double t2 = Now();
    std::memcpy(mdst.data(), msrc.data(), bytes);
    benchmark::DoNotOptimize(mdst.data());
    benchmark::ClobberMemory();
    double t3 = Now();
    ours += t1 - t0;
    pixman += t2 - t1;
    memcpy_time += t3 - t2;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["Mpx/s"] = n * kW * kH / 1e6 / ours;
  state.counters["ours/pixman"] = pixman / ours;
  state.counters["ours/memcpy"] = memcpy_time / ours;
}

using F = DimgFormat;
const Case kCases[] = {
    {F::RGB565, F::BGRA8888, PIXMAN_r5g6b5, PIXMAN_a8r8g8b8, kW, kH, false},
    {F::ARGB1555, F::BGRA8888, PIXMAN_a1r5g5b5, PIXMAN_a8r8g8b8, kW, kH, false},
    {F::ARGB4444, F::BGRA8888, PIXMAN_a4r4g4b4, PIXMAN_a8r8g8b8, kW, kH, false},
    {F::RGB565, F::RGBA8888, PIXMAN_r5g6b5, PIXMAN_a8b8g8r8, kW, kH, false},
    {F::RGB565, F::BGR888, PIXMAN_r5g6b5, PIXMAN_r8g8b8, kW, kH, false},
    {F::RGB565, F::BGRA8888, PIXMAN_r5g6b5, PIXMAN_a8r8g8b8, kW, kH, true},
    {F::RGB565, F::BGRA8888, PIXMAN_r5g6b5, PIXMAN_a8r8g8b8, kW / 2, kH / 2, false},
    {F::ARGB1555, F::BGRA8888, PIXMAN_a1r5g5b5, PIXMAN_a8r8g8b8, kW * 3 / 4, kH * 3 / 4, false},
    {F::BGRA8888, F::RGB565, PIXMAN_a8r8g8b8, PIXMAN_r5g6b5, kW, kH, false},
    {F::BGRA8888, F::ARGB1555, PIXMAN_a8r8g8b8, PIXMAN_a1r5g5b5, kW, kH, false},
};

void BM_Blit_RGB565_from_BGRA8888(benchmark::State& s) {
  Compare(s, kCases[0]);
}
void BM_Blit_ARGB1555_from_BGRA8888(benchmark::State& s) {
  Compare(s, kCases[1]);
}
void BM_Blit_ARGB4444_from_BGRA8888(benchmark::State& s) {
  Compare(s, kCases[2]);
}
void BM_Blit_RGB565_from_RGBA8888(benchmark::State& s) {
  Compare(s, kCases[3]);
}
void BM_Blit_RGB565_from_BGR888(benchmark::State& s) {
  Compare(s, kCases[4]);
}
void BM_Blit_RGB565_from_BGRA8888_BottomUp(benchmark::State& s) {
  Compare(s, kCases[5]);
}
void BM_Blit_RGB565_from_BGRA8888_Stretch2x(benchmark::State& s) {
  Compare(s, kCases[6]);
}
void BM_Blit_ARGB1555_from_BGRA8888_Stretch4to3(benchmark::State& s) {
  Compare(s, kCases[7]);
}
void BM_Blit_BGRA8888_from_RGB565(benchmark::State& s) {
  Compare(s, kCases[8]);
}
void BM_Blit_BGRA8888_from_ARGB1555(benchmark::State& s) {
  Compare(s, kCases[9]);
}
BENCHMARK(BM_Blit_RGB565_from_BGRA8888);
BENCHMARK(BM_Blit_ARGB1555_from_BGRA8888);
BENCHMARK(BM_Blit_ARGB4444_from_BGRA8888);
BENCHMARK(BM_Blit_RGB565_from_RGBA8888);
BENCHMARK(BM_Blit_RGB565_from_BGR888);
BENCHMARK(BM_Blit_RGB565_from_BGRA8888_BottomUp);
BENCHMARK(BM_Blit_RGB565_from_BGRA8888_Stretch2x);
BENCHMARK(BM_Blit_ARGB1555_from_BGRA8888_Stretch4to3);
BENCHMARK(BM_Blit_BGRA8888_from_RGB565);
BENCHMARK(BM_Blit_BGRA8888_from_ARGB1555);

// Colour and alpha: BGRA8888 <- RGB565 with alpha 255 (the cell the display layer uses most).
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
  state.counters["Mpx/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kW * kH / 1e6,
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BlitColorAlpha_BGRA8888_from_RGB565);

}  // namespace
