// Paths, profiles, system and window functions, frame timing and plug-in functions: the built-ins
// and their export twins.
#include <cstdio>
#include <cstring>
#include <new>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "api/ov_api.h"
#include "base/ddatafile.h"
#include "base/dpath.h"
#include "base/dprofile.h"
#include "platform/shellapi.h"
#include "platform/user.h"
#include "shell/cframetimer.h"
#include "shell/cmainwindow.h"
#include "shell/cpluginmanager.h"
#include "shell/engine.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_loader.h"
#include "vm/script_task.h"

void CopyPath(char* out, const char* source) {
  DString::CopyTo(DString(source ? source : ""), out, kApiPathSize);
}

const char* RunningDirectory() {
  const DRef<ScriptTask>& task = CurrentTask();
  return task ? task->directory : GetProgramDirectory();
}

void ResolveAgainstTask(char* out, const char* path) {
  DString::CopyTo(DString(DGetAbsolutePath(DString(path ? path : ""), DString(RunningDirectory())).GetText()),
                  out, kApiPathSize);
}

void ExitEngine() {
  ExitAllTasks();
}

bool SetDataFile(const char* path) {
  DRef<DDataFile>& mounted = MountedDataFile();
  if (path == nullptr || path[0] == '\0') {
    mounted.Release();
    return true;
  }
  char resolved[kApiPathSize];
  ResolveAgainstTask(resolved, path);
  mounted.Release();
  DRef<DDataFile> file;
  file.Alloc(1);
  if (!file->MountFile(DString(resolved))) return false;
  mounted = file;
  return true;
}

namespace {

// ---- Paths.

// The base of GetAbsolutePath/GetRelativePath: the text cut at 263 bytes, the running task's
// directory when empty.
void BaseArg(char* out, const char* base) {
  CopyPath(out, base);
  if (out[0] == '\0') CopyPath(out, RunningDirectory());
}

bool BiConvSlashPath(ScriptContext* ctx) {
  PathArg p(ctx, 1);
  DConvSlashPath(p.text);
  ctx->result()->SetString(p.text);
  return false;
}
bool BiConvYenPath(ScriptContext* ctx) {
  PathArg p(ctx, 1);
  DConvYenPath(p.text);
  ctx->result()->SetString(p.text);
  return false;
}
bool BiMargePath(ScriptContext* ctx) {
  PathArg dir(ctx, 1);
  PathArg name(ctx, 2);
  char out[kApiPathSize];
  DMargePath(out, DString(dir.text), DString(name.text), DString(ctx->GetArg(3)->ToStaticString()));
  ctx->result()->SetString(out);
  return false;
}
bool BiSplitPath(ScriptContext* ctx) {
  PathArg path(ctx, 4);
  char dir[kApiPathSize] = {}, name[kApiPathSize] = {}, ext[kApiPathSize] = {};
  DSplitPath(DString(path.text), dir, name, ext);
  ctx->GetArg(1)->SetString(dir);
  ctx->GetArg(2)->SetString(name);
  ctx->GetArg(3)->SetString(ext);
  return false;
}
void AbsRel(ScriptContext* ctx, bool absolute) {
  char base[kApiPathSize];
  BaseArg(base, ctx->GetArg(2)->ToStaticString());
  const DString path(ctx->GetArg(1)->ToStaticString());
  DStringBuffer r = absolute ? DGetAbsolutePath(path, DString(base)) : DGetRelativePath(path, DString(base));
  ctx->result()->SetString(r.GetText());
}
bool BiGetAbsolutePath(ScriptContext* ctx) {
  return AbsRel(ctx, true), false;
}
bool BiGetRelativePath(ScriptContext* ctx) {
  return AbsRel(ctx, false), false;
}
bool BiIsWildPathCompare(ScriptContext* ctx) {
  PathArg path(ctx, 1);
  ctx->result()->SetInt(
      DIsWildPathCompare(DString(ctx->GetArg(2)->ToStaticString()), DString(path.text)) ? 1 : 0);
  return false;
}

// ---- Profiles.

bool BiLoadProfile(ScriptContext* ctx) {
  char file[kApiPathSize];
  ResolveAgainstTask(file, ctx->GetArg(1)->ToStaticString());
  DRef<DProfile> profile;
  try {
    profile.Alloc(1);
  } catch (...) {
    return false;  // out of memory: no profile, the result slot unchanged
  }
  profile->Open(DString(file), DString(ctx->GetArg(2)->ToStaticString()));
  SetObjectValue(ctx->result(), kScriptProfile, DRef<void>::Convert(profile));
  return false;
}
bool BiGetProfile(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptProfile, true), false;
}
bool BiSetProfile(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptProfile, false), false;
}
DRef<DProfile> CurrentProfile() {
  return DRef<DProfile>::Convert(CurrentObjects().profile);
}
bool BiWriteProfileString(ScriptContext* ctx) {
  DRef<DProfile> profile = CurrentProfile();
  if (!profile) return false;
  PathArg key(ctx, 1);
  profile->SetString(DString(key.text), DString(ctx->GetArg(2)->ToStaticString()));
  return false;
}
bool BiReadProfileString(ScriptContext* ctx) {
  DRef<DProfile> profile = CurrentProfile();
  if (!profile) {
    const std::string fallback = ctx->GetArg(2)->ToStaticString();
    ctx->result()->SetString(fallback.c_str());
    return false;
  }
  PathArg key(ctx, 1);
  DStringBuffer value = profile->GetString(DString(key.text), DString(ctx->GetArg(2)->ToStaticString()));
  ctx->result()->SetString(value.GetText());
  return false;
}

