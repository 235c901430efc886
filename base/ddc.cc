// Device-context wrappers and the framework's wrapped text layout.
#include "base/ddc.h"

#include <algorithm>
#include <cstring>

namespace {

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

RECT ToRect(const DRect& r) {
  // The edges in 64 bits, saturated: x + width may pass the 32-bit range.
  return {r.x, r.y, Clamp32(int64_t{r.x} + r.width), Clamp32(int64_t{r.y} + r.height)};
}

uint32_t WholeOr(const DString& text, uint32_t count) {
  return count ? count : text.Length();
}

// A byte DrawTextWrapped drops: control characters other than tab and line feed, DEL and the
// single bytes that are no character (0x80, 0xA0, 0xFD-0xFF). Half-width katakana stay.
bool Dropped(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == 0x80 || c == 0xA0 || c >= 0xFD;
}

}  // namespace

DDC::DDC(HDC dc) {
  ref_.Alloc(1);
  *ref_ = dc;
}

DDC::DDC(const DDC& other) : DObject(other), ref_(other.ref_) {}

DDC& DDC::operator=(const DDC& other) {
  if (this == &other) return *this;
  Release();
  ref_ = other.ref_;
  owned_ = 0;
  return *this;
}

DDC::~DDC() {
  DDC::Release();
}

bool DDC::Adopt(HDC dc) {
  if (!dc) return false;
  ref_.Alloc(1);
  *ref_ = dc;
  owned_ = 1;
  return true;
}

bool DDC::CreateDC(const DString& driver, const DString& device, const DString& output,
                   const DEVMODEA* mode) {
  return !Holds() && Adopt(CreateDCA(driver.Get(), device.Get(), output.Get(), mode));
}

bool DDC::CreateCompatible(const DDC& other) {
  return !Holds() && Adopt(CreateCompatibleDC(other.GetHandle()));
}

bool DDC::CreateCompatible() {
  return CreateCompatible(DDC(static_cast<HDC>(nullptr)));
}

bool DDC::CreateIC(const DString& driver, const DString& device, const DString& output,
                   const DEVMODEA* mode) {
  return !Holds() && Adopt(CreateICA(driver.Get(), device.Get(), output.Get(), mode));
}

void DDC::Release() {
  if (owned_) Delete();
  ref_.Release();
  owned_ = 0;
}

bool DDC::Delete() {
  if (!ref_) return false;
  if (*ref_) DeleteDC(*ref_);
  *ref_ = nullptr;
  ref_.Release();
  owned_ = 0;
  return true;
}

int DDC::GetDeviceCaps(int index) {
  return ::GetDeviceCaps(GetHandle(), index);
}

int DDC::Save() {
  return SaveDC(GetHandle());
}

bool DDC::Restore(int saved) {
  return RestoreDC(GetHandle(), saved) != FALSE;
}

bool DDC::Reset(const DEVMODEA* mode) {
  return ResetDCA(GetHandle(), mode) != nullptr;
}

DGdiObject DDC::SelectObject(const DGdiObject& object) {
  return DGdiObject(::SelectObject(GetHandle(), object.GetHandle()));
}

int DDC::HeightFromDecipoints(int decipoints) {
  // 64 bits: tenths of a point times the resolution may pass 32 bits.
  int64_t y = int64_t{decipoints} * GetDeviceCaps(LOGPIXELSY) / 72;
  y /= 10;
  POINT p[2] = {{0, Clamp32(y)}, {0, 0}};
  DPtoLP(GetHandle(), p, 2);
  int64_t d = int64_t{p[0].y} - p[1].y;
  return Clamp32(d < 0 ? -d : d);
}

DPen DDC::GetCurrentPen() {
  return DPen(GetCurrentObject(GetHandle(), OBJ_PEN));
}
DBrush DDC::GetCurrentBrush() {
  return DBrush(GetCurrentObject(GetHandle(), OBJ_BRUSH));
}
DPalette DDC::GetCurrentPalette() {
  return DPalette(GetCurrentObject(GetHandle(), OBJ_PAL));
}
DFont DDC::GetCurrentFont() {
  return DFont(GetCurrentObject(GetHandle(), OBJ_FONT));
}
DBitmap DDC::GetCurrentBitmap() {
  return DBitmap(GetCurrentObject(GetHandle(), OBJ_BITMAP));
}

COLORREF DDC::GetTextColor() {
  return ::GetTextColor(GetHandle());
}
COLORREF DDC::SetTextColor(COLORREF color) {
  return ::SetTextColor(GetHandle(), color);
}
bool DDC::GetTextMetrics(TEXTMETRICA* metrics) {
  return GetTextMetricsA(GetHandle(), metrics) != FALSE;
}

DPoint DDC::GetTextExtent(const DString& text, uint32_t count) {
  SIZE s{0, 0};
  uint32_t n = WholeOr(text, count);
  if (!GetTextExtentPoint32A(GetHandle(), text.Text(), static_cast<int>(std::min<uint32_t>(n, INT32_MAX)),
                             &s))
    return DPoint(0, 0);
  return DPoint(s.cx, s.cy);
}

