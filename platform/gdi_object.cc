// GDI objects: the one typed handle table, stock objects, pens, brushes, font descriptions,
// palettes and bitmaps (DIB sections included), and the object queries.
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>

#include "platform/gdi_internal.h"

namespace orvane::gdi {
namespace {

constexpr UINT_PTR kStockBase = 0x6F000000u;  // stock object i is kStockBase + 4 * (i + 1)
constexpr UINT_PTR kFirstHandle = 0x6F100000u;
constexpr int kStockCount = DEFAULT_GUI_FONT + 1;
constexpr int kDefaultBitmapSlot = kStockCount;  // the 1 x 1 bitmap of new memory DCs

struct Table {
  std::map<UINT_PTR, ObjectPtr> objects;
  UINT_PTR next = kFirstHandle;
};

Table& TheTable() {
  static Table* t = new Table;  // reachable to the end: DCs of static objects may die late
  return *t;
}

LOGFONTA StockFont(int index) {
  LOGFONTA lf{};
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  if (index == DEFAULT_GUI_FONT) {
    lf.lfHeight = -12;
    std::strcpy(lf.lfFaceName, "IPAGothic");
  } else if (index == OEM_FIXED_FONT || index == ANSI_FIXED_FONT || index == SYSTEM_FIXED_FONT) {
    lf.lfHeight = 16;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::strcpy(lf.lfFaceName, "IPAGothic");
  } else {
    lf.lfHeight = 16;
    lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    std::strcpy(lf.lfFaceName, "IPAPGothic");
  }
  return lf;
}

std::unique_ptr<Bitmap> NewPixels(int width, int height, int bpp, PixelFormat format, std::uint64_t stride,
                                  bool top_down) {
  if (width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::uint64_t size = stride * static_cast<std::uint64_t>(height);
  if (size > kMaxImageBytes) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto b = std::make_unique<Bitmap>();
  b->width = width;
  b->height = height;
  b->bpp = bpp;
  b->format = format;
  b->size = static_cast<std::size_t>(size);
  b->storage.reset(new (std::nothrow) std::uint8_t[b->size]());
  if (!b->storage) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (top_down) {
    b->stride = static_cast<std::ptrdiff_t>(stride);
    b->row0 = b->storage.get();
  } else {
    b->stride = -static_cast<std::ptrdiff_t>(stride);
    b->row0 = b->storage.get() + (size - stride);
  }
  return b;
}

HBITMAP InsertBitmap(std::unique_ptr<Bitmap> b) {
  if (!b) return nullptr;
  auto o = std::make_shared<Object>();
  o->kind = OBJ_BITMAP;
  o->bitmap = std::move(b);
  return static_cast<HBITMAP>(Insert(o));
}

// The format of a DIB description: 16 bits 5-5-5 (BI_RGB or its masks) or 5-6-5, 24 bits, 32 bits
// (BI_RGB or the 8-8-8 masks). False for anything else.
bool DibFormat(const BITMAPINFO* info, PixelFormat* format, DWORD masks[3]) {
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1) return false;
  DWORD m[3] = {0, 0, 0};
  if (h.biCompression == BI_BITFIELDS) {
    std::memcpy(m, reinterpret_cast<const BYTE*>(info) + sizeof(BITMAPINFOHEADER), sizeof(m));
  } else if (h.biCompression != BI_RGB) {
    return false;
  }
  switch (h.biBitCount) {
    case 16:
      if (h.biCompression == BI_RGB || (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F)) {
        *format = PixelFormat::k555;
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        return true;
      }
      if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F) {
        *format = PixelFormat::k565;
        masks[0] = 0xF800, masks[1] = 0x07E0, masks[2] = 0x001F;
        return true;
      }
      return false;
    case 24:
      if (h.biCompression != BI_RGB) return false;
      *format = PixelFormat::k888;
      masks[0] = masks[1] = masks[2] = 0;
      return true;
    case 32:
      if (h.biCompression == BI_BITFIELDS && !(m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF))
        return false;
      *format = PixelFormat::kX888;
      masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
      return true;
    default:
      return false;
  }
}

std::uint64_t DibStride(int width, int bpp) {
  return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bpp) + 31) / 32 * 4;
}

// A DIB description's size; false for a zero or unrepresentable height.
bool DibSize(const BITMAPINFOHEADER& h, int* width, int* height, bool* top_down) {
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  *width = h.biWidth;
  *top_down = h.biHeight < 0;
  *height = *top_down ? -h.biHeight : h.biHeight;
  return true;
}

int CopyOut(const void* data, std::size_t n, int size, void* out) {
  if (!out) return static_cast<int>(n);
  if (size <= 0) return 0;
  std::size_t k = std::min(n, static_cast<std::size_t>(size));
  std::memcpy(out, data, k);
  return static_cast<int>(k);
}

}  // namespace

