// Testimonies and cross-examinations on the fake engine: the inquiry file's commands and errors,
// navigation through the statements with scripted clicks and sub-scenario actions, and the
// commands only sub-scenarios may use.
#include "game/inquiry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "game/court.h"
#include "tests/game/court_fixture.h"

namespace orvane_test {
namespace {

// Stage and court operations replaced by recorders in the common log.
void LogBackSet(const char*, const char* color, int32_t, bool, const char* wipe, bool) {
  if (std::string(color) == "black" && std::string(wipe) == "fade") g_court_log.push_back("fade");
}
void LogFrontSet(const char*, int32_t, int32_t, bool) {}
void LogBackPos(int32_t, float) {}
void LogCharaShow(const char* file, int32_t, int32_t, int32_t, bool nowipe) {
  g_court_log.push_back(std::string("chara:") + file + (nowipe ? "" : ":fade"));
}
void LogBgm(const char* file) {
  g_court_log.push_back(std::string("bgm:") + file);
}
void LogShout(int32_t item, const char* word, bool) {
  g_court_log.push_back("shout:" + std::string(word) + ":" + std::to_string(item));
}
void NoLife(bool) {}
void LogName(const char* name) {
  if (name[0]) g_court_log.push_back(std::string("name:") + name);
}

class InquiryTest : public CourtTest {
 protected:
  InquiryTest() {
    Handlers().backSet = &LogBackSet;
    Handlers().frontSet = &LogFrontSet;
    Handlers().backPos = &LogBackPos;
    Handlers().charaShow = &LogCharaShow;
    Handlers().bgmPlay = &LogBgm;
    Handlers().courtShowKakegoe = &LogShout;
    Handlers().courtShowLife = &NoLife;
    Handlers().textShowName = &LogName;
    Handlers().courtHideCourtLife = &NoLife;
    RegisterWipe("wipe", "", 200, 0);
    for (const char* name : {"sys/text_msg", "sys/inquiry_logo0", "sys/inquiry_logo1", "sys/btn_item_left",
                             "sys/btn_item_right", "sys/btn_inquiry_shake", "sys/btn_inquiry_confront",
                             "sys/btn_item_tojiru", "sys/btn_item_tsuki", "sys/ev"})
      Def(name, 40, 40);
    engine.AddFile("scn/c1/item.txt",
                   "@item no=0 name=knife comment=c image=ev\n@item no=1 name=cup comment=c image=ev\n");
    LoadItemDefs(false, "");
    itemGet(0);
    itemGet(1);
  }

  // Runs the scenario; a stop of the play fails the test with its report.
  void Play(const std::string& text) {
    try {
      Run(text);
    } catch (const DExceptGame&) {
      ADD_FAILURE() << (engine.Messages().empty() ? "" : engine.Messages().back().text);
    }
  }

