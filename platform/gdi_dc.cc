// Device contexts: memory, display, information and window DCs, their selections and saved
// states, the pixels they draw into, and the drawing operations (pattern fills, blits, lines).
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/client_surface.h"
#include "platform/gdi_internal.h"
#include "platform/user.h"

namespace orvane::gdi {

ObjectPtr DefaultBitmap();

namespace {

std::uint32_t Expand5(std::uint32_t v) {
  return (v << 3) | (v >> 2);
}
std::uint32_t Expand6(std::uint32_t v) {
  return (v << 2) | (v >> 4);
}

// A pixel value from 0x00RRGGBB.
std::uint32_t FromXrgb(PixelFormat f, std::uint32_t xrgb) {
  std::uint32_t r = (xrgb >> 16) & 0xFF, g = (xrgb >> 8) & 0xFF, b = xrgb & 0xFF;
  switch (f) {
    case PixelFormat::k555:
      return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case PixelFormat::k565:
      return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    default:
      return xrgb & 0xFFFFFF;
  }
}

int BytesPerPixel(PixelFormat f) {
  return f == PixelFormat::kX888 ? 4 : f == PixelFormat::k888 ? 3 : 2;
}

void RetainState(const DcState& s) {
  Retain(s.pen), Retain(s.brush), Retain(s.font), Retain(s.bitmap), Retain(s.palette);
}
void LetGoState(const DcState& s) {
  LetGo(s.pen), LetGo(s.brush), LetGo(s.font), LetGo(s.bitmap), LetGo(s.palette);
}

HDC NewDc(Dc::Kind kind) {
  auto o = std::make_shared<Object>();
  o->kind = kind == Dc::kMemory ? OBJ_MEMDC : OBJ_DC;
  o->dc = std::make_unique<Dc>();
  Dc& dc = *o->dc;
  dc.kind = kind;
  dc.st.pen = Find(GetStockObject(BLACK_PEN));
  dc.st.brush = Find(GetStockObject(WHITE_BRUSH));
  dc.st.font = Find(GetStockObject(SYSTEM_FONT));
  dc.st.palette = Find(GetStockObject(DEFAULT_PALETTE));
  if (kind == Dc::kMemory) dc.st.bitmap = DefaultBitmap();
  RetainState(dc.st);
  HDC h = static_cast<HDC>(Insert(o));
  if (dc.st.bitmap && !dc.st.bitmap->stock) dc.st.bitmap->owner_dc = h;
  return h;
}

bool IsDisplay(LPCSTR driver, LPCSTR device) {
  return (driver && strcasecmp(driver, "DISPLAY") == 0) ||
         (!driver && device && strcasecmp(device, "DISPLAY") == 0);
}

// Deletes a DC's table entry and lets go of everything it holds.
BOOL DropDc(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  ObjectPtr o = Find(dc);
  if (!o || !o->dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  LetGoState(o->dc->st);
  for (const DcState& s : o->dc->saved) LetGoState(s);
  o->dc->saved.clear();
  o->dc->st = DcState{};
  o->doomed = true;
  o->selected = 1;
  LetGo(o);  // leaves the table
  return TRUE;
}

RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool Empty(const RECT& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

bool HatchBit(ULONG_PTR hatch, int x, int y) {
  x &= 7, y &= 7;
  switch (hatch) {
    case HS_HORIZONTAL:
      return y == 0;
    case HS_VERTICAL:
      return x == 0;
    case HS_FDIAGONAL:
      return x == y;
    case HS_BDIAGONAL:
      return x + y == 7;
    case HS_CROSS:
      return x == 0 || y == 0;
    default:
      return x == y || x + y == 7;
  }
}

// Fills canvas rectangle r with the DC's brush.
void FillWithBrush(const Dc& dc, const Canvas& c, const RECT& r) {
  const Object* b = dc.st.brush.get();
  if (!b || b->style == BS_NULL) return;
  if (b->style != BS_HATCHED) {
    std::uint32_t px = Encode(c.format, b->color);
    for (int y = r.top; y < r.bottom; ++y) FillSpan(c, y, r.left, r.right, px);
    return;
  }
  std::uint32_t fg = Encode(c.format, b->color), bg = Encode(c.format, dc.st.bk_color);
  bool opaque = dc.st.bk_mode == OPAQUE;
  for (int y = r.top; y < r.bottom; ++y) {
    std::uint8_t* row = c.Row(y);
    for (int x = r.left; x < r.right; ++x) {
      bool on = HatchBit(b->hatch, x - c.ox, y - c.oy);
      if (on)
        Put(c.format, row, x, fg);
      else if (opaque)
        Put(c.format, row, x, bg);
    }
  }
}

std::int64_t FloorDiv(__int128 a, __int128 b) {
  __int128 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return static_cast<std::int64_t>(q);
}

// Plots the pixels of a line from p0 towards p1 (logical coordinates), leaving out p1; only the
// steps whose major coordinate lies near the clip rectangle are visited.
void DrawLine(Canvas& c, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, int width,
              std::uint32_t px) {
  std::int64_t dx = x1 - x0, dy = y1 - y0;
  if (dx == 0 && dy == 0) return;
  bool x_major = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
  std::int64_t n = x_major ? (dx < 0 ? -dx : dx) : (dy < 0 ? -dy : dy);
  std::int64_t minor_d = x_major ? dy : dx;
  int step = (x_major ? dx : dy) < 0 ? -1 : 1;
  std::int64_t m0 = x_major ? x0 : y0;
  std::int64_t n0 = x_major ? y0 : x0;
  int half = std::max(width, 1) / 2;
  int w = std::max(width, 1);
  // The major coordinates worth visiting, in logical units.
  std::int64_t lo = (x_major ? c.clip.left - c.ox : c.clip.top - c.oy) - w;
  std::int64_t hi = (x_major ? c.clip.right - c.ox : c.clip.bottom - c.oy) + w;
  std::int64_t t_lo, t_hi;  // t in [t_lo, t_hi)
  if (step > 0) {
    t_lo = lo - m0, t_hi = hi - m0;
  } else {
    t_lo = m0 - hi, t_hi = m0 - lo;
  }
  t_lo = std::max<std::int64_t>(t_lo, 0);
  t_hi = std::min<std::int64_t>(t_hi, n);
  for (std::int64_t t = t_lo; t < t_hi; ++t) {
    std::int64_t major = m0 + step * t;
    std::int64_t minor =
        n0 + FloorDiv(static_cast<__int128>(2) * t * minor_d + n, static_cast<__int128>(2) * n);
    std::int64_t lx = x_major ? major : minor, ly = x_major ? minor : major;
    RECT r = ClipLogical(c, lx - half, ly - half, lx - half + w, ly - half + w);
    for (int y = r.top; y < r.bottom; ++y) FillSpan(c, y, r.left, r.right, px);
    c.Touch(r);
  }
}

// A copy of canvas pixels, for blits whose source and destination share memory.
struct Snapshot {
  std::vector<std::uint8_t> bytes;
  Canvas canvas;
};

void TakeSnapshot(const Canvas& src, Snapshot* s) {
  int bpp = BytesPerPixel(src.format);
  std::size_t row = static_cast<std::size_t>(src.width) * bpp;
  s->bytes.resize(row * static_cast<std::size_t>(src.height));
  for (int y = 0; y < src.height; ++y) std::memcpy(s->bytes.data() + row * y, src.Row(y), row);
  s->canvas = src;
  s->canvas.row0 = s->bytes.data();
  s->canvas.stride = static_cast<std::ptrdiff_t>(row);
}

}  // namespace

std::uint32_t Encode(PixelFormat f, COLORREF color) {
  std::uint32_t r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  return FromXrgb(f, (r << 16) | (g << 8) | b);
}

std::uint32_t ToXrgb(PixelFormat f, const std::uint8_t* row, int x) {
  switch (f) {
    case PixelFormat::k555: {
      std::uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
      return (Expand5((v >> 10) & 31) << 16) | (Expand5((v >> 5) & 31) << 8) | Expand5(v & 31);
    }
    case PixelFormat::k565: {
      std::uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
      return (Expand5((v >> 11) & 31) << 16) | (Expand6((v >> 5) & 63) << 8) | Expand5(v & 31);
    }
    case PixelFormat::k888:
      return (static_cast<std::uint32_t>(row[3 * x + 2]) << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    default: {
      std::uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      return v & 0xFFFFFF;
    }
  }
}

void Put(PixelFormat f, std::uint8_t* row, int x, std::uint32_t pixel) {
  switch (f) {
    case PixelFormat::k555:
    case PixelFormat::k565:
      row[2 * x] = static_cast<std::uint8_t>(pixel);
      row[2 * x + 1] = static_cast<std::uint8_t>(pixel >> 8);
      break;
    case PixelFormat::k888:
      row[3 * x] = static_cast<std::uint8_t>(pixel);
      row[3 * x + 1] = static_cast<std::uint8_t>(pixel >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(pixel >> 16);
      break;
    default:
      std::memcpy(row + 4 * x, &pixel, 4);
      break;
  }
}

void FillSpan(const Canvas& c, int y, int x0, int x1, std::uint32_t pixel) {
  std::uint8_t* row = c.Row(y);
  if (c.format == PixelFormat::kX888) {
    auto* p = reinterpret_cast<std::uint32_t*>(row);
    std::fill(p + x0, p + x1, pixel);
    return;
  }
  for (int x = x0; x < x1; ++x) Put(c.format, row, x, pixel);
}

void Canvas::Touch(const RECT& r) {
  if (Empty(r)) return;
  if (Empty(touched)) {
    touched = r;
  } else {
    touched = {std::min(touched.left, r.left), std::min(touched.top, r.top), std::max(touched.right, r.right),
               std::max(touched.bottom, r.bottom)};
  }
}

RECT ClipLogical(const Canvas& c, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
  std::int64_t l = std::max<std::int64_t>(x0 + c.ox, c.clip.left);
  std::int64_t t = std::max<std::int64_t>(y0 + c.oy, c.clip.top);
  std::int64_t r = std::min<std::int64_t>(x1 + c.ox, c.clip.right);
  std::int64_t b = std::min<std::int64_t>(y1 + c.oy, c.clip.bottom);
  if (r <= l || b <= t) return {0, 0, 0, 0};
  return {static_cast<LONG>(l), static_cast<LONG>(t), static_cast<LONG>(r), static_cast<LONG>(b)};
}

bool BeginDraw(Dc* dc, Canvas* c) {
  *c = Canvas{};
  if (dc->kind == Dc::kMemory) {
    Bitmap* b = dc->st.bitmap ? dc->st.bitmap->bitmap.get() : nullptr;
    if (!b) return false;
    c->row0 = b->row0;
    c->stride = b->stride;
    c->width = b->width;
    c->height = b->height;
    c->format = b->format;
    c->clip = {0, 0, b->width, b->height};
    return true;
  }
  if (dc->kind != Dc::kWindow || !IsWindow(dc->hwnd)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  HWND top = TopLevel(dc->hwnd);
  ClientSurfaceView v;
  if (!ClientSurfaceLock(top, &v)) return false;
  c->row0 = reinterpret_cast<std::uint8_t*>(v.pixels);
  c->stride = v.pitch;
  c->width = v.width;
  c->height = v.height;
  c->format = PixelFormat::kX888;
  c->surface = top;
  POINT t{0, 0}, o{0, 0};
  ClientToScreen(top, &t);
  ClientToScreen(dc->hwnd, &o);
  RECT client;
  GetClientRect(dc->hwnd, &client);
  RECT area{o.x - t.x, o.y - t.y, o.x - t.x + client.right, o.y - t.y + client.bottom};
  c->ox = area.left;
  c->oy = area.top;
  if (dc->whole_window) {
    RECT wr;
    GetWindowRect(dc->hwnd, &wr);
    area = {wr.left - t.x, wr.top - t.y, wr.right - t.x, wr.bottom - t.y};
    c->ox = area.left;
    c->oy = area.top;
  }
  c->clip = Intersect(area, RECT{0, 0, v.width, v.height});
  if (dc->has_clip) {
    RECT pc{dc->clip.left + c->ox, dc->clip.top + c->oy, dc->clip.right + c->ox, dc->clip.bottom + c->oy};
    c->clip = Intersect(c->clip, pc);
  }
  return true;
}

void EndDraw(Canvas* c) {
  if (!c->surface) return;
  RECT d = c->touched;
  ClientSurfaceUnlock(c->surface, &d);  // an empty rectangle: nothing new to show
  c->surface = nullptr;
}

HWND TopLevel(HWND hwnd) {
  HWND h = hwnd;
  for (int guard = 0; guard < 1000; ++guard) {
    LONG_PTR style = GetWindowLongPtrA(h, GWL_STYLE);
    HWND parent = GetParent(h);
    if (!(static_cast<DWORD>(style) & WS_CHILD) || !parent) return h;
    h = parent;
  }
  return h;
}

}  // namespace orvane::gdi

using namespace orvane::gdi;

// ---------------------------------------------------------------- creation

HDC CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR, const DEVMODEA*) {
  if (!IsDisplay(driver, device)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> l(Lock());
  return NewDc(Dc::kDisplay);
}

HDC CreateICA(LPCSTR driver, LPCSTR device, LPCSTR, const DEVMODEA*) {
  if (!IsDisplay(driver, device)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> l(Lock());
  return NewDc(Dc::kInfo);
}

HDC CreateCompatibleDC(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  if (dc && !FindDc(dc)) return nullptr;
  return NewDc(Dc::kMemory);
}

BOOL DeleteDC(HDC dc) {
  return DropDc(dc);
}

HDC ResetDCA(HDC dc, const DEVMODEA*) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return nullptr;
  if (d->kind != Dc::kDisplay && d->kind != Dc::kInfo) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return dc;
}

int GetDeviceCaps(HDC dc, int index) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return 0;
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    case HORZRES:
      return GetSystemMetrics(SM_CXSCREEN);
    case VERTRES:
      return GetSystemMetrics(SM_CYSCREEN);
    case BITSPIXEL:
      return d->kind == Dc::kMemory && d->st.bitmap ? d->st.bitmap->bitmap->bpp : 32;
    case PLANES:
      return 1;
    case NUMCOLORS:
      return -1;
    case RASTERCAPS:
      return 0x0001 | 0x0080 | 0x0800;  // bit blits, device-independent bitmaps, stretching
    default:
      return 0;
  }
}

int SaveDC(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return 0;
  RetainState(d->st);
  d->saved.push_back(d->st);
  return static_cast<int>(d->saved.size());
}

BOOL RestoreDC(HDC dc, int saved) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return FALSE;
  long long level = saved < 0 ? static_cast<long long>(d->saved.size()) + 1 + saved : saved;
  if (level < 1 || level > static_cast<long long>(d->saved.size())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LetGoState(d->st);
  d->st = d->saved[static_cast<std::size_t>(level - 1)];  // its references move to the current state
  for (std::size_t i = static_cast<std::size_t>(level); i < d->saved.size(); ++i) LetGoState(d->saved[i]);
  d->saved.resize(static_cast<std::size_t>(level - 1));
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  ObjectPtr o = Find(object);
  if (!d || !o) return nullptr;
  ObjectPtr* slot;
  switch (o->kind) {
    case OBJ_PEN:
      slot = &d->st.pen;
      break;
    case OBJ_BRUSH:
      slot = &d->st.brush;
      break;
    case OBJ_FONT:
      slot = &d->st.font;
      break;
    case OBJ_PAL:
      slot = &d->st.palette;
      break;
    case OBJ_BITMAP:
      // Bitmaps go into memory DCs, one DC at a time (the shared default bitmap excepted).
      if (d->kind != Dc::kMemory || (!o->stock && o->owner_dc && o->owner_dc != dc)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      slot = &d->st.bitmap;
      break;
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
  }
  ObjectPtr old = *slot;
  HGDIOBJ prev = old ? old->handle : nullptr;
  if (old == o) return prev;
  Retain(o);
  if (o->kind == OBJ_BITMAP && !o->stock) o->owner_dc = dc;
  *slot = o;
  LetGo(old);
  return prev;
}

HGDIOBJ GetCurrentObject(HDC dc, UINT kind) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return nullptr;
  const ObjectPtr* o = nullptr;
  switch (kind) {
    case OBJ_PEN:
      o = &d->st.pen;
      break;
    case OBJ_BRUSH:
      o = &d->st.brush;
      break;
    case OBJ_FONT:
      o = &d->st.font;
      break;
    case OBJ_PAL:
      o = &d->st.palette;
      break;
    case OBJ_BITMAP:
      o = &d->st.bitmap;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
  return *o ? (*o)->handle : nullptr;
}

COLORREF GetTextColor(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  return d ? d->st.text_color : 0xFFFFFFFFu;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return 0xFFFFFFFFu;
  COLORREF old = d->st.text_color;
  d->st.text_color = color & 0xFFFFFF;
  return old;
}

COLORREF GetBkColor(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  return d ? d->st.bk_color : 0xFFFFFFFFu;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return 0xFFFFFFFFu;
  COLORREF old = d->st.bk_color;
  d->st.bk_color = color & 0xFFFFFF;
  return old;
}

int GetBkMode(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  return d ? d->st.bk_mode : 0;
}

int SetBkMode(HDC dc, int mode) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return 0;
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int old = d->st.bk_mode;
  d->st.bk_mode = mode;
  return old;
}

BOOL DPtoLP(HDC dc, LPPOINT points, int count) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  return FindDc(dc) && (points || count == 0) ? TRUE : FALSE;
}

// ---------------------------------------------------------------- drawing

BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return FALSE;
  if (rop != PATCOPY && rop != BLACKNESS && rop != WHITENESS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Canvas c;
  if (!BeginDraw(d, &c)) return FALSE;
  std::int64_t x0 = x, x1 = std::int64_t{x} + width, y0 = y, y1 = std::int64_t{y} + height;
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  RECT r = ClipLogical(c, x0, y0, x1, y1);
  if (!Empty(r)) {
    if (rop == PATCOPY) {
      FillWithBrush(*d, c, r);
    } else {
      std::uint32_t px = Encode(c.format, rop == BLACKNESS ? 0x000000 : 0xFFFFFF);
      for (int row = r.top; row < r.bottom; ++row) FillSpan(c, row, r.left, r.right, px);
    }
    c.Touch(r);
  }
  EndDraw(&c);
  return TRUE;
}

namespace {
// n 16-bit pixels (5-6-5 or 5-5-5) to 0x00RRGGBB by bit replication, through one table per
// format of every 16-bit value (256 KiB each, made on first use).
void ConvertRow16(PixelFormat f, const std::uint8_t* src, std::uint32_t* dst, int n) {
  static const std::uint32_t* const tables[2] = {
      [] {
        auto* t = new std::uint32_t[65536];
        for (std::uint32_t v = 0; v < 65536; ++v) {
          std::uint32_t r = v >> 11, g = (v >> 5) & 63, b = v & 31;
          t[v] = (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
        }
        return t;
      }(),
      [] {
        auto* t = new std::uint32_t[65536];
        for (std::uint32_t v = 0; v < 65536; ++v) {
          std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
          t[v] = (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
        }
        return t;
      }()};
  const std::uint32_t* t = tables[f == PixelFormat::k565 ? 0 : 1];
  for (int x = 0; x < n; ++x) {
    std::uint16_t v;
    std::memcpy(&v, src + 2 * x, 2);
    dst[x] = t[v];
  }
}
}  // namespace

BOOL StretchBlt(HDC dc, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth,
                int sheight, DWORD rop) {
  if (rop != SRCCOPY) {
    if (rop == PATCOPY || rop == BLACKNESS || rop == WHITENESS) return PatBlt(dc, x, y, width, height, rop);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  Dc* s = FindDc(source);
  if (!d || !s) return FALSE;
  if (width == 0 || height == 0 || swidth == 0 || sheight == 0) return TRUE;
  Canvas dst, src;
  if (!BeginDraw(d, &dst)) return FALSE;
  if (!BeginDraw(s, &src)) {
    EndDraw(&dst);
    return FALSE;
  }
  // Normalised rectangles; a negative size on one side only mirrors.
  std::int64_t dx0 = std::min<std::int64_t>(x, std::int64_t{x} + width),
               dw = width < 0 ? -std::int64_t{width} : width;
  std::int64_t dy0 = std::min<std::int64_t>(y, std::int64_t{y} + height),
               dh = height < 0 ? -std::int64_t{height} : height;
  std::int64_t sx0 = std::min<std::int64_t>(sx, std::int64_t{sx} + swidth),
               sw = swidth < 0 ? -std::int64_t{swidth} : swidth;
  std::int64_t sy0 = std::min<std::int64_t>(sy, std::int64_t{sy} + sheight),
               sh = sheight < 0 ? -std::int64_t{sheight} : sheight;
  bool mirror_x = (width < 0) != (swidth < 0), mirror_y = (height < 0) != (sheight < 0);
  Snapshot snap;
  const Canvas* from = &src;
  if (src.row0 == dst.row0) {
    TakeSnapshot(src, &snap);
    from = &snap.canvas;
  }
  RECT r = ClipLogical(dst, dx0, dy0, dx0 + dw, dy0 + dh);
  if (!Empty(r)) {
    // Source column of each destination column (-1: outside the source).
    std::vector<int> cols(static_cast<std::size_t>(r.right - r.left));
    for (int cx = r.left; cx < r.right; ++cx) {
      std::int64_t i = cx - dst.ox - dx0;
      std::int64_t j = static_cast<std::int64_t>((__int128{2} * i + 1) * sw / (__int128{2} * dw));
      if (mirror_x) j = sw - 1 - j;
      std::int64_t scx = sx0 + j + from->ox;
      cols[static_cast<std::size_t>(cx - r.left)] =
          (scx >= from->clip.left && scx < from->clip.right) ? static_cast<int>(scx) : -1;
    }
    bool same_format = from->format == dst.format;
    // A same-size copy of 16-bit pixels onto 32 bits (the 16-bit back images shown in windows):
    // whole rows converted at once.
    int run_from = cols.front();
    bool straight = !same_format && dst.format == PixelFormat::kX888 &&
                    (from->format == PixelFormat::k565 || from->format == PixelFormat::k555) &&
                    run_from >= 0 && cols.back() == run_from + (r.right - r.left - 1);
    for (int cy = r.top; cy < r.bottom && straight; ++cy) {
      std::int64_t i = cy - dst.oy - dy0;
      std::int64_t j = static_cast<std::int64_t>((__int128{2} * i + 1) * sh / (__int128{2} * dh));
      if (mirror_y) j = sh - 1 - j;
      std::int64_t scy = sy0 + j + from->oy;
      if (scy < from->clip.top || scy >= from->clip.bottom) continue;
      ConvertRow16(from->format, from->Row(static_cast<int>(scy)) + 2 * run_from,
                   reinterpret_cast<std::uint32_t*>(dst.Row(cy)) + r.left, r.right - r.left);
    }
    for (int cy = r.top; cy < r.bottom && !straight; ++cy) {
      std::int64_t i = cy - dst.oy - dy0;
      std::int64_t j = static_cast<std::int64_t>((__int128{2} * i + 1) * sh / (__int128{2} * dh));
      if (mirror_y) j = sh - 1 - j;
      std::int64_t scy = sy0 + j + from->oy;
      if (scy < from->clip.top || scy >= from->clip.bottom) continue;
      const std::uint8_t* srow = from->Row(static_cast<int>(scy));
      std::uint8_t* drow = dst.Row(cy);
      if (same_format && dst.format == PixelFormat::kX888) {
        auto* dp = reinterpret_cast<std::uint32_t*>(drow);
        for (int cx = r.left; cx < r.right; ++cx) {
          int scx = cols[static_cast<std::size_t>(cx - r.left)];
          if (scx >= 0) std::memcpy(dp + cx, srow + 4 * scx, 4);
        }
      } else {
        for (int cx = r.left; cx < r.right; ++cx) {
          int scx = cols[static_cast<std::size_t>(cx - r.left)];
          if (scx < 0) continue;
          if (same_format) {
            int bpp = BytesPerPixel(dst.format);
            std::memcpy(drow + bpp * cx, srow + bpp * scx, static_cast<std::size_t>(bpp));
          } else {
            Put(dst.format, drow, cx, FromXrgb(dst.format, ToXrgb(from->format, srow, scx)));
          }
        }
      }
    }
    dst.Touch(r);
  }
  EndDraw(&src);
  EndDraw(&dst);
  return TRUE;
}

BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop) {
  if (rop != SRCCOPY) return StretchBlt(dc, x, y, width, height, nullptr, 0, 0, 0, 0, rop);
  if (width <= 0 || height <= 0) {
    // Nothing to copy (a blit does not mirror).
    std::lock_guard<std::recursive_mutex> l(Lock());
    return FindDc(dc) && FindDc(source) ? TRUE : FALSE;
  }
  return StretchBlt(dc, x, y, width, height, source, sx, sy, width, height, rop);
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return FALSE;
  if (previous) *previous = d->st.pos;
  d->st.pos = {x, y};
  return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return FALSE;
  Canvas c;
  if (!BeginDraw(d, &c)) return FALSE;
  const Object* pen = d->st.pen.get();
  if (pen && (pen->style & PS_STYLE_MASK) != PS_NULL) {
    DrawLine(c, d->st.pos.x, d->st.pos.y, x, y, pen->width, Encode(c.format, pen->color));
  }
  d->st.pos = {x, y};
  EndDraw(&c);
  return TRUE;
}

BOOL GdiFlush() {
  // Window DCs report what they drew as they draw; presenting shows it.
  for (HWND top : DirtySurfaces()) ClientSurfacePresent(top);
  return TRUE;
}

// ---------------------------------------------------------------- window DCs

namespace {

HDC WindowDc(HWND hwnd, bool whole) {
  if (!hwnd) {
    std::lock_guard<std::recursive_mutex> l(Lock());
    return NewDc(Dc::kDisplay);  // the screen: queries only
  }
  if (!IsWindow(hwnd)) {
    SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> l(Lock());
  HDC h = NewDc(Dc::kWindow);
  Dc* d = FindDc(h);
  d->hwnd = hwnd;
  d->whole_window = whole;
  return h;
}

}  // namespace

HDC GetDC(HWND hwnd) {
  return WindowDc(hwnd, false);
}

HDC GetWindowDC(HWND hwnd) {
  return WindowDc(hwnd, true);
}

HWND WindowFromDC(HDC dc) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  return d ? d->hwnd : nullptr;
}

int ReleaseDC(HWND, HDC dc) {
  HWND hwnd;
  {
    std::lock_guard<std::recursive_mutex> l(Lock());
    Dc* d = FindDc(dc);
    if (!d || (d->kind != Dc::kWindow && d->kind != Dc::kDisplay)) return 0;
    hwnd = d->hwnd;
    DropDc(dc);
  }
  if (hwnd && IsWindow(hwnd)) ClientSurfacePresent(TopLevel(hwnd));
  return 1;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
  if (!paint || !IsWindow(hwnd)) {
    SetLastError(paint ? 1400 : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  *paint = PAINTSTRUCT{};
  RECT r{0, 0, 0, 0};
  if (!GetUpdateRect(hwnd, &r, FALSE)) r = {0, 0, 0, 0};
  ValidateRect(hwnd, nullptr);
  HDC h = WindowDc(hwnd, false);
  if (!h) return nullptr;
  {
    std::lock_guard<std::recursive_mutex> l(Lock());
    Dc* d = FindDc(h);
    d->has_clip = true;
    d->clip = r;
  }
  paint->hdc = h;
  paint->rcPaint = r;
  return h;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  ReleaseDC(hwnd, paint->hdc);
  return TRUE;
}
