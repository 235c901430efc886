// A script frame moving 200 images through the built-ins (SetImage, SetImagePos for each, then
// RenderSpriteScreen), beside the same frame by direct Draw-unit calls in the same run: the
// built-in layer's overhead (goal: under 10 %).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "api/draw_api.h"
#include "api/ov_api.h"
#include "base/dapplication.h"
#include "base/dwindow.h"
#include "imaging/dimg_tables.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

constexpr int kImages = 200;

struct World {
  DApplication app;
  DWindow window;
  ScriptContext* ctx = nullptr;
  std::vector<DRef<ImageHandle>> handles;
  bool ok = false;

  World() {
    setenv("ORVANE_BACKEND", "headless", 0);
    DimgInitMathTables();
    InstallApiBuiltins();
    if (!app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr)) return;
    DSetApplication(&app);
    if (!window.Create("", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 0, 640, 480)) return;
    window.SetClientSize(640, 480);
    if (!DrawScreen().Init(window)) return;
    DrawScreen().GetSpriteList().SetLevelCount(2);
    DRef<ScriptImageInfo> image;
    image.Alloc(1);
    image->code = {0};
    image->globals = kImages + 8;
    image->SetData("", 0);
    ctx = ScriptContext::Create(image, 64, &CallBuiltin, &ReportVmErrorCode);
    ctx->Start(0);
    ApiHandle* bg = ovCreateImage(640, 480, 0, 0);
    ovFillImage(bg, 4, 8, 12);
    handles.push_back(ApiHandleAs<ImageHandle>(bg, kScriptImage, "bench"));
    ovDestroyImage(bg);
    for (int i = 0; i < kImages; ++i) {
      ApiHandle* h = ovCreateImage(16, 16, 1, 0);
      ovFillImage(h, uint8_t(i % 32), uint8_t((i * 7) % 32), 31);
      SetObjectValue(ctx->SlotOrNull(uint32_t(8 + i)), kScriptImage,
                     DRef<void>::Convert(ApiHandleAs<ImageHandle>(h, kScriptImage, "bench")));
      handles.push_back(ApiHandleAs<ImageHandle>(h, kScriptImage, "bench"));
      ovDestroyImage(h);
    }
    ok = true;
  }
  void Call(uint32_t n, std::initializer_list<uint32_t> slots) {
    const uint32_t top = ctx->stack_top();
    for (auto it = std::rbegin(slots); it != std::rend(slots); ++it) ctx->PushSlotRef(*it);
    ctx->Push(0);
    ctx->hook()(ctx, n);
    ctx->Drop(ctx->stack_top() - top);
  }
};

World& TheWorld() {
  static World* w = new World;
  return *w;
}

int32_t X(int frame, int i) {
  return (i * 37 + frame * 3) % 620;
}
int32_t Y(int frame, int i) {
  return (i * 23 + frame * 2) % 460;
}

void BM_DrawFrame_Builtins(benchmark::State& state) {
  World& w = TheWorld();
  if (!w.ok) return state.SkipWithError("no screen");
  int frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < kImages; ++i) {
      w.ctx->SlotOrNull(1)->SetInt(X(frame, i));
      w.ctx->SlotOrNull(2)->SetInt(Y(frame, i));
      w.Call(77, {uint32_t(8 + i)});  // SetImage
      w.Call(25, {1, 2});             // SetImagePos
    }
    w.Call(46, {});  // RenderSpriteScreen
    ++frame;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawFrame_Builtins)->Unit(benchmark::kMicrosecond);

void BM_DrawFrame_DirectDrawUnit(benchmark::State& state) {
  World& w = TheWorld();
  if (!w.ok) return state.SkipWithError("no screen");
  SpriteList& list = DrawScreen().GetSpriteList();
  int frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < kImages; ++i) {
      DrawImage* image = DrawOf(w.handles[size_t(i + 1)]);
      image->SetPos(X(frame, i), Y(frame, i));
      image->SetUpdate();
    }
    list.Update();
    list.Render();
    DrawScreen().Present();
    list.ClearDirty();
    ++frame;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawFrame_DirectDrawUnit)->Unit(benchmark::kMicrosecond);

}  // namespace
