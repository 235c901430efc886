// Fuzz target of the TSS sprites and wipes: random sequences of sprite and wipe operations
// (images, sprites, parents with attempted cycles, odd sizes and levels, rotations with any
// floats, free corners, wipes attached, detached and released, lost surfaces, frames) on the
// headless host, over a device profile chosen by the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/dwindow.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"
#include "fuzz/fuzz_reader.h"
#include "imaging/dimage.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"
namespace {

using fuzz_support::Reader;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

HWND Window() {
  static HWND hwnd = [] {
    setenv("ORVANE_BACKEND", "headless", 0);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "tsswipefuzz";
    RegisterClassExA(&wc);
    return CreateWindowExA(0, "tsswipefuzz", "f", WS_POPUP | WS_VISIBLE, 0, 0, 64, 48, nullptr, nullptr,
                           nullptr, nullptr);
  }();
  return hwnd;
}

// A source picture of w x h whose pixels come from the input.
void Source(Reader& r, DImage* img, uint32_t w, uint32_t h) {
  if (w == 0 || h == 0) return;
  if (!img->Create(w, h, 0, DimgFormat::BGRA8888)) return;
  const uint32_t seed = r.Get<uint32_t>();
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t v = (x * 2654435761u) ^ (y * 40503u) ^ seed;
      std::memcpy(img->GetPixelPointer(static_cast<int32_t>(x), static_cast<int32_t>(y)), &v, 4);
    }
}

int32_t Coord(Reader& r) {
  return static_cast<int32_t>(r.Get<int16_t>()) % 700;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{data, size};
  DWindow window(Window());
  orvane::dx::Reset();
  orvane::dx::LogCalls(false);
  const uint8_t profile = r.U8();
  orvane::dx::DeviceProfile p = orvane::dx::Profile();
  p.max_textures = (profile & 1) ? 1 : 2;
  p.pow2 = (profile & 2) != 0;
  p.square_only = (profile & 4) != 0;
  if (profile & 8) p.texture_formats = {orvane::dx::TexFormat::kA4R4G4B4, orvane::dx::TexFormat::kR5G6B5};
  orvane::dx::SetProfile(p);
  DtssManager manager;
  if (!manager.Create(window, (profile >> 4) & 0x1F)) return 0;
  std::vector<DRef<DtssImage>> images(4);
  std::vector<DRef<DtssSprite>> sprites(6);
  std::vector<DRef<DtssWipe>> wipes(3);
  for (int step = 0; step < 200 && r.n > 0; ++step) {
    const uint8_t op = r.U8();
    DRef<DtssSprite>& s = sprites[r.U8() % sprites.size()];
    DRef<DtssWipe>& w = wipes[r.U8() % wipes.size()];
    switch (op % 18) {
      case 0: {
        DImage src;
        Source(r, &src, 1 + r.U8() % 40, 1 + r.U8() % 40);
        images[r.U8() % images.size()] = manager.CreateImage(src, 0, 0);
        break;
      }
      case 1: {
        DRef<DtssImage>& img = images[r.U8() % images.size()];
        s = manager.CreateSprite(img.Get(), r.Get<uint16_t>() % 300);
        if (s) s->SetDraw(true);
        break;
      }
      case 2:
        if (s) s->SetPos(Coord(r), Coord(r));
        break;
      case 3:
        if (s) s->SetSize(Coord(r), Coord(r));
        break;
      case 4:
        if (s) s->Connect(r.U8() & 1 ? sprites[r.U8() % sprites.size()] : DRef<DtssSprite>());
        break;
      case 5: {
        DImage src;
        Source(r, &src, r.U8() % 70, r.U8() % 70);
        w = manager.LoadWipe(src);
        break;
      }
      case 6:
        if (s) s->SetWipe(r.U8() & 1 ? w.Get() : nullptr, r.U8() % 3);
        break;
      case 7:
        if (w) w->SetLevel(r.Get<uint16_t>() % 300);
        break;
      case 8:
        if (w) w->Release();
        break;
      case 9:
        if (s) {
          const uint8_t axis = r.U8() % 4;
          const float deg = r.Get<float>();
          if (axis == 0) s->RotateX(deg);
          if (axis == 1) s->RotateY(deg);
          if (axis == 2) s->RotateZ(deg);
          if (axis == 3) s->ResetRotation();
        }
        break;
      case 10:
        if (s) s->SetPivot(r.Get<float>(), r.Get<float>());
        break;
      case 11:
        if (s) s->SetFreeCornerMode(r.U8() & 1);
        break;
      case 12:
        if (s) {
          const int corner = r.U8() % 5;
          s->SetFreeCornerPos(corner, r.Get<float>(), r.Get<float>());
          s->SetFreeCornerMap(corner, Coord(r), Coord(r));
        }
        break;
      case 13:
        manager.Render();
        manager.Present();
        break;
      case 14:
        s.Release();
        break;
      case 15:
        if (s) s->SetMap(Coord(r), Coord(r), Coord(r), Coord(r));
        break;
      case 16:
        orvane::dx::LoseSurfaces();
        break;
      case 17:
        if (s) {
          s->SetBlend(r.U8() % 9);
          s->SetColorRGBA(r.U8() % 4, r.Get<float>(), 1, 1, r.Get<float>());
          s->SetDraw(r.U8() & 1);
        }
        break;
    }
  }
  manager.Render();
  manager.Destroy();
  return 0;
}
