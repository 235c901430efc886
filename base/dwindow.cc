// DWindow: creation and binding, the window procedure's three stages, the listener chain,
// geometry and placement.
#include "base/dwindow.h"

#include <cstdio>
#include <cstring>

#include "base/dapplication.h"
#include "base/ddc.h"

namespace {

// The process-wide creation lock and the object whose window is being created.
CRITICAL_SECTION* CreationLock() {
  static CRITICAL_SECTION* const cs = [] {
    static CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    return &section;
  }();
  return cs;
}
DWindow* g_creating = nullptr;

constexpr char kPlacementSection[] = "Placement";
constexpr char kPlacementFormat[] = "%d_%d_%d_%d_%d_%d_%d_%d_%d_%d";

DRef<DWindowRecord> NewRecord(HWND hwnd) {
  DRef<DWindowRecord> r;
  r.Alloc(1);
  r->window = hwnd;
  return r;
}

// Reads a placement text: ten integers, cut to 255 bytes first.
int ParsePlacement(const DStringBuffer& text, WINDOWPLACEMENT* wp) {
  char buf[256];
  std::snprintf(buf, sizeof(buf), "%s", text.GetText());
  int v[10];
  int n = std::sscanf(buf, kPlacementFormat, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8],
                      &v[9]);
  if (n == 10) {
    wp->flags = static_cast<UINT>(v[0]);
    wp->showCmd = static_cast<UINT>(v[1]);
    wp->ptMinPosition = {v[2], v[3]};
    wp->ptMaxPosition = {v[4], v[5]};
    wp->rcNormalPosition = {v[6], v[7], v[8], v[9]};
  }
  return n;
}

DStringBuffer ReadPlacement(const DString& entry, const char* default_text) {
  DApplication* app = DGetApplication();
  if (!app) return DStringBuffer(default_text);
  return app->GetSettingString(kPlacementSection, entry, default_text);
}

}  // namespace

// ---------------------------------------------------------------- life

DWindow::DWindow(HWND hwnd) {
  Attach(hwnd);
}

DWindow::DWindow(const DWindow& other) : DObject(other), record_(other.record_) {}

DWindow& DWindow::operator=(const DWindow& other) {
  record_ = other.record_;
  owned_ = 0;
  return *this;
}

DWindow::~DWindow() {
  DWindow::Release();
  // A window still bound to this object must not reach it once it is gone.
  if (bound_ && ::IsWindow(bound_) &&
      GetWindowLongPtrA(bound_, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this)) {
    SetWindowLongPtrA(bound_, GWLP_USERDATA, 0);
  }
}

void DWindow::Attach(HWND hwnd) {
  record_ = NewRecord(hwnd);
  owned_ = 0;
}

void DWindow::Bind(HWND hwnd) {
  record_ = NewRecord(hwnd);
  owned_ = 0;
  bound_ = hwnd;
}

void DWindow::Release() {
  if (owned_) Destroy();
  record_.Release();
  owned_ = 0;
}

bool DWindow::Destroy() {
  if (!record_) return false;
  if (record_->window) {
    Show(SW_HIDE);
    ::DestroyWindow(record_->window);
    UnlinkAll(record_);
  }
  record_->window = nullptr;
  record_.Release();
  owned_ = 0;
  return true;
}

// ---------------------------------------------------------------- creation

bool DWindow::Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style, int x,
                     int y, int width, int height, HMENU menu, const DWindow& parent) {
  if (record_ && record_->window) return false;
  EnterCriticalSection(CreationLock());
  owned_ = 1;
  g_creating = this;
  const char* cls = class_name.Length() ? class_name.Text() : kDBasicWindowClass;
  DApplication* app = DGetApplication();
  HWND hwnd = CreateWindowExA(ex_style, cls, title.Text(), style, x, y, width, height, parent.GetHandle(),
                              menu, app ? app->GetInstance() : nullptr, nullptr);
  // The pointer is only for the WM_NCCREATE of this call.
  g_creating = nullptr;
  bool ok;
  if (hwnd) {
    // The record bound during WM_NCCREATE is replaced: listeners added while the window was
    // being made leave with it.
    if (record_) UnlinkAll(record_);
    record_ = NewRecord(hwnd);
    owned_ = 1;
    ok = true;
  } else {
    // A window that got as far as WM_NCCREATE is gone: its record must not keep the handle.
    if (record_ && record_->window && !::IsWindow(record_->window)) {
      UnlinkAll(record_);
      record_->window = nullptr;
      record_.Release();
    }
    owned_ = 0;
    ok = false;
  }
  LeaveCriticalSection(CreationLock());
  return ok;
}

