// Anti-aliased characters through the built-ins and the exports: quality flags, creation limits,
// character codes and the failure message, the cache, failed renders, the level-layer writer and
// the TSS alpha writer with its clipping, dirty rectangle and upload.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "display/text/dglyph.h"
#include "platform/gdi_internal.h"
#include "tests/api/draw_fixture.h"
#include "tests/api/tss_fixture.h"

namespace {

using namespace draw_test;

enum : uint32_t {
  kCreateChar = 245,
  kGetChar = 246,
  kSetChar = 247,
  kRenderChar = 248,
  kDrawChar = 249,
  kGetCharBoxSize = 250,
  kGetCharDrawPos = 251,
  kGetCharFeedSize = 252,
  kGetCharHeight = 253,
};

const char kFace[] = "ＭＳ ゴシック";

DRef<DGlyph> SetOf(ApiHandle* h) {
  return ApiHandleAs<DGlyph>(h, kScriptAaCharSet, "test");
}

// What the export getters read, in one row.
struct Metrics {
  int box_w, box_h, draw_x, draw_y, feed_x, feed_y;
  bool operator==(const Metrics&) const = default;
};
Metrics ExportMetrics(ApiHandle* h) {
  const OvSize b = ovGetCharBoxSize(h), f = ovGetCharFeedSize(h);
  const OvPoint d = ovGetCharDrawPos(h);
  return {b.width, b.height, d.x, d.y, f.width, f.height};
}

class AaChars : public DrawFrame {
 protected:
  uint32_t Format() const override { return 6; }

