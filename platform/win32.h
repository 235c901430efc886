// The platform interfaces the units call, declared as one header set: include this one.
#pragma once

#include "platform/wintypes.h"
#include "platform/kernel.h"
#include "platform/localmem.h"
#include "platform/module.h"
#include "platform/user.h"
#include "platform/gdi.h"
#include "platform/mmsystem.h"
#include "platform/shellapi.h"
