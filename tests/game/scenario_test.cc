// Scenario files, the scenario object and the runner, over the fake engine's files.
#include "game/scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/scenario_command.h"
#include "game/tokenizer.h"
#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

// What the recording handlers saw, one entry per call: "text:<line>" or "name:<name>".
std::vector<std::string> g_seen;
// The nested scenario that the inquiryRun handler runs, and what it answers.
std::string g_nested_target;
bool g_nested_answer = false;

bool RecordText(const char* text, const char* sound, uint32_t flags) {
  g_seen.push_back("text:" + std::string(text) + "|" + sound + "|" + std::to_string(flags));
  return false;
}

void RecordName(const char* name) {
  g_seen.push_back("name:" + std::string(name));
}

bool RunNested(const char*, const char*, bool) {
  DScenario* outer = CurrentScenario();
  DScenario inner;
  JumpToLabel(inner, g_nested_target.c_str());
  RunScenario(inner, 1);
  g_seen.push_back("nested result:" + std::string(inner.result));
  EXPECT_EQ(CurrentScenario(), outer);
  return g_nested_answer;
}

class ScenarioTest : public GameTest {
 protected:
  ScenarioTest() {
    g_seen.clear();
    g_nested_answer = false;
    Handlers().ShowMessage = &RecordText;
    Handlers().textShowName = &RecordName;
    Handlers().inquiryRun = &RunNested;
    SetChapterFolder("scn/t");
  }

  void File(const std::string& name, const std::string& text) {
    engine.AddFile("scn/t/" + name + ".scn", text);
  }

  // Plays from a target as a game start does.
  void Play(const char* target, DScenario& s) {
    JumpToLabel(s, target);
    RunScenario(s, 0);
  }
};

TEST_F(ScenarioTest, LoadsLinesWithCommentsStoredEmpty) {
  File("a", "first\r\n  ;comment\n\t@textShowName n\n\n:label\n");
  DScenario s;
  LoadScenarioFile(s, "a");
  EXPECT_STREQ(s.name, "scn/t/a.scn");
  EXPECT_EQ(s.line, 1);
  const char* expected[] = {"first", "", "@textShowName n", "", ":label"};
  for (const char* line : expected) {
    ASSERT_FALSE(s.AtEnd());
    EXPECT_STREQ(s.CurrentLine(), line);
    s.Next();
  }
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(s.line, 6);
  s.Next();
  EXPECT_EQ(s.line, 6);
  EXPECT_EQ(engine.OpenFileCount(), 0);
}

TEST_F(ScenarioTest, RunsTextAndCommandsAndKeepsLineNumbers) {
  File("start", "Hello\n;note\n  \x81\x40@textShowName Bob\n  :lab\n\nBye\n");
  DScenario s;
  Play("start:", s);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:Hello||3", "name:Bob", "text:Bye||3"}));
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(CurrentScenario(), nullptr);
}

TEST_F(ScenarioTest, ErrorsNameTheLineThatRuns) {
  File("start", "a\n;comment\n@nosuch\n");
  DScenario s;
  EXPECT_EQ(Stops([&] { Play("start:", s); }),
            Report("scn/t/start.scn", 3, "コマンド@nosuchが認識できません。"));
}

TEST_F(ScenarioTest, TextBeforeTheMessageOutputExistsStopsThePlay) {
  Handlers().ShowMessage = nullptr;
  File("start", "text\n");
  DScenario s;
  std::string shown = Stops([&] { Play("start:", s); });
  EXPECT_NE(shown.find("ShowMessage"), std::string::npos) << shown;
  EXPECT_EQ(shown.rfind(Report("scn/t/start.scn", 1, ""), 0), 0u) << shown;
}

TEST_F(ScenarioTest, JumpsToLabelsInTheFileAndInOthers) {
  File("start", "@goto target=second\nskipped\n:second\n@goto target=other:far\nskipped too\n");
  File("other", "first of other\n:FAR\nin other\n@exit rescode=done\n");
  DScenario s;
  Play("start:", s);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:in other||3"}));
  EXPECT_STREQ(s.result, "done");
  EXPECT_TRUE(s.exit_request);
  EXPECT_STREQ(s.name, "scn/t/other.scn");
}

TEST_F(ScenarioTest, TargetWithAFilePartReloadsEvenTheSameFile) {
  File("start", "@textShowName change\n@goto target=start:l\n:l\nold\n");
  Handlers().textShowName = [](const char*) {
    FakeEngine::Current()->AddFile("scn/t/start.scn", "x\n:L\nnew\n");
  };
  DScenario s;
  Play("start:", s);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:new||3"}));
  EXPECT_EQ(s.line, 4);
}

TEST_F(ScenarioTest, TargetWithAFileAndNoLabelStartsAtTheFirstLine) {
  File("start", "@goto target=b:\n");
  File("b", "one\ntwo\n");
  DScenario s;
  Play("start:", s);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:one||3", "text:two||3"}));
}

TEST_F(ScenarioTest, FirstOfTwoEqualLabelsWinsAndLabelsCompareWhole) {
  File("start", ":L\nfirst\n@exit\n:l\nsecond\n:x \nblank label\n");
  DScenario s;
  Play("start:l", s);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:first||3"}));
  DScenario t;
  const std::string expected =
      Report(ErrorFileName(), ErrorLine(), "ジャンプ先ラベル \"x\" が見つかりません。");
  EXPECT_EQ(Stops([&] { JumpToLabel(t, "start:x"); }), expected);
}

