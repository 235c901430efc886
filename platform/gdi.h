// Graphics: device contexts, the GDI objects (pens, brushes, fonts, bitmaps, palettes) in one
// typed handle table, blits, lines and cp932 text drawn with FreeType from the IPA fonts.
//
// Memory DCs draw into the bitmap selected into them; window DCs draw into the window's client
// surface (platform/client_surface.h), the one way pixels reach a host. Structures are our own
// 64-bit layouts: GetObjectA fills them by their sizeof.
#pragma once

#include "platform/kernel.h"
#include "platform/wintypes.h"

ORVANE_DECLARE_HANDLE(HPALETTE);

#define LF_FACESIZE 32
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define SHIFTJIS_CHARSET 128

#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_ROMAN 0x10
#define FF_SWISS 0x20
#define FF_MODERN 0x30
#define FW_NORMAL 400
#define FW_BOLD 700

// ---- Object kinds (GetObjectType, GetCurrentObject).
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_PAL 5
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10
#define OBJ_EXTPEN 11

// ---- Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define OEM_FIXED_FONT 10
#define ANSI_FIXED_FONT 11
#define ANSI_VAR_FONT 12
#define SYSTEM_FONT 13
#define DEVICE_DEFAULT_FONT 14
#define DEFAULT_PALETTE 15
#define SYSTEM_FIXED_FONT 16
#define DEFAULT_GUI_FONT 17

// ---- Pens and brushes.
#define PS_SOLID 0
#define PS_DASH 1
#define PS_DOT 2
#define PS_DASHDOT 3
#define PS_DASHDOTDOT 4
#define PS_NULL 5
#define PS_INSIDEFRAME 6
#define PS_USERSTYLE 7
#define PS_STYLE_MASK 0x0000000F
#define PS_GEOMETRIC 0x00010000
#define BS_SOLID 0
#define BS_NULL 1
#define BS_HOLLOW BS_NULL
#define BS_HATCHED 2
#define HS_HORIZONTAL 0
#define HS_VERTICAL 1
#define HS_FDIAGONAL 2
#define HS_BDIAGONAL 3
#define HS_CROSS 4
#define HS_DIAGCROSS 5

// ---- Raster operations: the ones a blit does; any other fails.
#define SRCCOPY 0x00CC0020u
#define PATCOPY 0x00F00021u
#define BLACKNESS 0x00000042u
#define WHITENESS 0x00FF0062u

// ---- Background modes, device capabilities, mapping mode.
#define TRANSPARENT 1
#define OPAQUE 2
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define RASTERCAPS 38
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define MM_TEXT 1

// ---- Bitmaps.
#define BI_RGB 0u
#define BI_BITFIELDS 3u
#define DIB_RGB_COLORS 0u
#define DIB_PAL_COLORS 1u
#define CBM_INIT 0x04u

// ---- Text.
#define ETO_OPAQUE 0x0002u
#define ETO_CLIPPED 0x0004u
#define DT_TOP 0x00000000u
#define DT_LEFT 0x00000000u
#define DT_CENTER 0x00000001u
#define DT_RIGHT 0x00000002u
#define DT_VCENTER 0x00000004u
#define DT_BOTTOM 0x00000008u
#define DT_WORDBREAK 0x00000010u
#define DT_SINGLELINE 0x00000020u
#define DT_EXPANDTABS 0x00000040u
#define DT_NOCLIP 0x00000100u
#define DT_CALCRECT 0x00000400u
#define DT_NOPREFIX 0x00000800u
#define GGO_METRICS 0u
#define GGO_BITMAP 1u
#define GGO_NATIVE 2u
#define GGO_GRAY2_BITMAP 4u
#define GGO_GRAY4_BITMAP 5u
#define GGO_GRAY8_BITMAP 6u
#define GDI_ERROR 0xFFFFFFFFu
#define TMPF_FIXED_PITCH 0x01
#define TMPF_VECTOR 0x02
#define TMPF_TRUETYPE 0x04

struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
};
using LPLOGFONTA = LOGFONTA*;

struct LOGPEN {
  UINT lopnStyle;
  POINT lopnWidth;  // x is the width
  COLORREF lopnColor;
};

struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  ULONG_PTR lbHatch;
};

// A pen of ExtCreatePen; elpNumEntries style entries follow (the first is in the structure).
struct EXTLOGPEN {
  DWORD elpPenStyle;
  DWORD elpWidth;
  UINT elpBrushStyle;
  COLORREF elpColor;
  ULONG_PTR elpHatch;
  DWORD elpNumEntries;
  DWORD elpStyleEntry[1];
};

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: top-down rows
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

// With BI_BITFIELDS the three colour masks (red, green, blue) follow the header as DWORDs.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3];
  HANDLE dshSection;
  DWORD dsOffset;
};

struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};

struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};

// Passed through by the DC functions (no device here has modes to set); EnumDisplaySettingsA
// (platform/ddraw.h) fills the mode fields.
struct DEVMODEA {
  BYTE dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFrequency;
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

struct ABC {
  int abcA;
  UINT abcB;
  int abcC;
};

struct GLYPHMETRICS {
  UINT gmBlackBoxX;
  UINT gmBlackBoxY;
  POINT gmptGlyphOrigin;  // the black box's top-left from the pen position, y up
  short gmCellIncX;
  short gmCellIncY;
};

struct FIXED {
  WORD fract;
  short value;
};
struct MAT2 {
  FIXED eM11;
  FIXED eM12;
  FIXED eM21;
  FIXED eM22;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

// ---- Objects. Handles are never reused; a handle of the wrong kind fails like an unknown one.
// Stock objects are never deleted (DeleteObject gives TRUE and keeps them). Deleting an object
// that is selected into a DC succeeds; it goes when it is deselected or its DC is deleted.
ORVANE_API HGDIOBJ GetStockObject(int index);
ORVANE_API BOOL DeleteObject(HGDIOBJ object);
// OBJ_* of a live object, 0 otherwise.
ORVANE_API DWORD GetObjectType(HGDIOBJ object);
// Copies the object's description (LOGPEN / EXTLOGPEN, LOGBRUSH, LOGFONTA, BITMAP or DIBSECTION,
// or the palette's entry count as a WORD) into out, at most size bytes; the bytes copied, the
// size of the whole description when out is null, 0 for a bad handle.
ORVANE_API int GetObjectA(HGDIOBJ object, int size, LPVOID out);

ORVANE_API HPEN CreatePen(int style, int width, COLORREF color);
ORVANE_API HPEN CreatePenIndirect(const LOGPEN* pen);
ORVANE_API HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD style_count,
                             const DWORD* styles);
ORVANE_API HBRUSH CreateSolidBrush(COLORREF color);
ORVANE_API HBRUSH CreateHatchBrush(int hatch, COLORREF color);
ORVANE_API HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);
// A new font object described by *lf (the face name is cut to LF_FACESIZE - 1 bytes); NULL for
// a null description. The face is chosen when the font is first used.
ORVANE_API HFONT CreateFontIndirectA(const LOGFONTA* lf);
ORVANE_API HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                             DWORD underline, DWORD strike_out, DWORD charset, DWORD out_precision,
                             DWORD clip_precision, DWORD quality, DWORD pitch_and_family, LPCSTR face);
ORVANE_API HPALETTE CreatePalette(const LOGPALETTE* palette);

// Bitmaps: 16 (5-5-5 or, with BI_BITFIELDS, 5-6-5), 24 and 32 bits per pixel; other depths fail.
// Sizes are checked in 64 bits against the engine's image cap (1 GiB).
ORVANE_API HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits);
ORVANE_API HBITMAP CreateBitmapIndirect(const BITMAP* bitmap);
// A 32-bit XRGB bitmap.
ORVANE_API HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A 32-bit XRGB bitmap of the header's size; with CBM_INIT its pixels come from bits as described
// by info (16, 24 or 32 bits, either row order).
ORVANE_API HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                                  const BITMAPINFO* info, UINT usage);
// A bitmap whose pixels the caller reaches through *bits (zeroed; valid until the bitmap goes).
ORVANE_API HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                    DWORD offset);
// No program resources exist on this host: fails with ERROR_RESOURCE_NAME_NOT_FOUND.
ORVANE_API HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name);

