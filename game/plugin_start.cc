// The script-callable function of core.opi: the whole game inside the plug-in's guards.
#include "game/plugin.h"
#include "game/start.h"

int32_t start(int32_t) noexcept {
  return RunGameGuarded(&GameMain);
}
