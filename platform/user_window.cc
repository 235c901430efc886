// The window manager: window classes, window records, creation and destruction, window data,
// visibility, geometry, placement, update regions and the default window procedure.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "platform/cp932.h"
#include "platform/gdi.h"
#include "platform/host.h"
#include "platform/module.h"
#include "platform/user_internal.h"

namespace orvane::user {
namespace {

constexpr int kCaption = 19;  // SM_CYCAPTION
constexpr int kMenuBar = 19;  // SM_CYMENU

struct ClassRecord {
  WNDCLASSEXA wc;
  std::string name;
  std::string menu_name;
  ATOM atom;
};

std::recursive_mutex g_lock;
std::atomic<bool> g_update_hint{false};  // some window may have an update region
// The objects below are made on first use and never destroyed: a run that never needs them never
// touches them (nor their pages at start and exit), and code running during exit still finds them.
std::map<ATOM, ClassRecord>& Classes() {
  static auto* made = new std::map<ATOM, ClassRecord>;
  return *made;
}
ATOM g_next_atom = 0xC000;
std::map<UINT_PTR, WindowPtr>& Windows() {  // ordered by handle, so by creation
  static auto* made = new std::map<UINT_PTR, WindowPtr>;
  return *made;
}
UINT_PTR g_next_handle = 0x10000;
HWND g_focus = nullptr;
HWND g_foreground = nullptr;
int g_default_pos = 0;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
using orvane::cp932::IsLeadByte;

ClassRecord* FindClass(LPCSTR name) {
  if (!name) return nullptr;
  if (IS_INTRESOURCE(name)) {
    auto it = Classes().find(static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name)));
    return it == Classes().end() ? nullptr : &it->second;
  }
  for (auto& [atom, c] : Classes()) {
    if (SameName(c.name.c_str(), name)) return &c;
  }
  return nullptr;
}

void HostTrace(const char* what, HWND hwnd, const std::string& rest) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s %p", what, static_cast<void*>(hwnd));
  host::RecordTrace(rest.empty() ? std::string(buf) : std::string(buf) + " " + rest);
}

// Frame thickness, caption and menu heights that a style adds around the client area.
struct Frame {
  int x, top, bottom;
};
Frame FrameOf(DWORD style, DWORD ex_style, bool menu) {
  int f = 0;
  if (style & WS_THICKFRAME)
    f = 4;
  else if ((style & WS_DLGFRAME) || (ex_style & WS_EX_DLGMODALFRAME))
    f = 3;
  else if (style & WS_BORDER)
    f = 1;
  if (ex_style & WS_EX_CLIENTEDGE) f += 2;
  int top = f;
  if ((style & WS_CAPTION) == WS_CAPTION) top += kCaption;
  if (menu) top += kMenuBar;
  return {f, top, f};
}

bool HasMenuBar(const Window& w) {
  return !(w.style & WS_CHILD) && w.menu != nullptr;
}

Frame FrameOf(const Window& w) {
  return FrameOf(w.style, w.ex_style, HasMenuBar(w));
}

// Screen position of the client area's top-left corner of a window.
POINT ClientOrigin(const Window& w);

POINT ParentClientOrigin(const Window& w) {
  if ((w.style & WS_CHILD) && w.parent) {
    if (WindowPtr p = Peek(w.parent)) return ClientOrigin(*p);
  }
  return {0, 0};
}

POINT ClientOrigin(const Window& w) {
  POINT base = ParentClientOrigin(w);
  Frame f = FrameOf(w);
  return {base.x + w.rect.left + f.x, base.y + w.rect.top + f.top};
}

SIZE ClientSize(const Window& w) {
  Frame f = FrameOf(w);
  LONG cw = (w.rect.right - w.rect.left) - 2 * f.x;
  LONG ch = (w.rect.bottom - w.rect.top) - f.top - f.bottom;
  return {std::max<LONG>(cw, 0), std::max<LONG>(ch, 0)};
}

void ScreenSize(int* w, int* h) {
  host::Current().ScreenSize(w, h);
}

// Tells the host where the client area of a top-level window now is.
void SyncHost(const Window& w) {
  if (!w.host_window) return;
  POINT o = ClientOrigin(w);
  SIZE s = ClientSize(w);
  host::Current().SetClientRect(w.handle, o.x, o.y, s.cx, s.cy);
}

