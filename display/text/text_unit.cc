// The Text unit: the GDI canvas, measuring, and the stamp of canvas text into Draw images.
#include "display/text/text_unit.h"

#include <algorithm>
#include <cstring>

#include "display/draw/draw_image.h"
#include "display/draw/image_handle.h"
#include "imaging/hal/dhal.h"

namespace {

// The canvas's DIB section: top-down, 16 bits, 5-5-5 masks.
struct CanvasInfo {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

// The masked fill: `colour` where the canvas pixel is not 0. The span table's routine when the
// span library is initialised, the same loop otherwise.
void StampRow(std::uint8_t* dst, const std::uint16_t* mask, std::uint32_t count, std::uint16_t colour) {
  if (DHalSpans.FillMask16) {
    DHalSpans.FillMask16(dst, mask, count, colour);
    return;
  }
  for (std::uint32_t i = 0; i < count; ++i)
    if (mask[i]) std::memcpy(dst + 2 * i, &colour, 2);
}

DRef<DGdiCanvas>& GlobalCanvas() {
  static DRef<DGdiCanvas> canvas;
  return canvas;
}

DRef<TextFont>& GlobalDefaultFont() {
  static DRef<TextFont> font;
  return font;
}

}  // namespace

DGdiCanvas::~DGdiCanvas() {
  Close();
}

bool DGdiCanvas::Create() {
  dc_.CreateCompatible();
  dc_.SetBkMode(TRANSPARENT);
  dc_.SetTextColor(RGB(255, 255, 255));
  DBrush black;
  black.CreateStock(BLACK_BRUSH);
  dc_.SelectObject(black);
  size_ = DPoint(0, 0);
  bits_ = nullptr;
  return true;
}

void DGdiCanvas::Close() {
  dc_.Delete();
  bitmap_.Delete();
  size_ = DPoint(0, 0);
  bits_ = nullptr;
}

bool DGdiCanvas::Fit(std::int64_t bw, std::int64_t bh) {
  if (bits_ && size_.x >= bw && size_.y >= bh) return true;
  // The new size depends on the box alone; the width is kept even.
  std::int64_t w = std::max<std::int64_t>(bw, 640), h = std::max<std::int64_t>(bh, 480);
  w = (w + 1) & ~std::int64_t{1};
  // The old section may still be selected: the platform deletes it when it is deselected.
  bitmap_.Delete();
  size_ = DPoint(0, 0);
  bits_ = nullptr;
  if (w > INT32_MAX || h > INT32_MAX) return false;
  CanvasInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = static_cast<LONG>(w);
  info.header.biHeight = -static_cast<LONG>(h);
  info.header.biPlanes = 1;
  info.header.biBitCount = 16;
  info.header.biCompression = BI_BITFIELDS;
  info.masks[0] = 0x7C00;
  info.masks[1] = 0x03E0;
  info.masks[2] = 0x001F;
  void* bits = bitmap_.CreateDIBSection(dc_, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS);
  if (!bits) {
    bitmap_.Delete();
    return false;
  }
  dc_.SelectObject(bitmap_);
  size_ = DPoint(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
  bits_ = static_cast<std::uint16_t*>(bits);
  return true;
}

DRect DGdiCanvas::MeasureText(TextFont& font, const DPoint& box, std::uint32_t layout, const DString& text) {
  if (font.font) dc_.SelectObject(*font.font);
  DRect r = dc_.DrawTextWrapped(text, DRect(0, 0, box.x, box.y), layout | kDtwMeasure);
  return DRect(0, 0, r.width, r.height);
}

DRect DGdiCanvas::DrawTextToImage(DImage& target, TextFont& font, std::uint16_t colour, std::int32_t x,
                                  std::int32_t y, const DRect& box, const DString& text,
                                  std::uint32_t layout) {
  const std::uint32_t format = static_cast<std::uint32_t>(target.GetFormat());
  if (format != 4 && format != 6) return DRect(0, 0, 0, 0);
  if (font.font) dc_.SelectObject(*font.font);
  // Negative sizes count as 0.
  const std::int32_t bw = std::max(box.width, 0), bh = std::max(box.height, 0);
  if (!Fit(bw, bh)) return DRect(0, 0, 0, 0);
  dc_.PatBlt(0, 0, bw, bh, PATCOPY);
  DRect drawn = dc_.DrawTextWrapped(text, DRect(0, 0, bw, bh), layout);
  GdiFlush();

  // The block's place in the target and the canvas part that goes there, clipped against the
  // target on all four sides in 64 bits.
  std::int64_t sx = std::max<std::int64_t>(-std::int64_t{x}, 0),
               sy = std::max<std::int64_t>(-std::int64_t{y}, 0);
  std::int64_t dx = std::int64_t{box.x} + std::max(x, 0), dy = std::int64_t{box.y} + std::max(y, 0);
  std::int64_t w = bw - sx, h = bh - sy;
  if (dx < 0) sx -= dx, w += dx, dx = 0;
  if (dy < 0) sy -= dy, h += dy, dy = 0;
  w = std::min<std::int64_t>(w, std::int64_t{target.GetWidth()} - dx);
  h = std::min<std::int64_t>(h, std::int64_t{target.GetHeight()} - dy);
  if (w > 0 && h > 0) {
    target.Lock();
    std::uint8_t* row = target.GetPixelPointer(static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy));
    const std::uint16_t* src = bits_ + sy * size_.x + sx;
    for (std::int64_t r = 0; r < h && row; ++r) {
      StampRow(row, src, static_cast<std::uint32_t>(w), colour);
      row = target.NextLine(row);
      src += size_.x;
    }
    target.Unlock();
  }
  return DRect(0, 0, drawn.width, drawn.height);
}

DRef<TextFont> CreateTextFont(std::int32_t height, std::int32_t weight) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  const char face[] = "ＭＳ ゴシック";
  static_assert(sizeof(face) <= LF_FACESIZE);
  std::memcpy(lf.lfFaceName, face, sizeof(face));
  DRef<TextFont> out;
  try {
    DRef<DFont> font;
    font.Alloc(1);
    if (!font->CreateIndirect(&lf)) return out;
    out.Alloc(1);
    out->font = font;
    out->last_output = DRect(0, 0, 0, 0);
  } catch (...) {
    out.Release();
  }
  return out;
}

