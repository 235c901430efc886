// The court record: pages of the owned items, its buttons, presenting with @itemSelect and the
// record button.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "game/court.h"
#include "game/message.h"
#include "game/sprite_def.h"
#include "tests/game/court_fixture.h"

namespace orvane_test {
namespace {

std::vector<std::string> g_buttons;

class RecordTest : public CourtTest {
 protected:
  RecordTest() {
    g_buttons.clear();
    CourtButtons().register_button = [](int32_t slot, const char* name) {
      g_buttons.push_back(std::to_string(slot) + ":" + name);
    };
    CourtButtons().clear_buttons = [] { g_buttons.push_back("clear"); };
    engine.AddFile("scn/c1/item.txt",
                   "@item no=1 name=n1 comment=c image=ev\n"
                   "@item no=2 name=p2 comment=c image=ev type=chara\n"
                   "@item no=3 name=n3 comment=c image=ev mag=big\n"
                   "@item no=4 name=p4 comment=c image=ev type=chara\n"
                   "@item no=5 name=n5 comment=c image=ev\n");
    LoadItemDefs(false, "");
    Def("sys/ev", 100, 100);
    Def("sys/big", 400, 300);
    Def("sys/court_kurae", 300, 100);
    engine.AddFile("sys/court_kakegoe_right.mot", "@pos 0 0 x=500 y=60 span=50\n");
    engine.AddFile("sys/court_kakegoe_left.mot", "@pos 0 0 x=100 y=60 span=50\n");
    engine.AddFile("sys/item_kurae.mot", "@pos 0 0 x=400 y=300 span=50\n");
    for (const char* b : {"right", "tojiru", "tsuki", "left", "chara", "item", "mag"})
      Def(std::string("sys/btn_item_") + b, 60, 40);
    Def("sys/btn_other_kiroku", 80, 40);
  }
  void Own(std::initializer_list<int> items) {
    for (int n : items) itemGet(n);
  }
  // The names of the pages shown, in order.
  std::vector<std::string> Pages() const {
    std::vector<std::string> pages;
    for (const std::string& m : Logged("msg:"))
      if (m.rfind("　[cy]", 0) == 0) pages.push_back(m.substr(std::string("　[cy]").size(), 2));
    return pages;
  }
  // Browses in a fresh current scenario; the record's answer.
  bool Browse(bool present, bool close, bool evidence, bool persons, int32_t* out = nullptr) {
    outer.Reset();
    CurrentScenarioScope scope(&outer);
    int32_t selected = 99;
    const bool end = CourtRecord(&selected, present, close, evidence, persons);
    if (out) *out = selected;
    return end;
  }
  static constexpr const char* kSelect =
      "@itemSelect item=3 success=ok miss=ng kurae right\n@exit rescode=nojump\n:ok\n@exit "
      "rescode=hit\n:ng\n@exit\n";
  DScenario outer;
};

TEST_F(RecordTest, NothingOwnedPresentsNothingAndMisses) {
  Run(kSelect);
  EXPECT_STREQ(scenario.result, "-1");
  EXPECT_TRUE(Pages().empty());
  EXPECT_TRUE(g_court_page_flags.empty());
  EXPECT_TRUE(Logged("se:").empty());
  ASSERT_TRUE(sprIsValid(2));
  EXPECT_EQ(Sprite(2).subs[0].image->name, std::string("sys/cursor_np_pic.png"));
}

TEST_F(RecordTest, PresentingTheWantedItemShoutsAfterTheRecord) {
  Own({1, 3, 2});
  g_court_clicks = {"right", "tsuki"};
  Run(kSelect);
  EXPECT_STREQ(scenario.result, "hit");
  EXPECT_EQ(Pages(), (std::vector<std::string>{"n1", "n3"}));
  EXPECT_EQ(Logged("se:"),
            (std::vector<std::string>{"sys/se/アイテム切り替え", "sys/se/アイテム決定", "sys/se/異議あり"}));
  EXPECT_FALSE(Seen("sys/court_kurae").empty());
  EXPECT_EQ(g_court_page_flags, (std::vector<uint32_t>{1, 1}));
  // Present without close: no close button, left at 537; persons owned: the switch button.
  const std::vector<std::string> first_page = {"clear", "25:right", "22:tsuki", "24:left", "26:chara"};
  EXPECT_EQ(std::vector<std::string>(g_buttons.begin(), g_buttons.begin() + 5), first_page);
  // The record is gone; the page cursor is back.
  for (int32_t slot : {21, 22, 24, 25, 26, 42, 43}) EXPECT_FALSE(sprIsValid(slot)) << slot;
  EXPECT_FALSE(IsTextLayerShown("sub"));

  // Another item misses, without a shout; the result code is the presented number.
  g_court_log.clear();
  g_court_clicks = {"tsuki"};
  Run("@itemSelect item=3 success=ok miss=ng kurae\n:ok\n@exit rescode=hit\n:ng\n@exit\n");
  EXPECT_STREQ(scenario.result, "1");
  EXPECT_EQ(Logged("se:"), std::vector<std::string>{"sys/se/アイテム決定"});
}

TEST_F(RecordTest, LeftAndRightWrapAround) {
  Own({1, 3, 5, 2});
  g_court_clicks = {"left", "right", "right", "right", "tojiru"};
  int32_t out = 0;
  EXPECT_FALSE(Browse(false, true, true, true, &out));
  EXPECT_EQ(out, -1);
  EXPECT_STREQ(outer.result, "-1");
  EXPECT_EQ(Pages(), (std::vector<std::string>{"n1", "n5", "n1", "n3", "n5"}));
  EXPECT_EQ(Logged("se:").size(), 4u);  // closing makes no sound
}

TEST_F(RecordTest, ButtonRowByAllowedActions) {
  Own({1});
  struct Case {
    bool present, close;
    int32_t left_x;
  };
  for (const Case& c :
       {Case{false, false, 700}, Case{false, true, 601}, Case{true, false, 537}, Case{true, true, 438}}) {
    g_court_clicks = {"!exit"};
    EXPECT_TRUE(Browse(c.present, c.close, true, true));
    EXPECT_EQ(Sprite(24).req_x, c.left_x) << c.present << c.close;
    EXPECT_EQ(sprIsValid(23), c.close);
    EXPECT_EQ(sprIsValid(22), c.present);
    if (c.present) {
      EXPECT_EQ(Sprite(22).req_x, c.close ? 601 : 700);
    }
    EXPECT_EQ(Sprite(25).req_x, 735);
    EXPECT_FALSE(sprIsValid(26));  // no persons owned
    sprClearAll();
  }
}

TEST_F(RecordTest, CharaonlyAndPageSwitch) {
  Own({1, 2, 4});
  g_court_clicks = {"right", "tsuki"};
  Run("@itemSelect item=4 success=ok miss=ng charaonly\n:ok\n@exit rescode=hit\n:ng\n@exit\n");
  EXPECT_STREQ(scenario.result, "hit");
  EXPECT_EQ(Pages(), (std::vector<std::string>{"p2", "p4"}));
  for (const std::string& b : g_buttons) EXPECT_EQ(b.find("26:"), std::string::npos) << b;

  g_court_log.clear();
  g_buttons.clear();
  g_court_clicks = {"chara", "item", "tojiru"};
  Browse(false, true, true, true);
  EXPECT_EQ(Pages(), (std::vector<std::string>{"n1", "p2", "n1"}));
  std::vector<std::string> switches;
  for (const std::string& b : g_buttons)
    if (b.rfind("26:", 0) == 0) switches.push_back(b);
  EXPECT_EQ(switches, (std::vector<std::string>{"26:chara", "26:item", "26:chara"}));
}

TEST_F(RecordTest, MagnifiedPictureAndBlankPageCursor) {
  Own({3});
  g_court_clicks = {"mag", "", "tojiru"};
  const size_t from = engine.Frames().size();
  Browse(false, true, true, true);
  bool magnified = false;
  for (size_t i = from; i < engine.Frames().size(); ++i)
    if (const FakeEngine::FrameSprite* s = Drawn("sys/big", i)) {
      magnified = true;
      EXPECT_EQ(s->x, 400 - 200);
      EXPECT_EQ(s->y, 300 - 150);
    }
  EXPECT_TRUE(magnified);
  EXPECT_EQ(Logged("se:"), (std::vector<std::string>{"sys/se/文字クリック", "sys/se/文字クリック"}));
  EXPECT_FALSE(sprIsValid(43));
  EXPECT_EQ(Sprite(2).subs[0].image->name, std::string("sys/cursor_np_pic.png"));
  EXPECT_EQ(Sprite(2).level, 96);
  EXPECT_NE(std::find(g_buttons.begin(), g_buttons.end(), "42:mag"), g_buttons.end());
}

TEST_F(RecordTest, RecordButtonJumpsToTheRecordTarget) {
  Own({1});
  Run("@itemShowKiroku x=10 y=20 target=later:here\n@itemShowKiroku x=30 y=40 target=later:there\n");
  ASSERT_TRUE(sprIsValid(38));
  EXPECT_EQ(Sprite(38).req_x, 30);
  EXPECT_EQ(Sprite(38).level, 82);
  EXPECT_EQ(g_buttons, std::vector<std::string>{"38:sys_itemkiroku"});
  char target[8];
  GetRecordTarget(target, sizeof(target));
  EXPECT_STREQ(target, "later:t");
  GetRecordTarget(target, 0);

  g_court_clicks = {"right", "tojiru"};
  outer.Reset();
  {
    CurrentScenarioScope scope(&outer);
    OpenRecordFromButton();
  }
  EXPECT_STREQ(outer.link_target, "later:there");
  EXPECT_FALSE(sprIsValid(38));
  EXPECT_EQ(Pages(), (std::vector<std::string>{"n1", "n1"}));

  Run("@itemShowKiroku\n@itemHideKiroku\n@itemHideKiroku\n");
  EXPECT_FALSE(sprIsValid(38));
}

TEST_F(RecordTest, LeavingThroughTheMenuEndsTheSelection) {
  Own({1});
  g_court_clicks = {"!exit"};
  Run(kSelect);
  EXPECT_TRUE(scenario.exit_request);
  // No jump, no shout, the later lines not run; the result code is the exit's own (the menu's
  // "sys_exit"), not the record's "-1".
  EXPECT_STREQ(scenario.result, "");
  EXPECT_TRUE(Logged("se:").empty());
  EXPECT_EQ(g_court_page_flags, std::vector<uint32_t>{1});  // the page wait lets a right click open the menu
}

}  // namespace
}  // namespace orvane_test

namespace orvane_test {
namespace {

// The record on the real message output and buttons: the player clicks the present button.
class RecordOnMessageOutputTest : public RecordTest {
 protected:
  RecordOnMessageOutputTest() {
    CourtButtons() = DefaultCourtButtons();
    Handlers().ShowMessage = &ShowMessage;
    LoadSpriteDef(2, 1, "sys/cursor_np", 0, 0, 96, kStyleHide, "none");
  }
};

TEST_F(RecordOnMessageOutputTest, ClickingThePresentButtonSelectsTheShownItem) {
  Own({3});
  const DWORD t = engine.Now();
  engine.ScriptMouse(t + 3000, 0, 670, 300);  // on "tsuki": right edge 700, 60 wide, top 286
  engine.ScriptMouse(t + 3001, 1, 670, 300);
  Run("@itemSelect item=3 success=ok miss=ng\n:ok\n@exit rescode=hit\n:ng\n@exit\n");
  EXPECT_STREQ(scenario.result, "hit");
  EXPECT_EQ(Logged("se:"), std::vector<std::string>{"sys/se/アイテム決定"});
  EXPECT_EQ(ButtonCount(), 0);
  EXPECT_FALSE(sprIsValid(22));
}

}  // namespace
}  // namespace orvane_test
