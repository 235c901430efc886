// Tests of the expression instructions: every row of the type table, run as assembled scripts.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "tests/vm/vm_fixture.h"

namespace {

class ExpressionTest : public VmFixture {
 protected:
  // Sets a value from a short spec: "i:7", "f:1.5", "s:text", "nan", "rec" (a new record), "img"
  // (object A, kind image) or "imgB" (object B).
  void SetSpec(ScriptValue* v, const std::string& spec) {
    if (spec.rfind("i:", 0) == 0) v->SetInt(static_cast<int32_t>(std::stoll(spec.substr(2))));
    if (spec.rfind("f:", 0) == 0) v->SetFloat(std::stof(spec.substr(2)));
    if (spec.rfind("s:", 0) == 0) v->SetString(spec.substr(2).c_str());
    if (spec == "nan") v->SetFloat(std::nanf(""));
    if (spec == "rec") v->GetMember("m");
    if (spec == "img") v->SetObject(obj_a, kScriptImage, &ReleaseTestObject);
    if (spec == "imgB") v->SetObject(obj_b, kScriptImage, &ReleaseTestObject);
  }

  // Runs `op d a [b]` with d = global 0, a = global 1, b = global 2.
  void RunOp(VmOp op, const std::string& a, const std::string& b) {
    meiasm::Builder prog;
    prog.Globals(3);
    if (kVmOpInfo[static_cast<uint32_t>(op)].count == 2) {
      prog.Op(op, {G(0), G(1)});
    } else {
      prog.Op(op, {G(0), G(1), G(2)});
    }
    prog.OpHalt();
    Load(prog);
    ASSERT_TRUE(ctx->Start(0));
    SetSpec(&Slot(1), a);
    SetSpec(&Slot(2), b);
    RunStarted();
  }