std::recursive_mutex& Lock() {
  static std::recursive_mutex* m = new std::recursive_mutex;  // outlives every static user
  return *m;
}

ObjectPtr Find(HGDIOBJ handle, UINT kind) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  UINT_PTR h = reinterpret_cast<UINT_PTR>(handle);
  if (h > kStockBase && h <= kStockBase + 4 * kStockCount && (h & 3) == 0) {
    GetStockObject(static_cast<int>((h - kStockBase) / 4 - 1));  // made on first use
  }
  Table& t = TheTable();
  auto it = t.objects.find(h);
  if (it == t.objects.end() || it->second->doomed || (kind && it->second->kind != kind)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

Dc* FindDc(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  ObjectPtr o = Find(dc);
  if (!o || !o->dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return o->dc.get();
}

HGDIOBJ Insert(const ObjectPtr& object) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Table& t = TheTable();
  UINT_PTR h = t.next;
  t.next += 4;
  object->handle = reinterpret_cast<HGDIOBJ>(h);
  t.objects.emplace(h, object);
  return object->handle;
}

void Retain(const ObjectPtr& object) {
  if (object) ++object->selected;
}

void LetGo(const ObjectPtr& object) {
  if (!object) return;
  std::lock_guard<std::recursive_mutex> l(Lock());
  if (--object->selected > 0) return;
  object->owner_dc = nullptr;
  if (object->doomed) TheTable().objects.erase(reinterpret_cast<UINT_PTR>(object->handle));
}

// The default bitmap of memory DCs (internal stock object).
ObjectPtr DefaultBitmap() {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Table& t = TheTable();
  UINT_PTR h = kStockBase + 4 * (kDefaultBitmapSlot + 1);
  auto it = t.objects.find(h);
  if (it != t.objects.end()) return it->second;
  auto o = std::make_shared<Object>();
  o->kind = OBJ_BITMAP;
  o->stock = true;
  o->handle = reinterpret_cast<HGDIOBJ>(h);
  o->bitmap = NewPixels(1, 1, 32, PixelFormat::kX888, 4, true);
  t.objects.emplace(h, o);
  return o;
}

}  // namespace orvane::gdi

using namespace orvane::gdi;

HGDIOBJ GetStockObject(int index) {
  if (index < 0 || index >= kStockCount || index == 9) return nullptr;
  std::lock_guard<std::recursive_mutex> l(Lock());
  Table& t = TheTable();
  UINT_PTR h = kStockBase + 4 * static_cast<UINT_PTR>(index + 1);
  if (t.objects.count(h)) return reinterpret_cast<HGDIOBJ>(h);
  auto o = std::make_shared<Object>();
  o->stock = true;
  o->handle = reinterpret_cast<HGDIOBJ>(h);
  static const COLORREF kBrushColors[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
  if (index <= BLACK_BRUSH) {
    o->kind = OBJ_BRUSH;
    o->style = BS_SOLID;
    o->color = kBrushColors[index];
  } else if (index == NULL_BRUSH) {
    o->kind = OBJ_BRUSH;
    o->style = BS_NULL;
  } else if (index <= NULL_PEN) {
    o->kind = OBJ_PEN;
    o->style = index == NULL_PEN ? PS_NULL : PS_SOLID;
    o->width = 1;
    o->color = index == WHITE_PEN ? 0xFFFFFF : 0x000000;
  } else if (index == DEFAULT_PALETTE) {
    o->kind = OBJ_PAL;
    static const BYTE kLevels[] = {0, 0x80, 0xFF};
    for (BYTE r : kLevels)
      for (BYTE g : kLevels)
        for (BYTE b : kLevels) o->palette.push_back({r, g, b, 0});
  } else {
    o->kind = OBJ_FONT;
    o->font = StockFont(index);
  }
  t.objects.emplace(h, o);
  return o->handle;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  ObjectPtr o = Find(object);
  if (!o || o->dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->stock) return TRUE;
  if (o->selected > 0) {
    o->doomed = true;  // goes when its DC lets it go
    return TRUE;
  }
  TheTable().objects.erase(reinterpret_cast<UINT_PTR>(object));
  return TRUE;
}

DWORD GetObjectType(HGDIOBJ object) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  ObjectPtr o = Find(object);
  if (!o) return 0;
  if (o->kind == OBJ_PEN && o->ext_pen) return OBJ_EXTPEN;
  return o->kind;
}

