// Timed input for headless runs.
#include "api/input_script.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/ddatafile.h"
#include "base/dlogstream.h"
#include "platform/dinput.h"
#include "platform/host.h"
#include "platform/kernel.h"
#include "platform/mmsystem.h"
#include "platform/user.h"
#include "shell/cmainwindow.h"

namespace {

struct InputScriptState {
  std::vector<InputScriptEvent> events;
  size_t next = 0;
  bool started = false;
  uint32_t start_ms = 0;
  WPARAM buttons = 0;  // MK_ flags of the buttons the script holds down
  std::string file;    // the script's path, for messages
  std::string folder;  // the capture folder as a host path
};

InputScriptState& State() {
  static InputScriptState* state = new InputScriptState();
  return *state;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// A decimal number (with an optional '-' when negative is true) within [low, high]; no wrapping.
bool ParseNumber(const std::string& text, long long low, long long high, long long* out) {
  size_t i = 0;
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    i = 1;
  }
  if (i >= text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > (1LL << 32)) return false;  // already out of every range we accept
  }
  if (negative) value = -value;
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

// A DIK code: decimal or 0x hex, 1..255.
bool ParseDik(const std::string& text, uint8_t* out) {
  long long value = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 10) return false;
    for (size_t i = 2; i < text.size(); ++i) {
      char c = text[i];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
  } else if (!ParseNumber(text, 0, 1LL << 32, &value)) {
    return false;
  }
  if (value < 1 || value > 255) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

// One non-blank, non-comment line; false with the reason.
bool ParseLine(const std::vector<std::string>& f, InputScriptEvent* e, std::string* why) {
  long long ms = 0;
  if (!ParseNumber(f[0], 0, 0x7FFFFFFF, &ms)) {
    *why = "time must be milliseconds 0..2147483647";
    return false;
  }
  e->at_ms = static_cast<uint32_t>(ms);
  if (f.size() < 2) {
    *why = "missing event after the time";
    return false;
  }
  const std::string& word = f[1];
  auto coords = [&](size_t at) {
    long long x = 0, y = 0;
    if (f.size() != at + 2 || !ParseNumber(f[at], -32768, 32767, &x) ||
        !ParseNumber(f[at + 1], -32768, 32767, &y)) {
      *why = "expected client coordinates X Y (-32768..32767)";
      return false;
    }
    e->x = static_cast<int>(x);
    e->y = static_cast<int>(y);
    return true;
  };
  if (word == "close") {
    e->kind = InputScriptEvent::kClose;
    if (f.size() != 2) {
      *why = "\"close\" takes no arguments";
      return false;
    }
    return true;
  }
  if (word == "move") {
    e->kind = InputScriptEvent::kMove;
    return coords(2);
  }
  if (word == "press" || word == "release") {
    e->kind = word == "press" ? InputScriptEvent::kPress : InputScriptEvent::kRelease;
    if (f.size() < 3 || (f[2] != "left" && f[2] != "right" && f[2] != "middle")) {
      *why = "expected a button: left, right or middle";
      return false;
    }
    e->button = f[2] == "left"    ? InputScriptEvent::kLeft
                : f[2] == "right" ? InputScriptEvent::kRight
                                  : InputScriptEvent::kMiddle;
    return coords(3);
  }
  if (word == "key-down" || word == "key-up") {
    e->kind = word == "key-down" ? InputScriptEvent::kKeyDown : InputScriptEvent::kKeyUp;
    if (f.size() != 3 || !ParseDik(f[2], &e->dik)) {
      *why = "expected one DIK code 1..255";
      return false;
    }
    return true;
  }
  if (word == "capture") {
    e->kind = InputScriptEvent::kCapture;
    if (f.size() != 3) {
      *why = "expected one file name after \"capture\"";
      return false;
    }
    const std::string& name = f[2];
    // One plain name: nothing may be written outside the capture folder.
    if (name == "." || name == ".." || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
      *why = "a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")";
      return false;
    }
    e->name = name;
    return true;
  }
  if (word == "virtual-clock" || word == "capture-folder" || word == "trace-files") {
    *why = "\"" + word + "\" is a setting: written without a time";
    return false;
  }
  *why = "unknown event \"" + word + "\"";
  return false;
}

