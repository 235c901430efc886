// User interfaces: window classes, windows, messages and queues, timers, message boxes, dialogs,
// menus, carets, scroll bars, file dialogs, settings (registry and private profiles).
//
// Windows live in our own window manager (platform/user_*.cc); what a user sees of them is drawn
// by the host chosen at run time (platform/host.h). Message numbers, styles, message-box flags and
// results, and virtual-key codes keep their documented numeric values: plug-ins and scripts see them.
#pragma once

#include "platform/kernel.h"
#include "platform/wintypes.h"

// ---- Procedures.
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);

// ---- Resource names: a small integer or a string.
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

// ---- Window messages.
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_MOVE 0x0003u
#define WM_SIZE 0x0005u
#define WM_ACTIVATE 0x0006u
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_ENABLE 0x000Au
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_GETTEXTLENGTH 0x000Eu
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_ERASEBKGND 0x0014u
#define WM_SHOWWINDOW 0x0018u
#define WM_ACTIVATEAPP 0x001Cu
#define WM_SETCURSOR 0x0020u
#define WM_GETMINMAXINFO 0x0024u
#define WM_SETFONT 0x0030u
#define WM_CTLCOLORSTATIC 0x0138u
#define WM_GETFONT 0x0031u
#define WM_WINDOWPOSCHANGED 0x0047u
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_SYSKEYDOWN 0x0104u
#define WM_SYSKEYUP 0x0105u
#define WM_SYSCHAR 0x0106u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_SYSCOMMAND 0x0112u
#define WM_TIMER 0x0113u
#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONDOWN 0x0204u
#define WM_RBUTTONUP 0x0205u
#define WM_MBUTTONDOWN 0x0207u
#define WM_MBUTTONUP 0x0208u
#define WM_MOUSEWHEEL 0x020Au
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define WM_CANCELMODE 0x001Fu
#define WM_IME_STARTCOMPOSITION 0x010Du
#define WM_IME_ENDCOMPOSITION 0x010Eu
#define WM_IME_COMPOSITION 0x010Fu
#define WM_ENTERMENULOOP 0x0211u
#define WM_EXITMENULOOP 0x0212u
#define WM_CAPTURECHANGED 0x0215u
#define WM_ENTERSIZEMOVE 0x0231u
#define WM_EXITSIZEMOVE 0x0232u
#define WM_IME_SETCONTEXT 0x0281u
#define WM_IME_NOTIFY 0x0282u
#define WM_IME_CONTROL 0x0283u
// Hit-test codes (the low word of WM_SETCURSOR's lParam).
#define HTCAPTION 2
#define HTCLIENT 1

#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2
#define MK_LBUTTON 0x0001u
#define MK_RBUTTON 0x0002u
#define MK_SHIFT 0x0004u
#define MK_CONTROL 0x0008u
#define MK_MBUTTON 0x0010u
#define WHEEL_DELTA 120
#define BM_GETCHECK 0x00F0u
#define BM_SETCHECK 0x00F1u
#define BST_UNCHECKED 0
#define BST_CHECKED 1

#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))

// ---- Virtual-key codes ('0'-'9' and 'A'-'Z' are their ASCII codes).
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_MBUTTON 0x04
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_NUMPAD0 0x60
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F12 0x7B
#define VK_KANA 0x15
#define VK_CONVERT 0x1C
#define VK_NONCONVERT 0x1D
#define VK_SNAPSHOT 0x2C
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_SEPARATOR 0x6C
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE
#define VK_OEM_102 0xE2
#define VK_OEM_COPY 0xF2
#define VK_OEM_AUTO 0xF3

// ---- Class and window styles.
#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_DBLCLKS 0x0008u
#define CS_OWNDC 0x0020u

