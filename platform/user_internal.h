// The window manager's shared state: window records and the lookups the user_*.cc files share.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/user.h"

namespace orvane::user {

struct ScrollBar {
  int min = 0;
  int max = 100;
  UINT page = 0;
  int pos = 0;
  bool enabled = true;
  bool shown = true;
};

// One window of the window manager.
struct Window {
  HWND handle = nullptr;
  std::string class_name;        // as registered
  UINT class_style = 0;          // CS_ bits of the class
  WNDPROC proc = nullptr;        // current window procedure (GWLP_WNDPROC)
  HINSTANCE instance = nullptr;  // instance given to CreateWindowExA
  std::string title;             // window text, cp932
  DWORD style = 0;
  DWORD ex_style = 0;
  RECT rect{};              // window rectangle: screen (top-level) or parent client coordinates
  HWND parent = nullptr;    // parent of a child window
  HWND owner = nullptr;     // owner of a top-level window
  HMENU menu = nullptr;     // menu of a top-level window
  LONG_PTR id = 0;          // control id of a child window
  LONG_PTR user_data = 0;   // GWLP_USERDATA
  std::vector<BYTE> extra;  // cbWndExtra bytes
  DWORD thread = 0;         // thread that created the window and owns its messages
  bool visible = false;
  bool enabled = true;
  bool minimized = false;
  bool maximized = false;
  bool restore_to_maximized = false;
  RECT normal{};  // normal (restored) rectangle
  POINT min_pos{-1, -1};
  POINT max_pos{-1, -1};
  bool has_update = false;   // an update region exists
  RECT update{};             // its bounding rectangle, client coordinates
  bool host_window = false;  // the host shows this window
  bool destroying = false;
  ScrollBar scroll[2];
  HFONT font = nullptr;      // set by WM_SETFONT, answered to WM_GETFONT
  HFONT own_font = nullptr;  // a font this window made (a dialog's template font), deleted with it
  // Dialogs.
  bool is_dialog = false;
  DLGPROC dlg_proc = nullptr;
  LONG_PTR dlg_msg_result = 0;
  LONG_PTR dlg_user = 0;
  bool dlg_ended = false;
  INT_PTR dlg_result = 0;
};

using WindowPtr = std::shared_ptr<Window>;

// The record of a live window, or null (and ERROR_INVALID_WINDOW_HANDLE) for a bad handle.
WindowPtr Find(HWND hwnd);
// Like Find without touching the last error.
WindowPtr Peek(HWND hwnd);
// The children of a window (direct children when deep is false), in creation order.
std::vector<HWND> Children(HWND hwnd, bool deep);
// Whether some window may have got an update region since the last call (the hint is then
// cleared); SetUpdateHint puts it back. Saves the queue a walk over every window per peek.
bool TakeUpdateHint();
void SetUpdateHint();
// Every live window, in creation order.
std::vector<WindowPtr> AllWindows();
// Case-insensitive ASCII compare of two names (cp932 trail bytes compare exactly).
bool SameName(const char* a, const char* b);
// The program's instance: the handle GetModuleHandleA(NULL) gives.
HINSTANCE MainInstance();
// Dialog units to pixels.
int DialogUnitsX(int du);
int DialogUnitsY(int du);
// Kills every timer of a window (the window is being destroyed).
void KillWindowTimers(HWND hwnd);
// The menu bar of this menu exists (a valid menu handle).
bool IsMenu(HMENU menu);

// Activation and focus (user_focus.cc): the application becomes active (WM_ACTIVATEAPP to the
// top-level windows when it was not); the active window stops being active (WM_ACTIVATE).
void ActivateApplication();
void DeactivateApplication();
void DeactivateForeground();
// Before a mouse message reaches a window that holds no capture: WM_SETCURSOR for its client area.
void SetCursorBeforeMouse(const MSG& msg);
// Called with every posted message that is taken out of a queue (on the taking thread).
void SetPostedTakenHook(void (*hook)(const MSG& msg));
// DefWindowProcA's WM_SETCURSOR: the arrow over the client area.
LRESULT DefaultSetCursor(HWND hwnd, WPARAM wparam, LPARAM lparam);

}  // namespace orvane::user
