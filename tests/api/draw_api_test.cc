// The Draw-unit built-ins beside their export twins, on the headless host with the real screen:
// makers and loading, attributes, blits, level layers, wipes, the sprite list, the mode refusal and
// the lifetimes of images that scripts and plug-ins drop.
#include "api/draw_api.h"

#include "tests/api/draw_fixture.h"
#include "tests/support/kmf_archive.h"

namespace {

using namespace draw_test;

class DrawApi : public DrawFrame, public ::testing::WithParamInterface<uint32_t> {
 protected:
  uint32_t Format() const override { return GetParam(); }
};

// ---- Makers.

TEST_P(DrawApi, MakeFlagsRegisterHideAndShowAsTheTableSays) {
  Int(0, 4);
  Call(kSetSpriteLevel, {Arg(0u)});
  struct Case {
    int flags;
    bool listed, shown;
  } cases[] = {{0, true, true}, {2, true, false}, {8, false, true}, {10, false, false}, {6, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Create(1, 5, 3, 2, c.flags);
    DrawImage* i = Img(1);
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->sprite_list_ != nullptr, c.listed);
    EXPECT_EQ(i->GetDraw(), c.flags == 6 ? false : c.shown);  // CreateImage ignores bit 2
    EXPECT_TRUE(i->GetFlags() & kImageUpdate);
    // The export twin gives the same state.
    ApiHandle* h = ovCreateImage(5, 3, 2, c.flags);
    ASSERT_NE(h, nullptr);
    DrawImage* e = DrawOf(ApiHandleAs<ImageHandle>(h, kScriptImage, "test"));
    EXPECT_EQ(e->sprite_list_ != nullptr, i->sprite_list_ != nullptr);
    EXPECT_EQ(e->GetDraw(), i->GetDraw());
    EXPECT_EQ(ovGetImageLevel(h), c.listed ? 2 : 0);
    ovDestroyImage(h);
    // Copies take bit 2 after bit 2: 6 is shown.
    Select(1);
    Int(20, 1), Int(21, c.flags);
    Call(kCopyImage, {20, 21});
    DrawImage* copy = DrawOf(ObjectOfValueAs<ImageHandle>(*Result(), kScriptImage));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetDraw(), c.flags == 6 ? true : c.shown);
    EXPECT_EQ(copy->GetWidth(), 5);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_P(DrawApi, MakersFailWithTheirMessages) {
  // No levels yet: a registered image cannot be made.
  Create(1, 4, 4, 0, 0);
  EXPECT_TRUE(Errored("イメージを作成できません。\nメモリが不足しています。"));
  EXPECT_EQ(ovCreateImage(4, 4, 0, 0), nullptr);
  // Sizes of 0 or less keep their 0 x 0 image; a size past the cap fails.
  Boxes().clear();
  Create(1, 0, -3);
  ASSERT_NE(Img(1), nullptr);
  EXPECT_EQ(Img(1)->GetWidth(), 0);
  EXPECT_TRUE(Boxes().empty());
  Create(2, 40000, 40000);
  EXPECT_TRUE(Errored("イメージを作成できません。"));
  EXPECT_EQ(ovCreateImage(40000, 40000, 0, 8), nullptr);
  // Loading a missing file quotes the path as given.
  Boxes().clear();
  Str(20, "no\\such.png"), Int(21, 0), Int(22, 8);
  Call(kLoadImage, {20, 21, 22});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "イメージを読み込めません。\n\"no\\such.png\"");
  EXPECT_EQ(ovLoadImage("no\\such.png", 0, 8), nullptr);
}

// The mask of a split file and the alpha of bit 0 against a model computed here.
TEST_P(DrawApi, LoadSplitsAndLayersAgainstAModel) {
  DImage rgba;
  ASSERT_TRUE(rgba.Create(7, 2, 0, DimgFormat::RGBA8888));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 7; ++x) {
      uint8_t* p = rgba.GetPixelPointer(x, y);
      p[0] = uint8_t(37 * x + 11 * y), p[1] = uint8_t(53 * x + 7), p[2] = uint8_t(200 - 29 * x),
      p[3] = uint8_t(x * 40 + y);
    }
  ASSERT_TRUE(WritePicture(File("a.png"), rgba, true));
  // The model reads the picture as the loader decodes it.
  DImage d;
  {
    DFile f;
    ASSERT_TRUE(f.Open(DString(File("a.png").c_str()), DFile::kRead));
    ASSERT_TRUE(DimgLoad(f, d));
    ASSERT_EQ(d.GetFormat(), DimgFormat::RGBA8888);
  }
  // Bit 0: A >> 3.
  Str(20, File("a.png")), Int(21, 0), Int(22, 8 | 1);
  Call(kLoadImage, {20, 21, 22});
  DrawImage* i = DrawOf(ObjectOfValueAs<ImageHandle>(*Result(), kScriptImage));
  ASSERT_NE(i, nullptr);
  ASSERT_TRUE(i->IsAlpha());
  ASSERT_EQ(i->GetWidth(), 7);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(i->ValidAlpha()[y * 7 + x], d.GetPixelPointer(x, y)[3] >> 3);
  // Bit 16: 3 wide, mask columns 3-5 by luma.
  ApiHandle* h = ovLoadImage(File("a.png").c_str(), 0, 8 | 16 | 1);
  ASSERT_NE(h, nullptr);
  DrawImage* s = DrawOf(ApiHandleAs<ImageHandle>(h, kScriptImage, "test"));
  ASSERT_EQ(s->GetWidth(), 3);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint8_t* p = d.GetPixelPointer(3 + x, y);
      const double sum = 0.11 * p[2] + 0.59 * p[1] + 0.30 * p[0];
      const int l = int(int64_t(std::nearbyint(sum)) & 0xFF) >> 3;
      EXPECT_EQ(s->ValidAlpha()[y * 3 + x], l) << x << "," << y;
    }
  ovDestroyImage(h);
  // A file without alpha gives level 31 everywhere (invisible).
  DImage rgb;
  ASSERT_TRUE(rgb.Create(3, 3, 0, DimgFormat::RGB888));
  ASSERT_TRUE(WritePicture(File("b.bmp"), rgb, false));
  h = ovLoadImage(File("b.bmp").c_str(), 0, 9);
  ASSERT_NE(h, nullptr);
  s = DrawOf(ApiHandleAs<ImageHandle>(h, kScriptImage, "test"));
  for (int k = 0; k < 9; ++k) EXPECT_EQ(s->ValidAlpha()[k], 31);
  ovDestroyImage(h);
}

