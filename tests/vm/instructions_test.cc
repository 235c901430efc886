// Tests of the stack, frame, call and control-flow instructions, and of damaged code.
#include "vm/instructions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vm/vm_fixture.h"

namespace {

using meiasm::Label;
using meiasm::Operand;

class InstructionTest : public VmFixture {};

// fact(6) by recursion: each call opens a frame of one slot above its caller's and keeps its own n
// there across the inner call.
TEST_F(InstructionTest, CallsFramesAndReturns) {
  meiasm::Builder p;
  p.Globals(3);
  p.OpAddBase(-2);  // frame base = G
  p.OpSetInt(G(0), 6);
  p.OpCall(0, Label{"fact"});
  p.OpHalt();
  p.Bind("fact");
  p.OpPushBase();
  p.OpPushWord(1);  // the caller's frame size
  p.OpAddBase(-1);
  p.OpDrop(1);
  p.OpEnter(1);
  p.OpMove(L(0), G(0));
  p.OpSubConstInt(G(0), 1);
  p.OpJumpIfZero(G(0), Label{"one"});
  p.OpCall(0, Label{"fact"});
  p.OpMulAssign(G(1), L(0));
  p.OpJump(Label{"out"});
  p.Bind("one");
  p.OpSetInt(G(1), 1);
  p.Bind("out");
  p.OpLeave(1);
  p.OpPopBase();
  p.OpReturn();
  Run(p);
  EXPECT_EQ(Show(Slot(1)), "i:720");
  EXPECT_EQ(ctx->frame_base(), 3u);
  EXPECT_EQ(ctx->stack_top(), 2u);  // balanced: [G, R] again
  EXPECT_TRUE(errors.empty());
}

// The most globals an image may ask for still leave the slot table room for frames.
TEST_F(InstructionTest, MostGlobalsStillLeaveRoomForFrames) {
  meiasm::Builder prog;
  prog.Globals(kScriptImageMaxGlobals);
  prog.OpAddBase(-2);  // frame base = G
  prog.OpEnter(64);
  prog.OpSetInt(L(63), 5);
  prog.OpHalt();
  Run(prog);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(ctx->frame_base(), kScriptImageMaxGlobals);
  EXPECT_EQ(Show(Slot(kScriptImageMaxGlobals + 63)), "i:5");
}

TEST_F(InstructionTest, EntryConventionAndFrames) {
  meiasm::Builder prog;
  prog.Globals(3);
  prog.OpAddBase(-2);      // frame base = G = 3
  prog.OpEnter(4);         // slot top 7
  prog.OpSetInt(L(0), 5);  // slot 3
  prog.OpSetInt(L(3), 6);  // slot 6
  prog.OpClearLocals(3, 1);
  prog.OpSetTop(1000);  // beyond the frame, within the table: no growth
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(ctx->frame_base(), 3u);
  EXPECT_EQ(Show(Slot(3)), "i:5");
  EXPECT_EQ(Show(Slot(6)), "i:0");
  EXPECT_EQ(ctx->slot_top(), 1003u);
  EXPECT_EQ(ctx->slot_capacity(), 1027u);
  ASSERT_EQ(ctx->stack_top(), 2u);
  EXPECT_EQ(ctx->StackWord(0), 3u);                    // G
  EXPECT_EQ(ctx->StackWord(1), info->return_address);  // R
}

TEST_F(InstructionTest, ReturnAtTheEntryGoesToR) {
  meiasm::Builder prog;
  prog.Globals(1);
  prog.OpSetInt(G(0), 1);
  prog.OpReturn();         // pops R
  prog.OpSetInt(G(0), 2);  // skipped
  prog.ReturnTo("end");
  prog.Bind("end");
  prog.OpAddConstInt(G(0), 10);
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(0)), "i:11");
}

