// Tests of message queues: order of posted messages, WM_QUIT, WM_PAINT and timers, threads.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/host.h"
#include "platform/win32.h"

namespace {

std::vector<UINT> g_dispatched;
bool g_validate_paint = true;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_USER || message == WM_PAINT || message == WM_TIMER) g_dispatched.push_back(message);
  if (message == WM_PAINT && !g_validate_paint) return 0;
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

class UserQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "UserQueueTest";
    RegisterClassExA(&wc);
    hwnd_ =
        CreateWindowExA(0, "UserQueueTest", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    Drain();
    g_dispatched.clear();
    g_validate_paint = true;
  }
  void TearDown() override {
    DestroyWindow(hwnd_);
    Drain();
  }
  static void Drain() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  HWND hwnd_;
};

TEST_F(UserQueue, PostedMessagesComeInOrderAndQuitAfterThem) {
  PostMessageA(hwnd_, WM_USER + 1, 0, 0);
  PostQuitMessage(7);
  PostMessageA(hwnd_, WM_USER + 2, 0, 0);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_USER + 1);
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_USER + 2);
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(UserQueue, FiltersAndNoRemoveLeaveOtherMessages) {
  PostMessageA(hwnd_, WM_USER + 1, 0, 0);
  PostMessageA(hwnd_, WM_USER + 5, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 5, WM_USER + 5, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 5);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 5, WM_USER + 9, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  EXPECT_EQ(GetMessageA(&m, reinterpret_cast<HWND>(0x7), 0, 0), -1);  // a bad window filter
}

TEST_F(UserQueue, PaintComesOnlyWhenNothingElseWaitsAndNeverSpins) {
  g_validate_paint = false;  // a procedure that forgets to validate
  ShowWindow(hwnd_, SW_SHOW);
  PostMessageA(hwnd_, WM_USER + 1, 0, 0);
  Drain();
  ASSERT_EQ(g_dispatched.size(), 2u);
  EXPECT_EQ(g_dispatched[0], WM_USER + 1);
  EXPECT_EQ(g_dispatched[1], WM_PAINT);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(UserQueue, TimerMessagesRepeatUntilKilled) {
  ASSERT_EQ(SetTimer(hwnd_, 5, 10, nullptr), 5u);
  MSG m;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.wParam, 5u);
  }
  EXPECT_TRUE(KillTimer(hwnd_, 5));
  EXPECT_FALSE(KillTimer(hwnd_, 5));
}

TEST_F(UserQueue, ThreadTimerCallsItsProcedure) {
  static int calls = 0;
  calls = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++calls; });
  ASSERT_NE(id, 0u);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  DispatchMessageA(&m);
  EXPECT_EQ(calls, 1);
  KillTimer(nullptr, id);
  DispatchMessageA(&m);  // the timer is gone: its procedure is not called again
  MSG forged{nullptr, WM_TIMER, 1, 0x1234, 0, {0, 0}};
  DispatchMessageA(&forged);  // an address that is no timer's procedure is never called
  EXPECT_EQ(calls, 1);
}

TEST_F(UserQueue, PostFromAnotherThreadWakesTheWaitingThread) {
  HWND h = hwnd_;
  std::thread poster([h] { PostMessageA(h, WM_USER + 3, 1, 2); });
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_USER + 3);
  EXPECT_EQ(m.hwnd, h);
  poster.join();
}

TEST_F(UserQueue, SendCallsTheProcedureDirectlyAndRegisteredIdsAreShared) {
  SendMessageA(hwnd_, WM_USER + 9, 0, 0);
  ASSERT_EQ(g_dispatched.size(), 1u);
  UINT a = RegisterWindowMessageA("MSWHEEL_ROLLMSG");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterWindowMessageA("mswheel_rollmsg"), a);
  EXPECT_NE(RegisterWindowMessageA("Other"), a);
  EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

TEST_F(UserQueue, InjectedInputArrivesAsPostedMessages) {
  ASSERT_TRUE(orvane::host::Inject(hwnd_, WM_KEYDOWN, VK_ESCAPE, 1));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_ESCAPE));
  EXPECT_TRUE(TranslateMessage(&m));
}

TEST_F(UserQueue, TranslateMessageTypesTheControlCharacters) {
  struct Case {
    UINT message;
    WPARAM vk;
    WPARAM ch;  // 0: no WM_CHAR
  } cases[] = {
      {WM_KEYDOWN, VK_RETURN, 0x0D}, {WM_KEYDOWN, VK_BACK, 0x08}, {WM_KEYDOWN, VK_ESCAPE, 0x1B},
      {WM_KEYDOWN, VK_TAB, 0x09},    {WM_KEYUP, VK_RETURN, 0},    {WM_KEYDOWN, 'A', 0},
      {WM_KEYDOWN, VK_LEFT, 0},
  };
  for (const Case& c : cases) {
    // A message already waiting comes after the character the key makes.
    ASSERT_TRUE(orvane::host::Inject(hwnd_, c.message, c.vk, 0x001C0001));
    ASSERT_TRUE(orvane::host::Inject(hwnd_, WM_USER + 1, 0, 0));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(TranslateMessage(&m));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    if (c.ch) {
      EXPECT_EQ(m.message, WM_CHAR) << c.vk;
      EXPECT_EQ(m.wParam, c.ch);
      EXPECT_EQ(m.lParam, 0x001C0001);
      EXPECT_EQ(m.hwnd, hwnd_);
      ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    }
    EXPECT_EQ(m.message, WM_USER + 1) << c.vk;
  }
  MSG none{};
  EXPECT_FALSE(PeekMessageA(&none, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(TranslateMessage(&none));
}

}  // namespace
