// A headless run on the input script's virtual clock: long waits end at once with the time
// counted, presents and frame waits advance it by 60 frames a second, scripted input wakes a
// wait at its own time, and the window is asked to close after the last line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "api/input_script.h"
#include "input_fixture.h"
#include "base/dapplication.h"
#include "platform/dinput.h"
#include "platform/gdi.h"
#include "platform/host.h"
#include "platform/mmsystem.h"
#include "platform/user.h"
#include "shell/ceventwaiter.h"
#include "shell/cframetimer.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "shell/mouse_queue.h"
#include "tests/support/scratch_dir.h"

namespace {

enum : uint32_t { kWaitEvent = 65, kWaitKeyEvent = 103, kWaitMouseEvent = 104 };

class VirtualClockRun : public InputFrame {
 protected:
  void SetUp() override {
    InputFrame::SetUp();
    InputManager().ClearKey();  // the first poll acquires the keyboard
    Drain();
  }
  void TearDown() override {
    unsetenv("ORVANE_INPUT_SCRIPT");
    LoadInputScriptFromEnvironment();  // no script: nothing left scheduled
    orvane::host::KeepPresentedPicture(false);
    InputFrame::TearDown();
  }

  // Loads the script text as the engine does at start-up, then polls once as the machine's first
  // pump does (the script's time starts there).
  void Play(const std::string& text) {
    dir_.Write("in.txt", text);
    setenv("ORVANE_INPUT_SCRIPT", dir_.Path("in.txt").c_str(), 1);
    ASSERT_TRUE(LoadInputScriptFromEnvironment());
    unsetenv("ORVANE_INPUT_SCRIPT");
    ASSERT_TRUE(orvane::clock::IsVirtualClock());
    start_ = timeGetTime();
    PollInputScript();
  }

  // The messages left in the queue, as "message@ms" with the virtual time they were taken.
  std::vector<UINT> Drain() {
    std::vector<UINT> out;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) out.push_back(m.message);
    return out;
  }

  // Draws a pixel into the main window and presents it.
  void DrawAndPresent(int i) {
    HWND hwnd = MainWindow().GetHandle();
    HDC dc = GetDC(hwnd);
    PatBlt(dc, i % 640, 0, 1, 1, (i & 1) ? WHITENESS : BLACKNESS);
    ReleaseDC(hwnd, dc);
  }

  DWORD Since() const { return timeGetTime() - start_; }

  orvane_test::ScratchDir dir_{"virtual_clock_"};
  DWORD start_ = 0;
};

