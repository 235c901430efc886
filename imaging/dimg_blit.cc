// The blitter: every cell of the five operations generated from one pair/loop/kernel template and
// a per-pixel rule; cells that do the same byte operation map to one instantiation.
#include "imaging/dimg_blit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define ORVANE_BLIT_X86 1
#endif

#include "imaging/dimage.h"
#include "imaging/dimg_blit_pixel.h"
#include "imaging/dimg_clip.h"

namespace {

constexpr int kVecSse2 = static_cast<int>(DimgBlitVector::kSse2);
constexpr int kVecAvx2 = static_cast<int>(DimgBlitVector::kAvx2);
constexpr int kVecAvx512 = static_cast<int>(DimgBlitVector::kAvx512);

// The widest vector set of this processor and system. AVX2 needs the YMM state saved by the
// system, AVX-512 (F, BW and VL) the opmask and ZMM states too.
int DetectVector() {
#if defined(ORVANE_BLIT_X86)
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return kVecSse2;
  unsigned lo, hi;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 6) != 6) return kVecSse2;  // XMM and YMM state
  if (__get_cpuid_max(0, nullptr) < 7) return kVecSse2;
  __cpuid_count(7, 0, a, b, c, d);
  if ((b & bit_AVX2) == 0) return kVecSse2;
  constexpr unsigned kAvx512 = bit_AVX512F | bit_AVX512BW | bit_AVX512VL;
  if ((b & kAvx512) == kAvx512 && (lo & 0xE6) == 0xE6) return kVecAvx512;
  return kVecAvx2;
#elif defined(__SSE2__)
  return kVecSse2;
#else
  return static_cast<int>(DimgBlitVector::kNone);
#endif
}

int SupportedVector() {
  static const int supported = DetectVector();  // asked on the first blit that could use it
  return supported;
}

std::atomic<int> g_vector_cap{kVecAvx512};

// The set the rows use now.
int VectorLevel() {
  return std::min(SupportedVector(), g_vector_cap.load(std::memory_order_relaxed));
}

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

// ---- Word formulas of the copy-convert cells between byte formats and 16-bit formats ----
// Each is the same bits as unpacking into a colour record and packing it, written as moves of
// channel fields inside 32-bit lanes so that one formula serves the plain path and the SSE2,
// AVX2 and AVX-512 rows.

// One channel: bits [top - k, top) of the lane go to bits [to - k, to).
struct Move {
  int top, to, k;
};

constexpr std::uint32_t MoveMask(Move m) {
  return ((1u << m.k) - 1) << (m.to - m.k);
}

template <Move kM>
std::uint32_t Field1(std::uint32_t v) {
  if constexpr (kM.top >= kM.to) {
    return (v >> (kM.top - kM.to)) & MoveMask(kM);
  } else {
    return (v << (kM.to - kM.top)) & MoveMask(kM);
  }
}

// Moves as multiplications, for moves that each take the top bits of one source byte: the word
// masked to the moved fields, each byte times 2^c[byte] with the two bytes of each 16-bit half
// summed, the two halves times 2^e[half] summed into the lane, the lane shifted down by `down`.
// Every product lands on bits no other field uses, so the sums are ORs that never carry or
// saturate (halves below 2^15 after the first step, lanes below 2^31 after the second). Moves
// that no such factors fit (two fields of one half further apart in the result than 6 bits
// plus their distance in the source) are listed in `by_shift` and made with shifts.
struct MulPlan {
  int down = 0;
  std::uint32_t mask = 0;
  std::uint32_t byte_factors = 0;  // 2^c of byte k in byte k (0 for a byte no move reads)
  std::uint32_t word_factors = 0;  // 2^e of half k in half k
  std::uint32_t by_shift = 0;      // bit i set: move i is made with a shift, a mask and an OR
};

