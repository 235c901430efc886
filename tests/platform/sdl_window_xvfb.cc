// Under Xvfb: the SDL host opens a real window of the right client size, its close box reaches a
// window listener as WM_CLOSE, a second top-level window gets a window of its own, and real keys
// (sent through XTEST) arrive as key messages with their virtual keys, scan codes and characters.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "base/dwindow.h"
#include "platform/host.h"

namespace {

struct CloseListener : DMessageListener {
  int closes = 0;
  bool OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM, LPARAM) override {
    if (message != WM_CLOSE) return true;
    ++closes;
    *result = 0;
    return false;  // handled: the window stays
  }
};

TEST(SdlWindow, OpensWithItsClientSizeAndDeliversClose) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow w;
  ASSERT_TRUE(w.Create("", "Orvane 表示", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100));
  ASSERT_TRUE(w.SetClientSize(640, 480));
  w.Show(SW_SHOWNORMAL);
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(w.GetHandle()));
  ASSERT_NE(native, nullptr);
  int cw = 0, ch = 0;
  SDL_GetWindowSize(native, &cw, &ch);
  EXPECT_EQ(cw, 640);
  EXPECT_EQ(ch, 480);
  EXPECT_TRUE(SDL_GetWindowFlags(native) & SDL_WINDOW_SHOWN);

  CloseListener listener;
  ASSERT_TRUE(listener.Attach(w));
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(native);
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  for (int i = 0; i < 50 && listener.closes == 0; ++i) {
    DPumpMessages();
    SDL_Delay(10);
  }
  EXPECT_EQ(listener.closes, 1);
  EXPECT_TRUE(w.IsWindow());
  w.Destroy();
  EXPECT_EQ(orvane::host::NativeWindow(w.GetHandle()), nullptr);
}

}  // namespace

namespace {

// What the windows of the input test received.
struct Received {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};
std::vector<Received> g_received;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR || message == WM_LBUTTONDOWN)
    g_received.push_back({hwnd, message, wparam, lparam});
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

// Pumps with TranslateMessage until `done` holds or about two seconds passed.
template <class Done>
void PumpUntil(Done done) {
  for (int i = 0; i < 200 && !done(); ++i) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    SDL_Delay(10);
  }
}

