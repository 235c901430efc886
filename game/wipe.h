// The wipe registry: the game's named screen transitions, each a mask (or none, for a fade), a
// duration and a wait after it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dref.h"
#include "game/resource.h"

// Size of a wipe's name (255 bytes and the NUL).
inline constexpr size_t kWipeNameSize = 256;

struct DWipe {
  char name[kWipeNameSize] = "";  // cut at a character boundary
  DRef<DWipeRes> wipe;            // the mask; empty for a fade
  uint32_t time = 0;              // duration in ms
  uint32_t after_wait = 0;        // ms waited after the wipe reached its end
};

// Adds a wipe; its mask (when the image name is not empty) is loaded at once through
// LoadWipeRes. Negative times count as 0. A name already registered (ASCII case ignored) is the
// script error "すでに%sというワイプは存在します。".
void RegisterWipe(const char* name, const char* image, int32_t time, int32_t after_wait);
// The wipe of the name, or null.
DWipe* FindWipe(const char* name);
// The wipe of the name; an unknown name is the script error "\"%s\"というワイプは存在しません。".
// The entry stays valid while the registry holds it.
DWipe& GetWipe(const char* name);
// Empties the registry, destroying the masks nobody else holds.
void ClearWipes();
