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

#include "imaging/dimg_dib.h"
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
// Without plug-ins the file is not read at all; otherwise only its head is read for the claims,
// and the rest only once a plug-in claimed it. Files over 2^31 - 1 bytes (the plug-in interface
// counts in 32 bits) are refused before anything is read.
bool DimgLoadSusie(DImage& image, DFile& file);

// Library entries: DimgInitialize runs _DSusieInit and returns true; DimgTerminate runs _DSusieTerm.
bool DimgInitialize();
void DimgTerminate();