// The factors for the moves whose bit is set in `chosen`, if any fit.
template <std::size_t N>
constexpr bool FitMul(const std::array<Move, N>& moves, std::uint32_t chosen, MulPlan& plan) {
  // A field of byte j at bits [8 - k, 8) of the byte ends at bit 8 + c of its half and at
  // bit 8 + c + e of the lane; it has to end at bit to + down there.
  for (int down = 0; down < 16; ++down) {
    for (int e0 = 0; e0 <= 14; ++e0) {
      for (int e1 = 0; e1 <= 14; ++e1) {
        MulPlan p{down, 0, 0, 0, 0};
        bool fits = true;
        for (std::size_t i = 0; i < N && fits; ++i) {
          const Move& m = moves[i];
          if (((chosen >> i) & 1) == 0) {
            p.by_shift |= 1u << i;
            continue;
          }
          const int byte = m.top / 8 - 1;
          const int e = byte < 2 ? e0 : e1;
          const int c = m.to - 8 + down - e;
          fits = m.top % 8 == 0 && m.top >= 8 && m.top <= 32 && m.k >= 1 && m.k <= 8 && m.to <= 16 &&
                 c >= 0 && c <= 6;
          if (!fits) break;
          p.mask |= ((1u << m.k) - 1) << (m.top - m.k);
          p.byte_factors |= (1u << c) << (8 * byte);
          p.word_factors |= (1u << e) << (byte < 2 ? 0 : 16);
        }
        if (fits) {
          plan = p;
          return true;
        }
      }
    }
  }
  return false;
}

// The plan that leaves the fewest moves to shifts.
template <std::size_t N>
constexpr MulPlan PlanMul(const std::array<Move, N>& moves) {
  MulPlan best{0, 0, 0, 0, (1u << N) - 1};
  int best_count = 0;
  for (std::uint32_t chosen = 1; chosen < (1u << N); ++chosen) {
    int count = 0;
    for (std::uint32_t b = chosen; b != 0; b &= b - 1) ++count;
    MulPlan plan;
    if (count > best_count && FitMul(moves, chosen, plan)) {
      best = plan;
      best_count = count;
    }
  }
  return best;
}

// Moves for processors without a byte multiply-add: the result is built `down` bits up in its lane
// as the OR of a multiply-add, the fields already in place and one term per other field. A word multiply-add
// takes the word masked to its fields and sums the low 16-bit half times 2^e0 and the high half times 2^e1,
// which moves each field of the low half up by e0 and each field of the high half down by 16 - e1 (the
// factors are signed words, so e <= 14, and a field must not reach bit 15 of its half, which would read as a
// sign). Fields already in place need only a mask; every other field is made with a shift, a mask and an OR.
// The plan with the fewest operations wins, counting the shift that brings the result to the high half of the
// lane before the signed pack.
struct WordPlan {
  int down = 16;
  std::uint32_t mul_mask = 0;      // fields the multiply-add moves
  std::uint32_t word_factors = 0;  // 2^e0 in the low half, 2^e1 in the high half
  std::uint32_t keep_mask = 0;     // fields already in place
  std::uint32_t by_shift = 0;      // bit i set: move i is made with a shift, a mask and an OR
  int ops = 1 << 20;
};

template <std::size_t N>
constexpr WordPlan PlanWord(const std::array<Move, N>& moves) {
  WordPlan best;
  for (int down = 0; down <= 16; ++down) {
    for (int e0 = 0; e0 <= 14; ++e0) {
      for (int e1 = 0; e1 <= 14; ++e1) {
        WordPlan p;
        p.down = down;
        int shifted = 0;
        bool lo = false, hi = false;  // the multiply-add reads the low / high half
        for (std::size_t i = 0; i < N; ++i) {
          const Move& m = moves[i];
          const int from = m.top - m.k;           // lowest source bit
          const int shift = m.to + down - m.top;  // how far the field moves up
          const std::uint32_t field = ((1u << m.k) - 1) << from;
          if (m.top <= 15 && shift == e0) {
            p.mul_mask |= field;
            lo = true;
          } else if (from >= 16 && m.top <= 31 && shift == e1 - 16) {
            p.mul_mask |= field;
            hi = true;
          } else if (shift == 0) {
            p.keep_mask |= field;
          } else {
            p.by_shift |= 1u << i;
            ++shifted;
          }
        }
        p.word_factors = (lo ? 1u << e0 : 0) | (hi ? (1u << e1) << 16 : 0);
        const int terms = (p.mul_mask != 0) + (p.keep_mask != 0) + shifted;
        p.ops = 2 * (p.mul_mask != 0) + (p.keep_mask != 0) + 2 * shifted + (terms - 1) + (down < 16) + 1;
        if (p.ops < best.ops) best = p;
      }
    }
  }
  return best;
}