// A KMF archive of the members, as tests/support/kmf_archive.h builds it.
constexpr auto* Archive = &orvane_test::KmfArchive;

TEST_P(DrawApi, WithAnArchiveMountedLoadersReadOnlyTheArchive) {
  DImage pic;
  ASSERT_TRUE(pic.Create(3, 2, 0, DimgFormat::RGB888));
  std::memset(pic.GetPixelPointer(0, 0), 0xF8, 3);
  ASSERT_TRUE(WritePicture(File("disk.bmp"), pic, false));
  const std::string bytes = ReadAll(File("disk.bmp"));
  std::ofstream(File("data.kmf"), std::ios::binary) << Archive({{"pics/one.bmp", bytes}});
  ASSERT_TRUE(SetDataFile(File("data.kmf").c_str()));
  // A member named with "\\" is found under "/".
  Str(20, "pics\\one.bmp"), Int(21, 0), Int(22, 8);
  Call(kLoadImage, {20, 21, 22});
  DrawImage* i = DrawOf(ObjectOfValueAs<ImageHandle>(*Result(), kScriptImage));
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->GetWidth(), 3);
  ApiHandle* w = ovLoadWipe("pics\\one.bmp", 1);
  EXPECT_NE(w, nullptr);
  ovDestroyWipe(w);
  // A file only on disk is not found while the archive is mounted.
  Str(20, File("disk.bmp"));
  Call(kLoadImage, {20, 21, 22});
  EXPECT_TRUE(Errored("イメージを読み込めません。\n\"" + File("disk.bmp") + "\""));
  EXPECT_EQ(ovLoadImage(File("disk.bmp").c_str(), 0, 8), nullptr);
  // Writing goes to the disk all the same.
  ApiHandle* screen = ovGetScreen();
  EXPECT_EQ(ovWriteImage(File("written.bmp").c_str(), 1, screen), 1);
  ovDestroyImage(screen);
  EXPECT_FALSE(ReadAll(File("written.bmp")).empty());
  ASSERT_TRUE(SetDataFile(""));
  ApiHandle* from_disk = ovLoadImage(File("disk.bmp").c_str(), 0, 8);
  EXPECT_NE(from_disk, nullptr);
  ovDestroyImage(from_disk);
}

