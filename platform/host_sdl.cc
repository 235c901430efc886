// The SDL2 host, built as its own module (libplatform_sdl.so) that the platform library loads
// when this host is chosen: one SDL window per top-level window, SDL events turned into window
// messages for the window they belong to, message boxes through SDL, file dialogs through zenity
// when it is installed.
#include <SDL.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/dinput.h"
#include "platform/host.h"
#include "platform/host_sdl_internal.h"
#include "platform/keymap.h"

namespace orvane::host {
namespace {

std::map<HWND, SDL_Window*> g_windows;  // the top-level windows shown by SDL
DWORD g_thread = 0;                     // the thread that made the first; only it polls SDL's events
Uint32 g_buttons = 0;                   // mouse buttons held (MK_ bits)

bool SdlInit() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
  SdlJoystickInit();
  return true;
}

void SdlQuit() {
  SdlJoystickQuit();
  SDL_Quit();
}

bool SdlCreate(HWND hwnd, const char* title, int x, int y, int w, int h, bool visible) {
  if (g_windows.count(hwnd)) return false;
  if (!g_windows.empty() && GetCurrentThreadId() != g_thread)
    return false;  // SDL's events stay on one thread
  Uint32 flags = visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
  SDL_Window* window = SDL_CreateWindow(title, x, y, w > 0 ? w : 1, h > 0 ? h : 1, flags);
  if (!window) return false;
  if (g_windows.empty()) g_thread = GetCurrentThreadId();
  g_windows[hwnd] = window;
  return true;
}

void SdlDestroy(HWND hwnd) {
  auto it = g_windows.find(hwnd);
  if (it == g_windows.end()) return;
  SdlPresentForget(hwnd);
  SDL_DestroyWindow(it->second);
  g_windows.erase(it);
}

void SdlTitle(HWND hwnd, const char* title) {
  if (SDL_Window* window = SdlWindowOf(hwnd)) SDL_SetWindowTitle(window, title);
}

void SdlShow(HWND hwnd, bool visible) {
  SDL_Window* window = SdlWindowOf(hwnd);
  if (!window) return;
  if (!visible) {
    SDL_HideWindow(window);
    return;
  }
  // An owned window (a dialog, a box's window) stays above its owner, as a transient window.
  HWND owner = GetParent(hwnd);
  SDL_Window* owner_window = owner ? SdlWindowOf(owner) : nullptr;
  if (owner_window) SDL_SetWindowModalFor(window, owner_window);
  SDL_ShowWindow(window);
  if (owner_window) SDL_RaiseWindow(window);
}

void SdlRect(HWND hwnd, int x, int y, int w, int h) {
  SDL_Window* window = SdlWindowOf(hwnd);
  if (!window) return;
  int cx, cy, cw, ch;
  SDL_GetWindowPosition(window, &cx, &cy);
  SDL_GetWindowSize(window, &cw, &ch);
  if (cx != x || cy != y) SDL_SetWindowPosition(window, x, y);
  if ((cw != w || ch != h) && w > 0 && h > 0) SDL_SetWindowSize(window, w, h);
}

WPARAM MouseKeys() {
  WPARAM mk = g_buttons;
  SDL_Keymod mod = SDL_GetModState();
  if (mod & KMOD_SHIFT) mk |= MK_SHIFT;
  if (mod & KMOD_CTRL) mk |= MK_CONTROL;
  return mk;
}

// The window an event belongs to (null when the event names none of ours).
HWND TargetOf(const SDL_Event& e) {
  Uint32 id = 0;
  switch (e.type) {
    case SDL_WINDOWEVENT:
      id = e.window.windowID;
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      id = e.key.windowID;
      break;
    case SDL_TEXTINPUT:
      id = e.text.windowID;
      break;
    case SDL_MOUSEMOTION:
      id = e.motion.windowID;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      id = e.button.windowID;
      break;
    case SDL_MOUSEWHEEL:
      id = e.wheel.windowID;
      break;
    default:
      return nullptr;
  }
  return SdlWindowHandle(SDL_GetWindowFromID(id));
}

void Translate(const SDL_Event& e) {
  HWND h = TargetOf(e);
  if (!h) return;
  switch (e.type) {
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          PostMessageA(h, WM_CLOSE, 0, 0);
          break;
        case SDL_WINDOWEVENT_MOVED:
          HostWindowMoved(h, e.window.data1, e.window.data2);
          break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
          // In full screen the SDL window covers the desktop while the window keeps the mode's
          // client size; the renderer scales the picture (host_sdl_display.cc).
          Uint32 flags = SDL_GetWindowFlags(SDL_GetWindowFromID(e.window.windowID));
          if ((flags & SDL_WINDOW_FULLSCREEN_DESKTOP) != SDL_WINDOW_FULLSCREEN_DESKTOP)
            HostWindowResized(h, e.window.data1, e.window.data2);
          break;
        }
        case SDL_WINDOWEVENT_EXPOSED:
          SdlPresentExpose(h);
          InvalidateRect(h, nullptr, FALSE);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          HostFocusChanged(h, true);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          HostFocusChanged(h, false);
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const keymap::Key* key = keymap::FromUsbUsage(static_cast<unsigned>(e.key.keysym.scancode));
      if (!key) break;
      bool down = e.type == SDL_KEYDOWN;
      bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
      UINT msg = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
      PostMessageA(h, msg, key->vk, keymap::KeyLParam(*key, down, e.key.repeat != 0));
      if (e.key.repeat == 0) dinput::HubKey(keymap::Dik(*key), down);
      break;
    }
    case SDL_TEXTINPUT: {
      std::string text = Utf8ToCp932(e.text.text);
      for (unsigned char c : text) PostMessageA(h, WM_CHAR, c, 1);
      break;
    }
    case SDL_MOUSEMOTION: {
      POINT p{e.motion.x, e.motion.y};
      POINT s = p;
      ClientToScreen(h, &s);
      HostCursorMoved(s.x, s.y);
      PostMessageA(h, WM_MOUSEMOVE, MouseKeys(), MAKELPARAM(p.x, p.y));
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      bool down = e.type == SDL_MOUSEBUTTONDOWN;
      UINT msg;
      Uint32 bit;
      switch (e.button.button) {
        case SDL_BUTTON_LEFT:
          msg = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
          bit = MK_LBUTTON;
          break;
        case SDL_BUTTON_RIGHT:
          msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
          bit = MK_RBUTTON;
          break;
        case SDL_BUTTON_MIDDLE:
          msg = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
          bit = MK_MBUTTON;
          break;
        default:
          return;
      }
      if (down)
        g_buttons |= bit;
      else
        g_buttons &= ~bit;
      PostMessageA(h, msg, MouseKeys(), MAKELPARAM(e.button.x, e.button.y));
      break;
    }
    case SDL_MOUSEWHEEL: {
      int mx, my;
      SDL_GetGlobalMouseState(&mx, &my);
      PostMessageA(h, WM_MOUSEWHEEL, MAKEWPARAM(MouseKeys(), e.wheel.y * WHEEL_DELTA), MAKELPARAM(mx, my));
      break;
    }
    default:
      break;
  }
}

