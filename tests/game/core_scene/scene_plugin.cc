// A test plug-in made from the game library: core.opi's plug-in protocol and guards, and a
// `start` that plays one fixed scene through the game's sprite table on the engine's TSS exports
// (backgrounds, a masked reveal, a cross-fade, pictures with alpha, a definition whose cells
// animate and a motion the plug-in waits for). The pictures and texts are written by the test.
#include "game/motion.h"
#include "game/plugin.h"
#include "game/resource.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "tests/game/core_scene/scene_layout.h"

namespace {

using namespace core_scene;

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

}  // namespace

// Plays the scene once inside the game's own guards and clean-up.
int32_t start(int32_t) noexcept {
  return RunGameGuarded(&PlayScene);
}
