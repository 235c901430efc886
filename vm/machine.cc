// The instruction loop: fetches an opcode and runs it. The common integer forms of the hot
// instructions on plain slot operands run here directly; everything else, and every case that
// could fault or touch a non-int value, goes to the instruction's own handler from its first field,
// so the rules and errors stay those of the handlers.
#include "vm/dispatch.h"
#include "vm/instructions.h"
#include "vm/vm_arith.h"

struct VmFast {
  // The value a plain operand (global or frame slot, no index, member or stack part) names, or
  // null when the operand is of another kind or its slot lies outside the table. `w` points at the
  // operand's mode word; the caller has checked that both words lie inside the code.
  static ScriptValue* Plain(const ScriptContext* c, const uint32_t* w) {
    const uint32_t mode = w[0];
    if (mode > kVmModeFrame) return nullptr;
    const uint32_t s = w[1] + (mode ? c->frame_base_ : 0);
    return s < c->slot_capacity_ ? c->slot_data_[s] : nullptr;
  }
  // A plain operand holding an int.
  static ScriptValue* PlainInt(const ScriptContext* c, const uint32_t* w) {
    ScriptValue* v = Plain(c, w);
    return (v && v->type() == kScriptInt) ? v : nullptr;
  }

  static int32_t IntOp(VmOp op, int32_t a, int32_t b) {
    switch (op) {
      case VmOp::OpMul:
      case VmOp::OpMulAssign:
      case VmOp::OpMulConstInt:
        return VmIntMul(a, b);
      case VmOp::OpDiv:
      case VmOp::OpDivAssign:
      case VmOp::OpDivConstInt:
        return VmIntDiv(a, b);
      case VmOp::OpMod:
      case VmOp::OpModAssign:
      case VmOp::OpModConstInt:
        return VmIntMod(a, b);
      case VmOp::OpAdd:
      case VmOp::OpAddAssign:
      case VmOp::OpAddConstInt:
        return VmIntAdd(a, b);
      case VmOp::OpSub:
      case VmOp::OpSubAssign:
      case VmOp::OpSubConstInt:
        return VmIntSub(a, b);
      case VmOp::OpShl:
      case VmOp::OpShlAssign:
      case VmOp::OpShlConstInt:
        return VmIntShl(a, b);
      case VmOp::OpShr:
      case VmOp::OpShrAssign:
      case VmOp::OpShrConstInt:
        return VmIntShr(a, b);
      case VmOp::OpLt:
        return a < b;
      case VmOp::OpGt:
        return a > b;
      case VmOp::OpLe:
        return a <= b;
      case VmOp::OpGe:
        return a >= b;
      case VmOp::OpEq:
        return a == b;
      case VmOp::OpNe:
        return a != b;
      case VmOp::OpAnd:
      case VmOp::OpAndAssign:
      case VmOp::OpAndConstInt:
        return a & b;
      case VmOp::OpXor:
      case VmOp::OpXorAssign:
      case VmOp::OpXorConstInt:
        return a ^ b;
      default:  // the Or forms
        return a | b;
    }
  }

