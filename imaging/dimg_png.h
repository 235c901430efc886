// PNG and KCI codec through libpng: the probe, the loader and the writers.
//
// The loader makes RGB888, or RGBA8888 when the file has an alpha channel or a tRNS chunk; its
// alpha bytes are stored inverted (255 - file alpha: an opaque pixel has alpha 0), and callers
// invert them again. The writers store the image's colour and alpha bytes as they are.
#pragma once

#include <png.h>

#include <cstdint>

class DImage;
class DFile;

// Width, height and bit count (32 with an alpha channel or tRNS chunk, else 24) of a PNG or KCI
// file, from its header chunks only. False when the file is neither, or its header is damaged.
bool DimgInfoPNG(std::uint32_t* width, std::uint32_t* height, std::int32_t* bit_count, DFile& file);
// Decodes a PNG or KCI file into image (created here). False when the file is neither or cannot be
// decoded; a failure after the image was created leaves the rows decoded so far.
bool DimgLoadPNG(DImage& image, DFile& file);
// Writes image as an 8-bit RGB or RGBA PNG (RGBA only when write_alpha is set and the image's
// format has alpha), or as a scrambled KCI file. Leaves the position at the end of the data.
bool _DimgWritePNG(DFile& file, const DImage& image, bool write_alpha, bool kci);
// _DimgWritePNG as PNG / as KCI; on failure logs "[DimgWritePNG] \"<name>\": Write Error" (or
// "[DimgWriteKCI] ...").
bool DimgWritePNG(DFile& file, const DImage& image, bool write_alpha);
bool DimgWriteKCI(DFile& file, const DImage& image, bool write_alpha);

// libpng hooks over a DFile (the I/O pointer). Read and write failures are libpng errors.
extern "C" void DimgPngRead(png_structp png, png_bytep data, png_size_t length);
extern "C" void DimgPngWrite(png_structp png, png_bytep data, png_size_t length);
extern "C" void DimgPngFlush(png_structp png);
// Error hook: logs "[Error] <message>" and leaves through libpng's longjmp; never returns.
extern "C" void DimgPngError(png_structp png, png_const_charp message);
// Warning hook: logs "[Warning] <message>" and lets the read or write go on.
extern "C" void DimgPngWarning(png_structp png, png_const_charp message);
