// The objects behind the `ovts` exports' handles: TSS images, wipes and sprites of the engine's
// TSS unit. Shared with the other exports that take a TSS image (characters drawn into one).
#pragma once

#include <cstdint>

#include "api/api_frame.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"

// Handle kinds of the TSS objects, apart from the script object kinds (4-16) so that a Draw-unit
// image or wipe is never taken for a TSS one.
inline constexpr uint32_t kApiTssImage = 0x101;
inline constexpr uint32_t kApiTssWipe = 0x102;
inline constexpr uint32_t kApiTssSprite = 0x103;

// The largest side of a TSS image (the unit's own bound on a source picture).
inline constexpr int32_t kApiTssMaxSide = 32768;

// Levels a caller may give a sprite: -1 (out of the lists) to the unit's highest.
bool TssLevelAccepted(int32_t level);
// True when `ovts` exports work: TSS mode with the unit started.
bool TssExportsLive();
// The live object behind a handle of its kind: empty outside TSS mode, with the unit ended, for
// a null handle, a handle of another kind (logged) or an object the unit has already released
// (its handles outlive the unit's shutdown).
DRef<DtssImage> TssImageOf(const ApiHandle* handle, const char* export_name) noexcept;
DRef<DtssWipe> TssWipeOf(const ApiHandle* handle, const char* export_name) noexcept;
DRef<DtssSprite> TssSpriteOf(const ApiHandle* handle, const char* export_name) noexcept;
// Frees a handle of the kind in TSS mode (whatever became of the object); keeps it in Draw mode.
void TssDestroyHandle(ApiHandle* handle, uint32_t kind, const char* export_name) noexcept;
