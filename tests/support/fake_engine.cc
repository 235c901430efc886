// The fake engine: slot functions generated from the export list, and the modelled exports.
#include "tests/support/fake_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "base/dpath.h"
#include "base/dstring.h"
#include "platform/mmsystem.h"

namespace orvane_test {

namespace {

FakeEngine* g_current = nullptr;

constexpr size_t kMouseQueueSize = 64;
constexpr size_t kKeyBatchSize = 32;
constexpr int32_t kMouseMove = 3;
constexpr int32_t kMouseCaptureCancelled = 7;

// Signed distance from now to a time of the 32-bit clock.
int32_t Until(DWORD time, DWORD now) {
  return static_cast<int32_t>(time - now);
}

template <typename T>
T FailureValue() {
  if constexpr (!std::is_void_v<T>) return T{};
}

// The line rules of the engine's file objects: a line ends at "\n" or NUL (consumed), bytes below
// 0x20 other than TAB are dropped, a lead byte is taken with the byte after it, a line longer than
// 1023 bytes comes in pieces (a terminator right after a full piece ends it), a lone lead byte at
// the very end is dropped; with nothing left the read fails.
bool NextLine(const std::string& data, size_t& position, std::string& out) {
  out.clear();
  if (position >= data.size()) return false;
  const size_t n = data.size();
  while (position < n) {
    unsigned char c = static_cast<unsigned char>(data[position]);
    if (c == '\n' || c == '\0') {
      ++position;
      return true;
    }
    if (c < 0x20 && c != '\t') {
      ++position;
      continue;
    }
    size_t width = DIsLeadByte(c) ? 2 : 1;
    if (width == 2 && position + 1 >= n) {
      position = n;
      return true;
    }
    if (out.size() + width > 1023) {
      if (data[position] == '\n' || data[position] == '\0') ++position;
      return true;
    }
    out.append(data, position, width);
    position += width;
  }
  return true;
}

}  // namespace

// Slot functions of the exports that are not modelled: the call fails the test.
namespace unmodelled {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params) \
  return_type name params noexcept {                   \
    FakeEngine::Unmodelled(#name);                     \
    return FailureValue<return_type>();                \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
}  // namespace unmodelled

// Slot functions of the modelled exports.
namespace modelled {

int32_t ovMessage(const char* text, const char* caption, int32_t flag) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->Message_(text, caption, flag) : 0;
}

int32_t ovIsExit() noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (fake) fake->Record("ovIsExit");
  return fake ? fake->IsExit() : 0;
}

ApiHandle* ovCreateFile(const char* path, int32_t mode) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateFile(path, mode) : nullptr;
}

const char* ovReadFileLine(ApiHandle* file) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->ReadFileLine(file) : nullptr;
}

void ovDestroyFile(ApiHandle* file) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovDestroyFile");
  fake->Destroy(file, "file", "ovDestroyFile");
}

int32_t ovIsFileExist(const char* path) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->IsFileExist(path) : 0;
}

int32_t ovWaitEvent(int32_t ms) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->WaitEvent(ms) : 0;
}

void ovClearEvent() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearEvent();
}

void ovWaitKeyEvent(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->WaitKeyEvent(flag);
}

void ovWaitMouseEvent(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->WaitMouseEvent(flag);
}

int32_t ovGetKeyState(int32_t key) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->GetKeyState(key) : 0;
}

int32_t ovGetKeyEvent(int32_t* key, int32_t* state) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->GetKeyEvent(key, state) : 0;
}

void ovClearKey() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearKey();
}

int32_t ovGetMouse(int32_t* kind, int32_t* x, int32_t* y) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->GetMouse(kind, x, y) : 0;
}

void ovClearMouse() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearMouse();
}

void ovGetMousePos(int32_t* x, int32_t* y) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->GetMousePos(x, y);
}

void ovSetMousePos(int32_t x, int32_t y) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->SetMousePos(x, y);
}

ApiHandle* ovtsLoadImage(int32_t w, int32_t h, const char* path, int32_t flags) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->LoadImage(w, h, path, flags) : nullptr;
}

ApiHandle* ovtsCreateImage(int32_t w, int32_t h) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateImage(w, h, false) : nullptr;
}

ApiHandle* ovtsCreateDynamicImage(int32_t w, int32_t h) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateImage(w, h, true) : nullptr;
}

void ovtsDestroyImage(ApiHandle* image) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovtsDestroyImage");
  const FakeEngine::Handle* h = fake->Inspect(image);
  fake->Destroy(image, h && h->kind == "dynamic image" ? "dynamic image" : "image", "ovtsDestroyImage");
}

void ovtsFillImage(ApiHandle* image, float r, float g, float b, float a) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->FillImage(image, r, g, b, a);
}

ApiHandle* ovtsLoadWipe(const char* path) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->LoadWipe(path) : nullptr;
}

void ovtsDestroyWipe(ApiHandle* wipe) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovtsDestroyWipe");
  fake->Destroy(wipe, "wipe", "ovtsDestroyWipe");
}

ApiHandle* ovtsCreateSprite(ApiHandle* image, int32_t level, int32_t flags) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateSprite(image, level, flags) : nullptr;
}

void ovtsDestroySprite(ApiHandle* sprite) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovtsDestroySprite");
  fake->Destroy(sprite, "sprite", "ovtsDestroySprite");
}

void ovtsFillImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h, float r, float g,
                       float b, float a) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->FillImageRect(image, x, y, w, h, r, g, b, a);
}

int32_t ovRenderChar(ApiHandle* set, uint32_t code) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->RenderChar(set, code) : 0;
}

OvSize ovGetCharBoxSize(ApiHandle* set) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return {};
  const FakeEngine::Glyph g = fake->CurrentGlyph(set, "ovGetCharBoxSize");
  return {g.box_w, g.box_h};
}

OvPoint ovGetCharDrawPos(ApiHandle* set) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return {};
  const FakeEngine::Glyph g = fake->CurrentGlyph(set, "ovGetCharDrawPos");
  return {g.offset_x, g.offset_y};
}

OvSize ovGetCharFeedSize(ApiHandle* set) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return {};
  const FakeEngine::Glyph g = fake->CurrentGlyph(set, "ovGetCharFeedSize");
  return {g.feed_w, g.feed_h};
}