bool DWindow::Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style, int x,
                     int y, int width, int height) {
  DWindow none(static_cast<HWND>(nullptr));
  return Create(class_name, title, style, ex_style, x, y, width, height, nullptr, none);
}

bool DWindow::Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style,
                     const DRect& rect, HMENU menu, const DWindow& parent) {
  return Create(class_name, title, style, ex_style, rect.x, rect.y, rect.width, rect.height, menu, parent);
}

bool DWindow::Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style,
                     const DRect& rect) {
  return Create(class_name, title, style, ex_style, rect.x, rect.y, rect.width, rect.height);
}

bool DWindow::Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style, HMENU menu,
                     const DWindow& parent) {
  return Create(class_name, title, style, ex_style, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, menu, parent);
}

bool DWindow::Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style) {
  return Create(class_name, title, style, ex_style, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0);
}

// ---------------------------------------------------------------- the window procedure

void DWindow::FillMessage(MSG* msg, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  msg->hwnd = hwnd;
  msg->message = message;
  msg->wParam = wparam;
  msg->lParam = lparam;
  msg->time = static_cast<DWORD>(GetMessageTime());
  DWORD pos = GetMessagePos();
  msg->pt.x = static_cast<LONG>(pos & 0xFFFF);
  msg->pt.y = static_cast<LONG>((pos >> 16) & 0xFFFF);
}

bool DWindow::WalkListeners(const DRef<DWindowRecord>& record, LRESULT* result, DWindow* window, UINT message,
                            WPARAM wparam, LPARAM lparam) {
  if (!record) return true;
  // The record stays alive for the walk even if the object drops it meanwhile.
  DRef<DWindowRecord> keep = record;
  for (DMessageListener* l = keep->first; l;) {
    *result = 0;
    if (!l->OnMessage(result, window, message, wparam, lparam)) return false;
    l = l->next_;
  }
  return true;
}

LRESULT CALLBACK DWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  MSG msg;
  FillMessage(&msg, hwnd, message, wparam, lparam);
  if (!hwnd) return DefWindowProcA(hwnd, message, wparam, lparam);
  auto* self = reinterpret_cast<DWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) {
    if (message != WM_NCCREATE || !g_creating) return DefWindowProcA(hwnd, message, wparam, lparam);
    self = g_creating;
    self->Bind(hwnd);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self->PreTranslate(&msg)) return DefWindowProcA(hwnd, message, wparam, lparam);
  LRESULT result = 0;
  if (!WalkListeners(self->record_, &result, self, message, wparam, lparam)) return result;
  return self->DefaultProc(message, wparam, lparam);
}

LRESULT DWindow::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(GetHandle(), message, wparam, lparam);
}

bool DWindow::PreTranslate(MSG* msg) {
  TranslateMessage(msg);
  return false;
}

bool DWindow::GetDC(DWindowDC& dc) {
  return dc.Get(*this, true);
}

bool DWindow::GetWindowDC(DWindowDC& dc) {
  return dc.Get(*this, false);
}

// ---------------------------------------------------------------- listeners

bool DWindow::AddListener(DMessageListener& listener) {
  if (!record_ || !record_->window) return false;
  // A listener already in a chain would be cut out of it and could link to itself: refused.
  if (listener.chain_) return false;
  listener.next_ = nullptr;
  listener.owner_ = this;
  listener.chain_ = record_;
  DMessageListener** at = &record_->first;
  while (*at) at = &(*at)->next_;
  *at = &listener;
  return true;
}

bool DWindow::RemoveFromRecord(const DRef<DWindowRecord>& record, DMessageListener& listener) {
  if (!record) return false;
  DRef<DWindowRecord> keep = record;  // the listener's own handle goes below
  for (DMessageListener** at = &keep->first; *at; at = &(*at)->next_) {
    if (*at == &listener) {
      *at = listener.next_;
      listener.next_ = nullptr;
      listener.owner_ = nullptr;
      listener.chain_.Release();
      return true;
    }
  }
  return false;
}

void DWindow::UnlinkAll(const DRef<DWindowRecord>& record) {
  if (!record) return;
  DRef<DWindowRecord> keep = record;
  DMessageListener* l = keep->first;
  keep->first = nullptr;
  while (l) {
    DMessageListener* next = l->next_;
    l->next_ = nullptr;
    l->owner_ = nullptr;
    l->chain_.Release();
    l = next;
  }
}

bool DWindow::RemoveListener(DMessageListener& listener) {
  if (!record_ || !record_->window) return false;
  return RemoveFromRecord(record_, listener);
}

bool DWindow::RemoveAllListeners() {
  if (!record_ || !record_->window) return false;
  UnlinkAll(record_);
  return true;
}