  DRef<void> obj_a = NewTestObject();
  DRef<void> obj_b = NewTestObject();
};

struct Row {
  VmOp op;
  const char* a;
  const char* b;
  const char* d;        // what d becomes
  const char* a_after;  // what a holds afterwards (null: unchanged)
};

const Row kRows[] = {
    // One operand (s in a).
    {VmOp::OpPlus, "i:5", "", "i:5", nullptr},
    {VmOp::OpPlus, "f:1.5", "", "f:1.5", nullptr},
    {VmOp::OpPlus, "s:12x", "", "i:12", nullptr},
    {VmOp::OpPlus, "rec", "", "rec", nullptr},
    {VmOp::OpNeg, "i:5", "", "i:-5", nullptr},
    {VmOp::OpNeg, "i:-2147483648", "", "i:-2147483648", nullptr},
    {VmOp::OpNeg, "f:1.5", "", "f:-1.5", nullptr},
    {VmOp::OpNeg, "s:7", "", "i:-7", nullptr},
    {VmOp::OpNeg, "rec", "", "rec", nullptr},
    {VmOp::OpNot, "i:0", "", "i:1", nullptr},
    {VmOp::OpNot, "i:3", "", "i:0", nullptr},
    {VmOp::OpNot, "f:0.5", "", "i:0", nullptr},
    {VmOp::OpNot, "f:0", "", "i:1", nullptr},
    {VmOp::OpNot, "s:x", "", "i:1", nullptr},
    {VmOp::OpNot, "img", "", "obj4", nullptr},
    {VmOp::OpBitNot, "i:0", "", "i:-1", nullptr},
    {VmOp::OpBitNot, "f:1", "", "i:0", nullptr},
    {VmOp::OpBitNot, "s:1", "", "i:0", nullptr},
    {VmOp::OpBitNot, "img", "", "obj4", nullptr},
    // *: the type of a chooses, b is converted.
    {VmOp::OpMul, "i:6", "i:7", "i:42", nullptr},
    {VmOp::OpMul, "i:6", "f:2.9", "i:12", nullptr},
    {VmOp::OpMul, "i:65536", "i:65536", "i:0", nullptr},
    {VmOp::OpMul, "f:1.5", "i:2", "f:3.", nullptr},
    {VmOp::OpMul, "s:12", "i:3", "i:36", nullptr},
    {VmOp::OpMul, "img", "i:3", "obj4", nullptr},
    // /
    {VmOp::OpDiv, "i:7", "i:2", "i:3", nullptr},
    {VmOp::OpDiv, "i:-7", "i:2", "i:-3", nullptr},
    {VmOp::OpDiv, "i:7", "i:0", "i:0", nullptr},
    {VmOp::OpDiv, "i:-2147483648", "i:-1", "i:-2147483648", nullptr},
    {VmOp::OpDiv, "f:7", "f:2", "f:3.5", nullptr},
    {VmOp::OpDiv, "f:1", "i:0", "f:inf", nullptr},
    {VmOp::OpDiv, "s:dir/sub/name", "s:/", "s:name", "s:dir/sub"},
    {VmOp::OpDiv, "s:abc", "s:/", "s:abc", "s:"},
    {VmOp::OpDiv, "rec", "i:1", "rec", nullptr},
    // %
    {VmOp::OpMod, "i:-7", "i:2", "i:-1", nullptr},
    {VmOp::OpMod, "i:7", "i:-2", "i:1", nullptr},
    {VmOp::OpMod, "i:7", "i:0", "i:0", nullptr},
    {VmOp::OpMod, "i:-2147483648", "i:-1", "i:0", nullptr},
    {VmOp::OpMod, "f:7.5", "i:2", "f:1.5", nullptr},
    {VmOp::OpMod, "f:7.5", "f:0", "f:0.", nullptr},
    {VmOp::OpMod, "s:17", "i:5", "i:2", nullptr},
    {VmOp::OpMod, "img", "i:5", "obj4", nullptr},
    // +
    {VmOp::OpAdd, "i:1", "s:4", "i:5", nullptr},
    {VmOp::OpAdd, "i:2147483647", "i:1", "i:-2147483648", nullptr},
    {VmOp::OpAdd, "f:1.5", "i:1", "f:2.5", nullptr},
    {VmOp::OpAdd, "s:ab", "i:12", "s:ab12", "s:ab"},
    {VmOp::OpAdd, "s:ab", "f:1", "s:ab1.", nullptr},
    {VmOp::OpAdd, "s:ab", "img", "s:ab(error)", nullptr},
    {VmOp::OpAdd, "rec", "i:1", "rec", nullptr},
    // -
    {VmOp::OpSub, "i:5", "i:7", "i:-2", nullptr},
    {VmOp::OpSub, "f:1", "f:0.25", "f:0.75", nullptr},
    {VmOp::OpSub, "s:a,b,c", "s:,", "s:a", "s:b,c"},
    {VmOp::OpSub, "s:abc", "s:;", "s:abc", "s:"},
    {VmOp::OpSub, "s:x10y", "i:10", "s:x", "s:0y"},
    {VmOp::OpSub, "img", "i:1", "obj4", nullptr},
    // << >>
    {VmOp::OpShl, "i:1", "i:33", "i:2", nullptr},
    {VmOp::OpShr, "i:-1", "i:28", "i:15", nullptr},
    {VmOp::OpShr, "i:-8", "i:32", "i:-8", nullptr},
    {VmOp::OpShl, "f:1.5", "i:1", "i:0", nullptr},
    {VmOp::OpShr, "s:8", "i:1", "i:0", nullptr},
    {VmOp::OpShl, "img", "i:1", "obj4", nullptr},
    // Comparisons.
    {VmOp::OpLt, "i:1", "i:2", "i:1", nullptr},
    {VmOp::OpLt, "i:1", "f:1.5", "i:0", nullptr},
    {VmOp::OpLt, "f:1", "f:1.5", "i:1", nullptr},
    {VmOp::OpLt, "s:10", "i:9", "i:0", nullptr},
    {VmOp::OpGt, "s:10", "i:9", "i:1", nullptr},
    {VmOp::OpLt, "img", "img", "i:0", nullptr},
    {VmOp::OpGt, "img", "img", "i:0", nullptr},
    {VmOp::OpLe, "img", "img", "i:1", nullptr},
    {VmOp::OpGe, "img", "imgB", "i:0", nullptr},
    {VmOp::OpLe, "i:2", "i:2", "i:1", nullptr},
    {VmOp::OpGe, "f:1", "f:2", "i:0", nullptr},
    {VmOp::OpLe, "s:3", "s:3x", "i:1", nullptr},
    {VmOp::OpLt, "f:1", "nan", "i:0", nullptr},
    {VmOp::OpGt, "f:1", "nan", "i:0", nullptr},
    {VmOp::OpLe, "f:1", "nan", "i:0", nullptr},
    {VmOp::OpGe, "f:1", "nan", "i:0", nullptr},
    {VmOp::OpEq, "nan", "nan", "i:0", nullptr},
    {VmOp::OpNe, "f:1", "nan", "i:1", nullptr},
    {VmOp::OpEq, "i:1", "f:1.9", "i:1", nullptr},
    {VmOp::OpEq, "s:abc", "s:ABC", "i:0", nullptr},
    {VmOp::OpEq, "s:abc", "s:abc", "i:1", nullptr},
    {VmOp::OpEq, "s:12", "i:12", "i:1", nullptr},
    {VmOp::OpEq, "s:1.", "f:1", "i:1", nullptr},
    {VmOp::OpEq, "s:(error)", "img", "i:1", nullptr},  // an object's text is "(error)"
    {VmOp::OpLt, "f:1", "s:1.5x", "i:1", nullptr},
    {VmOp::OpNe, "s:abc", "s:abc", "i:0", nullptr},
    {VmOp::OpEq, "img", "img", "i:1", nullptr},
    {VmOp::OpEq, "img", "imgB", "i:0", nullptr},
    {VmOp::OpEq, "img", "i:0", "i:0", nullptr},
    {VmOp::OpNe, "img", "imgB", "i:1", nullptr},
    {VmOp::OpEq, "rec", "rec", "i:0", nullptr},
    // Bit operations.
    {VmOp::OpAnd, "i:12", "i:10", "i:8", nullptr},
    {VmOp::OpXor, "i:12", "i:10", "i:6", nullptr},
    {VmOp::OpOr, "i:12", "s:10", "i:14", nullptr},
    {VmOp::OpAnd, "f:12", "i:10", "i:0", nullptr},
    {VmOp::OpXor, "s:12", "i:10", "i:0", nullptr},
    {VmOp::OpOr, "img", "i:10", "obj4", nullptr},
};

TEST_F(ExpressionTest, TypeTable) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(kVmOpInfo[static_cast<uint32_t>(row.op)].name) + " " + row.a + " " + row.b);
    RunOp(row.op, row.a, row.b);
    EXPECT_EQ(Show(Slot(0)), row.d);
    if (Slot(0).IsObjectLike()) {
      EXPECT_TRUE(ScriptValue::SameObject(Slot(0), Slot(1))) << "a copy shares a";
    }
    if (row.a_after) {
      EXPECT_EQ(Show(Slot(1)), row.a_after);
    }
    EXPECT_TRUE(errors.empty());
  }
}

