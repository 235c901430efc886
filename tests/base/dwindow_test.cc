// Tests of DWindow: binding at creation, the three dispatch stages, listeners, geometry, placement.
#include "base/dwindow.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "base/dapplication.h"
#include "base/dprofile.h"
#include "platform/host.h"

namespace {

// A window that records what each stage saw.
class Recorder : public DWindow {
 public:
  std::vector<UINT> pre, handled;
  UINT swallow = 0;           // PreTranslate takes this message
  LRESULT create_result = 0;  // WM_CREATE's answer
  bool PreTranslate(MSG* msg) override {
    pre.push_back(msg->message);
    return msg->message == swallow && swallow != 0;
  }
  LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    handled.push_back(message);
    if (message == WM_CREATE) return create_result;
    return DWindow::DefaultProc(message, wparam, lparam);
  }
  bool Saw(const std::vector<UINT>& v, UINT m) const {
    for (UINT x : v) {
      if (x == m) return true;
    }
    return false;
  }
};

class Listener : public DMessageListener {
 public:
  std::vector<UINT> seen;
  UINT stop_at = 0;        // returns false here
  LRESULT stop_value = 0;  // stored before returning false (0: nothing stored)
  bool detach_at_user = false;
  bool OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM, LPARAM) override {
    seen.push_back(message);
    if (detach_at_user && message == WM_USER) Detach();
    if (message == stop_at) {
      if (stop_value) *result = stop_value;
      return false;
    }
    return true;
  }
  bool Saw(UINT m) const {
    for (UINT x : seen) {
      if (x == m) return true;
    }
    return false;
  }
};

class DWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_dwindow_XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    ASSERT_TRUE(app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
    app_.SetDirectory((dir_ + "/").c_str());
    DSetApplication(&app_);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  bool Make(DWindow& w, DWORD style = WS_OVERLAPPEDWINDOW) {
    return w.Create("", "test", style, 0, 50, 60, 300, 200);
  }
  std::string dir_;
  DApplication app_;
};

TEST_F(DWindowTest, MessagesBeforeNcCreateGoToTheDefaultProcedure) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  EXPECT_FALSE(w.Saw(w.pre, WM_GETMINMAXINFO));
  EXPECT_FALSE(w.Saw(w.handled, WM_GETMINMAXINFO));
  ASSERT_GE(w.pre.size(), 2u);
  EXPECT_EQ(w.pre[0], WM_NCCREATE);
  EXPECT_EQ(w.handled[0], WM_NCCREATE);
  EXPECT_TRUE(w.IsOwner());
  EXPECT_EQ(GetWindowLongPtrA(w.GetHandle(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&w));
  EXPECT_FALSE(Make(w));  // already has a window
}

TEST_F(DWindowTest, CreationPointerDoesNotOutliveCreate) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  size_t before = w.pre.size();
  HWND stray =
      CreateWindowExA(0, kDBasicWindowClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(stray, nullptr);
  EXPECT_EQ(w.pre.size(), before);  // the stray window is not bound to w
  EXPECT_EQ(GetWindowLongPtrA(stray, GWLP_USERDATA), 0);
  DestroyWindow(stray);
}

TEST_F(DWindowTest, FailedCreateLeavesNoStaleHandle) {
  Recorder w;
  w.create_result = -1;
  EXPECT_FALSE(Make(w));
  EXPECT_EQ(w.GetHandle(), nullptr);
  EXPECT_FALSE(w.IsOwner());
  w.create_result = 0;
  EXPECT_TRUE(Make(w));  // the object can try again
}

TEST_F(DWindowTest, ListenerStagesPreTranslateAndHandler) {
  struct Case {
    const char* what;
    UINT stop_at;
    LRESULT stop_value;
    UINT swallow;
    LRESULT expected;
    bool second_sees, handler_sees;
  } cases[] = {
      {"all pass", 0, 0, 0, 0, true, true},
      {"first ends with a value", WM_USER, 77, 0, 77, false, false},
      {"first ends without a value", WM_USER, 0, 0, 0, false, false},
      {"pre-translation takes it", 0, 0, WM_USER, 0, false, false},
  };
  for (const Case& c : cases) {
    Recorder w;
    ASSERT_TRUE(Make(w));
    Listener a, b;
    ASSERT_TRUE(a.Attach(w));
    ASSERT_TRUE(b.Attach(w));
    a.stop_at = c.stop_at;
    a.stop_value = c.stop_value;
    w.swallow = c.swallow;
    w.handled.clear();
    EXPECT_EQ(w.SendMessage(WM_USER, 0, 0), c.expected) << c.what;
    EXPECT_EQ(b.Saw(WM_USER), c.second_sees) << c.what;
    EXPECT_EQ(w.Saw(w.handled, WM_USER), c.handler_sees) << c.what;
  }
}