// ---- Device contexts. "DISPLAY" DCs and information contexts answer queries; drawing on them
// fails. A memory DC starts with a 1 x 1 bitmap of its own selected.
ORVANE_API HDC CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR output, const DEVMODEA* mode);
ORVANE_API HDC CreateICA(LPCSTR driver, LPCSTR device, LPCSTR output, const DEVMODEA* mode);
ORVANE_API HDC CreateCompatibleDC(HDC dc);
ORVANE_API BOOL DeleteDC(HDC dc);
ORVANE_API HDC ResetDCA(HDC dc, const DEVMODEA* mode);
ORVANE_API int GetDeviceCaps(HDC dc, int index);
ORVANE_API int SaveDC(HDC dc);
// A positive level restores that saved state, a negative one counts back from the latest.
ORVANE_API BOOL RestoreDC(HDC dc, int saved);
// The previously selected object of that kind; NULL on failure. A bitmap is selected into one
// memory DC at a time.
ORVANE_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
ORVANE_API HGDIOBJ GetCurrentObject(HDC dc, UINT kind);
ORVANE_API COLORREF GetTextColor(HDC dc);
ORVANE_API COLORREF SetTextColor(HDC dc, COLORREF color);
ORVANE_API COLORREF GetBkColor(HDC dc);
ORVANE_API COLORREF SetBkColor(HDC dc, COLORREF color);
ORVANE_API int GetBkMode(HDC dc);
ORVANE_API int SetBkMode(HDC dc, int mode);
// MM_TEXT: device and logical units are the same.
ORVANE_API BOOL DPtoLP(HDC dc, LPPOINT points, int count);
// Shows what window DCs drew (their client surfaces present).
ORVANE_API BOOL GdiFlush();

// ---- Drawing. Every operation is clipped to the target and never touches memory outside it.
ORVANE_API BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);
ORVANE_API BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop);
// Samples the source at pixel centres; negative sizes mirror.
ORVANE_API BOOL StretchBlt(HDC dc, int x, int y, int width, int height, HDC source, int sx, int sy,
                           int swidth, int sheight, DWORD rop);
ORVANE_API BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
// Draws with the current pen from the current position to (x, y), leaving out the end point.
ORVANE_API BOOL LineTo(HDC dc, int x, int y);

// ---- Text: cp932 bytes. y is the top of the character cell. A count longer than the text is cut
// at its NUL.
ORVANE_API BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
// The sum of the advances the pen moves by (no kerning) and the cell height.
ORVANE_API BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, SIZE* size);
ORVANE_API BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int count);
ORVANE_API BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count,
                            const int* spacing);
// Lines at line feeds (and, with DT_WORDBREAK, at the rectangle's width); the height drawn.
ORVANE_API int DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format);
// first and last are single-byte codes or double-byte codes (lead << 8 | trail).
ORVANE_API BOOL GetCharABCWidthsA(HDC dc, UINT first, UINT last, ABC* widths);
// GGO_METRICS, GGO_BITMAP (rows of 4-byte multiples, most significant bit first) and
// GGO_GRAY2/4/8_BITMAP (one byte a pixel, 0..4/16/64). The size needed with no buffer; 0 for a
// blank glyph; GDI_ERROR for a code that is no cp932 character or an unknown format.
ORVANE_API DWORD GetGlyphOutlineA(HDC dc, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size,
                                  LPVOID buffer, const MAT2* matrix);

// ---- Window DCs: a window's part of its top-level window's client surface.
ORVANE_API HDC GetDC(HWND hwnd);
ORVANE_API HDC GetWindowDC(HWND hwnd);
// Gives back a DC of GetDC / GetWindowDC and shows what it drew.
ORVANE_API int ReleaseDC(HWND hwnd, HDC dc);
// A DC clipped to the update rectangle, which becomes valid; EndPaint gives it back and shows it.
ORVANE_API HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint);
ORVANE_API BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);
ORVANE_API HWND WindowFromDC(HDC dc);
