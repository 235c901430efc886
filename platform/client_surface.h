// The client surface: every top-level window's one 32-bit XRGB picture of its client size, the
// only way pixels reach a host. GDI window DCs draw into it; the DirectDraw and Direct3D stand-ins
// present into it; the SDL host shows it through a streaming texture; the headless host keeps it
// readable and traces each present.
#pragma once

#include <cstdint>

#include "platform/kernel.h"
#include "platform/wintypes.h"  // RECT

// A locked view of a window's client surface. Pixels are 0x00RRGGBB, top-down, pitch in bytes.
struct ClientSurfaceView {
  std::uint32_t* pixels;
  int width;
  int height;
  int pitch;
  // Client coordinates of hwnd at the first pixel: (0, 0) unless a child window lies partly
  // outside its top-level window's client area.
  int x;
  int y;
};

// Locks the client surface of hwnd's top-level window (a child gets its part of its top-level
// window's surface: the view then starts at the child's origin and is clipped to it). False for
// a window that is not alive or has an empty client area. The surface follows the client size
// (a resize keeps what overlaps). A lock excludes other threads until the same thread unlocks;
// locks nest on one thread.
ORVANE_API BOOL ClientSurfaceLock(HWND hwnd, ClientSurfaceView* view);
// Ends a lock; dirty (client coordinates of hwnd, may be null for "all") is shown at the next
// present.
ORVANE_API void ClientSurfaceUnlock(HWND hwnd, const RECT* dirty);
// Shows the dirty parts on the host now (the SDL window; every host records
// "present <window> x,y wxh" in the trace). Nothing when nothing changed since the last present.
ORVANE_API void ClientSurfacePresent(HWND hwnd);
