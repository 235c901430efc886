// Tests of the window manager: classes, creation order, data, visibility, geometry and placement.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/win32.h"

namespace {

std::vector<UINT>* g_seen = nullptr;
LRESULT g_nccreate_result = TRUE;
LRESULT g_create_result = 0;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (g_seen) g_seen->push_back(message);
  if (message == WM_NCCREATE) return g_nccreate_result;
  if (message == WM_CREATE) return g_create_result;
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

void RegisterOnce(const char* name) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = name;
  wc.cbWndExtra = 16;
  RegisterClassExA(&wc);
}

class UserWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterOnce("UserWindowTest");
    g_seen = &seen_;
    g_nccreate_result = TRUE;
    g_create_result = 0;
    orvane::host::ResetHeadless();
  }
  void TearDown() override {
    g_seen = nullptr;
    for (HWND h : made_) {
      if (IsWindow(h)) DestroyWindow(h);
    }
  }
  HWND Make(DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    HWND hwnd =
        CreateWindowExA(0, "userwindowtest", "t", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
    made_.push_back(hwnd);
    return hwnd;
  }
  std::vector<UINT> seen_;
  std::vector<HWND> made_;
};

TEST_F(UserWindow, ClassNamesAreUniqueIgnoringCase) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "USERWINDOWTEST";
  SetLastError(0);
  EXPECT_EQ(RegisterClassExA(&wc), 0);
  EXPECT_EQ(GetLastError(), 1410u);
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(UserWindow, CreationSendsMinMaxThenNcCreateThenCreate) {
  HWND h = Make(WS_OVERLAPPEDWINDOW, 10, 10, 200, 100);
  ASSERT_NE(h, nullptr);
  ASSERT_GE(seen_.size(), 3u);
  EXPECT_EQ(seen_[0], WM_GETMINMAXINFO);
  EXPECT_EQ(seen_[1], WM_NCCREATE);
  EXPECT_EQ(seen_[2], WM_CREATE);
  // A child gets no WM_GETMINMAXINFO.
  seen_.clear();
  HWND c = Make(WS_CHILD, 0, 0, 10, 10, h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(seen_[0], WM_NCCREATE);
}

TEST_F(UserWindow, RefusedCreationLeavesNoWindow) {
  struct Case {
    LRESULT nccreate, create;
    bool destroy_sent;
  } cases[] = {{FALSE, 0, false}, {TRUE, -1, true}};
  for (const Case& c : cases) {
    g_nccreate_result = c.nccreate;
    g_create_result = c.create;
    seen_.clear();
    EXPECT_EQ(Make(WS_OVERLAPPED, 0, 0, 10, 10), nullptr);
    bool destroy = false, ncdestroy = false;
    for (UINT m : seen_) {
      destroy |= m == WM_DESTROY;
      ncdestroy |= m == WM_NCDESTROY;
    }
    EXPECT_EQ(destroy, c.destroy_sent);
    EXPECT_TRUE(ncdestroy);
  }
}

TEST_F(UserWindow, DestroyedHandleIsInvalidAndNeverReused) {
  HWND a = Make(WS_OVERLAPPED, 0, 0, 10, 10);
  HWND child = Make(WS_CHILD, 0, 0, 5, 5, a);
  ASSERT_TRUE(DestroyWindow(a));
  EXPECT_FALSE(IsWindow(a));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(DestroyWindow(a));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessageA(a, WM_USER, 0, 0), 0);
  HWND b = Make(WS_OVERLAPPED, 0, 0, 10, 10);
  EXPECT_NE(a, b);
}

TEST_F(UserWindow, WindowDataAndText) {
  HWND h = Make(WS_OVERLAPPED, 0, 0, 10, 10);
  EXPECT_EQ(SetWindowLongPtrA(h, GWLP_USERDATA, 0x123456789LL), 0);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), 0x123456789LL);
  EXPECT_EQ(SetWindowLongPtrA(h, 8, 77), 0);  // extra bytes of the class
  EXPECT_EQ(GetWindowLongPtrA(h, 8), 77);
  EXPECT_EQ(GetWindowLongPtrA(h, 9), 0);  // past the extra bytes
  EXPECT_EQ(GetLastError(), 1413u);
  ASSERT_TRUE(SetWindowTextA(h, "表示"));
  char buf[3];
  EXPECT_EQ(GetWindowTextLengthA(h), 4);
  EXPECT_EQ(GetWindowTextA(h, buf, sizeof(buf)), 2);  // cut to the buffer
  EXPECT_EQ(std::string(buf), std::string("\x95\x5C", 2));
}

