// The calling frame shared by the built-ins and the exports: object kinds, the handles handed to
// plug-ins, the built-ins' current objects, select and get, and the built-in table.
#pragma once

#include <cstdint>

#include "base/dref.h"
#include "vm/script_context.h"
#include "vm/script_value.h"

// What an export hands a plug-in for an engine object: one counted reference and the kind it was
// made for, so a handle given to an export of another kind is refused instead of misread.
struct ApiHandle {
  uint32_t kind;
  DRef<void> ref;
};

// A new handle holding one more reference to `ref`; null (nothing allocated) when `ref` is empty
// or memory runs out.
ApiHandle* NewApiHandle(uint32_t kind, const DRef<void>& ref) noexcept;
// The object behind a handle of `kind`: a temporary reference for the duration of the call. Empty
// for a null handle; empty with one log line naming the export for a handle of another kind.
DRef<void> ApiHandleObject(const ApiHandle* handle, uint32_t kind, const char* export_name) noexcept;
template <class T>
DRef<T> ApiHandleAs(const ApiHandle* handle, uint32_t kind, const char* export_name) noexcept {
  return DRef<T>::Convert(ApiHandleObject(handle, kind, export_name));
}
// Frees a handle of `kind` and drops its reference; a null handle does nothing, a handle of
// another kind is logged and left alone.
void DestroyApiHandle(ApiHandle* handle, uint32_t kind, const char* export_name) noexcept;

// The release function of every object value: drops the value's reference.
void ReleaseObjectValue(DRef<void>& ref);
// Makes `v` an object value of `kind` holding a new reference to `ref`.
void SetObjectValue(ScriptValue* v, uint32_t kind, const DRef<void>& ref);
// The object behind a value of `kind`; empty for any other value or kind.
DRef<void> ObjectOfValue(const ScriptValue& v, uint32_t kind);
template <class T>
DRef<T> ObjectOfValueAs(const ScriptValue& v, uint32_t kind) {
  return DRef<T>::Convert(ObjectOfValue(v, kind));
}

// The current objects that the select built-ins set and the others act on. The current task is
// the machine's own selection (SelectedTask in vm/script_task.h); wipes have none.
struct VmCurrentObjects {
  DRef<void> image;
  DRef<void> input;
  DRef<void> text;
  DRef<void> sound;
  DRef<void> movie;
  DRef<void> profile;
  DRef<void> file;
  DRef<void> net;
  DRef<void> plugin;
  DRef<void> stream;
  DRef<void> aa_char;
};
VmCurrentObjects& CurrentObjects();
// The current reference of a selectable kind (4-14, 16); null for a kind that has none.
DRef<void>* CurrentObjectOf(uint32_t kind);
// Drops every selection (the task's too).
void ClearCurrentObjects();

// Select built-in: drops the current reference of `kind`, then selects argument 1 when it is an
// object of that kind; otherwise raises the kind's type error when `raise` is set.
void SelectBuiltin(ScriptContext* ctx, uint32_t kind, bool raise);
// Get built-in: the result slot becomes an object value of `kind` on the current reference. Tested:
// int 0 when nothing is selected. Untested: an object value holding nothing.
void GetBuiltin(ScriptContext* ctx, uint32_t kind, bool tested);

// True when the start-up chose the Direct3D sprite system, so the Draw-unit built-ins refuse.
bool InTssMode();
// The refusal of a Draw-unit built-in in that mode: raises its message and gives true; reads no
// argument and leaves the result slot.
bool RefuseInTssMode(ScriptContext* ctx);

// A built-in that no exception leaves: a failed allocation (a script-sized text) or any other
// fault of the worker stops the script with a run-time error instead of unwinding the machine.
void ReportBuiltinFault(ScriptContext* ctx);
template <bool (*Handler)(ScriptContext*)>
bool Guarded(ScriptContext* ctx) {
  try {
    return Handler(ctx);
  } catch (...) {
    ReportBuiltinFault(ctx);
    return false;
  }
}

// The built-in list: 284 names by number.
inline constexpr uint32_t kBuiltinCount = 284;
const char* BuiltinName(uint32_t n);
// Installs the stand-in of built-in n, as InstallApiBuiltins does before the workers: a run-time
// error naming the built-in. False for a number outside the list.
bool InstallUnavailableBuiltin(uint32_t n);
// Installs every built-in at dispatch entry 72 + n. Built-ins whose work is not here yet raise a
// run-time error naming them.
void InstallApiBuiltins();
// The task and event built-ins (part of InstallApiBuiltins).
void InstallTaskBuiltins();
// The sound, stream, MIDI and movie built-ins (part of InstallApiBuiltins).
void InstallMediaBuiltins();
// The VM unit hooks that reset and drop the built-ins' current objects.
void InstallApiUnitHooks();
