// A built-in frame over the real Draw screen on the headless host: a 640 x 480 window, the screen in
// the format a test asks for, the screen image selected; built-in numbers and small file helpers.
#pragma once

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/api_common.h"
#include "api/draw_api.h"
#include "api/ov_api.h"
#include "base/dapplication.h"
#include "base/dfile.h"
#include "base/dwindow.h"
#include "imaging/dimg_bmp.h"
#include "imaging/dimg_load.h"
#include "imaging/dimg_png.h"
#include "platform/client_surface.h"
#include "platform/ddraw_test.h"
#include "platform/host.h"
#include "tests/api/api_fixture.h"
#include "tests/support/scratch_dir.h"
#include "vm/startup_config.h"

namespace draw_test {

// Built-in numbers.
enum : uint32_t {
  kSetSpriteLevel = 1,
  kLoadImage = 2,
  kRenderSprite = 3,
  kConnectImage = 22,
  kDisconnectImage = 23,
  kGetImagePos = 24,
  kSetImagePos = 25,
  kGetImageRect = 26,
  kSetImageRect = 27,
  kIsImageDraw = 28,
  kSetImageDraw = 29,
  kIsImageUpdate = 30,
  kSetImageUpdate = 31,
  kUpdateSprite = 32,
  kCreateImage = 33,
  kGetImageSize = 34,
  kSetImageTrans = 35,
  kSetImageFastTrans = 36,
  kFillImage = 38,
  kFillImageRect = 39,
  kGetImageColor = 40,
  kPutImageColor = 41,
  kBltImage = 42,
  kSetImageLevel = 43,
  kClearSprite = 44,
  kFlipSprite = 45,
  kRenderSpriteScreen = 46,
  kRenderSpriteWait = 47,
  kSetSpriteUpdate = 48,
  kGetImage = 76,
  kSetImage = 77,
  kGetScreen = 78,
  kDuplicateImage = 89,
  kCopyImage = 105,
  kBltImageRotate = 136,
  kBltImageStretch = 137,
  kWriteImage = 144,
  kRegSpriteImage = 166,
  kUnregSpriteImage = 167,
  kBltImageMirror = 174,
  kGetImageAbsPos = 175,
  kIsImageHit = 179,
  kPushImageStatus = 189,
  kPopImageStatus = 190,
  kDrawImageLine = 195,
  kGetImageBlend = 202,
  kSetImageBlend = 203,
  kLoadWipe = 244,
  kBltImageWipe = 243,
  kShareAlphaImage = 254,
  kSeparateAlphaImage = 255,
  kFillAlphaImage = 256,
  kFillAlphaImageRect = 257,
  kConvTransAlphaImage = 258,
  kConvAlphaImage = 259,
  kBltAlphaImageWipe = 260,
  kGetImageLevel = 261,
  kIsImageTrans = 262,
  kGetImageTrans = 263,
  kFillAlphaImageWipe = 264,
};

// Writes an RGBA or RGB picture as PNG (or BMP) for the loaders.
inline bool WritePicture(const std::string& path, const DImage& image, bool png, bool alpha = true) {
  DFile f;
  if (!f.Open(DString(path.c_str()), DFile::kRead | DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew))
    return false;
  return png ? DimgWritePNG(f, image, alpha) : DimgWriteBitmap(f, image);
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DrawFrame : public BuiltinFrame {
 protected:
  DrawFrame() : scratch_("orvane_draw_api_") {}
  void SetUp() override {
    BuiltinFrame::SetUp();
    setenv("XDG_CONFIG_HOME", scratch_.Dir().c_str(), 1);
    ASSERT_TRUE(app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
    app_.SetDirectory((scratch_.Dir() + "/").c_str());
    DSetApplication(&app_);
    orvane::dx::Reset();
    orvane::host::ResetHeadless();
    orvane::dx::DeviceProfile p;
    if (Format() == 4) p.modes = {{640, 480, 16, true}, {640, 480, 32, false}};
    orvane::dx::SetProfile(p);
    ASSERT_TRUE(window_.Create("", "draw", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 10, 10, 300, 200));
    ASSERT_TRUE(window_.SetClientSize(640, 480));
    ASSERT_TRUE(DrawScreen().Init(window_));
    ASSERT_EQ(DrawScreen().GetPixelFormat(), Format());
    SelectScreenImage(0);
  }
  void TearDown() override {
    for (uint32_t i = 0; i < 32; ++i) Slot(i)->SetInt(0);
    Result()->SetInt(0);
    ClearCurrentObjects();
    DrawScreen().Shutdown();
    window_.Destroy();
    orvane::dx::Reset();
    BuiltinFrame::TearDown();
  }
  virtual uint32_t Format() const = 0;

  // The image value of slot i and its Draw-unit image.
  DrawImage* Img(uint32_t i) { return DrawOf(ObjectOfValueAs<ImageHandle>(*Slot(i), kScriptImage)); }
  // Makes slot i a new image by the built-in (level and flags given).
  void Create(uint32_t slot, int w, int h, int level = 0, int flags = 8) {
    Int(20, w), Int(21, h), Int(22, level), Int(23, flags);
    Call(kCreateImage, {20, 21, 22, 23});
    ScriptValue::Assign(*Result(), Slot(slot));
    Result()->SetInt(0);
  }
  void Select(uint32_t slot) { Call(kSetImage, {slot}); }
  uint16_t Pack(int r, int g, int b) const {
    return static_cast<uint16_t>(Format() == 6 ? (r << 11) | (g << 6) | b : (r << 10) | (g << 5) | b);
  }
  std::string File(const std::string& name) const { return scratch_.Dir() + "/" + name; }
  bool Errored(const std::string& text) const {
    for (const auto& b : Boxes())
      if (b.text.find(text) != std::string::npos) return true;
    return false;
  }

  orvane_test::ScratchDir scratch_;
  DApplication app_;
  DWindow window_;
};

}  // namespace draw_test
