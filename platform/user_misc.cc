// Message boxes, beeps, icons and cursors, the caret, scroll-bar values, and the shell start-up calls.
#include <cstdio>
#include <string>

#include "platform/host.h"
#include "platform/user_internal.h"

using namespace orvane::user;
namespace host = orvane::host;

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (owner && !IsWindow(owner)) owner = nullptr;
  std::string t = text ? text : "";
  std::string c = caption ? caption : "Error";
  char kind[16];
  std::snprintf(kind, sizeof(kind), "%u", type);
  host::RecordTrace("messagebox '" + c + "' '" + t + "' " + kind);
  int r = host::Current().MessageBox(owner, host::Cp932ToUtf8(t).c_str(), host::Cp932ToUtf8(c).c_str(), type);
  if (r == 0) SetLastError(ERROR_NOT_SUPPORTED);
  return r;
}

BOOL MessageBeep(UINT type) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "beep %u", type);
  host::RecordTrace(buf);
  host::Current().Beep(type);
  return TRUE;
}

// ---- Icons and cursors: the system's own exist as fixed handles; a program's are not kept.
namespace {
HICON SystemHandle(LPCSTR name, UINT_PTR base) {
  if (!IS_INTRESOURCE(name)) return nullptr;
  return reinterpret_cast<HICON>(base + reinterpret_cast<UINT_PTR>(name));
}
HCURSOR g_cursor = nullptr;
int g_cursor_count = 0;
}  // namespace

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (instance) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return SystemHandle(name, 0x10000000);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (instance) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(SystemHandle(name, 0x20000000));
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR old = g_cursor;
  g_cursor = cursor;
  // NULL hides the cursor over the program's windows (the host shows it until told otherwise).
  static bool host_visible = true;
  if (host_visible != (cursor != nullptr)) {
    host_visible = cursor != nullptr;
    host::Current().ShowCursor(host_visible);
  }
  return old;
}

HCURSOR GetCursor() {
  return g_cursor;
}

int ShowCursor(BOOL show) {
  return show ? ++g_cursor_count : --g_cursor_count;
}

// ---- The caret.
namespace {
struct Caret {
  HWND owner = nullptr;
  POINT pos{0, 0};
  int hidden = 1;  // ShowCaret count below zero shows it
  UINT blink = 530;
} g_caret;
}  // namespace

BOOL CreateCaret(HWND hwnd, HBITMAP, int, int) {
  if (!Find(hwnd)) return FALSE;
  g_caret.owner = hwnd;
  g_caret.pos = {0, 0};
  g_caret.hidden = 1;
  return TRUE;
}

BOOL DestroyCaret() {
  if (!g_caret.owner) return FALSE;
  g_caret.owner = nullptr;
  return TRUE;
}

UINT GetCaretBlinkTime() {
  return g_caret.blink;
}

BOOL SetCaretBlinkTime(UINT milliseconds) {
  g_caret.blink = milliseconds;
  return TRUE;
}

BOOL GetCaretPos(LPPOINT point) {
  if (!point || !g_caret.owner) return FALSE;
  *point = g_caret.pos;
  return TRUE;
}

BOOL SetCaretPos(int x, int y) {
  if (!g_caret.owner) return FALSE;
  g_caret.pos = {x, y};
  return TRUE;
}

BOOL ShowCaret(HWND hwnd) {
  if (!g_caret.owner || (hwnd && hwnd != g_caret.owner)) return FALSE;
  if (g_caret.hidden > 0) --g_caret.hidden;
  return TRUE;
}

BOOL HideCaret(HWND hwnd) {
  if (!g_caret.owner || (hwnd && hwnd != g_caret.owner)) return FALSE;
  ++g_caret.hidden;
  return TRUE;
}

// ---- Scroll bars: values of the window's two standard bars.
namespace {
ScrollBar* Bar(HWND hwnd, int bar) {
  if (bar != SB_HORZ && bar != SB_VERT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  WindowPtr w = Find(hwnd);
  return w ? &w->scroll[bar] : nullptr;
}

int Clamp(const ScrollBar& b, int pos) {
  int hi = b.max - (b.page ? static_cast<int>(b.page) - 1 : 0);
  if (hi < b.min) hi = b.min;
  return pos < b.min ? b.min : (pos > hi ? hi : pos);
}
}  // namespace

BOOL GetScrollRange(HWND hwnd, int bar, int* min_pos, int* max_pos) {
  ScrollBar* b = Bar(hwnd, bar);
  if (!b || !min_pos || !max_pos) return FALSE;
  *min_pos = b->min;
  *max_pos = b->max;
  return TRUE;
}

BOOL SetScrollRange(HWND hwnd, int bar, int min_pos, int max_pos, BOOL) {
  ScrollBar* b = Bar(hwnd, bar);
  if (!b) return FALSE;
  b->min = min_pos;
  b->max = max_pos;
  b->pos = Clamp(*b, b->pos);
  return TRUE;
}

int GetScrollPos(HWND hwnd, int bar) {
  ScrollBar* b = Bar(hwnd, bar);
  return b ? b->pos : 0;
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL) {
  ScrollBar* b = Bar(hwnd, bar);
  if (!b) return 0;
  int old = b->pos;
  b->pos = Clamp(*b, pos);
  return old;
}

BOOL EnableScrollBar(HWND hwnd, UINT bar, UINT arrows) {
  if (bar == SB_BOTH) return EnableScrollBar(hwnd, SB_HORZ, arrows) && EnableScrollBar(hwnd, SB_VERT, arrows);
  ScrollBar* b = Bar(hwnd, static_cast<int>(bar));
  if (!b) return FALSE;
  b->enabled = arrows != ESB_DISABLE_BOTH;
  return TRUE;
}

BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show) {
  if (bar == SB_BOTH) return ShowScrollBar(hwnd, SB_HORZ, show) && ShowScrollBar(hwnd, SB_VERT, show);
  ScrollBar* b = Bar(hwnd, bar);
  if (!b) return FALSE;
  b->shown = show != FALSE;
  return TRUE;
}

BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info) {
  ScrollBar* b = Bar(hwnd, bar);
  if (!b || !info) return FALSE;
  if (info->fMask & SIF_RANGE) {
    info->nMin = b->min;
    info->nMax = b->max;
  }
  if (info->fMask & SIF_PAGE) info->nPage = b->page;
  if (info->fMask & SIF_POS) info->nPos = b->pos;
  if (info->fMask & SIF_TRACKPOS) info->nTrackPos = b->pos;
  return TRUE;
}

int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL) {
  ScrollBar* b = Bar(hwnd, bar);
  if (!b || !info) return 0;
  if (info->fMask & SIF_RANGE) {
    b->min = info->nMin;
    b->max = info->nMax;
  }
  if (info->fMask & SIF_PAGE) b->page = info->nPage;
  if (info->fMask & SIF_POS) b->pos = info->nPos;
  b->pos = Clamp(*b, b->pos);
  return b->pos;
}

// ---- Shell start-up: nothing to set up on this host.
void InitCommonControls() {}
HRESULT CoInitialize(LPVOID) {
  return S_OK;
}
void CoUninitialize() {}
