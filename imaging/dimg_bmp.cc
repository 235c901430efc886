// BMP codec: header records, the probe, the 8/24/32-bit reader and the 24-bit writer.
#include "imaging/dimg_bmp.h"

#include <climits>
#include <cstring>
#include <vector>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_common.h"
#include "imaging/dimg_dib.h"

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

// Where a BMP file's picture lies: its description (the info header with masks and palette, read
// by the one BITMAPINFO reader) and the position of its rows.
struct BmpPicture {
  std::vector<std::uint8_t> info;  // the description's bytes; layout.palette points into it
  DimgDibLayout layout;
  std::int64_t rows_at = 0;  // file position of the first stored row
};

// Reads and checks everything a BMP file says about its picture. False for a file that is not
// a BMP this reader decodes (8, 24 or 32 bits, BI_RGB or BI_BITFIELDS) or whose rows cannot all
// be there; that is the answer of the probe and the loader alike.
bool ReadBmpPicture(DFile& file, BmpPicture* picture) {
  DimgBmpFileHeader fh;
  DimgBmpInfoHeader ih;
  if (!ReadHeaders(file, &fh, &ih) || fh.type != kDimgBmpType) return false;
  if (ih.compression != kBiRgb && ih.compression != kBiBitfields) return false;
  if (ih.bit_count != 8 && ih.bit_count != 24 && ih.bit_count != 32) return false;
  // The description: the info header, the masks behind a 40-byte header, the palette.
  std::uint8_t header40[40];
  Put32(header40, ih.size);
  Put16(header40 + 14, ih.bit_count);
  Put32(header40 + 16, ih.compression);
  Put32(header40 + 32, ih.colours_used);
  const std::size_t info_bytes = DimgDibInfoBytes(header40);
  const std::int64_t size = file.GetSize();
  if (info_bytes == 0 || (size >= 0 && static_cast<std::uint64_t>(size) < 14 + info_bytes)) return false;
  picture->info.resize(info_bytes);
  if (!file.Seek(DFile::kSeekStart, 14)) return false;
  if (file.Read(picture->info.data(), static_cast<std::uint32_t>(info_bytes)) !=
      static_cast<std::int64_t>(info_bytes))
    return false;
  if (!DimgParseDibInfo(picture->info.data(), info_bytes, &picture->layout)) return false;
  // The rows follow the description, unless the offset field puts them further on: a gap after
  // the palette, or a palette longer than the entries read. An offset inside the description or
  // past the file's end is not believed.
  const std::uint64_t after_info = 14 + std::uint64_t{picture->layout.info_bytes};
  const std::uint64_t needed = std::uint64_t{picture->layout.row_bytes} * picture->layout.rows;
  std::uint64_t rows_at = after_info;
  if (size >= 0 && fh.offset > after_info && fh.offset < static_cast<std::uint64_t>(size) &&
      needed <= static_cast<std::uint64_t>(size) - fh.offset)
    rows_at = fh.offset;
  if (size >= 0 &&
      (rows_at > static_cast<std::uint64_t>(size) || needed > static_cast<std::uint64_t>(size) - rows_at))
    return false;
  picture->rows_at = static_cast<std::int64_t>(rows_at);
  return true;
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
  BmpPicture picture;
  if (!ReadBmpPicture(file, &picture)) return false;
  *width = picture.layout.width;
  *height = static_cast<std::int32_t>(picture.layout.rows);
  *bit_count = static_cast<std::int32_t>(picture.layout.bit_count);
  return true;
}

bool DimgLoadBitmap(DImage& image, DFile& file) {
  BmpPicture picture;
  if (!ReadBmpPicture(file, &picture)) return false;
  const DimgDibLayout& layout = picture.layout;
  if (!file.Seek(DFile::kSeekStart, picture.rows_at)) return false;
  if (!image.CreateAligned(static_cast<std::uint32_t>(layout.width), layout.rows, DimgFormat::RGBA8888))
    return false;
  image.GetTopLine();
  std::vector<std::uint8_t> row(layout.row_bytes);
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(layout.width) * 4);
  for (std::uint32_t r = 0; r < layout.rows; ++r) {
    if (file.Read(row.data(), static_cast<std::uint32_t>(layout.row_bytes)) !=
        static_cast<std::int64_t>(layout.row_bytes)) {
      image.Unlock();
      image.Destroy();
      return false;
    }
    DimgDibDecodeRow(layout, row.data(), bgra.data());
    const std::int32_t target = static_cast<std::int32_t>(layout.bottom_up ? layout.rows - 1 - r : r);
    std::uint8_t* out = image.GetPixelPointer(0, target);
    for (std::size_t x = 0; x < bgra.size(); x += 4)
      out[x] = bgra[x + 2], out[x + 1] = bgra[x + 1], out[x + 2] = bgra[x], out[x + 3] = bgra[x + 3];
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
