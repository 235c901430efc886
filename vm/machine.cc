// The instruction loop. Each code address has a decoded form, chosen once when the loop first
// reaches it: the shape of the instruction there (its fields lie inside the code, the next
// instruction begins inside it, its operands are plain global or frame slots, its jump target is a
// code address, a comparison is followed by a conditional jump on its result) is checked then, so
// the form runs only the checks that depend on run-time state: slot range, value types, stack
// room. The common integer forms run here directly, each ending in its own jump to the next
// address's form; everything else, and every case that could fault or touch a non-int value, goes
// to the instruction's own handler from its first field, so the rules and errors stay those of the
// handlers. Jumps keep their code addresses: a jump into the middle of an instruction decodes the
// words found there like any other address.
#include <atomic>
#include <iterator>

#include "vm/dispatch.h"
#include "vm/instructions.h"
#include "vm/vm_arith.h"

// The integer instructions with fast forms: d = a op b, d op= s and d op= w, and the rule.
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
// The comparisons with fast forms, and the rule.
#define ORVANE_VM_COMPARES(X) \
  X(OpLt, a < b)              \
  X(OpGt, a > b)              \
  X(OpLe, a <= b)             \
  X(OpGe, a >= b)             \
  X(OpEq, a == b)             \
  X(OpNe, a != b)

