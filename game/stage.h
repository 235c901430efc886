// The stage: the game's start-up (library, engine settings, sprites, layers, wipes, cursors), the
// logo, the reset before every menu and play, the background, the click-wait cursors and their
// waits, and the release of everything at the end of the game.
#pragma once

#include <cstdint>

// The system sprites below the script sprites.
inline constexpr int32_t kWaitCursorSprite = 1;
inline constexpr int32_t kBackgroundSprite = 3;
// The title buttons and the logo use the first script sprite.
inline constexpr int32_t kLogoSprite = 20;

// The whole start-up: library, image extensions and cache limits, engine settings, timers,
// sprites, text layers, the click cursors, a black background and no choice.
void InitGame(int32_t width, int32_t height, bool fullscreen);
// The plug-in's own library start-up. Nothing here is process-wide state the game may change
// (locale, allocation handler) and the imaging tables serve code the game never runs, so it
// only reports success.
bool InitCoreLibrary();
// Caption "Tale Frame", GDI, copyright, the single-instance name, window size (stored as the
// screen size), no time pause, 60 fps, linear filtering and the full-screen flag, in that order.
void SetupEngine(int32_t width, int32_t height, bool fullscreen);
// Caption "Orchid Verdict", the five standard wipes, the text layer "sub" and the layer order.
void SetupTitle();
// The logo fades in through "logofade", stays 1500 ms whatever the player does, then fades out.
void ShowLogo();
// Script sprites, text layers, links and buttons cleared; the page cursor becomes blank.
void ResetStage();
// Background sprite 3: the image's definition when the image is given, else a colour sprite of
// the screen size; neither is the script error "背景の種類が指定されていません。".
void SetBackground(const char* image, const char* color, const char* wipe);
// "cursor0" into sprite 1 and "cursor1" into sprite 2 when their pictures exist.
void LoadClickCursors();
void LoadWaitCursor(const char* definition);
void LoadPageCursor(const char* definition);
// Hides sprite 3 without a wipe and destroys it.
void HideBackground();
// Hides and destroys sprites 1 and 2 where they are valid.
void HideClickCursors();
// Waits for a choice when there is something to choose (time <= 0: no limit).
void WaitClick(int32_t time);
// The page wait with the wait cursor, sprite 1, at (x, y).
void WaitCursorClick(int32_t time, int32_t x, int32_t y);
// The page wait with a system sprite below 20 at (x, y); choice_only: only a choice ends it, and
// only when there is one. A negative sprite is the script error naming it less 20.
void WaitClickAt(int32_t sprite, int32_t time, int32_t x, int32_t y, bool choice_only);
// Releases the stage: choice and buttons, background and cursors, text layers, every sprite,
// the wipes and the caches. Whatever does not exist yet is skipped; nothing is reported and
// nothing is thrown (a failing step is logged and the rest still runs).
void CleanupGame() noexcept;
