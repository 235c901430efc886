// Draw-image blit modes: the mode table and the three row patterns over the HAL span routines.
#include "imaging/blit/dimg_rows.h"

#include <cstring>

#include "imaging/hal/dhal.h"

std::uint32_t DimgSelectBltMode(std::int32_t kind, const DimgImageRecord& record, std::uint8_t level,
                                std::uint32_t call_flags) {
  const bool keyed = (record.flags & kDimgRecordKey) != 0 && (call_flags & kDimgBltHonourKey) != 0;
  const bool runs = (record.flags & kDimgRecordRunMap) != 0;
  const bool layer = (record.flags & kDimgRecordLayer) != 0;
  // The mode for: no key; key without run map; key with run map.
  auto pick = [&](std::uint32_t plain, std::uint32_t key, std::uint32_t run) {
    return !keyed ? plain : runs ? run : key;
  };
  if ((call_flags & kDimgBltHonourBlend) == 0 || kind == 0) return pick(0, 1, 2);
  switch (kind) {
    case 1:
      if (level == 0) return pick(0, 1, 2);
      if (level == 31) return 3;
      if (level == 16) return pick(13, 14, 15);
      return pick(11, 6, 7);
    case 2:
      return layer ? pick(10, 4, 5) : pick(0, 1, 2);
    case 3:
      return layer ? pick(12, 8, 9) : pick(0, 1, 2);
    case 4:
      return pick(13, 14, 15);
    case 5:
      return pick(16, 17, 18);
    case 6:
      return pick(19, 20, 21);
    default:
      return 0;
  }
}

namespace {

enum class Pattern { kWhole, kKeyScan, kRunMap };
enum class Span { kCopy, kCopyKey, kBlendMap, kBlend, kBlendMapLevel, kHalf, kAdd, kSub };

std::uint16_t Pixel(const std::uint8_t* row, std::uint32_t x) {
  std::uint16_t v;
  std::memcpy(&v, row + 2 * std::size_t{x}, 2);
  return v;
}

// One span call at x with n pixels.
template <Span kSpan>
void Call(const DimgRowArgs& a, std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* layer,
          std::uint32_t x, std::uint32_t n) {
  const DHalSpanRecord& r = DHalSpans;
  d += 2 * std::size_t{x};
  s += 2 * std::size_t{x};
  if constexpr (kSpan == Span::kCopy) {
    r.Copy(d, s, 2 * n);
  } else if constexpr (kSpan == Span::kCopyKey) {
    r.CopyKey16(d, s, n, a.key);
  } else if constexpr (kSpan == Span::kBlendMap) {
    r.BlendMap16(d, s, n, layer + x);
  } else if constexpr (kSpan == Span::kBlend) {
    r.Blend16(d, s, n, a.level);
  } else if constexpr (kSpan == Span::kBlendMapLevel) {
    r.BlendMapLevel16(d, s, n, a.level, layer + x);
  } else if constexpr (kSpan == Span::kHalf) {
    r.Half16(d, s, n);
  } else if constexpr (kSpan == Span::kAdd) {
    r.AddSat16(d, s, n);
  } else {
    static_assert(kSpan == Span::kSub);
    r.SubSat16(d, s, n);
  }
}

template <Pattern kPattern, Span kSpan>
void Rows(const DimgRowArgs& a) {
  constexpr bool kLayer = kSpan == Span::kBlendMap || kSpan == Span::kBlendMapLevel;
  std::uint8_t* d = a.dst;
  const std::uint8_t* s = a.src;
  const std::uint8_t* runs = a.run_map;
  const std::uint8_t* layer = a.layer;
  const std::size_t map_step = kPattern == Pattern::kRunMap || kLayer ? a.src_image->GetWidth() : 0;
  for (std::uint32_t y = 0; y < a.h; ++y) {
    if constexpr (kPattern == Pattern::kWhole) {
      Call<kSpan>(a, d, s, layer, 0, a.w);
    } else if constexpr (kPattern == Pattern::kKeyScan) {
      for (std::uint32_t x = 0; x < a.w;) {
        while (x < a.w && Pixel(s, x) == a.key) ++x;
        const std::uint32_t c = x;
        while (x < a.w && Pixel(s, x) != a.key) ++x;
        if (x > c) Call<kSpan>(a, d, s, layer, c, x - c);
      }
    } else {
      for (std::uint32_t x = 0; x < a.w;) {
        std::uint32_t n = runs[x];
        if (n == 0) n = 1;  // a damaged map must still move on
        if (n > a.w - x) n = a.w - x;
        if (Pixel(s, x) != a.key) Call<kSpan>(a, d, s, layer, x, n);
        x += n;
      }
    }
    if (y + 1 == a.h) break;
    d = a.dst_image->NextLine(d);
    s = a.src_image->NextLine(s);
    if constexpr (kPattern == Pattern::kRunMap) runs += map_step;
    if constexpr (kLayer) layer += map_step;
  }
}

}  // namespace