#if defined(__SSE2__)
template <Move kM>
__m128i Field4(__m128i v) {
  const __m128i mask = _mm_set1_epi32(static_cast<int>(MoveMask(kM)));
  if constexpr (kM.top >= kM.to) {
    return _mm_and_si128(_mm_srli_epi32(v, kM.top - kM.to), mask);
  } else {
    return _mm_and_si128(_mm_slli_epi32(v, kM.to - kM.top), mask);
  }
}
#endif

#if defined(ORVANE_BLIT_X86)
// GCC's AVX-512 intrinsics start some results from a self-initialised "undefined" vector, which
// its own uninitialised-use check then reports.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

template <Move kM>
[[gnu::target("avx2")]] __m256i Field8(__m256i v) {
  const __m256i mask = _mm256_set1_epi32(static_cast<int>(MoveMask(kM)));
  if constexpr (kM.top >= kM.to) {
    return _mm256_and_si256(_mm256_srli_epi32(v, kM.top - kM.to), mask);
  } else {
    return _mm256_and_si256(_mm256_slli_epi32(v, kM.to - kM.top), mask);
  }
}

// The field ORed into acc: one shift and one ternary-logic operation.
template <Move kM>
[[gnu::target("avx512f,avx512bw,avx512vl")]] __m512i FieldOr16(__m512i v, __m512i acc) {
  const __m512i mask = _mm512_set1_epi32(static_cast<int>(MoveMask(kM)));
  __m512i moved;
  if constexpr (kM.top >= kM.to) {
    moved = _mm512_srli_epi32(v, kM.top - kM.to);
  } else {
    moved = _mm512_slli_epi32(v, kM.to - kM.top);
  }
  return _mm512_ternarylogic_epi32(moved, mask, acc, 0xEA);  // (moved & mask) | acc
}

// Lane masks of the first n of 16 lanes (n <= 16) and of the first n bytes (n < 64).
inline __mmask16 FirstLanes(std::uint32_t n) {
  return static_cast<__mmask16>((1u << n) - 1);
}
inline __mmask64 FirstBytes(std::uint32_t n) {
  return (std::uint64_t{1} << n) - 1;
}
#endif

// Byte format into a 16-bit format.
template <DimgFormat D, DimgFormat S>
struct Pack16 {
  static constexpr bool kApplies =
      IsByteFormat(static_cast<int>(S)) &&
      (D == DimgFormat::ARGB1555 || D == DimgFormat::ARGB4444 || D == DimgFormat::RGB565);
  static constexpr bool kBgr = S == DimgFormat::BGRA8888 || S == DimgFormat::BGR888;
  static constexpr int kR = kBgr ? 24 : 8, kG = 16, kB = kBgr ? 8 : 24, kA = 32;
  // Channel moves from the source word (channel k in byte k) to the 16-bit result, the result
  // kUp bits up in its lane.
  template <int kUp>
  static constexpr auto kMoves = [] {
    if constexpr (D == DimgFormat::RGB565) {
      return std::array<Move, 3>{{{kR, 16 + kUp, 5}, {kG, 11 + kUp, 5}, {kB, 5 + kUp, 5}}};
    } else if constexpr (D == DimgFormat::ARGB1555) {
      return std::array<Move, 4>{{{kA, 16 + kUp, 1}, {kR, 15 + kUp, 5}, {kG, 10 + kUp, 5}, {kB, 5 + kUp, 5}}};
    } else {
      return std::array<Move, 4>{{{kA, 16 + kUp, 4}, {kR, 12 + kUp, 4}, {kG, 8 + kUp, 4}, {kB, 4 + kUp, 4}}};
    }
  }();
  using Seq = std::make_index_sequence<kMoves<0>.size()>;

