// Test fixture for tasks and loaders: fake boxes and pump, a trace built-in, scripts written to a temp dir.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tools/meiasm/meiasm.h"
#include "vm/dispatch.h"
#include "vm/script_loader.h"
#include "api/api_frame.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

// Built-in used by the test scripts to record numbers: `.builtin 283, l1` appends the int value.
inline constexpr uint32_t kTraceBuiltin = 283;

struct ShownBox {
  std::string text;
  std::string caption;
  uint32_t type;
};

class TaskTest : public ::testing::Test {
 protected:
  static std::vector<ShownBox>& Boxes() {
    static std::vector<ShownBox> boxes;
    return boxes;
  }
  static std::deque<int>& Answers() {  // answers of the next boxes; 1 (IDOK) when empty
    static std::deque<int> answers;
    return answers;
  }
  static std::vector<int>& Trace() {
    static std::vector<int> trace;
    return trace;
  }
  static std::function<void()>& OnPump() {  // runs at every message pump when set
    static std::function<void()> hook;
    return hook;
  }

  void SetUp() override {
    Boxes().clear();
    Answers().clear();
    Trace().clear();
    OnPump() = nullptr;
    VmServices s;
    s.message_box = [](const char* text, const char* caption, uint32_t type) {
      Boxes().push_back({text, caption, type});
      if (Answers().empty()) return 1;
      const int a = Answers().front();
      Answers().pop_front();
      return a;
    };
    s.exit_all_tasks = &ExitAllTasks;
    s.pump_messages = [] {
      if (OnPump()) OnPump()();
    };
    saved_ = SetVmServices(s);
    InstallTaskBuiltins();
    SetVmBuiltin(kTraceBuiltin, [](ScriptContext* ctx) {
      Trace().push_back(ctx->GetArg(1)->ToInt());
      return false;
    });
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // One directory per process: the test programs of this fixture run side by side under ctest.
    dir_ = std::filesystem::path(::testing::TempDir()) / ("orvane_vm_tasks_" + std::to_string(::getpid())) /
           info->test_suite_name() / info->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    SetProgramDirectory((dir_.string() + "/").c_str());
  }

  void TearDown() override {
    ResetEngineState();
    OnPump() = nullptr;
    SetVmBuiltin(kTraceBuiltin, nullptr);
    SetVmServices(saved_);
    std::filesystem::remove_all(dir_.parent_path().parent_path());
  }

  // Writes bytes to a file in the test's directory and gives its path.
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const auto path = dir_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
  }
  // Assembles the text form into a file in the test's directory and gives its path.
  std::string WriteScript(const std::string& name, const std::string& text) {
    return WriteFile(name, meiasm::Assemble(text));
  }

  // Loads the script as the program's first task (entry "main") and runs the task loop; gives the
  // first task, whose result stays readable.
  DRef<ScriptTask> RunMain(const std::string& path) {
    DRef<ScriptTask> task = LoadScript(path.c_str(), {}, 0, "main", kTaskList, true);
    EXPECT_TRUE(task);
    if (!task || !FindEntry(task)) return task;
    RunTaskLoop();
    return task;
  }

  std::filesystem::path dir_;

 private:
  VmServices saved_;
};
