// Tests of DDialog: modal results, modeless dialogs, the dialog's three stages.
#include "base/ddialog.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/dapplication.h"
#include "base/dpump.h"

namespace {

const OrvaneDialogControl kControls[] = {{"BUTTON", "OK", IDOK, WS_VISIBLE, 5, 5, 40, 14}};
const OrvaneDialogTemplate kTemplate = {
    "About", WS_POPUP | WS_CAPTION, 0, 0, 0, 100, 50, "", 9, 128, kControls, 1};

// A dialog that ends itself with its result when it gets WM_USER.
class Ender : public DDialog {
 public:
  bool ok = true;
  bool direct = false;  // ends through the system's EndDialog, not the object's
  std::vector<UINT> seen;
  LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    seen.push_back(message);
    if (message == WM_INITDIALOG) PostMessage(WM_USER, 0, 0);
    if (message == WM_USER && direct) ::EndDialog(GetHandle(), ok ? 1 : -1);
    if (message == WM_USER && !direct) EndDialog(ok);
    return DDialog::DefaultProc(message, wparam, lparam);
  }
};

class DDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    OrvaneRegisterDialogTemplate(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100), &kTemplate);
  }
  void SetUp() override {
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
  }
  DApplication app_;
};

TEST_F(DDialogTest, ModalResultFollowsEndDialog) {
  struct Case {
    bool ok, direct;
  } cases[] = {{true, false}, {false, false}, {true, true}, {false, true}};
  for (const Case& c : cases) {
    Ender d;
    d.ok = c.ok;
    d.direct = c.direct;
    EXPECT_EQ(d.Create(100, nullptr, true), c.ok) << c.direct;
    EXPECT_EQ(d.GetHandle(), nullptr) << c.direct;  // no stale handle, however it ended
    EXPECT_FALSE(d.IsOwner());
    ASSERT_FALSE(d.seen.empty());
    // Messages before it went to DefWindowProcA (the font query comes after the object is bound).
    EXPECT_EQ(d.seen.front() == WM_GETFONT ? d.seen.at(1) : d.seen.front(), WM_INITDIALOG);
    d.direct = false;
    EXPECT_EQ(d.Create(100, nullptr, true), c.ok) << c.direct;  // the object can run it again
  }
  Ender missing;
  EXPECT_FALSE(missing.Create(101, nullptr, true));
}

TEST_F(DDialogTest, ModelessDialogStaysOpenAndRefusesASecondCreate) {
  Ender d;
  d.ok = true;
  ASSERT_TRUE(d.Create(100, nullptr, false));
  HWND h = d.GetHandle();
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(d.IsOwner());
  EXPECT_FALSE(d.Create(100, nullptr, false));
  EXPECT_TRUE(d.EndDialog(true));  // nothing happens to a modeless dialog
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(d.GetHandle(), h);
  MSG m{};
  m.hwnd = d.GetDlgItem(IDOK).GetHandle();
  m.message = WM_USER + 1;
  EXPECT_TRUE(d.IsDialogMessage(&m));
  ASSERT_TRUE(d.Destroy());
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(DDialogTest, ListenerEndsADialogMessage) {
  struct Stop : DMessageListener {
    bool OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM, LPARAM) override {
      if (message != WM_USER + 2) return true;
      *result = 5;
      return false;
    }
  } stop;
  Ender d;
  ASSERT_TRUE(d.Create(100, nullptr, false));
  ASSERT_TRUE(stop.Attach(d));
  d.seen.clear();
  // The dialog procedure's result is what the listener stored; the handler does not run.
  EXPECT_EQ(DDialog::DialogProc(d.GetHandle(), WM_USER + 2, 0, 0), 5);
  EXPECT_TRUE(d.seen.empty());
  d.Destroy();
}

TEST_F(DDialogTest, ControlsGetTheDefaultGuiFontUnlessTheTemplateFontIsShiftJis) {
  const OrvaneDialogControl controls[] = {{"BUTTON", "OK", IDOK, WS_VISIBLE, 5, 5, 40, 14},
                                          {"STATIC", "Text", 10, WS_VISIBLE, 5, 25, 40, 10},
                                          {"EDIT", "", 11, WS_VISIBLE, 50, 25, 40, 10}};
  struct Case {
    WORD id;
    const char* face;
    BYTE charset;
    bool stock;  // the controls end with the stock font, else with the dialog's own font
  } cases[] = {{200, "ＭＳ Ｐゴシック", SHIFTJIS_CHARSET, false},
               {201, "Tahoma", DEFAULT_CHARSET, true},
               {202, "Arial", 0, true},
               {203, "", SHIFTJIS_CHARSET, false}};  // no template font: nothing to replace
  HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  ASSERT_NE(stock, nullptr);
  for (const Case& c : cases) {
    OrvaneDialogTemplate t = {"Font", WS_POPUP, 0, 0, 0, 100, 50, c.face, 9, c.charset, controls, 3};
    OrvaneRegisterDialogTemplate(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.id), &t);
    DDialog d;
    ASSERT_TRUE(d.Create(c.id, nullptr, false)) << c.id;
    HWND h = d.GetHandle();
    auto own = reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0));
    if (*c.face) {
      LOGFONTA lf{};
      ASSERT_EQ(GetObjectA(own, sizeof(lf), &lf), static_cast<int>(sizeof(lf))) << c.id;
      EXPECT_STREQ(lf.lfFaceName, c.face);
      EXPECT_EQ(lf.lfCharSet, c.charset);
      EXPECT_EQ(lf.lfHeight, -12);
    } else {
      EXPECT_EQ(own, nullptr);
    }
    for (int id : {IDOK, 10, 11}) {
      auto font = reinterpret_cast<HFONT>(SendDlgItemMessageA(h, id, WM_GETFONT, 0, 0));
      EXPECT_EQ(font, c.stock ? stock : own) << c.id << " control " << id;
    }
    ASSERT_TRUE(d.Destroy());
    if (own) {
      EXPECT_FALSE(DeleteObject(own)) << c.id;  // went with its dialog
    }
  }
  EXPECT_TRUE(DeleteObject(stock));  // stock objects stay
  EXPECT_EQ(GetObjectA(stock, 0, nullptr), static_cast<int>(sizeof(LOGFONTA)));
}

TEST(DPump, ReturnsAtOnceOnAnEmptyQueueAndFalseAtQuit) {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_TRUE(DPumpMessages());
  static int dispatched = 0;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
    if (msg == WM_USER) ++dispatched;
    return DefWindowProcA(h, msg, w, l);
  };
  wc.lpszClassName = "PumpTest";
  RegisterClassExA(&wc);
  HWND h = CreateWindowExA(0, "PumpTest", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  PostMessageA(h, WM_USER, 0, 0);
  PostMessageA(h, WM_USER, 0, 0);
  PostQuitMessage(0);
  EXPECT_FALSE(DPumpMessages());
  EXPECT_EQ(dispatched, 2);
  EXPECT_TRUE(DPumpMessages());  // WM_QUIT was consumed
  PostMessageA(h, WM_USER, 0, 0);
  PostQuitMessage(4);
  EXPECT_EQ(DRunMessageLoop(), 4);
  EXPECT_EQ(dispatched, 3);
  DestroyWindow(h);
}

}  // namespace
