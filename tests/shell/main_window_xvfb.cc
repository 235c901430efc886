// Under Xvfb: the main window opens as a real window titled "オルベイン" with a 640 x 480 client area.
#include <SDL.h>
#include <gtest/gtest.h>

#include "shell_fixture.h"

namespace {

using namespace shell_test;

TEST_F(ShellTest, MainWindowOpensOnTheRealHost) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  EngineUnits() = FakeTable(true);
  ASSERT_TRUE(MainWindow().Create());
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(MainWindow().GetHandle()));
  ASSERT_NE(native, nullptr);
  EXPECT_STREQ(SDL_GetWindowTitle(native), reinterpret_cast<const char*>(u8"オルベイン"));
  int w = 0, h = 0;
  SDL_GetWindowSize(native, &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_TRUE(SDL_GetWindowFlags(native) & SDL_WINDOW_SHOWN);
  // Capture and the hidden cursor reach the host without harm.
  SendMessageA(MainWindow().GetHandle(), WM_LBUTTONDOWN, 0, 0);
  SendMessageA(MainWindow().GetHandle(), WM_LBUTTONUP, 0, 0);
  MainWindow().ShowCursor(false);
  SendMessageA(MainWindow().GetHandle(), WM_SETCURSOR, 0, MAKELONG(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

}  // namespace
