// The instruction loop: fetches an opcode and runs it. The common integer forms of the hot
// instructions on plain slot operands run here directly, each ending in its own jump to the next
// instruction's form; everything else, and every case that could fault or touch a non-int value,
// goes to the instruction's own handler from its first field, so the rules and errors stay those
// of the handlers.
#include "vm/dispatch.h"
#include "vm/instructions.h"
#include "vm/vm_arith.h"

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

// One instruction through a copy of the loop built for one: no budget, no run flags, and the
// handler's result returned directly.
bool ScriptContext::Step() {
  bool end = false;
  Run<true>(1, nullptr, 0, &end);
  return end;
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
  return Run<false>(n, run_flags, mask, end);
}

template <bool kSingle>
uint32_t ScriptContext::Run(uint32_t n, const uint32_t* run_flags, uint32_t mask, bool* end) {
  if constexpr (kSingle) n = 1;
  // Where each opcode's fast form starts; an instruction without one goes to `slow`.
  static const void* const kForms[kVmInstructionCount] = {
#define ORVANE_VM_FORM_LABEL(num, name, count, fields, doc) &&form_##name,
      ORVANE_VM_OPCODES(ORVANE_VM_FORM_LABEL)
#undef ORVANE_VM_FORM_LABEL
  };

  // The hot registers, kept in locals while fast forms run and written back before anything else
  // runs. The code and the slot range never move while the context lives.
  const uint32_t* const code = code_;
  const uint32_t size = code_size_;
  ScriptValue* const slots = slot_base_;
  uint32_t pc = pc_;
  uint32_t fb = frame_base_;
  uint32_t top = stack_top_;
  uint32_t cap = slot_capacity_;
  VmWord* stack = stack_.data();
  uint32_t room = static_cast<uint32_t>(stack_.size());
  uint32_t left = n;

  const auto slot = [slots](uint32_t s) __attribute__((always_inline)) {
    return slots + s;
  };
  // Drops stack words: pins of addresses above the new top go with them.
  const auto unpin = [&]() __attribute__((always_inline)) {
    if (!pins_.empty()) {
      stack_top_ = top;
      Unpin();
    }
  };

#define ORVANE_VM_DISPATCH()                   \
  do {                                         \
    const uint32_t op_ = code[pc];             \
    if (op_ >= kVmInstructionCount) goto slow; \
    goto* kForms[op_];                         \
  } while (0)
// v = the value a plain operand (global or frame slot, no index, member or address) names; `o`
// points at the operand's mode word, which the caller has checked lies inside the code with the
// word after it. Any other kind of operand, or a slot outside the table, goes to the handler.
#define ORVANE_VM_PLAIN(v, o)                                                              \
  ScriptValue* v;                                                                          \
  {                                                                                        \
    const uint32_t mode_ = (o)[0];                                                         \
    uint32_t s_;                                                                           \
    if (__builtin_expect(mode_ <= kVmModeFrame, 1)) {                                      \
      s_ = (o)[1] + (mode_ ? fb : 0);                                                      \
    } else if (mode_ == kVmModeStackRef) {                                                 \
      /* A reference pair on the stack that names a slot (addresses go to the decoder). */ \
      const int64_t ref_ = int64_t{top} + static_cast<int32_t>((o)[1]);                    \
      if (ref_ < 1 || ref_ >= int64_t{top} || (stack[ref_ - 1] & 1)) goto slow;            \
      s_ = static_cast<uint32_t>(stack[ref_]);                                             \
    } else {                                                                               \
      goto slow;                                                                           \
    }                                                                                      \
    if (s_ >= cap) goto slow;                                                              \
    v = slot(s_);                                                                          \
  }
// The same for an operand that must hold an int.
#define ORVANE_VM_PLAIN_INT(v, o) \
  ORVANE_VM_PLAIN(v, o)           \
  if (v->type() != kScriptInt) goto slow;
// Opens a form: w is the word after the opcode, avail the code words from there to the end. A form
// that goes on to the next instruction runs only when that one begins inside the code, and jumps
// only to addresses inside it, so the loop reads the next opcode without a test.
#define ORVANE_VM_FORM(name)                             \
  form_##name : const uint32_t* const w = code + pc + 1; \
  const uint32_t avail = size - pc - 1;                  \
  static_cast<void>(w);                                  \
  static_cast<void>(avail);
#define ORVANE_VM_NEXT()          \
  do {                            \
    if (--left == 0) goto budget; \
    ORVANE_VM_DISPATCH();         \
  } while (0)

// d = a op b on ints.
#define ORVANE_VM_BINARY(name, expr)                        \
  {                                                         \
    ORVANE_VM_FORM(name)                                    \
    if (avail <= 6) goto slow;                              \
    ORVANE_VM_PLAIN(d, w)                                   \
    ORVANE_VM_PLAIN_INT(va, w + 2)                          \
    ORVANE_VM_PLAIN_INT(vb, w + 4)                          \
                                                            \
    const int32_t a = va->int_value(), b = vb->int_value(); \
    pc += 7;                                                \
    d->SetInt(expr);                                        \
    ORVANE_VM_NEXT();                                       \
  }
// d = a op b for a comparison. When the next instruction is a conditional jump on d itself (the
// same plain operand) and the turn has room for it, it runs here too: it reads the int just stored.
#define ORVANE_VM_COMPARE(name, expr)                                                                       \
  {                                                                                                         \
    ORVANE_VM_FORM(name)                                                                                    \
    if (avail <= 6) goto slow;                                                                              \
    ORVANE_VM_PLAIN(d, w)                                                                                   \
    ORVANE_VM_PLAIN_INT(va, w + 2)                                                                          \
    ORVANE_VM_PLAIN_INT(vb, w + 4)                                                                          \
    const int32_t a = va->int_value(), b = vb->int_value();                                                 \
    const bool r = (expr);                                                                                  \
    pc += 7;                                                                                                \
    d->SetInt(r);                                                                                           \
    const uint32_t* j = w + 6;                                                                              \
    if (left > 1 && avail - 6 > 4 && j[1] == w[0] && j[2] == w[1] && w[0] <= kVmModeFrame && j[3] < size) { \
      if (j[0] == static_cast<uint32_t>(VmOp::OpJumpIfZero)) {                                              \
        --left;                                                                                             \
        pc = r ? pc + 4 : j[3];                                                                             \
      } else if (j[0] == static_cast<uint32_t>(VmOp::OpJumpIfNonZero)) {                                    \
        --left;                                                                                             \
        pc = r ? j[3] : pc + 4;                                                                             \
      }                                                                                                     \
    }                                                                                                       \
    ORVANE_VM_NEXT();                                                                                       \
  }
// d op= s on ints.
#define ORVANE_VM_ASSIGN(name, expr)                       \
  {                                                        \
    ORVANE_VM_FORM(name)                                   \
    if (avail <= 4) goto slow;                             \
    ORVANE_VM_PLAIN_INT(d, w)                              \
    ORVANE_VM_PLAIN_INT(vs, w + 2)                         \
                                                           \
    const int32_t a = d->int_value(), b = vs->int_value(); \
    pc += 5;                                               \
    d->SetInt(expr);                                       \
    ORVANE_VM_NEXT();                                      \
  }
// d op= the word w.
#define ORVANE_VM_ASSIGN_CONST(name, expr)                            \
  {                                                                   \
    ORVANE_VM_FORM(name)                                              \
    if (avail <= 3) goto slow;                                        \
    ORVANE_VM_PLAIN_INT(d, w)                                         \
                                                                      \
    const int32_t a = d->int_value(), b = static_cast<int32_t>(w[2]); \
    pc += 4;                                                          \
    d->SetInt(expr);                                                  \
    ORVANE_VM_NEXT();                                                 \
  }
#define ORVANE_VM_INT_FORMS(X)                         \
  X(OpMul, OpMulAssign, OpMulConstInt, VmIntMul(a, b)) \
  X(OpDiv, OpDivAssign, OpDivConstInt, VmIntDiv(a, b)) \
  X(OpMod, OpModAssign, OpModConstInt, VmIntMod(a, b)) \
  X(OpAdd, OpAddAssign, OpAddConstInt, VmIntAdd(a, b)) \
  X(OpSub, OpSubAssign, OpSubConstInt, VmIntSub(a, b)) \
  X(OpShl, OpShlAssign, OpShlConstInt, VmIntShl(a, b)) \
  X(OpShr, OpShrAssign, OpShrConstInt, VmIntShr(a, b)) \
  X(OpAnd, OpAndAssign, OpAndConstInt, a& b)           \
  X(OpXor, OpXorAssign, OpXorConstInt, a ^ b)          \
  X(OpOr, OpOrAssign, OpOrConstInt, a | b)
#define ORVANE_VM_INT_FORM(bin, assign, with_const, expr) \
  ORVANE_VM_BINARY(bin, expr)                             \
  ORVANE_VM_ASSIGN(assign, expr)                          \
  ORVANE_VM_ASSIGN_CONST(with_const, expr)

  if (pc >= size) goto slow;
  ORVANE_VM_DISPATCH();

  ORVANE_VM_INT_FORMS(ORVANE_VM_INT_FORM)
  ORVANE_VM_COMPARE(OpLt, a < b)
  ORVANE_VM_COMPARE(OpGt, a > b)
  ORVANE_VM_COMPARE(OpLe, a <= b)
  ORVANE_VM_COMPARE(OpGe, a >= b)
  ORVANE_VM_COMPARE(OpEq, a == b)
  ORVANE_VM_COMPARE(OpNe, a != b)

  {
    ORVANE_VM_FORM(OpMove)
    if (avail <= 4) goto slow;
    ORVANE_VM_PLAIN(d, w)
    ORVANE_VM_PLAIN_INT(vs, w + 2)

    pc += 5;
    d->SetInt(vs->int_value());
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpSetInt)
    if (avail <= 3) goto slow;
    ORVANE_VM_PLAIN(d, w)

    pc += 4;
    d->SetInt(static_cast<int32_t>(w[2]));
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpJump)
    if (avail < 1 || w[0] >= size) goto slow;
    pc = w[0];
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpJumpIfZero)
    if (avail <= 3) goto slow;
    ORVANE_VM_PLAIN_INT(x, w)

    if (x->int_value() != 0) {
      pc += 4;
    } else {
      if (w[2] >= size) goto slow;
      pc = w[2];
    }
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpJumpIfNonZero)
    if (avail <= 3) goto slow;
    ORVANE_VM_PLAIN_INT(x, w)

    if (x->int_value() == 0) {
      pc += 4;
    } else {
      if (w[2] >= size) goto slow;
      pc = w[2];
    }
    ORVANE_VM_NEXT();
  }
  // Pushes run without growing the stack; growth goes to the handlers.
  {
    ORVANE_VM_FORM(OpPushRef)
    if (avail <= 2 || w[0] > kVmModeFrame || room - top < 2) goto slow;
    pc += 3;
    stack[top++] = 0;
    stack[top++] = w[1] + (w[0] ? fb : 0);
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpPushWord)
    if (avail <= 1 || room == top) goto slow;
    pc += 2;
    stack[top++] = w[0];
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpPushBase)
    if (avail == 0 || room == top) goto slow;
    pc += 1;
    stack[top++] = fb;
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpPopBase)
    if (avail == 0 || top == 0) goto slow;
    pc += 1;
    fb = static_cast<uint32_t>(stack[--top]);
    unpin();
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpAddBase)
    if (avail <= 1) goto slow;
    const int64_t i = int64_t{top} + static_cast<int32_t>(w[0]);
    if (i < 0 || i >= int64_t{top}) goto slow;
    pc += 2;
    fb += static_cast<uint32_t>(stack[i]);
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpDrop)
    if (avail <= 1 || w[0] > top) goto slow;
    pc += 2;
    top -= w[0];
    unpin();
    ORVANE_VM_NEXT();
  }
  // Calls of code (built-in calls go to the handler: they reach outside the machine).
  {
    ORVANE_VM_FORM(OpCall)
    if (avail < 2 || (w[0] & kVmCallBuiltin) || w[1] >= size || room == top) goto slow;
    stack[top++] = pc + 3;
    pc = w[1];
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpReturn)
    if (top == 0) goto slow;
    const VmWord to = stack[top - 1];
    if (to >= size) goto slow;
    --top;
    unpin();
    pc = static_cast<uint32_t>(to);
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpEnter)
    if (avail <= 1 || uint64_t{fb} + w[0] > cap) goto slow;
    // Values to release go to the handler, which clears the whole frame again (int slots already
    // cleared here stay int 0).
    for (uint32_t i = 0, n = w[0]; i < n; ++i) {
      ScriptValue* v = slot(fb + i);
      if (v->type() != kScriptInt) goto slow;
      v->Clear();
    }
    pc += 2;
    slot_top_ = fb + w[0];
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpLeave)
    if (avail <= 1 || w[0] > slot_top_ || uint64_t{fb} + w[0] > cap) goto slow;
    for (uint32_t i = 0, n = w[0]; i < n; ++i) {
      ScriptValue* v = slot(fb + i);
      if (v->type() != kScriptInt) goto slow;
      v->Clear();
    }
    pc += 2;
    slot_top_ -= w[0];
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpSetFile)
    if (avail <= 1) goto slow;
    pc += 2;
    file_index_ = w[0];
    ORVANE_VM_NEXT();
  }
  {
    ORVANE_VM_FORM(OpSetLine)
    if (avail <= 1) goto slow;
    pc += 2;
    line_ = w[0];
    ORVANE_VM_NEXT();
  }

