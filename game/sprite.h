// The game sprite table: 120 slots of game sprites, each a list of sub-sprites realised as
// engine sprites only while shown; geometry, levels, cell animation, display styles, showing and
// hiding through screen transitions, the scene fade and the game's one redraw.
#pragma once

#include <cstdint>

#include "base/dref.h"
#include "game/resource.h"

inline constexpr int32_t kSpriteSlots = 120;
inline constexpr int32_t kNoSprite = 120;         // no slot (no parent, nothing replaced)
inline constexpr int32_t kScriptSpriteBase = 20;  // script sprite numbers are slot - 20

// Sprite flags.
inline constexpr uint32_t kSpriteValid = 0x1;
inline constexpr uint32_t kSpriteRealized = 0x2;
inline constexpr uint32_t kSpriteSceneHidden = 0x4;

// Display style bits.
inline constexpr uint32_t kStyleLeft = 0x01, kStyleRight = 0x02, kStyleCenter = 0x04;
inline constexpr uint32_t kStyleTop = 0x08, kStyleBottom = 0x10, kStyleMiddle = 0x20;
inline constexpr uint32_t kStyleAlignment = 0x3F;
inline constexpr uint32_t kStyleRotateNone = 0x40, kStyleRotateX = 0x80, kStyleRotateY = 0x100,
                          kStyleRotateZ = 0x200;
inline constexpr uint32_t kStyleRotation = 0x3C0;
inline constexpr uint32_t kStyleShow = 0x400, kStyleHide = 0x800;
inline constexpr uint32_t kStyleBackNormal = 0x1000, kStyleBackHide = 0x2000;
inline constexpr uint32_t kStyleWipeFade = 0x4000, kStyleWipeNoFade = 0x8000;
inline constexpr uint32_t kStyleWipeHide = 0x10000, kStyleWipeNoHide = 0x20000;
inline constexpr uint32_t kStyleCache = 0x40000, kStyleNoCache = 0x80000;

// One cell of an animation set: a cell number of the image and its duration (-1: stays).
struct DSpriteCell {
  int32_t cell = 0;
  int32_t duration = -1;
};

struct DSpriteAnimSet {
  int32_t count = 0;
  DRef<DSpriteCell> cells;
};

struct DSubSprite {
  DRef<DImageRes> image;    // the picture, shared (possibly with the image cache)
  DRef<DSpriteRes> sprite;  // the engine sprite while realised
  int32_t x = 0, y = 0;     // offset from sub-sprite 0, scaled
  int32_t w = 0, h = 0;     // drawn size, scaled
  int32_t def_x = 0, def_y = 0;
  int32_t cell_w = 0, cell_h = 0;  // one cell, the engine's size of the image
  int32_t blend = 1;
  int32_t columns = 1, rows = 1;
  int32_t set_count = 0;
  DRef<DSpriteAnimSet> sets;
  int32_t cur_set = 0, cur_cell = 0;
  int32_t time_left = -1;  // ms until the cell changes, -1: none pending
};

struct DSprite {
  uint32_t flags = 0;
  int32_t count = 0;
  DRef<DSubSprite> subs;
  int32_t x = 0, y = 0;  // top-left after alignment and parent anchoring
  int32_t w = 0, h = 0;  // bounding box as scaled
  int32_t req_x = 0, req_y = 0;
  int32_t natural_w = 0, natural_h = 0;
  int32_t level = 0;  // engine level 2 x level
  int32_t sprite_class = 0;
  uint32_t style = 0;
  int32_t parent = kNoSprite;
  float pivot_x = 0, pivot_y = 0;
  float angle = 0;
  int32_t timer = -1;  // cell animation timer event
};

// The table; slot 0 is the scratch slot of sprCreate.
DSprite& Sprite(int32_t slot);

// Work of other parts of the game that sprDestroy and sprClearAll hand on; null: nothing to do.
struct SpriteHooks {
  void (*remove_buttons)(int32_t slot);  // buttons registered on the sprite
};
SpriteHooks& SpriteTableHooks();

// Screen size used for the old-screen picture of background changes.
int32_t GetScreenWidth();
int32_t GetScreenHeight();
// Stores the size and sets the engine window to it.
void SetScreenSize(int32_t width, int32_t height);