DRect MeasureTextExtent(DGdiCanvas& canvas, TextFont& font, const DString& text) {
  return canvas.MeasureText(font, DPoint(65535, 65535), 0x212, text);
}

std::int32_t OutputTextToImage(ImageHandle& handle, DGdiCanvas& canvas, TextFont& font, const DString& text) {
  auto* image = dynamic_cast<DrawImage*>(handle.image.Get());
  DImage* pixels = image ? image->GetImage() : nullptr;
  if (!pixels) return 0;
  const DRect& b = handle.text_box;
  DRect box(b.x, b.y, std::min(b.width, image->GetWidth()), std::min(b.height, image->GetHeight()));
  DRect r = canvas.DrawTextToImage(*pixels, font, handle.text_color, handle.text_pos.x, handle.text_pos.y,
                                   box, text, handle.layout);
  font.last_output = r;
  if (handle.text_mode == 1)
    handle.text_pos.y = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{handle.text_pos.y} + r.height, INT32_MIN, INT32_MAX));
  return r.height;
}

DGdiCanvas* TextCanvas() {
  return GlobalCanvas().Get();
}

bool StartTextUnit() {
  DRef<DGdiCanvas>& c = GlobalCanvas();
  if (!c) {
    try {
      c.Alloc(1);
    } catch (...) {
      return false;
    }
  }
  return c->Create();
}

void StopTextUnit() {
  DRef<DGdiCanvas>& c = GlobalCanvas();
  if (!c) return;
  c->Close();
  c.Release();
}

bool InitDefaultTextFont() {
  GlobalDefaultFont() = CreateTextFont(20, 400);
  return static_cast<bool>(GlobalDefaultFont());
}

void TermDefaultTextFont() {
  GlobalDefaultFont().Release();
}

DRef<TextFont> DefaultTextFont() {
  return GlobalDefaultFont();
}
