// Scenario files, the scenario object and the runner that executes their lines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dreflist.h"

// Size of path, name and target texts (263 characters and the NUL).
inline constexpr size_t kPathSize = 264;
// Size of a scenario's result code.
inline constexpr size_t kResultSize = 256;

// The lines of one scenario file and a position in them, with the requests that commands leave
// for the runner and for whoever runs the scenario.
class DScenario {
 public:
  DScenario();
  DScenario(const DScenario&) = delete;
  DScenario& operator=(const DScenario&) = delete;

  // Back to the empty object: no file, no lines, line 0, every request and text cleared.
  void Reset();
  // Current line = the first (the end for a file without lines), line 1.
  void Rewind();
  // Moves to the following line unless at the end.
  void Next();
  // True when no file is loaded or the position is past the last line.
  bool AtEnd() const;
  // The current line with its leading blanks skipped ("" at the end). Valid until the lines change.
  const char* CurrentLine() const;
  // A shared handle on the current line's text (empty at the end).
  DRef<char> CurrentValue() const;
  // SplitTarget with the default file, then JumpToLabel with "file:label".
  void JumpTo(const char* target, const char* default_file);

  // Splits a target "file:label": the label after the last colon, the file between the colon
  // before it (or the start) and the last colon; no colon: all label. Parts are cut to their
  // buffers; an empty file part becomes the default file when one is given.
  static void SplitTarget(const char* target, char* file, size_t file_capacity, char* label,
                          size_t label_capacity, const char* default_file);
  // Clears the current scenario's right-click request and link target.
  static void ClearLinkRequest();

  char name[kPathSize];         // path of the loaded file; "" when none
  int32_t line;                 // current line number from 1; 0 before a file is loaded
  char result[kResultSize];     // result code, set by @exit
  bool exit_request;            // set by @exit and commands that end the scenario
  bool return_request;          // set by @return
  char jump_target[kPathSize];  // pending jump
  bool right_click_allowed;     // the message output accepts a right click as a choice
  bool right_click_request;     // a right click arrived while allowed
  char link_target[kPathSize];  // target of the text link the player clicked

 private:
  friend void LoadScenarioFile(DScenario& scenario, const char* name);

  mutable DRefList<char> lines_;      // the file's lines, comment lines stored empty
  DRefList<char>::Iterator current_;  // current line; empty when no file is loaded
};

// The innermost running scenario; null outside every run.
DScenario* CurrentScenario();

// Makes a scenario the current one for the scope's life and puts the previous one back at its end,
// also when an error unwinds it. RunScenario holds one for its run.
class CurrentScenarioScope {
 public:
  explicit CurrentScenarioScope(DScenario* scenario);
  ~CurrentScenarioScope();
  CurrentScenarioScope(const CurrentScenarioScope&) = delete;
  CurrentScenarioScope& operator=(const CurrentScenarioScope&) = delete;

 private:
  DScenario* previous_;
};

// The folder of the chapter being played (263 characters and the NUL).
const char* ChapterFolder();
void SetChapterFolder(const char* folder);

// Reads the file chapter folder/name.scn into the scenario and rewinds it; stops the play with
// "ファイル \"%s\" が開けません。" when it cannot be opened.
void LoadScenarioFile(DScenario& scenario, const char* name);
// Moves to a target: a file part loads that file, a label part finds the first label line of
// that name; stops the play with "ジャンプ先ラベル \"%s\" が見つかりません。" when there is none.
void JumpToLabel(DScenario& scenario, const char* target);
// Runs the scenario from its current line until its end, an exit request or a return request.
// Kind 0 is a normal scenario, 1 a cross-examination sub-scenario.
void RunScenario(DScenario& scenario, int32_t kind);

// Forgets the current scenario and the chapter folder; at each start of the game.
void ResetScenarioGlobals();
