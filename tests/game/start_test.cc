// The whole game on the fake engine: start's flows through the title menu, the chapter
// selection, the chapters and their closing scenes, the clear count in the save file, and every
// way out of the game.
#include "game/start.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "game/court.h"
#include "game/plugin.h"
#include "game/save.h"
#include "game/stage.h"
#include "tests/game/game_fixture.h"
#include "tests/support/scratch_dir.h"

namespace orvane_test {
namespace {

std::vector<std::string> g_opened;  // scenario files opened, in order

ApiHandle* RecordingCreateFile(const char* path, int32_t mode) noexcept {
  const std::string p = path ? path : "";
  if (p.size() > 4 && p.compare(p.size() - 4, 4, ".scn") == 0) g_opened.push_back(p);
  return FakeEngine::Current()->CreateFile(path, mode);
}

// Button centres on the title.
struct Point {
  int32_t x, y;
};
constexpr Point kBeginNoSave{400, 430}, kExitNoSave{400, 500};
constexpr Point kBeginSaved{400, 400}, kLoadSaved{400, 465}, kExitSaved{400, 530};

class StartTest : public GameTest {
 protected:
  StartTest() : save_dir_("start_test") {
    SetSaveFolderForTests(save_dir_.Dir().c_str());
    g_opened.clear();
    engine.Exports().ovCreateFile = &RecordingCreateFile;
    EXPECT_TRUE(BindEngineApi(&FakeEngine::Lookup, nullptr));
    GameFiles();
  }
  ~StartTest() override { SetSaveFolderForTests(nullptr); }

  // A file of the game: on disk, or a member of the data archive when the test mounts one.
  void File(const std::string& path, const std::string& bytes) {
    if (archive_)
      engine.AddArchiveFile(path, bytes);
    else
      engine.AddFile(path, bytes);
  }
  void Picture(const std::string& name, int32_t w, int32_t h, const std::string& style = "") {
    const std::string base = name.substr(name.rfind('/') + 1);
    File(name + ".spr", "@sprite file=" + base + (style.empty() ? "" : " style=\"" + style + "\""));
    File(name + ".png", FakeEngine::PngFile(w, h));
  }
  void GameFiles(const std::string& button_style = "center middle") {
    Picture("sys/logo", 200, 100, "center middle");
    Picture("sys/cursor_blank", 8, 8);
    File("sys/wipe_bg.png", FakeEngine::PngFile(800, 600));
    Picture("sys/title_bg", 800, 600);
    Picture("sys/bg_select", 800, 600);
    for (const char* b : {"sys/title_begin", "sys/title_load", "sys/title_exit"})
      Picture(b, 200, 40, button_style);
    File("sys/se/文字クリック.wav", "RIFF");
    for (int n = 0; n < 3; ++n) Scenario("scn/menu/select" + std::to_string(n), "@exit rescode=x");
  }
  void Scenario(const std::string& name, const std::string& text) { File(name + ".scn", text); }
  void Save(const std::string& text) { save_dir_.Write("derora.sav", text); }
  std::string SaveText() const { return save_dir_.Read("derora.sav"); }

  // Scripted clicks, 10 s apart, from the start of the clock.
  void Clicks(const std::vector<Point>& points) {
    DWORD t = FakeEngine::kClockStart;
    for (const Point& p : points) engine.ScriptMouse(t += 10000, 0, p.x, p.y);
  }
  // start, which always answers 1 and leaves no engine object alive.
  void Run() {
    EXPECT_EQ(start(0), 1);
    for (const char* kind : {"sprite", "image", "dynamic image", "wipe", "sound", "stream", "file", "char"})
      EXPECT_EQ(engine.LiveCount(kind), 0) << kind;
  }
  int ClickSounds() const { return engine.CountCalls("ovPlaySound(sys/se/文字クリック.wav"); }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : engine.Messages()) texts.push_back(m.text);
    return texts;
  }
  // Frames that show the picture.
  std::vector<const FakeEngine::Frame*> FramesShowing(const std::string& image) const {
    std::vector<const FakeEngine::Frame*> out;
    for (const auto& frame : engine.Frames())
      for (const auto& s : frame.sprites)
        if (s.image_name == image) {
          out.push_back(&frame);
          break;
        }
    return out;
  }

