// Timed input for headless runs.
#include "api/input_script.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/dinput.h"
#include "platform/host.h"
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
  *why = "unknown event \"" + word + "\"";
  return false;
}

}  // namespace

bool ParseInputScript(const std::string& text, std::vector<InputScriptEvent>* events, std::string* error) {
  events->clear();
  size_t pos = 0;
  int number = 0;
  uint32_t last_ms = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    InputScriptEvent e;
    std::string why;
    if (ParseLine(fields, &e, &why) && e.at_ms < last_ms) why = "time goes backwards";
    if (!why.empty()) {
      *error = "line " + std::to_string(number) + ": " + why;
      events->clear();
      return false;
    }
    last_ms = e.at_ms;
    events->push_back(e);
  }
  return true;
}

bool LoadInputScriptFromEnvironment() {
  InputScriptState& s = State();
  s = InputScriptState();
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
  if (!ParseInputScript(text.str(), &s.events, &error)) {
    std::fprintf(stderr, "ORVANE_INPUT_SCRIPT: %s: %s\n", path, error.c_str());
    return false;
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
    HWND window = MainWindow().GetHandle();
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
    }
  }
}
