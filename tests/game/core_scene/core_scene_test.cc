// The game library on the real engine, headless in the sprite system's mode: a test plug-in built
// from it plays a fixed scene (backgrounds, a masked reveal, a cross-fade, an alpha-layer PNG, a
// split-alpha picture, a two-sub-sprite definition whose cells stop on their last ones and a
// motion waited for). The engine's last captured frame shows every part where it stays, and a
// program linked like the engine that reads each presented picture sees no revealed pixel turn
// back. The test writes every picture and text the scene reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "base/dstring.h"
#include "imaging/dimage.h"
#include "imaging/dimg_bmp.h"
#include "imaging/dimg_png.h"
#include "tests/game/core_scene/scene_layout.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"

namespace {

using namespace core_scene;

// A picture w x h whose pixel (x, y) is colour(x, y) as 0xAARRGGBB (alpha 0xFF opaque).
template <class F>
bool Write(const std::string& path, int w, int h, bool png, F colour) {
  DImage image;
  if (!image.Create(uint32_t(w), uint32_t(h), 0, png ? DimgFormat::RGBA8888 : DimgFormat::RGB888))
    return false;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t c = colour(x, y);
      uint8_t* p = image.GetPixelPointer(uint32_t(x), uint32_t(y));
      p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
      if (png) p[3] = uint8_t(c >> 24);
    }
  }
  DFile f;
  if (!f.Open(DString(path.c_str()), DFile::kRead | DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew))
    return false;
  return png ? DimgWritePNG(f, image, true) : DimgWriteBitmap(f, image);
}

constexpr uint32_t kOpaque = 0xFF000000;

// What the last frame shows at (x, y).
uint32_t Expected(int x, int y) {
  auto in = [&](const Rect& r) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; };
  if (in(Rect{kCharaEndX, kCharaEndY, kCell, kCell})) return kOrange;         // sub-sprite 0 on cell 3
  if (in(Rect{kCharaEndX + kCell, kCharaEndY, kCell, kCell})) return kWhite;  // sub-sprite 1 on cell 0
  if (in(kLayer) && x < kLayer.x + kLayer.w / 2) return kYellow;
  if (in(kSplit) && y < kSplit.y + kSplit.h / 2) return kCyan;
  if (in(kBlueRect)) return kBlue;
  return kGreen;
}

struct RunResult {
  int status = -1;
  std::string err;
};

