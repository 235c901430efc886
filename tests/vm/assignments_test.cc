// Tests of the assignment instructions: moves, compound forms and the constant forms, by the type of d.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "tests/vm/vm_fixture.h"

namespace {

class AssignmentTest : public VmFixture {
 protected:
  void SetSpec(ScriptValue* v, const std::string& spec) {
    if (spec.rfind("i:", 0) == 0) v->SetInt(static_cast<int32_t>(std::stoll(spec.substr(2))));
    if (spec.rfind("f:", 0) == 0) v->SetFloat(std::stof(spec.substr(2)));
    if (spec.rfind("s:", 0) == 0) v->SetString(spec.substr(2).c_str());
    if (spec == "rec") v->GetMember("m");
    if (spec == "img") v->SetObject(obj, kScriptImage, &ReleaseTestObject);
  }

  DRef<void> obj = NewTestObject();
};

// The right side: an operand (global 1 set from a spec), or a constant field.
using Right = std::variant<std::string, int64_t, float, meiasm::Text>;

struct Row {
  VmOp op;
  const char* d;
  Right right;
  const char* result;
};

const Row kRows[] = {
    // With an operand.
    {VmOp::OpMove, "i:1", std::string("s:abc"), "s:abc"},
    {VmOp::OpMove, "s:x", std::string("rec"), "rec"},
    {VmOp::OpMulAssign, "i:5", std::string("f:2.5"), "i:10"},
    {VmOp::OpMulAssign, "f:1.5", std::string("i:2"), "f:3."},
    {VmOp::OpMulAssign, "s:4", std::string("s:3"), "i:12"},
    {VmOp::OpMulAssign, "img", std::string("i:3"), "i:0"},
    {VmOp::OpDivAssign, "i:-7", std::string("i:2"), "i:-3"},
    {VmOp::OpDivAssign, "i:7", std::string("i:0"), "i:0"},
    {VmOp::OpDivAssign, "f:1", std::string("i:4"), "f:0.25"},
    {VmOp::OpDivAssign, "s:key=value", std::string("s:="), "s:value"},
    {VmOp::OpModAssign, "i:7", std::string("i:-2"), "i:1"},
    {VmOp::OpModAssign, "f:-7.5", std::string("i:2"), "f:-1.5"},
    {VmOp::OpModAssign, "s:17", std::string("i:5"), "i:2"},
    {VmOp::OpAddAssign, "i:1", std::string("s:41"), "i:42"},
    {VmOp::OpAddAssign, "f:0.5", std::string("f:0.25"), "f:0.75"},
    {VmOp::OpAddAssign, "s:a", std::string("i:12"), "s:a12"},
    {VmOp::OpAddAssign, "rec", std::string("i:1"), "i:0"},
    {VmOp::OpSubAssign, "i:1", std::string("i:3"), "i:-2"},
    {VmOp::OpSubAssign, "s:key=value", std::string("s:="), "s:key"},
    {VmOp::OpSubAssign, "s:a10b", std::string("i:10"), "s:a"},
    {VmOp::OpShlAssign, "i:1", std::string("i:33"), "i:2"},
    {VmOp::OpShrAssign, "i:-1", std::string("i:28"), "i:15"},
    {VmOp::OpShlAssign, "f:1", std::string("i:1"), "i:0"},
    {VmOp::OpAndAssign, "i:12", std::string("i:10"), "i:8"},
    {VmOp::OpXorAssign, "i:12", std::string("i:10"), "i:6"},
    {VmOp::OpOrAssign, "i:12", std::string("i:10"), "i:14"},
    {VmOp::OpOrAssign, "s:12", std::string("i:10"), "i:0"},
    // Int constants.
    {VmOp::OpSetInt, "rec", int64_t{5}, "i:5"},
    {VmOp::OpMulConstInt, "f:1.5", int64_t{3}, "f:4.5"},
    {VmOp::OpMulConstInt, "s:7", int64_t{3}, "i:21"},
    {VmOp::OpDivConstInt, "i:-2147483648", int64_t{-1}, "i:-2147483648"},
    {VmOp::OpDivConstInt, "i:9", int64_t{0}, "i:0"},
    {VmOp::OpDivConstInt, "s:a5b", int64_t{5}, "s:b"},
    {VmOp::OpModConstInt, "i:-2147483648", int64_t{-1}, "i:0"},
    {VmOp::OpModConstInt, "f:7.5", int64_t{2}, "f:1.5"},
    {VmOp::OpAddConstInt, "f:1.5", int64_t{1}, "f:2.5"},
    {VmOp::OpAddConstInt, "s:x", int64_t{-12}, "s:x-12"},
    {VmOp::OpAddConstInt, "img", int64_t{1}, "i:0"},
    {VmOp::OpSubConstInt, "s:a10b", int64_t{10}, "s:a"},
    {VmOp::OpShlConstInt, "i:3", int64_t{-31}, "i:6"},
    {VmOp::OpShrConstInt, "f:8", int64_t{1}, "i:0"},
    {VmOp::OpAndConstInt, "i:6", int64_t{3}, "i:2"},
    {VmOp::OpXorConstInt, "i:6", int64_t{3}, "i:5"},
    {VmOp::OpOrConstInt, "i:6", int64_t{3}, "i:7"},
    // Float constants: an int d uses the constant truncated.
    {VmOp::OpSetFloat, "s:x", 2.5f, "f:2.5"},
    {VmOp::OpMulConstFloat, "i:5", 1.5f, "i:5"},
    {VmOp::OpMulConstFloat, "f:5", 1.5f, "f:7.5"},
    {VmOp::OpMulConstFloat, "s:5", 2.5f, "i:10"},
    {VmOp::OpDivConstFloat, "i:7", 0.5f, "i:0"},
    {VmOp::OpDivConstFloat, "f:1", 0.0f, "f:inf"},
    {VmOp::OpDivConstFloat, "s:a.b", 0.5f, "s:b"},
    {VmOp::OpModConstFloat, "f:7.5", 0.0f, "f:0."},
    {VmOp::OpModConstFloat, "i:7", 2.9f, "i:1"},
    {VmOp::OpAddConstFloat, "i:7", 2.9f, "i:9"},
    {VmOp::OpAddConstFloat, "s:v", 0.5f, "s:v0.5"},
    {VmOp::OpAddConstFloat, "rec", 0.5f, "i:0"},
    {VmOp::OpSubConstFloat, "i:7", -2.9f, "i:9"},
    {VmOp::OpSubConstFloat, "s:x1y", 1.0f, "s:x"},
    // String constants.
    {VmOp::OpSetString, "img", meiasm::Text{"hi"}, "s:hi"},
    {VmOp::OpMulConstString, "i:3", meiasm::Text{"4x"}, "i:12"},
    {VmOp::OpMulConstString, "f:1.5", meiasm::Text{"2e0"}, "f:3."},
    {VmOp::OpMulConstString, "s:3", meiasm::Text{"4"}, "i:12"},
    {VmOp::OpDivConstString, "i:9", meiasm::Text{"abc"}, "i:0"},
    {VmOp::OpDivConstString, "f:1", meiasm::Text{"4"}, "f:0.25"},
    {VmOp::OpDivConstString, "s:key=value", meiasm::Text{"="}, "s:value"},
    {VmOp::OpModConstString, "i:9", meiasm::Text{"4"}, "i:1"},
    {VmOp::OpModConstString, "f:7.5", meiasm::Text{"2"}, "f:1.5"},
    {VmOp::OpAddConstString, "i:1", meiasm::Text{" 2"}, "i:3"},
    {VmOp::OpAddConstString, "f:1", meiasm::Text{"0.5d0"}, "f:1.5"},
    {VmOp::OpAddConstString, "s:ab", meiasm::Text{"cd"}, "s:abcd"},
    {VmOp::OpAddConstString, "img", meiasm::Text{"cd"}, "i:0"},
    {VmOp::OpSubConstString, "i:1", meiasm::Text{"3"}, "i:-2"},
    {VmOp::OpSubConstString, "s:key=value", meiasm::Text{"="}, "s:key"},
    {VmOp::OpSubConstString, "s:key", meiasm::Text{"="}, "s:key"},
};

TEST_F(AssignmentTest, TypeTable) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(kVmOpInfo[static_cast<uint32_t>(row.op)].name) + " " + row.d);
    meiasm::Builder prog;
    prog.Globals(2);
    std::visit(
        [&](const auto& r) {
          using T = std::decay_t<decltype(r)>;
          if constexpr (std::is_same_v<T, std::string>) {
            prog.Op(row.op, {G(0), G(1)});
          } else {
            prog.Op(row.op, {G(0), r});
          }
        },
        row.right);
    prog.OpHalt();
    Load(prog);
    ASSERT_TRUE(ctx->Start(0));
    SetSpec(&Slot(0), row.d);
    if (auto* spec = std::get_if<std::string>(&row.right)) SetSpec(&Slot(1), *spec);
    RunStarted();
    EXPECT_EQ(Show(Slot(0)), row.result);
    EXPECT_TRUE(errors.empty());
  }
}

