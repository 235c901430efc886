// Tasks: their registries, ending them, the turn and the synchronous run, the task loop, the VM unit.
#include "vm/script_task.h"

#include <cstdio>
#include <cstring>

#include "base/dpath.h"
#include "base/dstring.h"
#include "vm/close_event.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_loader.h"
#include "vm/vm_services.h"

namespace {

struct TaskState {
  DRefList<ScriptTask> registries[2];
  DRef<ScriptTask> current;
  DRef<ScriptTask> switch_request;
  DRef<ScriptTask> close_handler;
  DRef<ScriptTask> selected;
  VmUnitHooks hooks;
  uint32_t startup_flags = 0;
};

TaskState& State() {
  static TaskState* state = new TaskState();  // lives to the end of the program, like the registries
  return *state;
}

// Destroys the context of a task that has left its registry.
void DestroyContext(ScriptTask* t) {
  ScriptContext* ctx = t->context;
  t->context = nullptr;
  ScriptContext::Destroy(ctx);
}

// Makes the task current for the duration of a run and restores the previous one afterwards; the
// context of a task ended while it ran is destroyed once its last run returns.
class RunScope {
 public:
  explicit RunScope(const DRef<ScriptTask>& task) : task_(task), saved_(State().current) {
    State().current = task;
    ++task_->executing;
  }
  ~RunScope() {
    if (--task_->executing == 0 && task_->end_deferred) {
      task_->end_deferred = false;
      DestroyContext(task_.Get());
    }
    State().current = saved_;
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  DRef<ScriptTask> task_;
  DRef<ScriptTask> saved_;
};

}  // namespace

ScriptTask::ScriptTask() = default;

ScriptTask::~ScriptTask() {
  result.Clear();
  param.Clear();
  link = DRefList<ScriptTask>::Iterator();
}

void ScriptTask::End(const DRef<ScriptTask>& task) {
  if (!task) return;
  ScriptTask* t = task.Get();
  DRef<ScriptTask> keep = task;  // the registry's reference may be the last but this one
  if (t->context != nullptr && !t->end_deferred) {
    ScriptValue::Assign(*t->context->result(), &t->result);
    t->context->Stop();
    if (t->executing > 0) {
      t->end_deferred = true;
      t->run_flags |= kVmRunEnd;
    } else {
      DestroyContext(t);
    }
  }
  if (t->link.Node()) {
    TaskRegistry(t->registry).Erase(t->link);
    t->link = DRefList<ScriptTask>::Iterator();
  }
}

DRefList<ScriptTask>& TaskRegistry(uint32_t index) {
  return State().registries[index == kHandlerList ? 1 : 0];
}
DRef<ScriptTask>& CurrentTask() {
  return State().current;
}
DRef<ScriptTask>& SwitchRequest() {
  return State().switch_request;
}
DRef<ScriptTask>& SelectedTask() {
  return State().selected;
}
DRef<ScriptTask>* EventHandler(int32_t e) {
  return e == kEventClose ? &State().close_handler : nullptr;
}

void EndAllTasks() {
  for (uint32_t r : {kTaskList, kHandlerList}) {
    DRefList<ScriptTask>& list = TaskRegistry(r);
    while (!list.IsEmpty()) {
      const uint32_t before = list.GetCount();
      ScriptTask::End(list.Front());
      if (list.GetCount() == before) list.Erase(list.Begin());  // a node without its task's link
    }
    list.Clear();
  }
}

bool AllTasksEnded() {
  DRefList<ScriptTask>& list = TaskRegistry(kTaskList);
  for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) {
    DRef<ScriptTask> t = it.Value();
    if (t && (t->run_flags & kVmRunEnd) == 0) return false;
  }
  return true;
}

void ExitAllTasks() {
  DRefList<ScriptTask>& list = TaskRegistry(kTaskList);
  for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) {
    DRef<ScriptTask> t = it.Value();
    if (t) t->run_flags |= kVmRunEnd;
  }
}

void InstallTaskServices() {
  if (GetVmServices().exit_all_tasks != nullptr) return;
  VmServices services = GetVmServices();
  services.exit_all_tasks = &ExitAllTasks;
  SetVmServices(services);
}

void DispatchLoop(const DRef<ScriptTask>& task) {
  if (!task) return;
  DRef<ScriptTask> keep = task;
  bool end;
  {
    RunScope scope(keep);
    if (keep->context == nullptr) {
      keep->run_flags = 0;
      end = true;
    } else {
      end = RunTaskTurn(keep->context, keep->run_flags);
    }
  }
  if (end) ScriptTask::End(keep);
  keep->run_flags = 0;
}