void ovtsDrawChar(ApiHandle* image, int32_t x, int32_t y, ApiHandle* set) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->DrawChar(image, x, y, set);
}

ApiHandle* ovCreateChar(const char* face, int32_t height, int32_t weight, int32_t italic, int32_t fixed_pitch,
                        int32_t quality) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateChar(face, {height, weight, italic, fixed_pitch, quality}) : nullptr;
}

void ovDestroyChar(ApiHandle* chars) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovDestroyChar");
  fake->Destroy(chars, "char", "ovDestroyChar");
}

ApiHandle* ovLoadSound(const char* path, int32_t voices) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->LoadSound(path, voices) : nullptr;
}

void ovDestroySound(ApiHandle* sound) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovDestroySound");
  fake->Destroy(sound, "sound", "ovDestroySound");
}

void ovPlaySound(ApiHandle* sound, int32_t loop) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->PlaySound(sound, loop);
}

void ovSetFullscreen(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->SetFullscreen(flag);
}

int32_t ovIsFullscreen() noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->IsFullscreen() : 0;
}

ApiHandle* ovCreateStream() noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateStream() : nullptr;
}

int32_t ovAddStreamList(ApiHandle* stream, const char* path, int32_t repeat, float loop_seconds,
                        int32_t flags) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->AddStreamList(stream, path, repeat, loop_seconds, flags) : 0;
}

void ovPlayStream(ApiHandle* stream) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->PlayStream(stream, true);
}

void ovStopStream(ApiHandle* stream) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->PlayStream(stream, false);
}

void ovDestroyStream(ApiHandle* stream) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->DestroyStream(stream);
}

#define SPRITE_SETTER(name, params, body)                \
  void name params noexcept {                            \
    FakeEngine* fake = FakeEngine::Current();            \
    if (!fake) return;                                   \
    fake->Record(#name);                                 \
    FakeEngine::Handle* h = fake->Sprite(sprite, #name); \
    if (!h) return;                                      \
    body;                                                \
  }

SPRITE_SETTER(ovtsSetSpritePos, (ApiHandle * sprite, int32_t x, int32_t y), h->x = x; h->y = y)
SPRITE_SETTER(ovtsSetSpriteSize, (ApiHandle * sprite, int32_t w, int32_t h_), h->w = w; h->h = h_)
SPRITE_SETTER(ovtsSetSpritePivot, (ApiHandle * sprite, float px, float py), h->pivot[0] = px;
              h->pivot[1] = py)
SPRITE_SETTER(ovtsRotateSpriteNone, (ApiHandle * sprite), h->rotation.clear())
SPRITE_SETTER(ovtsRotateSpriteX, (ApiHandle * sprite, float d),
              h->rotation.push_back("x" + std::to_string(d)))
SPRITE_SETTER(ovtsRotateSpriteY, (ApiHandle * sprite, float d),
              h->rotation.push_back("y" + std::to_string(d)))
SPRITE_SETTER(ovtsRotateSpriteZ, (ApiHandle * sprite, float d),
              h->rotation.push_back("z" + std::to_string(d)))
SPRITE_SETTER(ovtsSetSpriteColorA, (ApiHandle * sprite, int32_t corner, float a),
              if (corner >= 0 && corner < 4) h->alpha[corner] = a)
SPRITE_SETTER(ovtsSetSpriteBlend, (ApiHandle * sprite, int32_t mode),
              if (mode >= 0 && mode < 8) h->blend = mode)
SPRITE_SETTER(ovtsSetSpriteMap, (ApiHandle * sprite, int32_t x, int32_t y, int32_t w, int32_t h_),
              const FakeEngine::Handle* image = fake->Inspect(h->image);
              // Clipped against the image's window.
              int32_t ww = image ? image->window_w : 0;
              int32_t wh = image ? image->window_h : 0; int32_t x0 = std::clamp(x, 0, ww);
              int32_t y0 = std::clamp(y, 0, wh); int32_t x1 = std::clamp(x + w, x0, ww);
              int32_t y1 = std::clamp(y + h_, y0, wh); h->map[0] = x0; h->map[1] = y0; h->map[2] = x1 - x0;
              h->map[3] = y1 - y0)
SPRITE_SETTER(ovtsConnectSprite, (ApiHandle * sprite, ApiHandle* parent),
              if (parent && !fake->Sprite(parent, "ovtsConnectSprite")) return;
              h->parent = parent)
SPRITE_SETTER(ovtsSetSpriteWipe, (ApiHandle * sprite, ApiHandle* wipe, int32_t direction),
              if (direction != 0 && direction != 1) return;
              if (wipe && !fake->Check(wipe, "wipe", "ovtsSetSpriteWipe")) return; h->wipe = wipe;
              h->direction = direction)
#undef SPRITE_SETTER

int32_t ovtsSetSpriteLevel(ApiHandle* sprite, int32_t level) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return 0;
  fake->Record(("ovtsSetSpriteLevel(" + std::to_string(level) + ")").c_str());
  FakeEngine::Handle* h = fake->Sprite(sprite, "ovtsSetSpriteLevel");
  if (!h) return 0;
  fake->SetSpriteLevel(h, level);
  return 1;
}

int32_t ovtsGetSpriteLevel(ApiHandle* sprite) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return 0;
  fake->Record("ovtsGetSpriteLevel");
  FakeEngine::Handle* h = fake->Sprite(sprite, "ovtsGetSpriteLevel");
  return h ? h->level : 0;
}

OvSize ovtsGetImageSize(ApiHandle* image) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return {};
  fake->Record("ovtsGetImageSize");
  FakeEngine::Handle* h = fake->AnyImage(image, "ovtsGetImageSize");
  return h ? OvSize{h->window_w, h->window_h} : OvSize{};
}

void ovtsSetImagePos(ApiHandle* image, int32_t x, int32_t y) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record(("ovtsSetImagePos(" + std::to_string(x) + ", " + std::to_string(y) + ")").c_str());
  FakeEngine::Handle* h = fake->AnyImage(image, "ovtsSetImagePos");
  if (!h) return;
  // Cut so the window stays inside the source, then to 0.
  x = std::min<int64_t>(x, int64_t{h->source_w} - h->window_w);
  y = std::min<int64_t>(y, int64_t{h->source_h} - h->window_h);
  h->image_x = std::max(x, 0);
  h->image_y = std::max(y, 0);
}

