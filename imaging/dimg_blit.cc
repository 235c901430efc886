// The blitter: every cell of the five operations generated from one pair/loop/kernel template and
// a per-pixel rule; cells that do the same byte operation map to one instantiation.
#include "imaging/dimg_blit.h"

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define ORVANE_BLIT_AVX2 1
#endif

#include "imaging/dimage.h"
#include "imaging/dimg_blit_pixel.h"
#include "imaging/dimg_clip.h"

namespace {

#if defined(ORVANE_BLIT_AVX2)
// The processor has AVX2 and the system saves the YMM registers. Asked on the first blit that
// could use it, not at start-up.
bool CpuHasAvx2() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
  unsigned lo, hi;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 6) != 6) return false;  // XMM and YMM state
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_AVX2) != 0;
}
#endif

using dimg_pixel::Layout;
using dimg_pixel::Load16;
using dimg_pixel::Store16;

// What a cell does with one pixel.
enum Kind : int {
  kCopy,        // colour and alpha converted (the copy/convert blit)
  kColor,       // colour converted, destination alpha kept
  kColorAlpha,  // colour converted, alpha from the blit's alpha byte
  kAlpha,       // source alpha into destination alpha, colour kept
  kGreen,       // source green into destination alpha, colour kept
  kNone,        // nothing is written
};

// Operations in dispatcher order.
enum Op : int { kOpBlt, kOpColor, kOpColorAlpha, kOpAlpha, kOpGreen, kOpCount };

constexpr bool IsByteFormat(int f) {
  return f <= 3;
}
constexpr bool IsBgrOrder(int f) {
  return f == 2 || f == 3;
}
constexpr int Flip(int f) {
  return f == 0 ? 2 : f == 1 ? 3 : f == 2 ? 0 : f == 3 ? 1 : f;
}
constexpr bool HasAlpha(int f) {
  return DimgHasAlpha(static_cast<DimgFormat>(f));
}
constexpr int BytesOf(int f) {
  return static_cast<int>(DimgBytesPerPixel(static_cast<DimgFormat>(f)));
}

constexpr int Key(int kind, int d, int s) {
  return kind * 64 + d * 8 + s;
}

// The canonical cell of (operation, destination format, source format): two cells with the same
// key do the same byte operation on pixels of the same sizes.
constexpr int CanonicalKey(int op, int d, int s) {
  if (op != kOpBlt && !HasAlpha(d)) {
    if (op == kOpAlpha || op == kOpGreen) return Key(kNone, 0, 0);
    op = kOpBlt;  // colour into a destination without alpha is the plain copy
  }
  // Between two byte formats, swapping the channel order on both sides is the same byte operation.
  if (IsByteFormat(d) && IsByteFormat(s) && IsBgrOrder(d)) d = Flip(d), s = Flip(s);
  switch (op) {
    case kOpBlt:
      if (d == s && d != 7) {  // plain copy of the pixel's bytes
        const int canonical = BytesOf(d) == 4 ? 0 : BytesOf(d) == 3 ? 1 : 4;
        return Key(kCopy, canonical, canonical);
      }
      return Key(kCopy, d, s);
    case kOpColor:
      return Key(kColor, d, s);
    case kOpColorAlpha:
      return Key(kColorAlpha, d, s);
    case kOpAlpha:
      if (s == 2) s = 0;                      // alpha byte 3 in both orders
      if (s == 1 || s == 3 || s == 7) s = 1;  // 3-byte sources without alpha: not read
      return Key(kAlpha, d, s);
    default:
      if (s == 2) s = 0;  // green byte 1 in all byte orders
      if (s == 3) s = 1;
      return Key(kGreen, d, s);
  }
}

// Per-pixel rule of one cell.
template <int kKind, DimgFormat D, DimgFormat S>
struct Rule {
  static void Apply(std::uint8_t* d, const std::uint8_t* s, std::uint8_t a) {
    if constexpr (kKind == kCopy && D == S && D != DimgFormat::YCRCB888) {
      std::uint8_t t[Layout<S>::kBytes];  // whole pixel read before it is written
      std::memcpy(t, s, sizeof t);
      std::memcpy(d, t, sizeof t);
    } else if constexpr (kKind == kCopy && D == DimgFormat::ARGB4444 && S == DimgFormat::ARGB1555) {
      // The direct move keeps the alpha bit in place: nibble 8, not 15.
      const std::uint32_t w = Load16(s);
      Store16(d, (w & 0x8000u) | (((w >> 11) & 0x0Fu) << 8) | (((w >> 6) & 0x0Fu) << 4) | ((w >> 1) & 0x0Fu));
    } else if constexpr (kKind == kCopy) {
      Layout<D>::Write(d, Layout<S>::Read(s));
    } else if constexpr (kKind == kColor) {
      Layout<D>::WriteColor(d, Layout<S>::Read(s));
    } else if constexpr (kKind == kColorAlpha) {
      DimgRgba c = Layout<S>::Read(s);
      c.a = a;
      Layout<D>::Write(d, c);
    } else if constexpr (kKind == kAlpha) {
      Layout<D>::WriteAlpha(d, Layout<S>::Read(s).a);
    } else {
      static_assert(kKind == kGreen);
      Layout<D>::WriteAlpha(d, Layout<S>::Read(s).g);
    }
  }
};

