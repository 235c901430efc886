// Fuzz target of the text, anti-aliased-character and input built-ins: byte-driven sequences of
// calls with arbitrary ints, floats and texts as arguments, on a small headless Draw screen with
// the Text unit, the input unit and the event waiter running on the virtual clock. The objects the
// makers give are kept in the argument slots, so selections and draws see real ones too; every
// call may also run in TSS mode, where the text built-ins refuse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/api_frame.h"
#include "api/draw_api.h"
#include "api/ov_api.h"
#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/text/text_unit.h"
#include "imaging/dimg_tables.h"
#include "platform/mmsystem.h"
#include "shell/ceventwaiter.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"
#include "vm/vm_services.h"

namespace {

// Text output (16), anti-aliased characters (9), input and event waits (23).
constexpr uint32_t kBuiltins[] = {
    79,  81, 82, 75, 74, 11, 10, 73, 72, 12, 87, 71, 88, 139, 140, 37, 245, 246, 247, 248, 249, 250, 251, 252,
    253, 50, 51, 52, 53, 59, 70, 54, 55, 56, 57, 60, 83, 85,  86,  69, 237, 265, 173, 103, 104, 142, 145, 65,
};
constexpr uint32_t kWaitEvent = 65;
constexpr uint32_t kArgs = 6;

struct World {
  DApplication app;
  DWindow window;
  ScriptContext* ctx = nullptr;
  DRef<ImageHandle> layered;  // an image with its level layer on, for DrawChar
  bool ok = false;
};

World& TheWorld() {
  static World* w = [] {
    setenv("ORVANE_BACKEND", "headless", 0);
    World* world = new World;  // lives for the process: the units keep pointers into it
    DimgInitMathTables();
    VmServices s = GetVmServices();
    s.message_box = [](const char*, const char*, uint32_t) { return 1; };
    s.exit_all_tasks = &ExitAllTasks;
    s.pump_messages = [] {};
    SetVmServices(s);
    InstallApiBuiltins();
    if (!world->app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr)) return world;
    DSetApplication(&world->app);
    if (!world->window.Create("", "fuzz", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 0, 100, 100)) return world;
    if (!DrawScreen().Init(world->window) || !DrawScreen().SetSize(64, 48, false)) return world;
    if (!StartTextUnit() || !InitDefaultTextFont()) return world;
    if (!MainWindow().Create() || !InputManager().Init() || !EventWaiter().Init()) return world;
    // Waits advance the clock instead of sleeping; with no task in the list an endless wait ends.
    orvane::clock::UseVirtualClock(1000);
    ApiHandle* layered = ovCreateImage(24, 16, 0, 8);
    world->layered = ApiHandleAs<ImageHandle>(layered, kScriptImage, "fuzz");
    ovDestroyImage(layered);
    if (DrawImage* i = DrawOf(world->layered)) i->EnableAlpha(true);
    // The font library keeps what its first lookups make for the rest of the process: made here,
    // it is not taken for a leak of the first input that draws text.
    for (const char* face : {"ＭＳ ゴシック", "ＭＳ 明朝", "x"}) {
      ApiHandle* chars = ovCreateChar(face, 16, 3, 0, 0, 0);
      ovRenderChar(chars, 0x82A0);
      ovDestroyChar(chars);
    }
    ApiHandle* text = ovCreateText(16, 3);
    ovGetTextExtent(text, "warm");
    ovDestroyText(text);
    DRef<ScriptImageInfo> image;
    image.Alloc(1);
    image->code = {0};
    image->globals = 16;
    image->SetData("", 0);
    world->ctx = ScriptContext::Create(image, 128, &CallBuiltin, &ReportVmErrorCode);
    world->ctx->Start(0);
    world->ok = world->layered && world->ctx;
    return world;
  }();
  return *w;
}

struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  uint8_t Byte() { return p < end ? *p++ : 0; }
  uint32_t Word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w |= static_cast<uint32_t>(Byte()) << (8 * i);
    return w;
  }
  // A text: a length byte, then that many bytes (fewer at the end of the input).
  std::string Text() {
    size_t n = Byte() % 48;
    n = n < static_cast<size_t>(end - p) ? n : static_cast<size_t>(end - p);
    std::string s(reinterpret_cast<const char*>(p), n);
    p += n;
    return s;
  }
};

}  // namespace

// The font library loses a block of its configuration while it starts; not ours to find.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// The world is made before the first input, so what the libraries keep from their start is not
// counted against an input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TheWorld();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& world = TheWorld();
  if (!world.ok) return 0;
  ScriptContext* ctx = world.ctx;
  Reader r{data, data + size};
  ClearCurrentObjects();
  CurrentObjects().image = DRef<void>::Convert((r.Byte() & 1) ? world.layered : ScreenImageHandle());
  CurrentObjects().text = DRef<void>::Convert(DefaultTextFont());
  CurrentObjects().input = DRef<void>::Convert(InputManager().GetDevice(0));
  for (uint32_t k = 0; k <= 15; ++k) ctx->SlotOrNull(k)->SetInt(0);
  for (int step = 0; step < 24 && r.p < r.end; ++step) {
    const uint8_t op = r.Byte();
    const uint32_t builtin = kBuiltins[op % (sizeof kBuiltins / sizeof kBuiltins[0])];
    const uint32_t kinds = r.Word();  // two bits per argument: keep, int, float, text
    for (uint32_t k = 0; k < kArgs; ++k) {
      ScriptValue* v = ctx->SlotOrNull(k + 1);
      switch ((kinds >> (2 * k)) & 3) {
        case 0:
          break;  // whatever an earlier call left there (an object, an out value)
        case 1: {
          int32_t n = static_cast<int32_t>(r.Word());
          // A wait lasts what it is asked (on the virtual clock too): keep waits short.
          if (builtin == kWaitEvent && k == 0) n = n < 0 ? -1 : n % 200;
          v->SetInt(n);
          break;
        }
        case 2: {
          const uint32_t w = r.Word();
          float f;
          std::memcpy(&f, &w, sizeof f);
          if (builtin == kWaitEvent && k == 0) f = 0;
          v->SetFloat(f);
          break;
        }
        default: {
          const std::string t = r.Text();
          v->SetString(t.c_str(), t.size());
          if (builtin == kWaitEvent && k == 0) v->SetInt(0);
        }
      }
    }
    const bool tss = (kinds >> 30) == 3;
    if (tss) SetStartupFlags(kStartupTss);
    const uint32_t top = ctx->stack_top();
    for (uint32_t k = kArgs; k >= 1; --k) ctx->PushSlotRef(k);
    ctx->Push(0);
    CallBuiltin(ctx, builtin);
    ctx->Drop(ctx->stack_top() - top);
    if (tss) SetStartupFlags(0);
    // Keep what the call made, sometimes, as an argument of later calls.
    const uint8_t keep = r.Byte();
    if (keep & 0x80) ScriptValue::Assign(*ctx->result(), ctx->SlotOrNull(1 + keep % kArgs));
    ctx->result()->SetInt(0);
  }
  for (uint32_t k = 0; k <= 15; ++k) ctx->SlotOrNull(k)->SetInt(0);
  ClearCurrentObjects();
  return 0;
}
