// End to end: a scene built by the Draw built-ins (keyed sprite over a filled background, a layer
// from ConvAlphaImage, mirrored, stretched and wiped blits) and rendered with RenderSpriteScreen is
// what the headless host captures, pixel for pixel against a reference compositor; the same scene
// through the exports gives the same capture, in process and from the test plug-in inside the
// engine program; RenderSpriteWait skips a late frame.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shell/cframetimer.h"
#include "tests/api/draw_fixture.h"
#include "tests/support/ppm.h"
#include "tools/meiasm/meiasm.h"

namespace {

using namespace draw_test;

// A channel of a 16-bit pixel and a packed pixel with green's low bit clear (RGB565).
struct Fmt {
  uint32_t code;
  int Ch(uint16_t p, int c) const {
    if (code == 6) return c == 0 ? p >> 11 : c == 1 ? (p >> 6) & 31 : p & 31;
    return c == 0 ? (p >> 10) & 31 : c == 1 ? (p >> 5) & 31 : p & 31;
  }
  uint16_t Pack(int r, int g, int b) const {
    return static_cast<uint16_t>(code == 6 ? (r << 11) | (g << 6) | b : (r << 10) | (g << 5) | b);
  }
  // What the window shows of a back-image pixel: 0x00RRGGBB by bit replication.
  uint32_t Expand(uint16_t p) const {
    uint32_t r5, g8, b5 = p & 31;
    if (code == 6) {
      r5 = p >> 11;
      const uint32_t g = (p >> 5) & 63;
      g8 = (g << 2) | (g >> 4);
    } else {
      r5 = (p >> 10) & 31;
      const uint32_t g = (p >> 5) & 31;
      g8 = (g << 3) | (g >> 2);
    }
    return (((r5 << 3) | (r5 >> 2)) << 16) | (g8 << 8) | ((b5 << 3) | (b5 >> 2));
  }
};

using orvane_test::ReadPpm;

// The wipe pattern: a grey ramp 0, 85, 170, 255 (map levels 0 .. 32767).
bool WriteRamp(const std::string& path) {
  DImage ramp;
  ramp.Create(4, 1, 0, DimgFormat::RGB888);
  const uint8_t greys[4] = {0, 85, 170, 255};
  for (int x = 0; x < 4; ++x) std::memset(ramp.GetPixelPointer(x, 0), greys[x], 3);
  return WritePicture(path, ramp, false);
}

// The reference: the back image composed one pixel at a time from the scene's description.
std::vector<uint32_t> SceneReference(uint32_t code) {
  const Fmt f{code};
  std::vector<uint16_t> s(640 * 480, f.Pack(3, 6, 9));
  for (int y = 5; y < 15; ++y)
    for (int x = 5; x < 15; ++x) s[size_t((40 + y) * 640 + 30 + x)] = f.Pack(10, 20, 30);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      uint16_t& d = s[size_t((100 + y) * 640 + 100 + x)];
      const uint16_t src = f.Pack(31, 31, 0);
      const int m = 2 * x;
      int out[3];
      for (int c = 0; c < 3; ++c)
        out[c] = ((m * (f.Ch(d, c) + 1)) >> 5) + (((31 - m) * (f.Ch(src, c) + 1)) >> 5);
      d = f.Pack(out[0], out[1], out[2]);
    }
  auto row = [&](int x) { return f.Pack(x * 8 + 1, 3, 31 - x); };
  for (int x = 0; x < 4; ++x) s[size_t(10 * 640 + 200 + x)] = row(3 - x);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) s[size_t((10 + y) * 640 + 300 + x)] = row(x / 2);
  for (int x = 0; x < 4; ++x) s[size_t(10 * 640 + 400 + x)] = x < 2 ? row(x) : 0;
  std::vector<uint32_t> out;
  for (uint16_t p : s) out.push_back(f.Expand(p));
  return out;
}

