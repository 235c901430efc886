// Tests of the instruction loop's decoded forms against the instructions' handlers: each program
// runs in the loop in chunks of instructions, and beside it in a second context whose instructions
// are each given to the handler directly; both must leave the same state after every chunk.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/vm/vm_fixture.h"

namespace {

using meiasm::Label;
using meiasm::Operand;
using meiasm::Text;

// fib(n, result) in the calling convention: reference pairs below the caller's frame size word.
void Fib(meiasm::Builder& b) {
  b.Bind("fib");
  b.OpPushBase();
  b.OpAddBase(-3);
  b.OpEnter(3);
  b.OpMove(L(0), S(-4));
  b.OpLt(L(1), L(0), G(0));
  b.OpJumpIfZero(L(1), Label{"rec"});
  b.OpMove(S(-6), L(0));
  b.OpJump(Label{"out"});
  b.Bind("rec");
  b.OpSub(L(2), L(0), G(0));
  b.OpAddConstInt(L(2), 1);
  b.OpPushRef(L(1));
  b.OpPushRef(L(2));
  b.OpPushWord(3);
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpSub(L(2), L(0), G(0));
  b.OpPushRef(L(2));
  b.OpPushRef(L(2));
  b.OpPushWord(3);
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpAdd(S(-6), L(1), L(2));
  b.Bind("out");
  b.OpLeave(3);
  b.OpPopBase();
  b.OpReturn();
}

struct Program {
  const char* name;
  std::function<void(meiasm::Builder&)> build;
};

const std::vector<Program>& Programs() {
  static const std::vector<Program> programs = {
      {"integer rules on globals and frame slots",
       [](meiasm::Builder& b) {
         b.Globals(8);
         b.OpAddBase(-2);
         b.OpEnter(4);
         b.OpSetInt(G(0), INT32_MIN);
         b.OpSetInt(L(0), -1);
         b.OpSetInt(G(1), 37);
         b.OpSetInt(L(1), 0);
         const auto all = [&](Operand d, Operand a, Operand c) {
           b.OpMul(d, a, c).OpDiv(d, a, c).OpMod(d, a, c).OpAdd(d, a, c).OpSub(d, a, c);
           b.OpShl(d, a, c).OpShr(d, a, c).OpAnd(d, a, c).OpXor(d, a, c).OpOr(d, a, c);
           b.OpLt(d, a, c).OpGt(d, a, c).OpLe(d, a, c).OpGe(d, a, c).OpEq(d, a, c).OpNe(d, a, c);
           b.OpMove(G(7), d);
         };
         all(G(2), G(0), L(0));  // INT32_MIN / -1 and % -1
         all(L(2), G(1), L(1));  // by zero
         all(L(3), L(0), G(1));
         b.OpMove(G(3), G(1));
         const auto assign = [&](Operand d, Operand s) {
           b.OpMulAssign(d, s).OpAddAssign(d, s).OpSubAssign(d, s).OpShlAssign(d, s).OpShrAssign(d, s);
           b.OpDivAssign(d, s).OpModAssign(d, s).OpAndAssign(d, s).OpXorAssign(d, s).OpOrAssign(d, s);
         };
         assign(G(3), L(0));
         assign(L(3), G(1));
         assign(G(4), L(1));
         b.OpSetInt(G(5), 1234567);
         b.OpMulConstInt(G(5), 3).OpAddConstInt(G(5), -7).OpSubConstInt(G(5), 99).OpShlConstInt(G(5), 35);
         b.OpShrConstInt(G(5), 2).OpDivConstInt(G(5), 0).OpModConstInt(L(3), -1).OpAndConstInt(G(5), 0xFF0);
         b.OpXorConstInt(G(5), 0x5A5A)
             .OpOrConstInt(L(2), 0x100)
             .OpDivConstInt(L(2), 7)
             .OpModConstInt(G(5), 10);
         b.OpHalt();
       }},
      {"counting loops on every comparison and jump",
       [](meiasm::Builder& b) {
         b.Globals(6);
         b.OpAddBase(-2);
         b.OpEnter(2);
         // Each loop twice: with a body between the step and the test, and with the step right
         // before the test (the three run as one form).
         const auto loop = [&](const std::string& name, auto compare, bool jump_if_nonzero) {
           for (const bool body : {true, false}) {
             const std::string label = name + (body ? "" : "-step");
             b.OpSetInt(L(0), 0);
             b.Bind(label);
             if (!body) b.OpAddAssign(G(5), L(0));
             b.OpAddConstInt(L(0), 1);
             if (body) b.OpAddAssign(G(5), L(0));
             (b.*compare)(L(1), L(0), G(0));
             if (jump_if_nonzero) {
               b.OpJumpIfNonZero(L(1), Label{label});
             } else {
               b.OpJumpIfZero(L(1), Label{label});
             }
           }
         };
         b.OpSetInt(G(0), 9);
         loop("lt", &meiasm::Builder::OpLt<Operand, Operand, Operand>, true);
         loop("le", &meiasm::Builder::OpLe<Operand, Operand, Operand>, true);
         loop("ne", &meiasm::Builder::OpNe<Operand, Operand, Operand>, true);
         loop("ge", &meiasm::Builder::OpGe<Operand, Operand, Operand>, false);
         loop("gt", &meiasm::Builder::OpGt<Operand, Operand, Operand>, false);
         loop("eq", &meiasm::Builder::OpEq<Operand, Operand, Operand>, false);
         // A comparison whose next jump tests another slot is no pair.
         b.OpSetInt(G(1), 0);
         b.Bind("other");
         b.OpAddConstInt(G(1), 1);
         b.OpLt(G(2), G(1), G(0));
         b.OpGe(G(3), G(1), G(0));
         b.OpJumpIfZero(G(3), Label{"other"});
         // A step and its test whose result slot holds a string at first, then one whose test
         // meets a float (the handler runs the comparison after the step).
         b.OpSetInt(G(4), 0);
         b.OpSetString(G(2), Text{"s"});
         b.Bind("step");
         b.OpAddConstInt(G(4), 2);
         b.OpLe(G(2), G(4), G(0));
         b.OpJumpIfNonZero(G(2), Label{"step"});
         b.OpSetFloat(G(0), 2.5f);
         b.Bind("float-step");
         b.OpAddConstInt(G(4), -1);
         b.OpGt(G(3), G(4), G(0));
         b.OpJumpIfNonZero(G(3), Label{"float-step"});
         b.OpHalt();
       }},
      {"recursive calls through frames and stack references",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpAddBase(-2);
         b.OpSetInt(G(0), 2);
         b.OpEnter(1);
         b.OpSetInt(L(0), 9);
         b.OpPushRef(L(0));
         b.OpPushRef(L(0));
         b.OpPushWord(1);
         b.OpCall(0, Label{"fib"});
         b.OpDrop(5);
         b.OpMove(G(1), L(0));
         // One and three arguments, and none.
         b.OpPushRef(G(1));
         b.OpPushWord(1);
         b.OpCall(0, Label{"one"});
         b.OpDrop(3);
         b.OpPushRef(G(0));
         b.OpPushRef(G(1));
         b.OpPushRef(L(0));
         b.OpPushWord(1);
         b.OpCall(0, Label{"three"});
         b.OpDrop(7);
         b.OpPushWord(1);
         b.OpCall(0, Label{"none"});
         b.OpDrop(1);
         b.OpHalt();
         Fib(b);
         b.Bind("one");
         b.OpAddConstInt(S(-3), 100);
         b.OpReturn();
         b.Bind("three");
         b.OpPushBase();
         b.OpAddBase(-3);
         b.OpEnter(1);
         b.OpAdd(L(0), S(-4), S(-6));
         b.OpMulAssign(S(-8), L(0));
         b.OpLeave(1);
         b.OpPopBase();
         b.OpReturn();
         b.Bind("none");
         b.OpSetLine(12);
         b.OpSetFile(0);
         b.OpReturn();
       }},
      {"slots that stop holding ints",
       [](meiasm::Builder& b) {
         b.Globals(6);
         b.OpAddBase(-2);
         b.OpEnter(2);
         b.OpSetInt(G(0), 0);
         b.OpSetInt(G(1), 5);
         b.Bind("loop");
         // The same addresses meet an int first, then a string and a float.
         b.OpAddConstInt(G(0), 1);
         b.OpAdd(G(2), G(0), G(1));
         b.OpAddAssign(G(3), G(2));
         b.OpMove(L(0), G(3));
         b.OpLt(L(1), G(0), G(1));
         b.OpJumpIfZero(L(1), Label{"done"});
         b.OpEq(G(4), G(0), G(1));
         b.OpJumpIfNonZero(G(0), Label{"mix"});
         b.Bind("mix");
         b.OpJumpIfZero(G(4), Label{"more"});
         b.Bind("more");
         b.OpSetString(G(3), Text{"12ab"});
         b.OpGe(G(5), G(0), G(1));
         b.OpJumpIfZero(G(5), Label{"float"});
         b.OpJump(Label{"loop"});
         b.Bind("float");
         b.OpSetFloat(G(2), 2.5f);
         b.OpSubConstInt(G(2), 1);
         b.OpMove(G(1), G(2));
         b.OpSetInt(G(1), 5);
         b.OpSetString(L(0), Text{"x"});
         b.OpLe(L(1), G(0), G(1));
         b.OpJumpIfNonZero(L(1), Label{"loop"});
         b.Bind("done");
         // Leave and Enter over a frame that holds a string.
         b.OpLeave(2);
         b.OpEnter(2);
         b.OpHalt();
       }},
      {"stack references named by the instruction, and instructions run with the next one",
       [](meiasm::Builder& b) {
         b.Globals(8);
         b.OpSetInt(G(0), INT32_MIN);
         b.OpSetInt(G(1), -1);
         // The body reads and writes through the pair below its return address; each call reaches
         // the same addresses with another pair.
         const auto call = [&](const std::function<void()>& push, uint32_t words = 2) {
           push();
           b.OpCall(0, Label{"body"});
           b.OpDrop(words);
         };
         call([&] { b.OpPushRef(G(2)); });  // a slot holding an int
         b.OpSetInt(G(1), 0);
         call([&] { b.OpPushRef(G(2)); });  // by zero
         b.OpSetInt(G(1), 3);
         b.OpSetString(G(2), Text{"12ab"});
         call([&] { b.OpPushRef(G(2)); });  // a slot holding a string
         b.OpSetFloat(G(1), 2.5f);
         call([&] { b.OpPushRef(G(2)); });  // a source that is no int
         b.OpSetInt(G(1), 3);
         call([&] { b.OpPushRef(G(5).Member("x")); });  // the address of a member
         b.OpMove(G(6), G(5).Member("x"));
         call([&] { b.OpPushWord(1).OpPushWord(2); });            // tagged as an address that is none
         call([&] { b.OpPushWord(0).OpPushWord(kVmMaxSlots); });  // a slot past the capacity
         call([&] { b.OpPushWord(7); }, 1);                       // one word: the pair starts below the stack
         call([] {}, 0);                                          // none
         // d = a + b or d = a - b, then d += w or d -= w.
         b.OpAdd(G(3), G(0), G(1)).OpSubConstInt(G(3), 5);
         b.OpSub(G(3), G(0), G(1)).OpAddConstInt(G(3), INT32_MAX);
         b.OpAdd(G(3), G(1), G(1)).OpAddConstInt(G(3), -3);
         b.OpSub(G(3), G(0), G(1)).OpSubConstInt(G(3), 1);
         b.OpSub(G(3), G(0), G(1)).OpAddConstInt(G(4), 1);  // another operand: no pair
         b.OpSetString(G(6), Text{"x"});
         b.OpAdd(G(6), G(1), G(1)).OpAddConstInt(G(6), 1);  // a string replaced
         b.OpSetFloat(G(7), 1.5f);
         b.OpSub(G(6), G(7), G(1)).OpSubConstInt(G(6), 1);  // a float source
         b.OpMove(G(4), G(1));
         b.OpJump(Label{"on"});
         b.OpHalt();
         b.Bind("on");
         b.OpMove(G(4), G(7));  // not an int
         b.OpJump(Label{"end"});
         b.OpHalt();
         b.Bind("end");
         b.OpMove(G(4), G(0));
         b.OpJump(0xFFFFFFF0u);  // outside the code
         b.OpHalt();

         b.Bind("body");
         b.OpMove(G(3), S(-2));
         b.OpMul(S(-2), G(0), G(1)).OpDiv(S(-2), G(0), G(1)).OpMod(S(-2), G(0), G(1));
         b.OpAdd(S(-2), G(0), G(1)).OpSub(S(-2), G(0), G(1)).OpShl(S(-2), G(1), G(1));
         b.OpShr(S(-2), G(0), G(1)).OpAnd(S(-2), G(0), G(1)).OpXor(S(-2), G(0), G(1));
         b.OpOr(S(-2), G(0), G(1));
         b.OpMove(G(4), S(-2));
         b.OpMove(G(4), S(-3));  // with no pair pushed, it would begin at the stack's first word
         b.OpMove(S(0), G(1));   // at the top: never a pair
         b.OpMove(S(-2), G(1));
         b.OpJump(Label{"ret"});
         b.OpHalt();
         b.Bind("ret");
         b.OpReturn();
       }},
      {"a frame slot outside the table",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpSetInt(G(0), 3);
         b.OpAddConstInt(L(kVmMaxSlots), 1);
         b.OpAdd(G(1), G(0), L(kVmMaxSlots));
         b.OpHalt();
       }},
      {"a stack reference outside the stack",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpSetInt(G(0), 3);
         b.OpMove(G(1), S(-100));
         b.OpAdd(G(1), S(1), G(0));
         b.OpHalt();
       }},
      {"a return to an address outside the code",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpPushWord(0xFFFFFFF0u);
         b.OpReturn();
         b.OpHalt();
       }},
      {"a frame base from below the stack",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpAddBase(-3);
         b.OpHalt();
       }},
      {"a drop of more words than the stack holds",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpDrop(3);
         b.OpHalt();
       }},
      {"a frame closed past the slot top",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpLeave(50);
         b.OpHalt();
       }},
      {"a frame base popped from an empty stack",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpDrop(2);
         b.OpPopBase();
         b.OpHalt();
       }},
  };
  return programs;
}

