// Message pumps over the thread's queue.
#include "base/dpump.h"

bool DPumpMessages() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) return true;
  do {
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) return false;
    DispatchMessageA(&msg);
  } while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  return true;
}

int DRunMessageLoop() {
  MSG msg{};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return static_cast<int>(msg.wParam);
}

bool DGetMessage(MSG* msg) {
  return GetMessageA(msg, nullptr, 0, 0) > 0;
}

bool DPeekMessage(MSG* msg, UINT remove) {
  return PeekMessageA(msg, nullptr, 0, 0, remove) != FALSE;
}