// The whole record-or-object column of the two-operand forms: the comparisons test identity
// (< and > never hold), every other form makes d share a.
TEST_F(ExpressionTest, ObjectColumnOfEveryTwoOperandForm) {
  for (uint32_t op = static_cast<uint32_t>(VmOp::OpMul); op <= static_cast<uint32_t>(VmOp::OpOr); ++op) {
    for (const char* b : {"img", "imgB", "i:1"}) {
      SCOPED_TRACE(std::string(kVmOpInfo[op].name) + " img " + b);
      RunOp(static_cast<VmOp>(op), "img", b);
      const bool same = std::string(b) == "img";
      std::string want = "obj4";
      switch (static_cast<VmOp>(op)) {
        case VmOp::OpLt:
        case VmOp::OpGt:
          want = "i:0";
          break;
        case VmOp::OpLe:
        case VmOp::OpGe:
        case VmOp::OpEq:
          want = same ? "i:1" : "i:0";
          break;
        case VmOp::OpNe:
          want = same ? "i:0" : "i:1";
          break;
        default:
          break;
      }
      EXPECT_EQ(Show(Slot(0)), want);
      if (want == "obj4") {
        EXPECT_TRUE(ScriptValue::SameObject(Slot(0), Slot(1)));
      }
    }
  }
}

// All operands are decoded before the rule is chosen: decoding b may turn a into a record.
TEST_F(ExpressionTest, RuleFollowsTheTypeOfAAfterDecoding) {
  meiasm::Builder prog;
  prog.Globals(2);
  prog.OpSetInt(G(1), 5);
  prog.OpAdd(G(0), G(1), G(1).Member("x"));
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(0)), "rec");
  EXPECT_TRUE(ScriptValue::SameObject(Slot(0), Slot(1)));
}

TEST_F(ExpressionTest, DestinationMayBeAnOperand) {
  meiasm::Builder prog;
  prog.Globals(2);
  prog.OpSetString(G(0), meiasm::Text{"ab"});
  prog.OpAdd(G(0), G(0), G(0));  // d = a + a on one value
  prog.OpSetString(G(1), meiasm::Text{"x,y"});
  prog.OpSub(G(1), G(1), G(1));  // split into its own operand
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(0)), "s:abab");
  EXPECT_EQ(Slot(1).type(), kScriptString);
}

// d holds the only reference to the record whose member a is: a is still written safely.
TEST_F(ExpressionTest, SplitIntoTheRecordHoldingItsOperand) {
  for (VmOp op : {VmOp::OpSub, VmOp::OpDiv}) {
    meiasm::Builder prog;
    prog.Globals(3);
    prog.OpSetString(G(1).Member("x"), meiasm::Text{"a,b"});
    prog.OpSetString(G(2), meiasm::Text{","});
    prog.Op(op, {G(1), G(1).Member("x"), G(2)});
    prog.OpHalt();
    Run(prog);
    EXPECT_EQ(Show(Slot(1)), op == VmOp::OpSub ? "s:a" : "s:b");
  }
}

}  // namespace
