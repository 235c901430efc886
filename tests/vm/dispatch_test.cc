// Tests of the dispatch table, a task's turn with its message pumps, the synchronous run and built-ins.
#include "vm/dispatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/vm/vm_fixture.h"
#include "vm/instructions.h"

namespace {

using meiasm::Label;

// Built-in numbers the tests install (and remove again).
constexpr uint32_t kYield = 20;
constexpr uint32_t kEnd = 21;
constexpr uint32_t kArgs = 22;
constexpr uint32_t kWantImage = 23;

class DispatchTest : public VmFixture {
 protected:
  static inline uint32_t* flags = nullptr;  // the run flags of the running "task"
  static inline int pumps = 0;

  DispatchTest() {
    pumps = 0;
    VmServices fake;
    fake.pump_messages = [] { ++pumps; };
    saved_ = SetVmServices(fake);
    SetVmBuiltin(kYield, [](ScriptContext*) {
      *flags |= kVmRunYield;
      return false;
    });
    SetVmBuiltin(kEnd, [](ScriptContext*) {
      *flags |= kVmRunEnd;
      return false;
    });
    // (a, b): result = a * 10 + b, and b's element 1 becomes 5.
    SetVmBuiltin(kArgs, [](ScriptContext* ctx) {
      int32_t a = ctx->GetArg(1)->ToInt();
      int32_t b = ctx->GetArg(2)->ToInt();
      ctx->SetArgElementInt(2, 1, 5);
      ctx->result()->SetInt(a * 10 + b);
      return true;
    });
    // (image): refuses any other kind with the image code, leaving the result alone.
    SetVmBuiltin(kWantImage, [](ScriptContext* ctx) {
      if (ctx->GetArg(1)->type() != kScriptImage) {
        ctx->RaiseError(kScriptImage + kScriptKindErrorBase);
        return false;
      }
      ctx->result()->SetInt(1);
      return false;
    });
  }
  ~DispatchTest() override {
    for (uint32_t n : {kYield, kEnd, kArgs, kWantImage}) SetVmBuiltin(n, nullptr);
    SetVmServices(saved_);
  }

  // A loop of `count` OpAddConstInt on global 0 with built-in `builtin` called as instruction `at`
  // (1-based), then OpHalt.
  void LoadCounting(int count, int at, uint32_t builtin) {
    meiasm::Builder prog;
    prog.Globals(1);
    for (int i = 1; i <= count; ++i) {
      if (i == at) {
        prog.OpCall(1, builtin);
      } else {
        prog.OpAddConstInt(G(0), 1);
      }
    }
    prog.OpHalt();
    Load(prog);
    ASSERT_TRUE(ctx->Start(0));
  }

