// Timed input for headless runs: the file named by ORVANE_INPUT_SCRIPT lists what a user would
// do and when (mouse moves and presses, keys, the close button), so a run plays by itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InputScriptEvent {
  enum Kind { kClose, kMove, kPress, kRelease, kKeyDown, kKeyUp };
  enum Button { kLeft, kRight, kMiddle };
  uint32_t at_ms = 0;  // milliseconds after the first poll
  Kind kind = kClose;
  Button button = kLeft;  // kPress, kRelease
  int x = 0, y = 0;       // client coordinates: kMove, kPress, kRelease
  uint8_t dik = 0;        // kKeyDown, kKeyUp: DirectInput key code 1..255
};

// Parses the text form, one event per line (blank lines and lines starting with '#' skipped):
//   <ms> close | <ms> move X Y | <ms> press|release left|right|middle X Y | <ms> key-down|key-up DIK
// Times are 0..2^31-1 and never go backwards. False with a reason ("line N: ...") on the first
// bad line, and no events.
bool ParseInputScript(const std::string& text, std::vector<InputScriptEvent>* events, std::string* error);

// Reads ORVANE_INPUT_SCRIPT when it is set. A file that cannot be read or has a bad line is
// reported on stderr with the file and line, and the result is false: the run must not start.
// Called once at start-up.
bool LoadInputScriptFromEnvironment();
// Delivers every event that is due (by the multimedia clock): mouse input as the main window's
// messages, keys through the input hub, close as the window's close request. Cheap when there is
// nothing left.
void PollInputScript();
