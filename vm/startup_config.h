// The start-up configuration pass: the image's "startupconfig" method run once to choose start-up options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class ScriptContext;

// Startup flag bits.
inline constexpr uint32_t kStartupTss = 1;      // "tss": the Direct3D sprite system instead of Draw
inline constexpr uint32_t kStartupNoMenu = 2;   // "nomenu": the main window has no menu
inline constexpr uint32_t kStartupSound3d = 4;  // "sound3d": the Sound unit in 3D mode

// Most instructions the pass may run; a method still running then fails the pass like an error.
inline constexpr uint64_t kStartupConfigMaxSteps = 100000000;

// Runs "startupconfig" of the image in a temporary context (built-ins refused, errors fail the
// pass) and sets the startup flags (GetStartupFlags) from the words of the string it leaves in
// slot 0. False when the image is not one or the pass failed; the flags are then 0. No such method:
// true with no flag set. Writes the configuration text and the options used to the debug log.
// `max_steps` bounds the method (the default suits every start-up; tests pass a small one).
bool RunStartupConfig(std::span<const uint8_t> image, uint64_t max_steps = kStartupConfigMaxSteps);

// The native-call hook of the pass: shows the refusal box; the built-in does not run.
bool StartupConfigNativeHook(ScriptContext* ctx, uint32_t n);
// The error callback of the pass: shows the error box (with the source position when the image has
// source names) and sets the pass error flag.
void StartupConfigErrorHook(ScriptContext* ctx, uint32_t code);

// The first character at or after `p` that is not a space, tab or full-width space; null at the end
// of the text or for a null `p`.
const char* SkipConfigBlanks(const char* p);
// Copies the word at `p` into `word` (at most size - 2 bytes of it, double-byte characters whole)
// and gives the position after it, or null when the text ended there. A size of 2 or less gives the
// empty word without moving.
const char* NextConfigWord(const char* p, char* word, size_t size);
