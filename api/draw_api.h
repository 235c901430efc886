// Shared pieces of the Draw-unit built-ins and exports: the screen's image value, the image behind a
// handle, colour and level clamps.
#pragma once

#include <cstdint>

#include "api/api_frame.h"
#include "display/draw/image_handle.h"
#include "display/draw/screen.h"

// The image handle on the screen's back image, made once and kept for the process: what GetScreen
// gives and what every reset selects as the current image.
const DRef<ImageHandle>& ScreenImageHandle();
// The reset of the current objects: the screen image becomes the current image unless the start-up
// chose the sprite system.
void SelectScreenImage(uint32_t startup_flags);

// The Draw-unit image behind a handle object (null when there is none).
inline DrawImage* DrawOf(const ImageHandle* h) {
  return h ? dynamic_cast<DrawImage*>(h->image.Get()) : nullptr;
}
inline DrawImage* DrawOf(const DRef<ImageHandle>& h) {
  return DrawOf(h.Get());
}
// The current image's handle object (empty when nothing is selected).
inline DRef<ImageHandle> CurrentImageHandle() {
  return DRef<ImageHandle>::Convert(CurrentObjects().image);
}
// The image behind an export's handle: empty in the sprite-system mode and for a handle of another
// kind.
inline DRef<ImageHandle> ExportImage(ApiHandle* h, const char* name) {
  if (InTssMode()) return {};
  return ApiHandleAs<ImageHandle>(h, kScriptImage, name);
}

// A colour channel of a script or a plug-in: 0..31 (negative gives 0).
inline int32_t Channel(int32_t v) {
  return v < 0 ? 0 : (v > 31 ? 31 : v);
}
// A level-layer value: the low byte, then at most 31.
inline uint8_t LayerValue(int32_t v) {
  const uint32_t low = static_cast<uint32_t>(v) & 0xFFu;
  return static_cast<uint8_t>(low > 31 ? 31 : low);
}
