// A main-window stand-in for screen tests: the application, one window with a 640 x 480 client
// area, the DirectDraw stand-in reset, and reading back what the window shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/draw/screen.h"
#include "platform/client_surface.h"
#include "platform/ddraw_test.h"
#include "platform/host.h"
#include "tests/support/scratch_dir.h"

class ScreenFixture : public ::testing::Test {
 protected:
  ScreenFixture() : scratch_("orvane_screen_") {}
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", scratch_.Dir().c_str(), 1);
    ASSERT_TRUE(app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
    app_.SetDirectory((scratch_.Dir() + "/").c_str());
    DSetApplication(&app_);
    orvane::dx::Reset();
    orvane::host::ResetHeadless();
    ASSERT_TRUE(window_.Create("", "screen", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 10, 10, 300, 200));
    ASSERT_TRUE(window_.SetClientSize(640, 480));
  }
  void TearDown() override {
    screen_.Shutdown();
    window_.Destroy();
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
    orvane::dx::Reset();
  }

  // 0x00RRGGBB of a 16-bit pixel by bit replication (RGB565 green as 6 bits).
  static std::uint32_t Expand(std::uint16_t p, std::uint32_t format) {
    std::uint32_t r5, g, b5 = p & 31, g8;
    if (format == 6) {
      r5 = p >> 11;
      g = (p >> 5) & 63;
      g8 = (g << 2) | (g >> 4);
    } else {
      r5 = (p >> 10) & 31;
      g = (p >> 5) & 31;
      g8 = (g << 3) | (g >> 2);
    }
    return (((r5 << 3) | (r5 >> 2)) << 16) | (g8 << 8) | ((b5 << 3) | (b5 >> 2));
  }
  // What the window shows: its client surface, w x h from the top left.
  std::vector<std::uint32_t> Shown(int w = 640, int h = 480) {
    std::vector<std::uint32_t> out;
    ClientSurfaceView v;
    if (!ClientSurfaceLock(window_.GetHandle(), &v)) return out;
    for (int y = 0; y < std::min(h, v.height); ++y)
      for (int x = 0; x < std::min(w, v.width); ++x) out.push_back(v.pixels[y * (v.pitch / 4) + x]);
    ClientSurfaceUnlock(window_.GetHandle(), nullptr);
    return out;
  }
  // The back image expanded, w x h from the top left.
  std::vector<std::uint32_t> Back(int w = 640, int h = 480) {
    std::vector<std::uint32_t> out;
    ScreenImage& im = screen_.GetScreenImage();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) out.push_back(Expand(im.GetPixel(x, y), screen_.GetPixelFormat()));
    return out;
  }
  static bool Has(const std::vector<std::string>& log, const std::string& prefix) {
    for (const auto& l : log)
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }

  orvane_test::ScratchDir scratch_;
  DApplication app_;
  DWindow window_;
  Screen screen_;
};