namespace {

// Every form: New (not decoded yet), Slow (the handler), then per instruction with a fast form its
// general form, which reads operand modes at run time and also takes stack references, and, where
// it has operands, the _P form for plain operands; comparisons also have forms that run the
// conditional jump after them (_Jz, _Jnz).
// clang-format off
#define ORVANE_VM_FORMS(X)                                                                         \
  X(New) X(Slow) X(OpMul) X(OpMul_P) X(OpMulAssign) X(OpMulAssign_P)                               \
  X(OpMulConstInt) X(OpMulConstInt_P) X(OpDiv) X(OpDiv_P) X(OpDivAssign) X(OpDivAssign_P)          \
  X(OpDivConstInt) X(OpDivConstInt_P) X(OpMod) X(OpMod_P) X(OpModAssign) X(OpModAssign_P)          \
  X(OpModConstInt) X(OpModConstInt_P) X(OpAdd) X(OpAdd_P) X(OpAddAssign) X(OpAddAssign_P)          \
  X(OpAddConstInt) X(OpAddConstInt_P) X(OpSub) X(OpSub_P) X(OpSubAssign) X(OpSubAssign_P)          \
  X(OpSubConstInt) X(OpSubConstInt_P) X(OpShl) X(OpShl_P) X(OpShlAssign) X(OpShlAssign_P)          \
  X(OpShlConstInt) X(OpShlConstInt_P) X(OpShr) X(OpShr_P) X(OpShrAssign) X(OpShrAssign_P)          \
  X(OpShrConstInt) X(OpShrConstInt_P) X(OpAnd) X(OpAnd_P) X(OpAndAssign) X(OpAndAssign_P)          \
  X(OpAndConstInt) X(OpAndConstInt_P) X(OpXor) X(OpXor_P) X(OpXorAssign) X(OpXorAssign_P)          \
  X(OpXorConstInt) X(OpXorConstInt_P) X(OpOr) X(OpOr_P) X(OpOrAssign) X(OpOrAssign_P)              \
  X(OpOrConstInt) X(OpOrConstInt_P) X(OpLt) X(OpLt_P) X(OpLt_Jz) X(OpLt_Jnz)                       \
  X(OpGt) X(OpGt_P) X(OpGt_Jz) X(OpGt_Jnz) X(OpLe) X(OpLe_P)                                       \
  X(OpLe_Jz) X(OpLe_Jnz) X(OpGe) X(OpGe_P) X(OpGe_Jz) X(OpGe_Jnz)                                  \
  X(OpEq) X(OpEq_P) X(OpEq_Jz) X(OpEq_Jnz) X(OpNe) X(OpNe_P)                                       \
  X(OpNe_Jz) X(OpNe_Jnz) X(OpMove) X(OpMove_P) X(OpSetInt) X(OpSetInt_P)                           \
  X(OpJumpIfZero) X(OpJumpIfZero_P) X(OpJumpIfNonZero) X(OpJumpIfNonZero_P) X(OpJump) X(OpPushRef) \
  X(OpPushWord) X(OpPushBase) X(OpPopBase) X(OpAddBase) X(OpDrop) X(OpCall)                        \
  X(OpReturn) X(OpEnter) X(OpLeave) X(OpSetFile) X(OpSetLine) X(Prologue)                          \
  X(Epilogue) X(Call0) X(Call1) X(Call2) X(Call3)
// clang-format on

// Forms whose operands the decoder found to be stack references (R) with a negative offset, or
// plain (P): a Move that reads or writes through a reference, d = a op b written through one. Then
// forms that also run the next instruction: a Move followed by a Jump, d = a + b or d = a - b
// followed by d += w or d -= w on the same operand; and the call chains whose callee begins with a
// prologue.
// clang-format off
#define ORVANE_VM_REF_FORMS(X)                                                \
  X(OpMove_RP) X(OpMove_PR) X(OpMul_RPP) X(OpDiv_RPP)                         \
  X(OpMod_RPP) X(OpAdd_RPP) X(OpSub_RPP) X(OpShl_RPP)                         \
  X(OpShr_RPP) X(OpAnd_RPP) X(OpXor_RPP) X(OpOr_RPP)                          \
  X(OpMove_P_Jump) X(OpMove_RP_Jump) X(OpMove_PR_Jump) X(OpAdd_P_AddConstInt) \
  X(OpAdd_P_SubConstInt) X(OpSub_P_AddConstInt) X(OpSub_P_SubConstInt)        \
  X(Call0_Prologue) X(Call1_Prologue) X(Call2_Prologue) X(Call3_Prologue)
// clang-format on
// d += w on a plain operand followed by a comparison and its conditional jump (a counting loop's
// step and test), run as one form; the A and B forms are those whose comparison reads d as its
// first or second source, which then comes from the step without being read again.
// clang-format off
#define ORVANE_VM_STEP_FORMS(X)                                                              \
  X(OpAddConstInt_P_OpLt_Jz) X(OpAddConstInt_P_OpLt_Jnz) X(OpAddConstInt_P_OpGt_Jz)          \
  X(OpAddConstInt_P_OpGt_Jnz) X(OpAddConstInt_P_OpLe_Jz) X(OpAddConstInt_P_OpLe_Jnz)         \
  X(OpAddConstInt_P_OpGe_Jz) X(OpAddConstInt_P_OpGe_Jnz) X(OpAddConstInt_P_OpEq_Jz)          \
  X(OpAddConstInt_P_OpEq_Jnz) X(OpAddConstInt_P_OpNe_Jz) X(OpAddConstInt_P_OpNe_Jnz)         \
  X(OpAddConstInt_P_OpLtA_Jz) X(OpAddConstInt_P_OpLtA_Jnz) X(OpAddConstInt_P_OpGtA_Jz)       \
  X(OpAddConstInt_P_OpGtA_Jnz) X(OpAddConstInt_P_OpLeA_Jz) X(OpAddConstInt_P_OpLeA_Jnz)      \
  X(OpAddConstInt_P_OpGeA_Jz) X(OpAddConstInt_P_OpGeA_Jnz) X(OpAddConstInt_P_OpEqA_Jz)       \
  X(OpAddConstInt_P_OpEqA_Jnz) X(OpAddConstInt_P_OpNeA_Jz) X(OpAddConstInt_P_OpNeA_Jnz)      \
  X(OpAddConstInt_P_OpLtB_Jz) X(OpAddConstInt_P_OpLtB_Jnz) X(OpAddConstInt_P_OpGtB_Jz)       \
  X(OpAddConstInt_P_OpGtB_Jnz) X(OpAddConstInt_P_OpLeB_Jz) X(OpAddConstInt_P_OpLeB_Jnz)      \
  X(OpAddConstInt_P_OpGeB_Jz) X(OpAddConstInt_P_OpGeB_Jnz) X(OpAddConstInt_P_OpEqB_Jz)       \
  X(OpAddConstInt_P_OpEqB_Jnz) X(OpAddConstInt_P_OpNeB_Jz) X(OpAddConstInt_P_OpNeB_Jnz)
// clang-format on
// The epilogue, and the call chains whose callee begins with a prologue, for frames of 1 to
// kSizedFrames slots: the frame size is the form's own constant, so the frame is cleared by a few
// straight loads and stores. Then the same call chains whose callee's next instruction fetches
// one of the call's arguments into its frame (_Arg).
// clang-format off
#define ORVANE_VM_SIZED_FORMS(X)                                                               \
  X(Epilogue_1) X(Epilogue_2) X(Epilogue_3) X(Epilogue_4)                                      \
  X(Call0_Prologue_1) X(Call0_Prologue_2) X(Call0_Prologue_3) X(Call0_Prologue_4)              \
  X(Call1_Prologue_1) X(Call1_Prologue_2) X(Call1_Prologue_3) X(Call1_Prologue_4)              \
  X(Call2_Prologue_1) X(Call2_Prologue_2) X(Call2_Prologue_3) X(Call2_Prologue_4)              \
  X(Call3_Prologue_1) X(Call3_Prologue_2) X(Call3_Prologue_3) X(Call3_Prologue_4)              \
  X(Call1_Prologue_1_Arg) X(Call1_Prologue_2_Arg) X(Call1_Prologue_3_Arg) X(Call1_Prologue_4_Arg) \
  X(Call2_Prologue_1_Arg) X(Call2_Prologue_2_Arg) X(Call2_Prologue_3_Arg) X(Call2_Prologue_4_Arg) \
  X(Call3_Prologue_1_Arg) X(Call3_Prologue_2_Arg) X(Call3_Prologue_3_Arg) X(Call3_Prologue_4_Arg)
// clang-format on
#define ORVANE_VM_ALL_FORMS(X) \
  ORVANE_VM_FORMS(X) ORVANE_VM_REF_FORMS(X) ORVANE_VM_STEP_FORMS(X) ORVANE_VM_SIZED_FORMS(X)

enum VmForm : uint8_t {
#define ORVANE_VM_FORM_ENUM(name) kForm_##name,
  ORVANE_VM_ALL_FORMS(ORVANE_VM_FORM_ENUM)
#undef ORVANE_VM_FORM_ENUM
      kFormCount
};
static_assert(kFormCount <= 256);
constexpr uint32_t kSizedFrames = 4;
static_assert(kForm_Epilogue_4 - kForm_Epilogue_1 == kSizedFrames - 1 &&
              kForm_Call3_Prologue_4 - kForm_Call0_Prologue_1 == 4 * kSizedFrames - 1 &&
              kForm_Call3_Prologue_4_Arg - kForm_Call1_Prologue_1_Arg == 3 * kSizedFrames - 1);

// What a fast form can do with an operand: 0 a plain slot (global or frame), 1 a stack reference
// (the general forms look at it at run time), 2 anything else (the handler decodes it).
int OperandClass(uint32_t mode) {
  if (mode <= kVmModeFrame) return 0;
  return mode == kVmModeStackRef ? 1 : 2;
}

// Whether the operand at o is a stack reference that a form may read without testing its mode: a
// pair below the top (a reference at or above the top never names a pair and goes to the handler).
bool KnownRef(const uint32_t* o) {
  return o[0] == kVmModeStackRef && static_cast<int32_t>(o[1]) < 0;
}

// The form for d = a + b or d = a - b on plain operands (w its fields, avail the words after the
// opcode): with d += w or d -= w on the same operand next, and the address after that in the code,
// the form that runs both.
VmForm PlainAddOrSub(const uint32_t* w, uint32_t avail, VmForm alone, VmForm then_add, VmForm then_sub) {
  if (avail > 10 && w[7] == w[0] && w[8] == w[1]) {
    if (w[6] == static_cast<uint32_t>(VmOp::OpAddConstInt)) return then_add;
    if (w[6] == static_cast<uint32_t>(VmOp::OpSubConstInt)) return then_sub;
  }
  return alone;
}

// The form for the instruction at pc alone (pc < size).
VmForm DecodeSingle(const uint32_t* code, uint32_t size, uint32_t pc) {
  const uint32_t op = code[pc];
  if (op >= kVmInstructionCount) return kForm_Slow;
  const VmOp o = static_cast<VmOp>(op);
  // The fields, each operand as a mode word and one more; an instruction that goes on to the next
  // address needs that address inside the code too.
  uint32_t words = 0;
  for (const char* f = kVmOpInfo[op].fields; *f; ++f) words += *f == 'o' ? 2 : 1;
  const bool transfers = o == VmOp::OpJump || o == VmOp::OpCall || o == VmOp::OpReturn;
  const uint32_t avail = size - pc - 1;
  if (avail < words + (transfers ? 0 : 1)) return kForm_Slow;
  const uint32_t* const w = code + pc + 1;
  int worst = 0;
  uint32_t k = 0;
  for (const char* f = kVmOpInfo[op].fields; *f; ++f) {
    if (*f == 'o') {
      const int c = OperandClass(w[k]);
      if (c > worst) worst = c;
      k += 2;
    } else {
      k += 1;
    }
  }
  if (worst == 2) return kForm_Slow;
  const bool plain = worst == 0;

  if (plain && o == VmOp::OpAddConstInt) {
    // The next instruction (inside the code: the checks above) a comparison with its jump; c its
    // fields once it is one, and whether its first or second source is the stepped operand.
    const uint32_t* const c = w + 4;
    const auto same = [&](int k) { return c[k] == w[0] && c[k + 1] == w[1]; };
    switch (DecodeSingle(code, size, pc + 4)) {
#define ORVANE_VM_DECODE_STEP(name, expr)                  \
  case kForm_##name##_Jz:                                  \
    return same(2)   ? kForm_OpAddConstInt_P_##name##A_Jz  \
           : same(4) ? kForm_OpAddConstInt_P_##name##B_Jz  \
                     : kForm_OpAddConstInt_P_##name##_Jz;  \
  case kForm_##name##_Jnz:                                 \
    return same(2)   ? kForm_OpAddConstInt_P_##name##A_Jnz \
           : same(4) ? kForm_OpAddConstInt_P_##name##B_Jnz \
                     : kForm_OpAddConstInt_P_##name##_Jnz;
      ORVANE_VM_COMPARES(ORVANE_VM_DECODE_STEP)
#undef ORVANE_VM_DECODE_STEP
      default:
        return kForm_OpAddConstInt_P;
    }
  }
  if (plain && o == VmOp::OpAdd) {
    return PlainAddOrSub(w, avail, kForm_OpAdd_P, kForm_OpAdd_P_AddConstInt, kForm_OpAdd_P_SubConstInt);
  }
  if (plain && o == VmOp::OpSub) {
    return PlainAddOrSub(w, avail, kForm_OpSub_P, kForm_OpSub_P_AddConstInt, kForm_OpSub_P_SubConstInt);
  }
  switch (o) {
#define ORVANE_VM_DECODE_INT(bin, assign, with_const, expr)                                          \
  case VmOp::bin:                                                                                    \
    if (plain) return kForm_##bin##_P;                                                               \
    if (KnownRef(w) && OperandClass(w[2]) == 0 && OperandClass(w[4]) == 0) return kForm_##bin##_RPP; \
    return kForm_##bin;                                                                              \
  case VmOp::assign:                                                                                 \
    return plain ? kForm_##assign##_P : kForm_##assign;                                              \
  case VmOp::with_const:                                                                             \
    return plain ? kForm_##with_const##_P : kForm_##with_const;
    ORVANE_VM_INT_FORMS(ORVANE_VM_DECODE_INT)
#undef ORVANE_VM_DECODE_INT
#define ORVANE_VM_DECODE_COMPARE(name, expr)                                                             \
  case VmOp::name: {                                                                                     \
    if (!plain) return kForm_##name;                                                                     \
    /* A conditional jump on the result right after: its fields and the address after it in the code. */ \
    const uint32_t* j = w + 6;                                                                           \
    if (avail > 10 && j[1] == w[0] && j[2] == w[1] && j[3] < size) {                                     \
      if (j[0] == static_cast<uint32_t>(VmOp::OpJumpIfZero)) return kForm_##name##_Jz;                   \
      if (j[0] == static_cast<uint32_t>(VmOp::OpJumpIfNonZero)) return kForm_##name##_Jnz;               \
    }                                                                                                    \
    return kForm_##name##_P;                                                                             \
  }
    ORVANE_VM_COMPARES(ORVANE_VM_DECODE_COMPARE)
#undef ORVANE_VM_DECODE_COMPARE
    case VmOp::OpMove: {
      // A Jump right after, with its target in the code.
      const bool then_jump = avail > 5 && w[4] == static_cast<uint32_t>(VmOp::OpJump) && w[5] < size;
      if (plain) return then_jump ? kForm_OpMove_P_Jump : kForm_OpMove_P;
      if (KnownRef(w) && OperandClass(w[2]) == 0) return then_jump ? kForm_OpMove_RP_Jump : kForm_OpMove_RP;
      if (OperandClass(w[0]) == 0 && KnownRef(w + 2))
        return then_jump ? kForm_OpMove_PR_Jump : kForm_OpMove_PR;
      return kForm_OpMove;
    }
    case VmOp::OpSetInt:
      return plain ? kForm_OpSetInt_P : kForm_OpSetInt;
    case VmOp::OpJumpIfZero:
      return plain && w[2] < size ? kForm_OpJumpIfZero_P : kForm_OpJumpIfZero;
    case VmOp::OpJumpIfNonZero:
      return plain && w[2] < size ? kForm_OpJumpIfNonZero_P : kForm_OpJumpIfNonZero;
    case VmOp::OpJump:
      return w[0] < size ? kForm_OpJump : kForm_Slow;
    case VmOp::OpPushRef:
      return plain ? kForm_OpPushRef : kForm_Slow;
    case VmOp::OpCall:
      // Built-in calls reach outside the machine: the handler runs them.
      return (w[0] & kVmCallBuiltin) == 0 && w[1] < size ? kForm_OpCall : kForm_Slow;
    case VmOp::OpPushWord:
      return kForm_OpPushWord;
    case VmOp::OpPushBase:
      return kForm_OpPushBase;
    case VmOp::OpPopBase:
      return kForm_OpPopBase;
    case VmOp::OpAddBase:
      return kForm_OpAddBase;
    case VmOp::OpDrop:
      return kForm_OpDrop;
    case VmOp::OpReturn:
      return kForm_OpReturn;
    case VmOp::OpEnter:
      return kForm_OpEnter;
    case VmOp::OpLeave:
      return kForm_OpLeave;
    case VmOp::OpSetFile:
      return kForm_OpSetFile;
    case VmOp::OpSetLine:
      return kForm_OpSetLine;
    default:
      return kForm_Slow;
  }
}

// The chains: sequences of the calling convention run as one form.
struct VmChain {
  VmForm form;
  VmForm parts[5];  // ended by kForm_New
};
constexpr VmChain kChains[] = {
    {kForm_Prologue, {kForm_OpPushBase, kForm_OpAddBase, kForm_OpEnter, kForm_New}},
    {kForm_Epilogue, {kForm_OpLeave, kForm_OpPopBase, kForm_OpReturn, kForm_New}},
    {kForm_Call0, {kForm_OpPushWord, kForm_OpCall, kForm_New}},
    {kForm_Call1, {kForm_OpPushRef, kForm_OpPushWord, kForm_OpCall, kForm_New}},
    {kForm_Call2, {kForm_OpPushRef, kForm_OpPushRef, kForm_OpPushWord, kForm_OpCall, kForm_New}},
    {kForm_Call3, {kForm_OpPushRef, kForm_OpPushRef, kForm_OpPushRef, kForm_OpPushWord, kForm_OpCall}},
};

// Code words of a chain part (all have fixed lengths).
uint32_t PartWords(VmForm f) {
  switch (f) {
    case kForm_OpPushBase:
    case kForm_OpPopBase:
    case kForm_OpReturn:
      return 1;
    case kForm_OpPushRef:
    case kForm_OpCall:
      return 3;
    default:
      return 2;
  }
}

// Whether the instructions from pc are the chain, each with the form it would have alone (the
// first one's form given).
bool IsChain(const VmChain& chain, VmForm first, const uint32_t* code, uint32_t size, uint32_t pc) {
  if (chain.parts[0] != first) return false;
  uint32_t at = pc;
  for (size_t i = 0; i < std::size(chain.parts) && chain.parts[i] != kForm_New; ++i) {
    // Every part but the last goes on to the next address, which its decoding found inside the code.
    if (i > 0 && DecodeSingle(code, size, at) != chain.parts[i]) return false;
    at += PartWords(chain.parts[i]);
  }
  return true;
}

// Whether the instruction at pc (pc < size), the first after the prologue of a frame of `frame`
// slots called with `args` reference pairs, moves one of those pairs into that frame: L(x) = S(-k)
// with x < frame and k naming a pair's reference word. The stack then holds the pairs, the
// caller's frame size word, the return address and the saved frame base, so k = 2 * args + 2 names
// the first pair and k = 4 the last.
bool IsArgFetch(const uint32_t* code, uint32_t size, uint32_t pc, uint32_t args, uint32_t frame) {
  if (DecodeSingle(code, size, pc) != kForm_OpMove_PR) return false;
  const uint32_t* const w = code + pc + 1;
  const uint32_t k = 0u - w[3];
  return w[0] == kVmModeFrame && w[1] < frame && k >= 4 && k <= 2 * args + 2 && k % 2 == 0;
}

// The form for the address pc (pc < size): a chain when the instructions from pc are one, each
// with the form it would have alone, else the instruction's own form.
VmForm DecodeForm(const uint32_t* code, uint32_t size, uint32_t pc) {
  const VmForm first = DecodeSingle(code, size, pc);
  for (const VmChain& chain : kChains) {
    if (!IsChain(chain, first, code, size, pc)) continue;
    // A call whose callee begins with a prologue (its address is inside the code: the call's
    // decoding checked it) runs with that prologue when it can. A frame of 1 to kSizedFrames slots,
    // the callee's or the epilogue's, has forms of its own size (the size words lie inside the
    // code: the chains' decoding checked them). The prologue's Enter goes on to an address inside
    // the code, which may fetch an argument.
    const uint32_t args = static_cast<uint32_t>(chain.form - kForm_Call0);
    if (args < 4) {
      const uint32_t callee = code[pc + 3 * args + 4];
      if (IsChain(kChains[0], DecodeSingle(code, size, callee), code, size, callee)) {
        const uint32_t frame = code[callee + 4];
        if (frame - 1 >= kSizedFrames) return static_cast<VmForm>(kForm_Call0_Prologue + args);
        if (args > 0 && IsArgFetch(code, size, callee + 5, args, frame)) {
          return static_cast<VmForm>(kForm_Call1_Prologue_1_Arg + (args - 1) * kSizedFrames + frame - 1);
        }
        return static_cast<VmForm>(kForm_Call0_Prologue_1 + args * kSizedFrames + frame - 1);
      }
    }
    if (chain.form == kForm_Epilogue && code[pc + 1] - 1 < kSizedFrames) {
      return static_cast<VmForm>(kForm_Epilogue_1 + code[pc + 1] - 1);
    }
    return chain.form;
  }
  return first;
}
static_assert(kForm_Call3 - kForm_Call0 == 3 && kForm_Call3_Prologue - kForm_Call0_Prologue == 3);

// Frame slots are cleared to int 0 on entry and exit. When all n hold ints (the common case) they
// are cleared here, their types tested together before any store, so a frame holding anything else
// is left untouched for the handler, which releases what it must. Small frames are unrolled.
__attribute__((always_inline)) inline bool ClearIntSlotsOf(ScriptValue* v, uint32_t n) {
  static_assert(kScriptInt == 0);
  uint32_t types = 0;
  for (uint32_t i = 0; i < n; ++i) types |= v[i].type();
  if (types != kScriptInt) return false;
  for (uint32_t i = 0; i < n; ++i) v[i].ClearInt();
  return true;
}
__attribute__((always_inline)) inline bool ClearIntSlots(ScriptValue* v, uint32_t n) {
  // Constant sizes let the compiler unroll both loops.
  switch (n) {
    case 0:
      return true;
    case 1:
      return ClearIntSlotsOf(v, 1);
    case 2:
      return ClearIntSlotsOf(v, 2);
    case 3:
      return ClearIntSlotsOf(v, 3);
    case 4:
      return ClearIntSlotsOf(v, 4);
    default:
      return ClearIntSlotsOf(v, n);
  }
}

}  // namespace

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
  // Where each form starts, indexed by the form id.
  static const void* const kLabels[kFormCount] = {
#define ORVANE_VM_FORM_LABEL(name) &&form_##name,
      ORVANE_VM_ALL_FORMS(ORVANE_VM_FORM_LABEL)
#undef ORVANE_VM_FORM_LABEL
  };

  // The hot registers, kept in locals while fast forms run and written back before anything else
  // runs. The code, its forms and the slot range never move while the context lives.
  const uint32_t* const code = code_;
  VmFormByte* const forms = forms_;
  const uint32_t size = code_size_;
  ScriptValue* const slots = slot_base_;
  uint32_t pc = pc_;
  uint32_t fb = frame_base_;
  uint32_t top = stack_top_;
  uint32_t cap = slot_capacity_;
  VmWord* stack = stack_.data();
  // The stack's room is read from memory each time: only the pushes and calls test it, and the
  // compiler would otherwise keep it in a register that a value every form uses then loses.
  volatile uint32_t room = static_cast<uint32_t>(stack_.size());
  uint32_t left = n;

  const auto slot = [slots](uint32_t s) __attribute__((always_inline)) {
    return slots + s;
  };
  // Drops stack words: pins of addresses above the new top go with them.
  // Only handlers pin addresses, so whether any pin is held is kept here and read again after them.
  bool pinned = !pins_.empty();
  const auto unpin = [&]() __attribute__((always_inline)) {
    if (pinned) {
      stack_top_ = top;
      Unpin();
      pinned = !pins_.empty();
    }
  };