TEST_P(DrawApi, WriteImageReadsBackAndABadFormatTouchesNothing) {
  Create(1, 6, 4);
  Select(1);
  for (int x = 0; x < 6; ++x) Img(1)->PutColor(x, x % 4, x * 5, 31 - x, x);
  for (int format : {1, 2}) {
    SCOPED_TRACE(format);
    const std::string path = File(format == 1 ? "out.png" : "out.bmp");  // the format wins over the name
    Str(20, path), Int(21, format);
    Call(kWriteImage, {20, 21});
    EXPECT_TRUE(Boxes().empty());
    DFile f;
    ASSERT_TRUE(f.Open(DString(path.c_str()), DFile::kRead));
    DImage back;
    ASSERT_TRUE(DimgLoad(f, back));
    ASSERT_EQ(back.GetWidth(), 6u);
    ApiHandle* h = ovLoadImage(path.c_str(), 0, 8);
    ASSERT_NE(h, nullptr);
    DrawImage* e = DrawOf(ApiHandleAs<ImageHandle>(h, kScriptImage, "test"));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x)  // 24-bit files keep 5 bits of green
        EXPECT_EQ(e->GetPixel(x, y) & 0xFFDF, Img(1)->GetPixel(x, y) & 0xFFDF);
    ovDestroyImage(h);
  }
  std::ofstream(File("keep.bin")) << "precious";
  Str(20, File("keep.bin")), Int(21, 3);
  Call(kWriteImage, {20, 21});
  EXPECT_TRUE(Errored("イメージを書き出せません。\n\""));
  EXPECT_EQ(ReadAll(File("keep.bin")), "precious");
  ApiHandle* screen = ovGetScreen();
  EXPECT_EQ(ovWriteImage(File("keep.bin").c_str(), 0, screen), 0);
  EXPECT_EQ(ReadAll(File("keep.bin")), "precious");
  // A path that resolution makes longer than a path buffer fails instead of being cut.
  EXPECT_EQ(ovWriteImage((File("") + std::string(300, 'x') + ".bmp").c_str(), 1, screen), 0);
  ovDestroyImage(screen);
}

// ---- Wipes.

