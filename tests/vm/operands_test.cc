// Tests of operand decoding: the encodings' worked examples, index and member rules, bad accesses.
#include "vm/operands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vm/vm_fixture.h"

namespace {

using meiasm::Operand;

class OperandTest : public VmFixture {
 protected:
  // A script with 8 globals whose frame starts at slot 8 with 10 slots (slot top 18); `setup` may
  // add instructions, then `target` is set to int 77 and the script halts.
  void RunTarget(const Operand& target, const std::function<void(meiasm::Builder&)>& setup = {}) {
    meiasm::Builder prog;
    prog.Globals(8);
    prog.OpAddBase(-2);
    prog.OpEnter(10);
    if (setup) setup(prog);
    prog.OpSetInt(target, 77);
    prog.OpHalt();
    Run(prog);
  }

  // Index of the one slot that holds 77, or -1.
  int SlotWith77() {
    int found = -1;
    for (uint32_t i = 0; i < ctx->slot_top(); ++i) {
      if (Slot(i).type() == kScriptInt && Slot(i).int_value() == 77) found = static_cast<int>(i);
    }
    return found;
  }
};

TEST_F(OperandTest, SlotEncodings) {
  struct Case {
    std::vector<uint32_t> words;
    int slot;    // slot that gets the value (0 also when the access fails)
    bool error;  // error 1 raised
  } cases[] = {
      {{0, 5}, 5, false},      // global slot 5
      {{1, 2}, 10, false},     // frame slot 2
      {{5, 3, 4}, 15, false},  // element 4 of a frame array at frame slot 3
      {{4, 10, static_cast<uint32_t>(-1)}, 9, false},
      {{4, 10, static_cast<uint32_t>(-11)}, 0, true},
      {{4, 10, 8}, 0, true},  // 18 is not below the slot top
      {{4, 10, 7}, 17, false},
      {{0x14, 3, 1}, 4, false},  // an indexed operand reads no name word
      {{0x0C, 3, 1}, 4, false},  // the index word wins: no nested index operand is read
      {{0, 5000000}, 0, true},   // outside the slot table
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    errors.clear();
    RunTarget(Operand::Raw(c.words));
    EXPECT_EQ(SlotWith77(), c.slot);
    EXPECT_EQ(errors, c.error ? std::vector<uint32_t>{1} : std::vector<uint32_t>{});
  }
}

TEST_F(OperandTest, NestedIndexOperand) {
  // Element i of the frame array at frame slot 3, i held in frame slot 7.
  RunTarget(Operand::Raw({9, 3, 1, 7}), [](meiasm::Builder& p) { p.OpSetFloat(L(7), 2.9f); });
  EXPECT_EQ(SlotWith77(), 8 + 3 + 2);
  EXPECT_TRUE(errors.empty());
}

TEST_F(OperandTest, MembersByNameWordAndNameOperand) {
  meiasm::Builder prog;
  prog.Globals(8);
  prog.OpAddBase(-2);
  prog.OpEnter(4);
  prog.OpSetString(L(2), meiasm::Text{"y"});
  prog.OpSetInt(L(3), 12);
  prog.OpSetInt(G(6).Member("x"), 1);
  prog.OpSetInt(G(6).Member("X"), 2);
  prog.OpSetInt(G(6).Member(L(2)), 3);  // member named by the string "y"
  prog.OpSetInt(G(6).Member(L(3)), 4);  // member named "12"
  prog.OpSetInt(G(6).Member(G(6)), 5);  // a record names the member "(error)"
  prog.OpSetFloat(L(1), 1.5f);
  prog.OpSetInt(G(6).Member(L(1)), 6);  // a float names the member by its 7-digit text
  prog.OpAddConstInt(G(6).Member("x"), 10);
  // The name word wins over the name operand, which is not read.
  prog.OpAddConstInt(Operand::Raw({0x30, 6, prog.Intern("x")}), 100);
  prog.OpHalt();
  Run(prog);
  auto* record = static_cast<ScriptRecord*>(Slot(6).handle()->ref.Get());
  std::vector<std::string> names;
  for (size_t i = 0; i < record->size(); ++i) {
    names.push_back(std::string(record->member(i).name.get()) + "=" + Show(record->member(i).value));
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"x=i:111", "X=i:2", "y=i:3", "12=i:4", "(error)=i:5", "1.5=i:6"}));
}

TEST_F(OperandTest, StackReferences) {
  meiasm::Builder prog;
  prog.Globals(8);
  prog.OpAddBase(-2);
  prog.OpEnter(4);
  prog.OpPushRef(G(5));      // pair (0, 5)
  prog.OpSetInt(S(-1), 50);  // slot 5 through the pair
  prog.OpPushRef(L(1));      // pair (0, 9): the frame base is already added
  prog.OpSetInt(Operand::Raw({3, static_cast<uint32_t>(-1)}), 90);  // frame bit ignored on a stack reference
  prog.OpPushRef(G(6).Member("x"));                                 // pair (1, address of the member)
  prog.OpSetInt(S(-1), 60);
  prog.OpSetInt(S(-1).At(0), 61);  // an index of 0 or below is ignored on an address
  prog.OpAddConstInt(S(-1).At(-5), 1);
  prog.OpSetInt(S(-1).Member("z"), 7);  // the member becomes a record
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(5)), "i:50");
  EXPECT_EQ(Show(Slot(9)), "i:90");
  ScriptValue* x = Slot(6).GetMember("x");
  EXPECT_EQ(Show(*x->GetMember("z")), "i:7");
  EXPECT_TRUE(errors.empty());
}

TEST_F(OperandTest, BadStackReferencesFailOnSlotZero) {
  struct Case {
    const char* what;
    std::function<void(meiasm::Builder&)> setup;
    Operand target;
  } cases[] = {
      {"positive index on an address", [](meiasm::Builder& p) { p.OpPushRef(G(6).Member("x")); },
       S(-1).At(1)},
      {"pair below the stack", {}, S(-7)},
      {"pair above the top", {}, S(3)},
      {"address not pushed as one",
       [](meiasm::Builder& p) {
         p.OpPushWord(1);
         p.OpPushWord(0x1234);
       },
       S(-1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    RunTarget(c.target, c.setup);
    EXPECT_EQ(SlotWith77(), 0);
    EXPECT_EQ(errors, std::vector<uint32_t>{1});
  }
}

TEST_F(OperandTest, DamagedOperandsEndTheRun) {
  struct Case {
    const char* what;
    Operand target;
  } cases[] = {
      {"name offset past the string block", Operand::Raw({0x10, 1, 999})},
      {"nesting too deep",
       [] {
         Operand o = G(1);
         for (int i = 0; i < 40; ++i) o = G(1).At(o);
         return o;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    meiasm::Builder prog;
    prog.Globals(2);
    prog.OpSetInt(c.target, 77);
    prog.OpSetInt(G(1), 5);  // never reached
    prog.OpHalt();
    EXPECT_EQ(Run(prog), 1);
    EXPECT_EQ(errors, std::vector<uint32_t>{1});
    EXPECT_EQ(Show(Slot(1)), "i:0");
  }
}

}  // namespace