// Runs xdotool (real input through the XTEST extension) with these arguments.
void XTest(const std::string& arguments) {
  std::string command = "xdotool " + arguments;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::vector<Received> Take(UINT message) {
  std::vector<Received> r;
  for (const Received& x : g_received)
    if (x.message == message) r.push_back(x);
  return r;
}

TEST(SdlWindow, RealKeysAndASecondTopLevelWindow) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  ASSERT_EQ(std::system("command -v xdotool > /dev/null"), 0) << "xdotool is not installed (tools/deps.sh)";
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "OrvaneXvfbInput";
  ASSERT_NE(RegisterClassExA(&wc), 0);
  HWND main = CreateWindowExA(0, "OrvaneXvfbInput", "main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(main, nullptr);
  // A second top-level window, owned by the first (as a dialog is), shown as its own SDL window.
  HWND second = CreateWindowExA(0, "OrvaneXvfbInput", "second", WS_POPUP | WS_CAPTION | WS_VISIBLE, 400, 300,
                                200, 150, main, nullptr, nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  auto* main_native = static_cast<SDL_Window*>(orvane::host::NativeWindow(main));
  auto* second_native = static_cast<SDL_Window*>(orvane::host::NativeWindow(second));
  ASSERT_NE(main_native, nullptr);
  ASSERT_NE(second_native, nullptr);
  EXPECT_NE(main_native, second_native);
  EXPECT_TRUE(SDL_GetWindowFlags(second_native) & SDL_WINDOW_SHOWN);
  PumpUntil([] { return false; });  // let both windows map

  // Keys typed into the second window reach it: a key without a letter, Return and a letter.
  SDL_SetWindowInputFocus(second_native);
  int x = 0, y = 0;
  SDL_GetWindowPosition(second_native, &x, &y);
  XTest("mousemove " + std::to_string(x + 100) + " " + std::to_string(y + 75) + " click 1");
  PumpUntil([] { return !Take(WM_LBUTTONDOWN).empty(); });
  SDL_SetWindowInputFocus(second_native);
  PumpUntil([] { return false; });
  g_received.clear();
  XTest("key comma Return a Escape F1");
  PumpUntil([] { return Take(WM_KEYUP).size() >= 5; });

  struct Expected {
    WPARAM vk;
    unsigned scan;
  } keys[] = {{VK_OEM_COMMA, 0x33}, {VK_RETURN, 0x1C}, {'A', 0x1E}, {VK_ESCAPE, 0x01}, {VK_F1, 0x3B}};
  std::vector<Received> downs = Take(WM_KEYDOWN);
  ASSERT_EQ(downs.size(), std::size(keys));
  for (size_t i = 0; i < downs.size(); ++i) {
    EXPECT_EQ(downs[i].hwnd, second);
    EXPECT_EQ(downs[i].wparam, keys[i].vk) << i;
    EXPECT_EQ((downs[i].lparam >> 16) & 0xFF, static_cast<LPARAM>(keys[i].scan)) << i;
    EXPECT_EQ((downs[i].lparam >> 24) & 1, 0) << i;
  }
  // Characters: the comma and the letter from the text input, Return and Escape from
  // TranslateMessage, each right after its key.
  std::vector<Received> chars = Take(WM_CHAR);
  std::vector<WPARAM> typed;
  for (const Received& c : chars) {
    EXPECT_EQ(c.hwnd, second);
    typed.push_back(c.wparam);
  }
  EXPECT_EQ(typed, (std::vector<WPARAM>{',', 0x0D, 'a', 0x1B}));

  // An extended key sets bit 24.
  g_received.clear();
  XTest("key Right");
  PumpUntil([] { return !Take(WM_KEYUP).empty(); });
  std::vector<Received> right = Take(WM_KEYDOWN);
  ASSERT_EQ(right.size(), 1u);
  EXPECT_EQ(right[0].wparam, static_cast<WPARAM>(VK_RIGHT));
  EXPECT_EQ(right[0].lparam & 0x01FF0000, 0x014D0000);

  // Text input of a double-byte character arrives as two WM_CHAR, lead byte first.
  g_received.clear();
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  e.text.windowID = SDL_GetWindowID(second_native);
  std::strcpy(e.text.text, "\xE8\xA1\xA8");  // U+8868, cp932 0x95 0x5C
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  PumpUntil([] { return Take(WM_CHAR).size() >= 2; });
  std::vector<Received> wide = Take(WM_CHAR);
  ASSERT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide[0].wparam, 0x95u);
  EXPECT_EQ(wide[1].wparam, 0x5Cu);

  DestroyWindow(second);
  EXPECT_EQ(orvane::host::NativeWindow(second), nullptr);
  EXPECT_NE(orvane::host::NativeWindow(main), nullptr);
  DestroyWindow(main);
}

}  // namespace

namespace {

// SetCursorPos on the main window moves the real cursor to that client point (the host's cursor
// follows, not only the platform's own record of it).
TEST(SdlWindow, SetCursorPosMovesTheHostCursor) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow w;
  ASSERT_TRUE(w.Create("", "cursor", WS_OVERLAPPEDWINDOW, 0, 60, 40, 100, 100));
  ASSERT_TRUE(w.SetClientSize(320, 240));
  w.Show(SW_SHOWNORMAL);
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(w.GetHandle()));
  ASSERT_NE(native, nullptr);
  PumpUntil([] { return false; });  // let the window map
  ASSERT_EQ(GetActiveWindow(), w.GetHandle());
  for (POINT client : {POINT{100, 50}, POINT{7, 200}}) {
    POINT screen = client;
    ClientToScreen(w.GetHandle(), &screen);
    ASSERT_TRUE(SetCursorPos(screen.x, screen.y));
    int gx = -1, gy = -1, wx = 0, wy = 0;
    PumpUntil([&] {
      SDL_GetGlobalMouseState(&gx, &gy);
      SDL_GetWindowPosition(native, &wx, &wy);
      return gx - wx == client.x && gy - wy == client.y;
    });
    EXPECT_EQ(gx - wx, client.x);
    EXPECT_EQ(gy - wy, client.y);
    POINT back{};
    ASSERT_TRUE(GetCursorPos(&back));
    EXPECT_EQ(back.x, screen.x);
    EXPECT_EQ(back.y, screen.y);
  }
  w.Destroy();
  DSetApplication(nullptr);
}

}  // namespace
