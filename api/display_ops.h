// What the window and full-screen functions need of the display: the one small interface that the
// display unit in use (the Draw unit, or the sprite system in its mode) installs. Without one, each
// call fails by its result.
#pragma once

#include <cstdint>

struct DisplayOps {
  bool (*set_window_size)(int32_t width, int32_t height) = nullptr;
  void (*get_window_size)(int32_t* width, int32_t* height) = nullptr;
  bool (*is_fullscreen)() = nullptr;
  bool (*check_fullscreen_size)(int32_t width, int32_t height) = nullptr;
  void (*set_fullscreen)(bool on) = nullptr;
  void (*set_flipscreen)(bool on) = nullptr;
};

// Installs the display's operations and gives the previous ones.
DisplayOps SetDisplayOps(const DisplayOps& ops);
const DisplayOps& GetDisplayOps();

// Installs the Draw unit's operations.
void InstallDrawDisplayOps();
// Installs what the engine uses at start-up: the TSS unit's operations in the sprite system's
// mode, the Draw unit's otherwise, chosen per call.
void InstallEngineDisplayOps();

// The workers shared by the built-ins and the exports.
bool DisplaySetWindowSize(int32_t width, int32_t height);
// Both written: 0, 0 without a display.
void DisplayGetWindowSize(int32_t* width, int32_t* height);
bool DisplayIsFullscreen();
bool DisplayCheckFullscreenSize(int32_t width, int32_t height);
void DisplaySetFullscreen(bool on);
void DisplaySetFlipscreen(bool on);
