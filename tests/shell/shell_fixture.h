// Shared set-up of the shell tests: an application object with a chosen argument list, the
// script machine's services as the program installs them, fake unit tables and the trace of
// message boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "platform/host.h"
#include "platform/mmsystem.h"
#include "shell/cmainwindow.h"
#include "shell/engine.h"
#include "shell/engine_units.h"
#include "api/api_frame.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

namespace shell_test {

// What the fake units did, in order ("start Window", "stop Midi", "suspend Sound" ...).
inline std::vector<std::string>& Calls() {
  static std::vector<std::string> calls;
  return calls;
}

// Start results of fake units by name (default: success).
inline std::vector<std::pair<std::string, bool>>& StartResults() {
  static std::vector<std::pair<std::string, bool>> results;
  return results;
}

inline int EngineBox(const char* text, const char* caption, uint32_t type) {
  return MainWindow().MessageBox(DString(text ? text : ""), DString(caption), type);
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
    saved_services_ = GetVmServices();
    VmServices s = saved_services_;
    s.message_box = EngineBox;
    s.exit_all_tasks = ExitAllTasks;
    s.pump_messages = [] { DPumpMessages(); };
    SetVmServices(s);
    InstallTaskBuiltins();
    saved_units_ = EngineUnits();
    Calls().clear();
    StartResults().clear();
    orvane::host::ResetHeadless();
  }
  void TearDown() override {
    MainWindow().Destroy();
    EngineUnits() = saved_units_;
    SetVmServices(saved_services_);
    DSetApplication(nullptr);
    orvane::clock::UseRealClock();
    orvane::clock::FailTimerCaps(false);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  void AddArgument(const std::string& text) {
    DRef<char> r;
    r.Alloc(static_cast<uint32_t>(text.size() + 1));
    std::memcpy(r.Get(), text.c_str(), text.size() + 1);
    app_.GetArguments().PushBack(r);
  }

  // The message boxes shown since the last call: "caption|text|type".
  static std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (const std::string& line : orvane::host::TakeTrace()) {
      if (line.rfind("messagebox '", 0) != 0) continue;
      // messagebox 'caption' 'text' type
      size_t c1 = line.find('\'');
      size_t c2 = line.find('\'', c1 + 1);
      size_t t1 = line.find('\'', c2 + 1);
      size_t t2 = line.rfind('\'');
      out.push_back(line.substr(c1 + 1, c2 - c1 - 1) + "|" + line.substr(t1 + 1, t2 - t1 - 1) + "|" +
                    line.substr(t2 + 2));
    }
    return out;
  }

  DApplication app_;
  VmServices saved_services_;
  std::vector<EngineUnit> saved_units_;
};

// A fake unit that records its calls; its start result comes from StartResults().
template <int N>
struct FakeUnit {
  static const char*& Name() {
    static const char* name = "";
    return name;
  }
  static bool Start() {
    Calls().push_back(std::string("start ") + Name());
    for (auto& [n, ok] : StartResults())
      if (n == Name()) return ok;
    return true;
  }
  static void Stop() { Calls().push_back(std::string("stop ") + Name()); }
  static void Suspend() { Calls().push_back(std::string("suspend ") + Name()); }
  static void Resume() { Calls().push_back(std::string("resume ") + Name()); }
  static void UseGdi(bool on) { Calls().push_back(std::string(on ? "gdi+ " : "gdi- ") + Name()); }
  static void TimePause(bool on) { Calls().push_back(std::string(on ? "pause+ " : "pause- ") + Name()); }
};

template <int N>
EngineUnit Fake(const char* name, UnitVariant variant, bool stop_on_failure, const char* log) {
  FakeUnit<N>::Name() = name;
  EngineUnit u{name, variant, FakeUnit<N>::Start, FakeUnit<N>::Stop, stop_on_failure, log};
  // The hooks the real units have: MIDI, sound and movies pause and take the pause choice; the
  // display redraws on resume and has the GDI mode.
  std::string n = name;
  bool media = n == "Midi" || n == "Sound" || n == "Movie";
  bool display = n == "Draw" || n == "TSS";
  if (media) u.suspend = FakeUnit<N>::Suspend;
  if (media || n == "Draw") u.resume = FakeUnit<N>::Resume;
  if (display) u.use_gdi = FakeUnit<N>::UseGdi;
  if (media) u.set_time_pause = FakeUnit<N>::TimePause;
  return u;
}

// The engine's table with every unit but the window, the timer and the VM replaced by fakes.
inline std::vector<EngineUnit> FakeTable(bool real_window) {
  std::vector<EngineUnit> units = DefaultEngineUnits();
  std::vector<EngineUnit> out;
  int i = 0;
  for (const EngineUnit& u : units) {
    std::string n = u.name;
    bool keep = (n == "Window" && real_window) || n == "Time" || n == "VM" || n == "Plugin";
    if (keep) {
      out.push_back(u);
      continue;
    }
    EngineUnit f;
    switch (i++) {
#define FAKE_CASE(k)                                               \
  case k:                                                          \
    f = Fake<k>(u.name, u.variant, u.stop_on_failure, u.log_line); \
    break;
      FAKE_CASE(0)
      FAKE_CASE(1) FAKE_CASE(2) FAKE_CASE(3) FAKE_CASE(4) FAKE_CASE(5) FAKE_CASE(6) FAKE_CASE(7) FAKE_CASE(8)
          FAKE_CASE(9) FAKE_CASE(10) FAKE_CASE(11) FAKE_CASE(12) FAKE_CASE(13)
#undef FAKE_CASE
              default : break;
    }
    out.push_back(f);
  }
  return out;
}

}  // namespace shell_test