// Word formulas of the copy-convert cells from a byte format into a 16-bit format: the same
// bits as unpacking into a colour record and packing it, written so the compiler vectorises the
// row loop.
template <DimgFormat D, DimgFormat S>
struct Pack16 {
  static constexpr bool kApplies =
      IsByteFormat(static_cast<int>(S)) &&
      (D == DimgFormat::ARGB1555 || D == DimgFormat::ARGB4444 || D == DimgFormat::RGB565);

  // The source pixel as one word, channel k in byte k of the pixel (3-byte pixels read bytewise).
  static std::uint32_t Load(const std::uint8_t* p) {
    if constexpr (Layout<S>::kBytes == 4) {
      return dimg_pixel::Load32(p);
    } else {
      return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | 0xFF000000u;
    }
  }
  static std::uint32_t Convert(std::uint32_t v) {
    constexpr bool kBgr = S == DimgFormat::BGRA8888 || S == DimgFormat::BGR888;
    constexpr int kR = kBgr ? 16 : 0, kB = kBgr ? 0 : 16;
    const std::uint32_t r = (v >> kR) & 0xFF, g = (v >> 8) & 0xFF, b = (v >> kB) & 0xFF, a = v >> 24;
    if constexpr (D == DimgFormat::RGB565) {
      return (r >> 3) << 11 | (g >> 3) << 6 | (b >> 3);
    } else if constexpr (D == DimgFormat::ARGB1555) {
      return (a & 0x80) << 8 | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
    } else {
      return (a & 0xF0) << 8 | (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4);
    }
  }
#if defined(__SSE2__)
  // Bits [top - k, top) of each 32-bit lane moved to bits [to - k, to), the rest cleared.
  template <int kTop, int kTo, int kK>
  static __m128i Field(__m128i v) {
    const __m128i mask = _mm_set1_epi32(static_cast<int>(((1u << kK) - 1) << (kTo - kK)));
    if constexpr (kTop >= kTo) {
      return _mm_and_si128(_mm_srli_epi32(v, kTop - kTo), mask);
    } else {
      return _mm_and_si128(_mm_slli_epi32(v, kTo - kTop), mask);
    }
  }
  // Convert on four pixels at once, each result in the high half of its lane.
  static __m128i Convert4High(__m128i v) {
    constexpr bool kBgr = S == DimgFormat::BGRA8888 || S == DimgFormat::BGR888;
    constexpr int kRTop = kBgr ? 24 : 8, kGTop = 16, kBTop = kBgr ? 8 : 24, kATop = 32;
    if constexpr (D == DimgFormat::RGB565) {
      return _mm_or_si128(_mm_or_si128(Field<kRTop, 32, 5>(v), Field<kGTop, 27, 5>(v)),
                          Field<kBTop, 21, 5>(v));
    } else if constexpr (D == DimgFormat::ARGB1555) {
      return _mm_or_si128(_mm_or_si128(Field<kATop, 32, 1>(v), Field<kRTop, 31, 5>(v)),
                          _mm_or_si128(Field<kGTop, 26, 5>(v), Field<kBTop, 21, 5>(v)));
    } else {
      return _mm_or_si128(_mm_or_si128(Field<kATop, 32, 4>(v), Field<kRTop, 28, 4>(v)),
                          _mm_or_si128(Field<kGTop, 24, 4>(v), Field<kBTop, 20, 4>(v)));
    }
  }
  // Four 3-byte pixels from the 16 bytes at p (all readable): pixel k's bytes in lane k, under an
  // alpha byte of 0xFF, as Load gives them.
  static __m128i Load4Of3(const std::uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i p01 = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
    const __m128i p23 = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
    return _mm_or_si128(_mm_unpacklo_epi64(p01, p23), _mm_set1_epi32(static_cast<int>(0xFF000000u)));
  }
  // Eight pixels: two groups of four packed into eight 16-bit words (the results moved down with
  // their sign, so the saturating pack keeps every bit).
  static void Store8(std::uint8_t* d, __m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(Convert4High(lo), 16);
    hi = _mm_srai_epi32(Convert4High(hi), 16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packs_epi32(lo, hi));
  }
#endif

#if defined(ORVANE_BLIT_AVX2)
  // The same on eight pixels of a 256-bit vector, for processors that have AVX2.
  template <int kTop, int kTo, int kK>
  [[gnu::target("avx2")]] static __m256i Field8(__m256i v) {
    const __m256i mask = _mm256_set1_epi32(static_cast<int>(((1u << kK) - 1) << (kTo - kK)));
    if constexpr (kTop >= kTo) {
      return _mm256_and_si256(_mm256_srli_epi32(v, kTop - kTo), mask);
    } else {
      return _mm256_and_si256(_mm256_slli_epi32(v, kTo - kTop), mask);
    }
  }
  [[gnu::target("avx2")]] static __m256i Convert8High(__m256i v) {
    constexpr bool kBgr = S == DimgFormat::BGRA8888 || S == DimgFormat::BGR888;
    constexpr int kRTop = kBgr ? 24 : 8, kGTop = 16, kBTop = kBgr ? 8 : 24, kATop = 32;
    if constexpr (D == DimgFormat::RGB565) {
      return _mm256_or_si256(_mm256_or_si256(Field8<kRTop, 32, 5>(v), Field8<kGTop, 27, 5>(v)),
                             Field8<kBTop, 21, 5>(v));
    } else if constexpr (D == DimgFormat::ARGB1555) {
      return _mm256_or_si256(_mm256_or_si256(Field8<kATop, 32, 1>(v), Field8<kRTop, 31, 5>(v)),
                             _mm256_or_si256(Field8<kGTop, 26, 5>(v), Field8<kBTop, 21, 5>(v)));
    } else {
      return _mm256_or_si256(_mm256_or_si256(Field8<kATop, 32, 4>(v), Field8<kRTop, 28, 4>(v)),
                             _mm256_or_si256(Field8<kGTop, 24, 4>(v), Field8<kBTop, 20, 4>(v)));
    }
  }
  // Eight 3-byte pixels from the 16 bytes at p and the 16 at p + 12 (all readable): four in each
  // half, under an alpha byte of 0xFF, as Load gives them.
  [[gnu::target("avx2")]] static __m256i Load8Of3(const std::uint8_t* p) {
    const __m256i pick = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1,
                                          3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i both =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    return _mm256_or_si256(_mm256_shuffle_epi8(both, pick), _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  }
  // Sixteen pixels at a time from x on; gives the first pixel not written.
  [[gnu::target("avx2")]] static std::uint32_t RowAvx2(std::uint8_t* __restrict d,
                                                       const std::uint8_t* __restrict s, std::uint32_t w) {
    std::uint32_t x = 0;
    // 4-byte pixels: 64 bytes from pixel x. 3-byte ones: the last load ends 52 bytes past pixel x,
    // inside the row while x + 18 <= w.
    constexpr std::uint32_t kNeed = Layout<S>::kBytes == 4 ? 16 : 18;
    for (; x + kNeed <= w; x += 16) {
      __m256i lo, hi;
      if constexpr (Layout<S>::kBytes == 4) {
        lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * std::size_t{x}));
        hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * std::size_t{x} + 32));
      } else {
        lo = Load8Of3(s + 3 * std::size_t{x});
        hi = Load8Of3(s + 3 * std::size_t{x} + 24);
      }
      // The pack works within 128-bit halves: put the four 64-bit quarters back in pixel order.
      const __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(Convert8High(lo), 16),
                                                _mm256_srai_epi32(Convert8High(hi), 16));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 2 * std::size_t{x}),
                          _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return x;
  }
