// Fuzz target: any text through the message output on the stand-in engine, whose event wait
// answers every wait with a left click at a moving mouse position. Play-ending errors are caught
// as the game's start does; the engine reports closing after a while of virtual time, so every
// wait ends; the clean-up must leave nothing live.
#include <cstring>
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/choice.h"
#include "game/message.h"
#include "game/scenario.h"

namespace {

bool g_click_pending = false;
int32_t g_step = 0;

int32_t WaitEvent(int32_t ms) noexcept {
  g_click_pending = true;
  ++g_step;
  return stand_in_engine::model::WaitEvent(ms);
}

int32_t GetMouse(int32_t* kind, int32_t* x, int32_t* y) noexcept {
  if (!g_click_pending) return 0;
  g_click_pending = false;
  *kind = g_step % 5 == 0 ? 2 : 0;  // now and then a right click
  *x = (g_step * 37) % 640;
  *y = (g_step * 53) % 480;
  return 1;
}

void GetMousePos(int32_t* x, int32_t* y) noexcept {
  *x = (g_step * 37) % 640;
  *y = (g_step * 53) % 480;
}

void* Lookup(void* context, const char* name) {
  if (std::strcmp(name, "ovWaitEvent") == 0) return reinterpret_cast<void*>(&WaitEvent);
  if (std::strcmp(name, "ovGetMouse") == 0) return reinterpret_cast<void*>(&GetMouse);
  if (std::strcmp(name, "ovGetMousePos") == 0) return reinterpret_cast<void*>(&GetMousePos);
  return stand_in_engine::Lookup(context, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 14) return 0;
  stand_in_engine::StartPlay();
  if (!BindEngineApi(&Lookup, nullptr)) __builtin_trap();
  stand_in_engine::g_exit_at = 1000 + 200000;
  g_click_pending = false;
  g_step = 0;
  ResetChoiceGlobals();
  MessageTableHooks() = MessageHooks{};
  const std::string text(reinterpret_cast<const char*>(data), size);
  DScenario scenario;
  {
    CurrentScenarioScope scope(&scenario);
    try {
      InitTextLayers();
      for (uint32_t flags = 0; flags < 4; ++flags) {
        if (ShowMessage(text.c_str(), "sys/se/x", flags)) break;
        ShowMessage("[np]", "", flags);
      }
    } catch (const DExceptGame&) {
    }
  }
  if (CurrentScenario() != nullptr) __builtin_trap();
  DestroyButtons();
  ResetButtons();
  stand_in_engine::EndPlay();
  return 0;
}