  // The source pixel as one word, channel k in byte k of the pixel (3-byte pixels read bytewise).
  static std::uint32_t Load(const std::uint8_t* p) {
    if constexpr (Layout<S>::kBytes == 4) {
      return dimg_pixel::Load32(p);
    } else {
      return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | 0xFF000000u;
    }
  }
  template <std::size_t... I>
  static std::uint32_t Convert(std::uint32_t v, std::index_sequence<I...>) {
    return (Field1<kMoves<0>[I]>(v) | ...);
  }
  static std::uint32_t Convert(std::uint32_t v) { return Convert(v, Seq()); }

#if defined(__SSE2__)
  static constexpr WordPlan kWord = PlanWord(kMoves<0>);
  // Four pixels, each result sign-extended from the high half of its lane into the low half.
  template <std::size_t... I>
  static __m128i Convert4(__m128i v, std::index_sequence<I...>) {
    __m128i acc = _mm_setzero_si128();
    if constexpr (kWord.mul_mask != 0) {
      const __m128i fields = _mm_and_si128(v, _mm_set1_epi32(static_cast<int>(kWord.mul_mask)));
      acc = _mm_madd_epi16(fields, _mm_set1_epi32(static_cast<int>(kWord.word_factors)));
    }
    if constexpr (kWord.keep_mask != 0) {
      acc = _mm_or_si128(acc, _mm_and_si128(v, _mm_set1_epi32(static_cast<int>(kWord.keep_mask))));
    }
    ((acc = (kWord.by_shift >> I & 1) != 0 ? _mm_or_si128(acc, Field4<kMoves<kWord.down>[I]>(v)) : acc), ...);
    if constexpr (kWord.down < 16) acc = _mm_slli_epi32(acc, 16 - kWord.down);
    return _mm_srai_epi32(acc, 16);
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
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_packs_epi32(Convert4(lo, Seq()), Convert4(hi, Seq())));
  }
#endif

