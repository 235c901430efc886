// Tests of the main window by injected messages: suspension counting, mouse events and capture,
// the cursor, hooks, the close event, GDI mode.
#include "shell/cframetimer.h"
#include "shell/mouse_queue.h"
#include "vm/startup_config.h"
#include "shell_fixture.h"

namespace {

using namespace shell_test;

class Window : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    EngineUnits() = FakeTable(true);
    ASSERT_TRUE(MainWindow().Create());
    hwnd_ = MainWindow().GetHandle();
    Calls().clear();
    EngineMouseQueues().Reset();
  }
  LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageA(hwnd_, message, wparam, lparam);
  }
  std::vector<uint32_t> QueuedKinds() {
    std::vector<uint32_t> out;
    for (int i = 0; i < EngineMouseQueues().LiveCount(); ++i) out.push_back(EngineMouseQueues().Live(i).kind);
    return out;
  }
  HWND hwnd_ = nullptr;
};

TEST_F(Window, CreationMakesTheWindowAndTheFirstActivationOnlySetsFlags) {
  char title[64];
  GetWindowTextA(hwnd_, title, sizeof title);
  EXPECT_STREQ(title, "オルベイン");
  RECT client;
  GetClientRect(hwnd_, &client);
  EXPECT_EQ(client.right - client.left, 640);
  EXPECT_EQ(client.bottom - client.top, 480);
  EXPECT_TRUE(IsWindowVisible(hwnd_));
  EXPECT_EQ(MainWindow().GetStateFlags() & (CMainWindow::kActive | CMainWindow::kFocus),
            CMainWindow::kActive | CMainWindow::kFocus);
  EXPECT_EQ(MainWindow().GetSuspendCount(), 0u);
  EXPECT_TRUE(Calls().empty());
  EXPECT_STREQ(MainWindow().GetCopyright().GetText(), "no message.");
  EXPECT_NE(GetMenu(hwnd_), nullptr);
}

TEST_F(Window, AltTabSuspendsOnceAndResumesOnceInOrder) {
  ASSERT_EQ(GetFocus(), hwnd_);
  orvane::host::HostFocusChanged(hwnd_, false);
  EXPECT_EQ(MainWindow().GetSuspendCount(), 2u);  // inactive and without focus
  EXPECT_TRUE(FrameTimer().GetFlags() & CFrameTimer::kSuspended);
  orvane::host::HostFocusChanged(hwnd_, true);
  EXPECT_EQ(MainWindow().GetSuspendCount(), 0u);
  // Time is the real frame timer: only the fakes show up here.
  EXPECT_EQ(Calls(),
            (std::vector<std::string>{"suspend Midi", "suspend Sound", "suspend Movie", "resume Midi",
                                      "resume Sound", "resume Movie", "resume Draw"}));
  EXPECT_EQ(GetFocus(), hwnd_);
  // The frame timer held while suspended and restarts its counting at the next wait.
  EXPECT_EQ(FrameTimer().GetFlags() & (CFrameTimer::kSuspended | CFrameTimer::kRestart), CFrameTimer::kRestart);
}

TEST_F(Window, WithNomenuTheWindowHasNoMenuBar) {
  MainWindow().Destroy();
  SetStartupFlags(kStartupNoMenu);
  ASSERT_TRUE(MainWindow().Create());
  EXPECT_EQ(GetMenu(MainWindow().GetHandle()), nullptr);
  SetStartupFlags(0);
}

TEST_F(Window, MenuAndSizeLoopsCountOnceEach) {
  Send(WM_ENTERMENULOOP);
  Send(WM_ENTERMENULOOP);
  EXPECT_EQ(MainWindow().GetSuspendCount(), 1u);
  Send(WM_ENTERSIZEMOVE);
  EXPECT_EQ(MainWindow().GetSuspendCount(), 2u);
  Send(WM_EXITMENULOOP);
  Send(WM_EXITSIZEMOVE);
  Send(WM_EXITSIZEMOVE);
  EXPECT_EQ(MainWindow().GetSuspendCount(), 0u);
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "suspend Sound"), 1);
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "resume Sound"), 1);
}

TEST_F(Window, MouseButtonsQueueEventsAndTheFirstButtonOwnsTheCapture) {
  Send(WM_LBUTTONDOWN, 0, MAKELONG(10, 20));
  EXPECT_EQ(GetCapture(), hwnd_);
  Send(WM_RBUTTONDOWN, 0, MAKELONG(11, 21));
  Send(WM_MOUSEMOVE, 0, MAKELONG(-5 & 0xFFFF, 7));
  Send(WM_MOUSEMOVE, 0, MAKELONG(-6 & 0xFFFF, 8));  // updates the queued move
  Send(WM_LBUTTONUP, 0, MAKELONG(12, 22));
  EXPECT_EQ(GetCapture(), nullptr);
  Send(WM_RBUTTONUP, 0, MAKELONG(13, 23));
  EXPECT_EQ(QueuedKinds(), (std::vector<uint32_t>{0, 2, 3, 4, 6}));
  EXPECT_EQ(EngineMouseQueues().Live(2).x, -6);
  EXPECT_EQ(EngineMouseQueues().Live(2).y, 8);

  // A cancelled capture queues event 7 at (0, 0) once.
  EngineMouseQueues().Reset();
  Send(WM_MBUTTONDOWN, 0, MAKELONG(1, 1));
  EXPECT_EQ(MainWindow().GetCapturedButton(), 1u);
  Send(WM_CANCELMODE);
  Send(WM_CANCELMODE);
  EXPECT_EQ(QueuedKinds(), (std::vector<uint32_t>{1, 7}));
  EXPECT_EQ(EngineMouseQueues().Live(1).x, 0);
  EXPECT_EQ(GetCapture(), nullptr);

  // Losing the host's focus during a capture cancels it the same way.
  EngineMouseQueues().Reset();
  Send(WM_LBUTTONDOWN, 0, 0);
  orvane::host::HostFocusChanged(hwnd_, false);
  EXPECT_EQ(QueuedKinds(), (std::vector<uint32_t>{0, 7}));
  orvane::host::HostFocusChanged(hwnd_, true);
}

