// The media file rule, and sounds with 3D placement: the built-ins and their export twins over
// one worker each.
#include <cstdio>
#include <cstring>

#include "api/api_frame.h"
#include "api/api_path.h"
#include "api/media_common.h"
#include "api/ov_api.h"
#include "base/ddatafile.h"
#include "base/dpath.h"
#include "media/dsnd.h"
#include "media/sound_handle.h"
#include "shell/engine.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

bool OpenMediaFile(const char* path, DFile& file, char* name) {
  name[0] = '\0';
  char where[kApiPathSize];
  bool in_archive = false;
  if (!ApiResolvePath(path, where, &in_archive) || where[0] == '\0') return false;
  if (!in_archive) {
    memcpy(name, where, strlen(where) + 1);
    return file.Open(DString(where), DFile::kRead);
  }
  if (!ApiAbsolutePath(path, name)) return false;
  const DRef<DDataFile>& archive = MountedDataFile();
  return archive && archive->OpenMember(DString(where), file);
}

void ReportMediaError(ScriptContext* ctx, const char* message, const char* path) {
  char text[64 + 2 * kApiPathSize];
  snprintf(text, sizeof text, "%s\n\"%s\"", message, path);
  ReportRuntimeError(text, ctx);
}

namespace {

// ---- Workers shared by both faces.

DRef<SoundHandle> LoadSoundWorker(const char* path, int32_t voices, bool three_d) {
  DFile file;
  char name[kApiPathSize];
  if (!OpenMediaFile(path, file, name)) return {};
  DRef<SoundHandle> sound;
  sound.Alloc(1);
  const bool ok = three_d ? sound->Load3D(DString(name), file) : sound->Load(DString(name), file, voices);
  if (!ok) return {};
  return sound;
}

// Non-finite 3D values are ignored, so that no NaN or infinity reaches the mixer's panning.
void SoundPosition(SoundHandle* s, float x, float y, float z) {
  if (s && AllFinite({x, y, z})) s->SetPosition(x, y, z);
}
void SoundVelocity(SoundHandle* s, float x, float y, float z) {
  if (s && AllFinite({x, y, z})) s->SetVelocity(x, y, z);
}
// Angles and the outside volume are rounded with NaN as 0 and saturation (the handle's rounding);
// a non-finite orientation drops the call.
void SoundCone(SoundHandle* s, float inside, float outside, float volume, float x, float y, float z) {
  if (s && AllFinite({x, y, z})) s->SetCone(inside, outside, volume, x, y, z);
}
void SoundDistance(SoundHandle* s, float min, float max) {
  if (s && AllFinite({min, max})) s->SetDistance(min, max);
}
void Sound3DMode(SoundHandle* s, int32_t mode) {
  if (s) s->Set3DMode(mode != 0);
}
void ListenerPosition(float x, float y, float z) {
  if (AllFinite({x, y, z})) SoundHandle::Device().SetListenerPosition(x, y, z);
}
void ListenerVelocity(float x, float y, float z) {
  if (AllFinite({x, y, z})) SoundHandle::Device().SetListenerVelocity(x, y, z);
}
void ListenerOrientation(float fx, float fy, float fz, float tx, float ty, float tz) {
  if (AllFinite({fx, fy, fz, tx, ty, tz}))
    SoundHandle::Device().SetListenerOrientation(fx, fy, fz, tx, ty, tz);
}
void ListenerDistanceFactor(float f) {
  if (std::isfinite(f)) SoundHandle::Device().SetDistanceFactor(f);
}
void ListenerDopplerFactor(float f) {
  if (std::isfinite(f)) SoundHandle::Device().SetDopplerFactor(f);
}
void ListenerRolloffFactor(float f) {
  if (std::isfinite(f)) SoundHandle::Device().SetRolloffFactor(f);
}
void Commit3D() {
  SoundHandle::Device().CommitListener();
}

// ---- Built-ins.

constexpr char kSoundLoadMessage[] = "サウンドファイルを読み込めません。";

DRef<SoundHandle> CurrentSound() {
  return DRef<SoundHandle>::Convert(CurrentObjects().sound);
}
float F(ScriptContext* ctx, uint32_t k) {
  return ctx->GetArg(k)->ToFloat();
}

bool BiLoadSound(ScriptContext* ctx) {
  PathArg path(ctx, 1);
  DRef<SoundHandle> sound = LoadSoundWorker(path.text, ctx->GetArg(2)->ToInt(), false);
  if (!sound) return ReportMediaError(ctx, kSoundLoadMessage, path.text), false;
  SetObjectValue(ctx->result(), kScriptSoundData, DRef<void>::Convert(sound));
  return false;
}
bool BiLoadSound3D(ScriptContext* ctx) {
  PathArg path(ctx, 1);
  DRef<SoundHandle> sound = LoadSoundWorker(path.text, 1, true);
  if (!sound) return ReportMediaError(ctx, kSoundLoadMessage, path.text), false;
  SetObjectValue(ctx->result(), kScriptSoundData, DRef<void>::Convert(sound));
  return false;
}
bool BiGetSound(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptSoundData, true), false;
}
bool BiSetSound(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptSoundData, false), false;
}
bool BiPlaySound(ScriptContext* ctx) {
  if (DRef<SoundHandle> s = CurrentSound()) s->Play(static_cast<uint32_t>(ctx->GetArg(1)->ToInt()) & 1);
  return false;
}
bool BiStopSound(ScriptContext*) {
  if (DRef<SoundHandle> s = CurrentSound()) s->Stop();
  return false;
}
bool BiIsSoundPlay(ScriptContext* ctx) {
  DRef<SoundHandle> s = CurrentSound();
  ctx->result()->SetBool(s && s->IsPlaying());
  return false;
}
bool BiSetSoundPos(ScriptContext* ctx) {
  SoundPosition(CurrentSound().Get(), F(ctx, 1), F(ctx, 2), F(ctx, 3));
  return false;
}
bool BiSetSoundVel(ScriptContext* ctx) {
  SoundVelocity(CurrentSound().Get(), F(ctx, 1), F(ctx, 2), F(ctx, 3));
  return false;
}
bool BiSetSoundCone(ScriptContext* ctx) {
  SoundCone(CurrentSound().Get(), F(ctx, 1), F(ctx, 2), F(ctx, 3), F(ctx, 4), F(ctx, 5), F(ctx, 6));
  return false;
}
bool BiSetSoundDistance(ScriptContext* ctx) {
  SoundDistance(CurrentSound().Get(), F(ctx, 1), F(ctx, 2));
  return false;
}
bool BiSetSound3DMode(ScriptContext* ctx) {
  Sound3DMode(CurrentSound().Get(), ctx->GetArg(1)->ToInt());
  return false;
}
bool BiSetSoundListenerPos(ScriptContext* ctx) {
  ListenerPosition(F(ctx, 1), F(ctx, 2), F(ctx, 3));
  return false;
}
bool BiSetSoundListenerVel(ScriptContext* ctx) {
  ListenerVelocity(F(ctx, 1), F(ctx, 2), F(ctx, 3));
  return false;
}
bool BiSetSoundListenerDir(ScriptContext* ctx) {
  ListenerOrientation(F(ctx, 1), F(ctx, 2), F(ctx, 3), F(ctx, 4), F(ctx, 5), F(ctx, 6));
  return false;
}
bool BiSetSoundDistanceFactor(ScriptContext* ctx) {
  ListenerDistanceFactor(F(ctx, 1));
  return false;
}
bool BiSetSoundDopplerFactor(ScriptContext* ctx) {
  ListenerDopplerFactor(F(ctx, 1));
  return false;
}
bool BiSetSoundRolloffFactor(ScriptContext* ctx) {
  ListenerRolloffFactor(F(ctx, 1));
  return false;
}
bool BiCommitSound3D(ScriptContext*) {
  Commit3D();
  return false;
}

