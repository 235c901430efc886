// Instructions that move stack words, shape frames, call, return, jump and record the source position.
#include "vm/instructions.h"

#include "vm/operands.h"

namespace {

// A jump or call target must name a word of the code.
bool JumpTo(ScriptContext* ctx, uint32_t addr) {
  ctx->JumpTo(addr);
  return false;
}

// Pushes 0, 0 (slot 0) after raising error 1: the words pushed stay balanced.
bool PushBadRef(ScriptContext* ctx) {
  ctx->RaiseError(1);
  ctx->PushSlotRef(0);
  return false;
}

int32_t ReadIndex(ScriptContext* ctx, uint32_t mode) {
  if (mode & kVmModeIndexWord) return static_cast<int32_t>(ctx->Fetch());
  return DecodeOperand(ctx)->ToInt();
}

// Reads the name part of an operand without using it.
void SkipName(ScriptContext* ctx, uint32_t mode) {
  if (mode & kVmModeNameWord) {
    ctx->Fetch();
  } else if (mode & kVmModeNameOperand) {
    DecodeOperand(ctx);
  }
}

// Pushes the address of the member that `mode` names of `value`; the record holding it is pinned.
bool PushMemberRef(ScriptContext* ctx, ScriptValue* value, uint32_t mode) {
  ScriptValue* member = ApplyMemberAccess(ctx, value, mode);
  if (ctx->faulted()) return false;
  ctx->PushValueRef(member, value->RecordRef());
  return false;
}

}  // namespace

bool OpPushBase(ScriptContext* ctx) {
  ctx->Push(ctx->frame_base());
  return false;
}

bool OpPopBase(ScriptContext* ctx) {
  VmWord w;
  if (ctx->Pop(&w)) ctx->SetFrameBase(static_cast<uint32_t>(w));
  return false;
}

bool OpAddBase(ScriptContext* ctx) {
  int64_t i = int64_t{ctx->stack_top()} + static_cast<int32_t>(ctx->Fetch());
  if (i < 0 || i >= int64_t{ctx->stack_top()}) {
    ctx->Fault();
    return false;
  }
  ctx->SetFrameBase(ctx->frame_base() + static_cast<uint32_t>(ctx->StackWord(static_cast<uint32_t>(i))));
  return false;
}

bool OpDrop(ScriptContext* ctx) {
  ctx->Drop(ctx->Fetch());
  return false;
}

bool OpPushWord(ScriptContext* ctx) {
  ctx->Push(ctx->Fetch());
  return false;
}

bool OpPushRef(ScriptContext* ctx) {
  uint32_t mode = ctx->Fetch();
  uint32_t o = ctx->Fetch();
  if (ctx->faulted()) return false;
  const bool indexed = (mode & (kVmModeIndexWord | kVmModeIndexOperand)) != 0;
  const bool member = (mode & (kVmModeNameWord | kVmModeNameOperand)) != 0;
  uint32_t s;
  if (mode & kVmModeStackRef) {
    int64_t ref_index = int64_t{ctx->stack_top()} + static_cast<int32_t>(o);
    ScriptValue* addr;
    auto kind = ctx->ReadPair(ref_index, &s, &addr);
    if (kind == ScriptContext::Pair::kAddress) {
      if (indexed && ReadIndex(ctx, mode) > 0) return PushBadRef(ctx);
      if (member) return PushMemberRef(ctx, addr, mode);
      ctx->PushValueRef(addr, ctx->PinnedRecord(ref_index));
      return false;
    }
    if (kind == ScriptContext::Pair::kBad) {
      if (indexed) ReadIndex(ctx, mode);
      if (member) SkipName(ctx, mode);
      return PushBadRef(ctx);
    }
  } else {
    s = o + ((mode & kVmModeFrame) ? ctx->frame_base() : 0);
  }
  if (member) {
    // A member wins over an index here: no index is read.
    ScriptValue* v = ctx->SlotOrNull(s);
    if (!v) {
      SkipName(ctx, mode);
      return PushBadRef(ctx);
    }
    return PushMemberRef(ctx, v, mode);
  }
  if (indexed) {
    s += static_cast<uint32_t>(ReadIndex(ctx, mode));
    if (static_cast<int32_t>(s) < 0 || s >= ctx->slot_top()) return PushBadRef(ctx);
  }
  ctx->PushSlotRef(s);
  return false;
}

bool OpHalt(ScriptContext*) {
  return true;
}

bool OpCall(ScriptContext* ctx) {
  uint32_t mode = ctx->Fetch();
  uint32_t target = ctx->Fetch();
  if (ctx->faulted()) return false;
  if (mode & kVmCallBuiltin) {
    if (ctx->hook()) ctx->hook()(ctx, target);  // the built-in's bool is not used
    return false;
  }
  if (target >= ctx->code_size()) {
    ctx->Fault();
    return false;
  }
  if (ctx->Push(ctx->pc())) ctx->JumpTo(target);
  return false;
}

bool OpReturn(ScriptContext* ctx) {
  VmWord w;
  if (ctx->Pop(&w)) JumpTo(ctx, static_cast<uint32_t>(w));
  return false;
}

bool OpEnter(ScriptContext* ctx) {
  ctx->Enter(ctx->Fetch());
  return false;
}

bool OpSetTop(ScriptContext* ctx) {
  ctx->SetTop(ctx->Fetch());
  return false;
}

bool OpLeave(ScriptContext* ctx) {
  ctx->Leave(ctx->Fetch());
  return false;
}

bool OpJump(ScriptContext* ctx) {
  return JumpTo(ctx, ctx->Fetch());
}

bool OpJumpIfZero(ScriptContext* ctx) {
  int32_t x = DecodeOperand(ctx)->ToInt();
  uint32_t addr = ctx->Fetch();
  return x == 0 ? JumpTo(ctx, addr) : false;
}

bool OpJumpIfNonZero(ScriptContext* ctx) {
  int32_t x = DecodeOperand(ctx)->ToInt();
  uint32_t addr = ctx->Fetch();
  return x != 0 ? JumpTo(ctx, addr) : false;
}

bool OpClearLocals(ScriptContext* ctx) {
  uint32_t a = ctx->Fetch();
  uint32_t n = ctx->Fetch();
  ctx->ClearLocals(a, n);
  return false;
}

bool OpSetFile(ScriptContext* ctx) {
  ctx->SetSourceFile(ctx->Fetch());
  return false;
}

bool OpSetLine(ScriptContext* ctx) {
  ctx->SetSourceLine(ctx->Fetch());
  return false;
}