TEST_F(Window, TheMouseQueueHolds64EventsAndSnapshotsThem) {
  for (int i = 0; i < 70; ++i) Send(WM_LBUTTONDOWN + (i % 2), 0, MAKELONG(i, 0));
  EXPECT_EQ(EngineMouseQueues().LiveCount(), 64);
  EngineMouseQueues().ClearMouse();
  uint32_t kind;
  int32_t x, y;
  int n = 0;
  while (EngineMouseQueues().PopMouseEvent(&kind, &x, &y)) ++n;
  EXPECT_EQ(n, 64);
  EXPECT_EQ(x, 63);
  EXPECT_FALSE(EngineMouseQueues().PopMouseEvent(&kind, &x, &y));
}

TEST_F(Window, TheCursorIsHiddenOverTheClientAreaOnly) {
  MainWindow().ShowCursor(false);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd_), MAKELONG(HTCAPTION, WM_MOUSEMOVE)), 0);
  EXPECT_NE(GetCursor(), nullptr);
  EXPECT_EQ(Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd_), MAKELONG(HTCLIENT, WM_MOUSEMOVE)), 1);
  EXPECT_EQ(GetCursor(), nullptr);
  // A mouse message dispatched from the queue is preceded by WM_SETCURSOR.
  MainWindow().ShowCursor(true);
  PostMessageA(hwnd_, WM_MOUSEMOVE, 0, 0);
  DPumpMessages();
  EXPECT_NE(GetCursor(), nullptr);
  MainWindow().ShowCursor(false);
  PostMessageA(hwnd_, WM_MOUSEMOVE, 0, 0);
  DPumpMessages();
  EXPECT_EQ(GetCursor(), nullptr);
}

std::vector<std::string> g_hooks;
BOOL HookA(LRESULT* result, HWND, UINT message, WPARAM, LPARAM) {
  g_hooks.push_back("A");
  if (message == WM_USER + 9) {
    *result = 77;
    return TRUE;
  }
  return FALSE;
}
BOOL HookClaimsWithoutResult(LRESULT*, HWND, UINT message, WPARAM, LPARAM) {
  g_hooks.push_back("C");
  return message == WM_USER + 8;
}
BOOL HookB(LRESULT*, HWND, UINT, WPARAM, LPARAM) {
  g_hooks.push_back("B");
  return FALSE;
}
BOOL HookRemovingB(LRESULT*, HWND, UINT, WPARAM, LPARAM) {
  g_hooks.push_back("R");
  MainWindow().DelWndProc(HookB);
  return FALSE;
}

TEST_F(Window, HooksRunInOrderBeforeTheWindowsOwnHandling) {
  g_hooks.clear();
  MainWindow().AddWndProc(HookA);
  MainWindow().AddWndProc(HookA);
  MainWindow().DelWndProc(HookA);  // every entry goes
  MainWindow().AddWndProc(HookB);
  MainWindow().AddWndProc(HookA);
  EXPECT_EQ(Send(WM_USER + 9), 77);
  EXPECT_EQ(g_hooks, (std::vector<std::string>{"B", "A"}));

  MainWindow().AddWndProc(HookClaimsWithoutResult);
  EXPECT_EQ(Send(WM_USER + 8), 0);  // the result a hook did not write is 0

  // A hook removing a later hook during the walk: the walk goes on without it.
  MainWindow().DelWndProc(HookA);
  MainWindow().DelWndProc(HookB);
  MainWindow().DelWndProc(HookClaimsWithoutResult);
  MainWindow().AddWndProc(HookRemovingB);
  MainWindow().AddWndProc(HookB);
  MainWindow().AddWndProc(HookA);
  g_hooks.clear();
  Send(WM_USER + 9);
  EXPECT_EQ(g_hooks, (std::vector<std::string>{"R", "A"}));
}

int g_box_calls = 0;
int CloseAgainBox(const char*, const char*, uint32_t) {
  ++g_box_calls;
  // The user clicks the close box again while the question is up.
  SendMessageA(MainWindow().GetHandle(), WM_CLOSE, 0, 0);
  return IDNO;
}

TEST_F(Window, ASecondCloseDuringTheCloseEventOnlyBeeps) {
  VmServices s = GetVmServices();
  s.message_box = CloseAgainBox;
  SetVmServices(s);
  g_box_calls = 0;
  orvane::host::TakeTrace();
  Send(WM_CLOSE);
  EXPECT_EQ(g_box_calls, 1);
  auto trace = orvane::host::TakeTrace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "beep 16"), 1);
  EXPECT_TRUE(IsWindow(hwnd_));  // closing never destroys the window
  EXPECT_FALSE(MainWindow().InCloseEvent());
  Send(WM_COMMAND, CMainWindow::kCommandExit);
  EXPECT_EQ(g_box_calls, 2);
}

TEST_F(Window, GdiModeIsOneRequestHoweverOftenItIsAskedFor) {
  MainWindow().UseGDI(true);
  MainWindow().UseGDI(true);
  MainWindow().UseGDI(false);
  MainWindow().UseGDI(false);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"gdi+ Draw", "gdi- Draw"}));
  Calls().clear();
  MainWindow().MessageBox(DString("text"), DString(), MB_OK);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"gdi+ Draw", "gdi- Draw"}));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Error|text|0"}));
}

}  // namespace