// Everything a run leaves that a script or a host can see.
std::string State(ScriptContext* ctx, bool end) {
  std::string s = "pc " + std::to_string(ctx->pc()) + " fb " + std::to_string(ctx->frame_base()) + " top " +
                  std::to_string(ctx->slot_top()) + (end ? " end" : "") + " stack";
  // An address pushed by a reference differs between two runs; code only pushes 32-bit words.
  for (uint32_t i = 0; i < ctx->stack_top(); ++i) {
    const VmWord w = ctx->StackWord(i);
    s += w > UINT32_MAX ? std::string(" addr") : " " + std::to_string(w);
  }
  s += " slots";
  const uint32_t slots = std::min<uint32_t>(std::max(ctx->slot_top(), ctx->globals()), ctx->slot_capacity());
  for (uint32_t i = 0; i < slots; ++i) s += " " + Show(*ctx->SlotOrNull(i));
  return s;
}

class MachineTest : public VmFixture {
 protected:
  static std::string Errors() {
    std::string s = "errors";
    for (uint32_t e : errors) s += " " + std::to_string(e);
    return s;
  }

  // Runs the program from address 0 in chunks of `chunk` instructions; gives the state after each.
  std::vector<std::string> Trace(const Program& p, uint32_t chunk) {
    meiasm::Builder b;
    p.build(b);
    Load(b);
    errors.clear();
    std::vector<std::string> states;
    if (!ctx || !ctx->Start(0)) return states;
    uint32_t flags = 0;
    for (int turn = 0; turn < 100000; ++turn) {
      bool end = false;
      const uint32_t ran = ctx->StepMany(chunk, &flags, kVmRunEnd, &end);
      states.push_back("ran " + std::to_string(ran) + " " + State(ctx, end) + " " + Errors());
      if (end) return states;
    }
    ADD_FAILURE() << p.name << ": did not end";
    return states;
  }

