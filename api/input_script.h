// Timed input for headless runs: the file named by ORVANE_INPUT_SCRIPT lists what a user would
// do and when (mouse moves and presses, keys, the close button), so a run plays by itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InputScriptEvent {
  enum Kind { kClose, kMove, kPress, kRelease, kKeyDown, kKeyUp, kCapture };
  enum Button { kLeft, kRight, kMiddle };
  uint32_t at_ms = 0;  // milliseconds after the script's time started (the first poll or wait)
  Kind kind = kClose;
  Button button = kLeft;  // kPress, kRelease
  int x = 0, y = 0;       // client coordinates: kMove, kPress, kRelease
  uint8_t dik = 0;        // kKeyDown, kKeyUp: DirectInput key code 1..255
  std::string name;       // kCapture: a plain file name in the capture folder
  int line = 0;           // the line it came from (0: the close after the last line)
};

// A whole file: the timed events and the settings lines.
struct InputScript {
  std::vector<InputScriptEvent> events;
  bool virtual_clock = false;   // "virtual-clock"
  bool trace_files = false;     // "trace-files"
  std::string capture_folder;   // "capture-folder DIR", as written
  int capture_folder_line = 0;  // its line, 0 without one
};

// Parses the text form, one event or setting per line (blank lines and lines starting with '#'
// skipped):
//   <ms> close | <ms> move X Y | <ms> press|release left|right|middle X Y | <ms> key-down|key-up DIK
//   <ms> capture NAME | virtual-clock | capture-folder DIR | trace-files
// Times are 0..2^31-1 and never go backwards. False with a reason ("line N: ...") on the first
// bad line, and no events.
bool ParseInputScript(const std::string& text, InputScript* script, std::string* error);
bool ParseInputScript(const std::string& text, std::vector<InputScriptEvent>* events, std::string* error);

// Reads ORVANE_INPUT_SCRIPT when it is set. A file that cannot be read or has a bad line is
// reported on stderr with the file and line, and the result is false: the run must not start.
// Called once at start-up.
bool LoadInputScriptFromEnvironment();
// With "trace-files" every file open (disk files by their cp932 name and host path, archive
// members by name) gets one log line with its result.
// With "virtual-clock" the platform's clock becomes the virtual one (this thread drives it), its
// waits stop at the script's events, presents are paced, and after the last line the window is
// asked to close.
// Delivers every event that is due (by the multimedia clock): mouse input as the main window's
// messages, keys through the input hub, close as the window's close request, captures of the
// last presented picture. True when one of them was user input. Cheap when there is nothing left.
bool PollInputScript();
