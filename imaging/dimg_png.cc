// PNG and KCI codec: signature test, libpng set-up, probe, loader, writer and the I/O hooks.
//
// libpng reports errors by longjmp. No C++ exception may cross its frames and no C++ object with a
// destructor may live in a frame that longjmp skips: the hooks catch every exception of the file
// layer and turn it into png_error, and each function that calls setjmp (PngReadRun,
// PngWriteRun) holds only trivially destructible locals; the objects that own resources live in
// their callers.
#include "imaging/dimg_png.h"

#include <csetjmp>
#include <cstring>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_common.h"
#include "imaging/dimg_kci.h"

namespace {

constexpr std::uint8_t kPngSignature4[4] = {0x89, 'P', 'N', 'G'};

// What the signature test found.
struct PngSource {
  int consumed = 0;  // signature bytes already read: 4 for PNG, 8 for KCI
  bool scrambled = false;
};

// Positions the file at 0 and recognises PNG, plain KCI and scrambled KCI by the first bytes.
// File failures throw DExceptFile only when the caller's file is set to throw.
bool SignatureTest(DFile& file, PngSource* source) {
  file.Seek(1, 0);
  std::uint8_t sig[8];
  if (file.Read(sig, 4) != 4) return false;
  if (std::memcmp(sig, kPngSignature4, 4) == 0) {
    source->consumed = 4;
    return true;
  }
  const bool plain = std::memcmp(sig, kDimgKciPlainSignature, 4) == 0;
  const bool scrambled = std::memcmp(sig, kDimgKciScrambledSignature, 4) == 0;
  if (!plain && !scrambled) return false;
  if (file.Read(sig + 4, 4) != 4) return false;
  const std::uint8_t* expect = plain ? kDimgKciPlainSignature : kDimgKciScrambledSignature;
  if (std::memcmp(sig + 4, expect + 4, 4) != 0) return false;
  source->consumed = 8;
  source->scrambled = scrambled;
  return true;
}

// Header values of a read, filled by PngReadRun.
struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  bool alpha = false;  // alpha channel or tRNS chunk
};

// Reads the header and, when image is given, the whole picture into it. Returns false after a
// libpng error (already logged by DimgPngError) or a header the image cannot take.
bool PngReadRun(png_structp png, png_infop info, int consumed, PngHeader* header, DImage* image) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_sig_bytes(png, consumed);
  // Sizes beyond what an image may hold are refused before any row buffer is made.
  png_set_user_limits(png, 1u << 28, 1u << 28);
  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, &header->width, &header->height, &header->bit_depth, &header->colour_type,
               &interlace, nullptr, nullptr);
  const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  header->alpha = trns || (header->colour_type & PNG_COLOR_MASK_ALPHA) != 0;
  if (image == nullptr) return true;

  const int ct = header->colour_type;
  if (header->bit_depth == 16) {
    png_set_strip_16(png);
    png_set_swap(png);
  }
  if (header->bit_depth < 8) {
    png_set_packing(png);
    png_set_packswap(png);
  }
  if (ct == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (ct == PNG_COLOR_TYPE_GRAY && header->bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (trns) png_set_tRNS_to_alpha(png);
  if (ct == PNG_COLOR_TYPE_GRAY || ct == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if (header->alpha) png_set_invert_alpha(png);
  const int passes = png_set_interlace_handling(png);
  // Checked before libpng sizes its row buffers from the header.
  const std::uint32_t channels = header->alpha ? 4 : 3;
  if (!DimgSizeWithinCap(header->width, header->height, channels)) return false;
  png_read_update_info(png, info);
  if (png_get_channels(png, info) != channels || png_get_bit_depth(png, info) != 8 ||
      png_get_rowbytes(png, info) != static_cast<png_size_t>(header->width) * channels)
    return false;
  if (!image->CreateAligned(header->width, header->height,
                            header->alpha ? DimgFormat::RGBA8888 : DimgFormat::RGB888))
    return false;
  if (image->GetPitch() < header->width * channels) return false;
  for (int pass = 0; pass < passes; ++pass) {
    std::uint8_t* row = image->GetTopLine();
    for (png_uint_32 y = 0; y < header->height; ++y) {
      png_read_row(png, row, nullptr);
      row = image->NextLine(row);
    }
    image->Unlock();
  }
  png_read_end(png, nullptr);
  return true;
}

// Signature test, set-up and PngReadRun; the read structures are destroyed on every path.
bool PngRead(DFile& file, PngHeader* header, DImage* image) {
  PngSource source;
  if (!SignatureTest(file, &source)) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, DimgPngError, DimgPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  png_set_read_fn(png, &file, source.scrambled ? DimgKciRead : DimgPngRead);
  bool ok;
  try {
    ok = PngReadRun(png, info, source.consumed, header, image);
  } catch (...) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return ok;
}

// Encodes every row of image through the one-row buffer image row. Returns false after a libpng
// error.
bool PngWriteRun(png_structp png, png_infop info, const DImage& image, DImage& row, bool alpha) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, image.GetWidth(), image.GetHeight(), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < image.GetHeight(); ++y) {
    DimgBlt(row, image, 0, 0, image.GetWidth(), 1, 0, static_cast<std::int32_t>(y), image.GetWidth(), 1, 0,
            0);
    png_write_row(png, row.GetTopLine());
  }
  png_write_end(png, info);
  return true;
}

