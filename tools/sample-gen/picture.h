// Drawing the manifest's pictures into PNG bytes, through the imaging library's writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sample-gen/manifest.h"

namespace samplegen {

// A picture being drawn: straight (not premultiplied) R, G, B, A bytes, rows top-down.
struct Canvas {
  int width = 0, height = 0;
  bool alpha = false;  // rgba; an rgb canvas keeps every alpha at 255
  std::vector<std::uint8_t> px;

  Canvas(int w, int h, bool with_alpha);
  std::uint8_t* At(int x, int y) { return &px[(static_cast<size_t>(y) * width + x) * 4]; }
  // Sets a pixel outright (alpha ignored on an rgb canvas).
  void Put(int x, int y, Colour c);
  // Lays colour c over the pixel, its alpha scaled by coverage 0..1.
  void Blend(int x, int y, Colour c, double coverage);
};

// Applies the picture's operations in order. False with "line N: reason" when one cannot be drawn.
bool DrawPicture(const Asset& asset, Canvas* canvas, std::string* error);
// Encodes a canvas as an 8-bit RGB or RGBA PNG. False when the writer fails.
bool EncodePng(const Canvas& canvas, std::string* png);

}  // namespace samplegen
