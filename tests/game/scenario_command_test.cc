// The command interpreter: every command's options, defaults, required values and kind, through
// recording handlers.
#include "game/scenario_command.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

std::vector<std::string> g_calls;
bool g_answer = false;     // what the handlers that report "the scene must end" return
bool g_shout_due = false;  // itemSelect's shout report
bool g_sound_found = false;

std::string S(const char* text) {
  return text;
}
std::string S(bool b) {
  return b ? "1" : "0";
}
std::string S(int32_t n) {
  return std::to_string(n);
}
std::string S(float f) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%g", f);
  return buffer;
}
template <class... A>
void Call(const char* name, A... args) {
  std::string text = std::string(name) + "(";
  [[maybe_unused]] const char* sep = "";
  ((text += sep + S(args), sep = ","), ...);
  g_calls.push_back(text + ")");
}

// Recording handlers for every entry of the table.
GameHandlers Recorders() {
  GameHandlers h{};
  h.ShowMessage = [](const char* text, const char* sound, uint32_t flags) {
    Call("ShowMessage", text, sound, static_cast<int32_t>(flags));
    return false;
  };
  h.sprRender = [] { Call("sprRender"); };
  h.sprBeginScene = [] { Call("sprBeginScene"); };
  h.sprEndScene = [] { Call("sprEndScene"); };
  h.sprLoadMotion = [](int32_t base, const char* file, bool wait) {
    Call("sprLoadMotion", base, file, wait);
  };
  h.backSet = [](const char* file, const char* color, int32_t pos, bool noclear, const char* wipe,
                 bool nowipe) { Call("backSet", file, color, pos, noclear, wipe, nowipe); };
  h.frontSet = [](const char* file, int32_t x, int32_t y, bool nowipe) {
    Call("frontSet", file, x, y, nowipe);
  };
  h.backPos = [](int32_t pos, float speed) { Call("backPos", pos, speed); };
  h.charaShow = [](const char* file, int32_t cls, int32_t x, int32_t y, bool nowipe) {
    Call("charaShow", file, cls, x, y, nowipe);
  };
  h.charaHide = [](int32_t cls, bool nowipe) { Call("charaHide", cls, nowipe); };
  h.textShowName = [](const char* name) { Call("textShowName", name); };
  h.courtSetLawyerBack = [](bool a, bool b, bool c, bool d) { Call("courtSetLawyerBack", a, b, c, d); };
  h.courtSetWitnessBack = [](bool a, bool b, bool c, bool d) { Call("courtSetWitnessBack", a, b, c, d); };
  h.courtSetProsecutorBack = [](bool a, bool b, bool c, bool d) {
    Call("courtSetProsecutorBack", a, b, c, d);
  };
  h.courtSetJudgeBack = [](bool a, bool b, bool c) { Call("courtSetJudgeBack", a, b, c); };
  h.courtSetGuideBack = [](bool a, bool b, bool c) { Call("courtSetGuideBack", a, b, c); };
  h.textShowMessage = [] { Call("textShowMessage"); };
  h.textShowScene = [](const char* a, const char* b) { Call("textShowScene", a, b); };
  h.textShowFull = [] { Call("textShowFull"); };
  h.textShowLoud = [](const char* v) { Call("textShowLoud", v); };
  h.itemMessage = [](int32_t n, bool right, const char* before, const char* after) {
    Call("itemMessage", n, right, before, after);
  };
  h.itemShow = [](int32_t n, bool right) { Call("itemShow", n, right); };
  h.itemHide = [] { Call("itemHide"); };
  h.itemGetShow = [](int32_t n, int32_t se) { Call("itemGetShow", n, se); };
  h.itemGet = [](int32_t n) { Call("itemGet", n); };
  h.itemLost = [](int32_t n) { Call("itemLost", n); };
  h.itemShowKiroku = [](const char* target, int32_t x, int32_t y) { Call("itemShowKiroku", target, x, y); };
  h.itemHideKiroku = [] { Call("itemHideKiroku"); };
  h.itemSelect = [](bool charaonly, int32_t item, const char* success, const char* miss, bool kurae,
                    char* jump, bool* shout) {
    Call("itemSelect", charaonly, item, success, miss, kurae);
    std::snprintf(jump, 264, "%s", g_shout_due ? success : miss);
    *shout = g_shout_due;
    return g_answer;
  };
  h.inquiryRun = [](const char* file, const char* bgm, bool testimony) {
    Call("inquiryRun", file, bgm, testimony);
    return g_answer;
  };
  h.inquiryDisableSpeech = [](int32_t no) { Call("inquiryDisableSpeech", no); };
  h.inquiryEnableSpeech = [](int32_t no) { Call("inquiryEnableSpeech", no); };
  h.inquiryExit = [] { Call("inquiryExit"); };
  h.inquiryRewind = [] { Call("inquiryRewind"); };
  h.courtShowKakegoe = [](int32_t item, const char* shout, bool right) {
    Call("courtShowKakegoe", item, shout, right);
  };
  h.courtHideCourtLife = [](bool nowipe) { Call("courtHideCourtLife", nowipe); };
  h.courtShowLife = [](bool wipe) { Call("courtShowLife", wipe); };
  h.courtReduceLife = [] {
    Call("courtReduceLife");
    return g_answer;
  };
  h.courtSetLife = [](int32_t n) { Call("courtSetLife", n); };
  h.courtSetNolifeScenario = [](const char* target) { Call("courtSetNolifeScenario", target); };
  h.courtShowPlea = [](bool guilty) { Call("courtShowPlea", guilty); };
  h.bgmPlay = [](const char* file) { Call("bgmPlay", file); };
  h.FindSoundFile = [](const char* path) {
    Call("FindSoundFile", path);
    return g_sound_found;
  };
  h.sePlay = [](const char* path) { Call("sePlay", path); };
  h.saveGame = [](const char* target) { Call("saveGame", target); };
  return h;
}