int32_t ovtsIsImageLost(ApiHandle* image) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->IsImageLost(image) : 0;
}

int32_t ovtsRender() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->Record("ovtsRender");
  return 1;
}

int32_t ovtsRenderScreen() noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->RenderScreen() : 0;
}

void ovtsGetRenderImage(ApiHandle* image) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovtsGetRenderImage");
  FakeEngine::Handle* h = fake->Check(image, "dynamic image", "ovtsGetRenderImage");
  if (h) h->filled = true;
}

void ovtsSetWipeLevel(ApiHandle* wipe, float level) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovtsSetWipeLevel");
  FakeEngine::Handle* h = fake->Check(wipe, "wipe", "ovtsSetWipeLevel");
  if (!h) return;
  const uint32_t v = static_cast<uint32_t>(static_cast<int64_t>(std::lround(level * 255.0f)));
  h->level = v > 255 ? 255 : static_cast<int32_t>(v);
}

int32_t ovSetWindowSize(int32_t w, int32_t h) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->SetWindowSize(w, h) : 0;
}

// The engine settings the game makes at start-up: each is logged with its argument.
int32_t ovSetTitle(const char* text) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return 0;
  fake->SetTitle(text ? text : "");
  return 1;
}

void ovUseGDI(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->Record(("ovUseGDI(" + std::to_string(flag) + ")").c_str());
}

void ovSetCopyright(const char* text) noexcept {
  if (FakeEngine* fake = FakeEngine::Current())
    fake->Record(("ovSetCopyright(" + std::string(text ? text : "") + ")").c_str());
}

int32_t ovCheckSystemName(const char* name) noexcept {
  if (FakeEngine* fake = FakeEngine::Current())
    fake->Record(("ovCheckSystemName(" + std::string(name ? name : "") + ")").c_str());
  return 1;
}

void ovSetTimePause(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current())
    fake->Record(("ovSetTimePause(" + std::to_string(flag) + ")").c_str());
}

void ovSetFPS(int32_t fps) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->Record(("ovSetFPS(" + std::to_string(fps) + ")").c_str());
}

void ovtsSetLinearMode(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current())
    fake->Record(("ovtsSetLinearMode(" + std::to_string(flag) + ")").c_str());
}

int32_t ovSetDataFile(const char* path) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->SetDataFile(path) : 0;
}

void ovMargePath(char* out, const char* directory, const char* name, const char* extension) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->Record("ovMargePath");
  DMargePath(out, DString(directory), DString(name), DString(extension));
}

}  // namespace modelled

FakeEngine::FakeEngine() : previous_(g_current) {
#define OV_EXPORT(position, name, return_type, params) exports_.name = &unmodelled::name;
#include "api/export_list.h"
#undef OV_EXPORT
  exports_.ovMessage = &modelled::ovMessage;
  exports_.ovIsExit = &modelled::ovIsExit;
  exports_.ovCreateFile = &modelled::ovCreateFile;
  exports_.ovReadFileLine = &modelled::ovReadFileLine;
  exports_.ovDestroyFile = &modelled::ovDestroyFile;
  exports_.ovIsFileExist = &modelled::ovIsFileExist;
  exports_.ovMargePath = &modelled::ovMargePath;
  exports_.ovWaitEvent = &modelled::ovWaitEvent;
  exports_.ovClearEvent = &modelled::ovClearEvent;
  exports_.ovWaitKeyEvent = &modelled::ovWaitKeyEvent;
  exports_.ovWaitMouseEvent = &modelled::ovWaitMouseEvent;
  exports_.ovGetKeyState = &modelled::ovGetKeyState;
  exports_.ovGetKeyEvent = &modelled::ovGetKeyEvent;
  exports_.ovClearKey = &modelled::ovClearKey;
  exports_.ovGetMouse = &modelled::ovGetMouse;
  exports_.ovClearMouse = &modelled::ovClearMouse;
  exports_.ovGetMousePos = &modelled::ovGetMousePos;
  exports_.ovSetMousePos = &modelled::ovSetMousePos;
  exports_.ovtsLoadImage = &modelled::ovtsLoadImage;
  exports_.ovtsCreateImage = &modelled::ovtsCreateImage;
  exports_.ovtsCreateDynamicImage = &modelled::ovtsCreateDynamicImage;
  exports_.ovtsDestroyImage = &modelled::ovtsDestroyImage;
  exports_.ovtsFillImage = &modelled::ovtsFillImage;
  exports_.ovtsLoadWipe = &modelled::ovtsLoadWipe;
  exports_.ovtsDestroyWipe = &modelled::ovtsDestroyWipe;
  exports_.ovtsCreateSprite = &modelled::ovtsCreateSprite;
  exports_.ovtsDestroySprite = &modelled::ovtsDestroySprite;
  exports_.ovCreateChar = &modelled::ovCreateChar;
  exports_.ovtsFillImageRect = &modelled::ovtsFillImageRect;
  exports_.ovRenderChar = &modelled::ovRenderChar;
  exports_.ovGetCharBoxSize = &modelled::ovGetCharBoxSize;
  exports_.ovGetCharDrawPos = &modelled::ovGetCharDrawPos;
  exports_.ovGetCharFeedSize = &modelled::ovGetCharFeedSize;
  exports_.ovtsDrawChar = &modelled::ovtsDrawChar;
  exports_.ovDestroyChar = &modelled::ovDestroyChar;
  exports_.ovLoadSound = &modelled::ovLoadSound;
  exports_.ovDestroySound = &modelled::ovDestroySound;
  exports_.ovtsSetSpritePos = &modelled::ovtsSetSpritePos;
  exports_.ovtsSetSpriteSize = &modelled::ovtsSetSpriteSize;
  exports_.ovtsSetSpritePivot = &modelled::ovtsSetSpritePivot;
  exports_.ovtsRotateSpriteNone = &modelled::ovtsRotateSpriteNone;
  exports_.ovtsRotateSpriteX = &modelled::ovtsRotateSpriteX;
  exports_.ovtsRotateSpriteY = &modelled::ovtsRotateSpriteY;
  exports_.ovtsRotateSpriteZ = &modelled::ovtsRotateSpriteZ;
  exports_.ovtsSetSpriteColorA = &modelled::ovtsSetSpriteColorA;
  exports_.ovtsSetSpriteBlend = &modelled::ovtsSetSpriteBlend;
  exports_.ovtsSetSpriteMap = &modelled::ovtsSetSpriteMap;
  exports_.ovtsConnectSprite = &modelled::ovtsConnectSprite;
  exports_.ovtsSetSpriteWipe = &modelled::ovtsSetSpriteWipe;
  exports_.ovtsSetSpriteLevel = &modelled::ovtsSetSpriteLevel;
  exports_.ovtsGetSpriteLevel = &modelled::ovtsGetSpriteLevel;
  exports_.ovtsGetImageSize = &modelled::ovtsGetImageSize;
  exports_.ovtsSetImagePos = &modelled::ovtsSetImagePos;
  exports_.ovtsIsImageLost = &modelled::ovtsIsImageLost;
  exports_.ovtsRender = &modelled::ovtsRender;
  exports_.ovtsRenderScreen = &modelled::ovtsRenderScreen;
  exports_.ovtsGetRenderImage = &modelled::ovtsGetRenderImage;
  exports_.ovtsSetWipeLevel = &modelled::ovtsSetWipeLevel;
  exports_.ovSetWindowSize = &modelled::ovSetWindowSize;
  exports_.ovSetTitle = &modelled::ovSetTitle;
  exports_.ovUseGDI = &modelled::ovUseGDI;
  exports_.ovSetCopyright = &modelled::ovSetCopyright;
  exports_.ovCheckSystemName = &modelled::ovCheckSystemName;
  exports_.ovSetTimePause = &modelled::ovSetTimePause;
  exports_.ovSetFPS = &modelled::ovSetFPS;
  exports_.ovtsSetLinearMode = &modelled::ovtsSetLinearMode;
  exports_.ovSetDataFile = &modelled::ovSetDataFile;
  exports_.ovPlaySound = &modelled::ovPlaySound;
  exports_.ovSetFullscreen = &modelled::ovSetFullscreen;
  exports_.ovIsFullscreen = &modelled::ovIsFullscreen;
  exports_.ovCreateStream = &modelled::ovCreateStream;
  exports_.ovAddStreamList = &modelled::ovAddStreamList;
  exports_.ovPlayStream = &modelled::ovPlayStream;
  exports_.ovStopStream = &modelled::ovStopStream;
  exports_.ovDestroyStream = &modelled::ovDestroyStream;
  g_current = this;
  orvane::clock::UseVirtualClock(kClockStart);
}

