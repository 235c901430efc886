// The game itself: the title menu, the chapter-selection scenario, the chapters and their
// closing scenes, and the clear count kept in the save file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/choice.h"

// The title menu's choices.
inline constexpr int32_t kTitleWaiting = 0, kTitleBegin = 1, kTitleLoad = 2, kTitleExit = 3;

// The game entry that start's guards wrap: mounts "derora.dat" when it exists, starts the stage,
// shows the logo and loops over the title menu until the game exception ends it.
void GameMain();

// Shows the title menu (begin, load when the save holds a chapter, exit) and returns the choice.
int32_t TitleMenu();
// The title's click callback: a button named "begin", "load" or "exit" (ASCII case ignored)
// becomes the title choice; any other event is not taken.
bool TitleClick(const ButtonEvent& event);
// The current title choice (kTitleWaiting while the menu waits).
int32_t TitleChoice();

// Plays a scenario of the folder from the target (from the save's pt_scn and pt_target when
// from_save) and copies its result code into the buffer: at most capacity - 1 bytes, cut at a
// character boundary, then the NUL. No copy for a null buffer or capacity 0.
void StartPlay(const char* folder, const char* target, bool from_save, char* result, size_t capacity);
// Plays a chapter from "start:" and the closing scene its result code asks for.
void PlayChapter(const char* folder, bool from_save);

// The save file's "clear" (section "save"), 0 when absent.
int32_t ReadClearCount();
// Writes n as "clear" only when it is larger than the stored count; false when that write failed.
bool WriteClearCount(int32_t n);
// The count written after a chapter cleared with number n: n + 1, held at the 32-bit maximum.
int32_t NextClearCount(int32_t n);