TEST_P(DrawApi, WipeThresholdsAndDirections) {
  // A grey ramp: map levels 0 at column 0, 32767 at column 3 (mode 0 scales the grey).
  DImage ramp;
  ASSERT_TRUE(ramp.Create(4, 1, 0, DimgFormat::RGB888));
  const uint8_t greys[4] = {0, 85, 170, 255};
  for (int x = 0; x < 4; ++x) std::memset(ramp.GetPixelPointer(x, 0), greys[x], 3);
  ASSERT_TRUE(WritePicture(File("w.bmp"), ramp, false));
  for (int mode : {0, 1, 2}) {
    Boxes().clear();
    Str(20, File("w.bmp")), Int(21, mode);
    Call(kLoadWipe, {20, 21});
    EXPECT_EQ(Boxes().empty(), mode != 2) << mode;
    ApiHandle* w = ovLoadWipe(File("w.bmp").c_str(), mode);
    EXPECT_EQ(w != nullptr, mode != 2);
    ovDestroyWipe(w);
  }
  EXPECT_TRUE(Errored("ワイプを読み込めません。\n\""));
  Boxes().clear();
  Str(20, File("w.bmp")), Int(21, 0);
  Call(kLoadWipe, {20, 21});
  ScriptValue::Assign(*Result(), Slot(9));
  Create(1, 4, 1);
  Create(2, 4, 1);
  Img(2)->Fill(Pack(31, 31, 31));
  struct Case {
    float level;
    int direction;
    int copied[4];
  } cases[] = {
      {0.0f, 0, {1, 1, 1, 1}},  {1.0f, 1, {1, 1, 1, 1}},  {1.0f, 0, {0, 0, 0, 1}}, {1.5f, 0, {0, 0, 0, 1}},
      {-0.5f, 0, {1, 1, 1, 1}}, {-0.5f, 1, {1, 0, 0, 0}}, {NAN, 1, {1, 0, 0, 0}},  {NAN, 0, {1, 1, 1, 1}},
      {0.5f, 7, {0, 0, 1, 1}},  {0.5f, 1, {1, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.level << " " << c.direction);
    Img(1)->Fill(0);
    Select(1);
    Int(20, 0), Int(21, 0), Int(22, 4), Int(23, 1), Int(24, 0), Int(25, 0), Float(26, c.level),
        Int(27, c.direction);
    Call(kBltImageWipe, {20, 21, 22, 23, 2, 24, 25, 9, 26, 27});
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Img(1)->GetPixel(x, 0), c.copied[x] ? Pack(31, 31, 31) : 0) << x;
  }
  EXPECT_TRUE(Boxes().empty());
  // The layer wipe needs both layers; the fill wipe makes a layer of zeros first.
  Select(1);
  Int(20, 0), Int(21, 0), Int(22, 4), Int(23, 1), Int(24, 0), Int(25, 0), Float(26, 0.0f), Int(27, 0);
  Call(kBltAlphaImageWipe, {20, 21, 22, 23, 2, 24, 25, 9, 26, 27});
  EXPECT_FALSE(Img(1)->IsAlpha());
  Int(24, 300), Int(25, 5), Float(26, 1.0f);
  Call(kFillAlphaImageWipe, {20, 21, 22, 23, 24, 25, 9, 26, 27});
  ASSERT_TRUE(Img(1)->IsAlpha());
  EXPECT_EQ(std::vector<uint8_t>(Img(1)->ValidAlpha(), Img(1)->ValidAlpha() + 4),
            (std::vector<uint8_t>{5, 5, 5, 31}));  // 300: low byte 44, at most 31
  // Another kind where a wipe is expected is type error 511.
  Call(kBltImageWipe, {20, 21, 22, 23, 2, 24, 25, 2, 26, 27});
  EXPECT_TRUE(Errored("指定された変数はワイプではありません。"));
}

// ---- Attributes.

