// Plug-in functions and running scripts, in a program linked like orvane: the test plug-in binds
// every export by name and calls some of them inside CallPlugin; ovExecute and ovExecuteName find
// their scripts in different directories.
#include <filesystem>
#include <fstream>
#include <string>

#include "api/ov_api.h"
#include "api_fixture.h"
#include "platform/host.h"
#include "platform/win32.h"
#include "shell/cfilemanager.h"
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

// The game's sound and stream exports from a plug-in, then hostile arguments: failure values,
// no crash, and (under the leak checker) no handle left alive.
TEST_F(PluginFrame, MediaExportsFromAPlugin) {
  std::filesystem::create_directories(scratch_.Path("bgm"));
  std::string wav = "RIFF" + std::string("\x30\0\0\0", 4) + "WAVEfmt " +
                    std::string("\x10\0\0\0\1\0\2\0", 8) +
                    std::string("\x44\xAC\0\0\x10\xB1\2\0\4\0\x10\0", 12) + "data" +
                    std::string("\x0C\0\0\0", 4) + std::string(12, '\1');
  std::ofstream(scratch_.Path("bgm/intro.wav"), std::ios::binary) << wav;
  std::ofstream(scratch_.Path("se.wav"), std::ios::binary) << wav;
  std::ofstream(scratch_.Path("damaged.wav"), std::ios::binary) << wav.substr(0, 30);
  Str(1, "api_plugin");
  Call(kLoadPlugin, {1});
  PluginTrace();
  Str(1, "media");
  Call(kGetPluginFunction, {1});
  ASSERT_EQ(Result()->type(), kScriptPluginFunction);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSetPlugin, {2});
  Call(kCallPlugin);
  EXPECT_EQ(PluginTrace(),
            (std::vector<std::string>{"apiplugin media sound=1 stream=1 prelude=1 body=0 hostile=0"}));
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

// The file cases through the exports as a plug-in binds them, and a script's file and a plug-in's
// handle on one path, each reading what the other wrote.
TEST_F(PluginFrame, FilesThroughTheBoundExports) {
  StartFileUnit();
  scratch_.Write("crlf.txt", "a\r\nb");
  scratch_.Write("nul.txt", std::string("x\ny\0", 4));
  scratch_.Write("long.txt", std::string(2500, 'q'));
  scratch_.Write("lead.txt", "ab\x82");
  scratch_.Write("n.bin", "\x01\x02\x03\x04");
  scratch_.Write("h.bin", std::string(100, 'h'));
  Str(1, "api_plugin");
  Call(kLoadPlugin, {1});
  PluginTrace();
  auto call = [&](const char* name) {
    Str(1, name);
    Call(kGetPluginFunction, {1});
    ScriptValue::Assign(*Result(), Slot(2));
    Call(kSetPlugin, {2});
    Call(kCallPlugin);
    const auto lines = PluginTrace();
    return lines.empty() ? std::string() : lines.back();
  };
  EXPECT_EQ(
      call("filecases"),
      "apiplugin filecases crlf=\"a\",\"b\",null,-1 strings=\"x\ny\",null long=1023,1023,454, "
      "lead=\"ab\",null number=1,0,0x00000011 value=0x04030201 seeks=1:96,0:-1,0:-1,data2000=0 write=11 "
      "new=0111111 null=100 ");
  EXPECT_EQ(scratch_.Read("w.bin"),
            "\xff\xff\xff\xff"
            "5\n");
  EXPECT_FALSE(std::filesystem::exists(scratch_.Path("mode1")));

  constexpr uint32_t kCreateFile = 205, kSetFile = 207, kReadFileLine = 213, kWriteFileLine = 222;
  Str(3, "shared.txt");
  Int(4, 7);
  Call(kCreateFile, {3, 4});
  ASSERT_EQ(Result()->type(), kScriptFile);
  ScriptValue::Assign(*Result(), Slot(5));
  Result()->SetInt(0);
  Call(kSetFile, {5});
  EXPECT_EQ(call("fileshare"), "apiplugin fileshare write=1 ");
  Str(6, "");
  Call(kReadFileLine, {6});
  EXPECT_EQ(std::string(Slot(6)->text()), "from plugin");
  Str(6, "from script");
  Call(kWriteFileLine, {6});
  EXPECT_EQ(call("fileshare"), "apiplugin fileshare read=\"from script\" ");
  EXPECT_EQ(FileManager().EntryCount(), 1u);  // the script's file is still open
  Slot(5)->SetInt(0);
  Call(kSetFile, {5});
  EXPECT_EQ(FileManager().EntryCount(), 0u);  // closed with its last reference
  EXPECT_EQ(scratch_.Read("shared.txt"), "from plugin\nfrom script\n");
  StopFileUnit();
}

}  // namespace
