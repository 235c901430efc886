// The game sprite table: slots, realisation into engine sprites, geometry, creation and
// destruction, the redraw, and cell animation.
#include "game/sprite.h"

#include <cmath>
#include <cstring>

#include "game/choice.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/motion.h"
#include "game/timer.h"
#include "game/tokenizer.h"

namespace {

DSprite g_sprites[kSpriteSlots];
// A destroyed sprite's button goes with it.
SpriteHooks g_hooks = [] {
  SpriteHooks hooks{};
  hooks.remove_buttons = &RemoveSpriteButtons;
  return hooks;
}();
int32_t g_screen_w = 640, g_screen_h = 480;
int32_t g_default_level = 16;
char g_default_trans[256] = "";
constexpr int kRenderAttempts = 10;

bool InRange(int32_t slot) {
  return slot >= 0 && slot < kSpriteSlots;
}

bool IsValid(int32_t slot) {
  return InRange(slot) && (g_sprites[slot].flags & kSpriteValid);
}

// Saturating conversions: floats to 32 bits (NaN 0), sums of positions in 64 bits.
int32_t Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t RoundEven(float v) {
  if (std::isnan(v)) return 0;
  const double r = std::nearbyint(static_cast<double>(v));
  if (r >= 2147483647.0) return INT32_MAX;
  if (r <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(r);
}

int32_t EngineLevel(int32_t level) {
  return Saturate(int64_t{2} * level);
}

void UpdateBounds(DSprite& s) {
  s.w = s.h = 0;
  if (s.count <= 0) return;
  s.w = s.subs[0].w;
  s.h = s.subs[0].h;
  for (int32_t i = 1; i < s.count; ++i) {
    const DSubSprite& sub = s.subs[i];
    s.w = std::max(s.w, Saturate(int64_t{sub.x} + sub.w));
    s.h = std::max(s.h, Saturate(int64_t{sub.y} + sub.h));
  }
}

void PositionImage(const DSubSprite& sub) {
  if (sub.set_count > 0 && sub.cur_set < sub.set_count && sub.sets[sub.cur_set].count > 0) {
    const int32_t columns = sub.columns > 0 ? sub.columns : 1;
    const int32_t cell = sub.sets[sub.cur_set].cells[sub.cur_cell].cell;
    g_engine.ovtsSetImagePos(sub.image->handle, Saturate(int64_t{cell % columns} * sub.cell_w),
                             Saturate(int64_t{cell / columns} * sub.cell_h));
  } else {
    g_engine.ovtsSetImagePos(sub.image->handle, 0, 0);
  }
}

void AnimEvent(uint32_t slot);

}  // namespace

DSprite& Sprite(int32_t slot) {
  return g_sprites[slot];
}

SpriteHooks& SpriteTableHooks() {
  return g_hooks;
}

int32_t GetScreenWidth() {
  return g_screen_w;
}

int32_t GetScreenHeight() {
  return g_screen_h;
}

void SetScreenSize(int32_t width, int32_t height) {
  g_screen_w = width;
  g_screen_h = height;
  g_engine.ovSetWindowSize(width, height);
}

void ResetSpriteGlobals() {
  ResetMotionGlobals();
  for (DSprite& s : g_sprites) s = DSprite{};
  g_screen_w = 640;
  g_screen_h = 480;
  sprInit();
}

void sprSetDefaultLevel(int32_t level) {
  g_default_level = level < 0 ? 0 : level > 126 ? 126 : level;
}

int32_t sprGetDefaultLevel() {
  return g_default_level;
}

void sprSetDefaultTrans(const char* text) {
  DStrCopyToCharBoundary(text, g_default_trans, sizeof(g_default_trans));
}

const char* sprGetDefaultTrans() {
  return g_default_trans;
}

void sprCheck(int32_t slot) {
  if (!IsValid(slot)) ScriptError("スプライト %d は有効ではありません。", slot - kScriptSpriteBase);
}

bool sprIsShown(int32_t slot) {
  if (!InRange(slot)) ScriptError("スプライト %d は有効ではありません。", slot - kScriptSpriteBase);
  return (g_sprites[slot].flags & (kSpriteValid | kSpriteRealized)) == (kSpriteValid | kSpriteRealized);
}

bool sprIsValid(int32_t slot) {
  if (!InRange(slot)) ScriptError("スプライト %d は有効ではありません。", slot - kScriptSpriteBase);
  return (g_sprites[slot].flags & kSpriteValid) != 0;
}

void sprRealize(int32_t slot, bool show) {
  if (!IsValid(slot)) return;
  DSprite& s = g_sprites[slot];
  if (show) {
    if (s.flags & kSpriteRealized) return;
    s.flags |= kSpriteRealized;
    for (int32_t i = 0; i < s.count; ++i) {
      DSubSprite& sub = s.subs[i];
      PositionImage(sub);
      sub.sprite = CreateSpriteRes(sub.image, EngineLevel(s.level), 1);
      ApiHandle* sprite = sub.sprite->handle;
      if (i > 0) {
        g_engine.ovtsConnectSprite(sprite, s.subs[0].sprite->handle);
        g_engine.ovtsSetSpritePos(sprite, sub.x, sub.y);
      } else {
        g_engine.ovtsSetSpritePos(sprite, s.x, s.y);
      }
      g_engine.ovtsSetSpriteSize(sprite, sub.w, sub.h);
      g_engine.ovtsSetSpriteMap(sprite, 0, 0, sub.cell_w, sub.cell_h);
      g_engine.ovtsSetSpriteBlend(sprite, sub.blend);
    }
    sprApplyTransform(slot);
  } else if (s.flags & kSpriteRealized) {
    s.flags &= ~kSpriteRealized;
    // Children first, so no engine sprite outlives the one it is connected to.
    for (int32_t i = s.count - 1; i >= 0; --i) s.subs[i].sprite.Release();
  }
  s.style &= ~kStyleWipeHide;
}

namespace {

// The children follow down the tree; the depth bound keeps links made around sprSetParent (the
// court sets parents directly) from recursing without end.
void SetPosFrom(int32_t slot, int32_t x, int32_t y, uint32_t flags, int depth);

}  // namespace

void sprSetPos(int32_t slot, int32_t x, int32_t y, uint32_t flags) {
  SetPosFrom(slot, x, y, flags, 0);
}

namespace {

void SetPosFrom(int32_t slot, int32_t x, int32_t y, uint32_t flags, int depth) {
  if (!IsValid(slot)) return;
  DSprite& s = g_sprites[slot];
  s.style = (s.style & ~kStyleAlignment) | (flags & kStyleAlignment);
  s.req_x = x;
  s.req_y = y;
  int64_t nx = x, ny = y;
  if (s.style & kStyleRight) {
    nx = nx + 1 - s.w;
  } else if (s.style & kStyleCenter) {
    nx -= s.w >> 1;
  }
  if (s.style & kStyleBottom) {
    ny = ny + 1 - s.h;
  } else if (s.style & kStyleMiddle) {
    ny -= s.h >> 1;
  }
  if (s.parent != kNoSprite && IsValid(s.parent)) {
    const DSprite& p = g_sprites[s.parent];
    nx += p.x;
    if (p.style & kStyleRight) {
      nx += int64_t{p.w} - 1;
    } else if (p.style & kStyleCenter) {
      nx += p.w >> 1;
    }
    ny += p.y;
    if (p.style & kStyleBottom) {
      ny += int64_t{p.h} - 1;
    } else if (p.style & kStyleMiddle) {
      ny += p.h >> 1;
    }
  }
  s.x = Saturate(nx);
  s.y = Saturate(ny);
  if ((s.flags & kSpriteRealized) && s.count > 0)
    g_engine.ovtsSetSpritePos(s.subs[0].sprite->handle, s.x, s.y);
  if (depth >= kSpriteSlots) return;
  for (int32_t child = 0; child < kSpriteSlots; ++child) {
    if (child == slot || !IsValid(child) || g_sprites[child].parent != slot) continue;
    SetPosFrom(child, g_sprites[child].req_x, g_sprites[child].req_y, g_sprites[child].style, depth + 1);
  }
}

}  // namespace

void sprSetPosStyle(int32_t slot, int32_t x, int32_t y, const char* style) {
  sprCheck(slot);
  sprSetPos(slot, x, y, ParseDisplayStyle(style, kStyleLeft | kStyleTop));
}

bool sprSetParent(int32_t slot, int32_t parent) {
  if (!IsValid(slot)) return false;
  if (parent != kNoSprite) {
    if (!IsValid(parent)) return false;
    // The links must stay a forest: a parent whose chain reaches the slot would loop.
    for (int32_t p = parent, steps = 0; p != kNoSprite && steps <= kSpriteSlots;
         p = g_sprites[p].parent, ++steps) {
      if (p == slot) return false;
      if (!InRange(g_sprites[p].parent) && g_sprites[p].parent != kNoSprite) break;
    }
  }
  DSprite& s = g_sprites[slot];
  s.parent = parent;
  sprSetPos(slot, s.req_x, s.req_y, s.style);
  return true;
}

void sprSetParentChecked(int32_t slot, int32_t parent) {
  sprCheck(slot);
  if (parent < 0) parent = kNoSprite;
  if (parent != kNoSprite) sprCheck(parent);
  if (!sprSetParent(slot, parent))
    ScriptError("スプライト %d の親にスプライト %d は指定できません。", slot - kScriptSpriteBase,
                parent - kScriptSpriteBase);
}

void sprSetSize(int32_t slot, int32_t w, int32_t h) {
  if (!IsValid(slot)) return;
  DSprite& s = g_sprites[slot];
  if (s.count <= 0) return;
  // An axis whose natural size is 0 cannot be scaled: it keeps its defined sizes.
  const float fx = s.natural_w != 0 ? static_cast<float>(w) / static_cast<float>(s.natural_w) : 1.0f;
  const float fy = s.natural_h != 0 ? static_cast<float>(h) / static_cast<float>(s.natural_h) : 1.0f;
  for (int32_t i = 0; i < s.count; ++i) {
    DSubSprite& sub = s.subs[i];
    sub.x = RoundEven(static_cast<float>(sub.def_x) * fx);
    sub.y = RoundEven(static_cast<float>(sub.def_y) * fy);
    sub.w = RoundEven(static_cast<float>(sub.cell_w) * fx);
    sub.h = RoundEven(static_cast<float>(sub.cell_h) * fy);
  }
  UpdateBounds(s);
  if (s.flags & kSpriteRealized) {
    g_engine.ovtsSetSpriteSize(s.subs[0].sprite->handle, s.subs[0].w, s.subs[0].h);
    for (int32_t i = 1; i < s.count; ++i) {
      g_engine.ovtsSetSpritePos(s.subs[i].sprite->handle, s.subs[i].x, s.subs[i].y);
      g_engine.ovtsSetSpriteSize(s.subs[i].sprite->handle, s.subs[i].w, s.subs[i].h);
    }
  }
  sprSetPos(slot, s.req_x, s.req_y, s.style);
  sprApplyTransform(slot);
}

void sprApplyTransform(int32_t slot) {
  if (!IsValid(slot)) return;
  DSprite& s = g_sprites[slot];
  if (!(s.flags & kSpriteRealized) || s.count <= 0) return;
  const int32_t px = RoundEven(static_cast<float>(s.w) * s.pivot_x);
  const int32_t py = RoundEven(static_cast<float>(s.h) * s.pivot_y);
  // One pivot point for the whole sprite, in each sub-sprite's own fractions of its size.
  auto fraction = [](int32_t pivot, int32_t offset, int32_t size) {
    return size != 0 ? static_cast<float>(int64_t{pivot} - offset) / static_cast<float>(size) : 0.0f;
  };
  for (int32_t i = 0; i < s.count; ++i) {
    const DSubSprite& sub = s.subs[i];
    const int32_t ox = i == 0 ? 0 : sub.x, oy = i == 0 ? 0 : sub.y;
    g_engine.ovtsSetSpritePivot(sub.sprite->handle, fraction(px, ox, sub.w), fraction(py, oy, sub.h));
  }
  for (int32_t i = 0; i < s.count; ++i) {
    ApiHandle* sprite = s.subs[i].sprite->handle;
    g_engine.ovtsRotateSpriteNone(sprite);
    if (s.style & kStyleRotateX) {
      g_engine.ovtsRotateSpriteX(sprite, s.angle);
    } else if (s.style & kStyleRotateY) {
      g_engine.ovtsRotateSpriteY(sprite, s.angle);
    } else if (s.style & kStyleRotateZ) {
      g_engine.ovtsRotateSpriteZ(sprite, s.angle);
    }
  }
}

void sprSetRotation(int32_t slot, float pivot_x, float pivot_y, float angle, uint32_t flags) {
  if (!IsValid(slot)) return;
  DSprite& s = g_sprites[slot];
  s.pivot_x = pivot_x;
  s.pivot_y = pivot_y;
  s.angle = angle;
  s.style = (s.style & ~kStyleRotation) | (flags & kStyleRotation);
  sprApplyTransform(slot);
}

void sprSetRotationChecked(int32_t slot, float pivot_x, float pivot_y, float angle, const char* style) {
  sprCheck(slot);
  const uint32_t flags = ParseDisplayStyle(style, 0);
  // Into 0..360 as repeated steps of 360 would bring it (360 itself stays), without stepping: a
  // huge angle would not move by 360 in float.
  if (std::isfinite(angle)) {
    if (angle > 360) {
      angle = std::fmod(angle, 360.0f);
      if (angle == 0) angle = 360;
    } else if (angle < 0) {
      angle = std::fmod(angle, 360.0f);
      if (angle < 0) angle += 360;
    }
  }
  sprSetRotation(slot, pivot_x, pivot_y, angle, flags);
}

void sprSetLevel(int32_t slot, int32_t level) {
  if (!IsValid(slot)) return;
  DSprite& s = g_sprites[slot];
  s.level = level;
  if (!(s.flags & kSpriteRealized)) return;
  for (int32_t i = 0; i < s.count; ++i)
    g_engine.ovtsSetSpriteLevel(s.subs[i].sprite->handle, EngineLevel(level));
}

DRef<DImageRes> sprGetImage(int32_t slot) {
  sprCheck(slot);
  const DSprite& s = g_sprites[slot];
  if (s.count <= 0) ScriptError("スプライト %d はサブスプライトがありません。", slot - kScriptSpriteBase);
  return s.subs[0].image;
}

void sprSetSizeChecked(int32_t slot, int32_t w, int32_t h) {
  sprCheck(slot);
  sprSetSize(slot, w, h);
}

void sprSetLevelChecked(int32_t slot, int32_t level) {
  sprCheck(slot);
  sprSetLevel(slot, level);
}

int32_t sprGetLevel(int32_t slot) {
  sprCheck(slot);
  return g_sprites[slot].level;
}

void sprGetPos(int32_t slot, int32_t* x, int32_t* y) {
  sprCheck(slot);
  *x = g_sprites[slot].req_x;
  *y = g_sprites[slot].req_y;
}

void sprGetSize(int32_t slot, int32_t* w, int32_t* h) {
  sprCheck(slot);
  *w = g_sprites[slot].w;
  *h = g_sprites[slot].h;
}

void sprGetTopLeft(int32_t slot, int32_t* x, int32_t* y) {
  sprCheck(slot);
  *x = g_sprites[slot].x;
  *y = g_sprites[slot].y;
}

bool sprSetAnimSetChecked(int32_t slot, int32_t set) {
  sprCheck(slot);
  return sprSetAnimSet(slot, set);
}

void sprShowChecked(int32_t slot, const char* wipe) {
  sprCheck(slot);
  sprShow(slot, kNoSprite, wipe);
}

void sprHideChecked(int32_t slot, const char* wipe) {
  sprCheck(slot);
  sprHide(slot, wipe);
}

void sprSetDisplayFlagsChecked(int32_t slot, const char* style) {
  sprCheck(slot);
  sprSetDisplayFlags(slot, ParseDisplayStyle(style, 0));
}

void sprCreate(int32_t slot, int32_t sprite_class, int32_t level, int32_t count, const DRef<DSubSprite>& subs,
               int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags, const char* wipe) {
  if (!InRange(slot)) ScriptError("スプライト %d は有効ではありません。", slot - kScriptSpriteBase);
  if (sprite_class < 0 || sprite_class > 3) ScriptError("スプライトクラス(%d)の指定が異常です", sprite_class);
  DSprite& scratch = g_sprites[0];
  scratch = DSprite{};
  scratch.flags = kSpriteValid;
  scratch.level = level >= 0 ? level : g_default_level;
  scratch.sprite_class = sprite_class;
  scratch.style = sprGetClassStyle(sprite_class);
  scratch.count = count > 0 && subs ? count : 0;
  scratch.subs = subs;
  for (int32_t i = 0; i < scratch.count; ++i) {
    DSubSprite& sub = scratch.subs[i];
    const OvSize size = g_engine.ovtsGetImageSize(sub.image->handle);
    sub.cell_w = sub.w = size.width;
    sub.cell_h = sub.h = size.height;
    sub.sprite.Release();
    sub.x = sub.def_x;
    sub.y = sub.def_y;
    sub.blend = 1;
    sub.cur_set = sub.cur_cell = 0;
    sub.time_left = 0;
  }
  UpdateBounds(scratch);
  scratch.natural_w = scratch.w;
  scratch.natural_h = scratch.h;
  sprSetDisplayFlags(0, flags);
  sprSetPos(0, x, y, flags);
  sprSetSize(0, w > 0 ? w : scratch.natural_w, h > 0 ? h : scratch.natural_h);
  const bool shown = !(flags & kStyleHide);
  if (shown) sprShow(0, slot, wipe);
  sprDestroy(slot);
  if (slot != 0) {
    DSprite& target = g_sprites[slot];
    target = scratch;
    if (scratch.count > 0) {
      target.subs = DRef<DSubSprite>();
      target.subs.Alloc(static_cast<uint32_t>(scratch.count));
      for (int32_t i = 0; i < scratch.count; ++i) target.subs[i] = scratch.subs[i];
    }
    target.timer = -1;
    sprDestroy(0);
  }
  if (shown) {
    sprHide(slot, "none");
    sprShow(slot, kNoSprite, "none");
  }
}

void sprCreateColor(int32_t slot, int32_t sprite_class, const char* color, int32_t image_w, int32_t image_h,
                    int32_t x, int32_t y, int32_t w, int32_t h, int32_t level, uint32_t initial_flags,
                    const char* style, const char* wipe) {
  DRef<DSubSprite> subs;
  subs.Alloc(1);
  subs[0].image = CreateColorImageRes(image_w, image_h, color);
  sprCreate(slot, sprite_class, level, 1, subs, x, y, w, h, ParseDisplayStyle(style, initial_flags), wipe);
}

void sprDestroy(int32_t slot) {
  if (!IsValid(slot)) return;
  if (g_hooks.remove_buttons) g_hooks.remove_buttons(slot);
  MotEndSprite(slot);
  for (int32_t child = 0; child < kSpriteSlots; ++child) {
    if (child == slot || !IsValid(child) || g_sprites[child].parent != slot) continue;
    g_sprites[child].parent = kNoSprite;
    sprSetPos(child, g_sprites[child].req_x, g_sprites[child].req_y, g_sprites[child].style);
  }
  sprHide(slot, "none");
  DSprite& s = g_sprites[slot];
  s.flags = 0;
  s.subs.Release();
  s.count = 0;
  s.timer = -1;
}

void sprDestroy(int32_t slot, const char* wipe) {
  sprCheck(slot);
  sprHide(slot, wipe);
  sprDestroy(slot);
}

void sprClearAll() {
  MotClearAll();
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot) sprDestroy(slot);
}

