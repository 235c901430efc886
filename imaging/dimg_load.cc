// Image file loading: the loader chain and the probes.
#include "imaging/dimg_load.h"

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_bmp.h"
#include "imaging/dimg_jpeg.h"
#include "imaging/dimg_png.h"
#include "imaging/dimg_susie.h"

bool DimgLoad(DFile& file, DImage& image) {
  if (DimgLoadBitmap(image, file) || DimgLoadPNG(image, file) || DimgLoadJPEG(image, file) ||
      DimgLoadSusie(image, file))
    return true;
  dimg_detail::LogFileFailure("[DimgLoad] ", file, ": Load Error");
  return false;
}

bool DimgGetInfo(DFile& file, std::int32_t* width, std::int32_t* height, std::int32_t* bit_count) {
  if (DimgInfoBitmap(file, width, height, bit_count)) return true;
  std::uint32_t w = 0, h = 0;
  if (DimgInfoPNG(&w, &h, bit_count, file) || DimgInfoJPEG(&w, &h, bit_count, file)) {
    *width = static_cast<std::int32_t>(w);
    *height = static_cast<std::int32_t>(h);
    return true;
  }
  return false;
}

std::int32_t DimgGetBitCount(DFile& file) {
  std::int32_t w = 0, h = 0, bits = 0;
  return DimgGetInfo(file, &w, &h, &bits) ? bits : 0;
}

bool DimgGetSize(DFile& file, std::int32_t* width, std::int32_t* height) {
  std::int32_t bits = 0;
  return DimgGetInfo(file, width, height, &bits);
}
