// Exports of the window, system, script-running, frame-timing and path families. Every export
// catches everything and gives its failure value.
#include <cstring>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "api/ov_api.h"
#include "base/dpath.h"
#include "platform/shellapi.h"
#include "platform/user.h"
#include "shell/cframetimer.h"
#include "shell/cmainwindow.h"
#include "shell/engine_units.h"
#include "vm/script_loader.h"
#include "vm/startup_config.h"

#define OV_GUARD(failure, ...) \
  try {                        \
    __VA_ARGS__;               \
  } catch (...) {              \
    return failure;            \
  }

void ovAddWndProc(OvWndProc proc) noexcept {
  OV_GUARD(, if (proc) MainWindow().AddWndProc(proc))
}
void ovDelWndProc(OvWndProc proc) noexcept {OV_GUARD(, MainWindow().DelWndProc(proc))} int32_t
    ovSetTitle(const char* text) noexcept {
        OV_GUARD(0, return SetWindowTextA(MainWindow().GetHandle(), text ? text : "") ? 1 : 0)} int32_t
    ovRandom(int32_t a, int32_t b) noexcept {
  OV_GUARD(0, return RandomBetween(a, b))
}
void ovExit() noexcept {OV_GUARD(, ExitEngine())}

// The shell's "open" verb on the text itself: the text goes to the shell as one file argument and
// is never parsed into a command line.
int32_t ovUrl(const char* text) noexcept {
  OV_GUARD(0, HINSTANCE r = ShellExecuteA(MainWindow().GetHandle(), "open", text ? text : "", nullptr,
                                          nullptr, SW_SHOWNORMAL);
           return static_cast<int32_t>(reinterpret_cast<intptr_t>(r)))
}