TEST_F(InstructionTest, ConditionalJumps) {
  struct Case {
    const char* value;
    bool zero;  // OpJumpIfZero jumps
  } cases[] = {{"i:0", true},   {"i:-1", false}, {"f:0.5", true}, {"f:1.5", false},
               {"s:abc", true}, {"s:7x", false}, {"img", true},   {"rec", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    for (VmOp op : {VmOp::OpJumpIfZero, VmOp::OpJumpIfNonZero}) {
      meiasm::Builder prog;
      prog.Globals(2);
      prog.Op(op, {G(0), Label{"taken"}});
      prog.OpSetInt(G(1), 1);
      prog.OpHalt();
      prog.Bind("taken");
      prog.OpSetInt(G(1), 2);
      prog.OpHalt();
      Load(prog);
      ASSERT_TRUE(ctx->Start(0));
      std::string v = c.value;
      if (v == "i:0") Slot(0).SetInt(0);
      if (v == "i:-1") Slot(0).SetInt(-1);
      if (v == "f:0.5") Slot(0).SetFloat(0.5f);
      if (v == "f:1.5") Slot(0).SetFloat(1.5f);
      if (v == "s:abc") Slot(0).SetString("abc");
      if (v == "s:7x") Slot(0).SetString("7x");
      if (v == "img") Slot(0).SetObject(NewTestObject(), kScriptImage, &ReleaseTestObject);
      if (v == "rec") Slot(0).GetMember("m");
      RunStarted();
      bool taken = Slot(1).int_value() == 2;
      EXPECT_EQ(taken, op == VmOp::OpJumpIfZero ? c.zero : !c.zero);
    }
  }
}

TEST_F(InstructionTest, PushRefForms) {
  meiasm::Builder prog;
  prog.Globals(4);
  prog.OpAddBase(-2);
  prog.OpEnter(6);                    // frame 4..9, slot top 10
  prog.OpPushRef(L(1));               // 0, 5
  prog.OpPushRef(L(1).At(2));         // 0, 7
  prog.OpPushRef(L(3).At(3));         // element 3 of the array at frame slot 3 = slot 10: error, 0, 0
  prog.OpPushRef(G(2).Member("m"));   // 1, address
  prog.OpPushRef(S(-1));              // the same address again
  prog.OpPushRef(S(-1).Member("n"));  // address of a member of the addressed value
  prog.OpPushRef(S(-1).At(1));        // positive index on an address: error, 0, 0
  prog.OpPushRef(S(-11));             // a slot pair: (0, 7) pushed again
  // With both a member and an index on a slot, the member wins and no index word is read: the
  // word after X is the name word.
  prog.OpPushRef(Operand::Raw({0x14, 2, prog.Intern("q")}));
  prog.OpHalt();
  Run(prog);
  ScriptValue* m = Slot(2).GetMember("m");
  ScriptValue* n = m->GetMember("n");
  ScriptValue* q = Slot(2).GetMember("q");
  std::vector<VmWord> pushed;
  for (uint32_t i = 2; i < ctx->stack_top(); ++i) pushed.push_back(ctx->StackWord(i));
  EXPECT_EQ(pushed, (std::vector<VmWord>{0, 5, 0, 7, 0, 0, 1, reinterpret_cast<uintptr_t>(m), 1,
                                         reinterpret_cast<uintptr_t>(m), 1, reinterpret_cast<uintptr_t>(n), 0,
                                         0, 0, 7, 1, reinterpret_cast<uintptr_t>(q)}));
  EXPECT_EQ(errors, (std::vector<uint32_t>{1, 1}));
}

TEST_F(InstructionTest, AddressOnTheStackKeepsItsRecordAlive) {
  meiasm::Builder prog;
  prog.Globals(2);
  prog.OpSetString(G(1).Member("x"), meiasm::Text{"member"});
  prog.OpPushRef(G(1).Member("x"));
  prog.OpSetInt(G(1), 0);                           // the record's last slot reference goes
  prog.OpAddConstString(S(-1), meiasm::Text{"!"});  // still a live value
  prog.OpMove(G(0), S(-1));
  prog.OpDrop(2);  // now the record is freed
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(0)), "s:member!");
  EXPECT_TRUE(errors.empty());
}

TEST_F(InstructionTest, BuiltinCallsGoThroughTheHook) {
  static std::vector<uint32_t> calls;
  calls.clear();
  meiasm::Builder prog;
  prog.OpCall(1, 7);
  prog.Word(kVmInstructionCount + 9);  // a built-in opcode met directly in the code
  prog.OpHalt();
  Load(prog);
  ctx->SetHook([](ScriptContext*, uint32_t n) {
    calls.push_back(n);
    return true;  // ignored: the run goes on
  });
  ASSERT_TRUE(ctx->Start(0));
  EXPECT_EQ(RunStarted(), 3);
  EXPECT_EQ(calls, (std::vector<uint32_t>{7, 9}));
}