#endif

  // w pixels of one row; the rows must not overlap.
  static void Row(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, std::uint32_t w) {
    std::uint32_t x = 0;
#if defined(ORVANE_BLIT_AVX2)
    static const bool avx2 = CpuHasAvx2();
    if (avx2) x = RowAvx2(d, s, w);
#endif
#if defined(__SSE2__)
    if constexpr (Layout<S>::kBytes == 4) {
      for (; x + 8 <= w; x += 8) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * std::size_t{x}));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * std::size_t{x} + 16));
        Store8(d + 2 * std::size_t{x}, lo, hi);
      }
    } else {
      // The second group's load ends 28 bytes past pixel x: inside the row while x + 10 <= w.
      for (; x + 10 <= w; x += 8) {
        const std::uint8_t* p = s + 3 * std::size_t{x};
        Store8(d + 2 * std::size_t{x}, Load4Of3(p), Load4Of3(p + 12));
      }
    }
#endif
    for (; x < w; ++x) Store16(d + 2 * std::size_t{x}, Convert(Load(s + Layout<S>::kBytes * std::size_t{x})));
  }
  // dw pixels from the source columns `cols` (pixel indexes); the rows must not overlap.
  static void RowAt(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, const std::uint32_t* cols,
                    std::uint32_t dw) {
    std::uint32_t j = 0;
#if defined(__SSE2__)
    const auto at = [&](std::uint32_t k) {
      return static_cast<int>(Load(s + Layout<S>::kBytes * std::size_t{cols[k]}));
    };
    for (; j + 8 <= dw; j += 8) {
      Store8(d + 2 * std::size_t{j}, _mm_setr_epi32(at(j), at(j + 1), at(j + 2), at(j + 3)),
             _mm_setr_epi32(at(j + 4), at(j + 5), at(j + 6), at(j + 7)));
    }
#endif
    for (; j < dw; ++j)
      Store16(d + 2 * std::size_t{j}, Convert(Load(s + Layout<S>::kBytes * std::size_t{cols[j]})));
  }
};

