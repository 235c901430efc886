// Compile-time pixel layouts: unpack and pack rules of each format, used inside the blit kernels.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "imaging/dimg_format.h"

namespace dimg_pixel {

// 16- and 32-bit pixels are read and written as native words: the layouts are little-endian.
static_assert(std::endian::native == std::endian::little);

inline std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store16(std::uint8_t* p, std::uint32_t v) {
  const std::uint16_t w = static_cast<std::uint16_t>(v);
  std::memcpy(p, &w, 2);
}
inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(std::uint8_t* p, std::uint32_t v) {
  std::memcpy(p, &v, 4);
}
inline std::uint8_t U8(std::uint32_t v) {
  return static_cast<std::uint8_t>(v);
}

// Layout<F>: kBytes; Read (unpack to 8-bit channels, alpha 255 without an alpha channel);
// Write (pack every byte of the pixel); WriteColor (colour bits only, alpha bits kept);
// WriteAlpha (alpha bits only, colour kept). The last two exist for formats with alpha.
template <DimgFormat F>
struct Layout;

// Byte formats: channel offsets within the pixel.
template <int kR, int kG, int kB, int kA, std::uint32_t kN>
struct ByteLayout {
  static constexpr std::uint32_t kBytes = kN;
  static DimgRgba Read(const std::uint8_t* p) {
    if constexpr (kN == 4) {  // one 32-bit load
      const std::uint32_t v = Load32(p);
      return {U8(v >> (8 * kR)), U8(v >> (8 * kG)), U8(v >> (8 * kB)), U8(v >> (8 * kA))};
    } else {
      return {p[kR], p[kG], p[kB], 255};
    }
  }
  static void Write(std::uint8_t* p, DimgRgba c) {
    if constexpr (kN == 4) {  // one 32-bit store
      Store32(p, std::uint32_t{c.r} << (8 * kR) | std::uint32_t{c.g} << (8 * kG) |
                     std::uint32_t{c.b} << (8 * kB) | std::uint32_t{c.a} << (8 * kA));
    } else {
      p[kR] = c.r, p[kG] = c.g, p[kB] = c.b;
    }
  }
  static void WriteColor(std::uint8_t* p, DimgRgba c) { p[kR] = c.r, p[kG] = c.g, p[kB] = c.b; }
  static void WriteAlpha(std::uint8_t* p, std::uint8_t a) {
    if constexpr (kA >= 0) p[kA] = a;
  }
};

template <>
struct Layout<DimgFormat::RGBA8888> : ByteLayout<0, 1, 2, 3, 4> {};
template <>
struct Layout<DimgFormat::RGB888> : ByteLayout<0, 1, 2, -1, 3> {};
template <>
struct Layout<DimgFormat::BGRA8888> : ByteLayout<2, 1, 0, 3, 4> {};
template <>
struct Layout<DimgFormat::BGR888> : ByteLayout<2, 1, 0, -1, 3> {};

template <>
struct Layout<DimgFormat::ARGB1555> {
  static constexpr std::uint32_t kBytes = 2;
  static DimgRgba Read(const std::uint8_t* p) {
    const std::uint32_t w = Load16(p);
    return {U8(((w >> 10) & 0x1F) << 3), U8(((w >> 5) & 0x1F) << 3), U8((w & 0x1F) << 3),
            U8(w & 0x8000 ? 255 : 0)};
  }
  static std::uint32_t Color(DimgRgba c) { return ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3); }
  static void Write(std::uint8_t* p, DimgRgba c) { Store16(p, ((c.a & 0x80u) << 8) | Color(c)); }
  static void WriteColor(std::uint8_t* p, DimgRgba c) { Store16(p, (Load16(p) & 0x8000u) | Color(c)); }
  static void WriteAlpha(std::uint8_t* p, std::uint8_t a) {
    Store16(p, (Load16(p) & 0x7FFFu) | ((a & 0x80u) << 8));
  }
};

template <>
struct Layout<DimgFormat::ARGB4444> {
  static constexpr std::uint32_t kBytes = 2;
  static DimgRgba Read(const std::uint8_t* p) {
    const std::uint32_t w = Load16(p);
    return {U8(((w >> 8) & 0x0F) << 4), U8(((w >> 4) & 0x0F) << 4), U8((w & 0x0F) << 4),
            U8(((w >> 12) & 0x0F) << 4)};
  }
  static std::uint32_t Color(DimgRgba c) { return ((c.r >> 4) << 8) | ((c.g >> 4) << 4) | (c.b >> 4); }
  static void Write(std::uint8_t* p, DimgRgba c) { Store16(p, ((c.a & 0xF0u) << 8) | Color(c)); }
  static void WriteColor(std::uint8_t* p, DimgRgba c) { Store16(p, (Load16(p) & 0xF000u) | Color(c)); }
  static void WriteAlpha(std::uint8_t* p, std::uint8_t a) {
    Store16(p, (Load16(p) & 0x0FFFu) | ((a & 0xF0u) << 8));
  }
};

template <>
struct Layout<DimgFormat::RGB565> {
  static constexpr std::uint32_t kBytes = 2;
  static DimgRgba Read(const std::uint8_t* p) {
    const std::uint32_t w = Load16(p);
    return {U8(((w >> 11) & 0x1F) << 3), U8(((w >> 6) & 0x1F) << 3), U8((w & 0x1F) << 3), 255};
  }
  static void Write(std::uint8_t* p, DimgRgba c) {
    Store16(p, ((c.r >> 3) << 11) | ((c.g >> 3) << 6) | (c.b >> 3));
  }
};

template <>
struct Layout<DimgFormat::YCRCB888> {
  static constexpr std::uint32_t kBytes = 3;
  static DimgRgba Read(const std::uint8_t* p) {
    return {DimgYCrCbToR(p[0], p[1]), DimgYCrCbToG(p[0], p[1], p[2]), DimgYCrCbToB(p[0], p[2]), 255};
  }
  static void Write(std::uint8_t* p, DimgRgba c) {
    const std::uint8_t y = DimgRGBToY(c.r, c.g, c.b), cr = DimgRGBToCr(c.r, c.g, c.b),
                       cb = DimgRGBToCb(c.r, c.g, c.b);
    p[0] = y, p[1] = cr, p[2] = cb;
  }
};

}  // namespace dimg_pixel
