// Fuzz target of the Draw exports: byte-driven sequences of makes, copies, duplicates, drops,
// attributes, blits (plain, mirrored, stretched, rotated, wiped), level layers (filled, shared,
// separated, converted), pixels, lines and sprite-list frames on a small screen, with extreme
// rectangles, levels and flags and NaN or infinite floats.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "api/draw_api.h"
#include "api/ov_api.h"
#include "base/dapplication.h"
#include "base/dwindow.h"
#include "imaging/dimg_tables.h"

namespace {

struct World {
  DApplication app;
  DWindow window;
  bool ok = false;
};

World& TheWorld() {
  static World* w = [] {
    setenv("ORVANE_BACKEND", "headless", 0);
    World* world = new World;  // lives for the process: the screen keeps pointers into it
    DimgInitMathTables();
    if (!world->app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr)) return world;
    DSetApplication(&world->app);
    if (!world->window.Create("", "fuzz", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 0, 100, 100)) return world;
    world->ok = DrawScreen().Init(world->window) && DrawScreen().SetSize(64, 48, false);
    ovSetSpriteLevel(4);
    return world;
  }();
  return *w;
}

struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  uint8_t Byte() { return p < end ? *p++ : 0; }
  int32_t Small() { return int32_t(int8_t(Byte())); }  // -128 .. 127
  // Mostly small numbers, sometimes the edges of the int range.
  int32_t Int() {
    const uint8_t k = Byte();
    switch (k % 8) {
      case 0:
        return std::numeric_limits<int32_t>::max() - Byte();
      case 1:
        return std::numeric_limits<int32_t>::min() + Byte();
      default:
        return Small();
    }
  }
  float Float() {
    switch (Byte() % 8) {
      case 0:
        return std::numeric_limits<float>::quiet_NaN();
      case 1:
        return std::numeric_limits<float>::infinity();
      case 2:
        return -std::numeric_limits<float>::infinity();
      default:
        return float(Small()) / 32.0f;
    }
  }
};

