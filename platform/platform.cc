// The platform library's identity: lets a module check which platform layer it was loaded with.
#include "platform/wintypes.h"

extern "C" __attribute__((visibility("default"))) const char* OrvanePlatformName() { return "orvane-linux"; }