// Runs the form of the address pc (pc < size).
#define ORVANE_VM_DISPATCH() goto* kLabels[forms[pc].load(std::memory_order_relaxed)]
// v = the value a plain operand (global or frame slot) names; `o` points at the operand's mode
// word, 0 or 1 as decoded. A slot outside the table goes to the handler.
#define ORVANE_VM_SLOT(v, o)                           \
  ScriptValue* v;                                      \
  {                                                    \
    const uint32_t s_ = (o)[1] + (fb & (0u - (o)[0])); \
    if (__builtin_expect(s_ >= cap, 0)) goto slow;     \
    v = slot(s_);                                      \
  }
// The same for an operand that is plain or a stack reference, told apart at run time.
#define ORVANE_VM_ANY(v, o)                                                                \
  ScriptValue* v;                                                                          \
  {                                                                                        \
    const uint32_t mode_ = (o)[0];                                                         \
    uint32_t s_;                                                                           \
    if (mode_ <= kVmModeFrame) {                                                           \
      s_ = (o)[1] + (mode_ ? fb : 0);                                                      \
    } else {                                                                               \
      /* A reference pair on the stack that names a slot (addresses go to the decoder). */ \
      const int64_t ref_ = int64_t{top} + static_cast<int32_t>((o)[1]);                    \
      if (ref_ < 1 || ref_ >= int64_t{top} || (stack[ref_ - 1] & 1)) goto slow;            \
      s_ = static_cast<uint32_t>(stack[ref_]);                                             \
    }                                                                                      \
    if (s_ >= cap) goto slow;                                                              \
    v = slot(s_);                                                                          \
  }