#if defined(ORVANE_BLIT_X86)
  static constexpr MulPlan kMul = PlanMul(kMoves<0>);
  // Eight pixels, each result in the low half of its lane, the high half clear: four operations
  // for all the fields the multiplications place, a shift, a mask and an OR for each other one.
  template <std::size_t... I>
  [[gnu::target("avx2")]] static __m256i Convert8(__m256i v, std::index_sequence<I...>) {
    const __m256i fields = _mm256_and_si256(v, _mm256_set1_epi32(static_cast<int>(kMul.mask)));
    const __m256i words =
        _mm256_maddubs_epi16(fields, _mm256_set1_epi32(static_cast<int>(kMul.byte_factors)));
    const __m256i lanes = _mm256_madd_epi16(words, _mm256_set1_epi32(static_cast<int>(kMul.word_factors)));
    __m256i acc = _mm256_srli_epi32(lanes, kMul.down);
    ((acc = (kMul.by_shift >> I & 1) != 0 ? _mm256_or_si256(acc, Field8<kMoves<0>[I]>(v)) : acc), ...);
    return acc;
  }
  // Eight 3-byte pixels, four from the 16 bytes at a into the low half and four from the 16 at b
  // into the high half (all readable), under an alpha byte of 0xFF as Load gives them (0 for
  // RGB565, which reads no alpha).
  [[gnu::target("avx2")]] static __m256i Load8Of3(const std::uint8_t* a, const std::uint8_t* b) {
    const __m256i pick = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1,
                                          3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i both =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
    const __m256i pixels = _mm256_shuffle_epi8(both, pick);
    if constexpr (D == DimgFormat::RGB565) return pixels;  // no alpha is read
    return _mm256_or_si256(pixels, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  }
  // Eight 3-byte pixels from the 32 bytes at p - 4 (all readable), in order, as Load8Of3 gives
  // them: one load instead of two.
  [[gnu::target("avx2")]] static __m256i Load8Of3After4(const std::uint8_t* p) {
    const __m256i pick = _mm256_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1, 0, 1, 2,
                                          -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i pixels =
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 4)), pick);
    if constexpr (D == DimgFormat::RGB565) return pixels;  // no alpha is read
    return _mm256_or_si256(pixels, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  }
  // Sixteen pixels from s to d; 3-byte pixels read 18 pixels' bytes, and with kAfter4 the 4 bytes
  // before s too. The pack interleaves the 128-bit halves of its inputs (four pixels each); the
  // pixels are put back in order after it, or loaded in the order it puts back.
  template <bool kAfter4>
  [[gnu::target("avx2")]] static void Block16(std::uint8_t* d, const std::uint8_t* s) {
    __m256i packed;
    if constexpr (Layout<S>::kBytes == 4) {
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
      packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(Convert8(lo, Seq()), Convert8(hi, Seq())), 0xD8);
    } else if constexpr (kAfter4) {
      packed = _mm256_permute4x64_epi64(
          _mm256_packus_epi32(Convert8(Load8Of3After4(s), Seq()), Convert8(Load8Of3After4(s + 24), Seq())),
          0xD8);
    } else {
      packed = _mm256_packus_epi32(Convert8(Load8Of3(s, s + 24), Seq()),
                                   Convert8(Load8Of3(s + 12, s + 36), Seq()));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), packed);
  }
  // The row in groups of sixteen pixels, two a turn, when it has enough of them; gives the first
  // pixel not written. The last group ends at the row's end (3-byte pixels: 2 before it) and may
  // overlap the one before, which writes the same values (the rows do not overlap each other).
  // The groups of 3-byte pixels in between (from pixel 16 on) load from 4 bytes before them.
  [[gnu::target("avx2")]] static std::uint32_t RowAvx2(std::uint8_t* __restrict d,
                                                       const std::uint8_t* __restrict s, std::uint32_t w) {
    constexpr std::uint32_t kB = Layout<S>::kBytes;
    // A group reads 64 bytes from its first pixel (4-byte pixels) or 52 (3-byte: inside 18 pixels).
    constexpr std::uint32_t kNeed = kB == 4 ? 16 : 18;
    if (w < kNeed) return 0;
    const std::uint32_t last = w - kNeed;  // the last group's first pixel
    std::uint32_t x = 0;
    if constexpr (kB == 3) {
      Block16<false>(d, s);
      x = 16;
    }
    for (; x + 16 <= last; x += 32) {
      Block16<true>(d + 2 * std::size_t{x}, s + kB * std::size_t{x});
      Block16<true>(d + 2 * std::size_t{x} + 32, s + kB * std::size_t{x} + 16 * kB);
    }
    if (x <= last) {
      Block16<true>(d + 2 * std::size_t{x}, s + kB * std::size_t{x});
      x += 16;
    }
    if (x < last + 16) Block16<false>(d + 2 * std::size_t{last}, s + kB * std::size_t{last});
    return last + 16;
  }

  // Sixteen pixels, each result in the low half of its lane.
  template <std::size_t... I>
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static __m512i Convert16(__m512i v,
                                                                        std::index_sequence<I...>) {
    __m512i acc = _mm512_setzero_si512();
    ((acc = FieldOr16<kMoves<0>[I]>(v, acc)), ...);
    return acc;
  }
  // Sixteen 3-byte pixels in the low 48 bytes of v: pixel k in lane k as Load gives it (alpha 0
  // for RGB565, which reads no alpha).
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static __m512i Spread3(__m512i v) {
    // 128-bit lane k takes source bytes 12k to 12k + 11, then each pixel its own 32 bits.
    const __m512i spread =
        _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0), v);
    const __m512i pick =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    const __m512i pixels = _mm512_shuffle_epi8(spread, pick);
    if constexpr (D == DimgFormat::RGB565) return pixels;  // no alpha is read
    return _mm512_or_si512(pixels, _mm512_set1_epi32(static_cast<int>(0xFF000000u)));
  }
  // n pixels (1 to 16) from p; nothing past them is read.
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static __m512i Load16(const std::uint8_t* p, std::uint32_t n) {
    if constexpr (Layout<S>::kBytes == 4) {
      return _mm512_maskz_loadu_epi32(FirstLanes(n), p);
    } else {
      return Spread3(_mm512_maskz_loadu_epi8(FirstBytes(3 * n), p));
    }
  }
  // Sixteen pixels from the 64 bytes at p (all readable).
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static __m512i Load16Whole(const std::uint8_t* p) {
    __m512i v = _mm512_loadu_si512(p);
    __asm__("" : "+v"(v));  // one load, not one per channel move
    if constexpr (Layout<S>::kBytes == 4) {
      return v;
    } else {
      return Spread3(v);
    }
  }
  // The whole row, sixteen pixels at a time, the last groups masked: no byte outside the row is
  // read or written.
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static void RowAvx512(std::uint8_t* __restrict d,
                                                                     const std::uint8_t* __restrict s,
                                                                     std::uint32_t w) {
    std::uint32_t x = 0;
    if constexpr (Layout<S>::kBytes == 4) {
      // Up to 15 pixels first, so that the loads of the loop stay inside one cache line each.
      const std::uint32_t head =
          std::min<std::uint32_t>(w, (64 - reinterpret_cast<std::uintptr_t>(s) % 64) % 64 / 4);
      if (head != 0) {
        const __m512i v = Convert16(Load16(s, head), Seq());
        _mm256_mask_storeu_epi16(d, FirstLanes(head), _mm512_cvtepi32_epi16(v));
        x = head;
      }
    }
    // 3-byte pixels: the 64-byte load ends 16 bytes past the group, inside the row while
    // x + 22 <= w.
    constexpr std::uint32_t kNeed = Layout<S>::kBytes == 4 ? 16 : 22;
    for (; x + kNeed <= w; x += 16) {
      const __m512i v = Convert16(Load16Whole(s + Layout<S>::kBytes * std::size_t{x}), Seq());
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 2 * std::size_t{x}), _mm512_cvtepi32_epi16(v));
    }
    for (; x < w; x += 16) {
      const std::uint32_t n = std::min<std::uint32_t>(16, w - x);
      const __m512i v = Convert16(Load16(s + Layout<S>::kBytes * std::size_t{x}, n), Seq());
      _mm256_mask_storeu_epi16(d + 2 * std::size_t{x}, FirstLanes(n), _mm512_cvtepi32_epi16(v));
    }
  }
