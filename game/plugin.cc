// The plug-in protocol: version, binding the engine by name, the announced function, unloading,
// and the guards that run a game entry (start itself is in plugin_start.cc, so that a test plug-in
// made from the game library can bring a start of its own).
#include "game/plugin.h"

#include <cstring>
#include <new>

#include "base/dlogstream.h"
#include "game/choice.h"
#include "game/court.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/inquiry.h"
#include "game/resource.h"
#include "game/scenario.h"
#include "game/sound.h"
#include "game/sprite.h"
#include "game/stage.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "platform/module.h"

namespace {

HMODULE g_engine_module = nullptr;  // the engine, loaded by path; null while none is bound
bool g_game_running = false;        // inside start

constexpr char kFunctionName[] = "start";
constexpr uint32_t kFunctionNameLength = 5;

void* LookUpInModule(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void LogLine(const char* text) noexcept {
  try {
    DDebugLog() << text;
  } catch (...) {
  }
}

// Each release step runs on its own: one that fails is logged and the next still runs.
template <class F>
void ReleaseStep(F&& step) noexcept {
  try {
    step();
  } catch (...) {
    LogLine("[start] a release step of the game failed\n");
  }
}

// Everything the game holds is given back here, once, after every way out of the game: the
// items, the sound effect, the music, the stage, then every table back to empty so that the
// next start begins from nothing.
void ReleaseGame() noexcept {
  ReleaseStep([] { ReleaseItemTable(); });
  ReleaseStep([] { ReleaseSe(); });
  ReleaseStep([] { ReleaseBgm(); });
  CleanupGame();
  ResetScenarioGlobals();
  ResetTimerGlobals();
  ReleaseStep([] { sprClearAll(); });
  ResetTextLayerGlobals();
  ResetSpriteGlobals();
  ReleaseStep([] { ResetChoiceGlobals(); });
  ResetCourtGlobals();
  ResetInquiryGlobals();
  ReleaseStep([] { ClearWipes(); });
  ReleaseStep([] { ReleaseCaches(); });
}

}  // namespace

uint32_t ovGetVersion() noexcept {
  return 0x100;
}

int32_t ovLoadSystem(const char* engine_path) noexcept {
  if (g_engine_module) return 0;
  g_engine_module = LoadLibraryA(engine_path);
  if (!g_engine_module) return 0;
  return BindEngineApi(&LookUpInModule, g_engine_module) ? 1 : 0;
}

int32_t ovLoadInit() noexcept {
  return 1;
}

uint32_t ovGetFunction(char* buffer, uint32_t size, uint32_t index) noexcept {
  if (index != 0) return 0;
  if (buffer) {
    for (uint32_t i = 0; i < size; ++i) buffer[i] = i < kFunctionNameLength ? kFunctionName[i] : '\0';
  }
  return kFunctionNameLength;
}

void ovUnloadSystem() noexcept {
  if (!g_engine_module) return;
  FreeLibrary(g_engine_module);
  g_engine_module = nullptr;
  ClearEngineApi();
}

void ovUnloadExit() noexcept {}

int32_t RunGameGuarded(void (*entry)()) noexcept {
  if (!EngineApiBound() || g_game_running) return 1;
  g_game_running = true;
  try {
    ResetScenarioGlobals();
    ResetTimerGlobals();
    ResetResourceDefaults();
    ResetSpriteGlobals();
    ResetTextLayerGlobals();
    ResetCourtGlobals();
    ResetInquiryGlobals();
    ResetChoiceGlobals();
    SetTimerRedraw(&sprRender);
    Handlers() = BuiltGameHandlers();
    entry();
  } catch (const DExceptGame&) {
  } catch (const std::bad_alloc&) {
    try {
      WarningMessage("メモリが不足しています。\n");
    } catch (...) {
    }
  } catch (...) {
    try {
      WarningMessage("ゲームの内部で予期しないエラーが起きました。\n");
    } catch (...) {
    }
  }
  ReleaseGame();
  g_game_running = false;
  return 1;
}