  ScratchDir save_dir_;
  bool archive_ = false;
};

TEST_F(StartTest, ClearCountChoosesTheSelectionLabel) {
  const struct {
    const char* save;
    const char* entered;
  } cases[] = {
      {nullptr, "scn/menu/select0.scn"},
      {"[save]\nclear=0\n", "scn/menu/select0.scn"},
      {"[save]\nclear=1\n", "scn/menu/select1.scn"},
      {"[save]\nclear=7\n", "scn/menu/select2.scn"},
      {"[save]\nclear=-1\n", "scn/menu/select0.scn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.save ? c.save : "no save");
    if (c.save) Save(c.save);
    engine.SetClock(FakeEngine::kClockStart);
    g_opened.clear();
    Clicks({kBeginNoSave, kExitNoSave});
    Run();
    EXPECT_EQ(g_opened, std::vector<std::string>{c.entered});
    EXPECT_TRUE(engine.Messages().empty());
  }
}

TEST_F(StartTest, MenuResultChoosesTheChapter) {
  const struct {
    const char* result;
    const char* chapter;  // the chapter file played, or null
  } cases[] = {
      {"0", "scn/maid/start.scn"},
      {"2", "scn/tabako/start.scn"},
      {"3", nullptr},
      {" 0", nullptr},
      {"x", nullptr},
  };
  for (const char* folder : {"scn/maid", "scn/kigae", "scn/tabako"})
    Scenario(std::string(folder) + "/start", "@exit rescode=none");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    Scenario("scn/menu/select0", std::string("@exit rescode=\"") + c.result + "\"");
    engine.SetClock(FakeEngine::kClockStart);
    g_opened.clear();
    Clicks({kBeginNoSave, kExitNoSave});
    Run();
    std::vector<std::string> expected{"scn/menu/select0.scn"};
    if (c.chapter) expected.push_back(c.chapter);
    EXPECT_EQ(g_opened, expected);
    EXPECT_TRUE(engine.Messages().empty());
  }
}

TEST_F(StartTest, ChapterResultWritesTheCountAndPlaysTheClosingScene) {
  const struct {
    const char* result;
    const char* stored;   // "clear" before, or null
    const char* closing;  // the closing scene's file, or null
    const char* written;  // "clear" after, or null when absent
  } cases[] = {
      {"clear1", nullptr, "scn/menu/clear1.scn", "2"},
      {"CLEAR1", nullptr, "scn/menu/clear1.scn", "2"},
      {"clear1", "5", "scn/menu/clear1.scn", "5"},  // only a larger count is written
      {"clear", nullptr, "scn/menu/clear0.scn", "1"},
      {"clear2147483647", nullptr, "scn/menu/clear2147483647.scn", "2147483647"},
      {"gameover", nullptr, "scn/menu/gameover.scn", nullptr},
      {"GAMEOVER", nullptr, "scn/menu/gameover.scn", nullptr},
      {"gameover2", nullptr, nullptr, nullptr},
      {"sys_exit", nullptr, nullptr, nullptr},
  };
  for (const char* closing : {"clear0", "clear1", "clear2147483647", "gameover"})
    Scenario(std::string("scn/menu/") + closing, "; the closing scene");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    Save(c.stored ? std::string("[save]\nclear=") + c.stored + "\n" : "");
    const std::string select = c.stored ? "scn/menu/select2" : "scn/menu/select0";
    Scenario(select, "@exit rescode=0");
    Scenario("scn/maid/start", std::string("@exit rescode=") + c.result);
    engine.SetClock(FakeEngine::kClockStart);
    g_opened.clear();
    Clicks({kBeginNoSave, kExitNoSave});
    Run();
    std::vector<std::string> expected{select + ".scn", "scn/maid/start.scn"};
    if (c.closing) expected.push_back(c.closing);
    EXPECT_EQ(g_opened, expected);
    const std::string text = SaveText();
    if (c.written) {
      const size_t at = text.find(std::string("clear=") + c.written);
      ASSERT_NE(at, std::string::npos) << text;
      EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(text[at + 6 + std::strlen(c.written)]))) << text;
    } else
      EXPECT_EQ(text.find("clear="), std::string::npos) << text;
    EXPECT_EQ(ReadClearCount(), c.written ? std::stoi(c.written) : 0);
    EXPECT_TRUE(engine.Messages().empty());
  }
}