void SdlPoll() {
  if (g_windows.empty() || GetCurrentThreadId() != g_thread) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (!SdlJoystickEvent(e)) Translate(e);
  }
}

void SdlWait(int ms) {
  if (!g_windows.empty() && GetCurrentThreadId() == g_thread) {
    SDL_WaitEventTimeout(nullptr, ms);
  } else {
    SDL_Delay(static_cast<Uint32>(ms > 0 ? ms : 0));
  }
}

void SdlScreen(int* w, int* h) {
  SDL_Rect r;
  if (SDL_GetDisplayBounds(0, &r) == 0 && r.w > 0 && r.h > 0) {
    *w = r.w;
    *h = r.h;
  } else {
    *w = 1024;
    *h = 768;
  }
}

int SdlMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  struct Kind {
    int ids[3];
    const char* names[3];
  };
  static const Kind kKinds[] = {
      {{IDOK, 0, 0}, {"OK", nullptr, nullptr}},
      {{IDOK, IDCANCEL, 0}, {"OK", "Cancel", nullptr}},
      {{IDABORT, IDRETRY, IDIGNORE}, {"Abort", "Retry", "Ignore"}},
      {{IDYES, IDNO, IDCANCEL}, {"Yes", "No", "Cancel"}},
      {{IDYES, IDNO, 0}, {"Yes", "No", nullptr}},
      {{IDRETRY, IDCANCEL, 0}, {"Retry", "Cancel", nullptr}},
  };
  UINT k = type & MB_TYPEMASK;
  if (k > 5) k = 0;
  const Kind& kind = kKinds[k];
  int def = DefaultButton(type);
  SDL_MessageBoxButtonData buttons[3];
  int n = 0;
  bool has_cancel = false;
  for (int i = 0; i < 3 && kind.ids[i]; ++i, ++n) {
    buttons[i].buttonid = kind.ids[i];
    buttons[i].text = kind.names[i];
    buttons[i].flags = 0;
    if (kind.ids[i] == def) buttons[i].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (kind.ids[i] == IDCANCEL) {
      buttons[i].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
      has_cancel = true;
    }
  }
  Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
  UINT icon = type & MB_ICONMASK;
  if (icon == MB_ICONHAND)
    flags = SDL_MESSAGEBOX_ERROR;
  else if (icon == MB_ICONEXCLAMATION)
    flags = SDL_MESSAGEBOX_WARNING;
  SDL_MessageBoxData data{};
  data.flags = flags;
  data.window = owner ? SdlWindowOf(owner) : nullptr;
  data.title = caption;
  data.message = text;
  data.numbuttons = n;
  data.buttons = buttons;
  int chosen = -1;
  if (SDL_ShowMessageBox(&data, &chosen) != 0) return 0;
  if (chosen < 0) return has_cancel ? IDCANCEL : def;  // closed without a button
  return chosen;
}

