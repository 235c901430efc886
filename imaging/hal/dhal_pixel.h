// Per-element rules shared by the two HAL units: the one-pixel forms their runs end with, the
// block model of Copy and the blend-table builder.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace dhal {

inline std::uint16_t Load16(const void* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store16(void* p, std::uint16_t v) {
  std::memcpy(p, &v, 2);
}
inline std::uint32_t Load32(const void* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(void* p, std::uint32_t v) {
  std::memcpy(p, &v, 4);
}

inline constexpr std::uint16_t kWipeMapFlag = 0x8000;
inline constexpr std::uint16_t kLevelMask = 0x7FFF;

// Screen formats of the HAL: red and green shifts (blue 0).
inline constexpr std::uint32_t kArgb1555 = 4;
inline constexpr std::uint32_t kRgb565 = 6;
inline int RedShift(std::uint32_t format) {
  return format == kArgb1555 ? 10 : 11;
}
inline int GreenShift(std::uint32_t format) {
  return format == kArgb1555 ? 5 : 6;
}

inline std::uint32_t Clamp31(std::uint32_t w) {
  return w > 31 ? 31 : w;
}
// Weight of BlendMapLevel16: the source's opacity 31 - m scaled by (32 - level) / 32.
inline std::uint32_t LevelWeight(std::uint32_t m, std::uint32_t level) {
  return 31 - (((31 - Clamp31(m)) * (32 - Clamp31(level))) >> 5);
}

// The 15-bit channel layout (R 10-14, G 5-9, B 0-4) and back; RGB565 drops bit 5.
template <bool k565>
inline std::uint32_t To555(std::uint32_t p) {
  if constexpr (k565) {
    return ((p >> 1) & 0x7FE0u) | (p & 0x1Fu);
  } else {
    return p & 0x7FFFu;
  }
}
template <bool k565>
inline std::uint32_t From555(std::uint32_t p) {
  if constexpr (k565) {
    return ((p & 0x7FE0u) << 1) | (p & 0x1Fu);
  } else {
    return p;
  }
}

// Carries out of the three 5-bit fields of x + y (bits 4, 9, 14), each field added on its own.
inline std::uint32_t FieldCarries(std::uint32_t x, std::uint32_t y, std::uint32_t& sum) {
  const std::uint32_t low = (x & 0x3DEFu) + (y & 0x3DEFu);  // low 4 bits per field: no cross carry
  sum = (low ^ ((x ^ y) & 0x4210u)) & 0x7FFFu;
  return ((x & y) | ((x ^ y) & low)) & 0x4210u;
}
// 31 in every field whose carry bit is set.
inline std::uint32_t FieldMask(std::uint32_t carries) {
  return (carries << 1) - (carries >> 4);
}
// Saturating per-channel addition on the packed 15-bit layout.
inline std::uint32_t AddSat555(std::uint32_t d, std::uint32_t s) {
  std::uint32_t sum;
  const std::uint32_t m = FieldMask(FieldCarries(d, s, sum));
  return sum | m;
}
// Saturating per-channel subtraction: (NOT d) + s carries exactly where s exceeds d.
inline std::uint32_t SubSat555(std::uint32_t d, std::uint32_t s) {
  std::uint32_t sum;
  const std::uint32_t m = FieldMask(FieldCarries(~d & 0x7FFFu, s, sum));
  return (d | m) - (s | m);
}

template <bool k565>
inline std::uint16_t AddSatPixel(std::uint16_t d, std::uint16_t s) {
  const std::uint32_t r = From555<k565>(AddSat555(To555<k565>(d), To555<k565>(s)));
  if constexpr (k565) {
    return static_cast<std::uint16_t>(r);
  } else {
    return static_cast<std::uint16_t>(r | ((d ^ s) & 0x8000u));
  }
}
template <bool k565>
inline std::uint16_t SubSatPixel(std::uint16_t d, std::uint16_t s) {
  const std::uint32_t r = From555<k565>(SubSat555(To555<k565>(d), To555<k565>(s)));
  if constexpr (k565) {
    return static_cast<std::uint16_t>(r);
  } else {
    return static_cast<std::uint16_t>(r | ((d ^ s) & 0x8000u));
  }
}
template <bool k565>
inline std::uint16_t HalfPixel(std::uint16_t d, std::uint16_t s) {
  constexpr std::uint32_t kMask = k565 ? 0xF79Eu : 0x7BDEu;
  return static_cast<std::uint16_t>(((d & kMask) >> 1) + ((s & kMask) >> 1));
}

// One unit's blend tables, A and B, 32 x 65536 entries each.
struct BlendTables {
  std::unique_ptr<std::uint16_t[]> a, b;

  // Fills A and B for the format (allocating what is missing); false for a format but 4 and 6.
  bool Build(std::uint32_t format) {
    if (format != kArgb1555 && format != kRgb565) return false;
    const int rs = RedShift(format), gs = GreenShift(format);
    // Every entry is written below: no zero fill first.
    if (!a) a = std::make_unique_for_overwrite<std::uint16_t[]>(32u * 65536u);
    if (!b) b = std::make_unique_for_overwrite<std::uint16_t[]>(32u * 65536u);
    // An entry is the OR of one term per channel. The blue term depends on the low five bits
    // alone and the others not on them: each run of 32 entries is one red-green term ORed with
    // the same 32 blue terms.
    for (std::uint32_t w = 0; w < 32; ++w) {
      const std::uint32_t v = 31 - w;
      std::uint16_t blue_a[32], blue_b[32];
      for (std::uint32_t c = 0; c < 32; ++c) {
        blue_a[c] = static_cast<std::uint16_t>((w * (c + 1)) >> 5);
        blue_b[c] = static_cast<std::uint16_t>((v * (c + 1)) >> 5);
      }
      std::uint16_t* ra = a.get() + w * 65536u;
      std::uint16_t* rb = b.get() + w * 65536u;
      for (std::uint32_t p = 0; p < 65536; p += 32) {
        const std::uint32_t r = ((p >> rs) & 31) + 1, g = ((p >> gs) & 31) + 1;
        const auto high_a = static_cast<std::uint16_t>((((w * r) >> 5) << rs) | (((w * g) >> 5) << gs));
        const auto high_b = static_cast<std::uint16_t>((((v * r) >> 5) << rs) | (((v * g) >> 5) << gs));
        for (std::uint32_t c = 0; c < 32; ++c) {
          ra[p + c] = static_cast<std::uint16_t>(high_a | blue_a[c]);
          rb[p + c] = static_cast<std::uint16_t>(high_b | blue_b[c]);
        }
      }
    }
    return true;
  }
  void Free() {
    a.reset();
    b.reset();
  }
  std::uint16_t Blend(std::uint32_t w, std::uint16_t d, std::uint16_t s) const {
    return static_cast<std::uint16_t>(a[w * 65536u + d] + b[w * 65536u + s]);
  }
};

// A unit's blend tables, built on first use: the unit's Init only records the format, so a run
// that never blends 16-bit pixels never allocates nor writes their 8 MiB (most of the engine's
// start-up went there). Get may be called from any thread.
class LazyBlendTables {
 public:
  // Records the format to build for (dropping tables of another one); false, with nothing
  // recorded, for a format but 4 and 6.
  bool Prepare(std::uint32_t format) {
    if (format != kArgb1555 && format != kRgb565) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!prepared_.load(std::memory_order_relaxed) || format_ != format)
      ready_.store(false, std::memory_order_release);
    format_ = format;
    prepared_.store(true, std::memory_order_release);
    return true;
  }
  // Frees the tables; Get gives null until the next Prepare.
  void Free() {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.store(false, std::memory_order_release);
    prepared_.store(false, std::memory_order_release);
    tables_.Free();
  }
  // Between Prepare and Free.
  bool Prepared() const { return prepared_.load(std::memory_order_acquire); }
  // The tables, built by the first call after Prepare; null outside Prepare..Free, or when there
  // is no memory for them.
  const BlendTables* Get() {
    if (ready_.load(std::memory_order_acquire)) return &tables_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!prepared_.load(std::memory_order_relaxed)) return nullptr;
    if (!ready_.load(std::memory_order_relaxed)) {
      try {
        if (!tables_.Build(format_)) return nullptr;
      } catch (const std::bad_alloc&) {
        tables_.Free();
        return nullptr;
      }
      ready_.store(true, std::memory_order_release);
    }
    return &tables_;
  }

 private:
  std::mutex mutex_;
  std::atomic<bool> ready_{false};     // tables_ hold the tables of format_
  std::atomic<bool> prepared_{false};  // between Prepare and Free; format_ is set
  std::uint32_t format_ = kRgb565;
  BlendTables tables_;
};

// Copy as the block model: front to back, 8-byte blocks, then one 4-byte block, then bytes, each
// block read whole before it is written.
inline void CopyBlocks(void* dst, const void* src, std::uint32_t bytes) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (; bytes >= 8; bytes -= 8, d += 8, s += 8) {
    std::uint64_t t;
    std::memcpy(&t, s, 8);
    std::memcpy(d, &t, 8);
  }
  if (bytes >= 4) {
    Store32(d, Load32(s));
    d += 4, s += 4, bytes -= 4;
  }
  for (; bytes > 0; --bytes) *d++ = *s++;
}

// Distance dst - src in bytes, as a signed number (0 for unrelated or equal areas is never used
// to choose anything but the copy path).
inline std::intptr_t Distance(const void* dst, const void* src) {
  return static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(dst) -
                                    reinterpret_cast<std::uintptr_t>(src));
}

}  // namespace dhal
