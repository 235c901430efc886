// MIDI songs: the built-ins and their export twins act on the engine's one MIDI player.
#include <cmath>

#include "api/api_frame.h"
#include "api/media_common.h"
#include "api/ov_api.h"
#include "media/midi/midi_manager.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

// A loop point in seconds as whole milliseconds, to the nearest (halves to even). NaN and
// negatives give 0 and huge values saturate, so no float reaches an undefined conversion.
uint32_t LoopPointMs(float seconds) {
  const float ms = std::nearbyint(seconds * 1000.0f);
  if (!(ms > 0.0f)) return 0;
  if (ms >= 4294967295.0f) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(ms);
}

bool AddMidiWorker(const char* path, int32_t repeat, float loop_seconds, int32_t flags) {
  DFile file;
  char name[kApiPathSize];
  if (!OpenMediaFile(path, file, name)) return false;
  return TheMidiManager().AddToList(file, repeat, LoopPointMs(loop_seconds),
                                    static_cast<uint32_t>(flags) & 1);
}

// NaN and infinities change nothing; the MIDI unit ignores speeds that round to 0 or below.
void SetSpeedWorker(float speed) {
  if (std::isfinite(speed)) TheMidiManager().SetSpeed(speed);
}

bool BiAddMidiList(ScriptContext* ctx) {
  PathArg path(ctx, 1);
  if (!AddMidiWorker(path.text, ctx->GetArg(2)->ToInt(), ctx->GetArg(3)->ToFloat(), ctx->GetArg(4)->ToInt()))
    ReportMediaError(ctx, "MIDIファイルを開けません。", path.text);
  return false;
}
bool BiClearMidiList(ScriptContext*) {
  TheMidiManager().ClearList();
  return false;
}
bool BiPlayMidi(ScriptContext*) {
  TheMidiManager().Play();
  return false;
}
bool BiStopMidi(ScriptContext*) {
  TheMidiManager().Stop();
  return false;
}
bool BiPauseMidi(ScriptContext*) {
  TheMidiManager().Pause();
  return false;
}
bool BiResumeMidi(ScriptContext*) {
  TheMidiManager().Resume();
  return false;
}
bool BiFadeinMidi(ScriptContext* ctx) {
  TheMidiManager().FadeIn(static_cast<uint32_t>(ctx->GetArg(1)->ToInt()), ctx->GetArg(2)->ToInt() != 0);
  return false;
}
bool BiFadeoutMidi(ScriptContext* ctx) {
  TheMidiManager().FadeOut(static_cast<uint32_t>(ctx->GetArg(1)->ToInt()), ctx->GetArg(2)->ToInt() != 0);
  return false;
}
bool BiSetMidiSpeed(ScriptContext* ctx) {
  SetSpeedWorker(ctx->GetArg(1)->ToFloat());
  return false;
}

}  // namespace

ORVANE_START_CODE void InstallMidiBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {134, Guarded<BiAddMidiList>}, {135, Guarded<BiClearMidiList>}, {4, Guarded<BiPlayMidi>},
      {5, Guarded<BiStopMidi>},      {6, Guarded<BiPauseMidi>},       {7, Guarded<BiResumeMidi>},
      {8, Guarded<BiFadeinMidi>},    {9, Guarded<BiFadeoutMidi>},     {13, Guarded<BiSetMidiSpeed>},
  };
  for (const auto& row : table) SetVmBuiltin(row.n, row.h);
}

// ---- Exports. No exception leaves one: a failure gives the export's failure value.

int32_t ovAddMidiList(const char* path, int32_t repeat, float loop_seconds, int32_t flags) noexcept {
  try {
    return AddMidiWorker(path, repeat, loop_seconds, flags) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
void ovClearMidiList() noexcept {
  try {
    TheMidiManager().ClearList();
  } catch (...) {
  }
}
int32_t ovPlayMidi() noexcept {
  try {
    TheMidiManager().Play();
  } catch (...) {
  }
  return 1;
}
void ovStopMidi() noexcept {
  try {
    TheMidiManager().Stop();
  } catch (...) {
  }
}
void ovPauseMidi() noexcept {
  try {
    TheMidiManager().Pause();
  } catch (...) {
  }
}
void ovResumeMidi() noexcept {
  try {
    TheMidiManager().Resume();
  } catch (...) {
  }
}
void ovFadeinMidi(int32_t ms, int32_t stop) noexcept {
  try {
    TheMidiManager().FadeIn(static_cast<uint32_t>(ms), stop != 0);
  } catch (...) {
  }
}
void ovFadeoutMidi(int32_t ms, int32_t stop) noexcept {
  try {
    TheMidiManager().FadeOut(static_cast<uint32_t>(ms), stop != 0);
  } catch (...) {
  }
}
void ovSetMidiSpeed(float speed) noexcept {
  try {
    SetSpeedWorker(speed);
  } catch (...) {
  }
}
