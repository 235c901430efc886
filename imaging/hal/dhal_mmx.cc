// The vector HAL unit: the span routines on SSE2 registers (the x86-64 baseline), eight 16-bit
// pixels or sixteen bytes per block, the rest of a run one element at a time; its own blend tables.
#include <algorithm>
#include <cstring>

#include "imaging/hal/dhal.h"
#include "imaging/hal/dhal_pixel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace dhal;

// The unit's tables, made on first use and never destroyed: a run that never blends pays nothing
// for them, and at exit the system takes them back with no destructor to run.
LazyBlendTables& Tables() {
  static LazyBlendTables* const tables = new LazyBlendTables();
  return *tables;
}
std::uint32_t g_table_format = kRgb565;  // the format the tables are for

#if defined(__SSE2__)

inline __m128i LoadU(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void StoreU(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}
inline __m128i Load8(const void* p) {
  return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}
inline void Store8(void* p, __m128i v) {
  _mm_storel_epi64(static_cast<__m128i*>(p), v);
}
inline __m128i Set16(std::uint32_t v) {
  return _mm_set1_epi16(static_cast<short>(v));
}
// Where mask lanes are all ones: a; elsewhere b.
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

void Fill8(void* dst, std::uint32_t count, std::uint8_t value) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const __m128i v = _mm_set1_epi8(static_cast<char>(value));
  std::uint32_t i = 0;
  for (; i + 16 <= count; i += 16) StoreU(d + i, v);
  for (; i < count; ++i) d[i] = value;
}

void Fill16(void* dst, std::uint32_t count, std::uint16_t value) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const __m128i v = Set16(value);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) StoreU(d + 2 * std::size_t{i}, v);
  for (; i < count; ++i) Store16(d + 2 * std::size_t{i}, value);
}

void Fill32(void* dst, std::uint32_t count, std::uint32_t value) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const __m128i v = _mm_set1_epi32(static_cast<int>(value));
  std::uint32_t i = 0;
  for (; i + 4 <= count; i += 4) StoreU(d + 4 * std::size_t{i}, v);
  for (; i < count; ++i) Store32(d + 4 * std::size_t{i}, value);
}

void FillMask16(void* dst, const void* mask, std::uint32_t count, std::uint16_t colour) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* m = static_cast<const std::uint8_t*>(mask);
  const __m128i c = Set16(colour), zero = _mm_setzero_si128();
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::size_t o = 2 * std::size_t{i};
    const __m128i empty = _mm_cmpeq_epi16(LoadU(m + o), zero);
    StoreU(d + o, Select(empty, LoadU(d + o), c));
  }
  for (; i < count; ++i)
    if (Load16(m + 2 * std::size_t{i}) != 0) Store16(d + 2 * std::size_t{i}, colour);
}

// 16-byte blocks front to back give the block model's result except when the destination lies
// less than 16 bytes after the source; there (and only there) the block model itself runs.
void Copy(void* dst, const void* src, std::uint32_t bytes) {
  const std::intptr_t dist = Distance(dst, src);
  if (dist <= 0 || static_cast<std::uintptr_t>(dist) >= bytes) {
    if (bytes > 0) std::memmove(dst, src, bytes);
    return;
  }
  if (dist < 16) return CopyBlocks(dst, src, bytes);
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  std::uint32_t i = 0;
  for (; i + 16 <= bytes; i += 16) StoreU(d + i, LoadU(s + i));
  CopyBlocks(d + i, s + i, bytes - i);
}

void CopyKey16(void* dst, const void* src, std::uint32_t count, std::uint16_t key) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  const __m128i k = Set16(key);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::size_t o = 2 * std::size_t{i};
    const __m128i sv = LoadU(s + o);
    StoreU(d + o, Select(_mm_cmpeq_epi16(sv, k), LoadU(d + o), sv));
  }
  for (; i < count; ++i) {
    const std::uint16_t v = Load16(s + 2 * std::size_t{i});
    if (v != key) Store16(d + 2 * std::size_t{i}, v);
  }
}

void CopyKey32(void* dst, const void* src, std::uint32_t count, std::uint32_t key) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  const __m128i k = _mm_set1_epi32(static_cast<int>(key));
  std::uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const std::size_t o = 4 * std::size_t{i};
    const __m128i sv = LoadU(s + o);
    StoreU(d + o, Select(_mm_cmpeq_epi32(sv, k), LoadU(d + o), sv));
  }
  for (; i < count; ++i) {
    const std::uint32_t v = Load32(s + 4 * std::size_t{i});
    if (v != key) Store32(d + 4 * std::size_t{i}, v);
  }
}