void InvalidateAll(Window& w) {
  SIZE s = ClientSize(w);
  w.has_update = true;
  g_update_hint.store(true, std::memory_order_relaxed);
  w.update = {0, 0, s.cx, s.cy};
}

// Moves a window to a new rectangle and sends WM_MOVE / WM_SIZE for what changed.
void SetRect(HWND hwnd, RECT r, bool repaint) {
  WindowPtr w = Peek(hwnd);
  if (!w) return;
  RECT old = w->rect;
  SIZE old_client = ClientSize(*w);
  w->rect = r;
  if (!w->minimized && !w->maximized) w->normal = r;
  SIZE client = ClientSize(*w);
  SyncHost(*w);
  bool moved = old.left != r.left || old.top != r.top;
  bool sized = old_client.cx != client.cx || old_client.cy != client.cy;
  if (repaint && (moved || sized || old.right != r.right || old.bottom != r.bottom)) InvalidateAll(*w);
  if (moved) {
    POINT o = ClientOrigin(*w);
    POINT base = ParentClientOrigin(*w);
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(o.x - base.x, o.y - base.y));
  }
  if (sized) {
    WPARAM kind = w->maximized ? SIZE_MAXIMIZED : (w->minimized ? SIZE_MINIMIZED : SIZE_RESTORED);
    SendMessageA(hwnd, WM_SIZE, kind, MAKELPARAM(client.cx, client.cy));
  }
}

void SetVisible(HWND hwnd, bool visible, bool notify) {
  WindowPtr w = Peek(hwnd);
  if (!w || w->visible == visible) return;
  if (notify) SendMessageA(hwnd, WM_SHOWWINDOW, visible ? TRUE : FALSE, 0);
  if (!(w = Peek(hwnd))) return;
  w->visible = visible;
  if (visible) {
    w->style |= WS_VISIBLE;
    InvalidateAll(*w);
  } else {
    w->style &= ~WS_VISIBLE;
  }
  if (w->host_window) host::Current().Show(hwnd, visible);
  char buf[8];
  std::snprintf(buf, sizeof(buf), "%d", visible ? 1 : 0);
  HostTrace("show", hwnd, buf);
}

RECT MaximizedRect() {
  int sw, sh;
  ScreenSize(&sw, &sh);
  return {0, 0, sw, sh};
}

void DestroyOne(HWND hwnd);

}  // namespace

bool SameName(const char* a, const char* b) {
  while (*a && *b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    if (IsLeadByte(ca)) {
      if (a[0] != b[0] || a[1] != b[1]) return false;
      if (!a[1]) return true;
      a += 2;
      b += 2;
      continue;
    }
    if (Lower(*a) != Lower(*b)) return false;
    ++a;
    ++b;
  }
  return *a == *b;
}

WindowPtr Peek(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  auto it = Windows().find(reinterpret_cast<UINT_PTR>(hwnd));
  return it == Windows().end() ? nullptr : it->second;
}

