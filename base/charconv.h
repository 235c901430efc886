// Conversion between cp932 text and arrays of 16-bit character codes, one code per character.
#pragma once

#include <cstdint>

#include "base/dstring.h"

// A single-byte character's code is its byte; a double-byte character's code is lead × 256 +
// trail. Code arrays end with a 0 code. The output buffers are the caller's: a code buffer needs
// one code per character plus the 0 code; a text buffer two bytes per code above 255, one per
// other code, plus the NUL.

// Converts the characters that start below byte `limit` (stopping at the NUL) into `codes` and
// writes the 0 code; returns the number of codes. A character whose lead byte is the last byte
// before the limit is converted whole; a lead byte directly before the NUL gives lead × 256.
uint32_t DTextToCodes(uint16_t* codes, const DString& text, uint32_t limit);
// The whole text.
uint32_t DTextToCodes(uint16_t* codes, const DString& text);

// Writes the codes below index `limit` (stopping at a 0 code) as text and a NUL; returns the bytes
// written including the NUL.
uint32_t DCodesToText(char* text, const uint16_t* codes, uint32_t limit);
// Every code before the 0 code.
uint32_t DCodesToText(char* text, const uint16_t* codes);

// Copies the text, NUL included, behind the NUL of `buffer` (callers check that it fits).
void DAppendText(char* buffer, const DString& text);
