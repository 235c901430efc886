// The 16-bit span library (HAL): the record of span routines, its two units and their lifetime.
#pragma once

#include <cstdint>

// One run of pixels (or bytes) per call. Pixel pointers need no alignment. Counts are elements;
// Copy counts bytes. Threshold maps hold one 16-bit entry per element, WipeMapFlag OR a level.
// Blend weights are the destination's share, 0 (source) to 31 (destination kept); larger weights,
// layer bytes and level bytes count as 31.
struct DHalSpanRecord {
  void (*Fill32)(void* dst, std::uint32_t count, std::uint32_t value);
  void (*Fill8)(void* dst, std::uint32_t count, std::uint8_t value);
  // The colour where the mask element is not 0; the destination kept elsewhere.
  void (*FillMask16)(void* dst, const void* mask, std::uint32_t count, std::uint16_t colour);
  // Per channel min(d + s, 31); ARGB1555 bit 15 = d XOR s; RGB565 bit 5 = 0.
  void (*AddSat16)(void* dst, const void* src, std::uint32_t count);
  // s where s differs from the key in any of the 16 bits.
  void (*CopyKey16)(void* dst, const void* src, std::uint32_t count, std::uint16_t key);
  std::uint16_t WipeMapFlag;  // 0x8000 once initialised; every wipe-map entry carries it
  void (*Fill16)(void* dst, std::uint32_t count, std::uint16_t value);
  // Level = entry & 0x7FFF, threshold t = min(t, 0x7FFF). The plain forms take s (or a) where
  // level <= t, the Rev forms where level >= t; t = 0x7FFF (plain) and t = 0 (Rev) read no map.
  void (*ThresholdCopy8)(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                         std::uint16_t t);
  void (*ThresholdFill8)(void* dst, std::uint8_t a, std::uint8_t b, std::uint32_t count,
                         const std::uint16_t* map, std::uint16_t t);
  void (*ThresholdFill8Rev)(void* dst, std::uint8_t a, std::uint8_t b, std::uint32_t count,
                            const std::uint16_t* map, std::uint16_t t);
  // Per channel max(d - s, 0); ARGB1555 bit 15 = d XOR s; RGB565 bit 5 = 0.
  void (*SubSat16)(void* dst, const void* src, std::uint32_t count);
  void (*CopyKey32)(void* dst, const void* src, std::uint32_t count, std::uint32_t key);
  // dst[count - 1 - i] = src[i].
  void (*CopyMirror16)(void* dst, const void* src, std::uint32_t count);
  void (*ThresholdCopy16)(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                          std::uint16_t t);
  void (*ThresholdCopy16Rev)(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                             std::uint16_t t);
  // Per channel (d >> 1) + (s >> 1); the bit that is no channel 0.
  void (*Half16)(void* dst, const void* src, std::uint32_t count);
  // Front to back in blocks of 8, then 4, then 1 bytes, each block read before it is written;
  // this fixes the result of overlapping areas.
  void (*Copy)(void* dst, const void* src, std::uint32_t bytes);
  void (*ThresholdCopy8Rev)(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                            std::uint16_t t);
  // Per channel ((w (d + 1)) >> 5) + (((31 - w) (s + 1)) >> 5): the unit's tables A[w][d] + B[w][s].
  // Without tables (after the last DHalTerm) the destination is left unchanged.
  void (*Blend16)(void* dst, const void* src, std::uint32_t count, std::uint8_t w);
  // w = layer byte i.
  void (*BlendMap16)(void* dst, const void* src, std::uint32_t count, const std::uint8_t* layer);
  // w = 31 - (((31 - layer byte i) (32 - level)) >> 5).
  void (*BlendMapLevel16)(void* dst, const void* src, std::uint32_t count, std::uint8_t level,
                          const std::uint8_t* layer);
};

// The routines of the unit in force; all empty until the first successful DHalInit. Callers go
// through this record, never to a unit directly.
extern DHalSpanRecord DHalSpans;

// Takes one reference on the HAL for screen format 4 (ARGB1555) or 6 (RGB565). At count 0 it
// chooses the unit (the vector unit when DHalHasMmx), fills DHalSpans and builds the unit's blend
// tables. False, nothing changed, for another format or another format than the one in force.
bool DHalInit(std::uint32_t format);
// Gives one reference back; at the last one the unit DHalInit chose frees its tables. DHalSpans
// stays filled. Nothing happens at count 0.
void DHalTerm();
// True when the vector unit is built for this processor and not switched off; ORVANE_HAL=plain
// switches it off from the next DHalInit at count 0.
bool DHalHasMmx();
// The current reference count (for tests and diagnostics).
std::int32_t DHalRefCount();

// Blend tables: 32 rows of 65536 entries; entry w * 65536 + p. Per channel of shift s,
// c = ((p >> s) & 31) + 1; A holds (w c) >> 5 and B ((31 - w) c) >> 5, shifted back.
inline constexpr std::uint32_t kDHalTableEntries = 32u * 65536u;

// The plain unit: portable C++.
struct DHalX86 {
  // Builds the blend tables for format 4 or 6; false for any other format.
  static bool Init(std::uint32_t format);
  // Frees the blend tables; always true.
  static bool Term();
  // The unit's routines with AddSat16, SubSat16 and Half16 of the format (4 or 6; any other
  // format gives the RGB565 versions) and WipeMapFlag 0x8000.
  static DHalSpanRecord Routines(std::uint32_t format);
  // The tables, null when not built.
  static const std::uint16_t* TableA();
  static const std::uint16_t* TableB();
};

// The vector unit: SSE2 where the processor has it (plain blocks elsewhere); same results.
struct DHalMmx {
  static bool Init(std::uint32_t format);
  static bool Term();
  static DHalSpanRecord Routines(std::uint32_t format);
  static const std::uint16_t* TableA();
  static const std::uint16_t* TableB();
  // True when this unit's vector code is compiled in and the processor runs it.
  static bool Available();
};