class DrawEndToEnd : public DrawFrame, public ::testing::WithParamInterface<uint32_t> {
 protected:
  uint32_t Format() const override { return GetParam(); }
  void SetUp() override {
    DrawFrame::SetUp();
    setenv("ORVANE_CAPTURE", File("capture.ppm").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVANE_CAPTURE");
    DrawFrame::TearDown();
  }

  std::string RampFile() {
    EXPECT_TRUE(WriteRamp(File("ramp.bmp")));
    return File("ramp.bmp");
  }

  // The scene by built-ins; slots 1.. hold the images.
  void SceneByBuiltins() {
    Int(0, 4);
    Call(1, {Arg(0u)});         // SetSpriteLevel
    Create(1, 640, 480, 0, 0);  // background
    Select(1);
    Int(20, 3), Int(21, 6), Int(22, 9);
    Call(38, {20, 21, 22});   // FillImage
    Create(2, 20, 20, 1, 0);  // keyed sprite
    Select(2);
    Int(20, 31), Int(21, 0), Int(22, 31);
    Call(38, {20, 21, 22});
    Int(23, 5), Int(24, 5), Int(25, 10), Int(26, 10), Int(27, 10), Int(28, 20), Int(29, 30);
    Call(39, {23, 24, 25, 26, 27, 28, 29});  // FillImageRect
    Int(19, 1);
    Call(35, {19, 20, 21, 22});  // SetImageTrans
    Int(20, 30), Int(21, 40);
    Call(25, {20, 21});      // SetImagePos
    Create(3, 16, 8, 0, 8);  // blue ramp, not listed
    Select(3);
    for (int x = 0; x < 16; ++x) {
      Int(20, x), Int(21, 0), Int(22, 0), Int(23, 0), Int(24, 2 * x);
      Int(25, 16 - x), Int(26, 7);
      Call(195, {20, 21, 20, 26, 22, 23, 24});  // DrawImageLine down column x
    }
    Create(4, 16, 8, 2, 0);  // layered image
    Select(4);
    Int(20, 31), Int(21, 31), Int(22, 0);
    Call(38, {20, 21, 22});
    Int(20, 0), Int(21, 0), Int(22, 16), Int(23, 8), Int(24, 0), Int(25, 0);
    Call(259, {20, 21, 22, 23, 3, 24, 25});  // ConvAlphaImage
    Int(20, 2);
    Call(203, {20});  // SetImageBlend
    Int(20, 100), Int(21, 100);
    Call(25, {20, 21});
    Create(5, 4, 1, 0, 8);  // row source, not listed
    Select(5);
    for (int x = 0; x < 4; ++x) {
      Int(20, x), Int(21, 0), Int(22, x * 8 + 1), Int(23, 3), Int(24, 31 - x);
      Call(41, {20, 21, 22, 23, 24});  // PutImageColor
    }
    Create(6, 4, 1, 1, 0);  // mirrored copy
    Select(6);
    Int(20, 0), Int(21, 0), Int(22, 4), Int(23, 1), Int(24, 0), Int(25, 0), Int(26, 1);
    Call(174, {20, 21, 22, 23, 5, 24, 25, 26});
    Int(20, 200), Int(21, 10);
    Call(25, {20, 21});
    Create(7, 8, 2, 1, 0);  // stretched copy
    Select(7);
    Int(20, 0), Int(21, 0), Int(22, 8), Int(23, 2), Int(24, 0), Int(25, 0), Int(26, 4), Int(27, 1),
        Int(28, 0);
    Call(137, {20, 21, 22, 23, 5, 24, 25, 26, 27, 28});
    Int(20, 300), Int(21, 10);
    Call(25, {20, 21});
    Str(20, RampFile()), Int(21, 0);
    Call(244, {20, 21});  // LoadWipe
    ScriptValue::Assign(*Result(), Slot(9));
    Create(8, 4, 1, 1, 0);  // wipe step over black
    Select(8);
    Int(20, 0);
    Call(38, {20, 20, 20});
    Int(20, 0), Int(21, 0), Int(22, 4), Int(23, 1), Int(24, 0), Int(25, 0), Float(26, 0.5f), Int(27, 1);
    Call(243, {20, 21, 22, 23, 5, 24, 25, 9, 26, 27});
    Int(20, 400), Int(21, 10);
    Call(25, {20, 21});
    Call(46);  // RenderSpriteScreen
    ASSERT_TRUE(Boxes().empty()) << Boxes()[0].text;
  }

  // The same scene by the exports.
  void SceneByExports(std::vector<ApiHandle*>* held) {
    auto keep = [held](ApiHandle* h) {
      EXPECT_NE(h, nullptr);
      held->push_back(h);
      return h;
    };
    ovSetSpriteLevel(4);
    ApiHandle* bg = keep(ovCreateImage(640, 480, 0, 0));
    ovFillImage(bg, 3, 6, 9);
    ApiHandle* key = keep(ovCreateImage(20, 20, 1, 0));
    ovFillImage(key, 31, 0, 31);
    ovFillImageRect(key, 5, 5, 10, 10, 10, 20, 30);
    ovSetImageTrans(key, 1, 31, 0, 31);
    ovSetImagePos(key, 30, 40);
    ApiHandle* blue = keep(ovCreateImage(16, 8, 0, 8));
    for (int x = 0; x < 16; ++x) ovDrawImageLine(blue, x, 0, x, 7, 0, 0, uint8_t(2 * x));
    ApiHandle* layer = keep(ovCreateImage(16, 8, 2, 0));
    ovFillImage(layer, 31, 31, 0);
    ovConvAlphaImage(layer, 0, 0, 16, 8, blue, 0, 0);
    ovSetImageBlend(layer, 2);
    ovSetImagePos(layer, 100, 100);
    ApiHandle* row = keep(ovCreateImage(4, 1, 0, 8));
    for (int x = 0; x < 4; ++x) ovPutImageColor(row, x, 0, uint8_t(x * 8 + 1), 3, uint8_t(31 - x));
    ApiHandle* mirror = keep(ovCreateImage(4, 1, 1, 0));
    ovBltImageMirror(mirror, 0, 0, 4, 1, row, 0, 0, 1);
    ovSetImagePos(mirror, 200, 10);
    ApiHandle* stretch = keep(ovCreateImage(8, 2, 1, 0));
    ovBltImageStretch(stretch, 0, 0, 8, 2, row, 0, 0, 4, 1, 0);
    ovSetImagePos(stretch, 300, 10);
    ApiHandle* wipe = ovLoadWipe(RampFile().c_str(), 0);
    ASSERT_NE(wipe, nullptr);
    ApiHandle* wiped = keep(ovCreateImage(4, 1, 1, 0));
    ovFillImage(wiped, 0, 0, 0);
    ovBltImageWipe(wiped, 0, 0, 4, 1, row, 0, 0, wipe, 0.5f, 1);
    ovSetImagePos(wiped, 400, 10);
    ovDestroyWipe(wipe);
    ovRenderSpriteScreen();
  }

  std::vector<uint32_t> Reference() const { return SceneReference(Format()); }

  std::vector<uint32_t> Captured() {
    EXPECT_TRUE(orvane::host::WriteCapture(File("capture.ppm").c_str()));
    int w = 0, h = 0;
    std::vector<uint32_t> px = ReadPpm(File("capture.ppm"), &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    return px;
  }
};

int Mismatches(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int* first) {
  int n = 0;
  *first = -1;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i] && n++ == 0) *first = int(i);
  return n + int(a.size() != b.size());
}

