// Susie-style image plug-ins: finding and loading *.spi modules, and decoding through them.
//
// A plug-in is a shared object named *.spi in the program's directory that exports
// GetPluginInfo, IsSupported, GetPictureInfo and GetPicture. It returns a decoded picture as two
// local-memory blocks (platform/localmem.h): a BITMAPINFO (header and colour table) and the pixel
// rows; the loader checks that description and converts it into a top-down BGR888 image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/localmem.h"

class DImage;
class DFile;

// The plug-in interface, as each *.spi exports it (C linkage, looked up by name).
extern "C" {
// Fills buffer with the text of information number info_number; nonzero on success.
using DSusieGetPluginInfoFn = int (*)(int info_number, char* buffer, int buffer_length);
// Nonzero when the plug-in can decode the file; head holds at least 4096 of its first bytes.
using DSusieIsSupportedFn = int (*)(const char* name, void* head);
// Picture information without decoding; looked up but never called.
using DSusieGetPictureInfoFn = int (*)(const char* data, long length, unsigned int flag, void* info);
// Progress callback of GetPicture (the engine passes none).
using DSusieProgressFn = int (*)(int done, int total, long user);
// Decodes data (flag 1: in memory) into two LocalAlloc blocks; 0 on success.
using DSusieGetPictureFn = int (*)(const char* data, long length, unsigned int flag, HLOCAL* info,
                                   HLOCAL* bits, DSusieProgressFn progress, long user);
}

// Loads every plug-in beside the program into the plug-in list, logging one line per candidate.
// A plug-in already in the list (same path) is not loaded again.
void _DSusieInit();
// Loads the plug-ins of one directory (host path), tried later in case-insensitive name order.
// The same as _DSusieInit with another directory; tests use it.
void _DSusieInitDirectory(const std::string& directory);
// Frees every plug-in and empties the list.
void _DSusieTerm();
// Number of plug-ins in the list.
std::size_t DSusiePluginCount();

// Hands the file to the first plug-in that claims it (by its first bytes, then by the bytes
// from offset 128) and fills image as BGR888 with top-down rows. False when no plug-in claims the
// file, the claiming plug-in fails (no other is tried), or its picture description is unusable.
bool DimgLoadSusie(DImage& image, DFile& file);

// Library entries: DimgInitialize runs _DSusieInit and returns true; DimgTerminate runs _DSusieTerm.
bool DimgInitialize();
void DimgTerminate();

// A device-independent bitmap as described by a BITMAPINFO block, checked for use.
struct DimgDibLayout {
  std::int32_t width = 0;                 // pixels per row, above 0
  std::uint32_t rows = 0;                 // absolute height, above 0
  bool bottom_up = false;                 // rows stored bottom row first (positive height)
  std::uint32_t bit_count = 0;            // 1, 4, 8, 16, 24 or 32
  std::uint32_t masks[3] = {0, 0, 0};     // red, green, blue masks of 16- and 32-bit pixels
  const std::uint8_t* palette = nullptr;  // B, G, R, reserved entries (bit counts up to 8)
  std::uint32_t palette_count = 0;        // entries available; indices beyond read as black
  std::size_t row_bytes = 0;              // bytes per stored row, padded to 4
};

// Checks a BITMAPINFO block of info_size bytes: header size 40 to info_size, width above 0,
// height not 0 (nor INT32_MIN), bit count 1/4/8/16/24/32, BI_RGB or BI_BITFIELDS (16/32 bits),
// masks and palette inside the block, and the 24-bit result under the image size cap.
// Fills layout and returns true when the block is usable.
bool DimgParseDibInfo(const std::uint8_t* info, std::size_t info_size, DimgDibLayout* layout);

// Converts the stored rows (bits_size bytes; rows beyond them read as zero) into top-down B, G, R
// rows of width * 3 bytes at dst, dst_pitch bytes apart; padding bytes of dst are zeroed.
void DimgDibToBgr888(const DimgDibLayout& layout, const std::uint8_t* bits, std::size_t bits_size,
                     std::uint8_t* dst, std::size_t dst_pitch);