TEST_F(VirtualClockRun, TenMinutesOfWaitingPassAtOnceAndCount) {
  Play("virtual-clock\n700000 close\n");
  const DWORD t0 = timeGetTime();
  Int(1, 600000);
  Call(kWaitEvent, {1});
  EXPECT_EQ(Result()->ToInt(), 0);
  EXPECT_EQ(timeGetTime() - t0, 600000u);
  Sleep(1000);  // Sleep reads the same clock
  EXPECT_EQ(timeGetTime() - t0, 601000u);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(VirtualClockRun, PresentsAndFrameWaitsTakeSixtyFramesASecond) {
  // Frames paced by the frame timer: the presents between its waits add nothing.
  Play("virtual-clock\n100000 close\n");
  ASSERT_TRUE(FrameTimer().Init());
  DWORD t0 = timeGetTime();
  FrameTimer().Restart();
  for (int i = 0; i < 120; ++i) {
    DrawAndPresent(i);
    EXPECT_FALSE(FrameTimer().Wait()) << "frame " << i << " late";
  }
  EXPECT_EQ(timeGetTime() - t0, 2000u) << "presents paced by frame waits";
  FrameTimer().Term();

  // Presents with no wait between take a frame each.
  Play("virtual-clock\n100000 close\n");
  DrawAndPresent(0);
  t0 = timeGetTime();
  EXPECT_EQ(Since(), 0u) << "the first present follows no other";
  for (int i = 1; i <= 120; ++i) DrawAndPresent(i);
  EXPECT_EQ(timeGetTime() - t0, 2000u) << "presents without waits";
  for (int i = 1; i <= 3; ++i) DrawAndPresent(i);
  EXPECT_EQ(timeGetTime() - t0, 2050u) << "16, 17, 17";
  Sleep(5);
  t0 = timeGetTime();
  DrawAndPresent(0);
  EXPECT_EQ(timeGetTime() - t0, 0u) << "after a wait";
  DrawAndPresent(1);
  EXPECT_EQ(timeGetTime() - t0, 16u) << "a new run of frames";
}

TEST_F(VirtualClockRun, ScriptedInputWakesALongWaitAtItsOwnTime) {
  struct Case {
    const char* script;
    DWORD first_input;   // a message wait ends here
    uint32_t wait_flag;  // the built-in that makes the Event unit watch this input
    DWORD noticed_at;    // the Event unit's wait ends here
  } const cases[] = {
      // A click is in the mouse snapshot only at the end of the slice after the one it came in.
      {"virtual-clock\n4321 press left 10 20\n4400 release left 10 20\n60000 close\n", 4321, kWaitMouseEvent,
       4321 + CEventWaiter::kSliceMs},
      // The key poll after the wake sees the key at once; the move before it wakes nothing.
      {"virtual-clock\n3000 move 5 5\n7000 key-down 0x1C\n7100 key-up 0x1C\n60000 close\n", 3000,
       kWaitKeyEvent, 7000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Play(c.script);
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, QS_ALLINPUT), WAIT_OBJECT_0);
    EXPECT_EQ(Since(), c.first_input);
    Drain();
    Play(c.script);
    Int(1, 1);
    Call(c.wait_flag, {1});
    Int(1, 10000);
    Call(kWaitEvent, {1});
    EXPECT_EQ(Result()->ToInt(), 1);
    EXPECT_EQ(Since(), c.noticed_at);
    Int(1, 0);
    Call(c.wait_flag, {1});
    Drain();
  }
}

TEST_F(VirtualClockRun, WaitsStopAtEveryEventOnTheWayAndTheCloseFollowsTheLastLine) {
  struct Case {
    const char* script;
    std::vector<UINT> messages;  // what the queue holds after a wait past the last line
  } const cases[] = {
      {"virtual-clock\n100 move 1 1\n200 press left 1 1\n", {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_CLOSE}},
      {"virtual-clock\n100 move 1 1\n150 close\n", {WM_MOUSEMOVE, WM_CLOSE}},
      {"virtual-clock\n", {WM_CLOSE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Play(c.script);
    Sleep(5000);  // a sleep is not woken by input, but delivers it on its way
    EXPECT_EQ(Since(), 5000u);
    std::vector<UINT> got;
    for (UINT m : Drain()) {
      if (m == WM_MOUSEMOVE || m == WM_LBUTTONDOWN || m == WM_CLOSE) got.push_back(m);
    }
    EXPECT_EQ(got, c.messages);
  }

  // A message wait without a time limit goes on to the next event, and ends there.
  Play("virtual-clock\n2500 move 3 4\n9000 close\n");
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(Since(), 2500u);
  Drain();
  EXPECT_TRUE(WaitMessage());
  EXPECT_EQ(Since(), 9000u);
}

TEST_F(VirtualClockRun, WithoutTheSettingTheClockStaysReal) {
  dir_.Write("in.txt", "100 close\n");
  setenv("ORVANE_INPUT_SCRIPT", dir_.Path("in.txt").c_str(), 1);
  ASSERT_TRUE(LoadInputScriptFromEnvironment());
  unsetenv("ORVANE_INPUT_SCRIPT");
  EXPECT_FALSE(orvane::clock::IsVirtualClock());
}

}  // namespace