TEST_P(DrawApi, AttributesBuiltinsAndExportsAgree) {
  Int(0, 4);
  Call(kSetSpriteLevel, {Arg(0u)});
  Create(1, 10, 10, 1, 0);
  ApiHandle* h = ovCreateImage(10, 10, 1, 0);
  DrawImage* e = DrawOf(ApiHandleAs<ImageHandle>(h, kScriptImage, "test"));
  Select(1);
  Int(20, 1), Int(21, 31), Int(22, 0), Int(23, 31);
  Call(kSetImageFastTrans, {20});
  Call(kSetImageTrans, {20, 21, 22, 23});
  ovSetImageFastTrans(h, 1);
  ovSetImageTrans(h, 1, 31, 0, 31);
  for (DrawImage* i : {Img(1), e}) {
    EXPECT_EQ(i->GetRecord()->key, Format() == 6 ? 0xF81F : 0x7C1F);
    EXPECT_FALSE(i->IsFastTrans());
  }
  Call(kGetImageTrans, {24});
  EXPECT_EQ(Slot(24)->ToInt(), 31);
  EXPECT_EQ(Slot(25)->ToInt(), 0);
  EXPECT_EQ(Slot(26)->ToInt(), 31);
  const OvColor c = ovGetImageTrans(h);
  EXPECT_EQ(c.r + c.g + c.b, 62);
  // Channels above 31 clamp; negatives give 0.
  Int(21, 99), Int(22, -4), Int(23, 7);
  Call(kSetImageTrans, {20, 21, 22, 23});
  EXPECT_EQ(Img(1)->GetRecord()->key, Pack(31, 0, 7));
  // Levels: out of range leaves the list and reads 0.
  Int(20, -1);
  Call(kSetImageLevel, {20});
  ovSetImageLevel(h, 4);
  Call(kGetImageLevel);
  EXPECT_EQ(Result()->ToInt(), 0);
  EXPECT_EQ(ovGetImageLevel(h), 0);
  EXPECT_EQ(Img(1)->sprite_list_, nullptr);
  // Update bit cleared after a move.
  Int(20, 1), Int(21, 2);
  Call(kSetImagePos, {20, 21});
  Int(20, 0);
  Call(kSetImageUpdate, {20});
  Call(kIsImageUpdate);
  EXPECT_EQ(Result()->ToInt(), 0);
  // Connection: absolute positions.
  Create(2, 3, 3);
  Img(2)->SetPos(10, 20);
  Call(kConnectImage, {2});
  Call(kGetImageAbsPos, {30});
  EXPECT_EQ(Slot(30)->ToInt(), 11);
  EXPECT_EQ(Slot(31)->ToInt(), 22);
  Call(kDisconnectImage);
  Call(kGetImageAbsPos, {30});
  EXPECT_EQ(Slot(30)->ToInt(), 1);
  EXPECT_TRUE(Boxes().empty());
  // Another kind as parent: type error 500.
  Int(20, 0);
  Call(kConnectImage, {20});
  EXPECT_TRUE(Errored("指定された変数はイメージではありません。"));
  ovDestroyImage(h);
}

TEST_P(DrawApi, IsImageHitTable) {
  Create(1, 10, 10);
  Create(2, 10, 10);
  struct Case {
    int bx, by, flags;
    bool hidden;
    int hit;
  } cases[] = {{10, 0, 0, false, 0}, {9, 9, 0, false, 1},   {9, 9, 0, true, 0},
               {9, 9, 4, true, 1},   {-10, 0, 0, false, 0}, {-9, -9, 2, false, 1}};
  Select(1);
  for (const Case& c : cases) {
    Img(2)->SetPos(c.bx, c.by);
    Img(2)->SetDraw(!c.hidden);
    Int(20, c.flags);
    Call(kIsImageHit, {2, 20});
    EXPECT_EQ(Result()->ToInt(), c.hit) << c.bx << "," << c.by << " " << c.flags;
  }
  // Positions near the int limits do not wrap.
  Img(1)->SetPos(INT32_MAX - 2, 0);
  Img(2)->SetPos(INT32_MIN, 0);
  Int(20, 4);
  Call(kIsImageHit, {2, 20});
  EXPECT_EQ(Result()->ToInt(), 0);
}

// ---- Blits, pixels and layers.