class CommandTest : public GameTest {
 protected:
  CommandTest() {
    g_calls.clear();
    g_answer = false;
    g_shout_due = false;
    g_sound_found = false;
    Handlers() = Recorders();
    SetChapterFolder("scn/t");
    SetErrorPosition("scn/t/cmd.scn", 7);
  }

  // Runs one command in a fresh current scenario; the error text when the play stopped.
  std::string Exec(const std::string& line, int32_t kind = 0) {
    scenario.Reset();
    std::snprintf(scenario.result, sizeof(scenario.result), "prev");
    CurrentScenarioScope scope(&scenario);
    g_calls.clear();
    const size_t before = engine.Messages().size();
    try {
      ExecScenarioCommand(line.c_str(), kind);
    } catch (const DExceptGame&) {
      EXPECT_EQ(engine.Messages().size(), before + 1) << line;
      return engine.Messages().back().text;
    }
    EXPECT_EQ(engine.Messages().size(), before) << line;
    return "";
  }

  static std::string Error(const std::string& message) { return Report("scn/t/cmd.scn", 7, message); }
  static std::string Unknown(const std::string& name) {
    return Error("コマンド" + name + "が認識できません。");
  }
  static std::string BadOption(const std::string& command, const std::string& option) {
    return Error("コマンド" + command + "の" + option + "オプションが認識できません。");
  }

  DScenario scenario;
};

struct Case {
  const char* line;
  std::vector<std::string> calls;
  int32_t kind = 0;
};

