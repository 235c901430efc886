// The engine's exported functions as plug-ins and the engine see them: C declarations made from
// the master list (api/export_list.h).
#pragma once

#include "platform/wintypes.h"

#define OV_API extern "C" __attribute__((visibility("default")))

#define OV_EXPORT(position, name, return_type, parameters) OV_API return_type name parameters;
#include "api/export_list.h"
#undef OV_EXPORT
