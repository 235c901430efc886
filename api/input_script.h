// Timed messages for headless runs: the file named by ORVANE_INPUT_SCRIPT lists what a user would
// do and when, so a run that waits for its window to be closed ends by itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InputScriptEvent {
  uint32_t at_ms;  // milliseconds after the first poll
  enum Kind { kClose } kind;
};

// Parses the text form: one event per line, "<ms> close"; blank lines and lines starting with '#'
// are skipped. False with a reason (line number and text) on the first bad line.
bool ParseInputScript(const std::string& text, std::vector<InputScriptEvent>* events, std::string* error);

// Reads ORVANE_INPUT_SCRIPT when it is set; a file that cannot be read or parsed is reported on
// stderr and gives no events. Called once at start-up.
void LoadInputScriptFromEnvironment();
// Delivers every event that is due (by the multimedia clock) to the main window. Cheap when
// there is nothing left.
void PollInputScript();