  VmServices saved_;
};

TEST_F(DispatchTest, TableHoldsTheInstructionsThenTheBuiltins) {
  EXPECT_EQ(VmDispatchTable[static_cast<uint32_t>(VmOp::OpHalt)], &OpHalt);
  EXPECT_EQ(VmDispatchTable[static_cast<uint32_t>(VmOp::OpSetLine)], &OpSetLine);
  for (uint32_t i = kVmInstructionCount; i < kVmDispatchTableSize; ++i)
    EXPECT_NE(VmDispatchTable[i], nullptr);
  EXPECT_FALSE(SetVmBuiltin(kVmBuiltinCount, nullptr));
  static int ran = 0;
  SetVmBuiltin(0, [](ScriptContext*) {
    ++ran;
    return true;
  });
  LoadCounting(1, 0, 0);
  EXPECT_TRUE(CallBuiltin(ctx, 0));  // built-in 0 is entry 72
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(CallBuiltin(ctx, kVmBuiltinCount));
  EXPECT_EQ(errors, std::vector<uint32_t>{1});
  SetVmBuiltin(0, nullptr);
}

TEST_F(DispatchTest, TurnPumpsAfterEvery100thInstruction) {
  struct Case {
    const char* what;
    int count;  // instructions before OpHalt
    int at;     // where the built-in call sits (0: none)
    uint32_t builtin;
    int pumps;
    bool ends;
    int32_t counted;  // global 0 after the turn
  } cases[] = {
      {"ends at instruction 50", 49, 0, 0, 0, true, 49},
      {"yields at instruction 100", 150, 100, kYield, 1, false, 99},
      {"yields at instruction 101", 150, 101, kYield, 1, false, 100},
      {"end flag at instruction 250", 300, 250, kEnd, 2, true, 249},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoadCounting(c.count, c.at, c.builtin);
    pumps = 0;
    uint32_t run_flags = 0;
    flags = &run_flags;
    EXPECT_EQ(RunTaskTurn(ctx, run_flags), c.ends);
    EXPECT_EQ(run_flags, 0u);
    EXPECT_EQ(pumps, c.pumps);
    EXPECT_EQ(Slot(0).int_value(), c.counted);
  }
}

TEST_F(DispatchTest, NextTurnGoesOnAfterTheYield) {
  LoadCounting(10, 3, kYield);
  uint32_t run_flags = 0;
  flags = &run_flags;
  EXPECT_FALSE(RunTaskTurn(ctx, run_flags));
  EXPECT_EQ(Slot(0).int_value(), 2);
  EXPECT_TRUE(RunTaskTurn(ctx, run_flags));
  EXPECT_EQ(Slot(0).int_value(), 9);
}

TEST_F(DispatchTest, FlagsSetBeforeTheTurnRunNothing) {
  for (uint32_t preset : {kVmRunYield, kVmRunEnd}) {
    LoadCounting(5, 0, 0);
    uint32_t run_flags = preset;
    EXPECT_EQ(RunTaskTurn(ctx, run_flags), preset == kVmRunEnd);
    EXPECT_EQ(run_flags, 0u);
    EXPECT_EQ(ctx->pc(), 0u);
  }
}

TEST_F(DispatchTest, SyncRunIgnoresYieldAndPumpsEveryInstruction) {
  LoadCounting(10, 3, kYield);
  uint32_t run_flags = 0;
  flags = &run_flags;
  RunMethodSync(ctx, run_flags);
  EXPECT_EQ(Slot(0).int_value(), 9);
  EXPECT_EQ(run_flags, kVmRunYield);  // still set afterwards
  EXPECT_EQ(pumps, 10);               // every instruction but the ending OpHalt

  LoadCounting(10, 4, kEnd);
  run_flags = 0;
  RunMethodSync(ctx, run_flags);
  EXPECT_EQ(Slot(0).int_value(), 3);
}

TEST_F(DispatchTest, BuiltinCallingConvention) {
  meiasm::Builder prog;
  prog.Globals(1);
  prog.OpAddBase(-2);
  prog.OpEnter(4);
  prog.OpSetInt(L(0), 4);
  prog.OpSetInt(L(1), 2);
  prog.OpSetInt(G(0), 77);
  prog.OpPushRef(L(1));  // argument 2: an array starting at frame slot 1
  prog.OpPushRef(L(0));  // argument 1
  prog.OpPushWord(0);    // the word above the arguments
  prog.OpCall(1, kArgs);
  prog.OpDrop(5);
  prog.OpMove(L(3), G(0));
  prog.OpPushRef(L(0));
  prog.OpPushWord(0);
  prog.OpCall(1, kWantImage);  // an int is no image: error 500, result untouched
  prog.OpDrop(3);
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(4)), "i:42");
  EXPECT_EQ(Show(Slot(3)), "i:5");  // element 1 of argument 2
  EXPECT_EQ(Show(Slot(0)), "i:42");
  EXPECT_EQ(errors, std::vector<uint32_t>{500});
  EXPECT_EQ(ctx->stack_top(), 2u);
}

}  // namespace