class CoreScene : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(CORE_SCENE_PLUGIN, dir_.Path("core_scene.opi"));
    const std::string asm_text = orvane_test::ScratchDir::ReadPath(CORE_SCENE_SOURCE_DIR "/scene.asm");
    const std::vector<uint8_t> image = meiasm::Assemble(asm_text);
    dir_.Write("scene.mei", std::string(image.begin(), image.end()));
    ASSERT_TRUE(Write(dir_.Path(kBlueFile), kBlueRect.w, kBlueRect.h, false, [](int, int) { return kBlue; }));
    // The ramp: grey 0 at the left edge up to 254 at the right; the reveal runs left to right.
    ASSERT_TRUE(Write(dir_.Path(kRampFile), kBlueRect.w, kBlueRect.h, false, [](int x, int) {
      const uint32_t g = uint32_t(x * 255 / (kBlueRect.w - 1));
      return (g << 16) | (g << 8) | g;
    }));
    ASSERT_TRUE(Write(dir_.Path(std::string(kLayerName) + ".png"), kLayer.w, kLayer.h, true, [](int x, int) {
      return x < kLayer.w / 2 ? kOpaque | kYellow : kMagenta;  // right half: alpha 0
    }));
    ASSERT_TRUE(
        Write(dir_.Path(std::string(kSplitName) + ".bmp"), 2 * kSplit.w, kSplit.h, false, [](int x, int y) {
          const bool top = y < kSplit.h / 2;
          if (x < kSplit.w) return top ? kCyan : kMagenta;
          return top ? 0u : kWhite;  // the mask: black opaque, white transparent
        }));
    const uint32_t cells[4] = {kWhite, kMagenta, kCyan, kOrange};
    ASSERT_TRUE(
        Write(dir_.Path("cells.bmp"), 4 * kCell, kCell, false, [&](int x, int) { return cells[x / kCell]; }));
    dir_.Write("chara.spr",
               "@sprite subcount=2\n"
               "@sub1 file=cells x=16 cellx=4 animsetcount=1 animset0=\"3 40 2 40 1 40 0 -1\"\n"
               "@sub0 file=cells cellx=4 animsetcount=1 animset0=\"0 40 1 40 2 40 3 -1\"\n");
    dir_.Write("move.mot", "@pos 0 4 x=" + std::to_string(kCharaEndX) + " y=" + std::to_string(kCharaEndY) +
                               " span=300\n");
  }

  // Runs a program on the scene in the scratch directory, headless, with the capture named.
  RunResult RunProgram(const std::string& program) {
    const std::string command = "cd '" + dir_.Dir() + "' && ORVANE_BACKEND=headless ORVANE_CAPTURE='" +
                                dir_.Path("shot.ppm") + "' '" + program + "' '" + dir_.Path("scene.mei") +
                                "' >out.txt 2>err.txt";
    RunResult r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = dir_.Read("err.txt");
    return r;
  }

  // The capture as 0x00RRGGBB pixels; empty when it is not a 640 x 480 binary PPM.
  std::vector<uint32_t> Capture() {
    const std::string bytes = dir_.Read("shot.ppm");
    const std::string header = "P6\n" + std::to_string(kScreenW) + " " + std::to_string(kScreenH) + "\n255\n";
    std::vector<uint32_t> out;
    if (bytes.size() != header.size() + size_t(kScreenW) * kScreenH * 3 ||
        bytes.compare(0, header.size(), header))
      return out;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + header.size());
    for (size_t i = 0; i < size_t(kScreenW) * kScreenH; ++i, p += 3)
      out.push_back((uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]);
    return out;
  }

  orvane_test::ScratchDir dir_{"orvane_core_scene_"};
};

TEST_F(CoreScene, TheEnginesLastFrameShowsEveryPartWhereItStays) {
  const RunResult run = RunProgram(ORVANE_PROGRAM);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<uint32_t> shot = Capture();
  ASSERT_FALSE(shot.empty()) << "no capture";
  int wrong = 0;
  for (int y = 0; y < kScreenH; ++y) {
    for (int x = 0; x < kScreenW; ++x) {
      const uint32_t want = Expected(x, y), got = shot[size_t(y) * kScreenW + x];
      if (got == want) continue;
      if (++wrong <= 8) ADD_FAILURE() << "(" << x << "," << y << "): " << std::hex << got << " want " << want;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(CoreScene, ARevealedPixelNeverTurnsBackInAnyPresent) {
  const RunResult run = RunProgram(CORE_SCENE_MONITOR);
  ASSERT_EQ(run.status, 0) << run.err;
  int presents = -1, partial = -1, complete = -1, turned_back = -1, background_back = -1;
  const size_t at = run.err.find("[monitor] ");
  ASSERT_NE(at, std::string::npos) << run.err;
  ASSERT_EQ(std::sscanf(run.err.c_str() + at,
                        "[monitor] presents=%d partial=%d complete=%d turned_back=%d background_back=%d",
                        &presents, &partial, &complete, &turned_back, &background_back),
            5)
      << run.err;
  EXPECT_EQ(run.err.substr(0, at), "") << "the scene reported";
  EXPECT_EQ(turned_back, 0);
  EXPECT_EQ(background_back, 0);
  EXPECT_EQ(complete, 1);
  // The reveal took several frames, so the watcher saw it under way.
  EXPECT_GE(partial, 1);
  EXPECT_GT(presents, partial);
}

}  // namespace