  // The same with every instruction given to its handler, as the loop's slow path gives it.
  std::vector<std::string> HandlerTrace(const Program& p, uint32_t chunk) {
    meiasm::Builder b;
    p.build(b);
    Load(b);
    errors.clear();
    std::vector<std::string> states;
    if (!ctx || !ctx->Start(0)) return states;
    const std::vector<uint32_t>& code = ctx->image().code;
    for (int turn = 0; turn < 100000; ++turn) {
      bool end = false;
      uint32_t ran = 0;
      while (ran < chunk && !end) {
        const uint32_t pc = ctx->pc();
        // The programs never end in the middle of an instruction.
        if (pc + 1 >= code.size() || code[pc] >= kVmInstructionCount) {
          ADD_FAILURE() << p.name << ": no instruction at " << pc;
          return states;
        }
        ctx->JumpTo(pc + 1);
        end = VmDispatchTable[code[pc]](ctx) || ctx->faulted();
        ++ran;
      }
      states.push_back("ran " + std::to_string(ran) + " " + State(ctx, end) + " " + Errors());
      if (end) return states;
    }
    ADD_FAILURE() << p.name << ": did not end";
    return states;
  }
};

TEST_F(MachineTest, FormsLeaveWhatTheHandlersLeave) {
  for (const Program& p : Programs()) {
    for (uint32_t chunk : {1u, 2u, 3u, 4u, 5u, 7u, 100u}) {
      const std::vector<std::string> expected = HandlerTrace(p, chunk);
      const std::vector<std::string> got = Trace(p, chunk);
      ASSERT_FALSE(expected.empty()) << p.name;
      ASSERT_EQ(got.size(), expected.size()) << p.name << ", chunks of " << chunk;
      for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], expected[i]) << p.name << ", chunks of " << chunk << ", chunk " << i;
      }
    }
  }
}

