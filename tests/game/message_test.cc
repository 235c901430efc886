// Message output on the virtual clock and the canvas model: tags, typing, ruby, page waits with
// links and right clicks, the window commands and text lines run by the scenario runner.
#include "game/message.h"

#include <string>
#include <vector>

#include "game/choice.h"
#include "game/text_layer.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

constexpr int32_t kLeftDown = 0, kRightDown = 2, kCtrl = 0x1D;

std::vector<std::string> g_log;
bool g_exit_on_check = false;

class MessageTest : public SpriteTest {
 protected:
  MessageTest() {
    g_log.clear();
    g_exit_on_check = false;
    MessageTableHooks() = MessageHooks{};
    SetErrorPosition("scn/m.scn", 9);
    SetScreenSize(800, 600);
    engine.AddFile("sys/text_msg.spr", "@sprite file=win");
    engine.AddFile("sys/win.png", FakeEngine::PngFile(800, 200));
    engine.AddFile("sys/cursor_np.spr", "@sprite file=np");
    engine.AddFile("sys/np.png", FakeEngine::PngFile(16, 10));
    engine.AddFile("sys/se/文字クリック.wav", "RIFF");
    engine.AddFile("sys/se/x.wav", "RIFF");
    InitTextLayers();
    textShowMessage();
    engine.ClearCalls();
  }
  ~MessageTest() override { MessageTableHooks() = MessageHooks{}; }

  DTextLayer& Def() { return TextLayer(0); }
  // Runs ShowMessage; the error box's text, or "true"/"false".
  std::string Show(const std::string& text, const char* sound = "", uint32_t flags = 0) {
    const size_t before = engine.Messages().size();
    try {
      return ShowMessage(text.c_str(), sound, flags) ? "true" : "false";
    } catch (const DExceptGame&) {
      EXPECT_EQ(engine.Messages().size(), before + 1);
      return engine.Messages().back().text;
    }
  }
  // Codes rendered since the last look (main text and ruby).
  std::vector<uint32_t> Rendered() {
    std::vector<uint32_t> out;
    for (const std::string& c : engine.Calls())
      if (c.rfind("ovRenderChar(", 0) == 0) out.push_back(std::stoul(c.substr(13)));
    return out;
  }
  int Count(const std::string& call) {
    int n = 0;
    for (const std::string& c : engine.Calls()) n += c == call;
    return n;
  }
  // The screen centre of link i of the page.
  std::pair<int32_t, int32_t> LinkCentre(size_t i) {
    const DTextLink& l = *Def().links.at(i);
    return {Def().x + (l.left + l.right) / 2, Def().y + (l.top + l.bottom) / 2};
  }
};

TEST_F(MessageTest, TagsRunOrStopThePlayWithTheirMessage) {
  struct Case {
    const char* text;
    const char* result;  // "false" or the message after the position
    int32_t line;        // the pen's line afterwards
  };
  const Case cases[] = {
      {"a[BR]b", "false", 1},
      {"a[br x=1]b", "false", 1},
      {"a[b][/b][i][/i][c][cr][cg][cb][cy]b", "false", 0},
      {"[link target=a]x[/link]", "false", 0},
      {"[link]x[/link]", "false", 0},
      {"[link url=a]", "タグ[link]のurlオプションが認識できません。", 0},
      {"[w]", "タグ[w]の待ち時間オプションが認識できません。", 0},
      {"[w ]", "タグ[w]の待ち時間オプションが認識できません。", 0},
      {"[zz]", "タグ[zz]が認識できません。", 0},
      {"[]", "タグ[]が認識できません。", 0},
  };
  for (const Case& c : cases) {
    ClearTextLayer("def");
    const std::string result = Show(c.text);
    if (std::string(c.result) == "false") {
      EXPECT_EQ(result, "false") << c.text;
      EXPECT_EQ(Def().line, c.line) << c.text;
    } else {
      EXPECT_EQ(result, Report("scn/m.scn", 9, c.result)) << c.text;
    }
  }
  // The link's label is the target's value, exactly.
  ClearTextLayer("def");
  Show("[link target=\"a b\" target=abc]xy[/link]");
  ASSERT_EQ(Def().links.size(), 1u);
  EXPECT_STREQ(Def().links[0]->target, "abc");
}