TEST_P(DrawEndToEnd, BuiltinSceneCaptureEqualsTheReference) {
  SceneByBuiltins();
  const std::vector<uint32_t> got = Captured(), want = Reference();
  int first;
  EXPECT_EQ(Mismatches(got, want, &first), 0) << "first at " << first % 640 << "," << first / 640;
}

TEST_P(DrawEndToEnd, ExportSceneCaptureEqualsTheBuiltinScene) {
  std::vector<ApiHandle*> held;
  SceneByExports(&held);
  const std::vector<uint32_t> got = Captured(), want = Reference();
  int first;
  EXPECT_EQ(Mismatches(got, want, &first), 0) << "first at " << first % 640 << "," << first / 640;
  for (ApiHandle* h : held) ovDestroyImage(h);
}

TEST_P(DrawEndToEnd, RenderSpriteWaitSkipsALateFrameAndKeepsTheGrid) {
  SceneByBuiltins();
  namespace clk = orvane::clock;
  clk::UseVirtualClock(100000);
  CFrameTimer& timer = FrameTimer();
  timer.Term();
  ASSERT_TRUE(timer.Init());
  timer.Restart();
  Call(47);  // the first frame after a restart is drawn
  // A move, then a frame that comes 100 ms late: nothing is drawn and the cells stay marked.
  Select(2);
  Int(20, 300), Int(21, 300);
  Call(25, {20, 21});
  clk::AdvanceVirtualClock(100);
  const uint16_t before = DrawScreen().GetScreenImage().GetPixel(300 + 7, 300 + 7);
  Call(47);
  EXPECT_EQ(DrawScreen().GetScreenImage().GetPixel(300 + 7, 300 + 7), before);
  const SpriteList& list = DrawScreen().GetSpriteList();
  EXPECT_TRUE(list.IsDirty(300 / 24, 300 / 24));
  // The frames catch up; the first drawn one shows the move.
  for (int i = 0; i < 10 && list.IsDirty(300 / 24, 300 / 24); ++i) Call(47);
  EXPECT_FALSE(list.IsDirty(300 / 24, 300 / 24));
  const Fmt f{Format()};
  EXPECT_EQ(DrawScreen().GetScreenImage().GetPixel(300 + 7, 300 + 7), f.Pack(10, 20, 30));
  timer.Term();
  clk::UseRealClock();
}