void CopyMirror16(void* dst, const void* src, std::uint32_t count) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i v = _mm_shuffle_epi32(LoadU(s + 2 * std::size_t{i}), _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    StoreU(d + 2 * std::size_t{count - i - 8}, v);
  }
  for (; i < count; ++i) Store16(d + 2 * std::size_t{count - 1 - i}, Load16(s + 2 * std::size_t{i}));
}

// The packed 15-bit layout of eight pixels and back (see dhal_pixel.h for one pixel).
template <bool k565>
inline __m128i To555V(__m128i p) {
  if constexpr (k565) {
    return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p, 1), Set16(0x7FE0)), _mm_and_si128(p, Set16(0x1F)));
  } else {
    return _mm_and_si128(p, Set16(0x7FFF));
  }
}
template <bool k565>
inline __m128i From555V(__m128i p) {
  if constexpr (k565) {
    return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(p, Set16(0x7FE0)), 1), _mm_and_si128(p, Set16(0x1F)));
  } else {
    return p;
  }
}
// 31 in each 5-bit field of x + y that carries out; sum gets the per-field sums.
inline __m128i FieldMaskV(__m128i x, __m128i y, __m128i& sum) {
  const __m128i top = Set16(0x4210), low_bits = Set16(0x3DEF);
  const __m128i low = _mm_add_epi16(_mm_and_si128(x, low_bits), _mm_and_si128(y, low_bits));
  const __m128i xy = _mm_xor_si128(x, y);
  sum = _mm_xor_si128(low, _mm_and_si128(xy, top));
  const __m128i carries = _mm_and_si128(_mm_or_si128(_mm_and_si128(x, y), _mm_and_si128(xy, low)), top);
  return _mm_sub_epi16(_mm_slli_epi16(carries, 1), _mm_srli_epi16(carries, 4));
}

template <bool k565>
inline __m128i AddSatV(__m128i d, __m128i s) {
  __m128i sum;
  const __m128i m = FieldMaskV(To555V<k565>(d), To555V<k565>(s), sum);
  const __m128i r = From555V<k565>(_mm_or_si128(sum, m));
  if constexpr (k565) {
    return r;
  } else {
    return _mm_or_si128(r, _mm_and_si128(_mm_xor_si128(d, s), Set16(0x8000)));
  }
}
template <bool k565>
inline __m128i SubSatV(__m128i d, __m128i s) {
  const __m128i d5 = To555V<k565>(d), s5 = To555V<k565>(s);
  __m128i sum;
  const __m128i m = FieldMaskV(_mm_xor_si128(d5, Set16(0x7FFF)), s5, sum);
  const __m128i r = From555V<k565>(_mm_sub_epi16(_mm_or_si128(d5, m), _mm_or_si128(s5, m)));
  if constexpr (k565) {
    return r;
  } else {
    return _mm_or_si128(r, _mm_and_si128(_mm_xor_si128(d, s), Set16(0x8000)));
  }
}
template <bool k565>
inline __m128i HalfV(__m128i d, __m128i s) {
  const __m128i m = Set16(k565 ? 0xF79E : 0x7BDE);
  return _mm_add_epi16(_mm_srli_epi16(_mm_and_si128(d, m), 1), _mm_srli_epi16(_mm_and_si128(s, m), 1));
}

template <__m128i (*kVec)(__m128i, __m128i), std::uint16_t (*kOne)(std::uint16_t, std::uint16_t)>
void PixelOp(void* dst, const void* src, std::uint32_t count) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::size_t o = 2 * std::size_t{i};
    StoreU(d + o, kVec(LoadU(d + o), LoadU(s + o)));
  }
  for (; i < count; ++i) {
    const std::size_t o = 2 * std::size_t{i};
    Store16(d + o, kOne(Load16(d + o), Load16(s + o)));
  }
}

// Thresholds: levels and t are at most 0x7FFF, so signed 16-bit compares order them. The mask
// is set where the destination (or b) is kept: level > t (plain), level < t (Rev).
template <bool kRev>
inline __m128i KeepMask(const std::uint16_t* map, __m128i t) {
  const __m128i level = _mm_and_si128(LoadU(map), Set16(kLevelMask));
  return kRev ? _mm_cmpgt_epi16(t, level) : _mm_cmpgt_epi16(level, t);
}
template <bool kRev>
inline bool Takes(std::uint16_t entry, std::uint16_t t) {
  const std::uint16_t level = entry & kLevelMask;
  return kRev ? level >= t : level <= t;
}
template <bool kRev>
inline bool TakesAll(std::uint16_t t) {
  return kRev ? t == 0 : t == kLevelMask;
}

