// Operand decoding: mode word, operand word, index and member parts, nested operands.
#include "vm/operands.h"

#include <string>

#include "vm/opcodes.h"

namespace {

// The index part of an operand: the index word, or the int value of a nested operand.
int32_t ReadIndex(ScriptContext* ctx, uint32_t mode) {
  if (mode & kVmModeIndexWord) return static_cast<int32_t>(ctx->Fetch());
  return DecodeOperand(ctx)->ToInt();
}

ScriptValue* BadAccess(ScriptContext* ctx) {
  ctx->RaiseError(1);
  return ctx->result();
}

ScriptValue* DecodeBody(ScriptContext* ctx, uint32_t mode, uint32_t x) {
  const bool indexed = (mode & (kVmModeIndexWord | kVmModeIndexOperand)) != 0;
  uint32_t s;
  if (mode & kVmModeStackRef) {
    uint32_t slot;
    ScriptValue* addr;
    auto kind = ctx->ReadPair(int64_t{ctx->stack_top()} + static_cast<int32_t>(x), &slot, &addr);
    if (kind == ScriptContext::Pair::kAddress) {
      int32_t i = indexed ? ReadIndex(ctx, mode) : 0;
      if (i > 0) return BadAccess(ctx);  // an address is one value, never an array
      return ApplyMemberAccess(ctx, addr, mode);
    }
    if (kind == ScriptContext::Pair::kBad) {
      // Consume the rest of the operand as a slot operand would, then fail on slot 0.
      if (indexed) {
        ReadIndex(ctx, mode);
      } else if (mode & (kVmModeNameWord | kVmModeNameOperand)) {
        if (mode & kVmModeNameWord) {
          ctx->Fetch();
        } else {
          DecodeOperand(ctx);
        }
      }
      return BadAccess(ctx);
    }
    s = slot;
  } else {
    s = x + ((mode & kVmModeFrame) ? ctx->frame_base() : 0);
  }
  if (indexed) {
    s += static_cast<uint32_t>(ReadIndex(ctx, mode));
    if (static_cast<int32_t>(s) < 0 || s >= ctx->slot_top()) return BadAccess(ctx);
    return ctx->SlotOrNull(s);
  }
  ScriptValue* v = ctx->SlotOrNull(s);
  if (!v) {
    // Outside the table: read the member part without applying it, then fail on slot 0.
    if (mode & kVmModeNameWord) {
      ctx->Fetch();
    } else if (mode & kVmModeNameOperand) {
      DecodeOperand(ctx);
    }
    return BadAccess(ctx);
  }
  return ApplyMemberAccess(ctx, v, mode);
}

}  // namespace

ScriptValue* DecodeOperand(ScriptContext* ctx) {
  if (ctx->depth_ >= kVmMaxOperandDepth) {
    ctx->Fault();
    return ctx->result();
  }
  ++ctx->depth_;
  uint32_t mode = ctx->Fetch();
  uint32_t x = ctx->Fetch();
  ScriptValue* v = ctx->fault_ ? ctx->result() : DecodeBody(ctx, mode, x);
  --ctx->depth_;
  return ctx->fault_ ? ctx->result() : v;
}

ScriptValue* ApplyMemberAccess(ScriptContext* ctx, ScriptValue* value, uint32_t mode) {
  if (mode & kVmModeNameWord) {
    const char* name = ctx->DataText(ctx->Fetch());
    if (!name) return ctx->result();
    return value->GetMember(name);
  }
  if (mode & kVmModeNameOperand) {
    // Copy the name: it may be the text of the very value that becomes a record.
    std::string name = DecodeOperand(ctx)->ToString(ctx);
    if (ctx->faulted()) return ctx->result();
    return value->GetMember(name.c_str());
  }
  return value;
}
