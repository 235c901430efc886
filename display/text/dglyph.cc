// Anti-aliased characters: rendering through GetGlyphOutlineA and the three alpha writers.
#include "display/text/dglyph.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/dexcept.h"
#include "imaging/dimage.h"
#include "imaging/dimg_clip.h"

const AACharCell DGlyph::kEmpty{};

namespace {

const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

// A buffer of at least `size` bytes in `ref` (grown, never shrunk); false when it cannot be had.
bool Reserve(DRef<std::uint8_t>& ref, std::uint64_t& capacity, std::uint64_t size) {
  if (size <= capacity && ref) return true;
  if (size > DImage::kMaxStorage) return false;
  try {
    ref.Alloc(static_cast<std::uint32_t>(std::max<std::uint64_t>(size, 1)));
  } catch (...) {
    capacity = 0;
    return false;
  }
  capacity = size;
  return true;
}

// 1.5 times a size as the buffers are sized: 2 x size - size / 2.
std::uint64_t OneAndHalf(std::uint64_t size) {
  return 2 * size - size / 2;
}

}  // namespace

std::uint8_t GlyphRescale(std::uint32_t level, std::uint32_t source_bits, std::uint32_t output_bits) {
  const std::uint32_t top = (1u << output_bits) - 1, source_top = 1u << source_bits;
  const float scale = static_cast<float>(top) / static_cast<float>(source_top);
  const float r = std::nearbyint(static_cast<float>(std::min(level, source_top)) * scale);
  return static_cast<std::uint8_t>(std::min(r, static_cast<float>(top)));
}

DGlyph::~DGlyph() {
  Close();
}

bool DGlyph::Create(std::uint32_t flags, const LOGFONTA& font) {
  Close();
  if (!font_.CreateIndirect(&font) || !dc_.CreateCompatible()) {
    Close();
    return false;
  }
  flags_ = flags;
  outline_capacity_ = 0;
  level_capacity_ = 0;
  dc_.SelectObject(font_);
  dc_.GetTextMetrics(&metrics_);
  if (flags & kGlyphBitmap) {
    outline_format_ = GGO_BITMAP, source_bits_ = 1;
  } else if (flags & kGlyphGray2) {
    outline_format_ = GGO_GRAY2_BITMAP, source_bits_ = 2;
  } else if (flags & kGlyphGray4) {
    outline_format_ = GGO_GRAY4_BITMAP, source_bits_ = 4;
  } else {
    outline_format_ = GGO_GRAY8_BITMAP, source_bits_ = 6;
  }
  output_bits_ = (flags & kGlyphOut4) ? 4 : (flags & kGlyphOut5) ? 5 : 8;
  scale_ = static_cast<float>((1u << output_bits_) - 1) / static_cast<float>(1u << source_bits_);
  for (std::uint32_t v = 0; v < 256; ++v) rescale_[v] = GlyphRescale(v, source_bits_, output_bits_);
  current_ = &kEmpty;
  return true;
}

void DGlyph::Close() {
  cache_.clear();
  cache_.shrink_to_fit();
  dc_.Delete();
  font_.Delete();
  current_char_ = AACharCell{};
  level_buffer_.Release();
  outline_.Release();
  outline_capacity_ = 0;
  level_capacity_ = 0;
  current_ = &kEmpty;
}

bool DGlyph::Render(std::uint16_t code) {
  current_ = &kEmpty;
  if (code == 0xFFFF || !dc_.GetHandle()) return false;
  if (flags_ & kGlyphCache) {
    if (cache_.empty()) {
      try {
        cache_.resize(0xFFFF);
      } catch (...) {
        return false;
      }
    }
    std::unique_ptr<AACharCell>& slot = cache_[code];
    if (slot && slot->pitch != 0) {
      current_ = slot.get();
      return true;
    }
    AACharCell cell;
    if (!RenderInto(code, cell, true)) return false;
    try {
      if (!slot) slot = std::make_unique<AACharCell>();
    } catch (...) {
      return false;
    }
    *slot = cell;
    current_ = slot.get();
    return true;
  }
  if (!RenderInto(code, current_char_, false)) return false;
  current_ = &current_char_;
  return true;
}