TEST_F(ScenarioTest, MissingFileAndMissingLabelKeepTheJumpingLine) {
  File("start", "ok\n@goto target=gone:x\n");
  DScenario s;
  EXPECT_EQ(Stops([&] { Play("start:", s); }),
            Report("scn/t/start.scn", 2, "ファイル \"scn/t/gone.scn\" が開けません。"));
  File("empty", "");
  File("start", "ok\n\n@goto target=empty:x\n");
  DScenario t;
  EXPECT_EQ(Stops([&] { Play("start:", t); }),
            Report("scn/t/start.scn", 3, "ジャンプ先ラベル \"x\" が見つかりません。"));
  EXPECT_EQ(engine.OpenFileCount(), 0);
}

TEST_F(ScenarioTest, LoneColonIsAMissingLabelAndNeverReruns) {
  File("start", "a\n@goto target=:\n");
  DScenario s;
  EXPECT_EQ(Stops([&] { Play("start:", s); }),
            Report("scn/t/start.scn", 2, "ジャンプ先ラベル \"\" が見つかりません。"));
  EXPECT_EQ(g_seen.size(), 1u);
  DScenario t;
  const std::string expected =
      Report(ErrorFileName(), ErrorLine(), "ジャンプ先ラベル \"\" が見つかりません。");
  EXPECT_EQ(Stops([&] { JumpToLabel(t, ":::"); }), expected);
}

TEST_F(ScenarioTest, EmptyTargetLoadsNothing) {
  DScenario s;
  JumpToLabel(s, "");
  RunScenario(s, 0);
  EXPECT_TRUE(s.AtEnd());
  EXPECT_TRUE(engine.Calls().empty());
}

TEST_F(ScenarioTest, SplitTarget) {
  const struct {
    const char* target;
    const char* default_file;
    const char* file;
    const char* label;
  } cases[] = {
      {"label", nullptr, "", "label"}, {"f:l", nullptr, "f", "l"},
      {"a:f:l", nullptr, "f", "l"},    {"f:", nullptr, "f", ""},
      {":l", "def", "def", "l"},       {"l", "def", "def", "l"},
      {"x:y", "def", "x", "y"},        {":", nullptr, "", ""},
      {"", nullptr, "", ""},           {"\x95\x5c:\x95\x5c", nullptr, "\x95\x5c", "\x95\x5c"},
  };
  for (const auto& c : cases) {
    char file[264], label[264];
    DScenario::SplitTarget(c.target, file, sizeof(file), label, sizeof(label), c.default_file);
    EXPECT_STREQ(file, c.file) << c.target;
    EXPECT_STREQ(label, c.label) << c.target;
  }
  char file[264], label[264];
  const std::string long_target = std::string(300, 'f') + ":" + std::string(300, 'l');
  DScenario::SplitTarget(long_target.c_str(), file, sizeof(file), label, sizeof(label), nullptr);
  EXPECT_EQ(std::string(file), std::string(263, 'f'));
  EXPECT_EQ(std::string(label), std::string(263, 'l'));
}

TEST_F(ScenarioTest, ExitInANestedRunEndsOnlyThatRun) {
  g_nested_target = "inner:";
  File("inner", "inside\n@exit rescode=in\nnever\n");
  File("start", "before\n@inquiryRun file=x\nafter\n");
  DScenario s;
  Play("start:", s);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:before||3", "text:inside||3", "nested result:in",
                                              "text:after||3"}));
  EXPECT_FALSE(s.exit_request);
  EXPECT_EQ(CurrentScenario(), nullptr);

  // The command that started the nested run asks for an exit of its own.
  g_seen.clear();
  g_nested_answer = true;
  DScenario t;
  Play("start:", t);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"text:before||3", "text:inside||3", "nested result:in"}));
  EXPECT_TRUE(t.exit_request);
}

TEST_F(ScenarioTest, CurrentScenarioIsRestoredWhenAnErrorUnwinds) {
  g_nested_target = "inner:";
  File("inner", "@nosuch\n");
  File("start", "@inquiryRun file=x\n");
  DScenario s;
  Stops([&] { Play("start:", s); });
  EXPECT_EQ(CurrentScenario(), nullptr);
}

TEST_F(ScenarioTest, ReturnEndsTheRunAndLinkTargetsJump) {
  File("start", "@return\nnever\n");
  DScenario s;
  Play("start:", s);
  EXPECT_TRUE(s.return_request);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_FALSE(s.AtEnd());

  // A link target left by the message output becomes the jump.
  Handlers().ShowMessage = [](const char* text, const char*, uint32_t) {
    g_seen.push_back(text);
    if (std::string(text) == "choose") DStrCopyTo(DString("there"), CurrentScenario()->link_target, 264);
    return false;
  };
  File("start", "choose\nskipped\n:there\nlanded\n");
  DScenario t;
  Play("start:", t);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"choose", "landed"}));
  EXPECT_STREQ(t.link_target, "");
}

TEST_F(ScenarioTest, ResetEmptiesEverything) {
  File("start", "a\n@exit rescode=r\n");
  DScenario s;
  Play("start:", s);
  s.Reset();
  EXPECT_STREQ(s.name, "");
  EXPECT_EQ(s.line, 0);
  EXPECT_TRUE(s.AtEnd());
  EXPECT_STREQ(s.result, "");
  EXPECT_FALSE(s.exit_request);
  EXPECT_STREQ(s.CurrentLine(), "");
}

TEST_F(ScenarioTest, LongLinesArriveInPiecesAndEachPieceIsALine) {
  File("start", std::string(1500, 'x') + "\n@nosuch\n");
  DScenario s;
  EXPECT_EQ(Stops([&] { Play("start:", s); }),
            Report("scn/t/start.scn", 3, "コマンド@nosuchが認識できません。"));
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].size(), std::string("text:||3").size() + 1023);
}

}  // namespace
}  // namespace orvane_test
