// Image file loading: one call that recognises a file's format by its contents, and the probes.
#pragma once

#include <cstdint>

#include "imaging/dimg_common.h"

class DImage;
class DFile;

// Loads the file into image, trying BMP, then PNG and KCI, then JPEG, then the Susie plug-ins; the
// image is created by the loader that accepts the file, in that loader's format. When none does,
// logs "[DimgLoad] \"<name>\": Load Error" and returns false.
bool DimgLoad(DFile& file, DImage& image);

// Width, height and bit count from the BMP, PNG/KCI or JPEG probe, the first that recognises the
// file (plug-ins are not asked). False when none does.
bool DimgGetInfo(DFile& file, std::int32_t* width, std::int32_t* height, std::int32_t* bit_count);
// The bit count of DimgGetInfo, or 0 when no probe recognises the file.
std::int32_t DimgGetBitCount(DFile& file);
// Width and height of DimgGetInfo.
bool DimgGetSize(DFile& file, std::int32_t* width, std::int32_t* height);