// True when the byte ranges [a, a + na) and [b, b + nb) share no byte.
inline bool Apart(const std::uint8_t* a, std::size_t na, const std::uint8_t* b, std::size_t nb) {
  return a + na <= b || b + nb <= a;
}

// One cell: pair function, same-size and stretched loops, block and row kernels.
template <int kKey>
struct Cell {
  static constexpr int kKind = kKey / 64;
  static constexpr DimgFormat D = static_cast<DimgFormat>(kKey / 8 % 8);
  static constexpr DimgFormat S = static_cast<DimgFormat>(kKey % 8);
  static constexpr std::ptrdiff_t kDB = Layout<D>::kBytes;
  static constexpr std::ptrdiff_t kSB = Layout<S>::kBytes;
  using R = Rule<kKind, D, S>;

  // Every pixel of a w x h rectangle, rows advanced through each image's own NextLine.
  static void Block(std::uint8_t* d, const DImage& di, const std::uint8_t* s, const DImage& si,
                    std::uint32_t w, std::uint32_t h, std::uint8_t a) {
    for (std::uint32_t y = 0;;) {
      std::uint8_t* dp = d;
      const std::uint8_t* sp = s;
      if constexpr (kKind == kCopy && Pack16<D, S>::kApplies) {
        if (Apart(d, kDB * std::size_t{w}, s, kSB * std::size_t{w})) {
          Pack16<D, S>::Row(d, s, w);
        } else {
          for (std::uint32_t x = 0; x < w; ++x, dp += kDB, sp += kSB) R::Apply(dp, sp, a);
        }
      } else {
        for (std::uint32_t x = 0; x < w; ++x, dp += kDB, sp += kSB) R::Apply(dp, sp, a);
      }
      if (++y == h) break;
      d = di.NextLine(d);
      s = si.NextLine(s);
    }
  }

  // One destination row of dw pixels from a source row of sw pixels, nearest neighbour: the
  // source index is i * sw / dw rounded, exact halves down, never past sw - 1.
  static void Row(std::uint8_t* d, const std::uint8_t* s, std::uint32_t dw, std::uint32_t sw,
                  std::uint8_t a) {
    std::int64_t e = 2 * std::int64_t{sw} - dw;
    std::uint32_t c = 0;
    for (std::uint32_t j = 0; j < dw; ++j, d += kDB) {
      R::Apply(d, s + std::ptrdiff_t{c} * kSB, a);
      while (e > 0) {
        if (c < sw - 1) ++c;
        e -= 2 * std::int64_t{dw};
      }
      e += 2 * std::int64_t{sw};
    }
  }

