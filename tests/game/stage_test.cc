// The stage on the fake engine: the engine settings, the title set-up, the logo on its frames,
// the background, the click cursors, the stage reset and the clean-up.
#include "game/stage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/choice.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

class StageTest : public GameTest {
 protected:
  StageTest() {
    SetTimerRedraw(&sprRender);
    SetErrorPosition("scn/s.scn", 3);
  }

  // A one-picture definition "<name>.spr" with its picture "<name>.png".
  void Picture(const std::string& name, int32_t w, int32_t h) {
    const std::string base = name.substr(name.rfind('/') + 1);
    engine.AddFile(name + ".spr", "@sprite file=" + base);
    engine.AddFile(name + ".png", FakeEngine::PngFile(w, h));
  }
  void SystemFiles() {
    Picture("sys/logo", 200, 100);
    Picture("sys/cursor_blank", 8, 8);
    engine.AddFile("sys/wipe_bg.png", FakeEngine::PngFile(800, 600));
  }
  // The calls whose names start with one of the prefixes, in order.
  std::vector<std::string> CallsOf(const std::vector<std::string>& prefixes) const {
    std::vector<std::string> out;
    for (const std::string& call : engine.Calls())
      for (const std::string& p : prefixes)
        if (call.rfind(p, 0) == 0) {
          out.push_back(call);
          break;
        }
    return out;
  }
  static bool Shows(const FakeEngine::Frame& frame, const std::string& image) {
    for (const auto& s : frame.sprites)
      if (s.image_name == image) return true;
    return false;
  }
};

TEST_F(StageTest, SetupEngineMakesTheSettingsInOrder) {
  SetupEngine(800, 600, false);
  EXPECT_EQ(engine.Calls(),
            (std::vector<std::string>{
                "ovSetTitle(Tale Frame)",
                "ovUseGDI(1)",
                "ovSetCopyright(Tale Frame\nThis program and its data are protected by copyright.)",
                "ovCheckSystemName(LUMENARK_TALE_FRAME)",
                "ovSetWindowSize(800, 600)",
                "ovSetTimePause(0)",
                "ovSetFPS(60)",
                "ovtsSetLinearMode(1)",
                "ovSetFullscreen(0)",
            }));
  EXPECT_EQ(GetScreenWidth(), 800);
  EXPECT_EQ(GetScreenHeight(), 600);
  engine.ClearCalls();
  SetupEngine(320, 240, true);
  EXPECT_EQ(engine.Calls()[4], "ovSetWindowSize(320, 240)");
  EXPECT_EQ(engine.Calls()[8], "ovSetFullscreen(1)");
  EXPECT_TRUE(engine.Fullscreen());
}

TEST_F(StageTest, InitGameThenSetupTitle) {
  SystemFiles();
  InitGame(800, 600, false);
  EXPECT_EQ(engine.Title(), "Tale Frame");
  // A black background of the screen size, no cursors (their pictures are missing), no choice.
  ASSERT_TRUE(sprIsValid(kBackgroundSprite));
  EXPECT_EQ(Sprite(kBackgroundSprite).w, 800);
  EXPECT_EQ(Sprite(kBackgroundSprite).h, 600);
  EXPECT_EQ(Sprite(kBackgroundSprite).level, 1);
  EXPECT_TRUE(sprIsShown(kBackgroundSprite));
  EXPECT_FALSE(sprIsValid(kWaitCursorSprite));
  EXPECT_FALSE(sprIsValid(kPageCursorSprite));
  EXPECT_FALSE(ChoiceActive());
  EXPECT_EQ(FindWipe("fade"), nullptr);

  SetupTitle();
  EXPECT_EQ(engine.Title(), "Orchid Verdict");
  const struct {
    const char* name;
    bool mask;
    uint32_t time;
  } wipes[] = {{"logofade", false, 1000},
               {"fade", false, 500},
               {"bg", true, 500},
               {"wipe", true, 500},
               {"slowwipe", true, 1000}};
  for (const auto& w : wipes) {
    const DWipe* wipe = FindWipe(w.name);
    ASSERT_NE(wipe, nullptr) << w.name;
    EXPECT_EQ(static_cast<bool>(wipe->wipe), w.mask) << w.name;
    EXPECT_EQ(wipe->time, w.time) << w.name;
    EXPECT_EQ(wipe->after_wait, 0u) << w.name;
  }
  EXPECT_EQ(CallsOf({"ovtsLoadWipe"}), std::vector<std::string>(3, "ovtsLoadWipe(sys/wipe_bg.png)"));
  const char* layers[] = {"def", "sub", "system"};
  for (int32_t level = 0; level < 3; ++level) {
    const int32_t i = FindTextLayer(layers[level]);
    ASSERT_GE(i, 0) << layers[level];
    EXPECT_EQ(TextLayer(i).level, 80 + level) << layers[level];
  }
  CleanupGame();
}

