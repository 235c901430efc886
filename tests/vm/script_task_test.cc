// Tests of tasks and the task loop: turn order, yield, switch, end, results, Exit, task creation.
#include "vm/script_task.h"

#include <gtest/gtest.h>

#include "tests/vm/script_task_fixture.h"

namespace {

using Ints = std::vector<int>;
constexpr uint32_t kStartupFlagsForTest = 1;  // the Direct3D sprite mode

// The shared loop of the worker exports: traces l1 and yields, l0 times, then returns.
constexpr const char* kLoop = R"(
loop:   .builtin 283, l1
        .builtin 162              ; Yield
        OpSubConstInt l0, 1
        OpJumpIfNonZero l0, loop
        OpLeave 3
        OpReturn
)";

// An export that runs the loop with id `id` for `rounds` rounds.
std::string Worker(int k, int id, int rounds) {
  return ".export " + std::to_string(k) + "\n OpAddBase -2\n OpEnter 3\n OpSetInt l1, " + std::to_string(id) +
         "\n OpSetInt l0, " + std::to_string(rounds) + "\n OpJump loop\n";
}

// The start of main (export 0): a frame of three locals, l2 the empty path, tasks 1..n created
// from the same script (export k), the last one's task value left in g0.
std::string MainCreating(int n) {
  std::string s = ".globals 2\n.method main\n.export 0\n OpAddBase -2\n OpEnter 3\n OpSetString l2, \"\"\n";
  for (int k = 1; k <= n; ++k) s += " OpSetInt l0, " + std::to_string(k) + "\n .builtin 66, l2, l0\n";
  return s;
}

TEST_F(TaskTest, TasksTakeTurnsInListOrderAndNewTasksRunInTheSamePass) {
  const auto path =
      WriteScript("a.mei", MainCreating(2) + " OpSetInt l1, 1\n OpSetInt l0, 3\n OpJump loop\n" +
                               Worker(1, 2, 3) + Worker(2, 3, 2) + kLoop);
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{1, 2, 3, 1, 2, 3, 1, 2}));
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
}

TEST_F(TaskTest, SwitchRunsTheRequestedTaskNext) {
  // T1 selects T3 and switches to it: T2 is passed over.
  const auto path = WriteScript("a.mei", MainCreating(2) + R"(
        .builtin 183, g0          ; SetTask T3
        OpSetInt l1, 1
        .builtin 283, l1
        .builtin 204              ; SwitchTask
        OpSetInt l0, 1
        OpJump loop
)" + Worker(1, 2, 2) + Worker(2, 3, 2) + kLoop);
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{1, 3, 1, 2, 3, 2}));
}

TEST_F(TaskTest, SwitchToAnEarlierTaskWrapsAroundTheList) {
  // T3 switches to T1 (whose task value main left in g1): T4 is passed over, the walk wraps to T1.
  const auto path = WriteScript("a.mei", MainCreating(3) + R"(
        .builtin 182              ; GetThisTask
        OpMove g1, g0
        OpSetInt l1, 1
        OpSetInt l0, 2
        OpJump loop
.export 2
        OpAddBase -2
        OpEnter 3
        OpSetInt l1, 3
        .builtin 283, l1
        .builtin 183, g1          ; SetTask T1
        .builtin 204              ; SwitchTask
        OpSetInt l0, 1
        OpJump loop
)" + Worker(1, 2, 2) + Worker(3, 4, 2) + kLoop);
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{1, 2, 3, 1, 2, 3, 4, 4}));
}

TEST_F(TaskTest, ASwitchRequestForATaskOutsideTheListIsDropped) {
  const auto path = WriteScript("a.mei",
                                ".method main\n OpAddBase -2\n OpEnter 3\n OpSetInt l1, 1\n OpSetInt l0, 2\n"
                                " OpJump loop\n" +
                                    std::string(kLoop));
  DRef<ScriptTask> main = LoadScript(path.c_str(), {}, 0, "main", kTaskList, true);
  ASSERT_TRUE(main && FindEntry(main));
  DRef<ScriptTask> orphan = LoadScript(path.c_str(), {}, 0, "main", kHandlerList, true);
  ASSERT_TRUE(orphan && FindEntry(orphan));
  SwitchRequest() = orphan;
  RunTaskLoop();  // would pass over `main` for ever if the request were kept
  EXPECT_EQ(Trace(), (Ints{1, 1}));
  EXPECT_FALSE(SwitchRequest());
}