TEST_F(MessageTest, WaitTagTakesTheFirstNamedItemAndIgnoresCtrl) {
  SetTextLayerCharWait("def", 0);
  struct Case {
    const char* text;
    uint32_t ms;
  };
  const Case cases[] = {{"[w 500]", 500},    {"[W 120 9]", 120}, {"[w abc]", 0},
                        {"[w time=500]", 0}, {"[w -5]", 0},      {"[w  \"\" 40]", 0}};
  engine.ScriptKey(engine.Now(), kCtrl, true);
  for (const Case& c : cases) {
    const DWORD t = engine.Now();
    engine.ScriptMouse(t + 1, kLeftDown, 0, 0);
    EXPECT_EQ(Show(c.text), "false");
    const DWORD took = engine.Now() - t;
    EXPECT_GE(took, c.ms) << c.text;
    EXPECT_LE(took, c.ms + 2) << c.text;
  }
}

TEST_F(MessageTest, TypingWaitsPerCharacterAndPlaysTheSound) {
  // 30 ms per character.
  DWORD t = engine.Now();
  EXPECT_EQ(Show("abcd", "sys/se/x"), "false");
  EXPECT_EQ((engine.Now() - t + 5) / 10, 12u);
  EXPECT_EQ(Count("ovPlaySound(sys/se/x.wav, 0)"), 4);
  // Blanks type without a sound; a backslash is never shown.
  engine.ClearCalls();
  Show("a \t　b\\c", "sys/se/x");
  EXPECT_EQ(Count("ovPlaySound(sys/se/x.wav, 0)"), 3);
  EXPECT_EQ(Rendered(), (std::vector<uint32_t>{'a', ' ', '\t', 0x8140, 'b', 'c'}));
  // Ctrl held: no delay, the sound for each character.
  engine.ClearCalls();
  engine.ScriptKey(engine.Now() + 1, kCtrl, true);
  SetTextLayerCharWait("def", 0);
  Show("x");
  SetTextLayerCharWait("def", 30);
  t = engine.Now();
  Show("abcdefgh", "sys/se/x");
  EXPECT_LE(engine.Now() - t, 16u);
  EXPECT_EQ(Count("ovPlaySound(sys/se/x.wav, 0)"), 8);
  // Wait 0: no delay either.
  engine.ScriptKey(engine.Now() + 1, kCtrl, false);
  SetTextLayerCharWait("def", 0);
  Show("x");
  t = engine.Now();
  Show("abcdefgh");
  EXPECT_LE(engine.Now() - t, 16u);
}

TEST_F(MessageTest, RubyGoesOverTheFirstKanjiAndBracketsInBracesAreText) {
  SetTextLayerCharWait("def", 0);
  engine.AddFile("sys/se/y.wav", "RIFF");
  Show("{かな}漢字", "sys/se/y");
  // Ruby is collected (each character with its sound), then drawn with the first kanji.
  const std::vector<uint32_t> r = Rendered();
  ASSERT_GE(r.size(), 4u);
  EXPECT_EQ(Count("ovPlaySound(sys/se/y.wav, 0)"), 4);
  EXPECT_EQ(r.front(), 0x8ABFu);  // 漢 first, then its ruby, then 字 without it
  EXPECT_EQ(r[1], 0x82A9u);
  EXPECT_EQ(r[2], 0x82C8u);
  EXPECT_EQ(r.back(), 0x8E9Au);
  EXPECT_EQ(r[r.size() - 2], 0x82C8u);
  EXPECT_FALSE(IsRubyMode());
  // "[" inside braces is ruby text, not a tag.
  engine.ClearCalls();
  EXPECT_EQ(Show("{[zz]}a"), "false");
  const std::vector<uint32_t> ruby = Rendered();  // measured, then drawn over the "a"
  ASSERT_EQ(ruby.size(), 9u);
  EXPECT_EQ(ruby[0], uint32_t{'a'});
  EXPECT_EQ(std::vector<uint32_t>(ruby.begin() + 1, ruby.begin() + 5),
            (std::vector<uint32_t>{'[', 'z', 'z', ']'}));
}