DRef<SoundHandle> SoundOf(ApiHandle* h, const char* export_name) {
  return ApiHandleAs<SoundHandle>(h, kScriptSoundData, export_name);
}

}  // namespace

ORVANE_START_CODE void InstallSoundBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {90, Guarded<BiLoadSound>},
      {266, Guarded<BiLoadSound3D>},
      {91, Guarded<BiGetSound>},
      {92, Guarded<BiSetSound>},
      {93, Guarded<BiPlaySound>},
      {94, Guarded<BiStopSound>},
      {279, Guarded<BiIsSoundPlay>},
      {267, Guarded<BiSetSoundPos>},
      {268, Guarded<BiSetSoundVel>},
      {269, Guarded<BiSetSoundCone>},
      {270, Guarded<BiSetSoundDistance>},
      {271, Guarded<BiSetSound3DMode>},
      {272, Guarded<BiSetSoundListenerPos>},
      {273, Guarded<BiSetSoundListenerVel>},
      {274, Guarded<BiSetSoundListenerDir>},
      {275, Guarded<BiSetSoundDistanceFactor>},
      {276, Guarded<BiSetSoundDopplerFactor>},
      {277, Guarded<BiSetSoundRolloffFactor>},
      {278, Guarded<BiCommitSound3D>},
  };
  for (const auto& row : table) SetVmBuiltin(row.n, row.h);
}

