// The engine's unit table and the walks over it.
#include "shell/engine_units.h"

#include <cstring>

#include "display/tss/dtss_manager.h"
#include "display/draw/screen.h"
#include "media/movie/movie.h"
#include "shell/cframetimer.h"
#include "shell/cmainwindow.h"
#include "shell/cpluginmanager.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"

namespace {

bool StartWindow() {
  return MainWindow().Create();
}
void StopWindow() {
  MainWindow().Destroy();
}
// The TSS unit starts on the main window with point filtering (flag 0x10).
bool StartTss() {
  return TssManager().Create(MainWindow(), kDtssPoint);
}
void StopTss() {
  TssManager().Destroy();
}
void TssUseGdi(bool on) {
  TssManager().UseGDI(on);
}
bool StartTime() {
  return FrameTimer().Init();
}
void StopTime() {
  FrameTimer().Term();
}
void SuspendTime() {
  FrameTimer().Suspend();
}
void ResumeTime() {
  FrameTimer().Resume();
}
void StopPlugins() {
  PluginManager().UnloadAll();
}
bool StartDraw() {
  return DrawScreen().Init(MainWindow());
}
void StopDraw() {
  DrawScreen().Shutdown();
}
// Back from a suspension: the whole screen is drawn again.
void ResumeDraw() {
  DrawScreen().GetSpriteList().SetAllDirty();
}
void DrawUseGdi(bool on) {
  DrawScreen().UseGDI(on);
}
bool StartMovie() {
  return MovieUnit().Init(MainWindow());
}
void StopMovie() {
  MovieUnit().Shutdown();
}
void SuspendMovie() {
  MovieUnit().Suspend();
}
void ResumeMovie() {
  MovieUnit().Resume();
}
void MovieTimePause(bool on) {
  MovieUnit().SetTimePause(on);
}
bool StartVm() {
  return InitVmUnit();
}
void StopVm() {
  TermVmUnit();
}

}  // namespace

std::vector<EngineUnit> DefaultEngineUnits() {
  using V = UnitVariant;
  return {
      {"Window", V::kAlways, StartWindow, StopWindow, true, "[Orvane] initialized Window unit.\r\n"},
      {"TSS", V::kTssOnly, StartTss, StopTss, true, "[Orvane] initialized TSS unit.\r\n", nullptr, nullptr,
       TssUseGdi},
      {"Draw", V::kDrawOnly, StartDraw, StopDraw, true, "[Orvane] initialized Draw unit.\r\n", nullptr, ResumeDraw,
       DrawUseGdi},
      // Rows without start and stop: units whose code is not part of the engine yet.
      {"Midi", V::kAlways, nullptr, nullptr, false, "[Orvane] initialized Midi unit.\r\n"},
      {"Time", V::kAlways, StartTime, StopTime, true, "[Orvane] initialized Time unit.\r\n", SuspendTime,
       ResumeTime},
      {"Input", V::kAlways, nullptr, nullptr, true, "[Orvane] initialized Input unit.\r\n"},
      {"Text", V::kAlways, nullptr, nullptr, true, "[Orvane] initialized Text unit.\r\n"},
      {"Sound", V::kAlways, nullptr, nullptr, false, "[Orvane] initialized Sound unit.\r\n"},
      {"Movie", V::kAlways, StartMovie, StopMovie, true, "[Orvane] initialized Movie unit.\r\n", SuspendMovie,
       ResumeMovie, nullptr, MovieTimePause},
      {"File", V::kAlways, nullptr, nullptr, true, "[Orvane] initialized File unit.\r\n"},
      {"Net", V::kAlways, nullptr, nullptr, true, "[Orvane] initialized Net unit.\r\n"},
      {"Event", V::kAlways, nullptr, nullptr, true, "[Orvane] initialized Event unit.\r\n"},
      // Plug-ins load on demand: nothing to start.
      {"Plugin", V::kAlways, nullptr, StopPlugins, true, "[Orvane] initialized Plugin unit.\r\n"},
      {"VM", V::kAlways, StartVm, StopVm, true, "[Orvane] initialized VM unit.\r\n"},
  };
}

std::vector<EngineUnit>& EngineUnits() {
  static std::vector<EngineUnit> units = DefaultEngineUnits();
  return units;
}

bool UnitSelected(const EngineUnit& unit, uint32_t startup_flags) {
  bool tss = (startup_flags & kStartupTss) != 0;
  switch (unit.variant) {
    case UnitVariant::kTssOnly:
      return tss;
    case UnitVariant::kDrawOnly:
      return !tss;
    default:
      return true;
  }
}

void SuspendUnits(bool suspend) {
  const uint32_t flags = GetStartupFlags();
  for (const char* name : kSuspendOrder) {
    for (const EngineUnit& u : EngineUnits()) {
      if (std::strcmp(u.name, name) != 0 || !UnitSelected(u, flags)) continue;
      void (*step)() = suspend ? u.suspend : u.resume;
      if (step) step();
    }
  }
}

void DisplayUseGdi(bool on) {
  const uint32_t flags = GetStartupFlags();
  for (const EngineUnit& u : EngineUnits()) {
    if (u.use_gdi && UnitSelected(u, flags)) u.use_gdi(on);
  }
}

void SetUnitsTimePause(bool on) {
  const uint32_t flags = GetStartupFlags();
  for (const EngineUnit& u : EngineUnits()) {
    if (u.set_time_pause && UnitSelected(u, flags)) u.set_time_pause(on);
  }
}
