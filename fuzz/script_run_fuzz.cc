// Fuzz target of the script machine: loads an image and runs it, from its first method, export and
// address 0, with a context sharing its globals run in turns beside it, for a bounded number of
// instructions. Built-in calls reach a harmless stand-in that reads and writes its arguments.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vm/dispatch.h"
#include "vm/script_context.h"
#include "vm/script_image.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define ORVANE_FUZZ_ALLOCATED() __sanitizer_get_current_allocated_bytes()
#endif
#endif
#ifndef ORVANE_FUZZ_ALLOCATED
#define ORVANE_FUZZ_ALLOCATED() \
  size_t {                      \
    0                           \
  }
#endif

namespace {

constexpr uint32_t kMaxInstructions = 4096;
// Scripts may double a string every instruction: the run stops once it holds this much more.
constexpr size_t kMaxGrowth = size_t{64} << 20;

bool StandInBuiltin(ScriptContext* ctx, uint32_t n) {
  ScriptValue* a = ctx->GetArg(1);
  int32_t i = a->ToInt();
  if (n & 1) ctx->GetArgElement(2, i & 3)->SetInt(i);
  if (n & 2) (void)ctx->GetArgMember(1, "k");
  ctx->result()->SetInt(static_cast<int32_t>(n));
  return (n & 4) != 0;
}

void Ignore(ScriptContext*, uint32_t) {}

void RunBounded(ScriptContext* a, ScriptContext* b, size_t base) {
  uint32_t flags = 0;
  for (uint32_t done = 0; done < kMaxInstructions;) {
    bool end = false;
    done += a->StepMany(16, &flags, kVmRunEnd, &end);
    if (end) break;
    if (b->running() && b->Step()) b->Stop();
    if (ORVANE_FUZZ_ALLOCATED() > base + kMaxGrowth) break;
  }
  a->Stop();
  b->Stop();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DRef<ScriptImageInfo> info;
  info.Alloc(1);
  if (LoadScriptImageInfo(std::span<const uint8_t>(data, size), info.Get()) != nullptr) return 0;
  const size_t base = ORVANE_FUZZ_ALLOCATED();
  ScriptContext* ctx = ScriptContext::Create(info, 64, &StandInBuiltin, &Ignore);
  if (!ctx) return 0;
  ScriptContext* shared = ScriptContext::CloneShared(*ctx);
  ScriptContext* fresh = ScriptContext::CloneFresh(*ctx);
  if (!info->methods.empty() && ctx->Start(info->methods[0].entry)) {
    shared->StartByExport(0);
    RunBounded(ctx, shared, base);
  }
  if (fresh->StartByExport(0)) RunBounded(fresh, ctx, base);
  if (ctx->Start(0)) RunBounded(ctx, fresh, base);
  ScriptContext::Destroy(fresh);
  ScriptContext::Destroy(shared);
  ScriptContext::Destroy(ctx);
  return 0;
}