// Empties every slot without engine calls other than the releases, and the settings of sprInit.
void ResetSpriteGlobals();
void sprInit();
void sprSetDefaultLevel(int32_t level);
void sprSetTransitionTime(int32_t ms);
void sprSetDefaultWipe(const char* name);
void sprSetDefaultTrans(const char* text);
const char* sprGetDefaultTrans();
int32_t sprGetDefaultLevel();

// The script error for a slot outside 0..119 or not valid (naming slot - 20).
void sprCheck(int32_t slot);
bool sprIsShown(int32_t slot);
bool sprIsValid(int32_t slot);

// Builds the sprite in the scratch slot from the sub-sprites (their image, def offsets, columns,
// rows and sets filled in), shows it through the wipe unless flags hold hide, and moves it into
// the slot; the old sprite of the slot is destroyed. w, h <= 0 keep the natural size; level < 0
// takes the default level.
void sprCreate(int32_t slot, int32_t sprite_class, int32_t level, int32_t count, const DRef<DSubSprite>& subs,
               int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags, const char* wipe);
void sprCreateColor(int32_t slot, int32_t sprite_class, const char* color, int32_t image_w, int32_t image_h,
                    int32_t x, int32_t y, int32_t w, int32_t h, int32_t level, uint32_t initial_flags,
                    const char* style, const char* wipe);
void sprDestroy(int32_t slot);
void sprDestroy(int32_t slot, const char* wipe);  // guarded: hides through the wipe first
void sprClearAll();
void sprResetScript();

void sprRealize(int32_t slot, bool show);
void sprSetPos(int32_t slot, int32_t x, int32_t y, uint32_t flags);
void sprSetPosStyle(int32_t slot, int32_t x, int32_t y, const char* style);  // guarded
// False when a slot is not valid or the parent's chain holds the slot (a cycle); the old link stays.
bool sprSetParent(int32_t slot, int32_t parent);
void sprSetParentChecked(int32_t slot, int32_t parent);  // negative parent: none
void sprSetSize(int32_t slot, int32_t w, int32_t h);
void sprSetRotation(int32_t slot, float pivot_x, float pivot_y, float angle, uint32_t flags);
void sprSetRotationChecked(int32_t slot, float pivot_x, float pivot_y, float angle, const char* style);
void sprApplyTransform(int32_t slot);
void sprSetLevel(int32_t slot, int32_t level);
DRef<DImageRes> sprGetImage(int32_t slot);  // guarded

// Guarded forms: the slot check of sprCheck first, then the plain operation.
void sprSetSizeChecked(int32_t slot, int32_t w, int32_t h);
void sprSetLevelChecked(int32_t slot, int32_t level);
int32_t sprGetLevel(int32_t slot);
void sprGetPos(int32_t slot, int32_t* x, int32_t* y);      // the requested position
void sprGetSize(int32_t slot, int32_t* w, int32_t* h);     // the current size
void sprGetTopLeft(int32_t slot, int32_t* x, int32_t* y);  // after alignment and anchoring
bool sprSetAnimSetChecked(int32_t slot, int32_t set);
void sprShowChecked(int32_t slot, const char* wipe);
void sprHideChecked(int32_t slot, const char* wipe);
void sprSetDisplayFlagsChecked(int32_t slot, const char* style);

// The game's redraw: ovtsRenderScreen, up to ten attempts with the caches emptied after each
// failure, then the script error "VRAMが不足しています。".
void sprRender();

// Cell animation.
void sprApplyCell(DSubSprite& sub);
void sprScheduleAnim(int32_t slot);
bool sprSetAnimSet(int32_t slot, int32_t set);

// Display styles, showing and hiding.
uint32_t ParseDisplayStyle(const char* text, uint32_t flags);
void sprSetDisplayFlags(int32_t slot, uint32_t flags);
void sprSetClassStyle(int32_t sprite_class, const char* style);
uint32_t sprGetClassStyle(int32_t sprite_class);
void sprShow(int32_t slot, int32_t replaced, const char* wipe);
void sprHide(int32_t slot, const char* wipe);
void sprBeginScene();
void sprEndScene();
bool sprScenePending();

// The screen transition from the outgoing to the incoming sprite (either may be kNoSprite)
// through the named wipe; owner is the slot being shown or hidden.
void RenderScreenTransition(int32_t incoming, int32_t outgoing, const char* wipe, int32_t owner);
