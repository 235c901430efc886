// Fuzz target: arbitrary text as the music list file, then music asked for by every name the list
// defined and by pieces of the text, against a small stand-in engine; every play-ending error is
// caught as the game's start does, and no file or stream may be left open.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/sound.h"

namespace {

std::string g_text;
size_t g_position = 0;
int g_open_files = 0;
int g_live_streams = 0;
char g_line[1024];
char g_stream_tag;  // the streams' handles point here

#include "fuzz/export_failure_stand_ins.h"

ApiHandle* const kFile = reinterpret_cast<ApiHandle*>(&g_position);
ApiHandle* const kStream = reinterpret_cast<ApiHandle*>(&g_stream_tag);

int32_t IsFileExist(const char* path) noexcept {
  return std::strcmp(path, "bgm/list.txt") == 0;
}

ApiHandle* CreateFile(const char* path, int32_t mode) noexcept {
  if (mode != 1 || std::strcmp(path, "bgm/list.txt") != 0) return nullptr;
  ++g_open_files;
  g_position = 0;
  return kFile;
}

void DestroyFile(ApiHandle*) noexcept {
  --g_open_files;
}

// Lines as the engine hands them out: up to "\n" or NUL, control bytes dropped, 1023-byte pieces.
const char* ReadFileLine(ApiHandle*) noexcept {
  if (g_position >= g_text.size()) return nullptr;
  size_t length = 0;
  while (g_position < g_text.size()) {
    unsigned char c = static_cast<unsigned char>(g_text[g_position]);
    if (c == '\n' || c == 0) {
      ++g_position;
      break;
    }
    if (c < 0x20 && c != '\t') {
      ++g_position;
      continue;
    }
    if (length == 1023) break;
    g_line[length++] = static_cast<char>(c);
    ++g_position;
  }
  g_line[length] = '\0';
  return g_line;
}

// One stream at a time: the game stops and destroys the old one before it makes another.
ApiHandle* CreateStream() noexcept {
  if (g_live_streams != 0) __builtin_trap();
  ++g_live_streams;
  return kStream;
}

void CheckStream(ApiHandle* stream) {
  if (stream != kStream || g_live_streams != 1) __builtin_trap();
}

int32_t AddStreamList(ApiHandle* stream, const char* path, int32_t, float, int32_t) noexcept {
  CheckStream(stream);
  return std::strlen(path) < 264;
}

void PlayStream(ApiHandle* stream) noexcept {
  CheckStream(stream);
}

void DestroyStream(ApiHandle* stream) noexcept {
  CheckStream(stream);
  --g_live_streams;
}

void* Lookup(void*, const char* name) {
  if (std::strcmp(name, "ovIsFileExist") == 0) return reinterpret_cast<void*>(&IsFileExist);
  if (std::strcmp(name, "ovCreateFile") == 0) return reinterpret_cast<void*>(&CreateFile);
  if (std::strcmp(name, "ovDestroyFile") == 0) return reinterpret_cast<void*>(&DestroyFile);
  if (std::strcmp(name, "ovReadFileLine") == 0) return reinterpret_cast<void*>(&ReadFileLine);
  if (std::strcmp(name, "ovCreateStream") == 0) return reinterpret_cast<void*>(&CreateStream);
  if (std::strcmp(name, "ovAddStreamList") == 0) return reinterpret_cast<void*>(&AddStreamList);
  if (std::strcmp(name, "ovPlayStream") == 0) return reinterpret_cast<void*>(&PlayStream);
  if (std::strcmp(name, "ovStopStream") == 0) return reinterpret_cast<void*>(&PlayStream);
  if (std::strcmp(name, "ovDestroyStream") == 0) return reinterpret_cast<void*>(&DestroyStream);
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::strcmp(name, #export_name) == 0) return reinterpret_cast<void*>(&stand_in::export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

void Play(const char* name) {
  try {
    bgmPlay(name);
  } catch (const DExceptGame&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  g_text.assign(reinterpret_cast<const char*>(data), size);
  static const bool bound = BindEngineApi(&Lookup, nullptr);
  if (!bound) __builtin_trap();
  try {
    LoadBgmList();
  } catch (const DExceptGame&) {
  }
  if (g_open_files != 0) __builtin_trap();
  // Every defined name among the low numbers, each twice, then silence.
  const int64_t count = BgmCount() < 64 ? BgmCount() : 64;
  for (int64_t n = 0; n < count; ++n) {
    const DBgm* record = BgmRecord(n);
    if (!record) continue;
    const std::string name = record->name;
    Play(name.c_str());
    Play(name.c_str());
  }
  Play("");
  // The first line of the text as a name.
  Play(g_text.substr(0, g_text.find('\n')).c_str());
  ReleaseBgm();
  if (g_live_streams != 0) __builtin_trap();
  return 0;
}
