// The main window: creation, the window procedure with its hooks, suspension counting, mouse
// events and capture, message boxes in GDI mode.
#include "shell/cmainwindow.h"

#include <algorithm>

#include "base/dapplication.h"
#include "shell/caboutdialog.h"
#include "shell/cnetmanager.h"
#include "shell/engine_units.h"
#include "shell/mouse_queue.h"
#include "vm/close_event.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"

namespace {

constexpr char kClassName[] = "KAVELON_Orvane";
constexpr DWORD kStyle = 0x06CA0000;  // clip siblings and children, caption, system menu, minimize box
constexpr int kBlackBrush = 4;
constexpr UINT kMenuId = 101;
constexpr UINT kIconId = 106;

// Menu 101: the window manager keeps it (no host draws a menu bar).
const OrvaneMenuItem kFileMenu[] = {{"終了(&X)", CMainWindow::kCommandExit, 0, nullptr, 0}};
const OrvaneMenuItem kInfoMenu[] = {{"オルベインについて(&V)", CMainWindow::kCommandAbout, 0, nullptr, 0}};
const OrvaneMenuItem kMenu[] = {{"ファイル(&F)", 0, MF_POPUP, kFileMenu, 1},
                                {"情報(&A)", 0, MF_POPUP, kInfoMenu, 1}};

HINSTANCE Instance() {
  DApplication* app = DGetApplication();
  return app ? app->GetInstance() : GetModuleHandleA(nullptr);
}

void RegisterMenuOnce() {
  static bool done = false;
  if (done) return;
  done = OrvaneRegisterMenu(Instance(), MAKEINTRESOURCEA(kMenuId), kMenu, 2) != FALSE;
}

int32_t SignedLow(LPARAM l) {
  return static_cast<int16_t>(LOWORD(l));
}
int32_t SignedHigh(LPARAM l) {
  return static_cast<int16_t>(HIWORD(l));
}

}  // namespace

CMainWindow& MainWindow() {
  static CMainWindow* window = new CMainWindow;  // outlives every unit's shutdown
  return *window;
}

CMainWindow::~CMainWindow() {
  Release();
}

