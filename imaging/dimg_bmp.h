// BMP codec: reads uncompressed 8-, 24- and 32-bit Windows bitmaps and writes 24-bit ones.
//
// File layout (little-endian): a 14-byte file header (type "BM", file size, two reserved words,
// offset of the rows), an info header of at least 40 bytes (size, width, height - negative for
// top-down rows -, planes, bit count, compression, image size, resolutions, colours used,
// important colours), then the palette (8 bits: B, G, R, reserved per entry) or the three colour
// masks (BI_BITFIELDS after a 40-byte header), then the rows (at the offset field), each padded
// to 4 bytes.
#pragma once

#include <cstdint>

class DImage;
class DFile;

// The 14-byte file header.
struct DimgBmpFileHeader {
  std::uint16_t type = 0;  // 0x4D42, the letters "BM"
  std::uint32_t size = 0;  // bytes in the file
  std::uint16_t reserved1 = 0;
  std::uint16_t reserved2 = 0;
  std::uint32_t offset = 0;  // where the rows start
};

// The 40-byte info header.
struct DimgBmpInfoHeader {
  std::uint32_t size = 0;  // bytes in the info header (40 or more)
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: rows stored top-down
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  std::uint32_t compression = 0;  // 0 BI_RGB, 3 BI_BITFIELDS
  std::uint32_t image_size = 0;
  std::int32_t x_resolution = 0;
  std::int32_t y_resolution = 0;
  std::uint32_t colours_used = 0;
  std::uint32_t colours_important = 0;
};

inline constexpr std::uint16_t kDimgBmpType = 0x4D42;

// Read the record from the next 14 or 40 bytes; a short read throws DExceptFile.
void DimgReadFileHeader(DFile& file, DimgBmpFileHeader* header);
void DimgReadInfoHeader(DFile& file, DimgBmpInfoHeader* header);
// Write the record as 14 or 40 bytes at the current position; a short write throws DExceptFile.
void DimgWriteFileHeader(DFile& file, const DimgBmpFileHeader& header);
void DimgWriteInfoHeader(DFile& file, const DimgBmpInfoHeader& header);

// Width, absolute height and bit count of a BMP file that DimgLoadBitmap decodes. False for
// any file it refuses (the probe and the loader read the headers alike).
bool DimgInfoBitmap(DFile& file, std::int32_t* width, std::int32_t* height, std::int32_t* bit_count);
// Decodes an 8-, 24- or 32-bit BI_RGB or BI_BITFIELDS bitmap into image as RGBA8888. The
// description is read as DimgParseDibInfo reads one (masks applied; 32-bit pixels with the
// standard masks keep their fourth byte as alpha, others get alpha 255). The rows lie where the
// offset field says when that is past the description and inside the file, else right behind
// the description. False for anything else or a damaged file; a short row leaves the image
// destroyed.
bool DimgLoadBitmap(DImage& image, DFile& file);
// Writes image as a bottom-up 24-bit BI_RGB bitmap (row padding zeroed). On failure logs
// "[DimgWriteBitmap] \"<name>\": Write Error" and returns false, or, when the caller's file is set
// to throw, lets DExceptFile pass.
bool DimgWriteBitmap(DFile& file, const DImage& image);
