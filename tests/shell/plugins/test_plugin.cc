// A plug-in for the loader's tests, built in several variants (macros below). It binds the
// engine's seeded exports by name from the path the engine hands it, calls back into the engine
// and records what happens in the platform's trace ("plugin TAG ...").
#include <cstdint>
#include <cstring>
#include <string>

#include "base/dstring.h"
#include "platform/host.h"
#include "platform/win32.h"

#ifndef PLUGIN_TAG
#define PLUGIN_TAG "core"
#endif
#ifndef PLUGIN_VERSION
#define PLUGIN_VERSION 256
#endif
#ifndef PLUGIN_LOAD_SYSTEM_RESULT
#define PLUGIN_LOAD_SYSTEM_RESULT 1
#endif

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

HMODULE g_engine = nullptr;

void Trace(const std::string& what) {
  // Built with this module's own copy of the string class.
  DStringBuffer line("plugin " PLUGIN_TAG " ");
  line += what.c_str();
  orvane::host::RecordTrace(line.GetText());
}

// The names this variant announces, with the lengths it claims for them.
struct Announced {
  const char* name;
  uint32_t claimed;  // 0: the name's real length
  bool terminate;    // writes a NUL after the name
};

#if defined(PLUGIN_LIAR)
const std::string kLong;
const Announced kNames[] = {{"startjunk!", 5, false}, {"x", 100000, true}};
#elif defined(PLUGIN_LONG)
const std::string kLong(300, 'q');
const Announced kNames[] = {{kLong.c_str(), 0, true}};
#elif defined(PLUGIN_UPPER)
const std::string kLong;
const Announced kNames[] = {{"START", 0, true}};
#else
const std::string kLong;
const Announced kNames[] = {{"start", 0, true}, {"second", 0, true}};
#endif

}  // namespace

PLUGIN_EXPORT uint32_t ovGetVersion() {
  Trace("version");
  return PLUGIN_VERSION;
}

PLUGIN_EXPORT int32_t ovLoadSystem(const char* engine_path) {
  g_engine = LoadLibraryA(engine_path);
  int bound = 0;
  for (const char* name : {"ovGetWindow", "ovMessage", "ovIsExit", "ovCheckSystemName"}) {
    if (GetProcAddress(g_engine, name)) ++bound;
  }
  auto is_exit = reinterpret_cast<int (*)()>(GetProcAddress(g_engine, "ovIsExit"));
  auto message =
      reinterpret_cast<int (*)(const char*, const char*, int)>(GetProcAddress(g_engine, "ovMessage"));
  auto window = reinterpret_cast<HWND (*)()>(GetProcAddress(g_engine, "ovGetWindow"));
  std::string calls;
  if (is_exit && message && window) {
    calls = " isexit=" + std::to_string(is_exit()) +
            " message=" + std::to_string(message("hello", "from", 1)) +
            " window=" + (window() ? "set" : "none");
  }
  Trace("loadsystem bound=" + std::to_string(bound) + calls +
        " pathlength=" + std::to_string(std::strlen(engine_path)));
  return PLUGIN_LOAD_SYSTEM_RESULT;
}

#ifndef PLUGIN_NO_UNLOAD_SYSTEM
PLUGIN_EXPORT void ovUnloadSystem() {
  Trace("unloadsystem");
  if (g_engine) FreeLibrary(g_engine);
  g_engine = nullptr;
}
#endif

#ifdef PLUGIN_WITH_INIT
PLUGIN_EXPORT int32_t ovLoadInit() {
  Trace("loadinit");
  return 1;
}
PLUGIN_EXPORT void ovUnloadExit() {
  Trace("unloadexit");
}
#endif

PLUGIN_EXPORT uint32_t ovGetFunction(char* buffer, uint32_t size, uint32_t index) {
  if (index >= sizeof kNames / sizeof kNames[0]) return 0;
  const Announced& a = kNames[index];
  uint32_t length = a.claimed ? a.claimed : static_cast<uint32_t>(std::strlen(a.name));
  if (!buffer) return length;
  size_t n = std::strlen(a.name);
  if (n + (a.terminate ? 1 : 0) > size) return 0;
  std::memcpy(buffer, a.name, n);
  if (a.terminate) buffer[n] = 0;
  return 1;
}

PLUGIN_EXPORT int32_t start(int32_t argument) {
  Trace("start " + std::to_string(argument));
  return argument + 1;
}
PLUGIN_EXPORT int32_t second(int32_t) {
  return 0;
}
PLUGIN_EXPORT int32_t START(int32_t) {
  return 5;
}
