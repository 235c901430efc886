// The plug-in's entry points and the guard that runs the game inside start.
#pragma once

#include <cstdint>

#define CORE_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

// The entry points the engine's plug-in loader calls, and the script-callable function.
CORE_PLUGIN_EXPORT uint32_t ovGetVersion() noexcept;
CORE_PLUGIN_EXPORT int32_t ovLoadSystem(const char* engine_path) noexcept;
CORE_PLUGIN_EXPORT int32_t ovLoadInit() noexcept;
CORE_PLUGIN_EXPORT uint32_t ovGetFunction(char* buffer, uint32_t size, uint32_t index) noexcept;
CORE_PLUGIN_EXPORT void ovUnloadSystem() noexcept;
CORE_PLUGIN_EXPORT void ovUnloadExit() noexcept;
CORE_PLUGIN_EXPORT int32_t start(int32_t argument) noexcept;

// Runs a game entry the way start does: returns 1 at once when the engine is not fully bound or a
// game already runs; resets the game's globals; catches DExceptGame, allocation failure (reported
// with "メモリが不足しています。\n") and anything else (reported as an internal error); runs the
// clean-up; returns 1. Nothing crosses into the engine.
int32_t RunGameGuarded(void (*entry)()) noexcept;