WindowPtr Find(HWND hwnd) {
  WindowPtr w = Peek(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

std::vector<HWND> Children(HWND hwnd, bool deep) {
  std::vector<HWND> out;
  std::lock_guard<std::recursive_mutex> l(g_lock);
  for (auto& [h, w] : Windows()) {
    if ((w->style & WS_CHILD) && w->parent == hwnd) {
      out.push_back(w->handle);
      if (deep) {
        auto sub = Children(w->handle, true);
        out.insert(out.end(), sub.begin(), sub.end());
      }
    }
  }
  return out;
}

bool TakeUpdateHint() {
  return g_update_hint.exchange(false, std::memory_order_relaxed);
}
void SetUpdateHint() {
  g_update_hint.store(true, std::memory_order_relaxed);
}

std::vector<WindowPtr> AllWindows() {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  std::vector<WindowPtr> out;
  out.reserve(Windows().size());
  for (auto& [h, w] : Windows()) out.push_back(w);
  return out;
}

HINSTANCE MainInstance() {
  return GetModuleHandleA(nullptr);
}

int DialogUnitsX(int du) {
  return du * 6 / 4;
}
int DialogUnitsY(int du) {
  return du * 12 / 8;
}

namespace {

void DestroyOne(HWND hwnd) {
  WindowPtr w = Peek(hwnd);
  if (!w || w->destroying) return;
  w->destroying = true;
  // Owned top-level windows go first, then this window's WM_DESTROY, then its children.
  std::vector<HWND> owned;
  {
    std::lock_guard<std::recursive_mutex> l(g_lock);
    for (auto& [h, o] : Windows()) {
      if (!(o->style & WS_CHILD) && o->owner == hwnd) owned.push_back(o->handle);
    }
  }
  for (HWND o : owned) DestroyOne(o);
  if (w->visible) SetVisible(hwnd, false, false);
  KillWindowTimers(hwnd);
  SendMessageA(hwnd, WM_DESTROY, 0, 0);
  for (HWND c : Children(hwnd, false)) DestroyOne(c);
  SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
  if (w->host_window) host::Current().DestroyWindow(hwnd);
  HostTrace("destroy", hwnd, "");
  if (w->own_font) DeleteObject(w->own_font);
  HWND reactivate = nullptr;
  bool was_foreground = false;
  {
    std::lock_guard<std::recursive_mutex> l(g_lock);
    Windows().erase(reinterpret_cast<UINT_PTR>(hwnd));
    if (g_focus == hwnd) g_focus = nullptr;
    if (g_foreground == hwnd) {
      g_foreground = nullptr;
      was_foreground = true;
      // The owner of an active window that goes (a dialog) becomes active again.
      if (w->owner && Peek(w->owner)) reactivate = w->owner;
    }
  }
  if (reactivate) {
    SetForegroundWindow(reactivate);
  } else if (was_foreground) {
    // No window of the program is active any more.
    DeactivateApplication();
  }
}

}  // namespace
}  // namespace orvane::user

using namespace orvane::user;
namespace host = orvane::host;

// ---------------------------------------------------------------- classes

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc ||
      IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::recursive_mutex> l(g_lock);
  if (FindClass(wc->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ClassRecord r;
  r.wc = *wc;
  r.name = wc->lpszClassName;
  if (wc->lpszMenuName && !IS_INTRESOURCE(wc->lpszMenuName)) r.menu_name = wc->lpszMenuName;
  r.atom = g_next_atom++;
  r.wc.lpszClassName = nullptr;
  ATOM atom = r.atom;
  Classes().emplace(atom, std::move(r));
  return atom;
}

BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  ClassRecord* c = FindClass(class_name);
  if (!c) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  for (auto& [h, w] : Windows()) {
    if (SameName(w->class_name.c_str(), c->name.c_str())) {
      SetLastError(1412);  // ERROR_CLASS_HAS_WINDOWS
      return FALSE;
    }
  }
  Classes().erase(c->atom);
  return TRUE;
}

BOOL GetClassInfoExA(HINSTANCE, LPCSTR class_name, WNDCLASSEXA* wc) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  ClassRecord* c = FindClass(class_name);
  if (!c || !wc) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  *wc = c->wc;
  wc->lpszClassName = c->name.c_str();
  return TRUE;
}

