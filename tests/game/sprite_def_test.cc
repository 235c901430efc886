// Sprite definition files and the animation shorthand on the fake engine: the sub-sprites, cells
// and sets they build, the pictures they load and every error they report.
#include "game/sprite_def.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/sprite.h"
#include "game/timer.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

using Sets = std::vector<std::vector<std::pair<int32_t, int32_t>>>;

class SpriteDefTest : public SpriteTest {
 protected:
  SpriteDefTest() {
    engine.AddFile("d/pic.png", FakeEngine::PngFile(40, 20));
    engine.AddFile("d/a.png", FakeEngine::PngFile(30, 10));
    engine.AddFile("d/b.png", FakeEngine::PngFile(16, 8));
    SetErrorPosition("scn/s.scn", 7);
  }
  // Writes d/t.spr and loads it into slot 20 at (10, 20).
  void Load(const std::string& text, uint32_t flags = 0) {
    engine.AddFile("d/t.spr", text);
    LoadSpriteDef(20, 0, "d/t", 10, 20, -1, flags, "none");
  }
  static Sets SetsOf(const DSubSprite& sub) {
    Sets sets;
    for (int32_t s = 0; s < sub.set_count; ++s) {
      sets.emplace_back();
      for (int32_t c = 0; c < sub.sets[s].count; ++c)
        sets.back().emplace_back(sub.sets[s].cells[c].cell, sub.sets[s].cells[c].duration);
    }
    return sets;
  }
  std::vector<std::string> ImageLoads() const {
    std::vector<std::string> loads;
    for (const std::string& call : engine.Calls())
      if (call.rfind("ovtsLoadImage", 0) == 0) loads.push_back(call);
    return loads;
  }
};

TEST_F(SpriteDefTest, OnePictureDefinitionIsOneStillCellOfThePicture) {
  Load("@sprite file=pic");
  const DSprite& s = Sprite(20);
  ASSERT_EQ(s.count, 1);
  EXPECT_TRUE(sprIsShown(20));
  EXPECT_EQ(s.w, 40);
  EXPECT_EQ(s.h, 20);
  EXPECT_EQ(SetsOf(s.subs[0]), (Sets{{{0, -1}}}));
  EXPECT_EQ(s.timer, -1);
  EXPECT_EQ(ImageLoads(), (std::vector<std::string>{"ovtsLoadImage(-1, -1, d/pic.png, 0)"}));
  EXPECT_EQ(engine.OpenFileCount(), 0);
}

TEST_F(SpriteDefTest, ShorthandBuildsTheSets) {
  struct Case {
    const char* anim;
    int32_t columns, rows;
    Sets sets;
  };
  const Case cases[] = {
      {"4 loop 100", 4, 1, {{{0, 100}, {1, 100}, {2, 100}, {3, 100}}}},
      {"4 stop", 4, 1, {{{0, -1}, {1, -1}, {2, -1}, {3, -1}}}},
      {"4 STOP 100 200", 4, 1, {{{0, 100}, {1, 200}, {2, 100}, {3, -1}}}},
      {"4 rloop 50", 4, 1, {{{0, 50}, {1, 50}, {2, 50}, {3, 50}, {2, 50}, {1, 50}}}},
      {"3 rloop 10 20", 3, 1, {{{0, 10}, {1, 20}, {2, 10}, {1, 10}}}},
      {"1 rloop", 1, 1, {{{0, -1}}}},
      {"2 rloop 5", 2, 1, {{{0, 5}, {1, 5}}}},
      {"3 loop 100 s2", 3, 2, {{{0, 100}, {1, 100}, {2, 100}}, {{3, 100}, {4, 100}, {5, 100}}}},
      {"2 loop 7 x 8 S2", 2, 2, {{{0, 7}, {1, 7}}, {{2, 7}, {3, 7}}}},  // other words ignored
      {"s2", 1, 2, {{{0, -1}}, {{1, -1}}}},                             // the first word is not a number
      {"x 5", 1, 1, {{{0, -1}}}},
      {"0", 1, 1, {{{0, -1}}}},
      {"-3 loop", 1, 1, {{{0, -1}}}},
      {"s0", 1, 1, {{{0, -1}}}},
      {"", 1, 1, {{{0, -1}}}},
  };
  for (const Case& c : cases) {
    engine.ClearCalls();
    Load(std::string("@sprite file=pic anim=\"") + c.anim + "\"");
    const DSubSprite& sub = Sprite(20).subs[0];
    EXPECT_EQ(sub.columns, c.columns) << c.anim;
    EXPECT_EQ(sub.rows, c.rows) << c.anim;
    EXPECT_EQ(SetsOf(sub), c.sets) << c.anim;
    EXPECT_EQ(ImageLoads(), (std::vector<std::string>{"ovtsLoadImage(" + std::to_string(-c.columns) + ", " +
                                                      std::to_string(-c.rows) + ", d/pic.png, 0)"}))
        << c.anim;
    EXPECT_EQ(Sprite(20).w, 40 / c.columns) << c.anim;
  }
}