TEST_F(DWindowTest, ListenerThatDetachesItselfEndsTheWalkButNotTheHandler) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  Listener a, b;
  a.Attach(w);
  b.Attach(w);
  a.detach_at_user = true;
  w.SendMessage(WM_USER, 0, 0);
  EXPECT_FALSE(b.Saw(WM_USER));
  EXPECT_TRUE(w.Saw(w.handled, WM_USER));
  EXPECT_EQ(a.GetOwner(), nullptr);
  w.SendMessage(WM_USER + 1, 0, 0);
  EXPECT_FALSE(a.Saw(WM_USER + 1));
  EXPECT_TRUE(b.Saw(WM_USER + 1));
}

TEST_F(DWindowTest, ListenerChainRules) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  Listener a;
  ASSERT_TRUE(a.Attach(w));
  EXPECT_FALSE(a.Attach(w));  // already attached: the chain is unchanged
  Listener b;
  ASSERT_TRUE(b.Attach(w));
  EXPECT_FALSE(w.AddListener(a));  // re-adding would cut b off and link a to itself
  w.SendMessage(WM_USER, 0, 0);
  EXPECT_EQ(a.seen.size(), 1u);
  EXPECT_EQ(b.seen.size(), 1u);
  ASSERT_TRUE(b.Detach());
  Listener stranger;
  EXPECT_FALSE(w.RemoveListener(stranger));
  {
    Listener gone;
    gone.Attach(w);
  }  // its destructor detaches it
  w.SendMessage(WM_USER, 0, 0);
  ASSERT_TRUE(w.Destroy());
  EXPECT_EQ(a.GetOwner(), nullptr);  // destroying the window unlinks the chain
  EXPECT_FALSE(a.Detach());
  EXPECT_FALSE(w.AddListener(a));
  DWindow empty;
  EXPECT_FALSE(empty.AddListener(a));
  EXPECT_FALSE(empty.Destroy());
}

TEST_F(DWindowTest, CopiesShareTheRecordAndNeverOwn) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  HWND h = w.GetHandle();
  {
    DWindow copy(w);
    DWindow assigned;
    assigned = w;
    EXPECT_EQ(copy.GetHandle(), h);
    EXPECT_FALSE(assigned.IsOwner());
    Listener l;
    ASSERT_TRUE(l.Attach(copy));  // the chain is the record's: w's messages reach it
    w.SendMessage(WM_USER, 0, 0);
    EXPECT_TRUE(l.Saw(WM_USER));
  }
  EXPECT_TRUE(IsWindow(h));  // releasing copies never destroys
  DWindow later(w);
  w.Destroy();
  EXPECT_EQ(later.GetHandle(), nullptr);
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(DWindowTest, MoveKeepsWhatIsNegative) {
  Recorder top;
  ASSERT_TRUE(Make(top));
  ASSERT_TRUE(top.Move(-1, -1, 300, 200));
  DRect r = top.GetWindowRect();
  EXPECT_EQ(r.x, 50);
  EXPECT_EQ(r.y, 60);
  EXPECT_EQ(r.width, 300);
  ASSERT_TRUE(top.Move(10, -1, -1, 90));
  r = top.GetWindowRect();
  EXPECT_EQ(r.x, 10);
  EXPECT_EQ(r.y, 60);
  EXPECT_EQ(r.height, 90);
  Recorder child;
  ASSERT_TRUE(child.Create("", "", WS_CHILD, 0, 7, 8, 20, 20, nullptr, top));
  ASSERT_TRUE(child.Resize(DPoint(30, 40)));
  RECT cr;
  GetWindowRect(child.GetHandle(), &cr);
  POINT p{cr.left, cr.top};
  ScreenToClient(top.GetHandle(), &p);
  EXPECT_EQ(p.x, 7);  // kept in the parent's client coordinates
  EXPECT_EQ(p.y, 8);
  EXPECT_EQ(cr.right - cr.left, 30);
}

TEST_F(DWindowTest, ClientSizesConvertBothWays) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  ASSERT_TRUE(w.SetClientSize(640, 480));
  DRect c = w.GetClientRect();
  EXPECT_EQ(c.width, 640);
  EXPECT_EQ(c.height, 480);
  DPoint outer(w.GetWindowRect().width, w.GetWindowRect().height);
  DPoint back = w.WindowToClientSize(outer);
  EXPECT_EQ(back.x, 640);
  EXPECT_EQ(back.y, 480);
}