// ---------------------------------------------------------------- plain forwards

LRESULT DWindow::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return SendMessageA(GetHandle(), message, wparam, lparam);
}
bool DWindow::PostMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return PostMessageA(GetHandle(), message, wparam, lparam) != FALSE;
}
bool DWindow::Show(int command) {
  bool was_visible = ShowWindow(GetHandle(), command) != FALSE;
  Update();
  return was_visible;
}
bool DWindow::ShowDefault() {
  DApplication* app = DGetApplication();
  return Show(app ? app->GetShowCommand() : SW_SHOWNORMAL);
}
void DWindow::Activate() {
  SetZOrder(DWindow(static_cast<HWND>(nullptr)));
  SetForegroundWindow(GetHandle());
  BringWindowToTop(GetHandle());
}
bool DWindow::Hide() {
  return Show(SW_HIDE);
}
bool DWindow::GetPlacement(WINDOWPLACEMENT* placement) {
  if (!GetHandle() || !placement) return false;
  placement->length = sizeof(WINDOWPLACEMENT);
  return GetWindowPlacement(GetHandle(), placement) != FALSE;
}
bool DWindow::SetPlacement(const WINDOWPLACEMENT* placement) {
  if (!GetHandle() || !placement) return false;
  WINDOWPLACEMENT copy = *placement;
  copy.length = sizeof(WINDOWPLACEMENT);
  return SetWindowPlacement(GetHandle(), &copy) != FALSE;
}
DWORD DWindow::GetStyle() {
  return static_cast<DWORD>(GetWindowLongA(GetHandle(), GWL_STYLE));
}
DWORD DWindow::SetStyle(DWORD style) {
  return static_cast<DWORD>(SetWindowLongA(GetHandle(), GWL_STYLE, static_cast<LONG>(style)));
}
DWORD DWindow::GetExStyle() {
  return static_cast<DWORD>(GetWindowLongA(GetHandle(), GWL_EXSTYLE));
}
DWORD DWindow::SetExStyle(DWORD style) {
  return static_cast<DWORD>(SetWindowLongA(GetHandle(), GWL_EXSTYLE, static_cast<LONG>(style)));
}
int DWindow::MessageBox(const DString& text, const DString& caption, UINT type) {
  return MessageBoxA(GetHandle(), text.Text(), caption.Get() ? caption.Text() : nullptr, type);
}
bool DWindow::SetSize(const DPoint& size) {
  return Move(-1, -1, size.x, size.y);
}
bool DWindow::Move(const DRect& rect) {
  return Move(rect.x, rect.y, rect.width, rect.height);
}
bool DWindow::Resize(const DPoint& size) {
  return Resize(size.x, size.y);
}
bool DWindow::Resize(int width, int height) {
  return Move(-1, -1, width, height);
}
bool DWindow::SetClientSize(const DPoint& size) {
  return SetSize(ClientToWindowSize(size));
}
bool DWindow::SetClientSize(int width, int height) {
  return SetClientSize(DPoint(width, height));
}
bool DWindow::SetZOrder(const DWindow& insert_after) {
  return SetWindowPos(GetHandle(), insert_after.GetHandle(), 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE) != FALSE;
}
bool DWindow::IsChildOf(const DWindow& parent) {
  return IsChild(parent.GetHandle(), GetHandle()) != FALSE;
}
bool DWindow::IsIconic() {
  return ::IsIconic(GetHandle()) != FALSE;
}
bool DWindow::IsWindow() {
  return ::IsWindow(GetHandle()) != FALSE;
}
bool DWindow::IsZoomed() {
  return ::IsZoomed(GetHandle()) != FALSE;
}
bool DWindow::IsVisible() {
  return IsWindowVisible(GetHandle()) != FALSE;
}
bool DWindow::SetText(const DString& text) {
  return SetWindowTextA(GetHandle(), text.Text()) != FALSE;
}
bool DWindow::Enable(bool enable) {
  return EnableWindow(GetHandle(), enable ? TRUE : FALSE) != FALSE;
}
bool DWindow::IsEnabled() {
  return IsWindowEnabled(GetHandle()) != FALSE;
}
DWindow DWindow::GetParent() {
  return DWindow(::GetParent(GetHandle()));
}
DWindow DWindow::SetParent(const DWindow& parent) {
  return DWindow(::SetParent(GetHandle(), parent.GetHandle()));
}
LONG DWindow::GetId() {
  return GetWindowLongA(GetHandle(), GWL_ID);
}
LONG DWindow::SetId(LONG id) {
  return SetWindowLongA(GetHandle(), GWL_ID, id);
}
bool DWindow::Update() {
  return UpdateWindow(GetHandle()) != FALSE;
}
bool DWindow::Invalidate(const DRect* rect, bool erase) {
  if (!rect) return InvalidateRect(GetHandle(), nullptr, erase ? TRUE : FALSE) != FALSE;
  RECT r = rect->ToRECT();
  return InvalidateRect(GetHandle(), &r, erase ? TRUE : FALSE) != FALSE;
}
bool DWindow::Validate(const DRect* rect) {
  if (!rect) return ValidateRect(GetHandle(), nullptr) != FALSE;
  RECT r = rect->ToRECT();
  return ValidateRect(GetHandle(), &r) != FALSE;
}
void DWindow::Redraw() {
  Invalidate(nullptr, false);
  Update();
}
bool DWindow::SetMenu(const DMenu& menu) {
  return ::SetMenu(GetHandle(), menu.GetHandle()) != FALSE;
}
DMenu DWindow::GetMenu() {
  return DMenu(::GetMenu(GetHandle()));
}
bool DWindow::RemoveMenu() {
  return ::SetMenu(GetHandle(), nullptr) != FALSE;
}
bool DWindow::GetScrollRange(int bar, int* min_pos, int* max_pos) {
  return ::GetScrollRange(GetHandle(), bar, min_pos, max_pos) != FALSE;
}
bool DWindow::SetScrollRange(int bar, int min_pos, int max_pos, bool redraw) {
  return ::SetScrollRange(GetHandle(), bar, min_pos, max_pos, redraw ? TRUE : FALSE) != FALSE;
}
int DWindow::GetScrollPos(int bar) {
  return ::GetScrollPos(GetHandle(), bar);
}
int DWindow::SetScrollPos(int bar, int pos, bool redraw) {
  return ::SetScrollPos(GetHandle(), bar, pos, redraw ? TRUE : FALSE);
}
bool DWindow::EnableScrollBar(UINT bar, UINT arrows) {
  return ::EnableScrollBar(GetHandle(), bar, arrows) != FALSE;
}
bool DWindow::ShowScrollBar(int bar, bool show) {
  return ::ShowScrollBar(GetHandle(), bar, show ? TRUE : FALSE) != FALSE;
}
bool DWindow::GetScrollInfo(int bar, SCROLLINFO* info) {
  return ::GetScrollInfo(GetHandle(), bar, info) != FALSE;
}
int DWindow::SetScrollInfo(int bar, const SCROLLINFO* info, bool redraw) {
  return ::SetScrollInfo(GetHandle(), bar, info, redraw ? TRUE : FALSE);
}
bool DWindow::CreateCaret(HBITMAP bitmap, int width, int height) {
  return ::CreateCaret(GetHandle(), bitmap, width, height) != FALSE;
}
bool DWindow::CreateSolidCaret(int width, int height) {
  return CreateCaret(nullptr, width, height);
}
bool DWindow::DestroyCaret() {
  return ::DestroyCaret() != FALSE;
}
UINT DWindow::GetCaretBlinkTime() {
  return ::GetCaretBlinkTime();
}
DPoint DWindow::GetCaretPos() {
  POINT p;
  if (!::GetCaretPos(&p)) return DPoint(0, 0);
  return DPoint(p.x, p.y);
}
bool DWindow::HideCaret() {
  return ::HideCaret(GetHandle()) != FALSE;
}
bool DWindow::SetCaretBlinkTime(UINT milliseconds) {
  return ::SetCaretBlinkTime(milliseconds) != FALSE;
}
bool DWindow::SetCaretPos(const DPoint& pos) {
  return SetCaretPos(pos.x, pos.y);
}
bool DWindow::SetCaretPos(int x, int y) {
  return ::SetCaretPos(x, y) != FALSE;
}
bool DWindow::ShowCaret() {
  return ::ShowCaret(GetHandle()) != FALSE;
}
DWindow DWindow::GetDlgItem(int id) {
  return DWindow(::GetDlgItem(GetHandle(), id));
}
LRESULT DWindow::SendDlgItemMessage(int id, UINT message, WPARAM wparam, LPARAM lparam) {
  return SendDlgItemMessageA(GetHandle(), id, message, wparam, lparam);
}
LRESULT DWindow::GetCheck(int id) {
  return SendDlgItemMessage(id, BM_GETCHECK, 0, 0);
}
LRESULT DWindow::SetCheck(int id, WPARAM state) {
  return SendDlgItemMessage(id, BM_SETCHECK, state, 0);
}
UINT_PTR DWindow::SetTimer(UINT_PTR id, UINT milliseconds, TIMERPROC proc) {
  return ::SetTimer(GetHandle(), id, milliseconds, proc);
}
bool DWindow::KillTimer(UINT_PTR id) {
  return ::KillTimer(GetHandle(), id) != FALSE;
}