// A settings line (its first field is not a time); false with the reason. Lines that are not
// settings are left to ParseLine (handled = false).
bool ParseSetting(const std::vector<std::string>& f, int number, InputScript* script, bool* handled,
                  std::string* why) {
  *handled = true;
  if (f[0] == "virtual-clock" || f[0] == "trace-files") {
    if (f.size() != 1) *why = "\"" + f[0] + "\" takes no arguments";
    (f[0] == "virtual-clock" ? script->virtual_clock : script->trace_files) = true;
  } else if (f[0] == "capture-folder") {
    if (f.size() != 2) {
      *why = "expected one folder after \"capture-folder\"";
    } else if (script->capture_folder_line != 0) {
      *why = "the capture folder is already named on line " + std::to_string(script->capture_folder_line);
    } else {
      script->capture_folder = f[1];
      script->capture_folder_line = number;
    }
  } else {
    *handled = false;
  }
  return why->empty();
}

}  // namespace

bool ParseInputScript(const std::string& text, InputScript* script, std::string* error) {
  *script = InputScript();
  size_t pos = 0;
  int number = 0;
  uint32_t last_ms = 0;
  int first_capture = 0;
  auto fail = [&](int line, const std::string& why) {
    *error = "line " + std::to_string(line) + ": " + why;
    *script = InputScript();
    return false;
  };
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    std::string why;
    bool setting = false;
    if (!ParseSetting(fields, number, script, &setting, &why)) return fail(number, why);
    if (setting) continue;
    InputScriptEvent e;
    if (ParseLine(fields, &e, &why) && e.at_ms < last_ms) why = "time goes backwards";
    if (!why.empty()) return fail(number, why);
    e.line = number;
    if (e.kind == InputScriptEvent::kCapture && first_capture == 0) first_capture = number;
    last_ms = e.at_ms;
    script->events.push_back(e);
  }
  if (first_capture != 0 && script->capture_folder_line == 0)
    return fail(first_capture, "no \"capture-folder\" line names the folder for captures");
  return true;
}

bool ParseInputScript(const std::string& text, std::vector<InputScriptEvent>* events, std::string* error) {
  InputScript script;
  const bool ok = ParseInputScript(text, &script, error);
  *events = std::move(script.events);
  return ok;
}

namespace {

bool NextDue(DWORD* in_ms);
bool DeliverDue();

// One log line per file open: the name, where it was looked for, the result.
void TraceLine(const char* name, const std::string& where, const std::string& result) {
  const std::string line = std::string("[trace-files] \"") + name + "\" " + where + " " + result + "\n";
  DDebugLog() << line.c_str();
}

void TraceDiskOpen(const char* name, const char* host, DWORD error) {
  std::string result = "opened";
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    result = "not found";
  } else if (error != 0) {
    result = "error " + std::to_string(error);
  }
  TraceLine(name, std::string("\"") + host + "\"", result);
}

