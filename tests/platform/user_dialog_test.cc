// Tests of dialogs, menus, message boxes and file dialogs on the headless host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host.h"
#include "platform/win32.h"

namespace {

const OrvaneDialogControl kControls[] = {
    {"BUTTON", "OK", IDOK, WS_VISIBLE, 10, 40, 40, 14},
    {"STATIC", "テスト", 100, WS_VISIBLE, 10, 10, 80, 10},
};
const OrvaneDialogTemplate kTemplate = {"About", WS_POPUP | WS_CAPTION, 0, 0,   0,         120,
                                        60,      "MS UI Gothic",        9, 128, kControls, 2};

struct Registered {
  Registered() {
    OrvaneRegisterDialogTemplate(nullptr, "ABOUTBOX", &kTemplate);
    OrvaneRegisterDialogTemplate(nullptr, MAKEINTRESOURCEA(101), &kTemplate);
  }
};

INT_PTR g_end_with = 0;
HWND g_init_focus = nullptr;

INT_PTR CALLBACK EndsOnCommand(HWND dlg, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_init_focus = reinterpret_cast<HWND>(wparam);
    PostMessageA(GetDlgItem(dlg, IDOK), WM_LBUTTONUP, 0, 0);  // a click, once the loop runs
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
    EndDialog(dlg, g_end_with);
    return TRUE;
  }
  return FALSE;
}

TEST(UserDialog, ModalDialogRunsItsLoopUntilEndDialog) {
  static Registered once;
  for (INT_PTR end : {INT_PTR{1}, INT_PTR{-1}, INT_PTR{42}}) {
    g_end_with = end;
    EXPECT_EQ(DialogBoxParamA(nullptr, "aboutbox", nullptr, EndsOnCommand, 0), end);
    EXPECT_NE(g_init_focus, nullptr);
  }
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, EndsOnCommand, 0), 42);
  EXPECT_EQ(DialogBoxParamA(nullptr, "missing", nullptr, EndsOnCommand, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(UserDialog, ModalLoopDispatchesOtherWindowsMessagesAndKeepsQuit) {
  static Registered once;
  static int others = 0;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_USER) ++others;
    return DefWindowProcA(h, m, w, l);
  };
  wc.lpszClassName = "DialogOwner";
  RegisterClassExA(&wc);
  HWND owner =
      CreateWindowExA(0, "DialogOwner", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  PostMessageA(owner, WM_USER, 0, 0);
  PostQuitMessage(3);
  g_end_with = 1;
  EXPECT_TRUE(IsWindowEnabled(owner));
  DialogBoxParamA(
      nullptr, "ABOUTBOX", owner, [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR { return m == WM_INITDIALOG; },
      0);
  EXPECT_EQ(others, 1);
  EXPECT_TRUE(IsWindowEnabled(owner));  // enabled again after the dialog
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);  // handed back to the program's own loop
  DestroyWindow(owner);
}

TEST(UserDialog, ModelessDialogStaysUntilDestroyed) {
  static Registered once;
  HWND dlg = CreateDialogParamA(
      nullptr, "ABOUTBOX", nullptr,
      [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR { return m == WM_INITDIALOG; }, 0);
  ASSERT_NE(dlg, nullptr);
  HWND ok = GetDlgItem(dlg, IDOK);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(SendDlgItemMessageA(dlg, IDOK, BM_SETCHECK, BST_CHECKED, 0), 0);
  EXPECT_EQ(SendDlgItemMessageA(dlg, IDOK, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendDlgItemMessageA(dlg, 999, BM_GETCHECK, 0, 0), 0);
  char text[16];
  GetWindowTextA(GetDlgItem(dlg, 100), text, sizeof(text));
  EXPECT_STREQ(text, "テスト");
  EXPECT_TRUE(DestroyWindow(dlg));
  EXPECT_FALSE(IsWindow(ok));
}

TEST(UserMenu, ItemStateIsKeptAndReportedAsBefore) {
  static const OrvaneMenuItem kFile[] = {{"開く", 40001, 0, nullptr, 0},
                                         {nullptr, 0, MF_SEPARATOR, nullptr, 0},
                                         {"終了", 40002, MF_GRAYED, nullptr, 0}};
  static const OrvaneMenuItem kBar[] = {{"ファイル", 0, MF_POPUP, kFile, 3}};
  static const bool registered = OrvaneRegisterMenu(nullptr, MAKEINTRESOURCEA(1), kBar, 1);
  (void)registered;
  HMENU bar = LoadMenuA(nullptr, MAKEINTRESOURCEA(1));
  ASSERT_NE(bar, nullptr);
  HMENU file = GetSubMenu(bar, 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(GetMenuItemCount(file), 3);
  EXPECT_EQ(EnableMenuItem(bar, 40002, MF_ENABLED), MF_GRAYED);  // found through the popup
  EXPECT_EQ(EnableMenuItem(bar, 40002, MF_GRAYED), 0u);
  EXPECT_EQ(CheckMenuItem(file, 0, MF_BYPOSITION | MF_CHECKED), 0u);
  EXPECT_EQ(CheckMenuItem(file, 40001, MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(EnableMenuItem(bar, 49999, MF_GRAYED), static_cast<DWORD>(-1));
  EXPECT_EQ(GetMenuState(bar, 0, MF_BYPOSITION), MF_POPUP | (3u << 8));
  EXPECT_TRUE(DestroyMenu(bar));
  EXPECT_EQ(GetMenuItemCount(file), -1);  // popups go with their menu
  EXPECT_EQ(LoadMenuA(nullptr, MAKEINTRESOURCEA(2)), nullptr);
}

TEST(UserMessageBox, ScriptedAnswersThenTheDefaultButton) {
  orvane::host::ResetHeadless();
  orvane::host::PushMessageBoxAnswer(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "本当に終了しますか？", "確認", MB_YESNO | MB_ICONQUESTION), IDNO);
  struct Case {
    UINT type;
    int expected;
  } cases[] = {{MB_OK, IDOK},
               {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
               {MB_YESNO, IDYES},
               {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
               {MB_RETRYCANCEL, IDRETRY},
               {MB_YESNO | MB_DEFBUTTON3, IDYES}};
  for (const Case& c : cases) EXPECT_EQ(MessageBoxA(nullptr, "t", nullptr, c.type), c.expected) << c.type;
  std::vector<std::string> trace = orvane::host::TakeTrace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0], std::string("messagebox '確認' '本当に終了しますか？' 36"));
  MessageBeep(MB_ICONHAND);
  EXPECT_EQ(orvane::host::TakeTrace().back(), "beep 16");
}

TEST(UserFileDialog, ScriptedAnswerCancelAndTooSmallBuffer) {
  orvane::host::ResetHeadless();
  char file[16] = "start.mei";
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof(file);
  EXPECT_FALSE(GetOpenFileNameA(&ofn));  // nothing scripted: cancelled
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  EXPECT_STREQ(file, "start.mei");
  orvane::host::PushFileDialogAnswer("/g/表示.mei");
  ASSERT_TRUE(GetOpenFileNameA(&ofn));
  EXPECT_STREQ(file, "/g/表示.mei");
  EXPECT_EQ(ofn.nFileOffset, 3);
  EXPECT_EQ(ofn.nFileExtension, 8);
  orvane::host::PushFileDialogAnswer("/a/very/long/path/name.mei");
  EXPECT_FALSE(GetSaveFileNameA(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
}

}  // namespace
