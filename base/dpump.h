// Message pumps: moving window messages from the thread's queue to the window procedures.
#pragma once

#include "platform/win32.h"

// Dispatches every waiting message and returns at once when none waits (it never blocks on an
// empty queue); false when WM_QUIT was taken (the message is consumed), true otherwise.
bool DPumpMessages();
// The classic loop: dispatches until WM_QUIT and returns its wParam.
int DRunMessageLoop();
// GetMessageA for all windows: true unless WM_QUIT (or an error) came.
bool DGetMessage(MSG* msg);
// PeekMessageA for all windows with the remove flag.
bool DPeekMessage(MSG* msg, UINT remove);