#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_MINIMIZE 0x20000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CLIPSIBLINGS 0x04000000u
#define WS_CLIPCHILDREN 0x02000000u
#define WS_MAXIMIZE 0x01000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_DLGFRAME 0x00400000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_SYSMENU 0x00080000u
#define WS_THICKFRAME 0x00040000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_MAXIMIZEBOX 0x00010000u
#define WS_OVERLAPPEDWINDOW \
  (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_POPUPWINDOW (WS_POPUP | WS_BORDER | WS_SYSMENU)
#define WS_EX_DLGMODALFRAME 0x00000001u
#define WS_EX_TOPMOST 0x00000008u
#define WS_EX_TOOLWINDOW 0x00000080u
#define WS_EX_WINDOWEDGE 0x00000100u
#define WS_EX_CLIENTEDGE 0x00000200u
#define WS_EX_APPWINDOW 0x00040000u
#define DS_MODALFRAME 0x00000080u
#define DS_CENTER 0x00000800u

#define CW_USEDEFAULT (static_cast<int>(0x80000000u))

// ---- Window data indexes. The pointer-sized forms are the ones to use on this 64-bit host.
#define GWL_WNDPROC (-4)
#define GWL_HINSTANCE (-6)
#define GWL_HWNDPARENT (-8)
#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define GWLP_WNDPROC GWL_WNDPROC
#define GWLP_HINSTANCE GWL_HINSTANCE
#define GWLP_ID GWL_ID
#define GWLP_USERDATA GWL_USERDATA
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16

// ---- Show commands and window positions.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOREDRAW 0x0008u
#define SWP_NOACTIVATE 0x0010u
#define SWP_FRAMECHANGED 0x0020u
#define SWP_SHOWWINDOW 0x0040u
#define SWP_HIDEWINDOW 0x0080u
#define HWND_TOP (reinterpret_cast<HWND>(0))
#define HWND_BOTTOM (reinterpret_cast<HWND>(1))
#define HWND_TOPMOST (reinterpret_cast<HWND>(-1))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(-2))

#define WPF_SETMINPOSITION 0x0001u
#define WPF_RESTORETOMAXIMIZED 0x0002u

// ---- System metrics.
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CYCAPTION 4
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CXDLGFRAME 7
#define SM_CYDLGFRAME 8
#define SM_CYMENU 15
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17
#define SM_CXFRAME 32
#define SM_CYFRAME 33

// ---- Message boxes.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONHAND 0x00000010u
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0u
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_DEFMASK 0x00000F00u
#define MB_APPLMODAL 0x00000000u
#define MB_SYSTEMMODAL 0x00001000u
#define MB_TASKMODAL 0x00002000u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u
#define MB_OK_BEEP 0xFFFFFFFFu
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// ---- Queue access.
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
// Kinds of queue input a wait wakes for.
#define QS_KEY 0x0001u
#define QS_MOUSEMOVE 0x0002u
#define QS_MOUSEBUTTON 0x0004u
#define QS_POSTMESSAGE 0x0008u
#define QS_TIMER 0x0010u
#define QS_PAINT 0x0020u
#define QS_SENDMESSAGE 0x0040u
#define QS_HOTKEY 0x0080u
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_INPUT (QS_MOUSE | QS_KEY)
#define QS_ALLEVENTS (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY)
#define QS_ALLINPUT (QS_ALLEVENTS | QS_SENDMESSAGE)

// ---- Menus.
#define MF_BYCOMMAND 0x00000000u
#define MF_BYPOSITION 0x00000400u
#define MF_STRING 0x00000000u
#define MF_ENABLED 0x00000000u
#define MF_GRAYED 0x00000001u
#define MF_DISABLED 0x00000002u
#define MF_UNCHECKED 0x00000000u
#define MF_CHECKED 0x00000008u
#define MF_POPUP 0x00000010u
#define MF_SEPARATOR 0x00000800u

// ---- Scroll bars.
#define SB_HORZ 0
#define SB_VERT 1
#define SB_CTL 2
#define SB_BOTH 3
#define ESB_ENABLE_BOTH 0x0000u
#define ESB_DISABLE_BOTH 0x0003u
#define SIF_RANGE 0x0001u
#define SIF_PAGE 0x0002u
#define SIF_POS 0x0004u
#define SIF_DISABLENOSCROLL 0x0008u
#define SIF_TRACKPOS 0x0010u
#define SIF_ALL (SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS)

// ---- Structures.
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

struct MINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
};

struct WINDOWPLACEMENT {
  UINT length;
  UINT flags;
  UINT showCmd;
  POINT ptMinPosition;
  POINT ptMaxPosition;
  RECT rcNormalPosition;
};