FakeEngine::~FakeEngine() {
  for (const auto& handle : handles_)
    if (handle->live) ADD_FAILURE() << "a " << handle->kind << " handle was never destroyed";
  g_current = previous_;
  if (!previous_) orvane::clock::UseRealClock();
}

FakeEngine* FakeEngine::Current() {
  if (!g_current) ADD_FAILURE() << "an export was called without a fake engine";
  return g_current;
}

void* FakeEngine::Lookup(void*, const char* name) {
  FakeEngine* fake = Current();
  if (!fake) return nullptr;
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::strcmp(name, #export_name) == 0) return reinterpret_cast<void*>(fake->exports_.export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

void FakeEngine::Unmodelled(const char* name) {
  if (g_current) g_current->Record(name);
  ADD_FAILURE() << "the game called " << name << ", which the fake engine does not model";
}

int FakeEngine::OpenFileCount() const {
  int n = 0;
  for (const auto& handle : handles_) n += handle->live && handle->kind == "file";
  return n;
}

ApiHandle* FakeEngine::NewHandle(const std::string& kind) {
  handles_.push_back(std::make_unique<Handle>());
  handles_.back()->kind = kind;
  return reinterpret_cast<ApiHandle*>(handles_.back().get());
}

FakeEngine::Handle* FakeEngine::Check(ApiHandle* handle, const std::string& kind, const char* export_name) {
  for (const auto& h : handles_) {
    if (reinterpret_cast<ApiHandle*>(h.get()) != handle) continue;
    if (!h->live) {
      ADD_FAILURE() << export_name << " got a destroyed " << h->kind << " handle";
      return nullptr;
    }
    if (h->kind != kind) {
      ADD_FAILURE() << export_name << " got a " << h->kind << " handle where a " << kind << " handle belongs";
      return nullptr;
    }
    return h.get();
  }
  ADD_FAILURE() << export_name << " got a handle the engine never made";
  return nullptr;
}

void FakeEngine::Destroy(ApiHandle* handle, const std::string& kind, const char* export_name) {
  Handle* h = Check(handle, kind, export_name);
  if (!h) return;
  h->live = false;
  if (h->line) std::memset(h->line.get(), 0x7F, 1024);
  h->line.reset();
}

int32_t FakeEngine::Message_(const char* text, const char* caption, int32_t flag) {
  Record("ovMessage");
  messages_.push_back({text ? text : "", caption ? caption : "", flag});
  return message_answer_;
}

ApiHandle* FakeEngine::CreateFile(const char* path, int32_t mode) {
  Record("ovCreateFile");
  if (mode != 1) {
    ADD_FAILURE() << "ovCreateFile mode " << mode << " is not modelled";
    return nullptr;
  }
  if (!path || !Files().count(path)) return nullptr;
  ApiHandle* handle = NewHandle("file");
  reinterpret_cast<Handle*>(handle)->path = path;
  return handle;
}

const char* FakeEngine::ReadFileLine(ApiHandle* file) {
  Record("ovReadFileLine");
  Handle* h = Check(file, "file", "ovReadFileLine");
  if (!h) return nullptr;
  // The previous line's buffer is spoiled and freed: a pointer kept past this call is caught.
  if (h->line) std::memset(h->line.get(), 0x7F, 1024);
  h->line.reset();
  if (h->error) return nullptr;
  auto it = Files().find(h->path);
  std::string text;
  if (it == Files().end() || !NextLine(it->second, h->position, text)) {
    h->error = true;
    return nullptr;
  }
  h->line = std::make_unique<char[]>(1024);
  std::memcpy(h->line.get(), text.data(), text.size());
  h->line[text.size()] = '\0';
  return h->line.get();
}

void FakeEngine::SetTitle(const std::string& text) {
  Record(("ovSetTitle(" + text + ")").c_str());
  title_ = text;
}

int32_t FakeEngine::SetDataFile(const char* path) {
  Record(("ovSetDataFile(" + std::string(path ? path : "") + ")").c_str());
  if (!path || !files_.count(path)) return 0;
  archive_mounted_ = true;
  return 1;
}

int32_t FakeEngine::IsFileExist(const char* path) const {
  const_cast<FakeEngine*>(this)->Record("ovIsFileExist");
  return path && Files().count(path) ? 1 : 0;
}

const FakeEngine::Handle* FakeEngine::Inspect(ApiHandle* handle) const {
  for (const auto& h : handles_)
    if (reinterpret_cast<ApiHandle*>(h.get()) == handle) return h.get();
  return nullptr;
}

int FakeEngine::LiveCount(const std::string& kind) const {
  int n = 0;
  for (const auto& handle : handles_) n += handle->live && handle->kind == kind;
  return n;
}

bool FakeEngine::Refused(const char* export_name) {
  auto it = refusals_.find(export_name);
  if (it == refusals_.end() || it->second <= 0) return false;
  --it->second;
  return true;
}

namespace {

void PutBigEndian32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}
void PutLittleEndian32(std::string& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(v >> shift));
}
uint32_t BigEndian(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}
uint32_t LittleEndian32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

}  // namespace

