// The engine's unit table and the walks over it.
#include "shell/engine_units.h"

#include <cstring>

#include "display/tss/dtss_manager.h"
#include "display/draw/screen.h"
#include "display/text/text_unit.h"
#include "media/dsnd.h"
#include "media/midi/midi_manager.h"
#include "media/movie/movie.h"
#include "shell/ceventwaiter.h"
#include "shell/cfilemanager.h"
#include "shell/cframetimer.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
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
bool StartMidi() {
  return TheMidiManager().Open();
}
void StopMidi() {
  TheMidiManager().Close();
}
void SuspendMidi() {
  TheMidiManager().SetActive(false);
}
void ResumeMidi() {
  TheMidiManager().SetActive(true);
}
void SetMidiTimePause(bool on) {
  TheMidiManager().SetTimePause(on);
}
// The sound device: 3D mode when the start-up pass asked for "sound3d".
bool StartSound() {
  const bool sound3d = (GetStartupFlags() & kStartupSound3d) != 0;
  return TheDsnd().Create(&MainWindow(), sound3d ? 3 : 0);
}
void StopSound() {
  TheDsnd().Release();
}
void SuspendSound() {
  TheDsnd().Suspend();
}
void ResumeSound() {
  TheDsnd().Resume();
}
void SetSoundTimePause(bool on) {
  TheDsnd().SetTimePause(on);
}
bool StartText() {
  return StartTextUnit();
}
void StopText() {
  StopTextUnit();
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
      {"Midi", V::kAlways, StartMidi, StopMidi, false, "[Orvane] initialized Midi unit.\r\n", SuspendMidi,
       ResumeMidi, nullptr, SetMidiTimePause},
      {"Time", V::kAlways, StartTime, StopTime, true, "[Orvane] initialized Time unit.\r\n", SuspendTime,
       ResumeTime},
      {"Input", V::kAlways, StartInputUnit, StopInputUnit, true, "[Orvane] initialized Input unit.\r\n"},
      {"Text", V::kAlways, StartText, StopText, true, "[Orvane] initialized Text unit.\r\n"},
      {"Sound", V::kAlways, StartSound, StopSound, false, "[Orvane] initialized Sound unit.\r\n", SuspendSound,
       ResumeSound, nullptr, SetSoundTimePause},
      {"Movie", V::kAlways, StartMovie, StopMovie, true, "[Orvane] initialized Movie unit.\r\n", SuspendMovie,
       ResumeMovie, nullptr, MovieTimePause},
      {"File", V::kAlways, StartFileUnit, StopFileUnit, true, "[Orvane] initialized File unit.\r\n"},
      {"Net", V::kAlways, StartNetUnit, StopNetUnit, true, "[Orvane] initialized Net unit.\r\n"},
      {"Event", V::kAlways, StartEventUnit, StopEventUnit, true, "[Orvane] initialized Event unit.\r\n"},
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