struct SCROLLINFO {
  UINT cbSize;
  UINT fMask;
  int nMin;
  int nMax;
  UINT nPage;
  int nPos;
  int nTrackPos;
};
using LPSCROLLINFO = SCROLLINFO*;
using LPCSCROLLINFO = const SCROLLINFO*;

// ---- Window classes. A class name is matched ignoring ASCII case; registering a name twice
// fails with ERROR_CLASS_ALREADY_EXISTS. Registration lasts for the life of the process.
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_INVALID_MENU_HANDLE 1401u
#define ERROR_CANNOT_FIND_WND_CLASS 1407u
#define ERROR_CLASS_ALREADY_EXISTS 1410u
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u
ORVANE_API ATOM RegisterClassExA(const WNDCLASSEXA* wc);
ORVANE_API BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE instance);
ORVANE_API BOOL GetClassInfoExA(HINSTANCE instance, LPCSTR class_name, WNDCLASSEXA* wc);

// ---- Windows. CreateWindowExA sends WM_GETMINMAXINFO (top-level windows), WM_NCCREATE, then
// WM_CREATE, each through the class procedure; a FALSE from WM_NCCREATE or -1 from WM_CREATE
// destroys the half-made window and gives NULL. Handles are never reused in a process.
ORVANE_API HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                                int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                LPVOID param);
// Sends WM_DESTROY and WM_NCDESTROY (children first are destroyed after their parent's
// WM_DESTROY), kills the window's timers and forgets the handle.
ORVANE_API BOOL DestroyWindow(HWND hwnd);
ORVANE_API BOOL IsWindow(HWND hwnd);
ORVANE_API BOOL IsWindowVisible(HWND hwnd);
ORVANE_API BOOL IsWindowEnabled(HWND hwnd);
ORVANE_API BOOL IsIconic(HWND hwnd);
ORVANE_API BOOL IsZoomed(HWND hwnd);
ORVANE_API BOOL IsChild(HWND parent, HWND hwnd);
// The parent of a child window, or the owner of a top-level window; NULL otherwise.
ORVANE_API HWND GetParent(HWND hwnd);
ORVANE_API HWND SetParent(HWND hwnd, HWND parent);
// Returns whether the window was visible before; sends WM_SHOWWINDOW when visibility changes.
ORVANE_API BOOL ShowWindow(HWND hwnd, int command);
// Sends WM_PAINT at once when the window has an update region.
ORVANE_API BOOL UpdateWindow(HWND hwnd);
ORVANE_API BOOL EnableWindow(HWND hwnd, BOOL enable);  // TRUE when the window was disabled before
ORVANE_API BOOL SetForegroundWindow(HWND hwnd);
ORVANE_API BOOL BringWindowToTop(HWND hwnd);
ORVANE_API HWND GetForegroundWindow();
ORVANE_API HWND SetFocus(HWND hwnd);
ORVANE_API HWND GetFocus();
ORVANE_API HWND GetActiveWindow();
ORVANE_API int GetWindowTextA(HWND hwnd, LPSTR buffer, int size);
ORVANE_API int GetWindowTextLengthA(HWND hwnd);
ORVANE_API BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
ORVANE_API LONG GetWindowLongA(HWND hwnd, int index);
ORVANE_API LONG SetWindowLongA(HWND hwnd, int index, LONG value);
ORVANE_API LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
ORVANE_API LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
ORVANE_API HWND FindWindowA(LPCSTR class_name, LPCSTR title);
ORVANE_API BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param);
ORVANE_API int GetDlgCtrlID(HWND hwnd);

// ---- Geometry. Top-level windows are placed in screen coordinates, child windows in their
// parent's client coordinates. The frame a style adds is fixed by the system metrics.
ORVANE_API BOOL GetWindowRect(HWND hwnd, LPRECT rect);
ORVANE_API BOOL GetClientRect(HWND hwnd, LPRECT rect);
ORVANE_API BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
ORVANE_API BOOL SetWindowPos(HWND hwnd, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
ORVANE_API BOOL ScreenToClient(HWND hwnd, LPPOINT point);
ORVANE_API BOOL ClientToScreen(HWND hwnd, LPPOINT point);
ORVANE_API BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style);
ORVANE_API BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu);
ORVANE_API int GetSystemMetrics(int index);
ORVANE_API BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement);
ORVANE_API BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement);
ORVANE_API BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
ORVANE_API BOOL ValidateRect(HWND hwnd, const RECT* rect);
// The bounding rectangle of the update region; FALSE when there is none.
ORVANE_API BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase);

