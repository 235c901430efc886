// Audio streams: the built-ins and their export twins over one worker each.
#include <new>

#include "api/api_frame.h"
#include "api/media_common.h"
#include "api/ov_api.h"
#include "media/sound_handle.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

DRef<StreamHandle> CreateStreamWorker() {
  DRef<StreamHandle> stream;
  try {
    stream.Alloc(1);
  } catch (...) {
    return {};
  }
  return stream;
}

// A started stream refuses before its file is opened; the entry must open, decode and match the
// format of the list's first entry.
bool AddStreamWorker(StreamHandle* s, const char* path, int32_t repeat, float loop_seconds, int32_t flags) {
  if (!s || s->IsStarted()) return false;
  DFile file;
  char name[kApiPathSize];
  if (!OpenMediaFile(path, file, name)) return false;
  return s->AddToList(file, repeat, loop_seconds, static_cast<uint32_t>(flags) & 1);
}

DRef<StreamHandle> CurrentStream() {
  return DRef<StreamHandle>::Convert(CurrentObjects().stream);
}

bool BiCreateStream(ScriptContext* ctx) {
  DRef<StreamHandle> stream = CreateStreamWorker();
  if (!stream) return ReportRuntimeError("ストリームが作成できません。", ctx), false;
  SetObjectValue(ctx->result(), kScriptStream, DRef<void>::Convert(stream));
  return false;
}
bool BiGetStream(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptStream, true), false;
}
bool BiSetStream(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptStream, false), false;
}
bool BiAddStreamList(ScriptContext* ctx) {
  DRef<StreamHandle> s = CurrentStream();
  if (!s) return false;
  PathArg path(ctx, 1);
  if (!AddStreamWorker(s.Get(), path.text, ctx->GetArg(2)->ToInt(), ctx->GetArg(3)->ToFloat(),
                       ctx->GetArg(4)->ToInt()))
    ReportMediaError(ctx, "ストリーム再生リストに追加できません。", path.text);
  return false;
}
bool BiClearStreamList(ScriptContext*) {
  if (DRef<StreamHandle> s = CurrentStream()) s->ClearList();
  return false;
}
bool BiPlayStream(ScriptContext*) {
  if (DRef<StreamHandle> s = CurrentStream()) s->Play();
  return false;
}
bool BiStopStream(ScriptContext*) {
  if (DRef<StreamHandle> s = CurrentStream()) s->Stop();
  return false;
}

DRef<StreamHandle> StreamOf(ApiHandle* h, const char* export_name) {
  return ApiHandleAs<StreamHandle>(h, kScriptStream, export_name);
}

}  // namespace

ORVANE_START_CODE void InstallStreamBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {133, Guarded<BiCreateStream>},  {178, Guarded<BiGetStream>},       {232, Guarded<BiSetStream>},
      {233, Guarded<BiAddStreamList>}, {234, Guarded<BiClearStreamList>}, {235, Guarded<BiPlayStream>},
      {236, Guarded<BiStopStream>},
  };
  for (const auto& row : table) SetVmBuiltin(row.n, row.h);
}

// ---- Exports. No exception leaves one: a failure gives the export's failure value.

ApiHandle* ovCreateStream() noexcept {
  try {
    return NewApiHandle(kScriptStream, DRef<void>::Convert(CreateStreamWorker()));
  } catch (...) {
    return nullptr;
  }
}
void ovDestroyStream(ApiHandle* stream) noexcept {
  DestroyApiHandle(stream, kScriptStream, "ovDestroyStream");
}
int32_t ovAddStreamList(ApiHandle* stream, const char* path, int32_t repeat, float loop_seconds,
                        int32_t flags) noexcept {
  try {
    return AddStreamWorker(StreamOf(stream, "ovAddStreamList").Get(), path, repeat, loop_seconds, flags) ? 1
                                                                                                         : 0;
  } catch (...) {
    return 0;
  }
}
void ovClearStreamList(ApiHandle* stream) noexcept {
  try {
    if (DRef<StreamHandle> s = StreamOf(stream, "ovClearStreamList")) s->ClearList();
  } catch (...) {
  }
}
void ovPlayStream(ApiHandle* stream) noexcept {
  try {
    if (DRef<StreamHandle> s = StreamOf(stream, "ovPlayStream")) s->Play();
  } catch (...) {
  }
}
void ovStopStream(ApiHandle* stream) noexcept {
  try {
    if (DRef<StreamHandle> s = StreamOf(stream, "ovStopStream")) s->Stop();
  } catch (...) {
  }
}
