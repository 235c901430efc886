// Image file loading: one call that recognises a file's format by its contents, and the probes.
#pragma once

#include <cstdint>
#include <initializer_list>

class DImage;
class DFile;

// Largest pixel storage a loader creates, in bytes. Sizes read from file headers are checked
// against it before anything is allocated.
inline constexpr std::uint64_t kDimgMaxImageBytes = std::uint64_t{1} << 30;

// True when width and height are above 0 and width * height * bytes_per_pixel (with each row
// padded to 4 bytes) fits under kDimgMaxImageBytes.
constexpr bool DimgSizeWithinCap(std::int64_t width, std::int64_t height, std::uint32_t bytes_per_pixel) {
  if (width <= 0 || height <= 0 || width > (std::int64_t{1} << 30) || height > (std::int64_t{1} << 30))
    return false;
  const std::uint64_t row = (static_cast<std::uint64_t>(width) * bytes_per_pixel + 3) / 4 * 4;
  return row * static_cast<std::uint64_t>(height) <= kDimgMaxImageBytes;
}

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

namespace dimg_detail {
// Writes the texts to the debug log as consecutive pieces of one line.
void Log(std::initializer_list<const char*> pieces);
// Writes one failure line "<tag>\"<name>\"<what>\n" to the debug log, in three pieces.
void LogFileFailure(const char* tag, DFile& file, const char* what);
}  // namespace dimg_detail
