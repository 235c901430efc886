// The engine main: start-up of every unit in order, the script's run, and shutdown; the choice
// and loading of the script image; the single-instance guard.
#pragma once

#include <cstdint>
#include <vector>

#include "base/ddatafile.h"
#include "base/dref.h"

// Largest script image read from a file; a file that reports more is unreadable.
inline constexpr uint64_t kMaxScriptImageFileSize = 256u << 20;

// Start-up, the script's run, shutdown; always 0 (the process exit code).
int EngineMain();
// Starts the units in order; false at the first failing unit whose failure stops start-up.
bool InitUnits();
// Chooses the script image (appended to the program, the first argument, or a file dialog) and
// reads it; false (after the box "実行ファイルを開けません") when there is none.
bool LoadScriptImageFile();
// Starts the image's "main" task and runs the task loop until no task is left.
void RunScript();
// Stops every unit in the reverse order, harmless for units that never started; true.
bool ShutdownUnits();
// Claims the name for this process: false (after a box) when the name is empty, the claim
// cannot be made, or another process holds it.
bool CheckSingleInstance(const char* name);

// The state start-up keeps: the image, its path (the script machine's running path), the
// single-instance handle (null when none).
const std::vector<uint8_t>& ScriptImage();
const char* ScriptPath();
void* SingleInstanceHandle();
// The mounted data-file archive (empty when none); shutdown releases it.
DRef<DDataFile>& MountedDataFile();

// The process's pseudo-random generator: a linear congruence (x * 214013 + 2531011), giving
// bits 16 to 30 of the state (0 to 32767). Start-up seeds it with the time in seconds.
void SeedRandom(uint32_t seed);
int NextRandom();