bool DDC::TextOut(int x, int y, const DString& text, uint32_t count) {
  uint32_t n = WholeOr(text, count);
  return TextOutA(GetHandle(), x, y, text.Text(), static_cast<int>(std::min<uint32_t>(n, INT32_MAX))) !=
         FALSE;
}

bool DDC::ExtTextOut(int x, int y, UINT options, const DRect& rect, const DString& text, uint32_t count,
                     const int* spacing) {
  RECT r = ToRect(rect);
  return ExtTextOutA(GetHandle(), x, y, options, &r, text.Text(), count, spacing) != FALSE;
}

bool DDC::ExtTextOut(int x, int y, UINT options, const DRect& rect, const DString& text, const int* spacing) {
  return ExtTextOut(x, y, options, rect, text, text.Length(), spacing);
}

bool DDC::ExtTextOut(int x, int y, UINT options, const DString& text, uint32_t count, const int* spacing) {
  return ExtTextOutA(GetHandle(), x, y, options, nullptr, text.Text(), count, spacing) != FALSE;
}

bool DDC::ExtTextOut(int x, int y, UINT options, const DString& text, const int* spacing) {
  return ExtTextOut(x, y, options, text, text.Length(), spacing);
}

int DDC::DrawText(const DString& text, int count, const DRect& rect, UINT format) {
  RECT r = ToRect(rect);  // a copy: a calculated rectangle is not handed back
  return DrawTextA(GetHandle(), text.Text(), count, &r, format);
}

int DDC::DrawText(const DString& text, const DRect& rect, UINT format) {
  return DrawText(text, -1, rect, format);
}

DRect DDC::DrawTextWrapped(const DString& text, uint32_t length, const DRect& area, const DPoint& scroll,
                           int tab_width, uint32_t flags) {
  const char* t = text.Text();
  if (length == 0) length = text.Length();
  if (tab_width < 1) tab_width = 1;  // a tab width of 0 would divide by zero
  const bool wrap = (flags & kDtwWrap) != 0;
  int64_t y = 0;
  if (!(flags & kDtwMeasure)) {
    DRect m = DrawTextWrapped(text, length, area, scroll, tab_width, (flags & kDtwWrap) | kDtwMeasure);
    if (m.height > area.height) {
      y = (flags & kDtwOverBottom) ? int64_t{area.y} + (int64_t{area.height} - m.height) : area.y;
    } else if (flags & kDtwBottom) {
      y = int64_t{area.y} + area.height - m.height;
    } else if (flags & kDtwVCenter) {
      y = int64_t{area.y} + (int64_t{area.height} - m.height) / 2;
    } else {
      y = area.y;
    }
  }
  const DPoint space = GetTextExtent(" ", 0);
  int32_t lines_to_skip = scroll.y;
  int64_t widest = 0, total = 0;
  if (length == 0 || !t[0]) return DRect(0, 0, 0, 0);
  char line[1024 + 2 + 1];  // 1024 bytes, one double-byte character past them, the NUL
  uint32_t i = 0;
  while (i < length && t[i]) {
    // Build one line.
    uint32_t n = 0;
    int64_t width = 0;
    while (i < length && t[i] && n < 1024) {
      const unsigned char c = static_cast<unsigned char>(t[i]);
      if (DIsLeadByte(c)) {
        if (i + 1 >= length || !t[i + 1]) {
          ++i;  // a lead byte without its trail is dropped
          continue;
        }
        const char pair[3] = {t[i], t[i + 1], 0};
        int64_t w = GetTextExtent(pair, 2).x;
        if (wrap && n > 0 && width + w > area.width) break;  // a line takes at least one character
        line[n++] = t[i];
        line[n++] = t[i + 1];
        width += w;
        i += 2;
      } else if (c == '\t') {
        uint32_t spaces = static_cast<uint32_t>(tab_width) - n % static_cast<uint32_t>(tab_width);
        if (wrap && n > 0 && width + int64_t{spaces} * space.x > area.width) break;
        spaces = std::min<uint32_t>(spaces, 1024 - n);
        std::memset(line + n, ' ', spaces);
        n += spaces;
        width += int64_t{spaces} * space.x;
        ++i;
      } else if (c == '\n') {
        ++i;
        break;
      } else if (Dropped(c)) {
        ++i;
      } else {
        const char one[2] = {t[i], 0};
        int64_t w = GetTextExtent(one, 1).x;
        if (wrap && n > 0 && width + w > area.width) break;
        line[n++] = t[i];
        width += w;
        ++i;
      }
    }
    line[n] = 0;
    // Finish it.
    if (lines_to_skip > 0) {
      --lines_to_skip;
      continue;
    }
    uint32_t s = 0;
    const int64_t skip_bytes = scroll.x;
    while (s < skip_bytes && s < n) s += DIsLeadByte(line[s]) ? 2 : 1;
    const int64_t straddle = s > skip_bytes ? space.x : 0;
    if (!(flags & kDtwMeasure)) {
      int64_t dx = 0;
      if (width > area.width) {
        if (flags & kDtwOverRight)
          dx = int64_t{area.width} - width;
        else if (flags & kDtwCenter)
          dx = (int64_t{area.width} - width) / 2;
      } else if (flags & kDtwRight) {
        dx = int64_t{area.width} - width;
      } else if (flags & kDtwCenter) {
        dx = (int64_t{area.width} - width) / 2;
      }
      ExtTextOut(Clamp32(int64_t{area.x} + dx + straddle), Clamp32(y), ETO_CLIPPED, area, DString(line + s),
                 nullptr);
    }
    if (s < n) {
      DPoint e = GetTextExtent(DString(line + s), 0);
      widest = std::max<int64_t>(widest, e.x);
      total += e.y;
      y += e.y;
    } else {
      total += space.y;
      y += space.y;
    }
  }
  return DRect(0, 0, Clamp32(widest), Clamp32(total));
}

