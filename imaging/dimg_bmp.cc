// BMP codec: header records, the probe, the 8/24/32-bit reader and the 24-bit writer.
#include "imaging/dimg_bmp.h"

#include <climits>
#include <cstring>
#include <vector>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_load.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v), Put16(p + 2, v >> 16);
}

void ReadExactly(DFile& file, std::uint8_t* bytes, std::uint32_t n) {
  if (file.Read(bytes, n) != n) throw DExceptFile();
}
void WriteExactly(DFile& file, const std::uint8_t* bytes, std::uint32_t n) {
  if (file.Write(bytes, n) != n) throw DExceptFile();
}

// Both headers from the file's start; false when a record comes short.
bool ReadHeaders(DFile& file, DimgBmpFileHeader* fh, DimgBmpInfoHeader* ih) {
  file.Seek(DFile::kSeekStart, 0);
  try {
    DimgReadFileHeader(file, fh);
    DimgReadInfoHeader(file, ih);
  } catch (const DExceptFile&) {
    return false;
  }
  return true;
}

// Bytes of one stored row, padded to 4.
std::uint64_t RowBytes(std::int32_t width, std::uint32_t bit_count) {
  return (static_cast<std::uint64_t>(width) * bit_count / 8 + 3) / 4 * 4;
}

}  // namespace

void DimgReadFileHeader(DFile& file, DimgBmpFileHeader* h) {
  std::uint8_t b[14];
  ReadExactly(file, b, sizeof b);
  h->type = Get16(b);
  h->size = Get32(b + 2);
  h->reserved1 = Get16(b + 6);
  h->reserved2 = Get16(b + 8);
  h->offset = Get32(b + 10);
}

void DimgReadInfoHeader(DFile& file, DimgBmpInfoHeader* h) {
  std::uint8_t b[40];
  ReadExactly(file, b, sizeof b);
  h->size = Get32(b);
  h->width = static_cast<std::int32_t>(Get32(b + 4));
  h->height = static_cast<std::int32_t>(Get32(b + 8));
  h->planes = Get16(b + 12);
  h->bit_count = Get16(b + 14);
  h->compression = Get32(b + 16);
  h->image_size = Get32(b + 20);
  h->x_resolution = static_cast<std::int32_t>(Get32(b + 24));
  h->y_resolution = static_cast<std::int32_t>(Get32(b + 28));
  h->colours_used = Get32(b + 32);
  h->colours_important = Get32(b + 36);
}

void DimgWriteFileHeader(DFile& file, const DimgBmpFileHeader& h) {
  std::uint8_t b[14];
  Put16(b, h.type);
  Put32(b + 2, h.size);
  Put16(b + 6, h.reserved1);
  Put16(b + 8, h.reserved2);
  Put32(b + 10, h.offset);
  WriteExactly(file, b, sizeof b);
}

void DimgWriteInfoHeader(DFile& file, const DimgBmpInfoHeader& h) {
  std::uint8_t b[40];
  Put32(b, h.size);
  Put32(b + 4, static_cast<std::uint32_t>(h.width));
  Put32(b + 8, static_cast<std::uint32_t>(h.height));
  Put16(b + 12, h.planes);
  Put16(b + 14, h.bit_count);
  Put32(b + 16, h.compression);
  Put32(b + 20, h.image_size);
  Put32(b + 24, static_cast<std::uint32_t>(h.x_resolution));
  Put32(b + 28, static_cast<std::uint32_t>(h.y_resolution));
  Put32(b + 32, h.colours_used);
  Put32(b + 36, h.colours_important);
  WriteExactly(file, b, sizeof b);
}

bool DimgInfoBitmap(DFile& file, std::int32_t* width, std::int32_t* height, std::int32_t* bit_count) {
  DimgBmpFileHeader fh;
  DimgBmpInfoHeader ih;
  if (!ReadHeaders(file, &fh, &ih) || fh.type != kDimgBmpType || ih.height == INT_MIN) return false;
  *width = ih.width;
  *height = ih.height < 0 ? -ih.height : ih.height;
  *bit_count = ih.bit_count;
  return true;
}

