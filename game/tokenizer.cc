// The line tokenizer: characters, blanks, tokens, unquoting and number conversions.
#include "game/tokenizer.h"

#include <cfloat>
#include <cstdlib>
#include <cstring>

namespace {

bool IsLineEnd(char c) {
  return c == '\0' || c == '\r' || c == '\n';
}

// The next character without moving the cursor.
CharCode PeekChar(const char* cursor) {
  return ReadChar(cursor);
}

void CopyCut(char* buffer, size_t capacity, const char* text, size_t length) {
  if (!buffer || capacity == 0) return;
  if (length > capacity - 1) length = capacity - 1;
  if (length) std::memmove(buffer, text, length);
  buffer[length] = '\0';
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

CharCode ReadChar(const char*& cursor) {
  unsigned char c = static_cast<unsigned char>(*cursor);
  if (IsLineEnd(static_cast<char>(c))) return 0;
  if (DIsLeadByte(c) && !IsLineEnd(cursor[1])) {
    CharCode code = static_cast<CharCode>(c << 8 | static_cast<unsigned char>(cursor[1]));
    cursor += 2;
    return code;
  }
  ++cursor;
  return c;
}

void PutChar(char* buffer, size_t capacity, size_t& length, CharCode code) {
  if (code > 0xFF) {
    if (length + 2 < capacity) {
      buffer[length++] = static_cast<char>(code >> 8);
      buffer[length++] = static_cast<char>(code & 0xFF);
    }
  } else if (length + 1 < capacity) {
    buffer[length++] = static_cast<char>(code);
  }
}

void SkipBlanks(const char*& cursor) {
  const char* next = cursor;
  while (IsBlank(ReadChar(next))) cursor = next;
}

void SkipWord(const char*& cursor) {
  const char* next = cursor;
  for (;;) {
    CharCode c = ReadChar(next);
    if (c == 0 || IsBlank(c)) return;
    cursor = next;
  }
}

TokenSpan ScanOption(const char*& cursor, bool& end, CharCode terminator) {
  TokenSpan token;
  if (end) return token;
  SkipBlanks(cursor);
  token.name = cursor;
  for (;;) {
    const char* before = cursor;
    CharCode c = ReadChar(cursor);
    if (c == 0) {
      end = true;
      token.name_length = static_cast<size_t>(cursor - token.name);
      return token;
    }
    if (IsBlank(c)) {
      token.name_length = static_cast<size_t>(before - token.name);
      break;
    }
    if (terminator != 0 && c == terminator) {
      end = true;
      token.name_length = static_cast<size_t>(before - token.name);
      return token;
    }
    if (c == '=') {
      cursor = before;
      token.name_length = static_cast<size_t>(before - token.name);
      break;
    }
  }
  SkipBlanks(cursor);
  if (PeekChar(cursor) != '=') return token;
  ReadChar(cursor);
  SkipBlanks(cursor);
  token.value = cursor;
  bool quoted = false;
  for (;;) {
    const char* before = cursor;
    CharCode c = ReadChar(cursor);
    if (c == 0) {
      end = true;
      token.value_length = static_cast<size_t>(before - token.value);
      return token;
    }
    if (c == '\\') {
      ReadChar(cursor);  // the escaped character, whatever it is (nothing at the end)
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted) continue;
    if (IsBlank(c)) {
      token.value_length = static_cast<size_t>(before - token.value);
      return token;
    }
    if (terminator != 0 && c == terminator) {
      end = true;
      token.value_length = static_cast<size_t>(before - token.value);
      return token;
    }
  }
}

void UnquoteValue(char* destination, size_t capacity, const char* source) {
  if (!destination || capacity == 0) return;
  size_t length = 0;
  const char* cursor = source;
  for (;;) {
    CharCode c = ReadChar(cursor);
    if (c == 0) break;
    if (c == '\\') {
      c = ReadChar(cursor);
      if (c == 0) break;
    } else if (c == '"') {
      continue;
    }
    PutChar(destination, capacity, length, c);
  }
  destination[length] = '\0';
}

void NextOption(const char*& cursor, char* name, size_t name_capacity, char* value, size_t value_capacity,
                bool& end, CharCode terminator) {
  TokenSpan token = ScanOption(cursor, end, terminator);
  CopyCut(name, name_capacity, token.name ? token.name : "", token.name_length);
  CopyCut(value, value_capacity, token.value ? token.value : "", token.value_length);
}

void ReadOption(const char*& cursor, char* name, size_t name_capacity, char* value, size_t value_capacity,
                bool& end, CharCode terminator) {
  NextOption(cursor, name, name_capacity, value, value_capacity, end, terminator);
  UnquoteValue(value, value_capacity, value);
}

int32_t ToInt(const char* text) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  while (IsDigit(*p)) {
    value = value * 10 + (*p++ - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

float ToFloat(const char* text) {
  char piece[33];
  size_t n = 0;
  while (n < 32 && text[n]) {
    piece[n] = text[n];
    ++n;
  }
  piece[n] = '\0';
  // Find the longest prefix of the grammar; strtod then reads exactly that prefix.
  const char* p = piece;
  while (IsSpace(*p)) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  bool digits = false;
  while (IsDigit(*p)) ++p, digits = true;
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) ++p, digits = true;
  }
  if (!digits) return 0.0f;
  if (*p == 'e' || *p == 'E') {
    const char* e = p + 1;
    if (*e == '+' || *e == '-') ++e;
    if (IsDigit(*e)) {
      while (IsDigit(*e)) ++e;
      p = e;
    }
  }
  char number[33];
  size_t length = static_cast<size_t>(p - start);
  std::memcpy(number, start, length);
  number[length] = '\0';
  double value = std::strtod(number, nullptr);
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(value);
}

void DStrCopyTo(const DString& text, char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return;
  CopyCut(buffer, capacity, text.Text(), text.Length());
}

void DStrCopyToCharBoundary(const char* text, char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return;
  if (!text) text = "";
  size_t length = 0;
  while (text[length]) {
    size_t width = DIsLeadByte(text[length]) && text[length + 1] ? 2 : 1;
    if (length + width > capacity - 1) break;
    length += width;
  }
  CopyCut(buffer, capacity, text, length);
}

int DStrCompareNoCaseN(const DString& a, const DString& b, uint32_t count) {
  return DString::CompareNoCaseN(a, b, count);
}

int DStrCompareNoCase(const DString& a, const DString& b) {
  return DString::CompareNoCase(a, b);
}