// The int-0 cells of the compound tables: every compound form on a record or object d, and the
// shift and bit forms on a float or string d.
TEST_F(AssignmentTest, IntZeroCells) {
  for (uint32_t op = static_cast<uint32_t>(VmOp::OpMulAssign);
       op <= static_cast<uint32_t>(VmOp::OpSubConstString); ++op) {
    const VmOp vop = static_cast<VmOp>(op);
    if (vop == VmOp::OpSetInt || vop == VmOp::OpSetFloat || vop == VmOp::OpSetString) continue;
    const bool bitwise =
        (op >= static_cast<uint32_t>(VmOp::OpShlAssign) && op <= static_cast<uint32_t>(VmOp::OpOrAssign)) ||
        (op >= static_cast<uint32_t>(VmOp::OpShlConstInt) && op <= static_cast<uint32_t>(VmOp::OpOrConstInt));
    std::vector<const char*> dests = {"rec", "img"};
    if (bitwise) dests.insert(dests.end(), {"f:1.5", "s:12"});
    for (const char* d : dests) {
      SCOPED_TRACE(std::string(kVmOpInfo[op].name) + " " + d);
      meiasm::Builder prog;
      prog.Globals(2);
      switch (kVmOpInfo[op].fields[1]) {
        case 'o':
          prog.Op(vop, {G(0), G(1)});
          break;
        case 'w':
          prog.Op(vop, {G(0), int64_t{3}});
          break;
        case 'f':
          prog.Op(vop, {G(0), 3.0f});
          break;
        default:
          prog.Op(vop, {G(0), meiasm::Text{"3"}});
          break;
      }
      prog.OpHalt();
      Load(prog);
      ASSERT_TRUE(ctx->Start(0));
      SetSpec(&Slot(0), d);
      Slot(1).SetInt(3);
      RunStarted();
      EXPECT_EQ(Show(Slot(0)), "i:0");
    }
  }
}

