// The one instruction list of the script machine; the enum, names, field lists and dispatch table come from
// it.
#pragma once

#include <cstdint>

// Code is an array of u32 words; an instruction is its opcode word followed by its fields:
//
//   +--------+---------+---------+-----
//   | opcode | field 1 | field 2 | ...
//   +--------+---------+---------+-----
//
// Field kinds (one letter each in the `fields` string below, in the order they are read):
//   o  operand: mode word M, operand word X, then what M asks for:
//        bit 0 (1)    frame-relative slot (X + frame base; ignored with bit 1)
//        bit 1 (2)    stack reference: X is a signed offset from the stack top to a reference pair
//        bit 2 (4)    index word follows (added to the slot index)
//        bit 3 (8)    nested index operand follows (bit 2 wins)
//        bit 4 (0x10) name word follows: data offset of a member name
//        bit 5 (0x20) nested name operand follows (bit 4 wins)
//   w  i32 word, used unchanged
//   f  bits of an f32
//   s  byte offset of a NUL-terminated text in the string block
//   n  count, slot offset or source-file index (u32; OpAddBase reads it as signed)
//   a  code address (u32 words from the start of the code block)
//   m  mode word of OpCall (bit 0: t is a built-in number)
//   t  target of OpCall: code address or built-in number
//
// X(number, Name, field count, "fields", "what it does")
#define ORVANE_VM_OPCODES(X)                                              \
  X(0, OpPushBase, 0, "", "push the frame base")                          \
  X(1, OpPopBase, 0, "", "pop a word into the frame base")                \
  X(2, OpAddBase, 1, "n", "frame base += stack[top + n] (n signed)")      \
  X(3, OpDrop, 1, "n", "remove n words from the stack")                   \
  X(4, OpPushWord, 1, "w", "push w")                                      \
  X(5, OpPushRef, 1, "o", "push the reference pair (flag, ref) of x")     \
  X(6, OpHalt, 0, "", "end the task")                                     \
  X(7, OpCall, 2, "mt", "call built-in t (m bit 0) or the code at t")     \
  X(8, OpReturn, 0, "", "pop a word into the program counter")            \
  X(9, OpEnter, 1, "n", "open a frame of n slots")                        \
  X(10, OpSetTop, 1, "n", "slot top = frame base + n")                    \
  X(11, OpLeave, 1, "n", "close a frame of n slots")                      \
  X(12, OpJump, 1, "a", "jump to addr")                                   \
  X(13, OpJumpIfZero, 2, "oa", "jump to addr when x is 0")                \
  X(14, OpJumpIfNonZero, 2, "oa", "jump to addr when x is not 0")         \
  X(15, OpPlus, 2, "oo", "d = +s")                                        \
  X(16, OpNeg, 2, "oo", "d = -s")                                         \
  X(17, OpNot, 2, "oo", "d = !s")                                         \
  X(18, OpBitNot, 2, "oo", "d = ~s")                                      \
  X(19, OpMul, 3, "ooo", "d = a * b")                                     \
  X(20, OpDiv, 3, "ooo", "d = a / b")                                     \
  X(21, OpMod, 3, "ooo", "d = a % b")                                     \
  X(22, OpAdd, 3, "ooo", "d = a + b")                                     \
  X(23, OpSub, 3, "ooo", "d = a - b")                                     \
  X(24, OpShl, 3, "ooo", "d = a << b")                                    \
  X(25, OpShr, 3, "ooo", "d = a >> b (logical)")                          \
  X(26, OpLt, 3, "ooo", "d = a < b")                                      \
  X(27, OpGt, 3, "ooo", "d = a > b")                                      \
  X(28, OpLe, 3, "ooo", "d = a <= b")                                     \
  X(29, OpGe, 3, "ooo", "d = a >= b")                                     \
  X(30, OpEq, 3, "ooo", "d = a == b")                                     \
  X(31, OpNe, 3, "ooo", "d = a != b")                                     \
  X(32, OpAnd, 3, "ooo", "d = a & b")                                     \
  X(33, OpXor, 3, "ooo", "d = a ^ b")                                     \
  X(34, OpOr, 3, "ooo", "d = a | b")                                      \
  X(35, OpMove, 2, "oo", "d = s")                                         \
  X(36, OpMulAssign, 2, "oo", "d *= s")                                   \
  X(37, OpDivAssign, 2, "oo", "d /= s")                                   \
  X(38, OpModAssign, 2, "oo", "d %= s")                                   \
  X(39, OpAddAssign, 2, "oo", "d += s")                                   \
  X(40, OpSubAssign, 2, "oo", "d -= s")                                   \
  X(41, OpShlAssign, 2, "oo", "d <<= s")                                  \
  X(42, OpShrAssign, 2, "oo", "d >>= s")                                  \
  X(43, OpAndAssign, 2, "oo", "d &= s")                                   \
  X(44, OpXorAssign, 2, "oo", "d ^= s")                                   \
  X(45, OpOrAssign, 2, "oo", "d |= s")                                    \
  X(46, OpSetInt, 2, "ow", "d = int w")                                   \
  X(47, OpMulConstInt, 2, "ow", "d *= w")                                 \
  X(48, OpDivConstInt, 2, "ow", "d /= w")                                 \
  X(49, OpModConstInt, 2, "ow", "d %= w")                                 \
  X(50, OpAddConstInt, 2, "ow", "d += w")                                 \
  X(51, OpSubConstInt, 2, "ow", "d -= w")                                 \
  X(52, OpShlConstInt, 2, "ow", "d <<= w")                                \
  X(53, OpShrConstInt, 2, "ow", "d >>= w")                                \
  X(54, OpAndConstInt, 2, "ow", "d &= w")                                 \
  X(55, OpXorConstInt, 2, "ow", "d ^= w")                                 \
  X(56, OpOrConstInt, 2, "ow", "d |= w")                                  \
  X(57, OpSetFloat, 2, "of", "d = float f")                               \
  X(58, OpMulConstFloat, 2, "of", "d *= f")                               \
  X(59, OpDivConstFloat, 2, "of", "d /= f")                               \
  X(60, OpModConstFloat, 2, "of", "d %= f")                               \
  X(61, OpAddConstFloat, 2, "of", "d += f")                               \
  X(62, OpSubConstFloat, 2, "of", "d -= f")                               \
  X(63, OpSetString, 2, "os", "d = string constant")                      \
  X(64, OpMulConstString, 2, "os", "d *= string constant")                \
  X(65, OpDivConstString, 2, "os", "d /= string constant")                \
  X(66, OpModConstString, 2, "os", "d %= string constant")                \
  X(67, OpAddConstString, 2, "os", "d += string constant")                \
  X(68, OpSubConstString, 2, "os", "d -= string constant")                \
  X(69, OpClearLocals, 2, "nn", "clear n slots of the frame from slot a") \
  X(70, OpSetFile, 1, "n", "source file index = i")                       \
  X(71, OpSetLine, 1, "n", "source line = n")