TEST_P(DrawApi, BlitsPixelsAndLayers) {
  Create(1, 3, 2);
  Create(2, 3, 2);
  const uint16_t p1 = Pack(1, 2, 3), p2 = Pack(31, 0, 31), p3 = Pack(4, 5, 6);
  Img(2)->PutPixel(0, 0, p1), Img(2)->PutPixel(1, 0, p2), Img(2)->PutPixel(2, 0, p3);
  Img(2)->SetTrans(true, 31, 0, 31);
  Select(1);
  auto row = [&](DrawImage* i) {
    return std::vector<uint16_t>{i->GetPixel(0, 0), i->GetPixel(1, 0), i->GetPixel(2, 0)};
  };
  const uint16_t bg = Pack(9, 9, 9);
  struct Case {
    uint32_t n;
    int flags;
    std::vector<uint16_t> want;
  } cases[] = {{kBltImage, 0, {p1, bg, p3}},
               {kBltImage, 1, {p1, p2, p3}},
               {kBltImageMirror, 1, {p3, p2, p1}},
               {kBltImageMirror, 0, {p1, p2, p3}}};
  for (const Case& c : cases) {
    Img(1)->Fill(bg);
    Int(20, 0), Int(21, 0), Int(22, 3), Int(23, 1), Int(24, 0), Int(25, 0), Int(26, c.flags);
    Call(c.n, {20, 21, 22, 23, 2, 24, 25, 26});
    EXPECT_EQ(row(Img(1)), c.want) << c.n << " " << c.flags;
    // The export twin draws the same.
    Img(1)->Fill(bg);
    ApiHandle* d = NewApiHandle(kScriptImage, ObjectOfValue(*Slot(1), kScriptImage));
    ApiHandle* src = NewApiHandle(kScriptImage, ObjectOfValue(*Slot(2), kScriptImage));
    (c.n == kBltImage ? ovBltImage : ovBltImageMirror)(d, 0, 0, 3, 1, src, 0, 0, c.flags);
    EXPECT_EQ(row(Img(1)), c.want) << "export " << c.n << " " << c.flags;
    ovDestroyImage(d);
    ovDestroyImage(src);
  }
  // Pixels: outside does nothing and reads 0.
  Int(20, 1), Int(21, 1), Int(22, 40), Int(23, 3), Int(24, -2);
  Call(kPutImageColor, {20, 21, 22, 23, 24});
  EXPECT_EQ(Img(1)->GetPixel(1, 1), Pack(31, 3, 0));
  Int(20, 3), Int(21, 0);
  Call(kPutImageColor, {20, 21, 22, 23, 24});
  Int(21, 1), Int(22, 1);
  Call(kGetImageColor, {27, 21, 22});
  EXPECT_EQ((std::vector<int>{Slot(27)->ToInt(), Slot(28)->ToInt(), Slot(29)->ToInt()}),
            (std::vector<int>{31, 3, 0}));
  ApiHandle* h1 = NewApiHandle(kScriptImage, ObjectOfValue(*Slot(1), kScriptImage));
  const OvColor seen = ovGetImageColor(h1, 1, 1);
  EXPECT_EQ((std::vector<int>{seen.r, seen.g, seen.b}), (std::vector<int>{31, 3, 0}));
  EXPECT_EQ(ovGetImageColor(h1, -1, 0).r, 0);
  ovDestroyImage(h1);
  Int(21, 99);
  Call(kGetImageColor, {27, 21, 22});
  EXPECT_EQ(Slot(27)->ToInt() + Slot(28)->ToInt() + Slot(29)->ToInt(), 0);
  // ConvTransAlpha from a source without key: zeros; with key: 31 at the key.
  Img(2)->SetTrans(false, 0, 0, 0);
  Int(20, 0), Int(21, 0), Int(22, 3), Int(23, 1), Int(24, 0), Int(25, 0);
  Call(kConvTransAlphaImage, {20, 21, 22, 23, 2, 24, 25});
  ASSERT_TRUE(Img(1)->IsAlpha());
  EXPECT_EQ(Img(1)->ValidAlpha()[1], 0);
  Img(2)->SetTrans(true, 31, 0, 31);
  Call(kConvTransAlphaImage, {20, 21, 22, 23, 2, 24, 25});
  EXPECT_EQ(Img(1)->ValidAlpha()[1], 31);
  // FillAlphaImage takes the low byte then at most 31; SeparateAlpha without a layer is nothing.
  Int(20, 0x105);
  Call(kFillAlphaImage, {20});
  EXPECT_EQ(Img(1)->ValidAlpha()[5], 5);
  Select(2);
  Call(kSeparateAlphaImage);
  EXPECT_FALSE(Img(2)->IsAlpha());
  // Sharing: unequal sizes fail with the message; the export gives 0.
  Create(3, 4, 4);
  Call(kShareAlphaImage, {3});
  EXPECT_TRUE(Errored("imgShareAlphaImage\nアルファイメージの共有ができません。"));
}

