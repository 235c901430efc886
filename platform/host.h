// Hosts of the user layer: the one table of hooks a host fills, the host choice, and what the
// headless host keeps for tests (message-box answers, injected input, a trace of what happened).
//
// The window manager (platform/user_*.cc) checks handles and keeps every window's state; a host
// only shows what the window manager decides and turns its own events into posted messages.
// ORVANE_BACKEND=headless|sdl chooses the host (default sdl when DISPLAY or WAYLAND_DISPLAY is
// set, else headless); an unknown name is reported on stderr and the process ends with status 2.
// The SDL host is a module of its own that only an sdl run loads; when it is missing or cannot
// start, a default choice falls back to headless with one line on stderr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/user.h"

#define ORVANE_HOST_API __attribute__((visibility("default")))

namespace orvane::host {

// The hooks of one host, grouped by concern. A hook left null gets the default named beside it.
struct HostHooks {
  const char* name;

  // -- Life: Init prepares the host (false: the host cannot run); Quit undoes it. Default: nothing.
  bool (*Init)();
  void (*Quit)();

  // -- Top-level windows. CreateWindow gives the host's window for a new top-level window with a
  // client area of w x h (false: the window exists only in the window manager). Default: false.
  bool (*CreateWindow)(HWND hwnd, const char* title_utf8, int x, int y, int w, int h, bool visible);
  // The following act on a window CreateWindow accepted. Default: nothing.
  void (*DestroyWindow)(HWND hwnd);
  void (*SetTitle)(HWND hwnd, const char* title_utf8);
  void (*Show)(HWND hwnd, bool visible);
  void (*SetClientRect)(HWND hwnd, int x, int y, int w, int h);

  // -- Events: PollEvents turns every waiting host event into posted messages (called by the
  // queue before it looks for messages, on the thread that made the host's window); WaitEvents
  // waits at most ms milliseconds for a host event. Defaults: nothing, and a plain sleep.
  void (*PollEvents)();
  void (*WaitEvents)(int ms);

  // -- The screen's size in pixels. Default: 1024 x 768.
  void (*ScreenSize)(int* w, int* h);

  // -- User interaction. MessageBox shows a box (UTF-8 text) and gives the button id, 0 when it
  // cannot. FileDialog asks for a file and gives its UTF-8 host path, or false for a cancel.
  // Beep makes the sound of a message-box type. Defaults: 0, cancel, nothing.
  int (*MessageBox)(HWND owner, const char* text_utf8, const char* caption_utf8, UINT type);
  bool (*FileDialog)(bool save, const char* initial_utf8, std::string* chosen_utf8);
  void (*Beep)(UINT type);

