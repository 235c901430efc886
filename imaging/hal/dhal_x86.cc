// The plain HAL unit: every span routine in portable C++, one element at a time except for the
// block copies, and the unit's own blend tables.
#include <algorithm>
#include <cstring>

#include "imaging/hal/dhal.h"
#include "imaging/hal/dhal_pixel.h"

namespace {

using namespace dhal;

// The unit's tables, made on first use and never destroyed: a run that never blends pays nothing
// for them, and at exit the system takes them back with no destructor to run.
LazyBlendTables& Tables() {
  static LazyBlendTables* const tables = new LazyBlendTables();
  return *tables;
}

void Fill32(void* dst, std::uint32_t count, std::uint32_t value) {
  auto* d = static_cast<std::uint8_t*>(dst);
  for (std::uint32_t i = 0; i < count; ++i) Store32(d + 4 * std::size_t{i}, value);
}

void Fill8(void* dst, std::uint32_t count, std::uint8_t value) {
  if (count > 0) std::memset(dst, value, count);
}

void Fill16(void* dst, std::uint32_t count, std::uint16_t value) {
  auto* d = static_cast<std::uint8_t*>(dst);
  for (std::uint32_t i = 0; i < count; ++i) Store16(d + 2 * std::size_t{i}, value);
}

void FillMask16(void* dst, const void* mask, std::uint32_t count, std::uint16_t colour) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* m = static_cast<const std::uint8_t*>(mask);
  for (std::uint32_t i = 0; i < count; ++i)
    if (Load16(m + 2 * std::size_t{i}) != 0) Store16(d + 2 * std::size_t{i}, colour);
}

// The block model; where the areas do not overlap forwards (dst before src, or apart) the result
// equals a plain move, which the C library does faster.
void Copy(void* dst, const void* src, std::uint32_t bytes) {
  const std::intptr_t dist = Distance(dst, src);
  if (dist > 0 && static_cast<std::uintptr_t>(dist) < bytes) {
    CopyBlocks(dst, src, bytes);
  } else if (bytes > 0) {
    std::memmove(dst, src, bytes);
  }
}

void CopyKey16(void* dst, const void* src, std::uint32_t count, std::uint16_t key) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint16_t v = Load16(s + 2 * std::size_t{i});
    if (v != key) Store16(d + 2 * std::size_t{i}, v);
  }
}

void CopyKey32(void* dst, const void* src, std::uint32_t count, std::uint32_t key) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t v = Load32(s + 4 * std::size_t{i});
    if (v != key) Store32(d + 4 * std::size_t{i}, v);
  }
}

void CopyMirror16(void* dst, const void* src, std::uint32_t count) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i)
    Store16(d + 2 * std::size_t{count - 1 - i}, Load16(s + 2 * std::size_t{i}));
}

template <std::uint16_t (*kOp)(std::uint16_t, std::uint16_t)>
void PixelOp(void* dst, const void* src, std::uint32_t count) {
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t o = 2 * std::size_t{i};
    Store16(d + o, kOp(Load16(d + o), Load16(s + o)));
  }
}

// Plain forms: level <= t; Rev forms: level >= t. t = 0x7FFF (plain) or 0 (Rev) takes the whole
// run without reading the map.
template <bool kRev>
bool Takes(std::uint16_t entry, std::uint16_t t) {
  const std::uint16_t level = entry & kLevelMask;
  return kRev ? level >= t : level <= t;
}
template <bool kRev>
bool TakesAll(std::uint16_t t) {
  return kRev ? t == 0 : t == kLevelMask;
}

template <bool kRev>
void ThresholdCopy8(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                    std::uint16_t t) {
  t = std::min(t, kLevelMask);
  if (TakesAll<kRev>(t)) return Copy(dst, src, count);
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i)
    if (Takes<kRev>(Load16(map + i), t)) d[i] = s[i];
}

