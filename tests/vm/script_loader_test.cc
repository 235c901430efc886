// Tests of the loader: methods by name and export, shared images, the file forms, the execute function.
#include "vm/script_loader.h"

#include <gtest/gtest.h>

#include "tests/vm/script_task_fixture.h"

namespace {

using Ints = std::vector<int>;

// Methods that each trace their own number; "\x95\x41" is a double-byte name whose trail byte is 'A'.
constexpr const char* kMethods = R"(
.globals 2
.method Main
.export 0
        OpSetInt g1, 1
        .builtin 283, g1
        OpHalt
.method main
.export 1
        OpSetInt g1, 2
        .builtin 283, g1
        OpHalt
.method "\x95\x41"
        OpSetInt g1, 3
        .builtin 283, g1
        OpHalt
)";

TEST_F(TaskTest, EntriesByNameIgnoreAsciiCaseAndTakeTheFirstMatch) {
  const auto path = WriteScript("m.mei", kMethods);
  struct Case {
    const char* name;
    int32_t export_number;
    Ints trace;
    const char* message;
  };
  const Case cases[] = {
      {"MAIN", 0, {1}, nullptr},
      {"main", 0, {1}, nullptr},
      {"\x95\x41", 0, {3}, nullptr},
      {"\x95\x61", 0, {}, "\"\x95\x61\"メソッドが見つかりません。"},
      {"mai", 0, {}, "\"mai\"メソッドが見つかりません。"},
      {nullptr, 1, {2}, nullptr},
      {nullptr, 2, {}, "Export 2 属性のメソッドが見つかりません。"},
      {nullptr, -1, {}, "Export -1 属性のメソッドが見つかりません。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : std::to_string(c.export_number));
    Trace().clear();
    Boxes().clear();
    DRef<ScriptTask> task = LoadScript(path.c_str(), {}, c.export_number, c.name, kTaskList, true);
    ASSERT_TRUE(task);
    EXPECT_EQ(FindEntry(task), c.message == nullptr);
    RunTaskLoop();
    EXPECT_EQ(Trace(), c.trace);
    if (c.message) {
      ASSERT_EQ(Boxes().size(), 1u);
      EXPECT_EQ(Boxes()[0].text, c.message);
      EXPECT_EQ(Boxes()[0].caption, "実行エラー");
    } else {
      EXPECT_TRUE(Boxes().empty());
    }
    ResetEngineState();
  }
}

TEST_F(TaskTest, EntryNamesAreCutTo263Bytes) {
  const std::string name(263, 'n');
  const auto path =
      WriteScript("m.mei", ".method " + name + "\n OpSetInt g0, 4\n .builtin 283, g0\n OpHalt\n");
  DRef<ScriptTask> task = LoadScriptNamed(path.c_str(), (name + "nnnn").c_str(), kTaskList, true);
  ASSERT_TRUE(task && FindEntry(task));
  RunTaskLoop();
  EXPECT_EQ(Trace(), (Ints{4}));
}

TEST_F(TaskTest, ASecondLoadOfAPathSharesTheImageAndItsGlobals) {
  const auto path = WriteScript("Dir/s.mei", ".globals 2\n.method main\n.export 0\n OpHalt\n");
  DRef<ScriptTask> first = LoadScriptExport(path.c_str(), 0, kTaskList, true);
  ASSERT_TRUE(first);
  std::filesystem::remove(path);  // the second load must not read the file again
  std::string variant = path;     // other letter case and backslashes: the same script
  for (char& c : variant) c = c == '/' ? '\\' : c == 'D' ? 'd' : c == 's' ? 'S' : c;
  DRef<ScriptTask> second = LoadScriptExport(variant.c_str(), 0, kHandlerList, true);
  ASSERT_TRUE(second);
  first->context->SlotOrNull(1)->SetInt(7);
  EXPECT_EQ(second->context->SlotOrNull(1)->int_value(), 7);
  EXPECT_EQ(&first->context->image(), &second->context->image());

  // A new instance of a task shares them as well.
  DRef<ScriptTask> third = NewScriptTaskNamed(first, "main", kTaskList);
  ASSERT_TRUE(third);
  third->context->SlotOrNull(1)->SetInt(8);
  EXPECT_EQ(first->context->SlotOrNull(1)->int_value(), 8);
  EXPECT_STREQ(third->path, first->path);
  EXPECT_EQ(TaskRegistry(kTaskList).GetCount(), 2u);
}

TEST_F(TaskTest, ImagesLoadFromAWholeFileOrAnExecutable) {
  const auto image = meiasm::Assemble(".method main\n OpSetInt g0, 6\n .builtin 283, g0\n OpHalt\n");
  for (const auto& bytes : {image, meiasm::WrapInExecutable(image)}) {
    Trace().clear();
    WriteFile("Sub/X.exe", bytes);
    // Written for a case-blind file system: the name as the script gives it finds the file.
    const std::string path = dir_.string() + "/sub/x.EXE";
    DRef<ScriptTask> task = LoadScriptNamed(path.c_str(), "main", kTaskList, true);
    ASSERT_TRUE(task && FindEntry(task));
    RunTaskLoop();
    EXPECT_EQ(Trace(), (Ints{6}));
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TaskTest, UnloadableScriptsFailQuietlyOrWithTheLoadMessage) {
  auto damaged = meiasm::Assemble(".method main\n OpHalt\n");
  damaged[8] = 0xFF;  // method table past the end
  auto bad_magic = meiasm::Assemble(".method main\n OpHalt\n");
  bad_magic[0] = 'X';
  const std::string paths[] = {WriteFile("damaged.mei", damaged), WriteFile("magic.mei", bad_magic),
                               WriteFile("empty.mei", {}), dir_.string() + "/missing.mei"};
  // A running task that a reported failure ends.
  const auto keeper = WriteScript("k.mei", ".method main\n OpHalt\n");
  DRef<ScriptTask> running = LoadScriptNamed(keeper.c_str(), "main", kTaskList, true);
  ASSERT_TRUE(running && FindEntry(running));
  for (const auto& p : paths) {
    EXPECT_FALSE(LoadScriptNamed(p.c_str(), "main", kTaskList, false)) << p;
  }
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(running->run_flags, 0u);
  EXPECT_EQ(TaskRegistry(kTaskList).GetCount(), 1u);  // nothing of a failed load stays

  EXPECT_FALSE(LoadScriptNamed("missing.mei", "main", kTaskList, true));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "スクリプトを読み込めません。\n\"missing.mei\"");  // the path as given
  EXPECT_EQ(Boxes()[0].type, 0x10u);
  EXPECT_EQ(running->run_flags, kVmRunEnd);
}

TEST_F(TaskTest, ExecuteScriptFileRunsTheMethodToItsEndAndRetriesWithTheExtension) {
  WriteScript("a/b.mei", R"(
.globals 1
.method main
        OpSetInt g0, 9
        .builtin 283, g0
        .builtin 162              ; a yield does not stop a synchronous run
        .builtin 283, g0
        OpHalt
)");
  EXPECT_TRUE(ExecuteScriptFile("a/b", 0, "main"));
  EXPECT_EQ(Trace(), (Ints{9, 9}));
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());

  EXPECT_FALSE(ExecuteScriptFile("a/none", 0, "main"));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(ExecuteScriptFile("a/b", 0, "absent"));  // the entry's failure is reported
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "\"absent\"メソッドが見つかりません。");
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
}