void sprResetScript() {
  for (int32_t slot = kScriptSpriteBase; slot < kSpriteSlots; ++slot) {
    if (!IsValid(slot)) continue;
    sprHide(slot, "none");
    sprDestroy(slot);
  }
}

void sprRender() {
  for (int attempt = 0; attempt < kRenderAttempts; ++attempt) {
    if (g_engine.ovtsRenderScreen()) return;
    FlushCaches();
  }
  ScriptError("VRAMが不足しています。");
}

void sprApplyCell(DSubSprite& sub) {
  if (sub.set_count > 0 && sub.cur_set < sub.set_count && sub.sets[sub.cur_set].count > 0) {
    PositionImage(sub);
    sub.time_left = sub.sets[sub.cur_set].cells[sub.cur_cell].duration;
  } else {
    g_engine.ovtsSetImagePos(sub.image->handle, 0, 0);
    sub.time_left = -1;
  }
}

void sprScheduleAnim(int32_t slot) {
  DSprite& s = g_sprites[slot];
  int32_t d = -1;
  for (int32_t i = 0; i < s.count; ++i) {
    const int32_t left = s.subs[i].time_left;
    if (left >= 0 && (d < 0 || left < d)) d = left;
  }
  if (d < 0) {
    s.timer = -1;
    return;
  }
  s.timer = AddTimerEvent(&AnimEvent, static_cast<uint32_t>(slot), static_cast<uint32_t>(d));
  for (int32_t i = 0; i < s.count; ++i)
    if (s.subs[i].time_left >= 0) s.subs[i].time_left -= d;
}

