// JPEG loader through libjpeg: a data source over DFile and an error exit that never throws.
#pragma once

#include <cstdint>

class DImage;
class DFile;

// Output width and height of a JPEG file (bit count always 24), read from position 0 through the
// start of decompression. False when libjpeg refuses the file.
bool DimgInfoJPEG(std::uint32_t* width, std::uint32_t* height, std::int32_t* bit_count, DFile& file);
// Decodes a JPEG file from position 0 into image (created here) as RGB888, grey files with
// R = G = B. A file cut short loads with the decoder's fill after an inserted end-of-image code.
// False for a file libjpeg refuses (CMYK and YCCK included) or a failed read.
bool DimgLoadJPEG(DImage& image, DFile& file);
