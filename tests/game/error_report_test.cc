// Error reports: the boxes' exact bytes, the error position and the game exception.
#include "game/error_report.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

using ErrorReportTest = GameTest;

// First in this program: nothing has stored an error position yet.
TEST_F(ErrorReportTest, BeforeAnyFileThePositionIsEmptyAndLineZero) {
  EXPECT_EQ(Stops([] { ScriptError("%s", "x"); }), "ファイル \"\"\n行数 0\n\nx");
}

TEST_F(ErrorReportTest, FatalErrorShowsTheBoxAndThrows) {
  EXPECT_EQ(Stops([] { FatalError("[start] 実装されていないタイトル通知"); }),
            "[start] 実装されていないタイトル通知");
}

TEST_F(ErrorReportTest, WarningMessageReturns) {
  WarningMessage("メモリが不足しています。\n");
  ASSERT_EQ(engine.Messages().size(), 1u);
  EXPECT_EQ(engine.Messages()[0].text, "メモリが不足しています。\n");
  EXPECT_EQ(engine.Messages()[0].caption, "Tale Frame");
  EXPECT_EQ(engine.Messages()[0].flag, 0);
}

TEST_F(ErrorReportTest, FixedShapesNameFileAndLine) {
  SetErrorPosition("scn/maid/start.scn", 12);
  const std::string head = "ファイル \"scn/maid/start.scn\"\n行数 12\n\n";
  EXPECT_EQ(Stops([] { TagOptionError("font", "size"); }),
            head + "タグ[font]のsizeオプションが認識できません。");
  EXPECT_EQ(Stops([] { TagError("bad"); }), head + "タグ[bad]が認識できません。");
  EXPECT_EQ(Stops([] { CommandOptionError("@backSet", "zzz"); }),
            head + "コマンド@backSetのzzzオプションが認識できません。");
  EXPECT_EQ(Stops([] { CommandError("@nothing"); }), head + "コマンド@nothingが認識できません。");
  EXPECT_EQ(Stops([] { WordError("word"); }), head + "wordが認識できません。");
  EXPECT_EQ(Stops([] { CommandOptionValueError("@a", "b", "c"); }),
            head + "コマンド@aのbオプションcが認識できません。");
  EXPECT_EQ(Stops([] { ScriptError("ワイプ \"%s\" が読み込めません。", "fade"); }),
            head + "ワイプ \"fade\" が読み込めません。");
}

TEST_F(ErrorReportTest, PositionOperations) {
  SetErrorFile("a.inq");
  EXPECT_STREQ(ErrorFileName(), "a.inq");
  EXPECT_EQ(ErrorLine(), 0);
  NextErrorLine();
  NextErrorLine();
  EXPECT_EQ(ErrorLine(), 2);
  ClearErrorLine();
  EXPECT_EQ(ErrorLine(), 0);
  SetErrorPosition(ErrorFileName(), INT32_MAX);
  NextErrorLine();
  EXPECT_EQ(ErrorLine(), INT32_MAX);
  EXPECT_STREQ(ErrorFileName(), "a.inq");
}

TEST_F(ErrorReportTest, LongFileNamesAreCutTo263Bytes) {
  const std::string name(300, 'n');
  SetErrorPosition(name.c_str(), 3);
  EXPECT_EQ(Stops([] { ScriptError("x"); }), Report(name.substr(0, 263), 3, "x"));
}

TEST_F(ErrorReportTest, CallerTextIsNeverAFormat) {
  SetErrorPosition("%s%n", 1);
  EXPECT_EQ(Stops([] { CommandError("%n%s%d"); }), Report("%s%n", 1, "コマンド%n%s%dが認識できません。"));
}

TEST_F(ErrorReportTest, LongMessagesAreCutAtACharacterBoundary) {
  // 2,070 single bytes and then double-byte characters: the first one would lose its trail byte.
  const std::string text = std::string(2070, 'a') + "\x82\xa0\x82\xa0";
  std::string shown = Stops([&] { FatalError("%s", text.c_str()); });
  EXPECT_EQ(shown, std::string(2070, 'a'));
  shown = Stops([&] { FatalError("%s", (std::string(2069, 'a') + "\x82\xa0\x82\xa0").c_str()); });
  EXPECT_EQ(shown, std::string(2069, 'a') + "\x82\xa0");
  shown = Stops([&] { FatalError("%s", std::string(3000, 'b').c_str()); });
  EXPECT_EQ(shown, std::string(2071, 'b'));
}

TEST_F(ErrorReportTest, ThrowGameExitShowsNothing) {
  EXPECT_THROW(ThrowGameExit(), DExceptGame);
  EXPECT_TRUE(engine.Messages().empty());
}

}  // namespace
}  // namespace orvane_test