std::string FakeEngine::PngFile(int32_t width, int32_t height) {
  std::string out("\x89PNG\r\n\x1a\n", 8);
  PutBigEndian32(out, 13);
  out += "IHDR";
  PutBigEndian32(out, static_cast<uint32_t>(width));
  PutBigEndian32(out, static_cast<uint32_t>(height));
  out += std::string("\x08\x06\0\0\0", 5);
  return out;
}

std::string FakeEngine::BmpFile(int32_t width, int32_t height) {
  std::string out = "BM";
  out.append(16, '\0');
  PutLittleEndian32(out, static_cast<uint32_t>(width));
  PutLittleEndian32(out, static_cast<uint32_t>(height));
  out.append(28, '\0');
  return out;
}

std::string FakeEngine::JpegFile(int32_t width, int32_t height) {
  std::string out("\xFF\xD8\xFF\xE0\0\x04\0\0\xFF\xC0\0\x0B\x08", 13);
  out.push_back(static_cast<char>(height >> 8));
  out.push_back(static_cast<char>(height));
  out.push_back(static_cast<char>(width >> 8));
  out.push_back(static_cast<char>(width));
  out += std::string("\x01\x01\x11\0", 4);
  return out;
}

bool FakeEngine::PictureSize(const std::string& b, int32_t& width, int32_t& height) {
  if (b.size() >= 24 && b.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) == 0 &&
      b.compare(12, 4, "IHDR") == 0) {
    width = static_cast<int32_t>(BigEndian(b, 16, 4));
    height = static_cast<int32_t>(BigEndian(b, 20, 4));
  } else if (b.size() >= 26 && b.compare(0, 2, "BM") == 0) {
    width = static_cast<int32_t>(LittleEndian32(b, 18));
    int32_t h = static_cast<int32_t>(LittleEndian32(b, 22));
    height = h < 0 ? -h : h;
  } else if (b.size() >= 4 && static_cast<unsigned char>(b[0]) == 0xFF &&
             static_cast<unsigned char>(b[1]) == 0xD8) {
    size_t at = 2;
    for (;;) {
      if (at + 4 > b.size() || static_cast<unsigned char>(b[at]) != 0xFF) return false;
      const unsigned marker = static_cast<unsigned char>(b[at + 1]);
      const size_t length = BigEndian(b, at + 2, 2);
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        if (at + 9 > b.size()) return false;
        height = static_cast<int32_t>(BigEndian(b, at + 5, 2));
        width = static_cast<int32_t>(BigEndian(b, at + 7, 2));
        break;
      }
      at += 2 + length;
    }
  } else {
    return false;
  }
  return width > 0 && height > 0;
}

ApiHandle* FakeEngine::LoadImage(int32_t w, int32_t h, const char* path, int32_t flags) {
  Record(("ovtsLoadImage(" + std::to_string(w) + ", " + std::to_string(h) + ", " + (path ? path : "") + ", " +
          std::to_string(flags) + ")")
             .c_str());
  if (Refused("ovtsLoadImage") || !path) return nullptr;
  auto file = Files().find(path);
  int32_t source_w, source_h;
  if (file == Files().end() || !PictureSize(file->second, source_w, source_h)) return nullptr;
  if (flags & 2) source_w /= 2;
  // The window: positive as given, 0 the whole source, -n the source over n.
  auto window = [](int32_t value, int32_t source) {
    if (value > 0) return value;
    if (value == 0) return source;
    return static_cast<int32_t>(static_cast<uint32_t>(source) / (0u - static_cast<uint32_t>(value)));
  };
  ApiHandle* handle = NewHandle("image");
  Handle* image = reinterpret_cast<Handle*>(handle);
  image->path = path;
  image->flags = flags;
  image->source_w = source_w;
  image->source_h = source_h;
  image->window_w = window(w, source_w);
  image->window_h = window(h, source_h);
  return handle;
}

ApiHandle* FakeEngine::CreateImage(int32_t w, int32_t h, bool dynamic) {
  const char* name = dynamic ? "ovtsCreateDynamicImage" : "ovtsCreateImage";
  Record((std::string(name) + "(" + std::to_string(w) + ", " + std::to_string(h) + ")").c_str());
  if (Refused(name) || w <= 0 || h <= 0) return nullptr;
  ApiHandle* handle = NewHandle(dynamic ? "dynamic image" : "image");
  Handle* image = reinterpret_cast<Handle*>(handle);
  image->source_w = image->window_w = w;
  image->source_h = image->window_h = h;
  if (!dynamic) image->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
  return handle;
}

