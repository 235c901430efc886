// Tests of activation and focus messages, mouse capture and the cursor, headless message boxes
// on stderr, and the shell's requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/shellapi.h"
#include "platform/win32.h"

namespace {

std::vector<std::string> g_messages;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATEAPP:
      g_messages.push_back(wparam ? "activateapp 1" : "activateapp 0");
      break;
    case WM_ACTIVATE:
      g_messages.push_back(LOWORD(wparam) ? "activate 1" : "activate 0");
      break;
    case WM_SETFOCUS:
      g_messages.push_back("setfocus");
      break;
    case WM_KILLFOCUS:
      g_messages.push_back("killfocus");
      break;
    case WM_CANCELMODE:
      g_messages.push_back("cancelmode");
      break;
    case WM_CAPTURECHANGED:
      g_messages.push_back("capturechanged");
      break;
    case WM_SETCURSOR:
      g_messages.push_back("setcursor " + std::to_string(LOWORD(lparam)) + " " +
                           std::to_string(HIWORD(lparam)));
      break;
    case WM_MOUSEMOVE:
      g_messages.push_back("mousemove");
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

class Focus : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "FocusTest";
    RegisterClassExA(&wc);
    hwnd_ = CreateWindowExA(0, "FocusTest", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    g_messages.clear();
  }
  void TearDown() override {
    DestroyWindow(hwnd_);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND hwnd_;
};

TEST_F(Focus, FirstShowActivatesAndHostFocusChangesMoveActivationAndFocus) {
  ShowWindow(hwnd_, SW_SHOW);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"activateapp 1", "activate 1", "setfocus"}));
  EXPECT_EQ(GetFocus(), hwnd_);
  g_messages.clear();
  ShowWindow(hwnd_, SW_SHOW);  // already shown: nothing
  EXPECT_TRUE(g_messages.empty());

  orvane::host::HostFocusChanged(hwnd_, false);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"activate 0", "activateapp 0", "killfocus"}));
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  g_messages.clear();
  orvane::host::HostFocusChanged(hwnd_, true);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"activateapp 1", "activate 1", "setfocus"}));
}

TEST_F(Focus, CaptureIsCancelledWhenTheFocusGoes) {
  ShowWindow(hwnd_, SW_SHOW);
  EXPECT_EQ(SetCapture(hwnd_), nullptr);
  EXPECT_EQ(GetCapture(), hwnd_);
  g_messages.clear();
  orvane::host::HostFocusChanged(hwnd_, false);
  ASSERT_GE(g_messages.size(), 2u);
  EXPECT_EQ(g_messages[0], "cancelmode");
  EXPECT_EQ(g_messages[1], "capturechanged");  // DefWindowProcA keeps the capture: it is ended for it
  EXPECT_EQ(GetCapture(), nullptr);
  orvane::host::HostFocusChanged(hwnd_, true);
  SetCapture(hwnd_);
  DestroyWindow(hwnd_);
  EXPECT_EQ(GetCapture(), nullptr);  // a destroyed window holds no capture
  hwnd_ = CreateWindowExA(0, "FocusTest", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(Focus, WmSetCursorPrecedesMouseMessagesOutsideACapture) {
  PostMessageA(hwnd_, WM_MOUSEMOVE, 0, 0);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"setcursor 1 512", "mousemove"}));
  // DefWindowProcA shows the arrow over a client area; NULL hides the cursor.
  SetCursor(nullptr);
  SendMessageA(hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd_), MAKELONG(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW));
  g_messages.clear();
  SetCapture(hwnd_);
  PostMessageA(hwnd_, WM_MOUSEMOVE, 0, 0);
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"mousemove"}));
  ReleaseCapture();
}

TEST(HeadlessHost, MessageBoxesAlsoGoToStderrInUtf8) {
  testing::internal::CaptureStderr();
  MessageBoxA(nullptr, "テキスト", "題名", MB_OK);
  std::string err = testing::internal::GetCapturedStderr();
  const char8_t* utf8 = u8"[題名] テキスト\n";  // a u8 literal stays UTF-8
  EXPECT_EQ(err, reinterpret_cast<const char*>(utf8));
}

TEST(ShellExecute, HeadlessRecordsRequestsAndRefusesOtherVerbs) {
  orvane::host::TakeTrace();
  EXPECT_GT(
      reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", "https://example.org/", nullptr, nullptr, 1)),
      32);
  EXPECT_GT(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, nullptr, "/bin/true", "a \"b c\"", nullptr, 1)),
            32);
  EXPECT_EQ(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "print", "x", nullptr, nullptr, 1)),
            SE_ERR_NOASSOC);
  EXPECT_EQ(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", "", nullptr, nullptr, 1)), SE_ERR_FNF);
  EXPECT_EQ(orvane::host::TakeTrace(),
            (std::vector<std::string>{"shellexecute 'open' 'https://example.org/' ''",
                                      "shellexecute 'open' '/bin/true' 'a \"b c\"'"}));
}

TEST(ShellExecute, ParametersSplitLikeACommandLine) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"", {}},
      {"  a\tb  ", {"a", "b"}},
      {"\"one two\" three", {"one two", "three"}},
      {"say \"\"hi\"\"", {"say", "\"hi\""}},
      {"x\"y z\"w", {"xy zw"}},
      {"\"open", {"open"}},
      {"表示 ;rm -rf", {"表示", ";rm", "-rf"}},  // no shell: these are plain words
  };
  for (const Case& c : cases) EXPECT_EQ(orvane::SplitShellArguments(c.text), c.args) << c.text;
}

}  // namespace