TEST_F(TaskTest, ExitEndsEveryListedTaskBeforeItsNextInstruction) {
  const auto path = WriteScript("a.mei", MainCreating(2) + R"(
        OpSetInt l1, 1
        .builtin 283, l1
        .builtin 64               ; Exit
        .builtin 283, l1
        OpReturn
)" + Worker(1, 2, 2) + Worker(2, 3, 2) + kLoop);
  DRef<ScriptTask> handler = LoadScript(path.c_str(), {}, 1, nullptr, kHandlerList, true);
  ASSERT_TRUE(handler);
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{1}));
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
  EXPECT_EQ(TaskRegistry(kHandlerList).GetCount(), 1u);  // handlers are not touched
  EXPECT_NE(handler->context, nullptr);
  EXPECT_EQ(handler->run_flags & kVmRunEnd, 0u);
}

TEST_F(TaskTest, EndedTasksKeepTheirResults) {
  // T1 ends T2 with 5 before T2's first turn, yields once, then reads IsTaskEnd and GetTaskResult.
  // T3 ends itself with 7; main's own result is what it leaves in slot 0.
  const auto path = WriteScript("a.mei", MainCreating(1) + R"(
        .builtin 183, g0          ; SetTask T2
        OpSetInt l0, 5
        .builtin 184, l0          ; EndTask 5
        .builtin 162
        .builtin 186              ; IsTaskEnd
        .builtin 283, g0
        .builtin 187              ; GetTaskResult
        .builtin 283, g0
        OpSetInt g0, 42
        OpLeave 3
        OpReturn
.export 1
        OpSetInt g1, 99
        .builtin 283, g1
        OpHalt
.method ender
        OpAddBase -2
        OpEnter 1
        OpSetInt l0, 7
        .builtin 185, l0          ; EndThisTask 7
        .builtin 283, l0
        OpHalt
)");
  DRef<ScriptTask> ender = LoadScriptNamed(path.c_str(), "ender", kTaskList, true);
  ASSERT_TRUE(ender && FindEntry(ender));
  DRef<ScriptTask> main = RunMain(path);
  EXPECT_EQ(Trace(), (Ints{1, 5}));
  EXPECT_EQ(main->result.ToInt(), 42);
  EXPECT_EQ(ender->result.ToInt(), 7);
  EXPECT_EQ(ender->context, nullptr);
}

TEST_F(TaskTest, CreateTaskRetriesWithTheExtensionAndReportsOnlyTheSecondFailure) {
  WriteScript("sub/b.mei",
              ".globals 1\n.method main\n.export 0\n OpSetInt g0, 8\n .builtin 283, g0\n OpHalt\n");
  const auto path = WriteScript("a.mei", R"(
.globals 1
.method main
        OpSetString g0, "sub/b"
        OpSetInt g1, 0
        .builtin 66, g0, g1       ; CreateTask "sub/b" -> sub/b.mei
        OpSetString g0, "sub/b.mei"
        .builtin 66, g0, g1       ; found at once
        .builtin 162              ; both run before the next call
        OpSetString g0, "nothing.mei"
        .builtin 66, g0, g1       ; fails twice (the second time as nothing.mei.mei): reported
        .builtin 283, g1
        OpHalt
)");
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{8, 8}));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "スクリプトを読み込めません。\n\"" + dir_.string() + "/nothing.mei.mei\"");
  EXPECT_EQ(Boxes()[0].caption, "実行エラー");
  EXPECT_EQ(Boxes()[0].type, 0x10u);
}