  // Slot 1 becomes a character set made by the built-in and is selected; its handle is returned.
  ApiHandle* MakeSet(int height = 24, int quality = 0x10) {
    Str(10, kFace), Int(11, height), Int(12, 3), Int(13, 0), Int(14, 1), Int(15, quality);
    Call(kCreateChar, {10, 11, 12, 13, 14, 15});
    ScriptValue::Assign(*Result(), Slot(1));
    Result()->SetInt(0);
    Call(kSetChar, {1});
    return NewApiHandle(kScriptAaCharSet, ObjectOfValue(*Slot(1), kScriptAaCharSet));
  }
  // The built-in getters' row (arrays at slots 24, 26, 28).
  Metrics BuiltinMetrics() {
    Call(kGetCharBoxSize, {24});
    Call(kGetCharDrawPos, {26});
    Call(kGetCharFeedSize, {28});
    auto at = [this](uint32_t i) { return Slot(i)->ToInt(); };
    return {at(24), at(25), at(26), at(27), at(28), at(29)};
  }
  // Slot 2 becomes a w x h image with its level layer on, every level `fill`; selected.
  DrawImage* LayeredImage(int w, int h, uint8_t fill) {
    Create(2, w, h);
    Select(2);
    DrawImage* i = Img(2);
    i->EnableAlpha(true);
    std::memset(i->ValidAlpha(), fill, static_cast<size_t>(w) * h);
    return i;
  }
};

TEST_F(AaChars, QualityFlagsChooseTheGlyphFormatAndTheCache) {
  // Draw mode writes 5-bit levels whatever the quality.
  const struct {
    int quality;
    uint32_t flags;  // format and cache bits of the set
  } cases[] = {
      {0, kGlyphGray4},
      {1, kGlyphBitmap},
      {2, kGlyphGray2},
      {4, kGlyphGray4},
      {8, 0},
      {0x10, 0},
      {0x18, 0},
      {0x21, kGlyphBitmap | kGlyphCache},
      {3, kGlyphBitmap},
      {0x26, kGlyphGray2 | kGlyphCache},
  };
  for (const auto& c : cases) {
    ApiHandle* h = ovCreateChar(kFace, 20, 3, 0, 1, c.quality);
    ASSERT_NE(h, nullptr) << c.quality;
    EXPECT_EQ(SetOf(h)->GetFlags(), c.flags | kGlyphOut5) << c.quality;
    ovDestroyChar(h);
  }
  ApiHandle* h = MakeSet(20, 0x21);
  EXPECT_EQ(SetOf(h)->GetFlags(), kGlyphBitmap | kGlyphCache | kGlyphOut5);
  ovDestroyChar(h);
}

TEST_F(AaChars, HeightsWeightsAndCreationFailures) {
  ApiHandle* pos = ovCreateChar(kFace, 24, 8, 1, 1, 0);
  ApiHandle* neg = ovCreateChar(kFace, -24, -1, 0, 0, 0);
  ASSERT_NE(pos, nullptr);
  ASSERT_NE(neg, nullptr);
  EXPECT_EQ(SetOf(pos)->GetMetrics().tmHeight, SetOf(neg)->GetMetrics().tmHeight);
  EXPECT_EQ(ovGetCharHeight(pos), SetOf(pos)->GetMetrics().tmHeight);
  EXPECT_GT(ovGetCharHeight(pos), 0);
  EXPECT_EQ(SetOf(pos)->GetMetrics().tmWeight, 900);
  EXPECT_EQ(SetOf(neg)->GetMetrics().tmWeight, 400);
  EXPECT_NE(SetOf(pos)->GetMetrics().tmItalic, 0);
  ovDestroyChar(pos);
  ovDestroyChar(neg);

  // A long face name is cut, never refused.
  ApiHandle* long_face = ovCreateChar("ＭＳ ゴシックＭＳ ゴシックＭＳ ゴシックＭＳ ゴシック", 16, 3, 0, 0, 0);
  EXPECT_NE(long_face, nullptr);
  ovDestroyChar(long_face);

  for (int height : {INT_MIN, INT_MAX, 1025, -1025}) {
    EXPECT_EQ(ovCreateChar(kFace, height, 3, 0, 0, 0), nullptr) << height;
    Boxes().clear();
    Result()->SetInt(7);
    Str(10, kFace), Int(11, height), Int(12, 3), Int(13, 0), Int(14, 0), Int(15, 0);
    Call(kCreateChar, {10, 11, 12, 13, 14, 15});
    EXPECT_TRUE(Errored("アンチエイリアス文字を作成できません。")) << height;
  }
  EXPECT_EQ(ovCreateChar(nullptr, 16, 3, 0, 0, 0), nullptr);
}

TEST_F(AaChars, RenderCharTakesTheFirstCharactersCode) {
  ApiHandle* h = MakeSet();
  const struct {
    std::string text;
    uint32_t code;
  } cases[] = {
      {"A", 0x41},        {"W and more", 0x57}, {"表示", 0x955C},  // trail byte 0x5C
      {"\xB1", 0xB1},                                              // half-width katakana: one byte
      {"\xDF\xB1", 0xDF},
  };
  for (const auto& c : cases) {
    Boxes().clear();
    Str(5, c.text);
    Call(kRenderChar, {5});
    EXPECT_TRUE(Boxes().empty()) << c.text;
    const Metrics by_builtin = BuiltinMetrics();
    ASSERT_TRUE(ovRenderChar(h, c.code)) << c.text;
    EXPECT_EQ(by_builtin, ExportMetrics(h)) << c.text;
    EXPECT_GT(by_builtin.feed_x, 0) << c.text;
  }
  // The export keeps only the low 16 bits of the code.
  ASSERT_TRUE(ovRenderChar(h, 0x10041));
  const Metrics a = ExportMetrics(h);
  ASSERT_TRUE(ovRenderChar(h, 0x41));
  EXPECT_EQ(a, ExportMetrics(h));

  // A lone lead byte is lead x 256, which no font has: the message shows that byte.
  Boxes().clear();
  Str(5, "\x88");
  Call(kRenderChar, {5});
  EXPECT_TRUE(Errored(std::string("指定されたアンチエイリアス文字 '") + "\x88" + "' は存在しません。"));
  EXPECT_FALSE(ovRenderChar(h, 0x8800));

  // "" is code 0: whatever the font gives for it, the built-in and the export agree.
  Boxes().clear();
  Str(5, "");
  Call(kRenderChar, {5});
  const bool rendered = Boxes().empty();
  EXPECT_EQ(rendered, ovRenderChar(h, 0) != 0);
  if (!rendered) {
    EXPECT_TRUE(Errored("指定されたアンチエイリアス文字 '' は存在しません。"));
  }
  ovDestroyChar(h);
}

TEST_F(AaChars, TheCacheAsksTheFontOncePerCode) {
  ApiHandle* cached = MakeSet(24, 0x20);
  ASSERT_TRUE(ovRenderChar(cached, 0x82A0));
  const Metrics first = ExportMetrics(cached);
  ASSERT_TRUE(ovRenderChar(cached, 0x41));
  const uint64_t calls = orvane::gdi::GlyphOutlineCalls();
  Str(5, "あ");
  Call(kRenderChar, {5});
  ASSERT_TRUE(ovRenderChar(cached, 0x41));
  ASSERT_TRUE(ovRenderChar(cached, 0x82A0));
  EXPECT_EQ(orvane::gdi::GlyphOutlineCalls(), calls);
  EXPECT_EQ(ExportMetrics(cached), first);
  ovDestroyChar(cached);
}

TEST_F(AaChars, AFailedRenderLeavesAnEmptyGlyphThatDrawsNothing) {
  ApiHandle* h = MakeSet();
  DrawImage* image = LayeredImage(16, 16, 9);
  ApiHandle* image_handle = NewApiHandle(kScriptImage, ObjectOfValue(*Slot(2), kScriptImage));
  ASSERT_TRUE(ovRenderChar(h, 0x57));
  ASSERT_NE(ExportMetrics(h), (Metrics{}));
  EXPECT_FALSE(ovRenderChar(h, 0xFFFF));
  EXPECT_EQ(ExportMetrics(h), (Metrics{}));
  for (uint32_t i = 24; i < 30; ++i) Int(i, 5);
  EXPECT_EQ(BuiltinMetrics(), (Metrics{0, 0, 0, 0, 0, 0}));
  Int(5, 0), Int(6, 0);
  Call(kDrawChar, {5, 6});
  ovDrawChar(image_handle, 0, 0, h);
  EXPECT_EQ(std::vector<uint8_t>(image->ValidAlpha(), image->ValidAlpha() + 256),
            std::vector<uint8_t>(256, 9));
  ovDestroyImage(image_handle);
  ovDestroyChar(h);
}

TEST_F(AaChars, ASpaceHasNoBoxButAFeed) {
  ApiHandle* h = MakeSet();
  DrawImage* image = LayeredImage(8, 8, 3);
  Str(5, " ");
  Call(kRenderChar, {5});
  const Metrics m = BuiltinMetrics();
  EXPECT_EQ(m.box_w, 0);
  EXPECT_EQ(m.box_h, 0);
  EXPECT_GT(m.feed_x, 0);
  Int(5, 0), Int(6, 0);
  Call(kDrawChar, {5, 6});
  EXPECT_EQ(std::vector<uint8_t>(image->ValidAlpha(), image->ValidAlpha() + 64), std::vector<uint8_t>(64, 3));
  ovDestroyChar(h);
}

TEST_F(AaChars, DrawCharWritesTheClippedBoxIntoTheLevelLayer) {
  ApiHandle* h = MakeSet(24, 0x10);
  constexpr int W = 20, H = 18;
  DrawImage* image = LayeredImage(W, H, 7);
  ApiHandle* image_handle = NewApiHandle(kScriptImage, ObjectOfValue(*Slot(2), kScriptImage));
  const DRef<DGlyph> set = SetOf(h);
  const struct {
    int x, y;
    bool by_export;
  } cases[] = {{2, 1, false}, {-3, 4, false}, {W - 5, -6, true}, {-100, 0, true}, {4, H - 3, false}};
  for (const auto& c : cases) {
    std::memset(image->ValidAlpha(), 7, W * H);
    image->SetFlags(image->GetFlags() & ~kImageUpdate);
    Str(5, "W");
    Call(kRenderChar, {5});
    const DPoint box = set->GetBoxSize();
    ASSERT_GT(box.x, 0);
    if (c.by_export) {
      ovDrawChar(image_handle, c.x, c.y, h);
    } else {
      Int(5, c.x), Int(6, c.y);
      Call(kDrawChar, {5, 6});
    }
    EXPECT_NE(image->GetFlags() & kImageUpdate, 0u) << c.x << "," << c.y;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const int gx = x - c.x, gy = y - c.y;
        const bool inside = gx >= 0 && gy >= 0 && gx < box.x && gy < box.y;
        const int want = inside ? 31 - set->GetLevels()[gy * set->GetPitch() + gx] : 7;
        ASSERT_EQ(image->ValidAlpha()[y * W + x], want) << c.x << "," << c.y << " at " << x << "," << y;
      }
  }
  // Level layer off: nothing is written.
  Create(3, 8, 8);
  Select(3);
  Int(5, 0), Int(6, 0);
  Call(kDrawChar, {5, 6});
  EXPECT_FALSE(Img(3)->IsAlpha());
  EXPECT_EQ(Img(3)->ValidAlpha(), nullptr);
  ovDestroyImage(image_handle);
  ovDestroyChar(h);
}

