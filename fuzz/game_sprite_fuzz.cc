// Fuzz target: random sequences of sprite operations (create, show and hide through wipes, move,
// parent, size, rotate, animation sets, destroy, cache flush, waits) against a stand-in engine
// that tracks every object it makes. After each operation the sprite table's invariants must
// hold; a play-ending error is followed by the game's clean-up, which must leave nothing live.
#include <cstddef>
#include <cstdint>
#include <cstring>
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
#include "game/timer.h"
#include "game/wipe.h"
#include "platform/mmsystem.h"

namespace {

struct Object {
  const char* kind;
  bool live;
  int32_t level;
};
std::unordered_map<ApiHandle*, Object> g_objects;
std::vector<std::unique_ptr<int>> g_storage;

ApiHandle* Make(const char* kind, int32_t level = 0) {
  g_storage.push_back(std::make_unique<int>(0));
  ApiHandle* h = reinterpret_cast<ApiHandle*>(g_storage.back().get());
  g_objects[h] = {kind, true, level};
  return h;
}

// A handle the game passes must be live and of its kind.
Object& Need(ApiHandle* h, const char* kind) {
  auto it = g_objects.find(h);
  if (it == g_objects.end() || !it->second.live) __builtin_trap();
  if (std::strcmp(kind, "image") == 0) {
    if (std::strcmp(it->second.kind, "image") != 0 && std::strcmp(it->second.kind, "dynamic") != 0)
      __builtin_trap();
  } else if (std::strcmp(it->second.kind, kind) != 0) {
    __builtin_trap();
  }
  return it->second;
}

void Kill(ApiHandle* h, const char* kind) {
  Need(h, kind).live = false;
}

int LiveObjects() {
  int n = 0;
  for (auto& [h, o] : g_objects) n += o.live;
  return n;
}

int g_failing_renders = 0;

#include "fuzz/export_failure_stand_ins.h"

bool Exists(const char* path) {
  return std::strcmp(path, "a.png") == 0 || std::strcmp(path, "b.png") == 0 ||
         std::strcmp(path, "m.png") == 0;
}

namespace model {
int32_t IsFileExist(const char* path) noexcept {
  return Exists(path);
}
void MargePath(char* out, const char* d, const char* n, const char* e) noexcept {
  DMargePath(out, DString(d), DString(n), DString(e));
}
int32_t WaitEvent(int32_t ms) noexcept {
  orvane::clock::AdvanceVirtualClock(ms > 0 ? static_cast<DWORD>(ms) : 1);
  return 0;
}
ApiHandle* LoadImage(int32_t, int32_t, const char* path, int32_t) noexcept {
  return Exists(path) ? Make("image") : nullptr;
}
ApiHandle* CreateImage(int32_t w, int32_t h) noexcept {
  return w > 0 && h > 0 ? Make("image") : nullptr;
}
ApiHandle* CreateDynamicImage(int32_t w, int32_t h) noexcept {
  return w > 0 && h > 0 ? Make("dynamic") : nullptr;
}
void DestroyImage(ApiHandle* h) noexcept {
  Kill(h, "image");
}
void FillImage(ApiHandle* h, float, float, float, float) noexcept {
  Need(h, "image");
}
ApiHandle* LoadWipe(const char* path) noexcept {
  return Exists(path) ? Make("wipe") : nullptr;
}
void DestroyWipe(ApiHandle* h) noexcept {
  Kill(h, "wipe");
}
void SetWipeLevel(ApiHandle* h, float) noexcept {
  Need(h, "wipe");
}
ApiHandle* CreateSprite(ApiHandle* image, int32_t level, int32_t) noexcept {
  Need(image, "image");
  return Make("sprite", level);
}
void DestroySprite(ApiHandle* h) noexcept {
  Kill(h, "sprite");
}
OvSize GetImageSize(ApiHandle* h) noexcept {
  Need(h, "image");
  return {16, 8};
}
void SetImagePos(ApiHandle* h, int32_t, int32_t) noexcept {
  Need(h, "image");
}
int32_t IsImageLost(ApiHandle* h) noexcept {
  Need(h, "image");
  return 0;
}
void GetRenderImage(ApiHandle* h) noexcept {
  Need(h, "dynamic");
}
int32_t RenderScreen() noexcept {
  if (g_failing_renders > 0) {
    --g_failing_renders;
    return 0;
  }
  return 1;
}
int32_t Render() noexcept {
  return 1;
}
int32_t GetSpriteLevel(ApiHandle* h) noexcept {
  return Need(h, "sprite").level;
}
int32_t SetSpriteLevel(ApiHandle* h, int32_t level) noexcept {
  Need(h, "sprite").level = level;
  return 1;
}
void SpriteInt2(ApiHandle* h, int32_t, int32_t) noexcept {
  Need(h, "sprite");
}
void SpriteInt4(ApiHandle* h, int32_t, int32_t, int32_t, int32_t) noexcept {
  Need(h, "sprite");
}
void SpriteFloat2(ApiHandle* h, float, float) noexcept {
  Need(h, "sprite");
}
void SpriteFloat(ApiHandle* h, float) noexcept {
  Need(h, "sprite");
}
void Sprite0(ApiHandle* h) noexcept {
  Need(h, "sprite");
}
void SpriteInt(ApiHandle* h, int32_t) noexcept {
  Need(h, "sprite");
}
void ColorA(ApiHandle* h, int32_t, float) noexcept {
  Need(h, "sprite");
}
void Connect(ApiHandle* h, ApiHandle* parent) noexcept {
  Need(h, "sprite");
  if (parent) Need(parent, "sprite");
}
void SetSpriteWipe(ApiHandle* h, ApiHandle* wipe, int32_t) noexcept {
  Need(h, "sprite");
  if (wipe) Need(wipe, "wipe");
}
}  // namespace model

void* Lookup(void*, const char* name) {
  static const std::unordered_map<std::string, void*> kModelled = {
      {"ovIsFileExist", reinterpret_cast<void*>(&model::IsFileExist)},
      {"ovMargePath", reinterpret_cast<void*>(&model::MargePath)},
      {"ovWaitEvent", reinterpret_cast<void*>(&model::WaitEvent)},
      {"ovtsLoadImage", reinterpret_cast<void*>(&model::LoadImage)},
      {"ovtsCreateImage", reinterpret_cast<void*>(&model::CreateImage)},
      {"ovtsCreateDynamicImage", reinterpret_cast<void*>(&model::CreateDynamicImage)},
      {"ovtsDestroyImage", reinterpret_cast<void*>(&model::DestroyImage)},
      {"ovtsFillImage", reinterpret_cast<void*>(&model::FillImage)},
      {"ovtsLoadWipe", reinterpret_cast<void*>(&model::LoadWipe)},
      {"ovtsDestroyWipe", reinterpret_cast<void*>(&model::DestroyWipe)},
      {"ovtsSetWipeLevel", reinterpret_cast<void*>(&model::SetWipeLevel)},
      {"ovtsCreateSprite", reinterpret_cast<void*>(&model::CreateSprite)},
      {"ovtsDestroySprite", reinterpret_cast<void*>(&model::DestroySprite)},
      {"ovtsGetImageSize", reinterpret_cast<void*>(&model::GetImageSize)},
      {"ovtsSetImagePos", reinterpret_cast<void*>(&model::SetImagePos)},
      {"ovtsIsImageLost", reinterpret_cast<void*>(&model::IsImageLost)},
      {"ovtsGetRenderImage", reinterpret_cast<void*>(&model::GetRenderImage)},
      {"ovtsRenderScreen", reinterpret_cast<void*>(&model::RenderScreen)},
      {"ovtsRender", reinterpret_cast<void*>(&model::Render)},
      {"ovtsGetSpriteLevel", reinterpret_cast<void*>(&model::GetSpriteLevel)},
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
      {"ovtsSetSpriteColorA", reinterpret_cast<void*>(&model::ColorA)},
      {"ovtsConnectSprite", reinterpret_cast<void*>(&model::Connect)},
      {"ovtsSetSpriteWipe", reinterpret_cast<void*>(&model::SetSpriteWipe)},
  };
  auto it = kModelled.find(name);
  if (it != kModelled.end()) return it->second;
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::strcmp(name, #export_name) == 0) return reinterpret_cast<void*>(&stand_in::export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

// The input as a stream of bytes; zeros after its end.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return static_cast<int32_t>(v);
  }
  float Float() {
    const int32_t i = Int();
    float f;
    std::memcpy(&f, &i, sizeof(f));
    return f;
  }
  bool Done() const { return at >= size; }
};

const char* const kWipes[] = {"none", "", "fade", "wipe", "FADE", "cross"};

void StartPlay() {
  ResetTimerGlobals();
  ResetResourceDefaults();
  ResetSpriteGlobals();
  SetTimerRedraw(&sprRender);
  RegisterWipe("fade", "", 20, 0);
  RegisterWipe("wipe", "m", 20, 5);
}

void EndPlay() {
  sprClearAll();
  ClearWipes();
  ReleaseCaches();
  ResetTimerGlobals();
  if (LiveObjects() != 0) __builtin_trap();
}

void CheckTable() {
  if (Sprite(0).flags != 0) __builtin_trap();
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot) {
    const DSprite& s = Sprite(slot);
    if (!(s.flags & kSpriteValid)) continue;
    int32_t p = s.parent;
    for (int steps = 0; p != kNoSprite; ++steps) {
      if (steps > kSpriteSlots || p < 0 || p >= kSpriteSlots || p == slot) __builtin_trap();
      if (!(Sprite(p).flags & kSpriteValid)) __builtin_trap();
      p = Sprite(p).parent;
    }
    const bool realized = s.flags & kSpriteRealized;
    for (int32_t i = 0; i < s.count; ++i) {
      if (static_cast<bool>(s.subs[i].sprite) != realized) __builtin_trap();
      if (realized) Need(s.subs[i].sprite->handle, "sprite");
      Need(s.subs[i].image->handle, "image");
    }
    if (s.timer >= kTimerEventCount) __builtin_trap();
  }
}