  static void LoopSame(std::uint8_t* dtop, DImage& di, std::int32_t dx, std::int32_t dy,
                       const std::uint8_t* stop, const DImage& si, std::int32_t sx, std::int32_t sy,
                       std::uint32_t w, std::uint32_t h, std::uint8_t a) {
    const std::uint32_t sh_img = si.GetHeight(), sw_img = si.GetWidth();
    const std::uint32_t dh_img = di.GetHeight(), dw_img = di.GetWidth();
    DimgClipBoth(dx, dy, sx, sy, w, h, dw_img, dh_img, sw_img, sh_img);
    if (w == 0 || h == 0) return;
    if (!DimgRectInside(dx, dy, w, h, dw_img, dh_img) || !DimgRectInside(sx, sy, w, h, sw_img, sh_img))
      return;
    std::uint8_t* d = di.OffsetLine(dtop, dy) + std::ptrdiff_t{dx} * kDB;
    const std::uint8_t* s = si.OffsetLine(stop, sy) + std::ptrdiff_t{sx} * kSB;
    Block(d, di, s, si, w, h, a);
  }

  static void LoopStretch(std::uint8_t* d, const DImage& di, std::uint32_t dw, std::uint32_t dh,
                          const std::uint8_t* s, const DImage& si, std::uint32_t sw, std::uint32_t sh,
                          std::uint8_t a) {
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return;
    // The source column of each destination column, found once for every row.
    std::vector<std::uint32_t> cols;
    if constexpr (kKind == kCopy && Pack16<D, S>::kApplies) {
      cols.resize(dw);
      std::int64_t ce = 2 * std::int64_t{sw} - dw;
      std::uint32_t c = 0;
      for (std::uint32_t j = 0; j < dw; ++j) {
        cols[j] = c;
        while (ce > 0) {
          if (c < sw - 1) ++c;
          ce -= 2 * std::int64_t{dw};
        }
        ce += 2 * std::int64_t{sw};
      }
    }
    std::int64_t e = 2 * std::int64_t{sh} - dh;
    std::uint32_t r = 0;
    for (std::uint32_t i = 0; i < dh; ++i) {
      std::uint8_t* drow = di.OffsetLine(d, static_cast<std::int32_t>(i));
      const std::uint8_t* srow = si.OffsetLine(s, static_cast<std::int32_t>(r));
      if constexpr (kKind == kCopy && Pack16<D, S>::kApplies) {
        if (Apart(drow, kDB * std::size_t{dw}, srow, kSB * std::size_t{sw})) {
          Pack16<D, S>::RowAt(drow, srow, cols.data(), dw);
        } else {
          Row(drow, srow, dw, sw, a);
        }
      } else {
        Row(drow, srow, dw, sw, a);
      }
      while (e > 0) {
        if (r < sh - 1) ++r;
        e -= 2 * std::int64_t{dh};
      }
      e += 2 * std::int64_t{sh};
    }
  }

  static void Pair(std::uint8_t* dtop, DImage& di, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                   std::uint32_t dh, const std::uint8_t* stop, const DImage& si, std::int32_t sx,
                   std::int32_t sy, std::uint32_t sw, std::uint32_t sh, std::uint8_t a,
                   std::uint8_t /*trailing*/) {
    const std::uint32_t sh_img = si.GetHeight(), sw_img = si.GetWidth();
    const std::uint32_t dh_img = di.GetHeight(), dw_img = di.GetWidth();
    DimgClipStretch(dx, dy, dw, dh, sx, sy, sw, sh, dw_img, dh_img, sw_img, sh_img);
    if (dw == sw && dh == sh) {
      LoopSame(dtop, di, dx, dy, stop, si, sx, sy, sw, sh, a);
      return;
    }
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return;
    // Both rectangles must lie inside their images before any row is touched.
    if (!DimgRectInside(dx, dy, dw, dh, dw_img, dh_img) || !DimgRectInside(sx, sy, sw, sh, sw_img, sh_img))
      return;
    std::uint8_t* d = di.OffsetLine(dtop, dy) + std::ptrdiff_t{dx} * kDB;
    const std::uint8_t* s = si.OffsetLine(stop, sy) + std::ptrdiff_t{sx} * kSB;
    LoopStretch(d, di, dw, dh, s, si, sw, sh, a);
  }
};

using PairFn = void (*)(std::uint8_t*, DImage&, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t,
                        const std::uint8_t*, const DImage&, std::int32_t, std::int32_t, std::uint32_t,
                        std::uint32_t, std::uint8_t, std::uint8_t);

// Cells that change nothing.
void PairNone(std::uint8_t*, DImage&, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t,
              const std::uint8_t*, const DImage&, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t,
              std::uint8_t, std::uint8_t) {}

template <int kKey>
constexpr PairFn PairOf() {
  if constexpr (kKey / 64 == kNone) {
    return &PairNone;
  } else {
    return &Cell<kKey>::Pair;
  }
}

