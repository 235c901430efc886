// Draw-image blits: the record of a 16-bit draw image, the choice of blit mode and the row loops.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/dimage.h"

// Flags of a draw image's record.
inline constexpr std::uint32_t kDimgRecordKey = 1;     // the transparent colour applies
inline constexpr std::uint32_t kDimgRecordRunMap = 2;  // run_map is valid
inline constexpr std::uint32_t kDimgRecordLayer = 4;   // layer is present

// Flags of a blit call.
inline constexpr std::uint32_t kDimgBltHonourKey = 1;
inline constexpr std::uint32_t kDimgBltHonourBlend = 2;

// What the mode choice and the row loops know of a 16-bit draw image; Display fills it.
struct DimgImageRecord {
  std::uint32_t flags = 0;            // kDimgRecord* bits
  DImageDib image;                    // pixels in the screen format, bottom-up rows
  std::uint16_t key = 0;              // transparent colour, compared with all 16 bits
  std::vector<std::uint8_t> run_map;  // per pixel, rows of the image's width: pixels to the end of
                                      // its run of key or non-key pixels, runs cut at 255
  std::vector<std::uint8_t> layer;    // per pixel, rows of the image's width: 0 opaque .. 31 invisible
};

// The blit mode 0-21 for a source of blend kind `kind` (0 copy, 1 level byte, 2 layer, 3 layer and
// level byte, 4 half, 5 add, 6 subtract; any other value copies), the source's record (only its
// flags are read), its level byte (0 opaque .. 31 invisible) and the call flags. Mode 3 draws
// nothing.
std::uint32_t DimgSelectBltMode(std::int32_t kind, const DimgImageRecord& record, std::uint8_t level,
                                std::uint32_t call_flags);

// One blit rectangle, already clipped to both images and to the maps, both images locked.
struct DimgRowArgs {
  std::uint8_t* dst = nullptr;            // destination pixel at the rectangle's corner
  const DImage* dst_image = nullptr;      // steps destination rows (NextLine)
  const std::uint8_t* src = nullptr;      // source pixel at the rectangle's corner
  const DImage* src_image = nullptr;      // steps source rows; its width steps the maps
  std::uint32_t w = 0, h = 0;             // pixels, rows
  std::uint16_t key = 0;                  // transparent colour (key modes)
  const std::uint8_t* run_map = nullptr;  // run-map byte of the corner pixel (run-map modes)
  std::uint8_t level = 0;                 // level byte (level modes)
  const std::uint8_t* layer = nullptr;    // layer byte of the corner pixel (layer modes)
};

// Row loops, one per mode but 3; each calls its span routine through DHalSpans. Whole-row loops
// make one call per row (also at width 0); key-scan loops one per run of non-key pixels; run-map
// loops one per run whose first pixel is not the key (a run-map byte 0 counts as 1; a run is cut
// at the rectangle's right edge).
using DimgRowLoop = void (*)(const DimgRowArgs&);
void DimgRowsCopy(const DimgRowArgs& a);               // 0
void DimgRowsCopyKey(const DimgRowArgs& a);            // 1
void DimgRowsCopyRuns(const DimgRowArgs& a);           // 2
void DimgRowsBlendMapKey(const DimgRowArgs& a);        // 4
void DimgRowsBlendMapRuns(const DimgRowArgs& a);       // 5
void DimgRowsBlendKey(const DimgRowArgs& a);           // 6
void DimgRowsBlendRuns(const DimgRowArgs& a);          // 7
void DimgRowsBlendMapLevelKey(const DimgRowArgs& a);   // 8
void DimgRowsBlendMapLevelRuns(const DimgRowArgs& a);  // 9
void DimgRowsBlendMap(const DimgRowArgs& a);           // 10
void DimgRowsBlend(const DimgRowArgs& a);              // 11
void DimgRowsBlendMapLevel(const DimgRowArgs& a);      // 12
void DimgRowsHalf(const DimgRowArgs& a);               // 13
void DimgRowsHalfKey(const DimgRowArgs& a);            // 14
void DimgRowsHalfRuns(const DimgRowArgs& a);           // 15
void DimgRowsAdd(const DimgRowArgs& a);                // 16
void DimgRowsAddKey(const DimgRowArgs& a);             // 17
void DimgRowsAddRuns(const DimgRowArgs& a);            // 18
void DimgRowsSub(const DimgRowArgs& a);                // 19
void DimgRowsSubKey(const DimgRowArgs& a);             // 20
void DimgRowsSubRuns(const DimgRowArgs& a);            // 21

// The loop of a mode; null for mode 3 and any number above 21.
DimgRowLoop DimgRowLoopFor(std::uint32_t mode);
// Runs the loop of a mode; mode 3 and numbers above 21 draw nothing.
void DimgRunRows(std::uint32_t mode, const DimgRowArgs& a);
