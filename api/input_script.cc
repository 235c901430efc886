// Timed messages for headless runs.
#include "api/input_script.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/mmsystem.h"
#include "platform/user.h"
#include "shell/cmainwindow.h"

namespace {

struct InputScriptState {
  std::vector<InputScriptEvent> events;
  size_t next = 0;
  bool started = false;
  uint32_t start_ms = 0;
};

InputScriptState& State() {
  static InputScriptState* state = new InputScriptState();
  return *state;
}

}  // namespace

bool ParseInputScript(const std::string& text, std::vector<InputScriptEvent>* events, std::string* error) {
  events->clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream fields(line);
    long long ms = -1;
    std::string what, extra;
    if (!(fields >> ms) || ms < 0 || ms > 0xFFFFFFFFLL || !(fields >> what) || (fields >> extra) ||
        what != "close") {
      *error = "line " + std::to_string(number) + ": expected \"<ms> close\": " + line;
      events->clear();
      return false;
    }
    events->push_back({static_cast<uint32_t>(ms), InputScriptEvent::kClose});
  }
  return true;
}

void LoadInputScriptFromEnvironment() {
  InputScriptState& s = State();
  s = InputScriptState();
  const char* path = std::getenv("ORVANE_INPUT_SCRIPT");
  if (path == nullptr || path[0] == '\0') return;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "ORVANE_INPUT_SCRIPT: cannot read %s\n", path);
    return;
  }
  std::stringstream text;
  text << file.rdbuf();
  std::string error;
  if (!ParseInputScript(text.str(), &s.events, &error))
    std::fprintf(stderr, "ORVANE_INPUT_SCRIPT: %s: %s\n", path, error.c_str());
}

void PollInputScript() {
  InputScriptState& s = State();
  if (s.next >= s.events.size()) return;
  const uint32_t now = timeGetTime();
  if (!s.started) {
    s.started = true;
    s.start_ms = now;
  }
  while (s.next < s.events.size() && now - s.start_ms >= s.events[s.next].at_ms) {
    const InputScriptEvent& e = s.events[s.next++];
    if (e.kind == InputScriptEvent::kClose) {
      if (HWND window = MainWindow().GetHandle()) PostMessageA(window, WM_CLOSE, 0, 0);
    }
  }
}
