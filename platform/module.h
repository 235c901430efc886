// Modules: loading shared objects and finding their exported functions.
//
// Modules are ELF shared objects opened with dlopen. A module handle is the dlopen handle. The
// running program's own path (and GetModuleHandleA(NULL)) gives the program itself, whose
// exported functions GetProcAddress then finds: an executable cannot be opened a second time.
#pragma once

#include "platform/kernel.h"
#include "platform/wintypes.h"

using FARPROC = void (*)();

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u

// Loads a module by a cp932 path ('\' or '/' separators, names matched ignoring case when the
// exact name does not exist). A name without a directory is looked for beside the program, then
// in the current directory, then by the host's library search. NULL with ERROR_MOD_NOT_FOUND on
// failure. Each successful load counts one reference that FreeLibrary gives back.
ORVANE_API HMODULE LoadLibraryA(LPCSTR path);
// The same; the flags and the file handle have no meaning here and are ignored.
ORVANE_API HMODULE LoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags);
ORVANE_API BOOL FreeLibrary(HMODULE module);
// Refused: the calling thread would return into the code of the module it unloads. Nothing is
// freed, the thread goes on, one line goes to the debugger output and the last error is
// ERROR_NOT_SUPPORTED; the caller returns from its thread function as usual.
ORVANE_API void FreeLibraryAndExitThread(HMODULE module, DWORD exit_code);
// The exported function of that name; module NULL looks in the running program. NULL with
// ERROR_PROC_NOT_FOUND when there is none.
ORVANE_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// NULL gives the running program's handle; other names are not tracked and give NULL.
ORVANE_API HMODULE GetModuleHandleA(LPCSTR name);
// Thread notifications do not exist here: a documented no-op that reports success.
ORVANE_API BOOL DisableThreadLibraryCalls(HMODULE module);
// The host path (UTF-8) of a loaded module, as dlinfo reports it; the program's own path for
// NULL or the program's handle. Returns the length copied (cut to size - 1), 0 on failure.
ORVANE_API DWORD OrvaneGetModuleHostPath(HMODULE module, LPSTR buffer, DWORD size);
