// The API's test plug-in, built from the public header alone: it binds every export by name from
// the path the engine hands it and announces functions that call some of them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

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

const char* const kNames[] = {"probe", "quit", "media"};

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

// The game's sound and music exports in the order it calls them (a stream of a prelude and a
// body, an effect sound), then hostile arguments; every handle is given back.
PLUGIN_EXPORT int32_t media(int32_t) {
  ApiHandle* stream = g_ov.ovCreateStream();
  const int32_t prelude = g_ov.ovAddStreamList(stream, "bgm\\intro.wav", 0, 0.0f, 0);
  const int32_t body = g_ov.ovAddStreamList(stream, "bgm/missing.wav", -1, 1.5f, 1);
  g_ov.ovPlayStream(stream);
  ApiHandle* sound = g_ov.ovLoadSound("se.wav", 1);
  g_ov.ovPlaySound(sound, 0);
  g_ov.ovStopStream(stream);
  g_ov.ovDestroyStream(stream);
  g_ov.ovDestroySound(sound);

  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const std::string huge(64 * 1024, 'x');
  int failures = 0;
  failures += g_ov.ovLoadSound(nullptr, 1) != nullptr;
  failures += g_ov.ovLoadSound(huge.c_str(), INT32_MIN) != nullptr;
  failures += g_ov.ovLoadSound3D(huge.c_str()) != nullptr;
  failures += g_ov.ovAddMidiList(nullptr, INT32_MIN, nan, INT32_MIN) != 0;
  failures += g_ov.ovAddMidiList(huge.c_str(), 0, inf, 0) != 0;
  ApiHandle* s3 = g_ov.ovLoadSound3D("se.wav");
  g_ov.ovSetSoundPos(s3, nan, inf, 1e30f);
  g_ov.ovSetSoundCone(s3, nan, -inf, 1e30f, nan, 0, 0);
  g_ov.ovSetSoundDistance(s3, -inf, nan);
  g_ov.ovSetSound3DMode(s3, INT32_MIN);
  g_ov.ovPlaySound(s3, INT32_MIN);
  g_ov.ovSetSoundListenerDir(nan, nan, nan, inf, inf, inf);
  g_ov.ovSetSoundRolloffFactor(nan);
  g_ov.ovCommitSound3D();
  g_ov.ovDestroySound(s3);
  ApiHandle* s = g_ov.ovCreateStream();
  failures += g_ov.ovAddStreamList(s, nullptr, 0, nan, 0) != 0;
  failures += g_ov.ovAddStreamList(s, huge.c_str(), INT32_MIN, -inf, INT32_MIN) != 0;
  failures += g_ov.ovAddStreamList(s, "damaged.wav", 0, 0.0f, 0) != 0;
  failures += g_ov.ovAddMidiList("damaged.wav", 0, 0.0f, 0) != 0;
  g_ov.ovDestroySound(g_ov.ovLoadSound("damaged.wav", 4));  // without a sound device it loads
  g_ov.ovPlayStream(s);
  g_ov.ovDestroyStream(s);
  g_ov.ovSetMidiSpeed(nan);
  g_ov.ovFadeinMidi(INT32_MIN, INT32_MIN);

  char line[128];
  std::snprintf(line, sizeof line, "media sound=%d stream=%d prelude=%d body=%d hostile=%d", sound != nullptr,
                stream != nullptr, prelude, body, failures);
  Trace(line);
  return 1;
}