DRect DDC::DrawTextWrapped(const DString& text, const DRect& area, const DPoint& scroll, int tab_width,
                           uint32_t flags) {
  return DrawTextWrapped(text, 0, area, scroll, tab_width, flags);
}

DRect DDC::DrawTextWrapped(const DString& text, const DRect& area, const DPoint& scroll, uint32_t flags) {
  return DrawTextWrapped(text, area, scroll, 8, flags);
}

DRect DDC::DrawTextWrapped(const DString& text, const DRect& area, uint32_t flags) {
  return DrawTextWrapped(text, area, DPoint(0, 0), flags);
}

COLORREF DDC::GetBkColor() {
  return ::GetBkColor(GetHandle());
}
COLORREF DDC::SetBkColor(COLORREF color) {
  return ::SetBkColor(GetHandle(), color);
}
int DDC::GetBkMode() {
  return ::GetBkMode(GetHandle());
}
int DDC::SetBkMode(int mode) {
  return ::SetBkMode(GetHandle(), mode);
}

bool DDC::PatBlt(int x, int y, int width, int height, DWORD rop) {
  return ::PatBlt(GetHandle(), x, y, width, height, rop) != FALSE;
}

bool DDC::BitBlt(int x, int y, int width, int height, const DDC& source, int sx, int sy, DWORD rop) {
  return ::BitBlt(GetHandle(), x, y, width, height, source.GetHandle(), sx, sy, rop) != FALSE;
}

bool DDC::MoveTo(int x, int y) {
  return MoveToEx(GetHandle(), x, y, nullptr) != FALSE;
}

bool DDC::MoveTo(int x, int y, DPoint& previous) {
  POINT p{0, 0};
  if (!MoveToEx(GetHandle(), x, y, &p)) return false;
  previous = DPoint(p.x, p.y);
  return true;
}

bool DDC::Line(int x1, int y1, int x2, int y2) {
  return MoveTo(x1, y1) && LineTo(x2, y2);
}

bool DDC::LineTo(int x, int y) {
  return ::LineTo(GetHandle(), x, y) != FALSE;
}

void DDC::Draw3dRect(const DRect& rect, const DGdiObject& pen1, const DGdiObject& pen2) {
  Draw3dRect(rect.x, rect.y, rect.width, rect.height, pen1, pen2);
}

void DDC::Draw3dRect(int x, int y, int width, int height, const DGdiObject& pen1, const DGdiObject& pen2) {
  const int r = Clamp32(int64_t{x} + width - 1), b = Clamp32(int64_t{y} + height - 1);
  SelectObject(pen1);
  Line(x, y, r, y);
  Line(x, y, x, b);
  SelectObject(pen2);  // stays selected
  Line(r, y, r, b);
  Line(x, b, r, b);
}

void DDC::FrameRect(const DRect& rect) {
  FrameRect(rect.x, rect.y, rect.width, rect.height);
}

void DDC::FrameRect(int x, int y, int width, int height) {
  const int r = Clamp32(int64_t{x} + width - 1), b = Clamp32(int64_t{y} + height - 1);
  Line(x, y, r, y);
  Line(x, y, x, b);
  Line(r, y, r, b);
  Line(x, b, r, b);
}

// ---------------------------------------------------------------- window DCs

DWindowDC::DWindowDC(const DWindowDC& other) : DDC(other), window_(other.window_) {}

DWindowDC& DWindowDC::operator=(const DWindowDC& other) {
  if (this == &other) return *this;
  DDC::operator=(other);
  window_ = other.window_;
  return *this;
}

DWindowDC::~DWindowDC() {
  // While this is still a DWindowDC, so an owned DC goes back with ReleaseDC.
  Release();
}

bool DWindowDC::Delete() {
  if (!ref_) return false;
  if (*ref_) ReleaseDC(window_.GetHandle(), *ref_);
  *ref_ = nullptr;
  ref_.Release();
  owned_ = 0;
  window_.Release();
  return true;
}

bool DWindowDC::Get(const DWindow& window, bool client) {
  if (Holds()) return false;
  HWND h = window.GetHandle();
  HDC dc = client ? ::GetDC(h) : ::GetWindowDC(h);
  if (!Adopt(dc)) return false;
  window_ = window;
  return true;
}
