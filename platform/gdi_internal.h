// What the gdi_*.cc files share: the typed handle table, device-context state, pixel formats and
// the drawing target a DC resolves to.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/gdi.h"

namespace orvane::gdi {

// The engine's one image size cap: no bitmap's pixels may pass it.
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 30;

enum class PixelFormat : std::uint8_t { k555, k565, k888, kX888 };

// Pixels of a bitmap. Row 0 is the top row; stride is the distance in bytes from a row to the
// one below it (negative for bottom-up DIB sections).
struct Bitmap {
  int width = 0;
  int height = 0;
  int bpp = 32;
  PixelFormat format = PixelFormat::kX888;
  std::ptrdiff_t stride = 0;
  std::uint8_t* row0 = nullptr;
  std::unique_ptr<std::uint8_t[]> storage;  // the pixels, in memory order
  std::size_t size = 0;                     // bytes of storage
  bool dib = false;                         // a DIB section (its bits are the caller's too)
  BITMAPINFOHEADER header{};                // for DIB sections, as created
  DWORD masks[3] = {0, 0, 0};
};

struct Object;
using ObjectPtr = std::shared_ptr<Object>;

// The selections and modes of a DC; SaveDC pushes a copy.
struct DcState {
  ObjectPtr pen, brush, font, bitmap, palette;
  COLORREF text_color = 0x000000;
  COLORREF bk_color = 0xFFFFFF;
  int bk_mode = OPAQUE;
  POINT pos{0, 0};
};

struct Dc {
  enum Kind { kMemory, kWindow, kDisplay, kInfo } kind = kMemory;
  HWND hwnd = nullptr;        // window DCs: the window
  bool whole_window = false;  // GetWindowDC: origin at the window's top-left
  bool has_clip = false;      // BeginPaint: the update rectangle (client coordinates)
  RECT clip{};
  DcState st;
  std::vector<DcState> saved;
};

// One entry of the handle table.
struct Object {
  UINT kind = 0;  // OBJ_*
  HGDIOBJ handle = nullptr;
  bool stock = false;
  bool doomed = false;     // deleted while selected: goes when the last DC lets it go
  int selected = 0;        // DC states (current and saved) that hold it
  HDC owner_dc = nullptr;  // bitmaps: the memory DC it is selected into
  // Pens and brushes.
  UINT style = 0;  // pen style, or brush style
  int width = 0;
  COLORREF color = 0;
  ULONG_PTR hatch = 0;
  bool ext_pen = false;
  UINT brush_style = 0;  // of an extended pen
  std::vector<DWORD> style_entries;
  // Fonts.
  LOGFONTA font{};
  // Palettes.
  std::vector<PALETTEENTRY> palette;
  // Bitmaps and DCs.
  std::unique_ptr<Bitmap> bitmap;
  std::unique_ptr<Dc> dc;
};

// Every GDI call runs under this lock.
std::recursive_mutex& Lock();
// The live object of that handle and kind (kind 0: any), else null with ERROR_INVALID_HANDLE.
// A deleted object still selected somewhere is not found.
ObjectPtr Find(HGDIOBJ handle, UINT kind = 0);
// The DC of a handle (OBJ_DC or OBJ_MEMDC), else null.
Dc* FindDc(HDC dc);
// Adds an object to the table under a new handle.
HGDIOBJ Insert(const ObjectPtr& object);
// A DC state takes or lets go of an object (a doomed one leaves the table at its last let-go).
void Retain(const ObjectPtr& object);
void LetGo(const ObjectPtr& object);

// ---- Where a DC draws: a view of pixels, a clip rectangle in those pixels' coordinates and the
// position of the DC's logical (0, 0) in them.
struct Canvas {
  std::uint8_t* row0 = nullptr;
  std::ptrdiff_t stride = 0;
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::kX888;
  RECT clip{};  // inside [0, width) x [0, height)
  int ox = 0;   // logical (0, 0) in canvas pixels
  int oy = 0;
  HWND surface = nullptr;  // window DCs: the locked top-level window
  RECT touched{0, 0, 0, 0};

  std::uint8_t* Row(int y) const { return row0 + stride * y; }
  // Marks canvas pixels as drawn (window DCs report them to the client surface).
  void Touch(const RECT& r);
};
// Resolves a DC to its pixels; false for DCs that cannot be drawn on (display and information
// DCs, a window that died). Holds the client surface locked until EndDraw.
bool BeginDraw(Dc* dc, Canvas* canvas);
void EndDraw(Canvas* canvas);
// The canvas rectangle of logical [x0, x1) x [y0, y1), computed in 64 bits and clipped.
RECT ClipLogical(const Canvas& c, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1);

// ---- Pixels.
std::uint32_t Encode(PixelFormat f, COLORREF color);  // a pixel value of the colour
std::uint32_t ToXrgb(PixelFormat f, const std::uint8_t* row, int x);
void Put(PixelFormat f, std::uint8_t* row, int x, std::uint32_t pixel);
// Fills canvas pixels [x0, x1) of row y with an encoded pixel.
void FillSpan(const Canvas& c, int y, int x0, int x1, std::uint32_t pixel);

// ---- Surfaces of top-level windows (client_surface.cc): the top-level window of hwnd.
HWND TopLevel(HWND hwnd);
// Glyphs FreeType has rendered so far (the cache's misses), for tests of the glyph cache.
__attribute__((visibility("default"))) std::uint64_t GlyphRenders();
// GetGlyphOutlineA calls so far, failed ones included, for tests of glyph caches above GDI.
__attribute__((visibility("default"))) std::uint64_t GlyphOutlineCalls();

// The top-level windows whose client surfaces hold pixels not yet presented.
std::vector<HWND> DirtySurfaces();

}  // namespace orvane::gdi