// ---- System and window.

bool BiSetTitle(ScriptContext* ctx) {
  ovSetTitle(ctx->GetArg(1)->ToStaticString());
  return false;
}
bool BiMessage(ScriptContext* ctx) {
  TextArg<256> caption(ctx, 2);
  const int32_t flag = ctx->GetArg(3)->ToInt();
  ctx->result()->SetInt(ovMessage(ctx->GetArg(1)->ToStaticString(), caption.text, flag));
  return false;
}
bool BiUrl(ScriptContext* ctx) {
  ovUrl(ctx->GetArg(1)->ToStaticString());
  return false;
}
bool BiCommand(ScriptContext* ctx) {
  PathArg file(ctx, 1);
  ctx->result()->SetBool(ovCommand(file.text, ctx->GetArg(2)->ToStaticString()) != 0);
  return false;
}
bool BiSetCopyright(ScriptContext* ctx) {
  ovSetCopyright(ctx->GetArg(1)->ToStaticString());
  return false;
}
bool BiCheckSystemName(ScriptContext* ctx) {
  if (!CheckSingleInstance(ctx->GetArg(1)->ToStaticString())) ExitEngine();
  return false;
}
bool BiGetWindowsPath(ScriptContext* ctx) {
  ctx->result()->SetString("");  // there is no Windows directory here
  return false;
}
bool BiGetCurrentPath(ScriptContext* ctx) {
  char buffer[kApiPathSize];
  CopyPath(buffer, RunningDirectory());
  ctx->result()->SetString(buffer);
  return false;
}

// ---- Frame timing.

bool BiSetDelayTime(ScriptContext* ctx) {
  FrameTimer().SetInterval(ctx->GetArg(1)->ToFloat());
  return false;
}
bool BiSetFPS(ScriptContext* ctx) {
  FrameTimer().SetFPS(ctx->GetArg(1)->ToInt());
  return false;
}
bool BiGetDelayTime(ScriptContext* ctx) {
  ctx->result()->SetFloat(FrameTimer().GetInterval());
  return false;
}
bool BiClearTime(ScriptContext*) {
  FrameTimer().Restart();
  return false;
}
bool BiWaitTime(ScriptContext* ctx) {
  ctx->result()->SetBool(FrameTimer().Wait());
  return false;
}
bool BiIsDelayTime(ScriptContext* ctx) {
  ctx->result()->SetBool(FrameTimer().IsSkip());
  return false;
}
bool BiSetShowTime(ScriptContext* ctx) {
  FrameTimer().ShowFPS(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiSetTimePause(ScriptContext* ctx) {
  FrameTimer().SetTimePause(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiGetTimeCount(ScriptContext* ctx) {
  ctx->result()->SetInt(static_cast<int32_t>(FrameTimer().GetCount()));
  return false;
}
bool BiSetForceFrame(ScriptContext* ctx) {
  FrameTimer().SetSkipLimit(static_cast<uint32_t>(ctx->GetArg(1)->ToInt()));
  return false;
}
bool BiGetCurrentFPS(ScriptContext* ctx) {
  ctx->result()->SetInt(static_cast<int32_t>(FrameTimer().GetLoopRate()));
  return false;
}
bool BiGetCurrentFPS2(ScriptContext* ctx) {
  ctx->result()->SetInt(static_cast<int32_t>(FrameTimer().GetDrawnRate()));
  return false;
}

// ---- Plug-in functions.

bool BiLoadPlugin(ScriptContext* ctx) {
  PathArg name(ctx, 1);
  if (!PluginManager().Load(DString(RunningDirectory()), DString(name.text)))
    ReportRuntimeError("プラグインを読み込めません。", ctx);
  return false;
}
bool BiGetPluginFunction(ScriptContext* ctx) {
  DRef<CPluginFunction> f = PluginManager().FindFunction(DString(ctx->GetArg(1)->ToStaticString()));
  if (!f) {
    ReportRuntimeError("プラグイン関数が見つかりません。", ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptPluginFunction, DRef<void>::Convert(f));
  return false;
}
bool BiGetPlugin(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptPluginFunction, true), false;
}
bool BiSetPlugin(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptPluginFunction, false), false;
}
bool BiCallPlugin(ScriptContext*) {
  // Held for the call: the plug-in may clear the selection through a script it runs.
  DRef<CPluginFunction> f = DRef<CPluginFunction>::Convert(CurrentObjects().plugin);
  if (!f || f->proc == nullptr) return false;
  if (f->proc(0) == 0) ExitEngine();
  return false;
}

// ---- Select and get of the kinds whose built-ins come later still keep their selections.
bool BiGetSound(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptSoundData, true), false;
}
bool BiSetSound(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptSoundData, false), false;
}
bool BiGetMovie(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptMovieData, true), false;
}
bool BiSetMovie(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptMovieData, false), false;
}
bool BiGetFile(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptFile, true), false;
}
bool BiSetFile(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptFile, false), false;
}
bool BiGetNet(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptNet, true), false;
}
bool BiSetNet(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptNet, false), false;
}
bool BiGetStream(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptStream, true), false;
}
bool BiSetStream(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptStream, false), false;
}
bool BiGetChar(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptAaCharSet, false), false;
}
bool BiSetChar(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptAaCharSet, false), false;
}
bool BiGetInput(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptInputDevice, false), false;
}
bool BiSetInput(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptInputDevice, true), false;
}
bool BiGetImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  return GetBuiltin(ctx, kScriptImage, false), false;
}
bool BiSetImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  return SelectBuiltin(ctx, kScriptImage, true), false;
}
bool BiGetText(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  return GetBuiltin(ctx, kScriptTextInfo, false), false;
}
bool BiSetText(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  return SelectBuiltin(ctx, kScriptTextInfo, true), false;
}

}  // namespace

