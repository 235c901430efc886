// Fuzz target: arbitrary animation shorthand through sprCreateAnim on the stand-in engine, then
// the animation played for a while; play-ending errors are caught as start catches them.
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/sprite_def.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 255) return 0;
  using namespace stand_in_engine;
  StartPlay();
  const std::string anim(reinterpret_cast<const char*>(data), size);
  try {
    sprCreateAnim(20, 0, "d/pic", 0, 0, 0, 0, -1, "", anim.c_str(), 0, "", "none");
    WaitFor(500, nullptr, 0);
  } catch (const DExceptGame&) {
  }
  EndPlay();
  return 0;
}