TEST_F(SpriteDefTest, RLoopPlaysBackAndForthOnTheClock) {
  Load("@sprite file=pic anim=\"4 rloop 50\"");
  const size_t before = engine.Frames().size();
  WaitFor(330, nullptr, 0);
  std::vector<int32_t> cells;
  for (size_t i = before; i < engine.Frames().size(); ++i)
    cells.push_back(engine.Frames()[i].sprites.at(0).image_x / 10);
  EXPECT_EQ(cells, (std::vector<int32_t>{1, 2, 3, 2, 1, 0}));
}

TEST_F(SpriteDefTest, SubSpritesInAnyOrderWithOffsetsGridsAndSets) {
  Load(
      "@sprite subcount=2 style=\"hide right\" sw=200\n"
      "@sub1 file=b x=10 y=5 cellx=2 celly=0 animsetcount=2 animset1=\"1 100 0 200 1\" trans=alpha\n"
      "@sub0 file=a\n",
      kStyleCache);
  const DSprite& s = Sprite(20);
  ASSERT_EQ(s.count, 2);
  EXPECT_FALSE(sprIsShown(20));
  EXPECT_EQ(s.style & kStyleAlignment, kStyleRight);
  EXPECT_EQ(s.subs[1].def_x, 10);
  EXPECT_EQ(s.subs[1].def_y, 5);
  EXPECT_EQ(s.subs[1].columns, 2);
  EXPECT_EQ(s.subs[1].rows, 1);
  EXPECT_EQ(SetsOf(s.subs[1]), (Sets{{}, {{1, 100}, {0, 200}}}));  // the odd last number ignored
  EXPECT_TRUE(SetsOf(s.subs[0]).empty());
  EXPECT_EQ(ImageLoads(), (std::vector<std::string>{"ovtsLoadImage(-2, -1, d/b.png, 2)",
                                                    "ovtsLoadImage(-1, -1, d/a.png, 0)"}));
  EXPECT_EQ(ImageCacheCount(), 2u);  // the cache bit of the final flags
  // sw alone scales the width: natural 30 x 13 (sub 1 at y 5 is 8 high).
  EXPECT_EQ(s.natural_w, 30);
  EXPECT_EQ(s.natural_h, 13);
  EXPECT_EQ(s.w, 200);
  EXPECT_EQ(s.h, 13);

  // A repeated @sub line starts the sub-sprite afresh; the style's nocache loads uncached.
  FlushCaches();
  Load("@sprite subcount=1 style=nocache\n@sub0 file=a x=5 animsetcount=1 animset0=\"0 1\"\n@sub0 file=b\n",
       kStyleCache);
  EXPECT_EQ(Sprite(20).subs[0].def_x, 0);
  EXPECT_EQ(Sprite(20).subs[0].set_count, 0);
  EXPECT_STREQ(Sprite(20).subs[0].image->name, "d/b.png");
  EXPECT_EQ(ImageCacheCount(), 0u);
  EXPECT_EQ(engine.OpenFileCount(), 0);
}

