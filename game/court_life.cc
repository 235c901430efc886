// Life gauge, the no-life scene, shouts and the verdict.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "game/court.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/motion.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/text_layer.h"
#include "game/tokenizer.h"
#include "platform/user.h"

namespace {

int32_t g_life = 5;
char g_nolife[kPathSize] = "start:nolife";

int32_t Slot(int32_t row) {
  return CourtElementAt(row).slot;
}
int32_t Level(int32_t row) {
  return CourtElementAt(row).level;
}

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

// The gauge's animation set for a life: life - 1 without overflow (the sprite table clamps a
// negative set to 0 and a set past the last one to the last).
int32_t GaugeSet(int32_t life) {
  return Saturate(static_cast<int64_t>(life) - 1);
}

bool Show(const char* text, uint32_t flags) {
  return Need(Handlers().ShowMessage, "ShowMessage")(text, nullptr, flags);
}

void PlaySe(const char* path) {
  Need(Handlers().sePlay, "sePlay")(path);
}

}  // namespace

void InitLife(bool from_save, const char* save_path) {
  g_life = 5;
  std::strcpy(g_nolife, "start:nolife");
  if (!from_save) return;
  g_life = static_cast<int32_t>(GetPrivateProfileIntA("save", "pt_life", 5, save_path));
  GetPrivateProfileStringA("save", "pt_nolife", "start:nolife", g_nolife, sizeof(g_nolife), save_path);
}

int32_t CurrentLife() {
  return g_life;
}

const char* NolifeTarget() {
  return g_nolife;
}

void courtSetLife(int32_t n) {
  if (n < 1 || n > 5) ScriptError("@courtSetLifeで設定したライフの値 \"%d\" は不正です。", n);
  g_life = n;
}

void courtSetNolifeScenario(const char* target) {
  DStrCopyToCharBoundary(target, g_nolife, sizeof(g_nolife));
}

void courtShowLife(bool wipe) {
  if (g_life <= 0) {
    courtHideCourtLife(wipe);
    return;
  }
  const int32_t gauge = Slot(kRowLifeGauge);
  if (!sprIsValid(gauge))
    LoadSpriteDef(gauge, 0, "sys/court_life", 800, 43, Level(kRowLifeGauge),
                  kStyleRight | kStyleTop | kStyleHide | kStyleCache, "none");
  sprSetAnimSet(gauge, GaugeSet(g_life));
  sprSetTransitionTime(0);
  sprShow(gauge, kNoSprite, wipe ? "none" : "fade");
  sprSetTransitionTime(300);
}

void courtHideCourtLife(bool nowipe) {
  const int32_t gauge = Slot(kRowLifeGauge);
  if (!sprIsValid(gauge)) return;
  sprSetTransitionTime(0);
  sprHide(gauge, nowipe ? "none" : "fade");
  sprDestroy(gauge);
  sprSetTransitionTime(300);
}

bool courtReduceLife() {
  if (g_life <= 0) return true;
  const int32_t gauge = Slot(kRowLifeGauge);
  const bool was_shown = sprIsValid(gauge);
  if (!was_shown) courtShowLife(false);
  PlaySe("sys/se/HP減少");
  const int32_t loss = Slot(kRowLifeLoss);
  LoadSpriteDef(loss, 0, "sys/court_lifedown", Saturate(800 - int64_t{43} * g_life), 43, Level(kRowLifeLoss),
                kStyleLeft | kStyleTop | kStyleShow | kStyleWipeHide | kStyleCache, "none");
  sprRender();
  Show("[w 1200]", 0);
  g_life -= 1;  // above 0 here, so no overflow
  if (was_shown && g_life > 0)
    sprSetAnimSet(gauge, GaugeSet(g_life));
  else
    courtHideCourtLife(false);
  if (sprIsValid(loss)) {
    sprHide(loss, "none");
    sprDestroy(loss);
  }
  if (g_life > 0) return false;

  // The no-life scene: its result ends the scene that lost the last unit. The error position
  // of the caller's line is put back after it.
  const std::string file = ErrorFileName();
  const int32_t line = ErrorLine();
  std::string result;
  {
    DScenario nolife;
    nolife.JumpTo(g_nolife, nullptr);
    RunScenario(nolife, 0);
    result = nolife.result;
  }
  SetErrorPosition(file.c_str(), line);
  if (DScenario* current = CurrentScenario())
    DStrCopyToCharBoundary(result.c_str(), current->result, sizeof(current->result));
  return true;
}

void courtShowKakegoe(int32_t item, const char* word, bool right) {
  if (item >= 0) ShowItemKurae(item);
  char picture[kPathSize];
  std::snprintf(picture, sizeof(picture), "sys/court_%s", word);
  const int32_t shout = Slot(kRowShout);
  if (right)
    LoadSpriteDef(shout, 0, picture, 1033, 60, Level(kRowShout),
                  kStyleRight | kStyleTop | kStyleShow | kStyleCache, "none");
  else
    LoadSpriteDef(shout, 0, picture, -233, 60, Level(kRowShout),
                  kStyleLeft | kStyleTop | kStyleShow | kStyleCache, "none");
  PlaySe("sys/se/異議あり");
  // The motion files name the shout as sprite 0: its base is the shout's own slot.
  sprLoadMotion(shout, right ? "sys/court_kakegoe_right" : "sys/court_kakegoe_left", true);
  if (sprIsValid(shout)) {
    sprHide(shout, "none");
    sprDestroy(shout);
  }
  if (item >= 0) HideItemKurae();
}

void courtShowPlea(bool guilty) {
  const bool text_shown = IsTextLayerShown("def");
  if (text_shown) HideTextLayer("def");
  const int32_t plate = Slot(kRowNamePlate);
  const bool plate_shown = sprIsValid(plate) && sprIsShown(plate);
  if (plate_shown) sprHide(plate, "none");
  const uint32_t style = kStyleCenter | kStyleMiddle | kStyleShow | kStyleWipeHide | kStyleCache;
  const int32_t first = Slot(kRowVerdictFirst), second = Slot(kRowVerdictSecond);
  PlaySe("sys/se/判決");
  LoadSpriteDef(first, 0, guilty ? "sys/court_guilty0" : "sys/court_innocence0", 200, 300,
                Level(kRowVerdictFirst), style, "slowwipe");
  sprRender();
  Show("[w 800]", 0);
  PlaySe("sys/se/判決");
  LoadSpriteDef(second, 0, guilty ? "sys/court_guilty1" : "sys/court_innocence1", 600, 300,
                Level(kRowVerdictSecond), style, "slowwipe");
  sprRender();
  Show("[w 800]", 0);
  sprSetDisplayFlags(first, kStyleWipeHide);
  sprSetDisplayFlags(second, kStyleWipeHide);
  for (int32_t slot : {first, second}) {
    if (!sprIsValid(slot)) continue;
    sprHide(slot, "slowwipe");
    sprDestroy(slot);
  }
  if (plate_shown) sprShow(plate, kNoSprite, "none");
  if (text_shown) ShowTextLayer("def");
}
