// Display styles, showing and hiding sprites, the scene fade and the screen transition.
#include <cstring>
#include <vector>

#include "base/dstring.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/sprite.h"
#include "game/timer.h"
#include "game/tokenizer.h"
#include "game/wipe.h"

namespace {

struct StyleWord {
  const char* word;
  uint32_t set;
  uint32_t clear;
};

constexpr StyleWord kStyleWords[] = {
    {"show", 0x400, 0x800},         {"hide", 0x800, 0x400},         {"left", 0x01, 0x06},
    {"center", 0x04, 0x03},         {"right", 0x02, 0x05},          {"top", 0x08, 0x30},
    {"middle", 0x20, 0x18},         {"bottom", 0x10, 0x28},         {"rotatenone", 0x40, 0x380},
    {"rotatex", 0x80, 0x340},       {"rotatey", 0x100, 0x2C0},      {"rotatez", 0x200, 0x1C0},
    {"backnormal", 0x1000, 0x2000}, {"backhide", 0x2000, 0x1000},   {"wipefade", 0x4000, 0x8000},
    {"wipenofade", 0x8000, 0x4000}, {"wipehide", 0x10000, 0x20000}, {"wipenohide", 0x20000, 0x10000},
    {"cache", 0x40000, 0x80000},    {"nocache", 0x80000, 0x40000},
};

uint32_t g_class_styles[4] = {};
int32_t g_transition_time = 300;
char g_default_wipe[256] = "";
bool g_scene_pending = false;

constexpr uint32_t kKeptClassBits = kStyleBackHide | kStyleWipeFade | kStyleWipeHide;

bool Valid(int32_t slot) {
  return slot >= 0 && slot < kSpriteSlots && (Sprite(slot).flags & kSpriteValid);
}

bool Realized(int32_t slot) {
  return Valid(slot) && (Sprite(slot).flags & kSpriteRealized);
}

// The three pairs that a sprite or class style keeps from a parsed word.
uint32_t ApplyKeptPairs(uint32_t style, uint32_t flags) {
  if (flags & kStyleBackNormal) {
    style &= ~kStyleBackHide;
  } else if (flags & kStyleBackHide) {
    style |= kStyleBackHide;
  }
  if (flags & kStyleWipeNoFade) {
    style &= ~kStyleWipeFade;
  } else if (flags & kStyleWipeFade) {
    style |= kStyleWipeFade;
  }
  if (flags & kStyleWipeNoHide) {
    style &= ~kStyleWipeHide;
  } else if (flags & kStyleWipeHide) {
    style |= kStyleWipeHide;
  }
  return style;
}

// Every engine sprite of a realised sprite.
template <class F>
void ForEachEngineSprite(int32_t slot, F f) {
  if (!Realized(slot)) return;
  DSprite& s = Sprite(slot);
  for (int32_t i = 0; i < s.count; ++i)
    if (s.subs[i].sprite) f(s.subs[i].sprite->handle);
}

void SetAlpha(int32_t slot, float alpha) {
  ForEachEngineSprite(slot, [&](ApiHandle* sprite) {
    for (int corner = 0; corner < 4; ++corner) g_engine.ovtsSetSpriteColorA(sprite, corner, alpha);
  });
}

float Progress(uint32_t t, int64_t total) {
  const float p = static_cast<float>(t) / static_cast<float>(total);
  return p > 1.0f ? 1.0f : p;
}

// Back to the even level, no wipe, full alpha.
void ResetTransitionState(int32_t slot) {
  ForEachEngineSprite(slot, [](ApiHandle* sprite) {
    g_engine.ovtsSetSpriteWipe(sprite, nullptr, 0);
    for (int corner = 0; corner < 4; ++corner) g_engine.ovtsSetSpriteColorA(sprite, corner, 1.0f);
    g_engine.ovtsSetSpriteLevel(sprite, g_engine.ovtsGetSpriteLevel(sprite) & ~1);
  });
}

void PrepareForWipe(int32_t slot, bool odd, ApiHandle* mask, int32_t direction) {
  ForEachEngineSprite(slot, [&](ApiHandle* sprite) {
    const int32_t even = g_engine.ovtsGetSpriteLevel(sprite) & ~1;
    g_engine.ovtsSetSpriteLevel(sprite, odd ? even + 1 : even);
    if (mask) g_engine.ovtsSetSpriteWipe(sprite, mask, direction);
  });
}

}  // namespace

void sprInit() {
  sprSetDefaultLevel(16);
  g_transition_time = 300;
  g_default_wipe[0] = '\0';
  sprSetDefaultTrans("");
  g_scene_pending = false;
  for (int c = 0; c < 4; ++c) g_class_styles[c] = 0;
  g_class_styles[2] = kStyleBackHide;
}

