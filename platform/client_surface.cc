// Client surfaces: one 32-bit XRGB picture of its client size per top-level window, locked by
// GDI window DCs (and later the DirectDraw and Direct3D stand-ins), shown by the host at each
// present and traced as "present <window> x,y wxh".
#include "platform/client_surface.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "platform/gdi_internal.h"
#include "platform/host.h"
#include "platform/mmsystem.h"

namespace {

struct Surface {
  std::vector<std::uint32_t> pixels;
  int width = 0;
  int height = 0;
  bool dirty = false;
  RECT dirty_rect{0, 0, 0, 0};
};

// One lock of this thread: which window, its top-level window and the view's offset there.
struct Held {
  HWND hwnd;
  HWND top;
  int ox, oy;
  int width, height;
};

std::recursive_mutex& SurfaceLock() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}
std::map<HWND, Surface>& Surfaces() {
  static std::map<HWND, Surface> s;
  return s;
}
thread_local std::vector<Held> t_held;

// Forgets the surfaces of windows that died.
void Sweep() {
  auto& all = Surfaces();
  for (auto it = all.begin(); it != all.end();) {
    it = IsWindow(it->first) ? std::next(it) : all.erase(it);
  }
}

void AddDirty(Surface& s, RECT r) {
  r.left = std::max<LONG>(r.left, 0);
  r.top = std::max<LONG>(r.top, 0);
  r.right = std::min<LONG>(r.right, s.width);
  r.bottom = std::min<LONG>(r.bottom, s.height);
  if (r.right <= r.left || r.bottom <= r.top) return;
  if (!s.dirty) {
    s.dirty_rect = r;
    s.dirty = true;
    return;
  }
  RECT& d = s.dirty_rect;
  d = {std::min(d.left, r.left), std::min(d.top, r.top), std::max(d.right, r.right),
       std::max(d.bottom, r.bottom)};
}

// Sizes the surface to the window's client area, keeping what overlaps; all of it is then dirty.
void Fit(Surface& s, int w, int h) {
  if (s.width == w && s.height == h) return;
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  for (int y = 0; y < std::min(h, s.height); ++y) {
    std::copy_n(s.pixels.begin() + static_cast<std::ptrdiff_t>(y) * s.width, std::min(w, s.width),
                px.begin() + static_cast<std::ptrdiff_t>(y) * w);
  }
  s.pixels.swap(px);
  s.width = w;
  s.height = h;
  s.dirty = false;
  AddDirty(s, {0, 0, w, h});
}

}  // namespace

namespace orvane::gdi {

std::vector<HWND> DirtySurfaces() {
  std::lock_guard<std::recursive_mutex> l(SurfaceLock());
  Sweep();
  std::vector<HWND> out;
  for (auto& [h, s] : Surfaces())
    if (s.dirty) out.push_back(h);
  return out;
}

}  // namespace orvane::gdi

BOOL ClientSurfaceLock(HWND hwnd, ClientSurfaceView* view) {
  if (!view || !IsWindow(hwnd)) return FALSE;
  HWND top = orvane::gdi::TopLevel(hwnd);
  RECT tc, cc;
  if (!GetClientRect(top, &tc) || !GetClientRect(hwnd, &cc) || tc.right <= 0 || tc.bottom <= 0) return FALSE;
  POINT t{0, 0}, o{0, 0};
  ClientToScreen(top, &t);
  ClientToScreen(hwnd, &o);
  // The window's client area in the top-level surface, clipped to it.
  long long ox = o.x - t.x, oy = o.y - t.y;
  long long l = std::max(ox, 0LL), tp = std::max(oy, 0LL);
  long long r = std::min<long long>(ox + cc.right, tc.right),
            b = std::min<long long>(oy + cc.bottom, tc.bottom);
  if (r <= l || b <= tp) return FALSE;
  SurfaceLock().lock();
  Sweep();
  Surface& s = Surfaces()[top];
  Fit(s, tc.right, tc.bottom);
  view->pixels = s.pixels.data() + tp * s.width + l;
  view->width = static_cast<int>(r - l);
  view->height = static_cast<int>(b - tp);
  view->pitch = s.width * 4;
  view->x = static_cast<int>(l - ox);
  view->y = static_cast<int>(tp - oy);
  t_held.push_back({hwnd, top, static_cast<int>(ox), static_cast<int>(oy), view->width, view->height});
  return TRUE;
}

void ClientSurfaceUnlock(HWND hwnd, const RECT* dirty) {
  auto it = std::find_if(t_held.rbegin(), t_held.rend(), [&](const Held& h) { return h.hwnd == hwnd; });
  if (it == t_held.rend()) return;  // not locked by this thread
  Held held = *it;
  t_held.erase(std::next(it).base());
  auto found = Surfaces().find(held.top);
  if (found != Surfaces().end()) {
    RECT d;
    if (dirty) {
      d = {dirty->left + held.ox, dirty->top + held.oy, dirty->right + held.ox, dirty->bottom + held.oy};
    } else {
      d = {std::max(held.ox, 0), std::max(held.oy, 0), std::max(held.ox, 0) + held.width,
           std::max(held.oy, 0) + held.height};
    }
    // Only the window's own part can have changed.
    RECT own{std::max(held.ox, 0), std::max(held.oy, 0), std::max(held.ox, 0) + held.width,
             std::max(held.oy, 0) + held.height};
    d = {std::max(d.left, own.left), std::max(d.top, own.top), std::min(d.right, own.right),
         std::min(d.bottom, own.bottom)};
    AddDirty(found->second, d);
  }
  SurfaceLock().unlock();
}

void ClientSurfacePresent(HWND hwnd) {
  if (!IsWindow(hwnd)) return;
  HWND top = orvane::gdi::TopLevel(hwnd);
  {
    std::lock_guard<std::recursive_mutex> l(SurfaceLock());
    auto it = Surfaces().find(top);
    if (it == Surfaces().end() || !it->second.dirty) return;
    Surface& s = it->second;
    RECT d = s.dirty_rect;
    s.dirty = false;
    orvane::host::Current().PresentSurface(top, s.pixels.data(), s.width, s.height, s.width * 4, d);
    char buf[96];
    std::snprintf(buf, sizeof(buf), "present %p %ld,%ld %ldx%ld", static_cast<void*>(top),
                  static_cast<long>(d.left), static_cast<long>(d.top), static_cast<long>(d.right - d.left),
                  static_cast<long>(d.bottom - d.top));
    orvane::host::RecordTrace(buf);
  }
  // Outside the lock: the clock may deliver scripted events on its way.
  orvane::clock::VirtualPresent();
}
