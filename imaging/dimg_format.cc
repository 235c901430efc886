// Run-time forms of the per-pixel unpack and pack rules.
#include "imaging/dimg_format.h"

#include "imaging/dimg_blit_pixel.h"

namespace {

template <DimgFormat F>
DimgRgba Unpack(const std::uint8_t* p) {
  return dimg_pixel::Layout<F>::Read(p);
}
template <DimgFormat F>
void Pack(std::uint8_t* p, DimgRgba c) {
  dimg_pixel::Layout<F>::Write(p, c);
}

}  // namespace

DimgRgba DimgUnpackPixel(DimgFormat f, const std::uint8_t* p) {
  switch (f) {
    case DimgFormat::RGBA8888:
      return Unpack<DimgFormat::RGBA8888>(p);
    case DimgFormat::RGB888:
      return Unpack<DimgFormat::RGB888>(p);
    case DimgFormat::BGRA8888:
      return Unpack<DimgFormat::BGRA8888>(p);
    case DimgFormat::BGR888:
      return Unpack<DimgFormat::BGR888>(p);
    case DimgFormat::ARGB1555:
      return Unpack<DimgFormat::ARGB1555>(p);
    case DimgFormat::ARGB4444:
      return Unpack<DimgFormat::ARGB4444>(p);
    case DimgFormat::RGB565:
      return Unpack<DimgFormat::RGB565>(p);
    case DimgFormat::YCRCB888:
      return Unpack<DimgFormat::YCRCB888>(p);
  }
  return {0, 0, 0, 0};
}

void DimgPackPixel(DimgFormat f, std::uint8_t* p, DimgRgba c) {
  switch (f) {
    case DimgFormat::RGBA8888:
      return Pack<DimgFormat::RGBA8888>(p, c);
    case DimgFormat::RGB888:
      return Pack<DimgFormat::RGB888>(p, c);
    case DimgFormat::BGRA8888:
      return Pack<DimgFormat::BGRA8888>(p, c);
    case DimgFormat::BGR888:
      return Pack<DimgFormat::BGR888>(p, c);
    case DimgFormat::ARGB1555:
      return Pack<DimgFormat::ARGB1555>(p, c);
    case DimgFormat::ARGB4444:
      return Pack<DimgFormat::ARGB4444>(p, c);
    case DimgFormat::RGB565:
      return Pack<DimgFormat::RGB565>(p, c);
    case DimgFormat::YCRCB888:
      return Pack<DimgFormat::YCRCB888>(p, c);
  }
}
