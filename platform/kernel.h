// Kernel interfaces: files, memory, threads, events, critical sections, time, modules' paths.
#pragma once

#include "platform/wintypes.h"
