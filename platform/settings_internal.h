// Shared helpers of the settings stores: where they live and how their files are replaced.
#pragma once

#include <string>

namespace orvane::settings {

// "$XDG_CONFIG_HOME/orvane" (fallback "$HOME/.config/orvane"), a UTF-8 host path, created with its
// parents when missing; empty when no such directory can be had.
std::string ConfigDir();
// Reads a whole file. False when it cannot be read; *exists tells a missing file apart.
bool ReadWholeFile(const std::string& host_path, std::string* data, bool* exists);
// Replaces a file with data: written to a temporary file beside it, flushed, then renamed over
// it, so the old or the new content is there after a crash, never half of one.
bool WriteAtomically(const std::string& host_path, const std::string& data);

}  // namespace orvane::settings