TEST_F(StageTest, LogoStaysWhateverThePlayerDoesThenFadesOut) {
  SystemFiles();
  InitGame(800, 600, false);
  SetupTitle();
  const DWORD start = engine.Now();
  const size_t first = engine.Frames().size();
  engine.ScriptMouse(start + 1200, 0, 400, 300);  // a click on the logo
  engine.ScriptKey(start + 1300, 0x1C, true);     // and Return
  ShowLogo();
  const auto& frames = engine.Frames();
  DWORD shown_from = 0, shown_until = 0;
  bool faded_in = false;
  for (size_t i = first; i < frames.size(); ++i) {
    if (!Shows(frames[i], "sys/logo.png")) continue;
    if (!shown_from) shown_from = frames[i].time;
    shown_until = frames[i].time;
    for (const auto& s : frames[i].sprites)
      if (s.image_name == "sys/logo.png" && s.alpha[3] > 0 && s.alpha[3] < 1) faded_in = true;
  }
  EXPECT_TRUE(faded_in);
  // In through the 1000-ms fade, 1500 ms on screen, out through the same fade.
  EXPECT_GE(shown_until - shown_from, 1000u + 1500u);
  EXPECT_LE(shown_until - shown_from, 1000u + 1500u + 1000u + 20u);
  EXPECT_GE(engine.Now() - start, 3500u);
  EXPECT_FALSE(sprIsValid(kLogoSprite));
  EXPECT_FALSE(Shows(frames.back(), "sys/logo.png"));
  EXPECT_TRUE(Shows(frames.back(), ""));  // the black background
  // The stage reset put the blank page cursor into sprite 2, hidden.
  EXPECT_TRUE(sprIsValid(kPageCursorSprite));
  EXPECT_FALSE(sprIsShown(kPageCursorSprite));
  EXPECT_EQ(Sprite(kPageCursorSprite).level, 96);
  CleanupGame();
}

TEST_F(StageTest, SetBackgroundImageColourOrNeither) {
  SystemFiles();
  InitGame(640, 480, false);
  Picture("sys/title_bg", 640, 480);
  struct Case {
    const char* image;
    const char* color;
    const char* image_name;  // of the background's picture; "" for a colour
    int32_t w, h;
  };
  const Case cases[] = {
      {"sys/title_bg", "", "sys/title_bg.png", 640, 480},
      {"sys/title_bg", "black", "sys/title_bg.png", 640, 480},  // the image wins
      {"", "#ff000080", "<#ff000080>", 640, 480},
      {nullptr, "white", "<white>", 640, 480},
  };
  for (const Case& c : cases) {
    SetBackground(c.image, c.color, "none");
    const DSprite& s = Sprite(kBackgroundSprite);
    EXPECT_TRUE(sprIsShown(kBackgroundSprite));
    EXPECT_EQ(s.sprite_class, 3);
    EXPECT_EQ(s.level, 1);
    EXPECT_EQ(std::string(s.subs[0].image->name), c.image_name);
    EXPECT_EQ(s.w, c.w);
    EXPECT_EQ(s.h, c.h);
  }
  EXPECT_EQ(Stops([] { SetBackground("", "", "none"); }),
            Report("scn/s.scn", 3, "背景の種類が指定されていません。"));
  EXPECT_EQ(Stops([] { SetBackground(nullptr, nullptr, "none"); }),
            Report("scn/s.scn", 3, "背景の種類が指定されていません。"));
  CleanupGame();
}