TEST_F(TaskTest, TaskBuiltinsWithNothingOrAnEndedTaskSelected) {
  const auto path = WriteScript("a.mei", R"(
.globals 3
.method main
.export 0
        OpSetInt g0, 9
        .builtin 181              ; GetTask, nothing selected: 0
        .builtin 283, g0
        OpSetInt g0, 9
        .builtin 186              ; IsTaskEnd: 0, not 1
        .builtin 283, g0
        OpSetInt g0, 9
        .builtin 187              ; GetTaskResult: 0
        .builtin 283, g0
        OpSetInt g0, 9
        .builtin 196              ; GetTaskParam: 0
        .builtin 283, g0
        OpSetString g1, ""
        OpSetInt g2, 1
        .builtin 66, g1, g2       ; CreateTask "", export 1
        .builtin 183, g0          ; SetTask
        .builtin 162              ; Yield: the new task ends with 4
        .builtin 186              ; IsTaskEnd: 1
        .builtin 283, g0
        OpSetInt g2, 2
        .builtin 66, g1, g2       ; CreateTask "", export 2: traces 8 in its turn
        .builtin 204              ; SwitchTask to the ended task: nothing, not even a yield
        OpSetInt g2, 7
        .builtin 283, g2
        .builtin 162
        .builtin 187              ; GetTaskResult: 4
        .builtin 283, g0
        OpHalt
.export 1
        OpSetInt g0, 4
        OpHalt
.export 2
        OpSetInt g2, 8
        .builtin 283, g2
        OpHalt
)");
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{0, 0, 0, 0, 1, 7, 8, 4}));
  EXPECT_FALSE(SwitchRequest());
}

TEST_F(TaskTest, EmptyPathMakesAnInstanceSharingTheGlobals) {
  const auto path = WriteScript("a.mei", R"(
.globals 2
.method main
.export 0
        OpSetString g0, ""
        OpSetInt g1, 1
        .builtin 200, g0, g1, g1  ; CreateTaskParam "", export 1, parameter 1
        OpSetInt g1, 20
        .builtin 162
        .builtin 283, g1          ; the instance added 3
        OpHalt
.export 1
        .builtin 197              ; GetThisTaskParam
        .builtin 283, g0
        OpAddConstInt g1, 3
        OpHalt
)");
  RunMain(path);
  EXPECT_EQ(Trace(), (Ints{1, 23}));
}

TEST_F(TaskTest, StartMainTaskRunsMainOfAnImageInMemory) {
  const auto image = meiasm::Assemble(".method other\n OpHalt\n.method MAIN\n OpSetInt g0, 3\n OpHalt\n");
  const std::string path = dir_.string() + "/memory.mei";  // never read: the image is given
  ASSERT_TRUE(StartMainTask(image, path.c_str()));
  DRef<ScriptTask> main = TaskRegistry(kTaskList).Front();
  EXPECT_STREQ(main->path, path.c_str());
  RunTaskLoop();
  EXPECT_EQ(main->result.ToInt(), 3);

  const auto no_main = meiasm::Assemble(".method other\n OpHalt\n");
  EXPECT_FALSE(StartMainTask(no_main, path.c_str()));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "\"main\"メソッドが見つかりません。");
}

TEST_F(TaskTest, TheVmUnitStartsAndStopsThroughItsHooks) {
  static std::vector<std::string> calls;
  calls.clear();
  VmUnitHooks hooks;
  hooks.init_defaults = [](uint32_t flags) {
    calls.push_back("init " + std::to_string(flags));
    return flags == 0;  // say the screen has no image in one mode
  };
  hooks.reset_current_objects = [](uint32_t flags) { calls.push_back("reset " + std::to_string(flags)); };
  hooks.term_defaults = [] { calls.push_back("term"); };
  const VmUnitHooks saved = SetVmUnitHooks(hooks);
  SetStartupFlags(kStartupFlagsForTest);
  EXPECT_FALSE(InitVmUnit());
  SetStartupFlags(0);
  EXPECT_TRUE(InitVmUnit());

  const auto path = WriteScript("a.mei", ".method main\n OpHalt\n");
  DRef<ScriptTask> task = LoadScriptNamed(path.c_str(), "main", kTaskList, true);
  ASSERT_TRUE(task && FindEntry(task));
  EXPECT_TRUE(TermVmUnit());
  EXPECT_EQ(task->context, nullptr);
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
  EXPECT_EQ(calls, (std::vector<std::string>{"init 1", "init 0", "reset 0", "term"}));
  SetVmUnitHooks(saved);
}

}  // namespace
