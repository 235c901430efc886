// The wipe registry on the fake engine: names, masks, times and its errors.
#include "game/wipe.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

using WipeTest = GameTest;

TEST_F(WipeTest, RegistersTheGamesWipes) {
  engine.AddFile("sys/wipe_bg.png", FakeEngine::PngFile(640, 480));
  RegisterWipe("logofade", "", 1000, 0);
  RegisterWipe("fade", "", 500, -5);
  RegisterWipe("bg", "sys/wipe_bg", 500, 0);
  RegisterWipe("wipe", "sys/wipe_bg", -1, 0);
  RegisterWipe("slowwipe", "sys/wipe_bg", 1000, 20);
  EXPECT_EQ(engine.LiveCount("wipe"), 3);  // each entry loads its own mask
  DWipe& fade = GetWipe("FADE");
  EXPECT_STREQ(fade.name, "fade");
  EXPECT_FALSE(fade.wipe);
  EXPECT_EQ(fade.time, 500u);
  EXPECT_EQ(fade.after_wait, 0u);
  EXPECT_EQ(GetWipe("wipe").time, 0u);
  EXPECT_STREQ(GetWipe("slowwipe").wipe->name, "sys/wipe_bg.png");
  EXPECT_EQ(GetWipe("slowwipe").after_wait, 20u);
  EXPECT_EQ(FindWipe("none"), nullptr);
  SetErrorPosition("scn/a.scn", 2);
  EXPECT_EQ(Stops([] { RegisterWipe("BG", "", 1, 1); }),
            Report("scn/a.scn", 2, "すでにBGというワイプは存在します。"));
  EXPECT_EQ(Stops([] { GetWipe("cross"); }), Report("scn/a.scn", 2, "\"cross\"というワイプは存在しません。"));
  EXPECT_EQ(Stops([] { RegisterWipe("x", "sys/none", 1, 1); }),
            Report("scn/a.scn", 2, "ワイプ \"sys/none\" が読み込めません。"));
  EXPECT_EQ(FindWipe("x"), nullptr);
  ClearWipes();
  EXPECT_EQ(engine.LiveCount("wipe"), 0);
  EXPECT_EQ(FindWipe("fade"), nullptr);
}

TEST_F(WipeTest, LongNamesAreStoredCut) {
  const std::string name = std::string(254, 'w') + "\x82\xa0" + "tail";
  RegisterWipe(name.c_str(), "", 1, 1);
  EXPECT_EQ(FindWipe(name.c_str()), nullptr);
  DWipe* cut = FindWipe(std::string(254, 'w').c_str());  // the cut falls before the split character
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(std::string(cut->name).size(), 254u);
}

}  // namespace
}  // namespace orvane_test
