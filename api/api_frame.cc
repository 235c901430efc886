// The calling frame: handles for plug-ins, object values, current objects, select and get, and the
// table that installs every built-in.
#include "api/api_frame.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "api/draw_api.h"
#include "base/dlogstream.h"
#include "display/text/text_unit.h"
#include "shell/cinputmanager.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"

namespace {

void LogWrongKind(const char* export_name, uint32_t want, uint32_t got) noexcept {
  try {
    char line[160];
    std::snprintf(line, sizeof line, "[%s] handle of kind %u given where kind %u is expected; ignored\n",
                  export_name ? export_name : "?", got, want);
    DDebugLog() << line;
  } catch (...) {
  }
}

}  // namespace

ApiHandle* NewApiHandle(uint32_t kind, const DRef<void>& ref) noexcept {
  if (!ref) return nullptr;
  return new (std::nothrow) ApiHandle{kind, ref};
}

DRef<void> ApiHandleObject(const ApiHandle* handle, uint32_t kind, const char* export_name) noexcept {
  if (handle == nullptr) return DRef<void>();
  if (handle->kind != kind) {
    LogWrongKind(export_name, kind, handle->kind);
    return DRef<void>();
  }
  return handle->ref;
}

void DestroyApiHandle(ApiHandle* handle, uint32_t kind, const char* export_name) noexcept {
  if (handle == nullptr) return;
  if (handle->kind != kind) {
    LogWrongKind(export_name, kind, handle->kind);
    return;
  }
  DRef<void> ref = std::move(handle->ref);
  delete handle;
  // `ref` drops the reference last, after the block is gone.
}

void ReleaseObjectValue(DRef<void>& ref) {
  ref.Release();
}

void SetObjectValue(ScriptValue* v, uint32_t kind, const DRef<void>& ref) {
  if (kind == kScriptTask) {
    SetTaskValue(v, DRef<ScriptTask>::Convert(ref));
    return;
  }
  v->SetObject(ref, kind, &ReleaseObjectValue);
}

DRef<void> ObjectOfValue(const ScriptValue& v, uint32_t kind) {
  if (v.type() != kind || v.handle() == nullptr) return DRef<void>();
  return v.handle()->ref;
}

VmCurrentObjects& CurrentObjects() {
  static VmCurrentObjects* objects = new VmCurrentObjects();  // lives to the end of the program
  return *objects;
}

DRef<void>* CurrentObjectOf(uint32_t kind) {
  VmCurrentObjects& c = CurrentObjects();
  switch (kind) {
    case kScriptImage:
      return &c.image;
    case kScriptInputDevice:
      return &c.input;
    case kScriptTextInfo:
      return &c.text;
    case kScriptSoundData:
      return &c.sound;
    case kScriptMovieData:
      return &c.movie;
    case kScriptProfile:
      return &c.profile;
    case kScriptFile:
      return &c.file;
    case kScriptNet:
      return &c.net;
    case kScriptPluginFunction:
      return &c.plugin;
    case kScriptStream:
      return &c.stream;
    case kScriptAaCharSet:
      return &c.aa_char;
    default:
      return nullptr;
  }
}

void ClearCurrentObjects() {
  VmCurrentObjects& c = CurrentObjects();
  for (DRef<void>* r : {&c.image, &c.input, &c.text, &c.sound, &c.movie, &c.profile, &c.file, &c.net,
                        &c.plugin, &c.stream, &c.aa_char})
    r->Release();
  SelectedTask().Release();
}

void SelectBuiltin(ScriptContext* ctx, uint32_t kind, bool raise) {
  if (kind == kScriptTask) {
    SelectedTask().Release();
    SelectedTask() = TaskOfValue(*ctx->GetArg(1));
    if (!SelectedTask() && raise) ctx->RaiseError(kScriptKindErrorBase + kind);
    return;
  }
  DRef<void>* current = CurrentObjectOf(kind);
  if (current == nullptr) return;
  current->Release();
  *current = ObjectOfValue(*ctx->GetArg(1), kind);
  if (!*current && raise) ctx->RaiseError(kScriptKindErrorBase + kind);
}

void GetBuiltin(ScriptContext* ctx, uint32_t kind, bool tested) {
  DRef<void> current;
  if (kind == kScriptTask) {
    current = DRef<void>::Convert(SelectedTask());
  } else if (DRef<void>* r = CurrentObjectOf(kind)) {
    current = *r;
  }
  if (!current && tested) {
    ctx->result()->SetInt(0);
    return;
  }
  SetObjectValue(ctx->result(), kind, current);
}

void ReportBuiltinFault(ScriptContext* ctx) {
  try {
    ReportRuntimeError("メモリが足りません", ctx);
  } catch (...) {
    ExitAllTasks();
  }
}

bool InTssMode() {
  return (GetStartupFlags() & kStartupTss) != 0;
}

bool RefuseInTssMode(ScriptContext* ctx) {
  if (!InTssMode()) return false;
  ReportRuntimeError("TSSモード時はこの関数を使用できません。", ctx);
  return true;
}