int GetObjectA(HGDIOBJ object, int size, LPVOID out) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  ObjectPtr o = Find(object);
  if (!o) return 0;
  switch (o->kind) {
    case OBJ_PEN: {
      if (!o->ext_pen) {
        LOGPEN p{o->style, {o->width, 0}, o->color};
        return CopyOut(&p, sizeof(p), size, out);
      }
      std::size_t n = std::max<std::size_t>(o->style_entries.size(), 1);
      std::vector<BYTE> buf(sizeof(EXTLOGPEN) + (n - 1) * sizeof(DWORD), 0);
      auto* p = reinterpret_cast<EXTLOGPEN*>(buf.data());
      p->elpPenStyle = o->style;
      p->elpWidth = static_cast<DWORD>(o->width);
      p->elpBrushStyle = o->brush_style;
      p->elpColor = o->color;
      p->elpHatch = o->hatch;
      p->elpNumEntries = static_cast<DWORD>(o->style_entries.size());
      if (!o->style_entries.empty())
        std::memcpy(buf.data() + offsetof(EXTLOGPEN, elpStyleEntry), o->style_entries.data(),
                    o->style_entries.size() * sizeof(DWORD));
      return CopyOut(buf.data(), buf.size(), size, out);
    }
    case OBJ_BRUSH: {
      LOGBRUSH b{o->style, o->color, o->hatch};
      return CopyOut(&b, sizeof(b), size, out);
    }
    case OBJ_FONT:
      return CopyOut(&o->font, sizeof(o->font), size, out);
    case OBJ_PAL: {
      WORD n = static_cast<WORD>(o->palette.size());
      return CopyOut(&n, sizeof(n), size, out);
    }
    case OBJ_BITMAP: {
      const Bitmap& b = *o->bitmap;
      DIBSECTION ds{};
      ds.dsBm.bmType = 0;
      ds.dsBm.bmWidth = b.width;
      ds.dsBm.bmHeight = b.height;
      ds.dsBm.bmWidthBytes = static_cast<LONG>(b.stride < 0 ? -b.stride : b.stride);
      ds.dsBm.bmPlanes = 1;
      ds.dsBm.bmBitsPixel = static_cast<WORD>(b.bpp);
      ds.dsBm.bmBits = b.dib ? b.storage.get() : nullptr;
      if (!b.dib || (out && size < static_cast<int>(sizeof(DIBSECTION))))
        return CopyOut(&ds.dsBm, sizeof(BITMAP), size, out);
      ds.dsBmih = b.header;
      std::memcpy(ds.dsBitfields, b.masks, sizeof(ds.dsBitfields));
      return CopyOut(&ds, sizeof(ds), size, out);
    }
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
  }
}

