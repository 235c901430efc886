// The save file beside the engine program, and the save command.
#pragma once

#include <cstddef>

#include "platform/user.h"

// The save file's path: the running program's folder joined with "derora.sav" (out holds 264
// bytes).
void SaveFilePath(char* out);
// Tests point the save at a folder of their own; null goes back to the program's folder.
void SetSaveFolderForTests(const char* folder);

// The profile write the save goes through; tests replace it to make a write fail.
using ProfileWriter = BOOL (*)(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);
void SetSaveProfileWriterForTests(ProfileWriter writer);

// Writes pt_item: "%d " for each owned item in ascending order, empty when none. False when the
// write failed.
bool WriteSaveItems(const char* path);
// Writes pt_life ("%d") and pt_nolife. False when a write failed.
bool WriteSaveLife(const char* path);

// The save command: asks the player on the layer "def" and, on "yes", writes the five keys.
void saveGame(const char* target);

// Makes a text layer the half-transparent full window of the save prompt and the in-game menu.
void SetUpFullWindowLayer(const char* layer);
