// The stage: the court element table, the chapter-or-system picture lookup, the background with
// its pan, the foreground, the three character classes, the name plate and the court backgrounds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/dpath.h"
#include "game/court.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/timer.h"
#include "game/tokenizer.h"

namespace {

constexpr CourtElement kElements[kCourtElementCount] = {
    {27, 16, 0}, {29, 17, 0}, {28, 18, 0}, {41, 19, 0}, {30, 20, 1}, {20, 20, 1}, {22, 21, 1}, {23, 21, 1},
    {24, 21, 1}, {25, 21, 1}, {26, 21, 1}, {42, 21, 1}, {31, 21, 1}, {32, 21, 1}, {36, 21, 1}, {37, 22, 1},
    {21, 82, 1}, {43, 82, 0}, {33, 82, 1}, {34, 82, 1}, {38, 82, 1}, {35, 83, 1}, {39, 83, 1}, {40, 83, 1},
};
uint8_t g_was_shown[kCourtElementCount] = {};

struct CharaClass {
  int32_t row;
  uint32_t anchor;
  const char* anchor_style;
  int32_t x = 0, y = 0;
  char shown[kPathSize] = "";
};
CharaClass g_classes[3] = {
    {kRowCharaLeft, kStyleLeft | kStyleBottom, "left bottom"},
    {kRowCharaCenter, kStyleCenter | kStyleBottom, "center bottom"},
    {kRowCharaRight, kStyleRight | kStyleBottom, "right bottom"},
};
char g_background[kPathSize] = "";
char g_foreground[kPathSize] = "";
int32_t g_back_pos = 0;

constexpr uint32_t kLeftTop = kStyleLeft | kStyleTop;

int32_t ClassSlot(int32_t c) {
  return kElements[g_classes[c].row].slot;
}
int32_t ClassLevel(int32_t c) {
  return kElements[g_classes[c].row].level;
}

void CheckClass(int32_t c) {
  if (c < 0 || c >= 3) ScriptError("キャラクラス番号 %d は不正", c);
}

// The background must be in use: the sprite error names it as -17.
void NeedBackground() {
  sprCheck(kBackgroundSlot);
}

void SaturatedPos(int32_t slot, int64_t x, int64_t y, uint32_t style) {
  auto clamp = [](int64_t v) {
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
  };
  sprSetPos(slot, clamp(x), clamp(y), style);
}

bool SameName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

}  // namespace

const CourtElement& CourtElementAt(int32_t row) {
  return kElements[row];
}

uint8_t& CourtElementWasShown(int32_t row) {
  return g_was_shown[row];
}

void ChapterOrSystem(const char* name, char* out) {
  char probe[kPathSize];
  DMargePath(probe, DString(ChapterFolder()), DString(name), DString("spr"));
  if (g_engine.ovIsFileExist(probe))
    DMargePath(out, DString(ChapterFolder()), DString(name), DString(""));
  else
    DMargePath(out, DString("sys"), DString(name), DString(""));
}

void ResetCourtStage() {
  for (CharaClass& c : g_classes) {
    c.x = c.y = 0;
    c.shown[0] = '\0';
  }
  g_background[0] = g_foreground[0] = '\0';
  g_back_pos = 0;
}

bool IsCurrentBackground(const char* name) {
  if (!name || !name[0]) return false;
  char joined[kPathSize];
  DMargePath(joined, DString(ChapterFolder()), DString(name), DString(""));
  if (SameName(g_background, joined)) return true;
  DMargePath(joined, DString("sys"), DString(name), DString(""));
  return SameName(g_background, joined);
}

const char* CurrentBackgroundName() {
  return g_background;
}
const char* CurrentForegroundName() {
  return g_foreground;
}
int32_t BackgroundPosition() {
  return g_back_pos;
}
const char* CharaShownFile(int32_t c) {
  return c >= 0 && c < 3 ? g_classes[c].shown : "";
}

