// The software rasterizer behind the TSS unit beside outside anchors in the same run: 1000
// alpha-blended 64x64 sprites with linear filtering on a 640x480 frame (pixman OVER of the same
// scene with premultiplied pixels, SDL2's software renderer), and a rotated full-screen sprite
// (pixman's bilinear rotated OVER). One thread each.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "platform/raster.h"

using namespace orvane::raster;

namespace {

constexpr int kW = 640, kH = 480, kS = 64, kSprites = 1000;

struct Scene {
  std::vector<uint32_t> texture;        // A8R8G8B8, straight alpha
  std::vector<uint32_t> premultiplied;  // the same, premultiplied, for the anchors
  std::vector<std::pair<int, int>> positions;
  Scene() {
    std::mt19937 rng(42);
    texture.resize(kS * kS);
    premultiplied.resize(kS * kS);
    for (int i = 0; i < kS * kS; ++i) {
      uint32_t a = rng() & 255, r = rng() & 255, g = rng() & 255, b = rng() & 255;
      texture[i] = a << 24 | r << 16 | g << 8 | b;
      premultiplied[i] = a << 24 | (r * a / 255) << 16 | (g * a / 255) << 8 | (b * a / 255);
    }
    for (int i = 0; i < kSprites; ++i) positions.emplace_back(rng() % (kW - kS), rng() % (kH - kS));
  }
};

const Scene& TheScene() {
  static Scene s;
  return s;
}

void BM_Raster1000Sprites(benchmark::State& state) {
  const Scene& sc = TheScene();
  std::vector<uint32_t> frame(kW * kH, 0x204060);
  RasterTarget t{reinterpret_cast<uint8_t*>(frame.data()), kW * 4, kW, kH, PixelKind::kX8R8G8B8};
  RasterState s{};
  s.tex[0] =
      TextureView{reinterpret_cast<const uint8_t*>(sc.texture.data()), kS * 4, kS, kS, PixelKind::kA8R8G8B8};
  s.linear[0] = true;
  s.stage_enabled[0] = s.stage_enabled[1] = true;
  s.blend = true;
  s.src_blend = kBlendSrcAlpha;
  s.dst_blend = kBlendInvSrcAlpha;
  std::vector<RasterVertex> v;
  std::vector<uint16_t> idx;
  for (int i = 0; i < 256; ++i)
    for (uint16_t k : {0, 1, 2, 2, 1, 3}) idx.push_back(static_cast<uint16_t>(i * 4 + k));
  for (auto _ : state) {
    for (int first = 0; first < kSprites; first += 256) {
      int n = std::min(256, kSprites - first);
      v.clear();
      for (int i = first; i < first + n; ++i) {
        float x = sc.positions[i].first - 0.5f, y = sc.positions[i].second - 0.5f;
        v.push_back({x, y, 0, 1, 0xFFFFFFFF, 0, 0, 0, 0});
        v.push_back({x + kS, y, 0, 1, 0xFFFFFFFF, 1, 0, 0, 0});
        v.push_back({x, y + kS, 0, 1, 0xFFFFFFFF, 0, 1, 0, 0});
        v.push_back({x + kS, y + kS, 0, 1, 0xFFFFFFFF, 1, 1, 0, 0});
      }
      DrawTriangles(t, s, v.data(), static_cast<uint32_t>(v.size()), idx.data(),
                    static_cast<uint32_t>(n * 6));
    }
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_Raster1000Sprites)->Unit(benchmark::kMillisecond);

void BM_Pixman1000Sprites(benchmark::State& state) {
  const Scene& sc = TheScene();
  std::vector<uint32_t> frame(kW * kH, 0x204060);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, frame.data(), kW * 4);
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kS, kS,
                                                 const_cast<uint32_t*>(sc.premultiplied.data()), kS * 4);
  for (auto _ : state) {
    for (auto& p : sc.positions)
      pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, p.first, p.second, kS, kS);
    benchmark::DoNotOptimize(frame.data());
  }
  pixman_image_unref(src);
  pixman_image_unref(dst);
}
BENCHMARK(BM_Pixman1000Sprites)->Unit(benchmark::kMillisecond);