// d is decoded before s: when decoding s turns d into a record, the record rule applies.
TEST_F(AssignmentTest, RuleFollowsTheTypeOfDAfterDecoding) {
  meiasm::Builder prog;
  prog.Globals(1);
  prog.OpSetInt(G(0), 5);
  prog.OpAddAssign(G(0), G(0).Member("x"));
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(0)), "i:0");
}

TEST_F(AssignmentTest, ReleasedObjectsLoseTheirReference) {
  TestObject::destroyed = 0;
  {
    meiasm::Builder prog;
    prog.Globals(1);
    prog.OpAddConstInt(G(0), 1);
    prog.OpHalt();
    Load(prog);
    ASSERT_TRUE(ctx->Start(0));
    Slot(0).SetObject(NewTestObject(), kScriptImage, &ReleaseTestObject);
    RunStarted();
    EXPECT_EQ(Show(Slot(0)), "i:0");
  }
  EXPECT_EQ(TestObject::destroyed, 1);
}

TEST_F(AssignmentTest, SetStringGivesItsOwnCopy) {
  meiasm::Builder prog;
  prog.Globals(2);
  prog.OpSetString(G(0), meiasm::Text{"abc"});
  prog.OpAddConstString(G(0), meiasm::Text{"d"});
  prog.OpSetString(G(1), meiasm::Text{"abc"});
  prog.OpMove(G(0), G(0));  // a move onto itself keeps the value
  prog.OpHalt();
  Run(prog);
  EXPECT_EQ(Show(Slot(0)), "s:abcd");
  EXPECT_EQ(Show(Slot(1)), "s:abc");
}

}  // namespace