TEST_F(CommandTest, OptionsDefaultsAndHandlerArguments) {
  const Case cases[] = {
      {"@sprRender", {"sprRender()"}},
      {"@SPRRENDER anything at all=1", {"sprRender()"}},
      {"@backSet", {"backSet(,,0,0,,1)"}},
      {"@backSet fade", {"backSet(,,0,0,fade,0)"}},
      {"@backSet wipe", {"backSet(,,0,0,,0)"}},
      {"@backset File=a color=\"red x\" pos=5 noclear noclear", {"backSet(a,red x,5,1,,1)"}},
      {"@backSet pos=1 pos=2", {"backSet(,,2,0,,1)"}},
      {"@frontSet", {"frontSet(,0,0,1)"}},
      {"@frontSet file=f x=3 y=-4 wipe", {"frontSet(f,3,-4,0)"}},
      {"@charaShowLeft file=a", {"charaShow(a,0,-180,0,1)"}},
      {"@charaShowCenter file=a", {"charaShow(a,1,0,0,1)"}},
      {"@charaShowRight file=a", {"charaShow(a,2,80,0,1)"}},
      {"@charaShowLeft file=a x=0 y=9 wipe", {"charaShow(a,0,0,9,0)"}},
      {"@charaHideLeft", {"charaHide(0,1)"}},
      {"@charaHideCenter wipe", {"charaHide(1,0)"}},
      {"@charaHideRight", {"charaHide(2,1)"}},
      {"@charaHideAll wipe", {"charaHide(3,0)"}},
      {"@sprBeginScene", {"sprBeginScene()"}},
      {"@sprEndScene x", {"sprEndScene()"}},
      {"@sprLoadMotion file=m wait", {"sprLoadMotion(20,m,1)"}},
      {"@sprLoadMotion file=\"m n\"", {"sprLoadMotion(20,m n,0)"}},
      {"@textShowMessage", {"textShowMessage()"}},
      {"@textShowName 成歩堂 x=1 bogus ", {"textShowName(成歩堂)"}},
      {"@textShowName", {"textShowName()"}},
      {"@textShowName \"a b\"", {"textShowName(\"a)"}},
      {"@textShowName a=b", {"textShowName(a)"}},
      {"@textShowScene line1=\"a b\" line2=c", {"textShowScene(a b,c)"}},
      {"@itemShow 3 right", {"itemShow(3,1)"}},
      {"@itemShow 3", {"itemShow(3,0)"}},
      {"@itemHide", {"itemHide()"}},
      {"@itemMessage 2 before=x after=\"y z\" right", {"itemMessage(2,1,x,y z)"}},
      {"@itemGetShow 4 se=2", {"itemGetShow(4,2)"}},
      {"@itemGetShow 4", {"itemGetShow(4,0)"}},
      {"@itemGetNoshow 5", {"itemGet(5)"}},
      {"@itemLost 6", {"itemLost(6)"}},
      {"@backPos", {"backPos(0,500)"}},
      {"@backPos pos=-3 speed=2.5", {"backPos(-3,2.5)"}},
      {"@inquiryRun file=f bgm=b", {"inquiryRun(f,b,0)"}},
      {"@testimonyRun file=f ", {"inquiryRun(f,,1)"}},
      {"@inquiryDisableSpeech no=2", {"inquiryDisableSpeech(2)"}, 1},
      {"@inquiryEnableSpeech no=0", {"inquiryEnableSpeech(0)"}, 1},
      {"@inquiryExit", {"inquiryExit()"}, 1},
      {"@inquiryRewind", {"inquiryRewind()"}, 1},
      {"@courtShowKurae", {"courtShowKakegoe(-1,kurae,0)"}},
      {"@courtShowMatta right item=3 ", {"courtShowKakegoe(3,matta,1)"}},
      {"@courtShowIgi", {"courtShowKakegoe(-1,igi,0)"}},
      {"@courtHideCourtLife nowipe", {"courtHideCourtLife(1)"}},
      {"@courtShowLife", {"courtShowLife(0)"}},
      {"@courtShowLife wipe", {"courtShowLife(1)"}},
      {"@courtReduceLife", {"courtReduceLife()"}},
      {"@courtSetLife 3", {"courtSetLife(3)"}},
      {"@courtSetLife 3 ", {"courtSetLife(3)"}},
      {"@courtSetNolifeScenario target=t:l", {"courtSetNolifeScenario(t:l)"}},
      {"@courtSetLawyerBack fade", {"courtSetLawyerBack(0,0,1,1)"}},
      {"@courtSetWitnessBack noscr noclear wipe", {"courtSetWitnessBack(1,1,1,0)"}},
      {"@courtSetProsecutorBack", {"courtSetProsecutorBack(0,0,0,0)"}},
      {"@courtSetJudgeBack noscr fade", {"courtSetJudgeBack(0,1,1)"}},
      {"@courtSetGuideBack noclear", {"courtSetGuideBack(1,0,0)"}},
      {"@textShowFull", {"textShowFull()"}},
      {"@itemShowKiroku", {"itemShowKiroku(,0,0)"}},
      {"@itemShowKiroku x=1 y=2 target=t", {"itemShowKiroku(t,1,2)"}},
      {"@itemHideKiroku", {"itemHideKiroku()"}},
      {"@itemSelect item=2 success=s miss=m charaonly", {"itemSelect(1,2,s,m,0)"}},
      {"@bgmPlay", {"bgmPlay()"}},
      {"@bgmPlay file=b", {"bgmPlay(b)"}},
      {"@textShowLoud value=v", {"textShowLoud(v)"}},
      {"@courtShowPlea guilty", {"courtShowPlea(1)"}},
      {"@courtShowPlea", {"courtShowPlea(0)"}},
      {"@save target=t", {"saveGame(t)"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Exec(c.line, c.kind), "") << c.line;
    EXPECT_EQ(g_calls, c.calls) << c.line;
  }
}

TEST_F(CommandTest, TextValuesAreCutToTheirBuffers) {
  const std::string long_value(400, 'v');
  Exec("@textShowScene line1=" + long_value + " line2=" + long_value);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"textShowScene(" + std::string(255, 'v') + "," +
                                               std::string(255, 'v') + ")"}));
  Exec("@bgmPlay file=" + long_value);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"bgmPlay(" + std::string(263, 'v') + ")"}));
  Exec("@textShowName " + long_value);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"textShowName(" + std::string(263, 'v') + ")"}));
  // A positional item number is read from at most 255 bytes.
  Exec("@itemShow " + std::string(300, '0') + "7");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"itemShow(0,0)"}));
}

