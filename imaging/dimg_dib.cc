// The BITMAPINFO reader and the row decoder of device-independent bitmaps.
#include "imaging/dimg_dib.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/dimg_common.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Channel of a masked pixel scaled to 8 bits: wider channels keep their top bits, narrower ones
// are shifted up without replication (a 5-bit 31 becomes 248).
std::uint8_t MaskedChannel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const int width = 32 - __builtin_clz(mask) - shift;
  const std::uint32_t v = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>(width >= 8 ? v >> (width - 8) : v << (8 - width));
}

bool ValidBitCount(std::uint32_t bit_count) {
  return bit_count == 1 || bit_count == 4 || bit_count == 8 || bit_count == 16 || bit_count == 24 ||
         bit_count == 32;
}

// Palette entries that a description holds.
std::uint32_t PaletteEntries(std::uint32_t bit_count, std::uint32_t colours_used) {
  if (bit_count > 8) return 0;
  const std::uint32_t max_entries = 1u << bit_count;
  return colours_used == 0 || colours_used > max_entries ? max_entries : colours_used;
}

}  // namespace

std::size_t DimgDibInfoBytes(const std::uint8_t* header40) {
  const std::uint32_t header_size = U32(header40);
  const std::uint32_t bit_count = U16(header40 + 14);
  const std::uint32_t compression = U32(header40 + 16);
  if (header_size < 40 || header_size > (1u << 16) || !ValidBitCount(bit_count)) return 0;
  std::size_t bytes = header_size;
  if (compression == kBiBitfields && header_size == 40) bytes += 12;
  return bytes + std::size_t{PaletteEntries(bit_count, U32(header40 + 32))} * 4;
}

bool DimgParseDibInfo(const std::uint8_t* info, std::size_t info_size, DimgDibLayout* layout) {
  if (info == nullptr || info_size < 40) return false;
  const std::uint32_t header_size = U32(info);
  if (header_size < 40 || header_size > info_size) return false;
  const std::int32_t width = static_cast<std::int32_t>(U32(info + 4));
  const std::int32_t height = static_cast<std::int32_t>(U32(info + 8));
  const std::uint32_t bit_count = U16(info + 14);
  const std::uint32_t compression = U32(info + 16);
  const std::uint32_t colours_used = U32(info + 32);
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  if (!ValidBitCount(bit_count)) return false;
  const bool bitfields = compression == kBiBitfields;
  if (compression != kBiRgb && !(bitfields && (bit_count == 16 || bit_count == 32))) return false;
  const std::uint32_t rows = height < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(height))
                                        : static_cast<std::uint32_t>(height);
  if (!DimgSizeWithinCap(width, rows, 4)) return false;

  DimgDibLayout out;
  out.width = width;
  out.rows = rows;
  out.bottom_up = height > 0;
  out.bit_count = bit_count;
  out.row_bytes = (static_cast<std::size_t>(bit_count) * static_cast<std::size_t>(width) + 31) / 32 * 4;
  std::size_t table = header_size;
  if (bitfields) {
    if (info_size < 52) return false;
    for (int i = 0; i < 3; ++i) out.masks[i] = U32(info + 40 + 4 * i);
    if (header_size == 40) table += 12;
    if (header_size >= 56) out.alpha_mask = U32(info + 52);
  } else if (bit_count == 16) {
    out.masks[0] = 0x7C00, out.masks[1] = 0x03E0, out.masks[2] = 0x001F;
  } else if (bit_count == 32) {
    out.masks[0] = 0xFF0000, out.masks[1] = 0xFF00, out.masks[2] = 0xFF;
  }
  if (bit_count == 32 && out.alpha_mask == 0 && out.masks[0] == 0xFF0000 && out.masks[1] == 0xFF00 &&
      out.masks[2] == 0xFF)
    out.alpha_mask = 0xFF000000u;
  const std::uint32_t entries = PaletteEntries(bit_count, colours_used);
  if (table > info_size || std::uint64_t{entries} * 4 > info_size - table) return false;
  if (entries > 0) {
    out.palette = info + table;
    out.palette_count = entries;
  }
  out.info_bytes = table + std::size_t{entries} * 4;
  *layout = out;
  return true;
}

void DimgDibDecodeRow(const DimgDibLayout& layout, const std::uint8_t* row, std::uint8_t* bgra) {
  const std::size_t width = static_cast<std::size_t>(layout.width);
  std::uint8_t* out = bgra;
  if (layout.bit_count == 24) {
    for (std::size_t x = 0; x < width; ++x, out += 4, row += 3)
      out[0] = row[0], out[1] = row[1], out[2] = row[2], out[3] = 255;
    return;
  }
  if (layout.bit_count == 32 && layout.masks[0] == 0xFF0000 && layout.masks[1] == 0xFF00 &&
      layout.masks[2] == 0xFF && (layout.alpha_mask == 0xFF000000u || layout.alpha_mask == 0)) {
    const bool alpha = layout.alpha_mask != 0;
    for (std::size_t x = 0; x < width; ++x, out += 4, row += 4)
      out[0] = row[0], out[1] = row[1], out[2] = row[2], out[3] = alpha ? row[3] : 255;
    return;
  }
  for (std::size_t x = 0; x < width; ++x, out += 4) {
    std::uint32_t index = 0;
    switch (layout.bit_count) {
      case 1:
        index = (row[x >> 3] >> (7 - (x & 7))) & 1;
        break;
      case 4:
        index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        break;
      case 8:
        index = row[x];
        break;
      default: {
        const std::uint32_t px = layout.bit_count == 16 ? U16(&row[x * 2]) : U32(&row[x * 4]);
        out[0] = MaskedChannel(px, layout.masks[2]);
        out[1] = MaskedChannel(px, layout.masks[1]);
        out[2] = MaskedChannel(px, layout.masks[0]);
        out[3] = layout.alpha_mask ? MaskedChannel(px, layout.alpha_mask) : 255;
        continue;
      }
    }
    if (index < layout.palette_count) {
      const std::uint8_t* e = layout.palette + index * 4;
      out[0] = e[0], out[1] = e[1], out[2] = e[2];
    } else {
      out[0] = out[1] = out[2] = 0;
    }
    out[3] = 255;
  }
}

void DimgDibToBgr888(const DimgDibLayout& layout, const std::uint8_t* bits, std::size_t bits_size,
                     std::uint8_t* dst, std::size_t dst_pitch) {
  const std::size_t width = static_cast<std::size_t>(layout.width);
  std::vector<std::uint8_t> row(layout.row_bytes);
  std::vector<std::uint8_t> bgra(width * 4);
  for (std::uint32_t r = 0; r < layout.rows; ++r) {
    // Stored row r, zero-filled where the block ends early.
    const std::size_t start = static_cast<std::size_t>(r) * layout.row_bytes;
    const std::size_t have = start < bits_size ? std::min(layout.row_bytes, bits_size - start) : 0;
    if (have > 0) std::memcpy(row.data(), bits + start, have);
    std::memset(row.data() + have, 0, layout.row_bytes - have);
    DimgDibDecodeRow(layout, row.data(), bgra.data());
    const std::uint32_t y = layout.bottom_up ? layout.rows - 1 - r : r;
    std::uint8_t* out = dst + static_cast<std::size_t>(y) * dst_pitch;
    for (std::size_t x = 0; x < width; ++x)
      out[x * 3] = bgra[x * 4], out[x * 3 + 1] = bgra[x * 4 + 1], out[x * 3 + 2] = bgra[x * 4 + 2];
    std::memset(out + width * 3, 0, dst_pitch - width * 3);
  }
}