void sprSetTransitionTime(int32_t ms) {
  g_transition_time = ms;
}

void sprSetDefaultWipe(const char* name) {
  DStrCopyToCharBoundary(name, g_default_wipe, sizeof(g_default_wipe));
}

bool sprScenePending() {
  return g_scene_pending;
}

uint32_t ParseDisplayStyle(const char* text, uint32_t flags) {
  const char* cursor = text ? text : "";
  for (;;) {
    SkipBlanks(cursor);
    char word[256];
    size_t length = 0;
    for (;;) {
      const char* before = cursor;
      const CharCode c = ReadChar(cursor);
      if (c == 0) break;
      if (IsBlank(c)) {
        cursor = before;
        break;
      }
      PutChar(word, sizeof(word), length, c);
    }
    word[length] = '\0';
    if (length == 0) return flags;
    bool known = false;
    for (const StyleWord& k : kStyleWords) {
      if (DStrCompareNoCase(DString(word), DString(k.word)) != 0) continue;
      flags = (flags & ~k.clear) | k.set;
      known = true;
      break;
    }
    if (!known) ScriptError("表示スタイル \"%s\" を認識できません。", word);
  }
}

void sprSetDisplayFlags(int32_t slot, uint32_t flags) {
  if (!Valid(slot)) return;
  Sprite(slot).style = ApplyKeptPairs(Sprite(slot).style, flags);
}

void sprSetClassStyle(int32_t sprite_class, const char* style) {
  if (sprite_class < 0 || sprite_class > 3) ScriptError("スプライトクラス(%d)の指定が異常です", sprite_class);
  g_class_styles[sprite_class] = ApplyKeptPairs(g_class_styles[sprite_class], ParseDisplayStyle(style, 0));
}

uint32_t sprGetClassStyle(int32_t sprite_class) {
  if (sprite_class < 0 || sprite_class > 3) ScriptError("スプライトクラス(%d)の指定が異常です", sprite_class);
  return g_class_styles[sprite_class] & kKeptClassBits;
}

void sprShow(int32_t slot, int32_t replaced, const char* wipe) {
  if (!Valid(slot) || (Sprite(slot).flags & kSpriteRealized)) return;
  if (Sprite(slot).flags & kSpriteSceneHidden) sprHide(slot, "none");
  DSprite& s = Sprite(slot);
  s.timer = -1;
  for (int32_t i = 0; i < s.count; ++i) {
    s.subs[i].cur_cell = 0;
    sprApplyCell(s.subs[i]);
  }
  RenderScreenTransition(slot, replaced, wipe, slot);
  if (Valid(slot)) sprScheduleAnim(slot);
}

void sprHide(int32_t slot, const char* wipe) {
  if (!Valid(slot)) return;
  DSprite& s = Sprite(slot);
  if (!(s.flags & (kSpriteRealized | kSpriteSceneHidden))) return;
  RemoveTimerEvent(s.timer);
  s.timer = -1;
  if (s.flags & kSpriteSceneHidden) {
    s.flags &= ~kSpriteSceneHidden;
    return;
  }
  RenderScreenTransition(kNoSprite, slot, wipe, slot);
}

void sprBeginScene() {
  if (g_transition_time <= 0) return;
  std::vector<int32_t> candidates;
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot)
    if (Realized(slot) && (Sprite(slot).style & kStyleWipeFade) && !(Sprite(slot).flags & kSpriteSceneHidden))
      candidates.push_back(slot);
  if (candidates.empty()) return;
  ResetStopwatch();
  uint32_t t = 0;
  while (static_cast<int64_t>(t) < g_transition_time) {
    const float a = Progress(t, g_transition_time);
    for (int32_t slot : candidates) SetAlpha(slot, 1.0f - a);
    sprRender();
    t = GetStopwatchTime();
  }
  for (int32_t slot : candidates) {
    if (!Valid(slot)) continue;
    if (Sprite(slot).style & kStyleWipeHide) {
      SetAlpha(slot, 1.0f);
      sprHide(slot, "none");
    } else {
      sprRealize(slot, false);
      Sprite(slot).flags |= kSpriteSceneHidden;
    }
  }
  g_scene_pending = true;
}

void sprEndScene() {
  if (!g_scene_pending) return;
  g_scene_pending = false;
  std::vector<int32_t> hidden;
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot)
    if (Valid(slot) && (Sprite(slot).flags & kSpriteSceneHidden)) hidden.push_back(slot);
  if (hidden.empty()) return;
  for (int32_t slot : hidden) sprRealize(slot, true);
  ResetStopwatch();
  uint32_t t = 0;
  while (static_cast<int64_t>(t) < g_transition_time) {
    const float a = Progress(t, g_transition_time);
    for (int32_t slot : hidden) SetAlpha(slot, a);
    sprRender();
    t = GetStopwatchTime();
  }
  for (int32_t slot : hidden) {
    SetAlpha(slot, 1.0f);
    if (Valid(slot)) Sprite(slot).flags &= ~kSpriteSceneHidden;
  }
}