constexpr int kSlots = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& world = TheWorld();
  if (!world.ok) return 0;
  Reader r{data, data + size};
  ApiHandle* images[kSlots] = {};
  images[0] = ovGetScreen();
  DImage ramp;
  ramp.Create(5, 3, 0, DimgFormat::RGB888);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      std::memset(ramp.GetPixelPointer(int32_t(x), int32_t(y)), int(x * 60 + y), 3);
  ApiHandle* wipe = NewApiHandle(kScriptWipe, DRef<void>::Convert(DrawScreen().LoadWipe(ramp, r.Byte() & 1)));
  auto img = [&](uint8_t b) { return images[b % kSlots]; };
  for (int step = 0; step < 64 && r.p < r.end; ++step) {
    const uint8_t op = r.Byte();
    const uint8_t a = r.Byte(), b = r.Byte();
    ApiHandle* dst = img(a);
    ApiHandle* src = img(b);
    ApiHandle*& slot = images[a % kSlots];
    switch (op % 24) {
      case 0:
        if (!slot) slot = ovCreateImage(r.Small(), r.Small(), r.Small() % 6, r.Byte());
        break;
      case 1:
        if (!slot && src) slot = ovCopyImage(src, r.Small() % 6, r.Byte());
        break;
      case 2:
        if (!slot && src) slot = ovDuplicateImage(src, r.Small() % 6, r.Byte());
        break;
      case 3:
        if (slot) ovDestroyImage(slot);
        slot = nullptr;
        break;
      case 4:
        if (dst) ovSetImagePos(dst, r.Int(), r.Int());
        break;
      case 5:
        if (dst) ovSetImageRect(dst, r.Int(), r.Int(), r.Int(), r.Int());
        break;
      case 6:
        if (dst) ovSetImageLevel(dst, r.Small());
        break;
      case 7:
        if (dst) ovSetImageTrans(dst, r.Byte() & 1, r.Byte(), r.Byte(), r.Byte());
        if (dst) ovSetImageFastTrans(dst, r.Byte() & 1);
        break;
      case 8:
        if (dst) ovSetImageBlend(dst, r.Small());
        break;
      case 9:
        if (dst) ovConnectImage(dst, src);
        break;
      case 10:
        if (dst && src) ovBltImage(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int(), r.Byte());
        break;
      case 11:
        if (dst && src)
          ovBltImageMirror(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int(), r.Byte());
        break;
      case 12:
        if (dst && src)
          ovBltImageStretch(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int(), r.Int(), r.Int(),
                            r.Byte());
        break;
      case 13:
        if (dst && src)
          ovBltImageRotate(dst, r.Int(), r.Int(), src, r.Int(), r.Int(), r.Float() * 360, r.Float());
        break;
      case 14:
        if (dst && src && wipe)
          ovBltImageWipe(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int(), wipe, r.Float(),
                         r.Small());
        break;
      case 15:
        if (dst && src && wipe)
          ovBltAlphaImageWipe(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int(), wipe, r.Float(),
                              r.Small());
        break;
      case 16:
        if (dst && wipe)
          ovFillAlphaImageWipe(dst, r.Int(), r.Int(), r.Int(), r.Int(), r.Int(), r.Int(), wipe, r.Float(),
                               r.Small());
        break;
      case 17:
        if (dst && src) {
          if (r.Byte() & 1)
            ovConvAlphaImage(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int());
          else
            ovConvTransAlphaImage(dst, r.Int(), r.Int(), r.Int(), r.Int(), src, r.Int(), r.Int());
        }
        break;
      case 18:
        if (dst) ovFillAlphaImage(dst, r.Int());
        if (dst) ovFillAlphaImageRect(dst, r.Int(), r.Int(), r.Int(), r.Int(), r.Int());
        break;
      case 19:
        if (dst && src) ovShareAlphaImage(dst, src);
        if (dst && (r.Byte() & 1)) ovSeparateAlphaImage(dst);
        break;
      case 20:
        if (dst) {
          ovFillImageRect(dst, r.Int(), r.Int(), r.Int(), r.Int(), r.Byte(), r.Byte(), r.Byte());
          ovPutImageColor(dst, r.Int(), r.Int(), r.Byte(), r.Byte(), r.Byte());
          (void)ovGetImageColor(dst, r.Int(), r.Int());
          ovDrawImageLine(dst, r.Int(), r.Int(), r.Int(), r.Int(), r.Byte(), r.Byte(), r.Byte());
        }
        break;
      case 21:
        if (dst) (r.Byte() & 1) ? ovPushImageStatus(dst) : ovPopImageStatus(dst);
        break;
      case 22:
        if (dst) ovRegSpriteImage(dst, r.Small());
        if (src && (r.Byte() & 1)) ovUnregSpriteImage(src);
        ovSetSpriteUpdate(r.Int(), r.Int(), r.Int(), r.Int());
        break;
      default:
        switch (r.Byte() % 4) {
          case 0:
            ovRenderSpriteScreen();
            break;
          case 1:
            ovPushSpriteImageStatus();
            ovPopSpriteImageStatus();
            break;
          case 2:
            ovSetSpriteImageDraw(r.Byte() & 1);
            ovUpdateSprite();
            ovRenderSprite();
            break;
          default:
            ovSetFlipMapping(r.Byte() & 1, r.Int(), r.Int(), r.Int(), r.Int(), r.Int(), r.Int(), r.Int(),
                             r.Int());
            ovFlipSprite(0);
            ovSetFlipMapping(0, 0, 0, 0, 0, 0, 0, 0, 0);
        }
    }
  }
  for (ApiHandle*& h : images) ovDestroyImage(h);
  ovDestroyWipe(wipe);
  ovRenderSpriteScreen();
  return 0;
}
