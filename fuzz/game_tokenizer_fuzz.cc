// Fuzz target: the game's line tokenizer over arbitrary lines, terminators and buffer sizes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "game/tokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 1 << 16) return 0;
  const CharCode terminator = static_cast<CharCode>(data[0] << 8 | data[1]);
  const size_t name_capacity = data[2] % 40;
  const size_t value_capacity = data[3] % 40;
  // The line in a buffer of exactly its size, so any read past its NUL is caught.
  std::unique_ptr<char[]> line(new char[size - 4 + 1]);
  std::memcpy(line.get(), data + 4, size - 4);
  line[size - 4] = '\0';

  const char* cursor = line.get();
  bool end = false;
  char name[40], value[40];
  while (!end) {
    ReadOption(cursor, name_capacity ? name : nullptr, name_capacity, value,
               value_capacity ? value_capacity : 1, end, terminator);
    ToInt(value);
    ToFloat(value);
    if (name_capacity) DStrCompareNoCase(DString(name), DString(value));
  }
  cursor = line.get();
  end = false;
  while (!end) NextOption(cursor, name, sizeof(name), value, sizeof(value), end, terminator);
  char unquoted[64];
  UnquoteValue(unquoted, data[2] % sizeof(unquoted), line.get());
  ToInt(line.get());
  ToFloat(line.get());
  cursor = line.get();
  SkipWord(cursor);
  SkipBlanks(cursor);
  return 0;
}
