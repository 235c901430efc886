// Kernel interfaces: files, memory, threads, events, critical sections, time, modules' paths.
#pragma once

#include "platform/wintypes.h"

#define ORVANE_API extern "C" __attribute__((visibility("default")))

// ---- Critical sections: recursive locks owned by one thread at a time.
// The storage is opaque and large enough for a recursive pthread mutex; it must not be copied
// or moved while initialised.
struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

// Makes the section usable; the same thread may then enter it any number of times.
ORVANE_API void InitializeCriticalSection(LPCRITICAL_SECTION cs);
// Blocks until the calling thread owns the section; counts nested entries by the owner.
ORVANE_API void EnterCriticalSection(LPCRITICAL_SECTION cs);
// Takes the section without waiting: TRUE when the calling thread now owns it.
ORVANE_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
// Undoes one EnterCriticalSection of the owner.
ORVANE_API void LeaveCriticalSection(LPCRITICAL_SECTION cs);
// Releases the section's resources; it must not be owned.
ORVANE_API void DeleteCriticalSection(LPCRITICAL_SECTION cs);