#endif

  // w pixels of one row; the rows must not overlap.
  static void Row(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, std::uint32_t w) {
    std::uint32_t x = 0;
    [[maybe_unused]] const int level = VectorLevel();
#if defined(ORVANE_BLIT_X86)
    if (level >= kVecAvx512) return RowAvx512(d, s, w);
    if (level >= kVecAvx2) x = RowAvx2(d, s, w);
#endif
#if defined(__SSE2__)
    if (level >= kVecSse2) {
      if constexpr (Layout<S>::kBytes == 4) {
        for (; x + 16 <= w; x += 16) {
          const std::uint8_t* p = s + 4 * std::size_t{x};
          Store8(d + 2 * std::size_t{x}, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
          Store8(d + 2 * std::size_t{x} + 16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
        }
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
    }
#endif
    for (; x < w; ++x) Store16(d + 2 * std::size_t{x}, Convert(Load(s + Layout<S>::kBytes * std::size_t{x})));
  }
  // dw pixels from the source columns `cols` (pixel indexes); the rows must not overlap.
  static void RowAt(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, const std::uint32_t* cols,
                    std::uint32_t dw) {
    std::uint32_t j = 0;
#if defined(__SSE2__)
    if (VectorLevel() >= kVecSse2) {
      const auto at = [&](std::uint32_t k) {
        return static_cast<int>(Load(s + Layout<S>::kBytes * std::size_t{cols[k]}));
      };
      for (; j + 8 <= dw; j += 8) {
        Store8(d + 2 * std::size_t{j}, _mm_setr_epi32(at(j), at(j + 1), at(j + 2), at(j + 3)),
               _mm_setr_epi32(at(j + 4), at(j + 5), at(j + 6), at(j + 7)));
      }
    }
#endif
    for (; j < dw; ++j)
      Store16(d + 2 * std::size_t{j}, Convert(Load(s + Layout<S>::kBytes * std::size_t{cols[j]})));
  }
};

// 16-bit format into a 4-byte format.
template <DimgFormat D, DimgFormat S>
struct Unpack16 {
  static constexpr bool kApplies =
      (D == DimgFormat::RGBA8888 || D == DimgFormat::BGRA8888) &&
      (S == DimgFormat::ARGB1555 || S == DimgFormat::ARGB4444 || S == DimgFormat::RGB565);
  static constexpr bool kBgr = D == DimgFormat::BGRA8888;
  static constexpr int kR = kBgr ? 24 : 8, kG = 16, kB = kBgr ? 8 : 24;
  // Colour moves from the 16-bit word to the channel bytes (and the 4-bit alpha to byte 3); each
  // field lands at the top of its byte, as the unpacking rules widen them.
  static constexpr auto kMoves = [] {
    if constexpr (S == DimgFormat::RGB565) {
      return std::array<Move, 3>{{{16, kR, 5}, {11, kG, 5}, {5, kB, 5}}};
    } else if constexpr (S == DimgFormat::ARGB1555) {
      return std::array<Move, 3>{{{15, kR, 5}, {10, kG, 5}, {5, kB, 5}}};
    } else {
      return std::array<Move, 4>{{{12, kR, 4}, {8, kG, 4}, {4, kB, 4}, {16, 32, 4}}};
    }
  }();
  using Seq = std::make_index_sequence<kMoves.size()>;
  static constexpr std::uint32_t kOpaque = S == DimgFormat::RGB565 ? 0xFF000000u : 0;
  // The alpha bit of ARGB1555 fills the whole alpha byte.
  static constexpr bool kAlphaBit = S == DimgFormat::ARGB1555;
  static constexpr Move kAlphaMove{16, 32, 1};

  template <std::size_t... I>
  static std::uint32_t Convert(std::uint32_t w, std::index_sequence<I...>) {
    std::uint32_t out = kOpaque | (Field1<kMoves[I]>(w) | ...);
    if constexpr (kAlphaBit) out |= (w & 0x8000u) != 0 ? 0xFF000000u : 0;
    return out;
  }
  static std::uint32_t Convert(std::uint32_t w) { return Convert(w, Seq()); }

#if defined(__SSE2__)
  template <std::size_t... I>
  static __m128i Convert4(__m128i v, std::index_sequence<I...>) {
    __m128i acc = _mm_set1_epi32(static_cast<int>(kOpaque));
    if constexpr (kAlphaBit) acc = _mm_srai_epi32(Field4<kAlphaMove>(v), 7);
    ((acc = _mm_or_si128(acc, Field4<kMoves[I]>(v))), ...);
    return acc;
  }
#endif

#if defined(ORVANE_BLIT_X86)
  // Eight pixels, each word sign-extended to its lane: the alpha bit of ARGB1555 fills the
  // lane's top 16 bits, the alpha byte among them (every other move masks its field).
  template <std::size_t... I>
  [[gnu::target("avx2")]] static __m256i Convert8(__m256i v, std::index_sequence<I...>) {
    __m256i acc = _mm256_set1_epi32(static_cast<int>(kOpaque));
    if constexpr (kAlphaBit) acc = _mm256_and_si256(v, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    ((acc = _mm256_or_si256(acc, Field8<kMoves[I]>(v))), ...);
    return acc;
  }
  [[gnu::target("avx2")]] static __m256i Load8(const std::uint8_t* s) {
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
  }
  // Sixteen pixels a turn, then eight, from 0 on; gives the first pixel not written.
  [[gnu::target("avx2")]] static std::uint32_t RowAvx2(std::uint8_t* __restrict d,
                                                       const std::uint8_t* __restrict s, std::uint32_t w) {
    std::uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
      const __m256i lo = Convert8(Load8(s + 2 * std::size_t{x}), Seq());
      const __m256i hi = Convert8(Load8(s + 2 * std::size_t{x} + 16), Seq());
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * std::size_t{x}), lo);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * std::size_t{x} + 32), hi);
    }
    if (x + 8 <= w) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * std::size_t{x}),
                          Convert8(Load8(s + 2 * std::size_t{x}), Seq()));
      x += 8;
    }
    return x;
  }

  template <std::size_t... I>
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static __m512i Convert16(__m512i v,
                                                                        std::index_sequence<I...>) {
    __m512i acc = _mm512_set1_epi32(static_cast<int>(kOpaque));
    if constexpr (kAlphaBit) {
      acc = _mm512_srai_epi32(_mm512_slli_epi32(v, 16), 7);  // bit 15 into bits 24 to 31, and more
      acc = _mm512_and_si512(acc, _mm512_set1_epi32(static_cast<int>(0xFF000000u)));
    }
    ((acc = FieldOr16<kMoves[I]>(v, acc)), ...);
    return acc;
  }
  // The whole row, sixteen pixels at a time, the last group masked.
  [[gnu::target("avx512f,avx512bw,avx512vl")]] static void RowAvx512(std::uint8_t* __restrict d,
                                                                     const std::uint8_t* __restrict s,
                                                                     std::uint32_t w) {
    std::uint32_t x = 0;
    // Up to 15 pixels first, so that the stores of the loop stay inside one cache line each.
    const std::uint32_t head =
        std::min<std::uint32_t>(w, (64 - reinterpret_cast<std::uintptr_t>(d) % 64) % 64 / 4);
    if (head != 0) {
      const __mmask16 k = FirstLanes(head);
      const __m512i v = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(k, s));
      _mm512_mask_storeu_epi32(d, k, Convert16(v, Seq()));
      x = head;
    }
    for (; x + 16 <= w; x += 16) {
      const __m512i v =
          _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2 * std::size_t{x})));
      _mm512_storeu_si512(d + 4 * std::size_t{x}, Convert16(v, Seq()));
    }
    if (x < w) {
      const __mmask16 k = FirstLanes(w - x);
      const __m512i v = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(k, s + 2 * std::size_t{x}));
      _mm512_mask_storeu_epi32(d + 4 * std::size_t{x}, k, Convert16(v, Seq()));
    }
  }
