// The fixed scene that the test plug-in plays on the real engine: where each part stands and the
// colours it leaves on the 640 x 480 screen. The plug-in, the present monitor and the test that
// writes the data and checks the captures share these numbers.
#pragma once

#include <cstdint>

namespace core_scene {

struct Rect {
  int x, y, w, h;
};

inline constexpr int kScreenW = 640, kScreenH = 480;

// Screen colours 0x00RRGGBB.
inline constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00,
                          kCyan = 0x00FFFF, kMagenta = 0xFF00FF, kOrange = 0xFF8000, kWhite = 0xFFFFFF;

// The first background ("red", class 3) and the one that replaces it through "fade".
inline constexpr const char* kFirstBackground = "red";
inline constexpr const char* kSecondBackground = "#00ff00";

// The blue sprite, revealed through "ramp": its mask is a horizontal grey ramp of the sprite's own
// size, and the sprite stands on a multiple of that size, so the mask's tile covers it exactly.
inline constexpr Rect kBlueRect = {128, 64, 128, 64};
inline constexpr const char* kBlueFile = "blue.bmp";
inline constexpr const char* kRampFile = "ramp.bmp";
inline constexpr int kRampMs = 400;
inline constexpr int kFadeMs = 300;

// The "alayer" PNG: its left half opaque yellow, its right half transparent magenta.
inline constexpr Rect kLayer = {320, 64, 32, 32};
inline constexpr const char* kLayerName = "layer";  // found as layer.png

// The "alpha" split picture: colour in the left half, the mask's green in the right half; the
// mask is black (opaque) in the top rows and white (transparent) in the bottom rows.
inline constexpr Rect kSplit = {400, 64, 32, 32};   // the shown (left) half
inline constexpr const char* kSplitName = "split";  // found as split.bmp

// The two-sub-sprite definition "chara.spr" on the picture "cells.bmp" (four 16 x 16 cells in a
// row: white, magenta, cyan, orange). Sub-sprite 0 plays cells 0 1 2 3 and stays on 3; sub-sprite
// 1, 16 px to its right, plays 3 2 1 0 and stays on 0. The motion "move.mot" moves it (script
// sprite 4) from kCharaStart to kCharaEnd and the plug-in waits for the end.
inline constexpr int kCell = 16;
inline constexpr int kCharaStartX = 64, kCharaStartY = 300;
inline constexpr int kCharaEndX = 480, kCharaEndY = 360;

// Table slots (script sprite n is slot 20 + n).
inline constexpr int kBackgroundSlot = 20, kBlueSlot = 21, kLayerSlot = 22, kSplitSlot = 23, kCharaSlot = 24;

}  // namespace core_scene
