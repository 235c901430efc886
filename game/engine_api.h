// The engine's exported API as the game reaches it: one pointer per export, bound by name.
#pragma once

#include "api/ov_api.h"

// One entry per export of the master list, in list order, named like the export. Filled once by
// BindEngineApi and only read afterwards; the game has no other way into the engine.
struct EngineApi {
#define OV_EXPORT(position, name, return_type, params) OvFn_##name name;
#include "api/export_list.h"
#undef OV_EXPORT
};

// The game's one engine table.
extern EngineApi g_engine;

// Finds the address of an exported name; null when the name is missing.
using EngineLookup = void* (*)(void* context, const char* name);

// Fills g_engine by looking every name up in list order. Stops at the first missing name and
// returns false: that entry and the ones after it keep their previous values. True when all
// names were found.
bool BindEngineApi(EngineLookup lookup, void* context);

// True after a BindEngineApi that found every name, until ClearEngineApi or a failed binding.
bool EngineApiBound();

// Empties g_engine (every entry null).
void ClearEngineApi();
