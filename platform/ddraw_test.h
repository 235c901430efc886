// Test controls of the DirectDraw / Direct3D stand-in: the device profile that the next objects
// report, fault injection, the call log and the pictures the stand-in presented.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wintypes.h"

#define ORVANE_DX_API __attribute__((visibility("default")))

namespace orvane::dx {

// Pixel formats a device can offer for textures (and the movie formats among them).
enum class TexFormat { kA4R4G4B4, kA8R8G8B8, kX8R8G8B8, kR5G6B5, kX1R5G5B5, kYUY2, kUYVY };

struct DisplayMode {
  int width, height, depth;  // depth 16 or 32
  bool rgb555 = false;       // 16-bit modes: 5-5-5 masks instead of 5-6-5
};

// What the stand-in reports. Set before the objects are created; objects read it when asked.
struct DeviceProfile {
  bool hal = true;       // a hardware device qualifies (else only the RGB device, no DDCAPS_3D)
  int max_textures = 2;  // simultaneous textures
  bool pow2 = false, square_only = false;
  uint32_t max_texture_size = 4096;
  std::vector<TexFormat> texture_formats = {TexFormat::kA4R4G4B4, TexFormat::kA8R8G8B8, TexFormat::kX8R8G8B8,
                                            TexFormat::kR5G6B5};
  int desktop_depth = 0;  // 0: the host's (24 and 32 give 32; headless 32); 8: a palette desktop
  uint64_t vram_budget = uint64_t{256} << 20;  // bytes that texture surfaces may take
  std::vector<DisplayMode>
      modes;  // empty: the host's size and 640x480, 800x600, 1024x768 that fit, 16 and 32 bits
};

ORVANE_DX_API void SetProfile(const DeviceProfile& profile);
ORVANE_DX_API const DeviceProfile& Profile();
// Back to the default profile; clears faults, the call log and the captures.
ORVANE_DX_API void Reset();

// ---- Faults. The next `times` calls whose log line starts with `prefix` fail (DDERR_GENERIC,
// or the call's own failure); times -1 means every such call.
ORVANE_DX_API void FailCall(const std::string& prefix, int times = 1);
// Marks every existing surface lost (system-memory surfaces keep theirs, as on the real system).
ORVANE_DX_API void LoseSurfaces();
// The next n blit and flip status queries and GetDC calls answer DDERR_WASSTILLDRAWING (-1: for
// ever).
ORVANE_DX_API void SetStillDrawing(int n);
// Restore fails (DDERR_WRONGMODE) while on.
ORVANE_DX_API void SetRestoreFails(bool on);

// ---- The call log: one line per DirectDraw / Direct3D call, such as "SetRenderState 27 1",
// "SetTexture 0 #3", "DrawIndexedPrimitive 4 6", "CreateSurface 0x1800 64x64". Taking empties it.
ORVANE_DX_API std::vector<std::string> TakeCallLog();
ORVANE_DX_API void LogCalls(bool on);  // on by default

// ---- Presented pictures: with capture on, every present into a window is also kept here as
// the window's client-size 0x00RRGGBB picture (what the client surface received).
struct Capture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  int presents = 0;
};
ORVANE_DX_API void CapturePresents(bool on);
ORVANE_DX_API bool TakeCapture(HWND hwnd, Capture* out);

// Bytes of texture memory in use.
ORVANE_DX_API uint64_t VideoMemoryUsed();
// Live surfaces (tests check that everything was released).
ORVANE_DX_API int LiveSurfaces();

}  // namespace orvane::dx