void DimgRowsCopy(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kCopy>(a);
}
void DimgRowsCopyKey(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kCopyKey>(a);
}
void DimgRowsCopyRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kCopy>(a);
}
void DimgRowsBlendMapKey(const DimgRowArgs& a) {
  Rows<Pattern::kKeyScan, Span::kBlendMap>(a);
}
void DimgRowsBlendMapRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kBlendMap>(a);
}
void DimgRowsBlendKey(const DimgRowArgs& a) {
  Rows<Pattern::kKeyScan, Span::kBlend>(a);
}
void DimgRowsBlendRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kBlend>(a);
}
void DimgRowsBlendMapLevelKey(const DimgRowArgs& a) {
  Rows<Pattern::kKeyScan, Span::kBlendMapLevel>(a);
}
void DimgRowsBlendMapLevelRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kBlendMapLevel>(a);
}
void DimgRowsBlendMap(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kBlendMap>(a);
}
void DimgRowsBlend(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kBlend>(a);
}
void DimgRowsBlendMapLevel(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kBlendMapLevel>(a);
}
void DimgRowsHalf(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kHalf>(a);
}
void DimgRowsHalfKey(const DimgRowArgs& a) {
  Rows<Pattern::kKeyScan, Span::kHalf>(a);
}
void DimgRowsHalfRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kHalf>(a);
}
void DimgRowsAdd(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kAdd>(a);
}
void DimgRowsAddKey(const DimgRowArgs& a) {
  Rows<Pattern::kKeyScan, Span::kAdd>(a);
}
void DimgRowsAddRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kAdd>(a);
}
void DimgRowsSub(const DimgRowArgs& a) {
  Rows<Pattern::kWhole, Span::kSub>(a);
}
void DimgRowsSubKey(const DimgRowArgs& a) {
  Rows<Pattern::kKeyScan, Span::kSub>(a);
}
void DimgRowsSubRuns(const DimgRowArgs& a) {
  Rows<Pattern::kRunMap, Span::kSub>(a);
}

DimgRowLoop DimgRowLoopFor(std::uint32_t mode) {
  static constexpr DimgRowLoop kLoops[22] = {
      &DimgRowsCopy,
      &DimgRowsCopyKey,
      &DimgRowsCopyRuns,
      nullptr,
      &DimgRowsBlendMapKey,
      &DimgRowsBlendMapRuns,
      &DimgRowsBlendKey,
      &DimgRowsBlendRuns,
      &DimgRowsBlendMapLevelKey,
      &DimgRowsBlendMapLevelRuns,
      &DimgRowsBlendMap,
      &DimgRowsBlend,
      &DimgRowsBlendMapLevel,
      &DimgRowsHalf,
      &DimgRowsHalfKey,
      &DimgRowsHalfRuns,
      &DimgRowsAdd,
      &DimgRowsAddKey,
      &DimgRowsAddRuns,
      &DimgRowsSub,
      &DimgRowsSubKey,
      &DimgRowsSubRuns,
  };
  return mode < 22 ? kLoops[mode] : nullptr;
}

void DimgRunRows(std::uint32_t mode, const DimgRowArgs& a) {
  if (DimgRowLoop loop = DimgRowLoopFor(mode)) loop(a);
}
