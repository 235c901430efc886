// What the sound, stream, MIDI and movie built-ins and exports share: how a media file is found,
// the load messages of the built-ins, and argument checks for the values that reach the mixer.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "api/api_common.h"
#include "base/dfile.h"
#include "vm/script_context.h"

// Opens the media file that `path` names, by the one rule of every loader: with an archive
// mounted, the member of the caller's path with "\" made "/" (the disk is not tried); otherwise
// the disk file at the absolute path. `name` receives the absolute path against the running
// task's directory, which names the data (the sound cache key) whatever the source. False for a
// null path, a path whose absolute form does not fit in 263 bytes, or a file that cannot be opened.
bool OpenMediaFile(const char* path, DFile& file, char* name /* kApiPathSize bytes */);

// Stops the script with `message`, a line break and the path as the script passed it, quoted.
void ReportMediaError(ScriptContext* ctx, const char* message, const char* path);

inline bool AllFinite(std::initializer_list<float> values) {
  for (float v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

// The media built-ins (part of InstallApiBuiltins).
void InstallSoundBuiltins();
void InstallStreamBuiltins();
void InstallMidiBuiltins();
void InstallMovieBuiltins();