bool CMainWindow::Create() {
  suspend_count_ = 0;
  state_ = 0;
  copyright_ = "no message.";
  captured_ = kNoCapture;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.hInstance = Instance();
  wc.hIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(kIconId));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(kBlackBrush));
  wc.lpszClassName = kClassName;
  if (!DRegisterWindowClass(wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  if (!DWindow::Create(DString(kClassName), DString("オルベイン"), kStyle, 0, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                       0))
    return false;
  LoadPlacement(DString("MainWindow"));
  SetClientSize(640, 480);
  Show(SW_SHOW);
  Show(SW_RESTORE);
  Activate();
  Update();
  return true;
}

void CMainWindow::OnCreate() {
  close_event_ = 0;
  RegisterMenuOnce();
  menu_.Release();
  menu_.Load(kMenuId);
  if (!(GetStartupFlags() & kStartupNoMenu)) ::SetMenu(GetHandle(), menu_.GetHandle());
}

bool CMainWindow::Destroy() {
  if (GetHandle()) SavePlacement(DString("MainWindow"));
  hooks_.clear();
  ++hooks_version_;
  copyright_.Clear();
  menu_.Destroy();
  return DWindow::Destroy();
}

int CMainWindow::MessageBox(const DString& text, const DString& caption, UINT type) {
  DisplayUseGdi(true);
  int r = MessageBoxA(GetHandle(), text.Text(), caption.Get() ? caption.Text() : nullptr, type);
  DisplayUseGdi(false);
  return r;
}

void CMainWindow::UseGDI(bool on) {
  if (on && !(state_ & kGdiMode)) {
    DisplayUseGdi(true);
    state_ |= kGdiMode;
  } else if (!on && (state_ & kGdiMode)) {
    DisplayUseGdi(false);
    state_ &= ~kGdiMode;
  }
}

void CMainWindow::ShowCursor(bool show) {
  Flag(kHideCursor, !show);
}

void CMainWindow::AddWndProc(WndProcHook hook) {
  hooks_.push_back(hook);
  ++hooks_version_;
}

void CMainWindow::DelWndProc(WndProcHook hook) {
  std::erase(hooks_, hook);
  ++hooks_version_;
}

bool CMainWindow::RunHooks(LRESULT* result, UINT message, WPARAM wparam, LPARAM lparam) {
  if (hooks_.empty()) return false;
  // A hook may add or remove hooks: the walk goes over the list as it was, skipping entries
  // that are gone by the time their turn comes.
  const std::vector<WndProcHook> walk = hooks_;
  const uint64_t version = hooks_version_;
  for (WndProcHook hook : walk) {
    if (hooks_version_ != version && std::find(hooks_.begin(), hooks_.end(), hook) == hooks_.end()) continue;
    *result = 0;  // a hook that claims the message without writing a result gives 0
    if (hook(result, GetHandle(), message, wparam, lparam)) return true;
  }
  return false;
}

void CMainWindow::Suspend(bool suspend) {
  if (suspend) {
    if (suspend_count_ == 0) SuspendUnits(true);
    ++suspend_count_;
    return;
  }
  if (suspend_count_ == 0) return;
  if (--suspend_count_ == 0) SuspendUnits(false);
}

void CMainWindow::QueueMouse(uint32_t kind, LPARAM lparam) {
  EngineMouseQueues().PushMouseEvent(kind, SignedLow(lparam), SignedHigh(lparam));
}

void CMainWindow::Capture(uint32_t button) {
  if (captured_ != kNoCapture) return;
  SetCapture(GetHandle());
  captured_ = button;
}

void CMainWindow::Uncapture(uint32_t button) {
  if (captured_ != button) return;
  // Cleared first: releasing may bring WM_CAPTURECHANGED back here.
  captured_ = kNoCapture;
  ReleaseCapture();
}

void CMainWindow::OnClose() {
  if (close_event_) {
    MessageBeep(MB_ICONHAND);
    return;
  }
  close_event_ = 1;
  RunEventHandler(kEventClose);
  close_event_ = 0;
}

void CMainWindow::OnCommand(UINT id) {
  if (id == kCommandExit) {
    OnClose();
  } else if (id == kCommandAbout) {
    ShowAbout();
  }
}

void CMainWindow::ShowAbout() {
  CAboutDialog dialog;
  dialog.DoModal(this, copyright_.GetBuffer());
}

LRESULT CMainWindow::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (RunHooks(&result, message, wparam, lparam)) return result;
  const HWND hwnd = GetHandle();
  switch (message) {
    case WM_CREATE:
      OnCreate();
      return 0;
    case WM_SETFOCUS:
      if (!(state_ & kFocus)) {
        Suspend(false);
        state_ |= kFocus;
      }
      break;
    case WM_KILLFOCUS:
      if (state_ & kFocus) {
        Suspend(true);
        state_ &= ~kFocus;
      }
      break;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ACTIVATEAPP:
      if (wparam && !(state_ & kActive)) {
        Suspend(false);
        state_ |= kActive;
      } else if (!wparam && (state_ & kActive)) {
        Suspend(true);
        state_ &= ~kActive;
      }
      break;
    case WM_CANCELMODE:
      if (captured_ != kNoCapture) {
        EngineMouseQueues().PushMouseEvent(kMouseCancel, 0, 0);
        captured_ = kNoCapture;
        ReleaseCapture();
      }
      break;
    case WM_SETCURSOR:
      if (LOWORD(lparam) == HTCLIENT && (state_ & kHideCursor)) {
        SetCursor(nullptr);
        return 1;
      }
      break;
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_COMPOSITION:
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam));
      return 0;
    case WM_MOUSEMOVE:
      QueueMouse(3, lparam);
      return 0;
    case WM_LBUTTONDOWN:
      QueueMouse(0, lparam);
      Capture(0);
      return 0;
    case WM_LBUTTONUP:
      QueueMouse(4, lparam);
      Uncapture(0);
      return 0;
    case WM_RBUTTONDOWN:
      QueueMouse(2, lparam);
      Capture(2);
      return 0;
    case WM_RBUTTONUP:
      QueueMouse(6, lparam);
      Uncapture(2);
      return 0;
    case WM_MBUTTONDOWN:
      QueueMouse(1, lparam);
      Capture(1);
      return 0;
    case WM_MBUTTONUP:
      QueueMouse(5, lparam);
      Uncapture(1);
      return 0;
    case WM_ENTERMENULOOP:
      if (!(state_ & kMenuLoop)) {
        Suspend(true);
        state_ |= kMenuLoop;
      }
      break;
    case WM_EXITMENULOOP:
      if (state_ & kMenuLoop) {
        Suspend(false);
        state_ &= ~kMenuLoop;
      }
      break;
    case WM_ENTERSIZEMOVE:
      if (!(state_ & kSizeMove)) {
        Suspend(true);
        state_ |= kSizeMove;
      }
      break;
    case WM_EXITSIZEMOVE:
      if (state_ & kSizeMove) {
        Suspend(false);
        state_ &= ~kSizeMove;
      }
      break;
    case WM_USER + 1:
      NetHostMessage(wparam, lparam);
      return 0;
    case WM_USER + 2:
      NetSocketMessage(wparam, lparam);
      return 0;
    case WM_IME_SETCONTEXT:
      // The input method shows none of its windows (there is none on this platform anyway).
      return DefWindowProcA(hwnd, message, wparam, lparam & 0x3FFFFFF0);
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}