// ---------------------------------------------------------------- creation

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  WNDCLASSEXA wc;
  std::string cls_name;
  {
    std::lock_guard<std::recursive_mutex> l(g_lock);
    ClassRecord* c = FindClass(class_name);
    if (!c) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    wc = c->wc;
    cls_name = c->name;
  }
  WindowPtr parent_w;
  if (parent) {
    parent_w = Find(parent);
    if (!parent_w) return nullptr;
  }
  if ((style & WS_CHILD) && !parent_w) {
    SetLastError(1406);  // ERROR_TLW_WITH_WSCHILD
    return nullptr;
  }
  const bool child = (style & WS_CHILD) != 0;
  const bool popup = (style & WS_POPUP) != 0;
  if (x == CW_USEDEFAULT) {
    if (child || popup) {
      x = y = 0;
    } else {
      x = y = 26 * (g_default_pos++ % 8);
    }
  }
  if (width == CW_USEDEFAULT) {
    if (child || popup) {
      width = height = 0;
    } else {
      int sw, sh;
      ScreenSize(&sw, &sh);
      width = sw * 3 / 4;
      height = sh * 3 / 4;
    }
  }
  auto w = std::make_shared<Window>();
  w->class_name = cls_name;
  w->class_style = wc.style;
  w->proc = wc.lpfnWndProc;
  w->instance = instance;
  w->title = title && !IS_INTRESOURCE(title) ? title : "";
  w->style = style & ~WS_VISIBLE;
  w->ex_style = ex_style;
  w->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
  w->normal = w->rect;
  w->thread = GetCurrentThreadId();
  w->extra.assign(static_cast<size_t>(std::max(wc.cbWndExtra, 0)), 0);
  if (child) {
    w->parent = parent;
    w->id = reinterpret_cast<LONG_PTR>(menu);
  } else {
    if (parent_w) {
      // The owner of a top-level window is the top-level window of the parent given.
      HWND top = parent;
      while (WindowPtr p = Peek(top)) {
        if (!(p->style & WS_CHILD) || !p->parent) break;
        top = p->parent;
      }
      w->owner = top;
    }
    if (menu) {
      if (!IsMenu(menu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
      }
      w->menu = menu;
    }
  }
  HWND hwnd;
  {
    std::lock_guard<std::recursive_mutex> l(g_lock);
    hwnd = reinterpret_cast<HWND>(g_next_handle);
    g_next_handle += 0x10;
    w->handle = hwnd;
    Windows().emplace(reinterpret_cast<UINT_PTR>(hwnd), w);
  }
  CREATESTRUCTA cs{};
  cs.lpCreateParams = param;
  cs.hInstance = instance;
  cs.hMenu = menu;
  cs.hwndParent = parent;
  cs.cy = height;
  cs.cx = width;
  cs.y = y;
  cs.x = x;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = title;
  cs.lpszClass = class_name;
  cs.dwExStyle = ex_style;

  if (!child) {
    int sw, sh;
    ScreenSize(&sw, &sh);
    MINMAXINFO mmi{};
    mmi.ptMaxSize = {sw, sh};
    mmi.ptMaxPosition = {0, 0};
    mmi.ptMinTrackSize = {112, 27};
    mmi.ptMaxTrackSize = {sw, sh};
    SendMessageA(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  }
  if (!Peek(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (!SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    // Refused: the window goes without WM_DESTROY, as it never existed for its procedure.
    if (Peek(hwnd)) {
      w->destroying = true;
      SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
      std::lock_guard<std::recursive_mutex> l(g_lock);
      Windows().erase(reinterpret_cast<UINT_PTR>(hwnd));
    }
    SetLastError(1400);
    return nullptr;
  }
  if (!Peek(hwnd) || SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    if (Peek(hwnd)) DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (!Peek(hwnd)) return nullptr;
  if (!child) {
    POINT o = ClientOrigin(*w);
    SIZE s = ClientSize(*w);
    std::string utf8 = host::Cp932ToUtf8(w->title);
    w->host_window = host::Current().CreateWindow(hwnd, utf8.c_str(), o.x, o.y, s.cx, s.cy, false);
    char buf[300];
    std::snprintf(buf, sizeof(buf), "'%s' %ldx%ld", w->title.c_str(), static_cast<long>(s.cx),
                  static_cast<long>(s.cy));
    HostTrace("create", hwnd, buf);
  }
  SIZE s = ClientSize(*w);
  SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(s.cx, s.cy));
  if (Peek(hwnd))
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(w->rect.left + FrameOf(*w).x, w->rect.top + FrameOf(*w).top));
  if (!Peek(hwnd)) return nullptr;
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  DestroyOne(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  return Peek(hwnd) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  // Visible means the window and every parent up the chain are visible.
  WindowPtr w = Peek(hwnd);
  while (w) {
    if (!w->visible) return FALSE;
    if (!(w->style & WS_CHILD) || !w->parent) return TRUE;
    w = Peek(w->parent);
  }
  return FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  WindowPtr w = Peek(hwnd);
  return w && w->enabled ? TRUE : FALSE;
}

BOOL IsIconic(HWND hwnd) {
  WindowPtr w = Peek(hwnd);
  return w && w->minimized ? TRUE : FALSE;
}

BOOL IsZoomed(HWND hwnd) {
  WindowPtr w = Peek(hwnd);
  return w && w->maximized ? TRUE : FALSE;
}

BOOL IsChild(HWND parent, HWND hwnd) {
  WindowPtr w = Peek(hwnd);
  while (w && (w->style & WS_CHILD) && w->parent) {
    if (w->parent == parent) return TRUE;
    w = Peek(w->parent);
  }
  return FALSE;
}

HWND GetParent(HWND hwnd) {
  WindowPtr w = Find(hwnd);
  if (!w) return nullptr;
  return (w->style & WS_CHILD) ? w->parent : w->owner;
}

HWND SetParent(HWND hwnd, HWND parent) {
  WindowPtr w = Find(hwnd);
  if (!w) return nullptr;
  if (parent && !Find(parent)) return nullptr;
  HWND old = (w->style & WS_CHILD) ? w->parent : nullptr;
  if (w->style & WS_CHILD)
    w->parent = parent;
  else
    w->owner = parent;
  return old;
}

BOOL ShowWindow(HWND hwnd, int command) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  BOOL was_visible = w->visible ? TRUE : FALSE;
  switch (command) {
    case SW_HIDE:
      SetVisible(hwnd, false, true);
      break;
    case SW_SHOWMAXIMIZED:
      SetVisible(hwnd, true, true);
      if ((w = Peek(hwnd)) && !w->maximized) {
        if (!w->minimized) w->normal = w->rect;
        w->minimized = false;
        w->maximized = true;
        w->style = (w->style | WS_MAXIMIZE) & ~WS_MINIMIZE;
        SetRect(hwnd, MaximizedRect(), true);
      }
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      SetVisible(hwnd, true, true);
      if ((w = Peek(hwnd)) && !w->minimized) {
        if (!w->maximized) w->normal = w->rect;
        w->restore_to_maximized = w->maximized;
        w->maximized = false;
        w->minimized = true;
        w->style = (w->style | WS_MINIMIZE) & ~WS_MAXIMIZE;
      }
      break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
    case SW_SHOWDEFAULT:
      SetVisible(hwnd, true, true);
      if ((w = Peek(hwnd)) && (w->minimized || w->maximized)) {
        bool back_to_max = w->minimized && w->restore_to_maximized && command == SW_RESTORE;
        w->minimized = false;
        w->maximized = back_to_max;
        w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
        SetRect(hwnd, back_to_max ? MaximizedRect() : w->normal, true);
      }
      break;
    default:  // SW_SHOW, SW_SHOWNA, SW_SHOWNOACTIVATE
      SetVisible(hwnd, true, true);
      break;
  }
  // A top-level window that appears by an activating command becomes the active one.
  const bool activating = command != SW_HIDE && command != 4 && command != 6 && command != 7 && command != 8;
  if (!was_visible && activating && (w = Peek(hwnd)) && w->visible && !(w->style & WS_CHILD)) {
    SetForegroundWindow(hwnd);
  }
  return was_visible;
}

BOOL UpdateWindow(HWND hwnd) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  if (w->has_update && w->visible) SendMessageA(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  BOOL was_disabled = w->enabled ? FALSE : TRUE;
  bool now = enable != FALSE;
  if (w->enabled != now) {
    w->enabled = now;
    if (now)
      w->style &= ~WS_DISABLED;
    else
      w->style |= WS_DISABLED;
    SendMessageA(hwnd, WM_ENABLE, now ? TRUE : FALSE, 0);
  }
  return was_disabled;
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (!Find(hwnd)) return FALSE;
  HWND old = g_foreground;
  g_foreground = hwnd;
  ActivateApplication();
  if (old != hwnd) {
    if (old && Peek(old)) SendMessageA(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
    SendMessageA(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
    // An activated window takes the focus unless one of its children has it.
    if (IsWindow(hwnd) && g_focus != hwnd && !IsChild(hwnd, g_focus)) SetFocus(hwnd);
  }
  return TRUE;
}

void orvane::user::DeactivateForeground() {
  HWND old = g_foreground;
  g_foreground = nullptr;
  if (old && Peek(old)) SendMessageA(old, WM_ACTIVATE, WA_INACTIVE, 0);
}

BOOL BringWindowToTop(HWND hwnd) {
  return Find(hwnd) ? TRUE : FALSE;
}
HWND GetForegroundWindow() {
  return g_foreground;
}
HWND GetActiveWindow() {
  return g_foreground;
}
HWND GetFocus() {
  return g_focus;
}

HWND SetFocus(HWND hwnd) {
  if (hwnd && !Find(hwnd)) return nullptr;
  HWND old = g_focus;
  if (old == hwnd) return old;
  g_focus = hwnd;
  if (old && Peek(old)) SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd) SendMessageA(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = 0;
  if (!Find(hwnd)) return 0;
  return static_cast<int>(
      SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND hwnd) {
  if (!Find(hwnd)) return 0;
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!Find(hwnd)) return FALSE;
  return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

// ---------------------------------------------------------------- window data

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  WindowPtr w = Find(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->ex_style);
    case GWL_ID:
      return w->id;
    case GWL_USERDATA:
      return w->user_data;
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>((w->style & WS_CHILD) ? w->parent : w->owner);
    default:
      break;
  }
  if (w->is_dialog) {
    if (index == DWLP_MSGRESULT) return w->dlg_msg_result;
    if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dlg_proc);
    if (index == DWLP_USER) return w->dlg_user;
  }
  if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
    LONG_PTR v;
    std::memcpy(&v, w->extra.data() + index, sizeof(v));
    return v;
  }
  SetLastError(1413);  // ERROR_INVALID_INDEX
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  WindowPtr w = Find(hwnd);
  if (!w) return 0;
  LONG_PTR old = GetWindowLongPtrA(hwnd, index);
  switch (index) {
    case GWL_STYLE:
      w->style = static_cast<DWORD>(value);
      return old;
    case GWL_EXSTYLE:
      w->ex_style = static_cast<DWORD>(value);
      return old;
    case GWL_ID:
      w->id = value;
      return old;
    case GWL_USERDATA:
      w->user_data = value;
      return old;
    case GWL_WNDPROC:
      if (!value) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWL_HINSTANCE:
      w->instance = reinterpret_cast<HINSTANCE>(value);
      return old;
    case GWL_HWNDPARENT:
      if (!(w->style & WS_CHILD)) w->owner = reinterpret_cast<HWND>(value);
      return old;
    default:
      break;
  }
  if (w->is_dialog) {
    if (index == DWLP_MSGRESULT) {
      w->dlg_msg_result = value;
      return old;
    }
    if (index == DWLP_DLGPROC) {
      w->dlg_proc = reinterpret_cast<DLGPROC>(value);
      return old;
    }
    if (index == DWLP_USER) {
      w->dlg_user = value;
      return old;
    }
  }
  if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
    std::memcpy(w->extra.data() + index, &value, sizeof(value));
    return old;
  }
  SetLastError(1413);
  return 0;
}

