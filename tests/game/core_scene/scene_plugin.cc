// A test plug-in made from the game library: the plug-in protocol as core.opi has it, and a
// `start` that plays one fixed scene through the game's sprite table on the engine's TSS exports
// (backgrounds, a masked reveal, a cross-fade, pictures with alpha, a definition whose cells
// animate and a motion the plug-in waits for). The pictures and texts are written by the test.
#include <cstdio>
#include <new>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/motion.h"
#include "game/plugin.h"
#include "game/resource.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "platform/module.h"
#include "tests/game/core_scene/scene_layout.h"

namespace {

using namespace core_scene;

HMODULE g_engine_module = nullptr;
bool g_running = false;

void* LookUpInModule(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void PlayScene() {
  RegisterWipe("ramp", kRampFile, kRampMs, 0);
  RegisterWipe("fade", "", kFadeMs, 0);
  sprCreateColor(kBackgroundSlot, 3, kFirstBackground, kScreenW, kScreenH, 0, 0, 0, 0, 0, 0, "", "none");
  sprCreateAnim(kBlueSlot, 1, kBlueFile, kBlueRect.x, kBlueRect.y, 0, 0, 10, "", "", 0, "", "ramp");
  // The background changes under the blue sprite: the old screen is frozen and the new colour
  // fades in over it.
  sprCreateColor(kBackgroundSlot, 3, kSecondBackground, kScreenW, kScreenH, 0, 0, 0, 0, 0, 0, "", "fade");
  sprCreateAnim(kLayerSlot, 1, kLayerName, kLayer.x, kLayer.y, 0, 0, 11, "alayer", "", 0, "", "none");
  sprCreateAnim(kSplitSlot, 1, kSplitName, kSplit.x, kSplit.y, 0, 0, 11, "alpha", "", 0, "", "none");
  LoadSpriteDef(kCharaSlot, 1, "chara", kCharaStartX, kCharaStartY, 12, 0, "none");
  sprLoadMotion(kScriptSpriteBase, "move", true);
  // The cells stop long before this wait ends; the last frame shows where everything stays.
  WaitFor(300, nullptr, 0);
  sprRender();
}

void Cleanup() noexcept {
  try {
    sprClearAll();
  } catch (...) {
  }
  ResetSpriteGlobals();
  ClearWipes();
  ReleaseCaches();
  ResetTimerGlobals();
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
  static constexpr char kName[] = "start";
  if (index != 0) return 0;
  for (uint32_t i = 0; buffer && i < size; ++i) buffer[i] = i < sizeof(kName) ? kName[i] : '\0';
  return sizeof(kName) - 1;
}

void ovUnloadSystem() noexcept {
  if (!g_engine_module) return;
  FreeLibrary(g_engine_module);
  g_engine_module = nullptr;
  ClearEngineApi();
}

void ovUnloadExit() noexcept {}

// Plays the scene once; a game error has shown its box already, anything else is said on stderr.
int32_t start(int32_t) noexcept {
  if (!EngineApiBound() || g_running) return 1;
  g_running = true;
  try {
    ResetTimerGlobals();
    ResetResourceDefaults();
    ResetSpriteGlobals();
    SetTimerRedraw(&sprRender);
    PlayScene();
  } catch (const DExceptGame&) {
  } catch (const std::bad_alloc&) {
    std::fputs("[core_scene] out of memory\n", stderr);
  } catch (...) {
    std::fputs("[core_scene] unexpected exception\n", stderr);
  }
  Cleanup();
  g_running = false;
  return 1;
}
