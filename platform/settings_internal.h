// Shared helpers of the settings stores: where they live, how their files are replaced, and the
// in-memory forms of their file contents.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

// The parsers are reached from outside the library too (their fuzz targets).
#define ORVANE_SETTINGS_API __attribute__((visibility("default")))

namespace orvane::settings {

// "$XDG_CONFIG_HOME/orvane" (fallback "$HOME/.config/orvane"), a UTF-8 host path, created with its
// parents when missing; empty when no such directory can be had.
std::string ConfigDir();
// Reads a whole file. False when it cannot be read; *exists tells a missing file apart.
bool ReadWholeFile(const std::string& host_path, std::string* data, bool* exists);
// Replaces a file with data: written to a temporary file beside it ("<name>.orvane-tmp.<pid>"),
// flushed, then renamed over it, so the old or the new content is there after a crash, never
// half of one. The file keeps its mode and owner; a file the user cannot write, or one without
// any write bit (read-only), is refused (errno EACCES). Temporary files of this naming left by a
// writer that is gone are removed when the next write of the file starts.
bool WriteAtomically(const std::string& host_path, const std::string& data);

// Private profile text (the bytes of an .ini file). ReadProfile answers one
// GetPrivateProfileStringA call over it (buffer non-null, size > 0); EditProfile applies one
// WritePrivateProfileStringA call (section non-null) and tells whether the text changed.
ORVANE_SETTINGS_API DWORD ReadProfile(const std::string& text, LPCSTR section, LPCSTR key,
                                      LPCSTR default_text, LPSTR buffer, DWORD size);
ORVANE_SETTINGS_API bool EditProfile(std::string* text, LPCSTR section, LPCSTR key, LPCSTR value);

// The registry store: its keys with their typed values, and the text of its file.
struct RegistryValue {
  std::string name;
  DWORD type;
  std::string data;
};
struct RegistryKey {
  std::string path;  // "HKCU\Software\..." as first written
  std::vector<RegistryValue> values;
};
// Damaged lines are skipped.
ORVANE_SETTINGS_API std::vector<RegistryKey> ParseRegistry(const std::string& text);
ORVANE_SETTINGS_API std::string FormatRegistry(const std::vector<RegistryKey>& keys);

}  // namespace orvane::settings