TEST_F(DWindowTest, PlacementWithoutValueIsCentred640x480AndShown) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  ASSERT_TRUE(w.LoadPlacement("MainWindow"));
  EXPECT_TRUE(w.IsVisible());
  DRect c = w.GetClientRect();
  EXPECT_EQ(c.width, 640);
  EXPECT_EQ(c.height, 480);
  DRect r = w.GetWindowRect();
  EXPECT_EQ(r.x, GetSystemMetrics(SM_CXFULLSCREEN) / 2 - r.width / 2);
  EXPECT_EQ(r.y, GetSystemMetrics(SM_CYFULLSCREEN) / 2 - r.height / 2);
}

TEST_F(DWindowTest, PlacementTextRoundTrip) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  w.Move(11, 22, 333, 244);
  ShowWindow(w.GetHandle(), SW_SHOWMAXIMIZED);
  ASSERT_TRUE(w.SavePlacement("MainWindow"));
  DProfile ini(app_.GetSettingsFile().GetBuffer(), "Placement");
  EXPECT_EQ(ini.GetString("MainWindow", ""), "2_3_-1_-1_-1_-1_11_22_344_266");
  Recorder other;
  ASSERT_TRUE(Make(other));
  ASSERT_TRUE(other.LoadPlacement("MainWindow"));
  EXPECT_TRUE(other.IsZoomed());
  WINDOWPLACEMENT wp{};
  ASSERT_TRUE(other.GetPlacement(&wp));
  EXPECT_EQ(wp.rcNormalPosition.left, 11);
  EXPECT_EQ(wp.rcNormalPosition.bottom, 266);
}

TEST_F(DWindowTest, StoredPlacementValues) {
  struct Case {
    const char* text;
    bool zoomed;
    int left, top;  // window position after LoadPlacement
  } cases[] = {{"1_3_0_0_-1_-1_10_20_650_500", true, 0, 0},
               {"0_1_0_0_0_0_70_80_400_300", false, 70, 80},
               {"1_2_3_4", false, -1, -1},  // four numbers: treated as missing
               {"garbage", false, -1, -1}};
  for (const Case& c : cases) {
    ASSERT_TRUE(app_.SetSettingString("Placement", "MainWindow", c.text));
    Recorder w;
    ASSERT_TRUE(Make(w));
    ASSERT_TRUE(w.LoadPlacement("MainWindow"));
    EXPECT_EQ(w.IsZoomed(), c.zoomed) << c.text;
    if (c.left >= 0) {
      EXPECT_EQ(w.GetWindowRect().x, c.left) << c.text;
      EXPECT_EQ(w.GetWindowRect().y, c.top) << c.text;
    } else {
      EXPECT_EQ(w.GetClientRect().width, 640) << c.text;
    }
  }
}

TEST_F(DWindowTest, LoadPositionMovesAndKeepsSize) {
  Recorder w;
  ASSERT_TRUE(Make(w));
  ASSERT_TRUE(w.LoadPosition("Nothing"));
  DRect r = w.GetWindowRect();
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.width, 300);
  ASSERT_TRUE(app_.SetSettingString("Placement", "Pos", "0_1_0_0_0_0_15_25_99_99"));
  ASSERT_TRUE(w.LoadPosition("Pos"));
  EXPECT_EQ(w.GetWindowRect().x, 15);
  EXPECT_EQ(w.GetWindowRect().height, 200);
  DWindow none;
  EXPECT_FALSE(none.LoadPosition("Pos"));
  EXPECT_FALSE(none.LoadPlacement("Pos"));
}

TEST_F(DWindowTest, InvalidateAndValidateCoverTheSameArea) {
  Recorder w;
  ASSERT_TRUE(Make(w, WS_POPUP));
  w.Validate(nullptr);
  DRect r(10, 10, 20, 20);
  w.Invalidate(&r, false);
  RECT u;
  ASSERT_TRUE(GetUpdateRect(w.GetHandle(), &u, FALSE));
  EXPECT_EQ(u.right, 30);
  EXPECT_EQ(u.bottom, 30);
  w.Validate(&r);
  EXPECT_FALSE(GetUpdateRect(w.GetHandle(), &u, FALSE));
  EXPECT_EQ(w.GetCheck(1234), 0);
  EXPECT_EQ(w.SetCheck(1234, 1), 0);
}

TEST_F(DWindowTest, DestroyingTheObjectUnbindsALiveWindow) {
  HWND h;
  {
    Recorder w;
    ASSERT_TRUE(Make(w));
    h = w.GetHandle();
    DWindow keeper(w);
    static_cast<DWindow&>(w) = keeper;  // w gives up ownership: its release will not destroy the window
  }
  ASSERT_TRUE(IsWindow(h));
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), 0);
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 0);  // reaches DefWindowProcA, not a dead object
  DestroyWindow(h);
}

}  // namespace