TEST_F(MessageTest, CountVisibleCharsStepsOverDoubleByteCharacters) {
  struct Case {
    const char* text;
    int32_t count;
  };
  const Case cases[] = {{"abc", 3},
                        {"{かな}漢", 3},
                        {"ボ{x}a", 4},
                        {"{ab", 0},
                        {"a}", 2},
                        {"", 0},
                        {"漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢", 32},
                        {"ボボ", 4},
                        {"\x83", 1}};
  for (const Case& c : cases) EXPECT_EQ(CountVisibleChars(c.text), c.count) << c.text;
}

TEST_F(MessageTest, PageWaitShowsTheCursorAtThePenAndClearsThePage) {
  SetTextLayerCharWait("def", 0);
  Show("ab");
  int32_t x = 0, y = 0;
  GetPageCursorPos(&x, &y);
  const DWORD t = engine.Now();
  engine.ScriptMouse(t + 50, kLeftDown, 700, 10);
  engine.ClearCalls();
  EXPECT_EQ(Show("[np]c", "", 2), "false");
  EXPECT_GE(engine.Now() - t, 50u);
  EXPECT_EQ(Sprite(kPageCursorSprite).req_x, x);
  EXPECT_EQ(Sprite(kPageCursorSprite).req_y, y);
  EXPECT_FALSE(sprIsShown(kPageCursorSprite));
  EXPECT_EQ(Count("ovPlaySound(sys/se/文字クリック.wav, 0)"), 1);
  // A new page: only "c" on it.
  EXPECT_EQ(Def().column, 1);
  EXPECT_EQ(Def().line, 0);
}

TEST_F(MessageTest, APageOfLinksWaitsForOneOfThem) {
  SetTextLayerCharWait("def", 0);
  DScenario scenario;
  CurrentScenarioScope scope(&scenario);
  Show("[link target=a]AA[/link]  [link target=b]BB[/link]");
  ASSERT_EQ(Def().links.size(), 2u);
  const auto b = LinkCentre(1);
  const DWORD t = engine.Now();
  engine.ScriptMouse(t + 10, kLeftDown, 790, 590);   // elsewhere: nothing
  engine.ScriptMouse(t + 20, kRightDown, 790, 590);  // flags 0: refused
  engine.ScriptMouse(t + 30, kLeftDown, b.first, b.second);
  EXPECT_EQ(Show("[np]"), "false");
  EXPECT_EQ(engine.Now() - t, 30u);
  EXPECT_STREQ(scenario.link_target, "b");
  EXPECT_FALSE(scenario.right_click_request);
  EXPECT_TRUE(Def().links.empty());
  EXPECT_FALSE(ChoiceActive());
}

