// Shared fixture of the TSS unit tests: a window, a fresh stand-in profile, a captured debug log,
// and helpers that make images and read the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "base/dlogstream.h"
#include "base/dwindow.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "imaging/dimage.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"
#include "tests/support/log_capture.h"

namespace tss_test {

inline LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

using orvane_test::LogCapture;

// An ARGB8888 (format 2) source image filled by f(x, y).
template <class F>
void MakeSource(DImage* image, uint32_t w, uint32_t h, F f) {
  ASSERT_TRUE(image->Create(w, h, 0, DimgFormat::BGRA8888));
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t v = f(x, y);
      std::memcpy(image->GetPixelPointer(static_cast<int32_t>(x), static_cast<int32_t>(y)), &v, 4);
    }
}

// The pixels of a surface as 0x00RRGGBB / raw 16-bit values.
inline std::vector<uint32_t> ReadSurface(IDirectDrawSurface7* s, int* w = nullptr, int* h = nullptr) {
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  std::vector<uint32_t> out;
  if (!s || FAILED(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr))) return out;
  int bpp = static_cast<int>(d.ddpfPixelFormat.dwRGBBitCount / 8);
  for (DWORD y = 0; y < d.dwHeight; ++y)
    for (DWORD x = 0; x < d.dwWidth; ++x) {
      uint32_t v = 0;
      std::memcpy(&v, static_cast<uint8_t*>(d.lpSurface) + d.lPitch * y + x * bpp, bpp);
      out.push_back(bpp == 4 && !(d.ddpfPixelFormat.dwFlags & DDPF_ALPHAPIXELS) ? (v & 0xFFFFFF) : v);
    }
  s->Unlock(nullptr);
  if (w) *w = static_cast<int>(d.dwWidth);
  if (h) *h = static_cast<int>(d.dwHeight);
  return out;
}

inline int CountPrefix(const std::vector<std::string>& log, const std::string& prefix) {
  return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
    return l.compare(0, prefix.size(), prefix) == 0;
  }));
}

class Tss : public ::testing::Test {
 protected:
  void SetUp() override {
    orvane::dx::Reset();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "tsstest";
    RegisterClassExA(&wc);
  }
  void TearDown() override {
    manager_.Destroy();
    if (hwnd_) DestroyWindow(hwnd_);
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  }
  // A window of client size w x h and the manager started on it.
  bool Start(int w = 64, int h = 48, uint32_t flags = 0x10) {
    if (!hwnd_) {
      hwnd_ = CreateWindowExA(0, "tsstest", "t", WS_POPUP | WS_VISIBLE, 10, 20, w, h, nullptr, nullptr,
                              nullptr, nullptr);
      window_ = DWindow(hwnd_);
    }
    return manager_.Create(window_, flags);
  }
  DRef<DtssImage> Image(uint32_t w, uint32_t h, uint32_t fill = 0xFFFFFFFF) {
    DImage src;
    MakeSource(&src, w, h, [&](uint32_t, uint32_t) { return fill; });
    return manager_.CreateImage(src, 0, 0);
  }
  std::vector<uint32_t> Back() { return ReadSurface(manager_.GetBackBuffer()); }

  HWND hwnd_ = nullptr;
  DWindow window_;
  DtssManager manager_;
};

}  // namespace tss_test
