// Dialogs: templates registered as tables in code, modal and modeless dialogs, the dialog
// manager's window procedure and the simple controls (button, static text, edit field).
#include <cctype>
#include <cstring>
#include <map>

#include "platform/gdi.h"
#include "platform/host.h"
#include "platform/user_internal.h"

namespace orvane::user {
namespace {

#define BN_CLICKED 0

// An owned copy of a registered template.
struct StoredTemplate {
  OrvaneDialogTemplate t;
  std::string title, font_face;
  std::vector<std::string> classes, texts;
  std::vector<OrvaneDialogControl> controls;
};

std::mutex g_lock;
// Made on first use and never destroyed: a run that never needs it never touches it (nor its
// pages at start and exit), and code running during exit still finds it.
std::map<std::pair<HINSTANCE, std::string>, std::unique_ptr<StoredTemplate>>& Templates() {
  static auto* made = new std::map<std::pair<HINSTANCE, std::string>, std::unique_ptr<StoredTemplate>>;
  return *made;
}
const char kDialogClass[] = "#32770";

std::string ResourceKey(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
  std::string k = name;
  for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return k;
}

HINSTANCE Owner(HINSTANCE i) {
  return i ? i : MainInstance();
}

const StoredTemplate* FindTemplate(HINSTANCE instance, LPCSTR name) {
  if (!name) return nullptr;
  std::lock_guard<std::mutex> l(g_lock);
  auto it = Templates().find({Owner(instance), ResourceKey(name)});
  return it == Templates().end() ? nullptr : it->second.get();
}

// The dialog manager's procedure: the dialog procedure first, then the default handling.
LRESULT CALLBACK DialogWndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  WindowPtr w = Peek(hwnd);
  if (w && w->dlg_proc) {
    INT_PTR r = w->dlg_proc(hwnd, message, wparam, lparam);
    // WM_INITDIALOG and the control-colour messages give the dialog procedure's own result.
    const bool direct = message == WM_INITDIALOG || (message >= 0x0132 && message <= 0x0138);
    if (r) return direct ? r : (Peek(hwnd) ? Peek(hwnd)->dlg_msg_result : 0);
  }
  return DefDlgProcA(hwnd, message, wparam, lparam);
}

// Paints a control: its face, a frame for a button, and its text in the control's font (the
// dialog font; the default GUI font when it has none).
void PaintControl(HWND hwnd, bool button) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
  SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  // A static control lets its parent choose its font, colours and background brush (the parent
  // may also resize it); the stock NULL_BRUSH leaves the dialog's own face.
  HGDIOBJ face = GetStockObject(LTGRAY_BRUSH);
  if (!button) {
    if (HWND parent = GetParent(hwnd)) {
      auto brush = reinterpret_cast<HGDIOBJ>(SendMessageA(
          parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
      if (brush && brush != GetStockObject(NULL_BRUSH)) face = brush;
    }
  }
  RECT r;
  GetClientRect(hwnd, &r);
  HGDIOBJ old_brush = SelectObject(dc, face);
  PatBlt(dc, 0, 0, r.right, r.bottom, PATCOPY);
  SelectObject(dc, old_brush);
  if (button && r.right > 0 && r.bottom > 0) {
    SelectObject(dc, GetStockObject(BLACK_PEN));
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, r.right - 1, 0);
    LineTo(dc, r.right - 1, r.bottom - 1);
    LineTo(dc, 0, r.bottom - 1);
    LineTo(dc, 0, 0);
  }
  char text[1024];
  int n = GetWindowTextA(hwnd, text, sizeof(text));
  DrawTextA(dc, text, n, &r, button ? (DT_CENTER | DT_VCENTER | DT_SINGLELINE) : (DT_LEFT | DT_WORDBREAK));
  EndPaint(hwnd, &ps);
}

// What every simple control does alike: paint itself, repaint when its text changes.
bool CommonControlMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, bool button,
                          LRESULT* result) {
  if (message == WM_PAINT) {
    PaintControl(hwnd, button);
    *result = 0;
    return true;
  }
  if (message == WM_SETTEXT) {
    *result = DefWindowProcA(hwnd, message, wparam, lparam);
    InvalidateRect(hwnd, nullptr, TRUE);
    return true;
  }
  return false;
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (CommonControlMessage(hwnd, message, wparam, lparam, true, &result)) return result;
  switch (message) {
    case BM_GETCHECK:
      return GetWindowLongPtrA(hwnd, 0);
    case BM_SETCHECK:
      SetWindowLongPtrA(hwnd, 0, static_cast<LONG_PTR>(wparam));
      return 0;
    case WM_LBUTTONUP: {
      HWND parent = GetParent(hwnd);
      if (parent) {
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
      }
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

LRESULT CALLBACK PlainControlProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (CommonControlMessage(hwnd, message, wparam, lparam, false, &result)) return result;
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

void EnsureClasses() {
  static const bool done = [] {
    auto reg = [](const char* name, WNDPROC proc, int extra) {
      WNDCLASSEXA wc{};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = proc;
      wc.cbWndExtra = extra;
      wc.lpszClassName = name;
      RegisterClassExA(&wc);  // a program's own class of that name wins
    };
    reg(kDialogClass, DialogWndProc, 0);
    reg("BUTTON", ButtonProc, sizeof(LONG_PTR));
    reg("STATIC", PlainControlProc, 0);
    reg("EDIT", PlainControlProc, 0);
    return true;
  }();
  (void)done;
}

// Makes the dialog window and its controls and sends WM_INITDIALOG; NULL on failure.
HWND MakeDialog(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param, bool modal) {
  EnsureClasses();
  const StoredTemplate* st = FindTemplate(instance, name);
  if (!st) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const OrvaneDialogTemplate& t = st->t;
  DWORD style = t.style & ~WS_VISIBLE;
  RECT r{0, 0, DialogUnitsX(t.cx), DialogUnitsY(t.cy)};
  AdjustWindowRectEx(&r, style, FALSE, t.ex_style);
  int w = r.right - r.left, h = r.bottom - r.top;
  int x = DialogUnitsX(t.x), y = DialogUnitsY(t.y);
  if (t.style & DS_CENTER) {
    x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  } else if (parent && !(style & WS_CHILD)) {
    POINT o{0, 0};
    ClientToScreen(parent, &o);
    x += o.x;
    y += o.y;
  }
  HWND dlg = CreateWindowExA(t.ex_style, kDialogClass, t.title, style, x, y, w, h, parent, nullptr,
                             Owner(instance), nullptr);
  if (!dlg) return nullptr;
  WindowPtr dw = Peek(dlg);
  dw->is_dialog = true;
  dw->dlg_proc = proc;
  if (t.font_face && *t.font_face) {
    // The template's font: points at 96 dots per inch, as a negative (character) height.
    LOGFONTA lf{};
    lf.lfHeight = -((t.font_size * 96 + 36) / 72);
    lf.lfWeight = 400;
    lf.lfCharSet = t.font_charset;
    std::strncpy(lf.lfFaceName, t.font_face, LF_FACESIZE - 1);
    dw->own_font = CreateFontIndirectA(&lf);
    dw->font = dw->own_font;
  }
  HWND first = nullptr;
  for (int i = 0; i < t.control_count; ++i) {
    const OrvaneDialogControl& c = t.controls[i];
    HWND ctl =
        CreateWindowExA(0, c.class_name, c.text, c.style | WS_CHILD, DialogUnitsX(c.x), DialogUnitsY(c.y),
                        DialogUnitsX(c.cx), DialogUnitsY(c.cy), dlg,
                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(c.id)), Owner(instance), nullptr);
    if (!ctl) {
      DestroyWindow(dlg);
      return nullptr;
    }
    if (dw->font) SendMessageA(ctl, WM_SETFONT, reinterpret_cast<WPARAM>(dw->font), FALSE);
    if (!first) first = ctl;
  }
  if (!IsWindow(dlg)) return nullptr;
  if (SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && first && IsWindow(first)) {
    SetFocus(first);
  }
  if (!IsWindow(dlg)) return nullptr;
  WindowPtr again = Peek(dlg);
  if ((modal && !again->dlg_ended) || (t.style & WS_VISIBLE)) ShowWindow(dlg, SW_SHOW);
  return dlg;
}

}  // namespace
}  // namespace orvane::user

