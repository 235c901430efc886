// The engine program with a watcher on its presents: every picture the headless host receives is
// read back, and what a reveal shows must stay shown. In the blue sprite's rectangle a pixel that
// turned blue never turns into anything else; once the first background is up, a background pixel
// moves only from red towards the second background's green (red never rises, green never falls).
// At exit one line on stderr sums it up:
//   [monitor] presents=N partial=P complete=C turned_back=T background_back=B
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/client_surface.h"
#include "tests/game/core_scene/scene_layout.h"

namespace {

using namespace core_scene;

struct Watch {
  std::mutex lock;
  std::vector<bool> revealed = std::vector<bool>(size_t(kBlueRect.w) * kBlueRect.h, false);
  int presents = 0;
  int partial = 0;        // presents with some but not all of the rectangle revealed
  bool complete = false;  // the last present showed all of it
  int turned_back = 0;    // pixels that were revealed and showed something else later
  bool background_seen = false;
  uint32_t background = 0;
  int background_back = 0;
};

Watch& TheWatch() {
  static Watch* w = new Watch;  // read by the exit handler
  return *w;
}

void Report() {
  Watch& w = TheWatch();
  std::lock_guard<std::mutex> l(w.lock);
  std::fprintf(stderr, "[monitor] presents=%d partial=%d complete=%d turned_back=%d background_back=%d\n",
               w.presents, w.partial, w.complete ? 1 : 0, w.turned_back, w.background_back);
}

void Look(const ClientSurfaceView& v) {
  Watch& w = TheWatch();
  std::lock_guard<std::mutex> l(w.lock);
  if (w.presents++ == 0) std::atexit(Report);
  auto at = [&](int x, int y) { return v.pixels[size_t(y) * size_t(v.pitch / 4) + size_t(x)] & 0xFFFFFF; };
  int shown = 0;
  for (int y = 0; y < kBlueRect.h; ++y) {
    for (int x = 0; x < kBlueRect.w; ++x) {
      const bool blue = at(kBlueRect.x + x, kBlueRect.y + y) == kBlue;
      const size_t i = size_t(y) * kBlueRect.w + x;
      if (w.revealed[i] && !blue) ++w.turned_back;
      if (blue) w.revealed[i] = true;
      shown += blue ? 1 : 0;
    }
  }
  const int all = kBlueRect.w * kBlueRect.h;
  if (shown > 0 && shown < all) ++w.partial;
  w.complete = shown == all;
  const uint32_t p = at(8, 8);
  if (!w.background_seen) {
    w.background_seen = p == kRed;
  } else if ((p >> 16) > (w.background >> 16) || ((p >> 8) & 0xFF) < ((w.background >> 8) & 0xFF)) {
    ++w.background_back;
  }
  if (w.background_seen) w.background = p;
}

}  // namespace

// Takes the place of the platform's present (the engine reaches it through the shared library's
// symbol table): the platform presents, then the watcher reads what was shown.
void ClientSurfacePresent(HWND hwnd) {
  using Present = void (*)(HWND);
  static const Present real = reinterpret_cast<Present>(dlsym(RTLD_NEXT, "ClientSurfacePresent"));
  if (!real) {
    std::fputs("[monitor] the platform's present is missing\n", stderr);
    std::abort();
  }
  real(hwnd);
  ClientSurfaceView view;
  if (!ClientSurfaceLock(hwnd, &view)) return;
  if (view.width == kScreenW && view.height == kScreenH && view.x == 0 && view.y == 0) Look(view);
  const RECT nothing{0, 0, 0, 0};
  ClientSurfaceUnlock(hwnd, &nothing);
}