TEST_F(CommandTest, Errors) {
  const struct {
    const char* line;
    std::string error;
    int32_t kind = 0;
  } cases[] = {
      {"@nothing", Unknown("@nothing")},
      {"@Nothing=1 x", Unknown("@Nothing")},
      {"@goto2 target=x", Unknown("@goto2")},
      {"@", Unknown("@")},
      {"@backSet zzz", BadOption("@backSet", "zzz")},
      {"@backSet file=a ", BadOption("@backSet", "")},
      {"@frontSet wipe ", BadOption("@frontSet", "")},
      {"@charaShowRight bad", BadOption("@charaShow", "bad")},
      {"@charaHideAll ", BadOption("@charaHide", "")},
      {"@sprLoadMotion", Unknown("@sprLoadMotion")},
      {"@sprLoadMotion wait", Unknown("@sprLoadMotion")},
      {"@textShowScene line3=x", BadOption("@textShowScene", "line3")},
      {"@itemShow right 3", BadOption("@itemShow", "3")},
      {"@itemShow -1", Unknown("@itemShow")},
      {"@itemShow 3 ", BadOption("@itemShow", "")},
      {"@itemMessage 1 left", BadOption("@itemMessage", "left")},
      {"@itemGetShow -2 se=1", Unknown("@itemGetShow")},
      {"@itemLost 1 x", BadOption("@itemLost", "x")},
      {"@backPos speed=1 ", BadOption("@backPos", "")},
      {"@inquiryRun bgm=b", Unknown("@inquiryRun/@testimonyRun")},
      {"@testimonyRun file=f zz", BadOption("@inquiryRun/@testimonyRun", "zz")},
      {"@inquiryRun file=f", Error("@inquiryRun/@testimonyRunコマンドは通常シナリオ中でのみ使用可能です"), 1},
      {"@testimonyRun file=f", Error("@inquiryRun/@testimonyRunコマンドは通常シナリオ中でのみ使用可能です"),
       1},
      {"@inquiryDisableSpeech", Unknown("@inquiryDisableSpeech"), 1},
      {"@inquiryEnableSpeech no=-1", Unknown("@inquiryEnableSpeech"), 1},
      {"@inquiryDisableSpeech bogus",
       Error("@inquiryDisableSpeechコマンドは尋問シナリオ中でのみ使用可能です")},
      {"@INQUIRYENABLESPEECH no=1", Error("@inquiryEnableSpeechコマンドは尋問シナリオ中でのみ使用可能です")},
      {"@inquiryExit", Error("@inquiryExitコマンドは尋問シナリオ中でのみ使用可能です")},
      {"@inquiryRewind", Error("@inquiryRewindコマンドは尋問シナリオ中でのみ使用可能です")},
      {"@courtShowIgi bad", BadOption("@courtShowKurae/@courtShowMatta/@courtShowIgi", "bad")},
      {"@courtShowLife nowipe", BadOption("@courtShowLife", "nowipe")},
      {"@courtSetLife 3 4", BadOption("@courtSetLife", "4")},
      {"@courtSetLife -1", Unknown("@courtSetLife")},
      {"@courtSetNolifeScenario", Unknown("@courtSetNolifeScenario")},
      {"@courtSetGuideBack x",
       BadOption(
           "@courtSetLawyerBack / @courtSetWitnessBack / @courtSetProsecutorBack / @courtSetJudgeBack / "
           "@courtSetGuideBack",
           "x")},
      {"@itemShowKiroku z", BadOption("@itemShowKiroku", "z")},
      {"@itemSelect success=s miss=m", Unknown("@itemSelect")},
      {"@itemSelect item=-1 success=s miss=m", Unknown("@itemSelect")},
      {"@itemSelect item=1 miss=m", Unknown("@itemSelect")},
      {"@itemSelect item=1 success=s", Unknown("@itemSelect")},
      {"@bgmPlay x", BadOption("@bgmPlay", "x")},
      {"@sePlay file=a b", BadOption("@sePlay", "b")},
      {"@textShowLoud v", BadOption("@textShowLoud", "v")},
      {"@courtShowPlea innocent", BadOption("@courtShowPlea", "innocent")},
      {"@save x", BadOption("@save", "x")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exec(c.line, c.kind), c.error) << c.line;
    EXPECT_TRUE(g_calls.empty()) << c.line;
  }
}

