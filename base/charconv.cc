// Conversion between cp932 text and 16-bit character codes.
#include "base/charconv.h"

#include <cstring>

uint32_t DTextToCodes(uint16_t* codes, const DString& text, uint32_t limit) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.Text());
  uint32_t i = 0;
  uint32_t n = 0;
  while (i < limit && s[i] != 0) {
    const unsigned char c = s[i];
    if (DIsLeadByte(c)) {
      const unsigned char t = s[i + 1];
      codes[n++] = static_cast<uint16_t>(c << 8 | t);
      if (t == 0) break;  // a lone lead byte ends the text
      i += 2;
    } else {
      codes[n++] = c;
      i += 1;
    }
  }
  codes[n] = 0;
  return n;
}

uint32_t DTextToCodes(uint16_t* codes, const DString& text) {
  return DTextToCodes(codes, text, text.Length());
}

uint32_t DCodesToText(char* text, const uint16_t* codes, uint32_t limit) {
  uint32_t b = 0;
  for (uint32_t k = 0; k < limit && codes[k] != 0; ++k) {
    const uint16_t c = codes[k];
    if (c > 0xFF) {
      text[b++] = static_cast<char>(c >> 8);
      text[b++] = static_cast<char>(c & 0xFF);
    } else {
      text[b++] = static_cast<char>(c);
    }
  }
  text[b] = 0;
  return b + 1;
}

uint32_t DCodesToText(char* text, const uint16_t* codes) {
  return DCodesToText(text, codes, UINT32_MAX);
}

void DAppendText(char* buffer, const DString& text) {
  const char* src = text.Text();
  std::memcpy(buffer + std::strlen(buffer), src, std::strlen(src) + 1);
}
