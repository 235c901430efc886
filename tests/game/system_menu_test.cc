// The in-game menu on the fake engine: what it hides and restores, showing the picture, the way
// back to the title through every enclosing wait, and the after-wait check that opens it.
#include "game/system_menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/court.h"
#include "game/inquiry.h"
#include "tests/game/court_fixture.h"

namespace orvane_test {
namespace {

constexpr int32_t kLeftDown = 0;

// The message output's page wait as the menu meets it: each "[np]" takes the next click, where
// "!right" is a right click (taken only when the flags allow it, else the wait goes on with the
// next click), and then runs the after-wait check until it asks for no further wait.
bool MenuShowMessage(const char* text, const char*, uint32_t flags) {
  g_court_log.push_back(std::string("msg:") + text);
  if (std::string(text).find("[np]") == std::string::npos) return false;
  DScenario* current = CurrentScenario();
  const auto stopping = [current] { return current && (current->exit_request || current->return_request); };
  for (;;) {
    current->right_click_allowed = (flags & 1) != 0;
    current->right_click_request = false;
    current->link_target[0] = '\0';
    while (!g_court_clicks.empty()) {
      const std::string click = g_court_clicks.front();
      g_court_clicks.pop_front();
      if (click != "!right") {
        std::snprintf(current->link_target, sizeof(current->link_target), "%s", click.c_str());
        break;
      }
      if (current->right_click_allowed) {
        current->right_click_request = true;
        break;
      }
      g_court_log.push_back("refused");
    }
    if (++g_court_page_waits > 1000) current->exit_request = true;
    if (!HandleSystemButtons() || stopping()) break;
  }
  return stopping();
}

constexpr char kMenuLine[] = "msg:　　　　　[link target=game]ゲームへ戻る[/link]　　　　　[br]";
constexpr char kAskLine[] = "msg:　　　本当に終了しますか？[br]";

class SystemMenuTest : public CourtTest {
 protected:
  SystemMenuTest() {
    Handlers().ShowMessage = &MenuShowMessage;
    Def("sys/text_msg", 800, 200);
    Def("sys/btn_other_kiroku", 40, 40);
    CourtButtons() = CourtButtonHooks{&RegisterButton, &ClearButtons};
  }
  void Play(const std::string& text) {
    try {
      Run(text);
    } catch (const DExceptGame&) {
      ADD_FAILURE() << (engine.Messages().empty() ? "" : engine.Messages().back().text);
    }
  }
  int Count(const std::string& entry) const {
    int n = 0;
    for (const std::string& e : g_court_log) n += e == entry;
    return n;
  }
  static bool Shown(int32_t slot) { return sprIsValid(slot) && sprIsShown(slot); }
  void Sprite(int32_t row, bool shown) {
    sprCreateColor(CourtElementAt(row).slot, 0, "#ff0000", 1, 1, 0, 0, 4, 4, 50, 0, shown ? "show" : "hide",
                   "none");
  }
};

TEST_F(SystemMenuTest, GameRestoresExactlyWhatWasShown) {
  struct Case {
    int32_t row;
    bool shown;
  };
  const std::vector<Case> rows = {{kRowTitle, true},       {kRowNamePlate, false}, {kRowInquiryShake, true},
                                  {kRowLifeGauge, false},  {kRowShout, true},      {kRowInquiryRight, false},
                                  {kRowCharaCenter, true}, {kRowMagnified, true}};
  for (const Case& c : rows) Sprite(c.row, c.shown);
  itemShowKiroku("rec", 10, 20);
  HideTextLayer("sub");
  // What the menu page saw: every menu row hidden, the characters and the magnified picture kept.
  static std::vector<std::pair<int32_t, bool>> during;
  during.clear();
  Handlers().ShowMessage = [](const char* text, const char* sound, uint32_t flags) {
    if (std::string(text) == "[np]" && flags == 2) {
      for (int32_t row = 0; row < kCourtElementCount; ++row)
        during.push_back({row, Shown(CourtElementAt(row).slot)});
      during.push_back({-1, IsTextLayerShown("def")});
      during.push_back({-2, IsTextLayerShown("system")});
    }
    return MenuShowMessage(text, sound, flags);
  };
  g_court_clicks = {"!right", "game", ""};
  Play("@textShowMessage\ntext[np]\nafter\n");
  EXPECT_EQ(Count(kMenuLine), 1);
  ASSERT_EQ(during.size(), static_cast<size_t>(kCourtElementCount + 2));
  for (int32_t row = 0; row < kCourtElementCount; ++row) {
    if (CourtElementAt(row).menu == 1) {
      EXPECT_FALSE(during[row].second) << row;
    }
  }
  EXPECT_TRUE(during[kRowCharaCenter].second);
  EXPECT_TRUE(during[kRowMagnified].second);
  EXPECT_FALSE(during[kCourtElementCount].second);
  EXPECT_TRUE(during[kCourtElementCount + 1].second);
  // Afterwards: as before.
  for (const Case& c : rows) EXPECT_EQ(Shown(CourtElementAt(c.row).slot), c.shown) << c.row;
  EXPECT_TRUE(Shown(CourtElementAt(kRowRecordOpen).slot));
  EXPECT_STREQ(ButtonName(CourtElementAt(kRowRecordOpen).slot), "sys_itemkiroku");
  EXPECT_TRUE(IsTextLayerShown("def"));
  EXPECT_FALSE(IsTextLayerShown("sub"));
  EXPECT_FALSE(IsTextLayerShown("system"));
  EXPECT_EQ(TextLayer(CurrentTextLayer()).name, std::string("def"));
  EXPECT_EQ(Count("msg:after"), 1);
  EXPECT_FALSE(scenario.exit_request);
}

TEST_F(SystemMenuTest, TitleThenNoGoesOnAndTitleThenYesExits) {
  g_court_clicks = {"!right", "other", "title", "no", ""};
  Play("text[np]\nafter\n");
  EXPECT_EQ(Count(kMenuLine), 2);  // an unknown target shows the page again
  EXPECT_EQ(Count(kAskLine), 1);
  // "画像を表示" in cp932: the trail byte of 表 is 0x5C.
  const std::string show_line =
      "msg:\x81\x40\x81\x40\x81\x40\x81\x40 \x81\x40[link target=show]"
      "\x89\xe6\x91\x9c\x82\xf0\x95\x5c\x8e\xa6[/link]";
  EXPECT_EQ(Count(show_line + "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40[br]"), 2);
  EXPECT_EQ(Count("msg:after"), 1);
  EXPECT_FALSE(scenario.exit_request);

  g_court_log.clear();
  g_court_clicks = {"!right", "title", "YES"};
  Play("text[np]\nafter\n");
  EXPECT_EQ(Count("msg:after"), 0);
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_STREQ(scenario.result, "sys_exit");
  EXPECT_FALSE(IsTextLayerShown("system"));
}

TEST_F(SystemMenuTest, TheMenusOwnWaitsDoNotReopenIt) {
  // Right clicks at the menu's pages (flags 2) are refused; the text's own wait (flags 3) takes
  // one again after the menu.
  g_court_clicks = {"!right", "!right", "game", ""};
  Play("text[np]\n");
  g_court_clicks = {"!right", "!right", "title", "!right", "no", ""};
  Play("text[np]\n");
  EXPECT_EQ(Count(kMenuLine), 2);
  EXPECT_EQ(Count("refused"), 3);
  EXPECT_TRUE(g_court_clicks.empty());
  g_court_log.clear();
  Handlers().ShowMessage = [](const char* text, const char* sound, uint32_t) {
    return MenuShowMessage(text, sound, 0);
  };
  g_court_clicks = {"!right", ""};
  Play("text[np]\nafter\n");
  EXPECT_EQ(Count(kMenuLine), 0);
  EXPECT_EQ(Count("refused"), 1);
  EXPECT_EQ(Count("msg:after"), 1);
}

TEST_F(SystemMenuTest, ShowWaitsForOneClick) {
  Sprite(kRowShout, true);
  g_court_clicks = {"!right", "show", "game"};
  engine.ScriptMouse(engine.Now() + 50, kLeftDown, 0, 0);
  Play("text[np]\nafter\n");
  EXPECT_EQ(Count(kMenuLine), 2);
  EXPECT_EQ(Count("msg:after"), 1);
  EXPECT_TRUE(Shown(CourtElementAt(kRowShout).slot));
  EXPECT_GE(engine.Now(), 50u);
}

TEST_F(SystemMenuTest, TitleYesFromARecordInsideACrossExaminationEndsEveryLevel) {
  for (const char* name :
       {"sys/inquiry_logo1", "sys/btn_item_left", "sys/btn_item_right", "sys/btn_inquiry_shake",
        "sys/btn_inquiry_confront", "sys/btn_item_tojiru", "sys/btn_item_tsuki", "sys/ev",
        "sys/bg_court_main", "sys/fg_court_main", "sys/w0", "sys/court_life", "sys/name_W"})
    Def(name, 40, 40);
  RegisterWipe("wipe", "", 200, 0);
  engine.AddFile("sys/se/証言開始.wav", "RIFF");
  engine.AddFile("scn/c1/item.txt", "@item no=0 name=knife comment=c image=ev\n");
  LoadItemDefs(false, "");
  itemGet(0);
  engine.AddFile("scn/c1/w.inq",
                 "@info title=T subscn=sub name=W\n@section no=0 enable\n@img file=w0\n"
                 "@speech value=S0\n@confront item=0 success=ok miss=ng\n");
  engine.AddFile("scn/c1/sub.scn", ":ok\n:ng\nsub text\n");
  // The title's wait, the statement's wait with "confront", then the record's wait with a right
  // click that opens the menu.
  g_court_clicks = {"", "confront", "!right", "title", "yes"};
  Play("@inquiryRun file=w\nafter\n");
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_STREQ(scenario.result, "sys_exit");
  EXPECT_EQ(Count("msg:after"), 0);
  EXPECT_EQ(Count("msg:sub text"), 0);
  EXPECT_EQ(CurrentInquiry(), nullptr);
  EXPECT_TRUE(g_court_clicks.empty());
}

TEST_F(SystemMenuTest, TheRecordButtonOpensTheRecordAndGoesToItsTarget) {
  engine.AddFile("scn/c1/item.txt", "");
  LoadItemDefs(false, "");
  itemShowKiroku("rec", 10, 20);
  g_court_clicks = {"sys_itemkiroku"};
  Play("text[np]\nnot here\n:rec\nthere\n");
  EXPECT_EQ(Count("msg:not here"), 0);
  EXPECT_EQ(Count("msg:there"), 1);
  EXPECT_EQ(Count(kMenuLine), 0);
}

}  // namespace
}  // namespace orvane_test