// ---- Messages. SendMessageA calls the window procedure directly on the calling thread.
// Posted messages go to the queue of the thread that created the window. PeekMessageA and
// GetMessageA take posted messages first (WM_QUIT among them, in order), then WM_PAINT for a
// window with an update region, then due WM_TIMER messages: WM_PAINT and WM_TIMER appear only
// when nothing else waits. GetMessageA gives 0 for WM_QUIT and -1 for a bad window filter.
ORVANE_API LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
ORVANE_API BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
ORVANE_API BOOL PostThreadMessageA(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam);
ORVANE_API void PostQuitMessage(int exit_code);
ORVANE_API BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove);
ORVANE_API BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max);
// Calls the window procedure of msg->hwnd (or the TIMERPROC of a WM_TIMER); a WM_PAINT that the
// procedure left unvalidated is validated afterwards, so a pump cannot spin on it.
ORVANE_API LRESULT DispatchMessageA(const MSG* msg);
// Text typed arrives from the hosts as WM_CHAR of their own (cp932 bytes, a double-byte character
// as two messages, lead byte first). For the keys that type control characters, a WM_KEYDOWN
// makes the WM_CHAR here: Return 0x0D, Backspace 0x08, Escape 0x1B, Tab 0x09, the next message
// the thread takes. TRUE for key messages.
ORVANE_API BOOL TranslateMessage(const MSG* msg);
ORVANE_API LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// The default handling: WM_CLOSE destroys the window, WM_PAINT validates it, WM_NCCREATE gives
// TRUE, WM_GETTEXT / WM_SETTEXT use the window text, everything else gives 0.
ORVANE_API LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Time (milliseconds since start-up) and cursor position (x low, y high) of the last message taken.
ORVANE_API LONG GetMessageTime();
ORVANE_API DWORD GetMessagePos();
// The cursor's screen position, as the host last reported it.
ORVANE_API BOOL GetCursorPos(LPPOINT point);
// Moves the cursor to a screen position: records the warp and posts the WM_MOUSEMOVE (client
// coordinates) to the window capturing the mouse, else the active window.
ORVANE_API BOOL SetCursorPos(int x, int y);
// Ids from 0xC000 up, one per name (ASCII case ignored); 0 for an empty or null name.
ORVANE_API UINT RegisterWindowMessageA(LPCSTR name);

// ---- Timers. A timer of a window (id != 0) or of the thread (hwnd NULL: the id is chosen).
ORVANE_API UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds, TIMERPROC proc);
ORVANE_API BOOL KillTimer(HWND hwnd, UINT_PTR id);
// Waits until one of count (0 to 63) events or threads is signalled (WAIT_OBJECT_0 + the lowest
// signalled index, only that auto-reset event consumed) or the calling thread's queue has input
// of the wake mask that arrived since the thread last looked at its queue (WAIT_OBJECT_0 + count;
// a due timer and a pending paint count as new): WAIT_TIMEOUT after ms. A SetEvent or a post from
// another thread ends the wait at once; a host with its own events is polled every 10 ms.
// wait_all is not supported (WAIT_FAILED, ERROR_NOT_SUPPORTED, unless count is 1).
ORVANE_API DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms,
                                           DWORD wake_mask);
// Waits until the queue has input that arrived since the thread last looked at it.
ORVANE_API BOOL WaitMessage();

// ---- Message boxes and beeps. The host shows the box (headless: a scripted answer, else the
// default button); the result is the id of the button chosen, 0 on failure.
ORVANE_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
ORVANE_API BOOL MessageBeep(UINT type);