TEST_F(AaChars, WithoutACurrentSetCharacterBuiltinsDoNothing) {
  Call(kGetChar);
  EXPECT_EQ(Result()->type(), kScriptAaCharSet);
  EXPECT_FALSE(ObjectOfValue(*Result(), kScriptAaCharSet));
  Int(1, 3);
  Call(kSetChar, {1});  // another kind clears quietly
  EXPECT_TRUE(Boxes().empty());
  DrawImage* image = LayeredImage(8, 8, 4);
  Str(5, "A");
  Call(kRenderChar, {5});
  Int(5, 0), Int(6, 0);
  Call(kDrawChar, {5, 6});
  for (uint32_t i = 24; i < 30; ++i) Int(i, 5);
  EXPECT_EQ(BuiltinMetrics(), (Metrics{5, 5, 5, 5, 5, 5}));
  Result()->SetInt(-2);
  Call(kGetCharHeight);
  EXPECT_EQ(Result()->ToInt(), -2);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(std::vector<uint8_t>(image->ValidAlpha(), image->ValidAlpha() + 64), std::vector<uint8_t>(64, 4));
}

TEST_F(AaChars, HandlesOfAnotherKindGetTheFailureValue) {
  ApiHandle* set = ovCreateChar(kFace, 20, 3, 0, 0, 0);
  ApiHandle* image = ovCreateImage(8, 8, 0, 8);
  ASSERT_NE(set, nullptr);
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(ovRenderChar(set, 0x41));
  EXPECT_FALSE(ovRenderChar(image, 0x41));
  EXPECT_EQ(ovGetCharHeight(image), 0);
  EXPECT_EQ(ExportMetrics(image), (Metrics{}));
  EXPECT_EQ(ExportMetrics(nullptr), (Metrics{}));
  ovDrawChar(set, 0, 0, image);  // arguments swapped: both of the wrong kind
  ovDestroyChar(image);          // not a set: kept
  EXPECT_EQ(ovGetImageSize(image).width, 8);
  ovDestroyImage(image);
  ovDestroyChar(set);
}

