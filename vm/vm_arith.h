// Integer arithmetic of the script machine: 32-bit wrapping, truncating division that never traps.
#pragma once

#include <cstdint>

inline int32_t VmIntMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t VmIntAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t VmIntSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t VmIntNeg(int32_t a) {
  return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
}
// x / 0 = 0 and INT32_MIN / -1 = INT32_MIN instead of a trap.
inline int32_t VmIntDiv(int32_t a, int32_t b) {
  if (b == 0) return 0;
  if (b == -1) return VmIntNeg(a);
  return a / b;
}
// x % 0 = 0 and x % -1 = 0; otherwise the sign of the dividend.
inline int32_t VmIntMod(int32_t a, int32_t b) {
  if (b == 0 || b == -1) return 0;
  return a % b;
}
// Shift counts are taken mod 32; >> fills with zeros.
inline int32_t VmIntShl(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) << (static_cast<uint32_t>(b) & 31));
}
inline int32_t VmIntShr(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) >> (static_cast<uint32_t>(b) & 31));
}