TEST_F(MessageTest, RightClickAllowedWaitsAgainUntilTheSystemButtonsAreBuilt) {
  DScenario scenario;
  CurrentScenarioScope scope(&scenario);
  DWORD t = engine.Now();
  engine.ScriptMouse(t + 10, kRightDown, 5, 5);
  engine.ScriptMouse(t + 20, kLeftDown, 5, 5);
  EXPECT_EQ(Show("[np]", "", 3), "false");
  EXPECT_EQ(engine.Now() - t, 20u);
  EXPECT_FALSE(scenario.right_click_request);  // cleared by the second wait
  // A system-button check that asks the scenario to exit: the page stays, no click sound.
  MessageTableHooks().HandleSystemButtons = [] {
    g_log.push_back("check");
    CurrentScenario()->exit_request = true;
    return true;
  };
  MessageTableHooks().itemHideKiroku = [] { g_log.push_back("kiroku"); };
  SetTextLayerCharWait("def", 0);
  engine.ClearCalls();
  t = engine.Now();
  engine.ScriptMouse(t + 10, kRightDown, 5, 5);
  EXPECT_EQ(Show("ab[np]cd", "", 3), "true");
  EXPECT_EQ(g_log, (std::vector<std::string>{"check", "kiroku"}));
  EXPECT_EQ(Rendered(), (std::vector<uint32_t>{'a', 'b'}));
  EXPECT_EQ(Count("ovPlaySound(sys/se/文字クリック.wav, 0)"), 0);
  EXPECT_EQ(Def().column, 2);
}

TEST_F(MessageTest, WindowCommandsSetUpDefAndRestoreUnlessExiting) {
  MessageTableHooks().textShowName = [](const char* name) {
    g_log.push_back("name(" + std::string(name) + ")");
  };
  struct Case {
    const char* command;
    int32_t size, chars, lines, wait;
    float green;
  };
  // The values while the command's own text is typed, caught by the page wait.
  static Case seen;
  MessageTableHooks().itemHideKiroku = [] {
    const DTextLayer& d = TextLayer(0);
    seen = {"", d.font_size, d.line_width / 2, d.max_lines, d.default_char_wait, d.color[1]};
  };
  auto click_soon = [this] { engine.ScriptMouse(engine.Now() + 1, kLeftDown, 0, 0); };
  engine.ScriptKey(engine.Now(), kCtrl, true);
  click_soon();
  textShowLoud("loud");
  EXPECT_EQ(seen.size, 60);
  EXPECT_EQ(seen.chars, 11);
  EXPECT_EQ(seen.lines, 2);
  EXPECT_EQ(seen.wait, 200);
  EXPECT_FLOAT_EQ(seen.green, 0.85f);  // [cg]
  EXPECT_EQ(Def().font_size, 40);      // restored
  EXPECT_EQ(Def().default_char_wait, 30);
  click_soon();
  textShowScene("一", "二");
  EXPECT_EQ(seen.size, 40);
  EXPECT_EQ(seen.lines, 2);
  EXPECT_EQ(seen.wait, 200);
  EXPECT_EQ(g_log, (std::vector<std::string>{"name()"}));
  EXPECT_EQ(Def().max_lines, 3);
  textShowFull();
  EXPECT_EQ(Def().max_lines, 11);
  EXPECT_EQ(Def().default_char_wait, 0);
  EXPECT_EQ(Def().width, 800);
  EXPECT_EQ(Def().height, 600);
  textShowMessage();
  EXPECT_EQ(Def().y, 400);
  EXPECT_EQ(Def().max_lines, 3);
  EXPECT_EQ(Def().line_width / 2, 16);
  EXPECT_EQ(Def().char_wait, 30);
  EXPECT_FLOAT_EQ(Def().shadow_color[0], 0.2f);
  EXPECT_TRUE(sprIsValid(kPageCursorSprite));
  // Exiting during the page wait: the loud window stays.
  DScenario scenario;
  CurrentScenarioScope scope(&scenario);
  MessageTableHooks().HandleSystemButtons = [] {
    CurrentScenario()->exit_request = true;
    return false;
  };
  click_soon();
  textShowLoud("x");
  EXPECT_EQ(Def().font_size, 60);
}

