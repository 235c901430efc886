// The API's test plug-in, built from the public header alone: it binds every export by name from
// the path the engine hands it and announces functions that call some of them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "api/ov_api.h"
#include "platform/host.h"
#include "platform/win32.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

HMODULE g_engine = nullptr;

// Every export, bound by name.
struct Exports {
#define OV_EXPORT(position, name, return_type, params) OvFn_##name name = nullptr;
#include "api/export_list.h"
#undef OV_EXPORT
} g_ov;

int Bind() {
  int bound = 0;
#define OV_EXPORT(position, name, return_type, params)                        \
  g_ov.name = reinterpret_cast<OvFn_##name>(GetProcAddress(g_engine, #name)); \
  if (g_ov.name) ++bound;
#include "api/export_list.h"
#undef OV_EXPORT
  return bound;
}

void Trace(const char* text) {
  orvane::host::RecordTrace(std::string("apiplugin ") + text);
}

const char* const kNames[] = {"probe", "quit", "netprobe"};

}  // namespace

PLUGIN_EXPORT uint32_t ovGetVersion() {
  return 0x100;
}

// Binds the module at the path; the plug-in works only when every export is there.
PLUGIN_EXPORT int32_t ovLoadSystem(const char* engine_path) {
  g_engine = LoadLibraryA(engine_path);
  if (!g_engine) return 0;
  const int bound = Bind();
  char line[64];
  std::snprintf(line, sizeof line, "bound=%d", bound);
  Trace(line);
  if (bound == kOvExportCount) return 1;
  FreeLibrary(g_engine);
  g_engine = nullptr;
  return 0;
}

PLUGIN_EXPORT void ovUnloadSystem() {
  if (g_engine) FreeLibrary(g_engine);
  g_engine = nullptr;
}

PLUGIN_EXPORT uint32_t ovGetFunction(char* buffer, uint32_t size, uint32_t index) {
  if (index >= sizeof kNames / sizeof kNames[0]) return 0;
  const size_t n = std::strlen(kNames[index]);
  if (!buffer) return static_cast<uint32_t>(n);
  if (n + 1 > size) return 0;
  std::memcpy(buffer, kNames[index], n + 1);
  return 1;
}

// Calls exports of several families from inside CallPlugin and reports what they gave.
PLUGIN_EXPORT int32_t probe(int32_t argument) {
  g_ov.ovSetFPS(60);
  char slash[264];
  g_ov.ovConvSlashPath(slash, "a\\b");
  const int32_t r = g_ov.ovRandom(4, 5);
  // An export of a later family gives its failure value.
  const OvSize size = g_ov.ovGetImageSize(nullptr);
  char line[512];
  std::snprintf(line, sizeof line, "probe %d delay=%.6f slash=%s random=%d isexit=%d size=%d,%d", argument,
                static_cast<double>(g_ov.ovGetDelayTime()), slash, r, g_ov.ovIsExit(), size.width,
                size.height);
  Trace(line);
  return 7;
}

PLUGIN_EXPORT int32_t quit(int32_t) {
  return 0;
}

// A loopback pair made through the exports alone: listen, connect, accept, then one number, one
// float, one line and raw bytes each way, received with the destination first and the net last.
// Each wait call pumps the engine's messages once, so the loops poll with short naps.
PLUGIN_EXPORT int32_t netprobe(int32_t) {
  ApiHandle* listener = nullptr;
  int32_t port = 44500;
  for (; port < 65000 && !listener; ++port) listener = g_ov.ovBindNet(port, 5);
  --port;
  ApiHandle* client = listener ? g_ov.ovConnectNet("127.0.0.1", port, 0) : nullptr;
  ApiHandle* server = nullptr;
  const timespec nap{0, 1000000};
  for (int i = 0; i < 3000 && client && !server; ++i) {
    server = g_ov.ovAcceptNet(listener, 1);
    if (!server) nanosleep(&nap, nullptr);
  }
  int32_t number = 0;
  float value = 0;
  char data[3] = {};
  const char* line = nullptr;
  int sent = 0;
  if (server) {
    g_ov.ovSetNetModeWait(client, 0);
    g_ov.ovSetNetModeWait(server, 0);
    sent = g_ov.ovSendNetNumber(server, -2) + g_ov.ovSendNetFloat(server, 1.5f) +
           g_ov.ovSendNetString(server, "a\rb") + g_ov.ovSendNetData(server, "xyz", 3);
    for (int i = 0; i < 3000 && !g_ov.ovRecvNetNumber(&number, client); ++i) nanosleep(&nap, nullptr);
    for (int i = 0; i < 3000 && !g_ov.ovRecvNetFloat(&value, client); ++i) nanosleep(&nap, nullptr);
    for (int i = 0; i < 3000 && !(line = g_ov.ovRecvNetString(client)); ++i) nanosleep(&nap, nullptr);
    for (int i = 0; i < 3000 && !g_ov.ovRecvNetData(data, 3, client); ++i) nanosleep(&nap, nullptr);
  }
  char text[256];
  std::snprintf(text, sizeof text, "net sent=%d number=%d float=%.2f line=%s data=%.3s connect=%d accept=%d",
                sent, number, static_cast<double>(value), line ? line : "<none>", data,
                g_ov.ovIsNetConnect(client), g_ov.ovIsNetAccept(listener));
  Trace(text);
  g_ov.ovDestroyNet(server);
  g_ov.ovDestroyNet(client);
  g_ov.ovDestroyNet(listener);
  return 1;
}
