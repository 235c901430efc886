// Plug-in functions and running scripts, in a program linked like orvane: the test plug-in binds
// every export by name and calls some of them inside CallPlugin; ovExecute and ovExecuteName find
// their scripts in different directories.
#include <filesystem>
#include <fstream>
#include <string>

#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/dapplication.h"
#include "platform/host.h"
#include "platform/win32.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
#include "shell/cpluginmanager.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"
#include "vm/script_loader.h"

namespace {

constexpr uint32_t kLoadPlugin = 224, kGetPluginFunction = 225, kGetPlugin = 226, kSetPlugin = 227,
                   kCallPlugin = 228, kTrace = 283;

std::vector<int>& Traced() {
  static std::vector<int> t;
  return t;
}

class PluginFrame : public BuiltinFrame {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    orvane::host::ResetHeadless();
    std::filesystem::copy_file(std::string(ORVANE_BINARY_DIR) + "/bin/test_plugins/api_plugin.opi",
                               scratch_.Path("api_plugin.opi"));
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
    Traced().clear();
    SetVmBuiltin(kTrace, [](ScriptContext* ctx) {
      Traced().push_back(ctx->GetArg(1)->ToInt());
      return false;
    });
  }
  void TearDown() override {
    CurrentTask().Release();
    EndAllTasks();
    PluginManager().UnloadAll();
    BuiltinFrame::TearDown();
  }
  // A script whose main (export 0) records `mark`.
  std::string Script(const std::string& relative, int mark) {
    const std::string path = scratch_.Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const auto bytes =
        meiasm::Assemble(".globals 1\n.method main\n.export 0\n OpAddBase -2\n OpEnter 2\n OpSetInt l1, " +
                         std::to_string(mark) + "\n .builtin 283, l1\n OpLeave 2\n OpReturn\n");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }
  static std::vector<std::string> PluginTrace() {
    std::vector<std::string> out;
    for (const std::string& line : orvane::host::TakeTrace())
      if (line.rfind("apiplugin ", 0) == 0) out.push_back(line);
    return out;
  }

  orvane_test::ScratchDir scratch_{"orvane_api_plugin_"};
};

TEST_F(PluginFrame, APluginBindsEveryExportAndItsFunctionsRunInsideCallPlugin) {
  Str(1, "api_plugin");
  Call(kLoadPlugin, {1});
  ASSERT_TRUE(Boxes().empty());
  const auto loaded = PluginTrace();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0], "apiplugin bound=279");

  // A task in the list shows whether the engine was asked to end.
  const std::string main = Script("main.mei", 1);
  DRef<ScriptTask> task = LoadScript(main.c_str(), {}, 0, "main", kTaskList, true);
  ASSERT_TRUE(task);

  Str(1, "PROBE");  // names compare without regard to case
  Call(kGetPluginFunction, {1});
  ASSERT_EQ(Result()->type(), kScriptPluginFunction);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSetPlugin, {2});
  Int(0, 55);
  Call(kCallPlugin);
  EXPECT_EQ(Result()->ToInt(), 55);  // the result 7 is dropped
  const auto probed = PluginTrace();
  ASSERT_EQ(probed.size(), 1u);
  EXPECT_EQ(probed[0], "apiplugin probe 0 delay=16.666672 slash=a/b random=4 isexit=0 size=0,0");
  EXPECT_EQ(task->run_flags & kVmRunEnd, 0u);

  Str(1, "quit");
  Call(kGetPluginFunction, {1});
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSetPlugin, {2});
  Call(kCallPlugin);  // a function giving 0 ends every task
  EXPECT_NE(task->run_flags & kVmRunEnd, 0u);
  EXPECT_EQ(ovIsExit(), 1);

  // Selecting a non-function clears the selection; GetPlugin then gives 0, CallPlugin does nothing.
  Int(2, 0);
  Call(kSetPlugin, {2});
  Call(kGetPlugin);
  EXPECT_EQ(Result()->type(), kScriptInt);
  Call(kCallPlugin);
  EXPECT_TRUE(Boxes().empty());
}

// The net exports bound by name in a plug-in: a loopback pair moves a number, a float, a line and
// raw bytes with the receive exports' destination-first order.
TEST_F(PluginFrame, APluginTalksOverLoopbackThroughTheNetExports) {
  DApplication app;
  app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
  DSetApplication(&app);
  ASSERT_TRUE(MainWindow().Create());
  ASSERT_TRUE(StartNetUnit());
  Str(1, "api_plugin");
  Call(kLoadPlugin, {1});
  PluginTrace();
  Str(1, "netprobe");
  Call(kGetPluginFunction, {1});
  ASSERT_EQ(Result()->type(), kScriptPluginFunction);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSetPlugin, {2});
  Call(kCallPlugin);
  EXPECT_EQ(PluginTrace(),
            (std::vector<std::string>{
                "apiplugin net sent=4 number=-2 float=1.50 line=ab data=xyz connect=1 accept=0"}));
  StopNetUnit();
  MainWindow().Destroy();
  DSetApplication(nullptr);
}

TEST_F(PluginFrame, AnEngineLackingOneExportFailsTheBinding) {
  HMODULE plugin = LoadLibraryA(scratch_.Path("api_plugin.opi").c_str());
  ASSERT_NE(plugin, nullptr);
  auto load_system = reinterpret_cast<int32_t (*)(const char*)>(GetProcAddress(plugin, "ovLoadSystem"));
  ASSERT_NE(load_system, nullptr);
  const std::string fake = std::string(ORVANE_BINARY_DIR) + "/bin/test_plugins/api_engine_missing_one.opi";
  EXPECT_EQ(load_system(fake.c_str()), 0);
  EXPECT_EQ(PluginTrace(), (std::vector<std::string>{"apiplugin bound=278"}));
  FreeLibrary(plugin);
}

TEST_F(PluginFrame, MissingModulesAndFunctionsRaiseTheirMessages) {
  Str(1, "no_such_plugin");
  Int(0, 3);
  Call(kLoadPlugin, {1});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("プラグインを読み込めません。"), std::string::npos);
  Boxes().clear();
  Str(1, "nothing");
  Call(kGetPluginFunction, {1});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("プラグイン関数が見つかりません。"), std::string::npos);
  EXPECT_EQ(Result()->ToInt(), 3);
}

TEST_F(PluginFrame, ExecuteUsesTheProgramsDirectoryAndExecuteNameTheRunningScripts) {
  Script("x.mei", 10);
  Script("sub/x.mei", 20);
  const std::string runner = Script("sub/runner.mei", 0);
  CurrentTask() = LoadScript(runner.c_str(), {}, 0, "main", kTaskList, true);
  ASSERT_TRUE(CurrentTask());
  EXPECT_EQ(ovExecute("x.mei", 0), 1);
  EXPECT_EQ(ovExecuteName("x.mei", "main"), 1);
  EXPECT_EQ(ovExecute("x", 0), 1);  // ".mei" is tried second
  EXPECT_EQ(Traced(), (std::vector<int>{10, 20, 10}));
  EXPECT_EQ(ovExecute("missing.mei", 0), 0);
  EXPECT_EQ(ovExecuteName("x.mei", "nomethod"), 0);
}

}  // namespace
