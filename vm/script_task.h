// Script tasks: the task record, the two registries, the running task, switching, the task loop, the VM unit.
#pragma once

#include <cstdint>
#include <span>

#include "base/dref.h"
#include "base/dreflist.h"
#include "vm/script_context.h"
#include "vm/script_value.h"

// Size of the task's text fields: 263 bytes and a NUL.
inline constexpr uint32_t kTaskTextSize = 264;

// Registry indices.
inline constexpr uint32_t kTaskList = 0;     // tasks that the task loop schedules
inline constexpr uint32_t kHandlerList = 1;  // event handlers, only called synchronously

// The close event, the one entry of the event handler table.
inline constexpr int32_t kEventClose = 0;

// One instance of a loaded script image, always held through a DRef (one-element array).
struct ScriptTask {
  ScriptTask();
  ~ScriptTask();
  ScriptTask(const ScriptTask&) = delete;
  ScriptTask& operator=(const ScriptTask&) = delete;

  // Ends the task: slot 0 becomes its result, the context is stopped and destroyed, the task
  // leaves its registry. Nothing for an empty reference. A task whose instructions are executing
  // right now (a handler replacing itself) is taken out of its registry at once and gets its end
  // flag; its context is destroyed when its run returns.
  static void End(const DRef<ScriptTask>& task);

  uint32_t registry = kTaskList;        // 0 task list, 1 handler list
  DRefList<ScriptTask>::Iterator link;  // node in the registry; empty when in none
  char path[kTaskTextSize] = {};        // absolute path of the image, '/' separators
  char directory[kTaskTextSize] = {};   // directory of the path, for relative paths
  ScriptContext* context = nullptr;     // owned; null once ended
  char entry_name[kTaskTextSize] = {};  // method to start at; empty: the export number
  int32_t export_number = 0;            // export to start at when entry_name is empty
  uint32_t run_flags = 0;               // bit 0 yield, bit 1 end (kVmRunYield, kVmRunEnd)
  ScriptValue param;                    // handed over by the creating script
  ScriptValue result;                   // slot 0 when the task ended, or the value ended with
  uint32_t executing = 0;               // runs of this task in progress (nested loops)
  bool end_deferred = false;            // End met a running task: destroy the context later
};

// The registries: kTaskList and kHandlerList.
DRefList<ScriptTask>& TaskRegistry(uint32_t index);
// The task whose instructions are executing (empty between turns).
DRef<ScriptTask>& CurrentTask();
// The task that the task loop must run next (empty: none).
DRef<ScriptTask>& SwitchRequest();
// The handler of event e (only kEventClose exists); null for any other number.
DRef<ScriptTask>* EventHandler(int32_t e);
// The task that the task built-ins select (SetTask); part of the built-ins' current objects.
DRef<ScriptTask>& SelectedTask();

// Ends every task of the task list, then of the handler list, front to back.
void EndAllTasks();
// True when every task of the task list has its end flag (also for an empty list).
bool AllTasksEnded();
// Sets the end flag of every task of the task list (the Exit built-in without a context).
void ExitAllTasks();
// Makes ExitAllTasks the machine's end-all-tasks service unless one is installed already, keeping
// the other services.
void InstallTaskServices();

// One turn of a task: makes it current, runs it until it yields or ends, ends it when its end flag
// is set, clears its flags and puts the previous current task back.
void DispatchLoop(const DRef<ScriptTask>& task);
// Starts the task's entry and runs it to its end at once (a yield does not stop it), then stops
// the context; false, with nothing run, when the entry does not start (reported there).
bool CallMethodSync(const DRef<ScriptTask>& task);
// Gives every task of the task list its turns, in list order, until the list is empty. A switch
// request passes over the other tasks until its task runs; a request whose task is met by no node
// during one whole pass (it is in no list, or ended) is dropped.
void RunTaskLoop();

// Creates a task in the task list for the image at `path` (empty: a new instance of the running
// script) and starts it at `entry_name` (non-empty) or export `export_number`. The path is resolved
// against the running task's directory; when it does not load, the path with ".mei" appended is
// tried once more, that failure being reported. On success slot 0 of `ctx` becomes a task value and
// `out` holds the task; otherwise `out` is empty.
void LoadTaskImage(const char* path, DRef<ScriptTask>* out, ScriptContext* ctx, int32_t export_number,
                   const char* entry_name);
void LoadTaskImageNamed(ScriptContext* ctx, const char* path, const char* entry_name, DRef<ScriptTask>* out);

// Resets the machine, loads the program's image from memory as the first task and starts its
// method "main". False (reported) when the image does not load or has no "main".
bool StartMainTask(std::span<const uint8_t> image, const char* path);

// What the VM unit needs of the display, input and text units: its defaults and the built-ins'
// current objects. Each hook may be null (then: success, nothing to do).
struct VmUnitHooks {
  // Makes the screen image handle (Draw mode only), the keyboard device and the default font;
  // false when one cannot be had.
  bool (*init_defaults)(uint32_t startup_flags) = nullptr;
  // The engine part of the reset: screen image handle and current image (Draw mode), the key map,
  // the current input device and text info, and the other current objects emptied.
  void (*reset_current_objects)(uint32_t startup_flags) = nullptr;
  // Releases the defaults and the current objects that refer to them.
  void (*term_defaults)() = nullptr;
};
VmUnitHooks SetVmUnitHooks(const VmUnitHooks& hooks);

// The start-up options chosen by the start-up pass: bit 0 tss, bit 1 nomenu, bit 2 sound3d.
uint32_t GetStartupFlags();
void SetStartupFlags(uint32_t flags);

// VM unit start-up and shutdown. InitVmUnit installs the task list's Exit as the machine's
// end-all-tasks service and makes the unit's defaults; TermVmUnit ends every task and releases them.
bool InitVmUnit();
bool TermVmUnit();

// Release function of task values (type 12): drops the value's reference to the task.
void ReleaseTaskValue(DRef<void>& ref);
// Makes `v` a task value holding a new reference to `task`.
void SetTaskValue(ScriptValue* v, const DRef<ScriptTask>& task);
// The task behind a task value; empty for any other value.
DRef<ScriptTask> TaskOfValue(const ScriptValue& v);