void BM_Sdl1000Sprites(benchmark::State& state) {
  const Scene& sc = TheScene();
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, kW, kH, 32, SDL_PIXELFORMAT_RGB888);
  SDL_Renderer* r = target ? SDL_CreateSoftwareRenderer(target) : nullptr;
  SDL_Texture* tex =
      r ? SDL_CreateTexture(r, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, kS, kS) : nullptr;
  if (!tex) {
    state.SkipWithError("no SDL software renderer");
    return;
  }
  SDL_UpdateTexture(tex, nullptr, sc.texture.data(), kS * 4);
  SDL_SetTextureBlendMode(tex, SDL_BLENDMODE_BLEND);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  for (auto _ : state) {
    for (auto& p : sc.positions) {
      SDL_Rect d{p.first, p.second, kS, kS};
      SDL_RenderCopy(r, tex, nullptr, &d);
    }
    SDL_RenderFlush(r);
    benchmark::DoNotOptimize(target->pixels);
  }
  SDL_DestroyTexture(tex);
  SDL_DestroyRenderer(r);
  SDL_FreeSurface(target);
}
BENCHMARK(BM_Sdl1000Sprites)->Unit(benchmark::kMillisecond);

// A full-screen picture rotated by 30 degrees about the frame's centre.
struct Rotated {
  std::vector<uint32_t> picture, premultiplied;
  float c = std::cos(0.5235988f), s = std::sin(0.5235988f);
  Rotated() {
    std::mt19937 rng(7);
    picture.resize(kW * kH);
    premultiplied.resize(kW * kH);
    for (int i = 0; i < kW * kH; ++i) {
      uint32_t a = rng() & 255, v = rng() & 0xFFFFFF;
      picture[i] = a << 24 | v;
      uint32_t r = (v >> 16) * a / 255, g = ((v >> 8) & 255) * a / 255, b = (v & 255) * a / 255;
      premultiplied[i] = a << 24 | r << 16 | g << 8 | b;
    }
  }
};

void BM_RasterRotatedFullScreen(benchmark::State& state) {
  static Rotated rot;
  std::vector<uint32_t> frame(kW * kH, 0x204060);
  RasterTarget t{reinterpret_cast<uint8_t*>(frame.data()), kW * 4, kW, kH, PixelKind::kX8R8G8B8};
  RasterState s{};
  s.tex[0] =
      TextureView{reinterpret_cast<const uint8_t*>(rot.picture.data()), kW * 4, kW, kH, PixelKind::kA8R8G8B8};
  s.linear[0] = true;
  s.stage_enabled[0] = s.stage_enabled[1] = true;
  s.blend = true;
  s.src_blend = kBlendSrcAlpha;
  s.dst_blend = kBlendInvSrcAlpha;
  RasterVertex v[4];
  const float cx = kW / 2.0f, cy = kH / 2.0f;
  for (int i = 0; i < 4; ++i) {
    float x = (i & 1) ? kW : 0, y = (i >> 1) ? kH : 0;
    float dx = x - cx, dy = y - cy;
    v[i] = {cx + dx * rot.c - dy * rot.s - 0.5f,
            cy + dx * rot.s + dy * rot.c - 0.5f,
            0,
            1,
            0xFFFFFFFF,
            float(i & 1),
            float(i >> 1),
            0,
            0};
  }
  const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  for (auto _ : state) {
    DrawTriangles(t, s, v, 4, idx, 6);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_RasterRotatedFullScreen)->Unit(benchmark::kMillisecond);

void BM_PixmanRotatedFullScreen(benchmark::State& state) {
  static Rotated rot;
  std::vector<uint32_t> frame(kW * kH, 0x204060);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, frame.data(), kW * 4);
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, rot.premultiplied.data(), kW * 4);
  // Destination to source: rotate by -30 degrees about the centre.
  pixman_transform_t tr;
  pixman_transform_init_identity(&tr);
  pixman_transform_translate(&tr, nullptr, pixman_double_to_fixed(-kW / 2.0),
                             pixman_double_to_fixed(-kH / 2.0));
  pixman_transform_rotate(&tr, nullptr, pixman_double_to_fixed(rot.c), pixman_double_to_fixed(-rot.s));
  pixman_transform_translate(&tr, nullptr, pixman_double_to_fixed(kW / 2.0),
                             pixman_double_to_fixed(kH / 2.0));
  pixman_transform_t inv;
  pixman_transform_invert(&inv, &tr);
  pixman_image_set_transform(src, &tr);
  pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(frame.data());
  }
  pixman_image_unref(src);
  pixman_image_unref(dst);
}
BENCHMARK(BM_PixmanRotatedFullScreen)->Unit(benchmark::kMillisecond);

}  // namespace
