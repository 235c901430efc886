// Life gauge, the no-life scene, shouts and the verdict.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "game/court.h"
#include "tests/game/court_fixture.h"
#include "tests/support/scratch_dir.h"

namespace orvane_test {
namespace {

class LifeTest : public CourtTest {
 protected:
  LifeTest() : dir("court_life_") {
    Def("sys/court_life", 215, 215, "1 stop s5");  // five sets of one 215 x 43 cell
    Def("sys/court_lifedown", 43, 43);
  }
  std::string Save(const std::string& lines) {
    const std::string path = dir.Path("derora.sav");
    std::ofstream(path) << "[save]\n" << lines << "\n";
    return path;
  }
  int32_t GaugeSet() { return Sprite(36).subs[0].cur_set; }
  ScratchDir dir;
};

TEST_F(LifeTest, LossOnTheShownGauge) {
  Run("@courtSetLife 3\n@courtShowLife\n@courtReduceLife\n");
  EXPECT_FALSE(scenario.exit_request);
  EXPECT_EQ(CurrentLife(), 2);
  ASSERT_TRUE(sprIsShown(36));
  EXPECT_EQ(GaugeSet(), 1);
  EXPECT_EQ(Sprite(36).x, 800 + 1 - 215);
  EXPECT_EQ(Sprite(36).y, 43);
  const auto loss = Seen("sys/court_lifedown");
  ASSERT_FALSE(loss.empty());
  EXPECT_EQ(loss.front().x, 671);
  EXPECT_EQ(loss.front().y, 43);
  EXPECT_FALSE(sprIsValid(37));
  EXPECT_EQ(Logged("se:"), std::vector<std::string>{"sys/se/HP減少"});
  EXPECT_EQ(Logged("msg:"), std::vector<std::string>{"[w 1200]"});
  // A valid set does not redraw the gauge.
  Run("@courtSetLife 5\n");
  EXPECT_EQ(GaugeSet(), 1);
}

TEST_F(LifeTest, HiddenGaugeIsShownForOneLossOnly) {
  Run("@courtReduceLife\n");
  EXPECT_EQ(CurrentLife(), 4);
  ASSERT_FALSE(Seen("sys/court_life").empty());
  EXPECT_FALSE(sprIsValid(36));
  EXPECT_FALSE(sprIsValid(37));
}

TEST_F(LifeTest, LastUnitRunsTheNoLifeSceneAndEndsWithItsResult) {
  engine.AddFile("scn/c1/over.scn", ":lost\n@exit rescode=gameover\n");
  Run("@courtShowLife\n@courtSetLife 1\n@courtSetNolifeScenario target=over:lost\n@courtReduceLife\n@exit "
      "rescode=never\n");
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_STREQ(scenario.result, "gameover");
  EXPECT_EQ(CurrentLife(), 0);
  EXPECT_FALSE(sprIsValid(36));
  EXPECT_STREQ(NolifeTarget(), "over:lost");

  // At 0 the scene ends at once, keeping its result code.
  DScenario outer;
  std::snprintf(outer.result, sizeof(outer.result), "kept");
  {
    CurrentScenarioScope scope(&outer);
    EXPECT_TRUE(courtReduceLife());
  }
  EXPECT_STREQ(outer.result, "kept");
  EXPECT_EQ(CurrentLife(), 0);
  // Showing the gauge at 0 removes it.
  Run("@courtShowLife\n");
  EXPECT_FALSE(sprIsValid(36));
}

TEST_F(LifeTest, SetLifeRange) {
  EXPECT_EQ(Stops([&] { Run("@courtSetLife 0\n"); }),
            At(1, "@courtSetLifeで設定したライフの値 \"0\" は不正です。"));
  EXPECT_EQ(Stops([&] { Run("\n@courtSetLife 6\n"); }),
            At(2, "@courtSetLifeで設定したライフの値 \"6\" は不正です。"));
}

TEST_F(LifeTest, SavedLifeIsUsedUnchangedWithoutOverflow) {
  InitLife(true, Save("pt_nolife=end:x").c_str());
  EXPECT_EQ(CurrentLife(), 5);
  EXPECT_STREQ(NolifeTarget(), "end:x");
  InitLife(false, Save("pt_life=2").c_str());
  EXPECT_EQ(CurrentLife(), 5);
  EXPECT_STREQ(NolifeTarget(), "start:nolife");

  InitLife(true, Save("pt_life=2147483647").c_str());
  EXPECT_EQ(CurrentLife(), 2147483647);
  Run("@courtShowLife\n@courtReduceLife\n");
  EXPECT_EQ(CurrentLife(), 2147483646);
  EXPECT_EQ(GaugeSet(), 4);  // past the last set: the last
  EXPECT_EQ(Seen("sys/court_lifedown").front().x, INT32_MIN);

  InitLife(true, Save("pt_life=-2147483648").c_str());
  EXPECT_EQ(CurrentLife(), INT32_MIN);
  Run("@courtShowLife\n@courtReduceLife\n@exit rescode=never\n");
  EXPECT_FALSE(sprIsValid(36));
  EXPECT_STREQ(scenario.result, "");
}

class ShoutTest : public LifeTest {
 protected:
  ShoutTest() {
    engine.AddFile("scn/c1/item.txt", "@item no=2 name=knife comment=sharp image=ev\n");
    LoadItemDefs(false, "");
    Def("sys/ev", 100, 100);
    Def("sys/court_igi", 300, 100);
    Def("sys/court_kurae", 300, 100);
    engine.AddFile("sys/court_kakegoe_right.mot", "@pos 0 0 x=500 y=60 span=100\n");
    engine.AddFile("sys/court_kakegoe_left.mot", "@pos 0 0 x=100 y=60 span=100\n");
    engine.AddFile("sys/item_kurae.mot", "@pos 0 0 x=400 y=300 span=50\n");
  }
};

TEST_F(ShoutTest, ShoutWithTheItemsKuraePicture) {
  Run("@courtShowIgi right item=2\n");
  EXPECT_EQ(Logged("se:"), std::vector<std::string>{"sys/se/異議あり"});
  const auto shout = Seen("sys/court_igi");
  ASSERT_FALSE(shout.empty());
  EXPECT_EQ(shout.back().x, 500 + 1 - 300);  // the motion moved sprite 0 of its file: the shout
  EXPECT_EQ(shout.back().level, 2 * 83);
  const auto kurae = Seen("sys/ev");
  ASSERT_FALSE(kurae.empty());
  EXPECT_EQ(kurae.back().w, 378);
  EXPECT_EQ(kurae.back().x, 400 - 189);  // the kurae motion moved the item picture
  EXPECT_EQ(kurae.back().y, 300 - 189);
  EXPECT_FALSE(sprIsValid(35));
  EXPECT_FALSE(sprIsValid(21));

  Run("@courtShowKurae\n");
  EXPECT_EQ(Seen("sys/court_kurae").back().x, 100);
  EXPECT_FALSE(sprIsValid(35));
  EXPECT_EQ(Stops([&] { Run("@courtShowMatta item=3\n"); }), At(1, "アイテム番号 3 は不正"));
}

TEST_F(ShoutTest, BothVerdicts) {
  for (const char* word : {"guilty", "innocence"}) {
    Def(std::string("sys/court_") + word + "0", 200, 100);
    Def(std::string("sys/court_") + word + "1", 200, 100);
  }
  Def("sys/name_ken", 100, 30);
  Run("@textShowName ken\n");
  for (const bool guilty : {true, false}) {
    g_court_log.clear();
    const size_t from = engine.Frames().size();
    Run(guilty ? "@courtShowPlea guilty\n" : "@courtShowPlea\n");
    const std::string word = guilty ? "guilty" : "innocence";
    EXPECT_EQ(Logged("se:"), (std::vector<std::string>{"sys/se/判決", "sys/se/判決"}));
    EXPECT_EQ(Logged("msg:"), (std::vector<std::string>{"[w 800]", "[w 800]"}));
    const auto first = Seen("sys/court_" + word + "0", from);
    const auto second = Seen("sys/court_" + word + "1", from);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(first.front().x, 200 - 100);
    EXPECT_EQ(second.back().x, 600 - 100);
    EXPECT_EQ(second.back().y, 300 - 50);
    EXPECT_FALSE(sprIsValid(39));
    EXPECT_FALSE(sprIsValid(40));
    EXPECT_TRUE(sprIsShown(20));  // the name plate is back
    EXPECT_TRUE(IsTextLayerShown("def"));
  }
}

}  // namespace
}  // namespace orvane_test