void InstallStringBuiltins();
void InstallDisplayBuiltins();
void InstallDrawImageBuiltins();
void InstallDrawBlitBuiltins();
void InstallFileBuiltins();
void InstallNetBuiltins();
void InstallInputBuiltins();
void InstallCharBuiltins();
void InstallTextBuiltins();

ORVANE_START_CODE void InstallFamilyBuiltins() {
  InstallStringBuiltins();
  InstallDisplayBuiltins();
  InstallDrawImageBuiltins();
  InstallDrawBlitBuiltins();
  InstallFileBuiltins();
  InstallNetBuiltins();
  InstallInputBuiltins();
  InstallCharBuiltins();
  InstallTextBuiltins();
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {128, Guarded<BiConvSlashPath>},
      {127, Guarded<BiConvYenPath>},
      {121, Guarded<BiMargePath>},
      {120, Guarded<BiSplitPath>},
      {123, Guarded<BiGetAbsolutePath>},
      {122, Guarded<BiGetRelativePath>},
      {124, Guarded<BiIsWildPathCompare>},
      {115, Guarded<BiLoadProfile>},
      {116, Guarded<BiGetProfile>},
      {117, Guarded<BiSetProfile>},
      {118, Guarded<BiWriteProfileString>},
      {119, Guarded<BiReadProfileString>},
      {0, Guarded<BiSetTitle>},
      {58, Guarded<BiMessage>},
      {141, Guarded<BiUrl>},
      {138, Guarded<BiCommand>},
      {177, Guarded<BiSetCopyright>},
      {212, Guarded<BiCheckSystemName>},
      {131, Guarded<BiGetWindowsPath>},
      {132, Guarded<BiGetCurrentPath>},
      {14, Guarded<BiSetDelayTime>},
      {15, Guarded<BiSetFPS>},
      {16, Guarded<BiGetDelayTime>},
      {17, Guarded<BiClearTime>},
      {18, Guarded<BiWaitTime>},
      {19, Guarded<BiIsDelayTime>},
      {20, Guarded<BiSetShowTime>},
      {172, Guarded<BiSetTimePause>},
      {176, Guarded<BiGetTimeCount>},
      {280, Guarded<BiSetForceFrame>},
      {281, Guarded<BiGetCurrentFPS>},
      {282, Guarded<BiGetCurrentFPS2>},
      {224, Guarded<BiLoadPlugin>},
      {225, Guarded<BiGetPluginFunction>},
      {226, Guarded<BiGetPlugin>},
      {227, Guarded<BiSetPlugin>},
      {228, Guarded<BiCallPlugin>},
      {91, Guarded<BiGetSound>},
      {92, Guarded<BiSetSound>},
      {96, Guarded<BiGetMovie>},
      {97, Guarded<BiSetMovie>},
      {206, Guarded<BiGetFile>},
      {207, Guarded<BiSetFile>},
      {147, Guarded<BiGetNet>},
      {148, Guarded<BiSetNet>},
      {178, Guarded<BiGetStream>},
      {232, Guarded<BiSetStream>},
      {246, Guarded<BiGetChar>},
      {247, Guarded<BiSetChar>},
      {70, Guarded<BiGetInput>},
      {59, Guarded<BiSetInput>},
      {76, Guarded<BiGetImage>},
      {77, Guarded<BiSetImage>},
      {81, Guarded<BiGetText>},
      {82, Guarded<BiSetText>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}