TEST_F(StartTest, TitleShowsItsButtonsAndPlaysTheClickAfterEachChoice) {
  const struct {
    const char* name;
    const char* save;
    std::vector<Point> buttons;  // centres of begin, [load,] exit
    std::vector<Point> clicks;
    int choices;
  } cases[] = {
      {"no save", nullptr, {kBeginNoSave, kExitNoSave}, {kLoadSaved, kBeginNoSave, kExitNoSave}, 2},
      {"save",
       "[save]\npt_scn=scn/kigae\npt_target=\n",
       {kBeginSaved, kLoadSaved, kExitSaved},
       {kBeginSaved, kLoadSaved, kExitSaved},
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Save(c.save ? c.save : "");
    engine.SetClock(FakeEngine::kClockStart);
    const size_t first_frame = engine.Frames().size();
    const int sounds = ClickSounds();
    Clicks(c.clicks);
    Run();
    EXPECT_EQ(ClickSounds() - sounds, c.choices);
    // The last frame of the first title wait: the background and the buttons at their centres.
    const FakeEngine::Frame* title = nullptr;
    for (size_t i = first_frame; i < engine.Frames().size(); ++i) {
      if (engine.Frames()[i].time >= FakeEngine::kClockStart + 10000) break;
      title = &engine.Frames()[i];
    }
    ASSERT_NE(title, nullptr);
    std::vector<std::string> images;
    std::vector<Point> centres;
    for (const auto& s : title->sprites) {
      images.push_back(s.image_name);
      if (s.image_name.rfind("sys/title_", 0) == 0 && s.image_name != "sys/title_bg.png")
        centres.push_back({s.x + s.w / 2, s.y + s.h / 2});
    }
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images[0], "sys/title_bg.png");
    ASSERT_EQ(centres.size(), c.buttons.size());
    for (const Point& want : c.buttons) {
      bool found = false;
      for (const Point& got : centres) found = found || (got.x == want.x && got.y == want.y);
      EXPECT_TRUE(found) << want.x << "," << want.y;
    }
    EXPECT_TRUE(engine.Messages().empty());
  }
  // Begin leads to the selection background; exit leaves on black.
  EXPECT_FALSE(FramesShowing("sys/bg_select.png").empty());
  ASSERT_FALSE(engine.Frames().empty());
  const auto& last = engine.Frames().back();
  ASSERT_EQ(last.sprites.size(), 1u);
  EXPECT_EQ(last.sprites[0].image_name, "");
  EXPECT_EQ(last.sprites[0].w, 800);
}

