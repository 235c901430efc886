// Weak stand-ins for the client-surface functions: until a window-system build provides the
// client surfaces, locking one fails honestly and nothing is shown. A strong definition in the
// same library replaces these.
#include "platform/client_surface.h"

extern "C" {
__attribute__((weak, visibility("default"))) BOOL ClientSurfaceLock(HWND, ClientSurfaceView*) { return FALSE; }
__attribute__((weak, visibility("default"))) void ClientSurfaceUnlock(HWND, const RECT*) {}
__attribute__((weak, visibility("default"))) void ClientSurfacePresent(HWND) {}
}