DStringBuffer DWindow::GetText() {
  DStringBuffer text;
  int length = GetWindowTextLengthA(GetHandle());
  text.Reserve(static_cast<uint32_t>(length) + 1);
  GetWindowTextA(GetHandle(), text.GetText(), length + 1);
  text.UpdateLength();
  return text;
}

// ---------------------------------------------------------------- geometry

bool DWindow::Move(int x, int y, int width, int height) {
  DRect r = GetWindowRect();
  HWND parent = ::GetParent(GetHandle());
  if (parent) {
    POINT p{r.x, r.y};
    ScreenToClient(parent, &p);
    r.x = p.x;
    r.y = p.y;
  }
  if (x < 0) x = r.x;
  if (y < 0) y = r.y;
  if (width < 0) width = r.width;
  if (height < 0) height = r.height;
  return MoveWindow(GetHandle(), x, y, width, height, TRUE) != FALSE;
}

bool DWindow::CenterOnScreen() {
  int cx = GetSystemMetrics(SM_CXFULLSCREEN);
  int cy = GetSystemMetrics(SM_CYFULLSCREEN);
  DRect r = GetWindowRect();
  return Move(cx / 2 - r.width / 2, cy / 2 - r.height / 2, r.width, r.height);
}

DRect DWindow::GetWindowRect() {
  RECT r{0, 0, 0, 0};
  ::GetWindowRect(GetHandle(), &r);
  return DRect::FromRECT(r);
}

