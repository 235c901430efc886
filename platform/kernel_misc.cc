// Local time, the debugger output and the program's own path.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/hostpath.h"
#include "platform/kernel.h"

void GetLocalTime(LPSYSTEMTIME time) {
  if (!time) return;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

void OutputDebugStringA(LPCSTR text) {
  static const bool enabled = std::getenv("ORVANE_DEBUG") != nullptr;
  if (!enabled || !text) return;
  std::string utf8;
  orvane::Cp932ToUtf8(text, &utf8, true);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  char host[4096];
  ssize_t n = readlink("/proc/self/exe", host, sizeof host);
  std::string path;
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof host) ||
      !orvane::EnginePathFromHost(std::string_view(host, n), &path)) {
    buffer[0] = '\0';
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(0);
  return static_cast<DWORD>(path.size());
}
