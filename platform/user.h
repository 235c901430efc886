// User interfaces: window classes, windows, messages and queues, timers, message boxes, menus,
// settings (registry and private profiles), modules.
#pragma once

#include "platform/wintypes.h"