namespace {

void AnimEvent(uint32_t argument) {
  const int32_t slot = static_cast<int32_t>(argument);
  if (!InRange(slot)) return;
  DSprite& s = g_sprites[slot];
  s.timer = -1;
  for (int32_t i = 0; i < s.count; ++i) {
    DSubSprite& sub = s.subs[i];
    if (sub.time_left != 0) continue;
    if (sub.set_count > 0 && sub.cur_set < sub.set_count) {
      if (++sub.cur_cell >= sub.sets[sub.cur_set].count) sub.cur_cell = 0;
    }
    sprApplyCell(sub);
  }
  sprScheduleAnim(slot);
}

}  // namespace

bool sprSetAnimSet(int32_t slot, int32_t set) {
  if (!IsValid(slot)) return false;
  // A negative set (a gauge at life 0 asks for set -1) takes the first set.
  if (set < 0) set = 0;
  DSprite& s = g_sprites[slot];
  bool changed = false;
  for (int32_t i = 0; i < s.count; ++i) {
    DSubSprite& sub = s.subs[i];
    if (sub.set_count <= 0) continue;
    const int32_t target = set >= sub.set_count ? sub.set_count - 1 : set;
    if (target == sub.cur_set) continue;
    sub.cur_set = target;
    sub.cur_cell = 0;
    sprApplyCell(sub);
    changed = true;
  }
  if (changed) {
    RemoveTimerEvent(s.timer);
    s.timer = -1;
    if (s.flags & kSpriteRealized) sprScheduleAnim(slot);
  }
  return changed;
}
