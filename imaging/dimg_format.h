// Pixel format codes of memory images, their sizes and the per-pixel unpack/pack rules.
#pragma once

#include <cstdint>

// The eight pixel formats of a memory image. A code above 7 is not a format: images refuse it and
// the blits ignore an image that reports one.
enum class DimgFormat : std::uint32_t {
  RGBA8888 = 0,  // bytes R, G, B, A
  RGB888 = 1,    // bytes R, G, B
  BGRA8888 = 2,  // bytes B, G, R, A
  BGR888 = 3,    // bytes B, G, R
  ARGB1555 = 4,  // little-endian word: A bit 15, R 10-14, G 5-9, B 0-4
  ARGB4444 = 5,  // little-endian word: A 12-15, R 8-11, G 4-7, B 0-3
  RGB565 = 6,    // little-endian word: R 11-15, G 5-10, B 0-4
  YCRCB888 = 7,  // bytes Y, Cr, Cb
};

inline constexpr std::uint32_t kDimgFormatCount = 8;

// True for the codes 0 to 7.
constexpr bool DimgIsFormat(DimgFormat f) {
  return static_cast<std::uint32_t>(f) < kDimgFormatCount;
}

// Bits per pixel (32, 24 or 16); 0 for a code that is not a format.
constexpr std::uint32_t DimgBitCount(DimgFormat f) {
  switch (f) {
    case DimgFormat::RGBA8888:
    case DimgFormat::BGRA8888:
      return 32;
    case DimgFormat::RGB888:
    case DimgFormat::BGR888:
    case DimgFormat::YCRCB888:
      return 24;
    case DimgFormat::ARGB1555:
    case DimgFormat::ARGB4444:
    case DimgFormat::RGB565:
      return 16;
  }
  return 0;
}

// Bytes per pixel (4, 3 or 2); 0 for a code that is not a format.
constexpr std::uint32_t DimgBytesPerPixel(DimgFormat f) {
  return (DimgBitCount(f) + 7) / 8;
}

// True for the formats that carry an alpha channel.
constexpr bool DimgHasAlpha(DimgFormat f) {
  return f == DimgFormat::RGBA8888 || f == DimgFormat::BGRA8888 || f == DimgFormat::ARGB1555 ||
         f == DimgFormat::ARGB4444;
}

// Fixed-point YCrCb tables (x128), filled once at start-up by DimgInitYCrCbTables.
struct DimgYCrCbTables {
  std::int32_t y_r[256], y_g[256], y_b[256];     // Y from R, G, B: i * k
  std::int32_t cr_r[256], cr_g[256], cr_b[256];  // Cr from R, G, B: i * k
  std::int32_t cb_r[256], cb_g[256], cb_b[256];  // Cb from R, G, B: i * k
  std::int32_t r_cr[256];                        // R from Cr: (i - 128) * 1.402, not scaled
  std::int32_t g_cr[256], g_cb[256];             // G from Cr, Cb: (i - 128) * k
  std::int32_t b_cb[256];                        // B from Cb: (i - 128) * 1.772, not scaled
};
extern DimgYCrCbTables YCrCbTables;

// Fills YCrCbTables; returns true. Called once before any conversion that involves YCRCB888.
bool DimgInitYCrCbTables();

namespace dimg_detail {
constexpr std::uint8_t Clamp255(std::int32_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}
}  // namespace dimg_detail

// YCrCb components. The sums are shifted arithmetically (toward minus infinity), then clamped.
inline std::uint8_t DimgRGBToY(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const auto& t = YCrCbTables;
  return dimg_detail::Clamp255((t.y_r[r] + t.y_g[g] + t.y_b[b]) >> 7);
}
inline std::uint8_t DimgRGBToCr(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const auto& t = YCrCbTables;
  return dimg_detail::Clamp255(((t.cr_r[r] + t.cr_g[g] + t.cr_b[b]) >> 7) + 128);
}
inline std::uint8_t DimgRGBToCb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const auto& t = YCrCbTables;
  return dimg_detail::Clamp255(((t.cb_r[r] + t.cb_g[g] + t.cb_b[b]) >> 7) + 128);
}
// Green from a YCrCb pixel; the arguments come in the pixel's byte order Y, Cr, Cb.
inline std::uint8_t DimgYCrCbToG(std::uint8_t y, std::uint8_t cr, std::uint8_t cb) {
  const auto& t = YCrCbTables;
  return dimg_detail::Clamp255(y + ((t.g_cr[cr] + t.g_cb[cb]) >> 7));
}
inline std::uint8_t DimgYCrCbToR(std::uint8_t y, std::uint8_t cr) {
  return dimg_detail::Clamp255(y + YCrCbTables.r_cr[cr]);
}
inline std::uint8_t DimgYCrCbToB(std::uint8_t y, std::uint8_t cb) {
  return dimg_detail::Clamp255(y + YCrCbTables.b_cb[cb]);
}

// One pixel as four 8-bit channels.
struct DimgRgba {
  std::uint8_t r, g, b, a;
};

// Unpacks the pixel at p by the rules of its format: 16-bit channels are shifted up without bit
// replication, RGB565 green keeps only its top five bits, a format without alpha gives 255.
DimgRgba DimgUnpackPixel(DimgFormat f, const std::uint8_t* p);

// Packs r, g, b, a into the pixel at p by the rules of its format (truncation; ARGB1555 alpha set
// from 128; RGB565 green bit 5 always 0; YCRCB888 through the forward transform).
void DimgPackPixel(DimgFormat f, std::uint8_t* p, DimgRgba c);