void Operation(Input& in) {
  const uint8_t op = in.Byte() % 12;
  const int32_t slot = in.Byte() % 122;
  switch (op) {
    case 0: {
      const int32_t count = 1 + in.Byte() % 2;
      DRef<DSubSprite> subs;
      subs.Alloc(static_cast<uint32_t>(count));
      for (int32_t i = 0; i < count; ++i) {
        subs[i].image = LoadImageCached(-1, -1, in.Byte() & 1 ? "a" : "b", in.Byte() & 1, "");
        subs[i].def_x = static_cast<int8_t>(in.Byte());
        subs[i].def_y = static_cast<int8_t>(in.Byte());
        const int32_t sets = in.Byte() % 3;
        subs[i].set_count = sets;
        if (sets) subs[i].sets.Alloc(static_cast<uint32_t>(sets));
        for (int32_t s = 0; s < sets; ++s) {
          const int32_t cells = in.Byte() % 3;
          subs[i].sets[s].count = cells;
          if (cells) subs[i].sets[s].cells.Alloc(static_cast<uint32_t>(cells));
          for (int32_t c = 0; c < cells; ++c)
            subs[i].sets[s].cells[c] = DSpriteCell{in.Byte() % 4, static_cast<int8_t>(in.Byte())};
        }
      }
      const uint32_t flags = static_cast<uint32_t>(in.Int()) & 0xFFFFF;
      sprCreate(slot, in.Byte() % 5 - (in.Byte() & 1), static_cast<int8_t>(in.Byte()), count, subs,
                static_cast<int16_t>(in.Int()), static_cast<int16_t>(in.Int()),
                static_cast<int8_t>(in.Byte()), static_cast<int8_t>(in.Byte()), flags, kWipes[in.Byte() % 6]);
      break;
    }
    case 1:
      if (slot < kSpriteSlots) sprShow(slot, in.Byte() % 121, kWipes[in.Byte() % 6]);
      break;
    case 2:
      if (slot < kSpriteSlots) sprHide(slot, kWipes[in.Byte() % 6]);
      break;
    case 3:
      sprSetPos(slot, in.Int(), in.Int(), static_cast<uint32_t>(in.Int()));
      break;
    case 4:
      sprSetParentChecked(slot, static_cast<int8_t>(in.Byte()));
      break;
    case 5:
      sprSetSize(slot, in.Int(), in.Int());
      break;
    case 6:
      sprSetAnimSet(slot, static_cast<int8_t>(in.Byte()));
      break;
    case 7:
      if (in.Byte() & 1) {
        sprDestroy(slot, kWipes[in.Byte() % 6]);
      } else {
        sprDestroy(slot);
      }
      break;
    case 8:
      FlushCaches();
      g_failing_renders = in.Byte() % 12;
      break;
    case 9:
      WaitFor(in.Byte(), nullptr, 0);
      break;
    case 10:
      sprSetRotation(slot, in.Float(), in.Float(), in.Float(), static_cast<uint32_t>(in.Int()));
      sprSetLevel(slot, in.Int());
      break;
    case 11:
      if (in.Byte() & 1) {
        sprBeginScene();
      } else {
        sprEndScene();
      }
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static const bool bound = BindEngineApi(&Lookup, nullptr);
  if (!bound) __builtin_trap();
  orvane::clock::UseVirtualClock(1000);
  g_failing_renders = 0;
  Input in{data, size};
  StartPlay();
  for (int steps = 0; !in.Done() && steps < 200; ++steps) {
    try {
      Operation(in);
      CheckTable();
    } catch (const DExceptGame&) {
      // The play ends: the game's clean-up, then a new play.
      EndPlay();
      StartPlay();
    }
  }
  EndPlay();
  g_objects.clear();
  g_storage.clear();
  return 0;
}