// The end state of the table's programs, so that both builds agreeing is not both being wrong.
TEST_F(MachineTest, ProgramsComputeTheirResults) {
  const std::vector<Program>& programs = Programs();
  ASSERT_FALSE(Trace(programs[2], 100).empty());
  EXPECT_EQ(Show(Slot(1)), "i:134");  // fib(9) = 34, then + 100
  EXPECT_EQ(Show(Slot(0)), "i:336");  // 2 * (34 + 134)
  EXPECT_TRUE(errors.empty());

  std::vector<std::string> faults;
  for (size_t i = 5; i < programs.size(); ++i) {
    const std::vector<std::string> trace = Trace(programs[i], 100);
    ASSERT_FALSE(trace.empty());
    faults.push_back(trace.back().substr(trace.back().find("errors")));
  }
  EXPECT_EQ(faults, (std::vector<std::string>{"errors 1 1", "errors 1 1", "errors 1", "errors 1", "errors 1",
                                              "errors 1", "errors 1"}));
}

// A jump into the middle of an instruction runs the words found there as an instruction, beside
// the instruction that holds them, in any order the runs reach the two addresses.
TEST_F(MachineTest, JumpIntoTheMiddleOfAnInstruction) {
  meiasm::Builder b;
  b.Globals(8);
  b.OpAddConstInt(G(0), static_cast<int64_t>(VmOp::OpAddConstInt));  // its last word starts G6 += 3
  b.Word(0);                                                         // alone: OpPushBase; inside: mode 0
  b.Word(static_cast<uint32_t>(VmOp::OpHalt));                       // alone: OpHalt; inside: slot 6
  b.Word(3);                                                         // inside: the constant
  b.OpHalt();
  Load(b);
  const uint32_t inner = 3;
  for (uint32_t entry : {0u, inner, 0u, inner}) {
    ASSERT_TRUE(ctx->Start(entry));
    uint32_t flags = 0;
    bool end = false;
    ctx->StepMany(100, &flags, kVmRunEnd, &end);
    EXPECT_TRUE(end);
    if (entry == 0) {
      EXPECT_EQ(Show(Slot(0)), "i:50");
      EXPECT_EQ(ctx->stack_top(), 3u);  // [G, R] and the base
      EXPECT_EQ(ctx->pc(), 6u);
    } else {
      EXPECT_EQ(Show(Slot(6)), "i:3");
      EXPECT_EQ(Show(Slot(0)), "i:0");
      EXPECT_EQ(ctx->pc(), 8u);
    }
    ctx->Stop();
  }
  EXPECT_TRUE(errors.empty());
}

// A copy of an image record whose code is then changed runs its own code, not forms decoded from
// the original's.
TEST_F(MachineTest, ChangedCopyOfAnImageRunsItsOwnCode) {
  meiasm::Builder b;
  b.Globals(1);
  b.OpAddConstInt(G(0), 5);
  b.OpHalt();
  Load(b);
  ASSERT_TRUE(ctx->Start(0));
  RunStarted();
  EXPECT_EQ(Show(Slot(0)), "i:5");

  DRef<ScriptImageInfo> copy;
  copy.Alloc(1);
  *copy.Get() = *info.Get();
  copy->code[0] = static_cast<uint32_t>(VmOp::OpSubConstInt);
  ScriptContext* other = ScriptContext::Create(copy, 16, &CallBuiltin, &RecordError);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(other->Start(0));
  while (!other->Step()) {
  }
  EXPECT_EQ(Show(*other->SlotOrNull(0)), "i:-5");
  ScriptContext::Destroy(other);
}

}  // namespace