void backSet(const char* file, const char* color, int32_t pos, bool noclear, const char* wipe, bool nowipe) {
  char name[kPathSize] = "";
  if (file[0]) ChapterOrSystem(file, name);
  DStrCopyToCharBoundary(name, g_background, sizeof(g_background));
  g_back_pos = pos;
  const int32_t front = kElements[kRowForeground].slot;
  if (sprIsValid(front)) sprSetDisplayFlags(front, kStyleBackHide | kStyleWipeNoFade | kStyleWipeNoHide);
  g_foreground[0] = '\0';
  auto load = [&](uint32_t style, const char* w) {
    if (name[0])
      LoadSpriteDef(kBackgroundSlot, 3, name, pos, 0, 1, style, w);
    else
      sprCreateColor(kBackgroundSlot, 3, color, GetScreenWidth(), GetScreenHeight(), 0, 0, GetScreenWidth(),
                     GetScreenHeight(), 1, style, "", w);
  };
  if (!noclear) {
    for (int32_t c = 0; c < 3; ++c)
      if (sprIsValid(ClassSlot(c)))
        sprSetDisplayFlags(ClassSlot(c), kStyleBackHide | kStyleWipeNoFade | kStyleWipeNoHide);
    const char* used = nowipe ? "none" : (wipe && wipe[0]) ? wipe : "bg";
    load(kStyleCache, used);
    for (int32_t c = 0; c < 3; ++c) {
      if (sprIsValid(ClassSlot(c))) {
        sprHide(ClassSlot(c), "none");
        sprDestroy(ClassSlot(c));
      }
      g_classes[c].shown[0] = '\0';
    }
  } else {
    for (int32_t c = 0; c < 3; ++c)
      if (sprIsValid(ClassSlot(c)))
        sprSetDisplayFlags(ClassSlot(c), kStyleBackNormal | kStyleWipeNoFade | kStyleWipeNoHide);
    load(kStyleHide | kStyleCache, "none");
    for (int32_t c = 0; c < 3; ++c) {
      if (!sprIsValid(ClassSlot(c))) continue;
      if (sprIsValid(kBackgroundSlot)) sprSetParent(ClassSlot(c), kBackgroundSlot);
      PlaceCharaClass(c);
    }
    NeedBackground();
    sprShow(kBackgroundSlot, kNoSprite, "none");
  }
  if (sprIsValid(front)) {
    sprHide(front, "none");
    sprDestroy(front);
  }
}

void frontSet(const char* file, int32_t x, int32_t y, bool nowipe) {
  char name[kPathSize] = "";
  if (file[0]) ChapterOrSystem(file, name);
  DStrCopyToCharBoundary(name, g_foreground, sizeof(g_foreground));
  const int32_t front = kElements[kRowForeground].slot;
  LoadSpriteDef(front, 0, name, 0, 0, kElements[kRowForeground].level,
                kStyleHide | kStyleBackHide | kStyleWipeNoFade | kStyleWipeNoHide | kStyleCache, "none");
  if (sprIsValid(front) && sprIsValid(kBackgroundSlot)) sprSetParent(front, kBackgroundSlot);
  sprSetPos(front, x, y, kLeftTop);
  sprShow(front, kNoSprite, nowipe ? "none" : "fade");
}

int32_t BackPanDuration(int32_t from, int32_t pos, float speed) {
  if (!(speed > 0.0f)) return 0;
  const double distance = std::fabs(static_cast<double>(pos) - static_cast<double>(from));
  const double ms = std::nearbyint(distance * 100.0 / static_cast<double>(speed));
  if (!(ms < 2147483647.0)) return INT32_MAX;
  return static_cast<int32_t>(ms);
}

void backPos(int32_t pos, float speed) {
  if (speed > 0.0f) {
    ResetStopwatch();
    const int32_t from = g_back_pos;
    const int32_t duration = BackPanDuration(from, pos, speed);
    if (duration > 0) {
      const int64_t delta = static_cast<int64_t>(pos) - from;
      int64_t e = 0;
      do {
        const double t = std::min(1.0, static_cast<double>(e) / duration);
        const int64_t x = from + static_cast<int64_t>(std::nearbyint(static_cast<double>(delta) * t));
        NeedBackground();
        SaturatedPos(kBackgroundSlot, x, 0, kLeftTop);
        sprRender();
        e = GetStopwatchTime();
      } while (e < duration);
    }
  }
  g_back_pos = pos;
  sprSetPos(kBackgroundSlot, pos, 0, kLeftTop);
}

void PlaceCharaClass(int32_t c) {
  CheckClass(c);
  const int32_t slot = ClassSlot(c);
  if (!sprIsValid(slot)) return;
  NeedBackground();
  int32_t w = 0, h = 0;
  sprGetSize(kBackgroundSlot, &w, &h);
  const uint32_t anchor = g_classes[c].anchor;
  const int64_t offset = (anchor & kStyleCenter) ? w / 2 : (anchor & kStyleRight) ? w : 0;
  SaturatedPos(slot, g_classes[c].x + offset, static_cast<int64_t>(g_classes[c].y) + h,
               ParseDisplayStyle(g_classes[c].anchor_style, 0));
}