TEST_F(AaChars, TssModeDrawCharDoesNothingInTheLayer) {
  ApiHandle* h = MakeSet();
  DrawImage* image = LayeredImage(8, 8, 2);
  ApiHandle* image_handle = NewApiHandle(kScriptImage, ObjectOfValue(*Slot(2), kScriptImage));
  ASSERT_TRUE(ovRenderChar(h, 0x57));
  SetStartupFlags(kStartupTss);
  Boxes().clear();
  Int(5, 0), Int(6, 0);
  Call(kDrawChar, {5, 6});
  ovDrawChar(image_handle, 0, 0, h);
  SetStartupFlags(0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(std::vector<uint8_t>(image->ValidAlpha(), image->ValidAlpha() + 64), std::vector<uint8_t>(64, 2));
  ovDestroyImage(image_handle);
  ovDestroyChar(h);
}

// ---- TSS images.

using tss_api_test::TssApi;

// Bytes of a locked surface, row by row without padding.
std::vector<uint8_t> Rows(uint8_t* p, int32_t pitch, int w, int h, int bpp) {
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y) out.insert(out.end(), p + y * pitch, p + y * pitch + w * bpp);
  return out;
}
std::vector<uint8_t> SourceBytes(ApiHandle* image, int bpp) {
  DRef<DtssImage> i = TssImageOf(image, "test");
  int32_t pitch = 0;
  uint8_t* p = i ? i->Lock(&pitch) : nullptr;
  if (!p) return {};
  std::vector<uint8_t> out = Rows(p, pitch, i->GetSourceSize().x, i->GetSourceSize().y, bpp);
  i->Unlock();
  return out;
}

class AaCharsTss : public TssApi, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    TssApi::SetUp();
    TextureBits(GetParam());
    ASSERT_TRUE(Start());
  }
};