ORVANE_START_CODE void InstallMediaBuiltins() {
  InstallSoundBuiltins();
  InstallStreamBuiltins();
  InstallMidiBuiltins();
  InstallMovieBuiltins();
}

// ---- Exports. No exception leaves one: a failure gives the export's failure value.

ApiHandle* ovLoadSound(const char* path, int32_t voices) noexcept {
  try {
    return NewApiHandle(kScriptSoundData, DRef<void>::Convert(LoadSoundWorker(path, voices, false)));
  } catch (...) {
    return nullptr;
  }
}
ApiHandle* ovLoadSound3D(const char* path) noexcept {
  try {
    return NewApiHandle(kScriptSoundData, DRef<void>::Convert(LoadSoundWorker(path, 1, true)));
  } catch (...) {
    return nullptr;
  }
}
void ovDestroySound(ApiHandle* sound) noexcept {
  DestroyApiHandle(sound, kScriptSoundData, "ovDestroySound");
}
void ovPlaySound(ApiHandle* sound, int32_t loop) noexcept {
  try {
    if (DRef<SoundHandle> s = SoundOf(sound, "ovPlaySound")) s->Play(static_cast<uint32_t>(loop) & 1);
  } catch (...) {
  }
}
void ovStopSound(ApiHandle* sound) noexcept {
  try {
    if (DRef<SoundHandle> s = SoundOf(sound, "ovStopSound")) s->Stop();
  } catch (...) {
  }
}
int32_t ovIsSoundPlay(ApiHandle* sound) noexcept {
  try {
    DRef<SoundHandle> s = SoundOf(sound, "ovIsSoundPlay");
    return s && s->IsPlaying() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
void ovSetSoundPos(ApiHandle* sound, float x, float y, float z) noexcept {
  try {
    SoundPosition(SoundOf(sound, "ovSetSoundPos").Get(), x, y, z);
  } catch (...) {
  }
}
void ovSetSoundVel(ApiHandle* sound, float x, float y, float z) noexcept {
  try {
    SoundVelocity(SoundOf(sound, "ovSetSoundVel").Get(), x, y, z);
  } catch (...) {
  }
}
void ovSetSoundCone(ApiHandle* sound, float inside, float outside, float outside_volume, float x, float y,
                    float z) noexcept {
  try {
    SoundCone(SoundOf(sound, "ovSetSoundCone").Get(), inside, outside, outside_volume, x, y, z);
  } catch (...) {
  }
}
void ovSetSoundDistance(ApiHandle* sound, float minimum, float maximum) noexcept {
  try {
    SoundDistance(SoundOf(sound, "ovSetSoundDistance").Get(), minimum, maximum);
  } catch (...) {
  }
}
void ovSetSound3DMode(ApiHandle* sound, int32_t mode) noexcept {
  try {
    Sound3DMode(SoundOf(sound, "ovSetSound3DMode").Get(), mode);
  } catch (...) {
  }
}
void ovSetSoundListenerPos(float x, float y, float z) noexcept {
  try {
    ListenerPosition(x, y, z);
  } catch (...) {
  }
}
void ovSetSoundListenerVel(float x, float y, float z) noexcept {
  try {
    ListenerVelocity(x, y, z);
  } catch (...) {
  }
}
void ovSetSoundListenerDir(float front_x, float front_y, float front_z, float top_x, float top_y,
                           float top_z) noexcept {
  try {
    ListenerOrientation(front_x, front_y, front_z, top_x, top_y, top_z);
  } catch (...) {
  }
}
void ovSetSoundDistanceFactor(float factor) noexcept {
  try {
    ListenerDistanceFactor(factor);
  } catch (...) {
  }
}
void ovSetSoundDopplerFactor(float factor) noexcept {
  try {
    ListenerDopplerFactor(factor);
  } catch (...) {
  }
}
void ovSetSoundRolloffFactor(float factor) noexcept {
  try {
    ListenerRolloffFactor(factor);
  } catch (...) {
  }
}
void ovCommitSound3D() noexcept {
  try {
    Commit3D();
  } catch (...) {
  }
}