TEST_F(TaskTest, ResetEngineStateEndsEveryTaskAndClearsTheRequests) {
  const auto path = WriteScript("r.mei", ".method main\n OpHalt\n");
  DRef<ScriptTask> a = LoadScriptNamed(path.c_str(), "main", kTaskList, true);
  DRef<ScriptTask> h = LoadScriptNamed(path.c_str(), "main", kHandlerList, true);
  ASSERT_TRUE(a && h && FindEntry(a));
  SwitchRequest() = a;
  *EventHandler(kEventClose) = h;
  ResetEngineState();
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
  EXPECT_TRUE(TaskRegistry(kHandlerList).IsEmpty());
  EXPECT_FALSE(SwitchRequest());
  EXPECT_FALSE(*EventHandler(kEventClose));
  EXPECT_EQ(a->context, nullptr);
  EXPECT_EQ(h->context, nullptr);
}

// Without a running task a path is made absolute against the program directory, whether set or
// not; a path from the root is taken as it is.
TEST_F(TaskTest, TaskPathsTakeTheProgramDirectoryAsTheirBase) {
  const std::string path = WriteScript("p.mei", ".method main\n OpHalt\n");
  const std::string dir = path.substr(0, path.rfind('/') + 1);
  const struct {
    std::string directory, path;
  } cases[] = {{dir, path}, {dir, "p.mei"}, {"/games/", path}, {"\\games\\", path}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.directory + " " + c.path);
    SetProgramDirectory(c.directory.c_str());
    DRef<ScriptTask> task = LoadScriptNamed(c.path.c_str(), "main", kTaskList, false);
    ASSERT_TRUE(task);
    EXPECT_EQ(std::string(task->path), path);
    EXPECT_EQ(GetProgramDirectory(), c.directory);
    ResetEngineState();
  }
}

}  // namespace