TEST_P(AaCharsTss, DrawCharWritesOnlyAlphaInTheClippedBoxAndUploadsIt) {
  const bool wide = GetParam() == 32;
  const int bpp = wide ? 4 : 2;
  ASSERT_EQ(TssManager().GetTextureFormat(), wide ? 2u : 5u);
  ApiHandle* set = ovCreateChar(kFace, 24, 3, 0, 1, 0x10);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(SetOf(set)->GetOutputBits(), wide ? 8u : 4u);
  constexpr int W = 20, H = 16;
  ApiHandle* image = ovtsCreateImage(W, H);
  ASSERT_NE(image, nullptr);
  ApiHandle* sprite = ovtsCreateSprite(image, 0, 0);
  ASSERT_NE(sprite, nullptr);
  ASSERT_TRUE(ovRenderChar(set, 0x57));
  const DRef<DGlyph> g = SetOf(set);
  const DPoint box = g->GetBoxSize();
  ASSERT_GT(box.x, 2);
  ASSERT_GT(box.y, 2);
  const struct {
    int x, y;
  } cases[] = {{3, 2}, {-2, -3}, {W - 4, H - 5}, {W - 3, -2}, {-4, H - 2}, {W, 0}, {0, -box.y}};
  DRef<DtssImage> img = TssImageOf(image, "test");
  for (const auto& c : cases) {
    ovtsFillImageRect(image, 0, 0, W, H, 0.25f, 0.5f, 0.75f, 0.5f);
    ASSERT_EQ(ovtsRender(), 1);
    ASSERT_FALSE(img->HasDirtyRect());
    const std::vector<uint8_t> before = SourceBytes(image, bpp);
    ovtsDrawChar(image, c.x, c.y, set);
    const std::vector<uint8_t> after = SourceBytes(image, bpp);
    ASSERT_EQ(after.size(), before.size());
    const int left = std::max(c.x, 0), top = std::max(c.y, 0);
    const int right = std::min(c.x + box.x, W), bottom = std::min(c.y + box.y, H);
    const bool visible = right > left && bottom > top;
    if (visible) {
      const DRect d = img->GetDirtyRect();
      EXPECT_EQ(d.x, left);
      EXPECT_EQ(d.y, top);
      EXPECT_EQ(d.width, right - left);
      EXPECT_EQ(d.height, bottom - top);
    } else {
      EXPECT_FALSE(img->HasDirtyRect()) << c.x << "," << c.y;
    }
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const size_t at = static_cast<size_t>(y * W + x) * bpp;
        const int gx = x - c.x, gy = y - c.y;
        const bool inside = gx >= 0 && gy >= 0 && gx < box.x && gy < box.y;
        const uint8_t level = inside ? g->GetLevels()[gy * g->GetPitch() + gx] : 0;
        for (int k = 0; k < bpp; ++k) {
          uint8_t want = before[at + k];
          if (inside && k == bpp - 1) want = wide ? level : static_cast<uint8_t>((want & 0x0F) | level << 4);
          ASSERT_EQ(after[at + k], want) << c.x << "," << c.y << " at " << x << "," << y << " byte " << k;
        }
      }
    // The next render brings the written part into the texture.
    ASSERT_EQ(ovtsRender(), 1);
    EXPECT_FALSE(img->HasDirtyRect());
    IDirectDrawSurface7* tex = img->GetTexture();
    ASSERT_NE(tex, nullptr);
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(tex->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    const std::vector<uint8_t> texture = Rows(static_cast<uint8_t*>(desc.lpSurface), desc.lPitch, W, H, bpp);
    tex->Unlock(nullptr);
    EXPECT_EQ(texture, after) << c.x << "," << c.y;
  }
  // Wrong kinds and Draw-mode handles do nothing.
  const std::vector<uint8_t> kept = SourceBytes(image, bpp);
  ovtsDrawChar(set, 0, 0, image);
  ovtsDrawChar(image, 0, 0, image);
  ovDrawChar(image, 0, 0, set);
  EXPECT_EQ(SourceBytes(image, bpp), kept);
  ovtsDestroySprite(sprite);
  ovtsDestroyImage(image);
  ovDestroyChar(set);
}

INSTANTIATE_TEST_SUITE_P(TextureBits, AaCharsTss, ::testing::Values(32, 16));

}  // namespace
