// The 356-entry dispatch table, built-in installation, a task's turn and the synchronous run.
#include "vm/dispatch.h"

#include "vm/instructions.h"
#include "vm/vm_services.h"

namespace {

// A built-in slot that nothing has installed: does nothing.
bool EmptyBuiltin(ScriptContext*) {
  return false;
}

constexpr uint32_t kPumpInterval = 100;

}  // namespace

VmHandler VmDispatchTable[kVmDispatchTableSize] = {
#define ORVANE_VM_TABLE_ENTRY(num, name, count, fields, doc) &name,
    ORVANE_VM_OPCODES(ORVANE_VM_TABLE_ENTRY)
#undef ORVANE_VM_TABLE_ENTRY
};

namespace {
// Fills the built-in half of the table before main runs.
const bool g_builtins_filled = [] {
  for (uint32_t i = kVmInstructionCount; i < kVmDispatchTableSize; ++i) VmDispatchTable[i] = &EmptyBuiltin;
  return true;
}();
}  // namespace

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
  if ((run_flags & (kVmRunYield | kVmRunEnd)) == 0) {
    uint32_t count = 0;
    for (;;) {
      if (ctx->Step()) run_flags |= kVmRunEnd;
      if (++count == kPumpInterval) {
        count = 0;
        VmPumpMessages();
      }
      if (run_flags & (kVmRunYield | kVmRunEnd)) break;
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