  // -- The host's own window of a top-level window (SDL_Window* for sdl), for tests of a real
  // host. Default: null.
  void* (*NativeWindow)(HWND hwnd);
  // -- Pictures. PresentSurface shows the dirty part (client coordinates) of a top-level window's
  // client surface: pixels 0x00RRGGBB, top-down, pitch in bytes. Default: nothing.
  void (*PresentSurface)(HWND hwnd, const std::uint32_t* pixels, int w, int h, int pitch, const RECT& dirty);
  // -- Display. DesktopDepth gives the desktop's bits per pixel (16, 24 or 32). Default: 32.
  // SetFullscreen shows hwnd's top-level window over the whole screen with its client surface
  // scaled from a w x h picture (on), or back as a window (off). Default: nothing.
  int (*DesktopDepth)();
  void (*SetFullscreen)(HWND hwnd, bool on, int w, int h);
  // -- Mouse capture and the cursor. CaptureMouse keeps the host's mouse events coming to the
  // window also from outside it (on) or stops that (off); ShowCursor shows or hides the host's
  // cursor over the program's windows. Defaults: nothing.
  void (*CaptureMouse)(HWND hwnd, bool on);
  void (*ShowCursor)(bool visible);
  // WarpCursor moves the host's cursor to a client position (x, y) of a top-level window.
  // Default: nothing.
  void (*WarpCursor)(HWND hwnd, int x, int y);
  // -- Audio output. OpenAudio opens the host's sound device for 16-bit stereo frames, stores
  // its rate and then calls render from its own thread for every block it plays; false when no
  // device opens. CloseAudio stops it: render is not called once it returns. Defaults: false,
  // nothing.
  bool (*OpenAudio)(unsigned* rate, void (*render)(std::int16_t* out, unsigned frames));
  void (*CloseAudio)();
};

// The running host's hooks (defaults filled in), chosen on first use.
ORVANE_HOST_API const HostHooks& Current();
// The host of that name, or null for an unknown name.
ORVANE_HOST_API const HostHooks* FindHost(const char* name);
// The running host's name: "headless" or "sdl".
ORVANE_HOST_API const char* CurrentName();

// The default button of a message-box type (IDOK for MB_OK, IDYES for MB_YESNO, the second
// button with MB_DEFBUTTON2 ...): what a box answers when nobody chooses.
ORVANE_HOST_API int DefaultButton(UINT type);

// ---- What happened, recorded on every host: one line per host-visible event, such as
// "create 0x1 'title' 640x480", "show 0x1 1", "title 0x1 'text'", "messagebox 'caption' 'text' 16",
// "beep 16", "filedialog open" (text in cp932 bytes as given).
ORVANE_HOST_API std::vector<std::string> TakeTrace();
// With on, every message that reaches a window procedure through SendMessageA or
// DispatchMessageA is recorded too, as "msg 0x1 0x81" (window, message).
ORVANE_HOST_API void TraceMessages(bool on);
ORVANE_HOST_API void RecordTrace(const std::string& line);

// ---- Headless host scripting.
// Answers for the next message boxes, in order; without one a box gives its default button.
ORVANE_HOST_API void PushMessageBoxAnswer(int id);
// Answers for the next file dialogs: a cp932 path, or an empty string for a cancel. Without one,
// a file dialog is cancelled.
ORVANE_HOST_API void PushFileDialogAnswer(const std::string& path);
// Posts a message to the window's queue as the host does with its input (a NULL window posts to
// the calling thread's queue).
ORVANE_HOST_API bool Inject(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Forgets every scripted answer and the trace.
ORVANE_HOST_API void ResetHeadless();
// While ORVANE_CAPTURE names a file, the headless host keeps the last picture presented (the whole
// client surface of the window presented last) and writes it there at exit. This writes that
// picture now as binary PPM (P6); false when nothing was presented or the file fails.
ORVANE_HOST_API bool WriteCapture(const char* path);
// The headless host keeps the last picture presented also while on (the input script's captures);
// switching it on forgets a picture kept before.
ORVANE_HOST_API void KeepPresentedPicture(bool on);
// Whether a picture is kept.
ORVANE_HOST_API bool HasPresentedPicture();

// The host window of a top-level window, for tests of a real host (SDL_Window*), else null.
ORVANE_HOST_API void* NativeWindow(HWND hwnd);

// ---- For the hosts: the window manager's side. The user moved or resized a top-level window's
// host window (client-area position and size); the window manager updates its rectangle and
// sends WM_MOVE / WM_SIZE.
ORVANE_HOST_API void HostWindowMoved(HWND hwnd, int x, int y);
ORVANE_HOST_API void HostWindowResized(HWND hwnd, int w, int h);
// The mouse moved to this screen position (GetMessagePos reports it).
ORVANE_HOST_API void HostCursorMoved(int x, int y);
// The host's keyboard focus came to (gained) or left the top-level window: the window manager
// activates it (WM_ACTIVATEAPP, WM_ACTIVATE, WM_SETFOCUS) or deactivates the application
// (WM_CANCELMODE to a capture, WM_ACTIVATE, WM_ACTIVATEAPP, WM_KILLFOCUS). Tests call it to
// stand for a host.
ORVANE_HOST_API void HostFocusChanged(HWND hwnd, bool gained);
// The next scripted answers of the headless host; false when none is left.
ORVANE_HOST_API bool TakeMessageBoxAnswer(int* id);
ORVANE_HOST_API bool TakeFileDialogAnswer(std::string* path);
// cp932 <-> UTF-8 at the host boundary (unconvertible bytes become '?').
ORVANE_HOST_API std::string Cp932ToUtf8(const std::string& text);
ORVANE_HOST_API std::string Utf8ToCp932(const std::string& text);

// The headless host's table. The SDL host lives in its own module, libplatform_sdl.so beside
// libplatform.so, loaded when that host is chosen; its entry OrvaneSdlHostHooks gives its table.
const HostHooks& HeadlessHost();

}  // namespace orvane::host