  // The statements whose speech was printed, in order ("S<n>" after "[cg]").
  std::string Shown() const {
    std::string out;
    for (size_t i = 0; i + 1 < g_court_log.size(); ++i)
      if (g_court_log[i] == "msg:[cg]") out += (out.empty() ? "" : " ") + g_court_log[i + 1].substr(4);
    return out;
  }
  int Count(const std::string& entry) const {
    int n = 0;
    for (const std::string& e : g_court_log) n += e == entry;
    return n;
  }
};

// An inquiry file of four statements: S<n> with its shake, confront and end targets in "sub".
std::string Inquiry(const std::string& enabled, int item0 = 0, bool kurae = false) {
  std::string text = "@info title=T subscn=sub name=W\n";
  for (int n = 0; n < 4; ++n) {
    const std::string s = std::to_string(n);
    text += "@section no=" + s + (enabled.find(s) != std::string::npos ? " enable" : "") +
            (n == 0 && kurae ? " kurae" : "") + "\n";
    text += "@img file=w" + s + (n == 1 ? " wipe" : "") + "\n@speech value=S" + s + "\n@shake target=s" + s +
            "\n@confront item=" + std::to_string(n == 0 ? item0 : -1) + " success=ok" + s + " miss=ng" + s +
            "\n@end target=end" + s + "\n";
  }
  return text;
}

TEST_F(InquiryTest, NavigationTable) {
  struct Case {
    const char* name;
    std::string enabled;
    std::vector<std::string> clicks;             // after the title's click
    std::map<std::string, std::string> actions;  // sub-scenario label -> its line
    std::string shown;
    int fades;  // after the opening's
    bool ended;
    std::string rescode;  // the record leaves the presented number there
    int item0 = 0;
  };
  const std::vector<Case> cases = {
      {"none enabled", "", {}, {}, "", 0, false, ""},
      {"right through to the end with @inquiryExit",
       "012",
       {"right", "right", "right"},
       {{"end2", "@inquiryExit"}},
       "S0 S1 S2",
       0,
       false,
       ""},
      {"right on the last restarts after a fade",
       "012",
       {"right", "right", "right", "!exit"},
       {},
       "S0 S1 S2 S0",
       1,
       true,
       ""},
      {"left on the first does nothing", "13", {"left", "!exit"}, {}, "S1 S1", 0, true, ""},
      {"left and right skip disabled statements",
       "023",
       {"right", "right", "left", "left", "!exit"},
       {},
       "S0 S2 S3 S2 S0",
       0,
       true,
       ""},
      {"shake runs its target and moves on after a fade",
       "01",
       {"shake", "!exit"},
       {{"s0", "shook"}},
       "S0 S1",
       1,
       true,
       ""},
      {"shake on the last stays there", "01", {"right", "shake", "!exit"}, {}, "S0 S1 S1", 1, true, ""},
      {"correct confront: same statement, no fade (a confront never navigates)",
       "01",
       {"confront", "tsuki", "!exit"},
       {},
       "S0 S0",
       0,
       true,
       "0"},
      {"wrong confront: same statement after a fade",
       "01",
       {"confront", "right", "tsuki", "!exit"},
       {},
       "S0 S0",
       1,
       true,
       "1"},
      {"closed record: same statement at once",
       "01",
       {"confront", "tojiru", "!exit"},
       {},
       "S0 S0",
       0,
       true,
       "-1"},
      {"item -1 always misses", "0", {"confront", "tsuki", "!exit"}, {}, "S0 S0", 1, true, "0", -1},
      {"@exit in a sub-scenario ends the scene with its code",
       "01",
       {"shake"},
       {{"s0", "@exit rescode=lost"}},
       "S0",
       0,
       true,
       "lost"},
      {"@exit without a code", "01", {"confront", "tsuki"}, {{"ok0", "@exit"}}, "S0", 0, true, ""},
      {"@inquiryExit after a correct confront: no fade",
       "01",
       {"confront", "tsuki"},
       {{"ok0", "@inquiryExit"}},
       "S0",
       0,
       false,
       "0"},
      {"rewind restarts from the first after a fade",
       "012",
       {"right", "shake", "!exit"},
       {{"s1", "@inquiryRewind"}},
       "S0 S1 S0",
       1,
       true,
       ""},
      {"rewind in the end target",
       "01",
       {"right", "right", "!exit"},
       {{"end1", "@inquiryRewind"}},
       "S0 S1 S0",
       1,
       true,
       ""},
      {"a disabled current statement changes at the next pass",
       "012",
       {"shake", "left", "right", "right", "right", "!exit"},
       {{"s0", "@inquiryDisableSpeech no=0"}},
       "S0 S1 S1 S2 S1",
       2,
       true,
       ""},
      {"an enabled statement joins at once",
       "03",
       {"shake", "!exit"},
       {{"s0", "@inquiryEnableSpeech no=1"}},
       "S0 S1",
       1,
       true,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_court_log.clear();
    g_court_clicks.clear();
    g_court_page_waits = 0;
    engine.AddFile("scn/c1/w.inq", Inquiry(c.enabled, c.item0));
    std::string sub;
    for (const std::string label : {"s0", "s1", "s2", "s3", "ok0", "ng0", "end0", "end1", "end2", "end3"}) {
      sub += ":" + label + "\n";
      auto it = c.actions.find(label);
      if (it != c.actions.end()) sub += it->second + "\n";
      sub += "@return\n";
    }
    engine.AddFile("scn/c1/sub.scn", sub);
    g_court_clicks.push_back("");
    for (const std::string& click : c.clicks) g_court_clicks.push_back(click);
    Play("@inquiryRun file=w bgm=b\nafter\n");
    EXPECT_EQ(Shown(), c.shown);
    EXPECT_EQ(Count("fade") - 1, c.fades);
    EXPECT_EQ(Count("msg:after"), c.ended ? 0 : 1);
    EXPECT_EQ(scenario.exit_request, c.ended);
    EXPECT_EQ(scenario.result, c.rescode);
    EXPECT_TRUE(g_court_clicks.empty());
    EXPECT_EQ(CurrentInquiry(), nullptr);
  }
}

TEST_F(InquiryTest, ShoutsOfTheConfront) {
  struct Case {
    bool kurae;
    std::vector<std::string> clicks;
    std::string shout;
    bool music_stopped;
  };
  for (const Case& c : std::vector<Case>{{false, {"confront", "tsuki"}, "shout:igi:-1", true},
                                         {true, {"confront", "tsuki"}, "shout:kurae:0", true},
                                         {true, {"confront", "right", "tsuki"}, "shout:igi:-1", false},
                                         {false, {"shake"}, "shout:matta:-1", false}}) {
    g_court_log.clear();
    engine.AddFile("scn/c1/w.inq", Inquiry("0", 0, c.kurae));
    engine.AddFile("scn/c1/sub.scn", ":ok0\n@inquiryExit\n:ng0\n@inquiryExit\n:s0\n@inquiryExit\n");
    g_court_clicks = {""};
    for (const std::string& click : c.clicks) g_court_clicks.push_back(click);
    Play("@inquiryRun file=w bgm=b\n");
    EXPECT_EQ(Logged("shout:").size(), 1u);
    EXPECT_EQ(Count(c.shout), 1) << c.shout;
    // A correct confront stops the music before its sub-scenario.
    EXPECT_EQ(Count("bgm:"), c.music_stopped ? 1 : 0);
  }
}

TEST_F(InquiryTest, TheOpeningAndTheButtons) {
  engine.AddFile("scn/c1/w.inq", Inquiry("12"));
  engine.AddFile("scn/c1/sub.scn", ":end2\n@inquiryExit\n");
  g_court_clicks = {"", "right", "right"};
  Play("@inquiryRun file=w bgm=b\n");
  const std::vector<std::string> log(g_court_log.begin(), g_court_log.begin() + 6);
  const std::vector<std::string> expected = {
      "fade",  "chara:w1:fade",      "se:sys/se/証言開始", "msg:[w 500][cr]\x81\x60",
      "msg:T", "msg:\x81\x60[c][np]"};
  EXPECT_EQ(log, expected);
  // The title picture was drawn in the opening and is gone afterwards.
  EXPECT_EQ(Count("chara:w1"), 0);  // statement 1 shows with its wipe
  EXPECT_EQ(Count("chara:w1:fade"), 2);
  EXPECT_EQ(Count("chara:w2"), 1);
  EXPECT_FALSE(sprIsValid(CourtElementAt(kRowTitle).slot));
  EXPECT_FALSE(sprIsValid(CourtElementAt(kRowInquiryRight).slot));
  EXPECT_EQ(ButtonCount(), 0);
}

TEST_F(InquiryTest, ButtonsOfEachStatement) {
  engine.AddFile("scn/c1/w.inq", Inquiry("01"));
  engine.AddFile("scn/c1/sub.scn", ":end1\n@inquiryExit\n");
  // The recorder is asked at each wait: note which buttons are offered then.
  static std::vector<std::string> offered;
  offered.clear();
  Handlers().ShowMessage = [](const char* text, const char* sound, uint32_t flags) {
    if (std::string(text) == "[np]") {
      std::string names;
      for (int32_t row : {kRowInquiryLeft, kRowInquiryRight, kRowInquiryShake, kRowInquiryConfront}) {
        const char* n = ButtonName(CourtElementAt(row).slot);
        if (n && sprIsShown(CourtElementAt(row).slot)) names += std::string(n) + " ";
      }
      offered.push_back(names);
    }
    return CourtShowMessage(text, sound, flags);
  };
  g_court_clicks = {"", "right", "right"};
  Play("@inquiryRun file=w bgm=b\n");
  EXPECT_EQ(offered, (std::vector<std::string>{"right shake confront ", "left right shake confront "}));
}

TEST_F(InquiryTest, Testimony) {
  struct Case {
    std::string enabled;
    std::vector<std::string> expected;
  };
  for (const Case& c : std::vector<Case>{{"02",
                                          {"bgm:b", "name:W", "chara:w0", "msg:S0", "msg:[np]", "bgm:b",
                                           "name:W", "chara:w2", "msg:S2", "msg:[np]", "fade"}},
                                         {"", {"fade"}}}) {
    g_court_log.clear();
    engine.AddFile("scn/c1/w.inq", Inquiry(c.enabled));
    g_court_clicks = {""};
    Play("@testimonyRun file=w bgm=b\nafter\n");
    std::vector<std::string> after_title;
    bool title_done = false;
    for (const std::string& e : g_court_log) {
      if (title_done && e != "msg:after") after_title.push_back(e);
      if (e == "msg:\x81\x60[c][np]") title_done = true;
    }
    EXPECT_EQ(after_title, c.expected);
    EXPECT_EQ(Count("msg:after"), 1);
  }
  // The player's exit at a statement ends the scene.
  engine.AddFile("scn/c1/w.inq", Inquiry("01"));
  g_court_log.clear();
  g_court_clicks = {"", "!exit"};
  Play("@testimonyRun file=w\nafter\n");
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_EQ(Count("msg:after"), 0);
}

TEST_F(InquiryTest, InquiryFileCommands) {
  engine.AddFile("scn/c1/a.inq",
                 "; a comment\n"
                 "unknown line here\n"
                 "@INFO Title=\"The title\" subscn=sub name=Name\n"
                 "@img\n"
                 "@section no=2 kurae\n"
                 "@section no=2 enable\n"
                 "@Img file=p x=-5 y=7 wipe\n"
                 "@speech value=\"[cg]said\"\n"
                 "@shake target=s\n"
                 "@confront item=4 success=ok miss=ng\n"
                 "@end target=e\n"
                 "@section no=40\n"
                 "\n");
  DInquiry q;
  LoadInquiryFile(q, "a");
  EXPECT_STREQ(q.path, "scn/c1/a.inq");
  EXPECT_STREQ(q.title, "The title");
  EXPECT_STREQ(q.subscn, "sub");
  EXPECT_STREQ(q.name, "Name");
  EXPECT_EQ(q.count, 41u);
  EXPECT_EQ(q.sections.size(), 64u);
  const DInquirySection& s = q.sections[2];
  EXPECT_EQ(s.flags, kSectionEnabled | kSectionWipe | kSectionKurae);
  EXPECT_STREQ(s.picture, "p");
  EXPECT_EQ(s.x, -5);
  EXPECT_EQ(s.y, 7);
  EXPECT_STREQ(s.speech, "[cg]said");
  EXPECT_STREQ(s.shake, "s");
  EXPECT_EQ(s.item, 4);
  EXPECT_STREQ(s.success, "ok");
  EXPECT_STREQ(s.miss, "ng");
  EXPECT_STREQ(s.end, "e");
  EXPECT_EQ(q.sections[0].item, -1);
  EXPECT_EQ(q.sections[40].flags, 0u);
  EXPECT_EQ(ErrorLine(), 13);
}

TEST_F(InquiryTest, TextsAreCutAtACharacterBoundary) {
  std::string speech(254, 'a');
  speech += "あい";  // the double-byte character at 254..255 does not fit with the NUL
  engine.AddFile("scn/c1/a.inq", "@section no=0\n@speech value=" + speech + "\n");
  DInquiry q;
  LoadInquiryFile(q, "a");
  EXPECT_EQ(std::string(q.sections[0].speech), std::string(254, 'a'));
}

TEST_F(InquiryTest, InquiryFileErrors) {
  const auto at = [](int line, const std::string& message) { return Report("scn/c1/a.inq", line, message); };
  struct Case {
    std::string text;
    std::string report;
  };
  const std::vector<Case> cases = {
      {"@section no=0\n@img file=a zoom=2\n", at(2, "コマンド@imgのzoomオプションが認識できません。")},
      {"@info title=a bad\n", at(1, "コマンド@infoのbadオプションが認識できません。")},
      {"\n@section\n", at(2, "コマンド@sectionが認識できません。")},
      {"@section enable\n", at(1, "コマンド@sectionが認識できません。")},
      {"@section no=-1\n", at(1, "コマンド@sectionが認識できません。")},
      {"@section no=65536\n", at(1, "コマンド@sectionが認識できません。")},
      {"@section no=4294967297\n", at(1, "コマンド@sectionが認識できません。")},
      {"@img file=a\n", at(1, "コマンド@imgが認識できません。")},
      {"@speech value=a\n", at(1, "コマンド@speechが認識できません。")},
      {"@shake target=a\n", at(1, "コマンド@shakeが認識できません。")},
      {"@confront item=1\n", at(1, "コマンド@confrontが認識できません。")},
      {"@end target=a\n", at(1, "コマンド@endが認識できません。")},
  };
  for (const Case& c : cases) {
    engine.AddFile("scn/c1/a.inq", c.text);
    DInquiry q;
    EXPECT_EQ(Stops([&] { LoadInquiryFile(q, "a"); }), c.report) << c.text;
  }
  // The largest number is accepted.
  engine.AddFile("scn/c1/a.inq", "@section no=65535 enable\n");
  DInquiry q;
  LoadInquiryFile(q, "a");
  EXPECT_EQ(q.count, 65536u);
  EXPECT_TRUE(q.Enabled(65535));
}

TEST_F(InquiryTest, SubScenarioCommandsAndTheirChecks) {
  engine.AddFile("scn/c1/w.inq", Inquiry("01"));
  const auto in_sub = [&](const std::string& line) {
    engine.AddFile("scn/c1/sub.scn", ":s0\n\n" + line + "\n");
    g_court_clicks = {"", "shake"};
    Run("@inquiryRun file=w\n");
  };
  EXPECT_EQ(Stops([&] { in_sub("@inquiryEnableSpeech no=4"); }),
            Report("scn/c1/sub.scn", 3, "@inquiryEnableSpeechで指定されたno = \"4\" は無効です"));
  EXPECT_EQ(Stops([&] { in_sub("@inquiryDisableSpeech no=-1"); }),
            Report("scn/c1/sub.scn", 3, "コマンド@inquiryDisableSpeechが認識できません。"));
  EXPECT_EQ(
      Stops([&] { in_sub("@inquiryRun file=w"); }),
      Report("scn/c1/sub.scn", 3, "@inquiryRun/@testimonyRunコマンドは通常シナリオ中でのみ使用可能です"));
  EXPECT_EQ(Stops([&] { in_sub("@bogus"); }),
            Report("scn/c1/sub.scn", 3, "コマンド@bogusが認識できません。"));
  // The pointer is restored when an error unwinds the run.
  EXPECT_EQ(CurrentInquiry(), nullptr);
  for (const char* command : {"@inquiryExit", "@inquiryRewind", "@inquiryEnableSpeech no=0"}) {
    const std::string name = std::string(command).substr(0, std::string(command).find(' '));
    EXPECT_EQ(Stops([&] { Run(std::string(command) + "\n"); }),
              At(1, name + "コマンドは尋問シナリオ中でのみ使用可能です"));
  }
  // Outside a cross-examination every number is out of range.
  EXPECT_NE(
      Stops([] { inquiryDisableSpeech(0); }).find("@inquiryDisableSpeechで指定されたno = \"0\" は無効です"),
      std::string::npos);
}

TEST_F(InquiryTest, AfterASubScenarioTheErrorPositionIsTheInquiryFile) {
  engine.AddFile("scn/c1/w.inq", Inquiry("0"));
  engine.AddFile("scn/c1/sub.scn", ":s0\n@sprRender\n");
  // The recorder checks the position at the statement's wait after the shake.
  static std::vector<std::string> positions;
  positions.clear();
  Handlers().ShowMessage = [](const char* text, const char* sound, uint32_t flags) {
    if (std::string(text) == "[np]")
      positions.push_back(ErrorFileName() + std::string(":") + std::to_string(ErrorLine()));
    return CourtShowMessage(text, sound, flags);
  };
  g_court_clicks = {"", "shake", "!exit"};
  Play("@inquiryRun file=w\n");
  EXPECT_EQ(positions, (std::vector<std::string>{"scn/c1/w.inq:0", "scn/c1/w.inq:0"}));
}

TEST_F(InquiryTest, AMissingInquiryFileStopsThePlay) {
  EXPECT_EQ(Stops([&] { Run("@inquiryRun file=none\n"); }),
            Report("scn/c1/none.inq", 0, "ファイル \"scn/c1/none.inq\" が開けません。"));
  EXPECT_EQ(CurrentInquiry(), nullptr);
}

}  // namespace
}  // namespace orvane_test
