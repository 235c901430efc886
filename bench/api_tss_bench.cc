// The `ovts` sprite exports as a plug-in calls them: 1000 sprites, each moved and faded through a
// table of export pointers, then a render; beside the same work done by direct calls into the
// TSS unit in the same run. Reports ns per call and the exports' share of the frame as a ratio.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>
#include <vector>

#include "api/ov_api.h"
#include "api/tss_exports.h"
#include "bench/headless_window.h"
#include "base/dwindow.h"
#include "display/tss/dtss_manager.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"

namespace {

constexpr int kSprites = 1000;

// The exports a plug-in binds, as pointers.
struct Bound {
  OvFn_ovtsSetSpritePos set_pos = &ovtsSetSpritePos;
  OvFn_ovtsSetSpriteColorA set_alpha = &ovtsSetSpriteColorA;
  OvFn_ovtsRender render = &ovtsRender;
};

struct Scene {
  Scene() {
    window = DWindow(orvane_bench::HeadlessWindow("apitssbench", 320, 240));
    SetStartupFlags(kStartupTss);
    ok = TssManager().Create(window, kDtssPoint) && TssExportsLive() && TssLevelAccepted(0);
    image = ovtsCreateImage(8, 8);
    ovtsFillImage(image, 1, 1, 1, 1);
    for (int i = 0; i < kSprites; ++i) sprites.push_back(ovtsCreateSprite(image, i % 16, 0));
    for (ApiHandle* s : sprites) direct.push_back(TssSpriteOf(s, "bench"));
  }
  ~Scene() {
    direct.clear();
    for (ApiHandle* s : sprites) ovtsDestroySprite(s);
    ovtsDestroyImage(image);
    TssManager().Destroy();
  }
  DWindow window;
  bool ok = false;
  ApiHandle* image = nullptr;
  std::vector<ApiHandle*> sprites;
  std::vector<DRef<DtssSprite>> direct;
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_ExportsFrame(benchmark::State& state) {
  Scene& scene = TheScene();
  if (!scene.ok) return state.SkipWithError("the TSS unit did not start");
  Bound ov;
  int32_t t = 0;
  for (auto _ : state) {
    ++t;
    for (int i = 0; i < kSprites; ++i) {
      ov.set_pos(scene.sprites[i], (i * 7 + t) % 300, (i * 3 + t) % 220);
      ov.set_alpha(scene.sprites[i], i & 3, static_cast<float>((i + t) & 255) / 255.0f);
    }
    benchmark::DoNotOptimize(ov.render());
  }
  state.counters["ns_per_call"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 2 * kSprites,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DirectFrame(benchmark::State& state) {
  Scene& scene = TheScene();
  if (!scene.ok) return state.SkipWithError("the TSS unit did not start");
  int32_t t = 0;
  for (auto _ : state) {
    ++t;
    for (int i = 0; i < kSprites; ++i) {
      scene.direct[i]->SetPos((i * 7 + t) % 300, (i * 3 + t) % 220);
      scene.direct[i]->SetColorA(i & 3, static_cast<float>((i + t) & 255) / 255.0f);
    }
    benchmark::DoNotOptimize(TssManager().Render());
  }
  state.counters["ns_per_call"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 2 * kSprites,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Only the 2000 calls, without the render: the exports' own cost beside the unit's.
void BM_ExportCallsOnly(benchmark::State& state) {
  Scene& scene = TheScene();
  if (!scene.ok) return state.SkipWithError("the TSS unit did not start");
  Bound ov;
  int32_t t = 0;
  for (auto _ : state) {
    ++t;
    for (int i = 0; i < kSprites; ++i) {
      ov.set_pos(scene.sprites[i], i, t & 127);
      ov.set_alpha(scene.sprites[i], i & 3, 0.5f);
    }
  }
  state.counters["ns_per_call"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 2 * kSprites,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DirectCallsOnly(benchmark::State& state) {
  Scene& scene = TheScene();
  if (!scene.ok) return state.SkipWithError("the TSS unit did not start");
  int32_t t = 0;
  for (auto _ : state) {
    ++t;
    for (int i = 0; i < kSprites; ++i) {
      scene.direct[i]->SetPos(i, t & 127);
      scene.direct[i]->SetColorA(i & 3, 0.5f);
    }
  }
  state.counters["ns_per_call"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 2 * kSprites,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// The ratio the goal is stated in: time in the 2000 export calls over the whole frame (calls plus
// render), and the same share for direct unit calls; the export layer's own cost is the difference.
void BM_ShareOfFrame(benchmark::State& state) {
  Scene& scene = TheScene();
  if (!scene.ok) return state.SkipWithError("the TSS unit did not start");
  Bound ov;
  double export_calls = 0, direct_calls = 0, renders = 0;
  int32_t t = 0;
  for (auto _ : state) {
    ++t;
    const double a = Now();
    for (int i = 0; i < kSprites; ++i) {
      ov.set_pos(scene.sprites[i], (i * 7 + t) % 300, (i * 3 + t) % 220);
      ov.set_alpha(scene.sprites[i], i & 3, static_cast<float>((i + t) & 255) / 255.0f);
    }
    const double b = Now();
    for (int i = 0; i < kSprites; ++i) {
      scene.direct[i]->SetPos((i * 7 + t) % 300, (i * 3 + t) % 220);
      scene.direct[i]->SetColorA(i & 3, static_cast<float>((i + t) & 255) / 255.0f);
    }
    const double c = Now();
    benchmark::DoNotOptimize(ov.render());
    const double d = Now();
    export_calls += b - a;
    direct_calls += c - b;
    renders += d - c;
  }
  state.counters["export_share"] = export_calls / (export_calls + renders);
  state.counters["direct_share"] = direct_calls / (direct_calls + renders);
  state.counters["layer_share"] = (export_calls - direct_calls) / (export_calls + renders);
}

}  // namespace

BENCHMARK(BM_ShareOfFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExportsFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExportCallsOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectCallsOnly)->Unit(benchmark::kMicrosecond);
