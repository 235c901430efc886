// Anti-aliased characters: one font's characters rendered one at a time as coverage levels with
// GDI's glyph outlines, and the writers that put the levels of the last rendered character into
// an alpha plane or the alpha of 32-bit and 16-bit pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/ddc.h"
#include "base/dgdiobject.h"
#include "base/dgeometry.h"
#include "base/dobject.h"
#include "base/dref.h"

// Bits of the DGlyph flag word.
inline constexpr std::uint32_t kGlyphBitmap = 0x01;  // GGO_BITMAP (source bits 1)
inline constexpr std::uint32_t kGlyphGray2 = 0x02;   // else GGO_GRAY2_BITMAP (source bits 2)
inline constexpr std::uint32_t kGlyphGray4 = 0x04;   // else GGO_GRAY4_BITMAP; none: GGO_GRAY8_BITMAP
inline constexpr std::uint32_t kGlyphOut4 = 0x10;    // output 4 bits
inline constexpr std::uint32_t kGlyphOut5 = 0x20;    // else output 5 bits; neither: 8 bits
inline constexpr std::uint32_t kGlyphCache = 0x80;   // keep every rendered character

// A coverage level of a gray outline (0 to 2^source bits) as an output level (0 to
// 2^output bits - 1): round(level x scale) to the nearest, ties to even, with the single-precision
// scale (2^output bits - 1) / 2^source bits; a level above the source's range counts as its top.
std::uint8_t GlyphRescale(std::uint32_t level, std::uint32_t source_bits, std::uint32_t output_bits);

// One rendered character. A cell counts as rendered when its pitch is not 0.
struct AACharCell {
  DRef<std::uint8_t> levels;      // box height rows of pitch bytes, each a level
  std::uint64_t levels_size = 0;  // bytes behind levels
  DPoint box;                     // black box (width, height)
  std::uint32_t pitch = 0;        // (box width + 3) & ~3; 1 for a character without black box
  DPoint draw_pos;                // the box's top-left from the cell's top-left
  DPoint feed;                    // (advance, line height)
};

class DGlyph : public DObject {
 public:
  DGlyph() = default;
  DGlyph(const DGlyph&) = delete;
  DGlyph& operator=(const DGlyph&) = delete;
  ~DGlyph() override;

  // Makes the font and a screen-compatible memory DC with it selected; false (all released) when
  // either fails.
  bool Create(std::uint32_t flags, const LOGFONTA& font);
  void Close();

  // Renders one single-byte or double-byte (lead << 8 | trail) code. False for 0xFFFF, a code the
  // platform refuses, or a glyph beyond the image cap; the current character is then empty
  // (box 0 x 0, pitch 0, feed 0) until the next successful render.
  bool Render(std::uint16_t code);

  // The last rendered character (empty after a failure or before any render).
  DPoint GetBoxSize() const { return current_->box; }
  DPoint GetDrawPos() const { return current_->draw_pos; }
  DPoint GetFeed() const { return current_->feed; }
  std::uint32_t GetPitch() const { return current_->pitch; }
  const std::uint8_t* GetLevels() const { return current_->levels.Get(); }
  // The font's cell height (tmHeight).
  std::int32_t GetHeight() const { return metrics_.tmHeight; }
  const TEXTMETRICA& GetMetrics() const { return metrics_; }
  std::uint32_t GetFlags() const { return flags_; }
  std::uint32_t GetOutputBits() const { return output_bits_; }

  // Write the current character's box, placed at (x, y), into a width x height destination of
  // `pitch` bytes a row, clipped on every side; every pixel of the clipped box is written, those
  // without ink too. Nothing is written for a null destination or a pitch shorter than a row.
  // Alpha plane: 31 - level (levels above 31 count as 31).
  void DrawToAlphaPlane(std::uint8_t* plane, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height, std::int32_t pitch) const;
  // The level into bits 24-31 of 32-bit pixels; the colour bytes are kept.
  void DrawToARGB8888(void* pixels, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      std::int32_t pitch) const;
  // The level (up to 15) into bits 12-15 of 16-bit pixels; the low 12 bits are kept.
  void DrawToARGB4444(void* pixels, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      std::int32_t pitch) const;

 private:
  // The clipped part of the current box in a destination: false when nothing shows.
  bool Clip(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::int32_t pitch,
            std::uint32_t bytes_per_pixel, std::int32_t* dx, std::int32_t* dy, std::int32_t* sx,
            std::int32_t* sy, std::uint32_t* w, std::uint32_t* h) const;
  bool RenderInto(std::uint16_t code, AACharCell& cell, bool cached);

  std::uint32_t flags_ = 0;
  DFont font_;
  DDC dc_;
  TEXTMETRICA metrics_{};
  std::uint32_t outline_format_ = 0;
  std::uint32_t source_bits_ = 0;
  std::uint32_t output_bits_ = 0;
  float scale_ = 0.0f;
  DRef<std::uint8_t> outline_;
  std::uint64_t outline_capacity_ = 0;
  AACharCell current_char_;
  DRef<std::uint8_t> level_buffer_;  // the current character's levels when the cache is off
  std::uint64_t level_capacity_ = 0;
  // Cells of the cache, made as codes are rendered (the table itself at the first cached render).
  std::vector<std::unique_ptr<AACharCell>> cache_;
  const AACharCell* current_ = &kEmpty;
  std::uint8_t rescale_[256] = {};

  static const AACharCell kEmpty;
};
