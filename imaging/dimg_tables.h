// Math tables of the imaging library: sines in 4096 steps per turn and square roots.
#pragma once

#include <cstdint>

#include "imaging/dimg_format.h"  // YCrCbTables and DimgInitYCrCbTables, filled at the same time

inline constexpr int kDimgSinTableSize = 5120;    // one turn of 4096 steps plus a quarter for cosines
inline constexpr int kDimgSqrtTableSize = 65536;  // exponent bit and top 15 mantissa bits

// Entry i = sin(i * 2pi / 4096) rounded to single precision; entry i + 1024 is the cosine of step i.
// Read-only data computed when the library is built, so start-up neither computes nor writes it.
extern const float DimgSinTable[kDimgSinTableSize];
// Low 23 bits: the mantissa of the single-precision square root of the float the index stands for
// (index bit 15 set: 1 + m / 32768; clear: 2 * (1 + m / 32768); m = index bits 0 to 14). Filled
// by the first DimgTableSqrt call.
extern std::uint32_t DimgSqrtTable[kDimgSqrtTableSize];

// Returns true: the sine table is ready before any code runs. Kept for the start-up sequences that
// prepare the math tables before their readers; inline, so calling it costs nothing.
inline bool DimgInitMathTables() {
  return true;
}
// Fills DimgSqrtTable (both halves in one loop).
void DimgInitSqrtTable();

// Table step of an angle in radians: a * 4096 / 2pi truncated toward zero, masked with 4095.
// An angle whose step does not fit in 64 bits (or NaN) gives step 0.
std::uint32_t DimgAngleStep(double radians);
inline float DimgTableSin(double radians) {
  return DimgSinTable[DimgAngleStep(radians)];
}
inline float DimgTableCos(double radians) {
  return DimgSinTable[DimgAngleStep(radians) + 1024];
}
// Square root of a positive float by lookup; 0 for the bit pattern 0. The first call fills the
// table (safe from any thread).
float DimgTableSqrt(float v);