namespace {

uint8_t Channel(float v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

// Fills the part of the rectangle inside the image (negative sizes count as 0).
void FillPixels(FakeEngine::Handle& image, int64_t x, int64_t y, int64_t w, int64_t h, const uint8_t rgba[4],
                bool alpha_only) {
  if (image.pixels.empty()) return;
  const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min<int64_t>(x + std::max<int64_t>(w, 0), image.source_w);
  const int64_t y1 = std::min<int64_t>(y + std::max<int64_t>(h, 0), image.source_h);
  for (int64_t py = y0; py < y1; ++py) {
    for (int64_t px = x0; px < x1; ++px) {
      uint8_t* p = &image.pixels[static_cast<size_t>((py * image.source_w + px) * 4)];
      if (alpha_only) {
        p[3] = rgba[3];
      } else {
        std::memcpy(p, rgba, 4);
      }
    }
  }
}

}  // namespace

void FakeEngine::FillImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h, float r, float g,
                               float b, float a) {
  Record(("ovtsFillImageRect(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(w) +
          ", " + std::to_string(h) + ")")
             .c_str());
  Handle* handle = Check(image, "image", "ovtsFillImageRect");
  if (!handle) return;
  const uint8_t rgba[4] = {Channel(r), Channel(g), Channel(b), Channel(a)};
  FillPixels(*handle, x, y, w, h, rgba, false);
}

FakeEngine::Glyph FakeEngine::GlyphOf(const Handle& set, uint32_t code) const {
  auto it = glyphs_.find(code);
  if (it != glyphs_.end()) return it->second;
  const int32_t h = set.values.empty() ? 0 : std::abs(set.values[0]);
  if (code == 0x20) return {0, 0, 0, 0, h / 2, h};
  if (code > 0xFF) return {h - 2, h - 2, 1, 1, h, h};
  return {h / 2 - 1, h - 2, 0, 1, h / 2, h};
}

int32_t FakeEngine::RenderChar(ApiHandle* set, uint32_t code) {
  Record(("ovRenderChar(" + std::to_string(code) + ")").c_str());
  Handle* h = Check(set, "char", "ovRenderChar");
  if (!h) return 0;
  code &= 0xFFFF;
  for (uint32_t failing : failing_glyphs_) {
    if (failing == code) {
      h->rendered = false;
      return 0;
    }
  }
  h->glyph = code;
  h->rendered = true;
  return 1;
}

FakeEngine::Glyph FakeEngine::CurrentGlyph(ApiHandle* set, const char* export_name) {
  Record(export_name);
  Handle* h = Check(set, "char", export_name);
  if (!h) return {};
  if (!h->rendered) ADD_FAILURE() << export_name << " without a rendered glyph";
  return GlyphOf(*h, h->glyph);
}

void FakeEngine::DrawChar(ApiHandle* image, int32_t x, int32_t y, ApiHandle* set) {
  Record(("ovtsDrawChar(" + std::to_string(x) + ", " + std::to_string(y) + ")").c_str());
  Handle* canvas = Check(image, "image", "ovtsDrawChar");
  Handle* chars = Check(set, "char", "ovtsDrawChar");
  if (!canvas || !chars) return;
  if (!chars->rendered) ADD_FAILURE() << "ovtsDrawChar without a rendered glyph";
  const Glyph g = GlyphOf(*chars, chars->glyph);
  const uint8_t rgba[4] = {0, 0, 0, 255};
  FillPixels(*canvas, x, y, g.box_w, g.box_h, rgba, true);
}

