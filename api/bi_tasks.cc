// Tasks, events and plug-in functions' task side: creating tasks, turns and switching, ending,
// parameters and results, the current task, event handlers.
#include <cstdio>
#include <cstring>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "base/dpath.h"
#include "base/dstring.h"
#include "vm/close_event.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_loader.h"
#include "vm/script_task.h"

namespace {

enum : uint32_t {
  kBiCreateTask = 66,
  kBiSetEvent = 67,
  kBiCallEvent = 68,
  kBiSetEventName = 80,
  kBiCreateTaskName = 84,
  kBiYield = 162,
  kBiGetTask = 181,
  kBiGetThisTask = 182,
  kBiSetTask = 183,
  kBiEndTask = 184,
  kBiEndThisTask = 185,
  kBiIsTaskEnd = 186,
  kBiGetTaskResult = 187,
  kBiGetTaskParam = 196,
  kBiGetThisTaskParam = 197,
  kBiSetTaskParam = 198,
  kBiSetThisTaskParam = 199,
  kBiCreateTaskParam = 200,
  kBiCreateTaskNameParam = 201,
  kBiSwitchTask = 204,
  kBiEndThisTaskSwitch = 211,
};

void RequestSwitch() {
  const DRef<ScriptTask>& sel = SelectedTask();
  if (!sel || sel->context == nullptr || (sel->run_flags & kVmRunEnd) != 0) return;
  if (CurrentTask()) CurrentTask()->run_flags |= kVmRunYield;
  SwitchRequest() = sel;
}

// Copies the value into the task's result slot and result, and sets its end flag.
void EndWith(const DRef<ScriptTask>& task, const ScriptValue& v) {
  if (!task) return;
  if (task->context != nullptr) ScriptValue::Assign(v, task->context->result());
  ScriptValue::Assign(v, &task->result);
  task->run_flags |= kVmRunEnd;
}

void CreateTask(ScriptContext* ctx, bool named, bool with_param) {
  PathArg path(ctx, 1);
  DRef<ScriptTask> task;
  if (named) {
    PathArg name(ctx, 2);
    LoadTaskImageNamed(ctx, path.text, name.text, &task);
  } else {
    LoadTaskImage(path.text, &task, ctx, ctx->GetArg(2)->ToInt(), nullptr);
  }
  if (task && with_param) ScriptValue::Assign(*ctx->GetArg(3), &task->param);
}

void SetEventHandler(ScriptContext* ctx, bool named) {
  const int32_t e = ctx->GetArg(1)->ToInt();
  DRef<ScriptTask>* slot = EventHandler(e);
  if (slot == nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, "存在しないイベント [%d] です。", e);
    ReportRuntimeError(text, ctx);
    return;
  }
  PathArg path(ctx, 2);
  PathArg name(ctx, 3);  // the method name; used only by SetEventName
  const int32_t n = named ? 0 : ctx->GetArg(3)->ToInt();
  DRef<ScriptTask> task;
  if (path.text[0] == '\0') {
    task = named ? NewScriptTaskNamed(CurrentTask(), name.text, kHandlerList)
                 : NewScriptTaskExport(CurrentTask(), n, kHandlerList);
  } else {
    const DRef<ScriptTask>& current = CurrentTask();
    char resolved[kTaskTextSize];
    DString::CopyTo(DString(DGetAbsolutePath(DString(path.text),
                                             DString(current ? current->directory : GetProgramDirectory()))
                                .GetText()),
                    resolved, kTaskTextSize);
    const char* entry = named ? name.text : nullptr;
    task = LoadScript(resolved, {}, n, entry, kHandlerList, false);
    if (!task) {
      char with_extension[kTaskTextSize];
      DMargePath(with_extension, DString(""), DString(resolved), DString("mei"));
      task = LoadScript(with_extension, {}, n, entry, kHandlerList, true);
    }
  }
  if (!task) return;
  ScriptTask::End(*slot);
  *slot = task;
}