TEST_F(StartTest, LoadPlaysFromTheSave) {
  Scenario("scn/kigae/resume", "@exit rescode=bad\n:here\n@exit rescode=clear1");
  Scenario("scn/menu/clear1", "");
  const struct {
    const char* name;
    const char* save;
    std::vector<Point> clicks;
    std::vector<std::string> opened;
  } cases[] = {
      {"from the target",
       "[save]\npt_scn=scn/kigae\npt_target=resume:here\n",
       {kLoadSaved, kExitSaved},
       {"scn/kigae/resume.scn", "scn/menu/clear1.scn"}},
      {"empty target", "[save]\npt_scn=scn/kigae\npt_target=\n", {kLoadSaved, kExitSaved}, {}},
      // Without pt_scn there is no load button: the click between the two buttons does nothing.
      {"no save", "[save]\npt_target=resume:here\n", {kLoadSaved, kExitNoSave}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Save(c.save);
    engine.SetClock(FakeEngine::kClockStart);
    g_opened.clear();
    const int sounds = ClickSounds();
    Clicks(c.clicks);
    Run();
    EXPECT_EQ(g_opened, c.opened);
    EXPECT_EQ(ClickSounds() - sounds, 2 - static_cast<int>(std::string(c.name) == "no save"));
    EXPECT_TRUE(engine.Messages().empty());
  }
  EXPECT_EQ(ReadClearCount(), 0);  // the last case's save has no count
}

TEST_F(StartTest, DataArchiveWhenPresent) {
  for (bool present : {false, true}) {
    SCOPED_TRACE(present ? "archive" : "disk");
    if (present) {
      engine.AddFile("derora.dat", "archive");
      archive_ = true;
      GameFiles();
    }
    engine.SetClock(FakeEngine::kClockStart);
    engine.ClearCalls();
    g_opened.clear();
    Clicks({kBeginNoSave, kExitNoSave});
    Run();
    EXPECT_EQ(engine.ArchiveMounted(), present);
    EXPECT_EQ(engine.CountCalls("ovSetDataFile(derora.dat)"), present ? 1 : 0);
    EXPECT_EQ(g_opened, std::vector<std::string>{"scn/menu/select0.scn"});
    EXPECT_TRUE(engine.Messages().empty());
  }
}

int g_throw_at = 0;  // the sprDestroy call that throws (0: none)
int g_destroys = 0;
void (*g_thrown)() = nullptr;
void ThrowingRemoveButtons(int32_t slot) {
  if (++g_destroys == g_throw_at) g_thrown();
  RemoveSpriteButtons(slot);
}

TEST_F(StartTest, EveryWayOutCleansUpOnceAndReturnsOne) {
  // The time of a frame in the middle of the title background's fade.
  engine.SetClock(FakeEngine::kClockStart);
  Clicks({kExitNoSave});
  Run();
  DWORD mid_fade = 0;
  for (const auto* frame : FramesShowing("sys/title_bg.png"))
    for (const auto& s : frame->sprites)
      if (s.image_name == "sys/title_bg.png" && s.alpha[3] > 0.3f && s.alpha[3] < 0.7f && !mid_fade)
        mid_fade = frame->time;
  ASSERT_NE(mid_fade, 0u);

  const std::string kNoMemory = "メモリが不足しています。\n";
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::vector<Point> clicks;
    const char* box;  // the one box shown, or null
  };
  const Case cases[] = {
      {"title exit", [] {}, {kExitNoSave}, nullptr},
      {"close during the logo", [this] { engine.SetExitAt(FakeEngine::kClockStart + 500); }, {}, nullptr},
      {"close mid-transition", [&] { engine.SetExitAt(mid_fade); }, {}, nullptr},
      {"close at a title with hidden buttons",
       [this] {
         GameFiles("center middle hide");
         engine.SetExitAt(FakeEngine::kClockStart + 20000);
       },
       {kBeginNoSave},
       nullptr},
      {"close in a play",
       [this] {
         Scenario("scn/menu/select0", "[np]");
         engine.SetExitAt(FakeEngine::kClockStart + 20000);
       },
       {kBeginNoSave},
       nullptr},
      {"script error",
       [this] { Scenario("scn/menu/select0", "@nosuchcommand"); },
       {kBeginNoSave},
       "ファイル \"scn/menu/select0.scn\"\n行数 1\n\n"},
      {"out of memory",
       [] {
         g_throw_at = 1;
         g_thrown = [] { throw std::bad_alloc(); };
       },
       {},
       "メモリが不足しています。\n"},
      {"another exception",
       [] {
         g_throw_at = 1;
         g_thrown = [] { throw std::runtime_error("x"); };
       },
       {},
       "ゲームの内部で予期しないエラーが起きました。\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GameFiles();
    Scenario("scn/menu/select0", "@exit rescode=x");
    engine.SetExit(false);
    engine.SetClock(FakeEngine::kClockStart);
    const size_t boxes = engine.Messages().size();
    g_throw_at = 0;
    g_destroys = 0;
    c.arrange();
    SpriteTableHooks().remove_buttons = &ThrowingRemoveButtons;
    Clicks(c.clicks);
    Run();
    SpriteTableHooks().remove_buttons = &RemoveSpriteButtons;
    engine.SetExit(false);
    if (c.box) {
      ASSERT_EQ(engine.Messages().size(), boxes + 1);
      const auto& box = engine.Messages().back();
      EXPECT_EQ(box.text.rfind(c.box, 0), 0u) << box.text;
      EXPECT_EQ(box.caption, "Tale Frame");
      EXPECT_EQ(box.flag, 0);
    } else {
      EXPECT_EQ(engine.Messages().size(), boxes)
          << (engine.Messages().empty() ? "" : engine.Messages().back().text);
    }
    // Nothing of the game is left behind.
    EXPECT_EQ(ButtonCount(), 0);
    EXPECT_FALSE(ChoiceActive());
    for (int32_t slot = 0; slot < kSpriteSlots; ++slot) EXPECT_FALSE(sprIsValid(slot)) << slot;
    EXPECT_EQ(FindWipe("fade"), nullptr);
    EXPECT_EQ(ImageCacheCount() + SoundCacheCount(), 0u);
    for (int32_t i = 0; i < kTextLayerCount; ++i) EXPECT_STREQ(TextLayer(i).name, "");
    EXPECT_EQ(CurrentBgmStream(), nullptr);
  }
}

TEST_F(StartTest, StartTwicePlaysTheSameGame) {
  Scenario("scn/menu/select0", "@exit rescode=0");
  Scenario("scn/maid/start", "@exit rescode=gameover");
  Scenario("scn/menu/gameover", "");
  std::vector<std::string> calls[2];
  std::vector<std::string> opened[2];
  for (int run = 0; run < 2; ++run) {
    engine.SetClock(FakeEngine::kClockStart);
    engine.ClearCalls();
    g_opened.clear();
    Clicks({kBeginNoSave, kExitNoSave});
    Run();
    calls[run] = engine.Calls();
    opened[run] = g_opened;
  }
  EXPECT_EQ(opened[0], (std::vector<std::string>{"scn/menu/select0.scn", "scn/maid/start.scn",
                                                 "scn/menu/gameover.scn"}));
  EXPECT_EQ(opened[1], opened[0]);
  EXPECT_EQ(calls[1], calls[0]);
  EXPECT_TRUE(engine.Messages().empty());
}

TEST_F(StartTest, ResultCopyKeepsItsTerminator) {
  Scenario("scn/menu/long", "@exit rescode=abcdefgh");
  Scenario("scn/menu/wide", "@exit rescode=abあい");
  SetTimerRedraw(&sprRender);
  const struct {
    const char* target;
    size_t capacity;
    const char* copied;
  } cases[] = {
      {"long:", 256, "abcdefgh"}, {"long:", 9, "abcdefgh"}, {"long:", 8, "abcdefg"},
      {"long:", 1, ""},           {"wide:", 5, "abあ"},     {"wide:", 4, "ab"},
  };
  Picture("sys/cursor_blank", 8, 8);
  sprInit();
  InitTextLayers();
  CreateTextLayer("sub");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " " + std::to_string(c.capacity));
    char buffer[300];
    std::memset(buffer, 'z', sizeof(buffer));
    StartPlay("scn/menu", c.target, false, buffer, c.capacity);
    EXPECT_STREQ(buffer, c.copied);
    EXPECT_EQ(buffer[c.capacity], 'z');  // nothing written past the capacity
  }
  char untouched = 'z';
  StartPlay("scn/menu", "long:", false, &untouched, 0);
  EXPECT_EQ(untouched, 'z');
  StartPlay("scn/menu", "long:", false, nullptr, 16);
  ReleaseItemTable();
}

TEST(ClearCountTest, NextCountHoldsAtTheMaximum) {
  EXPECT_EQ(NextClearCount(0), 1);
  EXPECT_EQ(NextClearCount(-5), -4);
  EXPECT_EQ(NextClearCount(2147483646), 2147483647);
  EXPECT_EQ(NextClearCount(2147483647), 2147483647);
}

TEST(TitleClickTest, ButtonsByNameInAnyCase) {
  const struct {
    int32_t type;
    const char* name;
    bool taken;
    int32_t choice;
  } cases[] = {
      {kEventButton, "begin", true, kTitleBegin},
      {kEventButton, "LOAD", true, kTitleLoad},
      {kEventButton, "Exit", true, kTitleExit},
      {kEventButton, "exit2", false, 0},
      {kEventLink, "begin", false, 0},
      {kEventRightClick, "rclick", false, 0},
      {kEventButton, "", false, 0},
  };
  for (const auto& c : cases) {
    const int32_t before = TitleChoice();
    EXPECT_EQ(TitleClick(ButtonEvent{c.type, c.name}), c.taken) << c.name;
    EXPECT_EQ(TitleChoice(), c.taken ? c.choice : before) << c.name;
  }
}

}  // namespace
}  // namespace orvane_test
