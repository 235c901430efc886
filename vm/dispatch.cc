// The 356-entry dispatch table, built-in installation, a task's turn and the synchronous run.
#include "vm/dispatch.h"

#include <iterator>

#include "vm/instructions.h"
#include "vm/vm_services.h"

namespace {

// A built-in slot that nothing has installed: does nothing.
bool EmptyBuiltin(ScriptContext*) {
  return false;
}

constexpr uint32_t kPumpInterval = 100;

}  // namespace

// 284 empty built-in entries, written out so the whole table is constant-initialized: built-ins
// installed by other units' static initializers are never overwritten by ours.
#define ORVANE_VM_EMPTY4 &EmptyBuiltin, &EmptyBuiltin, &EmptyBuiltin, &EmptyBuiltin,
#define ORVANE_VM_EMPTY16 ORVANE_VM_EMPTY4 ORVANE_VM_EMPTY4 ORVANE_VM_EMPTY4 ORVANE_VM_EMPTY4
#define ORVANE_VM_EMPTY64 ORVANE_VM_EMPTY16 ORVANE_VM_EMPTY16 ORVANE_VM_EMPTY16 ORVANE_VM_EMPTY16
#define ORVANE_VM_EMPTY284                                                                                   \
  ORVANE_VM_EMPTY64 ORVANE_VM_EMPTY64 ORVANE_VM_EMPTY64 ORVANE_VM_EMPTY64 ORVANE_VM_EMPTY16 ORVANE_VM_EMPTY4 \
      ORVANE_VM_EMPTY4 ORVANE_VM_EMPTY4

namespace {
constexpr VmHandler kEmptyBuiltins[] = {ORVANE_VM_EMPTY284};
static_assert(std::size(kEmptyBuiltins) == kVmBuiltinCount);
}  // namespace

constinit VmHandler VmDispatchTable[kVmDispatchTableSize] = {
#define ORVANE_VM_TABLE_ENTRY(num, name, count, fields, doc) &name,
    ORVANE_VM_OPCODES(ORVANE_VM_TABLE_ENTRY)
#undef ORVANE_VM_TABLE_ENTRY
        ORVANE_VM_EMPTY284};

#undef ORVANE_VM_EMPTY284
#undef ORVANE_VM_EMPTY64
#undef ORVANE_VM_EMPTY16
#undef ORVANE_VM_EMPTY4

bool SetVmBuiltin(uint32_t n, VmHandler handler) {
  if (n >= kVmBuiltinCount) return false;
  VmDispatchTable[kVmInstructionCount + n] = handler ? handler : &EmptyBuiltin;
  return true;
}

bool CallBuiltin(ScriptContext* ctx, uint32_t n) {
  if (n >= kVmBuiltinCount) {
    ctx->RaiseError(1);
    return false;
  }
  return VmDispatchTable[kVmInstructionCount + n](ctx);
}

bool RunTaskTurn(ScriptContext* ctx, uint32_t& run_flags) {
  constexpr uint32_t kStop = kVmRunYield | kVmRunEnd;
  if ((run_flags & kStop) == 0) {
    for (;;) {
      // Runs to the next pump, or less when the run ends or a flag is set.
      bool end = false;
      uint32_t ran = ctx->StepMany(kPumpInterval, &run_flags, kStop, &end);
      if (end) run_flags |= kVmRunEnd;
      if (ran == kPumpInterval) VmPumpMessages();
      if (run_flags & kStop) break;
    }
  }
  bool end = (run_flags & kVmRunEnd) != 0;
  run_flags = 0;
  return end;
}

void RunMethodSync(ScriptContext* ctx, const uint32_t& run_flags) {
  while ((run_flags & kVmRunEnd) == 0) {
    if (ctx->Step()) break;
    VmPumpMessages();
  }
}
