// Tests of execution contexts: slot table and stack growth, starting, shared globals, source position,
// built-in arguments.
#include "vm/script_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/vm/vm_fixture.h"

namespace {

class ScriptContextTest : public VmFixture {
 protected:
  void LoadWith(uint32_t globals, const std::vector<std::string>& sources = {}) {
    meiasm::Builder prog;
    prog.Globals(globals);
    prog.Method("main");
    prog.Export(0);
    for (const std::string& s : sources) prog.File(s);
    prog.OpHalt();
    Load(prog);
  }
};

TEST_F(ScriptContextTest, StartLeavesGlobalsAndTheEntryWords) {
  LoadWith(3);
  EXPECT_EQ(ctx->slot_capacity(), 1027u);
  EXPECT_FALSE(ctx->running());
  ASSERT_TRUE(ctx->StartByName("MAIN"));  // method names ignore ASCII case
  EXPECT_FALSE(ctx->Start(0));            // already running
  EXPECT_EQ(ctx->slot_top(), 3u);
  ASSERT_EQ(ctx->stack_top(), 2u);
  EXPECT_EQ(ctx->StackWord(0), 3u);
  EXPECT_EQ(ctx->StackWord(1), info->return_address);
  EXPECT_TRUE(ctx->Stop());
  EXPECT_FALSE(ctx->Stop());
  EXPECT_FALSE(ctx->StartByName("mainx"));
  EXPECT_FALSE(ctx->StartByExport(-1));
  EXPECT_FALSE(ctx->StartByExport(1));
  EXPECT_TRUE(ctx->StartByExport(0));
}

TEST_F(ScriptContextTest, MethodNamesCompareDoubleByteCharactersExactly) {
  ScriptImageInfo image;
  image.methods = {{"表a", 1}, {"main", 2}, {"MAIN", 3}, {"ア", 4}};
  uint32_t entry = 0;
  EXPECT_TRUE(image.FindMethod("Main", &entry));
  EXPECT_EQ(entry, 2u);  // the first match wins
  EXPECT_TRUE(image.FindMethod("表A", &entry));
  EXPECT_EQ(entry, 1u);
  // "ア" is 0x83 0x41: its trail byte is the letter A, and must not match a.
  EXPECT_FALSE(image.FindMethod("\x83\x61", &entry));
  EXPECT_TRUE(image.FindMethod("ア", &entry));
  EXPECT_FALSE(image.FindMethod("mai", &entry));
}

TEST_F(ScriptContextTest, FramesAndStackGrowInSteps) {
  LoadWith(3);
  ASSERT_TRUE(ctx->Start(0));
  Slot(2).SetInt(42);
  ctx->SetFrameBase(1000);
  ASSERT_TRUE(ctx->Enter(100));
  EXPECT_EQ(ctx->slot_capacity(), 2051u);
  EXPECT_EQ(ctx->slot_top(), 1100u);
  EXPECT_EQ(Show(Slot(2)), "i:42");  // entries already there keep their values
  Slot(1000).SetString("x");
  ASSERT_TRUE(ctx->Leave(100));
  EXPECT_EQ(ctx->slot_top(), 1000u);
  EXPECT_EQ(Show(Slot(1000)), "i:0");

  for (uint32_t i = 2; i < 2048; ++i) ASSERT_TRUE(ctx->Push(i));
  EXPECT_EQ(ctx->stack_capacity(), 2048u);
  ASSERT_TRUE(ctx->Push(2048));  // the 2049th word
  EXPECT_EQ(ctx->stack_capacity(), 4096u);
  EXPECT_EQ(ctx->StackWord(0), 3u);
  EXPECT_EQ(ctx->StackWord(2047), 2047u);
  EXPECT_EQ(ctx->StackWord(2048), 2048u);
}

// Globals that already hold values when a second context comes to share them keep their values,
// their addresses and their owner: each string is freed once, after the last sharer ends.
TEST_F(ScriptContextTest, GlobalsSharedLateKeepTheirValuesAndAddresses) {
  LoadWith(300);  // more than one page of globals
  ASSERT_TRUE(ctx->Start(0));
  Slot(1).SetString("first");
  Slot(299).SetString("last");
  ScriptValue* before = ctx->SlotOrNull(299);
  ScriptContext* second = ScriptContext::CloneShared(*ctx);
  ScriptContext* third = ScriptContext::CloneShared(*second);
  EXPECT_EQ(ctx->SlotOrNull(299), before);
  EXPECT_EQ(Show(*before), "s:last");
  EXPECT_EQ(Show(*third->SlotOrNull(1)), "s:first");
  third->SlotOrNull(299)->SetString("changed");
  EXPECT_EQ(Show(*before), "s:changed");
  ScriptContext::Destroy(ctx);
  ctx = nullptr;
  EXPECT_EQ(Show(*second->SlotOrNull(299)), "s:changed");
  ScriptContext::Destroy(second);
  EXPECT_EQ(Show(*third->SlotOrNull(1)), "s:first");
  ScriptContext::Destroy(third);
}

TEST_F(ScriptContextTest, SharedGlobalsAreClearedByTheFirstRunner) {
  LoadWith(2);
  ScriptContext* second = ScriptContext::CloneShared(*ctx);
  ScriptContext* fresh = ScriptContext::CloneFresh(*ctx);
  ASSERT_TRUE(ctx->Start(0));
  Slot(1).SetInt(5);
  EXPECT_EQ(Show(*second->SlotOrNull(1)), "i:5");  // one value, two tables
  EXPECT_EQ(Show(*fresh->SlotOrNull(1)), "i:0");
  second->SlotOrNull(1)->SetString("both");  // and written through either
  EXPECT_EQ(Show(Slot(1)), "s:both");
  EXPECT_EQ(Show(*fresh->SlotOrNull(1)), "i:0");
  Slot(1).SetInt(5);
  ASSERT_TRUE(second->Start(0));  // another member runs: globals stay
  EXPECT_EQ(Show(*second->SlotOrNull(1)), "i:5");
  EXPECT_TRUE(ctx->Stop());
  EXPECT_TRUE(second->Stop());
  ASSERT_TRUE(second->Start(0));  // nobody runs: cleared again
  EXPECT_EQ(Show(Slot(1)), "i:0");
  Slot(1).SetString("kept");
  ScriptContext::Destroy(second);  // the globals stay for the other member
  EXPECT_EQ(Show(Slot(1)), "s:kept");
  EXPECT_EQ(ctx->runner_count(), 0u);
  EXPECT_EQ(ctx->sharer_count(), 1u);
  ScriptContext::Destroy(fresh);
}

TEST_F(ScriptContextTest, SourcePosition) {
  bool has = true;
  char buf[16] = "untouched";
  uint32_t line = 99;
  LoadWith(1);
  ctx->GetSourcePos(&has, buf, sizeof buf, &line);
  EXPECT_FALSE(has);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(line, 99u);

  LoadWith(1, {"main.txt", "longname"});
  ctx->SetSourceFile(1);
  ctx->SetSourceLine(12);
  ctx->GetSourcePos(&has, buf, 5, &line);
  EXPECT_TRUE(has);
  EXPECT_STREQ(buf, "long");
  EXPECT_EQ(line, 12u);
  ctx->SetSourceFile(2);
  ctx->GetSourcePos(&has, buf, sizeof buf, &line);
  EXPECT_STREQ(buf, "(error)");
}

TEST_F(ScriptContextTest, BuiltinArguments) {
  LoadWith(2);
  ASSERT_TRUE(ctx->Start(0));
  ctx->SetFrameBase(2);
  ASSERT_TRUE(ctx->Enter(4));  // array of four slots 2..5 at the end of the frame
  Slot(5).SetInt(55);
  ScriptValue holder;
  ScriptValue* member = holder.GetMember("m");
  // Argument 2 pushed first, then argument 1, then the word that no built-in reads.
  ctx->PushValueRef(member, holder.RecordRef());
  ctx->PushSlotRef(2);
  ctx->Push(0);
  EXPECT_EQ(ctx->GetArg(0), ctx->SlotOrNull(0));
  EXPECT_EQ(ctx->GetArg(1), ctx->SlotOrNull(2));
  EXPECT_EQ(ctx->GetArg(2), member);
  EXPECT_EQ(ctx->GetArgElement(1, 3), ctx->SlotOrNull(5));
  EXPECT_EQ(ctx->GetArgElement(2, 0), member);
  EXPECT_EQ(ctx->GetArgElement(0, 7), ctx->SlotOrNull(0));
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(ctx->GetArgElement(1, 4), ctx->SlotOrNull(0));  // past the slot top
  EXPECT_EQ(ctx->GetArgElement(1, -3), ctx->SlotOrNull(0));
  EXPECT_EQ(ctx->GetArgElement(2, 1), ctx->SlotOrNull(0));  // an address is one value
  EXPECT_EQ(ctx->GetArg(5), ctx->SlotOrNull(0));            // no such pair on the stack
  EXPECT_EQ(errors, (std::vector<uint32_t>{1, 1, 1, 1}));
  ctx->SetArgInt(0, 9);
  ctx->SetArgElementInt(1, 1, 8);
  ctx->GetArgMember(2, "k")->SetInt(7);
  EXPECT_EQ(Show(Slot(0)), "i:9");
  EXPECT_EQ(Show(Slot(3)), "i:8");
  EXPECT_EQ(Show(*member->GetMember("k")), "i:7");
}

}  // namespace