TEST_P(DrawApi, StretchAndRotateOntoTheirOwnPixelsReadACopy) {
  Create(1, 8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) Img(1)->PutColor(x, y, x * 4, y * 4, 0);
  DImage before(*Img(1)->GetImage());
  Select(1);
  // Doubling the top-left quarter over itself: each output pixel is the original source pixel.
  Int(20, 0), Int(21, 0), Int(22, 8), Int(23, 8), Int(24, 0), Int(25, 0), Int(26, 4), Int(27, 4), Int(28, 0);
  Call(kBltImageStretch, {20, 21, 22, 23, 1, 24, 25, 26, 27, 28});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(Img(1)->GetPixel(x, y),
                *reinterpret_cast<const uint16_t*>(before.GetPixelPointer(x / 2, y / 2)));
  // A duplicate shares the pixels: the same rule holds through it.
  Int(20, 0), Int(21, 8);
  Call(kDuplicateImage, {20, 21});
  ScriptValue::Assign(*Result(), Slot(2));
  Img(1)->GetImage()->Destroy();
  EXPECT_TRUE(Boxes().empty());
}

// ---- Sprite list and lifetimes.

TEST_P(DrawApi, SpriteListDropsImagesNoOneHolds) {
  Int(0, 4);
  Call(kSetSpriteLevel, {Arg(0u)});
  Int(0, 8);
  Call(kSetSpriteLevel, {Arg(0u)});
  EXPECT_EQ(DrawScreen().GetSpriteList().GetLevelCount(), 4);
  Create(3, 48, 48, 0, 0);  // a black background under the sprite
  Create(1, 30, 30, 1, 0);
  Select(1);
  Int(20, 31), Int(21, 0), Int(22, 0);
  Call(kFillImage, {20, 21, 22});
  Select(0u);  // nothing: the selection is dropped (type error ends the tasks; fine here)
  Boxes().clear();
  Call(kRenderSpriteScreen);
  EXPECT_EQ(DrawScreen().GetScreenImage().GetPixel(5, 5), Pack(31, 0, 0));
  EXPECT_EQ(DrawScreen().GetSpriteList().GetLevelSize(1), 1u);
  Slot(1)->SetInt(0);  // the last holder lets go
  EXPECT_EQ(DrawScreen().GetSpriteList().GetLevelSize(1), 0u);
  EXPECT_TRUE(DrawScreen().GetSpriteList().IsDirty(0, 0));
  Call(kRenderSprite);
  EXPECT_EQ(DrawScreen().GetScreenImage().GetPixel(5, 5), 0);
  // Exports: the same through a handle, and a registration out of range gives 0.
  ApiHandle* h = ovCreateImage(10, 10, 0, 8);
  EXPECT_EQ(ovRegSpriteImage(h, 4), 0);
  EXPECT_EQ(ovRegSpriteImage(h, 3), 1);
  EXPECT_EQ(DrawScreen().GetSpriteList().GetLevelSize(3), 1u);
  ovDestroyImage(h);
  EXPECT_EQ(DrawScreen().GetSpriteList().GetLevelSize(3), 0u);
}

TEST_P(DrawApi, ScreenHandlesAreDistinctAndKindsAreChecked) {
  ApiHandle* a = ovGetScreen();
  ApiHandle* b = ovGetScreen();
  ASSERT_NE(a, b);
  ovDestroyImage(a);
  EXPECT_EQ(ovGetImageSize(b).width, 640);
  // A wipe handle where an image is expected gives failure values and changes nothing.
  DImage grey;
  ASSERT_TRUE(grey.Create(2, 2, 0, DimgFormat::RGB888));
  ASSERT_TRUE(WritePicture(File("g.bmp"), grey, false));
  ApiHandle* w = ovLoadWipe(File("g.bmp").c_str(), 0);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(ovGetImageSize(w).width, 0);
  EXPECT_EQ(ovCopyImage(w, 0, 8), nullptr);
  ovSetImagePos(w, 5, 5);
  ovDestroyImage(w);  // refused: the wipe handle stays
  ovBltImage(b, 0, 0, 2, 2, w, 0, 0, 0);
  ovDestroyWipe(w);
  ovDestroyImage(b);
}