LONG GetWindowLongA(HWND hwnd, int index) {
  if (index == GWL_WNDPROC) {
    // A procedure address does not fit 32 bits on this host.
    SetLastError(1413);
    return 0;
  }
  return static_cast<LONG>(GetWindowLongPtrA(hwnd, index));
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
  if (index == GWL_WNDPROC) {
    SetLastError(1413);
    return 0;
  }
  return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, value));
}

HWND FindWindowA(LPCSTR class_name, LPCSTR title) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  for (auto& [h, w] : Windows()) {
    if (w->style & WS_CHILD) continue;
    if (class_name && !IS_INTRESOURCE(class_name) && !SameName(w->class_name.c_str(), class_name)) continue;
    if (title && w->title != title) continue;
    return w->handle;
  }
  return nullptr;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param) {
  if (!proc) return FALSE;
  for (HWND c : Children(parent, true)) {
    if (Peek(c) && !proc(c, param)) break;
  }
  return TRUE;
}

int GetDlgCtrlID(HWND hwnd) {
  WindowPtr w = Find(hwnd);
  return w ? static_cast<int>(w->id) : 0;
}

// ---------------------------------------------------------------- geometry

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  WindowPtr w = Find(hwnd);
  if (!w || !rect) return FALSE;
  POINT base = ParentClientOrigin(*w);
  *rect = {w->rect.left + base.x, w->rect.top + base.y, w->rect.right + base.x, w->rect.bottom + base.y};
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  WindowPtr w = Find(hwnd);
  if (!w || !rect) return FALSE;
  SIZE s = ClientSize(*w);
  *rect = {0, 0, s.cx, s.cy};
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  if (w->maximized || w->minimized) {
    // Moving a maximized or minimized window leaves that state.
    w->maximized = w->minimized = false;
    w->style &= ~(WS_MAXIMIZE | WS_MINIMIZE);
  }
  SetRect(hwnd, {x, y, x + std::max(width, 0), y + std::max(height, 0)}, repaint != FALSE);
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%d,%d %dx%d", x, y, width, height);
  if (!(w->style & WS_CHILD)) HostTrace("move", hwnd, buf);
  return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  if (!(flags & SWP_NOMOVE) || !(flags & SWP_NOSIZE)) {
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      r.right += x - r.left;
      r.bottom += y - r.top;
      r.left = x;
      r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + std::max(cx, 0);
      r.bottom = r.top + std::max(cy, 0);
    }
    SetRect(hwnd, r, !(flags & SWP_NOREDRAW));
  }
  if (flags & SWP_SHOWWINDOW) SetVisible(hwnd, true, false);
  if (flags & SWP_HIDEWINDOW) SetVisible(hwnd, false, false);
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  WindowPtr w = Find(hwnd);
  if (!w || !point) return FALSE;
  POINT o = ClientOrigin(*w);
  point->x -= o.x;
  point->y -= o.y;
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  WindowPtr w = Find(hwnd);
  if (!w || !point) return FALSE;
  POINT o = ClientOrigin(*w);
  point->x += o.x;
  point->y += o.y;
  return TRUE;
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style) {
  if (!rect) return FALSE;
  Frame f = FrameOf(style, ex_style, menu != FALSE);
  rect->left -= f.x;
  rect->right += f.x;
  rect->top -= f.top;
  rect->bottom += f.bottom;
  return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
  return AdjustWindowRectEx(rect, style, menu, 0);
}

