// GDI object wrappers: shared handles, creation, deletion and queries.
#include "base/dgdiobject.h"

#include <cstring>

#include "base/dapplication.h"
#include "base/ddc.h"

DGdiObject::DGdiObject(HGDIOBJ handle) {
  ref_.Alloc(1);
  *ref_ = handle;
}

DGdiObject::DGdiObject(const DGdiObject& other) : DObject(other), ref_(other.ref_) {}

DGdiObject& DGdiObject::operator=(const DGdiObject& other) {
  if (this == &other) return *this;
  Release();
  ref_ = other.ref_;
  owned_ = 0;
  return *this;
}

DGdiObject::~DGdiObject() {
  DGdiObject::Release();
}

void DGdiObject::Release() {
  if (owned_) Delete();
  ref_.Release();
  owned_ = 0;
}

bool DGdiObject::Delete() {
  if (!ref_) return false;
  if (*ref_) DeleteObject(*ref_);
  *ref_ = nullptr;
  ref_.Release();
  owned_ = 0;
  return true;
}

int DGdiObject::GetObject(int size, void* buffer) {
  return GetObjectA(GetHandle(), size, buffer);
}

bool DGdiObject::CreateStock(int index) {
  HGDIOBJ h = GetStockObject(index);
  if (!h) return false;
  ref_.Alloc(1);  // the previous handle is let go, never deleted
  *ref_ = h;
  owned_ = 0;
  return true;
}

DWORD DGdiObject::GetObjectType() {
  return ::GetObjectType(GetHandle());
}

bool DGdiObject::Adopt(HGDIOBJ handle) {
  if (!handle) return false;
  ref_.Alloc(1);
  *ref_ = handle;
  owned_ = 1;
  return true;
}

// ---------------------------------------------------------------- pens

bool DPen::CreateIndirect(const LOGPEN* pen) {
  return !Holds() && Adopt(CreatePenIndirect(pen));
}

bool DPen::Create(int style, int width, COLORREF color) {
  LOGPEN p{static_cast<UINT>(style), {width, 0}, color};
  return CreateIndirect(&p);
}

bool DPen::CreateExt(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD style_count,
                     const DWORD* styles) {
  return !Holds() && Adopt(ExtCreatePen(style, width, brush, style_count, styles));
}

bool DPen::GetExtLogPen(EXTLOGPEN* pen) {
  return GetObjectA(GetHandle(), sizeof(EXTLOGPEN), pen) != 0;
}

bool DPen::GetLogPen(LOGPEN* pen) {
  return GetObjectA(GetHandle(), sizeof(LOGPEN), pen) != 0;
}

// ---------------------------------------------------------------- brushes

bool DBrush::CreateSolid(COLORREF color) {
  return !Holds() && Adopt(CreateSolidBrush(color));
}

bool DBrush::CreateHatch(int hatch, COLORREF color) {
  return !Holds() && Adopt(CreateHatchBrush(hatch, color));
}

bool DBrush::GetLogBrush(LOGBRUSH* brush) {
  return GetObjectA(GetHandle(), sizeof(LOGBRUSH), brush) != 0;
}

// ---------------------------------------------------------------- fonts

bool DFont::CreateIndirect(const LOGFONTA* font) {
  return !Holds() && Adopt(CreateFontIndirectA(font));
}

bool DFont::Create(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                   BYTE underline, BYTE strike_out, BYTE charset, BYTE out_precision, BYTE clip_precision,
                   BYTE quality, BYTE pitch_and_family, const DString& face) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = italic;
  lf.lfUnderline = underline;
  lf.lfStrikeOut = strike_out;
  lf.lfCharSet = charset;
  lf.lfOutPrecision = out_precision;
  lf.lfClipPrecision = clip_precision;
  lf.lfQuality = quality;
  lf.lfPitchAndFamily = pitch_and_family;
  // At most 31 bytes, and a double-byte character that would be cut in half is left out.
  const char* f = face.Text();
  size_t n = 0;
  while (f[n]) {
    size_t step = DIsLeadByte(f[n]) && f[n + 1] ? 2 : 1;
    if (n + step > LF_FACESIZE - 1) break;
    n += step;
  }
  std::memcpy(lf.lfFaceName, f, n);
  lf.lfFaceName[n] = 0;
  return CreateIndirect(&lf);
}

bool DFont::CreateFixed(int height, int weight, const DString& face) {
  return Create(height, 0, 0, 0, weight, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, FF_MODERN | FIXED_PITCH, face);
}

bool DFont::CreateVariable(int height, int weight, const DString& face) {
  return Create(height, 0, 0, 0, weight, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, VARIABLE_PITCH, face);
}

bool DFont::GetLogFont(LOGFONTA* font) {
  return GetObjectA(GetHandle(), sizeof(LOGFONTA), font) != 0;
}

// ---------------------------------------------------------------- bitmaps

bool DBitmap::CreateIndirect(const BITMAP* bitmap) {
  return !Holds() && Adopt(CreateBitmapIndirect(bitmap));
}

bool DBitmap::Create(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits) {
  return !Holds() && Adopt(CreateBitmap(width, height, planes, bits_per_pixel, bits));
}

bool DBitmap::CreateCompatible(DDC& dc, int width, int height) {
  return !Holds() && Adopt(CreateCompatibleBitmap(dc.GetHandle(), width, height));
}

bool DBitmap::CreateDIBitmap(DDC& dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                             const BITMAPINFO* info, UINT usage) {
  return !Holds() && Adopt(::CreateDIBitmap(dc.GetHandle(), header, init, bits, info, usage));
}

bool DBitmap::CreateDIBitmap(DDC& dc, const BITMAPINFOHEADER* header) {
  return CreateDIBitmap(dc, header, 0, nullptr, nullptr, 0);
}

void* DBitmap::CreateDIBSection(DDC& dc, const BITMAPINFO* info, UINT usage) {
  if (Holds()) return nullptr;
  void* bits = nullptr;
  if (!Adopt(::CreateDIBSection(dc.GetHandle(), info, usage, &bits, nullptr, 0))) return nullptr;
  return bits;
}

bool DBitmap::Load(const DModule& module, const DString& name) {
  return !Holds() && Adopt(LoadBitmapA(module.GetHandle(), name.Text()));
}

bool DBitmap::Load(const DModule& module, UINT id) {
  return !Holds() && Adopt(LoadBitmapA(module.GetHandle(), MAKEINTRESOURCEA(id)));
}

bool DBitmap::Load(const DString& name) {
  DApplication* app = DGetApplication();
  return Load(DModule(app ? app->GetInstance() : nullptr), name);
}

bool DBitmap::Load(UINT id) {
  DApplication* app = DGetApplication();
  return Load(DModule(app ? app->GetInstance() : nullptr), id);
}

bool DBitmap::GetDIBSection(DIBSECTION* section) {
  return GetObjectA(GetHandle(), sizeof(DIBSECTION), section) != 0;
}

bool DBitmap::GetBitmap(BITMAP* bitmap) {
  return GetObjectA(GetHandle(), sizeof(BITMAP), bitmap) != 0;
}

// ---------------------------------------------------------------- palettes

bool DPalette::Create(const LOGPALETTE* palette) {
  return !Holds() && Adopt(CreatePalette(palette));
}

bool DPalette::GetEntryCount(void* buffer) {
  return GetObjectA(GetHandle(), 8, buffer) != 0;
}
