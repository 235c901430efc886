// cp932 (Shift-JIS) text: the lead-byte test and the conversions to and from UTF-8, one of each
// for the whole platform layer.
#pragma once

#include <string>
#include <string_view>

#define ORVANE_CP932_API __attribute__((visibility("default")))

namespace orvane::cp932 {

// True for the first byte of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// cp932 to UTF-8. A byte sequence that is not cp932 makes it false, or with lossy becomes one
// '?' per byte.
ORVANE_CP932_API bool ToUtf8(std::string_view cp932, std::string* utf8, bool lossy = false);
// UTF-8 to cp932. Bytes that are not UTF-8 and characters that cp932 lacks make it false, or
// with lossy become one '?' each (a whole sequence for a character, one byte for a bad byte).
ORVANE_CP932_API bool FromUtf8(std::string_view utf8, std::string* cp932, bool lossy = false);

// The length of the UTF-8 sequence starting at text[0] (1-4), or 0 when it is not a valid one.
ORVANE_CP932_API size_t Utf8SequenceLength(std::string_view text);

}  // namespace orvane::cp932