// The same for an operand the decoder found to be a stack reference k = -o[1] >= 1 words below the
// top: the pair must lie inside the stack (top > k) and name a slot (addresses go to the handler).
#define ORVANE_VM_REF(v, o)                           \
  ScriptValue* v;                                     \
  {                                                   \
    const uint32_t k_ = 0u - (o)[1];                  \
    if (__builtin_expect(top <= k_, 0)) goto slow;    \
    const VmWord* const p_ = stack + (top - k_);      \
    if (p_[-1] & 1) goto slow;                        \
    const uint32_t s_ = static_cast<uint32_t>(p_[0]); \
    if (__builtin_expect(s_ >= cap, 0)) goto slow;    \
    v = slot(s_);                                     \
  }
// The same for operands that must hold an int.
#define ORVANE_VM_REF_INT(v, o) \
  ORVANE_VM_REF(v, o)           \
  if (v->type() != kScriptInt) goto slow;
#define ORVANE_VM_SLOT_INT(v, o) \
  ORVANE_VM_SLOT(v, o)           \
  if (v->type() != kScriptInt) goto slow;
#define ORVANE_VM_ANY_INT(v, o) \
  ORVANE_VM_ANY(v, o)           \
  if (v->type() != kScriptInt) goto slow;
// Opens a form: w is the word after the opcode. The decoder has checked that the fields lie inside
// the code and, for a form that goes on to the next instruction, that it begins inside it too; a
// form jumps only to addresses inside it. So the loop reads the next form without a test.
#define ORVANE_VM_FORM(name)                             \
  form_##name : const uint32_t* const w = code + pc + 1; \
  static_cast<void>(w);
#define ORVANE_VM_NEXT()          \
  do {                            \
    if (--left == 0) goto budget; \
    ORVANE_VM_DISPATCH();         \
  } while (0)