using namespace orvane::user;

BOOL OrvaneRegisterDialogTemplate(HINSTANCE instance, LPCSTR name, const OrvaneDialogTemplate* tmpl) {
  if (!name || !tmpl || tmpl->control_count < 0 || (tmpl->control_count > 0 && !tmpl->controls)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto st = std::make_unique<StoredTemplate>();
  st->t = *tmpl;
  st->title = tmpl->title ? tmpl->title : "";
  st->font_face = tmpl->font_face ? tmpl->font_face : "";
  st->classes.reserve(static_cast<size_t>(tmpl->control_count));
  st->texts.reserve(static_cast<size_t>(tmpl->control_count));
  for (int i = 0; i < tmpl->control_count; ++i) {
    const OrvaneDialogControl& c = tmpl->controls[i];
    st->classes.emplace_back(c.class_name ? c.class_name : "STATIC");
    st->texts.emplace_back(c.text ? c.text : "");
  }
  for (int i = 0; i < tmpl->control_count; ++i) {
    OrvaneDialogControl c = tmpl->controls[i];
    c.class_name = st->classes[static_cast<size_t>(i)].c_str();
    c.text = st->texts[static_cast<size_t>(i)].c_str();
    st->controls.push_back(c);
  }
  st->t.title = st->title.c_str();
  st->t.font_face = st->font_face.c_str();
  st->t.controls = st->controls.data();
  std::lock_guard<std::mutex> l(g_lock);
  auto key = std::make_pair(Owner(instance), ResourceKey(name));
  if (Templates().count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  Templates().emplace(key, std::move(st));
  return TRUE;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  HWND dlg = MakeDialog(instance, name, parent, proc, param, true);
  if (!dlg) return -1;
  bool parent_was_enabled = parent && IsWindowEnabled(parent);
  if (parent_was_enabled) EnableWindow(parent, FALSE);
  INT_PTR result = -1;
  for (;;) {
    WindowPtr w = Peek(dlg);
    if (!w) break;
    if (w->dlg_ended) {
      result = w->dlg_result;
      break;
    }
    MSG m;
    BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT ends the dialog and goes back to the queue for the program's own loop.
      PostQuitMessage(static_cast<int>(m.wParam));
      if (WindowPtr now = Peek(dlg)) result = now->dlg_ended ? now->dlg_result : 0;
      break;
    }
    if (got < 0) break;
    if (!IsDialogMessageA(dlg, &m)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  if (parent_was_enabled && IsWindow(parent)) EnableWindow(parent, TRUE);
  if (IsWindow(dlg)) DestroyWindow(dlg);
  return result;
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  return MakeDialog(instance, name, parent, proc, param, false);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  WindowPtr w = Find(dialog);
  if (!w || !w->is_dialog) return FALSE;
  w->dlg_ended = true;
  w->dlg_result = result;
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

BOOL IsDialogMessageA(HWND dialog, LPMSG msg) {
  if (!msg || !dialog || !IsWindow(dialog)) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) {
    WPARAM id = msg->wParam == VK_ESCAPE ? IDCANCEL : IDOK;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, static_cast<int>(id))));
    return TRUE;
  }
  DispatchMessageA(msg);
  return TRUE;
}

LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      return 0;
    case WM_INITDIALOG:
      return TRUE;
    case WM_PAINT: {
      // The dialog's face; the controls paint themselves on it.
      PAINTSTRUCT ps;
      if (HDC dc = BeginPaint(dialog, &ps)) {
        SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
        PatBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
               ps.rcPaint.bottom - ps.rcPaint.top, PATCOPY);
        EndPaint(dialog, &ps);
      }
      return 0;
    }
    default:
      return DefWindowProcA(dialog, message, wparam, lparam);
  }
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!Find(dialog)) return nullptr;
  for (HWND c : Children(dialog, false)) {
    if (WindowPtr w = Peek(c); w && w->id == id) return c;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageA(item, message, wparam, lparam) : 0;
}
