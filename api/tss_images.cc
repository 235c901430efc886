// The `ovts` exports of texture images, wipes and frames, and the handle rules shared by every
// `ovts` export. Each export catches everything and gives its failure value.
#include <cmath>
#include <cstring>
#include <new>

#include "api/api_path.h"
#include "api/ov_api.h"
#include "api/tss_exports.h"
#include "base/dfile.h"
#include "display/tss/dtss_manager.h"
#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_load.h"
#include "shell/cframetimer.h"

bool TssExportsLive() {
  return InTssMode() && TssManager().IsCreated();
}

DRef<DtssImage> TssImageOf(const ApiHandle* handle, const char* export_name) noexcept {
  if (!TssExportsLive()) return DRef<DtssImage>();
  DRef<DtssImage> image = ApiHandleAs<DtssImage>(handle, kApiTssImage, export_name);
  if (image && !image->IsInitialised()) image.Release();
  return image;
}

DRef<DtssWipe> TssWipeOf(const ApiHandle* handle, const char* export_name) noexcept {
  if (!TssExportsLive()) return DRef<DtssWipe>();
  DRef<DtssWipe> wipe = ApiHandleAs<DtssWipe>(handle, kApiTssWipe, export_name);
  if (wipe && !wipe->IsLoaded()) wipe.Release();
  return wipe;
}

DRef<DtssSprite> TssSpriteOf(const ApiHandle* handle, const char* export_name) noexcept {
  if (!TssExportsLive()) return DRef<DtssSprite>();
  DRef<DtssSprite> sprite = ApiHandleAs<DtssSprite>(handle, kApiTssSprite, export_name);
  // A released sprite has let go of its image.
  if (sprite && sprite->GetImage() == nullptr) sprite.Release();
  return sprite;
}

void TssDestroyHandle(ApiHandle* handle, uint32_t kind, const char* export_name) noexcept {
  if (!InTssMode()) return;
  DestroyApiHandle(handle, kind, export_name);
}

namespace {

// Reads and decodes a picture the way every loader finds its file.
bool DecodePicture(const char* path, DImage& picture) {
  DFile file;
  if (!ApiOpenPath(path, file)) return false;
  return DimgLoad(file, picture);
}

// A window side from the caller's value: positive as given (even beyond the source), 0 the whole
// side, -n the side divided by n. Worked in 64 bits so that INT_MIN cannot overflow.
int32_t WindowSide(int32_t requested, uint32_t source) {
  if (requested > 0) return requested;
  if (requested == 0) return static_cast<int32_t>(source);
  const uint64_t divisor = static_cast<uint64_t>(-static_cast<int64_t>(requested));
  return static_cast<int32_t>(source / divisor);
}

void InvertAlpha(DImage& image) {
  for (uint32_t y = 0; y < image.GetHeight(); ++y) {
    uint8_t* p = image.GetPixelPointer(0, static_cast<int32_t>(y));
    for (uint32_t x = 0; x < image.GetWidth(); ++x) p[4 * x + 3] = static_cast<uint8_t>(255 - p[4 * x + 3]);
  }
}

bool SizeFits(int32_t w, int32_t h) {
  return w > 0 && h > 0 && w <= kApiTssMaxSide && h <= kApiTssMaxSide;
}

ApiHandle* HandOut(uint32_t kind, DRef<void> object) {
  return object ? NewApiHandle(kind, object) : nullptr;
}

}  // namespace

// ---- Images.

ApiHandle* ovtsCreateImage(int32_t w, int32_t h) noexcept {
  try {
    if (!TssExportsLive() || !SizeFits(w, h)) return nullptr;
    DImage pixels;
    if (!pixels.Create(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0, DimgFormat::BGRA8888))
      return nullptr;
    // A new image starts transparent black rather than with whatever the memory held.
    for (uint32_t y = 0; y < pixels.GetHeight(); ++y)
      std::memset(pixels.GetPixelPointer(0, static_cast<int32_t>(y)), 0, 4 * static_cast<size_t>(w));
    return HandOut(kApiTssImage, DRef<void>::Convert(TssManager().CreateImage(pixels, w, h)));
  } catch (...) {
    return nullptr;
  }
}

ApiHandle* ovtsCreateDynamicImage(int32_t w, int32_t h) noexcept {
  try {
    if (!TssExportsLive() || !SizeFits(w, h)) return nullptr;
    return HandOut(kApiTssImage, DRef<void>::Convert(TssManager().CreateDynamicImage(w, h)));
  } catch (...) {
    return nullptr;
  }
}