DRect DWindow::GetClientRect() {
  RECT r{0, 0, 0, 0};
  ::GetClientRect(GetHandle(), &r);
  return DRect::FromRECT(r);
}

DPoint DWindow::ClientToWindowSize(const DPoint& client) {
  return ClientToWindowSize(GetStyle(), GetExStyle(), false, client);
}

DPoint DWindow::ClientToWindowSize(DWORD style, DWORD ex_style, bool menu, const DPoint& client) {
  RECT r{0, 0, client.x, client.y};
  bool with_menu = menu || ::GetMenu(GetHandle()) != nullptr;
  AdjustWindowRectEx(&r, style, with_menu ? TRUE : FALSE, ex_style);
  return DPoint(r.right - r.left, r.bottom - r.top);
}

DPoint DWindow::WindowToClientSize(const DPoint& window) {
  return WindowToClientSize(GetStyle(), GetExStyle(), false, window);
}

DPoint DWindow::WindowToClientSize(DWORD style, DWORD ex_style, bool menu, const DPoint& window) {
  DPoint a = ClientToWindowSize(style, ex_style, menu, window);
  return DPoint(2 * window.x - a.x, 2 * window.y - a.y);
}

// ---------------------------------------------------------------- placement

bool DWindow::SavePlacement(const DString& entry) {
  WINDOWPLACEMENT wp{};
  if (!GetPlacement(&wp)) return false;
  if (IsZoomed()) wp.flags |= WPF_RESTORETOMAXIMIZED;
  char text[256];
  std::snprintf(text, sizeof(text), kPlacementFormat, static_cast<int>(wp.flags),
                static_cast<int>(wp.showCmd), wp.ptMinPosition.x, wp.ptMinPosition.y, wp.ptMaxPosition.x,
                wp.ptMaxPosition.y, wp.rcNormalPosition.left, wp.rcNormalPosition.top,
                wp.rcNormalPosition.right, wp.rcNormalPosition.bottom);
  if (DApplication* app = DGetApplication()) app->SetSettingString(kPlacementSection, entry, text);
  return true;
}

bool DWindow::LoadPlacement(const DString& entry) {
  if (!GetHandle()) return false;
  WINDOWPLACEMENT wp{};
  if (ParsePlacement(ReadPlacement(entry, ""), &wp) == 10) {
    wp.length = sizeof(WINDOWPLACEMENT);
    return SetPlacement(&wp);
  }
  SetClientSize(640, 480);
  CenterOnScreen();
  ShowDefault();
  return true;
}

bool DWindow::LoadPosition(const DString& entry) {
  if (!GetHandle()) return false;
  WINDOWPLACEMENT wp{};
  int left = 0, top = 0;
  if (ParsePlacement(ReadPlacement(entry, "0_1_0_0_0_0_0_0_640_480"), &wp) == 10) {
    left = wp.rcNormalPosition.left;
    top = wp.rcNormalPosition.top;
  }
  return Move(left, top, -1, -1);
}