// Renders `code` into `cell`, which changes only when everything succeeded.
bool DGlyph::RenderInto(std::uint16_t code, AACharCell& cell, bool cached) {
  HDC dc = dc_.GetHandle();
  const bool mono = outline_format_ == GGO_BITMAP;
  GLYPHMETRICS gm{};
  DWORD size = GetGlyphOutlineA(dc, code, outline_format_, &gm, 0, nullptr, &kIdentity);
  if (size == GDI_ERROR) return false;

  AACharCell out;
  if (size == 0) {
    // No black box (a space): nothing to draw, only the advance.
    out.pitch = 1;
  } else {
    // Sizes in 64 bits, checked against the image cap before anything is allocated.
    const std::uint64_t w = gm.gmBlackBoxX, h = gm.gmBlackBoxY;
    const std::uint64_t pitch = (w + 3) & ~std::uint64_t{3};
    const std::uint64_t level_bytes = pitch * h;
    const std::uint64_t mono_row = (w + 31) / 32 * 4;
    const std::uint64_t need = mono ? mono_row * h : level_bytes;
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || level_bytes > DImage::kMaxStorage ||
        need > size)
      return false;

    // Buffer sizing: the fetch goes into the outline buffer (GGO_BITMAP) or a level buffer.
    DRef<std::uint8_t> levels;
    std::uint64_t levels_cap = 0;
    if (cached) {
      if (mono) {
        if (outline_capacity_ < size && !Reserve(outline_, outline_capacity_, OneAndHalf(size))) return false;
        if (!Reserve(levels, levels_cap, level_bytes)) return false;
      } else {
        if (!Reserve(levels, levels_cap, size)) return false;
      }
    } else {
      levels = level_buffer_;
      levels_cap = level_capacity_;
      std::uint64_t first = size;
      if (!(mono ? outline_ : levels)) {
        // The very first render also sizes a large reference character so that later ones
        // rarely reallocate.
        GLYPHMETRICS ref{};
        DWORD ref_size = GetGlyphOutlineA(dc, 0x8A6D, outline_format_, &ref, 0, nullptr, &kIdentity);
        if (ref_size != GDI_ERROR) first = std::max<std::uint64_t>(first, ref_size);
        first = OneAndHalf(first);
        if (mono) {
          if (!Reserve(outline_, outline_capacity_, first)) return false;
          if (!levels && !Reserve(levels, levels_cap, OneAndHalf(level_bytes))) return false;
        } else if (!Reserve(levels, levels_cap, first)) {
          return false;
        }
      }
      if (mono) {
        if (!Reserve(outline_, outline_capacity_, size)) return false;
        if (!Reserve(levels, levels_cap, level_bytes)) return false;
      } else if (!Reserve(levels, levels_cap, size)) {
        return false;
      }
      // The shared level buffer is kept even when this render fails later.
      level_buffer_ = levels;
      level_capacity_ = levels_cap;
    }

    std::uint8_t* target = mono ? outline_.Get() : levels.Get();
    const std::uint64_t target_cap = mono ? outline_capacity_ : levels_cap;
    GLYPHMETRICS fetched{};
    DWORD written = GetGlyphOutlineA(dc, code, outline_format_, &fetched, static_cast<DWORD>(target_cap),
                                     target, &kIdentity);
    if (written == GDI_ERROR) return false;
    // The box the outline was written with must fit what was written and what was allocated.
    const std::uint64_t fw = fetched.gmBlackBoxX, fh = fetched.gmBlackBoxY;
    const std::uint64_t fpitch = (fw + 3) & ~std::uint64_t{3};
    const std::uint64_t fneed = mono ? (fw + 31) / 32 * 4 * fh : fpitch * fh;
    if (fw != w || fh != h || fneed > written || written > target_cap || fpitch * fh > levels_cap)
      return false;

    // Levels.
    std::uint8_t* lv = levels.Get();
    if (mono) {
      const std::uint8_t top = static_cast<std::uint8_t>((1u << output_bits_) - 1);
      for (std::uint64_t r = 0; r < h; ++r) {
        const std::uint8_t* src = outline_.Get() + r * mono_row;
        std::uint8_t* dst = lv + r * pitch;
        for (std::uint64_t c = 0; c < pitch; ++c)
          dst[c] = (c < w && (src[c >> 3] & (0x80u >> (c & 7)))) ? top : 0;
      }
    } else {
      for (std::uint64_t i = 0; i < level_bytes; ++i) lv[i] = rescale_[lv[i]];
    }
    out.levels = levels;
    out.levels_size = level_bytes;
    out.box = DPoint(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
    out.pitch = static_cast<std::uint32_t>(pitch);
    out.draw_pos = DPoint(fetched.gmptGlyphOrigin.x, metrics_.tmAscent - fetched.gmptGlyphOrigin.y);
  }

  ABC abc{};
  if (!GetCharABCWidthsA(dc, code, code, &abc)) return false;
  const std::int64_t advance = std::int64_t{abc.abcA} + abc.abcB + abc.abcC;
  out.feed = DPoint(static_cast<std::int32_t>(std::clamp<std::int64_t>(advance, INT32_MIN, INT32_MAX)),
                    metrics_.tmHeight + metrics_.tmExternalLeading);
  cell = out;
  return true;
}

