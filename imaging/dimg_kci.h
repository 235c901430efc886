// The KCI image container: a PNG chunk stream behind an 8-byte KCI signature, plain or scrambled.
//
// Layout (offsets from the file's first byte):
//   0  "KCI" 0x88, then 0x99 0xAA 0xBB 0xCC   plain: the chunk stream follows unchanged
//   0  "KCI" 0xCC, then 0xBB 0xAA 0x99 0x88   scrambled: the byte belonging at offset p is stored
//                                              as byte XOR (p mod 256), from offset 8 on
//   8  the PNG chunk stream (IHDR first, IEND last); the PNG signature itself is not stored.
// The scramble is its own inverse. The writer produces only scrambled files; the reader takes both.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>

inline constexpr std::uint8_t kDimgKciPlainSignature[8] = {'K', 'C', 'I', 0x88, 0x99, 0xAA, 0xBB, 0xCC};
inline constexpr std::uint8_t kDimgKciScrambledSignature[8] = {'K', 'C', 'I', 0xCC, 0xBB, 0xAA, 0x99, 0x88};

// XORs each byte i of bytes[0, n) with ((position + i) mod 256), position being the file offset
// of bytes[0]. Applying it twice restores the bytes.
void DimgKciScramble(std::uint8_t* bytes, std::size_t n, std::uint64_t position);

// libpng read hook of scrambled KCI files (I/O pointer: the DFile): reads and unscrambles by the
// file position. A failed position query or short read is a libpng error.
extern "C" void DimgKciRead(png_structp png, png_bytep data, png_size_t length);
// libpng write hook of scrambled KCI files: scrambles through a fixed 8192-byte buffer and writes.
extern "C" void DimgKciWrite(png_structp png, png_bytep data, png_size_t length);
