// The shell: opening documents, addresses and programs.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/wintypes.h"

#define SE_ERR_NOASSOC 31
#define SE_ERR_FNF 2

// The verb "open" (or none) on a file: an executable file starts as a program with the
// parameters (split like a command line: blanks separate, double quotes group, two double quotes
// give one) in the directory given (else the current one); anything else (a document, an
// address such as "https://..." or "mailto:...") goes to the desktop's opener, xdg-open. The
// program gets an argument list, never a shell command line. The result is above 32 on success;
// SE_ERR_FNF for a missing file, SE_ERR_NOASSOC for another verb or a start that failed. The
// headless host only records the request ("shellexecute 'open' 'file' 'parameters'") and
// reports success.
ORVANE_API HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                   int show);

namespace orvane {
// The argument list of a cp932 command line by the rules above.
__attribute__((visibility("default"))) std::vector<std::string> SplitShellArguments(const char* text);
}  // namespace orvane