template <int kOp, std::size_t... I>
constexpr std::array<PairFn, 64> MakeTable(std::index_sequence<I...>) {
  return {{PairOf<CanonicalKey(kOp, static_cast<int>(I / 8), static_cast<int>(I % 8))>()...}};
}

// The five dispatch tables, indexed by destination format * 8 + source format.
constexpr std::array<std::array<PairFn, 64>, kOpCount> kTables = {
    MakeTable<kOpBlt>(std::make_index_sequence<64>()),
    MakeTable<kOpColor>(std::make_index_sequence<64>()),
    MakeTable<kOpColorAlpha>(std::make_index_sequence<64>()),
    MakeTable<kOpAlpha>(std::make_index_sequence<64>()),
    MakeTable<kOpGreen>(std::make_index_sequence<64>()),
};

void Dispatch(int op, DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
              std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
              std::uint8_t a, std::uint8_t trailing) {
  const DimgFormat df = dst.GetFormat();
  if (!DimgIsFormat(df)) return;
  const DimgFormat sf = src.GetFormat();
  if (!DimgIsFormat(sf)) return;
  std::uint8_t* dtop = dst.GetTopLine();
  const std::uint8_t* stop = src.GetTopLine();
  if (dtop != nullptr && stop != nullptr) {
    const auto cell = static_cast<std::uint32_t>(df) * 8 + static_cast<std::uint32_t>(sf);
    kTables[op][cell](dtop, dst, dx, dy, dw, dh, stop, src, sx, sy, sw, sh, a, trailing);
  }
  src.Unlock();
  dst.Unlock();
}

}  // namespace

void DimgBlt(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
             std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
             std::uint8_t alpha, std::uint8_t trailing) {
  Dispatch(kOpBlt, dst, src, dx, dy, dw, dh, sx, sy, sw, sh, alpha, trailing);
}

void DimgBltColor(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                  std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
                  std::uint8_t alpha, std::uint8_t trailing) {
  Dispatch(kOpColor, dst, src, dx, dy, dw, dh, sx, sy, sw, sh, alpha, trailing);
}

void DimgBltColorAlpha(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                       std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
                       std::uint8_t alpha, std::uint8_t trailing) {
  Dispatch(kOpColorAlpha, dst, src, dx, dy, dw, dh, sx, sy, sw, sh, alpha, trailing);
}

void DimgBltAlpha(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                  std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
                  std::uint8_t alpha, std::uint8_t trailing) {
  Dispatch(kOpAlpha, dst, src, dx, dy, dw, dh, sx, sy, sw, sh, alpha, trailing);
}

void DimgBltGreenToAlpha(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                         std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw,
                         std::uint32_t sh, std::uint8_t alpha, std::uint8_t trailing) {
  Dispatch(kOpGreen, dst, src, dx, dy, dw, dh, sx, sy, sw, sh, alpha, trailing);
}

void DimgBltUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t w,
                     std::uint32_t h, std::int32_t sx, std::int32_t sy, std::uint8_t alpha) {
  DimgBlt(dst, src, dx, dy, w, h, sx, sy, w, h, alpha, 0);
}

void DimgBltColorUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t w,
                          std::uint32_t h, std::int32_t sx, std::int32_t sy, std::uint8_t alpha) {
  DimgBltColor(dst, src, dx, dy, w, h, sx, sy, w, h, alpha, 0);
}

void DimgBltColorAlphaUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy,
                               std::uint32_t w, std::uint32_t h, std::int32_t sx, std::int32_t sy,
                               std::uint8_t alpha) {
  DimgBltColorAlpha(dst, src, dx, dy, w, h, sx, sy, w, h, alpha, 0);
}

void DimgBltAlphaUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t w,
                          std::uint32_t h, std::int32_t sx, std::int32_t sy, std::uint8_t alpha) {
  DimgBltAlpha(dst, src, dx, dy, w, h, sx, sy, w, h, alpha, 0);
}

void DimgStretchBlt16(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                      std::uint32_t dh, const std::uint8_t* src_top, const DImage& src, std::int32_t sx,
                      std::int32_t sy, std::uint32_t sw, std::uint32_t sh, std::uint8_t alpha) {
  if (dst_top == nullptr || src_top == nullptr) return;
  Cell<Key(kCopy, 4, 4)>::Pair(dst_top, dst, dx, dy, dw, dh, src_top, src, sx, sy, sw, sh, alpha, 0);
}