TEST_F(MessageTest, ItemMessageAndStatementsGoThroughTheHooks) {
  SetTextLayerCharWait("def", 0);
  MessageTableHooks().itemShow = [](int32_t n, bool right) {
    g_log.push_back("show " + std::to_string(n) + (right ? " right" : " left"));
  };
  MessageTableHooks().itemName = [](int32_t) { return "N"; };
  MessageTableHooks().itemHide = [] { g_log.push_back("hide"); };
  MessageTableHooks().charaShow = [](const char* file, int32_t cls, int32_t x, int32_t y, bool nowipe) {
    g_log.push_back(std::string("chara ") + file + " " + std::to_string(cls) + " " + std::to_string(x) + " " +
                    std::to_string(y) + (nowipe ? " nowipe" : ""));
  };
  engine.ScriptMouse(engine.Now() + 5, kLeftDown, 0, 0);
  itemMessage(3, true, "a", "b");
  EXPECT_EQ(g_log, (std::vector<std::string>{"show 3 right", "hide"}));
  EXPECT_EQ(Rendered(), (std::vector<uint32_t>{'a', 'N', 'b'}));
  g_log.clear();
  engine.ClearCalls();
  ShowStatement(1, "wit", 10, 20, "s", "L");
  ShowStatement(3, "wit", 1, 2, "t", "");
  ShowStatement(2, "wit", 1, 2, "u", "");
  EXPECT_EQ(g_log, (std::vector<std::string>{"chara wit 1 10 20 nowipe", "chara wit 1 1 2"}));
  EXPECT_EQ(Rendered(), (std::vector<uint32_t>{'L', 's', 't', 'u'}));
}

TEST_F(MessageTest, OddTextEndsCleanly) {
  SetTextLayerCharWait("def", 0);
  const std::string long_name(2000, 'n');
  struct Case {
    std::string text;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"a[br", "false"},
      {"a[link target=x", "false"},
      {"{かな", "false"},
      {"ab\x83", "false"},
      {"a\r\nb\rc", "false"},
      {"[" + long_name + "]",
       Report("scn/m.scn", 9, "タグ[" + std::string(1023, 'n') + "]が認識できません。")},
      {"[br " + long_name + "=" + long_name + "]", "false"},
      {"[link target=" + std::string(2000, 't') + "]a[/link]", "false"},
      {"{" + std::string(300, 'r') + "}a", "false"},
  };
  for (const Case& c : cases) {
    ClearTextLayer("def");
    EXPECT_EQ(Show(c.text), c.result) << c.text.substr(0, 20);
  }
  ClearTextLayer("def");
  engine.ClearCalls();
  Show("a\r\nb\rc\x83");
  EXPECT_EQ(Rendered(), (std::vector<uint32_t>{'a', 'b', 'c'}));
}

TEST_F(MessageTest, TextLinesAndCommandsRunThroughTheScenario) {
  Handlers() = BuiltGameHandlers();
  SetChapterFolder("scn/c");
  engine.AddFile("scn/c/start.scn",
                 "@textShowMessage\n"
                 "ab[np]\n"
                 "@sePlay file=x\n"
                 "[link target=next]go[/link][np]\n"
                 "@exit rescode=no\n"
                 ":next\n"
                 "cd[np]\n"
                 "@textShowFull\n"
                 "@exit rescode=ok\n");
  engine.ScriptKey(engine.Now(), kCtrl, true);  // runs through the plain page waits
  DScenario scenario;
  {
    CurrentScenarioScope scope(&scenario);
    JumpToLabel(scenario, "start:");
    // The link page waits for the link: move there and click once it is drawn.
    MessageTableHooks().itemHideKiroku = [] {};
    const DWORD t = engine.Now();
    for (int i = 1; i < 400; ++i) engine.ScriptMouse(t + 5 * i, kLeftDown, 20 + 43, 400 + 40);
    try {
      RunScenario(scenario, 0);
    } catch (const DExceptGame&) {
      ADD_FAILURE() << (engine.Messages().empty() ? "exit" : engine.Messages().back().text);
    }
  }
  EXPECT_STREQ(scenario.result, "ok");
  EXPECT_EQ(Count("ovPlaySound(sys/se/x.wav, 0)"), 1);
  EXPECT_EQ(Def().max_lines, 11);
}

}  // namespace
}  // namespace orvane_test
