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
  [[gnu::always_inline]] static ScriptValue* Plain(const ScriptContext* c, const uint32_t* w) {
    const uint32_t mode = w[0];
    uint32_t s;
    if (mode <= kVmModeFrame) {
      s = w[1] + (mode ? c->frame_base_ : 0);
    } else if (mode == kVmModeStackRef) {
      // A reference pair on the stack that names a slot (addresses go to the decoder).
      const int64_t ref = int64_t{c->stack_top_} + static_cast<int32_t>(w[1]);
      if (ref < 1 || ref >= int64_t{c->stack_top_} || (c->stack_[static_cast<size_t>(ref - 1)] & 1))
        return nullptr;
      s = static_cast<uint32_t>(c->stack_[static_cast<size_t>(ref)]);
    } else {
      return nullptr;
    }
    return s < c->slot_capacity_ ? c->slot_data_[s] : nullptr;
  }
  // A plain operand holding an int.
  [[gnu::always_inline]] static ScriptValue* PlainInt(const ScriptContext* c, const uint32_t* w) {
    ScriptValue* v = Plain(c, w);
    return (v && v->type() == kScriptInt) ? v : nullptr;
  }

  template <VmOp op>
  [[gnu::always_inline]] static int32_t IntOp(int32_t a, int32_t b) {
    if constexpr (op == VmOp::OpMul || op == VmOp::OpMulAssign || op == VmOp::OpMulConstInt)
      return VmIntMul(a, b);
    if constexpr (op == VmOp::OpDiv || op == VmOp::OpDivAssign || op == VmOp::OpDivConstInt)
      return VmIntDiv(a, b);
    if constexpr (op == VmOp::OpMod || op == VmOp::OpModAssign || op == VmOp::OpModConstInt)
      return VmIntMod(a, b);
    if constexpr (op == VmOp::OpAdd || op == VmOp::OpAddAssign || op == VmOp::OpAddConstInt)
      return VmIntAdd(a, b);
    if constexpr (op == VmOp::OpSub || op == VmOp::OpSubAssign || op == VmOp::OpSubConstInt)
      return VmIntSub(a, b);
    if constexpr (op == VmOp::OpShl || op == VmOp::OpShlAssign || op == VmOp::OpShlConstInt)
      return VmIntShl(a, b);
    if constexpr (op == VmOp::OpShr || op == VmOp::OpShrAssign || op == VmOp::OpShrConstInt)
      return VmIntShr(a, b);
    if constexpr (op == VmOp::OpLt) return a < b;
    if constexpr (op == VmOp::OpGt) return a > b;
    if constexpr (op == VmOp::OpLe) return a <= b;
    if constexpr (op == VmOp::OpGe) return a >= b;
    if constexpr (op == VmOp::OpEq) return a == b;
    if constexpr (op == VmOp::OpNe) return a != b;
    if constexpr (op == VmOp::OpAnd || op == VmOp::OpAndAssign || op == VmOp::OpAndConstInt) return a & b;
    if constexpr (op == VmOp::OpXor || op == VmOp::OpXorAssign || op == VmOp::OpXorConstInt) return a ^ b;
    if constexpr (op == VmOp::OpOr || op == VmOp::OpOrAssign || op == VmOp::OpOrConstInt) return a | b;
  }

  // The fast forms, each given the code words after the opcode and how many there are; false when
  // the instruction must go to its handler (nothing has changed then).
  template <VmOp op>
  [[gnu::always_inline]] static bool Binary(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 6) return false;
    ScriptValue* d = Plain(c, w);
    ScriptValue* a = PlainInt(c, w + 2);
    ScriptValue* b = PlainInt(c, w + 4);
    if (!d || !a || !b) return false;
    c->pc_ += 7;
    d->SetInt(IntOp<op>(a->int_value(), b->int_value()));
    return true;
  }
  template <VmOp op>
  [[gnu::always_inline]] static bool Assign(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 4) return false;
    ScriptValue* d = PlainInt(c, w);
    ScriptValue* s = PlainInt(c, w + 2);
    if (!d || !s) return false;
    c->pc_ += 5;
    d->SetInt(IntOp<op>(d->int_value(), s->int_value()));
    return true;
  }
  template <VmOp op>
  [[gnu::always_inline]] static bool AssignConst(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 3) return false;
    ScriptValue* d = PlainInt(c, w);
    if (!d) return false;
    c->pc_ += 4;
    d->SetInt(IntOp<op>(d->int_value(), static_cast<int32_t>(w[2])));
    return true;
  }
  [[gnu::always_inline]] static bool Move(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 4) return false;
    ScriptValue* d = Plain(c, w);
    ScriptValue* s = PlainInt(c, w + 2);
    if (!d || !s) return false;
    c->pc_ += 5;
    d->SetInt(s->int_value());
    return true;
  }
  [[gnu::always_inline]] static bool SetInt(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 3) return false;
    ScriptValue* d = Plain(c, w);
    if (!d) return false;
    c->pc_ += 4;
    d->SetInt(static_cast<int32_t>(w[2]));
    return true;
  }
  [[gnu::always_inline]] static bool Jump(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || w[0] >= c->code_size_) return false;
    c->pc_ = w[0];
    return true;
  }
  template <bool if_zero>
  [[gnu::always_inline]] static bool JumpIf(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 3) return false;
    ScriptValue* x = PlainInt(c, w);
    if (!x) return false;
    if ((x->int_value() == 0) != if_zero) {
      c->pc_ += 4;
      return true;
    }
    if (w[2] >= c->code_size_) return false;
    c->pc_ = w[2];
    return true;
  }
  // Pushes without growing the stack: false when there is no room for `n` more words.
  [[gnu::always_inline]] static bool HasRoom(const ScriptContext* c, uint32_t n) {
    return c->stack_.size() - c->stack_top_ >= n;
  }
  [[gnu::always_inline]] static bool PushRef(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 2 || w[0] > kVmModeFrame || !HasRoom(c, 2)) return false;
    c->pc_ += 3;
    c->stack_[c->stack_top_++] = 0;
    c->stack_[c->stack_top_++] = w[1] + (w[0] ? c->frame_base_ : 0);
    return true;
  }
  [[gnu::always_inline]] static bool PushWord(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || !HasRoom(c, 1)) return false;
    c->pc_ += 2;
    c->stack_[c->stack_top_++] = w[0];
    return true;
  }
  [[gnu::always_inline]] static bool PushBase(ScriptContext* c, const uint32_t*, uint32_t) {
    if (!HasRoom(c, 1)) return false;
    c->pc_ += 1;
    c->stack_[c->stack_top_++] = c->frame_base_;
    return true;
  }
  [[gnu::always_inline]] static bool PopBase(ScriptContext* c, const uint32_t*, uint32_t) {
    if (c->stack_top_ == 0) return false;
    c->pc_ += 1;
    c->frame_base_ = static_cast<uint32_t>(c->stack_[--c->stack_top_]);
    c->Unpin();
    return true;
  }
  [[gnu::always_inline]] static bool AddBase(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 1) return false;
    const int64_t i = int64_t{c->stack_top_} + static_cast<int32_t>(w[0]);
    if (i < 0 || i >= int64_t{c->stack_top_}) return false;
    c->pc_ += 2;
    c->frame_base_ += static_cast<uint32_t>(c->stack_[static_cast<size_t>(i)]);
    return true;
  }
  [[gnu::always_inline]] static bool Drop(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || w[0] > c->stack_top_) return false;
    c->pc_ += 2;
    c->stack_top_ -= w[0];
    c->Unpin();
    return true;
  }
  // Calls of code (built-in calls go to the handler: they reach outside the machine).
  [[gnu::always_inline]] static bool Call(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 2 || (w[0] & kVmCallBuiltin) || w[1] >= c->code_size_ || !HasRoom(c, 1)) return false;
    c->stack_[c->stack_top_++] = c->pc_ + 3;
    c->pc_ = w[1];
    return true;
  }
  [[gnu::always_inline]] static bool Return(ScriptContext* c, const uint32_t*, uint32_t) {
    if (c->stack_top_ == 0) return false;
    const VmWord to = c->stack_[c->stack_top_ - 1];
    if (to >= c->code_size_) return false;
    --c->stack_top_;
    c->Unpin();
    c->pc_ = static_cast<uint32_t>(to);
    return true;
  }
  [[gnu::always_inline]] static bool Enter(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || uint64_t{c->frame_base_} + w[0] > c->slot_capacity_) return false;
    c->pc_ += 2;
    c->Enter(w[0]);
    return true;
  }
  [[gnu::always_inline]] static bool Leave(ScriptContext* c, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || w[0] > c->slot_top_ || uint64_t{c->frame_base_} + w[0] > c->slot_capacity_) return false;
    c->pc_ += 2;
    c->Leave(w[0]);
    return true;
  }

  // Runs the instruction at pc in its fast form when it has one that applies: true when it ran.
  [[gnu::always_inline]] static bool Try(ScriptContext* c) {
    const uint32_t pc = c->pc_;
    if (pc >= c->code_size_) return false;
    const uint32_t* w = c->code_ + pc + 1;
    const uint32_t avail = c->code_size_ - pc - 1;
    switch (static_cast<VmOp>(c->code_[pc])) {
#define ORVANE_VM_FAST(name, form) \
  case VmOp::name:                 \
    return form(c, w, avail);
#define ORVANE_VM_FAST_OP(name, form) \
  case VmOp::name:                    \
    return form<VmOp::name>(c, w, avail);
      ORVANE_VM_FAST_OP(OpMul, Binary)
      ORVANE_VM_FAST_OP(OpDiv, Binary)
      ORVANE_VM_FAST_OP(OpMod, Binary)
      ORVANE_VM_FAST_OP(OpAdd, Binary)
      ORVANE_VM_FAST_OP(OpSub, Binary)
      ORVANE_VM_FAST_OP(OpShl, Binary)
      ORVANE_VM_FAST_OP(OpShr, Binary)
      ORVANE_VM_FAST_OP(OpLt, Binary)
      ORVANE_VM_FAST_OP(OpGt, Binary)
      ORVANE_VM_FAST_OP(OpLe, Binary)
      ORVANE_VM_FAST_OP(OpGe, Binary)
      ORVANE_VM_FAST_OP(OpEq, Binary)
      ORVANE_VM_FAST_OP(OpNe, Binary)
      ORVANE_VM_FAST_OP(OpAnd, Binary)
      ORVANE_VM_FAST_OP(OpXor, Binary)
      ORVANE_VM_FAST_OP(OpOr, Binary)
      ORVANE_VM_FAST_OP(OpMulAssign, Assign)
      ORVANE_VM_FAST_OP(OpDivAssign, Assign)
      ORVANE_VM_FAST_OP(OpModAssign, Assign)
      ORVANE_VM_FAST_OP(OpAddAssign, Assign)
      ORVANE_VM_FAST_OP(OpSubAssign, Assign)
      ORVANE_VM_FAST_OP(OpShlAssign, Assign)
      ORVANE_VM_FAST_OP(OpShrAssign, Assign)
      ORVANE_VM_FAST_OP(OpAndAssign, Assign)
      ORVANE_VM_FAST_OP(OpXorAssign, Assign)
      ORVANE_VM_FAST_OP(OpOrAssign, Assign)
      ORVANE_VM_FAST_OP(OpMulConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpDivConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpModConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpAddConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpSubConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpShlConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpShrConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpAndConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpXorConstInt, AssignConst)
      ORVANE_VM_FAST_OP(OpOrConstInt, AssignConst)
      ORVANE_VM_FAST(OpMove, Move)
      ORVANE_VM_FAST(OpSetInt, SetInt)
      ORVANE_VM_FAST(OpJump, Jump)
      ORVANE_VM_FAST(OpPushRef, PushRef)
      ORVANE_VM_FAST(OpPushWord, PushWord)
      ORVANE_VM_FAST(OpPushBase, PushBase)
      ORVANE_VM_FAST(OpPopBase, PopBase)
      ORVANE_VM_FAST(OpAddBase, AddBase)
      ORVANE_VM_FAST(OpDrop, Drop)
      ORVANE_VM_FAST(OpCall, Call)
      ORVANE_VM_FAST(OpReturn, Return)
      ORVANE_VM_FAST(OpEnter, Enter)
      ORVANE_VM_FAST(OpLeave, Leave)
#undef ORVANE_VM_FAST
#undef ORVANE_VM_FAST_OP
      case VmOp::OpJumpIfZero:
        return JumpIf<true>(c, w, avail);
      case VmOp::OpJumpIfNonZero:
        return JumpIf<false>(c, w, avail);
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
  if (op < kVmInstructionCount) return VmDispatchTable[op](this);
  if (op < kVmDispatchTableSize) {
    // A built-in named directly by the code runs as OpCall 1 n would run it.
    if (hook_) hook_(this, op - kVmInstructionCount);
    return false;
  }
  RaiseError(1);
  return true;
}

bool ScriptContext::Step() {
  return VmFast::Try(this) ? false : StepSlow();
}

bool ScriptContext::StepSlow() {
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
    // A fast form calls nothing outside the machine, so the run flags cannot have changed.
    if (!VmFast::Try(this)) {
      if (StepSlow()) {
        *end = true;
        return i;
      }
      if ((*run_flags & mask) != 0) {
        *end = false;
        return i;
      }
    }
    if (i == n) {
      *end = false;
      return i;
    }
  }
}
