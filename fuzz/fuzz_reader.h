// Reads a fuzz input front to back: bytes and plain values, zeros once the input is used up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz_support {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t U8() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  template <class T>
  T Get() {
    T v{};
    size_t k = n < sizeof(T) ? n : sizeof(T);
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
  }
};

}  // namespace fuzz_support