// Damaged or runaway code ends the run with error 1 and never reads outside its arrays.
TEST_F(InstructionTest, FaultsEndTheRun) {
  struct Case {
    const char* what;
    std::function<void(meiasm::Builder&)> code;
  } cases[] = {
      {"jump past the code", [](meiasm::Builder& p) { p.OpJump(100000); }},
      {"call past the code", [](meiasm::Builder& p) { p.OpCall(0, 100000); }},
      {"conditional jump past the code", [](meiasm::Builder& p) { p.OpJumpIfZero(G(0), 100000); }},
      {"return to a pushed number",
       [](meiasm::Builder& p) {
         p.OpPushWord(100000);
         p.OpReturn();
       }},
      {"opcode 356", [](meiasm::Builder& p) { p.Word(356); }},
      {"opcode 0xFFFFFFFF", [](meiasm::Builder& p) { p.Word(0xFFFFFFFF); }},
      {"fields past the end",
       [](meiasm::Builder& p) { p.Word(static_cast<uint32_t>(VmOp::OpSetInt)).Word(0); }},
      {"string offset past the block",
       [](meiasm::Builder& p) {
         p.Op(VmOp::OpSetString, {G(0), int64_t{5000}});
       }},
      {"pop from an empty stack",
       [](meiasm::Builder& p) {
         p.OpDrop(2);
         p.OpPopBase();
       }},
      {"drop more than the stack", [](meiasm::Builder& p) { p.OpDrop(3); }},
      {"add base below the stack", [](meiasm::Builder& p) { p.OpAddBase(-3); }},
      {"add base at the top", [](meiasm::Builder& p) { p.OpAddBase(0); }},
      {"leave more than the slots", [](meiasm::Builder& p) { p.OpLeave(5); }},
      {"clear past the table", [](meiasm::Builder& p) { p.OpClearLocals(1000, 100); }},
      {"set top past the table", [](meiasm::Builder& p) { p.OpSetTop(5000); }},
      {"frame past the slot cap", [](meiasm::Builder& p) { p.OpEnter(0xFFFFFFFF); }},
      {"runaway recursion",
       [](meiasm::Builder& p) {
         p.Bind("again");
         p.OpEnter(1);
         p.OpCall(0, Label{"again"});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    meiasm::Builder prog;
    prog.Globals(1);
    c.code(prog);
    // Fields past the end must stay the last words of the code (R, an OpHalt, follows them).
    if (std::string(c.what) != "fields past the end") {
      prog.OpSetInt(G(0), 1);
      prog.OpHalt();
    }
    Run(prog);
    EXPECT_EQ(Show(Slot(0)), "i:0");
    EXPECT_EQ(errors, std::vector<uint32_t>{1});
  }
}

// The last instruction of the code runs as it would anywhere else; the next opcode then lies
// outside the code and the run ends with error 1.
TEST_F(InstructionTest, HotInstructionsThatEndTheCode) {
  struct Case {
    const char* what;
    std::function<void(meiasm::Builder&)> last;
    const char* g1;
  } cases[] = {
      {"add", [](meiasm::Builder& p) { p.OpAdd(G(1), G(0), G(0)); }, "i:14"},
      {"add-assign", [](meiasm::Builder& p) { p.OpAddAssign(G(1), G(0)); }, "i:10"},
      {"add a constant", [](meiasm::Builder& p) { p.OpAddConstInt(G(1), 5); }, "i:8"},
      {"move", [](meiasm::Builder& p) { p.OpMove(G(1), G(0)); }, "i:7"},
      {"set int", [](meiasm::Builder& p) { p.OpSetInt(G(1), 9); }, "i:9"},
      {"jump if zero, not taken", [](meiasm::Builder& p) { p.OpJumpIfZero(G(0), 0); }, "i:3"},
      {"push a word", [](meiasm::Builder& p) { p.OpPushWord(1); }, "i:3"},
      {"push the base", [](meiasm::Builder& p) { p.OpPushBase(); }, "i:3"},
      {"drop", [](meiasm::Builder& p) { p.OpDrop(1); }, "i:3"},
      {"open a frame at base 0", [](meiasm::Builder& p) { p.OpEnter(2); }, "i:0"},
      {"source line", [](meiasm::Builder& p) { p.Line(4); }, "i:3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    meiasm::Builder prog;
    prog.Globals(2);
    prog.OpJump(Label{"start"});
    prog.Bind("end");
    prog.OpHalt();
    prog.ReturnTo("end");
    prog.Bind("start");
    prog.OpSetInt(G(0), 7);
    prog.OpSetInt(G(1), 3);
    c.last(prog);
    EXPECT_EQ(Run(prog), 5);  // the fifth step meets the end of the code
    EXPECT_EQ(Show(Slot(1)), c.g1);
    EXPECT_EQ(errors, std::vector<uint32_t>{1});
  }
}

}  // namespace

namespace {

// Random code words, mostly small numbers and real opcodes, never make the machine read or write
// outside its arrays or run without end: every program stops within its step budget or faults.
TEST(InstructionFuzzTest, RandomCodeStaysInside) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int program = 0; program < 2000; ++program) {
    DRef<ScriptImageInfo> info;
    info.Alloc(1);
    for (int i = 0; i < 96; ++i) {
      uint32_t r = next();
      uint32_t word = r % 8 == 0 ? next() : r % 8 == 1 ? 0xFFFFFFFFu - next() % 8 : next() % 80;
      info->code.push_back(word);
    }
    info->SetData("x\0yz\0", 6);
    info->globals = next() % 4;
    info->return_address = next() % 96;
    ScriptContext* ctx = ScriptContext::Create(info, 16, &CallBuiltin, [](ScriptContext*, uint32_t) {});
    ASSERT_NE(ctx, nullptr);
    ASSERT_TRUE(ctx->Start(next() % 96));
    for (int step = 0; step < 5000 && !ctx->Step(); ++step) {
    }
    ScriptContext::Destroy(ctx);
  }
}

}  // namespace
