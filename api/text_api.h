// Shared pieces of the text-output and anti-aliased-character families.
#pragma once

#include <cstdint>

// A script's or plug-in's weight index as a font weight: 0-8 give 100-900, anything else 400.
inline int32_t FontWeightOf(int32_t index) {
  return index >= 0 && index <= 8 ? (index + 1) * 100 : 400;
}
