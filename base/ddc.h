// Device-context wrappers: DDC (creation, state, drawing and text under GDI's names, composite
// frames, and DrawTextWrapped, the framework's own Shift-JIS text layout) and DWindowDC, the DC
// of a window given back with ReleaseDC.
#pragma once

#include <cstdint>

#include "base/dgdiobject.h"
#include "base/dgeometry.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "base/dwindow.h"
#include "platform/win32.h"

// DrawTextWrapped flags.
inline constexpr uint32_t kDtwMeasure = 0x001;     // measure only: nothing drawn
inline constexpr uint32_t kDtwRight = 0x004;       // a line that fits: right-aligned
inline constexpr uint32_t kDtwCenter = 0x008;      // lines centred (see DrawTextWrapped)
inline constexpr uint32_t kDtwBottom = 0x020;      // a block that fits: at the bottom
inline constexpr uint32_t kDtwVCenter = 0x040;     // a block that fits: centred vertically
inline constexpr uint32_t kDtwOverRight = 0x080;   // a line too wide: ends at the right edge
inline constexpr uint32_t kDtwOverBottom = 0x100;  // a block too tall: ends at the bottom edge
inline constexpr uint32_t kDtwWrap = 0x200;        // break lines at the area's width

// Creation makes the object owner; objects made from an HDC and copies are not. Release deletes
// only when owner; Delete always. Drawing on an empty object passes DC 0 to the system.
class DDC : public DObject {
 public:
  DDC() = default;
  // Over an existing DC, not owner.
  explicit DDC(HDC dc);
  DDC(const DDC& other);
  DDC& operator=(const DDC& other);
  ~DDC() override;

  virtual bool CreateDC(const DString& driver, const DString& device, const DString& output,
                        const DEVMODEA* mode);
  virtual bool CreateCompatible(const DDC& other);
  virtual bool CreateCompatible();
  virtual bool CreateIC(const DString& driver, const DString& device, const DString& output,
                        const DEVMODEA* mode);
  virtual void Release();
  virtual bool Delete();
  virtual int GetDeviceCaps(int index);
  virtual int Save();
  virtual bool Restore(int saved);
  virtual bool Reset(const DEVMODEA* mode);
  // The previously selected object, not owner.
  virtual DGdiObject SelectObject(const DGdiObject& object);
  // Pixels of a font of that many tenths of a point on this DC.
  virtual int HeightFromDecipoints(int decipoints);
  virtual DPen GetCurrentPen();
  virtual DBrush GetCurrentBrush();
  virtual DPalette GetCurrentPalette();
  virtual DFont GetCurrentFont();
  virtual DBitmap GetCurrentBitmap();
  virtual COLORREF GetTextColor();
  virtual COLORREF SetTextColor(COLORREF color);
  virtual bool GetTextMetrics(TEXTMETRICA* metrics);
  // Count 0: the whole text. (0, 0) when the system fails.
  virtual DPoint GetTextExtent(const DString& text, uint32_t count);
  virtual bool TextOut(int x, int y, const DString& text, uint32_t count);
  virtual bool ExtTextOut(int x, int y, UINT options, const DRect& rect, const DString& text, uint32_t count,
                          const int* spacing);
  virtual bool ExtTextOut(int x, int y, UINT options, const DRect& rect, const DString& text,
                          const int* spacing);
  virtual bool ExtTextOut(int x, int y, UINT options, const DString& text, uint32_t count,
                          const int* spacing);
  virtual bool ExtTextOut(int x, int y, UINT options, const DString& text, const int* spacing);
  virtual int DrawText(const DString& text, int count, const DRect& rect, UINT format);
  virtual int DrawText(const DString& text, const DRect& rect, UINT format);
  // Lays text out in area: lines at line feeds and, with kDtwWrap, at the area's width; tabs to
  // tab-width columns; scroll.y lines and scroll.x bytes of each line skipped; lines and the
  // block aligned by the flags; every line clipped to the area. The result is (0, 0, widest
  // drawn line, total height of the drawn lines). Length 0: the whole text.
  virtual DRect DrawTextWrapped(const DString& text, uint32_t length, const DRect& area, const DPoint& scroll,
                                int tab_width, uint32_t flags);
  virtual DRect DrawTextWrapped(const DString& text, const DRect& area, const DPoint& scroll, int tab_width,
                                uint32_t flags);
  virtual DRect DrawTextWrapped(const DString& text, const DRect& area, const DPoint& scroll, uint32_t flags);
  virtual DRect DrawTextWrapped(const DString& text, const DRect& area, uint32_t flags);
  virtual COLORREF GetBkColor();
  virtual COLORREF SetBkColor(COLORREF color);
  virtual int GetBkMode();
  virtual int SetBkMode(int mode);
  virtual bool PatBlt(int x, int y, int width, int height, DWORD rop);
  virtual bool BitBlt(int x, int y, int width, int height, const DDC& source, int sx, int sy, DWORD rop);
  virtual bool MoveTo(int x, int y);
  // On success the previous position is written into previous.
  virtual bool MoveTo(int x, int y, DPoint& previous);
  virtual bool Line(int x1, int y1, int x2, int y2);
  virtual bool LineTo(int x, int y);
  // Top and left edges with pen1, right and bottom with pen2, which stays selected.
  virtual void Draw3dRect(const DRect& rect, const DGdiObject& pen1, const DGdiObject& pen2);
  virtual void Draw3dRect(int x, int y, int width, int height, const DGdiObject& pen1,
                          const DGdiObject& pen2);
  // The four edges with the current pen (LineTo leaves out the bottom-right pixel).
  virtual void FrameRect(const DRect& rect);
  virtual void FrameRect(int x, int y, int width, int height);

  HDC GetHandle() const { return ref_ ? *ref_ : nullptr; }
  bool IsOwner() const { return owned_ != 0; }

 protected:
  bool Holds() const { return ref_ && *ref_; }
  bool Adopt(HDC dc);

  DRef<HDC> ref_;
  uint8_t owned_ = 0;
};

// The DC of a window: Get takes it with GetDC or GetWindowDC; Delete gives it back with ReleaseDC.
class DWindowDC : public DDC {
 public:
  DWindowDC() = default;
  DWindowDC(const DWindowDC& other);
  DWindowDC& operator=(const DWindowDC& other);
  ~DWindowDC() override;

  bool Delete() override;
  // False when a DC is held or the system fails; else owner of the window's client DC (client
  // true) or whole-window DC.
  virtual bool Get(const DWindow& window, bool client);

  const DWindow& GetWindow() const { return window_; }

 private:
  DWindow window_;
};
