// Fuzz target of the `ovts` exports: bytes become call sequences on the headless host (images of
// odd sizes, window positions, fills, sprites with any levels and floats, parents with attempted
// cycles, wipes, handles of the wrong kind, null and destroyed-unit handles, frames, Draw-mode
// switches and the unit's shutdown and restart).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/ov_api.h"
#include "base/dwindow.h"
#include "display/tss/dtss_manager.h"
#include "fuzz/fuzz_reader.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"
namespace {

// The shared reader, with the value shapes this target wants.
struct Reader : fuzz_support::Reader {
  // Small values mostly, the whole range sometimes.
  int32_t Int() {
    const uint8_t kind = U8();
    if (kind < 200) return static_cast<int8_t>(U8());
    return Get<int32_t>();
  }
  float Float() {
    const uint8_t kind = U8();
    if (kind < 160) return static_cast<float>(static_cast<int8_t>(U8())) / 32.0f;
    if (kind < 180) return NAN;
    if (kind < 200) return kind & 1 ? INFINITY : -INFINITY;
    return Get<float>();
  }
};

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

DWindow& Window() {
  static DWindow window = [] {
    setenv("ORVANE_BACKEND", "headless", 0);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "apitssfuzz";
    RegisterClassExA(&wc);
    return DWindow(CreateWindowExA(0, "apitssfuzz", "f", WS_POPUP | WS_VISIBLE, 0, 0, 48, 32, nullptr,
                                   nullptr, nullptr, nullptr));
  }();
  return window;
}

// A 4 x 2 24-bit picture on disk for the loaders, written once.
const char* PicturePath() {
  static std::string path = [] {
    char dir[] = "/tmp/api_tss_fuzz_XXXXXX";
    std::string p = mkdtemp(dir) ? std::string(dir) + "/p.bmp" : std::string("/nonexistent/p.bmp");
    std::string b = "BM";
    auto u32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
    };
    u32(54 + 24);
    u32(0);
    u32(54);
    u32(40);
    u32(4);
    u32(2);
    b += std::string("\x01\x00\x18\x00", 4);
    for (int i = 0; i < 6; ++i) u32(0);
    for (int i = 0; i < 24; ++i) b.push_back(static_cast<char>(i * 11));
    if (FILE* f = std::fopen(p.c_str(), "wb")) {
      std::fwrite(b.data(), 1, b.size(), f);
      std::fclose(f);
    }
    return p;
  }();
  return path.c_str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{data, size};
  orvane::dx::Reset();
  orvane::dx::LogCalls(false);
  orvane::dx::DeviceProfile profile;
  const uint8_t setup = r.U8();
  profile.desktop_depth = setup & 1 ? 16 : 0;
  profile.max_textures = setup & 2 ? 1 : 2;
  profile.hal = (setup & 4) == 0;
  orvane::dx::SetProfile(profile);
  SetStartupFlags(kStartupTss);
  if (!TssManager().Create(Window(), kDtssPoint)) return 0;

