// Fuzz target: arbitrary sprite definition text through LoadSpriteDef on the stand-in engine,
// then its animation played for a while; play-ending errors are caught as start catches them.
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/sprite_def.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  using namespace stand_in_engine;
  StartPlay();
  g_files["d/t.spr"] = std::string(reinterpret_cast<const char*>(data), size);
  try {
    LoadSpriteDef(20, 0, "d/t", 0, 0, -1, 0, "none");
    WaitFor(500, nullptr, 0);
  } catch (const DExceptGame&) {
  }
  EndPlay();
  return 0;
}