HPEN CreatePen(int style, int width, COLORREF color) {
  LOGPEN p{static_cast<UINT>(style), {width, 0}, color};
  return CreatePenIndirect(&p);
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  if (!pen || (pen->lopnStyle & PS_STYLE_MASK) > PS_INSIDEFRAME) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto o = std::make_shared<Object>();
  o->kind = OBJ_PEN;
  o->style = pen->lopnStyle;
  o->width = std::max<LONG>(pen->lopnWidth.x, 0);
  o->color = pen->lopnColor & 0xFFFFFF;
  return static_cast<HPEN>(Insert(o));
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD style_count, const DWORD* styles) {
  if (!brush || (style & PS_STYLE_MASK) > PS_USERSTYLE || style_count > 16 || (style_count > 0 && !styles) ||
      width > INT_MAX) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto o = std::make_shared<Object>();
  o->kind = OBJ_PEN;
  o->ext_pen = true;
  o->style = style;
  o->width = static_cast<int>(width);
  o->brush_style = brush->lbStyle;
  o->color = brush->lbColor & 0xFFFFFF;
  o->hatch = brush->lbHatch;
  if (style_count) o->style_entries.assign(styles, styles + style_count);
  return static_cast<HPEN>(Insert(o));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  if (!brush || brush->lbStyle > BS_HATCHED ||
      (brush->lbStyle == BS_HATCHED && brush->lbHatch > HS_DIAGCROSS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto o = std::make_shared<Object>();
  o->kind = OBJ_BRUSH;
  o->style = brush->lbStyle;
  o->color = brush->lbColor & 0xFFFFFF;
  o->hatch = brush->lbStyle == BS_HATCHED ? brush->lbHatch : 0;
  return static_cast<HBRUSH>(Insert(o));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  LOGBRUSH b{BS_SOLID, color, 0};
  return CreateBrushIndirect(&b);
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
  LOGBRUSH b{BS_HATCHED, color, static_cast<ULONG_PTR>(static_cast<UINT>(hatch))};
  return CreateBrushIndirect(&b);
}

HFONT CreateFontIndirectA(const LOGFONTA* lf) {
  if (!lf) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto o = std::make_shared<Object>();
  o->kind = OBJ_FONT;
  o->font = *lf;
  o->font.lfFaceName[LF_FACESIZE - 1] = 0;
  return static_cast<HFONT>(Insert(o));
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strike_out, DWORD charset, DWORD out_precision, DWORD clip_precision,
                  DWORD quality, DWORD pitch_and_family, LPCSTR face) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic);
  lf.lfUnderline = static_cast<BYTE>(underline);
  lf.lfStrikeOut = static_cast<BYTE>(strike_out);
  lf.lfCharSet = static_cast<BYTE>(charset);
  lf.lfOutPrecision = static_cast<BYTE>(out_precision);
  lf.lfClipPrecision = static_cast<BYTE>(clip_precision);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitch_and_family);
  if (face) std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirectA(&lf);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  if (!palette || palette->palNumEntries == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto o = std::make_shared<Object>();
  o->kind = OBJ_PAL;
  o->palette.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  return static_cast<HPALETTE>(Insert(o));
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bpp, const void* bits) {
  PixelFormat f;
  if (bpp == 16)
    f = PixelFormat::k555;
  else if (bpp == 24)
    f = PixelFormat::k888;
  else if (bpp == 32)
    f = PixelFormat::kX888;
  else
    f = PixelFormat::kX888, planes = 0;
  if (planes != 1 || width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Rows of device-dependent bitmaps are padded to 2 bytes.
  std::uint64_t stride = (static_cast<std::uint64_t>(width) * bpp + 15) / 16 * 2;
  auto b = NewPixels(width, height, static_cast<int>(bpp), f, stride, true);
  if (!b) return nullptr;
  if (bits) std::memcpy(b->storage.get(), bits, b->size);
  return InsertBitmap(std::move(b));
}

HBITMAP CreateBitmapIndirect(const BITMAP* bitmap) {
  if (!bitmap) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateBitmap(bitmap->bmWidth, bitmap->bmHeight, bitmap->bmPlanes, bitmap->bmBitsPixel,
                      bitmap->bmBits);
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  if (width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return InsertBitmap(
      NewPixels(width, height, 32, PixelFormat::kX888, 4ull * static_cast<unsigned>(width), true));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD) {
  if (bits) *bits = nullptr;
  PixelFormat f;
  DWORD masks[3];
  int w, h;
  bool top_down;
  if (!info || usage != DIB_RGB_COLORS || section || !DibFormat(info, &f, masks) ||
      !DibSize(info->bmiHeader, &w, &h, &top_down)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int bpp = info->bmiHeader.biBitCount;
  auto b = NewPixels(w, h, bpp, f, DibStride(w, bpp), top_down);
  if (!b) return nullptr;
  b->dib = true;
  b->header = info->bmiHeader;
  b->header.biSize = sizeof(BITMAPINFOHEADER);
  b->header.biSizeImage = static_cast<DWORD>(b->size);
  std::memcpy(b->masks, masks, sizeof(masks));
  void* p = b->storage.get();
  HBITMAP hb = InsertBitmap(std::move(b));
  if (hb && bits) *bits = p;
  return hb;
}

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage) {
  int w, h;
  bool top_down;
  if (!header || !DibSize(*header, &w, &h, &top_down)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(init & CBM_INIT)) return CreateCompatibleBitmap(dc, w, h);
  PixelFormat f;
  DWORD masks[3];
  int sw, sh;
  bool src_top_down;
  if (!bits || !info || usage != DIB_RGB_COLORS || !DibFormat(info, &f, masks) ||
      !DibSize(info->bmiHeader, &sw, &sh, &src_top_down)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto b = NewPixels(w, h, 32, PixelFormat::kX888, 4ull * static_cast<unsigned>(w), true);
  if (!b) return nullptr;
  std::uint64_t sstride = DibStride(sw, info->bmiHeader.biBitCount);
  if (sstride * static_cast<std::uint64_t>(sh) > kMaxImageBytes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto* src = static_cast<const std::uint8_t*>(bits);
  for (int y = 0; y < std::min(h, sh); ++y) {
    const std::uint8_t* srow = src + sstride * static_cast<std::uint64_t>(src_top_down ? y : sh - 1 - y);
    std::uint8_t* drow = b->row0 + b->stride * y;
    for (int x = 0; x < std::min(w, sw); ++x) Put(PixelFormat::kX888, drow, x, ToXrgb(f, srow, x));
  }
  return InsertBitmap(std::move(b));
}

HBITMAP LoadBitmapA(HINSTANCE, LPCSTR) {
  SetLastError(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND: no program resources on this host
  return nullptr;
}