int32_t ovCommand(const char* file, const char* parameters) noexcept {
  try {
    char absolute[kApiPathSize];
    ResolveAgainstTask(absolute, file);
    char directory[kApiPathSize] = {}, name[kApiPathSize] = {}, extension[kApiPathSize] = {};
    DSplitPath(DString(absolute), directory, name, extension);
    const char* params = parameters && parameters[0] ? parameters : nullptr;
    HINSTANCE r = ShellExecuteA(MainWindow().GetHandle(), "open", absolute, params, directory, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(r) > 32 ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void ovSetCopyright(const char* text) noexcept {
    OV_GUARD(, MainWindow().SetCopyright(DString(text ? text : "")))}

int32_t ovExecute(const char* path, int32_t n) noexcept {
    OV_GUARD(0, return ExecuteScriptFile(path ? path : "", n, nullptr) ? 1 : 0)} int32_t
    ovExecuteName(const char* path, const char* method) noexcept {
  try {
    char resolved[kApiPathSize];
    ResolveAgainstTask(resolved, path);
    return ExecuteScriptFile(resolved, 0, method ? method : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovSetDataFile(const char* path) noexcept {OV_GUARD(0, return SetDataFile(path) ? 1 : 0)}
// There is no Windows directory here: nothing is written and the length is 0.
int32_t ovGetWindowsPath(char*) noexcept {
  return 0;
}
void ovGetCurrentPath(char* buffer) noexcept {
  if (buffer == nullptr) return;
  OV_GUARD(, CopyPath(buffer, RunningDirectory()))
}
namespace {

// In the sprite system's mode every call is one GDI use more or less, counted by that unit (through
// the unit table, as the main window's own brackets go); otherwise the main window's GDI mode is
// entered or left once, however often it is asked.
void UseGdi(bool on) {
  if (GetStartupFlags() & kStartupTss)
    DisplayUseGdi(on);
  else
    MainWindow().UseGDI(on);
}

}  // namespace

void ovUseGDI(int32_t flag) noexcept {
  OV_GUARD(, UseGdi(flag != 0))
}

// ---- Frame timing.
void ovSetDelayTime(float ms) noexcept {
  OV_GUARD(, FrameTimer().SetInterval(ms))
}
void ovSetFPS(int32_t fps) noexcept {
  OV_GUARD(, FrameTimer().SetFPS(fps))
}
float ovGetDelayTime() noexcept {
  OV_GUARD(0.0f, return FrameTimer().GetInterval())
}
void ovSetForceFrame(int32_t n) noexcept {
  OV_GUARD(, FrameTimer().SetSkipLimit(static_cast<uint32_t>(n)))
}
void ovClearTime() noexcept {OV_GUARD(, FrameTimer().Restart())} int32_t
    ovWaitTime() noexcept {OV_GUARD(0, return FrameTimer().Wait() ? 1 : 0)} int32_t
    ovIsDelayTime() noexcept {OV_GUARD(0, return FrameTimer().IsSkip() ? 1 : 0)} int32_t
    ovGetTimeCount() noexcept {OV_GUARD(0, return static_cast<int32_t>(FrameTimer().GetCount()))} int32_t
    ovGetCurrentFPS() noexcept {OV_GUARD(0, return static_cast<int32_t>(FrameTimer().GetLoopRate()))} int32_t
    ovGetCurrentFPS2() noexcept {
  OV_GUARD(0, return static_cast<int32_t>(FrameTimer().GetDrawnRate()))
}
void ovSetShowTime(int32_t flag) noexcept {
  OV_GUARD(, FrameTimer().ShowFPS(flag != 0))
}
void ovSetTimePause(int32_t flag) noexcept {
  OV_GUARD(, FrameTimer().SetTimePause(flag != 0))
}

// ---- Paths. Every out buffer receives at most 263 bytes and the terminator.
void ovConvSlashPath(char* out, const char* path) noexcept {
  if (out == nullptr) return;
  OV_GUARD(, CopyPath(out, path); DConvSlashPath(out))
}
void ovConvYenPath(char* out, const char* path) noexcept {
  if (out == nullptr) return;
  OV_GUARD(, CopyPath(out, path); DConvYenPath(out))
}
void ovMargePath(char* out, const char* directory, const char* name, const char* extension) noexcept {
  if (out == nullptr) return;
  OV_GUARD(, char dir[kApiPathSize]; char nm[kApiPathSize]; CopyPath(dir, directory); CopyPath(nm, name);
           DMargePath(out, DString(dir), DString(nm), DString(extension ? extension : "")))
}
void ovSplitPath(char* directory, char* name, char* extension, const char* path) noexcept {
  OV_GUARD(, char d[kApiPathSize] = {}; char n[kApiPathSize] = {}; char e[kApiPathSize] = {};
           DSplitPath(DString(path ? path : ""), d, n, e); if (directory) CopyPath(directory, d);
           if (name) CopyPath(name, n); if (extension) CopyPath(extension, e))
}
namespace {
void AbsRelExport(char* out, const char* path, const char* base, bool absolute) {
  char b[kApiPathSize];
  CopyPath(b, base);
  if (b[0] == '\0') CopyPath(b, RunningDirectory());
  const DString p(path ? path : "");
  DStringBuffer r = absolute ? DGetAbsolutePath(p, DString(b)) : DGetRelativePath(p, DString(b));
  CopyPath(out, r.GetText());
}
}  // namespace
void ovGetAbsolutePath(char* out, const char* path, const char* base) noexcept {
  if (out == nullptr) return;
  OV_GUARD(, AbsRelExport(out, path, base, true))
}
void ovGetRelativePath(char* out, const char* path, const char* base) noexcept {
  if (out == nullptr) return;
  OV_GUARD(, AbsRelExport(out, path, base, false))
}
int32_t ovIsWildPathCompare(const char* path, const char* pattern) noexcept {
  OV_GUARD(0, char p[kApiPathSize]; CopyPath(p, path);
           return DIsWildPathCompare(DString(pattern ? pattern : ""), DString(p)) ? 1 : 0)
}