bool DGlyph::Clip(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::int32_t pitch,
                  std::uint32_t bytes_per_pixel, std::int32_t* dx, std::int32_t* dy, std::int32_t* sx,
                  std::int32_t* sy, std::uint32_t* w, std::uint32_t* h) const {
  const AACharCell& c = *current_;
  if (c.box.x <= 0 || c.box.y <= 0 || !c.levels || width <= 0 || height <= 0) return false;
  if (pitch < 0 || std::uint64_t(pitch) < std::uint64_t(width) * bytes_per_pixel) return false;
  *dx = x, *dy = y, *sx = 0, *sy = 0;
  *w = static_cast<std::uint32_t>(c.box.x), *h = static_cast<std::uint32_t>(c.box.y);
  DimgClipBoth(*dx, *dy, *sx, *sy, *w, *h, static_cast<std::uint32_t>(width),
               static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(c.box.x),
               static_cast<std::uint32_t>(c.box.y));
  return *w > 0 && *h > 0;
}

void DGlyph::DrawToAlphaPlane(std::uint8_t* plane, std::int32_t x, std::int32_t y, std::int32_t width,
                              std::int32_t height, std::int32_t pitch) const {
  std::int32_t dx, dy, sx, sy;
  std::uint32_t w, h;
  if (!plane || !Clip(x, y, width, height, pitch, 1, &dx, &dy, &sx, &sy, &w, &h)) return;
  const AACharCell& c = *current_;
  for (std::uint32_t r = 0; r < h; ++r) {
    const std::uint8_t* src = c.levels.Get() + std::uint64_t(sy + r) * c.pitch + sx;
    std::uint8_t* dst = plane + std::uint64_t(dy + r) * std::uint64_t(pitch) + dx;
    for (std::uint32_t i = 0; i < w; ++i)
      dst[i] = static_cast<std::uint8_t>(31 - std::min<std::uint8_t>(src[i], 31));
  }
}

void DGlyph::DrawToARGB8888(void* pixels, std::int32_t x, std::int32_t y, std::int32_t width,
                            std::int32_t height, std::int32_t pitch) const {
  std::int32_t dx, dy, sx, sy;
  std::uint32_t w, h;
  if (!pixels || !Clip(x, y, width, height, pitch, 4, &dx, &dy, &sx, &sy, &w, &h)) return;
  const AACharCell& c = *current_;
  auto* base = static_cast<std::uint8_t*>(pixels);
  for (std::uint32_t r = 0; r < h; ++r) {
    const std::uint8_t* src = c.levels.Get() + std::uint64_t(sy + r) * c.pitch + sx;
    std::uint8_t* dst = base + std::uint64_t(dy + r) * std::uint64_t(pitch) + std::uint64_t(dx) * 4;
    for (std::uint32_t i = 0; i < w; ++i) {
      std::uint32_t p;
      std::memcpy(&p, dst + 4 * i, 4);
      p = (p & 0x00FFFFFFu) | (std::uint32_t{src[i]} << 24);
      std::memcpy(dst + 4 * i, &p, 4);
    }
  }
}

void DGlyph::DrawToARGB4444(void* pixels, std::int32_t x, std::int32_t y, std::int32_t width,
                            std::int32_t height, std::int32_t pitch) const {
  std::int32_t dx, dy, sx, sy;
  std::uint32_t w, h;
  if (!pixels || !Clip(x, y, width, height, pitch, 2, &dx, &dy, &sx, &sy, &w, &h)) return;
  const AACharCell& c = *current_;
  auto* base = static_cast<std::uint8_t*>(pixels);
  for (std::uint32_t r = 0; r < h; ++r) {
    const std::uint8_t* src = c.levels.Get() + std::uint64_t(sy + r) * c.pitch + sx;
    std::uint8_t* dst = base + std::uint64_t(dy + r) * std::uint64_t(pitch) + std::uint64_t(dx) * 2;
    for (std::uint32_t i = 0; i < w; ++i) {
      std::uint16_t p;
      std::memcpy(&p, dst + 2 * i, 2);
      p = static_cast<std::uint16_t>((p & 0x0FFF) | (std::min<std::uint32_t>(src[i], 15) << 12));
      std::memcpy(dst + 2 * i, &p, 2);
    }
  }
}