bool DimgLoadBitmap(DImage& image, DFile& file) {
  DimgBmpFileHeader fh;
  DimgBmpInfoHeader ih;
  if (!ReadHeaders(file, &fh, &ih) || fh.type != kDimgBmpType) return false;
  if (ih.compression != kBiRgb && ih.compression != kBiBitfields) return false;
  const std::uint32_t bits = ih.bit_count;
  if (bits != 8 && bits != 24 && bits != 32) return false;
  // Short (OS/2) headers, empty or negative widths and heights beyond the image cap are refused
  // before anything is allocated.
  if (ih.size < 40 || ih.width <= 0 || ih.height == 0 || ih.height == INT_MIN) return false;
  const std::uint32_t rows = static_cast<std::uint32_t>(ih.height < 0 ? -ih.height : ih.height);
  if (!DimgSizeWithinCap(ih.width, rows, 4)) return false;

  // What lies between the info header and the rows.
  std::uint64_t skip = ih.size - 40;
  if (ih.compression == kBiBitfields && bits == 32) {
    // The masks follow a 40-byte header and are fields of longer ones: at offset 54 either way.
    // Only the standard B, G, R byte order can be read as it is.
    if (ih.size != 40 && ih.size < 52) return false;  // neither behind nor inside the header
    std::uint8_t masks[12];
    if (file.Read(masks, sizeof masks) != sizeof masks) return false;
    if (Get32(masks) != 0xFF0000 || Get32(masks + 4) != 0xFF00 || Get32(masks + 8) != 0xFF) return false;
    skip = ih.size == 40 ? 0 : ih.size - 52;
  } else if (bits != 8) {
    skip += std::uint64_t{ih.colours_used} * 4;  // an optional colour table, not used
  }
  if (skip > 0 && !file.Seek(DFile::kSeekCurrent, static_cast<std::int64_t>(skip))) return false;

  std::uint8_t palette[256 * 4] = {};
  if (bits == 8) {
    const std::uint32_t entries = ih.colours_used == 0 || ih.colours_used > 256 ? 256 : ih.colours_used;
    if (file.Read(palette, entries * 4) != entries * 4) return false;
  }
  const std::uint64_t row_bytes = RowBytes(ih.width, bits);
  const std::int64_t size = file.GetSize();
  const std::int64_t position = file.Tell();
  if (size >= 0 && position >= 0 && static_cast<std::uint64_t>(size - position) < row_bytes * rows)
    return false;

  if (!image.CreateAligned(static_cast<std::uint32_t>(ih.width), rows, DimgFormat::RGBA8888)) return false;
  image.GetTopLine();
  std::vector<std::uint8_t> row(row_bytes);
  for (std::uint32_t r = 0; r < rows; ++r) {
    if (file.Read(row.data(), static_cast<std::uint32_t>(row_bytes)) !=
        static_cast<std::int64_t>(row_bytes)) {
      image.Unlock();
      image.Destroy();
      return false;
    }
    const std::int32_t target = static_cast<std::int32_t>(ih.height < 0 ? r : rows - 1 - r);
    std::uint8_t* out = image.GetPixelPointer(0, target);
    const std::uint8_t* in = row.data();
    for (std::int32_t x = 0; x < ih.width; ++x, out += 4) {
      if (bits == 32) {
        out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
        in += 4;
      } else if (bits == 24) {
        out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = 255;
        in += 3;
      } else {
        const std::uint8_t* e = palette + *in++ * 4;
        out[0] = e[2], out[1] = e[1], out[2] = e[0], out[3] = 255;
      }
    }
  }
  image.Unlock();
  return true;
}

bool DimgWriteBitmap(DFile& file, const DImage& image) {
  const bool old_throw = file.SetThrow(true);
  try {
    const std::uint32_t width = image.GetWidth();
    const std::uint32_t height = image.GetHeight();
    DimgBmpFileHeader fh;
    fh.type = kDimgBmpType;
    DimgBmpInfoHeader ih;
    ih.size = 40;
    ih.width = static_cast<std::int32_t>(width);
    ih.height = static_cast<std::int32_t>(height);
    ih.planes = 1;
    ih.bit_count = 24;
    ih.compression = kBiRgb;
    if (!file.Seek(DFile::kSeekStart, 0)) throw DExceptFile();
    DimgWriteFileHeader(file, fh);
    DimgWriteInfoHeader(file, ih);

    DImageDib dib;
    if (!dib.CreateAligned(width, height, DimgFormat::BGR888)) throw DExceptFile();
    DimgBlt(dib, image, 0, 0, width, height, 0, 0, width, height, 0, 0);
    const std::int64_t offset = file.Tell();
    // Rows from the storage start (the bottom row) up, padding zeroed.
    const std::uint32_t pitch = (width * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> row(pitch, 0);
    const std::uint8_t* src = dib.GetBits();
    for (std::uint32_t y = 0; y < height; ++y, src += dib.GetPitch()) {
      std::memcpy(row.data(), src, std::size_t{width} * 3);
      WriteExactly(file, row.data(), pitch);
    }
    fh.size = static_cast<std::uint32_t>(file.Tell());
    fh.offset = static_cast<std::uint32_t>(offset);
    if (!file.Seek(DFile::kSeekStart, 0)) throw DExceptFile();
    DimgWriteFileHeader(file, fh);
  } catch (const DExceptFile&) {
    file.SetThrow(old_throw);
    if (old_throw) throw;
    dimg_detail::LogFileFailure("[DimgWriteBitmap] ", file, ": Write Error");
    return false;
  }
  file.SetThrow(old_throw);
  return true;
}