std::array<uint8_t, 4> FakeEngine::Pixel(ApiHandle* image, int32_t x, int32_t y) const {
  const Handle* h = Inspect(image);
  if (!h || h->pixels.empty() || x < 0 || y < 0 || x >= h->source_w || y >= h->source_h) {
    ADD_FAILURE() << "no pixel at " << x << ", " << y;
    return {};
  }
  const uint8_t* p = &h->pixels[(static_cast<size_t>(y) * static_cast<size_t>(h->source_w) + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

int FakeEngine::CountCalls(const std::string& prefix) const {
  int n = 0;
  for (const std::string& call : calls_) n += call.rfind(prefix, 0) == 0;
  return n;
}

void FakeEngine::FillImage(ApiHandle* image, float r, float g, float b, float a) {
  Record("ovtsFillImage");
  Handle* h = Check(image, "image", "ovtsFillImage");
  if (!h) return;
  h->filled = true;
  h->fill[0] = r, h->fill[1] = g, h->fill[2] = b, h->fill[3] = a;
  const uint8_t rgba[4] = {Channel(r), Channel(g), Channel(b), Channel(a)};
  FillPixels(*h, 0, 0, h->source_w, h->source_h, rgba, false);
}

ApiHandle* FakeEngine::LoadWipe(const char* path) {
  Record(("ovtsLoadWipe(" + std::string(path ? path : "") + ")").c_str());
  if (Refused("ovtsLoadWipe") || !path) return nullptr;
  auto file = Files().find(path);
  int32_t w, h;
  if (file == Files().end() || !PictureSize(file->second, w, h)) return nullptr;
  ApiHandle* handle = NewHandle("wipe");
  reinterpret_cast<Handle*>(handle)->path = path;
  reinterpret_cast<Handle*>(handle)->level = 255;
  return handle;
}

FakeEngine::Handle* FakeEngine::AnyImage(ApiHandle* image, const char* export_name) {
  const Handle* h = Inspect(image);
  return Check(image, h && h->kind == "dynamic image" ? "dynamic image" : "image", export_name);
}

void FakeEngine::SetSpriteLevel(Handle* sprite, int32_t level) {
  if (sprite->level == level) return;
  sprite->level = level;
  sprite->order = ++next_order_;  // appended to the new level's list
}

int32_t FakeEngine::IsImageLost(ApiHandle* image) {
  Record("ovtsIsImageLost");
  Handle* h = AnyImage(image, "ovtsIsImageLost");
  if (!h || !lose_images_ || Until(lose_at_, Now()) > 0 || h->lost_reported) return 0;
  h->lost_reported = 1;
  return 1;
}

int32_t FakeEngine::RenderScreen() {
  Record("ovtsRenderScreen");
  if (failing_renders_ > 0) {
    --failing_renders_;
    return 0;
  }
  std::vector<const Handle*> shown;
  for (const auto& h : handles_)
    if (h->live && h->kind == "sprite") shown.push_back(h.get());
  std::stable_sort(shown.begin(), shown.end(), [](const Handle* a, const Handle* b) {
    return a->level != b->level ? a->level < b->level : a->order < b->order;
  });
  Frame frame{Now(), {}};
  for (const Handle* s : shown) {
    FrameSprite f{};
    f.sprite = reinterpret_cast<ApiHandle*>(const_cast<Handle*>(s));
    f.image = s->image;
    f.x = s->x;
    f.y = s->y;
    for (const Handle* p = Inspect(s->parent); p && p->live; p = Inspect(p->parent)) {
      f.x += p->x;
      f.y += p->y;
    }
    f.w = s->w;
    f.h = s->h;
    f.level = s->level;
    if (const Handle* image = Inspect(s->image)) {
      if (!image->live) ADD_FAILURE() << "a sprite shows a destroyed image";
      f.image_name = image->path;
      f.image_x = image->image_x;
      f.image_y = image->image_y;
    }
    std::copy(s->map, s->map + 4, f.map);
    std::copy(s->pivot, s->pivot + 2, f.pivot);
    f.rotation = s->rotation;
    std::copy(s->alpha, s->alpha + 4, f.alpha);
    f.blend = s->blend;
    f.wipe = s->wipe;
    f.direction = s->direction;
    const Handle* wipe = Inspect(s->wipe);
    f.wipe_level = wipe ? wipe->level : 0;
    if (wipe && !wipe->live) ADD_FAILURE() << "a sprite is shown through a destroyed wipe";
    frame.sprites.push_back(std::move(f));
  }
  frames_.push_back(std::move(frame));
  return 1;
}

ApiHandle* FakeEngine::CreateSprite(ApiHandle* image, int32_t level, int32_t flags) {
  Record(("ovtsCreateSprite(" + std::to_string(level) + ", " + std::to_string(flags) + ")").c_str());
  const Handle* shown = Inspect(image);
  if (!shown || (shown->kind != "image" && shown->kind != "dynamic image") || !shown->live) {
    ADD_FAILURE() << "ovtsCreateSprite got no live image";
    return nullptr;
  }
  if (Refused("ovtsCreateSprite")) return nullptr;
  ApiHandle* handle = NewHandle("sprite");
  Handle* sprite = reinterpret_cast<Handle*>(handle);
  sprite->image = image;
  sprite->level = level;
  sprite->flags = flags;
  sprite->order = ++next_order_;
  sprite->w = shown->window_w;
  sprite->h = shown->window_h;
  sprite->map[2] = shown->window_w;
  sprite->map[3] = shown->window_h;
  return handle;
}

ApiHandle* FakeEngine::CreateChar(const char* face, const std::vector<int32_t>& values) {
  Record(("ovCreateChar(" + std::string(face ? face : "") + ")").c_str());
  if (Refused("ovCreateChar")) return nullptr;
  ApiHandle* handle = NewHandle("char");
  reinterpret_cast<Handle*>(handle)->path = face ? face : "";
  reinterpret_cast<Handle*>(handle)->values = values;
  return handle;
}

ApiHandle* FakeEngine::LoadSound(const char* path, int32_t voices) {
  Record(("ovLoadSound(" + std::string(path ? path : "") + ", " + std::to_string(voices) + ")").c_str());
  if (Refused("ovLoadSound") || !path || !Files().count(path)) return nullptr;
  ApiHandle* handle = NewHandle("sound");
  reinterpret_cast<Handle*>(handle)->path = path;
  reinterpret_cast<Handle*>(handle)->voices = voices;
  return handle;
}

void FakeEngine::PlaySound(ApiHandle* sound, int32_t loop) {
  Handle* h = Check(sound, "sound", "ovPlaySound");
  Record(("ovPlaySound(" + std::string(h ? h->path : "?") + ", " + std::to_string(loop) + ")").c_str());
  if (h) ++h->plays;
}

void FakeEngine::SetFullscreen(int32_t flag) {
  Record(("ovSetFullscreen(" + std::to_string(flag) + ")").c_str());
  fullscreen_ = flag != 0;
}

int32_t FakeEngine::IsFullscreen() {
  Record("ovIsFullscreen");
  return fullscreen_ ? 1 : 0;
}

ApiHandle* FakeEngine::CreateStream() {
  Record("ovCreateStream");
  if (failing_streams_ > 0) {
    --failing_streams_;
    return nullptr;
  }
  return NewHandle("stream");
}

int32_t FakeEngine::AddStreamList(ApiHandle* stream, const char* path, int32_t repeat, float loop_seconds,
                                  int32_t flags) {
  const std::string p = path ? path : "";
  Record(("ovAddStreamList(" + p + ", " + std::to_string(repeat) + ", " + std::to_string(loop_seconds) +
          ", " + std::to_string(flags) + ")")
             .c_str());
  Handle* h = Check(stream, "stream", "ovAddStreamList");
  if (!h) return 0;
  if (std::find(refused_stream_paths_.begin(), refused_stream_paths_.end(), p) != refused_stream_paths_.end())
    return 0;
  h->stream_list.push_back({p, repeat, loop_seconds, flags});
  return 1;
}

void FakeEngine::PlayStream(ApiHandle* stream, bool play) {
  Record(play ? "ovPlayStream" : "ovStopStream");
  if (Handle* h = Check(stream, "stream", play ? "ovPlayStream" : "ovStopStream")) h->playing = play;
}

void FakeEngine::DestroyStream(ApiHandle* stream) {
  Record("ovDestroyStream");
  Destroy(stream, "stream", "ovDestroyStream");
}

void FakeEngine::SetExitAt(DWORD time) {
  exit_at_set_ = true;
  exit_at_ = time;
}

void FakeEngine::SetClock(DWORD time) {
  orvane::clock::UseVirtualClock(time);
}

DWORD FakeEngine::Now() const {
  return timeGetTime();
}

void FakeEngine::ScriptKey(DWORD time, int32_t key, bool pressed) {
  inputs_.push_back({time, Input::kKey, key, pressed ? 1 : 0, 0});
}

void FakeEngine::ScriptMouse(DWORD time, int32_t kind, int32_t x, int32_t y) {
  inputs_.push_back({time, Input::kMouse, kind, x, y});
}

void FakeEngine::ScriptMousePos(DWORD time, int32_t x, int32_t y) {
  inputs_.push_back({time, Input::kPosition, x, y, 0});
}

int32_t FakeEngine::IsExit() const {
  if (exiting_) return 1;
  return exit_at_set_ && Until(exit_at_, Now()) <= 0 ? 1 : 0;
}

void FakeEngine::Deliver() {
  const DWORD now = Now();
  std::vector<Input> later;
  for (const Input& input : inputs_) {
    if (Until(input.time, now) > 0) {
      later.push_back(input);
      continue;
    }
    switch (input.kind) {
      case Input::kKey:
        if (input.a >= 0 && input.a < 256) keys_held_[input.a] = input.b != 0;
        key_buffer_.push_back({input.a, input.b != 0});
        break;
      case Input::kMouse: {
        MouseEvent event{input.a, input.b, input.c};
        if (input.a == kMouseCaptureCancelled) {
          event.x = event.y = 0;
        } else {
          mouse_x_ = input.b;
          mouse_y_ = input.c;
        }
        bool merged = false;
        if (event.kind == kMouseMove) {
          for (MouseEvent& queued : mouse_live_) {
            if (queued.kind != kMouseMove) continue;
            queued = event;
            merged = true;
          }
        }
        if (!merged && mouse_live_.size() < kMouseQueueSize) mouse_live_.push_back(event);
        break;
      }
      case Input::kPosition:
        mouse_x_ = input.a;
        mouse_y_ = input.b;
        break;
    }
  }
  inputs_ = std::move(later);
}

void FakeEngine::RefreshKeys() {
  if (!key_refresh_) return;
  key_refresh_ = false;
  std::memcpy(batch_held_, keys_held_, sizeof(batch_held_));
  const size_t n = std::min(key_buffer_.size(), kKeyBatchSize);
  key_batch_.assign(key_buffer_.begin(), key_buffer_.begin() + n);
  key_buffer_.erase(key_buffer_.begin(), key_buffer_.begin() + n);
  key_cursor_ = 0;
}

bool FakeEngine::WaitPass() {
  Deliver();
  bool wake = IsExit() != 0;
  if (wake_on_keys_) {
    key_refresh_ = true;
    RefreshKeys();
    wake |= key_cursor_ < key_batch_.size();
  }
  if (wake_on_mouse_) {
    mouse_snapshot_ = std::move(mouse_live_);
    mouse_live_.clear();
    mouse_cursor_ = 0;
    wake |= !mouse_snapshot_.empty();
  }
  return wake;
}

int64_t FakeEngine::NextWake() const {
  const DWORD now = Now();
  int64_t next = -1;
  auto consider = [&](DWORD time) {
    int64_t until = std::max<int32_t>(Until(time, now), 0);
    if (next < 0 || until < next) next = until;
  };
  for (const Input& input : inputs_) consider(input.time);
  if (exit_at_set_ && !exiting_) consider(exit_at_);
  return next;
}

int32_t FakeEngine::WaitEvent(int32_t ms) {
  Record(("ovWaitEvent(" + std::to_string(ms) + ")").c_str());
  if (++wait_calls_ > kRunawayWaits) {
    if (wait_calls_ == kRunawayWaits + 1)
      ADD_FAILURE() << "the game waited more than " << kRunawayWaits << " times";
    exiting_ = true;
    return 1;
  }
  const bool unlimited = ms < 0;
  const int64_t limit = unlimited ? 0 : std::max<int64_t>(ms, 1);
  int64_t elapsed = 0;
  for (;;) {
    const int64_t wake = NextWake();
    int64_t step;
    if (unlimited) {
      if (wake < 0) {
        ADD_FAILURE() << "ovWaitEvent(-1) with nothing scripted to end it";
        return 0;
      }
      step = wake;
    } else {
      step = limit - elapsed;
      if (wake >= 0 && wake < step) step = wake;
    }
    // Every call takes at least 1 ms, so polling loops move the clock.
    if (elapsed == 0 && step == 0) step = 1;
    orvane::clock::AdvanceVirtualClock(static_cast<DWORD>(step));
    elapsed += step;
    if (WaitPass()) return 1;
    if (!unlimited && elapsed >= limit) return 0;
  }
}

void FakeEngine::ClearEvent() {
  Record("ovClearEvent");
  wake_on_keys_ = wake_on_mouse_ = false;
}

void FakeEngine::WaitKeyEvent(int32_t flag) {
  Record(("ovWaitKeyEvent(" + std::to_string(flag) + ")").c_str());
  wake_on_keys_ = flag != 0;
}

void FakeEngine::WaitMouseEvent(int32_t flag) {
  Record(("ovWaitMouseEvent(" + std::to_string(flag) + ")").c_str());
  wake_on_mouse_ = flag != 0;
}

int32_t FakeEngine::GetKeyState(int32_t key) {
  Record(("ovGetKeyState(" + std::to_string(key) + ")").c_str());
  RefreshKeys();
  return key >= 0 && key < 256 && batch_held_[key] ? 1 : 0;
}

int32_t FakeEngine::GetKeyEvent(int32_t* key, int32_t* state) {
  Record("ovGetKeyEvent");
  RefreshKeys();
  if (key_cursor_ >= key_batch_.size()) return 0;
  *key = key_batch_[key_cursor_].first;
  *state = key_batch_[key_cursor_].second ? 1 : 2;
  ++key_cursor_;
  return 1;
}

void FakeEngine::ClearKey() {
  Record("ovClearKey");
  key_refresh_ = true;
}

int32_t FakeEngine::GetMouse(int32_t* kind, int32_t* x, int32_t* y) {
  Record("ovGetMouse");
  if (mouse_cursor_ >= mouse_snapshot_.size()) return 0;
  const MouseEvent& event = mouse_snapshot_[mouse_cursor_++];
  *kind = event.kind;
  *x = event.x;
  *y = event.y;
  return 1;
}

void FakeEngine::ClearMouse() {
  Record("ovClearMouse");
  mouse_snapshot_ = std::move(mouse_live_);
  mouse_live_.clear();
  mouse_cursor_ = 0;
}

void FakeEngine::GetMousePos(int32_t* x, int32_t* y) {
  Record("ovGetMousePos");
  *x = mouse_x_;
  *y = mouse_y_;
}

void FakeEngine::SetMousePos(int32_t x, int32_t y) {
  Record(("ovSetMousePos(" + std::to_string(x) + ", " + std::to_string(y) + ")").c_str());
  mouse_sets_.push_back({x, y});
  mouse_x_ = x;
  mouse_y_ = y;
}

}  // namespace orvane_test