TEST_F(SpriteDefTest, SubSpritesWithoutDirectoryAndTheDefaultTransparency) {
  engine.AddFile("t.spr", "@sprite subcount=1\n@sub0 file=d/a\n");
  sprSetDefaultTrans("alayer");
  LoadSpriteDef(21, 1, "t", 0, 0, 3, 0, "none");
  EXPECT_EQ(ImageLoads(), (std::vector<std::string>{"ovtsLoadImage(-1, -1, d/a.png, 1)"}));
  EXPECT_EQ(Sprite(21).level, 3);
  EXPECT_EQ(Sprite(21).sprite_class, 1);
}

TEST_F(SpriteDefTest, EveryErrorNamesTheDefinition) {
  const std::string f = "スプライト定義ファイル\"d/t\"";
  const std::string sub = "@sprite subcount=1\n@sub0 file=a ";
  const std::string long_line = "@sprite subcount=1\n@sub0 file=a" + std::string(1100, ' ') + "x=1\n";
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"", f + "の一行目に@sprite定義文が必要です"},
      {"@sprites file=pic", f + "の一行目に@sprite定義文が必要です"},
      {"\n@sprite file=pic", f + "の一行目に@sprite定義文が必要です"},
      {"@sprite file=pic bad=1", f + "の@sprite定義文中のbadが不正です"},
      {"@sprite subcount=1\n\n@sub0 file=a", f + "に不正な定義文が存在します"},
      {"@sprite subcount=1\n@sab0 file=a", f + "に不正な定義文が存在します"},
      {"@sprite subcount=1\n@su", f + "に不正な定義文が存在します"},
      {long_line, f + "に不正な定義文が存在します"},  // the rest of an over-long line
      {"@sprite subcount=5\n@sub5 file=a", f + "に不正な@sub5定義が存在します"},
      {"@sprite subcount=1\n@sub-1 file=a", f + "に不正な@sub-1定義が存在します"},
      {"@sprite subcount=3\n@sub0 file=a\n@sub2 file=a", f + "に不正な@sub1定義が存在します"},
      {"@sprite subcount=2000000000\n@sub0 file=a", f + "に不正な@sub1定義が存在します"},
      {sub + "foo=1", f + "のサブスプライト0定義に不正な定義が存在します"},
      {sub + "animsetcount=1025", f + "に不正な@sub0定義が存在します"},
      {sub + "animsetcount=-1", f + "に不正な@sub0定義が存在します"},
      {sub + "animsetcount=1 animset1=\"0 1\"", f + "のサブスプライト0定義に不正なanimset1定義が存在します"},
      {sub + "animset0=\"0 1\"", f + "のサブスプライト0定義に不正なanimset0定義が存在します"},
      {sub + "cellx=2 animsetcount=1 animset0=\"1 5 2 5\"",
       f + "のサブスプライト0定義のアニメセット0定義に不正なcell(2)が使用されています"},
      {sub + "animsetcount=1 animset0=\"-1 5\"",
       f + "のサブスプライト0定義のアニメセット0定義に不正なcell(-1)が使用されています"},
      {"@sprite file=pic anim=\"4 bounce 100\"", "bounceが認識できません。"},
      // A grid finer than the picture: cells of no pixels name the word.
      {"@sprite file=pic anim=\"4000000000 loop\"", "4000000000が認識できません。"},
      {"@sprite file=pic anim=\"1 stop s100\"", "s100が認識できません。"},
      {"@sprite file=none", "画像 \"d/none\" が読み込めません。"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Stops([&] { Load(c.text); }), Report("scn/s.scn", 7, c.message)) << c.text;
    EXPECT_EQ(engine.OpenFileCount(), 0) << c.text;
  }
  EXPECT_EQ(Stops([] { LoadSpriteDef(20, 0, "d/none", 0, 0, 0, 0, "none"); }),
            Report("scn/s.scn", 7, "ファイル \"d/none.spr\" が開けません。"));
  EXPECT_EQ(engine.LiveCount("image"), 0);
}

}  // namespace
}  // namespace orvane_test
