// Script loader: images parsed into contexts, tasks made for script paths, entries started, the reset.
#pragma once

#include <cstdint>
#include <span>

#include "base/dref.h"
#include "vm/script_context.h"
#include "vm/script_task.h"

// Slot growth step of every context the loader makes.
inline constexpr uint32_t kLoaderSlotGrowth = 1024;

// Parses a whole image into a new, not running context with the given growth step, native-call
// hook and error callback. Null when the image fails the reader's checks (as a wrong magic does)
// or the context cannot be made.
ScriptContext* ParseScriptImage(std::span<const uint8_t> image, uint32_t growth, VmNativeHook hook,
                                VmErrorCallback callback);

// Makes a task in registry `registry` for the script at `path` (cp932): an image that a registered
// task already runs (same path ignoring ASCII case) is shared with its globals; else `image` when
// given (non-empty), else the image appended to the file, else the whole file. The entry is
// `entry_name` when non-empty, else `export_number`; nothing is started. On failure the result is
// empty and, when `report` is set, "スクリプトを読み込めません。" with the path is shown and every
// task of the task list gets its end flag.
DRef<ScriptTask> LoadScript(const char* path, std::span<const uint8_t> image, int32_t export_number,
                            const char* entry_name, uint32_t registry, bool report);
DRef<ScriptTask> LoadScriptExport(const char* path, int32_t export_number, uint32_t registry, bool report);
DRef<ScriptTask> LoadScriptNamed(const char* path, const char* entry_name, uint32_t registry, bool report);

// A further instance of the source task's script sharing its image and globals; a failure is always
// reported as LoadScript reports it.
DRef<ScriptTask> NewScriptTask(const DRef<ScriptTask>& source, int32_t export_number, const char* entry_name,
                               uint32_t registry);
DRef<ScriptTask> NewScriptTaskExport(const DRef<ScriptTask>& source, int32_t export_number,
                                     uint32_t registry);
DRef<ScriptTask> NewScriptTaskNamed(const DRef<ScriptTask>& source, const char* entry_name,
                                    uint32_t registry);

// Starts the task's context at its entry and clears its run flags. A missing method or export, or a
// context already running, is reported as a run-time error (which ends every task); false then.
bool FindEntry(const DRef<ScriptTask>& task);

// Loads the script at `path` (relative to the program's directory; retried with ".mei" appended),
// runs its entry synchronously to the end and ends the task. False when it did not load (no
// message) or its entry is missing.
bool ExecuteScriptFile(const char* path, int32_t export_number, const char* entry_name);

// Clears the switch request, the running task and the close handler, ends every task of both
// registries and resets the built-ins' current objects (through the VM unit hooks).
void ResetEngineState();

// The directory that relative paths are resolved against when no task is running: the program's
// own directory by default. Tests may point it elsewhere; the text is cp932 and ends in a separator
// or is empty.
void SetProgramDirectory(const char* directory);
const char* GetProgramDirectory();
