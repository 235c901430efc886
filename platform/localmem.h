// Local memory (LocalAlloc / LocalLock / LocalFree): blocks shared between the engine and plug-ins.
//
// Image plug-ins hand their decoded pictures back in local-memory blocks that the engine locks,
// reads and frees; both sides link this one library, so a block made by one module is known to
// the other. Every live block is registered: an unknown or already freed handle is refused
// instead of being dereferenced.
#pragma once

#include "platform/kernel.h"
#include "platform/wintypes.h"

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)

// Allocates a block of `bytes` bytes (zeroed with LMEM_ZEROINIT). A fixed block's handle is its
// address; a moveable block's handle is an opaque value that LocalLock turns into the address.
// Returns null when the memory cannot be had or the flags hold unknown bits.
ORVANE_API HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// The address of the block's first byte, counting one more lock of a moveable block; null for an
// unknown handle.
ORVANE_API LPVOID LocalLock(HLOCAL mem);
// Undoes one LocalLock. TRUE while the block stays locked, FALSE when it is now unlocked (or was
// not locked, or the handle is unknown); a fixed block always gives FALSE.
ORVANE_API BOOL LocalUnlock(HLOCAL mem);
// Frees the block: null on success, the handle itself when it is not a live block.
ORVANE_API HLOCAL LocalFree(HLOCAL mem);
// The size the block was allocated with; 0 for an unknown handle.
ORVANE_API SIZE_T LocalSize(HLOCAL mem);