TEST_F(StageTest, ClickCursorsPresentAbsentOrWithoutDefinition) {
  SystemFiles();
  struct Case {
    const char* name;
    bool cursor0_picture, cursor0_def, cursor1_picture, cursor1_def;
    bool wait_valid, page_valid;
    const char* error;  // the definition file that is missing, or null
  };
  const Case cases[] = {
      {"both", true, true, true, true, true, true, nullptr},
      {"none", false, false, false, false, false, false, nullptr},
      {"definition only", false, true, false, true, false, false, nullptr},
      {"page cursor only", false, false, true, true, false, true, nullptr},
      {"picture without definition", true, false, false, false, false, false, "cursor0.spr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* f : {"cursor0.png", "cursor0.spr", "cursor1.png", "cursor1.spr"}) engine.RemoveFile(f);
    if (c.cursor0_picture) engine.AddFile("cursor0.png", FakeEngine::PngFile(16, 16));
    if (c.cursor0_def) engine.AddFile("cursor0.spr", "@sprite file=cursor0");
    if (c.cursor1_picture) engine.AddFile("cursor1.png", FakeEngine::PngFile(16, 16));
    if (c.cursor1_def) engine.AddFile("cursor1.spr", "@sprite file=cursor1");
    if (c.error) {
      const std::string box = Stops([] { InitGame(800, 600, false); });
      EXPECT_NE(box.find(c.error), std::string::npos) << box;
      CleanupGame();
      continue;
    }
    InitGame(800, 600, false);
    SetupTitle();
    EXPECT_EQ(sprIsValid(kWaitCursorSprite), c.wait_valid);
    EXPECT_EQ(sprIsValid(kPageCursorSprite), c.page_valid);
    for (int32_t slot : {kWaitCursorSprite, kPageCursorSprite}) {
      if (!sprIsValid(slot)) continue;
      EXPECT_FALSE(sprIsShown(slot));
      EXPECT_EQ(Sprite(slot).level, 96);
      EXPECT_EQ(Sprite(slot).sprite_class, 1);
    }
    // A stage reset puts the blank cursor into sprite 2 whatever was there.
    ResetStage();
    EXPECT_TRUE(sprIsValid(kPageCursorSprite));
    EXPECT_EQ(std::string(Sprite(kPageCursorSprite).subs[0].image->name), "sys/cursor_blank.png");
    HideClickCursors();
    EXPECT_FALSE(sprIsValid(kWaitCursorSprite));
    EXPECT_FALSE(sprIsValid(kPageCursorSprite));
    CleanupGame();
  }
}

TEST_F(StageTest, ResetStageClearsScriptSpritesLayersLinksAndButtons) {
  SystemFiles();
  InitGame(800, 600, false);
  SetupTitle();
  Picture("b", 50, 20);
  LoadSpriteDef(25, 0, "b", 0, 0, -1, 0, "none");
  RegisterButton(25, "b");
  SetClickCallback([](const ButtonEvent&) { return true; });
  ShowTextLayer("sub");
  ResetStage();
  EXPECT_FALSE(sprIsValid(25));
  EXPECT_EQ(ButtonCount(), 0);
  EXPECT_FALSE(IsTextLayerShown("sub"));
  EXPECT_FALSE(FireClickEvent("rclick"));      // no callback
  EXPECT_TRUE(sprIsValid(kBackgroundSprite));  // the background stays
  CleanupGame();
}

TEST_F(StageTest, CleanupReleasesEverythingInOrder) {
  SystemFiles();
  engine.AddFile("cursor0.png", FakeEngine::PngFile(16, 16));
  engine.AddFile("cursor0.spr", "@sprite file=cursor0");
  InitGame(800, 600, false);
  SetupTitle();
  Picture("b", 50, 20);
  LoadSpriteDef(25, 0, "b", 0, 0, -1, 0, "none");
  RegisterButton(25, "b");
  ASSERT_TRUE(BeginChoice());
  engine.ClearCalls();
  const size_t boxes = engine.Messages().size();
  CleanupGame();
  EXPECT_FALSE(ChoiceActive());
  EXPECT_EQ(ButtonCount(), 0);
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot) EXPECT_FALSE(sprIsValid(slot)) << slot;
  for (int32_t i = 0; i < kTextLayerCount; ++i) EXPECT_STREQ(TextLayer(i).name, "") << i;
  EXPECT_EQ(FindWipe("fade"), nullptr);
  EXPECT_EQ(ImageCacheCount(), 0u);
  EXPECT_EQ(engine.LiveCount("sprite") + engine.LiveCount("image") + engine.LiveCount("dynamic image") +
                engine.LiveCount("wipe"),
            0);
  EXPECT_EQ(engine.Messages().size(), boxes);
  // The wipe masks go with the wipe table, after every sprite and picture.
  const std::vector<std::string> calls = CallsOf({"ovtsDestroy"});
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.back(), "ovtsDestroyWipe");
}

TEST_F(StageTest, CleanupBeforeAnythingExistsReportsNothing) {
  CleanupGame();  // nothing at all
  EXPECT_TRUE(engine.Messages().empty());
  // A start-up that stopped half-way: the engine settings made, no background yet.
  SetupEngine(800, 600, false);
  InitTimerEvents();
  sprInit();
  InitTextLayers();
  engine.ClearCalls();
  CleanupGame();
  EXPECT_TRUE(engine.Messages().empty());
  EXPECT_EQ(engine.LiveCount("sprite") + engine.LiveCount("image") + engine.LiveCount("dynamic image"), 0);
}

TEST_F(StageTest, WaitClickAtChecksTheSpriteAndWaitsAsAsked) {
  SystemFiles();
  InitGame(800, 600, false);
  SetupTitle();
  EXPECT_EQ(Stops([] { WaitClickAt(-3, 0, 0, 0, false); }),
            Report("scn/s.scn", 3, "スプライト -23 は有効ではありません。"));
  // Nothing to choose and choice only: no wait at all.
  const DWORD before = engine.Now();
  WaitClick(0);
  WaitClickAt(kPageCursorSprite, 0, 10, 10, true);
  EXPECT_EQ(engine.Now(), before);
  // Without choice only any click ends it; the cursor is shown meanwhile and hidden after.
  ResetStage();
  engine.ScriptMouse(before + 100, 0, 5, 5);
  bool shown_while_waiting = false;
  SetTimerRedraw(nullptr);
  AddTimerEvent([](uint32_t) {}, 0, 50);
  WaitClickAt(kPageCursorSprite, 0, 10, 20, false);
  for (const auto& frame : engine.Frames())
    if (Shows(frame, "sys/cursor_blank.png")) shown_while_waiting = true;
  EXPECT_TRUE(shown_while_waiting);
  EXPECT_FALSE(sprIsShown(kPageCursorSprite));
  EXPECT_GE(engine.Now(), before + 100);
  CleanupGame();
}

}  // namespace
}  // namespace orvane_test
