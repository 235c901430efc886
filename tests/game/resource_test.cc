// Resource records on the fake engine: image lookup by extension, the two caches, colour texts
// and the wrappers' refusals.
#include "game/resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

class ResourceTest : public GameTest {
 protected:
  int CallCount(const std::string& prefix) const {
    return static_cast<int>(std::count_if(engine.Calls().begin(), engine.Calls().end(),
                                          [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
  void AddPicture(const std::string& path) { engine.AddFile(path, FakeEngine::PngFile(64, 32)); }
  std::string Find(const char* name) {
    char out[264];
    FindImageFile(name, out, sizeof(out));
    return out;
  }
};

TEST_F(ResourceTest, FindImageFileTriesTheExactNameThenEachExtension) {
  struct Case {
    std::vector<std::string> files;
    const char* extensions;
    const char* name;
    std::string found;
    int existence_tests;
  };
  const std::string long_name(259, 'n');  // with ".png" 263 bytes: fits
  const std::string too_long(260, 'n');   // with ".png" cut to 263 bytes
  const Case cases[] = {
      {{"bg/room", "bg/room.png"}, "png:bmp:jpg", "bg/room", "bg/room", 1},
      {{"bg/room.png", "bg/room.jpg"}, "png:bmp:jpg", "bg/room", "bg/room.png", 2},
      {{"bg/room.jpg"}, "png:bmp:jpg", "bg/room", "bg/room.jpg", 4},
      {{}, "png:bmp:jpg", "bg/room", "bg/room", 4},
      {{"n.png"}, "bmp::png", "n", "n.png", 4},  // the empty token tests the bare name again
      {{}, "png:", "n", "n", 2},                 // a last empty token is not tried
      {{"n.PNG"}, "PNG", "n", "n.PNG", 2},
      {{long_name + ".png"}, "png", long_name.c_str(), long_name + ".png", 2},
      {{too_long + ".pn"}, "png", too_long.c_str(), too_long + ".pn", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + std::string(" / ") + c.extensions);
    for (const std::string& f : c.files) engine.AddFile(f, "");
    SetImageExtensions(c.extensions);
    engine.ClearCalls();
    EXPECT_EQ(Find(c.name), c.found);
    EXPECT_EQ(CallCount("ovIsFileExist"), c.existence_tests);
    for (const std::string& f : c.files) engine.RemoveFile(f);
  }
}

TEST_F(ResourceTest, ImageCacheKeepsTheMostRecentlyUsed) {
  for (int i = 0; i < 33; ++i) AddPicture("p" + std::to_string(i) + ".png");
  AddPicture("P0.png");  // a name that differs only in case
  std::vector<DRef<DImageRes>> held;
  for (int i = 0; i < 32; ++i) LoadImageCached(-1, -1, ("p" + std::to_string(i)).c_str(), true, "");
  EXPECT_EQ(ImageCacheCount(), 32u);
  LoadImageCached(-1, -1, "P0", true, "");                          // a case-folded hit moves p0 to the back
  DRef<DImageRes> p1 = LoadImageCached(0, 0, "p1", true, "alpha");  // hits ignore sizes and mode
  EXPECT_EQ(engine.Inspect(p1->handle)->flags, 0);
  EXPECT_EQ(engine.Inspect(p1->handle)->window_w, 64);
  engine.ClearCalls();
  LoadImageCached(-1, -1, "p32", true, "");  // the 33rd drops the least recently used: p2
  EXPECT_EQ(ImageCacheCount(), 32u);
  EXPECT_EQ(engine.LiveCount("image"), 32);
  EXPECT_EQ(CallCount("ovtsDestroyImage"), 1);
  engine.ClearCalls();
  LoadImageCached(-1, -1, "p0", true, "");
  EXPECT_EQ(CallCount("ovtsLoadImage"), 0);
  LoadImageCached(-1, -1, "p2", true, "");
  EXPECT_EQ(CallCount("ovtsLoadImage(-1, -1, p2.png, 0)"), 1);
  // The cache off: a new image every time, the cache untouched.
  engine.ClearCalls();
  DRef<DImageRes> fresh = LoadImageCached(-2, 0, "p0", false, "alayer");
  EXPECT_EQ(CallCount("ovtsLoadImage(-2, 0, p0.png, 1)"), 1);
  EXPECT_EQ(ImageCacheCount(), 32u);
  EXPECT_STREQ(fresh->name, "p0.png");
  // A flushed image stays while it is held, and is loaded again on request.
  FlushCaches();
  EXPECT_EQ(ImageCacheCount(), 0u);
  EXPECT_EQ(engine.LiveCount("image"), 2);  // p1 and fresh
  engine.ClearCalls();
  DRef<DImageRes> again = LoadImageCached(-1, -1, "p1", true, "");
  EXPECT_NE(again->handle, p1->handle);
  p1.Release();
  EXPECT_EQ(CallCount("ovtsDestroyImage"), 1);
  SetImageCacheLimit(0);
  EXPECT_EQ(ImageCacheCount(), 0u);
  EXPECT_EQ(engine.LiveCount("image"), 2);  // again and fresh, held here
}

TEST_F(ResourceTest, ImageModesAndFailures) {
  AddPicture("a.png");
  engine.AddFile("broken.png", "not a picture");
  for (const char* mode : {"", "none", "LeftUp", "#ff00ff", "ALPHA"}) {
    DRef<DImageRes> image = LoadImageCached(-1, -1, "a", false, mode);
    EXPECT_EQ(engine.Inspect(image->handle)->flags, std::string(mode) == "ALPHA" ? 2 : 0) << mode;
  }
  EXPECT_EQ(Stops([] { LoadImageCached(-1, -1, "a", true, "purple"); }), "認識できない色purpleです。");
  EXPECT_EQ(engine.LiveCount("image"), 0);  // loaded, then destroyed again
  EXPECT_EQ(ImageCacheCount(), 0u);
  SetErrorPosition("scn/c.scn", 7);
  EXPECT_EQ(Stops([] { LoadImageCached(-1, -1, "broken", true, ""); }),
            Report("scn/c.scn", 7, "画像 \"broken\" が読み込めません。"));
  EXPECT_EQ(Stops([] { LoadImageCached(-1, -1, "missing", true, ""); }),
            Report("scn/c.scn", 7, "画像 \"missing\" が読み込めません。"));
}

TEST_F(ResourceTest, SoundsResolveTheirExtensionAndCacheFailures) {
  engine.AddFile("se/a.ogg", "x");
  engine.AddFile("se/b", "x");
  engine.AddFile("se/c.wav", "x");
  engine.AddFile("SE/A.ogg", "x");
  EXPECT_TRUE(FindSoundFile("se/a"));
  EXPECT_TRUE(FindSoundFile("se/b"));
  EXPECT_FALSE(FindSoundFile("se/none"));
  DRef<DSoundRes> none = LoadSoundCached("se/none", 1);
  EXPECT_EQ(none->handle, nullptr);
  EXPECT_STREQ(none->name, "");
  EXPECT_EQ(SoundCacheCount(), 0u);
  DRef<DSoundRes> a = LoadSoundCached("se/a", 2);
  EXPECT_STREQ(a->name, "se/a.ogg");
  EXPECT_EQ(engine.Inspect(a->handle)->voices, 2);
  EXPECT_EQ(LoadSoundCached("SE/A", 5).Get(), a.Get());
  engine.Refuse("ovLoadSound");
  DRef<DSoundRes> c = LoadSoundCached("se/c", 1);
  EXPECT_EQ(c->handle, nullptr);
  EXPECT_EQ(LoadSoundCached("se/c", 1).Get(), c.Get());  // the failure stays cached
  EXPECT_TRUE(engine.Messages().empty());
  for (int i = 0; i < 8; ++i) {
    engine.AddFile("s" + std::to_string(i), "x");
    LoadSoundCached(("s" + std::to_string(i)).c_str(), 1);
  }
  EXPECT_EQ(SoundCacheCount(), 8u);
  a.Release();
  EXPECT_EQ(engine.LiveCount("sound"), 8);
}

TEST_F(ResourceTest, ParseColorTable) {
  struct Case {
    const char* text;
    float rgba[4];
  };
  const Case cases[] = {
      {"white", {1, 1, 1, 1}},
      {"Red", {1, 0, 0, 1}},
      {"GREEN", {0, 1, 0, 1}},
      {"blue", {0, 0, 1, 1}},
      {"black", {0, 0, 0, 1}},
      {"#ff000080", {1, 0, 0, 128 / 255.0f}},
      {"#12", {18 / 255.0f, 0, 0, 1}},
      {"#", {0, 0, 0, 1}},
      {"#fg8000", {15 / 255.0f, 128 / 255.0f, 0, 1}},  // reading stops at the first non-digit
      {"#\x82\xa0"
       "ff",
       {0, 15 / 255.0f, 0, 1}},  // a double-byte character counts as one
      {"#ffffff0", {1, 1, 1, 0}},
  };
  for (const Case& c : cases) {
    float out[4] = {-1, -1, -1, -1};
    ParseColor(c.text, out);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(out[i], c.rgba[i]) << c.text << " channel " << i;
  }
  SetErrorPosition("scn/c.scn", 7);
  EXPECT_EQ(Stops([] {
              float out[4];
              ParseColor("purple", out);
            }),
            "認識できない色purpleです。");
  EXPECT_EQ(Stops([] {
              float out[4];
              ParseColor("", out);
            }),
            "認識できない色です。");
}

TEST_F(ResourceTest, WrappersMakeRecordsAndReportRefusals) {
  SetErrorPosition("scn/w.scn", 3);
  {
    DRef<DImageRes> color = CreateColorImageRes(8, 4, "#ff0000");
    EXPECT_STREQ(color->name, "<#ff0000>");
    const FakeEngine::Handle* h = engine.Inspect(color->handle);
    EXPECT_TRUE(h->filled);
    EXPECT_EQ((std::vector<float>(h->fill, h->fill + 4)), (std::vector<float>{1, 0, 0, 1}));
    DRef<DImageRes> black = CreateDynamicImageRes(640, 480);
    EXPECT_STREQ(black->name, "<black>");
    EXPECT_FALSE(engine.Inspect(black->handle)->filled);
    DRef<DSpriteRes> sprite = CreateSpriteRes(color, 4, 0);
    EXPECT_EQ(engine.Inspect(sprite->handle)->image, color->handle);
    DRef<DCharRes> chars = CreateCharRes("ＭＳ ゴシック", 24, 400, 1, 0, 4);
    EXPECT_EQ(engine.Inspect(chars->handle)->values, (std::vector<int32_t>{24, 400, 1, 0, 4}));
    const std::string long_colour(300, 'x');
    EXPECT_EQ(Stops([&] { CreateColorImageRes(1, 1, long_colour.c_str()); }),
              "認識できない色" + long_colour + "です。");
    engine.Refuse("ovtsCreateSprite");
    EXPECT_EQ(Stops([&] { CreateSpriteRes(color, 0, 0); }),
              Report("scn/w.scn", 3, "スプライトを作成できません。"));
  }
  EXPECT_EQ(engine.LiveCount("image") + engine.LiveCount("dynamic image") + engine.LiveCount("sprite") +
                engine.LiveCount("char"),
            0);
  engine.Refuse("ovCreateChar");
  EXPECT_EQ(Stops([] { CreateCharRes("face", 1, 1, 0, 0, 0); }),
            Report("scn/w.scn", 3, "フォント\"face\"が存在しません。"));
  engine.Refuse("ovtsCreateImage");
  EXPECT_EQ(Stops([] { CreateColorImageRes(1, 1, "red"); }),
            Report("scn/w.scn", 3, "画像が作成できません。"));
  engine.Refuse("ovtsCreateDynamicImage");
  EXPECT_EQ(Stops([] { CreateDynamicImageRes(1, 1); }), Report("scn/w.scn", 3, "画像が作成できません。"));
  EXPECT_EQ(Stops([] { LoadWipeRes("sys/none"); }),
            Report("scn/w.scn", 3, "ワイプ \"sys/none\" が読み込めません。"));
  EXPECT_EQ(Stops([] { OpenFileRes("nofile", 1); }),
            Report("scn/w.scn", 3, "ファイル \"nofile\" が開けません。"));
  AddPicture("sys/wipe_bg.bmp");
  SetImageExtensions("png:bmp");
  DRef<DWipeRes> wipe = LoadWipeRes("sys/wipe_bg");
  EXPECT_STREQ(wipe->name, "sys/wipe_bg.bmp");
  EXPECT_EQ(engine.Inspect(wipe->handle)->level, 255);
}

}  // namespace
}  // namespace orvane_test