// The zenity program on the PATH, or an empty string.
std::string FindZenity() {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string candidate = p.substr(start, end - start) + "/zenity";
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

bool SdlFileDialog(bool save, const char* initial, std::string* chosen) {
  std::string zenity = FindZenity();
  if (zenity.empty()) return false;
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::string filename = std::string("--filename=") + (initial ? initial : "");
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    if (save) {
      execl(zenity.c_str(), "zenity", "--file-selection", "--save", "--confirm-overwrite", filename.c_str(),
            static_cast<char*>(nullptr));
    } else {
      execl(zenity.c_str(), "zenity", "--file-selection", filename.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (out.empty()) return false;
  *chosen = out;
  return true;
}

}  // namespace

const HostHooks& SdlHost() {
  static const HostHooks hooks = [] {
    HostHooks h{};
    h.name = "sdl";
    h.Init = SdlInit;
    h.Quit = SdlQuit;
    h.CreateWindow = SdlCreate;
    h.DestroyWindow = SdlDestroy;
    h.SetTitle = SdlTitle;
    h.Show = SdlShow;
    h.SetClientRect = SdlRect;
    h.PollEvents = SdlPoll;
    h.WaitEvents = SdlWait;
    h.ScreenSize = SdlScreen;
    h.MessageBox = SdlMessageBox;
    h.FileDialog = SdlFileDialog;
    h.NativeWindow = [](HWND hwnd) -> void* { return SdlWindowOf(hwnd); };
    h.PresentSurface = SdlPresentSurface;
    h.DesktopDepth = SdlDesktopDepth;
    h.SetFullscreen = SdlSetFullscreen;
    h.CaptureMouse = SdlCaptureMouse;
    h.ShowCursor = SdlShowCursor;
    h.WarpCursor = SdlWarpCursor;
    h.OpenAudio = SdlOpenAudio;
    h.CloseAudio = SdlCloseAudio;
    return h;
  }();
  return hooks;
}

SDL_Window* SdlWindowOf(HWND hwnd) {
  auto it = g_windows.find(hwnd);
  return it == g_windows.end() ? nullptr : it->second;
}

HWND SdlWindowHandle(SDL_Window* window) {
  if (!window) return nullptr;
  for (const auto& [hwnd, w] : g_windows)
    if (w == window) return hwnd;
  return nullptr;
}

}  // namespace orvane::host

// The module's entry: the platform library finds the host's hooks here.
extern "C" __attribute__((visibility("default"))) const orvane::host::HostHooks* OrvaneSdlHostHooks() {
  return &orvane::host::SdlHost();
}
