// The stage: picture lookup, backgrounds with their wipes and pan, characters on the wide
// background, the name plate and the court backgrounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "game/court.h"
#include "tests/game/court_fixture.h"

namespace orvane_test {
namespace {

class StageTest : public CourtTest {
 protected:
  StageTest() {
    Def("sys/wide", 2656, 600);
    Def("sys/small", 800, 600);
    Def("sys/front", 300, 50);
    Def("sys/man", 200, 400);
    Def("sys/woman", 100, 300);
    HideTextLayer("def");  // no scene fade around the wipes
  }
  // Virtual ms that running the text took.
  int64_t Timed(const std::string& text) {
    const DWORD start = engine.Now();
    Run(text);
    return static_cast<int64_t>(engine.Now()) - start;
  }
  ApiHandle* BackImage() { return Sprite(kBackgroundSlot).subs[0].image->handle; }
};

TEST_F(StageTest, ChapterPictureBeatsTheSystemOne) {
  Def("scn/c1/wide", 10, 10);
  char name[kPathSize];
  ChapterOrSystem("wide", name);
  EXPECT_STREQ(name, "scn/c1/wide");
  ChapterOrSystem("small", name);
  EXPECT_STREQ(name, "sys/small");
  Run("@backSet file=small\n");
  EXPECT_STREQ(CurrentBackgroundName(), "sys/small");
  EXPECT_TRUE(IsCurrentBackground("SMALL"));
  EXPECT_FALSE(IsCurrentBackground("wide"));
  EXPECT_FALSE(IsCurrentBackground(""));
}

TEST_F(StageTest, BackSetWipesAndWhatStays) {
  struct Case {
    std::string options;
    int64_t min_ms, max_ms;  // the wipe's length: none 0, fade 300, bg 400
    bool characters_kept;
  };
  const Case cases[] = {
      {"", 0, 20, false},         {" wipe", 400, 460, false},
      {" fade", 300, 360, false}, {" wipe fade", 300, 360, false},
      {" noclear", 0, 20, true},  {" noclear wipe fade", 0, 20, true},
  };
  for (const Case& c : cases) {
    Run("@backSet file=wide\n@charaShowLeft file=man\n@frontSet file=front\n");
    const int64_t ms = Timed("@backSet file=small" + c.options + "\n@sprRender\n");
    EXPECT_GE(ms, c.min_ms) << c.options;
    EXPECT_LE(ms, c.max_ms) << c.options;
    EXPECT_EQ(sprIsShown(27), c.characters_kept) << c.options;
    EXPECT_EQ(CharaShownFile(0)[0] != '\0', c.characters_kept) << c.options;
    EXPECT_FALSE(sprIsValid(41)) << c.options;
    EXPECT_STREQ(CurrentForegroundName(), "") << c.options;
    EXPECT_STREQ(CurrentBackgroundName(), "sys/small") << c.options;
    ASSERT_NE(Drawn("sys/small"), nullptr) << c.options;
    if (c.characters_kept) {  // placed on the new 800-wide background
      ASSERT_NE(Drawn("sys/man"), nullptr);
      EXPECT_EQ(Drawn("sys/man")->x, -180) << c.options;
    }
  }
  Run("@backSet color=#102030\n@sprRender\n");
  EXPECT_STREQ(CurrentBackgroundName(), "");
  EXPECT_EQ(Sprite(kBackgroundSlot).w, 800);
  EXPECT_EQ(Stops([&] { Run("@backSet\n"); }), "認識できない色です。");
  EXPECT_EQ(Stops([&] { Run("@frontSet\n"); }), At(1, "ファイル \".spr\" が開けません。"));
}

TEST_F(StageTest, CharactersStandOnTheWideBackgroundAndMoveWithIt) {
  Run("@backSet file=wide\n@charaShowLeft file=man\n@charaShowCenter file=man\n@charaShowRight "
      "file=man\n@sprRender\n");
  auto xs = [&](int32_t slot) { return Sprite(slot).x; };
  EXPECT_EQ(xs(27), -180);
  EXPECT_EQ(xs(28), 1328 - 100);
  EXPECT_EQ(xs(29), 2656 + 80 + 1 - 200);
  EXPECT_EQ(Sprite(27).y, 600 + 1 - 400);
  Run("@backPos pos=-928 speed=0\n");
  EXPECT_EQ(xs(27), -180 - 928);
  EXPECT_EQ(xs(28), 1228 - 928);
  EXPECT_EQ(xs(29), 2537 - 928);
  // The same file only moves; another file reloads.
  const ApiHandle* before = Sprite(27).subs[0].image->handle;
  const int loads = engine.CountCalls("ovtsLoadImage");
  Run("@charaShowLeft file=MAN x=10 y=-5\n");
  EXPECT_EQ(Sprite(27).subs[0].image->handle, before);
  EXPECT_EQ(engine.CountCalls("ovtsLoadImage"), loads);
  EXPECT_EQ(xs(27), 10 - 928);
  EXPECT_EQ(Sprite(27).y, 600 - 5 + 1 - 400);
  Run("@charaShowLeft file=woman\n");
  EXPECT_EQ(xs(27), -180 - 928);
  EXPECT_STREQ(CharaShownFile(0), "sys/woman");
  // Offsets near the ends of the range saturate instead of overflowing with W or H.
  Run("@charaShowRight file=man x=2147483647 y=2147483647\n");
  EXPECT_EQ(Sprite(29).req_x, INT32_MAX);
  EXPECT_EQ(Sprite(29).req_y, INT32_MAX);
  Run("@charaHideCenter\n");
  EXPECT_FALSE(sprIsValid(28));
  Run("@charaHideAll wipe\n");
  for (int32_t slot : {27, 28, 29}) EXPECT_FALSE(sprIsValid(slot));
  for (int32_t c : {0, 1, 2}) EXPECT_STREQ(CharaShownFile(c), "");
}

TEST_F(StageTest, PanFramesFollowTheClock) {
  Run("@backSet file=wide\n");
  const size_t from = engine.Frames().size();
  const int64_t ms = Timed("@backPos pos=-928\n");
  EXPECT_GE(ms, 186);
  EXPECT_LE(ms, 190);
  const auto& frames = engine.Frames();
  ASSERT_GT(frames.size(), from + 100);
  const DWORD start = frames[from].time;
  EXPECT_EQ(Drawn("sys/wide", from)->x, 0);
  for (size_t i = from; i < frames.size(); ++i) {
    const int64_t e = static_cast<int64_t>(frames[i].time) - start;
    ASSERT_LT(e, 186);
    ASSERT_EQ(Drawn("sys/wide", i)->x, static_cast<int32_t>(std::nearbyint(-928.0 * e / 186.0))) << e;
  }
  EXPECT_EQ(static_cast<int64_t>(frames.back().time) - start, 185);
  EXPECT_EQ(BackgroundPosition(), -928);
  EXPECT_EQ(Sprite(kBackgroundSlot).x, -928);
  // Speed 0 or below jumps.
  const size_t jumped = engine.Frames().size();
  Run("@backPos pos=-100 speed=0\n@backPos pos=-200 speed=-3\n");
  EXPECT_EQ(engine.Frames().size(), jumped);
  EXPECT_EQ(Sprite(kBackgroundSlot).x, -200);
}

TEST_F(StageTest, PanDurationInSixtyFourBits) {
  EXPECT_EQ(BackPanDuration(0, -928, 500.0f), 186);
  EXPECT_EQ(BackPanDuration(-928, -928, 500.0f), 0);
  EXPECT_EQ(BackPanDuration(0, 5, 0.0f), 0);
  EXPECT_EQ(BackPanDuration(0, 5, -1.0f), 0);
  EXPECT_EQ(BackPanDuration(INT32_MIN, INT32_MAX, 500.0f), 858993459);
  EXPECT_EQ(BackPanDuration(0, 1, 1e-30f), INT32_MAX);
  EXPECT_EQ(BackPanDuration(INT32_MAX, INT32_MIN, 1e-3f), INT32_MAX);
}

TEST_F(StageTest, CourtBackgroundsReloadPanOrStay) {
  Def("sys/bg_court_main", 2656, 600);
  Def("sys/fg_court_main", 2656, 11);
  Def("sys/bg_court_judge", 800, 600);
  Def("sys/fg_court_judge", 800, 162);
  Def("sys/bg_court_guide", 800, 600);
  Run("@courtSetLawyerBack\n@sprRender\n");
  EXPECT_STREQ(CurrentBackgroundName(), "sys/bg_court_main");
  EXPECT_STREQ(CurrentForegroundName(), "sys/fg_court_main");
  EXPECT_EQ(Drawn("sys/fg_court_main")->y, 589);
  ApiHandle* main = BackImage();

  const size_t from = engine.Frames().size();
  EXPECT_GE(Timed("@courtSetWitnessBack fade\n"), 186);  // pans, whatever the wipe
  EXPECT_EQ(BackImage(), main);
  EXPECT_GT(engine.Frames().size(), from + 100);
  EXPECT_EQ(BackgroundPosition(), -928);
  EXPECT_EQ(Sprite(41).x, -928);  // the foreground moves with it

  EXPECT_LE(Timed("@courtSetProsecutorBack noscr\n"), 2);  // jumps
  EXPECT_EQ(BackgroundPosition(), -1856);
  EXPECT_EQ(BackImage(), main);

  Run("@courtSetJudgeBack\n@sprRender\n");
  EXPECT_STREQ(CurrentBackgroundName(), "sys/bg_court_judge");
  EXPECT_EQ(BackgroundPosition(), 0);
  EXPECT_EQ(Drawn("sys/fg_court_judge")->y, 438);
  ApiHandle* judge = BackImage();
  EXPECT_EQ(Timed("@courtSetJudgeBack noscr noclear wipe fade\n"), 0);
  EXPECT_EQ(BackImage(), judge);

  Run("@courtSetGuideBack\n");
  EXPECT_STREQ(CurrentBackgroundName(), "sys/bg_court_guide");
  EXPECT_FALSE(sprIsValid(41));
  Run("@courtSetWitnessBack noscr\n");  // not the main picture: reloaded at its place
  EXPECT_STREQ(CurrentBackgroundName(), "sys/bg_court_main");
  EXPECT_EQ(Sprite(kBackgroundSlot).x, -928);
}

TEST_F(StageTest, ClassAndBackgroundErrors) {
  EXPECT_EQ(Stops([&] { Run("@charaShowLeft file=man\n"); }), At(1, "スプライト -17 は有効ではありません。"));
  EXPECT_EQ(Stops([&] { Run("@backPos pos=10\n"); }), At(1, "スプライト -17 は有効ではありません。"));
  SetErrorPosition("scn/c1/main.scn", 3);
  EXPECT_EQ(Stops([] { PlaceCharaClass(3); }), At(3, "キャラクラス番号 3 は不正"));
  EXPECT_EQ(Stops([] { charaShow("man", 3, 0, 0, true); }), At(3, "キャラクラス番号 3 は不正"));
}

TEST_F(StageTest, NamePlate) {
  Def("sys/name_ken", 120, 30);
  Run("@textShowName ken ignored=1\n@sprRender\n");
  ASSERT_NE(Drawn("sys/name_ken"), nullptr);
  EXPECT_EQ(Drawn("sys/name_ken")->x, 0);
  EXPECT_EQ(Drawn("sys/name_ken")->y, 403 + 1 - 30);
  Run("@textShowName\n@sprRender\n@textShowName\n");
  EXPECT_EQ(Drawn("sys/name_ken"), nullptr);
  EXPECT_FALSE(sprIsValid(20));
}

}  // namespace
}  // namespace orvane_test