  std::vector<ApiHandle*> images, sprites, wipes;
  auto pick = [&](std::vector<ApiHandle*>& from) -> ApiHandle* {
    const uint8_t i = r.U8();
    // Any kind may come back: another kind's handle, or null.
    if (i == 255) return nullptr;
    if (i >= 250 && !images.empty()) return images[i % images.size()];
    if (i >= 245 && !wipes.empty()) return wipes[i % wipes.size()];
    return from.empty() ? nullptr : from[i % from.size()];
  };
  for (int steps = 0; r.n > 0 && steps < 200; ++steps) {
    switch (r.U8() % 24) {
      case 0: {
        const int32_t w = r.Int() % 70, h = r.Int() % 70;
        const uint8_t how = r.U8() % 3;
        ApiHandle* made = how == 0   ? ovtsCreateImage(w, h)
                          : how == 1 ? ovtsCreateDynamicImage(w, h)
                                     : ovtsLoadImage(r.Int(), r.Int(), PicturePath(), r.Int());
        if (made) images.push_back(made);
        break;
      }
      case 1:
        ovtsFillImageRect(pick(images), r.Int(), r.Int(), r.Int() % 100, r.Int() % 100, r.Float(), r.Float(),
                          r.Float(), r.Float());
        break;
      case 2:
        ovtsSetImagePos(pick(images), r.Int(), r.Int());
        break;
      case 3: {
        ApiHandle* i = pick(images);
        (void)ovtsGetImageSize(i);
        (void)ovtsGetImageSize2(i);
        (void)ovtsIsImageLost(i);
        ovtsGetRenderImage(i);
        break;
      }
      case 4:
        if (ApiHandle* s = ovtsCreateSprite(pick(images), r.Int(), r.Int())) sprites.push_back(s);
        break;
      case 5:
        ovtsSetSpriteLevel(pick(sprites), r.Int());
        break;
      case 6:
        ovtsSetSpriteDraw(pick(sprites), r.U8() & 1);
        break;
      case 7:
        ovtsSetSpritePos(pick(sprites), r.Int(), r.Int());
        (void)ovtsGetSpriteAbsPos(pick(sprites));
        break;
      case 8:
        ovtsSetSpriteSize(pick(sprites), r.Int() % 200, r.Int() % 200);
        break;
      case 9:
        ovtsSetSpriteMap(pick(sprites), r.Int(), r.Int(), r.Int(), r.Int());
        break;
      case 10:
        ovtsSetSpritePivot(pick(sprites), r.Float(), r.Float());
        break;
      case 11: {
        ApiHandle* s = pick(sprites);
        const float d = r.Float();
        switch (r.U8() % 4) {
          case 0:
            ovtsRotateSpriteX(s, d);
            break;
          case 1:
            ovtsRotateSpriteY(s, d);
            break;
          case 2:
            ovtsRotateSpriteZ(s, d);
            break;
          default:
            ovtsRotateSpriteNone(s);
            break;
        }
        break;
      }
      case 12:
        ovtsSetSpriteColorRGBA(pick(sprites), r.Int(), r.Float(), r.Float(), r.Float(), r.Float());
        ovtsSetSpriteColorA(pick(sprites), r.Int(), r.Float());
        break;
      case 13:
        ovtsSetSpriteBlend(pick(sprites), r.Int());
        ovtsSetSpriteAlphaTest(pick(sprites), r.Float());
        (void)ovtsGetSpriteAlphaTest(pick(sprites));
        break;
      case 14:
        ovtsSetSpriteNcMode(pick(sprites), r.U8() & 1);
        ovtsSetSpriteNcPos(pick(sprites), r.Int(), r.Float(), r.Float());
        ovtsSetSpriteNcImageMap(pick(sprites), r.Int(), r.Int(), r.Int());
        break;
      case 15:
        ovtsConnectSprite(pick(sprites), pick(sprites));
        break;
      case 16: {
        if (r.U8() & 1)
          if (ApiHandle* w = ovtsLoadWipe(PicturePath())) wipes.push_back(w);
        ovtsSetSpriteWipe(pick(sprites), pick(wipes), r.Int());
        ovtsSetWipeLevel(pick(wipes), r.Float());
        break;
      }
      case 17:
        ovtsRender();
        break;
      case 18:
        ovtsRenderScreen();
        break;
      case 19:
        if (!sprites.empty()) {
          const size_t i = r.U8() % sprites.size();
          ovtsDestroySprite(sprites[i]);
          sprites.erase(sprites.begin() + static_cast<ptrdiff_t>(i));
        }
        break;
      case 20:
        if (!images.empty()) {
          const size_t i = r.U8() % images.size();
          ovtsDestroyImage(images[i]);
          images.erase(images.begin() + static_cast<ptrdiff_t>(i));
        }
        break;
      case 21:
        orvane::dx::LoseSurfaces();
        break;
      case 22:
        // Draw mode for a few calls: nothing happens, destroy keeps handles.
        SetStartupFlags(0);
        ovtsRender();
        if (!sprites.empty()) ovtsDestroySprite(sprites.back());
        ovtsSetSpriteLevel(pick(sprites), r.Int());
        SetStartupFlags(kStartupTss);
        break;
      default:
        // The unit ends (and maybe starts again): old handles must do nothing.
        TssManager().Destroy();
        if (r.U8() & 1) TssManager().Create(Window(), kDtssPoint);
        break;
    }
  }
  for (ApiHandle* s : sprites) ovtsDestroySprite(s);
  for (ApiHandle* w : wipes) ovtsDestroyWipe(w);
  for (ApiHandle* i : images) ovtsDestroyImage(i);
  TssManager().Destroy();
  SetStartupFlags(0);
  return 0;
}
