// The SDL2 host: one real top-level window, SDL events turned into window messages, message
// boxes through SDL, file dialogs through zenity when it is installed.
#include <SDL.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host.h"

namespace orvane::host {
namespace {

SDL_Window* g_window = nullptr;  // the one real window
HWND g_hwnd = nullptr;           // the window it shows
DWORD g_thread = 0;              // the thread that made it; only it polls SDL's events
Uint32 g_buttons = 0;            // mouse buttons held (MK_ bits)

bool SdlInit() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  return SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
}

void SdlQuit() {
  SDL_Quit();
}

bool SdlCreate(HWND hwnd, const char* title, int x, int y, int w, int h, bool visible) {
  if (g_window) return false;
  Uint32 flags = visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
  g_window = SDL_CreateWindow(title, x, y, w > 0 ? w : 1, h > 0 ? h : 1, flags);
  if (!g_window) return false;
  g_hwnd = hwnd;
  g_thread = GetCurrentThreadId();
  return true;
}

void SdlDestroy(HWND hwnd) {
  if (hwnd != g_hwnd || !g_window) return;
  SDL_DestroyWindow(g_window);
  g_window = nullptr;
  g_hwnd = nullptr;
}

void SdlTitle(HWND hwnd, const char* title) {
  if (hwnd == g_hwnd && g_window) SDL_SetWindowTitle(g_window, title);
}

void SdlShow(HWND hwnd, bool visible) {
  if (hwnd != g_hwnd || !g_window) return;
  if (visible)
    SDL_ShowWindow(g_window);
  else
    SDL_HideWindow(g_window);
}

void SdlRect(HWND hwnd, int x, int y, int w, int h) {
  if (hwnd != g_hwnd || !g_window) return;
  int cx, cy, cw, ch;
  SDL_GetWindowPosition(g_window, &cx, &cy);
  SDL_GetWindowSize(g_window, &cw, &ch);
  if (cx != x || cy != y) SDL_SetWindowPosition(g_window, x, y);
  if ((cw != w || ch != h) && w > 0 && h > 0) SDL_SetWindowSize(g_window, w, h);
}

// SDL key codes to virtual-key codes; 0 for keys without one.
int VirtualKey(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return VK_F1 + (k - SDLK_F1);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (k - SDLK_KP_1);
  switch (k) {
    case SDLK_KP_0:
      return VK_NUMPAD0;
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
      return VK_MENU;
    case SDLK_PAUSE:
      return VK_PAUSE;
    case SDLK_CAPSLOCK:
      return VK_CAPITAL;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_PAGEUP:
      return VK_PRIOR;
    case SDLK_PAGEDOWN:
      return VK_NEXT;
    case SDLK_END:
      return VK_END;
    case SDLK_HOME:
      return VK_HOME;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_INSERT:
      return VK_INSERT;
    case SDLK_DELETE:
      return VK_DELETE;
    case SDLK_KP_MULTIPLY:
      return VK_MULTIPLY;
    case SDLK_KP_PLUS:
      return VK_ADD;
    case SDLK_KP_MINUS:
      return VK_SUBTRACT;
    case SDLK_KP_PERIOD:
      return VK_DECIMAL;
    case SDLK_KP_DIVIDE:
      return VK_DIVIDE;
    default:
      return 0;
  }
}

WPARAM MouseKeys() {
  WPARAM mk = g_buttons;
  SDL_Keymod mod = SDL_GetModState();
  if (mod & KMOD_SHIFT) mk |= MK_SHIFT;
  if (mod & KMOD_CTRL) mk |= MK_CONTROL;
  return mk;
}

void Translate(const SDL_Event& e) {
  HWND h = g_hwnd;
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
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          HostWindowResized(h, e.window.data1, e.window.data2);
          break;
        case SDL_WINDOWEVENT_EXPOSED:
          InvalidateRect(h, nullptr, FALSE);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          PostMessageA(h, WM_ACTIVATE, WA_ACTIVE, 0);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          PostMessageA(h, WM_ACTIVATE, WA_INACTIVE, 0);
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int vk = VirtualKey(e.key.keysym.sym);
      if (!vk) break;
      bool down = e.type == SDL_KEYDOWN;
      bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
      UINT msg = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
      // Repeat count 1, the scan code, the previous-state and transition bits.
      LPARAM lp = 1 | (static_cast<LPARAM>(e.key.keysym.scancode & 0xFF) << 16);
      if (e.key.repeat || !down) lp |= 1L << 30;
      if (!down) lp |= 1L << 31;
      PostMessageA(h, msg, static_cast<WPARAM>(vk), lp);
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
  if (!g_window || GetCurrentThreadId() != g_thread) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) Translate(e);
}

void SdlWait(int ms) {
  if (g_window && GetCurrentThreadId() == g_thread) {
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
  data.window = (owner && owner == g_hwnd) ? g_window : nullptr;
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
    h.OpenAudio = SdlOpenAudio;
    h.CloseAudio = SdlCloseAudio;
    return h;
  }();
  return hooks;
}

void* SdlNativeWindow(HWND hwnd) {
  return hwnd == g_hwnd ? g_window : nullptr;
}

}  // namespace orvane::host