void charaShow(const char* file, int32_t c, int32_t x, int32_t y, bool nowipe) {
  CheckClass(c);
  CharaClass& k = g_classes[c];
  k.x = x;
  k.y = y;
  char name[kPathSize];
  ChapterOrSystem(file, name);
  const bool differs = !SameName(name, k.shown);
  const int32_t slot = ClassSlot(c);
  if (differs) {
    LoadSpriteDef(
        slot, 0, name, 0, 0, ClassLevel(c),
        k.anchor | kStyleHide | kStyleBackNormal | kStyleWipeNoFade | kStyleWipeNoHide | kStyleCache, "none");
    DStrCopyToCharBoundary(name, k.shown, sizeof(k.shown));
  }
  if (sprIsValid(slot) && sprIsValid(kBackgroundSlot)) sprSetParent(slot, kBackgroundSlot);
  PlaceCharaClass(c);
  if (differs) sprShow(slot, kNoSprite, nowipe ? "none" : "fade");
}

void charaHide(int32_t c, bool nowipe) {
  const char* wipe = nowipe ? "none" : "fade";
  if (c >= 0 && c < 3) {
    if (sprIsValid(ClassSlot(c))) sprDestroy(ClassSlot(c), wipe);
    g_classes[c].shown[0] = '\0';
    return;
  }
  for (int32_t k = 0; k < 3; ++k)
    if (sprIsValid(ClassSlot(k)))
      sprSetDisplayFlags(ClassSlot(k), kStyleBackNormal | kStyleWipeNoFade | kStyleWipeHide);
  for (int32_t k = 0; k < 3; ++k) {
    if (sprIsValid(ClassSlot(k)) && sprIsShown(ClassSlot(k))) {
      sprHide(ClassSlot(k), wipe);
      break;
    }
  }
  for (int32_t k = 0; k < 3; ++k) {
    if (sprIsValid(ClassSlot(k))) {
      sprHide(ClassSlot(k), "none");
      sprDestroy(ClassSlot(k));
    }
    g_classes[k].shown[0] = '\0';
  }
}

void textShowName(const char* name) {
  const int32_t slot = kElements[kRowNamePlate].slot;
  if (name[0]) {
    char plate[kPathSize];
    std::snprintf(plate, sizeof(plate), "sys/name_%s", name);
    LoadSpriteDef(slot, 0, plate, 0, 403, kElements[kRowNamePlate].level,
                  kStyleLeft | kStyleBottom | kStyleShow | kStyleWipeFade, "none");
  } else if (sprIsValid(slot)) {
    sprHide(slot, "none");
    sprDestroy(slot);
  }
}

namespace {

constexpr const char* kCourtMain = "bg_court_main";

void MainPlace(int32_t position, bool noscr, bool noclear, bool wipe, bool fade) {
  if (IsCurrentBackground(kCourtMain)) {
    backPos(position, noscr ? 0.0f : 500.0f);
    return;
  }
  backSet(kCourtMain, "", position, noclear, fade ? "fade" : "", !wipe);
  frontSet("fg_court_main", 0, 589, !wipe);
}

}  // namespace

void courtSetLawyerBack(bool noscr, bool noclear, bool wipe, bool fade) {
  MainPlace(0, noscr, noclear, wipe, fade);
}
void courtSetWitnessBack(bool noscr, bool noclear, bool wipe, bool fade) {
  MainPlace(-928, noscr, noclear, wipe, fade);
}
void courtSetProsecutorBack(bool noscr, bool noclear, bool wipe, bool fade) {
  MainPlace(-1856, noscr, noclear, wipe, fade);
}
void courtSetJudgeBack(bool noclear, bool wipe, bool fade) {
  if (IsCurrentBackground("bg_court_judge")) return;
  backSet("bg_court_judge", "", 0, noclear, fade ? "fade" : "", !wipe);
  frontSet("fg_court_judge", 0, 438, !wipe);
}
void courtSetGuideBack(bool noclear, bool wipe, bool fade) {
  if (IsCurrentBackground("bg_court_guide")) return;
  backSet("bg_court_guide", "", 0, noclear, fade ? "fade" : "", !wipe);
}