// ---- Dialogs. Templates are tables in code registered with OrvaneRegisterDialogTemplate.
// A modal dialog runs its own message loop, dispatching every message of the thread, until
// EndDialog; the result is EndDialog's value, or -1 when the dialog could not be made.
struct OrvaneDialogControl {
  const char* class_name;  // "BUTTON", "STATIC", "EDIT" or a registered class
  const char* text;
  WORD id;
  DWORD style;
  short x, y, cx, cy;  // dialog units
};
struct OrvaneDialogTemplate {
  const char* title;
  DWORD style;
  DWORD ex_style;
  short x, y, cx, cy;  // dialog units
  const char* font_face;
  WORD font_size;
  BYTE font_charset;
  const OrvaneDialogControl* controls;
  int control_count;
};
// Registers a template under (instance, name); the template is copied. FALSE for a name taken.
ORVANE_API BOOL OrvaneRegisterDialogTemplate(HINSTANCE instance, LPCSTR name,
                                             const OrvaneDialogTemplate* tmpl);
ORVANE_API INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param);
ORVANE_API HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param);
ORVANE_API BOOL EndDialog(HWND dialog, INT_PTR result);
ORVANE_API BOOL IsDialogMessageA(HWND dialog, LPMSG msg);
ORVANE_API LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
ORVANE_API HWND GetDlgItem(HWND dialog, int id);
ORVANE_API LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);

// ---- Menus. No host draws a menu bar: the state of each item is kept and WM_COMMAND can be
// sent for it. Menu templates are tables in code registered with OrvaneRegisterMenu.
struct OrvaneMenuItem {
  const char* text;  // null for a separator
  UINT id;
  UINT flags;  // MF_GRAYED, MF_CHECKED, MF_POPUP ...
  const OrvaneMenuItem* popup;
  int popup_count;
};
ORVANE_API BOOL OrvaneRegisterMenu(HINSTANCE instance, LPCSTR name, const OrvaneMenuItem* items, int count);
ORVANE_API HMENU CreateMenu();
ORVANE_API HMENU CreatePopupMenu();
ORVANE_API BOOL DestroyMenu(HMENU menu);
ORVANE_API HMENU LoadMenuA(HINSTANCE instance, LPCSTR name);
ORVANE_API BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id_or_popup, LPCSTR text);
ORVANE_API HMENU GetSubMenu(HMENU menu, int position);
ORVANE_API int GetMenuItemCount(HMENU menu);
// Previous state (MF_GRAYED / MF_DISABLED, or MF_CHECKED) of the item; (DWORD)-1 without one.
ORVANE_API DWORD EnableMenuItem(HMENU menu, UINT item, UINT flags);
ORVANE_API DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
ORVANE_API UINT GetMenuState(HMENU menu, UINT item, UINT flags);
ORVANE_API BOOL SetMenu(HWND hwnd, HMENU menu);
ORVANE_API HMENU GetMenu(HWND hwnd);
ORVANE_API BOOL DrawMenuBar(HWND hwnd);

// ---- Icons and cursors: the system ones exist; a program's own are not kept by any host.
ORVANE_API HICON LoadIconA(HINSTANCE instance, LPCSTR name);
ORVANE_API HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
ORVANE_API HCURSOR SetCursor(HCURSOR cursor);
ORVANE_API int ShowCursor(BOOL show);
// The cursor SetCursor chose last (NULL: hidden over the client area).
ORVANE_API HCURSOR GetCursor();
// Mouse capture: the window then gets every mouse message, also from outside it. SetCapture
// gives the previous capture window; ReleaseCapture sends it WM_CAPTURECHANGED. When the host's
// focus goes away during a capture the window gets WM_CANCELMODE and the capture ends.
ORVANE_API HWND SetCapture(HWND hwnd);
ORVANE_API BOOL ReleaseCapture();
ORVANE_API HWND GetCapture();

// ---- Carets: one per thread in the original; one for the process here.
ORVANE_API BOOL CreateCaret(HWND hwnd, HBITMAP bitmap, int width, int height);
ORVANE_API BOOL DestroyCaret();
ORVANE_API UINT GetCaretBlinkTime();
ORVANE_API BOOL SetCaretBlinkTime(UINT milliseconds);
ORVANE_API BOOL GetCaretPos(LPPOINT point);
ORVANE_API BOOL SetCaretPos(int x, int y);
ORVANE_API BOOL ShowCaret(HWND hwnd);
ORVANE_API BOOL HideCaret(HWND hwnd);