namespace {

struct BuiltinRow {
  uint32_t number;
  const char* name;
};
constexpr BuiltinRow kBuiltinRows[] = {
#define OV_BUILTIN(number, name) {number, #name},
#include "api/builtin_list.h"
#undef OV_BUILTIN
};
static_assert(sizeof kBuiltinRows / sizeof kBuiltinRows[0] == kBuiltinCount);

// Names by number, every one in one block of text with its NUL and where each begins: a table of
// pointers to the names would be adjusted by the loader at every start, a written page of the
// program. The list is in number order, and this checks it while compiling.
constexpr size_t kBuiltinNameBytes = [] {
  size_t bytes = 0;
  for (const BuiltinRow& row : kBuiltinRows) bytes += std::char_traits<char>::length(row.name) + 1;
  return bytes;
}();
static_assert(kBuiltinNameBytes <= UINT16_MAX, "name starts are 16-bit");
constexpr auto kBuiltinNames = [] {
  struct Names {
    char text[kBuiltinNameBytes] = {};
    uint16_t start[kBuiltinCount] = {};
    constexpr const char* operator[](uint32_t n) const { return text + start[n]; }
  } names;
  size_t at = 0;
  for (const BuiltinRow& row : kBuiltinRows) {
    names.start[row.number] = static_cast<uint16_t>(at);
    for (const char* c = row.name; *c != '\0'; ++c) names.text[at++] = *c;
    names.text[at++] = '\0';
  }
  return names;
}();
constexpr bool EveryNumberOnce() {
  for (uint32_t i = 0; i < kBuiltinCount; ++i)
    if (kBuiltinRows[i].number != i) return false;
  return true;
}
static_assert(EveryNumberOnce(), "built-in numbers must run 0-283 in order");

// A built-in whose work is not part of the engine yet: the script stops with an error naming it
// instead of running past a call that does nothing.
void ReportNotAvailable(uint32_t n, ScriptContext* ctx) {
  const std::string text = std::string(kBuiltinNames[n]) + ": この関数はまだ使用できません。";
  ReportRuntimeError(text.c_str(), ctx);
}
template <uint32_t N>
bool NotAvailable(ScriptContext* ctx) {
  ReportNotAvailable(N, ctx);
  return false;
}

// The stand-ins are installed by code, one call each, rather than from a table of their addresses,
// which the loader would adjust at every start. The numbers go in blocks of kStandInBlock from B:
// some compilers take no more than 256 operands in one fold expression.
constexpr uint32_t kStandInBlock = 128;
template <uint32_t B>
using StandInBlock = std::make_integer_sequence<uint32_t, std::min(kStandInBlock, kBuiltinCount - B)>;

template <uint32_t B, uint32_t... N>
void InstallStandInBlock(std::integer_sequence<uint32_t, N...>) {
  (SetVmBuiltin(B + N, &NotAvailable<B + N>), ...);
}
template <uint32_t B, uint32_t... N>
bool InstallStandInOf(uint32_t n, std::integer_sequence<uint32_t, N...>) {
  return ((n == B + N && SetVmBuiltin(B + N, &NotAvailable<B + N>)) || ...);
}

// Every stand-in from B on.
template <uint32_t B = 0>
void InstallStandIns() {
  if constexpr (B < kBuiltinCount) {
    InstallStandInBlock<B>(StandInBlock<B>{});
    InstallStandIns<B + kStandInBlock>();
  }
}
// Stand-in n, if n >= B is a built-in number.
template <uint32_t B = 0>
bool InstallStandIn(uint32_t n) {
  if constexpr (B < kBuiltinCount) {
    if (n < B + kStandInBlock) return InstallStandInOf<B>(n, StandInBlock<B>{});
    return InstallStandIn<B + kStandInBlock>(n);
  } else {
    return false;
  }
}

}  // namespace

bool InstallUnavailableBuiltin(uint32_t n) {
  return InstallStandIn(n);
}

const char* BuiltinName(uint32_t n) {
  return n < kBuiltinCount ? kBuiltinNames[n] : nullptr;
}

// Defined by the family files of this folder.
void InstallFamilyBuiltins();

ORVANE_START_CODE void InstallApiBuiltins() {
  InstallStandIns();
  InstallTaskBuiltins();
  InstallFamilyBuiltins();
  InstallMediaBuiltins();
}

namespace {

VmUnitHooks g_previous_hooks;

ORVANE_START_CODE bool InitObjects(uint32_t flags) {
  if (g_previous_hooks.init_defaults && !g_previous_hooks.init_defaults(flags)) return false;
  // The default text info: the current one at start and after every reset.
  if (!InitDefaultTextFont()) return false;
  CurrentObjects().text = DRef<void>::Convert(DefaultTextFont());
  return true;
}
void ResetObjects(uint32_t flags) {
  ClearCurrentObjects();
  SelectScreenImage(flags);
  CurrentObjects().text = DRef<void>::Convert(DefaultTextFont());
  if (g_previous_hooks.reset_current_objects) g_previous_hooks.reset_current_objects(flags);
  // The keyboard pad is the current input device after every reset.
  CurrentObjects().input = DRef<void>::Convert(DefaultInputDevice());
}
void TermObjects() {
  ClearCurrentObjects();
  TermDefaultTextFont();
  if (g_previous_hooks.term_defaults) g_previous_hooks.term_defaults();
}

}  // namespace

ORVANE_START_CODE void InstallApiUnitHooks() {
  VmUnitHooks hooks = SetVmUnitHooks({});
  if (hooks.reset_current_objects == ResetObjects) {  // installed already
    SetVmUnitHooks(hooks);
    return;
  }
  g_previous_hooks = hooks;
  hooks.init_defaults = InitObjects;
  hooks.reset_current_objects = ResetObjects;
  hooks.term_defaults = TermObjects;
  SetVmUnitHooks(hooks);
}