// Instructions that always go to their handlers.
form_OpHalt:
form_OpSetTop:
form_OpPlus:
form_OpNeg:
form_OpNot:
form_OpBitNot:
form_OpSetFloat:
form_OpMulConstFloat:
form_OpDivConstFloat:
form_OpModConstFloat:
form_OpAddConstFloat:
form_OpSubConstFloat:
form_OpSetString:
form_OpMulConstString:
form_OpDivConstString:
form_OpModConstString:
form_OpAddConstString:
form_OpSubConstString:
form_OpClearLocals:
slow : {
  pc_ = pc;
  frame_base_ = fb;
  stack_top_ = top;
  const bool ended = StepSlow();
  if constexpr (kSingle) {
    *end = ended;
    return 1;
  }
  pc = pc_;
  fb = frame_base_;
  top = stack_top_;
  cap = slot_capacity_;
  stack = stack_.data();
  room = static_cast<uint32_t>(stack_.size());
  // Only the handlers call outside the machine, so only here can the run flags have changed.
  if (ended || (*run_flags & mask) != 0) {
    *end = ended;
    return n - left + 1;
  }
  if (--left == 0) goto budget;
  if (pc >= size) goto slow;
  ORVANE_VM_DISPATCH();
}
budget:
  pc_ = pc;
  frame_base_ = fb;
  stack_top_ = top;
  *end = false;
  return n;

#undef ORVANE_VM_INT_FORM
#undef ORVANE_VM_INT_FORMS
#undef ORVANE_VM_ASSIGN_CONST
#undef ORVANE_VM_ASSIGN
#undef ORVANE_VM_COMPARE
#undef ORVANE_VM_BINARY
#undef ORVANE_VM_NEXT
#undef ORVANE_VM_FORM
#undef ORVANE_VM_PLAIN_INT
#undef ORVANE_VM_PLAIN
#undef ORVANE_VM_DISPATCH
}