TEST_F(UserWindow, ClientRectFollowsTheFrameOfTheStyle) {
  struct Case {
    DWORD style;
    bool menu;
  } cases[] = {
      {WS_OVERLAPPEDWINDOW, false}, {WS_POPUP, false}, {WS_CAPTION, true}, {WS_POPUP | WS_BORDER, false}};
  for (const Case& c : cases) {
    RECT r{0, 0, 640, 480};
    ASSERT_TRUE(AdjustWindowRectEx(&r, c.style, c.menu, 0));
    HWND h = Make(c.style, 30, 40, r.right - r.left, r.bottom - r.top);
    if (c.menu) SetMenu(h, CreateMenu());
    RECT client;
    ASSERT_TRUE(GetClientRect(h, &client));
    EXPECT_EQ(client.right, 640) << c.style;
    EXPECT_EQ(client.bottom, 480) << c.style;
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    EXPECT_EQ(origin.x, 30 - r.left);
    EXPECT_EQ(origin.y, 40 - r.top);
  }
}

TEST_F(UserWindow, ChildRectanglesAreInParentClientCoordinates) {
  HWND top = Make(WS_CAPTION, 100, 50, 300, 200);
  HWND child = Make(WS_CHILD, 10, 20, 30, 40, top);
  RECT r;
  GetWindowRect(child, &r);
  POINT o{0, 0};
  ClientToScreen(top, &o);
  EXPECT_EQ(r.left, o.x + 10);
  EXPECT_EQ(r.top, o.y + 20);
  EXPECT_EQ(GetParent(child), top);
  EXPECT_TRUE(IsChild(top, child));
  POINT p{r.left, r.top};
  ScreenToClient(top, &p);
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 20);
}

TEST_F(UserWindow, ShowReportsPreviousVisibilityAndVisibilityNeedsParents) {
  HWND top = Make(WS_OVERLAPPED, 0, 0, 100, 100);
  HWND child = Make(WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, top);
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_FALSE(ShowWindow(top, SW_SHOW));
  EXPECT_TRUE(ShowWindow(top, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_TRUE(ShowWindow(top, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(top));
}

TEST_F(UserWindow, PlacementRestoresMaximizedWindowWithItsNormalRect) {
  HWND h = Make(WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
  WINDOWPLACEMENT wp{};
  wp.length = sizeof(wp);
  wp.flags = 1;
  wp.showCmd = SW_SHOWMAXIMIZED;
  wp.ptMaxPosition = {-1, -1};
  wp.rcNormalPosition = {10, 20, 650, 500};
  ASSERT_TRUE(SetWindowPlacement(h, &wp));
  EXPECT_TRUE(IsZoomed(h));
  EXPECT_TRUE(IsWindowVisible(h));
  WINDOWPLACEMENT got{};
  got.length = sizeof(got);
  ASSERT_TRUE(GetWindowPlacement(h, &got));
  EXPECT_EQ(got.showCmd, static_cast<UINT>(SW_SHOWMAXIMIZED));
  EXPECT_EQ(got.rcNormalPosition.left, 10);
  EXPECT_EQ(got.rcNormalPosition.bottom, 500);
  ShowWindow(h, SW_RESTORE);
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.right, 650);
  wp.length = 0;  // a block without its length is refused
  EXPECT_FALSE(SetWindowPlacement(h, &wp));
}

TEST_F(UserWindow, UpdateRegionIsInvalidatedAndValidatedByRectangle) {
  HWND h = Make(WS_POPUP, 0, 0, 100, 100);
  RECT r;
  ValidateRect(h, nullptr);
  EXPECT_FALSE(GetUpdateRect(h, &r, FALSE));
  RECT a{10, 10, 30, 30};
  InvalidateRect(h, &a, FALSE);
  ASSERT_TRUE(GetUpdateRect(h, &r, FALSE));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.bottom, 30);
  ValidateRect(h, &a);
  EXPECT_FALSE(GetUpdateRect(h, &r, FALSE));
  RECT outside{200, 200, 300, 300};  // clipped to nothing
  InvalidateRect(h, &outside, FALSE);
  EXPECT_FALSE(GetUpdateRect(h, &r, FALSE));
}

TEST_F(UserWindow, HostTraceRecordsWhatAUserWouldSee) {
  HWND h = Make(WS_POPUP, 0, 0, 64, 48);
  ShowWindow(h, SW_SHOW);
  SetWindowTextA(h, "title");
  std::vector<std::string> t = orvane::host::TakeTrace();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_NE(t[0].find("create"), std::string::npos);
  EXPECT_NE(t[0].find("64x48"), std::string::npos);
  EXPECT_NE(t[1].find("show"), std::string::npos);
  EXPECT_NE(t[2].find("'title'"), std::string::npos);
}

TEST(UserHost, UnknownHostNameIsRefusedAndHeadlessIsChosen) {
  EXPECT_EQ(orvane::host::FindHost("vga"), nullptr);
  EXPECT_NE(orvane::host::FindHost("sdl"), nullptr);
  EXPECT_STREQ(orvane::host::CurrentName(), "headless");
}

}  // namespace