// The engine program, headless, on a script that loads one picture, registers it and renders:
// ORVANE_CAPTURE gets that picture at exit.
TEST(DrawCaptureRun, TheProgramCapturesWhatTheScriptDrew) {
  orvane_test::ScratchDir dir("orvane_draw_run_");
  const std::string work = dir.Dir();
  const auto image = meiasm::Assemble(
      ".globals 8\n.method main\n.export 0\n"
      " OpSetInt g1, 1\n .builtin 1, g1\n"  // SetSpriteLevel 1
      " OpSetString g2, \"pic.bmp\"\n OpSetInt g3, 0\n OpSetInt g4, 0\n"
      " .builtin 2, g2, g3, g4\n"                                 // LoadImage
      " OpSetInt g5, 5\n OpSetInt g6, 7\n .builtin 25, g5, g6\n"  // SetImagePos on the screen
      " .builtin 46\n .builtin 64\n OpHalt\n");                   // RenderSpriteScreen, Exit
  std::ofstream(work + "/draw.mei", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  // Six pure colours.
  const uint32_t colours[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0xFFFF00};
  DImage pic;
  ASSERT_TRUE(pic.Create(3, 2, 0, DimgFormat::RGB888));
  for (int k = 0; k < 6; ++k) {
    uint8_t* p = pic.GetPixelPointer(k % 3, k / 3);
    p[0] = uint8_t(colours[k] >> 16), p[1] = uint8_t(colours[k] >> 8), p[2] = uint8_t(colours[k]);
  }
  ASSERT_TRUE(WritePicture(work + "/pic.bmp", pic, false));
  const std::string command = "cd '" + work + "' && ORVANE_BACKEND=headless ORVANE_CAPTURE='" + work +
                              "/shot.ppm' '" ORVANE_BINARY_DIR "/bin/orvane' '" + work +
                              "/draw.mei' >out.txt 2>err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadAll(work + "/err.txt");
  int w = 0, h = 0;
  const std::vector<uint32_t> shot = ReadPpm(work + "/shot.ppm", &w, &h);
  ASSERT_EQ(w, 640);
  ASSERT_EQ(h, 480);
  // The current image is the screen: the script's SetImagePos moved nothing that is drawn, and the
  // picture sits at the top left over black.
  // The default screen is RGB565 with green's lowest bit clear: full green shows as 0xFB.
  for (int k = 0; k < 6; ++k) {
    const uint32_t want = (colours[k] & 0xFF00) == 0xFF00 ? colours[k] - 0x0400 : colours[k];
    EXPECT_EQ(shot[size_t((k / 3) * 640 + k % 3)], want) << k;
  }
  EXPECT_EQ(shot[size_t(100 * 640 + 100)], 0u);
}

// The engine program, headless, runs a script that loads the test plug-in and calls its scene
// function, which draws the scene through the exports it bound by name: the capture at exit is
// the reference picture (the program's screen is RGB565).
TEST(DrawCaptureRun, APluginDrawsTheSceneThatTheCaptureHolds) {
  orvane_test::ScratchDir dir("orvane_draw_plugin_run_");
  const std::string work = dir.Dir();
  std::filesystem::copy_file(ORVANE_BINARY_DIR "/bin/test_plugins/api_plugin.opi", work + "/api_plugin.opi");
  ASSERT_TRUE(WriteRamp(work + "/ramp.bmp"));
  const auto image = meiasm::Assemble(
      ".globals 4\n.method main\n.export 0\n"
      " OpSetString g1, \"api_plugin\"\n .builtin 224, g1\n"  // LoadPlugin
      " OpSetString g1, \"drawscene\"\n .builtin 225, g1\n"   // GetPluginFunction
      " OpMove g2, g0\n .builtin 227, g2\n .builtin 228\n"    // SetPlugin, CallPlugin
      " .builtin 64\n OpHalt\n");                             // Exit
  std::ofstream(work + "/scene.mei", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  const std::string command = "cd '" + work + "' && ORVANE_BACKEND=headless ORVANE_CAPTURE='" + work +
                              "/shot.ppm' '" ORVANE_BINARY_DIR "/bin/orvane' '" + work +
                              "/scene.mei' >out.txt 2>err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadAll(work + "/err.txt");
  int w = 0, h = 0;
  const std::vector<uint32_t> shot = ReadPpm(work + "/shot.ppm", &w, &h);
  ASSERT_EQ(w, 640) << ReadAll(work + "/err.txt");
  ASSERT_EQ(h, 480);
  int first;
  EXPECT_EQ(Mismatches(shot, SceneReference(6), &first), 0)
      << "first at " << first % 640 << "," << first / 640;
}

INSTANTIATE_TEST_SUITE_P(Formats, DrawEndToEnd, ::testing::Values(6u, 4u));

}  // namespace
