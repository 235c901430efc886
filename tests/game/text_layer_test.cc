// Text layers and their drawing on the fake engine's canvas model: start-up, lookup, windows,
// fonts, showing, and characters, wrapping, colours, ruby, links and the log on the canvases.
#include "game/text_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/sprite.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

constexpr uint16_t kKanji = 0x8EA6;  // a double-byte character
constexpr uint16_t kKana = 0x82A0;

class TextLayerTest : public SpriteTest {
 protected:
  TextLayerTest() {
    SetErrorPosition("scn/t.scn", 4);
    InitTextLayers();
  }
  // A small "def" window: 200 x 100, font 20, line width in characters, max lines, margins 10, 5.
  void Small(int32_t chars = 16, int32_t lines = 3, int32_t spacing = 0, bool shadow = true) {
    SetTextLayerWindow("def", "", "#000000", 0, 0, 200, 100);
    TextLayerFont f = GetTextLayerFont("def");
    f.size = 20;
    f.chars_per_line = chars;
    f.max_lines = lines;
    f.left_margin = 10;
    f.top_margin = 5;
    f.char_spacing = spacing;
    f.line_spacing = 4;
    f.shadow = shadow;
    f.ruby_size = 10;
    f.ruby_gap = 2;
    SetTextLayerFont("def", f);
    engine.ClearCalls();
  }
  DTextLayer& Def() { return TextLayer(0); }
  std::vector<int32_t> Values(const DRef<DCharRes>& set) const { return engine.Inspect(set->handle)->values; }
  std::vector<std::string> Draws() const {
    std::vector<std::string> v;
    for (const std::string& c : engine.Calls())
      if (c.rfind("ovtsDrawChar", 0) == 0 || c.rfind("ovtsFillImageRect", 0) == 0) v.push_back(c);
    return v;
  }
};

