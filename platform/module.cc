// Modules on dlopen: loading by cp932 path, the running program as a module, exported functions.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/cp932.h"
#include "platform/hostpath.h"

namespace {

HMODULE ProgramHandle() {
  static void* const self = dlopen(nullptr, RTLD_NOW);
  return static_cast<HMODULE>(self);
}

std::string RealPath(const std::string& host) {
  char buf[PATH_MAX];
  return realpath(host.c_str(), buf) ? std::string(buf) : std::string();
}

bool HasDirectory(const std::string& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (orvane::cp932::IsLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;
      continue;
    }
    if (path[i] == '\\' || path[i] == '/') return true;
  }
  return false;
}

HMODULE OpenHost(const std::string& host) {
  std::string real = RealPath(host);
  if (!real.empty() && real == RealPath("/proc/self/exe")) {
    // The program itself: an executable cannot be opened twice, but its exports are reachable.
    return static_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
  }
  void* h = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = dlerror();
    OutputDebugStringA((std::string("[LoadLibrary] ") + (why ? why : host) + "\n").c_str());
  }
  return static_cast<HMODULE>(h);
}

std::string ProgramDirectory() {
  std::string exe = RealPath("/proc/self/exe");
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string engine = path;
  std::string host;
  if (!orvane::HostPathFromEngine(engine, &host)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE h = nullptr;
  if (HasDirectory(engine)) {
    h = OpenHost(host);
  } else {
    // Beside the program, then the current directory, then the host's own library search.
    std::string dir = ProgramDirectory();
    if (!dir.empty() && access((dir + host).c_str(), F_OK) == 0) h = OpenHost(dir + host);
    if (!h && access(host.c_str(), F_OK) == 0) h = OpenHost("./" + host);
    if (!h) h = OpenHost(host);
  }
  if (!h) SetLastError(ERROR_MOD_NOT_FOUND);
  return h;
}

HMODULE LoadLibraryExA(LPCSTR path, HANDLE, DWORD) {
  return LoadLibraryA(path);
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void FreeLibraryAndExitThread(HMODULE module, DWORD exit_code) {
  (void)module;
  (void)exit_code;
  OutputDebugStringA("[FreeLibraryAndExitThread] not supported on this platform.\n");
  SetLastError(ERROR_NOT_SUPPORTED);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (!name || (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(module ? static_cast<void*>(module) : static_cast<void*>(ProgramHandle()), name);
  if (!sym) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

HMODULE GetModuleHandleA(LPCSTR name) {
  if (!name) return ProgramHandle();
  std::string host;
  if (!orvane::HostPathFromEngine(name, &host)) return nullptr;
  void* h = dlopen(host.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(h);  // NOLOAD still counted one reference: give it back
  return static_cast<HMODULE>(h);
}

BOOL DisableThreadLibraryCalls(HMODULE) {
  return TRUE;
}

DWORD OrvaneGetModuleHostPath(HMODULE module, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  std::string path;
  struct link_map* map = nullptr;
  if (module && module != ProgramHandle() && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map &&
      map->l_name && map->l_name[0]) {
    path = map->l_name;
  } else if (module && module != ProgramHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  } else {
    path = RealPath("/proc/self/exe");
  }
  DWORD n = static_cast<DWORD>(std::min<size_t>(path.size(), size - 1));
  std::memcpy(buffer, path.data(), n);
  buffer[n] = 0;
  return n;
}