// Replaces the first 8 bytes of a finished file with the KCI signature and returns to its end.
bool WriteKciSignature(DFile& file) {
  const auto end = file.Tell();
  if (end < 0) return false;
  if (!file.Seek(1, 0)) return false;
  if (file.Write(kDimgKciScrambledSignature, 4) != 4 || file.Write(kDimgKciScrambledSignature + 4, 4) != 4) {
    file.Seek(1, end);
    return false;
  }
  return file.Seek(1, end);
}

bool WriteCore(DFile& file, const DImage& image, bool write_alpha, bool kci) {
  if (!file.Seek(1, 0)) return false;
  const bool alpha = write_alpha && DimgHasAlpha(image.GetFormat());
  DImage row;
  if (!row.Create(image.GetWidth(), 1, 0, alpha ? DimgFormat::RGBA8888 : DimgFormat::RGB888)) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, DimgPngError, DimgPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  png_set_write_fn(png, &file, kci ? DimgKciWrite : DimgPngWrite, DimgPngFlush);
  bool ok;
  try {
    ok = PngWriteRun(png, info, image, row, alpha);
  } catch (...) {
    png_destroy_write_struct(&png, &info);
    throw;
  }
  png_destroy_write_struct(&png, &info);
  return ok && (!kci || WriteKciSignature(file));
}

}  // namespace

bool DimgInfoPNG(std::uint32_t* width, std::uint32_t* height, std::int32_t* bit_count, DFile& file) {
  PngHeader header;
  if (!PngRead(file, &header, nullptr)) return false;
  *width = header.width;
  *height = header.height;
  *bit_count = header.alpha ? 32 : 24;
  return true;
}

bool DimgLoadPNG(DImage& image, DFile& file) {
  PngHeader header;
  return PngRead(file, &header, &image);
}

bool _DimgWritePNG(DFile& file, const DImage& image, bool write_alpha, bool kci) {
  try {
    return WriteCore(file, image, write_alpha, kci);
  } catch (const DExceptFile&) {
    return false;
  }
}

bool DimgWritePNG(DFile& file, const DImage& image, bool write_alpha) {
  if (_DimgWritePNG(file, image, write_alpha, false)) return true;
  dimg_detail::LogFileFailure("[DimgWritePNG] ", file, ": Write Error");
  return false;
}

bool DimgWriteKCI(DFile& file, const DImage& image, bool write_alpha) {
  if (_DimgWritePNG(file, image, write_alpha, true)) return true;
  dimg_detail::LogFileFailure("[DimgWriteKCI] ", file, ": Write Error");
  return false;
}

extern "C" void DimgPngRead(png_structp png, png_bytep data, png_size_t length) {
  auto& file = *static_cast<DFile*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = length <= 0x7fffffff &&
         file.Read(data, static_cast<std::uint32_t>(length)) == static_cast<std::int64_t>(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "can't read data");
}

extern "C" void DimgPngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto& file = *static_cast<DFile*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = length <= 0x7fffffff &&
         file.Write(data, static_cast<std::uint32_t>(length)) == static_cast<std::int64_t>(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "can't write data.");
}

extern "C" void DimgPngFlush(png_structp png) {
  auto& file = *static_cast<DFile*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = file.Flush();
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "can't flush data.");
}

extern "C" void DimgPngError(png_structp png, png_const_charp message) {
  dimg_detail::Log({"[Error] ", message != nullptr ? message : "", "\n"});
  png_longjmp(png, 1);
}

extern "C" void DimgPngWarning(png_structp, png_const_charp message) {
  dimg_detail::Log({"[Warning] ", message != nullptr ? message : "", "\n"});
}
