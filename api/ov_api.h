// The engine's exported API as plug-ins and the game see it: types and extern "C" declarations.
//
// Generated from the master list api/export_list.h. A plug-in never links these functions: it
// binds them by name from the module the engine hands it (LoadLibraryA, then GetProcAddress)
// into pointers of the OvFn_<name> types below. The engine defines every one of them.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

// An engine object handed to a plug-in: opaque here. It comes from a Create, Load or Get export,
// goes back only to exports of its own kind and is given back exactly once to the kind's Destroy
// export.
struct ApiHandle;

// Small results returned by value.
struct OvPoint {
  int32_t x;
  int32_t y;
};
struct OvSize {
  int32_t width;
  int32_t height;
};
// A rectangle by origin and extent (image rectangles, sprite maps).
struct OvRect {
  int32_t x;
  int32_t y;
  int32_t w;
  int32_t h;
};
// A rectangle by its edges (text rectangles).
struct OvEdges {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
// Three channel bytes (5-bit channels 0-31 for the Draw unit).
struct OvColor {
  uint8_t r;
  uint8_t g;
  uint8_t b;
};

// A window-procedure hook (ovAddWndProc): called for every message of the main window before the
// engine's own handling; nonzero ends the dispatch with the result written through the first
// argument.
typedef BOOL (*OvWndProc)(LRESULT* result, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// The number of exports in the master list.
inline constexpr int kOvExportCount = 279;

#define OV_EXPORT(position, name, return_type, params) \
  extern "C" __attribute__((visibility("default"))) return_type name params noexcept;
#include "api/export_list.h"
#undef OV_EXPORT

// Pointer types for binding by name: OvFn_ovMessage and so on.
#define OV_EXPORT(position, name, return_type, params) typedef return_type(*OvFn_##name) params noexcept;
#include "api/export_list.h"
#undef OV_EXPORT