int GetSystemMetrics(int index) {
  int sw, sh;
  ScreenSize(&sw, &sh);
  switch (index) {
    case SM_CXSCREEN:
      return sw;
    case SM_CYSCREEN:
      return sh;
    case SM_CYCAPTION:
      return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return 3;
    case SM_CYMENU:
      return kMenuBar;
    case SM_CXFULLSCREEN:
      return sw;
    case SM_CYFULLSCREEN:
      return sh - kCaption;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    default:
      return 0;
  }
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* p) {
  WindowPtr w = Find(hwnd);
  if (!w || !p) return FALSE;
  p->flags = (w->minimized && w->restore_to_maximized) ? WPF_RESTORETOMAXIMIZED : 0;
  p->showCmd = w->maximized ? SW_SHOWMAXIMIZED : (w->minimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  p->ptMinPosition = w->min_pos;
  p->ptMaxPosition = w->max_pos;
  p->rcNormalPosition = (w->minimized || w->maximized) ? w->normal : w->rect;
  return TRUE;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* p) {
  WindowPtr w = Find(hwnd);
  if (!w || !p) return FALSE;
  if (p->length != sizeof(WINDOWPLACEMENT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RECT n = p->rcNormalPosition;
  if (n.right < n.left) n.right = n.left;
  if (n.bottom < n.top) n.bottom = n.top;
  w->min_pos = p->ptMinPosition;
  w->max_pos = p->ptMaxPosition;
  w->restore_to_maximized = (p->flags & WPF_RESTORETOMAXIMIZED) != 0;
  bool was_special = w->minimized || w->maximized;
  w->minimized = w->maximized = false;
  w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
  if (was_special) w->normal = n;
  SetRect(hwnd, n, true);
  switch (p->showCmd) {
    case SW_HIDE:
      ShowWindow(hwnd, SW_HIDE);
      break;
    case SW_SHOWMAXIMIZED:
      ShowWindow(hwnd, SW_SHOWMAXIMIZED);
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      ShowWindow(hwnd, SW_SHOWMINIMIZED);
      if (WindowPtr again = Peek(hwnd))
        again->restore_to_maximized = (p->flags & WPF_RESTORETOMAXIMIZED) != 0;
      break;
    default:
      ShowWindow(hwnd, SW_SHOWNORMAL);
      break;
  }
  return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL) {
  if (!hwnd) {
    // Every top-level window of the calling thread.
    std::vector<HWND> all;
    {
      std::lock_guard<std::recursive_mutex> l(g_lock);
      for (auto& [h, w] : Windows()) {
        if (!(w->style & WS_CHILD) && w->thread == GetCurrentThreadId()) all.push_back(w->handle);
      }
    }
    for (HWND h : all) InvalidateRect(h, nullptr, TRUE);
    return TRUE;
  }
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  SIZE s = ClientSize(*w);
  RECT r = rect ? *rect : RECT{0, 0, s.cx, s.cy};
  r.left = std::max<LONG>(r.left, 0);
  r.top = std::max<LONG>(r.top, 0);
  r.right = std::min<LONG>(r.right, s.cx);
  r.bottom = std::min<LONG>(r.bottom, s.cy);
  if (r.right <= r.left || r.bottom <= r.top) return TRUE;
  if (!w->has_update) {
    w->update = r;
    w->has_update = true;
    g_update_hint.store(true, std::memory_order_relaxed);
  } else {
    w->update = {std::min(w->update.left, r.left), std::min(w->update.top, r.top),
                 std::max(w->update.right, r.right), std::max(w->update.bottom, r.bottom)};
  }
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  if (!w->has_update) return TRUE;
  if (!rect) {
    w->has_update = false;
    return TRUE;
  }
  // The update region is kept as its bounding rectangle: it goes when the validated rectangle
  // covers it, and is cut when it covers a full side of it.
  RECT& u = w->update;
  const RECT& v = *rect;
  if (v.left <= u.left && v.right >= u.right) {
    if (v.top <= u.top && v.bottom >= u.bottom) {
      w->has_update = false;
    } else if (v.top <= u.top && v.bottom > u.top) {
      u.top = v.bottom;
    } else if (v.bottom >= u.bottom && v.top < u.bottom) {
      u.bottom = v.top;
    }
  } else if (v.top <= u.top && v.bottom >= u.bottom) {
    if (v.left <= u.left && v.right > u.left)
      u.left = v.right;
    else if (v.right >= u.right && v.left < u.right)
      u.right = v.left;
  }
  if (u.right <= u.left || u.bottom <= u.top) w->has_update = false;
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  if (!w->has_update) {
    if (rect) *rect = {0, 0, 0, 0};
    return FALSE;
  }
  if (rect) *rect = w->update;
  return TRUE;
}

// ---------------------------------------------------------------- default procedure

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  WindowPtr w = Peek(hwnd);
  if (!w) return 0;
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_PAINT:
      ValidateRect(hwnd, nullptr);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETCURSOR:
      return DefaultSetCursor(hwnd, wparam, lparam);
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wparam);
      if (LOWORD(lparam)) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->title.size());
    case WM_GETTEXT: {
      char* out = reinterpret_cast<char*>(lparam);
      if (!out || wparam == 0) return 0;
      size_t n = std::min<size_t>(w->title.size(), wparam - 1);
      std::memcpy(out, w->title.data(), n);
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lparam);
      w->title = text ? text : "";
      if (w->host_window) host::Current().SetTitle(hwnd, host::Cp932ToUtf8(w->title).c_str());
      if (!(w->style & WS_CHILD)) HostTrace("title", hwnd, "'" + w->title + "'");
      return TRUE;
    }
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case 0xF060:
          SendMessageA(hwnd, WM_CLOSE, 0, 0);
          break;  // SC_CLOSE
        case 0xF020:
          ShowWindow(hwnd, SW_MINIMIZE);
          break;  // SC_MINIMIZE
        case 0xF030:
          ShowWindow(hwnd, SW_SHOWMAXIMIZED);
          break;  // SC_MAXIMIZE
        case 0xF120:
          ShowWindow(hwnd, SW_RESTORE);
          break;  // SC_RESTORE
        default:
          break;
      }
      return 0;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- host events

namespace orvane::host {

void HostWindowMoved(HWND hwnd, int x, int y) {
  WindowPtr w = Peek(hwnd);
  if (!w) return;
  Frame f = FrameOf(*w);
  RECT r = w->rect;
  int dx = x - f.x - r.left, dy = y - f.top - r.top;
  if (dx == 0 && dy == 0) return;
  r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  SetRect(hwnd, r, false);
}

void HostWindowResized(HWND hwnd, int cw, int ch) {
  WindowPtr w = Peek(hwnd);
  if (!w) return;
  Frame f = FrameOf(*w);
  RECT r = w->rect;
  r.right = r.left + cw + 2 * f.x;
  r.bottom = r.top + ch + f.top + f.bottom;
  SetRect(hwnd, r, true);
  // The host already has this size; telling it again is harmless.
}

}  // namespace orvane::host