bool BiExit(ScriptContext*) {
  ExitEngine();
  return false;
}
bool BiCreateTask(ScriptContext* ctx) {
  return CreateTask(ctx, false, false), false;
}
bool BiCreateTaskName(ScriptContext* ctx) {
  return CreateTask(ctx, true, false), false;
}
bool BiCreateTaskParam(ScriptContext* ctx) {
  return CreateTask(ctx, false, true), false;
}
bool BiCreateTaskNameParam(ScriptContext* ctx) {
  return CreateTask(ctx, true, true), false;
}
bool BiSetEvent(ScriptContext* ctx) {
  return SetEventHandler(ctx, false), false;
}
bool BiSetEventName(ScriptContext* ctx) {
  return SetEventHandler(ctx, true), false;
}
bool BiCallEvent(ScriptContext* ctx) {
  RunEventHandler(ctx->GetArg(1)->ToInt());
  return false;
}
bool BiYield(ScriptContext*) {
  if (CurrentTask()) CurrentTask()->run_flags |= kVmRunYield;
  return false;
}
bool BiSwitchTask(ScriptContext*) {
  RequestSwitch();
  return false;
}
bool BiEndThisTask(ScriptContext* ctx) {
  EndWith(CurrentTask(), *ctx->GetArg(1));
  return false;
}
bool BiEndTask(ScriptContext* ctx) {
  EndWith(SelectedTask(), *ctx->GetArg(1));
  return false;
}
bool BiEndThisTaskSwitch(ScriptContext* ctx) {
  EndWith(CurrentTask(), *ctx->GetArg(1));
  RequestSwitch();
  return false;
}
bool BiIsTaskEnd(ScriptContext* ctx) {
  const DRef<ScriptTask>& sel = SelectedTask();
  ctx->result()->SetInt(sel && ((sel->run_flags & kVmRunEnd) != 0 || sel->context == nullptr) ? 1 : 0);
  return false;
}
bool BiGetTaskResult(ScriptContext* ctx) {
  if (SelectedTask())
    ScriptValue::Assign(SelectedTask()->result, ctx->result());
  else
    ctx->result()->SetInt(0);
  return false;
}
bool BiGetTaskParam(ScriptContext* ctx) {
  if (SelectedTask())
    ScriptValue::Assign(SelectedTask()->param, ctx->result());
  else
    ctx->result()->SetInt(0);
  return false;
}
bool BiGetThisTaskParam(ScriptContext* ctx) {
  if (CurrentTask()) ScriptValue::Assign(CurrentTask()->param, ctx->result());
  return false;
}
bool BiSetTaskParam(ScriptContext* ctx) {
  if (SelectedTask()) ScriptValue::Assign(*ctx->GetArg(1), &SelectedTask()->param);
  return false;
}
bool BiSetThisTaskParam(ScriptContext* ctx) {
  if (CurrentTask()) ScriptValue::Assign(*ctx->GetArg(1), &CurrentTask()->param);
  return false;
}
bool BiGetTask(ScriptContext* ctx) {
  if (SelectedTask())
    SetTaskValue(ctx->result(), SelectedTask());
  else
    ctx->result()->SetInt(0);
  return false;
}
bool BiGetThisTask(ScriptContext* ctx) {
  if (CurrentTask()) SetTaskValue(ctx->result(), CurrentTask());
  return false;
}
bool BiSetTask(ScriptContext* ctx) {
  SelectedTask() = TaskOfValue(*ctx->GetArg(1));
  return false;
}

}  // namespace

ORVANE_START_CODE void InstallTaskBuiltins() {
  const struct {
    uint32_t n;
    VmHandler handler;
  } table[] = {
      {64, Guarded<BiExit>},
      {kBiCreateTask, Guarded<BiCreateTask>},
      {kBiSetEvent, Guarded<BiSetEvent>},
      {kBiCallEvent, Guarded<BiCallEvent>},
      {kBiSetEventName, Guarded<BiSetEventName>},
      {kBiCreateTaskName, Guarded<BiCreateTaskName>},
      {kBiYield, Guarded<BiYield>},
      {kBiGetTask, Guarded<BiGetTask>},
      {kBiGetThisTask, Guarded<BiGetThisTask>},
      {kBiSetTask, Guarded<BiSetTask>},
      {kBiEndTask, Guarded<BiEndTask>},
      {kBiEndThisTask, Guarded<BiEndThisTask>},
      {kBiIsTaskEnd, Guarded<BiIsTaskEnd>},
      {kBiGetTaskResult, Guarded<BiGetTaskResult>},
      {kBiGetTaskParam, Guarded<BiGetTaskParam>},
      {kBiGetThisTaskParam, Guarded<BiGetThisTaskParam>},
      {kBiSetTaskParam, Guarded<BiSetTaskParam>},
      {kBiSetThisTaskParam, Guarded<BiSetThisTaskParam>},
      {kBiCreateTaskParam, Guarded<BiCreateTaskParam>},
      {kBiCreateTaskNameParam, Guarded<BiCreateTaskNameParam>},
      {kBiSwitchTask, Guarded<BiSwitchTask>},
      {kBiEndThisTaskSwitch, Guarded<BiEndThisTaskSwitch>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.handler);
}
