// Host paths: the engine's cp932 paths with '\' or '/' turned into UTF-8 paths of this machine.
#pragma once

#include <string>
#include <string_view>

#define ORVANE_CXX_API __attribute__((visibility("default")))

namespace orvane {

// Converts cp932 text to UTF-8. False on bytes that are not cp932, unless lossy is set, in which
// case each such byte becomes '?'.
ORVANE_CXX_API bool Cp932ToUtf8(std::string_view cp932, std::string* utf8, bool lossy = false);
// Converts UTF-8 text to cp932. False when the text is not UTF-8 or holds a character that cp932
// lacks.
ORVANE_CXX_API bool Utf8ToCp932(std::string_view utf8, std::string* cp932);

// The one rule between engine text and host names. A host name that cp932 cannot spell (a
// character cp932 lacks, or bytes that are not UTF-8) still has an engine form: each of its
// bytes becomes a double-byte character of cp932's user-defined area (lead byte 0xF0), and that
// form maps back to the very same host bytes. HostTextFromEngine is false only for bytes that
// are not cp932; EngineTextFromHost never fails.
ORVANE_CXX_API bool HostTextFromEngine(std::string_view engine, std::string* host);
ORVANE_CXX_API void EngineTextFromHost(std::string_view host, std::string* engine);

// Turns an engine path (cp932, '\' or '/' between components; a trail byte 0x5C of a double-byte
// character is not a separator) into a UTF-8 host path with '/'. When the exact path does not
// exist, each component is looked up in its directory ignoring ASCII case (data written for
// Windows names files in any case); components with no such match are kept as given, so paths
// of files about to be created come out as written. Names go through HostTextFromEngine. False
// when the path is not cp932.
ORVANE_CXX_API bool HostPathFromEngine(std::string_view engine_path, std::string* host_path);

// The inverse, for paths that come from the host (argv, the program's path, file dialogs):
// EngineTextFromHost, separators kept as '/'. Always true.
ORVANE_CXX_API bool EnginePathFromHost(std::string_view host_path, std::string* engine_path);

}  // namespace orvane