TEST_F(CommandTest, TheKindMessageHoldsATrailByte5C) {
  // 能 is 0x94 0x5C in cp932: the message keeps both bytes.
  std::string shown = Exec("@inquiryExit");
  EXPECT_NE(shown.find("\x94\x5c"), std::string::npos);
  EXPECT_EQ(shown.substr(shown.size() - std::string("可能です").size()), "可能です");
}

TEST_F(CommandTest, GotoExitAndReturnActOnTheCurrentScenario) {
  EXPECT_EQ(Exec("@GOTO target=there other=1 "), "");
  EXPECT_STREQ(scenario.jump_target, "there");
  EXPECT_EQ(Exec("@goto zzz"), "");
  EXPECT_STREQ(scenario.jump_target, "");
  EXPECT_EQ(Exec("@goto target=\"a b:c\""), "");
  EXPECT_STREQ(scenario.jump_target, "a b:c");

  EXPECT_EQ(Exec("@exit"), "");
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_STREQ(scenario.result, "prev");
  EXPECT_EQ(Exec("@Exit rescode=clear1 unknown "), "");
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_STREQ(scenario.result, "clear1");
  EXPECT_EQ(Exec("@exit rescode="), "");
  EXPECT_STREQ(scenario.result, "");

  EXPECT_EQ(Exec("@return whatever=1"), "");
  EXPECT_TRUE(scenario.return_request);
  EXPECT_FALSE(scenario.exit_request);
}

