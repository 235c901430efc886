// The stage: start-up, logo, reset, background, click cursors and their waits, clean-up.
#include "game/stage.h"

#include "base/dlogstream.h"
#include "game/choice.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/resource.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/wipe.h"

namespace {

constexpr int32_t kCursorLevel = 96;
constexpr uint32_t kLogoTime = 1500;

// The standard wipes, registered in this order.
struct StandardWipe {
  const char* name;
  const char* image;
  int32_t time;
};
constexpr StandardWipe kStandardWipes[] = {
    {"logofade", "", 1000},
    {"fade", "", 500},
    {"bg", "sys/wipe_bg", 500},
    {"wipe", "sys/wipe_bg", 500},
    {"slowwipe", "sys/wipe_bg", 1000},
};

void LoadCursor(int32_t slot, const char* definition) {
  LoadSpriteDef(slot, 1, definition, 0, 0, kCursorLevel, kStyleHide, "none");
}

void LoadCursorIfPresent(int32_t slot, const char* name) {
  if (IsImageFileExist(name)) LoadCursor(slot, name);
}

void HideAndDestroy(int32_t slot) {
  if (!sprIsValid(slot)) return;
  sprHide(slot, "none");
  sprDestroy(slot);
}

// Shows a system sprite at (x, y) anchored left middle, as the page cursor is shown.
void PlaceCursor(int32_t slot, int32_t x, int32_t y) {
  sprSetPos(slot, x, y, ParseDisplayStyle("left middle", kStyleLeft | kStyleTop));
  sprShow(slot, kNoSprite, "none");
}

uint32_t WaitTime(int32_t time) {
  return time <= 0 ? kWaitForever : static_cast<uint32_t>(time);
}

// One step of the clean-up: an error is written to the log and the next step still runs.
template <class F>
void CleanupStep(const char* what, F&& step) noexcept {
  try {
    step();
  } catch (...) {
    try {
      DDebugLog() << "[CleanupGame] " << what << " failed\n";
    } catch (...) {
    }
  }
}

}  // namespace

bool InitCoreLibrary() {
  return true;
}

void InitGame(int32_t width, int32_t height, bool fullscreen) {
  if (!InitCoreLibrary()) ThrowGameExit();
  SetImageExtensions("png:bmp:jpg");
  SetImageCacheLimit(32);
  SetSoundCacheLimit(8);
  SetupEngine(width, height, fullscreen);
  InitTimerEvents();
  sprInit();
  InitTextLayers();
  LoadClickCursors();
  SetBackground("", "black", "none");
  ResetButtons();
}

void SetupEngine(int32_t width, int32_t height, bool fullscreen) {
  g_engine.ovSetTitle("Tale Frame");
  g_engine.ovUseGDI(1);
  g_engine.ovSetCopyright("Tale Frame\nThis program and its data are protected by copyright.");
  // The single-instance check; the game goes on whatever it answers.
  g_engine.ovCheckSystemName("LUMENARK_TALE_FRAME");
  SetScreenSize(width, height);
  g_engine.ovSetTimePause(0);
  g_engine.ovSetFPS(60);
  g_engine.ovtsSetLinearMode(1);
  g_engine.ovSetFullscreen(fullscreen ? 1 : 0);
}

void SetupTitle() {
  g_engine.ovSetTitle("Orchid Verdict");
  for (const StandardWipe& wipe : kStandardWipes) RegisterWipe(wipe.name, wipe.image, wipe.time, 0);
  CreateTextLayer("sub");
  SetTextLayerLevel("def", 0);
  SetTextLayerLevel("sub", 1);
  SetTextLayerLevel("system", 2);
}

void ShowLogo() {
  ResetStage();
  SetBackground("", "black", "none");
  LoadSpriteDef(kLogoSprite, 0, "sys/logo", 400, 300, -1, 0, "logofade");
  WaitFor(kLogoTime, nullptr, 0);
  if (!sprIsValid(kLogoSprite))
    ScriptError("スプライト %d は有効ではありません。", kLogoSprite - kScriptSpriteBase);
  sprHide(kLogoSprite, "logofade");
  sprDestroy(kLogoSprite);
}

void ResetStage() {
  sprResetScript();
  for (const char* layer : {"def", "sub", "system"}) HideTextLayer(layer);
  LoadCursor(kPageCursorSprite, "sys/cursor_blank");
  for (const char* layer : {"def", "sub", "system"}) ClearTextLinks(layer);
  ClearButtons();
  ClearClickCallback();
}

void SetBackground(const char* image, const char* color, const char* wipe) {
  if (!image) image = "";
  if (!color) color = "";
  if (!image[0] && !color[0]) ScriptError("背景の種類が指定されていません。");
  if (image[0]) {
    LoadSpriteDef(kBackgroundSprite, 3, image, 0, 0, 1, 0, wipe);
    return;
  }
  sprCreateColor(kBackgroundSprite, 3, color, 1, 1, 0, 0, GetScreenWidth(), GetScreenHeight(), 1, 0, "",
                 wipe);
}

void LoadClickCursors() {
  LoadCursorIfPresent(kWaitCursorSprite, "cursor0");
  LoadCursorIfPresent(kPageCursorSprite, "cursor1");
}

void LoadWaitCursor(const char* definition) {
  LoadCursor(kWaitCursorSprite, definition);
}

void LoadPageCursor(const char* definition) {
  LoadCursor(kPageCursorSprite, definition);
}

void HideBackground() {
  HideAndDestroy(kBackgroundSprite);
}

void HideClickCursors() {
  HideAndDestroy(kWaitCursorSprite);
  HideAndDestroy(kPageCursorSprite);
}

void WaitClick(int32_t time) {
  const bool something = BeginChoice();
  sprRender();
  if (something) WaitFor(WaitTime(time), &IsAdvanceInput, 1);
  EndChoice();
}

void WaitCursorClick(int32_t time, int32_t x, int32_t y) {
  WaitClickAt(kWaitCursorSprite, time, x, y, false);
}

void WaitClickAt(int32_t sprite, int32_t time, int32_t x, int32_t y, bool choice_only) {
  if (sprite < 0) ScriptError("スプライト %d は有効ではありません。", sprite - kScriptSpriteBase);
  const bool shown = sprite < kScriptSpriteBase && sprIsValid(sprite);
  if (shown) PlaceCursor(sprite, x, y);
  const bool something = BeginChoice();
  sprRender();
  if (!choice_only)
    WaitFor(WaitTime(time), &IsAdvanceInput, 0);
  else if (something)
    WaitFor(WaitTime(time), &IsAdvanceInput, 1);
  EndChoice();
  if (shown && sprIsValid(sprite)) sprHide(sprite, "none");
}

void CleanupGame() noexcept {
  CleanupStep("buttons", [] { DestroyButtons(); });
  CleanupStep("background", [] { HideBackground(); });
  CleanupStep("cursors", [] { HideClickCursors(); });
  CleanupStep("text layers", [] { DestroyTextLayers(); });
  CleanupStep("sprites", [] { sprClearAll(); });
  CleanupStep("wipes", [] { ClearWipes(); });
  CleanupStep("caches", [] { ReleaseCaches(); });
}
