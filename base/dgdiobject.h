// GDI object wrappers: DGdiObject (shared handle, owner deletes) and the pen, brush, font,
// bitmap and palette classes that add their kind's creation and queries.
#pragma once

#include <cstdint>

#include "base/dmodule.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/win32.h"

class DDC;

// Creation makes the object owner; objects made from a handle, from a stock object, copies and
// objects a DC hands out are not. Release deletes only when owner; Delete always deletes (and
// every copy then holds handle 0). Queries on an empty wrapper pass handle 0 to the system.
class DGdiObject : public DObject {
 public:
  DGdiObject() = default;
  // Over an existing handle, not owner.
  explicit DGdiObject(HGDIOBJ handle);
  DGdiObject(const DGdiObject& other);
  DGdiObject& operator=(const DGdiObject& other);
  ~DGdiObject() override;

  virtual void Release();
  // False without a handle record; else DeleteObject of the handle (when not 0), the record's
  // handle becomes 0 for every copy, this object lets it go and is no owner; true.
  virtual bool Delete();
  virtual int GetObject(int size, void* buffer);
  // Holds a stock object, not owner; a handle held before is let go undeleted, even an owned one.
  virtual bool CreateStock(int index);
  virtual DWORD GetObjectType();

  HGDIOBJ GetHandle() const { return ref_ ? *ref_ : nullptr; }
  bool IsOwner() const { return owned_ != 0; }

 protected:
  // The common end of every creation: false for handle 0, else a new record, owner.
  bool Adopt(HGDIOBJ handle);
  // A handle is held (creation refuses then).
  bool Holds() const { return ref_ && *ref_; }

  DRef<HGDIOBJ> ref_;
  uint8_t owned_ = 0;
};

class DPen : public DGdiObject {
 public:
  using DGdiObject::DGdiObject;
  virtual bool CreateIndirect(const LOGPEN* pen);
  virtual bool Create(int style, int width, COLORREF color);
  virtual bool CreateExt(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD style_count,
                         const DWORD* styles);
  // The pen as an EXTLOGPEN with one style entry.
  virtual bool GetExtLogPen(EXTLOGPEN* pen);
  virtual bool GetLogPen(LOGPEN* pen);
};

class DBrush : public DGdiObject {
 public:
  using DGdiObject::DGdiObject;
  virtual bool CreateSolid(COLORREF color);
  virtual bool CreateHatch(int hatch, COLORREF color);
  virtual bool GetLogBrush(LOGBRUSH* brush);
};

class DFont : public DGdiObject {
 public:
  using DGdiObject::DGdiObject;
  virtual bool CreateIndirect(const LOGFONTA* font);
  // The face name keeps at most 31 bytes, never half a double-byte character.
  virtual bool Create(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                      BYTE underline, BYTE strike_out, BYTE charset, BYTE out_precision, BYTE clip_precision,
                      BYTE quality, BYTE pitch_and_family, const DString& face);
  // A Shift-JIS font of fixed (FF_MODERN) or variable pitch.
  virtual bool CreateFixed(int height, int weight, const DString& face);
  virtual bool CreateVariable(int height, int weight, const DString& face);
  virtual bool GetLogFont(LOGFONTA* font);
};

class DBitmap : public DGdiObject {
 public:
  using DGdiObject::DGdiObject;
  virtual bool CreateIndirect(const BITMAP* bitmap);
  virtual bool Create(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits);
  virtual bool CreateCompatible(DDC& dc, int width, int height);
  virtual bool CreateDIBitmap(DDC& dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                              const BITMAPINFO* info, UINT usage);
  virtual bool CreateDIBitmap(DDC& dc, const BITMAPINFOHEADER* header);
  // The section's pixels, or null on failure (also when a bitmap is held).
  virtual void* CreateDIBSection(DDC& dc, const BITMAPINFO* info, UINT usage);
  virtual bool Load(const DModule& module, const DString& name);
  virtual bool Load(const DModule& module, UINT id);
  // From the application's instance.
  virtual bool Load(const DString& name);
  virtual bool Load(UINT id);
  virtual bool GetDIBSection(DIBSECTION* section);
  virtual bool GetBitmap(BITMAP* bitmap);
};

class DPalette : public DGdiObject {
 public:
  using DGdiObject::DGdiObject;
  virtual bool Create(const LOGPALETTE* palette);
  // The entry count, through an 8-byte buffer.
  virtual bool GetEntryCount(void* buffer);
};