TEST_F(CommandTest, HandlersThatEndTheSceneSetTheExitRequest) {
  g_answer = true;
  Exec("@inquiryRun file=f");
  EXPECT_TRUE(scenario.exit_request);
  Exec("@courtReduceLife");
  EXPECT_TRUE(scenario.exit_request);
  g_answer = false;
  Exec("@testimonyRun file=f");
  EXPECT_FALSE(scenario.exit_request);
  Exec("@courtReduceLife");
  EXPECT_FALSE(scenario.exit_request);
}

TEST_F(CommandTest, ItemSelectShoutsWhenTheWantedItemWasPresented) {
  g_shout_due = true;
  Exec("@itemSelect item=2 success=good miss=bad kurae right");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"itemSelect(0,2,good,bad,1)", "courtShowKakegoe(2,kurae,1)"}));
  EXPECT_STREQ(scenario.jump_target, "good");

  g_shout_due = false;
  Exec("@itemSelect item=2 success=good miss=bad kurae");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"itemSelect(0,2,good,bad,1)"}));
  EXPECT_STREQ(scenario.jump_target, "bad");

  // The scene ends while the record is open: nothing follows.
  g_shout_due = true;
  g_answer = true;
  Exec("@itemSelect item=2 success=good miss=bad kurae");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"itemSelect(0,2,good,bad,1)"}));
}

TEST_F(CommandTest, SePlayLooksInTheChapterFolderThenInTheSystemFolder) {
  g_sound_found = true;
  Exec("@sePlay file=knock");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"FindSoundFile(scn/t/knock)", "sePlay(scn/t/knock)"}));
  g_sound_found = false;
  Exec("@sePlay file=\\\\ding");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"FindSoundFile(scn/t//ding)", "sePlay(sys/se//ding)"}));
}

TEST_F(CommandTest, AMissingHandlerStopsThePlayNamingIt) {
  Handlers().backSet = nullptr;
  EXPECT_EQ(Exec("@backSet"), Error("backSetはまだ組み込まれていません。"));
  Handlers().FindSoundFile = nullptr;
  EXPECT_EQ(Exec("@sePlay file=x"), Error("FindSoundFileはまだ組み込まれていません。"));
}

std::string SwapCase(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c);
  return out;
}

TEST_F(CommandTest, AllFiftyFourNamesInAnyCase) {
  ASSERT_EQ(ScenarioCommandCount(), 54u);
  EXPECT_STREQ(ScenarioCommandName(0), "@sprRender");
  EXPECT_STREQ(ScenarioCommandName(53), "@save");
  EXPECT_EQ(ScenarioCommandName(54), nullptr);
  for (size_t i = 0; i < ScenarioCommandCount(); ++i) {
    const std::string name = ScenarioCommandName(i);
    std::string line = SwapCase(name);
    // The required values of the commands that have them.
    if (name == "@sprLoadMotion" || name == "@inquiryRun" || name == "@testimonyRun") line += " file=f";
    if (name == "@inquiryDisableSpeech" || name == "@inquiryEnableSpeech") line += " no=1";
    if (name == "@courtSetNolifeScenario") line += " target=t";
    if (name == "@itemSelect") line += " item=0 success=s miss=m";
    const int32_t kind = name.rfind("@inquiry", 0) == 0 && name != "@inquiryRun" ? 1 : 0;
    EXPECT_EQ(Exec(line, kind), "") << line;
    const bool scenario_request = scenario.jump_target[0] || scenario.exit_request || scenario.return_request;
    EXPECT_TRUE(!g_calls.empty() || scenario_request || name == "@goto") << line;
    for (size_t j = 0; j < i; ++j) EXPECT_STRNE(ScenarioCommandName(j), name.c_str());
  }
}

}  // namespace
}  // namespace orvane_test