#endif

  // w pixels of one row; the rows must not overlap.
  static void Row(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, std::uint32_t w) {
    std::uint32_t x = 0;
    [[maybe_unused]] const int level = VectorLevel();
#if defined(ORVANE_BLIT_X86)
    if (level >= kVecAvx512) return RowAvx512(d, s, w);
    if (level >= kVecAvx2) x = RowAvx2(d, s, w);
#endif
#if defined(__SSE2__)
    if (level >= kVecSse2) {
      const __m128i zero = _mm_setzero_si128();
      for (; x + 8 <= w; x += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * std::size_t{x}));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * std::size_t{x}),
                         Convert4(_mm_unpacklo_epi16(v, zero), Seq()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * std::size_t{x} + 16),
                         Convert4(_mm_unpackhi_epi16(v, zero), Seq()));
      }
    }
#endif
    for (; x < w; ++x) dimg_pixel::Store32(d + 4 * std::size_t{x}, Convert(Load16(s + 2 * std::size_t{x})));
  }
};

// True when the byte ranges [a, a + na) and [b, b + nb) share no byte.
inline bool Apart(const std::uint8_t* a, std::size_t na, const std::uint8_t* b, std::size_t nb) {
  return a + na <= b || b + nb <= a;
}

// True when both rectangles of h rows (top rows at d and s, drow and srow bytes a row) store
// their rows bottom-up and share no byte, so that their rows can be converted in any order.
inline bool BottomUpApart(const std::uint8_t* d, const DImage& di, std::size_t drow, const std::uint8_t* s,
                          const DImage& si, std::size_t srow, std::uint32_t h) {
  if (h < 2) return false;
  const std::uint8_t* dlast = di.OffsetLine(d, static_cast<std::int32_t>(h - 1));
  const std::uint8_t* slast = si.OffsetLine(s, static_cast<std::int32_t>(h - 1));
  if (dlast >= d || slast >= s) return false;
  return Apart(dlast, static_cast<std::size_t>(d - dlast) + drow, slast,
               static_cast<std::size_t>(s - slast) + srow);
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
    if constexpr (kKind == kCopy && (Pack16<D, S>::kApplies || Unpack16<D, S>::kApplies)) {
      if (BottomUpApart(d, di, kDB * std::size_t{w}, s, si, kSB * std::size_t{w}, h)) {
        // Same bytes in any row order: run from the lowest address up, the direction in which the
        // processor's stream prefetch follows the rows.
        for (std::uint32_t y = h; y-- > 0;) {
          std::conditional_t<Pack16<D, S>::kApplies, Pack16<D, S>, Unpack16<D, S>>::Row(
              di.OffsetLine(d, static_cast<std::int32_t>(y)), si.OffsetLine(s, static_cast<std::int32_t>(y)),
              w);
        }
        return;
      }
    }
    for (std::uint32_t y = 0;;) {
      std::uint8_t* dp = d;
      const std::uint8_t* sp = s;
      if constexpr (kKind == kCopy && (Pack16<D, S>::kApplies || Unpack16<D, S>::kApplies)) {
        if (Apart(d, kDB * std::size_t{w}, s, kSB * std::size_t{w})) {
          std::conditional_t<Pack16<D, S>::kApplies, Pack16<D, S>, Unpack16<D, S>>::Row(d, s, w);
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

DimgBlitVector DimgBlitVectorSupported() {
  return static_cast<DimgBlitVector>(SupportedVector());
}

DimgBlitVector DimgBlitSetVectorCap(DimgBlitVector cap) {
  return static_cast<DimgBlitVector>(g_vector_cap.exchange(static_cast<int>(cap), std::memory_order_relaxed));
}

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
