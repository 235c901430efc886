// Tests of the close event: the quit question, the script's handler, a missing handler, re-entrancy.
#include "vm/close_event.h"

#include <gtest/gtest.h>

#include "tests/vm/script_task_fixture.h"

namespace {

using Ints = std::vector<int>;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// main installs `handler_setup` (text form), then spins until g1 is set (the loop pumps every 100
// instructions), traces g1 and ends with it.
std::string Spinner(const std::string& handler_setup) {
  return R"(
.globals 3
.method main
        OpSetString g2, ""
)" + handler_setup +
         R"(
spin:   OpJumpIfZero g1, spin
        .builtin 283, g1
        OpMove g0, g1
        OpHalt
.method onclose
        OpAddConstInt g1, 5
        .builtin 162              ; Yield: a synchronous run goes on, the flag stays set
        .builtin 182              ; GetThisTask: the handler runs as the current task
        .builtin 183, g0
        .builtin 186              ; IsTaskEnd of itself: 0
        .builtin 283, g0
        OpHalt
)";
}

TEST_F(TaskTest, WithoutAHandlerTheUserIsAsked) {
  const auto path = WriteScript("q.mei", ".method main\n OpHalt\n");
  DRef<ScriptTask> a = LoadScriptNamed(path.c_str(), "main", kTaskList, true);
  DRef<ScriptTask> h = LoadScriptNamed(path.c_str(), "main", kHandlerList, true);
  ASSERT_TRUE(a && h && FindEntry(a));

  Answers() = {kIdNo};
  RunEventHandler(kEventClose);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "終了しますか？");
  EXPECT_EQ(Boxes()[0].caption, "Orvane");
  EXPECT_EQ(Boxes()[0].type, 4u);
  EXPECT_FALSE(AllTasksEnded());

  RunEventHandler(1);  // no such event: nothing
  EXPECT_EQ(Boxes().size(), 1u);

  Answers() = {kIdYes};
  RunEventHandler(kEventClose);
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_TRUE(AllTasksEnded());
  EXPECT_EQ(h->run_flags, 0u);  // handlers are not touched
}

TEST_F(TaskTest, AHandlerRunsInsideATurnWhenTheWindowPumps) {
  const auto path = WriteScript("c.mei", Spinner(R"(
        OpSetInt g1, 0
        OpSetString g0, "onclose"
        .builtin 80, g1, g2, g0   ; SetEventName 0, "", "onclose"
)"));
  DRef<ScriptTask> main_task;
  int pumps = 0;
  OnPump() = [&] {
    if (++pumps != 2) return;
    main_task = CurrentTask();
    RunEventHandler(kEventClose);  // the window's close request
    EXPECT_EQ(CurrentTask().Get(), main_task.Get());
  };
  DRef<ScriptTask> main = RunMain(path);
  EXPECT_EQ(main_task.Get(), main.Get());
  EXPECT_EQ(Trace(), (Ints{0, 5}));
  EXPECT_EQ(main->result.ToInt(), 5);
  EXPECT_TRUE(Boxes().empty());
  // The handler stays registered for the next close, outside the task list.
  ASSERT_TRUE(*EventHandler(kEventClose));
  EXPECT_EQ((*EventHandler(kEventClose))->run_flags, kVmRunYield);
  EXPECT_EQ(TaskRegistry(kHandlerList).GetCount(), 1u);
}

TEST_F(TaskTest, AMissingHandlerMethodIsReportedAndEndsEveryTask) {
  const auto path = WriteScript("c.mei", Spinner(R"(
        OpSetInt g1, 0
        OpSetString g0, "gone"
        .builtin 80, g1, g2, g0   ; SetEventName 0, "", "gone"
        OpSetInt g1, 1
        OpSetInt g0, 0
        .builtin 68, g0           ; CallEvent 0
        .builtin 283, g1
)"));
  DRef<ScriptTask> main = RunMain(path);
  EXPECT_TRUE(Trace().empty());
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, "\"gone\"メソッドが見つかりません。");
  EXPECT_EQ(Boxes()[1].text, "EVTSIG_CLOSEで指定されたメソッドが存在しません。");
  EXPECT_EQ(Boxes()[1].caption, "実行エラー");
  EXPECT_EQ(Boxes()[1].type, 0x10u);
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
}

TEST_F(TaskTest, EventBuiltinsRefuseOtherEventsAndAskWithoutAHandler) {
  const auto path = WriteScript("c.mei", R"(
.globals 3
.method main
        OpSetInt g1, 1
        .builtin 68, g1           ; CallEvent 1: nothing
        OpSetInt g1, 0
        .builtin 68, g1           ; CallEvent 0 without a handler: the question, answered No
        .builtin 283, g1
        OpSetString g0, "handler"
        OpSetString g2, ""
        .builtin 80, g1, g2, g0   ; SetEventName 0, "", "handler"
        OpSetString g0, "main"
        OpSetInt g1, -1
        .builtin 80, g1, g2, g0   ; SetEventName -1: refused, every task ends
        .builtin 283, g1
        OpHalt
.method handler
        OpHalt
)");
  Answers() = {kIdNo};
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{0}));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, "終了しますか？");
  EXPECT_EQ(Boxes()[1].text, "存在しないイベント [-1] です。");
  ASSERT_TRUE(*EventHandler(kEventClose));  // the handler installed before is kept
  EXPECT_STREQ((*EventHandler(kEventClose))->entry_name, "handler");
  EXPECT_EQ(TaskRegistry(kHandlerList).GetCount(), 1u);
}

TEST_F(TaskTest, AHandlerMayReplaceItselfWhileItRuns) {
  // The handler installs a new handler for the close event: the old instance ends right there
  // (its context is freed once its run returns, not under its own instruction).
  const auto path = WriteScript("c.mei", R"(
.globals 3
.method main
        OpSetInt g1, 0
        OpSetString g2, ""
        OpSetString g0, "first"
        .builtin 80, g1, g2, g0
        .builtin 68, g1           ; CallEvent 0: runs "first"
        .builtin 68, g1           ; runs "second"
        OpHalt
.method first
        OpSetInt g1, 0
        OpSetString g0, "second"
        .builtin 80, g1, g2, g0   ; SetEventName 0 from inside the handler
        OpSetInt g1, 1
        .builtin 283, g1
        OpSetInt g1, 0
        OpHalt
.method second
        OpSetInt g1, 2
        .builtin 283, g1
        OpSetInt g1, 0
        OpHalt
)");
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{2}));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(TaskRegistry(kHandlerList).GetCount(), 1u);
}

}  // namespace
