// The line tokenizer every game file reader and the command interpreter share: cp932 characters,
// blanks, name=value tokens with quotes and escapes, and number conversions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dstring.h"

// A character code: a double-byte character is lead << 8 | trail; 0 is the end of the line.
using CharCode = uint16_t;

// A line ends at a zero byte, a carriage return or a line feed. Returns the next character and
// advances by 1 or 2; at the end returns 0 and leaves the cursor. A lead byte with no trail byte
// before the end is returned alone, so nothing past the end is read.
CharCode ReadChar(const char*& cursor);
// Appends a code (two bytes, high first, for codes above 0xFF) while it fits with room for the
// terminator: length + 2 < capacity, or length + 1 < capacity for one byte. Writes no NUL.
void PutChar(char* buffer, size_t capacity, size_t& length, CharCode code);
// True for the blanks: space, tab and the full-width space.
constexpr bool IsBlank(CharCode c) {
  return c == 0x20 || c == 0x09 || c == 0x8140;
}
// Advances over blanks.
void SkipBlanks(const char*& cursor);
// Advances over characters up to the next blank or the end.
void SkipWord(const char*& cursor);

// One token as ScanOption finds it, as spans of the line (null and 0 when absent).
struct TokenSpan {
  const char* name = nullptr;
  size_t name_length = 0;
  const char* value = nullptr;
  size_t value_length = 0;
};
// Finds the next token: a name, optionally followed by "=" and a raw value (quotes and escapes
// still in it). Sets `end` when the token ended at the end of the line or at the terminator
// (terminator 0: none); once `end` is set nothing more is read.
TokenSpan ScanOption(const char*& cursor, bool& end, CharCode terminator);
// Copies a raw value without its quotes and backslash escapes, cut to capacity - 1 bytes and
// terminated. Destination and source may be the same buffer.
void UnquoteValue(char* destination, size_t capacity, const char* source);
// ScanOption, then copies the raw name and value into the buffers (each cut to capacity - 1 and
// terminated; a null buffer or capacity 0 is skipped; a missing part gives "").
void NextOption(const char*& cursor, char* name, size_t name_capacity, char* value, size_t value_capacity,
                bool& end, CharCode terminator);
// NextOption, then UnquoteValue of the value buffer in place.
void ReadOption(const char*& cursor, char* name, size_t name_capacity, char* value, size_t value_capacity,
                bool& end, CharCode terminator);

// Decimal integer: white space, an optional sign, digits up to the first other character; 0
// without digits; values beyond the 32-bit range are clamped.
int32_t ToInt(const char* text);
// Decimal floating-point number from the first 32 bytes of the text: white space, an optional
// sign, digits with an optional fraction and exponent; 0 when there is no number. Infinity, NaN
// and hexadecimal forms are not numbers here; values beyond the float range are clamped.
float ToFloat(const char* text);

// Copies the text cut to capacity - 1 bytes and terminated; nothing for capacity 0.
void DStrCopyTo(const DString& text, char* buffer, size_t capacity);
// Copies the text cut to capacity - 1 bytes and terminated, moving the cut back before a
// double-byte character that would be split; nothing for capacity 0.
void DStrCopyToCharBoundary(const char* text, char* buffer, size_t capacity);
// 0 when the first count bytes are equal ignoring ASCII letter case (double-byte characters
// exactly; a text that ends earlier equals only one that ends at the same place), else 1.
int DStrCompareNoCaseN(const DString& a, const DString& b, uint32_t count);
// 1 when the lengths differ, else DStrCompareNoCaseN over the whole length.
int DStrCompareNoCase(const DString& a, const DString& b);