ApiHandle* ovtsLoadImage(int32_t w, int32_t h, const char* path, int32_t flags) noexcept {
  try {
    if (!TssExportsLive()) return nullptr;
    DImage decoded;
    if (!DecodePicture(path, decoded)) return nullptr;
    const bool split = (flags & 2) != 0;
    const uint32_t file_w = decoded.GetWidth(), file_h = decoded.GetHeight();
    const uint32_t pic_w = split ? file_w / 2 : file_w;
    // A split file of one column would give an image without width.
    if (pic_w == 0 || file_h == 0) return nullptr;
    DImage picture;
    if (!picture.Create(pic_w, file_h, 0, DimgFormat::BGRA8888)) return nullptr;
    if (split) {
      DimgBltColorAlphaUnscaled(picture, decoded, 0, 0, pic_w, file_h, 0, 0, 255);
      DimgBltGreenToAlpha(picture, decoded, 0, 0, pic_w, file_h, static_cast<int32_t>(pic_w), 0, pic_w,
                          file_h);
      InvertAlpha(picture);
    } else if (flags & 1) {
      DimgBltUnscaled(picture, decoded, 0, 0, pic_w, file_h, 0, 0);
      InvertAlpha(picture);
    } else {
      DimgBltColorAlphaUnscaled(picture, decoded, 0, 0, pic_w, file_h, 0, 0, 255);
    }
    decoded.Destroy();
    const int32_t win_w = WindowSide(w, pic_w), win_h = WindowSide(h, file_h);
    return HandOut(kApiTssImage, DRef<void>::Convert(TssManager().CreateImage(picture, win_w, win_h)));
  } catch (...) {
    return nullptr;
  }
}

void ovtsDestroyImage(ApiHandle* image) noexcept {
  TssDestroyHandle(image, kApiTssImage, "ovtsDestroyImage");
}

void ovtsFillImage(ApiHandle* image, float r, float g, float b, float a) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsFillImage")) {
      const DPoint& size = i->GetSourceSize();
      i->Fill(0, 0, size.x, size.y, r, g, b, a);
    }
  } catch (...) {
  }
}

void ovtsFillImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h, float r, float g,
                       float b, float a) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsFillImageRect"))
      i->Fill(x, y, w < 0 ? 0 : w, h < 0 ? 0 : h, r, g, b, a);
  } catch (...) {
  }
}

void ovtsSetImagePos(ApiHandle* image, int32_t x, int32_t y) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsSetImagePos")) i->SetPos(x, y);
  } catch (...) {
  }
}

OvSize ovtsGetImageSize(ApiHandle* image) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsGetImageSize"))
      return OvSize{i->GetSize().x, i->GetSize().y};
  } catch (...) {
  }
  return OvSize{};
}

OvSize ovtsGetImageSize2(ApiHandle* image) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsGetImageSize2"))
      return OvSize{i->GetSourceSize().x, i->GetSourceSize().y};
  } catch (...) {
  }
  return OvSize{};
}

int32_t ovtsIsImageLost(ApiHandle* image) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsIsImageLost")) return i->IsLost() ? 1 : 0;
  } catch (...) {
  }
  return 0;
}

void ovtsGetRenderImage(ApiHandle* image) noexcept {
  try {
    if (DRef<DtssImage> i = TssImageOf(image, "ovtsGetRenderImage")) TssManager().GetRenderImage(i.Get());
  } catch (...) {
  }
}

// ---- Wipes.

ApiHandle* ovtsLoadWipe(const char* path) noexcept {
  try {
    if (!TssExportsLive()) return nullptr;
    DImage decoded;
    if (!DecodePicture(path, decoded)) return nullptr;
    return HandOut(kApiTssWipe, DRef<void>::Convert(TssManager().LoadWipe(decoded)));
  } catch (...) {
    return nullptr;
  }
}

void ovtsDestroyWipe(ApiHandle* wipe) noexcept {
  TssDestroyHandle(wipe, kApiTssWipe, "ovtsDestroyWipe");
}

void ovtsSetWipeLevel(ApiHandle* wipe, float level) noexcept {
  try {
    if (DRef<DtssWipe> w = TssWipeOf(wipe, "ovtsSetWipeLevel")) w->SetLevel(DtssWipeLevelFromFraction(level));
  } catch (...) {
  }
}

// ---- Frames.

int32_t ovtsRender() noexcept {
  try {
    if (!TssExportsLive()) return 0;
    return TssManager().Render() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void ovtsPresent() noexcept {
  try {
    if (TssExportsLive()) TssManager().Present();
  } catch (...) {
  }
}

int32_t ovtsRenderScreen() noexcept {
  try {
    if (!TssExportsLive()) return 0;
    if (!TssManager().Render()) return 0;
    TssManager().Present();
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t ovtsRenderWait() noexcept {
  try {
    if (!TssExportsLive()) return 0;
    if (FrameTimer().Wait()) return 1;  // late: this frame is skipped
    if (!TssManager().Render()) return 0;
    TssManager().Present();
    return 1;
  } catch (...) {
    return 0;
  }
}

void ovtsSetLinearMode(int32_t flag) noexcept {
  try {
    if (TssExportsLive()) TssManager().SetLinearMode(flag != 0);
  } catch (...) {
  }
}
