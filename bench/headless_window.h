// The headless host's window for display benchmarks: the stand-in device reset with its call log
// off, and a visible popup window of the given size under a class of its own.
#pragma once

#include <stdlib.h>

#include "base/dwindow.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"

namespace orvane_bench {

inline LRESULT CALLBACK HeadlessWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

inline HWND HeadlessWindow(const char* class_name, int width, int height) {
  setenv("ORVANE_BACKEND", "headless", 0);
  orvane::dx::Reset();
  orvane::dx::LogCalls(false);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = HeadlessWindowProc;
  wc.lpszClassName = class_name;
  RegisterClassExA(&wc);
  return CreateWindowExA(0, class_name, "b", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                         nullptr, nullptr);
}

}  // namespace orvane_bench
