// The D3DX 7 utility library stand-in: start and end of its use (nothing to prepare here).
#pragma once

#include "platform/com.h"
#include "platform/kernel.h"

// Both always succeed: the utility functions the units use need no global state.
ORVANE_API HRESULT D3DXInitialize();
ORVANE_API HRESULT D3DXUninitialize();
