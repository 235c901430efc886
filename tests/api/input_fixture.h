// A built-in frame with the engine's input side running headless: an application, the main
// window in the foreground, the Input and Event units and one running task.
#pragma once

#include "api_fixture.h"
#include "base/dapplication.h"
#include "platform/dinput.h"
#include "platform/host.h"
#include "platform/mmsystem.h"
#include "platform/user.h"
#include "shell/ceventwaiter.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "shell/mouse_queue.h"

class InputFrame : public BuiltinFrame {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
    orvane::host::ResetHeadless();
    orvane::dinput::HubReset();
    ASSERT_TRUE(MainWindow().Create());
    orvane::host::HostFocusChanged(MainWindow().GetHandle(), true);
    ASSERT_TRUE(InputManager().Init());
    InputManager().Pad().ResetKeyMap();
    ASSERT_TRUE(EventWaiter().Init());
    EngineMouseQueues().Reset();
    task_.Alloc(1);
    TaskRegistry(kTaskList).PushBack(task_);
  }
  // Stops the units, drops every queued message and returns to the real clock.
  void TearDown() override {
    ClearCurrentObjects();
    EventWaiter().Term();
    InputManager().Term();
    TaskRegistry(kTaskList).Clear();
    task_.Release();
    MainWindow().Destroy();
    orvane::dinput::HubReset();
    orvane::clock::UseRealClock();
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    DSetApplication(nullptr);
    BuiltinFrame::TearDown();
  }

  DApplication app_;
  DRef<ScriptTask> task_;
};
