// What a script image value designates (an image with its text-output state), and wipe maps:
// screen-sized grids of 15-bit thresholds made from a picture.
#pragma once

#include <cstdint>

#include "base/dgeometry.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "display/draw/draw_image.h"
#include "imaging/dimage.h"

class ImageHandle : public DObject {
 public:
  ImageHandle() = default;
  ~ImageHandle() override = default;

  // Position (0, 0), box the whole image, colour 0, mode 0, layout 0x212. Needs an image.
  void Reset();
  // False when the handle already holds an image.
  bool Attach(const DRef<ConnectedImage>& image);
  bool CopyFrom(const ImageHandle& other);
  // False when the handle holds no image.
  bool Clear();
  bool ResetAll() {
    Reset();
    return true;
  }

  DRef<ConnectedImage> image;
  DPoint text_pos;
  DRect text_box;
  std::uint16_t text_color = 0;
  std::uint32_t text_mode = 0;
  std::uint32_t layout = 0x212;
};

class WipeMap : public DObject {
 public:
  ~WipeMap() override = default;
  void Clear() {
    data.Release();
    width = height = 0;
  }
  // The entry of map column x, row y (no check).
  std::uint16_t At(std::uint32_t x, std::uint32_t y) const { return data[std::ptrdiff_t(y) * width + x]; }

  DRef<std::uint16_t> data;  // width x height entries, each 0x8000 | level
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Builds `map` at the size of `screen` (the screen image) from a picture: mode 0 takes the blue
// byte scaled to 0-32767, mode 1 red as the top 8 and green as the low 7 bits; the picture repeats
// to fill the map. False for another mode, an empty source or screen, or a failed conversion.
bool BuildWipeMap(WipeMap& map, const DImage& source, std::int32_t mode, const ConnectedImage& screen);
