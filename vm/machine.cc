// The instruction loop: fetches an opcode and runs it. The common integer forms of the hot
// instructions on plain slot operands run here directly; everything else, and every case that
// could fault or touch a non-int value, goes to the instruction's own handler from its first field,
// so the rules and errors stay those of the handlers.
#include "vm/dispatch.h"
#include "vm/instructions.h"
#include "vm/vm_arith.h"

struct VmFast {
  // The machine's hot registers, kept in locals while instructions run in their fast forms and
  // written back before anything else runs.
  struct Regs {
    explicit Regs(ScriptContext* ctx) : c(ctx) { Load(); }
    void Load() {
      code = c->code_;
      size = c->code_size_;
      pc = c->pc_;
      fb = c->frame_base_;
      slots = c->slot_data_;
      cap = c->slot_capacity_;
    }
    void Store() const {
      c->pc_ = pc;
      c->frame_base_ = fb;
    }
    ScriptContext* c;
    const uint32_t* code;
    uint32_t size;
    uint32_t pc;
    uint32_t fb;
    ScriptValue** slots;
    uint32_t cap;
  };

  // The value a plain operand (global or frame slot, no index, member or stack part) names, or
  // null when the operand is of another kind or its slot lies outside the table. `w` points at the
  // operand's mode word; the caller has checked that both words lie inside the code.
  [[gnu::always_inline]] static ScriptValue* Plain(const Regs& r, const uint32_t* w) {
    const uint32_t mode = w[0];
    uint32_t s;
    if (mode <= kVmModeFrame) {
      s = w[1] + (mode ? r.fb : 0);
    } else if (mode == kVmModeStackRef) {
      // A reference pair on the stack that names a slot (addresses go to the decoder).
      const int64_t ref = int64_t{r.c->stack_top_} + static_cast<int32_t>(w[1]);
      if (ref < 1 || ref >= int64_t{r.c->stack_top_} || (r.c->stack_[static_cast<size_t>(ref - 1)] & 1))
        return nullptr;
      s = static_cast<uint32_t>(r.c->stack_[static_cast<size_t>(ref)]);
    } else {
      return nullptr;
    }
    return s < r.cap ? r.slots[s] : nullptr;
  }
  // A plain operand holding an int.
  [[gnu::always_inline]] static ScriptValue* PlainInt(const Regs& r, const uint32_t* w) {
    ScriptValue* v = Plain(r, w);
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
  [[gnu::always_inline]] static bool Binary(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 6) return false;
    ScriptValue* d = Plain(r, w);
    ScriptValue* a = PlainInt(r, w + 2);
    ScriptValue* b = PlainInt(r, w + 4);
    if (!d || !a || !b) return false;
    r.pc += 7;
    d->SetInt(IntOp<op>(a->int_value(), b->int_value()));
    return true;
  }
  template <VmOp op>
  [[gnu::always_inline]] static bool Assign(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 4) return false;
    ScriptValue* d = PlainInt(r, w);
    ScriptValue* s = PlainInt(r, w + 2);
    if (!d || !s) return false;
    r.pc += 5;
    d->SetInt(IntOp<op>(d->int_value(), s->int_value()));
    return true;
  }
  template <VmOp op>
  [[gnu::always_inline]] static bool AssignConst(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 3) return false;
    ScriptValue* d = PlainInt(r, w);
    if (!d) return false;
    r.pc += 4;
    d->SetInt(IntOp<op>(d->int_value(), static_cast<int32_t>(w[2])));
    return true;
  }
  [[gnu::always_inline]] static bool Move(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 4) return false;
    ScriptValue* d = Plain(r, w);
    ScriptValue* s = PlainInt(r, w + 2);
    if (!d || !s) return false;
    r.pc += 5;
    d->SetInt(s->int_value());
    return true;
  }
  [[gnu::always_inline]] static bool SetInt(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 3) return false;
    ScriptValue* d = Plain(r, w);
    if (!d) return false;
    r.pc += 4;
    d->SetInt(static_cast<int32_t>(w[2]));
    return true;
  }
  [[gnu::always_inline]] static bool Jump(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || w[0] >= r.size) return false;
    r.pc = w[0];
    return true;
  }
  template <bool if_zero>
  [[gnu::always_inline]] static bool JumpIf(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 3) return false;
    ScriptValue* x = PlainInt(r, w);
    if (!x) return false;
    if ((x->int_value() == 0) != if_zero) {
      r.pc += 4;
      return true;
    }
    if (w[2] >= r.size) return false;
    r.pc = w[2];
    return true;
  }
  // Pushes without growing the stack: false when there is no room for `n` more words.
  [[gnu::always_inline]] static bool HasRoom(const Regs& r, uint32_t n) {
    return r.c->stack_.size() - r.c->stack_top_ >= n;
  }
  [[gnu::always_inline]] static bool PushRef(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 2 || w[0] > kVmModeFrame || !HasRoom(r, 2)) return false;
    r.pc += 3;
    r.c->stack_[r.c->stack_top_++] = 0;
    r.c->stack_[r.c->stack_top_++] = w[1] + (w[0] ? r.fb : 0);
    return true;
  }
  [[gnu::always_inline]] static bool PushWord(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || !HasRoom(r, 1)) return false;
    r.pc += 2;
    r.c->stack_[r.c->stack_top_++] = w[0];
    return true;
  }
  [[gnu::always_inline]] static bool PushBase(Regs& r, const uint32_t*, uint32_t) {
    if (!HasRoom(r, 1)) return false;
    r.pc += 1;
    r.c->stack_[r.c->stack_top_++] = r.fb;
    return true;
  }
  [[gnu::always_inline]] static bool PopBase(Regs& r, const uint32_t*, uint32_t) {
    if (r.c->stack_top_ == 0) return false;
    r.pc += 1;
    r.fb = static_cast<uint32_t>(r.c->stack_[--r.c->stack_top_]);
    r.c->Unpin();
    return true;
  }
  [[gnu::always_inline]] static bool AddBase(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 1) return false;
    const int64_t i = int64_t{r.c->stack_top_} + static_cast<int32_t>(w[0]);
    if (i < 0 || i >= int64_t{r.c->stack_top_}) return false;
    r.pc += 2;
    r.fb += static_cast<uint32_t>(r.c->stack_[static_cast<size_t>(i)]);
    return true;
  }
  [[gnu::always_inline]] static bool Drop(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || w[0] > r.c->stack_top_) return false;
    r.pc += 2;
    r.c->stack_top_ -= w[0];
    r.c->Unpin();
    return true;
  }
  // Calls of code (built-in calls go to the handler: they reach outside the machine).
  [[gnu::always_inline]] static bool Call(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 2 || (w[0] & kVmCallBuiltin) || w[1] >= r.size || !HasRoom(r, 1)) return false;
    r.c->stack_[r.c->stack_top_++] = r.pc + 3;
    r.pc = w[1];
    return true;
  }
  [[gnu::always_inline]] static bool Return(Regs& r, const uint32_t*, uint32_t) {
    if (r.c->stack_top_ == 0) return false;
    const VmWord to = r.c->stack_[r.c->stack_top_ - 1];
    if (to >= r.size) return false;
    --r.c->stack_top_;
    r.c->Unpin();
    r.pc = static_cast<uint32_t>(to);
    return true;
  }
  [[gnu::always_inline]] static bool Enter(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || uint64_t{r.fb} + w[0] > r.cap) return false;
    r.pc += 2;
    r.c->slot_top_ = r.fb + w[0];
    for (uint32_t i = 0; i < w[0]; ++i) r.slots[r.fb + i]->Clear();
    return true;
  }
  [[gnu::always_inline]] static bool Leave(Regs& r, const uint32_t* w, uint32_t avail) {
    if (avail < 1 || w[0] > r.c->slot_top_ || uint64_t{r.fb} + w[0] > r.cap) return false;
    r.pc += 2;
    r.c->slot_top_ -= w[0];
    for (uint32_t i = 0; i < w[0]; ++i) r.slots[r.fb + i]->Clear();
    return true;
  }

  // Runs the instruction at pc in its fast form when it has one that applies: true when it ran.
  [[gnu::always_inline]] static bool Try(Regs& r) {
    const uint32_t pc = r.pc;
    if (pc >= r.size) return false;
    const uint32_t* w = r.code + pc + 1;
    const uint32_t avail = r.size - pc - 1;
    switch (static_cast<VmOp>(r.code[pc])) {
#define ORVANE_VM_FAST(name, form) \
  case VmOp::name:                 \
    return form(r, w, avail);
#define ORVANE_VM_FAST_OP(name, form) \
  case VmOp::name:                    \
    return form<VmOp::name>(r, w, avail);
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
        return JumpIf<true>(r, w, avail);
      case VmOp::OpJumpIfNonZero:
        return JumpIf<false>(r, w, avail);
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
  VmFast::Regs r(this);
  if (!VmFast::Try(r)) return StepSlow();
  r.Store();
  return false;
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
  VmFast::Regs r(this);
  for (uint32_t i = 1;; ++i) {
    // A fast form calls nothing outside the machine, so the run flags cannot have changed.
    if (!VmFast::Try(r)) {
      r.Store();
      const bool ended = StepSlow();
      r.Load();
      if (ended) {
        *end = true;
        return i;
      }
      if ((*run_flags & mask) != 0) {
        *end = false;
        return i;
      }
    }
    if (i == n) {
      r.Store();
      *end = false;
      return i;
    }
  }
}
