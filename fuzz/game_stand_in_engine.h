// A small stand-in engine for the game's fuzz targets: an in-memory file system read in 1023-byte
// line pieces, pictures of fixed sizes, made images, character sets with glyph metrics from the
// code, and images, sprites, sets and files tracked so that a handle of the wrong kind, a double
// destroy or a leak traps. Time is the platform's virtual clock, moved only by the event wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/dpath.h"
#include "base/dstring.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/resource.h"
#include "game/sprite.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "platform/mmsystem.h"

namespace stand_in_engine {

struct Object {
  const char* kind;
  bool live;
  int32_t w = 0, h = 0;  // images: the window
  std::string path;      // files
  size_t position = 0;   // files
  char line[1024] = {};  // files: the last piece handed out
};
inline std::unordered_map<ApiHandle*, std::unique_ptr<Object>> g_objects;
inline std::map<std::string, std::string> g_files;
inline std::map<std::string, std::pair<int32_t, int32_t>> g_pictures;
inline DWORD g_exit_at = 0xFFFFFFFFu;

inline ApiHandle* Make(const char* kind) {
  auto object = std::make_unique<Object>();
  object->kind = kind;
  object->live = true;
  ApiHandle* h = reinterpret_cast<ApiHandle*>(object.get());
  g_objects[h] = std::move(object);
  return h;
}

inline Object& Need(ApiHandle* h, const char* kind) {
  auto it = g_objects.find(h);
  if (it == g_objects.end() || !it->second->live || std::strcmp(it->second->kind, kind) != 0)
    __builtin_trap();
  return *it->second;
}

inline void Kill(ApiHandle* h, const char* kind) {
  Need(h, kind).live = false;
}

inline int LiveObjects() {
  int n = 0;
  for (auto& [h, o] : g_objects) n += o->live;
  return n;
}

template <typename T>
T FailureValue() {
  if constexpr (!std::is_void_v<T>) return T{};
}

namespace failing {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params) \
  inline return_type name params noexcept {            \
    return FailureValue<return_type>();                \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
}  // namespace failing

namespace model {
inline int32_t IsExit() noexcept {
  return timeGetTime() >= g_exit_at;
}
inline int32_t IsFileExist(const char* path) noexcept {
  return g_files.count(path) || g_pictures.count(path);
}
inline void MargePath(char* out, const char* d, const char* n, const char* e) noexcept {
  DMargePath(out, DString(d), DString(n), DString(e));
}
inline int32_t WaitEvent(int32_t ms) noexcept {
  orvane::clock::AdvanceVirtualClock(ms > 0 ? static_cast<DWORD>(ms) : 1);
  return 0;
}
inline ApiHandle* CreateFile(const char* path, int32_t mode) noexcept {
  if (mode != 1 || !g_files.count(path)) return nullptr;
  ApiHandle* h = Make("file");
  Need(h, "file").path = path;
  return h;
}
inline void DestroyFile(ApiHandle* h) noexcept {
  Kill(h, "file");
}
// Lines end at "\n"; bytes below 0x20 other than TAB go; pieces of at most 1023 bytes.
inline const char* ReadFileLine(ApiHandle* h) noexcept {
  Object& f = Need(h, "file");
  const std::string& text = g_files[f.path];
  if (f.position >= text.size()) return nullptr;
  size_t n = 0;
  while (f.position < text.size() && n < 1023) {
    const char c = text[f.position];
    if (c == '\n' || c == '\0') {
      ++f.position;
      break;
    }
    ++f.position;
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') continue;
    f.line[n++] = c;
  }
  f.line[n] = '\0';
  return f.line;
}
inline ApiHandle* LoadImage(int32_t w, int32_t h, const char* path, int32_t) noexcept {
  auto it = g_pictures.find(path);
  if (it == g_pictures.end()) return nullptr;
  auto window = [](int32_t value, int32_t source) {
    if (value > 0) return value;
    if (value == 0) return source;
    return static_cast<int32_t>(static_cast<uint32_t>(source) / (0u - static_cast<uint32_t>(value)));
  };
  ApiHandle* handle = Make("image");
  Need(handle, "image").w = window(w, it->second.first);
  Need(handle, "image").h = window(h, it->second.second);
  return handle;
}
inline void DestroyImage(ApiHandle* h) noexcept {
  Kill(h, "image");
}
inline ApiHandle* CreateImage(int32_t w, int32_t h) noexcept {
  if (w <= 0 || h <= 0) return nullptr;
  ApiHandle* handle = Make("image");
  Need(handle, "image").w = w;
  Need(handle, "image").h = h;
  return handle;
}
inline void FillImage(ApiHandle* h, float, float, float, float) noexcept {
  Need(h, "image");
}
inline void FillImageRect(ApiHandle* h, int32_t, int32_t, int32_t, int32_t, float, float, float,
                          float) noexcept {
  Need(h, "image");
}
// Character sets: the code rendered last is kept; metrics come from the code, some of them
// negative or empty, and every 97th code cannot be rendered.
inline ApiHandle* CreateChar(const char*, int32_t height, int32_t, int32_t, int32_t, int32_t) noexcept {
  ApiHandle* handle = Make("char");
  Need(handle, "char").h = height;
  return handle;
}
inline void DestroyChar(ApiHandle* h) noexcept {
  Kill(h, "char");
}
inline int32_t RenderChar(ApiHandle* h, uint32_t code) noexcept {
  Need(h, "char").w = static_cast<int32_t>(code & 0xFFFF);
  return code % 97 != 0;
}
inline OvSize CharBox(ApiHandle* h) noexcept {
  const int32_t c = Need(h, "char").w;
  return {c % 23 - 3, c % 19};
}
inline OvPoint CharPos(ApiHandle* h) noexcept {
  const int32_t c = Need(h, "char").w;
  return {c % 5 - 2, c % 7 - 3};
}
inline OvSize CharFeed(ApiHandle* h) noexcept {
  const int32_t c = Need(h, "char").w;
  return {c % 41 - 5, Need(h, "char").h};
}
inline void DrawChar(ApiHandle* image, int32_t, int32_t, ApiHandle* set) noexcept {
  Need(image, "image");
  Need(set, "char");
}
inline ApiHandle* CreateSprite(ApiHandle* image, int32_t, int32_t) noexcept {
  Need(image, "image");
  return Make("sprite");
}
inline void DestroySprite(ApiHandle* h) noexcept {
  Kill(h, "sprite");
}
inline OvSize GetImageSize(ApiHandle* h) noexcept {
  const Object& image = Need(h, "image");
  return {image.w, image.h};
}
inline void SetImagePos(ApiHandle* h, int32_t, int32_t) noexcept {
  Need(h, "image");
}
inline int32_t RenderScreen() noexcept {
  return 1;
}
inline int32_t SetSpriteLevel(ApiHandle* h, int32_t) noexcept {
  Need(h, "sprite");
  return 1;
}
inline void SpriteInt2(ApiHandle* h, int32_t, int32_t) noexcept {
  Need(h, "sprite");
}
inline void SpriteInt4(ApiHandle* h, int32_t, int32_t, int32_t, int32_t) noexcept {
  Need(h, "sprite");
}
inline void SpriteFloat2(ApiHandle* h, float, float) noexcept {
  Need(h, "sprite");
}
inline void SpriteFloat(ApiHandle* h, float) noexcept {
  Need(h, "sprite");
}
inline void Sprite0(ApiHandle* h) noexcept {
  Need(h, "sprite");
}
inline void SpriteInt(ApiHandle* h, int32_t) noexcept {
  Need(h, "sprite");
}
inline void Connect(ApiHandle* h, ApiHandle* parent) noexcept {
  Need(h, "sprite");
  Need(parent, "sprite");
}
}  // namespace model

inline void* Lookup(void*, const char* name) {
  static const std::unordered_map<std::string, void*> kModelled = {
      {"ovIsExit", reinterpret_cast<void*>(&model::IsExit)},
      {"ovIsFileExist", reinterpret_cast<void*>(&model::IsFileExist)},
      {"ovMargePath", reinterpret_cast<void*>(&model::MargePath)},
      {"ovWaitEvent", reinterpret_cast<void*>(&model::WaitEvent)},
      {"ovCreateFile", reinterpret_cast<void*>(&model::CreateFile)},
      {"ovDestroyFile", reinterpret_cast<void*>(&model::DestroyFile)},
      {"ovReadFileLine", reinterpret_cast<void*>(&model::ReadFileLine)},
      {"ovtsLoadImage", reinterpret_cast<void*>(&model::LoadImage)},
      {"ovtsDestroyImage", reinterpret_cast<void*>(&model::DestroyImage)},
      {"ovtsCreateSprite", reinterpret_cast<void*>(&model::CreateSprite)},
      {"ovtsCreateImage", reinterpret_cast<void*>(&model::CreateImage)},
      {"ovtsFillImage", reinterpret_cast<void*>(&model::FillImage)},
      {"ovtsFillImageRect", reinterpret_cast<void*>(&model::FillImageRect)},
      {"ovCreateChar", reinterpret_cast<void*>(&model::CreateChar)},
      {"ovDestroyChar", reinterpret_cast<void*>(&model::DestroyChar)},
      {"ovRenderChar", reinterpret_cast<void*>(&model::RenderChar)},
      {"ovGetCharBoxSize", reinterpret_cast<void*>(&model::CharBox)},
      {"ovGetCharDrawPos", reinterpret_cast<void*>(&model::CharPos)},
      {"ovGetCharFeedSize", reinterpret_cast<void*>(&model::CharFeed)},
      {"ovtsDrawChar", reinterpret_cast<void*>(&model::DrawChar)},
      {"ovtsDestroySprite", reinterpret_cast<void*>(&model::DestroySprite)},
      {"ovtsGetImageSize", reinterpret_cast<void*>(&model::GetImageSize)},
      {"ovtsSetImagePos", reinterpret_cast<void*>(&model::SetImagePos)},
      {"ovtsRenderScreen", reinterpret_cast<void*>(&model::RenderScreen)},
      {"ovtsSetSpriteLevel", reinterpret_cast<void*>(&model::SetSpriteLevel)},
      {"ovtsSetSpritePos", reinterpret_cast<void*>(&model::SpriteInt2)},
      {"ovtsSetSpriteSize", reinterpret_cast<void*>(&model::SpriteInt2)},
      {"ovtsSetSpriteMap", reinterpret_cast<void*>(&model::SpriteInt4)},
      {"ovtsSetSpritePivot", reinterpret_cast<void*>(&model::SpriteFloat2)},
      {"ovtsRotateSpriteNone", reinterpret_cast<void*>(&model::Sprite0)},
      {"ovtsRotateSpriteX", reinterpret_cast<void*>(&model::SpriteFloat)},
      {"ovtsRotateSpriteY", reinterpret_cast<void*>(&model::SpriteFloat)},
      {"ovtsRotateSpriteZ", reinterpret_cast<void*>(&model::SpriteFloat)},
      {"ovtsSetSpriteBlend", reinterpret_cast<void*>(&model::SpriteInt)},
      {"ovtsConnectSprite", reinterpret_cast<void*>(&model::Connect)},
  };
  auto it = kModelled.find(name);
  if (it != kModelled.end()) return it->second;
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::strcmp(name, #export_name) == 0) return reinterpret_cast<void*>(&failing::export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

// Binds the engine once, restarts the clock and the game's globals, and sets the pictures.
inline void StartPlay() {
  static const bool bound = BindEngineApi(&Lookup, nullptr);
  if (!bound) __builtin_trap();
  orvane::clock::UseVirtualClock(1000);
  g_exit_at = 0xFFFFFFFFu;
  g_pictures = {{"d/pic.png", {40, 20}}, {"d/a.png", {64, 32}}, {"d/b.png", {16, 8}}};
  ResetTimerGlobals();
  ResetResourceDefaults();
  ResetSpriteGlobals();
  ResetTextLayerGlobals();
  SetTimerRedraw(&sprRender);
}

// The game's clean-up at the end of start; nothing may stay live.
inline void EndPlay() {
  ResetTextLayerGlobals();
  sprClearAll();
  ClearWipes();
  ReleaseCaches();
  ResetTimerGlobals();
  if (LiveObjects() != 0) __builtin_trap();
  g_objects.clear();
  g_files.clear();
}

}  // namespace stand_in_engine
