// Local memory (LocalAlloc / LocalLock / LocalFree): blocks shared between the engine and plug-ins.
#pragma once

#include "platform/wintypes.h"
