// Modules: loading shared objects and finding their exported functions.
#pragma once

#include "platform/wintypes.h"