  // The fast forms; false when the instruction must go to its handler (nothing changed then).
  // `avail` is the number of code words after the opcode.
  static bool Try(ScriptContext* c, VmOp op, const uint32_t* w, uint32_t avail) {
    switch (op) {
      case VmOp::OpMul:
      case VmOp::OpDiv:
      case VmOp::OpMod:
      case VmOp::OpAdd:
      case VmOp::OpSub:
      case VmOp::OpShl:
      case VmOp::OpShr:
      case VmOp::OpLt:
      case VmOp::OpGt:
      case VmOp::OpLe:
      case VmOp::OpGe:
      case VmOp::OpEq:
      case VmOp::OpNe:
      case VmOp::OpAnd:
      case VmOp::OpXor:
      case VmOp::OpOr: {
        if (avail < 6) return false;
        ScriptValue* d = Plain(c, w);
        ScriptValue* a = PlainInt(c, w + 2);
        ScriptValue* b = PlainInt(c, w + 4);
        if (!d || !a || !b) return false;
        c->pc_ += 6;
        d->SetInt(IntOp(op, a->int_value(), b->int_value()));
        return true;
      }
      case VmOp::OpMove: {
        if (avail < 4) return false;
        ScriptValue* d = Plain(c, w);
        ScriptValue* s = PlainInt(c, w + 2);
        if (!d || !s) return false;
        c->pc_ += 4;
        d->SetInt(s->int_value());
        return true;
      }
      case VmOp::OpMulAssign:
      case VmOp::OpDivAssign:
      case VmOp::OpModAssign:
      case VmOp::OpAddAssign:
      case VmOp::OpSubAssign:
      case VmOp::OpShlAssign:
      case VmOp::OpShrAssign:
      case VmOp::OpAndAssign:
      case VmOp::OpXorAssign:
      case VmOp::OpOrAssign: {
        if (avail < 4) return false;
        ScriptValue* d = PlainInt(c, w);
        ScriptValue* s = PlainInt(c, w + 2);
        if (!d || !s) return false;
        c->pc_ += 4;
        d->SetInt(IntOp(op, d->int_value(), s->int_value()));
        return true;
      }
      case VmOp::OpSetInt: {
        if (avail < 3) return false;
        ScriptValue* d = Plain(c, w);
        if (!d) return false;
        c->pc_ += 3;
        d->SetInt(static_cast<int32_t>(w[2]));
        return true;
      }
      case VmOp::OpMulConstInt:
      case VmOp::OpDivConstInt:
      case VmOp::OpModConstInt:
      case VmOp::OpAddConstInt:
      case VmOp::OpSubConstInt:
      case VmOp::OpShlConstInt:
      case VmOp::OpShrConstInt:
      case VmOp::OpAndConstInt:
      case VmOp::OpXorConstInt:
      case VmOp::OpOrConstInt: {
        if (avail < 3) return false;
        ScriptValue* d = PlainInt(c, w);
        if (!d) return false;
        c->pc_ += 3;
        d->SetInt(IntOp(op, d->int_value(), static_cast<int32_t>(w[2])));
        return true;
      }
      case VmOp::OpJump:
        if (avail < 1 || w[0] >= c->code_size_) return false;
        c->pc_ = w[0];
        return true;
      case VmOp::OpJumpIfZero:
      case VmOp::OpJumpIfNonZero: {
        if (avail < 3) return false;
        ScriptValue* x = PlainInt(c, w);
        if (!x) return false;
        const bool jump = (x->int_value() == 0) == (op == VmOp::OpJumpIfZero);
        if (!jump) {
          c->pc_ += 3;
          return true;
        }
        if (w[2] >= c->code_size_) return false;
        c->pc_ = w[2];
        return true;
      }
      case VmOp::OpPushRef:
        if (avail < 2 || w[0] > kVmModeFrame) return false;
        c->pc_ += 2;
        c->PushSlotRef(w[1] + (w[0] ? c->frame_base_ : 0));
        return true;
      case VmOp::OpPushWord:
        if (avail < 1) return false;
        c->pc_ += 1;
        c->Push(w[0]);
        return true;
      default:
        return false;
    }
  }
};

bool ScriptContext::Execute() {
  if (pc_ >= code_size_) {
    Fault();
    return true;
  }
  const uint32_t op = code_[pc_++];
  if (op < kVmInstructionCount) {
    if (VmFast::Try(this, static_cast<VmOp>(op), code_ + pc_, code_size_ - pc_)) return false;
    return VmDispatchTable[op](this);
  }
  if (op < kVmDispatchTableSize) {
    // A built-in named directly by the code runs as OpCall 1 n would run it.
    if (hook_) hook_(this, op - kVmInstructionCount);
    return false;
  }
  RaiseError(1);
  return true;
}

bool ScriptContext::Step() {
  bool end = Execute();
  if (fault_) {
    fault_ = false;
    end = true;
  }
  depth_ = 0;
  return end;
}

uint32_t ScriptContext::StepMany(uint32_t n, const uint32_t* run_flags, uint32_t mask, bool* end) {
  for (uint32_t i = 1;; ++i) {
    if (Step()) {
      *end = true;
      return i;
    }
    if ((*run_flags & mask) != 0 || i == n) {
      *end = false;
      return i;
    }
  }
}