template <bool kRev>
void ThresholdCopy16(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                     std::uint16_t t) {
  t = std::min(t, kLevelMask);
  if (TakesAll<kRev>(t)) return Copy(dst, src, 2 * count);
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  const __m128i tv = Set16(t);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::size_t o = 2 * std::size_t{i};
    StoreU(d + o, Select(KeepMask<kRev>(map + i, tv), LoadU(d + o), LoadU(s + o)));
  }
  for (; i < count; ++i)
    if (Takes<kRev>(Load16(map + i), t)) Store16(d + 2 * std::size_t{i}, Load16(s + 2 * std::size_t{i}));
}

template <bool kRev>
void ThresholdCopy8(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                    std::uint16_t t) {
  t = std::min(t, kLevelMask);
  if (TakesAll<kRev>(t)) return Copy(dst, src, count);
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  const __m128i tv = Set16(t);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i keep16 = KeepMask<kRev>(map + i, tv);
    const __m128i keep = _mm_packs_epi16(keep16, keep16);
    Store8(d + i, Select(keep, Load8(d + i), Load8(s + i)));
  }
  for (; i < count; ++i)
    if (Takes<kRev>(Load16(map + i), t)) d[i] = s[i];
}

template <bool kRev>
void ThresholdFill8(void* dst, std::uint8_t a, std::uint8_t b, std::uint32_t count, const std::uint16_t* map,
                    std::uint16_t t) {
  t = std::min(t, kLevelMask);
  if (TakesAll<kRev>(t)) return Fill8(dst, count, a);
  auto* d = static_cast<std::uint8_t*>(dst);
  const __m128i tv = Set16(t);
  const __m128i av = _mm_set1_epi8(static_cast<char>(a)), bv = _mm_set1_epi8(static_cast<char>(b));
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i keep16 = KeepMask<kRev>(map + i, tv);
    Store8(d + i, Select(_mm_packs_epi16(keep16, keep16), bv, av));
  }
  for (; i < count; ++i) d[i] = Takes<kRev>(Load16(map + i), t) ? a : b;
}

// Blend of eight pixels with eight weights (0-31 in 16-bit lanes), computed per channel as
// ((w (d + 1)) >> 5) + (((31 - w) (s + 1)) >> 5), which is A[w][d] + B[w][s] by construction.
inline __m128i BlendV(__m128i d, __m128i s, __m128i w, __m128i rs, __m128i gs) {
  const __m128i c31 = Set16(31), one = Set16(1);
  const __m128i v = _mm_sub_epi16(c31, w);
  auto channel = [&](__m128i shift) {
    const __m128i dc = _mm_add_epi16(_mm_and_si128(_mm_srl_epi16(d, shift), c31), one);
    const __m128i sc = _mm_add_epi16(_mm_and_si128(_mm_srl_epi16(s, shift), c31), one);
    const __m128i r =
        _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(w, dc), 5), _mm_srli_epi16(_mm_mullo_epi16(v, sc), 5));
    return _mm_sll_epi16(r, shift);
  };
  return _mm_or_si128(_mm_or_si128(channel(rs), channel(gs)), channel(_mm_setzero_si128()));
}

// Eight layer bytes as 16-bit weights, each at most 31.
inline __m128i LayerWeights(const std::uint8_t* layer) {
  return _mm_min_epi16(_mm_unpacklo_epi8(Load8(layer), _mm_setzero_si128()), Set16(31));
}

template <typename WeightOf, typename OneWeight>
void BlendRun(void* dst, const void* src, std::uint32_t count, WeightOf weights, OneWeight one) {
  if (!Tables().Prepared()) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  const __m128i rs = _mm_cvtsi32_si128(RedShift(g_table_format));
  const __m128i gs = _mm_cvtsi32_si128(GreenShift(g_table_format));
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::size_t o = 2 * std::size_t{i};
    StoreU(d + o, BlendV(LoadU(d + o), LoadU(s + o), weights(i), rs, gs));
  }
  // Only the last pixels of a run go through the tables.
  const BlendTables* tables = i < count ? Tables().Get() : nullptr;
  if (!tables) return;
  for (; i < count; ++i) {
    const std::size_t o = 2 * std::size_t{i};
    Store16(d + o, tables->Blend(one(i), Load16(d + o), Load16(s + o)));
  }
}

void Blend16(void* dst, const void* src, std::uint32_t count, std::uint8_t w) {
  const std::uint32_t wc = Clamp31(w);
  const __m128i wv = Set16(wc);
  BlendRun(
      dst, src, count, [&](std::uint32_t) { return wv; }, [&](std::uint32_t) { return wc; });
}

void BlendMap16(void* dst, const void* src, std::uint32_t count, const std::uint8_t* layer) {
  BlendRun(
      dst, src, count, [&](std::uint32_t i) { return LayerWeights(layer + i); },
      [&](std::uint32_t i) { return Clamp31(layer[i]); });
}