TEST_F(TextLayerTest, StartUpMakesDefShownAndSystemHiddenAbove) {
  const DSprite& link = Sprite(kLinkSprite);
  EXPECT_TRUE(link.flags & kSpriteValid);
  EXPECT_FALSE(sprIsShown(kLinkSprite));
  EXPECT_EQ(link.level, 95);
  EXPECT_EQ(link.sprite_class, 1);
  EXPECT_STREQ(TextLayer(0).name, "def");
  EXPECT_STREQ(TextLayer(1).name, "system");
  EXPECT_EQ(CurrentTextLayer(), 0);
  EXPECT_TRUE(IsTextLayerShown("def"));
  EXPECT_FALSE(IsTextLayerShown("system"));
  EXPECT_TRUE(sprIsShown(4) && sprIsShown(5) && sprIsShown(6));
  EXPECT_FALSE(sprIsShown(7) || sprIsShown(8) || sprIsShown(9));
  EXPECT_EQ(TextLayer(1).level, 81);
  EXPECT_EQ(Sprite(7).level, 81);
  EXPECT_EQ(Sprite(9).level, 81);
  EXPECT_EQ(Sprite(4).level, 80);
  // A full-screen window; canvases of its size, in the default colours.
  EXPECT_EQ(TextLayer(0).width, 640);
  EXPECT_EQ(TextLayer(0).height, 480);
  EXPECT_EQ(engine.Inspect(TextLayer(0).text_image->handle)->source_w, 640);
  EXPECT_EQ(engine.Pixel(TextLayer(0).text_image->handle, 3, 3), (std::array<uint8_t, 4>{255, 255, 255, 0}));
  EXPECT_EQ(engine.Pixel(TextLayer(0).shadow_image->handle, 3, 3), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  // The default font: heavy, 24 px grey levels, a 10-px one-bit ruby, all fixed pitch.
  EXPECT_EQ(engine.Inspect(TextLayer(0).normal_set->handle)->path,
            "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e");
  EXPECT_EQ(Values(TextLayer(0).normal_set), (std::vector<int32_t>{24, 5, 0, 1, 0x30}));
  EXPECT_EQ(Values(TextLayer(0).bold_set), (std::vector<int32_t>{24, 7, 0, 1, 0x30}));
  EXPECT_EQ(Values(TextLayer(0).ruby_set), (std::vector<int32_t>{10, 3, 0, 1, 0x21}));
  EXPECT_EQ(TextLayer(0).line_width, 48);
  EXPECT_EQ(TextLayer(0).shadow_dx, 2);
  EXPECT_EQ(Sprite(5).x, 2);
  EXPECT_EQ(Sprite(5).y, 3);
  DestroyTextLayers();
  for (int32_t slot = 4; slot <= 19; ++slot) EXPECT_FALSE(Sprite(slot).flags & kSpriteValid) << slot;
  EXPECT_EQ(engine.LiveCount("char"), 0);
}

TEST_F(TextLayerTest, LookupCreationAndTheirErrors) {
  SelectTextLayer("SYSTEM");
  EXPECT_EQ(CurrentTextLayer(), 1);
  EXPECT_EQ(FindTextLayer(""), 1);  // the current one
  EXPECT_EQ(FindTextLayer("Def"), 0);
  SelectTextLayer("");
  EXPECT_EQ(CurrentTextLayer(), 0);  // "" selects def
  const std::string long_name = std::string(254, 'a') + "\x82\xa0" + "zz";
  CreateTextLayer(long_name.c_str());
  EXPECT_EQ(std::string(TextLayer(2).name), std::string(254, 'a'));
  CreateTextLayer("sub");
  CreateTextLayer("x");
  const auto error = [](const std::string& m) { return Report("scn/t.scn", 4, m); };
  EXPECT_EQ(Stops([] { CreateTextLayer("y"); }), error("これ以上テキストレイヤーを作成できません"));
  EXPECT_EQ(Stops([] { CreateTextLayer("SUB"); }), error("テキストレイヤー \"SUB\" は既に存在します。"));
  EXPECT_EQ(Stops([] { CreateTextLayer(""); }), error("テキストレイヤー名が指定されていません。"));
  EXPECT_EQ(Stops([] { ShowTextLayer("none"); }), error("テキストレイヤー \"none\" は存在しません。"));
  // A layer whose sprite was taken away reports it as number - 20.
  sprDestroy(16);
  EXPECT_EQ(Stops([] { HideTextLayer("x"); }), error("スプライト -4 は有効ではありません。"));
  EXPECT_EQ(Stops([] {
              SelectTextLayer("x");
              SetTextLink("t", true);
            }),
            error("スプライト -4 は有効ではありません。"));
}

TEST_F(TextLayerTest, FontsWindowsAndLevels) {
  struct Case {
    int32_t size;
    bool heavy;
    int32_t ruby;
    std::vector<int32_t> normal, bold, ruby_set;
  };
  const Case cases[] = {
      {12, false, 13, {12, 3, 0, 1, 0x21}, {12, 6, 0, 1, 0x21}, {13, 3, 0, 1, 0x30}},
      {13, true, 12, {13, 5, 0, 1, 0x30}, {13, 7, 0, 1, 0x30}, {12, 3, 0, 1, 0x21}},
  };
  for (const Case& c : cases) {
    TextLayerFont f = GetTextLayerFont("system");
    f.size = c.size;
    f.heavy = c.heavy;
    f.ruby_size = c.ruby;
    f.chars_per_line = 7;
    SetTextLayerFont("system", f);
    EXPECT_EQ(Values(TextLayer(1).normal_set), c.normal);
    EXPECT_EQ(Values(TextLayer(1).bold_set), c.bold);
    EXPECT_EQ(Values(TextLayer(1).ruby_set), c.ruby_set);
    EXPECT_EQ(GetTextLayerFont("system").chars_per_line, 7);
    EXPECT_EQ(TextLayer(1).line_width, 14);
  }
  EXPECT_FALSE(IsTextLayerShown("system"));  // a font change keeps a hidden layer hidden
  engine.Refuse("ovCreateChar");
  EXPECT_EQ(Stops([] { SetTextLayerFont("def", GetTextLayerFont("def")); }),
            Report("scn/t.scn", 4, "フォント\"ＭＳ ゴシック\"が存在しません。"));
  // A definition window keeps the picture's size for the canvases when stretched.
  engine.AddFile("sys/text_msg.spr", "@sprite file=win");
  engine.AddFile("sys/win.png", FakeEngine::PngFile(300, 100));
  SetTextLayerWindow("def", "sys/text_msg", "", 10, 20, 600, 0);
  EXPECT_EQ(TextLayer(0).width, 300);
  EXPECT_EQ(TextLayer(0).height, 100);
  EXPECT_EQ(Sprite(4).w, 600);
  EXPECT_EQ(Sprite(4).h, 100);
  EXPECT_EQ(engine.Inspect(TextLayer(0).text_image->handle)->source_w, 300);
  EXPECT_TRUE(IsTextLayerShown("def"));  // a shown layer stays shown
  SetTextLayerPos("def", 50, 60);
  EXPECT_EQ(Sprite(6).x, 50);
  EXPECT_EQ(Sprite(5).x, 52);
  EXPECT_EQ(Sprite(5).y, 63);
  SetTextLayerLevel("def", 3);
  EXPECT_EQ(Sprite(4).level, 83);
  EXPECT_EQ(Sprite(5).level, 83);
  EXPECT_EQ(Sprite(6).level, 83);
  SetTextLayerLogSize("def", 5000);
  EXPECT_EQ(TextLayer(0).log_capacity, 1024);
  SetTextLayerLogSize("def", -3);
  EXPECT_EQ(TextLayer(0).log_capacity, 0);
}

TEST_F(TextLayerTest, ShowReShowsEveryShownLayerWindowFirstTextLast) {
  ShowTextLayer("system");
  sprRender();
  std::vector<ApiHandle*> seen;
  for (const auto& s : engine.Frames().back().sprites) seen.push_back(s.image);
  const std::vector<ApiHandle*> expected = {
      TextLayer(0).window_image->handle, TextLayer(0).shadow_image->handle, TextLayer(0).text_image->handle,
      TextLayer(1).window_image->handle, TextLayer(1).shadow_image->handle, TextLayer(1).text_image->handle};
  EXPECT_EQ(seen, expected);
  // Without a shadow the shadow sprite stays hidden.
  TextLayerFont f = GetTextLayerFont("def");
  f.shadow = false;
  SetTextLayerFont("def", f);
  EXPECT_FALSE(sprIsShown(5));
  EXPECT_TRUE(sprIsShown(6));
}

TEST_F(TextLayerTest, WrappingIndentAndFullPage) {
  Small(16);  // line width 32
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(DrawTextChar(kKanji));
  EXPECT_EQ(Def().line, 0);
  EXPECT_EQ(Def().pen_x, 10 + 16 * 20);
  ASSERT_TRUE(DrawTextChar(kKanji));
  EXPECT_EQ(Def().line, 1);
  EXPECT_EQ(Def().pen_x, 30);
  EXPECT_EQ(Def().pen_y, 5 + 24);
  ClearTextLayer("");
  for (int i = 0; i < 31; ++i) ASSERT_TRUE(DrawTextChar('a'));
  EXPECT_TRUE(DrawTextChar('b'));  // the 32nd one-byte character still fits
  EXPECT_EQ(Def().line, 0);
  ClearTextLayer("");
  for (int i = 0; i < 31; ++i) DrawTextChar('a');
  EXPECT_TRUE(DrawTextChar(kKanji));  // crossing the edge: to the next line
  EXPECT_EQ(Def().line, 1);
  EXPECT_EQ(Def().column, 2);
  // The indent: set at column 4, every wrapped line starts there.
  Small(4, 3, 3);  // line width 8, spacing 3
  DrawTextChar(kKanji);
  DrawTextChar(kKanji);
  SetIndent(true);
  EXPECT_EQ(Def().indent_column, 4);
  EXPECT_EQ(Def().indent_x, 10 + 2 * 23);
  DrawTextChar(kKanji);
  DrawTextChar(kKanji);
  DrawTextChar(kKanji);
  EXPECT_EQ(Def().line, 1);
  EXPECT_EQ(Def().column, 6);
  EXPECT_EQ(Def().pen_x, 56 + 23);
  // The page is full after three lines: the character is dropped and the cursor answers from
  // the saved pen.
  int32_t x, y;
  DrawTextChar(kKanji);
  GetPageCursorPos(&x, &y);
  EXPECT_EQ(x, 56 + 2 * 23);
  EXPECT_EQ(y, 5 + 24 + 12);
  EXPECT_TRUE(DrawTextChar(kKanji));
  EXPECT_EQ(Def().line, 2);
  DrawTextChar(kKanji);
  engine.SetClock(123456);
  EXPECT_FALSE(DrawTextChar(kKanji));
  EXPECT_EQ(LastTextCharTime(), 123456u);  // set by every call, a dropped character too
  EXPECT_EQ(Def().line, 3);
  GetPageCursorPos(&x, &y);
  EXPECT_EQ(x, 102);  // the pen before the last feed: after the last drawn character
  EXPECT_EQ(y, 5 + 2 * 24 + 12);
  SetTextLayerPos("def", 100, 200);
  GetPageCursorPos(&x, &y);
  EXPECT_EQ(x, 202);
  // A character wider than any line never fits: the page fills at once, even a huge one.
  Small(0, 2000000000);
  EXPECT_FALSE(DrawTextChar('a'));
  EXPECT_EQ(Def().line, 2000000000);
  EXPECT_EQ(Def().pen_y, INT32_MAX);
  TextLayerFont f = GetTextLayerFont("def");
  f.size = INT32_MAX;
  f.line_spacing = INT32_MAX;
  f.max_lines = INT32_MAX;
  f.top_margin = INT32_MIN;
  SetTextLayerFont("def", f);
  EXPECT_FALSE(DrawTextChar(kKanji));
  EXPECT_EQ(Def().pen_y, INT32_MAX);
}

TEST_F(TextLayerTest, DefaultColourCostsOneFillPerCanvasAndOneDrawPerCharacter) {
  Small();
  ClearTextLayer("def");
  for (uint16_t c : {kKanji, uint16_t{'a'}, kKana}) DrawTextChar(c);
  EXPECT_EQ(engine.CountCalls("ovtsFillImage("), 0);
  EXPECT_EQ(engine.CountCalls("ovtsFillImage"), 2);  // the page: text and shadow canvases
  EXPECT_EQ(engine.CountCalls("ovtsFillImageRect"), 0);
  EXPECT_EQ(engine.CountCalls("ovtsDrawChar"), 6);
  EXPECT_EQ(engine.Pixel(Def().text_image->handle, 11, 6), (std::array<uint8_t, 4>{255, 255, 255, 255}));
  EXPECT_EQ(engine.Pixel(Def().text_image->handle, 10, 6), (std::array<uint8_t, 4>{255, 255, 255, 0}));
  // A colour fills each character's box first, the shadow too once its colour differs.
  engine.ClearCalls();
  SetTextColor(1, 0, 0);
  DrawTextChar(kKanji);  // at x 60: box from (61, 6), 18 x 18
  EXPECT_EQ(Draws(), (std::vector<std::string>{"ovtsFillImageRect(61, 6, 18, 18)", "ovtsDrawChar(61, 6)",
                                               "ovtsDrawChar(61, 6)"}));
  EXPECT_EQ(engine.Pixel(Def().text_image->handle, 61, 6), (std::array<uint8_t, 4>{255, 0, 0, 255}));
  EXPECT_EQ(engine.Pixel(Def().text_image->handle, 60, 6), (std::array<uint8_t, 4>{255, 255, 255, 0}));
  EXPECT_EQ(engine.Pixel(Def().shadow_image->handle, 61, 6), (std::array<uint8_t, 4>{0, 0, 0, 255}));
  SetShadowColor(0, 0, 1);
  engine.ClearCalls();
  DrawTextChar(kKanji);
  EXPECT_EQ(Draws().size(), 4u);
  EXPECT_EQ(engine.Pixel(Def().shadow_image->handle, 81, 6), (std::array<uint8_t, 4>{0, 0, 255, 255}));
  ResetTextColor();
  ResetShadowColor();
  engine.ClearCalls();
  DrawTextChar(kKanji);
  EXPECT_EQ(engine.CountCalls("ovtsFillImageRect"), 0);
  // A new page starts in the default colours.
  SetTextColor(0, 1, 0);
  ClearTextLayer("");
  EXPECT_EQ(Def().color[1], 1.0f);
  EXPECT_EQ(Def().color[0], 1.0f);
}

TEST_F(TextLayerTest, RubyIsCentredOverTheNextCharacter) {
  Small();
  struct Case {
    int32_t feed;       // the character's feed
    int32_t ruby_feed;  // each ruby character's feed
    int count;          // ruby characters
    int32_t rx;         // first ruby x relative to the character's x
  };
  const Case cases[] = {
      {20, 10, 1, 10 - 5},
      {25, 11, 1, 12 - 5},   // odd halves shift down
      {-3, -7, 1, -2 + 4},   // negative halves shift towards minus infinity
      {20, 10, 3, 10 - 15},  // wider than its character
  };
  for (const Case& c : cases) {
    ClearTextLayer("");
    engine.SetGlyph(kKanji, {c.feed > 0 ? c.feed - 2 : 1, 18, 0, 0, c.feed, 20});
    engine.SetGlyph(kKana, {c.ruby_feed, 8, 0, 0, c.ruby_feed, 10});
    SetRubyMode(true);
    for (int i = 0; i < c.count; ++i) EXPECT_FALSE(DrawTextChar(kKana));
    SetRubyMode(false);
    SetTextLink("t", true);
    engine.ClearCalls();
    ASSERT_TRUE(DrawTextChar(kKanji));
    std::vector<std::string> expected = {"ovtsDrawChar(10, 5)", "ovtsDrawChar(10, 5)"};
    for (int i = 0; i < c.count; ++i) {
      const std::string call = "ovtsDrawChar(" + std::to_string(10 + c.rx + i * c.ruby_feed) + ", -7)";
      expected.push_back(call);  // ruby y = 5 - (10 + 2); text canvas, then shadow canvas
      expected.push_back(call);
    }
    EXPECT_EQ(Draws(), expected) << c.feed << " " << c.count;
    EXPECT_EQ(Def().ruby_length, 0);
    SetTextLink("", false);
    // The ruby raises the character's rectangle (clamped to the window).
    ASSERT_EQ(Def().links.size(), c.feed > 1 ? 1u : 0u);
    if (c.feed > 1) {
      EXPECT_EQ(Def().links[0]->top, 0);
    }
    engine.ClearCalls();
    DrawTextChar(kKanji);
    EXPECT_EQ(Draws().size(), 2u);  // no ruby after it
  }
  // Ruby text is kept to 255 bytes.
  SetRubyMode(true);
  for (int i = 0; i < 130; ++i) DrawTextChar(kKana);
  EXPECT_EQ(Def().ruby_length, 254);
  DrawTextChar('a');
  DrawTextChar('b');
  EXPECT_EQ(Def().ruby_length, 255);
  SetRubyMode(true);  // already on: the text stays
  EXPECT_EQ(Def().ruby_length, 255);
}

TEST_F(TextLayerTest, LinksGrowClampAndDropWhenEmpty) {
  Small(16, 3, 2);
  SetTextLink("first", true);
  SetTextLink("second", true);  // a second open keeps the first
  DrawTextChar(kKanji);         // 10..31
  DrawTextChar(kKanji);         // 32..53
  TextLayerLineFeed("");
  DrawTextChar('a');
  SetTextLink("", false);
  ASSERT_EQ(Def().links.size(), 1u);
  EXPECT_STREQ(Def().links[0]->target, "first");
  EXPECT_EQ(Def().links[0]->left, 10);
  EXPECT_EQ(Def().links[0]->top, 5);
  EXPECT_EQ(Def().links[0]->right, 53);
  EXPECT_EQ(Def().links[0]->bottom, 5 + 24 + 23);
  EXPECT_TRUE(HasTextLinks());
  // Clamped to the window sprite's size.
  engine.SetGlyph('W', {5, 5, 0, 0, 500, 20});
  SetTextLink("wide", true);
  DrawTextChar('W');
  SetTextLink("", false);
  ASSERT_EQ(Def().links.size(), 2u);
  EXPECT_EQ(Def().links[1]->right, 199);
  // One pixel thin, never drawn, or a window of no size: dropped.
  engine.SetGlyph('i', {1, 5, 0, 0, -1, 20});
  SetTextLink("thin", true);
  DrawTextChar('i');
  SetTextLink("", false);
  SetTextLink("empty", true);
  SetTextLink("", false);
  SetTextLink("none", true);
  DrawTextChar(kKanji);
  sprSetSize(4, 0, 0);
  SetTextLink("", false);
  EXPECT_EQ(Def().links.size(), 2u);
  // On a full page nothing is drawn, so the link is empty.
  sprSetSize(4, 200, 100);
  TextLayerLineFeed("");
  TextLayerLineFeed("");
  SetTextLink("full", true);
  EXPECT_FALSE(DrawTextChar(kKanji));
  SetTextLink("", false);
  EXPECT_EQ(Def().links.size(), 2u);
  ClearTextLinks("");
  EXPECT_FALSE(HasTextLinks());
}

TEST_F(TextLayerTest, RenderFailuresEndThePlay) {
  Small();
  engine.FailGlyph(kKana);
  EXPECT_EQ(Stops([] { DrawTextChar(kKana); }), "文字が表示できません。");
  ClearTextLayer("");
  SetRubyMode(true);
  DrawTextChar(kKana);
  SetRubyMode(false);
  EXPECT_EQ(Stops([] { DrawTextChar(kKanji); }), "文字が表示できません。");
}

TEST_F(TextLayerTest, LogKeepsItsCapacityAndLineLimit) {
  Small(40, 3);
  SetTextLayerLogSize("", 2);
  for (const char* line : {"one", "two", "three"}) {
    for (const char* p = line; *p; ++p) DrawTextChar(static_cast<uint8_t>(*p));
    TextLayerLineFeed("");
  }
  EXPECT_EQ(Def().log, (std::deque<std::string>{"two", "three"}));
  ClearTextLayer("");
  for (int i = 0; i < 40; ++i) DrawTextChar('x');
  ClearTextLayer("");
  EXPECT_EQ(Def().log.back(), std::string(31, 'x'));
  SetTextLayerLogSize("", 1);
  EXPECT_EQ(Def().log.size(), 1u);
  // A pending line when the capacity drops to 0 is discarded, not logged into nothing.
  DrawTextChar('y');
  SetTextLayerLogSize("", 0);
  TextLayerLineFeed("");
  EXPECT_TRUE(Def().log.empty());
  EXPECT_FALSE(Def().has_log_line);
  DrawTextChar('z');
  EXPECT_FALSE(Def().has_log_line);
}

}  // namespace
}  // namespace orvane_test
