// The host choice, the defaults of hooks a host leaves out, the trace, scripted answers and the
// cp932 <-> UTF-8 conversion of texts at the host boundary.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/cp932.h"
#include "platform/host.h"

namespace orvane::host {
namespace {

// The SDL host's module, beside this library: its table, or null with the reason in *why.
const HostHooks* LoadSdlModule(std::string* why) {
  static std::string failure;
  static const HostHooks* const hooks = []() -> const HostHooks* {
    Dl_info self{};
    std::string dir;
    if (dladdr(reinterpret_cast<void*>(&LoadSdlModule), &self) && self.dli_fname) {
      dir = self.dli_fname;
      size_t slash = dir.rfind('/');
      dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    }
    std::string path = dir + "libplatform_sdl.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      const char* error = dlerror();
      failure = error ? error : path;
      return nullptr;
    }
    using Entry = const HostHooks* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, "OrvaneSdlHostHooks"));
    if (!entry) {
      failure = path + ": no host entry";
      return nullptr;
    }
    return entry();  // the module stays loaded for the rest of the run
  }();
  if (!hooks && why) *why = failure;
  return hooks;
}

const HostHooks& SdlModuleHost() {
  static const HostHooks missing{};  // name null: FindHost reports the module missing
  const HostHooks* hooks = LoadSdlModule(nullptr);
  return hooks ? *hooks : missing;
}

struct HostEntry {
  const char* name;
  const HostHooks& (*make)();
};
const HostEntry kHosts[] = {{"headless", HeadlessHost}, {"sdl", SdlModuleHost}};

bool NoInit() {
  return true;
}
void Nothing() {}
bool NoWindow(HWND, const char*, int, int, int, int, bool) {
  return false;
}
void NoWindowOp(HWND) {}
void NoTitle(HWND, const char*) {}
void NoShow(HWND, bool) {}
void NoRect(HWND, int, int, int, int) {}
void SleepWait(int ms) {
  usleep(static_cast<useconds_t>(ms > 0 ? ms : 0) * 1000);
}
void DefaultScreen(int* w, int* h) {
  *w = 1024;
  *h = 768;
}
int NoMessageBox(HWND, const char*, const char*, UINT) {
  return 0;
}
bool CancelFileDialog(bool, const char*, std::string*) {
  return false;
}
void NoBeep(UINT) {}
void* NoNativeWindow(HWND) {
  return nullptr;
}
void NoPresent(HWND, const std::uint32_t*, int, int, int, const RECT&) {}
int DefaultDepth() {
  return 32;
}
void TraceFullscreen(HWND hwnd, bool on, int w, int h) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "fullscreen %p %d %dx%d", static_cast<void*>(hwnd), on ? 1 : 0, w, h);
  RecordTrace(buf);
}
void NoCapture(HWND, bool) {}
void NoCursor(bool) {}
void NoWarp(HWND, int, int) {}
bool NoAudio(unsigned*, void (*)(std::int16_t*, unsigned)) {
  return false;
}

// A copy of the host's table with every missing hook given its default.
HostHooks WithDefaults(const HostHooks& h) {
  HostHooks r = h;
  if (!r.Init) r.Init = NoInit;
  if (!r.Quit) r.Quit = Nothing;
  if (!r.CreateWindow) r.CreateWindow = NoWindow;
  if (!r.DestroyWindow) r.DestroyWindow = NoWindowOp;
  if (!r.SetTitle) r.SetTitle = NoTitle;
  if (!r.Show) r.Show = NoShow;
  if (!r.SetClientRect) r.SetClientRect = NoRect;
  if (!r.PollEvents) r.PollEvents = Nothing;
  if (!r.WaitEvents) r.WaitEvents = SleepWait;
  if (!r.ScreenSize) r.ScreenSize = DefaultScreen;
  if (!r.MessageBox) r.MessageBox = NoMessageBox;
  if (!r.FileDialog) r.FileDialog = CancelFileDialog;
  if (!r.Beep) r.Beep = NoBeep;
  if (!r.NativeWindow) r.NativeWindow = NoNativeWindow;
  if (!r.PresentSurface) r.PresentSurface = NoPresent;
  if (!r.DesktopDepth) r.DesktopDepth = DefaultDepth;
  if (!r.SetFullscreen) r.SetFullscreen = TraceFullscreen;
  if (!r.CaptureMouse) r.CaptureMouse = NoCapture;
  if (!r.ShowCursor) r.ShowCursor = NoCursor;
  if (!r.WarpCursor) r.WarpCursor = NoWarp;
  if (!r.OpenAudio) r.OpenAudio = NoAudio;
  if (!r.CloseAudio) r.CloseAudio = Nothing;
  return r;
}

[[noreturn]] void Fail(const char* why, const char* name) {
  std::fprintf(stderr, "orvane: %s '%s' (ORVANE_BACKEND is headless or sdl)\n", why, name);
  std::exit(2);
}