// Opcode numbers 0-71, scoped so that handler functions may carry the instruction names themselves.
enum class VmOp : uint32_t {
#define ORVANE_VM_OPCODE_ENUM(num, name, count, fields, doc) name = num,
  ORVANE_VM_OPCODES(ORVANE_VM_OPCODE_ENUM)
#undef ORVANE_VM_OPCODE_ENUM
};

// Table sizes: 72 instructions, then the 284 built-ins (entry 72 + n is built-in n).
inline constexpr uint32_t kVmInstructionCount = 72;
inline constexpr uint32_t kVmBuiltinCount = 284;
inline constexpr uint32_t kVmDispatchTableSize = kVmInstructionCount + kVmBuiltinCount;  // 356

// Operand mode bits (field kind 'o').
inline constexpr uint32_t kVmModeFrame = 0x01;
inline constexpr uint32_t kVmModeStackRef = 0x02;
inline constexpr uint32_t kVmModeIndexWord = 0x04;
inline constexpr uint32_t kVmModeIndexOperand = 0x08;
inline constexpr uint32_t kVmModeNameWord = 0x10;
inline constexpr uint32_t kVmModeNameOperand = 0x20;

// Bit 0 of OpCall's mode word: the target is a built-in number.
inline constexpr uint32_t kVmCallBuiltin = 0x01;

// The texts are held in place rather than pointed to: a table of pointers would be adjusted by the
// loader at every start, a written page of the program.
struct VmOpInfo {
  char name[20];   // "OpPushBase" ...
  uint32_t count;  // number of fields
  char fields[8];  // field kinds, one letter each (see above)
  char doc[48];    // one-line effect
};

// Indexed by opcode.
inline constexpr VmOpInfo kVmOpInfo[kVmInstructionCount] = {
#define ORVANE_VM_OPCODE_INFO(num, name, count, fields, doc) {#name, count, fields, doc},
    ORVANE_VM_OPCODES(ORVANE_VM_OPCODE_INFO)
#undef ORVANE_VM_OPCODE_INFO
};

// The list must be complete, in order, and each field count must match its field kinds.
#define ORVANE_VM_OPCODE_CHECK(num_, name_, count_, fields_, doc_)                             \
  static_assert(kVmOpInfo[num_].count == sizeof(fields_) - 1 && count_ == sizeof(fields_) - 1, \
                #name_ ": field count");                                                       \
  static_assert(static_cast<uint32_t>(VmOp::name_) == num_, #name_ ": order");
ORVANE_VM_OPCODES(ORVANE_VM_OPCODE_CHECK)
#undef ORVANE_VM_OPCODE_CHECK