void BlendMapLevel16(void* dst, const void* src, std::uint32_t count, std::uint8_t level,
                     const std::uint8_t* layer) {
  const __m128i c31 = Set16(31);
  const __m128i scale = Set16(32 - Clamp31(level));
  BlendRun(
      dst, src, count,
      [&](std::uint32_t i) {
        const __m128i opacity = _mm_sub_epi16(c31, LayerWeights(layer + i));
        return _mm_sub_epi16(c31, _mm_srli_epi16(_mm_mullo_epi16(opacity, scale), 5));
      },
      [&](std::uint32_t i) { return LevelWeight(layer[i], level); });
}

DHalSpanRecord VectorRoutines(std::uint32_t format) {
  const bool argb1555 = format == kArgb1555;
  DHalSpanRecord r{};
  r.Fill32 = &Fill32;
  r.Fill8 = &Fill8;
  r.FillMask16 = &FillMask16;
  r.AddSat16 = argb1555 ? &PixelOp<&AddSatV<false>, &AddSatPixel<false>>
                        : &PixelOp<&AddSatV<true>, &AddSatPixel<true>>;
  r.CopyKey16 = &CopyKey16;
  r.WipeMapFlag = kWipeMapFlag;
  r.Fill16 = &Fill16;
  r.ThresholdCopy8 = &ThresholdCopy8<false>;
  r.ThresholdFill8 = &ThresholdFill8<false>;
  r.ThresholdFill8Rev = &ThresholdFill8<true>;
  r.SubSat16 = argb1555 ? &PixelOp<&SubSatV<false>, &SubSatPixel<false>>
                        : &PixelOp<&SubSatV<true>, &SubSatPixel<true>>;
  r.CopyKey32 = &CopyKey32;
  r.CopyMirror16 = &CopyMirror16;
  r.ThresholdCopy16 = &ThresholdCopy16<false>;
  r.ThresholdCopy16Rev = &ThresholdCopy16<true>;
  r.Half16 = argb1555 ? &PixelOp<&HalfV<false>, &HalfPixel<false>> : &PixelOp<&HalfV<true>, &HalfPixel<true>>;
  r.Copy = &Copy;
  r.ThresholdCopy8Rev = &ThresholdCopy8<true>;
  r.Blend16 = &Blend16;
  r.BlendMap16 = &BlendMap16;
  r.BlendMapLevel16 = &BlendMapLevel16;
  return r;
}

#else  // no SSE2: the unit is never chosen; its routines are the plain unit's on its own tables

void Blend16(void* dst, const void* src, std::uint32_t count, std::uint8_t w) {
  const BlendTables* tables = Tables().Get();
  if (!tables) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i)
    Store16(d + 2 * std::size_t{i},
            tables->Blend(Clamp31(w), Load16(d + 2 * std::size_t{i}), Load16(s + 2 * std::size_t{i})));
}

void BlendMap16(void* dst, const void* src, std::uint32_t count, const std::uint8_t* layer) {
  const BlendTables* tables = Tables().Get();
  if (!tables) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i)
    Store16(d + 2 * std::size_t{i},
            tables->Blend(Clamp31(layer[i]), Load16(d + 2 * std::size_t{i}), Load16(s + 2 * std::size_t{i})));
}

void BlendMapLevel16(void* dst, const void* src, std::uint32_t count, std::uint8_t level,
                     const std::uint8_t* layer) {
  const BlendTables* tables = Tables().Get();
  if (!tables) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i)
    Store16(d + 2 * std::size_t{i},
            tables->Blend(LevelWeight(layer[i], level), Load16(d + 2 * std::size_t{i}),
                          Load16(s + 2 * std::size_t{i})));
}

DHalSpanRecord VectorRoutines(std::uint32_t format) {
  DHalSpanRecord r = DHalX86::Routines(format);
  r.Blend16 = &Blend16;
  r.BlendMap16 = &BlendMap16;
  r.BlendMapLevel16 = &BlendMapLevel16;
  return r;
}

#endif

}  // namespace

bool DHalMmx::Available() {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
  // Built for SSE2: every processor this code runs on has it (no start-up probe of the CPU).
  return true;
#else
  return false;
#endif
}

bool DHalMmx::Init(std::uint32_t format) {
  if (!Tables().Prepare(format)) return false;
  g_table_format = format;
  return true;
}

bool DHalMmx::Term() {
  Tables().Free();
  return true;
}

const std::uint16_t* DHalMmx::TableA() {
  const BlendTables* tables = Tables().Get();
  return tables ? tables->a.get() : nullptr;
}

const std::uint16_t* DHalMmx::TableB() {
  const BlendTables* tables = Tables().Get();
  return tables ? tables->b.get() : nullptr;
}

DHalSpanRecord DHalMmx::Routines(std::uint32_t format) {
  return VectorRoutines(format);
}
