// Reads the sine table, and fills and reads the square-root and YCrCb tables.
#include "imaging/dimg_tables.h"

#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// DimgSinTable is generated at build time (dimg_sin_table.cc in the build tree).
std::uint32_t DimgSqrtTable[kDimgSqrtTableSize];
DimgYCrCbTables YCrCbTables;

namespace {

constexpr double kStepsPerRadian = 651.8986469044033;  // 4096 / 2pi

std::uint32_t SqrtMantissa(std::uint32_t bits) {
  const float root = std::sqrt(std::bit_cast<float>(bits));
  return std::bit_cast<std::uint32_t>(root) & 0x7FFFFFu;
}

// One table entry: the product formed in single precision, rounded to nearest (halves to even).
std::int32_t Entry(int i, float k) {
  return static_cast<std::int32_t>(std::nearbyint(static_cast<float>(i) * k));
}

void Fill(std::int32_t* t, float k, int offset) {
  for (int i = 0; i < 256; ++i) t[i] = Entry(i - offset, k);
}

}  // namespace

void DimgInitSqrtTable() {
  std::uint32_t j = 0;
#if defined(__SSE2__)
  // Four entries at a time: the packed square root rounds each lane as the scalar one does.
  const __m128i step = _mm_set1_epi32(4);
  const __m128i keep = _mm_set1_epi32(0x7FFFFF);
  __m128i k = _mm_setr_epi32(0, 1, 2, 3);
  for (; j < 32768; j += 4, k = _mm_add_epi32(k, step)) {
    const __m128i one_to_two = _mm_slli_epi32(_mm_or_si128(k, _mm_set1_epi32(0x3F8000)), 8);
    const __m128i two_to_four = _mm_slli_epi32(_mm_or_si128(k, _mm_set1_epi32(0x400000)), 8);
    const __m128 r1 = _mm_sqrt_ps(_mm_castsi128_ps(one_to_two));
    const __m128 r2 = _mm_sqrt_ps(_mm_castsi128_ps(two_to_four));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(DimgSqrtTable + 32768 + j),
                     _mm_and_si128(_mm_castps_si128(r1), keep));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(DimgSqrtTable + j),
                     _mm_and_si128(_mm_castps_si128(r2), keep));
  }
#endif
  for (; j < 32768; ++j) {
    DimgSqrtTable[32768 + j] = SqrtMantissa((j | 0x3F8000u) << 8);  // [1, 2)
    DimgSqrtTable[j] = SqrtMantissa((j | 0x400000u) << 8);          // [2, 4)
  }
}

std::uint32_t DimgAngleStep(double radians) {
  const double step = std::trunc(radians * kStepsPerRadian);
  if (!(std::fabs(step) < 9.0e18)) return 0;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(step)) & 4095u);
}

float DimgTableSqrt(float v) {
  // The 256 KiB table is filled by the first lookup, not at start-up: most runs never take a root.
  static const bool filled = (DimgInitSqrtTable(), true);
  (void)filled;
  const std::uint32_t b = std::bit_cast<std::uint32_t>(v);
  if (b == 0) return 0.0f;
  const std::uint32_t exponent = (((b - 0x3F800000u) >> 1) + 0x3F800000u) & 0x7F800000u;
  return std::bit_cast<float>(exponent | DimgSqrtTable[(b >> 8) & 0xFFFFu]);
}

bool DimgInitYCrCbTables() {
  DimgYCrCbTables& t = YCrCbTables;
  Fill(t.y_r, 38.272f, 0);
  Fill(t.y_g, 75.136f, 0);
  Fill(t.y_b, 14.592f, 0);
  Fill(t.cr_r, 64.0f, 0);
  Fill(t.cr_g, -53.59232f, 0);
  Fill(t.cr_b, -10.40768f, 0);
  Fill(t.cb_r, -21.59872f, 0);
  Fill(t.cb_g, -42.40128f, 0);
  Fill(t.cb_b, 64.0f, 0);
  Fill(t.r_cr, 1.402f, 128);
  Fill(t.g_cr, -91.40992f, 128);
  Fill(t.g_cb, -44.04992f, 128);
  Fill(t.b_cb, 1.772f, 128);
  return true;
}
