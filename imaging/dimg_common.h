// What the image codecs and the loader chain share: the one image size cap and the log lines.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "imaging/dimage.h"

class DFile;

// Largest pixel storage a loader creates, in bytes: the storage limit of DImage itself. Sizes
// read from file headers are checked against it before anything is allocated.
inline constexpr std::uint64_t kDimgMaxImageBytes = DImage::kMaxStorage;

// True when width and height are above 0 and width * height * bytes_per_pixel (with each row
// padded to 4 bytes) fits under kDimgMaxImageBytes.
constexpr bool DimgSizeWithinCap(std::int64_t width, std::int64_t height, std::uint32_t bytes_per_pixel) {
  if (width <= 0 || height <= 0 || width > (std::int64_t{1} << 30) || height > (std::int64_t{1} << 30))
    return false;
  const std::uint64_t row = (static_cast<std::uint64_t>(width) * bytes_per_pixel + 3) / 4 * 4;
  return row * static_cast<std::uint64_t>(height) <= kDimgMaxImageBytes;
}

namespace dimg_detail {
// Writes the texts to the debug log as consecutive pieces of one line.
void Log(std::initializer_list<const char*> pieces);
// Writes one failure line "<tag>\"<name>\"<what>\n" to the debug log, in three pieces.
void LogFileFailure(const char* tag, DFile& file, const char* what);
}  // namespace dimg_detail