void TraceMemberOpen(const char* name, bool opened) {
  TraceLine(name, "archive", opened ? "opened" : "not found");
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool LoadInputScriptFromEnvironment() {
  InputScriptState& s = State();
  s = InputScriptState();
  orvane::kernel::SetFileOpenWatcher(nullptr);
  SetMemberOpenWatcher(nullptr);
  const char* path = std::getenv("ORVANE_INPUT_SCRIPT");
  if (path == nullptr || path[0] == '\0') return true;
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  if (file) text << file.rdbuf();
  if (!file || file.bad()) {
    std::fprintf(stderr, "ORVANE_INPUT_SCRIPT: %s: cannot read the file\n", path);
    return false;
  }
  std::string error;
  InputScript script;
  if (!ParseInputScript(text.str(), &script, &error)) {
    std::fprintf(stderr, "ORVANE_INPUT_SCRIPT: %s: %s\n", path, error.c_str());
    return false;
  }
  s.file = path;
  if (script.capture_folder_line != 0) {
    // A relative folder is taken beside the script, so a script and its captures move together.
    s.folder = script.capture_folder[0] == '/' ? script.capture_folder
                                               : FolderOf(s.file) + "/" + script.capture_folder;
    struct stat st;
    if (stat(s.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "ORVANE_INPUT_SCRIPT: %s: line %d: the capture folder \"%s\" is not a folder\n",
                   path, script.capture_folder_line, s.folder.c_str());
      s = InputScriptState();
      return false;
    }
    orvane::host::KeepPresentedPicture(true);
  }
  s.events = std::move(script.events);
  orvane::kernel::SetFileOpenWatcher(script.trace_files ? TraceDiskOpen : nullptr);
  SetMemberOpenWatcher(script.trace_files ? TraceMemberOpen : nullptr);
  if (script.virtual_clock) {
    // After the last line the window is asked to close (unless that line closes it already).
    if (s.events.empty() || s.events.back().kind != InputScriptEvent::kClose) {
      InputScriptEvent close;
      close.at_ms = s.events.empty() ? 0 : s.events.back().at_ms;
      s.events.push_back(close);
    }
    orvane::clock::UseVirtualClock(timeGetTime());
    orvane::clock::SetVirtualSchedule(NextDue, DeliverDue);
    orvane::clock::PaceVirtualPresents(true);
  }
  return true;
}

namespace {

void DeliverMouse(InputScriptState& s, const InputScriptEvent& e, HWND window) {
  POINT screen{e.x, e.y};
  ClientToScreen(window, &screen);
  orvane::host::HostCursorMoved(screen.x, screen.y);
  static constexpr WPARAM kBits[] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
  static constexpr UINT kDown[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
  static constexpr UINT kUp[] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP};
  UINT message = WM_MOUSEMOVE;
  if (e.kind == InputScriptEvent::kPress) {
    s.buttons |= kBits[e.button];
    message = kDown[e.button];
  } else if (e.kind == InputScriptEvent::kRelease) {
    s.buttons &= ~kBits[e.button];
    message = kUp[e.button];
  }
  PostMessageA(window, message, s.buttons, MAKELPARAM(e.x, e.y));
}

}  // namespace

namespace {

// Writes the last presented picture into the capture folder; a failure is reported on stderr
// and in the log, never dropped.
void Capture(const InputScriptState& s, const InputScriptEvent& e) {
  const std::string target = s.folder + "/" + e.name;
  std::string problem;
  if (!orvane::host::HasPresentedPicture()) {
    problem = "nothing presented yet; nothing written";
  } else if (!orvane::host::WriteCapture(target.c_str())) {
    problem = "cannot write \"" + target + "\"";
  }
  if (problem.empty()) return;
  char head[64];
  std::snprintf(head, sizeof head, ": line %d: capture \"", e.line);
  const std::string message = "ORVANE_INPUT_SCRIPT: " + s.file + head + e.name + "\": " + problem + "\n";
  std::fputs(message.c_str(), stderr);
  DDebugLog() << message.c_str();
}

// When the next event is due on the virtual clock, counted from now (0: due already).
// A wait can come before the machine's first pump (a script that waits at once): the script's
// time then starts at the first wait once the main window exists.
bool NextDue(DWORD* in_ms) {
  InputScriptState& s = State();
  if (s.next >= s.events.size()) return false;
  if (!s.started) {
    if (!MainWindow().GetHandle()) return false;
    s.started = true;
    s.start_ms = timeGetTime();
  }
  const uint32_t due = s.start_ms + s.events[s.next].at_ms;
  const int32_t ahead = static_cast<int32_t>(due - timeGetTime());
  *in_ms = ahead > 0 ? static_cast<DWORD>(ahead) : 0;
  return true;
}

bool DeliverDue() {
  return PollInputScript();
}

}  // namespace

bool PollInputScript() {
  InputScriptState& s = State();
  if (s.next >= s.events.size()) return false;
  const uint32_t now = timeGetTime();
  if (!s.started) {
    s.started = true;
    s.start_ms = now;
  }
  bool input = false;
  while (s.next < s.events.size() && now - s.start_ms >= s.events[s.next].at_ms) {
    const InputScriptEvent& e = s.events[s.next++];
    HWND window = MainWindow().GetHandle();
    input = input || e.kind != InputScriptEvent::kCapture;
    switch (e.kind) {
      case InputScriptEvent::kClose:
        if (window) PostMessageA(window, WM_CLOSE, 0, 0);
        break;
      case InputScriptEvent::kMove:
      case InputScriptEvent::kPress:
      case InputScriptEvent::kRelease:
        if (window) DeliverMouse(s, e, window);
        break;
      case InputScriptEvent::kKeyDown:
      case InputScriptEvent::kKeyUp:
        orvane::dinput::HubKey(e.dik, e.kind == InputScriptEvent::kKeyDown);
        break;
      case InputScriptEvent::kCapture:
        Capture(s, e);
        break;
    }
  }
  return input;
}
