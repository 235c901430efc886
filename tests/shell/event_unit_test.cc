// The Event unit on the virtual clock: slices, nets, input devices, mouse and the end of tasks.
#include <gtest/gtest.h>

#include "platform/dinput.h"
#include "platform/mmsystem.h"
#include "shell/ceventwaiter.h"
#include "shell/cmainwindow.h"
#include "shell_fixture.h"
#include "vm/dispatch.h"

namespace {

DRef<ScriptTask> g_task;

class EventUnitTest : public shell_test::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    orvane::dinput::HubReset();
    ASSERT_TRUE(MainWindow().Create());
    orvane::host::HostFocusChanged(MainWindow().GetHandle(), true);
    ASSERT_TRUE(InputManager().Init());
    ASSERT_TRUE(NetManager().Init());
    ASSERT_TRUE(ew.Init());
    // One live task: waits end when every task has ended.
    g_task.Alloc(1);
    TaskRegistry(kTaskList).PushBack(g_task);
    orvane::clock::UseVirtualClock(1000);
  }
  void TearDown() override {
    ew.Term();
    NetManager().Term();
    InputManager().Term();
    TaskRegistry(kTaskList).Clear();
    g_task.Release();
    ShellTest::TearDown();
  }
  CEventWaiter& ew = EventWaiter();
};

TEST_F(EventUnitTest, ZeroTimeoutIsOnePass) {
  DWORD t0 = timeGetTime();
  EXPECT_FALSE(ew.Wait(0));
  EXPECT_EQ(timeGetTime() - t0, 0u);
  EXPECT_FALSE(ew.Wait(60));
  EXPECT_EQ(timeGetTime() - t0, 60u);  // slices of 25, 25, 10
}

TEST_F(EventUnitTest, NineNetsGrowTheArrayAndEachWakes) {
  std::vector<DRef<CNet>> nets;
  // Listeners on ports the system chooses, so that no other program on the machine aims at them.
  for (int tries = 0; nets.size() < 9 && tries < 100; ++tries) {
    DRef<CNet> n;
    NetManager().Bind(&n, 0, 1);
    if (n) nets.push_back(n);
  }
  ASSERT_EQ(nets.size(), 9u);
  for (const DRef<CNet>& n : nets) ew.AddNet(n);
  ew.AddNet(nets[3]);  // once only
  EXPECT_EQ(ew.NetCount(), 9u);
  // A new net's event starts signalled: nine wakes, one per net, then none.
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(ew.Wait(0)) << i;
  EXPECT_EQ(ew.Capacity(), 16u);
  EXPECT_EQ(ew.Count(), 9u);
  EXPECT_FALSE(ew.Wait(0)) << [&] {
    std::string flags;
    for (auto& n : nets) flags += std::to_string(n->Flags()) + " ";
    return flags;
  }();
  nets[8]->GetEvent().Set();
  EXPECT_TRUE(ew.Wait(0xFFFFFFFFu));
}

TEST_F(EventUnitTest, MouseClickWakesWithinTwoSlices) {
  ew.SetWaitMouse(true);
  EXPECT_FALSE(ew.Wait(0));
  // A click queued before the wait and not yet taken wakes it after the first slice.
  SendMessageA(MainWindow().GetHandle(), WM_LBUTTONDOWN, 0, MAKELPARAM(5, 6));
  DWORD t0 = timeGetTime();
  EXPECT_TRUE(ew.Wait(1000));
  EXPECT_EQ(timeGetTime() - t0, 25u);
  uint32_t kind = 9;
  int32_t x = 0, y = 0;
  ASSERT_TRUE(InputManager().PopMouseEvent(&kind, &x, &y));
  EXPECT_EQ(kind, 0u);
  EXPECT_EQ(x, 5);
  // A click that comes while the first slice's messages are dispatched is reported at the end
  // of the second slice.
  WndProcHook click = [](LRESULT* result, HWND h, UINT message, WPARAM, LPARAM) -> BOOL {
    if (message != WM_USER + 50) return FALSE;
    SendMessageA(h, WM_RBUTTONDOWN, 0, MAKELPARAM(1, 2));
    *result = 0;
    return TRUE;
  };
  MainWindow().AddWndProc(click);
  PostMessageA(MainWindow().GetHandle(), WM_USER + 50, 0, 0);
  t0 = timeGetTime();
  EXPECT_TRUE(ew.Wait(0xFFFFFFFFu));
  // The first slice ends at once (a message is queued); the click shows after the second.
  EXPECT_EQ(timeGetTime() - t0, 25u);
  MainWindow().DelWndProc(click);
  ASSERT_TRUE(InputManager().PopMouseEvent(&kind, &x, &y));
  EXPECT_EQ(kind, 2u);
  // Clear ends mouse (and key) waking.
  ew.Clear();
  EXPECT_EQ(ew.Flags(), CEventWaiter::kRebuild);
  SendMessageA(MainWindow().GetHandle(), WM_LBUTTONDOWN, 0, 0);
  EXPECT_FALSE(ew.Wait(50));
}

TEST_F(EventUnitTest, KeysAndDevicesWake) {
  InputManager().Pad().ResetKeyMap();
  ew.SetWaitKey(true);
  EXPECT_FALSE(ew.Wait(0));  // acquires the keyboard
  orvane::dinput::HubKey(DIK_SPACE, true);
  EXPECT_TRUE(ew.Wait(100));
  ew.Clear();
  DRef<CInputDevice> kb = InputManager().GetDevice(0);
  ew.AddInput(kb);
  ew.AddInput(InputManager().GetDevice(0));  // the same device: once
  EXPECT_EQ(ew.InputCount(), 1u);
  for (int i = 0; i < 3 && ew.Wait(0); ++i) {
  }
  EXPECT_FALSE(ew.Wait(0));
  orvane::dinput::HubKey(DIK_LEFT, true);
  EXPECT_TRUE(ew.Wait(100));
  int32_t slot = 0, kind = 0;
  ASSERT_TRUE(kb->GetEvent(&slot, &kind));
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(kind, 1);
}

TEST_F(EventUnitTest, EndlessWaitEndsWithTheTasks) {
  SetTimer(MainWindow().GetHandle(), 78, 100, [](HWND h, UINT, UINT_PTR id, DWORD) {
    KillTimer(h, id);
    g_task->run_flags |= kVmRunEnd;
  });
  DWORD t0 = timeGetTime();
  EXPECT_TRUE(ew.Wait(0xFFFFFFFFu));
  EXPECT_GE(timeGetTime() - t0, 100u);
}

}  // namespace