template <bool kRev>
void ThresholdCopy16(void* dst, const void* src, std::uint32_t count, const std::uint16_t* map,
                     std::uint16_t t) {
  t = std::min(t, kLevelMask);
  if (TakesAll<kRev>(t)) return Copy(dst, src, 2 * count);
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i)
    if (Takes<kRev>(Load16(map + i), t)) Store16(d + 2 * std::size_t{i}, Load16(s + 2 * std::size_t{i}));
}

template <bool kRev>
void ThresholdFill8(void* dst, std::uint8_t a, std::uint8_t b, std::uint32_t count, const std::uint16_t* map,
                    std::uint16_t t) {
  t = std::min(t, kLevelMask);
  if (TakesAll<kRev>(t)) return Fill8(dst, count, a);
  auto* d = static_cast<std::uint8_t*>(dst);
  for (std::uint32_t i = 0; i < count; ++i) d[i] = Takes<kRev>(Load16(map + i), t) ? a : b;
}

void Blend16(void* dst, const void* src, std::uint32_t count, std::uint8_t w) {
  const BlendTables* tables = Tables().Get();
  if (!tables) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  const std::uint32_t wc = Clamp31(w);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t o = 2 * std::size_t{i};
    Store16(d + o, tables->Blend(wc, Load16(d + o), Load16(s + o)));
  }
}

void BlendMap16(void* dst, const void* src, std::uint32_t count, const std::uint8_t* layer) {
  const BlendTables* tables = Tables().Get();
  if (!tables) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t o = 2 * std::size_t{i};
    Store16(d + o, tables->Blend(Clamp31(layer[i]), Load16(d + o), Load16(s + o)));
  }
}

void BlendMapLevel16(void* dst, const void* src, std::uint32_t count, std::uint8_t level,
                     const std::uint8_t* layer) {
  const BlendTables* tables = Tables().Get();
  if (!tables) return;
  auto* d = static_cast<std::uint8_t*>(dst);
  const auto* s = static_cast<const std::uint8_t*>(src);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t o = 2 * std::size_t{i};
    Store16(d + o, tables->Blend(LevelWeight(layer[i], level), Load16(d + o), Load16(s + o)));
  }
}

}  // namespace

bool DHalX86::Init(std::uint32_t format) {
  return Tables().Prepare(format);
}

bool DHalX86::Term() {
  Tables().Free();
  return true;
}

const std::uint16_t* DHalX86::TableA() {
  const BlendTables* tables = Tables().Get();
  return tables ? tables->a.get() : nullptr;
}

const std::uint16_t* DHalX86::TableB() {
  const BlendTables* tables = Tables().Get();
  return tables ? tables->b.get() : nullptr;
}

DHalSpanRecord DHalX86::Routines(std::uint32_t format) {
  const bool argb1555 = format == kArgb1555;
  DHalSpanRecord r{};
  r.Fill32 = &Fill32;
  r.Fill8 = &Fill8;
  r.FillMask16 = &FillMask16;
  r.AddSat16 = argb1555 ? &PixelOp<&AddSatPixel<false>> : &PixelOp<&AddSatPixel<true>>;
  r.CopyKey16 = &CopyKey16;
  r.WipeMapFlag = kWipeMapFlag;
  r.Fill16 = &Fill16;
  r.ThresholdCopy8 = &ThresholdCopy8<false>;
  r.ThresholdFill8 = &ThresholdFill8<false>;
  r.ThresholdFill8Rev = &ThresholdFill8<true>;
  r.SubSat16 = argb1555 ? &PixelOp<&SubSatPixel<false>> : &PixelOp<&SubSatPixel<true>>;
  r.CopyKey32 = &CopyKey32;
  r.CopyMirror16 = &CopyMirror16;
  r.ThresholdCopy16 = &ThresholdCopy16<false>;
  r.ThresholdCopy16Rev = &ThresholdCopy16<true>;
  r.Half16 = argb1555 ? &PixelOp<&HalfPixel<false>> : &PixelOp<&HalfPixel<true>>;
  r.Copy = &Copy;
  r.ThresholdCopy8Rev = &ThresholdCopy8<true>;
  r.Blend16 = &Blend16;
  r.BlendMap16 = &BlendMap16;
  r.BlendMapLevel16 = &BlendMapLevel16;
  return r;
}
