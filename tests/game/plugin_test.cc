// The plug-in entry points and the guards of start, in process against the fake engine.
#include "game/plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

using PluginTest = GameTest;

TEST_F(PluginTest, VersionInitAndExit) {
  EXPECT_EQ(ovGetVersion(), 256u);
  EXPECT_EQ(ovLoadInit(), 1);
  ovUnloadExit();
}

TEST_F(PluginTest, GetFunctionAnnouncesStartOnly) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(ovGetFunction(buffer, 5, 0), 5u);
  EXPECT_EQ(std::string(buffer, 8), "startxxx");  // size 5: no terminator, nothing beyond

  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(ovGetFunction(buffer, 8, 0), 5u);
  EXPECT_EQ(std::string(buffer, 8), std::string("start\0\0\0", 8));

  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(ovGetFunction(buffer, 3, 0), 5u);
  EXPECT_EQ(std::string(buffer, 8), "staxxxxx");

  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(ovGetFunction(buffer, 8, 1), 0u);
  EXPECT_EQ(std::string(buffer, 8), "xxxxxxxx");
  EXPECT_EQ(ovGetFunction(buffer, 8, 7), 0u);

  // The loader first asks for the length with no buffer.
  EXPECT_EQ(ovGetFunction(nullptr, 0, 0), 5u);
  EXPECT_EQ(ovGetFunction(nullptr, 256, 0), 5u);
  EXPECT_EQ(ovGetFunction(nullptr, 0, 1), 0u);
}

TEST_F(PluginTest, UnloadWithoutLoadAndUnloadablePaths) {
  ovUnloadSystem();
  EXPECT_EQ(ovLoadSystem("/nonexistent/engine"), 0);
  EXPECT_EQ(ovLoadSystem("/nonexistent/engine"), 0);  // the handle stayed empty: it tries again
  ovUnloadSystem();
}

int g_entries = 0;
int32_t g_inner_start = -1;

TEST_F(PluginTest, StartReturnsOneOnEveryWayOut) {
  const struct {
    const char* name;
    void (*entry)();
    const char* box;  // the warning shown, or null
  } ways[] = {
      {"normal end", [] { ++g_entries; }, nullptr},
      {"game exception", [] { ++g_entries, ThrowGameExit(); }, nullptr},
      {"fatal error", [] { ++g_entries, FatalError("bad"); }, "bad"},
      {"out of memory", [] { ++g_entries, throw std::bad_alloc(); }, "メモリが不足しています。\n"},
      {"something else", [] { ++g_entries, throw std::runtime_error("x"); },
       "ゲームの内部で予期しないエラーが起きました。\n"},
      {"something odd", [] { ++g_entries, throw 42; }, "ゲームの内部で予期しないエラーが起きました。\n"},
  };
  for (const auto& way : ways) {
    g_entries = 0;
    const size_t before = engine.Messages().size();
    EXPECT_EQ(RunGameGuarded(way.entry), 1) << way.name;
    EXPECT_EQ(g_entries, 1) << way.name;
    if (way.box) {
      ASSERT_EQ(engine.Messages().size(), before + 1) << way.name;
      EXPECT_EQ(engine.Messages().back().text, way.box) << way.name;
    } else {
      EXPECT_EQ(engine.Messages().size(), before) << way.name;
    }
  }
}

TEST_F(PluginTest, StartReenteredReturnsAtOnce) {
  g_entries = 0;
  EXPECT_EQ(RunGameGuarded([] {
              ++g_entries;
              g_inner_start = start(0);  // a close handler calling start again
              EXPECT_EQ(g_entries, 1);
            }),
            1);
  EXPECT_EQ(g_inner_start, 1);
  EXPECT_EQ(g_entries, 1);
  // After the game ended it can run again.
  EXPECT_EQ(RunGameGuarded([] { ++g_entries; }), 1);
  EXPECT_EQ(g_entries, 2);
}

void* LookUpAllButTheLast(void* context, const char* name) {
  if (std::strcmp(name, "ovSendNetString") == 0) return nullptr;
  return FakeEngine::Lookup(context, name);
}

TEST_F(PluginTest, StartPartlyBoundReturnsAtOnce) {
  EXPECT_FALSE(BindEngineApi(&LookUpAllButTheLast, nullptr));
  EXPECT_FALSE(EngineApiBound());
  EXPECT_NE(g_engine.ovSendNetFloat, nullptr);  // the 278 names before the missing one are bound
  g_entries = 0;
  EXPECT_EQ(RunGameGuarded([] { ++g_entries; }), 1);
  EXPECT_EQ(start(0), 1);
  EXPECT_EQ(g_entries, 0);
  EXPECT_TRUE(engine.Calls().empty());
}

TEST_F(PluginTest, EachStartResetsTheGameGlobals) {
  SetChapterFolder("scn/old");
  Handlers().sprRender = [] {};
  DScenario stale;
  CurrentScenarioScope scope(&stale);
  EXPECT_EQ(RunGameGuarded([] {
              EXPECT_STREQ(ChapterFolder(), "");
              EXPECT_EQ(Handlers().sprRender, BuiltGameHandlers().sprRender);
              EXPECT_EQ(CurrentScenario(), nullptr);
              SetChapterFolder("scn/maid");
            }),
            1);
  EXPECT_STREQ(ChapterFolder(), "");
}

std::string g_data_file;

TEST_F(PluginTest, StartMountsTheDataArchiveWhenThereIsOne) {
  // The game itself stops early here (its files are missing); only its first step counts.
  EXPECT_EQ(start(0), 1);
  ASSERT_GE(engine.Calls().size(), 2u);
  EXPECT_EQ(engine.Calls()[0], "ovIsFileExist");
  EXPECT_EQ(engine.Calls()[1], "ovSetTitle(Tale Frame)");

  engine.ClearCalls();
  engine.AddFile("derora.dat", "");
  engine.Exports().ovSetDataFile = [](const char* path) noexcept {
    g_data_file = path;
    return 1;
  };
  ASSERT_TRUE(BindEngineApi(&FakeEngine::Lookup, nullptr));
  EXPECT_EQ(start(0), 1);
  ASSERT_GE(engine.Calls().size(), 2u);
  EXPECT_EQ(engine.Calls()[0], "ovIsFileExist");
  EXPECT_EQ(engine.Calls()[1], "ovSetTitle(Tale Frame)");  // ovSetDataFile is this test's own
  EXPECT_EQ(g_data_file, "derora.dat");
}

}  // namespace
}  // namespace orvane_test