// ---- Scroll bars of a window: kept as values (no host draws them).
ORVANE_API BOOL GetScrollRange(HWND hwnd, int bar, int* min_pos, int* max_pos);
ORVANE_API BOOL SetScrollRange(HWND hwnd, int bar, int min_pos, int max_pos, BOOL redraw);
ORVANE_API int GetScrollPos(HWND hwnd, int bar);
ORVANE_API int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw);
ORVANE_API BOOL EnableScrollBar(HWND hwnd, UINT bar, UINT arrows);
ORVANE_API BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show);
ORVANE_API BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info);
ORVANE_API int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw);

// ---- Start-up of the shell libraries. Neither has anything to set up on this host: both are
// documented no-ops that report success.
#ifndef S_OK
#define S_OK 0
#define S_FALSE 1
#endif
ORVANE_API void InitCommonControls();
ORVANE_API HRESULT CoInitialize(LPVOID reserved);
ORVANE_API void CoUninitialize();

// ---- File dialogs. Under SDL the dialog is zenity when it is installed, else the dialog is
// cancelled; the headless host answers with a scripted file name or cancels. The chosen path is
// a cp932 path; a path longer than nMaxFile - 1 fails with FNERR_BUFFERTOOSMALL.
struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  LPVOID lpfnHook;
  LPCSTR lpTemplateName;
};
using LPOPENFILENAMEA = OPENFILENAMEA*;
#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u
#define FNERR_BUFFERTOOSMALL 0x3003u
ORVANE_API BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn);
ORVANE_API BOOL GetSaveFileNameA(LPOPENFILENAMEA ofn);
// 0 after a cancel, else the reason of the last failed file dialog.
ORVANE_API DWORD CommDlgExtendedError();

// ---- Registry: a typed key store kept in "$XDG_CONFIG_HOME/orvane/registry" (fallback
// ~/.config). Every change rewrites the file through a temporary file and a rename, so a crash
// never leaves half a store. Key paths are cp932 bytes; names match ignoring ASCII case.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000000))))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001))))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002))))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000003))))
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define ERROR_MORE_DATA 234u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_BADDB 1009u
using REGSAM = DWORD;
using PHKEY = HKEY*;
// Results are error codes (ERROR_SUCCESS on success), as the registry functions give them.
ORVANE_API LONG RegCreateKeyExA(HKEY root, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options,
                                REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                                LPDWORD disposition);
ORVANE_API LONG RegOpenKeyExA(HKEY root, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result);
ORVANE_API LONG RegCloseKey(HKEY key);
// Stores a value; REG_DWORD needs 4 bytes of data.
ORVANE_API LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                               DWORD size);
// With data NULL gives the type and size only; a buffer too small gives ERROR_MORE_DATA and the
// size needed. The bytes come back as stored.
ORVANE_API LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                 LPDWORD size);
ORVANE_API LONG RegDeleteValueA(HKEY key, LPCSTR name);
// Deletes a key that has no sub-keys.
ORVANE_API LONG RegDeleteKeyA(HKEY root, LPCSTR sub_key);

// ---- Private profiles (.ini files), in cp932 bytes: sections and keys match ignoring ASCII
// case (double-byte characters compare exactly); values are trimmed of blanks and one pair of
// enclosing quotes. A relative file name without a directory lives in the Windows directory.
// A value longer than size - 1 is cut and gives size - 1. A NULL section lists the sections, a
// NULL key the keys of the section, each NUL-terminated, the list ended by a second NUL.
ORVANE_API DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_text, LPSTR buffer,
                                          DWORD size, LPCSTR file);
ORVANE_API UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int default_value, LPCSTR file);
// Sets key = value in the section, keeping every other line; creates the file and the section
// when missing. A NULL value deletes the key, a NULL key the section. The file is replaced
// atomically (temporary file and rename).
ORVANE_API BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);
// The directory of profiles without a directory of their own: "$XDG_CONFIG_HOME/orvane/windows"
// (fallback ~/.config/orvane/windows), created on first use, as a cp932 path without a final
// separator. Returns its length, or the size needed when the buffer is too small.
ORVANE_API UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