const HostHooks& Choose() {
  static const HostHooks chosen = [] {
    const char* env = std::getenv("ORVANE_BACKEND");
    bool explicit_choice = env && *env;
    const char* name = explicit_choice ? env : nullptr;
    if (!name) {
      const char* x = std::getenv("DISPLAY");
      const char* w = std::getenv("WAYLAND_DISPLAY");
      name = ((x && *x) || (w && *w)) ? "sdl" : "headless";
    }
    const HostHooks* h = FindHost(name);
    if (!h && std::strcmp(name, "sdl") == 0) {
      // The SDL host's module is missing or broken.
      std::string why;
      LoadSdlModule(&why);
      if (explicit_choice) Fail(("cannot load the host module (" + why + ") of host").c_str(), name);
      std::fprintf(stderr, "orvane: cannot load the SDL host module (%s), running headless\n", why.c_str());
      h = &HeadlessHost();
    }
    if (!h) Fail("unknown host", name);
    HostHooks r = WithDefaults(*h);
    if (!r.Init()) {
      if (explicit_choice) Fail("cannot start host", name);
      std::fprintf(stderr, "orvane: cannot start host '%s', running headless\n", name);
      r = WithDefaults(HeadlessHost());
      r.Init();
    }
    return r;
  }();
  return chosen;
}

std::mutex g_lock;
// The objects below are made on first use and never destroyed: a run that never needs them never
// touches them (nor their pages at start and exit), and code running during exit still finds them.
std::vector<std::string>& Trace() {
  static auto* made = new std::vector<std::string>;
  return *made;
}
std::deque<int>& BoxAnswers() {
  static auto* made = new std::deque<int>;
  return *made;
}
std::deque<std::string>& FileAnswers() {
  static auto* made = new std::deque<std::string>;
  return *made;
}

}  // namespace

const HostHooks* FindHost(const char* name) {
  if (!name) return nullptr;
  for (const auto& e : kHosts) {
    if (std::strcmp(e.name, name) != 0) continue;
    const HostHooks& h = e.make();
    return h.name ? &h : nullptr;
  }
  return nullptr;
}

const HostHooks& Current() {
  return Choose();
}
const char* CurrentName() {
  return Choose().name;
}

int DefaultButton(UINT type) {
  static const int kButtons[][3] = {
      {IDOK, 0, 0},     {IDOK, IDCANCEL, 0},    {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL},
      {IDYES, IDNO, 0}, {IDRETRY, IDCANCEL, 0},
  };
  UINT kind = type & MB_TYPEMASK;
  if (kind > 5) kind = 0;
  UINT def = (type & MB_DEFMASK) >> 8;
  if (def > 2 || kButtons[kind][def] == 0) def = 0;
  return kButtons[kind][def];
}

std::vector<std::string> TakeTrace() {
  std::lock_guard<std::mutex> l(g_lock);
  std::vector<std::string> r;
  r.swap(Trace());
  return r;
}

void RecordTrace(const std::string& line) {
  std::lock_guard<std::mutex> l(g_lock);
  // A test that never reads the trace must not grow it without bound.
  std::vector<std::string>& trace = Trace();
  if (trace.size() >= 100000) trace.erase(trace.begin(), trace.begin() + 50000);
  trace.push_back(line);
}

void PushMessageBoxAnswer(int id) {
  std::lock_guard<std::mutex> l(g_lock);
  BoxAnswers().push_back(id);
}

void PushFileDialogAnswer(const std::string& path) {
  std::lock_guard<std::mutex> l(g_lock);
  FileAnswers().push_back(path);
}

void ResetHeadless() {
  std::lock_guard<std::mutex> l(g_lock);
  Trace().clear();
  BoxAnswers().clear();
  FileAnswers().clear();
}

// Scripted answers, for the headless host.
bool TakeMessageBoxAnswer(int* id) {
  std::lock_guard<std::mutex> l(g_lock);
  if (BoxAnswers().empty()) return false;
  *id = BoxAnswers().front();
  BoxAnswers().pop_front();
  return true;
}

bool TakeFileDialogAnswer(std::string* path) {
  std::lock_guard<std::mutex> l(g_lock);
  if (FileAnswers().empty()) return false;
  *path = FileAnswers().front();
  FileAnswers().pop_front();
  return true;
}

bool Inject(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return PostMessageA(hwnd, message, wparam, lparam) != FALSE;
}

void* NativeWindow(HWND hwnd) {
  return Current().NativeWindow(hwnd);
}

std::string Cp932ToUtf8(const std::string& text) {
  std::string out;
  cp932::ToUtf8(text, &out, true);
  return out;
}
std::string Utf8ToCp932(const std::string& text) {
  std::string out;
  cp932::FromUtf8(text, &out, true);
  return out;
}

}  // namespace orvane::host