bool CallMethodSync(const DRef<ScriptTask>& task) {
  if (!FindEntry(task)) return false;
  DRef<ScriptTask> keep = task;
  RunScope scope(keep);
  RunMethodSync(keep->context, keep->run_flags);
  if (keep->context != nullptr) keep->context->Stop();
  return true;
}

void RunTaskLoop() {
  InstallTaskServices();
  TaskState& s = State();
  DRefList<ScriptTask>& list = TaskRegistry(kTaskList);
  while (!list.IsEmpty()) {
    const DRef<ScriptTask> pending = s.switch_request;
    bool met = false;
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) {
      DRef<ScriptTask> t = it.Value();
      if (!t) continue;  // erased during an earlier turn of this pass
      if (s.switch_request) {
        if (s.switch_request.Get() != t.Get()) continue;
        s.switch_request.Release();
        met = true;
      }
      DispatchLoop(t);
    }
    // A request that a whole pass did not meet names a task outside the list: drop it, or the loop
    // would pass over every task for ever.
    if (pending && !met && s.switch_request.Get() == pending.Get()) s.switch_request.Release();
  }
}

void LoadTaskImage(const char* path, DRef<ScriptTask>* out, ScriptContext* ctx, int32_t export_number,
                   const char* entry_name) {
  out->Release();
  const bool named = entry_name != nullptr && entry_name[0] != '\0';
  DRef<ScriptTask> task;
  if (path == nullptr || path[0] == '\0') {
    task = named ? NewScriptTaskNamed(CurrentTask(), entry_name, kTaskList)
                 : NewScriptTaskExport(CurrentTask(), export_number, kTaskList);
  } else {
    const DRef<ScriptTask>& current = CurrentTask();
    const char* base = current ? current->directory : GetProgramDirectory();
    char resolved[kTaskTextSize];
    DString::CopyTo(DString(DGetAbsolutePath(DString(path), DString(base)).GetText()), resolved,
                    kTaskTextSize);
    task = LoadScript(resolved, {}, export_number, entry_name, kTaskList, false);
    if (!task) {
      char with_extension[kTaskTextSize];
      DMargePath(with_extension, DString(""), DString(resolved), DString("mei"));
      task = LoadScript(with_extension, {}, export_number, entry_name, kTaskList, true);
    }
  }
  if (!task) return;
  if (!FindEntry(task)) {
    ScriptTask::End(task);
    return;
  }
  if (ctx != nullptr) {
    SetTaskValue(ctx->result(), task);
  }
  *out = task;
}

void LoadTaskImageNamed(ScriptContext* ctx, const char* path, const char* entry_name, DRef<ScriptTask>* out) {
  LoadTaskImage(path, out, ctx, 0, entry_name);
}

bool StartMainTask(std::span<const uint8_t> image, const char* path) {
  ResetEngineState();
  DRef<ScriptTask> task = LoadScript(path, image, 0, "main", kTaskList, true);
  if (!task) return false;
  return FindEntry(task);
}

void ResetEngineState() {
  TaskState& s = State();
  s.switch_request.Release();
  s.current.Release();
  s.close_handler.Release();
  EndAllTasks();
  if (s.hooks.reset_current_objects) s.hooks.reset_current_objects(s.startup_flags);
  s.selected.Release();
}

VmUnitHooks SetVmUnitHooks(const VmUnitHooks& hooks) {
  VmUnitHooks old = State().hooks;
  State().hooks = hooks;
  return old;
}

uint32_t GetStartupFlags() {
  return State().startup_flags;
}
void SetStartupFlags(uint32_t flags) {
  State().startup_flags = flags;
}

ORVANE_START_CODE bool InitVmUnit() {
  InstallTaskServices();
  const VmUnitHooks& h = State().hooks;
  return h.init_defaults == nullptr || h.init_defaults(State().startup_flags);
}

bool TermVmUnit() {
  ResetEngineState();
  if (State().hooks.term_defaults) State().hooks.term_defaults();
  TaskRegistry(kTaskList).Clear();
  TaskRegistry(kHandlerList).Clear();
  return true;
}

void ReleaseTaskValue(DRef<void>& ref) {
  ref.Release();
}

void SetTaskValue(ScriptValue* v, const DRef<ScriptTask>& task) {
  v->SetObject(DRef<void>::Convert(task), kScriptTask, &ReleaseTaskValue);
}

DRef<ScriptTask> TaskOfValue(const ScriptValue& v) {
  if (v.type() != kScriptTask || v.handle() == nullptr) return DRef<ScriptTask>();
  return DRef<ScriptTask>::Convert(v.handle()->ref);
}