// The same where one form usually follows (a call lands on a prologue, a return on the caller's
// drop of the arguments): a predictable test for it before the indirect dispatch.
#define ORVANE_VM_DISPATCH_LIKELY(name)                            \
  do {                                                             \
    const uint8_t f_ = forms[pc].load(std::memory_order_relaxed);  \
    if (__builtin_expect(f_ == kForm_##name, 1)) goto form_##name; \
    goto* kLabels[f_];                                             \
  } while (0)
#define ORVANE_VM_NEXT_LIKELY(name)  \
  do {                               \
    if (--left == 0) goto budget;    \
    ORVANE_VM_DISPATCH_LIKELY(name); \
  } while (0)

// d = a op b on ints; DEST and OPERAND read d and the sources.
#define ORVANE_VM_BINARY(name, DEST, OPERAND, expr)                                      \
  {                                                                                      \
    ORVANE_VM_FORM(name)                                                                 \
    DEST(d, w)                                                                           \
    OPERAND##_INT(va, w + 2) OPERAND##_INT(vb, w + 4) const int32_t a = va->int_value(), \
                                                                    b = vb->int_value(); \
    pc += 7;                                                                             \
    d->SetInt(expr);                                                                     \
    ORVANE_VM_NEXT();                                                                    \
  }
// d = a op b for a comparison whose fields start at f, then what THEN says: nothing, or the
// conditional jump on d that follows (w[9] its target, w the comparison's fields), when the turn
// has room for it; it reads the int just stored.
#define ORVANE_VM_COMPARE_BODY(OPERAND, f, expr, THEN)                                       \
  {                                                                                          \
    const uint32_t* const cf_ = (f);                                                         \
    OPERAND(d, cf_)                                                                          \
    OPERAND##_INT(va, cf_ + 2) OPERAND##_INT(vb, cf_ + 4) const int32_t a = va->int_value(), \
                                                                        b = vb->int_value(); \
    const bool r = (expr);                                                                   \
    pc += 7;                                                                                 \
    d->SetInt(r);                                                                            \
    {                                                                                        \
      const uint32_t* const w = cf_;                                                         \
      static_cast<void>(w);                                                                  \
      THEN                                                                                   \
    }                                                                                        \
  }
#define ORVANE_VM_COMPARE(name, OPERAND, expr, THEN) \
  {                                                  \
    ORVANE_VM_FORM(name)                             \
    ORVANE_VM_COMPARE_BODY(OPERAND, w, expr, THEN)   \
    ORVANE_VM_NEXT();                                \
  }
#define ORVANE_VM_ALONE
// The jump that follows an instruction, to `to`, when the turn's budget covers it: with room for
// one more instruction after it, one test of the budget and the dispatch `go`; otherwise pc is
// set and the caller's next dispatch ends the turn there.
#define ORVANE_VM_THEN_TO(to, go)      \
  if (__builtin_expect(left > 2, 1)) { \
    left -= 2;                         \
    pc = (to);                         \
    go;                                \
  }                                    \
  if (left > 1) {                      \
    --left;                            \
    pc = (to);                         \
  }
// The conditional jump on r after a comparison (w its fields, w[9] the jump's target): the same
// with one dispatch per outcome, so that each mostly sees one target.
#define ORVANE_VM_THEN_JUMP_IF(taken)  \
  if (__builtin_expect(left > 2, 1)) { \
    left -= 2;                         \
    if (taken) {                       \
      pc = w[9];                       \
      ORVANE_VM_DISPATCH();            \
    }                                  \
    pc += 4;                           \
    ORVANE_VM_DISPATCH();              \
  }                                    \
  if (left > 1) {                      \
    --left;                            \
    pc = (taken) ? w[9] : pc + 4;      \
  }
#define ORVANE_VM_THEN_JZ ORVANE_VM_THEN_JUMP_IF(!r)
#define ORVANE_VM_THEN_JNZ ORVANE_VM_THEN_JUMP_IF(r)
// d op= s on ints.
#define ORVANE_VM_ASSIGN(name, OPERAND, expr)                                                           \
  {                                                                                                     \
    ORVANE_VM_FORM(name)                                                                                \
    OPERAND##_INT(d, w) OPERAND##_INT(vs, w + 2) const int32_t a = d->int_value(), b = vs->int_value(); \
    pc += 5;                                                                                            \
    d->SetInt(expr);                                                                                    \
    ORVANE_VM_NEXT();                                                                                   \
  }
// d op= the word w.
#define ORVANE_VM_ASSIGN_CONST(name, OPERAND, expr)                                       \
  {                                                                                       \
    ORVANE_VM_FORM(name)                                                                  \
    OPERAND##_INT(d, w) const int32_t a = d->int_value(), b = static_cast<int32_t>(w[2]); \
    pc += 4;                                                                              \
    d->SetInt(expr);                                                                      \
    ORVANE_VM_NEXT();                                                                     \
  }
#define ORVANE_VM_INT_FORM(bin, assign, with_const, expr)          \
  ORVANE_VM_BINARY(bin, ORVANE_VM_ANY, ORVANE_VM_ANY, expr)        \
  ORVANE_VM_BINARY(bin##_P, ORVANE_VM_SLOT, ORVANE_VM_SLOT, expr)  \
  ORVANE_VM_BINARY(bin##_RPP, ORVANE_VM_REF, ORVANE_VM_SLOT, expr) \
  ORVANE_VM_ASSIGN(assign, ORVANE_VM_ANY, expr)                    \
  ORVANE_VM_ASSIGN(assign##_P, ORVANE_VM_SLOT, expr)               \
  ORVANE_VM_ASSIGN_CONST(with_const, ORVANE_VM_ANY, expr)          \
  ORVANE_VM_ASSIGN_CONST(with_const##_P, ORVANE_VM_SLOT, expr)
#define ORVANE_VM_COMPARE_FORM(name, expr)                              \
  ORVANE_VM_COMPARE(name, ORVANE_VM_ANY, expr, ORVANE_VM_ALONE)         \
  ORVANE_VM_COMPARE(name##_P, ORVANE_VM_SLOT, expr, ORVANE_VM_ALONE)    \
  ORVANE_VM_COMPARE(name##_Jz, ORVANE_VM_SLOT, expr, ORVANE_VM_THEN_JZ) \
  ORVANE_VM_COMPARE(name##_Jnz, ORVANE_VM_SLOT, expr, ORVANE_VM_THEN_JNZ)
// d = s, then what THEN says: nothing, or the Jump that follows (w[5] its target) when the turn
// has room for it.
#define ORVANE_VM_MOVE(name, DEST, SOURCE, THEN) \
  {                                              \
    ORVANE_VM_FORM(name)                         \
    DEST(d, w)                                   \
    SOURCE##_INT(vs, w + 2) pc += 5;             \
    d->SetInt(vs->int_value());                  \
    THEN ORVANE_VM_NEXT();                       \
  }
// A jump that leaves a function body usually lands on its epilogue.
#define ORVANE_VM_THEN_JUMP ORVANE_VM_THEN_TO(w[5], ORVANE_VM_DISPATCH_LIKELY(Epilogue))
// d = a op b on plain operands, then d op2= w[9] when the turn has room for it: d holds the int
// just computed, so the second instruction has nothing to test.
#define ORVANE_VM_BINARY_THEN_CONST(name, expr, expr2)                     \
  {                                                                        \
    ORVANE_VM_FORM(name)                                                   \
    ORVANE_VM_SLOT(d, w)                                                   \
    ORVANE_VM_SLOT_INT(va, w + 2) ORVANE_VM_SLOT_INT(vb, w + 4) int32_t r; \
    {                                                                      \
      const int32_t a = va->int_value(), b = vb->int_value();              \
      r = expr;                                                            \
    }                                                                      \
    pc += 7;                                                               \
    if (left > 1) {                                                        \
      --left;                                                              \
      const int32_t a = r, b = static_cast<int32_t>(w[9]);                 \
      r = expr2;                                                           \
      pc += 4;                                                             \
    }                                                                      \
    d->SetInt(r);                                                          \
    ORVANE_VM_NEXT();                                                      \
  }
// d += w[2] on a plain int, then, when the turn has room, the comparison after it (its fields from
// w[4]) and, with room again, its conditional jump (THEN, on r). Leaving for the handler at the
// comparison comes after d is stored and the step counted, as the lone forms would.
#define ORVANE_VM_STEP_COMPARE(name, expr, THEN)                        \
  {                                                                     \
    ORVANE_VM_FORM(name)                                                \
    ORVANE_VM_SLOT_INT(x, w) {                                          \
      const int32_t a = x->int_value(), b = static_cast<int32_t>(w[2]); \
      x->SetInt(VmIntAdd(a, b));                                        \
    }                                                                   \
    pc += 4;                                                            \
    if (left > 1) {                                                     \
      --left;                                                           \
      ORVANE_VM_COMPARE_BODY(ORVANE_VM_SLOT, w + 4, expr, THEN)         \
    }                                                                   \
    ORVANE_VM_NEXT();                                                   \
  }
// The same where the comparison's source k (2 or 4) is d: that source is the int just stored, so
// it is neither located nor tested again; the other source is.
#define ORVANE_VM_STEP_COMPARE_SAME(name, expr, THEN, k)                     \
  {                                                                          \
    ORVANE_VM_FORM(name)                                                     \
    ORVANE_VM_SLOT_INT(x, w)                                                 \
    const int32_t v_ = VmIntAdd(x->int_value(), static_cast<int32_t>(w[2])); \
    x->SetInt(v_);                                                           \
    pc += 4;                                                                 \
    if (left > 1) {                                                          \
      --left;                                                                \
      const uint32_t* const cf_ = w + 4;                                     \
      ORVANE_VM_SLOT(d, cf_)                                                 \
      ORVANE_VM_SLOT_INT(vo_, cf_ + 6 - (k))                                 \
      const int32_t a = (k) == 2 ? v_ : vo_->int_value();                    \
      const int32_t b = (k) == 2 ? vo_->int_value() : v_;                    \
      const bool r = (expr);                                                 \
      pc += 7;                                                               \
      d->SetInt(r);                                                          \
      {                                                                      \
        const uint32_t* const w = cf_;                                       \
        THEN                                                                 \
      }                                                                      \
    }                                                                        \
    ORVANE_VM_NEXT();                                                        \
  }
#define ORVANE_VM_STEP_COMPARE_FORM(name, expr)                                           \
  ORVANE_VM_STEP_COMPARE(OpAddConstInt_P_##name##_Jz, expr, ORVANE_VM_THEN_JZ)            \
  ORVANE_VM_STEP_COMPARE(OpAddConstInt_P_##name##_Jnz, expr, ORVANE_VM_THEN_JNZ)          \
  ORVANE_VM_STEP_COMPARE_SAME(OpAddConstInt_P_##name##A_Jz, expr, ORVANE_VM_THEN_JZ, 2)   \
  ORVANE_VM_STEP_COMPARE_SAME(OpAddConstInt_P_##name##A_Jnz, expr, ORVANE_VM_THEN_JNZ, 2) \
  ORVANE_VM_STEP_COMPARE_SAME(OpAddConstInt_P_##name##B_Jz, expr, ORVANE_VM_THEN_JZ, 4)   \
  ORVANE_VM_STEP_COMPARE_SAME(OpAddConstInt_P_##name##B_Jnz, expr, ORVANE_VM_THEN_JNZ, 4)
#define ORVANE_VM_SET_INT(name, OPERAND)   \
  {                                        \
    ORVANE_VM_FORM(name)                   \
    OPERAND(d, w)                          \
    pc += 4;                               \
    d->SetInt(static_cast<int32_t>(w[2])); \
    ORVANE_VM_NEXT();                      \
  }
// A conditional jump: TARGET_OK tells whether w[2] may be used without a test.
#define ORVANE_VM_JUMP_IF(name, OPERAND, taken, TARGET_OK) \
  {                                                        \
    ORVANE_VM_FORM(name)                                   \
    OPERAND##_INT(x, w) const int32_t v = x->int_value();  \
    if (!(taken)) {                                        \
      pc += 4;                                             \
    } else {                                               \
      if (!(TARGET_OK) && w[2] >= size) goto slow;         \
      pc = w[2];                                           \
    }                                                      \
    ORVANE_VM_NEXT();                                      \
  }

  if (pc >= size) goto slow;
  ORVANE_VM_DISPATCH();

form_New:
  forms[pc].store(DecodeForm(code, size, pc), std::memory_order_relaxed);
  ORVANE_VM_DISPATCH();

  ORVANE_VM_INT_FORMS(ORVANE_VM_INT_FORM)
  ORVANE_VM_COMPARES(ORVANE_VM_COMPARE_FORM)
  ORVANE_VM_COMPARES(ORVANE_VM_STEP_COMPARE_FORM)
  ORVANE_VM_MOVE(OpMove, ORVANE_VM_ANY, ORVANE_VM_ANY, ORVANE_VM_ALONE)
  ORVANE_VM_MOVE(OpMove_P, ORVANE_VM_SLOT, ORVANE_VM_SLOT, ORVANE_VM_ALONE)
  ORVANE_VM_MOVE(OpMove_RP, ORVANE_VM_REF, ORVANE_VM_SLOT, ORVANE_VM_ALONE)
  ORVANE_VM_MOVE(OpMove_PR, ORVANE_VM_SLOT, ORVANE_VM_REF, ORVANE_VM_ALONE)
  ORVANE_VM_MOVE(OpMove_P_Jump, ORVANE_VM_SLOT, ORVANE_VM_SLOT, ORVANE_VM_THEN_JUMP)
  ORVANE_VM_MOVE(OpMove_RP_Jump, ORVANE_VM_REF, ORVANE_VM_SLOT, ORVANE_VM_THEN_JUMP)
  ORVANE_VM_MOVE(OpMove_PR_Jump, ORVANE_VM_SLOT, ORVANE_VM_REF, ORVANE_VM_THEN_JUMP)
  ORVANE_VM_BINARY_THEN_CONST(OpAdd_P_AddConstInt, VmIntAdd(a, b), VmIntAdd(a, b))
  ORVANE_VM_BINARY_THEN_CONST(OpAdd_P_SubConstInt, VmIntAdd(a, b), VmIntSub(a, b))
  ORVANE_VM_BINARY_THEN_CONST(OpSub_P_AddConstInt, VmIntSub(a, b), VmIntAdd(a, b))
  ORVANE_VM_BINARY_THEN_CONST(OpSub_P_SubConstInt, VmIntSub(a, b), VmIntSub(a, b))
  ORVANE_VM_SET_INT(OpSetInt, ORVANE_VM_ANY)
  ORVANE_VM_SET_INT(OpSetInt_P, ORVANE_VM_SLOT)
  ORVANE_VM_JUMP_IF(OpJumpIfZero, ORVANE_VM_ANY, v == 0, false)
  ORVANE_VM_JUMP_IF(OpJumpIfZero_P, ORVANE_VM_SLOT, v == 0, true)
  ORVANE_VM_JUMP_IF(OpJumpIfNonZero, ORVANE_VM_ANY, v != 0, false)
  ORVANE_VM_JUMP_IF(OpJumpIfNonZero_P, ORVANE_VM_SLOT, v != 0, true) {
    ORVANE_VM_FORM(OpJump)
    pc = w[0];
    ORVANE_VM_NEXT_LIKELY(Epilogue);
  }
  // The stack and frame instructions. Each body reads its fields at pc and advances pc only once
  // its checks have passed, so a chain of them (the calling convention's sequences, decoded as one
  // form) goes on with the next body where a lone form would dispatch, and still leaves through
  // `slow` or `budget` at exactly the instruction where the lone forms would.
  // Pushes run without growing the stack; growth goes to the handlers.
#define ORVANE_VM_PUSH_REF                    \
  {                                           \
    const uint32_t* const w = code + pc + 1;  \
    if (room - top < 2) goto slow;            \
    pc += 3;                                  \
    stack[top++] = 0;                         \
    stack[top++] = w[1] + (fb & (0u - w[0])); \
  }
#define ORVANE_VM_PUSH_WORD                  \
  {                                          \
    const uint32_t* const w = code + pc + 1; \
    if (room == top) goto slow;              \
    pc += 2;                                 \
    stack[top++] = w[0];                     \
  }
#define ORVANE_VM_PUSH_BASE     \
  {                             \
    if (room == top) goto slow; \
    pc += 1;                    \
    stack[top++] = fb;          \
  }
#define ORVANE_VM_POP_BASE                    \
  {                                           \
    if (top == 0) goto slow;                  \
    pc += 1;                                  \
    fb = static_cast<uint32_t>(stack[--top]); \
    unpin();                                  \
  }
#define ORVANE_VM_ADD_BASE                                       \
  {                                                              \
    const uint32_t* const w = code + pc + 1;                     \
    const int64_t i = int64_t{top} + static_cast<int32_t>(w[0]); \
    if (i < 0 || i >= int64_t{top}) goto slow;                   \
    pc += 2;                                                     \
    fb += static_cast<uint32_t>(stack[i]);                       \
  }
#define ORVANE_VM_DROP                       \
  {                                          \
    const uint32_t* const w = code + pc + 1; \
    if (w[0] > top) goto slow;               \
    pc += 2;                                 \
    top -= w[0];                             \
    unpin();                                 \
  }
  // Calls of code (built-in calls go to the handler: they reach outside the machine).
#define ORVANE_VM_CALL                       \
  {                                          \
    const uint32_t* const w = code + pc + 1; \
    if (room == top) goto slow;              \
    stack[top++] = pc + 3;                   \
    pc = w[1];                               \
  }
#define ORVANE_VM_RETURN              \
  {                                   \
    if (top == 0) goto slow;          \
    const VmWord to = stack[top - 1]; \
    if (to >= size) goto slow;        \
    --top;                            \
    unpin();                          \
    pc = static_cast<uint32_t>(to);   \
  }
  // A frame holding anything but ints goes to the handler, which releases what it must.
#define ORVANE_VM_ENTER                                                         \
  {                                                                             \
    const uint32_t* const w = code + pc + 1;                                    \
    if (uint64_t{fb} + w[0] > cap || !ClearIntSlots(slot(fb), w[0])) goto slow; \
    pc += 2;                                                                    \
    slot_top_ = fb + w[0];                                                      \
  }
#define ORVANE_VM_LEAVE                                                                             \
  {                                                                                                 \
    const uint32_t* const w = code + pc + 1;                                                        \
    if (w[0] > slot_top_ || uint64_t{fb} + w[0] > cap || !ClearIntSlots(slot(fb), w[0])) goto slow; \
    pc += 2;                                                                                        \
    slot_top_ -= w[0];                                                                              \
  }
#define ORVANE_VM_SET_FILE                   \
  {                                          \
    const uint32_t* const w = code + pc + 1; \
    pc += 2;                                 \
    file_index_ = w[0];                      \
  }
#define ORVANE_VM_SET_LINE                   \
  {                                          \
    const uint32_t* const w = code + pc + 1; \
    pc += 2;                                 \
    line_ = w[0];                            \
  }
// Between two bodies of a chain: one instruction of the budget.
#define ORVANE_VM_THEN \
  if (--left == 0) goto budget;
// A return, the k instructions before here, usually lands on the caller's drop of the arguments:
// when the turn's budget covers the drop as well and the stack holds its words, the drop runs
// here too. Nothing is pinned (the caller tested it), so there is no pin to release.
#define ORVANE_VM_THEN_DROP(k)                                                                              \
  if (left > (k) + 1 && forms[pc].load(std::memory_order_relaxed) == kForm_OpDrop && code[pc + 1] <= top) { \
    top -= code[pc + 1];                                                                                    \
    pc += 2;                                                                                                \
    left -= (k) + 1;                                                                                        \
    ORVANE_VM_DISPATCH();                                                                                   \
  }

form_OpPushRef:
  ORVANE_VM_PUSH_REF
  ORVANE_VM_NEXT();
form_OpPushWord:
  ORVANE_VM_PUSH_WORD
  ORVANE_VM_NEXT();
form_OpPushBase:
  ORVANE_VM_PUSH_BASE
  ORVANE_VM_NEXT();
form_OpPopBase:
  ORVANE_VM_POP_BASE
  ORVANE_VM_NEXT();
form_OpAddBase:
  ORVANE_VM_ADD_BASE
  ORVANE_VM_NEXT();
form_OpDrop:
  ORVANE_VM_DROP
  ORVANE_VM_NEXT();
form_OpCall:
  ORVANE_VM_CALL
  ORVANE_VM_NEXT_LIKELY(Prologue);
form_OpReturn:
  ORVANE_VM_RETURN
  if (!pinned) ORVANE_VM_THEN_DROP(1)
  ORVANE_VM_NEXT_LIKELY(OpDrop);
form_OpEnter:
  ORVANE_VM_ENTER
  ORVANE_VM_NEXT();
form_OpLeave:
  ORVANE_VM_LEAVE
  ORVANE_VM_NEXT();
form_OpSetFile:
  ORVANE_VM_SET_FILE
  ORVANE_VM_NEXT();
form_OpSetLine:
  ORVANE_VM_SET_LINE
  ORVANE_VM_NEXT();
  // The chains. When the turn's budget covers a whole chain and every check of its instructions
  // passes, it runs in one piece, storing only after the checks that could stop it; otherwise its
  // instructions run one by one, each leaving through `slow` or `budget` where its lone form would.
form_Prologue:
  if (left > 3 && room != top) {
    const int64_t i = int64_t{top} + 1 + static_cast<int32_t>(code[pc + 2]);
    const uint32_t n = code[pc + 4];
    if (i >= 0 && i <= int64_t{top}) {
      stack[top] = fb;  // above the top until the chain is done
      const uint32_t base = fb + static_cast<uint32_t>(stack[i]);
      if (uint64_t{base} + n <= cap && ClearIntSlots(slot(base), n)) {
        ++top;
        fb = base;
        slot_top_ = base + n;
        pc += 5;
        left -= 3;
        ORVANE_VM_DISPATCH();
      }
    }
  }
  ORVANE_VM_PUSH_BASE
  ORVANE_VM_THEN
  ORVANE_VM_ADD_BASE
  ORVANE_VM_THEN
  ORVANE_VM_ENTER
  ORVANE_VM_NEXT();
  // The epilogue of a frame of `frame` slots in one piece.
#define ORVANE_VM_EPILOGUE(frame)                                                               \
  if (left > 3 && top >= 2 && !pinned) {                                                        \
    const uint32_t n = (frame);                                                                 \
    const VmWord to = stack[top - 2];                                                           \
    if (n <= slot_top_ && uint64_t{fb} + n <= cap && to < size && ClearIntSlots(slot(fb), n)) { \
      slot_top_ -= n;                                                                           \
      fb = static_cast<uint32_t>(stack[top - 1]);                                               \
      top -= 2;                                                                                 \
      pc = static_cast<uint32_t>(to);                                                           \
      ORVANE_VM_THEN_DROP(3)                                                                    \
      left -= 3;                                                                                \
      ORVANE_VM_DISPATCH_LIKELY(OpDrop);                                                        \
    }                                                                                           \
  }
form_Epilogue_1:
  ORVANE_VM_EPILOGUE(1u)
  goto epilogue_steps;
form_Epilogue_2:
  ORVANE_VM_EPILOGUE(2u)
  goto epilogue_steps;
form_Epilogue_3:
  ORVANE_VM_EPILOGUE(3u)
  goto epilogue_steps;
form_Epilogue_4:
  ORVANE_VM_EPILOGUE(4u)
  goto epilogue_steps;
form_Epilogue:
  ORVANE_VM_EPILOGUE(code[pc + 1])
epilogue_steps:
  ORVANE_VM_LEAVE
  ORVANE_VM_THEN
  ORVANE_VM_POP_BASE
  ORVANE_VM_THEN
  ORVANE_VM_RETURN
  ORVANE_VM_NEXT_LIKELY(OpDrop);
  // N reference pairs of plain operands, the caller's frame size word and the call: pushes need
  // room for 2N + 2 words.
// The call chain's 2N + 2 words written from p up: N reference pairs of the plain operands at
// w + 1, then the caller's frame size word and the return address.
#define ORVANE_VM_CALL_WORDS(N)                               \
  for (int k = 0; k < (N); ++k) {                             \
    p[2 * k] = 0;                                             \
    p[2 * k + 1] = w[3 * k + 2] + (fb & (0u - w[3 * k + 1])); \
  }                                                           \
  p[2 * (N)] = w[3 * (N) + 1];                                \
  p[2 * (N) + 1] = pc + 3 * (N) + 5;
#define ORVANE_VM_CALL_CHAIN(N)                      \
  if (left > (N) + 2 && room - top >= 2 * (N) + 2) { \
    const uint32_t* const w = code + pc;             \
    VmWord* const p = stack + top;                   \
    ORVANE_VM_CALL_WORDS(N)                          \
    top += 2 * (N) + 2;                              \
    pc = w[3 * (N) + 4];                             \
    left -= (N) + 2;                                 \
    ORVANE_VM_DISPATCH_LIKELY(Prologue);             \
  }
  // A call chain whose callee begins with a prologue: when the turn's budget covers both and every
  // check of the prologue passes, they run as one; otherwise the call runs as its own chain above
  // and the prologue's form follows.
#define ORVANE_VM_CALL_PROLOGUE(N, frame, THEN)                             \
  if (left > (N) + 5 && room - top >= 2 * (N) + 3) {                        \
    const uint32_t* const w = code + pc;                                    \
    const uint32_t callee = w[3 * (N) + 4];                                 \
    const uint32_t* const q = code + callee;                                \
    const uint32_t called = top + 2 * (N) + 2; /* the top after the call */ \
    const int64_t i = int64_t{called} + 1 + static_cast<int32_t>(q[2]);     \
    if (i >= 0 && i <= int64_t{called}) {                                   \
      VmWord* const p = stack + top;                                        \
      ORVANE_VM_CALL_WORDS(N)                                               \
      p[2 * (N) + 2] = fb; /* above the top until the prologue is done */   \
      const uint32_t base = fb + static_cast<uint32_t>(stack[i]);           \
      const uint32_t n = (frame);                                           \
      if (uint64_t{base} + n <= cap && ClearIntSlots(slot(base), n)) {      \
        top = called + 1;                                                   \
        fb = base;                                                          \
        slot_top_ = base + n;                                               \
        pc = callee + 5;                                                    \
        left -= (N) + 5;                                                    \
        THEN;                                                               \
      }                                                                     \
    }                                                                       \
  }
  // The argument fetch that the decoder found after the prologue, when the turn's budget covers
  // it: the source pair is one the call has just pushed, so it names a slot; the destination is a
  // slot of the frame just cleared, so it holds an int. A check that fails leaves for the handler
  // at the move, the call and the prologue done and counted.
#define ORVANE_VM_ARG_FETCH                                              \
  if (left > 1) {                                                        \
    const uint32_t* const m = code + pc + 1;                             \
    const uint32_t s_ = static_cast<uint32_t>(stack[top - (0u - m[3])]); \
    if (s_ >= cap) goto slow;                                            \
    const ScriptValue* const vs = slot(s_);                              \
    if (vs->type() != kScriptInt) goto slow;                             \
    slot(fb + m[1])->SetInt(vs->int_value());                            \
    pc += 5;                                                             \
    --left;                                                              \
  }                                                                      \
  ORVANE_VM_DISPATCH()
  // The forms of one call length: the callee's frame size read from its Enter, or the form's own,
  // and with the argument fetch after the prologue.
#define ORVANE_VM_CALL_PROLOGUE_FORMS(N)                                                              \
  form_Call##N##_Prologue : ORVANE_VM_CALL_PROLOGUE(N, q[4], ORVANE_VM_DISPATCH()) goto form_Call##N; \
  form_Call##N##_Prologue_1 : ORVANE_VM_CALL_PROLOGUE(N, 1u, ORVANE_VM_DISPATCH()) goto form_Call##N; \
  form_Call##N##_Prologue_2 : ORVANE_VM_CALL_PROLOGUE(N, 2u, ORVANE_VM_DISPATCH()) goto form_Call##N; \
  form_Call##N##_Prologue_3 : ORVANE_VM_CALL_PROLOGUE(N, 3u, ORVANE_VM_DISPATCH()) goto form_Call##N; \
  form_Call##N##_Prologue_4 : ORVANE_VM_CALL_PROLOGUE(N, 4u, ORVANE_VM_DISPATCH()) goto form_Call##N;
#define ORVANE_VM_CALL_ARG_FORMS(N)                                                                      \
  form_Call##N##_Prologue_1_Arg : ORVANE_VM_CALL_PROLOGUE(N, 1u, ORVANE_VM_ARG_FETCH) goto form_Call##N; \
  form_Call##N##_Prologue_2_Arg : ORVANE_VM_CALL_PROLOGUE(N, 2u, ORVANE_VM_ARG_FETCH) goto form_Call##N; \
  form_Call##N##_Prologue_3_Arg : ORVANE_VM_CALL_PROLOGUE(N, 3u, ORVANE_VM_ARG_FETCH) goto form_Call##N; \
  form_Call##N##_Prologue_4_Arg : ORVANE_VM_CALL_PROLOGUE(N, 4u, ORVANE_VM_ARG_FETCH) goto form_Call##N;
  ORVANE_VM_CALL_PROLOGUE_FORMS(0)
  ORVANE_VM_CALL_PROLOGUE_FORMS(1)
  ORVANE_VM_CALL_PROLOGUE_FORMS(2)
  ORVANE_VM_CALL_PROLOGUE_FORMS(3)
  ORVANE_VM_CALL_ARG_FORMS(1)
  ORVANE_VM_CALL_ARG_FORMS(2)
  ORVANE_VM_CALL_ARG_FORMS(3)
form_Call0:
  ORVANE_VM_CALL_CHAIN(0)
  ORVANE_VM_PUSH_WORD
  ORVANE_VM_THEN
  ORVANE_VM_CALL
  ORVANE_VM_NEXT_LIKELY(Prologue);
form_Call1:
  ORVANE_VM_CALL_CHAIN(1)
  ORVANE_VM_PUSH_REF
  ORVANE_VM_THEN
  ORVANE_VM_PUSH_WORD
  ORVANE_VM_THEN
  ORVANE_VM_CALL
  ORVANE_VM_NEXT_LIKELY(Prologue);
form_Call2:
  ORVANE_VM_CALL_CHAIN(2)
  ORVANE_VM_PUSH_REF
  ORVANE_VM_THEN
  ORVANE_VM_PUSH_REF
  ORVANE_VM_THEN
  ORVANE_VM_PUSH_WORD
  ORVANE_VM_THEN
  ORVANE_VM_CALL
  ORVANE_VM_NEXT_LIKELY(Prologue);
form_Call3:
  ORVANE_VM_CALL_CHAIN(3)
  ORVANE_VM_PUSH_REF
  ORVANE_VM_THEN
  ORVANE_VM_PUSH_REF
  ORVANE_VM_THEN
  ORVANE_VM_PUSH_REF
  ORVANE_VM_THEN
  ORVANE_VM_PUSH_WORD
  ORVANE_VM_THEN
  ORVANE_VM_CALL
  ORVANE_VM_NEXT_LIKELY(Prologue);

// Everything else: the instruction's handler.
form_Slow:
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
  pinned = !pins_.empty();
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

#undef ORVANE_VM_CALL_ARG_FORMS
#undef ORVANE_VM_ARG_FETCH
#undef ORVANE_VM_CALL_PROLOGUE_FORMS
#undef ORVANE_VM_CALL_PROLOGUE
#undef ORVANE_VM_EPILOGUE
#undef ORVANE_VM_CALL_CHAIN
#undef ORVANE_VM_CALL_WORDS
#undef ORVANE_VM_THEN_DROP
#undef ORVANE_VM_THEN
#undef ORVANE_VM_SET_LINE
#undef ORVANE_VM_SET_FILE
#undef ORVANE_VM_LEAVE
#undef ORVANE_VM_ENTER
#undef ORVANE_VM_RETURN
#undef ORVANE_VM_CALL
#undef ORVANE_VM_DROP
#undef ORVANE_VM_ADD_BASE
#undef ORVANE_VM_POP_BASE
#undef ORVANE_VM_PUSH_BASE
#undef ORVANE_VM_PUSH_WORD
#undef ORVANE_VM_PUSH_REF
#undef ORVANE_VM_JUMP_IF
#undef ORVANE_VM_SET_INT
#undef ORVANE_VM_BINARY_THEN_CONST
#undef ORVANE_VM_THEN_JUMP
#undef ORVANE_VM_MOVE
#undef ORVANE_VM_COMPARE_FORM
#undef ORVANE_VM_COMPARE_BODY
#undef ORVANE_VM_STEP_COMPARE_FORM
#undef ORVANE_VM_STEP_COMPARE_SAME
#undef ORVANE_VM_STEP_COMPARE
#undef ORVANE_VM_INT_FORM
#undef ORVANE_VM_THEN_JNZ
#undef ORVANE_VM_THEN_JZ
#undef ORVANE_VM_THEN_JUMP_IF
#undef ORVANE_VM_THEN_TO
#undef ORVANE_VM_ALONE
#undef ORVANE_VM_ASSIGN_CONST
#undef ORVANE_VM_ASSIGN
#undef ORVANE_VM_COMPARE
#undef ORVANE_VM_BINARY
#undef ORVANE_VM_NEXT_LIKELY
#undef ORVANE_VM_DISPATCH_LIKELY
#undef ORVANE_VM_NEXT
#undef ORVANE_VM_FORM
#undef ORVANE_VM_ANY_INT
#undef ORVANE_VM_SLOT_INT
#undef ORVANE_VM_REF_INT
#undef ORVANE_VM_REF
#undef ORVANE_VM_ANY
#undef ORVANE_VM_SLOT
#undef ORVANE_VM_DISPATCH
}

#undef ORVANE_VM_ALL_FORMS
#undef ORVANE_VM_SIZED_FORMS
#undef ORVANE_VM_REF_FORMS
#undef ORVANE_VM_STEP_FORMS
#undef ORVANE_VM_FORMS
#undef ORVANE_VM_COMPARES
#undef ORVANE_VM_INT_FORMS
