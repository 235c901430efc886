// Fuzz target: arbitrary motion text loaded against three script sprites on the stand-in engine
// and played for a bounded virtual time (a waiting motion ends when the engine reports closing);
// play-ending errors are caught as start catches them.
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/motion.h"
#include "game/sprite_def.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  using namespace stand_in_engine;
  StartPlay();
  g_files["m.mot"] = std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
  g_exit_at = timeGetTime() + 3000;
  try {
    sprCreateAnim(20, 0, "d/pic", 0, 0, 0, 0, -1, "", "4 loop 30", 0, "", "none");
    sprCreateAnim(21, 0, "d/a", 10, 10, 0, 0, -1, "", "", 0, "hide", "none");
    sprCreateAnim(22, 0, "d/b", 0, 0, 0, 0, -1, "", "", 0, "right bottom", "none");
    sprLoadMotion(20, "m", data[0] & 1);
    if (data[0] & 2) sprDestroy(21 + (data[0] >> 2) % 2);
    WaitFor(2000, nullptr, 0);
  } catch (const DExceptGame&) {
  }
  EndPlay();
  return 0;
}