void RenderScreenTransition(int32_t incoming, int32_t outgoing, const char* wipe, int32_t owner) {
  const bool has_in = Valid(incoming);
  const bool has_out = Valid(outgoing);
  if (!has_in) incoming = kNoSprite;
  if (!has_out) outgoing = kNoSprite;
  char name[256];
  DStrCopyToCharBoundary(wipe && wipe[0] ? wipe : g_default_wipe, name, sizeof(name));
  if (DStrCompareNoCase(DString(name), DString("none")) == 0) name[0] = '\0';
  const int32_t change_class = has_in    ? Sprite(incoming).sprite_class
                               : has_out ? Sprite(outgoing).sprite_class
                                         : 1;

  if (name[0] == '\0') {
    if (has_in) sprRealize(incoming, true);
    if (has_out) sprRealize(outgoing, false);
    if (has_in) {
      if (change_class == 3)
        for (int32_t slot = 0; slot < kSpriteSlots; ++slot)
          if (slot != owner && Valid(slot) && (Sprite(slot).style & kStyleBackHide)) sprHide(slot, "none");
      for (int32_t slot = 0; slot < kSpriteSlots; ++slot)
        if (Valid(slot) && (Sprite(slot).style & kStyleWipeHide)) sprHide(slot, "none");
    }
    return;
  }
  if (!has_in && !has_out) return;

  DWipe& entry = GetWipe(name);
  const DRef<DWipeRes> mask_res = entry.wipe;  // held for the whole transition
  ApiHandle* mask = mask_res ? mask_res->handle : nullptr;
  const int64_t total = entry.time;
  const uint32_t after_wait = entry.after_wait;

  sprRealize(incoming, false);
  sprRealize(outgoing, true);
  sprBeginScene();
  if (!has_in && !Realized(outgoing)) {
    sprHide(owner, "none");
    return;
  }
  std::vector<int32_t> companions;
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot)
    if (slot != owner && Realized(slot) && (Sprite(slot).style & kStyleWipeHide)) companions.push_back(slot);

  DRef<DImageRes> picture;
  DRef<DSpriteRes> picture_sprite;
  bool out_drawn;
  if (change_class == 3) {
    g_engine.ovtsRender();
    picture = CreateDynamicImageRes(GetScreenWidth(), GetScreenHeight());
    g_engine.ovtsGetRenderImage(picture->handle);
    g_engine.ovtsIsImageLost(picture->handle);
    const int32_t level = has_out ? Sprite(outgoing).level : Sprite(incoming).level;
    picture_sprite = CreateSpriteRes(picture, static_cast<int32_t>(int64_t{2} * level), 1);
    for (int32_t slot = 0; slot < kSpriteSlots; ++slot)
      if (slot != owner && Valid(slot) && (Sprite(slot).style & kStyleBackHide)) sprHide(slot, "none");
    sprRealize(outgoing, false);
    out_drawn = false;
  } else {
    out_drawn = Realized(outgoing);
  }
  if (has_in) {
    sprRealize(incoming, true);
    PrepareForWipe(incoming, true, mask, 1);
  }
  if (out_drawn) {
    sprRealize(outgoing, true);
    PrepareForWipe(outgoing, false, mask, 0);
  }
  for (int32_t slot : companions) {
    sprRealize(slot, true);
    PrepareForWipe(slot, false, mask, 0);
  }

  ResetStopwatch();
  uint32_t t = 0;
  while (static_cast<int64_t>(t) < total) {
    if (picture && g_engine.ovtsIsImageLost(picture->handle)) break;
    const float p = Progress(t, total);
    if (mask) {
      g_engine.ovtsSetWipeLevel(mask, p);
    } else {
      SetAlpha(incoming, p);
      if (out_drawn) SetAlpha(outgoing, 1.0f - p);
      for (int32_t slot : companions) SetAlpha(slot, 1.0f - p);
    }
    sprRender();
    t = GetStopwatchTime();
  }
  picture_sprite.Release();
  picture.Release();

  if (has_in) {
    ResetTransitionState(incoming);
    sprRealize(incoming, true);
  }
  if (out_drawn) {
    ResetTransitionState(outgoing);
    sprRealize(outgoing, false);
  }
  for (int32_t slot : companions) {
    ResetTransitionState(slot);
    sprHide(slot, "none");
  }
  sprRender();
  WaitFor(after_wait, nullptr, 0);
}