TEST_P(DrawApi, AScreenDuplicateSurvivesAResize) {
  Call(kGetScreen);
  ScriptValue::Assign(*Result(), Slot(1));
  Select(1);
  Int(20, 0), Int(21, 8);
  Call(kDuplicateImage, {20, 21});
  ScriptValue::Assign(*Result(), Slot(2));
  ASSERT_NE(Img(2), nullptr);
  ASSERT_TRUE(DrawScreen().SetSize(1024, 768, false));
  Select(2);
  Int(20, 0), Int(21, 0), Int(22, 1), Int(23, 2), Int(24, 3);
  Call(kPutImageColor, {20, 21, 22, 23, 24});
  Call(kFillImage, {22, 23, 24});
  Int(25, 1000), Int(26, 700);
  Call(kGetImageColor, {28, 25, 26});
  EXPECT_TRUE(Boxes().empty());
}

TEST_P(DrawApi, WithNoCurrentImageImageBuiltinsDoNothing) {
  Int(20, 0);
  Call(kSetImage, {20});  // refused: no image is selected now
  ASSERT_TRUE(Errored("指定された変数はイメージではありません。"));
  Boxes().clear();
  Create(2, 4, 4);
  Result()->SetInt(5);
  Int(20, 1), Int(21, 1), Int(22, 31), Int(23, 31), Int(24, 31);
  Call(kFillImage, {22, 23, 24});
  Call(kSetImagePos, {20, 21});
  Call(kBltImage, {20, 21, 20, 21, 2, 20, 21, 20});
  Call(kGetImageColor, {27, 20, 21});
  Call(kIsImageDraw);
  Int(25, 0), Int(26, 8);
  Call(kCopyImage, {25, 26});
  Call(kWriteImage, {20, 21});
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Result()->ToInt(), 5);
  EXPECT_EQ(DrawScreen().GetScreenImage().GetPixel(0, 0), 0);
}

TEST_P(DrawApi, TssModeRefusesEveryDrawBuiltin) {
  ApiHandle* screen = ovGetScreen();
  SetStartupFlags(kStartupTss);
  const uint32_t builtins[] = {kSetSpriteLevel, kLoadImage,          kCreateImage,      kCopyImage,
                               kDuplicateImage, kWriteImage,         kLoadWipe,         kGetImage,
                               kSetImage,       kGetScreen,          kSetImagePos,      kGetImageSize,
                               kSetImageTrans,  kBltImage,           kBltImageStretch,  kBltImageRotate,
                               kBltImageWipe,   kFillAlphaImage,     kShareAlphaImage,  kGetImageColor,
                               kDrawImageLine,  kRenderSpriteScreen, kRenderSpriteWait, kFlipSprite,
                               kIsImageHit,     kRegSpriteImage,     kPopImageStatus,   kConnectImage};
  for (uint32_t n : builtins) {
    Boxes().clear();
    Result()->SetInt(77);
    Call(n, {});  // no argument is read
    ASSERT_EQ(Boxes().size(), 1u) << n;
    EXPECT_EQ(Boxes()[0].text.rfind("TSSモード時はこの関数を使用できません。", 0), 0u) << n;
    EXPECT_EQ(Result()->ToInt(), 77) << n;
  }
  EXPECT_EQ(ovCreateImage(4, 4, 0, 8), nullptr);
  EXPECT_EQ(ovGetScreen(), nullptr);
  EXPECT_EQ(ovGetImageSize(screen).width, 0);
  EXPECT_EQ(ovRegSpriteImage(screen, 0), 0);
  EXPECT_EQ(ovShareAlphaImage(screen, screen), 0);
  ovDestroyImage(screen);  // refused in this mode
  SetStartupFlags(0);
  EXPECT_EQ(ovGetImageSize(screen).width, 640);
  ovDestroyImage(screen);
}

INSTANTIATE_TEST_SUITE_P(Formats, DrawApi, ::testing::Values(6u, 4u));

}  // namespace
