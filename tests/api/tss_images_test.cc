// The `ovts` exports of images, wipes and frames: window sizes, load flags, paths, handles and
// their kinds, the Draw-mode and shutdown rules, wipe levels and frames.
#include <climits>
#include <cmath>

#include "api/display_ops.h"
#include "platform/mmsystem.h"
#include "shell/cframetimer.h"
#include "tss_fixture.h"

using namespace tss_api_test;

namespace {

class TssImages : public TssApi {
 protected:
  void SetUp() override {
    TssApi::SetUp();
    TextureBits(32);
    ASSERT_TRUE(Start());
  }
};

TEST_F(TssImages, WindowSizeRule) {
  scratch_.Write("wide.bmp", Bmp(256, 64, std::vector<uint32_t>(256 * 64, 0x102030)));
  const struct {
    int32_t w, h;
    OvSize want;
  } rows[] = {{0, 0, {256, 64}},     {-4, 0, {64, 64}}, {300, 0, {300, 64}}, {INT_MIN, INT_MIN, {256, 64}},
              {-300, -2, {256, 32}}, {5, 7, {5, 7}}};
  for (const auto& r : rows) {
    ApiHandle* image = ovtsLoadImage(r.w, r.h, "wide.bmp", 0);
    ASSERT_NE(image, nullptr) << r.w;
    const OvSize window = ovtsGetImageSize(image), source = ovtsGetImageSize2(image);
    EXPECT_EQ(window.width, r.want.width) << r.w << "," << r.h;
    EXPECT_EQ(window.height, r.want.height) << r.w << "," << r.h;
    EXPECT_EQ(source.width, 256);
    EXPECT_EQ(source.height, 64);
    ovtsDestroyImage(image);
  }
}

TEST_F(TssImages, LoadFlagsOnBmpAndPng) {
  // Four columns: left half colours, right half masks (green white = transparent after split).
  const std::vector<uint32_t> bmp = {0x112233, 0x445566, 0xFFFFFF, 0x000000};
  const std::vector<uint32_t> png = {0x80112233, 0x40445566, 0xFF00FF00, 0x00000000};
  scratch_.Write("f.bmp", Bmp(4, 1, bmp));
  scratch_.Write("f.png", Png(4, 1, png));
  const struct {
    const char* file;
    int32_t flags;
    std::vector<uint32_t> want;
  } rows[] = {
      {"f.bmp", 0, {0xFF112233, 0xFF445566, 0xFFFFFFFF, 0xFF000000}},
      {"f.bmp", 1, {0x00112233, 0x00445566, 0x00FFFFFF, 0x00000000}},  // no alpha: 255, inverted
      {"f.bmp", 2, {0x00112233, 0xFF445566}},
      {"f.bmp", 3, {0x00112233, 0xFF445566}},  // 2 wins over 1
      {"f.png", 0, {0xFF112233, 0xFF445566, 0xFF00FF00, 0xFF000000}},
      // The decoder keeps a PNG's alpha as transparency, so the inversion gives the file's back.
      {"f.png", 1, {0x80112233, 0x40445566, 0xFF00FF00, 0x00000000}},
      {"f.png", 2, {0x00112233, 0xFF445566}},
  };
  for (const auto& r : rows) {
    ApiHandle* image = ovtsLoadImage(0, 0, r.file, r.flags);
    ASSERT_NE(image, nullptr) << r.file << " " << r.flags;
    EXPECT_EQ(Pixels(image), r.want) << r.file << " " << r.flags;
    ovtsDestroyImage(image);
  }
  // Odd width: the last column is dropped; one column cannot be split.
  scratch_.Write("odd.bmp", Bmp(3, 1, {0x010203, 0x00FF00, 0x999999}));
  ApiHandle* odd = ovtsLoadImage(0, 0, "odd.bmp", 2);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(Pixels(odd), (std::vector<uint32_t>{0x00010203}));
  ovtsDestroyImage(odd);
  scratch_.Write("one.bmp", Bmp(1, 2, {1, 2}));
  EXPECT_EQ(ovtsLoadImage(0, 0, "one.bmp", 2), nullptr);
  ApiHandle* whole = ovtsLoadImage(0, 0, "one.bmp", 0);
  EXPECT_NE(whole, nullptr);
  ovtsDestroyImage(whole);
}

TEST_F(TssImages, PathsFromDiskAndFromTheArchive) {
  scratch_.Write("disk.bmp", Bmp(2, 2, {1, 2, 3, 4}));
  ApiHandle* disk = ovtsLoadImage(0, 0, "disk.bmp", 0);
  ASSERT_NE(disk, nullptr);
  ovtsDestroyImage(disk);
  EXPECT_EQ(ovtsLoadImage(0, 0, "missing.bmp", 0), nullptr);
  EXPECT_EQ(ovtsLoadImage(0, 0, nullptr, 0), nullptr);
  const std::string overlong(300, 'x');
  EXPECT_EQ(ovtsLoadImage(0, 0, overlong.c_str(), 0), nullptr);
  EXPECT_EQ(ovtsLoadWipe(overlong.c_str()), nullptr);
  scratch_.Write("junk.png", "not a picture");
  EXPECT_EQ(ovtsLoadImage(0, 0, "junk.png", 0), nullptr);

  Mount({{"a/b.png", Png(3, 2, std::vector<uint32_t>(6, 0xFF00FF00))}});
  ApiHandle* member = ovtsLoadImage(0, 0, "a\\b.png", 0);
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(ovtsGetImageSize(member).width, 3);
  ovtsDestroyImage(member);
  EXPECT_EQ(ovtsLoadImage(0, 0, "disk.bmp", 0), nullptr);  // the archive hides the disk
  ApiHandle* wipe = ovtsLoadWipe("a/b.png");
  EXPECT_NE(wipe, nullptr);
  ovtsDestroyWipe(wipe);
}

TEST_F(TssImages, CreateChecksSizesAndStartsTransparentBlack) {
  for (auto [w, h] :
       {std::pair{0, 1}, {1, 0}, {-1, 4}, {4, INT_MIN}, {kApiTssMaxSide + 1, 1}, {1, INT_MAX}}) {
    EXPECT_EQ(ovtsCreateImage(w, h), nullptr) << w << "x" << h;
    EXPECT_EQ(ovtsCreateDynamicImage(w, h), nullptr) << w << "x" << h;
  }
  ApiHandle* a = ovtsCreateImage(3, 2);
  ApiHandle* b = ovtsCreateImage(3, 2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(Pixels(a), std::vector<uint32_t>(6, 0));
  ovtsFillImage(a, 1.0f, 0.0f, 0.0f, 1.0f);
  EXPECT_EQ(Pixels(a), std::vector<uint32_t>(6, 0xFFFF0000));
  // Negative sizes count as 0; NaN and out-of-range components go through the unit's clamps.
  ovtsFillImageRect(a, 0, 0, -1, 2, 0, 0, 1, 1);
  ovtsFillImageRect(a, 0, 0, 2, -5, 0, 0, 1, 1);
  EXPECT_EQ(Pixels(a), std::vector<uint32_t>(6, 0xFFFF0000));
  ovtsFillImageRect(a, 1, 1, 5, 5, NAN, 2.0f, -1.0f, INFINITY);
  EXPECT_EQ(Pixels(a),
            (std::vector<uint32_t>{0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFF00FF00, 0xFF00FF00}));
  ovtsDestroyImage(a);
  ovtsDestroyImage(b);
}

TEST_F(TssImages, WindowPositionClampsToTheRightEdgeThenToZero) {
  scratch_.Write("w.bmp", Bmp(8, 4, std::vector<uint32_t>(32, 0)));
  ApiHandle* image = ovtsLoadImage(4, 2, "w.bmp", 0);
  ASSERT_NE(image, nullptr);
  DRef<DtssImage> i = TssImageOf(image, "test");
  const struct {
    int32_t x, y, want_x, want_y;
  } rows[] = {{10, 10, 4, 2}, {-3, 1, 0, 1}, {INT_MAX, INT_MIN, 4, 0}, {2, 1, 2, 1}};
  for (const auto& r : rows) {
    ovtsSetImagePos(image, r.x, r.y);
    EXPECT_EQ(i->GetPos().x, r.want_x) << r.x;
    EXPECT_EQ(i->GetPos().y, r.want_y) << r.y;
  }
  i.Release();
  ovtsDestroyImage(image);
}

TEST_F(TssImages, WipeLevelsFromFractions) {
  scratch_.Write("wipe.bmp", Bmp(2, 2, {0, 0x808080, 0xFFFFFF, 0x404040}));
  ApiHandle* wipe = ovtsLoadWipe("wipe.bmp");
  ASSERT_NE(wipe, nullptr);
  DRef<DtssWipe> w = TssWipeOf(wipe, "test");
  ASSERT_TRUE(w);
  EXPECT_EQ(w->GetLevel(), 0u);  // a loaded wipe starts at level 0
  const struct {
    float fraction;
    uint32_t level;
  } rows[] = {{0.5f, 128}, {-0.1f, 0}, {1.2f, 255}, {NAN, 0}, {-INFINITY, 0}, {INFINITY, 255}, {1.0f, 255}};
  for (const auto& r : rows) {
    ovtsSetWipeLevel(wipe, r.fraction);
    EXPECT_EQ(w->GetLevel(), r.level) << r.fraction;
  }
  w.Release();
  ovtsDestroyWipe(wipe);
}

TEST_F(TssImages, HandlesOfAnotherKindNullAndAfterShutdownDoNothing) {
  ApiHandle* image = ovtsCreateImage(4, 4);
  scratch_.Write("wipe.bmp", Bmp(1, 1, {0}));
  ApiHandle* wipe = ovtsLoadWipe("wipe.bmp");
  ApiHandle* sprite = ovtsCreateSprite(image, 0, 0);
  ASSERT_TRUE(image && wipe && sprite);
  // Another kind: failure values, nothing freed (the handles stay usable).
  EXPECT_EQ(ovtsGetImageSize(wipe).width, 0);
  EXPECT_EQ(ovtsGetImageSize2(sprite).width, 0);
  EXPECT_EQ(ovtsIsImageLost(sprite), 0);
  ovtsFillImage(wipe, 1, 1, 1, 1);
  ovtsSetWipeLevel(image, 0.5f);
  EXPECT_EQ(ovtsCreateSprite(wipe, 0, 0), nullptr);
  ovtsDestroyImage(wipe);
  ovtsDestroyWipe(image);
  ovtsDestroyImage(sprite);
  EXPECT_EQ(ovtsGetImageSize(image).width, 4);
  // Null handles.
  EXPECT_EQ(ovtsGetImageSize(nullptr).width, 0);
  EXPECT_EQ(ovtsIsImageLost(nullptr), 0);
  ovtsFillImage(nullptr, 1, 1, 1, 1);
  ovtsGetRenderImage(nullptr);
  ovtsDestroyImage(nullptr);
  ovtsSetWipeLevel(nullptr, 1);
  // The unit ends: every export on the old handles does nothing; destroying frees them.
  TssManager().Destroy();
  EXPECT_EQ(ovtsGetImageSize(image).width, 0);
  ovtsFillImage(image, 1, 1, 1, 1);
  ovtsSetImagePos(image, 1, 1);
  ovtsSetWipeLevel(wipe, 0.5f);
  EXPECT_EQ(ovtsIsImageLost(image), 0);
  EXPECT_EQ(ovtsCreateSprite(image, 0, 0), nullptr);
  EXPECT_EQ(ovtsSetSpriteLevel(sprite, 3), 0);
  EXPECT_EQ(ovtsRender(), 0);
  EXPECT_EQ(ovtsCreateImage(2, 2), nullptr);
  ovtsDestroySprite(sprite);
  ovtsDestroyWipe(wipe);
  ovtsDestroyImage(image);
}

TEST_F(TssImages, DrawModeDoesNothingAndKeepsHandles) {
  ApiHandle* image = ovtsCreateImage(2, 2);
  ASSERT_NE(image, nullptr);
  SetStartupFlags(0);
  EXPECT_EQ(ovtsCreateImage(2, 2), nullptr);
  EXPECT_EQ(ovtsCreateDynamicImage(2, 2), nullptr);
  scratch_.Write("x.bmp", Bmp(1, 1, {0}));
  EXPECT_EQ(ovtsLoadImage(0, 0, "x.bmp", 0), nullptr);
  EXPECT_EQ(ovtsLoadWipe("x.bmp"), nullptr);
  const OvSize size = ovtsGetImageSize(image);
  EXPECT_EQ(size.width, 0);
  EXPECT_EQ(size.height, 0);
  EXPECT_EQ(ovtsRender(), 0);
  EXPECT_EQ(ovtsRenderScreen(), 0);
  EXPECT_EQ(ovtsRenderWait(), 0);
  ovtsFillImage(image, 1, 1, 1, 1);
  ovtsDestroyImage(image);  // kept
  SetStartupFlags(kStartupTss);
  EXPECT_EQ(Pixels(image), std::vector<uint32_t>(4, 0));
  EXPECT_EQ(ovtsGetImageSize(image).width, 2);
  ovtsDestroyImage(image);
}

// ---- Frames.

TEST_F(TssImages, ALateRenderWaitDrawsNothingAndReturnsOne) {
  orvane::clock::UseVirtualClock(1000);
  FrameTimer().Term();
  ASSERT_TRUE(FrameTimer().Init());
  FrameTimer().Restart();
  orvane::clock::AdvanceVirtualClock(100);
  orvane::dx::TakeCallLog();
  EXPECT_EQ(ovtsRenderWait(), 1);
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  for (const std::string& line : log) EXPECT_NE(line.rfind("BeginScene", 0), 0u) << line;
  // Caught up: the next waits draw.
  int drawn = 0;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(ovtsRenderWait(), 1);
    for (const std::string& line : orvane::dx::TakeCallLog()) drawn += line.rfind("BeginScene", 0) == 0;
  }
  EXPECT_GT(drawn, 0);
  FrameTimer().Term();
  orvane::clock::UseRealClock();
}

TEST_F(TssImages, AFailedRenderPresentsNothing) {
  ApiHandle* image = ovtsCreateImage(4, 4);
  ApiHandle* sprite = ovtsCreateSprite(image, 0, 0);
  ASSERT_NE(sprite, nullptr);
  orvane::dx::CapturePresents(true);
  EXPECT_EQ(ovtsRenderScreen(), 1);
  orvane::dx::Capture shot;
  ASSERT_TRUE(orvane::dx::TakeCapture(hwnd_, &shot));
  EXPECT_EQ(shot.presents, 1);
  // Every texture creation fails: the upload fails, so does the render; nothing is presented.
  ovtsFillImage(image, 1, 0, 0, 1);
  TssManager().SetImagesDirty();
  DRef<DtssImage> i = TssImageOf(image, "test");
  i->_ReleaseTexture();
  i.Release();
  orvane::dx::FailCall("CreateSurface", 1000);
  EXPECT_EQ(ovtsRender(), 0);
  EXPECT_EQ(ovtsRenderScreen(), 0);
  orvane::dx::Capture after;
  ASSERT_TRUE(orvane::dx::TakeCapture(hwnd_, &after));
  EXPECT_EQ(after.presents, 1);
  orvane::dx::FailCall("CreateSurface", 0);
  orvane::dx::CapturePresents(false);
  ovtsDestroySprite(sprite);
  ovtsDestroyImage(image);
}

TEST_F(TssImages, ALostDynamicImageReadsOneOnce) {
  ApiHandle* dynamic = ovtsCreateDynamicImage(8, 8);
  ApiHandle* still = ovtsCreateImage(8, 8);
  ASSERT_TRUE(dynamic && still);
  EXPECT_EQ(ovtsIsImageLost(dynamic), 1);  // new: no texture yet
  EXPECT_EQ(ovtsIsImageLost(dynamic), 0);
  ovtsRender();
  ovtsGetRenderImage(dynamic);
  ovtsIsImageLost(dynamic);
  orvane::dx::LoseSurfaces();
  EXPECT_EQ(ovtsRender(), 1);
  ovtsRender();
  EXPECT_EQ(ovtsIsImageLost(dynamic), 1);
  EXPECT_EQ(ovtsIsImageLost(dynamic), 0);
  EXPECT_EQ(ovtsIsImageLost(still), 0);  // a static image keeps its system copy
  ovtsGetRenderImage(still);             // not dynamic: nothing
  ovtsDestroyImage(dynamic);
  ovtsDestroyImage(still);
}

TEST_F(TssImages, LinearModeFollowsTheFlagOnBothDevices) {
  for (bool software : {false, true}) {
    TssManager().Destroy();
    ASSERT_TRUE(Start(64, 48, kDtssPoint | (software ? uint32_t{kDtssSoftware} : 0u)));
    for (int32_t flag : {0, 1, 0, 7}) {
      orvane::dx::TakeCallLog();
      ovtsSetLinearMode(flag);
      const std::string want = std::string("SetTextureStageState 0 16 ") + (flag ? "2" : "1");
      int found = 0;
      for (const std::string& line : orvane::dx::TakeCallLog()) found += line == want;
      EXPECT_EQ(found, 1) << software << " " << flag;
    }
  }
}

}  // namespace

namespace {

// In the sprite system's mode the window functions act on the TSS unit; in Draw mode they do not
// reach it.
TEST_F(TssImages, WindowFunctionsReachTheTssUnitInItsMode) {
  const DisplayOps saved = SetDisplayOps({});
  InstallEngineDisplayOps();
  int32_t w = 0, h = 0;
  ovGetWindowSize(&w, &h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(ovIsFullscreen(), 0);
  EXPECT_EQ(ovSetWindowSize(80, 60), 1);
  ovGetWindowSize(&w, &h);
  EXPECT_EQ(w, 80);
  EXPECT_EQ(h, 60);
  SetStartupFlags(0);
  w = h = 7;
  ovGetWindowSize(&w, &h);  // the Draw unit, which is not running here: sizes 0
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(ovSetWindowSize(80, 60), 0);
  SetStartupFlags(kStartupTss);
  SetDisplayOps(saved);
}

}  // namespace
