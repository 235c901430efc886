// The Text unit: text laid out and rasterised by GDI in one off-screen canvas (a memory DC with a
// 16-bit DIB section) and stamped into Draw-unit images in one solid colour; text fonts and the
// unit's global canvas.
#pragma once

#include <cstdint>

#include "base/ddc.h"
#include "base/dgdiobject.h"
#include "base/dgeometry.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "imaging/dimage.h"

class ImageHandle;

// What a script text-info value holds.
class TextFont : public DObject {
 public:
  ~TextFont() override = default;
  DRef<DFont> font;
  DRect last_output;  // what the last OutputTextToImage with this font reported
};

class DGdiCanvas : public DObject {
 public:
  DGdiCanvas() = default;
  DGdiCanvas(const DGdiCanvas&) = delete;
  DGdiCanvas& operator=(const DGdiCanvas&) = delete;
  ~DGdiCanvas() override;

  // A screen-compatible memory DC, transparent background, white text, the black stock brush;
  // size (0, 0). Always true.
  bool Create();
  // Deletes the DC and the DIB section; size (0, 0).
  void Close();

  // (0, 0, widest line, total height) of the text laid out in the box (0, 0, box.x, box.y).
  DRect MeasureText(TextFont& font, const DPoint& box, std::uint32_t layout, const DString& text);
  // Draws the text in white into the canvas's box (0, 0, bw, bh) and stamps every inked canvas
  // pixel into the target as `colour`, the block moved to (bx + max(x, 0), by + max(y, 0)) and a
  // negative position cutting it on the left or at the top. The result is the layout's
  // (0, 0, widest line, total height); (0, 0, 0, 0) and nothing drawn for a target that is not
  // ARGB1555 or RGB565 or a canvas that cannot grow (tried again at the next call).
  DRect DrawTextToImage(DImage& target, TextFont& font, std::uint16_t colour, std::int32_t x, std::int32_t y,
                        const DRect& box, const DString& text, std::uint32_t layout);

  DPoint GetSize() const { return size_; }
  const std::uint16_t* GetBits() const { return bits_; }
  DDC& GetDC() { return dc_; }

 private:
  // Makes the canvas at least bw x bh; false (size (0, 0)) when the DIB section fails.
  bool Fit(std::int64_t bw, std::int64_t bh);

  DDC dc_;
  DBitmap bitmap_;
  DPoint size_;
  std::uint16_t* bits_ = nullptr;
};

// A text font of that GDI height (positive: the cell height) and weight in the fixed Japanese
// face; empty when the font cannot be made.
DRef<TextFont> CreateTextFont(std::int32_t height, std::int32_t weight);
// (0, 0, width, height) of the text in a 65535 x 65535 box, left, top, wrapping at the box width
// (lines break at line feeds).
DRect MeasureTextExtent(DGdiCanvas& canvas, TextFont& font, const DString& text);
// Draws the text into the handle's image at its text position, box, colour and layout; the
// result is the height drawn (also stored as the font's last output; mode 1 moves the position
// down by it). 0 when the handle holds no 16-bit Draw image.
std::int32_t OutputTextToImage(ImageHandle& handle, DGdiCanvas& canvas, TextFont& font, const DString& text);

// The unit's global canvas: made by the start, deleted by the stop (harmless when not started).
// Null while the unit is not running.
DGdiCanvas* TextCanvas();
bool StartTextUnit();
void StopTextUnit();

// The script machine's default text font (height 20, weight 400): made by InitDefaultTextFont
// (false when it cannot be made), released by TermDefaultTextFont.
bool InitDefaultTextFont();
void TermDefaultTextFont();
DRef<TextFont> DefaultTextFont();
