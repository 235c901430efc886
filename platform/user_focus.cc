// Activation, keyboard focus on host focus changes, mouse capture and the cursor over client areas.
#include <vector>

#include "platform/host.h"
#include "platform/user_internal.h"

namespace orvane::user {
namespace {

std::mutex g_lock;
bool g_app_active = false;
HWND g_capture = nullptr;

// Every live top-level window, in creation order.
std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> out;
  for (const WindowPtr& w : AllWindows()) {
    if (!(w->style & WS_CHILD) && !w->destroying) out.push_back(w->handle);
  }
  return out;
}

void SendActivateApp(bool active) {
  for (HWND h : TopLevelWindows()) {
    if (Peek(h)) SendMessageA(h, WM_ACTIVATEAPP, active ? TRUE : FALSE, 0);
  }
}

bool IsMouseMessage(UINT message) {
  return message >= WM_MOUSEMOVE && message <= 0x0209u;
}

}  // namespace

void ActivateApplication() {
  {
    std::lock_guard l(g_lock);
    if (g_app_active) return;
    g_app_active = true;
  }
  SendActivateApp(true);
}

void DeactivateApplication() {
  {
    std::lock_guard l(g_lock);
    if (!g_app_active) return;
    g_app_active = false;
  }
  SendActivateApp(false);
}

void SetCursorBeforeMouse(const MSG& msg) {
  if (!msg.hwnd || !IsMouseMessage(msg.message) || GetCapture()) return;
  SendMessageA(msg.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(msg.hwnd), MAKELONG(HTCLIENT, msg.message));
}

LRESULT DefaultSetCursor(HWND hwnd, WPARAM wparam, LPARAM lparam) {
  (void)hwnd;
  (void)wparam;
  if (LOWORD(lparam) == HTCLIENT) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  return FALSE;
}

}  // namespace orvane::user

namespace orvane::host {

void HostFocusChanged(HWND hwnd, bool gained) {
  using namespace orvane::user;
  if (gained) {
    if (IsWindow(hwnd)) SetForegroundWindow(hwnd);
    return;
  }
  // A capture does not survive the focus going elsewhere: its window hears of it first.
  if (HWND capture = GetCapture()) {
    SendMessageA(capture, WM_CANCELMODE, 0, 0);
    if (GetCapture()) ReleaseCapture();
  }
  DeactivateForeground();
  DeactivateApplication();
  SetFocus(nullptr);
}

}  // namespace orvane::host

using namespace orvane::user;

HWND SetCapture(HWND hwnd) {
  if (hwnd && !Find(hwnd)) return nullptr;
  HWND old;
  {
    std::lock_guard l(g_lock);
    old = g_capture;
    g_capture = hwnd;
  }
  if (old != hwnd) {
    if (old && Peek(old)) SendMessageA(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    orvane::host::Current().CaptureMouse(hwnd, hwnd != nullptr);
  }
  return old;
}

BOOL ReleaseCapture() {
  HWND old;
  {
    std::lock_guard l(g_lock);
    old = g_capture;
    g_capture = nullptr;
  }
  if (old) {
    orvane::host::Current().CaptureMouse(old, false);
    if (Peek(old)) SendMessageA(old, WM_CAPTURECHANGED, 0, 0);
  }
  return TRUE;
}

HWND GetCapture() {
  std::lock_guard l(g_lock);
  if (g_capture && !Peek(g_capture)) g_capture = nullptr;  // its window is gone
  return g_capture;
}
